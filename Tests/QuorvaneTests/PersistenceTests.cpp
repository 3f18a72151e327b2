#include "Quorvane/AppModel.h"

#include "AppModelTestSupport.h"
#include "Concurrency/Sleep.h"
#include "ProfileRuleTestSupport.h"
#include "SimulatedMac/WorldFile.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <latch>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace quorvane {
namespace {

using namespace std::chrono_literals;

Task<void> sleepFor(ContinuousClock::duration duration) { co_await sleep(duration); }

Task<void> markRun(bool& ran)
{
    ran = true;
    co_return;
}

// 7 minutes is refused by the store.
void persistHold(AppModel& model, std::int64_t minutes)
{
    model.configuration.modify([&](Configuration& document) { document.holdMinutes = minutes; });
    model.persist();
}

std::int64_t savedHoldMinutes(const ModelWorld& world)
{
    return configurationIn(world.defaultSettingsFile()).holdMinutes;
}

// Saves requested behind the first collapse into one save of the newest document: with 7 last,
// that save fails (with nobody to report to) and the file keeps the first one's 5.
TEST(PersistenceTest, SavesWriteInTheOrderRequestedEvenAfterTheModelIsGone)
{
    const std::pair<std::vector<std::int64_t>, std::int64_t> cases[] = {
        {{5, 15, 60}, 60},
        {{5, 15, 60, 7}, 5},
    };
    for (const auto& [holds, saved] : cases) {
        SCOPED_TRACE(holds.size());
        ModelWorld world;
        auto model = world.startedModel();
        for (const std::int64_t minutes : holds)
            persistHold(*model, minutes);
        model.reset();
        world.executor.runUntilIdle();
        EXPECT_EQ(savedHoldMinutes(world), saved);
    }
}

// A start writes the file once, after it has settled what the file holds (the captured
// defaults, the verified modes, the demo's samples); over a file that holds the document already,
// it writes nothing.
TEST(PersistenceTest, AStartWritesTheFileOnceAndLeavesOneThatNeedsNoChangeAlone)
{
    for (const bool demo : {false, true}) {
        SCOPED_TRACE(demo ? "demo" : "simulated Mac");
        ModelWorld world;
        installDefaultWorld(world.mac);
        const AppModel::Options options{
            .simulation = demo, .settingsURL = world.defaultSettingsFile()};
        {
            const auto first = world.startedModel(options);
            world.executor.advance(10s); // discovery talks to the monitor
            EXPECT_EQ(first->settingsStore().writeCount(), 1u);
            EXPECT_EQ(configurationIn(world.defaultSettingsFile()), *first->configuration);
            first->configuration.modify([](Configuration& document) { document.holdMinutes = 15; });
            first->persist();
            world.executor.advance(10s);
        }
        const std::string before = *contentsOf(world.defaultSettingsFile());
        const auto model = world.startedModel(options);
        world.executor.advance(10s);
        EXPECT_EQ(model->settingsStore().writeCount(), 0u) << "the file holds the document already";
        EXPECT_EQ(contentsOf(world.defaultSettingsFile()), before);
        EXPECT_EQ(model->configuration->holdMinutes, 15);
    }
}

TEST(PersistenceTest, SaveWaitsForThePreviousOneWhateverItsOutcome)
{
    for (const bool cancelPrevious : {false, true}) {
        SCOPED_TRACE(cancelPrevious ? "previous cancelled" : "previous finished");
        ModelWorld world;
        const auto model = world.startedModel();
        const TaskHandle previous = spawn(world.executor, sleepFor(1s));
        model->saveTask.set(previous);
        persistHold(*model, 5);
        model->configuration.modify([](Configuration& document) { document.holdMinutes = 15; });

        world.executor.advance(999ms);
        EXPECT_EQ(savedHoldMinutes(world), 30);
        if (cancelPrevious)
            previous.cancel();
        world.executor.advance(cancelPrevious ? 0ms : 1ms);
        EXPECT_EQ(savedHoldMinutes(world), 5) << "the save keeps its own copy";
    }
}

// While a save runs, the ones requested behind it become one save of the newest document, taken
// when its turn comes; a request after that turn starts a save of its own.
TEST(PersistenceTest, SavesWaitingBehindARunningOneCollapseIntoTheNewest)
{
    ModelWorld world;
    const auto model = world.startedModel();
    const std::size_t writesBefore = model->settingsStore().writeCount();
    model->saveTask.set(spawn(world.executor, sleepFor(1s)));
    for (const std::int64_t minutes : {5, 15, 60})
        persistHold(*model, minutes);
    const auto waiting = model->saveTask.get();
    world.executor.advance(999ms);
    EXPECT_EQ(savedHoldMinutes(world), 30);
    world.executor.advance(1ms);
    EXPECT_EQ(savedHoldMinutes(world), 60);
    EXPECT_EQ(model->settingsStore().writeCount() - writesBefore, 1u);
    EXPECT_EQ(model->saveTask.get(), waiting) << "the collapsed requests made no tasks";

    persistHold(*model, 15);
    EXPECT_NE(model->saveTask.get(), waiting);
    world.executor.runUntilIdle();
    EXPECT_EQ(savedHoldMinutes(world), 15);
    EXPECT_EQ(model->settingsStore().writeCount() - writesBefore, 2u);
}

TEST(PersistenceTest, FailedSaveKeepsTheFirstMessageAndDropsTheWaitingResolution)
{
    struct Case {
        std::vector<std::int64_t> holds;
        std::optional<std::string> error;
        std::int64_t saved;
    };
    const Case cases[] = {
        {{5}, std::nullopt, 5},
        {{7, 5}, "Invalid automation timing preferences.", 30}, // the second is the refusal
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.holds.size());
        ModelWorld world;
        const auto model = world.startedModel();
        bool ran = false;
        ASSERT_TRUE(model->scheduler().schedule(
            RuntimeContext{.appBundleID = "com.a"}, 300, false, [&ran] { return markRun(ran); }));
        for (const std::int64_t minutes : c.holds)
            persistHold(*model, minutes);
        world.executor.advance(1s);
        EXPECT_EQ(ran, !c.error);
        EXPECT_EQ(model->settingsError.get(), c.error);
        EXPECT_EQ(savedHoldMinutes(world), c.saved);
    }
}

