// The KKC panel's session: start-up, states and menu, connect outcomes, keys, keyboard,
// screen clicks, knob, quality and the picture file.
#include "CKnobButton.h"
#include "CQxButton.h"
#include "CRemoteDlgKKC.h"
#include "PanelHarness.h"
#include "SimPacking.h"

#include <QAction>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QRegularExpression>

#include <cstring>

#include <gtest/gtest.h>

using PanelHarness = BasicPanelHarness<CRemoteDlgKKC>;

namespace {

std::map<int, std::pair<bool, bool>> MenuStates(CRemoteDlgKKC &panel)
{
    std::unique_ptr<QMenu> menu(panel.BuildContextMenu());
    std::map<int, std::pair<bool, bool>> states; // id -> (enabled, checked)
    for (QAction *action : menu->findChildren<QAction *>()) {
        bool ok = false;
        const int id = action->data().toInt(&ok);
        if (ok && id)
            states[id] = {action->isEnabled(), action->isChecked()};
    }
    return states;
}

void Click(QWidget *target, QPoint at, QEvent::Type type = QEvent::MouseButtonPress,
           Qt::MouseButtons buttons = Qt::LeftButton)
{
    const Qt::MouseButton button = type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton;
    QMouseEvent event(type, QPointF(at), target->mapToGlobal(QPointF(at)), button, buttons,
                      Qt::NoModifier);
    QCoreApplication::sendEvent(target, &event);
}

void Key(QWidget *target, QEvent::Type type, int key, Qt::KeyboardModifiers mods = {},
         bool autoRepeat = false)
{
    QKeyEvent event(type, key, mods, QString(), autoRepeat);
    QCoreApplication::sendEvent(target, &event);
}

// Waits until every queued command has left and the instrument has stopped receiving.
void Settle(PanelHarness &h)
{
    h.panel->KeySenderDrain(10000);
    std::size_t count = h.instrument->ReceivedCommandsRaw().size();
    for (;;) {
        Spin(120);
        const std::size_t now = h.instrument->ReceivedCommandsRaw().size();
        if (now == count)
            return;
        count = now;
    }
}

void ClearCommands(PanelHarness &h)
{
    Settle(h);
    h.instrument->ClearReceivedCommands();
}

std::vector<std::string> Commands(PanelHarness &h)
{
    Settle(h);
    return h.instrument->ReceivedCommands();
}

} // namespace

TEST(PanelStartup, DefaultsWithoutAStore)
{
    PanelHarness h;
    h.Open();
    CRemoteDlgKKC &p = *h.panel;
    EXPECT_EQ(p.windowTitle(), "KLRemote 2.0");
    EXPECT_GE(h.LogIndex("KLRemote 2.0"), 0);
    // The panel picture and the status bar fill the client area exactly; the window may be
    // made larger, and the panel then scales with it.
    EXPECT_EQ(p.size(), QSize(1023, 699));
    EXPECT_EQ(p.maximumSize(), QSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX));
    EXPECT_EQ(p.Session().m_nConnMethod, 2);
    EXPECT_EQ(p.Session().m_strIPv6, "0:0:0:0:0:0:0:1");
    EXPECT_EQ(p.PaneText(0), " ");
    EXPECT_EQ(p.PaneText(1), "Disconnected");
    EXPECT_EQ(p.PaneText(2), "Remote Control Stopped");
    EXPECT_EQ(p.PaneText(3), "USB");
    EXPECT_TRUE(p.IsControlEnabled(ids::IDC_CONNECT));
    for (int id : {ids::IDC_DISCONNECT, ids::IDC_START, ids::IDC_STOP, 1073, 1089, 1100, 1101})
        EXPECT_FALSE(p.IsControlEnabled(id)) << id;
    EXPECT_EQ(p.findChild<QWidget *>("1049")->geometry(), QRect(111, 25, 800, 480));
}

