// klremote-cli as scripts run it, against the simulator as a separate process and against
// an in-process simulator whose faults and received commands the tests control.
#include "CSimServer.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>

namespace {

struct CliRun
{
    int exitCode = -1;
    QString out;
    QString err;
};

// Generous: only there to stop a hang.
constexpr int kProcessLimitMs = 60000;

CliRun RunCli(const QStringList &args)
{
    QProcess process;
    process.start(KLR_CLI_PATH, args);
    CliRun run;
    if (!process.waitForFinished(kProcessLimitMs)) {
        process.kill();
        process.waitForFinished();
        run.err = "did not finish";
        return run;
    }
    run.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -2;
    run.out = QString::fromUtf8(process.readAllStandardOutput());
    run.err = QString::fromUtf8(process.readAllStandardError());
    return run;
}

QStringList Target(const CSimServer &server, QStringList args)
{
    const bool v6 = server.Host() == "::1";
    QStringList head{"--method", v6 ? "tcp6" : "tcp",
                     "--host",   QString::fromStdString(server.Host()),
                     "--port",   QString::number(server.Port())};
    return head + args;
}

std::shared_ptr<CSimInstrument> QuietInstrument()
{
    auto instrument = std::make_shared<CSimInstrument>();
    instrument->SetLogSink({});
    instrument->SetClock([] { return QTime(9, 30, 0, 0); });
    return instrument;
}

// klremote-sim in its own process, on a free port.
class SimProcess
{
public:
    bool Start(const QStringList &args)
    {
        m_process.start(KLR_SIM_PATH, QStringList{"--port", "0"} + args);
        if (!m_process.waitForStarted(10000))
            return false;
        while (!m_process.canReadLine()) {
            if (!m_process.waitForReadyRead(10000))
                return false;
        }
        const QString line = QString::fromUtf8(m_process.readLine()).trimmed();
        static const QRegularExpression pattern("^listening on (.+):(\\d+)$");
        const auto match = pattern.match(line);
        if (!match.hasMatch())
            return false;
        host = match.captured(1);
        port = match.captured(2).toUShort();
        return port != 0;
    }
    ~SimProcess()
    {
        m_process.terminate();
        if (!m_process.waitForFinished(10000))
            m_process.kill();
    }
    QStringList Target(QStringList args) const
    {
        return QStringList{"--method", host.contains(':') ? "tcp6" : "tcp",
                           "--host",   host,
                           "--port",   QString::number(port)} +
               args;
    }
    int ExitCode()
    {
        m_process.terminate();
        m_process.waitForFinished(10000);
        return m_process.exitStatus() == QProcess::NormalExit ? m_process.exitCode() : -1;
    }
    QString host;
    quint16 port = 0;

private:
    QProcess m_process;
};

class CliAgainstSimulatorProcess : public ::testing::TestWithParam<const char *>
{
};

TEST_P(CliAgainstSimulatorProcess, InfoScreenshotAndWatch)
{
    SimProcess sim;
    ASSERT_TRUE(sim.Start({"--host", GetParam(), "--model", "KL514B", "--seed", "5"}));
    EXPECT_EQ(sim.host, GetParam());

    CliRun run = RunCli(sim.Target({"info"}));
    EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
    EXPECT_EQ(run.out, "KL514B\n");

    QTemporaryDir dir;
    const QString jpegPath = dir.filePath("screen.jpg");
    run = RunCli(sim.Target({"screenshot", jpegPath}));
    ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();
    QFile jpegFile(jpegPath);
    ASSERT_TRUE(jpegFile.open(QIODevice::ReadOnly));
    const QByteArray jpeg = jpegFile.readAll();
    EXPECT_TRUE(jpeg.startsWith("\xFF\xD8")); // written unchanged: the JPEG's own bytes
    QImage image;
    ASSERT_TRUE(image.loadFromData(jpeg, "JPEG"));
    EXPECT_EQ(image.size(), QSize(800, 600));

    const QString pngPath = dir.filePath("screen.PNG");
    run = RunCli(sim.Target({"screenshot", pngPath}));
    ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();
    QImage png;
    ASSERT_TRUE(png.load(pngPath, "PNG"));
    EXPECT_EQ(png.size(), QSize(800, 600));

    const QString frames = dir.filePath("frames");
    run = RunCli(sim.Target({"watch", "-n", "3", "--interval", "0", "--out", frames}));
    ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();
    const QStringList lines = run.out.split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 4);
    static const QRegularExpression frameLine("^frame (\\d+): (\\d+) bytes in [0-9.]+ ms$");
    for (int i = 0; i < 3; ++i) {
        const auto match = frameLine.match(lines[i]);
        ASSERT_TRUE(match.hasMatch()) << lines[i].toStdString();
        EXPECT_EQ(match.captured(1).toInt(), i + 1);
        QImage frame;
        const QString saved =
            QDir(frames).filePath(QString("frame_%1.jpg").arg(i + 1, 4, 10, QChar('0')));
        ASSERT_TRUE(frame.load(saved, "JPEG")) << saved.toStdString();
        EXPECT_EQ(QFileInfo(saved).size(), match.captured(2).toLongLong());
    }
    static const QRegularExpression summary(
        "^frames: 3, failed: 0, median [0-9.]+ ms, p95 [0-9.]+ ms, max [0-9.]+ ms$");
    EXPECT_TRUE(summary.match(lines[3]).hasMatch()) << lines[3].toStdString();

