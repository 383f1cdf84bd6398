#include "CQxButton.h"

#include <QApplication>
#include <QFile>
#include <QRandomGenerator>
#include <QTest>
#include <gtest/gtest.h>

#if KLR_HAVE_RES
#include "Resources.h"
#endif

namespace {

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kAddressSanitizer = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kAddressSanitizer = true;
#else
constexpr bool kAddressSanitizer = false;
#endif
#else
constexpr bool kAddressSanitizer = false;
#endif

QImage Filled(int w, int h, QRgb colour)
{
    QImage img(w, h, QImage::Format_RGB32);
    img.fill(colour);
    return img;
}

// A disc of `colour` on white, like a round key's artwork.
QImage Disc(int size, QRgb colour)
{
    QImage img = Filled(size, size, qRgb(255, 255, 255));
    const double r = size / 2.0;
    for (int y = 0; y < size; ++y)
        for (int x = 0; x < size; ++x)
            if ((x + 0.5 - r) * (x + 0.5 - r) + (y + 0.5 - r) * (y + 0.5 - r) <= r * r)
                img.setPixel(x, y, colour);
    return img;
}

long ResidentPages()
{
    QFile f("/proc/self/statm");
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    const QList<QByteArray> parts = f.readAll().split(' ');
    return parts.size() > 1 ? parts[1].toLong() : -1;
}

TEST(QxButtonOutline, OnlyPureWhiteIsTransparent)
{
    EXPECT_TRUE(CQxButton::OutlineOf(Filled(37, 21, qRgb(255, 255, 255))).isEmpty());
    EXPECT_TRUE(CQxButton::OutlineOf(QImage()).isEmpty());

    for (QRgb nearWhite : {qRgb(255, 255, 254), qRgb(254, 255, 255), qRgb(255, 254, 255)}) {
        QImage img = Filled(10, 8, qRgb(255, 255, 255));
        img.setPixel(3, 5, nearWhite);
        const QRegion r = CQxButton::OutlineOf(img);
        EXPECT_EQ(r, QRegion(3, 5, 1, 1));
    }
    // Other pixel formats are judged by their colour the same way.
    QImage rgb888 = Filled(4, 4, qRgb(255, 255, 255)).convertToFormat(QImage::Format_RGB888);
    rgb888.setPixel(0, 3, qRgb(0, 0, 0));
    EXPECT_EQ(CQxButton::OutlineOf(rgb888), QRegion(0, 3, 1, 1));
}

TEST(QxButtonOutline, RegionIsExactlyTheNonWhitePixelsAcrossManyBatches)
{
    // Random speckle gives far more than 2000 runs, so several batches are merged.
    QRandomGenerator rng(42);
    QImage img = Filled(160, 150, qRgb(255, 255, 255));
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x)
            if (rng.bounded(3) == 0)
                img.setPixel(x, y, qRgb(rng.bounded(256), rng.bounded(256), 254));
    const QRegion r = CQxButton::OutlineOf(img);
    ASSERT_GT(r.rectCount(), 4000);
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x)
            ASSERT_EQ(r.contains(QPoint(x, y)), img.pixel(x, y) != qRgb(255, 255, 255))
                << x << "," << y;
    EXPECT_FALSE(r.contains(QPoint(160, 0)));
    EXPECT_FALSE(r.contains(QPoint(0, 150)));
}

class QxButtonTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_parent.resize(300, 200);
        m_button = new CQxButton(&m_parent, 1080);
        m_button->move(40, 30);
        m_parent.show();
    }

    QWidget m_parent;
    CQxButton *m_button = nullptr;
    const QImage m_normal = Disc(30, qRgb(10, 10, 10));
    const QImage m_pressed = Disc(34, qRgb(200, 0, 0));
    const QImage m_focus = Disc(32, qRgb(0, 200, 0));
    const QImage m_disabled = Disc(28, qRgb(128, 128, 128));
};

