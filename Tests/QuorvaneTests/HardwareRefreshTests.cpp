#include "Quorvane/AppModel.h"

#include "ContextTestSupport.h"
#include "Quorvane/WorkspaceEvents.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <vector>

namespace quorvane {
namespace {

using namespace std::chrono_literals;
using namespace workspaceNotification;

const std::string displayA = "aaaaaaaa-0000-0000-0000-000000000001";
const std::string displayB = "bbbbbbbb-0000-0000-0000-000000000002";
const DisplayResolution fullHD{
    .width = 1920, .height = 1080, .pixelWidth = 1920, .pixelHeight = 1080};

DisplayDevice device(const std::string& id, std::string name = "Monitor")
{
    return {.id = id, .runtimeID = 7, .name = std::move(name)};
}

ControlKey keyOf(const std::string& id, SettingKey setting = SettingKey::brightness)
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

/// The displays shown, by the first letter of their id, and the refresh flags that are set.
std::string stateOf(const AppModel& model)
{
    std::string line;
    for (const DisplayDevice& display : model.displays.get())
        line += display.id.front();
    for (const auto& [set, name] : {std::pair{model.isRefreshing.get(), " refreshing"},
             {model.isSuspended.get(), " suspended"},
             {model.pendingHardwareRefresh.get(), " pending"}}) {
        if (set)
            line += name;
    }
    return line;
}

template <typename Key, typename Value> std::set<Key> keysOf(const std::map<Key, Value>& map)
{
    std::set<Key> keys;
    for (const auto& entry : map)
        keys.insert(entry.first);
    return keys;
}

void markDefaultsTaken(AppModel& model, const std::string& displayID)
{
    model.configuration.modify([&](Configuration& document) {
        DefaultSettings defaults = document.defaultSettings();
        defaults.initializedDisplayIDs.insert(displayID);
        document.setDefaultSettings(defaults);
    });
}

/// The default simulated Mac, with display A discovered instantly.
struct RefreshWorld : ContextWorld {
    RefreshWorld() { hardware = connected({device(displayA)}); }
};

TEST(HardwareRefreshTest, GuardsStopTheRefreshBeforeItTakesARevision)
{
    struct Case {
        const char* what;
        bool demo, quitting, modeBusy, pendingBefore;
        int discoveries;
        std::string state;
    };
    const Case cases[] = {
        {"demo mode", true, false, false, false, 0, ""},
        {"quitting", false, true, false, false, 0, "a"},
        {"mode change running", false, false, true, false, 0, "a pending"},
        {"free to run", false, false, false, true, 1, "b"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        RefreshWorld world;
        const auto model = c.demo
            ? world.idleModel({.simulation = true, .hardwareDiscovery = world.discovery()})
            : world.start();
        const int discoveriesBefore = world.discoveries;
        const std::int64_t revisionBefore = model->refreshRevision.get();
        world.hardware = connected({device(displayB)});
        model->isQuitting.set(c.quitting);
        if (c.modeBusy)
            model->modeBusy.set({displayA});
        model->pendingHardwareRefresh.set(c.pendingBefore);

        const auto& refresh = world.refresh(*model);
        world.executor.runUntilIdle();

        EXPECT_EQ(refresh.summary(), "done");
        EXPECT_EQ(world.discoveries - discoveriesBefore, c.discoveries);
        EXPECT_EQ(model->refreshRevision.get() - revisionBefore, c.discoveries);
        EXPECT_EQ(stateOf(*model), c.state);
    }
}

TEST(HardwareRefreshTest, WhatHappensDuringTheWaitsStopsTheStaleRefresh)
{
    struct Case {
        const char* what;
        bool duringCaptureSave;
        void (*interrupt)(RefreshWorld&, AppModel&);
        std::string stopped; // the state once the stale refresh ended
        std::size_t known;
        std::string resumed; // the state after the wake that follows
    };
    const auto sleepNow
        = [](RefreshWorld& world, AppModel&) { post(world.mac.workspaceNotifications, willSleep); };
    const auto modeChange = [](RefreshWorld&, AppModel& model) { model.modeBusy.set({displayA}); };
    const Case cases[] = {
        {"sleep during discovery", false, sleepNow, "a suspended", 1, "ab"},
        {"sleep during the capture save", true, sleepNow, "a suspended", 2, "ab"},
        {"mode change", false, modeChange, "a pending", 1, "a pending"},
        {"mode change while quitting", false,
            [](RefreshWorld&, AppModel& model) {
                model.modeBusy.set({displayA});
                model.isQuitting.set(true);
            },
            "a", 1, "a"},
        // The newer refresh owns the flag; the wake overtakes it in turn.
        {"newer refresh", false,
            [](RefreshWorld& world, AppModel& model) {
                world.latency = 200ms;
                world.refresh(model);
            },
            "a refreshing", 1, "ab"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        RefreshWorld world;
        const auto model = world.start();
        const HardwareSnapshot before = model->hardwareSnapshot.get();
        const Subscription saving = model->pendingDefaultCaptureSaves.observe([&] {
            if (c.duringCaptureSave && model->pendingDefaultCaptureSaves.get() == 1)
                c.interrupt(world, *model);
        });
        world.latency = c.duringCaptureSave ? 0ms : 100ms;
        world.hardware = connected({device(displayA), device(displayB, "Older")});

        post(world.mac.notifications, didChangeScreenParameters);
        world.executor.advance(50ms);
        if (!c.duringCaptureSave) {
            EXPECT_EQ(stateOf(*model), "a refreshing");
            c.interrupt(world, *model);
        }
        world.executor.advance(100ms);
        EXPECT_EQ(stateOf(*model), c.stopped);
        EXPECT_EQ(model->hardwareSnapshot.get(), before);
        // A display seen before the stop stays known.
        EXPECT_EQ(model->configuration->knownDisplays.size(), c.known);
        EXPECT_EQ(model->pendingDefaultCaptureSaves.get(), 0);

        world.hardware = connected({device(displayA), device(displayB, "Newer")});
        post(world.mac.workspaceNotifications, didWake);
        world.executor.advance(1s);
        EXPECT_EQ(stateOf(*model), c.resumed);
        const auto& known = model->configuration->knownDisplays;
        EXPECT_EQ(std::ranges::count(known, DisplayReference{displayB, "Older"}), 0);
        EXPECT_EQ(std::ranges::count(known, DisplayReference{displayB, "Newer"}),
            c.resumed == "ab" ? 1 : 0);
    }
}

TEST(HardwareRefreshTest, RenameDuringTheWaitsWins)
{
    RefreshWorld world;
    const auto model = world.start();
    model->configuration.modify([](Configuration& document) {
        document.displayNames = std::map<std::string, std::string>{{displayB, "Desk"}};
    });
    world.hardware = connected({device(displayB, "Raw")});
    // The first sight of B saves its Default settings: the user renames it meanwhile.
    const Subscription renaming = model->pendingDefaultCaptureSaves.observe([&] {
        model->configuration.modify(
            [](Configuration& document) { (*document.displayNames)[displayB] = "Studio"; });
    });
    world.refresh(*model);
    world.executor.runUntilIdle();

    ASSERT_EQ(stateOf(*model), "b");
    EXPECT_EQ(model->displays->front().name, "Studio");
    EXPECT_EQ(model->configuration->knownDisplays.back(), (DisplayReference{displayB, "Desk"}))
        << "known displays take the name the discovery was given";
    EXPECT_EQ(model->context->displays, std::vector<DisplayContext>{{.id = displayB}})
        << "no Space is known for the display";
}

TEST(HardwareRefreshTest, FirstSeenModeIsVerifiedOncePerEnvironmentAndSavedWhenLoaded)
{
    struct Step {
        std::string environment;
        bool hdr;
        std::size_t verified;
        bool recorded;
        bool loaded = true;
    };
    const Step steps[] = {
        {"dock", false, 2, true},
        {"dock", true, 2, false}, // same environment, other mode
        {"direct", true, 3, true},
        {"stored", false, 3, true}, // an equal entry is already there
        // As during start-up, which saves after its own refresh.
        {"late", false, 4, true, false},
    };
    RefreshWorld world;
    const auto model = world.start();
    model->configuration.modify([](Configuration& document) {
        document.verifiedModes
            = {{.displayID = displayA, .environment = "stored", .mode = {.hdr = false}}};
    });
    model->initialModeEnvironments.set({});
    for (const Step& step : steps) {
        SCOPED_TRACE(step.environment + (step.hdr ? " hdr" : ""));
        model->isLoaded.set(step.loaded);
        world.hardware = connected({device(displayA), device(displayB)});
        world.hardware.snapshot.environments = {{displayA, step.environment}};
        world.hardware.snapshot.currentModes[displayA] = {.hdr = step.hdr};
        world.refresh(*model);
        world.executor.runUntilIdle();

        const VerifiedModeConfiguration seen{
            .displayID = displayA, .environment = step.environment, .mode = {.hdr = step.hdr}};
        EXPECT_EQ(model->configuration->verifiedModes.size(), step.verified);
        EXPECT_EQ(std::ranges::count(model->configuration->verifiedModes, seen), step.recorded);
        EXPECT_EQ(
            std::ranges::count(configurationIn(world.defaultSettingsFile()).verifiedModes, seen),
            step.recorded && step.loaded);
    }
    EXPECT_EQ(model->initialModeEnvironments->size(), 4u) << "display B had no environment";
}

TEST(HardwareRefreshTest, CaptureSavesWhatIsNewAndAlwaysReleasesItsPendingSave)
{
    struct Case {
        const char* what;
        bool settingsError, cancel, settingsKnown, newMode;
        std::vector<std::int64_t> pendingSaves;
    };
    const Case cases[] = {
        {"saved", false, false, false, true, {1, 0}},
        {"only the resolution is new", false, false, true, true, {1, 0}},
        {"nothing new", false, false, true, false, {}},
        {"cancelled while saving", false, true, false, true, {1, 0}},
        {"settings error", true, false, false, true, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        RefreshWorld world;
        const auto model = world.start();
        if (c.settingsError)
            model->settingsError.set("Broken");
        if (c.settingsKnown)
            markDefaultsTaken(*model, displayB);
        std::optional<TaskHandle> capture;
        std::vector<std::int64_t> pendingSaves;
        const Subscription watching = model->pendingDefaultCaptureSaves.observe([&] {
            pendingSaves.push_back(model->pendingDefaultCaptureSaves.get());
            if (c.cancel && capture)
                capture->cancel();
        });
        HardwareSnapshot snapshot{.capabilities = {{keyOf(displayB), {.available = true}}},
            .observed = {{keyOf(displayB), SettingValue::percent(0.6)}}};
        if (c.newMode)
            snapshot.currentModes[displayB] = {.resolution = fullHD};
        TaskOutcome<void> outcome;

        capture = spawn(world.executor,
            recordOutcome(model->captureInitialDefaults(snapshot, {displayB}), outcome));
        world.executor.runUntilIdle();

        EXPECT_TRUE(outcome.hasEnded());
        EXPECT_EQ(pendingSaves, c.pendingSaves);
        const Configuration& document = model->configuration.get();
        EXPECT_EQ(document.displayResolution(document.defaultProfile(), displayB).has_value(),
            !pendingSaves.empty());
        const DefaultSettings defaults = document.defaultSettings();
        EXPECT_EQ(defaults.value(keyOf(displayB)) == SettingValue::percent(0.6),
            !c.settingsKnown && !c.settingsError);
        if (!c.cancel && !pendingSaves.empty()) {
            EXPECT_EQ(configurationIn(world.defaultSettingsFile()).defaultSettings(), defaults);
        }
    }
}

TEST(HardwareRefreshTest, AdoptsOnlyControlsStillAvailableAndRequeuesChangedEnvironments)
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
        world.hardware = connected({device(displayA), device(displayB)});
        const auto model = world.start();
        if (c.suspended)
            model->suspend();
        model->pendingResolutions.set({{"gone", fullHD}});
        const ControlKey kept = keyOf(displayA), unavailable = keyOf(displayB),
                         unknown = keyOf(displayB, SettingKey::contrast);
        const SettingValue half = SettingValue::percent(0.5);
        const ControlApplyReport report{.requested = half, .observed = half, .didWrite = true};
        model->observed.set({{kept, half}, {unavailable, half}, {unknown, half}});
        model->confirmedApplications.set(
            {{kept, report}, {unavailable, report}, {unknown, report}});
        world.hardware.snapshot.capabilities
            = {{kept, {.available = true}}, {unavailable, {.available = false}}};
        world.hardware.snapshot.environments[displayB] = c.environmentOfB;
        world.refresh(*model);
        world.executor.runUntilIdle();

        EXPECT_EQ(keysOf(model->pendingResolutions.get()), c.queued);
        EXPECT_EQ(keysOf(model->observed.get()), std::set{kept});
        EXPECT_EQ(keysOf(model->confirmedApplications.get()), std::set{kept});
    }
}

TEST(HardwareRefreshTest, RefreshAcknowledgesTheContextItRebuilds)
{
    ContextWorld world;
    const auto model = world.start();
    world.latency = 100ms;
    const auto& refresh = world.refresh(*model);
    world.executor.advance(10ms);
    world.mac.workspace.frontmostProcess = 202;
    model->contextChanged();
    ASSERT_TRUE(model->scheduler().isWaiting());
    model->failed.set({{keyOf(defaultBuiltInID), SettingValue::percent(0.2)}});

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
    EXPECT_EQ(stateOf(*model), "39");
    EXPECT_EQ(keysOf(model->hardwareSnapshot->environments),
        (std::set{defaultBuiltInID, defaultExternalID}));
    EXPECT_FALSE(model->hardwareSnapshot->capabilities.empty());
}

} // namespace
} // namespace quorvane
