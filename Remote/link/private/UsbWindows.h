// Windows helpers shared by the two driver variants: device-interface enumeration, the
// system version, and block I/O that never waits for ever. Windows only.
#pragma once

#ifdef _WIN32

#include "UsbPure.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <functional>
#include <optional>

namespace klr::win {

// {0DF82E02-6A7B-4A0C-BCAD-F2FC6A191D67}: the device-handle driver's interface class.
inline constexpr GUID kDeviceHandleInterface = {
    0x0DF82E02, 0x6A7B, 0x4A0C, {0xBC, 0xAD, 0xF2, 0xFC, 0x6A, 0x19, 0x1D, 0x67}};
// {B3F1DCDB-95D5-49D5-98E1-57C0F89511F6}: the two-pipe driver's interface class.
inline constexpr GUID kTwoPipeInterface = {
    0xB3F1DCDB, 0x95D5, 0x49D5, {0x98, 0xE1, 0x57, 0xC0, 0xF8, 0x95, 0x11, 0xF6}};

enum class EnumEnd
{
    Stopped,         // the visitor took a device
    RanOut,          // no further interface
    ClassDevsFailed, // the device set could not be had
    DetailFailed,    // an interface's detail could not be fetched
    NoMemory,        // the detail could not be allocated
};

// Calls visit(devicePath) for the present interfaces of the class, index 0, 1, 2, ...,
// until it returns true. The device set is released either way; `error` holds the system
// error of a failure.
EnumEnd ForEachDevicePath(const GUID &interfaceClass,
                          const std::function<bool(const char *devicePath)> &visit, DWORD &error);

// Extended version structure first, then the basic one; nothing when both fail.
std::optional<OsVersion> QueryOsVersion();

// Handles are opened for overlapped I/O so that a read can be bounded; writes still wait
// for their completion, as plain synchronous ones would.
inline constexpr DWORD kOpenFlags = FILE_FLAG_OVERLAPPED;
bool WriteAll(HANDLE handle, const void *data, DWORD length, DWORD &written);
bool ReadWithTimeout(HANDLE handle, void *buffer, DWORD length, DWORD &read, int timeoutMs);

} // namespace klr::win

#endif
