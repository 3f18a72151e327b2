// The macOS display preferences of the active profile: what it asks for, writing and verifying
// them, the picture of what macOS reports, and automatic brightness taking brightness over.
#include "Quorvane/AppModel.h"
#include "Quorvane/MapKeys.h"
#include "Quorvane/PendingCaptureSave.h"

#include "Concurrency/Cancellation.h"
#include "Concurrency/Executor.h"
#include "Concurrency/Sleep.h"
#include "Quorvane/SimulatedSystemDisplayPreferences.h"
#include "QuorvaneCore/ConfigurationError.h"
#include "QuorvaneCore/SystemDisplayBackend.h"

#include <algorithm>
#include <chrono>
#include <utility>
#include <vector>

namespace quorvane {
namespace {

using namespace std::chrono_literals;

constexpr std::string_view managedBrightnessReason = "Managed by macOS automatic brightness";
constexpr std::string_view managedBrightnessRuleReason
    = "Brightness: managed by macOS automatic brightness";
constexpr std::string_view unconfirmedPreference
    = "macOS did not confirm the requested setting. Activate again to retry.";
constexpr std::string_view unavailablePreference = "Control unavailable";
// macOS takes a moment to show a changed preference in what it reports.
constexpr auto preferenceSettlePause = 150ms;

template <typename Key, typename Value> std::set<Key> keySet(const std::map<Key, Value>& map)
{
    const std::vector<Key> keys = keysOf(map);
    return {keys.begin(), keys.end()};
}

/// Every control the snapshot knows of, readable or not.
std::set<SystemDisplayControl> controlsOf(const SystemDisplaySnapshot& snapshot)
{
    std::set<SystemDisplayControl> controls = keySet(snapshot.values);
    controls.merge(keySet(snapshot.unavailable));
    return controls;
}

std::optional<bool> valueIn(
    const std::map<SystemDisplayControl, bool>& values, const SystemDisplayControl& control)
{
    const auto found = values.find(control);
    if (found == values.end())
        return std::nullopt;
    return found->second;
}

std::string unavailableReason(
    const SystemDisplaySnapshot& snapshot, const SystemDisplayControl& control)
{
    const auto reason = snapshot.unavailable.find(control);
    if (reason == snapshot.unavailable.end())
        return std::string(unavailablePreference);
    return reason->second;
}

/// The display whose automatic brightness `control` is; null for the system-wide controls.
const std::string* automaticBrightnessDisplay(const SystemDisplayControl& control)
{
    const auto* automatic = std::get_if<SystemDisplayControl::AutomaticBrightness>(&control.value);
    return automatic ? &automatic->displayID : nullptr;
}

void recordError(AppModel& model, const SystemDisplayControl& control, const std::string& message)
{
    model.systemDisplayErrors.modify(
        [&](auto& errors) { errors.insert_or_assign(control, message); });
}

bool isUserHold(const ResolvedAssignment& assignment)
{
    const auto* manual = std::get_if<ResolutionSource::Manual>(&assignment.source.value);
    return manual && !manual->isExternal;
}

/// Whether a step of the apply still needs automatic application to be allowed.
enum class Automation { required, notRequired };

} // namespace

/// What one apply task works from, fixed when it starts, and the steps that need the model.
struct AppModel::SystemDisplayApply {
    /// Held weakly: the task never keeps the model alive.
    std::weak_ptr<AppModel> owner;
    std::optional<TaskHandle> previous;
    /// Rule-edit restorations, then the cancelled control writes.
    std::vector<TaskHandle> writes;
    std::optional<TaskHandle> save;
    UUID id;
    /// Kept alive across the waits; reached only through liveBackend(), so nothing is written
    /// once the model is gone.
    std::shared_ptr<SystemDisplayBackend> backend;
    std::map<SystemDisplayControl, bool> requests;

