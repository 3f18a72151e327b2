#include "SeedTally.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>

namespace quorvane {
namespace {

using namespace std::chrono_literals;

TEST(SeedTallyTest, SaysHowManySeedsWerePlayedAndFailedAndWhereARunStoppedEarly)
{
    const struct {
        SeedTally tally;
        std::string progress;
        std::string summary;
    } cases[] = {
        {{.firstSeed = 1, .lastSeed = 20'000}, "seeds 1-20000: 0 of 20000 played so far, 0 failed",
            "seeds 1-20000: 0 of 20000 played, 0 failed"},
        {{.firstSeed = 1, .lastSeed = 200, .played = 200, .failed = 0},
            "seeds 1-200: 200 of 200 played so far, 0 failed",
            "seeds 1-200: 200 of 200 played, 0 failed"},
        {{.firstSeed = 7, .lastSeed = 7, .played = 1, .failed = 1},
            "seed 7: 1 of 1 played so far, 1 failed", "seed 7: 1 of 1 played, 1 failed"},
        {{.firstSeed = 101, .lastSeed = 20'000, .played = 1'200, .failed = 4},
            "seeds 101-20000: 1200 of 19900 played so far, 4 failed",
            "seeds 101-20000: 1200 of 19900 played, 4 failed"},
        {{.firstSeed = 101, .lastSeed = 20'000, .played = 1'200, .failed = 5},
            "seeds 101-20000: 1200 of 19900 played so far, 5 failed",
            "seeds 101-20000: 1200 of 19900 played, 5 failed; stopped early at seed 1300 after 5 "
            "failing seeds"},
        // The fifth failure on the last seed stops nothing.
        {{.firstSeed = 101, .lastSeed = 200, .played = 100, .failed = 5},
            "seeds 101-200: 100 of 100 played so far, 5 failed",
            "seeds 101-200: 100 of 100 played, 5 failed"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.summary);
        EXPECT_EQ(c.tally.progress(), c.progress);
        EXPECT_EQ(c.tally.summary(), c.summary);
        EXPECT_EQ(c.tally.isStopped(), c.tally.failed == 5);
    }
}

TEST(SeedTallyTest, ProgressIsDueOnceEachIntervalCountedFromTheLastLine)
{
    const std::chrono::steady_clock::time_point start{};
    ProgressPace pace(start, 10s);
    const struct {
        std::chrono::milliseconds at;
        bool isDue;
    } steps[] = {
        {0ms, false},
        {9'999ms, false},
        {10'000ms, true},
        {19'999ms, false},
        {20'000ms, true},
        // A slow seed makes one line, not one for each interval it took.
        {55'000ms, true},
        {60'000ms, false},
        {65'000ms, true},
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(step.at.count());
        EXPECT_EQ(pace.isDue(start + step.at), step.isDue);
    }
}

} // namespace
} // namespace quorvane
