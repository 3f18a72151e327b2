// Identifiers where the resolver and validate() compare them without copies: display and Space
// identifiers looked up in sorted tables, and rule ids sorted rather than collected in a set.

#include "Foundation/Format.h"
#include "ModelFixtures.h"
#include "QuorvaneCore/Configuration.h"
#include "QuorvaneCore/RuleResolver.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace quorvane;

namespace {

// Real identifiers: as long as a UUID and alike but for their last characters.
const std::string first = "6B1E54A2-0C4D-4F7A-9E3B-000000000001";
const std::string second = "6B1E54A2-0C4D-4F7A-9E3B-000000000002";
const std::string third = "6B1E54A2-0C4D-4F7A-9E3B-000000000003";
const std::string firstsPrefix = "6B1E54A2-0C4D-4F7A-9E3B-00000000000";

Rule rule(std::uint8_t number, RuleConditions conditions = {}, double brightness = 0.3)
{
    return {.id = uuidNumber(number),
        .name = "Rule " + formatUnsigned(number),
        .conditions = std::move(conditions),
        .settings = {.brightness = brightness}};
}

/// "3.brightness = Rule 1" per assignment, "#1 matches +3.brightness (reason)" per evaluation,
/// "3.brightness: reason" per unavailable control, displays by their last character.
std::vector<std::string> linesOf(const ResolvedPlan& plan)
{
    const auto describe = [](const ControlKey& key) {
        return key.target.id().substr(key.target.id().size() - 1) + "."
            + std::string(rawValue(key.setting));
    };
    std::vector<std::string> lines;
    for (const auto& [key, assignment] : plan.assignments)
        lines.push_back(describe(key) + " = " + assignment.source.label());
    for (const auto& [id, evaluation] : plan.rules) {
        std::string line = "#" + formatUnsigned(id.bytes().back())
            + (evaluation.matches ? " matches" : " fails")
            + (evaluation.needsFocusedWindow ? ", needs window" : "");
        for (const ControlKey& key : evaluation.contributions)
            line += " +" + describe(key);
        for (const std::string& reason : evaluation.reasons)
            line += " (" + reason + ")";
        lines.push_back(line);
    }
    for (const auto& [key, reason] : plan.unavailable)
        lines.push_back(describe(key) + ": " + reason);
    return lines;
}

} // namespace

TEST(ResolverIdentityTest, IdentifiersMatchExactlyAndRuleIdsKeepTheirLastEvaluation)
{
    struct Case {
        std::string name;
        RuntimeContext context;
        std::vector<Rule> rules;
        std::vector<std::string> plan;
    };
    const DisplayReference firstScreen{.id = first, .name = "One"};
    const Desktop ownedByThird{.id = "space", .name = "Space", .displayID = third};
    const Desktop sharedOfThird{
        .id = "space", .name = "Space", .displayID = third, .isShared = true};
    const RuntimeContext both{.appBundleID = "app",
        .focusedDisplayID = second,
        .displays = {{first, "space"}, {second, "other"}}};
    const Case cases[] = {
        {"a screen named by a prefix of a connected one is disconnected", both,
            {rule(1, {.screen = DisplayReference{firstsPrefix, "Prefix"}}),
                rule(2, {.screen = firstScreen})},
            {"1.brightness = Rule 2", "#1 fails (Screen disconnected)",
                "#2 matches +1.brightness"}},
        {"a display listed twice claims once and refuses twice", {.displays = {{first}, {first}}},
            {rule(1, {}, 1.5), rule(2)},
            {"1.brightness = Rule 2",
                "#1 matches (Brightness: Invalid value) (Brightness: "
                "Invalid value)",
                "#2 matches +1.brightness"}},
        {"the focused screen of an app rule must be connected",
            {.appBundleID = "app", .focusedDisplayID = third, .displays = {{first}, {second}}},
            {rule(1, {.apps = {{"app", "App"}}})},
            {"#1 matches, needs window (Brightness: focused screen unavailable · allow window "
             "access)"}},
        {"an app rule acts on the focused screen only", both, {rule(1, {.apps = {{"app", "App"}}})},
            {"2.brightness = Rule 1", "#1 matches +2.brightness"}},
        {"a Space owned by a screen not connected shows nowhere unless shared", both,
            {rule(1, {.space = ownedByThird}), rule(2, {.space = sharedOfThird})},
            {"1.brightness = Rule 2", "#1 fails (Space not active or unavailable)",
                "#2 matches +1.brightness"}},
        {"a display without an active Space shows none",
            {.displays = {{first, std::nullopt}, {second, "space"}}},
            {rule(1, {.space = Desktop{.id = "space", .name = "Space"}})},
            {"2.brightness = Rule 1", "#1 matches +2.brightness"}},
        {"an id used three times keeps its last evaluation and its first claims",
            {.displays = {{first}, {second}}},
            {rule(9, {.screen = firstScreen}), rule(3), rule(9, {}, 1.5),
                {uuidNumber(9), "Twin", false}},
            {"1.brightness = Rule 9", "2.brightness = Rule 3", "#3 matches +2.brightness",
                "#9 fails (Disabled)", "1.brightness: Invalid value",
                "2.brightness: Invalid value"}},
    };
    std::map<ControlKey, ControlCapability> capabilities;
    for (const std::string& display : {first, second, third})
        capabilities[controlOf(display, SettingKey::brightness)] = {.available = true};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Profile profile{.id = uuidNumber(100), .name = "Work", .rules = c.rules};
        EXPECT_EQ(
            linesOf(RuleResolver::resolve(profile, {}, c.context, capabilities, {}, {})), c.plan);
    }
}

