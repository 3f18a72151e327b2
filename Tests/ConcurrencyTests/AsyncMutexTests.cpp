#include "ConcurrencyTestSupport.h"

#include "Concurrency/AsyncMutex.h"
#include "Concurrency/ManualExecutor.h"
#include "Concurrency/Spawn.h"

#include <gtest/gtest.h>

namespace quorvane {
namespace {

using namespace std::chrono_literals;

Task<void> useMutex(AsyncMutex& mutex, Journal& journal, std::string name,
    std::chrono::milliseconds arrival, std::chrono::milliseconds holding)
{
    try {
        co_await sleep(arrival);
        journal.note(name + " asks");
        {
            const auto lock = co_await mutex.lock();
            journal.note(name + " locked");
            co_await sleep(holding);
        }
        journal.note(name + " released");
    } catch (const CancellationError&) {
        journal.note(name + " cancelled");
    }
}

TEST(AsyncMutexTest, WaitersGetItInArrivalOrderAndNoNewcomerOvertakesTheHandOff)
{
    ManualExecutor executor;
    Journal journal(executor);
    AsyncMutex mutex;
    spawn(useMutex(mutex, journal, "A", 0ms, 100ms));
    spawn(useMutex(mutex, journal, "B", 10ms, 10ms));
    spawn(useMutex(mutex, journal, "C", 20ms, 10ms));
    executor.advance(1ms);
    // E's timer queues behind A's, so E asks after A's unlock and before B has resumed.
    spawn(useMutex(mutex, journal, "E", 99ms, 10ms));
    executor.advance(1h);
    EXPECT_EQ(journal.entries,
        (std::vector<std::string>{"A asks at 0 ms", "A locked at 0 ms", "B asks at 10 ms",
            "C asks at 20 ms", "A released at 100 ms", "E asks at 100 ms", "B locked at 100 ms",
            "B released at 110 ms", "C locked at 110 ms", "C released at 120 ms",
            "E locked at 120 ms", "E released at 130 ms"}));
    EXPECT_FALSE(mutex.isLocked());
}

TEST(AsyncMutexTest, CancellingAWaiterNeverLosesTheMutex)
{
    struct Case {
        std::string_view name;
        std::chrono::milliseconds cancelAt;
        std::vector<std::string> entries;
    };
    const Case cases[] = {
        {"while queued", 50ms,
            {"A asks at 0 ms", "A locked at 0 ms", "B asks at 10 ms", "C asks at 20 ms",
                "B cancelled at 50 ms", "A released at 100 ms", "C locked at 100 ms",
                "C released at 110 ms"}},
        // Cancelled after the unlock handed B the mutex but before B resumed: B holds it.
        {"after the hand-off", 100ms,
            {"A asks at 0 ms", "A locked at 0 ms", "B asks at 10 ms", "C asks at 20 ms",
                "A released at 100 ms", "B locked at 100 ms", "B cancelled at 100 ms",
                "C locked at 100 ms", "C released at 110 ms"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ManualExecutor executor;
        Journal journal(executor);
        AsyncMutex mutex;
        spawn(useMutex(mutex, journal, "A", 0ms, 100ms));
        const TaskHandle waiter = spawn(useMutex(mutex, journal, "B", 10ms, 10ms));
        spawn(useMutex(mutex, journal, "C", 20ms, 10ms));
        executor.runUntilIdle();
        executor.postAt(executor.now() + c.cancelAt, [&] { waiter.cancel(); });
        executor.advance(1h);
        EXPECT_EQ(journal.entries, c.entries);
        EXPECT_FALSE(mutex.isLocked());
    }
}

Task<void> lockAtOnce(AsyncMutex& mutex, Journal& journal)
{
    try {
        const auto lock = co_await mutex.lock();
        journal.note("locked");
    } catch (const CancellationError&) {
        journal.note("cancelled");
    }
}

TEST(AsyncMutexTest, ACancelledTaskDoesNotTakeAFreeMutex)
{
    ManualExecutor executor;
    Journal journal(executor);
    AsyncMutex mutex;
    spawn(lockAtOnce(mutex, journal)).cancel();
    spawn(lockAtOnce(mutex, journal));
    executor.runUntilIdle();
    EXPECT_EQ(journal.entries, (std::vector<std::string>{"cancelled at 0 ms", "locked at 0 ms"}));
}

} // namespace
} // namespace quorvane
