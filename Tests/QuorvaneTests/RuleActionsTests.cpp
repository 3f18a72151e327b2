#include "Quorvane/AppModel.h"

#include "AppModelTestSupport.h"
#include "ProfileRuleTestSupport.h"

#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

namespace quorvane {
namespace {

/// Work (active) holds A, B, C (switched off) and D; Evening holds E. B is selected.
struct Seeded {
    UUID defaultID;
    UUID work{};
    UUID evening{};
    std::map<std::string, Rule> rules{};
    const UUID& id(const std::string& name) const { return rules.at(name).id; }
};

Seeded seed(AppModel& model)
{
    Seeded seeded{.defaultID = model.configuration->defaultProfileID};
    std::vector<Rule> work;
    for (const char* name : {"A", "B", "C", "D", "E"})
        seeded.rules.emplace(name, brightnessRule(name, 0.5)).first->second.isEnabled
            = std::string_view(name) != "C";
    for (const char* name : {"A", "B", "C", "D"})
        work.push_back(seeded.rules.at(name));
    seeded.work = addProfile(model, "Work", work);
    seeded.evening = addProfile(model, "Evening", {seeded.rules.at("E")});
    model.configuration.modify(
        [&](Configuration& document) { document.activeProfileID = seeded.work; });
    model.selectedRuleID.set(seeded.id("B"));
    return seeded;
}

/// "A B C- D|E|sel B": Work's and Evening's rules (switched off with "-"), and the selected rule.
std::string state(const AppModel& model, const Seeded& seeded)
{
    std::string text;
    for (const UUID& profileID : {seeded.work, seeded.evening}) {
        for (const Rule& rule : findProfile(model, profileID)->rules)
            text += (text.empty() || text.back() == '|' ? "" : " ") + rule.name
                + (rule.isEnabled ? "" : "-");
        text += "|";
    }
    text += "sel";
    for (const auto& [name, rule] : seeded.rules) {
        if (model.selectedRuleID.get() == rule.id)
            text += " " + name;
    }
    return text;
}

/// Runs "verb rule [argument]" and returns what the action returns. Profiles are W(ork),
/// E(vening), D(efault) or ? (missing); a rule named ? is missing. Saved are C renamed C2 and
/// switched on, a new switched-off rule N, or B with a blank name.
std::optional<bool> run(AppModel& model, const Seeded& s, std::string_view command)
{
    std::istringstream words{std::string(command)};
    std::string verb, rule, argument;
    words >> verb >> rule >> argument;
    const auto idOf = [&](const std::string& name) {
        return s.rules.contains(name) ? s.id(name) : UUID::random();
    };
    const std::map<std::string, UUID> profiles{{"W", s.work}, {"E", s.evening}, {"D", s.defaultID}};
    const UUID profile = profiles.contains(argument) ? profiles.at(argument) : UUID::random();
    if (verb == "toggle")
        model.toggleRule(idOf(rule), profile);
    else if (verb == "move")
        model.moveRule(idOf(rule), s.work, std::stoll(argument));
    else if (verb == "before")
        model.moveRule(idOf(rule), idOf(argument), s.work);
    else if (verb == "delete")
        model.deleteRule(idOf(rule), s.work);
    else if (verb == "copy")
        return model.copyRule(idOf(rule), profile);
    else {
        Rule saved = rule == "N" ? brightnessRule("N", 0.7) : s.rules.at(rule == "C2" ? "C" : "B");
        saved.name = rule == "blank" ? "  " : rule;
        saved.isEnabled = rule != "N";
        return model.saveRule(saved, profile, verb == "select");
    }
    return std::nullopt;
}

TEST(RuleActionsTest, GuardsRefusalsAndEffects)
{
    struct Case {
        Guard guard;
        std::string_view command;
        /// The state, then the action's result, " saved" and " error" when they happen.
        std::string_view expected;
    };
    // The offsets at the limits of std::int64_t would overflow an index + offset sum.
    const std::string_view same = "A B C- D|E|sel B";
    const Case cases[] = {
        {Guard::none, "toggle B W", "A B- C- D|E|sel B saved"},
        {Guard::none, "toggle C W", "A B C D|E|sel B saved"},
        {Guard::none, "toggle B D", same},
        {Guard::none, "toggle E W", same},
        {Guard::displayTest, "toggle B W", "A B- C- D|E|sel B saved"},
        {Guard::settingsError, "toggle B W", same},
        {Guard::none, "move A 1", "B A C- D|E|sel B saved"},
        {Guard::none, "move D -1", "A B D C-|E|sel B saved"},
        {Guard::none, "move A 3", "D B C- A|E|sel B saved"},
        {Guard::none, "move D -3", "D B C- A|E|sel B saved"},
        {Guard::none, "move A -1", same},
        {Guard::none, "move D 1", same},
        {Guard::none, "move B 0", "A B C- D|E|sel B saved"},
        {Guard::none, "move D 9223372036854775807", same},
        {Guard::none, "move A -9223372036854775808", same},
        {Guard::notLoaded, "move A 1", same},
        {Guard::none, "before D B", "A D B C-|E|sel B saved"},
        {Guard::none, "before A C", "B A C- D|E|sel B saved"},
        {Guard::none, "before B ?", "A C- D B|E|sel B saved"},
        {Guard::none, "before B B", same},
        {Guard::settingsError, "before D B", same},
        {Guard::none, "delete B", "A C- D|E|sel saved"},
        {Guard::none, "delete D", "A B C-|E|sel B saved"},
        {Guard::none, "delete E", "A B C- D|E|sel B saved"},
        {Guard::notLoaded, "delete B", same},
        {Guard::none, "copy C E", "A B C- D|E C-|sel B true saved"},
        {Guard::none, "copy B D", "A B C- D|E|sel B false"},
        {Guard::none, "copy B W", "A B C- D|E|sel B false"},
        {Guard::none, "copy B ?", "A B C- D|E|sel B false"},
        {Guard::none, "copy ? E", "A B C- D|E|sel B false"},
        {Guard::displayTest, "copy B E", "A B C- D|E|sel B false"},
        {Guard::none, "save C2 W", "A B C2- D|E|sel B true saved"},
        {Guard::none, "select C2 W", "A B C2- D|E|sel C true saved"},
        {Guard::none, "save N W", "A B C- D N-|E|sel B true saved"},
        {Guard::none, "save blank W", "A B C- D|E|sel B false error"},
        {Guard::none, "save N D", "A B C- D|E|sel B false"},
        {Guard::none, "save N ?", "A B C- D|E|sel B false"},
        {Guard::displayTest, "save C2 W", "A B C- D|E|sel B false"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.command) + " " + std::to_string(static_cast<int>(c.guard)));
        ModelWorld world;
        const auto model = world.startedModel();
        const Seeded seeded = seed(*model);
        model->persist();
        world.executor.runUntilIdle();
        const std::optional<TaskHandle> saveBefore = model->saveTask.get();
        trip(*model, c.guard);

        const std::optional<bool> result = run(*model, seeded, c.command);
        world.executor.runUntilIdle();

        const bool saved = model->saveTask.get() != saveBefore;
        EXPECT_EQ(state(*model, seeded) + (result ? (*result ? " true" : " false") : "")
                + (saved ? " saved" : "") + (model->actionError->has_value() ? " error" : ""),
            c.expected);
        if (saved) {
            EXPECT_EQ(configurationIn(world.defaultSettingsFile()), model->configuration.get());
        }
    }
}

TEST(RuleActionsTest, ACopyGetsANewIdentifierAndLeavesTheSourceAlone)
{
    ModelWorld world;
    const auto model = world.startedModel();
    const Seeded seeded = seed(*model);
    const Rule& source = seeded.rules.at("C");

    ASSERT_TRUE(model->copyRule(source.id, seeded.evening));

    Rule copy = findProfile(*model, seeded.evening)->rules.back();
    EXPECT_NE(std::exchange(copy.id, source.id), source.id);
    EXPECT_EQ(copy, source);
    EXPECT_EQ(findProfile(*model, seeded.work)->rules[2], source);
}

TEST(RuleActionsTest, ASwitchedRuleIsToldOnceAndLeavesEarlierCopiesAlone)
{
    ModelWorld world;
    const auto model = world.startedModel();
    const Seeded seeded = seed(*model);
    const Configuration before = model->configuration.get();
    int changes = 0;
    const Subscription counting = model->configuration.observe([&] { ++changes; });

    model->toggleRule(seeded.id("B"), seeded.work);
    model->toggleRule(seeded.id("E"), seeded.work); // not Work's: nothing changes

    EXPECT_EQ(changes, 1);
    EXPECT_EQ(state(*model, seeded), "A B- C- D|E|sel B");
    // The rule is switched where the model keeps it, never in a copy taken before.
    EXPECT_TRUE(before.profiles[1].rules[1].isEnabled);
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
    const auto text
        = [](const std::optional<SettingValue>& value) { return value ? value->label() : "-"; };
    const std::pair<std::set<ControlKey>, std::string_view> cases[] = {
        {{}, "50% 60% - "},
        {{brightnessA}, "90% 60% - display-a"},
        {{contrastA}, "50% - - display-a"},
        {{brightnessB}, "50% 60% 10% display-b"},
    };
    for (const auto& [editedKeys, expected] : cases) {
        SCOPED_TRACE(expected);
        const DefaultSettings merged
            = DefaultSettingsDraft{.settings = edited, .editedKeys = editedKeys}.merged(stored);
        std::string shown = text(merged.value(brightnessA)) + " " + text(merged.value(contrastA))
            + " " + text(merged.value(brightnessB)) + " ";
        for (const std::string& displayID : merged.initializedDisplayIDs)
            shown += displayID;
        EXPECT_EQ(shown, expected);
    }
}

TEST(RuleActionsTest, SaveRequestsCallBackOnlyAfterASave)
{
    const ControlKey brightness = keyOf("display-a", SettingKey::brightness);
    struct Case {
        std::string_view name;
        Guard guard;
        bool isValid;
        bool toDefault;
        /// "saved" when the request saved and called back once, "error" when it was refused
        /// with a message, "" when it was refused silently.
        std::string_view expected;
    };
    // The guarded requests are invalid too: a guard refuses silently before anything is checked.
    const Case cases[] = {
        {"saved", Guard::none, true, false, "saved"},
        {"invalid", Guard::none, false, false, "error"},
        {"to Default", Guard::none, true, true, ""},
        {"display test running", Guard::displayTest, false, false, ""},
        {"not loaded", Guard::notLoaded, false, false, ""},
        {"settings error", Guard::settingsError, false, false, ""},
    };
    for (const Case& c : cases) {
        for (const bool isRule : {true, false}) {
            if (!isRule && c.toDefault)
                continue;
            SCOPED_TRACE(std::string(c.name) + (isRule ? ", rule" : ", Default settings"));
            ModelWorld world;
            const auto model = world.startedModel();
            const Seeded seeded = seed(*model);
            trip(*model, c.guard);
            const Configuration before = model->configuration.get();
            const Rule rule = brightnessRule(c.isValid ? "Night" : " ", 0.3);
            int onSavedRuns = 0;

            if (isRule) {
                model->requestRuleSave(rule, c.toDefault ? seeded.defaultID : seeded.work, true,
                    [&onSavedRuns] { ++onSavedRuns; });
            } else {
                DefaultSettingsDraft draft{.editedKeys = {brightness}};
                draft.settings.setValue(SettingValue::percent(c.isValid ? 0.4 : 1.5), brightness);
                model->requestDefaultSave(draft, [&onSavedRuns] { ++onSavedRuns; });
                // The request checks first; a save called for a draft that turned invalid
                // meanwhile must refuse as well.
                if (!c.isValid) {
                    EXPECT_FALSE(model->saveDefaultSettings(draft));
                }
            }
            world.executor.runUntilIdle();

            const bool saved = onSavedRuns == 1 && model->configuration.get() != before
                && configurationIn(world.defaultSettingsFile()) == model->configuration.get();
            EXPECT_EQ(std::string(saved ? "saved" : "")
                    + (model->actionError->has_value() ? "error" : ""),
                c.expected);
            EXPECT_EQ(onSavedRuns, saved ? 1 : 0) << "confirmed only what was saved";
            if (isRule) {
                EXPECT_EQ(model->selectedRuleID.get() == rule.id, saved);
            }
        }
    }
}

TEST(RuleActionsTest, SavingThePreviewedRuleKeepsItsValuesAndAnotherRuleLeavesIt)
{
    for (const bool savesPreviewed : {true, false}) {
        SCOPED_TRACE(savesPreviewed ? "previewed rule" : "another rule");
        ModelWorld world;
        const auto model = world.startedModel();
        const Seeded seeded = seed(*model);
        model->liveRuleEdit.set(LiveRuleEdit{.id = UUID::random(),
            .profileID = seeded.work,
            .ruleID = seeded.id("A"),
            .settings = {},
            .originals
            = {{keyOf("display-a", SettingKey::brightness), SettingValue::percent(0.2)}}});

        ASSERT_TRUE(
            model->saveRule(seeded.rules.at(savesPreviewed ? "A" : "B"), seeded.work, false));

        EXPECT_EQ(model->liveRuleEdit->has_value(), !savesPreviewed);
        EXPECT_TRUE(model->ruleEditRestorations->empty());
    }
}

TEST(RuleActionsTest, ACopyIsConfirmedOnceItsSaveEndedAndTheCopyStillExists)
{
    using Meanwhile = std::function<void(AppModel&, const Seeded&, ModelWorld&)>;
    // The name is what the confirmation shows, if anything.
    const std::pair<std::string_view, Meanwhile> cases[] = {
        {"A in Evening", [](AppModel&, const Seeded&, ModelWorld&) {}},
        {"save fails",
            [](AppModel&, const Seeded&, ModelWorld& world) {
                const auto folder = world.defaultSettingsFile().parent_path();
                std::filesystem::remove_all(folder);
                writeFile(folder, "a file where the folder was");
            }},
        {"copy deleted",
            [](AppModel& model, const Seeded& s, ModelWorld&) {
                model.deleteRule(findProfile(model, s.evening)->rules.back().id, s.evening);
            }},
        {"target deleted",
            [](AppModel& model, const Seeded& s, ModelWorld&) { model.deleteProfile(s.evening); }},
    };
    for (const auto& [expected, meanwhile] : cases) {
        SCOPED_TRACE(expected);
        ModelWorld world;
        const auto model = world.startedModel();
        const Seeded seeded = seed(*model);
        ASSERT_TRUE(model->copyRule(seeded.id("A"), seeded.evening));
        meanwhile(*model, seeded, world);
        EXPECT_FALSE(model->ruleCopyFeedback->has_value()); // not before the save has ended

        world.executor.runUntilIdle();

        const auto& feedback = model->ruleCopyFeedback.get();
        EXPECT_EQ(feedback ? feedback->ruleName + " in " + feedback->profileName : "",
            expected.find(" in ") == std::string_view::npos ? "" : expected);
    }
}

TEST(RuleActionsTest, OnlyTheLatestCopyIsConfirmedAndOnlyItsOwnDismissalRemovesIt)
{
    ModelWorld world;
    const auto model = world.startedModel();
    const Seeded seeded = seed(*model);
    ASSERT_TRUE(model->copyRule(seeded.id("A"), seeded.evening));
    world.executor.runUntilIdle();
    ASSERT_TRUE(model->ruleCopyFeedback->has_value());
    const UUID first = model->ruleCopyFeedback.get()->id;
    std::vector<std::string> shown;
    const Subscription watching = model->ruleCopyFeedback.observe([&] {
        if (const std::optional<RuleCopyFeedback>& feedback = model->ruleCopyFeedback.get())
            shown.push_back(feedback->ruleName);
    });

    ASSERT_TRUE(model->copyRule(seeded.id("B"), seeded.evening));
    EXPECT_FALSE(model->ruleCopyFeedback->has_value());
    ASSERT_TRUE(model->copyRule(seeded.id("D"), seeded.evening));
    world.executor.runUntilIdle();

    EXPECT_EQ(shown, std::vector<std::string>{"D"}) << "B's confirmation never showed";
    model->dismissRuleCopyFeedback(first);
    EXPECT_TRUE(model->ruleCopyFeedback->has_value());
    model->dismissRuleCopyFeedback(model->ruleCopyFeedback.get()->id);
    EXPECT_FALSE(model->ruleCopyFeedback->has_value());
}

TEST(RuleActionsTest, WindowAccessIsNeededForEnabledAppRulesThatAlsoNameAScreenSpaceOrValue)
{
    // Each row names what the second rule has; the first one only names an app.
    const std::pair<std::string_view, bool> cases[] = {
        {"app value", true},
        {"app screen", true},
        {"app space", true},
        {"app", false},
        {"off app screen", false},
        {"screen value", false},
        {"access app value", false},
    };
    for (const auto& [name, needs] : cases) {
        SCOPED_TRACE(name);
        const auto has = [label = std::string_view(name)](std::string_view word) {
            return label.find(word) != std::string_view::npos;
        };
        const ApplicationReference editor{.id = "com.example.editor", .name = "Editor"};
        Rule rule{.id = UUID::random(), .name = "R", .isEnabled = !has("off")};
        if (has("app"))
            rule.conditions.apps = {editor};
        if (has("screen"))
            rule.conditions.screen = DisplayReference{.id = "display-a", .name = "Studio"};
        if (has("space"))
            rule.conditions.space = Desktop{.id = "space-1", .name = "Desktop 1"};
        if (has("value"))
            rule.settings.brightness = 0.5;
        ModelWorld world;
        const auto model = world.idleModel();
        model->hasWindowAccess.set(has("access"));
        const Rule appOnly{.id = UUID::random(), .name = "A", .conditions = {.apps = {editor}}};

        EXPECT_EQ(model->needsWindowAccess(
                      Profile{.id = UUID::random(), .name = "P", .rules = {appOnly, rule}}),
            needs);
    }
}

} // namespace
} // namespace quorvane
