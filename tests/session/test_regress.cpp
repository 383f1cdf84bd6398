// Faults a user met on a first run of the KKC panel, each pinned by the behaviour the panel
// must show instead.
#include "CKnobButton.h"
#include "CQxButton.h"
#include "CRemoteDlgKKC.h"
#include "PanelHarness.h"

#include <QAction>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>

#include <cmath>

#include <gtest/gtest.h>

using PanelHarness = BasicPanelHarness<CRemoteDlgKKC>;

namespace {

std::map<int, bool> MenuEnabled(CRemoteDlgKKC &panel)
{
    std::unique_ptr<QMenu> menu(panel.BuildContextMenu());
    std::map<int, bool> states;
    for (QAction *action : menu->findChildren<QAction *>()) {
        bool ok = false;
        const int id = action->data().toInt(&ok);
        if (ok && id)
            states[id] = action->isEnabled();
    }
    return states;
}

void SendKey(QWidget *target, QEvent::Type type, int key, bool autoRepeat, ulong timestamp)
{
    QKeyEvent event(type, key, Qt::NoModifier, QString(), autoRepeat);
    event.setTimestamp(timestamp);
    QCoreApplication::sendEvent(target, &event);
}

void Mouse(QWidget *target, QEvent::Type type, QPoint at, Qt::MouseButtons held)
{
    const Qt::MouseButton button = type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton;
    QMouseEvent event(type, QPointF(at), target->mapToGlobal(QPointF(at)), button, held,
                      Qt::NoModifier);
    QCoreApplication::sendEvent(target, &event);
}

// A point on a circle around the knob's centre at a bearing (clockwise from 12 o'clock).
QPoint AtBearing(const CKnobButton &knob, double degrees, double radius = 50)
{
    const double rad = degrees * 3.141592653589793 / 180.0;
    const QPoint c = knob.Center();
    return {c.x() + int(std::lround(radius * std::sin(rad))),
            c.y() - int(std::lround(radius * std::cos(rad)))};
}

std::size_t CountOf(const std::vector<std::string> &commands, const std::string &text)
{
    return std::size_t(std::count(commands.begin(), commands.end(), text));
}

void Started(PanelHarness &h, bool autoReconnect = true)
{
    ASSERT_TRUE(h.StartServer());
    if (!autoReconnect)
        h.Preset("AutoReconnect", 0);
    h.Open(1);
    ASSERT_TRUE(h.Connect());
    ASSERT_TRUE(h.panel->Link().IsConnected());
    h.panel->OnCommand(ids::IDC_START);
}

std::vector<std::string> SettledCommands(PanelHarness &h)
{
    h.panel->KeySenderDrain(10000);
    Spin(200);
    return h.instrument->ReceivedCommands();
}

} // namespace

TEST(RegressSession, TcpAfterAFailedUsbConnectShowsPictures)
{
    PanelHarness h;
    ASSERT_TRUE(h.StartServer());
    h.Open(2, /*useUsbSim=*/false); // no USB device on this machine
    ASSERT_TRUE(h.Connect());
    ASSERT_EQ(h.presenter.failKind, 2);
    h.presenter.acceptCommunication = true;
    h.presenter.fillCommunication = [](CDlgCommNew &d) {
        d.m_nConnMethod = 1;
        d.m_strIPv4 = "127.0.0.1";
    };
    h.panel->OnCommand(ids::ID_COMMUNICATION);
    ASSERT_TRUE(h.Connect());
    ASSERT_TRUE(h.panel->Link().IsConnected());
    h.panel->OnCommand(ids::IDC_START);
    EXPECT_TRUE(WaitFor([&] { return h.panel->PicturesShown() > 0; }, 8000));
}

