// The share server on its own: what it serves, what it lets in, and how it treats viewers,
// fed with pictures and a status by the test instead of a panel.
#include "CShareServer.h"
#include "ShareHttp.h"
#include "ShareTestKit.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QWebSocket>

#include <gtest/gtest.h>

#include <memory>
#include <vector>

namespace {

QByteArray Picture(int n, int size = 2000)
{
    QByteArray bytes(size, char('a' + n % 26));
    bytes[0] = char(0xFF);
    bytes[1] = char(0xD8);
    bytes.append(QByteArray::number(n));
    return bytes;
}

struct Fixture
{
    CShareServer server;
    QStringList log;
    std::vector<std::string> keys;
    CShareServer::KeyOutcome outcome = CShareServer::KeyOutcome::Queued;

    Fixture()
    {
        server.SetLogSink([this](const QString &line) { log << line; });
        server.SetKeyHandler([this](const std::string &text) {
            keys.push_back(text);
            return outcome;
        });
        ShareStatus status;
        status.model = "KL535C";
        status.family = "530C Series";
        status.state = SessionState::Started;
        status.method = ConnMethod::TcpIPv4;
        status.address = "192.168.1.50";
        status.touch = true;
        status.keys = {{"Mode", "KEYP:MODE"}, {"1", "KEYP:NUM1"}};
        server.SetStatus(status);
        EXPECT_TRUE(server.Listen(QHostAddress(QHostAddress::LocalHost), 0));
    }
    quint16 Port() const { return server.Port(); }
    QByteArray KeyTarget(const QString &token) const
    {
        return "/api/key?token=" + token.toLatin1();
    }
};

// A WebSocket viewer that keeps what it gets.
struct Viewer
{
    QWebSocket socket;
    QList<QByteArray> pictures;
    QStringList texts;
    explicit Viewer(quint16 port)
    {
        QObject::connect(&socket, &QWebSocket::binaryMessageReceived,
                         [this](const QByteArray &m) { pictures << m; });
        QObject::connect(&socket, &QWebSocket::textMessageReceived,
                         [this](const QString &m) { texts << m; });
        socket.open(QUrl(QStringLiteral("ws://127.0.0.1:%1/live").arg(port)));
    }
    bool Open() const { return socket.state() == QAbstractSocket::ConnectedState; }
};

QJsonObject Json(const QByteArray &bytes)
{
    return QJsonDocument::fromJson(bytes).object();
}

} // namespace

TEST(ShareServer, PageScriptAndStyleComeFromTheProgramAndLoadNothingFromElsewhere)
{
    Fixture f;
    const HttpReply page = Get(f.Port(), "/");
    ASSERT_EQ(page.status, 200);
    EXPECT_EQ(page.headers.at("content-type"), "text/html; charset=utf-8");
    EXPECT_NE(page.headers.at("content-security-policy").find("default-src 'none'"),
              std::string::npos);
    EXPECT_TRUE(page.body.contains("src=\"share.js\""));
    const HttpReply script = Get(f.Port(), "/share.js");
    const HttpReply style = Get(f.Port(), "/share.css");
    ASSERT_EQ(script.status, 200);
    ASSERT_EQ(style.status, 200);
    EXPECT_TRUE(script.body.contains("/live"));
    for (const HttpReply *r : {&page, &script, &style}) {
        EXPECT_FALSE(r->body.contains("http://")) << r->body.left(200).constData();
        EXPECT_FALSE(r->body.contains("https://"));
        EXPECT_EQ(r->headers.at("connection"), "close");
    }
}

TEST(ShareServer, ScreenIsTheLatestPictureAsPublished)
{
    Fixture f;
    EXPECT_EQ(Get(f.Port(), "/screen.jpg").status, 503);
    f.server.PublishPicture(Picture(1), std::chrono::steady_clock::now());
    f.server.PublishPicture(Picture(2, 300000), std::chrono::steady_clock::now());
    const HttpReply reply = Get(f.Port(), "/screen.jpg");
    ASSERT_EQ(reply.status, 200);
    EXPECT_EQ(reply.headers.at("content-type"), "image/jpeg");
    EXPECT_EQ(reply.headers.at("cache-control"), "no-store");
    EXPECT_EQ(reply.body, Picture(2, 300000));
}

