// Sends key-command texts on a thread of its own, in the order they were issued, keeping a
// minimum spacing between consecutive sends so the window thread never waits for the link.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

class CKeySender
{
public:
    // `send` returns false when the text did not leave; `onFailure` is then called with it.
    // Both run on the sender's thread.
    using SendFn = std::function<bool(const std::string &text)>;
    using FailureFn = std::function<void(const std::string &text)>;

    CKeySender(SendFn send, FailureFn onFailure);
    ~CKeySender();
    CKeySender(const CKeySender &) = delete;
    CKeySender &operator=(const CKeySender &) = delete;

    // At most this many texts wait to leave; a key beyond them is refused, never dropped later.
    static constexpr std::size_t kMaxQueued = 256;

    // Queues one text; false (nothing queued) when the queue is full or the sender stopped.
    // A positive spacing makes it leave no sooner than spacingMs after the previous send; the
    // first command of a burst after a quiet spell leaves at once.
    bool Post(std::string text, int spacingMs);
    // Drops whatever has not left yet; returns how many texts that was.
    int Clear();
    // Waits until the queue is empty and nothing is being sent (tests, tear-down); false on
    // time-out.
    bool Drain(std::chrono::milliseconds timeout);
    // Ends the thread after the command being sent, dropping the rest; joins it.
    void Stop();

private:
    struct Item
    {
        std::string text;
        int spacingMs;
    };
    void Run();

    SendFn m_send;
    FailureFn m_onFailure;
    std::mutex m_lock;
    std::condition_variable m_wake;
    std::condition_variable m_idle;
    std::deque<Item> m_queue;
    bool m_busy = false;
    bool m_stop = false;
    std::chrono::steady_clock::time_point m_lastSend{};
    std::thread m_thread;
};
