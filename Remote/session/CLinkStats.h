// Figures of a session's screen link, kept by the refresh worker and read by the window:
// pictures per second over the last ten seconds, the last transfer time, the size of a
// picture, the bytes per second and the failed screens since Start. A plain value: every
// time is given to it, so it needs no clock of its own.
#pragma once

#include <chrono>
#include <cstddef>
#include <deque>

class CLinkStats
{
public:
    using Clock = std::chrono::steady_clock;
    // The span the rates are taken over.
    static constexpr Clock::duration kWindow = std::chrono::seconds(10);

    struct Figures
    {
        int pictures = 0;             // received within the window
        double picturesPerSecond = 0; // over the window (or since Start, when that is shorter)
        double lastTransferMs = 0;    // request to complete reply, of the last picture
        double kBPerPicture = 0;      // mean size within the window, 1 kB = 1000 bytes
        double kBPerSecond = 0;       // bytes received per second over the window
        int failures = 0;             // failed screens since Start
    };

    // Forgets everything: a new Start at `now`.
    void Start(Clock::time_point now);
    void AddPicture(Clock::time_point arrived, double transferMs, std::size_t bytes);
    void AddFailure() { ++m_failures; }
    Figures At(Clock::time_point now) const;

private:
    struct Sample
    {
        Clock::time_point arrived;
        std::size_t bytes;
    };
    std::deque<Sample> m_samples; // oldest first, none older than the window
    Clock::time_point m_start{};
    double m_lastTransferMs = 0;
    int m_failures = 0;
};
