// The LK panel's screen picture at each display scale, without a window.
#include "CImage.h"
#include "LkScale.h"
#include "LkScreenPicture.h"

#include <QRandomGenerator>

#include <gtest/gtest.h>

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

TEST(LkScreenPicture, ScaledPicturesMatchTheHighQualityScaleIntoABlankPicture)
{
    for (const QSize size : {QSize(800, 600), QSize(640, 480), QSize(1024, 700)}) {
        const QImage decoded = Noise(size.width(), size.height(), 11);
        for (int scale : {1, 2}) {
            const QImage shown = lk::ScaleScreenPicture(decoded, scale);
            EXPECT_EQ(shown.size(), lk::ScreenPictureSize(scale));
            EXPECT_EQ(shown.format(), QImage::Format_RGB32);
            EXPECT_EQ(shown, ScaledTheLongWay(decoded, scale))
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
    EXPECT_EQ(shown, drawn.copy(0, 0, 559, 419));
    EXPECT_NE(shown, stripes.scaled(559, 419, Qt::IgnoreAspectRatio, Qt::SmoothTransformation));
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

} // namespace
