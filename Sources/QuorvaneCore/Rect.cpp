#include "QuorvaneCore/Rect.h"

#include <algorithm>
#include <cmath>

namespace quorvane {

Rect Rect::normalized() const
{
    return Rect{
        .x = std::min(x, x + width),
        .y = std::min(y, y + height),
        .width = std::abs(width),
        .height = std::abs(height),
    };
}

std::optional<Rect> Rect::intersection(const Rect& other) const
{
    const Rect first = normalized();
    const Rect second = other.normalized();
    const double minX = std::max(first.x, second.x);
    const double minY = std::max(first.y, second.y);
    const double maxX = std::min(first.x + first.width, second.x + second.width);
    const double maxY = std::min(first.y + first.height, second.y + second.height);
    if (maxX < minX || maxY < minY)
        return std::nullopt;
    return Rect{.x = minX, .y = minY, .width = maxX - minX, .height = maxY - minY};
}

} // namespace quorvane
