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

DisplayResolution sized(int width, int height)
{
    return {.width = width, .height = height, .pixelWidth = width, .pixelHeight = height};
}

const DisplayResolution full = sized(1920, 1080);
const DisplayResolution wide = sized(1920, 1200);
const DisplayResolution small = sized(1280, 720);
const RefreshPreference hz60 = RefreshPreference::fixed(60'000);
const RefreshPreference hz120 = RefreshPreference::fixed(120'000);
const RefreshPreference adaptive = RefreshPreference::adaptive();
const SystemDisplayControl nightShift = SystemDisplayControl::nightShift();
const SystemDisplayControl trueTone = SystemDisplayControl::trueTone();

void offerModes(ApplyWorld& w)
{
    w.model->hardwareSnapshot.modify([](HardwareSnapshot& s) {
        s.modeChoices[externalID] = {{full, hz60}, {full, adaptive}, {full, hz120}, {full, hz60},
            {wide, hz60}, {small, std::nullopt}};
        s.currentModes[externalID] = {.refreshRate = hz120, .hdr = false, .resolution = full};
        s.environments[externalID] = "display-mode-v2|14.5|HDMI";
        s.capabilities[keyOf(builtinID, SettingKey::refreshRate)]
            = {.available = true, .reason = "DDC/CI"};
    });
}

TEST(DisplayServicesTest, RefreshRatesAtAResolution)
{
    const ControlCapability none{
        .available = false, .reason = "Refresh rate unavailable at the selected resolution"};
    const struct {
        const char* what;
        std::string displayID;
        DisplayResolution resolution;
        ControlCapability expected;
    } cases[] = {
        {"sorted by label, each once", externalID, full,
            {.available = true,
                .reason = "Refresh rates at the profile's resolution · preview required",
                .choices = {SettingValue::refresh(hz120), SettingValue::refresh(hz60),
                    SettingValue::refresh(adaptive)}}},
        {"a resolution without rates", externalID, small, none},
        {"a resolution not offered", externalID, sized(800, 600), none},
        {"a display without mode choices keeps its own", builtinID, full,
            {.available = true, .reason = "DDC/CI"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ApplyWorld w;
        offerModes(w);
        const auto capabilities = w.model->capabilities({{c.displayID, c.resolution}});
        EXPECT_EQ(capabilities.at(keyOf(c.displayID, SettingKey::refreshRate)), c.expected);
        EXPECT_EQ(
            capabilities.at(brightness), w.model->hardwareSnapshot->capabilities.at(brightness));
    }
}

TEST(DisplayServicesTest, CompletingAndVerifyingAMode)
{
    const RefreshPreference hz75 = RefreshPreference::fixed(75'000);
    const struct {
        const char* what;
        ModeConfiguration request;
        ModeConfiguration completed;
        std::optional<RefreshPreference> current = hz120;
    } cases[] = {
        {"nothing asked keeps the current mode", {},
            {.refreshRate = hz120, .hdr = false, .resolution = full}},
        {"a new resolution without the current rate takes its first", {.resolution = wide},
            {.refreshRate = hz60, .hdr = false, .resolution = wide}},
        {"a new resolution without rates gives none", {.resolution = small},
            {.hdr = false, .resolution = small}},
        {"an asked rate stays", {.refreshRate = adaptive, .hdr = true},
            {.refreshRate = adaptive, .hdr = true, .resolution = full}},
        {"the current resolution keeps its rate, listed or not", {.resolution = full},
            {.refreshRate = hz75, .hdr = false, .resolution = full}, hz75},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ApplyWorld w;
        offerModes(w);
        w.model->hardwareSnapshot.modify(
            [&](HardwareSnapshot& s) { s.currentModes[externalID].refreshRate = c.current; });
        EXPECT_EQ(w.model->completeDisplayMode(c.request, externalID), c.completed);
        EXPECT_FALSE(w.model->isVerified(c.request, externalID));

        w.model->configuration.modify([&](Configuration& d) {
            d.verifiedModes.push_back({.displayID = externalID,
                .environment = "display-mode-v2|14.5|HDMI",
                .mode = c.completed});
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
}

TEST(DisplayServicesTest, QueueingProfileResolutions)
{
    ApplyWorld w;
    w.model->configuration.modify([](Configuration& d) {
        for (Profile& profile : d.profiles.editEach())
            profile.displayPreferences = ProfileDisplayPreferences{
                .resolutions = std::map<std::string, DisplayResolution>{{externalID, full}}};
    });
    w.model->pendingResolutions.set({{"gone", small}, {builtinID, small}});
    w.model->resolutionStatus.set({{builtinID, "Failed"}, {"gone", "Failed"}});
    w.model->failedModes.set({{externalID, ModeConfiguration{.hdr = true}}});

    w.model->queueProfileResolutions(std::vector<std::string>{});
    EXPECT_EQ(w.model->pendingResolutions->size(), 2U) << "an empty list changes nothing";
    w.model->queueProfileResolutions(std::vector<std::string>{builtinID});
    EXPECT_EQ(w.model->pendingResolutions.get(),
        (std::map<std::string, DisplayResolution>{{"gone", small}}));
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
    const ModeConfiguration hdrOn{.hdr = true};
    w.model->modeTasks.set({{externalID, idle}, {builtinID, busy}});
    w.model->modeIDs.set({{externalID, UUID::random()}, {builtinID, UUID::random()}});
    w.model->modeRequests.set({{externalID, hdrOn}});
    w.model->modeStability.set(
        {{externalID, {.desired = hdrOn, .changedAt = applied, .appliedAt = applied}}});
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
    EXPECT_TRUE(w.model->modeTasks->contains(builtinID) && w.model->modeIDs->contains(builtinID));
}

TEST(DisplayServicesTest, StoppingOneDisplaysWrites)
{
    ApplyWorld w;
    w.model->scheduleApply(percent(0.4), brightness, false);
    w.model->scheduleApply(percent(0.4), builtinContrast, false);
    const TaskHandle write = w.model->tasks->at(brightness);
    const TaskHandle builtinWrite = w.model->tasks->at(builtinContrast);
    const TaskHandle restoration = spawn(w.executor(), waitForever());
    w.model->ruleEditRestorations.set({{contrast, restoration}});
    const TaskHandle keyRead = spawn(w.executor(), waitForever());
    w.model->keyReadTask.set(keyRead);

    EXPECT_EQ(
        w.model->stopDisplayWrites(externalID), (std::vector<TaskHandle>{write, restoration}));
    EXPECT_EQ(startedSince(w.model->tasks.get()), std::set<ControlKey>{builtinContrast});
    EXPECT_TRUE(w.model->stopDisplayWrites("elsewhere").empty());
    EXPECT_EQ(
        w.model->stopDisplayWrites(builtinID), (std::vector<TaskHandle>{builtinWrite, keyRead}))
        << "the built-in display's brightness key read goes too";
}

TEST(DisplayServicesTest, RecheckClearsFailuresAndRequeues)
{
    ApplyWorld w;
    w.model->failed.set({{brightness, percent(0.4)}});
    w.model->failedModes.set({{externalID, ModeConfiguration{.hdr = true}}});
    w.model->pendingResolutions.set({{"gone", small}});
    w.model->recheckHardware();
    w.executor().advance(30s); // the refresh it starts ends before the world does
    EXPECT_TRUE(w.model->failed->empty() && w.model->failedModes->empty()
        && w.model->pendingResolutions->empty());
}

Task<DiscoveredHardware> countedDiscovery(int* count)
{
    ++*count;
    co_return DiscoveredHardware{};
}

TEST(DisplayServicesTest, RefreshAfterAModeChangeRunsOnlyWhenOwed)
{
    const struct {
        const char* what;
        bool quitting;
        bool suspended;
        bool pending;
        int discoveries;
    } cases[] = {
        {"awake", false, false, false, 1},
        {"quitting", true, false, true, 0},
        {"suspended, nothing deferred", false, true, false, 0},
        {"suspended with a deferred refresh", false, true, true, 1},
    };
    for (const auto& c : cases) {
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
    EXPECT_EQ(w.model->hdrCapability(externalID),
        (ControlCapability{.available = true, .reason = "DDC/CI"}));
    EXPECT_EQ(w.model->hdrCapability("gone"), std::nullopt);
}

/// A world whose profile asks for Night Shift on and True Tone off.
struct PreferencesWorld : ApplyWorld {
    PreferencesWorld()
    {
        model->configuration.modify([](Configuration& d) {
            for (Profile& profile : d.profiles.editEach())
                profile.displayPreferences
                    = ProfileDisplayPreferences{.trueTone = false, .nightShift = true};
        });
        systemDisplay.state.values = {{nightShift, false}, {trueTone, false}};
        model->systemDisplaySnapshot.set(systemDisplay.state);
        model->lastSystemDisplayRequests.set(std::nullopt);
    }
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
    EXPECT_FALSE(w.model->systemDisplayApplying.get() || w.model->systemDisplayTask.get());
    EXPECT_EQ(w.model->systemDisplaySnapshot->values.at(nightShift), true);
    EXPECT_TRUE(w.model->systemDisplayErrors->empty());

    EXPECT_FALSE(w.model->applySystemDisplayPreferencesIfNeeded()) << "settled: nothing starts";
    w.model->invalidateSystemDisplayRequest();
    EXPECT_TRUE(w.model->applySystemDisplayPreferencesIfNeeded());
}

TEST(DisplayServicesTest, ApplyRecordsAnErrorPerControl)
{
    const struct {
        const char* what;
        std::function<void(PreferencesWorld&)> meanwhile;
        std::string error;
    } cases[] = {
        {"write refused",
            [](PreferencesWorld& w) { w.systemDisplay.writeFailures[nightShift] = "Refused"; },
            "Refused"},
        {"a control macOS cannot read, with its reason",
            [](PreferencesWorld& w) {
                w.systemDisplay.state.values.erase(nightShift);
                w.systemDisplay.state.unavailable[nightShift] = "Not on this Mac";
            },
            "Not on this Mac"},
        {"a control macOS cannot read, without a reason",
            [](PreferencesWorld& w) { w.systemDisplay.state.values.erase(nightShift); },
            "Control unavailable"},
        {"macOS keeps the old value",
            [](PreferencesWorld& w) {
                w.executor().advance(20ms);
                w.systemDisplay.state.values[nightShift] = false;
            },
            "macOS did not confirm the requested setting. Activate again to retry."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        PreferencesWorld w;
        // Kept aside: a control that disappears changes the requests, and the next apply
        // starts afresh.
        std::map<SystemDisplayControl, std::string> reported;
        const Subscription subscription = w.model->systemDisplayErrors.observe([&] {
            if (!w.model->systemDisplayErrors->empty())
                reported = w.model->systemDisplayErrors.get();
        });
        ASSERT_TRUE(w.model->applySystemDisplayPreferencesIfNeeded());
        c.meanwhile(w);
        w.settle();
        EXPECT_EQ(reported, (std::map<SystemDisplayControl, std::string>{{nightShift, c.error}}));
        EXPECT_FALSE(w.model->systemDisplayApplying.get());
    }
}

TEST(DisplayServicesTest, ApplyWaitsForModeChangesAndStaleAppliesChangeNothing)
{
    PreferencesWorld w;
    w.model->modeBusy.set({externalID});
    EXPECT_TRUE(w.model->applySystemDisplayPreferencesIfNeeded());
    EXPECT_FALSE(w.model->lastSystemDisplayRequests.get()) << "nothing started";
    w.model->modeBusy.set({});

    w.model->scheduleApply(percent(0.4), brightness, false);
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
    for (const bool automationOff : {true, false}) {
        SCOPED_TRACE(automationOff ? "automation switched off" : "request invalidated");
        PreferencesWorld w;
        ASSERT_TRUE(w.model->applySystemDisplayPreferencesIfNeeded());
        w.executor().advance(5ms); // reading the first snapshot
        if (automationOff)
            w.model->configuration.modify([](Configuration& d) { d.automationEnabled = false; });
        else
            w.model->invalidateSystemDisplayRequest();
        w.settle();
        EXPECT_TRUE(w.systemDisplay.writes.empty());
        EXPECT_FALSE(w.model->systemDisplayApplying.get());
    }
}

TEST(DisplayServicesTest, AutomaticBrightnessTakesBrightnessFromThePlan)
{
    const ManualHold userHold{.value = percent(0.7)};
    const ManualHold outsideHold{.value = percent(0.7), .isExternal = true};
    const struct {
        const char* what;
        bool on;
        bool applyingOn;
        std::optional<ManualHold> hold;
        bool assigned;
    } cases[] = {
        {"off", false, false, std::nullopt, true},
        {"on", true, false, std::nullopt, false},
        {"being switched on", false, true, std::nullopt, false},
        {"on, but the user holds it", true, false, userHold, true},
        {"on, held from outside", true, false, outsideHold, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ApplyWorld w;
        w.setDefault(brightness, percent(0.5));
        w.model->systemDisplaySnapshot.set(
            {.values = {{SystemDisplayControl::automaticBrightness(externalID), c.on}}});
        if (c.applyingOn) {
            w.model->configuration.modify([](Configuration& d) {
                d.profiles.edit(0).displayPreferences
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
        EXPECT_EQ(lookup(plan.unavailable, brightness),
            c.assigned ? std::nullopt
                       : std::optional<std::string>("Managed by macOS automatic brightness"));
    }
}

TEST(DisplayServicesTest, RefreshPublishesAndCapturesDefaultsOnce)
{
    ApplyWorld w;
    w.systemDisplay.state.values = {{nightShift, true}};
    std::vector<std::int64_t> pendingSaves;
    const Subscription subscription = w.model->pendingDefaultCaptureSaves.observe(
        [&] { pendingSaves.push_back(w.model->pendingDefaultCaptureSaves.get()); });
    TaskHandle refresh = spawn(w.executor(), w.model->refreshSystemDisplayPreferences(true));
    w.executor().advance(10ms);
    w.executor().runUntilIdle();

    EXPECT_TRUE(refresh.isFinished());
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
    const struct {
        const char* what;
        std::map<SystemDisplayControl, bool> reported;
        bool invalidated;
    } cases[] = {
        {"same controls, another value", {{nightShift, true}}, false},
        {"a control came", {{nightShift, false}, {SystemDisplayControl::darkMode(), true}}, true},
        {"a control went", {}, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ApplyWorld w;
        w.model->systemDisplaySnapshot.set({.values = {{nightShift, false}}});
        w.systemDisplay.state.values = c.reported;
        spawn(w.executor(), w.model->refreshSystemDisplayPreferences(false));
        w.executor().advance(10ms);
        EXPECT_EQ(w.model->systemDisplaySnapshot->values, c.reported);
        EXPECT_EQ(!w.model->lastSystemDisplayRequests.get(), c.invalidated);
    }
}

TEST(DisplayServicesTest, AnApplyThatEndsEarlyHandsTheFlagsOnOnlyWhenCurrent)
{
    for (const bool supersede : {false, true}) {
        SCOPED_TRACE(supersede ? "a newer apply took over" : "automation switched off meanwhile");
        ApplyWorld w;
        w.model->systemDisplaySnapshot.set({.values = {{nightShift, false}}});
        w.systemDisplay.state = w.model->systemDisplaySnapshot.get();
        w.model->lastSystemDisplayRequests.set(std::nullopt);
        w.model->scheduleApply(percent(0.4), brightness, false);
        ASSERT_TRUE(w.model->applySystemDisplayPreferencesIfNeeded());
        // The apply waits for the stopped write; meanwhile things change.
        w.model->configuration.modify([&](Configuration& d) {
            if (supersede)
                d.profiles.edit(0).displayPreferences
                    = ProfileDisplayPreferences{.nightShift = true};
            else
                d.automationEnabled = false;
        });
        if (supersede) {
            ASSERT_TRUE(w.model->applySystemDisplayPreferencesIfNeeded());
        }
        w.executor().advance(15ms); // the first apply has ended, the second is reading
        EXPECT_EQ(w.model->systemDisplayApplying.get(), supersede);
        EXPECT_EQ(w.model->systemDisplayTask.get().has_value(), supersede);
    }
}

TEST(DisplayServicesTest, AnApplyOutlivingItsModelTouchesNothing)
{
    const struct {
        const char* what;
        std::chrono::milliseconds releasedAt;
        bool writeFails;
    } cases[] = {
        {"released during the first read", 5ms, false},
        {"released during a failing write", 15ms, true},
        {"released during the settle pause", 100ms, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        PreferencesWorld w;
        if (c.writeFails)
            w.systemDisplay.writeFailures[nightShift] = "Refused";
        ASSERT_TRUE(w.model->applySystemDisplayPreferencesIfNeeded());
        const TaskHandle apply = *w.model->systemDisplayTask.get();
        w.executor().advance(c.releasedAt);
        w.model.reset();
        w.settle();
        EXPECT_TRUE(apply.isFinished());
    }
}

} // namespace
} // namespace quorvane
