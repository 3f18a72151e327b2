#include "CaptureTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

using namespace std::chrono_literals;

namespace quorvane {
namespace {

constexpr std::string_view untestedMode
    = "Test the profile’s resolution, HDR and refresh settings before saving this manual change.";

const ControlKey brightnessA = controlOf("a", SettingKey::brightness);
const ControlKey contrastA = controlOf("a", SettingKey::contrast);
const ControlKey brightnessB = controlOf("b", SettingKey::brightness);
const ControlKey refreshA = controlOf("a", SettingKey::refreshRate);

const DisplayReference studio{.id = "a", .name = "Studio"};
const ApplicationReference writer{.id = "com.example.Writer", .name = "Writer"};
const ApplicationReference viewer{.id = "com.example.Viewer", .name = "Viewer"};

/// A rule as the user sees it; new rules get random identifiers.
struct RuleView {
    std::string name;
    bool isEnabled;
    RuleConditions conditions;
    RuleSettings settings;
    bool operator==(const RuleView&) const = default;
};

void PrintTo(const RuleView& rule, std::ostream* stream)
{
    *stream << rule.name << (rule.isEnabled ? "" : " (off)") << " [" << rule.conditions.label()
            << "]";
}

Rule rule(std::string name, RuleConditions conditions, RuleSettings settings, bool isEnabled = true)
{
    return {.id = UUID::random(),
        .name = std::move(name),
        .isEnabled = isEnabled,
        .conditions = std::move(conditions),
        .settings = settings};
}

RuleView view(const Rule& rule)
{
    return {rule.name, rule.isEnabled, rule.conditions, rule.settings};
}

std::vector<RuleView> views(const std::vector<Rule>& rules)
{
    std::vector<RuleView> result;
    for (const Rule& rule : rules)
        result.push_back(view(rule));
    return result;
}

/// Adds "Work profile" with `rules`, makes it active and the Writer application frontmost on
/// display "a".
UUID activateWorkProfile(CaptureWorld& w, std::vector<Rule> rules)
{
    const Profile profile{.id = UUID::random(), .name = "Work profile", .rules = std::move(rules)};
    w.model->configuration.modify([&](Configuration& c) {
        c.profiles.push_back(profile);
        c.activeProfileID = profile.id;
    });
    w.model->context.modify([](RuntimeContext& c) {
        c.appBundleID = writer.id;
        c.focusedDisplayID = "a";
    });
    return profile.id;
}

const Profile& profileWithID(const AppModel& model, const UUID& id)
{
    const auto& profiles = model.configuration->profiles;
    return *std::ranges::find_if(profiles, [&](const Profile& p) { return p.id == id; });
}

TEST(ManualProfileTest, HeldValuesArePlacedIntoTheActiveProfileRules)
{
    const RuleConditions work{.apps = {writer}};
    const RuleConditions workOnStudio{.apps = {writer}, .screen = studio};
    const RuleConditions studioOnly{.screen = studio};
    const RuleView savedStudio{"Saved adjustments · Studio", true, studioOnly, {.brightness = 0.3}};
    struct Case {
        std::string_view name;
        std::vector<Rule> rules;
        std::map<ControlKey, SettingValue> held;
        std::vector<RuleView> expected;
    };
    const Case cases[] = {
        {"undecided, one display", {},
            {{brightnessA, SettingValue::percent(0.3)}, {contrastA, SettingValue::percent(0.6)}},
            {{"Saved adjustments · Studio", true, studioOnly,
                {.brightness = 0.3, .contrast = 0.6}}}},
        {"undecided, two displays: the second display's rule on top", {},
            {{brightnessA, SettingValue::percent(0.3)}, {brightnessB, SettingValue::percent(0.7)}},
            {{"Saved adjustments · Side", true, {.screen = DisplayReference{"b", "Side"}},
                 {.brightness = 0.7}},
                savedStudio}},
        {"decided by Work at position 3: a new rule right above it",
            {rule("Side", {.screen = DisplayReference{"b", "Side"}}, {.brightness = 0.2}),
                rule("Off", workOnStudio, {.temperature = Temperature::neutral()}, false),
                rule("Viewer", {.apps = {viewer}}, {.brightness = 0.1}),
                rule("Work", work, {.brightness = 0.8, .contrast = 0.9})},
            {{brightnessA, SettingValue::percent(0.3)}},
            {view(rule("Side", {.screen = DisplayReference{"b", "Side"}}, {.brightness = 0.2})),
                {"Off", false, workOnStudio, {.temperature = Temperature::neutral()}},
                view(rule("Viewer", {.apps = {viewer}}, {.brightness = 0.1})),
                {"Work · Studio", true, workOnStudio, {.brightness = 0.3}},
                {"Work", true, work, {.brightness = 0.8, .contrast = 0.9}}}},
        {"a later value Work decides goes into the rule made before",
            {rule("Work · Studio", workOnStudio, {.brightness = 0.3}),
                rule("Work", work, {.brightness = 0.8, .contrast = 0.9})},
            {{contrastA, SettingValue::percent(0.6)}},
            {{"Work · Studio", true, workOnStudio, {.brightness = 0.3, .contrast = 0.6}},
                {"Work", true, work, {.brightness = 0.8, .contrast = 0.9}}}},
        {"an enabled equal rule above the deciding rule takes the value",
            {rule("Mine", workOnStudio, {.temperature = Temperature::kelvin(5000)}),
                rule("Work", work, {.brightness = 0.8})},
            {{brightnessA, SettingValue::percent(0.3)}},
            {{"Mine", true, workOnStudio,
                 {.brightness = 0.3, .temperature = Temperature::kelvin(5000)}},
                {"Work", true, work, {.brightness = 0.8}}}},
        {"a disabled equal rule does not",
            {rule("Mine", workOnStudio, {.contrast = 0.1}, false),
                rule("Work", work, {.brightness = 0.8})},
            {{brightnessA, SettingValue::percent(0.3)}},
            {{"Mine", false, workOnStudio, {.contrast = 0.1}},
                {"Work · Studio", true, workOnStudio, {.brightness = 0.3}},
                {"Work", true, work, {.brightness = 0.8}}}},
        {"an equal rule below the deciding rule is not searched",
            {rule("Work", work, {.brightness = 0.8}),
                rule("Mine", workOnStudio, {.contrast = 0.1})},
            {{brightnessA, SettingValue::percent(0.3)}},
            {{"Work · Studio", true, workOnStudio, {.brightness = 0.3}},
                {"Work", true, work, {.brightness = 0.8}},
                {"Mine", true, workOnStudio, {.contrast = 0.1}}}},
        {"a screen recorded under another name is not equal",
            {rule("Mine", {.apps = {writer}, .screen = DisplayReference{"a", "Old"}},
                 {.contrast = 0.1}),
                rule("Work", work, {.brightness = 0.8})},
            {{brightnessA, SettingValue::percent(0.3)}},
            {{"Mine", true, {.apps = {writer}, .screen = DisplayReference{"a", "Old"}},
                 {.contrast = 0.1}},
                {"Work · Studio", true, workOnStudio, {.brightness = 0.3}},
                {"Work", true, work, {.brightness = 0.8}}}},
        {"undecided: the top rule on the same screen takes it",
            {rule("Top", studioOnly, {.contrast = 0.5})},
            {{brightnessA, SettingValue::percent(0.3)}},
            {{"Top", true, studioOnly, {.brightness = 0.3, .contrast = 0.5}}}},
        {"undecided: only the top rule is searched",
            {rule("Viewer", {.apps = {viewer}}, {.contrast = 0.1}),
                rule("Studio", studioOnly, {.contrast = 0.2})},
            {{brightnessA, SettingValue::percent(0.3)}},
            {savedStudio, {"Viewer", true, {.apps = {viewer}}, {.contrast = 0.1}},
                {"Studio", true, studioOnly, {.contrast = 0.2}}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CaptureWorld w;
        const UUID profileID = activateWorkProfile(w, c.rules);
        for (const auto& [key, value] : c.held)
            w.hold(key, value);
        const auto outcome = w.run(w.model->updateActiveProfileFromManualSettings());
        ASSERT_EQ(refusalOf(outcome), "done");
        EXPECT_EQ(views(profileWithID(*w.model, profileID).rules), c.expected);
        EXPECT_EQ(w.model->holds.get(), (std::map<ControlKey, ManualHold>{}));
        EXPECT_FALSE(w.model->isSavingManualProfile.get());
        EXPECT_EQ(configurationIn(w.model->settingsURL), w.model->configuration.get());
    }
}

TEST(ManualProfileTest, OnTheDefaultProfileHeldValuesBecomeDefaultSettings)
{
    CaptureWorld w;
    w.hold(brightnessA, SettingValue::percent(0.3));
    w.hold(brightnessB, SettingValue::percent(0.7));
    const auto outcome = w.run(w.model->updateActiveProfileFromManualSettings());
    ASSERT_EQ(refusalOf(outcome), "done");
    const Configuration& saved = w.model->configuration.get();
    EXPECT_EQ(saved.defaultSettings(),
        (DefaultSettings{.displays = {{"a", {.brightness = 0.3}}, {"b", {.brightness = 0.7}}},
            .initializedDisplayIDs = {"a", "b"}}));
    EXPECT_TRUE(saved.activeProfile().rules.empty());
    EXPECT_TRUE(w.model->holds->empty());
}

TEST(ManualProfileTest, OnlyHoldsUnchangedSinceTheCaptureAreReleased)
{
    struct Case {
        std::string_view name;
        std::function<void(CaptureWorld&)> duringSave;
        std::map<ControlKey, ManualHold> remaining;
    };
    const ManualHold adjusted{.value = SettingValue::percent(0.9)};
    const ManualHold added{.value = SettingValue::percent(0.1)};
    const Case cases[] = {
        {"nothing changes", [](auto&) {}, {}},
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
            {{brightnessA, ManualHold{.value = SettingValue::percent(0.3)}},
                {contrastA, ManualHold{.value = SettingValue::percent(0.6)}}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CaptureWorld w;
        activateWorkProfile(w, {});
        w.hold(brightnessA, SettingValue::percent(0.3));
        w.hold(contrastA, SettingValue::percent(0.6));
        // The save starts right after the new document is set; the change lands while it runs.
        bool changed = false;
        const Subscription whileSaving = w.model->saveTask.observe([&] {
            if (!std::exchange(changed, true))
                c.duringSave(w);
        });
        const auto outcome = w.run(w.model->updateActiveProfileFromManualSettings());
        ASSERT_EQ(refusalOf(outcome), "done");
        EXPECT_TRUE(changed);
        EXPECT_EQ(w.model->holds.get(), c.remaining);
    }
}

TEST(ManualProfileTest, RefusalsLeaveTheDocumentAndTheHoldsAlone)
{
    struct Case {
        std::string_view name;
        std::function<void(CaptureWorld&)> setUp;
        std::string_view refusal;
    };
    const Case cases[] = {
        {"no hold", [](auto& w) { w.model->holds.set({}); },
            "There are no manual settings to save."},
        {"already saving", [](auto& w) { w.model->isSavingManualProfile.set(true); },
            "Saving profile…"},
        {"display test running",
            [](auto& w) { w.model->preview.set(DisplayPreview{.id = UUID::random()}); },
            "Wait for the display settings to finish changing."},
        {"held value not reached",
            [](auto& w) {
                w.controls.values.insert_or_assign(brightnessA, SettingValue::percent(0.9));
            },
            "Brightness has not reached its manual value. Adjust it again before saving."},
        {"held refresh rate never tested",
            [](auto& w) {
                w.hold(refreshA, SettingValue::refresh(RefreshPreference::fixed(60'000)));
            },
            untestedMode},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CaptureWorld w;
        activateWorkProfile(w, {});
        w.hold(brightnessA, SettingValue::percent(0.3));
        c.setUp(w);
        const Configuration before = w.model->configuration.get();
        const auto holds = w.model->holds.get();
        const auto lastSave = w.model->saveTask.get();
        EXPECT_EQ(refusalOf(w.run(w.model->updateActiveProfileFromManualSettings())), c.refusal);
        EXPECT_EQ(w.model->configuration.get(), before);
        EXPECT_EQ(w.model->holds.get(), holds);
        EXPECT_EQ(w.model->saveTask.get(), lastSave);
        EXPECT_EQ(w.model->isSavingManualProfile.get(), c.name == "already saving");
    }
}

TEST(ManualProfileTest, ConfirmedRefreshRateIsSavedLikeAnyValue)
{
    CaptureWorld w;
    activateWorkProfile(w, {});
    const ModeConfiguration current = w.model->hardwareSnapshot->currentModes.at("a");
    w.model->configuration.modify([&](Configuration& c) {
        c.verifiedModes.push_back({.displayID = "a", .environment = "env-a", .mode = current});
    });
    w.hold(refreshA, SettingValue::refresh(RefreshPreference::fixed(60'000)));
    ASSERT_EQ(refusalOf(w.run(w.model->updateActiveProfileFromManualSettings())), "done");
    EXPECT_EQ(views(w.model->configuration->activeProfile().rules),
        (std::vector<RuleView>{{"Saved adjustments · Studio", true, {.screen = studio},
            {.refreshRate = RefreshPreference::fixed(60'000)}}}));
}

TEST(ManualProfileTest, FailedSettingsWriteKeepsTheDocumentAndTheHolds)
{
    CaptureWorld w;
    // The file cannot be written once the model has loaded it: its folder becomes a file.
    const std::filesystem::path folder = w.world.home.path() / "blocked";
    w.start({.settingsURL = folder / "settings.json"});
    std::filesystem::remove_all(folder);
    writeFile(folder, "a file, not a folder");
    const UUID profileID = activateWorkProfile(w, {});
    w.hold(brightnessA, SettingValue::percent(0.3));

    const auto outcome = w.run(w.model->updateActiveProfileFromManualSettings());
    ASSERT_TRUE(w.model->settingsError.get());
    EXPECT_EQ(refusalOf(outcome), *w.model->settingsError.get());
    EXPECT_EQ(profileWithID(*w.model, profileID).rules.size(), 1U);
    EXPECT_EQ(w.model->holds->size(), 1U);
    EXPECT_FALSE(w.model->isSavingManualProfile.get());
}

TEST(NewProfileTest, NameMustBeGivenAndNotDefault)
{
    struct Case {
        std::string name;
        std::string_view outcome;
    };
    const Case cases[] = {
        {"", "Enter a profile name."},
        {" \n\t ", "Enter a profile name."},
        {"  DEFAULT ", "Default is reserved for the permanent fallback profile."},
        {"default", "Default is reserved for the permanent fallback profile."},
        {"Defaults", "done"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CaptureWorld w;
        w.hold(brightnessA, SettingValue::percent(0.4));
        EXPECT_EQ(refusalOf(w.run(w.model->saveCurrentStateAsProfile(c.name))), c.outcome);
    }
}

TEST(NewProfileTest, RefusesWithoutHoldOrWhileSaving)
{
    CaptureWorld w;
    EXPECT_EQ(refusalOf(w.run(w.model->saveCurrentStateAsProfile("Evening"))),
        "There are no manual settings to save.");
    w.hold(brightnessA, SettingValue::percent(0.4));
    w.model->isSavingManualProfile.set(true);
    EXPECT_EQ(refusalOf(w.run(w.model->saveCurrentStateAsProfile("Evening"))), "Saving profile…");
    EXPECT_EQ(w.model->configuration->profiles.size(), 1U);
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
    spawn(
        w.world.executor, recordOutcome(w.model->saveCurrentStateAsProfile("  Evening "), outcome));
    w.world.executor.advance(5ms);
    EXPECT_TRUE(w.model->isSavingManualProfile.get());
    w.world.executor.advance(1s);
    ASSERT_EQ(refusalOf(outcome), "done");
    EXPECT_FALSE(w.model->isSavingManualProfile.get());

    const Configuration& saved = w.model->configuration.get();
    ASSERT_EQ(saved.profiles.size(), 2U);
    const Profile& profile = saved.profiles.back();
    EXPECT_EQ(profile.id, *outcome.value);
    EXPECT_EQ(profile.name, "Evening");
    EXPECT_EQ(saved.activeProfileID, activeBefore);
    const RuleSettings common{.temperature = Temperature::kelvin(6500),
        .refreshRate = RefreshPreference::fixed(60'000),
        .contrast = 0.5};
    RuleSettings studioSettings = common;
    studioSettings.brightness = 0.46;
    RuleSettings sideSettings = common;
    sideSettings.brightness = 0.4;
    sideSettings.temperature.reset();
    EXPECT_EQ(views(profile.rules),
        (std::vector<RuleView>{{"Studio", true, {.screen = studio}, studioSettings},
            {"Side", true, {.screen = DisplayReference{"b", "Side"}}, sideSettings}}));
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
