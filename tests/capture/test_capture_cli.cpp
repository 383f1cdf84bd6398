// klremote-cli record as scripts run it: the file it leaves, also when it is killed.
#include "CRecordingReader.h"
#include "CSimServer.h"
#include "CliRecord.h"
#include "RecordingProbe.h"

#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <csignal>
#include <mutex>

namespace {

constexpr int kLimitMs = 60000;

// The simulated instrument in this process, keeping every screen it sends.
struct Instrument
{
    std::shared_ptr<CSimInstrument> sim = std::make_shared<CSimInstrument>();
    CSimServer server{sim};
    std::mutex lock;
    std::vector<QByteArray> sent;

    Instrument()
    {
        sim->SetLogSink({});
        sim->SetScreenObserver([this](const QByteArray &jpeg) {
            std::lock_guard<std::mutex> guard(lock);
            sent.push_back(jpeg);
        });
    }
    bool Start() { return server.Start("127.0.0.1", 0); }
    QStringList Args(QStringList more) const
    {
        return QStringList{"--port", QString::number(server.Port())} + more;
    }
    std::vector<QByteArray> Sent()
    {
        std::lock_guard<std::mutex> guard(lock);
        return sent;
    }
};

int RunCli(const QStringList &args, QString *out = nullptr, QString *err = nullptr)
{
    QProcess process;
    process.start(KLR_CLI_PATH, args);
    if (!process.waitForFinished(kLimitMs)) {
        process.kill();
        process.waitForFinished();
        return -1;
    }
    if (out)
        *out = QString::fromUtf8(process.readAllStandardOutput());
    if (err)
        *err = QString::fromUtf8(process.readAllStandardError());
    return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -2;
}

void ExpectFramesAsSent(const probe::File &file, const std::vector<QByteArray> &sent)
{
    ASSERT_LE(file.packets.size(), sent.size());
    for (std::size_t i = 0; i < file.packets.size(); ++i) {
        EXPECT_EQ(file.packets[i].bytes, sent[i]) << i;
        if (i > 0) {
            EXPECT_GT(file.packets[i].ms, file.packets[i - 1].ms) << i;
        }
    }
}

} // namespace

TEST(CliRecord, CountedRecordingHoldsTheScreensAsSentAndReplaysInTheirFamily)
{
    Instrument instrument;
    ASSERT_TRUE(instrument.Start());
    QTemporaryDir dir;
    const QString path = dir.filePath("three.mkv");
    QString out, err;
    ASSERT_EQ(RunCli(instrument.Args({"record", path, "-n", "3", "--interval", "100"}), &out, &err),
              0)
        << err.toStdString();
    EXPECT_TRUE(out.contains("recorded 3 frames")) << out.toStdString();
    const probe::File file = probe::Read(path);
    EXPECT_EQ(file.codec, "mjpeg");
    EXPECT_EQ(file.width, 800);
    EXPECT_EQ(file.height, 600);
    EXPECT_EQ(file.tags.value("KLREMOTE_FAMILY"), "0");
    EXPECT_EQ(file.tags.value("KLREMOTE_MODEL"), "KL561B");
    ASSERT_EQ(file.packets.size(), 3u);
    ExpectFramesAsSent(file, instrument.Sent());

    CRecordingReader reader;
    ASSERT_TRUE(reader.Open(path));
    EXPECT_EQ(reader.Info().family, 0);

    if (probe::HaveFfprobe())
        probe::ExpectFfprobeFindsMjpeg(path, 3);

    // Usage and file errors keep the client's exit codes.
    EXPECT_EQ(RunCli(instrument.Args({"record"})), 2);
    EXPECT_EQ(RunCli(instrument.Args({"record", path, "-n", "2", "--seconds", "1"})), 2);
    EXPECT_EQ(RunCli(instrument.Args({"record", dir.filePath("no/such/folder.mkv"), "-n", "1"}),
                     nullptr, &err),
              1);
    EXPECT_TRUE(err.startsWith("error: cannot write ")) << err.toStdString();
}

