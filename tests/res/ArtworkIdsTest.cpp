// Every picture the panels ask for exists at exactly the size its button or window expects,
// and unknown requests give nothing.
#include "ArtLayout.h"
#include "Resources.h"

#include <QIcon>
#include <gtest/gtest.h>
#include <set>

using namespace res;

namespace {

struct Expected
{
    int first, last; // control range
    QSize size[3];   // 100 %, 85 %, 70 %
};

// Face sizes of the LK keys, per scale, written out independently of the artwork's tables.
const Expected kLkFaces[] = {
    {1013, 1013, {{59, 42}, {50, 36}, {41, 29}}}, {1021, 1021, {{59, 42}, {50, 36}, {41, 29}}},
    {1014, 1020, {{52, 44}, {44, 37}, {36, 31}}}, {1022, 1022, {{98, 32}, {83, 27}, {69, 22}}},
    {1028, 1028, {{98, 32}, {83, 27}, {69, 22}}}, {1023, 1027, {{98, 36}, {83, 31}, {69, 25}}},
    {1029, 1029, {{64, 45}, {54, 38}, {45, 32}}}, {1031, 1032, {{64, 45}, {54, 38}, {45, 32}}},
    {1034, 1035, {{64, 45}, {54, 38}, {45, 32}}}, {1037, 1038, {{64, 45}, {54, 38}, {45, 32}}},
    {1040, 1041, {{64, 45}, {54, 38}, {45, 32}}}, {1030, 1030, {{64, 40}, {54, 34}, {45, 28}}},
    {1033, 1033, {{64, 40}, {54, 34}, {45, 28}}}, {1036, 1036, {{64, 40}, {54, 34}, {45, 28}}},
    {1039, 1039, {{64, 40}, {54, 34}, {45, 28}}}, {1042, 1042, {{153, 45}, {130, 38}, {107, 32}}},
    {1043, 1043, {{63, 52}, {54, 44}, {44, 36}}}, {1045, 1045, {{63, 52}, {54, 44}, {44, 36}}},
    {1044, 1044, {{52, 63}, {44, 54}, {36, 44}}}, {1046, 1046, {{52, 63}, {44, 54}, {36, 44}}},
};

QSize KkcFaceSize(int id)
{
    if (id <= 1084)
        return {65, 47};
    if (id == 1097)
        return {230, 40};
    if (id == 1099 || id == 1100)
        return {55, 40}; // the up arrow's face matches the down arrow, not its 10 x 10 slot
    return {60, 40};
}

constexpr Face kFaces[] = {Face::Normal, Face::Pressed, Face::Focus, Face::Disabled};

} // namespace

TEST(ArtworkIds, KkcPicturesHaveTheirExactSizes)
{
    EXPECT_EQ(LoadBitmap(IDB_PANEL_KKC).size(), QSize(1023, 679));
    EXPECT_EQ(LoadBitmap(IDB_SCREEN_PLACEHOLDER).size(), QSize(800, 480));
    for (int id = IDB_KNOB_KKC_FIRST; id <= IDB_KNOB_KKC_DISABLED; ++id)
        EXPECT_EQ(LoadBitmap(id).size(), QSize(140, 140)) << id;
    for (int control = 1073; control <= 1100; ++control)
        for (Face face : kFaces) {
            const int id = KkcKeyFace(control, face);
            ASSERT_NE(id, 0) << control;
            const QImage img = LoadBitmap(id);
            EXPECT_EQ(img.size(), KkcFaceSize(control)) << control;
            EXPECT_EQ(img.format(), QImage::Format_RGB32) << control;
        }
}

