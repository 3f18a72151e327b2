#include "SimulatedMac/SimulatedWorld.h"

#include "Concurrency/Executor.h"

#include <algorithm>
#include <cctype>

namespace quorvane {
namespace {

bool equalIgnoringCase(std::string_view a, std::string_view b)
{
    return std::ranges::equal(a, b, [](char x, char y) {
        return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
    });
}

} // namespace

SimulatedDisplay* SimulatedWorld::display(DisplayNumber number)
{
    const auto found = std::ranges::find(displays, number, &SimulatedDisplay::number);
    return found == displays.end() ? nullptr : &*found;
}

SimulatedDisplay* SimulatedWorld::displayWithUUID(std::string_view uuid)
{
    const auto found = std::ranges::find_if(displays, [&](const SimulatedDisplay& display) {
        return display.uuid && equalIgnoringCase(*display.uuid, uuid);
    });
    return found == displays.end() ? nullptr : &*found;
}

void SimulatedWorld::schedule(std::chrono::nanoseconds delay, std::function<void(SimulatedWorld&)> event)
{
    executor.postAt(executor.now() + delay,
        [world = this, lifetime = std::weak_ptr<int>(m_lifetime), event = std::move(event)] {
            if (!lifetime.expired())
                event(*world);
        });
}

void SimulatedWorld::sleep(DisplayNumber number)
{
    if (SimulatedDisplay* found = display(number))
        found->isAsleep = true;
}

void SimulatedWorld::wake(DisplayNumber number)
{
    if (SimulatedDisplay* found = display(number))
        found->isAsleep = false;
}

void SimulatedWorld::unplug(DisplayNumber number)
{
    std::erase_if(displays, [&](const SimulatedDisplay& display) { return display.number == number; });
}

void SimulatedWorld::renumber(DisplayNumber from, DisplayNumber to)
{
    SimulatedDisplay* found = display(from);
    if (!found)
        return;
    found->number = to;
    if (found->screen)
        found->screen->deviceDescription["NSScreenNumber"] = PlatformValue::integer(to);
}

void addDefaultDisplays(SimulatedWorld& world)
{
    const auto screen = [](std::string name, DisplayNumber number, double minimumInterval) {
        return ScreenObject{
            .deviceDescription = {{"NSScreenNumber", PlatformValue::integer(number)}},
            .localizedName = std::move(name),
            .minimumRefreshInterval = minimumInterval,
            .maximumRefreshInterval = 1.0 / 60,
            .maximumPotentialExtendedDynamicRangeColorComponentValue = 1.0,
            .maximumFramesPerSecond = static_cast<std::int64_t>(1 / minimumInterval + 0.5),
        };
    };
    world.displays.push_back(SimulatedDisplay{
        .number = 1,
        .uuid = "37D8832A-2D66-02CA-B9F7-8F30A301B230",
        .isBuiltIn = true,
        .bounds = {.x = 0, .y = 0, .width = 1512, .height = 982},
        .screen = screen("Built-in Retina Display", 1, 1.0 / 60),
        .modes = {
            {.width = 1512, .height = 982, .pixelWidth = 3024, .pixelHeight = 1964, .ioDisplayModeID = 10, .refreshRate = 60},
            {.width = 1800, .height = 1169, .pixelWidth = 3600, .pixelHeight = 2338, .ioDisplayModeID = 11, .refreshRate = 60},
        },
        .currentModeID = 10,
        .gammaCapacity = 1024,
        .gamma = {},
    });
    world.displays.push_back(SimulatedDisplay{
        .number = 2,
        .uuid = "9C4E2F61-5B3A-4D7E-8F10-2A6B7C8D9E0F",
        .bounds = {.x = 1512, .y = 0, .width = 2560, .height = 1440},
        .screen = screen("Studio Monitor", 2, 1.0 / 60),
        .modes = {
            {.width = 2560, .height = 1440, .pixelWidth = 2560, .pixelHeight = 1440, .ioDisplayModeID = 20, .refreshRate = 60},
            {.width = 2560, .height = 1440, .pixelWidth = 2560, .pixelHeight = 1440, .ioDisplayModeID = 21, .refreshRate = 50},
            {.width = 1920, .height = 1080, .pixelWidth = 1920, .pixelHeight = 1080, .ioDisplayModeID = 22, .refreshRate = 60},
        },
        .currentModeID = 20,
        .gammaCapacity = 1024,
        .gamma = {},
    });
}

} // namespace quorvane
