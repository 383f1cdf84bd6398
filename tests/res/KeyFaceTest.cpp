// Key faces must survive being cut to their non-white outline: white only outside the key,
// never inside it, and the states must look different.
#include "ArtProbe.h"
#include "Resources.h"

#include <gtest/gtest.h>
#include <map>
#include <set>
#include <string>

using namespace res;
using namespace artprobe;

namespace {

struct FaceRef
{
    std::string name;
    int id;
};

std::vector<FaceRef> AllKeyFaces()
{
    std::vector<FaceRef> faces;
    std::set<int> seen;
    const char *names[] = {"normal", "pressed", "focus", "disabled"};
    auto add = [&](const std::string &name, int id) {
        if (seen.insert(id).second)
            faces.push_back({name, id});
    };
    for (int control = 1073; control <= 1100; ++control)
        for (int f = 0; f < 4; ++f)
            add("kkc " + std::to_string(control) + " " + names[f],
                KkcKeyFace(control, static_cast<Face>(f)));
    for (int scale = 0; scale < 3; ++scale)
        for (int control = 1013; control <= 1046; ++control)
            for (int f = 0; f < 4; ++f)
                add("lk " + std::to_string(control) + " scale " + std::to_string(scale) + " " +
                        names[f],
                    LkKeyFace(control, scale, static_cast<Face>(f)));
    return faces;
}

} // namespace

TEST(KeyFace, WhiteOnlyOutsideTheKeyAndTheKeyFillsItsSlot)
{
    for (const FaceRef &face : AllKeyFaces()) {
        const QImage img = LoadBitmap(face.id);
        ASSERT_FALSE(img.isNull()) << face.name;
        const int w = img.width();
        const int h = img.height();
        // Rounded keys leave their corners to the panel behind them.
        EXPECT_TRUE(IsPureWhite(img.pixel(0, 0))) << face.name;
        EXPECT_TRUE(IsPureWhite(img.pixel(w - 1, 0))) << face.name;
        EXPECT_TRUE(IsPureWhite(img.pixel(0, h - 1))) << face.name;
        EXPECT_TRUE(IsPureWhite(img.pixel(w - 1, h - 1))) << face.name;
        EXPECT_FALSE(IsPureWhite(img.pixel(w / 2, h / 2))) << face.name;
        // A white legend or highlight inside would punch a hole through the button.
        EXPECT_EQ(EnclosedWhitePixels(img), 0) << face.name;
        EXPECT_GT(OpaqueShare(img), 0.75) << face.name;
    }
}

TEST(KeyFace, PressedIsDarkerAndDisabledIsDimmer)
{
    auto check = [](const std::string &name, int normalId, int pressedId, int disabledId) {
        const QImage normal = LoadBitmap(normalId);
        const QImage pressed = LoadBitmap(pressedId);
        const QImage disabled = LoadBitmap(disabledId);
        EXPECT_NE(normal, pressed) << name;
        EXPECT_NE(normal, disabled) << name;
        EXPECT_NE(pressed, disabled) << name;
        const Stats n = OpaqueStats(normal);
        const Stats p = OpaqueStats(pressed);
        const Stats d = OpaqueStats(disabled);
        EXPECT_LT(p.meanLuma, n.meanLuma - 2.0) << name;
        // Greyed: less contrast between legend and key.
        EXPECT_LT(d.stdLuma, n.stdLuma * 0.85) << name;
    };
    for (int control = 1073; control <= 1100; ++control)
        check("kkc " + std::to_string(control), KkcKeyFace(control, Face::Normal),
              KkcKeyFace(control, Face::Pressed), KkcKeyFace(control, Face::Disabled));
    for (int scale = 0; scale < 3; ++scale)
        for (int control = 1013; control <= 1046; ++control)
            check("lk " + std::to_string(control) + " scale " + std::to_string(scale),
                  LkKeyFace(control, scale, Face::Normal), LkKeyFace(control, scale, Face::Pressed),
                  LkKeyFace(control, scale, Face::Disabled));
}

TEST(KeyFace, PressedLegendSinksIntoTheKey)
{
    // Light legends on dark keys: the legend moves down when the key is pushed.
    auto legend = [](QRgb px) { return !IsPureWhite(px) && Luma(px) > 170; };
    for (int control : {1073, 1079, 1084, 1097}) {
        int nCount = 0, pCount = 0;
        const QPointF n = Centroid(LoadBitmap(KkcKeyFace(control, Face::Normal)), legend, &nCount);
        const QPointF p = Centroid(LoadBitmap(KkcKeyFace(control, Face::Pressed)), legend, &pCount);
        ASSERT_GT(nCount, 10) << control << ": no legend drawn";
        ASSERT_GT(pCount, 10) << control;
        EXPECT_GT(p.y(), n.y() + 0.5) << control;
    }
}

