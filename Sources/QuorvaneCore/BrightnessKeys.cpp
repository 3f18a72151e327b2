#include "QuorvaneCore/BrightnessKeys.h"

#include "Foundation/Hash.h"

#include <algorithm>

namespace quorvane {

namespace {

constexpr std::int64_t auxiliaryControlButtonsSubtype = 8;
constexpr std::uint64_t brightnessUpKeyType = 2;
constexpr std::uint64_t brightnessDownKeyType = 3;
constexpr std::int64_t brightnessUpKeyCode = 144;
constexpr std::int64_t brightnessDownKeyCode = 145;

} // namespace

std::optional<BrightnessKeyStep> brightnessKeyStep(std::int64_t raw)
{
    const auto found = std::ranges::find(
        allBrightnessKeySteps, raw, [](BrightnessKeyStep step) { return rawValue(step); });
    if (found == allBrightnessKeySteps.end())
        return std::nullopt;
    return *found;
}

std::optional<BrightnessKeyDirection> brightnessKeyDirection(std::int64_t raw)
{
    if (raw == rawValue(BrightnessKeyDirection::down))
        return BrightnessKeyDirection::down;
    if (raw == rawValue(BrightnessKeyDirection::up))
        return BrightnessKeyDirection::up;
    return std::nullopt;
}

double adjusting(BrightnessKeyStep step, double brightness, BrightnessKeyDirection direction)
{
    const double change = static_cast<double>(rawValue(step)) / 100.0;
    const double moved
        = direction == BrightnessKeyDirection::up ? brightness + change : brightness - change;
    return std::clamp(moved, 0.0, 1.0);
}

std::optional<BrightnessKeyEvent> BrightnessKeyEvent::auxiliary(
    std::int64_t subtype, std::int64_t data)
{
    if (subtype != auxiliaryControlButtonsSubtype)
        return std::nullopt;
    // Bits as unsigned, so that a negative word shifts without surprises.
    const auto word = static_cast<std::uint64_t>(data);
    const std::uint64_t keyType = (word & 0xFFFF'FFFF) >> 16;
    if (keyType != brightnessUpKeyType && keyType != brightnessDownKeyType)
        return std::nullopt;
    // Key state 0x0A is down and 0x0B up: only bit 8 differs, the rest of the byte must match.
    if ((word & 0xFE00) != 0x0A00)
        return std::nullopt;
    return BrightnessKeyEvent{
        .direction = keyType == brightnessUpKeyType ? BrightnessKeyDirection::up
                                                    : BrightnessKeyDirection::down,
        .isDown = (word & 0x100) == 0,
        .encoding = Encoding::auxiliary,
    };
}

std::optional<BrightnessKeyEvent> BrightnessKeyEvent::keyboard(std::int64_t code, bool isDown)
{
    if (code != brightnessUpKeyCode && code != brightnessDownKeyCode)
        return std::nullopt;
    return BrightnessKeyEvent{
        .direction
        = code == brightnessUpKeyCode ? BrightnessKeyDirection::up : BrightnessKeyDirection::down,
        .isDown = isDown,
        .encoding = Encoding::keyboard,
    };
}

std::size_t BrightnessKeyRouter::Key::Hash::operator()(const Key& key) const noexcept
{
    return hashCombine(std::hash<std::int64_t>{}(rawValue(key.direction)),
        std::hash<BrightnessKeyEvent::Encoding>{}(key.encoding));
}

bool BrightnessKeyRouter::shouldConsume(
    const BrightnessKeyEvent& event, bool modified, const Acceptance& accept)
{
    const Key key{.direction = event.direction, .encoding = event.encoding};
    if (!event.isDown)
        return m_captured.erase(key) > 0;
    if (modified || !accept(event.direction))
        return false;
    m_captured.insert(key);
    return true;
}

BrightnessKeyAdjustmentQueue::Action BrightnessKeyAdjustmentQueue::enqueue(
    BrightnessKeyDirection direction, BrightnessKeyStep step)
{
    if (m_target) {
        m_target = adjusting(step, *m_target, direction);
        return Action::apply(*m_target);
    }
    const bool isReadUnderWay = !m_pending.empty();
    m_pending.push_back({.direction = direction, .step = step});
    return isReadUnderWay ? Action::queued() : Action::readCurrent();
}

std::optional<double> BrightnessKeyAdjustmentQueue::resolve(double current)
{
    // Written so that NaN fails the range test too.
    const bool isBrightness = current >= 0.0 && current <= 1.0;
    if (m_pending.empty() || !isBrightness) {
        reset();
        return std::nullopt;
    }
    double target = current;
    for (const Press& press : m_pending)
        target = adjusting(press.step, target, press.direction);
    m_pending.clear();
    m_target = target;
    return target;
}

void BrightnessKeyAdjustmentQueue::completed(double target)
{
    if (m_pending.empty() && m_target == target)
        m_target.reset();
}

void BrightnessKeyAdjustmentQueue::reset()
{
    m_pending.clear();
    m_target.reset();
}

} // namespace quorvane
