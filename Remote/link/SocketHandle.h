// A socket as the link's public headers see it: an integer of the platform's handle width,
// so that no header outside the link's sources needs the platform's socket headers.
#pragma once

#include <cstdint>

namespace klr::net {

#ifdef _WIN32
// Winsock's SOCKET is a pointer-sized unsigned integer (UINT_PTR).
using SocketHandle = std::uintptr_t;
inline constexpr SocketHandle kInvalidSocket = ~SocketHandle{0};
#else
using SocketHandle = int;
inline constexpr SocketHandle kInvalidSocket = -1;
#endif

enum class WaitResult
{
    Ready,
    Timeout,
    Failed
};

} // namespace klr::net
