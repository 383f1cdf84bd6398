// Writes a recording: the instrument's JPEG frames unchanged into a Matroska file with one
// Motion-JPEG track, through FFmpeg's libavformat. Every frame is pushed through to the
// operating system before WriteFrame returns, so that a process killed mid-recording leaves a
// file that plays up to its last frame. Used by one thread at a time.
#pragma once

#include "RecordingFormat.h"

#include <QByteArray>
#include <QIODevice>
#include <QString>

#include <functional>
#include <memory>

class CRecordingWriter
{
public:
    enum class Result
    {
        Ok,
        NotJpeg,     // the frame was not written; the recording goes on
        LowSpace,    // less than kMinFreeBytes free: nothing written, the recording must stop
        WriteFailed, // the file could not be written (Error() says why): it must stop
        NotOpen,
    };

    CRecordingWriter();
    ~CRecordingWriter();
    CRecordingWriter(const CRecordingWriter &) = delete;
    CRecordingWriter &operator=(const CRecordingWriter &) = delete;

    // Takes an open, writable, seekable device (normally a new file). The container header,
    // with the family and model tags, goes out with the first frame, whose size sets the
    // track's picture size.
    void Open(std::unique_ptr<QIODevice> device, const capture::RecordingInfo &tags);
    bool IsOpen() const;

    // Free bytes where the recording is written; by default the file system of the file's
    // folder is asked (devices that are not files are not checked).
    void SetFreeSpaceProbe(std::function<qint64()> probe);

    // One frame at `ms` milliseconds after the first; a time not after the previous frame's
    // is moved to just after it, so that the file's timestamps always increase.
    Result WriteFrame(const QByteArray &jpeg, qint64 ms);

    // Writes the index and closes the file. A recording that never got a frame leaves no file
    // behind. False, with Error(), when the end of the file could not be written (the frames
    // written before stay playable).
    bool Close();

    int Frames() const;
    qint64 Bytes() const;
    // The file's name, when the device is a file.
    QString FileName() const;
    QString Error() const;

private:
    struct Av;
    Result Fail(const QString &error);
    bool StartFile(int width, int height);
    bool PushOut(bool frame);

    std::unique_ptr<QIODevice> m_device;
    std::unique_ptr<Av> m_av;
    capture::RecordingInfo m_tags;
    std::function<qint64()> m_freeSpace;
    bool m_open = false;
    bool m_failed = false;
    int m_frames = 0;
    qint64 m_lastMs = 0;
    qint64 m_bytes = 0;
    QString m_error;
};
