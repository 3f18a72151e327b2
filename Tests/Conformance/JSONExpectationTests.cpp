#include "Conformance/JSONExpectation.h"

#include <gtest/gtest.h>

using namespace quorvane;

// The public cases hold no set or alternating-array map of two entries: their order is pinned here.
TEST(JSONExpectationTest, SetsAndAlternatingMapsMatchInAnyOrder)
{
    const auto matches = [](const char* expected, const char* actual) {
        return !JSONExpectation().difference(
            nlohmann::json::parse(expected), nlohmann::json::parse(actual));
    };
    EXPECT_TRUE(matches(
        R"({"initializedDisplayIDs": ["a", "b"]})", R"({"initializedDisplayIDs": ["b", "a"]})"));
    EXPECT_FALSE(matches(R"({"otherIDs": ["a", "b"]})", R"({"otherIDs": ["b", "a"]})"));
    EXPECT_TRUE(matches(R"({"capturedDisplayPreferences": [1, true, 2, false]})",
        R"({"capturedDisplayPreferences": [2, false, 1, true]})"));
    EXPECT_FALSE(matches(R"({"capturedDisplayPreferences": [1, true, 2, false]})",
        R"({"capturedDisplayPreferences": [2, true, 1, false]})"));
}
