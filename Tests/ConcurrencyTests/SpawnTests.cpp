#include "ConcurrencyTestSupport.h"

#include "Concurrency/AsyncMutex.h"
#include "Concurrency/ManualExecutor.h"
#include "Concurrency/Spawn.h"

#include <gtest/gtest.h>

#include <memory>

namespace quorvane {
namespace {

using namespace std::chrono_literals;
using Entries = std::vector<std::string>;

Task<void> spawnAndNote(Journal& journal)
{
    spawn(noteAfter(journal, "child", 0ms));
    journal.note("parent goes on");
    co_return;
}

TEST(SpawnTest, QueuesTheTaskOnTheSpawningTasksExecutorNeverRunningItInline)
{
    ManualExecutor executor;
    Journal journal(executor);
    const ManualExecutor newer; // Current outside tasks, but not inside the parent.
    spawn(executor, spawnAndNote(journal));
    EXPECT_TRUE(journal.entries.empty());
    executor.runUntilIdle();
    EXPECT_EQ(journal.entries, (Entries{"parent goes on at 0 ms", "child at 0 ms"}));
}

enum class Ending { succeeds, fails, isCancelled };

Task<void> endAfter100ms(Ending ending)
{
    co_await sleep(100ms);
    if (ending == Ending::fails)
        throw Error("Display disconnected");
}

Task<void> waitFor(TaskHandle handle, Journal& journal, std::string name)
{
    co_await handle;
    journal.note(name + " resumed");
}

TEST(SpawnTest, EveryWaiterOnAHandleResumesWhateverTheOutcome)
{
    struct Case {
        std::string_view name;
        Ending ending;
        std::string finishedAt;
    };
    const Case cases[] = {
        {"success", Ending::succeeds, "at 100 ms"},
        {"error", Ending::fails, "at 100 ms"},
        {"cancellation", Ending::isCancelled, "at 40 ms"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ManualExecutor executor;
        Journal journal(executor);
        const TaskHandle handle = spawn(endAfter100ms(c.ending));
        spawn(waitFor(handle, journal, "first"));
        spawn(waitFor(handle, journal, "second"));
        executor.advance(40ms);
        if (c.ending == Ending::isCancelled)
            handle.cancel();
        executor.advance(60ms);
        spawn(waitFor(handle, journal, "late"));
        executor.runUntilIdle();
        EXPECT_EQ(journal.entries,
            (Entries{"first resumed " + c.finishedAt, "second resumed " + c.finishedAt,
                "late resumed at 100 ms"}));
        EXPECT_EQ(executor.takeEscapedErrors(),
            c.ending == Ending::fails ? Entries{"Display disconnected"} : Entries{});
    }
}

// Keeps the shared count up exactly as long as its frame lives.
Task<void> holding(std::shared_ptr<int>, Task<void> task) { co_await std::move(task); }

TEST(SpawnTest, ATaskOutlivesItsHandleAndIsFreedAtItsEnd)
{
    ManualExecutor executor;
    const auto token = std::make_shared<int>(0);
    spawn(holding(token, endAfter100ms(Ending::succeeds)));
    executor.advance(99ms);
    EXPECT_EQ(token.use_count(), 2);
    executor.advance(1ms);
    EXPECT_EQ(token.use_count(), 1);
}

Task<void> lockAndSleep(AsyncMutex& mutex)
{
    const auto lock = co_await mutex.lock();
    co_await sleep(1h);
}

TEST(SpawnTest, DestroyingTheExecutorFreesUnfinishedTasksWithoutRunningThem)
{
    const auto token = std::make_shared<int>(0);
    {
        ManualExecutor executor;
        Journal journal(executor);
        AsyncMutex mutex; // Goes first: a lock and a waiter may outlive their mutex.
        const TaskHandle holder = spawn(holding(token, lockAndSleep(mutex)));
        spawn(holding(token, lockAndSleep(mutex)));
        spawn(holding(token, waitFor(holder, journal, "waiter")));
        executor.runUntilIdle();
        spawn(holding(token, waitFor(holder, journal, "not started")));
        EXPECT_EQ(token.use_count(), 5);
    }
    EXPECT_EQ(token.use_count(), 1);
}

Task<void> applyThenWaitForTheSave(Journal& journal)
{
    const TaskHandle save = spawn(noteAfter(journal, "saved", 200ms));
    co_await noteAfter(journal, "applied", 100ms);
    co_await save;
    journal.note(isCancelled() ? "waited, still cancelled" : "waited");
}

TEST(SpawnTest, CancellationReachesAwaitedTasksButNotSpawnedOnes)
{
    ManualExecutor executor;
    Journal journal(executor);
    const TaskHandle caller = spawn(applyThenWaitForTheSave(journal));
    executor.advance(50ms);
    caller.cancel();
    executor.advance(1h);
    EXPECT_EQ(journal.entries,
        (Entries{
            "applied cancelled at 50 ms", "saved at 200 ms", "waited, still cancelled at 200 ms"}));
}

TEST(SpawnTest, ATaskCancelledBeforeItStartsStillStartsAndStopsAtItsFirstCheck)
{
    ManualExecutor executor;
    Journal journal(executor);
    spawn(noteAfter(journal, "sleep", 1h)).cancel();
    executor.runUntilIdle();
    EXPECT_EQ(journal.entries, (Entries{"sleep cancelled at 0 ms"}));
    EXPECT_FALSE(isCancelled()) << "code outside tasks is never cancelled";
}

} // namespace
} // namespace quorvane
