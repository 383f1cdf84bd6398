// The LK panel's arithmetic and tables, without a window: scale factors and truncation, the
// published rectangles at every scale, the scaled-file name, click conversion, model groups.
#include "ArtLayout.h"
#include "LkKeyTable.h"
#include "LkModelTable.h"
#include "LkScale.h"

#include <gtest/gtest.h>

#include <Qt>
#include <bit>
#include <cstdint>
#include <set>
#include <string>

namespace {

struct Published
{
    int id;
    QRect at[3]; // x, y, width, height at 100 %, 85 %, 70 %
};

// The reference rectangles as published for the panel (not recomputed here).
const Published kPublished[] = {
    {1013, {{902, 38, 59, 42}, {766, 32, 50, 35}, {631, 26, 41, 29}}},
    {1014, {{906, 108, 52, 44}, {770, 91, 44, 37}, {634, 75, 36, 30}}},
    {1015, {{906, 186, 52, 44}, {770, 158, 44, 37}, {634, 130, 36, 30}}},
    {1016, {{906, 263, 52, 44}, {770, 223, 44, 37}, {634, 184, 36, 30}}},
    {1017, {{906, 338, 52, 44}, {770, 287, 44, 37}, {634, 236, 36, 30}}},
    {1018, {{906, 417, 52, 44}, {770, 354, 44, 37}, {634, 291, 36, 30}}},
    {1019, {{906, 493, 52, 44}, {770, 419, 44, 37}, {634, 345, 36, 30}}},
    {1020, {{906, 571, 52, 44}, {770, 485, 44, 37}, {634, 399, 36, 30}}},
    {1021, {{902, 646, 59, 42}, {766, 549, 50, 35}, {631, 452, 41, 29}}},
    {1022, {{38, 705, 98, 32}, {32, 599, 83, 27}, {26, 493, 68, 22}}},
    {1023, {{156, 705, 98, 36}, {132, 599, 83, 30}, {109, 493, 68, 25}}},
    {1024, {{274, 705, 98, 36}, {232, 599, 83, 30}, {191, 493, 68, 25}}},
    {1025, {{391, 705, 98, 36}, {332, 599, 83, 30}, {273, 493, 68, 25}}},
    {1026, {{508, 705, 98, 36}, {431, 599, 83, 30}, {355, 493, 68, 25}}},
    {1027, {{626, 705, 98, 36}, {532, 599, 83, 30}, {438, 493, 68, 25}}},
    {1028, {{743, 705, 98, 32}, {631, 599, 83, 27}, {520, 493, 68, 22}}},
    {1046, {{971, 177, 52, 63}, {825, 150, 44, 53}, {679, 123, 36, 44}}},
    {1043, {{1086, 59, 63, 52}, {923, 50, 53, 44}, {760, 41, 44, 36}}},
    {1061, {{1030, 120, 177, 177}, {875, 102, 150, 150}, {720, 83, 123, 123}}},
    {1045, {{1088, 306, 63, 52}, {924, 260, 53, 44}, {761, 214, 44, 36}}},
    {1044, {{1213, 177, 52, 63}, {1031, 150, 44, 53}, {849, 123, 36, 44}}},
    {1029, {{1005, 409, 64, 45}, {854, 347, 54, 38}, {703, 286, 44, 31}}},
    {1030, {{1096, 416, 64, 40}, {931, 353, 54, 34}, {767, 291, 44, 27}}},
    {1031, {{1186, 409, 64, 45}, {1008, 347, 54, 38}, {830, 286, 44, 31}}},
    {1032, {{1005, 474, 64, 45}, {854, 402, 54, 38}, {703, 331, 44, 31}}},
    {1033, {{1096, 481, 64, 40}, {931, 408, 54, 34}, {767, 336, 44, 27}}},
    {1034, {{1186, 474, 64, 45}, {1008, 402, 54, 38}, {830, 331, 44, 31}}},
    {1035, {{1005, 539, 64, 45}, {854, 458, 54, 38}, {703, 377, 44, 31}}},
    {1036, {{1096, 546, 64, 40}, {931, 464, 54, 34}, {767, 382, 44, 27}}},
    {1037, {{1186, 539, 64, 45}, {1008, 458, 54, 38}, {830, 377, 44, 31}}},
    {1038, {{1005, 604, 64, 45}, {854, 513, 54, 38}, {703, 422, 44, 31}}},
    {1039, {{1096, 613, 64, 40}, {931, 521, 54, 34}, {767, 429, 44, 27}}},
    {1040, {{1186, 604, 64, 45}, {1008, 513, 54, 38}, {830, 422, 44, 31}}},
    {1041, {{1005, 669, 64, 45}, {854, 568, 54, 38}, {703, 468, 44, 31}}},
    {1042, {{1096, 669, 153, 45}, {931, 568, 130, 38}, {767, 468, 107, 31}}},
};

const QSize kOuter[3] = {{1290, 820}, {1096, 700}, {902, 581}};
// left, top, right, bottom
const int kScreenEdges[3][4] = {{41, 39, 841, 639}, {34, 33, 714, 543}, {28, 27, 587, 446}};
const QSize kPicture[3] = {{800, 600}, {680, 510}, {559, 419}};

} // namespace

