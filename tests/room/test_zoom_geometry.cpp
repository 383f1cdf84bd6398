// Zoom arithmetic without a window: window pixels and panel pixels correspond both ways, the
// fit keeps the whole panel in view, and a key's outline maps pixel for pixel.
#include "PanelZoom.h"

#include <QImage>
#include <QPainter>

#include <gtest/gtest.h>

namespace {

const QSize kKkcPanel{1023, 679};

// The zooms the room tests run at: 150 % from the corner, the KKC panel fitted to a
// 1920 x 1080 client (less its 20-pixel status bar), a shrink, and 1:1 with a letterbox.
std::vector<PanelZoom> Zooms()
{
    return {PanelZoom::Fixed(1.5, kKkcPanel, PanelZoom::SizeAt(1.5, kKkcPanel)),
            PanelZoom::Fit(kKkcPanel, {1920, 1060}), PanelZoom::Fit(kKkcPanel, {600, 400}),
            PanelZoom(1.0, {13, 7})};
}

} // namespace

TEST(ZoomGeometry, EveryWindowPixelShowsThePanelPixelItMapsBackTo)
{
    for (const PanelZoom &zoom : Zooms()) {
        SCOPED_TRACE(zoom.Factor());
        const int shown = zoom.EdgeX(kKkcPanel.width());
        for (int p = zoom.Origin().x() - 3; p < shown + 3; ++p) {
            const int u = zoom.ToPanel({p, 0}).x();
            ASSERT_LE(zoom.EdgeX(u), p) << p;
            ASSERT_GT(zoom.EdgeX(u + 1), p) << p;
        }
        for (int u = 0; u < kKkcPanel.height(); ++u) {
            const QRect cell = zoom.ToWindow(QRect(0, u, 1, 1));
            if (cell.isEmpty())
                continue; // shrunk away: no window pixel shows it
            ASSERT_EQ(zoom.ToPanel(cell.topLeft()).y(), u);
            ASSERT_EQ(zoom.ToPanel(cell.bottomRight()).y(), u);
        }
    }
    const PanelZoom one;
    EXPECT_TRUE(one.IsIdentity());
    EXPECT_EQ(one.ToPanel({910, 504}), QPoint(910, 504));
    EXPECT_EQ(one.ToWindow(QRect(111, 25, 800, 480)), QRect(111, 25, 800, 480));
}

TEST(ZoomGeometry, FitShowsTheWholePanelCentredAndFixedFallsBackToIt)
{
    const PanelZoom fit = PanelZoom::Fit(kKkcPanel, {1920, 1060});
    EXPECT_DOUBLE_EQ(fit.Factor(), 1060.0 / 679.0);
    const QRect shown = fit.ToWindow(QRect(QPoint(0, 0), kKkcPanel));
    EXPECT_EQ(shown.top(), 0);
    EXPECT_EQ(shown.bottom(), 1059);
    EXPECT_LE(std::abs((1920 - shown.right() - 1) - shown.left()), 1);
    EXPECT_EQ(PanelZoom::SizeAt(1.5, kKkcPanel), QSize(1534, 1018));
    EXPECT_EQ(PanelZoom::SizeAt(1.0, kKkcPanel), kKkcPanel);
    // Too large for the area: the fit; larger area: the factor, centred.
    EXPECT_EQ(PanelZoom::Fixed(2.0, kKkcPanel, {1600, 900}),
              PanelZoom::Fit(kKkcPanel, {1600, 900}));
    const PanelZoom centred = PanelZoom::Fixed(1.0, kKkcPanel, {1123, 699});
    EXPECT_EQ(centred, PanelZoom(1.0, {50, 10}));
    // Nonsense factors stay within bounds.
    EXPECT_EQ(PanelZoom(0.0, {}).Factor(), PanelZoom::kMinFactor);
    EXPECT_EQ(PanelZoom(1e9, {}).Factor(), PanelZoom::kMaxFactor);
    EXPECT_EQ(PanelZoom(std::nan(""), {}).Factor(), 1.0);
}

TEST(ZoomGeometry, KeyOutlinesMapPixelForPixel)
{
    // A round key's outline, as skinned buttons take it from their faces.
    QImage face(37, 23, QImage::Format_RGB32);
    face.fill(Qt::white);
    {
        QPainter p(&face);
        p.setBrush(Qt::black);
        p.setPen(Qt::NoPen);
        p.drawRoundedRect(QRect(0, 0, 37, 23), 9, 9);
    }
    QRegion outline;
    for (int y = 0; y < face.height(); ++y)
        for (int x = 0; x < face.width(); ++x)
            if (face.pixel(x, y) != qRgb(255, 255, 255))
                outline += QRect(x, y, 1, 1);
    const QPoint corner(452, 570);
    for (const PanelZoom &zoom : Zooms()) {
        SCOPED_TRACE(zoom.Factor());
        const QRegion shown = zoom.ToWindow(outline, corner);
        const QRect at = zoom.ToWindow(QRect(corner, face.size()));
        for (int y = -2; y < at.height() + 2; ++y)
            for (int x = -2; x < at.width() + 2; ++x) {
                const QPoint panel = zoom.ToPanel(at.topLeft() + QPoint(x, y)) - corner;
                ASSERT_EQ(shown.contains(QPoint(x, y)), outline.contains(panel)) << x << "," << y;
            }
    }
}
