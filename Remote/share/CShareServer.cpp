#include "CShareServer.h"

#include "ShareHttp.h"

#include <QFile>
#include <QHttpServer>
#include <QHttpServerRequest>
#include <QHttpServerResponse>
#include <QJsonArray>
#include <QJsonDocument>
#include <QNetworkInterface>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <QWebSocket>
#include <QWebSocketServer>

#include <algorithm>

// Outside any namespace, as the resource system wants it.
static void InitShareResources()
{
    Q_INIT_RESOURCE(share);
}

namespace {

constexpr const char *kLogControlOff = "Share: key refused from %1, control is off";
constexpr const char *kLogBadToken = "Share: key refused from %1, wrong or missing token";
constexpr const char *kLogListening = "Share: listening on %1";
constexpr const char *kLogViewerStalled = "Share: viewer %1 took no picture for %2 s, let go";

constexpr const char *kTextBadKey = "a key text is printable ASCII, 1 to 126 characters\n";
constexpr const char *kTextControlOff = "control from the browser is off\n";
constexpr const char *kTextBadToken = "wrong or missing token\n";
constexpr const char *kTextNotStarted = "remote control is not started\n";
constexpr const char *kTextNoAnswer = "the instrument does not answer\n";
constexpr const char *kTextNoPicture = "no picture yet\n";

constexpr const char *kGateName = "klr-share-gate";
constexpr const char *kDeadlineName = "klr-share-deadline";

// Before the head is judged (and while a plain request is read) no client holds more than
// this in the socket's buffer; a body beyond the limit is refused from its head.
constexpr qint64 kReadBufferBytes = 16 * 1024;
// A refused client gets this long to read the answer before the connection goes, and may
// send this much more meanwhile (read and dropped).
constexpr int kLingerMs = 1000;
constexpr qint64 kLingerBytes = 1024 * 1024;
// Frame rate is taken over the pictures of this span.
constexpr auto kRateSpan = std::chrono::seconds(10);
constexpr std::size_t kRateSamples = 64;

const char *Reason(int status)
{
    switch (status) {
    case 400:
        return "Bad Request";
    case 403:
        return "Forbidden";
    case 404:
        return "Not Found";
    case 405:
        return "Method Not Allowed";
    case 409:
        return "Conflict";
    case 411:
        return "Length Required";
    case 413:
        return "Content Too Large";
    case 426:
        return "Upgrade Required";
    case 431:
        return "Request Header Fields Too Large";
    case 503:
        return "Service Unavailable";
    default:
        return "Error";
    }
}

QByteArray LoadResource(const char *path)
{
    QFile file(QString::fromLatin1(path));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QHttpServerResponse Text(const char *text, QHttpServerResponse::StatusCode status)
{
    return QHttpServerResponse(QByteArrayLiteral("text/plain; charset=utf-8"), QByteArray(text),
                               status);
}

// The state as /api/info and the page name it.
QString StateName(SessionState state)
{
    switch (state) {
    case SessionState::Disconnected:
        return QStringLiteral("disconnected");
    case SessionState::Connecting:
        return QStringLiteral("connecting");
    case SessionState::Connected:
        return QStringLiteral("connected");
    case SessionState::Started:
        return QStringLiteral("started");
    case SessionState::LinkLost:
        return QStringLiteral("linkLost");
    case SessionState::Reconnecting:
        return QStringLiteral("reconnecting");
    case SessionState::Replay:
        return QStringLiteral("replay");
    }
    return {};
}

QString MethodName(ConnMethod method)
{
    switch (method) {
    case ConnMethod::TcpIPv4:
        return QStringLiteral("TCP/IP");
    case ConnMethod::TcpIPv6:
        return QStringLiteral("IPv6");
    case ConnMethod::Usb:
        break;
    }
    return QStringLiteral("USB");
}

QString Peer(const QHostAddress &address)
{
    return address.toString();
}

// Watches a connection until its first request has been judged; it knows whether the
// connection still counts among the plain HTTP ones.
class Gate : public QObject
{
public:
    Gate(QTcpSocket *socket, std::shared_ptr<bool> counted)
        : QObject(socket), m_counted(std::move(counted))
    {
        setObjectName(QString::fromLatin1(kGateName));
    }
    static Gate *Of(QTcpSocket *socket)
    {
        return static_cast<Gate *>(socket->findChild<QObject *>(QString::fromLatin1(kGateName),
                                                                Qt::FindDirectChildrenOnly));
    }
    // True the first time: the connection stops counting.
    bool Uncount()
    {
        const bool was = *m_counted;
        *m_counted = false;
        return was;
    }

private:
    std::shared_ptr<bool> m_counted;
};

void EndGate(QTcpSocket *socket, bool deadlineToo)
{
    delete Gate::Of(socket);
    if (deadlineToo)
        delete socket->findChild<QTimer *>(QString::fromLatin1(kDeadlineName),
                                           Qt::FindDirectChildrenOnly);
}

} // namespace

// Takes connections itself and lets the HTTP server have only those whose head has been
// judged: the server's own reading would take a body of any size.
class CShareServer::Listener : public QTcpServer
{
public:
    explicit Listener(CShareServer &owner) : m_owner(owner) {}
    void Hand(QTcpSocket *socket) { addPendingConnection(socket); }

protected:
    void incomingConnection(qintptr handle) override
    {
        auto *socket = new QTcpSocket(this);
        if (!socket->setSocketDescriptor(handle)) {
            delete socket;
            return;
        }
        m_owner.OnIncoming(socket);
    }

private:
    CShareServer &m_owner;
};

struct CShareServer::Viewer
{
    QWebSocket *socket = nullptr;
    QByteArray picture; // the newest picture not yet sent; empty when none waits
    bool statusPending = false;
    Clock::time_point progress; // when its backlog last moved
};

CShareServer::CShareServer(QObject *parent) : QObject(parent)
{
    InitShareResources();
    m_page = LoadResource(":/share/index.html");
    m_script = LoadResource(":/share/share.js");
    m_style = LoadResource(":/share/share.css");
    m_live = std::make_unique<QWebSocketServer>(QStringLiteral("KLRemote"),
                                                QWebSocketServer::NonSecureMode);
    connect(m_live.get(), &QWebSocketServer::newConnection, this, &CShareServer::OnNewViewer);
}

CShareServer::~CShareServer()
{
    Close();
}

bool CShareServer::Listen(const QHostAddress &address, quint16 port)
{
    Close();
    m_http = std::make_unique<QHttpServer>();
    SetUpRoutes();
    auto listener = std::make_unique<Listener>(*this);
    // A crowd connecting at once waits in the queue instead of retrying a second later.
    listener->setListenBacklogSize(share::kMaxConnections);
    if (!listener->listen(address, port)) {
        m_error = listener->errorString();
        m_http.reset();
        return false;
    }
    m_listener = listener.release();
    m_http->bind(m_listener);
    m_address = address;
    m_port = m_listener->serverPort();
    m_error.clear();
    m_token = share::NewToken();
    Log(QString::fromLatin1(kLogListening).arg(share::ListenText(m_address, m_port)));
    emit listeningChanged(true);
    return true;
}

void CShareServer::Close()
{
    const bool was = IsListening();
    const bool hadViewers = !m_viewers.empty();
    for (auto &viewer : m_viewers) {
        viewer->socket->disconnect(this);
        viewer->socket->abort();
        delete viewer->socket;
    }
    m_viewers.clear();
    m_upgrading.clear();
    // The listener and every socket it made go with the HTTP server.
    m_listener = nullptr;
    m_http.reset();
    m_connections = 0;
    m_port = 0;
    if (hadViewers)
        emit viewersChanged(0);
    if (was)
        emit listeningChanged(false);
}

bool CShareServer::IsListening() const
{
    return m_listener && m_listener->isListening();
}

QUrl CShareServer::PageUrl() const
{
    QHostAddress host = m_address;
    if (host == QHostAddress::Any || host == QHostAddress::AnyIPv4 ||
        host == QHostAddress::AnyIPv6) {
        // A browser cannot open "every interface": name one of this computer's addresses.
        host = QHostAddress(QHostAddress::LocalHost);
        for (const QHostAddress &a : QNetworkInterface::allAddresses()) {
            if (a.protocol() == QAbstractSocket::IPv4Protocol && !a.isLoopback() &&
                !a.isLinkLocal()) {
                host = a;
                break;
            }
        }
    }
    QUrl url;
    url.setScheme(QStringLiteral("http"));
    url.setHost(host.toString());
    url.setPort(m_port);
    url.setPath(QStringLiteral("/"));
    if (m_control && !m_token.isEmpty())
        url.setQuery(QStringLiteral("token=") + m_token);
    return url;
}

void CShareServer::SetControlAllowed(bool allowed)
{
    if (m_control == allowed)
        return;
    m_control = allowed;
    PushStatus();
}

void CShareServer::Log(const QString &line) const
{
    if (m_log)
        m_log(line);
}

// ----------------------------------------------------------------------------------------
// The gate: every connection's first request is judged from its head alone.

void CShareServer::OnIncoming(QTcpSocket *socket)
{
    socket->setReadBufferSize(kReadBufferBytes);
    if (m_connections >= share::kMaxConnections) {
        Refuse(socket, 503);
        return;
    }
    ++m_connections;
    auto counted = std::make_shared<bool>(true);
    connect(socket, &QObject::destroyed, this, [this, counted] {
        if (*counted)
            --m_connections;
    });
    connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);

