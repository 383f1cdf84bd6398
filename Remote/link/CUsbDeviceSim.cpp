#include "CUsbDeviceSim.h"

#include <chrono>
#include <cstring>

CUsbDeviceSim::CUsbDeviceSim(Handler handler) : m_handler(std::move(handler)) {}

CUsbDeviceSim::~CUsbDeviceSim()
{
    Close();
}

bool CUsbDeviceSim::Open()
{
    std::lock_guard lock(m_mutex);
    m_bOpen = !m_bOpenFails;
    return m_bOpen;
}

void CUsbDeviceSim::Close()
{
    {
        std::lock_guard lock(m_mutex);
        m_bOpen = false;
        m_queue.clear();
    }
    m_readable.notify_all();
}

bool CUsbDeviceSim::IsOpen() const
{
    std::lock_guard lock(m_mutex);
    return m_bOpen;
}

bool CUsbDeviceSim::WriteBlock(const std::uint8_t *block)
{
    Handler handler;
    {
        std::lock_guard lock(m_mutex);
        if (!m_bOpen || m_bWritesFail || block == nullptr) {
            return false;
        }
        Block copy;
        std::memcpy(copy.data(), block, copy.size());
        if (m_written.size() == kKeptBlocks) {
            m_written.pop_front();
        }
        m_written.push_back(copy);
        ++m_nWrittenCount;
        handler = m_handler;
    }
    // The handler runs unlocked so that it may itself push blocks or flip switches.
    std::vector<Block> replies = handler ? handler(block) : std::vector<Block>{};
    {
        std::lock_guard lock(m_mutex);
        if (!m_bOpen || m_bDropReplies) {
            return true;
        }
        m_queue.insert(m_queue.end(), replies.begin(), replies.end());
    }
    m_readable.notify_all();
    return true;
}

bool CUsbDeviceSim::ReadBlock(std::uint8_t *block, int timeoutMs)
{
    std::unique_lock lock(m_mutex);
    if (!m_bOpen || block == nullptr) {
        return false;
    }
    ++m_nReadsInProgress;
    const bool ready =
        m_readable.wait_for(lock, std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs),
                            [this] { return !m_bOpen || (!m_bStalled && !m_queue.empty()); });
    bool delivered = false;
    if (ready && m_bOpen) {
        std::memcpy(block, m_queue.front().data(), m_queue.front().size());
        m_queue.pop_front();
        delivered = true;
    }
    --m_nReadsInProgress;
    ++m_nReadsDone;
    return delivered;
}

int CUsbDeviceSim::OpenPauseMs() const
{
    std::lock_guard lock(m_mutex);
    return m_nOpenPauseMs;
}

void CUsbDeviceSim::SetOpenFails(bool fails)
{
    std::lock_guard lock(m_mutex);
    m_bOpenFails = fails;
}

void CUsbDeviceSim::SetOpenPauseMs(int ms)
{
    std::lock_guard lock(m_mutex);
    m_nOpenPauseMs = ms;
}

void CUsbDeviceSim::SetStalled(bool stalled)
{
    {
        std::lock_guard lock(m_mutex);
        m_bStalled = stalled;
    }
    m_readable.notify_all();
}

void CUsbDeviceSim::SetWritesFail(bool fail)
{
    std::lock_guard lock(m_mutex);
    m_bWritesFail = fail;
}

void CUsbDeviceSim::SetDropReplies(bool drop)
{
    std::lock_guard lock(m_mutex);
    m_bDropReplies = drop;
}

void CUsbDeviceSim::Push(const Block &block)
{
    {
        std::lock_guard lock(m_mutex);
        m_queue.push_back(block);
    }
    m_readable.notify_all();
}

std::vector<CUsbDeviceSim::Block> CUsbDeviceSim::WrittenBlocks() const
{
    std::lock_guard lock(m_mutex);
    return {m_written.begin(), m_written.end()};
}

long CUsbDeviceSim::WrittenCount() const
{
    std::lock_guard lock(m_mutex);
    return m_nWrittenCount;
}

int CUsbDeviceSim::ReadsInProgress() const
{
    std::lock_guard lock(m_mutex);
    return m_nReadsInProgress;
}

int CUsbDeviceSim::ReadsDone() const
{
    std::lock_guard lock(m_mutex);
    return m_nReadsDone;
}
