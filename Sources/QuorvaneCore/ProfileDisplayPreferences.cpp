#include "QuorvaneCore/ProfileDisplayPreferences.h"

#include "Foundation/Hash.h"
#include "Foundation/Overloaded.h"
#include "QuorvaneCore/Configuration.h"

namespace quorvane {
namespace {

std::optional<bool> preferenceValue(const Profile& profile, const SystemDisplayControl& control)
{
    if (!profile.displayPreferences)
        return std::nullopt;
    return profile.displayPreferences->value(control);
}

std::optional<bool> capturedValue(const Profile& profile, const SystemDisplayControl& control)
{
    if (!profile.capturedDisplayPreferences)
        return std::nullopt;
    const auto found = profile.capturedDisplayPreferences->find(control);
    if (found == profile.capturedDisplayPreferences->end())
        return std::nullopt;
    return found->second;
}

} // namespace

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

std::map<SystemDisplayControl, bool> Configuration::systemDisplayRequests(
    const Profile& profile, const std::set<SystemDisplayControl>& controls) const
{
    const Profile* fallback = defaultProfileOrFirst();
    std::map<SystemDisplayControl, bool> requests;
    for (const SystemDisplayControl& control : controls) {
        std::optional<bool> requested = preferenceValue(profile, control);
        if (!requested && fallback)
            requested = preferenceValue(*fallback, control);
        if (!requested && fallback)
            requested = capturedValue(*fallback, control);
        if (requested)
            requests.emplace(control, *requested);
    }
    return requests;
}

bool Configuration::captureSystemDisplayDefaults(const SystemDisplaySnapshot& snapshot)
{
    Profile* profile = profileWithDefaultID();
    if (!profile)
        return false;
    auto captured
        = profile->capturedDisplayPreferences.value_or(std::map<SystemDisplayControl, bool>{});
    bool didChange = false;
    for (const auto& [control, isOn] : snapshot.values)
        didChange |= captured.emplace(control, isOn).second; // A captured state is never replaced.
    if (didChange)
        profile->capturedDisplayPreferences = std::move(captured);
    return didChange;
}

} // namespace quorvane

std::size_t std::hash<quorvane::SystemDisplayControl>::operator()(
    const quorvane::SystemDisplayControl& control) const noexcept
{
    using namespace quorvane;
    const auto payload = Overloaded{
        [](const SystemDisplayControl::AutomaticBrightness& automatic) {
            return std::hash<std::string>{}(automatic.displayID);
        },
        [](const SystemDisplayControl::TrueTone&) { return std::size_t{0}; },
        [](const SystemDisplayControl::DarkMode&) { return std::size_t{0}; },
        [](const SystemDisplayControl::NightShift&) { return std::size_t{0}; },
    };
    return hashCombine(control.value.index(), std::visit(payload, control.value));
}
