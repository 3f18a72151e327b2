#include "Quorvane/AppModel.h"

#include "Concurrency/Cancellation.h"
#include "Concurrency/Executor.h"
#include "Concurrency/Sleep.h"
#include "Quorvane/SimulatedSystemDisplayPreferences.h"
#include "QuorvaneCore/ConfigurationError.h"
#include "QuorvaneCore/SystemDisplayBackend.h"

#include <algorithm>
#include <chrono>
#include <utility>

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
    std::set<Key> keys;
    for (const auto& entry : map)
        keys.insert(entry.first);
    return keys;
}

std::optional<bool> valueIn(const SystemDisplaySnapshot& snapshot, const SystemDisplayControl& control)
{
    const auto found = snapshot.values.find(control);
    if (found == snapshot.values.end())
        return std::nullopt;
    return found->second;
}

std::string unavailableReason(const SystemDisplaySnapshot& snapshot, const SystemDisplayControl& control)
{
    const auto reason = snapshot.unavailable.find(control);
    if (reason == snapshot.unavailable.end())
        return std::string(unavailablePreference);
    return reason->second;
}

bool isUserHold(const ResolvedAssignment& assignment)
{
    const auto* manual = std::get_if<ResolutionSource::Manual>(&assignment.source.value);
    return manual && !manual->isExternal;
}

} // namespace

/// What one apply task works from, fixed when it starts.
struct AppModel::SystemDisplayApply {
    std::optional<TaskHandle> previous;
    /// Rule-edit restorations, then the cancelled control writes.
    std::vector<TaskHandle> writes;
    std::optional<TaskHandle> save;
    UUID id;
    SystemDisplayBackend* backend = nullptr;
    std::map<SystemDisplayControl, bool> requests;
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
    std::set<SystemDisplayControl> controls = keySet(systemDisplaySnapshot->values);
    controls.merge(keySet(systemDisplaySnapshot->unavailable));
    return configuration->systemDisplayRequests(configuration->activeProfile(), controls);
}

bool AppModel::automaticBrightnessOwns(const std::string& displayID) const
{
    const SystemDisplayControl control = SystemDisplayControl::automaticBrightness(displayID);
    if (valueIn(systemDisplaySnapshot.get(), control) == true)
        return true;
    if (!systemDisplayApplying.get())
        return false;
    // An apply that is switching it on owns the brightness already.
    const auto requests = systemDisplayRequests();
    const auto requested = requests.find(control);
    return requested != requests.end() && requested->second;
}

void AppModel::respectAutomaticBrightness()
{
    ResolvedPlan plan = resolution.get();
    for (const auto& [key, assignment] : resolution->assignments) {
        if (key.setting != SettingKey::brightness || isUserHold(assignment)
            || !automaticBrightnessOwns(key.target.id()))
            continue;
        plan.assignments.erase(key);
        plan.unavailable.insert_or_assign(key, std::string(managedBrightnessReason));
        for (auto& [ruleID, evaluation] : plan.rules) {
            if (std::erase(evaluation.contributions, key) > 0)
                evaluation.reasons.emplace_back(managedBrightnessRuleReason);
        }
    }
    resolution.set(std::move(plan));
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
    for (const ControlKey& key : keySet(tasks.get()))
        cancelCommand(key);
    cancelModeCommands(false);

    SystemDisplayApply apply{.previous = previous,
        .writes = std::move(writes),
        .save = saveTask.get(),
        .id = id,
        .backend = &systemDisplayBackend(),
        .requests = std::move(requests)};
    systemDisplayTask.set(
        spawn(m_executor, applySystemDisplayPreferences(weak_from_this(), std::move(apply))));
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

namespace {

/// Neither cancelled nor superseded: the apply task may still change the model.
bool isCurrentApply(const AppModel& model, const UUID& id)
{
    return !isCancelled() && model.systemDisplayCommandID.get() == id;
}

} // namespace

Task<void> AppModel::applySystemDisplayPreferences(
    std::weak_ptr<AppModel> weakModel, SystemDisplayApply apply)
{
    if (apply.previous)
        co_await *apply.previous;
    for (const TaskHandle& write : apply.writes)
        co_await write;
    if (apply.save)
        co_await *apply.save;
    try {
        {
            const auto model = weakModel.lock();
            if (!model)
                co_return;
            if (!isCurrentApply(*model, apply.id) || !model->canApplyAutomatically()) {
                model->finishSystemDisplayApply(apply.id);
                co_return;
            }
        }
        SystemDisplaySnapshot working = co_await apply.backend->snapshot();
        for (const auto& request : apply.requests) {
            // Named copies: clang 14 lambdas cannot capture structured bindings.
            const SystemDisplayControl& control = request.first;
            const bool wanted = request.second;
            {
                const auto model = weakModel.lock();
                if (!model)
                    co_return;
                if (!isCurrentApply(*model, apply.id) || !model->canApplyAutomatically()) {
                    model->finishSystemDisplayApply(apply.id);
                    co_return;
                }
                const std::optional<bool> current = valueIn(working, control);
                if (!current) {
                    model->systemDisplayErrors.modify([&](auto& errors) {
                        errors.insert_or_assign(control, unavailableReason(working, control));
                    });
                    continue;
                }
                if (*current == wanted)
                    continue;
            }
            std::optional<std::string> failure;
            try {
                co_await apply.backend->write(wanted, control);
                co_await sleep(preferenceSettlePause);
                checkCancellation();
                working = co_await apply.backend->snapshot();
                if (valueIn(working, control) != wanted)
                    throw ConfigurationError(
                        ConfigurationError::Invalid{std::string(unconfirmedPreference)});
            } catch (const CancellationError&) {
                throw;
            } catch (const Error& error) {
                failure = error.what();
            }
            if (!failure)
                continue;
            const auto model = weakModel.lock();
            if (!model)
                co_return;
            if (!isCurrentApply(*model, apply.id)) {
                model->finishSystemDisplayApply(apply.id);
                co_return;
            }
            model->systemDisplayErrors.modify(
                [&](auto& errors) { errors.insert_or_assign(control, *failure); });
        }
        SystemDisplaySnapshot final = co_await apply.backend->snapshot();
        const auto model = weakModel.lock();
        if (!model)
            co_return;
        if (!isCurrentApply(*model, apply.id)) {
            model->finishSystemDisplayApply(apply.id);
            co_return;
        }
        model->systemDisplaySnapshot.set(std::move(final));
        model->releaseOwnedBrightnessHolds();
        model->systemDisplayApplying.set(false);
        model->systemDisplayTask.set(std::nullopt);
        model->resolveAndApply(false);
    } catch (const CancellationError&) {
        if (const auto model = weakModel.lock())
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
        holds.modify([&](auto& map) { map.erase(key); });
        manualOriginals.modify([&](auto& map) { map.erase(key); });
        manualRecoveries.modify([&](auto& map) { map.erase(key); });
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
    bool added = false;
    configuration.modify(
        [&](Configuration& document) { added = document.captureSystemDisplayDefaults(snapshot); });
    if (!added)
        co_return;
    // Nothing applies automatically until the captured values are on disk.
    pendingDefaultCaptureSaves.set(pendingDefaultCaptureSaves.get() + 1);
    persist();
    if (const std::optional<TaskHandle> save = saveTask.get())
        co_await *save;
    pendingDefaultCaptureSaves.set(pendingDefaultCaptureSaves.get() - 1);
}

} // namespace quorvane
