#include "QuorvaneCore/SettingValue.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <string>

using namespace quorvane;

namespace {

template <typename Argument>
concept acceptedAsPercent = requires(Argument argument)
{
    SettingValue::percent(argument);
};
template <typename Argument>
concept acceptedAsToggle = requires(Argument argument)
{
    SettingValue::toggle(argument);
};

static_assert(acceptedAsPercent<double> && acceptedAsPercent<int> && !acceptedAsPercent<bool>);
static_assert(acceptedAsToggle<bool> && !acceptedAsToggle<double> && !acceptedAsToggle<int>);

SettingValue percent(double fraction) { return SettingValue::percent(fraction); }

const SettingValue on = SettingValue::toggle(true);

SettingValue kelvin(std::int64_t value)
{
    return SettingValue::temperature(Temperature::kelvin(value));
}

SettingValue fixedRate(std::int64_t millihertz)
{
    return SettingValue::refresh(RefreshPreference::fixed(millihertz));
}

const SettingValue neutral = SettingValue::temperature(Temperature::neutral());
const SettingValue adaptive = SettingValue::refresh(RefreshPreference::adaptive());
constexpr double notANumber = std::numeric_limits<double>::quiet_NaN();
constexpr double infinity = std::numeric_limits<double>::infinity();

} // namespace

TEST(SettingKeyTest, RawValuesAreExactAndOrdered)
{
    std::string joinedRawValues;
    for (const SettingKey key : allSettingKeys)
        joinedRawValues += std::string(rawValue(key)) + " ";
    EXPECT_EQ(joinedRawValues, "brightness hdr temperature refreshRate contrast ");
    EXPECT_EQ(settingKey("refreshRate"), SettingKey::refreshRate);
    EXPECT_FALSE(settingKey("Brightness"));
    EXPECT_FALSE(settingKey("refresh_rate"));
    EXPECT_EQ(title(SettingKey::refreshRate), "Refresh rate");
    EXPECT_TRUE(isMode(SettingKey::hdr) && isMode(SettingKey::refreshRate));
    EXPECT_FALSE(isMode(SettingKey::brightness) || isMode(SettingKey::temperature)
        || isMode(SettingKey::contrast));
}

TEST(SettingValueTest, IsValidChecksTheCaseAndTheRange)
{
    struct Case {
        const char* name;
        SettingValue value;
        SettingKey key;
        bool isValid;
    };
    const Case cases[] = {
        {"0 %", percent(0), SettingKey::brightness, true},
        {"100 % contrast", percent(1), SettingKey::contrast, true},
        {"above 100 %", percent(1.0000001), SettingKey::brightness, false},
        {"below 0 %", percent(-0.0001), SettingKey::contrast, false},
        {"NaN", percent(notANumber), SettingKey::brightness, false},
        {"infinity", percent(infinity), SettingKey::brightness, false},
        {"percent for hdr", percent(0.5), SettingKey::hdr, false},
        {"percent for refresh rate", percent(0.5), SettingKey::refreshRate, false},
        {"toggle for hdr", SettingValue::toggle(false), SettingKey::hdr, true},
        {"toggle for brightness", on, SettingKey::brightness, false},
        {"2499 K", kelvin(2499), SettingKey::temperature, false},
        {"2500 K", kelvin(2500), SettingKey::temperature, true},
        {"10000 K", kelvin(10000), SettingKey::temperature, true},
        {"10001 K", kelvin(10001), SettingKey::temperature, false},
        {"neutral", neutral, SettingKey::temperature, true},
        {"0 mHz", fixedRate(0), SettingKey::refreshRate, false},
        {"1 mHz", fixedRate(1), SettingKey::refreshRate, true},
        {"1000000 mHz", fixedRate(1'000'000), SettingKey::refreshRate, true},
        {"1000001 mHz", fixedRate(1'000'001), SettingKey::refreshRate, false},
        {"adaptive", adaptive, SettingKey::refreshRate, true},
        {"adaptive for temperature", adaptive, SettingKey::temperature, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(c.value.isValid(c.key), c.isValid);
    }
}

TEST(SettingValueTest, ApproximatelyEqualsLoosensOnlyPercentages)
{
    struct Case {
        const char* name;
        SettingValue first;
        SettingValue second;
        double tolerance;
        bool isApproximatelyEqual;
    };
    const Case cases[] = {
        {"difference equal to the tolerance", percent(0.5), percent(0.5625), 0.0625, true},
        {"difference beyond the tolerance", percent(0.5), percent(0.5625), 0.0624, false},
        {"toggle against 100 %", on, percent(1), 1.0, false},
        {"kelvin against neutral", kelvin(6500), neutral, 1e9, false},
        {"nearby kelvin", kelvin(6500), kelvin(6501), 1e9, false},
        {"equal fixed rates", fixedRate(60'000), fixedRate(60'000), 0.0, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(c.first.approximatelyEquals(c.second, c.tolerance), c.isApproximatelyEqual);
    }
}

TEST(SettingValueTest, LabelsRoundHalvesAwayFromZeroAndSurviveAnyNumber)
{
    struct Case {
        SettingValue value;
        std::string_view label;
    };
    const Case cases[] = {
        {percent(0.125), "13%"},
        {percent(0.005), "1%"},
        {percent(-0.005), "-1%"},
        {percent(0.5), "50%"},
        {percent(0), "0%"},
        {percent(-0.0), "0%"},
        {percent(1), "100%"},
        {percent(1e17), "10000000000000000000%"},
        {percent(notANumber), "nan%"},
        {percent(-infinity), "-inf%"},
        {on, "On"},
        {SettingValue::toggle(false), "Off"},
        {kelvin(2500), "2500 K"},
        {neutral, "Neutral"},
        {fixedRate(60'000), "60 Hz"},
        {fixedRate(59'940), "59.94 Hz"},
        {fixedRate(47'952), "47.95 Hz"},
        {fixedRate(1), "0.00 Hz"},
        {adaptive, "Adaptive / ProMotion"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        EXPECT_EQ(c.value.label(), c.label);
    }
}

TEST(SettingValueTest, NegativeZeroEqualsZeroAndHashesAlike)
{
    const std::hash<SettingValue> hash;
    EXPECT_EQ(percent(0.0), percent(-0.0));
    EXPECT_EQ(hash(percent(0.0)), hash(percent(-0.0)));
    EXPECT_NE(percent(0.5), percent(std::nextafter(0.5, 1.0)));
    EXPECT_NE(kelvin(6500), neutral);
    EXPECT_NE(SettingValue::toggle(false), percent(0));
}
