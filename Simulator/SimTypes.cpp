#include "SimTypes.h"

#include <array>
#include <cctype>
#include <utility>

namespace {

constexpr std::array<std::pair<std::string_view, SimFault>, 9> kFaultNames{{
    {"none", SimFault::None},
    {"checksum", SimFault::Checksum},
    {"sequence", SimFault::Sequence},
    {"noise", SimFault::Noise},
    {"split", SimFault::Split},
    {"close", SimFault::Close},
    {"silence", SimFault::Silence},
    {"oversize", SimFault::Oversize},
    {"overlong", SimFault::Overlong},
}};

// Model names that use the 800 x 480 screen: the 530C and MW5000 lines. Everything else,
// including every 510/560 series name, has the 800 x 600 screen.
bool IsKkcModel(std::string_view model)
{
    if (model.starts_with("MW") && model != "MW310")
        return true;
    // "53xC" anywhere in the name, as in KL535C or QX538C.
    for (std::size_t i = 0; i + 4 <= model.size(); ++i) {
        if (model[i] == '5' && model[i + 1] == '3' &&
            std::isdigit(static_cast<unsigned char>(model[i + 2])) && model[i + 3] == 'C')
            return true;
    }
    return false;
}

} // namespace

SimRect SoftKeyLabelRect(SimFamily family, int index)
{
    using namespace sim_layout;
    const int top = kHeaderHeight + 34;
    const int bottom = ScreenSizeOf(family).height - kStatusHeight - 6;
    const int pitch = (bottom - top) / kSoftKeys;
    return {kMenuLeft, top + index * pitch, kMenuRight - kMenuLeft, pitch - 6};
}

SimScreenSize ScreenSizeOf(SimFamily family)
{
    return family == SimFamily::Kkc ? SimScreenSize{800, 480} : SimScreenSize{800, 600};
}

std::optional<SimFamily> ParseFamily(std::string_view text)
{
    if (text == "lk")
        return SimFamily::Lk;
    if (text == "kkc")
        return SimFamily::Kkc;
    return std::nullopt;
}

std::string_view FamilyName(SimFamily family)
{
    return family == SimFamily::Kkc ? "kkc" : "lk";
}

std::optional<SimFault> ParseFault(std::string_view text)
{
    for (const auto &[name, fault] : kFaultNames) {
        if (name == text)
            return fault;
    }
    return std::nullopt;
}

std::string_view FaultName(SimFault fault)
{
    for (const auto &[name, value] : kFaultNames) {
        if (value == fault)
            return name;
    }
    return "none";
}

SimFamily DefaultFamilyForModel(std::string_view model)
{
    return IsKkcModel(model) ? SimFamily::Kkc : SimFamily::Lk;
}
