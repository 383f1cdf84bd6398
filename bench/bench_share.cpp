// Figures of the browser view: the KKC panel, Started at its standard 500 ms cycle against the
// simulator in a process of its own, shares its screen on loopback to 1, 8 and 32 WebSocket
// viewers in another process. Printed: the panel process's CPU while Started, and the viewers'
// median and 95th-percentile delay from a picture's arrival at the panel to its last byte at
// a viewer (both processes read the same monotonic clock). Prints figures; asserts nothing.
#include "CPrefStore.h"
#include "CRemoteDlgKKC.h"
#include "CShareFeature.h"
#include "Loopback.h"
#include "ShareKeys.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>

#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

using Clock = std::chrono::steady_clock;

namespace {

constexpr int kSeconds = 15;

std::uint64_t Fnv(const char *data, std::size_t size)
{
    std::uint64_t h = 1469598103934665603ull;
    for (std::size_t i = 0; i < size; ++i)
        h = (h ^ std::uint8_t(data[i])) * 1099511628211ull;
    return h;
}

long long Now()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch())
        .count();
}

void Spin(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

double CpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

double Percentile(std::vector<double> v, double p)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, std::size_t(p * double(v.size())))];
}

// ---- The viewers' process: one thread per viewer, a plain blocking WebSocket client each.

bool ReadExact(int fd, char *out, std::size_t n, long long deadline)
{
    std::size_t got = 0;
    while (got < n) {
        const long long left = (deadline - Now()) / 1000000;
        if (left <= 0)
            return false;
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, int(left)) <= 0)
            return false;
        const ssize_t r = ::recv(fd, out + got, n - got, 0);
        if (r <= 0)
            return false;
        got += std::size_t(r);
    }
    return true;
}

void RunViewer(int index, quint16 port, long long deadline, std::mutex &lock,
               std::vector<std::string> &lines)
{
    const int fd = ConnectLoopback(port);
    if (fd < 0)
        return;
    const char request[] = "GET /live HTTP/1.1\r\nHost: 127.0.0.1\r\nUpgrade: websocket\r\n"
                           "Connection: Upgrade\r\nSec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n"
                           "Sec-WebSocket-Version: 13\r\n\r\n";
    ::send(fd, request, sizeof request - 1, MSG_NOSIGNAL);
    std::string head;
    char c = 0;
    while (head.find("\r\n\r\n") == std::string::npos && ReadExact(fd, &c, 1, deadline))
        head += c;
    std::vector<char> message;
    std::vector<std::string> mine;
    for (;;) {
        unsigned char h[2];
        if (!ReadExact(fd, reinterpret_cast<char *>(h), 2, deadline))
            break;
        std::uint64_t length = h[1] & 0x7F;
        if (length >= 126) {
            unsigned char ext[8];
            const int n = length == 126 ? 2 : 8;
            if (!ReadExact(fd, reinterpret_cast<char *>(ext), std::size_t(n), deadline))
                break;
            length = 0;
            for (int i = 0; i < n; ++i)
                length = (length << 8) | ext[i];
        }
        const std::size_t start = message.size();
        message.resize(start + length);
        if (!ReadExact(fd, message.data() + start, length, deadline))
            break;
        const int opcode = h[0] & 0x0F;
        if (opcode == 8)
            break;
        if (!(h[0] & 0x80))
            continue; // more frames of this message follow
        if (opcode == 2 || (opcode == 0 && !message.empty())) {
            char line[96];
            std::snprintf(line, sizeof line, "%d %lld %llu", index, Now(),
                          (unsigned long long)Fnv(message.data(), message.size()));
            mine.emplace_back(line);
        }
        message.clear();
    }
    ::close(fd);
    std::lock_guard guard(lock);
    lines.insert(lines.end(), mine.begin(), mine.end());
}

int RunViewers(int count, quint16 port, int seconds)
{
    const long long deadline = Now() + (long long)seconds * 1000000000LL;
    std::mutex lock;
    std::vector<std::string> lines;
    std::vector<std::thread> threads;
    for (int i = 0; i < count; ++i)
        threads.emplace_back([&, i] { RunViewer(i, port, deadline, lock, lines); });
    for (auto &t : threads)
        t.join();
    for (const std::string &line : lines)
        std::printf("%s\n", line.c_str());
    return 0;
}

// ---- The panel's process.

struct Run
{
    int viewers = 0;
    double cpu = 0;
    std::size_t deliveries = 0;
    std::size_t pictures = 0;
    double median = 0;
    double p95 = 0;
};

} // namespace

