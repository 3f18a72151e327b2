#include "Quorvane/WorkspaceEvents.h"

#include "Concurrency/ManualExecutor.h"
#include "QuorvaneMac/SpaceChangeMonitor.h"
#include "SimulatedMac/SimulatedMac.h"
#include "SimulatedMac/SimulatedSkyLight.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace quorvane {
namespace {

struct EventsWorld {
    ManualExecutor executor;
    SimulatedMac mac{executor};
    std::shared_ptr<SimulatedSkyLight> skyLight = installSkyLightDefaults(mac);
    std::optional<WorkspaceEvents> events{std::in_place, mac.platform(), executor};
    std::vector<std::string> reactions;

    EventsWorld()
    {
        events->changed
            = [this](bool hardware) { reactions.push_back(hardware ? "hardware" : "context"); };
        events->suspended = [this] { reactions.push_back("suspend"); };
    }
};

TEST(WorkspaceEventsTest, EachNotificationLeadsToItsReaction)
{
    enum class Centre { workspace, application };
    struct Case {
        Centre centre;
        std::string_view name;
        std::vector<std::string> reactions;
    };
    using namespace workspaceNotification;
    const Case cases[] = {
        {Centre::workspace, didActivateApplication, {"context"}},
        {Centre::workspace, activeSpaceDidChange, {"context"}},
        {Centre::workspace, didWake, {"hardware"}},
        {Centre::workspace, screensDidWake, {"hardware"}},
        {Centre::workspace, sessionDidBecomeActive, {"hardware"}},
        {Centre::workspace, willSleep, {"suspend"}},
        {Centre::workspace, screensDidSleep, {"suspend"}},
        {Centre::workspace, sessionDidResignActive, {"suspend"}},
        {Centre::application, didChangeScreenParameters, {"hardware"}},
        {Centre::application, SpaceChangeMonitor::didChange, {"context"}},
        // Each centre carries only its own notifications.
        {Centre::application, didWake, {}},
        {Centre::workspace, didChangeScreenParameters, {}},
        {Centre::workspace, "NSWorkspaceDidLaunchApplicationNotification", {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EventsWorld world;
        auto& centre = c.centre == Centre::workspace ? world.mac.workspaceNotifications
                                                     : world.mac.notifications;
        centre.post({.name = std::string(c.name), .userInfo = {}});
        EXPECT_EQ(world.reactions, c.reactions);
    }
}

TEST(WorkspaceEventsTest, WindowServerSpaceChangeArrivesAsAContextChange)
{
    EventsWorld world;
    world.skyLight->fireSpaceChange();
    EXPECT_TRUE(world.reactions.empty()) << "posted from the main executor, not the callback";
    world.executor.runUntilIdle();
    EXPECT_EQ(world.reactions, std::vector<std::string>{"context"});
}

TEST(WorkspaceEventsTest, DropsNotificationsWithoutCallbacksAndUnregistersWhenDestroyed)
{
    EventsWorld world;
    world.events->changed = nullptr;
    world.events->suspended = nullptr;
    world.mac.workspaceNotifications.post(
        {.name = std::string(workspaceNotification::didWake), .userInfo = {}});
    world.mac.workspaceNotifications.post(
        {.name = std::string(workspaceNotification::willSleep), .userInfo = {}});
    EXPECT_EQ(world.mac.workspaceNotifications.observerCount(), 8u);
    EXPECT_EQ(world.mac.notifications.observerCount(), 2u);

    world.events.reset();
    EXPECT_EQ(world.mac.workspaceNotifications.observerCount(), 0u);
    EXPECT_EQ(world.mac.notifications.observerCount(), 0u);
    EXPECT_TRUE(world.skyLight->registrations.empty());
    // Nothing is left to call into the freed object.
    world.mac.workspaceNotifications.post(
        {.name = std::string(workspaceNotification::didWake), .userInfo = {}});
    world.skyLight->fireSpaceChange();
    world.executor.runUntilIdle();
    EXPECT_TRUE(world.reactions.empty());
}

} // namespace
} // namespace quorvane