TEST(RegressSession, WhileConnectingOnlyCancelIsOffered)
{
    PanelHarness h;
    ASSERT_TRUE(h.StartServer());
    h.instrument->SetLatencyMs(3000);
    h.Open(1);
    h.panel->OnCommand(ids::IDC_CONNECT);
    ASSERT_TRUE(h.panel->IsConnectRunning());
    auto menu = MenuEnabled(*h.panel);
    for (int id : {ids::IDC_CONNECT, ids::IDC_START, ids::IDC_STOP, ids::IDC_DISCONNECT,
                   ids::ID_QUALITY_HIGH, ids::ID_QUALITY_LOW})
        EXPECT_FALSE(menu[id]) << id;
    h.panel->OnCommand(ids::IDC_START);
    EXPECT_EQ(h.panel->PaneText(2), "Remote Control Stopped");
    EXPECT_FALSE(h.panel->IsControlEnabled(1073));
    h.panel->CancelConnect();
}

TEST(RegressSession, TcpSendResultsAreTheRealOnes)
{
    PanelHarness h;
    // Without the automatic reconnect, which would drop the keys once the screens notice.
    Started(h, false);
    // The identification request is the seven bytes 7F 41 50 01 00 92 7E.
    EXPECT_GE(h.LogIndex("TCP Request Ret : 7 "), 0);
    // No screen is due for a minute once the cycle under way has ended: the key, not a
    // screen, is the first to find the instrument gone, however slowly this machine runs.
    h.panel->SetRefreshCycleMs(60000);
    const auto screens = h.instrument->ScreensSent();
    ASSERT_TRUE(WaitFor([&] { return h.instrument->ScreensSent() > screens; }));
    Spin(300);
    h.server->Stop();
    for (int i = 0; i < 6 && h.LogIndex("Send REQ_CMD Error") < 0; ++i) {
        h.panel->SendKeyCommand("KEYP:MODE");
        h.panel->KeySenderDrain(3000);
        Spin(150);
    }
    EXPECT_GE(h.LogIndex("Send REQ_CMD Error"), 0);
    EXPECT_TRUE(WaitFor([&] { return h.panel->PaneText(1) != "Connected"; }, 3000));
}

TEST(RegressSession, KeyUpsWithoutTheirKeyDownSendNothing)
{
    PanelHarness h;
    Started(h);
    // The Esc that closed a menu and the Enter that confirmed a dialog end here.
    SendKey(h.panel.get(), QEvent::KeyRelease, Qt::Key_Escape, false, 10);
    SendKey(h.panel.get(), QEvent::KeyRelease, Qt::Key_Return, false, 20);
    EXPECT_TRUE(SettledCommands(h).empty());
}

TEST(RegressSession, FastTypingIsNotMistakenForAHeldKey)
{
    PanelHarness h;
    Started(h);
    // Two presses within a few milliseconds: the window system marks the middle pair as
    // auto-repeat, yet no key was held long enough to repeat.
    SendKey(h.panel.get(), QEvent::KeyPress, Qt::Key_Up, false, 1000);
    SendKey(h.panel.get(), QEvent::KeyRelease, Qt::Key_Up, true, 1002);
    SendKey(h.panel.get(), QEvent::KeyPress, Qt::Key_Up, true, 1002);
    SendKey(h.panel.get(), QEvent::KeyRelease, Qt::Key_Up, false, 1004);
    // A key really held: repeats after the auto-repeat delay, one command on release.
    SendKey(h.panel.get(), QEvent::KeyPress, Qt::Key_Down, false, 2000);
    for (ulong t = 2600; t < 3000; t += 40) {
        SendKey(h.panel.get(), QEvent::KeyRelease, Qt::Key_Down, true, t);
        SendKey(h.panel.get(), QEvent::KeyPress, Qt::Key_Down, true, t);
    }
    SendKey(h.panel.get(), QEvent::KeyRelease, Qt::Key_Down, false, 3010);
    const auto commands = SettledCommands(h);
    EXPECT_EQ(CountOf(commands, "KEYP:UP"), 2u);
    EXPECT_EQ(CountOf(commands, "KEYP:DOWN"), 1u);
}

