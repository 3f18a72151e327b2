#include "QuorvaneCore/BrightnessDriver.h"

#include "Concurrency/Cancellation.h"
#include "Concurrency/Sleep.h"
#include "QuorvaneCore/ConfigurationError.h"
#include "QuorvaneCore/ControlDriver.h"

#include <cmath>

namespace quorvane {

namespace {

bool isFraction(double value) { return std::isfinite(value) && value >= 0.0 && value <= 1.0; }

} // namespace

bool ApplyReport::verified() const
{
    return std::abs(observed - requested) <= ControlPacing::verifiedTolerance;
}

Task<ApplyReport> BrightnessDriver::apply(double value, bool smooth, BrightnessBackend& backend)
{
    checkCancellation();
    if (!isFraction(value))
        throw ConfigurationError(
            ConfigurationError::Invalid{"Brightness must be between 0 and 100%."});

    const Revision revision = ++m_revision;
    const double current = co_await backend.read();
    checkStillCurrent(revision);
    if (std::abs(current - value) <= ControlPacing::alreadyThereTolerance)
        co_return ApplyReport{.requested = value, .observed = current, .didWrite = false};

    // A reading outside 0...1, or not a number, would make every eased step as wrong as itself:
    // such a brightness gets the requested value in one write.
    const int stepCount = smooth && isFraction(current) ? ControlPacing::easedStepCount : 1;
    co_await writeSteps(current, value, stepCount, revision, backend);
    co_await sleep(ControlPacing::settlePause); // Let the panel settle before reading it back.
    checkStillCurrent(revision);
    const double observed = co_await backend.read();
    checkStillCurrent(revision);
    co_return ApplyReport{.requested = value, .observed = observed, .didWrite = true};
}

void BrightnessDriver::checkStillCurrent(Revision revision) const
{
    checkCancellation();
    if (m_revision != revision)
        throw CancellationError();
}

Task<void> BrightnessDriver::writeSteps(
    double from, double to, int stepCount, Revision revision, BrightnessBackend& backend)
{
    // Every step starts from the value read before the first write, never from a new read.
    for (int step = 1; step <= stepCount; ++step) {
        checkStillCurrent(revision);
        co_await backend.write(easedValue(from, to, step, stepCount));
        checkStillCurrent(revision);
        if (step < stepCount)
            co_await sleep(ControlPacing::easedStepPause);
    }
}

} // namespace quorvane