    auto *gate = new Gate(socket, counted);
    connect(socket, &QTcpSocket::readyRead, gate, [this, socket] { Examine(socket); });

    auto *deadline = new QTimer(socket);
    deadline->setObjectName(QString::fromLatin1(kDeadlineName));
    deadline->setSingleShot(true);
    connect(deadline, &QTimer::timeout, socket, [socket] { socket->abort(); });
    deadline->start(kExchangeMs);

    if (socket->bytesAvailable() > 0)
        Examine(socket);
}

void CShareServer::Examine(QTcpSocket *socket)
{
    share::RequestHead head;
    const QByteArray bytes = socket->peek(share::kMaxHeadBytes);
    switch (share::ParseRequestHead(bytes, head)) {
    case share::HeadParse::Incomplete:
        return;
    case share::HeadParse::TooLarge:
        Refuse(socket, 431);
        return;
    case share::HeadParse::Malformed:
        Refuse(socket, 400);
        return;
    case share::HeadParse::Complete:
        break;
    }
    const share::Verdict verdict = share::Judge(head, ViewerCount() + int(m_upgrading.size()));
    if (verdict.status != 0) {
        Refuse(socket, verdict.status, verdict.allow);
        return;
    }
    if (verdict.route == share::Route::Live)
        HandToLive(socket);
    else
        HandToHttp(socket);
}

