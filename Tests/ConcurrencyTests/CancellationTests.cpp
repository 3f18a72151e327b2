#include "ConcurrencyTestSupport.h"

#include "Concurrency/Cancellation.h"
#include "Concurrency/ManualExecutor.h"
#include "Concurrency/Spawn.h"

#include <gtest/gtest.h>

namespace quorvane {
namespace {

using namespace std::chrono_literals;

Task<void> applyThenWaitForTheSave(Journal& journal)
{
    const TaskHandle save = spawn(noteAfter(journal, "saved", 200ms));
    co_await noteAfter(journal, "applied", 100ms);
    co_await save;
    journal.note(isCancelled() ? "waited for the save, cancelled" : "waited for the save");
}

TEST(CancellationTest, ReachesAwaitedTasksButNotSpawnedOnes)
{
    ManualExecutor executor;
    Journal journal(executor);
    const TaskHandle caller = spawn(applyThenWaitForTheSave(journal));
    executor.advance(50ms);
    caller.cancel();
    executor.advance(1h);
    EXPECT_EQ(journal.entries,
        (std::vector<std::string>{"applied cancelled at 50 ms", "saved at 200 ms",
            "waited for the save, cancelled at 200 ms"}));
}

Task<void> noteChecks(Journal& journal)
{
    journal.note("started");
    checkCancellation();
    journal.note("not cancelled");
    co_return;
}

TEST(CancellationTest, ATaskCancelledBeforeItStartsStopsAtItsFirstCheck)
{
    ManualExecutor executor;
    Journal journal(executor);
    std::optional<std::string> outcome;
    spawn(storeOutcome(noteChecks(journal), outcome)).cancel();
    executor.runUntilIdle();
    EXPECT_EQ(journal.entries, (std::vector<std::string>{"started at 0 ms"}));
    EXPECT_EQ(outcome, "cancelled");
}

TEST(CancellationTest, CodeOutsideTasksIsNeverCancelled)
{
    ManualExecutor executor;
    EXPECT_FALSE(isCancelled());
    EXPECT_NO_THROW(checkCancellation());
    EXPECT_FALSE(currentStopToken().stop_possible());
}

} // namespace
} // namespace quorvane
