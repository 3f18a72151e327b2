// SimulatedEventTaps.h: event taps of the simulated Mac and the key input they see. Tests post
// key and system-defined events through the taps and let the system disable a tap.
#pragma once

#include "MacPlatform/EventTaps.h"

#include <cstddef>
#include <map>
#include <vector>

namespace quorvane {

struct SimulatedWorld;

class SimulatedEventTaps final : public EventTaps {
public:
    /// One input event as the window server has it.
    struct InputEvent {
        EventType type = EventTypes::keyDown;
        std::map<EventField, std::int64_t> fields = {};
        EventFlags flags = 0;
        /// What the application kit makes of it; absent when the conversion fails.
        std::optional<ApplicationKitEvent> applicationKitEvent = std::nullopt;

        static InputEvent key(EventType type, std::int64_t keyCode, EventFlags flags = 0);
        /// A system-defined event with its subtype and first data word.
        static InputEvent systemDefined(
            std::int64_t subtype, std::int64_t data1, EventFlags flags = 0);
    };

    /// A tap as it was created, and what became of it.
    struct Tap {
        EventTapLocation location;
        EventTapPlacement placement;
        EventTapOptions options;
        EventMask mask;
        EventTapCallback callback;
        void* userInfo;
        bool isEnabled = false;
        bool isPortValid = true;
        std::optional<RunLoopSource> source = std::nullopt;
        std::int64_t sourceOrder = 0;
        bool isSourceValid = false;
        bool isSourceOnMainRunLoop = false;
    };

    explicit SimulatedEventTaps(SimulatedWorld& world)
        : m_world(world)
    {
    }

    // Knobs.
    bool tapCreationFails = false;
    bool sourceCreationFails = false;

    /// Every tap created, by port handle.
    [[nodiscard]] const std::map<std::uint64_t, Tap>& taps() const { return m_taps; }
    /// Taps whose port is still valid.
    [[nodiscard]] std::size_t liveTaps() const;

    /// Runs the event through every listening tap, in creation order; true when it reaches the
    /// applications, false when a tap swallowed it.
    bool post(const InputEvent& event);
    /// The system disables every enabled tap and tells each with `reason`
    /// (EventTypes::tapDisabledByTimeout or tapDisabledByUserInput). True when every callback
    /// handed the notice back, as a tap should.
    bool disableTaps(EventType reason);

    std::optional<EventTapPort> tapCreate(EventTapLocation location, EventTapPlacement placement,
        EventTapOptions options, EventMask eventsOfInterest, EventTapCallback callback,
        void* userInfo) override;
    std::optional<RunLoopSource> createRunLoopSource(
        EventTapPort port, std::int64_t order) override;
    void addToMainRunLoop(RunLoopSource source, RunLoopMode mode) override;
    void removeFromMainRunLoop(RunLoopSource source, RunLoopMode mode) override;
    void invalidateSource(RunLoopSource source) override;
    void invalidatePort(EventTapPort port) override;
    void tapEnable(EventTapPort port, bool enable) override;
    bool tapIsEnabled(EventTapPort port) override;
    std::int64_t integerValueField(EventReference event, EventField field) override;
    EventFlags flags(EventReference event) override;
    std::optional<ApplicationKitEvent> applicationKitEvent(EventReference event) override;

private:
    [[nodiscard]] Tap* tap(EventTapPort port);
    [[nodiscard]] Tap* tapOfSource(RunLoopSource source);
    [[nodiscard]] const InputEvent* event(EventReference event) const;
    [[nodiscard]] static bool isListening(const Tap& tap);

    [[maybe_unused]] SimulatedWorld& m_world;
    std::uint64_t m_nextHandle = 1;
    std::map<std::uint64_t, Tap> m_taps;
    /// Events being delivered, alive only while taps see them.
    std::map<std::uint64_t, InputEvent> m_events;
};

} // namespace quorvane
