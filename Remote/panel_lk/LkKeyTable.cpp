#include "LkKeyTable.h"

#include <Qt>

namespace {

using F = LkFaceClass;

// "KEYP:RIGH" has no final T: the instrument expects it so.
constexpr LkKey kKeys[] = {
    {1013, "ESC", "KEYP:ESC", Qt::Key_Escape, false, {902, 38, 59, 42}, F::EscPrev},
    {1014, "\u25C0", "KEYP:CUS1", Qt::Key_F1, false, {906, 108, 52, 44}, F::Soft},
    {1015, "\u25C0", "KEYP:CUS2", Qt::Key_F2, false, {906, 186, 52, 44}, F::Soft},
    {1016, "\u25C0", "KEYP:CUS3", Qt::Key_F3, false, {906, 263, 52, 44}, F::Soft},
    {1017, "\u25C0", "KEYP:CUS4", Qt::Key_F4, false, {906, 338, 52, 44}, F::Soft},
    {1018, "\u25C0", "KEYP:CUS5", Qt::Key_F5, false, {906, 417, 52, 44}, F::Soft},
    {1019, "\u25C0", "KEYP:CUS6", Qt::Key_F6, false, {906, 493, 52, 44}, F::Soft},
    {1020, "\u25C0", "KEYP:CUS7", Qt::Key_F7, false, {906, 571, 52, 44}, F::Soft},
    {1021, "Prev", "KEYP:PREV", Qt::Key_Backspace, false, {902, 646, 59, 42}, F::EscPrev},
    {1022, "Mode", "KEYP:MODE", 0, false, {38, 705, 98, 32}, F::ModePeak},
    {1023, "Freq/Dist", "KEYP:FREQ", 0, false, {156, 705, 98, 36}, F::Function},
    {1024, "Amp/Scale", "KEYP:AMP", 0, false, {274, 705, 98, 36}, F::Function},
    {1025, "BW/AVG", "KEYP:BW", 0, false, {391, 705, 98, 36}, F::Function},
    {1026, "Trace/Display", "KEYP:TRAC", 0, false, {508, 705, 98, 36}, F::Function},
    {1027, "Marker", "KEYP:MARK", 0, false, {626, 705, 98, 36}, F::Function},
    {1028, "Peak", "KEYP:PEAK", 0, false, {743, 705, 98, 32}, F::ModePeak},
    {1046, "\u25C0", "KEYP:LEFT", Qt::Key_Left, false, {971, 177, 52, 63}, F::LeftRight},
    {1043, "\u25B2", "KEYP:UP", Qt::Key_Up, false, {1086, 59, 63, 52}, F::UpDown},
    {1061, "Knob", nullptr, 0, false, {1030, 120, 177, 177}, F::Knob},
    {1045, "\u25BC", "KEYP:DOWN", Qt::Key_Down, false, {1088, 306, 63, 52}, F::UpDown},
    {1044, "\u25B6", "KEYP:RIGH", Qt::Key_Right, false, {1213, 177, 52, 63}, F::LeftRight},
    {1029, "Measure / 1", "KEYP:NUM1", Qt::Key_1, true, {1005, 409, 64, 45}, F::KeyTall},
    {1030, "Trigger / 2", "KEYP:NUM2", Qt::Key_2, true, {1096, 416, 64, 40}, F::KeyShort},
    {1031, "System / 3", "KEYP:NUM3", Qt::Key_3, true, {1186, 409, 64, 45}, F::KeyTall},
    {1032, "Measure Setup / 4", "KEYP:NUM4", Qt::Key_4, true, {1005, 474, 64, 45}, F::KeyTall},
    {1033, "5", "KEYP:NUM5", Qt::Key_5, true, {1096, 481, 64, 40}, F::KeyShort},
    {1034, "Preset / 6", "KEYP:NUM6", Qt::Key_6, true, {1186, 474, 64, 45}, F::KeyTall},
    {1035, "Save/Load / 7", "KEYP:NUM7", Qt::Key_7, true, {1005, 539, 64, 45}, F::KeyTall},
    {1036, "8", "KEYP:NUM8", Qt::Key_8, true, {1096, 546, 64, 40}, F::KeyShort},
    {1037, "Hold / 9", "KEYP:NUM9", Qt::Key_9, true, {1186, 539, 64, 45}, F::KeyTall},
    {1038, "Sweep / .", "KEYP:JUM", Qt::Key_Period, true, {1005, 604, 64, 45}, F::KeyTall},
    {1039, "Help / 0", "KEYP:NUM0", Qt::Key_0, true, {1096, 613, 64, 40}, F::KeyShort},
    {1040, "Limit / +/-", "KEYP:BUHO", 0, false, {1186, 604, 64, 45}, F::KeyTall},
    {1041, "Del", "KEYP:DEL", Qt::Key_Delete, false, {1005, 669, 64, 45}, F::KeyTall},
    {1042, "Enter", "KEYP:ENTR", Qt::Key_Return, false, {1096, 669, 153, 45}, F::Enter},
};

} // namespace

namespace lk {

std::span<const LkKey> Keys()
{
    return kKeys;
}

const LkKey *FindKey(int id)
{
    for (const LkKey &key : kKeys)
        if (key.id == id)
            return &key;
    return nullptr;
}

int KeyForPcKey(int qtKey, bool keypad)
{
    // Both Enter keys stand for the panel's Enter; some layouts give the pad a comma.
    if (qtKey == Qt::Key_Enter)
        qtKey = Qt::Key_Return;
    if (keypad && qtKey == Qt::Key_Comma)
        qtKey = Qt::Key_Period;
    for (const LkKey &key : kKeys) {
        if (key.pcKey == 0 || key.pcKey != qtKey)
            continue;
        if (key.keypadOnly && !keypad)
            return 0;
        return key.id;
    }
    return 0;
}

} // namespace lk
