// Wire format: example frames byte for byte, stuffing, the scanner, the decoder and reply
// reassembly, including the receiving side's limits.
#include "Protocol.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <numeric>
#include <random>
#include <string>
#include <vector>

using namespace klr;
using Bytes = std::vector<std::uint8_t>;

namespace {

Bytes Concat(std::initializer_list<Bytes> parts)
{
    Bytes all;
    for (const Bytes &p : parts)
        all.insert(all.end(), p.begin(), p.end());
    return all;
}

Bytes Text(std::string_view s)
{
    return Bytes(s.begin(), s.end());
}

Bytes Request(std::uint8_t code, std::span<const std::uint8_t> payload)
{
    Bytes frame(4096);
    frame.resize(EncodeRequest(code, payload, frame));
    return frame;
}

// Unstuffed frame, markers included, with no escaping at all: for building malformed input.
Bytes RawFrame(Bytes body)
{
    body.insert(body.begin(), kStartMarker);
    body.push_back(kEndMarker);
    return body;
}

std::unique_ptr<DecodedPacket> MakePacket(std::uint8_t total, std::uint8_t index,
                                          const Bytes &payload)
{
    auto p = std::make_unique<DecodedPacket>();
    const Bytes frame = EncodeFrame(0x41, REQ_SCREEN, total, index, payload);
    EXPECT_EQ(DecodePacket(frame, *p), std::string_view{});
    return p;
}

// A decoded packet to check that a failed decode leaves nothing of it behind.
void FillWithGoodPacket(DecodedPacket &out)
{
    const Bytes frame = EncodeFrame(0x41, 0x60, 3, 1, Text("previous"));
    ASSERT_EQ(DecodePacket(frame, out), std::string_view{});
    ASSERT_EQ(out.payloadLength, 8u);
}

void ExpectCleared(const DecodedPacket &out)
{
    EXPECT_EQ(out.payloadLength, 0u);
    EXPECT_EQ(out.command, 0);
    EXPECT_EQ(out.code, 0);
    EXPECT_EQ(out.total, 0);
    EXPECT_EQ(out.index, 0);
}

} // namespace

// ---- Encoding ---------------------------------------------------------------------------

TEST(Encoding, IdentificationRequestIsSevenFixedBytes)
{
    EXPECT_EQ(Request(REQ_EQUIP_INFO, {}), (Bytes{0x7F, 0x41, 0x50, 0x01, 0x00, 0x92, 0x7E}));
}

TEST(Encoding, ScreenRequestMatchesReferenceFrame)
{
    const auto payload = MakeNamedPayload(kScreenFileName, kMaxScreenSize);
    const Bytes frame = Request(REQ_SCREEN, payload);

    Bytes expected{0x7F, 0x41, 0x60, 0x01, 0x00};
    const Bytes name = Text("currentdisp.jpg");
    expected.insert(expected.end(), name.begin(), name.end());
    expected.insert(expected.end(), 65, 0x00);
    expected.insert(expected.end(), {0x80, 0x1A, 0x06, 0x00, 0x64, 0x7E});
    ASSERT_EQ(frame.size(), 91u);
    EXPECT_EQ(frame, expected);
}

TEST(Encoding, KeyCommandMatchesReferenceFrame)
{
    std::array<std::uint8_t, kTextPayloadSize> payload{};
    ASSERT_TRUE(MakeTextPayload("KEYP:MODE\n", payload));
    const Bytes frame = Request(REQ_CMD, payload);

    Bytes expected{0x7F, 0x41, 0x61, 0x01, 0x00};
    const Bytes text = Text("KEYP:MODE\n");
    expected.insert(expected.end(), text.begin(), text.end());
    expected.insert(expected.end(), 118, 0x00);
    expected.insert(expected.end(), {0x45, 0x7E});
    ASSERT_EQ(frame.size(), 135u);
    EXPECT_EQ(frame, expected);
}

