#include "QuorvaneCore/BrightnessDriver.h"

#include "DriverTestSupport.h"

#include "Concurrency/ManualExecutor.h"

#include <gtest/gtest.h>

#include <functional>
#include <limits>

namespace quorvane {
namespace {

using namespace std::chrono_literals;
using Outcome = ApplyOutcome<ApplyReport>;

constexpr double notANumber = std::numeric_limits<double>::quiet_NaN();

/// A driver and a fake backend holding `current`, on virtual time.
struct Bench {
    explicit Bench(double current)
        : backend(executor, current)
    {
    }

    Outcome& apply(double value, bool smooth, BrightnessBackend& target)
    {
        return startRecording(driver.apply(value, smooth, target), outcomes);
    }
    Outcome& apply(double value, bool smooth) { return apply(value, smooth, backend); }

    ManualExecutor executor;
    const ContinuousClock::time_point start = executor.now();
    FakeBrightnessBackend backend;
    BrightnessDriver driver;
    std::deque<Outcome> outcomes;
};

TEST(BrightnessDriverTest, AcceptsOnlyFractionsFromZeroToOne)
{
    struct Case {
        double value;
        bool isAccepted;
    };
    const Case cases[] = {
        {1.2, false},
        {-0.1, false},
        {notANumber, false},
        {std::numeric_limits<double>::infinity(), false},
        {0.0, true},
        {-0.0, true},
        {1.0, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.value);
        Bench bench(0.5);
        const Outcome& running = bench.apply(0.7, false);
        bench.executor.advance(50ms);
        const Outcome& outcome = bench.apply(c.value, false);
        bench.executor.advance(1s);
        EXPECT_EQ(outcome.report.has_value(), c.isAccepted);
        if (!c.isAccepted) {
            EXPECT_EQ(outcome.failure, "Brightness must be between 0 and 100%.");
            EXPECT_EQ(bench.backend.calls().size(), 3u) << "only the running apply's calls";
            EXPECT_TRUE(running.report) << "a refused apply superseded it";
        }
    }
}

TEST(BrightnessDriverTest, SkipsTheWriteOnlyWithinOneMillionth)
{
    for (const double current : {0.4999995, 0.4999}) {
        SCOPED_TRACE(current);
        Bench bench(current);
        const Outcome& outcome = bench.apply(0.5, false);
        bench.executor.advance(1s);
        ASSERT_TRUE(outcome.report);
        const bool isThere = current == 0.4999995;
        EXPECT_EQ(outcome.report->didWrite, !isThere);
        EXPECT_EQ(outcome.report->observed, isThere ? current : 0.5);
    }
}

TEST(BrightnessDriverTest, WritesTwelveEasedStepsOrOneEndingExactlyOnTheTarget)
{
    struct Case {
        std::string name;
        double current;
        bool smooth;
        std::size_t writeCount;
    };
    // From 0.2, 0.2 + (0.9 - 0.2) * 1 is not 0.9: the last write must be the target itself.
    const Case cases[] = {
        {"smooth", 0.2, true, 12},
        {"not smooth", 0.2, false, 1},
        {"smooth from not a number", notANumber, true, 1},
        {"not smooth from not a number", notANumber, false, 1},
        {"smooth from above 100%", 1.5, true, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Bench bench(c.current);
        const Outcome& outcome = bench.apply(0.9, c.smooth);
        bench.executor.advance(1s);

        const std::vector<double>& writes = bench.backend.writes();
        ASSERT_EQ(writes.size(), c.writeCount);
        EXPECT_DOUBLE_EQ(writes.front(), c.smooth && c.current == 0.2 ? 0.2 + 0.7 * 17 / 864 : 0.9);
        EXPECT_EQ(writes.back(), 0.9);
        for (std::size_t step = 0; step < c.writeCount; ++step)
            EXPECT_EQ(bench.backend.calls()[1 + step].time, bench.start + step * 45ms);
        const auto readBack = bench.start + (c.writeCount - 1) * 45ms + 100ms;
        EXPECT_EQ(bench.backend.calls().back(), (BackendCall{readBack, "read"}));
        ASSERT_TRUE(outcome.report);
        EXPECT_TRUE(outcome.report->verified());
    }
}

TEST(BrightnessDriverTest, ANewerApplyWithAnyBackendOrACancelStopsTheRampAfterItsStep)
{
    struct Case {
        std::string name;
        std::function<void(Bench&, BrightnessBackend&)> interrupt;
    };
    const Case cases[] = {
        {"newer apply",
            [](Bench& bench, BrightnessBackend& other) { bench.apply(0.3, false, other); }},
        {"cancel", [](Bench& bench, BrightnessBackend&) { bench.driver.cancel(); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Bench bench(0.2);
        FakeBrightnessBackend otherBackend(bench.executor, 0.2);
        const Outcome& older = bench.apply(0.8, true);
        bench.executor.advance(100ms); // written at 0, 45 and 90 ms, pausing until 135 ms
        c.interrupt(bench, otherBackend);
        bench.executor.advance(1s);
        EXPECT_EQ(older.failure, "cancelled");
        EXPECT_EQ(older.endedAt, bench.start + 135ms);
        EXPECT_EQ(bench.backend.writes().size(), 3u);
    }
}

TEST(BrightnessDriverTest, CancellingDuringTheSettlePauseSkipsTheReadBack)
{
    struct Case {
        std::string name;
        std::function<void(BrightnessDriver&, const TaskHandle&)> cancel;
        std::chrono::milliseconds endedAfter;
    };
    const Case cases[] = {
        {"the task, at once", [](BrightnessDriver&, const TaskHandle& task) { task.cancel(); },
            50ms},
        {"the driver, after the pause",
            [](BrightnessDriver& driver, const TaskHandle&) { driver.cancel(); }, 100ms},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Bench bench(0.2);
        const Outcome& outcome = bench.apply(0.7, false);
        bench.executor.advance(50ms);
        c.cancel(bench.driver, *outcome.task);
        bench.executor.advance(1s);
        EXPECT_EQ(outcome.failure, "cancelled");
        EXPECT_EQ(outcome.endedAt, bench.start + c.endedAfter);
        EXPECT_EQ(bench.backend.calls().size(), 2u) << "read before, write, no read-back";
    }
}

TEST(ApplyReportTest, VerifiedAllowsADifferenceOfAtMostFifteenThousandths)
{
    struct Case {
        double observed;
        bool verified;
    };
    const Case cases[] = {{0.514, true}, {0.486, true}, {0.516, false}, {notANumber, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.observed);
        EXPECT_EQ((ApplyReport{.requested = 0.5, .observed = c.observed}).verified(), c.verified);
    }
}

} // namespace
} // namespace quorvane
