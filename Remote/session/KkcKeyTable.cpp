#include "KkcKeyTable.h"

namespace {

// Positions and sizes are where the keys are moved at start-up; each key then takes the size of
// its face. The ▲ key is placed 10 x 10 and grows to its face like every other key.
constexpr KkcKey kKeys[] = {
    {1073, "Mode", "KEYP:MODE", 23, 35, 65, 47},
    {1074, "Setup", "KEYP:SETUP", 23, 115, 65, 47},
    {1075, "Favorite", "KEYP:FAV", 23, 195, 65, 47},
    {1076, "QuickSave", "KEYP:QSAVE", 23, 275, 65, 47},
    {1077, "Save/Load", "KEYP:SL", 23, 355, 65, 47},
    {1078, "Cal", "KEYP:CAL", 23, 435, 65, 47},
    {1079, "Marker", "KEYP:MARK", 935, 35, 65, 47},
    {1080, "Peak", "KEYP:PEAK", 935, 115, 65, 47},
    {1081, "Trace", "KEYP:TRACE", 935, 195, 65, 47},
    {1082, "Limit", "KEYP:LIMIT", 935, 275, 65, 47},
    {1083, "Hold", "KEYP:HOLD", 935, 355, 65, 47},
    {1084, "AutoSave", "KEYP:AUTO", 935, 435, 65, 47},
    {1085, "1", "KEYP:NUM1", 122, 517, 60, 40},
    {1086, "2", "KEYP:NUM2", 232, 517, 60, 40},
    {1087, "3", "KEYP:NUM3", 342, 517, 60, 40},
    {1088, "4", "KEYP:NUM4", 122, 570, 60, 40},
    {1089, "5", "KEYP:NUM5", 232, 570, 60, 40},
    {1090, "6", "KEYP:NUM6", 342, 570, 60, 40},
    {1091, "7", "KEYP:NUM7", 122, 623, 60, 40},
    {1092, "8", "KEYP:NUM8", 232, 623, 60, 40},
    {1093, "9", "KEYP:NUM9", 342, 623, 60, 40},
    {1094, "0", "KEYP:NUM0", 452, 517, 60, 40},
    {1095, ".", "KEYP:JUM", 452, 570, 60, 40},
    {1096, "ESC", "KEYP:ESC", 562, 517, 60, 40},
    {1097, "Enter", "KEYP:ENTR", 452, 619, 230, 40},
    {1098, "+/-", "KEYP:BUHO", 562, 570, 60, 40},
    {1099, "\u25B2", "KEYP:UP", 722, 554, 10, 10},
    {1100, "\u25BC", "KEYP:DOWN", 722, 609, 55, 40},
};

} // namespace

std::span<const KkcKey> KkcKeys()
{
    return kKeys;
}

const KkcKey *FindKkcKey(int controlId)
{
    for (const KkcKey &key : kKeys)
        if (key.id == controlId)
            return &key;
    return nullptr;
}
