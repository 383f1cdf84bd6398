// The socket used from two threads at once, as the link does: the window thread sends key
// commands and shuts the socket down while the refresh worker waits for reply bytes.
#include "CInterface.h"
#include "LoopbackListener.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <thread>
#include <vector>

namespace {

constexpr int kGenerousMs = 5000; // only there to catch hangs

void ForEachFamily(const std::function<void(bool ipv6, LoopbackListener &)> &body)
{
    for (bool ipv6 : {false, true}) {
        LoopbackListener listener(ipv6);
        if (!listener.Valid()) {
            ASSERT_TRUE(ipv6) << "no IPv4 loopback";
            continue; // no IPv6 here
        }
        SCOPED_TRACE(ipv6 ? "IPv6" : "IPv4");
        body(ipv6, listener);
    }
}

} // namespace

TEST(SocketThreads, ShutdownFromAnotherThreadWakesAWaitingReceive)
{
    ForEachFamily([](bool ipv6, LoopbackListener &listener) {
        CInterface link;
        link.SetPort(listener.Port());
        ASSERT_TRUE(ipv6 ? link.ConnectIPv6(listener.Host()) : link.ConnectIPv4(listener.Host()));
        LoopbackPeer peer = listener.Accept(kGenerousMs);
        ASSERT_TRUE(peer.Valid());

        std::atomic<int> received{-2};
        std::atomic<bool> waiting{false};
        std::thread reader([&] {
            std::uint8_t buffer[64];
            waiting = true;
            // Long enough that only a wake-up, not the time-out, lets the test finish.
            const bool readable = link.WaitReadable(60000);
            received = readable ? link.RecvWithTimeout(60000, sizeof buffer, buffer) : 0;
        });
        while (!waiting)
            std::this_thread::yield();
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        link.Shutdown();
        reader.join();
        EXPECT_EQ(received.load(), -1);
        EXPECT_TRUE(link.IsOpen()); // shut down, not closed: the owner closes it
        link.Close(false);
        EXPECT_FALSE(link.IsOpen());
    });
}

TEST(SocketThreads, SendsWhileAnotherThreadReceives)
{
    ForEachFamily([](bool ipv6, LoopbackListener &listener) {
        CInterface link;
        link.SetPort(listener.Port());
        ASSERT_TRUE(ipv6 ? link.ConnectIPv6(listener.Host()) : link.ConnectIPv4(listener.Host()));
        LoopbackPeer peer = listener.Accept(kGenerousMs);
        ASSERT_TRUE(peer.Valid());

        constexpr int kMessages = 200;
        constexpr std::size_t kSize = 64;
        // The peer echoes everything back.
        std::thread echo([&] {
            std::size_t total = 0;
            while (total < kMessages * kSize) {
                const auto data = peer.Receive(1, kGenerousMs);
                if (data.empty() || !peer.SendAll(data))
                    return;
                total += data.size();
            }
        });
        std::atomic<std::size_t> got{0};
        std::thread reader([&] {
            std::vector<std::uint8_t> buffer(4096);
            while (got < kMessages * kSize) {
                const int n = link.RecvWithTimeout(kGenerousMs, static_cast<int>(buffer.size()),
                                                   buffer.data());
                if (n <= 0)
                    return;
                got += static_cast<std::size_t>(n);
            }
        });
        const std::vector<std::uint8_t> message(kSize, 0x41);
        int sent = 0;
        for (int i = 0; i < kMessages; ++i) {
            int n = 0;
            // A socket that is momentarily not writable sends nothing; try that message again.
            for (int attempt = 0; attempt < 1000 && n == 0; ++attempt) {
                n = link.SendBuffer(message.data(), static_cast<int>(kSize));
                if (n == 0)
                    std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
            if (n != static_cast<int>(kSize))
                break;
            ++sent;
        }
        if (sent != kMessages)
            link.Shutdown(); // lets the reader give up at once
        reader.join();
        echo.join();
        EXPECT_EQ(sent, kMessages);
        EXPECT_EQ(got.load(), kMessages * kSize);
    });
}
