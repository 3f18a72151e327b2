// What one capture of the displays gives the code that saves manual settings into profiles.
#pragma once

#include "QuorvaneCore/ControlKey.h"
#include "QuorvaneCore/ProfileDisplayPreferences.h"
#include "QuorvaneCore/ResolvedPlan.h"
#include "QuorvaneCore/SettingValue.h"

#include <map>

namespace quorvane {

struct CurrentProfileState {
    /// The captured value of each control.
    std::map<ControlKey, SettingValue> values{};
    /// The active holds as they stood when the capture started.
    std::map<ControlKey, ManualHold> holds{};
    /// Left empty, without a resolution map, when only manual settings were captured.
    ProfileDisplayPreferences displayPreferences{};
    bool operator==(const CurrentProfileState&) const = default;
};

} // namespace quorvane
