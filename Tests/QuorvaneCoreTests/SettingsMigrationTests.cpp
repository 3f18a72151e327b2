#include "QuorvaneCore/SettingsMigration.h"

#include "Foundation/AtomicFile.h"
#include "Foundation/JSON.h"
#include "QuorvaneCore/SettingsCoding.h"
#include "QuorvaneCore/SettingsStore.h"
#include "QuorvaneCoreTests/SettingsTestSupport.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <map>
#include <set>
#include <string>
#include <string_view>
#include <vector>

using namespace quorvane;
using nlohmann::json;
using testing::ThrowsMessage;

namespace {

const std::string workID = "0B8E9F10-2A3B-4C5D-9E6F-708192A3B4C5";
const std::string homeID = "C3D4E5F6-A7B8-4C9D-8E0F-1A2B3C4D5E6F";
const std::string thirdID = "6F1C2B3A-4D5E-4F60-8172-93A4B5C6D7E8";
const UUID collectionID = *UUID::parse("E7F8A9B0-C1D2-4E3F-8A4B-5C6D7E8F9A0B");
const std::string builtIn = "37d8832a-2d66-02ca-b9f7-8f30a301b230";

json rule(int number, json settings = {{"brightness", 0.35}})
{
    return {{"id", "A1B2C3D4-E5F6-4718-89AB-CDEF012345" + std::to_string(number + 10)},
        {"name", "Rule " + std::to_string(number)}, {"isEnabled", true},
        {"conditions",
            {{"apps", json::array({json{{"id", "com.example.editor"}, {"name", "Editor"}}})}}},
        {"settings", std::move(settings)}};
}

/// A version-2 profile whose own defaults hold one display, named after the profile's id.
json legacyProfile(const std::string& id, const std::string& name, json rules = json::array())
{
    return {{"id", id}, {"name", name},
        {"defaults", {{"displays", {{"display of " + id, {{"brightness", 0.6}}}}}}},
        {"rules", std::move(rules)}};
}

json legacyFile(json profiles, const std::string& activeID)
{
    return {{"schemaVersion", 2}, {"profiles", std::move(profiles)}, {"activeProfileID", activeID},
        {"knownDisplays",
            json::array({json{{"id", builtIn}, {"name", "Built-in Retina Display"}}})},
        {"verifiedModes", json::array()}, {"automationEnabled", true}, {"holdMinutes", 15},
        {"smoothTransitions", false}, {"debounceMilliseconds", 0}, {"brightnessKeysEnabled", true},
        {"brightnessKeyStep", 10}};
}

/// A version-5 document: Default (thirdID) with the built-in display's defaults, and Work active.
json currentFile(json workRules)
{
    const json defaults = {{"displays", {{builtIn, {{"brightness", 0.8}}}}},
        {"initializedDisplayIDs", json::array({builtIn})}};
    return {{"schemaVersion", 5},
        {"profiles",
            json::array({json{{"id", thirdID}, {"name", "Default"}, {"defaultSettings", defaults},
                             {"rules", json::array()}},
                json{{"id", workID}, {"name", "Work"}, {"rules", std::move(workRules)}}})},
        {"activeProfileID", workID}, {"defaultProfileID", thirdID},
        {"knownDisplays", json::array()}, {"verifiedModes", json::array()},
        {"automationEnabled", true}, {"holdMinutes", 30}, {"smoothTransitions", true},
        {"debounceMilliseconds", 300}, {"brightnessKeysEnabled", false}, {"brightnessKeyStep", 5}};
}

/// "Name=id rule rule | ...", where the id is "work", "home", "third" or "new" for the collection
/// and each rule is the number it was made with.
std::string summary(const Configuration& configuration)
{
    const std::map<UUID, std::string> labels{{*UUID::parse(workID), "work"},
        {*UUID::parse(homeID), "home"}, {*UUID::parse(thirdID), "third"}, {collectionID, "new"}};
    std::string result;
    for (const Profile& profile : configuration.profiles) {
        result += (result.empty() ? "" : " | ") + profile.name + "=" + labels.at(profile.id);
        for (const Rule& rule : profile.rules)
            result += " " + rule.name.substr(std::string_view("Rule ").size());
    }
    return result;
}

} // namespace

