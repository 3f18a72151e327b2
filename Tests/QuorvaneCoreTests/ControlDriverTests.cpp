// Tests of ControlDriver and of its single-value sister BrightnessDriver, which share the same
// pacing: what they have in common runs on both.
#include "QuorvaneCore/BrightnessDriver.h"
#include "QuorvaneCore/ControlDriver.h"

#include "ConcurrencyTests/ConcurrencyTestSupport.h"
#include "ModelFixtures.h"
#include "TestSupport/RunToEnd.h"

#include "Concurrency/ManualExecutor.h"
#include "Concurrency/Sleep.h"
#include "Concurrency/Spawn.h"

#include <gtest/gtest.h>

#include <deque>
#include <functional>
#include <limits>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

namespace quorvane {
namespace {

using namespace std::chrono_literals;
using enum SettingKey;

constexpr double notANumber = std::numeric_limits<double>::quiet_NaN();

double fractionOf(const SettingValue& percent)
{
    return std::get<SettingValue::Percent>(percent.value).value;
}
double fractionOf(double fraction) { return fraction; }

std::string millisecondsOf(ContinuousClock::time_point time)
{
    return std::to_string(time.time_since_epoch() / 1ms);
}

/// Serves both drivers with one value, whatever the key: a read returns it, a write replaces it.
/// Every call takes 10 ms, and a cancellation does not cut it short, as a transfer on the wire
/// runs to its end. Calls are logged with the virtual time they start at ("read 0, write 10");
/// once `failure` is set, every call ends by throwing it.
class FakeBackend final
    : public ControlBackend
    , public BrightnessBackend {
public:
    static constexpr auto latency = 10ms;

    Task<SettingValue> read(ControlKey) override { return answer("read"); }
    Task<void> write(SettingValue newValue, ControlKey) override { return store(newValue); }
    Task<double> read() override { co_return fractionOf(co_await answer("read")); }
    Task<void> write(double fraction) override { return store(SettingValue::percent(fraction)); }

    SettingValue value = SettingValue::percent(0.2);
    /// Every value written, exactly.
    std::vector<SettingValue> writes;
    std::string log;
    std::optional<std::string> failure;

private:
    Task<void> store(SettingValue newValue)
    {
        co_await answer("write");
        writes.push_back(value = std::move(newValue));
    }
    Task<SettingValue> answer(std::string call)
    {
        log += (log.empty() ? "" : ", ") + call + " " + millisecondsOf(Executor::current()->now());
        co_await spawn(pause(latency));
        if (failure)
            throw Error(*failure);
        co_return value;
    }
};

/// A driver on its own virtual time with a fake backend; the outcomes of its applies in order.
template <typename Driver, typename Report> struct Bench {
    TaskHandle start(Task<Report> apply)
    {
        return spawn(recordOutcome(std::move(apply), outcomes.emplace_back()));
    }
    /// "done 130", "cancelled 20", the error's text and its time, or "running".
    std::string ending(std::size_t index = 0) const
    {
        const TaskOutcome<Report>& outcome = outcomes.at(index);
        return outcome.summary() + (outcome.endedAt ? " " + millisecondsOf(*outcome.endedAt) : "");
    }

    ManualExecutor executor;
    FakeBackend backend;
    FakeBackend otherBackend;
    Driver driver;
    std::deque<TaskOutcome<Report>> outcomes;
};

const ControlKey brightnessA = controlOf("A", brightness);

/// Applies percentages to the brightness of display "A".
struct ControlBench : Bench<ControlDriver, ControlApplyReport> {
    static inline const std::string refusal
        = "Invalid control command; display modes require the mode coordinator.";
    /// Notices a supersession during the settle pause only after the read-back.
    static inline const std::string supersededInThePause
        = "read 0, write 10, read 120|cancelled 130";

    TaskHandle apply(double value, bool smooth = false, FakeBackend* target = nullptr)
    {
        const SettingValue percent = SettingValue::percent(value);
        return start(driver.apply(percent, brightnessA, smooth, target ? *target : backend));
    }
    void cancel() { driver.cancel(brightnessA); }
};

struct BrightnessBench : Bench<BrightnessDriver, ApplyReport> {
    static inline const std::string refusal = "Brightness must be between 0 and 100%.";
    static inline const std::string supersededInThePause = "read 0, write 10|cancelled 120";