TEST(ResolverIdentityTest, EveryBitOfARuleIdKeepsItsEvaluationApart)
{
    // Ids alike but for the top bit of the byte that leads each half.
    const auto withByte = [](std::size_t index, std::uint8_t value) {
        UUID::Bytes bytes{};
        bytes[index] = value;
        return UUID(bytes);
    };
    const std::vector<UUID> ids{withByte(0, 0x80), withByte(8, 0x80), withByte(0, 0)};
    Profile profile{.id = uuidNumber(100), .name = "Work"};
    for (const UUID& id : ids)
        profile.rules.push_back({.id = id, .name = "Rule", .isEnabled = false});
    const ResolvedPlan plan = RuleResolver::resolve(profile, {}, {}, {}, {}, {});
    ASSERT_EQ(plan.rules.size(), ids.size());
    for (const UUID& id : ids)
        EXPECT_TRUE(plan.rules.contains(id));
}

TEST(ResolverIdentityTest, ValidateReportsTheFirstRuleThatRepeatsAnId)
{
    const char* ruleMessage
        = "A rule has an invalid name, condition, settings, or a duplicate identifier.";
    const char* spaceMessage = "The selected Space belongs to another screen.";
    const char* profileMessage = "A profile has invalid settings or a missing name.";
    const Rule foreignSpace = rule(50,
        {.screen = DisplayReference{first, "One"},
            .space = Desktop{.id = "space", .name = "Space", .displayID = second}});
    struct Case {
        const char* name;
        std::vector<std::vector<Rule>> profiles; // after the Default profile
        const char* message; // empty: valid
        std::size_t blankNamedProfile = 0; // none when 0, the Default profile's place
    };
    const Case cases[] = {
        {"unique ids in any order", {{rule(3), rule(1)}, {rule(2)}}, ""},
        {"a repeat after a Space fault", {{rule(1), foreignSpace, rule(1)}}, spaceMessage},
        {"a repeat before a Space fault", {{rule(1), rule(1), foreignSpace}}, ruleMessage},
        {"a repeat in a later profile", {{foreignSpace}, {rule(1)}, {rule(1)}}, spaceMessage},
        {"a repeat across profiles", {{rule(1)}, {rule(2), rule(1)}}, ruleMessage},
        {"an invalid profile between a rule and its repeat", {{rule(1)}, {}, {rule(1)}},
            profileMessage, 2},
        {"the first of several repeats counts",
            {{rule(2), rule(1)}, {rule(1), foreignSpace}, {rule(2)}}, ruleMessage},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Configuration configuration;
        for (std::size_t index = 0; index < c.profiles.size(); ++index)
            configuration.profiles.push_back(
                {.id = uuidNumber(static_cast<std::uint8_t>(200 + index)),
                    .name = "Work " + formatUnsigned(index),
                    .rules = c.profiles[index]});
        if (c.blankNamedProfile != 0)
            configuration.profiles[c.blankNamedProfile].name = " ";
        std::string message;
        try {
            configuration.validate();
        } catch (const ConfigurationError& error) {
            message = error.what();
        }
        EXPECT_EQ(message, c.message);
    }
}
