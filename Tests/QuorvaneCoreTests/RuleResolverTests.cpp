#include "Foundation/Format.h"
#include "Foundation/Text.h"
#include "ModelFixtures.h"
#include "QuorvaneCore/RuleResolver.h"

#include <gtest/gtest.h>

#include <chrono>

using namespace quorvane;
using namespace std::chrono_literals;

namespace {

using Capabilities = std::map<ControlKey, ControlCapability>;

const Date now = Date{} + 1000h;
const ControlCapability accepting{.available = true};
constexpr SettingKey brightness = SettingKey::brightness;
constexpr SettingKey contrast = SettingKey::contrast;
constexpr SettingKey refreshRate = SettingKey::refreshRate;

/// Rule N has id uuidNumber(N) and is named "Rule N".
Rule rule(std::uint8_t number, RuleSettings settings, RuleConditions conditions = {})
{
    return {.id = uuidNumber(number),
        .name = "Rule " + formatUnsigned(number),
        .conditions = std::move(conditions),
        .settings = settings};
}

Rule disabled(Rule rule)
{
    rule.isEnabled = false;
    return rule;
}

std::vector<DisplayContext> displays(std::initializer_list<std::string> ids)
{
    std::vector<DisplayContext> result;
    for (const std::string& id : ids)
        result.push_back({.id = id});
    return result;
}

/// Every listed setting of every listed display accepts any valid value; `exceptions` replace
/// or add entries.
Capabilities acceptingAll(std::initializer_list<std::string> displayIDs,
    std::initializer_list<SettingKey> settings, Capabilities exceptions = {})
{
    for (const std::string& id : displayIDs) {
        for (const SettingKey setting : settings)
            exceptions.try_emplace(controlOf(id, setting), accepting);
    }
    return exceptions;
}

std::vector<ApplicationReference> apps(std::initializer_list<std::string> bundleIDs)
{
    std::vector<ApplicationReference> result;
    for (const std::string& id : bundleIDs)
        result.push_back({.id = id, .name = id});
    return result;
}

DisplayReference screen(std::string id) { return {.id = id, .name = "Screen " + id}; }

Desktop space(std::optional<std::string> owner, bool isShared = false)
{
    return {.id = "s1", .name = "Space 1", .displayID = std::move(owner), .isShared = isShared};
}

struct Scenario {
    std::vector<Rule> rules{};
    RuntimeContext context{};
    Capabilities capabilities{};
    std::map<ControlKey, ManualHold> holds{};
    DefaultSettings defaults{};

    [[nodiscard]] ResolvedPlan resolve() const
    {
        return RuleResolver::resolve(Profile{.id = uuidNumber(100), .name = "Work", .rules = rules},
            defaults, context, capabilities, holds, now);
    }
};

std::string describe(const ControlKey& key)
{
    return key.target.id() + "." + std::string(rawValue(key.setting));
}

/// "a.brightness = 30% · Rule 1"
std::vector<std::string> assignmentsOf(const ResolvedPlan& plan)
{
    std::vector<std::string> lines;
    for (const auto& [key, assignment] : plan.assignments)
        lines.push_back(
            describe(key) + " = " + assignment.value.label() + " · " + assignment.source.label());
    return lines;
}

/// "#1 matches, needs window, claims [a.brightness], reasons [Contrast: Invalid value]"
std::vector<std::string> evaluationsOf(const ResolvedPlan& plan)
{
    std::vector<std::string> lines;
    for (const auto& [id, evaluation] : plan.rules) {
        std::vector<std::string> claims;
        for (const ControlKey& key : evaluation.contributions)
            claims.push_back(describe(key));
        lines.push_back("#" + formatUnsigned(id.bytes().back())
            + (evaluation.matches ? " matches" : " fails")
            + (evaluation.needsFocusedWindow ? ", needs window" : "") + ", claims ["
            + joined(claims, ", ") + "], reasons [" + joined(evaluation.reasons, "; ") + "]");
    }
    return lines;
}

/// "a.contrast: Control unavailable"
std::vector<std::string> unavailableOf(const ResolvedPlan& plan)
{
    std::vector<std::string> lines;
    for (const auto& [key, reason] : plan.unavailable)
        lines.push_back(describe(key) + ": " + reason);
    return lines;
}

struct Case {
    std::string name;
    Scenario scenario;
    std::vector<std::string> assignments;
    std::vector<std::string> evaluations;
    std::vector<std::string> unavailable{};
};

void check(const Case& c)
{
    SCOPED_TRACE(c.name);
    const ResolvedPlan plan = c.scenario.resolve();
    EXPECT_EQ(assignmentsOf(plan), c.assignments);
    EXPECT_EQ(evaluationsOf(plan), c.evaluations);
    EXPECT_EQ(unavailableOf(plan), c.unavailable);
}

} // namespace

