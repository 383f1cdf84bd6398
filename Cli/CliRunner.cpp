#include "CliRunner.h"

#include "CCliSession.h"
#include "CliOptions.h"
#include "CliQtParts.h"
#include "CliRecord.h"
#include "CliStats.h"
#include "ReconnectSchedule.h"

#include <atomic>
#include <cctype>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <thread>

namespace {

constexpr int kExitOk = 0;
constexpr int kExitLink = 1;
constexpr int kExitUsage = 2;

// Gives the instrument a moment with the last key command before the socket goes away.
constexpr auto kFlushPause = std::chrono::milliseconds(50);
// Screens in a row that may fail before the instrument counts as gone.
constexpr int kFailuresUntilLost = 3;

using Clock = std::chrono::steady_clock;

int LinkError(std::ostream &err, const std::string &text)
{
    err << "error: " << text << "\n";
    return kExitLink;
}

std::string Millis(double ms)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", ms);
    return text;
}

bool WriteFile(const std::string &path, const std::vector<std::uint8_t> &bytes)
{
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char *>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
    file.close();
    return !file.fail();
}

bool EndsWithPng(const std::string &path)
{
    if (path.size() < 4)
        return false;
    std::string ext = path.substr(path.size() - 4);
    for (char &c : ext)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return ext == ".png";
}

// The instrument's identification as it may reach a terminal: every control character (C0,
// DEL, and C1 whether as a raw byte or written in UTF-8) as "\xNN", so that no escape
// sequence acts; everything else byte for byte as received, valid UTF-8 included.
std::string EscapeControls(const std::string &text)
{
    std::string out;
    out.reserve(text.size());
    const auto byteAt = [&text](std::size_t i) {
        return i < text.size() ? static_cast<unsigned char>(text[i]) : 0u;
    };
    const auto escape = [&out](unsigned c) {
        constexpr const char *kHex = "0123456789abcdef";
        out += "\\x";
        out += kHex[(c >> 4) & 0xF];
        out += kHex[c & 0xF];
    };
    const auto isTail = [](unsigned c, unsigned low = 0x80, unsigned high = 0xBF) {
        return c >= low && c <= high;
    };
    for (std::size_t i = 0; i < text.size();) {
        const unsigned c = byteAt(i);
        // Length of the well-formed UTF-8 character starting here (0 when there is none).
        std::size_t length = 0;
        if (c >= 0xC2 && c <= 0xDF && isTail(byteAt(i + 1)))
            length = 2;
        else if (c >= 0xE0 && c <= 0xEF &&
                 isTail(byteAt(i + 1), c == 0xE0 ? 0xA0 : 0x80, c == 0xED ? 0x9F : 0xBF) &&
                 isTail(byteAt(i + 2)))
            length = 3;
        else if (c >= 0xF0 && c <= 0xF4 &&
                 isTail(byteAt(i + 1), c == 0xF0 ? 0x90 : 0x80, c == 0xF4 ? 0x8F : 0xBF) &&
                 isTail(byteAt(i + 2)) && isTail(byteAt(i + 3)))
            length = 4;

        if (length == 0) {
            if (c < 0x20 || c == 0x7F || (c >= 0x80 && c < 0xA0))
                escape(c);
            else
                out += static_cast<char>(c);
            ++i;
        } else if (length == 2 && c == 0xC2 && byteAt(i + 1) < 0xA0) {
            escape(c);
            escape(byteAt(i + 1));
            i += 2;
        } else {
            out.append(text, i, length);
            i += length;
        }
    }
    return out;
}

int Screenshot(CCliSession &session, const std::string &path, std::ostream &err)
{
    std::vector<std::uint8_t> jpeg;
    if (!session.FetchScreen(jpeg))
        return LinkError(err, session.Error());
    if (jpeg.empty())
        return LinkError(err, "empty screen reply");
    if (EndsWithPng(path)) {
        std::string error;
        if (!SaveJpegAsPng(jpeg, path, error))
            return LinkError(err, error);
        return kExitOk;
    }
    if (!WriteFile(path, jpeg))
        return LinkError(err, "cannot write " + path);
    return kExitOk;
}

