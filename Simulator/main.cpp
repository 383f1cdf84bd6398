// klremote-sim: a simulated handheld analyser on a TCP port.
#include "CSimServer.h"

#include <QGuiApplication>

#include <charconv>
#include <csignal>
#include <cstdlib>
#include <iostream>
#include <optional>
#include <pthread.h>
#include <string>
#include <string_view>

namespace {

constexpr const char *kUsage =
    "usage: klremote-sim [options]\n"
    "  --host ADDRESS        numeric address to listen on (default 127.0.0.1; ::1 for IPv6)\n"
    "  --port N              TCP port (default 66; 0 picks a free port)\n"
    "  --allow-non-loopback  serve an address other than loopback\n"
    "  --model TEXT          model text reported (default KL561B)\n"
    "  --family lk|kkc       screen geometry 800x600 or 800x480 (default: from the model)\n"
    "  --seed N              seed of the trace noise (default 1)\n"
    "  --packet-size N       payload bytes per reply packet (default and maximum 10496)\n"
    "  --fault KIND          checksum, sequence, noise, split, close, silence, oversize,\n"
    "                        overlong or none\n"
    "  --fault-every N       the fault hits every N-th reply (default 1)\n"
    "  --fault-percent N     instead: each reply is faulty with N % chance, the kind drawn\n"
    "                        from every fault but close (seeded by --seed)\n"
    "  --split-delay-ms N    pause inside a split packet (default 50)\n"
    "  --latency-ms N        pause before every reply (default 0)\n"
    "  --help                this text\n"
    "Prints \"listening on HOST:PORT\" once it listens; SIGINT or SIGTERM ends it.\n";

std::optional<long> ParseNumber(std::string_view text, long lo, long hi)
{
    long value = 0;
    const char *end = text.data() + text.size();
    auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (text.empty() || ec != std::errc() || ptr != end || value < lo || value > hi)
        return std::nullopt;
    return value;
}

int UsageError(const std::string &why)
{
    std::cerr << "klremote-sim: " << why << "\n" << kUsage;
    return 2;
}

} // namespace

int main(int argc, char **argv)
{
    std::string host = "127.0.0.1";
    long port = 66;
    bool allowNonLoopback = false;
    std::optional<std::string> model;
    std::optional<SimFamily> family;
    long seed = 1;
    long packetSize = static_cast<long>(klr::kPayloadStoreSize);
    SimFault fault = SimFault::None;
    long faultEvery = 1;
    long faultPercent = 0;
    long splitDelay = 50;
    long latency = 0;

    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            std::cout << kUsage;
            return 0;
        }
        if (arg == "--allow-non-loopback") {
            allowNonLoopback = true;
            continue;
        }
        if (i + 1 >= argc)
            return UsageError("unknown option or missing value: " + std::string(arg));
        const std::string_view value = argv[++i];
        auto number = [&](long lo, long hi, long &out) {
            if (auto n = ParseNumber(value, lo, hi)) {
                out = *n;
                return true;
            }
            return false;
        };
        bool ok = true;
        if (arg == "--host") {
            host = value;
        } else if (arg == "--port") {
            ok = number(0, 65535, port);
        } else if (arg == "--model") {
            model = std::string(value);
        } else if (arg == "--family") {
            family = ParseFamily(value);
            ok = family.has_value();
        } else if (arg == "--seed") {
            ok = number(0, 0xFFFFFFFFL, seed);
        } else if (arg == "--packet-size") {
            ok = number(1, static_cast<long>(klr::kPayloadStoreSize), packetSize);
        } else if (arg == "--fault") {
            const auto parsed = ParseFault(value);
            ok = parsed.has_value();
            fault = parsed.value_or(SimFault::None);
        } else if (arg == "--fault-every") {
            ok = number(1, 1000000, faultEvery);
        } else if (arg == "--fault-percent") {
            ok = number(0, 100, faultPercent);
        } else if (arg == "--split-delay-ms") {
            ok = number(0, 600000, splitDelay);
        } else if (arg == "--latency-ms") {
            ok = number(0, 600000, latency);
        } else {
            return UsageError("unknown option: " + std::string(arg));
        }
        if (!ok)
            return UsageError("bad value for " + std::string(arg) + ": " + std::string(value));
    }

    // Text rendering needs a GUI application object, but never a display.
    if (!std::getenv("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);

    // The server thread inherits a mask with the stop signals blocked; only sigwait sees them.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    auto instrument = std::make_shared<CSimInstrument>();
    if (model)
        instrument->SetModel(*model);
    if (family)
        instrument->SetFamily(*family);
    instrument->SetSeed(static_cast<std::uint32_t>(seed));
    instrument->SetPacketSize(static_cast<std::size_t>(packetSize));
    instrument->SetFault(fault, static_cast<int>(faultEvery));
    if (faultPercent > 0) {
        // A closed connection would end the client's session; every other kind leaves it
        // standing.
        instrument->SetFaultMix(double(faultPercent) / 100.0,
                                {SimFault::Checksum, SimFault::Sequence, SimFault::Noise,
                                 SimFault::Split, SimFault::Silence, SimFault::Oversize,
                                 SimFault::Overlong},
                                static_cast<std::uint32_t>(seed));
    }
    instrument->SetSplitDelayMs(static_cast<int>(splitDelay));
    instrument->SetLatencyMs(static_cast<int>(latency));

    CSimServer server(instrument);
    if (!server.Start(host, static_cast<std::uint16_t>(port), allowNonLoopback)) {
        std::cerr << "klremote-sim: " << server.Error() << std::endl;
        return 1;
    }
    std::cout << "listening on " << server.Host() << ":" << server.Port() << std::endl;

    int signal = 0;
    sigwait(&stopSignals, &signal);
    server.Stop();
    std::cerr << "klremote-sim: stopped after " << instrument->ScreensSent() << " screens"
              << std::endl;
    return 0;
}
