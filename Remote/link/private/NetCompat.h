// The one place that knows whether sockets are Winsock or POSIX. Everything else in the
// link talks to sockets through these few names. Private to the link's sources (and the
// tests that play the instrument's side): it brings in the platform's socket headers.
#pragma once

#include "Networking.h"
#include "SocketHandle.h"

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/types.h>
#include <unistd.h>
#endif

#include <chrono>
#include <cstdint>
#include <cstring>
#include <string>
#include <type_traits>

namespace klr::net {

#ifdef _WIN32
static_assert(std::is_same_v<SocketHandle, SOCKET>, "SocketHandle must be Winsock's SOCKET");
static_assert(kInvalidSocket == INVALID_SOCKET);
#endif

inline int LastError()
{
#ifdef _WIN32
    return WSAGetLastError();
#else
    return errno;
#endif
}

// The system's message text for a socket error number.
inline std::string ErrorText(int error)
{
#ifdef _WIN32
    char text[1024] = {};
    const DWORD n =
        FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                       static_cast<DWORD>(error), MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), text,
                       sizeof text, nullptr);
    return std::string(text, n);
#else
    char text[1024] = {};
    // The GNU variant may return a static text instead of filling the buffer.
    auto pick = [&](auto result) -> const char * {
        if constexpr (std::is_same_v<decltype(result), char *>)
            return result;
        else
            return result == 0 ? text : "Unknown error";
    };
    return pick(strerror_r(error, text, sizeof text));
#endif
}

// The resolver's message text for a getaddrinfo result.
inline std::string ResolverErrorText(int result)
{
#ifdef _WIN32
    return gai_strerrorA(result);
#else
    if (result == EAI_SYSTEM)
        return ErrorText(errno);
    return gai_strerror(result);
#endif
}

inline int CloseSocket(SocketHandle s)
{
#ifdef _WIN32
    return closesocket(s);
#else
    return close(s);
#endif
}

// Shutdown in both directions; also wakes a wait on the socket in another thread.
inline int ShutdownSocket(SocketHandle s)
{
#ifdef _WIN32
    return shutdown(s, SD_BOTH);
#else
    return shutdown(s, SHUT_RDWR);
#endif
}

inline bool SetNonBlocking(SocketHandle s, bool on)
{
#ifdef _WIN32
    u_long mode = on ? 1 : 0;
    return ioctlsocket(s, FIONBIO, &mode) == 0;
#else
    const int flags = fcntl(s, F_GETFL, 0);
    if (flags < 0)
        return false;
    return fcntl(s, F_SETFL, on ? (flags | O_NONBLOCK) : (flags & ~O_NONBLOCK)) == 0;
#endif
}

// True for the error a non-blocking connect gives while the handshake is still running.
inline bool ConnectPending(int error)
{
#ifdef _WIN32
    return error == WSAEWOULDBLOCK || error == WSAEINPROGRESS;
#else
    return error == EINPROGRESS || error == EINTR;
#endif
}

// True for the error of a non-blocking send or receive that would have had to wait.
inline bool WouldBlock(int error)
{
#ifdef _WIN32
    return error == WSAEWOULDBLOCK;
#else
#if EAGAIN == EWOULDBLOCK
    return error == EAGAIN;
#else
    return error == EAGAIN || error == EWOULDBLOCK;
#endif
#endif
}

inline int TimedOutError()
{
#ifdef _WIN32
    return WSAETIMEDOUT;
#else
    return ETIMEDOUT;
#endif
}

inline int RefusedError()
{
#ifdef _WIN32
    return WSAECONNREFUSED;
#else
    return ECONNREFUSED;
#endif
}

// What every socket call fails with before networking was started (Windows only).
inline int NotStartedError()
{
#ifdef _WIN32
    return WSANOTINITIALISED;
#else
    return 0;
#endif
}