TEST(Encoding, RequestThatDoesNotFitTheOutputIsNotWritten)
{
    const auto payload = MakeNamedPayload(kScreenFileName, kMaxScreenSize);
    Bytes out(91 + 8, 0xAA);
    EXPECT_EQ(EncodeRequest(REQ_SCREEN, payload, std::span(out).first(90)), 0u);
    EXPECT_EQ(EncodeRequest(REQ_SCREEN, payload, std::span(out).first(91)), 91u);
    EXPECT_TRUE(std::all_of(out.begin() + 91, out.end(), [](std::uint8_t b) { return b == 0xAA; }));
    // Stuffing makes a frame longer than its body: an all-escape payload doubles.
    const Bytes escapes(10, 0x7D);
    Bytes small(20);
    EXPECT_EQ(EncodeRequest(REQ_CMD, escapes, small), 0u);
}

TEST(Encoding, RequestFrameEqualsGeneralFrameWithTotalOneIndexZero)
{
    const Bytes payload = Text("any payload \x7D\x7E\x7F");
    EXPECT_EQ(Request(REQ_CMD, payload), EncodeFrame(kCommand, REQ_CMD, 1, 0, payload));
}

TEST(Payloads, NamedPayloadCutsTheNameAndKeepsItTerminated)
{
    const auto p = MakeNamedPayload(std::string(100, 'x'), 0x01020304);
    EXPECT_TRUE(std::all_of(p.begin(), p.begin() + 79, [](std::uint8_t b) { return b == 'x'; }));
    EXPECT_EQ(p[79], 0);
    EXPECT_EQ(p[80], 0x04);
    EXPECT_EQ(p[81], 0x03);
    EXPECT_EQ(p[82], 0x02);
    EXPECT_EQ(p[83], 0x01);

    const auto shortName = MakeNamedPayload("a", 0);
    EXPECT_EQ(shortName[0], 'a');
    EXPECT_TRUE(
        std::all_of(shortName.begin() + 1, shortName.end(), [](std::uint8_t b) { return b == 0; }));
}

TEST(Payloads, TextPayloadNeedsRoomForItsTerminator)
{
    std::array<std::uint8_t, kTextPayloadSize> out{};
    ASSERT_TRUE(MakeTextPayload(std::string(127, 'k'), out));
    EXPECT_EQ(out[126], 'k');
    EXPECT_EQ(out[127], 0);

    out.fill(0x55);
    EXPECT_FALSE(MakeTextPayload(std::string(128, 'k'), out));
    EXPECT_TRUE(std::all_of(out.begin(), out.end(), [](std::uint8_t b) { return b == 0; }));
}

// ---- Stuffing -------------------------------------------------------------------------------

TEST(Stuffing, EveryByteValueRoundTripsAndMarkersOnlyFrameThePacket)
{
    Bytes payload(256);
    std::iota(payload.begin(), payload.end(), 0);
    Bytes reversed(payload.rbegin(), payload.rend());
    for (const Bytes &p : {payload, reversed, Concat({payload, payload, reversed})}) {
        const Bytes frame = EncodeFrame(0x7D, 0x7E, 0x7F, 0x7D, p);
        EXPECT_EQ(std::count(frame.begin(), frame.end(), kStartMarker), 1);
        EXPECT_EQ(std::count(frame.begin(), frame.end(), kEndMarker), 1);
        EXPECT_EQ(frame.front(), kStartMarker);
        EXPECT_EQ(frame.back(), kEndMarker);
        // Three escaped values per 256-byte run, plus the four escaped header bytes.
        const std::size_t escapes = std::count(p.begin(), p.end(), 0x7D) +
                                    std::count(p.begin(), p.end(), 0x7E) +
                                    std::count(p.begin(), p.end(), 0x7F) + 4;
        EXPECT_GE(frame.size(), p.size() + 7 + escapes);

        auto out = std::make_unique<DecodedPacket>();
        ASSERT_EQ(DecodePacket(frame, *out), std::string_view{});
        EXPECT_EQ(out->command, 0x7D);
        EXPECT_EQ(out->code, 0x7E);
        EXPECT_EQ(out->total, 0x7F);
        EXPECT_EQ(out->index, 0x7D);
        ASSERT_EQ(out->payloadLength, p.size());
        EXPECT_TRUE(std::equal(p.begin(), p.end(), out->payload.begin()));
    }
}

