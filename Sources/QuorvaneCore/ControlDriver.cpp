#include "QuorvaneCore/ControlDriver.h"

#include "Concurrency/Cancellation.h"
#include "Concurrency/Sleep.h"
#include "QuorvaneCore/ConfigurationError.h"

#include <variant>

namespace quorvane {

namespace {

double fractionOf(const SettingValue& percent)
{
    return std::get<SettingValue::Percent>(percent.value).value;
}

} // namespace

bool ControlApplyReport::verified() const
{
    return observed.approximatelyEquals(requested, ControlPacing::verifiedTolerance);
}

double easedValue(double from, double to, int step, int stepCount)
{
    if (step == stepCount)
        return to;
    const double t = static_cast<double>(step) / stepCount;
    const double eased = t * t * (3.0 - 2.0 * t);
    return from + (to - from) * eased;
}

void ControlDriver::cancel(const std::optional<ControlKey>& key)
{
    if (key) {
        nextRevision(*key);
        return;
    }
    // Not std::views::values: clang 14 cannot compile it with this standard library.
    for (auto& entry : m_revisions)
        ++entry.second;
}

Task<ControlApplyReport> ControlDriver::apply(
    SettingValue value, ControlKey key, bool smooth, ControlBackend& backend)
{
    checkCancellation();
    if (!value.isValid(key.setting) || isMode(key.setting))
        throw ConfigurationError(ConfigurationError::Invalid{
            "Invalid control command; display modes require the mode coordinator."});

    const Revision revision = nextRevision(key);
    const SettingValue current = co_await backend.read(key);
    checkStillCurrent(key, revision);
    if (current.approximatelyEquals(value, ControlPacing::alreadyThereTolerance))
        co_return ControlApplyReport{.requested = value, .observed = current, .didWrite = false};

    // A brightness read outside 0...1, or not a number, would make every eased step as wrong as
    // itself: such a control gets the requested value in one write.
    if (smooth && key.setting == SettingKey::brightness && current.isValid(SettingKey::brightness))
        co_await ease(fractionOf(current), fractionOf(value), key, revision, backend);
    else
        co_await backend.write(value, key);
    checkStillCurrent(key, revision);
    co_await sleep(ControlPacing::settlePause); // Let the control settle before reading it back.
    const SettingValue observed = co_await backend.read(key);
    checkStillCurrent(key, revision);
    co_return ControlApplyReport{.requested = value, .observed = observed, .didWrite = true};
}

ControlDriver::Revision ControlDriver::nextRevision(const ControlKey& key)
{
    return ++m_revisions[key];
}

void ControlDriver::checkStillCurrent(const ControlKey& key, Revision revision) const
{
    checkCancellation();
    if (m_revisions.at(key) != revision)
        throw CancellationError();
}

Task<void> ControlDriver::ease(
    double from, double to, ControlKey key, Revision revision, ControlBackend& backend)
{
    // Every step starts from the value read before the ramp, never from a new read.
    for (int step = 1; step <= ControlPacing::easedStepCount; ++step) {
        checkStillCurrent(key, revision);
        const double fraction = easedValue(from, to, step, ControlPacing::easedStepCount);
        co_await backend.write(SettingValue::percent(fraction), key);
        checkStillCurrent(key, revision);
        if (step < ControlPacing::easedStepCount)
            co_await sleep(ControlPacing::easedStepPause);
    }
}

} // namespace quorvane
