// SoftwareColorState.h: software contrast and warmth of one display, made by replacing its gamma
// transfer tables, and the platform calls that read and write those tables.
#pragma once

#include "MacPlatform/CoreGraphics.h"
#include "QuorvaneCore/SettingValue.h"

#include <optional>
#include <vector>

namespace quorvane {

/// Output levels (0...1) for evenly spaced input levels from black to white.
using GammaChannel = std::vector<float>;
/// Channel tables, red, green and blue in that order.
using GammaTableSet = std::vector<GammaChannel>;

/// The tables found on a display (the baseline), those the system last applied, and the warmth
/// and contrast they encode. A plain value without equality of its own: tables compare through
/// tablesEqual().
struct SoftwareColorState {
    GammaTableSet baseline;
    /// Absent while the baseline is in force.
    std::optional<GammaTableSet> applied;
    Temperature temperature = Temperature::neutral();
    /// 0...1; 0.5 leaves the tables' shape alone.
    double contrast = 0.5;

    /// The tables that realise `temperature` and `contrast` on top of `baseline`: per-channel
    /// warmth gains and an S-shaped remap for contrast. Channels beyond blue are dropped. A
    /// contrast that is not a number counts as 0.5.
    [[nodiscard]] GammaTableSet transformed() const;

    /// The readback comparison: the same number of channels, each of the same length, and every
    /// pair of entries less than 0.003 apart (an entry that is not a number never matches).
    [[nodiscard]] static bool tablesEqual(const GammaTableSet& a, const GammaTableSet& b);
};

/// A display reporting a larger gamma capacity is treated as having no tables.
inline constexpr std::uint32_t maximumGammaCapacity = 16384;

/// The display's red, green and blue tables, as many entries as it reports. Throws
/// DisplayError: "Color transfer tables unavailable" when its capacity is 0 or above 16384,
/// "Color transfer table read failed" when the call fails or reports no samples, or more than
/// the capacity it was given.
[[nodiscard]] GammaTableSet readGamma(CoreGraphics& graphics, DisplayNumber display);

/// Writes three channels of the length of the first. Throws DisplayError "Color transfer tables
/// unavailable", before any call, unless `tables` are exactly three channels of one length, and
/// DisplayError::operation("color transform", status) when the call fails.
void writeGamma(CoreGraphics& graphics, const GammaTableSet& tables, DisplayNumber display);

} // namespace quorvane
