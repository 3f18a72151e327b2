#include "Quorvane/AppModel.h"

#include "Concurrency/Cancellation.h"
#include "Concurrency/Executor.h"
#include "Foundation/Error.h"
#include "Quorvane/SimulatedControls.h"
#include "QuorvaneMac/MacControlBackend.h"

#include <string_view>
#include <utility>

namespace quorvane {
namespace {

constexpr std::string_view applyingStatus = "Applying…";
constexpr std::string_view confirmedStatus = "Readback confirmed";
// The platform layer gives natively driven brightness a reason starting with this.
constexpr std::string_view nativeReasonPrefix = "Native";

template <typename Key, typename Value>
void erase(Observable<std::map<Key, Value>>& field, const Key& key)
{
    field.modify([&](std::map<Key, Value>& map) { map.erase(key); });
}

template <typename Key, typename Value>
void assign(Observable<std::map<Key, Value>>& field, const Key& key, Value value)
{
    field.modify([&](std::map<Key, Value>& map) { map.insert_or_assign(key, std::move(value)); });
}

std::string unconfirmedStatus(const SettingValue& requested, const SettingValue& reported)
{
    return "Requested " + requested.label() + "; reported " + reported.label();
}

} // namespace

/// Fixed when the command starts. The task shares the backend and the driver with the model, so
/// both are still there when it resumes after the model has gone.
struct AppModel::Command {
    SettingValue value;
    ControlKey key;
    bool manual = false;
    UUID id;
    std::optional<UUID> liveEditID;
    bool smooth = false;
    std::shared_ptr<ControlBackend> backend;
    std::shared_ptr<ControlDriver> driver;
};

ControlBackend& AppModel::controlBackend() { return *sharedControlBackend(); }

std::shared_ptr<ControlBackend> AppModel::sharedControlBackend()
{
    if (injectedControlBackend)
        return {std::shared_ptr<ControlBackend>(), injectedControlBackend};
    if (isDemo)
        return m_simulated;
    return m_hardware;
}

void AppModel::cancelCommand(ControlKey key)
{
    const auto running = tasks->find(key);
    if (running != tasks->end()) {
        const TaskHandle task = running->second;
        erase(observed, key);
        erase(confirmedApplications, key);
        assign(lastWrite, key, m_executor.wallNow());
        task.cancel();
        erase(tasks, key);
    }
    assign(commandIDs, key, UUID::random());
    erase(applying, key);
}

void AppModel::recordApplication(const ControlApplyReport& report, ControlKey key)
{
    assign(observed, key, report.observed);
    assign(lastWrite, key, m_executor.wallNow());
    if (report.verified())
        assign(confirmedApplications, key, report);
    else
        erase(confirmedApplications, key);
}

void AppModel::scheduleApply(SettingValue value, ControlKey key, bool manual)
{
    cancelCommand(key);
    erase(confirmedApplications, key);
    const UUID commandID = UUID::random();
    assign(commandIDs, key, commandID);
    assign(applying, key, value);
    assign(lastWrite, key, m_executor.wallNow());
    erase(failed, key);
    assign(controlStatus, key, std::string(applyingStatus));

    std::optional<UUID> liveEditID;
    if (!manual && liveRuleKeys->contains(key) && liveRuleEdit.get())
        liveEditID = liveRuleEdit.get()->id;
    if (liveEditID)
        liveRuleEdit.modify([&](std::optional<LiveRuleEdit>& edit) {
            edit->requested[key].push_back(value);
        });

    bool smooth = !liveEditID && !manual && configuration->smoothTransitions
        && key.setting == SettingKey::brightness;
    if (smooth && !isDemo) {
        const auto capability = hardwareSnapshot->capabilities.find(key);
        smooth = capability != hardwareSnapshot->capabilities.end()
            && capability->second.reason.starts_with(nativeReasonPrefix);
    }

    Command command{.value = value,
        .key = key,
        .manual = manual,
        .id = commandID,
        .liveEditID = liveEditID,
        .smooth = smooth,
        .backend = sharedControlBackend(),
        .driver = m_driver};
    const TaskHandle task = spawn(m_executor, runCommand(weak_from_this(), std::move(command)));
    assign(tasks, key, task);
    if (liveEditID)
        liveRuleEdit.modify(
            [&](std::optional<LiveRuleEdit>& edit) { edit->commands.push_back(task); });
}

bool AppModel::isCurrentCommand(const ControlKey& key, const UUID& commandID) const
{
    const auto current = commandIDs->find(key);
    return current != commandIDs->end() && current->second == commandID;
}

namespace {

bool isLiveEdit(const AppModel& model, const UUID& liveEditID)
{
    return model.liveRuleEdit.get() && model.liveRuleEdit.get()->id == liveEditID;
}

} // namespace

Task<void> AppModel::runCommand(std::weak_ptr<AppModel> weakModel, Command command)
{
    const ControlKey& key = command.key;
    try {
        if (command.liveEditID) {
            bool needsOriginal = false;
            {
                const auto model = weakModel.lock();
                if (!model || !isLiveEdit(*model, *command.liveEditID))
                    co_return;
                needsOriginal = !model->liveRuleEdit.get()->originals.contains(key);
            }
            if (needsOriginal) {
                SettingValue original = co_await command.backend->read(key);
                checkCancellation();
                const auto model = weakModel.lock();
                if (!model || !isLiveEdit(*model, *command.liveEditID)
                    || !model->isCurrentCommand(key, command.id))
                    co_return;
                model->liveRuleEdit.modify([&](std::optional<LiveRuleEdit>& edit) {
                    edit->originals.insert_or_assign(key, std::move(original));
                });
            }
        }
        if (command.manual) {
            bool needsOriginal = false;
            {
                const auto model = weakModel.lock();
                if (!model)
                    co_return;
                needsOriginal = !model->manualOriginals->contains(key);
            }
            if (needsOriginal) {
                SettingValue original = co_await command.backend->read(key);
                checkCancellation();
                const auto model = weakModel.lock();
                if (!model || !model->isCurrentCommand(key, command.id))
                    co_return;
                assign(model->manualOriginals, key, std::move(original));
            }
        }
        const ControlApplyReport report
            = co_await command.driver->apply(command.value, key, command.smooth, *command.backend);
        const auto model = weakModel.lock();
        if (!model || !model->isCurrentCommand(key, command.id) || isCancelled())
            co_return;
        model->commandSucceeded(report, command);
    } catch (const CancellationError&) {
        const auto model = weakModel.lock();
        if (model && model->isCurrentCommand(key, command.id) && !isCancelled())
            model->commandInterrupted(key);
    } catch (const Error& error) {
        const auto model = weakModel.lock();
        if (model && model->isCurrentCommand(key, command.id) && !isCancelled())
            model->commandFailed(error, command);
    }
}

void AppModel::commandSucceeded(const ControlApplyReport& report, const Command& command)
{
    const ControlKey& key = command.key;
    const bool verified = report.verified();
    recordApplication(report, key);
    assign(controlStatus, key,
        verified ? std::string(confirmedStatus) : unconfirmedStatus(command.value, report.observed));
    if (!verified)
        assign(failed, key, command.value);
    erase(applying, key);
    erase(tasks, key);
    if (const auto* percent = std::get_if<SettingValue::Percent>(&command.value.value);
        percent && builtinBrightnessKey() == key)
        keyQueue.modify(
            [&](BrightnessKeyAdjustmentQueue& queue) { queue.completed(percent->value); });
    const auto recovery = manualRecoveries->find(key);
    if (verified && recovery != manualRecoveries->end() && recovery->second == command.value) {
        erase(manualRecoveries, key);
        resolveAndApply(false);
    }
}

void AppModel::commandInterrupted(const ControlKey& key)
{
    // The driver dropped a write that is still wanted: plan again; the status keeps "Applying…".
    erase(observed, key);
    erase(applying, key);
    erase(tasks, key);
    resolveAndApply(false);
}

void AppModel::commandFailed(const Error& error, const Command& command)
{
    const ControlKey& key = command.key;
    assign(controlStatus, key, std::string(error.what()));
    assign(failed, key, command.value);
    erase(applying, key);
    erase(tasks, key);
    if (builtinBrightnessKey() == key)
        keyQueue.modify([](BrightnessKeyAdjustmentQueue& queue) { queue.reset(); });
}

} // namespace quorvane
