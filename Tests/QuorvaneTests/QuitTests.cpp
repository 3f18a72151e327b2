#include "Quorvane/AppModel.h"

#include "AppModelTestSupport.h"
#include "Concurrency/Sleep.h"
#include "SimulatedMac/WorldFile.h"
#include "SlowBackends.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <ranges>
#include <string>
#include <vector>

namespace quorvane {
namespace {

using namespace std::chrono_literals;

const ControlKey externalBrightness{
    .target = ControlTarget::display("demo-external"), .setting = SettingKey::brightness};

// Work that, once started, runs its course even when cancelled (a mode switch, a write on the
// wire), then does `then`.
Task<void> workThen(std::chrono::milliseconds duration, std::function<void()> then)
{
    co_await slow::transfer(duration);
    if (then)
        then();
}

TaskHandle work(
    ModelWorld& world, std::chrono::milliseconds duration, std::function<void()> then = nullptr)
{
    return spawn(world.executor, workThen(duration, std::move(then)));
}

// Waiting that ends at once when cancelled.
Task<void> idleFor(std::chrono::milliseconds duration) { co_await sleep(duration); }

/// Counts the termination requests seen when terminationPrepared became true; -1 until then.
struct TerminationWatch {
    int requestsWhenPrepared = -1;
    Subscription subscription;