    /// Every task this apply must not overlap. Never throws.
    [[nodiscard]] Task<void> waitForEarlierWork() const;
    /// The model while this apply is neither cancelled nor superseded (and may still apply
    /// automatically, when required). Otherwise null, after handing the flags back when the
    /// model is still there.
    [[nodiscard]] std::shared_ptr<AppModel> current(Automation automation) const;
    /// Throws CancellationError once the model is gone: nothing it owned may be touched then.
    void checkOwner() const;
    /// The backend, only while the model lives.
    [[nodiscard]] SystemDisplayBackend& liveBackend() const;
    /// Brings one control to `wanted` and verifies it; false ends the apply.
    [[nodiscard]] Task<bool> applyControl(
        const SystemDisplayControl& control, bool wanted, SystemDisplaySnapshot& working) const;
    /// Writes, waits and reads back into `working`; throws the control's failure.
    [[nodiscard]] Task<void> writeAndVerify(
        const SystemDisplayControl& control, bool wanted, SystemDisplaySnapshot& working) const;
};

SystemDisplayBackend& AppModel::systemDisplayBackend()
{
    if (injectedSystemDisplayBackend)
        return *injectedSystemDisplayBackend;
    if (isDemo)
        return *m_simulatedSystemDisplay;
    return *m_systemDisplay;
}

std::map<SystemDisplayControl, bool> AppModel::systemDisplayRequests() const
{
    return configuration->systemDisplayRequests(
        configuration->activeProfile(), controlsOf(systemDisplaySnapshot.get()));
}

bool AppModel::automaticBrightnessOwns(const std::string& displayID) const
{
    const SystemDisplayControl control = SystemDisplayControl::automaticBrightness(displayID);
    if (valueIn(systemDisplaySnapshot->values, control) == true)
        return true;
    if (!systemDisplayApplying.get())
        return false;
    // An apply that is switching it on owns the brightness already.
    return valueIn(systemDisplayRequests(), control) == true;
}

bool AppModel::automaticBrightnessManagesSettings(
    const UUID& profileID, const std::optional<std::string>& displayID) const
{
    const CopyOnWriteVector<Profile>& profiles = configuration->profiles;
    const auto profile = std::ranges::find(profiles, profileID, &Profile::id);
    if (profile == profiles.end())
        return false;
    const std::map<SystemDisplayControl, bool> requests
        = configuration->systemDisplayRequests(*profile, controlsOf(systemDisplaySnapshot.get()));
    const bool isActive = configuration->activeProfile().id == profileID;
    // Only displays that can report automatic brightness count.
    for (const SystemDisplayControl& control : keysOf(systemDisplaySnapshot->values)) {
        const std::string* id = automaticBrightnessDisplay(control);
        if (!id || (displayID && *displayID != *id))
            continue;
        if (isActive ? automaticBrightnessOwns(*id) : valueIn(requests, control) == true)
            return true;
    }
    return false;
}

void AppModel::saveDisplayPreferences(ProfileDisplayPreferences preferences, UUID profileID)
{
    // A mode change in flight does not refuse: the write to macOS waits for it.
    if (!isLoaded.get() || settingsError.get() || preview.get())
        return;
    const CopyOnWriteVector<Profile>& profiles = configuration->profiles;
    const auto stored = std::ranges::find(profiles, profileID, &Profile::id);
    if (stored == profiles.end())
        return;
    // Resolutions change only through their own save, which tests them on the screen first.
    preferences.resolutions.reset();
    if (stored->displayPreferences)
        preferences.resolutions = stored->displayPreferences->resolutions;
    const auto index = static_cast<std::size_t>(std::distance(profiles.begin(), stored));
    configuration.modify([&](Configuration& document) {
        document.profiles.edit(index).displayPreferences = std::move(preferences);
    });
    persist();
    // Every other profile inherits what the Default profile sets.
    if (profileID == configuration->activeProfile().id
        || profileID == configuration->defaultProfileID) {
        invalidateSystemDisplayRequest();
        resolveAndApply(false);
    }
}

void AppModel::respectAutomaticBrightness(ResolvedPlan& plan) const
{
    std::vector<ControlKey> owned;
    for (const auto& [key, assignment] : plan.assignments) {
        if (key.setting == SettingKey::brightness && !isUserHold(assignment)
            && automaticBrightnessOwns(key.target.id()))
            owned.push_back(key);
    }
    if (owned.empty())
        return;
    for (const ControlKey& key : owned) {
        plan.assignments.erase(key);
        plan.unavailable.insert_or_assign(key, std::string(managedBrightnessReason));
    }
    // Only the few rules that decided a control can lose a contribution.
    for (const std::size_t index : plan.rules.deciding()) {
        RuleEvaluation& evaluation = plan.rules.evaluationAt(index);
        for (const ControlKey& key : owned) {
            if (std::erase(evaluation.contributions, key) > 0)
                evaluation.reasons.emplace_back(managedBrightnessRuleReason);
        }
    }
}

void AppModel::invalidateSystemDisplayRequest()
{
    if (const auto& task = systemDisplayTask.get())
        task->cancel();
    systemDisplayCommandID.set(UUID::random());
    lastSystemDisplayRequests.set(std::nullopt);
    systemDisplayApplying.set(false);
}

bool AppModel::applySystemDisplayPreferencesIfNeeded()
{
    std::map<SystemDisplayControl, bool> requests = systemDisplayRequests();
    if (lastSystemDisplayRequests.get() == requests)
        return systemDisplayApplying.get();
    // Never overlap a display-mode change; the pass after it tries again.
    if (preview.get() || !modeBusy->empty())
        return true;

    const std::optional<TaskHandle> previous = systemDisplayTask.get();
    if (previous)
        previous->cancel();
    const UUID id = UUID::random();
    systemDisplayCommandID.set(id);
    lastSystemDisplayRequests.set(requests);
    systemDisplayApplying.set(true);
    systemDisplayErrors.set({});

    std::vector<TaskHandle> writes;
    for (const auto& [key, task] : ruleEditRestorations.get())
        writes.push_back(task);
    for (const auto& [key, task] : tasks.get())
        writes.push_back(task);
    for (const ControlKey& key : keysOf(tasks.get()))
        cancelCommand(key);
    cancelModeCommands(false);

    SystemDisplayApply apply{.owner = weak_from_this(),
        .previous = previous,
        .writes = std::move(writes),
        .save = saveTask.get(),
        .id = id,
        .backend = sharedSystemDisplayBackend(),
        .requests = std::move(requests)};
    systemDisplayTask.set(spawn(m_executor, applySystemDisplayPreferences(std::move(apply))));
    return true;
}

void AppModel::finishSystemDisplayApply(const UUID& commandID)
{
    // A newer request owns the flags now.
    if (systemDisplayCommandID.get() != commandID)
        return;
    systemDisplayApplying.set(false);
    systemDisplayTask.set(std::nullopt);
}

Task<void> AppModel::SystemDisplayApply::waitForEarlierWork() const
{
    if (previous)
        co_await *previous;
    for (const TaskHandle& write : writes)
        co_await write;
    if (save)
        co_await *save;
}

std::shared_ptr<AppModel> AppModel::SystemDisplayApply::current(Automation automation) const
{
    std::shared_ptr<AppModel> model = owner.lock();
    if (!model)
        return nullptr;
    const bool wanted = !isCancelled() && model->systemDisplayCommandID.get() == id
        && (automation == Automation::notRequired || model->canApplyAutomatically());
    if (wanted)
        return model;
    model->finishSystemDisplayApply(id);
    return nullptr;
}

void AppModel::SystemDisplayApply::checkOwner() const
{
    if (owner.expired())
        throw CancellationError();
}

SystemDisplayBackend& AppModel::SystemDisplayApply::liveBackend() const
{
    checkOwner();
    return *backend;
}

Task<void> AppModel::SystemDisplayApply::writeAndVerify(
    const SystemDisplayControl& control, bool wanted, SystemDisplaySnapshot& working) const
{
    co_await liveBackend().write(wanted, control);
    checkOwner();
    co_await sleep(preferenceSettlePause);
    checkCancellation();
    working = co_await liveBackend().snapshot();
    if (valueIn(working.values, control) != wanted)
        throw ConfigurationError(ConfigurationError::Invalid{std::string(unconfirmedPreference)});
}

Task<bool> AppModel::SystemDisplayApply::applyControl(
    const SystemDisplayControl& control, bool wanted, SystemDisplaySnapshot& working) const
{
    {
        const auto model = current(Automation::required);
        if (!model)
            co_return false;
        const std::optional<bool> value = valueIn(working.values, control);
        if (!value) {
            // Never written: macOS cannot even read it.
            recordError(*model, control, unavailableReason(working, control));
            co_return true;
        }
        if (*value == wanted)
            co_return true;
    }
    std::optional<std::string> failure;
    try {
        co_await writeAndVerify(control, wanted, working);
    } catch (const CancellationError&) {
        throw;
    } catch (const Error& error) {
        failure = error.what();
    }
    if (!failure)
        co_return true;
    // The others are still written; there is no automatic retry.
    const auto model = current(Automation::notRequired);
    if (!model)
        co_return false;
    recordError(*model, control, *failure);
    co_return true;
}

Task<void> AppModel::applySystemDisplayPreferences(SystemDisplayApply apply)
{
    co_await apply.waitForEarlierWork();
    try {
        if (!apply.current(Automation::required))
            co_return;
        SystemDisplaySnapshot working = co_await apply.liveBackend().snapshot();
        for (const auto& [control, wanted] : apply.requests) {
            if (!co_await apply.applyControl(control, wanted, working))
                co_return;
        }
        SystemDisplaySnapshot final = co_await apply.liveBackend().snapshot();
        const auto model = apply.current(Automation::notRequired);
        if (!model)
            co_return;
        model->systemDisplaySnapshot.set(std::move(final));
        model->releaseOwnedBrightnessHolds();
        model->systemDisplayApplying.set(false);
        model->systemDisplayTask.set(std::nullopt);
        model->resolveAndApply(false);
    } catch (const CancellationError&) {
        if (const auto model = apply.owner.lock())
            model->finishSystemDisplayApply(apply.id);
    }
}

void AppModel::releaseOwnedBrightnessHolds()
{
    std::set<ControlKey> keys = keySet(holds.get());
    keys.merge(keySet(manualRecoveries.get()));
    for (const ControlKey& key : keys) {
        if (key.setting != SettingKey::brightness || !automaticBrightnessOwns(key.target.id()))
            continue;
        forgetHold(key);
    }
}

Task<void> AppModel::refreshSystemDisplayPreferences(bool capture)
{
    const UUID id = systemDisplayCommandID.get();
    SystemDisplaySnapshot snapshot = co_await systemDisplayBackend().snapshot();
    // A running apply publishes its own read-back.
    if (systemDisplayCommandID.get() != id || systemDisplayApplying.get())
        co_return;
    if (keySet(snapshot.values) != keySet(systemDisplaySnapshot->values))
        invalidateSystemDisplayRequest();
    systemDisplaySnapshot.set(snapshot);
    if (!capture || settingsError.get())
        co_return;
    if (!configuration->capturesSystemDisplayDefaults(snapshot))
        co_return; // Nothing new: the document is not copied.
    bool added = false;
    configuration.modify(
        [&](Configuration& document) { added = document.captureSystemDisplayDefaults(snapshot); });
    if (!added || !isLoaded.get()) // start-up saves once it has settled the whole document
        co_return;
    const PendingCaptureSave pending(*this);
    persist();
    if (const std::optional<TaskHandle> save = saveTask.get())
        co_await *save;
}

} // namespace quorvane
