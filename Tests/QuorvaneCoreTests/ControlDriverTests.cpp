// Tests of ControlDriver and of its single-value sister BrightnessDriver, which share the same
// pacing: what they have in common runs on both.
#include "QuorvaneCore/BrightnessDriver.h"
#include "QuorvaneCore/ControlDriver.h"

#include "ModelFixtures.h"

#include "Concurrency/Cancellation.h"
#include "Concurrency/ManualExecutor.h"
#include "Concurrency/Spawn.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <deque>
#include <limits>
#include <optional>
#include <string>
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

/// Serves both drivers with one value, whatever the key: a read returns it, a write replaces it.
/// Every call is logged with its virtual time ("read 0, write 0, read 100"); once `failure` is
/// set, every call throws it.
class FakeBackend final
    : public ControlBackend
    , public BrightnessBackend {
public:
    Task<SettingValue> read(ControlKey) override { return answer("read"); }
    Task<void> write(SettingValue newValue, ControlKey) override { return store(newValue); }
    Task<double> read() override { co_return fractionOf(co_await answer("read")); }
    Task<void> write(double fraction) override { return store(SettingValue::percent(fraction)); }

    void note(const std::string& what)
    {
        const auto now = Executor::current()->now().time_since_epoch();
        log += (log.empty() ? "" : ", ") + what + " " + std::to_string(now / 1ms);
    }

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
        note(call);
        if (failure)
            throw Error(*failure);
        co_return value;
    }
};

/// Stores the report of `apply`, and logs "done", "cancelled" or the error's text when it ends.
template <typename Report>
Task<void> record(Task<Report> apply, std::optional<Report>& report, FakeBackend& backend)
{
    try {
        report = co_await std::move(apply);
        backend.note("done");
    } catch (const CancellationError&) {
        backend.note("cancelled");
    } catch (const Error& error) {
        backend.note(error.what());
    }
}

/// A driver on its own virtual time with a fake backend; the reports of its applies in order.
template <typename Driver, typename Report> struct Bench {
    TaskHandle start(Task<Report> apply)
    {
        return spawn(record(std::move(apply), reports.emplace_back(), backend));
    }

    ManualExecutor executor;
    FakeBackend backend;
    FakeBackend otherBackend;
    Driver driver;
    std::deque<std::optional<Report>> reports;
};

const ControlKey brightnessA = controlOf("A", brightness);

/// Applies percentages to the brightness of display "A".
struct ControlBench : Bench<ControlDriver, ControlApplyReport> {
    static inline const std::string refusal
        = "Invalid control command; display modes require the mode coordinator.";
    /// Notices a cancel that comes during the settle pause only after the read-back.
    static inline const std::string cancelledInThePause = "read 595, cancelled 595";

    /// Through `target`, or without one through the bench's own backend.
    TaskHandle apply(double value, bool smooth = true, FakeBackend* target = nullptr)
    {
        const SettingValue percent = SettingValue::percent(value);
        return start(driver.apply(percent, brightnessA, smooth, target ? *target : backend));
    }
    void cancel() { driver.cancel(brightnessA); }
};

struct BrightnessBench : Bench<BrightnessDriver, ApplyReport> {
    static inline const std::string refusal = "Brightness must be between 0 and 100%.";
    static inline const std::string cancelledInThePause = "cancelled 595";

    TaskHandle apply(double value, bool smooth = true, FakeBackend* target = nullptr)
    {
        return start(driver.apply(value, smooth, target ? *target : backend));
    }
    void cancel() { driver.cancel(); }
};

/// How far logOfApply() goes: to the end of the apply, or only to its last write.
enum class Until { end, lastWrite };

/// The log of an apply that writes `writeCount` times 45 ms apart and reads back 100 ms after
/// the last write.
std::string logOfApply(int writeCount, Until until = Until::end)
{
    std::string log = "read 0";
    for (int step = 0; step < writeCount; ++step)
        log += ", write " + std::to_string(45 * step);
    if (until == Until::lastWrite)
        return log;
    if (writeCount == 0)
        return log + ", done 0";
    const std::string end = std::to_string(45 * writeCount + 55);
    return log + ", read " + end + ", done " + end;
}

double fractionOf(double fraction) { return fraction; }

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
        {"beyond 1e-6, not smooth", 0.8999, 0.9, false, 1},
        {"eased to 80%", 0.2, 0.8, true, 12},
        {"eased to 90%", 0.2, 0.9, true, 12},
        {"smooth from not a number", notANumber, 0.9, true, 1},
        {"smooth from above 100%", 1.5, 0.9, true, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TypeParam bench;
        bench.backend.value = SettingValue::percent(c.current);
        bench.apply(c.target, c.smooth);
        bench.executor.advance(c.writeCount * 45ms + 54ms);
        EXPECT_EQ(bench.reports[0].has_value(), c.writeCount == 0) << "ended before the read-back";
        bench.executor.advance(1s);
        ASSERT_EQ(bench.backend.log, logOfApply(c.writeCount));
        if (c.writeCount == 12) {
            const std::vector<SettingValue>& writes = bench.backend.writes;
            EXPECT_DOUBLE_EQ(fractionOf(writes[0]), 0.2 + (c.target - 0.2) * 17 / 864);
            EXPECT_DOUBLE_EQ(fractionOf(writes[5]), (0.2 + c.target) / 2);
        }
        ASSERT_TRUE(bench.reports[0]);
        EXPECT_EQ(bench.reports[0]->didWrite, c.writeCount > 0);
        // Read back from the last write: exactly the target.
        EXPECT_EQ(fractionOf(bench.reports[0]->observed), c.writeCount > 0 ? c.target : c.current);
    }
}

