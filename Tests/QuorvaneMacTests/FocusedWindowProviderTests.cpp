#include "QuorvaneMac/FocusedWindowProvider.h"

#include "Concurrency/ManualExecutor.h"
#include "QuorvaneMac/AccessibilityPermission.h"
#include "QuorvaneMac/DisplayInventory.h"
#include "SimulatedMac/SimulatedMac.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

namespace quorvane {
namespace {

constexpr std::int32_t writer = 201;
constexpr std::int32_t viewer = 202;
const std::string builtIn = "a0000000-0000-0000-0000-000000000001";
const std::string external = "b0000000-0000-0000-0000-000000000002";

DisplayDevice display(std::string id, Rect bounds, bool isMirrored = false)
{
    return {.id = std::move(id),
        .runtimeID = 1,
        .name = "Display",
        .isMirrored = isMirrored,
        .bounds = bounds};
}

const std::vector<DisplayDevice> defaultDisplays{
    display(builtIn, {.x = 0, .y = 0, .width = 1512, .height = 982}),
    display(external, {.x = 1512, .y = 0, .width = 2560, .height = 1440}),
};

/// The default world, one provider over it, and a count of its change callbacks.
class FocusedWindowProviderTest : public testing::Test {
protected:
    FocusedWindowProviderTest()
    {
        installWorkspaceDefaults(mac);
        provider.changed = [this] { ++changes; };
    }

    std::optional<std::string> snapshot() { return provider.snapshot(defaultDisplays); }
    RunningApplication& application(std::int32_t pid)
    {
        return *std::ranges::find(
            mac.workspace.applications, pid, &RunningApplication::processIdentifier);
    }
    AccessibilityElement writerWindow() { return *mac.accessibility.focusedWindow(writer); }
    std::size_t windowRegistrations(AccessibilityElement window)
    {
        return mac.accessibility.registrationCount(window, "AXMoved")
            + mac.accessibility.registrationCount(window, "AXResized");
    }
    /// Runs what the main run loop has queued and returns the number of change callbacks.
    int changesAfterRunning()
    {
        executor.runUntilIdle();
        return std::exchange(changes, 0);
    }

