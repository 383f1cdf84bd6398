// The link against instruments that misbehave on purpose: every reply below must end with
// the right error text in bounded time, never touch memory out of bounds (the sanitizer
// builds run these too), and leave the link able to take the next good reply.
#include "CDevComm.h"
#include "CUsbDeviceSim.h"
#include "Diagnostic.h"
#include "Protocol.h"
#include "ScriptedPeer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

using namespace enginetest;
using Clock = std::chrono::steady_clock;

namespace {

// Each receive attempt waits this long, so a silent or dead peer fails in about a second and a
// half, while a slow sanitizer build still gets a large reply across in time.
constexpr int kAttemptMs = 300;
// Only to catch hangs.
constexpr auto kHang = std::chrono::seconds(20);
constexpr int kMaxPolls = 100000;

const std::string kPacket(klr::STR_ERROR_PACKET);
const std::string kChecksum(klr::STR_ERROR_CHECKSUM);
const std::string kSequence(klr::STR_ERROR_SEQUENCE);
const std::string kTimeout(klr::STR_ERROR_TIMEOUT);

Bytes Frame(std::uint8_t total, std::uint8_t index, const Bytes &payload)
{
    return klr::EncodeFrame(klr::kCommand, klr::REQ_SCREEN, total, index, payload);
}

void Append(Bytes &to, const Bytes &more)
{
    to.insert(to.end(), more.begin(), more.end());
}

Bytes Cat(std::initializer_list<Bytes> parts)
{
    Bytes out;
    for (const Bytes &part : parts)
        out.insert(out.end(), part.begin(), part.end());
    return out;
}

// The script of the first answer, set by the test thread and read by the peer's thread.
class Script
{
public:
    using Fn = std::function<std::vector<Step>()>;
    Script &operator=(Fn fn)
    {
        std::lock_guard lock(m_mutex);
        m_fn = std::move(fn);
        return *this;
    }
    Fn Get() const
    {
        std::lock_guard lock(m_mutex);
        return m_fn;
    }

private:
    mutable std::mutex m_mutex;
    Fn m_fn;
};

// A peer whose first answer is the hostile script and whose every later answer is a good
// three-packet reply, on this connection or the next.
class HostileLink : public ::testing::Test
{
protected:
    void SetUp() override
    {
        good = PatternBytes(3000, 7);
        peer.SetResponder([this](const Request &) -> std::vector<Step> {
            const Script::Fn script = hostile.Get();
            if (answered++ == 0 && script)
                return script();
            return {SendStep(Join(ReplyFrames(klr::REQ_SCREEN, good, 1000)))};
        });
        link.Init(nullptr);
        link.SetPort(peer.Port());
        link.SetHostAddress("127.0.0.1");
        link.SetReceiveAttemptMs(kAttemptMs);
        ASSERT_EQ(link.ConnectTcp(), 1);
        ASSERT_TRUE(peer.WaitForConnections(1));
    }

    // Request, then poll to the end; the result and the time it took.
    int Fetch()
    {
        link.RequestFile(klr::kCommand, klr::REQ_SCREEN, std::string(klr::kScreenFileName),
                         klr::kMaxScreenSize);
        const auto start = Clock::now();
        int result = 0;
        int polls = 0;
        do {
            result = link.PollReply();
        } while (result > 0 && result < 100 && ++polls < kMaxPolls);
        elapsed = Clock::now() - start;
        EXPECT_LT(elapsed, kHang);
        return result;
    }

    Bytes ReplyBytes()
    {
        auto lock = link.LockExchange();
        const int length = link.GetReplyLength();
        EXPECT_GE(length, 0);
        EXPECT_LE(static_cast<std::size_t>(length), klr::kMaxReplyBytes);
        return Bytes(link.GetReplyData(), link.GetReplyData() + length);
    }

    // The hostile reply fails with `error`, then a good reply comes through whole.
    void ExpectFailureThenGood(const std::string &error, bool reconnect = false)
    {
        EXPECT_EQ(Fetch(), -1);
        EXPECT_EQ(link.ErrorText(), error);
        if (reconnect) {
            link.Disconnect();
            ASSERT_EQ(link.ConnectTcp(), 1);
        }
        ExpectGood();
    }

    void ExpectGood()
    {
        EXPECT_EQ(Fetch(), 100);
        EXPECT_EQ(ReplyBytes(), good);
    }

