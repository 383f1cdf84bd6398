// An instrument on USB simulated in-process: every written block goes to a handler whose
// reply blocks are queued for reading. Used by the tests and by the simulator. Faults can
// be switched on: stalled replies, failing writes, dropped replies, a failing open.
#pragma once

#include "IUsbBlockDevice.h"

#include <array>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <vector>

class CUsbDeviceSim : public IUsbBlockDevice
{
public:
    using Block = std::array<std::uint8_t, 4096>;
    using Handler = std::function<std::vector<Block>(const std::uint8_t *block)>;

    explicit CUsbDeviceSim(Handler handler);
    ~CUsbDeviceSim() override;

    bool Open() override;
    void Close() override;
    bool IsOpen() const override;
    bool WriteBlock(const std::uint8_t *block) override;
    bool ReadBlock(std::uint8_t *block, int timeoutMs) override;
    int OpenPauseMs() const override;

    // Fault switches; each may be changed from any thread at any time.
    void SetOpenFails(bool fails);
    void SetOpenPauseMs(int ms);
    // Replies stay queued (reads time out) until the stall is lifted.
    void SetStalled(bool stalled);
    // Writes report failure; the handler is not called.
    void SetWritesFail(bool fail);
    // Writes succeed but the handler's replies are thrown away.
    void SetDropReplies(bool drop);

    // Queues a block for reading as if the device had sent it unasked.
    void Push(const Block &block);

    // The most recent written blocks (at most kKeptBlocks), oldest first, and the count of
    // all blocks written since construction.
    static constexpr std::size_t kKeptBlocks = 2048;
    std::vector<Block> WrittenBlocks() const;
    long WrittenCount() const;
    int ReadsInProgress() const;
    int ReadsDone() const;

private:
    Handler m_handler;
    mutable std::mutex m_mutex;
    std::condition_variable m_readable;
    std::deque<Block> m_queue;
    std::deque<Block> m_written;
    long m_nWrittenCount = 0;
    bool m_bOpen = false;
    bool m_bOpenFails = false;
    bool m_bStalled = false;
    bool m_bWritesFail = false;
    bool m_bDropReplies = false;
    int m_nOpenPauseMs = 0;
    int m_nReadsInProgress = 0;
    int m_nReadsDone = 0;
};
