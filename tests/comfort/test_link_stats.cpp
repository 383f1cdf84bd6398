// The screen link's figures: the arithmetic on a given clock, the figures a session reports
// against a simulator of known pace, and the overlay that shows them over the picture only.
#include "CLinkStats.h"
#include "CRemoteDlgKKC.h"
#include "CStatsFeature.h"
#include "ComfortFeatures.h"
#include "ComfortIds.h"
#include "PanelHarness.h"

#include <gtest/gtest.h>

using PanelHarness = BasicPanelHarness<CRemoteDlgKKC>;
using namespace std::chrono_literals;

TEST(LinkStatsFigures, RatesOverTheLastTenSecondsAndFailuresSinceStart)
{
    CLinkStats stats;
    const auto t0 = CLinkStats::Clock::time_point(100s);
    stats.Start(t0);
    EXPECT_EQ(stats.At(t0).pictures, 0);
    EXPECT_EQ(stats.At(t0).picturesPerSecond, 0.0);

    // Two pictures a second for 20 s, 30 kB each, then 5 s of silence.
    for (int i = 1; i <= 40; ++i)
        stats.AddPicture(t0 + i * 500ms, 20.0 + i, 30000);
    stats.AddFailure();
    stats.AddFailure();
    CLinkStats::Figures f = stats.At(t0 + 20s);
    EXPECT_EQ(f.pictures, 20);
    EXPECT_DOUBLE_EQ(f.picturesPerSecond, 2.0);
    EXPECT_DOUBLE_EQ(f.kBPerPicture, 30.0);
    EXPECT_DOUBLE_EQ(f.kBPerSecond, 60.0);
    EXPECT_DOUBLE_EQ(f.lastTransferMs, 60.0);
    EXPECT_EQ(f.failures, 2);
    f = stats.At(t0 + 25s);
    EXPECT_DOUBLE_EQ(f.picturesPerSecond, 1.0);
    EXPECT_EQ(stats.At(t0 + 31s).pictures, 0);

    // Right after Start the span is the time since Start, but at least a second.
    stats.Start(t0 + 60s);
    EXPECT_EQ(stats.At(t0 + 60s).failures, 0);
    stats.AddPicture(t0 + 60s + 100ms, 15.0, 1000);
    EXPECT_DOUBLE_EQ(stats.At(t0 + 60s + 200ms).picturesPerSecond, 1.0);
    for (int i = 1; i <= 4; ++i)
        stats.AddPicture(t0 + 60s + 100ms + i * 500ms, 15.0, 1000);
    EXPECT_DOUBLE_EQ(stats.At(t0 + 62s + 500ms).picturesPerSecond, 2.0);
}

TEST(LinkStatsFigures, ASessionAgainstAPacedSimulator)
{
    PanelHarness h;
    ASSERT_TRUE(h.StartServer());
    // Each screen takes at least 150 ms; the cycle asks for two a second.
    h.instrument->SetLatencyMs(150);
    h.Open(1);
    ASSERT_TRUE(h.Run());
    Spin(3000);
    CLinkStats::Figures f = h.panel->Session().LinkFigures(CLinkStats::Clock::now());
    EXPECT_GE(f.picturesPerSecond, 1.3);
    EXPECT_LE(f.picturesPerSecond, 2.4);
    EXPECT_GE(f.lastTransferMs, 150.0);
    EXPECT_LT(f.lastTransferMs, 2000.0);
    const double kB = h.instrument->LastScreenJpeg().size() / 1000.0;
    EXPECT_NEAR(f.kBPerPicture, kB, kB * 0.3);
    EXPECT_EQ(f.failures, 0);

    // Every second reply is broken: those count, since Start only.
    h.instrument->SetFault(SimFault::Checksum, 2);
    ASSERT_TRUE(WaitFor(
        [&] { return h.panel->Session().LinkFigures(CLinkStats::Clock::now()).failures >= 2; }));
    h.instrument->SetFault(SimFault::None);
    h.panel->OnCommand(ids::IDC_STOP);
    h.panel->OnCommand(ids::IDC_START);
    f = h.panel->Session().LinkFigures(CLinkStats::Clock::now());
    EXPECT_EQ(f.failures, 0);
    EXPECT_EQ(f.pictures, 0);
}

TEST(LinkStatsOverlay, ShownOverThePictureWhileStartedAndNeverDrawnIntoIt)
{
    PanelHarness h;
    ASSERT_TRUE(h.StartServer());
    h.Preset("ShowStats", 1);
    h.Open(1);
    AddComfortFeatures(*h.panel);
    QImage lastFrame;
    QObject::connect(&h.panel->Session(), &CRemoteSession::screenReady, h.panel.get(),
                     [&](const ScreenFrame &frame) { lastFrame = frame.picture; });
    ASSERT_TRUE(h.Connect());
    EXPECT_TRUE(h.panel->ScreenOverlay().isEmpty());
    h.panel->OnCommand(ids::IDC_START);
    ASSERT_TRUE(WaitFor([&] { return h.panel->PicturesShown() >= 3; }));
    ASSERT_TRUE(WaitFor([&] { return h.panel->ScreenOverlay().contains("pictures/s"); }));
    EXPECT_TRUE(h.panel->ScreenOverlay().contains("failures    0"));
    // The picture the window keeps (and anything saves) is the instrument's own.
    EXPECT_EQ(h.panel->ScreenPicture(), lastFrame);

    h.panel->OnCommand(comfort_ids::ID_SHOW_STATISTICS);
    EXPECT_TRUE(h.panel->ScreenOverlay().isEmpty());
    EXPECT_EQ(h.Stored("ShowStats").toInt(), 0);
    h.panel->OnCommand(comfort_ids::ID_SHOW_STATISTICS);
    EXPECT_FALSE(h.panel->ScreenOverlay().isEmpty());
    h.panel->OnCommand(ids::IDC_STOP);
    EXPECT_TRUE(h.panel->ScreenOverlay().isEmpty());
}
