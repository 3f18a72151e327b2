#include "SimulatedMac/SimulatedEventTaps.h"

#include <algorithm>

namespace quorvane {

SimulatedEventTaps::InputEvent SimulatedEventTaps::InputEvent::key(
    EventType type, std::int64_t keyCode, EventFlags flags)
{
    return {.type = type,
        .fields = {{EventFields::keyboardEventKeycode, keyCode}},
        .flags = flags,
        .applicationKitEvent = ApplicationKitEvent{}};
}

SimulatedEventTaps::InputEvent SimulatedEventTaps::InputEvent::systemDefined(
    std::int64_t subtype, std::int64_t data1, EventFlags flags)
{
    return {.type = EventTypes::systemDefined,
        .fields = {},
        .flags = flags,
        .applicationKitEvent = ApplicationKitEvent{.subtype = subtype, .data1 = data1}};
}

std::size_t SimulatedEventTaps::liveTaps() const
{
    return std::ranges::count_if(
        m_taps, [](const auto& entry) { return entry.second.isPortValid; });
}

bool SimulatedEventTaps::isListening(const Tap& tap)
{
    return tap.isPortValid && tap.isEnabled && tap.isSourceValid && tap.isSourceOnMainRunLoop;
}

bool SimulatedEventTaps::post(const InputEvent& input)
{
    const std::uint64_t handle = m_nextHandle++;
    m_events.emplace(handle, input);
    bool reachesApplications = true;
    for (const auto& [port, tap] : m_taps) {
        if (!isListening(tap) || input.type >= 64 || !(tap.mask & (EventMask(1) << input.type)))
            continue;
        const auto answer = tap.callback(input.type, EventReference{handle}, tap.userInfo);
        if (tap.options == EventTapOptions::listenOnly)
            continue;
        if (!answer) {
            reachesApplications = false;
            break;
        }
    }
    m_events.erase(handle);
    return reachesApplications;
}

bool SimulatedEventTaps::disableTaps(EventType reason)
{
    const std::uint64_t handle = m_nextHandle++;
    m_events.emplace(handle,
        InputEvent{.type = reason, .fields = {}, .flags = 0, .applicationKitEvent = std::nullopt});
    bool isHandedBack = true;
    for (auto& [port, tap] : m_taps) {
        if (!isListening(tap))
            continue;
        tap.isEnabled = false;
        isHandedBack = tap.callback(reason, EventReference{handle}, tap.userInfo) && isHandedBack;
    }
    m_events.erase(handle);
    return isHandedBack;
}

std::optional<EventTapPort> SimulatedEventTaps::tapCreate(EventTapLocation location,
    EventTapPlacement placement, EventTapOptions options, EventMask eventsOfInterest,
    EventTapCallback callback, void* userInfo)
{
    if (tapCreationFails || !callback)
        return std::nullopt;
    const std::uint64_t handle = m_nextHandle++;
    // A new tap starts enabled, as CGEventTapCreate's do.
    m_taps.emplace(handle,
        Tap{.location = location,
            .placement = placement,
            .options = options,
            .mask = eventsOfInterest,
            .callback = callback,
            .userInfo = userInfo,
            .isEnabled = true});
    return EventTapPort{handle};
}

std::optional<RunLoopSource> SimulatedEventTaps::createRunLoopSource(
    EventTapPort port, std::int64_t order)
{
    Tap* found = tap(port);
    if (sourceCreationFails || !found || !found->isPortValid)
        return std::nullopt;
    found->source = RunLoopSource{m_nextHandle++};
    found->sourceOrder = order;
    found->isSourceValid = true;
    return found->source;
}

void SimulatedEventTaps::addToMainRunLoop(RunLoopSource source, RunLoopMode mode)
{
    if (Tap* found = tapOfSource(source); found && mode == RunLoopMode::commonModes)
        found->isSourceOnMainRunLoop = true;
}

void SimulatedEventTaps::removeFromMainRunLoop(RunLoopSource source, RunLoopMode mode)
{
    if (Tap* found = tapOfSource(source); found && mode == RunLoopMode::commonModes)
        found->isSourceOnMainRunLoop = false;
}

void SimulatedEventTaps::invalidateSource(RunLoopSource source)
{
    if (Tap* found = tapOfSource(source)) {
        found->isSourceValid = false;
        found->isSourceOnMainRunLoop = false;
    }
}

void SimulatedEventTaps::invalidatePort(EventTapPort port)
{
    if (Tap* found = tap(port)) {
        found->isPortValid = false;
        found->isEnabled = false;
    }
}

void SimulatedEventTaps::tapEnable(EventTapPort port, bool enable)
{
    if (Tap* found = tap(port); found && found->isPortValid)
        found->isEnabled = enable;
}

bool SimulatedEventTaps::tapIsEnabled(EventTapPort port)
{
    const Tap* found = tap(port);
    return found && found->isPortValid && found->isEnabled;
}

std::int64_t SimulatedEventTaps::integerValueField(EventReference reference, EventField field)
{
    const InputEvent* found = event(reference);
    if (!found)
        return 0;
    const auto value = found->fields.find(field);
    return value == found->fields.end() ? 0 : value->second;
}

EventFlags SimulatedEventTaps::flags(EventReference reference)
{
    const InputEvent* found = event(reference);
    return found ? found->flags : 0;
}

std::optional<ApplicationKitEvent> SimulatedEventTaps::applicationKitEvent(EventReference reference)
{
    const InputEvent* found = event(reference);
    return found ? found->applicationKitEvent : std::nullopt;
}

SimulatedEventTaps::Tap* SimulatedEventTaps::tap(EventTapPort port)
{
    const auto found = m_taps.find(port.handle);
    return found == m_taps.end() ? nullptr : &found->second;
}

SimulatedEventTaps::Tap* SimulatedEventTaps::tapOfSource(RunLoopSource source)
{
    for (auto& [port, tap] : m_taps)
        if (tap.source == source)
            return &tap;
    return nullptr;
}

const SimulatedEventTaps::InputEvent* SimulatedEventTaps::event(EventReference reference) const
{
    const auto found = m_events.find(reference.handle);
    return found == m_events.end() ? nullptr : &found->second;
}

} // namespace quorvane
