#include "SimulatedMac/SimulatedAmbientLight.h"

#include "SimulatedMac/CallLog.h"
#include "SimulatedMac/SimulatedMac.h"

#include <algorithm>
#include <cctype>

namespace quorvane {
namespace {

std::string lowercased(std::string text)
{
    std::ranges::transform(
        text, text.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

/// The panel of the display that has `number` now; null without one.
SimulatedAmbientLight::Panel* panelOf(
    SimulatedAmbientLight& state, SimulatedWorld& world, DisplayNumber number)
{
    const SimulatedDisplay* display = world.display(number);
    if (!display || !display->isOnline || !display->uuid)
        return nullptr;
    const auto found = state.panels.find(lowercased(*display->uuid));
    return found == state.panels.end() ? nullptr : &found->second;
}

std::string callText(const char* name, DisplayNumber number)
{
    return std::string(name) + " " + std::to_string(number);
}

} // namespace

std::shared_ptr<SimulatedAmbientLight> installAmbientLight(
    SimulatedMac& mac, SimulatedAmbientLight initial)
{
    auto state = std::make_shared<SimulatedAmbientLight>(std::move(initial));
    SimulatedWorld* world = &mac.world;
    mac.loader.image(SimulatedAmbientLight::imagePath)
        .define<bool(DisplayNumber)>("DisplayServicesHasAmbientLightCompensation",
            [state, world](DisplayNumber number) {
                logCall(
                    state->calls, callText("DisplayServicesHasAmbientLightCompensation", number));
                return panelOf(*state, *world, number) != nullptr;
            })
        .define<std::int32_t(DisplayNumber, bool*)>(
            "DisplayServicesAmbientLightCompensationEnabled",
            [state, world](DisplayNumber number, bool* isEnabled) -> std::int32_t {
                logCall(state->calls,
                    callText("DisplayServicesAmbientLightCompensationEnabled", number));
                SimulatedAmbientLight::Panel* panel = panelOf(*state, *world, number);
                if (!panel)
                    return -1;
                if (panel->readStatus == 0)
                    *isEnabled = panel->isEnabled;
                return panel->readStatus;
            })
        .define<std::int32_t(DisplayNumber, bool)>("DisplayServicesEnableAmbientLightCompensation",
            [state, world](DisplayNumber number, bool isEnabled) -> std::int32_t {
                logCall(state->calls,
                    callText("DisplayServicesEnableAmbientLightCompensation", number)
                        + (isEnabled ? " on" : " off"));
                SimulatedAmbientLight::Panel* panel = panelOf(*state, *world, number);
                if (!panel)
                    return -1;
                if (panel->writeStatus == 0)
                    panel->isEnabled = isEnabled;
                return panel->writeStatus;
            });
    return state;
}

std::shared_ptr<SimulatedAmbientLight> installAmbientLightDefaults(SimulatedMac& mac)
{
    SimulatedAmbientLight initial;
    for (const SimulatedDisplay& display : mac.world.displays)
        if (display.isBuiltIn && display.uuid)
            initial.panels[lowercased(*display.uuid)]
                = SimulatedAmbientLight::Panel{.isEnabled = true};
    return installAmbientLight(mac, std::move(initial));
}

} // namespace quorvane
