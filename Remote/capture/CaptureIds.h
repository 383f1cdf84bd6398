// Command identifiers of the capture items (the range 33000 to 33099 is the capture
// feature's).
#pragma once

namespace capture_ids {

inline constexpr int ID_SAVE_SCREENSHOT = 33000;
inline constexpr int ID_SAVE_SCREENSHOT_AS = 33001;
inline constexpr int ID_COPY_SCREENSHOT = 33002;
inline constexpr int ID_RECORD = 33003;
inline constexpr int ID_OPEN_RECORDING = 33004;

// Replay window.
inline constexpr int ID_REPLAY_PLAY = 33010;
inline constexpr int ID_REPLAY_STEP = 33011;
inline constexpr int ID_REPLAY_SPEED_1 = 33012; // then 2x, 4x, 8x
inline constexpr int kReplaySpeeds[] = {1, 2, 4, 8};

} // namespace capture_ids
