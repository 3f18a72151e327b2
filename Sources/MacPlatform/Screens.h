// Screens.h: the application kit's screen objects (NSScreen), read on the main executor only.
#pragma once

#include "MacPlatform/PlatformValue.h"

#include <cstdint>
#include <string>
#include <vector>

namespace quorvane {

/// What one NSScreen reports. Its display number is the "NSScreenNumber" entry of
/// `deviceDescription`, which may be missing or of another kind.
struct ScreenObject {
    PlatformDictionary deviceDescription;
    std::string localizedName;
    double minimumRefreshInterval = 1.0 / 60; ///< seconds between frames
    double maximumRefreshInterval = 1.0 / 60;
    double maximumPotentialExtendedDynamicRangeColorComponentValue = 1.0;
    std::int64_t maximumFramesPerSecond = 60;
};

/// Stands for NSScreen's class members.
class Screens {
public:
    virtual ~Screens() = default;

    /// NSScreen.screens, in the platform's order.
    [[nodiscard]] virtual std::vector<ScreenObject> screens() = 0;
    /// NSScreen.screensHaveSeparateSpaces.
    [[nodiscard]] virtual bool screensHaveSeparateSpaces() = 0;
};

} // namespace quorvane
