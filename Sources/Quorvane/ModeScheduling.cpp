// Automatic display-mode changes: the mode each display should have, applied by a task of its own
// once the request has been stable long enough when the user confirmed that combination, tested
// with Keep/Revert when it is a profile's new resolution, and only reported otherwise.
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

constexpr std::string_view waitingText = "Waiting for a stable context…";
constexpr std::string_view needsTestText
    = "Preview and keep this combination before automation can use it";
constexpr std::string_view confirmedText = "Display mode confirmed";
constexpr std::string_view contextChangedText = "Context changed; previous display mode restored";
constexpr std::string_view readBackMismatchText
    = "Display readback did not match the approved combination; reverting";
constexpr std::string_view notKeptText
    = "Previous resolution restored. Activate the profile again to retry.";

/// The scheduler's debounce: the preference only switches it, so it never lengthens the wait.
constexpr std::int64_t modeDebounceMilliseconds = 300;

std::optional<DisplayResolution> resolutionOf(const std::optional<ModeConfiguration>& mode)
{
    return mode ? mode->resolution : std::nullopt;
}

/// Removes the request's task and request while the display's identifier is still its own,
/// however the task ends.
class ModeRequestCleanup final {
public:
    ModeRequestCleanup(std::weak_ptr<AppModel> model, std::string displayID, UUID requestID)
        : m_model(std::move(model))
        , m_displayID(std::move(displayID))
        , m_requestID(requestID)
    {
    }
    ~ModeRequestCleanup()
    {
        if (const auto model = m_model.lock())
            model->finishModeRequest(m_displayID, m_requestID);
    }
    ModeRequestCleanup(const ModeRequestCleanup&) = delete;
    ModeRequestCleanup& operator=(const ModeRequestCleanup&) = delete;

private:
    std::weak_ptr<AppModel> m_model;
    std::string m_displayID;
    UUID m_requestID;
};

/// Drops the display's status where it still speaks of a request: once the display shows what
/// is wanted, nothing waits for a stable context or for a test.
void dropRequestStatus(AppModel& model, const std::string& displayID)
{
    const auto speaksOfRequest
        = [](const std::string& text) { return text == waitingText || text == needsTestText; };
    model.controlStatus.modify([&](auto& statuses) {
        for (const SettingKey setting : {SettingKey::hdr, SettingKey::refreshRate}) {
            const auto status = statuses.find(modeKey(displayID, setting));
            if (status != statuses.end() && speaksOfRequest(status->second))
                statuses.erase(status);
        }
    });
    model.resolutionStatus.modify([&](auto& statuses) {
        const auto status = statuses.find(displayID);
        if (status != statuses.end() && speaksOfRequest(status->second))
            statuses.erase(status);
    });
}

// The completions of the tests a pass or a recovery starts; they hold the model weakly.
void resolutionTestEnded(
    const std::weak_ptr<AppModel>& weakModel, const std::string& displayID, bool kept)
{
    const auto model = weakModel.lock();
    if (!model)
        return;
    model->pendingResolutions.modify([&](auto& pending) { pending.erase(displayID); });
    // A restore that failed left the tested resolution on screen; its text stays.
    if (!kept && !model->pendingRestores->contains(displayID))
        model->resolutionStatus.modify([&](auto& statuses) {
            statuses.insert_or_assign(displayID, std::string(notKeptText));
        });
}

void recoveryTestEnded(const std::weak_ptr<AppModel>& weakModel, bool kept)
{
    if (const auto model = weakModel.lock(); model && kept)
        model->previewManualModeRecovery();
}

} // namespace

