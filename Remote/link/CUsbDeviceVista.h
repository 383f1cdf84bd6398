// The instrument's USB driver as found on Windows Vista and later: two named pipes of the
// device, "PIPE01" for reading and "PIPE00" for writing. Windows only.
#pragma once

#include "IUsbBlockDevice.h"

#include <cstddef>

class CUsbDeviceVista : public IUsbBlockDevice
{
public:
    CUsbDeviceVista() = default;
    ~CUsbDeviceVista() override;
    CUsbDeviceVista(const CUsbDeviceVista &) = delete;
    CUsbDeviceVista &operator=(const CUsbDeviceVista &) = delete;

    // The argument is not used.
    bool Open(int unused);
    bool Open() override { return Open(0); }
    void Close() override;
    bool IsOpen() const override;
    // One write call on the write pipe.
    bool Write(const std::uint8_t *buffer, unsigned long count, unsigned long &written);
    // One read call on the read pipe; the fourth argument is not used.
    bool Read(std::uint8_t *buffer, unsigned long count, unsigned long &read, int unused);

    bool WriteBlock(const std::uint8_t *block) override;
    bool ReadBlock(std::uint8_t *block, int timeoutMs) override;

private:
    // The first present interface whose path opens; its path is left in m_szDevicePath.
    bool FindDevicePath();
    void *OpenPipe(const char *pipeName);

    void *m_hReadPipe = nullptr;  // HANDLE of "PIPE01"; null while closed
    void *m_hWritePipe = nullptr; // HANDLE of "PIPE00"; null while closed
    char m_szDevicePath[256] = {};
};
