// A loaded model with automation on over slow injected backends: one external display with
// brightness, contrast and HDR, and a built-in one; nothing runs until a test calls the model.
#pragma once

#include "AppModelTestSupport.h"
#include "Concurrency/Cancellation.h"
#include "SlowBackends.h"

#include <memory>
#include <optional>
#include <set>
#include <string>

namespace quorvane::apply_support {

inline ControlKey keyOf(const std::string& displayID, SettingKey setting)
{
    return {.target = ControlTarget::display(displayID), .setting = setting};
}

inline SettingValue percent(double value) { return SettingValue::percent(value); }

/// The entry under `key`, if any: one comparison covers presence and value.
template <class Map, class Key>
std::optional<typename Map::mapped_type> lookup(const Map& map, const Key& key)
{
    const auto found = map.find(key);
    return found == map.end() ? std::nullopt : std::optional(found->second);
}

/// The keys whose write task is not the one they had before.
inline std::set<ControlKey> startedSince(
    const std::map<ControlKey, TaskHandle>& after, const std::map<ControlKey, TaskHandle>& before = {})
{
    std::set<ControlKey> started;
    for (const auto& [key, task] : after)
        if (const auto old = lookup(before, key); !old || !(*old == task))
            started.insert(key);
    return started;
}

inline const std::string externalID = "ext";
inline const std::string builtinID = "builtin";
inline const ControlKey brightness = keyOf(externalID, SettingKey::brightness);
inline const ControlKey contrast = keyOf(externalID, SettingKey::contrast);
inline const ControlKey hdr = keyOf(externalID, SettingKey::hdr);
inline const ControlKey builtinBrightness = keyOf(builtinID, SettingKey::brightness);
inline const ControlKey builtinContrast = keyOf(builtinID, SettingKey::contrast);

/// SlowControls whose reads can report something else after a write, or report cancellation
/// once, as a backend that gave up on its own would.
class SettlingControls final : public ControlBackend {
public:
    SlowControls inner;
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
            controls.inner.values[key] = percent(0.2);
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

/// Stands in for work the model only keeps a handle of.
inline Task<void> waitForever() { co_await sleep(std::chrono::hours(1)); }

} // namespace quorvane::apply_support
