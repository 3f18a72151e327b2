#include "Quorvane/AppModel.h"

#include "Concurrency/Cancellation.h"
#include "Concurrency/Executor.h"
#include "Foundation/Error.h"
#include "Foundation/Overloaded.h"

#include <utility>
#include <variant>

namespace quorvane {

bool AppModel::brightnessKeyPressed(BrightnessKeyDirection direction)
{
    // A press that cannot be served passes to the system, which then handles it as usual.
    if (!isLoaded.get() || settingsError.get() || !configuration->brightnessKeysEnabled
        || isSuspended.get() || preview.get())
        return false;
    const std::optional<ControlKey> key = builtinBrightnessKey();
    if (!key || modeBusy->contains(key->target.id()))
        return false;
    const auto capability = hardwareSnapshot->capabilities.find(*key);
    if (capability == hardwareSnapshot->capabilities.end() || !capability->second.available)
        return false;
    if (failed->contains(*key))
        return false;

    std::optional<BrightnessKeyAdjustmentQueue::Action> action;
    keyQueue.modify([&](BrightnessKeyAdjustmentQueue& queue) {
        action = queue.enqueue(direction, configuration->brightnessKeyStep);
    });
    const auto perform = Overloaded{
        [&](const BrightnessKeyAdjustmentQueue::Action::Apply& apply) {
            manual(SettingValue::percent(apply.target), *key, true);
        },
        [&](const BrightnessKeyAdjustmentQueue::Action::ReadCurrent&) {
            // One read per burst; the presses arriving meanwhile fold onto its value.
            m_scheduler.cancel();
            cancelCommand(*key);
            keyReadTask.set(spawn(
                m_executor, readKeyBrightness(weak_from_this(), sharedControlBackend(), *key)));
        },
        [](const BrightnessKeyAdjustmentQueue::Action::Queued&) {},
    };
    std::visit(perform, action->value);
    return true;
}

Task<void> AppModel::readKeyBrightness(
    std::weak_ptr<AppModel> weakModel, std::shared_ptr<ControlBackend> backend, ControlKey key)
{
    std::optional<SettingValue> value;
    std::optional<std::string> failure;
    try {
        checkCancellation();
        value = co_await backend->read(key);
    } catch (const Error& error) {
        // A cancellation this task did not ask for (the backend gave up) is a failed read like
        // any other; left unhandled, the burst would wait for it forever.
        failure = error.what();
    }
    const auto model = weakModel.lock();
    // Whoever cancelled the read has already dealt with the queue.
    if (!model || isCancelled())
        co_return;
    if (failure)
        model->keyBrightnessReadFailed(key, *failure);
    else
        model->keyBrightnessRead(key, *value);
}

void AppModel::keyBrightnessRead(const ControlKey& key, const SettingValue& value)
{
    if (isSuspended.get() || preview.get() || builtinBrightnessKey() != key
        || modeBusy->contains(key.target.id())) {
        cancelKeyRead();
        return;
    }
    keyReadTask.set(std::nullopt);
    const auto* current = std::get_if<SettingValue::Percent>(&value.value);
    std::optional<double> target;
    keyQueue.modify([&](BrightnessKeyAdjustmentQueue& queue) {
        // Anything but a percentage cannot carry the steps; dropping them lets the next press
        // start afresh instead of queueing behind a read that will never come.
        if (current)
            target = queue.resolve(current->value);
        else
            queue.reset();
    });
    if (target)
        manual(SettingValue::percent(*target), key, true);
}

void AppModel::keyBrightnessReadFailed(const ControlKey& key, const std::string& message)
{
    keyReadTask.set(std::nullopt);
    keyQueue.modify([](BrightnessKeyAdjustmentQueue& queue) { queue.reset(); });
    controlStatus.modify(
        [&](std::map<ControlKey, std::string>& status) { status.insert_or_assign(key, message); });
    // Marked failed, the key's presses pass to the system until the hardware is checked again.
    const auto last = observed->find(key);
    failed.modify([&](std::map<ControlKey, SettingValue>& values) {
        if (last != observed->end())
            values.insert_or_assign(key, last->second);
        else
            values.erase(key);
    });
}

void AppModel::updateBrightnessKeys()
{
    if (isDemo)
        return;
    const std::optional<ControlKey> key = builtinBrightnessKey();
    const auto capability
        = key ? hardwareSnapshot->capabilities.find(*key) : hardwareSnapshot->capabilities.end();
    const bool available = capability != hardwareSnapshot->capabilities.end()
        && capability->second.available && !isSuspended.get();
    const bool wanted
        = isLoaded.get() && !settingsError.get() && configuration->brightnessKeysEnabled;
    m_brightnessKeys->update(wanted && available);
    brightnessKeyStatus.set(
        wanted && !available ? BrightnessKeyStatus::unavailable : m_brightnessKeys->status());
    if (!wanted)
        cancelKeyRead();
}

void AppModel::cancelKeyRead()
{
    if (const std::optional<TaskHandle> task = keyReadTask.get()) {
        task->cancel();
        keyReadTask.set(std::nullopt);
    }
    keyQueue.modify([](BrightnessKeyAdjustmentQueue& queue) { queue.reset(); });
}

} // namespace quorvane
