// Pictures a hostile instrument may send as its screen, and a hostile disk under the picture
// files: the image helper and the LK picture step on their own, without a panel.
#include "CImage.h"
#include "JpegForge.h"
#include "LkScreenPicture.h"
#include "SafeFile.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImageWriter>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <chrono>
#include <future>

#ifndef _WIN32
#include <sys/stat.h>
#endif

namespace {

QByteArray Encoded(const QImage &image, const char *format)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, format);
    EXPECT_TRUE(writer.write(image)) << format << ": " << writer.errorString().toStdString();
    return bytes;
}

QImage Noise(int width, int height)
{
    QRandomGenerator rng(7);
    QImage image(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y) {
        auto *line = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < width; ++x)
            line[x] = 0xFF000000u | (rng.generate() & 0xFFFFFFu);
    }
    return image;
}

int Load(CImage &image, const QByteArray &bytes, qint64 maxPixels = CImage::kMaxScreenPixels)
{
    return image.LoadFromData(reinterpret_cast<const unsigned char *>(bytes.constData()),
                              int(bytes.size()), maxPixels);
}

QByteArray ReadAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// ---- decode bombs ----

TEST(RegressScanBomb, ThousandsOfScansAreRefusedBeforeAnyDecoding)
{
    // 4096 x 4096 with 9000 scans: beyond both limits, and refused before decoding.
    const QByteArray bomb = forge::ProgressiveScanBomb(4096, 4096, 9000);
    ASSERT_GT(bomb.size(), 250000);
    ASSERT_LT(bomb.size(), 400000); // fits one screen reply
    CImage image;
    const int status = Load(image, bomb);
    EXPECT_TRUE(status == CImage::kLoadTooLarge || status == CImage::kLoadTooManyScans) << status;
    EXPECT_TRUE(image.IsNull());
    // Within the size limit the scan count alone refuses it.
    EXPECT_EQ(Load(image, forge::ProgressiveScanBomb(1600, 1200, 9000)), CImage::kLoadTooManyScans);
    EXPECT_EQ(image.LoadError().toStdString(), "a JPEG image of more than 64 scans");

    // The same trick within both limits decodes: 64 scans over four screens of pixels.
    const QByteArray atCap = forge::ProgressiveScanBomb(1600, 1200, 64);
    ASSERT_EQ(Load(image, atCap), 0) << image.LoadError().toStdString();
    EXPECT_EQ(image.Image().size(), QSize(1600, 1200));
    EXPECT_EQ(image.Image().pixel(1599, 1199), qRgb(128, 128, 128));
    EXPECT_EQ(Load(image, forge::ProgressiveScanBomb(64, 64, 65)), CImage::kLoadTooManyScans);
}

TEST(RegressScanBomb, DeclaredSizesBeyondFourScreensAreRefused)
{
    // Four 800 x 600 screens of pixels pass; one column more does not.
    CImage image;
    EXPECT_EQ(Load(image, forge::ProgressiveScanBomb(1600, 1200, 2)), 0);
    EXPECT_EQ(Load(image, forge::ProgressiveScanBomb(1601, 1200, 2)), CImage::kLoadTooLarge);
    EXPECT_EQ(image.LoadError().toStdString(),
              "a JPEG image of 1601 x 1200 pixels, too large for a screen");
    EXPECT_EQ(Load(image, forge::ProgressiveScanBomb(16000, 100, 2)), 0);
    EXPECT_EQ(Load(image, forge::ProgressiveScanBomb(20000, 10, 2)), CImage::kLoadTooLarge);
    // The 800 x 480 panel allows four of its own screens.
    const qint64 kkc = CImage::ScreenPixelLimit(800, 480);
    EXPECT_EQ(Load(image, forge::ProgressiveScanBomb(1600, 960, 2), kkc), 0);
    EXPECT_EQ(Load(image, forge::ProgressiveScanBomb(1600, 1200, 2), kkc), CImage::kLoadTooLarge);
    EXPECT_TRUE(image.IsNull());
}

// ---- one picture's damage stays with that picture ----