TEST(SettingsMigrationTest, Version2TurnsTheBaseProfileIntoTheActiveDefault)
{
    struct Case {
        const char* situation;
        json profiles;
        std::string activeID;
        std::string expected;
    };
    const Case cases[] = {
        {"the active profile is the base when none is named default",
            {legacyProfile(workID, "Work", {rule(1)}),
                legacyProfile(homeID, "Home", {rule(2), rule(3), rule(4)})},
            homeID, "Default=home | Work=work 1 | My rules=new 2 3 4"},
        {"a profile named default wins over the active one",
            {legacyProfile(thirdID, " DEFAULT ", {rule(1)}),
                legacyProfile(homeID, "Home", {rule(2)})},
            homeID, "Default=third | My rules=new 1 | Home=home 2"},
        {"of two default-named profiles the active one is the base",
            {legacyProfile(workID, "Default", {rule(1)}),
                legacyProfile(homeID, "default\n", {rule(2)}),
                legacyProfile(thirdID, "My rules", {rule(3)})},
            homeID, "Default=home | My rules (2)=work 1 | My rules (3)=new 2 | My rules=third 3"},
        {"the base's own name is free for its collection",
            {legacyProfile(workID, "Work"), legacyProfile(homeID, "My rules", {rule(2)})}, homeID,
            "Default=home | Work=work | My rules=new 2"},
        {"a base without rules leaves no collection",
            {legacyProfile(workID, "Work", {rule(1)}), legacyProfile(homeID, "Home")}, homeID,
            "Default=home | Work=work 1"},
    };
    const ScopedUUIDGenerator generator([] { return collectionID; });
    for (const Case& c : cases) {
        SCOPED_TRACE(c.situation);
        const Configuration migrated
            = SettingsMigration::version2(legacyFile(c.profiles, c.activeID).dump());
        EXPECT_EQ(summary(migrated), c.expected);
        const UUID& defaultID = migrated.profiles[0].id;
        EXPECT_EQ(migrated.activeProfileID, defaultID);
        EXPECT_EQ(migrated.defaultProfileID, defaultID);
        EXPECT_EQ(migrated.defaultSettings().displays,
            (std::map<std::string, RuleSettings>{
                {"display of " + defaultID.uuidString(), {.brightness = 0.6}}}));
    }
}

TEST(SettingsMigrationTest, Version2DropsSoundSettingsAndRemembersEveryKnownDisplay)
{
    json work = legacyProfile(workID, "Work",
        {rule(1, {{"volume", 0.4}}), rule(2, {{"volume", 0.4}, {"brightness", 0.7}})});
    work["defaults"]["outputVolume"] = 0.5;
    work["defaults"]["volumeUnmanaged"] = true;
    work["defaults"]["unmanagedDisplays"] = {{"only-unmanaged", {"volume", "contrast"}}};
    json home = legacyProfile(homeID, "Home", {rule(3, {{"volume", 0.4}})});
    home["defaults"]["displays"]["display of " + homeID]["volume"] = nullptr;
    const ScopedUUIDGenerator generator([] { return collectionID; });

    const Configuration migrated
        = SettingsMigration::version2(legacyFile({work, home}, homeID).dump());
    // The volume-only rules are gone, and "My rules" stays even though it is left empty.
    EXPECT_EQ(summary(migrated), "Default=home | Work=work 2 | My rules=new");
    EXPECT_EQ(migrated.profiles[1].rules[0].settings, (RuleSettings{.brightness = 0.7}));
    EXPECT_EQ(migrated.defaultSettings().displays.at("display of " + homeID),
        (RuleSettings{.brightness = 0.6}));
    EXPECT_EQ(migrated.defaultSettings().initializedDisplayIDs,
        (std::set<std::string>{
            builtIn, "display of " + homeID, "display of " + workID, "only-unmanaged"}));
}

TEST(SettingsMigrationTest, Versions3And4LoseOnlyTheSoundSettings)
{
    json expected = currentFile({rule(2, {{"brightness", 0.7}}), rule(3, {{"contrast", 0.2}})});
    json file = expected;
    json& defaults = file["profiles"][0]["defaultSettings"];
    defaults["outputVolume"] = 1;
    defaults["volumeSnapshotCompleted"] = true;
    defaults["displays"][builtIn]["volume"] = 0.25;
    json& rules = file["profiles"][1]["rules"];
    rules[0]["settings"]["volume"] = 0;
    rules[1]["settings"]["volume"] = nullptr;
    rules.insert(rules.begin(), rule(1, {{"volume", 0.4}, {"hdr", nullptr}}));
    for (const int version : {3, 4}) {
        SCOPED_TRACE(version);
        file["schemaVersion"] = version;
        EXPECT_EQ(SettingsMigration::sharedDefaults(file.dump(), version),
            decodeConfiguration(JSONValue(expected)));
    }
}

