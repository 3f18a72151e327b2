#include "Quorvane/AppModel.h"

#include "AppModelTestSupport.h"
#include "ProfileRuleTestSupport.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <limits>
#include <optional>
#include <string>
#include <vector>

namespace quorvane {
namespace {

using namespace std::chrono_literals;

constexpr std::string_view invalidRule
    = "A rule has an invalid name, condition, settings, or a duplicate identifier.";

/// Work (active) holds A, B, C (switched off) and D; Evening holds E. B is selected.
struct Seeded {
    UUID defaultID;
    UUID work{};
    UUID evening{};
    std::map<std::string, Rule> rules{};
};

Seeded seed(AppModel& model)
{
    Seeded seeded{.defaultID = model.configuration->defaultProfileID};
    std::vector<Rule> work;
    for (const char* name : {"A", "B", "C", "D"}) {
        work.push_back(brightnessRule(name, 0.5));
        seeded.rules.emplace(name, work.back());
    }
    work[2].isEnabled = false;
    seeded.rules.at("C").isEnabled = false;
    const Rule evening = brightnessRule("E", 0.2);
    seeded.rules.emplace("E", evening);
    seeded.work = addProfile(model, "Work", work);
    seeded.evening = addProfile(model, "Evening", {evening});
    model.configuration.modify(
        [&](Configuration& document) { document.activeProfileID = seeded.work; });
    model.selectedRuleID.set(seeded.rules.at("B").id);
    return seeded;
}

/// Rule names in order, a switched-off rule marked with a trailing "-".
std::vector<std::string> listing(const AppModel& model, const UUID& profileID)
{
    std::vector<std::string> names;
    if (const Profile* profile = findProfile(model, profileID)) {
        for (const Rule& rule : profile->rules)
            names.push_back(rule.name + (rule.isEnabled ? "" : "-"));
    }
    return names;
}

std::string selectedRuleName(const AppModel& model, const Seeded& seeded)
{
    for (const auto& [name, rule] : seeded.rules) {
        if (model.selectedRuleID.get() == rule.id)
            return name;
    }
    return model.selectedRuleID.get() ? "another rule" : "";
}

TEST(RuleActionsTest, GuardsRefusalsAndEffects)
{
    using Action = std::function<std::optional<bool>(AppModel&, const Seeded&)>;
    struct Case {
        std::string_view name;
        Guard guard = Guard::none;
        Action action;
        std::vector<std::string> work{"A", "B", "C-", "D"};
        std::vector<std::string> evening{"E"};
        std::optional<bool> result{};
        std::string selected = "B";
        std::optional<std::string_view> error{};
        bool saves = true;
    };
    const auto toggle = [](std::string rule, bool inDefault = false) -> Action {
        return [=](AppModel& model, const Seeded& s) {
            model.toggleRule(s.rules.at(rule).id, inDefault ? s.defaultID : s.work);
            return std::nullopt;
        };
    };
    const auto move = [](std::string rule, std::int64_t offset) -> Action {
        return [=](AppModel& model, const Seeded& s) {
            model.moveRule(s.rules.at(rule).id, s.work, offset);
            return std::nullopt;
        };
    };
    const auto moveBefore = [](std::string rule, std::optional<std::string> before) -> Action {
        return [=](AppModel& model, const Seeded& s) {
            model.moveRule(
                s.rules.at(rule).id, before ? s.rules.at(*before).id : UUID::random(), s.work);
            return std::nullopt;
        };
    };
    const auto remove = [](std::string rule) -> Action {
        return [=](AppModel& model, const Seeded& s) {
            model.deleteRule(s.rules.at(rule).id, s.work);
            return std::nullopt;
        };
    };
    const auto copy = [](std::string rule, std::function<UUID(const Seeded&)> target) -> Action {
        return [=](AppModel& model, const Seeded& s) {
            return model.copyRule(s.rules.at(rule).id, target(s));
        };
    };
    const auto toEvening = [](const Seeded& s) { return s.evening; };
    const auto save = [](std::function<Rule(const Seeded&)> edit, bool select = false,
                          std::function<UUID(const Seeded&)> profile = {}) -> Action {
        return [=](AppModel& model, const Seeded& s) {
            return model.saveRule(edit(s), profile ? profile(s) : s.work, select);
        };
    };
    const auto renamedC = [](const Seeded& s) {
        Rule rule = s.rules.at("C");
        rule.name = "C2";
        rule.isEnabled = true;
        return rule;
    };
    const auto newRule = [](const Seeded&) {
        Rule rule = brightnessRule("N", 0.7);
        rule.isEnabled = false;
        return rule;
    };
    constexpr std::int64_t largest = std::numeric_limits<std::int64_t>::max();
    constexpr std::int64_t smallest = std::numeric_limits<std::int64_t>::min();
    const Case cases[] = {
        {.name = "toggle", .action = toggle("B"), .work = {"A", "B-", "C-", "D"}},
        {.name = "toggle back on", .action = toggle("C"), .work = {"A", "B", "C", "D"}},
        {.name = "toggle in Default", .action = toggle("B", true), .saves = false},
        {.name = "toggle a rule of another profile", .action = toggle("E"), .saves = false},
        {.name = "toggle",
            .guard = Guard::displayTest,
            .action = toggle("B"),
            .work = {"A", "B-", "C-", "D"}},
        {.name = "toggle", .guard = Guard::settingsError, .action = toggle("B"), .saves = false},
        {.name = "move down", .action = move("A", 1), .work = {"B", "A", "C-", "D"}},
        {.name = "move up", .action = move("D", -1), .work = {"A", "B", "D", "C-"}},
        {.name = "move far swaps", .action = move("A", 3), .work = {"D", "B", "C-", "A"}},
        {.name = "move to the top", .action = move("D", -3), .work = {"D", "B", "C-", "A"}},
        {.name = "move first up", .action = move("A", -1), .saves = false},
        {.name = "move last down", .action = move("D", 1), .saves = false},
        {.name = "move by nothing still saves", .action = move("B", 0)},
        {.name = "move by the largest offset", .action = move("D", largest), .saves = false},
        {.name = "move by the smallest offset", .action = move("A", smallest), .saves = false},
        {.name = "move by minus the largest", .action = move("D", -largest), .saves = false},
        {.name = "move", .guard = Guard::notLoaded, .action = move("A", 1), .saves = false},
        {.name = "move",
            .guard = Guard::displayTest,
            .action = move("A", 1),
            .work = {"B", "A", "C-", "D"}},
        {.name = "move D before B", .action = moveBefore("D", "B"), .work = {"A", "D", "B", "C-"}},
        {.name = "move A before C", .action = moveBefore("A", "C"), .work = {"B", "A", "C-", "D"}},
        {.name = "move B before a missing rule",
            .action = moveBefore("B", std::nullopt),
            .work = {"A", "C-", "D", "B"}},
        {.name = "move before itself", .action = moveBefore("B", "B"), .saves = false},
        {.name = "move before",
            .guard = Guard::settingsError,
            .action = moveBefore("D", "B"),
            .saves = false},
        {.name = "delete the selected rule",
            .action = remove("B"),
            .work = {"A", "C-", "D"},
            .selected = ""},
        {.name = "delete another rule", .action = remove("D"), .work = {"A", "B", "C-"}},
        {.name = "delete a rule the profile lacks", .action = remove("E")},
        {.name = "delete", .guard = Guard::notLoaded, .action = remove("B"), .saves = false},
        {.name = "copy", .action = copy("C", toEvening), .evening = {"E", "C-"}, .result = true},
        {.name = "copy to Default",
            .action = copy("B", [](const Seeded& s) { return s.defaultID; }),
            .result = false,
            .saves = false},
        {.name = "copy into its own profile",
            .action = copy("B", [](const Seeded& s) { return s.work; }),
            .result = false,
            .saves = false},
        {.name = "copy to a missing profile",
            .action = copy("B", [](const Seeded&) { return UUID::random(); }),
            .result = false,
            .saves = false},
        {.name = "copy a missing rule",
            .action = [](AppModel& model,
                          const Seeded& s) { return model.copyRule(UUID::random(), s.evening); },
            .result = false,
            .saves = false},
        {.name = "copy",
            .guard = Guard::displayTest,
            .action = copy("B", toEvening),
            .result = false,
            .saves = false},
        {.name = "save keeps the stored switch",
            .action = save(renamedC),
            .work = {"A", "B", "C2-", "D"},
            .result = true},
        {.name = "save and select",
            .action = save(renamedC, true),
            .work = {"A", "B", "C2-", "D"},
            .result = true,
            .selected = "C"},
        {.name = "save a new rule appends it as given",
            .action = save(newRule),
            .work = {"A", "B", "C-", "D", "N-"},
            .result = true},
        {.name = "save an invalid rule",
            .action = save([](const Seeded& s) {
                Rule rule = s.rules.at("B");
                rule.name = "  ";
                return rule;
            }),
            .result = false,
            .error = invalidRule,
            .saves = false},
        {.name = "save into Default",
            .action = save(newRule, false, [](const Seeded& s) { return s.defaultID; }),
            .result = false,
            .saves = false},
        {.name = "save into a missing profile",
            .action = save(newRule, false, [](const Seeded&) { return UUID::random(); }),
            .result = false,
            .saves = false},
        {.name = "save",
            .guard = Guard::displayTest,
            .action = save(renamedC),
            .result = false,
            .saves = false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.name) + ", " + std::string(guardName(c.guard)));
        ModelWorld world;
        const auto model = world.startedModel();
        const Seeded seeded = seed(*model);
        model->persist();
        world.executor.runUntilIdle();
        const std::optional<TaskHandle> saveBefore = model->saveTask.get();
        trip(*model, c.guard);

        const std::optional<bool> result = c.action(*model, seeded);
        world.executor.runUntilIdle();

        EXPECT_EQ(listing(*model, seeded.work), c.work);
        EXPECT_EQ(listing(*model, seeded.evening), c.evening);
        EXPECT_EQ(result, c.result);
        EXPECT_EQ(selectedRuleName(*model, seeded), c.selected);
        EXPECT_EQ(model->actionError.get(),
            c.error ? std::optional<std::string>(*c.error) : std::nullopt);
        EXPECT_EQ(model->saveTask.get() != saveBefore, c.saves);
        if (c.saves) {
            EXPECT_EQ(configurationIn(world.defaultSettingsFile()), model->configuration.get());
        }
    }
}

TEST(RuleActionsTest, ACopyGetsANewIdentifierAndLeavesTheSourceAlone)
{
    ModelWorld world;
    const auto model = world.startedModel();
    const Seeded seeded = seed(*model);
    const Rule source = seeded.rules.at("C");

    ASSERT_TRUE(model->copyRule(source.id, seeded.evening));

    const Rule& copy = findProfile(*model, seeded.evening)->rules.back();
    EXPECT_NE(copy.id, source.id);
    Rule sameButID = copy;
    sameButID.id = source.id;
    EXPECT_EQ(sameButID, source);
    EXPECT_EQ(findProfile(*model, seeded.work)->rules[2], source);
}

TEST(RuleActionsTest, DraftMergesOnlyItsEditedKeys)
{
    const ControlKey brightnessA = keyOf("display-a", SettingKey::brightness);
    const ControlKey contrastA = keyOf("display-a", SettingKey::contrast);
    const ControlKey brightnessB = keyOf("display-b", SettingKey::brightness);
    DefaultSettings stored;
    stored.setValue(SettingValue::percent(0.5), brightnessA);
    stored.setValue(SettingValue::percent(0.6), contrastA);
    DefaultSettings edited = stored;
    edited.setValue(SettingValue::percent(0.9), brightnessA);
    edited.setValue(std::nullopt, contrastA);
    edited.setValue(SettingValue::percent(0.1), brightnessB);

    struct Case {
        std::string_view name;
        std::set<ControlKey> editedKeys;
        std::optional<SettingValue> brightnessA;
        std::optional<SettingValue> contrastA;
        std::optional<SettingValue> brightnessB;
        std::set<std::string> initialized;
    };
    const Case cases[] = {
        {"nothing edited", {}, SettingValue::percent(0.5), SettingValue::percent(0.6), std::nullopt,
            {}},
        {"one value", {brightnessA}, SettingValue::percent(0.9), SettingValue::percent(0.6),
            std::nullopt, {"display-a"}},
        {"a cleared value", {contrastA}, SettingValue::percent(0.5), std::nullopt, std::nullopt,
            {"display-a"}},
        {"another display", {brightnessB}, SettingValue::percent(0.5), SettingValue::percent(0.6),
            SettingValue::percent(0.1), {"display-b"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const DefaultSettings merged
            = DefaultSettingsDraft{.settings = edited, .editedKeys = c.editedKeys}.merged(stored);
        EXPECT_EQ(merged.value(brightnessA), c.brightnessA);
        EXPECT_EQ(merged.value(contrastA), c.contrastA);
        EXPECT_EQ(merged.value(brightnessB), c.brightnessB);
        EXPECT_EQ(merged.initializedDisplayIDs, c.initialized);
    }
}

TEST(RuleActionsTest, DefaultSettingsSaveOnlyWhenValidAndAllowed)
{
    const ControlKey brightness = keyOf("display-a", SettingKey::brightness);
    struct Case {
        std::string_view name;
        Guard guard;
        double value;
        bool saved;
        bool hasError;
    };
    const Case cases[] = {
        {"valid", Guard::none, 0.4, true, false},
        {"out of range", Guard::none, 1.5, false, true},
        // Refused silently: an invalid draft leaves no message either.
        {"display test running", Guard::displayTest, 1.5, false, false},
        {"settings error", Guard::settingsError, 1.5, false, false},
        {"not loaded", Guard::notLoaded, 1.5, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ModelWorld world;
        const auto model = world.startedModel();
        trip(*model, c.guard);
        DefaultSettingsDraft draft{.editedKeys = {brightness}};
        draft.settings.setValue(SettingValue::percent(c.value), brightness);
        const Configuration before = model->configuration.get();
        bool onSavedRan = false;

        model->requestDefaultSave(draft, [&onSavedRan] { onSavedRan = true; });
        world.executor.runUntilIdle();

        EXPECT_EQ(onSavedRan, c.saved);
        EXPECT_EQ(model->configuration.get() != before, c.saved);
        EXPECT_EQ(model->actionError->has_value(), c.hasError);
        if (c.saved) {
            EXPECT_EQ(
                configurationIn(world.defaultSettingsFile()).defaultSettings().value(brightness),
                SettingValue::percent(c.value));
        }
    }
}

TEST(RuleActionsTest, RuleSaveRequestCallsBackOnlyAfterASave)
{
    struct Case {
        std::string_view name;
        Guard guard;
        std::string ruleName;
        bool toDefault;
        bool saved;
        std::optional<std::string_view> error;
    };
    const Case cases[] = {
        {"saved", Guard::none, "Night", false, true, std::nullopt},
        {"invalid", Guard::none, " ", false, false, invalidRule},
        {"to Default", Guard::none, "Night", true, false, std::nullopt},
        {"display test running", Guard::displayTest, " ", false, false, std::nullopt},
        {"not loaded", Guard::notLoaded, " ", false, false, std::nullopt},
        {"settings error", Guard::settingsError, " ", false, false, std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ModelWorld world;
        const auto model = world.startedModel();
        const Seeded seeded = seed(*model);
        trip(*model, c.guard);
        const Rule rule = brightnessRule(c.ruleName, 0.3);
        int onSavedRuns = 0;

        model->requestRuleSave(rule, c.toDefault ? seeded.defaultID : seeded.work, true,
            [&onSavedRuns] { ++onSavedRuns; });

        EXPECT_EQ(onSavedRuns, c.saved ? 1 : 0);
        EXPECT_EQ(model->selectedRuleID.get() == rule.id, c.saved);
        EXPECT_EQ(listing(*model, seeded.work).size(), c.saved ? 5U : 4U);
        EXPECT_EQ(model->actionError.get(),
            c.error ? std::optional<std::string>(*c.error) : std::nullopt);
    }
}

TEST(RuleActionsTest, SavingThePreviewedRuleKeepsItsValuesAndAnotherRuleLeavesIt)
{
    for (const bool savesPreviewed : {true, false}) {
        SCOPED_TRACE(savesPreviewed ? "previewed rule" : "another rule");
        ModelWorld world;
        const auto model = world.startedModel();
        const Seeded seeded = seed(*model);
        const ControlKey key = keyOf("display-a", SettingKey::brightness);
        model->liveRuleEdit.set(LiveRuleEdit{.id = UUID::random(),
            .profileID = seeded.work,
            .ruleID = seeded.rules.at("A").id,
            .settings = {},
            .originals = {{key, SettingValue::percent(0.2)}}});

        ASSERT_TRUE(
            model->saveRule(seeded.rules.at(savesPreviewed ? "A" : "B"), seeded.work, false));

        EXPECT_EQ(model->liveRuleEdit->has_value(), !savesPreviewed);
        EXPECT_TRUE(model->ruleEditRestorations->empty());
    }
}

TEST(RuleActionsTest, ACopyIsConfirmedOnceItsSaveEndedAndTheCopyStillExists)
{
    struct Case {
        std::string_view name;
        std::function<void(AppModel&, const Seeded&, ModelWorld&)> meanwhile;
        bool confirms;
    };
    const Case cases[] = {
        {"saved", [](AppModel&, const Seeded&, ModelWorld&) {}, true},
        {"save fails",
            [](AppModel&, const Seeded&, ModelWorld& world) {
                const auto folder = world.defaultSettingsFile().parent_path();
                std::filesystem::remove_all(folder);
                writeFile(folder, "a file where the folder was");
            },
            false},
        {"copy deleted",
            [](AppModel& model, const Seeded& s, ModelWorld&) {
                model.deleteRule(findProfile(model, s.evening)->rules.back().id, s.evening);
            },
            false},
        {"target deleted",
            [](AppModel& model, const Seeded& s, ModelWorld&) { model.deleteProfile(s.evening); },
            false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ModelWorld world;
        const auto model = world.startedModel();
        const Seeded seeded = seed(*model);
        ASSERT_TRUE(model->copyRule(seeded.rules.at("A").id, seeded.evening));
        c.meanwhile(*model, seeded, world);
        EXPECT_FALSE(model->ruleCopyFeedback->has_value()); // not before the save has ended

        world.executor.runUntilIdle();

        ASSERT_EQ(model->ruleCopyFeedback->has_value(), c.confirms);
        if (c.confirms) {
            EXPECT_EQ(model->ruleCopyFeedback.get()->ruleName, "A");
            EXPECT_EQ(model->ruleCopyFeedback.get()->profileName, "Evening");
        }
    }
}

TEST(RuleActionsTest, OnlyTheLatestCopyIsConfirmedAndOnlyItsOwnDismissalRemovesIt)
{
    ModelWorld world;
    const auto model = world.startedModel();
    const Seeded seeded = seed(*model);
    ASSERT_TRUE(model->copyRule(seeded.rules.at("A").id, seeded.evening));
    world.executor.runUntilIdle();
    ASSERT_TRUE(model->ruleCopyFeedback->has_value());
    const UUID first = model->ruleCopyFeedback.get()->id;

    ASSERT_TRUE(model->copyRule(seeded.rules.at("B").id, seeded.evening));
    EXPECT_FALSE(model->ruleCopyFeedback->has_value());
    ASSERT_TRUE(model->copyRule(seeded.rules.at("D").id, seeded.evening));
    world.executor.runUntilIdle();

    ASSERT_TRUE(model->ruleCopyFeedback->has_value());
    EXPECT_EQ(model->ruleCopyFeedback.get()->ruleName, "D");
    model->dismissRuleCopyFeedback(first);
    EXPECT_TRUE(model->ruleCopyFeedback->has_value());
    model->dismissRuleCopyFeedback(model->ruleCopyFeedback.get()->id);
    EXPECT_FALSE(model->ruleCopyFeedback->has_value());
}

TEST(RuleActionsTest, WindowAccessIsNeededForEnabledAppRulesThatAlsoNameAScreenSpaceOrValue)
{
    const ApplicationReference editor{.id = "com.example.editor", .name = "Editor"};
    const DisplayReference screen{.id = "display-a", .name = "Studio"};
    const Desktop space{.id = "space-1", .name = "Desktop 1"};
    struct Case {
        std::string_view name;
        Rule rule;
        bool hasAccess;
        bool needs;
    };
    const auto rule = [](bool isEnabled, RuleConditions conditions, RuleSettings settings) {
        return Rule{.id = UUID::random(),
            .name = "R",
            .isEnabled = isEnabled,
            .conditions = std::move(conditions),
            .settings = settings};
    };
    const Case cases[] = {
        {"app and a value", rule(true, {.apps = {editor}}, {.brightness = 0.5}), false, true},
        {"app and a screen", rule(true, {.apps = {editor}, .screen = screen}, {}), false, true},
        {"app and a Space", rule(true, {.apps = {editor}, .space = space}, {}), false, true},
        {"app only", rule(true, {.apps = {editor}}, {}), false, false},
        {"switched off", rule(false, {.apps = {editor}, .screen = screen}, {}), false, false},
        {"no app", rule(true, {.screen = screen}, {.brightness = 0.5}), false, false},
        {"access granted", rule(true, {.apps = {editor}}, {.brightness = 0.5}), true, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ModelWorld world;
        const auto model = world.idleModel();
        model->hasWindowAccess.set(c.hasAccess);
        const Profile profile{.id = UUID::random(),
            .name = "P",
            .rules = {rule(true, {.apps = {editor}}, {}), c.rule}};
        EXPECT_EQ(model->needsWindowAccess(profile), c.needs);
    }
}

} // namespace
} // namespace quorvane