TEST(RuleResolverTest, HoldsComeFirstWhileActiveAndApplicable)
{
    const auto held = [](double value, std::optional<Date> expiresAt, bool isExternal = false) {
        return ManualHold{.value = SettingValue::percent(value),
            .expiresAt = expiresAt,
            .isExternal = isExternal};
    };
    const Case cases[] = {
        {"a hold beats the rule, which beats the Default",
            {.rules = {rule(1, {.brightness = 0.3, .contrast = 0.6})},
                .context = {.displays = displays({"a"})},
                .capabilities = acceptingAll({"a"}, {brightness, contrast}),
                .holds = {{controlOf("a", brightness), held(0.7, now + 900s)}},
                .defaults = {.displays = {{"a", {.brightness = 0.5, .contrast = 0.8}}}}},
            {"a.brightness = 70% · Manual hold", "a.contrast = 60% · Rule 1"},
            {"#1 matches, claims [a.contrast], reasons []"}},
        {"a hold without expiry, made outside",
            {.context = {.displays = displays({"a"})},
                .capabilities = acceptingAll({"a"}, {brightness}),
                .holds = {{controlOf("a", brightness), held(0.7, std::nullopt, true)}}},
            {"a.brightness = 70% · Changed outside QuorVane"}, {}},
        {"a hold ends exactly at its expiry",
            {.rules = {rule(1, {.brightness = 0.3})},
                .context = {.displays = displays({"a", "b"})},
                .capabilities = acceptingAll({"a", "b"}, {brightness}),
                .holds = {{controlOf("a", brightness), held(0.7, now)},
                    {controlOf("b", brightness), held(0.7, now + 1ns)}}},
            {"a.brightness = 30% · Rule 1", "b.brightness = 70% · Manual hold"},
            {"#1 matches, claims [a.brightness], reasons []"}},
        {"holds that cannot apply leave no trace",
            {.context = {.displays = displays({"a"})},
                .capabilities = acceptingAll({"a", "z"}, {brightness}),
                .holds = {{controlOf("z", brightness), held(0.7, std::nullopt)},
                    {controlOf("a", contrast), held(0.7, std::nullopt)},
                    {controlOf("a", brightness), held(1.5, std::nullopt)}},
                .defaults = {.displays = {{"a", {.brightness = 0.5}}}}},
            {"a.brightness = 50% · Default"}, {}},
    };
    for (const Case& c : cases)
        check(c);
}

