// The instrument families offered at start and the panel window each one opens.
#pragma once

#include <array>
#include <string_view>

enum class PanelKind
{
    LK,
    KKC
};

struct FamilyInfo
{
    int radioId;               // control ID of its radio button in "Select Model"
    std::string_view label;    // the radio button's text
    PanelKind panel;           // the front-panel window it opens
    std::string_view simModel; // what the simulated instrument reports when none is named
};

// The index of a family is its position here, which is also the position of its radio
// button within the dialog's radio group.
inline constexpr std::array<FamilyInfo, 3> kFamilies{{
    {1071, "510A/B, 560A/B Series", PanelKind::LK, "KL561B"},
    {1072, "530C Series", PanelKind::KKC, "KL535C"},
    {1073, "MW5000 Series", PanelKind::KKC, "MW5000"},
}};

inline constexpr int kFamilyCount = static_cast<int>(kFamilies.size());

constexpr bool IsValidFamily(int index)
{
    return index >= 0 && index < kFamilyCount;
}
