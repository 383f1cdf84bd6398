// The keys the page offers, taken from the panels' own key tables.
#pragma once

#include "ShareStatus.h"

#include <vector>

namespace share {

// The KKC panel's keys and the two knob steps.
std::vector<ShareKey> KkcKeys();
// The LK panel's keys (its arrow keys are also its knob steps).
std::vector<ShareKey> LkKeys();

} // namespace share
