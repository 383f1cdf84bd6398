// The window itself: its title while connected, staying on top, and the simulated KKC
// instrument worked by touching its menu.
#include "RoomHarness.h"

#include "CSimPanelState.h"
#include "RoomTitle.h"

#include <QFileInfo>
#include <QTimer>
#include <QWindow>

#include <gtest/gtest.h>

using KkcRoom = RoomHarness<CRemoteDlgKKC>;
using LkRoom = RoomHarness<CRemoteDlgLK>;

TEST(RoomTitle, SaysModelAndAddressWhileConnectedAndTheLogKeepsThePlainTitle)
{
    KkcRoom tcp;
    ASSERT_TRUE(tcp.StartServerAs("KL535C"));
    tcp.OpenRoom(1);
    EXPECT_EQ(tcp.panel->windowTitle(), "KLRemote 2.0");
    ASSERT_TRUE(tcp.Connect());
    EXPECT_EQ(tcp.panel->windowTitle(), "KLRemote 2.0 - KL535C - 127.0.0.1");
    ASSERT_FALSE(tcp.LogLines().isEmpty());
    EXPECT_EQ(tcp.LogLines().first(), "KLRemote 2.0");
    tcp.panel->OnCommand(ids::IDC_DISCONNECT);
    EXPECT_EQ(tcp.panel->windowTitle(), "KLRemote 2.0");

    LkRoom usb;
    usb.OpenRoom(2);
    ASSERT_TRUE(usb.Connect());
    EXPECT_EQ(usb.panel->windowTitle(), "KLRemote 2.0 - KL561B - USB");
}

TEST(RoomTitle, AnIdentificationReplyCannotSpoilTheTitle)
{
    EXPECT_EQ(ModelOfReply(QByteArray("KL561B\0SN 1\0", 12)), "KL561B");
    EXPECT_EQ(ModelOfReply("  KL\r\n561B\x1b[2J  "), "KL561B[2J");
    EXPECT_EQ(ModelOfReply("KL\xe9"), "KL?");
    EXPECT_EQ(ModelOfReply(QByteArray(5000, 'A')).size(), kMaxModelChars);
    EXPECT_EQ(ConnectedTitle("KLRemote 2.0", QByteArray(), 3, "10.0.0.1", "fe80::1"),
              "KLRemote 2.0 - fe80::1");
    EXPECT_EQ(ConnectedTitle("KLRemote 2.0", "KL561B", 1, "192.168.1.50", "::1"),
              "KLRemote 2.0 - KL561B - 192.168.1.50");
}

TEST(RoomWindow, StayOnTopKeepsTheModalRunAndIsStored)
{
    KkcRoom h;
    h.OpenRoom(2);
    bool visible = false;
    bool flagged = false;
    QTimer::singleShot(0, h.panel.get(), [&] {
        h.room->OnCommand(CRoomFeature::ID_STAY_ON_TOP);
        QTimer::singleShot(100, h.panel.get(), [&] {
            visible = h.panel->isVisible();
            flagged = (h.panel->windowFlags() & Qt::WindowStaysOnTopHint) &&
                      (h.panel->windowHandle()->flags() & Qt::WindowStaysOnTopHint);
            h.panel->close();
        });
    });
    h.panel->exec();
    EXPECT_TRUE(visible);
    EXPECT_TRUE(flagged);
    EXPECT_TRUE(h.room->StaysOnTop());
    EXPECT_EQ(h.Stored("StayOnTop").toInt(), 1);

    // The next panel comes up on top from the start.
    KkcRoom next;
    next.Preset("StayOnTop", 1);
    next.OpenRoom(2);
    EXPECT_TRUE(next.panel->windowFlags() & Qt::WindowStaysOnTopHint);
    next.room->OnCommand(CRoomFeature::ID_STAY_ON_TOP);
    EXPECT_FALSE(next.panel->windowFlags() & Qt::WindowStaysOnTopHint);
    EXPECT_EQ(next.Stored("StayOnTop").toInt(), 0);
}

TEST(RoomWindow, ComfortsNeverCreateTheSettings)
{
    // Without a store the panel runs on its defaults (USB, the fixed addresses); choosing a
    // comfort must not bring a store into being that would change them next time.
    KkcRoom h;
    h.OpenRoom(0);
    h.room->OnCommand(CRoomFeature::ID_DIGIT_ROW);
    h.room->OnCommand(CRoomFeature::ID_STAY_ON_TOP);
    EXPECT_TRUE(h.panel->DigitRowAsKeypad());
    EXPECT_FALSE(QFileInfo::exists(h.IniPath()));
    EXPECT_FALSE(CPrefStore(h.IniPath()).Exists());
}

TEST(RoomSimTouch, KkcModelsPressTheSoftKeyWhoseLabelIsTouched)
{
    auto touch = [](CSimPanelState &state, int softKey) {
        const SimRect r = SoftKeyLabelRect(state.Family(), softKey);
        return state.Apply("KEYP " + std::to_string(r.x + r.width / 2) + "," +
                           std::to_string(r.y + r.height / 2) + "\n");
    };
    CSimPanelState kkc(SimFamily::Kkc);
    ASSERT_TRUE(kkc.Apply("KEYP:TRACE"));
    ASSERT_TRUE(touch(kkc, 2)); // "Min Hold"
    EXPECT_EQ(kkc.TraceMode(), SimTraceMode::MinHold);
    EXPECT_EQ(kkc.HighlightedSoftKey(), 2);
    ASSERT_TRUE(kkc.Apply("KEYP:MODE"));
    ASSERT_TRUE(touch(kkc, 2)); // "Return Loss"
    EXPECT_EQ(kkc.MeasurementName(), "Cable & Antenna: Return Loss");
    // Beside the labels a touch is only a touch.
    ASSERT_TRUE(kkc.Apply("KEYP:TRACE"));
    ASSERT_TRUE(kkc.Apply("KEYP 300,200"));
    EXPECT_EQ(kkc.TraceMode(), SimTraceMode::MinHold);
    EXPECT_EQ(kkc.HighlightedSoftKey(), -1);

    // The LK models have soft keys beside the screen; a touch there changes nothing.
    CSimPanelState lk(SimFamily::Lk);
    ASSERT_TRUE(lk.Apply("KEYP:TRAC"));
    ASSERT_TRUE(touch(lk, 2));
    EXPECT_EQ(lk.TraceMode(), SimTraceMode::ClearWrite);
    ASSERT_TRUE(lk.Touch().has_value());
}
