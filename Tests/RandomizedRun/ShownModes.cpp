#include "ShownModes.h"

#include "Foundation/Text.h"
#include "SimulatedMac/SimulatedMonitorPanel.h"
#include "SimulatedMac/SimulatedWorld.h"

#include <algorithm>
#include <cmath>

namespace quorvane {

std::string displayIDOf(const SimulatedDisplay& display)
{
    return asciiLowercased(display.uuid.value_or(""));
}

std::optional<ModeConfiguration> shownMode(
    const SimulatedDisplay& display, const SimulatedMonitorPanel& panel)
{
    if (!display.currentModeID)
        return std::nullopt;
    const auto current = std::ranges::find(
        display.modes, *display.currentModeID, &GraphicsDisplayMode::ioDisplayModeID);
    if (current == display.modes.end())
        return std::nullopt;
    ModeConfiguration mode{
        .refreshRate = RefreshPreference::fixed(std::llround(current->refreshRate * 1000)),
        .resolution = DisplayResolution{.width = current->width,
            .height = current->height,
            .pixelWidth = current->pixelWidth,
            .pixelHeight = current->pixelHeight}};
    const auto entry = std::ranges::find_if(panel.displays, [&](const auto& panelDisplay) {
        return asciiLowercased(panelDisplay->uuid) == displayIDOf(display);
    });
    // The hardware layer leaves a built-in display's HDR to macOS and reads none.
    if (!display.isBuiltIn && entry != panel.displays.end())
        mode.hdr = (*entry)->prefersHDR;
    return mode;
}

std::string describe(const ModeConfiguration& mode)
{
    std::string text = mode.resolution ? mode.resolution->label() : "no resolution";
    if (mode.refreshRate)
        text += " · " + mode.refreshRate->label();
    if (mode.hdr)
        text += *mode.hdr ? " · HDR on" : " · HDR off";
    return text;
}

} // namespace quorvane
