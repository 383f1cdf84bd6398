// The instrument's USB driver as found on older Windows: one device handle for reading and
// writing. Windows only.
#pragma once

#include "IUsbBlockDevice.h"

class CUsbDeviceXP : public IUsbBlockDevice
{
public:
    CUsbDeviceXP() = default;
    ~CUsbDeviceXP() override;
    CUsbDeviceXP(const CUsbDeviceXP &) = delete;
    CUsbDeviceXP &operator=(const CUsbDeviceXP &) = delete;

    // The argument is not used.
    bool Open(int unused);
    bool Open() override { return Open(0); }
    void Close() override;
    bool IsOpen() const override;
    // Writes nothing: only tells whether the handle is valid. Blocks go out through
    // WriteBlock, piece by piece.
    bool Write(const std::uint8_t *buffer, unsigned long count, unsigned long &written);
    // One read call on the device handle; the fourth argument is not used.
    bool Read(std::uint8_t *buffer, unsigned long count, unsigned long &read, int unused);

    bool WriteBlock(const std::uint8_t *block) override;
    bool ReadBlock(std::uint8_t *block, int timeoutMs) override;
    int OpenPauseMs() const override;

private:
    bool OpenDevice();

    void *m_hDevice = nullptr; // HANDLE; null while closed
};
