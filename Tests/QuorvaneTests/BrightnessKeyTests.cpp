#include "Quorvane/AppModel.h"

#include "HoldsTestSupport.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace quorvane {
namespace {

using namespace std::chrono_literals;
using namespace holdsfixture;

constexpr auto up = BrightnessKeyDirection::up;
constexpr auto down = BrightnessKeyDirection::down;

Task<void> waitedContextRun() { co_return; }

std::vector<SettingValue> writesOf(const SlowControls& controls, const ControlKey& key)
{
    std::vector<SettingValue> values;
    for (const auto& [written, value] : controls.writes) {
        if (written == key)
            values.push_back(value);
    }
    return values;
}

TEST(BrightnessKeyTest, BurstReadsOnceAndWritesTheFoldedTarget)
{
    HoldsWorld holdsWorld;
    const auto model = holdsWorld.loadedModel();

    const int readsBefore = holdsWorld.controls.reads;
    ASSERT_TRUE(model->scheduler().schedule(RuntimeContext{.appBundleID = "com.example.other"},
        300, true, [] { return waitedContextRun(); }));
    EXPECT_TRUE(model->brightnessKeyPressed(up));
    EXPECT_FALSE(model->scheduler().isWaiting()) << "a burst holds automatic work back";
    holdsWorld.world.executor.advance(5ms);
    EXPECT_TRUE(model->brightnessKeyPressed(up));
    EXPECT_TRUE(model->brightnessKeyPressed(up));
    EXPECT_TRUE(model->keyReadTask.get());
    EXPECT_EQ(holdsWorld.controls.reads, readsBefore + 1);
    holdsWorld.world.executor.advance(5ms);

    EXPECT_FALSE(model->keyReadTask.get());
    ASSERT_TRUE(model->holds->contains(builtinBrightness));
    EXPECT_EQ(model->holds->at(builtinBrightness).value, SettingValue::percent(0.55));
    EXPECT_EQ(model->keyQueue->target(), 0.55);
    holdsWorld.world.executor.advance(1s);
    EXPECT_EQ(writesOf(holdsWorld.controls, builtinBrightness),
        std::vector<SettingValue>{SettingValue::percent(0.55)});
}

TEST(BrightnessKeyTest, KnownTargetMovesAtOnceWithinTheRange)
{
    struct Case {
        double target;
        BrightnessKeyDirection direction;
        double held;
    };
    const Case cases[] = {{0.98, up, 1.0}, {0.02, down, 0.0}, {0.5, down, 0.45}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.target);
        HoldsWorld holdsWorld;
        const auto model = holdsWorld.loadedModel();
        model->keyQueue.modify([&](BrightnessKeyAdjustmentQueue& queue) {
            (void)queue.enqueue(up, BrightnessKeyStep::one);
            (void)queue.resolve(c.target - 0.01);
        });

        EXPECT_TRUE(model->brightnessKeyPressed(c.direction));

        EXPECT_FALSE(model->keyReadTask.get());
        EXPECT_NEAR(std::get<SettingValue::Percent>(model->holds->at(builtinBrightness).value.value)
                        .value,
            c.held, 1e-9);
    }
}

TEST(BrightnessKeyTest, PressThatCannotBeServedPassesToTheSystem)
{
    const std::pair<const char*, std::function<void(AppModel&)>> cases[] = {
        {"not loaded", [](AppModel& m) { m.isLoaded.set(false); }},
        {"settings error", [](AppModel& m) { m.settingsError.set("Broken"); }},
        {"interception off",
            [](AppModel& m) {
                m.configuration.modify([](Configuration& d) { d.brightnessKeysEnabled = false; });
            }},
        {"suspended", [](AppModel& m) { m.isSuspended.set(true); }},
        {"display test", [](AppModel& m) { m.preview.set(DisplayPreview{.id = UUID::random()}); }},
        {"no built-in display", [](AppModel& m) { m.displays.set({holdsHardware().displays[1]}); }},
        {"mode change", [](AppModel& m) { m.modeBusy.set({builtinID}); }},
        {"brightness unavailable",
            [](AppModel& m) {
                m.hardwareSnapshot.modify(
                    [](HardwareSnapshot& s) { s.capabilities[builtinBrightness].available = false; });
            }},
        {"no capability",
            [](AppModel& m) {
                m.hardwareSnapshot.modify(
                    [](HardwareSnapshot& s) { s.capabilities.erase(builtinBrightness); });
            }},
        {"failed", [](AppModel& m) { m.failed.set({{builtinBrightness, SettingValue::percent(0.4)}}); }},
    };
    for (const auto& [what, arrange] : cases) {
        SCOPED_TRACE(what);
        HoldsWorld holdsWorld;
        const auto model = holdsWorld.loadedModel();
        arrange(*model);

        EXPECT_FALSE(model->brightnessKeyPressed(up));
        holdsWorld.world.executor.advance(1s);
        EXPECT_TRUE(model->keyQueue->pending().empty());
        EXPECT_EQ(holdsWorld.controls.reads, 0);
    }
}

