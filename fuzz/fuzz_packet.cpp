// Scanner, decoder and reply assembler over arbitrary received bytes, driven the way the
// link drives them on a TCP stream.
//
// Input layout: byte 0 picks the reply buffer size, bytes 1..4 are the receive chunk sizes
// (cycled, plus one), the rest is the byte stream from the instrument.
#include "Protocol.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <span>
#include <string_view>
#include <vector>

using namespace klr;

namespace {

constexpr std::size_t kHeader = 5;

void Check(bool condition)
{
    if (!condition)
        std::abort();
}

// The decoding rules one byte at a time, as plainly as they can be written: the decoder
// must give the same verdict and the same packet.
std::string_view ReferenceDecode(std::span<const std::uint8_t> packet,
                                 std::vector<std::uint8_t> &body)
{
    body.clear();
    if (packet.size() < kMinPacketBytes || packet.size() > kMaxPacketBytes ||
        packet.front() != kStartMarker || packet.back() != kEndMarker)
        return STR_ERROR_PACKET;
    const std::size_t end = packet.size() - 1;
    for (std::size_t i = 1; i < end; ++i) {
        std::uint8_t b = packet[i];
        if (b == kStartMarker || b == kEndMarker)
            return STR_ERROR_PACKET;
        if (b == kEscape) {
            if (i + 1 >= end || packet[i + 1] == kStartMarker || packet[i + 1] == kEndMarker)
                return STR_ERROR_PACKET;
            b = static_cast<std::uint8_t>(packet[++i] ^ kEscapeXor);
        }
        body.push_back(b);
    }
    if (body.size() < 5 || body.size() - 5 > kPayloadStoreSize)
        return STR_ERROR_PACKET;
    std::uint8_t sum = 0;
    for (std::size_t i = 0; i + 1 < body.size(); ++i)
        sum = static_cast<std::uint8_t>(sum + body[i]);
    return sum == body.back() ? std::string_view{} : STR_ERROR_CHECKSUM;
}

void CheckDecoded(std::span<const std::uint8_t> wire, std::string_view error,
                  const DecodedPacket &packet)
{
    static std::vector<std::uint8_t> body;
    Check(ReferenceDecode(wire, body) == error);
    if (!error.empty()) {
        Check(packet.payloadLength == 0 && packet.command == 0 && packet.total == 0);
        return;
    }
    Check(packet.command == body[0] && packet.code == body[1] && packet.total == body[2] &&
          packet.index == body[3]);
    Check(packet.payloadLength == body.size() - 5);
    Check(std::equal(body.begin() + 4, body.end() - 1, packet.payload.begin()));
    // Whatever escapes the wire used, the packet's own encoding decodes to it again.
    static auto again = std::make_unique<DecodedPacket>();
    const std::vector<std::uint8_t> canonical =
        EncodeFrame(packet.command, packet.code, packet.total, packet.index,
                    std::span(packet.payload.data(), packet.payloadLength));
    Check(DecodePacket(canonical, *again).empty());
    Check(again->payloadLength == packet.payloadLength &&
          std::equal(packet.payload.begin(),
                     packet.payload.begin() + static_cast<std::ptrdiff_t>(packet.payloadLength),
                     again->payload.begin()));
}

void CheckScannedPacket(std::span<const std::uint8_t> packet)
{
    Check(packet.size() >= 2 && packet.size() <= kMaxPacketBytes);
    Check(packet.front() == kStartMarker && packet.back() == kEndMarker);
    Check(std::count(packet.begin(), packet.end(), kStartMarker) == 1);
    Check(std::count(packet.begin(), packet.end(), kEndMarker) == 1);
}

struct State
{
    CPacketScanner scanner;
    DecodedPacket packet;
    std::vector<std::uint8_t> reply = std::vector<std::uint8_t>(kMaxReplyBytes + 64);
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    // Built once: the scanner's buffer alone is 400 KB.
    static State *state = new State;
    std::span<const std::uint8_t> input(data, data ? size : 0);

    // The decoder must cope with any span, not only what the scanner hands it.
    CheckDecoded(input, DecodePacket(input, state->packet), state->packet);

    if (input.size() < kHeader)
        return 0;
    const std::size_t replyCapacity =
        input[0] == 0xFF ? state->reply.size() : (static_cast<std::size_t>(input[0]) + 1) * 64;
    const std::uint8_t *chunkSizes = input.data() + 1;
    std::span<const std::uint8_t> stream = input.subspan(kHeader);

    state->scanner.Reset();
    CReplyAssembler reply(std::span(state->reply).first(replyCapacity));
    reply.Begin();

    std::size_t chunkNo = 0;
    while (!stream.empty()) {
        const std::size_t want = static_cast<std::size_t>(chunkSizes[chunkNo++ % 4]) + 1;
        std::span<const std::uint8_t> chunk = stream.first(std::min(want, stream.size()));
        stream = stream.subspan(chunk.size());
        while (!chunk.empty()) {
            std::size_t consumed = 0;
            const auto result = state->scanner.Feed(chunk, consumed);
            Check(consumed >= 1 && consumed <= chunk.size());
            chunk = chunk.subspan(consumed);
            if (result == CPacketScanner::Result::NeedMore) {
                Check(chunk.empty());
                continue;
            }
            if (result == CPacketScanner::Result::Error) {
                Check(state->scanner.Error() == STR_ERROR_PACKET);
                Check(!state->scanner.Started());
                reply.Begin();
                continue;
            }
            const auto packetBytes = state->scanner.Packet();
            CheckScannedPacket(packetBytes);
            const std::string_view error = DecodePacket(packetBytes, state->packet);
            CheckDecoded(packetBytes, error, state->packet);
            if (!error.empty()) {
                Check(error == STR_ERROR_PACKET || error == STR_ERROR_CHECKSUM);
                reply.Begin();
                continue;
            }
            const std::size_t before = reply.Length();
            const auto added = reply.Add(state->packet);
            Check(reply.Length() <= replyCapacity && reply.Length() <= kMaxReplyBytes);
            if (added == CReplyAssembler::Result::Error) {
                Check(reply.Error() == STR_ERROR_SEQUENCE || reply.Error() == STR_ERROR_PACKET);
                Check(reply.Length() == before);
                reply.Begin();
                continue;
            }
            Check(reply.Length() == before + state->packet.payloadLength);
            Check(std::equal(state->packet.payload.begin(),
                             state->packet.payload.begin() +
                                 static_cast<std::ptrdiff_t>(state->packet.payloadLength),
                             state->reply.begin() + static_cast<std::ptrdiff_t>(before)));
            if (added == CReplyAssembler::Result::Complete) {
                Check(reply.Progress() == 100);
                reply.Begin();
            } else {
                Check(reply.Progress() >= 1 && reply.Progress() <= 99);
            }
        }
    }
    return 0;
}
