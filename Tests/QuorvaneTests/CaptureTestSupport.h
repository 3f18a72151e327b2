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

/// Displays "a" ("Studio") and "b" ("Side"): every control but HDR available, at 40 %, 6500 K,
/// 60 Hz and 50 %. Current modes 60 Hz, HDR off, 2560 × 1440. No hold; no polling.
struct CaptureWorld {
    ModelWorld world;
    SlowControls controls;
    SlowSystemDisplay systemDisplay;
    std::shared_ptr<AppModel> model;

    static constexpr DisplayResolution resolution{2560, 1440, 2560, 1440};

    CaptureWorld() { start({}); }

    void start(AppModel::Options options)
    {
        options.systemDisplayBackend = &systemDisplay;
        options.controlBackend = &controls;
        model = world.startedModel(std::move(options));
        for (int second = 0; second < 60 && !model->pollingTask.get(); ++second)
            world.executor.advance(std::chrono::seconds(1));
        if (const auto polling = model->pollingTask.get())
            polling->cancel();
        model->pollingTask.set(std::nullopt);
        model->displays.set({{.id = "a", .runtimeID = 2, .name = "Studio"},
            {.id = "b", .runtimeID = 2, .name = "Side"}});
        model->context.set({.displays = {{.id = "a"}, {.id = "b"}}});
        const std::pair<SettingKey, SettingValue> values[]
            = {{SettingKey::brightness, SettingValue::percent(0.4)},
                {SettingKey::temperature, SettingValue::temperature(Temperature::kelvin(6500))},
                {SettingKey::refreshRate, SettingValue::refresh(RefreshPreference::fixed(60'000))},
                {SettingKey::contrast, SettingValue::percent(0.5)}};
        HardwareSnapshot snapshot;
        for (const std::string id : {"a", "b"}) {
            for (const SettingKey setting : allSettingKeys)
                snapshot.capabilities[controlOf(id, setting)].available
                    = setting != SettingKey::hdr;
            snapshot.currentModes[id] = {.refreshRate = RefreshPreference::fixed(60'000),
                .hdr = false,
                .resolution = resolution};
            snapshot.environments[id] = "env-" + id;
            for (const auto& [setting, value] : values)
                controls.values.insert_or_assign(controlOf(id, setting), value);
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

    /// Runs `task`, giving it a second of virtual time.
    template <typename T> TaskOutcome<T> run(Task<T> task)
    {
        TaskOutcome<T> outcome;
        spawn(world.executor, recordOutcome(std::move(task), outcome));
        world.executor.advance(std::chrono::seconds(1));
        return outcome;
    }
};

/// The message of the Invalid ConfigurationError the task ended with; "done", "running",
/// "cancelled" or "other: <text>" otherwise. Any other error escapes and fails the test.
template <typename T> std::string refusalOf(const TaskOutcome<T>& outcome)
{
    if (!outcome.hasEnded() || !outcome.exception)
        return outcome.hasEnded() ? "done" : "running";
    try {
        std::rethrow_exception(outcome.exception);
    } catch (const CancellationError&) {
        return "cancelled";
    } catch (const ConfigurationError& error) {
        const auto* invalid = std::get_if<ConfigurationError::Invalid>(&error.errorCase());
        return invalid ? invalid->message : std::string("other: ") + error.what();
    }
}

} // namespace quorvane
