// BrightnessKeyMonitor.h: intercepts the keyboard's brightness keys with an event tap, so that
// the application can apply each press itself.
#pragma once

#include "MacPlatform/EventTaps.h"
#include "QuorvaneCore/BrightnessKeys.h"

#include <functional>
#include <optional>
#include <string>

namespace quorvane {

struct Platform;

/// Whether brightness keys can be intercepted.
enum class BrightnessKeyStatus {
    off, // not requested, or stopped
    needsPermission, // requested, but the process is not trusted for Accessibility
    active, // the tap is installed and enabled
    unavailable, // trusted, but the tap could not be made or the system disabled it
};

/// Owns at most one event tap on the main run loop. Main executor only; destroying the monitor
/// removes its tap.
class BrightnessKeyMonitor final {
public:
    explicit BrightnessKeyMonitor(Platform& platform);
    ~BrightnessKeyMonitor();

    // The tap's callback carries this object's address.
    BrightnessKeyMonitor(const BrightnessKeyMonitor&) = delete;
    BrightnessKeyMonitor& operator=(const BrightnessKeyMonitor&) = delete;

    /// Asked, inside the tap, whether a brightness key-down is taken; true swallows the key-down
    /// and its key-up. Must answer at once. Absent: every key passes.
    std::function<bool(BrightnessKeyDirection)> pressed;

    [[nodiscard]] BrightnessKeyStatus status() const { return m_status; }

    /// The System Settings privacy pane to name in messages, by system version.
    [[nodiscard]] static std::string permissionPaneName(Platform& platform);

    /// Starts or stops interception. Only tests trust, never prompts; keeps a tap that is still
    /// enabled.
    void update(bool enabled);
    /// Removes any tap and forgets captured keys; the status becomes off.
    void stop();
    /// Shows the system's trust prompt and, while still untrusted, opens the Accessibility
    /// settings.
    void requestPermission();

private:
    /// Whether the event must be swallowed.
    [[nodiscard]] bool handle(EventType type, EventReference event);
    [[nodiscard]] std::optional<BrightnessKeyEvent> decode(EventType type, EventReference event);
    void installTap();
    static std::optional<EventReference> tapCallback(
        EventType type, EventReference event, void* userInfo);

    Platform& m_platform;
    BrightnessKeyStatus m_status = BrightnessKeyStatus::off;
    std::optional<EventTapPort> m_port;
    std::optional<RunLoopSource> m_source;
    BrightnessKeyRouter m_router;
};

} // namespace quorvane