void CShareServer::Refuse(QTcpSocket *socket, int status, const QByteArray &allow)
{
    EndGate(socket, true);
    const QByteArray reason = Reason(status);
    QByteArray answer = "HTTP/1.1 " + QByteArray::number(status) + ' ' + reason +
                        "\r\nContent-Type: text/plain; charset=utf-8\r\nContent-Length: " +
                        QByteArray::number(reason.size() + 1) +
                        "\r\nCache-Control: no-store\r\nConnection: close\r\n";
    if (!allow.isEmpty())
        answer += "Allow: " + allow + "\r\n";
    if (status == 503)
        answer += "Retry-After: 10\r\n";
    answer += "\r\n" + reason + "\n";
    socket->write(answer);

    // Closing with unread input would reset the connection and could take the answer with
    // it: what else the client sends is read and dropped until it closes or time is up.
    auto dropped = std::make_shared<qint64>(0);
    auto drop = [socket, dropped] {
        const qint64 n = socket->bytesAvailable();
        socket->skip(n);
        *dropped += n;
        if (*dropped > kLingerBytes)
            socket->abort();
    };
    connect(socket, &QTcpSocket::readyRead, socket, drop);
    connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater, Qt::UniqueConnection);
    // Without a body on its way the connection can close as soon as the answer has left.
    if (status != 411 && status != 413 && status != 431)
        connect(socket, &QTcpSocket::bytesWritten, socket, [socket] {
            if (socket->bytesToWrite() == 0)
                socket->disconnectFromHost();
        });
    QTimer::singleShot(kLingerMs, socket, [socket] { socket->abort(); });
    drop();
}

