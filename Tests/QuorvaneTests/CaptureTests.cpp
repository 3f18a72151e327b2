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

Task<void> nothing() { co_return; }
Task<void> nothingOperation() { co_return; }

using Change = std::function<void(CaptureWorld&)>;

struct ReasonCase {
    std::string_view name;
    Change set;
    Change clear;
    std::optional<std::string> reason;
};

/// The conditions in the order they are tested; each one's reason.
std::vector<ReasonCase> reasonCases()
{
    const auto wall = [](CaptureWorld& w) { return w.world.executor.wallNow(); };
    return {
        {"settings error", [](auto& w) { w.model->settingsError.set("The disk is full."); },
            [](auto& w) { w.model->settingsError.set(std::nullopt); }, "The disk is full."},
        {"not loaded", [](auto& w) { w.model->isLoaded.set(false); },
            [](auto& w) { w.model->isLoaded.set(true); }, "Settings are not ready."},
        {"suspended", [](auto& w) { w.model->isSuspended.set(true); },
            [](auto& w) { w.model->isSuspended.set(false); }, std::string(displaysNotReady)},
        {"quitting", [](auto& w) { w.model->isQuitting.set(true); },
            [](auto& w) { w.model->isQuitting.set(false); }, std::string(displaysNotReady)},
        {"refreshing", [](auto& w) { w.model->isRefreshing.set(true); },
            [](auto& w) { w.model->isRefreshing.set(false); }, std::string(displaysNotReady)},
        {"default capture saving", [](auto& w) { w.model->pendingDefaultCaptureSaves.set(1); },
            [](auto& w) { w.model->pendingDefaultCaptureSaves.set(0); },
            std::string(displaysNotReady)},
        {"display test",
            [](auto& w) {
                w.model->preview.set(DisplayPreview{.id = UUID::random(), .displayID = "a"});
            },
            [](auto& w) { w.model->preview.set(std::nullopt); }, std::string(settingsChanging)},
        {"mode busy", [](auto& w) { w.model->modeBusy.set({"a"}); },
            [](auto& w) { w.model->modeBusy.set({}); }, std::string(settingsChanging)},
        {"mode task",
            [](auto& w) {
                w.model->modeTasks.set({{"a", spawn(w.world.executor, nothing())}});
            },
            [](auto& w) { w.model->modeTasks.set({}); }, std::string(settingsChanging)},
        {"control task",
            [](auto& w) {
                w.model->tasks.set({{brightnessA, spawn(w.world.executor, nothing())}});
            },
            [](auto& w) { w.model->tasks.set({}); }, std::string(settingsChanging)},
        {"key read", [](auto& w) { w.model->keyReadTask.set(spawn(w.world.executor, nothing())); },
            [](auto& w) { w.model->keyReadTask.set(std::nullopt); }, std::string(settingsChanging)},
        {"display preferences applying", [](auto& w) { w.model->systemDisplayApplying.set(true); },
            [](auto& w) { w.model->systemDisplayApplying.set(false); },
            std::string(settingsChanging)},
        {"rule edit restoration",
            [](auto& w) {
                w.model->ruleEditRestorations.set(
                    {{brightnessA, spawn(w.world.executor, nothing())}});
            },
            [](auto& w) { w.model->ruleEditRestorations.set({}); }, std::string(settingsChanging)},
        {"context change waiting",
            [](auto& w) {
                w.model->scheduler().schedule(RuntimeContext{.appBundleID = "com.example.Writer"},
                    300, true, nothingOperation);
            },
            [](auto& w) { w.model->scheduler().cancel(); }, std::string(settingsChanging)},
        {"rule being edited", [](auto& w) { w.model->liveRuleEdit.set(LiveRuleEdit{}); },
            [](auto& w) { w.model->liveRuleEdit.set(std::nullopt); },
            "Finish editing the rule before saving manual settings."},
        {"only a hold that expires now",
            [wall](auto& w) {
                w.model->holds.set({{brightnessA,
                    ManualHold{.value = SettingValue::percent(0.5), .expiresAt = wall(w)}}});
            },
            [wall](auto& w) {
                w.model->holds.set({{brightnessA,
                    ManualHold{.value = SettingValue::percent(0.5), .expiresAt = wall(w) + 1ms}}});
            },
            "There are no manual settings to save."},
    };
}