TEST(PanelStartup, ShowingThePanelInitialisesItWithItsControlsVisible)
{
    // The way the application opens it: no explicit initialisation before the first show.
    QTemporaryDir dir;
    CPrefStore store(dir.filePath("prefs.ini"));
    RecordingPresenter presenter;
    CRemoteDlgKKC panel(&store, &presenter);
    panel.SetLogFolder(dir.filePath("log"));
    panel.show();
    ASSERT_TRUE(WaitFor([&] { return panel.isVisible(); }));
    EXPECT_EQ(panel.windowTitle(), "KLRemote 2.0");
    QWidget *screen = panel.findChild<QWidget *>("1049");
    ASSERT_NE(screen, nullptr);
    EXPECT_TRUE(screen->isVisible());
    ASSERT_NE(panel.Key(1073), nullptr);
    EXPECT_TRUE(panel.Key(1073)->isVisible());
    ASSERT_NE(panel.Knob(), nullptr);
    EXPECT_TRUE(panel.Knob()->isVisible());
    panel.close();
}

TEST(PanelStartup, MethodFromTheStore)
{
    for (int method : {0, 4}) {
        PanelHarness h;
        h.Preset("IP", "10.1.2.3");
        h.Open(method);
        EXPECT_EQ(h.panel->PaneText(3), "USB") << method;
    }
    PanelHarness v4;
    v4.Preset("IP", "10.1.2.3");
    v4.Open(1);
    EXPECT_EQ(v4.panel->PaneText(3), "TCP/IP : 10.1.2.3");
    PanelHarness v6;
    v6.Preset("IPV6", "fe80::1");
    v6.Open(3);
    EXPECT_EQ(v6.panel->PaneText(3), "IPv6 : fe80::1");
}

TEST(PanelStates, TableAndMenuThroughConnectStartStopDisconnect)
{
    PanelHarness h;
    h.Open(2);
    CRemoteDlgKKC &p = *h.panel;
    auto menu = MenuStates(p);
    // Disconnected: only Connect offered; Disconnect and Stop checked; quality gray.
    EXPECT_TRUE(menu[ids::IDC_CONNECT].first);
    EXPECT_FALSE(menu[ids::IDC_DISCONNECT].first);
    EXPECT_TRUE(menu[ids::IDC_DISCONNECT].second);
    EXPECT_FALSE(menu[ids::IDC_START].first);
    EXPECT_FALSE(menu[ids::IDC_STOP].first);
    EXPECT_TRUE(menu[ids::IDC_STOP].second);
    EXPECT_FALSE(menu[ids::ID_QUALITY_LOW].first);
    EXPECT_TRUE(menu[ids::ID_QUALITY_HIGH].second);
    EXPECT_TRUE(menu[ids::ID_COMMUNICATION].first);
    EXPECT_TRUE(menu.count(ids::IDM_ABOUTBOX));

    ASSERT_TRUE(h.Connect());
    ASSERT_TRUE(p.Link().IsConnected());
    menu = MenuStates(p);
    EXPECT_FALSE(menu[ids::IDC_CONNECT].first);
    EXPECT_TRUE(menu[ids::IDC_CONNECT].second);
    EXPECT_TRUE(menu[ids::IDC_DISCONNECT].first);
    EXPECT_TRUE(menu[ids::IDC_START].first);
    EXPECT_FALSE(menu[ids::IDC_STOP].first);
    EXPECT_TRUE(menu[ids::ID_QUALITY_MEDIUM].first);
    EXPECT_FALSE(p.IsControlEnabled(ids::IDC_CONNECT));
    EXPECT_TRUE(p.IsControlEnabled(ids::IDC_DISCONNECT));
    EXPECT_TRUE(p.IsControlEnabled(ids::IDC_START));
    EXPECT_FALSE(p.IsControlEnabled(1073));

    p.OnCommand(ids::IDC_START);
    menu = MenuStates(p);
    EXPECT_FALSE(menu[ids::IDC_START].first);
    EXPECT_TRUE(menu[ids::IDC_START].second);
    EXPECT_FALSE(menu[ids::IDC_DISCONNECT].first);
    EXPECT_TRUE(menu[ids::IDC_STOP].first);
    EXPECT_TRUE(p.IsControlEnabled(1073));
    EXPECT_TRUE(p.IsControlEnabled(1101));
    EXPECT_FALSE(p.IsControlEnabled(ids::IDC_DISCONNECT));
    EXPECT_EQ(p.PaneText(2), "Remote Control Started");

    p.OnCommand(ids::IDC_STOP);
    EXPECT_FALSE(p.IsControlEnabled(1073));
    EXPECT_TRUE(p.IsControlEnabled(ids::IDC_START));
    EXPECT_TRUE(p.IsControlEnabled(ids::IDC_DISCONNECT));
    EXPECT_EQ(p.PaneText(2), "Remote Control Stopped");

    h.presenter.events.clear();
    p.OnCommand(ids::IDC_DISCONNECT);
    EXPECT_FALSE(p.Link().IsConnected());
    EXPECT_EQ(h.presenter.events, QStringList{"message:Disconnected"});
    EXPECT_GE(h.LogIndex("Disconnect"), 0);
    EXPECT_TRUE(p.IsControlEnabled(ids::IDC_CONNECT));
    EXPECT_EQ(p.PaneText(1), "Disconnected");
}

