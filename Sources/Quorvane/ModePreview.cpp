// The Keep/Revert test through which every new display-mode combination passes: applying it, the
// 15-second wait for Keep, the fresh read that verifies a kept mode, and the restore on every
// other way out.
#include "Quorvane/AppModel.h"
#include "Quorvane/MapKeys.h"
#include "Quorvane/ModeKeys.h"

#include "Concurrency/Cancellation.h"
#include "Concurrency/Executor.h"
#include "Concurrency/Sleep.h"
#include "QuorvaneCore/ConfigurationError.h"
#include "QuorvaneMac/MacControlBackend.h"

#include <algorithm>
#include <utility>

namespace quorvane {
namespace {

using namespace std::chrono_literals;
using Phase = DisplayPreview::Phase;

/// How long Keep is accepted once the mode is on screen.
constexpr auto confirmationWindow = 15s;

constexpr std::string_view screenChangedText
    = "The screen changed during the preview. This combination was not approved.";
constexpr std::string_view expiredText = "The preview expired before confirmation completed.";

[[noreturn]] void refuse(std::string_view text)
{
    throw ConfigurationError(ConfigurationError::Invalid{std::string(text)});
}

std::vector<SettingKey> modeKeysOf(const ModeConfiguration& mode)
{
    std::vector<SettingKey> keys;
    if (mode.hdr)
        keys.push_back(SettingKey::hdr);
    if (mode.refreshRate)
        keys.push_back(SettingKey::refreshRate);
    return keys;
}

/// The value `mode` holds for a mode key, as a control value.
std::optional<SettingValue> modeValue(const ModeConfiguration& mode, SettingKey key)
{
    if (key == SettingKey::hdr && mode.hdr)
        return SettingValue::toggle(*mode.hdr);
    if (key == SettingKey::refreshRate && mode.refreshRate)
        return SettingValue::refresh(*mode.refreshRate);
    return std::nullopt;
}

/// Why the display refuses an HDR or refresh value the caller set; HDR is asked first. Values
/// filled in by completion are never checked.
std::optional<std::string> rejectedModeValue(const ModeConfiguration& asked,
    const std::map<ControlKey, ControlCapability>& capabilities, const std::string& displayID)
{
    for (const SettingKey key : modeKeysOf(asked)) {
        const auto capability = capabilities.find(modeKey(displayID, key));
        if (capability == capabilities.end())
            continue;
        if (auto reason = capability->second.rejection(*modeValue(asked, key), key))
            return reason;
    }
    return std::nullopt;
}

/// What ended a preview's work early: the text to show, absent for a cancellation.
struct Interruption {
    std::optional<std::string> text;
};

} // namespace

bool AppModel::previewMode(const ModeConfiguration& mode, const std::string& displayID, bool manual,
    bool restoreResolutionAfterKeep, std::string confirmationTitle,
    std::function<void(bool)> completion)
{
    return startPreview(mode, displayID, manual, restoreResolutionAfterKeep,
               std::move(confirmationTitle), std::move(completion))
        == PreviewStart::started;
}

AppModel::PreviewStart AppModel::startPreview(const ModeConfiguration& mode,
    const std::string& displayID, bool manual, bool restoreResolutionAfterKeep,
    std::string confirmationTitle, std::function<void(bool)> completion)
{
    if (!isLoaded.get() || settingsError.get() || preview.get() || isSuspended.get()
        || !modeBusy->empty())
        return PreviewStart::refused;
    const auto display = std::ranges::find(displays.get(), displayID, &DisplayDevice::id);
    const auto environment = hardwareSnapshot->environments.find(displayID);
    if (display == displays->end() || environment == hardwareSnapshot->environments.end())
        return PreviewStart::refused;
    const ModeConfiguration original
        = entryOf(hardwareSnapshot->currentModes, displayID).value_or(ModeConfiguration{});
    const std::optional<ModeConfiguration> requested = completeDisplayMode(mode, displayID);
    if (!requested)
        return PreviewStart::refused;
    std::map<std::string, DisplayResolution> resolutions;
    if (requested->resolution) {
        if (auto reason = resolutionUnavailableReason(*requested->resolution, displayID)) {
            actionError.set(std::move(reason));
            return PreviewStart::refusedWithReason;
        }
        resolutions.emplace(displayID, *requested->resolution);
    }
    if (auto reason = rejectedModeValue(mode, capabilities(resolutions), displayID)) {
        actionError.set(std::move(reason));
        return PreviewStart::refusedWithReason;
    }

    cancelKeyRead();
    for (const std::string& id : keysOf(modeTasks.get()))
        cancelModeCommand(id);
    std::vector<TaskHandle> stoppedWrites = stopDisplayWrites(displayID);
    modeBusy.modify([&](auto& busy) { busy.insert(displayID); });
    DisplayPreview started{.id = UUID::random(),
        .displayID = displayID,
        .name = display->name,
        .requested = *requested,
        .original = original,
        .environment = environment->second,
        .manual = manual,
        .manualKeys = modeKeysOf(mode),
        .restoreAfterKeep
        = restoreResolutionAfterKeep && requested->resolution != original.resolution,
        .phase = Phase::applying,
        .confirmationTitle = std::move(confirmationTitle),
        .completion = std::move(completion)};
    preview.set(started);
    previewTask.set(spawn(
        m_executor, applyPreview(weak_from_this(), std::move(started), std::move(stoppedWrites))));
    return PreviewStart::started;
}

bool AppModel::isCurrentPreview(const UUID& previewID) const
{
    return preview.get() && preview.get()->id == previewID;
}

Task<void> AppModel::applyPreview(std::weak_ptr<AppModel> weakModel, DisplayPreview started,
    std::vector<TaskHandle> stoppedWrites)
{
    for (const TaskHandle& write : stoppedWrites)
        co_await write;
    // Held from here on: the hardware calls below belong to the model.
    const auto model = weakModel.lock();
    if (!model)
        co_return;
    std::optional<UUID> token;
    std::optional<Interruption> interruption;
    try {
        co_await model->applyPreviewMode(started, token);
        co_return;
    } catch (const CancellationError&) {
        interruption = Interruption{};
    } catch (const Error& error) {
        interruption = Interruption{error.what()};
    }
    const std::optional<std::string> restoreFailure
        = co_await model->restoreDisplay(token, started.original, started.displayID);
    if (interruption->text)
        model->actionError.set(interruption->text);
    if (restoreFailure)
        model->actionError.set(restoreFailure);
    // Cancelled or not, the combination did not reach Keep on this display.
    model->failedModes.modify(
        [&](auto& modes) { modes.insert_or_assign(started.displayID, started.requested); });
    co_await model->finishPreview(started.displayID, false);
}

Task<void> AppModel::applyPreviewMode(DisplayPreview started, std::optional<UUID>& token)
{
    checkCancellation();
    if (!isDemo) {
        token = co_await m_hardware->captureRecovery(started.displayID);
        if (isCurrentPreview(started.id))
            preview.modify([&](auto& current) { current->recovery = token; });
    }
    checkCancellation();
    const ModeConfiguration applied
        = co_await applyDisplayMode(started.requested, started.displayID);
    checkCancellation();
    if (!isCurrentPreview(started.id))
        throw CancellationError();
    recordMode(applied, started.displayID);
    const Date deadline = m_executor.wallNow() + confirmationWindow;
    preview.modify([&](auto& current) {
        current->requested = applied;
        current->phase = Phase::confirming;
        current->deadline = deadline;
    });
    previewTimer.set(spawn(m_executor, expirePreview(weak_from_this())));
}

Task<void> AppModel::expirePreview(std::weak_ptr<AppModel> weakModel)
{
    // The continuous clock: setting the calendar clock neither shortens nor stretches the test.
    co_await sleep(confirmationWindow);
    if (const auto model = weakModel.lock())
        model->cancelPreview();
}

void AppModel::keepPreview()
{
    const std::optional<DisplayPreview>& current = preview.get();
    if (!current || current->phase != Phase::confirming || !current->deadline
        || *current->deadline <= m_executor.wallNow()) {
        cancelPreview();
        return;
    }
    if (const std::optional<TaskHandle>& timer = previewTimer.get())
        timer->cancel();
    preview.modify([](auto& kept) { kept->phase = Phase::verifying; });
    previewTask.set(spawn(m_executor, verifyPreview(shared_from_this(), *preview.get())));
}

Task<void> AppModel::verifyPreview(std::shared_ptr<AppModel> model, DisplayPreview kept)
{
    std::optional<Interruption> interruption;
    try {
        co_await model->confirmKeptPreview(kept);
    } catch (const CancellationError&) {
        interruption = Interruption{};
    } catch (const Error& error) {
        interruption = Interruption{error.what()};
    }
    if (!interruption) {
        // Already restored when asked to; a Revert now only ends the test.
        if (kept.restoreAfterKeep && isCancelled()) {
            co_await model->finishPreview(kept.displayID, false);
            co_return;
        }
        try {
            model->approvePreview(kept);
        } catch (const Error& error) {
            interruption = Interruption{error.what()};
        }
    }
    if (interruption) {
        const std::optional<std::string> restoreFailure
            = co_await model->restoreDisplay(kept.recovery, kept.original, kept.displayID);
        if (restoreFailure)
            model->actionError.set(restoreFailure);
        else if (interruption->text)
            model->actionError.set(interruption->text);
        co_await model->finishPreview(kept.displayID, false);
        co_return;
    }
    if (!kept.restoreAfterKeep) {
        if (kept.recovery)
            co_await model->discardRecovery(*kept.recovery);
        // The user approved what the display shows now; an older restore would undo it.
        co_await model->dropPendingRestore(kept.displayID);
    }
    co_await model->finishPreview(kept.displayID, true);
}

Task<void> AppModel::confirmKeptPreview(DisplayPreview kept)
{
    const auto environment = hardwareSnapshot->environments.find(kept.displayID);
    if (std::ranges::find(displays.get(), kept.displayID, &DisplayDevice::id) == displays->end()
        || environment == hardwareSnapshot->environments.end()
        || environment->second != kept.environment)
        refuse(screenChangedText);
    // Only a fresh reading proves the display still shows the mode on the same connection.
    HardwareSnapshot fresh = hardwareSnapshot.get();
    if (!isDemo) {
        // Its own statement: g++ mishandles a co_await inside a conditional expression.
        DiscoveredHardware discovered = co_await discoverHardware();
        fresh = std::move(discovered.snapshot);
    }
    // A cancelled read may be partial: it proves nothing about the screen.
    checkCancellation();
    const auto freshEnvironment = fresh.environments.find(kept.displayID);
    const auto freshMode = fresh.currentModes.find(kept.displayID);
    if ((!isDemo
            && (freshEnvironment == fresh.environments.end()
                || freshEnvironment->second != kept.environment))
        || freshMode == fresh.currentModes.end() || freshMode->second != kept.requested)
        refuse(screenChangedText);
    if (*kept.deadline <= m_executor.wallNow())
        refuse(expiredText);
    if (kept.restoreAfterKeep) {
        if (const auto failure
            = co_await restoreDisplay(kept.recovery, kept.original, kept.displayID))
            refuse(*failure);
    }
}

void AppModel::approvePreview(const DisplayPreview& kept)
{
    const VerifiedModeConfiguration approved{
        .displayID = kept.displayID, .environment = kept.environment, .mode = kept.requested};
    Configuration candidate = configuration.get();
    if (std::ranges::find(candidate.verifiedModes, approved) == candidate.verifiedModes.end())
        candidate.verifiedModes.push_back(approved);
    // A read-back the document refuses would make every later save fail.
    candidate.validate();
    configuration.set(std::move(candidate));
    failedModes.modify([&](auto& modes) { modes.erase(kept.displayID); });
    const auto current = entryOf(hardwareSnapshot->currentModes, kept.displayID);
    if (entryOf(pendingResolutions.get(), kept.displayID)
        == (current ? current->resolution : std::nullopt))
        pendingResolutions.modify([&](auto& map) { map.erase(kept.displayID); });
    // Put back after Keep, a display a failed restore left unapproved keeps showing why.
    if (!kept.restoreAfterKeep)
        modeStatus("Kept and verified", kept.displayID);
    else if (!pendingRestores->contains(kept.displayID))
        modeStatus("Verified; previous resolution restored", kept.displayID);
    if (kept.manual) {
        for (const SettingKey key : kept.manualKeys)
            rememberManualOriginal(modeValue(kept.original, key), modeKey(kept.displayID, key));
        for (const SettingKey key : kept.manualKeys) {
            if (const std::optional<SettingValue> value = modeValue(kept.requested, key))
                holds.modify([&](auto& map) {
                    map.insert_or_assign(modeKey(kept.displayID, key), makeHold(*value, false));
                });
        }
    }
    modeStability.modify([&](auto& map) { map[kept.displayID].didApply(m_executor.wallNow()); });
    persist();
}

void AppModel::cancelPreview()
{
    if (const std::optional<TaskHandle>& timer = previewTimer.get())
        timer->cancel();
    if (!preview.get() || preview.get()->phase == Phase::reverting)
        return;
    const Phase was = preview.get()->phase;
    preview.modify([](auto& current) { current->phase = Phase::reverting; });
    // Those tasks restore and finish on their own way out.
    if (was == Phase::applying || was == Phase::verifying) {
        if (const std::optional<TaskHandle>& task = previewTask.get())
            task->cancel();
        return;
    }
    previewTask.set(spawn(m_executor, revertPreview(shared_from_this(), *preview.get())));
}

Task<void> AppModel::revertPreview(std::shared_ptr<AppModel> model, DisplayPreview reverted)
{
    if (const auto failure
        = co_await model->restoreDisplay(reverted.recovery, reverted.original, reverted.displayID))
        model->actionError.set(failure);
    co_await model->finishPreview(reverted.displayID, false);
}

Task<void> AppModel::finishPreview(std::string displayID, bool kept)
{
    const std::function<void(bool)> completion
        = preview.get() ? preview.get()->completion : std::function<void(bool)>();
    endModeChange(displayID);
    preview.set(std::nullopt);
    previewTimer.set(std::nullopt);
    if (completion)
        completion(kept);
    co_await refreshAfterModeChange();
}

} // namespace quorvane