TEST(LkScale, FactorsAreTheSinglePrecisionValues)
{
    EXPECT_EQ(std::bit_cast<std::uint32_t>(lk::ScaleFactor(0)), 0x3F800000u);
    EXPECT_EQ(std::bit_cast<std::uint32_t>(lk::ScaleFactor(1)), 0x3F59999Au);
    EXPECT_EQ(std::bit_cast<std::uint32_t>(lk::ScaleFactor(2)), 0x3F333333u);
    // Any other index draws at 100 %.
    EXPECT_EQ(lk::ScaleFactor(3), 1.0f);
    EXPECT_EQ(lk::ScaleFactor(-1), 1.0f);
    EXPECT_EQ(lk::ScaleLength(800, 7), 800);
}

TEST(LkScale, TruncationFallsShortJustBelowWholeNumbers)
{
    EXPECT_EQ(lk::ScaleLength(800, 2), 559);
    EXPECT_EQ(lk::ScaleLength(600, 2), 419);
    EXPECT_EQ(lk::ScaleLength(10, 2), 6);
    EXPECT_EQ(lk::ScaleLength(800, 1), 680);
    EXPECT_EQ(lk::ScaleLength(20, 1), 17);
    EXPECT_EQ(lk::ScaleLength(0, 2), 0);
    EXPECT_EQ(lk::ScaledDrawSize(2), QSize(560, 419));
    EXPECT_EQ(lk::ScaledDrawSize(1), QSize(680, 510));
}

TEST(LkScale, WindowScreenAndPictureMatchThePublishedTable)
{
    for (int s = 0; s < 3; ++s) {
        SCOPED_TRACE(s);
        EXPECT_EQ(lk::OuterSize(s), kOuter[s]);
        const QRect r = lk::ScreenRect(s);
        EXPECT_EQ(r.left(), kScreenEdges[s][0]);
        EXPECT_EQ(r.top(), kScreenEdges[s][1]);
        // Right and bottom edges lie outside the rectangle.
        EXPECT_EQ(r.left() + r.width(), kScreenEdges[s][2]);
        EXPECT_EQ(r.top() + r.height(), kScreenEdges[s][3]);
        EXPECT_EQ(r.size(), kPicture[s]);
        EXPECT_EQ(lk::ScreenPictureSize(s), kPicture[s]);
    }
}

TEST(LkScale, EveryKeyAndTheKnobMatchThePublishedTable)
{
    std::set<int> seen;
    for (const Published &row : kPublished) {
        for (int s = 0; s < 3; ++s)
            EXPECT_EQ(lk::KeyRect(row.id, s), row.at[s]) << "control " << row.id << " scale " << s;
        seen.insert(row.id);
    }
    EXPECT_EQ(seen.size(), 35u);
    EXPECT_TRUE(lk::KeyRect(1047, 0).isNull());
    EXPECT_TRUE(lk::KeyRect(1012, 1).isNull());
}

TEST(LkKeyTable, LaysOutInTheFixedOrderWithEveryKeyOnce)
{
    // The knob (1061) is placed right after the up arrow.
    const int order[] = {1013, 1014, 1015, 1016, 1017, 1018, 1019, 1020, 1021, 1022, 1023, 1024,
                         1025, 1026, 1027, 1028, 1046, 1043, 1061, 1045, 1044, 1029, 1030, 1031,
                         1032, 1033, 1034, 1035, 1036, 1037, 1038, 1039, 1040, 1041, 1042};
    std::vector<int> placed;
    for (const LkKey &key : lk::Keys()) {
        placed.push_back(key.id);
        if (key.id == res::layout::kLkKnobAfter)
            placed.push_back(lk::kKnob);
    }
    EXPECT_EQ(placed, std::vector<int>(std::begin(order), std::end(order)));
}