TYPED_TEST(DriverTest, ANewerApplyACancelOrABackendErrorStopsTheApplyAtItsNextStep)
{
    using Interrupt = void (*)(TypeParam&, TaskHandle&);
    struct Case {
        std::string name;
        std::chrono::milliseconds at;
        std::string end;
        Interrupt interrupt;
    };
    const Interrupt cancelInTheDriver = [](TypeParam& bench, TaskHandle&) { bench.cancel(); };
    // The ramp writes at 0, 45 and 90 ms and pauses until 135 ms; the settle pause runs from
    // 495 to 595 ms.
    const Case cases[] = {
        {"a newer apply, through another backend", 100ms, "cancelled 135, done 200",
            [](TypeParam& bench, TaskHandle&) { bench.apply(0.3, false, &bench.otherBackend); }},
        {"a cancel during the ramp", 100ms, "cancelled 135", cancelInTheDriver},
        {"a cancel in the settle pause", 550ms, TypeParam::cancelledInThePause, cancelInTheDriver},
        {"cancelling the task in the settle pause", 550ms, "cancelled 550",
            [](TypeParam&, TaskHandle& task) { task.cancel(); }},
        {"a refused apply: not at all", 550ms, TypeParam::refusal + " 550, read 595, done 595",
            [](TypeParam& bench, TaskHandle&) { bench.apply(1.2); }},
        {"a backend error", 550ms, "read 595, No answer. 595",
            [](TypeParam& bench, TaskHandle&) { bench.backend.failure = "No answer."; }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TypeParam bench;
        TaskHandle task = bench.apply(0.8);
        bench.executor.advance(c.at);
        c.interrupt(bench, task);
        bench.executor.advance(1s);
        EXPECT_EQ(
            bench.backend.log, logOfApply(c.at < 495ms ? 3 : 12, Until::lastWrite) + ", " + c.end);
    }
}

TYPED_TEST(DriverTest, RefusesAllButFractionsFromZeroToOneBeforeTouchingTheBackend)
{
    const double infinity = std::numeric_limits<double>::infinity();
    for (const double value : {1.2, -0.1, notANumber, infinity, -0.0, 1.0}) {
        SCOPED_TRACE(value);
        TypeParam bench;
        bench.apply(value, false);
        bench.executor.advance(1s);
        const bool isFraction = value >= 0.0 && value <= 1.0;
        EXPECT_EQ(bench.backend.log, isFraction ? logOfApply(1) : TypeParam::refusal + " 0");
    }
}

TEST(ControlDriverTest, WritesOnlyValidNonModeCommandsAndEasesOnlyBrightnessReadAsAPercentage)
{
    struct Case {
        SettingValue value;
        SettingKey setting;
        SettingValue current;
        std::string log;
    };
    const SettingValue from20 = SettingValue::percent(0.2);
    const std::string refused = ControlBench::refusal + " 0";
    const Case cases[] = {
        {SettingValue::toggle(true), hdr, from20, refused},
        {SettingValue::refresh(RefreshPreference::fixed(60'000)), refreshRate, from20, refused},
        {SettingValue::toggle(true), brightness, from20, refused},
        {SettingValue::percent(0.9), contrast, from20, logOfApply(1)},
        {SettingValue::percent(0.9), brightness, SettingValue::toggle(true), logOfApply(1)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.value.label() + " for " + std::string(rawValue(c.setting)));
        ControlBench bench;
        bench.backend.value = c.current;
        bench.start(bench.driver.apply(c.value, controlOf("A", c.setting), true, bench.backend));
        bench.executor.advance(1s);
        EXPECT_EQ(bench.backend.log, c.log);
    }
}

TEST(ControlDriverTest, CancelStopsTheControlItNamesOrEveryOneAppliedBefore)
{
    ControlBench bench;
    bench.driver.cancel(std::nullopt); // nothing applied yet: nothing to stop
    bench.apply(0.8);
    bench.start(bench.driver.apply(
        SettingValue::percent(0.8), controlOf("A", contrast), false, bench.backend));
    bench.executor.advance(20ms);
    bench.driver.cancel(controlOf("B", brightness));
    bench.executor.advance(30ms);
    bench.driver.cancel(std::nullopt);
    bench.executor.advance(1s);
    EXPECT_EQ(bench.backend.log,
        "read 0, write 0, read 0, write 0, write 45, cancelled 90, read 100, cancelled 100");
}

TEST(ControlApplyReportTest, VerifiedAllowsPercentagesWithinTolerance)
{
    const SettingValue half = SettingValue::percent(0.5);
    EXPECT_TRUE((ControlApplyReport{half, SettingValue::percent(0.514)}).verified());
    EXPECT_FALSE((ControlApplyReport{half, SettingValue::percent(0.516)}).verified());
    EXPECT_FALSE((ControlApplyReport{half, SettingValue::percent(notANumber)}).verified());
    EXPECT_FALSE((ControlApplyReport{half, SettingValue::toggle(true)}).verified());
}

TEST(ApplyReportTest, VerifiedAllowsADifferenceOfAtMostFifteenThousandths)
{
    EXPECT_TRUE((ApplyReport{.requested = 0.5, .observed = 0.514}).verified());
    EXPECT_FALSE((ApplyReport{.requested = 0.5, .observed = 0.516}).verified());
    EXPECT_FALSE((ApplyReport{.requested = 0.5, .observed = notANumber}).verified());
}

} // namespace
} // namespace quorvane