TEST(Stuffing, ChecksumThatNeedsEscapingIsEscapedAndDecodes)
{
    // Header 41 50 01 00 sums to 0x92; one payload byte moves the checksum where we want it.
    for (std::uint8_t checksum : {0x7D, 0x7E, 0x7F}) {
        const std::uint8_t filler = static_cast<std::uint8_t>(checksum - 0x92);
        const Bytes frame = Request(REQ_EQUIP_INFO, Bytes{filler});
        const Bytes expected{0x7F, 0x41,   0x50, 0x01,
                             0x00, filler, 0x7D, static_cast<std::uint8_t>(checksum ^ 0x20),
                             0x7E};
        EXPECT_EQ(frame, expected) << int(checksum);

        auto out = std::make_unique<DecodedPacket>();
        ASSERT_EQ(DecodePacket(frame, *out), std::string_view{});
        ASSERT_EQ(out->payloadLength, 1u);
        EXPECT_EQ(out->payload[0], filler);
    }
}

TEST(Stuffing, RandomPacketsRoundTrip)
{
    std::mt19937 rng(1234);
    auto out = std::make_unique<DecodedPacket>();
    for (int round = 0; round < 200; ++round) {
        std::uniform_int_distribution<std::size_t> len(0, round < 10 ? kPayloadStoreSize : 600);
        Bytes payload(len(rng));
        // Bias towards the special values so that escapes are frequent.
        for (auto &b : payload)
            b = static_cast<std::uint8_t>(rng() % 4 == 0 ? 0x7D + rng() % 3 : rng());
        const auto h = static_cast<std::uint32_t>(rng());
        const Bytes frame = EncodeFrame(std::uint8_t(h), std::uint8_t(h >> 8),
                                        std::uint8_t(h >> 16), std::uint8_t(h >> 24), payload);
        ASSERT_EQ(DecodePacket(frame, *out), std::string_view{}) << round;
        EXPECT_EQ(out->command, std::uint8_t(h));
        EXPECT_EQ(out->index, std::uint8_t(h >> 24));
        ASSERT_EQ(out->payloadLength, payload.size());
        EXPECT_TRUE(std::equal(payload.begin(), payload.end(), out->payload.begin()));
    }
}

// An escape is undone whatever byte follows it (that byte XOR 0x20); whether the result makes
// sense is the checksum's to say. Only an escape with nothing after it is a broken packet.
TEST(RegressByteStuffing, EscapeBeforeAnyByteIsUndoneAndTheChecksumDecides)
{
    const std::vector<std::pair<Bytes, Bytes>> accepted = {
        // 7D 21 is 0x01: header 41 50 01 00 and 0x01 sum to 0x93.
        {{0x7F, 0x41, 0x50, 0x01, 0x00, 0x7D, 0x21, 0x93, 0x7E}, {0x01}},
        // 7D 7D is 0x5D.
        {{0x7F, 0x41, 0x50, 0x01, 0x00, 0x7D, 0x7D, 0xEF, 0x7E}, {0x5D}},
        // An escaped ordinary checksum.
        {{0x7F, 0x41, 0x50, 0x01, 0x00, 0x7D, 0xB2, 0x7E}, {}},
    };
    auto out = std::make_unique<DecodedPacket>();
    for (const auto &[packet, payload] : accepted) {
        ASSERT_EQ(DecodePacket(packet, *out), std::string_view{});
        EXPECT_EQ(out->code, 0x50);
        EXPECT_EQ(Bytes(out->payload.begin(), out->payload.begin() + out->payloadLength), payload);
    }
    // The same escapes with a checksum that does not match them.
    for (const Bytes &packet : {Bytes{0x7F, 0x41, 0x50, 0x01, 0x00, 0x7D, 0x21, 0x92, 0x7E},
                                Bytes{0x7F, 0x41, 0x50, 0x01, 0x00, 0x7D, 0x7D, 0x92, 0x7E}}) {
        FillWithGoodPacket(*out);
        EXPECT_EQ(DecodePacket(packet, *out), STR_ERROR_CHECKSUM);
        ExpectCleared(*out);
    }
}

