#include "ModelFixtures.h"
#include "QuorvaneCore/Desktop.h"
#include "QuorvaneCore/ResolvedPlan.h"
#include "QuorvaneCore/Rules.h"

#include <gtest/gtest.h>

using namespace quorvane;

namespace {

ApplicationReference app(const std::string& name) { return {"com.example." + name, name}; }

} // namespace

TEST(RuleConditionsTest, HasValidAppsRefusesDuplicateIDsAndBlanks)
{
    EXPECT_TRUE((RuleConditions{.apps = {app("A"), app("B")}}).hasValidApps());
    EXPECT_FALSE((RuleConditions{.apps = {app("A"), {"com.example.A", "B"}}}).hasValidApps());
    EXPECT_FALSE((RuleConditions{.apps = {{"com.example.A", "\u00a0\u3000\n"}}}).hasValidApps());
    EXPECT_FALSE((RuleConditions{.apps = {{"\t", "A"}}}).hasValidApps());
}

TEST(RuleConditionsTest, LabelsJoinAppsScreenAndSpaceAndCompactNamesTwoApps)
{
    const DisplayReference office{.id = "D1", .name = "Office"};
    const Desktop space{.id = "s2", .name = "Space 2"};
    struct Case {
        RuleConditions conditions;
        std::string_view label;
        std::string_view compactLabel;
    };
    const Case cases[] = {
        {{}, "All apps · all screens · all Spaces", "All apps · all screens · all Spaces"},
        {{.apps = {app("A"), app("B")}}, "A or B", "A or B"},
        {{.apps = {app("A"), app("B"), app("C")}}, "A or B or C", "A, B +1"},
        {{.screen = office, .space = space}, "Office + Space 2", "Office + Space 2"},
        {{{app("A"), app("B"), app("C"), app("D"), app("E")}, office, space},
            "A or B or C or D or E + Office + Space 2", "A, B +3 + Office + Space 2"},
        // Without a name the app goes by its bundle identifier.
        {RuleConditions::forApplication("com.x", {}, {}, {}), "com.x", "com.x"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        EXPECT_EQ(c.conditions.label(), c.label);
        EXPECT_EQ(c.conditions.compactLabel(), c.compactLabel);
    }
}

TEST(DefaultSettingsTest, CaptureTakesOnlyAcceptedObservationsOncePerDisplay)
{
    const ControlKey brightness = controlOf("A", SettingKey::brightness);
    const ControlKey hdr = controlOf("A", SettingKey::hdr);
    const ControlKey contrast = controlOf("A", SettingKey::contrast);
    const ControlCapability any{.available = true};
    // A's temperature has no capability, B's brightness no value: neither is taken.
    const std::map<ControlKey, SettingValue> observed{{brightness, SettingValue::percent(1)},
        {hdr, SettingValue::toggle(true)}, {contrast, SettingValue::percent(0.5)},
        {controlOf("A", SettingKey::temperature),
            SettingValue::temperature(Temperature::neutral())}};
    const std::map<ControlKey, ControlCapability> capabilities{{brightness, any},
        {hdr, {.reason = "Not supported"}}, {contrast, any},
        {controlOf("B", SettingKey::brightness), any}};
    // Contrast is already set; B reports nothing but counts as captured all the same.
    DefaultSettings defaults{.displays = {{"A", {.contrast = 0}}}};
    EXPECT_TRUE(defaults.capture({"A", "B"}, observed, capabilities));
    const DefaultSettings after{{{"A", {.brightness = 1, .contrast = 0}}, {"B", {}}}, {"A", "B"}};
    EXPECT_EQ(defaults, after);
    EXPECT_FALSE(defaults.capture({"A"}, observed, {{hdr, any}}));
    EXPECT_EQ(defaults, after);

    // Only an explicit write marks a display as captured.
    defaults.setValue(SettingValue::percent(0.5), controlOf("C", SettingKey::brightness));
    defaults.setExplicit(std::nullopt, controlOf("D", SettingKey::hdr));
    EXPECT_EQ(defaults.initializedDisplayIDs, (std::set<std::string>{"A", "B", "D"}));
}

TEST(ProfileTest, DuplicatedGetsNewIdentifiersAndLeavesDefaultsBehind)
{
    const ScopedUUIDGenerator identifiers(sequentialUUIDGenerator());
    Profile original{.id = uuidNumber(90), .name = "Work", .rules = {{uuidNumber(91), "Night"}}};
    original.displayPreferences = ProfileDisplayPreferences{.darkMode = true};
    Profile expected = original;
    expected.id = uuidNumber(1);
    expected.name = "Work copy";
    expected.rules.edit(0).id = uuidNumber(2);
    original.defaultSettings.emplace();
    original.capturedDisplayPreferences = {{{SystemDisplayControl::trueTone(), true}}};
    EXPECT_EQ(original.duplicated(), expected);
}

TEST(DesktopTest, IdentifiedPrefersAValidUUIDThenTheSessionFormThenNothing)
{
    const UUID session = *UUID::parse("0F4A5B6C-1111-2222-3333-ABCDEFABCDEF");
    EXPECT_EQ(Desktop::identified("A1B2C3D4-0000-4000-8000-00000000000F", 7, 2, session),
        (Desktop{"a1b2c3d4-0000-4000-8000-00000000000f", "Space 2"}));
    EXPECT_EQ(Desktop::identified("not-a-uuid", 42, 2, session),
        (Desktop{"session:0F4A5B6C-1111-2222-3333-ABCDEFABCDEF:42", "Space 2 · this session"}));
    EXPECT_EQ(Desktop::identified(std::nullopt, 0, 2, session), std::nullopt);
    EXPECT_EQ(Desktop::identified("not-a-uuid", std::nullopt, 2, session), std::nullopt);
    EXPECT_TRUE(Desktop::identified(std::nullopt, 9, 1, session)->isSessionOnly());
    EXPECT_FALSE(Desktop::identified(session.uuidString(), 9, 1, session)->isSessionOnly());
}
