#include "Quorvane/AppModel.h"

#include "ApplyTestSupport.h"

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <optional>
#include <set>
#include <vector>

namespace quorvane {
namespace {

using namespace apply_support;
using namespace std::chrono_literals;

TEST(ResolveAndApplyTest, EachSkipRuleInItsOrder)
{
    using Arrange = std::function<void(ApplyWorld&)>;
    struct Case {
        const char* what;
        Arrange arrange;
        bool recheck = false;
        std::set<ControlKey> started = {};
    };
    const auto seen = [](double observed, double requested) {
        return [=](ApplyWorld& w) {
            w.observe(brightness, percent(observed));
            w.model->confirmedApplications.set(
                {{brightness, {.requested = percent(requested), .observed = percent(0.498)}}});
        };
    };
    const auto failedAt = [](double value) {
        return [=](ApplyWorld& w) { w.model->failed.set({{brightness, percent(value)}}); };
    };
    const Case cases[] = {
        {"nothing known yet", [](ApplyWorld&) {}, false, {brightness}},
        {"a mode key is left to the mode scheduler",
            [](ApplyWorld& w) { w.setDefault(hdr, SettingValue::toggle(true)); }, false,
            {brightness}},
        {"a display changing mode", [](ApplyWorld& w) { w.model->modeBusy.set({externalID}); }},
        {"a rule-edit restoration running",
            [](ApplyWorld& w) {
                w.model->ruleEditRestorations.set(
                    {{brightness, spawn(w.executor(), waitForever())}});
            }},
        {"the same value already applying", [](ApplyWorld& w) { w.model->resolveAndApply(false); }},
        {"a different value applying",
            [](ApplyWorld& w) { w.model->scheduleApply(percent(0.4), brightness, false); }, false,
            {brightness}},
        {"the same value failed", failedAt(0.5), true},
        {"another value failed", failedAt(0.4), false, {brightness}},
        {"observed within 1e-6", [](ApplyWorld& w) { w.observe(brightness, percent(0.5000005)); }},
        {"observed 0.01 away", [](ApplyWorld& w) { w.observe(brightness, percent(0.51)); }, false,
            {brightness}},
        {"observed equal but rechecked", [](ApplyWorld& w) { w.observe(brightness, percent(0.5)); },
            true, {brightness}},
        {"still showing what a confirmed write left", seen(0.498, 0.5)},
        {"moved since the confirmed write", seen(0.3, 0.5), false, {brightness}},
        {"confirmed for another value", seen(0.498, 0.6), false, {brightness}},
        {"automation off",
            [](ApplyWorld& w) {
                w.model->configuration.modify(
                    [](Configuration& c) { c.automationEnabled = false; });
            }},
        {"a context change waiting",
            [](ApplyWorld& w) {
                (void)w.model->scheduler().schedule(
                    RuntimeContext{.appBundleID = "app"}, 300, true, [] { return waitForever(); });
            }},
        {"display preferences to apply first",
            [](ApplyWorld& w) { w.model->lastSystemDisplayRequests.set(std::nullopt); }},
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

        EXPECT_EQ(startedSince(w.model->tasks.get(), before), c.started);
        for (const ControlKey& key : c.started)
            EXPECT_EQ(w.model->applying->at(key), percent(0.5));
    }
}

TEST(ResolveAndApplyTest, StaleWritesStopAndAKeyReadBlocksOnlyTheBuiltinBrightness)
{
    ApplyWorld w;
    for (const ControlKey& key : {brightness, builtinBrightness, builtinContrast})
        w.setDefault(key, percent(0.5));
    w.model->scheduleApply(percent(0.9), contrast, false);
    w.model->scheduleApply(percent(0.3), brightness, false);
    const TaskHandle unplanned = w.model->tasks->at(contrast);
    w.model->keyReadTask.set(spawn(w.executor(), waitForever()));

    w.model->resolveAndApply(false);
    EXPECT_EQ(
        startedSince(w.model->tasks.get()), (std::set<ControlKey>{brightness, builtinContrast}));
    w.settle();
    EXPECT_TRUE(unplanned.isFinished());
    EXPECT_EQ(w.controls.inner.values.at(contrast), percent(0.2));
    EXPECT_EQ(w.controls.inner.values.at(brightness), percent(0.5));
    EXPECT_EQ(w.model->controlStatus->at(brightness), "Readback confirmed");
}

TEST(ResolveAndApplyTest, HeldKeysWriteAsTheirHoldSays)
{
    for (const bool external : {false, true}) {
        SCOPED_TRACE(external ? "a hold found outside is automatic" : "the user's is manual");
        ApplyWorld w;
        w.model->holds.set(
            {{brightness, ManualHold{.value = percent(0.7), .isExternal = external}}});
        w.model->resolveAndApply(false);
        w.settle();
        EXPECT_EQ(w.model->manualOriginals->contains(brightness), !external);
        EXPECT_EQ(w.controls.inner.values.at(brightness), percent(0.7));
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
        {"a Default now decides it", [](ApplyWorld& w) { w.setDefault(contrast, percent(0.6)); },
            false, false},
        {"its display is gone",
            [](ApplyWorld& w) { w.model->context.set({.displays = {{.id = builtinID}}}); }, false,
            true},
        {"its capability refuses the value",
            [](ApplyWorld& w) {
                w.model->hardwareSnapshot.modify(
                    [](HardwareSnapshot& s) { s.capabilities[contrast].available = false; });
            },
            false, true},
        {"the hardware already shows it", [](ApplyWorld& w) { w.observe(contrast, percent(0.4)); },
            true, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ApplyWorld w;
        w.model->manualRecoveries.set({{contrast, percent(0.4)}});
        c.arrange(w);
        w.model->resolveAndApply(false);

        const auto assignment = lookup(w.model->resolution->assignments, contrast);
        EXPECT_EQ(
            assignment && assignment->source == ResolutionSource::manualRecovery(), c.assigned);
        EXPECT_EQ(w.model->manualRecoveries->contains(contrast), c.kept);
    }
}

TEST(ResolveAndApplyTest, ObserversSeeOnlyTheFinishedPlanOncePerPass)
{
    ApplyWorld w;
    w.setDefault(brightness, percent(0.5));
    w.model->manualRecoveries.set({{contrast, percent(0.4)}});
    std::vector<bool> seenWithRecovery;
    const Subscription watching = w.model->resolution.observe(
        [&] { seenWithRecovery.push_back(w.model->resolution->assignments.contains(contrast)); });
    w.model->resolveAndApply(false);
    EXPECT_EQ(seenWithRecovery, std::vector<bool>{true});
    EXPECT_TRUE(w.model->resolution->assignments.contains(brightness));
}

TEST(ResolveAndApplyTest, RecheckSurvivesADisplayPreferenceApply)
{
    ApplyWorld w;
    w.setDefault(brightness, percent(0.5));
    w.observe(brightness, percent(0.5));
    w.model->resolveAndApply(true);
    EXPECT_TRUE(w.model->pendingControlRecheck.get() && w.model->systemDisplayApplying.get());
    w.model->resolveAndApply(false); // a pass while the preferences are written
    EXPECT_TRUE(w.model->tasks->empty());

    w.executor().advance(25ms); // both snapshots of the empty request
    EXPECT_FALSE(w.model->systemDisplayApplying.get() || w.model->pendingControlRecheck.get());
    EXPECT_TRUE(w.model->tasks->contains(brightness)) << "the recheck rewrites an equal value";
}

// A pass over unchanged inputs keeps the plan without working it out again, so each input the
// plan comes from must make a new one. The oracle is a pass after an unrelated change of the
// document, which always works the plan out anew.
TEST(ResolveAndApplyTest, ThePlanFollowsEveryInputItComesFrom)
{
    using Step = std::function<void(ApplyWorld&)>;
    struct Case {
        const char* input;
        Step arrange;
        Step change;
    };
    const auto holdFor = [](std::optional<std::chrono::seconds> duration) {
        return [=](ApplyWorld& w) {
            ManualHold hold{.value = percent(0.9)};
            if (duration)
                hold.expiresAt = w.executor().wallNow() + *duration;
            w.model->holds.set({{brightness, hold}});
        };
    };
    const Step nothing = [](ApplyWorld&) {};
    const Case cases[] = {
        {"the document", nothing, [](ApplyWorld& w) { w.setDefault(brightness, percent(0.7)); }},
        {"the context", nothing,
            [](ApplyWorld& w) { w.model->context.set({.displays = {{.id = builtinID}}}); }},
        {"the capabilities", nothing,
            [](ApplyWorld& w) {
                w.model->hardwareSnapshot.modify(
                    [](HardwareSnapshot& snapshot) { snapshot.capabilities.erase(brightness); });
            }},
        {"a hold", nothing, holdFor(std::nullopt)},
        {"a hold running out", holdFor(1s), [](ApplyWorld& w) { w.executor().advance(1s); }},
        {"a recovery", nothing,
            [](ApplyWorld& w) {
                w.model->manualRecoveries.set({{contrast, percent(0.3)}});
            }},
        {"automatic brightness", nothing,
            [](ApplyWorld& w) {
                w.model->systemDisplaySnapshot.set(
                    {.values = {{SystemDisplayControl::automaticBrightness(externalID), true}}});
            }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.input);
        ApplyWorld w;
        w.setDefault(brightness, percent(0.5));
        c.arrange(w);
        w.model->resolveAndApply(false);
        const ResolvedPlan before = w.model->resolution.get();
        c.change(w);
        w.model->resolveAndApply(false);
        const ResolvedPlan after = w.model->resolution.get();
        EXPECT_NE(after, before);
        w.model->configuration.modify([](Configuration& document) { document.holdMinutes = 15; });
        w.model->resolveAndApply(false);
        EXPECT_EQ(w.model->resolution.get(), after);
    }
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
        {"held until Resume", ManualHold{.value = percent(0.3)}, true},
        {"hold expires later", ManualHold{.value = percent(0.3), .expiresAt = now + 1s}, true},
        {"hold just expired", ManualHold{.value = percent(0.3), .expiresAt = now}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ApplyWorld w;
        if (c.hold)
            w.model->holds.set({{brightness, *c.hold}});
        w.model->scheduleApply(percent(0.3), brightness, false);
        w.model->modeTasks.set({{externalID, spawn(w.executor(), waitForever())}});
        w.model->cancelAutomaticCommands();
        EXPECT_EQ(w.model->tasks->contains(brightness), c.kept);
        EXPECT_TRUE(w.model->modeTasks->empty());
    }
}

} // namespace
} // namespace quorvane
