#include "Quorvane/AppModel.h"

#include "ApplyTestSupport.h"
#include "Quorvane/SimulatedSystemDisplayPreferences.h"
#include "QuorvaneCore/ConfigurationError.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <set>
#include <string>
#include <vector>

namespace quorvane {
namespace {

using namespace apply_support;
using namespace std::chrono_literals;

const SystemDisplayControl trueTone = SystemDisplayControl::trueTone();
const SystemDisplayControl darkMode = SystemDisplayControl::darkMode();
const SystemDisplayControl nightShift = SystemDisplayControl::nightShift();
const SystemDisplayControl externalAuto = SystemDisplayControl::automaticBrightness(externalID);
const SystemDisplayControl builtinAuto = SystemDisplayControl::automaticBrightness(builtinID);
constexpr std::string_view unconfirmed
    = "macOS did not confirm the requested setting. Activate again to retry.";

/// macOS as an apply meets it: every call takes 10 ms and a write lands at its end, but a control
/// in `ignores` accepts writes that never show in what macOS reports. Calls are logged with the
/// virtual time they started at.
class StubbornSystemDisplay final : public SystemDisplayBackend {
public:
    SlowSystemDisplay inner;
    std::set<SystemDisplayControl> ignores;
    std::vector<std::pair<ContinuousClock::time_point, std::string>> calls;

    Task<SystemDisplaySnapshot> snapshot() override
    {
        calls.emplace_back(Executor::current()->now(), "snapshot");
        co_return co_await inner.snapshot();
    }

    Task<void> write(bool value, SystemDisplayControl control) override
    {
        calls.emplace_back(
            Executor::current()->now(), std::string(control.title()) + (value ? " on" : " off"));
        const SystemDisplaySnapshot before = inner.state;
        co_await inner.write(value, control);
        if (ignores.contains(control))
            inner.state = before;
    }
};

Task<DiscoveredHardware> twoDisplays()
{
    DiscoveredHardware hardware{.displays
        = {DisplayDevice{.id = externalID}, DisplayDevice{.id = builtinID, .isBuiltIn = true}},
        .snapshot = {}};
    for (const ControlKey& key : {brightness, contrast})
        hardware.snapshot.capabilities[key] = {.available = true, .reason = "DDC/CI"};
    co_return hardware;
}

/// A started model with automation on and no polling, whose active profile is the Default one,
/// over StubbornSystemDisplay; the Default profile captured what macOS `reported` at start-up.
struct PreferencesWorld {
    StubbornSystemDisplay macOS;
    SlowControls controls;
    ModelWorld world;
    std::shared_ptr<AppModel> model;
    UUID defaultID;

    explicit PreferencesWorld(std::map<SystemDisplayControl, bool> reported)
    {
        macOS.inner.state.values = std::move(reported);
        controls.values = {{brightness, percent(0.2)}, {contrast, percent(0.2)}};
        model = world.startedModel({.systemDisplayBackend = &macOS,
            .controlBackend = &controls,
            .hardwareDiscovery = twoDisplays});
        world.executor.advance(100ms); // start-up reads macOS
        model->pollingTask.get()->cancel();
        model->configuration.modify([](Configuration& d) { d.automationEnabled = true; });
        world.executor.runUntilIdle();
        macOS.calls.clear();
        defaultID = model->configuration->defaultProfileID;
    }

    void save(ProfileDisplayPreferences preferences, std::optional<UUID> profileID = {})
    {
        model->saveDisplayPreferences(preferences, profileID.value_or(defaultID));
    }

    void settle() { world.executor.advance(2s); }

