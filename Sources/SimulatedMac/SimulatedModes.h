// SimulatedModes.h: display-mode switches on the simulated Mac that go wrong the ways real ones
// do (refused, landing on another mode, taking effect late, reconnecting the display under a new
// number), and the user picking another mode in System Settings.
#pragma once

#include "Concurrency/Executor.h"
#include "MacPlatform/CoreGraphics.h"

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quorvane {

class SimulatedMac;
struct SimulatedWorld;

/// How the window server carries out mode switches. Switches find their display in the world at
/// call time and again when they take effect, by UUID, so a display renumbered meanwhile still
/// gets its mode. A display's switches take effect in the order they were asked for, whatever
/// their delays: a later one never lands before an earlier one.
struct SimulatedModeSwitching {
    struct Call {
        ContinuousClock::time_point time;
        DisplayNumber display;
        std::int32_t modeID;
        bool operator==(const Call&) const = default;
    };

    /// Returned by every switch while non-zero; nothing changes then.
    GraphicsStatus status = 0;
    /// A requested IO mode identifier the display ends up in another mode for.
    std::map<std::int32_t, std::int32_t> landsOn;
    /// How long after the call the display shows the new mode.
    std::chrono::nanoseconds delay{0};
    /// The display reconnects under this number once the mode took effect.
    std::optional<DisplayNumber> renumbersTo;
    /// The latest switches asked for (see logCall()), refused ones included.
    std::vector<Call> calls;
    /// By display UUID as the world names it: when its last switch asked for takes effect.
    std::map<std::string, ContinuousClock::time_point> landings;

    /// Whether a switch asked for on the display with that UUID has yet to take effect.
    [[nodiscard]] bool isSwitching(const std::string& uuid, ContinuousClock::time_point now) const;
};

/// Routes the world's mode switches through the returned state, which the world's hook keeps
/// alive.
std::shared_ptr<SimulatedModeSwitching> installModeSwitching(SimulatedMac& mac);

/// The user picks the mode with that IO identifier for the display with that UUID (ignoring
/// case); nothing happens when the display is gone. Schedule it with SimulatedWorld::schedule.
void changeModeByUser(SimulatedWorld& world, std::string_view uuid, std::int32_t modeID);

} // namespace quorvane
