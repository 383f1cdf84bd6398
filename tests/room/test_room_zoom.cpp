// The zoomed panel: clicks on keys and on the screen, and turns of the knob, mean at 150 %, in
// a 1920 x 1080 fit and in full screen exactly what the same panel points mean at 100 %.
#include "RoomHarness.h"

#include "ArtLayout.h"
#include "CKnobButton.h"
#include "CQxButton.h"
#include "LkScale.h"
#include "SimTypes.h"

#include <QStatusBar>

#include <cmath>
#include <numbers>

#include <gtest/gtest.h>

namespace {

using KkcRoom = RoomHarness<CRemoteDlgKKC>;
using LkRoom = RoomHarness<CRemoteDlgLK>;
using Commands = std::vector<std::string>;

// A zoom the operator picks: a factor, or the fit of a window of `fitClient`.
struct ZoomCase
{
    const char *name;
    double factor;
    QSize fitClient;
};
const ZoomCase kZooms[] = {{"150 %", 1.5, {}},
                           {"fit 1920 x 1080", CPanelZoomer::kFit, {1920, 1080}}};

template <typename Harness>
void ApplyZoom(Harness &h, const ZoomCase &zoom)
{
    h.panel->SetZoom(zoom.factor);
    if (zoom.fitClient.isValid())
        h.panel->resize(zoom.fitClient);
    QCoreApplication::processEvents();
}

// Key centres, the pixel beside a key, a key's corner, the screen's corners and a point
// just outside it, in panel pixels of the KKC panel at 100 %.
Commands KkcClicks(KkcRoom &h)
{
    return h.ClickPanelPoints({{55, 58},
                               {262, 590},
                               {567, 639},
                               {22, 58},
                               {111, 25},
                               {910, 504},
                               {911, 300},
                               {500, 300},
                               {110, 300},
                               {23, 35},
                               {87, 81}});
}

// Drags the KKC knob in 7-degree moves from 12 o'clock: clockwise to 100 degrees, back to 35,
// on to 380. Partial turns make every step depend on where the hand is, not just on the turns.
Commands TurnKnob(KkcRoom &h)
{
    h.Settle();
    h.instrument->ClearReceivedCommands();
    const QPoint knob = res::layout::kKkcKnobPos;
    auto at = [&](int degrees) {
        const double a = degrees * std::numbers::pi / 180.0;
        const QPoint local(70 + int(std::lround(60 * std::sin(a))),
                           70 - int(std::lround(60 * std::cos(a))));
        return h.FirstPixel(knob + local);
    };
    QTest::mousePress(h.Window(), Qt::LeftButton, {}, at(0));
    int degrees = 0;
    for (const int target : {100, 35, 380}) {
        const int step = target > degrees ? 7 : -7;
        while ((target - degrees) * step > 0) {
            degrees = std::abs(target - degrees) < 7 ? target : degrees + step;
            QTest::mouseMove(h.Window(), at(degrees));
        }
    }
    QTest::mouseRelease(h.Window(), Qt::LeftButton, {}, at(degrees));
    return h.Sent();
}

} // namespace

