#include "Concurrency/DelayedCall.h"
#include "Concurrency/ManualExecutor.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace quorvane {
namespace {

using namespace std::chrono_literals;

TEST(DelayedCallTest, RunsOnceWhenDueUnlessCancelledReplacedOrGone)
{
    ManualExecutor executor;
    std::vector<std::string> calls;
    DelayedCall call;
    call.start(executor, 50ms, [&] { calls.push_back("first"); });
    executor.advance(49ms);
    EXPECT_TRUE(calls.empty());
    EXPECT_TRUE(call.isPending());
    executor.advance(1ms);
    EXPECT_EQ(calls, std::vector<std::string>{"first"});
    EXPECT_FALSE(call.isPending()) << "no longer pending once it ran";

    call.start(executor, 50ms, [&] { calls.push_back("replaced"); });
    call.start(executor, 100ms, [&] { calls.push_back("replacing"); });
    executor.advance(60ms);
    EXPECT_EQ(calls.size(), 1U) << "a replaced call never runs";
    executor.advance(40ms);
    EXPECT_EQ(calls.back(), "replacing");

    call.start(executor, 10ms, [&] { calls.push_back("cancelled"); });
    call.cancel();
    EXPECT_FALSE(call.isPending());
    {
        std::optional<DelayedCall> gone(std::in_place);
        gone->start(executor, 10ms, [&] { calls.push_back("gone"); });
    }
    executor.advance(1s);
    EXPECT_EQ(calls, (std::vector<std::string>{"first", "replacing"}));
}

TEST(DelayedCallTest, ACallMayStartItselfAgain)
{
    ManualExecutor executor;
    int steps = 0;
    DelayedCall call;
    std::function<void()> step = [&] {
        if (++steps < 3)
            call.start(executor, 10ms, step);
    };
    call.start(executor, 10ms, step);
    executor.advance(25ms);
    EXPECT_EQ(steps, 2);
    EXPECT_TRUE(call.isPending());
    executor.advance(5ms);
    EXPECT_EQ(steps, 3);
    EXPECT_FALSE(call.isPending());
}

} // namespace
} // namespace quorvane
