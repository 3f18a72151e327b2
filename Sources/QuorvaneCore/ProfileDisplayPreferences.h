// The macOS display preferences (True Tone, Dark Mode, Night Shift, automatic brightness): what a
// profile asks for, the controls themselves, and what the system reports about them.
#pragma once

#include "QuorvaneCore/DisplayResolution.h"

#include <compare>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

namespace quorvane {

/// One macOS display preference. Automatic brightness is one control per display; the other
/// three are system-wide. Ordered by case in declaration order, then by display identifier.
struct SystemDisplayControl {
    struct TrueTone {
        auto operator<=>(const TrueTone&) const = default;
    };
    struct DarkMode {
        auto operator<=>(const DarkMode&) const = default;
    };
    struct NightShift {
        auto operator<=>(const NightShift&) const = default;
    };
    struct AutomaticBrightness {
        std::string displayID;
        auto operator<=>(const AutomaticBrightness&) const = default;
    };
    static SystemDisplayControl trueTone() { return {TrueTone{}}; }
    static SystemDisplayControl darkMode() { return {DarkMode{}}; }
    static SystemDisplayControl nightShift() { return {NightShift{}}; }
    static SystemDisplayControl automaticBrightness(std::string displayID)
    {
        return {AutomaticBrightness{std::move(displayID)}};
    }

    /// "True Tone", "Dark Mode", "Night Shift" or "Automatically adjust brightness".
    [[nodiscard]] std::string_view title() const;

    auto operator<=>(const SystemDisplayControl&) const = default;

    std::variant<TrueTone, DarkMode, NightShift, AutomaticBrightness> value;
};

/// The display preferences and resolutions a profile sets; an absent field is left alone.
struct ProfileDisplayPreferences {
    std::optional<bool> trueTone{};
    std::optional<bool> darkMode{};
    std::optional<bool> nightShift{};
    /// One value for every display that has automatic brightness.
    std::optional<bool> automaticBrightness{};
    /// The resolution the profile asks for, by display identifier.
    std::optional<std::map<std::string, DisplayResolution>> resolutions{};

    /// The field that sets `control`; automaticBrightness for that control of any display.
    [[nodiscard]] std::optional<bool> value(const SystemDisplayControl& control) const;

    bool operator==(const ProfileDisplayPreferences&) const = default;
};

/// What the system reports about its display preferences at one moment.
struct SystemDisplaySnapshot {
    /// The state of every control that could be read.
    std::map<SystemDisplayControl, bool> values{};
    /// The reason per control that exists but cannot be read or set.
    std::map<SystemDisplayControl, std::string> unavailable{};
    bool operator==(const SystemDisplaySnapshot&) const = default;
};

} // namespace quorvane