TEST(RoomZoom, KkcClicksAndKnobTurnsMeanWhatTheyMeanAt100Percent)
{
    KkcRoom h;
    ASSERT_TRUE(h.StartServer());
    h.OpenRoom(1);
    ASSERT_TRUE(h.Show());
    ASSERT_TRUE(h.Run());
    ASSERT_TRUE(h.panel->Zoom().IsIdentity());

    const Commands clicks = KkcClicks(h);
    const Commands expected = {"KEYP:MODE",    "KEYP:MODE",    "KEYP:NUM5",    "KEYP:NUM5",
                               "KEYP:ENTR",    "KEYP:ENTR",    "KEYP 0,0",     "KEYP 0,0",
                               "KEYP 799,479", "KEYP 799,479", "KEYP 389,275", "KEYP 389,275"};
    // The last two points are a key's rounded corners: whatever they mean, it stays so.
    ASSERT_GE(clicks.size(), expected.size());
    EXPECT_EQ(Commands(clicks.begin(), clicks.begin() + std::ptrdiff_t(expected.size())), expected);
    const Commands turns = TurnKnob(h);
    Commands steps(3, "KEYP:RIGHT");
    steps.insert(steps.end(), 2, "KEYP:LEFT");
    steps.insert(steps.end(), 11, "KEYP:RIGHT");
    EXPECT_EQ(turns, steps);

    for (const ZoomCase &zoom : kZooms) {
        SCOPED_TRACE(zoom.name);
        ApplyZoom(h, zoom);
        ASSERT_NE(h.panel->Zoom().Factor(), 1.0);
        if (zoom.factor == CPanelZoomer::kFit) {
            EXPECT_EQ(h.panel->size(), zoom.fitClient);
            EXPECT_EQ(h.panel->Zoom(), PanelZoom::Fit({1023, 679}, {1920, 1060}));
        } else {
            EXPECT_EQ(h.panel->size(), PanelZoom::SizeAt(zoom.factor, {1023, 679}) + QSize(0, 20));
        }
        // The knob's own arithmetic stays at its size on the panel.
        EXPECT_EQ(h.panel->Knob()->Center(), QPoint(70, 70));
        EXPECT_EQ(KkcClicks(h), clicks);
        EXPECT_EQ(TurnKnob(h), turns);
    }
}

TEST(RoomZoom, KkcTouchOnTheZoomedPictureWorksTheSimulatedMenu)
{
    KkcRoom h;
    ASSERT_TRUE(h.StartServerAs("KL535C"));
    h.OpenRoom(1);
    ASSERT_TRUE(h.Show());
    ASSERT_TRUE(h.Run());
    ApplyZoom(h, kZooms[0]);
    h.ClickWindow(h.FirstPixel(h.panel->Key(1081)->PanelRect().center())); // Trace
    const SimRect label = SoftKeyLabelRect(SimFamily::Kkc, 1);             // "Max Hold"
    const QPoint onLabel(111 + label.x + label.width / 2, 25 + label.y + label.height / 2);
    h.ClickWindow(h.LastPixel(onLabel));
    h.Settle();
    EXPECT_EQ(h.instrument->State().Menu(), SimMenu::Trace);
    EXPECT_EQ(h.instrument->State().TraceMode(), SimTraceMode::MaxHold);
    EXPECT_EQ(h.instrument->State().HighlightedSoftKey(), 1);
}

TEST(RoomZoom, FullScreenOnF11FitsTheScreenAndEscStaysTheInstrumentsKey)
{
    KkcRoom h;
    ASSERT_TRUE(h.StartServer());
    h.OpenRoom(1);
    ASSERT_TRUE(h.Show());
    ASSERT_TRUE(h.Run());
    QTest::keyClick(h.Window(), Qt::Key_F11);
    ASSERT_TRUE(WaitFor([&] { return h.panel->isFullScreen(); }));
    EXPECT_TRUE(h.panel->IsFullScreen());
    const QSize screen = h.panel->screen()->geometry().size();
    EXPECT_EQ(h.panel->Zoom(), PanelZoom::Fit({1023, 679}, screen - QSize(0, 20)));
    EXPECT_EQ(h.panel->findChild<QStatusBar *>()->geometry().bottom(), screen.height() - 1);

    h.instrument->ClearReceivedCommands();
    QTest::keyClick(h.Window(), Qt::Key_Escape);
    EXPECT_EQ(h.Sent(), Commands{"KEYP:ESC"});
    EXPECT_TRUE(h.panel->isFullScreen());

    QTest::keyClick(h.Window(), Qt::Key_F11);
    ASSERT_TRUE(WaitFor([&] { return !h.panel->isFullScreen(); }));
    EXPECT_EQ(h.panel->size(), QSize(1023, 699));
    EXPECT_TRUE(h.panel->Zoom().IsIdentity());
}

