// When a lost instrument is tried again: soon at first, since a reboot or a replugged cable
// is back within seconds, then no more than every ten seconds.
#pragma once

#include <chrono>

namespace klr {

// When reconnect try `attempt` (counted from 1) is due, counted from the loss of the link:
// after 1, 2, 4 and 8 s, then every 10 s (18, 28, ...). A try that ran past the next one's
// time is followed at once.
constexpr std::chrono::milliseconds ReconnectDueAfter(int attempt)
{
    using std::chrono::milliseconds;
    if (attempt <= 1)
        return milliseconds(1000);
    if (attempt <= 4)
        return milliseconds(1000 << (attempt - 1));
    return milliseconds(8000 + 10000 * static_cast<long long>(attempt - 4));
}

} // namespace klr
