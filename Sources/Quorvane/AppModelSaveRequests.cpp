// The save path of edited rules and Default settings: check the candidate document, then save.
// FIXME: Run the Keep/Revert display tests that a changed HDR or refresh rate needs before the
// save, once the display-mode previews exist.
#include "Quorvane/AppModel.h"

#include "Foundation/Error.h"

#include <algorithm>
#include <utility>

namespace quorvane {
namespace {

bool acceptsSave(const AppModel& model)
{
    return model.isLoaded.get() && !model.settingsError.get() && !model.preview.get();
}

/// Validates the candidate; the refusal goes to actionError.
bool isValidCandidate(AppModel& model, const Configuration& candidate)
{
    try {
        candidate.validate();
        return true;
    } catch (const Error& error) {
        model.actionError.set(std::string(error.what()));
        return false;
    }
}

} // namespace

void AppModel::requestRuleSave(
    const Rule& rule, UUID profileID, bool selectSavedRule, std::function<void()> onSaved)
{
    if (!acceptsSave(*this) || profileID == configuration->defaultProfileID)
        return;
    Configuration candidate = configuration.get();
    const auto profile = std::ranges::find(candidate.profiles, profileID, &Profile::id);
    if (profile == candidate.profiles.end())
        return;
    const auto stored = std::ranges::find(profile->rules, rule.id, &Rule::id);
    if (stored == profile->rules.end())
        profile->rules.push_back(rule);
    else
        *stored = rule;
    if (!isValidCandidate(*this, candidate))
        return;
    if (saveRule(rule, profileID, selectSavedRule) && onSaved)
        onSaved();
}

void AppModel::requestDefaultSave(const DefaultSettingsDraft& draft, std::function<void()> onSaved)
{
    if (!acceptsSave(*this))
        return;
    Configuration candidate = configuration.get();
    candidate.setDefaultSettings(draft.merged(candidate.defaultSettings()));
    if (!isValidCandidate(*this, candidate))
        return;
    if (saveDefaultSettings(draft) && onSaved)
        onSaved();
}

} // namespace quorvane
