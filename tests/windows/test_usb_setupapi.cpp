// The SetupAPI back-ends on a system without the instrument's driver, and the overlapped
// block I/O they use, exercised on a named pipe standing in for the device.
#include "CDevComm.h"
#include "CUsbDeviceVista.h"
#include "CUsbDeviceXP.h"
#include "Diagnostic.h"
#include "IDevCommOwner.h"
#include "UsbPlatform.h"
#include "UsbPure.h"
#include "UsbWindows.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

namespace {

// Collects the link's diagnostic lines for one test and restores standard output after.
class DiagnosticCapture
{
public:
    DiagnosticCapture()
    {
        klr::SetDiagnosticSink([this](std::string_view text) {
            std::lock_guard lock(m_mutex);
            m_lines.emplace_back(text);
        });
    }
    ~DiagnosticCapture() { klr::SetDiagnosticSink({}); }
    DiagnosticCapture(const DiagnosticCapture &) = delete;
    DiagnosticCapture &operator=(const DiagnosticCapture &) = delete;

    std::vector<std::string> Lines()
    {
        std::lock_guard lock(m_mutex);
        return m_lines;
    }

private:
    std::mutex m_mutex;
    std::vector<std::string> m_lines;
};

class CountingOwner : public IDevCommOwner
{
public:
    void SetScreenReady(int value) override
    {
        m_nLast = value;
        ++m_nCalls;
    }
    std::atomic<int> m_nCalls{0};
    std::atomic<int> m_nLast{-1};
};

const std::string kNoDeviceHandleDevice = "Unable to find or open any CaaDevice!\n";
const std::string kNoTwoPipePath =
    "Failed to GetUsbDeviceFileName err - " + std::to_string(ERROR_NO_MORE_ITEMS) + "\n";

// A connected pair of overlapped pipe ends, byte mode: what the driver's device handle is
// to the back-ends.
struct PipePair
{
    PipePair()
    {
        const std::string name = "\\\\.\\pipe\\klr-usb-test-" +
                                 std::to_string(GetCurrentProcessId()) + "-" +
                                 std::to_string(++s_nCount);
        server = CreateNamedPipeA(name.c_str(), PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED,
                                  PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT, 1, 65536, 65536,
                                  0, nullptr);
        if (server == INVALID_HANDLE_VALUE)
            return;
        client = CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                             klr::win::kOpenFlags, nullptr);
    }
    ~PipePair()
    {
        if (client != INVALID_HANDLE_VALUE)
            CloseHandle(client);
        if (server != INVALID_HANDLE_VALUE)
            CloseHandle(server);
    }
    PipePair(const PipePair &) = delete;
    PipePair &operator=(const PipePair &) = delete;

    bool Valid() const { return server != INVALID_HANDLE_VALUE && client != INVALID_HANDLE_VALUE; }

    HANDLE server = INVALID_HANDLE_VALUE;
    HANDLE client = INVALID_HANDLE_VALUE;
    static inline int s_nCount = 0;
};

klr::UsbBlock Numbered(std::uint8_t seed)
{
    klr::UsbBlock block{};
    for (std::size_t i = 0; i < block.size(); ++i)
        block[i] = static_cast<std::uint8_t>(seed + i * 7);
    return block;
}

} // namespace

TEST(SetupApiDiscovery, NeitherInterfaceClassHasAPresentDevice)
{
    for (const GUID *interfaceClass :
         {&klr::win::kDeviceHandleInterface, &klr::win::kTwoPipeInterface}) {
        int visited = 0;
        DWORD error = 0;
        const klr::win::EnumEnd end = klr::win::ForEachDevicePath(
            *interfaceClass,
            [&](const char *) {
                ++visited;
                return false;
            },
            error);
        EXPECT_EQ(end, klr::win::EnumEnd::RanOut);
        EXPECT_EQ(error, static_cast<DWORD>(ERROR_NO_MORE_ITEMS));
        EXPECT_EQ(visited, 0);
    }
}

TEST(SetupApiDiscovery, DeviceHandleVariantFailsWithItsOwnLine)
{
    DiagnosticCapture capture;
    CUsbDeviceXP device;
    EXPECT_FALSE(device.Open());
    EXPECT_FALSE(device.IsOpen());
    EXPECT_EQ(capture.Lines(), std::vector<std::string>{kNoDeviceHandleDevice});
    std::uint8_t block[klr::kUsbBlock] = {};
    EXPECT_FALSE(device.WriteBlock(block));
}

TEST(SetupApiDiscovery, TwoPipeVariantTriesBothPipesAndKeepsTheSystemError)
{
    DiagnosticCapture capture;
    CUsbDeviceVista device;
    EXPECT_FALSE(device.Open());
    EXPECT_FALSE(device.IsOpen());
    // One search per pipe; the error is the enumeration's, not that of a later clean-up call.
    EXPECT_EQ(capture.Lines(), (std::vector<std::string>{kNoTwoPipePath, kNoTwoPipePath}));
}

