#include "QuorvaneCore/ContextRefreshScheduler.h"

#include "ConcurrencyTests/ConcurrencyTestSupport.h"

#include "Concurrency/ManualExecutor.h"
#include "Concurrency/Sleep.h"
#include "Concurrency/Spawn.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace quorvane {
namespace {

using namespace std::chrono_literals;
using Entries = std::vector<std::string>;

/// Notes the sleep, then waits the whole duration even when its task is cancelled, as a sleep
/// already past its end when the cancellation comes would: only the scheduler's own checks can
/// keep a dropped run from starting.
Task<void> sleepThroughCancellation(Journal& journal, ContinuousClock::duration duration)
{
    journal.note("sleep");
    co_await spawn(pause(duration));
}

/// A scheduler whose runs note the app of their context in the journal (on the turn after they
/// start, as a zero sleep ends then).
struct Bench {
    bool schedule(std::string app, std::int64_t delayMilliseconds = 300, bool force = false)
    {
        const auto operation = [this, app] { return noteAfter(journal, app, 0ms); };
        return scheduler->schedule({.appBundleID = app}, delayMilliseconds, force, operation);
    }

    ManualExecutor executor;
    Journal journal{executor};
    std::optional<ContextRefreshScheduler> scheduler{
        std::in_place, [this](ContinuousClock::duration duration) {
            return sleepThroughCancellation(journal, duration);
        }};
};

TEST(ContextRefreshSchedulerTest, RunsOnceAfterTheLastNewOrForcedContextOfABurst)
{
    Bench bench;
    EXPECT_TRUE(bench.schedule("a"));
    bench.executor.advance(100ms);
    EXPECT_FALSE(bench.schedule("a")) << "an equal context restarted the wait";
    bench.executor.advance(100ms);
    EXPECT_TRUE(bench.schedule("b"));
    bench.executor.advance(100ms);
    EXPECT_TRUE(bench.schedule("b", 300, true));
    bench.executor.advance(299ms);
    EXPECT_TRUE(bench.scheduler->isWaiting()) << "a superseded run cleared the flag";
    bench.executor.advance(1ms);
    EXPECT_FALSE(bench.scheduler->isWaiting());
    bench.executor.advance(1s);
    EXPECT_EQ(bench.journal.entries,
        (Entries{"sleep at 0 ms", "sleep at 200 ms", "sleep at 300 ms", "b at 600 ms"}));
}

TEST(ContextRefreshSchedulerTest, AcknowledgingCancellingOrDestroyingDropsTheWaitingRun)
{
    Bench bench;
    bench.schedule("a");
    bench.executor.advance(100ms);
    bench.scheduler->acknowledge({.appBundleID = "a"});
    EXPECT_FALSE(bench.scheduler->isWaiting());
    EXPECT_FALSE(bench.schedule("a")) << "acknowledge forgot the context";
    EXPECT_TRUE(bench.schedule("b"));
    bench.executor.advance(100ms);
    bench.scheduler->cancel();
    EXPECT_FALSE(bench.scheduler->isWaiting());
    EXPECT_TRUE(bench.schedule("b")) << "cancel remembered the context";
    bench.executor.advance(100ms);
    bench.scheduler.reset();
    bench.executor.advance(1s); // every run wakes, the last after the scheduler is gone
    EXPECT_EQ(
        bench.journal.entries, (Entries{"sleep at 0 ms", "sleep at 100 ms", "sleep at 200 ms"}));
}

TEST(ContextRefreshSchedulerTest,
    ARunWithoutDelaySkipsTheSleepAndTheNextScheduleCancelsItWhileRunning)
{
    Bench bench;
    const auto operation = [&bench] { return noteAfter(bench.journal, "a", 1s); };
    bench.scheduler->schedule({.appBundleID = "a"}, 0, false, operation);
    bench.executor.advance(100ms);
    bench.schedule("b", -5);
    bench.executor.advance(1s);
    // The running operation saw its task cancelled.
    EXPECT_EQ(bench.journal.entries, (Entries{"a cancelled at 100 ms", "b at 100 ms"}));
}

TEST(ContextRefreshSchedulerTest, TheDefaultSleepWaitsEveryPositiveDelayWithoutOverflowing)
{
    // 10^13 ms is more nanoseconds than the clock counts: it must wait "forever", not wrap.
    const std::pair<std::int64_t, ContinuousClock::duration> cases[]
        = {{0, 0ms}, {1, 1ms}, {10'000'000'000'000, 100'000h}};
    for (const auto& [delayMilliseconds, before] : cases) {
        SCOPED_TRACE(delayMilliseconds);
        ManualExecutor executor;
        Journal journal(executor);
        ContextRefreshScheduler scheduler;
        scheduler.schedule(
            {}, delayMilliseconds, false, [&journal] { return noteAfter(journal, "run", 0ms); });
        if (before > 0ms)
            executor.advance(before - 1ns);
        executor.runUntilIdle();
        EXPECT_EQ(journal.entries.empty(), before > 0ms);
        executor.advance(1ns);
        EXPECT_EQ(journal.entries.size(), delayMilliseconds < 1'000'000 ? 1u : 0u);
    }
}

} // namespace
} // namespace quorvane
