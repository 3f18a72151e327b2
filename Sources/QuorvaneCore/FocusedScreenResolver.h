// Which screen holds a window: the one it overlaps most, in global screen coordinates.
#pragma once

#include "QuorvaneCore/Rect.h"

#include <map>
#include <optional>
#include <string>

namespace quorvane {

struct FocusedScreenResolver final {
    FocusedScreenResolver() = delete; // Only a home for resolve().

    /// The identifier of the screen in `screens` (keyed by display identifier) that the window
    /// overlaps by the largest area. On a tie `previous` keeps its place when it is among the
    /// tied screens; otherwise the identifier first in text order wins. Absent when the window
    /// overlaps no screen by a positive area, touching along an edge included.
    [[nodiscard]] static std::optional<std::string> resolve(const Rect& window,
        const std::map<std::string, Rect>& screens, const std::optional<std::string>& previous);
};

} // namespace quorvane
