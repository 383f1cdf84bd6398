#include "PcKeyTracker.h"

PcKeyTracker::Action PcKeyTracker::OnKey(int key, bool press, bool autoRepeat,
                                         unsigned long timestampMs)
{
    const auto held = m_held.find(key);
    if (autoRepeat && held != m_held.end() && timestampMs - held->second >= kShortestRepeatDelayMs)
        return Action::Ignore;
    if (press) {
        m_held[key] = timestampMs;
        return Action::Press;
    }
    if (held == m_held.end())
        return Action::Ignore;
    m_held.erase(held);
    return Action::Release;
}
