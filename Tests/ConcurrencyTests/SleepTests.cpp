#include "ConcurrencyTestSupport.h"

#include "Concurrency/ManualExecutor.h"
#include "Concurrency/Sleep.h"
#include "Concurrency/Spawn.h"

#include <gtest/gtest.h>

namespace quorvane {
namespace {

using namespace std::chrono_literals;

TEST(SleepTest, ResumesWhenItsTimeHasComeAndNotBefore)
{
    ManualExecutor executor;
    Journal journal(executor);
    spawn(noteAfter(journal, "woke", 100ms));
    executor.advance(99ms);
    EXPECT_TRUE(journal.entries.empty());
    executor.advance(1ms);
    EXPECT_EQ(journal.entries, (std::vector<std::string>{"woke at 100 ms"}));
}

TEST(SleepTest, CancellationEndsItAtOnceAndTheTimerLaterDoesNothing)
{
    ManualExecutor executor;
    Journal journal(executor);
    const TaskHandle sleeper = spawn(noteAfter(journal, "woke", 100ms));
    executor.advance(30ms);
    sleeper.cancel();
    EXPECT_TRUE(journal.entries.empty()) << "resumed inside cancel()";
    executor.runUntilIdle();
    EXPECT_TRUE(sleeper.isFinished());
    executor.advance(1h);
    EXPECT_EQ(journal.entries, (std::vector<std::string>{"woke cancelled at 30 ms"}));
}

Task<void> sleepThenWaitFor(TaskHandle other, Journal& journal)
{
    try {
        co_await sleep(100ms);
    } catch (const CancellationError&) {
        journal.note("sleep cancelled");
    }
    co_await other;
    journal.note("waited");
}

TEST(SleepTest, ACancelledSleepsTimerDoesNotResumeTheTaskWhereverItWaitsNext)
{
    ManualExecutor executor;
    Journal journal(executor);
    const TaskHandle other = spawn(noteAfter(journal, "other", 200ms));
    const TaskHandle sleeper = spawn(sleepThenWaitFor(other, journal));
    executor.advance(30ms);
    sleeper.cancel();
    executor.advance(1h);
    EXPECT_EQ(journal.entries,
        (std::vector<std::string>{
            "sleep cancelled at 30 ms", "other at 200 ms", "waited at 200 ms"}));
}

Task<void> sleepTwiceAfterCancellation(Journal& journal)
{
    co_await noteAfter(journal, "first", 1h);
    co_await noteAfter(journal, "second", 1h);
}

TEST(SleepTest, InACancelledTaskThrowsWithoutWaiting)
{
    ManualExecutor executor;
    Journal journal(executor);
    spawn(sleepTwiceAfterCancellation(journal)).cancel();
    executor.runUntilIdle();
    EXPECT_EQ(journal.entries,
        (std::vector<std::string>{"first cancelled at 0 ms", "second cancelled at 0 ms"}));
}

TEST(SleepTest, SleepsEndingTogetherResumeInTheOrderTheyBegan)
{
    ManualExecutor executor;
    Journal journal(executor);
    spawn(noteAfter(journal, "a", 100ms));
    spawn(noteAfter(journal, "b", 100ms));
    spawn(noteAfter(journal, "zero", 0ms));
    spawn(noteAfter(journal, "c", 100ms));
    executor.advance(1h);
    EXPECT_EQ(journal.entries,
        (std::vector<std::string>{"zero at 0 ms", "a at 100 ms", "b at 100 ms", "c at 100 ms"}));
}

} // namespace
} // namespace quorvane
