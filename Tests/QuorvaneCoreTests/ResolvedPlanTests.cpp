#include "ModelFixtures.h"
#include "QuorvaneCore/ResolvedPlan.h"

#include <gtest/gtest.h>

#include <chrono>

using namespace quorvane;
using namespace std::chrono_literals;

TEST(ControlCapabilityTest, RejectionChecksAvailabilityThenValidityThenChoices)
{
    const SettingValue adaptive = SettingValue::refresh(RefreshPreference::adaptive());
    const SettingValue sixtyHertz = SettingValue::refresh(RefreshPreference::fixed(60'000));
    const ControlCapability any{.available = true};
    const ControlCapability choices{.available = true, .choices = {sixtyHertz}};
    const SettingValue tooHigh = SettingValue::percent(7);
    EXPECT_EQ(ControlCapability{}.rejection(tooHigh, SettingKey::contrast), "Control unavailable");
    EXPECT_EQ(ControlCapability{.reason = "Gone"}.rejection(tooHigh, SettingKey::contrast), "Gone");
    EXPECT_EQ(any.rejection(tooHigh, SettingKey::contrast), "Invalid value");
    EXPECT_EQ(any.rejection(SettingValue::percent(1), SettingKey::contrast), std::nullopt);
    EXPECT_EQ(choices.rejection(tooHigh, SettingKey::refreshRate), "Invalid value");
    EXPECT_EQ(choices.rejection(adaptive, SettingKey::refreshRate),
        "Value unavailable in this display mode");
    EXPECT_EQ(choices.rejection(sixtyHertz, SettingKey::refreshRate), std::nullopt);
}

TEST(ManualHoldTest, EndsExactlyAtItsExpiry)
{
    const ManualHold timed{.value = SettingValue::percent(0.3), .expiresAt = Date{} + 1h};
    EXPECT_TRUE(timed.isActive(Date{} + 1h - 1ns));
    EXPECT_FALSE(timed.isActive(Date{} + 1h));
    EXPECT_TRUE(ManualHold{.value = SettingValue::percent(0.3)}.isActive(Date::max()));
}

TEST(ResolvedPlanTest, LabelsSayWhatARuleDecided)
{
    const ControlKey key = controlOf("A", SettingKey::brightness);
    const auto label = [](RuleEvaluation evaluation) { return evaluation.label(); };
    EXPECT_EQ(label({.matches = true, .contributions = {key, key}}), "Active · 2 settings");
    EXPECT_EQ(label({.contributions = {key}, .reasons = {"x"}}), "Partial · 1 setting");
    EXPECT_EQ(label({.reasons = {"Invalid value", "Gone"}}), "Invalid value; Gone");
    EXPECT_EQ(label({.matches = true}), "Overridden by higher priority");
    EXPECT_EQ(label({}), "Not matching");
}
