#include "ArtLayout.h"

#include <Qt>

#include <algorithm>
#include <cmath>

namespace res::layout {

namespace {

using S = KeyStyle;
using H = KeyShape;

constexpr KkcKey kKkcKeys[] = {
    {1073, "Mode", "KEYP:MODE", 23, 35, 65, 47, {65, 47}, {0, 0}, false, S::Function, H::Rounded},
    {1074,
     "Setup",
     "KEYP:SETUP",
     23,
     115,
     65,
     47,
     {65, 47},
     {0, 0},
     false,
     S::Function,
     H::Rounded},
    {1075,
     "Favorite",
     "KEYP:FAV",
     23,
     195,
     65,
     47,
     {65, 47},
     {0, 0},
     false,
     S::Function,
     H::Rounded},
    {1076,
     "QuickSave",
     "KEYP:QSAVE",
     23,
     275,
     65,
     47,
     {65, 47},
     {0, 0},
     false,
     S::Function,
     H::Rounded},
    {1077,
     "Save/Load",
     "KEYP:SL",
     23,
     355,
     65,
     47,
     {65, 47},
     {0, 0},
     false,
     S::Function,
     H::Rounded},
    {1078, "Cal", "KEYP:CAL", 23, 435, 65, 47, {65, 47}, {0, 0}, false, S::Function, H::Rounded},
    {1079,
     "Marker",
     "KEYP:MARK",
     935,
     35,
     65,
     47,
     {65, 47},
     {0, 0},
     false,
     S::Function,
     H::Rounded},
    {1080, "Peak", "KEYP:PEAK", 935, 115, 65, 47, {65, 47}, {0, 0}, false, S::Function, H::Rounded},
    {1081,
     "Trace",
     "KEYP:TRACE",
     935,
     195,
     65,
     47,
     {65, 47},
     {0, 0},
     false,
     S::Function,
     H::Rounded},
    {1082,
     "Limit",
     "KEYP:LIMIT",
     935,
     275,
     65,
     47,
     {65, 47},
     {0, 0},
     false,
     S::Function,
     H::Rounded},
    {1083, "Hold", "KEYP:HOLD", 935, 355, 65, 47, {65, 47}, {0, 0}, false, S::Function, H::Rounded},
    {1084,
     "AutoSave",
     "KEYP:AUTO",
     935,
     435,
     65,
     47,
     {65, 47},
     {0, 0},
     false,
     S::Function,
     H::Rounded},
    {1085,
     "1",
     "KEYP:NUM1",
     122,
     517,
     60,
     40,
     {60, 40},
     {Qt::Key_1, 0},
     true,
     S::Numeric,
     H::Rounded},
    {1086,
     "2",
     "KEYP:NUM2",
     232,
     517,
     60,
     40,
     {60, 40},
     {Qt::Key_2, 0},
     true,
     S::Numeric,
     H::Rounded},
    {1087,
     "3",
     "KEYP:NUM3",
     342,
     517,
     60,
     40,
     {60, 40},
     {Qt::Key_3, 0},
     true,
     S::Numeric,
     H::Rounded},
    {1088,
     "4",
     "KEYP:NUM4",
     122,
     570,
     60,
     40,
     {60, 40},
     {Qt::Key_4, 0},
     true,
     S::Numeric,
     H::Rounded},
    {1089,
     "5",
     "KEYP:NUM5",
     232,
     570,
     60,
     40,
     {60, 40},
     {Qt::Key_5, 0},
     true,
     S::Numeric,
     H::Rounded},
    {1090,
     "6",
     "KEYP:NUM6",
     342,
     570,
     60,
     40,
     {60, 40},
     {Qt::Key_6, 0},
     true,
     S::Numeric,
     H::Rounded},
    {1091,
     "7",
     "KEYP:NUM7",
     122,
     623,
     60,
     40,
     {60, 40},
     {Qt::Key_7, 0},
     true,
     S::Numeric,
     H::Rounded},
    {1092,
     "8",
     "KEYP:NUM8",
     232,
     623,
     60,
     40,
     {60, 40},
     {Qt::Key_8, 0},
     true,
     S::Numeric,
     H::Rounded},
    {1093,
     "9",
     "KEYP:NUM9",
     342,
     623,
     60,
     40,
     {60, 40},
     {Qt::Key_9, 0},
     true,
     S::Numeric,
     H::Rounded},
    {1094,
     "0",
     "KEYP:NUM0",
     452,
     517,
     60,
     40,
     {60, 40},
     {Qt::Key_0, 0},
     true,
     S::Numeric,
     H::Rounded},
    {1095,
     ".",
     "KEYP:JUM",
     452,
     570,
     60,
     40,
     {60, 40},
     {Qt::Key_Period, 0},
     true,
     S::Numeric,
     H::Rounded},
    {1096,
     "ESC",
     "KEYP:ESC",
     562,
     517,
     60,
     40,
     {60, 40},
     {Qt::Key_Escape, 0},
     false,
     S::Escape,
     H::Rounded},
    {1097,
     "Enter",
     "KEYP:ENTR",
     452,
     619,
     230,
     40,
     {230, 40},
     {Qt::Key_Return, 0},
     false,
     S::Enter,
     H::Rounded},
    {1098,
     "+/-",
     "KEYP:BUHO",
     562,
     570,
     60,
     40,
     {60, 40},
     {Qt::Key_Backspace, Qt::Key_Delete},
     false,
     S::Numeric,
     H::Rounded},
    {1099,
     "\u25B2",
     "KEYP:UP",
     722,
     554,
     10,
     10,
     {55, 40},
     {Qt::Key_Up, 0},
     false,
     S::Arrow,
     H::Rounded},
    {1100,
     "\u25BC",
     "KEYP:DOWN",
     722,
     609,
     55,
     40,
     {55, 40},
     {Qt::Key_Down, 0},
     false,
     S::Arrow,
     H::Rounded},
};

using C = LkFaceClass;

// Layout order. "KEYP:RIGH" has no final T: the instrument expects it so.
constexpr LkKey kLkKeys[] = {
    {1013, "ESC", nullptr, "KEYP:ESC", Qt::Key_Escape, false, 902, 38, C::EscPrev, S::Escape,
     H::Rounded},
    {1014, "\u25C0", nullptr, "KEYP:CUS1", Qt::Key_F1, false, 906, 108, C::Soft, S::Soft,
     H::Rounded},
    {1015, "\u25C0", nullptr, "KEYP:CUS2", Qt::Key_F2, false, 906, 186, C::Soft, S::Soft,
     H::Rounded},
    {1016, "\u25C0", nullptr, "KEYP:CUS3", Qt::Key_F3, false, 906, 263, C::Soft, S::Soft,
     H::Rounded},
    {1017, "\u25C0", nullptr, "KEYP:CUS4", Qt::Key_F4, false, 906, 338, C::Soft, S::Soft,
     H::Rounded},
    {1018, "\u25C0", nullptr, "KEYP:CUS5", Qt::Key_F5, false, 906, 417, C::Soft, S::Soft,
     H::Rounded},
    {1019, "\u25C0", nullptr, "KEYP:CUS6", Qt::Key_F6, false, 906, 493, C::Soft, S::Soft,
     H::Rounded},
    {1020, "\u25C0", nullptr, "KEYP:CUS7", Qt::Key_F7, false, 906, 571, C::Soft, S::Soft,
     H::Rounded},
    {1021, "Prev", nullptr, "KEYP:PREV", Qt::Key_Backspace, false, 902, 646, C::EscPrev,
     S::Function, H::Rounded},
    {1022, "Mode", nullptr, "KEYP:MODE", 0, false, 38, 705, C::ModePeak, S::Function, H::Pill},
    {1023, "Freq/Dist", nullptr, "KEYP:FREQ", 0, false, 156, 705, C::Function, S::Function,
     H::Rounded},
    {1024, "Amp/Scale", nullptr, "KEYP:AMP", 0, false, 274, 705, C::Function, S::Function,
     H::Rounded},
    {1025, "BW/AVG", nullptr, "KEYP:BW", 0, false, 391, 705, C::Function, S::Function, H::Rounded},
    {1026, "Trace/Display", nullptr, "KEYP:TRAC", 0, false, 508, 705, C::Function, S::Function,
     H::Rounded},
    {1027, "Marker", nullptr, "KEYP:MARK", 0, false, 626, 705, C::Function, S::Function,
     H::Rounded},
    {1028, "Peak", nullptr, "KEYP:PEAK", 0, false, 743, 705, C::ModePeak, S::Function, H::Pill},
    {1046, "\u25C0", nullptr, "KEYP:LEFT", Qt::Key_Left, false, 971, 177, C::LeftRight, S::Arrow,
     H::ArcLeft},
    {1043, "\u25B2", nullptr, "KEYP:UP", Qt::Key_Up, false, 1086, 59, C::UpDown, S::Arrow,
     H::ArcUp},
    {1045, "\u25BC", nullptr, "KEYP:DOWN", Qt::Key_Down, false, 1088, 306, C::UpDown, S::Arrow,
     H::ArcDown},
    {1044, "\u25B6", nullptr, "KEYP:RIGH", Qt::Key_Right, false, 1213, 177, C::LeftRight, S::Arrow,
     H::ArcRight},
    {1029, "1", "Measure", "KEYP:NUM1", Qt::Key_1, true, 1005, 409, C::KeyTall, S::Numeric,
     H::Rounded},
    {1030, "2", "Trigger", "KEYP:NUM2", Qt::Key_2, true, 1096, 416, C::KeyShort, S::Numeric,
     H::Pill},
    {1031, "3", "System", "KEYP:NUM3", Qt::Key_3, true, 1186, 409, C::KeyTall, S::Numeric,
     H::Rounded},
    {1032, "4", "Measure Setup", "KEYP:NUM4", Qt::Key_4, true, 1005, 474, C::KeyTall, S::Numeric,
     H::Rounded},
    {1033, "5", nullptr, "KEYP:NUM5", Qt::Key_5, true, 1096, 481, C::KeyShort, S::Numeric, H::Pill},
    {1034, "6", "Preset", "KEYP:NUM6", Qt::Key_6, true, 1186, 474, C::KeyTall, S::Numeric,
     H::Rounded},
    {1035, "7", "Save/Load", "KEYP:NUM7", Qt::Key_7, true, 1005, 539, C::KeyTall, S::Numeric,
     H::Rounded},
    {1036, "8", nullptr, "KEYP:NUM8", Qt::Key_8, true, 1096, 546, C::KeyShort, S::Numeric, H::Pill},
    {1037, "9", "Hold", "KEYP:NUM9", Qt::Key_9, true, 1186, 539, C::KeyTall, S::Numeric,
     H::Rounded},
    {1038, ".", "Sweep", "KEYP:JUM", Qt::Key_Period, true, 1005, 604, C::KeyTall, S::Numeric,
     H::Rounded},
    {1039, "0", "Help", "KEYP:NUM0", Qt::Key_0, true, 1096, 613, C::KeyShort, S::Numeric, H::Pill},
    {1040, "+/-", "Limit", "KEYP:BUHO", 0, false, 1186, 604, C::KeyTall, S::Numeric, H::Rounded},
    {1041, "Del", nullptr, "KEYP:DEL", Qt::Key_Delete, false, 1005, 669, C::KeyTall, S::Function,
     H::Rounded},
    {1042, "Enter", nullptr, "KEYP:ENTR", Qt::Key_Return, false, 1096, 669, C::Enter, S::Enter,
     H::Rounded},
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

template <typename Key>
int PcKeyIn(const Key &key, int qtKey);

template <>
int PcKeyIn(const KkcKey &key, int qtKey)
{
    return std::find(std::begin(key.pcKeys), std::end(key.pcKeys), qtKey) != std::end(key.pcKeys);
}

template <>
int PcKeyIn(const LkKey &key, int qtKey)
{
    return key.pcKey == qtKey;
}

template <typename Key>
int KeyForPcKey(std::span<const Key> keys, int qtKey, bool keypad)
{
    if (qtKey == Qt::Key_Enter)
        qtKey = Qt::Key_Return;
    if (keypad && qtKey == Qt::Key_Comma)
        qtKey = Qt::Key_Period;
    if (qtKey == 0)
        return 0;
    for (const Key &key : keys) {
        if (PcKeyIn(key, qtKey))
            return key.keypadOnly && !keypad ? 0 : key.id;
    }
    return 0;
}

int KkcKeyForPcKey(int qtKey, bool keypad)
{
    return KeyForPcKey(KkcKeys(), qtKey, keypad);
}

int LkKeyForPcKey(int qtKey, bool keypad)
{
    return KeyForPcKey(LkKeys(), qtKey, keypad);
}

} // namespace res::layout
