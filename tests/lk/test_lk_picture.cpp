// The LK panel's screen picture at each display scale, without a window, and the area-average
// reduction beneath it.
#include "AreaScale.h"
#include "CImage.h"
#include "JpegCodec.h"
#include "LkScale.h"
#include "LkScreenPicture.h"

#include <QRandomGenerator>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

namespace {

QImage Noise(int width, int height, quint32 seed)
{
    QRandomGenerator rng(seed);
    QImage image(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y) {
        auto *line = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < width; ++x)
            line[x] = 0xFF000000u | (rng.generate() & 0xFFFFFFu);
    }
    return image;
}

// The mean of the area each output pixel covers, in floating point: output pixel i spans
// source pixels [i * s / d, (i + 1) * s / d) in each direction.
std::vector<double> ExactAreaMean(const QImage &source, QSize draw, int channel)
{
    const double sx = double(source.width()) / draw.width();
    const double sy = double(source.height()) / draw.height();
    auto coverage = [](double from, double to, int k) {
        return std::max(0.0, std::min(to, k + 1.0) - std::max(from, double(k)));
    };
    std::vector<double> out(std::size_t(draw.width()) * std::size_t(draw.height()));
    for (int y = 0; y < draw.height(); ++y)
        for (int x = 0; x < draw.width(); ++x) {
            double sum = 0;
            for (int j = int(y * sy); j < std::min(source.height(), int((y + 1) * sy) + 1); ++j)
                for (int i = int(x * sx); i < std::min(source.width(), int((x + 1) * sx) + 1);
                     ++i) {
                    const double w =
                        coverage(x * sx, (x + 1) * sx, i) * coverage(y * sy, (y + 1) * sy, j);
                    const QRgb p = source.pixel(i, j);
                    sum += w * (channel == 0 ? qRed(p) : channel == 1 ? qGreen(p) : qBlue(p));
                }
            out[std::size_t(y) * std::size_t(draw.width()) + std::size_t(x)] = sum / (sx * sy);
        }
    return out;
}

// Mean absolute difference of the grey values of two pictures of one size.
double MeanGreyDifference(const QImage &a, const QImage &b)
{
    double sum = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x)
            sum += std::abs(qGray(a.pixel(x, y)) - qGray(b.pixel(x, y)));
    return sum / (double(a.width()) * a.height());
}

TEST(AreaScale, EveryPixelIsTheMeanOfTheAreaItCovers)
{
    struct Case
    {
        QSize source, draw, keep;
    };
    // The panel's two scales, an odd size just short of half, exactly half, and no change.
    for (const Case &c :
         {Case{{800, 600}, {680, 510}, {680, 510}}, Case{{800, 600}, {560, 419}, {559, 419}},
          Case{{1001, 777}, {501, 389}, {501, 389}}, Case{{640, 480}, {320, 240}, {320, 240}},
          Case{{37, 23}, {37, 23}, {30, 21}}}) {
        const QImage source = Noise(c.source.width(), c.source.height(), 21);
        const QImage shrunk = lk::AreaScaleDown(source, c.draw, c.keep);
        ASSERT_EQ(shrunk.size(), c.keep);
        ASSERT_EQ(shrunk.format(), QImage::Format_RGB32);
        // The vector code where the processor has it, and the plain loops, give one picture.
        EXPECT_EQ(lk::AreaScaleDown(source, c.draw, c.keep, lk::AreaCode::Portable), shrunk);
        int worst = 0;
        for (int channel = 0; channel < 3; ++channel) {
            const std::vector<double> exact = ExactAreaMean(source, c.draw, channel);
            for (int y = 0; y < c.keep.height(); ++y)
                for (int x = 0; x < c.keep.width(); ++x) {
                    const QRgb p = shrunk.pixel(x, y);
                    const int got = channel == 0 ? qRed(p) : channel == 1 ? qGreen(p) : qBlue(p);
                    const double want =
                        exact[std::size_t(y) * std::size_t(c.draw.width()) + std::size_t(x)];
                    worst = std::max(worst, int(std::ceil(std::abs(got - want) - 0.5)));
                    if (channel == 0) {
                        ASSERT_EQ(qAlpha(p), 255);
                    }
                }
        }
        EXPECT_LE(worst, 1) << c.source.width() << " x " << c.source.height() << " to "
                            << c.draw.width() << " x " << c.draw.height();

        // A plain area keeps its colour exactly, up to every edge.
        QImage flat(c.source, QImage::Format_RGB32);
        flat.fill(qRgb(201, 7, 133));
        const QImage plain = lk::AreaScaleDown(flat, c.draw, c.keep);
        QImage expected(c.keep, QImage::Format_RGB32);
        expected.fill(qRgb(201, 7, 133));
        EXPECT_EQ(plain, expected);
    }
}