    TaskHandle apply(double value, bool smooth = false, FakeBackend* target = nullptr)
    {
        return start(driver.apply(value, smooth, target ? *target : backend));
    }
    void cancel() { driver.cancel(); }
};

/// The log of an apply that writes `writeCount` times, 55 ms apart (the write and its 45 ms
/// pause), and reads back 100 ms after the last write has ended; then how it ended.
std::string logOfApply(int writeCount)
{
    std::string log = "read 0";
    for (int step = 0; step < writeCount; ++step)
        log += ", write " + std::to_string(10 + 55 * step);
    if (writeCount == 0)
        return log + "|done 10";
    const int readBack = 55 * writeCount + 65;
    return log + ", read " + std::to_string(readBack) + "|done " + std::to_string(readBack + 10);
}

template <typename TypeParam> std::string logAndEnding(const TypeParam& bench)
{
    return bench.backend.log + "|" + bench.ending();
}

template <typename> class DriverTest : public testing::Test {
};
using Benches = testing::Types<ControlBench, BrightnessBench>;
TYPED_TEST_SUITE(DriverTest, Benches);

TYPED_TEST(DriverTest, WritesNothingOnceOrTwelveEasedStepsThenReadsBackAfterTheSettlePause)
{
    struct Case {
        std::string name;
        double current;
        double target;
        bool smooth;
        int writeCount;
    };
    // From 0.2, 0.2 + (0.9 - 0.2) * 1 is not 0.9: the last write must be the target itself.
    const Case cases[] = {
        {"within 1e-6", 0.8999995, 0.9, true, 0},
        {"exactly 1e-6 away", 0.0, 0.000001, true, 0},
        {"beyond 1e-6, not smooth", 0.8999, 0.9, false, 1},
        {"eased to 80%", 0.2, 0.8, true, 12},
        {"eased to 90%", 0.2, 0.9, true, 12},
        {"smooth from not a number", notANumber, 0.9, true, 1},
        {"smooth from above 100%", 1.5, 0.9, true, 1},
        {"smooth from below 0%", -0.5, 0.9, true, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TypeParam bench;
        bench.backend.value = SettingValue::percent(c.current);
        bench.apply(c.target, c.smooth);
        const std::string expected = logOfApply(c.writeCount);
        const int end = std::stoi(expected.substr(expected.rfind(' ') + 1));
        bench.executor.advance(std::chrono::milliseconds(end - 1));
        EXPECT_FALSE(bench.outcomes[0].hasEnded());
        bench.executor.advance(1s);
        ASSERT_EQ(logAndEnding(bench), expected);
        if (c.writeCount == 12) {
            const std::vector<SettingValue>& writes = bench.backend.writes;
            EXPECT_DOUBLE_EQ(fractionOf(writes[0]), 0.2 + (c.target - 0.2) * 17 / 864);
            EXPECT_DOUBLE_EQ(fractionOf(writes[5]), (0.2 + c.target) / 2);
        }
        const auto& report = bench.outcomes[0].value;
        ASSERT_TRUE(report);
        EXPECT_EQ(report->didWrite, c.writeCount > 0);
        // Read back from the last write: exactly the target.
        EXPECT_EQ(fractionOf(report->observed), c.writeCount > 0 ? c.target : c.current);
    }
}

TYPED_TEST(DriverTest, AnApplySupersededOrCancelledStopsAtItsNextStepEvenWithinABackendCall)
{
    // One write: read 0-10, write 10-20, settle pause to 120, read-back 120-130. Eased: writes at
    // 10, 65, 120... each followed by a 45 ms pause.
    using Interrupt = std::function<void(TypeParam&, TaskHandle&)>;
    const Interrupt supersede = [](TypeParam& bench, TaskHandle&) { bench.cancel(); };
    const Interrupt cancelTask = [](TypeParam&, TaskHandle& task) { task.cancel(); };
    struct Case {
        std::string name;
        std::chrono::milliseconds at;
        Interrupt interrupt;
        std::string logAndEnding;
        bool smooth = false;
    };
    const Case cases[] = {
        {"cancelled before it starts", 0ms, cancelTask, "|cancelled 0"},
        {"superseded during the read", 5ms, supersede, "read 0|cancelled 10"},
        {"superseded during a read finding the target", 5ms,
            [](TypeParam& bench, TaskHandle&) {
                bench.backend.value = SettingValue::percent(0.8);
                bench.cancel();
            },
            "read 0|cancelled 10"},
        {"cancelled during the read", 5ms, cancelTask, "read 0|cancelled 10"},
        {"a newer apply during the read", 5ms,
            [](TypeParam& bench, TaskHandle&) { bench.apply(0.3, false, &bench.otherBackend); },
            "read 0|cancelled 10"},
        {"superseded during the write", 15ms, supersede, "read 0, write 10|cancelled 20"},
        {"cancelled during the write", 15ms, cancelTask, "read 0, write 10|cancelled 20"},
        {"superseded in the settle pause", 50ms, supersede, TypeParam::supersededInThePause},
        {"cancelled in the settle pause", 50ms, cancelTask, "read 0, write 10|cancelled 50"},
        {"superseded during the read-back", 125ms, supersede,
            "read 0, write 10, read 120|cancelled 130"},
        {"a refused apply: not at all", 50ms,
            [](TypeParam& bench, TaskHandle&) { bench.apply(1.2); }, logOfApply(1)},
        {"a backend error", 50ms,
            [](TypeParam& bench, TaskHandle&) { bench.backend.failure = "No answer."; },
            "read 0, write 10, read 120|No answer. 130"},
        {"superseded in an eased step's pause", 30ms, supersede, "read 0, write 10|cancelled 65",
            true},
        {"superseded during an eased write", 70ms, supersede,
            "read 0, write 10, write 65|cancelled 75", true},
        {"cancelled during an eased write", 70ms, cancelTask,
            "read 0, write 10, write 65|cancelled 75", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TypeParam bench;
        TaskHandle task = bench.apply(0.8, c.smooth);
        if (c.at > 0ms) // At 0 ms: before the apply's task has started.
            bench.executor.advance(c.at);
        c.interrupt(bench, task);
        bench.executor.advance(1s);
        EXPECT_EQ(logAndEnding(bench), c.logAndEnding);
    }
}

TYPED_TEST(DriverTest, RefusesAllButFractionsFromZeroToOneBeforeTouchingTheBackend)
{
    const double infinity = std::numeric_limits<double>::infinity();
    for (const double value : {1.2, -0.1, notANumber, infinity, -0.0, 1.0}) {
        SCOPED_TRACE(value);
        TypeParam bench;
        bench.apply(value);
        bench.executor.advance(1s);
        const bool isFraction = value >= 0.0 && value <= 1.0;
        EXPECT_EQ(
            logAndEnding(bench), isFraction ? logOfApply(1) : "|" + TypeParam::refusal + " 0");
    }
}

TEST(ControlDriverTest, WritesOnlyValidNonModeCommandsAndEasesOnlyBrightnessReadAsAPercentage)
{
    const SettingValue from20 = SettingValue::percent(0.2);
    const std::string refused = "|" + ControlBench::refusal + " 0";
    // The value applied, to which setting, the value read first, and the log.
    const std::tuple<SettingValue, SettingKey, SettingValue, std::string> cases[] = {
        {SettingValue::toggle(true), hdr, from20, refused},
        {SettingValue::refresh(RefreshPreference::fixed(60'000)), refreshRate, from20, refused},
        {SettingValue::toggle(true), brightness, from20, refused},
        {SettingValue::percent(0.9), contrast, from20, logOfApply(1)},
        {SettingValue::percent(0.9), brightness, SettingValue::toggle(true), logOfApply(1)},
    };
    for (const auto& [value, setting, current, log] : cases) {
        SCOPED_TRACE(value.label() + " for " + std::string(rawValue(setting)));
        ControlBench bench;
        bench.backend.value = current;
        bench.start(bench.driver.apply(value, controlOf("A", setting), true, bench.backend));
        bench.executor.advance(1s);
        EXPECT_EQ(logAndEnding(bench), log);
    }
}

TEST(ControlDriverTest, CancelStopsTheControlItNamesOrEveryOneAppliedBefore)
{
    for (const int controlCount : {1, 2}) {
        SCOPED_TRACE(controlCount);
        ControlBench bench;
        bench.driver.cancel(std::nullopt); // nothing applied yet: nothing to stop
        bench.apply(0.8);
        if (controlCount == 2)
            bench.start(bench.driver.apply(
                SettingValue::percent(0.8), controlOf("A", contrast), false, bench.otherBackend));
        bench.executor.advance(15ms);
        bench.driver.cancel(controlOf("B", brightness));
        bench.executor.advance(10ms);
        EXPECT_EQ(bench.ending(), "running") << "another display's cancel stopped it";
        bench.executor.advance(25ms);
        bench.driver.cancel(std::nullopt);
        bench.executor.advance(1s);
        EXPECT_EQ(logAndEnding(bench), "read 0, write 10, read 120|cancelled 130");
        EXPECT_EQ(bench.ending(bench.outcomes.size() - 1), "cancelled 130");
    }
}

TEST(ControlDriverTest, ApplyReportsAreVerifiedWithinFifteenThousandths)
{
    const std::tuple<double, double, bool> cases[] = {{0.5, 0.514, true}, {0.5, 0.486, true},
        {0.0, 0.015, true}, {0.5, 0.516, false}, {0.5, notANumber, false}};
    for (const auto& [requested, observed, verified] : cases) {
        SCOPED_TRACE(observed);
        const SettingValue asked = SettingValue::percent(requested);
        EXPECT_EQ(
            (ControlApplyReport{asked, SettingValue::percent(observed)}).verified(), verified);
        EXPECT_EQ((ApplyReport{.requested = requested, .observed = observed}).verified(), verified);
    }
    EXPECT_FALSE(
        (ControlApplyReport{SettingValue::percent(1), SettingValue::toggle(true)}).verified());
}

} // namespace
} // namespace quorvane
