#include "ModelFixtures.h"
#include "QuorvaneCore/Configuration.h"
#include "QuorvaneCore/ResolvedPlan.h"

#include <gtest/gtest.h>

using namespace quorvane;

namespace {

const DisplayReference office{.id = "D1", .name = "Office"};

/// The error message of validate(); absent when the document passes.
std::optional<std::string> validationMessage(const Configuration& configuration)
{
    try {
        configuration.validate();
        return std::nullopt;
    } catch (const ConfigurationError& error) {
        return error.what();
    }
}

Rule validRule(std::uint8_t number)
{
    return {
        .id = uuidNumber(number),
        .name = "Evening",
        .conditions = {.apps = {{.id = "com.example.editor", .name = "Editor"}},
            .screen = office,
            .space = Desktop{.id = "s1", .name = "Space 1", .displayID = "D1"}},
        .settings = {.brightness = 0.3},
    };
}

/// A document that passes every check and touches each of them: the Default profile (id 1),
/// then "Work" (id 50) with one rule of every condition kind, a display name and a verified mode.
Configuration validDocument()
{
    const ScopedUUIDGenerator identifiers(sequentialUUIDGenerator());
    Configuration configuration;
    configuration.profiles[0].defaultSettings->displays["D1"] = {.brightness = 0.5};
    configuration.profiles.push_back(
        {.id = uuidNumber(50), .name = "Work", .rules = {validRule(60)}});
    configuration.displayNames = {{{"D1", "Desk"}}};
    configuration.verifiedModes.push_back({.displayID = "D1",
        .environment = "display-mode-v2|15.0|path",
        .mode = {.refreshRate = RefreshPreference::fixed(60'000)}});
    return configuration;
}

Profile& work(Configuration& configuration) { return configuration.profiles[1]; }

Rule& workRule(Configuration& configuration) { return configuration.profiles[1].rules[0]; }

void setFixedRate(Configuration& configuration, std::int64_t millihertz)
{
    configuration.verifiedModes[0].mode.refreshRate = RefreshPreference::fixed(millihertz);
}

constexpr std::string_view profiles
    = "Profiles must have unique identifiers and an active profile.";
constexpr std::string_view permanentDefault
    = "Default must be permanent, named Default, and contain settings only.";
constexpr std::string_view timing = "Invalid automation timing preferences.";
constexpr std::string_view displayNames
    = "Display names must have a screen identifier and a nonblank name.";
constexpr std::string_view profile = "A profile has invalid settings or a missing name.";
constexpr std::string_view rule
    = "A rule has an invalid name, condition, settings, or a duplicate identifier.";
constexpr std::string_view space = "The selected Space belongs to another screen.";
constexpr std::string_view verifiedMode = "Invalid verified display configuration.";
constexpr std::string_view passes = "";

} // namespace

TEST(ConfigurationTest, DefaultDocumentHasOneActiveDefaultProfileAndPasses)
{
    const ScopedUUIDGenerator identifiers(sequentialUUIDGenerator());
    const Configuration configuration;
    ASSERT_EQ(configuration.profiles.size(), 1u);
    const Profile expected{
        .id = uuidNumber(1), .name = "Default", .defaultSettings = DefaultSettings{}};
    EXPECT_EQ(configuration.profiles[0], expected);
    EXPECT_EQ(configuration.activeProfileID, expected.id);
    EXPECT_EQ(configuration.defaultProfileID, expected.id);
    EXPECT_FALSE(configuration.automationEnabled || configuration.brightnessKeysEnabled);
    EXPECT_EQ(validationMessage(configuration), std::nullopt);
}

TEST(ConfigurationTest, ValidateReportsTheFirstFailingCheck)
{
    struct Case {
        const char* name;
        void (*change)(Configuration&);
        std::string_view message; // empty: the document passes
    };
    const Case cases[] = {
        {"valid document", [](Configuration&) {}, passes},
        {"active id names no profile", [](Configuration& c) { c.activeProfileID = uuidNumber(99); },
            profiles},
        {"no profiles", [](Configuration& c) { c.profiles.clear(); }, profiles},
        {"shared profile id, Default broken too",
            [](Configuration& c) {
                work(c).id = c.defaultProfileID;
                c.profiles[0].name = "x";
            },
            profiles},
        {"default id names no profile",
            [](Configuration& c) { c.defaultProfileID = uuidNumber(50); }, permanentDefault},
        {"Default in lower case", [](Configuration& c) { c.profiles[0].name = "default"; },
            permanentDefault},
        {"Default with a rule",
            [](Configuration& c) { c.profiles[0].rules.push_back(validRule(70)); },
            permanentDefault},
        {"Default without settings",
            [](Configuration& c) { c.profiles[0].defaultSettings.reset(); }, permanentDefault},
        {"other profile with empty Default settings",
            [](Configuration& c) { work(c).defaultSettings = DefaultSettings{}; },
            permanentDefault},
        {"other profile named DEFAULT with blanks",
            [](Configuration& c) { work(c).name = "\u00a0DEFAULT \n"; }, permanentDefault},
        {"other profile named Default plus words",
            [](Configuration& c) { work(c).name = "Default evening"; }, passes},
        {"hold of 10 minutes", [](Configuration& c) { c.holdMinutes = 10; }, timing},
        {"hold of -5 minutes", [](Configuration& c) { c.holdMinutes = -5; }, timing},
        {"hold until resumed", [](Configuration& c) { c.holdMinutes = 0; }, passes},
        {"debounce 5000", [](Configuration& c) { c.debounceMilliseconds = 5000; }, passes},
        {"debounce 5001", [](Configuration& c) { c.debounceMilliseconds = 5001; }, timing},
        {"debounce -1", [](Configuration& c) { c.debounceMilliseconds = -1; }, timing},
        {"display name without identifier",
            [](Configuration& c) { (*c.displayNames)[""] = "Desk"; }, displayNames},
        {"blank display name", [](Configuration& c) { (*c.displayNames)["D2"] = "\u3000"; },
            displayNames},
        {"blank profile name", [](Configuration& c) { work(c).name = " \t"; }, profile},
        {"invalid Default settings",
            [](Configuration& c) { c.profiles[0].defaultSettings->displays["D2"].contrast = 2; },
            profile},
        {"resolution without display",
            [](Configuration& c) {
                work(c).displayPreferences
                    = ProfileDisplayPreferences{.resolutions = {{{"", {1, 1, 1, 1}}}}};
            },
            profile},
        {"invalid resolution",
            [](Configuration& c) {
                work(c).displayPreferences
                    = ProfileDisplayPreferences{.resolutions = {{{"D1", {2, 2, 1, 1}}}}};
            },
            profile},
        {"rule id used in another profile",
            [](Configuration& c) {
                c.profiles.push_back(
                    {.id = uuidNumber(51), .name = "Home", .rules = {validRule(60)}});
            },
            rule},
        {"blank rule name", [](Configuration& c) { workRule(c).name = "\n"; }, rule},
        {"rule setting nothing", [](Configuration& c) { workRule(c).settings = {}; }, rule},
        {"rule with invalid settings",
            [](Configuration& c) { workRule(c).settings.brightness = -0.1; }, rule},
        {"rule with duplicate apps",
            [](Configuration& c) {
                workRule(c).conditions.apps.push_back(
                    {.id = "com.example.editor", .name = "Other"});
            },
            rule},
        {"screen without name", [](Configuration& c) { workRule(c).conditions.screen->name = ""; },
            rule},
        {"Space without id", [](Configuration& c) { workRule(c).conditions.space->id = ""; }, rule},
        {"Space of another screen",
            [](Configuration& c) { workRule(c).conditions.space->displayID = "D2"; }, space},
        {"shared Space of another screen",
            [](Configuration& c) {
                workRule(c).conditions.space->displayID = "D2";
                workRule(c).conditions.space->isShared = true;
            },
            passes},
        {"Space without display",
            [](Configuration& c) { workRule(c).conditions.space->displayID.reset(); }, passes},
        {"verified mode without environment",
            [](Configuration& c) { c.verifiedModes[0].environment = ""; }, verifiedMode},
        {"verified 0 mHz", [](Configuration& c) { setFixedRate(c, 0); }, verifiedMode},
        {"verified 1000001 mHz", [](Configuration& c) { setFixedRate(c, 1'000'001); },
            verifiedMode},
        {"verified 1000000 mHz", [](Configuration& c) { setFixedRate(c, 1'000'000); }, passes},
        {"verified invalid resolution",
            [](Configuration& c) {
                c.verifiedModes[0].mode.resolution = DisplayResolution{0, 0, 0, 0};
            },
            verifiedMode},
        // Two faults: the earlier check speaks.
        {"bad timing and bad verified mode",
            [](Configuration& c) {
                c.holdMinutes = 7;
                setFixedRate(c, 0);
            },
            timing},
        {"Space of another screen before a later duplicate rule id",
            [](Configuration& c) {
                workRule(c).conditions.space->displayID = "D2";
                c.profiles.push_back(
                    {.id = uuidNumber(51), .name = "Home", .rules = {validRule(60)}});
            },
            space},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Configuration configuration = validDocument();
        c.change(configuration);
        const Configuration before = configuration;
        EXPECT_EQ(validationMessage(configuration).value_or(""), c.message);
        EXPECT_EQ(configuration, before);
    }
}

TEST(ConfigurationTest, UnsupportedVersionComesFirstAndKeepsTheVersion)
{
    Configuration configuration = validDocument();
    configuration.schemaVersion = 4;
    configuration.profiles.clear();
    try {
        configuration.validate();
        FAIL() << "version 4 passed";
    } catch (const ConfigurationError& error) {
        EXPECT_EQ(
            error.errorCase(), ConfigurationError::Case{ConfigurationError::UnsupportedVersion{4}});
        EXPECT_STREQ(error.what(),
            "Settings version 4 is not supported. This build uses the new profile format. "
            "The file was not changed.");
    }
    EXPECT_STREQ(ConfigurationError(ConfigurationError::ReadOnly{}).what(),
        "Settings are locked because the original file could not be loaded.");
}

TEST(ConfigurationTest, ActivateSwitchesOnlyToAKnownProfile)
{
    Configuration configuration = validDocument();
    std::map<ControlKey, ManualHold> holds{
        {controlOf("D1", SettingKey::brightness), {.value = SettingValue::percent(0.2)}}};
    const auto keptHolds = holds;
    const Configuration before = configuration;
    configuration.activate(uuidNumber(99), holds);
    EXPECT_EQ(configuration, before);
    EXPECT_EQ(holds, keptHolds);

    configuration.automationEnabled = true;
    configuration.activate(uuidNumber(50), holds);
    EXPECT_EQ(configuration.activeProfileID, uuidNumber(50));
    EXPECT_TRUE(configuration.automationEnabled);
    EXPECT_TRUE(holds.empty());
}

TEST(ConfigurationTest, AnyPositiveDebounceActsAsThreeHundredMilliseconds)
{
    Configuration configuration = validDocument();
    configuration.debounceMilliseconds = 120;
    EXPECT_TRUE(configuration.debounceEnabled());
    EXPECT_EQ(configuration.effectiveDebounceMilliseconds(), 300);
    configuration.setDebounceEnabled(false);
    EXPECT_EQ(configuration.debounceMilliseconds, 0);
    EXPECT_EQ(configuration.effectiveDebounceMilliseconds(), 0);
    configuration.setDebounceEnabled(true);
    EXPECT_EQ(configuration.debounceMilliseconds, 300);
}

TEST(ConfigurationTest, OrderedProfilesPutDefaultFirst)
{
    Configuration configuration = validDocument();
    std::rotate(configuration.profiles.begin(), configuration.profiles.begin() + 1,
        configuration.profiles.end());
    configuration.profiles.push_back({.id = uuidNumber(51), .name = "Home"});
    std::vector<std::string> names;
    for (const Profile& profile : configuration.orderedProfiles())
        names.push_back(profile.name);
    EXPECT_EQ(names, (std::vector<std::string>{"Default", "Work", "Home"}));
}

TEST(ConfigurationTest, LookupsFallBackToTheFirstProfileButWritesDoNot)
{
    Configuration configuration = validDocument();
    configuration.activeProfileID = uuidNumber(99);
    configuration.defaultProfileID = uuidNumber(98);
    EXPECT_EQ(configuration.activeProfile().name, "Default");
    EXPECT_EQ(configuration.defaultProfile().name, "Default");
    EXPECT_EQ(configuration.defaultSettings().displays.size(), 1u);
    const Configuration before = configuration;
    configuration.setDefaultSettings({});
    EXPECT_EQ(configuration, before);

    configuration.defaultProfileID = uuidNumber(1);
    configuration.setDefaultSettings({});
    EXPECT_EQ(configuration.profiles[0].defaultSettings, DefaultSettings{});
}

TEST(ConfigurationTest, EmptyProfileListNeverCrashesTheDerivedViews)
{
    Configuration configuration = validDocument();
    configuration.profiles.clear();
    EXPECT_THROW((void)configuration.activeProfile(), ConfigurationError);
    EXPECT_THROW((void)configuration.defaultProfile(), ConfigurationError);
    EXPECT_TRUE(configuration.orderedProfiles().empty());
    EXPECT_EQ(configuration.defaultSettings(), DefaultSettings{});
    const Profile bare{.id = uuidNumber(50), .name = "Bare"};
    EXPECT_EQ(configuration.displayResolution(bare, "D1"), std::nullopt);
    EXPECT_TRUE(
        configuration.systemDisplayRequests(bare, {SystemDisplayControl::darkMode()}).empty());
}
