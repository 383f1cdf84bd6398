#include "CSimInstrument.h"

#include "CUsbDeviceSim.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <iostream>
#include <memory>
#include <thread>

namespace {

constexpr std::string_view kNoise = "\r\nBOOT> ready\r\n";
// A packet this much larger than the receiver's payload store.
constexpr std::size_t kOversizeExtra = 1024;
constexpr std::size_t kOverlongExtra = 8192;

std::string Printable(std::string_view text)
{
    std::string out;
    for (const char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (u >= 0x20 && u < 0x7F) {
            out.push_back(c);
        } else {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", u);
            out += hex;
        }
    }
    return out;
}

std::string_view TextUpToNul(const std::uint8_t *data, std::size_t length)
{
    const auto *chars = reinterpret_cast<const char *>(data);
    const std::size_t n = std::find(chars, chars + length, '\0') - chars;
    return {chars, n};
}

} // namespace

CSimInstrument::CSimInstrument()
    : m_state(DefaultFamilyForModel(kDefaultModel)), m_clock([] { return QTime::currentTime(); }),
      m_log([](std::string_view line) { std::cerr << line << std::endl; })
{}

void CSimInstrument::SetModel(const std::string &model)
{
    std::lock_guard lock(m_mutex);
    m_model = model;
    m_state.SetFamily(DefaultFamilyForModel(model));
}

std::string CSimInstrument::Model() const
{
    std::lock_guard lock(m_mutex);
    return m_model;
}

void CSimInstrument::SetFamily(SimFamily family)
{
    std::lock_guard lock(m_mutex);
    m_state.SetFamily(family);
}

SimFamily CSimInstrument::Family() const
{
    std::lock_guard lock(m_mutex);
    return m_state.Family();
}

void CSimInstrument::SetSeed(std::uint32_t seed)
{
    std::lock_guard lock(m_mutex);
    m_screen.Reseed(seed);
}

void CSimInstrument::SetPacketSize(std::size_t bytes)
{
    std::lock_guard lock(m_mutex);
    m_packetSize = std::clamp<std::size_t>(bytes, 1, klr::kPayloadStoreSize);
}

std::size_t CSimInstrument::PacketSize() const
{
    std::lock_guard lock(m_mutex);
    return m_packetSize;
}

void CSimInstrument::SetFault(SimFault fault, int every)
{
    std::lock_guard lock(m_mutex);
    m_fault = fault;
    m_faultEvery = std::max(every, 1);
    m_faultBase = m_replies;
}

void CSimInstrument::SetFaultMix(double probability, std::vector<SimFault> kinds,
                                 std::uint32_t seed)
{
    std::lock_guard lock(m_mutex);
    m_mixKinds = std::move(kinds);
    m_mixProbability = m_mixKinds.empty() ? 0 : std::clamp(probability, 0.0, 1.0);
    m_mixRandom.seed(seed);
}

void CSimInstrument::SetScreenObserver(std::function<void(const QByteArray &)> observer)
{
    std::lock_guard lock(m_mutex);
    m_screenObserver = std::move(observer);
}

SimFault CSimInstrument::Fault() const
{
    std::lock_guard lock(m_mutex);
    return m_fault;
}

void CSimInstrument::SetLatencyMs(int ms)
{
    std::lock_guard lock(m_mutex);
    m_latencyMs = std::max(ms, 0);
}

void CSimInstrument::SetSplitDelayMs(int ms)
{
    std::lock_guard lock(m_mutex);
    m_splitDelayMs = std::max(ms, 0);
}

void CSimInstrument::SetClock(Clock clock)
{
    std::lock_guard lock(m_mutex);
    m_clock = std::move(clock);
}

void CSimInstrument::SetLogSink(LogSink sink)
{
    std::lock_guard lock(m_mutex);
    m_log = std::move(sink);
}

void CSimInstrument::Log(const std::string &line) const
{
    if (m_log)
        m_log(line);
}

std::vector<std::string> CSimInstrument::ReceivedCommands() const
{
    std::lock_guard lock(m_mutex);
    std::vector<std::string> out;
    out.reserve(m_commands.size());
    for (const std::string &raw : m_commands) {
        std::string_view text = raw;
        if (text.ends_with('\n'))
            text.remove_suffix(1);
        out.emplace_back(text);
    }
    return out;
}

std::vector<std::string> CSimInstrument::ReceivedCommandsRaw() const
{
    std::lock_guard lock(m_mutex);
    return m_commands;
}

