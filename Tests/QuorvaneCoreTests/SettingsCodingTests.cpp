#include "Foundation/JSON.h"
#include "QuorvaneCore/Configuration.h"
#include "QuorvaneCore/SettingsCoding.h"
#include "TestSupport/ReadingTable.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <string>
#include <string_view>

using namespace quorvane;
using nlohmann::json;
using testing::HasSubstr;

namespace {

/// A document holding every optional value and every case of every tagged variant it codes.
const json everyOptionalValueJSON = json::parse(R"({
  "schemaVersion": 5, "activeProfileID": "0B8E9F10-2A3B-4C5D-9E6F-708192A3B4C5",
  "defaultProfileID": "6F1C2B3A-4D5E-4F60-8172-93A4B5C6D7E8",
  "profiles": [
    {"id": "6F1C2B3A-4D5E-4F60-8172-93A4B5C6D7E8", "name": "Default", "rules": [],
     "defaultSettings": {"initializedDisplayIDs": ["d1", "d2"], "displays": {"d1": {"hdr": true,
       "brightness": 0.75, "contrast": 0.5, "temperature": {"kelvin": {"_0": 6500}},
       "refreshRate": {"fixed": {"millihertz": 59940}}}}},
     "displayPreferences": {"trueTone": true, "darkMode": false, "nightShift": true,
       "automaticBrightness": false,
       "resolutions": {"d1": {"width": 1, "height": 2, "pixelWidth": 3, "pixelHeight": 4}}},
     "capturedDisplayPreferences": [{"trueTone": {}}, true, {"darkMode": {}}, false,
       {"nightShift": {}}, true, {"automaticBrightness": {"_0": "d1"}}, false]},
    {"id": "0B8E9F10-2A3B-4C5D-9E6F-708192A3B4C5", "name": "Work",
     "rules": [{"id": "A1B2C3D4-E5F6-4718-89AB-CDEF01234567", "name": "Evening", "isEnabled": false,
       "conditions": {"apps": [{"id": "a", "name": "E"}], "screen": {"id": "d1", "name": "S"},
         "space": {"id": "s1", "name": "S", "displayID": "d1", "isShared": true}},
       "settings": {"temperature": {"neutral": {}}, "refreshRate": {"adaptive": {}}}}]}
  ],
  "knownDisplays": [{"id": "d1", "name": "Studio"}], "displayNames": {"d1": "Desk"},
  "verifiedModes": [{"displayID": "d1", "environment": "env", "mode": {"hdr": true,
    "refreshRate": {"fixed": {"millihertz": 120000}},
    "resolution": {"width": 1, "height": 2, "pixelWidth": 3, "pixelHeight": 4}}}],
  "automationEnabled": true, "holdMinutes": 0, "smoothTransitions": false,
  "debounceMilliseconds": 0, "brightnessKeysEnabled": true, "brightnessKeyStep": 10
})");

const Reader configuration = reading(decodeConfiguration, encodeConfiguration);
const Reader conditions = reading(decodeRuleConditions, encodeRuleConditions);

} // namespace

TEST(SettingsCodingTest, WritesEveryOptionalValueUnderItsMemberNameAndReadsItBack)
{
    EXPECT_EQ(configuration(everyOptionalValueJSON.dump()), everyOptionalValueJSON.dump());
}

TEST(SettingsCodingTest, OptionalMembersReadAsAbsentWhenMissingOrNullAndAreNotWritten)
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
    json noOptionalValue = everyOptionalValueJSON;
    for (const char* member : optionalMembers) {
        SCOPED_TRACE(member);
        const json::json_pointer pointer(member);
        json missing = everyOptionalValueJSON, null = everyOptionalValueJSON;
        missing[pointer.parent_pointer()].erase(pointer.back());
        null[pointer] = nullptr;
        EXPECT_EQ(configuration(missing.dump()), missing.dump());
        EXPECT_EQ(configuration(null.dump()), missing.dump());
        if (noOptionalValue.contains(pointer)) // not removed with its parent
            noOptionalValue[pointer.parent_pointer()].erase(pointer.back());
    }
    EXPECT_EQ(configuration(noOptionalValue.dump()), noOptionalValue.dump());
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
        "/profiles/1/rules/0/conditions/space/id", "/profiles/1/rules/0/conditions/space/name",
        "/profiles/1/rules/0/conditions/space/isShared", "/knownDisplays/0/id",
        "/knownDisplays/0/name", "/verifiedModes/0/displayID", "/verifiedModes/0/environment",
        "/verifiedModes/0/mode", "/verifiedModes/0/mode/refreshRate/fixed/millihertz"};
    for (const char* member : requiredMembers) {
        SCOPED_TRACE(member);
        const json::json_pointer pointer(member);
        json missing = everyOptionalValueJSON, null = everyOptionalValueJSON;
        missing[pointer.parent_pointer()].erase(pointer.back());
        null[pointer] = nullptr;
        EXPECT_THAT(configuration(missing.dump()),
            HasSubstr("No value associated with the key \"" + pointer.back() + "\"."));
        EXPECT_THAT(configuration(null.dump()), HasSubstr("Found null where a value is required."));
    }
}

