#include "ConcurrencyTestSupport.h"

#include "Concurrency/AsyncMutex.h"
#include "Concurrency/ManualExecutor.h"
#include "Concurrency/Spawn.h"

#include <gtest/gtest.h>

#include <memory>
#include <unordered_set>

namespace quorvane {
namespace {

using namespace std::chrono_literals;

Task<void> note(Journal& journal, std::string name)
{
    journal.note(name);
    co_return;
}

Task<void> spawnAndNote(Journal& journal)
{
    spawn(note(journal, "child"));
    journal.note("parent goes on");
    co_return;
}

TEST(SpawnTest, NeverRunsTheTaskInline)
{
    ManualExecutor executor;
    Journal journal(executor);
    spawn(spawnAndNote(journal));
    EXPECT_TRUE(journal.entries.empty());
    executor.runUntilIdle();
    EXPECT_EQ(
        journal.entries, (std::vector<std::string>{"parent goes on at 0 ms", "child at 0 ms"}));
}

Task<void> spawnWithoutNamingTheExecutor(Journal& journal)
{
    spawn(note(journal, "child"));
    co_return;
}

TEST(SpawnTest, ATaskSpawnsOntoItsOwnExecutorAndOthersOntoTheNewestExecutor)
{
    ManualExecutor older;
    Journal journal(older);
    {
        ManualExecutor newer;
        EXPECT_EQ(Executor::current(), &newer);
        spawn(older, spawnWithoutNamingTheExecutor(journal));
        older.runUntilIdle();
        newer.runUntilIdle();
        older.runUntilIdle();
    }
    EXPECT_EQ(journal.entries, (std::vector<std::string>{"child at 0 ms"}));
    EXPECT_EQ(Executor::current(), &older);
}

enum class Ending { succeeds, fails, isCancelled };

Task<void> endAfter(std::chrono::milliseconds pause, Ending ending)
{
    co_await sleep(pause);
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
        std::string_view finishedAt;
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
        const TaskHandle handle = spawn(endAfter(100ms, c.ending));
        spawn(waitFor(handle, journal, "first"));
        spawn(waitFor(handle, journal, "second"));
        executor.advance(40ms);
        if (c.ending == Ending::isCancelled)
            handle.cancel();
        executor.advance(60ms);
        EXPECT_TRUE(handle.isFinished());
        spawn(waitFor(handle, journal, "late"));
        executor.runUntilIdle();
        const std::string at(c.finishedAt);
        EXPECT_EQ(journal.entries,
            (std::vector<std::string>{
                "first resumed " + at, "second resumed " + at, "late resumed at 100 ms"}));
    }
}

Task<void> holdWhileSleeping(std::shared_ptr<int>, std::chrono::milliseconds pause)
{
    co_await sleep(pause);
}

TEST(SpawnTest, ATaskOutlivesItsHandleAndIsFreedAtItsEnd)
{
    ManualExecutor executor;
    const auto token = std::make_shared<int>(0);
    spawn(holdWhileSleeping(token, 100ms));
    executor.advance(99ms);
    EXPECT_EQ(token.use_count(), 2);
    executor.advance(1ms);
    EXPECT_EQ(token.use_count(), 1);
}

TEST(SpawnTest, HandlesAreEqualOnlyForTheSameTask)
{
    ManualExecutor executor;
    const TaskHandle first = spawn(endAfter(1ms, Ending::succeeds));
    const TaskHandle second = spawn(endAfter(1ms, Ending::succeeds));
    const TaskHandle copy = first;
    EXPECT_EQ(copy, first);
    EXPECT_NE(first, second);
    EXPECT_EQ((std::unordered_set<TaskHandle>{first, second, copy}).size(), 2u);
}

Task<void> lockAndSleep(AsyncMutex& mutex, std::shared_ptr<int>, std::chrono::milliseconds pause)
{
    const auto lock = co_await mutex.lock();
    co_await sleep(pause);
}

Task<void> awaitHandle(TaskHandle handle, std::shared_ptr<int>) { co_await handle; }

TEST(SpawnTest, DestroyingTheExecutorFreesUnfinishedTasksWithoutRunningThem)
{
    AsyncMutex mutex;
    const auto token = std::make_shared<int>(0);
    {
        ManualExecutor executor;
        const TaskHandle sleeper = spawn(holdWhileSleeping(token, 1h));
        spawn(lockAndSleep(mutex, token, 1h));
        spawn(lockAndSleep(mutex, token, 1h));
        spawn(awaitHandle(sleeper, token));
        executor.runUntilIdle();
        spawn(holdWhileSleeping(token, 0ms));
        EXPECT_EQ(token.use_count(), 6);
    }
    EXPECT_EQ(token.use_count(), 1);
    EXPECT_FALSE(mutex.isLocked());
}

TEST(SpawnTest, ALockHeldAtTheExecutorsEndMayOutliveItsMutex)
{
    ManualExecutor executor;
    const auto token = std::make_shared<int>(0);
    {
        AsyncMutex mutex;
        spawn(lockAndSleep(mutex, token, 1h));
        spawn(lockAndSleep(mutex, token, 1h));
        executor.runUntilIdle();
    }
    // The executor goes last and destroys both frames, the lock and the waiter with them.
}

} // namespace
} // namespace quorvane