TEST(AreaScale, RefusesWhatIsNotAReductionToAtLeastHalf)
{
    const QImage source = Noise(100, 80, 22);
    EXPECT_TRUE(lk::AreaScaleDown(QImage(), {50, 40}, {50, 40}).isNull());
    EXPECT_TRUE(lk::AreaScaleDown(source.convertToFormat(QImage::Format_ARGB32), {50, 40}, {50, 40})
                    .isNull());
    EXPECT_TRUE(lk::AreaScaleDown(source, {101, 80}, {100, 80}).isNull());
    EXPECT_TRUE(lk::AreaScaleDown(source, {49, 40}, {49, 40}).isNull());
    EXPECT_TRUE(lk::AreaScaleDown(source, {50, 39}, {50, 39}).isNull());
    EXPECT_TRUE(lk::AreaScaleDown(source, {50, 40}, {51, 40}).isNull());
    EXPECT_TRUE(lk::AreaScaleDown(source, {50, 40}, {0, 40}).isNull());
    EXPECT_FALSE(lk::AreaScaleDown(source, {50, 40}, {50, 40}).isNull());
}

// The picture as the panel built it before: a blank 32-bit picture of the scaled size and
// the high-quality scale drawn into it.
QImage ScaledTheLongWay(const QImage &decoded, int scale)
{
    const QSize picture = lk::ScreenPictureSize(scale);
    const QSize draw = lk::ScaledDrawSize(scale);
    CImage source, target;
    source.Image() = decoded;
    EXPECT_TRUE(target.Create(picture.width(), picture.height(), 32));
    EXPECT_TRUE(CImage::ScaleHighQuality(target, source, draw.width(), draw.height(),
                                         decoded.width(), decoded.height()));
    return target.Image();
}

TEST(LkScreenPicture, ScaledPicturesLookLikeTheHighQualityScaleIntoABlankPicture)
{
    for (const QSize size : {QSize(800, 600), QSize(640, 480), QSize(1024, 700)}) {
        const QImage decoded = Noise(size.width(), size.height(), 11);
        for (int scale : {1, 2}) {
            const QImage shown = lk::ScaleScreenPicture(decoded, scale);
            const QImage before = ScaledTheLongWay(decoded, scale);
            ASSERT_EQ(shown.size(), lk::ScreenPictureSize(scale));
            EXPECT_EQ(shown.format(), QImage::Format_RGB32);
            const QSize draw = lk::ScaledDrawSize(scale);
            if (size.width() < draw.width() || size.height() < draw.height()) {
                // Growing in some direction is still Qt's own smooth scale.
                EXPECT_EQ(shown, before);
                continue;
            }
            // Shrinking averages the areas itself; on noise, the hardest case, it stays well
            // within the 2 grey levels that nobody can see.
            EXPECT_LT(MeanGreyDifference(shown, before), 1.0)
                << size.width() << " x " << size.height() << " at scale " << scale;
        }
    }
}

