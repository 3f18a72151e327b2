#include "QuorvaneCore/ControlDriver.h"

#include "DriverTestSupport.h"
#include "ModelFixtures.h"

#include "Concurrency/ManualExecutor.h"

#include <gtest/gtest.h>

#include <functional>
#include <limits>

namespace quorvane {
namespace {

using namespace std::chrono_literals;
using Outcome = ApplyOutcome<ControlApplyReport>;

constexpr double notANumber = std::numeric_limits<double>::quiet_NaN();
const ControlKey brightnessA = controlOf("A", SettingKey::brightness);
const SettingValue from20 = SettingValue::percent(0.2);

/// A driver and a fake backend holding `current`, on virtual time.
struct Bench {
    explicit Bench(SettingValue current)
        : backend(executor, std::move(current))
    {
    }

    Outcome& apply(SettingValue value, ControlKey key, bool smooth)
    {
        return startRecording(
            driver.apply(std::move(value), std::move(key), smooth, backend), outcomes);
    }

    ManualExecutor executor;
    const ContinuousClock::time_point start = executor.now();
    FakeControlBackend backend;
    ControlDriver driver;
    std::deque<Outcome> outcomes;
};

TEST(ControlDriverTest, RefusesInvalidValuesAndModeKeysBeforeTouchingTheBackend)
{
    struct Case {
        std::string name;
        SettingValue value;
        SettingKey setting;
    };
    const Case cases[] = {
        {"percentage for HDR", SettingValue::percent(0.5), SettingKey::hdr},
        {"valid HDR toggle", SettingValue::toggle(true), SettingKey::hdr},
        {"valid refresh rate", SettingValue::refresh(RefreshPreference::fixed(60'000)),
            SettingKey::refreshRate},
        {"toggle for brightness", SettingValue::toggle(true), SettingKey::brightness},
        {"above 100%", SettingValue::percent(1.2), SettingKey::contrast},
        {"not a number", SettingValue::percent(notANumber), SettingKey::brightness},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Bench bench(from20);
        const Outcome& running = bench.apply(SettingValue::percent(0.7), brightnessA, false);
        bench.executor.advance(50ms);
        const Outcome& refused = bench.apply(c.value, controlOf("A", c.setting), true);
        bench.executor.advance(1s);
        EXPECT_EQ(refused.failure,
            "Invalid control command; display modes require the mode coordinator.");
        EXPECT_EQ(bench.backend.calls().size(), 3u) << "only the running apply's calls";
        EXPECT_TRUE(running.report) << "a refused apply superseded it";
    }
}

TEST(ControlDriverTest, SkipsTheWriteOnlyWhenTheControlAlreadyHoldsTheValue)
{
    struct Case {
        std::string name;
        SettingKey setting;
        SettingValue current;
        SettingValue requested;
        bool didWrite;
    };
    const SettingValue kelvin6500 = SettingValue::temperature(Temperature::kelvin(6500));
    const Case cases[] = {
        {"within 1e-6", SettingKey::brightness, SettingValue::percent(0.4999995),
            SettingValue::percent(0.5), false},
        {"beyond 1e-6", SettingKey::brightness, SettingValue::percent(0.4999),
            SettingValue::percent(0.5), true},
        {"same temperature", SettingKey::temperature, kelvin6500, kelvin6500, false},
        {"neutral to kelvin", SettingKey::temperature,
            SettingValue::temperature(Temperature::neutral()), kelvin6500, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Bench bench(c.current);
        const Outcome& outcome = bench.apply(c.requested, controlOf("A", c.setting), false);
        bench.executor.advance(1s);
        ASSERT_TRUE(outcome.report);
        EXPECT_EQ(outcome.report->didWrite, c.didWrite);
        EXPECT_EQ(outcome.report->observed, c.didWrite ? c.requested : c.current);
        EXPECT_EQ(bench.backend.calls().size(), c.didWrite ? 3u : 1u);
    }
}

TEST(ControlDriverTest, EasesBrightnessInTwelveSmoothstepWritesEndingExactlyOnTheTarget)
{
    // From 0.2, 0.2 + (0.9 - 0.2) * 1 is not 0.9: the last write must be the target itself.
    for (const double target : {0.8, 0.9}) {
        SCOPED_TRACE(target);
        Bench bench(from20);
        const Outcome& outcome = bench.apply(SettingValue::percent(target), brightnessA, true);
        bench.executor.advance(594ms);
        EXPECT_FALSE(outcome.endedAt);
        bench.executor.advance(1s);

        const std::vector<SettingValue>& writes = bench.backend.writes();
        ASSERT_EQ(writes.size(), 12u);
        const auto fractionOf = [](const SettingValue& percent) {
            return std::get<SettingValue::Percent>(percent.value).value;
        };
        EXPECT_DOUBLE_EQ(fractionOf(writes[0]), 0.2 + (target - 0.2) * 17.0 / 864.0);
        EXPECT_DOUBLE_EQ(fractionOf(writes[5]), (0.2 + target) / 2);
        EXPECT_EQ(writes[11], SettingValue::percent(target));
        const std::vector<BackendCall>& calls = bench.backend.calls();
        ASSERT_EQ(calls.size(), 14u);
        for (std::size_t step = 0; step < 12; ++step)
            EXPECT_EQ(calls[1 + step].time, bench.start + step * 45ms);
        EXPECT_EQ(calls.back(), (BackendCall{bench.start + 595ms, "read"}));
        EXPECT_EQ(outcome.endedAt, bench.start + 595ms);
    }
}

TEST(ControlDriverTest, WritesOnceWhereEasingDoesNotApply)
{
    struct Case {
        std::string name;
        SettingKey setting;
        SettingValue current;
        bool smooth;
    };
    const Case cases[] = {
        {"contrast", SettingKey::contrast, from20, true},
        {"not smooth", SettingKey::brightness, from20, false},
        {"read a toggle", SettingKey::brightness, SettingValue::toggle(true), true},
        {"read not a number", SettingKey::brightness, SettingValue::percent(notANumber), true},
        {"read above 100%", SettingKey::brightness, SettingValue::percent(1.3), true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Bench bench(c.current);
        const SettingValue target = SettingValue::percent(0.8);
        const Outcome& outcome = bench.apply(target, controlOf("A", c.setting), c.smooth);
        bench.executor.advance(99ms);
        EXPECT_FALSE(outcome.endedAt);
        bench.executor.advance(1s);
        EXPECT_EQ(bench.backend.writes(), (std::vector<SettingValue>{target}));
        EXPECT_EQ(bench.backend.calls().back(), (BackendCall{bench.start + 100ms, "read"}));
        ASSERT_TRUE(outcome.report);
        EXPECT_TRUE(outcome.report->verified());
    }
}

TEST(ControlDriverTest, ANewerApplyStopsTheOlderOneAfterItsCurrentStep)
{
    Bench bench(from20);
    const Outcome& older = bench.apply(SettingValue::percent(0.8), brightnessA, true);
    bench.executor.advance(100ms); // written at 0, 45 and 90 ms, pausing until 135 ms
    const Outcome& newer = bench.apply(SettingValue::percent(0.3), brightnessA, true);
    bench.executor.advance(1s);
    EXPECT_EQ(older.failure, "cancelled");
    EXPECT_EQ(older.endedAt, bench.start + 135ms);
    ASSERT_TRUE(newer.report);
    EXPECT_TRUE(newer.report->verified());
    EXPECT_EQ(bench.backend.writes().size(), 3u + 12u);
}

TEST(ControlDriverTest, ANewerApplyDuringTheReadStopsTheOlderOneBeforeItWrites)
{
    Bench bench(from20);
    bench.backend.setLatency(10ms);
    const Outcome& older = bench.apply(SettingValue::percent(0.8), brightnessA, false);
    bench.executor.advance(5ms);
    const Outcome& newer = bench.apply(SettingValue::percent(0.3), brightnessA, false);
    bench.executor.advance(1s);
    EXPECT_EQ(older.failure, "cancelled");
    EXPECT_EQ(bench.backend.writes(), (std::vector<SettingValue>{SettingValue::percent(0.3)}));
    EXPECT_TRUE(newer.report);
}

TEST(ControlDriverTest, CancellingDuringTheSettlePause)
{
    struct Case {
        std::string name;
        std::function<void(ControlDriver&, const TaskHandle&)> cancel;
        std::optional<std::string> failure;
        std::chrono::milliseconds endedAfter;
        std::size_t callCount;
    };
    const Case cases[] = {
        {"the task: at once, without a read-back",
            [](ControlDriver&, const TaskHandle& task) { task.cancel(); }, "cancelled", 50ms, 2},
        {"the control: after the read-back",
            [](ControlDriver& driver, const TaskHandle&) { driver.cancel(brightnessA); },
            "cancelled", 100ms, 3},
        {"every control: after the read-back",
            [](ControlDriver& driver, const TaskHandle&) { driver.cancel(std::nullopt); },
            "cancelled", 100ms, 3},
        {"another control: not at all",
            [](ControlDriver& driver, const TaskHandle&) {
                driver.cancel(controlOf("B", SettingKey::brightness));
            },
            std::nullopt, 100ms, 3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Bench bench(from20);
        const Outcome& outcome = bench.apply(SettingValue::percent(0.7), brightnessA, false);
        bench.executor.advance(50ms);
        c.cancel(bench.driver, *outcome.task);
        bench.executor.advance(1s);
        EXPECT_EQ(outcome.failure, c.failure);
        EXPECT_EQ(outcome.endedAt, bench.start + c.endedAfter);
        EXPECT_EQ(bench.backend.calls().size(), c.callCount);
    }
}

TEST(ControlDriverTest, CancelWithoutAKeyStopsEveryControlAppliedBefore)
{
    Bench bench(from20);
    bench.driver.cancel(std::nullopt); // nothing applied yet: nothing to stop
    const Outcome& brightness = bench.apply(SettingValue::percent(0.8), brightnessA, true);
    const Outcome& contrast
        = bench.apply(SettingValue::percent(0.8), controlOf("A", SettingKey::contrast), false);
    bench.executor.advance(50ms);
    bench.driver.cancel(std::nullopt);
    bench.executor.advance(1s);
    EXPECT_EQ(brightness.failure, "cancelled");
    EXPECT_EQ(contrast.failure, "cancelled");
}

TEST(ControlDriverTest, PassesBackendErrorsOnAndRunsNoFurtherStep)
{
    struct Case {
        std::string name;
        std::chrono::milliseconds failFrom;
        std::size_t writeCount;
        std::chrono::milliseconds endedAfter;
    };
    const Case cases[] = {
        {"the first read", 0ms, 0, 0ms},
        {"the third eased write", 50ms, 2, 90ms},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Bench bench(from20);
        const Outcome& outcome = bench.apply(SettingValue::percent(0.8), brightnessA, true);
        if (c.failFrom > 0ms) // zero: before the task has started
            bench.executor.advance(c.failFrom);
        bench.backend.fail("The monitor did not answer.");
        bench.executor.advance(1s);
        EXPECT_EQ(outcome.failure, "The monitor did not answer.");
        EXPECT_EQ(outcome.endedAt, bench.start + c.endedAfter);
        EXPECT_EQ(bench.backend.writes().size(), c.writeCount);
        EXPECT_EQ(bench.backend.calls().back().time, bench.start + c.endedAfter);
    }
}

TEST(ControlApplyReportTest, VerifiedAllowsPercentagesWithinTolerance)
{
    struct Case {
        std::string name;
        SettingValue observed;
        SettingValue requested;
        bool verified;
    };
    const SettingValue half = SettingValue::percent(0.5);
    const Case cases[] = {
        {"0.514 for 0.5", SettingValue::percent(0.514), half, true},
        {"0.516 for 0.5", SettingValue::percent(0.516), half, false},
        {"0.515 for 0.5, just above 0.015 apart", SettingValue::percent(0.515), half, false},
        {"not a number", SettingValue::percent(notANumber), half, false},
        {"neutral for 6500 K", SettingValue::temperature(Temperature::neutral()),
            SettingValue::temperature(Temperature::kelvin(6500)), false},
        {"another case", SettingValue::toggle(true), half, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ((ControlApplyReport{.requested = c.requested, .observed = c.observed}).verified(),
            c.verified);
    }
}

} // namespace
} // namespace quorvane