    TerminationWatch(ModelWorld& world, AppModel& model)
        : subscription(model.terminationPrepared.observe(
            [this, &world] { requestsWhenPrepared = world.shell.terminationRequests; }))
    {
    }
};

TEST(QuitTest, WaitsForEachPieceOfWorkInFlightButNotForControlWrites)
{
    struct Case {
        const char* what;
        void (*stage)(ModelWorld&, AppModel&);
        std::chrono::milliseconds terminatesAfter;
    };
    const Case cases[] = {
        {"display preferences",
            [](ModelWorld& world, AppModel& model) {
                model.systemDisplayTask.set(work(world, 40ms));
            },
            40ms},
        {"rule-edit restoration",
            [](ModelWorld& world, AppModel& model) {
                model.ruleEditRestorations.set({{externalBrightness, work(world, 40ms)}});
            },
            40ms},
        {"mode change, cancelled but finishing its step",
            [](ModelWorld& world, AppModel& model) {
                model.modeTasks.set(
                    {{"demo-external", work(world, 20ms)}, {"demo-builtin", work(world, 40ms)}});
            },
            40ms},
        {"preview revert",
            [](ModelWorld& world, AppModel& model) { model.previewTask.set(work(world, 40ms)); },
            40ms},
        {"settings save",
            [](ModelWorld& world, AppModel& model) { model.saveTask.set(work(world, 40ms)); },
            40ms},
        {"control write",
            [](ModelWorld& world, AppModel& model) {
                model.tasks.set({{externalBrightness, spawn(world.executor, idleFor(1h))}});
            },
            0ms},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ModelWorld world;
        const auto model = world.startedModel({.simulation = true});
        TerminationWatch watch(world, *model);
        c.stage(world, *model);

        model->quit();
        if (c.terminatesAfter > 0ms) {
            world.executor.advance(c.terminatesAfter - 1ms);
            EXPECT_FALSE(model->terminationPrepared.get());
            EXPECT_EQ(world.shell.terminationRequests, 0);
            world.executor.advance(1ms);
        } else {
            world.executor.advance(0ms);
        }
        EXPECT_TRUE(model->terminationPrepared.get());
        EXPECT_EQ(world.shell.terminationRequests, 1);
        EXPECT_EQ(watch.requestsWhenPrepared, 0) << "prepared before terminating";
    }
}

TEST(QuitTest, WorkStartedWhileWaitingIsWaitedForInItsTurn)
{
    ModelWorld world;
    const auto model = world.startedModel({.simulation = true});
    AppModel* const raw = model.get();
    ModelWorld* const worldPointer = &world;
    // Each step's work starts the next step's only when it ends, so each wait must read its task
    // when its turn comes, not when quit() was called.
    const auto saveAfterPreview = [raw, worldPointer] {
        raw->configuration.modify(
            [](Configuration& document) { document.smoothTransitions = false; });
        raw->persist();
        raw->saveTask.set(work(*worldPointer, 10ms));
    };
    const auto previewAfterRestoration
        = [=] { raw->previewTask.set(work(*worldPointer, 20ms, saveAfterPreview)); };
    const auto restorationAfterPreferences = [=] {
        raw->ruleEditRestorations.set(
            {{externalBrightness, work(*worldPointer, 30ms, previewAfterRestoration)}});
    };
    model->systemDisplayTask.set(work(world, 40ms, restorationAfterPreferences));

    model->quit();
    world.executor.advance(99ms);
    EXPECT_EQ(world.shell.terminationRequests, 0);
    world.executor.advance(1ms);
    EXPECT_EQ(world.shell.terminationRequests, 1);
    EXPECT_FALSE(configurationIn(model->settingsURL).smoothTransitions);
}

TEST(QuitTest, StopsAllAutomaticWorkAtOnce)
{
    ModelWorld world;
    const auto model = world.startedModel({.simulation = true});
    ASSERT_TRUE(model->pollingTask.get());
    const TaskHandle polling = *model->pollingTask.get();
    ASSERT_FALSE(polling.isFinished());
    const TaskHandle modeChange = spawn(world.executor, idleFor(1h));
    model->modeTasks.set({{"demo-external", modeChange}});
    const TaskHandle controlWrite = spawn(world.executor, idleFor(1h));
    model->tasks.set({{externalBrightness, controlWrite}});
    ASSERT_TRUE(model->lastSystemDisplayRequests.get());
    model->pendingHardwareRefresh.set(true);
    model->isRefreshing.set(true);
    model->brightnessKeys().update(true);
    ASSERT_NE(model->brightnessKeys().status(), BrightnessKeyStatus::off);
    (void)model->scheduler().schedule(RuntimeContext{.appBundleID = "com.example.editor"}, 300,
        true, [] { return idleFor(0ms); });
    ASSERT_TRUE(model->scheduler().isWaiting());
    const std::int64_t revision = model->refreshRevision.get();

    model->quit();

    EXPECT_TRUE(model->isQuitting.get());
    EXPECT_TRUE(model->isSuspended.get());
    EXPECT_FALSE(model->pendingHardwareRefresh.get());
    EXPECT_FALSE(model->isRefreshing.get());
    EXPECT_EQ(model->refreshRevision.get(), revision + 1);
    EXPECT_EQ(model->brightnessKeys().status(), BrightnessKeyStatus::off);
    EXPECT_FALSE(model->scheduler().isWaiting());
    EXPECT_FALSE(model->canApplyAutomatically());
    EXPECT_FALSE(model->lastSystemDisplayRequests.get()) << "the next request is made anew";
    world.executor.advance(0ms);
    EXPECT_TRUE(polling.isFinished());
    EXPECT_TRUE(modeChange.isFinished());
    EXPECT_TRUE(controlWrite.isFinished());
    EXPECT_EQ(world.shell.terminationRequests, 1);
}

TEST(QuitTest, ASecondQuitChangesNothingAndTerminationIsAskedOnce)
{
    ModelWorld world;
    const auto model = world.startedModel({.simulation = true});
    model->systemDisplayTask.set(work(world, 40ms));
    model->quit();
    const std::int64_t revision = model->refreshRevision.get();
    int notifications = 0;
    std::vector<Subscription> subscriptions;
    const auto count = [&notifications] { ++notifications; };
    subscriptions.push_back(model->isQuitting.observe(count));
    subscriptions.push_back(model->isSuspended.observe(count));
    subscriptions.push_back(model->refreshRevision.observe(count));
    subscriptions.push_back(model->isRefreshing.observe(count));
    subscriptions.push_back(model->pendingHardwareRefresh.observe(count));

    world.executor.advance(10ms);
    model->pendingHardwareRefresh.set(true);
    notifications = 0;
    model->quit();
    EXPECT_EQ(notifications, 0);
    EXPECT_TRUE(model->pendingHardwareRefresh.get());
    EXPECT_EQ(model->refreshRevision.get(), revision);

    world.executor.advance(30ms);
    EXPECT_EQ(world.shell.terminationRequests, 1);
    model->quit(); // a late request from the system, answered by the handler
    world.executor.advance(1s);
    EXPECT_EQ(world.shell.terminationRequests, 1);
}

TEST(QuitTest, OutsideTheDemoTheDisplaysAreRestoredBeforeTerminating)
{
    ModelWorld world;
    installDefaultWorld(world.mac);
    const auto model = world.startedModel({.simulation = false});
    world.executor.advance(10s); // discovery talks to the monitor
    const auto external = std::ranges::find_if(
        model->displays.get(), [](const DisplayDevice& display) { return !display.isBuiltIn; });
    ASSERT_NE(external, model->displays->end()) << "needs the hardware refresh";
    const ControlKey temperature{
        .target = ControlTarget::display(external->id), .setting = SettingKey::temperature};
    const auto temperatureNow = [&] {
        TaskOutcome<SettingValue> outcome;
        spawn(world.executor, recordOutcome(model->controlBackend().read(temperature), outcome));
        world.executor.advance(1s);
        return outcome.value ? outcome.value->label() : outcome.summary();
    };
    TaskOutcome<void> written;
    spawn(world.executor,
        recordOutcome(model->controlBackend().write(
                          SettingValue::temperature(Temperature::kelvin(3000)), temperature),
            written));
    world.executor.advance(1s);
    ASSERT_EQ(written.summary(), "done");
    ASSERT_EQ(temperatureNow(), "3000 K");

    model->quit();
    world.executor.advance(5s);

    EXPECT_EQ(world.shell.terminationRequests, 1);
    EXPECT_EQ(temperatureNow(), "Neutral");
}

} // namespace
} // namespace quorvane