void CSimInstrument::ClearReceivedCommands()
{
    std::lock_guard lock(m_mutex);
    m_commands.clear();
}

QByteArray CSimInstrument::LastScreenJpeg() const
{
    std::lock_guard lock(m_mutex);
    return m_lastJpeg;
}

std::uint64_t CSimInstrument::ScreensSent() const
{
    std::lock_guard lock(m_mutex);
    return m_screensSent;
}

std::uint64_t CSimInstrument::RepliesSent() const
{
    std::lock_guard lock(m_mutex);
    return m_replies;
}

CSimPanelState CSimInstrument::State() const
{
    std::lock_guard lock(m_mutex);
    return m_state;
}

QImage CSimInstrument::RenderFrame()
{
    std::lock_guard lock(m_mutex);
    return m_screen.Render(m_state, ++m_frame, m_clock ? m_clock() : QTime());
}

SimReply CSimInstrument::Handle(const klr::DecodedPacket &request, bool usb)
{
    std::lock_guard lock(m_mutex);
    const std::size_t length = std::min(request.payloadLength, request.payload.size());
    switch (request.code) {
    case klr::REQ_CMD: {
        const std::string_view raw =
            TextUpToNul(request.payload.data(), std::min(length, klr::kTextPayloadSize));
        m_commands.emplace_back(raw);
        ++m_commandCount;
        if (!m_state.Apply(raw))
            Log("sim: unknown command \"" + Printable(raw) + "\" ignored");
        return {};
    }
    case klr::REQ_EQUIP_INFO: {
        // Model text, then further NUL-separated fields a client may ignore.
        std::vector<std::uint8_t> data(m_model.begin(), m_model.end());
        data.push_back(0);
        data.insert(data.end(), kSerial.begin(), kSerial.end());
        data.push_back(0);
        data.insert(data.end(), kFirmware.begin(), kFirmware.end());
        data.push_back(0);
        return Answer(klr::REQ_EQUIP_INFO, std::move(data), usb);
    }
    case klr::REQ_SCREEN: {
        const std::string_view name =
            TextUpToNul(request.payload.data(), std::min(length, klr::kNameFieldSize));
        if (name != klr::kScreenFileName) {
            Log("sim: no such file \"" + Printable(name) + "\"");
            return Answer(klr::REQ_SCREEN, {}, usb);
        }
        const QImage image = m_screen.Render(m_state, ++m_frame, m_clock ? m_clock() : QTime());
        const QByteArray jpeg = CSimScreen::EncodeJpeg(image, m_state.JpegQuality());
        if (jpeg.isEmpty())
            Log("sim: JPEG encoding failed");
        std::vector<std::uint8_t> data(jpeg.begin(), jpeg.end());
        SimReply reply = Answer(klr::REQ_SCREEN, std::move(data), usb);
        if (reply.action == SimReply::Action::Answer) {
            m_lastJpeg = jpeg;
            if (m_screenObserver)
                m_screenObserver(jpeg);
            ++m_screensSent;
        }
        return reply;
    }
    default:
        char code[8];
        std::snprintf(code, sizeof code, "0x%02X", request.code);
        Log(std::string("sim: request code ") + code + " not served");
        return {};
    }
}