TEST(ShareServer, InfoTellsTheInstrumentAndTheFiguresOfItsPictures)
{
    Fixture f;
    const auto t0 = std::chrono::steady_clock::now();
    for (int i = 0; i < 5; ++i)
        f.server.PublishPicture(Picture(i), t0 + std::chrono::milliseconds(500 * i));
    const HttpReply reply = Get(f.Port(), "/api/info");
    ASSERT_EQ(reply.status, 200);
    EXPECT_EQ(reply.headers.at("content-type"), "application/json");
    const QJsonObject info = Json(reply.body);
    EXPECT_EQ(info["model"].toString(), "KL535C");
    EXPECT_EQ(info["family"].toString(), "530C Series");
    EXPECT_EQ(info["state"].toString(), "started");
    EXPECT_EQ(info["method"].toString(), "TCP/IP");
    EXPECT_EQ(info["address"].toString(), "192.168.1.50");
    EXPECT_EQ(info["pictures"].toInt(), 5);
    EXPECT_FALSE(info["control"].toBool());
    const QJsonObject link = info["link"].toObject();
    EXPECT_EQ(link["pictureBytes"].toInt(), Picture(4).size());
    EXPECT_DOUBLE_EQ(link["picturesPerSecond"].toDouble(), 2.0);
    EXPECT_EQ(info["keys"].toArray().size(), 2);
    EXPECT_EQ(info["keys"].toArray()[0].toObject()["command"].toString(), "KEYP:MODE");
}

TEST(ShareServer, KeysNeedControlAndTheTokenAndArriveInOrder)
{
    Fixture f;
    const QString token = f.server.Token();
    ASSERT_EQ(token.size(), 32);
    // Control is off by default, token or not.
    EXPECT_EQ(Post(f.Port(), f.KeyTarget(token), "KEYP:MODE").status, 403);
    ASSERT_EQ(f.log.size(), 2); // the listen line and the refusal
    EXPECT_TRUE(f.log.last().contains("control is off")) << f.log.last().toStdString();

    f.server.SetControlAllowed(true);
    EXPECT_TRUE(f.server.PageUrl().toString().endsWith("?token=" + token));
    EXPECT_EQ(Post(f.Port(), "/api/key", "KEYP:MODE").status, 403);
    EXPECT_EQ(Post(f.Port(), "/api/key?token=" + QByteArray(32, '0'), "KEYP:MODE").status, 403);
    EXPECT_EQ(Post(f.Port(), f.KeyTarget(token.left(31)), "KEYP:MODE").status, 403);
    EXPECT_EQ(f.log.filter("wrong or missing token").size(), 3);
    EXPECT_TRUE(f.keys.empty());

    const std::vector<std::string> sent{"KEYP:MODE", "KEYP:NUM1", "KEYP 10,20", "KEYP:ESC",
                                        std::string(126, 'K')};
    for (const std::string &key : sent)
        EXPECT_EQ(Post(f.Port(), f.KeyTarget(token), QByteArray::fromStdString(key)).status, 202);
    EXPECT_EQ(f.keys, sent);

    // Texts the instrument cannot take are refused before they reach the panel.
    for (const QByteArray &bad : {QByteArray(), QByteArray(127, 'K'), QByteArray("KEYP:MODE\n"),
                                  QByteArray("KEYP:\x01"), QByteArray("KEYP:\xC3\xA9")})
        EXPECT_EQ(Post(f.Port(), f.KeyTarget(token), bad).status, 400) << bad.toHex().constData();
    EXPECT_EQ(f.keys.size(), sent.size());

    f.outcome = CShareServer::KeyOutcome::NotStarted;
    EXPECT_EQ(Post(f.Port(), f.KeyTarget(token), "KEYP:MODE").status, 409);
    f.outcome = CShareServer::KeyOutcome::NoAnswer;
    EXPECT_EQ(Post(f.Port(), f.KeyTarget(token), "KEYP:MODE").status, 503);
    // A new start is a new token: an old page can no longer press keys.
    ASSERT_TRUE(f.server.Listen(QHostAddress(QHostAddress::LocalHost), 0));
    EXPECT_NE(f.server.Token(), token);
    f.outcome = CShareServer::KeyOutcome::Queued;
    EXPECT_EQ(Post(f.Port(), f.KeyTarget(token), "KEYP:MODE").status, 403);
}

