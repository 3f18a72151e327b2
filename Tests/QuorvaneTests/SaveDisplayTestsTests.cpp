#include "Quorvane/AppModel.h"

#include "SaveTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace quorvane {
namespace {

using namespace save_support;

const std::string changingText = "Display settings are changing or unavailable. Try saving again.";
const std::string unavailableValue = "Value unavailable in this display mode";
const std::string unavailableSettingsText
    = "Display settings are unavailable. Recheck the screen and try saving again.";
const DisplayResolution unoffered{
    .width = 1280, .height = 720, .pixelWidth = 1280, .pixelHeight = 720};
const DisplayReference external{.id = externalID, .name = "Studio Monitor"};
const DisplayReference builtIn{.id = builtInID, .name = "Built-in Retina Display"};

Rule modeRule(RuleSettings settings, std::optional<DisplayReference> screen = std::nullopt)
{
    return {.id = UUID::random(),
        .name = "Modes",
        .isEnabled = true,
        .conditions = {.screen = std::move(screen)},
        .settings = settings};
}

bool holds(const AppModel& model, const UUID& profileID, const Rule& rule)
{
    const Profile* profile = findProfile(model, profileID);
    return profile && std::ranges::find(profile->rules, rule) != profile->rules.end();
}

TEST(SaveDisplayTestsTest, TheChainSavesOnlyOnTheLastKeep)
{
    using Prepare = std::function<void(AppModel&)>;
    const Prepare nothing = [](AppModel&) {};
    const Prepare withoutCurrentMode = [](AppModel& m) {
        m.hardwareSnapshot.modify([](HardwareSnapshot& s) { s.currentModes.erase(externalID); });
    };
    const Prepare settingsBreak = [](AppModel& m) { m.settingsError.set("The file broke."); };
    const struct {
        const char* what;
        Prepare prepare;
        /// A rule with these settings, else a Default-settings draft of them for the external
        /// monitor.
        bool isRule;
        RuleSettings settings;
        std::vector<Answer> answers;
        std::string titles;
        bool saved;
        std::optional<std::string> error;
        /// Runs while the first test waits for its answer.
        Prepare meanwhile = nullptr;
        /// The draft also clears the external monitor's HDR and refresh-rate defaults.
        bool clearsModes = false;
    } cases[] = {
        {"a brightness rule", nothing, true, {.brightness = 0.5}, {}, "", true, std::nullopt},
        {"HDR reaches only the screen whose HDR is not macOS's", nothing, true, {.hdr = true},
            {Answer::keep}, "Keep and save rule", true, std::nullopt},
        {"60 Hz on both screens", nothing, true, {.refreshRate = hz60},
            {Answer::keep, Answer::keep}, "Keep and continue|Keep and save rule", true,
            std::nullopt},
        {"the second test reverted", nothing, true, {.refreshRate = hz60},
            {Answer::keep, Answer::revert}, "Keep and continue|Keep and save rule", false,
            std::nullopt},
        {"the first test reverted", nothing, true, {.refreshRate = hz60},
            {Answer::revert, Answer::keep}, "Keep and continue", false, std::nullopt},
        {"suspended", [](AppModel& m) { m.isSuspended.set(true); }, true, {.hdr = true},
            {Answer::keep}, "", false, changingText},
        {"a mode change in flight", [](AppModel& m) { m.modeBusy.set({builtInID}); }, true,
            {.hdr = true}, {Answer::keep}, "", false, changingText},
        {"a brightness default", nothing, false, {.brightness = 0.5}, {}, "", true, std::nullopt},
        {"an HDR default", nothing, false, {.hdr = true}, {Answer::keep}, "Keep and save", true,
            std::nullopt},
        {"an HDR default reverted", nothing, false, {.hdr = true}, {Answer::revert},
            "Keep and save", false, std::nullopt},
        {"a 50 Hz default while suspended", [](AppModel& m) { m.isSuspended.set(true); }, false,
            {.refreshRate = hz50}, {}, "", false, changingText},
        {"HDR and rate defaults cleared", nothing, false, {.brightness = 0.5}, {}, "", true,
            std::nullopt, nullptr, true},
        {"a rule for a screen without a current mode", withoutCurrentMode, true, {.hdr = true}, {},
            "", false, unavailableSettingsText},
        {"a default for a screen without a current mode", withoutCurrentMode, false, {.hdr = true},
            {}, "", false, unavailableSettingsText},
        {"the final rule save refused", nothing, true, {.hdr = true}, {Answer::keep},
            "Keep and save rule", false, std::nullopt, settingsBreak},
        {"the final default save refused", nothing, false, {.hdr = true}, {Answer::keep},
            "Keep and save", false, std::nullopt, settingsBreak},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ModeWorld w;
        const UUID work = addWork(*w.model);
        c.prepare(*w.model);
        const Configuration before = w.model->configuration.get();
        const Rule rule = modeRule(c.settings);
        DefaultSettingsDraft draft{.settings = before.defaultSettings()};
        for (const SettingKey setting : allSettingKeys) {
            if (const auto value = c.settings.value(setting)) {
                draft.settings.setExplicit(value, modeKeyOf(externalID, setting));
                draft.editedKeys.insert(modeKeyOf(externalID, setting));
            }
        }
        for (const SettingKey setting : {SettingKey::hdr, SettingKey::refreshRate}) {
            if (c.clearsModes) {
                draft.settings.setExplicit(std::nullopt, modeKeyOf(externalID, setting));
                draft.editedKeys.insert(modeKeyOf(externalID, setting));
            }
        }
        const auto savedNow = [&] {
            return c.isRule ? holds(*w.model, work, rule)
                            : w.model->configuration->defaultSettings() == draft.settings;
        };
        int onSavedRuns = 0;

        if (c.isRule)
            w.model->requestRuleSave(rule, work, true, [&] { ++onSavedRuns; });
        else
            w.model->requestDefaultSave(draft, [&] { ++onSavedRuns; });
        EXPECT_EQ(savedNow(), c.saved && c.titles.empty())
            << "only a save without tests is at once";
        if (c.meanwhile)
            c.meanwhile(*w.model);

        EXPECT_EQ(answerTests(w, c.answers), c.titles);
        EXPECT_EQ(savedNow(), c.saved);
        EXPECT_EQ(onSavedRuns, c.saved ? 1 : 0);
        EXPECT_EQ(w.model->actionError.get(), c.error);
        EXPECT_FALSE(w.model->preview.get());
        if (c.isRule) {
            EXPECT_EQ(w.model->selectedRuleID.get() == rule.id, c.saved);
        }
    }
}

TEST(SaveDisplayTestsTest, AValueTheTestProfileCannotOfferStopsBeforeAnyTest)
{
    const struct {
        const char* what;
        RuleSettings settings;
        /// Work's own resolution for the external monitor.
        std::optional<DisplayResolution> resolution;
        std::optional<ControlCapability> hdr;
        std::optional<std::string> error;
        /// "test" when a test started, "saved" when saved at once, "" when neither.
        std::string outcome;
    } cases[] = {
        {"50 Hz where Work's resolution offers only 60 Hz", {.refreshRate = hz50}, external1080,
            std::nullopt, unavailableValue, ""},
        {"50 Hz at the screen's own resolution", {.refreshRate = hz50}, std::nullopt, std::nullopt,
            std::nullopt, "test"},
        {"75 Hz", {.refreshRate = RefreshPreference::fixed(75'000)}, std::nullopt, std::nullopt,
            unavailableValue, ""},
        {"HDR on where only off is offered", {.hdr = true}, std::nullopt,
            ControlCapability{.available = true, .choices = {SettingValue::toggle(false)}},
            unavailableValue, ""},
        {"HDR on where the HDR control is unavailable", {.hdr = true}, std::nullopt,
            ControlCapability{.available = false, .reason = "HDR unavailable"}, std::nullopt,
            "saved"},
        {"HDR on where the HDR control is unavailable, with 50 Hz",
            {.hdr = true, .refreshRate = hz50}, std::nullopt,
            ControlCapability{.available = false, .reason = "HDR unavailable"}, std::nullopt,
            "test"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ModeWorld w;
        const UUID work = addWork(*w.model, {}, c.resolution);
        if (c.hdr)
            w.model->hardwareSnapshot.modify([&](HardwareSnapshot& s) {
                s.capabilities.insert_or_assign(modeKeyOf(externalID, SettingKey::hdr), *c.hdr);
            });
        const Rule rule = modeRule(c.settings, external);

        w.model->requestRuleSave(rule, work, true, [] {});

        EXPECT_EQ(w.model->actionError.get(), c.error);
        EXPECT_EQ(std::string(w.model->preview.get() ? "test" : "")
                + (holds(*w.model, work, rule) ? "saved" : ""),
            c.outcome);
    }
}

TEST(SaveDisplayTestsTest, OnlyAChangedOrUnverifiedRuleIsTested)
{
    const ModeConfiguration at50{.refreshRate = hz50, .hdr = false, .resolution = external1440};
    const struct {
        const char* what;
        RuleSettings stored;
        std::optional<DisplayResolution> resolution;
        bool verify50;
        /// Changes the stored rule into the one saved.
        std::function<void(Rule&)> edit;
        bool tested;
        DisplayReference screen = external;
    } cases[] = {
        {"renamed, its 60 Hz confirmed", {.refreshRate = hz60}, std::nullopt, false,
            [](Rule& r) { r.name = "Renamed"; }, false},
        {"renamed, its 50 Hz never confirmed", {.refreshRate = hz50}, std::nullopt, false,
            [](Rule& r) { r.name = "Renamed"; }, true},
        {"renamed, its 50 Hz confirmed since", {.refreshRate = hz50}, std::nullopt, true,
            [](Rule& r) { r.name = "Renamed"; }, false},
        {"renamed where Work's resolution is unavailable", {.refreshRate = hz50}, unoffered, false,
            [](Rule& r) { r.name = "Renamed"; }, false},
        {"an application added to a confirmed rule", {.refreshRate = hz60}, std::nullopt, false,
            [](Rule& r) { r.conditions.apps = {{.id = "com.example.editor", .name = "Editor"}}; },
            true},
        {"its rate taken away, the screen falls back to its default", {.refreshRate = hz50},
            std::nullopt, false, [](Rule& r) { r.settings = {.brightness = 0.3}; }, true},
        {"its HDR taken away on a screen whose HDR is macOS's", {.hdr = true}, std::nullopt, false,
            [](Rule& r) { r.settings = {.brightness = 0.3}; }, false, builtIn},
        {"a screen that is not connected", {.refreshRate = hz50}, std::nullopt, false,
            [](Rule& r) { r.conditions.screen = {.id = "gone", .name = "Gone"}; }, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ModeWorld w;
        Rule rule = modeRule(c.stored, c.screen);
        const UUID work = addWork(*w.model, {rule}, c.resolution);
        if (c.verify50)
            w.model->configuration.modify([&](Configuration& document) {
                document.verifiedModes.push_back({.displayID = externalID,
                    .environment = w.model->hardwareSnapshot->environments.at(externalID),
                    .mode = at50});
            });
        c.edit(rule);

        w.model->requestRuleSave(rule, work, false, [] {});

        EXPECT_EQ(w.model->preview.get().has_value(), c.tested);
        EXPECT_EQ(holds(*w.model, work, rule), !c.tested);
        EXPECT_EQ(w.model->actionError.get(), std::nullopt);
    }
}

TEST(SaveDisplayTestsTest, ATestAtTheCurrentResolutionLeavesTheKeptModeOnScreen)
{
    ModeWorld w;
    const UUID work = addWork(*w.model);
    const Rule rule = modeRule({.refreshRate = hz50}, external);
    w.model->requestRuleSave(rule, work, true, [] {});
    ASSERT_TRUE(w.model->preview.get());
    EXPECT_FALSE(w.model->preview.get()->restoreAfterKeep);
    EXPECT_EQ(answerTests(w, {Answer::keep}), "Keep and save rule");
    EXPECT_TRUE(holds(*w.model, work, rule));
    EXPECT_EQ(w.mac.world.displayWithUUID(externalID)->currentModeID, 21) << "50 Hz stays";
    EXPECT_EQ(entryOf(w.model->controlStatus.get(), modeKeyOf(externalID, SettingKey::refreshRate)),
        "Kept and verified");
}

TEST(SaveDisplayTestsTest, AChangedDefaultIsTestedThoughItsCombinationIsVerified)
{
    ModeWorld w;
    w.model->configuration.modify([&](Configuration& document) {
        document.verifiedModes.push_back({.displayID = externalID,
            .environment = w.model->hardwareSnapshot->environments.at(externalID),
            .mode = {.refreshRate = hz50, .hdr = false, .resolution = external1440}});
    });
    const ControlKey rate = modeKeyOf(externalID, SettingKey::refreshRate);
    DefaultSettingsDraft draft{.settings = w.model->configuration->defaultSettings()};
    draft.settings.setExplicit(SettingValue::refresh(hz50), rate);
    draft.editedKeys.insert(rate);
    w.model->requestDefaultSave(draft, [] {});
    ASSERT_TRUE(w.model->preview.get());
    EXPECT_EQ(w.model->preview.get()->displayID, externalID);
}

TEST(SaveDisplayTestsTest, AnEarlierMessageDoesNotHideATestThatCannotStart)
{
    const std::string earlier = "An earlier action failed.";
    const struct {
        const char* what;
        std::optional<std::string> before;
        /// Work's own resolution, which the display does not offer: the test states why.
        bool unofferedResolution;
        std::string expected;
    } cases[] = {
        {"an earlier message", earlier, false,
            "This screen is unavailable. Reconnect it and try saving again."},
        {"no earlier message", std::nullopt, false,
            "This screen is unavailable. Reconnect it and try saving again."},
        {"the test's own reason", earlier, true,
            "The saved resolution is unavailable on this connection. The current resolution is "
            "kept."},
        {"the test's own reason, shown before",
            "The saved resolution is unavailable on this connection. The current resolution is "
            "kept.",
            true,
            "The saved resolution is unavailable on this connection. The current resolution is "
            "kept."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ModeWorld w;
        const UUID work = addWork(
            *w.model, {}, c.unofferedResolution ? std::optional(unoffered) : std::nullopt);
        if (!c.unofferedResolution) // no known connection: the test refuses without a word
            w.model->hardwareSnapshot.modify(
                [](HardwareSnapshot& s) { s.environments.erase(externalID); });
        w.model->actionError.set(c.before);
        const Rule rule = modeRule({.hdr = true}, external);

        w.model->requestRuleSave(rule, work, true, [] {});

        EXPECT_EQ(w.model->actionError.get(), c.expected);
        EXPECT_FALSE(holds(*w.model, work, rule));
    }
}

} // namespace
} // namespace quorvane
