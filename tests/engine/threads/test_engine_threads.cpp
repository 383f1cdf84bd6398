// The link shared by a screen worker and the window thread, as the panels use it.
#include "CDevComm.h"
#include "ScriptedPeer.h"
#include "SimUsbInstrument.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <string>

using namespace enginetest;

namespace {

// Only to catch hangs: sanitizers and emulated systems make these cases many times slower.
constexpr auto kHang = std::chrono::seconds(100);

Bytes Screen(int n)
{
    return PatternBytes(1000 + static_cast<std::size_t>(n * 7919 % 30000),
                        static_cast<std::uint32_t>(n));
}

std::string KeyText(int n)
{
    return "KEYP:K" + std::to_string(n) + "\n";
}

// Answers screen requests with screen n (n counting screen requests), ignores commands.
ScriptedPeer::Responder ScreenResponder()
{
    auto screens = std::make_shared<int>(0);
    return [screens](const Request &request) {
        if (request.code != klr::REQ_SCREEN) {
            return std::vector<Step>{};
        }
        return std::vector<Step>{
            SendStep(Join(ReplyFrames(klr::REQ_SCREEN, Screen((*screens)++), 10240)))};
    };
}

std::vector<std::string> Commands(const std::vector<Request> &requests)
{
    std::vector<std::string> texts;
    for (const Request &request : requests) {
        if (request.code == klr::REQ_CMD) {
            texts.emplace_back(reinterpret_cast<const char *>(request.payload.data()));
        }
    }
    return texts;
}

// One whole exchange under the link's lock, as the refresh worker does it.
int FetchScreen(CDevComm &link, Bytes &picture)
{
    auto exchange = link.LockExchange();
    link.RequestFile(klr::kCommand, klr::REQ_SCREEN, "currentdisp.jpg", 400000);
    int result = 0;
    do {
        result = link.PollReply();
    } while (result >= 0 && result < 100);
    if (result == 100) {
        picture.assign(link.GetReplyData(), link.GetReplyData() + link.GetReplyLength());
    }
    return result;
}

} // namespace

TEST(EngineThreads, ScreensAndKeyCommandsDoNotDisturbEachOther)
{
    constexpr int kCount = 1000;
    ScriptedPeer peer;
    peer.SetResponder(ScreenResponder());
    CDevComm link;
    link.Init(nullptr);
    link.SetPort(peer.Port());
    ASSERT_EQ(link.ConnectTcp(), 1);

    auto screens = std::async(std::launch::async, [&] {
        int damaged = 0;
        Bytes picture;
        for (int i = 0; i < kCount; ++i) {
            if (FetchScreen(link, picture) != 100 || picture != Screen(i)) {
                ++damaged;
            }
        }
        return damaged;
    });
    // The key thread does not take the lock itself: each send must take it on its own.
    auto keys = std::async(std::launch::async, [&] {
        int unsent = 0;
        for (int i = 0; i < kCount; ++i) {
            if (link.SendTextCommand(klr::kCommand, klr::REQ_CMD, KeyText(i)) != 1) {
                ++unsent;
            }
        }
        return unsent;
    });
    ASSERT_EQ(screens.wait_for(kHang), std::future_status::ready);
    ASSERT_EQ(keys.wait_for(kHang), std::future_status::ready);
    EXPECT_EQ(screens.get(), 0);
    EXPECT_EQ(keys.get(), 0);

    ASSERT_TRUE(peer.WaitForRequests(2 * kCount));
    std::vector<std::string> expected;
    for (int i = 0; i < kCount; ++i) {
        expected.push_back(KeyText(i));
    }
    EXPECT_EQ(Commands(peer.Requests()), expected);
}

