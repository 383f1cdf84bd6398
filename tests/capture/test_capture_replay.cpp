// A recording played in a panel window: frames at their times on a test clock, pause, steps,
// speeds, a cut file, and a window that neither opens a link nor sends a key.
#include "CRecordingWriter.h"
#include "CRemoteDlgKKC.h"
#include "CRemoteDlgLK.h"
#include "CReplayFeature.h"
#include "CaptureIds.h"
#include "CaptureRig.h"
#include "RecordingProbe.h"

#include <QDir>

#include <gtest/gtest.h>

using namespace capture_ids;
using KkcHarness = BasicPanelHarness<CRemoteDlgKKC>;
using LkHarness = BasicPanelHarness<CRemoteDlgLK>;

namespace {

struct TestClock : IReplayClock
{
    qint64 now = 1000;
    qint64 NowMs() const override { return now; }
};

const qint64 kTimes[] = {0, 500, 1000, 1700, 2500};

// Five frames of distinct colours at kTimes, of the given screen size and family.
std::vector<QByteArray> MakeRecording(const QString &path, QSize size, int family)
{
    std::vector<QByteArray> frames;
    CRecordingWriter writer;
    auto file = std::make_unique<QFile>(path);
    file->open(QIODevice::WriteOnly);
    capture::RecordingInfo tags;
    tags.family = family;
    tags.model = "KL535C";
    tags.created = QDateTime(QDate(2025, 3, 5), QTime(14, 3, 7));
    writer.Open(std::move(file), tags);
    for (int i = 0; i < 5; ++i) {
        frames.push_back(probe::SolidJpeg(QColor::fromHsv(i * 60, 200, 220), size));
        writer.WriteFrame(frames.back(), kTimes[i]);
    }
    writer.Close();
    return frames;
}

struct ReplayRig
{
    QTemporaryDir dir;
    TestClock clock;
    CaptureRig capture;
    CReplayFeature *replay = nullptr;

    // The stored method is TCP: a connect would show at the simulated instrument.
    template <typename Harness>
    bool Begin(Harness &h, const QString &path, QString &message)
    {
        h.Open(1);
        capture.Attach(h, 1);
        auto feature = std::make_unique<CReplayFeature>(*h.panel, path, &clock);
        replay = feature.get();
        h.panel->AddFeature(std::move(feature));
        return replay->Begin(message);
    }
    // The clock moves on and the player looks.
    void At(qint64 ms)
    {
        clock.now = 1000 + ms;
        replay->Player().Tick();
    }
};

} // namespace

TEST(Replay, FramesComeAtTheirTimesAndPauseStepAndSpeedWork)
{
    ReplayRig rig;
    const QString path = rig.dir.filePath("session.mkv");
    const std::vector<QByteArray> frames = MakeRecording(path, QSize(800, 480), 1);
    KkcHarness h;
    QString message;
    ASSERT_TRUE(rig.Begin(h, path, message)) << message.toStdString();
    CReplayPlayer &player = rig.replay->Player();
    auto shown = [&] { return player.ShownIndex(); };

    EXPECT_EQ(h.panel->State(), SessionState::Replay);
    EXPECT_EQ(shown(), 0);
    EXPECT_EQ(h.panel->ScreenPicture(), Decoded(frames[0]));
    EXPECT_EQ(h.panel->PaneText(1), "Replay");
    EXPECT_EQ(h.panel->PaneText(2), "Playing 1x");
    EXPECT_EQ(h.panel->PaneText(3), "00:00:00.0 / 00:00:02.5");
    EXPECT_TRUE(h.panel->windowTitle().endsWith(" - Replay of session.mkv"));

    // Frame k shows from its own time on, not a millisecond before.
    rig.At(499);
    EXPECT_EQ(shown(), 0);
    rig.At(500);
    EXPECT_EQ(shown(), 1);
    EXPECT_EQ(h.panel->ScreenPicture(), Decoded(frames[1]));
    rig.At(1699);
    EXPECT_EQ(shown(), 2);
    rig.At(1700);
    EXPECT_EQ(shown(), 3);
    EXPECT_EQ(h.panel->PaneText(3), "00:00:01.7 / 00:00:02.5");

    // Pause: time goes by, the picture stays; a step shows the next frame and stays paused.
    h.panel->OnCommand(ID_REPLAY_PLAY);
    EXPECT_FALSE(player.IsPlaying());
    EXPECT_EQ(h.panel->PaneText(2), "Paused");
    rig.At(9000);
    EXPECT_EQ(shown(), 3);
    h.panel->OnCommand(ID_REPLAY_STEP);
    EXPECT_EQ(shown(), 4);
    EXPECT_EQ(h.panel->ScreenPicture(), Decoded(frames[4]));
    EXPECT_TRUE(player.AtEnd());
    EXPECT_EQ(h.panel->PaneText(2), "End of recording");
    h.panel->OnCommand(ID_REPLAY_STEP);
    EXPECT_EQ(shown(), 4);

    // Play at the end starts from the top; at 4x, 125 ms bring the 500 ms frame.
    h.panel->OnCommand(ID_REPLAY_SPEED_1 + 2);
    h.panel->OnCommand(ID_REPLAY_PLAY);
    EXPECT_EQ(shown(), 0);
    EXPECT_EQ(h.panel->PaneText(2), "Playing 4x");
    rig.At(9000 + 124);
    EXPECT_EQ(shown(), 0);
    rig.At(9000 + 125);
    EXPECT_EQ(shown(), 1);
    // A faster speed from here on: 8x, 62.5 ms per 500 recorded.
    h.panel->OnCommand(ID_REPLAY_SPEED_1 + 3);
    rig.At(9000 + 125 + 63);
    EXPECT_EQ(shown(), 2);
    rig.At(20000);
    EXPECT_EQ(shown(), 4);
    EXPECT_FALSE(player.IsPlaying());

    // The screenshot of a replayed frame is that frame.
    ASSERT_TRUE(rig.capture.feature->SaveScreenshot());
    EXPECT_EQ(QImage(rig.capture.feature->LastSaved(), "PNG").convertToFormat(QImage::Format_RGB32),
              Decoded(frames[4]));
}