TEST(PanelStates, CommunicationDialogRewritesPaneAndStoreButNotTheLink)
{
    PanelHarness h;
    h.Open(2);
    ASSERT_TRUE(h.Connect());
    h.presenter.acceptCommunication = true;
    h.presenter.fillCommunication = [](CDlgCommNew &d) {
        d.m_nConnMethod = 1;
        d.m_strIPv4 = "192.168.7.9";
    };
    h.panel->OnCommand(ids::ID_COMMUNICATION);
    EXPECT_EQ(h.panel->PaneText(3), "TCP/IP : 192.168.7.9");
    EXPECT_TRUE(h.panel->Link().IsConnected());
    CPrefStore reread(h.IniPath());
    const ConnectionSettings s = reread.Load();
    EXPECT_EQ(s.method, 1);
    EXPECT_EQ(s.ipv4, "192.168.7.9");
}

TEST(PanelConnectUsb, OpenFailure)
{
    PanelHarness h;
    h.Open(2, false);
    h.panel->Link().SetUsbDeviceFactory([&]() -> std::unique_ptr<IUsbBlockDevice> {
        auto device = std::make_unique<CUsbDeviceSim>(
            [](const std::uint8_t *) { return std::vector<CUsbDeviceSim::Block>{}; });
        device->SetOpenFails(true);
        return device;
    });
    ASSERT_TRUE(h.Connect());
    EXPECT_GE(h.LogIndex("Error! Do not connect"), 0);
    EXPECT_EQ(h.presenter.events, QStringList{"failed:2"});
    EXPECT_TRUE(h.panel->IsControlEnabled(ids::IDC_CONNECT));
    EXPECT_FALSE(h.panel->Link().IsConnected());
}

TEST(PanelConnectUsb, TimeoutCountsPausesNotSeconds)
{
    PanelHarness h;
    h.usbHandler = [](const std::uint8_t *) { return std::vector<CUsbDeviceSim::Block>{}; };
    h.Open(2);
    h.panel->Session().SetUsbWaitPauseMs(1);
    QElapsedTimer timer;
    timer.start();
    ASSERT_TRUE(h.Connect());
    // 101 pauses of 1 ms, not ten seconds.
    EXPECT_LT(timer.elapsed(), 5000);
    EXPECT_GE(h.LogIndex("Connect USB Timeout."), 0);
    EXPECT_EQ(h.presenter.events, QStringList{"message:Timeout"});
    EXPECT_EQ(h.panel->Session().m_bScreenReady.load(), 0);
    EXPECT_TRUE(h.panel->IsControlEnabled(ids::IDC_CONNECT));
    EXPECT_EQ(h.panel->PaneText(1), "Disconnected");
}

