#include "Quorvane/AppModel.h"

#include "ApplyTestSupport.h"

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <set>

namespace quorvane {
namespace {

using namespace apply_support;
using namespace std::chrono_literals;

SettingValue percent(double value) { return SettingValue::percent(value); }

/// The keys whose write task is not the one they had before.
std::set<ControlKey> startedSince(
    const std::map<ControlKey, TaskHandle>& before, const std::map<ControlKey, TaskHandle>& after)
{
    std::set<ControlKey> started;
    for (const auto& [key, task] : after) {
        const auto old = before.find(key);
        if (old == before.end() || !(old->second == task))
            started.insert(key);
    }
    return started;
}

TEST(ResolveAndApplyTest, EachSkipRuleInItsOrder)
{
    struct Case {
        const char* what;
        std::function<void(ApplyWorld&)> arrange;
        bool recheck;
        std::set<ControlKey> started;
    };
    const auto confirmed = [](ApplyWorld& w, double requested, double seen) {
        w.model->confirmedApplications.modify([&](auto& map) {
            map[brightness] = {.requested = percent(requested), .observed = percent(seen)};
        });
    };
    const Case cases[] = {
        {"nothing known yet", [](ApplyWorld&) {}, false, {brightness}},
        {"a mode key is left to the mode scheduler",
            [](ApplyWorld& w) { w.setDefault(hdr, SettingValue::toggle(true)); }, false,
            {brightness}},
        {"a display changing mode",
            [](ApplyWorld& w) { w.model->modeBusy.set({externalID}); }, false, {}},
        {"a rule-edit restoration running",
            [](ApplyWorld& w) {
                w.model->ruleEditRestorations.set(
                    {{brightness, spawn(w.executor(), waitForever())}});
            },
            false, {}},
        {"the same value already applying",
            [](ApplyWorld& w) { w.model->resolveAndApply(false); }, false, {}},
        {"a different value applying",
            [](ApplyWorld& w) {
                w.model->scheduleApply(percent(0.4), brightness, false);
            },
            false, {brightness}},
        {"the same value failed", [](ApplyWorld& w) { w.model->failed.set({{brightness, percent(0.5)}}); },
            true, {}},
        {"another value failed", [](ApplyWorld& w) { w.model->failed.set({{brightness, percent(0.4)}}); },
            false, {brightness}},
        {"observed within 1e-6", [](ApplyWorld& w) { w.observe(brightness, percent(0.5000005)); },
            false, {}},
        {"observed 0.01 away", [](ApplyWorld& w) { w.observe(brightness, percent(0.51)); }, false,
            {brightness}},
        {"observed equal but rechecked", [](ApplyWorld& w) { w.observe(brightness, percent(0.5)); },
            true, {brightness}},
        {"still showing what a confirmed write left",
            [&](ApplyWorld& w) {
                w.observe(brightness, percent(0.498));
                confirmed(w, 0.5, 0.498);
            },
            false, {}},
        {"moved since the confirmed write",
            [&](ApplyWorld& w) {
                w.observe(brightness, percent(0.3));
                confirmed(w, 0.5, 0.498);
            },
            false, {brightness}},
        {"confirmed for another value",
            [&](ApplyWorld& w) {
                w.observe(brightness, percent(0.498));
                confirmed(w, 0.6, 0.498);
            },
            false, {brightness}},
        {"automation off", [](ApplyWorld& w) {
             w.model->configuration.modify([](Configuration& c) { c.automationEnabled = false; });
         },
            false, {}},
        {"a context change waiting",
            [](ApplyWorld& w) {
                (void)w.model->scheduler().schedule(
                    RuntimeContext{.appBundleID = "app"}, 300, true, [] { return waitForever(); });
            },
            false, {}},
        {"display preferences to apply first",
            [](ApplyWorld& w) { w.model->lastSystemDisplayRequests.set(std::nullopt); }, false,
            {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ApplyWorld w;
        w.setDefault(brightness, percent(0.5));
        c.arrange(w);
        const auto before = w.model->tasks.get();

        w.model->resolveAndApply(c.recheck);
        if (c.recheck)
            w.executor().advance(25ms); // a recheck writes the display preferences first

        EXPECT_EQ(startedSince(before, w.model->tasks.get()), c.started);
        for (const ControlKey& key : c.started)
            EXPECT_EQ(w.model->applying->at(key), percent(0.5));
    }
}

TEST(ResolveAndApplyTest, BrightnessKeyReadBlocksOnlyTheBuiltinBrightness)
{
    ApplyWorld w;
    for (const ControlKey& key : {brightness, builtinBrightness, builtinContrast})
        w.setDefault(key, SettingValue::percent(0.5));
    w.model->keyReadTask.set(spawn(w.executor(), waitForever()));

    w.model->resolveAndApply(false);

    EXPECT_EQ(startedSince({}, w.model->tasks.get()),
        (std::set<ControlKey>{brightness, builtinContrast}));
}

TEST(ResolveAndApplyTest, StaleWritesAreCancelledBeforeNewOnesStart)
{
    ApplyWorld w;
    w.setDefault(brightness, SettingValue::percent(0.5));
    w.model->scheduleApply(SettingValue::percent(0.9), contrast, false);
    w.model->scheduleApply(SettingValue::percent(0.3), brightness, false);
    const TaskHandle unplanned = w.model->tasks->at(contrast);

    w.model->resolveAndApply(false);
    w.settle();

    EXPECT_FALSE(w.model->tasks->contains(contrast));
    EXPECT_TRUE(unplanned.isFinished());
    EXPECT_EQ(w.controls.inner.values.at(contrast), SettingValue::percent(0.2));
    EXPECT_EQ(w.controls.inner.values.at(brightness), SettingValue::percent(0.5));
    EXPECT_EQ(w.model->controlStatus->at(brightness), "Readback confirmed");
}

TEST(ResolveAndApplyTest, HeldKeysWriteAsTheirHoldSays)
{
    struct Case {
        const char* what;
        bool external;
        bool readsOriginal;
    };
    const Case cases[] = {
        {"the user's hold is a manual write", false, true},
        {"a hold found outside is automatic", true, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ApplyWorld w;
        w.model->holds.set({{brightness,
            ManualHold{.value = SettingValue::percent(0.7), .isExternal = c.external}}});

        w.model->resolveAndApply(false);
        w.settle();

        EXPECT_EQ(w.model->manualOriginals->contains(brightness), c.readsOriginal);
        EXPECT_EQ(w.controls.inner.values.at(brightness), SettingValue::percent(0.7));
    }
}

TEST(ResolveAndApplyTest, RecoveryWaitsForItsDisplayAndGivesWayToThePlan)
{
    struct Case {
        const char* what;
        std::function<void(ApplyWorld&)> arrange;
        bool assigned;
        bool kept;
    };
    const Case cases[] = {
        {"nothing decides the key", [](ApplyWorld&) {}, true, true},
        {"a Default now decides it",
            [](ApplyWorld& w) { w.setDefault(contrast, SettingValue::percent(0.6)); }, false,
            false},
        {"its display is gone",
            [](ApplyWorld& w) { w.model->context.set({.displays = {{.id = builtinID}}}); }, false,
            true},
        {"its capability refuses the value",
            [](ApplyWorld& w) {
                w.model->hardwareSnapshot.modify(
                    [](HardwareSnapshot& s) { s.capabilities[contrast].available = false; });
            },
            false, true},
        {"the hardware already shows it",
            [](ApplyWorld& w) { w.observe(contrast, SettingValue::percent(0.4)); }, true, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ApplyWorld w;
        w.model->manualRecoveries.set({{contrast, SettingValue::percent(0.4)}});
        c.arrange(w);

        w.model->resolveAndApply(false);

        const auto& assignments = w.model->resolution->assignments;
        const auto assignment = assignments.find(contrast);
        const bool fromRecovery = assignment != assignments.end()
            && assignment->second.source == ResolutionSource::manualRecovery();
        EXPECT_EQ(fromRecovery, c.assigned);
        EXPECT_EQ(w.model->manualRecoveries->contains(contrast), c.kept);
    }
}

TEST(ResolveAndApplyTest, RecheckSurvivesADisplayPreferenceApply)
{
    ApplyWorld w;
    w.setDefault(brightness, SettingValue::percent(0.5));
    w.observe(brightness, SettingValue::percent(0.5));
    w.model->resolveAndApply(true);
    EXPECT_TRUE(w.model->pendingControlRecheck.get());
    EXPECT_TRUE(w.model->systemDisplayApplying.get());
    EXPECT_TRUE(w.model->tasks->empty());

    w.model->resolveAndApply(false); // a pass while the preferences are written
    EXPECT_TRUE(w.model->tasks->empty());
    w.executor().advance(25ms); // both snapshots of the empty request

    EXPECT_FALSE(w.model->systemDisplayApplying.get());
    EXPECT_FALSE(w.model->pendingControlRecheck.get());
    EXPECT_TRUE(w.model->tasks->contains(brightness)) << "the recheck rewrites an equal value";
}

TEST(ResolveAndApplyTest, CancelAutomaticCommandsKeepsActiveHoldsOnly)
{
    struct Case {
        const char* what;
        std::optional<ManualHold> hold;
        bool kept;
    };
    const Date now = ManualExecutor::defaultWallStart;
    const Case cases[] = {
        {"no hold", std::nullopt, false},
        {"held until Resume", ManualHold{.value = SettingValue::percent(0.3)}, true},
        {"hold expires later", ManualHold{.value = SettingValue::percent(0.3), .expiresAt = now + 1s},
            true},
        {"hold just expired", ManualHold{.value = SettingValue::percent(0.3), .expiresAt = now},
            false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ApplyWorld w;
        if (c.hold)
            w.model->holds.set({{brightness, *c.hold}});
        w.model->scheduleApply(SettingValue::percent(0.3), brightness, false);
        w.model->modeTasks.set({{externalID, spawn(w.executor(), waitForever())}});

        w.model->cancelAutomaticCommands();

        EXPECT_EQ(w.model->tasks->contains(brightness), c.kept);
        EXPECT_TRUE(w.model->modeTasks->empty());
    }
}

} // namespace
} // namespace quorvane