TEST(CaptureReasonTest, EachConditionAloneGivesItsReason)
{
    for (const ReasonCase& c : reasonCases()) {
        SCOPED_TRACE(c.name);
        CaptureWorld w;
        w.hold(contrastA, SettingValue::percent(0.5));
        if (c.name == "only a hold that expires now")
            w.model->holds.set({});
        c.set(w);
        EXPECT_EQ(w.model->profileCaptureUnavailableReason(), c.reason);
        c.clear(w);
        EXPECT_EQ(w.model->profileCaptureUnavailableReason(), std::nullopt);
    }
}

TEST(CaptureReasonTest, TheFirstConditionInOrderWins)
{
    CaptureWorld w;
    const std::vector<ReasonCase> cases = reasonCases();
    for (const ReasonCase& c : cases)
        c.set(w);
    for (const ReasonCase& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(w.model->profileCaptureUnavailableReason(), c.reason);
        c.clear(w);
    }
    EXPECT_EQ(w.model->profileCaptureUnavailableReason(), std::nullopt);
}

TEST(CaptureTest, HeldValueMustBeReachedWithinTolerance)
{
    struct Case {
        std::string_view name;
        double readBack;
        bool lastCommandFailed;
        std::string_view outcome;
    };
    const Case cases[] = {
        {"exact", 0.50, false, "done"},
        {"a little above", 0.51, false, "done"},
        {"a little below", 0.49, false, "done"},
        {"too far above", 0.52, false, notReached},
        {"too far below", 0.48, false, notReached},
        {"exact but the last command failed", 0.50, true, notReached},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CaptureWorld w;
        w.hold(brightnessA, SettingValue::percent(0.5));
        w.controls.values.insert_or_assign(brightnessA, SettingValue::percent(c.readBack));
        if (c.lastCommandFailed)
            w.model->failed.set({{brightnessA, SettingValue::percent(0.5)}});
        const auto outcome = w.run(w.model->captureCurrentProfileState(true));
        ASSERT_EQ(refusalOf(outcome), c.outcome);
        if (!outcome.value)
            continue;
        // The held value, not the one read; only the held control.
        EXPECT_EQ(outcome.value->values,
            (std::map<ControlKey, SettingValue>{{brightnessA, SettingValue::percent(0.5)}}));
        EXPECT_EQ(outcome.value->holds, w.model->holds.get());
        EXPECT_EQ(outcome.value->displayPreferences, ProfileDisplayPreferences{});
        EXPECT_EQ(w.controls.reads, 1);
    }
}

