#include "ConcurrencyTestSupport.h"

#include "Concurrency/AsyncMutex.h"
#include "Concurrency/ManualExecutor.h"
#include "Concurrency/Spawn.h"

#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

namespace quorvane {
namespace {

using namespace std::chrono_literals;
using Entries = std::vector<std::string>;

// Arriving at 0 ms asks at once: no sleep first that a cancelled task would throw from.
Task<void> useMutex(AsyncMutex& mutex, Journal& journal, std::string name,
    std::chrono::milliseconds arrival, std::chrono::milliseconds holding)
{
    try {
        if (arrival > 0ms)
            co_await sleep(arrival);
        const auto lock = co_await mutex.lock();
        journal.note(name + " locked");
        co_await sleep(holding);
    } catch (const CancellationError&) {
        journal.note(name + " cancelled");
    }
}

TEST(AsyncMutexTest, WaitersGetItInArrivalOrderAndACancelledWaiterNeverLosesIt)
{
    // When B is cancelled, if at all, and what happens.
    const std::tuple<std::string_view, std::optional<std::chrono::milliseconds>, Entries> cases[]
        = {
            {"nobody cancelled", std::nullopt,
                {"A locked at 0 ms", "B locked at 100 ms", "C locked at 110 ms",
                    "D locked at 120 ms"}},
            {"B cancelled while queued", 50ms,
                {"A locked at 0 ms", "B cancelled at 50 ms", "C locked at 100 ms",
                    "D locked at 110 ms"}},
            // The unlock has handed B the mutex but B has not resumed yet: B holds it.
            {"B cancelled after the hand-off", 100ms,
                {"A locked at 0 ms", "B locked at 100 ms", "B cancelled at 100 ms",
                    "C locked at 100 ms", "D locked at 110 ms"}},
        };
    for (const auto& [name, cancelBAt, entries] : cases) {
        SCOPED_TRACE(name);
        ManualExecutor executor;
        Journal journal(executor);
        AsyncMutex mutex;
        spawn(useMutex(mutex, journal, "A", 0ms, 100ms));
        const TaskHandle b = spawn(useMutex(mutex, journal, "B", 10ms, 10ms));
        spawn(useMutex(mutex, journal, "C", 20ms, 10ms));
        executor.runUntilIdle();
        if (cancelBAt)
            executor.postAt(executor.now() + *cancelBAt, [&b] { b.cancel(); });
        executor.advance(1ms);
        // D's timer queues behind A's, so D asks after A's unlock, before the next holder resumes.
        spawn(useMutex(mutex, journal, "D", 99ms, 10ms));
        executor.advance(1h);
        EXPECT_EQ(journal.entries, entries);
        EXPECT_FALSE(mutex.isLocked());
    }
}

TEST(AsyncMutexTest, CancelledWaitersLeaveTheQueueWhereverTheyStand)
{
    // A holds it until 100 ms; B, C and D queue at 10, 20 and 30 ms; the cancellations come at
    // 50 ms, and E queues at 60 ms behind whoever is left.
    const std::pair<Entries, Entries> cases[] = {
        {{"C"}, {"A", "B", "D", "E"}},
        {{"D"}, {"A", "B", "C", "E"}},
        {{"B", "D"}, {"A", "C", "E"}},
        {{"D", "C", "B"}, {"A", "E"}},
    };
    for (const auto& [cancelled, expected] : cases) {
        SCOPED_TRACE(testing::PrintToString(cancelled));
        ManualExecutor executor;
        Journal journal(executor);
        AsyncMutex mutex;
        std::map<std::string, TaskHandle> tasks;
        std::chrono::milliseconds arrival = 0ms;
        for (const std::string name : {"A", "B", "C", "D"}) {
            tasks.emplace(name, spawn(useMutex(mutex, journal, name, arrival, 100ms)));
            arrival += 10ms;
        }
        spawn(useMutex(mutex, journal, "E", 60ms, 100ms));
        executor.advance(50ms);
        for (const std::string& name : cancelled)
            tasks.at(name).cancel();
        executor.advance(1h);
        Entries locked;
        for (const std::string& entry : journal.entries) {
            if (entry.find(" locked at ") != std::string::npos)
                locked.push_back(entry.substr(0, 1));
        }
        EXPECT_EQ(locked, expected);
        EXPECT_FALSE(mutex.isLocked());
    }
}

TEST(AsyncMutexTest, WaitersDestroyedWithTheirExecutorLeaveTheQueue)
{
    AsyncMutex mutex;
    {
        ManualExecutor executor;
        Journal journal(executor);
        for (const std::string name : {"A", "B", "C"})
            spawn(useMutex(mutex, journal, name, 0ms, 100ms));
        executor.runUntilIdle();
    }
    ManualExecutor executor;
    Journal journal(executor);
    spawn(executor, useMutex(mutex, journal, "D", 0ms, 10ms));
    executor.runUntilIdle();
    EXPECT_EQ(journal.entries, (Entries{"D locked at 0 ms"}));
}

// Holds both mutexes, then moves the second lock over the first: what each mutex says then.
Task<void> reassignLock(AsyncMutex& first, AsyncMutex& second, std::vector<bool>& areLocked)
{
    auto lock = co_await first.lock();
    auto otherLock = co_await second.lock();
    lock = std::move(otherLock);
    areLocked = {first.isLocked(), second.isLocked()};
}

TEST(AsyncMutexTest, AssigningALockLetsGoOfTheMutexItHeld)
{
    AsyncMutex first;
    AsyncMutex second;
    std::vector<bool> areLocked;
    runToEnd(reassignLock(first, second, areLocked));
    EXPECT_EQ(areLocked, (std::vector<bool>{false, true}));
    EXPECT_FALSE(second.isLocked());
}

// A task cancelled before it starts still starts, and stops at its first check.
TEST(AsyncMutexTest, ATaskCancelledBeforeItAsksDoesNotTakeAFreeMutex)
{
    ManualExecutor executor;
    Journal journal(executor);
    AsyncMutex mutex;
    spawn(useMutex(mutex, journal, "A", 0ms, 10ms)).cancel();
    spawn(useMutex(mutex, journal, "B", 0ms, 10ms));
    executor.runUntilIdle();
    EXPECT_EQ(journal.entries, (Entries{"A cancelled at 0 ms", "B locked at 0 ms"}));
    EXPECT_FALSE(isCancelled()) << "code outside tasks is never cancelled";
}

} // namespace
} // namespace quorvane
