#include "CUsbDeviceVista.h"

#include "Diagnostic.h"
#include "UsbPure.h"
#include "UsbWindows.h"

#include <cstring>

namespace {

constexpr const char *kAttempting = "Attempting to open %s\n";
constexpr const char *kFailedToOpenPath = "FAILED to open %s\n";
constexpr const char *kNoFileName = "Failed to GetUsbDeviceFileName err - %d\n";
constexpr const char *kLongFileName = "Failed to open handle - possibly long filename\n";
constexpr const char *kCompleteName = "completeDeviceName = (%s)\n";
constexpr const char *kFailedToOpenPipe = "Failed to open (%s) = %d";
constexpr const char *kOpened = "Opened successfully.\n";

HANDLE AsHandle(void *handle)
{
    return handle == nullptr ? INVALID_HANDLE_VALUE : static_cast<HANDLE>(handle);
}

void *FromHandle(HANDLE handle)
{
    return handle == INVALID_HANDLE_VALUE ? nullptr : handle;
}

} // namespace

CUsbDeviceVista::~CUsbDeviceVista()
{
    Close();
}

bool CUsbDeviceVista::Open(int)
{
    Close();
    m_hReadPipe = OpenPipe(klr::kUsbReadPipe.data());
    m_hWritePipe = OpenPipe(klr::kUsbWritePipe.data());
    if (m_hReadPipe != nullptr && m_hWritePipe != nullptr) {
        return true;
    }
    Close();
    return false;
}

bool CUsbDeviceVista::FindDevicePath()
{
    DWORD error = 0;
    const auto end = klr::win::ForEachDevicePath(
        klr::win::kTwoPipeInterface,
        [this](const char *path) {
            // A path that leaves the buffer no room is skipped rather than cut.
            if (!klr::FitsPathBuffer(path)) {
                return false;
            }
            std::strcpy(m_szDevicePath, path);
            klr::DiagnosticF(kAttempting, m_szDevicePath);
            HANDLE probe =
                CreateFileA(m_szDevicePath, GENERIC_READ | GENERIC_WRITE,
                            FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
            if (probe == INVALID_HANDLE_VALUE) {
                klr::DiagnosticF(kFailedToOpenPath, m_szDevicePath);
                return false;
            }
            // Opening it only proved the path.
            CloseHandle(probe);
            return true;
        },
        error);
    if (end != klr::win::EnumEnd::Stopped) {
        SetLastError(error);
        return false;
    }
    return true;
}

void *CUsbDeviceVista::OpenPipe(const char *pipeName)
{
    if (!FindDevicePath()) {
        klr::DiagnosticF(kNoFileName, static_cast<int>(GetLastError()));
        return nullptr;
    }
    const auto full = klr::MakePipePath(m_szDevicePath, pipeName);
    if (!full) {
        klr::Diagnostic(kLongFileName);
        return nullptr;
    }
    std::strcpy(m_szDevicePath, full->c_str());
    klr::DiagnosticF(kCompleteName, m_szDevicePath);
    HANDLE pipe = CreateFileA(m_szDevicePath, GENERIC_READ | GENERIC_WRITE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              klr::win::kOpenFlags, nullptr);
    if (pipe == INVALID_HANDLE_VALUE) {
        klr::DiagnosticF(kFailedToOpenPipe, m_szDevicePath, static_cast<int>(GetLastError()));
        return nullptr;
    }
    klr::Diagnostic(kOpened);
    return FromHandle(pipe);
}

void CUsbDeviceVista::Close()
{
    if (m_hReadPipe != nullptr) {
        CloseHandle(AsHandle(m_hReadPipe));
        m_hReadPipe = nullptr;
    }
    if (m_hWritePipe != nullptr) {
        CloseHandle(AsHandle(m_hWritePipe));
        m_hWritePipe = nullptr;
    }
}

bool CUsbDeviceVista::IsOpen() const
{
    return m_hReadPipe != nullptr && m_hWritePipe != nullptr;
}

bool CUsbDeviceVista::Write(const std::uint8_t *buffer, unsigned long count, unsigned long &written)
{
    DWORD sent = 0;
    const bool ok = m_hWritePipe != nullptr && klr::win::WriteAll(AsHandle(m_hWritePipe), buffer,
                                                                  static_cast<DWORD>(count), sent);
    written = sent;
    return ok;
}

bool CUsbDeviceVista::Read(std::uint8_t *buffer, unsigned long count, unsigned long &read, int)
{
    DWORD got = 0;
    const bool ok =
        m_hReadPipe != nullptr &&
        klr::win::ReadWithTimeout(AsHandle(m_hReadPipe), buffer, static_cast<DWORD>(count), got,
                                  klr::kUsbReadTimeoutMs);
    read = got;
    return ok;
}

bool CUsbDeviceVista::WriteBlock(const std::uint8_t *block)
{
    if (!IsOpen() || block == nullptr) {
        return false;
    }
    unsigned long written = 0;
    return Write(block, klr::kUsbBlock, written) && written == klr::kUsbBlock;
}

bool CUsbDeviceVista::ReadBlock(std::uint8_t *block, int timeoutMs)
{
    if (!IsOpen() || block == nullptr) {
        return false;
    }
    DWORD got = 0;
    return klr::win::ReadWithTimeout(AsHandle(m_hReadPipe), block,
                                     static_cast<DWORD>(klr::kUsbBlock), got, timeoutMs);
}
