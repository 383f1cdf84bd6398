// Instrument models served by the LK panel, sorted into groups. Only group 6 accepts screen
// touches; every other group, and 0 for an unknown model, means it does not.
#pragma once

#include <string_view>

namespace lk {

inline constexpr int kTouchGroup = 6;
inline constexpr int kUnknownModel = 0;
// The group assumed before any instrument has answered.
inline constexpr int kInitialModelGroup = 4;

// Whole-text, byte-for-byte, case-sensitive match: no trimming, no prefixes.
int ModelGroupOf(std::string_view modelText);

// The model text of an identification reply: up to its first NUL, or all of it when it has
// none (the reply need not carry a terminator).
inline std::string_view ModelTextOf(std::string_view reply)
{
    return reply.substr(0, reply.find('\0'));
}

} // namespace lk
