// A rectangle in the global screen coordinate space, as window and screen frames come.
#pragma once

#include <optional>

namespace quorvane {

struct Rect {
    double x = 0;
    double y = 0;
    double width = 0;
    double height = 0;

    /// The same area with a non-negative width and height, the origin moved to match.
    [[nodiscard]] Rect normalized() const;

    /// The overlap of both rectangles, each normalized first. Rectangles that only touch along an
    /// edge give an empty rectangle (zero width or height); absent when they do not meet at all.
    [[nodiscard]] std::optional<Rect> intersection(const Rect& other) const;

    bool operator==(const Rect&) const = default;
};

} // namespace quorvane
