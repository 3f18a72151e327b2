// The brightness keys: the step per press, the key's direction, and how presses become targets.
#pragma once

#include <array>
#include <cstdint>
#include <optional>

namespace quorvane {

/// The brightness change per key press, in percent; stored and coded as that integer.
enum class BrightnessKeyStep : std::int64_t {
    one = 1,
    two = 2,
    three = 3,
    five = 5,
    ten = 10,
};

inline constexpr std::array<BrightnessKeyStep, 5> allBrightnessKeySteps {BrightnessKeyStep::one,
    BrightnessKeyStep::two, BrightnessKeyStep::three, BrightnessKeyStep::five,
    BrightnessKeyStep::ten};

enum class BrightnessKeyDirection : std::int64_t {
    down = -1,
    up = 1,
};

[[nodiscard]] constexpr std::int64_t rawValue(BrightnessKeyStep step)
{
    return static_cast<std::int64_t>(step);
}

[[nodiscard]] constexpr std::int64_t rawValue(BrightnessKeyDirection direction)
{
    return static_cast<std::int64_t>(direction);
}

/// The step whose raw value is `raw`; absent for anything but 1, 2, 3, 5 and 10.
[[nodiscard]] std::optional<BrightnessKeyStep> brightnessKeyStep(std::int64_t raw);

/// The direction whose raw value is `raw`; absent for anything but -1 and 1.
[[nodiscard]] std::optional<BrightnessKeyDirection> brightnessKeyDirection(std::int64_t raw);

/// `brightness` moved by the step in `direction`, clamped to 0...1.
[[nodiscard]] double adjusting(
    BrightnessKeyStep step, double brightness, BrightnessKeyDirection direction);

} // namespace quorvane
