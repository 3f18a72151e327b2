// SimulatedCoreBrightness.h: CoreBrightness's True Tone and Night Shift clients in the simulated
// Mac's object runtime, with the methods' type encodings and both blue-light status layouts.
#pragma once

#include <memory>
#include <string>
#include <vector>

namespace quorvane {

class SimulatedMac;

/// The state behind the two client classes. Tests change it through the pointer the installer
/// returns, and change shapes or remove methods in `mac.objects` directly.
struct SimulatedCoreBrightness {
    static constexpr const char* imagePath
        = "/System/Library/PrivateFrameworks/CoreBrightness.framework/CoreBrightness";

    struct TrueTone {
        bool supported = true;
        bool available = true;
        bool enabled = false;
        /// setEnabled: answers false, and changes nothing, while this is false.
        bool acceptsChanges = true;
    };
    /// The blue-light status structure with its trailing availability flag (long) or without.
    enum class StatusLayout { longLayout, shortLayout };
    struct NightShift {
        bool supported = true;
        bool enabled = false;
        /// Fixed when the class is installed, like the framework's own structure.
        StatusLayout layout = StatusLayout::longLayout;
        /// The long layout's last flag: false in a display mode without Night Shift.
        bool availableInMode = true;
        /// getBlueLightStatus: answers false while this is false.
        bool answersStatus = true;
        bool acceptsChanges = true;
    };

    TrueTone trueTone;
    NightShift nightShift;
    /// The latest methods called (see logCall()), as "Class selector" with " on" or " off" after a setter.
    std::vector<std::string> calls;
};

/// The type encoding getBlueLightStatus: declares for its parameter in `layout`, with structure
/// names as the runtime reports them.
[[nodiscard]] std::string blueLightStatusEncoding(SimulatedCoreBrightness::StatusLayout layout);

/// Adds the CoreBrightness image and the classes "CBTrueToneClient" and "CBBlueLightClient" with
/// their methods over `initial`.
std::shared_ptr<SimulatedCoreBrightness> installCoreBrightness(
    SimulatedMac& mac, SimulatedCoreBrightness initial = {});
/// The default world's CoreBrightness: both clients supported, True Tone on, Night Shift off,
/// the long status layout.
std::shared_ptr<SimulatedCoreBrightness> installCoreBrightnessDefaults(SimulatedMac& mac);

} // namespace quorvane