    ManualExecutor executor;
    SimulatedMac mac{executor};
    FocusedWindowProvider provider{mac.platform()};
    int changes = 0;
};

TEST_F(FocusedWindowProviderTest, MapsTheFrontmostApplicationsFocusedWindowAndObservesIt)
{
    EXPECT_EQ(provider.appName(), "No active app");
    EXPECT_EQ(mac.accessibility.liveObservers(), 0u);

    EXPECT_EQ(snapshot(), builtIn);
    EXPECT_EQ(snapshot(), builtIn); // the same window again: nothing is registered twice
    EXPECT_EQ(provider.appName(), "Writer");
    EXPECT_EQ(provider.appBundleID(), "com.example.Writer");
    EXPECT_EQ(provider.message(), "Window access active");
    const AccessibilityElement application = mac.accessibility.applicationElement(writer);
    EXPECT_EQ(mac.accessibility.messagingTimeout(application), 0.2f);
    EXPECT_EQ(mac.accessibility.liveObservers(), 1u);
    EXPECT_EQ(mac.accessibility.sourcesOnMainRunLoop(), 1u);
    for (const char* name :
        {"AXFocusedWindowChanged", "AXApplicationActivated", "AXUIElementDestroyed"})
        EXPECT_EQ(mac.accessibility.registrationCount(application, name), 1u) << name;
    EXPECT_EQ(windowRegistrations(writerWindow()), 2u);
    EXPECT_EQ(std::ranges::count_if(mac.accessibility.registrationCalls,
                  [](const auto& call) {
                      return call.kind == SimulatedAccessibility::RegistrationCall::Kind::add
                          && call.notification == "AXMoved";
                  }),
        1);
}

TEST_F(FocusedWindowProviderTest, FollowsNothingUntilAnotherRegularApplicationComesToTheFront)
{
    for (const std::optional<std::int32_t> front :
        {std::optional<std::int32_t>(), std::optional(100)}) {
        SCOPED_TRACE(front ? "itself" : "none");
        mac.workspace.frontmostProcess = front;
        EXPECT_EQ(snapshot(), std::nullopt);
        EXPECT_EQ(provider.message(), "No focused app");
        EXPECT_EQ(provider.appName(), "No active app");
        EXPECT_EQ(mac.accessibility.liveObservers(), 0u);
    }
}

TEST_F(FocusedWindowProviderTest,
    KeepsFollowingThePreviousApplicationWhileItselfOrANonRegularOneIsInFront)
{
    ASSERT_EQ(snapshot(), builtIn);
    struct Case {
        const char* name;
        RunningApplication front;
        std::optional<std::string> ownBundleIdentifier = "com.quorvane.Quorvane";
    };
    const Case cases[] = {
        {"own process", {.processIdentifier = 100, .bundleIdentifier = "com.other"}},
        {"own bundle", {.processIdentifier = 300, .bundleIdentifier = "com.quorvane.Quorvane"}},
        {"both without bundle", {.processIdentifier = 300}, std::nullopt},
        {"accessory",
            {.processIdentifier = 300,
                .bundleIdentifier = "com.menu",
                .activationPolicy = ActivationPolicy::accessory}},
        {"background",
            {.processIdentifier = 300,
                .bundleIdentifier = "com.agent",
                .activationPolicy = ActivationPolicy::prohibited}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        mac.workspace.ownBundleIdentifier = c.ownBundleIdentifier;
        mac.workspace.applications.push_back(c.front);
        mac.workspace.frontmostProcess = c.front.processIdentifier;
        (void)mac.accessibility.addWindow(
            c.front.processIdentifier, {.x = 2000, .y = 100, .width = 500, .height = 500});
        EXPECT_EQ(snapshot(), builtIn);
        EXPECT_EQ(provider.appName(), "Writer");
        EXPECT_EQ(provider.appBundleID(), "com.example.Writer");
        EXPECT_EQ(mac.accessibility.registrationCount(
                      mac.accessibility.applicationElement(writer), "AXApplicationActivated"),
            1u);
        mac.workspace.applications.pop_back();
    }
    mac.workspace.frontmostProcess.reset();
    EXPECT_EQ(snapshot(), builtIn);
    EXPECT_EQ(provider.appName(), "Writer");
}

TEST_F(FocusedWindowProviderTest, SwitchingApplicationsMovesTheObserverToTheNewProcess)
{
    ASSERT_EQ(snapshot(), builtIn);
    application(viewer).localizedName.reset();
    mac.workspace.frontmostProcess = viewer;
    EXPECT_EQ(snapshot(), external);
    EXPECT_EQ(provider.appName(), "Unknown app");
    EXPECT_EQ(mac.accessibility.liveObservers(), 1u);
    EXPECT_EQ(mac.accessibility.registrationCount(
                  mac.accessibility.applicationElement(viewer), "AXFocusedWindowChanged"),
        1u);
    EXPECT_EQ(mac.accessibility.registrationCount(
                  mac.accessibility.applicationElement(writer), "AXFocusedWindowChanged"),
        0u);
    // The old application's windows no longer report.
    mac.accessibility.setFrame(writerWindow(), {.x = 10, .y = 10, .width = 900, .height = 700});
    EXPECT_EQ(changesAfterRunning(), 0);
}

TEST_F(
    FocusedWindowProviderTest, WithoutTrustReportsThePermissionAndDropsTheObserverUntilTrustReturns)
{
    ASSERT_EQ(snapshot(), builtIn);
    mac.accessibility.trusted = false;
    EXPECT_FALSE(provider.isTrusted());
    EXPECT_EQ(snapshot(), std::nullopt);
    EXPECT_EQ(provider.message(), "Allow window access to follow the focused screen.");
    EXPECT_EQ(mac.accessibility.liveObservers(), 0u);
    EXPECT_EQ(mac.accessibility.promptsShown, 0u);

    mac.accessibility.trusted = true;
    EXPECT_EQ(snapshot(), builtIn);
    EXPECT_EQ(mac.accessibility.liveObservers(), 1u);
    EXPECT_EQ(windowRegistrations(writerWindow()), 2u);
}

TEST_F(
    FocusedWindowProviderTest, RequestingPermissionPromptsAndOpensSettingsOnlyWhileStillUntrusted)
{
    mac.accessibility.trusted = false;
    provider.requestPermission();
    EXPECT_EQ(mac.accessibility.promptsShown, 1u);
    EXPECT_EQ(mac.workspace.openedURLs,
        std::vector<std::string>{std::string(accessibilityPrivacySettingsLink)});

    mac.accessibility.promptGrantsTrust = true;
    provider.requestPermission();
    EXPECT_EQ(mac.accessibility.promptsShown, 2u);
    EXPECT_EQ(mac.workspace.openedURLs.size(), 1u);
    EXPECT_TRUE(provider.isTrusted());
}

TEST_F(FocusedWindowProviderTest, AQuitApplicationGivesNoFocusedApp)
{
    for (const bool lingers : {false, true}) {
        SCOPED_TRACE(lingers ? "terminated" : "gone");
        mac.workspace.applications.clear();
        installWorkspaceDefaults(mac);
        ASSERT_EQ(snapshot(), builtIn);
        if (lingers)
            application(writer).isTerminated = true;
        else
            std::erase_if(mac.workspace.applications, [](const RunningApplication& running) {
                return running.processIdentifier == writer;
            });
        mac.workspace.frontmostProcess.reset();
        EXPECT_EQ(snapshot(), std::nullopt);
        EXPECT_EQ(provider.message(), "No focused app");
        EXPECT_EQ(provider.appBundleID(), std::nullopt);
    }
}

TEST_F(FocusedWindowProviderTest, AFocusedWindowThatCannotBeReadIsReported)
{
    using Reply = SimulatedAccessibility::AttributeReply;
    struct Case {
        const char* name;
        Reply reply;
    };
    const Case cases[] = {
        {"read fails", {.status = AccessibilityErrors::cannotComplete}},
        {"no value", {}},
        {"not an element", {.value = AccessibilityValue::other(PlatformValue::text("Window"))}},
        {"a geometry",
            {.value = AccessibilityValue::geometry({.type = AccessibilityValueType::rect})}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_EQ(snapshot(), builtIn);
        mac.accessibility.overrideAttribute(
            mac.accessibility.applicationElement(writer), "AXFocusedWindow", c.reply);
        EXPECT_EQ(snapshot(), std::nullopt);
        EXPECT_EQ(provider.message(), "The active app has no accessible focused window.");
        mac.accessibility.overrideAttribute(mac.accessibility.applicationElement(writer),
            "AXFocusedWindow", {.value = AccessibilityValue::element(writerWindow())});
    }
}

TEST_F(FocusedWindowProviderTest, UnreadableOrUnextractableGeometryIsReported)
{
    using Reply = SimulatedAccessibility::AttributeReply;
    const auto point
        = AccessibilityValue::geometry({.type = AccessibilityValueType::point, .x = 10, .y = 10});
    const auto size = AccessibilityValue::geometry(
        {.type = AccessibilityValueType::size, .width = 5, .height = 5});
    struct Case {
        const char* name;
        Reply position;
        Reply size;
    };
    const Case cases[] = {
        {"position fails", {.status = AccessibilityErrors::cannotComplete}, {.value = size}},
        {"size gives nothing", {.value = point}, {}},
        {"size not geometry", {.value = point},
            {.value = AccessibilityValue::other(PlatformValue::integer(5))}},
        {"position is a size", {.value = size}, {.value = size}},
        {"size is a point", {.value = point}, {.value = point}},
    };
    const AccessibilityElement window = writerWindow();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        mac.accessibility.overrideAttribute(window, "AXPosition", {.value = point});
        mac.accessibility.overrideAttribute(window, "AXSize", {.value = size});
        ASSERT_EQ(snapshot(), builtIn);
        mac.accessibility.overrideAttribute(window, "AXPosition", c.position);
        mac.accessibility.overrideAttribute(window, "AXSize", c.size);
        EXPECT_EQ(snapshot(), std::nullopt);
        EXPECT_EQ(provider.message(), "Focused window geometry unavailable");
    }
}

TEST_F(FocusedWindowProviderTest, AWindowOnlyOnAMirroredDisplayOrNowhereClearsThePreviousResult)
{
    const std::vector<DisplayDevice> mirrored{
        display(builtIn, {.x = 0, .y = 0, .width = 1512, .height = 982}, true),
        defaultDisplays[1],
    };
    const AccessibilityElement window = writerWindow();
    struct Case {
        const char* name;
        std::vector<DisplayDevice> displays;
        Rect frame;
    };
    const Case cases[] = {
        {"mirrored", mirrored, {.x = 100, .y = 100, .width = 500, .height = 500}},
        {"outside", defaultDisplays, {.x = -900, .y = 100, .width = 500, .height = 500}},
        {"touching an edge", defaultDisplays, {.x = 0, .y = 982, .width = 500, .height = 500}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        // The external display wins first, so a kept previous result would show below.
        mac.accessibility.setFrame(window, {.x = 1512, .y = 100, .width = 500, .height = 500});
        ASSERT_EQ(snapshot(), external);
        mac.accessibility.setFrame(window, c.frame);
        EXPECT_EQ(provider.snapshot(c.displays), std::nullopt);
        EXPECT_EQ(provider.message(), "Focused screen unavailable or mirrored");
        // Straddling both equally now goes to the identifier that sorts first.
        mac.accessibility.setFrame(window, {.x = 1012, .y = 100, .width = 1000, .height = 500});
        EXPECT_EQ(snapshot(), builtIn);
    }
}

TEST_F(FocusedWindowProviderTest, AWindowStraddlingTwoDisplaysEquallyStaysWithThePreviousResult)
{
    const AccessibilityElement window = writerWindow();
    mac.accessibility.setFrame(window, {.x = 1600, .y = 100, .width = 500, .height = 500});
    ASSERT_EQ(snapshot(), external);
    mac.accessibility.setFrame(window, {.x = 1012, .y = 100, .width = 1000, .height = 500});
    EXPECT_EQ(snapshot(), external);
    mac.accessibility.setFrame(window, {.x = 1011, .y = 100, .width = 1000, .height = 500});
    EXPECT_EQ(snapshot(), builtIn);
}

TEST_F(FocusedWindowProviderTest, EachWindowNotificationCallsChangedOnceOnTheMainExecutor)
{
    ASSERT_EQ(snapshot(), builtIn);
    SimulatedAccessibility& accessibility = mac.accessibility;
    const AccessibilityElement first = writerWindow();

    accessibility.setFrame(first, {.x = 300, .y = 80, .width = 900, .height = 700});
    EXPECT_EQ(changes, 0); // delivered by the run loop, not inline
    EXPECT_EQ(changesAfterRunning(), 1);
    accessibility.setFrame(first, {.x = 300, .y = 80, .width = 800, .height = 600});
    EXPECT_EQ(changesAfterRunning(), 1);
    accessibility.setFrame(first, {.x = 0, .y = 0, .width = 100, .height = 100});
    EXPECT_EQ(changesAfterRunning(), 2);
    accessibility.activate(writer);
    EXPECT_EQ(changesAfterRunning(), 1);

    const AccessibilityElement second
        = accessibility.addWindow(writer, {.x = 1600, .y = 0, .width = 400, .height = 400});
    accessibility.focusWindow(second);
    EXPECT_EQ(changesAfterRunning(), 1);
    EXPECT_EQ(snapshot(), external);
    EXPECT_EQ(windowRegistrations(first), 0u);
    EXPECT_EQ(windowRegistrations(second), 2u);
    accessibility.setFrame(first, {.x = 10, .y = 10, .width = 100, .height = 100});
    EXPECT_EQ(changesAfterRunning(), 0);
    accessibility.setFrame(second, {.x = 1700, .y = 0, .width = 400, .height = 400});
    EXPECT_EQ(changesAfterRunning(), 1);

    accessibility.closeWindow(second);
    EXPECT_EQ(changesAfterRunning(), 1);
    EXPECT_EQ(snapshot(), builtIn);
}

TEST_F(FocusedWindowProviderTest, AWindowSeenWhileNoObserverCouldBeMadeIsWatchedOnceOneExists)
{
    for (const bool givesNothing : {false, true}) {
        SCOPED_TRACE(givesNothing ? "gives nothing" : "fails");
        mac.accessibility.observerCreationStatus
            = givesNothing ? AccessibilityErrors::success : AccessibilityErrors::cannotComplete;
        mac.accessibility.observerCreationGivesNothing = givesNothing;
        mac.workspace.frontmostProcess = givesNothing ? writer : viewer;
        const std::string expected = givesNothing ? builtIn : external;
        const std::int32_t pid = givesNothing ? writer : viewer;
        EXPECT_EQ(snapshot(), expected);
        EXPECT_EQ(mac.accessibility.liveObservers(), 0u);

        mac.accessibility.observerCreationStatus = AccessibilityErrors::success;
        mac.accessibility.observerCreationGivesNothing = false;
        EXPECT_EQ(snapshot(), expected);
        const AccessibilityElement window = *mac.accessibility.focusedWindow(pid);
        EXPECT_EQ(windowRegistrations(window), 2u);
        const Rect moved = givesNothing ? Rect{.x = 5, .y = 5, .width = 900, .height = 700}
                                        : Rect{.x = 1600, .y = 5, .width = 1400, .height = 900};
        mac.accessibility.setFrame(window, moved);
        EXPECT_EQ(changesAfterRunning(), 1);
    }
}

TEST(FocusedWindowProviderLifetimeTest, DestroyingTheProviderEndsItsObserverAndItsPendingCallbacks)
{
    ManualExecutor executor;
    SimulatedMac mac(executor);
    installWorkspaceDefaults(mac);
    int changes = 0;
    {
        FocusedWindowProvider provider(mac.platform());
        provider.changed = [&] { ++changes; };
        ASSERT_EQ(provider.snapshot(defaultDisplays), builtIn);
        mac.accessibility.activate(writer);
    }
    EXPECT_EQ(mac.accessibility.liveObservers(), 0u);
    EXPECT_EQ(mac.accessibility.sourcesOnMainRunLoop(), 0u);
    executor.runUntilIdle();
    EXPECT_EQ(changes, 0);
}

} // namespace
} // namespace quorvane
