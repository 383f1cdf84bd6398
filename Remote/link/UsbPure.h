// The platform-free parts of the USB carrier: variant choice, pipe paths, the piecewise
// block write, the read sentinel, the opening block and the device ID list.
#pragma once

#include "IUsbBlockDevice.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace klr {

inline constexpr std::size_t kUsbBlock = 4096;
using UsbBlock = std::array<std::uint8_t, kUsbBlock>;

// Device paths live in a buffer of this many characters, terminator included.
inline constexpr std::size_t kUsbPathBufferSize = 256;
// Device to host, and host to device.
inline constexpr std::string_view kUsbReadPipe = "PIPE01";
inline constexpr std::string_view kUsbWritePipe = "PIPE00";

// The device-handle driver takes a block as 64 writes of 64 bytes.
inline constexpr int kUsbWritePieces = 64;
inline constexpr int kUsbWritePieceSize = 64;

// No instrument takes this long for one block; a read is never left waiting for ever.
inline constexpr int kUsbReadTimeoutMs = 5000;
// The device-handle driver needs this pause between opening and the first block.
inline constexpr int kUsbDeviceHandleOpenPauseMs = 2000;

// A block read that delivers nothing leaves this at byte 0; it is no start marker, so the
// packet scanner rejects it.
inline constexpr std::size_t kUsbSentinelLength = 35;
inline constexpr char kUsbSentinelChar = '4';

inline constexpr std::string_view kLanCommand = "LANCOMMAND\n";

enum class UsbVariant
{
    None,
    DeviceHandle,
    TwoPipe
};

// What the system reports about itself; platform 2 is the NT family.
struct OsVersion
{
    unsigned platformId = 0;
    unsigned major = 0;
};
inline constexpr unsigned kPlatformWin32Nt = 2;

// NT with a major version above 5 gets the two-pipe driver; anything else the device
// handle; an unknown version opens nothing.
UsbVariant ChooseUsbVariant(const std::optional<OsVersion> &version);

// A factory that asks for the version each time and makes only the chosen variant.
UsbDeviceFactory MakeVariantFactory(std::function<std::optional<OsVersion>()> queryVersion,
                                    UsbDeviceFactory deviceHandle, UsbDeviceFactory twoPipe);

// True when the path and its terminator fit the path buffer.
bool FitsPathBuffer(std::string_view path);
// devicePath + "\" + pipeName, or nothing when that would not fit the path buffer.
std::optional<std::string> MakePipePath(std::string_view devicePath, std::string_view pipeName);

// One write call: writes `length` bytes from `data`, reports the count in `written`.
using PieceWriter = std::function<bool(const std::uint8_t *data, int length, int &written)>;
// Writes a 4096-byte block as 64 pieces of 64 bytes in order, stopping at the first failed
// call. True only when 4096 bytes went out in total.
bool WriteInPieces(const std::uint8_t *block, const PieceWriter &write);

// Zeroes the block and puts 35 '4' characters and a NUL at its start.
void FillReadSentinel(std::uint8_t *block);
// A zeroed block that starts with "LANCOMMAND\n" and its NUL.
UsbBlock MakeLanCommandBlock();

struct UsbId
{
    std::uint16_t vendor = 0;
    std::uint16_t product = 0;
    bool operator==(const UsbId &) const = default;
};
// Parses "vvvv:pppp[,vvvv:pppp...]" (hexadecimal, spaces around entries allowed). Bad
// entries are left out, each with a diagnostic line.
std::vector<UsbId> ParseUsbIds(std::string_view list);

} // namespace klr