TEST(ArtworkIds, LkPicturesHaveTheirExactSizesAtEveryScale)
{
    const QSize panels[] = {{1282, 767}, {1090, 652}, {897, 537}};
    const int knobs[] = {177, 150, 124};
    int checked = 0;
    for (int scale = 0; scale < 3; ++scale) {
        EXPECT_EQ(LoadBitmap(LkPanel(scale)).size(), panels[scale]);
        for (int index = 0; index <= 12; ++index)
            EXPECT_EQ(LoadBitmap(LkKnob(scale, index)).size(), QSize(knobs[scale], knobs[scale]))
                << scale << "/" << index;
        for (const Expected &e : kLkFaces)
            for (int control = e.first; control <= e.last; ++control)
                for (Face face : kFaces) {
                    const QImage img = LoadBitmap(LkKeyFace(control, scale, face));
                    EXPECT_EQ(img.size(), e.size[scale]) << control << " at scale " << scale;
                    ++checked;
                }
    }
    EXPECT_EQ(checked, 34 * 4 * 3); // every key 1013..1046 was covered
}

TEST(ArtworkIds, UnknownRequestsGiveNothing)
{
    for (int id : {0, -1, 1, 127, 241, 244, 291, 305, 1073, 99999})
        EXPECT_TRUE(LoadBitmap(id).isNull()) << id;
    EXPECT_EQ(KkcKeyFace(1072, Face::Normal), 0);
    EXPECT_EQ(KkcKeyFace(1101, Face::Normal), 0); // the knob has no key face
    EXPECT_EQ(KkcKeyFace(1080, static_cast<Face>(7)), 0);
    EXPECT_EQ(LkKeyFace(1012, 0, Face::Normal), 0);
    EXPECT_EQ(LkKeyFace(1047, 0, Face::Normal), 0);
    EXPECT_EQ(LkKeyFace(1013, 3, Face::Normal), 0);
    EXPECT_EQ(LkKeyFace(1013, -1, Face::Normal), 0);
    EXPECT_EQ(LkPanel(3), 0);
    EXPECT_EQ(LkPanel(-1), 0);
    EXPECT_EQ(LkKnob(0, 13), 0);
    EXPECT_EQ(LkKnob(0, -1), 0);
    EXPECT_EQ(LkKnob(3, 1), 0);
    EXPECT_TRUE(LoadIcon(999).isNull());
}

TEST(ArtworkIds, FacesAreDistinctPerKeyScaleAndStateWhereTheyShouldBe)
{
    std::set<int> seen;
    for (int control = 1073; control <= 1100; ++control) {
        EXPECT_EQ(KkcKeyFace(control, Face::Focus), KkcKeyFace(control, Face::Normal));
        for (Face face : {Face::Normal, Face::Pressed, Face::Disabled})
            EXPECT_TRUE(seen.insert(KkcKeyFace(control, face)).second) << control;
    }
    for (int scale = 0; scale < 3; ++scale) {
        EXPECT_TRUE(seen.insert(LkPanel(scale)).second);
        for (int index = 0; index <= 12; ++index)
            EXPECT_TRUE(seen.insert(LkKnob(scale, index)).second);
        for (int control = 1013; control <= 1046; ++control) {
            const bool soft = control >= 1014 && control <= 1020;
            if (soft) {
                for (Face face : kFaces)
                    EXPECT_EQ(LkKeyFace(control, scale, face), LkKeyFace(1014, scale, face));
                EXPECT_NE(LkKeyFace(control, scale, Face::Focus),
                          LkKeyFace(control, scale, Face::Normal));
                if (control != 1014)
                    continue;
            } else {
                EXPECT_EQ(LkKeyFace(control, scale, Face::Focus),
                          LkKeyFace(control, scale, Face::Normal));
            }
            for (Face face : {Face::Normal, Face::Pressed, Face::Disabled})
                EXPECT_TRUE(seen.insert(LkKeyFace(control, scale, face)).second) << control;
        }
    }
    for (int fixed : {IDB_PANEL_KKC, IDB_SCREEN_PLACEHOLDER, IDB_KNOB_KKC_DISABLED})
        EXPECT_FALSE(seen.count(fixed));
    // Everything handed out is loadable, and nothing else is listed.
    std::set<int> listed;
    for (int id : AllBitmapIds())
        listed.insert(id);
    for (int id : seen)
        EXPECT_TRUE(listed.count(id)) << id;
    EXPECT_EQ(listed.size(), seen.size() + 2 + 13 + 3); // fixed KKC IDs, soft-key focus faces
}

