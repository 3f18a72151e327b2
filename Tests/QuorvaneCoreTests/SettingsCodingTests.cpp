#include "Foundation/JSON.h"
#include "QuorvaneCore/Configuration.h"
#include "QuorvaneCore/SettingsCoding.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <string>
#include <string_view>

using namespace quorvane;

namespace {

const UUID defaultID = *UUID::parse("6F1C2B3A-4D5E-4F60-8172-93A4B5C6D7E8");
const UUID workID = *UUID::parse("0B8E9F10-2A3B-4C5D-9E6F-708192A3B4C5");
const UUID ruleID = *UUID::parse("A1B2C3D4-E5F6-4718-89AB-CDEF01234567");

/// A document holding every optional value and every case of every tagged variant.
Configuration everyOptionalValue()
{
    const DisplayResolution retina{
        .width = 1512, .height = 982, .pixelWidth = 3024, .pixelHeight = 1964};
    const RuleSettings everySetting{.brightness = 0.75,
        .hdr = true,
        .temperature = Temperature::kelvin(6500),
        .refreshRate = RefreshPreference::fixed(59'940),
        .contrast = 0.5};
    Configuration configuration;
    configuration.profiles = {
        {
            .id = defaultID,
            .name = "Default",
            .defaultSettings = DefaultSettings{.displays = {{"d1", everySetting}},
                .initializedDisplayIDs = {"d1", "d2"}},
            .displayPreferences = ProfileDisplayPreferences{.trueTone = true,
                .darkMode = false,
                .nightShift = true,
                .automaticBrightness = false,
                .resolutions = {{{"d1", retina}}}},
            .capturedDisplayPreferences
            = {{{SystemDisplayControl::trueTone(), true}, {SystemDisplayControl::darkMode(), false},
                {SystemDisplayControl::nightShift(), true},
                {SystemDisplayControl::automaticBrightness("d1"), false}}},
        },
        {
            .id = workID,
            .name = "Work",
            .rules = {{
                .id = ruleID,
                .name = "Evening",
                .isEnabled = false,
                .conditions = {.apps = {{.id = "com.example.editor", .name = "Editor"}},
                    .screen = DisplayReference{.id = "d1", .name = "Studio"},
                    .space
                    = Desktop{.id = "s1", .name = "Space 1", .displayID = "d1", .isShared = true}},
                .settings = {.temperature = Temperature::neutral(),
                    .refreshRate = RefreshPreference::adaptive()},
            }},
        },
    };
    configuration.activeProfileID = workID;
    configuration.defaultProfileID = defaultID;
    configuration.knownDisplays = {{.id = "d1", .name = "Studio"}};
    configuration.displayNames = {{{"d1", "Desk"}}};
    configuration.verifiedModes = {{.displayID = "d1",
        .environment = "display-mode-v2|15.5|path",
        .mode
        = {.refreshRate = RefreshPreference::fixed(120'000), .hdr = true, .resolution = retina}}};
    configuration.automationEnabled = true;
    configuration.holdMinutes = 0;
    configuration.smoothTransitions = false;
    configuration.debounceMilliseconds = 0;
    configuration.brightnessKeysEnabled = true;
    configuration.brightnessKeyStep = BrightnessKeyStep::ten;
    return configuration;
}

/// everyOptionalValue() as the settings file holds it.
const nlohmann::json everyOptionalValueJSON = nlohmann::json::parse(R"({
  "schemaVersion": 5,
  "profiles": [
    {
      "id": "6F1C2B3A-4D5E-4F60-8172-93A4B5C6D7E8",
      "name": "Default",
      "defaultSettings": {
        "displays": {
          "d1": {
            "brightness": 0.75,
            "hdr": true,
            "temperature": {"kelvin": {"_0": 6500}},
            "refreshRate": {"fixed": {"millihertz": 59940}},
            "contrast": 0.5
          }
        },
        "initializedDisplayIDs": ["d1", "d2"]
      },
      "rules": [],
      "displayPreferences": {
        "trueTone": true,
        "darkMode": false,
        "nightShift": true,
        "automaticBrightness": false,
        "resolutions": {
          "d1": {"width": 1512, "height": 982, "pixelWidth": 3024, "pixelHeight": 1964}
        }
      },
      "capturedDisplayPreferences": [
        {"trueTone": {}}, true,
        {"darkMode": {}}, false,
        {"nightShift": {}}, true,
        {"automaticBrightness": {"_0": "d1"}}, false
      ]
    },
    {
      "id": "0B8E9F10-2A3B-4C5D-9E6F-708192A3B4C5",
      "name": "Work",
      "rules": [
        {
          "id": "A1B2C3D4-E5F6-4718-89AB-CDEF01234567",
          "name": "Evening",
          "isEnabled": false,
          "conditions": {
            "apps": [{"id": "com.example.editor", "name": "Editor"}],
            "screen": {"id": "d1", "name": "Studio"},
            "space": {"id": "s1", "name": "Space 1", "displayID": "d1", "isShared": true}
          },
          "settings": {
            "temperature": {"neutral": {}},
            "refreshRate": {"adaptive": {}}
          }
        }
      ]
    }
  ],
  "activeProfileID": "0B8E9F10-2A3B-4C5D-9E6F-708192A3B4C5",
  "defaultProfileID": "6F1C2B3A-4D5E-4F60-8172-93A4B5C6D7E8",
  "knownDisplays": [{"id": "d1", "name": "Studio"}],
  "displayNames": {"d1": "Desk"},
  "verifiedModes": [
    {
      "displayID": "d1",
      "environment": "display-mode-v2|15.5|path",
      "mode": {
        "refreshRate": {"fixed": {"millihertz": 120000}},
        "hdr": true,
        "resolution": {"width": 1512, "height": 982, "pixelWidth": 3024, "pixelHeight": 1964}
      }
    }
  ],
  "automationEnabled": true,
  "holdMinutes": 0,
  "smoothTransitions": false,
  "debounceMilliseconds": 0,
  "brightnessKeysEnabled": true,
  "brightnessKeyStep": 10
})");

Configuration decodedDocument(const nlohmann::json& document)
{
    return decodeConfiguration(JSONValue(document));
}

/// The value that `decode` reads from `text`, encoded again as compact JSON; or "error: " and
/// the decoding error's text.
template <auto decode, auto encode> std::string reading(std::string_view text)
{
    const nlohmann::json document = parseJSON(text);
    try {
        return encode(decode(JSONValue(document))).dump();
    } catch (const JSONDecodingError& error) {
        return "error: " + std::string(error.what());
    }
}

struct ReadingCase {
    std::string (*read)(std::string_view);
    std::string_view input;
    /// Compact JSON of what was read, or "error: " and the error's text.
    std::string_view outcome;
};

void expectReadings(std::initializer_list<ReadingCase> cases)
{
    for (const ReadingCase& c : cases) {
        SCOPED_TRACE(c.input);
        const std::string expected = c.outcome.starts_with("error: ")
            ? std::string(c.outcome)
            : nlohmann::json::parse(c.outcome).dump();
        EXPECT_EQ(c.read(c.input), expected);
    }
}

} // namespace

TEST(SettingsCodingTest, WritesEveryOptionalValueUnderItsMemberName)
{
    EXPECT_EQ(encodeConfiguration(everyOptionalValue()), everyOptionalValueJSON);
    EXPECT_EQ(decodedDocument(everyOptionalValueJSON), everyOptionalValue());
}

TEST(SettingsCodingTest, LeavesAbsentOptionalValuesOutAndReadsThemBackAbsent)
{
    const ScopedUUIDGenerator identifiers(sequentialUUIDGenerator());
    Configuration configuration;
    configuration.profiles.push_back({.id = workID,
        .name = "Work",
        .rules = {{.id = ruleID, .name = "Dim", .settings = {.brightness = 0.25}}}});
    configuration.verifiedModes = {{.displayID = "d1", .environment = "e", .mode = {}}};

    const nlohmann::json written = encodeConfiguration(configuration);
    EXPECT_EQ(written, nlohmann::json::parse(R"({
      "schemaVersion": 5,
      "profiles": [
        {
          "id": "00000000-0000-0000-0000-000000000001",
          "name": "Default",
          "defaultSettings": {"displays": {}, "initializedDisplayIDs": []},
          "rules": []
        },
        {
          "id": "0B8E9F10-2A3B-4C5D-9E6F-708192A3B4C5",
          "name": "Work",
          "rules": [
            {
              "id": "A1B2C3D4-E5F6-4718-89AB-CDEF01234567",
              "name": "Dim",
              "isEnabled": true,
              "conditions": {"apps": []},
              "settings": {"brightness": 0.25}
            }
          ]
        }
      ],
      "activeProfileID": "00000000-0000-0000-0000-000000000001",
      "defaultProfileID": "00000000-0000-0000-0000-000000000001",
      "knownDisplays": [],
      "verifiedModes": [{"displayID": "d1", "environment": "e", "mode": {}}],
      "automationEnabled": false,
      "holdMinutes": 30,
      "smoothTransitions": true,
      "debounceMilliseconds": 300,
      "brightnessKeysEnabled": false,
      "brightnessKeyStep": 5
    })"));
    EXPECT_EQ(decodedDocument(parseJSON(serializeJSON(written))), configuration);
}

TEST(SettingsCodingTest, EveryRequiredMemberMustBePresentAndNotNull)
{
    const char* const requiredMembers[] = {"/schemaVersion", "/profiles", "/activeProfileID",
        "/defaultProfileID", "/knownDisplays", "/verifiedModes", "/automationEnabled",
        "/holdMinutes", "/smoothTransitions", "/debounceMilliseconds", "/brightnessKeysEnabled",
        "/brightnessKeyStep", "/profiles/0/id", "/profiles/0/name", "/profiles/0/rules",
        "/profiles/0/defaultSettings/displays", "/profiles/0/defaultSettings/initializedDisplayIDs",
        "/profiles/0/displayPreferences/resolutions/d1/pixelHeight", "/profiles/1/rules/0/id",
        "/profiles/1/rules/0/name", "/profiles/1/rules/0/isEnabled",
        "/profiles/1/rules/0/conditions", "/profiles/1/rules/0/settings",
        "/profiles/1/rules/0/conditions/apps/0/id", "/profiles/1/rules/0/conditions/apps/0/name",
        "/profiles/1/rules/0/conditions/screen/id", "/profiles/1/rules/0/conditions/screen/name",
        "/profiles/1/rules/0/conditions/space/id", "/profiles/1/rules/0/conditions/space/name",
        "/profiles/1/rules/0/conditions/space/isShared", "/knownDisplays/0/id",
        "/knownDisplays/0/name", "/verifiedModes/0/displayID", "/verifiedModes/0/environment",
        "/verifiedModes/0/mode"};
    for (const char* member : requiredMembers) {
        SCOPED_TRACE(member);
        const nlohmann::json::json_pointer pointer(member);
        nlohmann::json missing = everyOptionalValueJSON;
        missing[pointer.parent_pointer()].erase(pointer.back());
        try {
            (void)decodedDocument(missing);
            ADD_FAILURE() << "decoded without the member";
        } catch (const JSONDecodingError& error) {
            EXPECT_EQ(error.kind(), JSONDecodingError::Kind::keyNotFound);
        }
        nlohmann::json null = everyOptionalValueJSON;
        null[pointer] = nullptr;
        try {
            (void)decodedDocument(null);
            ADD_FAILURE() << "decoded with null";
        } catch (const JSONDecodingError& error) {
            EXPECT_EQ(error.kind(), JSONDecodingError::Kind::valueNotFound);
        }
    }
}

TEST(SettingsCodingTest, EveryOptionalMemberReadsAsAbsentWhenMissingOrNull)
{
    const char* const optionalMembers[] = {"/displayNames", "/profiles/0/defaultSettings",
        "/profiles/0/displayPreferences", "/profiles/0/capturedDisplayPreferences",
        "/profiles/0/defaultSettings/displays/d1/brightness",
        "/profiles/0/defaultSettings/displays/d1/hdr",
        "/profiles/0/defaultSettings/displays/d1/temperature",
        "/profiles/0/defaultSettings/displays/d1/refreshRate",
        "/profiles/0/defaultSettings/displays/d1/contrast",
        "/profiles/0/displayPreferences/trueTone", "/profiles/0/displayPreferences/darkMode",
        "/profiles/0/displayPreferences/nightShift",
        "/profiles/0/displayPreferences/automaticBrightness",
        "/profiles/0/displayPreferences/resolutions", "/profiles/1/rules/0/conditions/screen",
        "/profiles/1/rules/0/conditions/space", "/profiles/1/rules/0/conditions/space/displayID",
        "/verifiedModes/0/mode/refreshRate", "/verifiedModes/0/mode/hdr",
        "/verifiedModes/0/mode/resolution"};
    for (const char* member : optionalMembers) {
        SCOPED_TRACE(member);
        const nlohmann::json::json_pointer pointer(member);
        nlohmann::json missing = everyOptionalValueJSON;
        missing[pointer.parent_pointer()].erase(pointer.back());
        nlohmann::json null = everyOptionalValueJSON;
        null[pointer] = nullptr;
        EXPECT_EQ(encodeConfiguration(decodedDocument(missing)), missing);
        EXPECT_EQ(encodeConfiguration(decodedDocument(null)), missing);
    }
}

TEST(SettingsCodingTest, IgnoresMembersItDoesNotKnow)
{
    const char* const objects[] = {"", "/profiles/0", "/profiles/0/defaultSettings",
        "/profiles/0/defaultSettings/displays/d1", "/profiles/0/displayPreferences",
        "/profiles/1/rules/0", "/profiles/1/rules/0/conditions",
        "/profiles/1/rules/0/conditions/space", "/verifiedModes/0/mode",
        "/verifiedModes/0/mode/resolution"};
    for (const char* object : objects) {
        SCOPED_TRACE(object);
        nlohmann::json document = everyOptionalValueJSON;
        document[nlohmann::json::json_pointer(object)]["outputVolume"] = 0.5;
        EXPECT_EQ(decodedDocument(document), everyOptionalValue());
    }
}

TEST(SettingsCodingTest, TaggedVariantsNeedExactlyOneOfTheirCaseNames)
{
    const auto temperature = reading<decodeTemperature, encodeTemperature>;
    const auto refresh = reading<decodeRefreshPreference, encodeRefreshPreference>;
    const auto value = reading<decodeSettingValue, encodeSettingValue>;
    const auto control = reading<decodeSystemDisplayControl, encodeSystemDisplayControl>;
    expectReadings({
        {temperature, R"({"neutral": {}, "kelvin": {"_0": 5000}})",
            "error: Invalid number of keys found, expected one."},
        {temperature, "{}", "error: Invalid number of keys found, expected one."},
        {temperature, R"({"kelvin": {"_0": 5000}, "warm": {}})", R"({"kelvin": {"_0": 5000}})"},
        {temperature, R"({"kelvin": {}})",
            R"(error: kelvin: No value associated with the key "_0".)"},
        {temperature, R"({"kelvin": {"_0": 6500.5}})",
            "error: kelvin._0: Expected an integer but found a floating-point number."},
        {temperature, R"({"neutral": true})",
            "error: neutral: Expected an object but found a Bool."},
        {temperature, R"({"neutral": {"_0": 1}})", R"({"neutral": {}})"},
        {temperature, R"(["neutral"])", "error: Expected an object but found an array."},
        {refresh, R"({"fixed": {}})",
            R"(error: fixed: No value associated with the key "millihertz".)"},
        {refresh, R"({"adaptive": {"millihertz": 1}})", R"({"adaptive": {}})"},
        {refresh, R"({"fixed": {"millihertz": 60000}, "adaptive": {}})",
            "error: Invalid number of keys found, expected one."},
        {value, R"({"percent": {"_0": 0.5}})", R"({"percent": {"_0": 0.5}})"},
        {value, R"({"percent": {"_0": true}})",
            "error: percent._0: Expected a number but found a Bool."},
        {value, R"({"toggle": {"_0": 1}})",
            "error: toggle._0: Expected a Bool but found an integer."},
        {value, R"({"temperature": {"_0": {"kelvin": {"_0": 6500}}}})",
            R"({"temperature": {"_0": {"kelvin": {"_0": 6500}}}})"},
        {value, R"({"refresh": {"_0": {"fixed": {"millihertz": 60000}}}})",
            R"({"refresh": {"_0": {"fixed": {"millihertz": 60000}}}})"},
        {value, R"({"percent": {"_0": 0.5}, "toggle": {"_0": true}})",
            "error: Invalid number of keys found, expected one."},
        {control, R"({"automaticBrightness": {"_0": "d1"}})",
            R"({"automaticBrightness": {"_0": "d1"}})"},
        {control, R"({"automaticBrightness": {}})",
            R"(error: automaticBrightness: No value associated with the key "_0".)"},
        {control, R"({"volume": {}})", "error: Invalid number of keys found, expected one."},
    });
}

TEST(SettingsCodingTest, ControlKeysCodeTheirSettingAsItsRawText)
{
    const auto key = reading<decodeControlKey, encodeControlKey>;
    expectReadings({
        {key, R"({"target": {"display": {"_0": "d1"}}, "setting": "refreshRate"})",
            R"({"target": {"display": {"_0": "d1"}}, "setting": "refreshRate"})"},
        {key, R"({"target": {"display": {"_0": "d1"}}, "setting": "Brightness"})",
            R"(error: setting: "Brightness" is not a display setting.)"},
        {key, R"({"target": {"screen": {"_0": "d1"}}, "setting": "hdr"})",
            "error: target: Invalid number of keys found, expected one."},
    });
}

TEST(SettingsCodingTest, ConditionsWithoutAppsReadTheOlderSingleApplicationKeys)
{
    const auto conditions = reading<decodeRuleConditions, encodeRuleConditions>;
    expectReadings({
        {conditions, R"({"appBundleID": "com.example.editor", "appName": "Editor"})",
            R"({"apps": [{"id": "com.example.editor", "name": "Editor"}]})"},
        {conditions, R"({"appBundleID": "com.example.editor", "appName": " \n\t"})",
            R"({"apps": [{"id": "com.example.editor", "name": "com.example.editor"}]})"},
        {conditions, R"({"appBundleID": "com.example.editor", "appName": " Editor "})",
            R"({"apps": [{"id": "com.example.editor", "name": " Editor "}]})"},
        {conditions, R"({"appBundleID": "com.example.editor", "appName": null})",
            R"({"apps": [{"id": "com.example.editor", "name": "com.example.editor"}]})"},
        {conditions, R"({"appName": "Editor"})", R"({"apps": []})"},
        {conditions, "{}", R"({"apps": []})"},
        {conditions, R"({"apps": [], "appBundleID": "com.example.editor"})", R"({"apps": []})"},
        {conditions, R"({"apps": null, "appBundleID": "com.example.editor"})",
            "error: apps: Found null where a value is required."},
        {conditions, R"({"appBundleID": 7})",
            "error: appBundleID: Expected a string but found an integer."},
        {conditions,
            R"({"appBundleID": "com.example.editor", "screen": {"id": "d1", "name": "Studio"}})",
            R"({"apps": [{"id": "com.example.editor", "name": "com.example.editor"}],
                "screen": {"id": "d1", "name": "Studio"}})"},
    });
}

TEST(SettingsCodingTest, CapturedPreferencesAreAnAlternatingArrayOfControlsAndValues)
{
    const auto captured = [](std::string_view array) {
        const nlohmann::json profile = parseJSON(
            R"({"id": "6F1C2B3A-4D5E-4F60-8172-93A4B5C6D7E8", "name": "P", "rules": [],
                "capturedDisplayPreferences": )"
            + std::string(array) + "}");
        try {
            const Profile decoded = decodeProfile(JSONValue(profile));
            if (!decoded.capturedDisplayPreferences)
                return std::string("absent");
            return encodeProfile(decoded)["capturedDisplayPreferences"].dump();
        } catch (const JSONDecodingError& error) {
            return "error: " + std::string(error.what());
        }
    };
    struct Case {
        std::string_view array;
        std::string_view outcome;
    };
    const Case cases[] = {
        {"[]", "[]"},
        {"null", "absent"},
        {R"([{"darkMode": {}}, true, {"trueTone": {}}])",
            "error: capturedDisplayPreferences: Expected an array of alternating keys and values, "
            "but it has an odd number of elements."},
        {R"([{"darkMode": {}}, true, {"darkMode": {}}, false])", R"([{"darkMode":{}},false])"},
        {R"([{"darkMode": {}}, 1])",
            "error: capturedDisplayPreferences[1]: Expected a Bool but found an integer."},
        {R"([{"volume": {}}, true])",
            "error: capturedDisplayPreferences[0]: Invalid number of keys found, expected one."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.array);
        EXPECT_EQ(captured(c.array), c.outcome);
    }
}

TEST(SettingsCodingTest, BrightnessKeyStepIsOneOfItsIntegers)
{
    const auto step = reading<decodeBrightnessKeyStep, encodeBrightnessKeyStep>;
    expectReadings({
        {step, "10", "10"},
        {step, "1", "1"},
        {step, "4", "error: The brightness-key step must be 1, 2, 3, 5 or 10, not 4."},
        {step, "0", "error: The brightness-key step must be 1, 2, 3, 5 or 10, not 0."},
        {step, "5.0", "error: Expected an integer but found a floating-point number."},
        {step, R"("5")", "error: Expected an integer but found a string."},
    });
}

TEST(SettingsCodingTest, IdentifiersReadInEitherCaseAndAreWrittenInUpperCase)
{
    nlohmann::json document = everyOptionalValueJSON;
    document["activeProfileID"] = "0b8e9f10-2a3b-4c5d-9e6f-708192a3b4c5";
    document["profiles"][1]["id"] = "0b8e9f10-2A3B-4c5d-9E6F-708192a3b4c5";
    EXPECT_EQ(encodeConfiguration(decodedDocument(document)), everyOptionalValueJSON);

    document["activeProfileID"] = "0B8E9F102A3B4C5D9E6F708192A3B4C5";
    try {
        (void)decodedDocument(document);
        ADD_FAILURE() << "decoded an identifier without hyphens";
    } catch (const JSONDecodingError& error) {
        EXPECT_EQ(error.codingPath(), "activeProfileID");
        EXPECT_EQ(error.kind(), JSONDecodingError::Kind::dataCorrupted);
    }
}
