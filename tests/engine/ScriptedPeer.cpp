#include "ScriptedPeer.h"

#include <gtest/gtest.h>

#include <chrono>
#include <random>

namespace net = klr::net;

namespace enginetest {

ScriptedPeer::ScriptedPeer(bool ipv6)
{
    const int family = ipv6 ? AF_INET6 : AF_INET;
    net::SocketHandle s = socket(family, SOCK_STREAM, IPPROTO_TCP);
    if (s == net::kInvalidSocket) {
        return;
    }
    sockaddr_storage address{};
    socklen_t length = 0;
    if (ipv6) {
        auto *a6 = reinterpret_cast<sockaddr_in6 *>(&address);
        a6->sin6_family = AF_INET6;
        a6->sin6_addr = in6addr_loopback;
        length = sizeof(sockaddr_in6);
    } else {
        auto *a4 = reinterpret_cast<sockaddr_in *>(&address);
        a4->sin_family = AF_INET;
        a4->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        length = sizeof(sockaddr_in);
    }
    if (bind(s, reinterpret_cast<sockaddr *>(&address), length) != 0 || listen(s, 4) != 0 ||
        getsockname(s, reinterpret_cast<sockaddr *>(&address), &length) != 0) {
        net::CloseSocket(s);
        return;
    }
    m_port = ntohs(ipv6 ? reinterpret_cast<sockaddr_in6 *>(&address)->sin6_port
                        : reinterpret_cast<sockaddr_in *>(&address)->sin_port);
    m_listener = s;
    m_thread = std::thread(&ScriptedPeer::Run, this);
}

ScriptedPeer::~ScriptedPeer()
{
    m_stop = true;
    if (m_thread.joinable()) {
        m_thread.join();
    }
    if (m_listener != net::kInvalidSocket) {
        net::CloseSocket(m_listener);
    }
}

void ScriptedPeer::SetResponder(Responder responder)
{
    std::lock_guard lock(m_mutex);
    m_responder = std::move(responder);
}

void ScriptedPeer::Run()
{
    while (!m_stop) {
        if (net::WaitFor(m_listener, false, 20) != net::WaitResult::Ready) {
            continue;
        }
        const net::SocketHandle connection = accept(m_listener, nullptr, nullptr);
        if (connection == net::kInvalidSocket) {
            continue;
        }
        {
            std::lock_guard lock(m_sendMutex);
            m_connection = connection;
        }
        {
            std::lock_guard lock(m_mutex);
            ++m_connections;
        }
        m_changed.notify_all();
        Serve();
        {
            std::lock_guard lock(m_mutex);
            ++m_hangUps;
        }
        m_changed.notify_all();
    }
}

void ScriptedPeer::Serve()
{
    auto hangUp = [&] {
        std::lock_guard lock(m_sendMutex);
        if (m_connection != net::kInvalidSocket) {
            net::ShutdownSocket(m_connection);
            net::CloseSocket(m_connection);
            m_connection = net::kInvalidSocket;
        }
    };
    klr::CPacketScanner scanner;
    std::vector<std::uint8_t> chunk(65536);
    while (!m_stop) {
        net::SocketHandle s;
        {
            std::lock_guard lock(m_sendMutex);
            s = m_connection;
        }
        if (s == net::kInvalidSocket) {
            return;
        }
        if (net::WaitFor(s, false, 20) != net::WaitResult::Ready) {
            continue;
        }
        const long n = net::RecvBytes(s, chunk.data(), static_cast<int>(chunk.size()));
        if (n <= 0) {
            hangUp();
            return;
        }
        std::span<const std::uint8_t> data(chunk.data(), static_cast<std::size_t>(n));
        while (!data.empty()) {
            std::size_t consumed = 0;
            const auto result = scanner.Feed(data, consumed);
            data = data.subspan(consumed);
            if (result != klr::CPacketScanner::Result::Packet) {
                continue;
            }
            auto decoded = std::make_unique<klr::DecodedPacket>();
            if (!klr::DecodePacket(scanner.Packet(), *decoded).empty()) {
                continue;
            }
            Request request;
            request.command = decoded->command;
            request.code = decoded->code;
            request.payload.assign(decoded->payload.begin(),
                                   decoded->payload.begin() +
                                       static_cast<std::ptrdiff_t>(decoded->payloadLength));
            request.frame.assign(scanner.Packet().begin(), scanner.Packet().end());
            Responder responder;
            {
                std::lock_guard lock(m_mutex);
                m_requests.push_back(request);
                responder = m_responder;
            }
            m_changed.notify_all();
            const std::vector<Step> steps = responder ? responder(request) : std::vector<Step>{};
            for (const Step &step : steps) {
                if (step.delayMs > 0) {
                    std::this_thread::sleep_for(std::chrono::milliseconds(step.delayMs));
                }
                if (step.kind == Step::Kind::Reset) {
                    std::lock_guard lock(m_sendMutex);
                    linger abort{};
                    abort.l_onoff = 1;
                    abort.l_linger = 0;
                    setsockopt(m_connection, SOL_SOCKET, SO_LINGER,
                               reinterpret_cast<const char *>(&abort), sizeof abort);
                    net::CloseSocket(m_connection);
                    m_connection = net::kInvalidSocket;
                    return;
                }
                if (step.kind == Step::Kind::Close) {
                    hangUp();
                    return;
                }
                std::lock_guard lock(m_sendMutex);
                SendAll(m_connection, step.bytes);
            }
        }
    }
    hangUp();
}

bool ScriptedPeer::SendAll(net::SocketHandle s, std::span<const std::uint8_t> bytes)
{
    if (s == net::kInvalidSocket) {
        return false;
    }
    while (!bytes.empty()) {
        const long n = net::SendBytes(s, bytes.data(), static_cast<int>(bytes.size()));
        if (n <= 0) {
            return false;
        }
        bytes = bytes.subspan(static_cast<std::size_t>(n));
    }
    return true;
}

bool ScriptedPeer::Send(std::span<const std::uint8_t> bytes)
{
    std::lock_guard lock(m_sendMutex);
    return SendAll(m_connection, bytes);
}

void ScriptedPeer::CloseConnection()
{
    // The peer's thread sees the end of the stream and closes the socket itself.
    std::lock_guard lock(m_sendMutex);
    if (m_connection != net::kInvalidSocket) {
        net::ShutdownSocket(m_connection);
    }
}

bool ScriptedPeer::WaitForRequests(std::size_t count, int timeoutMs)
{
    std::unique_lock lock(m_mutex);
    return m_changed.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                              [&] { return m_requests.size() >= count; });
}

