// The browser view of one instrument: an HTTP server with a self-contained page, the latest
// picture, a JSON summary, a key endpoint guarded by a token, and a WebSocket that pushes
// every new picture to every viewer. It lives on the thread that feeds it (the window thread
// of a panel, the main thread of the command-line server) and never waits there: every
// request is answered from memory, and a viewer that cannot keep up gets the newest picture
// and skips older ones, so no viewer ever holds more than one picture in flight and one
// waiting.
#pragma once

#include "ShareStatus.h"

#include <QByteArray>
#include <QHostAddress>
#include <QJsonObject>
#include <QObject>
#include <QSet>
#include <QString>
#include <QUrl>

#include <chrono>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class QHttpServer;
class QHttpServerRequest;
class QHttpServerResponse;
class QTcpSocket;
class QWebSocket;
class QWebSocketServer;

class CShareServer : public QObject
{
    Q_OBJECT
public:
    enum class KeyOutcome
    {
        Queued,     // handed to the panel's key path
        NotStarted, // remote control is not running: keys are not taken
        NoAnswer,   // the instrument does not answer: the key would be lost
    };
    using KeyHandler = std::function<KeyOutcome(const std::string &text)>;
    using LogSink = std::function<void(const QString &line)>;
    using Clock = std::chrono::steady_clock;

    // A viewer whose pictures have not moved for this long is let go.
    static constexpr int kViewerStallMs = 30000;
    // A plain HTTP exchange (request and answer) gets this long in all.
    static constexpr int kExchangeMs = 15000;

    explicit CShareServer(QObject *parent = nullptr);
    ~CShareServer() override;
    CShareServer(const CShareServer &) = delete;
    CShareServer &operator=(const CShareServer &) = delete;

    // Starts listening (port 0: any free port) with a new token. False with ErrorString().
    bool Listen(const QHostAddress &address, quint16 port);
    // Stops listening and lets every viewer and connection go.
    void Close();
    bool IsListening() const;
    QHostAddress Address() const { return m_address; }
    quint16 Port() const { return m_port; }
    QString ErrorString() const { return m_error; }
    // 32 hexadecimal digits, new for every Listen.
    QString Token() const { return m_token; }
    // The address to open in a browser: the listening address, or one of this computer's
    // own when it listens on every interface; with the token while control is allowed.
    QUrl PageUrl() const;

    // Keys and touches from browsers; off unless allowed.
    void SetControlAllowed(bool allowed);
    bool ControlAllowed() const { return m_control; }
    // Called on this object's thread for every accepted key text.
    void SetKeyHandler(KeyHandler handler) { m_keyHandler = std::move(handler); }
    // Where refusals are written (the diagnostic log, standard error).
    void SetLogSink(LogSink sink) { m_log = std::move(sink); }
    // One line to that sink.
    void Log(const QString &line) const;

    // The instrument as the page shows it; viewers are told of every change.
    void SetStatus(const ShareStatus &status);
    const ShareStatus &Status() const { return m_status; }
    // A new picture (the instrument's JPEG bytes) for every viewer and for /screen.jpg.
    void PublishPicture(const QByteArray &jpeg, Clock::time_point arrived);

    int ViewerCount() const { return int(m_viewers.size()); }
    // Bytes still waiting to leave for the viewer furthest behind.
    qint64 LargestBacklog() const;
    // What /api/info answers.
    QJsonObject Info() const;

signals:
    void viewersChanged(int viewers);
    void listeningChanged(bool listening);

private:
    class Listener;
    struct Viewer;

    void OnIncoming(QTcpSocket *socket);
    void Examine(QTcpSocket *socket);
    void Refuse(QTcpSocket *socket, int status, const QByteArray &allow = {});
    void HandToHttp(QTcpSocket *socket);
    void HandToLive(QTcpSocket *socket);
    void OnNewViewer();
    void DropViewer(QWebSocket *socket);
    void Pump(Viewer &viewer);
    void PushStatus();
    void SetUpRoutes();
    QHttpServerResponse AnswerKey(const QHttpServerRequest &request);

    std::unique_ptr<QHttpServer> m_http;
    std::unique_ptr<QWebSocketServer> m_live;
    Listener *m_listener = nullptr; // owned by m_http once bound
    QHostAddress m_address;
    quint16 m_port = 0;
    QString m_error;
    QString m_token;
    bool m_control = false;
    KeyHandler m_keyHandler;
    LogSink m_log;

    ShareStatus m_status;
    QByteArray m_latest;
    quint64 m_pictures = 0;
    qint64 m_pictureBytes = 0;
    std::deque<Clock::time_point> m_recent; // arrival times of the last pictures
    Clock::time_point m_lastArrival{};

    std::vector<std::unique_ptr<Viewer>> m_viewers;
    QSet<QTcpSocket *> m_upgrading; // handed to the WebSocket handshake, not yet viewers
    int m_connections = 0;          // plain HTTP connections open

    QByteArray m_page, m_script, m_style;
};