    // The peer's thread reads the members above it: it is declared last so that it stops
    // first.
    Bytes good;
    std::atomic<int> answered{0};
    Script hostile;
    Clock::duration elapsed{};
    CDevComm link;
    ScriptedPeer peer;
};

// ---- declared totals ----

TEST_F(HostileLink, TotalsZeroAndOneCompleteWithTheFirstPacket)
{
    for (std::uint8_t total : {0, 1}) {
        answered = 0;
        hostile = [total] { return std::vector<Step>{SendStep(Frame(total, 0, Bytes{1, 2, 3}))}; };
        EXPECT_EQ(Fetch(), 100) << int(total);
        EXPECT_EQ(ReplyBytes(), (Bytes{1, 2, 3}));
        ExpectGood();
    }
}

TEST_F(HostileLink, TotalOf255WithOnePacketTimesOutWithProgressFirst)
{
    hostile = [] { return std::vector<Step>{SendStep(Frame(255, 0, Bytes{9}))}; };
    link.RequestFile(klr::kCommand, klr::REQ_SCREEN, std::string(klr::kScreenFileName),
                     klr::kMaxScreenSize);
    EXPECT_EQ(link.PollReply(), 1); // 1 * 100 / 255 rounds to 0, reported as 1
    EXPECT_EQ(link.PollReply(), -1);
    EXPECT_EQ(link.ErrorText(), kTimeout);
    ExpectGood();
}

TEST_F(HostileLink, AFull255PacketReplyCompletes)
{
    Bytes all;
    for (int i = 0; i < 255; ++i)
        Append(all, Frame(255, static_cast<std::uint8_t>(i), Bytes{std::uint8_t(i)}));
    hostile = [all] { return std::vector<Step>{SendStep(all)}; };
    EXPECT_EQ(Fetch(), 100);
    const Bytes data = ReplyBytes();
    ASSERT_EQ(data.size(), 255u);
    EXPECT_EQ(data[254], 254);
    ExpectGood();
}

// ---- indexes ----

TEST_F(HostileLink, IndexesOutOfOrderRepeatedOrPastTheTotalFailAsSequenceErrors)
{
    const std::vector<Bytes> scripts = {
        Cat({Frame(3, 0, {1}), Frame(3, 2, {3})}),                   // skipped
        Cat({Frame(3, 0, {1}), Frame(3, 1, {2}), Frame(3, 1, {2})}), // repeated
        Cat({Frame(2, 0, {1}), Frame(2, 7, {2})}),                   // past the total
        Frame(1, 3, {1}),                                            // past it at once
    };
    for (const Bytes &script : scripts) {
        answered = 0;
        hostile = [script] { return std::vector<Step>{SendStep(script)}; };
        ExpectFailureThenGood(kSequence);
    }
}

TEST_F(HostileLink, AReplyThatKeepsRestartingAtIndexZeroEnds)
{
    // Index 0, 1, 0, 1, ... of a total of 3 never completes by the rules of the sequence.
    Bytes all;
    for (int i = 0; i < 600; ++i)
        Append(all, Frame(3, static_cast<std::uint8_t>(i % 2), {}));
    hostile = [all] { return std::vector<Step>{SendStep(all)}; };
    EXPECT_EQ(Fetch(), -1);
    EXPECT_EQ(link.ErrorText(), kPacket);
    // The rest of that endless reply is still on its way: start afresh.
    link.Disconnect();
    ASSERT_EQ(link.ConnectTcp(), 1);
    ExpectGood();
}

// ---- payload sizes ----

TEST_F(HostileLink, PayloadsOfNothingAndOfTheWholeStoreAreTaken)
{
    for (std::size_t size : {std::size_t(0), klr::kPayloadStoreSize}) {
        answered = 0;
        const Bytes payload = PatternBytes(size, 3);
        hostile = [payload] { return std::vector<Step>{SendStep(Frame(1, 0, payload))}; };
        EXPECT_EQ(Fetch(), 100) << size;
        EXPECT_EQ(ReplyBytes(), payload);
        ExpectGood();
    }
}

TEST_F(HostileLink, APayloadOneByteOverTheStoreIsRefused)
{
    const Bytes frame = Frame(1, 0, PatternBytes(klr::kPayloadStoreSize + 1, 4));
    hostile = [frame] { return std::vector<Step>{SendStep(frame)}; };
    ExpectFailureThenGood(kPacket);
}

TEST_F(HostileLink, APacketThatFillsTheWholeReceiveBufferIsRefused)
{
    // Every payload byte needs stuffing, so the packet on the wire is a little over 400000
    // bytes: more than the packet buffer holds.
    const Bytes frame = Frame(1, 0, Bytes(klr::kMaxPacketBytes / 2, 0x7D));
    ASSERT_GT(frame.size(), klr::kMaxPacketBytes);
    hostile = [frame] { return std::vector<Step>{SendStep(frame)}; };
    ExpectFailureThenGood(kPacket, true);
}

TEST_F(HostileLink, APacketOfExactlyTheBufferSizeIsRefusedByItsPayload)
{
    // The markers, header and checksum, and every payload byte stuffed: 400000 bytes or just
    // under, depending on whether the checksum needs stuffing too.
    const Bytes frame = Frame(1, 0, Bytes((klr::kMaxPacketBytes - 8) / 2, 0x7E));
    ASSERT_LE(frame.size(), klr::kMaxPacketBytes);
    ASSERT_GE(frame.size(), klr::kMaxPacketBytes - 1);
    hostile = [frame] { return std::vector<Step>{SendStep(frame)}; };
    ExpectFailureThenGood(kPacket, true);
}

TEST_F(HostileLink, AReplyThatWouldPassTheReplyBufferIsRefusedAtThePacketThatPassesIt)
{
    // 40 packets of 10000 bytes fill 400000 exactly; a 41st of one byte would pass it.
    Bytes all;
    for (int i = 0; i < 40; ++i)
        Append(all, Frame(41, static_cast<std::uint8_t>(i),
                          PatternBytes(10000, static_cast<std::uint32_t>(i))));
    Append(all, Frame(41, 40, {0x55}));
    hostile = [all] { return std::vector<Step>{SendStep(all)}; };
    EXPECT_EQ(Fetch(), -1);
    EXPECT_EQ(link.ErrorText(), kPacket);
    EXPECT_EQ(link.GetReplyLength(), 400000);
    ExpectGood();
}

TEST_F(HostileLink, AReplyOfExactlyTheReplyBufferIsTaken)
{
    Bytes expected;
    Bytes all;
    for (int i = 0; i < 40; ++i) {
        const Bytes part = PatternBytes(10000, static_cast<std::uint32_t>(i + 100));
        Append(expected, part);
        Append(all, Frame(40, static_cast<std::uint8_t>(i), part));
    }
    hostile = [all] { return std::vector<Step>{SendStep(all)}; };
    EXPECT_EQ(Fetch(), 100);
    EXPECT_EQ(ReplyBytes(), expected);
    ExpectGood();
}

// ---- framing ----

TEST_F(HostileLink, AnEscapeByteAtEveryPositionIsRefused)
{
    const Bytes frame = Frame(1, 0, Bytes{0x10, 0x20, 0x30, 0x40});
    // Every position between the markers, the last one just before the end marker included.
    for (std::size_t at = 1; at + 1 < frame.size(); ++at) {
        answered = 0;
        Bytes broken = frame;
        broken[at] = 0x7D;
        hostile = [broken] { return std::vector<Step>{SendStep(broken)}; };
        EXPECT_EQ(Fetch(), -1) << at;
        const std::string error = link.ErrorText();
        EXPECT_TRUE(error == kPacket || error == kChecksum) << at << " " << error;
        ExpectGood();
    }
}

TEST_F(HostileLink, ASecondStartMarkerRestartsThePacket)
{
    const Bytes payload{5, 6, 7};
    const Bytes frame = Frame(1, 0, payload);
    const Bytes half(frame.begin(), frame.begin() + 4);
    for (const Bytes &script : {Cat({Bytes{0x7F}, frame}), Cat({half, frame})}) {
        answered = 0;
        hostile = [script] { return std::vector<Step>{SendStep(script)}; };
        EXPECT_EQ(Fetch(), 100);
        EXPECT_EQ(ReplyBytes(), payload);
        ExpectGood();
    }
}

TEST_F(HostileLink, EndMarkersAloneAreRefused)
{
    for (const Bytes &script : {Bytes{0x7E}, Bytes{0x7E, 0x7E, 0x7E}, Bytes{0x7D, 0x7E}}) {
        answered = 0;
        hostile = [script] { return std::vector<Step>{SendStep(script)}; };
        ExpectFailureThenGood(kPacket);
    }
}

TEST_F(HostileLink, PacketsTooShortForAHeaderAreRefused)
{
    for (const Bytes &script : {Bytes{0x7F, 0x7E}, Bytes{0x7F, 0x41, 0x60, 0x01, 0x00, 0x7E}}) {
        answered = 0;
        hostile = [script] { return std::vector<Step>{SendStep(script)}; };
        ExpectFailureThenGood(kPacket);
    }
}

TEST_F(HostileLink, APacketSplitAtEveryByteIsJoined)
{
    const Bytes payload = PatternBytes(40, 11);
    const Bytes frame = Frame(1, 0, payload);
    for (std::size_t cut = 1; cut < frame.size(); ++cut) {
        answered = 1; // every answer is the split packet
        peer.SetResponder([&frame, cut](const Request &) {
            return std::vector<Step>{SendStep(Bytes(frame.begin(), frame.begin() + cut)),
                                     SendStep(Bytes(frame.begin() + cut, frame.end()), 5)};
        });
        EXPECT_EQ(Fetch(), 100) << cut;
        EXPECT_EQ(ReplyBytes(), payload) << cut;
    }
}

// ---- peers that stall, trickle or vanish ----

TEST_F(HostileLink, APeerTricklingOneBytePer9msForeverIsCutOff)
{
    std::atomic<bool> stop{false};
    hostile = [] { return std::vector<Step>{}; };
    std::thread trickle([&] {
        ASSERT_TRUE(peer.WaitForRequests(1));
        // A packet that never ends: a start marker, then body bytes one at a time.
        peer.Send(Bytes{0x7F});
        while (!stop) {
            peer.Send(Bytes{0x41});
            std::this_thread::sleep_for(std::chrono::milliseconds(9));
        }
    });
    EXPECT_EQ(Fetch(), -1);
    EXPECT_EQ(link.ErrorText(), kTimeout);
    stop = true;
    trickle.join();
    // The trickle left bytes behind on that connection: start afresh.
    link.Disconnect();
    ASSERT_EQ(link.ConnectTcp(), 1);
    ExpectGood();
}

TEST_F(HostileLink, APeerThatNeverAnswersTimesOutAndAnswersTheNextRequest)
{
    hostile = [] { return std::vector<Step>{}; };
    ExpectFailureThenGood(kTimeout);
    EXPECT_EQ(peer.Connections(), 1u);
}

TEST_F(HostileLink, APeerThatResetsMidReplyFailsAndANewConnectionWorks)
{
    hostile = [this] {
        const auto frames = ReplyFrames(klr::REQ_SCREEN, good, 1000);
        const Bytes &second = frames[1];
        return std::vector<Step>{
            SendStep(Cat({frames[0], Bytes(second.begin(), second.begin() + 300)})), ResetStep(20)};
    };
    EXPECT_EQ(Fetch(), -1);
    EXPECT_EQ(link.ErrorText(), kTimeout);
    EXPECT_LE(link.GetReplyLength(), 1000);
    ASSERT_TRUE(peer.WaitForHangUps(1));
    link.Disconnect();
    ASSERT_EQ(link.ConnectTcp(), 1);
    ExpectGood();
}

TEST_F(HostileLink, APeerThatClosesMidReplyFailsAndANewConnectionWorks)
{
    hostile = [this] {
        const auto frames = ReplyFrames(klr::REQ_SCREEN, good, 1000);
        return std::vector<Step>{SendStep(frames[0]), CloseStep(20)};
    };
    ExpectFailureThenGood(kTimeout, true);
}

// ---- replies nobody asked for ----

// A peer that answers request n with screen n, and can push a reply nobody asked for.
class RegressStaleReply : public ::testing::Test
{
protected:
    static Bytes Screen(int n) { return PatternBytes(1500 + 100 * n, 40 + n); }

