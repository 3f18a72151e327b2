#include "QuorvaneMac/DisplayInventory.h"

#include "Foundation/Format.h"
#include "Foundation/Text.h"
#include "MacPlatform/Platform.h"
#include "MacPlatform/Screens.h"
#include "QuorvaneCore/Rules.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <tuple>

namespace quorvane {
namespace {

bool describesDisplay(const ScreenObject& screen, DisplayNumber number)
{
    const auto found = screen.deviceDescription.find("NSScreenNumber");
    if (found == screen.deviceDescription.end())
        return false;
    const std::optional<std::int64_t> value = found->second.integerValue();
    // Read as a 32-bit unsigned value, as the platform's own accessor does.
    return value && static_cast<DisplayNumber>(*value) == number;
}

const ScreenObject* screenFor(const std::vector<ScreenObject>& screens, DisplayNumber number)
{
    const auto found = std::ranges::find_if(
        screens, [&](const ScreenObject& screen) { return describesDisplay(screen, number); });
    return found == screens.end() ? nullptr : &*found;
}

bool hasVariableRefresh(const ScreenObject& screen)
{
    const double minimum = screen.minimumRefreshInterval;
    const double maximum = screen.maximumRefreshInterval;
    return std::isfinite(minimum) && std::isfinite(maximum) && minimum > 0
        && minimum + 0.000001 < maximum;
}

std::optional<DisplayDevice> device(
    CoreGraphics& graphics, const std::vector<ScreenObject>& screens, DisplayNumber number)
{
    if (!graphics.isActive(number))
        return std::nullopt;
    const std::optional<std::string> uuid = graphics.uuidText(number);
    if (!uuid)
        return std::nullopt;

    DisplayDevice result{
        .id = asciiLowercased(*uuid),
        .runtimeID = number,
        .name = "Display " + formatUnsigned(number),
        .isBuiltIn = graphics.isBuiltin(number),
        .isMirrored = graphics.isInMirrorSet(number),
        .bounds = graphics.bounds(number),
        .hasExtendedRange = false,
        .maximumFramesPerSecond = 60,
        .adaptiveModeID = std::nullopt,
    };
    const ScreenObject* screen = screenFor(screens, number);
    if (!screen)
        return result;
    result.name = screen->localizedName;
    result.hasExtendedRange = screen->maximumPotentialExtendedDynamicRangeColorComponentValue > 1.0;
    result.maximumFramesPerSecond = screen->maximumFramesPerSecond;
    if (hasVariableRefresh(*screen)) {
        if (const std::optional<GraphicsDisplayMode> mode = graphics.currentMode(number))
            result.adaptiveModeID = mode->ioDisplayModeID;
    }
    return result;
}

/// Drops every device whose id another device also has, so an id never names two displays.
void removeSharedIdentifiers(std::vector<DisplayDevice>& devices)
{
    std::map<std::string, int> occurrences;
    for (const DisplayDevice& device : devices)
        ++occurrences[device.id];
    std::erase_if(
        devices, [&](const DisplayDevice& device) { return occurrences[device.id] != 1; });
}

} // namespace

DisplayReference DisplayDevice::reference() const
{
    return DisplayReference{.id = id, .name = name};
}

std::string DisplayDevice::builtInHDRDescription() const
{
    return hasExtendedRange ? "HDR supported · managed by macOS" : "HDR managed by macOS";
}

std::vector<DisplayDevice> DisplayInventory::snapshot(Platform& platform)
{
    const std::vector<DisplayNumber> numbers = onlineDisplayNumbers(platform.graphics);
    if (numbers.empty())
        return {};
    const std::vector<ScreenObject> screens = platform.screens.screens();

    std::vector<DisplayDevice> devices;
    for (const DisplayNumber number : numbers) {
        if (std::optional<DisplayDevice> found = device(platform.graphics, screens, number))
            devices.push_back(std::move(*found));
    }
    removeSharedIdentifiers(devices);
    std::ranges::stable_sort(devices, [](const DisplayDevice& a, const DisplayDevice& b) {
        return std::tie(b.isBuiltIn, a.name, a.id) < std::tie(a.isBuiltIn, b.name, b.id);
    });
    return devices;
}

std::vector<DisplayNumber> onlineDisplayNumbers(CoreGraphics& graphics)
{
    std::uint32_t count = 0;
    if (graphics.onlineDisplayList(0, nullptr, &count) != 0 || count == 0)
        return {};
    std::vector<DisplayNumber> numbers(count, 0);
    std::uint32_t filled = 0;
    if (graphics.onlineDisplayList(count, numbers.data(), &filled) != 0)
        return {};
    // The list may have shrunk since the count; a platform that claims more than the buffer
    // holds must not make us read past it.
    numbers.resize(std::min(filled, count));
    return numbers;
}

} // namespace quorvane
