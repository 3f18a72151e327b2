#include "QuorvaneCore/ModeStability.h"

#include <gtest/gtest.h>

#include <chrono>
#include <tuple>

using namespace quorvane;
using namespace std::chrono_literals;

const Date start = Date{} + 1000h;
const ModeConfiguration sixty{.refreshRate = RefreshPreference::fixed(60'000)};
const ModeConfiguration hdrOn{.hdr = true};

TEST(ModeStabilityTest, AFreshRequestWaitsForTheDebounceOfAtLeastASecond)
{
    const std::pair<std::int64_t, double> cases[]
        = {{300, 1.0}, {1001, 1.001}, {5000, 5.0}, {0, 1.0}, {-300, 1.0}};
    for (const auto& [debounceMilliseconds, delay] : cases) {
        SCOPED_TRACE(debounceMilliseconds);
        EXPECT_DOUBLE_EQ(ModeStability().delay(sixty, start, debounceMilliseconds), delay);
    }
    // A display never changed has no applied moment to measure the spacing from.
    for (const Date now : {Date::min(), Date::max()})
        EXPECT_DOUBLE_EQ(ModeStability().delay(sixty, now, 300), 1.0);
}

TEST(ModeStabilityTest, OnlyADifferentModeRestartsTheWait)
{
    ModeStability stability;
    EXPECT_DOUBLE_EQ(stability.delay(sixty, start, 300), 1.0);
    EXPECT_DOUBLE_EQ(stability.delay(sixty, start + 400ms, 300), 0.6);
    EXPECT_DOUBLE_EQ(stability.delay(sixty, start + 2s, 300), 0.0);
    EXPECT_DOUBLE_EQ(stability.delay(hdrOn, start + 2s, 300), 1.0);
}

TEST(ModeStabilityTest, KeepsFiveSecondsAfterTheLastAppliedModeEvenAcrossCancel)
{
    // Asked before the apply when the clock went back; applied and asked at the end of the clock.
    const std::tuple<Date, Date, double> cases[] = {{start, start + 1s, 4.0},
        {start, start + 6s, 1.0}, {start, start - 1s, 6.0}, {Date::max(), Date::max(), 5.0},
        // Further apart than the clock counts: the difference saturates instead of wrapping.
        {Date::max(), Date::min(), 9'223'372'036.854775807 + 5.0}, {Date::min(), Date::max(), 1.0}};
    for (const auto& [appliedAt, askedAt, delay] : cases) {
        SCOPED_TRACE(delay);
        ModeStability stability;
        stability.didApply(appliedAt);
        EXPECT_DOUBLE_EQ(stability.delay(hdrOn, askedAt, 300), delay);
    }
    ModeStability stability;
    EXPECT_DOUBLE_EQ(stability.delay(sixty, start, 300), 1.0);
    stability.didApply(start + 1s);
    stability.cancel();
    EXPECT_DOUBLE_EQ(stability.delay(sixty, start + 3s, 300), 3.0); // the spacing survives
    EXPECT_DOUBLE_EQ(stability.delay(sixty, start + 6s, 300), 0.0); // the new request has settled
    stability.cancel();
    EXPECT_DOUBLE_EQ(stability.delay(sixty, start + 6500ms, 300), 1.0); // asked anew
}
