// The USB device of this platform: the SetupAPI driver variants on Windows, libusb
// elsewhere. Each platform's back-end file defines this.
#pragma once

#include "IUsbBlockDevice.h"

#include <memory>
#include <string>

// A device object ready to be opened, or nothing when this system offers no way to one.
// usbIds lists the "vvvv:pppp" pairs to look for where devices are found by ID.
std::unique_ptr<IUsbBlockDevice> CreatePlatformUsbDevice(const std::string &usbIds);

// True where devices are found by the "vvvv:pppp" list alone, so that nothing can be opened
// without one.
bool PlatformUsbNeedsIds();
