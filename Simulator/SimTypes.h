// Small vocabulary shared by the simulated instrument, its server and its users.
#pragma once

#include <optional>
#include <string>
#include <string_view>

// The two screen geometries of the instruments we imitate.
enum class SimFamily
{
    Lk,
    Kkc
};

// Misbehaviour the simulator can put into its replies, to exercise a client's error paths.
enum class SimFault
{
    None,
    Checksum, // one packet carries a wrong checksum
    Sequence, // a packet's index skips one
    Noise,    // bytes before the first start marker
    Split,    // every packet written in two parts with a pause between them
    Close,    // the connection is closed instead of answering
    Silence,  // the request is never answered
    Oversize, // a packet whose payload is larger than a receiver's payload store
    Overlong, // a reply longer than a receiver's reply buffer
};

struct SimScreenSize
{
    int width = 0;
    int height = 0;
};

SimScreenSize ScreenSizeOf(SimFamily family);

// A rectangle of the simulated screen, in its pixels.
struct SimRect
{
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
    bool Contains(int px, int py) const
    {
        return px >= x && py >= y && px < x + width && py < y + height;
    }
};

// Layout of the simulated screen that both its renderer and its touch handling know.
namespace sim_layout {
inline constexpr int kHeaderHeight = 28;
inline constexpr int kMenuLeft = 660;
inline constexpr int kMenuRight = 796;
inline constexpr int kStatusHeight = 30;
inline constexpr int kSoftKeys = 7;
} // namespace sim_layout

// The label of soft key `index` (0 at the top) in the menu column.
SimRect SoftKeyLabelRect(SimFamily family, int index);

std::optional<SimFamily> ParseFamily(std::string_view text);
std::string_view FamilyName(SimFamily family);

std::optional<SimFault> ParseFault(std::string_view text);
std::string_view FaultName(SimFault fault);

// The family a model text implies when none is chosen explicitly.
SimFamily DefaultFamilyForModel(std::string_view model);

inline constexpr std::string_view kDefaultModel = "KL561B";
