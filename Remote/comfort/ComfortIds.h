// Command identifiers of the session comforts' menu items.
#pragma once

namespace comfort_ids {

inline constexpr int ID_AUTO_RECONNECT = 33100;
inline constexpr int ID_SHOW_STATISTICS = 33101;
inline constexpr int ID_REFRESH_STANDARD = 33102;
inline constexpr int ID_REFRESH_AFTER_KEYS = 33103;

} // namespace comfort_ids
