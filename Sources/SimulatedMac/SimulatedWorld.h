// SimulatedWorld.h: the state of the simulated Mac: its displays with their screens, modes and
// gamma tables, the system's facts, and the fault knobs tests switch on. Every slice of the
// simulation reads and changes this one world; events can be scheduled on the executor's clock.
#pragma once

#include "MacPlatform/CoreGraphics.h"
#include "MacPlatform/Screens.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quorvane {

class Executor;
struct SimulatedWorld;

/// Three channels of one transfer table.
struct GammaTable {
    std::vector<float> red;
    std::vector<float> green;
    std::vector<float> blue;
    bool operator==(const GammaTable&) const = default;
};

/// One display attached to the simulated Mac.
struct SimulatedDisplay {
    DisplayNumber number = 1;
    /// Absent for a display that reports no UUID. Kept in whatever case it is given.
    std::optional<std::string> uuid{};
    bool isBuiltIn = false;
    bool isMirrored = false;
    bool isOnline = true;
    bool isAsleep = false;
    Rect bounds{};
    /// Absent while no screen object matches the display (for example during reconfiguration).
    std::optional<ScreenObject> screen{};

    /// A mode at one pixel per point whose size a HiDPI mode also has is a low-resolution
    /// duplicate: the all-modes call lists it only when asked to.
    std::vector<GraphicsDisplayMode> modes{};
    /// The IO display mode identifier of the current mode; absent when there is none.
    std::optional<std::int32_t> currentModeID{};

    std::uint32_t gammaCapacity = 1024;
    GammaTable gamma{}; ///< the identity ramp when empty
    /// What the display keeps of a table written to it; the written table when unset.
    std::function<GammaTable(GammaTable)> gammaAsStored{};
    /// A sample count the table read reports in place of the true one.
    std::optional<std::uint32_t> reportedGammaSampleCount{};
};

/// Switches for the failures CoreGraphics can show.
struct GraphicsFaults {
    GraphicsStatus countCallStatus = 0; ///< the online-list call without a buffer
    GraphicsStatus listCallStatus = 0;  ///< the online-list call with a buffer
    /// Displays that vanish between the count call and the list call.
    std::uint32_t displaysLostBetweenCalls = 0;
    /// All-modes call answers nothing.
    bool allModesUnanswered = false;
    /// Runs once, right after the next list call that succeeds: a display that sleeps, unplugs or
    /// is renumbered between listing and the calls about each display.
    std::function<void(SimulatedWorld&)> afterListCall{};
    /// Takes over every mode switch that names an offered mode of an online display (see
    /// SimulatedModes.h); the plain switch when unset.
    std::function<GraphicsStatus(SimulatedWorld&, DisplayNumber, std::int32_t modeID)>
        switchMode{};
};

struct SimulatedWorld {
    explicit SimulatedWorld(Executor& executor)
        : executor(executor)
    {
    }

    Executor& executor;
    std::vector<SimulatedDisplay> displays;
    GraphicsFaults graphicsFaults;
    bool screensHaveSeparateSpaces = true;
    std::string operatingSystemVersionString = "Version 15.1 (Build 24B83)";
    std::int64_t operatingSystemMajorVersion = 15;

    /// The display with that number, or null.
    [[nodiscard]] SimulatedDisplay* display(DisplayNumber number);
    /// The display whose UUID equals `uuid` ignoring case, or null.
    [[nodiscard]] SimulatedDisplay* displayWithUUID(std::string_view uuid);

    /// Runs `event` on the world after `delay` on the executor's clock.
    void schedule(std::chrono::nanoseconds delay, std::function<void(SimulatedWorld&)> event);

    /// Platform events as the window server would show them.
    void sleep(DisplayNumber number);
    void wake(DisplayNumber number);
    void unplug(DisplayNumber number);
    /// The display reconnects under a new number; its screen follows.
    void renumber(DisplayNumber from, DisplayNumber to);

private:
    /// Scheduled events hold it weakly, so an event due after the world is gone does nothing.
    std::shared_ptr<int> m_lifetime = std::make_shared<int>(0);
};

/// The default world: a built-in display and one external monitor.
void addDefaultDisplays(SimulatedWorld& world);

} // namespace quorvane
