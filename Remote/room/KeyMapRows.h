// The PC keys of a panel, read from the panel's own key table: one row for every key of the
// table that a PC key stands for, in the table's order.
#pragma once

#include <QString>

#include <vector>

enum class KeyTable
{
    Kkc,
    Lk
};

struct KeyMapRow
{
    int id;           // the panel key
    QString pcKeys;   // "Numeric pad 5", "Backspace, Del", ...
    QString panelKey; // the key as the panel labels it
    QString command;  // what it sends
};

// With `digitRowAsKeypad` the numeric pad's rows name the main keyboard's key as well.
std::vector<KeyMapRow> KeyMapRows(KeyTable table, bool digitRowAsKeypad);

// The name of a PC key; `keypad` for the key of the numeric pad.
QString PcKeyName(int qtKey, bool keypad);
