// A Started session whose instrument goes away and comes back: it reconnects by itself
// unless told not to, gives up on Disconnect, and never sends the keys pressed meanwhile.
// Also what the status bar says when a connect fails.
#include "CRemoteDlgKKC.h"
#include "CRemoteDlgLK.h"
#include "ComfortFeatures.h"
#include "ComfortIds.h"
#include "LkModelTable.h"
#include "PanelHarness.h"

#include <QAction>
#include <QMenu>
#include <QRegularExpression>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <map>

using PanelHarness = BasicPanelHarness<CRemoteDlgKKC>;
using LkHarness = BasicPanelHarness<CRemoteDlgLK>;

namespace {

std::map<int, QAction *> MenuItems(QMenu &menu)
{
    std::map<int, QAction *> items;
    for (QAction *action : menu.findChildren<QAction *>()) {
        bool ok = false;
        const int id = action->data().toInt(&ok);
        if (ok && id)
            items[id] = action;
    }
    return items;
}

template <typename Harness>
bool Reconnecting(Harness &h)
{
    return WaitFor([&] { return h.panel->PaneText(1).startsWith("Reconnecting ("); }, 8000);
}

// Started against the simulator, which then stops: the panel says it is reconnecting.
template <typename Harness>
::testing::AssertionResult StartedThenInstrumentGone(Harness &h)
{
    if (!h.Run())
        return ::testing::AssertionFailure() << "not Started";
    h.server->Stop();
    if (!Reconnecting(h))
        return ::testing::AssertionFailure() << "pane 1: " << h.panel->PaneText(1).toStdString();
    return ::testing::AssertionSuccess();
}

// A loopback port where nothing listens.
std::uint16_t DeadPort()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr);
    socklen_t length = sizeof addr;
    ::getsockname(fd, reinterpret_cast<sockaddr *>(&addr), &length);
    ::close(fd);
    return ntohs(addr.sin_port);
}

} // namespace

TEST(Reconnect, TheInstrumentBackMeansStartedAgainWithPicturesAndNoDialog)
{
    PanelHarness h;
    ASSERT_TRUE(h.StartServer());
    h.Open(1);
    ASSERT_TRUE(StartedThenInstrumentGone(h));
    EXPECT_EQ(h.panel->State(), SessionState::Reconnecting);
    EXPECT_TRUE(h.panel->ScreenPicture().isNull() == false);
    {
        // Only Disconnect is offered, to give up.
        std::unique_ptr<QMenu> menu(h.panel->BuildContextMenu());
        auto items = MenuItems(*menu);
        EXPECT_TRUE(items[ids::IDC_DISCONNECT]->isEnabled());
        for (int id : {ids::IDC_CONNECT, ids::IDC_START, ids::IDC_STOP, ids::ID_QUALITY_HIGH})
            EXPECT_FALSE(items[id]->isEnabled()) << id;
    }
    // A try or two meet nothing listening; the cause is shown beside the count.
    ASSERT_TRUE(WaitFor([&] { return h.panel->PaneText(1) == "Reconnecting (2)"; }, 5000));
    EXPECT_TRUE(h.panel->PaneText(0).startsWith("Connection refused by 127.0.0.1:"))
        << h.panel->PaneText(0).toStdString();

    ASSERT_TRUE(h.server->Restart()) << h.server->Error();
    ASSERT_TRUE(WaitFor([&] { return h.panel->State() == SessionState::Started; }, 12000));
    EXPECT_EQ(h.panel->PaneText(1), "Connected");
    EXPECT_EQ(h.panel->PaneText(0), " ");
    const int shown = h.panel->PicturesShown();
    ASSERT_TRUE(WaitFor([&] { return h.panel->PicturesShown() >= shown + 2; }));
    EXPECT_EQ(h.LogLines().filter(QRegularExpression("^Reconnected after \\d+\\.\\d s$")).size(), 1)
        << h.LogLines().join('|').toStdString();
    // The only message is the one of the first connect.
    EXPECT_EQ(h.presenter.events, QStringList{"message:Connected"});
}

TEST(Reconnect, LkPanelReadsTheModelAgainAndKeepsItsQuality)
{
    LkHarness h;
    ASSERT_TRUE(h.StartServerAs("KL512A"));
    h.Preset("Quality", 1);
    h.Open(1);
    ASSERT_TRUE(h.Run());
    EXPECT_NE(h.panel->ModelGroup(), lk::kTouchGroup);
    h.server->Stop();
    ASSERT_TRUE(Reconnecting(h));
    h.instrument->ClearReceivedCommands();
    // Back as another model, as after a firmware change.
    h.instrument->SetModel("KL561B");
    ASSERT_TRUE(h.server->Restart());
    ASSERT_TRUE(WaitFor([&] { return h.panel->State() == SessionState::Started; }, 12000));
    EXPECT_EQ(h.panel->ModelGroup(), lk::kTouchGroup);
    EXPECT_EQ(h.Sent(), std::vector<std::string>{"KEYP:QUAL:NORM"});
}

