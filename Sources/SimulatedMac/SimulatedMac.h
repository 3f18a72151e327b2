// SimulatedMac.h: one simulated Mac: its world and every platform service over it, bundled as
// the Platform the platform layer is built on.
#pragma once

#include "MacPlatform/Platform.h"
#include "SimulatedMac/SimulatedAccessibility.h"
#include "SimulatedMac/SimulatedEventTaps.h"
#include "SimulatedMac/SimulatedGraphics.h"
#include "SimulatedMac/SimulatedIORegistry.h"
#include "SimulatedMac/SimulatedLoader.h"
#include "SimulatedMac/SimulatedNotificationCenter.h"
#include "SimulatedMac/SimulatedObjectRuntime.h"
#include "SimulatedMac/SimulatedWorkspace.h"
#include "SimulatedMac/SimulatedWorld.h"

namespace quorvane {

class Executor;

/// Owns the world and its services; tests change the public members to set up each case (the
/// world's displays and knobs, the loader's images, the runtime's classes, and each service's
/// own state). Lives on one executor.
class SimulatedMac final {
public:
    /// An empty world: no displays, no images, no classes.
    explicit SimulatedMac(Executor& executor);

    // The platform bundle refers to the members.
    SimulatedMac(const SimulatedMac&) = delete;
    SimulatedMac& operator=(const SimulatedMac&) = delete;

    [[nodiscard]] Platform& platform() { return m_platform; }

    SimulatedWorld world;
    SimulatedGraphics graphics;
    SimulatedScreens screens;
    SimulatedProcessInfo process;
    SimulatedLoader loader;
    SimulatedObjectRuntime objects;
    SimulatedIORegistry registry;
    SimulatedWorkspace workspace;
    SimulatedNotificationCenter notifications;
    SimulatedNotificationCenter workspaceNotifications;
    SimulatedAccessibility accessibility;
    SimulatedEventTaps eventTaps;

private:
    Platform m_platform;
};

} // namespace quorvane
