// Saturating.h: time arithmetic that stops at the ends of a clock instead of wrapping. Delays
// come from settings and instants from anywhere on a clock; a wrap would turn "much later" into
// "long ago" (and is undefined behaviour).
#pragma once

#include "Concurrency/Executor.h"

#include <chrono>
#include <limits>

namespace quorvane {

/// `duration` in the continuous clock's ticks, clamped to what they can hold.
template <typename Rep, typename Period>
[[nodiscard]] constexpr ContinuousClock::duration saturatingDuration(
    std::chrono::duration<Rep, Period> duration) noexcept
{
    using Ticks = ContinuousClock::duration;
    using Wide = std::chrono::duration<long double, Ticks::period>;
    const long double ticks = std::chrono::duration_cast<Wide>(duration).count();
    if (ticks >= static_cast<long double>(Ticks::max().count()))
        return Ticks::max();
    if (ticks <= static_cast<long double>(Ticks::min().count()))
        return Ticks::min();
    return std::chrono::duration_cast<Ticks>(duration);
}

/// `time + duration`, or the clock's first or last instant when it would lie beyond them.
template <typename Clock, typename Duration>
[[nodiscard]] constexpr std::chrono::time_point<Clock, Duration> saturatingAdd(
    std::chrono::time_point<Clock, Duration> time, Duration duration) noexcept
{
    typename Duration::rep sum = 0;
    if (__builtin_add_overflow(time.time_since_epoch().count(), duration.count(), &sum))
        return duration > Duration::zero() ? time.max() : time.min();
    return std::chrono::time_point<Clock, Duration>(Duration(sum));
}

/// `later - earlier`, clamped to the durations the clock can hold.
template <typename Clock, typename Duration>
[[nodiscard]] constexpr Duration saturatingDifference(std::chrono::time_point<Clock, Duration> later,
    std::chrono::time_point<Clock, Duration> earlier) noexcept
{
    typename Duration::rep difference = 0;
    if (__builtin_sub_overflow(
            later.time_since_epoch().count(), earlier.time_since_epoch().count(), &difference))
        return later > earlier ? Duration::max() : Duration::min();
    return Duration(difference);
}

} // namespace quorvane
