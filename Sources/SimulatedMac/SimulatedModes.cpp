#include "SimulatedMac/SimulatedModes.h"

#include "SimulatedMac/CallLog.h"
#include "SimulatedMac/SimulatedMac.h"
#include "SimulatedMac/SimulatedWorld.h"

#include <algorithm>
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
    const ContinuousClock::time_point now = world.executor.now();
    // Behind the display's earlier switches; at the same time, the world's events run in the
    // order they were scheduled. One due now may not have run yet.
    const auto earlier = switching->landings.find(uuid);
    const bool isQueued = earlier != switching->landings.end() && earlier->second >= now;
    if (!isQueued && switching->delay <= std::chrono::nanoseconds::zero()) {
        takeEffect(world, uuid, landed, renumbersTo);
        return 0;
    }
    ContinuousClock::time_point landing = now + switching->delay;
    if (isQueued)
        landing = std::max(landing, earlier->second);
    switching->landings.insert_or_assign(uuid, landing);
    world.schedule(
        landing - now, [uuid = std::move(uuid), landed, renumbersTo](SimulatedWorld& world) {
            takeEffect(world, uuid, landed, renumbersTo);
        });
    return 0;
}

} // namespace

bool SimulatedModeSwitching::isSwitching(
    const std::string& uuid, ContinuousClock::time_point now) const
{
    const auto landing = landings.find(uuid);
    return landing != landings.end() && landing->second > now;
}

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