    /// "<ms since origin> <call>" for every backend call.
    std::vector<std::string> callsSince(ContinuousClock::time_point origin) const
    {
        std::vector<std::string> lines;
        for (const auto& [at, call] : macOS.calls)
            lines.push_back(std::to_string((at - origin) / 1ms) + " " + call);
        return lines;
    }
};

using Errors = std::map<SystemDisplayControl, std::string>;

TEST(ProfileDisplayPreferencesTest, AnApplySupersededDuringItsWaitChangesNothing)
{
    PreferencesWorld p({{nightShift, false}, {trueTone, false}});
    const auto origin = p.world.executor.now();
    std::vector<std::string> published;
    const Subscription subscription = p.model->systemDisplaySnapshot.observe(
        [&] { published.push_back(std::to_string((p.world.executor.now() - origin) / 1ms)); });
    p.save({.nightShift = true});
    p.world.executor.advance(100ms); // written, waiting for macOS to settle
    p.save({.trueTone = true, .nightShift = true});
    EXPECT_TRUE(p.model->systemDisplayApplying.get());
    p.settle();

    EXPECT_EQ(p.callsSince(origin),
        (std::vector<std::string>{"0 snapshot", "10 Night Shift on", "100 snapshot",
            "110 True Tone on", "270 snapshot", "280 snapshot"}))
        << "no read-back for the superseded write";
    EXPECT_EQ(published, std::vector<std::string>{"290"});
    EXPECT_TRUE(p.model->systemDisplayErrors->empty());
    EXPECT_FALSE(p.model->systemDisplayApplying.get() || p.model->systemDisplayTask.get());
}

TEST(ProfileDisplayPreferencesTest, AnUnconfirmedControlFailsAloneAndWaitsForActivation)
{
    PreferencesWorld p({{trueTone, false}, {darkMode, false}, {nightShift, false}});
    p.macOS.ignores = {darkMode};
    p.save({.trueTone = true, .darkMode = true, .nightShift = true});
    p.settle();
    EXPECT_EQ(p.model->systemDisplayErrors.get(), (Errors{{darkMode, std::string(unconfirmed)}}));
    EXPECT_EQ(p.model->systemDisplaySnapshot->values,
        (std::map<SystemDisplayControl, bool>{
            {trueTone, true}, {darkMode, false}, {nightShift, true}}));

    p.macOS.calls.clear();
    p.model->resolveAndApply(false);
    p.settle();
    EXPECT_TRUE(p.macOS.calls.empty()) << "no retry by itself";
    p.model->invalidateSystemDisplayRequest(); // as activating the profile again does
    p.model->resolveAndApply(false);
    p.settle();
    EXPECT_EQ(p.callsSince(p.macOS.calls.front().first),
        (std::vector<std::string>{
            "0 snapshot", "10 Dark Mode on", "170 snapshot", "180 snapshot"}));
}

TEST(ProfileDisplayPreferencesTest, AutomaticBrightnessTakesBrightnessFromTheRulesAndGivesItBack)
{
    PreferencesWorld p({{externalAuto, false}});
    AppModel& model = *p.model;
    const UUID ruleID = UUID::random();
    const UUID studio = UUID::random();
    model.configuration.modify([&](Configuration& d) {
        d.profiles.push_back({.id = studio,
            .name = "Studio",
            .rules = {{.id = ruleID,
                .name = "Monitor",
                .conditions = {.screen = DisplayReference{.id = externalID, .name = "Monitor"}},
                .settings = RuleSettings{.brightness = 0.4}}}});
        d.activeProfileID = studio;
    });
    model.holds.set({{brightness, {.value = percent(0.7)}}, {contrast, {.value = percent(0.6)}}});
    model.manualOriginals.set({{brightness, percent(0.2)}});
    model.manualRecoveries.set({{brightness, percent(0.2)}});

    p.save({.automaticBrightness = true}, studio);
    ASSERT_TRUE(model.systemDisplayApplying.get());
    EXPECT_TRUE(model.automaticBrightnessManagesSettings(studio, externalID))
        << "owned while the apply turns it on";
    model.resolveAndApply(false);
    EXPECT_TRUE(model.resolution->assignments.contains(brightness)) << "the user's hold stands";
    p.settle();

    EXPECT_TRUE(model.holds->contains(contrast));
    EXPECT_FALSE(model.holds->contains(brightness) || model.manualOriginals->contains(brightness)
        || model.manualRecoveries->contains(brightness));
    const ResolvedPlan& owned = model.resolution.get();
    EXPECT_FALSE(owned.assignments.contains(brightness));
    EXPECT_EQ(lookup(owned.unavailable, brightness), "Managed by macOS automatic brightness");
    EXPECT_TRUE(owned.rules.at(ruleID).contributions.empty());
    EXPECT_EQ(owned.rules.at(ruleID).reasons,
        std::vector<std::string>{"Brightness: managed by macOS automatic brightness"});
    EXPECT_EQ(model.source(brightness), "macOS automatic brightness");
    using Writes = std::vector<std::pair<ControlKey, SettingValue>>;
    EXPECT_EQ(p.controls.writes, (Writes{{contrast, percent(0.6)}}));

    p.save({.automaticBrightness = false}, studio);
    p.settle();
    EXPECT_FALSE(model.automaticBrightnessManagesSettings(studio, std::nullopt));
    EXPECT_EQ(lookup(model.resolution->assignments, brightness)->value, percent(0.4));
    EXPECT_EQ(p.controls.writes, (Writes{{contrast, percent(0.6)}, {brightness, percent(0.4)}}));
}

TEST(ProfileDisplayPreferencesTest, AHardwareRefreshWritesAgainAndAutomationOffOpensTheRequest)
{
    PreferencesWorld p({{nightShift, false}});
    p.save({.nightShift = true});
    p.settle();
    p.macOS.inner.state.values[nightShift] = false; // reset by macOS, say during sleep
    spawn(p.world.executor, p.model->refreshHardware());
    p.settle();
    EXPECT_EQ(p.macOS.inner.state.values.at(nightShift), true) << "the same request, written again";

    p.macOS.inner.state.values[nightShift] = false;
    p.model->invalidateSystemDisplayRequest();
    p.model->resolveAndApply(false);
    p.world.executor.advance(5ms); // reading macOS
    p.model->setAutomation(false);
    EXPECT_FALSE(p.model->systemDisplayApplying.get() || p.model->lastSystemDisplayRequests.get());
    p.settle();
    EXPECT_EQ(p.macOS.inner.state.values.at(nightShift), false);
}

TEST(ProfileDisplayPreferencesTest, TheReadBackWritesTheRequestToANewlySeenControl)
{
    PreferencesWorld p({{nightShift, false}});
    p.save({.automaticBrightness = true});
    p.settle();
    p.macOS.inner.state.values[externalAuto] = false; // a screen with automatic brightness came
    spawn(p.world.executor, p.model->observeHardware());
    p.settle();
    EXPECT_EQ(p.macOS.inner.state.values,
        (std::map<SystemDisplayControl, bool>{{nightShift, false}, {externalAuto, true}}));
    EXPECT_EQ(p.model->configuration->defaultProfile().capturedDisplayPreferences->at(externalAuto),
        false)
        << "what it was when first seen";
}

TEST(ProfileDisplayPreferencesTest, SavingStoresKeepsResolutionsAndReappliesWhereItCounts)
{
    const std::map<std::string, DisplayResolution> kept{
        {externalID, {.width = 1920, .height = 1080, .pixelWidth = 3840, .pixelHeight = 2160}}};
    using Arrange = std::function<void(AppModel&)>;
    const Arrange nothing = [](AppModel&) {};
    const struct {
        const char* what;
        Arrange arrange;
        bool other;
        bool activateOther = false;
        bool stored = true;
        bool applies = true;
        /// The request stays open until the next pass after the mode change.
        bool waits = false;
    } cases[] = {
        {"the active profile", nothing, false},
        {"the Default profile, inherited by the active one", nothing, false, true},
        {"an inactive profile", nothing, true, false, true, false},
        {"not loaded", [](AppModel& m) { m.isLoaded.set(false); }, false, false, false, false},
        {"a settings error", [](AppModel& m) { m.settingsError.set("Damaged."); }, false, false,
            false, false},
        {"a display test", [](AppModel& m) { m.preview.set(DisplayPreview{.id = UUID::random()}); },
            false, false, false, false},
        {"a display changing mode", [](AppModel& m) { m.modeBusy.set({externalID}); }, false, false,
            true, false, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        PreferencesWorld p({{nightShift, false}});
        AppModel& model = *p.model;
        const UUID other = UUID::random();
        model.configuration.modify([&](Configuration& d) {
            d.profiles.push_back({.id = other, .name = "Work"});
            for (Profile& profile : d.profiles.editEach())
                profile.displayPreferences
                    = ProfileDisplayPreferences{.nightShift = true, .resolutions = kept};
            if (c.activateOther)
                d.activeProfileID = other;
        });
        c.arrange(model);
        // Dark Mode is not on this Mac, so the requests stay as they are: only invalidating
        // applies again.
        model.lastSystemDisplayRequests.set(model.systemDisplayRequests());
        const std::optional<TaskHandle> earlierSave = model.saveTask.get();
        const UUID target = c.other ? other : p.defaultID;
        p.save({.darkMode = true,
                   .nightShift = true,
                   .resolutions = std::map<std::string, DisplayResolution>{}},
            target);

        const Profile& saved
            = *std::ranges::find(model.configuration->profiles, target, &Profile::id);
        EXPECT_EQ(saved.displayPreferences,
            (ProfileDisplayPreferences{.darkMode = c.stored ? std::optional(true) : std::nullopt,
                .nightShift = true,
                .resolutions = kept}));
        EXPECT_EQ(model.saveTask.get() != earlierSave, c.stored);
        EXPECT_EQ(model.systemDisplayApplying.get(), c.applies);
        EXPECT_EQ(model.lastSystemDisplayRequests->has_value(), !c.waits) << "settled or running";
    }
    PreferencesWorld p({});
    p.save({.darkMode = true});
    EXPECT_EQ(p.model->configuration->defaultProfile().displayPreferences,
        ProfileDisplayPreferences{.darkMode = true})
        << "no resolutions before, none after";
    const std::optional<TaskHandle> earlierSave = p.model->saveTask.get();
    p.save({}, UUID::random());
    EXPECT_EQ(p.model->saveTask.get(), earlierSave) << "an unknown profile saves nothing";
}

TEST(ProfileDisplayPreferencesTest, AChoiceMadeDuringAModeChangeIsWrittenAfterIt)
{
    PreferencesWorld p({{darkMode, false}});
    p.model->modeBusy.set({externalID});
    p.save({.darkMode = true});
    p.settle();
    EXPECT_EQ(p.model->configuration->defaultProfile().displayPreferences,
        ProfileDisplayPreferences{.darkMode = true});
    EXPECT_TRUE(p.macOS.calls.empty()) << "macOS waits for the mode change";
    const auto ended = p.world.executor.now();
    p.model->modeBusy.set({});
    p.model->resolveAndApply(false);
    p.settle();
    EXPECT_EQ(p.callsSince(ended),
        (std::vector<std::string>{
            "0 snapshot", "10 Dark Mode on", "170 snapshot", "180 snapshot"}));
}

TEST(ProfileDisplayPreferencesTest, WhetherAutomaticBrightnessManagesAProfilesSettings)
{
    const struct {
        const char* what;
        bool activeProfile;
        std::optional<std::string> displayID;
        bool macOSOn = false;
        bool applying = false;
        bool managed = false;
    } cases[] = {
        {"inactive, inherits on, any display", false, std::nullopt, false, false, true},
        {"inactive, inherits on, that display", false, externalID, false, false, true},
        {"inactive, a display where it is unavailable", false, builtinID},
        {"inactive, a display without it", false, "elsewhere"},
        {"active, requested but macOS has it off", true, std::nullopt},
        {"active, while an apply turns it on", true, externalID, false, true, true},
        {"active, macOS has it on", true, externalID, true, false, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        PreferencesWorld p({{externalAuto, c.macOSOn}});
        AppModel& model = *p.model;
        const UUID work = UUID::random();
        model.configuration.modify([&](Configuration& d) {
            d.profiles.push_back({.id = work, .name = "Work"});
            d.profiles.edit(0).displayPreferences
                = ProfileDisplayPreferences{.automaticBrightness = true};
        });
        model.systemDisplaySnapshot.modify(
            [](SystemDisplaySnapshot& s) { s.unavailable[builtinAuto] = "Not on this screen."; });
        model.systemDisplayApplying.set(c.applying);
        EXPECT_EQ(model.automaticBrightnessManagesSettings(
                      c.activeProfile ? p.defaultID : work, c.displayID),
            c.managed);
        EXPECT_FALSE(model.automaticBrightnessManagesSettings(UUID::random(), std::nullopt));
    }
}

Task<void> blockSaves(TaskHandle blocker) { co_await blocker; }

TEST(ProfileDisplayPreferencesTest, CaptureSavesCountDownHoweverTheWaitEnds)
{
    for (const bool saveFails : {false, true}) {
        SCOPED_TRACE(saveFails ? "the save fails" : "the refresh is cancelled meanwhile");
        PreferencesWorld p({});
        AppModel& model = *p.model;
        p.macOS.inner.state.values = {{nightShift, true}};
        if (saveFails) { // a file stands where the settings folder was
            std::filesystem::remove_all(model.settingsURL.parent_path());
            writeFile(model.settingsURL.parent_path(), "");
        }
        const TaskHandle blocker = spawn(p.world.executor, waitForever());
        model.saveTask.set(spawn(p.world.executor, blockSaves(blocker)));
        const TaskHandle refresh
            = spawn(p.world.executor, model.refreshSystemDisplayPreferences(true));
        p.world.executor.advance(20ms);
        EXPECT_EQ(model.pendingDefaultCaptureSaves.get(), 1);
        EXPECT_FALSE(model.canApplyAutomatically());
        refresh.cancel();
        blocker.cancel();
        p.settle();
        EXPECT_TRUE(refresh.isFinished());
        EXPECT_EQ(model.pendingDefaultCaptureSaves.get(), 0);
        EXPECT_EQ(model.settingsError->has_value(), saveFails);
    }
}

TEST(ProfileDisplayPreferencesTest, AnApplyOutlivingItsModelEndsUntouched)
{
    // The demo's backend belongs to the model and goes with it.
    for (const auto releasedAfter : {0ms, 100ms}) {
        SCOPED_TRACE(releasedAfter / 1ms);
        ModelWorld world;
        auto model = world.idleModel({.simulation = true});
        model->configuration.modify([](Configuration& d) {
            d.automationEnabled = true;
            d.profiles.edit(0).displayPreferences = ProfileDisplayPreferences{.nightShift = true};
        });
        model->isLoaded.set(true);
        model->simulatedSystemDisplay().seed({.values = {{nightShift, false}}});
        model->systemDisplaySnapshot.set(model->simulatedSystemDisplay().state);
        ASSERT_TRUE(model->applySystemDisplayPreferencesIfNeeded());
        const TaskHandle apply = *model->systemDisplayTask.get();
        if (releasedAfter > 0ms)
            world.executor.advance(releasedAfter);
        model.reset();
        world.executor.advance(1s);
        EXPECT_TRUE(apply.isFinished());
    }
    // A backend of its own may wait inside a call; the task ends as soon as that call returns.
    PreferencesWorld p({{nightShift, false}});
    p.save({.nightShift = true});
    const TaskHandle apply = *p.model->systemDisplayTask.get();
    p.world.executor.advance(15ms); // writing
    p.model.reset();
    p.world.executor.advance(5ms);
    EXPECT_TRUE(apply.isFinished());
    EXPECT_EQ(p.macOS.calls.size(), 2U);
}

TEST(ProfileDisplayPreferencesTest, AWriteThatFailsAfterTheRequestChangedEndsTheApply)
{
    PreferencesWorld p({{nightShift, false}});
    p.macOS.inner.writeFailures[nightShift] = "Refused";
    p.save({.nightShift = true});
    p.world.executor.advance(15ms); // writing
    p.model->invalidateSystemDisplayRequest();
    p.settle();
    EXPECT_EQ(p.callsSince(p.macOS.calls.front().first),
        (std::vector<std::string>{"0 snapshot", "10 Night Shift on"}));
    EXPECT_TRUE(p.model->systemDisplayErrors->empty());
}

TEST(ProfileDisplayPreferencesTest, AnApplyStopsBetweenControlsWhenTheMacGoesToSleep)
{
    PreferencesWorld p({{nightShift, false}, {trueTone, false}});
    p.save({.trueTone = true, .nightShift = true});
    p.world.executor.advance(15ms); // writing the first
    p.model->isSuspended.set(true);
    p.settle();
    // The write in flight is confirmed; the next control is not touched, nor read again.
    EXPECT_EQ(p.callsSince(p.macOS.calls.front().first),
        (std::vector<std::string>{"0 snapshot", "10 True Tone on", "170 snapshot"}));
    EXPECT_FALSE(p.model->systemDisplayApplying.get());
}

TEST(SimulatedSystemDisplayPreferencesTest, StartsEmptyAndRefusesAsAnInvalidConfiguration)
{
    SimulatedSystemDisplayPreferences preferences;
    EXPECT_EQ(runToEnd(preferences.snapshot()), SystemDisplaySnapshot{});
    try {
        runToEnd(preferences.write(true, nightShift));
        ADD_FAILURE() << "a write to a new instance succeeded";
    } catch (const ConfigurationError& error) {
        EXPECT_EQ(error.errorCase(),
            ConfigurationError::Case(ConfigurationError::Invalid{"Control unavailable"}));
    }
    const SystemDisplaySnapshot seeded{
        .values = {{nightShift, true}}, .unavailable = {{externalAuto, "Not here."}}};
    preferences.seed(seeded);
    runToEnd(preferences.write(true, nightShift));
    EXPECT_EQ(runToEnd(preferences.snapshot()), seeded) << "the same value changes nothing";
}

TEST(ProfileDisplayPreferencesTest, AFailedSaveStopsTheApplyInFlight)
{
    PreferencesWorld p({{nightShift, false}, {darkMode, false}, {trueTone, false}});
    AppModel& model = *p.model;
    const ContinuousClock::time_point origin = p.world.executor.now();
    p.save({.trueTone = true, .darkMode = true, .nightShift = true});
    p.world.executor.advance(15ms);
    ASSERT_TRUE(model.systemDisplayApplying.get());
    // A file stands where the settings folder was.
    std::filesystem::remove_all(model.settingsURL.parent_path());
    writeFile(model.settingsURL.parent_path(), "");
    model.persist();
    p.settle();
    EXPECT_TRUE(model.settingsError.get());
    EXPECT_FALSE(model.systemDisplayApplying.get());
    EXPECT_EQ(p.callsSince(origin), (std::vector<std::string>{"0 snapshot", "10 True Tone on"}))
        << "nothing more is written or read";
}

} // namespace
} // namespace quorvane