void CShareServer::HandToHttp(QTcpSocket *socket)
{
    EndGate(socket, false);
    // One request per connection, so that every request passes the gate: once the answer
    // has left, the connection is closed.
    connect(socket, &QTcpSocket::bytesWritten, socket, [socket] {
        if (socket->bytesToWrite() == 0)
            socket->disconnectFromHost();
    });
    m_listener->Hand(socket);
    // The server reads what is already buffered as soon as it looks.
    QMetaObject::invokeMethod(socket, &QTcpSocket::readyRead, Qt::QueuedConnection);
}

void CShareServer::HandToLive(QTcpSocket *socket)
{
    // No longer a plain connection: it counts as a viewer from here on.
    if (Gate *gate = Gate::Of(socket); gate && gate->Uncount())
        --m_connections;
    EndGate(socket, true);
    // From here the WebSocket that the handshake makes owns the connection.
    disconnect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    m_upgrading.insert(socket);
    connect(socket, &QObject::destroyed, this,
            [this, socket] { m_upgrading.remove(static_cast<QTcpSocket *>(socket)); });
    // Gone before it became a viewer: nobody else will take it.
    connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
        if (m_upgrading.remove(socket))
            socket->deleteLater();
    });
    // The handshake server reads what is already buffered by itself.
    m_live->handleConnection(socket);
}

// ----------------------------------------------------------------------------------------
// Viewers

void CShareServer::OnNewViewer()
{
    while (m_live->hasPendingConnections()) {
        QWebSocket *socket = m_live->nextPendingConnection();
        if (!socket)
            break;
        for (auto it = m_upgrading.begin(); it != m_upgrading.end(); ++it) {
            if ((*it)->peerPort() == socket->peerPort() &&
                (*it)->peerAddress() == socket->peerAddress()) {
                m_upgrading.erase(it);
                break;
            }
        }
        socket->setParent(this);
        if (!IsListening() || ViewerCount() >= share::kMaxViewers) {
            socket->close(QWebSocketProtocol::CloseCodePolicyViolated,
                          QStringLiteral("the share is full"));
            socket->deleteLater();
            continue;
        }
        // Viewers only listen; anything they send is small or a mistake.
        socket->setMaxAllowedIncomingFrameSize(share::kMaxBodyBytes);
        socket->setMaxAllowedIncomingMessageSize(share::kMaxBodyBytes);
        auto viewer = std::make_unique<Viewer>();
        viewer->socket = socket;
        viewer->picture = m_latest;
        viewer->statusPending = true;
        viewer->progress = Clock::now();
        Viewer *raw = viewer.get();
        m_viewers.push_back(std::move(viewer));
        connect(socket, &QWebSocket::disconnected, this, [this, socket] { DropViewer(socket); });
        connect(socket, &QWebSocket::bytesWritten, this, [this, raw] {
            raw->progress = Clock::now();
            Pump(*raw);
        });
        Pump(*raw);
        emit viewersChanged(ViewerCount());
        PushStatus();
    }
}

void CShareServer::DropViewer(QWebSocket *socket)
{
    const auto it = std::find_if(m_viewers.begin(), m_viewers.end(),
                                 [socket](const auto &v) { return v->socket == socket; });
    if (it == m_viewers.end())
        return;
    m_viewers.erase(it);
    socket->disconnect(this);
    socket->deleteLater();
    emit viewersChanged(ViewerCount());
    PushStatus();
}

