#include "CliStats.h"

#include <algorithm>
#include <cmath>

CliStats Summarise(std::vector<double> values)
{
    CliStats stats;
    if (values.empty())
        return stats;
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    stats.median = n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
    const auto rank = static_cast<std::size_t>(std::ceil(0.95 * static_cast<double>(n)));
    stats.p95 = values[std::clamp<std::size_t>(rank, 1, n) - 1];
    stats.max = values.back();
    return stats;
}
