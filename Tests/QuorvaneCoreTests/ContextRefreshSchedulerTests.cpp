#include "QuorvaneCore/ContextRefreshScheduler.h"

#include "ConcurrencyTests/ConcurrencyTestSupport.h"

#include "Concurrency/ManualExecutor.h"
#include "Concurrency/Sleep.h"
#include "Concurrency/Spawn.h"

#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace quorvane {
namespace {

using namespace std::chrono_literals;
using Entries = std::vector<std::string>;

RuntimeContext contextOf(std::string appBundleID)
{
    return {.appBundleID = std::move(appBundleID)};
}

Task<void> noteRun(Journal& journal, std::string name)
{
    journal.note(name);
    co_return;
}

ContextRefreshScheduler::Operation noting(Journal& journal, std::string name)
{
    return [&journal, name] { return noteRun(journal, name); };
}

Task<void> recordThenSleep(
    std::vector<ContinuousClock::duration>& sleeps, ContinuousClock::duration duration)
{
    sleeps.push_back(duration);
    co_await sleep(duration);
}

Task<void> pause(ContinuousClock::duration duration) { co_await sleep(duration); }

/// Waits the whole duration even when its task is cancelled, as a sleep that is already past
/// its end when the cancellation comes would.
Task<void> sleepThroughCancellation(ContinuousClock::duration duration)
{
    co_await spawn(pause(duration));
}

TEST(ContextRefreshSchedulerTest, TheSameContextIsIgnoredUnlessForced)
{
    for (const bool force : {false, true}) {
        SCOPED_TRACE(force);
        ManualExecutor executor;
        Journal journal(executor);
        ContextRefreshScheduler scheduler;
        EXPECT_TRUE(scheduler.schedule(contextOf("a"), 300, false, noting(journal, "first")));
        executor.advance(100ms);
        EXPECT_EQ(scheduler.schedule(contextOf("a"), 300, force, noting(journal, "second")), force);
        executor.advance(199ms);
        EXPECT_TRUE(journal.entries.empty());
        EXPECT_TRUE(scheduler.isWaiting());
        executor.advance(1s);
        EXPECT_EQ(journal.entries, (Entries{force ? "second at 400 ms" : "first at 300 ms"}));
        EXPECT_FALSE(scheduler.isWaiting());
    }
}

TEST(ContextRefreshSchedulerTest, ABurstOfContextsRunsOnceAfterTheLast)
{
    ManualExecutor executor;
    Journal journal(executor);
    ContextRefreshScheduler scheduler;
    for (const std::string app : {"a", "b", "c"}) {
        EXPECT_TRUE(scheduler.schedule(contextOf(app), 300, false, noting(journal, app)));
        executor.advance(100ms);
    }
    executor.advance(199ms);
    EXPECT_TRUE(journal.entries.empty());
    EXPECT_TRUE(scheduler.isWaiting());
    executor.advance(1ms);
    EXPECT_EQ(journal.entries, (Entries{"c at 500 ms"}));
    EXPECT_FALSE(scheduler.isWaiting());
    executor.advance(1s);
    EXPECT_EQ(journal.entries.size(), 1u);
}

TEST(ContextRefreshSchedulerTest, NoDelayRunsOnTheNextTurnWithoutSleeping)
{
    struct Case {
        std::int64_t delayMilliseconds;
        std::vector<ContinuousClock::duration> sleeps;
        std::string entry;
    };
    const Case cases[] = {
        {0, {}, "run at 0 ms"},
        {-5, {}, "run at 0 ms"},
        {1, {1ms}, "run at 1 ms"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.delayMilliseconds);
        ManualExecutor executor;
        Journal journal(executor);
        std::vector<ContinuousClock::duration> sleeps;
        ContextRefreshScheduler scheduler([&sleeps](ContinuousClock::duration duration) {
            return recordThenSleep(sleeps, duration);
        });
        scheduler.schedule(contextOf("a"), c.delayMilliseconds, false, noting(journal, "run"));
        EXPECT_TRUE(journal.entries.empty()) << "ran inside schedule()";
        executor.advance(1s);
        EXPECT_EQ(journal.entries, (Entries{c.entry}));
        EXPECT_EQ(sleeps, c.sleeps);
    }
}

TEST(ContextRefreshSchedulerTest, AcknowledgingOrCancellingDropsTheWaitingRun)
{
    struct Case {
        std::string name;
        std::function<void(ContextRefreshScheduler&)> drop;
        bool isSameContextScheduled;
    };
    const Case cases[] = {
        {"acknowledge remembers the context",
            [](ContextRefreshScheduler& scheduler) { scheduler.acknowledge(contextOf("a")); },
            false},
        {"cancel forgets it", [](ContextRefreshScheduler& scheduler) { scheduler.cancel(); }, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ManualExecutor executor;
        Journal journal(executor);
        ContextRefreshScheduler scheduler;
        scheduler.schedule(contextOf("a"), 300, false, noting(journal, "dropped"));
        executor.advance(100ms);
        c.drop(scheduler);
        EXPECT_FALSE(scheduler.isWaiting());
        executor.advance(1s);
        EXPECT_TRUE(journal.entries.empty());
        EXPECT_EQ(scheduler.schedule(contextOf("a"), 300, false, noting(journal, "again")),
            c.isSameContextScheduled);
    }
}

TEST(ContextRefreshSchedulerTest, ASupersededRunPastItsSleepNeverStarts)
{
    ManualExecutor executor;
    Journal journal(executor);
    ContextRefreshScheduler scheduler(sleepThroughCancellation);
    scheduler.schedule(contextOf("a"), 300, false, noting(journal, "a"));
    executor.advance(100ms);
    scheduler.schedule(contextOf("b"), 300, false, noting(journal, "b"));
    executor.advance(250ms);
    EXPECT_TRUE(scheduler.isWaiting()) << "the superseded run cleared the flag";
    executor.advance(1s);
    EXPECT_EQ(journal.entries, (Entries{"b at 400 ms"}));
}

TEST(ContextRefreshSchedulerTest, ARunningOperationSeesItsTaskCancelledByTheNextSchedule)
{
    ManualExecutor executor;
    Journal journal(executor);
    ContextRefreshScheduler scheduler;
    scheduler.schedule(
        contextOf("a"), 0, false, [&journal] { return noteAfter(journal, "a", 1s); });
    executor.advance(100ms);
    EXPECT_FALSE(scheduler.isWaiting());
    scheduler.schedule(contextOf("b"), 300, false, noting(journal, "b"));
    executor.advance(1s);
    EXPECT_EQ(journal.entries, (Entries{"a cancelled at 100 ms", "b at 400 ms"}));
}

TEST(ContextRefreshSchedulerTest, DestroyingTheSchedulerDropsTheWaitingRun)
{
    ManualExecutor executor;
    Journal journal(executor);
    std::optional<ContextRefreshScheduler> scheduler(std::in_place, sleepThroughCancellation);
    scheduler->schedule(contextOf("a"), 300, false, noting(journal, "a"));
    executor.advance(100ms);
    scheduler.reset();
    executor.advance(1s); // the run wakes after the scheduler is gone
    EXPECT_TRUE(journal.entries.empty());
}

TEST(ContextRefreshSchedulerTest, TheOperationOutlivesTheCoroutineItStarted)
{
    ManualExecutor executor;
    Journal journal(executor);
    ContextRefreshScheduler scheduler;
    // A capturing lambda coroutine is safe here only because the run keeps its own copy of the
    // operation until the coroutine has finished.
    scheduler.schedule(
        contextOf("a"), 0, false, [&journal, name = std::string("a")]() -> Task<void> {
            co_await sleep(10ms);
            journal.note(name);
        });
    executor.advance(1s);
    EXPECT_EQ(journal.entries, (Entries{"a at 10 ms"}));
}

} // namespace
} // namespace quorvane
