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

using namespace quorvane;
using nlohmann::json;
using testing::ThrowsMessage;

namespace {

const std::string work = "0B8E9F10-2A3B-4C5D-9E6F-708192A3B4C5";
const std::string home = "C3D4E5F6-A7B8-4C9D-8E0F-1A2B3C4D5E6F";
const std::string third = "6F1C2B3A-4D5E-4F60-8172-93A4B5C6D7E8";
const UUID collectionID = *UUID::parse("E7F8A9B0-C1D2-4E3F-8A4B-5C6D7E8F9A0B");

json rule(int number, json settings = {{"brightness", 0.35}})
{
    return {{"id", "A1B2C3D4-E5F6-4718-89AB-CDEF012345" + std::to_string(number + 10)},
        {"name", std::to_string(number)}, {"isEnabled", true},
        {"conditions", {{"apps", json::array({{{"id", "ed"}, {"name", "Editor"}}})}}},
        {"settings", std::move(settings)}};
}

/// A version-2 profile whose own defaults, with retired sound settings, name one display and one
/// unmanaged display after the profile's id.
// Lists of rules are vectors: a one-element braced list would make a copy of its element, not an
// array, on some compilers.
json legacy(const std::string& id, const std::string& name, std::vector<json> rules = {})
{
    const json defaults
        = {{"displays", {{"display of " + id, {{"brightness", 0.6}, {"volume", nullptr}}}}},
            {"unmanagedDisplays", {{"unmanaged of " + id, {"volume", "contrast"}}}},
            {"outputVolume", 0.5}, {"volumeUnmanaged", true}};
    return {{"id", id}, {"name", name}, {"defaults", defaults}, {"rules", json(std::move(rules))}};
}

/// A version-2 file holding `profiles`, of which Home is the active one.
json legacyFile(std::vector<json> profiles)
{
    json file = encodeConfiguration(Configuration());
    file.update(
        {{"schemaVersion", 2}, {"profiles", json(std::move(profiles))}, {"activeProfileID", home},
            {"knownDisplays", json::array({{{"id", "built-in"}, {"name", "Built-in"}}})}});
    return file;
}

/// A version-5 document: a default one, and a profile Work holding `rules`.
json currentFile(std::vector<json> rules)
{
    json file = encodeConfiguration(Configuration());
    file["profiles"].push_back({{"id", work}, {"name", "Work"}, {"rules", json(std::move(rules))}});
    return file;
}

/// "Name=id rule rule | ...", where the id is "work", "home", "third" or "new" for the collection
/// and each rule is named by the number it was made with.
std::string summary(const Configuration& configuration)
{
    const std::map<UUID, std::string> labels{{*UUID::parse(work), "work"},
        {*UUID::parse(home), "home"}, {*UUID::parse(third), "third"}, {collectionID, "new"}};
    std::string result;
    for (const Profile& profile : configuration.profiles) {
        result += (result.empty() ? "" : " | ") + profile.name + "=" + labels.at(profile.id);
        for (const Rule& rule : profile.rules)
            result += " " + rule.name;
    }
    return result;
}

} // namespace

TEST(SettingsMigrationTest, Version2TurnsTheBaseProfileIntoTheActiveDefault)
{
    struct Case {
        const char* situation;
        std::vector<json> profiles;
        std::string expected;
    };
    const Case cases[] = {
        {"the active profile is the base when none is named default",
            {legacy(work, "Work", {rule(1)}), legacy(home, "Home", {rule(2), rule(3), rule(4)})},
            "Default=home | Work=work 1 | My rules=new 2 3 4"},
        {"a profile named default wins over the active one",
            {legacy(third, " DEFAULT ", {rule(1)}), legacy(home, "Home", {rule(2)})},
            "Default=third | My rules=new 1 | Home=home 2"},
        {"of two default-named profiles the active one is the base",
            {legacy(work, "Default", {rule(1)}), legacy(home, "default\n", {rule(2)}),
                legacy(third, "My rules", {rule(3)})},
            "Default=home | My rules (2)=work 1 | My rules (3)=new 2 | My rules=third 3"},
        {"the base's own name is free for its collection",
            {legacy(work, "Work"), legacy(home, "My rules", {rule(2)})},
            "Default=home | Work=work | My rules=new 2"},
        {"a base without rules leaves no collection",
            {legacy(work, "Work", {rule(1)}), legacy(home, "Home")}, "Default=home | Work=work 1"},
        {"rules that set only the volume are dropped, and their profiles stay",
            {legacy(work, "Work", {rule(1, {{"volume", 0.4}}), rule(2)}),
                legacy(home, "Home", {rule(3, {{"volume", 0.4}})})},
            "Default=home | Work=work 2 | My rules=new"},
    };
    const ScopedUUIDGenerator generator([] { return collectionID; });
    for (const Case& c : cases) {
        SCOPED_TRACE(c.situation);
        const Configuration migrated = SettingsMigration::version2(legacyFile(c.profiles));
        EXPECT_EQ(summary(migrated), c.expected);
        const UUID& defaultID = migrated.profiles[0].id;
        EXPECT_EQ(migrated.activeProfileID, defaultID);
        EXPECT_EQ(migrated.defaultProfileID, defaultID);
        EXPECT_EQ(migrated.defaultSettings().displays,
            (std::map<std::string, RuleSettings>{
                {"display of " + defaultID.uuidString(), {.brightness = 0.6}}}));
        // Every display any profile knew, even one that was only unmanaged.
        std::set<std::string> displays{"built-in"};
        for (const json& profile : c.profiles)
            displays.insert({"display of " + profile["id"].get<std::string>(),
                "unmanaged of " + profile["id"].get<std::string>()});
        EXPECT_EQ(migrated.defaultSettings().initializedDisplayIDs, displays);
    }
}

