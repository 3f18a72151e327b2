#include "SeedTally.h"

namespace quorvane {

namespace {

std::string number(std::uint64_t value) { return std::to_string(value); }

/// "seeds 1-200", or "seed 7" for a range of one.
std::string rangeText(const SeedTally& tally)
{
    if (tally.firstSeed == tally.lastSeed)
        return "seed " + number(tally.firstSeed);
    return "seeds " + number(tally.firstSeed) + "-" + number(tally.lastSeed);
}

std::string count(const SeedTally& tally)
{
    return number(tally.played) + " of " + number(tally.total()) + " played";
}

} // namespace

std::string SeedTally::progress() const
{
    return rangeText(*this) + ": " + count(*this) + " so far, " + std::to_string(failed)
        + " failed";
}

std::string SeedTally::summary() const
{
    std::string text
        = rangeText(*this) + ": " + count(*this) + ", " + std::to_string(failed) + " failed";
    if (isStopped() && played < total())
        text += "; stopped early at seed " + number(firstSeed + played - 1) + " after "
            + std::to_string(failingSeedsBeforeStop) + " failing seeds";
    return text;
}

bool ProgressPace::isDue(std::chrono::steady_clock::time_point now)
{
    if (now - m_last < m_interval)
        return false;
    m_last = now;
    return true;
}

} // namespace quorvane