SimReply CSimInstrument::Answer(std::uint8_t code, std::vector<std::uint8_t> data, bool usb)
{
    SimReply reply;
    reply.action = SimReply::Action::Answer;
    reply.latencyMs = m_latencyMs;
    ++m_replies;
    SimFault fault = SimFault::None;
    if (m_mixProbability > 0) {
        if (std::uniform_real_distribution<double>(0, 1)(m_mixRandom) < m_mixProbability)
            fault = m_mixKinds[m_mixRandom() % m_mixKinds.size()];
    } else if (m_fault != SimFault::None &&
               (m_replies - m_faultBase) % static_cast<std::uint64_t>(m_faultEvery) == 0) {
        fault = m_fault;
    }

    if (fault == SimFault::Overlong)
        data.resize(klr::kMaxReplyBytes + kOverlongExtra, 0);

    std::string error;
    const bool packed = usb ? PackReplyForUsb(code, data, reply.packets, error)
                            : PackReply(code, data, m_packetSize, reply.packets, error);
    if (!packed) {
        Log("sim: cannot answer: " + error);
        reply.action = SimReply::Action::None;
        reply.packets.clear();
        return reply;
    }

    std::vector<std::size_t> sizes;
    switch (fault) {
    case SimFault::None:
    case SimFault::Overlong:
        break;
    case SimFault::Close:
        reply.action = SimReply::Action::Close;
        reply.packets.clear();
        break;
    case SimFault::Silence:
        reply.action = SimReply::Action::Silence;
        reply.packets.clear();
        break;
    case SimFault::Noise:
        reply.noise.assign(kNoise.begin(), kNoise.end());
        break;
    case SimFault::Split:
        reply.splitDelayMs = m_splitDelayMs;
        break;
    case SimFault::Checksum: {
        // The first packet, so a client notices at once.
        ChunkSizes(data.size(), usb ? data.size() : m_packetSize, sizes);
        const std::size_t first = usb ? std::min<std::size_t>(data.size(), 1024) : sizes[0];
        reply.packets[0] = EncodeFrameBadChecksum(
            klr::kCommand, code, static_cast<std::uint8_t>(reply.packets.size()), 0,
            std::span<const std::uint8_t>(data).first(first));
        break;
    }
    case SimFault::Sequence: {
        // At least two packets, the second one skipping an index.
        if (usb) {
            const std::size_t half = std::min<std::size_t>(data.size() / 2, 1024);
            sizes = {half, std::min<std::size_t>(data.size() - half, 1024)};
        } else if (!ChunkSizes(data.size(), m_packetSize, sizes) || sizes.size() < 2) {
            sizes = {data.size() / 2, data.size() - data.size() / 2};
        }
        std::vector<std::uint8_t> indexes(sizes.size());
        for (std::size_t i = 0; i < indexes.size(); ++i)
            indexes[i] = static_cast<std::uint8_t>(i == 0 ? 0 : std::min<std::size_t>(i + 1, 255));
        std::size_t used = 0;
        for (std::size_t s : sizes)
            used += s;
        reply.packets =
            EncodeChunks(code, std::span<const std::uint8_t>(data).first(used), sizes, indexes);
        break;
    }
    case SimFault::Oversize: {
        std::vector<std::uint8_t> big(klr::kPayloadStoreSize + kOversizeExtra, 0x20);
        std::copy_n(data.begin(), std::min(data.size(), big.size()), big.begin());
        reply.packets = {klr::EncodeFrame(klr::kCommand, code, 1, 0, big)};
        break;
    }
    }
    if (fault != SimFault::None)
        Log("sim: reply " + std::to_string(m_replies) + " with fault " +
            std::string(FaultName(fault)));
    return reply;
}

std::vector<SimUsbBlock> CSimInstrument::HandleUsbBlock(const std::uint8_t *block)
{
    static constexpr std::string_view kLanCommand = "LANCOMMAND\n";
    std::vector<SimUsbBlock> blocks;
    if (std::string_view(reinterpret_cast<const char *>(block), kLanCommand.size()) == kLanCommand)
        return blocks;

    // One request frame from byte 0; whatever follows its end marker is padding.
    klr::CPacketScanner scanner;
    std::size_t consumed = 0;
    const auto result =
        scanner.Feed(std::span<const std::uint8_t>(block, klr::kUsbBlockSize), consumed);
    if (result != klr::CPacketScanner::Result::Packet) {
        Log("sim: USB block without a request packet");
        return blocks;
    }
    auto request = std::make_unique<klr::DecodedPacket>();
    if (const std::string_view error = klr::DecodePacket(scanner.Packet(), *request);
        !error.empty()) {
        Log("sim: bad USB request: " + std::string(error));
        return blocks;
    }
    SimReply reply = Handle(*request, true);
    if (reply.action != SimReply::Action::Answer)
        return blocks;
    if (reply.latencyMs > 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(reply.latencyMs));
    for (std::size_t i = 0; i < reply.packets.size(); ++i) {
        SimUsbBlock out{};
        std::size_t at = 0;
        if (i == 0) {
            at = std::min(reply.noise.size(), out.size());
            std::copy_n(reply.noise.begin(), at, out.begin());
        }
        // A packet that does not fit is cut at the block's end, end marker and all.
        const auto &frame = reply.packets[i];
        std::copy_n(frame.begin(), std::min(frame.size(), out.size() - at), out.begin() + at);
        blocks.push_back(out);
    }
    return blocks;
}

UsbDeviceFactory CSimInstrument::UsbFactory()
{
    return [this]() -> std::unique_ptr<IUsbBlockDevice> {
        return std::make_unique<CUsbDeviceSim>(
            [this](const std::uint8_t *block) { return HandleUsbBlock(block); });
    };
}
