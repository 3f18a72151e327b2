#include "Quorvane/AppModel.h"
#include "Quorvane/MapKeys.h"

#include "Concurrency/Cancellation.h"
#include "Concurrency/Executor.h"
#include "Concurrency/Sleep.h"
#include "Foundation/Error.h"
#include "QuorvaneMac/FocusedWindowProvider.h"

#include <langinfo.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <ctime>
#include <string_view>
#include <utility>

namespace quorvane {
namespace {

using namespace std::chrono_literals;

constexpr std::chrono::seconds pollInterval{1};
constexpr int ticksPerReadBack = 3;
// Percentages closer than this to the last read-back are noise, not someone else's change.
constexpr double externalChangeTolerance = 0.025;
// Our own write may still be settling on the display this long after it was sent.
constexpr std::chrono::milliseconds ownWriteSettling{1500};
constexpr double confirmationTolerance = 0.000001;
constexpr double unknownSliderValue = 0.5;
constexpr std::string_view changedOutside = "Changed outside QuorVane";

template <typename Value>
std::optional<Value> lookup(const std::map<ControlKey, Value>& map, const ControlKey& key)
{
    if (const auto found = map.find(key); found != map.end())
        return found->second;
    return std::nullopt;
}

template <typename Value>
void storeOrRemove(Observable<std::map<ControlKey, Value>>& field, const ControlKey& key,
    std::optional<Value> value)
{
    field.modify([&](std::map<ControlKey, Value>& map) {
        if (value)
            map.insert_or_assign(key, std::move(*value));
        else
            map.erase(key);
    });
}

template <typename Value>
void removeKey(Observable<std::map<ControlKey, Value>>& field, const ControlKey& key)
{
    field.modify([&](std::map<ControlKey, Value>& map) { map.erase(key); });
}

double sliderValue(const SettingValue& value)
{
    if (const auto* percent = std::get_if<SettingValue::Percent>(&value.value))
        return percent->value;
    return unknownSliderValue;
}

/// The locale's time format without its seconds: "%H:%M:%S" becomes "%H:%M", "%I:%M:%S %p"
/// becomes "%I:%M %p".
std::string shortTimeFormat()
{
    std::string format = nl_langinfo(T_FMT);
    if (format.empty() || format == "%r")
        format = nl_langinfo(T_FMT_AMPM);
    if (format.empty())
        format = "%H:%M:%S";
    const auto expand = [&](std::string_view shorthand, std::string_view full) {
        for (auto at = format.find(shorthand); at != std::string::npos; at = format.find(shorthand))
            format.replace(at, shorthand.size(), full);
    };
    expand("%T", "%H:%M:%S");
    expand("%r", "%I:%M:%S %p");
    const auto seconds = format.find("%S");
    if (seconds == std::string::npos)
        return format;
    // The separator in front of the seconds goes with them.
    const bool separated = seconds > 0
        && std::string_view(":., ").find(format[seconds - 1]) != std::string_view::npos;
    const std::size_t start = separated ? seconds - 1 : seconds;
    format.erase(start, seconds + 2 - start);
    return format;
}

/// Hours and minutes in the user's locale and time zone, without the date.
std::string shortTime(Date time)
{
    const std::time_t seconds = std::chrono::system_clock::to_time_t(time);
    std::tm local{};
    localtime_r(&seconds, &local);
    std::array<char, 64> text{};
    const std::size_t length
        = std::strftime(text.data(), text.size(), shortTimeFormat().c_str(), &local);
    return std::string(text.data(), length);
}

} // namespace

Task<void> AppModel::poll(std::weak_ptr<AppModel> weakModel)
{
    std::int64_t tick = 0;
    while (true) {
        co_await sleep(pollInterval); // a cancelled sleep ends the task
        const auto model = weakModel.lock();
        if (!model)
            co_return;
        model->dropExpiredHolds();
        ++tick;
        // The next sleep starts only once the read-back is over, so passes never overlap.
        if (tick % ticksPerReadBack == 0)
            co_await model->observeHardware();
        if (isCancelled())
            co_return;
    }
}

void AppModel::dropExpiredHolds()
{
    const Date time = m_executor.wallNow();
    now.set(time);
    const std::size_t heldBefore = holds->size();
    holds.modify([&](std::map<ControlKey, ManualHold>& held) {
        std::erase_if(held, [&](const auto& entry) { return !entry.second.isActive(time); });
    });
    manualOriginals.modify([&](std::map<ControlKey, SettingValue>& originals) {
        std::erase_if(originals, [&](const auto& entry) { return !holds->contains(entry.first); });
    });
    if (holds->size() != heldBefore)
        resolveAndApply(false);
}

void AppModel::endUnofferedHolds()
{
    const auto isUnoffered = [&](const ControlKey& key, const ManualHold& hold) {
        const auto capability = hardwareSnapshot->capabilities.find(key);
        return capability != hardwareSnapshot->capabilities.end() && capability->second.available
            && !modeBusy->contains(key.target.id())
            && capability->second.rejection(hold.value, key.setting);
    };
    for (const auto& [key, hold] : std::map(holds.get())) {
        if (isUnoffered(key, hold))
            forgetHold(key);
    }
}

void AppModel::forgetHold(const ControlKey& key)
{
    removeKey(holds, key);
    removeKey(manualOriginals, key);
    removeKey(manualRecoveries, key);
}

bool AppModel::hasHoldInForce(const ControlKey& key) const
{
    const auto hold = holds->find(key);
    return hold != holds->end() && hold->second.isActive(m_executor.wallNow());
}

std::vector<ControlKey> AppModel::readBackKeys() const
{
    const std::optional<ControlKey> builtin = builtinBrightnessKey();
    const auto isConnected = [&](const std::string& displayID) {
        return std::ranges::any_of(
            displays.get(), [&](const DisplayDevice& display) { return display.id == displayID; });
    };
    const auto isBuiltIn = [&](const std::string& displayID) {
        return std::ranges::any_of(displays.get(), [&](const DisplayDevice& display) {
            return display.id == displayID && display.isBuiltIn;
        });
    };
    // DDC brightness and contrast of external monitors are slow and wear them out; modes are
    // read by the hardware refresh.
    const auto isReadBack = [&](const ControlKey& key) {
        const std::string& displayID = key.target.id();
        if (builtin && builtin->target == key.target)
            return key.setting == SettingKey::brightness || key.setting == SettingKey::temperature
                || key.setting == SettingKey::contrast;
        if (key.setting == SettingKey::contrast)
            return isBuiltIn(displayID);
        return key.setting == SettingKey::temperature;
    };
    std::vector<ControlKey> keys;
    for (const auto& [key, capability] : hardwareSnapshot->capabilities) {
        if (capability.available && isConnected(key.target.id()) && isReadBack(key))
            keys.push_back(key);
    }
    return keys;
}

bool AppModel::isReadBackBlocked(const ControlKey& key) const
{
    return applying->contains(key) || ruleEditRestorations->contains(key)
        || modeBusy->contains(key.target.id());
}

Task<void> AppModel::observeHardware()
{
    if (!isLoaded.get() || isSuspended.get())
        co_return;
    // The caller may drop its reference while a read is out.
    const auto self = shared_from_this();
    if (!systemDisplayApplying.get())
        co_await refreshSystemDisplayPreferences(true);
    updateBrightnessKeys();
    if (!isDemo && m_focus->isTrusted() != hasWindowAccess.get())
        contextChanged();

    for (const ControlKey& key : readBackKeys()) {
        if (isReadBackBlocked(key))
            continue;
        if (isSuspended.get() || isCancelled())
            co_return;
        const std::optional<UUID> commandID = lookup(commandIDs.get(), key);
        std::optional<SettingValue> value;
        try {
            value = co_await controlBackend().read(key);
        } catch (const Error&) {
            // A failed read, or one cut short, only skips this key; the next key's check above
            // ends the pass when it was cancelled.
            continue;
        }
        // A write that started or ended meanwhile makes this value stale.
        if (lookup(commandIDs.get(), key) != commandID || isReadBackBlocked(key)
            || isSuspended.get() || isCancelled())
            continue;
        observe(*value, key, true, false);
    }
    resolveAndApply(false);
}

void AppModel::observe(
    SettingValue value, ControlKey key, bool detectExternal, bool confirmedExternal)
{
    const std::optional<SettingValue> previous = lookup(observed.get(), key);
    const bool changed = previous && !previous->approximatelyEquals(value, externalChangeTolerance);
    const bool owned
        = key.setting == SettingKey::brightness && automaticBrightnessOwns(key.target.id());
    const bool isApplying = applying->contains(key);
    const std::optional<Date> written = lookup(lastWrite.get(), key);
    const bool longAfterOwnWrite = !written || m_executor.wallNow() - *written > ownWriteSettling;
    const bool external = detectExternal && !owned && configuration->automationEnabled
        && !isApplying && !modeBusy->contains(key.target.id())
        && (confirmedExternal || (changed && longAfterOwnWrite));

    const std::optional<ControlApplyReport> confirmation = lookup(confirmedApplications.get(), key);
    if (confirmation && !confirmation->observed.approximatelyEquals(value, confirmationTolerance))
        removeKey(confirmedApplications, key);
    if (external)
        rememberManualOriginal(previous, key);
    storeOrRemove(observed, key, std::optional(value));
    if (owned && changed && !isApplying) {
        // Automatic brightness took the control over: the hold lapses without a recovery.
        forgetHold(key);
    }
    if (external) {
        storeOrRemove(holds, key, std::optional(makeHold(value, true)));
        storeOrRemove(controlStatus, key, std::optional(std::string(changedOutside)));
    }
}

void AppModel::rememberManualOriginal(std::optional<SettingValue> original, ControlKey key)
{
    // A running hold keeps the original from before it began.
    if (!hasHoldInForce(key))
        storeOrRemove(manualOriginals, key, original);
    removeKey(manualRecoveries, key);
}

ManualHold AppModel::makeHold(const SettingValue& value, bool external) const
{
    ManualHold hold{.value = value, .isExternal = external};
    if (configuration->holdMinutes != 0)
        hold.expiresAt = m_executor.wallNow() + std::chrono::minutes(configuration->holdMinutes);
    return hold;
}

void AppModel::releaseManualHolds(std::optional<ControlKey> key)
{
    const std::vector<ControlKey> keys = key ? std::vector<ControlKey>{*key} : keysOf(holds.get());
    for (const ControlKey& released : keys) {
        if (holds->contains(released))
            storeOrRemove(manualRecoveries, released, lookup(manualOriginals.get(), released));
        removeKey(manualOriginals, released);
        removeKey(holds, released);
        cancelCommand(released);
    }
}

void AppModel::manual(SettingValue value, ControlKey key, bool fromKey)
{
    if (!isLoaded.get() || settingsError.get() || isSuspended.get() || preview.get())
        return;
    if (isMode(key.setting) || modeBusy->contains(key.target.id()))
        return;
    const auto capability = hardwareSnapshot->capabilities.find(key);
    if (capability != hardwareSnapshot->capabilities.end()
        && capability->second.rejection(value, key.setting))
        return;
    if (!fromKey)
        cancelKeyRead();
    cancelRuleEditRestoration(key);
    // The manual write reads the control first and keeps that value as the original.
    rememberManualOriginal(std::nullopt, key);
    storeOrRemove(holds, key, std::optional(makeHold(value, false)));
    scheduleApply(value, key, true);
    resolveAndApply(false);
}

void AppModel::resume(std::optional<ControlKey> key)
{
    if (!key || key == builtinBrightnessKey())
        cancelKeyRead();
    m_scheduler.cancel();
    releaseManualHolds(key);
    if (!key)
        queueProfileResolutions(std::nullopt);
    // Before loading, the document is still the default one: switching automation on and saving
    // it would write that default over the user's file.
    if (isLoaded.get())
        configuration.modify([](Configuration& document) { document.automationEnabled = true; });
    failed.set({});
    failedModes.set({});
    if (isLoaded.get())
        persist();
    refreshContext();
    resolveAndApply(true);
    previewManualModeRecovery();
}

void AppModel::setAutomation(bool enabled)
{
    if (!isLoaded.get() || settingsError.get() || preview.get())
        return;
    cancelKeyRead();
    m_scheduler.cancel();
    configuration.modify([&](Configuration& document) { document.automationEnabled = enabled; });
    if (enabled) {
        releaseManualHolds(std::nullopt);
        failed.set({});
        failedModes.set({});
        queueProfileResolutions(std::nullopt);
        refreshContext();
    } else {
        invalidateSystemDisplayRequest();
        m_scheduler.cancel();
        // Holds stay in force, so their writes must finish: a cancelled one would leave the
        // display between two values while it shows the hold.
        for (const ControlKey& key : keysOf(tasks.get())) {
            if (!hasHoldInForce(key))
                cancelCommand(key);
        }
        for (const std::string& displayID : keysOf(modeTasks.get()))
            cancelModeCommand(displayID);
    }
    persist();
    resolveAndApply(enabled);
}

std::optional<std::string> AppModel::holdLabel(const ControlKey& key) const
{
    const auto hold = holds->find(key);
    if (hold == holds->end())
        return std::nullopt;
    if (!hold->second.expiresAt)
        return "Held until Resume";
    return "Held until " + shortTime(*hold->second.expiresAt);
}

double AppModel::value(const ControlKey& key) const
{
    if (const auto writing = lookup(applying.get(), key))
        return sliderValue(*writing);
    if (const auto read = lookup(observed.get(), key))
        return sliderValue(*read);
    return unknownSliderValue;
}

std::string AppModel::source(const ControlKey& key) const
{
    if (key.setting == SettingKey::brightness && automaticBrightnessOwns(key.target.id()))
        return "macOS automatic brightness";
    const auto assignment = resolution->assignments.find(key);
    if (assignment == resolution->assignments.end())
        return "Unmanaged";
    return assignment->second.source.label();
}

} // namespace quorvane