TEST(Reconnect, OffKeepsTheLostLinkAsItWas)
{
    PanelHarness h;
    ASSERT_TRUE(h.StartServer());
    h.Preset("AutoReconnect", 0);
    h.Open(1);
    ASSERT_TRUE(h.Run());
    h.server->Stop();
    ASSERT_TRUE(WaitFor([&] { return h.panel->PaneText(1) == "No Answer"; }, 8000));
    ASSERT_TRUE(h.server->Restart());
    Spin(2500);
    EXPECT_EQ(h.panel->State(), SessionState::LinkLost);
    EXPECT_EQ(h.server->Connections(), 1);
    EXPECT_LT(h.LogIndex("Reconnecting to 127.0.0.1"), 0);

    // Turned on from the menu, the lost link is reconnected at once.
    AddComfortFeatures(*h.panel);
    h.panel->OnCommand(comfort_ids::ID_AUTO_RECONNECT);
    EXPECT_EQ(h.Stored("AutoReconnect").toInt(), 1);
    ASSERT_TRUE(WaitFor([&] { return h.panel->State() == SessionState::Started; }, 8000));
    EXPECT_EQ(h.server->Connections(), 2);
}

TEST(Reconnect, DisconnectGivesUpAndConnectWorksAfterwards)
{
    PanelHarness h;
    ASSERT_TRUE(h.StartServer());
    h.Open(1);
    ASSERT_TRUE(StartedThenInstrumentGone(h));
    h.panel->OnCommand(ids::IDC_DISCONNECT);
    EXPECT_EQ(h.panel->State(), SessionState::Disconnected);
    EXPECT_EQ(h.panel->PaneText(1), "Disconnected");
    EXPECT_EQ(h.panel->PaneText(2), "Remote Control Stopped");
    EXPECT_EQ(h.presenter.events.last(), "message:Disconnected");
    ASSERT_TRUE(h.server->Restart());
    Spin(3500);
    // No try reached the instrument after giving up.
    EXPECT_EQ(h.server->Connections(), 1);
    ASSERT_TRUE(WaitFor([&] { return h.panel->IsControlEnabled(ids::IDC_CONNECT); }, 3000));
    ASSERT_TRUE(h.Run());
    EXPECT_EQ(h.panel->State(), SessionState::Started);
}

TEST(Reconnect, KeysPressedMeanwhileAreDroppedNotSentLater)
{
    PanelHarness h;
    ASSERT_TRUE(h.StartServer());
    h.Open(1);
    ASSERT_TRUE(StartedThenInstrumentGone(h));
    h.instrument->ClearReceivedCommands();
    ASSERT_TRUE(h.panel->IsControlEnabled(1073));
    h.panel->OnCommand(1073);
    h.panel->OnCommand(1080);
    EXPECT_GE(h.LogIndex("Key command dropped while reconnecting: KEYP:MODE"), 0);
    EXPECT_GE(h.LogIndex("Key command dropped while reconnecting: KEYP:PEAK"), 0);
    ASSERT_TRUE(h.server->Restart());
    ASSERT_TRUE(WaitFor([&] { return h.panel->State() == SessionState::Started; }, 12000));
    h.panel->OnCommand(1074);
    EXPECT_EQ(h.Sent(), std::vector<std::string>{"KEYP:SETUP"});
}

TEST(Reconnect, AFailedKeySendStartsTheReconnectInsteadOfDisconnecting)
{
    PanelHarness h;
    h.Open(2);
    ASSERT_TRUE(h.Run());
    ASSERT_NE(h.usb, nullptr);
    // The device stops taking blocks: the key cannot leave, and nor can the screens.
    h.usb->SetWritesFail(true);
    h.panel->OnCommand(1080);
    ASSERT_TRUE(WaitFor([&] { return h.LogIndex("Send REQ_CMD Error") >= 0; }));
    ASSERT_TRUE(Reconnecting(h));
    // A fresh device (the cable plugged in again) is opened by the next try.
    ASSERT_TRUE(WaitFor([&] { return h.panel->State() == SessionState::Started; }, 12000));
    const int shown = h.panel->PicturesShown();
    EXPECT_TRUE(WaitFor([&] { return h.panel->PicturesShown() > shown; }));
}

TEST(ConnectCause, PaneZeroAndTheLogSayWhyAConnectFailed)
{
    PanelHarness h;
    h.Preset("IP", "127.0.0.1");
    h.Open(1);
    const std::uint16_t port = DeadPort();
    h.panel->Link().SetPort(port);
    ASSERT_TRUE(h.Connect());
    const QString cause = QStringLiteral("Connection refused by 127.0.0.1:%1").arg(port);
    EXPECT_EQ(h.presenter.events, QStringList{"failed:1"});
    EXPECT_EQ(h.panel->PaneText(0), cause);
    const int failed = h.LogIndex("TCP Connection Failed");
    ASSERT_GE(failed, 0);
    EXPECT_EQ(h.LogIndex(cause), failed + 1);

    // Over USB with no device at all, the words are the link's own.
    h.presenter.acceptCommunication = true;
    h.presenter.fillCommunication = [](CDlgCommNew &d) { d.m_nConnMethod = 2; };
    h.panel->OnCommand(ids::ID_COMMUNICATION);
    h.panel->Link().SetUsbDeviceFactory([] { return std::unique_ptr<IUsbBlockDevice>(); });
    ASSERT_TRUE(h.Connect());
    EXPECT_EQ(h.presenter.events.last(), "failed:2");
    EXPECT_FALSE(h.panel->PaneText(0).isEmpty());
    EXPECT_EQ(h.panel->PaneText(0).toStdString(), h.panel->Link().LastCause());
}
