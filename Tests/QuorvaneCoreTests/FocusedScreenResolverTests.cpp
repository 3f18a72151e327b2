#include "QuorvaneCore/FocusedScreenResolver.h"

#include <gtest/gtest.h>

#include <tuple>

using namespace quorvane;

TEST(FocusedScreenResolverTest, PicksTheLargestOverlapAndKeepsPreviousOnlyOnATie)
{
    // 1000 × 800 screens: a, then b on its right; c below a, given with a negative size.
    const std::map<std::string, Rect> screens
        = {{"b", {1000, 0, 1000, 800}}, {"a", {0, 0, 1000, 800}}, {"c", {1000, 1600, -1000, -800}}};
    const Rect splitInHalf{800, 100, 400, 300};
    using ScreenID = std::optional<std::string>;
    const std::tuple<std::string, Rect, ScreenID, ScreenID> cases[] = {
        {"entirely on b", {1200, 100, 300, 300}, "a", "b"},
        {"60/40, previous on the smaller side", {700, 100, 500, 300}, "b", "a"},
        {"half, previous a", splitInHalf, "a", "a"},
        {"half, previous b", splitInHalf, "b", "b"},
        {"half, no previous", splitInHalf, std::nullopt, "a"},
        {"half, previous a third screen", splitInHalf, "c", "a"},
        {"window of negative size", {1200, 400, -500, -300}, "b", "a"},
        {"on the screen of negative size", {100, 900, 100, 100}, "a", "c"},
        {"one square point on b", {1999, 799, 1, 1}, "a", "b"},
        {"touching an edge only", {2000, 0, 300, 300}, "b", std::nullopt},
        {"outside every screen", {-500, -500, 100, 100}, "a", std::nullopt},
    };
    for (const auto& [name, window, previous, screen] : cases) {
        SCOPED_TRACE(name);
        EXPECT_EQ(FocusedScreenResolver::resolve(window, screens, previous), screen);
    }
    EXPECT_EQ(FocusedScreenResolver::resolve({0, 0, 10, 10}, {}, "a"), std::nullopt);
}

TEST(RectTest, IntersectionIsEmptyForTouchingEdgesAndAbsentForRectanglesApart)
{
    const Rect square{0, 0, 10, 10};
    EXPECT_EQ(square.intersection({10, 2, 10, 5}), (Rect{10, 2, 0, 5}));
    EXPECT_EQ(square.intersection({2, 10, 5, 10}), (Rect{2, 10, 5, 0}));
    EXPECT_EQ(square.intersection({20, 2, 5, 5}), std::nullopt); // apart only along x
    EXPECT_EQ(square.intersection({2, -20, 5, 5}), std::nullopt); // apart only along y
    EXPECT_EQ(square.intersection({15, 15, -10, -10}), (Rect{5, 5, 5, 5}));
}