TEST(LkKeyTable, CommandTextsAreExact)
{
    const std::pair<int, std::string> expected[] = {
        {1013, "KEYP:ESC"},  {1014, "KEYP:CUS1"}, {1020, "KEYP:CUS7"}, {1021, "KEYP:PREV"},
        {1022, "KEYP:MODE"}, {1023, "KEYP:FREQ"}, {1024, "KEYP:AMP"},  {1025, "KEYP:BW"},
        {1026, "KEYP:TRAC"}, {1027, "KEYP:MARK"}, {1028, "KEYP:PEAK"}, {1029, "KEYP:NUM1"},
        {1033, "KEYP:NUM5"}, {1038, "KEYP:JUM"},  {1039, "KEYP:NUM0"}, {1040, "KEYP:BUHO"},
        {1041, "KEYP:DEL"},  {1042, "KEYP:ENTR"}, {1043, "KEYP:UP"},   {1044, "KEYP:RIGH"},
        {1045, "KEYP:DOWN"}, {1046, "KEYP:LEFT"},
    };
    for (const auto &[id, text] : expected) {
        const LkKey *key = lk::FindKey(id);
        ASSERT_NE(key, nullptr) << id;
        ASSERT_NE(key->command, nullptr) << id;
        EXPECT_EQ(std::string(key->command), text) << id;
    }
    EXPECT_EQ(lk::FindKey(1061), nullptr); // the knob sends steps, not a command of its own
}

TEST(LkKeyTable, PcKeysMapOnlyAsTheirKindOfKey)
{
    // Function keys, editing keys, arrows, Esc and both Enters.
    EXPECT_EQ(lk::KeyForPcKey(Qt::Key_F1, false), 1014);
    EXPECT_EQ(lk::KeyForPcKey(Qt::Key_F7, false), 1020);
    EXPECT_EQ(lk::KeyForPcKey(Qt::Key_F8, false), 0);
    EXPECT_EQ(lk::KeyForPcKey(Qt::Key_Backspace, false), 1021);
    EXPECT_EQ(lk::KeyForPcKey(Qt::Key_Delete, false), 1041);
    EXPECT_EQ(lk::KeyForPcKey(Qt::Key_Escape, false), 1013);
    EXPECT_EQ(lk::KeyForPcKey(Qt::Key_Return, false), 1042);
    EXPECT_EQ(lk::KeyForPcKey(Qt::Key_Enter, true), 1042);
    EXPECT_EQ(lk::KeyForPcKey(Qt::Key_Up, false), 1043);
    EXPECT_EQ(lk::KeyForPcKey(Qt::Key_Right, false), 1044);
    EXPECT_EQ(lk::KeyForPcKey(Qt::Key_Down, false), 1045);
    EXPECT_EQ(lk::KeyForPcKey(Qt::Key_Left, false), 1046);
    // Digits and the decimal point only from the numeric pad.
    EXPECT_EQ(lk::KeyForPcKey(Qt::Key_7, true), 1035);
    EXPECT_EQ(lk::KeyForPcKey(Qt::Key_0, true), 1039);
    EXPECT_EQ(lk::KeyForPcKey(Qt::Key_Period, true), 1038);
    EXPECT_EQ(lk::KeyForPcKey(Qt::Key_Comma, true), 1038);
    EXPECT_EQ(lk::KeyForPcKey(Qt::Key_7, false), 0);
    EXPECT_EQ(lk::KeyForPcKey(Qt::Key_Period, false), 0);
    EXPECT_EQ(lk::KeyForPcKey(Qt::Key_Comma, false), 0);
    // With Num Lock off the pad sends arrows and Delete, which act as those keys.
    EXPECT_EQ(lk::KeyForPcKey(Qt::Key_Up, true), 1043);
    EXPECT_EQ(lk::KeyForPcKey(Qt::Key_Delete, true), 1041);
    // Letters and the keys without a shortcut.
    EXPECT_EQ(lk::KeyForPcKey(Qt::Key_A, false), 0);
    EXPECT_EQ(lk::KeyForPcKey(Qt::Key_Tab, false), 0);
    EXPECT_EQ(lk::KeyForPcKey(0, false), 0);
}