TEST(PersistenceTest, AfterAFailedSaveNothingIsSavedEvenWhenTheDiskRecovers)
{
    ModelWorld world;
    const auto model = world.startedModel();
    model->configuration.modify([](Configuration& document) { document.automationEnabled = true; });
    ASSERT_TRUE(model->canApplyAutomatically());
    const auto folder = world.defaultSettingsFile().parent_path();
    std::filesystem::remove_all(folder);
    writeFile(folder, "a file where the folder was");

    model->persist();
    world.executor.runUntilIdle();
    ASSERT_TRUE(model->settingsError.get());
    EXPECT_NE(*model->settingsError.get(),
        "Settings are locked because the original file could not be loaded.");
    EXPECT_FALSE(model->canApplyAutomatically());

    std::filesystem::remove(folder);
    std::filesystem::create_directories(folder);
    const auto failedSave = model->saveTask.get();
    persistHold(*model, 5);
    world.executor.runUntilIdle();
    EXPECT_EQ(model->saveTask.get(), failedSave);
    EXPECT_FALSE(std::filesystem::exists(world.defaultSettingsFile()));
}

// The save runs on a real worker thread, held until the model is about to edit; a piece queued
// behind it tells, by a relaxed flag, that its work is over. So the edit follows the worker's
// reads of the profile before the save's completion reaches the model, as a user's edit can,
// and only the hand-over of the save's copy orders the two: ThreadSanitizer reports the write
// when that copy is dropped on the worker.
TEST(PersistenceTest, AProfileRenamedWhileASaveEndsOnTheWorkerThreadIsNotWrittenUnderIt)
{
    ModelWorld world(ManualExecutor::Elsewhere::onWorkerThread);
    const auto model = world.startedModel();
    const UUID work = addProfile(*model, "Work");
    std::latch editing(1);
    std::atomic<bool> saveWorked = false;
    world.executor.runElsewhere([&editing] { editing.wait(); }, [] {});
    model->renameProfile(work, "Office");
    world.executor.post([&] {
        world.executor.runElsewhere(
            [&saveWorked] { saveWorked.store(true, std::memory_order_relaxed); }, [] {});
        editing.count_down();
        while (!saveWorked.load(std::memory_order_relaxed))
            std::this_thread::yield();
        model->renameProfile(work, "Studio");
    });
    world.executor.runUntilIdle();

    const Configuration saved = configurationIn(world.defaultSettingsFile());
    const auto profile = std::ranges::find(saved.profiles, work, &Profile::id);
    ASSERT_NE(profile, saved.profiles.end());
    EXPECT_EQ(profile->name, "Studio");
}

} // namespace
} // namespace quorvane