// The codec looks at eight bytes at a time and sums them in lanes: escapes and markers at
// every position within a word, and the largest byte values over the whole store.
TEST(Stuffing, EscapesAndMarkersAtEveryWordPositionAndFullLanes)
{
    auto out = std::make_unique<DecodedPacket>();
    const Bytes high(kPayloadStoreSize, 0xFF);
    ASSERT_EQ(DecodePacket(EncodeFrame(0x41, 0x60, 1, 0, high), *out), std::string_view{});
    EXPECT_TRUE(std::equal(high.begin(), high.end(), out->payload.begin()));
    for (std::size_t at = 0; at < 24; ++at) {
        Bytes payload(40, 0xFE);
        payload[at] = static_cast<std::uint8_t>(0x7D + at % 3);
        const Bytes frame = EncodeFrame(0x41, 0x60, 1, 0, payload);
        ASSERT_EQ(DecodePacket(frame, *out), std::string_view{}) << at;
        EXPECT_TRUE(std::equal(payload.begin(), payload.end(), out->payload.begin())) << at;
        // The same frame from every offset within a word, for the scanner's marker search.
        CPacketScanner scanner;
        Bytes stream(at % 8, 0);
        stream.insert(stream.end(), frame.begin(), frame.end());
        std::size_t consumed = 0;
        EXPECT_EQ(scanner.Feed({stream.data() + at % 8, frame.size()}, consumed),
                  CPacketScanner::Result::Packet);
        EXPECT_EQ(Bytes(scanner.Packet().begin(), scanner.Packet().end()), frame) << at;
    }
}

// ---- Decoding -------------------------------------------------------------------------------

TEST(Decoding, WrongChecksumIsReportedAndNothingIsKept)
{
    auto out = std::make_unique<DecodedPacket>();
    FillWithGoodPacket(*out);
    const Bytes bad{0x7F, 0x41, 0x50, 0x01, 0x00, 0x93, 0x7E};
    EXPECT_EQ(DecodePacket(bad, *out), STR_ERROR_CHECKSUM);
    ExpectCleared(*out);

    FillWithGoodPacket(*out);
    Bytes frame = EncodeFrame(0x41, 0x60, 1, 0, Text("payload"));
    frame[7] ^= 0x01;
    EXPECT_EQ(DecodePacket(frame, *out), STR_ERROR_CHECKSUM);
    ExpectCleared(*out);
}

TEST(Decoding, MalformedPacketsAreRejectedAsPacketErrors)
{
    const std::vector<std::pair<const char *, Bytes>> cases = {
        {"empty", {}},
        {"markers only", {0x7F, 0x7E}},
        {"four body bytes", RawFrame({0x41, 0x50, 0x01, 0x92})},
        {"short once unstuffed", {0x7F, 0x7D, 0x5D, 0x7D, 0x5D, 0x7D, 0x5D, 0x7E}},
        {"no start marker", {0x00, 0x41, 0x50, 0x01, 0x00, 0x92, 0x7E}},
        {"no end marker", {0x7F, 0x41, 0x50, 0x01, 0x00, 0x92, 0x00}},
        {"escape before end marker", {0x7F, 0x41, 0x50, 0x01, 0x00, 0x92, 0x7D, 0x7E}},
        {"bare start marker inside", RawFrame({0x41, 0x50, 0x01, 0x00, 0x7F, 0x11})},
        {"bare end marker inside", RawFrame({0x41, 0x50, 0x01, 0x00, 0x7E, 0x10})},
    };
    auto out = std::make_unique<DecodedPacket>();
    for (const auto &[name, packet] : cases) {
        FillWithGoodPacket(*out);
        EXPECT_EQ(DecodePacket(packet, *out), STR_ERROR_PACKET) << name;
        ExpectCleared(*out);
    }
}

TEST(Decoding, PayloadStoreLimitIsExact)
{
    auto out = std::make_unique<DecodedPacket>();
    const Bytes fits(kPayloadStoreSize, 0x7E); // all escaped: also twice as long on the wire
    ASSERT_EQ(DecodePacket(EncodeFrame(0x41, 0x60, 1, 0, fits), *out), std::string_view{});
    EXPECT_EQ(out->payloadLength, kPayloadStoreSize);
    EXPECT_EQ(out->payload[kPayloadStoreSize - 1], 0x7E);

    const Bytes tooLong(kPayloadStoreSize + 1, 0x33);
    EXPECT_EQ(DecodePacket(EncodeFrame(0x41, 0x60, 1, 0, tooLong), *out), STR_ERROR_PACKET);
    ExpectCleared(*out);
}

