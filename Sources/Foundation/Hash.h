// Combining hashes of the members of value types.
#pragma once

#include <cstddef>

namespace quorvane {

[[nodiscard]] constexpr std::size_t hashCombine(std::size_t seed, std::size_t value) noexcept
{
    return seed ^ (value + 0x9e3779b97f4a7c15ULL + (seed << 6) + (seed >> 2));
}

template <typename... Hashes>
[[nodiscard]] constexpr std::size_t hashCombine(
    std::size_t seed, std::size_t value, Hashes... more) noexcept
{
    return hashCombine(hashCombine(seed, value), more...);
}

} // namespace quorvane
