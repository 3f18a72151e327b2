#include "Conformance/JSONExpectation.h"

#include <gtest/gtest.h>

using namespace quorvane;

TEST(JSONExpectationTest, MatchesAsTheCasesDescribe)
{
    struct Case {
        const char* expected;
        const char* actual;
        bool matches;
    };
    const Case cases[] = {
        {R"({"a": 5, "b": [1, 2]})", R"({"b": [1, 2], "a": 5.0})", true},
        {R"({"a": 1})", R"({"a": true})", false},
        {R"({"a": 1})", R"({"a": 1, "b": 2})", false},
        {R"({"a": 1, "b": 2})", R"({"a": 1})", false},
        {R"([1, 2])", R"([2, 1])", false},
        {R"({"initializedDisplayIDs": ["a", "b"]})", R"({"initializedDisplayIDs": ["b", "a"]})",
            true},
        {R"({"initializedDisplayIDs": ["a", "a"]})", R"({"initializedDisplayIDs": ["a", "b"]})",
            false},
        {R"({"capturedDisplayPreferences": [{"darkMode": {}}, true, {"trueTone": {}}, false]})",
            R"({"capturedDisplayPreferences": [{"trueTone": {}}, false, {"darkMode": {}}, true]})",
            true},
        {R"({"capturedDisplayPreferences": [{"darkMode": {}}, true, {"trueTone": {}}, false]})",
            R"({"capturedDisplayPreferences": [{"trueTone": {}}, true, {"darkMode": {}}, false]})",
            false},
        {R"(["<uuid>", "<uuid>"])",
            R"(["6F1C2B3A-4D5E-4F60-8172-93A4B5C6D7E8", "0b8e9f10-2a3b-4c5d-9e6f-708192a3b4c5"])",
            true},
        {R"(["<uuid>"])", R"(["6F1C2B3A"])", false},
        {R"(["<uuid:x>", "<uuid:x>"])",
            R"(["6F1C2B3A-4D5E-4F60-8172-93A4B5C6D7E8", "6f1c2b3a-4d5e-4f60-8172-93a4b5c6d7e8"])",
            true},
        {R"(["<uuid:x>", "<uuid:x>"])",
            R"(["6F1C2B3A-4D5E-4F60-8172-93A4B5C6D7E8", "0B8E9F10-2A3B-4C5D-9E6F-708192A3B4C5"])",
            false},
        {R"(["<uuid:x>", "<uuid:y>"])",
            R"(["6F1C2B3A-4D5E-4F60-8172-93A4B5C6D7E8", "0B8E9F10-2A3B-4C5D-9E6F-708192A3B4C5"])",
            true},
        // The placeholder must leave the one literal entry its match; the label is bound only
        // by the pairing that succeeds.
        {R"({"initializedDisplayIDs": ["<uuid:x>", "6F1C2B3A-4D5E-4F60-8172-93A4B5C6D7E8"],
            "next": "<uuid:x>"})",
            R"({"initializedDisplayIDs": ["6F1C2B3A-4D5E-4F60-8172-93A4B5C6D7E8",
            "0B8E9F10-2A3B-4C5D-9E6F-708192A3B4C5"], "next": "0B8E9F10-2A3B-4C5D-9E6F-708192A3B4C5"})",
            true},
        {R"({"initializedDisplayIDs": ["<uuid>", "<uuid>", "<uuid>", "<uuid>", "<uuid>", "<uuid>",
            "<uuid>", "<uuid>", "<uuid>", "<uuid>", "<uuid>", "<uuid>"]})",
            R"({"initializedDisplayIDs": ["0", "1", "2", "3", "4", "5", "6", "7", "8", "9", "10",
            "11"]})",
            false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.expected) + " against " + c.actual);
        JSONExpectation expectation;
        const auto difference = expectation.difference(
            nlohmann::json::parse(c.expected), nlohmann::json::parse(c.actual));
        EXPECT_EQ(!difference.has_value(), c.matches) << difference.value_or("");
    }
}
