#include "CSocketComm.h"

#include "NetCompat.h"

#include <chrono>
#include <cstdio>
#include <memory>
#include <thread>

namespace net = klr::net;

namespace {

constexpr int kClosePauseMs = 50;
constexpr const char *kAllOnes = "255.255.255.255";
constexpr const char *kUnknownAddress = "<unknown>";
// A shutdown from another thread wakes a waiting poll() but not a waiting Winsock
// select(), so waits are taken in slices and the shutdown flag is looked at between them.
constexpr int kWaitSliceMs = 50;

struct AddrInfoDeleter
{
    void operator()(addrinfo *list) const { freeaddrinfo(list); }
};
using AddrInfoList = std::unique_ptr<addrinfo, AddrInfoDeleter>;

int Resolve(const std::string &host, const std::string &service, const addrinfo &hints,
            AddrInfoList &list)
{
    addrinfo *result = nullptr;
    const int rc = getaddrinfo(host.c_str(), service.c_str(), &hints, &result);
    list.reset(rc == 0 ? result : nullptr);
    return rc;
}

// Waits for a non-blocking connect to finish, in slices so that a cancel is seen soon.
// Timeout also when cancelled.
net::WaitResult WaitForConnect(net::SocketHandle s, int milliseconds,
                               const std::atomic<bool> *cancel)
{
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    for (;;) {
        if (cancel && cancel->load())
            return net::WaitResult::Timeout;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              deadline - std::chrono::steady_clock::now())
                              .count();
        const int slice =
            left < kWaitSliceMs ? static_cast<int>(left < 0 ? 0 : left) : kWaitSliceMs;
        const net::WaitResult result = net::WaitFor(s, true, slice);
        if (result != net::WaitResult::Timeout || slice >= left)
            return result;
    }
}

} // namespace

CSocketComm::CSocketComm() = default;

CSocketComm::~CSocketComm()
{
    Close(true);
}

void CSocketComm::SetPort(std::uint16_t port)
{
    m_nPort = port;
}

void CSocketComm::SetConnectTimeoutMs(int ms)
{
    m_nConnectTimeoutMs = ms < 0 ? 0 : ms;
}

bool CSocketComm::IsOpen() const
{
    return m_socket.load() != net::kInvalidSocket;
}

bool CSocketComm::ResolveIPv4(const std::string &host, std::uint32_t &address)
{
    int resolverResult = 0;
    return ResolveIPv4(host, address, resolverResult);
}

bool CSocketComm::ResolveIPv4(const std::string &host, std::uint32_t &address, int &resolverResult)
{
    resolverResult = 0;
    // Some inet_addr versions answer 0.0.0.0 for an empty text, which then reaches this host.
    if (host.empty())
        return false;
    // inet_addr answers the all-ones address both for a bad text and for the broadcast text.
    address = inet_addr(host.c_str());
    if (address != INADDR_NONE || host == kAllOnes)
        return true;

    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    AddrInfoList list;
    resolverResult = Resolve(host, std::string(), hints, list);
    if (resolverResult != 0)
        return false;
    for (const addrinfo *p = list.get(); p; p = p->ai_next) {
        if (p->ai_family == AF_INET && p->ai_addr) {
            address = reinterpret_cast<const sockaddr_in *>(p->ai_addr)->sin_addr.s_addr;
            return true;
        }
    }
    return false;
}

bool CSocketComm::ConnectWithTimeout(net::SocketHandle s, const sockaddr *address,
                                     std::size_t length, const std::atomic<bool> *cancel,
                                     int &error) const
{
    error = 0;
    if (!net::SetNonBlocking(s, true)) {
        error = net::LastError();
        return false;
    }
    if (net::ConnectSocket(s, address, length) != 0) {
        error = net::LastError();
        if (!net::ConnectPending(error))
            return false;
        switch (WaitForConnect(s, m_nConnectTimeoutMs.load(), cancel)) {
        case net::WaitResult::Timeout:
            error = cancel && cancel->load() ? net::CancelledError() : net::TimedOutError();
            return false;
        case net::WaitResult::Failed:
            error = net::LastError();
            return false;
        case net::WaitResult::Ready:
            break;
        }
        error = net::PendingError(s);
        if (error != 0)
            return false;
    }
    // The socket stays non-blocking: no send or receive on it can ever wait unbounded,
    // whatever the peer does (a blocking send waits for as long as the peer does not read).
    return true;
}

bool CSocketComm::Failed(ConnectFailure failure, int error)
{
    m_lastFailure = failure;
    m_nLastConnectError = error;
    return false;
}

