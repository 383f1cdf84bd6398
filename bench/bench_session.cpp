// Figures of the KKC panel against the simulated instrument on loopback: reply complete to
// picture shown, key click to bytes at the instrument, the window thread's longest stall,
// the CPU used while Started, key click to the first picture showing its effect in either
// refresh mode, and how soon a session is Started again once a stopped simulator is back.
// Prints figures; asserts nothing.
#include "BenchKit.h"
#include "CImage.h"
#include "CLog.h"
#include "CPrefStore.h"
#include "CQxButton.h"
#include "CRemoteDlgKKC.h"
#include "CSimServer.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QHash>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

using clock_type = std::chrono::steady_clock;
using bench::CpuSeconds;
using bench::Median;
using bench::Spin;

namespace {

double Ms(clock_type::duration d)
{
    return std::chrono::duration<double, std::milli>(d).count();
}

// Times from a key click to the first shown picture the instrument drew after it had taken
// the key, for `keys` clicks at seeded random moments of the refresh cycle, sorted.
std::vector<double> KeyToEffectMs(CRemoteDlgKKC &panel, CSimInstrument &instrument,
                                  CRemoteSession::RefreshMode mode, int keys)
{
    // What the instrument had taken when it drew each picture, by the picture's bytes.
    std::mutex lock;
    std::map<std::size_t, std::uint64_t> keysBehind;
    instrument.SetScreenObserver([&](const QByteArray &jpeg) {
        std::lock_guard guard(lock);
        keysBehind[qHash(jpeg)] = instrument.CommandsReceived();
    });
    std::uint64_t waitingFor = 0;
    clock_type::time_point clicked{};
    std::vector<double> latency;
    const auto connection = QObject::connect(
        &panel.Session(), &CRemoteSession::screenReady, [&](const ScreenFrame &frame) {
            std::lock_guard guard(lock);
            const auto it = keysBehind.find(qHash(frame.jpeg));
            if (waitingFor != 0 && it != keysBehind.end() && it->second >= waitingFor) {
                latency.push_back(Ms(clock_type::now() - clicked));
                waitingFor = 0;
            }
        });
    panel.Session().SetRefreshMode(mode);
    panel.OnCommand(ids::IDC_START);
    Spin(800);
    std::mt19937 random(4711);
    for (int i = 0; i < keys; ++i) {
        {
            std::lock_guard guard(lock);
            waitingFor = instrument.CommandsReceived() + 1;
            clicked = clock_type::now();
        }
        // "1" opens the entry field on the instrument's screen, ESC closes it again.
        panel.Key(i % 2 == 0 ? 1085 : 1096)->click();
        QElapsedTimer wait;
        wait.start();
        while (wait.elapsed() < 3000) {
            Spin(5);
            std::lock_guard guard(lock);
            if (waitingFor == 0)
                break;
        }
        Spin(300 + int(random() % 500));
    }
    panel.OnCommand(ids::IDC_STOP);
    QObject::disconnect(connection);
    instrument.SetScreenObserver({});
    Spin(600);
    std::sort(latency.begin(), latency.end());
    return latency;
}

double Percentile(const std::vector<double> &sorted, double p)
{
    return sorted.empty() ? 0.0 : sorted[std::size_t(p * double(sorted.size() - 1) + 0.5)];
}

} // namespace

