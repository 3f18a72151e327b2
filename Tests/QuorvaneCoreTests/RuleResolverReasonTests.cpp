// Which reason the resolver keeps for a control when more than one wanted value is refused.
#include "ModelFixtures.h"
#include "QuorvaneCore/RuleResolver.h"

#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace quorvane {
namespace {

using namespace std::chrono_literals;

const Date now = Date{} + 1000h;
const ControlKey refresh = controlOf("a", SettingKey::refreshRate);
// Only 60 Hz is offered: 120 Hz is unavailable in the mode, and 0 Hz is no refresh rate at all.
const std::map<ControlKey, ControlCapability> capabilities{{refresh,
    {.available = true, .choices = {SettingValue::refresh(RefreshPreference::fixed(60'000))}}}};
constexpr std::string_view notInMode = "Value unavailable in this display mode";
constexpr std::string_view invalid = "Invalid value";

Rule refreshRule(std::uint8_t number, std::int64_t millihertz)
{
    return {.id = uuidNumber(number),
        .name = "Rule",
        .settings = {.refreshRate = RefreshPreference::fixed(millihertz)}};
}

TEST(RuleResolverReasonTest, TheLatestRefusalIsTheControlsReasonUntilSomethingAssignsIt)
{
    struct Case {
        const char* what;
        std::vector<Rule> rules;
        std::optional<std::int64_t> defaultMillihertz;
        bool held;
        std::optional<std::string_view> reason;
        bool assigned;
    };
    const Case cases[] = {
        {"mode, then invalid", {refreshRule(1, 120'000), refreshRule(2, 0)}, {}, false, invalid,
            false},
        {"invalid, then mode", {refreshRule(1, 0), refreshRule(2, 120'000)}, {}, false, notInMode,
            false},
        {"held: refused rules still leave their reason",
            {refreshRule(1, 120'000), refreshRule(2, 0)}, {}, true, invalid, true},
        {"a later rule assigns it", {refreshRule(1, 0), refreshRule(2, 60'000)}, {}, false,
            std::nullopt, true},
        {"the Default is refused last", {refreshRule(1, 0)}, 120'000, false, notInMode, false},
        {"the Default assigns it", {refreshRule(1, 120'000)}, 60'000, false, std::nullopt, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const Profile profile{.id = uuidNumber(100), .name = "Work", .rules = c.rules};
        DefaultSettings defaults;
        if (c.defaultMillihertz)
            defaults.displays["a"].refreshRate = RefreshPreference::fixed(*c.defaultMillihertz);
        std::map<ControlKey, ManualHold> holds;
        if (c.held)
            holds[refresh]
                = ManualHold{.value = SettingValue::refresh(RefreshPreference::fixed(60'000))};

        const ResolvedPlan plan = RuleResolver::resolve(
            profile, defaults, {.displays = {{.id = "a"}}}, capabilities, holds, now);

        const auto reason = plan.unavailable.find(refresh);
        EXPECT_EQ(reason == plan.unavailable.end() ? std::nullopt : std::optional(reason->second),
            c.reason);
        EXPECT_EQ(plan.assignments.contains(refresh), c.assigned);
    }
}

} // namespace
} // namespace quorvane