TEST(Decoding, PacketOverTheReceiveLimitIsRejected)
{
    auto out = std::make_unique<DecodedPacket>();
    Bytes huge(kMaxPacketBytes + 1, 0x01);
    huge.front() = kStartMarker;
    huge.back() = kEndMarker;
    FillWithGoodPacket(*out);
    EXPECT_EQ(DecodePacket(huge, *out), STR_ERROR_PACKET);
    ExpectCleared(*out);
}

TEST(Decoding, SmallestPacketHasEmptyPayload)
{
    auto out = std::make_unique<DecodedPacket>();
    FillWithGoodPacket(*out);
    ASSERT_EQ(DecodePacket(Bytes{0x7F, 0x41, 0x50, 0x01, 0x00, 0x92, 0x7E}, *out),
              std::string_view{});
    EXPECT_EQ(out->code, 0x50);
    EXPECT_EQ(out->total, 1);
    EXPECT_EQ(out->payloadLength, 0u);
}

// ---- Scanning -------------------------------------------------------------------------------

TEST(Scanning, NoiseOrEndMarkerBeforeAnyStartIsAPacketError)
{
    CPacketScanner scanner;
    for (const Bytes &input : {Bytes{0x00, 0x7F}, Bytes{0x7E, 0x7F}, Bytes{0x41}}) {
        std::size_t consumed = 99;
        EXPECT_EQ(scanner.Feed(input, consumed), CPacketScanner::Result::Error);
        EXPECT_EQ(scanner.Error(), STR_ERROR_PACKET);
        EXPECT_EQ(consumed, 1u);
        EXPECT_FALSE(scanner.Started());
        EXPECT_TRUE(scanner.Packet().empty());
    }
}

TEST(Scanning, SecondStartMarkerRestartsThePacket)
{
    CPacketScanner scanner;
    const Bytes good{0x7F, 0x41, 0x50, 0x01, 0x00, 0x92, 0x7E};
    const Bytes input = Concat({{0x7F, 0x41, 0x50, 0x33}, good});
    std::size_t consumed = 0;
    ASSERT_EQ(scanner.Feed(input, consumed), CPacketScanner::Result::Packet);
    EXPECT_EQ(consumed, input.size());
    EXPECT_EQ(Bytes(scanner.Packet().begin(), scanner.Packet().end()), good);
}

TEST(Scanning, TwoPacketsInOneChunkAreBothFound)
{
    const Bytes first = EncodeFrame(0x41, 0x60, 2, 0, Text("first"));
    const Bytes second = EncodeFrame(0x41, 0x60, 2, 1, Text("second"));
    const Bytes chunk = Concat({first, second});
    CPacketScanner scanner;
    std::size_t consumed = 0;
    ASSERT_EQ(scanner.Feed(chunk, consumed), CPacketScanner::Result::Packet);
    EXPECT_EQ(consumed, first.size());
    EXPECT_EQ(Bytes(scanner.Packet().begin(), scanner.Packet().end()), first);

    std::size_t rest = 0;
    ASSERT_EQ(scanner.Feed(std::span(chunk).subspan(consumed), rest),
              CPacketScanner::Result::Packet);
    EXPECT_EQ(rest, second.size());
    EXPECT_EQ(Bytes(scanner.Packet().begin(), scanner.Packet().end()), second);
}

TEST(Scanning, PacketSplitAcrossChunksIsJoined)
{
    const Bytes frame = EncodeFrame(0x41, 0x60, 1, 0, Text("split \x7D\x7E\x7F across"));
    for (std::size_t cut = 1; cut < frame.size(); ++cut) {
        CPacketScanner scanner;
        std::size_t consumed = 0;
        ASSERT_EQ(scanner.Feed(std::span(frame).first(cut), consumed),
                  CPacketScanner::Result::NeedMore);
        EXPECT_EQ(consumed, cut);
        EXPECT_TRUE(scanner.Started());
        EXPECT_TRUE(scanner.Packet().empty());
        ASSERT_EQ(scanner.Feed(std::span(frame).subspan(cut), consumed),
                  CPacketScanner::Result::Packet);
        EXPECT_EQ(Bytes(scanner.Packet().begin(), scanner.Packet().end()), frame);
        EXPECT_FALSE(scanner.Started());
    }
}

