#include "CFrameRecorder.h"

CFrameRecorder::CFrameRecorder(std::unique_ptr<CRecordingWriter> writer, QObject *parent)
    : QObject(parent), m_writer(std::move(writer))
{
    m_fileName = m_writer ? m_writer->FileName() : QString();
    if (!m_writer || !m_writer->IsOpen()) {
        m_failed = true;
        return;
    }
    m_thread = std::thread([this] { Run(); });
}

CFrameRecorder::~CFrameRecorder()
{
    Finish();
}

void CFrameRecorder::Add(const QByteArray &jpeg, std::chrono::steady_clock::time_point arrived)
{
    if (!IsRunning())
        return;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        if (!m_haveOrigin) {
            m_haveOrigin = true;
            m_origin = arrived;
        }
        if (int(m_queue.size()) >= kMaxQueued) {
            ++m_dropped;
            return;
        }
        const auto ms =
            std::chrono::duration_cast<std::chrono::milliseconds>(arrived - m_origin).count();
        m_queue.push_back({jpeg, qint64(ms)});
    }
    m_wake.notify_one();
}

void CFrameRecorder::Run()
{
    std::unique_lock<std::mutex> guard(m_lock);
    for (;;) {
        m_wake.wait(guard, [this] { return m_stop || !m_queue.empty(); });
        if (m_queue.empty())
            return; // told to stop, and everything queued is written
        Queued frame = std::move(m_queue.front());
        m_queue.pop_front();
        guard.unlock();
        const CRecordingWriter::Result result = m_writer->WriteFrame(frame.jpeg, frame.ms);
        m_frames = m_writer->Frames();
        m_bytes = m_writer->Bytes();
        guard.lock();
        if (result == CRecordingWriter::Result::LowSpace ||
            result == CRecordingWriter::Result::WriteFailed) {
            m_failure = m_writer->Error();
            m_failed = true;
            m_queue.clear();
            const QString reason = m_failure;
            guard.unlock();
            emit stopped(reason);
            return;
        }
    }
}

bool CFrameRecorder::Finish(QString *error)
{
    if (m_finished)
        return m_failure.isEmpty();
    m_finished = true;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_stop = true;
    }
    m_wake.notify_all();
    if (m_thread.joinable())
        m_thread.join();
    bool ok = true;
    if (m_writer) {
        // Once the thread has ended the writer is this thread's.
        const bool closed = m_writer->Close();
        m_frames = m_writer->Frames();
        m_bytes = m_writer->Bytes();
        if (!closed && m_failure.isEmpty())
            m_failure = m_writer->Error();
        ok = closed && m_failure.isEmpty();
    } else {
        ok = false;
    }
    if (error)
        *error = m_failure;
    return ok;
}
