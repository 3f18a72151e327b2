// SimulatedAmbientLight.h: DisplayServices' ambient-light compensation (automatic brightness) in
// the simulated Mac. Only these three functions are defined here; the same image's brightness
// functions come from the native-brightness slice.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace quorvane {

class SimulatedMac;

struct SimulatedAmbientLight {
    static constexpr const char* imagePath
        = "/System/Library/PrivateFrameworks/DisplayServices.framework/DisplayServices";

    /// A panel with an ambient-light sensor behind it.
    struct Panel {
        bool isEnabled = false;
        /// Returned by the enabled query; non-zero leaves the answer untouched.
        std::int32_t readStatus = 0;
        /// Returned by the enable call; non-zero changes nothing.
        std::int32_t writeStatus = 0;
    };

    /// By lower-case display UUID; displays not listed have no compensation. The functions find
    /// the display by its current number in the world, so renumbering keeps the panel.
    std::map<std::string, Panel> panels;
    /// The latest calls (see logCall()), as the function's name and the display number, then " on" or " off" for the
    /// enable call.
    std::vector<std::string> calls;
};

/// Defines DisplayServicesHasAmbientLightCompensation,
/// DisplayServicesAmbientLightCompensationEnabled and DisplayServicesEnableAmbientLightCompensation
/// over `initial`.
std::shared_ptr<SimulatedAmbientLight> installAmbientLight(
    SimulatedMac& mac, SimulatedAmbientLight initial = {});
/// Compensation on for every built-in display of the world as it is now (the default world's
/// display 1); none for external monitors.
std::shared_ptr<SimulatedAmbientLight> installAmbientLightDefaults(SimulatedMac& mac);

} // namespace quorvane
