#include "SimulatedMac/SimulatedAccessibility.h"

#include "Concurrency/Executor.h"
#include "SimulatedMac/SimulatedWorld.h"

#include <algorithm>
#include <memory>

namespace quorvane {
namespace {

bool asksForPrompt(const PlatformDictionary& options)
{
    const auto found = options.find(std::string(trustedCheckOptionPrompt));
    if (found == options.end())
        return false;
    const auto* flag = std::get_if<PlatformValue::Boolean>(&found->second.value);
    return flag && flag->value;
}

} // namespace

AccessibilityElement SimulatedAccessibility::addWindow(std::int32_t pid, Rect frame)
{
    const std::uint64_t handle = nextHandle();
    m_windows.emplace(handle, Window{.pid = pid, .frame = frame});
    m_focused[pid] = handle;
    return {handle};
}

void SimulatedAccessibility::focusWindow(AccessibilityElement element)
{
    const Window* found = window(element);
    if (!found || !found->isOpen)
        return;
    m_focused[found->pid] = element.handle;
    fire(found->pid, element, "AXFocusedWindowChanged");
}

void SimulatedAccessibility::setFrame(AccessibilityElement element, Rect frame)
{
    Window* found = window(element);
    if (!found || !found->isOpen)
        return;
    const Rect old = std::exchange(found->frame, frame);
    if (old.x != frame.x || old.y != frame.y)
        fire(found->pid, element, "AXMoved");
    if (old.width != frame.width || old.height != frame.height)
        fire(found->pid, element, "AXResized");
}

void SimulatedAccessibility::closeWindow(AccessibilityElement element)
{
    Window* found = window(element);
    if (!found || !found->isOpen)
        return;
    found->isOpen = false;
    const std::int32_t pid = found->pid;
    m_focused.erase(pid);
    for (const auto& [handle, other] : m_windows)
        if (other.pid == pid && other.isOpen)
            m_focused[pid] = handle;
    fire(pid, element, "AXUIElementDestroyed");
}

void SimulatedAccessibility::activate(std::int32_t pid)
{
    fire(pid, applicationElement(pid), "AXApplicationActivated");
}

void SimulatedAccessibility::overrideAttribute(
    AccessibilityElement element, std::string attribute, AttributeReply reply)
{
    m_overrides[{element.handle, std::move(attribute)}] = std::move(reply);
}

std::optional<AccessibilityElement> SimulatedAccessibility::focusedWindow(std::int32_t pid) const
{
    const auto found = m_focused.find(pid);
    if (found == m_focused.end())
        return std::nullopt;
    return AccessibilityElement{found->second};
}

AccessibilityElement SimulatedAccessibility::applicationElement(std::int32_t pid)
{
    const auto [found, isNew] = m_applicationElements.try_emplace(pid, 0);
    if (isNew)
        found->second = nextHandle();
    return {found->second};
}

std::optional<float> SimulatedAccessibility::messagingTimeout(AccessibilityElement element) const
{
    const auto found = m_messagingTimeouts.find(element.handle);
    if (found == m_messagingTimeouts.end())
        return std::nullopt;
    return found->second;
}

std::size_t SimulatedAccessibility::registrationCount(
    AccessibilityElement element, std::string_view notification) const
{
    std::size_t count = 0;
    for (const auto& [handle, observer] : m_observers)
        count
            += std::ranges::count_if(observer.registrations, [&](const Registration& registration) {
                   return registration.element == element.handle
                       && registration.notification == notification;
               });
    return count;
}

std::size_t SimulatedAccessibility::sourcesOnMainRunLoop() const
{
    return std::ranges::count_if(
        m_observers, [](const auto& entry) { return entry.second.isOnMainRunLoop; });
}

bool SimulatedAccessibility::isProcessTrustedWithOptions(const PlatformDictionary& options)
{
    if (!trusted && asksForPrompt(options)) {
        ++promptsShown;
        trusted = promptGrantsTrust;
    }
    return trusted;
}

AccessibilityElement SimulatedAccessibility::createApplicationElement(std::int32_t pid)
{
    return applicationElement(pid);
}

AccessibilityStatus SimulatedAccessibility::setMessagingTimeout(
    AccessibilityElement element, float seconds)
{
    if (seconds < 0)
        return AccessibilityErrors::illegalArgument;
    m_messagingTimeouts[element.handle] = seconds;
    return AccessibilityErrors::success;
}

AccessibilityStatus SimulatedAccessibility::copyAttributeValue(AccessibilityElement element,
    std::string_view attribute, std::optional<AccessibilityValue>& value)
{
    value.reset();
    if (const auto found = m_overrides.find({element.handle, std::string(attribute)});
        found != m_overrides.end()) {
        if (found->second.status == AccessibilityErrors::success)
            value = found->second.value;
        return found->second.status;
    }
    if (!trusted)
        return AccessibilityErrors::apiDisabled;
    return readAttribute(element, attribute, value);
}

AccessibilityStatus SimulatedAccessibility::readAttribute(AccessibilityElement element,
    std::string_view attribute, std::optional<AccessibilityValue>& value)
{
    if (const Window* found = window(element)) {
        if (!found->isOpen)
            return AccessibilityErrors::invalidUIElement;
        if (attribute == "AXPosition")
            value = AccessibilityValue::geometry(
                {.type = AccessibilityValueType::point, .x = found->frame.x, .y = found->frame.y});
        else if (attribute == "AXSize")
            value = AccessibilityValue::geometry({.type = AccessibilityValueType::size,
                .width = found->frame.width,
                .height = found->frame.height});
        else
            return AccessibilityErrors::attributeUnsupported;
        return AccessibilityErrors::success;
    }
    const std::optional<std::int32_t> pid = applicationOf(element);
    if (!pid)
        return AccessibilityErrors::invalidUIElement;
    if (attribute != "AXFocusedWindow")
        return AccessibilityErrors::attributeUnsupported;
    const std::optional<AccessibilityElement> focused = focusedWindow(*pid);
    if (!focused)
        return AccessibilityErrors::noValue;
    value = AccessibilityValue::element(*focused);
    return AccessibilityErrors::success;
}

bool SimulatedAccessibility::valueGetPoint(
    const AccessibilityGeometry& value, AccessibilityPoint& point)
{
    if (value.type != AccessibilityValueType::point)
        return false;
    point = {.x = value.x, .y = value.y};
    return true;
}

bool SimulatedAccessibility::valueGetSize(
    const AccessibilityGeometry& value, AccessibilitySize& size)
{
    if (value.type != AccessibilityValueType::size)
        return false;
    size = {.width = value.width, .height = value.height};
    return true;
}

AccessibilityStatus SimulatedAccessibility::createObserver(std::int32_t pid,
    AccessibilityObserverCallback callback, std::optional<AccessibilityObserver>& observer)
{
    observer.reset();
    if (!callback || pid <= 0)
        return AccessibilityErrors::illegalArgument;
    if (observerCreationStatus != AccessibilityErrors::success)
        return observerCreationStatus;
    if (observerCreationGivesNothing)
        return AccessibilityErrors::success;
    const std::uint64_t handle = nextHandle();
    m_observers.emplace(handle, Observer{.pid = pid, .callback = callback});
    observer = AccessibilityObserver{handle};
    return AccessibilityErrors::success;
}

AccessibilityStatus SimulatedAccessibility::addNotification(AccessibilityObserver handle,
    AccessibilityElement element, std::string_view notification, void* context)
{
    registrationCalls.push_back({RegistrationCall::Kind::add, element, std::string(notification)});
    Observer* found = observer(handle);
    if (!found)
        return AccessibilityErrors::invalidUIElementObserver;
    const bool isRegistered = std::ranges::any_of(found->registrations, [&](const Registration& r) {
        return r.element == element.handle && r.notification == notification;
    });
    if (isRegistered)
        return AccessibilityErrors::notificationAlreadyRegistered;
    found->registrations.push_back({element.handle, std::string(notification), context});
    return AccessibilityErrors::success;
}

AccessibilityStatus SimulatedAccessibility::removeNotification(
    AccessibilityObserver handle, AccessibilityElement element, std::string_view notification)
{
    registrationCalls.push_back(
        {RegistrationCall::Kind::remove, element, std::string(notification)});
    Observer* found = observer(handle);
    if (!found)
        return AccessibilityErrors::invalidUIElementObserver;
    const auto removed = std::erase_if(found->registrations, [&](const Registration& r) {
        return r.element == element.handle && r.notification == notification;
    });
    return removed ? AccessibilityErrors::success : AccessibilityErrors::notificationNotRegistered;
}

// An observer's source shares its handle.
RunLoopSource SimulatedAccessibility::observerRunLoopSource(AccessibilityObserver handle)
{
    return {handle.handle};
}

void SimulatedAccessibility::addToMainRunLoop(RunLoopSource source, RunLoopMode mode)
{
    if (Observer* found = observer({source.handle}); found && mode == RunLoopMode::commonModes)
        found->isOnMainRunLoop = true;
}

void SimulatedAccessibility::removeFromMainRunLoop(RunLoopSource source, RunLoopMode mode)
{
    if (Observer* found = observer({source.handle}); found && mode == RunLoopMode::commonModes)
        found->isOnMainRunLoop = false;
}

void SimulatedAccessibility::releaseObserver(AccessibilityObserver handle)
{
    m_observers.erase(handle.handle);
}

SimulatedAccessibility::Window* SimulatedAccessibility::window(AccessibilityElement element)
{
    const auto found = m_windows.find(element.handle);
    return found == m_windows.end() ? nullptr : &found->second;
}

std::optional<std::int32_t> SimulatedAccessibility::applicationOf(
    AccessibilityElement element) const
{
    for (const auto& [pid, handle] : m_applicationElements)
        if (handle == element.handle)
            return pid;
    return std::nullopt;
}

SimulatedAccessibility::Observer* SimulatedAccessibility::observer(AccessibilityObserver handle)
{
    const auto found = m_observers.find(handle.handle);
    return found == m_observers.end() ? nullptr : &found->second;
}

void SimulatedAccessibility::fire(
    std::int32_t pid, AccessibilityElement element, std::string_view notification)
{
    const std::uint64_t application = applicationElement(pid).handle;
    for (const auto& [key, observer] : m_observers) {
        if (observer.pid != pid || !observer.isOnMainRunLoop)
            continue;
        const std::uint64_t handle = key; // lambdas cannot capture a structured binding in C++20
        for (const Registration& registration : observer.registrations) {
            const bool covers
                = registration.element == element.handle || registration.element == application;
            if (covers && registration.notification == notification)
                m_world.executor.post([this, lifetime = std::weak_ptr<int>(m_lifetime), handle,
                                          element, name = std::string(notification)] {
                    if (!lifetime.expired())
                        deliver(handle, element, name);
                });
        }
    }
}

void SimulatedAccessibility::deliver(
    std::uint64_t handle, AccessibilityElement element, const std::string& notification)
{
    // Released, unscheduled or unregistered since the notification was queued: dropped.
    const Observer* found = observer({handle});
    if (!found || !found->isOnMainRunLoop)
        return;
    const std::uint64_t application = applicationElement(found->pid).handle;
    const auto registration
        = std::ranges::find_if(found->registrations, [&](const Registration& r) {
              return (r.element == element.handle || r.element == application)
                  && r.notification == notification;
          });
    if (registration != found->registrations.end())
        found->callback({handle}, element, notification, registration->context);
}

} // namespace quorvane
