// EventTaps.h: event taps on the user's input stream and the events they see (CGEventTap and the
// CGEvent accessors).
#pragma once

#include "MacPlatform/RunLoop.h"

#include <cstdint>
#include <optional>

namespace quorvane {

/// A CGEventType.
using EventType = std::uint32_t;
/// A CGEventMask: bit n set for event type n.
using EventMask = std::uint64_t;
/// CGEventFlags.
using EventFlags = std::uint64_t;
/// A CGEventField.
using EventField = std::uint32_t;

struct EventTypes final {
    EventTypes() = delete;
    static constexpr EventType keyDown = 10;
    static constexpr EventType keyUp = 11;
    static constexpr EventType systemDefined = 14;
    /// Sent to a tap's callback after the system disabled it for answering too slowly.
    static constexpr EventType tapDisabledByTimeout = 0xFFFFFFFE;
    /// Sent to a tap's callback after the system disabled it because of user input.
    static constexpr EventType tapDisabledByUserInput = 0xFFFFFFFF;
};

struct EventFields final {
    EventFields() = delete;
    static constexpr EventField keyboardEventKeycode = 9;
};

struct EventFlagMasks final {
    EventFlagMasks() = delete;
    static constexpr EventFlags alphaShift = 0x10000;
    static constexpr EventFlags shift = 0x20000;
    static constexpr EventFlags control = 0x40000;
    static constexpr EventFlags alternate = 0x80000;
    static constexpr EventFlags command = 0x100000;
    static constexpr EventFlags numericPad = 0x200000;
    static constexpr EventFlags secondaryFn = 0x800000;
};

/// CGEventTapLocation.
enum class EventTapLocation : std::uint32_t { hid = 0, session = 1, annotatedSession = 2 };
/// CGEventTapPlacement.
enum class EventTapPlacement : std::uint32_t { headInsert = 0, tailAppend = 1 };
/// CGEventTapOptions: a default tap may drop or change events; a listen-only tap may not.
enum class EventTapOptions : std::uint32_t { defaultTap = 0, listenOnly = 1 };

/// A tap's mach port (CFMachPortRef).
struct EventTapPort {
    std::uint64_t handle = 0;
    bool operator==(const EventTapPort&) const = default;
};

/// A CGEventRef, valid during the callback it is handed to.
struct EventReference {
    std::uint64_t handle = 0;
    bool operator==(const EventReference&) const = default;
};

/// What the application kit's event made from a CoreGraphics event (NSEvent eventWithCGEvent:)
/// reports of a system-defined event.
struct ApplicationKitEvent {
    std::int64_t subtype = 0;
    std::int64_t data1 = 0;
    bool operator==(const ApplicationKitEvent&) const = default;
};

/// The tap callback (CGEventTapCallBack), called inline while the event waits: answering the
/// event passes it on, answering absent swallows it. `userInfo` is what the tap was created with,
/// not retained.
using EventTapCallback
    = std::optional<EventReference> (*)(EventType type, EventReference event, void* userInfo);

/// Stands for the CoreGraphics event-tap calls, the event accessors and the tap's run-loop
/// source. A tap sees events only while it is enabled and its source is on the main run loop.
class EventTaps {
public:
    virtual ~EventTaps() = default;

    /// CGEventTapCreate; absent when the tap cannot be created (for example without the
    /// Accessibility permission).
    [[nodiscard]] virtual std::optional<EventTapPort> tapCreate(EventTapLocation location,
        EventTapPlacement placement, EventTapOptions options, EventMask eventsOfInterest,
        EventTapCallback callback, void* userInfo)
        = 0;
    /// CFMachPortCreateRunLoopSource with the default allocator; absent on failure.
    [[nodiscard]] virtual std::optional<RunLoopSource> createRunLoopSource(
        EventTapPort port, std::int64_t order)
        = 0;
    /// CFRunLoopAddSource on the main run loop.
    virtual void addToMainRunLoop(RunLoopSource source, RunLoopMode mode) = 0;
    /// CFRunLoopRemoveSource from the main run loop.
    virtual void removeFromMainRunLoop(RunLoopSource source, RunLoopMode mode) = 0;
    /// CFRunLoopSourceInvalidate.
    virtual void invalidateSource(RunLoopSource source) = 0;
    /// CFMachPortInvalidate: the tap is gone for good.
    virtual void invalidatePort(EventTapPort port) = 0;
    /// CGEventTapEnable.
    virtual void tapEnable(EventTapPort port, bool enable) = 0;
    /// CGEventTapIsEnabled.
    [[nodiscard]] virtual bool tapIsEnabled(EventTapPort port) = 0;

    /// CGEventGetIntegerValueField: 0 for a field the event does not carry.
    [[nodiscard]] virtual std::int64_t integerValueField(EventReference event, EventField field)
        = 0;
    /// CGEventGetFlags.
    [[nodiscard]] virtual EventFlags flags(EventReference event) = 0;
    /// NSEvent eventWithCGEvent:, read for its subtype and first data word; absent when the
    /// conversion fails.
    [[nodiscard]] virtual std::optional<ApplicationKitEvent> applicationKitEvent(
        EventReference event)
        = 0;
};

} // namespace quorvane
