#include "Quorvane/AppModel.h"

#include "AppModelTestSupport.h"
#include "ProfileRuleTestSupport.h"
#include "SlowBackends.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <optional>
#include <string>
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

    [[nodiscard]] std::optional<std::string> status() const
    {
        const auto found = model->controlStatus->find(key);
        if (found == model->controlStatus->end())
            return std::nullopt;
        return found->second;
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

TEST(LiveRuleEditingTest, PreviewWritesAndEndingWithoutSavingPutsTheValueBack)
{
    LiveWorld live;
    live.model->previewRuleSettings(live.draft(RuleSettings{.brightness = 0.7}));
    live.world.executor.advance(1s);
    ASSERT_EQ(live.written(), std::vector{percent(0.7)});
    EXPECT_EQ(live.model->liveRuleKeys.get(), std::set{live.key});
    EXPECT_EQ(live.model->liveRuleEdit.get()->originals.at(live.key), percent(0.4));

    live.model->endRuleEditing(false);
    EXPECT_FALSE(live.model->liveRuleEdit->has_value());
    EXPECT_TRUE(live.model->liveRuleKeys->empty());
    live.world.executor.advance(1s);

    EXPECT_EQ(live.written(), (std::vector{percent(0.7), percent(0.4)}));
    EXPECT_EQ(live.status(), "Previous setting restored");
    EXPECT_TRUE(live.model->ruleEditRestorations->empty());
    EXPECT_TRUE(live.model->ruleEditRestoreIDs->empty());

    live.model->endRuleEditing(false); // a second end does nothing
    live.world.executor.advance(1s);
    EXPECT_EQ(live.written().size(), 2U);
}

TEST(LiveRuleEditingTest, SavingTheRuleKeepsThePreviewedValue)
{
    LiveWorld live;
    const RuleDraft draft = live.draft(RuleSettings{.brightness = 0.7});
    live.model->previewRuleSettings(draft);
    live.world.executor.advance(1s);

    ASSERT_TRUE(live.model->saveRule(draft.rule, live.work, true));
    live.world.executor.advance(1s);

    EXPECT_EQ(live.written(), std::vector{percent(0.7)});
    EXPECT_TRUE(live.model->ruleEditRestorations->empty());
    EXPECT_FALSE(live.model->liveRuleEdit->has_value());
}

TEST(LiveRuleEditingTest, DraftsThatAreNotPreviewed)
{
    struct Case {
        std::string_view name;
        std::function<RuleDraft(const LiveWorld&)> draft;
        bool createsPreview;
    };
    const Case cases[] = {
        {"a new rule", [](const LiveWorld& live) { return live.draft({.brightness = 0.7}, true); },
            false},
        {"invalid settings", [](const LiveWorld& live) { return live.draft({.brightness = 1.7}); },
            false},
        {"a rule the profile lacks",
            [](const LiveWorld& live) {
                RuleDraft draft = live.draft({.brightness = 0.7});
                draft.rule.id = UUID::random();
                return draft;
            },
            false},
        {"only the HDR changes",
            [](const LiveWorld& live) { return live.draft({.brightness = 0.4, .hdr = true}); },
            true},
        {"a rule of an inactive profile",
            [](const LiveWorld& live) {
                const Profile& evening = *findProfile(*live.model, live.evening);
                return RuleDraft{.profileID = evening.id,
                    .rule = {.id = evening.rules.front().id,
                        .name = "Film",
                        .settings = {.brightness = 0.9}}};
            },
            true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        LiveWorld live;
        live.model->previewRuleSettings(c.draft(live));
        live.world.executor.advance(1s);

        EXPECT_EQ(live.model->liveRuleEdit->has_value(), c.createsPreview);
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
    struct Case {
        std::string_view name;
        RuleSettings settings;
        std::optional<SettingValue> original{};
        std::function<void(LiveWorld&)> setup{};
        /// The brightness assignment, and whether it is the "Default" stand-in.
        std::optional<SettingValue> value{};
        bool isDefaultSource = false;
        bool isLiveKey = true;
    };
    const Case cases[] = {
        {.name = "changed value", .settings = {.brightness = 0.7}, .value = percent(0.7)},
        {.name = "same value",
            .settings = {.brightness = 0.4},
            .value = percent(0.4),
            .isLiveKey = false},
        {.name = "same value after a write",
            .settings = {.brightness = 0.4},
            .original = percent(0.2),
            .value = percent(0.4)},
        {.name = "removed setting falls back to the original",
            .settings = {.contrast = 0.5},
            .original = percent(0.2),
            .value = percent(0.2),
            .isDefaultSource = true},
        {.name = "removed setting never written", .settings = {.contrast = 0.5}},
        {.name = "removed setting the control no longer accepts",
            .settings = {.contrast = 0.5},
            .original = percent(0.2),
            .setup =
                [](LiveWorld& live) {
                    live.model->hardwareSnapshot.modify([&](HardwareSnapshot& snapshot) {
                        snapshot.capabilities[live.key].choices = {percent(0.4)};
                    });
                }},
        {.name = "removed setting of a disconnected display",
            .settings = {.contrast = 0.5},
            .original = percent(0.2),
            .setup = [](LiveWorld& live) { live.model->context.set(RuntimeContext{}); }},
        {.name = "held control",
            .settings = {.brightness = 0.7},
            .original = percent(0.2),
            .setup =
                [](LiveWorld& live) {
                    live.model->holds.set({{live.key, ManualHold{.value = percent(0.9)}}});
                },
            .value = percent(0.9),
            .isLiveKey = false},
        {.name = "inactive profile",
            .settings = {.brightness = 0.7},
            .setup =
                [](LiveWorld& live) {
                    live.model->configuration.modify(
                        [&](Configuration& document) { document.activeProfileID = live.evening; });
                },
            .value = percent(0.4),
            .isLiveKey = false},
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
            edit.originals.emplace(live.key, *c.original);
        live.model->liveRuleEdit.set(edit);
        const ResolvedPlan saved{
            .assignments = {{live.key,
                ResolvedAssignment{.value = percent(0.4),
                    .source = ResolutionSource::rule(live.rule.id, live.rule.name)}}}};

        const ResolvedPlan plan = live.model->resolveRuleEditing(saved);

        const auto assignment = plan.assignments.find(live.key);
        const auto value = assignment == plan.assignments.end()
            ? std::nullopt
            : std::optional(assignment->second.value);
        EXPECT_EQ(value, c.value);
        if (assignment != plan.assignments.end()) {
            EXPECT_EQ(
                assignment->second.source == ResolutionSource::profileDefault(), c.isDefaultSource);
        }
        EXPECT_EQ(live.model->liveRuleKeys->contains(live.key), c.isLiveKey);
        EXPECT_FALSE(plan.assignments.contains(keyOf("display-a", SettingKey::hdr)));
    }
}

TEST(LiveRuleEditingTest, RestorationOutcomes)
{
    struct Case {
        std::string_view name;
        SettingValue current;
        std::optional<std::string> readFailure;
        std::optional<std::string> status;
        std::vector<SettingValue> written;
        bool heldFromOutside = false;
    };
    const Case cases[] = {
        {"still the earlier value", percent(0.4 + 5e-7), std::nullopt, "Previous setting unchanged",
            {}},
        {"shows the last request", percent(0.7), std::nullopt, "Previous setting restored",
            {percent(0.4)}},
        {"near an earlier request", percent(0.612), std::nullopt, "Previous setting restored",
            {percent(0.4)}},
        {"changed outside", percent(0.65), std::nullopt, "Changed outside QuorVane", {}, true},
        {"read fails", percent(0.7), "Monitor asleep", "Monitor asleep", {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        LiveWorld live;
        live.controls.values[live.key] = c.current;
        if (c.readFailure)
            live.controls.readFailures[live.key] = *c.readFailure;
        live.previewed(percent(0.4), {percent(0.6), percent(0.7)});

        live.model->endRuleEditing(false);
        ASSERT_TRUE(live.model->ruleEditRestorations->contains(live.key));
        live.world.executor.advance(2s);

        EXPECT_EQ(live.status(), c.status);
        EXPECT_EQ(live.written(), c.written);
        const auto hold = live.model->holds->find(live.key);
        EXPECT_EQ(hold != live.model->holds->end() && hold->second.isExternal, c.heldFromOutside);
        EXPECT_TRUE(live.model->ruleEditRestorations->empty());
        EXPECT_TRUE(live.model->ruleEditRestoreIDs->empty());
    }
}

TEST(LiveRuleEditingTest, RestorationGivesWay)
{
    struct Case {
        std::string_view name;
        std::function<void(LiveWorld&)> setup;
        bool restores;
    };
    const Case cases[] = {
        {"nothing in the way", [](LiveWorld&) {}, true},
        {"manual hold",
            [](LiveWorld& live) {
                live.model->holds.set({{live.key, ManualHold{.value = percent(0.7)}}});
            },
            false},
        {"expired hold",
            [](LiveWorld& live) {
                live.model->holds.set({{live.key,
                    ManualHold{
                        .value = percent(0.7), .expiresAt = live.world.executor.wallNow() - 1s}}});
            },
            true},
        {"display changing mode", [](LiveWorld& live) { live.model->modeBusy.set({"display-a"}); },
            false},
        {"suspended", [](LiveWorld& live) { live.model->isSuspended.set(true); }, false},
        {"quitting while suspended",
            [](LiveWorld& live) {
                live.model->isSuspended.set(true);
                live.model->isQuitting.set(true);
            },
            true},
        {"quitting after sleep",
            [](LiveWorld& live) {
                live.model->isSuspended.set(true);
                live.model->isQuitting.set(true);
                live.model->context.modify(
                    [](RuntimeContext& context) { context.suspended = true; });
            },
            false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        LiveWorld live;
        // Automation off: only the restoration touches the control.
        live.model->configuration.modify(
            [](Configuration& document) { document.automationEnabled = false; });
        live.controls.values[live.key] = percent(0.7);
        live.previewed(percent(0.4), {percent(0.7)});
        c.setup(live);

        live.model->endRuleEditing(false);
        live.world.executor.advance(2s);

        EXPECT_EQ(live.controls.reads > 0, c.restores);
        EXPECT_EQ(
            live.written(), c.restores ? std::vector{percent(0.4)} : std::vector<SettingValue>{});
        EXPECT_TRUE(live.model->ruleEditRestorations->empty());
    }
}

TEST(LiveRuleEditingTest, AValueChangedDuringTheRestoreIsReportedAsMismatch)
{
    LiveWorld live;
    live.model->configuration.modify(
        [](Configuration& document) { document.automationEnabled = false; });
    live.controls.values[live.key] = percent(0.7);
    live.previewed(percent(0.4), {percent(0.7)});

    live.model->endRuleEditing(false);
    // Read 10 ms, then the driver reads, writes and settles for 100 ms before reading back.
    live.world.executor.advance(80ms);
    ASSERT_EQ(live.written(), std::vector{percent(0.4)});
    live.controls.values[live.key] = percent(0.9);
    live.world.executor.advance(2s);

    EXPECT_EQ(live.status(), "Restoration readback did not match");
}

TEST(LiveRuleEditingTest, ACancelledOrReplacedRestorationChangesNothingAfterItsWait)
{
    for (const bool replaced : {false, true}) {
        SCOPED_TRACE(replaced ? "replaced" : "cancelled");
        LiveWorld live;
        live.model->configuration.modify(
            [](Configuration& document) { document.automationEnabled = false; });
        live.controls.values[live.key] = percent(0.7);
        live.previewed(percent(0.4), {percent(0.7)});
        live.model->endRuleEditing(false);
        live.world.executor.advance(5ms); // the first read is under way

        if (replaced) {
            live.previewed(percent(0.3), {percent(0.7)});
            live.model->endRuleEditing(false);
        } else {
            live.model->cancelRuleEditRestoration(live.key);
            EXPECT_TRUE(live.model->ruleEditRestorations->empty());
        }
        live.world.executor.advance(2s);

        EXPECT_EQ(
            live.written(), replaced ? std::vector{percent(0.3)} : std::vector<SettingValue>{});
        EXPECT_EQ(live.status(),
            replaced ? std::optional<std::string>("Previous setting restored") : std::nullopt);
        EXPECT_TRUE(live.model->ruleEditRestoreIDs->empty());
    }
}

TEST(LiveRuleEditingTest, OpeningAnotherRuleEndsThePreviewAndRestoresIt)
{
    struct Case {
        std::string_view name;
        bool sameRule;
        bool sameProfile;
    };
    const Case cases[] = {
        {"the same rule again", true, true},
        {"another rule of the profile", false, true},
        {"a rule of another profile", false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        LiveWorld live;
        live.model->configuration.modify([&](Configuration& document) {
            document.automationEnabled = false;
            for (Profile& profile : document.profiles) {
                if (profile.id == live.work)
                    profile.rules.push_back(brightnessRule("Other", 0.3));
            }
        });
        live.previewed(percent(0.4), {percent(0.7)});
        const UUID previewID = live.model->liveRuleEdit.get()->id;
        const Profile& target = *findProfile(*live.model, c.sameProfile ? live.work : live.evening);
        Rule opened = c.sameRule ? live.rule : target.rules.back();
        opened.settings = RuleSettings{.brightness = 0.6};

        live.model->previewRuleSettings(RuleDraft{.profileID = target.id, .rule = opened});

        ASSERT_TRUE(live.model->liveRuleEdit->has_value());
        const LiveRuleEdit& edit = *live.model->liveRuleEdit.get();
        EXPECT_EQ(edit.id == previewID, c.sameRule);
        EXPECT_EQ(edit.ruleID, opened.id);
        EXPECT_EQ(edit.settings.brightness, 0.6);
        EXPECT_EQ(edit.originals.contains(live.key), c.sameRule);
        EXPECT_EQ(live.model->ruleEditRestorations->contains(live.key), !c.sameRule);
    }
}

} // namespace
} // namespace quorvane
