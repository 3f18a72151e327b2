#include "ConcurrencyTestSupport.h"

#include "Concurrency/ManualExecutor.h"
#include "Concurrency/Sleep.h"
#include "Concurrency/Spawn.h"
#include "Concurrency/Task.h"
#include "Concurrency/Yield.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <vector>

namespace quorvane {
namespace {

using namespace std::chrono_literals;
using Depths = std::vector<std::uintptr_t>;
using Entries = std::vector<std::string>;

// The frame address of a plain function: coroutine locals live on the heap, so only a call
// shows how deep the machine stack is.
[[gnu::noinline]] std::uintptr_t stackDepth()
{
    return reinterpret_cast<std::uintptr_t>(__builtin_frame_address(0));
}

enum class Outcome { succeeds, fails };

Task<int> produce(std::chrono::milliseconds pause, Outcome outcome, Depths& depths)
{
    depths.push_back(stackDepth());
    if (pause > 0ms)
        co_await sleep(pause);
    if (outcome == Outcome::fails)
        throw Error("The monitor did not answer.");
    co_return 7;
}

Task<int> relay(Task<int> inner, int levels)
{
    if (levels == 0)
        co_return co_await std::move(inner);
    co_return co_await relay(std::move(inner), levels - 1);
}

// Measures the stack before the chain starts and after it has ended; produce() at its bottom.
Task<void> describe(Task<int> task, std::string& description, Depths& depths)
{
    depths.push_back(stackDepth());
    try {
        description = std::to_string(co_await std::move(task));
    } catch (const Error& error) {
        description = error.what();
    }
    depths.push_back(stackDepth());
}

TEST(TaskTest, ValuesAndErrorsCrossTenThousandNestedAwaitsOnAFlatStack)
{
    // At once or after a sleep, a value or an error.
    for (const auto& [pause, outcome] : {std::pair{0ms, Outcome::succeeds},
             {5ms, Outcome::succeeds}, {0ms, Outcome::fails}, {5ms, Outcome::fails}}) {
        SCOPED_TRACE(
            std::to_string(pause.count()) + (outcome == Outcome::fails ? " ms, error" : " ms"));
        ManualExecutor executor;
        std::string description;
        Depths depths;
        spawn(describe(relay(produce(pause, outcome, depths), 10'000), description, depths));
        executor.advance(pause);
        EXPECT_EQ(description, outcome == Outcome::succeeds ? "7" : "The monitor did not answer.");
        const auto [shallowest, deepest] = std::ranges::minmax(depths);
        EXPECT_LT(deepest - shallowest, 64u * 1024);
    }
}

Task<void> markStarted(bool& started, std::shared_ptr<int>)
{
    started = true;
    co_return;
}

TEST(TaskTest, ATaskNeverAwaitedNeverRunsAndFreesItsFrame)
{
    bool started = false;
    const auto token = std::make_shared<int>(0);
    {
        const Task<void> task = markStarted(started, token);
        EXPECT_EQ(token.use_count(), 2);
    }
    EXPECT_FALSE(started);
    EXPECT_EQ(token.use_count(), 1);
}

TEST(TaskTest, SleepResumesWhenItsTimeHasComeNotBeforeInTheOrderTheSleepsBegan)
{
    ManualExecutor executor;
    Journal journal(executor);
    spawn(noteAfter(journal, "a", 100ms));
    spawn(noteAfter(journal, "b", 100ms));
    spawn(noteAfter(journal, "negative", -1h));
    executor.advance(99ms);
    EXPECT_EQ(journal.entries, (Entries{"negative at 0 ms"}));
    executor.advance(1ms);
    EXPECT_EQ(journal.entries, (Entries{"negative at 0 ms", "a at 100 ms", "b at 100 ms"}));
}

Task<void> sleepThenWaitFor(TaskHandle other, Journal& journal)
{
    co_await noteAfter(journal, "sleep", 100ms);
    co_await other;
    journal.note("waited");
}

TEST(TaskTest, CancellationEndsASleepAtOnceAndItsTimerLaterDoesNothing)
{
    ManualExecutor executor;
    Journal journal(executor);
    const TaskHandle other = spawn(noteAfter(journal, "other", 200ms));
    const TaskHandle sleeper = spawn(sleepThenWaitFor(other, journal));
    executor.advance(30ms);
    sleeper.cancel();
    EXPECT_TRUE(journal.entries.empty()) << "resumed inside cancel()";
    // Had the timer resumed the task at 100 ms, it would have cut short the wait for `other`.
    executor.advance(1h);
    EXPECT_EQ(journal.entries,
        (Entries{"sleep cancelled at 30 ms", "other at 200 ms", "waited at 200 ms"}));
}

Task<void> noteAroundYields(Journal& journal, std::string name)
{
    journal.note(name + "1");
    co_await yield();
    journal.note(name + "2");
}

TEST(TaskTest, YieldResumesBehindWorkAlreadyQueued)
{
    ManualExecutor executor;
    Journal journal(executor);
    spawn(noteAroundYields(journal, "a"));
    spawn(noteAroundYields(journal, "b"));
    executor.post([&] { journal.note("posted"); });
    executor.runUntilIdle();
    EXPECT_EQ(journal.entries,
        (Entries{"a1 at 0 ms", "b1 at 0 ms", "posted at 0 ms", "a2 at 0 ms", "b2 at 0 ms"}));
}

} // namespace
} // namespace quorvane
