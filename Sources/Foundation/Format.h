// Numbers as text, independent of the process locale (Qt switches the C locale to the user's).
#pragma once

#include <cstdint>
#include <string>

namespace quorvane {

/// The decimal form of `value`, with a leading '-' when negative.
[[nodiscard]] std::string formatInteger(std::int64_t value);
[[nodiscard]] std::string formatUnsigned(std::uint64_t value);

/// `value` with exactly `decimals` digits after a '.', rounded as printf's "%.Nf" does;
/// "nan", "inf" and "-inf" for values that are not finite.
[[nodiscard]] std::string formatFixed(double value, int decimals);

} // namespace quorvane
