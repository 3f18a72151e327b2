// SimulatedSkyLight.h: the window server's private SkyLight image in the simulated Mac: the
// managed display Spaces, the current Space per display, Space-change notification callbacks
// and the appearance theme, each Space function under its "SLS" name and its "CGS" fallback.
#pragma once

#include "MacPlatform/SkyLight.h"

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace quorvane {

class SimulatedMac;
struct SimulatedWorld;

/// One Space as the window server lists it.
struct SimulatedSpace {
    std::uint64_t runtimeID = 0;
    /// Absent for a Space the window server names by runtime identifier only.
    std::optional<std::string> uuid{};
    /// 0 for a user desktop; full-screen applications' Spaces have other types.
    std::int64_t type = 0;
};

/// The Spaces of one display entry, in order, and the active one's runtime identifier.
struct SimulatedDisplaySpaces {
    std::vector<SimulatedSpace> spaces{};
    std::uint64_t currentSpace = 0;
};

/// The state behind the image's functions; tests change it through the pointer the installer
/// returns. Which layout is reported follows `mac.world.screensHaveSeparateSpaces`.
struct SimulatedSkyLight {
    static constexpr const char* imagePath
        = "/System/Library/PrivateFrameworks/SkyLight.framework/SkyLight";

    /// This process's connection; calls with any other connection get nothing.
    WindowServerConnection connection = 0x4D03;
    /// By lower-case display UUID, for online displays while displays have separate Spaces.
    std::map<std::string, SimulatedDisplaySpaces> displaySpaces;
    /// The one entry, "Main", while all displays share their Spaces.
    SimulatedDisplaySpaces sharedSpaces;
    /// When set, the Spaces copy returns exactly this instead (for odd or broken topologies).
    std::optional<std::optional<PropertyList>> topologyOverride;
    /// The current-Space query answers 0 while false, as it does on some versions.
    bool reportsCurrentSpace = true;
    bool darkMode = false;
    /// What registering a notification callback returns.
    WindowServerStatus registerStatus = 0;

    struct Registration {
        WindowServerNotifyProc callback;
        std::uint32_t eventType;
        void* context;
    };
    std::vector<Registration> registrations;
    /// The names of the latest functions called (see logCall()), in order.
    std::vector<std::string> calls;

    /// Calls every callback registered for event 1401, as the window server does when the
    /// active Space changes (from its own thread on a real Mac).
    void fireSpaceChange() const;
    /// The managed display Spaces as the copy function reports them for `world` now.
    [[nodiscard]] PropertyList managedDisplaySpaces(SimulatedWorld& world) const;
};

/// Defines the SkyLight image with every Space function under both names and the two appearance
/// functions, over `initial`.
std::shared_ptr<SimulatedSkyLight> installSkyLight(
    SimulatedMac& mac, SimulatedSkyLight initial = {});
/// The default world's SkyLight, with a running Dock: the built-in display 1 has two desktops,
/// the second active, and the external display 2 one; Dark Mode off.
std::shared_ptr<SimulatedSkyLight> installSkyLightDefaults(SimulatedMac& mac);

/// Starts the Dock under `processIdentifier`, replacing a Dock already running (a restart).
void launchDock(SimulatedMac& mac, std::int32_t processIdentifier);
void quitDock(SimulatedMac& mac);

} // namespace quorvane
