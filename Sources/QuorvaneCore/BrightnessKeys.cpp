#include "QuorvaneCore/BrightnessKeys.h"

#include <algorithm>

namespace quorvane {

std::optional<BrightnessKeyStep> brightnessKeyStep(std::int64_t raw)
{
    const auto found = std::ranges::find(allBrightnessKeySteps, raw,
        [](BrightnessKeyStep step) { return rawValue(step); });
    if (found == allBrightnessKeySteps.end())
        return std::nullopt;
    return *found;
}

std::optional<BrightnessKeyDirection> brightnessKeyDirection(std::int64_t raw)
{
    if (raw == rawValue(BrightnessKeyDirection::down))
        return BrightnessKeyDirection::down;
    if (raw == rawValue(BrightnessKeyDirection::up))
        return BrightnessKeyDirection::up;
    return std::nullopt;
}

double adjusting(BrightnessKeyStep step, double brightness, BrightnessKeyDirection direction)
{
    const double change = static_cast<double>(rawValue(step)) / 100.0;
    const double moved
        = direction == BrightnessKeyDirection::up ? brightness + change : brightness - change;
    return std::clamp(moved, 0.0, 1.0);
}

} // namespace quorvane
