// CDevComm over TCP against a scripted loopback peer.
#include "CDevComm.h"
#include "LoopbackListener.h"
#include "ScriptedPeer.h"

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <future>
#include <string>
#include <thread>

using namespace enginetest;
using Clock = std::chrono::steady_clock;

namespace {

// Only to catch hangs; nothing here is a measurement.
constexpr auto kHang = std::chrono::seconds(20);

std::string Error(const CDevComm &link)
{
    std::string text;
    link.GetErrorText(text);
    return text;
}

Bytes Reply(const CDevComm &link)
{
    auto lock = const_cast<CDevComm &>(link).LockExchange();
    const std::uint8_t *data = link.GetReplyData();
    return Bytes(data, data + link.GetReplyLength());
}

struct Connected
{
    explicit Connected(bool ipv6 = false) : peer(ipv6)
    {
        link.Init(nullptr);
        link.SetPort(peer.Port());
        link.SetHostAddress(ipv6 ? "::1" : "127.0.0.1");
        ok = ipv6 ? link.ConnectTcp6() : link.ConnectTcp();
        if (ok == 1 && !peer.WaitForConnections(1)) {
            ok = 0;
        }
    }
    ScriptedPeer peer;
    CDevComm link;
    int ok = 0;
};

int RequestScreen(CDevComm &link)
{
    return link.RequestFile(klr::kCommand, klr::REQ_SCREEN, std::string(klr::kScreenFileName),
                            klr::kMaxScreenSize);
}

// Polls until the reply completes or fails; returns the last result.
int PollToEnd(CDevComm &link)
{
    int result = 0;
    do {
        result = link.PollReply();
    } while (result >= 0 && result < 100);
    return result;
}

// A loopback connection whose buffers are small on both sides, so that a peer that stops
// reading fills them within a few dozen keys. The client end is for the link to take over.
struct SmallBufferConnection
{
    SmallBufferConnection() : listener(false, 8, 4096)
    {
        client = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        const int size = 4096;
        setsockopt(client, SOL_SOCKET, SO_SNDBUF, reinterpret_cast<const char *>(&size),
                   sizeof size);
        sockaddr_in target{};
        target.sin_family = AF_INET;
        target.sin_port = htons(listener.Port());
        target.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (klr::net::ConnectSocket(client, reinterpret_cast<sockaddr *>(&target), sizeof target) ==
            0)
            peer = listener.Accept(10000);
    }
    LoopbackListener listener;
    klr::net::SocketHandle client = klr::net::kInvalidSocket;
    LoopbackPeer peer;
};

std::string KeyText(int n)
{
    return "KEYP:K" + std::to_string(n) + "\n";
}

Bytes KeyFrame(int n)
{
    std::array<std::uint8_t, klr::kTextPayloadSize> payload{};
    klr::MakeTextPayload(KeyText(n), payload);
    return klr::EncodeFrame(klr::kCommand, klr::REQ_CMD, 1, 0, payload);
}

} // namespace

// A key waits (a bounded time) for room in the socket instead of being dropped the moment
// the buffers are full: a peer that pauses, then reads, gets every key, whole and in order.
TEST(RegressKeySend, KeysWaitForAPeerThatPausesInsteadOfFailing)
{
    SmallBufferConnection c;
    ASSERT_TRUE(c.peer.Valid());
    CDevComm link;
    link.Init(nullptr);
    link.AttachConnectedSocket(c.client, 1);
    constexpr int kKeys = 400;
    Bytes expected;
    for (int i = 0; i < kKeys; ++i) {
        const Bytes frame = KeyFrame(i);
        expected.insert(expected.end(), frame.begin(), frame.end());
    }
    Bytes received;
    std::thread reader([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        received = c.peer.Receive(expected.size(), 10000);
    });
    int failed = 0;
    for (int i = 0; i < kKeys; ++i)
        failed += link.SendKey(ConnMethod::TcpIPv4, KeyText(i)) ? 0 : 1;
    reader.join();
    EXPECT_EQ(failed, 0);
    EXPECT_EQ(received, expected);
}

