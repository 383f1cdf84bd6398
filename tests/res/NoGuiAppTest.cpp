// Tools without a Gui application (the command-line side) can still ask for pictures: they
// come without legends instead of taking the process down.
#include "Resources.h"

#include <QCoreApplication>
#include <gtest/gtest.h>

using namespace res;

TEST(NoGuiApp, PicturesStillComeAtTheirSizes)
{
    ASSERT_EQ(QCoreApplication::instance(), nullptr);
    EXPECT_EQ(LoadBitmap(IDB_PANEL_KKC).size(), QSize(1023, 679));
    EXPECT_EQ(LoadBitmap(LkPanel(2)).size(), QSize(897, 537));
    EXPECT_EQ(LoadBitmap(IDB_SCREEN_PLACEHOLDER).size(), QSize(800, 480));
    EXPECT_EQ(LoadBitmap(KkcKeyFace(1073, Face::Normal)).size(), QSize(65, 47));
    EXPECT_EQ(LoadBitmap(LkKeyFace(1042, 1, Face::Pressed)).size(), QSize(130, 38));
    EXPECT_EQ(LoadBitmap(LkKnob(1, 5)).size(), QSize(150, 150));
    EXPECT_TRUE(LoadIcon(IDR_MAINFRAME).isNull());
}