TEST_F(QxButtonTest, FaceFallsBackInOrderAndButtonTakesItsSizeAndOutline)
{
    EXPECT_EQ(m_button->objectName(), "1080");
    m_button->SetFaces(m_normal, m_pressed, m_focus, m_disabled);
    EXPECT_EQ(m_button->CurrentFace(), CQxButton::Normal);
    EXPECT_EQ(m_button->size(), QSize(30, 30));
    EXPECT_EQ(m_button->mask(), CQxButton::OutlineOf(m_normal));

    QTest::mousePress(m_button, Qt::LeftButton, {}, QPoint(15, 15));
    EXPECT_TRUE(m_button->isDown());
    EXPECT_EQ(m_button->CurrentFace(), CQxButton::Pressed);
    EXPECT_EQ(m_button->size(), QSize(34, 34));
    EXPECT_EQ(m_button->pos(), QPoint(40, 30));
    EXPECT_EQ(m_button->mask(), CQxButton::OutlineOf(m_pressed));
    QTest::mouseRelease(m_button, Qt::LeftButton, {}, QPoint(15, 15));
    EXPECT_EQ(m_button->CurrentFace(), CQxButton::Normal);
    EXPECT_EQ(m_button->size(), QSize(30, 30));

    m_button->setEnabled(false);
    EXPECT_EQ(m_button->CurrentFace(), CQxButton::Disabled);
    EXPECT_EQ(m_button->size(), QSize(28, 28));

    // Without a disabled face a disabled button shows its normal face.
    m_button->SetFaces(m_normal, m_pressed, m_focus, QImage());
    EXPECT_EQ(m_button->CurrentFace(), CQxButton::Normal);
    m_button->setEnabled(true);

    // Without a pressed face a held button falls through to focus, then normal.
    m_button->SetFaces(m_normal, QImage(), m_focus, m_disabled);
    m_button->setDown(true);
    EXPECT_EQ(m_button->CurrentFace(), CQxButton::Normal);
    m_parent.activateWindow();
    QApplication::setActiveWindow(&m_parent);
    m_button->setFocus();
    ASSERT_TRUE(m_button->hasFocus());
    EXPECT_EQ(m_button->CurrentFace(), CQxButton::Focus);
    EXPECT_EQ(m_button->size(), QSize(32, 32));
    m_button->setDown(false);
}

TEST_F(QxButtonTest, ClearedFacesPaintNothingAndIdZeroClears)
{
    m_button->SetFaces(m_normal, m_pressed, m_focus, m_disabled);
    m_button->SetBitmaps(0, 0, 0, 0);
    for (int face = 0; face < 4; ++face) {
        EXPECT_TRUE(m_button->Face(face).isNull());
        EXPECT_TRUE(m_button->FaceRegion(face).isEmpty());
    }
    EXPECT_EQ(m_button->CurrentFace(), CQxButton::Normal);
    EXPECT_TRUE(m_button->Face(-1).isNull());
    EXPECT_TRUE(m_button->Face(4).isNull());
}

#if KLR_HAVE_RES
TEST_F(QxButtonTest, BitmapIdsLoadTheArtworkAndZeroOrUnknownIdsClear)
{
    const int normal = res::KkcKeyFace(1073, res::Face::Normal);
    const int pressed = res::KkcKeyFace(1073, res::Face::Pressed);
    const int disabled = res::KkcKeyFace(1073, res::Face::Disabled);
    ASSERT_FALSE(res::LoadBitmap(normal).isNull());
    m_button->SetBitmaps(normal, pressed, normal, disabled);
    EXPECT_EQ(m_button->Face(CQxButton::Normal), res::LoadBitmap(normal));
    EXPECT_EQ(m_button->Face(CQxButton::Pressed), res::LoadBitmap(pressed));
    EXPECT_EQ(m_button->FaceRegion(CQxButton::Normal),
              CQxButton::OutlineOf(res::LoadBitmap(normal)));
    EXPECT_EQ(m_button->size(), res::LoadBitmap(normal).size());

    m_button->SetBitmaps(normal, 0, normal, 987654);
    EXPECT_TRUE(m_button->Face(CQxButton::Pressed).isNull());
    EXPECT_TRUE(m_button->Face(CQxButton::Disabled).isNull());
    m_button->setDown(true);
    EXPECT_EQ(m_button->CurrentFace(), CQxButton::Normal);
    m_button->setDown(false);
}

