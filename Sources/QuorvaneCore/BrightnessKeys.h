// The brightness keys: the step per press, the key's direction, and how presses become targets.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <unordered_set>
#include <variant>
#include <vector>

namespace quorvane {

/// The brightness change per key press, in percent; stored and coded as that integer.
enum class BrightnessKeyStep : std::int64_t {
    one = 1,
    two = 2,
    three = 3,
    five = 5,
    ten = 10,
};

inline constexpr std::array<BrightnessKeyStep, 5> allBrightnessKeySteps{BrightnessKeyStep::one,
    BrightnessKeyStep::two, BrightnessKeyStep::three, BrightnessKeyStep::five,
    BrightnessKeyStep::ten};

enum class BrightnessKeyDirection : std::int64_t {
    down = -1,
    up = 1,
};

[[nodiscard]] constexpr std::int64_t rawValue(BrightnessKeyStep step)
{
    return static_cast<std::int64_t>(step);
}

[[nodiscard]] constexpr std::int64_t rawValue(BrightnessKeyDirection direction)
{
    return static_cast<std::int64_t>(direction);
}

/// The step whose raw value is `raw`; absent for anything but 1, 2, 3, 5 and 10.
[[nodiscard]] std::optional<BrightnessKeyStep> brightnessKeyStep(std::int64_t raw);

/// The direction whose raw value is `raw`; absent for anything but -1 and 1.
[[nodiscard]] std::optional<BrightnessKeyDirection> brightnessKeyDirection(std::int64_t raw);

/// `brightness` moved by the step in `direction`, clamped to 0...1.
[[nodiscard]] double adjusting(
    BrightnessKeyStep step, double brightness, BrightnessKeyDirection direction);

/// One press or release of a brightness key, decoded from the event that carried it.
struct BrightnessKeyEvent {
    /// The same physical key can arrive in either form; the two are tracked apart.
    enum class Encoding {
        auxiliary, // a system-defined auxiliary-key event
        keyboard, // an ordinary key event with its key code
    };

    /// Decodes a system-defined event from its subtype and first data word; absent unless it is
    /// a brightness key (subtype 8, key type 2 or 3) going down or up.
    [[nodiscard]] static std::optional<BrightnessKeyEvent> auxiliary(
        std::int64_t subtype, std::int64_t data);
    /// Decodes a key event: code 144 is brightness up, 145 brightness down; absent for any other.
    [[nodiscard]] static std::optional<BrightnessKeyEvent> keyboard(std::int64_t code, bool isDown);

    bool operator==(const BrightnessKeyEvent&) const = default;

    BrightnessKeyDirection direction;
    bool isDown;
    Encoding encoding;
};

/// Decides which brightness key events to swallow, so that a key-up is swallowed exactly when
/// its key-down was. It only routes; what a swallowed press does is up to `accept`.
class BrightnessKeyRouter final {
public:
    /// A physical key in one encoding.
    struct Key {
        BrightnessKeyDirection direction;
        BrightnessKeyEvent::Encoding encoding;

        bool operator==(const Key&) const = default;
        struct Hash {
            std::size_t operator()(const Key& key) const noexcept;
        };
    };
    using Acceptance = std::function<bool(BrightnessKeyDirection)>;

    /// The keys whose key-down was swallowed and whose key-up is still due.
    [[nodiscard]] const std::unordered_set<Key, Key::Hash>& captured() const { return m_captured; }

    /// Whether `event` must be swallowed. An unmodified key-down is swallowed when `accept` says
    /// so; a modified one passes without asking. A key-up follows its own key-down, whatever
    /// modifiers are held by then.
    [[nodiscard]] bool shouldConsume(
        const BrightnessKeyEvent& event, bool modified, const Acceptance& accept);

    /// Forgets every captured key, as when interception stops.
    void reset() { m_captured.clear(); }

private:
    std::unordered_set<Key, Key::Hash> m_captured;
};

/// Turns a burst of brightness key presses into brightness targets at the cost of one read.
/// It never touches the hardware: the caller reads and applies, and reports back.
///
/// States: idle (no target, nothing pending), reading (no target, presses pending) and tracking
/// (target known, nothing pending).
class BrightnessKeyAdjustmentQueue final {
public:
    struct Press {
        BrightnessKeyDirection direction;
        BrightnessKeyStep step;
        bool operator==(const Press&) const = default;
    };

    /// What the caller must do about a press.
    struct Action {
        /// Apply this brightness, the new target.
        struct Apply {
            double target;
            bool operator==(const Apply&) const = default;
        };
        /// Read the current brightness and hand it to resolve().
        struct ReadCurrent {
            bool operator==(const ReadCurrent&) const = default;
        };
        /// Nothing yet: a read is already under way and will account for this press.
        struct Queued {
            bool operator==(const Queued&) const = default;
        };
        static Action apply(double target) { return {Apply{target}}; }
        static Action readCurrent() { return {ReadCurrent{}}; }
        static Action queued() { return {Queued{}}; }

        bool operator==(const Action&) const = default;

        std::variant<Apply, ReadCurrent, Queued> value;
    };

    /// Presses waiting for the current brightness, in arrival order.
    [[nodiscard]] const std::vector<Press>& pending() const { return m_pending; }
    /// The brightness (0...1) last asked for and still trusted; absent when it must be read.
    [[nodiscard]] std::optional<double> target() const { return m_target; }

    /// Moves a known target at once; otherwise queues the press, asking for a read only when
    /// none is under way.
    [[nodiscard]] Action enqueue(BrightnessKeyDirection direction, BrightnessKeyStep step);

    /// Applies the pending presses to the brightness that was read and returns the target to
    /// apply. Absent, with the presses dropped, when nothing is pending or `current` is not a
    /// number in 0...1.
    [[nodiscard]] std::optional<double> resolve(double current);

    /// Reports that an apply reached `target`. The queue forgets the target only when it is still
    /// the latest and nothing is pending, so the next press reads the hardware afresh.
    void completed(double target);

    /// Drops pending presses and the target.
    void reset();

private:
    std::vector<Press> m_pending;
    std::optional<double> m_target;
};

} // namespace quorvane
