// Reply packing: packets decode and reassemble to the reply, sizes and counts stay within
// what a receiver accepts, and the broken variants are broken in the intended way.
#include "Protocol.h"
#include "SimPacking.h"

#include <gtest/gtest.h>

#include <memory>
#include <numeric>

namespace {

std::vector<std::uint8_t> Pattern(std::size_t n)
{
    // Plenty of bytes that need escaping.
    std::vector<std::uint8_t> data(n);
    for (std::size_t i = 0; i < n; ++i)
        data[i] = static_cast<std::uint8_t>(0x7C + i % 5);
    return data;
}

struct Reassembled
{
    std::vector<std::uint8_t> data;
    std::vector<std::size_t> payloadSizes;
    std::string error;
    bool complete = false;
};

Reassembled Reassemble(const SimFrames &frames)
{
    Reassembled out;
    auto packet = std::make_unique<klr::DecodedPacket>();
    std::vector<std::uint8_t> buffer(klr::kMaxReplyBytes);
    klr::CReplyAssembler assembler(buffer);
    assembler.Begin();
    for (const auto &frame : frames) {
        const std::string_view error = klr::DecodePacket(frame, *packet);
        if (!error.empty()) {
            out.error = error;
            return out;
        }
        out.payloadSizes.push_back(packet->payloadLength);
        const auto result = assembler.Add(*packet);
        if (result == klr::CReplyAssembler::Result::Error) {
            out.error = assembler.Error();
            return out;
        }
        out.complete = result == klr::CReplyAssembler::Result::Complete;
    }
    out.data.assign(buffer.begin(), buffer.begin() + static_cast<long>(assembler.Length()));
    return out;
}

TEST(SimPacking, PacketsReassembleToTheReplyWithTheRequestedSize)
{
    const auto data = Pattern(25000);
    for (std::size_t size : {std::size_t{1000}, std::size_t{4096}, klr::kPayloadStoreSize}) {
        SimFrames frames;
        std::string error;
        ASSERT_TRUE(PackReply(klr::REQ_SCREEN, data, size, frames, error));
        EXPECT_EQ(frames.size(), (data.size() + size - 1) / size);
        const Reassembled r = Reassemble(frames);
        ASSERT_TRUE(r.error.empty()) << r.error;
        EXPECT_TRUE(r.complete);
        EXPECT_EQ(r.data, data);
        for (std::size_t s : r.payloadSizes)
            EXPECT_LE(s, size);
    }
}

TEST(SimPacking, EmptyReplyIsOnePacketAndSizesAreCapped)
{
    SimFrames frames;
    std::string error;
    ASSERT_TRUE(PackReply(klr::REQ_SCREEN, {}, 1000, frames, error));
    ASSERT_EQ(frames.size(), 1u);
    const Reassembled r = Reassemble(frames);
    EXPECT_TRUE(r.complete);
    EXPECT_TRUE(r.data.empty());

    // A packet size above the receiver's payload store is cut down to it.
    std::vector<std::size_t> sizes;
    ASSERT_TRUE(ChunkSizes(3 * klr::kPayloadStoreSize, 1000000, sizes));
    EXPECT_EQ(sizes.size(), 3u);
}

TEST(SimPacking, MoreThan255PacketsUseLargerPacketsOrFail)
{
    std::vector<std::size_t> sizes;
    ASSERT_TRUE(ChunkSizes(100000, 100, sizes));
    EXPECT_LE(sizes.size(), kSimMaxPackets);
    EXPECT_EQ(std::accumulate(sizes.begin(), sizes.end(), std::size_t{0}), 100000u);
    EXPECT_EQ(sizes.front(), (100000 + 254) / 255);

    const std::size_t tooBig = kSimMaxPackets * klr::kPayloadStoreSize + 1;
    EXPECT_FALSE(ChunkSizes(tooBig, klr::kPayloadStoreSize, sizes));
    SimFrames frames;
    std::string error;
    EXPECT_FALSE(PackReply(klr::REQ_SCREEN, std::vector<std::uint8_t>(tooBig), 100, frames, error));
    EXPECT_FALSE(error.empty());
    EXPECT_TRUE(frames.empty());
}

TEST(SimPacking, UsbPacketsFitOneBlockEvenWhenEveryByteIsEscaped)
{
    for (std::uint8_t fill : {std::uint8_t{0x7E}, std::uint8_t{0x41}}) {
        const std::vector<std::uint8_t> data(30000, fill);
        SimFrames frames;
        std::string error;
        ASSERT_TRUE(PackReplyForUsb(klr::REQ_SCREEN, data, frames, error));
        for (const auto &frame : frames)
            EXPECT_LE(frame.size(), klr::kUsbBlockSize);
        const Reassembled r = Reassemble(frames);
        ASSERT_TRUE(r.error.empty()) << r.error;
        EXPECT_EQ(r.data, data);
    }
}

TEST(SimPacking, BadChecksumIsDetectedEvenWhenTheChecksumIsEscaped)
{
    auto packet = std::make_unique<klr::DecodedPacket>();
    // Payload bytes chosen so that the correct checksum is 0x7D, 0x7E, 0x7F and a plain one.
    for (int target : {0x7D, 0x7E, 0x7F, 0x10}) {
        const std::uint8_t header = static_cast<std::uint8_t>(0x41 + 0x60 + 1 + 0);
        const std::vector<std::uint8_t> payload{static_cast<std::uint8_t>(target - header)};
        const auto good = klr::EncodeFrame(0x41, 0x60, 1, 0, payload);
        ASSERT_EQ(klr::DecodePacket(good, *packet), "");
        const auto bad = EncodeFrameBadChecksum(0x41, 0x60, 1, 0, payload);
        EXPECT_EQ(klr::DecodePacket(bad, *packet), klr::STR_ERROR_CHECKSUM) << target;
    }
}

TEST(SimPacking, ExplicitIndexesMakeAnOutOfSequenceReply)
{
    const auto data = Pattern(300);
    const SimFrames frames = EncodeChunks(klr::REQ_SCREEN, data, {100, 100, 100}, {0, 2, 3});
    const Reassembled r = Reassemble(frames);
    EXPECT_EQ(r.error, klr::STR_ERROR_SEQUENCE);
}

} // namespace