TEST(Scanning, PacketLimitIsExactAndScannerRecovers)
{
    CPacketScanner scanner;
    Bytes atLimit(kMaxPacketBytes, 0x01);
    atLimit.front() = kStartMarker;
    atLimit.back() = kEndMarker;
    std::size_t consumed = 0;
    ASSERT_EQ(scanner.Feed(atLimit, consumed), CPacketScanner::Result::Packet);
    EXPECT_EQ(scanner.Packet().size(), kMaxPacketBytes);

    Bytes over(kMaxPacketBytes + 1, 0x01);
    over.front() = kStartMarker;
    over.back() = kEndMarker;
    EXPECT_EQ(scanner.Feed(over, consumed), CPacketScanner::Result::Error);
    EXPECT_EQ(scanner.Error(), STR_ERROR_PACKET);
    EXPECT_EQ(consumed, kMaxPacketBytes + 1);
    EXPECT_TRUE(scanner.Packet().empty());

    // The same overflow reached one byte at a time, across many chunks.
    const Bytes body(1000, 0x02);
    ASSERT_EQ(scanner.Feed(Bytes{kStartMarker}, consumed), CPacketScanner::Result::NeedMore);
    CPacketScanner::Result r = CPacketScanner::Result::NeedMore;
    std::size_t fed = 1;
    while (r == CPacketScanner::Result::NeedMore && fed < 2 * kMaxPacketBytes) {
        r = scanner.Feed(body, consumed);
        fed += consumed;
    }
    EXPECT_EQ(r, CPacketScanner::Result::Error);
    EXPECT_EQ(fed, kMaxPacketBytes + 1);

    const Bytes good{0x7F, 0x41, 0x50, 0x01, 0x00, 0x92, 0x7E};
    ASSERT_EQ(scanner.Feed(good, consumed), CPacketScanner::Result::Packet);
    EXPECT_EQ(Bytes(scanner.Packet().begin(), scanner.Packet().end()), good);
}

TEST(Scanning, ResetDropsAPartialPacket)
{
    CPacketScanner scanner;
    std::size_t consumed = 0;
    ASSERT_EQ(scanner.Feed(Bytes{0x7F, 0x41, 0x50}, consumed), CPacketScanner::Result::NeedMore);
    scanner.Reset();
    EXPECT_FALSE(scanner.Started());
    EXPECT_EQ(scanner.Feed(Bytes{0x01, 0x00, 0x92, 0x7E}, consumed), CPacketScanner::Result::Error);
}

// ---- Reassembly -----------------------------------------------------------------------------

TEST(Reassembly, PacketsInOrderCompleteTheReply)
{
    Bytes buffer(1000);
    CReplyAssembler reply(buffer);
    reply.Begin();
    EXPECT_EQ(reply.Add(*MakePacket(3, 0, Text("one,"))), CReplyAssembler::Result::Incomplete);
    EXPECT_EQ(reply.Progress(), 33);
    EXPECT_EQ(reply.Add(*MakePacket(3, 1, Text("two,"))), CReplyAssembler::Result::Incomplete);
    EXPECT_EQ(reply.Progress(), 66);
    EXPECT_EQ(reply.Add(*MakePacket(3, 2, Text("three"))), CReplyAssembler::Result::Complete);
    EXPECT_EQ(reply.Progress(), 100);
    EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + reply.Length()), Text("one,two,three"));
    EXPECT_TRUE(reply.Error().empty());
}

