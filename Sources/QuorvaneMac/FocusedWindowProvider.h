// FocusedWindowProvider.h: which display holds the focused window of the application the user
// works in, read through Accessibility, and a callback when that window changes or moves.
#pragma once

#include "MacPlatform/Accessibility.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quorvane {

struct DisplayDevice;
struct Platform;
struct Rect;
struct RunningApplication;

/// Follows the frontmost regular application other than this one, and maps its focused window to
/// a display. Main executor only. Registers with the system only from snapshot(); its observer
/// lives until the followed application changes, trust is lost or the provider is destroyed.
class FocusedWindowProvider final {
public:
    explicit FocusedWindowProvider(Platform& platform);
    ~FocusedWindowProvider();

    // The observer's registrations carry this object's address.
    FocusedWindowProvider(const FocusedWindowProvider&) = delete;
    FocusedWindowProvider& operator=(const FocusedWindowProvider&) = delete;

    /// Called on the main executor when the focused window changes, moves, is resized or is
    /// destroyed, or the followed application is activated. Must return at once.
    std::function<void()> changed;

    [[nodiscard]] const std::optional<std::string>& appBundleID() const { return m_appBundleID; }
    [[nodiscard]] const std::string& appName() const { return m_appName; }
    [[nodiscard]] const std::string& message() const { return m_message; }

    /// Whether the process is trusted for Accessibility; never prompts.
    [[nodiscard]] bool isTrusted() const;
    /// Shows the system's prompt and, while still untrusted, opens the Accessibility settings.
    void requestPermission();

    /// The identifier of the display, among those not mirrored, that holds the followed
    /// application's focused window; absent when there is none. Updates the name, bundle
    /// identifier and message as it goes.
    [[nodiscard]] std::optional<std::string> snapshot(const std::vector<DisplayDevice>& displays);

private:
    [[nodiscard]] bool isThisApplication(const RunningApplication& application) const;
    void followFrontmostApplication();
    [[nodiscard]] bool followedApplicationIsRunning() const;
    void watch(AccessibilityElement window);
    void startObserver(std::int32_t pid, AccessibilityElement application);
    void stopObserver();
    /// The window's frame from its position and size; absent when either cannot be read.
    [[nodiscard]] std::optional<Rect> frameOf(AccessibilityElement window);
    [[nodiscard]] std::optional<AccessibilityGeometry> readGeometry(
        AccessibilityElement element, std::string_view attribute);
    static void observerCallback(AccessibilityObserver observer, AccessibilityElement element,
        std::string_view notification, void* context);

    Platform& m_platform;
    std::optional<std::string> m_appBundleID;
    std::string m_appName = "No active app";
    std::string m_message = "Allow window access to follow the focused screen.";
    std::optional<std::int32_t> m_pid;
    std::optional<AccessibilityObserver> m_observer;
    /// Set only while an observer exists, so that a window whose moves could not be registered
    /// is registered once an observer is created.
    std::optional<AccessibilityElement> m_watchedWindow;
    std::optional<std::string> m_previousDisplay;
};

} // namespace quorvane
