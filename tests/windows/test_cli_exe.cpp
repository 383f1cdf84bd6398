// klremote-cli.exe as a script runs it: a separate process talking to a loopback peer that
// answers like an instrument. Winsock started in this test process (by the peer's listener)
// does nothing for the client's process: these work only because the client starts it
// itself.
#include "LoopbackListener.h"
#include "NetCompat.h"
#include "Protocol.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <span>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr int kGenerousMs = 30000;
const std::string kModel = "KL561B";

std::string ExeDirectory()
{
    char path[MAX_PATH] = {};
    const DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string text(path, n);
    return text.substr(0, text.find_last_of("\\/") + 1);
}

std::string TempPath(const std::string &name)
{
    char dir[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, dir);
    return std::string(dir) + "klr-cli-test-" + std::to_string(GetCurrentProcessId()) + "-" + name;
}

std::string ReadWholeFile(const std::string &path)
{
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

struct ProcessResult
{
    DWORD exitCode = 0xFFFFFFFF;
    std::string out;
    std::string err;
};

// Runs klremote-cli.exe with these arguments, its output sent to files.
ProcessResult RunCli(const std::string &arguments)
{
    ProcessResult result;
    const std::string outPath = TempPath("out.txt");
    const std::string errPath = TempPath("err.txt");
    SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    HANDLE out = CreateFileA(outPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit,
                             CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    HANDLE err = CreateFileA(errPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit,
                             CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = out;
    startup.hStdError = err;
    const std::string exe = ExeDirectory() + "klremote-cli.exe";
    std::string commandLine = "\"" + exe + "\" " + arguments;
    PROCESS_INFORMATION process{};
    if (CreateProcessA(exe.c_str(), commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                       &startup, &process)) {
        if (WaitForSingleObject(process.hProcess, 2 * kGenerousMs) != WAIT_OBJECT_0)
            TerminateProcess(process.hProcess, 0xDEAD);
        GetExitCodeProcess(process.hProcess, &result.exitCode);
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    } else {
        ADD_FAILURE() << "cannot start " << exe << ": " << GetLastError();
    }
    CloseHandle(out);
    CloseHandle(err);
    result.out = ReadWholeFile(outPath);
    result.err = ReadWholeFile(errPath);
    DeleteFileA(outPath.c_str());
    DeleteFileA(errPath.c_str());
    return result;
}

// Drops the line end, "\r\n" or "\n", of a one-line output.
std::string Line(std::string text)
{
    if (!text.empty() && text.back() == '\n')
        text.pop_back();
    if (!text.empty() && text.back() == '\r')
        text.pop_back();
    return text;
}

// One connection's worth of instrument: answers the identification and screen requests,
// records the key texts.
class InstrumentPeer
{
public:
    explicit InstrumentPeer(std::vector<std::uint8_t> screen)
        : m_listener(false), m_screen(std::move(screen))
    {
        if (m_listener.Valid())
            m_thread = std::thread([this] { Serve(); });
    }
    ~InstrumentPeer()
    {
        if (m_thread.joinable())
            m_thread.join();
    }
    InstrumentPeer(const InstrumentPeer &) = delete;
    InstrumentPeer &operator=(const InstrumentPeer &) = delete;

    bool Valid() const { return m_listener.Valid(); }
    std::uint16_t Port() const { return m_listener.Port(); }
    // Waits for the client to go, then tells what it asked for.
    std::vector<std::uint8_t> Codes()
    {
        Finish();
        return m_codes;
    }
    std::vector<std::string> Keys()
    {
        Finish();
        return m_keys;
    }

private:
    void Finish()
    {
        if (m_thread.joinable())
            m_thread.join();
    }

    void Serve()
    {
        LoopbackPeer peer = m_listener.Accept(kGenerousMs);
        if (!peer.Valid())
            return;
        klr::CPacketScanner scanner;
        klr::DecodedPacket packet;
        for (;;) {
            const std::vector<std::uint8_t> chunk = peer.Receive(1, kGenerousMs);
            if (chunk.empty())
                return; // closed by the client, or silent for too long
            std::span<const std::uint8_t> rest(chunk);
            while (!rest.empty()) {
                std::size_t consumed = 0;
                const auto result = scanner.Feed(rest, consumed);
                rest = rest.subspan(consumed);
                if (result != klr::CPacketScanner::Result::Packet)
                    continue;
                if (!klr::DecodePacket(scanner.Packet(), packet).empty())
                    continue;
                m_codes.push_back(packet.code);
                Answer(peer, packet);
            }
        }
    }

    void Answer(LoopbackPeer &peer, const klr::DecodedPacket &packet)
    {
        if (packet.code == klr::REQ_EQUIP_INFO) {
            std::vector<std::uint8_t> text(kModel.begin(), kModel.end());
            text.push_back(0);
            const std::string more = "SN 0042";
            text.insert(text.end(), more.begin(), more.end());
            peer.SendAll(klr::EncodeFrame(klr::kCommand, packet.code, 1, 0, text));
        } else if (packet.code == klr::REQ_SCREEN) {
            // Two packets, so the client has to put the reply together.
            const std::size_t half = m_screen.size() / 2;
            const std::span<const std::uint8_t> all(m_screen);
            std::vector<std::uint8_t> bytes =
                klr::EncodeFrame(klr::kCommand, packet.code, 2, 0, all.first(half));
            const std::vector<std::uint8_t> second =
                klr::EncodeFrame(klr::kCommand, packet.code, 2, 1, all.subspan(half));
            bytes.insert(bytes.end(), second.begin(), second.end());
            peer.SendAll(bytes);
        } else if (packet.code == klr::REQ_CMD) {
            const auto *text = reinterpret_cast<const char *>(packet.payload.data());
            m_keys.emplace_back(text, strnlen(text, packet.payloadLength));
        }
    }

    LoopbackListener m_listener;
    std::vector<std::uint8_t> m_screen;
    std::vector<std::uint8_t> m_codes;
    std::vector<std::string> m_keys;
    std::thread m_thread;
};

// Bytes a text-mode write would change: line feeds, carriage returns, a ^Z, NULs.
std::vector<std::uint8_t> AwkwardScreen()
{
    std::vector<std::uint8_t> screen = {0xFF, 0xD8, '\n', '\r', '\n', 0x1A, 0x00, 0x7E, 0x7F, 0x7D};
    for (int i = 0; i < 5000; ++i)
        screen.push_back(static_cast<std::uint8_t>(i * 31 + (i >> 3)));
    screen.push_back(0xFF);
    screen.push_back(0xD9);
    return screen;
}

} // namespace

TEST(CliExe, InfoPrintsTheModelUpToItsNul)
{
    InstrumentPeer peer(AwkwardScreen());
    ASSERT_TRUE(peer.Valid());
    const ProcessResult run = RunCli("--port " + std::to_string(peer.Port()) + " info");
    EXPECT_EQ(run.exitCode, 0u) << run.err;
    EXPECT_EQ(Line(run.out), kModel);
    EXPECT_EQ(peer.Codes(), std::vector<std::uint8_t>{klr::REQ_EQUIP_INFO});
}

TEST(CliExe, ScreenshotWritesTheReplyBytesUnchanged)
{
    const std::vector<std::uint8_t> screen = AwkwardScreen();
    InstrumentPeer peer(screen);
    ASSERT_TRUE(peer.Valid());
    const std::string file = TempPath("screen.jpg");
    const ProcessResult run =
        RunCli("--port " + std::to_string(peer.Port()) + " screenshot \"" + file + "\"");
    EXPECT_EQ(run.exitCode, 0u) << run.err;
    const std::string written = ReadWholeFile(file);
    DeleteFileA(file.c_str());
    EXPECT_EQ(std::vector<std::uint8_t>(written.begin(), written.end()), screen);
    EXPECT_EQ(peer.Codes(), (std::vector<std::uint8_t>{klr::REQ_EQUIP_INFO, klr::REQ_SCREEN}));
}

TEST(CliExe, PngNeedsTheQtBuildAndSaysSo)
{
    InstrumentPeer peer(AwkwardScreen());
    ASSERT_TRUE(peer.Valid());
    const std::string file = TempPath("screen.png");
    const ProcessResult run =
        RunCli("--port " + std::to_string(peer.Port()) + " screenshot \"" + file + "\"");
    EXPECT_EQ(run.exitCode, 1u);
    EXPECT_EQ(Line(run.err), "error: png output needs the Qt build");
    EXPECT_EQ(GetFileAttributesA(file.c_str()), INVALID_FILE_ATTRIBUTES);
    peer.Codes();
}

TEST(CliExe, KeyTextsReachThePeerInOrderWithTheirLineFeed)
{
    InstrumentPeer peer(AwkwardScreen());
    ASSERT_TRUE(peer.Valid());
    const ProcessResult run =
        RunCli("--port " + std::to_string(peer.Port()) + " key KEYP:MODE \"KEYP 120,45\"");
    EXPECT_EQ(run.exitCode, 0u) << run.err;
    EXPECT_EQ(peer.Keys(), (std::vector<std::string>{"KEYP:MODE\n", "KEYP 120,45\n"}));
}

TEST(CliExe, NothingListeningIsALinkFailureWithItsCause)
{
    const std::uint16_t port = UnusedLoopbackPort(false);
    ASSERT_NE(port, 0);
    const ProcessResult run = RunCli("--port " + std::to_string(port) + " info");
    EXPECT_EQ(run.exitCode, 1u);
    EXPECT_EQ(Line(run.err), "error: STR_DEVCOM_ERR_CHKCABLE: Connection refused by 127.0.0.1:" +
                                 std::to_string(port));
    EXPECT_EQ(run.out, "");
}
