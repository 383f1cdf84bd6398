#include "LoopbackListener.h"

namespace net = klr::net;

namespace {

socklen_t FillAddress(bool ipv6, std::uint16_t port, sockaddr_storage &storage)
{
    storage = {};
    if (ipv6) {
        auto *a = reinterpret_cast<sockaddr_in6 *>(&storage);
        a->sin6_family = AF_INET6;
        a->sin6_port = htons(port);
        a->sin6_addr = in6addr_loopback;
        return sizeof(sockaddr_in6);
    }
    auto *a = reinterpret_cast<sockaddr_in *>(&storage);
    a->sin_family = AF_INET;
    a->sin_port = htons(port);
    a->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return sizeof(sockaddr_in);
}

} // namespace

LoopbackPeer &LoopbackPeer::operator=(LoopbackPeer &&other) noexcept
{
    if (this != &other) {
        Close();
        m_socket = other.m_socket;
        other.m_socket = net::kInvalidSocket;
    }
    return *this;
}

bool LoopbackPeer::SendAll(const std::vector<std::uint8_t> &data)
{
    std::size_t sent = 0;
    while (sent < data.size()) {
        if (net::WaitFor(m_socket, true, 5000) != net::WaitResult::Ready)
            return false;
        const long n =
            net::SendBytes(m_socket, data.data() + sent, static_cast<int>(data.size() - sent));
        if (n <= 0)
            return false;
        sent += static_cast<std::size_t>(n);
    }
    return true;
}

std::vector<std::uint8_t> LoopbackPeer::Receive(std::size_t count, int ms)
{
    std::vector<std::uint8_t> data;
    std::vector<std::uint8_t> chunk(65536);
    while (data.size() < count) {
        if (net::WaitFor(m_socket, false, ms) != net::WaitResult::Ready)
            break;
        const long n = net::RecvBytes(m_socket, chunk.data(), static_cast<int>(chunk.size()));
        if (n <= 0)
            break;
        data.insert(data.end(), chunk.begin(), chunk.begin() + n);
    }
    return data;
}

bool LoopbackPeer::SeesClose(int ms)
{
    std::uint8_t byte = 0;
    for (;;) {
        if (net::WaitFor(m_socket, false, ms) != net::WaitResult::Ready)
            return false;
        const long n = net::RecvBytes(m_socket, &byte, 1);
        if (n <= 0)
            return true;
    }
}

void LoopbackPeer::Close()
{
    if (m_socket != net::kInvalidSocket) {
        net::CloseSocket(m_socket);
        m_socket = net::kInvalidSocket;
    }
}

LoopbackListener::LoopbackListener(bool ipv6, int backlog, int receiveBuffer) : m_ipv6(ipv6)
{
    const net::SocketHandle s = socket(ipv6 ? AF_INET6 : AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == net::kInvalidSocket)
        return;
    if (receiveBuffer > 0)
        setsockopt(s, SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char *>(&receiveBuffer),
                   sizeof receiveBuffer);
    sockaddr_storage storage;
    const socklen_t length = FillAddress(ipv6, 0, storage);
    if (bind(s, reinterpret_cast<sockaddr *>(&storage), length) != 0 || listen(s, backlog) != 0) {
        net::CloseSocket(s);
        return;
    }
    socklen_t actual = sizeof storage;
    if (getsockname(s, reinterpret_cast<sockaddr *>(&storage), &actual) != 0) {
        net::CloseSocket(s);
        return;
    }
    m_port = ipv6 ? ntohs(reinterpret_cast<sockaddr_in6 *>(&storage)->sin6_port)
                  : ntohs(reinterpret_cast<sockaddr_in *>(&storage)->sin_port);
    m_socket = s;
}

LoopbackListener::~LoopbackListener()
{
    Close();
}

void LoopbackListener::Close()
{
    if (m_socket != net::kInvalidSocket) {
        net::CloseSocket(m_socket);
        m_socket = net::kInvalidSocket;
    }
}

LoopbackPeer LoopbackListener::Accept(int ms)
{
    if (!Valid() || net::WaitFor(m_socket, false, ms) != net::WaitResult::Ready)
        return LoopbackPeer();
    return LoopbackPeer(accept(m_socket, nullptr, nullptr));
}

bool LoopbackListener::FillUntilSilent(std::vector<LoopbackPeer> &fillers)
{
    sockaddr_storage target;
    const socklen_t length = FillAddress(m_ipv6, m_port, target);
    for (int i = 0; i < 16 && Valid(); ++i) {
        const net::SocketHandle s = socket(m_ipv6 ? AF_INET6 : AF_INET, SOCK_STREAM, IPPROTO_TCP);
        if (s == net::kInvalidSocket)
            return false;
        fillers.emplace_back(s);
        net::SetNonBlocking(s, true);
        if (net::ConnectSocket(s, reinterpret_cast<sockaddr *>(&target), length) == 0)
            continue;
        if (!net::ConnectPending(net::LastError()))
            return false;
        const net::WaitResult result = net::WaitFor(s, true, 300);
        if (result == net::WaitResult::Timeout)
            return true;
        if (result == net::WaitResult::Failed || net::PendingError(s) != 0)
            return false; // refused rather than left waiting
    }
    return false;
}

std::uint16_t UnusedLoopbackPort(bool ipv6)
{
    LoopbackListener listener(ipv6);
    return listener.Valid() ? listener.Port() : 0;
}
