// Stand-in for builds without the recording module.
#include "CliRecord.h"

std::unique_ptr<CCliRecording> StartCliRecording(const std::string &, const std::string &,
                                                 std::string &error)
{
    error = "recording needs the Qt build";
    return nullptr;
}