// Against a peer that never reads, a key fails within its bound, and no key that did not
// leave whole was reported as sent.
TEST(RegressKeySend, APeerThatNeverReadsGetsAFailureAndNoPartialKeyCountsAsSent)
{
    SmallBufferConnection c;
    ASSERT_TRUE(c.peer.Valid());
    CDevComm link;
    link.Init(nullptr);
    link.AttachConnectedSocket(c.client, 1);
    auto sending = std::async(std::launch::async, [&] {
        for (int i = 0; i < 100000; ++i) {
            if (!link.SendKey(ConnMethod::TcpIPv4, KeyText(i)))
                return i;
        }
        return -1;
    });
    if (sending.wait_for(kHang) != std::future_status::ready) {
        c.peer.Close(); // the reset ends a send that blocked
        sending.wait();
        FAIL() << "a key send blocked";
    }
    const int sent = sending.get();
    ASSERT_GT(sent, 0);
    Bytes expected;
    for (int i = 0; i < sent; ++i) {
        const Bytes frame = KeyFrame(i);
        expected.insert(expected.end(), frame.begin(), frame.end());
    }
    const Bytes received = c.peer.Receive(expected.size() + klr::kMaxTcpFrame, 1000);
    ASSERT_GE(received.size(), expected.size());
    EXPECT_EQ(
        Bytes(received.begin(), received.begin() + static_cast<std::ptrdiff_t>(expected.size())),
        expected);
    // Of the key that failed, at most a part left.
    EXPECT_LT(received.size() - expected.size(), KeyFrame(sent).size());
}

TEST(EngineTcp, ConnectsAndSendsRequestsAsEncodedFrames)
{
    Connected c;
    ASSERT_EQ(c.ok, 1);
    EXPECT_EQ(c.link.IsConnected(), 1);
    EXPECT_EQ(c.link.m_nOperation, 1);

    EXPECT_EQ(c.link.SendRequest(klr::kCommand, klr::REQ_EQUIP_INFO), 1);
    EXPECT_EQ(c.link.m_nLastSend, 7);
    EXPECT_EQ(c.link.m_nOperation, 80);
    EXPECT_EQ(RequestScreen(c.link), 1);
    EXPECT_EQ(c.link.m_nLastSend, 91);
    EXPECT_EQ(c.link.m_nOperation, 3);
    EXPECT_EQ(c.link.SendTextCommand(klr::kCommand, klr::REQ_CMD, "KEYP:MODE\n"), 1);
    EXPECT_EQ(c.link.m_nLastSend, 135);

    ASSERT_TRUE(c.peer.WaitForRequests(3));
    const auto requests = c.peer.Requests();
    EXPECT_EQ(requests[0].frame, (Bytes{0x7F, 0x41, 0x50, 0x01, 0x00, 0x92, 0x7E}));
    EXPECT_EQ(requests[1].code, klr::REQ_SCREEN);
    const auto named = klr::MakeNamedPayload("currentdisp.jpg", 400000);
    EXPECT_EQ(requests[1].payload, Bytes(named.begin(), named.end()));
    EXPECT_EQ(requests[2].code, klr::REQ_CMD);
    EXPECT_EQ(std::string(reinterpret_cast<const char *>(requests[2].payload.data())),
              "KEYP:MODE\n");
}

TEST(EngineTcp, ConnectFailuresReportCheckCable)
{
    const klr::net::NetworkingScope networking; // the peer below is gone before the connect
    std::uint16_t deadPort = 0;
    {
        ScriptedPeer closed; // its port is free again once it is gone
        deadPort = closed.Port();
    }
    CDevComm link;
    link.Init(nullptr);
    link.SetPort(deadPort);
    EXPECT_EQ(link.ConnectTcp(), 0);
    EXPECT_EQ(Error(link), "STR_DEVCOM_ERR_CHKCABLE");
    EXPECT_EQ(link.IsConnected(), 0);

    // A second IPv4 connect on an open socket fails and leaves the first connection alone.
    Connected c;
    ASSERT_EQ(c.ok, 1);
    EXPECT_EQ(c.link.ConnectTcp(), 0);
    EXPECT_EQ(Error(c.link), "STR_DEVCOM_ERR_CHKCABLE");
    EXPECT_EQ(c.link.IsConnected(), 1);
    EXPECT_EQ(c.peer.Connections(), 1u);
}

TEST(EngineTcp, ThreePacketsInOneChunkCompleteInOnePoll)
{
    Connected c;
    ASSERT_EQ(c.ok, 1);
    const Bytes picture = PatternBytes(300, 1);
    RequestScreen(c.link);
    ASSERT_TRUE(c.peer.WaitForRequests(1));
    ASSERT_TRUE(c.peer.Send(Join(ReplyFrames(klr::REQ_SCREEN, picture, 100))));
    EXPECT_EQ(c.link.PollReply(), 100);
    EXPECT_EQ(Reply(c.link), picture);
}

TEST(EngineTcp, FourPacketsInFourChunksReportQuarterSteps)
{
    Connected c;
    ASSERT_EQ(c.ok, 1);
    const Bytes picture = PatternBytes(4000, 2);
    const auto frames = ReplyFrames(klr::REQ_SCREEN, picture, 1000);
    ASSERT_EQ(frames.size(), 4u);
    RequestScreen(c.link);
    ASSERT_TRUE(c.peer.WaitForRequests(1));
    const int expected[] = {25, 50, 75, 100};
    for (int i = 0; i < 4; ++i) {
        ASSERT_TRUE(c.peer.Send(frames[static_cast<std::size_t>(i)]));
        EXPECT_EQ(c.link.PollReply(), expected[i]) << "packet " << i;
    }
    EXPECT_EQ(Reply(c.link), picture);
}