#endif
TEST_F(QxButtonTest, PaintsTheFaceOnlyInsideItsOutline)
{
    m_parent.setAutoFillBackground(true);
    QPalette pal = m_parent.palette();
    pal.setColor(QPalette::Window, QColor(255, 0, 255));
    m_parent.setPalette(pal);
    m_button->SetFaces(m_normal, m_pressed, m_focus, m_disabled);

    const QImage shot = m_parent.grab().toImage();
    const QPoint origin = m_button->pos();
    EXPECT_EQ(shot.pixel(origin + QPoint(15, 15)), qRgb(10, 10, 10));
    // The white corner of the artwork is cut away: the panel shows through.
    EXPECT_EQ(shot.pixel(origin + QPoint(0, 0)), qRgb(255, 0, 255));
    EXPECT_EQ(shot.pixel(origin + QPoint(29, 29)), qRgb(255, 0, 255));
}

TEST_F(QxButtonTest, ReskinningWithHeldPicturesKeepsEachFaceItsOwnOutline)
{
    // A keyboard key held: the pressed picture becomes the normal face too, then is restored.
    for (int round = 0; round < 3; ++round) {
        m_button->SetFaces(m_pressed, m_pressed, m_normal, m_disabled);
        EXPECT_EQ(m_button->FaceRegion(CQxButton::Normal), CQxButton::OutlineOf(m_pressed));
        EXPECT_EQ(m_button->FaceRegion(CQxButton::Focus), CQxButton::OutlineOf(m_normal));
        EXPECT_EQ(m_button->size(), QSize(34, 34));
        EXPECT_EQ(m_button->mask(), CQxButton::OutlineOf(m_pressed));
        m_button->SetFaces(m_normal, m_pressed, m_normal, m_disabled);
        EXPECT_EQ(m_button->FaceRegion(CQxButton::Normal), CQxButton::OutlineOf(m_normal));
        EXPECT_EQ(m_button->FaceRegion(CQxButton::Disabled), CQxButton::OutlineOf(m_disabled));
        EXPECT_EQ(m_button->size(), QSize(30, 30));
        EXPECT_EQ(m_button->mask(), CQxButton::OutlineOf(m_normal));
    }
    // A picture changed in place is a new picture with a new outline.
    QImage edited = m_normal;
    edited.setPixel(0, 0, qRgb(0, 0, 0));
    m_button->SetFaces(edited, m_pressed, m_normal, m_disabled);
    EXPECT_TRUE(m_button->FaceRegion(CQxButton::Normal).contains(QPoint(0, 0)));
    EXPECT_FALSE(m_button->FaceRegion(CQxButton::Focus).contains(QPoint(0, 0)));
}

TEST_F(QxButtonTest, ReskinningManyTimesKeepsMemoryFlat)
{
    const QImage pressedAsNormal = m_pressed;
    m_button->SetFaces(m_normal, m_pressed, m_normal, m_disabled);
    const int normalRects = m_button->FaceRegion(CQxButton::Normal).rectCount();
    const long before = ResidentPages();
    for (int i = 0; i < 10000; ++i) {
        // Fresh copies each time, so every outline is computed anew.
        if (i % 2 == 0)
            m_button->SetFaces(pressedAsNormal.copy(), m_pressed.copy(), m_normal.copy(),
                               m_disabled.copy());
        else
            m_button->SetFaces(m_normal.copy(), m_pressed.copy(), m_normal.copy(),
                               m_disabled.copy());
    }
    QApplication::processEvents();
    const long after = ResidentPages();
    EXPECT_EQ(m_button->FaceRegion(CQxButton::Normal).rectCount(), normalRects);
    EXPECT_EQ(m_button->size(), QSize(30, 30));
    ASSERT_GT(before, 0);
    ASSERT_GT(after, 0);
    // AddressSanitizer holds freed blocks in quarantine, so resident size grows there without a
    // leak; its leak check at exit covers that build instead.
    if (!kAddressSanitizer) {
        EXPECT_LT((after - before) * 4096L, 32L * 1024 * 1024) << before << " -> " << after;
    }
}

} // namespace
