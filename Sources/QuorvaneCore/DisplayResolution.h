// Display modes: a mode request, a mode the user confirmed, a resolution in points and pixels,
// and one mode a display offers.
#pragma once

#include "QuorvaneCore/SettingValue.h"

#include <cstdint>
#include <optional>
#include <string>

namespace quorvane {

/// A resolution as the user sees it (points) and as the panel draws it (pixels).
struct DisplayResolution {
    std::int64_t width;
    std::int64_t height;
    std::int64_t pixelWidth;
    std::int64_t pixelHeight;

    /// Every size within 1...65536, and no axis with fewer pixels than points.
    [[nodiscard]] bool isValid() const;
    /// Either axis has more pixels than points.
    [[nodiscard]] bool isHiDPI() const;
    /// "1920 × 1080", or "1512 × 982 · HiDPI".
    [[nodiscard]] std::string label() const;
    /// "3024 × 1964 pixels".
    [[nodiscard]] std::string pixelLabel() const;

    bool operator==(const DisplayResolution&) const = default;
};

/// A display-mode request; an absent part is left open and completed from the display's current
/// mode before it is applied.
struct ModeConfiguration {
    std::optional<RefreshPreference> refreshRate{};
    std::optional<bool> hdr{};
    std::optional<DisplayResolution> resolution{};
    bool operator==(const ModeConfiguration&) const = default;
};

/// A mode the user confirmed on one display. The confirmation counts only while the environment
/// (system version and connection) is the same, so it lapses when either changes.
struct VerifiedModeConfiguration {
    std::string displayID;
    /// "display-mode-v2|", the system version, "|" and the connection; compared as whole text.
    std::string environment;
    ModeConfiguration mode;
    bool operator==(const VerifiedModeConfiguration&) const = default;
};

/// One mode a display offers.
struct DisplayModeChoice {
    DisplayResolution resolution;
    std::optional<RefreshPreference> refreshRate{};
    bool operator==(const DisplayModeChoice&) const = default;
};

} // namespace quorvane
