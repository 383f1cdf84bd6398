// Screen fetch time over loopback: a 100 KB reply in 10 KB packets, written (a) at once or
// (b) each packet in two halves 1 ms apart, fetched by CDevComm and, for comparison, read
// by a plain socket client that only counts the bytes of the same paced stream.
#include "CDevComm.h"
#include "NetCompat.h"
#include "Protocol.h"

#include <benchmark/benchmark.h>

#ifndef _WIN32
#include <netinet/tcp.h>
#endif

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <map>
#include <string>
#include <thread>
#include <vector>

namespace net = klr::net;
using Clock = std::chrono::steady_clock;

namespace {

constexpr std::size_t kReplyBytes = 100 * 1024;
constexpr std::size_t kPacketBytes = 10 * 1024;

std::vector<std::vector<std::uint8_t>> MakeReply()
{
    std::vector<std::uint8_t> picture(kReplyBytes);
    for (std::size_t i = 0; i < picture.size(); ++i) {
        picture[i] = static_cast<std::uint8_t>(i * 31 + i / 7);
    }
    const std::size_t count = kReplyBytes / kPacketBytes;
    std::vector<std::vector<std::uint8_t>> frames;
    for (std::size_t i = 0; i < count; ++i) {
        frames.push_back(klr::EncodeFrame(
            0x41, klr::REQ_SCREEN, static_cast<std::uint8_t>(count), static_cast<std::uint8_t>(i),
            std::span<const std::uint8_t>(picture).subspan(i * kPacketBytes, kPacketBytes)));
    }
    return frames;
}

bool SendAll(net::SocketHandle s, const std::uint8_t *data, std::size_t length)
{
    while (length > 0) {
        const long n = net::SendBytes(s, data, static_cast<int>(length));
        if (n <= 0) {
            return false;
        }
        data += n;
        length -= static_cast<std::size_t>(n);
    }
    return true;
}

// Answers every request (anything ending in an end marker) with the reply, paced or not.
class PacedPeer
{
public:
    PacedPeer()
    {
        m_listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        bind(m_listener, reinterpret_cast<sockaddr *>(&address), length);
        listen(m_listener, 4);
        getsockname(m_listener, reinterpret_cast<sockaddr *>(&address), &length);
        m_port = ntohs(address.sin_port);
        m_thread = std::thread([this] { Run(); });
    }
    ~PacedPeer()
    {
        m_stop = true;
        m_thread.join();
        net::CloseSocket(m_listener);
    }
    std::uint16_t Port() const { return m_port; }
    void SetPaced(bool paced) { m_paced = paced; }
    std::size_t ReplyWireBytes() const
    {
        std::size_t total = 0;
        for (const auto &frame : m_frames) {
            total += frame.size();
        }
        return total;
    }

private:
    void Run()
    {
        while (!m_stop) {
            if (net::WaitFor(m_listener, false, 20) != net::WaitResult::Ready) {
                continue;
            }
            const net::SocketHandle s = accept(m_listener, nullptr, nullptr);
            if (s == net::kInvalidSocket) {
                continue;
            }
            int one = 1;
            setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char *>(&one),
                       sizeof one);
            Serve(s);
            net::CloseSocket(s);
        }
    }
    void Serve(net::SocketHandle s)
    {
        std::vector<std::uint8_t> in(4096);
        while (!m_stop) {
            if (net::WaitFor(s, false, 20) != net::WaitResult::Ready) {
                continue;
            }
            const long n = net::RecvBytes(s, in.data(), static_cast<int>(in.size()));
            if (n <= 0) {
                return;
            }
            if (std::find(in.begin(), in.begin() + n, klr::kEndMarker) == in.begin() + n) {
                continue;
            }
            for (const auto &frame : m_frames) {
                if (m_paced) {
                    const std::size_t half = frame.size() / 2;
                    SendAll(s, frame.data(), half);
                    std::this_thread::sleep_for(std::chrono::milliseconds(1));
                    SendAll(s, frame.data() + half, frame.size() - half);
                    std::this_thread::sleep_for(std::chrono::milliseconds(1));
                } else {
                    SendAll(s, frame.data(), frame.size());
                }
            }
        }
    }

