// "serve": the panels' browser view without a window. One worker thread owns the link: it
// fetches a screen every interval and sends the keys that browsers and scripts post, between
// fetches and in the order they came. The share server runs on the main thread's event loop.
#include "CCliSession.h"
#include "CShareServer.h"
#include "CliOptions.h"
#include "CliQtParts.h"
#include "Families.h"
#include "LkModelTable.h"
#include "QuitOnSignal.h"
#include "ShareHttp.h"
#include "ShareKeys.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QImageReader>
#include <QMetaObject>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kExitOk = 0;
constexpr int kExitLink = 1;
constexpr int kExitUsage = 2;

// Screens in a row that may fail before the instrument counts as not answering.
constexpr int kFailuresUntilLost = 3;
// After a failed reconnect the next attempt waits at least this long.
constexpr auto kReconnectPause = std::chrono::seconds(1);
// Keys waiting for the link at most; one beyond them is refused.
constexpr std::size_t kMaxQueuedKeys = 256;

constexpr const char *kLogSendError = "Send REQ_CMD Error: %1";
constexpr const char *kLogLost = "No answer from the instrument: %1";
constexpr const char *kLogBack = "The instrument answers again";

ShareStatus StatusOf(const CCliSession &session, const CliOptions &options)
{
    ShareStatus status;
    const std::string &model = session.Identification();
    status.model = QString::fromStdString(model);
    status.state = SessionState::Started;
    status.method = options.method;
    if (IsTcp(options.method))
        status.address = QString::fromStdString(options.host);
    return status;
}

// The panel family shows in the picture: the LK instruments' screens are 800 x 600, the KKC
// ones' 800 x 480. The keys offered and whether touches count follow from it, as on the panel.
void AdaptToPicture(ShareStatus &status, const QByteArray &jpeg)
{
    QBuffer buffer;
    buffer.setData(jpeg);
    const QSize size = QImageReader(&buffer, "jpeg").size();
    if (!size.isValid())
        return;
    status.screenWidth = size.width();
    status.screenHeight = size.height();
    if (size.height() == 600) {
        const std::string_view label = kFamilies[0].label;
        status.family = QString::fromUtf8(label.data(), qsizetype(label.size()));
        status.keys = share::LkKeys();
        status.touch = lk::ModelGroupOf(status.model.toStdString()) == lk::kTouchGroup;
    } else {
        status.keys = share::KkcKeys();
        status.touch = true;
    }
}

class CServeWorker
{
public:
    CServeWorker(CCliSession &session, CShareServer &server, ShareStatus status, int intervalMs)
        : m_session(session), m_server(server), m_status(std::move(status)),
          m_interval(std::chrono::milliseconds(intervalMs))
    {}
    ~CServeWorker() { Stop(); }

    void Start()
    {
        m_thread = std::thread([this] { Run(); });
    }
    void Stop()
    {
        {
            std::lock_guard guard(m_lock);
            m_stop = true;
        }
        m_wake.notify_all();
        if (m_thread.joinable())
            m_thread.join();
    }

    CShareServer::KeyOutcome PostKey(const std::string &text)
    {
        if (m_lost)
            return CShareServer::KeyOutcome::NoAnswer;
        {
            std::lock_guard guard(m_lock);
            if (m_keys.size() >= kMaxQueuedKeys)
                return CShareServer::KeyOutcome::NoAnswer;
            m_keys.push_back(text);
        }
        m_wake.notify_all();
        return CShareServer::KeyOutcome::Queued;
    }

private:
    // Everything the server hears of comes to its own thread.
    template <typename F>
    void OnServerThread(F &&f)
    {
        QMetaObject::invokeMethod(&m_server, std::forward<F>(f), Qt::QueuedConnection);
    }

    void Note(bool lost, const std::string &error)
    {
        if (m_lost == lost)
            return;
        m_lost = lost;
        ShareStatus status = m_status;
        status.state = lost ? SessionState::LinkLost : SessionState::Started;
        const QString line = lost ? QString::fromLatin1(kLogLost).arg(QString::fromStdString(error))
                                  : QString::fromLatin1(kLogBack);
        OnServerThread([server = &m_server, status, line] {
            server->SetStatus(status);
            server->Log(line);
        });
    }