TEST(PanelConnectUsb, ReplyWithoutData)
{
    PanelHarness h;
    h.usbHandler = [](const std::uint8_t *block) {
        std::vector<CUsbDeviceSim::Block> out;
        if (std::memcmp(block, "LANCOMMAND", 10) == 0)
            return out;
        SimFrames frames;
        std::string error;
        if (PackReplyForUsb(klr::REQ_EQUIP_INFO, {}, frames, error))
            for (const auto &frame : frames) {
                CUsbDeviceSim::Block b{};
                std::copy(frame.begin(), frame.end(), b.begin());
                out.push_back(b);
            }
        return out;
    };
    h.Open(2);
    ASSERT_TRUE(h.Connect());
    EXPECT_GE(h.LogIndex("Connection Failed"), 0);
    EXPECT_EQ(h.presenter.events, QStringList{"failed:2"});
    EXPECT_FALSE(h.panel->Link().IsConnected());
}

TEST(PanelConnectUsb, SuccessLogsThenTellsThenEnables)
{
    PanelHarness h;
    h.Open(2);
    ASSERT_TRUE(h.Connect());
    EXPECT_GE(h.LogIndex("USB Connected"), 0);
    EXPECT_EQ(h.presenter.events, QStringList{"message:Connected"});
    EXPECT_EQ(h.panel->PaneText(1), "Connected");
    EXPECT_TRUE(h.panel->Link().IsConnected());
}

TEST(PanelConnectUsb, CancelAbandonsTheWaitAndLeavesDisconnected)
{
    PanelHarness h;
    h.usbHandler = [](const std::uint8_t *) { return std::vector<CUsbDeviceSim::Block>{}; };
    h.Open(2);
    h.panel->OnCommand(ids::IDC_CONNECT);
    ASSERT_TRUE(h.panel->IsConnectRunning());
    // The window thread is free while the connect waits.
    Spin(150);
    h.panel->CancelConnect();
    EXPECT_FALSE(h.panel->IsConnectRunning());
    EXPECT_EQ(h.panel->PaneText(1), "Disconnected");
    // Connect comes back once the abandoned attempt has wound down (a USB read ends first).
    ASSERT_TRUE(WaitFor([&] { return h.panel->IsControlEnabled(ids::IDC_CONNECT); }));
    EXPECT_TRUE(h.presenter.events.isEmpty());
    EXPECT_FALSE(h.panel->Link().IsConnected());
    EXPECT_LT(h.LogIndex("Connect USB Timeout."), 0);
}

TEST(PanelConnectTcp, NothingListening)
{
    PanelHarness h;
    ASSERT_TRUE(h.StartServer());
    const std::uint16_t port = h.server->Port();
    h.server->Stop();
    h.server.reset();
    h.Preset("IP", "127.0.0.1");
    h.Open(1);
    h.panel->Link().SetPort(port);
    ASSERT_TRUE(h.Connect());
    EXPECT_GE(h.LogIndex("TCP Connection Failed"), 0);
    EXPECT_EQ(h.presenter.events, QStringList{"failed:1"});
    EXPECT_TRUE(h.panel->IsControlEnabled(ids::IDC_CONNECT));
}

TEST(PanelConnectTcp, BadIdentificationReplyOverIPv6)
{
    PanelHarness h;
    ASSERT_TRUE(h.StartServer("::1"));
    h.instrument->SetFault(SimFault::Checksum);
    h.Open(3);
    ASSERT_TRUE(h.Connect());
    EXPECT_GE(h.LogIndex("TCP(IPv6) Request Ret : 7 "), 0);
    EXPECT_GE(h.LogIndex("TCP(IPv6) EqupInfo Failed : STR_ERROR_CHECKSUM"), 0);
    EXPECT_EQ(h.presenter.events, QStringList{"failed:3"});
    EXPECT_FALSE(h.panel->Link().IsConnected());
    EXPECT_EQ(h.panel->PaneText(1), "Disconnected");
}

TEST(PanelConnectTcp, SuccessOverIPv4)
{
    PanelHarness h;
    ASSERT_TRUE(h.StartServer());
    h.Open(1);
    ASSERT_TRUE(h.Connect());
    const int request = h.LogIndex("TCP Request Ret : 7 ");
    const int connected = h.LogIndex("TCP Connected, Load Equp");
    EXPECT_GE(request, 0);
    EXPECT_GT(connected, request);
    EXPECT_EQ(h.presenter.events, QStringList{"message:Connected"});
    EXPECT_FALSE(h.panel->IsControlEnabled(ids::IDC_CONNECT));
}