TEST(Reassembly, SkippedIndexFailsAndTheReplyStaysFailed)
{
    Bytes buffer(1000);
    CReplyAssembler reply(buffer);
    reply.Begin();
    ASSERT_EQ(reply.Add(*MakePacket(3, 0, Text("a"))), CReplyAssembler::Result::Incomplete);
    EXPECT_EQ(reply.Add(*MakePacket(3, 2, Text("c"))), CReplyAssembler::Result::Error);
    EXPECT_EQ(reply.Error(), STR_ERROR_SEQUENCE);
    EXPECT_EQ(reply.Error(), "Communication Error!");
    EXPECT_EQ(reply.Add(*MakePacket(3, 1, Text("b"))), CReplyAssembler::Result::Error);

    reply.Begin();
    EXPECT_TRUE(reply.Error().empty());
    EXPECT_EQ(reply.Length(), 0u);
    EXPECT_EQ(reply.Add(*MakePacket(1, 0, Text("x"))), CReplyAssembler::Result::Complete);
}

TEST(Reassembly, FirstPacketMayNotStartAfterIndexZero)
{
    Bytes buffer(100);
    CReplyAssembler reply(buffer);
    reply.Begin();
    EXPECT_EQ(reply.Add(*MakePacket(3, 1, Text("b"))), CReplyAssembler::Result::Error);
    EXPECT_EQ(reply.Error(), STR_ERROR_SEQUENCE);
}

TEST(Reassembly, SinglePacketAndTotalZeroCompleteAtOnce)
{
    Bytes buffer(100);
    CReplyAssembler reply(buffer);
    for (std::uint8_t total : {1, 0}) {
        reply.Begin();
        EXPECT_EQ(reply.Add(*MakePacket(total, 0, Text("id"))), CReplyAssembler::Result::Complete);
        EXPECT_EQ(reply.Progress(), 100);
        EXPECT_EQ(reply.Length(), 2u);
    }
}

TEST(Reassembly, RepeatedIndexZeroKeepsWhatCameBefore)
{
    Bytes buffer(100);
    CReplyAssembler reply(buffer);
    reply.Begin();
    ASSERT_EQ(reply.Add(*MakePacket(2, 0, Text("AB"))), CReplyAssembler::Result::Incomplete);
    ASSERT_EQ(reply.Add(*MakePacket(2, 0, Text("CD"))), CReplyAssembler::Result::Incomplete);
    ASSERT_EQ(reply.Add(*MakePacket(2, 1, Text("EF"))), CReplyAssembler::Result::Complete);
    EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + reply.Length()), Text("ABCDEF"));
}

TEST(Reassembly, ProgressStaysWithinOneToNinetyNineWhileIncomplete)
{
    Bytes buffer(100);
    CReplyAssembler reply(buffer);
    reply.Begin();
    ASSERT_EQ(reply.Add(*MakePacket(255, 0, {})), CReplyAssembler::Result::Incomplete);
    EXPECT_EQ(reply.Progress(), 1);
    ASSERT_EQ(reply.Add(*MakePacket(255, 1, {})), CReplyAssembler::Result::Incomplete);
    EXPECT_EQ(reply.Progress(), 1);
    ASSERT_EQ(reply.Add(*MakePacket(255, 2, {})), CReplyAssembler::Result::Incomplete);
    EXPECT_EQ(reply.Progress(), 300 / 255);

    // An index past the total completes; progress never exceeds 100.
    reply.Begin();
    ASSERT_EQ(reply.Add(*MakePacket(2, 0, {})), CReplyAssembler::Result::Incomplete);
    EXPECT_EQ(reply.Progress(), 50);
    reply.Begin();
    ASSERT_EQ(reply.Add(*MakePacket(1, 0, {})), CReplyAssembler::Result::Complete);
    ASSERT_EQ(reply.Add(*MakePacket(1, 1, {})), CReplyAssembler::Result::Complete);
    EXPECT_EQ(reply.Progress(), 100);
}