int main(int argc, char **argv)
{
    if (argc == 5 && std::strcmp(argv[1], "--viewers") == 0)
        return RunViewers(std::atoi(argv[2]), quint16(std::atoi(argv[3])), std::atoi(argv[4]));

    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QTemporaryDir dir;

    QProcess sim;
    sim.start(QCoreApplication::applicationDirPath() + "/klremote-sim", {"--port", "0"});
    if (!sim.waitForStarted(5000) || !sim.waitForReadyRead(10000)) {
        std::fprintf(stderr, "klremote-sim did not start\n");
        return 1;
    }
    const int simPort = QString::fromLatin1(sim.readLine()).trimmed().section(':', -1).toInt();
    {
        QSettings ini(dir.filePath("prefs.ini"), QSettings::IniFormat);
        ini.setValue("Connection/Method", 1);
        ini.setValue("Connection/IP", "127.0.0.1");
    }
    CPrefStore store(dir.filePath("prefs.ini"));
    struct Quiet : CSessionPresenter
    {
        void Message(QWidget *, const QString &) override {}
        void ConnectionFailed(QWidget *, int) override {}
    } presenter;
    CRemoteDlgKKC panel(&store, &presenter);
    panel.SetLogFolder(dir.filePath("log"));
    panel.SetLinkSetup([simPort](CDevComm &link) { link.SetPort(quint16(simPort)); });
    ShareProfile profile;
    profile.keys = share::KkcKeys();
    auto feature = std::make_unique<CShareFeature>(panel, std::move(profile), nullptr);
    CShareFeature *share = feature.get();
    panel.AddFeature(std::move(feature));
    panel.OnInitDialog();
    panel.OnCommand(ids::IDC_CONNECT);
    QElapsedTimer wait;
    wait.start();
    while (panel.IsConnectRunning() && wait.elapsed() < 15000)
        Spin(10);
    if (!panel.Link().IsConnected()) {
        std::fprintf(stderr, "connect failed\n");
        return 1;
    }
    QString error;
    if (!share->Start(QHostAddress(QHostAddress::LocalHost), 0, error)) {
        std::fprintf(stderr, "share: %s\n", qPrintable(error));
        return 1;
    }
    const quint16 port = share->Server().Port();

    std::map<std::uint64_t, long long> arrivals; // picture -> when the panel had it
    QObject::connect(&panel.Session(), &CRemoteSession::screenReady, [&](const ScreenFrame &f) {
        arrivals[Fnv(f.jpeg.constData(), std::size_t(f.jpeg.size()))] =
            std::chrono::duration_cast<std::chrono::nanoseconds>(f.arrived.time_since_epoch())
                .count();
    });
    panel.OnCommand(ids::IDC_START);
    Spin(1500);

    std::vector<Run> runs;
    for (const int viewers : {0, 1, 8, 32}) {
        Run run;
        run.viewers = viewers;
        QProcess child;
        if (viewers > 0)
            child.start(QCoreApplication::applicationFilePath(),
                        {"--viewers", QString::number(viewers), QString::number(port),
                         QString::number(kSeconds)});
        Spin(1000); // the viewers connect
        const std::size_t picturesBefore = arrivals.size();
        const double cpu0 = CpuSeconds();
        const auto t0 = Clock::now();
        Spin((kSeconds - 2) * 1000);
        run.cpu = 100.0 * (CpuSeconds() - cpu0) /
                  std::chrono::duration<double>(Clock::now() - t0).count();
        run.pictures = arrivals.size() - picturesBefore;
        if (viewers > 0) {
            while (child.state() != QProcess::NotRunning)
                Spin(50);
            std::vector<double> delays;
            for (const QByteArray &line : child.readAllStandardOutput().split('\n')) {
                const QList<QByteArray> f = line.split(' ');
                if (f.size() != 3)
                    continue;
                const auto it = arrivals.find(f[2].toULongLong());
                if (it != arrivals.end())
                    delays.push_back(double(f[1].toLongLong() - it->second) / 1e6);
            }
            run.deliveries = delays.size();
            run.median = Percentile(delays, 0.5);
            run.p95 = Percentile(delays, 0.95);
        }
        runs.push_back(run);
        Spin(500);
    }
    panel.OnCommand(ids::IDC_STOP);
    sim.terminate();
    sim.waitForFinished(5000);

    std::printf("share on loopback, KKC panel Started at the 500 ms cycle, %d s a run\n", kSeconds);
    std::printf(
        "viewers | panel CPU (%% of a core) | pictures | deliveries | delay median | p95\n");
    for (const Run &r : runs)
        std::printf("%7d | %23.2f | %8zu | %10zu | %9.2f ms | %6.2f ms\n", r.viewers, r.cpu,
                    r.pictures, r.deliveries, r.median, r.p95);
    if (runs.size() == 4 && runs[1].median > 0)
        std::printf("delay at 32 viewers / delay at 1 viewer: %.2f (target <= 2)\n",
                    runs[3].median / runs[1].median);
    std::printf("panel CPU at 32 viewers: %.2f %% of a core (target <= 3 %%)\n", runs.back().cpu);
    return 0;
}
