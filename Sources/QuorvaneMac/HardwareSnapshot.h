// HardwareSnapshot.h: everything one hardware discovery found about the connected displays.
#pragma once

#include "QuorvaneCore/ControlKey.h"
#include "QuorvaneCore/DisplayResolution.h"
#include "QuorvaneCore/ResolvedPlan.h"
#include "QuorvaneCore/SettingValue.h"

#include <map>
#include <string>
#include <vector>

namespace quorvane {

/// Maps per control, or per display identifier. A default-built snapshot has every map empty.
struct HardwareSnapshot {
    /// One entry for each of the five settings of each discovered display; an available control's
    /// reason says how it works.
    std::map<ControlKey, ControlCapability> capabilities{};
    /// The values read during discovery; absent when nothing could be read.
    std::map<ControlKey, SettingValue> observed{};
    /// Each display's connection environment, when its current mode could be read.
    std::map<std::string, std::string> environments{};
    std::map<std::string, ModeConfiguration> currentModes{};
    /// Every distinct mode a display offers, in the platform's order; only for displays that are
    /// not mirrored and whose current mode could be read.
    std::map<std::string, std::vector<DisplayModeChoice>> modeChoices{};
    /// Why a display's resolution cannot be changed; present only when it cannot.
    std::map<std::string, std::string> resolutionUnavailable{};

    bool operator==(const HardwareSnapshot&) const = default;
};

} // namespace quorvane
