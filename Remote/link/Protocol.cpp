#include "Protocol.h"

#include <algorithm>
#include <cstring>

namespace klr {

namespace {

constexpr std::size_t kHeaderBytes = 4; // command, code, total, index

bool NeedsEscape(std::uint8_t byte)
{
    return byte == kEscape || byte == kEndMarker || byte == kStartMarker;
}

// Writes one body byte, stuffed, at out[pos]. Returns the new position, or out.size() + 1
// when the byte does not fit.
std::size_t PutStuffed(std::uint8_t byte, std::span<std::uint8_t> out, std::size_t pos)
{
    if (NeedsEscape(byte)) {
        if (pos + 2 > out.size())
            return out.size() + 1;
        out[pos] = kEscape;
        out[pos + 1] = static_cast<std::uint8_t>(byte ^ kEscapeXor);
        return pos + 2;
    }
    if (pos + 1 > out.size())
        return out.size() + 1;
    out[pos] = byte;
    return pos + 1;
}

std::size_t StuffedSize(std::uint8_t byte)
{
    return NeedsEscape(byte) ? 2 : 1;
}

// Framed size of a packet with this header and payload.
std::size_t FrameSize(const std::array<std::uint8_t, kHeaderBytes> &header,
                      std::span<const std::uint8_t> payload, std::uint8_t checksum)
{
    std::size_t size = 2 + StuffedSize(checksum);
    for (std::uint8_t b : header)
        size += StuffedSize(b);
    for (std::uint8_t b : payload)
        size += StuffedSize(b);
    return size;
}

std::size_t WriteFrame(const std::array<std::uint8_t, kHeaderBytes> &header,
                       std::span<const std::uint8_t> payload, std::span<std::uint8_t> out)
{
    const std::uint8_t checksum = static_cast<std::uint8_t>(Checksum(header) + Checksum(payload));
    if (FrameSize(header, payload, checksum) > out.size())
        return 0;
    std::size_t pos = 0;
    out[pos++] = kStartMarker;
    for (std::uint8_t b : header)
        pos = PutStuffed(b, out, pos);
    for (std::uint8_t b : payload)
        pos = PutStuffed(b, out, pos);
    pos = PutStuffed(checksum, out, pos);
    out[pos++] = kEndMarker;
    return pos;
}

// Eight bytes at a time: a word with the high bit set in each byte lane whose byte is one of
// 0x7D, 0x7E, 0x7F (adding 3 to the low seven bits of 0x7D..0x7F carries into the high bit;
// bytes with the high bit set themselves are masked out).
constexpr std::uint64_t kLanes = 0x0101010101010101ULL;
constexpr std::uint64_t kLow7 = 0x7F * kLanes;
constexpr std::uint64_t kHigh = 0x80 * kLanes;

inline std::uint64_t Load(const std::uint8_t *p)
{
    std::uint64_t x;
    std::memcpy(&x, p, sizeof x);
    return x;
}

inline bool AnyStuffed(std::uint64_t x)
{
    return (((x & kLow7) + 3 * kLanes) & ~x & kHigh) != 0;
}

// The same for 0x7E and 0x7F only: the markers.
inline bool AnyMarker(std::uint64_t x)
{
    return (((x & kLow7) + 2 * kLanes) & ~x & kHigh) != 0;
}

inline bool IsMarker(std::uint8_t b)
{
    return b == kStartMarker || b == kEndMarker;
}

// Copies bytes from src into dst until the first byte that needs stuffing, the end, or
// `room` bytes, adding them to `sum` on the way. Returns how many it copied.
std::size_t CopyRun(const std::uint8_t *src, const std::uint8_t *end, std::uint8_t *dst,
                    std::size_t room, unsigned &sum)
{
    const std::uint8_t *const start = src;
    const std::uint8_t *const stop = src + std::min(static_cast<std::size_t>(end - src), room);
    // Byte sums of eight-byte words in four 16-bit lanes; folded before a lane can overflow.
    constexpr std::uint64_t kPairs = 0x00FF00FF00FF00FFULL;
    std::uint64_t lanes = 0;
    int words = 0;
    auto fold = [&] {
        sum += static_cast<unsigned>((lanes & 0xFFFF) + ((lanes >> 16) & 0xFFFF) +
                                     ((lanes >> 32) & 0xFFFF) + (lanes >> 48));
        lanes = 0;
        words = 0;
    };
    while (stop - src >= 8) {
        const std::uint64_t x = Load(src);
        if (AnyStuffed(x))
            break;
        std::memcpy(dst, &x, sizeof x);
        lanes += (x & kPairs) + ((x >> 8) & kPairs);
        if (++words == 128)
            fold();
        src += 8;
        dst += 8;
    }
    fold();
    while (src<stop &&static_cast<std::uint8_t>(*src - kEscape)> 2) {
        sum += *src;
        *dst++ = *src++;
    }
    return static_cast<std::size_t>(src - start);
}

// One body byte at src, undoing an escape: the escape is dropped and the byte after it,
// inside the body, taken XOR 0x20, whatever it is (the checksum judges the result). A
// marker inside the body, or an escape with nothing or a marker after it, is a broken packet.
bool TakeByte(const std::uint8_t *&src, const std::uint8_t *end, std::uint8_t &byte)
{
    if (src >= end || IsMarker(*src))
        return false;
    if (*src != kEscape) {
        byte = *src++;
        return true;
    }
    if (src + 1 >= end || IsMarker(src[1]))
        return false;
    byte = static_cast<std::uint8_t>(src[1] ^ kEscapeXor);
    src += 2;
    return true;
}

// Index of the first start or end marker in base[from, size), or size.
std::size_t FindMarker(const std::uint8_t *base, std::size_t from, std::size_t size)
{
    std::size_t i = from;
    while (size - i >= 8 && !AnyMarker(Load(base + i)))
        i += 8;
    while (i < size && !IsMarker(base[i]))
        ++i;
    return i;
}

void ClearPacket(DecodedPacket &out)
{
    out.command = 0;
    out.code = 0;
    out.total = 0;
    out.index = 0;
    out.payloadLength = 0;
}

} // namespace

std::uint8_t Checksum(std::span<const std::uint8_t> bytes)
{
    unsigned sum = 0;
    for (std::uint8_t b : bytes)
        sum += b;
    return static_cast<std::uint8_t>(sum);
}

std::vector<std::uint8_t> EncodeFrame(std::uint8_t command, std::uint8_t code, std::uint8_t total,
                                      std::uint8_t index, std::span<const std::uint8_t> payload)
{
    const std::array<std::uint8_t, kHeaderBytes> header{command, code, total, index};
    const std::uint8_t checksum = static_cast<std::uint8_t>(Checksum(header) + Checksum(payload));
    std::vector<std::uint8_t> frame(FrameSize(header, payload, checksum));
    WriteFrame(header, payload, frame);
    return frame;
}

std::size_t EncodeRequest(std::uint8_t code, std::span<const std::uint8_t> payload,
                          std::span<std::uint8_t> out)
{
    return WriteFrame({kCommand, code, 1, 0}, payload, out);
}

std::array<std::uint8_t, kNamedPayloadSize> MakeNamedPayload(std::string_view name,
                                                             std::uint32_t value)
{
    std::array<std::uint8_t, kNamedPayloadSize> payload{};
    const std::size_t n = std::min(name.size(), kNameFieldSize - 1);
    std::memcpy(payload.data(), name.data(), n);
    for (std::size_t i = 0; i < 4; ++i)
        payload[kNameFieldSize + i] = static_cast<std::uint8_t>(value >> (8 * i));
    return payload;
}

bool MakeTextPayload(std::string_view text, std::array<std::uint8_t, kTextPayloadSize> &out)
{
    out.fill(0);
    if (text.size() >= kTextPayloadSize)
        return false;
    std::memcpy(out.data(), text.data(), text.size());
    return true;
}

std::string_view DecodePacket(std::span<const std::uint8_t> packet, DecodedPacket &out)
{
    ClearPacket(out);
    // Stuffing can only lengthen a packet, so anything this short cannot hold a header.
    if (packet.size() < kMinPacketBytes || packet.size() > kMaxPacketBytes ||
        packet.front() != kStartMarker || packet.back() != kEndMarker)
        return STR_ERROR_PACKET;

    const std::uint8_t *src = packet.data() + 1;
    const std::uint8_t *const end = packet.data() + packet.size() - 1;
    unsigned sum = 0;

    // The header, byte by byte: four bytes, each possibly escaped.
    std::array<std::uint8_t, kHeaderBytes> header{};
    for (std::uint8_t &h : header) {
        if (!TakeByte(src, end, h))
            return ClearPacket(out), STR_ERROR_PACKET;
        sum += h;
    }

    // Payload and checksum, straight into the payload store (which has room for the
    // checksum behind the largest payload): runs between escapes in one step each.
    std::uint8_t *const store = out.payload.data();
    constexpr std::size_t kRoom = kPayloadStoreSize + 1;
    std::size_t count = 0;
    while (src < end) {
        const std::size_t run = CopyRun(src, end, store + count, kRoom - count, sum);
        src += run;
        count += run;
        if (src == end)
            break;
        std::uint8_t byte = 0;
        if (count == kRoom || !TakeByte(src, end, byte))
            return ClearPacket(out), STR_ERROR_PACKET;
        store[count++] = byte;
        sum += byte;
    }
    if (count == 0)
        return ClearPacket(out), STR_ERROR_PACKET;

    const std::uint8_t checksum = store[count - 1];
    if (static_cast<std::uint8_t>(sum - checksum) != checksum)
        return ClearPacket(out), STR_ERROR_CHECKSUM;

    out.command = header[0];
    out.code = header[1];
    out.total = header[2];
    out.index = header[3];
    out.payloadLength = count - 1;
    return {};
}

CPacketScanner::CPacketScanner() : m_buffer(kMaxPacketBytes) {}

void CPacketScanner::Reset()
{
    m_length = 0;
    m_started = false;
    m_complete = false;
    m_packet = {};
    m_error = {};
}

std::span<const std::uint8_t> CPacketScanner::Packet() const
{
    return m_complete ? m_packet : std::span<const std::uint8_t>{};
}

CPacketScanner::Result CPacketScanner::Fail(std::size_t consumedTo, std::size_t &consumed)
{
    Reset();
    m_error = STR_ERROR_PACKET;
    consumed = consumedTo;
    return Result::Error;
}

CPacketScanner::Result CPacketScanner::Feed(std::span<const std::uint8_t> data,
                                            std::size_t &consumed)
{
    consumed = 0;
    if (m_complete) {
        m_complete = false;
        m_length = 0;
        m_packet = {};
    }
    m_error = {};
    const std::uint8_t *const base = data.data();
    const std::size_t size = data.size();
    std::size_t pos = 0;
    // Where the packet being collected starts in `data`, while none of it is in m_buffer yet
    // (a packet that starts and ends in one chunk is handed out where it lies).
    std::size_t startInData = size;
    while (pos < size) {
        if (!m_started) {
            if (base[pos] != kStartMarker)
                return Fail(pos + 1, consumed);
            m_started = true;
            m_length = 1;
            startInData = pos++;
            continue;
        }
        // The next marker of either kind; everything before it belongs to the packet.
        const std::size_t marker = FindMarker(base, pos, size);
        if (marker < size && base[marker] == kStartMarker) {
            // A new start drops what was collected.
            m_length = 1;
            startInData = marker;
            pos = marker + 1;
            continue;
        }
        const bool ends = marker < size;
        const std::size_t take = (ends ? marker + 1 : size) - pos;
        if (m_length + take > kMaxPacketBytes)
            return Fail(pos + (kMaxPacketBytes - m_length) + 1, consumed);
        if (ends && startInData < size) {
            m_packet = data.subspan(startInData, marker + 1 - startInData);
        } else {
            if (startInData < size) {
                m_buffer[0] = kStartMarker;
                startInData = size;
            }
            std::memcpy(m_buffer.data() + m_length, base + pos, take);
            m_packet = {m_buffer.data(), m_length + take};
        }
        m_length += take;
        pos += take;
        if (ends) {
            m_started = false;
            m_complete = true;
            consumed = pos;
            return Result::Packet;
        }
    }
    // The chunk ended inside a packet: keep what it started.
    if (startInData < size) {
        m_buffer[0] = kStartMarker;
        m_packet = {};
    }
    consumed = size;
    return Result::NeedMore;
}

CReplyAssembler::CReplyAssembler(std::span<std::uint8_t> replyBuffer) : m_reply(replyBuffer) {}

void CReplyAssembler::Begin()
{
    m_length = 0;
    m_expected = 0;
    m_packets = 0;
    m_progress = 0;
    m_error = {};
}

CReplyAssembler::Result CReplyAssembler::Add(const DecodedPacket &packet)
{
    if (!m_error.empty())
        return Result::Error;
    const int index = packet.index;
    if (index != 0 && index != m_expected) {
        m_error = STR_ERROR_SEQUENCE;
        return Result::Error;
    }
    if (++m_packets > kMaxReplyPackets) {
        m_error = STR_ERROR_PACKET;
        return Result::Error;
    }
    m_expected = index + 1;

    const std::size_t capacity = std::min(m_reply.size(), kMaxReplyBytes);
    if (packet.payloadLength > kPayloadStoreSize || packet.payloadLength > capacity - m_length) {
        m_error = STR_ERROR_PACKET;
        return Result::Error;
    }
    if (packet.payloadLength > 0)
        std::memcpy(m_reply.data() + m_length, packet.payload.data(), packet.payloadLength);
    m_length += packet.payloadLength;

    const int total = packet.total == 0 ? 1 : packet.total;
    if (index + 1 >= total) {
        m_progress = 100;
        return Result::Complete;
    }
    // Incomplete replies report 1..99 so that a progress value is never mistaken for a result.
    m_progress = std::max(1, (index + 1) * 100 / total);
    return Result::Incomplete;
}

} // namespace klr
