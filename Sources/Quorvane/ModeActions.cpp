// Display-mode changes as every caller makes them: stopping a display's other writes, applying
// and recording a mode, restoring the display, the refresh afterwards, the per-display status,
// and cancelling the automatic mode commands.
#include "Quorvane/AppModel.h"
#include "Quorvane/MapKeys.h"
#include "Quorvane/ModeKeys.h"

#include "Concurrency/Executor.h"
#include "Quorvane/SimulatedControls.h"
#include "QuorvaneCore/ConfigurationError.h"
#include "QuorvaneMac/MacControlBackend.h"

#include <algorithm>
#include <utility>

namespace quorvane {
namespace {

/// Two absent resolutions are the same; an absent one differs from a present one.
bool changesResolution(const DisplayPreview& preview)
{
    return preview.requested.resolution != preview.original.resolution;
}

std::string recoveryFailureText(std::string_view description)
{
    std::string text = "Recovery could not be confirmed: " + std::string(description);
    // The platform's descriptions are sentences or phrases; a sentence brings its own full stop.
    if (!text.ends_with('.'))
        text += '.';
    return text + " Reconnect this screen and recheck it.";
}

} // namespace

Task<ModeConfiguration> AppModel::applyDisplayMode(ModeConfiguration mode, std::string displayID)
{
    if (!isDemo) {
        const auto environment = hardwareSnapshot->environments.find(displayID);
        const auto current = hardwareSnapshot->currentModes.find(displayID);
        std::optional<std::string> expectedEnvironment;
        if (environment != hardwareSnapshot->environments.end())
            expectedEnvironment = environment->second;
        std::optional<DisplayResolution> expectedResolution;
        if (current != hardwareSnapshot->currentModes.end())
            expectedResolution = current->second.resolution;
        co_return co_await m_hardware->applyMode(
            mode, displayID, std::move(expectedEnvironment), std::move(expectedResolution));
    }
    if (mode.resolution) {
        if (auto reason = resolutionUnavailableReason(*mode.resolution, displayID))
            throw ConfigurationError(ConfigurationError::Invalid{std::move(*reason)});
    }
    // The simulation has no resolution of its own: recordMode makes it current.
    if (mode.hdr)
        co_await m_simulated->write(
            SettingValue::toggle(*mode.hdr), modeKey(displayID, SettingKey::hdr));
    if (mode.refreshRate)
        co_await m_simulated->write(
            SettingValue::refresh(*mode.refreshRate), modeKey(displayID, SettingKey::refreshRate));
    co_return mode;
}

void AppModel::recordMode(const ModeConfiguration& mode, const std::string& displayID)
{
    hardwareSnapshot.modify([&](HardwareSnapshot& snapshot) {
        snapshot.currentModes.insert_or_assign(displayID, mode);
    });
    // The demo's refresh-rate choices follow its simulated resolution.
    if (isDemo && mode.resolution) {
        auto capabilitiesNow = capabilities({{displayID, *mode.resolution}});
        hardwareSnapshot.modify([&](HardwareSnapshot& snapshot) {
            snapshot.capabilities = std::move(capabilitiesNow);
        });
    }
    const ControlKey hdr = modeKey(displayID, SettingKey::hdr);
    const ControlKey refreshRate = modeKey(displayID, SettingKey::refreshRate);
    if (mode.hdr)
        observed.modify(
            [&](auto& map) { map.insert_or_assign(hdr, SettingValue::toggle(*mode.hdr)); });
    if (mode.refreshRate)
        observed.modify([&](auto& map) {
            map.insert_or_assign(refreshRate, SettingValue::refresh(*mode.refreshRate));
        });
    // A recovery the mode has now reached is done.
    for (const ControlKey& key : {hdr, refreshRate}) {
        if (manualRecoveries->contains(key)
            && entryOf(manualRecoveries.get(), key) == entryOf(observed.get(), key))
            manualRecoveries.modify([&](auto& map) { map.erase(key); });
    }
    const Date now = m_executor.wallNow();
    lastWrite.modify([&](auto& map) {
        map.insert_or_assign(hdr, now);
        map.insert_or_assign(refreshRate, now);
    });
}

Task<std::optional<std::string>> AppModel::restoreDisplay(
    std::optional<UUID> token, ModeConfiguration original, std::string displayID)
{
    auto failure = std::make_shared<std::optional<std::string>>();
    // A task of its own: a restore that has begun ends even when our caller is cancelled.
    co_await spawn(m_executor,
        restoreDisplayOf(
            shared_from_this(), token, std::move(original), std::move(displayID), failure));
    co_return *failure;
}

Task<void> AppModel::restoreDisplayOf(std::shared_ptr<AppModel> model, std::optional<UUID> token,
    ModeConfiguration original, std::string displayID,
    std::shared_ptr<std::optional<std::string>> failure)
{
    const PendingRestore restore{.token = token, .original = original};
    try {
        if (model->isDemo)
            (void)co_await model->applyDisplayMode(original, displayID);
        else if (token)
            co_await model->m_hardware->restore(*token);
        // Without a token nothing reached the display yet: only the model goes back.
        model->recordMode(original, displayID);
    } catch (const Error& error) {
        *failure = recoveryFailureText(error.what());
    }
    if (*failure) {
        // The first failure's original is the mode the display had before anything unapproved.
        if (!model->pendingRestores->contains(displayID))
            model->pendingRestores.modify(
                [&](auto& pending) { pending.insert_or_assign(displayID, restore); });
        model->modeStatus(**failure, displayID);
        co_return;
    }
    if (entryOf(model->pendingRestores.get(), displayID) != restore)
        co_return;
    model->pendingRestores.modify([&](auto& pending) { pending.erase(displayID); });
    // Its failure text no longer holds; the next pass publishes whatever is due.
    model->controlStatus.modify([&](auto& statuses) {
        statuses.erase(modeKey(displayID, SettingKey::hdr));
        statuses.erase(modeKey(displayID, SettingKey::refreshRate));
    });
    model->resolutionStatus.modify([&](auto& statuses) { statuses.erase(displayID); });
}

void AppModel::endModeChange(const std::string& displayID)
{
    modeBusy.modify([&](auto& busy) { busy.erase(displayID); });
    const auto display = std::ranges::find(displays.get(), displayID, &DisplayDevice::id);
    // Warmth lives in the gamma tables on every display, contrast on built-in ones only.
    const bool softwareContrast = display != displays->end() && display->isBuiltIn;
    const auto keyOf = [&](SettingKey setting) {
        return ControlKey{.target = ControlTarget::display(displayID), .setting = setting};
    };
    observed.modify([&](auto& map) {
        map.erase(keyOf(SettingKey::temperature));
        if (softwareContrast)
            map.erase(keyOf(SettingKey::contrast));
    });
}

Task<void> AppModel::discardRecovery(UUID token)
{
    co_await spawn(m_executor, m_hardware->discardRecovery(token));
}

void AppModel::retryPendingRestores()
{
    for (const auto& entry : pendingRestores.get()) {
        const std::string& displayID = entry.first;
        const bool listed
            = std::ranges::find(displays.get(), displayID, &DisplayDevice::id) != displays->end();
        if (listed && !restoreTasks->contains(displayID))
            restoreTasks.modify([&](auto& map) {
                map.emplace(displayID,
                    spawn(m_executor,
                        retryPendingRestore(weak_from_this(), displayID, entry.second)));
            });
    }
}

Task<void> AppModel::retryPendingRestore(
    std::weak_ptr<AppModel> weakModel, std::string displayID, PendingRestore pending)
{
    const auto model = weakModel.lock();
    if (!model)
        co_return;
    // A test started on the display meanwhile: the refresh after it tries again.
    if (model->modeBusy->contains(displayID)) {
        model->restoreTasks.modify([&](auto& map) { map.erase(displayID); });
        co_return;
    }
    model->modeBusy.modify([&](auto& busy) { busy.insert(displayID); });
    const std::optional<std::string> failure
        = co_await model->restoreDisplay(pending.token, pending.original, displayID);
    model->endModeChange(displayID);
    model->restoreTasks.modify([&](auto& map) { map.erase(displayID); });
    // A refresh after a failure would only try again at once: only one asked for meanwhile runs.
    if (!failure || model->pendingHardwareRefresh.get()) {
        co_await model->refreshAfterModeChange();
        co_return;
    }
    model->resolveAndApply(false);
}

Task<void> AppModel::dropPendingRestore(std::string displayID)
{
    const std::optional<PendingRestore> pending = entryOf(pendingRestores.get(), displayID);
    if (!pending)
        co_return;
    pendingRestores.modify([&](auto& map) { map.erase(displayID); });
    if (pending->token)
        co_await discardRecovery(*pending->token);
}

void AppModel::modeStatus(const std::string& message, const std::string& displayID)
{
    controlStatus.modify([&](auto& map) {
        map.insert_or_assign(modeKey(displayID, SettingKey::hdr), message);
        map.insert_or_assign(modeKey(displayID, SettingKey::refreshRate), message);
    });
    const bool resolutionAtStake = pendingResolutions->contains(displayID)
        || resolutionStatus->contains(displayID)
        || (preview.get() && preview.get()->displayID == displayID
            && changesResolution(*preview.get()));
    if (resolutionAtStake)
        resolutionStatus.modify([&](auto& map) { map.insert_or_assign(displayID, message); });
}

void AppModel::cancelModeCommand(std::string displayID)
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

std::vector<TaskHandle> AppModel::stopDisplayWrites(std::string displayID)
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
