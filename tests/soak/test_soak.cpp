// A long run of the KKC panel against the in-process simulator with a few faulty replies
// mixed in, key commands arriving from another thread all the while, and the refresh cycle
// shortened. Checks that nothing grows (memory, descriptors, threads), that every key
// command reached the instrument in order, and that every picture shown is one the
// instrument sent. KLR_SOAK_CYCLES sets the number of screens (300 unless set).
#include "CRemoteDlgKKC.h"
#include "PanelHarness.h"

#include <QCryptographicHash>
#include <QDir>

#include <gtest/gtest.h>

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

using PanelHarness = BasicPanelHarness<CRemoteDlgKKC>;

namespace {

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kResidentSizeMeaningful = false;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kResidentSizeMeaningful = false;
#else
constexpr bool kResidentSizeMeaningful = true;
#endif
#else
constexpr bool kResidentSizeMeaningful = true;
#endif

constexpr int kDefaultCycles = 300;
constexpr int kCycleMs = 20;
constexpr double kFaultProbability = 0.05;
constexpr std::uint32_t kSeed = 20260412;
// A silent reply costs five attempts of this.
constexpr int kAttemptMs = 250;
// Slower than the panel's own spacing of key commands plus a screen transfer, so that the
// queue of keys does not grow without end.
constexpr int kKeyEveryMs = 250;
constexpr long kMaxGrowthBytes = 5L * 1024 * 1024;

int Cycles()
{
    const char *text = std::getenv("KLR_SOAK_CYCLES");
    const int n = text ? std::atoi(text) : 0;
    return n > 0 ? n : kDefaultCycles;
}

long ResidentBytes()
{
    FILE *f = std::fopen("/proc/self/statm", "r");
    long pages = 0;
    long resident = 0;
    if (f) {
        if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2)
            resident = 0;
        std::fclose(f);
    }
    return resident * sysconf(_SC_PAGESIZE);
}

int Entries(const char *folder)
{
    return int(QDir(QString::fromLatin1(folder))
                   .entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System)
                   .size());
}

// The quietest of a few looks: a picture file being written is open only for a moment.
int Quietest(const char *folder)
{
    int least = Entries(folder);
    for (int i = 0; i < 8; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(3));
        least = std::min(least, Entries(folder));
    }
    return least;
}

QByteArray Hash(const QByteArray &bytes)
{
    return QCryptographicHash::hash(bytes, QCryptographicHash::Sha1);
}

struct Figures
{
    long rss = 0;
    int fds = 0;
    int threads = 0;
};

Figures Measure()
{
    return {ResidentBytes(), Quietest("/proc/self/fd"), Quietest("/proc/self/task")};
}

