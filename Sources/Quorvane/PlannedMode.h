// The display mode a resolved plan asks of one display: its HDR and refresh-rate assignments.
#pragma once

#include "Quorvane/MapKeys.h"
#include "Quorvane/ModeKeys.h"
#include "QuorvaneCore/DisplayResolution.h"
#include "QuorvaneCore/ResolvedPlan.h"

#include <string>
#include <variant>

namespace quorvane {

/// The plan's HDR toggle and refresh rate for the display; a part the plan leaves out, or holds
/// as a value of another kind, stays absent, and so does the resolution.
[[nodiscard]] inline ModeConfiguration plannedMode(
    const ResolvedPlan& plan, const std::string& displayID)
{
    ModeConfiguration mode;
    if (const auto hdr = entryOf(plan.assignments, modeKey(displayID, SettingKey::hdr))) {
        if (const auto* toggle = std::get_if<SettingValue::Toggle>(&hdr->value.value))
            mode.hdr = toggle->value;
    }
    if (const auto rate = entryOf(plan.assignments, modeKey(displayID, SettingKey::refreshRate))) {
        if (const auto* refresh = std::get_if<SettingValue::Refresh>(&rate->value.value))
            mode.refreshRate = refresh->value;
    }
    return mode;
}

} // namespace quorvane
