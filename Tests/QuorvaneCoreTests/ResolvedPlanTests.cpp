#include "ModelFixtures.h"
#include "QuorvaneCore/ResolvedPlan.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>

using namespace quorvane;
using namespace std::chrono_literals;

TEST(ControlKeyTest, DisplayIdentifiersCompareAsExactText)
{
    const std::hash<ControlKey> hash;
    EXPECT_NE(controlOf("A", SettingKey::brightness), controlOf("a", SettingKey::brightness));
    EXPECT_EQ(controlOf("A", SettingKey::brightness), controlOf("A", SettingKey::brightness));
    EXPECT_EQ(hash(controlOf("A", SettingKey::hdr)), hash(controlOf("A", SettingKey::hdr)));
    // Maps keyed by control list one display's settings together, in the settings' order.
    EXPECT_LT(controlOf("A", SettingKey::contrast), controlOf("B", SettingKey::brightness));
    EXPECT_LT(controlOf("A", SettingKey::brightness), controlOf("A", SettingKey::hdr));
}

TEST(RuntimeContextTest, DisplayOrderCounts)
{
    const DisplayContext first{.id = "A", .activeSpaceID = "s1"};
    const DisplayContext second{.id = "B"};
    EXPECT_NE((RuntimeContext{.displays = {first, second}}),
        (RuntimeContext{.displays = {second, first}}));
}

TEST(ControlCapabilityTest, RejectionChecksAvailabilityThenValidityThenChoices)
{
    const auto fixed = [](std::int64_t millihertz) {
        return SettingValue::refresh(RefreshPreference::fixed(millihertz));
    };
    const SettingValue adaptive = SettingValue::refresh(RefreshPreference::adaptive());
    const ControlCapability refreshChoices{.available = true, .choices = {fixed(60'000), adaptive}};
    struct Case {
        const char* name;
        ControlCapability capability;
        SettingValue value;
        SettingKey key;
        std::optional<std::string> rejection;
    };
    const Case cases[] = {
        {"unavailable without a reason", {}, SettingValue::percent(0.4), SettingKey::brightness,
            "Control unavailable"},
        {"unavailable with a reason, invalid value", {.reason = "Display disconnected"},
            SettingValue::percent(7), SettingKey::brightness, "Display disconnected"},
        {"any valid value", {.available = true}, SettingValue::percent(0.4), SettingKey::brightness,
            std::nullopt},
        {"out of range", {.available = true}, SettingValue::percent(1.2), SettingKey::brightness,
            "Invalid value"},
        {"one of the choices", refreshChoices, adaptive, SettingKey::refreshRate, std::nullopt},
        {"not one of the choices", refreshChoices, fixed(120'000), SettingKey::refreshRate,
            "Value unavailable in this display mode"},
        {"wrong case among choices", refreshChoices, SettingValue::toggle(true),
            SettingKey::refreshRate, "Invalid value"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(c.capability.rejection(c.value, c.key), c.rejection);
    }
}

TEST(ManualHoldTest, EndsExactlyAtItsExpiry)
{
    const Date expiry = Date{} + 1h;
    const ManualHold timed{.value = SettingValue::percent(0.3), .expiresAt = expiry};
    const ManualHold untilResume{.value = SettingValue::percent(0.3)};
    EXPECT_TRUE(timed.isActive(expiry - 1ns));
    EXPECT_FALSE(timed.isActive(expiry));
    EXPECT_TRUE(untilResume.isActive(Date::max()));
}

TEST(RuleEvaluationTest, LabelSaysWhatTheRuleDecidedOrWhyNot)
{
    const ControlKey key = controlOf("A", SettingKey::brightness);
    struct Case {
        RuleEvaluation evaluation;
        std::string_view label;
    };
    const Case cases[] = {
        {{.matches = true, .contributions = {key, key}}, "Active · 2 settings"},
        {{.matches = true, .contributions = {key}, .reasons = {"Invalid value"}},
            "Partial · 1 setting"},
        {{.matches = true, .contributions = {key, key, key}, .reasons = {"x"}},
            "Partial · 3 settings"},
        {{.matches = true, .reasons = {"Invalid value", "Control unavailable"}},
            "Invalid value; Control unavailable"},
        {{.matches = true}, "Overridden by higher priority"},
        {{}, "Not matching"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        EXPECT_EQ(c.evaluation.label(), c.label);
    }
}

TEST(ResolutionSourceTest, LabelsNameWhereTheValueCameFrom)
{
    EXPECT_EQ(ResolutionSource::rule(uuidNumber(1), "Evening").label(), "Evening");
    EXPECT_EQ(ResolutionSource::manual(false).label(), "Manual hold");
    EXPECT_EQ(ResolutionSource::manual(true).label(), "Changed outside QuorVane");
    EXPECT_EQ(ResolutionSource::profileDefault().label(), "Default");
    EXPECT_EQ(ResolutionSource::manualRecovery().label(), "Before manual adjustment");
}
