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

nlohmann::json encodeSettingKey(SettingKey key) { return encodeString(rawValue(key)); }

SettingKey decodeSettingKey(const JSONValue& value)
{
    const std::string raw = decodeString(value);
    if (const std::optional<SettingKey> key = settingKey(raw))
        return *key;
    throw value.dataCorrupted("\"" + raw + "\" is not a display setting.");
}

nlohmann::json encodeBrightnessKeyStep(BrightnessKeyStep step)
{
    return encodeInteger(rawValue(step));
}

BrightnessKeyStep decodeBrightnessKeyStep(const JSONValue& value)
{
    const std::int64_t raw = decodeInteger(value);
    if (const std::optional<BrightnessKeyStep> step = brightnessKeyStep(raw))
        return *step;
    throw value.dataCorrupted(
        "The brightness-key step must be 1, 2, 3, 5 or 10, not " + formatInteger(raw) + ".");
}

nlohmann::json encodeTemperature(const Temperature& temperature)
{
    const auto encodeCase = Overloaded{
        [](const Temperature::Neutral&) { return encodeTaggedCase("neutral"); },
        [](const Temperature::Kelvin& kelvin) {
            return encodeTaggedCase("kelvin", {{"_0", encodeInteger(kelvin.value)}});
        },
    };
    return std::visit(encodeCase, temperature.value);
}

Temperature decodeTemperature(const JSONValue& value)
{
    const JSONTaggedCase tagged = value.taggedCase({"neutral", "kelvin"});
    if (tagged.name == "kelvin")
        return Temperature::kelvin(tagged.payload.required("_0", decodeInteger));
    return Temperature::neutral();
}

nlohmann::json encodeRefreshPreference(const RefreshPreference& preference)
{
    const auto encodeCase = Overloaded{
        [](const RefreshPreference::Fixed& fixed) {
            return encodeTaggedCase("fixed", {{"millihertz", encodeInteger(fixed.millihertz)}});
        },
        [](const RefreshPreference::Adaptive&) { return encodeTaggedCase("adaptive"); },
    };
    return std::visit(encodeCase, preference.value);
}

RefreshPreference decodeRefreshPreference(const JSONValue& value)
{
    const JSONTaggedCase tagged = value.taggedCase({"fixed", "adaptive"});
    if (tagged.name == "fixed")
        return RefreshPreference::fixed(tagged.payload.required("millihertz", decodeInteger));
    return RefreshPreference::adaptive();
}

