// The simulated instrument: answers decoded requests with framed reply packets, acts on
// key texts, renders fresh screens, and misbehaves on request. Carrier-neutral: the TCP
// server and the simulated USB device both feed it. Thread-safe.
#pragma once

#include "CSimPanelState.h"
#include "CSimScreen.h"
#include "IUsbBlockDevice.h"
#include "Protocol.h"
#include "SimPacking.h"
#include "SimTypes.h"

#include <QByteArray>
#include <QTime>

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <random>
#include <string>
#include <string_view>
#include <vector>

// What a carrier should do with one request.
struct SimReply
{
    enum class Action
    {
        None,    // nothing to send (a key command)
        Answer,  // write noise, then the packets
        Close,   // drop the connection without answering
        Silence, // keep the connection and never answer
    };
    Action action = Action::None;
    std::vector<std::uint8_t> noise;
    SimFrames packets;
    int latencyMs = 0;    // pause before the first byte
    int splitDelayMs = 0; // > 0: every packet goes out in two writes with this pause between
};

using SimUsbBlock = std::array<std::uint8_t, klr::kUsbBlockSize>;

class CSimInstrument
{
public:
    using LogSink = std::function<void(std::string_view)>;
    using Clock = std::function<QTime()>;

    static constexpr int kHighQuality = 90;
    static constexpr std::string_view kSerial = "SN2026-04417";
    static constexpr std::string_view kFirmware = "FW3.12.0";

    CSimInstrument();

    // Setting the model also picks the family it implies; SetFamily afterwards overrides.
    void SetModel(const std::string &model);
    std::string Model() const;
    void SetFamily(SimFamily family);
    SimFamily Family() const;
    void SetSeed(std::uint32_t seed);
    // Payload bytes per reply packet over TCP (capped to the receiver's payload store).
    void SetPacketSize(std::size_t bytes);
    std::size_t PacketSize() const;
    // The fault hits every `every`-th reply (1 = every reply), counting from the next one.
    void SetFault(SimFault fault, int every = 1);
    SimFault Fault() const;
    // Each reply is faulty with `probability` (0 ends the mix), its fault drawn from `kinds`;
    // seeded, so that a run can be repeated. Takes the place of SetFault while on.
    void SetFaultMix(double probability, std::vector<SimFault> kinds, std::uint32_t seed);
    // Sees every screen JPEG that goes out, faulty replies included. Runs under the
    // instrument's lock: keep it short.
    void SetScreenObserver(std::function<void(const QByteArray &)> observer);
    void SetLatencyMs(int ms);
    void SetSplitDelayMs(int ms);
    // Time shown on the screen's clock; the wall clock unless set.
    void SetClock(Clock clock);
    // Where diagnostics go; standard error unless set.
    void SetLogSink(LogSink sink);

    // One decoded request in, what to send back out.
    SimReply Handle(const klr::DecodedPacket &request, bool usb = false);

    // One 4096-byte block written by a USB host in, the reply blocks out.
    std::vector<SimUsbBlock> HandleUsbBlock(const std::uint8_t *block);
    // A factory for the link's simulated USB device, bound to this instrument. The
    // instrument must outlive every device made by it.
    UsbDeviceFactory UsbFactory();

    // Key texts received, in order, without their line feed.
    std::vector<std::string> ReceivedCommands() const;
    // Key texts exactly as they arrived (up to the first NUL of the text field).
    std::vector<std::string> ReceivedCommandsRaw() const;
    void ClearReceivedCommands();
    // Key texts received since the instrument was made; also readable from a screen
    // observer, which runs under the instrument's lock.
    std::uint64_t CommandsReceived() const { return m_commandCount.load(); }
    QByteArray LastScreenJpeg() const;
    std::uint64_t ScreensSent() const;
    std::uint64_t RepliesSent() const;
    CSimPanelState State() const;

    // Renders one frame without sending it (for tests and previews).
    QImage RenderFrame();

private:
    SimReply Answer(std::uint8_t code, std::vector<std::uint8_t> data, bool usb);
    void Log(const std::string &line) const;

    mutable std::mutex m_mutex;
    std::string m_model{kDefaultModel};
    CSimPanelState m_state;
    CSimScreen m_screen;
    std::size_t m_packetSize = klr::kPayloadStoreSize;
    SimFault m_fault = SimFault::None;
    int m_faultEvery = 1;
    std::uint64_t m_faultBase = 0;
    double m_mixProbability = 0;
    std::vector<SimFault> m_mixKinds;
    std::mt19937 m_mixRandom;
    std::function<void(const QByteArray &)> m_screenObserver;
    int m_latencyMs = 0;
    int m_splitDelayMs = 50;
    Clock m_clock;
    LogSink m_log;
    std::vector<std::string> m_commands;
    std::atomic<std::uint64_t> m_commandCount{0};
    QByteArray m_lastJpeg;
    std::uint64_t m_frame = 0;
    std::uint64_t m_screensSent = 0;
    std::uint64_t m_replies = 0;
};