TEST(BrightnessKeyTest, InterruptedOrFailedReadEndsTheBurst)
{
    struct Case {
        const char* what;
        std::function<void(AppModel&, HoldsWorld&)> duringRead;
        std::optional<std::string> status{};
    };
    const Case cases[] = {
        {"suspended", [](AppModel& m, HoldsWorld&) { m.isSuspended.set(true); }},
        {"display test",
            [](AppModel& m, HoldsWorld&) { m.preview.set(DisplayPreview{.id = UUID::random()}); }},
        {"built-in display gone",
            [](AppModel& m, HoldsWorld&) { m.displays.set({holdsHardware().displays[1]}); }},
        {"mode change", [](AppModel& m, HoldsWorld&) { m.modeBusy.set({builtinID}); }},
        {"slider moved",
            [](AppModel& m, HoldsWorld&) {
                m.manual(SettingValue::percent(0.7), builtinContrast, false);
            }},
        {"read fails",
            [](AppModel&, HoldsWorld& w) { w.controls.readFailures[builtinBrightness] = "No reply"; },
            "No reply"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        HoldsWorld holdsWorld;
        const auto model = holdsWorld.loadedModel();
        model->observed.set({{builtinBrightness, SettingValue::percent(0.35)}});
        ASSERT_TRUE(model->brightnessKeyPressed(up));
        ASSERT_TRUE(model->brightnessKeyPressed(up));
        holdsWorld.world.executor.advance(5ms);
        c.duringRead(*model, holdsWorld);
        holdsWorld.world.executor.advance(10ms);

        EXPECT_FALSE(model->keyReadTask.get());
        EXPECT_TRUE(model->keyQueue->pending().empty());
        EXPECT_FALSE(model->keyQueue->target());
        EXPECT_FALSE(model->holds->contains(builtinBrightness));
        EXPECT_EQ(model->failed->contains(builtinBrightness), c.status.has_value());
        if (!c.status)
            continue;
        EXPECT_EQ(model->controlStatus->at(builtinBrightness), *c.status);
        EXPECT_EQ(model->failed->at(builtinBrightness), SettingValue::percent(0.35));
        EXPECT_FALSE(model->brightnessKeyPressed(up)) << "a failed key passes to the system";
    }
}

TEST(BrightnessKeyTest, StatusFollowsThePreferenceTheScreenAndThePermission)
{
    struct Case {
        const char* what;
        bool enabled = true;
        bool builtinPresent = true;
        bool trusted = true;
        bool demo = false;
        bool suspended = false;
        BrightnessKeyStatus status;
    };
    const Case cases[] = {
        {.what = "intercepting", .status = BrightnessKeyStatus::active},
        {.what = "no permission", .trusted = false, .status = BrightnessKeyStatus::needsPermission},
        {.what = "suspended", .suspended = true, .status = BrightnessKeyStatus::unavailable},
        {.what = "no built-in screen", .builtinPresent = false,
            .status = BrightnessKeyStatus::unavailable},
        {.what = "switched off", .enabled = false, .status = BrightnessKeyStatus::off},
        {.what = "demo", .demo = true, .status = BrightnessKeyStatus::off},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        HoldsWorld holdsWorld;
        holdsWorld.world.mac.accessibility.trusted = c.trusted;
        AppModel::Options options = holdsWorld.options();
        options.simulation = c.demo;
        const auto model = holdsWorld.world.idleModel(std::move(options));
        model->isLoaded.set(true);
        model->isSuspended.set(c.suspended);
        model->hardwareSnapshot.set(holdsHardware().snapshot);
        if (c.builtinPresent)
            model->displays.set(holdsHardware().displays);
        model->configuration.modify([&](Configuration& d) { d.brightnessKeysEnabled = c.enabled; });
        model->keyQueue.modify([](BrightnessKeyAdjustmentQueue& queue) {
            (void)queue.enqueue(up, BrightnessKeyStep::five);
        });

        model->updateBrightnessKeys();

        EXPECT_EQ(model->brightnessKeyStatus.get(), c.status);
        EXPECT_EQ(model->brightnessKeys().status() == BrightnessKeyStatus::active,
            c.status == BrightnessKeyStatus::active);
        EXPECT_EQ(model->keyQueue->pending().empty(), !c.enabled);
    }
}

} // namespace
} // namespace quorvane