TEST(PanelKeys, ClicksKeyboardAndQuality)
{
    PanelHarness h;
    ASSERT_TRUE(h.StartServer());
    h.Open(1);
    ASSERT_TRUE(h.Connect());
    CRemoteDlgKKC &p = *h.panel;
    // Disabled keys send nothing.
    p.Key(1073)->click();
    EXPECT_TRUE(Commands(h).empty());

    p.OnCommand(ids::IDC_START);
    p.Key(1073)->click();
    p.Key(1097)->click();
    EXPECT_EQ(Commands(h), (std::vector<std::string>{"KEYP:MODE", "KEYP:ENTR"}));
    EXPECT_GE(h.LogIndex("KEYP:MODE"), 0);
    ClearCommands(h);

    // Numeric-pad 5: pressed face while held, one command on release, repeats ignored.
    CQxButton *five = p.Key(1089);
    Key(&p, QEvent::KeyPress, Qt::Key_5, Qt::KeypadModifier);
    Key(&p, QEvent::KeyPress, Qt::Key_5, Qt::KeypadModifier, true);
    EXPECT_TRUE(Commands(h).empty());
    const QImage held = five->grab().toImage();
    Key(&p, QEvent::KeyRelease, Qt::Key_5, Qt::KeypadModifier);
    EXPECT_EQ(Commands(h), std::vector<std::string>{"KEYP:NUM5"});
    EXPECT_NE(five->grab().toImage(), held);
    ClearCommands(h);

    // The main keyboard's 5 is not mapped; Backspace is +/-.
    Key(&p, QEvent::KeyPress, Qt::Key_5);
    Key(&p, QEvent::KeyRelease, Qt::Key_5);
    Key(&p, QEvent::KeyPress, Qt::Key_Backspace);
    Key(&p, QEvent::KeyRelease, Qt::Key_Backspace);
    EXPECT_EQ(Commands(h), std::vector<std::string>{"KEYP:BUHO"});
    ClearCommands(h);

    // Low quality: sent, kept and checked at the next menu.
    p.OnCommand(ids::ID_QUALITY_LOW);
    EXPECT_EQ(Commands(h), std::vector<std::string>{"KEYP:QUAL:LOW"});
    EXPECT_EQ(CPrefStore(h.IniPath()).Load().quality, 2);
    auto menu = MenuStates(p);
    EXPECT_TRUE(menu[ids::ID_QUALITY_LOW].second);
    EXPECT_FALSE(menu[ids::ID_QUALITY_HIGH].second);
}

TEST(PanelKeys, EscAndEnterNeverCloseThePanel)
{
    PanelHarness h;
    h.Open(2);
    h.panel->show();
    ASSERT_TRUE(WaitFor([&] { return h.panel->isVisible(); }));
    for (int key : {Qt::Key_Escape, Qt::Key_Return}) {
        Key(h.panel.get(), QEvent::KeyPress, key);
        Key(h.panel.get(), QEvent::KeyRelease, key);
    }
    h.panel->reject();
    Spin(50);
    EXPECT_TRUE(h.panel->isVisible());
    EXPECT_EQ(h.panel->result(), 0);
    h.panel->close();
    EXPECT_FALSE(h.panel->isVisible());
}

