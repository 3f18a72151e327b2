// Creating, renaming, deleting, selecting, duplicating and activating profiles.
#include "Quorvane/AppModel.h"
#include "Quorvane/MapKeys.h"

#include "Foundation/Text.h"

#include <algorithm>
#include <iterator>
#include <string>
#include <utility>

namespace quorvane {
namespace {

constexpr std::string_view reservedNameMessage
    = "Default is reserved for the permanent fallback profile.";
constexpr std::string_view permanentDefaultMessage = "The permanent Default cannot be deleted.";

/// Loaded and no settings error: the document may change.
bool acceptsChanges(const AppModel& model)
{
    return model.isLoaded.get() && !model.settingsError.get();
}

/// No display test runs either: the displays may be rewritten.
bool acceptsDisplayChanges(const AppModel& model)
{
    return acceptsChanges(model) && !model.preview.get();
}

bool isReservedName(std::string_view name) { return asciiLowercased(name) == "default"; }

bool hasProfile(const Configuration& configuration, const UUID& profileID)
{
    return std::ranges::any_of(
        configuration.profiles, [&](const Profile& profile) { return profile.id == profileID; });
}

} // namespace

void AppModel::createProfile(std::string_view name)
{
    const std::string trimmedName(trimmed(name));
    if (!acceptsChanges(*this) || trimmedName.empty())
        return;
    if (isReservedName(trimmedName)) {
        actionError.set(std::string(reservedNameMessage));
        return;
    }
    const Profile profile{.id = UUID::random(), .name = trimmedName};
    configuration.modify([&](Configuration& document) { document.profiles.push_back(profile); });
    selectProfile(profile.id);
    persist();
}

void AppModel::renameProfile(UUID profileID, std::string_view name)
{
    const std::string trimmedName(trimmed(name));
    if (!acceptsChanges(*this))
        return;
    // The Default's name is fixed, so it is refused before the name is looked at.
    if (profileID == configuration->defaultProfileID || trimmedName.empty())
        return;
    if (!hasProfile(configuration.get(), profileID))
        return;
    if (isReservedName(trimmedName)) {
        actionError.set(std::string(reservedNameMessage));
        return;
    }
    configuration.update([&](Configuration& document) {
        const auto stored = std::ranges::find(document.profiles, profileID, &Profile::id);
        if (stored->name == trimmedName)
            return false;
        document.profiles.edit(stored).name = trimmedName;
        return true;
    });
    persist();
}

void AppModel::deleteProfile(UUID profileID)
{
    if (!acceptsDisplayChanges(*this))
        return;
    if (profileID == configuration->defaultProfileID) {
        actionError.set(std::string(permanentDefaultMessage));
        return;
    }
    if (!hasProfile(configuration.get(), profileID))
        return;
    if (liveRuleEdit.get() && liveRuleEdit.get()->profileID == profileID)
        endRuleEditing(false);
    // Exactly one profile stays active: the Default takes over before this one goes.
    if (profileID == configuration->activeProfileID)
        activateProfile(configuration->defaultProfileID);
    configuration.update([&](Configuration& document) {
        return document.profiles.eraseIf([&](const Profile& profile) {
            return profile.id == profileID;
        }) > 0;
    });
    selectProfile(configuration->activeProfileID);
    persist();
}

void AppModel::selectProfile(UUID profileID)
{
    selectedProfileID.set(profileID);
    selectedRuleID.set(std::nullopt);
    page.set(AppPage::profiles);
}

void AppModel::duplicateProfile(Profile profile)
{
    if (!acceptsChanges(*this) || profile.id == configuration->defaultProfileID)
        return;
    const Profile copy = profile.duplicated();
    configuration.modify([&](Configuration& document) { document.profiles.push_back(copy); });
    selectProfile(copy.id);
    persist();
}

void AppModel::activateProfile(UUID profileID)
{
    if (!acceptsDisplayChanges(*this) || !hasProfile(configuration.get(), profileID))
        return;
    // Everything started for the old profile stops first, so that nothing stale is written
    // after the switch.
    invalidateSystemDisplayRequest();
    cancelKeyRead();
    m_scheduler.cancel();
    for (const ControlKey& key : keysOf(tasks.get()))
        cancelCommand(key);
    for (const std::string& displayID : keysOf(modeTasks.get()))
        cancelModeCommand(displayID);

    Configuration document = configuration.get();
    std::map<ControlKey, ManualHold> remainingHolds = holds.get();
    document.activate(profileID, remainingHolds);
    configuration.set(std::move(document));
    holds.set(std::move(remainingHolds));
    manualOriginals.set({});
    manualRecoveries.set({});
    queueProfileResolutions(std::nullopt);
    failed.set({});
    failedModes.set({});
    persist();
    refreshContext();
    resolveAndApply(true);
}

void AppModel::setProfileActive(UUID profileID, bool active)
{
    if (!acceptsDisplayChanges(*this))
        return;
    if (active) {
        activateProfile(profileID);
        return;
    }
    if (profileID != configuration->activeProfileID)
        return;
    // The Default cannot be switched off as a profile; switching it off stops automation.
    if (profileID == configuration->defaultProfileID) {
        setAutomation(false);
        return;
    }
    activateProfile(configuration->defaultProfileID);
}

} // namespace quorvane