TEST(RuleResolverTest, ConditionsNarrowTheDisplaysARuleClaims)
{
    const RuntimeContext editorOnB{
        .appBundleID = "editor", .focusedDisplayID = "b", .displays = displays({"a", "b"})};
    const RuntimeContext editorWithoutWindow{
        .appBundleID = "editor", .displays = displays({"a", "b"})};
    const RuntimeContext spaceOnAAndB{.displays
        = {{.id = "a", .activeSpaceID = "s1"}, {.id = "b", .activeSpaceID = "s1"}, {.id = "c"}}};
    const Capabilities abc = acceptingAll({"a", "b", "c"}, {brightness});
    const Case cases[] = {
        {"disabled",
            {.rules = {disabled(rule(1, {.brightness = 0.3}))},
                .context = {.displays = displays({"a"})},
                .capabilities = abc},
            {}, {"#1 fails, claims [], reasons [Disabled]"}},
        {"application compared as exact text",
            {.rules = {rule(1, {.brightness = 0.3}, {.apps = apps({"Editor"})})},
                .context = editorOnB,
                .capabilities = abc},
            {}, {"#1 fails, claims [], reasons []"}},
        {"any listed application, on the focused screen only",
            {.rules = {rule(1, {.brightness = 0.3}, {.apps = apps({"mail", "editor"})})},
                .context = editorOnB,
                .capabilities = abc},
            {"b.brightness = 30% · Rule 1"}, {"#1 matches, claims [b.brightness], reasons []"}},
        {"focused screen unknown, with a Space condition",
            {.rules
                = {rule(1, {.brightness = 0.3}, {.apps = apps({"editor"}), .space = space({})})},
                .context = editorWithoutWindow,
                .capabilities = abc},
            {},
            {"#1 fails, needs window, claims [], reasons [Focused window unavailable · check "
             "window access]"}},
        {"focused screen unknown, application condition only",
            {.rules = {rule(1, {.brightness = 0.3}, {.apps = apps({"editor"})})},
                .context = editorWithoutWindow,
                .capabilities = abc},
            {},
            {"#1 matches, needs window, claims [], reasons [Brightness: focused screen "
             "unavailable · allow window access]"}},
        {"focused screen unknown, nothing set",
            {.rules = {rule(1, {}, {.apps = apps({"editor"})})},
                .context = editorWithoutWindow,
                .capabilities = abc},
            {}, {"#1 matches, claims [], reasons []"}},
        {"screen not connected",
            {.rules = {rule(1, {.brightness = 0.3}, {.screen = screen("z")})},
                .context = {.displays = displays({"a"})},
                .capabilities = abc},
            {}, {"#1 fails, claims [], reasons [Screen disconnected]"}},
        {"screen connected but not focused",
            {.rules
                = {rule(1, {.brightness = 0.3}, {.apps = apps({"editor"}), .screen = screen("a")})},
                .context = editorOnB,
                .capabilities = abc},
            {}, {"#1 fails, claims [], reasons []"}},
        {"screen condition alone",
            {.rules = {rule(1, {.brightness = 0.3}, {.screen = screen("b")})},
                .context = {.displays = displays({"a", "b"})},
                .capabilities = abc},
            {"b.brightness = 30% · Rule 1"}, {"#1 matches, claims [b.brightness], reasons []"}},
        {"Space owned by one display",
            {.rules = {rule(1, {.brightness = 0.3}, {.space = space("a")})},
                .context = spaceOnAAndB,
                .capabilities = abc},
            {"a.brightness = 30% · Rule 1"}, {"#1 matches, claims [a.brightness], reasons []"}},
        {"shared Space",
            {.rules = {rule(1, {.brightness = 0.3}, {.space = space("a", true)})},
                .context = spaceOnAAndB,
                .capabilities = abc},
            {"a.brightness = 30% · Rule 1", "b.brightness = 30% · Rule 1"},
            {"#1 matches, claims [a.brightness, b.brightness], reasons []"}},
        {"Space without an owner",
            {.rules = {rule(1, {.brightness = 0.3}, {.space = space({})})},
                .context = spaceOnAAndB,
                .capabilities = abc},
            {"a.brightness = 30% · Rule 1", "b.brightness = 30% · Rule 1"},
            {"#1 matches, claims [a.brightness, b.brightness], reasons []"}},
        {"Space not active",
            {.rules = {rule(1, {.brightness = 0.3}, {.space = space("a")})},
                .context = {.displays = displays({"a", "b"})},
                .capabilities = abc},
            {}, {"#1 fails, claims [], reasons [Space not active or unavailable]"}},
        {"screen filter narrows before the Space filter",
            {.rules = {rule(1, {.brightness = 0.3}, {.screen = screen("c"), .space = space({})})},
                .context = spaceOnAAndB,
                .capabilities = abc},
            {}, {"#1 fails, claims [], reasons [Space not active or unavailable]"}},
        {"no display connected", {.rules = {rule(1, {.brightness = 0.3, .contrast = 0.5})}}, {},
            {"#1 matches, claims [], reasons [Brightness: no connected screens; Contrast: no "
             "connected screens]"}},
    };
    for (const Case& c : cases)
        check(c);
}

