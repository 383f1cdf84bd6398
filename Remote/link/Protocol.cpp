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

    // Unstuffed straight into the header and the payload store; the checksum byte is only
    // known to be the last once the end marker is reached, so each byte is held back one step.
    std::array<std::uint8_t, kHeaderBytes> header{};
    std::size_t count = 0; // unstuffed body bytes so far
    std::size_t payloadLength = 0;
    std::uint8_t held = 0;
    const std::size_t bodyEnd = packet.size() - 1;
    for (std::size_t i = 1; i < bodyEnd; ++i) {
        std::uint8_t byte = packet[i];
        if (byte == kStartMarker || byte == kEndMarker)
            return ClearPacket(out), STR_ERROR_PACKET;
        if (byte == kEscape) {
            // The escape is dropped and the byte after it, inside the body, taken XOR 0x20,
            // whatever it is: the checksum judges the result. Markers stay markers.
            if (i + 1 >= bodyEnd || packet[i + 1] == kStartMarker || packet[i + 1] == kEndMarker)
                return ClearPacket(out), STR_ERROR_PACKET;
            byte = static_cast<std::uint8_t>(packet[++i] ^ kEscapeXor);
        }
        if (count > kHeaderBytes) {
            if (payloadLength >= out.payload.size())
                return ClearPacket(out), STR_ERROR_PACKET;
            out.payload[payloadLength++] = held;
        }
        if (count < kHeaderBytes)
            header[count] = byte;
        else
            held = byte;
        ++count;
    }
    if (count < kHeaderBytes + 1)
        return ClearPacket(out), STR_ERROR_PACKET;

    const auto sum =
        static_cast<std::uint8_t>(Checksum(header) + Checksum({out.payload.data(), payloadLength}));
    if (sum != held)
        return ClearPacket(out), STR_ERROR_CHECKSUM;

    out.command = header[0];
    out.code = header[1];
    out.total = header[2];
    out.index = header[3];
    out.payloadLength = payloadLength;
    return {};
}

CPacketScanner::CPacketScanner() : m_buffer(kMaxPacketBytes) {}

void CPacketScanner::Reset()
{
    m_length = 0;
    m_started = false;
    m_complete = false;
    m_error = {};
}

std::span<const std::uint8_t> CPacketScanner::Packet() const
{
    if (!m_complete)
        return {};
    return {m_buffer.data(), m_length};
}

CPacketScanner::Result CPacketScanner::Feed(std::span<const std::uint8_t> data,
                                            std::size_t &consumed)
{
    consumed = 0;
    if (m_complete) {
        m_complete = false;
        m_length = 0;
    }
    m_error = {};
    for (std::size_t i = 0; i < data.size(); ++i) {
        const std::uint8_t byte = data[i];
        if (byte == kStartMarker) {
            m_buffer[0] = byte;
            m_length = 1;
            m_started = true;
            continue;
        }
        if (!m_started || m_length >= m_buffer.size()) {
            Reset();
            m_error = STR_ERROR_PACKET;
            consumed = i + 1;
            return Result::Error;
        }
        m_buffer[m_length++] = byte;
        if (byte == kEndMarker) {
            m_started = false;
            m_complete = true;
            consumed = i + 1;
            return Result::Packet;
        }
    }
    consumed = data.size();
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
    if (packet.payloadLength > packet.payload.size() ||
        packet.payloadLength > capacity - m_length) {
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
