// The carrier-neutral operations of CDevComm: the same calls over TCP (scripted loopback
// peer) and USB (simulated device), and giving up on request.
#include "CDevComm.h"
#include "LoopbackListener.h"
#include "ScriptedPeer.h"
#include "SimUsbInstrument.h"
#include "UsbPlatform.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <string>
#include <thread>
#include <vector>

using namespace enginetest;

namespace {

// Only to catch hangs; nothing here is a measurement.
constexpr auto kHang = std::chrono::seconds(20);

class CountingOwner : public IDevCommOwner
{
public:
    void SetScreenReady(int value) override
    {
        if (value == 1)
            ++readyCalls;
    }
    std::atomic<int> readyCalls{0};
};

// Answers the identification with `identity` and screens with `screen`, in 1000-byte packets.
ScriptedPeer::Responder Instrument(Bytes identity, Bytes screen)
{
    return [identity, screen](const Request &request) {
        if (request.code == klr::REQ_EQUIP_INFO)
            return std::vector<Step>{SendStep(Join(ReplyFrames(request.code, identity, 1000)))};
        if (request.code == klr::REQ_SCREEN)
            return std::vector<Step>{SendStep(Join(ReplyFrames(request.code, screen, 1000)))};
        return std::vector<Step>{};
    };
}

} // namespace

TEST(ConnMethods, OnlyTheThreeStoredNumbersAreMethods)
{
    EXPECT_EQ(ConnMethodFromInt(1), ConnMethod::TcpIPv4);
    EXPECT_EQ(ConnMethodFromInt(2), ConnMethod::Usb);
    EXPECT_EQ(ConnMethodFromInt(3), ConnMethod::TcpIPv6);
    for (int other : {0, 4, -1, 256})
        EXPECT_EQ(ConnMethodFromInt(other), std::nullopt) << other;
    EXPECT_TRUE(IsTcp(ConnMethod::TcpIPv4));
    EXPECT_TRUE(IsTcp(ConnMethod::TcpIPv6));
    EXPECT_FALSE(IsTcp(ConnMethod::Usb));
}

TEST(LinkApiTcp, OpenIdentifyFetchAndKeyUseTheTcpRequests)
{
    ScriptedPeer peer;
    const Bytes identity = {'K', 'L', '5', '6', '1', 'B', 0, 'S', 'N'};
    const Bytes screen = PatternBytes(3500, 21);
    peer.SetResponder(Instrument(identity, screen));
    CDevComm link;
    link.Init(nullptr);
    link.SetPort(peer.Port());
    ASSERT_EQ(link.Open(ConnMethod::TcpIPv4, "127.0.0.1", nullptr), 1);
    EXPECT_EQ(link.IsConnected(), 1);

    Bytes reply;
    int sent = 0;
    ASSERT_EQ(link.Identify(ConnMethod::TcpIPv4, reply, sent), LinkStatus::Complete);
    EXPECT_EQ(reply, identity);
    EXPECT_EQ(sent, 7);

    Bytes picture;
    ASSERT_EQ(link.FetchFile(ConnMethod::TcpIPv4, "currentdisp.jpg", picture),
              LinkStatus::Complete);
    EXPECT_EQ(picture, screen);

    EXPECT_TRUE(link.SendKey(ConnMethod::TcpIPv4, "KEYP:MODE\n"));
    ASSERT_TRUE(peer.WaitForRequests(3));
    const auto requests = peer.Requests();
    EXPECT_EQ(requests[0].frame, (Bytes{0x7F, 0x41, 0x50, 0x01, 0x00, 0x92, 0x7E}));
    const auto named = klr::MakeNamedPayload("currentdisp.jpg", 400000);
    EXPECT_EQ(requests[1].payload, Bytes(named.begin(), named.end()));
    EXPECT_EQ(requests[2].code, klr::REQ_CMD);
    EXPECT_EQ(std::string(reinterpret_cast<const char *>(requests[2].payload.data())),
              "KEYP:MODE\n");

    // A key that never left is reported as such.
    link.Disconnect();
    EXPECT_FALSE(link.SendKey(ConnMethod::TcpIPv4, "KEYP:MODE\n"));
    EXPECT_FALSE(link.SendKey(ConnMethod::TcpIPv4, std::string(128, 'K')));
}