TEST(ArtworkIds, IconsComeAtTheirSizes)
{
    const QList<QSize> app = LoadIcon(IDR_MAINFRAME).availableSizes();
    for (int size : {16, 32, 48, 64, 128, 256})
        EXPECT_TRUE(app.contains(QSize(size, size))) << size;
    for (int id : {IDI_CONNECTED, IDI_DISCONNECTED}) {
        const QIcon icon = LoadIcon(id);
        ASSERT_FALSE(icon.isNull()) << id;
        EXPECT_EQ(icon.availableSizes(), QList<QSize>{QSize(16, 16)}) << id;
    }
    const QImage on = LoadIcon(IDI_CONNECTED).pixmap(16, 16).toImage();
    const QImage off = LoadIcon(IDI_DISCONNECTED).pixmap(16, 16).toImage();
    EXPECT_NE(on, off);
}

// The wells in the panel pictures sit where the panels place their buttons; positions at the
// smaller scales follow the truncating single-precision rule (70 % lies just below 0.7).
TEST(ArtworkLayout, ScaledPositionsFollowTheTruncationRule)
{
    using namespace res::layout;
    struct Pos
    {
        int id;
        QPoint at[3];
    };
    const Pos expected[] = {
        {1013, {{902, 38}, {766, 32}, {631, 26}}},
        {1014, {{906, 108}, {770, 91}, {634, 75}}},
        {1015, {{906, 186}, {770, 158}, {634, 130}}},
        {1016, {{906, 263}, {770, 223}, {634, 184}}},
        {1017, {{906, 338}, {770, 287}, {634, 236}}},
        {1018, {{906, 417}, {770, 354}, {634, 291}}},
        {1019, {{906, 493}, {770, 419}, {634, 345}}},
        {1020, {{906, 571}, {770, 485}, {634, 399}}},
        {1021, {{902, 646}, {766, 549}, {631, 452}}},
        {1022, {{38, 705}, {32, 599}, {26, 493}}},
        {1023, {{156, 705}, {132, 599}, {109, 493}}},
        {1026, {{508, 705}, {431, 599}, {355, 493}}},
        {1028, {{743, 705}, {631, 599}, {520, 493}}},
        {1046, {{971, 177}, {825, 150}, {679, 123}}},
        {1043, {{1086, 59}, {923, 50}, {760, 41}}},
        {1045, {{1088, 306}, {924, 260}, {761, 214}}},
        {1044, {{1213, 177}, {1031, 150}, {849, 123}}},
        {1030, {{1096, 416}, {931, 353}, {767, 291}}},
        {1039, {{1096, 613}, {931, 521}, {767, 429}}},
        {1040, {{1186, 604}, {1008, 513}, {830, 422}}},
        {1042, {{1096, 669}, {931, 568}, {767, 468}}},
    };
    for (const Pos &e : expected) {
        const LkKey *key = FindLkKey(e.id);
        ASSERT_NE(key, nullptr) << e.id;
        for (int scale = 0; scale < 3; ++scale)
            EXPECT_EQ(LkKeyPos(*key, scale), e.at[scale]) << e.id << " at scale " << scale;
    }
    EXPECT_EQ(LkKnobPos(1), QPoint(875, 102));
    EXPECT_EQ(LkKnobPos(2), QPoint(720, 83));
    EXPECT_EQ(LkScreen(0), QRect(41, 39, 800, 600));
    EXPECT_EQ(LkScreen(1), QRect(34, 33, 680, 510));
    EXPECT_EQ(LkScreen(2), QRect(28, 27, 559, 419));
}
