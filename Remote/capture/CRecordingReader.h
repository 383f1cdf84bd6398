// Reads a recording back, frame by frame, for replay: only Matroska files with a Motion-JPEG
// track are taken, and only frames that are JPEG pictures are handed out. Whatever a file
// holds, reading it never crashes and never runs away: a foreign file is refused at Open with
// the reason, a damaged one plays up to the damage, timestamps that go backwards are held at
// the previous frame's time. Used by one thread at a time.
#pragma once

#include "RecordingFormat.h"

#include <QByteArray>
#include <QIODevice>
#include <QString>

#include <memory>

namespace capture {

// The operator's words for a recording that cannot be replayed: "Cannot replay <name>: <why>".
QString CannotReplay(const QString &fileName, const QString &reason);

} // namespace capture

struct RecordedFrame
{
    QByteArray jpeg; // the instrument's bytes, as recorded
    qint64 ms = 0;   // after the first frame; never less than the previous frame's
    int index = 0;   // 0 for the first frame handed out, then 1, 2, ...
};

class CRecordingReader
{
public:
    enum class Step
    {
        Frame,
        End,     // no more frames
        Damaged, // the rest of the file cannot be read (Error() says so)
    };

    CRecordingReader();
    ~CRecordingReader();
    CRecordingReader(const CRecordingReader &) = delete;
    CRecordingReader &operator=(const CRecordingReader &) = delete;

    // False, with the reason in Error() (a phrase such as "it is not a Matroska file"), for
    // anything that is not a recording whose first frame is a JPEG picture.
    bool Open(const QString &path);
    bool Open(std::unique_ptr<QIODevice> device);
    const capture::RecordingInfo &Info() const { return m_info; }

    Step Next(RecordedFrame &frame);
    // Frames left out so far because they were no JPEG pictures.
    int Skipped() const { return m_skipped; }
    QString Error() const { return m_error; }

private:
    struct Av;
    bool Refuse(const QString &reason);
    // The next frame of the track from the file, JPEG or not; false at its end.
    Step ReadPacket(QByteArray &bytes, qint64 &rawMs, bool &timed);
    qint64 PlaceInTime(qint64 rawMs, bool timed);

    std::unique_ptr<QIODevice> m_device;
    std::unique_ptr<Av> m_av;
    capture::RecordingInfo m_info;
    QString m_error;
    bool m_hasPending = false;
    RecordedFrame m_pending; // the first frame, read by Open
    int m_nextIndex = 0;
    int m_skipped = 0;
    bool m_haveOrigin = false;
    qint64 m_originMs = 0;
    qint64 m_lastMs = 0;
};
