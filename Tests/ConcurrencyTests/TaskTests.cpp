#include "ConcurrencyTestSupport.h"

#include "Concurrency/ManualExecutor.h"
#include "Concurrency/Spawn.h"
#include "Concurrency/Task.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>

namespace quorvane {
namespace {

using namespace std::chrono_literals;

enum class Outcome { succeeds, fails };

Task<int> produce(int value, std::chrono::milliseconds pause, Outcome outcome)
{
    if (pause > 0ms)
        co_await sleep(pause);
    if (outcome == Outcome::fails)
        throw Error("The monitor did not answer.");
    co_return value;
}

Task<int> relay(Task<int> inner, int levels)
{
    if (levels == 0)
        co_return co_await std::move(inner);
    co_return co_await relay(std::move(inner), levels - 1);
}

Task<void> describe(Task<int> task, std::string& description)
{
    try {
        description = std::to_string(co_await std::move(task));
    } catch (const Error& error) {
        description = error.what();
    }
}

TEST(TaskTest, ValuesAndErrorsCrossEveryAwait)
{
    struct Case {
        std::string_view name;
        std::chrono::milliseconds pause;
        Outcome outcome;
        std::string_view description;
    };
    const Case cases[] = {
        {"value at once", 0ms, Outcome::succeeds, "7"},
        {"value after a sleep", 5ms, Outcome::succeeds, "7"},
        {"error at once", 0ms, Outcome::fails, "The monitor did not answer."},
        {"error after a sleep", 5ms, Outcome::fails, "The monitor did not answer."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ManualExecutor executor;
        std::string description;
        spawn(describe(relay(produce(7, c.pause, c.outcome), 3), description));
        executor.advance(c.pause);
        EXPECT_EQ(description, c.description);
    }
}

Task<void> markStarted(bool& started)
{
    started = true;
    co_return;
}

Task<void> awaitLater(Task<void> task, std::optional<std::string>& outcome)
{
    co_await sleep(10ms);
    co_await storeOutcome(std::move(task), outcome);
}

TEST(TaskTest, DoesNotStartUntilAwaited)
{
    ManualExecutor executor;
    bool started = false;
    std::optional<std::string> outcome;
    Task<void> task = markStarted(started);
    spawn(awaitLater(std::move(task), outcome));
    executor.advance(9ms);
    EXPECT_FALSE(started);
    executor.advance(1ms);
    EXPECT_TRUE(started);
    EXPECT_EQ(outcome, "done");
}

Task<std::unique_ptr<int>> makeUnique(int value) { co_return std::make_unique<int>(value); }

TEST(TaskTest, MoveOnlyValuesAreMovedOut)
{
    ManualExecutor executor;
    std::optional<std::unique_ptr<int>> result;
    spawn(store(makeUnique(3), result));
    executor.runUntilIdle();
    ASSERT_TRUE(result && *result);
    EXPECT_EQ(**result, 3);
}

Task<void> holdUntilAwaited(std::shared_ptr<int>) { co_return; }

TEST(TaskTest, DestroyingATaskThatNeverRanFreesItsFrame)
{
    const auto token = std::make_shared<int>(0);
    {
        const Task<void> task = holdUntilAwaited(token);
        EXPECT_EQ(token.use_count(), 2);
    }
    EXPECT_EQ(token.use_count(), 1);
}

// The frame address of a plain function: coroutine locals live on the heap, so only a call
// shows how deep the machine stack is.
[[gnu::noinline]] std::uintptr_t stackDepthMarker()
{
    return reinterpret_cast<std::uintptr_t>(__builtin_frame_address(0));
}

std::uintptr_t distance(std::uintptr_t first, std::uintptr_t second)
{
    return first > second ? first - second : second - first;
}

Task<int> nest(int remaining, std::uintptr_t& innermostStack)
{
    if (remaining == 0) {
        innermostStack = stackDepthMarker();
        co_return 0;
    }
    co_return 1 + co_await nest(remaining - 1, innermostStack);
}

Task<void> measureNesting(int depth, std::uintptr_t& outermostStack, std::uintptr_t& innermostStack,
    std::optional<int>& result)
{
    outermostStack = stackDepthMarker();
    result = co_await nest(depth, innermostStack);
}

constexpr std::uintptr_t flatStackAllowance = 64 * 1024;

TEST(TaskTest, TenThousandNestedAwaitsKeepTheStackFlat)
{
    ManualExecutor executor;
    std::uintptr_t outermostStack = 0;
    std::uintptr_t innermostStack = 0;
    std::optional<int> result;
    spawn(measureNesting(10'000, outermostStack, innermostStack, result));
    executor.runUntilIdle();
    EXPECT_EQ(result, 10'000);
    EXPECT_LT(distance(outermostStack, innermostStack), flatStackAllowance);
}

Task<int> one() { co_return 1; }

Task<void> countSynchronousAwaits(int count, std::uintptr_t& spread, std::optional<int>& result)
{
    const std::uintptr_t start = stackDepthMarker();
    int sum = 0;
    for (int index = 0; index < count; ++index) {
        sum += co_await one();
        spread = std::max(spread, distance(start, stackDepthMarker()));
    }
    result = sum;
}

TEST(TaskTest, AHundredThousandAwaitsInALoopKeepTheStackFlat)
{
    ManualExecutor executor;
    std::uintptr_t spread = 0;
    std::optional<int> result;
    spawn(countSynchronousAwaits(100'000, spread, result));
    executor.runUntilIdle();
    EXPECT_EQ(result, 100'000);
    EXPECT_LT(spread, flatStackAllowance);
}

} // namespace
} // namespace quorvane
