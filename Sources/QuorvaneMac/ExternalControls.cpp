#include "QuorvaneMac/ExternalControls.h"

#include "MacPlatform/DynamicLoader.h"
#include "MacPlatform/Platform.h"
#include "QuorvaneMac/DisplayError.h"

#include <cstdint>
#include <functional>
#include <string_view>
#include <variant>

namespace quorvane {
namespace {

constexpr std::string_view monitorPanelPath
    = "/System/Library/PrivateFrameworks/MonitorPanel.framework/MonitorPanel";

/// The method's implementation, only once the object confirmed that it answers the selector.
template <typename Signature>
std::optional<std::function<Signature>> method(
    ObjectRuntime& objects, ObjectInstance object, std::string_view selector)
{
    if (!objects.respondsToSelector(object, selector))
        return std::nullopt;
    return objects.implementation<Signature>(object, selector);
}

/// Asks a Boolean getter; absent when the object does not answer it.
std::optional<bool> askFlag(
    ObjectRuntime& objects, ObjectInstance object, std::string_view selector)
{
    const auto getter = method<bool(ObjectInstance)>(objects, object, selector);
    if (!getter)
        return std::nullopt;
    return (*getter)(object);
}

bool answersDisplayID(ObjectRuntime& objects, ObjectInstance object, DisplayNumber displayID)
{
    const auto getter = method<std::int32_t(ObjectInstance)>(objects, object, "displayID");
    return getter && static_cast<std::int64_t>((*getter)(object)) == displayID;
}

} // namespace

HDRControl::HDRControl(Platform& platform)
    : m_platform(platform)
{
    if (!platform.loader.open(monitorPanelPath, DynamicLoader::lazyLocal))
        return;
    const std::optional<ObjectClass> managerClass = platform.objects.classNamed("MPDisplayMgr");
    if (!managerClass || !platform.objects.descendsFromRootObject(*managerClass))
        return;
    m_manager = platform.objects.createInstance(*managerClass);
}

HDRControl::~HDRControl()
{
    if (m_manager)
        m_platform.objects.release(*m_manager);
}

std::optional<bool> HDRControl::read(DisplayNumber displayID)
{
    if (m_platform.graphics.isBuiltin(displayID))
        return std::nullopt;
    const std::optional<ObjectInstance> object = display(displayID);
    if (!object)
        return std::nullopt;
    ObjectRuntime& objects = m_platform.objects;
    // Without HDR modes the display is the same as one that cannot be controlled.
    if (askFlag(objects, *object, "hasHDRModes") != true
        || !objects.respondsToSelector(*object, "setPreferHDRModes:"))
        return std::nullopt;
    return askFlag(objects, *object, "preferHDRModes");
}

void HDRControl::write(bool enabled, DisplayNumber displayID)
{
    const auto unavailable
        = [] { return DisplayError::unavailable("HDR control is unavailable or busy."); };
    if (!m_manager)
        throw unavailable();
    const std::optional<ObjectInstance> object = display(displayID);
    if (!object || !read(displayID))
        throw unavailable();
    ObjectRuntime& objects = m_platform.objects;
    // Every function is found before the lock is taken, so a missing one can never leave it held.
    const auto setPreference
        = method<void(ObjectInstance, bool)>(objects, *object, "setPreferHDRModes:");
    const auto unlock = method<void(ObjectInstance)>(objects, *m_manager, "unlockAccess");
    const auto tryLock = method<bool(ObjectInstance)>(objects, *m_manager, "tryLockAccess");
    if (!setPreference || !unlock || !tryLock || !(*tryLock)(*m_manager))
        throw unavailable();
    (*setPreference)(*object, enabled);
    (*unlock)(*m_manager);
}

std::optional<ObjectInstance> HDRControl::display(DisplayNumber displayID)
{
    ObjectRuntime& objects = m_platform.objects;
    if (!m_manager || !objects.respondsToSelector(*m_manager, "displays"))
        return std::nullopt;
    const MessageResult answer = objects.perform(*m_manager, "displays");
    const auto* list = std::get_if<MessageResult::Objects>(&answer.value);
    if (!list)
        return std::nullopt;
    for (const ObjectInstance object : list->objects)
        if (answersDisplayID(objects, object, displayID))
            return object;
    return std::nullopt;
}

} // namespace quorvane
