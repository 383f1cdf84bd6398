// The keys of the KKC panel: one row per key, in control-ID order.
#pragma once

#include <span>

struct KkcKey
{
    int id;
    const char *label;
    const char *command;
    int x, y, width, height;
};

std::span<const KkcKey> KkcKeys();
const KkcKey *FindKkcKey(int controlId);
