// CoreGraphics.h: the display calls of the window server's graphics framework that the platform
// layer makes: the online display list, display state, UUIDs, modes and gamma tables.
#pragma once

#include "QuorvaneCore/Rect.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace quorvane {

/// A CoreGraphics display number (CGDirectDisplayID). It may change when a display reconnects.
using DisplayNumber = std::uint32_t;
/// A CoreGraphics result code (CGError): 0 is success.
using GraphicsStatus = std::int32_t;

/// One display mode as the mode getters report it (CGDisplayModeRef and its accessors).
struct GraphicsDisplayMode {
    std::int64_t width = 0; ///< points
    std::int64_t height = 0;
    std::int64_t pixelWidth = 0;
    std::int64_t pixelHeight = 0;
    std::int32_t ioDisplayModeID = 0;
    double refreshRate = 0; ///< hertz; 0 when the mode does not say
    bool isUsableForDesktopGUI = true;
    bool operator==(const GraphicsDisplayMode&) const = default;
};

/// Stands for the CoreGraphics display functions. Every call is synchronous.
class CoreGraphics {
public:
    virtual ~CoreGraphics() = default;

    /// CGGetOnlineDisplayList. With `displays` null, only stores the number of online displays in
    /// `count`; otherwise fills up to `capacity` entries and stores how many it filled. A
    /// non-zero result is a failure.
    virtual GraphicsStatus onlineDisplayList(
        std::uint32_t capacity, DisplayNumber* displays, std::uint32_t* count)
        = 0;

    /// CGDisplayIsActive: drawable (not asleep, not a hardware-mirroring copy).
    [[nodiscard]] virtual bool isActive(DisplayNumber display) = 0;
    /// CGDisplayIsOnline.
    [[nodiscard]] virtual bool isOnline(DisplayNumber display) = 0;
    /// CGDisplayIsBuiltin.
    [[nodiscard]] virtual bool isBuiltin(DisplayNumber display) = 0;
    /// CGDisplayIsInMirrorSet.
    [[nodiscard]] virtual bool isInMirrorSet(DisplayNumber display) = 0;
    /// CGDisplayBounds, in global display coordinates (points).
    [[nodiscard]] virtual Rect bounds(DisplayNumber display) = 0;
    /// CGDisplayCreateUUIDFromDisplayID then CFUUIDCreateString: the UUID text in the platform's
    /// own letter case; absent when the display has no UUID.
    [[nodiscard]] virtual std::optional<std::string> uuidText(DisplayNumber display) = 0;

    /// CGDisplayCopyDisplayMode: the current mode; absent when there is none.
    [[nodiscard]] virtual std::optional<GraphicsDisplayMode> currentMode(DisplayNumber display) = 0;
    /// CGDisplayCopyAllDisplayModes with kCGDisplayShowDuplicateLowResolutionModes set as given;
    /// absent when the call gives no list.
    [[nodiscard]] virtual std::optional<std::vector<GraphicsDisplayMode>> allModes(
        DisplayNumber display, bool includeLowResolutionDuplicates)
        = 0;
    /// CGDisplaySetDisplayMode with no options; the mode is named by its IO display mode
    /// identifier. A non-zero result is a failure.
    virtual GraphicsStatus setDisplayMode(DisplayNumber display, const GraphicsDisplayMode& mode) = 0;

    /// CGDisplayGammaTableCapacity: the number of entries a transfer table may have.
    [[nodiscard]] virtual std::uint32_t gammaTableCapacity(DisplayNumber display) = 0;
    /// CGGetDisplayTransferByTable: fills up to `capacity` entries of each channel and stores
    /// the number of entries in `sampleCount`. A non-zero result is a failure.
    virtual GraphicsStatus transferTable(DisplayNumber display, std::uint32_t capacity, float* red,
        float* green, float* blue, std::uint32_t* sampleCount)
        = 0;
    /// CGSetDisplayTransferByTable with `size` entries per channel. A non-zero result is a
    /// failure.
    virtual GraphicsStatus setTransferTable(DisplayNumber display, std::uint32_t size,
        const float* red, const float* green, const float* blue)
        = 0;
};

} // namespace quorvane