void CShareServer::Pump(Viewer &viewer)
{
    // At most one message of each kind is in flight: until it has left, newer pictures
    // replace the one waiting.
    if (viewer.socket->bytesToWrite() > 0)
        return;
    if (viewer.statusPending) {
        viewer.statusPending = false;
        viewer.socket->sendTextMessage(
            QString::fromUtf8(QJsonDocument(Info()).toJson(QJsonDocument::Compact)));
    }
    if (!viewer.picture.isEmpty()) {
        viewer.socket->sendBinaryMessage(viewer.picture);
        viewer.picture.clear();
    }
}

void CShareServer::PushStatus()
{
    for (auto &viewer : m_viewers) {
        viewer->statusPending = true;
        Pump(*viewer);
    }
}

qint64 CShareServer::LargestBacklog() const
{
    qint64 largest = 0;
    for (const auto &viewer : m_viewers)
        largest = std::max(largest, viewer->socket->bytesToWrite() + viewer->picture.size());
    return largest;
}

void CShareServer::SetStatus(const ShareStatus &status)
{
    m_status = status;
    PushStatus();
}

void CShareServer::PublishPicture(const QByteArray &jpeg, Clock::time_point arrived)
{
    if (jpeg.isEmpty())
        return;
    m_latest = jpeg;
    ++m_pictures;
    m_pictureBytes += jpeg.size();
    m_lastArrival = arrived;
    m_recent.push_back(arrived);
    while (m_recent.size() > kRateSamples || arrived - m_recent.front() > kRateSpan)
        m_recent.pop_front();

    const auto now = Clock::now();
    std::vector<QWebSocket *> stalled;
    for (auto &viewer : m_viewers) {
        viewer->picture = jpeg; // shared, not copied
        if (viewer->socket->bytesToWrite() == 0)
            viewer->progress = now;
        else if (now - viewer->progress > std::chrono::milliseconds(kViewerStallMs))
            stalled.push_back(viewer->socket);
        Pump(*viewer);
    }
    for (QWebSocket *socket : stalled) {
        Log(QString::fromLatin1(kLogViewerStalled)
                .arg(Peer(socket->peerAddress()))
                .arg(kViewerStallMs / 1000));
        socket->abort();
        DropViewer(socket);
    }
}

QJsonObject CShareServer::Info() const
{
    QJsonArray keys;
    for (const ShareKey &key : m_status.keys)
        keys.append(QJsonObject{{QStringLiteral("label"), key.label},
                                {QStringLiteral("command"), key.command}});
    double rate = 0;
    const auto now = Clock::now();
    if (m_recent.size() >= 2 && now - m_recent.back() < kRateSpan) {
        const double span =
            std::chrono::duration<double>(m_recent.back() - m_recent.front()).count();
        if (span > 0)
            rate = double(m_recent.size() - 1) / span;
    }
    const qint64 age =
        m_pictures == 0
            ? -1
            : std::chrono::duration_cast<std::chrono::milliseconds>(now - m_lastArrival).count();
    QJsonObject link{
        {QStringLiteral("pictureBytes"), m_latest.size()},
        {QStringLiteral("totalBytes"), m_pictureBytes},
        {QStringLiteral("picturesPerSecond"), std::round(rate * 100) / 100},
        {QStringLiteral("lastPictureMs"), age},
    };
    return QJsonObject{
        {QStringLiteral("model"), m_status.model},
        {QStringLiteral("family"), m_status.family},
        {QStringLiteral("state"), StateName(m_status.state)},
        {QStringLiteral("method"), MethodName(m_status.method)},
        {QStringLiteral("address"), m_status.address},
        {QStringLiteral("pictures"), qint64(m_pictures)},
        {QStringLiteral("viewers"), ViewerCount()},
        {QStringLiteral("maxViewers"), share::kMaxViewers},
        {QStringLiteral("control"), m_control},
        {QStringLiteral("started"), IsStarted(m_status.state)},
        {QStringLiteral("touch"), m_status.touch},
        {QStringLiteral("screen"), QJsonObject{{QStringLiteral("width"), m_status.screenWidth},
                                               {QStringLiteral("height"), m_status.screenHeight}}},
        {QStringLiteral("link"), link},
        {QStringLiteral("keys"), keys},
    };
}

