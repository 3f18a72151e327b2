// SimulatedDisplayServices.h: the brightness functions of the private DisplayServices framework
// on the simulated Mac: a panel brightness per display, with statuses and readings tests set.
#pragma once

#include "Concurrency/Executor.h"
#include "MacPlatform/CoreGraphics.h"

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace quorvane {

class SimulatedMac;

inline constexpr const char* displayServicesImagePath
    = "/System/Library/PrivateFrameworks/DisplayServices.framework/DisplayServices";

/// The panels behind "DisplayServicesGetBrightness" and "DisplayServicesSetBrightness". Calls
/// find their display in the world by number at call time, so a renumbered panel keeps its level.
struct SimulatedDisplayServices {
    /// A display without a panel level, or one that is offline or asleep.
    static constexpr std::int32_t unsupportedStatus = -536870201;

    struct Call {
        ContinuousClock::time_point time;
        DisplayNumber display;
        /// The value set; absent for a read.
        std::optional<float> value;
        bool operator==(const Call&) const = default;
    };

    /// Panel level by the display's UUID in lower case; only these displays dim natively.
    std::map<std::string, float> brightness;
    /// Returned by every read (or write) instead of success while non-zero.
    std::int32_t readStatus = 0;
    std::int32_t writeStatus = 0;
    /// What reads report in place of the panel's level (a value out of range, NaN).
    std::optional<float> reportedBrightness;
    /// The latest reads and writes (see logCall()).
    std::vector<Call> calls;
};

/// Defines the two brightness functions in DisplayServices' image (the image's other symbols
/// stay), with no panels yet. The returned state is shared with the functions.
std::shared_ptr<SimulatedDisplayServices> installDisplayServices(SimulatedMac& mac);

/// installDisplayServices() with every built-in display of the world at 75 %: in the default
/// world the built-in display (number 1) dims natively and the external one (number 2) does not.
std::shared_ptr<SimulatedDisplayServices> installDisplayServicesDefaults(SimulatedMac& mac);

} // namespace quorvane
