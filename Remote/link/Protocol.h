// Wire format of the instrument link: framing, byte stuffing, checksum, request
// payloads, the packet scanner, packet decoding and reply reassembly.
// Pure code: no sockets, no clocks, no globals. Shared by CDevComm, the simulator
// and the fuzzers.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

namespace klr {

inline constexpr std::uint8_t kStartMarker = 0x7F;
inline constexpr std::uint8_t kEndMarker = 0x7E;
inline constexpr std::uint8_t kEscape = 0x7D;
inline constexpr std::uint8_t kEscapeXor = 0x20;

// Command byte of every request we send.
inline constexpr std::uint8_t kCommand = 0x41;

inline constexpr std::uint8_t REQ_EQUIP_INFO = 0x50;
inline constexpr std::uint8_t REQ_SCREEN = 0x60;
inline constexpr std::uint8_t REQ_CMD = 0x61;

// Limits of the receiving side.
inline constexpr std::size_t kMaxPacketBytes = 400000; // one packet as received, stuffing included
inline constexpr std::size_t kMaxReplyBytes = 400000;  // one reassembled reply
// Fixed store for the payload of one decoded packet: 10 KiB plus room for a header's worth of
// slack.
inline constexpr std::size_t kPayloadStoreSize = 10 * 1024 + 256;
inline constexpr std::size_t kMinPacketBytes = 7; // unstuffed, markers included
// The total is one byte, so no reply is longer than this many packets; a peer that keeps
// restarting at index 0 would otherwise keep a reply open for ever.
inline constexpr int kMaxReplyPackets = 255;
inline constexpr std::size_t kMaxTcpFrame = 3072;
inline constexpr std::size_t kUsbBlockSize = 4096;

// Request payloads.
inline constexpr std::size_t kNameFieldSize = 80;
inline constexpr std::size_t kNamedPayloadSize = 84;
inline constexpr std::size_t kTextPayloadSize = 128;
inline constexpr std::uint32_t kMaxScreenSize = 400000;
inline constexpr std::string_view kScreenFileName = "currentdisp.jpg";

// Error texts, stored and logged literally.
inline constexpr std::string_view STR_ERROR_PACKET = "STR_ERROR_PACKET";
inline constexpr std::string_view STR_ERROR_CHECKSUM = "STR_ERROR_CHECKSUM";
inline constexpr std::string_view STR_ERROR_SEQUENCE = "Communication Error!";
inline constexpr std::string_view STR_ERROR_TIMEOUT = "STR_ERROR_TIMEOUT";
inline constexpr std::string_view STR_DEVCOM_ERR_CHKCABLE = "STR_DEVCOM_ERR_CHKCABLE";

// 8-bit wrapping sum.
std::uint8_t Checksum(std::span<const std::uint8_t> bytes);

// Frames one packet: 0x7F, stuffed body (command, code, total, index, payload,
// checksum), 0x7E. Used for requests (total 1, index 0) and by the simulator for replies.
std::vector<std::uint8_t> EncodeFrame(std::uint8_t command, std::uint8_t code, std::uint8_t total,
                                      std::uint8_t index, std::span<const std::uint8_t> payload);

// Request frame (command 0x41, total 1, index 0) written into out; returns the frame
// length, or 0 when it does not fit into out.
std::size_t EncodeRequest(std::uint8_t code, std::span<const std::uint8_t> payload,
                          std::span<std::uint8_t> out);

// 84-byte named payload: NUL-terminated name in a zeroed 80-byte field, value LE at 80.
// The name is cut to 79 characters.
std::array<std::uint8_t, kNamedPayloadSize> MakeNamedPayload(std::string_view name,
                                                             std::uint32_t value);

// 128-byte text payload, zero-padded. Returns false (and an all-zero payload) when the
// text does not fit with its terminating NUL, that is when it has 128 characters or more.
bool MakeTextPayload(std::string_view text, std::array<std::uint8_t, kTextPayloadSize> &out);

// The last packet decoded.
struct DecodedPacket
{
    std::uint8_t command = 0;
    std::uint8_t code = 0;
    std::uint8_t total = 0;
    std::uint8_t index = 0;
    std::size_t payloadLength = 0;
    // At most kPayloadStoreSize bytes of payload; the one byte more holds the checksum while
    // the packet is decoded.
    std::array<std::uint8_t, kPayloadStoreSize + 1> payload{};
};

// Unstuffs a collected packet (markers included) and checks it. Returns an empty view on
// success, else the error text (STR_ERROR_PACKET or STR_ERROR_CHECKSUM); on error `out`
// is marked empty (payloadLength 0, header zeroed) so that it is never reused.
std::string_view DecodePacket(std::span<const std::uint8_t> packet, DecodedPacket &out);

// Collects one packet from a stream, across any number of chunks, looking for the markers
// eight bytes at a time. The collection buffer is allocated once (kMaxPacketBytes).
class CPacketScanner
{
public:
    enum class Result
    {
        NeedMore,
        Packet,
        Error
    };

    CPacketScanner();

    // Scans data until the first end marker. `consumed` tells how many bytes were used;
    // the rest belongs to the next packet. Packet: Packet() holds start to end marker
    // (pointing into `data` when the packet lay whole in it, so keep `data` as it is while
    // Packet() is used). Error: Error() says why; the scanner is reset.
    Result Feed(std::span<const std::uint8_t> data, std::size_t &consumed);

    std::span<const std::uint8_t> Packet() const;
    std::string_view Error() const { return m_error; }
    bool Started() const { return m_started; }
    void Reset();

private:
    Result Fail(std::size_t consumedTo, std::size_t &consumed);

    // Holds a packet that spans chunks (from its start marker on).
    std::vector<std::uint8_t> m_buffer;
    std::size_t m_length = 0; // bytes of the packet collected so far, start marker included
    bool m_started = false;
    bool m_complete = false; // Packet() is valid until the next Feed or Reset
    std::span<const std::uint8_t> m_packet;
    std::string_view m_error;
};

// Joins the payloads of a reply's packets in order into a caller-owned buffer.
class CReplyAssembler
{
public:
    enum class Result
    {
        Incomplete,
        Complete,
        Error
    };

    explicit CReplyAssembler(std::span<std::uint8_t> replyBuffer);

    // A new request: nothing appended, expected index 0.
    void Begin();
    Result Add(const DecodedPacket &packet);

    std::size_t Length() const { return m_length; }
    std::string_view Error() const { return m_error; }
    // (index + 1) * 100 / total of the last packet added, total 0 counted as 1; kept within
    // 1..99 while incomplete and 100 once complete.
    int Progress() const { return m_progress; }

private:
    std::span<std::uint8_t> m_reply;
    std::size_t m_length = 0;
    int m_expected = 0;
    int m_packets = 0;
    int m_progress = 0;
    std::string_view m_error;
};

} // namespace klr
