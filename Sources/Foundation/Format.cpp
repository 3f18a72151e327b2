#include "Foundation/Format.h"

#include <array>
#include <cassert>
#include <charconv>

namespace quorvane {
namespace {

template <typename Value> std::string toChars(Value value)
{
    std::array<char, 32> buffer;
    const auto result = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value);
    assert(result.ec == std::errc() && "an integer always fits in 32 characters");
    return std::string(buffer.data(), result.ptr);
}

} // namespace

std::string formatInteger(std::int64_t value) { return toChars(value); }

std::string formatUnsigned(std::uint64_t value) { return toChars(value); }

std::string formatFixed(double value, int decimals)
{
    assert(decimals >= 0 && "a negative count of decimals has no meaning");
    // 309 integer digits for the largest double, the point and the decimals.
    std::string buffer(340 + static_cast<std::size_t>(decimals), '\0');
    const auto result = std::to_chars(
        buffer.data(), buffer.data() + buffer.size(), value, std::chars_format::fixed, decimals);
    assert(result.ec == std::errc() && "the buffer holds every fixed-point double");
    buffer.resize(static_cast<std::size_t>(result.ptr - buffer.data()));
    return buffer;
}

} // namespace quorvane