    void SetUp() override
    {
        klr::SetDiagnosticSink([this](std::string_view text) {
            std::lock_guard lock(m_mutex);
            m_lines.emplace_back(text);
        });
        peer.SetResponder([this](const Request &) {
            return std::vector<Step>{
                SendStep(Join(ReplyFrames(klr::REQ_SCREEN, Screen(served++), 1000)))};
        });
        link.Init(nullptr);
        link.SetPort(peer.Port());
        link.SetReceiveAttemptMs(kAttemptMs);
        ASSERT_EQ(link.ConnectTcp(), 1);
        ASSERT_TRUE(peer.WaitForConnections(1));
    }
    ~RegressStaleReply() override { klr::SetDiagnosticSink({}); }

    Bytes Fetch()
    {
        std::vector<std::uint8_t> out;
        EXPECT_EQ(link.FetchFile(ConnMethod::TcpIPv4, "currentdisp.jpg", out), LinkStatus::Complete)
            << link.ErrorText();
        return out;
    }

    std::vector<std::string> Lines()
    {
        std::lock_guard lock(m_mutex);
        return m_lines;
    }

    std::mutex m_mutex;
    std::vector<std::string> m_lines;
    std::atomic<int> served{0};
    CDevComm link;
    ScriptedPeer peer;
};

TEST_F(RegressStaleReply, AnUnrequestedReplyIsDroppedAndEveryRequestGetsItsOwnReply)
{
    const Bytes stale = Join(ReplyFrames(klr::REQ_SCREEN, PatternBytes(700, 99), 1000));
    ASSERT_TRUE(peer.Send(stale));
    // Let it reach the link's side of the connection before the first request goes out.
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    for (int n = 0; n < 3; ++n)
        EXPECT_EQ(Fetch(), Screen(n)) << "request " << n;
    EXPECT_EQ(Lines(), std::vector<std::string>{"Dropped " + std::to_string(stale.size()) +
                                                " stale bytes before a request\n"});
}

// ---- USB: one packet per block ----

// A simulated USB instrument whose first screen reply is the hostile blocks and whose later
// replies are one good packet.
class HostileUsb : public ::testing::Test
{
protected:
    using Block = CUsbDeviceSim::Block;

