// Command identifiers of the browser view.
#pragma once

namespace ids {

inline constexpr int ID_SHARE_BROWSER = 33300;

} // namespace ids