// True for a getaddrinfo result that only says networking was not started.
inline bool IsNotStartedResolverResult(int result)
{
#ifdef _WIN32
    return result == WSANOTINITIALISED;
#else
    (void)result;
    return false;
#endif
}

// The error a connect given up on request reports.
inline int CancelledError()
{
#ifdef _WIN32
    return WSAECANCELLED;
#else
    return ECANCELED;
#endif
}

// Pending error of a socket (the outcome of a non-blocking connect).
inline int PendingError(SocketHandle s)
{
    int error = 0;
#ifdef _WIN32
    int length = sizeof error;
    if (getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char *>(&error), &length) != 0)
        return LastError();
#else
    socklen_t length = sizeof error;
    if (getsockopt(s, SOL_SOCKET, SO_ERROR, &error, &length) != 0)
        return LastError();
#endif
    return error;
}

inline int ConnectSocket(SocketHandle s, const sockaddr *address, std::size_t length)
{
#ifdef _WIN32
    return connect(s, address, static_cast<int>(length));
#else
    return connect(s, address, static_cast<socklen_t>(length));
#endif
}

// Numeric host text of an address; empty when it cannot be converted.
inline std::string NumericHost(const sockaddr *address, std::size_t length)
{
    char host[1025] = {}; // NI_MAXHOST
#ifdef _WIN32
    const int rc = getnameinfo(address, static_cast<socklen_t>(length), host,
                               static_cast<DWORD>(sizeof host), nullptr, 0, NI_NUMERICHOST);
#else
    const int rc = getnameinfo(address, static_cast<socklen_t>(length), host, sizeof host, nullptr,
                               0, NI_NUMERICHOST);
#endif
    return rc == 0 ? std::string(host) : std::string();
}

// Waits until the socket is readable (or writable), at most `milliseconds` (0: just look).
// A closed or failed socket counts as ready, so that the following call reports it.
inline WaitResult WaitFor(SocketHandle s, bool forWrite, int milliseconds)
{
    if (milliseconds < 0)
        milliseconds = 0;
#ifdef _WIN32
    fd_set set;
    FD_ZERO(&set);
    FD_SET(s, &set);
    fd_set errors;
    FD_ZERO(&errors);
    FD_SET(s, &errors);
    timeval tv;
    tv.tv_sec = milliseconds / 1000;
    tv.tv_usec = (milliseconds % 1000) * 1000;
    const int n = select(0, forWrite ? nullptr : &set, forWrite ? &set : nullptr, &errors, &tv);
    if (n < 0)
        return WaitResult::Failed;
    return n == 0 ? WaitResult::Timeout : WaitResult::Ready;
#else
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    for (;;) {
        pollfd p{};
        p.fd = s;
        p.events = forWrite ? POLLOUT : POLLIN;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        const int n = poll(&p, 1, left.count() > 0 ? static_cast<int>(left.count()) : 0);
        if (n > 0)
            return (p.revents & POLLNVAL) ? WaitResult::Failed : WaitResult::Ready;
        if (n == 0)
            return WaitResult::Timeout;
        if (errno != EINTR)
            return WaitResult::Failed;
    }
#endif
}

// One send call; never raises SIGPIPE on a connection the peer has closed.
inline long SendBytes(SocketHandle s, const std::uint8_t *data, int length)
{
#ifdef _WIN32
    return send(s, reinterpret_cast<const char *>(data), length, 0);
#else
    long n;
    do {
        n = send(s, data, static_cast<std::size_t>(length), MSG_NOSIGNAL);
    } while (n < 0 && errno == EINTR);
    return n;
#endif
}

inline long RecvBytes(SocketHandle s, std::uint8_t *buffer, int capacity)
{
#ifdef _WIN32
    return recv(s, reinterpret_cast<char *>(buffer), capacity, 0);
#else
    long n;
    do {
        n = recv(s, buffer, static_cast<std::size_t>(capacity), 0);
    } while (n < 0 && errno == EINTR);
    return n;
#endif
}

} // namespace klr::net