bool ScriptedPeer::WaitForConnections(std::size_t count, int timeoutMs)
{
    std::unique_lock lock(m_mutex);
    return m_changed.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                              [&] { return m_connections >= count; });
}

bool ScriptedPeer::WaitForHangUps(std::size_t count, int timeoutMs)
{
    std::unique_lock lock(m_mutex);
    return m_changed.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                              [&] { return m_hangUps >= count; });
}

std::vector<Request> ScriptedPeer::Requests() const
{
    std::lock_guard lock(m_mutex);
    return m_requests;
}

std::size_t ScriptedPeer::Connections() const
{
    std::lock_guard lock(m_mutex);
    return m_connections;
}

std::vector<Bytes> ReplyFrames(std::uint8_t code, std::span<const std::uint8_t> payload,
                               std::size_t packetSize)
{
    const std::size_t count = payload.empty() ? 1 : (payload.size() + packetSize - 1) / packetSize;
    std::vector<Bytes> frames;
    for (std::size_t i = 0; i < count; ++i) {
        const std::size_t start = i * packetSize;
        const std::size_t length = std::min(packetSize, payload.size() - start);
        frames.push_back(klr::EncodeFrame(0x41, code, static_cast<std::uint8_t>(count),
                                          static_cast<std::uint8_t>(i),
                                          payload.subspan(start, length)));
    }
    return frames;
}

Bytes Join(const std::vector<Bytes> &frames)
{
    Bytes joined;
    for (const Bytes &frame : frames) {
        joined.insert(joined.end(), frame.begin(), frame.end());
    }
    return joined;
}

Bytes PatternBytes(std::size_t size, std::uint32_t seed)
{
    std::mt19937 random(seed);
    Bytes bytes(size);
    for (std::size_t i = 0; i < size; ++i) {
        // Every eighth byte is one of the three that need stuffing.
        bytes[i] = (i % 8 == 3) ? static_cast<std::uint8_t>(0x7D + random() % 3)
                                : static_cast<std::uint8_t>(random());
    }
    return bytes;
}

} // namespace enginetest
