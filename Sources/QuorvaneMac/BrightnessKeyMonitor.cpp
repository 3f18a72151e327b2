#include "QuorvaneMac/BrightnessKeyMonitor.h"

#include "MacPlatform/Accessibility.h"
#include "MacPlatform/Platform.h"
#include "MacPlatform/ProcessInfo.h"
#include "QuorvaneMac/AccessibilityPermission.h"

namespace quorvane {
namespace {

constexpr EventMask maskOf(EventType type) { return EventMask(1) << type; }

constexpr EventMask keyEventsMask
    = maskOf(EventTypes::keyDown) | maskOf(EventTypes::keyUp) | maskOf(EventTypes::systemDefined);

// Caps lock, the function key and the numeric pad do not make a key a different shortcut.
constexpr EventFlags modifierFlags = EventFlagMasks::shift | EventFlagMasks::control
    | EventFlagMasks::alternate | EventFlagMasks::command;

} // namespace

BrightnessKeyMonitor::BrightnessKeyMonitor(Platform& platform)
    : m_platform(platform)
{
}

BrightnessKeyMonitor::~BrightnessKeyMonitor() { stop(); }

std::string BrightnessKeyMonitor::permissionPaneName(Platform& platform)
{
    if (platform.process.majorVersion() < 27)
        return "Accessibility";
    return "Device Control and Data Access";
}

void BrightnessKeyMonitor::update(bool enabled)
{
    if (!enabled) {
        stop();
        return;
    }
    if (!m_platform.accessibility.isProcessTrusted()) {
        stop();
        m_status = BrightnessKeyStatus::needsPermission;
        return;
    }
    if (m_port && m_platform.eventTaps.tapIsEnabled(*m_port)) {
        m_status = BrightnessKeyStatus::active;
        return;
    }
    stop();
    installTap();
}

void BrightnessKeyMonitor::installTap()
{
    EventTaps& taps = m_platform.eventTaps;
    const std::optional<EventTapPort> port
        = taps.tapCreate(EventTapLocation::session, EventTapPlacement::headInsert,
            EventTapOptions::defaultTap, keyEventsMask, &tapCallback, this);
    if (!port) {
        m_status = BrightnessKeyStatus::unavailable;
        return;
    }
    const std::optional<RunLoopSource> source = taps.createRunLoopSource(*port, 0);
    if (!source) {
        taps.invalidatePort(*port);
        m_status = BrightnessKeyStatus::unavailable;
        return;
    }
    m_port = port;
    m_source = source;
    taps.addToMainRunLoop(*source, RunLoopMode::commonModes);
    taps.tapEnable(*port, true);
    m_status = BrightnessKeyStatus::active;
}

void BrightnessKeyMonitor::stop()
{
    EventTaps& taps = m_platform.eventTaps;
    if (m_source) {
        taps.removeFromMainRunLoop(*m_source, RunLoopMode::commonModes);
        taps.invalidateSource(*m_source);
    }
    if (m_port)
        taps.invalidatePort(*m_port);
    m_source.reset();
    m_port.reset();
    m_router.reset();
    m_status = BrightnessKeyStatus::off;
}

void BrightnessKeyMonitor::requestPermission() { requestAccessibilityPermission(m_platform); }

std::optional<EventReference> BrightnessKeyMonitor::tapCallback(
    EventType type, EventReference event, void* userInfo)
{
    if (!userInfo)
        return event;
    if (static_cast<BrightnessKeyMonitor*>(userInfo)->handle(type, event))
        return std::nullopt;
    return event;
}

bool BrightnessKeyMonitor::handle(EventType type, EventReference event)
{
    if (type == EventTypes::tapDisabledByUserInput) {
        m_router.reset();
        m_status = BrightnessKeyStatus::unavailable;
        return false;
    }
    if (type == EventTypes::tapDisabledByTimeout) {
        m_router.reset();
        if (m_port)
            m_platform.eventTaps.tapEnable(*m_port, true);
        return false;
    }
    const std::optional<BrightnessKeyEvent> key = decode(type, event);
    if (!key)
        return false;
    const bool modified = (m_platform.eventTaps.flags(event) & modifierFlags) != 0;
    return m_router.shouldConsume(*key, modified,
        [this](BrightnessKeyDirection direction) { return pressed && pressed(direction); });
}

std::optional<BrightnessKeyEvent> BrightnessKeyMonitor::decode(EventType type, EventReference event)
{
    EventTaps& taps = m_platform.eventTaps;
    if (type == EventTypes::keyDown || type == EventTypes::keyUp)
        return BrightnessKeyEvent::keyboard(
            taps.integerValueField(event, EventFields::keyboardEventKeycode),
            type == EventTypes::keyDown);
    if (type != EventTypes::systemDefined)
        return std::nullopt;
    const std::optional<ApplicationKitEvent> converted = taps.applicationKitEvent(event);
    if (!converted)
        return std::nullopt;
    return BrightnessKeyEvent::auxiliary(converted->subtype, converted->data1);
}

} // namespace quorvane
