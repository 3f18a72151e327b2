// A loaded model over a built-in screen and an external monitor whose controls answer slowly,
// for the tests of holds, read-backs and brightness keys.
#pragma once

#include "AppModelTestSupport.h"
#include "SlowBackends.h"

#include <memory>
#include <optional>
#include <string>

// Apart from the other fixtures' names: inline variables of the same name would be one variable.
namespace quorvane::holdsfixture {

inline const std::string builtinID = "0c1a2b3c-0000-4000-8000-00000000000b";
inline const std::string externalID = "0c1a2b3c-0000-4000-8000-00000000000e";

[[nodiscard]] inline ControlKey keyOf(const std::string& displayID, SettingKey setting)
{
    return ControlKey{.target = ControlTarget::display(displayID), .setting = setting};
}

inline const ControlKey builtinBrightness = keyOf(builtinID, SettingKey::brightness);
inline const ControlKey builtinTemperature = keyOf(builtinID, SettingKey::temperature);
inline const ControlKey builtinContrast = keyOf(builtinID, SettingKey::contrast);
inline const ControlKey externalBrightness = keyOf(externalID, SettingKey::brightness);
inline const ControlKey externalTemperature = keyOf(externalID, SettingKey::temperature);
inline const ControlKey externalContrast = keyOf(externalID, SettingKey::contrast);

[[nodiscard]] inline SettingValue percent(double value) { return SettingValue::percent(value); }
[[nodiscard]] inline SettingValue kelvin(std::int64_t value)
{
    return SettingValue::temperature(Temperature::kelvin(value));
}

/// Both screens, every control available except the modes.
[[nodiscard]] inline DiscoveredHardware holdsHardware()
{
    DiscoveredHardware hardware{
        .displays = {DisplayDevice{.id = builtinID, .name = "Built-in", .isBuiltIn = true},
            DisplayDevice{.id = externalID, .name = "Monitor", .isBuiltIn = false}},
        .snapshot = {}};
    for (const std::string& displayID : {builtinID, externalID}) {
        for (const SettingKey setting : allSettingKeys)
            hardware.snapshot.capabilities.insert_or_assign(
                keyOf(displayID, setting), ControlCapability{.available = !isMode(setting)});
    }
    return hardware;
}

/// The backends outlive the model: they are declared before the world that owns the executor.
struct HoldsWorld {
    SlowControls controls;
    SlowSystemDisplay systemDisplay;
    ModelWorld world;
    std::optional<ContinuousClock::time_point> pollingStarted;

    HoldsWorld()
    {
        controls.values = {{builtinBrightness, percent(0.40)}, {builtinTemperature, kelvin(6500)},
            {builtinContrast, percent(0.5)}, {externalBrightness, percent(0.7)},
            {externalTemperature, kelvin(6500)}, {externalContrast, percent(0.5)}};
    }

    [[nodiscard]] AppModel::Options options()
    {
        return {.systemDisplayBackend = &systemDisplay,
            .controlBackend = &controls,
            .hardwareDiscovery = []() -> Task<DiscoveredHardware> { co_return holdsHardware(); }};
    }

    /// Started with instant backends, so that start-up ends at once and the polling ticks fall
    /// on whole seconds after `pollingStarted`; then both screens are known and automation and
    /// brightness keys are on. The backends are slow again unless `instant`.
    [[nodiscard]] std::shared_ptr<AppModel> loadedModel(bool instant = false)
    {
        const auto slowLatency = controls.latency;
        controls.latency = systemDisplay.latency = std::chrono::milliseconds(0);
        AppModel::Options started = options();
        started.startAutomatically = true;
        auto model = AppModel::create(world.environment(), std::move(started));
        const Subscription subscription
            = model->pollingTask.observe([&] { pollingStarted = world.executor.now(); });
        world.executor.runUntilIdle();
        EXPECT_TRUE(model->isLoaded.get() && pollingStarted) << "start-up did not end at once";
        const DiscoveredHardware hardware = holdsHardware();
        model->displays.set(hardware.displays);
        model->hardwareSnapshot.set(hardware.snapshot);
        model->configuration.modify([](Configuration& document) {
            document.automationEnabled = document.brightnessKeysEnabled = true;
        });
        // Lets the first automatic pass settle, display preferences included.
        model->resolveAndApply(false);
        world.executor.advance(std::chrono::milliseconds(100));
        if (!instant)
            controls.latency = systemDisplay.latency = slowLatency;
        return model;
    }
};

} // namespace quorvane::holdsfixture
