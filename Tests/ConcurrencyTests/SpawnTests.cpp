#include "ConcurrencyTestSupport.h"

#include "Concurrency/AsyncMutex.h"
#include "Concurrency/ManualExecutor.h"
#include "Concurrency/Spawn.h"

#include <gtest/gtest.h>

#include <memory>
#include <stop_token>

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

TEST(SpawnTest, EveryWaiterOnAHandleResumesWhateverTheOutcome)
{
    const std::pair<Ending, std::string> cases[] = {
        {Ending::value, "at 100 ms"},
        {Ending::error, "at 100 ms"},
        {Ending::cancellation, "at 40 ms"},
    };
    for (const auto& [ending, finishedAt] : cases) {
        SCOPED_TRACE(static_cast<int>(ending));
        ManualExecutor executor;
        Journal journal(executor);
        // Cancelled from outside at 40 ms, not by throwing at its end.
        const bool isCancelled = ending == Ending::cancellation;
        const TaskHandle handle = spawn(endAfter(isCancelled ? Ending::value : ending, 100ms));
        spawn(waitFor(handle, journal, "first"));
        spawn(waitFor(handle, journal, "second"));
        executor.advance(40ms);
        if (isCancelled)
            handle.cancel();
        executor.advance(60ms);
        spawn(waitFor(handle, journal, "late"));
        executor.runUntilIdle();
        EXPECT_EQ(journal.entries,
            (Entries{"first resumed " + finishedAt, "second resumed " + finishedAt,
                "late resumed at 100 ms"}));
        EXPECT_EQ(executor.takeEscapedErrors(),
            ending == Ending::error ? Entries{"No answer."} : Entries{});
    }
}

// Keeps the shared count up exactly as long as its frame lives.
template <typename T> Task<void> holding(std::shared_ptr<int>, Task<T> task)
{
    co_await std::move(task);
}

Task<void> keepStopToken(std::stop_token& token)
{
    token = currentStopToken();
    co_return;
}

TEST(SpawnTest, ATaskOutlivesItsHandleAndIsFreedAtItsEnd)
{
    ManualExecutor executor;
    const auto token = std::make_shared<int>(0);
    spawn(holding(token, endAfter(Ending::value, 100ms)));
    executor.advance(99ms);
    EXPECT_EQ(token.use_count(), 2);
    executor.advance(1ms);
    EXPECT_EQ(token.use_count(), 1);
    // Its state too, not only its frame: the stop token outlives the task's stop source.
    std::stop_token stopToken;
    spawn(keepStopToken(stopToken));
    executor.runUntilIdle();
    EXPECT_FALSE(stopToken.stop_possible()) << "the executor kept a finished task";
}

Task<void> lockAndSleep(AsyncMutex& mutex)
{
    const auto lock = co_await mutex.lock();
    co_await sleep(1h);
}

Task<void> keep(std::shared_ptr<int>) { co_return; }

/// Spawns a task when its frame is destroyed, as a destructor that starts a clean-up might.
struct SpawnsWhenDestroyed {
    std::shared_ptr<int> token;
    ~SpawnsWhenDestroyed() { spawn(keep(token)); }
};

Task<void> sleepThenSpawnWhenDestroyed(std::shared_ptr<int> token)
{
    const SpawnsWhenDestroyed guard{std::move(token)};
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
        // A task spawned while the executor is destroyed is freed without running too.
        spawn(sleepThenSpawnWhenDestroyed(token));
        executor.runUntilIdle();
        spawn(holding(token, waitFor(holder, journal, "not started")));
        EXPECT_EQ(token.use_count(), 6);
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

} // namespace
} // namespace quorvane
