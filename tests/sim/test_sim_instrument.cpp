// The simulated instrument as a peer: what it answers, how it misbehaves on request, and
// how the link's own engine sees it over TCP (IPv4, IPv6) and the simulated USB device.
#include "CDevComm.h"
#include "CSimServer.h"
#include "Loopback.h"

#include <QImage>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <thread>

namespace {

std::unique_ptr<klr::DecodedPacket> Request(std::uint8_t code, std::string_view text = {})
{
    auto packet = std::make_unique<klr::DecodedPacket>();
    packet->command = klr::kCommand;
    packet->code = code;
    packet->total = 1;
    if (code == klr::REQ_SCREEN) {
        const auto payload = klr::MakeNamedPayload(text, klr::kMaxScreenSize);
        std::copy(payload.begin(), payload.end(), packet->payload.begin());
        packet->payloadLength = payload.size();
    } else if (code == klr::REQ_CMD) {
        std::array<std::uint8_t, klr::kTextPayloadSize> payload{};
        klr::MakeTextPayload(text, payload);
        std::copy(payload.begin(), payload.end(), packet->payload.begin());
        packet->payloadLength = payload.size();
    }
    return packet;
}

std::shared_ptr<CSimInstrument> QuietInstrument()
{
    auto instrument = std::make_shared<CSimInstrument>();
    instrument->SetLogSink({});
    return instrument;
}

// Payloads of a reply, in order, with their index fields.
struct Unpacked
{
    std::vector<std::uint8_t> data;
    std::vector<std::uint8_t> indexes;
    std::vector<std::size_t> sizes;
    std::string error;
};

Unpacked Unpack(const SimFrames &frames)
{
    Unpacked out;
    auto packet = std::make_unique<klr::DecodedPacket>();
    for (const auto &frame : frames) {
        const std::string_view error = klr::DecodePacket(frame, *packet);
        if (!error.empty()) {
            out.error = error;
            return out;
        }
        out.indexes.push_back(packet->index);
        out.sizes.push_back(packet->payloadLength);
        out.data.insert(out.data.end(), packet->payload.begin(),
                        packet->payload.begin() + static_cast<long>(packet->payloadLength));
    }
    return out;
}

TEST(SimInstrument, IdentificationCarriesTheModelFirst)
{
    auto sim = QuietInstrument();
    sim->SetModel("KL512A");
    const SimReply reply = sim->Handle(*Request(klr::REQ_EQUIP_INFO));
    ASSERT_EQ(reply.action, SimReply::Action::Answer);
    const Unpacked u = Unpack(reply.packets);
    ASSERT_TRUE(u.error.empty());
    const std::string text(u.data.begin(), u.data.end());
    EXPECT_EQ(text.substr(0, text.find('\0')), "KL512A");
    EXPECT_GT(text.size(), 7u); // more fields after the NUL
    EXPECT_EQ(sim->Family(), SimFamily::Lk);
    sim->SetModel("KL536C");
    EXPECT_EQ(sim->Family(), SimFamily::Kkc);
    sim->SetFamily(SimFamily::Lk);
    EXPECT_EQ(sim->Family(), SimFamily::Lk);
}

TEST(SimInstrument, ScreenOnlyForItsFileNameAndCommandsAreRecorded)
{
    auto sim = QuietInstrument();
    const SimReply wrong = sim->Handle(*Request(klr::REQ_SCREEN, "other.jpg"));
    ASSERT_EQ(wrong.packets.size(), 1u);
    EXPECT_TRUE(Unpack(wrong.packets).data.empty());
    EXPECT_EQ(sim->ScreensSent(), 0u);

    const SimReply screen = sim->Handle(*Request(klr::REQ_SCREEN, "currentdisp.jpg"));
    const Unpacked u = Unpack(screen.packets);
    const QByteArray last = sim->LastScreenJpeg();
    EXPECT_EQ(QByteArray(reinterpret_cast<const char *>(u.data.data()),
                         static_cast<qsizetype>(u.data.size())),
              last);
    QImage image;
    ASSERT_TRUE(image.loadFromData(last, "JPEG"));
    EXPECT_EQ(image.size(), QSize(800, 600));
    EXPECT_EQ(sim->ScreensSent(), 1u);

    EXPECT_EQ(sim->Handle(*Request(klr::REQ_CMD, "KEYP:MODE\n")).action, SimReply::Action::None);
    EXPECT_EQ(sim->Handle(*Request(klr::REQ_CMD, "BOGUS\n")).action, SimReply::Action::None);
    EXPECT_EQ(sim->Handle(*Request(klr::REQ_CMD, "KEYP:RIGH\n")).action, SimReply::Action::None);
    EXPECT_EQ(sim->ReceivedCommands(),
              (std::vector<std::string>{"KEYP:MODE", "BOGUS", "KEYP:RIGH"}));
    EXPECT_EQ(sim->ReceivedCommandsRaw().front(), "KEYP:MODE\n");
    EXPECT_EQ(sim->State().MeasurementIndex(), 1);
    // Unknown request codes get no answer.
    EXPECT_EQ(sim->Handle(*Request(0x33)).action, SimReply::Action::None);
}

TEST(SimInstrument, FaultsBreakRepliesAsNamed)
{
    auto sim = QuietInstrument();
    sim->SetPacketSize(4000);
    auto screen = [&] { return sim->Handle(*Request(klr::REQ_SCREEN, "currentdisp.jpg")); };

    sim->SetFault(SimFault::Checksum);
    EXPECT_EQ(Unpack(screen().packets).error, klr::STR_ERROR_CHECKSUM);

    sim->SetFault(SimFault::Sequence);
    Unpacked u = Unpack(screen().packets);
    ASSERT_GE(u.indexes.size(), 2u);
    EXPECT_EQ(u.indexes[0], 0);
    EXPECT_EQ(u.indexes[1], 2);
    // Even a one-packet reply is split so that the skip shows.
    u = Unpack(sim->Handle(*Request(klr::REQ_EQUIP_INFO)).packets);
    ASSERT_EQ(u.indexes.size(), 2u);
    EXPECT_EQ(u.indexes[1], 2);

    sim->SetFault(SimFault::Noise);
    SimReply r = screen();
    ASSERT_FALSE(r.noise.empty());
    for (std::uint8_t b : r.noise)
        EXPECT_TRUE(b != klr::kStartMarker && b != klr::kEndMarker);

    sim->SetFault(SimFault::Close);
    EXPECT_EQ(screen().action, SimReply::Action::Close);
    sim->SetFault(SimFault::Silence);
    EXPECT_EQ(screen().action, SimReply::Action::Silence);

    sim->SetFault(SimFault::Oversize);
    // A receiver's payload store cannot take it.
    EXPECT_EQ(Unpack(screen().packets).error, klr::STR_ERROR_PACKET);
    r = screen();
    ASSERT_EQ(r.packets.size(), 1u);
    EXPECT_GT(r.packets[0].size(), klr::kPayloadStoreSize + 7);

    sim->SetFault(SimFault::Overlong);
    r = screen();
    std::size_t total = 0;
    for (const auto &frame : r.packets)
        total += frame.size();
    EXPECT_GT(total, klr::kMaxReplyBytes);
    EXPECT_LE(r.packets.size(), kSimMaxPackets);

    sim->SetFault(SimFault::Split);
    r = screen();
    EXPECT_GT(r.splitDelayMs, 0);
    EXPECT_TRUE(Unpack(r.packets).error.empty());
}

TEST(SimInstrument, FaultEveryNthReplyCountsFromWhenItIsSet)
{
    auto sim = QuietInstrument();
    sim->Handle(*Request(klr::REQ_EQUIP_INFO));
    sim->SetFault(SimFault::Close, 3);
    std::vector<SimReply::Action> actions;
    for (int i = 0; i < 6; ++i)
        actions.push_back(sim->Handle(*Request(klr::REQ_EQUIP_INFO)).action);
    using A = SimReply::Action;
    EXPECT_EQ(actions,
              (std::vector<A>{A::Answer, A::Answer, A::Close, A::Answer, A::Answer, A::Close}));
    sim->SetFault(SimFault::None);
    EXPECT_EQ(sim->Handle(*Request(klr::REQ_EQUIP_INFO)).action, A::Answer);
}

// The link's engine against the server.
class SimServerLink : public ::testing::TestWithParam<const char *>
{
protected:
    bool Connect(CDevComm &link, const CSimServer &server)
    {
        link.Init(nullptr);
        link.SetHostAddress(server.Host());
        link.SetPort(server.Port());
        return (server.Host() == "::1" ? link.ConnectTcp6() : link.ConnectTcp()) == 1;
    }

