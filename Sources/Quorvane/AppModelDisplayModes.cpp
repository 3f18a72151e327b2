#include "Quorvane/AppModel.h"
#include "Quorvane/MapKeys.h"

#include "Concurrency/Executor.h"

#include <algorithm>
#include <utility>

namespace quorvane {
namespace {

constexpr std::string_view ratesAtResolutionReason
    = "Refresh rates at the profile's resolution · preview required";
constexpr std::string_view noRatesAtResolutionReason
    = "Refresh rate unavailable at the selected resolution";

ControlKey refreshRateOf(const std::string& displayID)
{
    return {.target = ControlTarget::display(displayID), .setting = SettingKey::refreshRate};
}

/// The distinct rates offered at `resolution`, in the order their labels sort as text (so
/// 120 Hz before 60 Hz, and the adaptive rate last).
std::vector<RefreshPreference> ratesAt(
    const std::vector<DisplayModeChoice>& choices, const DisplayResolution& resolution)
{
    std::vector<RefreshPreference> rates;
    for (const DisplayModeChoice& choice : choices) {
        if (choice.resolution == resolution && choice.refreshRate
            && std::ranges::find(rates, *choice.refreshRate) == rates.end())
            rates.push_back(*choice.refreshRate);
    }
    std::ranges::stable_sort(rates, {}, [](const RefreshPreference& rate) { return rate.label(); });
    return rates;
}

ControlCapability refreshCapability(const std::vector<RefreshPreference>& rates)
{
    if (rates.empty())
        return {.available = false, .reason = std::string(noRatesAtResolutionReason)};
    ControlCapability capability{.available = true, .reason = std::string(ratesAtResolutionReason)};
    for (const RefreshPreference& rate : rates)
        capability.choices.push_back(SettingValue::refresh(rate));
    return capability;
}

} // namespace

std::map<ControlKey, ControlCapability> AppModel::capabilities(
    const std::map<std::string, DisplayResolution>& resolutions) const
{
    std::map<ControlKey, ControlCapability> result = hardwareSnapshot->capabilities;
    for (const auto& [displayID, resolution] : resolutions) {
        const auto choices = hardwareSnapshot->modeChoices.find(displayID);
        if (choices == hardwareSnapshot->modeChoices.end())
            continue;
        result.insert_or_assign(
            refreshRateOf(displayID), refreshCapability(ratesAt(choices->second, resolution)));
    }
    return result;
}

std::map<ControlKey, ControlCapability> AppModel::capabilities(const Profile& profile) const
{
    std::map<std::string, DisplayResolution> resolutions;
    for (const DisplayDevice& display : displays.get()) {
        if (auto resolution = configuration->displayResolution(profile, display.id))
            resolutions.insert_or_assign(display.id, *resolution);
    }
    return capabilities(resolutions);
}

void AppModel::queueProfileResolutions(const std::optional<std::vector<std::string>>& displayIDs)
{
    std::vector<std::string> queued;
    if (displayIDs) {
        queued = *displayIDs;
    } else {
        for (const DisplayDevice& display : displays.get())
            queued.push_back(display.id);
        pendingResolutions.set({});
    }
    for (const std::string& displayID : queued) {
        const std::optional<DisplayResolution> resolution
            = configuration->displayResolution(configuration->activeProfile(), displayID);
        pendingResolutions.modify([&](auto& pending) {
            if (resolution)
                pending.insert_or_assign(displayID, *resolution);
            else
                pending.erase(displayID);
        });
        // A resolution that failed before is tried again.
        resolutionStatus.modify([&](auto& statuses) { statuses.erase(displayID); });
        failedModes.modify([&](auto& modes) { modes.erase(displayID); });
    }
}

std::optional<ModeConfiguration> AppModel::completeDisplayMode(
    const ModeConfiguration& mode, const std::string& displayID) const
{
    const auto current = hardwareSnapshot->currentModes.find(displayID);
    if (current == hardwareSnapshot->currentModes.end())
        return std::nullopt;
    const ModeConfiguration& now = current->second;
    ModeConfiguration completed{.refreshRate = mode.refreshRate,
        .hdr = mode.hdr ? mode.hdr : now.hdr,
        .resolution = mode.resolution ? mode.resolution : now.resolution};
    if (completed.refreshRate)
        return completed;
    const auto choices = hardwareSnapshot->modeChoices.find(displayID);
    if (!completed.resolution || (now.resolution && now.resolution == completed.resolution)
        || choices == hardwareSnapshot->modeChoices.end()) {
        completed.refreshRate = now.refreshRate;
        return completed;
    }
    // The new resolution keeps the current rate when it offers it, else takes its first rate.
    std::vector<RefreshPreference> offered;
    for (const DisplayModeChoice& choice : choices->second) {
        if (choice.resolution == *completed.resolution && choice.refreshRate)
            offered.push_back(*choice.refreshRate);
    }
    if (offered.empty())
        return completed;
    const bool keepsCurrent
        = now.refreshRate && std::ranges::find(offered, *now.refreshRate) != offered.end();
    completed.refreshRate = keepsCurrent ? *now.refreshRate : offered.front();
    return completed;
}

bool AppModel::isVerified(const ModeConfiguration& mode, const std::string& displayID) const
{
    const auto environment = hardwareSnapshot->environments.find(displayID);
    if (environment == hardwareSnapshot->environments.end())
        return false;
    const std::optional<ModeConfiguration> completed = completeDisplayMode(mode, displayID);
    if (!completed)
        return false;
    const VerifiedModeConfiguration wanted{
        .displayID = displayID, .environment = environment->second, .mode = *completed};
    return std::ranges::find(configuration->verifiedModes, wanted)
        != configuration->verifiedModes.end();
}

// Lands with the display-mode scheduler.
void AppModel::scheduleModes() { }

void AppModel::cancelModeCommand(const std::string& displayID)
{
    if (const auto task = modeTasks->find(displayID); task != modeTasks->end())
        task->second.cancel();
    // A change in flight keeps its entries and removes them itself once it sees the cancel.
    if (modeBusy->contains(displayID))
        return;
    modeTasks.modify([&](auto& map) { map.erase(displayID); });
    modeRequests.modify([&](auto& map) { map.erase(displayID); });
    modeIDs.modify([&](auto& map) { map.erase(displayID); });
    if (modeStability->contains(displayID))
        modeStability.modify([&](auto& map) { map.at(displayID).cancel(); });
}

void AppModel::cancelModeCommands(bool includeApplying)
{
    for (const std::string& displayID : keysOf(modeTasks.get())) {
        if (includeApplying || !modeBusy->contains(displayID))
            cancelModeCommand(displayID);
    }
}

// Lands with the display-mode preview.
void AppModel::cancelPreview() { }

std::vector<TaskHandle> AppModel::stopDisplayWrites(const std::string& displayID)
{
    const auto onDisplay = [&](const ControlKey& key) { return key.target.id() == displayID; };
    std::vector<ControlKey> writes;
    std::vector<ControlKey> restorations;
    std::vector<TaskHandle> stopped;
    for (const auto& [key, task] : tasks.get()) {
        if (onDisplay(key)) {
            writes.push_back(key);
            stopped.push_back(task);
        }
    }
    for (const auto& [key, task] : ruleEditRestorations.get()) {
        if (onDisplay(key)) {
            restorations.push_back(key);
            stopped.push_back(task);
        }
    }
    if (const auto builtIn = builtinBrightnessKey(); builtIn && onDisplay(*builtIn)) {
        if (keyReadTask.get())
            stopped.push_back(*keyReadTask.get());
        cancelKeyRead();
    }
    for (const ControlKey& key : writes)
        cancelCommand(key);
    for (const ControlKey& key : restorations)
        cancelRuleEditRestoration(key);
    return stopped;
}

Task<void> AppModel::refreshAfterModeChange()
{
    // A task of its own: once begun, the refresh completes even if our caller is cancelled.
    co_await spawn(m_executor, refreshAfterModeChangeOf(weak_from_this()));
}

Task<void> AppModel::refreshAfterModeChangeOf(std::weak_ptr<AppModel> weakModel)
{
    {
        const auto model = weakModel.lock();
        if (!model || model->isQuitting.get())
            co_return;
        if (model->isSuspended.get() && !model->pendingHardwareRefresh.get())
            co_return;
        co_await model->refreshHardware();
    }
    const auto model = weakModel.lock();
    if (!model || model->isSuspended.get() || model->isQuitting.get())
        co_return;
    model->refreshContext();
    model->resolveAndApply(false);
}

void AppModel::recheckHardware()
{
    failed.set({});
    failedModes.set({});
    queueProfileResolutions(std::nullopt);
    spawn(m_executor, recheckHardwareOf(shared_from_this()));
}

Task<void> AppModel::recheckHardwareOf(std::shared_ptr<AppModel> model)
{
    co_await model->refreshHardware();
    model->resolveAndApply(false);
}

} // namespace quorvane
