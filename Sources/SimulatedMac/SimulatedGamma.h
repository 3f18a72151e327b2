// SimulatedGamma.h: gamma-table events of the simulated Mac: tables another program writes, and
// a display that keeps something other than what was written to it.
#pragma once

#include "MacPlatform/CoreGraphics.h"
#include "SimulatedMac/SimulatedWorld.h"

#include <cstdint>
#include <string_view>

namespace quorvane {

/// Three equal identity ramps of `size` entries, as a display holds untouched.
[[nodiscard]] GammaTable identityGammaTable(std::uint32_t size);

/// Another program writes `table` to the display with that UUID (ignoring case), now; nothing
/// happens when the display is gone. Schedule it with SimulatedWorld::schedule for later.
void writeGammaFromAnotherProgram(SimulatedWorld& world, std::string_view uuid, GammaTable table);

/// From now on the display keeps every entry written to it raised by `offset`, so a readback
/// differs from the write.
void offsetWrittenGamma(SimulatedWorld& world, DisplayNumber display, float offset);

} // namespace quorvane
