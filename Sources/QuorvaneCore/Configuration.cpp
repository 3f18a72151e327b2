#include "QuorvaneCore/Configuration.h"

#include "Foundation/Text.h"
#include "QuorvaneCore/ResolvedPlan.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <utility>

namespace quorvane {
namespace {

constexpr std::string_view defaultProfileName = "Default";
constexpr std::array<std::int64_t, 5> holdMinuteChoices{0, 5, 15, 30, 60};

constexpr std::string_view profilesMessage
    = "Profiles must have unique identifiers and an active profile.";
constexpr std::string_view defaultProfileMessage
    = "Default must be permanent, named Default, and contain settings only.";
constexpr std::string_view timingMessage = "Invalid automation timing preferences.";
constexpr std::string_view displayNamesMessage
    = "Display names must have a screen identifier and a nonblank name.";
constexpr std::string_view profileMessage = "A profile has invalid settings or a missing name.";
constexpr std::string_view ruleMessage
    = "A rule has an invalid name, condition, settings, or a duplicate identifier.";
constexpr std::string_view spaceMessage = "The selected Space belongs to another screen.";
constexpr std::string_view verifiedModeMessage = "Invalid verified display configuration.";

[[noreturn]] void fail(std::string_view message)
{
    throw ConfigurationError(ConfigurationError::Invalid{std::string(message)});
}

auto hasID(const UUID& id)
{
    return [&id](const Profile& profile) { return profile.id == id; };
}

bool hasUniqueIDs(const CopyOnWriteVector<Profile>& profiles)
{
    std::set<UUID> ids;
    return std::ranges::all_of(
        profiles, [&ids](const Profile& profile) { return ids.insert(profile.id).second; });
}

/// Another profile whose name reads as "Default" would be mistaken for the permanent one.
bool isNamedLikeDefault(const Profile& profile)
{
    return asciiLowercased(trimmed(profile.name)) == "default";
}

bool hasPermanentDefaultProfile(const Configuration& configuration)
{
    const auto& profiles = configuration.profiles;
    const auto found = std::ranges::find_if(profiles, hasID(configuration.defaultProfileID));
    if (found == profiles.end())
        return false;
    if (found->name != defaultProfileName || !found->rules.empty() || !found->defaultSettings)
        return false;
    const auto carriesDefaultSettings
        = [](const Profile& profile) { return profile.defaultSettings.has_value(); };
    if (std::ranges::count_if(profiles, carriesDefaultSettings) != 1)
        return false;
    return std::ranges::none_of(profiles, [&](const Profile& profile) {
        return profile.id != configuration.defaultProfileID && isNamedLikeDefault(profile);
    });
}

bool hasValidTiming(const Configuration& configuration)
{
    return std::ranges::find(holdMinuteChoices, configuration.holdMinutes)
        != holdMinuteChoices.end()
        && Configuration::debounceMillisecondsRange.contains(configuration.debounceMilliseconds);
}

bool hasValidDisplayNames(const Configuration& configuration)
{
    if (!configuration.displayNames)
        return true;
    return std::ranges::all_of(*configuration.displayNames,
        [](const auto& entry) { return !entry.first.empty() && !isBlank(entry.second); });
}

bool hasValidResolutions(const std::optional<ProfileDisplayPreferences>& preferences)
{
    if (!preferences || !preferences->resolutions)
        return true;
    return std::ranges::all_of(*preferences->resolutions,
        [](const auto& entry) { return !entry.first.empty() && entry.second.isValid(); });
}

bool hasValidOwnSettings(const Profile& profile)
{
    return !isBlank(profile.name)
        && (!profile.defaultSettings || profile.defaultSettings->isValid())
        && hasValidResolutions(profile.displayPreferences);
}

bool hasValidContent(const Rule& rule)
{
    const RuleConditions& conditions = rule.conditions;
    const bool hasValidScreen = !conditions.screen
        || (!conditions.screen->id.empty() && !conditions.screen->name.empty());
    const bool hasValidSpace
        = !conditions.space || (!conditions.space->id.empty() && !conditions.space->name.empty());
    return !isBlank(rule.name) && !rule.settings.isEmpty() && rule.settings.isValid()
        && conditions.hasValidApps() && hasValidScreen && hasValidSpace;
}

/// A Space owned by one display can never be active on a different screen.
bool spaceBelongsToAnotherScreen(const RuleConditions& conditions)
{
    return conditions.screen && conditions.space && !conditions.space->isOn(conditions.screen->id);
}

/// The position, counting every profile's rules in order, of the first rule whose id an earlier
/// rule has already; absent when every id is unique. Rule ids must be unique across the whole
/// document. Sorting copies of the ids allocates once, where a set would for each rule.
std::optional<std::size_t> firstRepeatedRuleID(const CopyOnWriteVector<Profile>& profiles)
{
    // An id as two numbers compares in two steps, where its sixteen bytes take up to sixteen.
    struct Entry {
        std::uint64_t high;
        std::uint64_t low;
        std::size_t position;
        auto operator<=>(const Entry&) const = default;
    };
    std::vector<Entry> ids;
    for (const Profile& profile : profiles) {
        for (const Rule& rule : profile.rules) {
            const UUID::Bytes& bytes = rule.id.bytes();
            std::uint64_t high = 0;
            std::uint64_t low = 0;
            std::memcpy(&high, bytes.data(), sizeof high);
            std::memcpy(&low, bytes.data() + sizeof high, sizeof low);
            ids.push_back({high, low, ids.size()});
        }
    }
    // Equal ids end up together in rule order, so each run's second entry is its first repeat.
    std::ranges::sort(ids);
    std::optional<std::size_t> first;
    for (std::size_t index = 1; index < ids.size(); ++index) {
        const bool repeats
            = ids[index].high == ids[index - 1].high && ids[index].low == ids[index - 1].low;
        if (repeats && (!first || ids[index].position < *first))
            first = ids[index].position;
    }
    return first;
}

/// Checks the rules of `profile`, which start at `position` among all rules; the rule at
/// `repeatedID` repeats an earlier rule's id.
void checkRules(const Profile& profile, std::size_t position, std::optional<std::size_t> repeatedID)
{
    for (const Rule& rule : profile.rules) {
        if (position++ == repeatedID || !hasValidContent(rule))
            fail(ruleMessage);
        if (spaceBelongsToAnotherScreen(rule.conditions))
            fail(spaceMessage);
    }
}

bool isValidVerifiedMode(const VerifiedModeConfiguration& verified)
{
    const ModeConfiguration& mode = verified.mode;
    return !verified.displayID.empty() && !verified.environment.empty()
        && (!mode.refreshRate
            || SettingValue::refresh(*mode.refreshRate).isValid(SettingKey::refreshRate))
        && (!mode.resolution || mode.resolution->isValid());
}

/// The resolution `profile` itself asks for on the display.
std::optional<DisplayResolution> ownResolution(const Profile& profile, std::string_view displayID)
{
    if (!profile.displayPreferences || !profile.displayPreferences->resolutions)
        return std::nullopt;
    const auto& resolutions = *profile.displayPreferences->resolutions;
    const auto found = resolutions.find(std::string(displayID));
    if (found == resolutions.end())
        return std::nullopt;
    return found->second;
}

std::optional<bool> preferenceValue(const Profile& profile, const SystemDisplayControl& control)
{
    if (!profile.displayPreferences)
        return std::nullopt;
    return profile.displayPreferences->value(control);
}

std::optional<bool> capturedValue(const Profile& profile, const SystemDisplayControl& control)
{
    if (!profile.capturedDisplayPreferences)
        return std::nullopt;
    const auto found = profile.capturedDisplayPreferences->find(control);
    if (found == profile.capturedDisplayPreferences->end())
        return std::nullopt;
    return found->second;
}

} // namespace

Configuration::Configuration()
{
    const Profile defaultProfile{
        .id = UUID::random(),
        .name = std::string(defaultProfileName),
        .defaultSettings = DefaultSettings{},
    };
    profiles = {defaultProfile};
    activeProfileID = defaultProfile.id;
    defaultProfileID = defaultProfile.id;
}

const Profile& Configuration::activeProfile() const
{
    if (profiles.empty())
        fail(profilesMessage);
    const auto found = std::ranges::find_if(profiles, hasID(activeProfileID));
    return found != profiles.end() ? *found : profiles.front();
}

const Profile& Configuration::defaultProfile() const
{
    if (const Profile* profile = defaultProfileOrFirst())
        return *profile;
    fail(profilesMessage);
}

const Profile* Configuration::defaultProfileOrFirst() const
{
    if (profiles.empty())
        return nullptr;
    const auto found = std::ranges::find_if(profiles, hasID(defaultProfileID));
    return found != profiles.end() ? &*found : &profiles.front();
}

std::optional<std::size_t> Configuration::defaultIDIndex() const
{
    const auto found = std::ranges::find_if(profiles, hasID(defaultProfileID));
    if (found == profiles.end())
        return std::nullopt;
    return static_cast<std::size_t>(found - profiles.begin());
}

std::vector<Profile> Configuration::orderedProfiles() const
{
    const std::vector<std::reference_wrapper<const Profile>> references
        = orderedProfileReferences();
    return {references.begin(), references.end()};
}

std::vector<std::reference_wrapper<const Profile>> Configuration::orderedProfileReferences() const
{
    const Profile* first = defaultProfileOrFirst();
    if (!first)
        return {};
    // Exclude the profile actually placed first: without a Default profile that is the first
    // one, which must not appear twice.
    std::vector<std::reference_wrapper<const Profile>> ordered{*first};
    ordered.reserve(profiles.size());
    std::ranges::copy_if(profiles, std::back_inserter(ordered),
        [first](const Profile& profile) { return profile.id != first->id; });
    return ordered;
}

DefaultSettings Configuration::defaultSettings() const
{
    const Profile* profile = defaultProfileOrFirst();
    if (!profile || !profile->defaultSettings)
        return {};
    return *profile->defaultSettings;
}

void Configuration::setDefaultSettings(DefaultSettings settings)
{
    if (const std::optional<std::size_t> index = defaultIDIndex())
        profiles.edit(*index).defaultSettings = std::move(settings);
}

void Configuration::setDebounceEnabled(bool isEnabled)
{
    debounceMilliseconds = isEnabled ? defaultDebounceMilliseconds : 0;
}

std::int64_t Configuration::effectiveDebounceMilliseconds() const
{
    return debounceMilliseconds > 0 ? defaultDebounceMilliseconds : 0;
}

void Configuration::activate(const UUID& profileID, std::map<ControlKey, ManualHold>& holds)
{
    if (std::ranges::none_of(profiles, hasID(profileID)))
        return;
    activeProfileID = profileID;
    automationEnabled = true;
    holds.clear();
}

void Configuration::validate() const
{
    if (schemaVersion != currentSchemaVersion)
        throw ConfigurationError(ConfigurationError::UnsupportedVersion{schemaVersion});
    if (std::ranges::none_of(profiles, hasID(activeProfileID)) || !hasUniqueIDs(profiles))
        fail(profilesMessage);
    if (!hasPermanentDefaultProfile(*this))
        fail(defaultProfileMessage);
    if (!hasValidTiming(*this))
        fail(timingMessage);
    if (!hasValidDisplayNames(*this))
        fail(displayNamesMessage);
    const std::optional<std::size_t> repeatedRuleID = firstRepeatedRuleID(profiles);
    std::size_t position = 0;
    for (const Profile& profile : profiles) {
        if (!hasValidOwnSettings(profile))
            fail(profileMessage);
        checkRules(profile, position, repeatedRuleID);
        position += profile.rules.size();
    }
    if (!std::ranges::all_of(verifiedModes, isValidVerifiedMode))
        fail(verifiedModeMessage);
}

void Configuration::validateStoredRule(const Rule& stored, bool isAdded) const
{
    if (!isAdded) {
        if (!hasValidContent(stored))
            fail(ruleMessage);
        if (spaceBelongsToAnotherScreen(stored.conditions))
            fail(spaceMessage);
        return;
    }
    // Every other rule passed before and is unchanged, so validate() can fail only at a rule with
    // this id: the stored one, or the second of two, which repeats the first.
    bool isRepeat = false;
    for (const Profile& profile : profiles) {
        for (const Rule& rule : profile.rules) {
            if (rule.id != stored.id)
                continue;
            if (isRepeat || !hasValidContent(rule))
                fail(ruleMessage);
            if (spaceBelongsToAnotherScreen(rule.conditions))
                fail(spaceMessage);
            isRepeat = true;
        }
    }
}

std::optional<DisplayResolution> Configuration::displayResolution(
    const Profile& profile, std::string_view displayID) const
{
    if (auto resolution = ownResolution(profile, displayID))
        return resolution;
    if (const Profile* fallback = defaultProfileOrFirst())
        return ownResolution(*fallback, displayID);
    return std::nullopt;
}

bool Configuration::captureResolutionDefaults(const std::map<std::string, ModeConfiguration>& modes)
{
    const std::optional<std::size_t> index = defaultIDIndex();
    if (!index)
        return false;
    // Work on a copy, so that a capture that adds nothing leaves absent preferences absent.
    ProfileDisplayPreferences preferences
        = profiles[*index].displayPreferences.value_or(ProfileDisplayPreferences{});
    if (!preferences.resolutions)
        preferences.resolutions.emplace();
    auto& resolutions = *preferences.resolutions;
    bool didChange = false;
    for (const auto& [displayID, mode] : modes) {
        if (resolutions.contains(displayID) || !mode.resolution || !mode.resolution->isValid())
            continue;
        resolutions.emplace(displayID, *mode.resolution);
        didChange = true;
    }
    if (didChange)
        profiles.edit(*index).displayPreferences = std::move(preferences);
    return didChange;
}

std::map<SystemDisplayControl, bool> Configuration::systemDisplayRequests(
    const Profile& profile, const std::set<SystemDisplayControl>& controls) const
{
    const Profile* fallback = defaultProfileOrFirst();
    std::map<SystemDisplayControl, bool> requests;
    for (const SystemDisplayControl& control : controls) {
        std::optional<bool> requested = preferenceValue(profile, control);
        if (!requested && fallback)
            requested = preferenceValue(*fallback, control);
        if (!requested && fallback)
            requested = capturedValue(*fallback, control);
        if (requested)
            requests.emplace(control, *requested);
    }
    return requests;
}

bool Configuration::capturesSystemDisplayDefaults(const SystemDisplaySnapshot& snapshot) const
{
    const auto profile = std::ranges::find_if(profiles, hasID(defaultProfileID));
    if (profile == profiles.end())
        return false;
    const auto& captured = profile->capturedDisplayPreferences;
    return std::ranges::any_of(snapshot.values,
        [&](const auto& entry) { return !captured || !captured->contains(entry.first); });
}

bool Configuration::captureSystemDisplayDefaults(const SystemDisplaySnapshot& snapshot)
{
    const std::optional<std::size_t> index = defaultIDIndex();
    if (!index)
        return false;
    auto captured = profiles[*index].capturedDisplayPreferences.value_or(
        std::map<SystemDisplayControl, bool>{});
    bool didChange = false;
    for (const auto& [control, isOn] : snapshot.values)
        didChange |= captured.emplace(control, isOn).second; // A captured state is never replaced.
    if (didChange)
        profiles.edit(*index).capturedDisplayPreferences = std::move(captured);
    return didChange;
}

} // namespace quorvane