int Keys(CCliSession &session, const std::vector<std::string> &keys, std::ostream &err)
{
    for (const std::string &key : keys) {
        if (!session.SendKey(key))
            return LinkError(err, session.Error());
    }
    std::this_thread::sleep_for(kFlushPause);
    return kExitOk;
}

// The instrument went away: the link is closed and opened again on the reconnect schedule
// until the instrument identifies itself once more; one line per failed try.
void ReconnectUntilBack(CCliSession &session, std::ostream &out)
{
    const auto since = Clock::now();
    session.Close();
    for (int attempt = 1;; ++attempt) {
        std::this_thread::sleep_until(since + klr::ReconnectDueAfter(attempt));
        if (session.Connect())
            break;
        out << "reconnect try " << attempt << " failed: " << session.Error() << "\n" << std::flush;
    }
    char line[64];
    std::snprintf(line, sizeof line, "Reconnected after %.1f s",
                  std::chrono::duration<double>(Clock::now() - since).count());
    out << line << "\n" << std::flush;
}

int Watch(CCliSession &session, const CliOptions &options, std::ostream &out, std::ostream &err)
{
    if (!options.outDir.empty()) {
        std::error_code ec;
        std::filesystem::create_directories(options.outDir, ec);
        if (!std::filesystem::is_directory(options.outDir))
            return LinkError(err, "cannot create " + options.outDir);
    }
    std::vector<double> times;
    int failed = 0;
    std::string lastError;
    std::vector<std::uint8_t> jpeg;
    int failedInRow = 0;
    auto nextStart = Clock::now();
    for (int n = 1; n <= options.count; ++n) {
        std::this_thread::sleep_until(nextStart);
        const auto start = Clock::now();
        nextStart = start + std::chrono::milliseconds(options.intervalMs);
        const bool ok = session.FetchScreen(jpeg);
        const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
        if (!ok) {
            ++failed;
            lastError = session.Error();
            out << "frame " << n << ": failed: " << lastError << "\n" << std::flush;
            if (options.reconnect) {
                // A fresh start, as below, unless the instrument is gone (the connection
                // closed, or three silent screens in a row) or the fresh start fails: then
                // it is waited for until it is back.
                const bool lost = session.PeerClosed() || ++failedInRow >= kFailuresUntilLost;
                if (lost || !session.Reconnect()) {
                    ReconnectUntilBack(session, out);
                    failedInRow = 0;
                    nextStart = Clock::now();
                }
                continue;
            }
            // A failed exchange may leave the stream mid-reply: start the next one afresh.
            if (!session.Reconnect()) {
                failed += options.count - n;
                lastError = session.Error();
                break;
            }
            continue;
        }
        failedInRow = 0;
        times.push_back(ms);
        out << "frame " << n << ": " << jpeg.size() << " bytes in " << Millis(ms) << " ms\n"
            << std::flush;
        if (!options.outDir.empty()) {
            char name[32];
            std::snprintf(name, sizeof name, "frame_%04d.jpg", n);
            const auto path = std::filesystem::path(options.outDir) / name;
            if (!WriteFile(path.string(), jpeg))
                return LinkError(err, "cannot write " + path.string());
        }
    }
    const CliStats stats = Summarise(times);
    out << "frames: " << options.count << ", failed: " << failed << ", median "
        << Millis(stats.median) << " ms, p95 " << Millis(stats.p95) << " ms, max "
        << Millis(stats.max) << " ms\n"
        << std::flush;
    if (failed > 0)
        return LinkError(err, lastError);
    return kExitOk;
}

// An interrupt ends a recording the proper way (the file gets its end); elsewhere it keeps its
// usual meaning.
std::atomic<bool> g_stopRecording{false};

extern "C" void OnRecordInterrupt(int)
{
    g_stopRecording = true;
}

class RecordInterrupts
{
public:
    RecordInterrupts()
    {
        g_stopRecording = false;
        m_int = std::signal(SIGINT, OnRecordInterrupt);
        m_term = std::signal(SIGTERM, OnRecordInterrupt);
    }
    ~RecordInterrupts()
    {
        std::signal(SIGINT, m_int == SIG_ERR ? SIG_DFL : m_int);
        std::signal(SIGTERM, m_term == SIG_ERR ? SIG_DFL : m_term);
    }
    RecordInterrupts(const RecordInterrupts &) = delete;
    RecordInterrupts &operator=(const RecordInterrupts &) = delete;

private:
    void (*m_int)(int);
    void (*m_term)(int);
};

