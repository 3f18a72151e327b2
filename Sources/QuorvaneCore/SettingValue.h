// The five display settings and one value of any of them: the single definition of their
// ranges, comparison and labels.
#pragma once

#include <array>
#include <concepts>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

namespace quorvane {

/// One display setting. The declaration order is the order in which every part of the system
/// walks the settings; allSettingKeys lists it.
enum class SettingKey {
    brightness,
    hdr,
    temperature,
    refreshRate,
    contrast,
};

inline constexpr std::array<SettingKey, 5> allSettingKeys{SettingKey::brightness, SettingKey::hdr,
    SettingKey::temperature, SettingKey::refreshRate, SettingKey::contrast};

/// The text the settings file codes the key as ("refreshRate").
[[nodiscard]] std::string_view rawValue(SettingKey key);
/// The key's name as the user sees it ("Refresh rate").
[[nodiscard]] std::string_view title(SettingKey key);
/// True for hdr and refreshRate: they change through display modes, never a plain control write.
[[nodiscard]] bool isMode(SettingKey key);
/// The key whose raw value is exactly `raw` (case-sensitive); absent for any other text.
[[nodiscard]] std::optional<SettingKey> settingKey(std::string_view raw);

/// A colour temperature: no change, or a white point in kelvin.
struct Temperature {
    struct Neutral {
        bool operator==(const Neutral&) const = default;
    };
    struct Kelvin {
        std::int64_t value;
        bool operator==(const Kelvin&) const = default;
    };
    static Temperature neutral() { return {Neutral{}}; }
    static Temperature kelvin(std::int64_t value) { return {Kelvin{value}}; }

    /// "Neutral", or the kelvin as a decimal integer followed by " K".
    [[nodiscard]] std::string label() const;
    bool operator==(const Temperature&) const = default;

    std::variant<Neutral, Kelvin> value;
};

/// A refresh rate a rule asks for, fixed or the display's variable mode.
struct RefreshPreference {
    struct Fixed {
        std::int64_t millihertz;
        bool operator==(const Fixed&) const = default;
    };
    struct Adaptive {
        bool operator==(const Adaptive&) const = default;
    };
    static RefreshPreference fixed(std::int64_t millihertz) { return {Fixed{millihertz}}; }
    static RefreshPreference adaptive() { return {Adaptive{}}; }

    /// "Adaptive / ProMotion"; "60 Hz" for whole hertz, else two decimals ("59.94 Hz").
    [[nodiscard]] std::string label() const;
    bool operator==(const RefreshPreference&) const = default;

    std::variant<Fixed, Adaptive> value;
};

/// One value of one setting. It carries no key: the key always travels beside it.
struct SettingValue {
    /// A fraction from 0 to 1, for brightness and contrast. Compared exactly.
    struct Percent {
        double value;
        bool operator==(const Percent&) const = default;
    };
    /// On or off, for HDR.
    struct Toggle {
        bool value;
        bool operator==(const Toggle&) const = default;
    };
    struct TemperatureCase {
        Temperature value;
        bool operator==(const TemperatureCase&) const = default;
    };
    struct Refresh {
        RefreshPreference value;
        bool operator==(const Refresh&) const = default;
    };

    static SettingValue percent(double fraction) { return {Percent{fraction}}; }
    // A bool would silently become 0.0 or 1.0: a toggle is not a percentage.
    template <std::same_as<bool> Bool> static SettingValue percent(Bool) = delete;
    static SettingValue toggle(bool isOn) { return {Toggle{isOn}}; }
    // Any number would silently become a bool: a percentage is not a toggle.
    template <typename Number>
    requires(!std::same_as<Number, bool>) static SettingValue toggle(Number) = delete;
    static SettingValue temperature(Temperature temperature)
    {
        return {TemperatureCase{temperature}};
    }
    static SettingValue refresh(RefreshPreference preference) { return {Refresh{preference}}; }

    /// True when this is the case `key` takes and its payload is in range: a finite percentage
    /// within 0...1, any toggle, neutral or 2500...10000 K, adaptive or 1...1,000,000 mHz.
    [[nodiscard]] bool isValid(SettingKey key) const;

    /// Percentages within `tolerance` (inclusive) of each other; every other case exactly.
    /// Values of different cases are never approximately equal.
    [[nodiscard]] bool approximatelyEquals(const SettingValue& other, double tolerance) const;

    /// The user-facing form: "13%" (halves away from zero), "On"/"Off", or the payload's label.
    /// A percentage too large for an integer shows all its digits; one that is not a number shows
    /// "nan%". Neither is ever valid, so the user never sees them.
    [[nodiscard]] std::string label() const;

    bool operator==(const SettingValue&) const = default;

    std::variant<Percent, Toggle, TemperatureCase, Refresh> value;
};

} // namespace quorvane
