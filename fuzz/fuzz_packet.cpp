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
#include <vector>

using namespace klr;

namespace {

constexpr std::size_t kHeader = 5;

void Check(bool condition)
{
    if (!condition)
        std::abort();
}

// A decoded packet has exactly one wire form; anything else must have been rejected.
void CheckCanonical(std::span<const std::uint8_t> wire, const DecodedPacket &packet)
{
    const std::vector<std::uint8_t> again =
        EncodeFrame(packet.command, packet.code, packet.total, packet.index,
                    std::span(packet.payload.data(), packet.payloadLength));
    Check(std::equal(wire.begin(), wire.end(), again.begin(), again.end()));
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
    if (DecodePacket(input, state->packet).empty())
        CheckCanonical(input, state->packet);
    else
        Check(state->packet.payloadLength == 0);

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
            if (!error.empty()) {
                Check(error == STR_ERROR_PACKET || error == STR_ERROR_CHECKSUM);
                Check(state->packet.payloadLength == 0);
                reply.Begin();
                continue;
            }
            CheckCanonical(packetBytes, state->packet);
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
