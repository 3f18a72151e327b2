// Counts heap allocations made through operator new in a benchmark program, so that benchmarks
// can report allocations per item beside their times.
#pragma once

#include <cstddef>

namespace quorvane::bench {

/// Allocations made since the program started.
[[nodiscard]] std::size_t allocationCount() noexcept;

} // namespace quorvane::bench
