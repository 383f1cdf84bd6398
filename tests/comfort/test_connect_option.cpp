// klremote --connect: what it accepts, what is a usage error, and a real run that connects
// and starts without touching the stored settings.
#include "AppOptions.h"
#include "CSimServer.h"

#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "EventWait.h"

namespace {

ParseResult Parse(const QStringList &args, AppOptions &options)
{
    return ParseAppOptions(QStringList{QStringLiteral("klremote")} + args, options);
}

struct Expected
{
    QStringList args;
    int method;
    QString host;
    quint16 port;
};

} // namespace

TEST(ConnectOption, AddressesItAccepts)
{
    const Expected cases[] = {
        {{"--connect", "192.168.1.50"}, 1, "192.168.1.50", 0},
        {{"--connect", "192.168.1.50:5066", "--start"}, 1, "192.168.1.50", 5066},
        {{"--connect=analyser-3.lab.example", "--method", "tcp"}, 1, "analyser-3.lab.example", 0},
        {{"--connect", "fd00::66"}, 3, "fd00::66", 0},
        {{"--connect", "[fd00::66]:5066"}, 3, "fd00::66", 5066},
        {{"--connect", "analyser-3:66", "--method", "tcp6"}, 3, "analyser-3", 66},
        {{"--connect", "0b1e:0a01", "--method", "usb", "--family", "1"}, 2, "0b1e:0a01", 0},
    };
    for (const Expected &c : cases) {
        AppOptions options;
        const ParseResult r = Parse(c.args, options);
        ASSERT_EQ(r.outcome, ParseOutcome::Run)
            << c.args.join(' ').toStdString() << ": " << r.text.toStdString();
        EXPECT_EQ(options.connectMethod, c.method) << c.args.join(' ').toStdString();
        EXPECT_EQ(options.connectHost, c.host);
        EXPECT_EQ(options.connectPort, c.port);
        EXPECT_EQ(options.start, c.args.contains("--start"));
    }
    AppOptions options;
    ASSERT_EQ(Parse({}, options).outcome, ParseOutcome::Run);
    EXPECT_EQ(options.connectMethod, 0);
}

TEST(ConnectOption, AnythingElseIsAUsageErrorThatSaysWhy)
{
    const QStringList bad[] = {
        {"--connect", ""},
        {"--connect", "999.1.1.1"},
        {"--connect", "192.168.1"},
        {"--connect", "host name"},
        {"--connect", "-host"},
        {"--connect", "host:0"},
        {"--connect", "host:65536"},
        {"--connect", "host:"},
        {"--connect", "fd00::66", "--method", "tcp"},
        {"--connect", "[fd00::66"},
        {"--connect", "[192.168.1.50]:66"},
        {"--connect", "192.168.1.50", "--method", "tcp6"},
        {"--connect", "192.168.1.50", "--method", "usb"},
        {"--connect", "192.168.1.50", "--method", "serial"},
        {"--connect", "a", "--connect", "b"},
        {"--connect", "192.168.1.50", "--simulate"},
        {"--start"},
        {"--method", "tcp"},
    };
    for (const QStringList &args : bad) {
        AppOptions options;
        const ParseResult r = Parse(args, options);
        EXPECT_EQ(r.outcome, ParseOutcome::Error) << args.join(' ').toStdString();
        EXPECT_FALSE(r.text.isEmpty());
    }
    AppOptions options;
    EXPECT_EQ(Parse({"--connect", "bad host"}, options).text,
              "--connect: 'bad host' is not an IPv4 address or host name (ADDRESS or "
              "ADDRESS:PORT).");
}

namespace {

// klremote with a scratch home, on the offscreen platform.
struct AppRun
{
    QTemporaryDir home;
    QProcess process;

    QString StorePath() const { return home.filePath("config/Quorvex/KLRemote.conf"); }
    QString LogDir() const { return home.filePath("log"); }

    void Start(const QStringList &args)
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("HOME", home.path());
        env.insert("XDG_CONFIG_HOME", home.filePath("config"));
        env.insert("XDG_DATA_HOME", home.filePath("data"));
        env.insert("QT_QPA_PLATFORM", "offscreen");
        process.setProcessEnvironment(env);
        process.start(KLR_KLREMOTE_PATH, args + QStringList{"--log-dir", LogDir()});
    }
    QByteArray Log() const
    {
        QByteArray all;
        for (const QFileInfo &file : QDir(LogDir()).entryInfoList(QDir::Files)) {
            QFile f(file.filePath());
            if (f.open(QIODevice::ReadOnly))
                all += f.readAll();
        }
        return all;
    }
};

} // namespace

TEST(ConnectOption, OpensConnectsAndStartsWithoutTouchingTheStore)
{
    auto instrument = std::make_shared<CSimInstrument>();
    instrument->SetLogSink([](std::string_view) {});
    CSimServer server(instrument);
    ASSERT_TRUE(server.Start("127.0.0.1", 0));
    AppRun app;
    // Stored settings that point elsewhere (complete, so that loading repairs nothing);
    // they must be neither used nor changed.
    ASSERT_TRUE(QDir().mkpath(QFileInfo(app.StorePath()).path()));
    const QByteArray stored =
        "[Connection]\nIP=10.11.12.13\nIPV6=fd00::66\nMethod=2\nQuality=0\nScale=0\n";
    {
        QFile file(app.StorePath());
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(stored);
    }
    app.Start({"--connect", QStringLiteral("127.0.0.1:%1").arg(server.Port()), "--family", "1",
               "--start"});
    ASSERT_TRUE(app.process.waitForStarted(10000));
    EXPECT_TRUE(WaitFor([&] { return server.ScreensSent() >= 2; }, 30000))
        << app.Log().toStdString();
    app.process.terminate();
    ASSERT_TRUE(app.process.waitForFinished(20000));
    EXPECT_EQ(app.process.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(app.process.exitCode(), 0);
    EXPECT_TRUE(app.Log().contains("TCP Connected, Load Equp"));
    QFile file(app.StorePath());
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), stored);
}

TEST(ConnectOption, ABadAddressEndsWithExitTwoAndAMessage)
{
    AppRun app;
    app.Start({"--connect", "10.0.0.300", "--family", "1"});
    ASSERT_TRUE(app.process.waitForFinished(20000));
    EXPECT_EQ(app.process.exitCode(), 2);
    const QString err = QString::fromLocal8Bit(app.process.readAllStandardError());
    EXPECT_TRUE(err.startsWith("klremote: --connect: '10.0.0.300' is not an IPv4 address"))
        << err.toStdString();
    EXPECT_FALSE(QFile::exists(app.StorePath()));
}
