// klremote-cli watch --reconnect: an instrument that goes away mid-watch is waited for and the
// frames go on once it is back; without the option the watch ends as before.
#include "CSimServer.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QThread>

#include <gtest/gtest.h>

#include "EventWait.h"

namespace {

struct Watch
{
    QProcess process;
    QString out;

    void Start(const CSimServer &server, const QStringList &extra)
    {
        process.start(KLR_CLI_PATH, QStringList{"--port", QString::number(server.Port()), "watch",
                                                "--interval", "200"} +
                                        extra);
    }
    // Output so far, waiting up to `ms` for `text` to show.
    bool WaitForText(const QString &text, int ms)
    {
        QElapsedTimer timer;
        timer.start();
        while (!out.contains(text) && timer.elapsed() < ms) {
            process.waitForReadyRead(100);
            out += QString::fromUtf8(process.readAllStandardOutput());
        }
        return out.contains(text);
    }
    int Finish()
    {
        process.waitForFinished(30000);
        out += QString::fromUtf8(process.readAllStandardOutput());
        return process.exitCode();
    }
};

std::shared_ptr<CSimInstrument> QuietInstrument()
{
    auto instrument = std::make_shared<CSimInstrument>();
    instrument->SetLogSink([](std::string_view) {});
    return instrument;
}

} // namespace

TEST(WatchReconnect, FramesGoOnOnceTheInstrumentIsBack)
{
    CSimServer server(QuietInstrument());
    ASSERT_TRUE(server.Start("127.0.0.1", 0));
    Watch watch;
    watch.Start(server, {"-n", "8", "--reconnect"});
    ASSERT_TRUE(watch.WaitForText("frame 2: ", 10000)) << watch.out.toStdString();
    server.Stop();
    ASSERT_TRUE(watch.WaitForText("reconnect try 1 failed: ", 5000)) << watch.out.toStdString();
    ASSERT_TRUE(server.Restart());
    EXPECT_EQ(watch.Finish(), 1) << watch.out.toStdString(); // one frame did fail
    const QStringList lines = watch.out.split('\n', Qt::SkipEmptyParts);
    const qsizetype back = lines.indexOf(QRegularExpression("^Reconnected after \\d+\\.\\d s$"));
    ASSERT_GE(back, 0) << watch.out.toStdString();
    ASSERT_EQ(lines.filter(QRegularExpression("^frame \\d+: failed")).size(), 1);
    // Every frame after the reconnect came, up to the last one.
    for (qsizetype i = back + 1; i < lines.size() - 1; ++i)
        EXPECT_TRUE(lines[i].contains(" bytes in ")) << lines[i].toStdString();
    EXPECT_TRUE(lines.last().startsWith("frames: 8, failed: 1,")) << lines.last().toStdString();
    EXPECT_EQ(server.Connections(), 2);
}

TEST(WatchReconnect, WithoutTheOptionTheWatchEndsAtTheLoss)
{
    CSimServer server(QuietInstrument());
    ASSERT_TRUE(server.Start("127.0.0.1", 0));
    Watch watch;
    watch.Start(server, {"-n", "8"});
    ASSERT_TRUE(watch.WaitForText("frame 2: ", 10000));
    server.Stop();
    EXPECT_EQ(watch.Finish(), 1);
    EXPECT_FALSE(watch.out.contains("reconnect"));
    // The frame that met the loss and every one after it.
    EXPECT_TRUE(watch.out.contains(QRegularExpression("frames: 8, failed: [5-6],")))
        << watch.out.toStdString();
}
