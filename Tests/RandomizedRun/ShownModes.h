// The modes the simulated Mac's displays show, named and compared the way the model does.
#pragma once

#include "QuorvaneCore/DisplayResolution.h"

#include <optional>
#include <string>

namespace quorvane {

struct SimulatedDisplay;
struct SimulatedMonitorPanel;

/// The model's identifier of a world display: its UUID in lower case.
[[nodiscard]] std::string displayIDOf(const SimulatedDisplay& display);

/// The mode the display shows, as the hardware layer reads it back: its current mode's
/// resolution and rate, and the HDR preference of an external display. Absent without a mode.
[[nodiscard]] std::optional<ModeConfiguration> shownMode(
    const SimulatedDisplay& display, const SimulatedMonitorPanel& panel);

/// "2560 × 1440 · 60 Hz · HDR off".
[[nodiscard]] std::string describe(const ModeConfiguration& mode);

} // namespace quorvane