    // SIGTERM ends the simulator cleanly.
    EXPECT_EQ(sim.ExitCode(), 0);
}

INSTANTIATE_TEST_SUITE_P(Loopback, CliAgainstSimulatorProcess,
                         ::testing::Values("127.0.0.1", "::1"));

TEST(CliKeys, SentInOrderWithTheirLineFeed)
{
    CSimServer server(QuietInstrument());
    ASSERT_TRUE(server.Start("127.0.0.1", 0));
    const CliRun run =
        RunCli(Target(server, {"key", "KEYP:MODE", "KEYP 10,20", "KEYP:RIGH", "KEYP:NUM5"}));
    ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();
    EXPECT_TRUE(run.out.isEmpty());
    const std::vector<std::string> expected{"KEYP:MODE\n", "KEYP 10,20\n", "KEYP:RIGH\n",
                                            "KEYP:NUM5\n"};
    EXPECT_EQ(server.Instrument().ReceivedCommandsRaw(), expected);
}

double ColumnDifference(const QImage &a, const QImage &b, const QRect &region)
{
    long long sum = 0;
    long long n = 0;
    for (int y = region.top(); y <= region.bottom(); ++y) {
        for (int x = region.left(); x <= region.right(); ++x) {
            sum += std::abs(qGray(a.pixel(x, y)) - qGray(b.pixel(x, y)));
            ++n;
        }
    }
    return static_cast<double>(sum) / static_cast<double>(n);
}

TEST(CliKeys, KeysVisiblyChangeTheNextScreen)
{
    CSimServer server(QuietInstrument());
    ASSERT_TRUE(server.Start("127.0.0.1", 0));
    QTemporaryDir dir;
    auto shot = [&](const QString &name) {
        const QString path = dir.filePath(name);
        const CliRun run = RunCli(Target(server, {"screenshot", path}));
        QImage image;
        EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
        image.load(path, "JPEG");
        return image;
    };
    const QImage before = shot("a.jpg");
    const QImage again = shot("b.jpg");
    ASSERT_EQ(RunCli(Target(server, {"key", "KEYP:FREQ", "KEYP:CUS2"})).exitCode, 0);
    const QImage after = shot("c.jpg");
    ASSERT_FALSE(before.isNull());
    ASSERT_FALSE(after.isNull());

    const QRect menu =
        CSimScreen::SoftKeyRect(SimFamily::Lk, 0)
            .united(CSimScreen::SoftKeyRect(SimFamily::Lk, CSimPanelState::kSoftKeys - 1));
    EXPECT_LT(ColumnDifference(before, again, menu), 1.0);
    EXPECT_GT(ColumnDifference(before, after, menu), 5.0);
    // The second soft key shows pressed.
    EXPECT_GT(ColumnDifference(before, after, CSimScreen::SoftKeyRect(SimFamily::Lk, 1)), 40.0);
}

