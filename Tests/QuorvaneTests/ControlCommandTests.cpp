#include "Quorvane/AppModel.h"

#include "ApplyTestSupport.h"
#include "Quorvane/SimulatedControls.h"
#include "Quorvane/SimulatedSystemDisplayPreferences.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

namespace quorvane {
namespace {

using namespace apply_support;
using namespace std::chrono_literals;

TEST(ControlCommandTest, OutcomeDecidesStatusFailureAndConfirmation)
{
    struct Case {
        const char* what;
        ControlKey key;
        std::function<void(SettlingControls&)> arrange;
        std::string status;
    };
    const Case cases[] = {
        {"read back as written", brightness, [](SettlingControls&) {}, "Readback confirmed"},
        {"read back within 0.015", brightness,
            [](SettlingControls& c) { c.settlesAt[brightness] = percent(0.39); },
            "Readback confirmed"},
        {"read back further off", brightness,
            [](SettlingControls& c) { c.settlesAt[brightness] = percent(0.38); },
            "Requested 40%; reported 38%"},
        {"write refused", brightness,
            [](SettlingControls& c) { c.inner.writeFailures[brightness] = "No answer"; },
            "No answer"},
        {"read refused", brightness,
            [](SettlingControls& c) { c.inner.readFailures[brightness] = "No reply"; }, "No reply"},
        {"a display mode", hdr, [](SettlingControls&) {},
            "Invalid control command; display modes require the mode coordinator."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ApplyWorld w;
        c.arrange(w.controls);
        const SettingValue value = c.key == hdr ? SettingValue::toggle(true) : percent(0.4);
        const bool confirmed = c.status == "Readback confirmed";
        w.model->failed.set({{c.key, percent(0.9)}});

        w.model->scheduleApply(value, c.key, false);
        EXPECT_EQ(w.model->controlStatus->at(c.key), "Applying…");
        EXPECT_FALSE(w.model->failed->contains(c.key)) << "a new command clears the failure";
        w.settle();

        EXPECT_EQ(w.model->controlStatus->at(c.key), c.status);
        EXPECT_EQ(
            lookup(w.model->failed.get(), c.key), confirmed ? std::nullopt : std::optional(value));
        EXPECT_EQ(w.model->confirmedApplications->contains(c.key), confirmed);
        EXPECT_TRUE(w.model->tasks->empty() && w.model->applying->empty());
    }
}

TEST(ControlCommandTest, SupersededCommandRecordsNothing)
{
    ApplyWorld w;
    w.observe(brightness, percent(0.2));
    w.model->confirmedApplications.set(
        {{brightness, {.requested = percent(0.2), .observed = percent(0.2)}}});
    w.controls.inner.writeFailures[brightness] = "First write fails";
    w.model->scheduleApply(percent(0.4), brightness, false);
    w.executor().advance(15ms); // the first command is writing
    const TaskHandle first = w.model->tasks->at(brightness);
    const UUID firstID = w.model->commandIDs->at(brightness);

    w.model->scheduleApply(percent(0.6), brightness, false);
    EXPECT_NE(w.model->commandIDs->at(brightness), firstID);
    EXPECT_FALSE(w.model->observed->contains(brightness));
    EXPECT_FALSE(w.model->confirmedApplications->contains(brightness));
    EXPECT_EQ(w.model->lastWrite->at(brightness), w.executor().wallNow());
    w.executor().advance(7ms); // the first write has failed, unwanted
    EXPECT_TRUE(first.isFinished());
    w.controls.inner.writeFailures.clear();
    EXPECT_EQ(w.model->controlStatus->at(brightness), "Applying…");
    EXPECT_FALSE(w.model->failed->contains(brightness));
    EXPECT_EQ(w.model->applying->at(brightness), percent(0.6));

    w.settle();
    EXPECT_EQ(w.model->controlStatus->at(brightness), "Readback confirmed");
    EXPECT_EQ(w.model->observed->at(brightness), percent(0.6));
}

TEST(ControlCommandTest, CancelStopsTheRunningCommandOnly)
{
    ApplyWorld w;
    w.model->scheduleApply(percent(0.4), brightness, false);
    w.executor().advance(5ms);
    const UUID id = w.model->commandIDs->at(brightness);
    w.model->cancelCommand(brightness);
    w.settle();
    EXPECT_NE(w.model->commandIDs->at(brightness), id);
    EXPECT_EQ(w.model->controlStatus->at(brightness), "Applying…");
    EXPECT_TRUE(w.model->tasks->empty() && w.model->applying->empty());
    EXPECT_TRUE(w.controls.inner.writes.empty());
    EXPECT_EQ(w.model->lastWrite->at(brightness), w.executor().wallNow() - 2s);

    // Without a task, what was read stays.
    ApplyWorld idle;
    idle.observe(brightness, percent(0.3));
    idle.model->applying.set({{brightness, percent(0.3)}});
    const ControlApplyReport report{.requested = percent(0.3), .observed = percent(0.3)};
    idle.model->confirmedApplications.set({{brightness, report}});
    idle.model->cancelCommand(brightness);
    EXPECT_TRUE(idle.model->commandIDs->contains(brightness));
    EXPECT_FALSE(idle.model->applying->contains(brightness));
    EXPECT_EQ(idle.model->observed->at(brightness), percent(0.3));
    EXPECT_EQ(idle.model->confirmedApplications->at(brightness), report);
    EXPECT_FALSE(idle.model->lastWrite->contains(brightness));
}

TEST(ControlCommandTest, CancellationTheCommandDidNotAskForResolvesAgain)
{
    ApplyWorld w;
    w.setDefault(brightness, percent(0.5));
    w.controls.cancelNextRead.insert(brightness);
    w.model->resolveAndApply(false);
    const TaskHandle first = w.model->tasks->at(brightness);
    w.executor().advance(10ms); // the backend gives up on the first read

    ASSERT_TRUE(w.model->tasks->contains(brightness));
    EXPECT_FALSE(w.model->tasks->at(brightness) == first) << "a new command took over";
    w.settle();
    EXPECT_EQ(w.model->controlStatus->at(brightness), "Readback confirmed");
    EXPECT_EQ(w.controls.writes, 1);
}

TEST(ControlCommandTest, ManualCommandKeepsTheFirstOriginalOnly)
{
    struct Case {
        const char* what;
        std::optional<SettingValue> original;
        bool supersede;
        std::optional<SettingValue> kept;
        int reads;
    };
    const Case cases[] = {
        {"no original yet", std::nullopt, false, percent(0.2), 3},
        {"original already kept", percent(0.7), false, percent(0.7), 2},
        {"superseded during the read", std::nullopt, true, std::nullopt, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ApplyWorld w;
        if (c.original)
            w.model->manualOriginals.set({{brightness, *c.original}});
        w.model->scheduleApply(percent(0.4), brightness, true);
        w.executor().advance(5ms);
        if (c.supersede)
            w.model->cancelCommand(brightness);
        w.settle();
        EXPECT_EQ(lookup(w.model->manualOriginals.get(), brightness), c.kept);
        EXPECT_EQ(w.controls.inner.reads, c.reads);
    }
}

TEST(ControlCommandTest, OnlyAutomaticNativeOrDemoBrightnessIsEased)
{
    struct Case {
        const char* what;
        bool demo;
        ControlKey key;
        bool manual;
        bool smooth;
        std::optional<std::string> reason;
        bool liveEdit;
        int writes;
    };
    const Case cases[] = {
        {"demo brightness", true, brightness, false, true, std::nullopt, false, 12},
        {"manual", true, brightness, true, true, std::nullopt, false, 1},
        {"preference off", true, brightness, false, false, std::nullopt, false, 1},
        {"contrast", true, contrast, false, true, std::nullopt, false, 1},
        {"live rule preview", true, brightness, false, true, std::nullopt, true, 1},
        {"native", false, brightness, false, true, "Native display brightness", false, 12},
        {"DDC brightness", false, brightness, false, true, "DDC/CI", false, 1},
        {"no capability", false, brightness, false, true, std::nullopt, false, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ApplyWorld w(c.demo);
        w.model->configuration.modify([&](Configuration& d) { d.smoothTransitions = c.smooth; });
        w.model->hardwareSnapshot.modify([&](HardwareSnapshot& s) {
            if (c.reason)
                s.capabilities[c.key].reason = *c.reason;
            else
                s.capabilities.erase(c.key);
        });
        if (c.liveEdit) {
            w.model->liveRuleEdit.set(LiveRuleEdit{.id = UUID::random(),
                .profileID = UUID::random(),
                .ruleID = UUID::random(),
                .settings = {},
                .originals = {{c.key, percent(0.2)}}});
            w.model->liveRuleKeys.set({c.key});
        }
        w.model->manualOriginals.set({{c.key, percent(0.2)}});

        w.model->scheduleApply(percent(0.8), c.key, c.manual);
        w.settle();
        EXPECT_EQ(w.controls.writes, c.writes);
        EXPECT_EQ(w.model->controlStatus->at(c.key), "Readback confirmed");
    }
}

LiveRuleEdit previewOf(const UUID& id)
{
    return {.id = id, .profileID = UUID::random(), .ruleID = UUID::random(), .settings = {}};
}

TEST(ControlCommandTest, LivePreviewCommandIsBookedOnTheEdit)
{
    ApplyWorld w;
    w.model->liveRuleEdit.set(previewOf(UUID::random()));
    w.model->liveRuleKeys.set({brightness});
    w.model->scheduleApply(percent(0.4), brightness, false);
    w.model->scheduleApply(percent(0.6), brightness, false);
    w.settle();

    const LiveRuleEdit& edit = *w.model->liveRuleEdit.get();
    EXPECT_EQ(
        edit.requested.at(brightness), (std::vector<SettingValue>{percent(0.4), percent(0.6)}));
    EXPECT_EQ(edit.commands.size(), 2U);
    EXPECT_EQ(edit.originals.at(brightness), percent(0.2)) << "the value before the preview";
    EXPECT_EQ(w.controls.inner.values.at(brightness), percent(0.6));
}

TEST(ControlCommandTest, LivePreviewCommandAbandonedWithItsPreview)
{
    struct Case {
        const char* what;
        std::function<void(ApplyWorld&)> interrupt;
        int reads;
    };
    const Case cases[] = {
        {"another preview before it starts",
            [](ApplyWorld& w) { w.model->liveRuleEdit.set(previewOf(UUID::random())); }, 0},
        {"the preview ended before it starts",
            [](ApplyWorld& w) { w.model->liveRuleEdit.set(std::nullopt); }, 0},
        {"its task cancelled while reading the original",
            [](ApplyWorld& w) {
                w.executor().advance(5ms);
                w.model->liveRuleEdit->value().commands.front().cancel();
            },
            1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ApplyWorld w;
        w.model->liveRuleEdit.set(previewOf(UUID::random()));
        w.model->liveRuleKeys.set({brightness});
        w.model->scheduleApply(percent(0.4), brightness, false);
        c.interrupt(w);
        w.settle();

        EXPECT_EQ(w.controls.inner.reads, c.reads);
        EXPECT_EQ(w.controls.writes, 0);
        if (w.model->liveRuleEdit.get()) {
            EXPECT_TRUE(w.model->liveRuleEdit.get()->originals.empty());
        }
        EXPECT_EQ(w.model->controlStatus->at(brightness), "Applying…");
        EXPECT_TRUE(w.model->applying->contains(brightness)) << "left for the next command";
    }
}

TEST(ControlCommandTest, BuiltinBrightnessOutcomeReachesTheKeyQueue)
{
    struct Case {
        const char* what;
        ControlKey key;
        bool writeFails;
        bool forgotten;
    };
    const Case cases[] = {
        {"builtin write done", builtinBrightness, false, true},
        {"builtin write failed", builtinBrightness, true, true},
        {"another display", brightness, false, false},
        {"another display failed", brightness, true, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ApplyWorld w;
        if (c.writeFails)
            w.controls.inner.writeFailures[c.key] = "No reply";
        w.model->keyQueue.modify([](BrightnessKeyAdjustmentQueue& queue) {
            (void)queue.enqueue(BrightnessKeyDirection::up, BrightnessKeyStep::five);
            (void)queue.resolve(0.5);
        });
        w.model->scheduleApply(percent(*w.model->keyQueue->target()), c.key, false);
        w.settle();
        EXPECT_EQ(w.model->keyQueue->target().has_value(), !c.forgotten);
    }
}

TEST(ControlCommandTest, ReachedRecoveryIsDroppedOnlyWhenConfirmed)
{
    for (const bool confirmed : {true, false}) {
        SCOPED_TRACE(confirmed ? "confirmed" : "not confirmed");
        ApplyWorld w;
        if (!confirmed)
            w.controls.settlesAt[contrast] = percent(0.1);
        w.model->manualRecoveries.set({{contrast, percent(0.4)}});
        w.model->resolveAndApply(false);
        w.settle();
        EXPECT_EQ(w.model->manualRecoveries->contains(contrast), !confirmed);
    }
}

TEST(ControlCommandTest, BackendChoice)
{
    for (const bool demo : {true, false}) {
        for (const bool injected : {true, false}) {
            SCOPED_TRACE(std::string(demo ? "demo" : "hardware") + (injected ? ", injected" : ""));
            ModelWorld world;
            SlowControls controls;
            SlowSystemDisplay systemDisplay;
            AppModel::Options options{.simulation = demo};
            if (injected) {
                options.controlBackend = &controls;
                options.systemDisplayBackend = &systemDisplay;
            }
            const auto model = world.idleModel(std::move(options));
            ControlBackend* const control = &model->controlBackend();
            SystemDisplayBackend* const preferences = &model->systemDisplayBackend();
            EXPECT_EQ(control == &controls, injected);
            EXPECT_EQ(preferences == &systemDisplay, injected);
            EXPECT_EQ(control == &model->simulated(), demo && !injected);
            EXPECT_EQ(preferences == &model->simulatedSystemDisplay(), demo && !injected);
        }
    }
}

} // namespace
} // namespace quorvane