// Sleeps until `until`, or less when an interrupt comes.
void SleepUnlessStopped(Clock::time_point until)
{
    constexpr auto kSlice = std::chrono::milliseconds(50);
    while (!g_stopRecording && Clock::now() < until)
        std::this_thread::sleep_until(std::min(until, Clock::now() + kSlice));
}

int Record(CCliSession &session, const CliOptions &options, std::ostream &out, std::ostream &err)
{
    std::string error;
    std::unique_ptr<CCliRecording> recording =
        StartCliRecording(options.file, session.Identification(), error);
    if (!recording)
        return LinkError(err, error);
    const RecordInterrupts interrupts;

    int frames = 0;
    int failed = 0;
    std::string lastError;
    std::vector<std::uint8_t> jpeg;
    const auto begin = Clock::now();
    const auto end = begin + std::chrono::seconds(options.seconds);
    Clock::time_point first;
    auto nextStart = begin;
    for (int n = 1; options.count == 0 || n <= options.count; ++n) {
        SleepUnlessStopped(nextStart);
        if (g_stopRecording || (options.seconds > 0 && Clock::now() >= end))
            break;
        const auto start = Clock::now();
        nextStart = start + std::chrono::milliseconds(options.intervalMs);
        if (!session.FetchScreen(jpeg)) {
            ++failed;
            lastError = session.Error();
            out << "frame " << n << ": failed: " << lastError << "\n" << std::flush;
            if (!session.Reconnect()) {
                lastError = session.Error();
                break;
            }
            continue;
        }
        const auto arrived = Clock::now();
        if (frames == 0)
            first = arrived;
        const auto ms =
            std::chrono::duration_cast<std::chrono::milliseconds>(arrived - first).count();
        const CCliRecording::Added added = recording->Add(jpeg, ms, error);
        if (added == CCliRecording::Added::Stop) {
            std::string ignored;
            recording->Finish(ignored);
            return LinkError(err, "recording stopped: " + error);
        }
        if (added == CCliRecording::Added::Skipped) {
            ++failed;
            lastError = error;
            out << "frame " << n << ": failed: " << error << "\n" << std::flush;
            continue;
        }
        ++frames;
        // Printed once the frame is in the file.
        out << "frame " << n << ": " << jpeg.size() << " bytes at " << ms << " ms\n" << std::flush;
    }
    if (!recording->Finish(error))
        return LinkError(err, error);
    const double seconds =
        frames == 0 ? 0.0 : std::chrono::duration<double>(Clock::now() - first).count();
    char summary[160];
    std::snprintf(summary, sizeof summary, "recorded %d frames in %.1f s, %lld bytes, failed: %d",
                  frames, seconds, static_cast<long long>(recording->Bytes()), failed);
    out << summary << "\n" << std::flush;
    if (failed > 0)
        return LinkError(err, lastError);
    return kExitOk;
}

} // namespace

int RunCli(const std::vector<std::string> &args, std::ostream &out, std::ostream &err)
{
    CliOptions options;
    std::string usageError;
    if (!ParseCliOptions(args, options, usageError)) {
        err << "klremote-cli: " << usageError << "\n" << kCliUsage;
        return kExitUsage;
    }
    if (options.help) {
        out << kCliUsage;
        return kExitOk;
    }

    if (std::string why; options.command == CliCommand::Serve && !CliServeUsable(options, why)) {
        err << "klremote-cli: " << why << "\n";
        return kExitUsage;
    }

    CCliSession session(options);
    if (!session.Connect())
        return LinkError(err, session.Error());

    switch (options.command) {
    case CliCommand::Info:
        out << EscapeControls(session.Identification()) << "\n" << std::flush;
        return kExitOk;
    case CliCommand::Screenshot:
        return Screenshot(session, options.file, err);
    case CliCommand::Key:
        return Keys(session, options.keys, err);
    case CliCommand::Watch:
        return Watch(session, options, out, err);
    case CliCommand::Serve:
        return RunServe(session, options, out, err);
    case CliCommand::Record:
        return Record(session, options, out, err);
    }
    return kExitUsage;
}
