#include "CLinkStats.h"

#include <algorithm>

namespace {
// Rates over less than this would swing wildly right after Start.
constexpr CLinkStats::Clock::duration kShortestSpan = std::chrono::seconds(1);
} // namespace

void CLinkStats::Start(Clock::time_point now)
{
    m_samples.clear();
    m_start = now;
    m_lastTransferMs = 0;
    m_failures = 0;
}

void CLinkStats::AddPicture(Clock::time_point arrived, double transferMs, std::size_t bytes)
{
    m_samples.push_back({arrived, bytes});
    m_lastTransferMs = transferMs;
    while (!m_samples.empty() && m_samples.front().arrived <= arrived - kWindow)
        m_samples.pop_front();
}

CLinkStats::Figures CLinkStats::At(Clock::time_point now) const
{
    Figures f;
    f.failures = m_failures;
    f.lastTransferMs = m_lastTransferMs;
    std::size_t bytes = 0;
    for (const Sample &s : m_samples) {
        if (s.arrived > now - kWindow && s.arrived <= now) {
            ++f.pictures;
            bytes += s.bytes;
        }
    }
    const auto span = std::clamp(now - m_start, kShortestSpan, kWindow);
    const double seconds = std::chrono::duration<double>(span).count();
    f.picturesPerSecond = f.pictures / seconds;
    f.kBPerSecond = double(bytes) / 1000.0 / seconds;
    f.kBPerPicture = f.pictures > 0 ? double(bytes) / 1000.0 / f.pictures : 0;
    return f;
}