TEST(LinkApiTcp, FailuresCarryTheLinkTexts)
{
    const klr::net::NetworkingScope networking; // the first peer is gone before the connect
    std::uint16_t deadPort = 0;
    {
        ScriptedPeer gone;
        deadPort = gone.Port();
    }
    CDevComm link;
    link.Init(nullptr);
    link.SetPort(deadPort);
    EXPECT_EQ(link.Open(ConnMethod::TcpIPv4, "127.0.0.1", nullptr), 0);
    EXPECT_EQ(link.ErrorText(), "STR_DEVCOM_ERR_CHKCABLE");

    ScriptedPeer peer;
    peer.SetResponder([](const Request &) {
        Bytes bad = klr::EncodeFrame(0x41, 0x50, 1, 0, Bytes{'I', 'D'});
        bad[bad.size() - 2] ^= 1;
        return std::vector<Step>{SendStep(bad)};
    });
    link.SetPort(peer.Port());
    ASSERT_EQ(link.Open(ConnMethod::TcpIPv4, "127.0.0.1", nullptr), 1);
    Bytes reply{1};
    int sent = 0;
    EXPECT_EQ(link.Identify(ConnMethod::TcpIPv4, reply, sent), LinkStatus::Failed);
    EXPECT_EQ(link.ErrorText(), "STR_ERROR_CHECKSUM");
    EXPECT_TRUE(reply.empty());
    EXPECT_EQ(link.FetchFile(ConnMethod::TcpIPv4, "currentdisp.jpg", reply), LinkStatus::Failed);
    EXPECT_EQ(link.ErrorText(), "STR_ERROR_CHECKSUM");

    // The caller's abort flag ends a transfer before its first poll.
    const std::atomic<int> abort{1};
    EXPECT_EQ(link.FetchFile(ConnMethod::TcpIPv4, "currentdisp.jpg", reply, &abort),
              LinkStatus::Cancelled);
}

TEST(LinkApiTcp, CancelPendingEndsAWaitingFetchAndConnect)
{
    ScriptedPeer peer; // never answers
    CDevComm link;
    link.Init(nullptr);
    link.SetPort(peer.Port());
    link.SetReceiveAttemptMs(60000);
    ASSERT_EQ(link.Open(ConnMethod::TcpIPv4, "127.0.0.1", nullptr), 1);
    Bytes picture;
    auto fetch = std::async(std::launch::async, [&] {
        return link.FetchFile(ConnMethod::TcpIPv4, "currentdisp.jpg", picture);
    });
    ASSERT_TRUE(peer.WaitForRequests(1));
    link.CancelPending();
    ASSERT_EQ(fetch.wait_for(kHang), std::future_status::ready);
    EXPECT_EQ(fetch.get(), LinkStatus::Cancelled);
    // Later operations give up at once, until the next Open.
    int sent = 0;
    EXPECT_EQ(link.Identify(ConnMethod::TcpIPv4, picture, sent), LinkStatus::Cancelled);
    link.Disconnect();

    // A listener whose queue is full leaves the next connect waiting for its answer.
    LoopbackListener full(false, 0);
    std::vector<LoopbackPeer> fillers;
    if (!full.FillUntilSilent(fillers))
        GTEST_SKIP() << "this system answers connects to a full queue";
    link.SetPort(full.Port());
    link.SetConnectTimeoutMs(60000);
    auto open = std::async(std::launch::async,
                           [&] { return link.Open(ConnMethod::TcpIPv4, "127.0.0.1", nullptr); });
    ASSERT_EQ(open.wait_for(std::chrono::milliseconds(200)), std::future_status::timeout);
    link.CancelPending();
    ASSERT_EQ(open.wait_for(kHang), std::future_status::ready);
    EXPECT_EQ(open.get(), 0);
    EXPECT_EQ(link.ErrorText(), "STR_DEVCOM_ERR_CHKCABLE");
    EXPECT_EQ(link.IsConnected(), 0);
}

