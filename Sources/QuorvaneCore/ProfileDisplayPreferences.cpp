#include "QuorvaneCore/ProfileDisplayPreferences.h"

#include "Foundation/Overloaded.h"

namespace quorvane {

std::string_view SystemDisplayControl::title() const
{
    const auto describe = Overloaded{
        [](const TrueTone&) { return std::string_view("True Tone"); },
        [](const DarkMode&) { return std::string_view("Dark Mode"); },
        [](const NightShift&) { return std::string_view("Night Shift"); },
        [](const AutomaticBrightness&) {
            return std::string_view("Automatically adjust brightness");
        },
    };
    return std::visit(describe, value);
}

std::optional<bool> ProfileDisplayPreferences::value(const SystemDisplayControl& control) const
{
    const auto field = Overloaded{
        [this](const SystemDisplayControl::TrueTone&) { return trueTone; },
        [this](const SystemDisplayControl::DarkMode&) { return darkMode; },
        [this](const SystemDisplayControl::NightShift&) { return nightShift; },
        [this](const SystemDisplayControl::AutomaticBrightness&) { return automaticBrightness; },
    };
    return std::visit(field, control.value);
}

} // namespace quorvane