    void SetUp() override
    {
        link.Init(nullptr);
        link.SetUsbReadTimeoutMs(200);
        link.SetUsbDeviceFactory([this] {
            return std::make_unique<CUsbDeviceSim>([this](const std::uint8_t *block) {
                std::vector<Block> replies;
                if (block[0] != klr::kStartMarker || block[2] != klr::REQ_SCREEN)
                    return replies;
                if (answered++ == 0)
                    return hostile;
                replies.push_back(BlockOf(Frame(1, 0, good)));
                return replies;
            });
        });
        ASSERT_EQ(link.OpenUsb(nullptr), 1);
    }

    static Block BlockOf(const Bytes &bytes)
    {
        Block block{};
        std::copy_n(bytes.begin(), std::min(bytes.size(), block.size()), block.begin());
        return block;
    }

    int Fetch()
    {
        EXPECT_EQ(link.UsbRequestFile(klr::REQ_SCREEN, std::string(klr::kScreenFileName)), 1);
        return link.UsbReadReply();
    }

    void ExpectGood()
    {
        EXPECT_EQ(Fetch(), 100);
        auto lock = link.LockExchange();
        EXPECT_EQ(Bytes(link.GetReplyData(), link.GetReplyData() + link.GetReplyLength()), good);
    }

    Bytes good = PatternBytes(2000, 5);
    std::vector<Block> hostile;
    std::atomic<int> answered{0};
    CDevComm link;
};

TEST_F(HostileUsb, BlocksThatBreakThePacketRulesFailAndTheNextReplyIsGood)
{
    const Bytes frame = Frame(2, 0, Bytes{1, 2, 3});
    Bytes escapedEnd = frame;
    escapedEnd[escapedEnd.size() - 2] = 0x7D;
    Block noEnd = BlockOf(Bytes(frame.begin(), frame.end() - 1));
    Block sentinel{};
    std::fill_n(sentinel.begin(), 35, '4');
    const std::vector<std::pair<Block, std::string>> cases = {
        {noEnd, kPacket},               // start marker, no end marker in the block
        {BlockOf(escapedEnd), kPacket}, // an escape right before the end marker
        {sentinel, kPacket},            // a read that delivered nothing
        {BlockOf(Bytes{0x7E}), kPacket},
        {BlockOf(Frame(1, 4, {1})), kSequence},
    };
    for (const auto &[block, error] : cases) {
        answered = 0;
        hostile = {block};
        EXPECT_EQ(Fetch(), -1);
        EXPECT_EQ(link.ErrorText(), error);
        ExpectGood();
    }
}

TEST_F(HostileUsb, AReplyThatKeepsRestartingAtIndexZeroEnds)
{
    for (int i = 0; i < 600; ++i)
        hostile.push_back(BlockOf(Frame(3, static_cast<std::uint8_t>(i % 2), {})));
    EXPECT_EQ(Fetch(), -1);
    EXPECT_EQ(link.ErrorText(), kPacket);
    // The rest of the endless reply is still queued in the device: open it afresh.
    ASSERT_EQ(link.OpenUsb(nullptr), 1);
    ExpectGood();
}

} // namespace
