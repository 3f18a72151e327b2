#include "MacPlatform/PlatformValue.h"

#include <cmath>
#include <limits>

namespace quorvane {

bool PlatformValue::Array::operator==(const Array& other) const { return items == other.items; }

bool PlatformValue::Dictionary::operator==(const Dictionary& other) const
{
    return entries == other.entries;
}

bool PlatformValue::operator==(const PlatformValue& other) const { return value == other.value; }

std::optional<std::int64_t> PlatformValue::integerValue() const
{
    if (const auto* integer = std::get_if<Integer>(&value))
        return integer->value;
    if (const auto* real = std::get_if<Real>(&value)) {
        // Outside the range of a 64-bit integer the conversion would be undefined.
        constexpr double limit = 9223372036854775808.0;
        if (!std::isfinite(real->value) || real->value >= limit || real->value < -limit)
            return std::nullopt;
        return static_cast<std::int64_t>(real->value);
    }
    return std::nullopt;
}

const std::string* PlatformValue::textValue() const
{
    const auto* text = std::get_if<Text>(&value);
    return text ? &text->value : nullptr;
}

} // namespace quorvane