TEST(SettingsMigrationTest, AVersion3FileLosesOnlyItsSoundSettingsAndIsRewrittenAsVersion5)
{
    const json expected = currentFile({rule(2, {{"brightness", 0.7}}), rule(3, {{"hdr", true}})});
    json file = expected;
    file["schemaVersion"] = 3;
    file["profiles"][0]["defaultSettings"].update(
        {{"outputVolume", 1}, {"volumeSnapshotCompleted", true}});
    json& rules = file["profiles"][1]["rules"];
    rules[0]["settings"]["volume"] = 0;
    rules[1]["settings"]["volume"] = nullptr;
    rules.insert(rules.begin(), rule(1, {{"volume", 0.4}, {"hdr", nullptr}}));
    const TemporaryFolder folder;
    const std::filesystem::path path = folder.path() / "settings.json";
    writeFileAtomically(path, file.dump());

    SettingsStore store(path);
    EXPECT_EQ(encodeConfiguration(runToEnd(store.load())), expected);
    EXPECT_EQ(readFile(path), serializeJSON(expected));
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
    const std::string invalidRule
        = "A rule has an invalid name, condition, settings, or a duplicate identifier.";
    json blankVolumeOnlyRule = rule(1, {{"volume", 0.4}});
    blankVolumeOnlyRule["name"] = " ";
    json volumeOnlyRuleWithNumberID = rule(1, {{"volume", 0.4}});
    volumeOnlyRuleWithNumberID["id"] = 5;
    json ruleWithoutSettings = rule(1);
    ruleWithoutSettings.erase("settings");
    const Case cases[] = {
        {2, "/profiles", json::array(), profiles},
        {2, "/profiles", json::array({"Work"}), profiles},
        {2, "/schemaVersion", 3, profiles},
        {2, "/activeProfileID", third, profiles},
        {2, "/profiles/1/id", work, profiles},
        {2, "/profiles/1/name", " \n", profile},
        {2, "/profiles/0/defaults/displays/d", {{"brightness", 1.5}}, profile},
        {2, "/profiles/0/rules/0/settings/volume", 1.5, sound},
        {2, "/profiles/0/rules/0/settings/volume", true, sound},
        {2, "/profiles/1/defaults/outputVolume", -0.1, sound},
        {3, "/profiles/0/defaultSettings/outputVolume", true, sound},
        {2, "/profiles/0/rules/0/settings", {{"volume", nullptr}}, invalidRule},
        // A rule dropped for setting only the volume must have been valid all the same.
        {2, "/profiles/0/rules/0", blankVolumeOnlyRule, invalidRule},
        {3, "/profiles/1/rules/0", blankVolumeOnlyRule, invalidRule},
        // Sound settings are removed only from where they can be, the rest left to the decoder.
        {3, "/profiles/1/rules/0", volumeOnlyRuleWithNumberID,
            "profiles[1].rules[0].id: Expected a string but found an integer."},
        {3, "/profiles/1/rules/0", ruleWithoutSettings,
            "profiles[1].rules[0]: No value associated with the key \"settings\"."},
        {2, "/profiles/0/defaults/unmanagedDisplays", {{"d", "contrast"}},
            "profiles[0].defaults.unmanagedDisplays.d: Expected an array but found a string."},
        {4, "/schemaVersion", 3,
            "Settings version 3 is not supported. This build uses the new profile format. "
            "The file was not changed."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pointer + " = " + c.value.dump());
        json file = c.version == 2
            ? legacyFile({legacy(work, "Work", {rule(1)}), legacy(home, "Home")})
            : currentFile({rule(1)});
        file["schemaVersion"] = c.version;
        file[json::json_pointer(c.pointer)] = c.value;
        const auto migrate = [&] {
            return c.version == 2 ? SettingsMigration::version2(file)
                                  : SettingsMigration::sharedDefaults(file, c.version);
        };
        EXPECT_THAT(migrate, ThrowsMessage<Error>(c.message));
    }
}