TEST(RuleResolverTest, ClaimsAndRejectionsKeepTheirOrderAndBookkeeping)
{
    const Capabilities refreshChoices{{controlOf("a", refreshRate),
        {.available = true,
            .choices = {SettingValue::refresh(RefreshPreference::fixed(60'000)),
                SettingValue::refresh(RefreshPreference::adaptive())}}}};
    const Case cases[] = {
        {"key by key, then display by display in context order",
            {.rules = {rule(1, {.brightness = 0.3, .contrast = 0.5})},
                .context = {.displays = displays({"b", "a"})},
                .capabilities = acceptingAll({"a", "b"}, {brightness, contrast},
                    {{controlOf("a", brightness), {.reason = "DDC reply timed out"}}})},
            {"a.contrast = 50% · Rule 1", "b.brightness = 30% · Rule 1",
                "b.contrast = 50% · Rule 1"},
            {"#1 matches, claims [b.brightness, b.contrast, a.contrast], reasons [Brightness: "
             "DDC reply timed out]"},
            {"a.brightness: DDC reply timed out"}},
        {"the upper rule keeps the control; a rule setting nothing still matches",
            {.rules = {rule(1, {.brightness = 0.3}), rule(2, {.brightness = 0.6}), rule(3, {})},
                .context = {.displays = displays({"a"})},
                .capabilities = acceptingAll({"a"}, {brightness})},
            {"a.brightness = 30% · Rule 1"},
            {"#1 matches, claims [a.brightness], reasons []", "#2 matches, claims [], reasons []",
                "#3 matches, claims [], reasons []"}},
        {"refused by the display mode, then filled by the Default",
            {.rules
                = {rule(1, {.brightness = 0.5, .refreshRate = RefreshPreference::fixed(120'000)})},
                .context = {.displays = displays({"a"})},
                .capabilities = acceptingAll({"a"}, {brightness}, refreshChoices),
                .defaults
                = {.displays = {{"a", {.refreshRate = RefreshPreference::fixed(60'000)}}}}},
            {"a.brightness = 50% · Rule 1", "a.refreshRate = 60 Hz · Default"},
            {"#1 matches, claims [a.brightness], reasons [Refresh rate: Value unavailable in "
             "this display mode]"}},
        {"refused with nothing to fall back on",
            {.rules = {rule(1, {.refreshRate = RefreshPreference::fixed(120'000)})},
                .context = {.displays = displays({"a"})},
                .capabilities = refreshChoices},
            {},
            {"#1 matches, claims [], reasons [Refresh rate: Value unavailable in this display "
             "mode]"},
            {"a.refreshRate: Value unavailable in this display mode"}},
        {"refused by a later rule on a control already claimed, which the Default leaves alone",
            {.rules = {rule(1, {.brightness = 0.3}), rule(2, {.brightness = 1.5})},
                .context = {.displays = displays({"a"})},
                .capabilities = acceptingAll({"a"}, {brightness}),
                .defaults = {.displays = {{"a", {.brightness = 0.5}}}}},
            {"a.brightness = 30% · Rule 1"},
            {"#1 matches, claims [a.brightness], reasons []",
                "#2 matches, claims [], reasons [Brightness: Invalid value]"},
            {"a.brightness: Invalid value"}},
        {"refused by an upper rule, claimed by a lower one",
            {.rules = {rule(1, {.brightness = 1.5}), rule(2, {.brightness = 0.6})},
                .context = {.displays = displays({"a"})},
                .capabilities = acceptingAll({"a"}, {brightness})},
            {"a.brightness = 60% · Rule 2"},
            {"#1 matches, claims [], reasons [Brightness: Invalid value]",
                "#2 matches, claims [a.brightness], reasons []"}},
        {"a control without capability is never assigned",
            {.rules = {rule(1, {.contrast = 0.5})},
                .context = {.displays = displays({"a"})},
                .defaults = {.displays = {{"a", {.brightness = 0.5, .contrast = 0.4}}}}},
            {}, {"#1 matches, claims [], reasons [Contrast: Control unavailable]"},
            {"a.contrast: Control unavailable"}},
        {"Default for a disconnected display, and a Default refused by the mode",
            {.context = {.displays = displays({"a"})},
                .capabilities = acceptingAll({"a", "z"}, {brightness}, refreshChoices),
                .defaults = {.displays
                    = {{"a", {.brightness = 0.5, .refreshRate = RefreshPreference::fixed(75'000)}},
                        {"z", {.brightness = 0.7}}}}},
            {"a.brightness = 50% · Default"}, {},
            {"a.refreshRate: Value unavailable in this display mode",
                "z.brightness: Device "
                "unavailable"}},
    };
    for (const Case& c : cases)
        check(c);
}

TEST(RuleResolverTest, ADuplicateRuleIdKeepsTheLaterEvaluationAndTheEarlierClaims)
{
    Rule twin = disabled(rule(1, {.contrast = 0.5}));
    twin.name = "Twin";
    check({"duplicate id",
        {.rules = {rule(1, {.brightness = 0.3}), twin},
            .context = {.displays = displays({"a"})},
            .capabilities = acceptingAll({"a"}, {brightness})},
        {"a.brightness = 30% · Rule 1"}, {"#1 fails, claims [], reasons [Disabled]"}});
}

TEST(RuleResolverTest, ASuspendedContextDecidesNothing)
{
    const Scenario scenario{.rules = {rule(1, {.brightness = 0.3}), rule(2, {.contrast = 9})},
        .context = {.displays = displays({"a"}), .suspended = true},
        .capabilities = acceptingAll({"a"}, {brightness, contrast}),
        .holds = {{controlOf("a", brightness), {.value = SettingValue::percent(0.7)}}},
        .defaults = {.displays = {{"a", {.brightness = 0.5, .contrast = 0.5}}}}};
    EXPECT_EQ(scenario.resolve(), ResolvedPlan());
}

TEST(RuleResolverTest, ProducesTheSourcesAndValuesItWasGiven)
{
    // The text tables above compare labels; this pins the exact values and rule identity.
    const Scenario scenario{.rules = {rule(1, {.brightness = 0.35})},
        .context = {.displays = displays({"a"})},
        .capabilities = acceptingAll({"a"}, {brightness, contrast}),
        .holds = {{controlOf("a", contrast), {.value = SettingValue::percent(0.123)}}}};
    const ResolvedPlan plan = scenario.resolve();
    EXPECT_EQ(plan.assignments.at(controlOf("a", brightness)),
        (ResolvedAssignment{
            SettingValue::percent(0.35), ResolutionSource::rule(uuidNumber(1), "Rule 1")}));
    EXPECT_EQ(plan.assignments.at(controlOf("a", contrast)),
        (ResolvedAssignment{SettingValue::percent(0.123), ResolutionSource::manual(false)}));
}