nlohmann::json encodeSettingValue(const SettingValue& value)
{
    const auto encodeCase = Overloaded{
        [](const SettingValue::Percent& percent) {
            return encodeTaggedCase("percent", {{"_0", encodeDouble(percent.value)}});
        },
        [](const SettingValue::Toggle& toggle) {
            return encodeTaggedCase("toggle", {{"_0", encodeBool(toggle.value)}});
        },
        [](const SettingValue::TemperatureCase& temperature) {
            return encodeTaggedCase("temperature", {{"_0", encodeTemperature(temperature.value)}});
        },
        [](const SettingValue::Refresh& refresh) {
            return encodeTaggedCase("refresh", {{"_0", encodeRefreshPreference(refresh.value)}});
        },
    };
    return std::visit(encodeCase, value.value);
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

nlohmann::json encodeControlTarget(const ControlTarget& target)
{
    const auto encodeCase = Overloaded{
        [](const ControlTarget::Display& display) {
            return encodeTaggedCase("display", {{"_0", encodeString(display.id)}});
        },
    };
    return std::visit(encodeCase, target.value);
}

ControlTarget decodeControlTarget(const JSONValue& value)
{
    const JSONTaggedCase tagged = value.taggedCase({"display"});
    return ControlTarget::display(tagged.payload.required("_0", decodeString));
}

nlohmann::json encodeControlKey(const ControlKey& key)
{
    return encodeObject({
        {"target", encodeControlTarget(key.target)},
        {"setting", encodeSettingKey(key.setting)},
    });
}

ControlKey decodeControlKey(const JSONValue& value)
{
    const JSONObject object = value.object();
    return {
        .target = object.required("target", decodeControlTarget),
        .setting = object.required("setting", decodeSettingKey),
    };
}

nlohmann::json encodeDesktop(const Desktop& desktop)
{
    return encodeObject({
        {"id", encodeString(desktop.id)},
        {"name", encodeString(desktop.name)},
        {"displayID", encodeOptional(desktop.displayID, encodeString)},
        {"isShared", encodeBool(desktop.isShared)},
    });
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

nlohmann::json encodeDisplayReference(const DisplayReference& display)
{
    return encodeObject({{"id", encodeString(display.id)}, {"name", encodeString(display.name)}});
}

DisplayReference decodeDisplayReference(const JSONValue& value)
{
    const JSONObject object = value.object();
    return {
        .id = object.required("id", decodeString),
        .name = object.required("name", decodeString),
    };
}

nlohmann::json encodeApplicationReference(const ApplicationReference& application)
{
    return encodeObject(
        {{"id", encodeString(application.id)}, {"name", encodeString(application.name)}});
}

ApplicationReference decodeApplicationReference(const JSONValue& value)
{
    const JSONObject object = value.object();
    return {
        .id = object.required("id", decodeString),
        .name = object.required("name", decodeString),
    };
}

nlohmann::json encodeRuleSettings(const RuleSettings& settings)
{
    return encodeObject({
        {"brightness", encodeOptional(settings.brightness, encodeDouble)},
        {"hdr", encodeOptional(settings.hdr, encodeBool)},
        {"temperature", encodeOptional(settings.temperature, encodeTemperature)},
        {"refreshRate", encodeOptional(settings.refreshRate, encodeRefreshPreference)},
        {"contrast", encodeOptional(settings.contrast, encodeDouble)},
    });
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

nlohmann::json encodeRuleConditions(const RuleConditions& conditions)
{
    return encodeObject({
        {"apps", encodeArray(conditions.apps, encodeApplicationReference)},
        {"screen", encodeOptional(conditions.screen, encodeDisplayReference)},
        {"space", encodeOptional(conditions.space, encodeDesktop)},
    });
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

nlohmann::json encodeRule(const Rule& rule)
{
    return encodeObject({
        {"id", encodeUUID(rule.id)},
        {"name", encodeString(rule.name)},
        {"isEnabled", encodeBool(rule.isEnabled)},
        {"conditions", encodeRuleConditions(rule.conditions)},
        {"settings", encodeRuleSettings(rule.settings)},
    });
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

nlohmann::json encodeDefaultSettings(const DefaultSettings& settings)
{
    return encodeObject({
        {"displays", encodeMap(settings.displays, encodeRuleSettings)},
        {"initializedDisplayIDs", encodeArray(settings.initializedDisplayIDs, encodeString)},
    });
}

DefaultSettings decodeDefaultSettings(const JSONValue& value)
{
    const JSONObject object = value.object();
    return {
        .displays = object.required("displays", mapOf(decodeRuleSettings)),
        .initializedDisplayIDs = object.required("initializedDisplayIDs", setOf(decodeString)),
    };
}

nlohmann::json encodeSystemDisplayControl(const SystemDisplayControl& control)
{
    const auto encodeCase = Overloaded{
        [](const SystemDisplayControl::TrueTone&) { return encodeTaggedCase("trueTone"); },
        [](const SystemDisplayControl::DarkMode&) { return encodeTaggedCase("darkMode"); },
        [](const SystemDisplayControl::NightShift&) { return encodeTaggedCase("nightShift"); },
        [](const SystemDisplayControl::AutomaticBrightness& automatic) {
            return encodeTaggedCase(
                "automaticBrightness", {{"_0", encodeString(automatic.displayID)}});
        },
    };
    return std::visit(encodeCase, control.value);
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

nlohmann::json encodeProfileDisplayPreferences(const ProfileDisplayPreferences& preferences)
{
    const auto encodeResolutions = [](const std::map<std::string, DisplayResolution>& resolutions) {
        return encodeMap(resolutions, encodeDisplayResolution);
    };
    return encodeObject({
        {"trueTone", encodeOptional(preferences.trueTone, encodeBool)},
        {"darkMode", encodeOptional(preferences.darkMode, encodeBool)},
        {"nightShift", encodeOptional(preferences.nightShift, encodeBool)},
        {"automaticBrightness", encodeOptional(preferences.automaticBrightness, encodeBool)},
        {"resolutions", encodeOptional(preferences.resolutions, encodeResolutions)},
    });
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

nlohmann::json encodeDisplayResolution(const DisplayResolution& resolution)
{
    return encodeObject({
        {"width", encodeInteger(resolution.width)},
        {"height", encodeInteger(resolution.height)},
        {"pixelWidth", encodeInteger(resolution.pixelWidth)},
        {"pixelHeight", encodeInteger(resolution.pixelHeight)},
    });
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

nlohmann::json encodeModeConfiguration(const ModeConfiguration& mode)
{
    return encodeObject({
        {"refreshRate", encodeOptional(mode.refreshRate, encodeRefreshPreference)},
        {"hdr", encodeOptional(mode.hdr, encodeBool)},
        {"resolution", encodeOptional(mode.resolution, encodeDisplayResolution)},
    });
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

nlohmann::json encodeVerifiedModeConfiguration(const VerifiedModeConfiguration& verified)
{
    return encodeObject({
        {"displayID", encodeString(verified.displayID)},
        {"environment", encodeString(verified.environment)},
        {"mode", encodeModeConfiguration(verified.mode)},
    });
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

nlohmann::json encodeProfile(const Profile& profile)
{
    const auto encodeCaptured = [](const std::map<SystemDisplayControl, bool>& captured) {
        return encodeAlternatingMap(captured, encodeSystemDisplayControl, encodeBool);
    };
    return encodeObject({
        {"id", encodeUUID(profile.id)},
        {"name", encodeString(profile.name)},
        {"defaultSettings", encodeOptional(profile.defaultSettings, encodeDefaultSettings)},
        {"rules", encodeArray(profile.rules, encodeRule)},
        {"displayPreferences",
            encodeOptional(profile.displayPreferences, encodeProfileDisplayPreferences)},
        {"capturedDisplayPreferences",
            encodeOptional(profile.capturedDisplayPreferences, encodeCaptured)},
    });
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

nlohmann::json encodeConfiguration(const Configuration& configuration)
{
    const auto encodeNames = [](const std::map<std::string, std::string>& names) {
        return encodeMap(names, encodeString);
    };
    return encodeObject({
        {"schemaVersion", encodeInteger(configuration.schemaVersion)},
        {"profiles", encodeArray(configuration.profiles, encodeProfile)},
        {"activeProfileID", encodeUUID(configuration.activeProfileID)},
        {"defaultProfileID", encodeUUID(configuration.defaultProfileID)},
        {"knownDisplays", encodeArray(configuration.knownDisplays, encodeDisplayReference)},
        {"displayNames", encodeOptional(configuration.displayNames, encodeNames)},
        {"verifiedModes",
            encodeArray(configuration.verifiedModes, encodeVerifiedModeConfiguration)},
        {"automationEnabled", encodeBool(configuration.automationEnabled)},
        {"holdMinutes", encodeInteger(configuration.holdMinutes)},
        {"smoothTransitions", encodeBool(configuration.smoothTransitions)},
        {"debounceMilliseconds", encodeInteger(configuration.debounceMilliseconds)},
        {"brightnessKeysEnabled", encodeBool(configuration.brightnessKeysEnabled)},
        {"brightnessKeyStep", encodeBrightnessKeyStep(configuration.brightnessKeyStep)},
    });
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
