#include "SimPacking.h"

#include "Protocol.h"

#include <algorithm>

namespace {

constexpr std::uint8_t kReplyCommand = klr::kCommand;

bool NeedsEscape(std::uint8_t b)
{
    return b == klr::kEscape || b == klr::kEndMarker || b == klr::kStartMarker;
}

std::size_t StuffedSize(std::uint8_t b)
{
    return NeedsEscape(b) ? 2 : 1;
}

void AppendStuffed(std::vector<std::uint8_t> &out, std::uint8_t b)
{
    if (NeedsEscape(b)) {
        out.push_back(klr::kEscape);
        out.push_back(static_cast<std::uint8_t>(b ^ klr::kEscapeXor));
    } else {
        out.push_back(b);
    }
}

} // namespace

bool ChunkSizes(std::size_t length, std::size_t maxPayload, std::vector<std::size_t> &sizes)
{
    sizes.clear();
    std::size_t chunk = std::clamp<std::size_t>(maxPayload, 1, klr::kPayloadStoreSize);
    if (length == 0) {
        sizes.push_back(0);
        return true;
    }
    if ((length + chunk - 1) / chunk > kSimMaxPackets) {
        chunk = (length + kSimMaxPackets - 1) / kSimMaxPackets;
        if (chunk > klr::kPayloadStoreSize)
            return false;
    }
    for (std::size_t done = 0; done < length; done += chunk)
        sizes.push_back(std::min(chunk, length - done));
    return true;
}

SimFrames EncodeChunks(std::uint8_t code, std::span<const std::uint8_t> data,
                       const std::vector<std::size_t> &sizes,
                       const std::vector<std::uint8_t> &indexes)
{
    SimFrames frames;
    const auto total = static_cast<std::uint8_t>(sizes.size());
    std::size_t offset = 0;
    for (std::size_t i = 0; i < sizes.size(); ++i) {
        frames.push_back(klr::EncodeFrame(kReplyCommand, code, total, indexes[i],
                                          data.subspan(offset, sizes[i])));
        offset += sizes[i];
    }
    return frames;
}

bool PackReply(std::uint8_t code, std::span<const std::uint8_t> data, std::size_t maxPayload,
               SimFrames &frames, std::string &error)
{
    frames.clear();
    std::vector<std::size_t> sizes;
    if (!ChunkSizes(data.size(), maxPayload, sizes)) {
        error = "reply of " + std::to_string(data.size()) + " bytes needs more than " +
                std::to_string(kSimMaxPackets) + " packets";
        return false;
    }
    std::vector<std::uint8_t> indexes(sizes.size());
    for (std::size_t i = 0; i < indexes.size(); ++i)
        indexes[i] = static_cast<std::uint8_t>(i);
    frames = EncodeChunks(code, data, sizes, indexes);
    return true;
}

bool PackReplyForUsb(std::uint8_t code, std::span<const std::uint8_t> data, SimFrames &frames,
                     std::string &error)
{
    frames.clear();
    // Markers, and header and checksum as if every one of them needed an escape.
    constexpr std::size_t kOverhead = 2 + 2 * 5;
    constexpr std::size_t kBudget = klr::kUsbBlockSize - kOverhead;
    std::vector<std::size_t> sizes;
    std::size_t start = 0;
    do {
        std::size_t stuffed = 0;
        std::size_t end = start;
        while (end < data.size() && stuffed + StuffedSize(data[end]) <= kBudget) {
            stuffed += StuffedSize(data[end]);
            ++end;
        }
        sizes.push_back(end - start);
        start = end;
    } while (start < data.size());
    if (sizes.size() > kSimMaxPackets) {
        error = "reply of " + std::to_string(data.size()) + " bytes needs more than " +
                std::to_string(kSimMaxPackets) + " USB blocks";
        return false;
    }
    std::vector<std::uint8_t> indexes(sizes.size());
    for (std::size_t i = 0; i < indexes.size(); ++i)
        indexes[i] = static_cast<std::uint8_t>(i);
    frames = EncodeChunks(code, data, sizes, indexes);
    return true;
}

std::vector<std::uint8_t> EncodeFrameBadChecksum(std::uint8_t command, std::uint8_t code,
                                                 std::uint8_t total, std::uint8_t index,
                                                 std::span<const std::uint8_t> payload)
{
    std::vector<std::uint8_t> frame = klr::EncodeFrame(command, code, total, index, payload);
    const std::uint8_t header[] = {command, code, total, index};
    const auto good = static_cast<std::uint8_t>(klr::Checksum(header) + klr::Checksum(payload));
    // Drop the end marker and the stuffed checksum, then append a wrong one.
    frame.resize(frame.size() - 1 - StuffedSize(good));
    AppendStuffed(frame, static_cast<std::uint8_t>(good + 1));
    frame.push_back(klr::kEndMarker);
    return frame;
}