// A KKC window made smaller kept its panel at full size, cut off with the status bar beneath
// it; made larger it could not be. Either way the panel now scales with the window.
TEST(RegressKkcResize, AResizedWindowScalesThePanelAndKeepsTheStatusBarInView)
{
    KkcRoom h;
    h.OpenRoom(2);
    ASSERT_TRUE(h.Show());
    for (const QSize client : {QSize(980, 600), QSize(1400, 920)}) {
        SCOPED_TRACE(client.width());
        h.panel->resize(client);
        QCoreApplication::processEvents();
        ASSERT_EQ(h.panel->size(), client);
        EXPECT_EQ(h.panel->findChild<QStatusBar *>()->geometry(),
                  QRect(0, client.height() - 20, client.width(), 20));
        const PanelZoom zoom = PanelZoom::Fit({1023, 679}, client - QSize(0, 20));
        EXPECT_EQ(h.panel->Zoom(), zoom);
        EXPECT_EQ(h.panel->Key(1073)->geometry(), zoom.ToWindow(QRect(23, 35, 65, 47)));
        EXPECT_EQ(h.panel->findChild<QWidget *>("1049")->geometry(),
                  zoom.ToWindow(QRect(111, 25, 800, 480)));
    }
    EXPECT_EQ(h.panel->ZoomFactor(), CPanelZoomer::kFit);
    // Back to 100 %: the panel's own size again.
    h.room->OnCommand(CRoomFeature::ID_ZOOM_100);
    EXPECT_EQ(h.panel->size(), QSize(1023, 699));
    EXPECT_EQ(h.panel->Key(1073)->geometry(), QRect(23, 35, 65, 47));
}

TEST(RoomZoom, LkZoomMultipliesItsDisplayScaleAndKeepsTheFrameFixed)
{
    LkRoom h;
    ASSERT_TRUE(h.StartServerAs("KL561B")); // takes touches
    h.OpenRoom(1);
    ASSERT_TRUE(h.Show());
    ASSERT_TRUE(h.Run());
    h.panel->OnCommand(CRemoteDlgLK::ID_SCALE_85);
    const QSize client85 = h.panel->size();
    const QRect screen = lk::ScreenRect(1);
    const auto clicks = [&] {
        return h.ClickPanelPoints({lk::KeyRect(1013, 1).center(), screen.topLeft(),
                                   screen.bottomRight(), screen.center()});
    };
    const Commands at100 = clicks();
    ASSERT_EQ(at100.size(), 8u);
    EXPECT_EQ(at100[0], "KEYP:ESC");
    EXPECT_EQ(at100[2], "KEYP 0,0");

    h.room->OnCommand(CRoomFeature::ID_ZOOM_150);
    QCoreApplication::processEvents();
    const QSize panel = client85 - QSize(0, 20);
    EXPECT_EQ(h.panel->size(), PanelZoom::SizeAt(1.5, panel) + QSize(0, 20));
    EXPECT_EQ(h.panel->Key(1013)->geometry(), h.panel->Zoom().ToWindow(lk::KeyRect(1013, 1)));
    EXPECT_EQ(clicks(), at100);
    // Still a fixed frame.
    const QSize zoomed = h.panel->size();
    h.panel->resize(zoomed + QSize(100, 100));
    EXPECT_EQ(h.panel->size(), zoomed);
    // The display scale is its own: changed under the zoom, the window follows both.
    h.panel->OnCommand(CRemoteDlgLK::ID_SCALE_70);
    EXPECT_EQ(h.panel->Session().m_nScale, 2);
    EXPECT_EQ(h.panel->Key(1013)->geometry(), h.panel->Zoom().ToWindow(lk::KeyRect(1013, 2)));

    h.room->OnCommand(CRoomFeature::ID_ZOOM_100);
    EXPECT_EQ(h.panel->frameGeometry().size(), lk::OuterSize(2));
    EXPECT_EQ(h.panel->Key(1013)->geometry(), lk::KeyRect(1013, 2));
}