TEST(KeyFace, LegendsTellTheKeysApart)
{
    // Keys of one size and style differ only by their legend, so equal pictures mean a legend
    // went missing.
    std::map<std::string, std::vector<int>> groups;
    for (int control = 1073; control <= 1084; ++control)
        groups["kkc function"].push_back(KkcKeyFace(control, Face::Normal));
    for (int control : {1085, 1086, 1087, 1088, 1089, 1090, 1091, 1092, 1093, 1094, 1095, 1098})
        groups["kkc numeric"].push_back(KkcKeyFace(control, Face::Normal));
    for (int scale = 0; scale < 3; ++scale) {
        const std::string tag = " scale " + std::to_string(scale);
        for (int control : {1029, 1031, 1032, 1034, 1035, 1037, 1038, 1040})
            groups["lk tall" + tag].push_back(LkKeyFace(control, scale, Face::Normal));
        for (int control = 1023; control <= 1027; ++control)
            groups["lk function" + tag].push_back(LkKeyFace(control, scale, Face::Normal));
        for (int control : {1043, 1045})
            groups["lk up/down" + tag].push_back(LkKeyFace(control, scale, Face::Normal));
    }
    for (const auto &[name, ids] : groups)
        for (size_t i = 0; i < ids.size(); ++i)
            for (size_t j = i + 1; j < ids.size(); ++j)
                EXPECT_NE(LoadBitmap(ids[i]), LoadBitmap(ids[j]))
                    << name << ": " << ids[i] << " and " << ids[j];
}

TEST(KeyFace, SoftKeyFocusIsMarked)
{
    for (int scale = 0; scale < 3; ++scale) {
        const QImage normal = LoadBitmap(LkKeyFace(1014, scale, Face::Normal));
        const QImage focus = LoadBitmap(LkKeyFace(1014, scale, Face::Focus));
        ASSERT_EQ(normal.size(), focus.size());
        EXPECT_NE(normal, focus) << scale;
        // The outline stays the same, so the button's window does not change shape.
        for (int y = 0; y < normal.height(); ++y)
            for (int x = 0; x < normal.width(); ++x)
                ASSERT_EQ(IsPureWhite(normal.pixel(x, y)), IsPureWhite(focus.pixel(x, y)))
                    << scale << " at " << x << "," << y;
    }
}

// At 85 % and 70 % a button can be a pixel smaller than its face; the key must still show
// whole, with nothing of it cut off at the button's right or bottom edge.
TEST(KeyFace, KeysStayWholeInsideTheirScaledButtons)
{
    struct Button
    {
        int first, last;
        QSize size[3];
    };
    const Button buttons[] = {
        {1013, 1013, {{59, 42}, {50, 35}, {41, 29}}},
        {1021, 1021, {{59, 42}, {50, 35}, {41, 29}}},
        {1014, 1020, {{52, 44}, {44, 37}, {36, 30}}},
        {1022, 1022, {{98, 32}, {83, 27}, {68, 22}}},
        {1028, 1028, {{98, 32}, {83, 27}, {68, 22}}},
        {1023, 1027, {{98, 36}, {83, 30}, {68, 25}}},
        {1029, 1029, {{64, 45}, {54, 38}, {44, 31}}},
        {1031, 1032, {{64, 45}, {54, 38}, {44, 31}}},
        {1034, 1035, {{64, 45}, {54, 38}, {44, 31}}},
        {1037, 1038, {{64, 45}, {54, 38}, {44, 31}}},
        {1040, 1041, {{64, 45}, {54, 38}, {44, 31}}},
        {1030, 1030, {{64, 40}, {54, 34}, {44, 27}}},
        {1033, 1033, {{64, 40}, {54, 34}, {44, 27}}},
        {1036, 1036, {{64, 40}, {54, 34}, {44, 27}}},
        {1039, 1039, {{64, 40}, {54, 34}, {44, 27}}},
        {1042, 1042, {{153, 45}, {130, 38}, {107, 31}}},
        {1043, 1043, {{63, 52}, {53, 44}, {44, 36}}},
        {1045, 1045, {{63, 52}, {53, 44}, {44, 36}}},
        {1044, 1044, {{52, 63}, {44, 53}, {36, 44}}},
        {1046, 1046, {{52, 63}, {44, 53}, {36, 44}}},
    };
    for (const Button &b : buttons)
        for (int control = b.first; control <= b.last; ++control)
            for (int scale = 0; scale < 3; ++scale)
                for (int f = 0; f < 4; ++f) {
                    const QImage img = LoadBitmap(LkKeyFace(control, scale, static_cast<Face>(f)));
                    const QSize shown = b.size[scale];
                    ASSERT_TRUE(img.width() >= shown.width() && img.height() >= shown.height());
                    int cut = 0;
                    for (int y = 0; y < img.height(); ++y)
                        for (int x = 0; x < img.width(); ++x)
                            if ((x >= shown.width() || y >= shown.height()) &&
                                !IsPureWhite(img.pixel(x, y)))
                                ++cut;
                    EXPECT_EQ(cut, 0) << control << " at scale " << scale << " face " << f;
                    EXPECT_TRUE(IsPureWhite(img.pixel(shown.width() - 1, shown.height() - 1)))
                        << control << " at scale " << scale << " face " << f;
                }
}
