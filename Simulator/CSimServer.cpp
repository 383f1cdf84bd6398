#include "CSimServer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <iostream>

namespace {

constexpr std::size_t kRecvChunk = 64 * 1024;
// A client that stops reading does not hold the server forever.
constexpr int kSendTimeoutS = 5;

void CloseFd(int &fd)
{
    if (fd >= 0) {
        ::close(fd);
        fd = -1;
    }
}

bool IsLoopback(const sockaddr_storage &addr)
{
    if (addr.ss_family == AF_INET) {
        const auto *in = reinterpret_cast<const sockaddr_in *>(&addr);
        return (ntohl(in->sin_addr.s_addr) >> 24) == 127;
    }
    if (addr.ss_family == AF_INET6) {
        const auto *in6 = reinterpret_cast<const sockaddr_in6 *>(&addr);
        return IN6_IS_ADDR_LOOPBACK(&in6->sin6_addr);
    }
    return false;
}

} // namespace

CSimServer::CSimServer(std::shared_ptr<CSimInstrument> instrument)
    : m_instrument(instrument ? std::move(instrument) : std::make_shared<CSimInstrument>()),
      m_scanner(std::make_unique<klr::CPacketScanner>()),
      m_request(std::make_unique<klr::DecodedPacket>()), m_recv(kRecvChunk)
{}

CSimServer::~CSimServer()
{
    Stop();
}

std::string CSimServer::Host() const
{
    std::lock_guard lock(m_mutex);
    return m_host;
}

std::string CSimServer::Error() const
{
    std::lock_guard lock(m_mutex);
    return m_error;
}

