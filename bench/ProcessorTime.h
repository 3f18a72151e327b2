// The processor time of the running thread, which the benchmarks report: virtual time costs
// nothing but the work it triggers, and other processes on the machine do not count.
#pragma once

#include <time.h>

namespace quorvane::bench {

[[nodiscard]] inline double threadSeconds()
{
    timespec time{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &time);
    return static_cast<double>(time.tv_sec) + static_cast<double>(time.tv_nsec) * 1e-9;
}

/// The processor time `work()` takes.
template <typename Work> [[nodiscard]] double secondsOf(Work&& work)
{
    const double start = threadSeconds();
    work();
    return threadSeconds() - start;
}

} // namespace quorvane::bench
