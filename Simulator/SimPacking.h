// Cutting a reply into framed packets, and the deliberately broken variants of it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

using SimFrames = std::vector<std::vector<std::uint8_t>>;

// The index and total fields are one byte each.
inline constexpr std::size_t kSimMaxPackets = 255;

// Packs `data` into packets of at most `maxPayload` payload bytes (capped to the receiver's
// payload store). When that would take more than 255 packets, larger packets up to the
// store size are used; when even that is not enough, false is returned with `error` set.
// An empty reply is one packet with no payload.
bool PackReply(std::uint8_t code, std::span<const std::uint8_t> data, std::size_t maxPayload,
               SimFrames &frames, std::string &error);

// Packs `data` so that every framed packet, stuffing included, fits one USB block.
bool PackReplyForUsb(std::uint8_t code, std::span<const std::uint8_t> data, SimFrames &frames,
                     std::string &error);

// Payload lengths PackReply would use (exposed for tests and for the broken variants).
bool ChunkSizes(std::size_t length, std::size_t maxPayload, std::vector<std::size_t> &sizes);

// Frames one packet with its checksum deliberately off by one.
std::vector<std::uint8_t> EncodeFrameBadChecksum(std::uint8_t command, std::uint8_t code,
                                                 std::uint8_t total, std::uint8_t index,
                                                 std::span<const std::uint8_t> payload);

// Frames the chunks of `data` with explicit index values (for out-of-sequence replies).
SimFrames EncodeChunks(std::uint8_t code, std::span<const std::uint8_t> data,
                       const std::vector<std::size_t> &sizes,
                       const std::vector<std::uint8_t> &indexes);
