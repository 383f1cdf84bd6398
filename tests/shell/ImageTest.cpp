#include "CImage.h"
#include "SafeFile.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QImageWriter>
#include <QPainter>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <set>
#include <thread>
#include <turbojpeg.h>
#include <vector>

namespace {

QImage Noise(int w, int h, quint32 seed)
{
    QRandomGenerator rng(seed);
    QImage img(w, h, QImage::Format_RGB32);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            img.setPixel(x, y, 0xFF000000u | (rng.generate() & 0xFFFFFFu));
    return img;
}

QByteArray JpegBytes(const QImage &img)
{
    QByteArray bytes;
    QBuffer buf(&bytes);
    buf.open(QIODevice::WriteOnly);
    EXPECT_TRUE(img.save(&buf, "JPEG"));
    return bytes;
}

bool WriteFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

class ImageTest : public ::testing::Test
{
protected:
    void SetUp() override { ASSERT_TRUE(m_dir.isValid()); }
    QString File(const char *name) const { return m_dir.path() + "/" + name; }
    QTemporaryDir m_dir;
};

int LoadBytes(CImage &image, const QByteArray &bytes)
{
    return image.LoadFromData(reinterpret_cast<const unsigned char *>(bytes.constData()),
                              static_cast<int>(bytes.size()));
}

TEST_F(ImageTest, JpegLoadsAtItsOwnSizeWithTheSamePixelsAsQtsReader)
{
    const QByteArray bytes = JpegBytes(Noise(800, 480, 1));
    ASSERT_TRUE(WriteFile(File("screen.jpg"), bytes));
    CImage img;
    EXPECT_EQ(img.Load(File("screen.jpg")), 0);
    EXPECT_EQ(img.GetWidth(), 800);
    EXPECT_EQ(img.GetHeight(), 480);
    EXPECT_EQ(img.Image().format(), QImage::Format_RGB32);
    EXPECT_TRUE(img.LoadError().isEmpty());
    EXPECT_EQ(img.Image(), QImage::fromData(bytes, "JPEG").convertToFormat(QImage::Format_RGB32));

    // Grey pictures come out in the same painted format, with their own grey values.
    QImage grey(64, 32, QImage::Format_Grayscale8);
    for (int y = 0; y < 32; ++y)
        for (int x = 0; x < 64; ++x)
            grey.scanLine(y)[x] = uchar(x * 4);
    const QByteArray greyBytes = JpegBytes(grey);
    ASSERT_EQ(LoadBytes(img, greyBytes), 0);
    EXPECT_EQ(img.Image().format(), QImage::Format_RGB32);
    EXPECT_EQ(img.Image(),
              QImage::fromData(greyBytes, "JPEG").convertToFormat(QImage::Format_RGB32));
}

TEST_F(ImageTest, CmykPicturesAreShownInColour)
{
    // Adobe's inverted CMYK, as libjpeg hands it out: full "C" and K with no M and Y is red.
    std::vector<unsigned char> cmyk(16 * 16 * 4);
    for (std::size_t i = 0; i < cmyk.size(); i += 4) {
        cmyk[i] = 255;
        cmyk[i + 1] = 0;
        cmyk[i + 2] = 0;
        cmyk[i + 3] = 255;
    }
    tjhandle handle = tjInitCompress();
    unsigned char *jpeg = nullptr;
    unsigned long size = 0;
    ASSERT_EQ(
        tjCompress2(handle, cmyk.data(), 16, 64, 16, TJPF_CMYK, &jpeg, &size, TJSAMP_444, 95, 0),
        0);
    CImage img;
    EXPECT_EQ(img.LoadFromData(jpeg, int(size)), 0) << img.LoadError().toStdString();
    tjFree(jpeg);
    tjDestroy(handle);
    ASSERT_FALSE(img.IsNull());
    const QRgb pixel = img.Image().pixel(8, 8);
    EXPECT_GT(qRed(pixel), 240);
    EXPECT_LT(qGreen(pixel), 15);
    EXPECT_LT(qBlue(pixel), 15);
}

TEST(RegressJpegEnd, TrailingBytesAfterACompletePictureAreIgnored)
{
    const QByteArray good = JpegBytes(Noise(320, 240, 5));
    CImage expected;
    ASSERT_EQ(LoadBytes(expected, good), 0);
    // A start-of-scan and a start-of-image after the end marker belong to no picture.
    for (const QByteArray &tail :
         {QByteArray("\xFF\xDA\x00\x08\x01\x01\x00\x00\x3F\x00 junk", 15),
          QByteArray("\xFF\xD8\xFF\xDA padding", 12), QByteArray(3000, '\xFF')}) {
        CImage img;
        EXPECT_EQ(LoadBytes(img, good + tail), 0) << img.LoadError().toStdString();
        EXPECT_EQ(img.Image(), expected.Image());
    }
}

TEST(RegressJpegEnd, APictureLackingOnlyItsEndMarkerIsWhole)
{
    QByteArray progressive;
    {
        QBuffer buffer(&progressive);
        buffer.open(QIODevice::WriteOnly);
        QImageWriter writer(&buffer, "jpeg");
        writer.setProgressiveScanWrite(true);
        ASSERT_TRUE(writer.write(Noise(200, 150, 6)));
    }
    for (const QByteArray &good : {JpegBytes(Noise(320, 240, 5)), progressive}) {
        ASSERT_TRUE(good.endsWith("\xFF\xD9"));
        CImage expected, img;
        ASSERT_EQ(LoadBytes(expected, good), 0);
        EXPECT_EQ(LoadBytes(img, good.left(good.size() - 2)), 0) << img.LoadError().toStdString();
        EXPECT_EQ(img.Image(), expected.Image());
    }
}

TEST(RegressJpegEnd, APictureCutInsideItsDataIsStillRefusedAsTruncated)
{
    const QByteArray good = JpegBytes(Noise(320, 240, 5));
    for (const qsizetype length : {good.size() / 2, good.size() - 40, qsizetype(200)}) {
        CImage img;
        EXPECT_EQ(LoadBytes(img, good.left(length)), CImage::kLoadTruncated) << length;
        EXPECT_TRUE(img.LoadError().startsWith("a truncated JPEG image")) << length;
        EXPECT_TRUE(img.IsNull());
    }
}

TEST_F(ImageTest, MissingOrUndecodableFilesFailAndLeaveTheImageEmpty)
{
    const QByteArray good = JpegBytes(Noise(320, 240, 2));
    ASSERT_GT(good.size(), 2000);
    ASSERT_TRUE(WriteFile(File("text.jpg"), "this is not a picture at all\n"));
    ASSERT_TRUE(WriteFile(File("empty.jpg"), QByteArray()));
    ASSERT_TRUE(WriteFile(File("half.jpg"), good.left(good.size() / 2)));
    ASSERT_TRUE(WriteFile(File("header.jpg"), good.left(200)));
    ASSERT_TRUE(WriteFile(File("good.jpg"), good));

    for (const char *name : {"missing.jpg", "text.jpg", "empty.jpg", "half.jpg", "header.jpg"}) {
        CImage img;
        ASSERT_EQ(img.Load(File("good.jpg")), 0);
        EXPECT_LT(img.Load(File(name)), 0) << name;
        EXPECT_TRUE(img.IsNull()) << name;
        EXPECT_EQ(img.GetWidth(), 0) << name;
    }
    CImage mem;
    EXPECT_LT(mem.LoadFromData(nullptr, 10), 0);
    EXPECT_LT(mem.LoadFromData(reinterpret_cast<const unsigned char *>(good.constData()), 0), 0);
    EXPECT_EQ(mem.LoadFromData(reinterpret_cast<const unsigned char *>(good.constData()),
                               static_cast<int>(good.size())),
              0);
}

TEST_F(ImageTest, JpegDeclaringAHugeSizeIsRefused)
{
    QByteArray bytes = JpegBytes(Noise(16, 16, 3));
    // Baseline frame header: FF C0, length (2), precision (1), height (2), width (2).
    const qsizetype sof = bytes.indexOf(QByteArray("\xFF\xC0", 2));
    ASSERT_GT(sof, 0);
    for (int i : {5, 6, 7, 8})
        bytes[sof + i] = static_cast<char>(0xEA); // 60138 x 60138
    ASSERT_TRUE(WriteFile(File("huge.jpg"), bytes));
    CImage img;
    EXPECT_LT(img.Load(File("huge.jpg")), 0);
    EXPECT_TRUE(img.IsNull());
}

TEST_F(ImageTest, DrawStretchesTheWholeSourceWithoutSmoothing)
{
    CImage img;
    ASSERT_TRUE(img.Create(2, 2, 32));
    img.Image().setPixel(0, 0, qRgb(255, 0, 0));
    img.Image().setPixel(1, 0, qRgb(0, 255, 0));
    img.Image().setPixel(0, 1, qRgb(0, 0, 255));
    img.Image().setPixel(1, 1, qRgb(255, 255, 0));

    QImage target(60, 40, QImage::Format_RGB32);
    target.fill(Qt::black);
    {
        QPainter p(&target);
        p.setRenderHint(QPainter::SmoothPixmapTransform, true); // must be overridden
        ASSERT_TRUE(img.Draw(&p, 10, 0, 40, 40, 2, 2));
    }
    // Every source pixel lands in its own quarter: a stretch, not a crop.
    EXPECT_EQ(target.pixel(10, 0), qRgb(255, 0, 0));
    EXPECT_EQ(target.pixel(29, 19), qRgb(255, 0, 0));
    EXPECT_EQ(target.pixel(30, 19), qRgb(0, 255, 0));
    EXPECT_EQ(target.pixel(49, 0), qRgb(0, 255, 0));
    EXPECT_EQ(target.pixel(10, 39), qRgb(0, 0, 255));
    EXPECT_EQ(target.pixel(49, 39), qRgb(255, 255, 0));
    EXPECT_EQ(target.pixel(9, 20), qRgb(0, 0, 0));
    EXPECT_EQ(target.pixel(50, 20), qRgb(0, 0, 0));

    EXPECT_FALSE(img.Draw(nullptr, 0, 0, 10, 10, 2, 2));
    CImage empty;
    QPainter p(&target);
    EXPECT_FALSE(empty.Draw(&p, 0, 0, 10, 10, 2, 2));
}

TEST_F(ImageTest, CreateGivesTheRequestedDepthAndRefusesNonsense)
{
    CImage img;
    ASSERT_TRUE(img.Create(681, 408, 24));
    EXPECT_EQ(img.Image().format(), QImage::Format_RGB888);
    EXPECT_EQ(img.GetWidth(), 681);
    ASSERT_TRUE(img.Create(10, -7, 32)); // top-down
    EXPECT_EQ(img.Image().format(), QImage::Format_RGB32);
    EXPECT_EQ(img.GetHeight(), 7);
    EXPECT_FALSE(img.Create(0, 10, 32));
    EXPECT_TRUE(img.IsNull());
    EXPECT_FALSE(img.Create(10, 10, 7));
    EXPECT_FALSE(img.Create(1000000, 1000000, 32));
}

TEST_F(ImageTest, SaveWritesAJpegOrNothing)
{
    CImage src;
    ASSERT_TRUE(src.Create(64, 48, 24));
    src.Image().fill(qRgb(200, 30, 30));

    const QString missing = File("no/such/folder/out.jpg");
    EXPECT_NE(src.Save(missing), 0);
    EXPECT_FALSE(QFile::exists(missing));
    EXPECT_FALSE(QDir(File("no")).exists());

    CImage empty;
    EXPECT_NE(empty.Save(File("empty.jpg")), 0);
    EXPECT_FALSE(QFile::exists(File("empty.jpg")));

    ASSERT_TRUE(WriteFile(File("out_085.jpg"), "old contents"));
    ASSERT_EQ(src.Save(File("out_085.jpg")), 0);
    EXPECT_EQ(QDir(m_dir.path()).entryList(QDir::Files), QStringList{"out_085.jpg"});
    CImage back;
    ASSERT_EQ(back.Load(File("out_085.jpg")), 0);
    EXPECT_EQ(back.GetWidth(), 64);
    EXPECT_EQ(back.GetHeight(), 48);
    EXPECT_NEAR(qRed(back.Image().pixel(30, 20)), 200, 8);
}

TEST_F(ImageTest, ARewrittenFileHoldsExactlyTheNewBytes)
{
    // The picture file is written over in place: a shorter picture must not keep the tail of
    // a longer one, nor an empty one anything at all.
    const QString path = File("screen.jpg");
    auto contents = [&] {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("unreadable");
    };
    ASSERT_TRUE(WriteFileNoFollow(path, "the first, longer picture", 25));
    ASSERT_TRUE(WriteFileNoFollow(path, "short", 5));
    EXPECT_EQ(contents(), QByteArray("short"));
    ASSERT_TRUE(WriteFileNoFollow(path, "longer than before", 18));
    EXPECT_EQ(contents(), QByteArray("longer than before"));
    ASSERT_TRUE(WriteFileNoFollow(path, "", 0));
    EXPECT_EQ(contents(), QByteArray());
}

TEST_F(ImageTest, HighQualityScaleSmoothsWhereNearestNeighbourWouldNot)
{
    CImage board;
    ASSERT_TRUE(board.Create(120, 120, 32));
    for (int y = 0; y < 120; ++y)
        for (int x = 0; x < 120; ++x)
            board.Image().setPixel(x, y, (x + y) % 2 ? qRgb(255, 255, 255) : qRgb(0, 0, 0));

    for (int bpp : {24, 32}) {
        CImage out;
        ASSERT_TRUE(out.Create(102, 102, bpp)); // 85 %
        ASSERT_TRUE(CImage::ScaleHighQuality(out, board, 102, 102, 120, 120));
        const QImage nearest =
            board.Image().scaled(102, 102, Qt::IgnoreAspectRatio, Qt::FastTransformation);
        int differing = 0, midGrey = 0;
        for (int y = 0; y < 102; ++y)
            for (int x = 0; x < 102; ++x) {
                const int v = qGray(out.Image().pixel(x, y));
                differing += v != qGray(nearest.pixel(x, y));
                midGrey += v > 60 && v < 195;
            }
        EXPECT_GT(differing, 102 * 102 / 2) << bpp;
        EXPECT_GT(midGrey, 102 * 102 / 2) << bpp;
    }

    // Only the destination rectangle is written.
    CImage big;
    ASSERT_TRUE(big.Create(50, 50, 32));
    big.Image().fill(qRgb(1, 2, 3));
    ASSERT_TRUE(CImage::ScaleHighQuality(big, board, 20, 10, 120, 120));
    EXPECT_EQ(big.Image().pixel(20, 5), qRgb(1, 2, 3));
    EXPECT_EQ(big.Image().pixel(5, 10), qRgb(1, 2, 3));
    EXPECT_NE(big.Image().pixel(5, 5), qRgb(1, 2, 3));

    CImage empty;
    EXPECT_FALSE(CImage::ScaleHighQuality(big, empty, 20, 10, 120, 120));
    EXPECT_FALSE(CImage::ScaleHighQuality(empty, board, 20, 10, 120, 120));
}

TEST_F(ImageTest, TwoThreadsEachWithTheirOwnImages)
{
    ASSERT_TRUE(WriteFile(File("in.jpg"), JpegBytes(Noise(400, 240, 4))));
    std::atomic<int> failures{0};
    auto worker = [&](int id) {
        for (int i = 0; i < 20; ++i) {
            CImage a, b;
            if (a.Load(File("in.jpg")) != 0 || !b.Create(340, 204, 24) ||
                !CImage::ScaleHighQuality(b, a, 340, 204, 400, 240) ||
                b.Save(m_dir.path() + QString("/out%1.jpg").arg(id)) != 0)
                ++failures;
        }
    };
    std::thread t1(worker, 1), t2(worker, 2);
    t1.join();
    t2.join();
    EXPECT_EQ(failures.load(), 0);
}

} // namespace
