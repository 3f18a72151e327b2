#include "Quorvane/AppModel.h"

#include "AppModelTestSupport.h"
#include "Concurrency/Sleep.h"
#include "SimulatedMac/SimulatedGamma.h"
#include "SimulatedMac/WorldFile.h"
#include "SlowBackends.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <ranges>

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

TEST(QuitTest, WorkStartedWhileWaitingIsWaitedForInItsTurn)
{
    ModelWorld world;
    // On a file of its own: the demo's new folder is gone once it has quit.
    const auto model = world.startedModel(
        {.simulation = true, .settingsURL = world.home.path() / "settings.json"});
    // Each step's work starts the next step's only when it ends, so each wait must read its task
    // when its turn comes, not when quit() was called.
    const auto saveAfterPreview = [&] {
        model->configuration.modify(
            [](Configuration& document) { document.smoothTransitions = false; });
        model->persist();
        model->saveTask.set(work(world, 10ms));
    };
    const auto previewAfterRestoration
        = [&] { model->previewTask.set(work(world, 20ms, saveAfterPreview)); };
    const auto restorationAfterPreferences = [&] {
        model->ruleEditRestorations.set(
            {{externalBrightness, work(world, 30ms, previewAfterRestoration)}});
    };
    model->systemDisplayTask.set(work(world, 40ms, restorationAfterPreferences));
    int requestsWhenPrepared = -1;
    const Subscription prepared = model->terminationPrepared.observe(
        [&] { requestsWhenPrepared = world.shell.terminationRequests; });

    model->quit();
    world.executor.advance(99ms);
    EXPECT_EQ(world.shell.terminationRequests, 0);
    world.executor.advance(1ms);
    EXPECT_EQ(world.shell.terminationRequests, 1);
    EXPECT_EQ(requestsWhenPrepared, 0) << "prepared before terminating";
    EXPECT_FALSE(configurationIn(model->settingsURL).smoothTransitions);
}

