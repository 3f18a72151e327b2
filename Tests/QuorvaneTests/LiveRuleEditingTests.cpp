#include "Quorvane/AppModel.h"

#include "AppModelTestSupport.h"
#include "ProfileRuleTestSupport.h"
#include "SlowBackends.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

namespace quorvane {
namespace {

using namespace std::chrono_literals;

SettingValue percent(double value) { return SettingValue::percent(value); }

/// One connected display whose brightness the Work profile's rule sets to 40 %, with automation
/// on; every control call takes 10 ms.
struct LiveWorld {
    ModelWorld world;
    SlowControls controls;
    std::shared_ptr<AppModel> model;
    const ControlKey key = keyOf("display-a", SettingKey::brightness);
    Rule rule = brightnessRule("Editor", 0.4);
    UUID work;
    UUID evening;

    LiveWorld()
    {
        controls.values[key] = percent(0.4);
        model = world.startedModel(AppModel::Options{.controlBackend = &controls});
        work = addProfile(*model, "Work", {rule});
        evening = addProfile(*model, "Evening", {brightnessRule("Film", 0.2)});
        model->configuration.modify([&](Configuration& document) {
            document.activeProfileID = work;
            document.automationEnabled = true;
        });
        model->hardwareSnapshot.modify([&](HardwareSnapshot& snapshot) {
            snapshot.capabilities[key] = ControlCapability{.available = true, .reason = "DDC/CI"};
            snapshot.capabilities[keyOf("display-a", SettingKey::hdr)]
                = ControlCapability{.available = true};
        });
        model->context.set(RuntimeContext{.displays = {DisplayContext{.id = "display-a"}}});
        model->observed.set({{key, percent(0.4)}});
        model->resolveAndApply(false);
        world.executor.runUntilIdle();
    }

    [[nodiscard]] RuleDraft draft(RuleSettings settings, bool isNew = false) const
    {
        Rule edited = rule;
        edited.settings = settings;
        return {.profileID = work, .rule = edited, .isNew = isNew};
    }

    /// A preview as if it had written `requested` over `original`.
    void previewed(SettingValue original, std::vector<SettingValue> requested)
    {
        model->liveRuleEdit.set(LiveRuleEdit{.id = UUID::random(),
            .profileID = work,
            .ruleID = rule.id,
            .settings = RuleSettings{.brightness = 0.7},
            .originals = {{key, original}},
            .requested = {{key, std::move(requested)}}});
    }

    /// Automation off, so that only the restoration touches the control, and a preview that
    /// wrote 70 % over 40 %.
    void quietPreview()
    {
        model->configuration.modify(
            [](Configuration& document) { document.automationEnabled = false; });
        controls.values[key] = percent(0.7);
        previewed(percent(0.4), {percent(0.7)});
    }

    [[nodiscard]] std::optional<std::string> status() const
    {
        const auto found = model->controlStatus->find(key);
        if (found == model->controlStatus->end())
            return std::nullopt;
        return found->second;
    }

    /// The control's status ("-" for none), then each value written.
    [[nodiscard]] std::string outcome() const
    {
        std::string shown = status().value_or("-");
        for (const SettingValue& value : written())
            shown += " wrote " + value.label();
        return shown;
    }

