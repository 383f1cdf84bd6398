// Summary figures of a series of fetch times.
#pragma once

#include <vector>

struct CliStats
{
    double median = 0;
    double p95 = 0;
    double max = 0;
};

// Median (mean of the middle two for an even count), 95th percentile by nearest rank,
// maximum. All zero for an empty series.
CliStats Summarise(std::vector<double> values);