    net::SocketHandle m_listener = net::kInvalidSocket;
    std::uint16_t m_port = 0;
    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_paced{false};
    const std::vector<std::vector<std::uint8_t>> m_frames = MakeReply();
    std::thread m_thread;
};

std::map<std::string, std::vector<double>> g_samples; // milliseconds per fetch

double Median(std::vector<double> values)
{
    if (values.empty()) {
        return 0;
    }
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

const char *PatternName(bool paced)
{
    return paced ? "halves 1 ms apart" : "at once";
}

void BM_FetchScreen(benchmark::State &state)
{
    const bool paced = state.range(0) != 0;
    PacedPeer peer;
    peer.SetPaced(paced);
    CDevComm link;
    link.Init(nullptr);
    link.SetPort(peer.Port());
    if (link.ConnectTcp() != 1) {
        state.SkipWithError("no connection");
        return;
    }
    auto &samples = g_samples[std::string("fetch ") + PatternName(paced)];
    for (auto _ : state) {
        const auto start = Clock::now();
        link.RequestFile(klr::kCommand, klr::REQ_SCREEN, "currentdisp.jpg", 400000);
        int result = 0;
        do {
            result = link.PollReply();
        } while (result >= 0 && result < 100);
        const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
        if (result != 100 || link.GetReplyLength() != static_cast<int>(kReplyBytes)) {
            state.SkipWithError("fetch failed");
            return;
        }
        state.SetIterationTime(seconds);
        samples.push_back(seconds * 1000);
    }
}

void BM_RawRead(benchmark::State &state)
{
    const bool paced = state.range(0) != 0;
    PacedPeer peer;
    peer.SetPaced(paced);
    const net::SocketHandle s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(peer.Port());
    if (net::ConnectSocket(s, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0) {
        state.SkipWithError("no connection");
        net::CloseSocket(s);
        return;
    }
    const auto request = klr::EncodeFrame(0x41, klr::REQ_SCREEN, 1, 0,
                                          klr::MakeNamedPayload("currentdisp.jpg", 400000));
    std::vector<std::uint8_t> buffer(400000);
    const std::size_t expected = peer.ReplyWireBytes();
    auto &samples = g_samples[std::string("raw ") + PatternName(paced)];
    for (auto _ : state) {
        const auto start = Clock::now();
        SendAll(s, request.data(), request.size());
        std::size_t received = 0;
        while (received < expected) {
            const long n = net::RecvBytes(s, buffer.data(), static_cast<int>(buffer.size()));
            if (n <= 0) {
                break;
            }
            received += static_cast<std::size_t>(n);
        }
        const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
        state.SetIterationTime(seconds);
        samples.push_back(seconds * 1000);
    }
    net::CloseSocket(s);
}

BENCHMARK(BM_RawRead)->Arg(0)->Arg(1)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FetchScreen)->Arg(0)->Arg(1)->UseManualTime()->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char **argv)
{
    net::StartNetworking();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();

    std::printf("\n100 KB screen in 10 KB packets over loopback, median per fetch:\n");
    double unpaced = 0;
    for (const bool paced : {false, true}) {
        const double fetch = Median(g_samples[std::string("fetch ") + PatternName(paced)]);
        const double raw = Median(g_samples[std::string("raw ") + PatternName(paced)]);
        const double ratio = raw > 0 ? fetch / raw : 0.0;
        std::printf("  %-18s CDevComm %8.3f ms   raw socket %8.3f ms   ratio %.3f\n",
                    PatternName(paced), fetch, raw, ratio);
        if (!paced)
            unpaced = ratio;
    }
    // CDevComm over a raw read of the same bytes, the reply written all at once.
    std::printf("at once ratio %.2f\n", unpaced);
    net::StopNetworking();
    return 0;
}
