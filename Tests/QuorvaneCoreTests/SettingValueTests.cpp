#include "QuorvaneCore/SettingValue.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <tuple>

using namespace quorvane;

namespace {

SettingValue percent(double fraction) { return SettingValue::percent(fraction); }
SettingValue kelvin(int value) { return SettingValue::temperature(Temperature::kelvin(value)); }
SettingValue rate(int milli) { return SettingValue::refresh(RefreshPreference::fixed(milli)); }
const SettingValue on = SettingValue::toggle(true);
const SettingValue neutral = SettingValue::temperature(Temperature::neutral());
const SettingValue adaptive = SettingValue::refresh(RefreshPreference::adaptive());

} // namespace

TEST(SettingKeyTest, ParsesOnlyExactRawValues)
{
    EXPECT_EQ(settingKey("refreshRate"), SettingKey::refreshRate);
    EXPECT_FALSE(settingKey("Brightness"));
}

TEST(SettingValueTest, IsValidChecksTheCaseAndBothSidesOfEachBound)
{
    // An invalid value, a valid one just inside the bound it crosses, and the key.
    const std::tuple<SettingValue, SettingValue, SettingKey> cases[] = {
        {percent(-0.0001), percent(0), SettingKey::contrast},
        {percent(1.0000001), percent(1), SettingKey::brightness},
        {percent(std::nan("")), percent(0.5), SettingKey::brightness},
        {kelvin(2499), kelvin(2500), SettingKey::temperature},
        {kelvin(10001), kelvin(10000), SettingKey::temperature},
        {rate(0), rate(1), SettingKey::refreshRate},
        {rate(1'000'001), rate(1'000'000), SettingKey::refreshRate},
        // Each key takes one case only.
        {percent(0.5), SettingValue::toggle(false), SettingKey::hdr},
        {on, percent(0.5), SettingKey::brightness},
        {adaptive, neutral, SettingKey::temperature},
        {kelvin(5000), adaptive, SettingKey::refreshRate},
    };
    for (const auto& [invalid, valid, key] : cases) {
        SCOPED_TRACE(invalid.label() + " against " + valid.label());
        EXPECT_FALSE(invalid.isValid(key));
        EXPECT_TRUE(valid.isValid(key));
    }
}

TEST(SettingValueTest, ApproximatelyEqualsLoosensOnlyPercentagesAndIncludesTheTolerance)
{
    EXPECT_TRUE(percent(0.5).approximatelyEquals(percent(0.5625), 0.0625));
    EXPECT_FALSE(percent(0.5).approximatelyEquals(percent(0.5625), 0.0624));
    EXPECT_FALSE(on.approximatelyEquals(percent(1), 1.0));
    EXPECT_FALSE(kelvin(6500).approximatelyEquals(kelvin(6501), 1e9));
    EXPECT_TRUE(rate(60'000).approximatelyEquals(rate(60'000), 0.0));
}

TEST(SettingValueTest, LabelsRoundHalvesAwayFromZeroAndSurviveAnyNumber)
{
    struct Case {
        SettingValue value;
        std::string_view label;
    };
    const Case cases[] = {
        {percent(0.125), "13%"},
        {percent(-0.005), "-1%"},
        {percent(1e17), "10000000000000000000%"},
        {percent(std::nan("")), "nan%"},
        {kelvin(2500), "2500 K"},
        {rate(60'000), "60 Hz"},
        {rate(59'940), "59.94 Hz"},
        {rate(1), "0.00 Hz"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        EXPECT_EQ(c.value.label(), c.label);
    }
}
