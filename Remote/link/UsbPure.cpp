#include "UsbPure.h"

#include "Diagnostic.h"

#include <algorithm>
#include <charconv>
#include <cstring>

namespace klr {

UsbVariant ChooseUsbVariant(const std::optional<OsVersion> &version)
{
    if (!version) {
        return UsbVariant::None;
    }
    if (version->platformId == kPlatformWin32Nt && version->major > 5) {
        return UsbVariant::TwoPipe;
    }
    return UsbVariant::DeviceHandle;
}

UsbDeviceFactory MakeVariantFactory(std::function<std::optional<OsVersion>()> queryVersion,
                                    UsbDeviceFactory deviceHandle, UsbDeviceFactory twoPipe)
{
    return [queryVersion = std::move(queryVersion), deviceHandle = std::move(deviceHandle),
            twoPipe = std::move(twoPipe)]() -> std::unique_ptr<IUsbBlockDevice> {
        // The other variant is never tried when the chosen one fails to open.
        switch (ChooseUsbVariant(queryVersion ? queryVersion() : std::nullopt)) {
        case UsbVariant::TwoPipe:
            return twoPipe ? twoPipe() : nullptr;
        case UsbVariant::DeviceHandle:
            return deviceHandle ? deviceHandle() : nullptr;
        case UsbVariant::None:
            break;
        }
        return nullptr;
    };
}

bool FitsPathBuffer(std::string_view path)
{
    return path.size() + 1 <= kUsbPathBufferSize;
}

std::optional<std::string> MakePipePath(std::string_view devicePath, std::string_view pipeName)
{
    std::string path;
    path.reserve(devicePath.size() + 1 + pipeName.size());
    path.append(devicePath);
    path.push_back('\\');
    path.append(pipeName);
    if (!FitsPathBuffer(path)) {
        return std::nullopt;
    }
    return path;
}

bool WriteInPieces(const std::uint8_t *block, const PieceWriter &write)
{
    if (block == nullptr || !write) {
        return false;
    }
    long total = 0;
    for (int piece = 0; piece < kUsbWritePieces; ++piece) {
        int written = 0;
        if (!write(block + piece * kUsbWritePieceSize, kUsbWritePieceSize, written)) {
            break;
        }
        total += std::clamp(written, 0, kUsbWritePieceSize);
    }
    return total == static_cast<long>(kUsbBlock);
}

void FillReadSentinel(std::uint8_t *block)
{
    std::memset(block, 0, kUsbBlock);
    std::memset(block, kUsbSentinelChar, kUsbSentinelLength);
}

UsbBlock MakeLanCommandBlock()
{
    UsbBlock block{};
    std::memcpy(block.data(), kLanCommand.data(), kLanCommand.size());
    return block;
}

namespace {

std::string_view Trim(std::string_view text)
{
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos) {
        return {};
    }
    const auto last = text.find_last_not_of(" \t");
    return text.substr(first, last - first + 1);
}

std::optional<std::uint16_t> ParseHex16(std::string_view text)
{
    if (text.empty() || text.size() > 4) {
        return std::nullopt;
    }
    unsigned value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, 16);
    if (error != std::errc() || end != text.data() + text.size()) {
        return std::nullopt;
    }
    return static_cast<std::uint16_t>(value);
}

} // namespace

std::vector<UsbId> ParseUsbIds(std::string_view list)
{
    constexpr const char *kBadEntry = "USB: ignoring bad device ID \"%.*s\" (want vvvv:pppp)\n";
    std::vector<UsbId> ids;
    if (Trim(list).empty()) {
        return ids;
    }
    std::size_t start = 0;
    while (start <= list.size()) {
        auto comma = list.find(',', start);
        if (comma == std::string_view::npos) {
            comma = list.size();
        }
        const auto entry = Trim(list.substr(start, comma - start));
        const auto colon = entry.find(':');
        std::optional<std::uint16_t> vendor;
        std::optional<std::uint16_t> product;
        if (colon != std::string_view::npos) {
            vendor = ParseHex16(entry.substr(0, colon));
            product = ParseHex16(entry.substr(colon + 1));
        }
        if (vendor && product) {
            ids.push_back({*vendor, *product});
        } else {
            DiagnosticF(kBadEntry, static_cast<int>(std::min<std::size_t>(entry.size(), 64)),
                        entry.data());
        }
        start = comma + 1;
    }
    return ids;
}

} // namespace klr
