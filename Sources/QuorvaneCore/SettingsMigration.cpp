#include "QuorvaneCore/SettingsMigration.h"

#include "Foundation/Format.h"
#include "Foundation/JSON.h"
#include "Foundation/Text.h"
#include "QuorvaneCore/SettingsCoding.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cmath>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace quorvane {
namespace {

constexpr std::string_view previousProfilesMessage = "The previous profiles are invalid.";
constexpr std::string_view soundSettingMessage = "A previous sound setting is invalid.";
constexpr std::string_view previousProfileMessage
    = "A previous profile has invalid defaults or a missing name.";

[[noreturn]] void refuse(std::string_view message)
{
    throw ConfigurationError(ConfigurationError::Invalid{std::string(message)});
}

// Removing the retired sound-volume settings, on the parsed tree before any typed decoding.

/// The tree of the file without any sound setting, and the rules that set nothing but the volume:
/// they carry a placeholder brightness so that they decode and validate once, and finish() then
/// removes them.
struct SoundlessDocument {
    nlohmann::json document;
    std::set<UUID> volumeOnlyRules;
};

/// The value under `key`, which is removed from `object`; null when there was none.
nlohmann::json taken(nlohmann::json& object, const std::string& key)
{
    const auto found = object.find(key);
    if (found == object.end())
        return nullptr;
    nlohmann::json value = std::move(*found);
    object.erase(found);
    return value;
}

/// A volume may have been unset (null) or a fraction; a flag or a text was never one.
void checkVolume(const nlohmann::json& volume)
{
    if (volume.is_null())
        return;
    if (!volume.is_number())
        refuse(soundSettingMessage);
    const double fraction = decodeDouble(JSONValue(volume));
    if (!std::isfinite(fraction) || fraction < 0 || fraction > 1)
        refuse(soundSettingMessage);
}

template <typename Predicate> bool allElements(const nlohmann::json& container, Predicate predicate)
{
    return std::all_of(container.begin(), container.end(), predicate);
}

bool isObject(const nlohmann::json& value) { return value.is_object(); }

bool isStringArray(const nlohmann::json& value)
{
    return value.is_array()
        && allElements(value, [](const nlohmann::json& element) { return element.is_string(); });
}

/// The member `key` of `object` when its value is an object whose every value passes
/// `predicate`; null otherwise, so that a value of another shape is left for the decoder.
template <typename Predicate>
nlohmann::json* objectMember(nlohmann::json& object, const std::string& key, Predicate predicate)
{
    const auto found = object.find(key);
    if (found == object.end() || !found->is_object() || !allElements(*found, predicate))
        return nullptr;
    return &*found;
}

/// A profile's own defaults ("defaults" in version 2, "defaultSettings" later) without volumes.
void removeSoundSettings(nlohmann::json& defaults)
{
    if (!defaults.is_object())
        return;
    // The other sound keys ("volumeSnapshotCompleted", "volumeUnmanaged") stay: nothing reads them.
    checkVolume(taken(defaults, "outputVolume"));
    if (nlohmann::json* unmanaged = objectMember(defaults, "unmanagedDisplays", isStringArray)) {
        for (nlohmann::json& keys : *unmanaged)
            keys.erase(std::remove(keys.begin(), keys.end(), nlohmann::json("volume")), keys.end());
    }
    if (nlohmann::json* displays = objectMember(defaults, "displays", isObject)) {
        for (nlohmann::json& settings : *displays)
            checkVolume(taken(settings, "volume"));
    }
}

/// Removes the rule's volume; returns the rule's identifier when the volume was all it set.
std::optional<UUID> removeVolume(nlohmann::json& rule)
{
    const auto settings = rule.find("settings");
    if (settings == rule.end() || !settings->is_object())
        return std::nullopt;
    const nlohmann::json volume = taken(*settings, "volume");
    checkVolume(volume);
    const bool setsNothingElse
        = allElements(*settings, [](const nlohmann::json& value) { return value.is_null(); });
    if (volume.is_null() || !setsNothingElse)
        return std::nullopt;
    const auto id = rule.find("id");
    if (id == rule.end() || !id->is_string())
        return std::nullopt;
    const std::optional<UUID> ruleID = UUID::parse(decodeString(JSONValue(*id)));
    if (ruleID)
        (*settings)["brightness"] = 0;
    return ruleID;
}

bool isArrayOfObjects(const nlohmann::json& value)
{
    return value.is_array() && allElements(value, isObject);
}

SoundlessDocument removingSoundSettings(nlohmann::json file)
{
    SoundlessDocument soundless{.document = std::move(file), .volumeOnlyRules = {}};
    nlohmann::json& document = soundless.document;
    if (!document.is_object() || !document.contains("profiles")
        || !isArrayOfObjects(document["profiles"]))
        refuse(previousProfilesMessage);
    for (nlohmann::json& profile : document["profiles"]) {
        for (const char* key : {"defaults", "defaultSettings"}) {
            if (const auto defaults = profile.find(key); defaults != profile.end())
                removeSoundSettings(*defaults);
        }
        const auto rules = profile.find("rules");
        if (rules == profile.end() || !isArrayOfObjects(*rules))
            continue;
        for (nlohmann::json& rule : *rules) {
            if (const std::optional<UUID> ruleID = removeVolume(rule))
                soundless.volumeOnlyRules.insert(*ruleID);
        }
    }
    return soundless;
}

/// Drops the volume-only rules. Validated before, with their placeholder brightness, so that
/// nothing else about them is let through, and after. A profile left without rules stays.
Configuration finish(Configuration configuration, const std::set<UUID>& volumeOnlyRules)
{
    configuration.validate();
    const auto isVolumeOnly = [&](const Rule& rule) { return volumeOnlyRules.contains(rule.id); };
    for (Profile& profile : configuration.profiles.editEach())
        profile.rules.eraseIf(isVolumeOnly);
    configuration.validate();
    return configuration;
}

// The version-2 layout, where every profile carried its own defaults. Every key is required.

struct LegacyDefaults {
    std::map<std::string, RuleSettings> displays;
    std::optional<std::map<std::string, std::set<SettingKey>>> unmanagedDisplays;
};

struct LegacyProfile {
    UUID id;
    std::string name;
    LegacyDefaults defaults;
    std::vector<Rule> rules;
};

struct LegacyConfiguration {
    std::int64_t schemaVersion;
    std::vector<LegacyProfile> profiles;
    UUID activeProfileID;
    std::vector<DisplayReference> knownDisplays;
    std::vector<VerifiedModeConfiguration> verifiedModes;
    bool automationEnabled;
    std::int64_t holdMinutes;
    bool smoothTransitions;
    std::int64_t debounceMilliseconds;
    bool brightnessKeysEnabled;
    BrightnessKeyStep brightnessKeyStep;
};

LegacyDefaults decodeLegacyDefaults(const JSONValue& value)
{
    const JSONObject object = value.object();
    return {
        .displays = object.required("displays", mapOf(decodeRuleSettings)),
        .unmanagedDisplays = object.optional("unmanagedDisplays", mapOf(setOf(decodeSettingKey))),
    };
}

LegacyProfile decodeLegacyProfile(const JSONValue& value)
{
    const JSONObject object = value.object();
    return {
        .id = object.required("id", decodeUUID),
        .name = object.required("name", decodeString),
        .defaults = object.required("defaults", decodeLegacyDefaults),
        .rules = object.required("rules", arrayOf(decodeRule)),
    };
}

LegacyConfiguration decodeLegacyConfiguration(const JSONValue& value)
{
    const JSONObject object = value.object();
    return {
        .schemaVersion = object.required("schemaVersion", decodeInteger),
        .profiles = object.required("profiles", arrayOf(decodeLegacyProfile)),
        .activeProfileID = object.required("activeProfileID", decodeUUID),
        .knownDisplays = object.required("knownDisplays", arrayOf(decodeDisplayReference)),
        .verifiedModes = object.required("verifiedModes", arrayOf(decodeVerifiedModeConfiguration)),
        .automationEnabled = object.required("automationEnabled", decodeBool),
        .holdMinutes = object.required("holdMinutes", decodeInteger),
        .smoothTransitions = object.required("smoothTransitions", decodeBool),
        .debounceMilliseconds = object.required("debounceMilliseconds", decodeInteger),
        .brightnessKeysEnabled = object.required("brightnessKeysEnabled", decodeBool),
        .brightnessKeyStep = object.required("brightnessKeyStep", decodeBrightnessKeyStep),
    };
}

bool isNamedLikeDefault(const LegacyProfile& profile)
{
    return asciiLowercased(trimmed(profile.name)) == "default";
}

bool hasUniqueIDs(const std::vector<LegacyProfile>& profiles)
{
    std::set<UUID> ids;
    return std::ranges::all_of(
        profiles, [&ids](const LegacyProfile& profile) { return ids.insert(profile.id).second; });
}

bool hasValidProfileList(const LegacyConfiguration& legacy)
{
    return legacy.schemaVersion == 2 && !legacy.profiles.empty()
        && std::ranges::find(legacy.profiles, legacy.activeProfileID, &LegacyProfile::id)
        != legacy.profiles.end()
        && hasUniqueIDs(legacy.profiles);
}

bool hasValidNameAndDefaults(const LegacyProfile& profile)
{
    return !isBlank(profile.name)
        && DefaultSettings{.displays = profile.defaults.displays, .initializedDisplayIDs = {}}
               .isValid();
}

void checkProfiles(const LegacyConfiguration& legacy)
{
    if (!hasValidProfileList(legacy))
        refuse(previousProfilesMessage);
    if (!std::ranges::all_of(legacy.profiles, hasValidNameAndDefaults))
        refuse(previousProfileMessage);
}

/// The profile whose defaults become the Default settings: one named like "Default" when there
/// is any (the active one among them, else the first), otherwise the active profile.
const LegacyProfile& baseProfile(const LegacyConfiguration& legacy)
{
    const LegacyProfile* firstNamedLikeDefault = nullptr;
    for (const LegacyProfile& profile : legacy.profiles) {
        if (!isNamedLikeDefault(profile))
            continue;
        if (profile.id == legacy.activeProfileID)
            return profile;
        if (!firstNamedLikeDefault)
            firstNamedLikeDefault = &profile;
    }
    if (firstNamedLikeDefault)
        return *firstNamedLikeDefault;
    // checkProfiles() made sure that the active profile exists.
    return *std::ranges::find(legacy.profiles, legacy.activeProfileID, &LegacyProfile::id);
}

/// Every display the old file knew of, so that none is captured again as if it were new.
std::set<std::string> initializedDisplayIDs(const LegacyConfiguration& legacy)
{
    std::set<std::string> ids;
    for (const DisplayReference& display : legacy.knownDisplays)
        ids.insert(display.id);
    for (const LegacyProfile& profile : legacy.profiles) {
        for (const auto& [id, settings] : profile.defaults.displays)
            ids.insert(id);
        if (profile.defaults.unmanagedDisplays) {
            for (const auto& [id, keys] : *profile.defaults.unmanagedDisplays)
                ids.insert(id);
        }
    }
    return ids;
}

/// Hands out "My rules", else "My rules (2)", "My rules (3)" ..., never a name already in use
/// or handed out before.
class CollectionNames final {
public:
    explicit CollectionNames(std::set<std::string> namesInUse)
        : m_namesInUse(std::move(namesInUse))
    {
    }