TEST(LkScreenPicture, At70TheDrawsLastColumnFallsOutside)
{
    // Columns alternate black and white: the 560-wide draw squeezes them differently from a
    // 559-wide one, so the picture shows which width was drawn.
    QImage stripes(800, 600, QImage::Format_RGB32);
    for (int x = 0; x < 800; ++x)
        for (int y = 0; y < 600; ++y)
            stripes.setPixel(x, y, x % 7 < 3 ? qRgb(0, 0, 0) : qRgb(255, 255, 255));
    const QImage shown = lk::ScaleScreenPicture(stripes, 2);
    ASSERT_EQ(shown.size(), QSize(559, 419));
    const QImage drawn = stripes.scaled(560, 419, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    const QImage narrower =
        stripes.scaled(559, 419, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    EXPECT_LT(MeanGreyDifference(shown, drawn.copy(0, 0, 559, 419)), 1.0);
    EXPECT_GT(MeanGreyDifference(shown, narrower), 10.0);
}

TEST(LkScreenPicture, At100ThePictureIsStretchedTo800By600)
{
    const QImage exact = Noise(800, 600, 12);
    EXPECT_EQ(lk::ScaleScreenPicture(exact, 0), exact);
    QImage quarters(2, 2, QImage::Format_RGB32);
    quarters.setPixel(0, 0, qRgb(255, 0, 0));
    quarters.setPixel(1, 0, qRgb(0, 255, 0));
    quarters.setPixel(0, 1, qRgb(0, 0, 255));
    quarters.setPixel(1, 1, qRgb(255, 255, 0));
    const QImage stretched = lk::ScaleScreenPicture(quarters, 0);
    ASSERT_EQ(stretched.size(), QSize(800, 600));
    // A plain stretch: the corners keep their colours and nothing in between is blended.
    EXPECT_EQ(stretched.pixel(0, 0), qRgb(255, 0, 0));
    EXPECT_EQ(stretched.pixel(799, 0), qRgb(0, 255, 0));
    EXPECT_EQ(stretched.pixel(0, 599), qRgb(0, 0, 255));
    EXPECT_EQ(stretched.pixel(799, 599), qRgb(255, 255, 0));
    int blended = 0;
    for (int y = 0; y < 600; ++y)
        for (int x = 0; x < 800; ++x) {
            const QRgb p = stretched.pixel(x, y);
            blended += p != qRgb(255, 0, 0) && p != qRgb(0, 255, 0) && p != qRgb(0, 0, 255) &&
                       p != qRgb(255, 255, 0);
        }
    EXPECT_EQ(blended, 0);
    EXPECT_TRUE(lk::ScaleScreenPicture(QImage(), 1).isNull());
}

TEST(LkScreenPicture, DecodedInHalvesIsTheDecodeAndTheScaleInTurn)
{
    const QByteArray jpeg = jpeg::Encode(Noise(800, 600, 13));
    ASSERT_FALSE(jpeg.isEmpty());
    const auto *bytes = reinterpret_cast<const std::uint8_t *>(jpeg.constData());
    CImage whole;
    ASSERT_EQ(whole.LoadFromData(bytes, int(jpeg.size())), 0);
    for (int scale : {1, 2}) {
        QImage decoded, shown;
        ASSERT_TRUE(
            lk::DecodeScaledInHalves(bytes, std::size_t(jpeg.size()), scale, decoded, shown));
        EXPECT_EQ(decoded, whole.Image());
        EXPECT_EQ(shown, lk::ScaleScreenPicture(whole.Image(), scale));
    }
    // Everything else is left to the usual path, which says what is wrong.
    QImage decoded, shown;
    EXPECT_FALSE(lk::DecodeScaledInHalves(bytes, std::size_t(jpeg.size()), 0, decoded, shown));
    EXPECT_FALSE(lk::DecodeScaledInHalves(bytes, std::size_t(jpeg.size()) / 2, 1, decoded, shown));
    const QByteArray small = jpeg::Encode(Noise(640, 480, 14));
    EXPECT_FALSE(lk::DecodeScaledInHalves(reinterpret_cast<const std::uint8_t *>(small.constData()),
                                          std::size_t(small.size()), 1, decoded, shown));
    EXPECT_TRUE(decoded.isNull() && shown.isNull());
}

} // namespace
