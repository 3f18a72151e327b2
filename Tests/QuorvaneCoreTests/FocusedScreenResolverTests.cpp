#include "QuorvaneCore/FocusedScreenResolver.h"

#include <gtest/gtest.h>

using namespace quorvane;

namespace {

// Two 1000 × 800 screens side by side, A on the left, and C below A.
const std::map<std::string, Rect> screens = {
    {"b", {.x = 1000, .y = 0, .width = 1000, .height = 800}},
    {"a", {.x = 0, .y = 0, .width = 1000, .height = 800}},
    {"c", {.x = 0, .y = 800, .width = 1000, .height = 800}},
};

} // namespace

TEST(FocusedScreenResolverTest, PicksTheLargestOverlapAndKeepsPreviousOnlyOnATie)
{
    struct Case {
        std::string name;
        Rect window;
        std::optional<std::string> previous;
        std::optional<std::string> screen;
    };
    const Rect splitSixtyForty{.x = 700, .y = 100, .width = 500, .height = 300};
    const Rect splitInHalf{.x = 800, .y = 100, .width = 400, .height = 300};
    const Case cases[] = {
        {"entirely on b", {.x = 1200, .y = 100, .width = 300, .height = 300}, "a", "b"},
        {"60/40, previous on the smaller side", splitSixtyForty, "b", "a"},
        {"half, previous a", splitInHalf, "a", "a"},
        {"half, previous b", splitInHalf, "b", "b"},
        {"half, no previous", splitInHalf, std::nullopt, "a"},
        {"half, previous a third screen", splitInHalf, "c", "a"},
        {"negative size", {.x = 1200, .y = 400, .width = -500, .height = -300}, "b", "a"},
        {"touching an edge only", {.x = 2000, .y = 0, .width = 300, .height = 300}, "b",
            std::nullopt},
        {"outside every screen", {.x = -500, .y = -500, .width = 100, .height = 100}, "a",
            std::nullopt},
        {"zero width", {.x = 100, .y = 100, .width = 0, .height = 300}, "a", std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(FocusedScreenResolver::resolve(c.window, screens, c.previous), c.screen);
    }
}

TEST(FocusedScreenResolverTest, NoScreensGiveNothing)
{
    EXPECT_EQ(FocusedScreenResolver::resolve({.x = 0, .y = 0, .width = 10, .height = 10}, {}, "a"),
        std::nullopt);
}

TEST(FocusedScreenResolverTest, NormalizesScreensOfNegativeSize)
{
    const std::map<std::string, Rect> flipped = {
        {"a", {.x = 1000, .y = 800, .width = -1000, .height = -800}},
        {"b", {.x = 2000, .y = 0, .width = -1000, .height = 800}},
    };
    EXPECT_EQ(FocusedScreenResolver::resolve(
                  {.x = 900, .y = 100, .width = 400, .height = 300}, flipped, std::nullopt),
        "b");
}

TEST(RectTest, IntersectionOfTouchingRectsIsEmptyNotAbsent)
{
    const Rect left{.x = 0, .y = 0, .width = 10, .height = 10};
    EXPECT_EQ(left.intersection({.x = 10, .y = 2, .width = 5, .height = 5}),
        (Rect{.x = 10, .y = 2, .width = 0, .height = 5}));
    EXPECT_EQ(left.intersection({.x = 11, .y = 2, .width = 5, .height = 5}), std::nullopt);
    EXPECT_EQ(left.intersection({.x = 15, .y = 7, .width = -10, .height = -4}),
        (Rect{.x = 5, .y = 3, .width = 5, .height = 4}));
}