    void Run()
    {
        auto next = Clock::now();
        int failures = 0;
        std::vector<std::uint8_t> jpeg;
        for (;;) {
            std::deque<std::string> keys;
            {
                std::unique_lock guard(m_lock);
                m_wake.wait_until(guard, next, [this] { return m_stop || !m_keys.empty(); });
                if (m_stop)
                    return;
                keys.swap(m_keys);
            }
            for (const std::string &key : keys) {
                if (!m_session.SendKey(key)) {
                    const QString line =
                        QString::fromLatin1(kLogSendError).arg(QString::fromStdString(key));
                    OnServerThread([server = &m_server, line] { server->Log(line); });
                }
            }
            const auto start = Clock::now();
            if (start < next)
                continue;
            next = start + m_interval;
            if (m_session.FetchScreen(jpeg) && !jpeg.empty()) {
                failures = 0;
                Note(false, {});
                QByteArray bytes(reinterpret_cast<const char *>(jpeg.data()),
                                 qsizetype(jpeg.size()));
                if (!m_adapted) {
                    m_adapted = true;
                    AdaptToPicture(m_status, bytes);
                    OnServerThread(
                        [server = &m_server, status = m_status] { server->SetStatus(status); });
                }
                const auto arrived = Clock::now();
                OnServerThread([server = &m_server, bytes, arrived] {
                    server->PublishPicture(bytes, arrived);
                });
                continue;
            }
            const std::string error = m_session.Error();
            if (++failures >= kFailuresUntilLost)
                Note(true, error);
            // A failed exchange may leave the stream mid-reply: the next one starts afresh.
            if (!m_session.Reconnect())
                next = std::max(next, Clock::now() + kReconnectPause);
        }
    }

    CCliSession &m_session;
    CShareServer &m_server;
    ShareStatus m_status; // the worker's own copy, handed to the server when it changes
    bool m_adapted = false;
    const Clock::duration m_interval;
    std::atomic<bool> m_lost{false};
    std::mutex m_lock;
    std::condition_variable m_wake;
    std::deque<std::string> m_keys;
    bool m_stop = false;
    std::thread m_thread;
};

} // namespace

bool CliServeUsable(const CliOptions &options, std::string &why)
{
    QHostAddress address;
    quint16 port = 0;
    QString error;
    if (share::ParseListen(QString::fromStdString(options.listen), address, port, error))
        return true;
    why = "--listen takes [ADDRESS:]PORT: " + error.toStdString();
    return false;
}

int RunServe(CCliSession &session, const CliOptions &options, std::ostream &out, std::ostream &err)
{
    QHostAddress address;
    quint16 port = 0;
    QString error;
    if (!share::ParseListen(QString::fromStdString(options.listen), address, port, error))
        return kExitUsage; // CliServeUsable has told why
    static int argc = 1;
    static char name[] = "klremote-cli";
    static char *argv[] = {name, nullptr};
    std::unique_ptr<QCoreApplication> app;
    if (!QCoreApplication::instance())
        app = std::make_unique<QCoreApplication>(argc, argv);

    CShareServer server;
    server.SetLogSink([&err](const QString &line) {
        err << line.toStdString() << "\n" << std::flush;
    });
    server.SetControlAllowed(options.allowControl);
    const ShareStatus status = StatusOf(session, options);
    server.SetStatus(status);
    if (!server.Listen(address, port)) {
        err << "error: cannot listen on " << share::ListenText(address, port).toStdString() << ": "
            << server.ErrorString().toStdString() << "\n";
        return kExitLink;
    }
    CServeWorker worker(session, server, status, options.intervalMs);
    server.SetKeyHandler([&worker](const std::string &text) { return worker.PostKey(text); });
    out << "serving " << server.PageUrl().toString().toStdString() << "\n" << std::flush;

    QuitOnSignal(QCoreApplication::instance(), [] { QCoreApplication::quit(); });
    worker.Start();
    QCoreApplication::exec();
    worker.Stop();
    server.Close();
    return kExitOk;
}
