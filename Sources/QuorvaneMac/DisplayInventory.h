// DisplayInventory.h: the connected, awake displays as plain values, in a fixed order. Every
// hardware access of the platform layer starts from one of these.
#pragma once

#include "MacPlatform/CoreGraphics.h"
#include "QuorvaneCore/Rect.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace quorvane {

struct DisplayReference; // QuorvaneCore/Rules.h; include it to call reference()
struct Platform;
class CoreGraphics;

/// One online display at the time of a snapshot.
struct DisplayDevice {
    /// The display's UUID text in lower case: stable across reconnections, the key of all
    /// per-display state.
    std::string id{};
    /// The display number at snapshot time; it may change when the display reconnects, so
    /// hardware code looks it up again before use.
    DisplayNumber runtimeID = 0;
    /// The screen's localized name, or "Display " and the display number without a screen.
    std::string name{};
    bool isBuiltIn = false;
    /// Takes part in mirroring, as source or as copy.
    bool isMirrored = false;
    /// Frame in global display coordinates, in points.
    Rect bounds{};
    bool hasExtendedRange = false;
    std::int64_t maximumFramesPerSecond = 60;
    /// The IO display-mode identifier of the mode current at snapshot time, for a display with
    /// variable refresh; absent otherwise.
    std::optional<std::int32_t> adaptiveModeID = std::nullopt;

    /// This display as rules and settings record a screen: its id and name.
    [[nodiscard]] DisplayReference reference() const;
    /// The reason text of the built-in display's HDR capability.
    [[nodiscard]] std::string builtInHDRDescription() const;

    bool operator==(const DisplayDevice&) const = default;
};

/// Holds the one operation; never instantiated.
class DisplayInventory final {
public:
    DisplayInventory() = delete;

    /// The online, awake displays: built-in ones first, then by name, then by id. Displays that
    /// share a UUID with another online display are left out, so an id never names two
    /// displays. Never throws for platform failures: a failed query yields fewer displays or
    /// none. Reads screen objects, so call it on the main executor only.
    [[nodiscard]] static std::vector<DisplayDevice> snapshot(Platform& platform);
};

/// The online display numbers in the platform's order, asked for as count then list; empty when
/// either call fails or none is online.
[[nodiscard]] std::vector<std::uint32_t> onlineDisplayNumbers(CoreGraphics& graphics);

} // namespace quorvane
