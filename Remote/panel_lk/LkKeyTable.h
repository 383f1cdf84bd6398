// The keys of the LK panel as the panel uses them: the panel's one table lives with its
// artwork (ArtLayout.h); these are its LK-side names.
#pragma once

#include "ArtLayout.h"

#include <QRect>
#include <span>

using LkKey = res::layout::LkKey;

namespace lk {

inline constexpr int kFirstKey = 1013;
inline constexpr int kLastKey = 1046;
inline constexpr int kFirstSoftKey = res::layout::kLkFirstSoftKey;
inline constexpr int kLastSoftKey = res::layout::kLkLastSoftKey;
inline constexpr int kKnob = 1061;
inline constexpr int kKeyCount = 34;

// The 34 keys in layout order (the knob, which sends steps, is not among them).
inline std::span<const LkKey> Keys()
{
    return res::layout::LkKeys();
}
// The row of a key; nullptr for any other ID.
inline const LkKey *FindKey(int id)
{
    return res::layout::FindLkKey(id);
}
// The key a PC key stands for, 0 when none.
inline int KeyForPcKey(int qtKey, bool keypad)
{
    return res::layout::LkKeyForPcKey(qtKey, keypad);
}

} // namespace lk