TEST(PanelKeys, ScreenClickEdgesAndKnobSteps)
{
    PanelHarness h;
    ASSERT_TRUE(h.StartServer());
    h.Open(1);
    ASSERT_TRUE(h.Connect());
    CRemoteDlgKKC &p = *h.panel;
    // Not Started: nothing is forwarded.
    h.ClickPanel({200, 200});
    EXPECT_TRUE(Commands(h).empty());
    p.OnCommand(ids::IDC_START);
    Click(&p, {111, 25});
    Click(&p, {910, 504});
    Click(&p, {911, 300});
    Click(&p, {300, 505});
    Click(&p, {110, 300});
    EXPECT_EQ(Commands(h), (std::vector<std::string>{"KEYP 0,0", "KEYP 799,479"}));
    ClearCommands(h);

    CKnobButton *knob = p.Knob();
    ASSERT_EQ(knob->Center(), QPoint(70, 70));
    // Press at 12 o'clock, drag clockwise to 3 o'clock: three steps right.
    Click(knob, {70, 5});
    Click(knob, {110, 12}, QEvent::MouseMove);
    Click(knob, {135, 40}, QEvent::MouseMove);
    Click(knob, {135, 70}, QEvent::MouseMove);
    EXPECT_EQ(knob->Position(), 4);
    EXPECT_EQ(Commands(h), (std::vector<std::string>{"KEYP:RIGHT", "KEYP:RIGHT", "KEYP:RIGHT"}));
    EXPECT_EQ(h.instrument->ReceivedCommandsRaw().back(), "KEYP:RIGHT\n");
    ClearCommands(h);

    // Moves within one sector send nothing; turning back 60 degrees sends two steps left.
    Click(knob, {135, 72}, QEvent::MouseMove);
    Click(knob, {100, 20}, QEvent::MouseMove);
    EXPECT_EQ(Commands(h), (std::vector<std::string>{"KEYP:LEFT", "KEYP:LEFT"}));
    EXPECT_EQ(knob->Position(), 2);
    ClearCommands(h);

    // A release ends the drag wherever it happens; moves without a button turn nothing.
    Click(knob, {200, 200}, QEvent::MouseButtonRelease, Qt::NoButton);
    EXPECT_FALSE(knob->IsDragging());
    Click(knob, {5, 70}, QEvent::MouseMove, Qt::NoButton);
    EXPECT_TRUE(Commands(h).empty());
    EXPECT_EQ(knob->Position(), 2);
}

TEST(PanelFiles, PlantedLinkIsNeverFollowed)
{
    QTemporaryDir dir;
    const QString target = dir.filePath("victim.txt");
    {
        QFile f(target);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("keep me");
    }
    const QString path = dir.filePath("20150305_140307_250.jpg");
    ASSERT_TRUE(QFile::link(target, path));
    const std::uint8_t bytes[] = {0xFF, 0xD8, 0xFF, 0xD9};
    CLog::Instance().OpenIn(dir.filePath("log"));
    EXPECT_EQ(CRemoteSession::FileSaveBinary(path, bytes, 4), 0);
    QFile f(target);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll(), QByteArray("keep me"));
    // An ordinary path is written whole and truncated on the next write.
    const QString plain = dir.filePath("plain.jpg");
    EXPECT_EQ(CRemoteSession::FileSaveBinary(plain, bytes, 4), 1);
    EXPECT_EQ(CRemoteSession::FileSaveBinary(plain, bytes, 2), 1);
    EXPECT_EQ(QFileInfo(plain).size(), 2);
}

TEST(PanelFiles, PictureFolderIsPrivateAndRemovedAtClose)
{
    PanelHarness h;
    ASSERT_TRUE(h.StartServer());
    h.Open(1);
    ASSERT_TRUE(h.Connect());
    const QString folder = h.panel->Session().ImageFolder();
    EXPECT_NE(folder, QDir::tempPath());
    EXPECT_EQ(QFileInfo(folder).permissions() &
                  (QFile::ReadOther | QFile::ReadGroup | QFile::WriteOther | QFile::WriteGroup),
              QFileDevice::Permissions());
    h.panel->OnCommand(ids::IDC_START);
    EXPECT_TRUE(h.panel->Session().ImagePath().startsWith(folder + "/"));
    EXPECT_TRUE(QFileInfo(h.panel->Session().ImagePath())
                    .fileName()
                    .contains(QRegularExpression("^\\d{8}_\\d{6}_\\d{3}\\.jpg$")));
    h.panel.reset();
    EXPECT_FALSE(QFileInfo::exists(folder));
}