TEST(RegressSession, KnobSendsOnlyWhatTheHandDid)
{
    PanelHarness h;
    Started(h);
    CKnobButton *knob = h.panel->Knob();
    ASSERT_NE(knob, nullptr);
    ASSERT_TRUE(knob->isEnabled());

    // A drag released outside the knob ends there: hovering afterwards turns nothing.
    Mouse(knob, QEvent::MouseButtonPress, AtBearing(*knob, 0), Qt::LeftButton);
    Mouse(knob, QEvent::MouseButtonRelease, QPoint(-40, -40), Qt::NoButton);
    for (double a : {90.0, 180.0, 270.0})
        Mouse(knob, QEvent::MouseMove, AtBearing(*knob, a), Qt::NoButton);
    EXPECT_TRUE(SettledCommands(h).empty());

    // A fast clockwise move across 12 o'clock is the short way round: two steps right.
    h.instrument->ClearReceivedCommands();
    Mouse(knob, QEvent::MouseButtonPress, AtBearing(*knob, 335), Qt::LeftButton);
    Mouse(knob, QEvent::MouseMove, AtBearing(*knob, 40), Qt::LeftButton);
    Mouse(knob, QEvent::MouseButtonRelease, AtBearing(*knob, 40), Qt::NoButton);
    auto commands = SettledCommands(h);
    EXPECT_EQ(CountOf(commands, "KEYP:RIGHT"), 2u);
    EXPECT_EQ(CountOf(commands, "KEYP:LEFT"), 0u);

    // Grabbed away from its pointer and moved a few degrees: no step at all.
    h.instrument->ClearReceivedCommands();
    Mouse(knob, QEvent::MouseButtonPress, AtBearing(*knob, 200), Qt::LeftButton);
    Mouse(knob, QEvent::MouseMove, AtBearing(*knob, 204), Qt::LeftButton);
    Mouse(knob, QEvent::MouseButtonRelease, AtBearing(*knob, 204), Qt::NoButton);
    EXPECT_TRUE(SettledCommands(h).empty());
}

TEST(RegressSession, ALostLinkIsShownAndKeysAreNotPresentedAsSent)
{
    PanelHarness h;
    Started(h);
    ASSERT_TRUE(WaitFor([&] { return h.panel->PicturesShown() > 0; }, 8000));
    h.server->Stop();
    EXPECT_TRUE(WaitFor([&] { return h.panel->PaneText(1) != "Connected"; }, 8000));
    EXPECT_TRUE(h.presenter.events.filter("failed:").isEmpty());
}

TEST(RegressSession, CancelAndCloseDoNotWaitForTheAttempt)
{
    PanelHarness h;
    ASSERT_TRUE(h.StartServer());
    h.instrument->SetLatencyMs(8000);
    h.Open(1);
    h.panel->OnCommand(ids::IDC_CONNECT);
    Spin(300);
    h.panel->CancelConnect();
    // Connect is offered again at once, not when the abandoned attempt times out.
    EXPECT_TRUE(WaitFor([&] { return MenuEnabled(*h.panel)[ids::IDC_CONNECT]; }, 1000));

    h.panel->OnCommand(ids::IDC_CONNECT);
    Spin(300);
    QElapsedTimer closing;
    closing.start();
    h.panel.reset();
    EXPECT_LT(closing.elapsed(), 1500);
}

TEST(RegressSession, KeysOfAnOldSessionNeverReachTheInstrumentLater)
{
    PanelHarness h;
    Started(h);
    for (int i = 0; i < 300; ++i)
        h.panel->SendKeyCommand("KEYP:NUM1");
    // Beyond the bounded queue each key is refused with a log line, never silently lost.
    EXPECT_GE(h.LogLines().filter("refused").size(), 1);
    h.panel->OnCommand(ids::IDC_STOP);
    Spin(50);
    const std::size_t atStop = h.instrument->ReceivedCommands().size();
    h.panel->OnCommand(ids::IDC_DISCONNECT);
    ASSERT_TRUE(h.Connect());
    Spin(1200);
    EXPECT_LE(h.instrument->ReceivedCommands().size(), atStop + 1);
}
