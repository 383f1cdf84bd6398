// A small instrument behind CUsbDeviceSim for the engine tests: answers identification and
// screen requests block by block and keeps the key commands it was sent, in order.
#pragma once

#include "CUsbDeviceSim.h"
#include "Protocol.h"
#include "ScriptedPeer.h"

#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace enginetest {

inline CUsbDeviceSim::Block BlockOf(const Bytes &frame)
{
    CUsbDeviceSim::Block block{};
    std::memcpy(block.data(), frame.data(), std::min(frame.size(), block.size()));
    return block;
}

class SimUsbInstrument
{
public:
    std::string identity = "KL561B";
    // Screen number n (counting from 0) is screen(n).
    std::function<Bytes(int)> screen = [](int n) {
        return PatternBytes(5000 + static_cast<std::size_t>(n % 7) * 1000,
                            static_cast<std::uint32_t>(n));
    };
    std::size_t packetSize = 2000;

    std::vector<CUsbDeviceSim::Block> Handle(const std::uint8_t *block)
    {
        auto packet = std::make_unique<klr::DecodedPacket>();
        {
            std::lock_guard lock(m_mutex);
            m_scanner.Reset();
            std::size_t consumed = 0;
            if (m_scanner.Feed({block, klr::kUsbBlockSize}, consumed) !=
                    klr::CPacketScanner::Result::Packet ||
                !klr::DecodePacket(m_scanner.Packet(), *packet).empty()) {
                return {};
            }
        }
        Bytes payload(packet->payload.begin(),
                      packet->payload.begin() + static_cast<std::ptrdiff_t>(packet->payloadLength));
        std::vector<CUsbDeviceSim::Block> replies;
        if (packet->code == klr::REQ_EQUIP_INFO) {
            replies.push_back(BlockOf(klr::EncodeFrame(0x41, klr::REQ_EQUIP_INFO, 1, 0,
                                                       Bytes(identity.begin(), identity.end()))));
        } else if (packet->code == klr::REQ_SCREEN) {
            int n;
            {
                std::lock_guard lock(m_mutex);
                n = m_screens++;
            }
            for (const Bytes &frame : ReplyFrames(klr::REQ_SCREEN, screen(n), packetSize)) {
                replies.push_back(BlockOf(frame));
            }
        } else if (packet->code == klr::REQ_CMD) {
            std::lock_guard lock(m_mutex);
            m_commands.emplace_back(reinterpret_cast<const char *>(payload.data()));
        }
        return replies;
    }

    CUsbDeviceSim::Handler Handler()
    {
        return [this](const std::uint8_t *block) { return Handle(block); };
    }

    std::vector<std::string> Commands() const
    {
        std::lock_guard lock(m_mutex);
        return m_commands;
    }

private:
    mutable std::mutex m_mutex;
    klr::CPacketScanner m_scanner;
    int m_screens = 0;
    std::vector<std::string> m_commands;
};

// The link owns and deletes its device; the test keeps the simulated device alive through
// this forwarder so that it can still look at it afterwards.
class SharedSimDevice : public IUsbBlockDevice
{
public:
    explicit SharedSimDevice(std::shared_ptr<CUsbDeviceSim> device) : m_device(std::move(device)) {}
    bool Open() override { return m_device->Open(); }
    void Close() override { m_device->Close(); }
    bool IsOpen() const override { return m_device->IsOpen(); }
    bool WriteBlock(const std::uint8_t *block) override { return m_device->WriteBlock(block); }
    bool ReadBlock(std::uint8_t *block, int timeoutMs) override
    {
        return m_device->ReadBlock(block, timeoutMs);
    }
    int OpenPauseMs() const override { return m_device->OpenPauseMs(); }

private:
    std::shared_ptr<CUsbDeviceSim> m_device;
};

// Each open makes a fresh simulated device and leaves it in `device` for the test.
inline UsbDeviceFactory SimFactory(SimUsbInstrument &instrument,
                                   std::shared_ptr<CUsbDeviceSim> &device,
                                   std::function<void(CUsbDeviceSim &)> prepare = {})
{
    return [&instrument, &device, prepare]() -> std::unique_ptr<IUsbBlockDevice> {
        device = std::make_shared<CUsbDeviceSim>(instrument.Handler());
        if (prepare) {
            prepare(*device);
        }
        return std::make_unique<SharedSimDevice>(device);
    };
}

} // namespace enginetest
