#include "ArtLayout.h"

#include <algorithm>
#include <cmath>

namespace res::layout {

namespace {

using S = KeyStyle;
using H = KeyShape;

constexpr KkcKey kKkcKeys[] = {
    {1073, "Mode", 23, 35, 65, 47, S::Function, H::Rounded},
    {1074, "Setup", 23, 115, 65, 47, S::Function, H::Rounded},
    {1075, "Favorite", 23, 195, 65, 47, S::Function, H::Rounded},
    {1076, "QuickSave", 23, 275, 65, 47, S::Function, H::Rounded},
    {1077, "Save/Load", 23, 355, 65, 47, S::Function, H::Rounded},
    {1078, "Cal", 23, 435, 65, 47, S::Function, H::Rounded},
    {1079, "Marker", 935, 35, 65, 47, S::Function, H::Rounded},
    {1080, "Peak", 935, 115, 65, 47, S::Function, H::Rounded},
    {1081, "Trace", 935, 195, 65, 47, S::Function, H::Rounded},
    {1082, "Limit", 935, 275, 65, 47, S::Function, H::Rounded},
    {1083, "Hold", 935, 355, 65, 47, S::Function, H::Rounded},
    {1084, "AutoSave", 935, 435, 65, 47, S::Function, H::Rounded},
    {1085, "1", 122, 517, 60, 40, S::Numeric, H::Rounded},
    {1086, "2", 232, 517, 60, 40, S::Numeric, H::Rounded},
    {1087, "3", 342, 517, 60, 40, S::Numeric, H::Rounded},
    {1088, "4", 122, 570, 60, 40, S::Numeric, H::Rounded},
    {1089, "5", 232, 570, 60, 40, S::Numeric, H::Rounded},
    {1090, "6", 342, 570, 60, 40, S::Numeric, H::Rounded},
    {1091, "7", 122, 623, 60, 40, S::Numeric, H::Rounded},
    {1092, "8", 232, 623, 60, 40, S::Numeric, H::Rounded},
    {1093, "9", 342, 623, 60, 40, S::Numeric, H::Rounded},
    {1094, "0", 452, 517, 60, 40, S::Numeric, H::Rounded},
    {1095, ".", 452, 570, 60, 40, S::Numeric, H::Rounded},
    {1096, "ESC", 562, 517, 60, 40, S::Escape, H::Rounded},
    {1097, "Enter", 452, 619, 230, 40, S::Enter, H::Rounded},
    {1098, "+/-", 562, 570, 60, 40, S::Numeric, H::Rounded},
    {1099, "\u25B2", 722, 554, 55, 40, S::Arrow, H::Rounded},
    {1100, "\u25BC", 722, 609, 55, 40, S::Arrow, H::Rounded},
};

using C = LkFaceClass;

constexpr LkKey kLkKeys[] = {
    {1013, "ESC", nullptr, 902, 38, C::EscPrev, S::Escape, H::Rounded},
    {1014, "\u25C0", nullptr, 906, 108, C::Soft, S::Soft, H::Rounded},
    {1015, "\u25C0", nullptr, 906, 186, C::Soft, S::Soft, H::Rounded},
    {1016, "\u25C0", nullptr, 906, 263, C::Soft, S::Soft, H::Rounded},
    {1017, "\u25C0", nullptr, 906, 338, C::Soft, S::Soft, H::Rounded},
    {1018, "\u25C0", nullptr, 906, 417, C::Soft, S::Soft, H::Rounded},
    {1019, "\u25C0", nullptr, 906, 493, C::Soft, S::Soft, H::Rounded},
    {1020, "\u25C0", nullptr, 906, 571, C::Soft, S::Soft, H::Rounded},
    {1021, "Prev", nullptr, 902, 646, C::EscPrev, S::Function, H::Rounded},
    {1022, "Mode", nullptr, 38, 705, C::ModePeak, S::Function, H::Pill},
    {1023, "Freq/Dist", nullptr, 156, 705, C::Function, S::Function, H::Rounded},
    {1024, "Amp/Scale", nullptr, 274, 705, C::Function, S::Function, H::Rounded},
    {1025, "BW/AVG", nullptr, 391, 705, C::Function, S::Function, H::Rounded},
    {1026, "Trace/Display", nullptr, 508, 705, C::Function, S::Function, H::Rounded},
    {1027, "Marker", nullptr, 626, 705, C::Function, S::Function, H::Rounded},
    {1028, "Peak", nullptr, 743, 705, C::ModePeak, S::Function, H::Pill},
    {1029, "1", "Measure", 1005, 409, C::KeyTall, S::Numeric, H::Rounded},
    {1030, "2", "Trigger", 1096, 416, C::KeyShort, S::Numeric, H::Pill},
    {1031, "3", "System", 1186, 409, C::KeyTall, S::Numeric, H::Rounded},
    {1032, "4", "Measure Setup", 1005, 474, C::KeyTall, S::Numeric, H::Rounded},
    {1033, "5", nullptr, 1096, 481, C::KeyShort, S::Numeric, H::Pill},
    {1034, "6", "Preset", 1186, 474, C::KeyTall, S::Numeric, H::Rounded},
    {1035, "7", "Save/Load", 1005, 539, C::KeyTall, S::Numeric, H::Rounded},
    {1036, "8", nullptr, 1096, 546, C::KeyShort, S::Numeric, H::Pill},
    {1037, "9", "Hold", 1186, 539, C::KeyTall, S::Numeric, H::Rounded},
    {1038, ".", "Sweep", 1005, 604, C::KeyTall, S::Numeric, H::Rounded},
    {1039, "0", "Help", 1096, 613, C::KeyShort, S::Numeric, H::Pill},
    {1040, "+/-", "Limit", 1186, 604, C::KeyTall, S::Numeric, H::Rounded},
    {1041, "Del", nullptr, 1005, 669, C::KeyTall, S::Function, H::Rounded},
    {1042, "Enter", nullptr, 1096, 669, C::Enter, S::Enter, H::Rounded},
    {1043, "\u25B2", nullptr, 1086, 59, C::UpDown, S::Arrow, H::ArcUp},
    {1044, "\u25B6", nullptr, 1213, 177, C::LeftRight, S::Arrow, H::ArcRight},
    {1045, "\u25BC", nullptr, 1088, 306, C::UpDown, S::Arrow, H::ArcDown},
    {1046, "\u25C0", nullptr, 971, 177, C::LeftRight, S::Arrow, H::ArcLeft},
};

// Per class: 100 %, 85 %, 70 %.
struct FaceSizes
{
    LkFaceClass cls;
    std::array<QSize, kScaleCount> size;
};

constexpr FaceSizes kLkFaceSizes[] = {
    {C::EscPrev, {QSize{59, 42}, QSize{50, 36}, QSize{41, 29}}},
    {C::Soft, {QSize{52, 44}, QSize{44, 37}, QSize{36, 31}}},
    {C::ModePeak, {QSize{98, 32}, QSize{83, 27}, QSize{69, 22}}},
    {C::Function, {QSize{98, 36}, QSize{83, 31}, QSize{69, 25}}},
    {C::KeyTall, {QSize{64, 45}, QSize{54, 38}, QSize{45, 32}}},
    {C::KeyShort, {QSize{64, 40}, QSize{54, 34}, QSize{45, 28}}},
    {C::Enter, {QSize{153, 45}, QSize{130, 38}, QSize{107, 32}}},
    {C::UpDown, {QSize{63, 52}, QSize{54, 44}, QSize{44, 36}}},
    {C::LeftRight, {QSize{52, 63}, QSize{44, 54}, QSize{36, 44}}},
};

int ClampScale(int scale)
{
    return (scale >= 0 && scale < kScaleCount) ? scale : 0;
}

} // namespace

std::span<const KkcKey> KkcKeys()
{
    return kKkcKeys;
}

const KkcKey *FindKkcKey(int id)
{
    auto it = std::find_if(std::begin(kKkcKeys), std::end(kKkcKeys),
                           [id](const KkcKey &k) { return k.id == id; });
    return it == std::end(kKkcKeys) ? nullptr : &*it;
}

int ScaleLen(int length100, int scale)
{
    const double s = kScaleFactor[static_cast<size_t>(ClampScale(scale))];
    return static_cast<int>(std::trunc(static_cast<double>(length100) * s));
}

double ScaleReal(double length100, int scale)
{
    return length100 * static_cast<double>(kScaleFactor[static_cast<size_t>(ClampScale(scale))]);
}

QSize LkFaceSize(LkFaceClass cls, int scale)
{
    for (const auto &f : kLkFaceSizes)
        if (f.cls == cls)
            return f.size[static_cast<size_t>(ClampScale(scale))];
    return {};
}

QSize LkButtonSize(LkFaceClass cls, int scale)
{
    const QSize full = LkFaceSize(cls, 0);
    return {ScaleLen(full.width(), scale), ScaleLen(full.height(), scale)};
}

int LkKnobButton(int scale)
{
    return ScaleLen(kLkKnobSize[0], scale);
}

std::span<const LkKey> LkKeys()
{
    return kLkKeys;
}

const LkKey *FindLkKey(int id)
{
    auto it = std::find_if(std::begin(kLkKeys), std::end(kLkKeys),
                           [id](const LkKey &k) { return k.id == id; });
    return it == std::end(kLkKeys) ? nullptr : &*it;
}

QRect LkScreen(int scale)
{
    const double s = kScaleFactor[static_cast<size_t>(ClampScale(scale))];
    const int left = ScaleLen(kLkScreen100.left(), scale);
    const int top = ScaleLen(kLkScreen100.top(), scale);
    const int right = static_cast<int>(std::trunc(kLkScreen100.width() * s + left));
    const int bottom = static_cast<int>(std::trunc(kLkScreen100.height() * s + top));
    return {left, top, right - left, bottom - top};
}

QPoint LkKeyPos(const LkKey &key, int scale)
{
    return {ScaleLen(key.x, scale), ScaleLen(key.y, scale)};
}

QPoint LkKnobPos(int scale)
{
    return {ScaleLen(kLkKnobPos100.x(), scale), ScaleLen(kLkKnobPos100.y(), scale)};
}

} // namespace res::layout
