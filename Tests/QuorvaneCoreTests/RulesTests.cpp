#include "ModelFixtures.h"
#include "QuorvaneCore/ResolvedPlan.h"
#include "QuorvaneCore/Rules.h"

#include <gtest/gtest.h>

using namespace quorvane;

namespace {

std::vector<ApplicationReference> apps(std::initializer_list<std::string_view> names)
{
    std::vector<ApplicationReference> result;
    for (const std::string_view name : names)
        result.push_back({.id = "com.example." + std::string(name), .name = std::string(name)});
    return result;
}

const ControlCapability anyValue{.available = true};

} // namespace

TEST(RuleSettingsTest, SubscriptWritesOnlyTheCaseItsKeyTakes)
{
    RuleSettings settings{.brightness = 0.4, .temperature = Temperature::kelvin(5000)};
    settings.setValue(SettingValue::toggle(true), SettingKey::brightness);
    settings.setValue(std::nullopt, SettingKey::temperature);
    settings.setValue(SettingValue::percent(0.7), SettingKey::contrast);
    EXPECT_EQ(settings, (RuleSettings{.brightness = 0.4, .contrast = 0.7}));
    EXPECT_EQ(settings.value(SettingKey::contrast), SettingValue::percent(0.7));
    EXPECT_EQ(settings.value(SettingKey::hdr), std::nullopt);
}

TEST(RuleSettingsTest, EmptinessAndValidityLookAtEveryField)
{
    const RuleSettings hdrOff{.hdr = false};
    EXPECT_FALSE(hdrOff.isEmpty());
    EXPECT_TRUE(hdrOff.isValid());
    EXPECT_TRUE(RuleSettings{}.isEmpty());
    EXPECT_FALSE(RuleSettings{.contrast = 1.5}.isValid());
    EXPECT_FALSE(RuleSettings{.refreshRate = RefreshPreference::fixed(0)}.isValid());
}

TEST(RuleConditionsTest, SingleApplicationFormNamesTheAppByItsBundleIDWhenNameless)
{
    const auto nameless = RuleConditions::forApplication(
        "com.example.editor", std::nullopt, std::nullopt, std::nullopt);
    ASSERT_EQ(nameless.apps.size(), 1u);
    EXPECT_EQ(nameless.apps[0].name, "com.example.editor");
    EXPECT_FALSE(RuleConditions::forApplication(std::nullopt, "Editor", std::nullopt, std::nullopt)
                     .hasAppCondition());
}

