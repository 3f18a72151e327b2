// The control keys under which a display's mode settings keep their values and statuses.
#pragma once

#include "QuorvaneCore/ControlKey.h"

#include <string>

namespace quorvane {

[[nodiscard]] inline ControlKey modeKey(const std::string& displayID, SettingKey setting)
{
    return {.target = ControlTarget::display(displayID), .setting = setting};
}

} // namespace quorvane