// ----------------------------------------------------------------------------------------
// Routes

void CShareServer::SetUpRoutes()
{
    using Method = QHttpServerRequest::Method;
    using Status = QHttpServerResponse::StatusCode;
    m_http->route(QStringLiteral("/"), Method::Get, [this] {
        QHttpServerResponse response(QByteArrayLiteral("text/html; charset=utf-8"), m_page);
        // Everything the page uses comes from here; nothing from any other host.
        response.addHeader(
            QByteArrayLiteral("Content-Security-Policy"),
            QByteArrayLiteral("default-src 'none'; script-src 'self'; style-src 'self'; "
                              "img-src 'self' blob: data:; connect-src 'self'; "
                              "base-uri 'none'; form-action 'none'; frame-ancestors 'none'"));
        return response;
    });
    m_http->route(QStringLiteral("/share.js"), Method::Get, [this] {
        return QHttpServerResponse(QByteArrayLiteral("text/javascript; charset=utf-8"), m_script);
    });
    m_http->route(QStringLiteral("/share.css"), Method::Get, [this] {
        return QHttpServerResponse(QByteArrayLiteral("text/css; charset=utf-8"), m_style);
    });
    m_http->route(QStringLiteral("/screen.jpg"), Method::Get, [this] {
        if (m_latest.isEmpty())
            return Text(kTextNoPicture, Status::ServiceUnavailable);
        return QHttpServerResponse(QByteArrayLiteral("image/jpeg"), m_latest);
    });
    m_http->route(QStringLiteral("/api/info"), Method::Get,
                  [this] { return QHttpServerResponse(Info()); });
    m_http->route(QStringLiteral("/api/key"), Method::Post,
                  [this](const QHttpServerRequest &request) { return AnswerKey(request); });
    m_http->afterRequest([](QHttpServerResponse &&response) {
        response.addHeader(QByteArrayLiteral("Cache-Control"), QByteArrayLiteral("no-store"));
        response.addHeader(QByteArrayLiteral("X-Content-Type-Options"),
                           QByteArrayLiteral("nosniff"));
        response.addHeader(QByteArrayLiteral("Referrer-Policy"), QByteArrayLiteral("no-referrer"));
        response.addHeader(QByteArrayLiteral("Connection"), QByteArrayLiteral("close"));
        return std::move(response);
    });
}

QHttpServerResponse CShareServer::AnswerKey(const QHttpServerRequest &request)
{
    using Status = QHttpServerResponse::StatusCode;
    const QString peer = Peer(request.remoteAddress());
    if (!m_control) {
        Log(QString::fromLatin1(kLogControlOff).arg(peer));
        return Text(kTextControlOff, Status::Forbidden);
    }
    const QByteArray query = request.url().query(QUrl::FullyEncoded).toLatin1();
    if (!share::TokenMatches(m_token, share::QueryValue(query, "token"))) {
        Log(QString::fromLatin1(kLogBadToken).arg(peer));
        return Text(kTextBadToken, Status::Forbidden);
    }
    const QByteArray body = request.body();
    if (body.size() > share::kMaxBodyBytes)
        return Text(Reason(413), Status::PayloadTooLarge);
    if (!share::IsKeyText(body))
        return Text(kTextBadKey, Status::BadRequest);
    const KeyOutcome outcome =
        m_keyHandler ? m_keyHandler(body.toStdString()) : KeyOutcome::NotStarted;
    switch (outcome) {
    case KeyOutcome::Queued:
        return QHttpServerResponse(
            QJsonObject{{QStringLiteral("queued"), QString::fromLatin1(body)}}, Status::Accepted);
    case KeyOutcome::NotStarted:
        return Text(kTextNotStarted, Status::Conflict);
    case KeyOutcome::NoAnswer:
        break;
    }
    return Text(kTextNoAnswer, Status::ServiceUnavailable);
}