TEST(CliKeys, QualityTextsChangeTheJpegSize)
{
    CSimServer server(QuietInstrument());
    ASSERT_TRUE(server.Start("127.0.0.1", 0));
    QTemporaryDir dir;
    auto size = [&](const char *name) {
        const QString path = dir.filePath(name);
        EXPECT_EQ(RunCli(Target(server, {"screenshot", path})).exitCode, 0);
        return QFileInfo(path).size();
    };
    const qint64 high = size("high.jpg");
    ASSERT_EQ(RunCli(Target(server, {"key", "KEYP:QUAL:NORM"})).exitCode, 0);
    const qint64 normal = size("normal.jpg");
    ASSERT_EQ(RunCli(Target(server, {"key", "KEYP:QUAL:LOW"})).exitCode, 0);
    const qint64 low = size("low.jpg");
    EXPECT_LT(normal, high * 9 / 10);
    EXPECT_LT(low, normal * 9 / 10);
    ASSERT_EQ(RunCli(Target(server, {"key", "KEYP:QUAL:HIGH"})).exitCode, 0);
    EXPECT_GT(size("high2.jpg"), normal);
}

struct FaultCase
{
    SimFault fault;
    const char *error; // empty: the fetch still succeeds
};

void PrintTo(const FaultCase &c, std::ostream *os)
{
    *os << FaultName(c.fault);
}

class CliFaults : public ::testing::TestWithParam<FaultCase>
{
};

TEST_P(CliFaults, ScreenshotReportsTheLinkErrorThenTheNextConnectionWorks)
{
    auto sim = QuietInstrument();
    sim->SetSplitDelayMs(40);
    CSimServer server(sim);
    ASSERT_TRUE(server.Start("127.0.0.1", 0));
    // Every second reply: the identification passes, the screen is hit.
    sim->SetFault(GetParam().fault, 2);
    QTemporaryDir dir;
    const QString path = dir.filePath("shot.jpg");
    CliRun run = RunCli(Target(server, {"screenshot", path}));
    if (std::string(GetParam().error).empty()) {
        EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
        QImage image;
        EXPECT_TRUE(image.load(path, "JPEG"));
    } else {
        EXPECT_EQ(run.exitCode, 1);
        EXPECT_EQ(run.err, QString("error: %1\n").arg(GetParam().error));
        EXPECT_TRUE(run.out.isEmpty());
    }
    // The third reply is clean.
    run = RunCli(Target(server, {"info"}));
    EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
    EXPECT_EQ(run.out, "KL561B\n");
}

INSTANTIATE_TEST_SUITE_P(AllKinds, CliFaults,
                         ::testing::Values(FaultCase{SimFault::Checksum, "STR_ERROR_CHECKSUM"},
                                           FaultCase{SimFault::Sequence, "Communication Error!"},
                                           FaultCase{SimFault::Noise, "STR_ERROR_PACKET"},
                                           FaultCase{SimFault::Close, "STR_ERROR_TIMEOUT"},
                                           FaultCase{SimFault::Silence, "STR_ERROR_TIMEOUT"},
                                           FaultCase{SimFault::Oversize, "STR_ERROR_PACKET"},
                                           FaultCase{SimFault::Overlong, "STR_ERROR_PACKET"},
                                           FaultCase{SimFault::Split, ""}),
                         [](const auto &info) { return std::string(FaultName(info.param.fault)); });