    int Poll(CDevComm &link)
    {
        int result = 0;
        for (int i = 0; i < 300 && result >= 0 && result < 100; ++i)
            result = link.PollReply();
        return result;
    }
};

TEST_P(SimServerLink, IdentifiesServesScreensAndTakesKeys)
{
    CSimServer server(QuietInstrument());
    ASSERT_TRUE(server.Start(GetParam(), 0)) << server.Error();
    ASSERT_NE(server.Port(), 0);
    CDevComm link;
    ASSERT_TRUE(Connect(link, server));

    link.SendRequest(klr::kCommand, klr::REQ_EQUIP_INFO);
    ASSERT_EQ(Poll(link), 100) << link.ErrorText();
    EXPECT_STREQ(reinterpret_cast<const char *>(link.GetReplyData()), "KL561B");

    link.SendTextCommand(klr::kCommand, klr::REQ_CMD, "KEYP:QUAL:LOW\n");
    link.SendTextCommand(klr::kCommand, klr::REQ_CMD, "KEYP:FREQ\n");
    for (int i = 0; i < 2; ++i) {
        link.RequestFile(klr::kCommand, klr::REQ_SCREEN, "currentdisp.jpg", klr::kMaxScreenSize);
        ASSERT_EQ(Poll(link), 100) << link.ErrorText();
    }
    const QByteArray reply(reinterpret_cast<const char *>(link.GetReplyData()),
                           link.GetReplyLength());
    EXPECT_EQ(reply, server.LastScreenJpeg());
    QImage image;
    ASSERT_TRUE(image.loadFromData(reply, "JPEG"));
    EXPECT_EQ(image.size(), QSize(800, 600));
    EXPECT_EQ(server.ScreensSent(), 2u);
    // Commands arrive before the screen that follows them.
    EXPECT_EQ(server.ReceivedCommands(), (std::vector<std::string>{"KEYP:QUAL:LOW", "KEYP:FREQ"}));
    EXPECT_EQ(server.Instrument().State().JpegQuality(), 50);
}

INSTANTIATE_TEST_SUITE_P(Loopback, SimServerLink, ::testing::Values("127.0.0.1", "::1"));

// Reads packets until a reply is complete, the peer closes or nothing comes for a while.
SimFrames ReadReply(int fd, bool &closed)
{
    SimFrames frames;
    klr::CPacketScanner scanner;
    auto packet = std::make_unique<klr::DecodedPacket>();
    std::vector<std::uint8_t> buffer(65536);
    closed = false;
    for (;;) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 3000) <= 0)
            return frames;
        const ssize_t n = ::recv(fd, buffer.data(), buffer.size(), 0);
        if (n <= 0) {
            closed = true;
            return frames;
        }
        std::span<const std::uint8_t> data(buffer.data(), static_cast<std::size_t>(n));
        while (!data.empty()) {
            std::size_t used = 0;
            const auto result = scanner.Feed(data, used);
            data = data.subspan(used);
            if (result != klr::CPacketScanner::Result::Packet)
                continue;
            const auto packetBytes = scanner.Packet();
            frames.emplace_back(packetBytes.begin(), packetBytes.end());
            if (klr::DecodePacket(packetBytes, *packet).empty() &&
                packet->index + 1 >= packet->total)
                return frames;
        }
    }
}

