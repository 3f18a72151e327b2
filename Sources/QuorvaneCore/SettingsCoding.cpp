#include "QuorvaneCore/SettingsCoding.h"

#include "Foundation/Format.h"
#include "Foundation/Overloaded.h"
#include "Foundation/Text.h"
#include "QuorvaneCore/Configuration.h"
#include "QuorvaneCore/ControlKey.h"
#include "QuorvaneCore/Desktop.h"
#include "QuorvaneCore/DisplayResolution.h"
#include "QuorvaneCore/ProfileDisplayPreferences.h"
#include "QuorvaneCore/Rules.h"

#include <nlohmann/json.hpp>

namespace quorvane {

namespace {

// The writers behind the encoders: each writes its value's members in byte order of their keys,
// leaving absent optional members out.

void writeBool(JSONWriter& out, bool value) { out.boolean(value); }
void writeInteger(JSONWriter& out, std::int64_t value) { out.integer(value); }
void writeDouble(JSONWriter& out, double value) { out.number(value); }
void writeString(JSONWriter& out, std::string_view value) { out.string(value); }
void writeUUID(JSONWriter& out, const UUID& value) { out.string(value.uuidString()); }

template <typename T, typename Write>
void writeMember(JSONWriter& out, std::string_view key, const T& value, Write write)
{
    out.key(key);
    write(out, value);
}

template <typename T, typename Write>
void writeOptionalMember(
    JSONWriter& out, std::string_view key, const std::optional<T>& value, Write write)
{
    if (value)
        writeMember(out, key, *value, write);
}

template <typename Range, typename Write>
void writeArray(JSONWriter& out, const Range& elements, Write write)
{
    out.beginArray();
    for (const auto& element : elements)
        write(out, element);
    out.endArray();
}

/// An object keyed by the map's text keys, which it holds in byte order.
template <typename Map, typename Write> void writeMap(JSONWriter& out, const Map& map, Write write)
{
    out.beginObject();
    for (const auto& [key, value] : map)
        writeMember(out, key, value, write);
    out.endObject();
}

/// A tagged variant's case without payload: {"caseName": {}}.
void writeTaggedCase(JSONWriter& out, std::string_view caseName)
{
    out.beginObject();
    out.key(caseName);
    out.beginObject();
    out.endObject();
    out.endObject();
}

/// A tagged variant's case with its one member: {"caseName": {"key": value}}.
template <typename T, typename Write>
void writeTaggedCase(
    JSONWriter& out, std::string_view caseName, std::string_view key, const T& value, Write write)
{
    out.beginObject();
    out.key(caseName);
    out.beginObject();
    writeMember(out, key, value, write);
    out.endObject();
    out.endObject();
}

void writeSettingKey(JSONWriter& out, SettingKey key) { out.string(rawValue(key)); }

void writeTemperature(JSONWriter& out, const Temperature& temperature)
{
    const auto writeCase = Overloaded{
        [&](const Temperature::Neutral&) { writeTaggedCase(out, "neutral"); },
        [&](const Temperature::Kelvin& kelvin) {
            writeTaggedCase(out, "kelvin", "_0", kelvin.value, writeInteger);
        },
    };
    std::visit(writeCase, temperature.value);
}

void writeRefreshPreference(JSONWriter& out, const RefreshPreference& preference)
{
    const auto writeCase = Overloaded{
        [&](const RefreshPreference::Fixed& fixed) {
            writeTaggedCase(out, "fixed", "millihertz", fixed.millihertz, writeInteger);
        },
        [&](const RefreshPreference::Adaptive&) { writeTaggedCase(out, "adaptive"); },
    };
    std::visit(writeCase, preference.value);
}

void writeSettingValue(JSONWriter& out, const SettingValue& value)
{
    const auto writeCase = Overloaded{
        [&](const SettingValue::Percent& percent) {
            writeTaggedCase(out, "percent", "_0", percent.value, writeDouble);
        },
        [&](const SettingValue::Toggle& toggle) {
            writeTaggedCase(out, "toggle", "_0", toggle.value, writeBool);
        },
        [&](const SettingValue::TemperatureCase& temperature) {
            writeTaggedCase(out, "temperature", "_0", temperature.value, writeTemperature);
        },
        [&](const SettingValue::Refresh& refresh) {
            writeTaggedCase(out, "refresh", "_0", refresh.value, writeRefreshPreference);
        },
    };
    std::visit(writeCase, value.value);
}

void writeControlTarget(JSONWriter& out, const ControlTarget& target)
{
    const auto writeCase = Overloaded{
        [&](const ControlTarget::Display& display) {
            writeTaggedCase(out, "display", "_0", display.id, writeString);
        },
    };
    std::visit(writeCase, target.value);
}

void writeControlKey(JSONWriter& out, const ControlKey& key)
{
    out.beginObject();
    writeMember(out, "setting", key.setting, writeSettingKey);
    writeMember(out, "target", key.target, writeControlTarget);
    out.endObject();
}

void writeDesktop(JSONWriter& out, const Desktop& desktop)
{
    out.beginObject();
    writeOptionalMember(out, "displayID", desktop.displayID, writeString);
    writeMember(out, "id", desktop.id, writeString);
    writeMember(out, "isShared", desktop.isShared, writeBool);
    writeMember(out, "name", desktop.name, writeString);
    out.endObject();
}

void writeIdentifierAndName(JSONWriter& out, std::string_view id, std::string_view name)
{
    out.beginObject();
    writeMember(out, "id", id, writeString);
    writeMember(out, "name", name, writeString);
    out.endObject();
}

void writeDisplayReference(JSONWriter& out, const DisplayReference& display)
{
    writeIdentifierAndName(out, display.id, display.name);
}

void writeApplicationReference(JSONWriter& out, const ApplicationReference& application)
{
    writeIdentifierAndName(out, application.id, application.name);
}

void writeRuleSettings(JSONWriter& out, const RuleSettings& settings)
{
    out.beginObject();
    writeOptionalMember(out, "brightness", settings.brightness, writeDouble);
    writeOptionalMember(out, "contrast", settings.contrast, writeDouble);
    writeOptionalMember(out, "hdr", settings.hdr, writeBool);
    writeOptionalMember(out, "refreshRate", settings.refreshRate, writeRefreshPreference);
    writeOptionalMember(out, "temperature", settings.temperature, writeTemperature);
    out.endObject();
}

void writeApplications(JSONWriter& out, const std::vector<ApplicationReference>& applications)
{
    writeArray(out, applications, writeApplicationReference);
}

void writeRuleConditions(JSONWriter& out, const RuleConditions& conditions)
{
    out.beginObject();
    writeMember(out, "apps", conditions.apps, writeApplications);
    writeOptionalMember(out, "screen", conditions.screen, writeDisplayReference);
    writeOptionalMember(out, "space", conditions.space, writeDesktop);
    out.endObject();
}

void writeRule(JSONWriter& out, const Rule& rule)
{
    out.beginObject();
    writeMember(out, "conditions", rule.conditions, writeRuleConditions);
    writeMember(out, "id", rule.id, writeUUID);
    writeMember(out, "isEnabled", rule.isEnabled, writeBool);
    writeMember(out, "name", rule.name, writeString);
    writeMember(out, "settings", rule.settings, writeRuleSettings);
    out.endObject();
}

void writeDefaultSettings(JSONWriter& out, const DefaultSettings& settings)
{
    out.beginObject();
    out.key("displays");
    writeMap(out, settings.displays, writeRuleSettings);
    out.key("initializedDisplayIDs");
    writeArray(out, settings.initializedDisplayIDs, writeString);
    out.endObject();
}

void writeSystemDisplayControl(JSONWriter& out, const SystemDisplayControl& control)
{
    const auto writeCase = Overloaded{
        [&](const SystemDisplayControl::TrueTone&) { writeTaggedCase(out, "trueTone"); },
        [&](const SystemDisplayControl::DarkMode&) { writeTaggedCase(out, "darkMode"); },
        [&](const SystemDisplayControl::NightShift&) { writeTaggedCase(out, "nightShift"); },
        [&](const SystemDisplayControl::AutomaticBrightness& automatic) {
            writeTaggedCase(out, "automaticBrightness", "_0", automatic.displayID, writeString);
        },
    };
    std::visit(writeCase, control.value);
}

void writeDisplayResolution(JSONWriter& out, const DisplayResolution& resolution)
{
    out.beginObject();
    writeMember(out, "height", resolution.height, writeInteger);
    writeMember(out, "pixelHeight", resolution.pixelHeight, writeInteger);
    writeMember(out, "pixelWidth", resolution.pixelWidth, writeInteger);
    writeMember(out, "width", resolution.width, writeInteger);
    out.endObject();
}

void writeResolutions(JSONWriter& out, const std::map<std::string, DisplayResolution>& resolutions)
{
    writeMap(out, resolutions, writeDisplayResolution);
}

void writeProfileDisplayPreferences(JSONWriter& out, const ProfileDisplayPreferences& preferences)
{
    out.beginObject();
    writeOptionalMember(out, "automaticBrightness", preferences.automaticBrightness, writeBool);
    writeOptionalMember(out, "darkMode", preferences.darkMode, writeBool);
    writeOptionalMember(out, "nightShift", preferences.nightShift, writeBool);
    writeOptionalMember(out, "resolutions", preferences.resolutions, writeResolutions);
    writeOptionalMember(out, "trueTone", preferences.trueTone, writeBool);
    out.endObject();
}

void writeModeConfiguration(JSONWriter& out, const ModeConfiguration& mode)
{
    out.beginObject();
    writeOptionalMember(out, "hdr", mode.hdr, writeBool);
    writeOptionalMember(out, "refreshRate", mode.refreshRate, writeRefreshPreference);
    writeOptionalMember(out, "resolution", mode.resolution, writeDisplayResolution);
    out.endObject();
}

void writeVerifiedModeConfiguration(JSONWriter& out, const VerifiedModeConfiguration& verified)
{
    out.beginObject();
    writeMember(out, "displayID", verified.displayID, writeString);
    writeMember(out, "environment", verified.environment, writeString);
    writeMember(out, "mode", verified.mode, writeModeConfiguration);
    out.endObject();
}

/// The alternating array [control, Bool, control, Bool, ...].
void writeCaptured(JSONWriter& out, const std::map<SystemDisplayControl, bool>& captured)
{
    out.beginArray();
    for (const auto& [control, value] : captured) {
        writeSystemDisplayControl(out, control);
        out.boolean(value);
    }
    out.endArray();
}

void writeRules(JSONWriter& out, const RuleList& rules) { writeArray(out, rules, writeRule); }

void writeProfile(JSONWriter& out, const Profile& profile)
{
    out.beginObject();
    writeOptionalMember(
        out, "capturedDisplayPreferences", profile.capturedDisplayPreferences, writeCaptured);
    writeOptionalMember(out, "defaultSettings", profile.defaultSettings, writeDefaultSettings);
    writeOptionalMember(
        out, "displayPreferences", profile.displayPreferences, writeProfileDisplayPreferences);
    writeMember(out, "id", profile.id, writeUUID);
    writeMember(out, "name", profile.name, writeString);
    writeMember(out, "rules", profile.rules, writeRules);
    out.endObject();
}

void writeNames(JSONWriter& out, const std::map<std::string, std::string>& names)
{
    writeMap(out, names, writeString);
}

void writeConfiguration(JSONWriter& out, const Configuration& configuration)
{
    out.beginObject();
    writeMember(out, "activeProfileID", configuration.activeProfileID, writeUUID);
    writeMember(out, "automationEnabled", configuration.automationEnabled, writeBool);
    writeMember(out, "brightnessKeyStep", rawValue(configuration.brightnessKeyStep), writeInteger);
    writeMember(out, "brightnessKeysEnabled", configuration.brightnessKeysEnabled, writeBool);
    writeMember(out, "debounceMilliseconds", configuration.debounceMilliseconds, writeInteger);
    writeMember(out, "defaultProfileID", configuration.defaultProfileID, writeUUID);
    writeOptionalMember(out, "displayNames", configuration.displayNames, writeNames);
    writeMember(out, "holdMinutes", configuration.holdMinutes, writeInteger);
    out.key("knownDisplays");
    writeArray(out, configuration.knownDisplays, writeDisplayReference);
    out.key("profiles");
    writeArray(out, configuration.profiles, writeProfile);
    writeMember(out, "schemaVersion", configuration.schemaVersion, writeInteger);
    writeMember(out, "smoothTransitions", configuration.smoothTransitions, writeBool);
    out.key("verifiedModes");
    writeArray(out, configuration.verifiedModes, writeVerifiedModeConfiguration);
    out.endObject();
}

/// `value` as a tree, by `write`.
template <typename T, typename Write> nlohmann::json treeOf(const T& value, Write write)
{
    return jsonTree([&](JSONWriter& out) { write(out, value); });
}

} // namespace

nlohmann::json encodeSettingKey(SettingKey key) { return treeOf(key, writeSettingKey); }

nlohmann::json encodeTemperature(const Temperature& temperature)
{
    return treeOf(temperature, writeTemperature);
}

nlohmann::json encodeRefreshPreference(const RefreshPreference& preference)
{
    return treeOf(preference, writeRefreshPreference);
}

nlohmann::json encodeSettingValue(const SettingValue& value)
{
    return treeOf(value, writeSettingValue);
}

nlohmann::json encodeControlTarget(const ControlTarget& target)
{
    return treeOf(target, writeControlTarget);
}

nlohmann::json encodeControlKey(const ControlKey& key) { return treeOf(key, writeControlKey); }

nlohmann::json encodeDesktop(const Desktop& desktop) { return treeOf(desktop, writeDesktop); }

nlohmann::json encodeDisplayReference(const DisplayReference& display)
{
    return treeOf(display, writeDisplayReference);
}

nlohmann::json encodeApplicationReference(const ApplicationReference& application)
{
    return treeOf(application, writeApplicationReference);
}

nlohmann::json encodeRuleSettings(const RuleSettings& settings)
{
    return treeOf(settings, writeRuleSettings);
}

nlohmann::json encodeRuleConditions(const RuleConditions& conditions)
{
    return treeOf(conditions, writeRuleConditions);
}

nlohmann::json encodeRule(const Rule& rule) { return treeOf(rule, writeRule); }

nlohmann::json encodeDefaultSettings(const DefaultSettings& settings)
{
    return treeOf(settings, writeDefaultSettings);
}

nlohmann::json encodeSystemDisplayControl(const SystemDisplayControl& control)
{
    return treeOf(control, writeSystemDisplayControl);
}

nlohmann::json encodeProfileDisplayPreferences(const ProfileDisplayPreferences& preferences)
{
    return treeOf(preferences, writeProfileDisplayPreferences);
}

nlohmann::json encodeDisplayResolution(const DisplayResolution& resolution)
{
    return treeOf(resolution, writeDisplayResolution);
}

nlohmann::json encodeModeConfiguration(const ModeConfiguration& mode)
{
    return treeOf(mode, writeModeConfiguration);
}

nlohmann::json encodeVerifiedModeConfiguration(const VerifiedModeConfiguration& verified)
{
    return treeOf(verified, writeVerifiedModeConfiguration);
}

nlohmann::json encodeProfile(const Profile& profile) { return treeOf(profile, writeProfile); }

nlohmann::json encodeConfiguration(const Configuration& configuration)
{
    return treeOf(configuration, writeConfiguration);
}

nlohmann::json encodeBrightnessKeyStep(BrightnessKeyStep step)
{
    return encodeInteger(rawValue(step));
}

std::string encodeConfigurationText(const Configuration& configuration)
{
    return jsonText([&](JSONWriter& out) { writeConfiguration(out, configuration); });
}

SettingKey decodeSettingKey(const JSONValue& value)
{
    const std::string raw = decodeString(value);
    if (const std::optional<SettingKey> key = settingKey(raw))
        return *key;
    throw value.dataCorrupted("\"" + raw + "\" is not a display setting.");
}

BrightnessKeyStep decodeBrightnessKeyStep(const JSONValue& value)
{
    const std::int64_t raw = decodeInteger(value);
    if (const std::optional<BrightnessKeyStep> step = brightnessKeyStep(raw))
        return *step;
    throw value.dataCorrupted(
        "The brightness-key step must be 1, 2, 3, 5 or 10, not " + formatInteger(raw) + ".");
}

Temperature decodeTemperature(const JSONValue& value)
{
    const JSONTaggedCase tagged = value.taggedCase({"neutral", "kelvin"});
    if (tagged.name == "kelvin")
        return Temperature::kelvin(tagged.payload.required("_0", decodeInteger));
    return Temperature::neutral();
}

RefreshPreference decodeRefreshPreference(const JSONValue& value)
{
    const JSONTaggedCase tagged = value.taggedCase({"fixed", "adaptive"});
    if (tagged.name == "fixed")
        return RefreshPreference::fixed(tagged.payload.required("millihertz", decodeInteger));
    return RefreshPreference::adaptive();
}

SettingValue decodeSettingValue(const JSONValue& value)
{
    const JSONTaggedCase tagged = value.taggedCase({"percent", "toggle", "temperature", "refresh"});
    const JSONObject& payload = tagged.payload;
    if (tagged.name == "percent")
        return SettingValue::percent(payload.required("_0", decodeDouble));
    if (tagged.name == "toggle")
        return SettingValue::toggle(payload.required("_0", decodeBool));
    if (tagged.name == "temperature")
        return SettingValue::temperature(payload.required("_0", decodeTemperature));
    return SettingValue::refresh(payload.required("_0", decodeRefreshPreference));
}

ControlTarget decodeControlTarget(const JSONValue& value)
{
    const JSONTaggedCase tagged = value.taggedCase({"display"});
    return ControlTarget::display(tagged.payload.required("_0", decodeString));
}

ControlKey decodeControlKey(const JSONValue& value)
{
    const JSONObject object = value.object();
    return {
        .target = object.required("target", decodeControlTarget),
        .setting = object.required("setting", decodeSettingKey),
    };
}

Desktop decodeDesktop(const JSONValue& value)
{
    const JSONObject object = value.object();
    return {
        .id = object.required("id", decodeString),
        .name = object.required("name", decodeString),
        .displayID = object.optional("displayID", decodeString),
        .isShared = object.required("isShared", decodeBool),
    };
}

DisplayReference decodeDisplayReference(const JSONValue& value)
{
    const JSONObject object = value.object();
    return {
        .id = object.required("id", decodeString),
        .name = object.required("name", decodeString),
    };
}

ApplicationReference decodeApplicationReference(const JSONValue& value)
{
    const JSONObject object = value.object();
    return {
        .id = object.required("id", decodeString),
        .name = object.required("name", decodeString),
    };
}

RuleSettings decodeRuleSettings(const JSONValue& value)
{
    const JSONObject object = value.object();
    return {
        .brightness = object.optional("brightness", decodeDouble),
        .hdr = object.optional("hdr", decodeBool),
        .temperature = object.optional("temperature", decodeTemperature),
        .refreshRate = object.optional("refreshRate", decodeRefreshPreference),
        .contrast = object.optional("contrast", decodeDouble),
    };
}

RuleConditions decodeRuleConditions(const JSONValue& value)
{
    const JSONObject object = value.object();
    if (object.contains("apps")) {
        return {
            .apps = object.required("apps", arrayOf(decodeApplicationReference)),
            .screen = object.optional("screen", decodeDisplayReference),
            .space = object.optional("space", decodeDesktop),
        };
    }
    // Files from before rules could name several applications.
    const std::optional<std::string> appBundleID = object.optional("appBundleID", decodeString);
    std::optional<std::string> appName = object.optional("appName", decodeString);
    if (appName && isBlank(*appName))
        appName.reset();
    return RuleConditions::forApplication(appBundleID, std::move(appName),
        object.optional("screen", decodeDisplayReference), object.optional("space", decodeDesktop));
}

Rule decodeRule(const JSONValue& value)
{
    const JSONObject object = value.object();
    return {
        .id = object.required("id", decodeUUID),
        .name = object.required("name", decodeString),
        .isEnabled = object.required("isEnabled", decodeBool),
        .conditions = object.required("conditions", decodeRuleConditions),
        .settings = object.required("settings", decodeRuleSettings),
    };
}

DefaultSettings decodeDefaultSettings(const JSONValue& value)
{
    const JSONObject object = value.object();
    return {
        .displays = object.required("displays", mapOf(decodeRuleSettings)),
        .initializedDisplayIDs = object.required("initializedDisplayIDs", setOf(decodeString)),
    };
}

SystemDisplayControl decodeSystemDisplayControl(const JSONValue& value)
{
    const JSONTaggedCase tagged
        = value.taggedCase({"trueTone", "darkMode", "nightShift", "automaticBrightness"});
    if (tagged.name == "trueTone")
        return SystemDisplayControl::trueTone();
    if (tagged.name == "darkMode")
        return SystemDisplayControl::darkMode();
    if (tagged.name == "nightShift")
        return SystemDisplayControl::nightShift();
    return SystemDisplayControl::automaticBrightness(tagged.payload.required("_0", decodeString));
}

ProfileDisplayPreferences decodeProfileDisplayPreferences(const JSONValue& value)
{
    const JSONObject object = value.object();
    return {
        .trueTone = object.optional("trueTone", decodeBool),
        .darkMode = object.optional("darkMode", decodeBool),
        .nightShift = object.optional("nightShift", decodeBool),
        .automaticBrightness = object.optional("automaticBrightness", decodeBool),
        .resolutions = object.optional("resolutions", mapOf(decodeDisplayResolution)),
    };
}

DisplayResolution decodeDisplayResolution(const JSONValue& value)
{
    const JSONObject object = value.object();
    return {
        .width = object.required("width", decodeInteger),
        .height = object.required("height", decodeInteger),
        .pixelWidth = object.required("pixelWidth", decodeInteger),
        .pixelHeight = object.required("pixelHeight", decodeInteger),
    };
}

ModeConfiguration decodeModeConfiguration(const JSONValue& value)
{
    const JSONObject object = value.object();
    return {
        .refreshRate = object.optional("refreshRate", decodeRefreshPreference),
        .hdr = object.optional("hdr", decodeBool),
        .resolution = object.optional("resolution", decodeDisplayResolution),
    };
}

VerifiedModeConfiguration decodeVerifiedModeConfiguration(const JSONValue& value)
{
    const JSONObject object = value.object();
    return {
        .displayID = object.required("displayID", decodeString),
        .environment = object.required("environment", decodeString),
        .mode = object.required("mode", decodeModeConfiguration),
    };
}

Profile decodeProfile(const JSONValue& value)
{
    const JSONObject object = value.object();
    return {
        .id = object.required("id", decodeUUID),
        .name = object.required("name", decodeString),
        .defaultSettings = object.optional("defaultSettings", decodeDefaultSettings),
        .rules = object.required("rules", arrayOf(decodeRule)),
        .displayPreferences
        = object.optional("displayPreferences", decodeProfileDisplayPreferences),
        .capturedDisplayPreferences = object.optional(
            "capturedDisplayPreferences", alternatingMapOf(decodeSystemDisplayControl, decodeBool)),
    };
}

Configuration decodeConfiguration(const JSONValue& value)
{
    const JSONObject object = value.object();
    // The default document's fresh profile is replaced along with every other field.
    Configuration configuration;
    configuration.schemaVersion = object.required("schemaVersion", decodeInteger);
    configuration.profiles = object.required("profiles", arrayOf(decodeProfile));
    configuration.activeProfileID = object.required("activeProfileID", decodeUUID);
    configuration.defaultProfileID = object.required("defaultProfileID", decodeUUID);
    configuration.knownDisplays = object.required("knownDisplays", arrayOf(decodeDisplayReference));
    configuration.displayNames = object.optional("displayNames", mapOf(decodeString));
    configuration.verifiedModes
        = object.required("verifiedModes", arrayOf(decodeVerifiedModeConfiguration));
    configuration.automationEnabled = object.required("automationEnabled", decodeBool);
    configuration.holdMinutes = object.required("holdMinutes", decodeInteger);
    configuration.smoothTransitions = object.required("smoothTransitions", decodeBool);
    configuration.debounceMilliseconds = object.required("debounceMilliseconds", decodeInteger);
    configuration.brightnessKeysEnabled = object.required("brightnessKeysEnabled", decodeBool);
    configuration.brightnessKeyStep = object.required("brightnessKeyStep", decodeBrightnessKeyStep);
    return configuration;
}

} // namespace quorvane
