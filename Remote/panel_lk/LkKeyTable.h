// The keys and the knob of the LK panel: one row each, in the order the layout step places
// them. Positions and sizes are client pixels at 100 %; the other scales are derived by
// LkScale.
#pragma once

#include <QRect>
#include <span>

// Size classes of the face pictures; every key of a class has faces of the same size.
enum class LkFaceClass
{
    EscPrev,
    Soft,
    ModePeak,
    Function,
    KeyTall,
    KeyShort,
    Enter,
    UpDown,
    LeftRight,
    Knob
};

struct LkKey
{
    int id;
    const char *label;   // the key's legend (UTF-8)
    const char *command; // text sent when pressed; nullptr for the knob, which sends steps
    int pcKey;           // Qt::Key standing for the key, 0 when none
    bool keypadOnly;     // pcKey counts only when it comes from the numeric pad
    QRect rect100;
    LkFaceClass face;
};

namespace lk {

inline constexpr int kFirstKey = 1013;
inline constexpr int kLastKey = 1046;
inline constexpr int kFirstSoftKey = 1014;
inline constexpr int kLastSoftKey = 1020;
inline constexpr int kKnob = 1061;
inline constexpr int kKeyCount = 34;

// 34 keys and the knob, in layout order.
std::span<const LkKey> Keys();
// The row of a key or of the knob; nullptr for any other ID.
const LkKey *FindKey(int id);
// The key a PC key stands for, 0 when none. `keypad` tells whether the key came from the
// numeric pad (with Num Lock off the pad sends arrows and Delete, which count as those keys).
int KeyForPcKey(int qtKey, bool keypad);

} // namespace lk
