// The LK panel's scaled copy on a disk where something was planted at the copy's name.
#include "LkHarness.h"

#include <QBuffer>
#include <QFileInfo>

#include <gtest/gtest.h>

namespace {

TEST(RegressScaledCopy, TheLkPanelNeverWritesThroughALinkAtTheCopysName)
{
    LkHarness h;
    h.Preset("Scale", 1);
    h.Open();
    const QString victim = h.dir.filePath("victim.txt");
    {
        QFile file(victim);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("keep me");
    }
    const QString shot = h.dir.filePath("shot.jpg");
    {
        QImage screen(800, 600, QImage::Format_RGB32);
        screen.fill(Qt::darkCyan);
        ASSERT_TRUE(screen.save(shot, "JPEG"));
    }
    const QString copy = h.dir.filePath("shot_085.jpg");
    ASSERT_TRUE(QFile::link(victim, copy));

    h.panel->DrawScreenImage(shot);
    ASSERT_TRUE(WaitFor([&] { return h.panel->PicturesShown() >= 1; }));
    EXPECT_EQ(h.panel->ScreenPicture().size(), QSize(680, 510));
    QFile file(victim);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), QByteArray("keep me"));
    EXPECT_TRUE(QFileInfo(copy).isSymLink());
}

} // namespace
