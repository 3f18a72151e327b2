#include "Quorvane/AppModel.h"

#include "ContextTestSupport.h"
#include "Quorvane/WorkspaceEvents.h"

#include <gtest/gtest.h>

namespace quorvane {
namespace {

using namespace std::chrono_literals;
using namespace workspaceNotification;

constexpr std::int32_t writerProcess = 201;
constexpr std::int32_t viewerProcess = 202;

Task<void> waitAnHour() { co_await sleep(1h); }
Task<void> nothing() { co_return; }

TEST(ContextTest, RebuildsTheContextFromTheFocusedWindowAndTheSpaces)
{
    // Writer on the built-in display with window access is what the model starts with.
    const std::tuple<std::int32_t, bool, std::optional<std::string>, std::string, std::string>
        cases[] = {
            {viewerProcess, true, defaultExternalID, "Viewer", "Window access active"},
            {writerProcess, false, std::nullopt, "Writer",
                "Allow window access to follow the focused screen."},
        };
    for (const auto& [process, trusted, focusedDisplayID, app, message] : cases) {
        SCOPED_TRACE(app);
        ContextWorld world;
        const auto model = world.start();
        world.mac.workspace.frontmostProcess = process;
        world.mac.accessibility.trusted = trusted;

        model->refreshContext();

        const RuntimeContext& context = model->context.get();
        EXPECT_EQ(
            std::tuple(context.focusedDisplayID, context.appBundleID, model->currentAppName.get(),
                model->focusMessage.get(), model->hasWindowAccess.get()),
            std::tuple(focusedDisplayID, "com.example." + app, app, message, trusted));
        ASSERT_EQ(context.displays.size(), 2u);
        EXPECT_EQ(context.displays[0].id, defaultBuiltInID);
        for (const DisplayContext& display : context.displays)
            EXPECT_EQ(
                display.activeSpaceID, model->spacesByDisplay->at(display.id).current.value().id);
        EXPECT_FALSE(context.suspended);
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
        document.debounceMilliseconds = 5000; // the debounce stays fixed at 300 ms
        for (Profile& profile : document.profiles.editEach()) {
            if (profile.id == document.activeProfileID)
                profile.rules.push_back(viewerRule);
        }
    });
    int resolutions = 0;
    const Subscription counting = model->resolution.observe([&] { ++resolutions; });

    // Each would publish a different plan if resolved.
    for (const std::int32_t process : {viewerProcess, writerProcess, viewerProcess}) {
        world.mac.workspace.frontmostProcess = process;
        model->contextChanged();
        world.executor.advance(100ms);
    }
    world.executor.advance(199ms);
    EXPECT_EQ(resolutions, 0);
    world.executor.advance(1ms);
    EXPECT_EQ(resolutions, 1);
    EXPECT_TRUE(model->resolution->rules.at(viewerRule.id).matches);
}

TEST(ContextTest, OnlyAChangedContextClearsFailuresAndCancelsCommands)
{
    for (const bool focusMoves : {false, true}) {
        SCOPED_TRACE(focusMoves);
        ContextWorld world;
        const auto model = world.start();
        model->failed.set({{{.target = ControlTarget::display(defaultBuiltInID),
                                .setting = SettingKey::brightness},
            SettingValue::percent(0.5)}});
        TaskOutcome<void> modeCommand;
        model->modeTasks.set(
            {{defaultBuiltInID, spawn(world.executor, recordOutcome(waitAnHour(), modeCommand))}});
        if (focusMoves)
            world.mac.workspace.frontmostProcess = viewerProcess;

        model->contextChanged();
        world.executor.runUntilIdle();

        EXPECT_EQ(model->failed->empty(), focusMoves);
        EXPECT_EQ(model->scheduler().isWaiting(), focusMoves);
        EXPECT_EQ(modeCommand.isCancelled, focusMoves);
    }
}

TEST(ContextTest, ChangesAreIgnoredWhileSuspendedUntilTheWakeRefresh)
{
    ContextWorld world;
    const auto model = world.start();
    const auto activate = [&](std::int32_t process) {
        world.mac.workspace.frontmostProcess = process;
        post(world.mac.workspaceNotifications, didActivateApplication);
    };
    post(world.mac.workspaceNotifications, willSleep);
    EXPECT_TRUE(model->context->suspended);
    activate(viewerProcess);
    world.executor.runUntilIdle();
    EXPECT_EQ(model->context->appBundleID, "com.example.Writer");
    EXPECT_FALSE(model->scheduler().isWaiting());

    post(world.mac.workspaceNotifications, didWake);
    world.executor.runUntilIdle();
    EXPECT_FALSE(model->isSuspended.get());
    EXPECT_EQ(model->context->appBundleID, "com.example.Viewer");
    EXPECT_FALSE(model->context->suspended);
    activate(writerProcess);
    EXPECT_EQ(model->context->appBundleID, "com.example.Writer");
    EXPECT_TRUE(model->scheduler().isWaiting());
}

TEST(ContextTest, HardwareEventLeavesTheContextToTheRefresh)
{
    ContextWorld world;
    const auto model = world.start();
    world.mac.workspace.frontmostProcess = viewerProcess;

    model->events().changed(true);

    EXPECT_FALSE(model->scheduler().isWaiting()) << "the refresh rebuilds the context itself";
    EXPECT_EQ(model->context->appBundleID, "com.example.Writer");
}

TEST(ContextTest, SuspendStopsAutomaticWorkAndDemoModeKeepsItsContext)
{
    for (const bool demo : {false, true}) {
        SCOPED_TRACE(demo);
        ModelWorld world;
        installDefaultWorld(world.mac);
        const auto model = world.idleModel({.simulation = demo});
        // The demo set-up owns the context.
        model->contextChanged();
        model->refreshContext();
        EXPECT_EQ(model->context.get() == RuntimeContext(), demo);
        EXPECT_EQ(model->scheduler().isWaiting(), !demo);
        model->pendingHardwareRefresh.set(true);
        model->isRefreshing.set(true);
        (void)model->scheduler().schedule({}, 300, true, [] { return nothing(); });
        model->lastSystemDisplayRequests.set({{{SystemDisplayControl::darkMode(), true}}});

        model->suspend();

        EXPECT_EQ(model->isSuspended.get(), !demo);
        EXPECT_EQ(model->context->suspended, !demo);
        EXPECT_EQ(model->pendingHardwareRefresh.get(), demo);
        EXPECT_EQ(model->isRefreshing.get(), demo);
        EXPECT_EQ(model->refreshRevision.get(), demo ? 0 : 1);
        EXPECT_EQ(model->scheduler().isWaiting(), demo);
        EXPECT_EQ(model->lastSystemDisplayRequests.get().has_value(), demo);
    }
}

} // namespace
} // namespace quorvane
