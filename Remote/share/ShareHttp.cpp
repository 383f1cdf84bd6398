#include "ShareHttp.h"

#include <QRandomGenerator>

#include <array>
#include <cctype>

namespace share {

namespace {

constexpr int kMaxTargetBytes = 2048;
constexpr int kMaxMethodBytes = 16;
constexpr int kMaxLengthDigits = 18;

struct PathRule
{
    const char *path;
    Route route;
    const char *method;
};

constexpr std::array<PathRule, 7> kPaths{{
    {"/", Route::Page, "GET"},
    {"/share.js", Route::Script, "GET"},
    {"/share.css", Route::Style, "GET"},
    {"/screen.jpg", Route::Screen, "GET"},
    {"/api/info", Route::Info, "GET"},
    {"/api/key", Route::Key, "POST"},
    {"/live", Route::Live, "GET"},
}};

bool IsTokenChar(char c)
{
    // RFC 9110 tchar.
    if (std::isalnum(static_cast<unsigned char>(c)))
        return true;
    for (const char t : QByteArrayView("!#$%&'*+-.^_`|~"))
        if (c == t)
            return true;
    return false;
}

bool AllTokenChars(QByteArrayView text)
{
    if (text.isEmpty())
        return false;
    for (const char c : text)
        if (!IsTokenChar(c))
            return false;
    return true;
}

QByteArrayView Trimmed(QByteArrayView text)
{
    while (!text.isEmpty() && (text.front() == ' ' || text.front() == '\t'))
        text = text.sliced(1);
    while (!text.isEmpty() && (text.back() == ' ' || text.back() == '\t'))
        text.chop(1);
    return text;
}

bool SameNoCase(QByteArrayView a, QByteArrayView b)
{
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

// True when a comma-separated header value lists `token`.
bool ListsToken(QByteArrayView value, QByteArrayView token)
{
    while (!value.isEmpty()) {
        const qsizetype comma = value.indexOf(',');
        const QByteArrayView item = Trimmed(comma < 0 ? value : value.first(comma));
        if (SameNoCase(item, token))
            return true;
        if (comma < 0)
            break;
        value = value.sliced(comma + 1);
    }
    return false;
}

bool ParseRequestLine(QByteArrayView line, RequestHead &head)
{
    const qsizetype first = line.indexOf(' ');
    if (first <= 0)
        return false;
    const qsizetype second = line.indexOf(' ', first + 1);
    if (second < 0 || line.indexOf(' ', second + 1) >= 0)
        return false;
    const QByteArrayView method = line.first(first);
    const QByteArrayView target = line.sliced(first + 1, second - first - 1);
    const QByteArrayView version = line.sliced(second + 1);
    if (method.size() > kMaxMethodBytes || !AllTokenChars(method))
        return false;
    // Only the origin form: a path from the root, printable, without spaces.
    if (target.isEmpty() || target.size() > kMaxTargetBytes || target.front() != '/')
        return false;
    for (const char c : target)
        if (c <= 0x20 || c >= 0x7F)
            return false;
    if (version != "HTTP/1.1" && version != "HTTP/1.0")
        return false;
    head.method = method.toByteArray();
    head.target = target.toByteArray();
    const qsizetype mark = target.indexOf('?');
    head.path = (mark < 0 ? target : target.first(mark)).toByteArray();
    head.query = mark < 0 ? QByteArray() : target.sliced(mark + 1).toByteArray();
    head.version = version.toByteArray();
    return true;
}

bool ParseHeaderLine(QByteArrayView line, RequestHead &head)
{
    const qsizetype colon = line.indexOf(':');
    if (colon <= 0)
        return false; // also a folded line, which starts with white space
    const QByteArrayView name = line.first(colon);
    if (!AllTokenChars(name))
        return false;
    const QByteArrayView value = Trimmed(line.sliced(colon + 1));
    for (const char c : value)
        if ((c < 0x20 && c != '\t') || c == 0x7F)
            return false;
    if (SameNoCase(name, "Content-Length")) {
        if (value.isEmpty() || value.size() > kMaxLengthDigits)
            return false;
        qint64 length = 0;
        for (const char c : value) {
            if (c < '0' || c > '9')
                return false;
            length = length * 10 + (c - '0');
        }
        // Two lengths that disagree leave the body's end open to interpretation.
        if (head.hasContentLength && head.contentLength != length)
            return false;
        head.contentLength = length;
        head.hasContentLength = true;
    } else if (SameNoCase(name, "Transfer-Encoding")) {
        head.hasTransferEncoding = true;
    } else if (SameNoCase(name, "Upgrade")) {
        if (ListsToken(value, "websocket"))
            head.upgradeWebSocket = true;
    }
    return true;
}

} // namespace

HeadParse ParseRequestHead(QByteArrayView bytes, RequestHead &head)
{
    head = RequestHead{};
    const QByteArrayView window = bytes.first(std::min<qsizetype>(bytes.size(), kMaxHeadBytes));
    const qsizetype end = window.indexOf("\r\n\r\n");
    if (end < 0)
        return bytes.size() >= kMaxHeadBytes ? HeadParse::TooLarge : HeadParse::Incomplete;
    QByteArrayView rest = window.first(end + 2);
    bool first = true;
    while (!rest.isEmpty()) {
        const qsizetype eol = rest.indexOf("\r\n");
        const QByteArrayView line = rest.first(eol);
        rest = rest.sliced(eol + 2);
        // A bare CR or LF inside a line is how requests get smuggled past a parser.
        if (line.contains('\r') || line.contains('\n'))
            return HeadParse::Malformed;
        if (first) {
            if (!ParseRequestLine(line, head))
                return HeadParse::Malformed;
            first = false;
        } else if (!ParseHeaderLine(line, head)) {
            return HeadParse::Malformed;
        }
    }
    if (first)
        return HeadParse::Malformed;
    head.headBytes = int(end + 4);
    return HeadParse::Complete;
}

Verdict Judge(const RequestHead &head, int viewers)
{
    Verdict verdict;
    const PathRule *rule = nullptr;
    for (const PathRule &r : kPaths)
        if (head.path == r.path)
            rule = &r;
    if (!rule) {
        verdict.status = 404;
        return verdict;
    }
    if (head.method != rule->method) {
        verdict.status = 405;
        verdict.allow = rule->method;
        return verdict;
    }
    if (head.hasTransferEncoding) {
        verdict.status = 411; // a body must say its length, so that it can be refused at once
        return verdict;
    }
    if (head.contentLength > kMaxBodyBytes) {
        verdict.status = 413;
        return verdict;
    }
    if (rule->route == Route::Live) {
        if (!head.upgradeWebSocket) {
            verdict.status = 426;
            return verdict;
        }
        if (viewers >= kMaxViewers) {
            verdict.status = 503;
            return verdict;
        }
    }
    verdict.route = rule->route;
    return verdict;
}

bool IsKeyText(QByteArrayView text)
{
    if (text.isEmpty() || std::size_t(text.size()) > kMaxKeyText)
        return false;
    for (const char c : text)
        if (c < 0x20 || c > 0x7E)
            return false;
    return true;
}

QString NewToken()
{
    quint32 words[4];
    QRandomGenerator::system()->fillRange(words);
    QByteArray bytes(reinterpret_cast<const char *>(words), sizeof words);
    return QString::fromLatin1(bytes.toHex());
}

bool TokenMatches(const QString &expected, QByteArrayView offered)
{
    const QByteArray want = expected.toLatin1();
    if (want.isEmpty() || offered.size() != want.size())
        return false;
    unsigned char diff = 0;
    for (qsizetype i = 0; i < want.size(); ++i)
        diff |= static_cast<unsigned char>(want[i] ^ offered[i]);
    return diff == 0;
}

QByteArray QueryValue(QByteArrayView query, QByteArrayView name)
{
    while (!query.isEmpty()) {
        const qsizetype amp = query.indexOf('&');
        const QByteArrayView pair = amp < 0 ? query : query.first(amp);
        const qsizetype eq = pair.indexOf('=');
        if (eq >= 0 && pair.first(eq) == name)
            return pair.sliced(eq + 1).toByteArray();
        if (amp < 0)
            break;
        query = query.sliced(amp + 1);
    }
    return {};
}

bool ParseHost(const QString &text, QHostAddress &address)
{
    if (text == QLatin1String("localhost")) {
        address = QHostAddress(QHostAddress::LocalHost);
        return true;
    }
    return address.setAddress(text);
}

bool ParseListen(const QString &text, QHostAddress &address, quint16 &port, QString &error)
{
    const QString given = text.trimmed();
    QString host;
    QString portText = given;
    if (given.startsWith(QLatin1Char('['))) {
        const qsizetype close = given.indexOf(QLatin1String("]:"));
        if (close < 0) {
            error = QStringLiteral("an IPv6 address is written [ADDRESS]:PORT");
            return false;
        }
        host = given.mid(1, close - 1);
        portText = given.mid(close + 2);
    } else if (const qsizetype colon = given.lastIndexOf(QLatin1Char(':')); colon >= 0) {
        host = given.left(colon);
        portText = given.mid(colon + 1);
        if (host.contains(QLatin1Char(':'))) {
            error = QStringLiteral("an IPv6 address is written [ADDRESS]:PORT");
            return false;
        }
    }
    bool ok = false;
    const uint value = portText.toUInt(&ok, 10);
    if (!ok || value > 65535 || portText.isEmpty() || !portText.front().isDigit()) {
        error = QStringLiteral("not a port: '%1'").arg(portText);
        return false;
    }
    QHostAddress parsed(QHostAddress::LocalHost);
    if (!host.isEmpty() && !ParseHost(host, parsed)) {
        error = QStringLiteral("not a numeric address: '%1'").arg(host);
        return false;
    }
    address = parsed;
    port = quint16(value);
    return true;
}

QString ListenText(const QHostAddress &address, quint16 port)
{
    const QString host = address.toString();
    if (address.protocol() == QAbstractSocket::IPv6Protocol)
        return QStringLiteral("[%1]:%2").arg(host).arg(port);
    return QStringLiteral("%1:%2").arg(host).arg(port);
}

} // namespace share