TEST(RuleConditionsTest, HasValidAppsRefusesDuplicatesAndBlanks)
{
    struct Case {
        const char* name;
        std::vector<ApplicationReference> apps;
        bool isValid;
    };
    const Case cases[] = {
        {"no apps", {}, true},
        {"two apps", apps({"Editor", "Browser"}), true},
        {"same id, other name", {{"com.example.a", "A"}, {"com.example.a", "B"}}, false},
        {"name of spaces", {{"com.example.a", "   "}}, false},
        {"name of Unicode blanks", {{"com.example.a", "\u00a0\u3000\n"}}, false},
        {"blank id", {{"\t", "A"}}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(RuleConditions{.apps = c.apps}.hasValidApps(), c.isValid);
    }
}

TEST(RuleConditionsTest, LabelsJoinAppsScreenAndSpace)
{
    const DisplayReference office{.id = "D1", .name = "Office"};
    const Desktop space2{.id = "s2", .name = "Space 2"};
    struct Case {
        RuleConditions conditions;
        std::string_view label;
        std::string_view compactLabel;
    };
    const Case cases[] = {
        {{}, "All apps · all screens · all Spaces", "All apps · all screens · all Spaces"},
        {{.space = space2}, "Space 2", "Space 2"},
        {{.apps = apps({"A", "B"})}, "A or B", "A or B"},
        {{.apps = apps({"A", "B", "C"})}, "A or B or C", "A, B +1"},
        {{.apps = apps({"Editor"}), .screen = office}, "Editor + Office", "Editor + Office"},
        {{.screen = office, .space = space2}, "Office + Space 2", "Office + Space 2"},
        {{.apps = apps({"Editor", "Browser", "C", "D", "E"}), .screen = office, .space = space2},
            "Editor or Browser or C or D or E + Office + Space 2",
            "Editor, Browser +3 + Office + Space 2"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        EXPECT_EQ(c.conditions.label(), c.label);
        EXPECT_EQ(c.conditions.compactLabel(), c.compactLabel);
    }
}

TEST(DefaultSettingsTest, CaptureTakesOnlyAcceptedObservationsAndOnlyOnce)
{
    ControlCapability hdrUnavailable{.reason = "Not supported"};
    ControlCapability sixtyHertzOnly{
        .available = true, .choices = {SettingValue::refresh(RefreshPreference::fixed(60'000))}};
    const std::map<ControlKey, SettingValue> observed{
        {controlOf("A", SettingKey::brightness), SettingValue::percent(0.6)},
        {controlOf("A", SettingKey::hdr), SettingValue::toggle(true)},
        {controlOf("A", SettingKey::temperature),
            SettingValue::temperature(Temperature::kelvin(20000))},
        {controlOf("A", SettingKey::refreshRate),
            SettingValue::refresh(RefreshPreference::adaptive())},
        {controlOf("A", SettingKey::contrast), SettingValue::percent(0.5)},
    };
    const std::map<ControlKey, ControlCapability> capabilities{
        {controlOf("A", SettingKey::brightness), anyValue},
        {controlOf("A", SettingKey::hdr), hdrUnavailable},
        {controlOf("A", SettingKey::temperature), anyValue},
        {controlOf("A", SettingKey::refreshRate), sixtyHertzOnly},
        {controlOf("A", SettingKey::contrast), anyValue},
    };
    DefaultSettings defaults{.displays = {{"A", {.contrast = 0.9}}}};
    EXPECT_FALSE(defaults.capture({}, observed, capabilities));
    EXPECT_EQ(defaults, (DefaultSettings{.displays = {{"A", {.contrast = 0.9}}}}));

    EXPECT_TRUE(defaults.capture({"A"}, observed, capabilities));
    const DefaultSettings captured{
        .displays = {{"A", {.brightness = 0.6, .contrast = 0.9}}}, .initializedDisplayIDs = {"A"}};
    EXPECT_EQ(defaults, captured);

    const std::map<ControlKey, SettingValue> laterObserved{
        {controlOf("A", SettingKey::brightness), SettingValue::percent(0.1)}};
    EXPECT_FALSE(defaults.capture({"A"}, laterObserved, capabilities));
    EXPECT_EQ(defaults, captured);
}

TEST(DefaultSettingsTest, CaptureMarksEvenAnUnreadableDisplay)
{
    DefaultSettings defaults;
    EXPECT_TRUE(defaults.capture({"B"}, {}, {}));
    EXPECT_EQ(defaults, (DefaultSettings{.displays = {{"B", {}}}, .initializedDisplayIDs = {"B"}}));
}

TEST(DefaultSettingsTest, ExplicitWritesCreateTheEntryAndMarkTheDisplay)
{
    DefaultSettings defaults;
    defaults.setValue(SettingValue::toggle(true), controlOf("A", SettingKey::brightness));
    EXPECT_EQ(defaults, (DefaultSettings{.displays = {{"A", {}}}}));
    defaults.setExplicit(std::nullopt, controlOf("B", SettingKey::hdr));
    EXPECT_EQ(defaults.displays.at("B"), RuleSettings{});
    EXPECT_TRUE(defaults.initializedDisplayIDs.contains("B"));
    EXPECT_FALSE(
        defaults.capture({"B"}, {{controlOf("B", SettingKey::hdr), SettingValue::toggle(true)}},
            {{controlOf("B", SettingKey::hdr), anyValue}}));
}

TEST(DefaultSettingsTest, IsValidRefusesEmptyIdentifiersAndInvalidSettings)
{
    EXPECT_TRUE((DefaultSettings{.displays = {{"A", {.brightness = 1.0}}}}).isValid());
    EXPECT_FALSE((DefaultSettings{.displays = {{"", {}}}}).isValid());
    EXPECT_FALSE((DefaultSettings{.displays = {{"A", {.brightness = 1.01}}}}).isValid());
    EXPECT_FALSE((DefaultSettings{.initializedDisplayIDs = {""}}).isValid());
}

TEST(ProfileTest, DuplicatedGetsNewIdentifiersAndLeavesDefaultsBehind)
{
    const ScopedUUIDGenerator identifiers(sequentialUUIDGenerator());
    const Rule rule{.id = UUID::random(), .name = "Night", .settings = {.brightness = 0.2}};
    const Profile original{
        .id = UUID::random(),
        .name = "Work",
        .defaultSettings = DefaultSettings{},
        .rules = {rule, {.id = UUID::random(), .name = "Day", .settings = {.brightness = 0.9}}},
        .displayPreferences = ProfileDisplayPreferences{.darkMode = true},
        .capturedDisplayPreferences = {{{SystemDisplayControl::trueTone(), true}}},
    };
    const Profile copy = original.duplicated();
    const Profile secondCopy = original.duplicated();
    EXPECT_EQ(copy.name, "Work copy");
    EXPECT_EQ(copy.duplicated().name, "Work copy copy");
    EXPECT_NE(copy.id, secondCopy.id);
    EXPECT_NE(copy.id, original.id);
    EXPECT_FALSE(copy.defaultSettings || copy.capturedDisplayPreferences);
    EXPECT_EQ(copy.displayPreferences, original.displayPreferences);
    ASSERT_EQ(copy.rules.size(), 2u);
    EXPECT_NE(copy.rules[0].id, rule.id);
    EXPECT_EQ(copy.rules[0],
        (Rule{.id = copy.rules[0].id, .name = "Night", .settings = {.brightness = 0.2}}));
    EXPECT_EQ(copy.rules[1].name, "Day");
}
