#include "Quorvane/AppModel.h"

#include "ContextTestSupport.h"
#include "Quorvane/WorkspaceEvents.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <set>
#include <string>
#include <vector>

namespace quorvane {
namespace {

using namespace std::chrono_literals;

const std::string displayA = "aaaaaaaa-0000-0000-0000-000000000001";
const std::string displayB = "bbbbbbbb-0000-0000-0000-000000000002";
const DisplayResolution fullHD{
    .width = 1920, .height = 1080, .pixelWidth = 1920, .pixelHeight = 1080};

DisplayDevice device(const std::string& id, std::string name = "Monitor")
{
    return {.id = id, .runtimeID = 7, .name = std::move(name)};
}

ControlKey keyOf(const std::string& id, SettingKey setting)
{
    return {.target = ControlTarget::display(id), .setting = setting};
}

/// The devices, each in `environment` with a Full HD mode.
DiscoveredHardware connected(
    std::vector<DisplayDevice> devices, const std::string& environment = "wired")
{
    DiscoveredHardware hardware{.displays = std::move(devices), .snapshot = {}};
    for (const DisplayDevice& display : hardware.displays) {
        hardware.snapshot.environments[display.id] = environment;
        hardware.snapshot.currentModes[display.id] = {.resolution = fullHD};
    }
    return hardware;
}

std::vector<std::string> idsOf(const std::vector<DisplayDevice>& displays)
{
    std::vector<std::string> ids;
    for (const DisplayDevice& display : displays)
        ids.push_back(display.id);
    return ids;
}

template <typename Key, typename Value> std::set<Key> keysOf(const std::map<Key, Value>& map)
{
    std::set<Key> keys;
    for (const auto& entry : map)
        keys.insert(entry.first);
    return keys;
}

void post(SimulatedNotificationCenter& centre, std::string_view name)
{
    centre.post({.name = std::string(name), .userInfo = {}});
}

/// The default simulated Mac, with display A discovered instantly.
struct RefreshWorld : ContextWorld {
    RefreshWorld() { discovery.hardware = connected({device(displayA)}); }

