// Accessibility.h: Accessibility trust, UI elements, their attributes and observers (the AX
// functions).
#pragma once

#include "MacPlatform/PlatformValue.h"
#include "MacPlatform/RunLoop.h"

#include <cstdint>
#include <optional>
#include <string_view>
#include <utility>
#include <variant>

namespace quorvane {

/// An AXError: 0 is success.
using AccessibilityStatus = std::int32_t;

/// The AXError values the simulated platform gives.
struct AccessibilityErrors final {
    AccessibilityErrors() = delete;
    static constexpr AccessibilityStatus success = 0;
    static constexpr AccessibilityStatus failure = -25200;
    static constexpr AccessibilityStatus illegalArgument = -25201;
    static constexpr AccessibilityStatus invalidUIElement = -25202;
    static constexpr AccessibilityStatus invalidUIElementObserver = -25203;
    static constexpr AccessibilityStatus cannotComplete = -25204;
    static constexpr AccessibilityStatus attributeUnsupported = -25205;
    static constexpr AccessibilityStatus notificationAlreadyRegistered = -25209;
    static constexpr AccessibilityStatus notificationNotRegistered = -25210;
    static constexpr AccessibilityStatus apiDisabled = -25211;
    static constexpr AccessibilityStatus noValue = -25212;
};

/// The key of the trust-check options that asks the system to show its prompt
/// (kAXTrustedCheckOptionPrompt); its value is a boolean.
inline constexpr std::string_view trustedCheckOptionPrompt = "AXTrustedCheckOptionPrompt";

/// An AXUIElementRef. Two elements for the same object compare equal, as CFEqual does.
struct AccessibilityElement {
    std::uint64_t handle = 0;
    bool operator==(const AccessibilityElement&) const = default;
};

/// An AXObserverRef. Releasing it ends all of its registrations.
struct AccessibilityObserver {
    std::uint64_t handle = 0;
    bool operator==(const AccessibilityObserver&) const = default;
};

/// AXValueType: what an AXValueRef boxes.
enum class AccessibilityValueType : std::int32_t {
    illegal = 0,
    point = 1, // kAXValueCGPointType
    size = 2, // kAXValueCGSizeType
    rect = 3, // kAXValueCGRectType
    range = 4, // kAXValueCFRangeType
};

/// An AXValueRef: one geometry value with its type. A point uses x and y, a size width and
/// height, a rectangle all four.
struct AccessibilityGeometry {
    AccessibilityValueType type = AccessibilityValueType::illegal;
    double x = 0;
    double y = 0;
    double width = 0;
    double height = 0;
    bool operator==(const AccessibilityGeometry&) const = default;
};

struct AccessibilityPoint {
    double x = 0;
    double y = 0;
    bool operator==(const AccessibilityPoint&) const = default;
};

struct AccessibilitySize {
    double width = 0;
    double height = 0;
    bool operator==(const AccessibilitySize&) const = default;
};

/// What an attribute read gives back (a CFTypeRef), so callers check its kind (CFGetTypeID):
/// an element, a geometry value, or anything else.
struct AccessibilityValue {
    static AccessibilityValue element(AccessibilityElement element) { return {element}; }
    static AccessibilityValue geometry(AccessibilityGeometry geometry) { return {geometry}; }
    static AccessibilityValue other(PlatformValue value) { return {std::move(value)}; }

    bool operator==(const AccessibilityValue&) const = default;

    std::variant<AccessibilityElement, AccessibilityGeometry, PlatformValue> value;
};

/// The observer callback (AXObserverCallback): a plain function the system calls with the
/// element the notification is about, the notification's name and the context given when the
/// notification was added (not retained).
using AccessibilityObserverCallback = void (*)(AccessibilityObserver observer,
    AccessibilityElement element, std::string_view notification, void* context);

/// Stands for the Accessibility API. Every call is synchronous; observers call back on the main
/// run loop once their run-loop source has been added to it.
class Accessibility {
public:
    virtual ~Accessibility() = default;

    /// AXIsProcessTrusted: never prompts.
    [[nodiscard]] virtual bool isProcessTrusted() = 0;
    /// AXIsProcessTrustedWithOptions: with `trustedCheckOptionPrompt` true in `options`, shows the
    /// system's prompt when the process is not trusted. Answers the trust at the time of the call.
    virtual bool isProcessTrustedWithOptions(const PlatformDictionary& options) = 0;

    /// AXUIElementCreateApplication: the element of the application with that process
    /// identifier. Always gives an element; calls on it fail when no such application runs.
    [[nodiscard]] virtual AccessibilityElement createApplicationElement(std::int32_t pid) = 0;
    /// AXUIElementSetMessagingTimeout: bounds each later request to `element`'s application.
    virtual AccessibilityStatus setMessagingTimeout(AccessibilityElement element, float seconds)
        = 0;
    /// AXUIElementCopyAttributeValue: on success `value` holds the attribute's value; it stays
    /// absent on failure.
    virtual AccessibilityStatus copyAttributeValue(AccessibilityElement element,
        std::string_view attribute, std::optional<AccessibilityValue>& value)
        = 0;
    /// AXValueGetValue with kAXValueCGPointType; false when the value boxes another type.
    virtual bool valueGetPoint(const AccessibilityGeometry& value, AccessibilityPoint& point) = 0;
    /// AXValueGetValue with kAXValueCGSizeType; false when the value boxes another type.
    virtual bool valueGetSize(const AccessibilityGeometry& value, AccessibilitySize& size) = 0;

    /// AXObserverCreate for the application with that process identifier. On success `observer`
    /// holds the new observer, which the caller releases; it may still be absent.
    virtual AccessibilityStatus createObserver(std::int32_t pid,
        AccessibilityObserverCallback callback, std::optional<AccessibilityObserver>& observer)
        = 0;
    /// AXObserverAddNotification.
    virtual AccessibilityStatus addNotification(AccessibilityObserver observer,
        AccessibilityElement element, std::string_view notification, void* context)
        = 0;
    /// AXObserverRemoveNotification.
    virtual AccessibilityStatus removeNotification(
        AccessibilityObserver observer, AccessibilityElement element, std::string_view notification)
        = 0;
    /// AXObserverGetRunLoopSource.
    [[nodiscard]] virtual RunLoopSource observerRunLoopSource(AccessibilityObserver observer) = 0;
    /// CFRunLoopAddSource on the main run loop, for an observer's source.
    virtual void addToMainRunLoop(RunLoopSource source, RunLoopMode mode) = 0;
    /// CFRunLoopRemoveSource from the main run loop, for an observer's source.
    virtual void removeFromMainRunLoop(RunLoopSource source, RunLoopMode mode) = 0;
    /// CFRelease of the observer: ends its registrations and its callbacks.
    virtual void releaseObserver(AccessibilityObserver observer) = 0;
};

} // namespace quorvane