TEST(EngineTcp, PacketArrivingInManySmallPiecesIsJoined)
{
    // More pieces than there are receive attempts: pieces must not use attempts up.
    Connected c;
    ASSERT_EQ(c.ok, 1);
    const Bytes picture = PatternBytes(10000, 3);
    const Bytes frame = Join(ReplyFrames(klr::REQ_SCREEN, picture, 10240));
    c.peer.SetResponder([&](const Request &) {
        std::vector<Step> steps;
        for (std::size_t at = 0; at < frame.size(); at += 500) {
            steps.push_back(SendStep(Bytes(frame.begin() + static_cast<std::ptrdiff_t>(at),
                                           frame.begin() + static_cast<std::ptrdiff_t>(
                                                               std::min(at + 500, frame.size()))),
                                     2));
        }
        return steps;
    });
    RequestScreen(c.link);
    EXPECT_EQ(c.link.PollReply(), 100);
    EXPECT_EQ(Reply(c.link), picture);
}

TEST(EngineTcp, HeldBytesAfterACompleteReplyAreDroppedByTheNextRequest)
{
    Connected c;
    ASSERT_EQ(c.ok, 1);
    const Bytes first = PatternBytes(200, 4);
    const Bytes stray = PatternBytes(50, 5);
    const Bytes second = PatternBytes(120, 6);
    RequestScreen(c.link);
    ASSERT_TRUE(c.peer.WaitForRequests(1));
    // The reply and, in the same chunk, a packet nobody asked for.
    Bytes chunk = Join(ReplyFrames(klr::REQ_SCREEN, first, 1000));
    const Bytes extra = Join(ReplyFrames(klr::REQ_SCREEN, stray, 1000));
    chunk.insert(chunk.end(), extra.begin(), extra.end());
    ASSERT_TRUE(c.peer.Send(chunk));
    ASSERT_EQ(c.link.PollReply(), 100);
    EXPECT_EQ(Reply(c.link), first);

    RequestScreen(c.link);
    ASSERT_TRUE(c.peer.WaitForRequests(2));
    ASSERT_TRUE(c.peer.Send(Join(ReplyFrames(klr::REQ_SCREEN, second, 1000))));
    ASSERT_EQ(c.link.PollReply(), 100);
    EXPECT_EQ(Reply(c.link), second);
}

TEST(EngineTcp, BrokenRepliesFailWithTheirTexts)
{
    Connected c;
    ASSERT_EQ(c.ok, 1);
    std::size_t sent = 0;
    auto exchange = [&](const Bytes &bytes) {
        c.link.SendRequest(klr::kCommand, klr::REQ_EQUIP_INFO);
        EXPECT_TRUE(c.peer.WaitForRequests(++sent));
        c.peer.Send(bytes);
        return PollToEnd(c.link);
    };
    const Bytes text = {'K', 'L', '5', '6', '1', 'B'};

    Bytes badSum = klr::EncodeFrame(0x41, 0x50, 1, 0, text);
    badSum[badSum.size() - 2] ^= 0x01;
    EXPECT_EQ(exchange(badSum), -1);
    EXPECT_EQ(Error(c.link), "STR_ERROR_CHECKSUM");

    Bytes noise = {0x00, 0x01};
    const Bytes good = klr::EncodeFrame(0x41, 0x50, 1, 0, text);
    noise.insert(noise.end(), good.begin(), good.end());
    EXPECT_EQ(exchange(noise), -1);
    EXPECT_EQ(Error(c.link), "STR_ERROR_PACKET");

    Bytes skipped = klr::EncodeFrame(0x41, 0x50, 3, 0, text);
    const Bytes third = klr::EncodeFrame(0x41, 0x50, 3, 2, text);
    skipped.insert(skipped.end(), third.begin(), third.end());
    EXPECT_EQ(exchange(skipped), -1);
    EXPECT_EQ(Error(c.link), "Communication Error!");

    // After all that, a clean reply is taken as it is.
    EXPECT_EQ(exchange(good), 100);
    EXPECT_EQ(Reply(c.link), text);
}

TEST(EngineTcp, PollWithNothingOutstandingReceivesNothing)
{
    Connected c;
    ASSERT_EQ(c.ok, 1);
    c.link.m_nOperation = 0;
    ASSERT_TRUE(c.peer.Send(klr::EncodeFrame(0x41, 0x50, 1, 0, Bytes{'A'})));
    EXPECT_EQ(c.link.PollReply(), 90);
    EXPECT_EQ(c.link.PollReply(), 90);
    // The bytes are still waiting: the next poll for an outstanding request finds them.
    c.link.m_nOperation = 80;
    EXPECT_EQ(c.link.PollReply(), 100);
    EXPECT_EQ(Reply(c.link), Bytes{'A'});
}

