#include "ConcurrencyTestSupport.h"

#include "Concurrency/AsyncMutex.h"
#include "Concurrency/ManualExecutor.h"
#include "Concurrency/Spawn.h"

#include <gtest/gtest.h>

#include <optional>

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
    struct Case {
        std::string_view name;
        std::optional<std::chrono::milliseconds> cancelBAt;
        Entries entries;
    };
    const Case cases[] = {
        {"nobody cancelled", std::nullopt,
            {"A locked at 0 ms", "B locked at 100 ms", "C locked at 110 ms", "D locked at 120 ms"}},
        {"B cancelled while queued", 50ms,
            {"A locked at 0 ms", "B cancelled at 50 ms", "C locked at 100 ms",
                "D locked at 110 ms"}},
        // The unlock has handed B the mutex but B has not resumed yet: B holds it.
        {"B cancelled after the hand-off", 100ms,
            {"A locked at 0 ms", "B locked at 100 ms", "B cancelled at 100 ms",
                "C locked at 100 ms", "D locked at 110 ms"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ManualExecutor executor;
        Journal journal(executor);
        AsyncMutex mutex;
        spawn(useMutex(mutex, journal, "A", 0ms, 100ms));
        const TaskHandle b = spawn(useMutex(mutex, journal, "B", 10ms, 10ms));
        spawn(useMutex(mutex, journal, "C", 20ms, 10ms));
        executor.runUntilIdle();
        if (c.cancelBAt)
            executor.postAt(executor.now() + *c.cancelBAt, [&] { b.cancel(); });
        executor.advance(1ms);
        // D's timer queues behind A's, so D asks after A's unlock, before the next holder resumes.
        spawn(useMutex(mutex, journal, "D", 99ms, 10ms));
        executor.advance(1h);
        EXPECT_EQ(journal.entries, c.entries);
        EXPECT_FALSE(mutex.isLocked());
    }
}

TEST(AsyncMutexTest, ATaskCancelledBeforeItAsksDoesNotTakeAFreeMutex)
{
    ManualExecutor executor;
    Journal journal(executor);
    AsyncMutex mutex;
    spawn(useMutex(mutex, journal, "A", 0ms, 10ms)).cancel();
    spawn(useMutex(mutex, journal, "B", 0ms, 10ms));
    executor.runUntilIdle();
    EXPECT_EQ(journal.entries, (Entries{"A cancelled at 0 ms", "B locked at 0 ms"}));
}

} // namespace
} // namespace quorvane
