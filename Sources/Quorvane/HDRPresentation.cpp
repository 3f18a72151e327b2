// The HDR control of a display and of a rule's conditions, and what a rule's HDR cell shows.
#include "Quorvane/HDRPresentation.h"

#include "Quorvane/AppModel.h"

#include <algorithm>

namespace quorvane {
namespace {

constexpr std::string_view noExternalHDRReason = "HDR control unavailable on the connected screens";

} // namespace

std::optional<std::string> targetDisplay(const RuleConditions& conditions)
{
    if (conditions.screen)
        return conditions.screen->id;
    if (conditions.space && !conditions.space->isShared)
        return conditions.space->displayID;
    return std::nullopt;
}

std::optional<ControlCapability> AppModel::hdrCapability(const std::string& displayID) const
{
    const auto builtIn = std::ranges::find_if(displays.get(),
        [&](const DisplayDevice& display) { return display.id == displayID && display.isBuiltIn; });
    if (builtIn != displays->end())
        return ControlCapability{.available = false, .reason = builtIn->builtInHDRDescription()};
    const auto capability = hardwareSnapshot->capabilities.find(
        {.target = ControlTarget::display(displayID), .setting = SettingKey::hdr});
    if (capability == hardwareSnapshot->capabilities.end())
        return std::nullopt;
    return capability->second;
}

std::optional<ControlCapability> AppModel::hdrCapability(const RuleConditions& conditions) const
{
    if (const std::optional<std::string> target = targetDisplay(conditions))
        return hdrCapability(*target);
    if (displays->empty())
        return std::nullopt;
    std::vector<ControlCapability> collected;
    bool someoneLacksHDR = false;
    for (const DisplayDevice& display : displays.get()) {
        if (std::optional<ControlCapability> capability = hdrCapability(display.id))
            collected.push_back(std::move(*capability));
        else
            someoneLacksHDR = true;
    }
    const auto available = std::ranges::find_if(
        collected, [](const ControlCapability& capability) { return capability.available; });
    if (available != collected.end())
        return *available;
    if (someoneLacksHDR)
        return std::nullopt;
    if (std::ranges::any_of(
            displays.get(), [](const DisplayDevice& display) { return !display.isBuiltIn; }))
        return ControlCapability{.available = false, .reason = std::string(noExternalHDRReason)};
    // Only built-in screens: their own "managed by macOS" reason says why.
    return collected.front();
}

std::string AppModel::hdrRuleLabel(const Rule& rule) const
{
    const std::optional<ControlCapability> capability = hdrCapability(rule.conditions);
    if (capability && !capability->available)
        return capability->reason.find("managed by macOS") != std::string::npos ? "macOS"
                                                                                : "Unavailable";
    if (rule.settings.hdr)
        return SettingValue::toggle(*rule.settings.hdr).label();
    return "Default";
}

} // namespace quorvane
