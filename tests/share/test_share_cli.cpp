// klremote-cli serve as a script uses it: the same page and API without a window, against an
// in-process simulated instrument; it ends in order when told to stop.
#include "CSimServer.h"
#include "ShareTestKit.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>

#include <gtest/gtest.h>

#include <csignal>
#include <mutex>

namespace {

struct Served
{
    std::shared_ptr<CSimInstrument> instrument = std::make_shared<CSimInstrument>();
    CSimServer sim{instrument};
    QProcess cli;
    std::mutex lock;
    QList<QByteArray> sent; // every screen the instrument sent
    quint16 port = 0;
    QString url;

    bool Start(const QStringList &serveArgs)
    {
        instrument->SetLogSink([](std::string_view) {});
        instrument->SetScreenObserver([this](const QByteArray &jpeg) {
            std::lock_guard guard(lock);
            sent << jpeg;
        });
        if (!sim.Start("127.0.0.1", 0))
            return false;
        cli.start(KLR_CLI_PATH, QStringList{"--port", QString::number(sim.Port()), "serve",
                                            "--listen", "127.0.0.1:0"} +
                                    serveArgs);
        if (!cli.waitForStarted(10000) || !cli.waitForReadyRead(20000))
            return false;
        const QString line = QString::fromUtf8(cli.readLine()).trimmed();
        const QRegularExpression form("^serving (http://127\\.0\\.0\\.1:(\\d+)/\\S*)$");
        const auto match = form.match(line);
        if (!match.hasMatch())
            return false;
        url = match.captured(1);
        port = quint16(match.captured(2).toUInt());
        return true;
    }
    bool WasSent(const QByteArray &jpeg)
    {
        std::lock_guard guard(lock);
        return sent.contains(jpeg);
    }
    ~Served()
    {
        if (cli.state() != QProcess::NotRunning) {
            cli.kill();
            cli.waitForFinished(5000);
        }
        // The instrument's thread reports into `sent`: it must be gone before the list is.
        sim.Stop();
    }
};

} // namespace

TEST(ShareCli, ServesTheInstrumentsPicturesInfoAndKeysUntilStopped)
{
    Served s;
    ASSERT_TRUE(s.Start({"--allow-control", "--interval", "100"}))
        << s.cli.readAllStandardError().toStdString();
    const QRegularExpression tokenForm("\\?token=([0-9a-f]{32})$");
    const auto token = tokenForm.match(s.url);
    ASSERT_TRUE(token.hasMatch()) << s.url.toStdString();

    ASSERT_TRUE(WaitFor([&] { return RawHttp(s.port, GetRequest("/screen.jpg")).status == 200; }));
    const HttpReply screen = RawHttp(s.port, GetRequest("/screen.jpg"));
    ASSERT_EQ(screen.status, 200);
    EXPECT_TRUE(s.WasSent(screen.body)) << "not a picture the instrument sent";

    const QJsonObject info =
        QJsonDocument::fromJson(RawHttp(s.port, GetRequest("/api/info")).body).object();
    EXPECT_EQ(info["model"].toString(), QString::fromStdString(s.instrument->Model()));
    EXPECT_EQ(info["state"].toString(), "started");
    EXPECT_EQ(info["method"].toString(), "TCP/IP");
    EXPECT_TRUE(info["control"].toBool());
    EXPECT_GE(info["pictures"].toInt(), 1);

    const QByteArray target = "/api/key?token=" + token.captured(1).toLatin1();
    EXPECT_EQ(RawHttp(s.port, PostRequest(target, "KEYP:MODE")).status, 202);
    EXPECT_EQ(RawHttp(s.port, PostRequest(target, "KEYP:NUM5")).status, 202);
    EXPECT_EQ(RawHttp(s.port, PostRequest("/api/key", "KEYP:ESC")).status, 403);
    ASSERT_TRUE(WaitFor([&] { return s.instrument->ReceivedCommands().size() >= 2; }));
    EXPECT_EQ(s.instrument->ReceivedCommands(),
              (std::vector<std::string>{"KEYP:MODE", "KEYP:NUM5"}));

    // Pictures keep coming at the interval.
    const std::uint64_t before = s.instrument->ScreensSent();
    Spin(1500);
    EXPECT_GE(s.instrument->ScreensSent() - before, 5u);

    ::kill(pid_t(s.cli.processId()), SIGTERM);
    ASSERT_TRUE(s.cli.waitForFinished(10000));
    EXPECT_EQ(s.cli.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(s.cli.exitCode(), 0);
    EXPECT_TRUE(QString::fromUtf8(s.cli.readAllStandardError()).contains("wrong or missing token"));
}

TEST(ShareCli, ControlIsOffUnlessAskedForAndBadListenAddressesAreUsageErrors)
{
    Served s;
    ASSERT_TRUE(s.Start({}));
    EXPECT_FALSE(s.url.contains("token"));
    EXPECT_EQ(RawHttp(s.port, PostRequest("/api/key", "KEYP:MODE")).status, 403);

    QProcess bad;
    bad.start(KLR_CLI_PATH,
              {"--port", QString::number(s.sim.Port()), "serve", "--listen", "host:80"});
    ASSERT_TRUE(bad.waitForFinished(20000));
    EXPECT_EQ(bad.exitCode(), 2);
    EXPECT_TRUE(QString::fromUtf8(bad.readAllStandardError()).contains("--listen"));
}
