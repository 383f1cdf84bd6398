// The LK panel's scaled copy on a disk where something was planted at the copy's name.
#include "CRemoteDlgLK.h"
#include "PanelHarness.h"

#include <QFileInfo>

#include <gtest/gtest.h>

namespace {

using LkHarness = BasicPanelHarness<CRemoteDlgLK>;

TEST(RegressScaledCopy, TheLkPanelNeverWritesThroughALinkAtTheCopysName)
{
    LkHarness h;
    ASSERT_TRUE(h.StartServer());
    h.Preset("Scale", 1);
    h.Open(1);
    ASSERT_TRUE(h.Connect());
    const QString victim = h.dir.filePath("victim.txt");
    {
        QFile file(victim);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("keep me");
    }
    // Planted as soon as the screen file is named, before the first picture arrives.
    h.panel->OnCommand(ids::IDC_START);
    const QString image = h.panel->Session().ImagePath();
    const QString copy = image.left(image.size() - 4) + "_085.jpg";
    ASSERT_TRUE(QFile::link(victim, copy));

    ASSERT_TRUE(WaitFor([&] { return h.panel->PicturesShown() >= 2; }));
    EXPECT_EQ(h.panel->ScreenPicture().size(), QSize(680, 510));
    QFile file(victim);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), QByteArray("keep me"));
    EXPECT_TRUE(QFileInfo(copy).isSymLink());
}

} // namespace