ModeConfiguration AppModel::desiredMode(const std::string& displayID) const
{
    ModeConfiguration mode;
    const auto& assignments = resolution->assignments;
    if (const auto refresh = entryOf(assignments, modeKey(displayID, SettingKey::refreshRate))) {
        if (const auto* rate = std::get_if<SettingValue::Refresh>(&refresh->value.value))
            mode.refreshRate = rate->value;
    }
    if (const auto hdr = entryOf(assignments, modeKey(displayID, SettingKey::hdr))) {
        if (const auto* toggle = std::get_if<SettingValue::Toggle>(&hdr->value.value))
            mode.hdr = toggle->value;
    }
    mode.resolution = entryOf(pendingResolutions.get(), displayID);
    return completeDisplayMode(mode, displayID).value_or(mode);
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

void AppModel::scheduleModes()
{
    if (preview.get())
        return;
    for (const DisplayDevice& display : std::vector<DisplayDevice>(displays.get())) {
        if (!scheduleMode(display.id))
            return;
    }
}

bool AppModel::scheduleMode(const std::string& displayID)
{
    // Only the restore may change the mode of a display a failed restore left unapproved.
    if (pendingRestores->contains(displayID))
        return true;
    const std::optional<ModeConfiguration> current
        = entryOf(hardwareSnapshot->currentModes, displayID);
    if (const auto pending = entryOf(pendingResolutions.get(), displayID);
        pending && resolutionOf(current) == pending)
        pendingResolutions.modify([&](auto& map) { map.erase(displayID); });
    const ModeConfiguration desired = desiredMode(displayID);
    if (const auto pending = entryOf(pendingResolutions.get(), displayID)) {
        if (auto reason = resolutionUnavailableReason(*pending, displayID)) {
            cancelModeCommand(displayID);
            resolutionStatus.modify(
                [&](auto& statuses) { statuses.insert_or_assign(displayID, std::move(*reason)); });
            return true;
        }
    }
    if (entryOf(modeRequests.get(), displayID) != desired)
        cancelModeCommand(displayID);
    const bool isThere = current == desired;
    if (isThere) {
        if (modeStability->contains(displayID))
            modeStability.modify([&](auto& map) { map.at(displayID).cancel(); });
        pendingResolutions.modify([&](auto& map) { map.erase(displayID); });
        manualRecoveries.modify([&](auto& map) {
            map.erase(modeKey(displayID, SettingKey::hdr));
            map.erase(modeKey(displayID, SettingKey::refreshRate));
        });
        dropRequestStatus(*this, displayID);
    }
    if (modeBusy->contains(displayID) || isThere || desired == ModeConfiguration{})
        return true;
    if (isVerified(desired, displayID)) {
        if (entryOf(failedModes.get(), displayID) != desired && !modeTasks->contains(displayID))
            startModeTask(displayID, desired);
        return true;
    }
    modeStatus(std::string(needsTestText), displayID);
    const bool testsResolution = pendingResolutions->contains(displayID)
        && desired.resolution != resolutionOf(current) && modeBusy->empty()
        && entryOf(failedModes.get(), displayID) != desired;
    if (!testsResolution)
        return true;
    const std::weak_ptr<AppModel> weakModel = weak_from_this();
    // A display whose test cannot start must not hold up the displays after it.
    return !previewMode(desired, displayID, false, false, std::string(keepProfileResolutionTitle),
        [weakModel, displayID](bool kept) { resolutionTestEnded(weakModel, displayID, kept); });
}

void AppModel::startModeTask(const std::string& displayID, const ModeConfiguration& desired)
{
    ModeStability stability = entryOf(modeStability.get(), displayID).value_or(ModeStability{});
    const double wait = stability.delay(desired, m_executor.wallNow(),
        configuration->debounceMilliseconds > 0 ? modeDebounceMilliseconds : 0);
    modeStability.modify([&](auto& map) { map.insert_or_assign(displayID, stability); });
    const UUID requestID = UUID::random();
    modeIDs.modify([&](auto& map) { map.insert_or_assign(displayID, requestID); });
    modeRequests.modify([&](auto& map) { map.insert_or_assign(displayID, desired); });
    modeStatus(std::string(waitingText), displayID);
    modeTasks.modify([&](auto& map) {
        map.insert_or_assign(displayID,
            spawn(m_executor, runModeTask(weak_from_this(), displayID, requestID, wait, desired)));
    });
}

void AppModel::finishModeRequest(const std::string& displayID, const UUID& requestID)
{
    if (entryOf(modeIDs.get(), displayID) != requestID)
        return;
    modeTasks.modify([&](auto& map) { map.erase(displayID); });
    modeRequests.modify([&](auto& map) { map.erase(displayID); });
}

bool AppModel::isModeRequestCurrent(
    const std::string& displayID, const UUID& requestID, const ModeConfiguration& desired) const
{
    return canApplyAutomatically() && entryOf(modeIDs.get(), displayID) == requestID
        && desiredMode(displayID) == desired && !preview.get();
}

Task<void> AppModel::runModeTask(std::weak_ptr<AppModel> weakModel, std::string displayID,
    UUID requestID, double delaySeconds, ModeConfiguration desired)
{
    const ModeRequestCleanup cleanup(weakModel, displayID, requestID);
    // A cancelled sleep ends the task with nothing but the clean-up.
    co_await sleep(std::chrono::duration_cast<ContinuousClock::duration>(
        std::chrono::duration<double>(delaySeconds)));
    const auto model = weakModel.lock();
    if (!model || isCancelled() || !model->isModeRequestCurrent(displayID, requestID, desired))
        co_return;
    co_await model->applyScheduledMode(displayID, requestID, desired);
}

Task<void> AppModel::applyScheduledMode(
    std::string displayID, UUID requestID, ModeConfiguration desired)
{
    modeBusy.modify([&](auto& busy) { busy.insert(displayID); });
    for (const TaskHandle& write : stopDisplayWrites(displayID))
        co_await write;
    std::optional<UUID> token;
    const ModeConfiguration earlier
        = entryOf(hardwareSnapshot->currentModes, displayID).value_or(ModeConfiguration{});
    std::optional<std::string> failure;
    bool cancelled = false;
    const auto checkStillWanted = [this] {
        if (isCancelled() || !canApplyAutomatically())
            throw CancellationError();
    };
    try {
        checkStillWanted();
        if (!isDemo) {
            token = co_await m_hardware->captureRecovery(displayID);
            checkStillWanted();
        }
        const ModeConfiguration applied = co_await applyDisplayMode(desired, displayID);
        checkCancellation();
        if (applied != desired)
            throw ConfigurationError(
                ConfigurationError::Invalid{std::string(readBackMismatchText)});
        recordMode(applied, displayID);
        if (entryOf(pendingResolutions.get(), displayID) == applied.resolution)
            pendingResolutions.modify([&](auto& map) { map.erase(displayID); });
        modeStability.modify([&](auto& map) { map[displayID].didApply(m_executor.wallNow()); });
        modeStatus(std::string(confirmedText), displayID);
        if (token)
            co_await discardRecovery(*token);
    } catch (const CancellationError&) {
        cancelled = true;
        failure = std::string(contextChangedText);
    } catch (const Error& error) {
        failure = error.what();
    }
    if (failure) {
        const std::optional<std::string> restoreFailure
            = co_await restoreDisplay(token, earlier, displayID);
        modeStatus(restoreFailure.value_or(*failure), displayID);
        if (!cancelled || restoreFailure)
            failedModes.modify([&](auto& modes) { modes.insert_or_assign(displayID, desired); });
    }
    endModeChange(displayID);
    finishModeRequest(displayID, requestID);
    co_await refreshAfterModeChange();
}

void AppModel::previewManualModeRecovery()
{
    if (preview.get())
        return;
    const std::weak_ptr<AppModel> weakModel = weak_from_this();
    for (const DisplayDevice& display : std::vector<DisplayDevice>(displays.get())) {
        ModeConfiguration mode;
        const auto refresh
            = entryOf(manualRecoveries.get(), modeKey(display.id, SettingKey::refreshRate));
        if (const auto* rate
            = refresh ? std::get_if<SettingValue::Refresh>(&refresh->value) : nullptr)
            mode.refreshRate = rate->value;
        const auto hdr = entryOf(manualRecoveries.get(), modeKey(display.id, SettingKey::hdr));
        if (const auto* toggle = hdr ? std::get_if<SettingValue::Toggle>(&hdr->value) : nullptr)
            mode.hdr = toggle->value;
        if (mode == ModeConfiguration{} || pendingRestores->contains(display.id))
            continue;
        if (previewMode(mode, display.id, false, false, std::string(restorePreviousSettingsTitle),
                [weakModel](bool kept) { recoveryTestEnded(weakModel, kept); }))
            return;
    }
}

} // namespace quorvane
