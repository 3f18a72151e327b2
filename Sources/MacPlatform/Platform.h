// Platform.h: the bundle of platform services every class of the platform layer receives in its
// constructor. Nothing global: each test builds its own simulated world behind one.
#pragma once

namespace quorvane {

class Accessibility;
class CoreGraphics;
class DynamicLoader;
class EventTaps;
class IORegistry;
class NotificationCenter;
class ObjectRuntime;
class ProcessInfo;
class Screens;
class Workspace;

/// References to services that outlive every object built on them.
struct Platform {
    CoreGraphics& graphics;
    Screens& screens;
    ProcessInfo& process;
    DynamicLoader& loader;
    ObjectRuntime& objects;
    IORegistry& registry;
    Workspace& workspace;
    /// The default centre, where our own notifications go.
    NotificationCenter& notifications;
    /// NSWorkspace's centre: application activation, sleep and wake, session changes.
    NotificationCenter& workspaceNotifications;
    Accessibility& accessibility;
    EventTaps& eventTaps;
};

} // namespace quorvane
