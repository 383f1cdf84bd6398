// The browser view's rules for what it lets in, as pure functions: the head of one HTTP request
// and the verdict on it, key texts, the share token and the listen address. Nothing here
// touches a socket, so every rule is tested on bytes alone.
#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QHostAddress>
#include <QString>

#include <cstdint>
#include <string>

namespace share {

// Limits of what one client may send or hold.
inline constexpr int kMaxViewers = 32;          // live WebSocket viewers at once
inline constexpr int kMaxBodyBytes = 4096;      // request body
inline constexpr int kMaxHeadBytes = 8192;      // request line and headers
inline constexpr int kMaxConnections = 128;     // plain HTTP connections at once
inline constexpr std::size_t kMaxKeyText = 126; // key text: with its line feed and the NUL
                                                // that ends it, it fills the 128-byte field

// What the server answers on.
enum class Route
{
    None,
    Page,   // GET /
    Script, // GET /share.js
    Style,  // GET /share.css
    Screen, // GET /screen.jpg
    Info,   // GET /api/info
    Key,    // POST /api/key
    Live,   // GET /live, upgraded to a WebSocket
};

struct RequestHead
{
    QByteArray method;
    QByteArray target; // as sent: path and query, nothing decoded
    QByteArray path;   // target up to '?'
    QByteArray query;  // after '?', without it
    QByteArray version;
    qint64 contentLength = 0;
    bool hasContentLength = false;
    bool hasTransferEncoding = false;
    bool upgradeWebSocket = false; // "Upgrade: websocket"
    int headBytes = 0;             // request line and headers with the empty line after them
};

enum class HeadParse
{
    Incomplete, // the empty line that ends the head has not arrived yet
    Complete,
    TooLarge, // no end within kMaxHeadBytes
    Malformed,
};

// Reads the head at the start of `bytes` (which may hold more: the body).
HeadParse ParseRequestHead(QByteArrayView bytes, RequestHead &head);

struct Verdict
{
    int status = 0; // 0: let it through to `route`; otherwise the HTTP status to answer with
    Route route = Route::None;
    QByteArray allow; // for 405: the methods the path takes
};

// The decision on a complete head. Paths are compared byte for byte as sent: no decoding and
// no dot segments, so "/%2e%2e/" or "/x/../screen.jpg" are simply unknown. `viewers` counts
// the live viewers and those whose upgrade is under way.
Verdict Judge(const RequestHead &head, int viewers);

// A key text as the instrument takes it: printable ASCII, 1 to kMaxKeyText bytes.
bool IsKeyText(QByteArrayView text);

// A new share token: 128 random bits as 32 lower-case hexadecimal digits.
QString NewToken();
// Compares in time independent of where the texts differ; an empty token never matches.
bool TokenMatches(const QString &expected, QByteArrayView offered);
// The value of `name` in a query string ("a=1&token=..."), undecoded; empty when absent.
QByteArray QueryValue(QByteArrayView query, QByteArrayView name);

// A numeric address or "localhost" (127.0.0.1); false for anything else, the empty text too.
bool ParseHost(const QString &text, QHostAddress &address);
// "[ADDRESS:]PORT": "8080", "0.0.0.0:8080", "192.168.1.20:8080", "[::1]:8080", "localhost:8080".
// Without an address the share listens on 127.0.0.1. Port 0 takes a free port. False with
// `error` set when the text is none of these.
bool ParseListen(const QString &text, QHostAddress &address, quint16 &port, QString &error);
// The same written back, in the form ParseListen reads.
QString ListenText(const QHostAddress &address, quint16 port);

} // namespace share
