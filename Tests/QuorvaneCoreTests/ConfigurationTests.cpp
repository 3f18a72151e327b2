#include "ModelFixtures.h"
#include "QuorvaneCore/Configuration.h"
#include "QuorvaneCore/DisplayResolution.h"
#include "QuorvaneCore/ResolvedPlan.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>

using namespace quorvane;

namespace {

/// The message of validate(); empty when the document passes.
std::string validationMessage(const Configuration& configuration)
{
    try {
        configuration.validate();
        return "";
    } catch (const ConfigurationError& error) {
        return error.what();
    }
}

const RuleConditions everyCondition{{{"com.example.editor", "Editor"}},
    DisplayReference{"D1", "Office"}, Desktop{"s1", "Space 1", "D1"}};
const Rule evening{uuidNumber(60), "Evening", true, everyCondition, {.brightness = 0.3}};
const Profile home{.id = uuidNumber(51), .name = "Home", .rules = {evening}};
const Desktop foreignSpace{"s1", "Space 1", "D2"};

/// The evening rule with the numbered id.
Rule numbered(std::uint8_t number)
{
    Rule copy = evening;
    copy.id = uuidNumber(number);
    return copy;
}
const Desktop sharedSpace{"s1", "Space 1", "D2", true};
const ProfileDisplayPreferences zeroByZero{.resolutions = {{{"D1", DisplayResolution{}}}}};
const DisplayResolution fullHD{1920, 1080, 1920, 1080};
const DisplayResolution retina{1512, 982, 3024, 1964};
using States = std::map<SystemDisplayControl, bool>;
const SystemDisplayControl trueTone = SystemDisplayControl::trueTone();
const SystemDisplayControl darkMode = SystemDisplayControl::darkMode();
const SystemDisplayControl nightShift = SystemDisplayControl::nightShift();
const SystemDisplayControl automaticD1 = SystemDisplayControl::automaticBrightness("D1");
const SystemDisplayControl automaticD2 = SystemDisplayControl::automaticBrightness("D2");
const std::set<SystemDisplayControl> everyControl{
    trueTone, darkMode, nightShift, automaticD1, automaticD2};

/// Passes every check and reaches each. Default (id 1) has settings for D1, asks for Dark Mode,
/// Night Shift and full HD on D1 and D2, and captured automatic brightness on D1 and off on D2.
/// "Work" (id 50) has a rule of every condition kind and asks for no Night Shift and retina on D1.
Configuration validDocument()
{
    const ScopedUUIDGenerator identifiers(sequentialUUIDGenerator());
    Configuration configuration;
    Profile& defaultProfile = configuration.profiles.edit(0);
    defaultProfile.defaultSettings->displays["D1"] = {.brightness = 0.5};
    defaultProfile.displayPreferences
        = {.darkMode = true, .nightShift = true, .resolutions = {{{"D1", fullHD}, {"D2", fullHD}}}};
    defaultProfile.capturedDisplayPreferences = {{{automaticD1, true}, {automaticD2, false}}};
    Profile& work = configuration.profiles.emplace_back(
        Profile{.id = uuidNumber(50), .name = "Work", .rules = {evening}});
    work.displayPreferences = {.nightShift = false, .resolutions = {{{"D1", retina}}}};
    work.capturedDisplayPreferences = {{{trueTone, true}}}; // a profile's own are never consulted
    configuration.displayNames = {{{"D1", "Desk"}}};
    configuration.verifiedModes = {{"D1", "environment", {RefreshPreference::fixed(60'000)}}};
    return configuration;
}

Profile& work(Configuration& c) { return c.profiles.edit(1); }
RuleConditions& conditions(Configuration& c) { return c.profiles.edit(1).rules.edit(0).conditions; }
DefaultSettings& defaultSettings(Configuration& c) { return *c.profiles.edit(0).defaultSettings; }
ModeConfiguration& mode(Configuration& c) { return c.verifiedModes[0].mode; }

const char* version = "Settings version 4 is not supported. This build uses the new profile "
                      "format. The file was not changed.";
const char* profiles = "Profiles must have unique identifiers and an active profile.";
const char* permanent = "Default must be permanent, named Default, and contain settings only.";
const char* timing = "Invalid automation timing preferences.";
const char* names = "Display names must have a screen identifier and a nonblank name.";
const char* profile = "A profile has invalid settings or a missing name.";
const char* rule = "A rule has an invalid name, condition, settings, or a duplicate identifier.";
const char* space = "The selected Space belongs to another screen.";
const char* verified = "Invalid verified display configuration.";

} // namespace

TEST(ConfigurationTest, DefaultDocumentHasOneActiveDefaultProfileAndPasses)
{
    const ScopedUUIDGenerator identifiers(sequentialUUIDGenerator());
    const Configuration configuration;
    const UUID id = uuidNumber(1);
    EXPECT_EQ(configuration.profiles, (std::vector<Profile>{{id, "Default", DefaultSettings{}}}));
    EXPECT_TRUE(configuration.activeProfileID == id && configuration.defaultProfileID == id);
    EXPECT_FALSE(configuration.automationEnabled || configuration.brightnessKeysEnabled);
    EXPECT_EQ(validationMessage(configuration), "");
}

TEST(ConfigurationTest, ValidateReportsTheFirstFailingCheck)
{
    struct Case {
        const char* name;
        void (*change)(Configuration&);
        const char* message; // empty: the document passes
    };
    const Case cases[] = {
        {"valid", [](auto&) {}, ""},
        {"version first", [](auto& c) { c.schemaVersion = 4, c.profiles.clear(); }, version},
        {"Default twice", [](auto& c) { c.profiles.push_back(c.profiles[0]); }, profiles},
        {"unknown active profile", [](auto& c) { c.activeProfileID = uuidNumber(99); }, profiles},
        {"Default in lower case", [](auto& c) { c.profiles.edit(0).name = "default"; }, permanent},
        {"no Default profile", [](auto& c) { c.defaultProfileID = uuidNumber(99); }, permanent},
        {"Default with a rule", [](auto& c) { c.profiles.edit(0).rules = {evening}; }, permanent},
        {"Default without settings", [](auto& c) { c.profiles.edit(0).defaultSettings.reset(); },
            permanent},
        {"settings in Work", [](auto& c) { work(c).defaultSettings.emplace(); }, permanent},
        {"Work named DEFAULT", [](auto& c) { work(c).name = "\u00a0DEFAULT \n"; }, permanent},
        {"Work named Default x", [](auto& c) { work(c).name = "Default x"; }, ""},
        {"hold 10 minutes", [](auto& c) { c.holdMinutes = 10; }, timing},
        {"hold 0, debounce 0", [](auto& c) { c.holdMinutes = 0, c.debounceMilliseconds = 0; }, ""},
        {"hold 5", [](auto& c) { c.holdMinutes = 5; }, ""},
        {"hold 15", [](auto& c) { c.holdMinutes = 15; }, ""},
        {"hold 60", [](auto& c) { c.holdMinutes = 60; }, ""},
        {"debounce -1", [](auto& c) { c.debounceMilliseconds = -1; }, timing},
        {"debounce 5000", [](auto& c) { c.debounceMilliseconds = 5000; }, ""},
        {"debounce 5001", [](auto& c) { c.debounceMilliseconds = 5001; }, timing},
        {"blank display name", [](auto& c) { (*c.displayNames)["D2"] = "\u3000"; }, names},
        {"name of no display", [](auto& c) { (*c.displayNames)[""] = "Desk"; }, names},
        {"blank profile name", [](auto& c) { work(c).name = " \t"; }, profile},
        {"Default for no display", [](auto& c) { defaultSettings(c).displays[""] = {}; }, profile},
        {"0 × 0 resolution", [](auto& c) { work(c).displayPreferences = zeroByZero; }, profile},
        {"rule id in two profiles", [](auto& c) { c.profiles.push_back(home); }, rule},
        {"rule setting nothing", [](auto& c) { work(c).rules.edit(0).settings = {}; }, rule},
        {"rule id twice", [](auto& c) { work(c).rules.push_back(evening); }, rule},
        {"rule at 150%", [](auto& c) { work(c).rules.edit(0).settings.brightness = 1.5; }, rule},
        {"blank rule name", [](auto& c) { work(c).rules.edit(0).name = "\n"; }, rule},
        {"app without id", [](auto& c) { conditions(c).apps[0].id = ""; }, rule},
        {"screen without id", [](auto& c) { conditions(c).screen->id = ""; }, rule},
        {"screen without name", [](auto& c) { conditions(c).screen->name = ""; }, rule},
        {"Space without id", [](auto& c) { conditions(c).space->id = ""; }, rule},
        {"Space without name", [](auto& c) { conditions(c).space->name = ""; }, rule},
        {"Space of another screen", [](auto& c) { conditions(c).space = foreignSpace; }, space},
        {"Space shared by screens", [](auto& c) { conditions(c).space = sharedSpace; }, ""},
        {"Space of no screen", [](auto& c) { conditions(c).space->displayID.reset(); }, ""},
        {"no environment", [](auto& c) { c.verifiedModes[0].environment = ""; }, verified},
        {"mode of no display", [](auto& c) { c.verifiedModes[0].displayID = ""; }, verified},
        {"0 mHz", [](auto& c) { mode(c).refreshRate = RefreshPreference::fixed(0); }, verified},
        {"0 × 0 mode", [](auto& c) { mode(c).resolution = DisplayResolution{}; }, verified},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Configuration configuration = validDocument();
        c.change(configuration);
        EXPECT_EQ(validationMessage(configuration), c.message);
    }
    // Faults gathered from the last check to the first: each one added must be the one reported.
    Configuration faulty = validDocument();
    for (auto c = std::rbegin(cases); c != std::rend(cases); ++c) {
        if (!*c->message)
            continue;
        SCOPED_TRACE(std::string("faults up to ") + c->name);
        c->change(faulty);
        EXPECT_EQ(validationMessage(faulty), c->message);
    }
}

TEST(ConfigurationTest, ValidateReportsTheFirstRuleThatRepeatsAnId)
{
    // Ids that differ in a single byte of either half.
    const auto withByte = [](std::size_t index) {
        Rule copy = evening;
        UUID::Bytes bytes{};
        bytes[index] = 1;
        copy.id = UUID(bytes);
        return copy;
    };
    Rule foreign = numbered(50);
    foreign.conditions.space = foreignSpace;
    struct Case {
        const char* name;
        std::vector<std::vector<Rule>> profiles; // after the Default one; an empty one is unnamed
        const char* message;
    };
    const Case cases[] = {
        {"unique ids in any order", {{numbered(3), numbered(1)}, {numbered(2)}}, ""},
        {"ids apart only in their first or last byte of a half",
            {{withByte(0), withByte(7), withByte(8), withByte(15)}}, ""},
        {"a repeat apart from others only in its first half",
            {{withByte(0), withByte(3), withByte(0)}}, rule},
        {"a repeat after a Space fault", {{numbered(1), foreign, numbered(1)}}, space},
        {"a repeat before a Space fault", {{numbered(1), numbered(1), foreign}}, rule},
        {"a repeat in a later profile", {{foreign}, {numbered(1)}, {numbered(1)}}, space},
        {"a repeat across profiles", {{numbered(1)}, {numbered(2), numbered(1)}}, rule},
        {"an invalid profile between a rule and its repeat", {{numbered(1)}, {}, {numbered(1)}},
            profile},
        {"the first of several repeats counts",
            {{numbered(2), numbered(1)}, {numbered(1), foreign}, {numbered(2)}}, rule},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Configuration configuration;
        for (const std::vector<Rule>& rules : c.profiles)
            configuration.profiles.push_back(
                {.id = UUID::random(), .name = rules.empty() ? " " : "Work", .rules = rules});
        EXPECT_EQ(validationMessage(configuration), c.message);
    }
}

// Checking only the stored rule must refuse exactly what the whole check refuses, with its text.
TEST(ConfigurationTest, CheckingAStoredRuleAgreesWithValidatingTheWholeDocument)
{
    Rule blank = numbered(2);
    blank.name = " ";
    Rule foreign = numbered(2);
    foreign.conditions.space = foreignSpace;
    Rule blankAndForeign = foreign;
    blankAndForeign.name = "";
    struct Case {
        const char* name;
        std::size_t profile; // where the rule is stored: 0 or 1
        Rule stored;
        const char* message;
    };
    // Two profiles hold rules 1, 2 | 3, 4 before each store.
    const Case cases[] = {
        {"a valid rule in place of its own", 0, numbered(2), ""},
        {"a new valid rule", 1, numbered(9), ""},
        {"a blank name in place", 0, blank, rule},
        {"a Space of another screen in place", 0, foreign, space},
        {"both faults: the rule's own first", 0, blankAndForeign, rule},
        {"an id of a later profile's rule added", 0, numbered(3), rule},
        {"an id of an earlier profile's rule added", 1, numbered(1), rule},
        {"a Space fault added before its repeat", 0,
            [&] {
                Rule repeat = foreign;
                repeat.id = uuidNumber(4);
                return repeat;
            }(),
            space},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Configuration document;
        for (const std::vector<Rule>& rules :
            {std::vector{numbered(1), numbered(2)}, std::vector{numbered(3), numbered(4)}})
            document.profiles.push_back({.id = UUID::random(), .name = "Work", .rules = rules});
        ASSERT_EQ(validationMessage(document), "");
        RuleList& rules = document.profiles.edit(c.profile + 1).rules;
        const auto stored = std::ranges::find(rules, c.stored.id, &Rule::id);
        const bool isAdded = stored == rules.end();
        if (isAdded)
            rules.push_back(c.stored);
        else
            rules.edit(stored) = c.stored;
        EXPECT_EQ(validationMessage(document), c.message);
        std::string storedMessage;
        try {
            document.validateStoredRule(c.stored, isAdded);
        } catch (const ConfigurationError& error) {
            storedMessage = error.what();
        }
        EXPECT_EQ(storedMessage, c.message);
    }
}

TEST(ConfigurationTest, ActivateSwitchesOnlyToAKnownProfileAndEndsHolds)
{
    Configuration configuration = validDocument();
    std::map<ControlKey, ManualHold> holds{
        {controlOf("D1", SettingKey::hdr), {SettingValue::toggle(true)}}};
    const auto before = std::pair(configuration, holds);
    configuration.activate(uuidNumber(99), holds);
    EXPECT_EQ(std::pair(configuration, holds), before);
    configuration.activate(uuidNumber(50), holds);
    EXPECT_TRUE(configuration.activeProfileID == uuidNumber(50) && configuration.automationEnabled);
    EXPECT_TRUE(holds.empty());
}

TEST(ConfigurationTest, AnyPositiveDebounceActsAsThreeHundredMilliseconds)
{
    Configuration configuration;
    configuration.debounceMilliseconds = 1;
    EXPECT_EQ(configuration.effectiveDebounceMilliseconds(), 300);
    configuration.setDebounceEnabled(false);
    EXPECT_EQ(configuration.effectiveDebounceMilliseconds(), 0);
    configuration.setDebounceEnabled(true);
    EXPECT_EQ(configuration.debounceMilliseconds, 300);
}

TEST(ConfigurationTest, OrderedProfilesPutDefaultFirstAndNoProfileNeverCrashes)
{
    Configuration configuration = validDocument();
    configuration.profiles.insert(configuration.profiles.begin(), home);
    const std::vector<Profile> stored(configuration.profiles.begin(), configuration.profiles.end());
    EXPECT_EQ(configuration.orderedProfiles(), (std::vector{stored[1], stored[0], stored[2]}));
    EXPECT_EQ(configuration.defaultProfile(), stored[1]);
    EXPECT_EQ(configuration.activeProfile(), stored[1]);
    configuration.activeProfileID = uuidNumber(50);
    EXPECT_EQ(configuration.activeProfile(), stored[2]);
    configuration.defaultProfileID = configuration.activeProfileID = UUID();
    EXPECT_EQ(configuration.orderedProfiles(), stored) << "the first profile stands in, once";
    EXPECT_EQ(configuration.activeProfile(), stored[0]);
    EXPECT_EQ(configuration.defaultProfile(), stored[0]);
    configuration.profiles.clear();
    EXPECT_THROW((void)configuration.activeProfile(), ConfigurationError);
    EXPECT_THROW((void)configuration.defaultProfile(), ConfigurationError);
    EXPECT_EQ(configuration.defaultSettings(), DefaultSettings());
    EXPECT_TRUE(configuration.orderedProfiles().empty());
}

TEST(ConfigurationTest, DisplayRequestsTakeTheProfileThenTheDefaultProfileThenTheCapturedState)
{
    Configuration configuration = validDocument();
    Profile& work = configuration.profiles.edit(1);
    EXPECT_EQ(configuration.systemDisplayRequests(work, everyControl),
        (States{{darkMode, true}, {nightShift, false}, {automaticD1, true}, {automaticD2, false}}));
    EXPECT_EQ(configuration.displayResolution(work, "D1"), retina);
    EXPECT_EQ(configuration.displayResolution(work, "D2"), fullHD);

    work.displayPreferences->resolutions.reset();
    EXPECT_EQ(configuration.displayResolution(work, "D1"), fullHD);

    // One automatic brightness preference covers every display.
    work.displayPreferences->automaticBrightness = true;
    EXPECT_TRUE(configuration.systemDisplayRequests(work, {automaticD2}).at(automaticD2));

    configuration.defaultProfileID = uuidNumber(99); // stands for the first profile
    EXPECT_EQ(configuration.systemDisplayRequests(home, {darkMode}), (States{{darkMode, true}}));
    EXPECT_EQ(configuration.displayResolution(home, "D2"), fullHD);
}

TEST(ConfigurationTest, CaptureRecordsOnlyDisplayValuesReportedForTheFirstTimeIntoDefault)
{
    Configuration configuration = validDocument();
    Profile& first = configuration.profiles.edit(0); // the Default profile
    first.displayPreferences = ProfileDisplayPreferences{.darkMode = true};
    first.capturedDisplayPreferences.reset();
    const Configuration original = configuration;
    EXPECT_FALSE(configuration.captureSystemDisplayDefaults({.unavailable = {{darkMode, "No"}}}));
    EXPECT_FALSE(configuration.captureResolutionDefaults(
        {{"D1", {.hdr = true}}, {"D2", {.resolution = DisplayResolution{}}}}));
    EXPECT_EQ(configuration, original) << "nothing captured, so no map is created";

    EXPECT_TRUE(configuration.captureSystemDisplayDefaults({.values = {{darkMode, true}}}));
    EXPECT_FALSE(configuration.captureSystemDisplayDefaults({.values = {{darkMode, false}}}));
    EXPECT_TRUE(configuration.captureSystemDisplayDefaults(
        {.values = {{darkMode, false}, {automaticD1, false}}}));
    EXPECT_TRUE(configuration.captureResolutionDefaults({{"D1", {.resolution = retina}}}));
    EXPECT_FALSE(configuration.captureResolutionDefaults({{"D1", {.resolution = fullHD}}}));
    EXPECT_TRUE(configuration.captureResolutionDefaults({{"D2", {.resolution = fullHD}}}));
    const Profile& stored = configuration.profiles[0];
    EXPECT_EQ(stored.capturedDisplayPreferences, (States{{darkMode, true}, {automaticD1, false}}));
    EXPECT_EQ(stored.displayPreferences,
        (ProfileDisplayPreferences{
            .darkMode = true, .resolutions = {{{"D1", retina}, {"D2", fullHD}}}}));
    EXPECT_FALSE(original.profiles[0].capturedDisplayPreferences) << "the copy taken before";

    configuration.defaultProfileID = uuidNumber(99);
    const Configuration captured = configuration;
    EXPECT_FALSE(configuration.capturesSystemDisplayDefaults({.values = {{trueTone, true}}}));
    EXPECT_FALSE(configuration.captureSystemDisplayDefaults({.values = {{trueTone, true}}}));
    EXPECT_FALSE(configuration.captureResolutionDefaults({{"D3", {.resolution = fullHD}}}));
    EXPECT_EQ(configuration, captured) << "an unknown default id captures nothing";
}

TEST(DisplayResolutionTest, IsValidFromOneTo65536WithNoFewerPixelsThanPoints)
{
    EXPECT_TRUE((DisplayResolution{65536, 1, 65536, 1}).isValid());
    EXPECT_FALSE((DisplayResolution{0, 1080, 1920, 1080}).isValid());
    EXPECT_FALSE((DisplayResolution{1920, 1080, 1920, 65537}).isValid());
    EXPECT_FALSE((DisplayResolution{1920, 1080, 3840, 720}).isValid());
    EXPECT_FALSE((DisplayResolution{1920, 1080, 1280, 2160}).isValid());
}

TEST(DisplayResolutionTest, LabelsMarkHiDPIOnEitherAxis)
{
    EXPECT_EQ((DisplayResolution{1920, 1080, 1920, 1080}).label(), "1920 × 1080");
    EXPECT_EQ((DisplayResolution{1920, 1080, 1920, 1200}).label(), "1920 × 1080 · HiDPI");
    EXPECT_EQ((DisplayResolution{1512, 982, 3024, 982}).label(), "1512 × 982 · HiDPI");
    EXPECT_EQ((DisplayResolution{1512, 982, 3024, 1964}).pixelLabel(), "3024 × 1964 pixels");
}
