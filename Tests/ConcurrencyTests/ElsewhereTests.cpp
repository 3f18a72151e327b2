#include "Concurrency/Elsewhere.h"
#include "Concurrency/ManualExecutor.h"
#include "Concurrency/Spawn.h"
#include "Concurrency/WorkerThread.h"
#include "Foundation/Error.h"

#include <gtest/gtest.h>

#include <chrono>
#include <latch>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace quorvane {
namespace {

struct Trace {
    std::thread::id workThread;
    std::thread::id resumedThread;
    std::string result;
};

Task<void> runAndTrace(std::string text, bool fails, Trace& trace)
{
    // Named: g++ 12 destroys a lambda's captures twice when it is a temporary of a co_await.
    auto read = [text, fails, &trace] {
        trace.workThread = std::this_thread::get_id();
        if (fails)
            throw Error(text + " failed.");
        return text + " read";
    };
    try {
        trace.result = co_await runElsewhere(std::move(read));
    } catch (const Error& error) {
        trace.result = error.what();
    }
    trace.resumedThread = std::this_thread::get_id();
}

TEST(ElsewhereTest, WorkRunsWhereTheExecutorSaysAndTheTaskGoesOnOnTheExecutorWithItsOutcome)
{
    using Elsewhere = ManualExecutor::Elsewhere;
    for (const Elsewhere elsewhere : {Elsewhere::onExecutor, Elsewhere::onWorkerThread}) {
        SCOPED_TRACE(elsewhere == Elsewhere::onExecutor ? "on the executor" : "on a worker");
        ManualExecutor executor(elsewhere);
        Trace read;
        Trace failed;
        spawn(executor, runAndTrace("settings", false, read));
        spawn(executor, runAndTrace("backup", true, failed));
        executor.runUntilIdle();

        const std::thread::id here = std::this_thread::get_id();
        EXPECT_EQ(read.result, "settings read");
        EXPECT_EQ(failed.result, "backup failed.");
        for (const Trace* trace : {&read, &failed}) {
            EXPECT_EQ(trace->resumedThread, here);
            EXPECT_EQ(trace->workThread == here, elsewhere == Elsewhere::onExecutor);
        }
        EXPECT_EQ(read.workThread, failed.workThread) << "one worker thread";
    }
}

Task<void> appendElsewhere(std::vector<int>& worked, std::vector<int>& resumed, int piece)
{
    const int done = co_await runElsewhere([&worked, piece] {
        worked.push_back(piece);
        return piece;
    });
    resumed.push_back(done);
}

TEST(ElsewhereTest, PiecesRunAndTheirTasksGoOnInTheOrderGiven)
{
    ManualExecutor executor(ManualExecutor::Elsewhere::onWorkerThread);
    std::vector<int> worked;
    std::vector<int> resumed;
    for (int piece = 0; piece < 20; ++piece)
        spawn(executor, appendElsewhere(worked, resumed, piece));
    executor.runUntilIdle();
    std::vector<int> expected;
    for (int piece = 0; piece < 20; ++piece)
        expected.push_back(piece);
    EXPECT_EQ(worked, expected);
    EXPECT_EQ(resumed, expected);
}

TEST(WorkerThreadTest, DeliversEachDoneOnItsOwnThreadAfterItsWork)
{
    std::vector<std::string> journal;
    std::latch delivered(2);
    std::thread::id deliveredOn;
    {
        WorkerThread worker([&](WorkerThread::Work done) {
            deliveredOn = std::this_thread::get_id();
            done();
            delivered.count_down();
        });
        for (const std::string piece : {"first", "second"}) {
            worker.run([&journal, piece] { journal.push_back(piece + " worked"); },
                [&journal, piece] { journal.push_back(piece + " done"); });
        }
        delivered.wait();
    }
    EXPECT_NE(deliveredOn, std::this_thread::get_id());
    EXPECT_EQ(journal,
        (std::vector<std::string>{"first worked", "first done", "second worked", "second done"}));
}

// A work may hold a copy that shares data with the thread its done goes to, and that thread
// writes such data in place once it holds the only copy: the work must not end on the worker.
TEST(WorkerThreadTest, HandsEachWorkOnWithItsDoneToBeDroppedJustBeforeItRuns)
{
    std::thread::id droppedOn;
    std::thread::id droppedBeforeDone;
    // Its deleter runs where the last copy of it goes, though it points to nothing.
    std::shared_ptr<void> witness(
        nullptr, [&droppedOn](void*) { droppedOn = std::this_thread::get_id(); });
    std::vector<WorkerThread::Work> delivered;
    std::latch arrived(1);
    {
        WorkerThread worker([&](WorkerThread::Work done) {
            delivered.push_back(std::move(done));
            arrived.count_down();
        });
        worker.run([witness = std::move(witness)] {}, [&] { droppedBeforeDone = droppedOn; });
        arrived.wait();
        EXPECT_EQ(droppedOn, std::thread::id()) << "the work is held until its done runs";
        delivered.front()();
    }
    EXPECT_EQ(droppedOn, std::this_thread::get_id());
    EXPECT_EQ(droppedBeforeDone, std::this_thread::get_id());
}

TEST(WorkerThreadTest, DestroyingItAsksThePieceThatRunsToStopAndDropsThoseNotStarted)
{
    EXPECT_FALSE(WorkerThread::stopToken().stop_possible()) << "not on a worker thread";
    std::latch started(1);
    bool sawStop = false;
    bool laterPieceRan = false;
    int deliveries = 0;
    {
        WorkerThread worker([&](WorkerThread::Work /*done*/) { ++deliveries; });
        worker.run(
            [&] {
                started.count_down();
                // Bounded, so that a stop that never comes fails rather than hangs.
                const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(20);
                while (!WorkerThread::stopToken().stop_requested()
                    && std::chrono::steady_clock::now() < giveUp)
                    std::this_thread::yield();
                sawStop = WorkerThread::stopToken().stop_requested();
            },
            [] {});
        worker.run([&] { laterPieceRan = true; }, [] {});
        started.wait();
    }
    EXPECT_TRUE(sawStop);
    EXPECT_FALSE(laterPieceRan);
    EXPECT_EQ(deliveries, 1) << "the piece that ran is delivered";
}

} // namespace
} // namespace quorvane
