// SpaceChangeMonitor.h: turns the window server's Space-change event into the notification
// "QuorvaneWindowServerSpaceDidChange" on the main executor.
#pragma once

#include "MacPlatform/SkyLight.h"

#include <functional>
#include <memory>
#include <optional>
#include <string_view>

namespace quorvane {

class Executor;
class NotificationCenter;
struct Platform;

/// Registered with the window server from construction to destruction. Each Space-change event
/// posts one `didChange` notification, with no user information, on the platform's default
/// centre, from work queued on the main executor: the event may arrive on any thread, and
/// observers must not run inside the window server's callback.
class SpaceChangeMonitor final {
public:
    static constexpr std::string_view didChange = "QuorvaneWindowServerSpaceDidChange";
    /// The window server's event number for a change of the active Space.
    static constexpr std::uint32_t spaceChangeEvent = 1401;

    /// Registers at once; `mainExecutor` must outlive every event the window server delivers
    /// while the monitor is registered.
    SpaceChangeMonitor(Platform& platform, Executor& mainExecutor);
    /// Unregisters when the registration succeeded.
    ~SpaceChangeMonitor();

    // The window server holds the address of the route.
    SpaceChangeMonitor(const SpaceChangeMonitor&) = delete;
    SpaceChangeMonitor& operator=(const SpaceChangeMonitor&) = delete;

    /// True when the registration succeeded; otherwise nothing is ever posted.
    [[nodiscard]] bool isAvailable() const { return m_isAvailable; }

    /// Where the callback sends its work. There is no process-wide default centre or main
    /// queue here, so the registration's context carries them.
    struct Route {
        Executor& mainExecutor;
        NotificationCenter& center;
    };

private:
    std::unique_ptr<Route> m_route;
    std::optional<std::function<skylight::NotifyProcRegistration>> m_remove;
    bool m_isAvailable = false;
};

} // namespace quorvane
