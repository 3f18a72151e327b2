// Joining texts with a separator, for labels built from parts.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace quorvane {

/// The parts in order with `separator` between neighbours; empty for no parts.
[[nodiscard]] inline std::string joined(
    const std::vector<std::string>& parts, std::string_view separator)
{
    std::string result;
    for (std::size_t index = 0; index < parts.size(); ++index) {
        if (index > 0)
            result += separator;
        result += parts[index];
    }
    return result;
}

} // namespace quorvane
