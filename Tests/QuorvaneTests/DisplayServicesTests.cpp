#include "Quorvane/AppModel.h"

#include "ApplyTestSupport.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace quorvane {
namespace {

using namespace apply_support;
using namespace std::chrono_literals;

const DisplayResolution full{.width = 1920, .height = 1080, .pixelWidth = 1920, .pixelHeight = 1080};
const DisplayResolution wide{.width = 1920, .height = 1200, .pixelWidth = 1920, .pixelHeight = 1200};
const DisplayResolution small{.width = 1280, .height = 720, .pixelWidth = 1280, .pixelHeight = 720};
const RefreshPreference hz60 = RefreshPreference::fixed(60'000);
const RefreshPreference hz120 = RefreshPreference::fixed(120'000);
const RefreshPreference adaptive = RefreshPreference::adaptive();
const SystemDisplayControl nightShift = SystemDisplayControl::nightShift();
const SystemDisplayControl trueTone = SystemDisplayControl::trueTone();
const SystemDisplayControl externalAuto = SystemDisplayControl::automaticBrightness(externalID);

void offerModes(ApplyWorld& w)
{
    w.model->hardwareSnapshot.modify([](HardwareSnapshot& s) {
        s.modeChoices[externalID] = {{full, hz60}, {full, adaptive}, {full, hz120}, {full, hz60},
            {wide, hz60}, {small, std::nullopt}};
        s.currentModes[externalID] = {.refreshRate = hz120, .hdr = false, .resolution = full};
        s.environments[externalID] = "display-mode-v2|14.5|HDMI";
    });
}

TEST(DisplayServicesTest, RefreshRatesAtAResolution)
{
    struct Case {
        const char* what;
        std::string displayID;
        DisplayResolution resolution;
        ControlCapability expected;
    };
    const Case cases[] = {
        {"sorted by label, each once", externalID, full,
            {.available = true,
                .reason = "Refresh rates at the profile's resolution · preview required",
                .choices = {SettingValue::refresh(hz120), SettingValue::refresh(hz60),
                    SettingValue::refresh(adaptive)}}},
        {"a resolution without rates", externalID, small,
            {.available = false, .reason = "Refresh rate unavailable at the selected resolution"}},
        {"a resolution not offered", externalID,
            {.width = 800, .height = 600, .pixelWidth = 800, .pixelHeight = 600},
            {.available = false, .reason = "Refresh rate unavailable at the selected resolution"}},
        {"a display without mode choices keeps its own", builtinID, full,
            {.available = true, .reason = "DDC/CI"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ApplyWorld w;
        offerModes(w);
        w.model->hardwareSnapshot.modify([](HardwareSnapshot& s) {
            s.capabilities[keyOf(builtinID, SettingKey::refreshRate)] = {
                .available = true, .reason = "DDC/CI"};
        });

        const auto capabilities = w.model->capabilities({{c.displayID, c.resolution}});

        EXPECT_EQ(capabilities.at(keyOf(c.displayID, SettingKey::refreshRate)), c.expected);
        EXPECT_EQ(capabilities.at(brightness), w.model->hardwareSnapshot->capabilities.at(brightness));
    }
}

TEST(DisplayServicesTest, CompletingAndVerifyingAMode)
{
    struct Case {
        const char* what;
        ModeConfiguration request;
        std::optional<ModeConfiguration> completed;
    };
    const Case cases[] = {
        {"nothing asked keeps the current mode", {},
            ModeConfiguration{.refreshRate = hz120, .hdr = false, .resolution = full}},
        {"a new resolution without the current rate takes its first", {.resolution = wide},
            ModeConfiguration{.refreshRate = hz60, .hdr = false, .resolution = wide}},
        {"a new resolution without rates gives none", {.resolution = small},
            ModeConfiguration{.hdr = false, .resolution = small}},
        {"an asked rate stays", {.refreshRate = adaptive, .hdr = true},
            ModeConfiguration{.refreshRate = adaptive, .hdr = true, .resolution = full}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ApplyWorld w;
        offerModes(w);
        EXPECT_EQ(w.model->completeDisplayMode(c.request, externalID), c.completed);
        EXPECT_FALSE(w.model->isVerified(c.request, externalID));

        w.model->configuration.modify([&](Configuration& d) {
            d.verifiedModes.push_back({.displayID = externalID,
                .environment = "display-mode-v2|14.5|HDMI",
                .mode = *c.completed});
        });
        EXPECT_TRUE(w.model->isVerified(c.request, externalID));
        w.model->hardwareSnapshot.modify([](HardwareSnapshot& s) {
            s.environments[externalID] = "display-mode-v2|14.5|DisplayPort";
        });
        EXPECT_FALSE(w.model->isVerified(c.request, externalID)) << "another connection";
    }
    ApplyWorld w;
    w.model->hardwareSnapshot.modify(
        [](HardwareSnapshot& s) { s.environments[externalID] = "display-mode-v2|14.5|HDMI"; });
    EXPECT_EQ(w.model->completeDisplayMode({}, externalID), std::nullopt) << "no current mode";
    EXPECT_FALSE(w.model->isVerified({}, externalID));

    ApplyWorld unlisted;
    offerModes(unlisted);
    const RefreshPreference hz75 = RefreshPreference::fixed(75'000);
    unlisted.model->hardwareSnapshot.modify(
        [&](HardwareSnapshot& s) { s.currentModes[externalID].refreshRate = hz75; });
    EXPECT_EQ(unlisted.model->completeDisplayMode({.resolution = full}, externalID),
        (ModeConfiguration{.refreshRate = hz75, .hdr = false, .resolution = full}))
        << "the current resolution keeps its rate, listed or not";
}

TEST(DisplayServicesTest, QueueingProfileResolutions)
{
    ApplyWorld w;
    w.model->configuration.modify([](Configuration& d) {
        for (Profile& profile : d.profiles)
            profile.displayPreferences = ProfileDisplayPreferences{
                .resolutions = std::map<std::string, DisplayResolution>{{externalID, full}}};
    });
    w.model->pendingResolutions.set({{"gone", small}, {builtinID, small}});
    w.model->resolutionStatus.set({{builtinID, "Failed"}, {"gone", "Failed"}});
    w.model->failedModes.set({{externalID, ModeConfiguration{.hdr = true}}});

    w.model->queueProfileResolutions(std::vector<std::string>{});
    EXPECT_EQ(w.model->pendingResolutions->size(), 2U) << "an empty list changes nothing";

    w.model->queueProfileResolutions(std::vector<std::string>{builtinID});
    EXPECT_EQ(w.model->pendingResolutions.get(), (std::map<std::string, DisplayResolution>{{"gone", small}}));
    EXPECT_FALSE(w.model->resolutionStatus->contains(builtinID));

    w.model->queueProfileResolutions(std::nullopt);
    EXPECT_EQ(w.model->pendingResolutions.get(),
        (std::map<std::string, DisplayResolution>{{externalID, full}}));
    EXPECT_TRUE(w.model->failedModes->empty());
    EXPECT_TRUE(w.model->resolutionStatus->contains("gone"));
}

TEST(DisplayServicesTest, CancellingModeCommandsSparesABusyDisplay)
{
    ApplyWorld w;
    const TaskHandle idle = spawn(w.executor(), waitForever());
    const TaskHandle busy = spawn(w.executor(), waitForever());
    const Date applied = w.executor().wallNow();
    w.model->modeTasks.set({{externalID, idle}, {builtinID, busy}});
    w.model->modeIDs.set({{externalID, UUID::random()}, {builtinID, UUID::random()}});
    w.model->modeRequests.set({{externalID, ModeConfiguration{.hdr = true}}});
    w.model->modeStability.set({{externalID,
        ModeStability{.desired = ModeConfiguration{.hdr = true}, .changedAt = applied, .appliedAt = applied}}});
    w.model->modeBusy.set({builtinID});

    w.model->cancelModeCommands(false);
    w.executor().runUntilIdle();

    EXPECT_TRUE(idle.isFinished());
    EXPECT_FALSE(busy.isFinished());
    EXPECT_EQ(w.model->modeTasks->size(), 1U);
    EXPECT_FALSE(w.model->modeIDs->contains(externalID));
    EXPECT_TRUE(w.model->modeRequests->empty());
    EXPECT_EQ(w.model->modeStability->at(externalID), (ModeStability{.appliedAt = applied}));

    w.model->cancelModeCommand(builtinID);
    w.executor().runUntilIdle();
    EXPECT_TRUE(busy.isFinished()) << "cancelled, yet its entries stay";
    EXPECT_TRUE(w.model->modeTasks->contains(builtinID));
    EXPECT_TRUE(w.model->modeIDs->contains(builtinID));
}

TEST(DisplayServicesTest, StoppingOneDisplaysWrites)
{
    ApplyWorld w;
    w.model->scheduleApply(SettingValue::percent(0.4), brightness, false);
    w.model->scheduleApply(SettingValue::percent(0.4), builtinContrast, false);
    const TaskHandle write = w.model->tasks->at(brightness);
    const TaskHandle restoration = spawn(w.executor(), waitForever());
    w.model->ruleEditRestorations.set({{contrast, restoration}});
    const TaskHandle keyRead = spawn(w.executor(), waitForever());
    w.model->keyReadTask.set(keyRead);

    const std::vector<TaskHandle> stopped = w.model->stopDisplayWrites(externalID);

    EXPECT_EQ(stopped, (std::vector<TaskHandle>{write, restoration}));
    EXPECT_FALSE(w.model->tasks->contains(brightness));
    EXPECT_TRUE(w.model->tasks->contains(builtinContrast));
    EXPECT_TRUE(w.model->stopDisplayWrites("elsewhere").empty());
    const TaskHandle builtinWrite = w.model->tasks->at(builtinContrast);
    EXPECT_EQ(w.model->stopDisplayWrites(builtinID),
        (std::vector<TaskHandle>{builtinWrite, keyRead}))
        << "the built-in display's brightness key read goes too";
}

TEST(DisplayServicesTest, RecheckClearsFailuresAndRequeues)
{
    ApplyWorld w;
    w.model->failed.set({{brightness, SettingValue::percent(0.4)}});
    w.model->failedModes.set({{externalID, ModeConfiguration{.hdr = true}}});
    w.model->pendingResolutions.set({{"gone", small}});

    w.model->recheckHardware();
    w.executor().advance(30s); // the refresh it starts ends before the world does

    EXPECT_TRUE(w.model->failed->empty());
    EXPECT_TRUE(w.model->failedModes->empty());
    EXPECT_TRUE(w.model->pendingResolutions->empty());
}

Task<DiscoveredHardware> countedDiscovery(int* count)
{
    ++*count;
    co_return DiscoveredHardware{};
}

TEST(DisplayServicesTest, RefreshAfterAModeChangeRunsOnlyWhenOwed)
{
    struct Case {
        const char* what;
        bool quitting;
        bool suspended;
        bool pending;
        int discoveries;
    };
    const Case cases[] = {
        {"awake", false, false, false, 1},
        {"quitting", true, false, true, 0},
        {"suspended, nothing deferred", false, true, false, 0},
        {"suspended with a deferred refresh", false, true, true, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ModelWorld world;
        int discoveries = 0;
        const auto model = world.idleModel(
            {.hardwareDiscovery = [&discoveries] { return countedDiscovery(&discoveries); }});
        model->isQuitting.set(c.quitting);
        model->isSuspended.set(c.suspended);
        model->pendingHardwareRefresh.set(c.pending);

        const TaskHandle refresh = spawn(world.executor, model->refreshAfterModeChange());
        world.executor.advance(1s);

        EXPECT_TRUE(refresh.isFinished());
        EXPECT_EQ(discoveries, c.discoveries);
    }
}

TEST(DisplayServicesTest, BuiltinHDRIsManagedByMacOS)
{
    ApplyWorld w;
    w.model->displays.modify([](std::vector<DisplayDevice>& displays) {
        displays.push_back({.id = "plain-builtin", .isBuiltIn = true});
    });
    EXPECT_EQ(w.model->hdrCapability(builtinID),
        (ControlCapability{.available = false, .reason = "HDR supported · managed by macOS"}));
    EXPECT_EQ(w.model->hdrCapability("plain-builtin"),
        (ControlCapability{.available = false, .reason = "HDR managed by macOS"}));
    EXPECT_EQ(w.model->hdrCapability(externalID), (ControlCapability{.available = true, .reason = "DDC/CI"}));
    EXPECT_EQ(w.model->hdrCapability("gone"), std::nullopt);
}

/// A world whose profile asks for Night Shift on and True Tone off.
struct PreferencesWorld : ApplyWorld {
    PreferencesWorld()
    {
        model->configuration.modify([](Configuration& d) {
            for (Profile& profile : d.profiles)
                profile.displayPreferences
                    = ProfileDisplayPreferences{.trueTone = false, .nightShift = true};
        });
        systemDisplay.state.values = {{nightShift, false}, {trueTone, false}};
        model->systemDisplaySnapshot.set(systemDisplay.state);
        model->lastSystemDisplayRequests.set(std::nullopt);
    }
};

/// Ignores writes: macOS that accepts a change and keeps the old value.
class StubbornSystemDisplay final : public SystemDisplayBackend {
public:
    SystemDisplaySnapshot state;
    Task<SystemDisplaySnapshot> snapshot() override { co_return state; }
    Task<void> write(bool, SystemDisplayControl) override { co_return; }
};

TEST(DisplayServicesTest, ApplyWritesWaitsAndVerifies)
{
    PreferencesWorld w;
    EXPECT_TRUE(w.model->applySystemDisplayPreferencesIfNeeded());
    EXPECT_TRUE(w.model->systemDisplayApplying.get());

    w.executor().advance(20ms); // first snapshot, then the write
    EXPECT_EQ(w.systemDisplay.writes,
        (std::vector<std::pair<SystemDisplayControl, bool>>{{nightShift, true}}));
    w.executor().advance(149ms);
    EXPECT_TRUE(w.model->systemDisplayApplying.get());
    w.executor().advance(1ms + 20ms); // the verifying and the final snapshot
    EXPECT_FALSE(w.model->systemDisplayApplying.get());
    EXPECT_EQ(w.model->systemDisplaySnapshot->values.at(nightShift), true);
    EXPECT_TRUE(w.model->systemDisplayErrors->empty());
    EXPECT_FALSE(w.model->systemDisplayTask.get());

    EXPECT_FALSE(w.model->applySystemDisplayPreferencesIfNeeded()) << "settled: nothing starts";
    w.model->invalidateSystemDisplayRequest();
    EXPECT_TRUE(w.model->applySystemDisplayPreferencesIfNeeded());
}

TEST(DisplayServicesTest, ApplyRecordsAnErrorPerControl)
{
    struct Case {
        const char* what;
        std::function<void(PreferencesWorld&)> arrange;
        std::map<SystemDisplayControl, std::string> errors;
    };
    const Case cases[] = {
        {"write refused",
            [](PreferencesWorld& w) { w.systemDisplay.writeFailures[nightShift] = "Refused"; },
            {{nightShift, "Refused"}}},
        {"a control macOS cannot read, with its reason",
            [](PreferencesWorld& w) {
                w.systemDisplay.state.values.erase(nightShift);
                w.systemDisplay.state.unavailable[nightShift] = "Not on this Mac";
            },
            {{nightShift, "Not on this Mac"}}},
        {"a control macOS cannot read, without a reason",
            [](PreferencesWorld& w) { w.systemDisplay.state.values.erase(nightShift); },
            {{nightShift, "Control unavailable"}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        PreferencesWorld w;
        c.arrange(w);
        // Kept aside: a control that disappears changes the requests, and the next apply
        // starts afresh.
        std::map<SystemDisplayControl, std::string> reported;
        const Subscription subscription = w.model->systemDisplayErrors.observe([&] {
            if (!w.model->systemDisplayErrors->empty())
                reported = w.model->systemDisplayErrors.get();
        });
        ASSERT_TRUE(w.model->applySystemDisplayPreferencesIfNeeded());
        w.settle();
        EXPECT_EQ(reported, c.errors);
        EXPECT_FALSE(w.model->systemDisplayApplying.get());
    }
    ModelWorld world;
    StubbornSystemDisplay stubborn;
    stubborn.state.values = {{nightShift, false}};
    const auto model = world.idleModel({.systemDisplayBackend = &stubborn});
    model->configuration.modify([](Configuration& d) {
        d.automationEnabled = true;
        d.profiles.front().displayPreferences = ProfileDisplayPreferences{.nightShift = true};
    });
    model->isLoaded.set(true);
    model->systemDisplaySnapshot.set(stubborn.state);
    ASSERT_TRUE(model->applySystemDisplayPreferencesIfNeeded());
    world.executor.advance(1s);
    EXPECT_EQ(model->systemDisplayErrors->at(nightShift),
        "macOS did not confirm the requested setting. Activate again to retry.");
}

TEST(DisplayServicesTest, ApplyWaitsForModeChangesAndStaleAppliesChangeNothing)
{
    PreferencesWorld w;
    w.model->modeBusy.set({externalID});
    EXPECT_TRUE(w.model->applySystemDisplayPreferencesIfNeeded());
    EXPECT_FALSE(w.model->lastSystemDisplayRequests.get()) << "nothing started";
    w.model->modeBusy.set({});

    w.model->scheduleApply(SettingValue::percent(0.4), brightness, false);
    EXPECT_TRUE(w.model->applySystemDisplayPreferencesIfNeeded());
    EXPECT_TRUE(w.model->tasks->empty()) << "control writes are stopped first";
    w.executor().advance(100ms); // the write is under way
    const SystemDisplaySnapshot before = w.model->systemDisplaySnapshot.get();
    w.model->invalidateSystemDisplayRequest();
    w.settle();

    EXPECT_EQ(w.model->systemDisplaySnapshot.get(), before) << "a stale read-back is dropped";
    EXPECT_FALSE(w.model->systemDisplayApplying.get());
    EXPECT_TRUE(w.model->systemDisplayErrors->empty());
}

TEST(DisplayServicesTest, ApplyWritesNothingOnceUnwanted)
{
    struct Case {
        const char* what;
        std::function<void(PreferencesWorld&)> change;
    };
    const Case cases[] = {
        {"automation switched off",
            [](PreferencesWorld& w) {
                w.model->configuration.modify([](Configuration& d) { d.automationEnabled = false; });
            }},
        {"request invalidated", [](PreferencesWorld& w) { w.model->invalidateSystemDisplayRequest(); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        PreferencesWorld w;
        ASSERT_TRUE(w.model->applySystemDisplayPreferencesIfNeeded());
        w.executor().advance(5ms); // reading the first snapshot

        c.change(w);
        w.settle();

        EXPECT_TRUE(w.systemDisplay.writes.empty());
        EXPECT_FALSE(w.model->systemDisplayApplying.get());
    }
}

TEST(DisplayServicesTest, AutomaticBrightnessTakesBrightnessFromThePlan)
{
    struct Case {
        const char* what;
        bool on;
        bool applyingOn;
        std::optional<ManualHold> hold;
        bool assigned;
    };
    const ManualHold userHold{.value = SettingValue::percent(0.7)};
    const ManualHold outsideHold{.value = SettingValue::percent(0.7), .isExternal = true};
    const Case cases[] = {
        {"off", false, false, std::nullopt, true},
        {"on", true, false, std::nullopt, false},
        {"being switched on", false, true, std::nullopt, false},
        {"on, but the user holds it", true, false, userHold, true},
        {"on, held from outside", true, false, outsideHold, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ApplyWorld w;
        w.setDefault(brightness, SettingValue::percent(0.5));
        w.model->systemDisplaySnapshot.set({.values = {{externalAuto, c.on}}});
        if (c.applyingOn) {
            w.model->configuration.modify([](Configuration& d) {
                d.profiles.front().displayPreferences
                    = ProfileDisplayPreferences{.automaticBrightness = true};
            });
            w.model->systemDisplayApplying.set(true);
        }
        if (c.hold)
            w.model->holds.set({{brightness, *c.hold}});
        w.model->lastSystemDisplayRequests.set(w.model->systemDisplayRequests());

        w.model->resolveAndApply(false);

        const ResolvedPlan& plan = w.model->resolution.get();
        EXPECT_EQ(plan.assignments.contains(brightness), c.assigned);
        EXPECT_EQ(plan.unavailable.contains(brightness), !c.assigned);
        if (!c.assigned) {
            EXPECT_EQ(plan.unavailable.at(brightness), "Managed by macOS automatic brightness");
        }
    }
}

TEST(DisplayServicesTest, RefreshPublishesAndCapturesDefaultsOnce)
{
    ApplyWorld w;
    w.systemDisplay.state.values = {{nightShift, true}};
    std::vector<std::int64_t> pendingSaves;
    const Subscription subscription = w.model->pendingDefaultCaptureSaves.observe(
        [&] { pendingSaves.push_back(w.model->pendingDefaultCaptureSaves.get()); });
    std::optional<TaskHandle> refresh
        = spawn(w.executor(), w.model->refreshSystemDisplayPreferences(true));
    w.executor().advance(10ms);
    w.executor().runUntilIdle();

    EXPECT_TRUE(refresh->isFinished());
    EXPECT_EQ(w.model->systemDisplaySnapshot.get(), w.systemDisplay.state);
    EXPECT_FALSE(w.model->lastSystemDisplayRequests.get()) << "a new control invalidates";
    EXPECT_EQ(w.model->configuration->defaultProfile().capturedDisplayPreferences,
        (std::map<SystemDisplayControl, bool>{{nightShift, true}}));
    EXPECT_EQ(pendingSaves, (std::vector<std::int64_t>{1, 0})) << "raised during the save";

    // A read that lands after the request changed is dropped.
    w.systemDisplay.state.values = {{nightShift, false}};
    refresh = spawn(w.executor(), w.model->refreshSystemDisplayPreferences(true));
    w.executor().advance(5ms);
    w.model->invalidateSystemDisplayRequest();
    w.executor().advance(5ms);
    EXPECT_EQ(w.model->systemDisplaySnapshot->values.at(nightShift), true);
}

TEST(DisplayServicesTest, RefreshInvalidatesOnlyWhenTheControlsChange)
{
    struct Case {
        const char* what;
        std::map<SystemDisplayControl, bool> reported;
        bool invalidated;
    };
    const Case cases[] = {
        {"same controls, another value", {{nightShift, true}}, false},
        {"a control came", {{nightShift, false}, {SystemDisplayControl::darkMode(), true}}, true},
        {"a control went", {}, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ApplyWorld w;
        w.model->systemDisplaySnapshot.set({.values = {{nightShift, false}}});
        w.model->lastSystemDisplayRequests.set(std::map<SystemDisplayControl, bool>{});
        w.systemDisplay.state.values = c.reported;

        spawn(w.executor(), w.model->refreshSystemDisplayPreferences(false));
        w.executor().advance(10ms);

        EXPECT_EQ(w.model->systemDisplaySnapshot->values, c.reported);
        EXPECT_EQ(!w.model->lastSystemDisplayRequests.get(), c.invalidated);
    }
}

TEST(DisplayServicesTest, AnApplyThatEndsEarlyHandsTheFlagsOnOnlyWhenCurrent)
{
    struct Case {
        const char* what;
        bool supersede;
        bool applying;
    };
    const Case cases[] = {
        {"automation switched off meanwhile", false, false},
        {"a newer apply took over", true, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ApplyWorld w;
        w.model->systemDisplaySnapshot.set({.values = {{SystemDisplayControl::nightShift(), false}}});
        w.systemDisplay.state = w.model->systemDisplaySnapshot.get();
        w.model->lastSystemDisplayRequests.set(std::nullopt);
        w.model->scheduleApply(SettingValue::percent(0.4), brightness, false);
        ASSERT_TRUE(w.model->applySystemDisplayPreferencesIfNeeded());
        // The apply waits for the stopped write; meanwhile things change.
        w.model->configuration.modify([&](Configuration& d) {
            if (c.supersede)
                d.profiles.front().displayPreferences = ProfileDisplayPreferences{.nightShift = true};
            else
                d.automationEnabled = false;
        });
        if (c.supersede) {
            ASSERT_TRUE(w.model->applySystemDisplayPreferencesIfNeeded());
        }
        w.executor().advance(15ms); // the first apply has ended, the second is reading

        EXPECT_EQ(w.model->systemDisplayApplying.get(), c.applying);
        EXPECT_EQ(w.model->systemDisplayTask.get().has_value(), c.applying);
    }
}

TEST(DisplayServicesTest, AnApplyOutlivingItsModelTouchesNothing)
{
    struct Case {
        const char* what;
        std::chrono::milliseconds releasedAt;
        bool writeFails;
    };
    const Case cases[] = {
        {"released during the first read", 5ms, false},
        {"released during a failing write", 15ms, true},
        {"released during the settle pause", 100ms, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ModelWorld world;
        SlowSystemDisplay systemDisplay;
        systemDisplay.state.values = {{nightShift, false}};
        if (c.writeFails)
            systemDisplay.writeFailures[nightShift] = "Refused";
        auto model = world.idleModel({.systemDisplayBackend = &systemDisplay});
        model->configuration.modify([](Configuration& d) {
            d.automationEnabled = true;
            d.profiles.front().displayPreferences = ProfileDisplayPreferences{.nightShift = true};
        });
        model->isLoaded.set(true);
        model->systemDisplaySnapshot.set(systemDisplay.state);
        ASSERT_TRUE(model->applySystemDisplayPreferencesIfNeeded());
        const TaskHandle apply = *model->systemDisplayTask.get();
        world.executor.advance(c.releasedAt);

        model.reset();
        world.executor.advance(1s);

        EXPECT_TRUE(apply.isFinished());
    }
}

} // namespace
} // namespace quorvane
