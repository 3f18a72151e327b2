#include "QuorvaneCore/SettingValue.h"

#include "Foundation/Format.h"
#include "Foundation/Overloaded.h"

#include <algorithm>
#include <cassert>
#include <cmath>

namespace quorvane {
namespace {

constexpr std::int64_t minimumKelvin = 2500;
constexpr std::int64_t maximumKelvin = 10000;
constexpr std::int64_t minimumMillihertz = 1;
constexpr std::int64_t maximumMillihertz = 1'000'000;

bool isValidFraction(double fraction)
{
    return std::isfinite(fraction) && fraction >= 0.0 && fraction <= 1.0;
}

bool isValidTemperature(const Temperature& temperature)
{
    const auto check = Overloaded{
        [](const Temperature::Neutral&) { return true; },
        [](const Temperature::Kelvin& kelvin) {
            return kelvin.value >= minimumKelvin && kelvin.value <= maximumKelvin;
        },
    };
    return std::visit(check, temperature.value);
}

bool isValidRefresh(const RefreshPreference& preference)
{
    const auto check = Overloaded{
        [](const RefreshPreference::Fixed& fixed) {
            return fixed.millihertz >= minimumMillihertz && fixed.millihertz <= maximumMillihertz;
        },
        [](const RefreshPreference::Adaptive&) { return true; },
    };
    return std::visit(check, preference.value);
}

std::string percentLabel(double fraction)
{
    const double rounded = std::round(fraction * 100.0); // halves away from zero
    // 2^63 is exactly representable; converting anything outside [-2^63, 2^63) is undefined.
    constexpr double integerLimit = 9223372036854775808.0;
    if (rounded >= -integerLimit && rounded < integerLimit)
        return formatInteger(static_cast<std::int64_t>(rounded)) + "%";
    return formatFixed(rounded, 0) + "%";
}

} // namespace

std::string_view rawValue(SettingKey key)
{
    switch (key) {
    case SettingKey::brightness:
        return "brightness";
    case SettingKey::hdr:
        return "hdr";
    case SettingKey::temperature:
        return "temperature";
    case SettingKey::refreshRate:
        return "refreshRate";
    case SettingKey::contrast:
        return "contrast";
    }
    assert(false && "every SettingKey has a raw value");
    return {};
}

std::string_view title(SettingKey key)
{
    switch (key) {
    case SettingKey::brightness:
        return "Brightness";
    case SettingKey::hdr:
        return "HDR";
    case SettingKey::temperature:
        return "Temperature";
    case SettingKey::refreshRate:
        return "Refresh rate";
    case SettingKey::contrast:
        return "Contrast";
    }
    assert(false && "every SettingKey has a title");
    return {};
}

bool isMode(SettingKey key) { return key == SettingKey::hdr || key == SettingKey::refreshRate; }

std::optional<SettingKey> settingKey(std::string_view raw)
{
    const auto found
        = std::ranges::find(allSettingKeys, raw, [](SettingKey key) { return rawValue(key); });
    if (found == allSettingKeys.end())
        return std::nullopt;
    return *found;
}

std::string Temperature::label() const
{
    const auto describe = Overloaded{
        [](const Neutral&) { return std::string("Neutral"); },
        [](const Kelvin& kelvin) { return formatInteger(kelvin.value) + " K"; },
    };
    return std::visit(describe, value);
}

std::string RefreshPreference::label() const
{
    const auto describe = Overloaded{
        [](const Adaptive&) { return std::string("Adaptive / ProMotion"); },
        [](const Fixed& fixed) {
            if (fixed.millihertz % 1000 == 0)
                return formatInteger(fixed.millihertz / 1000) + " Hz";
            return formatFixed(static_cast<double>(fixed.millihertz) / 1000.0, 2) + " Hz";
        },
    };
    return std::visit(describe, value);
}

bool SettingValue::isValid(SettingKey key) const
{
    const auto check = Overloaded{
        [key](const Percent& percent) {
            return (key == SettingKey::brightness || key == SettingKey::contrast)
                && isValidFraction(percent.value);
        },
        [key](const Toggle&) { return key == SettingKey::hdr; },
        [key](const TemperatureCase& temperature) {
            return key == SettingKey::temperature && isValidTemperature(temperature.value);
        },
        [key](const Refresh& refresh) {
            return key == SettingKey::refreshRate && isValidRefresh(refresh.value);
        },
    };
    return std::visit(check, value);
}

bool SettingValue::approximatelyEquals(const SettingValue& other, double tolerance) const
{
    const auto* percent = std::get_if<Percent>(&value);
    const auto* otherPercent = std::get_if<Percent>(&other.value);
    if (percent && otherPercent)
        return std::abs(percent->value - otherPercent->value) <= tolerance;
    return *this == other;
}

std::string SettingValue::label() const
{
    const auto describe = Overloaded{
        [](const Percent& percent) { return percentLabel(percent.value); },
        [](const Toggle& toggle) { return std::string(toggle.value ? "On" : "Off"); },
        [](const TemperatureCase& temperature) { return temperature.value.label(); },
        [](const Refresh& refresh) { return refresh.value.label(); },
    };
    return std::visit(describe, value);
}

} // namespace quorvane
