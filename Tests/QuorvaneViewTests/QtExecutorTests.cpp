#include "Quorvane/Views/QtExecutor.h"

#include "Concurrency/Elsewhere.h"
#include "Concurrency/Sleep.h"
#include "Concurrency/Spawn.h"
#include "Foundation/Error.h"
#include "QuorvaneViewTests/ViewTestSupport.h"

#include <QAbstractEventDispatcher>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QTimer>

#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace quorvane {
namespace {

using namespace std::chrono_literals;

Task<void> sleepThenRecord(ContinuousClock::duration duration, std::string name,
    std::vector<std::string>& order, ContinuousClock::time_point& wokeAt)
{
    co_await sleep(duration);
    wokeAt = ContinuousClock::now();
    order.push_back(std::move(name));
}

Task<void> fail()
{
    throw Error("The display went away.");
    co_return;
}

/// Runs a piece elsewhere; notes the threads it ran and resumed on.
Task<void> workElsewhere(std::thread::id& workedOn, std::thread::id& resumedOn)
{
    workedOn = co_await runElsewhere([] { return std::this_thread::get_id(); });
    resumedOn = std::this_thread::get_id();
}

class QtExecutorTest : public ::testing::Test {
protected:
    QtExecutorTest() { testApplication(); }
    QtExecutor executor;
};

TEST_F(QtExecutorTest, PostedWorkRunsFromTheEventLoopInPostingOrder)
{
    std::vector<int> order;
    for (int piece = 0; piece < 3; ++piece)
        executor.post([&order, piece] { order.push_back(piece); });
    EXPECT_TRUE(order.empty()) << "never inline";
    ASSERT_TRUE(runEventLoopUntil([&] { return order.size() == 3; }));
    EXPECT_EQ(order, (std::vector<int>{0, 1, 2}));
}

TEST_F(QtExecutorTest, SleepsEndByTheTimerInDeadlineOrderAndNeverEarly)
{
    struct Case {
        const char* name;
        ContinuousClock::duration duration;
    };
    // The long sleep is armed first: the short one must re-arm the timer for its earlier end.
    const Case cases[] = {{"long", 400ms}, {"short", 30ms}, {"none", 0ms}};
    std::vector<std::string> order;
    std::vector<ContinuousClock::time_point> wokeAt(std::size(cases));
    const ContinuousClock::time_point start = ContinuousClock::now();
    for (std::size_t index = 0; index < std::size(cases); ++index)
        spawn(executor,
            sleepThenRecord(cases[index].duration, cases[index].name, order, wokeAt[index]));

    ASSERT_TRUE(runEventLoopUntil([&] { return order.size() == 2; }));
    EXPECT_EQ(order, (std::vector<std::string>{"none", "short"}));
    EXPECT_GE(wokeAt[1] - start, 30ms);
    EXPECT_LT(wokeAt[1] - start, 300ms) << "the short sleep waited for the long one's timer";
    ASSERT_TRUE(runEventLoopUntil([&] { return order.size() == 3; }));
    EXPECT_GE(wokeAt[0] - start, 400ms);
}

/// How often the event loop woke up during `duration` of real time. Not a QEventLoop: one
/// would return at once after a test that asked the application to exit.
int wakeUpsDuring(std::chrono::milliseconds duration)
{
    int wakeUps = 0;
    bool isOver = false;
    QObject context;
    QObject::connect(QAbstractEventDispatcher::instance(), &QAbstractEventDispatcher::awake,
        &context, [&] { ++wakeUps; });
    QTimer::singleShot(duration, &context, [&] { isOver = true; });
    while (!isOver)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    return wakeUps;
}

TEST_F(QtExecutorTest, WaitingForAFarDeadlineNeverPolls)
{
    struct Case {
        const char* name;
        ContinuousClock::duration duration;
    };
    const Case cases[] = {{"an hour", std::chrono::hours(1)},
        {"beyond a timer's range", std::chrono::hours(24 * 365 * 100)}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::string> order;
        ContinuousClock::time_point wokeAt;
        const TaskHandle sleeper
            = spawn(executor, sleepThenRecord(c.duration, c.name, order, wokeAt));
        EXPECT_LT(wakeUpsDuring(100ms), 20);
        EXPECT_TRUE(order.empty());
        sleeper.cancel();
        ASSERT_TRUE(runEventLoopUntil([&] { return sleeper.isFinished(); }));
    }
}

TEST_F(QtExecutorTest, RunsOnePieceOfWorkPerWakeUpSoThatANestedLoopKeepsItGoing)
{
    bool secondRan = false;
    bool secondRanInsideFirst = false;
    executor.post([&] {
        // Like a modal dialog's exec(): the event loop runs again inside this piece of work.
        secondRanInsideFirst = runEventLoopUntil([&] { return secondRan; });
    });
    executor.post([&] { secondRan = true; });
    ASSERT_TRUE(runEventLoopUntil([&] { return secondRan; }));
    runEventLoopUntil([&] { return secondRanInsideFirst; });
    EXPECT_TRUE(secondRanInsideFirst);
}

TEST_F(QtExecutorTest, ClocksAreTheSystemsAndEscapedErrorsGoToStandardError)
{
    const auto wallBefore = std::chrono::system_clock::now();
    const auto steadyBefore = ContinuousClock::now();
    EXPECT_GE(executor.wallNow(), wallBefore);
    EXPECT_LT(executor.wallNow() - wallBefore, 1s);
    EXPECT_GE(executor.now(), steadyBefore);
    EXPECT_LT(executor.now() - steadyBefore, 1s);

    testing::internal::CaptureStderr();
    const TaskHandle failing = spawn(executor, fail());
    const bool finished = runEventLoopUntil([&] { return failing.isFinished(); });
    const std::string printed = testing::internal::GetCapturedStderr();
    ASSERT_TRUE(finished);
    EXPECT_NE(printed.find("The display went away."), std::string::npos) << printed;
}

TEST_F(QtExecutorTest, WorkElsewhereRunsOnAThreadOfItsOwnAndTheTaskGoesOnOnTheMainThread)
{
    std::thread::id workedOn;
    std::thread::id resumedOn;
    const TaskHandle task = spawn(executor, workElsewhere(workedOn, resumedOn));
    ASSERT_TRUE(runEventLoopUntil([&] { return task.isFinished(); }));
    EXPECT_NE(workedOn, std::thread::id());
    EXPECT_NE(workedOn, std::this_thread::get_id());
    EXPECT_EQ(resumedOn, std::this_thread::get_id());
}

} // namespace
} // namespace quorvane
