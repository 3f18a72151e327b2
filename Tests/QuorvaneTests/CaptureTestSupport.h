// A loaded, idle model on two external displays whose controls are read through slow backends:
// the world the capture and the manual-profile saves are tested in.
#pragma once

#include "AppModelTestSupport.h"
#include "SlowBackends.h"

#include <chrono>
#include <memory>
#include <string>

namespace quorvane {

inline ControlKey controlOf(const std::string& displayID, SettingKey setting)
{
    return {.target = ControlTarget::display(displayID), .setting = setting};
}

inline DisplayDevice externalDisplay(std::string id, std::string name)
{
    return {.id = std::move(id), .runtimeID = 2, .name = std::move(name)};
}

/// Displays "a" ("Studio") and "b" ("Side"): brightness, temperature, refresh rate and contrast
/// available on both, at 40 %, 6500 K, 60 Hz and 50 %; HDR not available. Current modes 60 Hz,
/// HDR off, 2560 × 1440. No hold; automation off.
struct CaptureWorld {
    ModelWorld world;
    SlowControls controls;
    SlowSystemDisplay systemDisplay;
    std::shared_ptr<AppModel> model;

    static constexpr DisplayResolution resolution{2560, 1440, 2560, 1440};

    CaptureWorld() { start({}); }

    /// Starts a model over the slow backends and sets up the displays; `options` may name the
    /// settings file. The polling is stopped, so only the test reads the controls.
    void start(AppModel::Options options)
    {
        options.systemDisplayBackend = &systemDisplay;
        options.controlBackend = &controls;
        model = world.startedModel(std::move(options));
        // Start-up reads the (empty) hardware on virtual time.
        for (int second = 0; second < 60 && !model->pollingTask.get(); ++second)
            world.executor.advance(std::chrono::seconds(1));
        if (const auto polling = model->pollingTask.get())
            polling->cancel();
        model->pollingTask.set(std::nullopt);
        model->displays.set({externalDisplay("a", "Studio"), externalDisplay("b", "Side")});
        model->context.set({.displays = {{.id = "a"}, {.id = "b"}}});
        HardwareSnapshot snapshot;
        for (const std::string id : {"a", "b"}) {
            for (const SettingKey setting : allSettingKeys)
                snapshot.capabilities.emplace(controlOf(id, setting),
                    ControlCapability{.available = setting != SettingKey::hdr});
            snapshot.currentModes.emplace(id,
                ModeConfiguration{.refreshRate = RefreshPreference::fixed(60'000),
                    .hdr = false,
                    .resolution = resolution});
            snapshot.environments.emplace(id, "env-" + id);
            controls.values.emplace(
                controlOf(id, SettingKey::brightness), SettingValue::percent(0.4));
            controls.values.emplace(controlOf(id, SettingKey::temperature),
                SettingValue::temperature(Temperature::kelvin(6500)));
            controls.values.emplace(controlOf(id, SettingKey::refreshRate),
                SettingValue::refresh(RefreshPreference::fixed(60'000)));
            controls.values.emplace(
                controlOf(id, SettingKey::contrast), SettingValue::percent(0.5));
        }
        model->hardwareSnapshot.set(std::move(snapshot));
        world.executor.runUntilIdle();
    }

    /// Holds the control at `value` until Resume, and sets the display to it.
    void hold(const ControlKey& key, const SettingValue& value)
    {
        model->holds.modify(
            [&](auto& holds) { holds.insert_or_assign(key, ManualHold{.value = value}); });
        controls.values.insert_or_assign(key, value);
    }

    /// Runs `task` on the world's executor, giving it a second of virtual time.
    template <typename T> TaskOutcome<T> run(Task<T> task)
    {
        TaskOutcome<T> outcome;
        spawn(world.executor, recordOutcome(std::move(task), outcome));
        world.executor.advance(std::chrono::seconds(1));
        return outcome;
    }
};

} // namespace quorvane

namespace quorvane {

/// The message of a ConfigurationError (Invalid) the task ended with; "done", "cancelled" or
/// "other: <text>" otherwise.
template <typename T> std::string refusalOf(const TaskOutcome<T>& outcome)
{
    if (!outcome.hasEnded())
        return "running";
    if (!outcome.exception)
        return "done";
    try {
        std::rethrow_exception(outcome.exception);
    } catch (const CancellationError&) {
        return "cancelled";
    } catch (const ConfigurationError& error) {
        if (const auto* invalid = std::get_if<ConfigurationError::Invalid>(&error.errorCase()))
            return invalid->message;
        return std::string("other: ") + error.what();
    } catch (const std::exception& error) {
        return std::string("other: ") + error.what();
    }
}

} // namespace quorvane