TEST(CaptureTest, HeldControlThatCannotBeCapturedIsRefused)
{
    struct Case {
        std::string_view name;
        Change change;
        std::string_view outcome;
    };
    const Case cases[] = {
        {"read fails", [](auto& w) { w.controls.readFailures.emplace(brightnessA, "No reply"); },
            unavailable},
        {"control unavailable",
            [](auto& w) {
                w.model->hardwareSnapshot.modify(
                    [](auto& s) { s.capabilities[brightnessA].available = false; });
            },
            unavailable},
        {"no capability",
            [](auto& w) {
                w.model->hardwareSnapshot.modify(
                    [](auto& s) { s.capabilities.erase(brightnessA); });
            },
            unavailable},
        {"value rejected",
            [](auto& w) {
                w.model->hardwareSnapshot.modify([](auto& s) {
                    s.capabilities[brightnessA].choices = {SettingValue::percent(0.2)};
                });
            },
            unavailable},
        {"held display gone",
            [](auto& w) { w.model->displays.set({externalDisplay("b", "Side")}); }, unavailable},
        {"nothing wrong", [](auto&) {}, "done"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CaptureWorld w;
        w.hold(brightnessA, SettingValue::percent(0.5));
        c.change(w);
        for (const bool onlyManual : {true, false}) {
            SCOPED_TRACE(onlyManual);
            EXPECT_EQ(refusalOf(w.run(w.model->captureCurrentProfileState(onlyManual))), c.outcome);
        }
    }
}

TEST(CaptureTest, ModeReadBackMustMatchTheRecordedMode)
{
    struct Case {
        std::string_view name;
        bool holdRefresh;
        std::optional<ModeConfiguration> recorded;
        std::string_view outcome;
    };
    const auto at = [](std::int64_t millihertz) {
        return ModeConfiguration{.refreshRate = RefreshPreference::fixed(millihertz)};
    };
    const Case cases[] = {
        {"same rate", false, at(60'000), "done"},
        {"same rate, held", true, at(60'000), "done"},
        {"other rate, not held", false, at(120'000), modeChanged},
        {"other rate, held", true, at(120'000), modeChanged},
        {"no recorded rate", false, ModeConfiguration{.hdr = false}, modeChanged},
        {"no recorded mode", true, std::nullopt, modeChanged},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CaptureWorld w;
        w.hold(brightnessA, SettingValue::percent(0.5));
        if (c.holdRefresh)
            w.hold(refreshA, SettingValue::refresh(RefreshPreference::fixed(60'000)));
        w.model->hardwareSnapshot.modify([&](auto& s) {
            s.currentModes.erase("a");
            if (c.recorded)
                s.currentModes.emplace("a", *c.recorded);
        });
        EXPECT_EQ(refusalOf(w.run(w.model->captureCurrentProfileState(false))), c.outcome);
    }
}

TEST(CaptureTest, HDRReadBackMustMatchTheRecordedMode)
{
    struct Case {
        std::string_view name;
        bool readBack;
        std::optional<bool> recorded;
        std::string_view outcome;
    };
    const Case cases[] = {
        {"both off", false, false, "done"},
        {"both on", true, true, "done"},
        {"on, recorded off", true, false, modeChanged},
        {"off, recorded on", false, true, modeChanged},
        {"nothing recorded", false, std::nullopt, modeChanged},
    };
    const ControlKey hdrA = controlOf("a", SettingKey::hdr);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CaptureWorld w;
        w.hold(brightnessA, SettingValue::percent(0.5));
        w.controls.values.insert_or_assign(hdrA, SettingValue::toggle(c.readBack));
        w.model->hardwareSnapshot.modify([&](auto& s) {
            s.capabilities[hdrA].available = true;
            s.currentModes["a"].hdr = c.recorded;
        });
        EXPECT_EQ(refusalOf(w.run(w.model->captureCurrentProfileState(false))), c.outcome);
    }
}

TEST(CaptureTest, ChangeDuringTheReadsIsRefused)
{
    struct Case {
        std::string_view name;
        Change change;
    };
    const Case cases[] = {
        {"nothing changes", [](auto&) {}},
        {"new manual adjustment",
            [](auto& w) {
                w.model->holds.modify([](auto& holds) {
                    holds.insert_or_assign(
                        contrastA, ManualHold{.value = SettingValue::percent(0.3)});
                });
            }},
        {"held value adjusted again",
            [](auto& w) {
                w.model->holds.set(
                    {{brightnessA, ManualHold{.value = SettingValue::percent(0.6)}}});
            }},
        {"settings edited",
            [](auto& w) { w.model->configuration.modify([](auto& c) { c.holdMinutes = 5; }); }},
        {"context changed",
            [](auto& w) {
                w.model->context.modify([](auto& c) { c.appBundleID = "com.example.Writer"; });
            }},
        {"display renamed",
            [](auto& w) { w.model->displays.modify([](auto& d) { d[1].name = "Left"; }); }},
        {"display unplugged",
            [](auto& w) { w.model->displays.modify([](auto& d) { d.pop_back(); }); }},
        {"mode changed",
            [](auto& w) {
                w.model->hardwareSnapshot.modify([](auto& s) { s.currentModes["b"].hdr = true; });
            }},
        {"environment changed",
            [](auto& w) {
                w.model->hardwareSnapshot.modify([](auto& s) { s.environments["b"] = "other"; });
            }},
        {"capability changed",
            [](auto& w) {
                w.model->hardwareSnapshot.modify([](auto& s) {
                    s.capabilities[controlOf("b", SettingKey::contrast)].reason = "DDC";
                });
            }},
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
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CaptureWorld w;
        w.hold(brightnessA, SettingValue::percent(0.5));
        TaskOutcome<CurrentProfileState> outcome;
        spawn(w.world.executor, recordOutcome(w.model->captureCurrentProfileState(false), outcome));
        // Eight reads of 10 ms: the change lands during the last one.
        w.world.executor.advance(75ms);
        ASSERT_FALSE(outcome.hasEnded());
        c.change(w);
        w.world.executor.advance(1s);
        EXPECT_EQ(refusalOf(outcome), c.name == "nothing changes" ? "done" : stateChanged);
    }
}

TEST(CaptureTest, HoldThatExpiresDuringTheReadsIsRefused)
{
    struct Case {
        std::chrono::milliseconds lifetime;
        std::string_view outcome;
    };
    // One read of 10 ms, then the display-preference snapshot of 10 ms.
    const Case cases[] = {{20ms, stateChanged}, {21ms, "done"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.lifetime.count());
        CaptureWorld w;
        w.model->holds.set({{brightnessA,
            ManualHold{.value = SettingValue::percent(0.4),
                .expiresAt = w.world.executor.wallNow() + c.lifetime}}});
        w.model->hardwareSnapshot.modify([](auto& s) {
            for (auto& [key, capability] : s.capabilities)
                capability.available = key == brightnessA;
        });
        EXPECT_EQ(refusalOf(w.run(w.model->captureCurrentProfileState(false))), c.outcome);
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
    w.systemDisplay.state.values
        = {{SystemDisplayControl::trueTone(), true}, {SystemDisplayControl::nightShift(), false},
            {SystemDisplayControl::automaticBrightness("b"), true}};
    w.model->hardwareSnapshot.modify([](auto& s) { s.currentModes["b"].resolution.reset(); });

    const auto outcome = w.run(w.model->captureCurrentProfileState(false));
    ASSERT_EQ(refusalOf(outcome), "done");
    std::map<ControlKey, SettingValue> expected = w.controls.values;
    EXPECT_EQ(outcome.value->values, expected); // the value read, 71 %, not the held 70 %
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
    struct Case {
        std::string_view name;
        std::map<SystemDisplayControl, bool> values;
        std::optional<bool> automaticBrightness;
        std::string_view outcome;
    };
    const auto automatic = SystemDisplayControl::automaticBrightness;
    const Case cases[] = {
        {"none", {}, std::nullopt, "done"},
        {"one screen", {{automatic("a"), false}}, false, "done"},
        {"both on", {{automatic("a"), true}, {automatic("b"), true}}, true, "done"},
        {"disagree", {{automatic("a"), true}, {automatic("b"), false}}, std::nullopt,
            "Automatic brightness differs between screens. Choose the same setting before saving "
            "a new profile."},
        {"disconnected screen ignored", {{automatic("a"), true}, {automatic("z"), false}}, true,
            "done"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CaptureWorld w;
        w.hold(brightnessA, SettingValue::percent(0.4));
        w.systemDisplay.state.values = c.values;
        w.model->hardwareSnapshot.modify([](auto& s) {
            for (auto& [id, mode] : s.currentModes)
                mode.resolution.reset();
        });
        const auto outcome = w.run(w.model->captureCurrentProfileState(false));
        ASSERT_EQ(refusalOf(outcome), c.outcome);
        if (!outcome.value)
            continue;
        EXPECT_EQ(outcome.value->displayPreferences.automaticBrightness, c.automaticBrightness);
        // No current mode carries a resolution: the map is there, and empty.
        EXPECT_EQ(outcome.value->displayPreferences.resolutions,
            std::optional(std::map<std::string, DisplayResolution>{}));
    }
}

TEST(CaptureModeValidationTest, OnlyAConfirmedUnchangedModeMayBeSaved)
{
    const ModeConfiguration current{.refreshRate = RefreshPreference::fixed(60'000),
        .hdr = false,
        .resolution = CaptureWorld::resolution};
    struct Case {
        std::string_view name;
        std::set<ControlKey> keys;
        std::optional<RefreshPreference> planned;
        bool verified;
        bool recorded;
        std::string_view outcome;
    };
    const Case cases[] = {
        {"no mode key", {brightnessA, contrastA}, RefreshPreference::fixed(120'000), false, false,
            "done"},
        {"no recorded mode", {refreshA}, std::nullopt, true, false,
            "Recheck the screen before saving its display mode."},
        {"unchanged and confirmed", {refreshA}, RefreshPreference::fixed(60'000), true, true,
            "done"},
        {"no value planned, confirmed", {refreshA}, std::nullopt, true, true, "done"},
        {"unchanged, never confirmed", {refreshA}, RefreshPreference::fixed(60'000), false, true,
            untestedMode},
        {"other rate, confirmed", {refreshA}, RefreshPreference::fixed(120'000), true, true,
            untestedMode},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CaptureWorld w;
        w.model->hardwareSnapshot.modify([&](auto& s) {
            s.currentModes.clear();
            if (c.recorded)
                s.currentModes.emplace("a", current);
        });
        Configuration candidate = w.model->configuration.get();
        if (c.verified)
            candidate.verifiedModes.push_back(
                {.displayID = "a", .environment = "env-a", .mode = current});
        w.model->configuration.set(candidate);
        if (c.planned) {
            DefaultSettings defaults = candidate.defaultSettings();
            defaults.setExplicit(SettingValue::refresh(*c.planned), refreshA);
            candidate.setDefaultSettings(defaults);
        }
        std::string outcome = "done";
        try {
            w.model->validateCapturedModes(candidate, c.keys);
        } catch (const ConfigurationError& error) {
            outcome = error.what();
        }
        EXPECT_EQ(outcome, c.outcome);
    }
}

TEST(CaptureModeValidationTest, PlannedHDRCountsOnlyWhereTheModelOffersTheControl)
{
    const ControlKey hdrA = controlOf("a", SettingKey::hdr);
    const ModeConfiguration current{.refreshRate = RefreshPreference::fixed(60'000),
        .hdr = false,
        .resolution = CaptureWorld::resolution};
    // The built-in display's HDR is never offered, whatever the hardware reported.
    for (const bool builtIn : {true, false}) {
        SCOPED_TRACE(builtIn);
        CaptureWorld w;
        w.model->displays.modify([&](auto& d) { d[0].isBuiltIn = builtIn; });
        w.model->hardwareSnapshot.modify([&](auto& s) { s.capabilities[hdrA].available = true; });
        Configuration candidate = w.model->configuration.get();
        candidate.verifiedModes.push_back(
            {.displayID = "a", .environment = "env-a", .mode = current});
        DefaultSettings defaults = candidate.defaultSettings();
        defaults.setExplicit(SettingValue::toggle(true), hdrA);
        candidate.setDefaultSettings(defaults);
        w.model->configuration.set(candidate);
        std::string outcome = "done";
        try {
            w.model->validateCapturedModes(candidate, {hdrA});
        } catch (const ConfigurationError& error) {
            outcome = error.what();
        }
        EXPECT_EQ(outcome, builtIn ? "done" : untestedMode);
    }
}

} // namespace
} // namespace quorvane
