// Winsock behaviour of the TCP carrier: start-up, error numbers and texts, sends. Nothing
// starts Winsock for the whole executable: each test that needs it starts it itself, so that
// a link that relies on a start-up nobody made fails here as it would in the application.
#include "CDevComm.h"
#include "CSocketComm.h"
#include "LoopbackListener.h"
#include "NetCompat.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <numeric>
#include <string>
#include <type_traits>
#include <vector>

// SOCKET is a 64-bit unsigned handle here; the link must never narrow it to int.
static_assert(std::is_same_v<klr::net::SocketHandle, SOCKET>);
static_assert(klr::net::kInvalidSocket == INVALID_SOCKET);

namespace {

// The system's text for a Winsock error, fetched here independently of the link.
std::string SystemText(int error)
{
    char text[1024] = {};
    const DWORD n =
        FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                       static_cast<DWORD>(error), MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), text,
                       sizeof text, nullptr);
    return std::string(text, n);
}

std::vector<std::uint8_t> Pattern(std::size_t size, std::uint8_t seed)
{
    std::vector<std::uint8_t> data(size);
    std::iota(data.begin(), data.end(), seed);
    return data;
}

// Drops every Winsock start this process holds; returns how many there were.
int DropAllStarts()
{
    int held = 0;
    while (WSACleanup() == 0)
        ++held;
    return held;
}

} // namespace

TEST(WinsockStartup, HelperMakesSocketsUsableAndStopBalancesIt)
{
    // Drop every start this process holds, so the helper's own effect can be seen.
    const int held = DropAllStarts();
    EXPECT_EQ(WSAGetLastError(), WSANOTINITIALISED);
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    EXPECT_EQ(s, INVALID_SOCKET);
    EXPECT_EQ(WSAGetLastError(), WSANOTINITIALISED);

    ASSERT_TRUE(klr::net::StartNetworking());
    s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    EXPECT_NE(s, INVALID_SOCKET);
    if (s != INVALID_SOCKET) {
        EXPECT_EQ(klr::net::CloseSocket(s), 0);
    }

    // One stop undoes one start: afterwards nothing is started any more.
    klr::net::StopNetworking();
    EXPECT_NE(WSACleanup(), 0);
    EXPECT_EQ(WSAGetLastError(), WSANOTINITIALISED);

    for (int i = 0; i < held; ++i)
        ASSERT_TRUE(klr::net::StartNetworking());
}

TEST(WinsockStartup, ALinkConnectFailsWithoutTheStartUpAndWorksAfterTheHelper)
{
    const int held = DropAllStarts();
    CDevComm link;
    link.Init(nullptr);
    link.SetPort(66);
    EXPECT_EQ(link.Open(ConnMethod::TcpIPv4, "127.0.0.1", nullptr), 0);
    EXPECT_EQ(link.ErrorText(), "STR_DEVCOM_ERR_CHKCABLE");
    static_assert(WSANOTINITIALISED == 10093);
    EXPECT_NE(link.LastCause().find("(error 10093"), std::string::npos) << link.LastCause();

    ASSERT_TRUE(klr::net::StartNetworking());
    // A listener of this test's own, made after the helper and starting nothing itself.
    const SOCKET listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    ASSERT_NE(listener, INVALID_SOCKET);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int length = sizeof address;
    ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr *>(&address), length), 0);
    ASSERT_EQ(listen(listener, 4), 0);
    ASSERT_EQ(getsockname(listener, reinterpret_cast<sockaddr *>(&address), &length), 0);
    link.SetPort(ntohs(address.sin_port));
    EXPECT_EQ(link.Open(ConnMethod::TcpIPv4, "127.0.0.1", nullptr), 1) << link.LastCause();
    EXPECT_EQ(link.LastCause(), "");
    link.Disconnect();
    closesocket(listener);
    klr::net::StopNetworking();

    for (int i = 0; i < held; ++i)
        ASSERT_TRUE(klr::net::StartNetworking());
}

TEST(WinsockConnectDiagnostics, RefusedIPv6ConnectPrintsWinsockNumberAndSystemText)
{
    const klr::net::NetworkingScope networking;
    const std::uint16_t port = UnusedLoopbackPort(true);
    if (port == 0)
        GTEST_SKIP() << "no IPv6 loopback here";
    CSocketComm comm;
    comm.SetPort(port);
    comm.SetConnectTimeoutMs(20000);

    testing::internal::CaptureStderr();
    const bool connected = comm.ConnectIPv6("::1");
    const std::string printed = testing::internal::GetCapturedStderr();

    EXPECT_FALSE(connected);
    EXPECT_FALSE(comm.IsOpen());
    // The Winsock number (10061), never the C library's errno for the same failure.
    const std::string expected = "Client: connect() to ::1 failed with error " +
                                 std::to_string(WSAECONNREFUSED) + ": " +
                                 SystemText(WSAECONNREFUSED) + "\n";
    EXPECT_EQ(printed, expected);
}

