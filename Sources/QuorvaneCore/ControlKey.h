// One setting of one display: the key of every per-control map.
#pragma once

#include "QuorvaneCore/SettingValue.h"

#include <compare>
#include <functional>
#include <string>
#include <variant>

namespace quorvane {

/// The device a control belongs to. Displays are the only kind so far.
struct ControlTarget {
    struct Display {
        /// The display identifier, compared as exact text.
        std::string id;
        auto operator<=>(const Display&) const = default;
    };
    static ControlTarget display(std::string id) { return {Display{std::move(id)}}; }

    /// The identifier of the target's device.
    [[nodiscard]] const std::string& id() const;

    auto operator<=>(const ControlTarget&) const = default;

    std::variant<Display> value;
};

/// Ordered by display identifier, then by setting in allSettingKeys order, so that maps keyed by
/// it list one display's controls together.
struct ControlKey {
    ControlTarget target;
    SettingKey setting;
    auto operator<=>(const ControlKey&) const = default;
};

} // namespace quorvane

template <> struct std::hash<quorvane::ControlTarget> {
    std::size_t operator()(const quorvane::ControlTarget& target) const noexcept;
};

template <> struct std::hash<quorvane::ControlKey> {
    std::size_t operator()(const quorvane::ControlKey& key) const noexcept;
};
