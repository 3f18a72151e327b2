// SimulatedAccessibility.h: Accessibility trust, applications' windows with their frames, and the
// observers of the simulated Mac. Tests move, resize, focus and close windows; each change fires
// the notifications the real system would, delivered on the executor like the main run loop.
#pragma once

#include "MacPlatform/Accessibility.h"
#include "QuorvaneCore/Rect.h"

#include <cstddef>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace quorvane {

struct SimulatedWorld;

class SimulatedAccessibility final : public Accessibility {
public:
    /// A forced answer to one attribute read.
    struct AttributeReply {
        AccessibilityStatus status = AccessibilityErrors::success;
        std::optional<AccessibilityValue> value = std::nullopt;
    };

    /// One add or remove of an observer notification, in call order.
    struct RegistrationCall {
        enum class Kind { add, remove };
        Kind kind;
        AccessibilityElement element;
        std::string notification;
        bool operator==(const RegistrationCall&) const = default;
    };

    explicit SimulatedAccessibility(SimulatedWorld& world)
        : m_world(world)
    {
    }

    // Knobs and records.
    bool trusted = true;
    /// The user grants trust at the prompt.
    bool promptGrantsTrust = false;
    std::size_t promptsShown = 0;
    AccessibilityStatus observerCreationStatus = AccessibilityErrors::success;
    /// Creation reports success but gives no observer.
    bool observerCreationGivesNothing = false;
    std::vector<RegistrationCall> registrationCalls;

    /// A new window of the application with that process identifier; it becomes the focused one.
    AccessibilityElement addWindow(std::int32_t pid, Rect frame);
    /// Focuses the window and fires "AXFocusedWindowChanged".
    void focusWindow(AccessibilityElement window);
    /// Fires "AXMoved" when the origin changes and "AXResized" when the size does.
    void setFrame(AccessibilityElement window, Rect frame);
    /// Fires "AXUIElementDestroyed"; the application's most recent other window takes the focus.
    void closeWindow(AccessibilityElement window);
    /// Fires "AXApplicationActivated".
    void activate(std::int32_t pid);
    /// Every later read of `attribute` on `element` gives `reply`.
    void overrideAttribute(
        AccessibilityElement element, std::string attribute, AttributeReply reply);
    [[nodiscard]] std::optional<AccessibilityElement> focusedWindow(std::int32_t pid) const;
    [[nodiscard]] AccessibilityElement applicationElement(std::int32_t pid);

    [[nodiscard]] std::optional<float> messagingTimeout(AccessibilityElement element) const;
    [[nodiscard]] std::size_t liveObservers() const { return m_observers.size(); }
    /// Registrations of live observers for that element and notification.
    [[nodiscard]] std::size_t registrationCount(
        AccessibilityElement element, std::string_view notification) const;
    [[nodiscard]] std::size_t sourcesOnMainRunLoop() const;

    bool isProcessTrusted() override { return trusted; }
    bool isProcessTrustedWithOptions(const PlatformDictionary& options) override;
    AccessibilityElement createApplicationElement(std::int32_t pid) override;
    AccessibilityStatus setMessagingTimeout(AccessibilityElement element, float seconds) override;
    AccessibilityStatus copyAttributeValue(AccessibilityElement element, std::string_view attribute,
        std::optional<AccessibilityValue>& value) override;
    bool valueGetPoint(const AccessibilityGeometry& value, AccessibilityPoint& point) override;
    bool valueGetSize(const AccessibilityGeometry& value, AccessibilitySize& size) override;
    AccessibilityStatus createObserver(std::int32_t pid, AccessibilityObserverCallback callback,
        std::optional<AccessibilityObserver>& observer) override;
    AccessibilityStatus addNotification(AccessibilityObserver observer,
        AccessibilityElement element, std::string_view notification, void* context) override;
    AccessibilityStatus removeNotification(AccessibilityObserver observer,
        AccessibilityElement element, std::string_view notification) override;
    RunLoopSource observerRunLoopSource(AccessibilityObserver observer) override;
    void addToMainRunLoop(RunLoopSource source, RunLoopMode mode) override;
    void removeFromMainRunLoop(RunLoopSource source, RunLoopMode mode) override;
    void releaseObserver(AccessibilityObserver observer) override;

private:
    struct Window {
        std::int32_t pid = 0;
        Rect frame;
        bool isOpen = true;
    };
    struct Registration {
        std::uint64_t element;
        std::string notification;
        void* context;
    };
    struct Observer {
        std::int32_t pid = 0;
        AccessibilityObserverCallback callback = nullptr;
        std::vector<Registration> registrations = {};
        bool isOnMainRunLoop = false;
    };

    [[nodiscard]] std::uint64_t nextHandle() { return m_nextHandle++; }
    [[nodiscard]] Window* window(AccessibilityElement element);
    [[nodiscard]] std::optional<std::int32_t> applicationOf(AccessibilityElement element) const;
    [[nodiscard]] Observer* observer(AccessibilityObserver observer);
    AccessibilityStatus readAttribute(AccessibilityElement element, std::string_view attribute,
        std::optional<AccessibilityValue>& value);
    /// Delivers to the registrations on the element itself or on its application's element,
    /// later on the executor, as the main run loop would.
    void fire(std::int32_t pid, AccessibilityElement element, std::string_view notification);
    void deliver(
        std::uint64_t observer, AccessibilityElement element, const std::string& notification);

    SimulatedWorld& m_world;
    std::uint64_t m_nextHandle = 1;
    std::map<std::int32_t, std::uint64_t> m_applicationElements; ///< by process identifier
    std::map<std::uint64_t, Window> m_windows; ///< by element handle, so in creation order
    std::map<std::int32_t, std::uint64_t> m_focused; ///< focused window by process identifier
    std::map<std::pair<std::uint64_t, std::string>, AttributeReply> m_overrides;
    std::map<std::uint64_t, float> m_messagingTimeouts;
    std::map<std::uint64_t, Observer> m_observers; ///< live ones, by handle
    /// Queued deliveries hold it weakly, so one due after this service is gone does nothing.
    std::shared_ptr<int> m_lifetime = std::make_shared<int>(0);
};

} // namespace quorvane