void SendRequest(int fd, std::uint8_t code, std::span<const std::uint8_t> payload = {})
{
    const auto frame = klr::EncodeFrame(klr::kCommand, code, 1, 0, payload);
    ASSERT_EQ(::send(fd, frame.data(), frame.size(), MSG_NOSIGNAL),
              static_cast<ssize_t>(frame.size()));
}

TEST(SimServer, PacketSizeIsRespectedOnTheWire)
{
    auto sim = QuietInstrument();
    sim->SetPacketSize(1000);
    CSimServer server(sim);
    ASSERT_TRUE(server.Start("127.0.0.1", 0));
    const int fd = ConnectLoopback(server.Port());
    ASSERT_GE(fd, 0);
    const auto named = klr::MakeNamedPayload("currentdisp.jpg", klr::kMaxScreenSize);
    SendRequest(fd, klr::REQ_SCREEN, named);
    bool closed = false;
    const Unpacked u = Unpack(ReadReply(fd, closed));
    ::close(fd);
    ASSERT_TRUE(u.error.empty());
    ASSERT_FALSE(u.sizes.empty());
    const QByteArray jpeg = server.LastScreenJpeg();
    // 1000-byte packets, unless 255 of them cannot hold the picture.
    const std::size_t expected = std::max<std::size_t>(1000, (jpeg.size() + 254) / 255);
    for (std::size_t i = 0; i + 1 < u.sizes.size(); ++i)
        EXPECT_EQ(u.sizes[i], expected);
    EXPECT_EQ(QByteArray(reinterpret_cast<const char *>(u.data.data()),
                         static_cast<qsizetype>(u.data.size())),
              jpeg);
}

TEST(SimServer, ALaterConnectionReplacesTheFirst)
{
    CSimServer server(QuietInstrument());
    ASSERT_TRUE(server.Start("127.0.0.1", 0));
    const int first = ConnectLoopback(server.Port());
    ASSERT_GE(first, 0);
    SendRequest(first, klr::REQ_EQUIP_INFO);
    bool closed = false;
    EXPECT_EQ(ReadReply(first, closed).size(), 1u);

    const int second = ConnectLoopback(server.Port());
    ASSERT_GE(second, 0);
    SendRequest(second, klr::REQ_EQUIP_INFO);
    EXPECT_EQ(ReadReply(second, closed).size(), 1u);
    // The first has been dropped.
    ReadReply(first, closed);
    EXPECT_TRUE(closed);
    EXPECT_EQ(server.Connections(), 2);
    ::close(first);
    ::close(second);
}