TEST(CliFailures, IdentificationFaultFailsEveryCommand)
{
    auto sim = QuietInstrument();
    CSimServer server(sim);
    ASSERT_TRUE(server.Start("127.0.0.1", 0));
    sim->SetFault(SimFault::Checksum);
    for (const QStringList &command :
         {QStringList{"info"}, QStringList{"key", "KEYP:MODE"}, QStringList{"watch", "-n", "2"}}) {
        const CliRun run = RunCli(Target(server, command));
        EXPECT_EQ(run.exitCode, 1);
        EXPECT_EQ(run.err, "error: STR_ERROR_CHECKSUM\n");
    }
    // The key was never sent: the command stops at the failed identification.
    EXPECT_TRUE(sim->ReceivedCommands().empty());
}

TEST(CliFailures, WatchCountsFailedFramesAndCarriesOn)
{
    auto sim = QuietInstrument();
    CSimServer server(sim);
    ASSERT_TRUE(server.Start("127.0.0.1", 0));
    // Replies 2 and 4 of identification, frame 1, frame 2, frame 3.
    sim->SetFault(SimFault::Sequence, 2);
    const CliRun run = RunCli(Target(server, {"watch", "-n", "3", "--interval", "0"}));
    EXPECT_EQ(run.exitCode, 1);
    const QStringList lines = run.out.split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 4);
    EXPECT_EQ(lines[0], "frame 1: failed: Communication Error!");
    EXPECT_TRUE(lines[1].startsWith("frame 2: ")) << lines[1].toStdString();
    EXPECT_FALSE(lines[1].contains("failed"));
    EXPECT_EQ(lines[2], "frame 3: failed: Communication Error!");
    EXPECT_TRUE(lines[3].startsWith("frames: 3, failed: 2, median ")) << lines[3].toStdString();
    EXPECT_EQ(run.err, "error: Communication Error!\n");
}

TEST(RegressCliCause, NothingListeningIsACableErrorWithItsCause)
{
    // A port that was free a moment ago.
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr), 0);
    socklen_t length = sizeof addr;
    ::getsockname(fd, reinterpret_cast<sockaddr *>(&addr), &length);
    ::close(fd);
    const QString port = QString::number(ntohs(addr.sin_port));
    CliRun run = RunCli({"--port", port, "info"});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.err,
              "error: STR_DEVCOM_ERR_CHKCABLE: Connection refused by 127.0.0.1:" + port + "\n");
    run = RunCli({"--host", "no-such-host.invalid", "info"});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.err, "error: STR_DEVCOM_ERR_CHKCABLE: Host name not found\n");
}

TEST(CliUsage, HelpAndUsageErrors)
{
    CliRun run = RunCli({"--help"});
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_TRUE(run.out.startsWith("usage: klremote-cli"));
    EXPECT_TRUE(run.out.contains("--usb-sim"));
    for (const QStringList &args :
         {QStringList{}, QStringList{"frobnicate"}, QStringList{"--port", "x", "info"},
          QStringList{"key", QString(200, 'A')}, QStringList{"screenshot"}}) {
        run = RunCli(args);
        EXPECT_EQ(run.exitCode, 2) << args.join(' ').toStdString();
        EXPECT_TRUE(run.err.contains("usage: klremote-cli"));
        EXPECT_TRUE(run.out.isEmpty());
    }
}

TEST(CliUsb, InfoAndScreenshotThroughTheSimulatedDevice)
{
    CliRun run = RunCli({"--method", "usb", "--usb-sim", "info"});
    EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
    EXPECT_EQ(run.out, "KL561B\n");

    QTemporaryDir dir;
    const QString path = dir.filePath("usb.png");
    run = RunCli({"--method", "usb", "--usb-sim=MW5000", "screenshot", path});
    ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();
    QImage image;
    ASSERT_TRUE(image.load(path, "PNG"));
    EXPECT_EQ(image.size(), QSize(800, 480));

    run = RunCli({"--method", "usb", "--usb-sim", "key", "KEYP:MODE", "KEYP:PEAK"});
    EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
}

} // namespace
