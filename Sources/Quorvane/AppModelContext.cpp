#include "Quorvane/AppModel.h"
#include "Quorvane/MapKeys.h"

#include "QuorvaneMac/FocusedWindowProvider.h"

#include <utility>

namespace quorvane {
namespace {

std::vector<std::string> identifiersOf(const std::vector<DisplayDevice>& displays)
{
    std::vector<std::string> identifiers;
    identifiers.reserve(displays.size());
    for (const DisplayDevice& display : displays)
        identifiers.push_back(display.id);
    return identifiers;
}

std::vector<DisplayContext> displayContexts(
    const std::vector<DisplayDevice>& displays, const std::map<std::string, SpaceSnapshot>& spaces)
{
    std::vector<DisplayContext> contexts;
    contexts.reserve(displays.size());
    for (const DisplayDevice& display : displays) {
        DisplayContext entry{.id = display.id};
        if (const auto found = spaces.find(display.id);
            found != spaces.end() && found->second.current)
            entry.activeSpaceID = found->second.current->id;
        contexts.push_back(std::move(entry));
    }
    return contexts;
}

// A named coroutine: the scheduler keeps the operation, and the model may be gone by its turn.
Task<void> resolveAfterContextChange(std::weak_ptr<AppModel> weakModel)
{
    if (const auto model = weakModel.lock())
        model->resolveAndApply(false);
    co_return;
}

} // namespace

void AppModel::contextChanged()
{
    // While suspended only the hardware refresh that ends the suspension rebuilds the context.
    if (isDemo || isSuspended.get())
        return;
    const RuntimeContext previous = context.get();
    refreshContext();
    // Writes that failed under the old context may well succeed under the new one.
    if (context.get() != previous)
        failed.set({});
    const std::weak_ptr<AppModel> weakModel = weak_from_this();
    const bool accepted
        = m_scheduler.schedule(context.get(), configuration->effectiveDebounceMilliseconds(), false,
            [weakModel] { return resolveAfterContextChange(weakModel); });
    // The scheduler already holds this context: the commands under way still serve it.
    if (!accepted)
        return;
    cancelAutomaticCommands();
    for (const std::string& displayID : keysOf(modeTasks.get()))
        cancelModeCommand(displayID);
}

void AppModel::refreshContext()
{
    // The demo set-up owns the context.
    if (isDemo)
        return;
    const std::optional<std::string> focusedDisplayID = m_focus->snapshot(displays.get());
    currentAppName.set(m_focus->appName());
    focusMessage.set(m_focus->message());
    hasWindowAccess.set(m_focus->isTrusted());
    spacesByDisplay.set(m_spaceProvider->snapshots(identifiersOf(displays.get())));
    context.set(RuntimeContext{.appBundleID = m_focus->appBundleID(),
        .focusedDisplayID = focusedDisplayID,
        .displays = displayContexts(displays.get(), spacesByDisplay.get()),
        .suspended = isSuspended.get()});
}

void AppModel::suspend()
{
    if (isDemo)
        return;
    invalidateSystemDisplayRequest();
    pendingHardwareRefresh.set(false);
    isSuspended.set(true);
    context.modify([](RuntimeContext& current) { current.suspended = true; });
    isRefreshing.set(false);
    // A refresh in flight must change nothing once it resumes.
    refreshRevision.set(refreshRevision.get() + 1);
    m_scheduler.cancel();
    cancelKeyRead();
    for (const ControlKey& key : keysOf(tasks.get()))
        cancelCommand(key);
    for (const ControlKey& key : keysOf(ruleEditRestorations.get()))
        cancelRuleEditRestoration(key);
    for (const std::string& displayID : keysOf(modeTasks.get()))
        cancelModeCommand(displayID);
    if (preview.get())
        cancelPreview();
}

} // namespace quorvane
