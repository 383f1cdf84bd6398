// The screen refresh worker and the key path while pictures are being fetched.
#include "CRemoteDlgKKC.h"
#include "PanelHarness.h"

#include <gtest/gtest.h>

using PanelHarness = BasicPanelHarness<CRemoteDlgKKC>;

TEST(Refresh, StartFetchesAndStopStops)
{
    PanelHarness h;
    ASSERT_TRUE(h.StartServer());
    h.Open(1);
    ASSERT_TRUE(h.Connect());
    Spin(700);
    EXPECT_EQ(h.instrument->ScreensSent(), 0u); // connected but stopped
    h.panel->OnCommand(ids::IDC_START);
    ASSERT_TRUE(WaitFor([&] { return h.panel->PicturesShown() >= 2; }));
    const QImage shown = h.panel->ScreenPicture();
    EXPECT_FALSE(shown.isNull());
    h.panel->OnCommand(ids::IDC_STOP);
    // A transfer already running may complete; after it nothing more is asked.
    ASSERT_TRUE(WaitFor([&] { return h.panel->Session().m_bScreenReady == 1; }));
    const auto sent = h.instrument->ScreensSent();
    Spin(1300);
    EXPECT_EQ(h.instrument->ScreensSent(), sent);
    // The picture file holds exactly the last reply's bytes.
    QFile file(h.panel->Session().ImagePath());
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), h.instrument->LastScreenJpeg());
}

TEST(Refresh, NeverMoreThanOneRequestPerHalfSecond)
{
    PanelHarness h;
    ASSERT_TRUE(h.StartServer());
    h.Open(1);
    ASSERT_TRUE(h.Connect());
    h.panel->OnCommand(ids::IDC_START);
    ASSERT_TRUE(WaitFor([&] { return h.instrument->ScreensSent() >= 1; }));
    const auto first = h.instrument->ScreensSent();
    QElapsedTimer timer;
    timer.start();
    Spin(2000);
    const auto later = h.instrument->ScreensSent();
    const qint64 elapsed = timer.elapsed();
    // One request per started 500 ms window at most, counted over the time really spent.
    EXPECT_LE(later - first, std::uint64_t(elapsed / 500 + 1));
    EXPECT_GE(later - first, 2u);
}

TEST(Refresh, DisconnectDuringATransferDrawsNothing)
{
    PanelHarness h;
    ASSERT_TRUE(h.StartServer());
    h.Open(1);
    ASSERT_TRUE(h.Connect());
    // Every packet crawls, so the transfer is still running when the link is closed.
    h.instrument->SetSplitDelayMs(400);
    h.instrument->SetFault(SimFault::Split);
    h.panel->OnCommand(ids::IDC_START);
    ASSERT_TRUE(WaitFor([&] { return h.panel->Session().m_bScreenReady == 0; }));
    h.panel->OnCommand(ids::IDC_STOP);
    h.panel->OnCommand(ids::IDC_DISCONNECT);
    ASSERT_TRUE(WaitFor([&] { return h.panel->Session().m_bScreenReady == 1; }));
    Spin(600);
    EXPECT_EQ(h.panel->PicturesShown(), 0);
    EXPECT_FALSE(h.panel->Link().IsConnected());
}

TEST(Refresh, UsbPicturesAndAFailedKeySendDisconnects)
{
    PanelHarness h;
    // Without the automatic reconnect, which would take over here.
    h.Preset("AutoReconnect", 0);
    h.Open(2);
    ASSERT_TRUE(h.Connect());
    ASSERT_NE(h.usb, nullptr);
    h.panel->OnCommand(ids::IDC_START);
    ASSERT_TRUE(WaitFor([&] { return h.panel->PicturesShown() >= 1; }));

    // The device stops taking blocks: the key command cannot leave.
    h.usb->SetWritesFail(true);
    h.panel->OnCommand(1080);
    ASSERT_TRUE(WaitFor([&] { return h.LogIndex("Send REQ_CMD Error") >= 0; }))
        << h.LogLines().join("|").toStdString();
    EXPECT_GE(h.LogIndex("KEYP:PEAK"), 0);
    ASSERT_TRUE(WaitFor([&] { return !h.panel->Link().IsConnected(); }));
    ASSERT_TRUE(WaitFor([&] { return h.panel->IsControlEnabled(ids::IDC_CONNECT); }));
    EXPECT_FALSE(h.panel->IsControlEnabled(1080));
    EXPECT_EQ(h.panel->Session().m_bStarted.load(), 0);
    EXPECT_EQ(h.panel->PaneText(1), "Disconnected");
}

TEST(Refresh, ClosingStopsTheWorkerPromptly)
{
    PanelHarness h;
    ASSERT_TRUE(h.StartServer());
    h.Open(1);
    ASSERT_TRUE(h.Connect());
    h.panel->OnCommand(ids::IDC_START);
    ASSERT_TRUE(WaitFor([&] { return h.panel->PicturesShown() >= 1; }));
    QElapsedTimer timer;
    timer.start();
    h.panel.reset();
    // Generous: only a hang (a worker nobody wakes) fails this.
    EXPECT_LT(timer.elapsed(), 10000);
    const auto sent = h.instrument->ScreensSent();
    Spin(700);
    EXPECT_EQ(h.instrument->ScreensSent(), sent);
}

TEST(Refresh, MethodChangedWhileStartedAppliesAtTheNextConnectOnly)
{
    PanelHarness h;
    ASSERT_TRUE(h.StartServer());
    h.Open(1, false);
    ASSERT_TRUE(h.Connect());
    h.panel->OnCommand(ids::IDC_START);
    ASSERT_TRUE(WaitFor([&] { return h.panel->PicturesShown() >= 1; }));
    h.presenter.acceptCommunication = true;
    h.presenter.fillCommunication = [](CDlgCommNew &d) { d.m_nConnMethod = 2; };
    h.panel->OnCommand(ids::ID_COMMUNICATION);
    EXPECT_EQ(h.panel->PaneText(3), "USB");
    // The open TCP link keeps serving pictures and keys.
    const int shown = h.panel->PicturesShown();
    ASSERT_TRUE(WaitFor([&] { return h.panel->PicturesShown() >= shown + 2; }));
    h.panel->OnCommand(1074);
    ASSERT_TRUE(h.panel->KeySenderDrain(10000));
    ASSERT_TRUE(WaitFor([&] { return !h.instrument->ReceivedCommands().empty(); }));
    EXPECT_EQ(h.instrument->ReceivedCommands().back(), "KEYP:SETUP");
    EXPECT_TRUE(h.panel->Link().IsConnected());
    EXPECT_LT(h.LogIndex("Send REQ_CMD Error"), 0);
}

TEST(Refresh, UnwritablePictureFileIsLoggedEachCycleAndRetried)
{
    PanelHarness h;
    ASSERT_TRUE(h.StartServer());
    h.Open(1);
    ASSERT_TRUE(h.Connect());
    // The private folder vanishes: the file cannot be created, nothing is drawn, the loop
    // keeps asking.
    ASSERT_TRUE(QDir(h.panel->Session().ImageFolder()).removeRecursively());
    h.panel->OnCommand(ids::IDC_START);
    ASSERT_TRUE(WaitFor([&] { return h.LogLines().count("Couldn't create the file!") >= 2; }));
    EXPECT_EQ(h.panel->PicturesShown(), 0);
    EXPECT_GE(h.instrument->ScreensSent(), 2u);
}
