#include "Quorvane/AppModel.h"

#include "AppModelTestSupport.h"
#include "Concurrency/Sleep.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>

namespace quorvane {
namespace {

using namespace std::chrono_literals;

constexpr std::string_view invalidTiming = "Invalid automation timing preferences.";

Task<void> sleepFor(ContinuousClock::duration duration) { co_await sleep(duration); }

Task<void> markRun(bool& ran)
{
    ran = true;
    co_return;
}

void setHoldMinutes(AppModel& model, std::int64_t minutes)
{
    model.configuration.modify([&](Configuration& document) { document.holdMinutes = minutes; });
}

std::int64_t savedHoldMinutes(const ModelWorld& world)
{
    return configurationIn(world.defaultSettingsFile()).holdMinutes;
}

TEST(PersistenceTest, SavesWriteInTheOrderRequested)
{
    ModelWorld world;
    const auto model = world.startedModel();
    for (const std::int64_t minutes : {5, 15, 60}) {
        setHoldMinutes(*model, minutes);
        model->persist();
    }
    world.executor.runUntilIdle();
    EXPECT_EQ(savedHoldMinutes(world), 60);
    EXPECT_FALSE(model->settingsError.get());
}

TEST(PersistenceTest, SaveWaitsForThePreviousOneWhateverItsOutcome)
{
    for (const bool cancelPrevious : {false, true}) {
        SCOPED_TRACE(cancelPrevious ? "previous cancelled" : "previous finished");
        ModelWorld world;
        const auto model = world.startedModel();
        const TaskHandle previous = spawn(world.executor, sleepFor(1s));
        model->saveTask.set(previous);
        setHoldMinutes(*model, 5);
        model->persist();
        setHoldMinutes(*model, 15); // not asked to be saved: the save keeps its copy

        world.executor.advance(500ms);
        EXPECT_EQ(savedHoldMinutes(world), 30);
        if (cancelPrevious) {
            previous.cancel();
            world.executor.runUntilIdle();
            EXPECT_EQ(savedHoldMinutes(world), 5);
            continue;
        }
        world.executor.advance(499ms);
        EXPECT_EQ(savedHoldMinutes(world), 30);
        world.executor.advance(1ms);
        EXPECT_EQ(savedHoldMinutes(world), 5);
    }
}

TEST(PersistenceTest, FirstFailureKeepsItsMessageOverTheQueuedRefusals)
{
    ModelWorld world;
    const auto model = world.startedModel();
    const auto before = contentsOf(world.defaultSettingsFile());
    setHoldMinutes(*model, 7);
    model->persist();
    setHoldMinutes(*model, 5);
    model->persist();
    world.executor.runUntilIdle();

    EXPECT_EQ(model->settingsError.get(), std::string(invalidTiming));
    EXPECT_EQ(contentsOf(world.defaultSettingsFile()), before);
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
    setHoldMinutes(*model, 5);
    model->persist();
    world.executor.runUntilIdle();
    EXPECT_EQ(model->saveTask.get(), failedSave);
    EXPECT_FALSE(std::filesystem::exists(world.defaultSettingsFile()));
    EXPECT_FALSE(model->canApplyAutomatically());
}

TEST(PersistenceTest, SaveStillWritesAfterTheModelIsGone)
{
    ModelWorld world;
    auto model = world.startedModel();
    setHoldMinutes(*model, 60);
    model->persist();
    setHoldMinutes(*model, 7); // would fail; its report has nobody to go to
    model->persist();
    model.reset();
    world.executor.runUntilIdle();
    EXPECT_EQ(savedHoldMinutes(world), 60);
}

TEST(PersistenceTest, FailedSaveDropsTheWaitingResolution)
{
    for (const bool saveFails : {false, true}) {
        SCOPED_TRACE(saveFails ? "save fails" : "save succeeds");
        ModelWorld world;
        const auto model = world.startedModel();
        bool ran = false;
        ASSERT_TRUE(model->scheduler().schedule(
            RuntimeContext{.appBundleID = "com.a"}, 300, false, [&ran] { return markRun(ran); }));
        setHoldMinutes(*model, saveFails ? 7 : 5);
        model->persist();
        world.executor.advance(1s);
        EXPECT_EQ(ran, !saveFails);
        EXPECT_EQ(model->settingsError->has_value(), saveFails);
    }
}

} // namespace
} // namespace quorvane
