#include "SimulatedMac/SimulatedMac.h"

namespace quorvane {

SimulatedMac::SimulatedMac(Executor& executor)
    : world(executor)
    , graphics(world)
    , screens(world)
    , process(world)
    , registry(world)
    , accessibility(world)
    , eventTaps(world)
    , m_platform{
        .graphics = graphics,
        .screens = screens,
        .process = process,
        .loader = loader,
        .objects = objects,
        .registry = registry,
        .workspace = workspace,
        .notifications = notifications,
        .workspaceNotifications = workspaceNotifications,
        .accessibility = accessibility,
        .eventTaps = eventTaps,
    }
{
}

} // namespace quorvane
