// Fixed numeric identifiers of the panel windows' controls and commands. The right-click
// menu, the keys and the keyboard all deliver these same numbers to OnCommand.
#pragma once

namespace ids {

inline constexpr int IDM_ABOUTBOX = 16;
inline constexpr int IDC_CONNECT = 1000;
inline constexpr int IDC_DISCONNECT = 1001;
inline constexpr int IDC_START = 1010;
inline constexpr int IDC_STOP = 1011;
inline constexpr int IDC_SCREEN = 1049;
inline constexpr int IDC_KKC_KEY_FIRST = 1073;
inline constexpr int IDC_KKC_KEY_LAST = 1100;
inline constexpr int IDC_KKC_KNOB = 1101;
inline constexpr int ID_COMMUNICATION = 32776;
inline constexpr int ID_QUALITY_HIGH = 32780;
inline constexpr int ID_QUALITY_MEDIUM = 32781;
inline constexpr int ID_QUALITY_LOW = 32782;

} // namespace ids