TEST(ShareServer, EveryViewerGetsTheStatusThenEveryPicture)
{
    Fixture f;
    f.server.PublishPicture(Picture(0), std::chrono::steady_clock::now());
    Viewer a(f.Port()), b(f.Port());
    ASSERT_TRUE(WaitFor([&] { return a.pictures.size() == 1 && b.pictures.size() == 1; }));
    EXPECT_EQ(f.server.ViewerCount(), 2);
    ASSERT_FALSE(a.texts.isEmpty());
    EXPECT_EQ(Json(a.texts.first().toUtf8())["model"].toString(), "KL535C");
    for (int i = 1; i <= 3; ++i) {
        f.server.PublishPicture(Picture(i), std::chrono::steady_clock::now());
        ASSERT_TRUE(
            WaitFor([&] { return a.pictures.size() == i + 1 && b.pictures.size() == i + 1; }));
    }
    EXPECT_EQ(a.pictures, (QList<QByteArray>{Picture(0), Picture(1), Picture(2), Picture(3)}));
    EXPECT_EQ(b.pictures, a.pictures);
    // A status change reaches the viewers as it happens.
    ShareStatus status = f.server.Status();
    status.state = SessionState::LinkLost;
    f.server.SetStatus(status);
    ASSERT_TRUE(WaitFor([&] { return Json(a.texts.last().toUtf8())["state"] == "linkLost"; }));
    a.socket.close();
    ASSERT_TRUE(WaitFor([&] { return f.server.ViewerCount() == 1; }));
}

TEST(ShareServer, TheThirtyThirdViewerIsTurnedAwayUntilOneLeaves)
{
    Fixture f;
    std::vector<std::unique_ptr<Viewer>> viewers;
    for (int i = 0; i < share::kMaxViewers; ++i)
        viewers.push_back(std::make_unique<Viewer>(f.Port()));
    ASSERT_TRUE(WaitFor([&] { return f.server.ViewerCount() == share::kMaxViewers; }));
    const HttpReply full = Beside([&] { return RawHttp(f.Port(), UpgradeRequest(), 2000); });
    EXPECT_EQ(full.status, 503);
    EXPECT_EQ(f.server.ViewerCount(), share::kMaxViewers);
    // Plain requests are not viewers and are still answered.
    EXPECT_EQ(Get(f.Port(), "/api/info").status, 200);
    viewers.front()->socket.close();
    ASSERT_TRUE(WaitFor([&] { return f.server.ViewerCount() == share::kMaxViewers - 1; }));
    Viewer late(f.Port());
    ASSERT_TRUE(WaitFor([&] { return late.Open(); }));
    EXPECT_EQ(f.server.ViewerCount(), share::kMaxViewers);
}

TEST(ShareServer, AViewerThatDoesNotReadSkipsPicturesAndHoldsNoQueue)
{
    Fixture f;
    constexpr int kSize = 200000;
    // Handshake sent, nothing ever read: its buffers fill and stay full.
    const int slow = ConnectLoopback(f.Port(), 4096);
    ASSERT_GE(slow, 0);
    ASSERT_TRUE(SendAll(slow, UpgradeRequest()));
    Viewer quick(f.Port());
    ASSERT_TRUE(WaitFor([&] { return f.server.ViewerCount() == 2 && quick.Open(); }));
    qint64 largest = 0;
    for (int i = 0; i < 60; ++i) {
        f.server.PublishPicture(Picture(i, kSize), std::chrono::steady_clock::now());
        Spin(5);
        largest = std::max(largest, f.server.LargestBacklog());
    }
    // One picture in flight and one waiting at most, however many were published.
    EXPECT_LE(largest, 2 * (kSize + 100));
    ASSERT_TRUE(WaitFor(
        [&] { return !quick.pictures.isEmpty() && quick.pictures.last() == Picture(59, kSize); }));
    EXPECT_EQ(f.server.ViewerCount(), 2);
    ::close(slow);
}

TEST(ShareServer, AHundredClientsAtOnceAreAllAnswered)
{
    Fixture f;
    f.server.PublishPicture(Picture(1), std::chrono::steady_clock::now());
    const quint16 port = f.Port();
    const std::vector<int> statuses = Beside([port] {
        std::vector<std::future<int>> clients;
        for (int i = 0; i < 100; ++i)
            clients.push_back(std::async(std::launch::async, [port, i] {
                return RawHttp(port, GetRequest(i % 2 ? "/api/info" : "/screen.jpg"), 10000).status;
            }));
        std::vector<int> out;
        for (auto &c : clients)
            out.push_back(c.get());
        return out;
    });
    EXPECT_EQ(std::count(statuses.begin(), statuses.end(), 200), 100);
    // Every connection was closed after its answer and counted off.
    EXPECT_TRUE(WaitFor([&] { return Get(port, "/api/info").status == 200; }));
}