TEST(WinsockConnectDiagnostics, IPv4ConnectFailureStaysSilent)
{
    const klr::net::NetworkingScope networking;
    const std::uint16_t port = UnusedLoopbackPort(false);
    ASSERT_NE(port, 0);
    CSocketComm comm;
    comm.SetPort(port);
    comm.SetConnectTimeoutMs(20000);
    testing::internal::CaptureStderr();
    EXPECT_FALSE(comm.ConnectIPv4("127.0.0.1"));
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_FALSE(comm.IsOpen());
}

TEST(WinsockSend, NothingIsSentWithoutASocketOrData)
{
    CSocketComm comm;
    const std::uint8_t byte = 0x7F;
    EXPECT_EQ(comm.SendBuffer(&byte, 1), 0);

    LoopbackListener listener(false);
    ASSERT_TRUE(listener.Valid());
    comm.SetPort(listener.Port());
    ASSERT_TRUE(comm.ConnectIPv4("127.0.0.1"));
    EXPECT_EQ(comm.SendBuffer(nullptr, 10), 0);
    EXPECT_EQ(comm.SendBuffer(&byte, 0), 0);
}

TEST(WinsockSend, ConnectedSocketDeliversEveryByteOverIPv4AndIPv6)
{
    for (const bool ipv6 : {false, true}) {
        SCOPED_TRACE(ipv6 ? "IPv6" : "IPv4");
        LoopbackListener listener(ipv6);
        if (!listener.Valid()) {
            EXPECT_TRUE(ipv6) << "no IPv4 loopback listener";
            continue;
        }
        CSocketComm comm;
        comm.SetPort(listener.Port());
        ASSERT_TRUE(ipv6 ? comm.ConnectIPv6("::1") : comm.ConnectIPv4("127.0.0.1"));
        LoopbackPeer peer = listener.Accept(10000);
        ASSERT_TRUE(peer.Valid());

        const std::vector<std::uint8_t> data = Pattern(135, 0x7D);
        EXPECT_EQ(comm.SendBuffer(data.data(), static_cast<int>(data.size())), 135);
        EXPECT_EQ(peer.Receive(data.size(), 10000), data);

        const std::vector<std::uint8_t> reply = Pattern(300, 3);
        ASSERT_TRUE(peer.SendAll(reply));
        std::vector<std::uint8_t> got;
        std::vector<std::uint8_t> buffer(400000);
        while (got.size() < reply.size()) {
            const int n =
                comm.RecvWithTimeout(10000, static_cast<int>(buffer.size()), buffer.data());
            ASSERT_GT(n, 0);
            got.insert(got.end(), buffer.begin(), buffer.begin() + n);
        }
        EXPECT_EQ(got, reply);
    }
}

TEST(WinsockSend, PeerThatNeverReadsGetsZeroInsteadOfABlockedSend)
{
    LoopbackListener listener(false);
    ASSERT_TRUE(listener.Valid());
    CSocketComm comm;
    comm.SetPort(listener.Port());
    ASSERT_TRUE(comm.ConnectIPv4("127.0.0.1"));
    LoopbackPeer peer = listener.Accept(10000);
    ASSERT_TRUE(peer.Valid());

    // Pieces no larger than one request frame: the writability check stops them once the
    // buffers fill.
    // A send may take only part of a piece once the buffers are nearly full.
    const std::vector<std::uint8_t> piece = Pattern(3072, 0);
    std::vector<std::uint8_t> accepted;
    int result = 1;
    for (int i = 0; i < 100000 && result > 0; ++i) {
        result = comm.SendBuffer(piece.data(), static_cast<int>(piece.size()));
        if (result > 0)
            accepted.insert(accepted.end(), piece.begin(), piece.begin() + result);
    }
    EXPECT_EQ(result, 0) << "the send buffers never filled";
    EXPECT_FALSE(accepted.empty());

    // What SendBuffer counted as sent all arrives, in order.
    const std::vector<std::uint8_t> got = peer.Receive(accepted.size(), 5000);
    ASSERT_EQ(got.size(), accepted.size());
    EXPECT_TRUE(got == accepted);
}
