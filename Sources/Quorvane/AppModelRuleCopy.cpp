// The confirmation shown once a copied rule is saved, and whether a profile needs window access.
#include "Quorvane/AppModel.h"

#include "Concurrency/Cancellation.h"

#include <algorithm>
#include <utility>

namespace quorvane {
namespace {

/// Shows the confirmation after the pending save, unless the save failed or the copy is gone.
Task<void> showRuleCopyConfirmation(std::optional<TaskHandle> pendingSave,
    std::weak_ptr<AppModel> weakModel, UUID profileID, Rule rule)
{
    if (pendingSave)
        co_await *pendingSave;
    const auto model = weakModel.lock();
    // A failed save leaves its message in settingsError.
    if (!model || isCancelled() || !model->isLoaded.get() || model->settingsError.get())
        co_return;
    const CopyOnWriteVector<Profile>& profiles = model->configuration->profiles;
    const auto profile = std::ranges::find(profiles, profileID, &Profile::id);
    if (profile == profiles.end()
        || std::ranges::find(profile->rules, rule.id, &Rule::id) == profile->rules.end())
        co_return;
    model->ruleCopyFeedback.set(RuleCopyFeedback{
        .id = UUID::random(), .ruleName = rule.name, .profileName = profile->name});
}

/// An enabled rule on applications that also names a screen or a Space, or sets a value, can
/// only be decided from the focused window.
bool needsFocusedWindow(const Rule& rule)
{
    const RuleConditions& conditions = rule.conditions;
    return rule.isEnabled && conditions.hasAppCondition()
        && (conditions.screen || conditions.space || !rule.settings.isEmpty());
}

} // namespace

void AppModel::confirmRuleCopy(const Rule& rule, UUID profileID)
{
    // Only the latest copy is confirmed.
    if (const std::optional<TaskHandle>& waiting = ruleCopyConfirmationTask.get())
        waiting->cancel();
    ruleCopyConfirmationTask.set(spawn(
        m_executor, showRuleCopyConfirmation(saveTask.get(), weak_from_this(), profileID, rule)));
}

void AppModel::dismissRuleCopyFeedback(UUID id)
{
    // A view that goes away late must not remove a newer confirmation.
    if (ruleCopyFeedback.get() && ruleCopyFeedback.get()->id == id)
        ruleCopyFeedback.set(std::nullopt);
}

bool AppModel::needsWindowAccess(const Profile& profile) const
{
    return !hasWindowAccess.get() && std::ranges::any_of(profile.rules, needsFocusedWindow);
}

} // namespace quorvane
