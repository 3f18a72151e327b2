#include "Quorvane/AppModel.h"

#include "Concurrency/Sleep.h"
#include "ContextTestSupport.h"
#include "Quorvane/WorkspaceEvents.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>

namespace quorvane {
namespace {

using namespace std::chrono_literals;

constexpr std::int32_t viewerProcess = 202;

Task<void> waitAnHour() { co_await sleep(1h); }
Task<void> nothing() { co_return; }

void post(SimulatedNotificationCenter& centre, std::string_view name)
{
    centre.post({.name = std::string(name), .userInfo = {}});
}

TEST(ContextTest, RebuildsTheContextFromTheFocusedWindowAndTheSpaces)
{
    struct Case {
        const char* what;
        bool viewerInFront;
        bool trusted;
        std::optional<std::string> focusedDisplayID;
        std::string message;
    };
    const Case cases[] = {
        {"writer on the built-in display", false, true, defaultBuiltInID, "Window access active"},
        {"viewer on the external display", true, true, defaultExternalID, "Window access active"},
        {"no window access", false, false, std::nullopt,
            "Allow window access to follow the focused screen."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ContextWorld world;
        const auto model = world.start();
        if (c.viewerInFront)
            world.mac.workspace.frontmostProcess = viewerProcess;
        world.mac.accessibility.trusted = c.trusted;

        model->refreshContext();

        const RuntimeContext& context = model->context.get();
        EXPECT_EQ(context.focusedDisplayID, c.focusedDisplayID);
        EXPECT_EQ(
            context.appBundleID, c.viewerInFront ? "com.example.Viewer" : "com.example.Writer");
        EXPECT_EQ(model->currentAppName.get(), c.viewerInFront ? "Viewer" : "Writer");
        EXPECT_EQ(model->focusMessage.get(), c.message);
        EXPECT_EQ(model->hasWindowAccess.get(), c.trusted);
        ASSERT_EQ(context.displays.size(), 2u);
        for (const DisplayContext& display : context.displays) {
            const SpaceSnapshot& spaces = model->spacesByDisplay->at(display.id);
            ASSERT_TRUE(spaces.current);
            EXPECT_EQ(display.activeSpaceID, spaces.current->id);
        }
        EXPECT_EQ(context.displays[0].id, defaultBuiltInID);
        EXPECT_FALSE(context.suspended);
    }
}

TEST(ContextTest, DebounceIsAFixed300MillisecondsOrNone)
{
    struct Case {
        std::int64_t configured;
        std::chrono::milliseconds delay;
    };
    const Case cases[] = {{300, 300ms}, {5000, 300ms}, {1, 300ms}, {0, 0ms}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.configured);
        ContextWorld world;
        const auto model = world.start();
        model->configuration.modify(
            [&](Configuration& document) { document.debounceMilliseconds = c.configured; });
        world.mac.workspace.frontmostProcess = viewerProcess;

        model->contextChanged();

        EXPECT_EQ(model->context->appBundleID, "com.example.Viewer");
        if (c.delay > 0ms) {
            world.executor.advance(c.delay - 1ms);
            EXPECT_TRUE(model->scheduler().isWaiting());
            world.executor.advance(1ms);
        } else {
            world.executor.runUntilIdle();
        }
        EXPECT_FALSE(model->scheduler().isWaiting());
    }
}

TEST(ContextTest, ThreeChangesWithinTheDebounceRunOneResolve)
{
    ContextWorld world;
    const auto model = world.start();
    const Rule viewerRule{.id = UUID::random(),
        .name = "Viewer",
        .conditions = {.apps = {{.id = "com.example.Viewer", .name = "Viewer"}}},
        .settings = {.brightness = 0.4}};
    model->configuration.modify([&](Configuration& document) {
        for (Profile& profile : document.profiles) {
            if (profile.id == document.activeProfileID)
                profile.rules.push_back(viewerRule);
        }
    });
    int resolutions = 0;
    const Subscription counting = model->resolution.observe([&] { ++resolutions; });

    // Viewer, back to Writer, Viewer again: each would publish a different plan if resolved.
    for (const std::int32_t process : {viewerProcess, 201, viewerProcess}) {
        world.mac.workspace.frontmostProcess = process;
        model->contextChanged();
        world.executor.advance(100ms);
    }
    world.executor.advance(199ms);
    EXPECT_EQ(resolutions, 0);
    world.executor.advance(1ms);
    EXPECT_EQ(resolutions, 1);
    ASSERT_TRUE(model->resolution->rules.contains(viewerRule.id));
    EXPECT_TRUE(model->resolution->rules.at(viewerRule.id).matches);
}

TEST(ContextTest, OnlyAChangedContextClearsFailuresAndCancelsCommands)
{
    struct Case {
        const char* what;
        bool moveFocus;
        bool changes;
    };
    const Case cases[] = {
        {"nothing visible changed", false, false},
        {"focus moved to the other screen", true, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ContextWorld world;
        const auto model = world.start();
        const ControlKey key{
            .target = ControlTarget::display(defaultBuiltInID), .setting = SettingKey::brightness};
        model->failed.set({{key, SettingValue::percent(0.5)}});
        TaskOutcome<void> modeCommand;
        model->modeTasks.set(
            {{defaultBuiltInID, spawn(world.executor, recordOutcome(waitAnHour(), modeCommand))}});
        if (c.moveFocus)
            world.mac.workspace.frontmostProcess = viewerProcess;

        model->contextChanged();
        world.executor.runUntilIdle();

        EXPECT_EQ(model->failed->empty(), c.changes);
        EXPECT_EQ(model->scheduler().isWaiting(), c.changes);
        EXPECT_EQ(modeCommand.isCancelled, c.changes);
    }
}

TEST(ContextTest, ChangesAreIgnoredWhileSuspendedUntilTheWakeRefresh)
{
    ContextWorld world;
    const auto model = world.start();
    post(world.mac.workspaceNotifications, workspaceNotification::willSleep);
    ASSERT_TRUE(model->isSuspended.get());
    EXPECT_TRUE(model->context->suspended);

    world.mac.workspace.frontmostProcess = viewerProcess;
    post(world.mac.workspaceNotifications, workspaceNotification::didActivateApplication);
    world.executor.runUntilIdle();
    EXPECT_EQ(model->context->appBundleID, "com.example.Writer");
    EXPECT_FALSE(model->scheduler().isWaiting());

    post(world.mac.workspaceNotifications, workspaceNotification::didWake);
    world.executor.runUntilIdle();
    EXPECT_FALSE(model->isSuspended.get());
    EXPECT_EQ(model->context->appBundleID, "com.example.Viewer");
    EXPECT_FALSE(model->context->suspended);

    world.mac.workspace.frontmostProcess = 201;
    post(world.mac.workspaceNotifications, workspaceNotification::didActivateApplication);
    EXPECT_EQ(model->context->appBundleID, "com.example.Writer");
    EXPECT_TRUE(model->scheduler().isWaiting());
}

TEST(ContextTest, SuspendStopsAutomaticWorkOutsideDemoMode)
{
    for (const bool demo : {false, true}) {
        SCOPED_TRACE(demo);
        ModelWorld world;
        const auto model = world.idleModel({.simulation = demo});
        model->pendingHardwareRefresh.set(true);
        model->isRefreshing.set(true);
        (void)model->scheduler().schedule({}, 300, true, [] { return nothing(); });
        const std::map<SystemDisplayControl, bool> requested{
            {SystemDisplayControl::darkMode(), true}};
        model->lastSystemDisplayRequests.set(requested);

        model->suspend();

        EXPECT_EQ(model->isSuspended.get(), !demo);
        EXPECT_EQ(model->context->suspended, !demo);
        EXPECT_EQ(model->pendingHardwareRefresh.get(), demo);
        EXPECT_EQ(model->isRefreshing.get(), demo);
        EXPECT_EQ(model->refreshRevision.get(), demo ? 0 : 1);
        EXPECT_EQ(model->scheduler().isWaiting(), demo);
        EXPECT_EQ(model->lastSystemDisplayRequests.get().has_value(), demo)
            << "the display-preference request is forgotten";
    }
}

TEST(ContextTest, DemoModeIgnoresContextChanges)
{
    ModelWorld world;
    installDefaultWorld(world.mac);
    const auto model = world.idleModel({.simulation = true});
    model->contextChanged();
    model->refreshContext();
    EXPECT_EQ(model->context.get(), RuntimeContext());
    EXPECT_EQ(model->focusMessage.get(), "Checking window access…");
    EXPECT_FALSE(model->scheduler().isWaiting());
}

} // namespace
} // namespace quorvane