CSocketComm::ConnectFailure CSocketComm::FailureOf(int error, const std::atomic<bool> *cancel) const
{
    if (cancel && cancel->load())
        return ConnectFailure::Cancelled;
    if (error == net::RefusedError())
        return ConnectFailure::Refused;
    if (error == net::TimedOutError())
        return ConnectFailure::TimedOut;
    return ConnectFailure::Other;
}

bool CSocketComm::ConnectIPv4(const std::string &host, const std::atomic<bool> *cancel)
{
    if (IsOpen())
        return Failed(ConnectFailure::AlreadyOpen);

    std::uint32_t address = 0;
    int resolverResult = 0;
    if (!ResolveIPv4(host, address, resolverResult)) {
        // Without networking started even the lookup fails; that is not the name's fault.
        if (net::IsNotStartedResolverResult(resolverResult))
            return Failed(ConnectFailure::Other, net::NotStartedError());
        return Failed(ConnectFailure::NameNotFound);
    }

    const net::SocketHandle s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == net::kInvalidSocket)
        return Failed(ConnectFailure::Other, net::LastError());

    sockaddr_in target{};
    target.sin_family = AF_INET;
    target.sin_port = htons(m_nPort.load());
    target.sin_addr.s_addr = address;
    int error = 0;
    if (!ConnectWithTimeout(s, reinterpret_cast<const sockaddr *>(&target), sizeof target, cancel,
                            error)) {
        net::CloseSocket(s);
        return Failed(FailureOf(error, cancel), error);
    }
    net::SocketHandle expected = net::kInvalidSocket;
    m_bShutdown = false;
    if (!m_socket.compare_exchange_strong(expected, s)) {
        // Another connect won the race; keep that one, as a second IPv4 connect would.
        net::CloseSocket(s);
        return Failed(ConnectFailure::AlreadyOpen);
    }
    m_lastFailure = ConnectFailure::None;
    m_nLastConnectError = 0;
    return true;
}

bool CSocketComm::ConnectIPv6(const std::string &host, const std::atomic<bool> *cancel)
{
    Close(false);

    const std::string service = std::to_string(m_nPort.load());
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    // A numeric address needs no lookup. Asking for it first keeps "::1" usable where the
    // only IPv6 address is the loopback one, which the address-configuration filter ignores.
    hints.ai_flags = AI_ALL | AI_NUMERICHOST;
    AddrInfoList list;
    if (Resolve(host, service, hints, list) != 0) {
        hints.ai_flags = AI_ALL | AI_ADDRCONFIG;
        const int rc = Resolve(host, service, hints, list);
        if (rc != 0) {
            std::fprintf(stderr, "getaddrinfo: %s\n", net::ResolverErrorText(rc).c_str());
            if (net::IsNotStartedResolverResult(rc))
                return Failed(ConnectFailure::Other, net::NotStartedError());
            return Failed(ConnectFailure::NameNotFound);
        }
    }

    const addrinfo *chosen = nullptr;
    net::SocketHandle s = net::kInvalidSocket;
    int socketError = 0;
    for (const addrinfo *p = list.get(); p; p = p->ai_next) {
        if (p->ai_family != AF_INET6)
            continue;
        s = socket(p->ai_family, p->ai_socktype, p->ai_protocol);
        if (s != net::kInvalidSocket) {
            chosen = p;
            break;
        }
        socketError = net::LastError();
    }
    if (!chosen) {
        return socketError != 0 ? Failed(ConnectFailure::Other, socketError)
                                : Failed(ConnectFailure::NoIPv6Address);
    }

    int error = 0;
    if (!ConnectWithTimeout(s, chosen->ai_addr, chosen->ai_addrlen, cancel, error)) {
        net::CloseSocket(s);
        std::string text = net::NumericHost(chosen->ai_addr, chosen->ai_addrlen);
        if (text.empty())
            text = kUnknownAddress;
        std::fprintf(stderr, "Client: connect() to %s failed with error %d: %s\n", text.c_str(),
                     error, net::ErrorText(error).c_str());
        return Failed(FailureOf(error, cancel), error);
    }
    m_bShutdown = false;
    const net::SocketHandle previous = m_socket.exchange(s);
    if (previous != net::kInvalidSocket) {
        // Another thread connected meanwhile; the newest connection replaces it.
        net::ShutdownSocket(previous);
        net::CloseSocket(previous);
    }
    m_lastFailure = ConnectFailure::None;
    m_nLastConnectError = 0;
    return true;
}

