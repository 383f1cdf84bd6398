// FFmpeg's process-wide settings, made once before the first recording is written or read:
// no console chatter about damaged files (the reader reports in its own words), and no single
// allocation large enough to matter, whatever sizes a hostile file declares.
#pragma once

namespace capture {

// Far above any screen frame and any container structure of ours.
inline constexpr unsigned kMaxLibavAllocation = 64u * 1024 * 1024;

void SetUpLibav();

} // namespace capture