TEST(QuitTest, StopsAllAutomaticWorkAtOnceAndWaitsForModeChangesToFinishTheirStep)
{
    ModelWorld world;
    const auto model = world.startedModel({.simulation = true});
    ASSERT_TRUE(model->pollingTask.get());
    const TaskHandle polling = *model->pollingTask.get();
    const TaskHandle modeChange = spawn(world.executor, idleFor(1h));
    model->modeTasks.set({{"demo-external", modeChange}, {"demo-builtin", work(world, 40ms)}});
    const TaskHandle controlWrite = spawn(world.executor, idleFor(1h));
    model->tasks.set({{externalBrightness, controlWrite}});
    ASSERT_TRUE(model->lastSystemDisplayRequests.get());
    model->pendingHardwareRefresh.set(true);
    model->isRefreshing.set(true);
    model->brightnessKeys().update(true);
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
    world.executor.advance(39ms);
    EXPECT_TRUE(polling.isFinished());
    EXPECT_TRUE(modeChange.isFinished());
    EXPECT_TRUE(controlWrite.isFinished());
    EXPECT_EQ(world.shell.terminationRequests, 0);
    world.executor.advance(1ms);
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
    const auto count = [&notifications] { ++notifications; };
    const Subscription subscriptions[] = {model->isQuitting.observe(count),
        model->isSuspended.observe(count), model->refreshRevision.observe(count),
        model->isRefreshing.observe(count), model->pendingHardwareRefresh.observe(count)};

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

TEST(QuitTest, DemoRemovesOnlyTheNewFolderItMadeForItsSettings)
{
    struct Case {
        const char* name;
        std::vector<std::string> arguments; // "PATH" stands for a file under the world's home
        bool isGiven;
        bool isRemoved;
    };
    const Case cases[] = {
        {"new demo folder", {"--ui-demo"}, false, true},
        {"demo on a settings path", {"--ui-demo", "--settings-path", "PATH"}, false, false},
        {"demo on a given file", {"--ui-demo"}, true, false},
        {"no demo", {}, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ModelWorld world;
        const std::filesystem::path chosen = world.home.path() / "chosen" / "settings.json";
        world.launch.commandLine = {"quorvane"};
        for (const std::string& argument : c.arguments)
            world.launch.commandLine.push_back(argument == "PATH" ? chosen.string() : argument);
        AppModel::Options options;
        if (c.isGiven)
            options.settingsURL = chosen;
        const auto model = world.startedModel(std::move(options));
        ASSERT_TRUE(contentsOf(model->settingsURL));

        model->quit();
        world.executor.runUntilIdle();
        ASSERT_TRUE(model->terminationPrepared.get());
        EXPECT_NE(std::filesystem::exists(model->settingsURL.parent_path()), c.isRemoved);
        if (c.isRemoved) {
            EXPECT_TRUE(std::filesystem::is_directory(world.launch.temporaryFolder));
        }
    }
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
    spawn(world.executor,
        model->controlBackend().write(
            SettingValue::temperature(Temperature::kelvin(3000)), temperature));
    world.executor.advance(1s);
    ASSERT_EQ(temperatureNow(), "3000 K");

    model->quit();
    world.executor.advance(5s);

    EXPECT_EQ(world.shell.terminationRequests, 1);
    EXPECT_EQ(temperatureNow(), "Neutral");
}

void refreshNow(ModelWorld& world, AppModel& model)
{
    spawn(world.executor, model.refreshHardware());
    world.executor.advance(10s);
}

bool isIdentity(const SimulatedDisplay& display)
{
    return display.gamma.red.empty() || display.gamma == identityGammaTable(display.gammaCapacity);
}

TEST(QuitTest, SoftwareColourIsTakenOffEveryDisplayWhateverTheModelsState)
{
    struct Case {
        const char* name;
        std::function<void(ModelWorld&, AppModel&)> before;
    };
    const Case cases[] = {
        {"running", [](ModelWorld&, AppModel&) {}},
        {"suspended", [](ModelWorld&, AppModel& model) { model.suspend(); }},
        {"displays asleep",
            [](ModelWorld& world, AppModel& model) {
                for (SimulatedDisplay& display : world.mac.world.displays)
                    world.mac.world.sleep(display.number);
                model.suspend();
            }},
        {"displays asleep after a refresh that no longer lists them",
            [](ModelWorld& world, AppModel& model) {
                for (SimulatedDisplay& display : world.mac.world.displays)
                    world.mac.world.sleep(display.number);
                refreshNow(world, model);
                model.suspend();
            }},
        {"display list failing for one refresh",
            [](ModelWorld& world, AppModel& model) {
                world.mac.world.graphicsFaults.listCallStatus = 1001;
                refreshNow(world, model);
                world.mac.world.graphicsFaults.listCallStatus = 0;
                refreshNow(world, model);
            }},
        {"external display renumbered",
            [](ModelWorld& world, AppModel& model) {
                world.mac.world.graphicsFaults.displaysLostBetweenCalls = 1;
                refreshNow(world, model);
                world.mac.world.graphicsFaults.displaysLostBetweenCalls = 0;
                world.mac.world.renumber(2, 7);
                refreshNow(world, model);
            }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ModelWorld world;
        installDefaultWorld(world.mac);
        const auto model = world.startedModel({.simulation = false});
        world.executor.advance(10s);
        for (const DisplayDevice& display : model->displays.get()) {
            for (const auto& [setting, value] :
                {std::pair{
                     SettingKey::temperature, SettingValue::temperature(Temperature::kelvin(3000))},
                    std::pair{SettingKey::contrast, SettingValue::percent(0.8)}})
                spawn(world.executor,
                    model->controlBackend().write(value,
                        ControlKey{
                            .target = ControlTarget::display(display.id), .setting = setting}));
            world.executor.advance(1s);
        }
        ASSERT_FALSE(std::ranges::all_of(world.mac.world.displays, isIdentity));
        c.before(world, *model);
        world.executor.advance(1s);
        model->quit();
        world.executor.advance(10s);
        EXPECT_EQ(world.shell.terminationRequests, 1);
        for (const SimulatedDisplay& display : world.mac.world.displays)
            EXPECT_TRUE(isIdentity(display)) << display.number;
    }
}

} // namespace
} // namespace quorvane