bool CSimServer::Start(const std::string &host, std::uint16_t port, bool allowNonLoopback)
{
    Stop();
    auto fail = [&](const std::string &why) {
        std::lock_guard lock(m_mutex);
        m_error = why;
        CloseFd(m_listenFd);
        CloseFd(m_wakeRead);
        CloseFd(m_wakeWrite);
        return false;
    };

    const std::string address = host == "localhost" ? "127.0.0.1" : host;
    sockaddr_storage addr{};
    socklen_t addrLength = 0;
    auto *in = reinterpret_cast<sockaddr_in *>(&addr);
    auto *in6 = reinterpret_cast<sockaddr_in6 *>(&addr);
    if (::inet_pton(AF_INET, address.c_str(), &in->sin_addr) == 1) {
        in->sin_family = AF_INET;
        in->sin_port = htons(port);
        addrLength = sizeof(sockaddr_in);
    } else if (::inet_pton(AF_INET6, address.c_str(), &in6->sin6_addr) == 1) {
        in6->sin6_family = AF_INET6;
        in6->sin6_port = htons(port);
        addrLength = sizeof(sockaddr_in6);
    } else {
        return fail("not a numeric address: " + host);
    }
    if (!allowNonLoopback && !IsLoopback(addr))
        return fail("refusing to serve a non-loopback address: " + host);

    m_listenFd = ::socket(addr.ss_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (m_listenFd < 0)
        return fail(std::string("socket: ") + std::strerror(errno));
    const int on = 1;
    ::setsockopt(m_listenFd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (addr.ss_family == AF_INET6)
        ::setsockopt(m_listenFd, IPPROTO_IPV6, IPV6_V6ONLY, &on, sizeof on);
    if (::bind(m_listenFd, reinterpret_cast<sockaddr *>(&addr), addrLength) != 0)
        return fail("bind " + host + ":" + std::to_string(port) + ": " + std::strerror(errno));
    if (::listen(m_listenFd, 4) != 0)
        return fail(std::string("listen: ") + std::strerror(errno));
    sockaddr_storage bound{};
    socklen_t boundLength = sizeof bound;
    ::getsockname(m_listenFd, reinterpret_cast<sockaddr *>(&bound), &boundLength);
    m_port = ntohs(bound.ss_family == AF_INET6 ? reinterpret_cast<sockaddr_in6 *>(&bound)->sin6_port
                                               : reinterpret_cast<sockaddr_in *>(&bound)->sin_port);

    int wake[2];
    if (::pipe2(wake, O_CLOEXEC | O_NONBLOCK) != 0)
        return fail(std::string("pipe: ") + std::strerror(errno));
    m_wakeRead = wake[0];
    m_wakeWrite = wake[1];
    {
        std::lock_guard lock(m_mutex);
        m_host = address;
        m_error.clear();
    }
    m_stop = false;
    m_allowNonLoopback = allowNonLoopback;
    m_running = true;
    m_thread = std::thread([this] { Run(); });
    return true;
}

bool CSimServer::Restart()
{
    const std::string host = Host();
    const std::uint16_t port = Port();
    if (host.empty() || port == 0) {
        std::lock_guard lock(m_mutex);
        m_error = "not started before";
        return false;
    }
    return Start(host, port, m_allowNonLoopback);
}

void CSimServer::Stop()
{
    if (m_thread.joinable()) {
        m_stop = true;
        const char byte = 1;
        [[maybe_unused]] const auto n = ::write(m_wakeWrite, &byte, 1);
        m_thread.join();
    }
    m_running = false;
    CloseClient();
    CloseFd(m_listenFd);
    CloseFd(m_wakeRead);
    CloseFd(m_wakeWrite);
}

void CSimServer::CloseClient()
{
    if (m_clientFd >= 0) {
        ::shutdown(m_clientFd, SHUT_RDWR);
        CloseFd(m_clientFd);
    }
    m_scanner->Reset();
    m_recvLength = 0;
}

bool CSimServer::Pause(int ms)
{
    if (ms <= 0)
        return !m_stop;
    pollfd fd{m_wakeRead, POLLIN, 0};
    ::poll(&fd, 1, ms);
    return !m_stop;
}

void CSimServer::Run()
{
    while (!m_stop) {
        pollfd fds[3] = {{m_wakeRead, POLLIN, 0}, {m_listenFd, POLLIN, 0}, {m_clientFd, POLLIN, 0}};
        const nfds_t count = m_clientFd >= 0 ? 3 : 2;
        if (::poll(fds, count, -1) < 0) {
            if (errno == EINTR)
                continue;
            std::lock_guard lock(m_mutex);
            m_error = std::string("poll: ") + std::strerror(errno);
            break;
        }
        if (m_stop || (fds[0].revents & POLLIN))
            break;
        if (count == 3 && fds[2].revents) {
            const ssize_t n = ::recv(m_clientFd, m_recv.data(), m_recv.size(), 0);
            if (n <= 0) {
                CloseClient();
            } else {
                m_recvLength = static_cast<std::size_t>(n);
                ServeRequests();
            }
        }
        if (fds[1].revents & POLLIN) {
            const int fd = ::accept4(m_listenFd, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd >= 0) {
                CloseClient();
                m_clientFd = fd;
                const timeval timeout{kSendTimeoutS, 0};
                ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
                ++m_connections;
            }
        }
    }
    CloseClient();
    m_running = false;
}

void CSimServer::ServeRequests()
{
    std::span<const std::uint8_t> data(m_recv.data(), m_recvLength);
    std::size_t badBytes = 0;
    while (!data.empty() && m_clientFd >= 0) {
        std::size_t consumed = 0;
        const auto result = m_scanner->Feed(data, consumed);
        // A scanner that rejects a byte without consuming it must not stall us.
        consumed = std::clamp<std::size_t>(consumed, 1, data.size());
        data = data.subspan(consumed);
        if (result == klr::CPacketScanner::Result::Error) {
            badBytes += consumed;
            continue;
        }
        if (result != klr::CPacketScanner::Result::Packet)
            continue;
        const std::string_view error = klr::DecodePacket(m_scanner->Packet(), *m_request);
        m_scanner->Reset();
        if (!error.empty()) {
            std::cerr << "sim: bad request: " << error << std::endl;
            continue;
        }
        if (!Deliver(m_instrument->Handle(*m_request)))
            CloseClient();
    }
    // One line per received chunk, however much of it was garbage.
    if (badBytes > 0)
        std::cerr << "sim: " << badBytes << " bytes outside any request packet ignored"
                  << std::endl;
    m_recvLength = 0;
}

bool CSimServer::Deliver(const SimReply &reply)
{
    switch (reply.action) {
    case SimReply::Action::None:
    case SimReply::Action::Silence:
        return true;
    case SimReply::Action::Close:
        return false;
    case SimReply::Action::Answer:
        break;
    }
    if (!Pause(reply.latencyMs))
        return false;
    if (!reply.noise.empty() && !WriteAll(reply.noise.data(), reply.noise.size()))
        return false;
    if (reply.splitDelayMs > 0) {
        for (const auto &packet : reply.packets) {
            const std::size_t half = packet.size() / 2;
            if (!WriteAll(packet.data(), half) || !Pause(reply.splitDelayMs) ||
                !WriteAll(packet.data() + half, packet.size() - half))
                return false;
        }
        return true;
    }
    std::vector<std::uint8_t> all;
    for (const auto &packet : reply.packets)
        all.insert(all.end(), packet.begin(), packet.end());
    return WriteAll(all.data(), all.size());
}

bool CSimServer::WriteAll(const std::uint8_t *data, std::size_t length)
{
    while (length > 0) {
        const ssize_t n = ::send(m_clientFd, data, length, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            std::cerr << "sim: send failed: " << std::strerror(errno) << std::endl;
            return false;
        }
        data += n;
        length -= static_cast<std::size_t>(n);
    }
    return true;
}