TEST(CliRecord, AKilledRecorderLeavesAFileWithEveryFrameItHadWritten)
{
    Instrument instrument;
    ASSERT_TRUE(instrument.Start());
    QTemporaryDir dir;
    const QString path = dir.filePath("killed.mkv");
    QProcess process;
    process.start(KLR_CLI_PATH, instrument.Args({"record", path, "--interval", "50"}));
    ASSERT_TRUE(process.waitForStarted(kLimitMs));
    // A frame's line is printed once the frame is in the file.
    QByteArray printed;
    while (printed.count("bytes at") < 4 && process.state() == QProcess::Running) {
        process.waitForReadyRead(1000);
        printed += process.readAllStandardOutput();
    }
    const int written = int(printed.count("bytes at"));
    ASSERT_GE(written, 4) << printed.toStdString();
    ::kill(pid_t(process.processId()), SIGKILL);
    ASSERT_TRUE(process.waitForFinished(kLimitMs));
    EXPECT_EQ(process.exitStatus(), QProcess::CrashExit);

    const probe::File file = probe::Read(path);
    ASSERT_TRUE(file.opened);
    EXPECT_EQ(file.codec, "mjpeg");
    EXPECT_GE(int(file.packets.size()), written);
    ExpectFramesAsSent(file, instrument.Sent());
    CRecordingReader reader;
    ASSERT_TRUE(reader.Open(path)) << reader.Error().toStdString();
    EXPECT_EQ(reader.Info().durationMs, -1); // the end was never written
    int frames = 0;
    RecordedFrame frame;
    while (reader.Next(frame) == CRecordingReader::Step::Frame)
        ++frames;
    EXPECT_GE(frames, written);

    // Interrupted instead, it ends the file properly and succeeds.
    const QString stopped = dir.filePath("stopped.mkv");
    QProcess interrupted;
    interrupted.start(KLR_CLI_PATH, instrument.Args({"record", stopped, "--interval", "50"}));
    ASSERT_TRUE(interrupted.waitForStarted(kLimitMs));
    printed.clear();
    while (printed.count("bytes at") < 2 && interrupted.state() == QProcess::Running) {
        interrupted.waitForReadyRead(1000);
        printed += interrupted.readAllStandardOutput();
    }
    ::kill(pid_t(interrupted.processId()), SIGTERM);
    ASSERT_TRUE(interrupted.waitForFinished(kLimitMs));
    EXPECT_EQ(interrupted.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(interrupted.exitCode(), 0);
    CRecordingReader finished;
    ASSERT_TRUE(finished.Open(stopped));
    EXPECT_GE(finished.Info().durationMs, 0);
}

// A first screen the recording leaves out does not decide the family the file names (and so
// the panel it is replayed in): the first screen it keeps does.
TEST(RegressCliRecord, AScreenLeftOutDoesNotDecideTheFamily)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("family.mkv");
    std::string error;
    const std::unique_ptr<CCliRecording> recording =
        StartCliRecording(path.toStdString(), "KL561B", error);
    ASSERT_TRUE(recording) << error;
    // The first family's 800 x 600 in its header, but a second image start before its scan.
    QByteArray broken = probe::SolidJpeg(Qt::red, QSize(800, 600));
    broken.insert(broken.indexOf("\xFF\xDA"), "\xFF\xD8", 2);
    const QByteArray good = probe::SolidJpeg(Qt::blue, QSize(800, 480));
    const auto bytes = [](const QByteArray &b) {
        return std::vector<std::uint8_t>(b.begin(), b.end());
    };
    EXPECT_EQ(recording->Add(bytes(broken), 0, error), CCliRecording::Added::Skipped);
    EXPECT_EQ(recording->Add(bytes(good), 100, error), CCliRecording::Added::Ok);
    ASSERT_TRUE(recording->Finish(error)) << error;
    CRecordingReader reader;
    ASSERT_TRUE(reader.Open(path)) << reader.Error().toStdString();
    EXPECT_EQ(reader.Info().family, 1);
}