    /// Starts a refresh of `model`; `outcome` must outlive it.
    void refresh(AppModel& model, TaskOutcome<void>& outcome)
    {
        spawn(executor, recordOutcome(model.refreshHardware(), outcome));
    }
};

TEST(HardwareRefreshTest, GuardsStopTheRefreshBeforeItTakesARevision)
{
    struct Case {
        const char* what;
        bool demo;
        void (*prepare)(AppModel&);
        bool pendingBefore;
        bool pendingAfter;
        int discoveries;
    };
    const Case cases[] = {
        {"demo mode", true, [](AppModel&) {}, false, false, 0},
        {"quitting", false, [](AppModel& model) { model.isQuitting.set(true); }, false, false, 0},
        {"mode change running", false, [](AppModel& model) { model.modeBusy.set({displayA}); },
            false, true, 0},
        {"free to run", false, [](AppModel&) {}, true, false, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        RefreshWorld world;
        const auto model = c.demo
            ? world.idleModel({.simulation = true, .hardwareDiscovery = world.discovery.function()})
            : world.start();
        const int discoveriesBefore = world.discovery.calls;
        const std::int64_t revisionBefore = model->refreshRevision.get();
        world.discovery.hardware = connected({device(displayB)});
        c.prepare(*model);
        model->pendingHardwareRefresh.set(c.pendingBefore);
        TaskOutcome<void> refresh;

        world.refresh(*model, refresh);
        world.executor.runUntilIdle();

        EXPECT_EQ(refresh.summary(), "done");
        EXPECT_EQ(world.discovery.calls - discoveriesBefore, c.discoveries);
        EXPECT_EQ(model->refreshRevision.get() - revisionBefore, c.discoveries);
        EXPECT_EQ(model->pendingHardwareRefresh.get(), c.pendingAfter);
        EXPECT_EQ(model->displays->size() == 1 && model->displays->front().id == displayB,
            c.discoveries == 1);
        EXPECT_FALSE(model->isRefreshing.get());
    }
}

TEST(HardwareRefreshTest, SleepDuringDiscoveryLeavesEverythingToTheWakeRefresh)
{
    RefreshWorld world;
    const auto model = world.start();
    const HardwareSnapshot before = model->hardwareSnapshot.get();
    world.discovery.latency = 100ms;
    world.discovery.hardware = connected({device(displayA), device(displayB)});

    post(world.mac.notifications, workspaceNotification::didChangeScreenParameters);
    world.executor.advance(50ms);
    EXPECT_TRUE(model->isRefreshing.get());
    post(world.mac.workspaceNotifications, workspaceNotification::willSleep);
    EXPECT_FALSE(model->isRefreshing.get());
    world.executor.advance(100ms);

    EXPECT_EQ(idsOf(model->displays.get()), std::vector{displayA});
    EXPECT_EQ(model->hardwareSnapshot.get(), before);
    EXPECT_EQ(model->configuration->knownDisplays.size(), 1u);
    EXPECT_TRUE(model->isSuspended.get());

    post(world.mac.workspaceNotifications, workspaceNotification::didWake);
    world.executor.advance(100ms);
    EXPECT_EQ(idsOf(model->displays.get()), (std::vector{displayA, displayB}));
    EXPECT_FALSE(model->isSuspended.get());
    EXPECT_FALSE(model->isRefreshing.get());
}

TEST(HardwareRefreshTest, OverlappingRefreshesTheNewestWins)
{
    RefreshWorld world;
    const auto model = world.start();
    world.discovery.latency = 100ms;
    world.discovery.hardware = connected({device(displayB, "Older")});
    TaskOutcome<void> older;
    world.refresh(*model, older);
    world.executor.advance(10ms);
    world.discovery.latency = 200ms;
    world.discovery.hardware = connected({device(displayB, "Newer")});
    TaskOutcome<void> newer;
    world.refresh(*model, newer);

    world.executor.advance(90ms);
    EXPECT_EQ(older.summary(), "done");
    EXPECT_EQ(idsOf(model->displays.get()), std::vector{displayA});
    EXPECT_TRUE(model->isRefreshing.get()) << "the newer refresh still owns the flag";

    world.executor.advance(120ms);
    EXPECT_EQ(newer.summary(), "done");
    ASSERT_EQ(model->displays->size(), 1u);
    EXPECT_EQ(model->displays->front().name, "Newer");
    EXPECT_FALSE(model->isRefreshing.get());
    const auto& known = model->configuration->knownDisplays;
    EXPECT_EQ(std::ranges::count(known, DisplayReference{displayB, "Newer"}), 1);
    EXPECT_EQ(std::ranges::count(known, DisplayReference{displayB, "Older"}), 0);
}

TEST(HardwareRefreshTest, ModeChangeDuringDiscoveryDefersTheRefreshToItsEnd)
{
    struct Case {
        const char* what;
        bool quitting;
        bool pending;
    };
    const Case cases[]
        = {{"mode change", false, true}, {"mode change while quitting", true, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        RefreshWorld world;
        const auto model = world.start();
        world.discovery.latency = 100ms;
        world.discovery.hardware = connected({device(displayB)});
        TaskOutcome<void> refresh;
        world.refresh(*model, refresh);
        world.executor.advance(50ms);
        model->modeBusy.set({displayA});
        model->isQuitting.set(c.quitting);
        world.executor.advance(50ms);

        EXPECT_EQ(refresh.summary(), "done");
        EXPECT_EQ(idsOf(model->displays.get()), std::vector{displayA});
        EXPECT_FALSE(model->isRefreshing.get());
        EXPECT_EQ(model->pendingHardwareRefresh.get(), c.pending);
        if (c.quitting)
            continue;

        // What the end of the mode change does with the pending refresh.
        model->modeBusy.set({});
        TaskOutcome<void> deferred;
        world.refresh(*model, deferred);
        world.executor.advance(100ms);
        EXPECT_EQ(idsOf(model->displays.get()), std::vector{displayB});
        EXPECT_FALSE(model->pendingHardwareRefresh.get());
    }
}

TEST(HardwareRefreshTest, RenameDuringTheWaitsWins)
{
    RefreshWorld world;
    const auto model = world.start();
    model->configuration.modify([](Configuration& document) {
        document.displayNames = std::map<std::string, std::string>{{displayB, "Desk"}};
    });
    world.discovery.hardware = connected({device(displayB, "Raw")});
    // The first sight of B saves its Default settings: the user renames it meanwhile.
    const Subscription renaming = model->pendingDefaultCaptureSaves.observe([&] {
        model->configuration.modify(
            [](Configuration& document) { (*document.displayNames)[displayB] = "Studio"; });
    });
    TaskOutcome<void> refresh;
    world.refresh(*model, refresh);
    world.executor.runUntilIdle();

    ASSERT_EQ(model->displays->size(), 1u);
    EXPECT_EQ(model->displays->front().name, "Studio");
    EXPECT_EQ(std::ranges::count(model->configuration->knownDisplays,
                  DisplayReference{.id = displayB, .name = "Desk"}),
        1)
        << "known displays take the name the discovery was given";
    const std::vector<DisplayContext> contexts{{.id = displayB}};
    EXPECT_EQ(model->context->displays, contexts) << "no Space is known for the display";
}

TEST(HardwareRefreshTest, FirstSeenModeIsVerifiedOncePerEnvironment)
{
    struct Step {
        const char* what;
        std::string environment;
        bool hdr;
        bool recorded;
        std::size_t verifiedModes;
    };
    const Step steps[] = {
        {"first sight", "dock", false, true, 2},
        {"same environment, other mode", "dock", true, false, 2},
        {"new environment", "direct", true, true, 3},
        {"equal entry already stored", "stored", false, true, 3},
    };
    RefreshWorld world;
    const auto model = world.start();
    model->configuration.modify([](Configuration& document) {
        document.verifiedModes
            = {{.displayID = displayA, .environment = "stored", .mode = {.hdr = false}}};
    });
    model->initialModeEnvironments.set({});
    for (const Step& step : steps) {
        SCOPED_TRACE(step.what);
        DiscoveredHardware hardware = connected({device(displayA), device(displayB)});
        hardware.snapshot.environments = {{displayA, step.environment}};
        hardware.snapshot.currentModes[displayA] = {.hdr = step.hdr};
        world.discovery.hardware = hardware;
        TaskOutcome<void> refresh;

        world.refresh(*model, refresh);
        world.executor.runUntilIdle();

        const auto& verified = model->configuration->verifiedModes;
        EXPECT_EQ(verified.size(), step.verifiedModes);
        const VerifiedModeConfiguration seen{
            .displayID = displayA, .environment = step.environment, .mode = {.hdr = step.hdr}};
        EXPECT_EQ(std::ranges::count(verified, seen), step.recorded ? 1 : 0);
        EXPECT_TRUE(model->initialModeEnvironments->contains(displayA + "|" + step.environment));
    }
    EXPECT_EQ(model->initialModeEnvironments->size(), 3u) << "display B had no environment";
}

TEST(HardwareRefreshTest, FirstSeenDisplayIsCapturedAndSavedOnce)
{
    RefreshWorld world;
    const auto model = world.start();
    std::vector<std::int64_t> pendingSaves;
    const Subscription watching = model->pendingDefaultCaptureSaves.observe(
        [&] { pendingSaves.push_back(model->pendingDefaultCaptureSaves.get()); });
    const ControlKey brightness = keyOf(displayB, SettingKey::brightness);
    DiscoveredHardware hardware = connected({device(displayA), device(displayB)});
    hardware.snapshot.observed[brightness] = SettingValue::percent(0.6);
    hardware.snapshot.capabilities[brightness] = {.available = true};
    world.discovery.hardware = hardware;

    for (const int round : {1, 2}) {
        SCOPED_TRACE(round);
        TaskOutcome<void> refresh;
        world.refresh(*model, refresh);
        world.executor.runUntilIdle();
        EXPECT_EQ(pendingSaves, (std::vector<std::int64_t>{1, 0}));
    }
    const DefaultSettings defaults = model->configuration->defaultSettings();
    EXPECT_TRUE(defaults.initializedDisplayIDs.contains(displayB));
    EXPECT_EQ(defaults.value(brightness), SettingValue::percent(0.6));
    EXPECT_EQ(configurationIn(world.defaultSettingsFile()).defaultSettings(), defaults);
}

TEST(HardwareRefreshTest, PendingCaptureSaveIsReleasedOnEveryPath)
{
    struct Case {
        const char* what;
        bool settingsError;
        bool cancel;
        bool settingsKnown;
        std::vector<std::int64_t> pendingSaves;
    };
    const Case cases[] = {
        {"saved", false, false, false, {1, 0}},
        {"only the resolution is new", false, false, true, {1, 0}},
        {"cancelled while saving", false, true, false, {1, 0}},
        {"settings error", true, false, false, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        RefreshWorld world;
        const auto model = world.start();
        if (c.settingsError)
            model->settingsError.set("Broken");
        if (c.settingsKnown) {
            model->configuration.modify([](Configuration& document) {
                DefaultSettings defaults = document.defaultSettings();
                defaults.initializedDisplayIDs.insert(displayB);
                document.setDefaultSettings(defaults);
            });
        }
        std::optional<TaskHandle> capture;
        std::vector<std::int64_t> pendingSaves;
        const Subscription watching = model->pendingDefaultCaptureSaves.observe([&] {
            pendingSaves.push_back(model->pendingDefaultCaptureSaves.get());
            if (c.cancel && capture)
                capture->cancel();
        });
        HardwareSnapshot snapshot;
        snapshot.currentModes[displayB] = {.resolution = fullHD};
        TaskOutcome<void> outcome;

        capture = spawn(world.executor,
            recordOutcome(model->captureInitialDefaults(snapshot, {displayB}), outcome));
        world.executor.runUntilIdle();

        EXPECT_TRUE(outcome.hasEnded());
        EXPECT_EQ(pendingSaves, c.pendingSaves);
        EXPECT_EQ(model->configuration
                      ->displayResolution(model->configuration->defaultProfile(), displayB)
                      .has_value(),
            !c.settingsError);
    }
}

TEST(HardwareRefreshTest, OnlyALoadedModelSavesWhenTheRefreshEnds)
{
    for (const bool loaded : {false, true}) {
        SCOPED_TRACE(loaded);
        RefreshWorld world;
        const auto model = world.start();
        // As during start-up, which saves and resolves after its own refresh.
        model->isLoaded.set(loaded);
        // Nothing to capture, so only the end of the refresh may save.
        model->configuration.modify([](Configuration& document) {
            DefaultSettings defaults = document.defaultSettings();
            defaults.initializedDisplayIDs.insert(displayB);
            document.setDefaultSettings(defaults);
        });
        DiscoveredHardware hardware = connected({device(displayB)}, "dock");
        hardware.snapshot.currentModes[displayB] = {.hdr = true};
        world.discovery.hardware = hardware;
        TaskOutcome<void> refresh;

        world.refresh(*model, refresh);
        world.executor.runUntilIdle();

        const VerifiedModeConfiguration seen{
            .displayID = displayB, .environment = "dock", .mode = {.hdr = true}};
        EXPECT_EQ(std::ranges::count(model->configuration->verifiedModes, seen), 1);
        EXPECT_EQ(
            std::ranges::count(configurationIn(world.defaultSettingsFile()).verifiedModes, seen),
            loaded ? 1 : 0);
    }
}

TEST(HardwareRefreshTest, SleepDuringTheCaptureSaveKeepsOnlyTheKnownDisplays)
{
    RefreshWorld world;
    const auto model = world.start();
    world.discovery.hardware = connected({device(displayA), device(displayB)});
    const Subscription sleeping = model->pendingDefaultCaptureSaves.observe([&] {
        if (model->pendingDefaultCaptureSaves.get() == 1)
            model->suspend();
    });
    TaskOutcome<void> refresh;
    world.refresh(*model, refresh);
    world.executor.runUntilIdle();

    EXPECT_EQ(idsOf(model->displays.get()), std::vector{displayA});
    EXPECT_TRUE(model->isSuspended.get());
    EXPECT_EQ(model->pendingDefaultCaptureSaves.get(), 0);
    EXPECT_EQ(model->configuration->knownDisplays.size(), 2u);
}

TEST(HardwareRefreshTest, ObservedValuesFollowTheAvailableControls)
{
    RefreshWorld world;
    const auto model = world.start();
    const ControlKey kept = keyOf(displayA, SettingKey::brightness);
    const ControlKey unavailable = keyOf(displayA, SettingKey::contrast);
    const ControlKey unknown = keyOf(displayB, SettingKey::brightness);
    const SettingValue half = SettingValue::percent(0.5);
    const ControlApplyReport report{.requested = half, .observed = half, .didWrite = true};
    model->observed.set({{kept, half}, {unavailable, half}, {unknown, half}});
    model->confirmedApplications.set({{kept, report}, {unavailable, report}, {unknown, report}});
    world.discovery.hardware.snapshot.capabilities
        = {{kept, {.available = true}}, {unavailable, {.available = false}}};
    TaskOutcome<void> refresh;

    world.refresh(*model, refresh);
    world.executor.runUntilIdle();

    EXPECT_EQ(keysOf(model->observed.get()), std::set{kept});
    EXPECT_EQ(keysOf(model->confirmedApplications.get()), std::set{kept});
}

TEST(HardwareRefreshTest, ResolutionsAreQueuedAgainOnlyWhereTheEnvironmentChanged)
{
    struct Case {
        const char* what;
        bool suspended;
        std::string environmentOfB;
        std::set<std::string> queued;
    };
    const Case cases[] = {
        {"nothing changed", false, "wired", {}},
        {"B moved to another port", false, "dock", {displayB}},
        {"after a suspension", true, "wired", {displayA, displayB}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        RefreshWorld world;
        world.discovery.hardware = connected({device(displayA), device(displayB)});
        const auto model = world.start();
        if (c.suspended)
            model->suspend();
        model->pendingResolutions.set({{"gone", fullHD}});
        world.discovery.hardware.snapshot.environments[displayB] = c.environmentOfB;
        TaskOutcome<void> refresh;

        world.refresh(*model, refresh);
        world.executor.runUntilIdle();

        EXPECT_EQ(keysOf(model->pendingResolutions.get()), c.queued);
    }
}

TEST(HardwareRefreshTest, RefreshAcknowledgesTheContextItRebuilds)
{
    RefreshWorld world;
    world.discovery.hardware.displays = DisplayInventory::snapshot(world.mac.platform());
    const auto model = world.start();
    world.discovery.latency = 100ms;
    TaskOutcome<void> refresh;
    world.refresh(*model, refresh);
    world.executor.advance(10ms);
    world.mac.workspace.frontmostProcess = 202;
    model->contextChanged();
    ASSERT_TRUE(model->scheduler().isWaiting());
    model->failed.set(
        {{keyOf(defaultBuiltInID, SettingKey::brightness), SettingValue::percent(0.2)}});

    world.executor.advance(90ms);

    EXPECT_EQ(refresh.summary(), "done");
    EXPECT_FALSE(model->scheduler().isWaiting());
    EXPECT_EQ(model->context->focusedDisplayID, defaultExternalID);
    EXPECT_TRUE(model->failed->empty());
    model->contextChanged();
    EXPECT_FALSE(model->scheduler().isWaiting()) << "the refreshed context is the scheduler's";
}

TEST(HardwareRefreshTest, WithoutAnInjectedDiscoveryThePlatformIsRead)
{
    ContextWorld world;
    const auto model = AppModel::create(world.environment(), {.startAutomatically = true});
    world.executor.advance(10s);

    ASSERT_TRUE(model->isLoaded.get());
    EXPECT_EQ(idsOf(model->displays.get()), (std::vector{defaultBuiltInID, defaultExternalID}));
    EXPECT_EQ(keysOf(model->hardwareSnapshot->environments),
        (std::set{defaultBuiltInID, defaultExternalID}));
    EXPECT_FALSE(model->hardwareSnapshot->capabilities.empty());
}

} // namespace
} // namespace quorvane
