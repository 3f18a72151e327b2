#include "Quorvane/AppModel.h"

#include "MacPlatform/ApplicationShell.h"
#include "QuorvaneMac/MacControlBackend.h"

#include <filesystem>
#include <map>
#include <system_error>
#include <utility>

namespace quorvane {
namespace {

template <typename Key> std::vector<TaskHandle> valuesOf(const std::map<Key, TaskHandle>& map)
{
    std::vector<TaskHandle> values;
    values.reserve(map.size());
    for (const auto& entry : map)
        values.push_back(entry.second);
    return values;
}

} // namespace

void AppModel::quit()
{
    if (isQuitting.get())
        return;
    isQuitting.set(true);
    pendingHardwareRefresh.set(false);
    isRefreshing.set(false);
    // A hardware refresh still in flight sees the new revision and changes nothing.
    refreshRevision.set(refreshRevision.get() + 1);
    invalidateSystemDisplayRequest();
    endRuleEditing(false);
    m_brightnessKeys->stop();
    cancelKeyRead();
    if (const auto& polling = pollingTask.get())
        polling->cancel();
    m_scheduler.cancel();
    isSuspended.set(true);

    std::vector<ControlKey> commands;
    for (const auto& entry : tasks.get())
        commands.push_back(entry.first);
    for (const ControlKey& key : commands)
        cancelCommand(key);
    std::vector<TaskHandle> modeWork = valuesOf(modeTasks.get());
    for (const TaskHandle& task : modeWork)
        task.cancel();
    cancelPreview();

    spawn(m_executor, finishQuit(shared_from_this(), std::move(modeWork)));
}

// One wait at a time, each task read when its turn comes: work started meanwhile (a restoration
// that saves, for one) is still waited for.
Task<void> AppModel::finishQuit(std::shared_ptr<AppModel> model, std::vector<TaskHandle> modeWork)
{
    if (const std::optional<TaskHandle> preferences = model->systemDisplayTask.get())
        co_await *preferences;
    for (const TaskHandle& restoration : valuesOf(model->ruleEditRestorations.get()))
        co_await restoration;
    for (const TaskHandle& task : modeWork)
        co_await task;
    if (const std::optional<TaskHandle> preview = model->previewTask.get())
        co_await *preview;
    for (const TaskHandle& retry : valuesOf(model->restoreTasks.get()))
        co_await retry;
    for (const auto& [displayID, pending] : std::map(model->pendingRestores.get()))
        (void)co_await model->restoreDisplay(pending.token, pending.original, displayID);
    // The failures are not shown: the application is ending.
    if (!model->isDemo)
        (void)co_await model->m_hardware->restoreSession();
    if (const std::optional<TaskHandle> save = model->saveTask.get())
        co_await *save;
    if (const auto& folder = model->m_temporarySettingsFolder) {
        std::error_code ignored; // what stays is the temporary folder's to clean up
        std::filesystem::remove_all(*folder, ignored);
    }
    model->terminationPrepared.set(true);
    model->m_shell.terminate();
}

} // namespace quorvane
