#include "Quorvane/AppModel.h"

#include "AppModelTestSupport.h"
#include "Concurrency/Sleep.h"
#include "Concurrency/Spawn.h"
#include "Quorvane/WorkspaceEvents.h"
#include "QuorvaneMac/FocusedWindowProvider.h"

#include <gtest/gtest.h>

#include <chrono>
#include <latch>
#include <string>
#include <vector>

namespace quorvane {
namespace {

const std::string program = "/Applications/Quorvane.app/Contents/MacOS/Quorvane";

TEST(StartupTest, MissingFileLoadsTheDefaultsAndIsWrittenAtTheEnd)
{
    ModelWorld world;
    const auto model = world.startedModel();

    EXPECT_TRUE(model->isLoaded.get());
    EXPECT_FALSE(model->settingsError.get());
    EXPECT_EQ(model->settingsURL, world.defaultSettingsFile());
    EXPECT_EQ(model->selectedProfileID.get(), model->configuration->activeProfileID);
    ASSERT_TRUE(model->saveTask.get());
    EXPECT_TRUE(model->pollingTask.get());
    EXPECT_EQ(configurationIn(world.defaultSettingsFile()), model->configuration.get());
}

TEST(StartupTest, StepsRunInOrder)
{
    ModelWorld world;
    auto written = Configuration();
    written.holdMinutes = 5;
    {
        SettingsStore store(world.defaultSettingsFile());
        (void)runToEnd(store.load()); // no file yet: unlocks the store for the save below
        runToEnd(store.save(written));
    }
    auto model = AppModel::create(world.environment(), {.startAutomatically = true});
    std::vector<std::string> steps;
    std::vector<Subscription> subscriptions;
    const auto record = [&](const char* step) { return [&steps, step] { steps.push_back(step); }; };
    subscriptions.push_back(model->configuration.observe(record("configuration")));
    subscriptions.push_back(model->selectedProfileID.observe(record("selection")));
    subscriptions.push_back(model->isLoaded.observe(record("loaded")));
    subscriptions.push_back(model->saveTask.observe(record("save")));
    subscriptions.push_back(model->pollingTask.observe(record("polling")));
    EXPECT_TRUE(steps.empty()) << "creating the model loads nothing yet";

    world.executor.runUntilIdle();

    EXPECT_EQ(steps,
        (std::vector<std::string>{"configuration", "selection", "save", "loaded", "polling"}))
        << "the one save at start settles before the model counts as loaded";
    EXPECT_EQ(model->configuration->holdMinutes, 5);
    EXPECT_EQ(model->selectedProfileID.get(), written.activeProfileID);
}

TEST(StartupTest, FileThatFailsToLoadIsShownAndNeverOverwritten)
{
    struct Case {
        const char* what;
        std::string contents;
        std::string message;
    };
    const Case cases[] = {
        {"unsupported version", R"({"schemaVersion": 9})",
            "Settings version 9 is not supported. This build uses the new profile format. The "
            "file was not changed."},
        {"not JSON", "{ nope", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ModelWorld world;
        writeFile(world.defaultSettingsFile(), c.contents);
        const auto model = world.startedModel();

        ASSERT_TRUE(model->settingsError.get());
        if (!c.message.empty()) {
            EXPECT_EQ(*model->settingsError.get(), c.message);
        }
        EXPECT_FALSE(model->settingsError.get()->empty());
        EXPECT_TRUE(model->isLoaded.get());
        EXPECT_EQ(model->selectedProfile().name, "Default");
        EXPECT_EQ(model->selectedProfileID.get(), model->configuration->activeProfileID);
        EXPECT_FALSE(model->saveTask.get());
        EXPECT_FALSE(model->canApplyAutomatically());

        model->configuration.modify([](Configuration& document) { document.holdMinutes = 5; });
        model->persist();
        world.executor.runUntilIdle();
        EXPECT_FALSE(model->saveTask.get());
        EXPECT_EQ(contentsOf(world.defaultSettingsFile()), c.contents);
    }
}

TEST(StartupTest, DemoSwitchAndSettingsPathWorkTogether)
{
    ModelWorld world;
    const auto path = world.home.path() / "chosen" / "settings.json";
    world.launch.commandLine = {program, "--ui-demo", "--settings-path", path.string()};
    const auto model = world.startedModel();

    EXPECT_TRUE(model->isDemo);
    EXPECT_EQ(model->settingsURL, path);
    EXPECT_TRUE(contentsOf(path));
    EXPECT_FALSE(std::filesystem::exists(world.defaultSettingsFile()));
}

TEST(StartupTest, SimulationArgumentOverridesTheLaunch)
{
    for (const bool simulation : {false, true}) {
        SCOPED_TRACE(simulation);
        ModelWorld world;
        world.launch.commandLine = {program, simulation ? "--x" : "--ui-demo"};
        const auto model = world.idleModel({.simulation = simulation});
        EXPECT_EQ(model->isDemo, simulation);
        EXPECT_EQ(model->settingsURL.parent_path().parent_path(),
            simulation ? world.launch.temporaryFolder : world.launch.applicationSupportFolder);
    }
}

TEST(StartupTest, IdleModelLoadsNothingAndConnectsNothing)
{
    ModelWorld world;
    const auto model = world.idleModel();
    world.executor.advance(std::chrono::seconds(5));

    EXPECT_FALSE(model->isLoaded.get());
    EXPECT_FALSE(model->pollingTask.get());
    EXPECT_FALSE(std::filesystem::exists(world.defaultSettingsFile()));
    EXPECT_FALSE(model->events().changed);
    EXPECT_FALSE(model->events().suspended);
    EXPECT_FALSE(model->focus().changed);
    EXPECT_FALSE(model->brightnessKeys().pressed);
}

TEST(StartupTest, StartTaskKeepsTheModelUntilStartUpEnds)
{
    ModelWorld world;
    auto model = AppModel::create(world.environment(), {.startAutomatically = true});
    const std::weak_ptr<AppModel> weakModel = model;
    model.reset();
    EXPECT_FALSE(weakModel.expired());

    world.executor.runUntilIdle();

    EXPECT_TRUE(weakModel.expired()) << "callbacks and later tasks hold the model weakly";
    EXPECT_TRUE(contentsOf(world.defaultSettingsFile())) << "start-up ran to its end";
}

TEST(StartupTest, CallbacksDoNothingOnceTheModelIsGone)
{
    ModelWorld world;
    auto model = world.startedModel();
    ASSERT_TRUE(model->brightnessKeys().pressed);
    const auto pressed = model->brightnessKeys().pressed;
    const auto changed = model->events().changed;
    const auto suspended = model->events().suspended;
    const auto focusChanged = model->focus().changed;
    EXPECT_FALSE(pressed(BrightnessKeyDirection::down)) << "interception is off by default";
    model.reset();

    EXPECT_FALSE(pressed(BrightnessKeyDirection::up)) << "the key passes to the system";
    changed(true);
    changed(false);
    suspended();
    focusChanged();
    world.executor.runUntilIdle();
}

Task<void> openAfter(std::latch& gate, ContinuousClock::duration delay)
{
    co_await sleep(delay);
    gate.count_down();
}

// The file work runs on a worker thread that the test holds for a second of virtual time, so
// the start-up save is still being written when a second screen is found.
TEST(StartupTest, AScreenSeenDuringTheStartUpSaveReachesTheFile)
{
    using namespace std::chrono_literals;
    ModelWorld world(ManualExecutor::Elsewhere::onWorkerThread);
    std::vector<DisplayDevice> screens{{.id = "a", .name = "Studio Monitor"}};
    std::latch gate(1);
    const auto model = AppModel::create(world.environment(),
        {.startAutomatically = true, .hardwareDiscovery = [&screens]() -> Task<DiscoveredHardware> {
             co_return DiscoveredHardware{.displays = screens, .snapshot = {}};
         }});
    const Subscription saving = model->saveTask.observe([&] {
        if (screens.size() > 1)
            return;
        world.executor.runElsewhere([&gate] { gate.wait(); }, [] {});
        spawn(world.executor, openAfter(gate, 1s));
        screens.push_back({.id = "b", .name = "Side"});
        model->events().changed(true);
    });
    world.executor.advance(10s);

    ASSERT_TRUE(model->isLoaded.get());
    EXPECT_EQ(model->configuration->knownDisplays.size(), 2u);
    EXPECT_EQ(configurationIn(world.defaultSettingsFile()), model->configuration.get());
}

TEST(StartupTest, QuitDuringTheFirstHardwareReadOrTheSaveEndsStartUp)
{
    using namespace std::chrono_literals;
    for (const bool duringSave : {false, true}) {
        SCOPED_TRACE(duringSave ? "the save" : "the first hardware read");
        ModelWorld world;
        const auto model = AppModel::create(world.environment(),
            {.startAutomatically = true, .hardwareDiscovery = []() -> Task<DiscoveredHardware> {
                 co_await sleep(50ms);
                 co_return DiscoveredHardware{};
             }});
        const Subscription saving = model->saveTask.observe([&] {
            if (duringSave && !model->isQuitting.get())
                model->quit();
        });
        world.executor.advance(10ms);
        if (!duringSave)
            model->quit();
        world.executor.advance(100ms);

        EXPECT_FALSE(model->isLoaded.get());
        EXPECT_FALSE(model->pollingTask.get());
        EXPECT_EQ(world.shell.terminationRequests, 1);
    }
}

} // namespace
} // namespace quorvane