    [[nodiscard]] std::string next()
    {
        std::string candidate = "My rules";
        for (std::int64_t number = 2; m_namesInUse.contains(candidate); ++number)
            candidate = "My rules (" + formatInteger(number) + ")";
        m_namesInUse.insert(candidate);
        return candidate;
    }

private:
    std::set<std::string> m_namesInUse;
};

/// The one Default profile first, then the old profiles in file order without their defaults;
/// the base profile's rules, if any, move to a new collection at its place.
std::vector<Profile> convertedProfiles(const LegacyConfiguration& legacy)
{
    const LegacyProfile& base = baseProfile(legacy);
    std::vector<Profile> profiles{{
        .id = base.id,
        .name = "Default",
        .defaultSettings = DefaultSettings{
            .displays = base.defaults.displays,
            .initializedDisplayIDs = initializedDisplayIDs(legacy),
        },
    }};
    std::set<std::string> namesInUse;
    for (const LegacyProfile& profile : legacy.profiles) {
        if (&profile != &base)
            namesInUse.insert(profile.name);
    }
    CollectionNames collectionNames(std::move(namesInUse));
    for (const LegacyProfile& profile : legacy.profiles) {
        if (&profile != &base) {
            profiles.push_back({
                .id = profile.id,
                .name = isNamedLikeDefault(profile) ? collectionNames.next() : profile.name,
                .rules = profile.rules,
            });
        } else if (!base.rules.empty()) {
            profiles.push_back(
                {.id = UUID::random(), .name = collectionNames.next(), .rules = base.rules});
        }
    }
    return profiles;
}

Configuration converted(const LegacyConfiguration& legacy)
{
    checkProfiles(legacy);
    Configuration configuration;
    configuration.profiles = convertedProfiles(legacy);
    configuration.activeProfileID = configuration.profiles.front().id;
    configuration.defaultProfileID = configuration.profiles.front().id;
    configuration.knownDisplays = legacy.knownDisplays;
    configuration.verifiedModes = legacy.verifiedModes;
    configuration.automationEnabled = legacy.automationEnabled;
    configuration.holdMinutes = legacy.holdMinutes;
    configuration.smoothTransitions = legacy.smoothTransitions;
    configuration.debounceMilliseconds = legacy.debounceMilliseconds;
    configuration.brightnessKeysEnabled = legacy.brightnessKeysEnabled;
    configuration.brightnessKeyStep = legacy.brightnessKeyStep;
    return configuration;
}

} // namespace

Configuration SettingsMigration::version2(nlohmann::json document)
{
    const SoundlessDocument soundless = removingSoundSettings(std::move(document));
    const LegacyConfiguration legacy = decodeLegacyConfiguration(JSONValue(soundless.document));
    return finish(converted(legacy), soundless.volumeOnlyRules);
}

Configuration SettingsMigration::sharedDefaults(nlohmann::json document, std::int64_t version)
{
    const SoundlessDocument soundless = removingSoundSettings(std::move(document));
    Configuration configuration = decodeConfiguration(JSONValue(soundless.document));
    if (configuration.schemaVersion != version)
        throw ConfigurationError(
            ConfigurationError::UnsupportedVersion{configuration.schemaVersion});
    configuration.schemaVersion = Configuration::currentSchemaVersion;
    return finish(std::move(configuration), soundless.volumeOnlyRules);
}

} // namespace quorvane