TEST(SimServer, BadRequestBytesAreSkippedAndServingGoesOn)
{
    CSimServer server(QuietInstrument());
    ASSERT_TRUE(server.Start("127.0.0.1", 0));
    const int fd = ConnectLoopback(server.Port());
    ASSERT_GE(fd, 0);
    // Garbage, a packet with a wrong checksum, an unterminated start, then a good request.
    const std::uint8_t junk[] = {0x01, 0x02, 0x7E, 0x7F, 0x41, 0x50,
                                 0x01, 0x00, 0x00, 0x7E, 0x7F, 0x41};
    ASSERT_EQ(::send(fd, junk, sizeof junk, MSG_NOSIGNAL), static_cast<ssize_t>(sizeof junk));
    SendRequest(fd, klr::REQ_EQUIP_INFO);
    bool closed = false;
    const Unpacked u = Unpack(ReadReply(fd, closed));
    ::close(fd);
    ASSERT_FALSE(closed);
    EXPECT_EQ(std::string(u.data.begin(), u.data.begin() + 6), "KL561B");
}

TEST(SimServer, RefusesAddressesItShouldNotServe)
{
    CSimServer server(QuietInstrument());
    EXPECT_FALSE(server.Start("0.0.0.0", 0));
    EXPECT_FALSE(server.Error().empty());
    EXPECT_FALSE(server.Start("no.such.host", 0));
    EXPECT_FALSE(server.Running());
    EXPECT_TRUE(server.Start("localhost", 0));
    EXPECT_EQ(server.Host(), "127.0.0.1");
}

TEST(SimServer, StopsPromptlyWhileHoldingARequest)
{
    auto sim = QuietInstrument();
    sim->SetLatencyMs(600000);
    CSimServer server(sim);
    ASSERT_TRUE(server.Start("127.0.0.1", 0));
    const int fd = ConnectLoopback(server.Port());
    ASSERT_GE(fd, 0);
    SendRequest(fd, klr::REQ_EQUIP_INFO);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    server.Stop(); // a hang here is caught by the test time-out
    EXPECT_FALSE(server.Running());
    ::close(fd);
}

class ReadyFlag : public IDevCommOwner
{
public:
    void SetScreenReady(int value) override { ready = value; }
    std::atomic<int> ready{0};
};

TEST(SimUsb, IdentificationAndScreenThroughTheSimulatedDevice)
{
    auto sim = QuietInstrument();
    sim->SetModel("MW5000");
    ReadyFlag owner;
    CDevComm link;
    link.Init(&owner);
    link.SetUsbDeviceFactory(sim->UsbFactory());
    ASSERT_EQ(link.OpenUsb(&owner), 1);

    ASSERT_EQ(link.UsbSendPacket(klr::REQ_EQUIP_INFO, nullptr, 0, 1), 1);
    for (int i = 0; i < 500 && owner.ready == 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_EQ(owner.ready, 1);
    EXPECT_STREQ(reinterpret_cast<const char *>(link.GetReplyData()), "MW5000");

    ASSERT_EQ(link.UsbSendTextCommand("KEYP:MARK\n"), 1);
    {
        auto exchange = link.LockExchange();
        ASSERT_EQ(link.UsbRequestFile(klr::REQ_SCREEN, "currentdisp.jpg"), 1);
        ASSERT_EQ(link.UsbReadReply(), 100) << link.ErrorText();
        const QByteArray reply(reinterpret_cast<const char *>(link.GetReplyData()),
                               link.GetReplyLength());
        EXPECT_EQ(reply, sim->LastScreenJpeg());
        QImage image;
        ASSERT_TRUE(image.loadFromData(reply, "JPEG"));
        EXPECT_EQ(image.size(), QSize(800, 480));
    }
    EXPECT_EQ(sim->ReceivedCommands(), std::vector<std::string>{"KEYP:MARK"});

    // A checksum fault reaches the engine as its error text.
    sim->SetFault(SimFault::Checksum);
    {
        auto exchange = link.LockExchange();
        ASSERT_EQ(link.UsbRequestFile(klr::REQ_SCREEN, "currentdisp.jpg"), 1);
        EXPECT_EQ(link.UsbReadReply(), -1);
        EXPECT_EQ(link.ErrorText(), klr::STR_ERROR_CHECKSUM);
    }
    link.CloseUsb();
}

} // namespace
