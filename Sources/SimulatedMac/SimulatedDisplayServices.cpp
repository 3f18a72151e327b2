#include "SimulatedMac/SimulatedDisplayServices.h"

#include "Foundation/Text.h"
#include "SimulatedMac/CallLog.h"
#include "SimulatedMac/SimulatedMac.h"

#include <functional>

namespace quorvane {
namespace {

/// The level of an online, awake display that has a panel; null otherwise.
float* panelLevel(SimulatedWorld& world, SimulatedDisplayServices& services, DisplayNumber number)
{
    const SimulatedDisplay* display = world.display(number);
    if (!display || !display->isOnline || display->isAsleep || !display->uuid)
        return nullptr;
    const auto found = services.brightness.find(asciiLowercased(*display->uuid));
    return found == services.brightness.end() ? nullptr : &found->second;
}

} // namespace

std::shared_ptr<SimulatedDisplayServices> installDisplayServices(SimulatedMac& mac)
{
    auto services = std::make_shared<SimulatedDisplayServices>();
    SimulatedWorld& world = mac.world;
    mac.loader.image(displayServicesImagePath)
        .define<std::int32_t(std::uint32_t, float*)>("DisplayServicesGetBrightness",
            [services, &world](std::uint32_t number, float* level) {
                logCall(services->calls, {world.executor.now(), number, std::nullopt});
                if (services->readStatus != 0)
                    return services->readStatus;
                const float* panel = panelLevel(world, *services, number);
                if (!panel)
                    return SimulatedDisplayServices::unsupportedStatus;
                *level = services->reportedBrightness.value_or(*panel);
                return 0;
            })
        .define<std::int32_t(std::uint32_t, float)>(
            "DisplayServicesSetBrightness", [services, &world](std::uint32_t number, float level) {
                logCall(services->calls, {world.executor.now(), number, level});
                if (services->writeStatus != 0)
                    return services->writeStatus;
                float* panel = panelLevel(world, *services, number);
                if (!panel)
                    return SimulatedDisplayServices::unsupportedStatus;
                *panel = level;
                return 0;
            });
    return services;
}

std::shared_ptr<SimulatedDisplayServices> installDisplayServicesDefaults(SimulatedMac& mac)
{
    std::shared_ptr<SimulatedDisplayServices> services = installDisplayServices(mac);
    for (const SimulatedDisplay& display : mac.world.displays)
        if (display.isBuiltIn && display.uuid)
            services->brightness[asciiLowercased(*display.uuid)] = 0.75f;
    return services;
}

} // namespace quorvane
