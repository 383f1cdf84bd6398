// The LK panel against the simulated instrument: model groups and screen touches, the
// keyboard, the send path, quality on Start, the scaled pictures and their files, and the log.
#include "CRemoteDlgLK.h"
#include "PanelHarness.h"

#include "CImage.h"
#include "CKnobButton.h"
#include "CQxButton.h"
#include "LkScale.h"
#include "Resources.h"

#include <QFileInfo>
#include <QMouseEvent>
#include <QRegularExpression>

#include <gtest/gtest.h>

#include <set>

using LkHarness = BasicPanelHarness<CRemoteDlgLK>;

namespace {

using Commands = std::vector<std::string>;

const int kScaleCommand[3] = {CRemoteDlgLK::ID_SCALE_100, CRemoteDlgLK::ID_SCALE_85,
                              CRemoteDlgLK::ID_SCALE_70};

void LeftPress(QWidget *target, QPoint at)
{
    QMouseEvent press(QEvent::MouseButtonPress, at, target->mapToGlobal(at), Qt::LeftButton,
                      Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &press);
    QMouseEvent release(QEvent::MouseButtonRelease, at, target->mapToGlobal(at), Qt::LeftButton,
                        Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(target, &release);
}

QImage FaceOf(int id, int scale, res::Face face)
{
    return res::LoadBitmap(res::LkKeyFace(id, scale, face));
}

} // namespace

TEST(LkModelGroup, TouchModelsGetClicksAtEveryScale)
{
    LkHarness h;
    ASSERT_TRUE(h.StartServerAs("KL561B"));
    h.Open(1);
    EXPECT_EQ(h.panel->ModelGroup(), 4);
    ASSERT_TRUE(h.Connect());
    EXPECT_EQ(h.panel->ModelGroup(), 6);
    h.panel->OnCommand(ids::IDC_START);

    // Published: the last pixel of the picture at each scale, and one past it.
    const QPoint lastPixel[3] = {{799, 599}, {798, 598}, {797, 597}};
    for (int s : {0, 1, 2}) {
        SCOPED_TRACE(s);
        h.panel->OnCommand(kScaleCommand[s]);
        h.instrument->ClearReceivedCommands();
        const QRect r = h.panel->m_rcScreen;
        h.ClickPanel(r.topLeft());
        h.ClickPanel(r.topLeft() + QPoint(r.width() - 1, r.height() - 1));
        h.ClickPanel(r.topLeft() + QPoint(r.width(), 0)); // right edge: outside
        h.ClickPanel(r.topLeft() + QPoint(0, r.height()));
        h.ClickPanel(r.topLeft() - QPoint(1, 0));
        h.Settle();
        const std::string last =
            "KEYP " + std::to_string(lastPixel[s].x()) + "," + std::to_string(lastPixel[s].y());
        EXPECT_EQ(h.Sent(), (Commands{"KEYP 0,0", last}));
    }

    // Through the window's own mouse handling, at 70 %: (28 + 7, 27 + 7) is (10, 10).
    h.instrument->ClearReceivedCommands();
    LeftPress(h.panel.get(), QPoint(35, 34));
    h.Settle();
    EXPECT_EQ(h.Sent(), (Commands{"KEYP 10,10"}));

    // Stopped: nothing, whatever the group.
    h.panel->OnCommand(ids::IDC_STOP);
    h.instrument->ClearReceivedCommands();
    h.ClickPanel(QPoint(100, 100));
    h.Settle();
    EXPECT_TRUE(h.Sent().empty());
}

TEST(LkModelGroup, OtherModelsGetNoClicksAndTheGroupOutlivesDisconnect)
{
    LkHarness h;
    ASSERT_TRUE(h.StartServerAs("KL512A"));
    h.Open(1);
    ASSERT_TRUE(h.Connect());
    EXPECT_EQ(h.panel->ModelGroup(), 4);
    h.panel->OnCommand(ids::IDC_START);
    h.ClickPanel(QPoint(100, 100));
    h.Settle();
    EXPECT_TRUE(h.Sent().empty());
    h.panel->OnCommand(ids::IDC_STOP);
    h.panel->OnCommand(ids::IDC_DISCONNECT);

    h.instrument->SetModel("KL564B");
    ASSERT_TRUE(h.Connect());
    EXPECT_EQ(h.panel->ModelGroup(), 6);
    h.panel->OnCommand(ids::IDC_DISCONNECT);
    EXPECT_EQ(h.panel->ModelGroup(), 6);

    // A group-6 text in lower case is no model of the table.
    h.instrument->SetModel("kl564b");
    ASSERT_TRUE(h.Connect());
    EXPECT_EQ(h.panel->ModelGroup(), 0);
    h.panel->OnCommand(ids::IDC_START);
    h.ClickPanel(QPoint(100, 100));
    h.Settle();
    EXPECT_TRUE(h.Sent().empty());
}

TEST(LkModelGroup, UsbConnectClassifiesToo)
{
    LkHarness h;
    h.instrument->SetModel("MW310");
    h.Open(2);
    ASSERT_TRUE(h.Connect());
    EXPECT_EQ(h.panel->ModelGroup(), 2);
}

TEST(LkKeyboard, HeldKeyShowsPressedAndSendsOnceOnRelease)
{
    LkHarness h;
    ASSERT_TRUE(h.StartServer());
    h.Open(1);
    ASSERT_TRUE(h.Connect());
    h.panel->OnCommand(ids::IDC_START);
    h.Settle();
    h.instrument->ClearReceivedCommands();

    CQxButton *soft3 = h.panel->Key(1016);
    const QImage normal = FaceOf(1016, 0, res::Face::Normal);
    const QImage pressed = FaceOf(1016, 0, res::Face::Pressed);
    ASSERT_NE(normal, pressed);
    // The window system repeats a held key as release-press pairs after its repeat delay.
    h.Key(QEvent::KeyPress, Qt::Key_F3, Qt::NoModifier, false, 1000);
    EXPECT_EQ(soft3->Face(CQxButton::Normal), pressed);
    for (ulong t = 1500; t < 1700; t += 40) {
        h.Key(QEvent::KeyRelease, Qt::Key_F3, Qt::NoModifier, true, t);
        h.Key(QEvent::KeyPress, Qt::Key_F3, Qt::NoModifier, true, t);
    }
    h.Settle();
    EXPECT_TRUE(h.Sent().empty());
    EXPECT_EQ(soft3->Face(CQxButton::Normal), pressed);
    // No other key changed its face.
    EXPECT_EQ(h.panel->Key(1015)->Face(CQxButton::Normal), FaceOf(1015, 0, res::Face::Normal));
    h.Key(QEvent::KeyRelease, Qt::Key_F3, Qt::NoModifier, false, 1720);
    h.Settle();
    EXPECT_EQ(h.Sent(), (Commands{"KEYP:CUS3"}));
    EXPECT_EQ(soft3->Face(CQxButton::Normal), normal);
    EXPECT_EQ(soft3->Face(CQxButton::Focus), FaceOf(1016, 0, res::Face::Focus));
}

TEST(LkKeyboard, ShortcutsSendTheirKeysAtTheCurrentScale)
{
    LkHarness h;
    ASSERT_TRUE(h.StartServer());
    h.Open(1);
    ASSERT_TRUE(h.Connect());
    h.panel->OnCommand(CRemoteDlgLK::ID_SCALE_70);
    h.panel->OnCommand(ids::IDC_START);
    h.Settle();
    h.instrument->ClearReceivedCommands();

    // Held pad 7 shows the 70 % pressed face on Save/Load / 7.
    h.Key(QEvent::KeyPress, Qt::Key_7, Qt::KeypadModifier);
    EXPECT_EQ(h.panel->Key(1035)->Face(CQxButton::Normal), FaceOf(1035, 2, res::Face::Pressed));
    h.Key(QEvent::KeyRelease, Qt::Key_7, Qt::KeypadModifier);
    EXPECT_EQ(h.panel->Key(1035)->Face(CQxButton::Normal), FaceOf(1035, 2, res::Face::Normal));

    h.Tap(Qt::Key_Backspace);
    h.Tap(Qt::Key_Delete);
    h.Tap(Qt::Key_7);                          // main digit row: no shortcut
    h.Tap(Qt::Key_Period, Qt::KeypadModifier); // pad decimal point
    h.Tap(Qt::Key_Up, Qt::KeypadModifier);     // pad 8 with Num Lock off
    h.Tap(Qt::Key_Right);
    h.Tap(Qt::Key_Enter, Qt::KeypadModifier);
    h.Tap(Qt::Key_Return);
    h.Tap(Qt::Key_Escape);
    h.Tap(Qt::Key_F7);
    h.Settle();
    EXPECT_EQ(h.Sent(), (Commands{"KEYP:NUM7", "KEYP:PREV", "KEYP:DEL", "KEYP:JUM", "KEYP:UP",
                                  "KEYP:RIGH", "KEYP:ENTR", "KEYP:ENTR", "KEYP:ESC", "KEYP:CUS7"}));
}

TEST(LkKeyboard, StoppedSendsNothingAndEscEnterNeverClose)
{
    LkHarness h;
    ASSERT_TRUE(h.StartServer());
    h.Open(1);
    h.panel->show();
    ASSERT_TRUE(h.Connect());
    h.Settle();
    h.instrument->ClearReceivedCommands();

    for (int key : {int(Qt::Key_F1), int(Qt::Key_Left), int(Qt::Key_Backspace)})
        h.Tap(key);
    h.Key(QEvent::KeyPress, Qt::Key_5, Qt::KeypadModifier);
    EXPECT_EQ(h.panel->Key(1033)->Face(CQxButton::Normal), FaceOf(1033, 0, res::Face::Normal));
    h.Key(QEvent::KeyRelease, Qt::Key_5, Qt::KeypadModifier);
    EXPECT_EQ(h.panel->Key(1014)->Face(CQxButton::Normal), FaceOf(1014, 0, res::Face::Normal));
    h.Tap(Qt::Key_Escape);
    h.Tap(Qt::Key_Return);
    h.Tap(Qt::Key_Enter, Qt::KeypadModifier);
    h.Settle();
    EXPECT_TRUE(h.Sent().empty());
    EXPECT_TRUE(h.panel->isVisible());

    h.panel->OnCommand(ids::IDC_START);
    h.Tap(Qt::Key_Escape);
    h.Tap(Qt::Key_Return);
    h.Settle();
    EXPECT_EQ(h.Sent(), (Commands{"KEYP:ESC", "KEYP:ENTR"}));
    EXPECT_TRUE(h.panel->isVisible());
}

TEST(LkSend, TextsLeaveUnchangedWithTheirLineFeedLogged)
{
    LkHarness h;
    ASSERT_TRUE(h.StartServer());
    h.Open(1);
    h.panel->show();
    ASSERT_TRUE(h.Connect());
    h.panel->OnCommand(ids::IDC_START);
    h.Settle();
    h.instrument->ClearReceivedCommands();

    h.panel->Key(1044)->click();
    h.panel->OnCommand(1040);
    // One notch clockwise from the top: the knob's own right step.
    CKnobButton *knob = h.panel->Knob();
    knob->Step(1);
    knob->Step(-1);
    h.Settle();
    EXPECT_EQ(h.instrument->ReceivedCommandsRaw(),
              (Commands{"KEYP:RIGH\n", "KEYP:BUHO\n", "KEYP:RIGH\n", "KEYP:LEFT\n"}));
    EXPECT_TRUE(h.LogBytes().contains("KEYP:RIGH\n\r\n"));
    EXPECT_FALSE(h.LogBytes().contains("KEYP:RIGHT"));
}

TEST(LkSend, AFailedSendKeepsTheLinkOpen)
{
    LkHarness h;
    h.Open(2);
    ASSERT_TRUE(h.Connect());
    ASSERT_NE(h.usb, nullptr);
    h.panel->OnCommand(ids::IDC_START);
    ASSERT_TRUE(WaitFor([&] { return h.panel->PicturesShown() >= 1; }));
    h.usb->SetWritesFail(true);
    h.panel->OnCommand(1022);
    ASSERT_TRUE(WaitFor([&] { return h.LogLines().contains("Send REQ_CMD Error"); }))
        << h.LogLines().join("|").toStdString();
    Spin(300);
    EXPECT_TRUE(h.panel->Link().IsConnected());
    EXPECT_EQ(h.panel->Session().m_bStarted.load(), 1);
    EXPECT_EQ(h.panel->PaneText(1), "Connected");
    h.usb->SetWritesFail(false);
}

TEST(LkSend, StartSendsAStoredMediumOrLowQuality)
{
    const char *expected[3] = {nullptr, "KEYP:QUAL:NORM", "KEYP:QUAL:LOW"};
    for (int quality : {0, 1, 2}) {
        SCOPED_TRACE(quality);
        LkHarness h;
        ASSERT_TRUE(h.StartServer());
        h.Preset("Quality", quality);
        h.Open(1);
        ASSERT_TRUE(h.Connect());
        h.panel->OnCommand(ids::IDC_START);
        h.Settle();
        if (expected[quality])
            EXPECT_EQ(h.Sent(), (Commands{expected[quality]}));
        else
            EXPECT_TRUE(h.Sent().empty());
    }
}

TEST(LkPicture, ScaledCopiesAreWrittenBesideTheScreenFileAt85And70Only)
{
    LkHarness h;
    ASSERT_TRUE(h.StartServer());
    h.Open(1);
    ASSERT_TRUE(h.Run());
    const QString image = h.panel->Session().ImagePath();
    const QString base = image.left(image.size() - 4);
    EXPECT_EQ(h.panel->ScreenPicture().size(), QSize(800, 600));
    EXPECT_FALSE(QFileInfo::exists(base + "_085.jpg"));
    EXPECT_FALSE(QFileInfo::exists(base + "_070.jpg"));

    const QSize sizes[3] = {{800, 600}, {680, 510}, {559, 419}};
    const char *suffixes[3] = {nullptr, "_085.jpg", "_070.jpg"};
    for (int s : {1, 2}) {
        SCOPED_TRACE(s);
        h.panel->OnCommand(kScaleCommand[s]);
        const int shown = h.panel->PicturesShown();
        // One picture may still have been drawn at the old scale.
        ASSERT_TRUE(WaitFor([&] {
            return h.panel->PicturesShown() >= shown + 2 &&
                   h.panel->ScreenPicture().size() == sizes[s];
        }));
        const QString scaled = base + suffixes[s];
        ASSERT_TRUE(QFileInfo::exists(scaled)) << scaled.toStdString();
        CImage saved;
        ASSERT_EQ(saved.Load(scaled), 0);
        EXPECT_EQ(QSize(saved.GetWidth(), saved.GetHeight()), sizes[s]);
    }
    // Back at 100 % nothing new is written.
    h.panel->OnCommand(kScaleCommand[0]);
    QFile::remove(base + "_070.jpg");
    const int shown = h.panel->PicturesShown();
    ASSERT_TRUE(WaitFor([&] { return h.panel->PicturesShown() >= shown + 2; }));
    EXPECT_FALSE(QFileInfo::exists(base + "_070.jpg"));
}

TEST(LkPicture, AScreenAt70LandsInItsRectangle)
{
    LkHarness h;
    ASSERT_TRUE(h.StartServer());
    h.Preset("Scale", 2);
    h.Open(1);
    h.panel->show();
    ASSERT_TRUE(h.Run());
    ASSERT_TRUE(WaitFor([&] { return h.panel->ScreenPicture().size() == QSize(559, 419); }));
    Spin(50);
    const QImage picture = h.panel->ScreenPicture().convertToFormat(QImage::Format_RGB32);
    const QImage window = h.panel->grab().toImage().convertToFormat(QImage::Format_RGB32);
    const QImage panel = res::LoadBitmap(res::LkPanel(2)).convertToFormat(QImage::Format_RGB32);
    ASSERT_EQ(h.panel->m_rcScreen, QRect(28, 27, 559, 419));

    int differing = 0;
    for (int y = 0; y < 419; y += 7)
        for (int x = 0; x < 559; x += 7)
            differing += window.pixel(28 + x, 27 + y) != picture.pixel(x, y);
    for (const QPoint p : {QPoint(0, 0), QPoint(558, 0), QPoint(0, 418), QPoint(558, 418)})
        differing += window.pixel(QPoint(28, 27) + p) != picture.pixel(p);
    EXPECT_EQ(differing, 0);
    // Around the rectangle the panel picture shows.
    for (const QPoint p : {QPoint(27, 100), QPoint(587, 100), QPoint(300, 26), QPoint(300, 446)})
        EXPECT_EQ(window.pixel(p), panel.pixel(p)) << p.x() << "," << p.y();
    // The picture is the instrument's screen, not a blank: it has more than one colour.
    std::set<QRgb> colours;
    for (int x = 0; x < 559; x += 13)
        colours.insert(picture.pixel(x, 200));
    EXPECT_GT(colours.size(), 2u);
}

TEST(LkRefresh, TransferTimesAndFailuresUseThePanelsFormats)
{
    LkHarness h;
    ASSERT_TRUE(h.StartServer());
    h.Open(1);
    ASSERT_TRUE(h.Run());
    h.Settle();
    const QRegularExpression tcpTime(QStringLiteral("^\\d+\\.\\d{3}, (\\d+)$"));
    bool found = false;
    for (const QString &line : h.LogLines()) {
        const auto m = tcpTime.match(line);
        if (m.hasMatch()) {
            found = true;
            EXPECT_GT(m.captured(1).toInt(), 100);
        }
    }
    EXPECT_TRUE(found) << h.LogLines().join("|").toStdString();

    h.instrument->SetFault(SimFault::Checksum);
    ASSERT_TRUE(WaitFor([&] { return h.LogBytes().contains("Receive Fail : "); }));
    h.panel->OnCommand(ids::IDC_STOP);
    Spin(100);
    // No line feed of its own on TCP: the log's own line end follows the text directly.
    const QByteArray bytes = h.LogBytes();
    const qsizetype at = bytes.indexOf("Receive Fail : ");
    const qsizetype end = bytes.indexOf("\r\n", at);
    EXPECT_EQ(bytes.mid(at, end - at).count('\n'), 0);
}

TEST(LkRefresh, UsbTimesCarrySecondsOnly)
{
    LkHarness h;
    h.Open(2);
    ASSERT_TRUE(h.Run());
    h.Settle();
    const QRegularExpression usbTime(QStringLiteral("^\\d+\\.\\d{3}$"));
    bool found = false;
    for (const QString &line : h.LogLines())
        found = found || usbTime.match(line).hasMatch();
    EXPECT_TRUE(found) << h.LogLines().join("|").toStdString();
}
