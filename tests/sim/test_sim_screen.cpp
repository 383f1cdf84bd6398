// What the simulated screen looks like: sizes, change from frame to frame, the regions a
// key changes, and what JPEG quality does to the size.
#include "CSimScreen.h"

#include <QImage>

#include <gtest/gtest.h>

#include <cstdlib>

namespace {

const QTime kNoon(12, 0, 0, 0);

// Mean absolute difference per channel over a region, 0..255.
double RegionDifference(const QImage &a, const QImage &b, const QRect &region)
{
    long long sum = 0;
    long long n = 0;
    for (int y = region.top(); y <= region.bottom(); ++y) {
        for (int x = region.left(); x <= region.right(); ++x) {
            const QRgb p = a.pixel(x, y);
            const QRgb q = b.pixel(x, y);
            sum += std::abs(qRed(p) - qRed(q)) + std::abs(qGreen(p) - qGreen(q)) +
                   std::abs(qBlue(p) - qBlue(q));
            n += 3;
        }
    }
    return n ? static_cast<double>(sum) / static_cast<double>(n) : 0.0;
}

QRect SoftKeyColumn(SimFamily family)
{
    return CSimScreen::SoftKeyRect(family, 0).united(
        CSimScreen::SoftKeyRect(family, CSimPanelState::kSoftKeys - 1));
}

TEST(SimScreen, FrameSizeFollowsTheFamily)
{
    CSimScreen screen;
    EXPECT_EQ(screen.Render(CSimPanelState(SimFamily::Lk), 1, kNoon).size(), QSize(800, 600));
    EXPECT_EQ(screen.Render(CSimPanelState(SimFamily::Kkc), 1, kNoon).size(), QSize(800, 480));
    // Every region of the layout lies on the smaller screen too.
    const QRect kkc(0, 0, 800, 480);
    for (int i = 0; i < CSimPanelState::kSoftKeys; ++i)
        EXPECT_TRUE(kkc.contains(CSimScreen::SoftKeyRect(SimFamily::Kkc, i))) << i;
    EXPECT_TRUE(kkc.contains(CSimScreen::StatusRect(SimFamily::Kkc)));
    EXPECT_TRUE(kkc.contains(CSimScreen::AnnotationRect(SimFamily::Kkc)));
}

TEST(SimScreen, ConsecutiveFramesDifferAndSeedsReproduce)
{
    CSimPanelState state;
    CSimScreen a(7);
    CSimScreen b(7);
    const QImage first = a.Render(state, 1, kNoon);
    const QImage second = a.Render(state, 2, kNoon.addMSecs(500));
    EXPECT_NE(first, second);
    // The trace noise alone changes between frames.
    EXPECT_GT(RegionDifference(first, second, CSimScreen::GraticuleRect(SimFamily::Lk)), 0.0);
    EXPECT_GT(RegionDifference(first, second, CSimScreen::ClockRect(SimFamily::Lk)), 0.0);
    // The same seed, frame and clock draw the same picture.
    EXPECT_EQ(b.Render(state, 1, kNoon), first);
}

TEST(SimScreen, KeysChangeTheRegionsTheyAreAbout)
{
    CSimPanelState state;
    CSimScreen screen(3);
    const QImage before = screen.Render(state, 1, kNoon);
    const QImage same = screen.Render(state, 2, kNoon);
    const QRect menu = SoftKeyColumn(SimFamily::Lk);
    EXPECT_EQ(RegionDifference(before, same, menu), 0.0);
    EXPECT_EQ(RegionDifference(before, same, CSimScreen::AnnotationRect(SimFamily::Lk)), 0.0);

    ASSERT_TRUE(state.Apply("KEYP:FREQ"));
    const QImage freq = screen.Render(state, 3, kNoon);
    EXPECT_GT(RegionDifference(before, freq, menu), 1.0);

    // A pressed soft key is highlighted; the entered centre reaches the annotations.
    ASSERT_TRUE(state.Apply("KEYP:CUS1"));
    const QImage pressed = screen.Render(state, 4, kNoon);
    EXPECT_GT(RegionDifference(freq, pressed, CSimScreen::SoftKeyRect(SimFamily::Lk, 0)), 20.0);
    EXPECT_EQ(RegionDifference(freq, pressed, CSimScreen::SoftKeyRect(SimFamily::Lk, 3)), 0.0);
    for (const char *key : {"KEYP:NUM7", "KEYP:NUM0", "KEYP:ENTR"})
        ASSERT_TRUE(state.Apply(key));
    const QImage moved = screen.Render(state, 5, kNoon);
    EXPECT_GT(RegionDifference(pressed, moved, CSimScreen::AnnotationRect(SimFamily::Lk)), 0.5);

    // The measurement name in the header follows the mode key.
    ASSERT_TRUE(state.Apply("KEYP:MODE"));
    const QImage mode = screen.Render(state, 6, kNoon);
    QRect title = CSimScreen::HeaderRect(SimFamily::Lk);
    title.setRight(CSimScreen::ClockRect(SimFamily::Lk).left() - 1);
    EXPECT_GT(RegionDifference(moved, mode, title), 1.0);
}

TEST(SimScreen, TouchDrawsACrossHairWhereTouched)
{
    CSimPanelState state;
    CSimScreen screen;
    const QImage before = screen.Render(state, 1, kNoon);
    ASSERT_TRUE(state.Apply("KEYP 300,250"));
    const QImage after = screen.Render(state, 2, kNoon);
    const QRect around(300 - 16, 250 - 16, 33, 33);
    const QRect far(20, 250 - 16, 33, 33);
    // Only the touch colour is strongly magenta on this palette.
    int magenta = 0;
    for (int y = around.top(); y <= around.bottom(); ++y) {
        for (int x = around.left(); x <= around.right(); ++x) {
            const QRgb p = after.pixel(x, y);
            magenta += qRed(p) > 200 && qBlue(p) > 150 && qGreen(p) < 120;
        }
    }
    EXPECT_GT(magenta, 40);
    EXPECT_EQ(RegionDifference(before, after, far), 0.0);
}

TEST(SimScreen, LowerJpegQualityGivesSmallerFiles)
{
    CSimPanelState state;
    CSimScreen screen;
    const QImage image = screen.Render(state, 1, kNoon);
    const QByteArray high = CSimScreen::EncodeJpeg(image, 90);
    const QByteArray normal = CSimScreen::EncodeJpeg(image, 75);
    const QByteArray low = CSimScreen::EncodeJpeg(image, 50);
    ASSERT_FALSE(low.isEmpty());
    EXPECT_GT(high.size(), normal.size());
    EXPECT_GT(normal.size(), low.size());
    QImage decoded;
    ASSERT_TRUE(decoded.loadFromData(high, "JPEG"));
    EXPECT_EQ(decoded.size(), QSize(800, 600));
}

} // namespace
