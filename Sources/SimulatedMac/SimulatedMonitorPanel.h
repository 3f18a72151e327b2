// SimulatedMonitorPanel.h: the private MonitorPanel framework on the simulated Mac: its display
// manager class "MPDisplayMgr" with one display object per display, the HDR preference of each,
// and the access lock that another client of the manager may hold.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace quorvane {

class SimulatedMac;

inline constexpr const char* monitorPanelImagePath
    = "/System/Library/PrivateFrameworks/MonitorPanel.framework/MonitorPanel";

/// What the manager knows of one display.
struct SimulatedMonitorPanelDisplay {
    /// The world display it stands for, matched ignoring case; listed only while that display is
    /// in the world, answering its current number.
    std::string uuid{};
    bool hasHDRModes = true;
    bool prefersHDR = false;
    /// A number "displayID" answers in place of the world's, as a stale object would.
    std::optional<std::int32_t> reportedDisplayID{};
};

struct SimulatedMonitorPanel {
    /// In the manager's order; shared with the display objects the manager hands out.
    std::vector<std::shared_ptr<SimulatedMonitorPanelDisplay>> displays;
    /// Another client holds the access lock: "tryLockAccess" answers false.
    bool isLockedByAnotherClient = false;
    /// Taken by a successful "tryLockAccess", released by "unlockAccess".
    bool isLocked = false;
    /// How long a display takes to follow "setPreferHDRModes:" on the world's clock.
    std::chrono::nanoseconds switchDelay{0};
    /// The latest "tryLockAccess", "unlockAccess", and "setPreferHDRModes: " with "YES" or "NO",
    /// in order (see logCall()).
    std::vector<std::string> messages;

    /// Adds a display the manager lists; the entry can be changed later.
    SimulatedMonitorPanelDisplay& addDisplay(SimulatedMonitorPanelDisplay display);
};

/// Opens the framework's image and defines "MPDisplayMgr" and its display objects' class, with
/// no displays yet. The returned state is shared with the methods.
std::shared_ptr<SimulatedMonitorPanel> installMonitorPanel(SimulatedMac& mac);

/// installMonitorPanel() listing every display of the world, the external ones with HDR modes
/// (preference off) and the built-in ones without.
std::shared_ptr<SimulatedMonitorPanel> installMonitorPanelDefaults(SimulatedMac& mac);

} // namespace quorvane
