// Copying, switching, moving, deleting and saving rules, and saving the Default settings.
#include "Quorvane/AppModel.h"
#include "Quorvane/CandidateValidation.h"

#include <algorithm>
#include <cstdint>

namespace quorvane {
namespace {

bool acceptsChanges(const AppModel& model)
{
    return model.isLoaded.get() && !model.settingsError.get();
}

bool acceptsDisplayChanges(const AppModel& model)
{
    return acceptsChanges(model) && !model.preview.get();
}

/// The first profile with the id; null when there is none.
const Profile* profileWithID(const Configuration& configuration, const UUID& profileID)
{
    const auto found = std::ranges::find(configuration.profiles, profileID, &Profile::id);
    return found == configuration.profiles.end() ? nullptr : &*found;
}

/// The first profile with the id, to change; null when there is none.
Profile* editableProfile(Configuration& configuration, const UUID& profileID)
{
    const auto found = std::ranges::find(configuration.profiles, profileID, &Profile::id);
    return found == configuration.profiles.end() ? nullptr : &configuration.profiles.edit(found);
}

/// The first profile holding a rule with the id; null when none does.
const Profile* profileHoldingRule(const Configuration& configuration, const UUID& ruleID)
{
    const auto found = std::ranges::find_if(configuration.profiles, [&](const Profile& profile) {
        return std::ranges::find(profile.rules, ruleID, &Rule::id) != profile.rules.end();
    });
    return found == configuration.profiles.end() ? nullptr : &*found;
}

/// Makes the changed document the model's, saves it and applies what it now says.
void adoptChange(AppModel& model, Configuration document)
{
    model.configuration.set(std::move(document));
    model.persist();
    model.resolveAndApply(false);
}

/// Stores `rule` in the profile: in place of the first rule with its id, keeping that rule's
/// enabled flag (only the switch in the list changes it), else appended.
/// Stores `rule` in place of the profile's rule with its id, keeping whether it is enabled, or
/// adds it; returns the stored rule and whether it was added.
std::pair<const Rule&, bool> storeRule(Profile& profile, const Rule& rule)
{
    const auto stored = std::ranges::find(profile.rules, rule.id, &Rule::id);
    if (stored == profile.rules.end()) {
        profile.rules.push_back(rule);
        return {profile.rules.back(), true};
    }
    Rule& kept = profile.rules.edit(stored);
    const bool isEnabled = kept.isEnabled;
    kept = rule;
    kept.isEnabled = isEnabled;
    return {kept, false};
}

} // namespace

bool AppModel::copyRule(UUID ruleID, UUID targetProfileID)
{
    if (!acceptsDisplayChanges(*this) || targetProfileID == configuration->defaultProfileID)
        return false;
    Configuration document = configuration.get();
    const Profile* target = profileWithID(document, targetProfileID);
    const Profile* source = profileHoldingRule(document, ruleID);
    if (!target || !source || source->id == targetProfileID)
        return false;
    Rule copy = *std::ranges::find(source->rules, ruleID, &Rule::id);
    copy.id = UUID::random();

    // An older copy's confirmation must not appear once this one has started.
    if (const std::optional<TaskHandle>& confirmation = ruleCopyConfirmationTask.get())
        confirmation->cancel();
    ruleCopyFeedback.set(std::nullopt);
    const std::weak_ptr<AppModel> weakModel = weak_from_this();
    requestRuleSave(copy, targetProfileID, false, [weakModel, copy, targetProfileID] {
        if (const auto model = weakModel.lock())
            model->confirmRuleCopy(copy, targetProfileID);
    });
    return true;
}

void AppModel::toggleRule(UUID ruleID, UUID profileID)
{
    if (!acceptsChanges(*this) || profileID == configuration->defaultProfileID)
        return;
    // In place: a copy of the document costs a copy of every profile.
    bool isToggled = false;
    configuration.update([&](Configuration& document) {
        Profile* profile = editableProfile(document, profileID);
        if (!profile)
            return false;
        const auto rule = std::ranges::find(profile->rules, ruleID, &Rule::id);
        if (rule == profile->rules.end())
            return false;
        Rule& toggled = profile->rules.edit(rule);
        toggled.isEnabled = !toggled.isEnabled;
        isToggled = true;
        return true;
    });
    if (!isToggled)
        return;
    persist();
    resolveAndApply(false);
}

void AppModel::moveRule(UUID ruleID, UUID profileID, std::int64_t offset)
{
    if (!acceptsChanges(*this) || profileID == configuration->defaultProfileID)
        return;
    Configuration document = configuration.get();
    Profile* profile = editableProfile(document, profileID);
    if (!profile)
        return;
    RuleList& rules = profile->rules;
    const auto rule = std::ranges::find(rules, ruleID, &Rule::id);
    if (rule == rules.end())
        return;
    const std::int64_t index = rule - rules.begin();
    const auto count = static_cast<std::int64_t>(rules.size());
    // Compared before adding: index + offset would overflow for an offset near either limit.
    if (offset < -index || offset >= count - index)
        return;
    rules.swap(static_cast<std::size_t>(index), static_cast<std::size_t>(index + offset));
    adoptChange(*this, std::move(document));
}

void AppModel::moveRule(UUID ruleID, UUID beforeID, UUID profileID)
{
    if (!acceptsChanges(*this) || profileID == configuration->defaultProfileID
        || ruleID == beforeID)
        return;
    Configuration document = configuration.get();
    Profile* profile = editableProfile(document, profileID);
    if (!profile)
        return;
    RuleList& rules = profile->rules;
    const auto rule = std::ranges::find(rules, ruleID, &Rule::id);
    if (rule == rules.end())
        return;
    const auto from = static_cast<std::size_t>(rule - rules.begin());
    // Without the before rule, the moved rule goes last. Counted without the moved rule, the
    // before rule sits one place earlier when it comes after it.
    auto to
        = static_cast<std::size_t>(std::ranges::find(rules, beforeID, &Rule::id) - rules.begin());
    if (to > from)
        --to;
    rules.move(from, to);
    adoptChange(*this, std::move(document));
}

void AppModel::deleteRule(UUID ruleID, UUID profileID)
{
    if (!acceptsChanges(*this) || profileID == configuration->defaultProfileID)
        return;
    Configuration document = configuration.get();
    Profile* profile = editableProfile(document, profileID);
    if (!profile)
        return;
    profile->rules.eraseIf([&](const Rule& rule) { return rule.id == ruleID; });
    configuration.set(std::move(document));
    if (selectedRuleID.get() == ruleID)
        selectedRuleID.set(std::nullopt);
    persist();
    resolveAndApply(false);
}

bool AppModel::saveRule(Rule rule, UUID profileID, bool selectSavedRule)
{
    if (!acceptsDisplayChanges(*this) || profileID == configuration->defaultProfileID)
        return false;
    Configuration document = configuration.get();
    Profile* profile = editableProfile(document, profileID);
    if (!profile)
        return false;
    const auto [stored, isAdded] = storeRule(*profile, rule);
    // The model's document is valid: only the stored rule needs checking.
    if (!passes(*this, [&, &stored = stored, isAdded = isAdded] {
            document.validateStoredRule(stored, isAdded);
        }))
        return false;
    configuration.set(std::move(document));
    // The saved rule now decides what the preview showed, so nothing is restored.
    if (liveRuleEdit.get() && liveRuleEdit.get()->ruleID == rule.id
        && liveRuleEdit.get()->profileID == profileID)
        endRuleEditing(true);
    if (selectSavedRule)
        selectedRuleID.set(rule.id);
    persist();
    resolveAndApply(false);
    return true;
}

bool AppModel::saveDefaultSettings(const DefaultSettingsDraft& draft)
{
    if (!acceptsDisplayChanges(*this))
        return false;
    Configuration document = configuration.get();
    document.setDefaultSettings(draft.merged(document.defaultSettings()));
    if (!isValidCandidate(*this, document))
        return false;
    adoptChange(*this, std::move(document));
    return true;
}

} // namespace quorvane
