// CDevComm's USB reply path, block by block, over the simulated USB device: the input is the
// sequence of blocks the instrument delivers.
//
// Input layout: byte 0 holds flags (bit 0: send a screen request before each reply read).
// The rest is records of a two-byte little-endian length (taken modulo 4097) and that many
// bytes, which fill the start of one 4096-byte block; the rest of the block is zero.
#include "CDevComm.h"
#include "CUsbDeviceSim.h"
#include "Protocol.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

constexpr std::size_t kMaxInput = 256 * 1024;

void Check(bool condition)
{
    if (!condition)
        std::abort();
}

bool KnownError(const std::string &text)
{
    return text == klr::STR_ERROR_PACKET || text == klr::STR_ERROR_CHECKSUM ||
           text == klr::STR_ERROR_SEQUENCE;
}

struct Rig
{
    CDevComm link;
    CUsbDeviceSim *device = nullptr;

    Rig()
    {
        link.Init(nullptr);
        // A read with nothing queued ends at once, as a read that delivered nothing.
        link.SetUsbReadTimeoutMs(0);
        link.SetUsbDeviceFactory([this] {
            auto made = std::make_unique<CUsbDeviceSim>(nullptr);
            device = made.get();
            return made;
        });
        Check(link.OpenUsb(nullptr) == 1 && device != nullptr);
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    static Rig *rig = new Rig;
    if (size == 0 || size > kMaxInput)
        return 0;
    const bool requestFirst = (data[0] & 1) != 0;

    std::size_t pos = 1;
    int blocks = 0;
    while (pos + 2 <= size) {
        std::size_t length = (std::size_t(data[pos]) | std::size_t(data[pos + 1]) << 8) % 4097;
        pos += 2;
        length = std::min(length, size - pos);
        CUsbDeviceSim::Block block{};
        std::memcpy(block.data(), data + pos, length);
        pos += length;
        rig->device->Push(block);
        ++blocks;
    }

    const int readsBefore = rig->device->ReadsDone();
    // Every reply read takes at least one block, so this ends once the queue is used up.
    while (rig->device->ReadsDone() - readsBefore < blocks) {
        if (requestFirst)
            Check(rig->link.UsbRequestFile(klr::REQ_SCREEN, std::string(klr::kScreenFileName)) ==
                  1);
        const int result = rig->link.UsbReadReply();
        Check(result == -1 || result == 100);
        const int length = rig->link.GetReplyLength();
        Check(length >= 0 && static_cast<std::size_t>(length) <= klr::kMaxReplyBytes);
        if (result == -1)
            Check(KnownError(rig->link.ErrorText()));
    }
    Check(rig->device->ReadsDone() - readsBefore >= blocks);
    return 0;
}
