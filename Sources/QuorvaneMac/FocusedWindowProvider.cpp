#include "QuorvaneMac/FocusedWindowProvider.h"

#include "MacPlatform/Platform.h"
#include "MacPlatform/Workspace.h"
#include "QuorvaneCore/FocusedScreenResolver.h"
#include "QuorvaneCore/Rect.h"
#include "QuorvaneMac/AccessibilityPermission.h"
#include "QuorvaneMac/DisplayInventory.h"

#include <algorithm>
#include <map>

namespace quorvane {
namespace {

// Each request of a snapshot is synchronous; an application that does not answer must not hold
// up the main executor for long.
constexpr float messagingTimeoutSeconds = 0.2f;

constexpr std::string_view applicationNotifications[]
    = {"AXFocusedWindowChanged", "AXApplicationActivated", "AXUIElementDestroyed"};
constexpr std::string_view windowNotifications[] = {"AXMoved", "AXResized"};

const std::string noFocusedApp = "No focused app";
const std::string allowWindowAccess = "Allow window access to follow the focused screen.";
const std::string noFocusedWindow = "The active app has no accessible focused window.";
const std::string geometryUnavailable = "Focused window geometry unavailable";
const std::string screenUnavailable = "Focused screen unavailable or mirrored";
const std::string accessActive = "Window access active";

std::map<std::string, Rect> unmirroredScreens(const std::vector<DisplayDevice>& displays)
{
    std::map<std::string, Rect> screens;
    for (const DisplayDevice& display : displays)
        if (!display.isMirrored)
            screens.emplace(display.id, display.bounds);
    return screens;
}

} // namespace

FocusedWindowProvider::FocusedWindowProvider(Platform& platform)
    : m_platform(platform)
{
}

FocusedWindowProvider::~FocusedWindowProvider() { stopObserver(); }

bool FocusedWindowProvider::isTrusted() const
{
    return m_platform.accessibility.isProcessTrusted();
}

void FocusedWindowProvider::requestPermission() { requestAccessibilityPermission(m_platform); }

std::optional<std::string> FocusedWindowProvider::snapshot(
    const std::vector<DisplayDevice>& displays)
{
    followFrontmostApplication();
    if (!followedApplicationIsRunning()) {
        m_appBundleID.reset();
        m_message = noFocusedApp;
        return std::nullopt;
    }
    Accessibility& accessibility = m_platform.accessibility;
    if (!accessibility.isProcessTrusted()) {
        stopObserver();
        m_message = allowWindowAccess;
        return std::nullopt;
    }

    const AccessibilityElement application = accessibility.createApplicationElement(*m_pid);
    (void)accessibility.setMessagingTimeout(application, messagingTimeoutSeconds);
    startObserver(*m_pid, application);

    std::optional<AccessibilityValue> focused;
    const AccessibilityStatus status
        = accessibility.copyAttributeValue(application, "AXFocusedWindow", focused);
    const auto* window = focused ? std::get_if<AccessibilityElement>(&focused->value) : nullptr;
    if (status != AccessibilityErrors::success || !window) {
        m_message = noFocusedWindow;
        return std::nullopt;
    }
    watch(*window);

    const std::optional<Rect> frame = frameOf(*window);
    if (!frame) {
        m_message = geometryUnavailable;
        return std::nullopt;
    }
    m_previousDisplay
        = FocusedScreenResolver::resolve(*frame, unmirroredScreens(displays), m_previousDisplay);
    m_message = m_previousDisplay ? accessActive : screenUnavailable;
    return m_previousDisplay;
}

bool FocusedWindowProvider::isThisApplication(const RunningApplication& application) const
{
    return application.bundleIdentifier == m_platform.workspace.mainBundleIdentifier()
        || application.processIdentifier == m_platform.workspace.currentProcessIdentifier();
}

// While this application or an accessory one is in front, the one followed before stays.
void FocusedWindowProvider::followFrontmostApplication()
{
    const std::optional<RunningApplication> front = m_platform.workspace.frontmostApplication();
    if (!front || isThisApplication(*front) || front->activationPolicy != ActivationPolicy::regular)
        return;
    if (m_pid != front->processIdentifier) {
        stopObserver();
        m_pid = front->processIdentifier;
    }
    m_appBundleID = front->bundleIdentifier;
    m_appName = front->localizedName.value_or("Unknown app");
}

bool FocusedWindowProvider::followedApplicationIsRunning() const
{
    if (!m_pid)
        return false;
    const std::vector<RunningApplication> running = m_platform.workspace.runningApplications();
    return std::ranges::any_of(running, [&](const RunningApplication& application) {
        return application.processIdentifier == *m_pid && !application.isTerminated;
    });
}

// Only a window whose notifications were added is remembered: without an observer the next
// snapshot that has one must still register them.
void FocusedWindowProvider::watch(AccessibilityElement window)
{
    if (m_watchedWindow == window || !m_observer)
        return;
    Accessibility& accessibility = m_platform.accessibility;
    if (m_watchedWindow)
        for (const std::string_view notification : windowNotifications)
            (void)accessibility.removeNotification(*m_observer, *m_watchedWindow, notification);
    m_watchedWindow = window;
    for (const std::string_view notification : windowNotifications)
        (void)accessibility.addNotification(*m_observer, window, notification, this);
}

void FocusedWindowProvider::startObserver(std::int32_t pid, AccessibilityElement application)
{
    if (m_observer)
        return;
    Accessibility& accessibility = m_platform.accessibility;
    std::optional<AccessibilityObserver> observer;
    if (accessibility.createObserver(pid, &observerCallback, observer)
            != AccessibilityErrors::success
        || !observer)
        return;
    m_observer = observer;
    for (const std::string_view notification : applicationNotifications)
        (void)accessibility.addNotification(*observer, application, notification, this);
    accessibility.addToMainRunLoop(
        accessibility.observerRunLoopSource(*observer), RunLoopMode::commonModes);
}

void FocusedWindowProvider::stopObserver()
{
    if (!m_observer)
        return;
    Accessibility& accessibility = m_platform.accessibility;
    accessibility.removeFromMainRunLoop(
        accessibility.observerRunLoopSource(*m_observer), RunLoopMode::commonModes);
    accessibility.releaseObserver(*m_observer);
    m_observer.reset();
    m_watchedWindow.reset();
}

std::optional<Rect> FocusedWindowProvider::frameOf(AccessibilityElement window)
{
    const std::optional<AccessibilityGeometry> position = readGeometry(window, "AXPosition");
    const std::optional<AccessibilityGeometry> size = readGeometry(window, "AXSize");
    if (!position || !size)
        return std::nullopt;
    AccessibilityPoint origin;
    AccessibilitySize extent;
    if (!m_platform.accessibility.valueGetPoint(*position, origin)
        || !m_platform.accessibility.valueGetSize(*size, extent))
        return std::nullopt;
    return Rect{.x = origin.x, .y = origin.y, .width = extent.width, .height = extent.height};
}

std::optional<AccessibilityGeometry> FocusedWindowProvider::readGeometry(
    AccessibilityElement element, std::string_view attribute)
{
    std::optional<AccessibilityValue> value;
    if (m_platform.accessibility.copyAttributeValue(element, attribute, value)
        != AccessibilityErrors::success)
        return std::nullopt;
    const auto* geometry = value ? std::get_if<AccessibilityGeometry>(&value->value) : nullptr;
    if (!geometry)
        return std::nullopt;
    return *geometry;
}

// Which notification it was does not matter: the owner takes a new snapshot either way.
void FocusedWindowProvider::observerCallback(
    AccessibilityObserver, AccessibilityElement, std::string_view, void* context)
{
    if (!context)
        return;
    const auto* provider = static_cast<FocusedWindowProvider*>(context);
    if (provider->changed)
        provider->changed();
}

} // namespace quorvane