int CSocketComm::SendBuffer(const std::uint8_t *data, int length)
{
    const net::SocketHandle s = m_socket.load();
    if (s == net::kInvalidSocket || !data || length <= 0)
        return 0;
    switch (net::WaitFor(s, true, 0)) {
    case net::WaitResult::Timeout:
        return 0;
    case net::WaitResult::Failed:
        return -1;
    case net::WaitResult::Ready:
        break;
    }
    // What fits goes; the count says how much that was.
    const long n = net::SendBytes(s, data, length);
    if (n < 0)
        return net::WouldBlock(net::LastError()) ? 0 : -1;
    return static_cast<int>(n);
}

int CSocketComm::SendAllWithin(const std::uint8_t *data, int length, int milliseconds)
{
    const net::SocketHandle s = m_socket.load();
    if (s == net::kInvalidSocket || !data || length <= 0)
        return 0;
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    int sent = 0;
    while (sent < length) {
        const long n = net::SendBytes(s, data + sent, length - sent);
        if (n > 0) {
            sent += static_cast<int>(n);
            continue;
        }
        if (n < 0 && !net::WouldBlock(net::LastError()))
            return -1;
        // Full: wait for room, in slices so that a Shutdown() from another thread is seen.
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              deadline - std::chrono::steady_clock::now())
                              .count();
        if (left <= 0 || m_bShutdown)
            break;
        const int slice = left < kWaitSliceMs ? static_cast<int>(left) : kWaitSliceMs;
        if (net::WaitFor(s, true, slice) == net::WaitResult::Failed)
            return -1;
    }
    return sent;
}

net::WaitResult CSocketComm::WaitForData(net::SocketHandle s, int milliseconds) const
{
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    for (;;) {
        if (m_bShutdown)
            return net::WaitResult::Failed;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              deadline - std::chrono::steady_clock::now())
                              .count();
        const int slice =
            left < kWaitSliceMs ? static_cast<int>(left < 0 ? 0 : left) : kWaitSliceMs;
        const net::WaitResult result = net::WaitFor(s, false, slice);
        if (result != net::WaitResult::Timeout || slice >= left)
            return m_bShutdown ? net::WaitResult::Failed : result;
    }
}

bool CSocketComm::WaitReadable(int milliseconds)
{
    const net::SocketHandle s = m_socket.load();
    if (s == net::kInvalidSocket)
        return true;
    return WaitForData(s, milliseconds) != net::WaitResult::Timeout;
}

int CSocketComm::RecvWithTimeout(int milliseconds, int capacity, std::uint8_t *buffer)
{
    if (!buffer || capacity <= 0)
        return 0;
    const net::SocketHandle s = m_socket.load();
    if (s == net::kInvalidSocket)
        return -1;
    switch (WaitForData(s, milliseconds)) {
    case net::WaitResult::Timeout:
        return 0;
    case net::WaitResult::Failed:
        return -1;
    case net::WaitResult::Ready:
        break;
    }
    const long n = net::RecvBytes(s, buffer, capacity);
    if (n < 0 && net::WouldBlock(net::LastError()))
        return 0; // readiness was reported, but the data is not there after all
    return n <= 0 ? -1 : static_cast<int>(n);
}

int CSocketComm::RecvNow(int capacity, std::uint8_t *buffer)
{
    if (!buffer || capacity <= 0)
        return 0;
    const net::SocketHandle s = m_socket.load();
    if (s == net::kInvalidSocket || m_bShutdown)
        return -1;
    const long n = net::RecvBytes(s, buffer, capacity);
    if (n < 0 && net::WouldBlock(net::LastError()))
        return 0;
    return n <= 0 ? -1 : static_cast<int>(n);
}

void CSocketComm::Close(bool pause)
{
    const net::SocketHandle s = m_socket.exchange(net::kInvalidSocket);
    if (s == net::kInvalidSocket)
        return;
    net::ShutdownSocket(s);
    net::CloseSocket(s);
    if (pause)
        std::this_thread::sleep_for(std::chrono::milliseconds(kClosePauseMs));
}

void CSocketComm::Attach(net::SocketHandle s)
{
    Close(false);
    m_bShutdown = false;
    if (s != net::kInvalidSocket)
        net::SetNonBlocking(s, true);
    m_socket = s;
}

void CSocketComm::Shutdown()
{
    const net::SocketHandle s = m_socket.load();
    if (s != net::kInvalidSocket) {
        m_bShutdown = true;
        net::ShutdownSocket(s);
    }
}