TEST(LkModels, TheModelTextEndsAtTheFirstNulOrAtTheReplyEnd)
{
    EXPECT_EQ(lk::ModelTextOf("KL561B"), "KL561B");
    EXPECT_EQ(lk::ModelTextOf(std::string_view("KL512A\0XY", 9)), "KL512A");
    EXPECT_EQ(lk::ModelTextOf(""), "");
}

TEST(LkScale, ScaledFileNameReplacesTheExtension)
{
    const QString path = QStringLiteral("/tmp/x/20150305_140307_250.jpg");
    EXPECT_EQ(lk::ScaledImagePath(path, 1, "/f"), "/tmp/x/20150305_140307_250_085.jpg");
    EXPECT_EQ(lk::ScaledImagePath(path, 2, "/f"), "/tmp/x/20150305_140307_250_070.jpg");
    EXPECT_TRUE(lk::ScaledImagePath(path, 0, "/f").isEmpty());
    // Four characters exactly leave nothing of the name; fewer put the suffix in the
    // private folder instead of the current directory.
    EXPECT_EQ(lk::ScaledImagePath("a.jp", 2, "/f"), "_070.jpg");
    EXPECT_EQ(lk::ScaledImagePath("", 1, "/priv"), "/priv/_085.jpg");
    EXPECT_EQ(lk::ScaledImagePath("abc", 2, "/priv"), "/priv/_070.jpg");
}

TEST(LkScale, ClicksConvertTruncatedAndClamped)
{
    EXPECT_EQ(lk::ClickToInstrument(0, 0, 0), QPoint(0, 0));
    EXPECT_EQ(lk::ClickToInstrument(799, 599, 0), QPoint(799, 599));
    // 85 %: 679 / 0.85000002 = 798.8 and 509 / 0.85000002 = 598.8.
    EXPECT_EQ(lk::ClickToInstrument(679, 509, 1), QPoint(798, 598));
    EXPECT_EQ(lk::ClickToInstrument(17, 17, 1), QPoint(19, 19));
    // 70 %: 7 / 0.69999999 is just above 10.
    EXPECT_EQ(lk::ClickToInstrument(7, 7, 2), QPoint(10, 10));
    EXPECT_EQ(lk::ClickToInstrument(558, 418, 2), QPoint(797, 597));
    // Offsets beyond the picture are limited to the instrument's screen.
    EXPECT_EQ(lk::ClickToInstrument(700, 600, 1), QPoint(800, 600));
    EXPECT_EQ(lk::ClickToInstrument(-5, -1, 2), QPoint(0, 0));
    EXPECT_EQ(lk::ClickToInstrument(5000, 5000, 0), QPoint(800, 600));
}

TEST(LkModels, EveryModelOfTheTableFallsIntoItsGroup)
{
    const std::pair<const char *, int> table[] = {
        {"QX4301B", 2}, {"QX4302B", 2}, {"QX4303A", 2}, {"QX4304B", 2}, {"KL4301B", 2},
        {"KL4302B", 2}, {"KL4304B", 2}, {"MW310", 2},   {"QX512A", 4},  {"KL512A", 4},
        {"QX513A", 4},  {"KL513A", 4},  {"QX514A", 4},  {"KL514A", 4},  {"QX515A", 4},
        {"KL515A", 4},  {"KL561A", 6},  {"KL562A", 6},  {"KL564A", 6},  {"KL561B", 6},
        {"KL562B", 6},  {"KL564B", 6},  {"KL512B", 6},  {"KL513B", 6},  {"KL514B", 6},
        {"KL515B", 6},  {"QX538A", 3},  {"KL538A", 3},  {"QX535C", 5},  {"KL535C", 5},
        {"QX536C", 5},  {"KL536C", 5},  {"MW4000C", 5}, {"B817C", 5},   {"QX537C", 5},
        {"KL537C", 5},  {"QX538C", 5},  {"KL538C", 5},
    };
    for (const auto &[model, group] : table)
        EXPECT_EQ(lk::ModelGroupOf(model), group) << model;
}

TEST(LkModels, OnlyTheWholeExactTextMatches)
{
    for (const char *text : {"kl561b", "Kl561B", "KL561B ", " KL561B", "KL561B\n", "KL561",
                             "KL561BX", "KL561B\r\n", "", "MW31", "MW3100", "B817c"})
        EXPECT_EQ(lk::ModelGroupOf(text), 0) << '"' << text << '"';
    // A NUL inside the view is part of the text, not its end.
    EXPECT_EQ(lk::ModelGroupOf(std::string_view("KL561B\0", 7)), 0);
}