TEST(RegressDecoderState, ABrokenPictureDoesNotSpoilTheNextOnTheSameThread)
{
    const QByteArray good = Encoded(Noise(96, 64), "jpeg");
    CImage expected;
    ASSERT_EQ(Load(expected, good), 0);
    // A Huffman table whose code counts add up past 256, and a frame of height 0: both
    // make libjpeg give up inside the header.
    QByteArray bogusTable = good;
    const qsizetype dht = bogusTable.indexOf(QByteArray("\xFF\xC4", 2));
    ASSERT_GT(dht, 0);
    for (int i = 5; i < 5 + 16; ++i)
        bogusTable[dht + i] = char(0xFF);
    QByteArray noHeight = good;
    const qsizetype sof = noHeight.indexOf(QByteArray("\xFF\xC0", 2));
    ASSERT_GT(sof, 0);
    noHeight[sof + 5] = 0;
    noHeight[sof + 6] = 0;
    for (const QByteArray &broken : {bogusTable, noHeight}) {
        CImage image;
        EXPECT_EQ(Load(image, broken), CImage::kLoadCorrupt);
        EXPECT_EQ(Load(image, good), 0) << image.LoadError().toStdString();
        EXPECT_EQ(image.Image(), expected.Image());
    }
}

// ---- foreign formats ----

TEST(RegressOnlyJpegIsAScreen, OtherPictureFormatsAreNotDecoded)
{
    const QImage picture = Noise(40, 30);
    // A 1 x 1 GIF (Qt reads GIF but does not write it).
    const QByteArray gif("GIF89a\x01\x00\x01\x00\x80\x00\x00\x00\x00\x00\xFF\xFF\xFF!"
                         "\xF9\x04\x01\x00\x00\x00\x00,\x00\x00\x00\x00\x01\x00\x01\x00\x00"
                         "\x02\x02\x44\x01\x00;",
                         43);
    ASSERT_FALSE(QImage::fromData(gif).isNull()); // a picture Qt would show
    std::vector<std::pair<const char *, QByteArray>> foreign = {
        {"png", Encoded(picture, "png")}, {"bmp", Encoded(picture, "bmp")}, {"gif", gif}};
    if (QImageWriter::supportedImageFormats().contains("tiff"))
        foreign.emplace_back("tiff", Encoded(picture, "tiff"));
    for (const auto &[name, bytes] : foreign) {
        ASSERT_FALSE(QImage::fromData(bytes).isNull()) << name;
        CImage image;
        EXPECT_EQ(Load(image, bytes), CImage::kLoadNotPicture) << name;
        EXPECT_TRUE(image.IsNull()) << name;
        EXPECT_EQ(image.LoadError().toStdString(), "not a JPEG image") << name;
    }
}

// ---- the scaled copy on a hostile disk ----

TEST(RegressScaledCopy, APlantedLinkAtTheCopysNameIsNeverFollowed)
{
    QTemporaryDir dir;
    const QString victim = dir.filePath("victim.txt");
    {
        QFile file(victim);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("keep me");
    }
    const QString copy = dir.filePath("20150305_140307_250_085.jpg");
    ASSERT_TRUE(QFile::link(victim, copy));

    const QImage scaled = lk::ScaleScreenPicture(Noise(800, 600), 1);
    ASSERT_EQ(scaled.size(), QSize(680, 510));
    EXPECT_FALSE(lk::SaveScaledCopy(scaled, copy));
    CImage image;
    image.Image() = scaled;
    EXPECT_NE(image.Save(copy), 0);
    EXPECT_EQ(ReadAll(victim), QByteArray("keep me"));
    EXPECT_TRUE(QFileInfo(copy).isSymLink());

    // Without a link the copy is written, private to the user.
    const QString plain = dir.filePath("plain_070.jpg");
    ASSERT_TRUE(lk::SaveScaledCopy(lk::ScaleScreenPicture(Noise(800, 600), 2), plain));
    ASSERT_EQ(Load(image, ReadAll(plain)), 0);
    EXPECT_EQ(image.Image().size(), QSize(559, 419));
    EXPECT_EQ(QFileInfo(plain).permissions() & ~(QFile::ReadUser | QFile::WriteUser),
              QFile::ReadOwner | QFile::WriteOwner);
}

#ifndef _WIN32
TEST(RegressScaledCopy, APlantedFifoAtTheCopysNameDoesNotBlockTheWrite)
{
    QTemporaryDir dir;
    const QString fifo = dir.filePath("shot_085.jpg");
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    const QByteArray bytes(1000, 'x');
    auto write = std::async(std::launch::async,
                            [&] { return WriteFileNoFollow(fifo, bytes.constData(), 1000); });
    const bool finished = write.wait_for(std::chrono::seconds(5)) == std::future_status::ready;
    if (!finished) {
        // Give the blocked open its reader so that the test can end.
        QFile reader(fifo);
        reader.open(QIODevice::ReadOnly);
        write.wait();
    }
    EXPECT_TRUE(finished);
    EXPECT_FALSE(write.get());
}
#endif

} // namespace
