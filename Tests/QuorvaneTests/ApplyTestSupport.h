// A loaded model with automation on over slow injected backends: one external display with
// brightness, contrast and HDR, and a built-in one; nothing runs until a test calls the model.
#pragma once

#include "AppModelTestSupport.h"
#include "Concurrency/Cancellation.h"
#include "SlowBackends.h"

#include <memory>
#include <set>
#include <string>

namespace quorvane::apply_support {

inline ControlKey keyOf(const std::string& displayID, SettingKey setting)
{
    return {.target = ControlTarget::display(displayID), .setting = setting};
}

inline const std::string externalID = "ext";
inline const std::string builtinID = "builtin";
inline const ControlKey brightness = keyOf(externalID, SettingKey::brightness);
inline const ControlKey contrast = keyOf(externalID, SettingKey::contrast);
inline const ControlKey hdr = keyOf(externalID, SettingKey::hdr);
inline const ControlKey builtinBrightness = keyOf(builtinID, SettingKey::brightness);
inline const ControlKey builtinContrast = keyOf(builtinID, SettingKey::contrast);

/// SlowControls whose reads can be made to report something else after a write, or to report
/// cancellation once, as a backend that gave up on its own would.
class SettlingControls final : public ControlBackend {
public:
    SlowControls inner;
    /// After a write, the control reports this instead of what was written.
    std::map<ControlKey, SettingValue> settlesAt;
    std::set<ControlKey> cancelNextRead;
    int writes = 0;

    Task<SettingValue> read(ControlKey key) override
    {
        if (cancelNextRead.erase(key) > 0) {
            co_await slow::transfer(inner.latency);
            throw CancellationError();
        }
        co_return co_await inner.read(key);
    }

    Task<void> write(SettingValue value, ControlKey key) override
    {
        ++writes;
        co_await inner.write(value, key);
        if (const auto settled = settlesAt.find(key); settled != settlesAt.end())
            inner.values.insert_or_assign(key, settled->second);
    }
};

struct ApplyWorld {
    ModelWorld world;
    SettlingControls controls;
    SlowSystemDisplay systemDisplay;
    std::shared_ptr<AppModel> model;

    explicit ApplyWorld(bool demo = false)
    {
        model = world.idleModel({.simulation = demo,
            .systemDisplayBackend = &systemDisplay,
            .controlBackend = &controls});
        Configuration document;
        document.automationEnabled = true;
        model->configuration.set(document);
        model->isLoaded.set(true);
        model->displays.set({DisplayDevice{.id = externalID},
            DisplayDevice{.id = builtinID, .isBuiltIn = true, .hasExtendedRange = true}});
        model->context.set({.displays = {{.id = externalID}, {.id = builtinID}}});
        HardwareSnapshot snapshot;
        for (const ControlKey& key : {brightness, contrast, hdr, builtinBrightness, builtinContrast})
            snapshot.capabilities[key] = {.available = true, .reason = "DDC/CI"};
        model->hardwareSnapshot.set(snapshot);
        // The display preferences are settled: nothing to write before the controls.
        model->lastSystemDisplayRequests.set(std::map<SystemDisplayControl, bool>{});
        for (const ControlKey& key : {brightness, contrast, builtinBrightness, builtinContrast})
            controls.inner.values[key] = SettingValue::percent(0.2);
    }

    [[nodiscard]] ManualExecutor& executor() { return world.executor; }

    void setDefault(const ControlKey& key, const SettingValue& value)
    {
        model->configuration.modify([&](Configuration& document) {
            DefaultSettings defaults = document.defaultSettings();
            defaults.setValue(value, key);
            document.setDefaultSettings(defaults);
        });
    }

    void observe(const ControlKey& key, const SettingValue& value)
    {
        model->observed.modify([&](auto& map) { map.insert_or_assign(key, value); });
    }

    /// Lets every started command run to its end.
    void settle() { world.executor.advance(std::chrono::seconds(2)); }
};

/// A task that waits until cancelled, to stand in for work the model only keeps a handle of.
inline Task<void> waitForever()
{
    co_await sleep(std::chrono::hours(1));
}

} // namespace quorvane::apply_support
