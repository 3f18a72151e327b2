#include "Foundation/Format.h"
#include "Foundation/Text.h"
#include "ModelFixtures.h"
#include "QuorvaneCore/RuleResolver.h"

#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <random>

using namespace quorvane;
using namespace std::chrono_literals;

namespace {

const Date now = Date{} + 1000h;
constexpr SettingKey brightness = SettingKey::brightness;
constexpr SettingKey contrast = SettingKey::contrast;
const RefreshPreference sixtyHertz = RefreshPreference::fixed(60'000);
const RefreshPreference adaptive = RefreshPreference::adaptive();

// Real identifiers: as long as a UUID and alike but for their last characters, which name them.
const std::string first = "6B1E54A2-0C4D-4F7A-9E3B-000000000001";
const std::string second = "6B1E54A2-0C4D-4F7A-9E3B-000000000002";
const std::string third = "6B1E54A2-0C4D-4F7A-9E3B-000000000003";

/// Brightness on a, b, the disconnected z and the three real identifiers; contrast on a and b; on
/// a, a refresh rate limited to 60 Hz. Nothing else has a capability.
const ControlCapability accepting{.available = true};
const std::map<ControlKey, ControlCapability> capabilities{{controlOf("a", brightness), accepting},
    {controlOf("b", brightness), accepting}, {controlOf("z", brightness), accepting},
    {controlOf(first, brightness), accepting}, {controlOf(second, brightness), accepting},
    {controlOf(third, brightness), accepting}, {controlOf("a", contrast), accepting},
    {controlOf("b", contrast), accepting},
    {controlOf("a", SettingKey::refreshRate), {true, "", {SettingValue::refresh(sixtyHertz)}}}};
const RuleSettings thirty{.brightness = 0.3};

/// Rule N has id uuidNumber(N) and is named "Rule N".
Rule rule(std::uint8_t number, RuleSettings settings, RuleConditions conditions = {})
{
    return {.id = uuidNumber(number),
        .name = "Rule " + formatUnsigned(number),
        .conditions = std::move(conditions),
        .settings = settings};
}

ApplicationReference app(std::string id) { return {.id = id, .name = id}; }

DisplayReference screen(std::string id) { return {.id = id, .name = "Screen " + id}; }

Desktop space(std::optional<std::string> owner, bool isShared = false)
{
    return {.id = "s1", .name = "Space 1", .displayID = std::move(owner), .isShared = isShared};
}

/// One line per assignment ("a.brightness = 30% · Rule 1"), per rule evaluation with its claims
/// and reasons ("#1 matches, needs window +a.brightness (Contrast: Invalid value)") and per
/// unavailable control ("a.contrast: Control unavailable"); displays by their last character.
std::vector<std::string> linesOf(const ResolvedPlan& plan)
{
    const auto describe = [](const ControlKey& key) {
        return key.target.id().back() + ("." + std::string(rawValue(key.setting)));
    };
    std::vector<std::string> lines;
    for (const auto& [key, assignment] : plan.assignments)
        lines.push_back(
            describe(key) + " = " + assignment.value.label() + " · " + assignment.source.label());
    // In id order, one line per id: the evaluation that a lookup by that id finds.
    std::map<UUID, const RuleEvaluation*> evaluations;
    for (const auto& [id, evaluation] : plan.rules)
        evaluations.insert_or_assign(id, &plan.rules.at(id));
    for (const auto& [id, found] : evaluations) {
        const RuleEvaluation& evaluation = *found;
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

struct Case {
    std::string name;
    RuntimeContext context;
    std::vector<Rule> rules;
    std::vector<std::string> plan;
    std::map<ControlKey, ManualHold> holds{};
    std::map<std::string, RuleSettings> defaults{};
};

/// Also resolves each case with the memo the case before left, and again with its own: what a
/// memo holds may be taken over but must never show through.
void expectPlans(const std::vector<Case>& cases)
{
    ResolutionMemo memo;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Profile profile{.id = uuidNumber(100), .name = "Work", .rules = c.rules};
        const auto resolve = [&] {
            return RuleResolver::resolve(
                profile, {.displays = c.defaults}, c.context, capabilities, c.holds, now, memo);
        };
        const ResolvedPlan plan = RuleResolver::resolve(
            profile, {.displays = c.defaults}, c.context, capabilities, c.holds, now);
        EXPECT_EQ(linesOf(plan), c.plan);
        EXPECT_EQ(resolve(), plan);
        EXPECT_EQ(resolve(), plan);
    }
}

} // namespace

TEST(RuleResolverTest, HoldsThenRulesInOrderThenDefaultsDecideEachConnectedControl)
{
    expectPlans({
        {"holds come first while active and applicable, and leave no trace otherwise; the Default "
         "yields to holds and rules, or says why it cannot apply",
            {.displays = {{"a"}, {"b"}}}, {rule(1, {.brightness = 0.3, .contrast = 0.6})},
            {"a.brightness = 30% · Rule 1", "a.contrast = 60% · Rule 1",
                "b.brightness = 70% · Manual hold", "b.contrast = 90% · Changed outside QuorVane",
                "#1 matches +a.brightness +a.contrast",
                "a.refreshRate: Value unavailable in this display mode",
                "z.brightness: Device unavailable"},
            {{controlOf("a", brightness), {SettingValue::percent(0.7), now}},
                {controlOf("b", brightness), {SettingValue::percent(0.7), now + 1ns}},
                {controlOf("b", contrast), {SettingValue::percent(0.9), std::nullopt, true}},
                {controlOf("z", brightness), {SettingValue::percent(0.7)}},
                {controlOf("a", SettingKey::hdr), {SettingValue::toggle(true)}}},
            {{"a", {.refreshRate = adaptive, .contrast = 0.8}}, {"b", {.brightness = 1.5}},
                {"z", {.brightness = 0.7}}}},
        {"applications, then screens",
            {.appBundleID = "editor", .focusedDisplayID = "b", .displays = {{"a"}, {"b"}}},
            {rule(1, {.brightness = 0.3}, {.apps = {app("Editor")}}),
                rule(2, {.brightness = 0.3}, {.apps = {app("mail"), app("editor")}}),
                rule(3, {.brightness = 0.3}, {.apps = {app("editor")}, .screen = screen("a")}),
                rule(4, {.brightness = 0.3}, {.screen = screen("z")})},
            {"b.brightness = 30% · Rule 2", "#1 fails", "#2 matches +b.brightness", "#3 fails",
                "#4 fails (Screen disconnected)"}},
        {"the focused screen unknown", {.appBundleID = "editor", .displays = {{"a"}, {"b"}}},
            {rule(1, {.brightness = 0.3}, {.apps = {app("editor")}, .space = space({})}),
                rule(2, {.brightness = 0.3}, {.apps = {app("editor")}, .screen = screen("a")}),
                rule(3, {.brightness = 0.3}, {.apps = {app("editor")}}),
                rule(4, {}, {.apps = {app("editor")}})},
            {"#1 fails, needs window (Focused window unavailable · check window access)",
                "#2 fails, needs window (Focused window unavailable · check window access)",
                "#3 matches, needs window (Brightness: focused screen unavailable · allow window "
                "access)",
                "#4 matches"}},
        {"Spaces, after screens", {.displays = {{"a", "s1"}, {"b", "s1"}, {"c"}}},
            {rule(1, {.brightness = 0.3}, {.space = space("a")}),
                rule(2, {.contrast = 0.3}, {.space = space("a", true)}),
                rule(3, {.brightness = 0.3}, {.space = space({})}),
                rule(4, {.brightness = 0.3}, {.screen = screen("c"), .space = space({})})},
            {"a.brightness = 30% · Rule 1", "a.contrast = 30% · Rule 2",
                "b.brightness = 30% · Rule 3", "b.contrast = 30% · Rule 2",
                "#1 matches +a.brightness", "#2 matches +a.contrast +b.contrast",
                "#3 matches +b.brightness", "#4 fails (Space not active or unavailable)"}},
        {"key by key, then display by display in context order; the upper rule keeps the control",
            {.displays = {{"b"}, {"a"}}},
            {rule(1, {.brightness = 0.3, .contrast = 0.5}), rule(2, {.brightness = 0.6}),
                rule(3, {})},
            {"a.brightness = 30% · Rule 1", "a.contrast = 50% · Rule 1",
                "b.brightness = 30% · Rule 1", "b.contrast = 50% · Rule 1",
                "#1 matches +b.brightness +a.brightness +b.contrast +a.contrast", "#2 matches",
                "#3 matches"}},
        {"a refused value falls through to later rules and the Default", {.displays = {{"a"}}},
            {rule(1, {.brightness = 1.5, .refreshRate = adaptive}), rule(2, {.brightness = 0.6})},
            {"a.brightness = 60% · Rule 2", "a.refreshRate = 60 Hz · Default",
                "#1 matches (Brightness: Invalid value) (Refresh rate: Value unavailable in this "
                "display mode)",
                "#2 matches +a.brightness"},
            {}, {{"a", {.brightness = 0.5, .refreshRate = sixtyHertz}}}},
        {"refused on a claimed control, with no capability, or with nothing to fall back on",
            {.displays = {{"a"}}},
            {rule(1, {.brightness = 0.3}),
                rule(2, {.brightness = 1.5, .hdr = true, .refreshRate = adaptive})},
            {"a.brightness = 30% · Rule 1", "#1 matches +a.brightness",
                "#2 matches (Brightness: Invalid value) (HDR: Control unavailable) (Refresh rate: "
                "Value unavailable in this display mode)",
                "a.brightness: Invalid value", "a.hdr: Control unavailable",
                "a.refreshRate: Value unavailable in this display mode"},
            {}, {{"a", {.brightness = 0.5}}}},
    });
}

// The resolver looks display and Space identifiers up in sorted tables, without copies.
TEST(RuleResolverTest, IdentifiersMatchExactlyAndRuleIdsKeepTheirLastEvaluation)
{
    const RuntimeContext both{.appBundleID = "app",
        .focusedDisplayID = second,
        .displays = {{first, "s1"}, {second, "s2"}}};
    // Ids alike but for the top bit of the byte that leads each half.
    const auto withByte = [](std::size_t index, std::uint8_t value) {
        UUID::Bytes bytes{};
        bytes[index] = value;
        return Rule{.id = UUID(bytes), .name = "Rule", .isEnabled = false};
    };
    expectPlans({
        {"a screen named by a prefix of a connected one is disconnected", both,
            {rule(1, thirty, {.screen = screen(first.substr(0, 35))}),
                rule(2, thirty, {.screen = screen(first)})},
            {"1.brightness = 30% · Rule 2", "#1 fails (Screen disconnected)",
                "#2 matches +1.brightness"}},
        {"a display listed twice claims once and refuses twice", {.displays = {{first}, {first}}},
            {rule(1, {.brightness = 1.5}), rule(2, thirty)},
            {"1.brightness = 30% · Rule 2",
                "#1 matches (Brightness: Invalid value) (Brightness: Invalid value)",
                "#2 matches +1.brightness"}},
        {"the focused screen of an app rule must be connected",
            {.appBundleID = "app", .focusedDisplayID = third, .displays = {{first}, {second}}},
            {rule(1, thirty, {.apps = {app("app")}})},
            {"#1 matches, needs window (Brightness: focused screen unavailable · allow window "
             "access)"}},
        {"a Space owned by a screen not connected shows nowhere unless shared", both,
            {rule(1, thirty, {.space = space(third)}),
                rule(2, thirty, {.space = space(third, true)})},
            {"1.brightness = 30% · Rule 2", "#1 fails (Space not active or unavailable)",
                "#2 matches +1.brightness"}},
        {"a display without an active Space shows none",
            {.displays = {{first, std::nullopt}, {second, "s1"}}},
            {rule(1, thirty, {.space = space({})})},
            {"2.brightness = 30% · Rule 1", "#1 matches +2.brightness"}},
        {"a disabled rule claims nothing; an id used three times keeps its last evaluation and its "
         "first claims",
            {.displays = {{first}, {second}}},
            {rule(9, thirty, {.screen = screen(first)}), rule(3, thirty),
                rule(9, {.brightness = 1.5}), {uuidNumber(9), "Twin", false}},
            {"1.brightness = 30% · Rule 9", "2.brightness = 30% · Rule 3",
                "#3 matches +2.brightness", "#9 fails (Disabled)", "1.brightness: Invalid value",
                "2.brightness: Invalid value"}},
        {"every bit of a rule id keeps its evaluation apart", {},
            {withByte(0, 0x80), withByte(8, 0x80), withByte(0, 0)},
            {"#0 fails (Disabled)", "#0 fails (Disabled)", "#0 fails (Disabled)"}},
    });
}

TEST(RuleResolverTest, EvaluationsFollowTheProfileRowByRowRepeatedIdsIncluded)
{
    const Profile profile{.id = uuidNumber(100),
        .name = "Work",
        .rules = {rule(5, thirty), rule(2, {.brightness = 1.5}), rule(5, {}),
            {uuidNumber(1), "Off", false}}};
    const ResolvedPlan plan
        = RuleResolver::resolve(profile, {}, {.displays = {{"a"}}}, capabilities, {}, now);
    ASSERT_EQ(plan.rules.size(), profile.rules.size());
    for (std::size_t row = 0; row < profile.rules.size(); ++row)
        EXPECT_EQ(plan.rules[row].id, profile.rules[row].id) << row;
    // The first rule 5 keeps its claim in its own row, but the later one answers for the id.
    EXPECT_EQ(plan.rules[0].evaluation.label(), "Active · 1 setting");
    EXPECT_EQ(plan.rules.find(uuidNumber(5))->label(), "Overridden by higher priority");
    EXPECT_EQ(plan.rules.find(uuidNumber(2))->label(), "Brightness: Invalid value");
    EXPECT_EQ(plan.rules.find(uuidNumber(1))->label(), "Disabled");

    const Profile empty{.id = uuidNumber(100), .name = "Empty"};
    EXPECT_EQ(RuleResolver::resolve(empty, {}, {.displays = {{"a"}}}, capabilities, {}, now),
        ResolvedPlan());
}

TEST(RuleResolverTest, APreviewStandsInForTheFirstRuleWithItsIdOnly)
{
    const RuntimeContext both{.displays = {{"a"}, {"b"}}};
    const Profile profile{.id = uuidNumber(100),
        .name = "Work",
        .rules = {rule(2, {.contrast = 0.4}), rule(5, thirty, {.screen = screen("a")}),
            rule(5, {.brightness = 0.8})}};
    const auto resolved = [&](const Profile& resolvedProfile) {
        return RuleResolver::resolve(resolvedProfile, {}, both, capabilities, {}, now);
    };
    const auto preview = [&](const Rule& standIn) {
        return RuleResolver::resolvePreview(profile, standIn, {}, both, capabilities, {}, now);
    };

    const Rule edited = rule(5, {.brightness = 0.6, .contrast = 0.9});
    Profile copy = profile;
    copy.rules.edit(1) = edited;
    const ResolvedPlan plan = preview(edited);
    EXPECT_EQ(plan, resolved(copy));
    EXPECT_EQ(linesOf(plan),
        (std::vector<std::string>{"a.brightness = 60% · Rule 5", "a.contrast = 40% · Rule 2",
            "b.brightness = 60% · Rule 5", "b.contrast = 40% · Rule 2",
            "#2 matches +a.contrast +b.contrast", "#5 matches"}));
    EXPECT_EQ(plan.rules[1].evaluation.label(), "Active · 2 settings");

    EXPECT_EQ(preview(rule(7, {.brightness = 0.1})), resolved(profile));
}

namespace {

/// A rule of any kind the resolver tells apart: claiming, refused, overridden, disabled, or failing
/// its application, screen or Space.
Rule anyRule(std::mt19937& random)
{
    const auto pick = [&](std::size_t count) { return random() % count; };
    RuleConditions conditions;
    if (pick(3) == 0)
        conditions.apps = {app(pick(2) == 0 ? "x" : "y")};
    if (pick(3) == 0)
        conditions.screen = screen(std::string(1, "abz"[pick(3)]));
    if (pick(5) == 0)
        conditions.space = space(pick(2) == 0 ? std::optional<std::string>("a") : std::nullopt);
    const std::optional<double> levels[] = {std::nullopt, 0.3, 0.6, 1.5};
    const std::optional<RefreshPreference> rates[] = {std::nullopt, sixtyHertz, adaptive};
    return {.id = UUID::random(),
        .name = "Rule",
        .isEnabled = pick(8) != 0,
        .conditions = std::move(conditions),
        .settings = {.brightness = levels[pick(4)],
            .refreshRate = rates[pick(3)],
            .contrast = levels[pick(4)]}};
}

} // namespace

// The model resolves with the memo of its last pass after every change; whatever changed, the
// plan must be the one resolving anew gives.
TEST(RuleResolverTest, AMemoOfTheLastResolutionNeverChangesThePlan)
{
    std::mt19937 random(7);
    const auto pick = [&](std::size_t count) { return random() % count; };
    const RuntimeContext contexts[] = {
        {.appBundleID = "x", .focusedDisplayID = "a", .displays = {{"a", "s1"}, {"b"}}},
        {.appBundleID = "y", .focusedDisplayID = "b", .displays = {{"a"}, {"b", "s1"}}},
    };
    const std::map<ControlKey, ManualHold> holdings[]
        = {{}, {{controlOf("a", brightness), {SettingValue::percent(0.7)}}}};
    const DefaultSettings defaults{.displays = {{"a", {.brightness = 0.5, .contrast = 0.5}}}};
    std::map<ControlKey, ControlCapability> known = capabilities;

    Profile profile{.id = uuidNumber(100), .name = "Work"};
    for (int count = 0; count < 300; ++count)
        profile.rules.push_back(anyRule(random));
    const RuntimeContext* context = &contexts[0];
    const std::map<ControlKey, ManualHold>* holds = &holdings[0];
    ResolutionMemo memo;
    for (int step = 0; step < 200; ++step) {
        const std::size_t size = profile.rules.size();
        const std::size_t at = size == 0 ? 0 : pick(size);
        std::string change;
        switch (pick(11)) {
        case 0:
            change = "toggle";
            profile.rules.edit(at).isEnabled = !profile.rules[at].isEnabled;
            break;
        case 1:
            change = "edit settings";
            profile.rules.edit(at).settings = anyRule(random).settings;
            break;
        case 2:
            change = "insert";
            profile.rules.insert(at, anyRule(random));
            break;
        case 3:
            change = "insert first";
            profile.rules.insert(0, anyRule(random));
            break;
        case 4:
            change = "delete";
            profile.rules.erase(at);
            break;
        case 5:
            change = "move";
            profile.rules.move(at, pick(size));
            break;
        case 6:
            change = "switch application";
            context = context == &contexts[0] ? &contexts[1] : &contexts[0];
            break;
        case 7:
            change = "hold or release";
            holds = holds == &holdings[0] ? &holdings[1] : &holdings[0];
            break;
        case 8:
            change = "capability";
            known[controlOf("b", contrast)].available = !known[controlOf("b", contrast)].available;
            break;
        case 9: {
            change = "capability's reason";
            std::string& reason = known[controlOf("b", contrast)].reason;
            reason = reason.empty() ? "Asleep" : "";
            break;
        }
        default:
            change = "nothing";
            break;
        }
        SCOPED_TRACE(testing::Message() << "step " << step << ": " << change << " at " << at);
        const ResolvedPlan plan
            = RuleResolver::resolve(profile, defaults, *context, known, *holds, now, memo);
        const ResolvedPlan anew
            = RuleResolver::resolve(profile, defaults, *context, known, *holds, now);
        ASSERT_EQ(linesOf(plan), linesOf(anew));
        ASSERT_EQ(plan, anew);
        std::vector<std::size_t> deciding;
        std::size_t index = 0;
        for (const auto& [id, evaluation] : plan.rules) {
            if (!evaluation.contributions.empty())
                deciding.push_back(index);
            ++index;
        }
        ASSERT_EQ(plan.rules.deciding(), deciding);
    }
}
