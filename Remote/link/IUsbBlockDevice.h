// One USB instrument seen as a device that moves 4096-byte blocks.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

class IUsbBlockDevice
{
public:
    virtual ~IUsbBlockDevice() = default;

    virtual bool Open() = 0;
    virtual void Close() = 0;
    virtual bool IsOpen() const = 0;
    // Writes one whole block; true only when all 4096 bytes went out.
    virtual bool WriteBlock(const std::uint8_t *block) = 0;
    // Reads one block into `block` (4096 bytes), waiting at most timeoutMs. The caller
    // has filled it with the sentinel; a read that delivers nothing leaves it as it was.
    virtual bool ReadBlock(std::uint8_t *block, int timeoutMs) = 0;
    // The device-handle variant wants a pause before the first block after opening.
    virtual int OpenPauseMs() const { return 0; }
};

using UsbDeviceFactory = std::function<std::unique_ptr<IUsbBlockDevice>()>;
