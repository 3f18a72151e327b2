// How far a run of seeds has come, for the lines the randomized run prints while it plays and at
// its end: a long run under the sanitizers takes hours.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

namespace quorvane {

/// A run stops after this many failing seeds: by then there is plenty to look at.
inline constexpr int failingSeedsBeforeStop = 5;

struct SeedTally {
    std::uint64_t firstSeed;
    std::uint64_t lastSeed;
    std::uint64_t played = 0;
    int failed = 0;

    [[nodiscard]] std::uint64_t total() const { return lastSeed - firstSeed + 1; }
    [[nodiscard]] bool isStopped() const { return failed >= failingSeedsBeforeStop; }
    /// "seeds 1-200: 120 of 200 played so far, 1 failed".
    [[nodiscard]] std::string progress() const;
    /// The closing line: how many seeds were played and failed, and, when the run stopped before
    /// its last seed, at which seed and why.
    [[nodiscard]] std::string summary() const;
};

/// Paces the progress lines by real time, so that a slow build prints no more than a fast one.
class ProgressPace {
public:
    ProgressPace(std::chrono::steady_clock::time_point start, std::chrono::seconds interval)
        : m_last(start)
        , m_interval(interval)
    {
    }

    /// True once `interval` has passed since the start or the last time it was true.
    [[nodiscard]] bool isDue(std::chrono::steady_clock::time_point now);

private:
    std::chrono::steady_clock::time_point m_last;
    std::chrono::steady_clock::duration m_interval;
};

} // namespace quorvane