TEST(LinkApiUsb, OpenIdentifyFetchAndKeyUseTheUsbRequests)
{
    SimUsbInstrument instrument;
    std::shared_ptr<CUsbDeviceSim> device;
    CountingOwner owner;
    CDevComm link;
    link.Init(&owner);
    link.SetUsbDeviceFactory(SimFactory(instrument, device));
    ASSERT_EQ(link.Open(ConnMethod::Usb, "ignored", &owner), 1);

    Bytes reply;
    int sent = 0;
    ASSERT_EQ(link.Identify(ConnMethod::Usb, reply, sent), LinkStatus::Complete);
    EXPECT_EQ(sent, 1);
    EXPECT_EQ(reply, Bytes(instrument.identity.begin(), instrument.identity.end()));
    // The reader thread told the owner, as it does for a panel.
    EXPECT_EQ(owner.readyCalls.load(), 1);

    Bytes picture;
    ASSERT_EQ(link.FetchFile(ConnMethod::Usb, "currentdisp.jpg", picture), LinkStatus::Complete);
    EXPECT_EQ(picture, instrument.screen(0));

    EXPECT_TRUE(link.SendKey(ConnMethod::Usb, "KEYP:MODE\n"));
    EXPECT_EQ(instrument.Commands(), std::vector<std::string>{"KEYP:MODE\n"});

    // The reader is woken even when the block did not go out; its read then finds nothing.
    link.SetUsbReadTimeoutMs(100);
    device->SetWritesFail(true);
    EXPECT_EQ(link.Identify(ConnMethod::Usb, reply, sent), LinkStatus::NotSent);
    EXPECT_EQ(sent, 0);
    EXPECT_EQ(link.FetchFile(ConnMethod::Usb, "currentdisp.jpg", picture), LinkStatus::NotSent);
    EXPECT_FALSE(link.SendKey(ConnMethod::Usb, "KEYP:MODE\n"));
    link.CloseUsb();
}

TEST(LinkApiUsb, ASilentReaderIsCancelledOrTimesOut)
{
    SimUsbInstrument instrument;
    std::shared_ptr<CUsbDeviceSim> device;
    CountingOwner owner;
    CDevComm link;
    link.Init(&owner);
    link.SetUsbDeviceFactory(SimFactory(instrument, device));
    link.SetUsbReadTimeoutMs(60000);
    ASSERT_EQ(link.Open(ConnMethod::Usb, "", &owner), 1);
    device->SetStalled(true);
    auto identify = std::async(std::launch::async, [&] {
        Bytes text;
        int sent = 0;
        return link.Identify(ConnMethod::Usb, text, sent, 100000, 100);
    });
    ASSERT_EQ(identify.wait_for(std::chrono::milliseconds(200)), std::future_status::timeout);
    link.CancelPending();
    ASSERT_EQ(identify.wait_for(kHang), std::future_status::ready);
    EXPECT_EQ(identify.get(), LinkStatus::Cancelled);
    EXPECT_EQ(owner.readyCalls.load(), 0);
    // The reader's read goes on and, once the device answers, tells the owner as always.
    device->SetStalled(false);
    for (auto start = std::chrono::steady_clock::now();
         owner.readyCalls.load() == 0 && std::chrono::steady_clock::now() - start < kHang;)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_EQ(owner.readyCalls.load(), 1);

    ASSERT_EQ(link.Open(ConnMethod::Usb, "", &owner), 1);
    link.SetUsbReadTimeoutMs(300);
    device->SetDropReplies(true);
    Bytes reply;
    int sent = 0;
    EXPECT_EQ(link.Identify(ConnMethod::Usb, reply, sent, 3, 10), LinkStatus::Timeout);
    EXPECT_EQ(sent, 1);
    link.CloseUsb();
}