TEST(Reassembly, ReplyLargerThanItsBufferFailsWithoutWritingPastIt)
{
    Bytes storage(120, 0xAA);
    CReplyAssembler reply{std::span(storage).first(100)};
    reply.Begin();
    ASSERT_EQ(reply.Add(*MakePacket(3, 0, Bytes(60, 0x11))), CReplyAssembler::Result::Incomplete);
    EXPECT_EQ(reply.Add(*MakePacket(3, 1, Bytes(41, 0x22))), CReplyAssembler::Result::Error);
    EXPECT_EQ(reply.Error(), STR_ERROR_PACKET);
    EXPECT_TRUE(std::all_of(storage.begin() + 100, storage.end(),
                            [](std::uint8_t b) { return b == 0xAA; }));

    // Exactly full is fine.
    reply.Begin();
    ASSERT_EQ(reply.Add(*MakePacket(2, 0, Bytes(60, 0x11))), CReplyAssembler::Result::Incomplete);
    EXPECT_EQ(reply.Add(*MakePacket(2, 1, Bytes(40, 0x22))), CReplyAssembler::Result::Complete);
    EXPECT_EQ(reply.Length(), 100u);
}

TEST(Reassembly, ReplyIsCappedAtTheReplyLimitEvenWithALargerBuffer)
{
    Bytes storage(kMaxReplyBytes + 5000);
    CReplyAssembler reply(storage);
    reply.Begin();
    const Bytes chunk(10000, 0x5A);
    const auto packets = static_cast<std::uint8_t>(kMaxReplyBytes / chunk.size());
    for (std::uint8_t i = 0; i < packets; ++i)
        ASSERT_NE(reply.Add(*MakePacket(255, i, chunk)), CReplyAssembler::Result::Error) << int(i);
    EXPECT_EQ(reply.Length(), kMaxReplyBytes);
    EXPECT_EQ(reply.Add(*MakePacket(255, packets, Bytes(1, 0x01))), CReplyAssembler::Result::Error);
    EXPECT_EQ(reply.Error(), STR_ERROR_PACKET);
}

TEST(Reassembly, InconsistentPacketLengthIsRejected)
{
    Bytes buffer(kMaxReplyBytes);
    CReplyAssembler reply(buffer);
    reply.Begin();
    auto packet = MakePacket(1, 0, Text("x"));
    packet->payloadLength = kPayloadStoreSize + 1;
    EXPECT_EQ(reply.Add(*packet), CReplyAssembler::Result::Error);
    EXPECT_EQ(reply.Length(), 0u);
}

// ---- Scanner, decoder and assembler together ------------------------------------------------

TEST(Pipeline, MultiPacketReplyInRandomChunksIsReassembledExactly)
{
    std::mt19937 rng(77);
    Bytes file(30000);
    for (auto &b : file)
        b = static_cast<std::uint8_t>(rng());

    const std::size_t per = 4000;
    const auto total = static_cast<std::uint8_t>((file.size() + per - 1) / per);
    Bytes stream;
    for (std::uint8_t i = 0; i < total; ++i) {
        const std::size_t from = i * per;
        const std::size_t to = std::min(file.size(), from + per);
        const Bytes frame =
            EncodeFrame(0x41, REQ_SCREEN, total, i, std::span(file).subspan(from, to - from));
        stream.insert(stream.end(), frame.begin(), frame.end());
    }

    for (int round = 0; round < 5; ++round) {
        CPacketScanner scanner;
        auto packet = std::make_unique<DecodedPacket>();
        Bytes buffer(kMaxReplyBytes);
        CReplyAssembler reply(buffer);
        reply.Begin();
        CReplyAssembler::Result state = CReplyAssembler::Result::Incomplete;
        std::size_t pos = 0;
        while (pos < stream.size() && state == CReplyAssembler::Result::Incomplete) {
            const std::size_t size = std::min<std::size_t>(1 + rng() % 5000, stream.size() - pos);
            std::span<const std::uint8_t> chunk(stream.data() + pos, size);
            pos += size;
            while (!chunk.empty() && state == CReplyAssembler::Result::Incomplete) {
                std::size_t consumed = 0;
                const auto r = scanner.Feed(chunk, consumed);
                ASSERT_NE(r, CPacketScanner::Result::Error);
                chunk = chunk.subspan(consumed);
                if (r == CPacketScanner::Result::Packet) {
                    ASSERT_EQ(DecodePacket(scanner.Packet(), *packet), std::string_view{});
                    state = reply.Add(*packet);
                }
            }
        }
        ASSERT_EQ(state, CReplyAssembler::Result::Complete);
        EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + reply.Length()), file);
    }
}
