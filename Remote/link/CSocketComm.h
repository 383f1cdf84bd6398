// Client stream socket to the instrument, over IPv4 or IPv6: a send that never waits, a
// send that waits a bounded time, and a receive that waits a bounded time. The socket is
// non-blocking once connected, so no call ever waits longer than it says.
#pragma once

#include "SocketHandle.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>

struct sockaddr;

class CSocketComm
{
public:
    CSocketComm();
    virtual ~CSocketComm();
    CSocketComm(const CSocketComm &) = delete;
    CSocketComm &operator=(const CSocketComm &) = delete;

    // Fails at once, leaving it alone, if a socket is already open. A connect still waiting
    // for its answer gives up soon after *cancel becomes true.
    bool ConnectIPv4(const std::string &host, const std::atomic<bool> *cancel = nullptr);
    // Closes an open socket first. Writes resolver and connect failures to stderr.
    bool ConnectIPv6(const std::string &host, const std::atomic<bool> *cancel = nullptr);

    // Looks once whether the socket takes data and sends what fits at once. Bytes sent
    // (possibly fewer than `length`); 0 when nothing was sent (no socket, no data, not
    // writable right now); -1 on a socket error.
    int SendBuffer(const std::uint8_t *data, int length);
    // Sends all of `length`, waiting for room as needed, for at most `milliseconds` in all.
    // Bytes sent: `length` when all went, fewer when the time ran out or Shutdown() was
    // called; 0 without a socket or data; -1 on a socket error.
    int SendAllWithin(const std::uint8_t *data, int length, int milliseconds);
    // Bytes received; 0 when nothing arrived within `milliseconds`; -1 when the peer closed
    // the connection, the socket failed or there is no socket.
    int RecvWithTimeout(int milliseconds, int capacity, std::uint8_t *buffer);
    // One receive of what has arrived, without waiting: bytes received; 0 when nothing is
    // there; -1 when the peer closed the connection, the socket failed, there is no socket or
    // Shutdown() was called.
    int RecvNow(int capacity, std::uint8_t *buffer);
    // Waits until data can be read, at most `milliseconds`; true when readable, closed or
    // failed (the next RecvWithTimeout then reports it).
    bool WaitReadable(int milliseconds);

    // Shutdown both ways, close, mark closed; then pause 50 ms if asked. Nothing when closed.
    void Close(bool pause);
    // Shutdown both ways without closing: wakes a wait on the socket in another thread.
    void Shutdown();
    bool IsOpen() const;
    // Takes over an already connected stream socket (a socket pair in the fuzzers), closing
    // any open one first.
    void Attach(klr::net::SocketHandle s);

    void SetPort(std::uint16_t port);
    void SetConnectTimeoutMs(int ms);

    // Dotted IPv4 address first ("255.255.255.255" taken literally), else the first IPv4
    // address of a name lookup. Address in network byte order.
    static bool ResolveIPv4(const std::string &host, std::uint32_t &address);
    // The same, with the resolver's result (0 when no lookup was made or it worked).
    static bool ResolveIPv4(const std::string &host, std::uint32_t &address, int &resolverResult);

    // Why the last connect failed (None after one that worked), and the socket error number
    // when there was one.
    enum class ConnectFailure
    {
        None,
        AlreadyOpen,
        NameNotFound,
        NoIPv6Address,
        Refused,
        TimedOut,
        Cancelled,
        Other
    };
    ConnectFailure LastConnectFailure() const { return m_lastFailure.load(); }
    int LastConnectError() const { return m_nLastConnectError.load(); }
    int ConnectTimeoutMs() const { return m_nConnectTimeoutMs.load(); }
    std::uint16_t Port() const { return m_nPort.load(); }
    // True once Shutdown() has been called on the open socket.
    bool ShutdownRequested() const { return m_bShutdown.load(); }

    int m_nLinkType = 0; // 1 TCP IPv4, 3 TCP IPv6, 0 none; set by the link before it connects

private:
    // Connects `s` within the time-out and leaves it blocking; false with the socket error
    // number in `error`.
    bool ConnectWithTimeout(klr::net::SocketHandle s, const sockaddr *address, std::size_t length,
                            const std::atomic<bool> *cancel, int &error) const;
    // Waits for data on `s`, ending early once Shutdown() has been called.
    klr::net::WaitResult WaitForData(klr::net::SocketHandle s, int milliseconds) const;

    std::atomic<klr::net::SocketHandle> m_socket{klr::net::kInvalidSocket};
    std::atomic<bool> m_bShutdown{false};
    std::atomic<std::uint16_t> m_nPort{66};
    std::atomic<int> m_nConnectTimeoutMs{10000};
    std::atomic<ConnectFailure> m_lastFailure{ConnectFailure::None};
    std::atomic<int> m_nLastConnectError{0};

    bool Failed(ConnectFailure failure, int error = 0);
    // The failure a connect's socket error number stands for.
    ConnectFailure FailureOf(int error, const std::atomic<bool> *cancel) const;
};
