// CDevComm over USB against the simulated device.
#include "CDevComm.h"
#include "Diagnostic.h"
#include "SimUsbInstrument.h"
#include "UsbPure.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <future>

using namespace enginetest;

namespace {

constexpr auto kHang = std::chrono::seconds(20);

class Owner : public IDevCommOwner
{
public:
    void SetScreenReady(int value) override
    {
        {
            std::lock_guard lock(m_mutex);
            m_values.push_back(value);
        }
        m_changed.notify_all();
    }
    bool WaitForCalls(std::size_t count)
    {
        std::unique_lock lock(m_mutex);
        return m_changed.wait_for(lock, kHang, [&] { return m_values.size() >= count; });
    }
    std::vector<int> Values()
    {
        std::lock_guard lock(m_mutex);
        return m_values;
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<int> m_values;
};

// Collects diagnostic lines while it lives.
class DiagnosticCapture
{
public:
    DiagnosticCapture()
    {
        klr::SetDiagnosticSink([this](std::string_view text) {
            std::lock_guard lock(m_mutex);
            m_lines.emplace_back(text);
        });
    }
    ~DiagnosticCapture() { klr::SetDiagnosticSink({}); }
    std::vector<std::string> Lines()
    {
        std::lock_guard lock(m_mutex);
        return m_lines;
    }

private:
    std::mutex m_mutex;
    std::vector<std::string> m_lines;
};

std::string Error(const CDevComm &link)
{
    std::string text;
    link.GetErrorText(text);
    return text;
}

Bytes Reply(CDevComm &link)
{
    auto lock = link.LockExchange();
    return Bytes(link.GetReplyData(), link.GetReplyData() + link.GetReplyLength());
}

struct UsbLink
{
    UsbLink()
    {
        link.Init(&owner);
        link.SetUsbDeviceFactory(SimFactory(instrument, device));
    }
    SimUsbInstrument instrument;
    std::shared_ptr<CUsbDeviceSim> device;
    Owner owner;
    CDevComm link;
};

} // namespace

TEST(EngineUsb, OpenWritesTheLanCommandBlockFirst)
{
    UsbLink u;
    ASSERT_EQ(u.link.OpenUsb(&u.owner), 1);
    const auto written = u.device->WrittenBlocks();
    ASSERT_EQ(written.size(), 1u);
    CUsbDeviceSim::Block expected{};
    std::memcpy(expected.data(), "LANCOMMAND\n", 12);
    EXPECT_EQ(written[0], expected);
}

TEST(EngineUsb, OpenWithoutADeviceFails)
{
    UsbLink u;
    u.link.SetUsbDeviceFactory(
        SimFactory(u.instrument, u.device, [](CUsbDeviceSim &sim) { sim.SetOpenFails(true); }));
    EXPECT_EQ(u.link.OpenUsb(&u.owner), -1);
    EXPECT_EQ(u.link.UsbReadReply(), -1);
    EXPECT_EQ(u.link.UsbSendTextCommand("KEYP:MODE\n"), 0);

    // The platform's own device, with no ID configured and with one nobody has.
    CDevComm platform;
    platform.Init(&u.owner);
    {
        DiagnosticCapture capture;
        EXPECT_EQ(platform.OpenUsb(&u.owner), -1);
        EXPECT_FALSE(capture.Lines().empty());
    }
    {
        DiagnosticCapture capture;
        platform.SetUsbIds("fffe:fffd");
        EXPECT_EQ(platform.OpenUsb(&u.owner), -1);
        EXPECT_FALSE(capture.Lines().empty());
    }
}

TEST(EngineUsb, WokenReaderReadsTheReplyAndTellsTheOwner)
{
    UsbLink u;
    ASSERT_EQ(u.link.OpenUsb(&u.owner), 1);
    EXPECT_EQ(u.link.UsbSendPacket(klr::REQ_EQUIP_INFO, nullptr, 0, 1), 1);
    ASSERT_TRUE(u.owner.WaitForCalls(1));
    EXPECT_EQ(u.owner.Values(), std::vector<int>{1});
    EXPECT_EQ(Reply(u.link), Bytes(u.instrument.identity.begin(), u.instrument.identity.end()));

    // A send that does not wake the reader leaves the reply to the caller.
    u.device->SetStalled(true);
    u.link.SetUsbReadTimeoutMs(100);
    EXPECT_EQ(u.link.UsbSendPacket(klr::REQ_EQUIP_INFO, nullptr, 0, 0), 1);
    u.device->SetStalled(false);
    EXPECT_EQ(u.link.UsbReadReply(), 100);
    EXPECT_EQ(u.owner.Values().size(), 1u);
}

TEST(EngineUsb, ScreenRequestReassemblesOneBlockPerPacket)
{
    UsbLink u;
    ASSERT_EQ(u.link.OpenUsb(&u.owner), 1);
    const Bytes picture = u.instrument.screen(0);
    EXPECT_EQ(u.link.UsbRequestFile(klr::REQ_SCREEN, "currentdisp.jpg"), 1);
    EXPECT_EQ(u.link.m_nOperation, 3);
    EXPECT_EQ(u.link.UsbReadReply(), 100);
    EXPECT_EQ(Reply(u.link), picture);

    // The request went out framed at byte 0 of a zeroed block.
    const auto written = u.device->WrittenBlocks();
    ASSERT_EQ(written.size(), 2u);
    const auto frame = klr::EncodeFrame(0x41, klr::REQ_SCREEN, 1, 0,
                                        klr::MakeNamedPayload("currentdisp.jpg", 400000));
    CUsbDeviceSim::Block expected{};
    std::memcpy(expected.data(), frame.data(), frame.size());
    EXPECT_EQ(written[1], expected);
}

TEST(EngineUsb, SilentDeviceReadTimesOutAsAnEmptyRead)
{
    UsbLink u;
    ASSERT_EQ(u.link.OpenUsb(&u.owner), 1);
    u.link.SetUsbReadTimeoutMs(100);
    u.device->SetDropReplies(true);
    ASSERT_EQ(u.link.UsbRequestFile(klr::REQ_SCREEN, "currentdisp.jpg"), 1);
    auto result = std::async(std::launch::async, [&] { return u.link.UsbReadReply(); });
    ASSERT_EQ(result.wait_for(kHang), std::future_status::ready);
    EXPECT_EQ(result.get(), -1);
    EXPECT_EQ(Error(u.link), "STR_ERROR_PACKET");
    EXPECT_EQ(u.link.UsbBusy(), 0);
}

TEST(EngineUsb, BrokenBlocksFailTheRead)
{
    UsbLink u;
    ASSERT_EQ(u.link.OpenUsb(&u.owner), 1);
    u.link.SetUsbReadTimeoutMs(100);
    auto readWith = [&](const Bytes &bytes) {
        u.device->Push(BlockOf(bytes));
        return u.link.UsbReadReply();
    };
    const Bytes good = klr::EncodeFrame(0x41, 0x50, 1, 0, Bytes{'O', 'K'});

    // The sentinel a read leaves when nothing came.
    Bytes untouched(35, '4');
    EXPECT_EQ(readWith(untouched), -1);
    EXPECT_EQ(Error(u.link), "STR_ERROR_PACKET");

    // A start marker without an end marker does not continue into the next block.
    Bytes open(good.begin(), good.end() - 1);
    EXPECT_EQ(readWith(open), -1);
    EXPECT_EQ(Error(u.link), "STR_ERROR_PACKET");

    Bytes badSum = good;
    badSum[badSum.size() - 2] ^= 0x10;
    EXPECT_EQ(readWith(badSum), -1);
    EXPECT_EQ(Error(u.link), "STR_ERROR_CHECKSUM");

    u.device->Push(BlockOf(klr::EncodeFrame(0x41, 0x50, 3, 0, Bytes{'a'})));
    EXPECT_EQ(readWith(klr::EncodeFrame(0x41, 0x50, 3, 2, Bytes{'c'})), -1);
    EXPECT_EQ(Error(u.link), "Communication Error!");

    // Padding after the end marker is ignored.
    Bytes padded = good;
    padded.insert(padded.end(), {0x01, 0x02, 0x7E});
    EXPECT_EQ(readWith(padded), 100);
    EXPECT_EQ(Reply(u.link), (Bytes{'O', 'K'}));
}

TEST(EngineUsb, FailedWriteIsReported)
{
    UsbLink u;
    ASSERT_EQ(u.link.OpenUsb(&u.owner), 1);
    u.device->SetWritesFail(true);
    EXPECT_EQ(u.link.UsbSendTextCommand("KEYP:MODE\n"), 0);
    EXPECT_EQ(u.link.UsbRequestFile(klr::REQ_SCREEN, "currentdisp.jpg"), 0);
    u.device->SetWritesFail(false);
    EXPECT_EQ(u.link.UsbSendTextCommand("KEYP:MODE\n"), 1);
    EXPECT_EQ(u.instrument.Commands(), std::vector<std::string>{"KEYP:MODE\n"});
    // Too long for the text field: refused, nothing written.
    EXPECT_EQ(u.link.UsbSendTextCommand(std::string(200, 'K')), 0);
    EXPECT_EQ(u.device->WrittenCount(), 2);
}

TEST(EngineUsb, CloseUsbJoinsAReaderInTheMiddleOfARead)
{
    UsbLink u;
    ASSERT_EQ(u.link.OpenUsb(&u.owner), 1);
    u.link.SetUsbReadTimeoutMs(300);
    u.device->SetDropReplies(true);
    ASSERT_EQ(u.link.UsbSendPacket(klr::REQ_EQUIP_INFO, nullptr, 0, 1), 1);
    while (u.device->ReadsInProgress() == 0 && u.device->ReadsDone() == 0) {
        std::this_thread::yield();
    }
    const auto first = u.device;
    auto closed = std::async(std::launch::async, [&] { u.link.CloseUsb(); });
    ASSERT_EQ(closed.wait_for(kHang), std::future_status::ready);
    // The read had ended before CloseUsb returned, and no other read followed.
    EXPECT_EQ(first->ReadsInProgress(), 0);
    EXPECT_EQ(first->ReadsDone(), 1);
    EXPECT_FALSE(first->IsOpen());
    EXPECT_EQ(u.link.IsConnected(), 0);
    EXPECT_EQ(u.link.UsbSendPacket(klr::REQ_EQUIP_INFO, nullptr, 0, 1), 0);
    EXPECT_TRUE(u.owner.Values().empty());

    // The link opens again afterwards with a fresh reader.
    ASSERT_EQ(u.link.OpenUsb(&u.owner), 1);
    EXPECT_NE(u.device, first);
    ASSERT_EQ(u.link.UsbSendPacket(klr::REQ_EQUIP_INFO, nullptr, 0, 1), 1);
    EXPECT_TRUE(u.owner.WaitForCalls(1));
}

TEST(EngineUsb, StopUsbReaderLeavesTheDeviceOpen)
{
    UsbLink u;
    ASSERT_EQ(u.link.OpenUsb(&u.owner), 1);
    u.link.StopUsbReader();
    // No reader any more: a wake does nothing, but the caller can still read.
    ASSERT_EQ(u.link.UsbSendPacket(klr::REQ_EQUIP_INFO, nullptr, 0, 1), 1);
    EXPECT_EQ(u.link.UsbReadReply(), 100);
    EXPECT_TRUE(u.owner.Values().empty());
}

TEST(EngineUsb, DestroyingTheLinkDuringAReadEndsTheReader)
{
    SimUsbInstrument instrument;
    std::shared_ptr<CUsbDeviceSim> device;
    Owner owner;
    auto link = std::make_unique<CDevComm>();
    link->Init(&owner);
    link->SetUsbDeviceFactory(SimFactory(instrument, device));
    ASSERT_EQ(link->OpenUsb(&owner), 1);
    link->SetUsbReadTimeoutMs(200);
    device->SetStalled(true);
    ASSERT_EQ(link->UsbSendPacket(klr::REQ_EQUIP_INFO, nullptr, 0, 1), 1);
    while (device->ReadsInProgress() == 0 && device->ReadsDone() == 0) {
        std::this_thread::yield();
    }
    auto destroyed = std::async(std::launch::async, [&] { link.reset(); });
    ASSERT_EQ(destroyed.wait_for(kHang), std::future_status::ready);
    EXPECT_EQ(device->ReadsInProgress(), 0);
    EXPECT_FALSE(device->IsOpen());
    EXPECT_TRUE(owner.Values().empty());
}