TEST(EngineThreads, DisconnectCutsARunningExchangeShortAndLeavesTheLinkUsable)
{
    ScriptedPeer peer; // silent at first
    CDevComm link;
    link.Init(nullptr);
    link.SetPort(peer.Port());
    // Were Disconnect to wait for the exchange to run out, it would wait for minutes.
    link.SetReceiveAttemptMs(60000);
    ASSERT_EQ(link.ConnectTcp(), 1);

    Bytes picture;
    auto worker = std::async(std::launch::async, [&] { return FetchScreen(link, picture); });
    ASSERT_TRUE(peer.WaitForRequests(1));
    auto disconnected = std::async(std::launch::async, [&] { link.Disconnect(); });
    ASSERT_EQ(disconnected.wait_for(kHang), std::future_status::ready);
    ASSERT_EQ(worker.wait_for(kHang), std::future_status::ready);
    EXPECT_EQ(worker.get(), -1);
    EXPECT_EQ(link.ErrorText(), "STR_ERROR_TIMEOUT");
    EXPECT_EQ(link.IsConnected(), 0);
    ASSERT_TRUE(peer.WaitForHangUps(1));

    // Both sides carry on: a new connection fetches whole screens again.
    peer.SetResponder(ScreenResponder());
    ASSERT_EQ(link.ConnectTcp(), 1);
    for (int i = 0; i < 3; ++i) {
        ASSERT_EQ(FetchScreen(link, picture), 100);
        EXPECT_EQ(picture, Screen(i));
    }
}

TEST(EngineThreads, UsbScreensAndKeyCommandsDoNotDisturbEachOther)
{
    constexpr int kCount = 500;
    SimUsbInstrument instrument;
    std::shared_ptr<CUsbDeviceSim> device;
    CDevComm link;
    link.Init(nullptr);
    link.SetUsbDeviceFactory(SimFactory(instrument, device));
    ASSERT_EQ(link.OpenUsb(nullptr), 1);

    auto screens = std::async(std::launch::async, [&] {
        int damaged = 0;
        for (int i = 0; i < kCount; ++i) {
            auto exchange = link.LockExchange();
            if (link.UsbRequestFile(klr::REQ_SCREEN, "currentdisp.jpg") != 1 ||
                link.UsbReadReply() != 100 ||
                Bytes(link.GetReplyData(), link.GetReplyData() + link.GetReplyLength()) !=
                    instrument.screen(i)) {
                ++damaged;
            }
        }
        return damaged;
    });
    auto keys = std::async(std::launch::async, [&] {
        int unsent = 0;
        for (int i = 0; i < kCount; ++i) {
            if (link.UsbSendTextCommand(KeyText(i)) != 1) {
                ++unsent;
            }
        }
        return unsent;
    });
    ASSERT_EQ(screens.wait_for(kHang), std::future_status::ready);
    ASSERT_EQ(keys.wait_for(kHang), std::future_status::ready);
    EXPECT_EQ(screens.get(), 0);
    EXPECT_EQ(keys.get(), 0);
    std::vector<std::string> expected;
    for (int i = 0; i < kCount; ++i) {
        expected.push_back(KeyText(i));
    }
    EXPECT_EQ(instrument.Commands(), expected);
}

TEST(EngineThreads, UsbSendGivesUpOnAReadThatStaysBusy)
{
    SimUsbInstrument instrument;
    std::shared_ptr<CUsbDeviceSim> device;
    CDevComm link;
    link.Init(nullptr);
    link.SetUsbDeviceFactory(SimFactory(instrument, device));
    ASSERT_EQ(link.OpenUsb(nullptr), 1);
    // The reader waits for a first block that does not come for a long while.
    link.SetUsbReadTimeoutMs(30000);
    device->SetDropReplies(true);
    ASSERT_EQ(link.UsbSendPacket(klr::REQ_EQUIP_INFO, nullptr, 0, 1), 1);
    while (link.UsbBusy() == 0) {
        std::this_thread::yield();
    }
    auto sent = std::async(std::launch::async, [&] { return link.UsbSendTextCommand("KEYP:A\n"); });
    ASSERT_EQ(sent.wait_for(kHang), std::future_status::ready);
    EXPECT_EQ(sent.get(), 0);
    // Cleared by the sender that gave up, while the read itself still waits.
    EXPECT_EQ(link.UsbBusy(), 0);
    EXPECT_EQ(device->ReadsInProgress(), 1);
    EXPECT_TRUE(instrument.Commands().empty());
    device->SetDropReplies(false);
    device->Push(BlockOf(klr::EncodeFrame(0x41, 0x50, 1, 0, Bytes{'X'})));
}
