#include "CaptureTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

using namespace std::chrono_literals;

namespace quorvane {
namespace {

const ControlKey brightnessA = controlOf("a", SettingKey::brightness);
const ControlKey contrastA = controlOf("a", SettingKey::contrast);
const ControlKey brightnessB = controlOf("b", SettingKey::brightness);
const ControlKey refreshA = controlOf("a", SettingKey::refreshRate);

const DisplayReference studio{.id = "a", .name = "Studio"};
const DisplayReference side{.id = "b", .name = "Side"};
const ApplicationReference writer{.id = "com.example.Writer", .name = "Writer"};
const ApplicationReference viewer{.id = "com.example.Viewer", .name = "Viewer"};

/// A rule as the user sees it; new rules get random identifiers.
struct RuleView {
    std::string name;
    bool isEnabled;
    RuleConditions conditions;
    RuleSettings settings;
    bool operator==(const RuleView&) const = default;
    friend void PrintTo(const RuleView& rule, std::ostream* stream)
    {
        *stream << rule.name << (rule.isEnabled ? "" : " (off)") << " [" << rule.conditions.label()
                << "]";
    }
};

std::vector<RuleView> views(const RuleList& rules)
{
    std::vector<RuleView> result;
    for (const Rule& rule : rules)
        result.push_back({rule.name, rule.isEnabled, rule.conditions, rule.settings});
    return result;
}

/// Adds "Work profile" with `rules` and makes it active, with Writer frontmost on display "a".
void activateWorkProfile(CaptureWorld& w, const std::vector<RuleView>& rules = {})
{
    Profile profile{.id = UUID::random(), .name = "Work profile"};
    for (const auto& [name, isEnabled, conditions, settings] : rules)
        profile.rules.push_back({.id = UUID::random(),
            .name = name,
            .isEnabled = isEnabled,
            .conditions = conditions,
            .settings = settings});
    w.model->configuration.modify([&](Configuration& c) {
        c.profiles.push_back(profile);
        c.activeProfileID = profile.id;
    });
    w.model->context.modify([](RuntimeContext& c) {
        c.appBundleID = writer.id;
        c.focusedDisplayID = "a";
    });
}

TEST(ManualProfileTest, HeldValuesArePlacedIntoTheActiveProfileRules)
{
    const RuleConditions work{.apps = {writer}};
    const RuleConditions workOnStudio{.apps = {writer}, .screen = studio};
    const RuleConditions studioOnly{.screen = studio};
    const RuleView savedStudio{"Saved adjustments · Studio", true, studioOnly, {.brightness = 0.3}};
    const RuleView workRule{"Work", true, work, {.brightness = 0.8}};
    const RuleView workOnStudioRule{"Work · Studio", true, workOnStudio, {.brightness = 0.3}};
    const RuleView mine{"Mine", true, workOnStudio, {.contrast = 0.1}};
    const RuleView viewerRule{"Viewer", true, {.apps = {viewer}}, {.contrast = 0.1}};
    const std::map<ControlKey, SettingValue> brightness{{brightnessA, SettingValue::percent(0.3)}};
    struct Case {
        std::string_view name;
        std::vector<RuleView> rules;
        std::map<ControlKey, SettingValue> held;
        std::vector<RuleView> expected;
    };
    const Case cases[] = {
        {"undecided: one new rule per display, the later display's on top", {},
            {{brightnessA, SettingValue::percent(0.3)}, {contrastA, SettingValue::percent(0.6)},
                {brightnessB, SettingValue::percent(0.7)}},
            {{"Saved adjustments · Side", true, {.screen = side}, {.brightness = 0.7}},
                {"Saved adjustments · Studio", true, studioOnly,
                    {.brightness = 0.3, .contrast = 0.6}}}},
        {"decided by Work: a new rule right above it, past a disabled equal one",
            {viewerRule, {"Off", false, workOnStudio, {.contrast = 0.2}}, workRule}, brightness,
            {viewerRule, {"Off", false, workOnStudio, {.contrast = 0.2}}, workOnStudioRule,
                workRule}},
        {"an enabled equal rule above the deciding rule takes the value", {mine, workRule},
            brightness,
            {{"Mine", true, workOnStudio, {.brightness = 0.3, .contrast = 0.1}}, workRule}},
        {"an equal rule below the deciding rule is not searched", {workRule, mine}, brightness,
            {workOnStudioRule, workRule, mine}},
        {"undecided: the top rule on the same screen takes it",
            {{"Top", true, studioOnly, {.contrast = 0.5}}}, brightness,
            {{"Top", true, studioOnly, {.brightness = 0.3, .contrast = 0.5}}}},
        {"undecided: only the top rule is searched",
            {viewerRule, {"Studio", true, studioOnly, {.contrast = 0.2}}}, brightness,
            {savedStudio, viewerRule, {"Studio", true, studioOnly, {.contrast = 0.2}}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CaptureWorld w;
        activateWorkProfile(w, c.rules);
        for (const auto& [key, value] : c.held)
            w.hold(key, value);
        ASSERT_EQ(refusalOf(w.run(w.model->updateActiveProfileFromManualSettings())), "done");
        EXPECT_EQ(views(w.model->configuration->activeProfile().rules), c.expected);
        EXPECT_TRUE(w.model->holds->empty());
        EXPECT_FALSE(w.model->isSavingManualProfile.get());
        EXPECT_EQ(configurationIn(w.model->settingsURL), w.model->configuration.get());
    }
}

TEST(ManualProfileTest, OnTheDefaultProfileHeldValuesBecomeDefaultSettings)
{
    CaptureWorld w;
    w.hold(brightnessA, SettingValue::percent(0.3));
    w.hold(brightnessB, SettingValue::percent(0.7));
    ASSERT_EQ(refusalOf(w.run(w.model->updateActiveProfileFromManualSettings())), "done");
    const Configuration& saved = w.model->configuration.get();
    EXPECT_EQ(saved.defaultSettings(),
        (DefaultSettings{.displays = {{"a", {.brightness = 0.3}}, {"b", {.brightness = 0.7}}},
            .initializedDisplayIDs = {"a", "b"}}));
    EXPECT_TRUE(saved.activeProfile().rules.empty());
    EXPECT_TRUE(w.model->holds->empty());
}

TEST(ManualProfileTest, OnlyHoldsUnchangedSinceTheCaptureAreReleased)
{
    const ManualHold adjusted{.value = SettingValue::percent(0.9)};
    const ManualHold added{.value = SettingValue::percent(0.1)};
    const std::map<ControlKey, ManualHold> both{
        {brightnessA, {.value = SettingValue::percent(0.3)}},
        {contrastA, {.value = SettingValue::percent(0.6)}}};
    using Case = std::tuple<std::string_view, std::function<void(CaptureWorld&)>,
        std::map<ControlKey, ManualHold>>;
    const Case cases[] = {
        {"adjusted again, another added",
            [&](auto& w) {
                w.model->holds.modify([&](auto& holds) {
                    holds.insert_or_assign(brightnessA, adjusted);
                    holds.insert_or_assign(brightnessB, added);
                });
            },
            {{brightnessA, adjusted}, {brightnessB, added}}},
        {"another profile activated: holds stay",
            [](auto& w) {
                w.model->configuration.modify(
                    [](auto& c) { c.activeProfileID = c.profiles.front().id; });
            },
            both},
    };
    for (const auto& [name, duringSave, remaining] : cases) {
        SCOPED_TRACE(name);
        CaptureWorld w;
        activateWorkProfile(w);
        for (const auto& [key, hold] : both)
            w.hold(key, hold.value);
        // The save starts right after the new document is set; the change lands while it runs.
        bool changed = false;
        const Subscription whileSaving = w.model->saveTask.observe([&, &change = duringSave] {
            if (!std::exchange(changed, true))
                change(w);
        });
        ASSERT_EQ(refusalOf(w.run(w.model->updateActiveProfileFromManualSettings())), "done");
        EXPECT_TRUE(changed);
        EXPECT_EQ(w.model->holds.get(), remaining);
    }
}

Task<void> saveAsProfile(CaptureWorld& w, std::string name)
{
    co_await w.model->saveCurrentStateAsProfile(std::move(name));
}

TEST(ManualProfileTest, RefusalsLeaveTheDocumentAndTheHoldsAlone)
{
    const auto update
        = [](CaptureWorld& w) { return w.model->updateActiveProfileFromManualSettings(); };
    const auto saveAs
        = [](std::string name) { return [=](CaptureWorld& w) { return saveAsProfile(w, name); }; };
    const std::string_view noHold = "There are no manual settings to save.";
    const auto holdNone = [](CaptureWorld& w) { w.model->holds.set({}); };
    const auto saving = [](CaptureWorld& w) { w.model->isSavingManualProfile.set(true); };
    const auto nothing = [](CaptureWorld&) {};
    using Case = std::tuple<std::string_view, std::function<Task<void>(CaptureWorld&)>,
        std::function<void(CaptureWorld&)>, std::string_view>;
    const Case cases[] = {
        {"no hold", update, holdNone, noHold},
        {"already saving", update, saving, "Saving profile…"},
        {"held value not reached", update,
            [](auto& w) {
                w.controls.values.insert_or_assign(brightnessA, SettingValue::percent(0.9));
            },
            "Brightness has not reached its manual value. Adjust it again before saving."},
        {"held refresh rate never tested", update,
            [](auto& w) {
                w.hold(refreshA, SettingValue::refresh(RefreshPreference::fixed(60'000)));
            },
            "Test the profile’s resolution, HDR and refresh settings before saving this "
            "manual change."},
        {"new profile: no name", saveAs(""), nothing, "Enter a profile name."},
        {"new profile: a blank name", saveAs(" \n\t "), nothing, "Enter a profile name."},
        {"new profile: default", saveAs("  DEFAULT "), nothing,
            "Default is reserved for the permanent fallback profile."},
        {"new profile: no hold", saveAs("Evening"), holdNone, noHold},
        {"new profile: already saving", saveAs("Evening"), saving, "Saving profile…"},
    };
    for (const auto& [name, operation, setUp, refusal] : cases) {
        SCOPED_TRACE(name);
        CaptureWorld w;
        activateWorkProfile(w);
        w.hold(brightnessA, SettingValue::percent(0.3));
        setUp(w);
        const Configuration before = w.model->configuration.get();
        const auto holds = w.model->holds.get();
        const auto lastSave = w.model->saveTask.get();
        EXPECT_EQ(refusalOf(w.run(operation(w))), refusal);
        EXPECT_EQ(w.model->configuration.get(), before);
        EXPECT_EQ(w.model->holds.get(), holds);
        EXPECT_EQ(w.model->saveTask.get(), lastSave);
        EXPECT_EQ(w.model->isSavingManualProfile.get(), name.ends_with("already saving"));
    }
}

TEST(ManualProfileTest, FailedSettingsWriteKeepsTheDocumentAndTheHolds)
{
    CaptureWorld w;
    // The file cannot be written once the model has loaded it: its folder becomes a file.
    const std::filesystem::path folder = w.world.home.path() / "blocked";
    w.start({.settingsURL = folder / "settings.json"});
    std::filesystem::remove_all(folder);
    writeFile(folder, "a file, not a folder");
    activateWorkProfile(w);
    w.hold(brightnessA, SettingValue::percent(0.3));

    const auto outcome = w.run(w.model->updateActiveProfileFromManualSettings());
    ASSERT_TRUE(w.model->settingsError.get());
    EXPECT_EQ(refusalOf(outcome), *w.model->settingsError.get());
    EXPECT_EQ(w.model->configuration->activeProfile().rules.size(), 1U);
    EXPECT_EQ(w.model->holds->size(), 1U);
    EXPECT_FALSE(w.model->isSavingManualProfile.get());
}

TEST(NewProfileTest, OneRulePerDisplayFromWhatTheDisplaysShow)
{
    CaptureWorld w;
    w.hold(brightnessA, SettingValue::percent(0.45));
    w.controls.values.insert_or_assign(brightnessA, SettingValue::percent(0.46));
    w.controls.readFailures.emplace(controlOf("b", SettingKey::temperature), "No reply");
    w.systemDisplay.state.values = {{SystemDisplayControl::darkMode(), true}};
    const auto activeBefore = w.model->configuration->activeProfileID;

    TaskOutcome<UUID> outcome;
    spawn(w.world.executor,
        recordOutcome(w.model->saveCurrentStateAsProfile("  Defaults "), outcome));
    w.world.executor.advance(5ms);
    EXPECT_TRUE(w.model->isSavingManualProfile.get());
    w.world.executor.advance(1s);
    ASSERT_EQ(refusalOf(outcome), "done");
    EXPECT_FALSE(w.model->isSavingManualProfile.get());

    const Configuration& saved = w.model->configuration.get();
    ASSERT_EQ(saved.profiles.size(), 2U);
    const Profile& profile = saved.profiles.back();
    EXPECT_EQ(profile.id, *outcome.value);
    EXPECT_EQ(profile.name, "Defaults"); // only "default" itself is reserved
    EXPECT_EQ(saved.activeProfileID, activeBefore);
    const auto rate = RefreshPreference::fixed(60'000);
    EXPECT_EQ(views(profile.rules),
        (std::vector<RuleView>{{"Studio", true, {.screen = studio},
                                   {.brightness = 0.46,
                                       .temperature = Temperature::kelvin(6500),
                                       .refreshRate = rate,
                                       .contrast = 0.5}},
            {"Side", true, {.screen = side},
                {.brightness = 0.4, .refreshRate = rate, .contrast = 0.5}}}));
    EXPECT_EQ(profile.displayPreferences,
        (ProfileDisplayPreferences{.darkMode = true,
            .resolutions = std::map<std::string, DisplayResolution>{
                {"a", CaptureWorld::resolution}, {"b", CaptureWorld::resolution}}}));
    EXPECT_FALSE(profile.defaultSettings);
    EXPECT_EQ(w.model->holds->size(), 1U);
    EXPECT_EQ(configurationIn(w.model->settingsURL), saved);
}

} // namespace
} // namespace quorvane
