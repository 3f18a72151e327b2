#include "ConcurrencyTestSupport.h"

#include "Concurrency/ManualExecutor.h"
#include "Concurrency/Saturating.h"
#include "Concurrency/Sleep.h"
#include "Concurrency/Spawn.h"

#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

namespace quorvane {
namespace {

using namespace std::chrono_literals;
using Entries = std::vector<std::string>;
using Ticks = ContinuousClock::duration;
using TimePoint = ContinuousClock::time_point;

TEST(ExecutorTest, AnErrorOtherThanCancellationEndingASpawnedTaskIsReportedWhenItEnds)
{
    const std::pair<Ending, Entries> cases[] = {
        {Ending::value, {}},
        {Ending::cancellation, {}},
        {Ending::error, {"No answer."}},
        {Ending::foreignThrow, {"an exception that is not a std::exception"}},
    };
    for (const auto& [ending, reported] : cases) {
        SCOPED_TRACE(static_cast<int>(ending));
        ManualExecutor executor;
        spawn(endAfter(ending, 10ms));
        executor.advance(9ms);
        EXPECT_TRUE(executor.takeEscapedErrors().empty());
        executor.advance(1ms);
        EXPECT_EQ(executor.takeEscapedErrors(), reported);
    }
}

TEST(ExecutorTest, AnEscapedErrorNoTestTookFailsTheTest)
{
    EXPECT_NONFATAL_FAILURE(
        {
            ManualExecutor executor;
            spawn(endAfter(Ending::error, 0ms));
            executor.runUntilIdle();
        },
        "No answer.");
}

/// An event loop's view of the queue: every wake-up asked for, and runs only when told to.
struct LoopHost final : Executor::Host {
    TimePoint now() const override { return time; }
    std::chrono::system_clock::time_point wallNow() const override { return {}; }
    void wakeAt(TimePoint deadline) override { wakeups.push_back(deadline); }

    TimePoint time;
    std::vector<TimePoint> wakeups;
};

class LoopExecutor final : public Executor {
public:
    LoopExecutor()
        : Executor(std::make_unique<LoopHost>())
    {
    }
    using Executor::runNextDue;
    LoopHost& loop() const { return static_cast<LoopHost&>(host()); }
};

TEST(ExecutorTest, AnEventLoopIsWokenForTheEarliestWorkAndRunsOnePieceAtATime)
{
    LoopExecutor executor;
    std::vector<TimePoint>& wakeups = executor.loop().wakeups;
    Entries ran;
    const TimePoint start{};
    executor.postAt(start + 50ms, [&] { ran.push_back("at 50"); });
    executor.postAt(start + 80ms, [&] { ran.push_back("at 80"); });
    executor.postAt(start + 20ms, [&] { ran.push_back("at 20"); });
    executor.post([&] { ran.push_back("now"); });
    EXPECT_EQ(wakeups, (std::vector<TimePoint>{start + 50ms, start + 20ms, start}));
    wakeups.clear();
    EXPECT_TRUE(executor.runNextDue());
    EXPECT_FALSE(executor.runNextDue()) << "ran work before its time";
    executor.loop().time = start + 50ms;
    EXPECT_TRUE(executor.runNextDue());
    EXPECT_TRUE(executor.runNextDue());
    EXPECT_EQ(ran, (Entries{"now", "at 20", "at 50"}));
    EXPECT_EQ(
        wakeups, (std::vector<TimePoint>{start + 20ms, start + 20ms, start + 50ms, start + 80ms}));
    executor.loop().time = start + 90ms;
    EXPECT_TRUE(executor.runNextDue());
    EXPECT_FALSE(executor.runNextDue());
    EXPECT_EQ(wakeups.size(), 4u) << "woken for an empty queue";
}

Task<void> destroyTheExecutor(std::unique_ptr<LoopExecutor>& owner, Journal& journal)
{
    owner.reset();
    journal.note("went on");
    co_return;
}

TEST(ExecutorTest, ATaskMayDestroyItsOwnExecutorAndItsFrameGoesOnceItSuspends)
{
    auto owner = std::make_unique<LoopExecutor>();
    LoopExecutor& executor = *owner;
    ManualExecutor other;
    Journal journal(other);
    const TaskHandle destroyer = spawn(executor, destroyTheExecutor(owner, journal));
    spawn(other, waitFor(destroyer, journal, "the waiter"));
    other.runUntilIdle();
    EXPECT_TRUE(executor.runNextDue());
    EXPECT_FALSE(owner);
    EXPECT_TRUE(destroyer.isFinished());
    other.runUntilIdle();
    EXPECT_EQ(journal.entries, (Entries{"went on at 0 ms", "the waiter resumed at 0 ms"}));
}

TEST(ExecutorTest, TheApplicationsHostWritesAnEscapedErrorToStandardError)
{
    LoopExecutor executor;
    spawn(executor, endAfter(Ending::error, 0ms));
    testing::internal::CaptureStderr();
    while (executor.runNextDue()) { }
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "A task ended with an error: No answer.\n");
}

TEST(ExecutorTest, TimeSaturatesAtTheEndsOfTheClock)
{
    const TimePoint last = TimePoint::max();
    const TimePoint first = TimePoint::min();
    EXPECT_EQ(saturatingAdd(last - 1ns, 2ns), last);
    EXPECT_EQ(saturatingAdd(first + 1ns, -2ns), first);
    EXPECT_EQ(saturatingAdd(last - 2ns, 1ns), last - 1ns);
    EXPECT_EQ(saturatingDifference(last, first), Ticks::max());
    EXPECT_EQ(saturatingDifference(first, last), Ticks::min());
    EXPECT_EQ(saturatingDifference(first + 5ns, first + 2ns), 3ns);
    using Milliseconds = std::chrono::duration<std::int64_t, std::milli>;
    EXPECT_EQ(saturatingDuration(Milliseconds(10'000'000'000'000)), Ticks::max());
    EXPECT_EQ(saturatingDuration(Milliseconds(-10'000'000'000'000)), Ticks::min());
    EXPECT_EQ(saturatingDuration(Milliseconds(9'223'372'036'854)), 9'223'372'036'854ms);
    EXPECT_EQ(saturatingDuration(std::chrono::hours::max()), Ticks::max());

    ManualExecutor executor;
    Journal journal(executor);
    executor.advance(1h);
    spawn(noteAfter(journal, "long", Ticks::max()));
    executor.advance(Ticks::max() - 2h);
    EXPECT_TRUE(journal.entries.empty()) << "a sleep past the end of the clock woke early";
    executor.advance(Ticks::max());
    EXPECT_EQ(executor.now(), last);
    EXPECT_EQ(journal.entries.size(), 1u);
}

Task<void> sleepThenNote(ContinuousClock::duration wait, bool& woke)
{
    co_await sleep(wait);
    woke = true;
}

TEST(ExecutorTest, SettingTheCalendarClockLeavesTheContinuousClockAndItsSleepers)
{
    ManualExecutor executor;
    bool woke = false;
    spawn(executor, sleepThenNote(15s, woke));
    executor.advance(1s);
    const TimePoint continuous = executor.now();
    const auto wall = executor.wallNow();
    executor.shiftWallClock(-1h);
    EXPECT_EQ(executor.wallNow(), wall - 1h);
    EXPECT_EQ(executor.now(), continuous);
    executor.advance(14s - 1ns);
    EXPECT_FALSE(woke);
    executor.advance(1ns);
    EXPECT_TRUE(woke);
    EXPECT_EQ(executor.wallNow(), wall - 1h + 14s);
}

} // namespace
} // namespace quorvane
