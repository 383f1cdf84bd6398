// Clients for the share server's tests. The server answers on the test's own thread, so the
// blocking clients here run beside it while the event loop keeps turning.
#pragma once

#include "EventWait.h"
#include "Loopback.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <future>
#include <map>
#include <string>

struct HttpReply
{
    int status = 0;                             // 0: no answer at all
    std::map<std::string, std::string> headers; // lower-case names
    QByteArray body;
    QByteArray raw;
};

// Runs `f` on a thread of its own while this thread's event loop turns; its result.
template <typename F>
auto Beside(F f, int timeoutMs = 20000)
{
    auto future = std::async(std::launch::async, std::move(f));
    WaitFor([&] { return future.wait_for(std::chrono::seconds(0)) == std::future_status::ready; },
            timeoutMs);
    return future.get();
}

inline bool SendAll(int fd, const QByteArray &bytes)
{
    qsizetype sent = 0;
    while (sent < bytes.size()) {
        const ssize_t n =
            ::send(fd, bytes.constData() + sent, size_t(bytes.size() - sent), MSG_NOSIGNAL);
        if (n <= 0)
            return false;
        sent += n;
    }
    return true;
}

// Reads until the peer closes or `timeoutMs` passes.
inline QByteArray ReadToEnd(int fd, int timeoutMs)
{
    QByteArray all;
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    char buffer[16384];
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              end - std::chrono::steady_clock::now())
                              .count();
        if (left <= 0)
            break;
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, int(left)) <= 0)
            break;
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0)
            break;
        all.append(buffer, n);
    }
    return all;
}

inline HttpReply ParseReply(const QByteArray &raw)
{
    HttpReply reply;
    reply.raw = raw;
    const qsizetype end = raw.indexOf("\r\n\r\n");
    if (end < 0 || !raw.startsWith("HTTP/1."))
        return reply;
    const QList<QByteArray> lines = raw.left(end).split('\n');
    reply.status = lines.value(0).mid(9, 3).toInt();
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QByteArray line = lines[i].trimmed();
        const qsizetype colon = line.indexOf(':');
        if (colon > 0)
            reply.headers[line.left(colon).trimmed().toLower().toStdString()] =
                line.mid(colon + 1).trimmed().toStdString();
    }
    reply.body = raw.mid(end + 4);
    return reply;
}

// One raw request, sent as given; blocking (call it through Beside when the server runs on
// this thread).
inline HttpReply RawHttp(quint16 port, const QByteArray &request, int timeoutMs = 5000)
{
    const int fd = ConnectLoopback(port);
    if (fd < 0)
        return {};
    SendAll(fd, request);
    const QByteArray raw = ReadToEnd(fd, timeoutMs);
    ::close(fd);
    return ParseReply(raw);
}

inline QByteArray GetRequest(const QByteArray &target)
{
    return "GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
}

inline QByteArray PostRequest(const QByteArray &target, const QByteArray &body)
{
    return "POST " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: text/plain\r\n" +
           "Content-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" + body;
}

inline HttpReply Get(quint16 port, const QByteArray &target)
{
    return Beside([port, target] { return RawHttp(port, GetRequest(target)); });
}

inline HttpReply Post(quint16 port, const QByteArray &target, const QByteArray &body)
{
    return Beside([port, target, body] { return RawHttp(port, PostRequest(target, body)); });
}

inline QByteArray UpgradeRequest(const QByteArray &target = "/live")
{
    return "GET " + target +
           " HTTP/1.1\r\nHost: 127.0.0.1\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
           "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\n\r\n";
}
