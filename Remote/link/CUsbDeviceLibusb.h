// The instrument on USB through libusb-1.0 (Linux, macOS): found by vendor:product ID; the
// first bulk OUT endpoint of its interface stands for "PIPE00", the first bulk IN endpoint
// for "PIPE01".
#pragma once

#include "IUsbBlockDevice.h"

#include <string>

struct libusb_context;
struct libusb_device;
struct libusb_device_handle;

class CUsbDeviceLibusb : public IUsbBlockDevice
{
public:
    // usbIds: "vvvv:pppp[,vvvv:pppp...]" in hexadecimal; the first listed device found
    // and opened is used.
    explicit CUsbDeviceLibusb(std::string usbIds);
    ~CUsbDeviceLibusb() override;
    CUsbDeviceLibusb(const CUsbDeviceLibusb &) = delete;
    CUsbDeviceLibusb &operator=(const CUsbDeviceLibusb &) = delete;

    bool Open() override;
    void Close() override;
    bool IsOpen() const override;
    bool WriteBlock(const std::uint8_t *block) override;
    bool ReadBlock(std::uint8_t *block, int timeoutMs) override;

private:
    bool OpenDevice(libusb_device *device);

    std::string m_strIds;
    libusb_context *m_pContext = nullptr;
    libusb_device_handle *m_hDevice = nullptr;
    int m_nInterface = -1;
    unsigned char m_nWritePipe = 0;
    unsigned char m_nReadPipe = 0;
};
