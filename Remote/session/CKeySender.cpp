#include "CKeySender.h"

CKeySender::CKeySender(SendFn send, FailureFn onFailure)
    : m_send(std::move(send)), m_onFailure(std::move(onFailure))
{
    m_thread = std::thread([this] { Run(); });
}

CKeySender::~CKeySender()
{
    Stop();
}

bool CKeySender::Post(std::string text, int spacingMs)
{
    {
        std::lock_guard<std::mutex> guard(m_lock);
        if (m_stop || m_queue.size() >= kMaxQueued)
            return false;
        m_queue.push_back({std::move(text), spacingMs});
    }
    m_wake.notify_one();
    return true;
}

int CKeySender::Clear()
{
    std::lock_guard<std::mutex> guard(m_lock);
    const int dropped = static_cast<int>(m_queue.size());
    m_queue.clear();
    if (!m_busy)
        m_idle.notify_all();
    return dropped;
}

bool CKeySender::Drain(std::chrono::milliseconds timeout)
{
    std::unique_lock<std::mutex> guard(m_lock);
    return m_idle.wait_for(guard, timeout, [this] { return m_queue.empty() && !m_busy; });
}

void CKeySender::Stop()
{
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_stop = true;
        m_queue.clear();
    }
    m_wake.notify_all();
    if (m_thread.joinable())
        m_thread.join();
}

void CKeySender::Run()
{
    std::unique_lock<std::mutex> guard(m_lock);
    for (;;) {
        m_wake.wait(guard, [this] { return m_stop || !m_queue.empty(); });
        if (m_stop)
            break;
        const int spacing = m_queue.front().spacingMs;
        if (spacing > 0 && m_lastSend != std::chrono::steady_clock::time_point{}) {
            const auto due = m_lastSend + std::chrono::milliseconds(spacing);
            // Stop wakes this wait; a Clear leaves nothing to send once it is over.
            if (m_wake.wait_until(guard, due, [this] { return m_stop; }))
                break;
            if (m_queue.empty())
                continue;
        }
        Item item = std::move(m_queue.front());
        m_queue.pop_front();
        m_busy = true;
        guard.unlock();
        const bool sent = m_send(item.text);
        if (!sent && m_onFailure)
            m_onFailure(item.text);
        guard.lock();
        m_lastSend = std::chrono::steady_clock::now();
        m_busy = false;
        if (m_queue.empty())
            m_idle.notify_all();
    }
    m_busy = false;
    m_idle.notify_all();
}
