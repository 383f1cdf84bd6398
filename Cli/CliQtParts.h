// What the client needs Qt for: PNG output and the in-process simulated instrument behind
// --usb-sim. A build without Qt links stand-ins that refuse both with a clear message.
#pragma once

#include "IUsbBlockDevice.h"

#include <cstdint>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

// Sets up what the Qt parts need for these arguments (a GUI application object for the
// simulated instrument's text drawing, never a display). Keep the result for the whole run.
std::shared_ptr<void> StartCliQt(int &argc, char **argv, const std::vector<std::string> &args);

// Decodes a JPEG screen reply and writes it as PNG; false with the reason in `error`.
bool SaveJpegAsPng(const std::vector<std::uint8_t> &jpeg, const std::string &path,
                   std::string &error);

// The simulated instrument behind --usb-sim; it lives as long as this object.
class CCliUsbSim
{
public:
    virtual ~CCliUsbSim() = default;
    virtual UsbDeviceFactory Factory() = 0;
};

class CCliSession;
struct CliOptions;

// Whether "serve" can run as asked (this build has the browser view, the listen address is
// one); false with the reason. Checked before the instrument is connected.
bool CliServeUsable(const CliOptions &options, std::string &why);
// "serve": shows the connected instrument in browsers until the process is told to stop.
// The exit status as RunCli gives it.
int RunServe(CCliSession &session, const CliOptions &options, std::ostream &out, std::ostream &err);

// An empty model keeps the simulator's default. Nothing, with the reason in `error`, when
// this build has no simulator.
std::unique_ptr<CCliUsbSim> MakeCliUsbSim(const std::string &model, std::string &error);