TEST(SettingsMigrationTest, RefusesOldFilesThatMakeNoSense)
{
    struct Case {
        std::int64_t version;
        std::string pointer; // where `value` is put into a valid file of `version`
        json value;
        std::string message;
    };
    const std::string profiles = "The previous profiles are invalid.";
    const std::string profile = "A previous profile has invalid defaults or a missing name.";
    const std::string sound = "A previous sound setting is invalid.";
    const std::string ruleVolume = "/profiles/0/rules/0/settings/volume";
    const Case cases[] = {
        {2, "/profiles", json::array(), profiles},
        {2, "/profiles", json::array({"Work"}), profiles},
        {2, "/schemaVersion", 3, profiles},
        {2, "/activeProfileID", thirdID, profiles},
        {2, "/profiles/1/id", workID, profiles},
        {2, "/profiles/1/name", " \n", profile},
        {2, "/profiles/0/defaults/displays/d", {{"brightness", 1.5}}, profile},
        {2, ruleVolume, 1.5, sound},
        {2, ruleVolume, true, sound},
        {2, ruleVolume, "0.5", sound},
        {2, "/profiles/1/defaults/outputVolume", -0.1, sound},
        {2, "/profiles/0/rules/0/settings", {{"volume", nullptr}},
            "A rule has an invalid name, condition, settings, or a duplicate identifier."},
        {2, "/holdMinutes", 10, "Invalid automation timing preferences."},
        {3, "/profiles/0/defaultSettings/displays/" + builtIn + "/volume", true, sound},
        {4, "/schemaVersion", 3,
            "Settings version 3 is not supported. This build uses the new profile format. "
            "The file was not changed."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pointer + " = " + c.value.dump());
        json file = c.version == 2
            ? legacyFile(
                {legacyProfile(workID, "Work", {rule(1)}), legacyProfile(homeID, "Home")}, homeID)
            : currentFile({rule(1)});
        file["schemaVersion"] = c.version;
        file[json::json_pointer(c.pointer)] = c.value;
        const auto migrate = [&] {
            return c.version == 2 ? SettingsMigration::version2(file.dump())
                                  : SettingsMigration::sharedDefaults(file.dump(), c.version);
        };
        EXPECT_THAT(migrate, ThrowsMessage<ConfigurationError>(c.message));
    }
}

TEST(SettingsMigrationTest, TheStoreRewritesAMigratedFileAsTheCurrentVersion)
{
    json version3 = currentFile({rule(1, {{"volume", 0.4}}), rule(2)});
    version3["schemaVersion"] = 3;
    const TemporaryFolder folder;
    const std::filesystem::path path = folder.path() / "settings.json";
    writeFileAtomically(path, version3.dump());
    SettingsStore store(path);
    const Configuration loaded = runToEnd(store.load());
    EXPECT_EQ(summary(loaded), "Default=third | Work=work 2");
    EXPECT_EQ(readFile(path), serializeJSON(encodeConfiguration(loaded))); // sorted, pretty
    EXPECT_EQ(loaded.schemaVersion, 5);
    EXPECT_NO_THROW(runToEnd(store.save(loaded)));
}

TEST(SettingsMigrationTest, AFailedMigrationLeavesTheFileAndLocksTheStore)
{
    json invalid = currentFile({rule(1)});
    invalid["schemaVersion"] = 4;
    invalid["debounceMilliseconds"] = 5001;
    const TemporaryFolder folder;
    const std::filesystem::path path = folder.path() / "settings.json";
    writeFileAtomically(path, invalid.dump());
    SettingsStore store(path);
    EXPECT_THAT([&] { runToEnd(store.load()); },
        ThrowsMessage<ConfigurationError>("Invalid automation timing preferences."));
    EXPECT_THAT([&] { runToEnd(store.save(Configuration())); },
        ThrowsMessage<ConfigurationError>(
            "Settings are locked because the original file could not be loaded."));
    EXPECT_EQ(readFile(path), invalid.dump());
}
