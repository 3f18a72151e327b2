#include "QuorvaneCore/ModeStability.h"

#include "Concurrency/Saturating.h"

#include <algorithm>
#include <chrono>

namespace quorvane {

namespace {

constexpr double minimumDebounceSeconds = 1.0;
constexpr double spacingSeconds = 5.0;

/// Measured from `now` rather than by moving stored instants, so the arithmetic stays exact; the
/// difference saturates, as instants at opposite ends of the clock are further apart than it
/// can count.
double secondsFrom(Date now, Date date)
{
    return std::chrono::duration<double>(saturatingDifference(date, now)).count();
}

} // namespace

double ModeStability::delay(
    const ModeConfiguration& mode, Date now, std::int64_t debounceMilliseconds)
{
    if (desired != mode) {
        desired = mode;
        changedAt = now;
    }
    const double debounce
        = std::max(static_cast<double>(debounceMilliseconds) / 1000.0, minimumDebounceSeconds);
    double target = secondsFrom(now, changedAt.value_or(now)) + debounce;
    // A display never changed has no spacing to keep: its cooled moment is the distant past, which
    // never comes after the settled one, so it is left out rather than computed.
    if (appliedAt)
        target = std::max(target, secondsFrom(now, *appliedAt) + spacingSeconds);
    return std::max(target, 0.0);
}

void ModeStability::didApply(Date date) { appliedAt = date; }

void ModeStability::cancel()
{
    desired.reset();
    changedAt.reset();
}

} // namespace quorvane
