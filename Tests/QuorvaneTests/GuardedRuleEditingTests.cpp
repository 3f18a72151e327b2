// Live rule editing and saving held values into rules: behaviour the other tables pass over.
#include "Quorvane/AppModel.h"

#include "CaptureTestSupport.h"
#include "ProfileRuleTestSupport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace quorvane {
namespace {

using namespace std::chrono_literals;

using Values = std::map<ControlKey, SettingValue>;

/// Display "a" with its brightness decided by the rule "Editor" of the active profile "Work";
/// every control call takes 10 ms.
struct EditingWorld {
    ModelWorld world;
    SlowControls controls;
    std::shared_ptr<AppModel> model;
    const ControlKey brightness = keyOf("a", SettingKey::brightness);
    const ControlKey contrast = keyOf("a", SettingKey::contrast);
    Rule rule = brightnessRule("Editor", 0.4);
    UUID work;

    EditingWorld()
    {
        controls.values[brightness] = SettingValue::percent(0.4);
        model = world.startedModel({.controlBackend = &controls});
        work = addProfile(*model, "Work", {rule});
        model->configuration.modify([&](Configuration& document) {
            document.activeProfileID = work;
            document.automationEnabled = true;
        });
        model->hardwareSnapshot.modify([&](HardwareSnapshot& snapshot) {
            snapshot.capabilities[brightness] = {.available = true, .reason = "DDC/CI"};
        });
        model->context.set(RuntimeContext{.displays = {DisplayContext{.id = "a"}}});
        model->observed.set({{brightness, SettingValue::percent(0.4)}});
        // Lets the display preferences settle, so that the next pass writes controls at once.
        model->resolveAndApply(false);
        world.executor.runUntilIdle();
    }

    void preview(double value)
    {
        Rule edited = rule;
        edited.settings.brightness = value;
        model->previewRuleSettings({.profileID = work, .rule = edited});
    }
};

TEST(GuardedRuleEditingTest, PreviewClearsEveryFailureAndItsEndClearsOnlyItsOwnKeys)
{
    for (const bool keepChanges : {true, false}) {
        SCOPED_TRACE(keepChanges ? "kept" : "abandoned");
        EditingWorld w;
        const Values failures{
            {w.brightness, SettingValue::percent(0.7)}, {w.contrast, SettingValue::percent(0.1)}};
        w.model->failed.set(failures);
        w.preview(0.7);
        EXPECT_TRUE(w.model->failed->empty()) << "values that failed are tried again";
        ASSERT_TRUE(w.model->liveRuleEdit->has_value());
        ASSERT_TRUE(w.model->liveRuleEdit.get()->requested.contains(w.brightness));

        // What the saved rule asks for failed: the plan alone would not try it again.
        w.model->failed.set(
            {{w.brightness, SettingValue::percent(0.4)}, {w.contrast, SettingValue::percent(0.1)}});
        w.model->endRuleEditing(keepChanges);

        EXPECT_EQ(w.model->failed.get(), (Values{{w.contrast, SettingValue::percent(0.1)}}));
        w.world.executor.advance(2s);
    }
}

TEST(GuardedRuleEditingTest, RestorationStopsForWhatArrivesWhileItReads)
{
    // The restoration reads for 10 ms; each row changes the model 5 ms into that read.
    const std::pair<std::string_view, std::function<void(AppModel&)>> cases[] = {
        {"nothing", [](AppModel&) {}},
        {"hold",
            [](AppModel& m) {
                m.holds.set({{keyOf("a", SettingKey::brightness),
                    ManualHold{.value = SettingValue::percent(0.7)}}});
            }},
        {"mode change", [](AppModel& m) { m.modeBusy.set({"a"}); }},
        {"suspension", [](AppModel& m) { m.isSuspended.set(true); }},
    };
    for (const auto& [what, arrive] : cases) {
        SCOPED_TRACE(what);
        EditingWorld w;
        // Automation off, so that only the restoration writes; the preview wrote 70 % over 40 %.
        w.model->configuration.modify(
            [](Configuration& document) { document.automationEnabled = false; });
        w.controls.values[w.brightness] = SettingValue::percent(0.7);
        w.model->liveRuleEdit.set(LiveRuleEdit{.id = UUID::random(),
            .profileID = w.work,
            .ruleID = w.rule.id,
            .settings = RuleSettings{.brightness = 0.7},
            .originals = {{w.brightness, SettingValue::percent(0.4)}},
            .requested = {{w.brightness, {SettingValue::percent(0.7)}}}});
        w.model->endRuleEditing(false);
        w.world.executor.advance(5ms);
        ASSERT_EQ(w.controls.reads, 1) << "the read is out";

        arrive(*w.model);
        w.world.executor.advance(2s);

        const bool restores = what == std::string_view("nothing");
        EXPECT_EQ(w.controls.values.at(w.brightness), SettingValue::percent(restores ? 0.4 : 0.7));
        EXPECT_EQ(w.model->controlStatus->contains(w.brightness), restores);
        EXPECT_TRUE(w.model->ruleEditRestorations->empty());
        EXPECT_TRUE(w.model->ruleEditRestoreIDs->empty());
    }
}

TEST(GuardedRuleEditingTest, HeldValuesDecidedByOneRuleGoIntoOneNewRule)
{
    CaptureWorld w;
    const ApplicationReference writer{.id = "com.example.Writer", .name = "Writer"};
    const Rule work{.id = UUID::random(),
        .name = "Work",
        .conditions = {.apps = {writer}},
        .settings = {.brightness = 0.8, .contrast = 0.2}};
    w.model->configuration.modify([&](Configuration& document) {
        Profile profile{.id = UUID::random(), .name = "Work profile", .rules = {work}};
        document.activeProfileID = profile.id;
        document.profiles.push_back(std::move(profile));
    });
    w.model->context.modify([&](RuntimeContext& context) {
        context.appBundleID = writer.id;
        context.focusedDisplayID = "a";
    });
    w.hold(controlOf("a", SettingKey::brightness), SettingValue::percent(0.3));
    w.hold(controlOf("a", SettingKey::contrast), SettingValue::percent(0.6));

    ASSERT_EQ(refusalOf(w.run(w.model->updateActiveProfileFromManualSettings())), "done");

    const RuleList& rules = w.model->configuration->activeProfile().rules;
    ASSERT_EQ(rules.size(), 2U) << "one new rule, right above the one that decides both";
    EXPECT_EQ(rules[0].name, "Work · Studio");
    EXPECT_EQ(rules[0].conditions,
        (RuleConditions{
            .apps = {writer}, .screen = DisplayReference{.id = "a", .name = "Studio"}}));
    EXPECT_EQ(rules[0].settings, (RuleSettings{.brightness = 0.3, .contrast = 0.6}));
    EXPECT_EQ(rules[1], work);
}

} // namespace
} // namespace quorvane
