#include "SimulatedMac/SimulatedModes.h"

#include "SimulatedMac/CallLog.h"
#include "SimulatedMac/SimulatedMac.h"
#include "SimulatedMac/SimulatedWorld.h"

#include <functional>
#include <utility>

namespace quorvane {
namespace {

void takeEffect(SimulatedWorld& world, const std::string& uuid, std::int32_t modeID,
    std::optional<DisplayNumber> renumbersTo)
{
    SimulatedDisplay* display = world.displayWithUUID(uuid);
    if (!display)
        return;
    display->currentModeID = modeID;
    if (renumbersTo)
        world.renumber(display->number, *renumbersTo);
}

GraphicsStatus switchMode(const std::shared_ptr<SimulatedModeSwitching>& switching,
    SimulatedWorld& world, DisplayNumber number, std::int32_t modeID)
{
    logCall(switching->calls, {.time = world.executor.now(), .display = number, .modeID = modeID});
    if (switching->status != 0)
        return switching->status;
    const SimulatedDisplay* display = world.display(number);
    // The graphics service only hands over switches for displays it found.
    std::string uuid = display && display->uuid ? *display->uuid : std::string();
    const auto redirected = switching->landsOn.find(modeID);
    const std::int32_t landed
        = redirected == switching->landsOn.end() ? modeID : redirected->second;
    const std::optional<DisplayNumber> renumbersTo = switching->renumbersTo;
    if (switching->delay <= std::chrono::nanoseconds::zero()) {
        takeEffect(world, uuid, landed, renumbersTo);
        return 0;
    }
    world.schedule(
        switching->delay, [uuid = std::move(uuid), landed, renumbersTo](SimulatedWorld& world) {
            takeEffect(world, uuid, landed, renumbersTo);
        });
    return 0;
}

} // namespace

std::shared_ptr<SimulatedModeSwitching> installModeSwitching(SimulatedMac& mac)
{
    auto switching = std::make_shared<SimulatedModeSwitching>();
    mac.world.graphicsFaults.switchMode
        = [switching](SimulatedWorld& world, DisplayNumber number, std::int32_t modeID) {
              return switchMode(switching, world, number, modeID);
          };
    return switching;
}

void changeModeByUser(SimulatedWorld& world, std::string_view uuid, std::int32_t modeID)
{
    if (SimulatedDisplay* display = world.displayWithUUID(uuid))
        display->currentModeID = modeID;
}

} // namespace quorvane
