// Counts heap allocations made through operator new in a benchmark program, and the bytes they
// hold, so that benchmarks can report allocations per item and the live heap beside their times.
#pragma once

#include <cstddef>

namespace quorvane::bench {

/// Allocations made since the program started.
[[nodiscard]] std::size_t allocationCount() noexcept;

/// Bytes allocated through operator new and not yet freed, as the allocator sized the blocks.
[[nodiscard]] std::size_t liveHeapBytes() noexcept;

} // namespace quorvane::bench