TEST(SetupApiDiscovery, ThisSystemGetsTheVariantItsVersionCallsFor)
{
    const std::optional<klr::OsVersion> version = klr::win::QueryOsVersion();
    ASSERT_TRUE(version.has_value());
    const std::unique_ptr<IUsbBlockDevice> device = CreatePlatformUsbDevice(std::string());
    ASSERT_NE(device, nullptr);
    if (klr::ChooseUsbVariant(version) == klr::UsbVariant::TwoPipe) {
        EXPECT_NE(dynamic_cast<CUsbDeviceVista *>(device.get()), nullptr);
        EXPECT_EQ(device->OpenPauseMs(), 0);
    } else {
        EXPECT_NE(dynamic_cast<CUsbDeviceXP *>(device.get()), nullptr);
        EXPECT_EQ(device->OpenPauseMs(), klr::kUsbDeviceHandleOpenPauseMs);
    }
}

TEST(SetupApiDiscovery, OpenUsbWithoutADeviceFailsCleanlyAndCanBeRepeated)
{
    const bool twoPipe =
        klr::ChooseUsbVariant(klr::win::QueryOsVersion()) == klr::UsbVariant::TwoPipe;
    const std::vector<std::string> expected =
        twoPipe ? std::vector<std::string>{kNoTwoPipePath, kNoTwoPipePath}
                : std::vector<std::string>{kNoDeviceHandleDevice};

    CountingOwner owner;
    CDevComm link;
    link.Init(&owner);
    for (int attempt = 0; attempt < 2; ++attempt) {
        SCOPED_TRACE(attempt);
        DiagnosticCapture capture;
        EXPECT_EQ(link.OpenUsb(&owner), -1);
        EXPECT_EQ(capture.Lines(), expected);
        EXPECT_EQ(link.IsConnected(), 0);
    }
    EXPECT_EQ(link.UsbSendTextCommand("KEYP:MODE\n"), 0);
    link.CloseUsb();
    EXPECT_EQ(owner.m_nCalls.load(), 0);
}

TEST(OverlappedBlockIo, SilentDeviceReadEndsAtTheTimeOutAndLeavesTheSentinel)
{
    PipePair pipe;
    ASSERT_TRUE(pipe.Valid()) << GetLastError();
    klr::UsbBlock block{};
    klr::FillReadSentinel(block.data());
    const klr::UsbBlock before = block;
    DWORD read = 12345;
    EXPECT_FALSE(klr::win::ReadWithTimeout(pipe.client, block.data(), klr::kUsbBlock, read, 100));
    EXPECT_EQ(read, 0u);
    EXPECT_EQ(block, before);

    // The cancelled read took nothing away: the next block arrives whole.
    const klr::UsbBlock sent = Numbered(3);
    DWORD written = 0;
    ASSERT_TRUE(klr::win::WriteAll(pipe.server, sent.data(), klr::kUsbBlock, written));
    EXPECT_EQ(written, klr::kUsbBlock);
    EXPECT_TRUE(klr::win::ReadWithTimeout(pipe.client, block.data(), klr::kUsbBlock, read, 10000));
    EXPECT_EQ(read, klr::kUsbBlock);
    EXPECT_EQ(block, sent);
}

TEST(OverlappedBlockIo, BlocksGoBothWaysWhole)
{
    PipePair pipe;
    ASSERT_TRUE(pipe.Valid()) << GetLastError();
    for (std::uint8_t seed : {std::uint8_t{0x7F}, std::uint8_t{0x11}}) {
        const klr::UsbBlock out = Numbered(seed);
        DWORD written = 0;
        ASSERT_TRUE(klr::win::WriteAll(pipe.client, out.data(), klr::kUsbBlock, written));
        EXPECT_EQ(written, klr::kUsbBlock);
        klr::UsbBlock in{};
        DWORD read = 0;
        ASSERT_TRUE(klr::win::ReadWithTimeout(pipe.server, in.data(), klr::kUsbBlock, read, 10000));
        EXPECT_EQ(read, klr::kUsbBlock);
        EXPECT_EQ(in, out);
    }
}

TEST(OverlappedBlockIo, PiecewiseWriteOverARealHandleArrivesInOrder)
{
    PipePair pipe;
    ASSERT_TRUE(pipe.Valid()) << GetLastError();
    const klr::UsbBlock out = Numbered(0x40);
    int calls = 0;
    const bool ok =
        klr::WriteInPieces(out.data(), [&](const std::uint8_t *data, int length, int &written) {
            ++calls;
            DWORD count = 0;
            const bool result =
                klr::win::WriteAll(pipe.client, data, static_cast<DWORD>(length), count);
            written = static_cast<int>(count);
            return result;
        });
    EXPECT_TRUE(ok);
    EXPECT_EQ(calls, klr::kUsbWritePieces);
    klr::UsbBlock in{};
    DWORD total = 0;
    while (total < klr::kUsbBlock) {
        DWORD read = 0;
        ASSERT_TRUE(klr::win::ReadWithTimeout(pipe.server, in.data() + total,
                                              klr::kUsbBlock - total, read, 10000));
        total += read;
    }
    EXPECT_EQ(in, out);

    // A handle that is gone fails the first piece and the block.
    CloseHandle(pipe.server);
    pipe.server = INVALID_HANDLE_VALUE;
    calls = 0;
    EXPECT_FALSE(
        klr::WriteInPieces(out.data(), [&](const std::uint8_t *data, int length, int &written) {
            ++calls;
            DWORD count = 0;
            const bool result =
                klr::win::WriteAll(pipe.client, data, static_cast<DWORD>(length), count);
            written = static_cast<int>(count);
            return result;
        }));
    EXPECT_EQ(calls, 1);
}
