// The JSON coding of the settings model: one encode and one decode function per coded type, so
// that the model headers stay free of JSON. Decoders nest into the Foundation kit's readers, as
// in object.required("rules", arrayOf(decodeRule)).
#pragma once

#include "Foundation/JSON.h"
#include "QuorvaneCore/BrightnessKeys.h"
#include "QuorvaneCore/SettingValue.h"

#include <nlohmann/json_fwd.hpp>

#include <string>

namespace quorvane {

struct ApplicationReference;
struct Configuration;
struct ControlKey;
struct ControlTarget;
struct DefaultSettings;
struct Desktop;
struct DisplayReference;
struct DisplayResolution;
struct ModeConfiguration;
struct Profile;
struct ProfileDisplayPreferences;
struct Rule;
struct RuleConditions;
struct RuleSettings;
struct SystemDisplayControl;
struct VerifiedModeConfiguration;

// Every decoder throws JSONDecodingError when the value breaks the coding: a missing or null
// required member, a value of the wrong kind, a UUID or raw value that does not parse, a tagged
// variant without exactly one of its case names ("Invalid number of keys found, expected one."),
// or an alternating array of odd length. Members a type does not code are ignored. Optional
// members read as absent when missing or null, and encoders leave absent ones out.

/// The raw text: "brightness", "hdr", "temperature", "refreshRate" or "contrast".
[[nodiscard]] nlohmann::json encodeSettingKey(SettingKey key);
[[nodiscard]] SettingKey decodeSettingKey(const JSONValue& value);

/// The step's integer: 1, 2, 3, 5 or 10.
[[nodiscard]] nlohmann::json encodeBrightnessKeyStep(BrightnessKeyStep step);
[[nodiscard]] BrightnessKeyStep decodeBrightnessKeyStep(const JSONValue& value);

/// {"neutral": {}} or {"kelvin": {"_0": 6500}}.
[[nodiscard]] nlohmann::json encodeTemperature(const Temperature& temperature);
[[nodiscard]] Temperature decodeTemperature(const JSONValue& value);

/// {"fixed": {"millihertz": 60000}} or {"adaptive": {}}.
[[nodiscard]] nlohmann::json encodeRefreshPreference(const RefreshPreference& preference);
[[nodiscard]] RefreshPreference decodeRefreshPreference(const JSONValue& value);

/// {"percent": {"_0": 0.5}}, {"toggle": {"_0": true}}, {"temperature": {"_0": Temperature}} or
/// {"refresh": {"_0": RefreshPreference}}.
[[nodiscard]] nlohmann::json encodeSettingValue(const SettingValue& value);
[[nodiscard]] SettingValue decodeSettingValue(const JSONValue& value);

/// {"display": {"_0": display identifier}}.
[[nodiscard]] nlohmann::json encodeControlTarget(const ControlTarget& target);
[[nodiscard]] ControlTarget decodeControlTarget(const JSONValue& value);

[[nodiscard]] nlohmann::json encodeControlKey(const ControlKey& key);
[[nodiscard]] ControlKey decodeControlKey(const JSONValue& value);

[[nodiscard]] nlohmann::json encodeDesktop(const Desktop& desktop);
[[nodiscard]] Desktop decodeDesktop(const JSONValue& value);

[[nodiscard]] nlohmann::json encodeDisplayReference(const DisplayReference& display);
[[nodiscard]] DisplayReference decodeDisplayReference(const JSONValue& value);

[[nodiscard]] nlohmann::json encodeApplicationReference(const ApplicationReference& application);
[[nodiscard]] ApplicationReference decodeApplicationReference(const JSONValue& value);

[[nodiscard]] nlohmann::json encodeRuleSettings(const RuleSettings& settings);
[[nodiscard]] RuleSettings decodeRuleSettings(const JSONValue& value);

/// Always written with "apps". Read from "apps" whenever the key is there, even as null (which
/// fails); otherwise from the older "appBundleID" and "appName", where a name of only white
/// space counts as absent and no bundle identifier means no application.
[[nodiscard]] nlohmann::json encodeRuleConditions(const RuleConditions& conditions);
[[nodiscard]] RuleConditions decodeRuleConditions(const JSONValue& value);

[[nodiscard]] nlohmann::json encodeRule(const Rule& rule);
[[nodiscard]] Rule decodeRule(const JSONValue& value);

[[nodiscard]] nlohmann::json encodeDefaultSettings(const DefaultSettings& settings);
[[nodiscard]] DefaultSettings decodeDefaultSettings(const JSONValue& value);

/// {"trueTone": {}}, {"darkMode": {}}, {"nightShift": {}} or
/// {"automaticBrightness": {"_0": display identifier}}.
[[nodiscard]] nlohmann::json encodeSystemDisplayControl(const SystemDisplayControl& control);
[[nodiscard]] SystemDisplayControl decodeSystemDisplayControl(const JSONValue& value);

[[nodiscard]] nlohmann::json encodeProfileDisplayPreferences(
    const ProfileDisplayPreferences& preferences);
[[nodiscard]] ProfileDisplayPreferences decodeProfileDisplayPreferences(const JSONValue& value);

[[nodiscard]] nlohmann::json encodeDisplayResolution(const DisplayResolution& resolution);
[[nodiscard]] DisplayResolution decodeDisplayResolution(const JSONValue& value);

[[nodiscard]] nlohmann::json encodeModeConfiguration(const ModeConfiguration& mode);
[[nodiscard]] ModeConfiguration decodeModeConfiguration(const JSONValue& value);

[[nodiscard]] nlohmann::json encodeVerifiedModeConfiguration(
    const VerifiedModeConfiguration& verified);
[[nodiscard]] VerifiedModeConfiguration decodeVerifiedModeConfiguration(const JSONValue& value);

/// Its captured display preferences are an alternating array [control, Bool, ...].
[[nodiscard]] nlohmann::json encodeProfile(const Profile& profile);
[[nodiscard]] Profile decodeProfile(const JSONValue& value);

/// The whole settings document. Decoding does not validate it: call validate() before use.
[[nodiscard]] nlohmann::json encodeConfiguration(const Configuration& configuration);
[[nodiscard]] Configuration decodeConfiguration(const JSONValue& value);

/// The text of serializeJSON(encodeConfiguration(configuration)), written straight from the
/// document without the tree, and with the same JSONEncodingError.
[[nodiscard]] std::string encodeConfigurationText(const Configuration& configuration);

} // namespace quorvane