    [[nodiscard]] std::vector<SettingValue> written() const
    {
        std::vector<SettingValue> values;
        for (const auto& [writtenKey, value] : controls.writes) {
            if (writtenKey == key)
                values.push_back(value);
        }
        return values;
    }
};

TEST(LiveRuleEditingTest, PreviewWritesAndEndingPutsTheValueBackUnlessTheRuleIsSaved)
{
    for (const bool saves : {false, true}) {
        SCOPED_TRACE(saves ? "saved" : "ended without saving");
        LiveWorld live;
        const RuleDraft draft = live.draft(RuleSettings{.brightness = 0.7});
        live.model->previewRuleSettings(draft);
        live.world.executor.advance(1s);
        ASSERT_EQ(live.written(), std::vector{percent(0.7)});
        EXPECT_EQ(live.model->liveRuleKeys.get(), std::set{live.key});
        EXPECT_EQ(live.model->liveRuleEdit.get()->originals.at(live.key), percent(0.4));

        if (saves)
            ASSERT_TRUE(live.model->saveRule(draft.rule, live.work, true));
        else
            live.model->endRuleEditing(false);
        EXPECT_FALSE(live.model->liveRuleEdit->has_value());
        EXPECT_TRUE(live.model->liveRuleKeys->empty());
        live.world.executor.advance(1s);
        live.model->endRuleEditing(false); // a second end does nothing
        live.world.executor.advance(1s);

        EXPECT_EQ(live.outcome(),
            saves ? "Readback confirmed wrote 70%"
                  : "Previous setting restored wrote 70% wrote 40%");
        EXPECT_TRUE(live.model->ruleEditRestorations->empty());
        EXPECT_TRUE(live.model->ruleEditRestoreIDs->empty());
    }
}

TEST(LiveRuleEditingTest, DraftsThatAreNotPreviewed)
{
    // Rule "L" is one the profile lacks; "F" is Evening's rule, of a profile that is not active.
    const std::tuple<std::string_view, RuleSettings, bool, char, bool> cases[] = {
        {"a new rule", {.brightness = 0.7}, true, 'W', false},
        {"invalid settings", {.brightness = 1.7}, false, 'W', false},
        {"a rule the profile lacks", {.brightness = 0.7}, false, 'L', false},
        {"only the HDR changes", {.brightness = 0.4, .hdr = true}, false, 'W', true},
        {"a rule of an inactive profile", {.brightness = 0.9}, false, 'F', true},
    };
    for (const auto& [name, settings, isNew, rule, createsPreview] : cases) {
        SCOPED_TRACE(name);
        LiveWorld live;
        RuleDraft draft = live.draft(settings, isNew);
        if (rule == 'L')
            draft.rule.id = UUID::random();
        if (rule == 'F') {
            draft.profileID = live.evening;
            draft.rule.id = findProfile(*live.model, live.evening)->rules.front().id;
        }
        live.model->previewRuleSettings(draft);
        live.world.executor.advance(1s);

        EXPECT_EQ(live.model->liveRuleEdit->has_value(), createsPreview);
        EXPECT_TRUE(live.model->liveRuleKeys->empty());
        EXPECT_TRUE(live.written().empty());
        EXPECT_EQ(live.model->resolution->assignments.at(live.key).value, percent(0.4));
    }
}

TEST(LiveRuleEditingTest, ANewDraftLeavesARunningPreviewAsItIs)
{
    LiveWorld live;
    live.model->previewRuleSettings(live.draft(RuleSettings{.brightness = 0.7}));
    const UUID previewID = live.model->liveRuleEdit.get()->id;

    live.model->previewRuleSettings(live.draft(RuleSettings{.brightness = 0.2}, true));

    ASSERT_TRUE(live.model->liveRuleEdit->has_value());
    EXPECT_EQ(live.model->liveRuleEdit.get()->id, previewID);
    EXPECT_EQ(live.model->liveRuleEdit.get()->settings.brightness, 0.7);
}

TEST(LiveRuleEditingTest, PlanOverlay)
{
    const auto narrowed = [](LiveWorld& live) {
        live.model->hardwareSnapshot.modify([&](HardwareSnapshot& snapshot) {
            snapshot.capabilities[live.key].choices = {percent(0.4)};
        });
    };
    const auto disconnected = [](LiveWorld& live) { live.model->context.set(RuntimeContext{}); };
    const auto held = [](LiveWorld& live) {
        live.model->holds.set({{live.key, ManualHold{.value = percent(0.9)}}});
    };
    const auto inactive = [](LiveWorld& live) {
        live.model->configuration.modify(
            [&](Configuration& document) { document.activeProfileID = live.evening; });
    };
    struct Case {
        std::string_view name;
        RuleSettings settings;
        std::optional<double> original;
        std::function<void(LiveWorld&)> setup;
        /// The brightness assignment ("-" for none), " default" when the "Default" stands in,
        /// " live" when the key counts as previewed.
        std::string_view expected;
    };
    const Case cases[] = {
        {"changed value", {.brightness = 0.7}, {}, {}, "70% live"},
        {"same value", {.brightness = 0.4}, {}, {}, "40%"},
        {"same value after a write", {.brightness = 0.4}, 0.2, {}, "40% live"},
        {"removed setting falls back to the original", {.contrast = 0.5}, 0.2, {},
            "20% default live"},
        {"removed setting never written", {.contrast = 0.5}, {}, {}, "- live"},
        {"removed setting no longer accepted", {.contrast = 0.5}, 0.2, narrowed, "- live"},
        {"removed setting of a gone display", {.contrast = 0.5}, 0.2, disconnected, "- live"},
        {"held control", {.brightness = 0.7}, 0.2, held, "90%"},
        {"inactive profile", {.brightness = 0.7}, {}, inactive, "40%"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        LiveWorld live;
        if (c.setup)
            c.setup(live);
        LiveRuleEdit edit{.id = UUID::random(),
            .profileID = live.work,
            .ruleID = live.rule.id,
            .settings = c.settings};
        if (c.original)
            edit.originals.emplace(live.key, percent(*c.original));
        live.model->liveRuleEdit.set(edit);
        const ResolvedPlan saved{
            .assignments = {{live.key,
                ResolvedAssignment{.value = percent(0.4),
                    .source = ResolutionSource::rule(live.rule.id, live.rule.name)}}}};

        const ResolvedPlan plan = live.model->resolveRuleEditing(saved);

        const auto assignment = plan.assignments.find(live.key);
        std::string shown
            = assignment == plan.assignments.end() ? "-" : assignment->second.value.label();
        if (assignment != plan.assignments.end()
            && assignment->second.source == ResolutionSource::profileDefault())
            shown += " default";
        if (live.model->liveRuleKeys->contains(live.key))
            shown += " live";
        EXPECT_EQ(shown, c.expected);
        EXPECT_FALSE(plan.assignments.contains(keyOf("display-a", SettingKey::hdr)));
    }
}

TEST(LiveRuleEditingTest, RestorationOutcomes)
{
    /// The preview wrote 60 % and then 70 % over 40 %.
    struct Case {
        std::string_view name;
        double current;
        std::optional<std::string> readFailure;
        /// The status, then what was written back, and " held" for an outside hold.
        std::string_view expected;
    };
    const Case cases[] = {
        {"still the earlier value", 0.4 + 5e-7, {}, "Previous setting unchanged"},
        {"shows the last request", 0.7, {}, "Previous setting restored wrote 40%"},
        {"near an earlier request", 0.612, {}, "Previous setting restored wrote 40%"},
        {"changed outside", 0.65, {}, "Changed outside QuorVane held"},
        {"read fails", 0.7, "Monitor asleep", "Monitor asleep"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        LiveWorld live;
        live.controls.values[live.key] = percent(c.current);
        if (c.readFailure)
            live.controls.readFailures[live.key] = *c.readFailure;
        live.previewed(percent(0.4), {percent(0.6), percent(0.7)});

        live.model->endRuleEditing(false);
        ASSERT_TRUE(live.model->ruleEditRestorations->contains(live.key));
        live.world.executor.advance(2s);

        const auto hold = live.model->holds->find(live.key);
        const bool held = hold != live.model->holds->end() && hold->second.isExternal;
        EXPECT_EQ(live.outcome() + (held ? " held" : ""), c.expected);
        EXPECT_TRUE(live.model->ruleEditRestorations->empty());
        EXPECT_TRUE(live.model->ruleEditRestoreIDs->empty());
    }
}

TEST(LiveRuleEditingTest, RestorationGivesWay)
{
    // Each row names what stands in the way.
    const std::pair<std::string_view, bool> cases[] = {
        {"nothing", true},
        {"manual hold", false},
        {"expired hold", true},
        {"display changing mode", false},
        {"suspended", false},
        {"suspended quitting", true},
        {"suspended quitting asleep", false},
    };
    for (const auto& [name, restores] : cases) {
        SCOPED_TRACE(name);
        const auto has
            = [label = std::string_view(name)](
                  std::string_view word) { return label.find(word) != std::string_view::npos; };
        LiveWorld live;
        live.quietPreview();
        if (has("hold")) {
            live.model->holds.set({{live.key, ManualHold{.value = percent(0.7)}}});
            if (has("expired"))
                live.model->holds.modify([&](auto& holds) {
                    holds.at(live.key).expiresAt = live.world.executor.wallNow() - 1s;
                });
        }
        if (has("mode"))
            live.model->modeBusy.set({"display-a"});
        live.model->isSuspended.set(has("suspended"));
        live.model->isQuitting.set(has("quitting"));
        if (has("asleep"))
            live.model->context.modify([](RuntimeContext& context) { context.suspended = true; });

        live.model->endRuleEditing(false);
        live.world.executor.advance(2s);

        EXPECT_EQ(live.controls.reads > 0, restores);
        EXPECT_EQ(live.outcome(), restores ? "Previous setting restored wrote 40%" : "-");
        EXPECT_TRUE(live.model->ruleEditRestorations->empty());
    }
}

TEST(LiveRuleEditingTest, WhatHappensDuringTheRestoreDecidesItsEnd)
{
    // The restore reads for 10 ms, then the driver reads, writes and settles for 100 ms before
    // reading back.
    struct Case {
        std::string_view name;
        std::chrono::milliseconds after;
        std::function<void(LiveWorld&)> meanwhile;
        std::string_view expected;
    };
    const Case cases[] = {
        {"cancelled during the first read", 5ms,
            [](LiveWorld& live) { live.model->cancelRuleEditRestoration(live.key); }, "-"},
        {"replaced during the first read", 5ms,
            [](LiveWorld& live) {
                live.previewed(percent(0.3), {percent(0.7)});
                live.model->endRuleEditing(false);
            },
            "Previous setting restored wrote 30%"},
        {"changed before the readback", 80ms,
            [](LiveWorld& live) { live.controls.values[live.key] = percent(0.9); },
            "Restoration readback did not match wrote 40%"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        LiveWorld live;
        live.quietPreview();
        live.model->endRuleEditing(false);
        live.world.executor.advance(c.after);
        c.meanwhile(live);
        live.world.executor.advance(2s);

        EXPECT_EQ(live.outcome(), c.expected);
        EXPECT_TRUE(live.model->ruleEditRestorations->empty());
        EXPECT_TRUE(live.model->ruleEditRestoreIDs->empty());
    }
}

TEST(LiveRuleEditingTest, OpeningAnotherRuleEndsThePreviewAndRestoresIt)
{
    const std::tuple<std::string_view, bool, bool> cases[] = {
        {"the same rule again", true, true},
        {"another rule of the profile", false, true},
        {"a rule of another profile", false, false},
    };
    for (const auto& [name, sameRule, sameProfile] : cases) {
        SCOPED_TRACE(name);
        LiveWorld live;
        live.model->configuration.modify([&](Configuration& document) {
            document.profiles.edit(std::ranges::find(document.profiles, live.work, &Profile::id))
                .rules.push_back(brightnessRule("Other", 0.3));
        });
        live.quietPreview();
        const UUID previewID = live.model->liveRuleEdit.get()->id;
        const Profile& target = *findProfile(*live.model, sameProfile ? live.work : live.evening);
        Rule opened = sameRule ? live.rule : target.rules.back();
        opened.settings = RuleSettings{.brightness = 0.6};

        live.model->previewRuleSettings(RuleDraft{.profileID = target.id, .rule = opened});

        ASSERT_TRUE(live.model->liveRuleEdit->has_value());
        const LiveRuleEdit& edit = *live.model->liveRuleEdit.get();
        EXPECT_EQ(edit.id == previewID, sameRule);
        EXPECT_EQ(edit.ruleID, opened.id);
        EXPECT_EQ(edit.settings.brightness, 0.6);
        EXPECT_EQ(edit.originals.contains(live.key), sameRule);
        EXPECT_EQ(live.model->ruleEditRestorations->contains(live.key), !sameRule);
    }
}

} // namespace
} // namespace quorvane
