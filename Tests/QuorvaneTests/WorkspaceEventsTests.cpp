#include "Quorvane/WorkspaceEvents.h"

#include "Concurrency/ManualExecutor.h"
#include "QuorvaneMac/SpaceChangeMonitor.h"
#include "SimulatedMac/SimulatedMac.h"
#include "SimulatedMac/SimulatedSkyLight.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace quorvane {
namespace {

using namespace workspaceNotification;

void post(SimulatedNotificationCenter& centre, std::string_view name)
{
    centre.post({.name = std::string(name), .userInfo = {}});
}

struct EventsWorld {
    ManualExecutor executor;
    SimulatedMac mac{executor};
    std::shared_ptr<SimulatedSkyLight> skyLight = installSkyLightDefaults(mac);
    std::optional<WorkspaceEvents> events{std::in_place, mac.platform(), executor};
    std::string reactions;

    EventsWorld()
    {
        events->changed = [this](bool hardware) { reactions += hardware ? "hardware" : "context"; };
        events->suspended = [this] { reactions += "suspend"; };
    }
};

TEST(WorkspaceEventsTest, EachNotificationLeadsToItsReactionUntilDestroyed)
{
    // Each centre carries only its own notifications.
    const std::tuple<bool, std::string_view, std::string> cases[] = {
        {true, didActivateApplication, "context"},
        {true, activeSpaceDidChange, "context"},
        {true, didWake, "hardware"},
        {true, screensDidWake, "hardware"},
        {true, sessionDidBecomeActive, "hardware"},
        {true, willSleep, "suspend"},
        {true, screensDidSleep, "suspend"},
        {true, sessionDidResignActive, "suspend"},
        {false, didChangeScreenParameters, "hardware"},
        {false, SpaceChangeMonitor::didChange, "context"},
        {false, didWake, ""},
        {true, didChangeScreenParameters, ""},
    };
    for (const auto& [onWorkspace, name, reaction] : cases) {
        SCOPED_TRACE(name);
        EventsWorld world;
        auto& centre = onWorkspace ? world.mac.workspaceNotifications : world.mac.notifications;
        post(centre, name);
        EXPECT_EQ(world.reactions, reaction);
        // Without callbacks the notification is dropped.
        world.events->changed = nullptr;
        world.events->suspended = nullptr;
        post(centre, name);

        world.events.reset();
        EXPECT_EQ(world.mac.workspaceNotifications.observerCount(), 0u);
        EXPECT_EQ(world.mac.notifications.observerCount(), 0u);
        EXPECT_TRUE(world.skyLight->registrations.empty());
        // Nothing is left to call into the freed object.
        post(centre, name);
        world.skyLight->fireSpaceChange();
        world.executor.runUntilIdle();
    }
}

TEST(WorkspaceEventsTest, WindowServerSpaceChangeArrivesOnTheMainExecutor)
{
    EventsWorld world;
    world.skyLight->fireSpaceChange();
    EXPECT_EQ(world.reactions, "");
    world.executor.runUntilIdle();
    EXPECT_EQ(world.reactions, "context");
}

} // namespace
} // namespace quorvane
