#include "Quorvane/WorkspaceEvents.h"

#include "MacPlatform/Platform.h"
#include "QuorvaneMac/SpaceChangeMonitor.h"

#include <algorithm>
#include <array>
#include <string>

namespace quorvane {
namespace {

bool isHardwareRelevant(std::string_view name)
{
    constexpr std::array hardwareNames{workspaceNotification::didWake,
        workspaceNotification::screensDidWake, workspaceNotification::sessionDidBecomeActive,
        workspaceNotification::didChangeScreenParameters};
    return std::ranges::find(hardwareNames, name) != hardwareNames.end();
}

} // namespace

WorkspaceEvents::WorkspaceEvents(Platform& platform, Executor& mainExecutor)
    : m_spaceChanges(std::make_unique<SpaceChangeMonitor>(platform, mainExecutor))
{
    using namespace workspaceNotification;
    NotificationCenter& workspace = platform.workspaceNotifications;
    observe(workspace, didActivateApplication, &WorkspaceEvents::contextChanged);
    observe(workspace, activeSpaceDidChange, &WorkspaceEvents::contextChanged);
    observe(workspace, didWake, &WorkspaceEvents::contextChanged);
    observe(workspace, screensDidWake, &WorkspaceEvents::contextChanged);
    observe(workspace, sessionDidBecomeActive, &WorkspaceEvents::contextChanged);
    observe(workspace, willSleep, &WorkspaceEvents::willSuspend);
    observe(workspace, screensDidSleep, &WorkspaceEvents::willSuspend);
    observe(workspace, sessionDidResignActive, &WorkspaceEvents::willSuspend);
    observe(platform.notifications, didChangeScreenParameters, &WorkspaceEvents::contextChanged);
    observe(
        platform.notifications, SpaceChangeMonitor::didChange, &WorkspaceEvents::contextChanged);
}

WorkspaceEvents::~WorkspaceEvents()
{
    // The centres outlive this object; an observer left behind would call into freed memory.
    for (const Registration& registration : m_registrations)
        registration.center.removeObserver(registration.token);
}

void WorkspaceEvents::observe(NotificationCenter& center, std::string_view name,
    void (WorkspaceEvents::*handler)(const Notification&))
{
    const ObserverToken token = center.addObserver(std::string(name),
        [this, handler](const Notification& notification) { (this->*handler)(notification); });
    m_registrations.push_back({.center = center, .token = token});
}

void WorkspaceEvents::contextChanged(const Notification& notification)
{
    if (changed)
        changed(isHardwareRelevant(notification.name));
}

void WorkspaceEvents::willSuspend(const Notification&)
{
    if (suspended)
        suspended();
}

} // namespace quorvane
