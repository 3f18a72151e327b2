#include "CaptureTestSupport.h"

#include <gtest/gtest.h>

#include <functional>

using namespace std::chrono_literals;

namespace quorvane {
namespace {

constexpr std::string_view displaysNotReady = "Wait for the displays to be ready before saving.";
constexpr std::string_view settingsChanging = "Wait for the display settings to finish changing.";
constexpr std::string_view notReached
    = "Brightness has not reached its manual value. Adjust it again before saving.";
constexpr std::string_view unavailable = "A manually adjusted display setting is unavailable. "
                                         "Reconnect or recheck the screen before saving.";
constexpr std::string_view modeChanged
    = "The display mode changed. Recheck the screen before saving.";
constexpr std::string_view stateChanged
    = "The profile or display settings changed while reading them. Try saving again.";
constexpr std::string_view untestedMode
    = "Test the profile’s resolution, HDR and refresh settings before saving this manual change.";

const ControlKey brightnessA = controlOf("a", SettingKey::brightness);
const ControlKey contrastA = controlOf("a", SettingKey::contrast);
const ControlKey refreshA = controlOf("a", SettingKey::refreshRate);
const ControlKey hdrA = controlOf("a", SettingKey::hdr);

Task<void> nothing() { co_return; }
TaskHandle idle(CaptureWorld& w) { return spawn(w.world.executor, nothing()); }

using Change = std::function<void(CaptureWorld&)>;

void setHoldExpiringIn(CaptureWorld& w, std::chrono::milliseconds lifetime)
{
    w.model->holds.set({{brightnessA,
        ManualHold{.value = SettingValue::percent(0.4),
            .expiresAt = w.world.executor.wallNow() + lifetime}}});
}

TEST(CaptureReasonTest, EachConditionGivesItsReasonAndOutranksTheLaterOnes)
{
    // In the order they are tested.
    const std::tuple<std::string_view, Change, std::string_view> cases[] = {
        {"settings error", [](auto& w) { w.model->settingsError.set("Disk full."); }, "Disk full."},
        {"not loaded", [](auto& w) { w.model->isLoaded.set(false); }, "Settings are not ready."},
        {"suspended", [](auto& w) { w.model->isSuspended.set(true); }, displaysNotReady},
        {"quitting", [](auto& w) { w.model->isQuitting.set(true); }, displaysNotReady},
        {"refreshing", [](auto& w) { w.model->isRefreshing.set(true); }, displaysNotReady},
        {"default capture saving", [](auto& w) { w.model->pendingDefaultCaptureSaves.set(1); },
            displaysNotReady},
        {"display test",
            [](auto& w) {
                w.model->preview.set(DisplayPreview{.id = UUID::random(), .displayID = "a"});
            },
            settingsChanging},
        {"mode busy", [](auto& w) { w.model->modeBusy.set({"a"}); }, settingsChanging},
        {"mode task",
            [](auto& w) {
                w.model->modeTasks.set({{"a", idle(w)}});
            },
            settingsChanging},
        {"control task",
            [](auto& w) {
                w.model->tasks.set({{brightnessA, idle(w)}});
            },
            settingsChanging},
        {"key read", [](auto& w) { w.model->keyReadTask.set(idle(w)); }, settingsChanging},
        {"display preferences applying", [](auto& w) { w.model->systemDisplayApplying.set(true); },
            settingsChanging},
        {"rule edit restoration",
            [](auto& w) {
                w.model->ruleEditRestorations.set({{brightnessA, idle(w)}});
            },
            settingsChanging},
        {"context change waiting",
            [](auto& w) {
                w.model->scheduler().schedule(
                    RuntimeContext{.appBundleID = "com.example.Writer"}, 300, true, nothing);
            },
            settingsChanging},
        {"rule being edited", [](auto& w) { w.model->liveRuleEdit.set(LiveRuleEdit{}); },
            "Finish editing the rule before saving manual settings."},
        {"only a hold that expires now", [](auto& w) { setHoldExpiringIn(w, 0ms); },
            "There are no manual settings to save."},
    };
    for (std::size_t index = 0; index < std::size(cases); ++index) {
        const auto& [name, set, reason] = cases[index];
        SCOPED_TRACE(name);
        CaptureWorld w;
        setHoldExpiringIn(w, 1ms);
        EXPECT_EQ(w.model->profileCaptureUnavailableReason(), std::nullopt);
        set(w);
        EXPECT_EQ(w.model->profileCaptureUnavailableReason(), reason);
        for (std::size_t later = index + 1; later < std::size(cases); ++later)
            std::get<Change>(cases[later])(w);
        EXPECT_EQ(w.model->profileCaptureUnavailableReason(), reason);
    }
}

TEST(CaptureTest, HeldControlMustBeReadAndHaveReachedItsValue)
{
    const auto readBack = [](double value) {
        return [=](CaptureWorld& w) {
            w.controls.values.insert_or_assign(brightnessA, SettingValue::percent(value));
        };
    };
    const auto capability = [](auto change) {
        return [=](CaptureWorld& w) {
            w.model->hardwareSnapshot.modify([&](auto& s) { change(s.capabilities); });
        };
    };
    // Brightness is held at 50 %.
    const std::tuple<std::string_view, Change, std::string_view> cases[] = {
        {"a little above", readBack(0.51), "done"},
        {"a little below", readBack(0.49), "done"},
        {"too far above", readBack(0.52), notReached},
        {"too far below", readBack(0.48), notReached},
        {"exact but the last command failed",
            [](auto& w) {
                w.model->failed.set({{brightnessA, SettingValue::percent(0.5)}});
            },
            notReached},
        {"read fails", [](auto& w) { w.controls.readFailures.emplace(brightnessA, "No reply"); },
            unavailable},
        {"control unavailable", capability([](auto& c) { c[brightnessA].available = false; }),
            unavailable},
        {"no capability", capability([](auto& c) { c.erase(brightnessA); }), unavailable},
        {"value rejected",
            capability([](auto& c) { c[brightnessA].choices = {SettingValue::percent(0.2)}; }),
            unavailable},
        {"held display gone",
            [](auto& w) { w.model->displays.modify([](auto& d) { d.erase(d.begin()); }); },
            unavailable},
    };
    for (const auto& [name, change, expected] : cases) {
        SCOPED_TRACE(name);
        CaptureWorld w;
        w.hold(brightnessA, SettingValue::percent(0.5));
        change(w);
        const auto outcome = w.run(w.model->captureCurrentProfileState(true));
        ASSERT_EQ(refusalOf(outcome), expected);
        if (!outcome.value)
            continue;
        // The held value, not the one read; only the held control, and no preferences.
        EXPECT_EQ(outcome.value->values,
            (std::map<ControlKey, SettingValue>{{brightnessA, SettingValue::percent(0.5)}}));
        EXPECT_EQ(outcome.value->holds, w.model->holds.get());
        EXPECT_EQ(outcome.value->displayPreferences, ProfileDisplayPreferences{});
        EXPECT_EQ(w.controls.reads, 1);
    }
}

TEST(CaptureTest, ModeReadBackMustMatchTheRecordedMode)
{
    using Case
        = std::tuple<std::string_view, std::optional<ModeConfiguration>, bool, std::string_view>;
    const auto at = [](std::int64_t millihertz, std::optional<bool> hdr) {
        return ModeConfiguration{.refreshRate = RefreshPreference::fixed(millihertz), .hdr = hdr};
    };
    const Case cases[] = {
        {"same", at(60'000, false), false, "done"},
        {"same, HDR on", at(60'000, true), true, "done"},
        {"other rate", at(120'000, false), false, modeChanged},
        {"no recorded rate", ModeConfiguration{.hdr = false}, false, modeChanged},
        {"no recorded mode", std::nullopt, false, modeChanged},
        {"HDR on, recorded off", at(60'000, false), true, modeChanged},
        {"HDR off, recorded on", at(60'000, true), false, modeChanged},
        {"no recorded HDR", at(60'000, std::nullopt), false, modeChanged},
    };
    for (const auto& [name, recorded, hdrOn, outcome] : cases) {
        SCOPED_TRACE(name);
        CaptureWorld w;
        w.hold(brightnessA, SettingValue::percent(0.5));
        w.controls.values.insert_or_assign(hdrA, SettingValue::toggle(hdrOn));
        HardwareSnapshot snapshot = w.model->hardwareSnapshot.get();
        snapshot.capabilities[hdrA].available = true;
        snapshot.currentModes.erase("a");
        if (recorded)
            snapshot.currentModes.emplace("a", *recorded);
        w.model->hardwareSnapshot.set(snapshot);
        EXPECT_EQ(refusalOf(w.run(w.model->captureCurrentProfileState(false))), outcome);
    }
}

TEST(CaptureTest, ChangeDuringTheReadsIsRefused)
{
    const auto hardware = [](auto change) {
        return [=](CaptureWorld& w) { w.model->hardwareSnapshot.modify(change); };
    };
    const std::pair<std::string_view, Change> cases[] = {
        {"nothing changes", [](auto&) {}},
        {"held value adjusted again",
            [](auto& w) { w.hold(brightnessA, SettingValue::percent(0.6)); }},
        {"settings edited",
            [](auto& w) { w.model->configuration.modify([](auto& c) { c.holdMinutes = 5; }); }},
        {"context changed",
            [](auto& w) { w.model->context.modify([](auto& c) { c.appBundleID = "x"; }); }},
        {"display renamed",
            [](auto& w) { w.model->displays.modify([](auto& d) { d[1].name = "Left"; }); }},
        {"mode changed", hardware([](auto& s) { s.currentModes["b"].hdr = true; })},
        {"environment changed", hardware([](auto& s) { s.environments["b"] = "other"; })},
        {"capability changed", hardware([](auto& s) {
             s.capabilities[controlOf("b", SettingKey::contrast)].reason = "x";
         })},
        {"hardware refreshed",
            [](auto& w) { w.model->refreshRevision.set(w.model->refreshRevision.get() + 1); }},
        {"control command issued",
            [](auto& w) {
                w.model->commandIDs.set({{contrastA, UUID::random()}});
            }},
        {"display preferences requested",
            [](auto& w) { w.model->systemDisplayCommandID.set(UUID::random()); }},
        {"display test started",
            [](auto& w) {
                w.model->preview.set(DisplayPreview{.id = UUID::random(), .displayID = "b"});
            }},
    };
    for (const auto& [name, change] : cases) {
        SCOPED_TRACE(name);
        CaptureWorld w;
        w.hold(brightnessA, SettingValue::percent(0.5));
        TaskOutcome<CurrentProfileState> outcome;
        spawn(w.world.executor, recordOutcome(w.model->captureCurrentProfileState(false), outcome));
        // Eight reads of 10 ms: the change lands during the last one.
        w.world.executor.advance(75ms);
        ASSERT_FALSE(outcome.hasEnded());
        change(w);
        w.world.executor.advance(1s);
        EXPECT_EQ(refusalOf(outcome), name == "nothing changes" ? "done" : stateChanged);
    }
}

TEST(CaptureTest, HoldThatExpiresDuringTheReadsIsRefused)
{
    // Only brightness is read (10 ms), then the display preferences (10 ms).
    for (const auto& [lifetime, outcome] : {std::pair{20ms, stateChanged}, {21ms, "done"}}) {
        SCOPED_TRACE(lifetime.count());
        CaptureWorld w;
        setHoldExpiringIn(w, lifetime);
        w.model->hardwareSnapshot.modify([](auto& s) {
            for (auto& [key, capability] : s.capabilities)
                capability.available = key == brightnessA;
        });
        EXPECT_EQ(refusalOf(w.run(w.model->captureCurrentProfileState(false))), outcome);
    }
}

TEST(CaptureTest, CancelledCaptureStopsWithCancellation)
{
    CaptureWorld w;
    w.hold(brightnessA, SettingValue::percent(0.5));
    TaskOutcome<CurrentProfileState> outcome;
    const TaskHandle task = spawn(
        w.world.executor, recordOutcome(w.model->captureCurrentProfileState(false), outcome));
    w.world.executor.advance(15ms);
    task.cancel();
    w.world.executor.advance(1s);
    EXPECT_EQ(refusalOf(outcome), "cancelled");
}

TEST(CaptureTest, FullCaptureReadsEveryAvailableControlAndTheDisplayPreferences)
{
    CaptureWorld w;
    w.hold(brightnessA, SettingValue::percent(0.7));
    w.controls.values.insert_or_assign(brightnessA, SettingValue::percent(0.71));
    const auto automatic = SystemDisplayControl::automaticBrightness;
    // "z" is not connected: its differing value does not count.
    w.systemDisplay.state.values
        = {{SystemDisplayControl::trueTone(), true}, {SystemDisplayControl::nightShift(), false},
            {automatic("a"), true}, {automatic("b"), true}, {automatic("z"), false}};
    w.model->hardwareSnapshot.modify([](auto& s) { s.currentModes["b"].resolution.reset(); });

    const auto outcome = w.run(w.model->captureCurrentProfileState(false));
    ASSERT_EQ(refusalOf(outcome), "done");
    EXPECT_EQ(outcome.value->values, w.controls.values); // 71 % as read, not the held 70 %
    EXPECT_EQ(outcome.value->holds, w.model->holds.get());
    EXPECT_EQ(outcome.value->displayPreferences,
        (ProfileDisplayPreferences{.trueTone = true,
            .nightShift = false,
            .automaticBrightness = true,
            .resolutions
            = std::map<std::string, DisplayResolution>{{"a", CaptureWorld::resolution}}}));
}

TEST(CaptureTest, AutomaticBrightnessMustAgreeAcrossScreens)
{
    CaptureWorld w;
    w.hold(brightnessA, SettingValue::percent(0.4));
    w.systemDisplay.state.values = {{SystemDisplayControl::automaticBrightness("a"), true},
        {SystemDisplayControl::automaticBrightness("b"), false}};
    EXPECT_EQ(refusalOf(w.run(w.model->captureCurrentProfileState(false))),
        "Automatic brightness differs between screens. Choose the same setting before saving a "
        "new profile.");
}

TEST(CaptureModeValidationTest, OnlyAConfirmedUnchangedModeMayBeSaved)
{
    const ModeConfiguration current{.refreshRate = RefreshPreference::fixed(60'000),
        .hdr = false,
        .resolution = CaptureWorld::resolution};
    const auto rate = [](std::int64_t millihertz) {
        return std::map<ControlKey, SettingValue>{
            {refreshA, SettingValue::refresh(RefreshPreference::fixed(millihertz))}};
    };
    const std::map<ControlKey, SettingValue> hdrOn{{hdrA, SettingValue::toggle(true)}};
    // The keys saved, the values planned, whether the current mode was confirmed and recorded,
    // whether "a" is the built-in display, the outcome.
    using Case = std::tuple<std::string_view, std::set<ControlKey>,
        std::map<ControlKey, SettingValue>, bool, bool, bool, std::string_view>;
    const Case cases[] = {
        {"no mode key", {brightnessA, contrastA}, rate(120'000), false, false, false, "done"},
        {"no recorded mode", {refreshA}, {}, true, false, false,
            "Recheck the screen before saving its display mode."},
        {"unchanged and confirmed", {refreshA}, rate(60'000), true, true, false, "done"},
        {"no value planned, confirmed", {refreshA}, {}, true, true, false, "done"},
        {"unchanged, never confirmed", {refreshA}, rate(60'000), false, true, false, untestedMode},
        {"other rate, confirmed", {refreshA}, rate(120'000), true, true, false, untestedMode},
        {"HDR planned on", {hdrA}, hdrOn, true, true, false, untestedMode},
        // The built-in display's HDR is never offered, whatever the hardware reported.
        {"HDR planned on the built-in display", {hdrA}, hdrOn, true, true, true, "done"},
    };
    for (const auto& [name, keys, planned, verified, recorded, builtIn, expected] : cases) {
        SCOPED_TRACE(name);
        CaptureWorld w;
        auto displays = w.model->displays.get();
        displays[0].isBuiltIn = builtIn;
        w.model->displays.set(displays);
        HardwareSnapshot snapshot = w.model->hardwareSnapshot.get();
        snapshot.capabilities[hdrA].available = true;
        snapshot.currentModes.clear();
        if (recorded)
            snapshot.currentModes.emplace("a", current);
        w.model->hardwareSnapshot.set(snapshot);
        Configuration candidate = w.model->configuration.get();
        if (verified)
            candidate.verifiedModes.push_back(
                {.displayID = "a", .environment = "env-a", .mode = current});
        w.model->configuration.set(candidate);
        DefaultSettings defaults = candidate.defaultSettings();
        for (const auto& [key, value] : planned)
            defaults.setExplicit(value, key);
        candidate.setDefaultSettings(defaults);
        std::string outcome = "done";
        try {
            w.model->validateCapturedModes(candidate, keys);
        } catch (const ConfigurationError& error) {
            outcome = error.what();
        }
        EXPECT_EQ(outcome, expected);
    }
}

} // namespace
} // namespace quorvane
