// Records the pictures of a running session on a thread of its own, so that the window thread
// never waits for the disk: frames are queued here and written in their order, each stamped
// with its arrival time after the first frame's.
#pragma once

#include "CRecordingWriter.h"

#include <QByteArray>
#include <QObject>
#include <QString>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>

class CFrameRecorder : public QObject
{
    Q_OBJECT
public:
    // Frames waiting for a slow disk beyond this are dropped (and counted).
    static constexpr int kMaxQueued = 32;

    // `writer` is open; from here on only the recorder's thread uses it.
    explicit CFrameRecorder(std::unique_ptr<CRecordingWriter> writer, QObject *parent = nullptr);
    ~CFrameRecorder() override;

    void Add(const QByteArray &jpeg, std::chrono::steady_clock::time_point arrived);
    // Writes what is queued and the end of the file, and ends the thread. False, with the
    // reason, when the recording had failed or its end could not be written.
    bool Finish(QString *error = nullptr);

    // Frames are still taken (neither finished nor stopped by a failure).
    bool IsRunning() const { return !m_finished && !m_failed; }
    int Frames() const { return m_frames; }
    qint64 Bytes() const { return m_bytes; }
    int Dropped() const { return m_dropped; }
    QString FileName() const { return m_fileName; }

signals:
    // The recording stopped by itself (a full disk, a write error); emitted on the recorder's
    // thread, once. Nothing more is written; Finish still has to be called.
    void stopped(const QString &reason);

private:
    struct Queued
    {
        QByteArray jpeg;
        qint64 ms;
    };
    void Run();

    std::unique_ptr<CRecordingWriter> m_writer;
    QString m_fileName;
    std::thread m_thread;
    std::mutex m_lock;
    std::condition_variable m_wake;
    std::deque<Queued> m_queue;
    bool m_stop = false;
    bool m_haveOrigin = false;
    std::chrono::steady_clock::time_point m_origin;
    std::atomic<bool> m_failed{false};
    bool m_finished = false;
    std::atomic<int> m_frames{0};
    std::atomic<qint64> m_bytes{0};
    std::atomic<int> m_dropped{0};
    QString m_failure; // under m_lock
};
