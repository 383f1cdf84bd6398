// The knob shows its notch, the panel pictures carry the recesses the buttons sit in, and the
// cache hands every thread the same pixels.
#include "ArtKit.h"
#include "ArtLayout.h"
#include "ArtProbe.h"
#include "Resources.h"

#include <QtMath>
#include <gtest/gtest.h>
#include <thread>

using namespace res;
using namespace artprobe;

namespace {

// The pointer mark is the only strongly orange part of the knob.
bool IsPointer(QRgb px)
{
    return qRed(px) > 170 && qGreen(px) > 80 && qGreen(px) < 190 && qBlue(px) < 100 &&
           qRed(px) - qBlue(px) > 100;
}

// Bearing in degrees clockwise from 12 o'clock, 0..360.
double Bearing(const QPointF &from, const QPointF &to)
{
    const double deg = qRadiansToDegrees(std::atan2(to.x() - from.x(), -(to.y() - from.y())));
    return deg < 0 ? deg + 360.0 : deg;
}

double AngleGap(double a, double b)
{
    const double d = std::fmod(std::abs(a - b), 360.0);
    return std::min(d, 360.0 - d);
}

// Per knob: the side of the button showing it, then the ids of the disabled face and of
// notches 1..12. At 70 % the button is 123 pixels square while the pictures are 124.
std::vector<std::pair<int, std::vector<int>>> KnobSets()
{
    std::vector<std::pair<int, std::vector<int>>> sets;
    std::vector<int> kkc{IDB_KNOB_KKC_DISABLED};
    for (int n = 0; n < 12; ++n)
        kkc.push_back(IDB_KNOB_KKC_FIRST + n);
    sets.emplace_back(140, kkc);
    const int sizes[] = {177, 150, 123};
    for (int scale = 0; scale < 3; ++scale) {
        std::vector<int> ids;
        for (int index = 0; index <= 12; ++index)
            ids.push_back(LkKnob(scale, index));
        sets.emplace_back(sizes[scale], ids);
    }
    return sets;
}

} // namespace

TEST(Knob, PointerSitsAtTheNotchBearing)
{
    for (const auto &[size, ids] : KnobSets()) {
        const QPointF centre(size / 2.0, size / 2.0);
        for (int notch = 1; notch <= 12; ++notch) {
            const QImage img = LoadBitmap(ids[static_cast<size_t>(notch)]);
            int count = 0;
            const QPointF mark = Centroid(img, IsPointer, &count);
            ASSERT_GT(count, 3) << size << " notch " << notch << ": no pointer";
            EXPECT_LT(AngleGap(Bearing(centre, mark), 30.0 * (notch - 1)), 5.0)
                << size << " notch " << notch;
            const QImage next = LoadBitmap(ids[static_cast<size_t>(notch % 12 + 1)]);
            EXPECT_NE(img, next) << size << " notch " << notch;
        }
        int count = 0;
        Centroid(LoadBitmap(ids[0]), IsPointer, &count);
        EXPECT_EQ(count, 0) << size << ": the disabled knob shows no notch";
    }
}

// Round and whole inside the button that shows it, white everywhere else.
TEST(Knob, RoundWithWhiteOutside)
{
    for (const auto &[size, ids] : KnobSets())
        for (int id : ids) {
            const QImage img = LoadBitmap(id);
            const double r = size / 2.0;
            for (int y = 0; y < img.height(); ++y)
                for (int x = 0; x < img.width(); ++x) {
                    const double d = std::hypot(x + 0.5 - r, y + 0.5 - r);
                    if (d > r + 0.75) {
                        ASSERT_TRUE(IsPureWhite(img.pixel(x, y))) << id << " at " << x << "," << y;
                    } else if (d < r - 1.0) {
                        ASSERT_FALSE(IsPureWhite(img.pixel(x, y))) << id << " at " << x << "," << y;
                    }
                }
        }
}

TEST(Panel, EveryButtonSitsOnTheRecessFloor)
{
    // The antialiased rims of the faces are blended against the recess floor, so that colour
    // must be what the panel shows under each button.
    const QRgb floor = art::Palette::WellFloor().rgb();
    const QImage kkc = LoadBitmap(IDB_PANEL_KKC);
    for (const layout::KkcKey &key : layout::KkcKeys()) {
        EXPECT_EQ(kkc.pixel(key.x + key.face.width() / 2, key.y + key.face.height() / 2), floor)
            << key.id;
        EXPECT_EQ(kkc.pixel(key.x + 3, key.y + key.face.height() / 2), floor) << key.id;
    }
    EXPECT_EQ(kkc.pixel(787 + 70, 530 + 70), floor);
    EXPECT_EQ(kkc.pixel(787 + 2, 530 + 70), floor);

    for (int scale = 0; scale < 3; ++scale) {
        const QImage panel = LoadBitmap(LkPanel(scale));
        for (const layout::LkKey &key : layout::LkKeys()) {
            const QPoint at = layout::LkKeyPos(key, scale);
            const QSize size = layout::LkFaceSize(key.cls, scale);
            EXPECT_EQ(panel.pixel(at.x() + size.width() / 2, at.y() + size.height() / 2), floor)
                << key.id << " at scale " << scale;
        }
        const QPoint knob = layout::LkKnobPos(scale);
        const int k = layout::LkKnobButton(scale);
        EXPECT_EQ(panel.pixel(knob.x() + k / 2, knob.y() + 2), floor) << scale;
    }
}

TEST(Panel, ScreenAreaIsGlassFramedByTheBezel)
{
    for (int scale = 0; scale < 3; ++scale) {
        const QImage panel = LoadBitmap(LkPanel(scale));
        const QRect screen = layout::LkScreen(scale);
        // Dark glass inside, right up to the edges the live picture covers.
        for (const QPoint &pt : {screen.topLeft(), screen.bottomRight(), screen.center(),
                                 QPoint(screen.left(), screen.bottom())})
            EXPECT_LT(Luma(panel.pixel(pt)), 60) << scale;
        // The case itself is lighter than the glass, away from the screen.
        EXPECT_GT(Luma(panel.pixel(screen.center().x(), screen.bottom() + 40)),
                  Luma(panel.pixel(screen.center())) + 10)
            << scale;
    }
}

TEST(Cache, ConcurrentLoadsSeeIdenticalPictures)
{
    const std::vector<int> ids = AllBitmapIds();
    std::vector<QImage> first(ids.size());
    std::vector<QImage> second(ids.size());
    // Opposite orders make the two threads race for the same pictures from both ends.
    std::thread a([&] {
        for (size_t i = 0; i < ids.size(); ++i)
            first[i] = LoadBitmap(ids[i]);
    });
    std::thread b([&] {
        for (size_t i = ids.size(); i-- > 0;)
            second[i] = LoadBitmap(ids[i]);
    });
    a.join();
    b.join();
    for (size_t i = 0; i < ids.size(); ++i) {
        ASSERT_FALSE(first[i].isNull()) << ids[i];
        EXPECT_EQ(first[i], second[i]) << ids[i];
        // Later requests come from the cache: the very same pixels, not a redrawing.
        EXPECT_EQ(LoadBitmap(ids[i]).constBits(), first[i].constBits()) << ids[i];
    }
}
