#include "QuorvaneCore/FocusedScreenResolver.h"

#include <algorithm>
#include <vector>

namespace quorvane {

namespace {

/// 0 when the rectangles do not overlap or only touch.
[[nodiscard]] double overlapArea(const Rect& window, const Rect& screen)
{
    const std::optional<Rect> overlap = window.intersection(screen);
    if (!overlap)
        return 0;
    return overlap->width * overlap->height;
}

} // namespace

std::optional<std::string> FocusedScreenResolver::resolve(const Rect& window,
    const std::map<std::string, Rect>& screens, const std::optional<std::string>& previous)
{
    struct Overlap {
        const std::string& identifier;
        double area;
    };
    std::vector<Overlap> overlaps;
    double largest = 0;
    for (const auto& [identifier, screen] : screens) {
        overlaps.push_back({.identifier = identifier, .area = overlapArea(window, screen)});
        largest = std::max(largest, overlaps.back().area);
    }
    if (largest <= 0)
        return std::nullopt;

    std::vector<std::string> tied;
    for (const Overlap& overlap : overlaps) {
        if (overlap.area == largest)
            tied.push_back(overlap.identifier);
    }
    // The map is already in this order; sorting keeps the tie rule from resting on that.
    std::ranges::sort(tied);
    if (previous && std::ranges::find(tied, *previous) != tied.end())
        return previous;
    return tied.front();
}

} // namespace quorvane
