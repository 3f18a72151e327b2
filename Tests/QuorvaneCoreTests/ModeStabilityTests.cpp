#include "QuorvaneCore/ModeStability.h"

#include <gtest/gtest.h>

#include <chrono>
#include <limits>

using namespace quorvane;
using namespace std::chrono_literals;

namespace {

const Date start = Date{} + 1000h;
const ModeConfiguration sixty{.refreshRate = RefreshPreference::fixed(60'000)};
const ModeConfiguration hdrOn{.hdr = true};

} // namespace

TEST(ModeStabilityTest, AFreshRequestWaitsForTheDebounceOfAtLeastASecond)
{
    struct Case {
        std::int64_t debounceMilliseconds;
        double delay;
    };
    const Case cases[] = {
        {300, 1.0},
        {1001, 1.001},
        {5000, 5.0},
        {0, 1.0},
        {-300, 1.0},
        {std::numeric_limits<std::int64_t>::min(), 1.0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.debounceMilliseconds);
        ModeStability stability;
        EXPECT_DOUBLE_EQ(stability.delay(sixty, start, c.debounceMilliseconds), c.delay);
    }
}

TEST(ModeStabilityTest, AskingAgainForTheSameModeDoesNotRestartTheWait)
{
    ModeStability stability;
    EXPECT_DOUBLE_EQ(stability.delay(sixty, start, 300), 1.0);
    EXPECT_DOUBLE_EQ(stability.delay(sixty, start + 400ms, 300), 0.6);
    EXPECT_DOUBLE_EQ(stability.delay(sixty, start + 1s, 300), 0.0);
    EXPECT_DOUBLE_EQ(stability.delay(sixty, start + 2s, 300), 0.0);
    // A different mode restarts the wait from the moment it is asked for.
    EXPECT_DOUBLE_EQ(stability.delay(hdrOn, start + 2s, 300), 1.0);
    EXPECT_DOUBLE_EQ(stability.delay(hdrOn, start + 2500ms, 300), 0.5);
    EXPECT_DOUBLE_EQ(stability.delay(sixty, start + 2500ms, 300), 1.0);
}

TEST(ModeStabilityTest, KeepsFiveSecondsAfterTheLastAppliedMode)
{
    struct Case {
        const char* name;
        std::chrono::milliseconds askedAfterApply;
        double delay;
    };
    const Case cases[] = {
        {"asked 1 s after", 1s, 4.0},
        {"asked 4 s after", 4s, 1.0},
        {"asked 6 s after", 6s, 1.0},
        {"asked before the apply, as the clock went back", -1s, 6.0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ModeStability stability;
        stability.didApply(start);
        EXPECT_DOUBLE_EQ(stability.delay(hdrOn, start + c.askedAfterApply, 300), c.delay);
    }
}

TEST(ModeStabilityTest, CancelForgetsTheRequestButNotTheSpacing)
{
    ModeStability stability;
    EXPECT_DOUBLE_EQ(stability.delay(sixty, start, 300), 1.0);
    stability.didApply(start + 1s);
    stability.cancel();
    // Asked 3 s after the request began: new again, and still held back by the last apply.
    EXPECT_DOUBLE_EQ(stability.delay(sixty, start + 3s, 300), 3.0);
    EXPECT_DOUBLE_EQ(stability.delay(sixty, start + 5s, 300), 1.0);
}

TEST(ModeStabilityTest, StaysInRangeAtTheEndsOfTheClock)
{
    // A display never changed must not compute its cooled moment from the earliest instant.
    for (const Date now : {Date::min(), Date::max()}) {
        ModeStability stability;
        EXPECT_DOUBLE_EQ(stability.delay(sixty, now, 300), 1.0);
        EXPECT_DOUBLE_EQ(stability.delay(sixty, now, 5000), 5.0);
    }
    ModeStability stability;
    stability.didApply(Date::max());
    EXPECT_DOUBLE_EQ(stability.delay(sixty, Date::max(), 300), 5.0);
}