TEST(Soak, ScreensKeysAndFaultsForManyCycles)
{
    const int cycles = Cycles();
    const int warmUp = std::max(30, cycles / 10);

    PanelHarness h;
    std::mutex sentLock;
    std::set<QByteArray> sentHashes;
    h.instrument->SetLogSink([](std::string_view) {});
    h.instrument->SetScreenObserver([&](const QByteArray &jpeg) {
        std::lock_guard lock(sentLock);
        sentHashes.insert(Hash(jpeg));
    });
    ASSERT_TRUE(h.StartServer());
    h.Preset("Method", 1);
    h.Preset("IP", "127.0.0.1");
    h.store = std::make_unique<CPrefStore>(h.IniPath());
    auto panel = std::make_unique<CRemoteDlgKKC>(h.store.get(), &h.presenter);
    // The instrument's bytes of every picture handed to the window.
    std::vector<QByteArray> drawnHashes;
    QObject::connect(&panel->Session(), &CRemoteSession::screenReady, panel.get(),
                     [&](const ScreenFrame &frame) { drawnHashes.push_back(Hash(frame.jpeg)); });
    panel->SetLogFolder(h.dir.filePath("log"));
    const std::uint16_t port = h.server->Port();
    panel->SetLinkSetup([port](CDevComm &link) {
        link.SetPort(port);
        link.SetReceiveAttemptMs(kAttemptMs);
    });
    panel->SetRefreshCycleMs(kCycleMs);
    panel->OnInitDialog();
    panel->OnCommand(ids::IDC_CONNECT);
    ASSERT_TRUE(WaitFor([&] { return !panel->IsConnectRunning(); }));
    ASSERT_TRUE(panel->Link().IsConnected());

    // Every kind of fault that leaves the connection standing; a closed connection ends a
    // session by design and is covered elsewhere.
    h.instrument->SetFaultMix(kFaultProbability,
                              {SimFault::Checksum, SimFault::Sequence, SimFault::Noise,
                               SimFault::Split, SimFault::Oversize, SimFault::Overlong,
                               SimFault::Silence},
                              kSeed);
    h.instrument->ClearReceivedCommands();
    panel->OnCommand(ids::IDC_START);

    std::atomic<bool> stopKeys{false};
    std::vector<std::string> keysSent;
    std::thread keys([&] {
        for (int i = 0; !stopKeys; ++i) {
            const std::string text = "KEYP " + std::to_string(i % 800) + "," + std::to_string(i);
            panel->SendKeyCommand(text);
            keysSent.push_back(text);
            std::this_thread::sleep_for(std::chrono::milliseconds(kKeyEveryMs));
        }
    });

    const auto start = std::chrono::steady_clock::now();
    const auto screens = [&] { return int(h.instrument->ScreensSent()); };
    const int hangLimitMs = 60000 + cycles * 2000;
    const bool warmed = WaitFor([&] { return screens() >= warmUp; }, hangLimitMs);
    const Figures before = Measure();
    const bool done = warmed && WaitFor([&] { return screens() >= cycles; }, hangLimitMs);
    const Figures after = Measure();
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

    stopKeys = true;
    keys.join();
    ASSERT_TRUE(warmed && done) << screens() << " screens";
    panel->OnCommand(ids::IDC_STOP);
    ASSERT_TRUE(WaitFor([&] { return panel->Session().m_bScreenReady == 1; }, 20000));
    ASSERT_TRUE(panel->KeySenderDrain(120000));
    ASSERT_TRUE(
        WaitFor([&] { return h.instrument->ReceivedCommands().size() >= keysSent.size(); }, 10000));
    Spin(100);

    std::vector<std::string> received;
    for (const std::string &command : h.instrument->ReceivedCommands())
        if (command.rfind("KEYP ", 0) == 0)
            received.push_back(command);
    EXPECT_EQ(received, keysSent);

    const std::vector<QByteArray> drawn = drawnHashes;
    int unknown = 0;
    {
        std::lock_guard lock(sentLock);
        for (const QByteArray &hash : drawn)
            unknown += sentHashes.count(hash) == 0 ? 1 : 0;
    }
    EXPECT_EQ(unknown, 0) << "pictures drawn that the instrument never sent";
    EXPECT_EQ(panel->PicturesShown(), int(drawn.size()));
    // Faults spoil about one reply in twenty, and a few more while a broken reply's rest
    // drains; most screens still arrive.
    EXPECT_GT(int(drawn.size()), cycles / 2);
    EXPECT_TRUE(panel->Link().IsConnected());

    // The warm-up sample may catch a transient descriptor or thread (a key send, a reply
    // being drained); a leak can only show as growth.
    EXPECT_LE(after.fds, before.fds);
    EXPECT_LE(after.threads, before.threads);
    const long growth = after.rss - before.rss;
    if (kResidentSizeMeaningful) {
        EXPECT_LT(growth, kMaxGrowthBytes);
    }

    std::printf("soak: %d screens in %.1f s (%.1f per second), %zu pictures shown, %zu keys\n",
                screens(), seconds, screens() / seconds, drawn.size(), keysSent.size());
    std::printf("soak: resident %.1f MB after warm-up, %.1f MB at the end (%+.2f MB)%s\n",
                before.rss / 1048576.0, after.rss / 1048576.0, growth / 1048576.0,
                kResidentSizeMeaningful ? "" : " [not checked under AddressSanitizer]");
    std::printf("soak: descriptors %d -> %d, threads %d -> %d\n", before.fds, after.fds,
                before.threads, after.threads);
    panel.reset();
}

} // namespace