int main(int argc, char **argv)
{
    // --show SECONDS: keep the panel on screen, connected and Started, for a look at it.
    const bool show = argc > 2 && std::string(argv[1]) == "--show";
    if (!show)
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QTemporaryDir dir;
    auto instrument = std::make_shared<CSimInstrument>();
    instrument->SetLogSink([](std::string_view) {});
    CSimServer server(instrument);
    if (!server.Start("127.0.0.1", 0)) {
        std::fprintf(stderr, "simulator: %s\n", server.Error().c_str());
        return 1;
    }
    bench::WriteLoopbackPrefs(dir.filePath("prefs.ini"));
    CPrefStore store(dir.filePath("prefs.ini"));
    bench::QuietPresenter presenter;
    CRemoteDlgKKC panel(&store, &presenter);
    bench::UseSimulator(panel, dir.filePath("log"), server.Port());
    panel.OnInitDialog();
    if (!bench::ConnectAndWait(panel)) {
        std::fprintf(stderr, "connect failed\n");
        return 1;
    }

    if (show) {
        panel.show();
        panel.OnCommand(ids::IDC_START);
        Spin(std::atoi(argv[2]) * 1000);
        return 0;
    }

    // The window shows each picture before this slot runs (it connected first).
    std::vector<double> toPainted;
    std::size_t shownCount = 0;
    QObject::connect(&panel.Session(), &CRemoteSession::screenReady, [&](const ScreenFrame &f) {
        ++shownCount;
        toPainted.push_back(
            std::chrono::duration<double, std::milli>(clock_type::now() - f.arrived).count());
    });

    // Window-thread stalls: a 1 ms timer whose longest gap is recorded.
    double longestGapMs = 0;
    auto lastTick = clock_type::now();
    QTimer ticker;
    ticker.setInterval(1);
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        const auto now = clock_type::now();
        longestGapMs = std::max(longestGapMs,
                                std::chrono::duration<double, std::milli>(now - lastTick).count());
        lastTick = now;
    });

    panel.OnCommand(ids::IDC_START);
    Spin(600);
    const double cpuBefore = CpuSeconds();
    const auto wallBefore = clock_type::now();
    lastTick = clock_type::now();
    // The pictures of this interval only, not those the later measures bring.
    shownCount = 0;
    toPainted.clear();
    ticker.start();
    Spin(10000);
    ticker.stop();
    const double cpu = CpuSeconds() - cpuBefore;
    const double wall = std::chrono::duration<double>(clock_type::now() - wallBefore).count();
    const std::size_t shownInInterval = shownCount;
    const std::vector<double> paintedInInterval = toPainted;

    // Key click to the text at the instrument, clicks 300 ms apart so the spacing never applies.
    std::vector<double> keyMs;
    for (int i = 0; i < 20; ++i) {
        const std::size_t before = instrument->ReceivedCommandsRaw().size();
        const auto clicked = clock_type::now();
        panel.Key(1073)->click();
        while (instrument->ReceivedCommandsRaw().size() == before &&
               clock_type::now() - clicked < std::chrono::seconds(2))
            std::this_thread::yield();
        keyMs.push_back(
            std::chrono::duration<double, std::milli>(clock_type::now() - clicked).count());
        Spin(300);
    }
    panel.OnCommand(ids::IDC_STOP);

    // What the file step costs inside that interval: writing and decoding one picture.
    std::vector<double> fileMs;
    const QByteArray jpeg = instrument->LastScreenJpeg();
    const QString path = dir.filePath("probe.jpg");
    for (int i = 0; i < 20; ++i) {
        const auto t0 = clock_type::now();
        CRemoteSession::FileSaveBinary(
            path, reinterpret_cast<const std::uint8_t *>(jpeg.constData()), int(jpeg.size()));
        CImage image;
        image.Load(path);
        fileMs.push_back(std::chrono::duration<double, std::milli>(clock_type::now() - t0).count());
    }

    constexpr int kKeys = 30;
    const std::vector<double> standard =
        KeyToEffectMs(panel, *instrument, CRemoteSession::RefreshMode::Standard, kKeys);
    const std::vector<double> afterKeys =
        KeyToEffectMs(panel, *instrument, CRemoteSession::RefreshMode::AfterKeys, kKeys);
    const double standardMs = Median(standard);
    const double afterKeysMs = Median(afterKeys);
    panel.Session().SetRefreshMode(CRemoteSession::RefreshMode::Standard);

    // The simulator away for 3 s, then back on its port: how long until Started again.
    std::vector<double> backMs;
    panel.OnCommand(ids::IDC_START);
    for (int run = 0; run < 3; ++run) {
        Spin(1000 + run * 170);
        server.Stop();
        Spin(3000);
        if (!server.Restart())
            break;
        const auto back = clock_type::now();
        QElapsedTimer wait;
        wait.start();
        while (panel.State() != SessionState::Started && wait.elapsed() < 30000)
            Spin(5);
        backMs.push_back(Ms(clock_type::now() - back));
    }
    panel.OnCommand(ids::IDC_STOP);

    // CPU of the panel alone: the same Started session against a simulator in its own process.
    double panelOnlyCpu = -1;
    const QString simPath = QCoreApplication::applicationDirPath() + "/klremote-sim";
    QProcess sim;
    sim.start(simPath, {"--port", "0"});
    if (sim.waitForStarted(5000) && sim.waitForReadyRead(10000)) {
        const QString line = QString::fromLatin1(sim.readLine()).trimmed();
        const int simPort = line.section(':', -1).toInt();
        if (line.startsWith("listening on") && simPort > 0) {
            CRemoteDlgKKC second(&store, &presenter);
            bench::UseSimulator(second, dir.filePath("log2"), std::uint16_t(simPort));
            second.OnInitDialog();
            if (bench::ConnectAndWait(second)) {
                second.OnCommand(ids::IDC_START);
                Spin(600);
                const double c0 = CpuSeconds();
                const auto t0 = clock_type::now();
                Spin(10000);
                panelOnlyCpu = 100.0 * (CpuSeconds() - c0) /
                               std::chrono::duration<double>(clock_type::now() - t0).count();
                second.OnCommand(ids::IDC_STOP);
            }
        }
    }
    sim.terminate();
    sim.waitForFinished(5000);

    std::printf("pictures shown while Started        : %zu in %.1f s\n", shownInInterval, wall);
    std::printf("reply complete -> picture shown     : median %.2f ms, max %.2f ms (n=%zu)\n",
                Median(paintedInInterval),
                paintedInInterval.empty()
                    ? 0.0
                    : *std::max_element(paintedInInterval.begin(), paintedInInterval.end()),
                paintedInInterval.size());
    std::printf("  of which file write + JPEG decode : median %.2f ms (%d bytes)\n", Median(fileMs),
                int(jpeg.size()));
    std::printf("key click -> text at the instrument : median %.2f ms, max %.2f ms (n=%zu)\n",
                Median(keyMs), *std::max_element(keyMs.begin(), keyMs.end()), keyMs.size());
    std::printf("window thread longest stall         : %.2f ms\n", longestGapMs);
    std::printf("CPU while Started (panel + simulator): %.2f %% of one core\n", 100.0 * cpu / wall);
    if (panelOnlyCpu >= 0)
        std::printf("CPU while Started (panel only)      : %.2f %% of one core\n", panelOnlyCpu);
    std::printf("key to effect: standard %.0f ms, after keys %.0f ms, ratio %.2f\n", standardMs,
                afterKeysMs, standardMs > 0 ? afterKeysMs / standardMs : 0.0);
    std::printf("  10th to 90th percentile: standard %.0f to %.0f ms, after keys %.0f to %.0f ms "
                "(n=%zu, %zu)\n",
                Percentile(standard, 0.1), Percentile(standard, 0.9), Percentile(afterKeys, 0.1),
                Percentile(afterKeys, 0.9), standard.size(), afterKeys.size());
    std::printf("reconnect: simulator stopped 3 s, Started again %.2f s after it was back "
                "(worst of %zu runs:",
                backMs.empty() ? -1.0 : *std::max_element(backMs.begin(), backMs.end()) / 1000,
                backMs.size());
    for (double ms : backMs)
        std::printf(" %.2f", ms / 1000);
    std::printf(" s)\n");
    return 0;
}