TEST(EngineTcp, PeerThatClosesEndsInTimeoutWithoutWaitingOut)
{
    Connected c;
    ASSERT_EQ(c.ok, 1);
    // A time-out per attempt far beyond the hang limit: only the closed-peer path can
    // finish in time.
    c.link.SetReceiveAttemptMs(60000);
    c.peer.SetResponder([](const Request &) { return std::vector<Step>{CloseStep()}; });
    RequestScreen(c.link);
    auto result = std::async(std::launch::async, [&] { return c.link.PollReply(); });
    ASSERT_EQ(result.wait_for(kHang), std::future_status::ready);
    EXPECT_EQ(result.get(), -1);
    EXPECT_EQ(Error(c.link), "STR_ERROR_TIMEOUT");
}

TEST(EngineTcp, SilentPeerEndsInTimeout)
{
    Connected c;
    ASSERT_EQ(c.ok, 1);
    RequestScreen(c.link);
    const auto start = Clock::now();
    auto result = std::async(std::launch::async, [&] { return c.link.PollReply(); });
    ASSERT_EQ(result.wait_for(kHang), std::future_status::ready);
    EXPECT_EQ(result.get(), -1);
    EXPECT_EQ(Error(c.link), "STR_ERROR_TIMEOUT");
    std::printf("silent peer gave up after %.2f s\n",
                std::chrono::duration<double>(Clock::now() - start).count());
}

TEST(EngineTcp, EndlessStartMarkersDoNotHoldThePollForEver)
{
    Connected c;
    ASSERT_EQ(c.ok, 1);
    c.link.SetReceiveAttemptMs(50);
    std::atomic<bool> stop{false};
    std::thread flood([&] {
        const Bytes markers(512, 0x7F);
        while (!stop && c.peer.Send(markers)) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    });
    RequestScreen(c.link);
    auto result = std::async(std::launch::async, [&] { return c.link.PollReply(); });
    const bool ready = result.wait_for(kHang) == std::future_status::ready;
    stop = true;
    c.peer.CloseConnection();
    flood.join();
    ASSERT_TRUE(ready);
    EXPECT_EQ(result.get(), -1);
    EXPECT_EQ(Error(c.link), "STR_ERROR_TIMEOUT");
}

TEST(EngineTcp, TextCommandOnAClosedSocketStillSucceedsButRecordsTheSend)
{
    CDevComm never;
    never.Init(nullptr);
    EXPECT_EQ(never.SendTextCommand(klr::kCommand, klr::REQ_CMD, "KEYP:MODE\n"), 1);
    EXPECT_EQ(never.m_nLastSend, 0);

    Connected c;
    ASSERT_EQ(c.ok, 1);
    c.link.Disconnect();
    EXPECT_EQ(c.link.IsConnected(), 0);
    EXPECT_EQ(c.link.SendTextCommand(klr::kCommand, klr::REQ_CMD, "KEYP:MODE\n"), 1);
    EXPECT_LE(c.link.m_nLastSend, 0);

    // A command too long for its field is not cut short and sent.
    Connected d;
    ASSERT_EQ(d.ok, 1);
    EXPECT_EQ(d.link.SendTextCommand(klr::kCommand, klr::REQ_CMD, std::string(128, 'K')), 1);
    EXPECT_EQ(d.link.m_nLastSend, 0);
    EXPECT_EQ(d.link.SendTextCommand(klr::kCommand, klr::REQ_CMD, std::string(127, 'K')), 1);
    EXPECT_EQ(d.link.m_nLastSend, 135);
    ASSERT_TRUE(d.peer.WaitForRequests(1));
    EXPECT_EQ(d.peer.Requests().size(), 1u);
}

TEST(EngineTcp, DisconnectThenConnectTcp6StartsAFreshConnection)
{
    Connected c(true);
    if (!c.peer.Listening()) {
        GTEST_SKIP() << "no IPv6 loopback here";
    }
    ASSERT_EQ(c.ok, 1);
    c.link.Disconnect();
    EXPECT_EQ(c.link.IsConnected(), 0);
    ASSERT_TRUE(c.peer.WaitForHangUps(1));

    ASSERT_EQ(c.link.ConnectTcp6(), 1);
    const Bytes text = {'I', 'D'};
    c.peer.SetResponder([&](const Request &) {
        return std::vector<Step>{SendStep(klr::EncodeFrame(0x41, 0x50, 1, 0, text))};
    });
    c.link.SendRequest(klr::kCommand, klr::REQ_EQUIP_INFO);
    EXPECT_EQ(c.link.PollReply(), 100);
    EXPECT_EQ(Reply(c.link), text);
    EXPECT_EQ(c.peer.Connections(), 2u);
}
