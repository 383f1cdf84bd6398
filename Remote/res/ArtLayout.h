// The two front panels as tables: one row per key with where it sits, how big its face is at
// each display scale, what is printed on it, the command it sends and the PC key standing for
// it. The artwork draws from these rows, the panels place their keys and route the keyboard by
// them.
#pragma once

#include <QRect>
#include <QSize>
#include <array>
#include <span>

namespace res::layout {

// The look of a key: decides colours, legend size and outline.
enum class KeyStyle
{
    Function, // dark rubber function key
    Numeric,  // light-grey data-entry key
    Escape,   // amber accent
    Enter,    // blue accent
    Arrow,    // dark key carrying an arrow glyph
    Soft,     // screen-side soft key
};

// Outline of a key face.
enum class KeyShape
{
    Rounded,  // rounded rectangle
    Pill,     // fully rounded ends
    ArcUp,    // segment of the ring around the knob, above it
    ArcDown,  // below the knob
    ArcLeft,  // left of the knob
    ArcRight, // right of the knob
};

// ---------------------------------------------------------------- KKC panel (always 100 %)

inline constexpr QSize kKkcPanelSize{1023, 679};
inline constexpr QRect kKkcScreen{111, 25, 800, 480}; // left, top, width, height
inline constexpr QSize kKkcPlaceholderSize{800, 480};
inline constexpr int kKkcKnobSize = 140;
inline constexpr QPoint kKkcKnobPos{787, 530};
inline constexpr int kKkcFirstKey = 1073;

struct KkcKey
{
    int id;
    const char *legend;  // UTF-8
    const char *command; // text sent when pressed
    int x, y, w, h;      // where the key is placed at start-up
    QSize face;          // its face, whose size the key then takes
    int pcKeys[2];       // Qt::Key values standing for it, 0 when none
    bool keypadOnly;     // the PC keys count only from the numeric pad
    KeyStyle style;
    KeyShape shape;
};

// The up-arrow button is placed 10 x 10 at start-up, but a skinned button always takes the
// size of its face, so its face is 55 x 40 like the down arrow beneath it.
std::span<const KkcKey> KkcKeys();
const KkcKey *FindKkcKey(int id);

// ---------------------------------------------------------------- LK panel (three scales)

inline constexpr int kScaleCount = 3;

// Single-precision factors: 70 % lies just below 0.7, so 800 becomes 559, not 560.
inline constexpr std::array<float, kScaleCount> kScaleFactor{1.0f, 0.85f, 0.7f};
// A 100 % length at a display scale, truncated toward zero.
int ScaleLen(int length100, int scale);
double ScaleReal(double length100, int scale);

inline constexpr std::array<QSize, kScaleCount> kLkPanelSize{QSize{1282, 767}, QSize{1090, 652},
                                                             QSize{897, 537}};
inline constexpr std::array<int, kScaleCount> kLkKnobSize{177, 150, 124};
inline constexpr QRect kLkScreen100{41, 39, 800, 600};
inline constexpr QPoint kLkKnobPos100{1030, 120};
inline constexpr int kLkFirstKey = 1013;
inline constexpr int kLkFirstSoftKey = 1014;
inline constexpr int kLkLastSoftKey = 1020;

// Face size classes; each has its own size at each scale (drawn, not derived by rule).
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
    LeftRight
};

QSize LkFaceSize(LkFaceClass cls, int scale);
// The button a face is shown in: the 100 % face size scaled by the truncating rule, which can
// be a pixel smaller than the face drawn for that scale.
QSize LkButtonSize(LkFaceClass cls, int scale);
int LkKnobButton(int scale);

struct LkKey
{
    int id;
    const char *legend;      // on the key face (UTF-8)
    const char *panelLegend; // printed on the panel above the key, or nullptr
    const char *command;     // text sent when pressed ("KEYP:RIGH" has no final T)
    int pcKey;               // Qt::Key standing for it, 0 when none
    bool keypadOnly;         // pcKey counts only from the numeric pad
    int x, y;                // client position at 100 %
    LkFaceClass cls;
    KeyStyle style;
    KeyShape shape;
};

// In the order the layout step places them (the knob goes right after the up arrow).
std::span<const LkKey> LkKeys();
const LkKey *FindLkKey(int id);
inline constexpr int kLkKnobAfter = 1043;
// The screen rectangle at a scale: left/top truncated, right/bottom from the truncated sums.
QRect LkScreen(int scale);
QPoint LkKeyPos(const LkKey &key, int scale);
QPoint LkKnobPos(int scale);

// The key of a table that a PC key stands for, 0 when none. `keypad` tells whether the key
// came from the numeric pad (with Num Lock off the pad sends arrows and Delete, which count as
// those keys). Both Enter keys count as Return; a pad's comma counts as its decimal point.
int KkcKeyForPcKey(int qtKey, bool keypad);
int LkKeyForPcKey(int qtKey, bool keypad);

} // namespace res::layout
