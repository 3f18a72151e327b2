// The session's notifications (applications, Spaces, sleep and wake, screens) reduced to the
// three things the model does about them: re-read the context, re-read the hardware, suspend.
#pragma once

#include "MacPlatform/NotificationCenter.h"

#include <functional>
#include <memory>
#include <string_view>
#include <vector>

namespace quorvane {

class Executor;
class SpaceChangeMonitor;
struct Platform;

/// The system's notification names the events follow.
namespace workspaceNotification {
// On the workspace centre.
inline constexpr std::string_view didActivateApplication
    = "NSWorkspaceDidActivateApplicationNotification";
inline constexpr std::string_view activeSpaceDidChange
    = "NSWorkspaceActiveSpaceDidChangeNotification";
inline constexpr std::string_view didWake = "NSWorkspaceDidWakeNotification";
inline constexpr std::string_view screensDidWake = "NSWorkspaceScreensDidWakeNotification";
inline constexpr std::string_view sessionDidBecomeActive
    = "NSWorkspaceSessionDidBecomeActiveNotification";
inline constexpr std::string_view willSleep = "NSWorkspaceWillSleepNotification";
inline constexpr std::string_view screensDidSleep = "NSWorkspaceScreensDidSleepNotification";
inline constexpr std::string_view sessionDidResignActive
    = "NSWorkspaceSessionDidResignActiveNotification";
// On the default centre.
inline constexpr std::string_view didChangeScreenParameters
    = "NSApplicationDidChangeScreenParametersNotification";
} // namespace workspaceNotification

/// Lives as long as the model. Registers its observers and the Space-change monitor at
/// construction and removes them when destroyed. A notification that arrives while its callback
/// is absent is dropped.
class WorkspaceEvents final {
public:
    /// The Space-change monitor posts from work queued on `mainExecutor`.
    WorkspaceEvents(Platform& platform, Executor& mainExecutor);
    ~WorkspaceEvents();

    // Its observers refer to it.
    WorkspaceEvents(const WorkspaceEvents&) = delete;
    WorkspaceEvents& operator=(const WorkspaceEvents&) = delete;

    /// Called for every context- or hardware-relevant notification; true for hardware-relevant
    /// ones (wake, screens wake, session active, screen parameters).
    std::function<void(bool hardware)> changed;
    /// Called for sleep, screens sleep and session resign.
    std::function<void()> suspended;

private:
    struct Registration {
        NotificationCenter& center;
        ObserverToken token;
    };

    void observe(NotificationCenter& center, std::string_view name,
        void (WorkspaceEvents::*handler)(const Notification&));
    void contextChanged(const Notification& notification);
    void willSuspend(const Notification& notification);

    // Registered with the window server for as long as this object lives.
    std::unique_ptr<SpaceChangeMonitor> m_spaceChanges;
    std::vector<Registration> m_registrations;
};

} // namespace quorvane