// A failed connect says why in words, with the address, where it used to give only
// STR_DEVCOM_ERR_CHKCABLE for a bad name, a refused port and a silent host alike.
TEST(RegressConnectCause, EachKindOfFailureSaysWhyWithTheAddress)
{
    const klr::net::NetworkingScope networking; // the first peer is gone before the connect
    CDevComm link;
    link.Init(nullptr);
    std::uint16_t deadPort = 0;
    {
        ScriptedPeer gone;
        deadPort = gone.Port();
    }
    link.SetPort(deadPort);
    EXPECT_EQ(link.Open(ConnMethod::TcpIPv4, "127.0.0.1", nullptr), 0);
    EXPECT_EQ(link.ErrorText(), "STR_DEVCOM_ERR_CHKCABLE");
    EXPECT_EQ(link.LastCause(), "Connection refused by 127.0.0.1:" + std::to_string(deadPort));
    EXPECT_FALSE(link.PeerClosed());
    if (UnusedLoopbackPort(true) != 0) {
        EXPECT_EQ(link.Open(ConnMethod::TcpIPv6, "::1", nullptr), 0);
        EXPECT_EQ(link.LastCause(), "Connection refused by [::1]:" + std::to_string(deadPort));
    }
    EXPECT_EQ(link.Open(ConnMethod::TcpIPv4, "no-such-host.invalid", nullptr), 0);
    EXPECT_EQ(link.LastCause(), "Host name not found");

    ScriptedPeer peer;
    link.SetPort(peer.Port());
    ASSERT_EQ(link.Open(ConnMethod::TcpIPv4, "127.0.0.1", nullptr), 1);
    EXPECT_EQ(link.LastCause(), "");
    link.Disconnect();

    CDevComm usb;
    usb.Init(nullptr);
    EXPECT_EQ(usb.Open(ConnMethod::Usb, "", nullptr), -1);
    EXPECT_EQ(usb.LastCause(), PlatformUsbNeedsIds() ? "No USB device configured (set UsbId)"
                                                     : "No USB instrument found");
    usb.SetUsbIds("fffe:fffd");
    EXPECT_EQ(usb.Open(ConnMethod::Usb, "", nullptr), -1);
    EXPECT_EQ(usb.LastCause(), "No USB instrument found");

    LoopbackListener silent(false, 0);
    std::vector<LoopbackPeer> fillers;
    if (!silent.FillUntilSilent(fillers))
        GTEST_SKIP() << "no silent address on loopback here";
    link.SetPort(silent.Port());
    link.SetConnectTimeoutMs(200);
    EXPECT_EQ(link.Open(ConnMethod::TcpIPv4, "127.0.0.1", nullptr), 0);
    EXPECT_EQ(link.LastCause(),
              "No answer from 127.0.0.1:" + std::to_string(silent.Port()) + " within 0.2 s");
}

// The session tells a lost link from an instrument that is merely slow to answer.
TEST(RegressConnectCause, PeerClosedTellsAClosedConnectionFromASilentOne)
{
    ScriptedPeer peer;
    std::atomic<bool> close{false};
    peer.SetResponder([&](const Request &) {
        return close ? std::vector<Step>{CloseStep()} : std::vector<Step>{};
    });
    CDevComm link;
    link.Init(nullptr);
    link.SetPort(peer.Port());
    link.SetReceiveAttemptMs(20);
    ASSERT_EQ(link.Open(ConnMethod::TcpIPv4, "127.0.0.1", nullptr), 1);
    Bytes out;
    EXPECT_EQ(link.FetchFile(ConnMethod::TcpIPv4, "currentdisp.jpg", out), LinkStatus::Failed);
    EXPECT_EQ(link.ErrorText(), "STR_ERROR_TIMEOUT");
    EXPECT_FALSE(link.PeerClosed());
    close = true;
    EXPECT_EQ(link.FetchFile(ConnMethod::TcpIPv4, "currentdisp.jpg", out), LinkStatus::Failed);
    EXPECT_EQ(link.ErrorText(), "STR_ERROR_TIMEOUT");
    EXPECT_TRUE(link.PeerClosed());
}
