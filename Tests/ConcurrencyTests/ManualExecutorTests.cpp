#include "Concurrency/ManualExecutor.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace quorvane {
namespace {

using namespace std::chrono_literals;

std::chrono::milliseconds elapsed(const ManualExecutor& executor)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(executor.now().time_since_epoch());
}

TEST(ManualExecutorTest, AdvanceRunsWorkPostedMeanwhileInTimeOrderAndStopsAtTheTarget)
{
    ManualExecutor executor;
    std::vector<std::chrono::milliseconds> ranAt;
    const auto record = [&] { ranAt.push_back(elapsed(executor)); };
    executor.postAt(executor.now() + 10ms, [&] {
        record();
        executor.postAt(executor.now() + 50ms, record);
        executor.postAt(executor.now() + 5ms, record);
        executor.post(record);
    });
    executor.advance(20ms);
    EXPECT_EQ(ranAt, (std::vector<std::chrono::milliseconds>{10ms, 10ms, 15ms}));
    EXPECT_EQ(elapsed(executor), 20ms);
    executor.advance(40ms);
    EXPECT_EQ(ranAt.size(), 4u);
}

TEST(ManualExecutorTest, RunUntilIdleRunsOnlyWhatIsDueWithoutMovingTime)
{
    ManualExecutor executor;
    std::vector<std::string> ran;
    executor.postAt(executor.now() + 1ns, [&] { ran.push_back("later"); });
    executor.post([&] { ran.push_back("first"); });
    executor.postAt(executor.now() - 1h, [&] { ran.push_back("past"); });
    executor.runUntilIdle();
    EXPECT_EQ(ran, (std::vector<std::string>{"first", "past"}));
    EXPECT_EQ(executor.now().time_since_epoch(), 0ns);
}

TEST(ManualExecutorTest, WallTimeStartsWhereTheTestSaysAndMovesWithTheContinuousClock)
{
    const auto start = std::chrono::sys_days(std::chrono::year(2024) / 2 / 29) + 23h;
    ManualExecutor executor(start);
    const auto continuousStart = executor.now();
    executor.advance(90min);
    EXPECT_EQ(executor.wallNow(), start + 90min);
    EXPECT_EQ(executor.now(), continuousStart + 90min);
}

TEST(ManualExecutorTest, TheNewestLiveExecutorIsCurrentWhateverOrderTheyDieIn)
{
    ManualExecutor first;
    auto second = std::make_unique<ManualExecutor>();
    auto third = std::make_unique<ManualExecutor>();
    EXPECT_EQ(Executor::current(), third.get());
    second.reset();
    EXPECT_EQ(Executor::current(), third.get());
    third.reset();
    EXPECT_EQ(Executor::current(), &first);
}

} // namespace
} // namespace quorvane
