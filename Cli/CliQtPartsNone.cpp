// Stand-ins for builds without Qt (the Windows core build): no image codecs, no simulator.
#include "CliQtParts.h"

#include <ostream>

namespace {

constexpr const char *kPngNeedsQt = "png output needs the Qt build";
constexpr const char *kUsbSimNeedsQt = "the simulated USB instrument needs the Qt build";
constexpr const char *kServeNeedsQt = "serve needs the Qt build";

} // namespace

std::shared_ptr<void> StartCliQt(int &, char **, const std::vector<std::string> &)
{
    return nullptr;
}

bool SaveJpegAsPng(const std::vector<std::uint8_t> &, const std::string &, std::string &error)
{
    error = kPngNeedsQt;
    return false;
}

std::unique_ptr<CCliUsbSim> MakeCliUsbSim(const std::string &, std::string &error)
{
    error = kUsbSimNeedsQt;
    return nullptr;
}

bool CliServeUsable(const CliOptions &, std::string &why)
{
    why = kServeNeedsQt;
    return false;
}

int RunServe(CCliSession &, const CliOptions &, std::ostream &, std::ostream &err)
{
    err << "error: " << kServeNeedsQt << "\n";
    return 1;
}
