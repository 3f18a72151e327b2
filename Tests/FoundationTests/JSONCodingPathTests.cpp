// The coding path of a decoding error is found only when the error is made, by looking for the
// failing value in its document: it must name that very value, not an equal one elsewhere.

#include "Foundation/JSON.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <limits>
#include <string>
#include <string_view>

using namespace quorvane;

namespace {

/// "kind path" of the error `decode` throws on `text`, read from the top or from `member`.
template <typename Decode>
std::string failure(std::string_view text, Decode decode, std::string_view member = {})
{
    const nlohmann::json document = parseJSON(text);
    try {
        if (member.empty())
            (void)decode(JSONValue(document));
        else
            (void)decode(JSONValue(document.at(std::string(member))));
    } catch (const JSONDecodingError& error) {
        return "<" + error.codingPath() + "> " + error.description();
    }
    return "no error";
}

std::string decodeSecondOfAnArray(const JSONValue& value)
{
    return decodeString(value.elements().at(1));
}

} // namespace

TEST(JSONCodingPathTest, NamesTheFailingValueItselfWhereverEqualValuesLie)
{
    const auto strings = arrayOf(decodeString);
    const auto objectsOfInts = arrayOf(mapOf(decodeInteger));
    EXPECT_EQ(failure(R"([1, 1])", decodeSecondOfAnArray),
        "<[1]> Expected a string but found an integer.");
    EXPECT_EQ(failure(R"(["a", "b", null])", strings), "<[2]> Expected a string but found null.");
    EXPECT_EQ(failure(R"([{"x": 1}, {"x": 1, "y": true}])", objectsOfInts),
        "<[1].y> Expected an integer but found a Bool.");
    // Empty keys add nothing, not even a separator, while the path is still empty.
    EXPECT_EQ(failure(R"({"": {"": [true]}})", mapOf(mapOf(strings))),
        "<[0]> Expected a string but found a Bool.");
    EXPECT_EQ(failure(R"({"a": {"": [true]}})", mapOf(mapOf(strings))),
        "<a.[0]> Expected a string but found a Bool.");
    // A value made the top of its own decoding counts from there.
    EXPECT_EQ(failure(R"({"outer": {"inner": [0, "x"]}})", mapOf(arrayOf(decodeInteger)), "outer"),
        "<inner[1]> Expected an integer but found a string.");
    const std::string longKey(60, 'k');
    EXPECT_EQ(failure(R"({")" + longKey + R"(": "x"})", mapOf(decodeBool)),
        "<" + std::string(40, 'k') + "…> Expected a Bool but found a string.");
}

TEST(JSONCodingPathTest, WritingFindsThePathOfWhatCannotBeWrittenOnlyWhenSomethingCannot)
{
    nlohmann::json document = parseJSON(R"({"a": [1.5, {"b": "ok"}], "c": {"d": 2}})");
    EXPECT_EQ(serializeJSON(document), document.dump(2));
    document["a"][1]["b"] = std::numeric_limits<double>::infinity();
    try {
        (void)serializeJSON(document);
        ADD_FAILURE() << "an infinite number was written";
    } catch (const JSONEncodingError& error) {
        EXPECT_EQ(error.codingPath(), "a[1].b");
    }
    document["a"][1]["b"] = "ok";
    document["c"]["\xC3"] = 1;
    try {
        (void)serializeJSON(document);
        ADD_FAILURE() << "a key that is not UTF-8 was written";
    } catch (const JSONEncodingError& error) {
        EXPECT_EQ(error.codingPath(), "c");
    }
}
