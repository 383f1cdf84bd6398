#include "CUsbDeviceXP.h"

#include "Diagnostic.h"
#include "UsbPure.h"
#include "UsbWindows.h"

namespace {

constexpr const char *kClassDevsFailed = "SetupDiGetClassDevs failed with error 0x%x\n";
constexpr const char *kDetailFailed = "SetupDiGetDeviceInterfaceDetail failed with error 0x%x\n";
constexpr const char *kNoMemory = "Unable to allocate resources...Exiting\n";
constexpr const char *kDeviceFound = "Device found! %s\n";
constexpr const char *kDevicePath = "Device path %s\n";
constexpr const char *kCreateFileFailed = "CreateFile failed with error 0x%x\n";
constexpr const char *kNoDevice = "Unable to find or open any CaaDevice!\n";

HANDLE AsHandle(void *handle)
{
    return handle == nullptr ? INVALID_HANDLE_VALUE : static_cast<HANDLE>(handle);
}

} // namespace

CUsbDeviceXP::~CUsbDeviceXP()
{
    Close();
}

bool CUsbDeviceXP::Open(int)
{
    Close();
    return OpenDevice();
}

bool CUsbDeviceXP::OpenDevice()
{
    HANDLE opened = INVALID_HANDLE_VALUE;
    DWORD error = 0;
    const auto end = klr::win::ForEachDevicePath(
        klr::win::kDeviceHandleInterface,
        [&](const char *path) {
            klr::DiagnosticF(kDeviceFound, path);
            klr::DiagnosticF(kDevicePath, path);
            // Read and write access, no sharing.
            opened = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                 klr::win::kOpenFlags, nullptr);
            if (opened != INVALID_HANDLE_VALUE) {
                return true;
            }
            klr::DiagnosticF(kCreateFileFailed, static_cast<unsigned>(GetLastError()));
            return false;
        },
        error);
    switch (end) {
    case klr::win::EnumEnd::Stopped:
        m_hDevice = opened;
        return true;
    case klr::win::EnumEnd::ClassDevsFailed:
        klr::DiagnosticF(kClassDevsFailed, static_cast<unsigned>(error));
        break;
    case klr::win::EnumEnd::DetailFailed:
        klr::DiagnosticF(kDetailFailed, static_cast<unsigned>(error));
        break;
    case klr::win::EnumEnd::NoMemory:
        klr::Diagnostic(kNoMemory);
        break;
    case klr::win::EnumEnd::RanOut:
        klr::Diagnostic(kNoDevice);
        break;
    }
    return false;
}

void CUsbDeviceXP::Close()
{
    if (m_hDevice != nullptr) {
        CloseHandle(AsHandle(m_hDevice));
        m_hDevice = nullptr;
    }
}

bool CUsbDeviceXP::IsOpen() const
{
    return m_hDevice != nullptr;
}

bool CUsbDeviceXP::Write(const std::uint8_t *, unsigned long, unsigned long &written)
{
    written = 0;
    return IsOpen();
}

bool CUsbDeviceXP::Read(std::uint8_t *buffer, unsigned long count, unsigned long &read, int)
{
    DWORD got = 0;
    const bool ok = IsOpen() && klr::win::ReadWithTimeout(AsHandle(m_hDevice), buffer,
                                                          static_cast<DWORD>(count), got,
                                                          klr::kUsbReadTimeoutMs);
    read = got;
    return ok;
}

bool CUsbDeviceXP::WriteBlock(const std::uint8_t *block)
{
    if (!IsOpen() || block == nullptr) {
        return false;
    }
    HANDLE handle = AsHandle(m_hDevice);
    return klr::WriteInPieces(block, [handle](const std::uint8_t *data, int length, int &written) {
        DWORD count = 0;
        const bool ok = klr::win::WriteAll(handle, data, static_cast<DWORD>(length), count);
        written = static_cast<int>(count);
        return ok;
    });
}

bool CUsbDeviceXP::ReadBlock(std::uint8_t *block, int timeoutMs)
{
    if (!IsOpen() || block == nullptr) {
        return false;
    }
    DWORD got = 0;
    return klr::win::ReadWithTimeout(AsHandle(m_hDevice), block, static_cast<DWORD>(klr::kUsbBlock),
                                     got, timeoutMs);
}

int CUsbDeviceXP::OpenPauseMs() const
{
    return klr::kUsbDeviceHandleOpenPauseMs;
}
