// A stand-in instrument on loopback TCP for the engine tests: records every request packet
// it receives and answers each one with the steps its responder returns (byte chunks after
// given delays, a close, or nothing at all). Tests may also push bytes or close the
// connection themselves.
#pragma once

#include "NetCompat.h"
#include "Protocol.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <span>
#include <thread>
#include <vector>

namespace enginetest {

using Bytes = std::vector<std::uint8_t>;

struct Step
{
    enum class Kind
    {
        Send,
        Close,
        Reset // close with SO_LINGER 0: the client sees a reset, not an orderly end
    };
    Kind kind = Kind::Send;
    Bytes bytes;
    int delayMs = 0; // pause before this step
};

inline Step SendStep(Bytes bytes, int delayMs = 0)
{
    return {Step::Kind::Send, std::move(bytes), delayMs};
}
inline Step CloseStep(int delayMs = 0)
{
    return {Step::Kind::Close, {}, delayMs};
}
inline Step ResetStep(int delayMs = 0)
{
    return {Step::Kind::Reset, {}, delayMs};
}

struct Request
{
    std::uint8_t command = 0;
    std::uint8_t code = 0;
    Bytes payload;
    Bytes frame; // as it arrived, markers included
};

class ScriptedPeer
{
public:
    using Responder = std::function<std::vector<Step>(const Request &)>;

    explicit ScriptedPeer(bool ipv6 = false);
    ~ScriptedPeer();
    ScriptedPeer(const ScriptedPeer &) = delete;
    ScriptedPeer &operator=(const ScriptedPeer &) = delete;

    std::uint16_t Port() const { return m_port; }
    bool Listening() const { return m_listener != klr::net::kInvalidSocket; }

    // Runs on the peer's thread for each request; no responder means silence.
    void SetResponder(Responder responder);

    // From the test thread: bytes to the current connection, or closing it.
    bool Send(std::span<const std::uint8_t> bytes);
    void CloseConnection();

    // True once `count` requests have arrived, false after timeoutMs.
    bool WaitForRequests(std::size_t count, int timeoutMs = 10000);
    // True once `count` connections have been accepted.
    bool WaitForConnections(std::size_t count, int timeoutMs = 10000);
    // True once `count` connections were accepted and have ended.
    bool WaitForHangUps(std::size_t count, int timeoutMs = 10000);
    std::vector<Request> Requests() const;
    std::size_t Connections() const;

private:
    void Run();
    void Serve();
    bool SendAll(klr::net::SocketHandle s, std::span<const std::uint8_t> bytes);

    // Winsock must be started before the peer's first socket and stopped after its last.
    klr::net::NetworkingScope m_networking;
    klr::net::SocketHandle m_listener = klr::net::kInvalidSocket;
    std::uint16_t m_port = 0;
    std::atomic<bool> m_stop{false};

    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    Responder m_responder;
    std::vector<Request> m_requests;
    std::size_t m_connections = 0;
    std::size_t m_hangUps = 0;
    klr::net::SocketHandle m_connection = klr::net::kInvalidSocket;
    std::mutex m_sendMutex;

    std::thread m_thread;
};

// A reply of `payload` cut into packets of at most packetSize bytes, each one framed.
std::vector<Bytes> ReplyFrames(std::uint8_t code, std::span<const std::uint8_t> payload,
                               std::size_t packetSize);
Bytes Join(const std::vector<Bytes> &frames);
// Deterministic bytes that include every value the stuffing touches.
Bytes PatternBytes(std::size_t size, std::uint32_t seed);

} // namespace enginetest
