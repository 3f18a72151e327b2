// What the model's tasks do once the model has gone while they wait, and operations handed
// values that live in the model's own state. The crashes these guard against show under the
// sanitizers.
#include "Quorvane/AppModel.h"

#include "CaptureTestSupport.h"
#include "HoldsTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <utility>

namespace quorvane {
namespace {

using namespace std::chrono_literals;
using namespace holdsfixture;

template <typename T> Task<void> discard(Task<T> task) { (void)co_await std::move(task); }

TEST(LifetimeTest, TasksOutlivingTheModelReadAndWriteNothingMore)
{
    struct Case {
        const char* name;
        std::function<void(AppModel&)> start;
        // When the model goes: while the task sleeps inside the driver, no transfer in flight.
        std::chrono::milliseconds dropAfter;
    };
    const Case cases[] = {
        {"eased write between two steps",
            [](AppModel& m) {
                m.configuration.modify([](Configuration& d) { d.smoothTransitions = true; });
                m.hardwareSnapshot.modify([](HardwareSnapshot& s) {
                    s.capabilities[builtinBrightness].reason = "Native display brightness";
                });
                m.scheduleApply(percent(0.9), builtinBrightness, false);
            },
            30ms},
        {"manual write in its settle pause",
            [](AppModel& m) { m.manual(percent(0.2), externalContrast, false); }, 40ms},
        {"brightness-key read not started yet",
            [](AppModel& m) {
                m.keyQueue.set({}); // no known target: the press reads first
                ASSERT_TRUE(m.brightnessKeyPressed(BrightnessKeyDirection::up));
                ASSERT_TRUE(m.keyReadTask.get());
            },
            0ms},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        HoldsWorld w;
        auto model = w.loadedModel();
        c.start(*model);
        if (c.dropAfter > 0ms) // zero: before the task has run at all
            w.world.executor.advance(c.dropAfter);
        ASSERT_TRUE(!model->tasks->empty() || model->keyReadTask.get());
        const std::size_t writes = w.controls.writes.size();
        const int reads = w.controls.reads;

        model.reset();
        w.world.executor.advance(2s);
        EXPECT_EQ(w.controls.writes.size(), writes);
        EXPECT_EQ(w.controls.reads, reads);
    }
}

TEST(LifetimeTest, DemoTasksOutlivingTheModelTouchNothingItOwned)
{
    // The demo's backend and the driver were the model's own.
    const std::pair<const char*, std::function<void(AppModel&)>> cases[] = {
        {"sample rules' writes in flight", [](AppModel&) {}},
        {"command not started yet",
            [](AppModel& m) { m.scheduleApply(percent(0.3), *m.builtinBrightnessKey(), false); }},
        {"brightness-key read not started yet",
            [](AppModel& m) {
                m.configuration.modify([](Configuration& d) { d.brightnessKeysEnabled = true; });
                ASSERT_TRUE(m.brightnessKeyPressed(BrightnessKeyDirection::up));
                ASSERT_TRUE(m.keyReadTask.get());
            }},
    };
    for (const auto& [name, start] : cases) {
        SCOPED_TRACE(name);
        ModelWorld world;
        auto model = world.startedModel({.simulation = true});
        ASSERT_FALSE(model->tasks->empty());
        start(*model);
        const std::weak_ptr<AppModel> weakModel = model;
        model.reset();
        world.executor.advance(2s);
        EXPECT_TRUE(weakModel.expired());
    }
}

TEST(LifetimeTest, CaptureAndManualSavesKeepTheModelUntilTheyEnd)
{
    struct Case {
        const char* name;
        std::function<Task<void>(AppModel&)> operation;
        std::function<bool(const Configuration&)> saved;
    };
    const Case cases[] = {
        {"capture", [](AppModel& m) { return discard(m.captureCurrentProfileState(true)); },
            [](const Configuration&) { return true; }},
        {"update the active profile",
            [](AppModel& m) { return m.updateActiveProfileFromManualSettings(); },
            [](const Configuration& d) {
                const auto& displays = d.defaultSettings().displays;
                return displays.contains("a") && displays.at("a").brightness == 0.6;
            }},
        {"save as a new profile",
            [](AppModel& m) { return discard(m.saveCurrentStateAsProfile("Evening")); },
            [](const Configuration& d) {
                return std::ranges::any_of(
                    d.profiles, [](const Profile& p) { return p.name == "Evening"; });
            }},
    };
    for (const Case& c : cases) {
        for (const bool beforeItStarts : {true, false}) {
            SCOPED_TRACE(std::string(c.name) + (beforeItStarts ? ", dropped before" : ", during"));
            CaptureWorld w;
            w.hold(controlOf("a", SettingKey::brightness), SettingValue::percent(0.6));
            const std::weak_ptr<AppModel> weakModel = w.model;
            TaskOutcome<void> outcome;
            Task<void> operation = c.operation(*w.model);
            if (beforeItStarts)
                w.model.reset();
            spawn(w.world.executor, recordOutcome(std::move(operation), outcome));
            w.world.executor.advance(5ms); // inside the first read
            w.model.reset();
            w.world.executor.advance(1s);

            EXPECT_EQ(outcome.summary(), "done");
            EXPECT_TRUE(weakModel.expired()) << "released once the operation ended";
            EXPECT_TRUE(c.saved(configurationIn(w.world.defaultSettingsFile())));
        }
    }
}

TEST(LifetimeTest, OperationsTakeIdsAndValuesFromTheModelsOwnState)
{
    // Each operation replaces the map or document its argument lives in, then reads it again.
    struct Case {
        const char* name;
        std::function<void(AppModel&)> call;
        std::function<bool(const AppModel&)> done;
    };
    const Case cases[] = {
        {"rename a remembered screen",
            [](AppModel& m) {
                m.configuration.modify([](Configuration& d) {
                    d.knownDisplays.push_back({.id = "c", .name = "Old"});
                });
                m.renameDisplay(m.configuration->knownDisplays.back().id, "New");
            },
            [](const AppModel& m) {
                return m.configuration->displayNames
                    && m.configuration->displayNames->at("c") == "New";
            }},
        {"cancel a running command",
            [](AppModel& m) {
                m.manual(percent(0.2), externalContrast, false);
                m.cancelCommand(m.tasks->begin()->first);
            },
            [](const AppModel& m) { return !m.tasks->contains(externalContrast); }},
        {"apply the value being applied again",
            [](AppModel& m) {
                m.manual(percent(0.2), externalContrast, false);
                m.scheduleApply(m.applying->at(externalContrast), externalContrast, false);
            },
            [](const AppModel& m) { return m.applying->at(externalContrast) == percent(0.2); }},
        {"hold the held value again",
            [](AppModel& m) {
                m.manual(percent(0.2), externalContrast, false);
                m.manual(m.holds->at(externalContrast).value, externalContrast, false);
            },
            [](const AppModel& m) { return m.applying->at(externalContrast) == percent(0.2); }},
        {"observe a known control",
            [](AppModel& m) {
                m.observed.set({{externalContrast, percent(0.5)}});
                m.observe(percent(0.9), m.observed->begin()->first, true, true);
            },
            [](const AppModel& m) { return m.holds->at(externalContrast).isExternal; }},
        {"cancel an idle display's mode command",
            [](AppModel& m) {
                const std::string id = externalContrast.target.id();
                m.modeRequests.set({{id, ModeConfiguration{.hdr = true}}});
                m.modeIDs.set({{id, UUID::random()}});
                m.cancelModeCommand(m.modeRequests->begin()->first);
            },
            [](const AppModel& m) { return m.modeRequests->empty() && m.modeIDs->empty(); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        HoldsWorld w;
        const auto model = w.loadedModel();
        c.call(*model);
        EXPECT_TRUE(c.done(*model));
    }
}

} // namespace
} // namespace quorvane