TEST(Replay, NoLinkNoKeysNoKnob)
{
    ReplayRig rig;
    const QString path = rig.dir.filePath("lk.mkv");
    MakeRecording(path, QSize(800, 600), 0);
    LkHarness h;
    ASSERT_TRUE(h.StartServer()); // an instrument is there, and must not be talked to
    QString message;
    ASSERT_TRUE(rig.Begin(h, path, message));
    ASSERT_EQ(h.panel->State(), SessionState::Replay);
    for (int id : {1013, 1029, 1044, 1061})
        EXPECT_FALSE(h.panel->IsControlEnabled(id)) << id;
    EXPECT_FALSE(CaptureRig::ItemEnabled(*h.panel, ids::IDC_CONNECT));
    EXPECT_FALSE(CaptureRig::ItemEnabled(*h.panel, ids::IDC_START));
    EXPECT_FALSE(CaptureRig::ItemEnabled(*h.panel, ID_RECORD));
    EXPECT_TRUE(CaptureRig::ItemEnabled(*h.panel, ID_SAVE_SCREENSHOT));
    h.panel->OnCommand(ids::IDC_CONNECT);
    h.panel->OnCommand(1029);
    h.Tap(Qt::Key_1);
    Spin(300);
    EXPECT_EQ(h.panel->State(), SessionState::Replay);
    EXPECT_FALSE(h.panel->Link().IsConnected());
    EXPECT_EQ(h.server->Connections(), 0);
    EXPECT_TRUE(h.instrument->ReceivedCommands().empty());
}

TEST(Replay, ACutFilePlaysToItsEndAndForeignFilesAreRefusedWithTheReason)
{
    ReplayRig rig;
    const QString path = rig.dir.filePath("whole.mkv");
    const std::vector<QByteArray> frames = MakeRecording(path, QSize(800, 480), 1);
    QFile whole(path);
    ASSERT_TRUE(whole.open(QIODevice::ReadOnly));
    const QByteArray bytes = whole.readAll();
    const QString cutPath = rig.dir.filePath("cut.mkv");
    QFile cut(cutPath);
    ASSERT_TRUE(cut.open(QIODevice::WriteOnly));
    cut.write(bytes.left(bytes.size() * 6 / 10));
    cut.close();

    {
        KkcHarness h;
        QString message;
        ASSERT_TRUE(rig.Begin(h, cutPath, message)) << message.toStdString();
        rig.At(100000);
        CReplayPlayer &player = rig.replay->Player();
        EXPECT_TRUE(player.AtEnd());
        EXPECT_GE(player.ShownIndex(), 1);
        EXPECT_LT(player.ShownIndex(), 4);
        EXPECT_EQ(h.panel->PaneText(2), "End of recording");
        // Without the file's own length, the end found is the length.
        EXPECT_EQ(player.DurationMs(), kTimes[player.ShownIndex()]);
    }

    // Foreign files: from the command line and from the menu, the same clear words.
    const QString foreign = rig.dir.filePath("holiday.mkv");
    ASSERT_TRUE(
        probe::Write(foreign, AV_CODEC_ID_PNG, {{0, frames[0]}}, {{"KLREMOTE_FAMILY", "1"}}));
    {
        ReplayRig other;
        KkcHarness h;
        QString message;
        EXPECT_FALSE(other.Begin(h, foreign, message));
        EXPECT_EQ(message, "Cannot replay holiday.mkv: it holds no Motion-JPEG track");
        EXPECT_NE(h.LogIndex(message), -1);
    }
    KkcHarness live;
    live.Open();
    CaptureRig capture;
    capture.Attach(live, 1);
    capture.openPath = foreign;
    live.panel->OnCommand(ID_OPEN_RECORDING);
    EXPECT_EQ(capture.warnings,
              QStringList{"Cannot replay holiday.mkv: it holds no Motion-JPEG track"});
    EXPECT_TRUE(capture.replays.isEmpty());
    capture.openPath = path;
    live.panel->OnCommand(ID_OPEN_RECORDING);
    EXPECT_EQ(capture.replays, QStringList{path});
    EXPECT_EQ(capture.warnings.size(), 1);
}