TEST(SettingsCodingTest, ReadsUnknownMembersAndLowerCaseIdentifiersButWritesNeither)
{
    json document = everyOptionalValueJSON;
    for (const char* object : {"", "/profiles/0", "/profiles/0/defaultSettings/displays/d1",
             "/profiles/1/rules/0/conditions", "/profiles/1/rules/0/settings/refreshRate/adaptive",
             "/verifiedModes/0/mode"})
        document[json::json_pointer(object)]["appName"] = "E";
    document["activeProfileID"] = "0b8e9f10-2a3b-4c5d-9e6f-708192a3b4c5";
    document["profiles"][1]["id"] = "0b8e9f10-2A3B-4c5d-9E6F-708192a3b4c5";
    EXPECT_EQ(configuration(document.dump()), everyOptionalValueJSON.dump());
}

TEST(SettingsCodingTest, ToggleValuesReadAndWriteTheirCase)
{
    const Reader value = reading(decodeSettingValue, encodeSettingValue);
    EXPECT_EQ(value(R"({"toggle": {"_0": true}})"), R"({"toggle":{"_0":true}})");
}

TEST(SettingsCodingTest, CapturedPreferencesMayBeEmptyAndTheKeyStepIsOneOfItsIntegers)
{
    json document = everyOptionalValueJSON; // whose step, 10, reads
    document["profiles"][0]["capturedDisplayPreferences"] = json::array(); // empty, not absent
    EXPECT_EQ(configuration(document.dump()), document.dump());
    document["brightnessKeyStep"] = 4;
    EXPECT_EQ(configuration(document.dump()),
        "dataCorrupted: brightnessKeyStep: The brightness-key step must be 1, 2, 3, 5 or 10, not "
        "4.");
}

TEST(SettingsCodingTest, ConditionsWithoutAppsReadTheOlderSingleApplicationKeys)
{
    expectOutcomes({
        {conditions, R"({"apps": [], "appBundleID": "a"})", R"({"apps":[]})"},
        {conditions, R"({"apps": null, "appBundleID": "a"})",
            "valueNotFound: apps: Found null where a value is required."},
        {conditions, R"({"appBundleID": "a", "appName": " E "})",
            R"({"apps":[{"id":"a","name":" E "}]})"},
        {conditions,
            R"({"appBundleID": "a", "appName": " \n\t", "screen": {"id": "d", "name": "S"}})",
            R"({"apps":[{"id":"a","name":"a"}],"screen":{"id":"d","name":"S"}})"},
        {conditions, R"({"appName": "E"})", R"({"apps":[]})"},
    });
}

// The store writes the text straight from the document: it must be the tree's text byte for byte,
// for every optional member, escaped characters, odd numbers and empty containers alike.
TEST(SettingsCodingTest, TheDocumentsTextIsItsTreesText)
{
    json odd = everyOptionalValueJSON;
    odd["profiles"][1]["name"] = "Tab\there \"quoted\" \\ \u0001 é 😀";
    odd["profiles"][1]["rules"][0]["settings"]["brightness"] = 1e-05;
    odd["profiles"][1]["rules"][0]["settings"]["contrast"] = 0.1 + 0.2;
    odd["displayNames"] = {{"d1", ""}, {"D1", "\n"}, {"é", "x"}};
    odd["holdMinutes"] = -9223372036854775807LL;
    json empty = everyOptionalValueJSON;
    empty["knownDisplays"] = json::array();
    empty["verifiedModes"][0]["mode"] = json::object();
    empty["displayNames"] = json::object();
    empty["profiles"][0]["defaultSettings"] = {{"displays", {{"d1", json::object()}}},
        {"initializedDisplayIDs", json::array()}};
    empty["profiles"][1]["rules"][0]["conditions"] = {{"apps", json::array()}};
    for (const json& document : {everyOptionalValueJSON, odd, empty}) {
        const Configuration decoded = decodeConfiguration(JSONValue(document));
        EXPECT_EQ(encodeConfigurationText(decoded), serializeJSON(encodeConfiguration(decoded)));
    }
    const Configuration fresh;
    EXPECT_EQ(encodeConfigurationText(fresh), serializeJSON(encodeConfiguration(fresh)));
}
