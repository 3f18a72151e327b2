#include "Foundation/JSON.h"
#include "TestSupport/ReadingTable.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <bit>
#include <limits>
#include <stop_token>
#include <string>
#include <string_view>
#include <system_error>

using namespace quorvane;
using testing::StartsWith;
using testing::ThrowsMessage;

namespace {

// Decoders that write back what they read, so that a table can show what they read as JSON.
nlohmann::json decodeTemperature(const JSONValue& value)
{
    const JSONTaggedCase tagged = value.taggedCase({"neutral", "kelvin"});
    if (tagged.name == "neutral")
        return encodeTaggedCase("neutral");
    return encodeTaggedCase(
        "kelvin", {{"_0", encodeInteger(tagged.payload.required("_0", decodeInteger))}});
}

nlohmann::json decodeSample(const JSONValue& value)
{
    const JSONObject object = value.object();
    return encodeObject({
        {"name", encodeString(object.required("name", decodeString))},
        {"brightness", encodeOptional(object.optional("brightness", decodeDouble), encodeDouble)},
        {"ruleIDs", encodeArray(object.required("ruleIDs", arrayOf(decodeUUID)), encodeUUID)},
    });
}

/// Writes `tree` into `out` value by value, as an encoder would.
void replay(const nlohmann::json& tree, JSONWriter& out)
{
    switch (tree.type()) {
    case nlohmann::json::value_t::object:
        out.beginObject();
        for (const auto& [key, value] : tree.items()) {
            out.key(key);
            replay(value, out);
        }
        out.endObject();
        return;
    case nlohmann::json::value_t::array:
        out.beginArray();
        for (const nlohmann::json& element : tree)
            replay(element, out);
        out.endArray();
        return;
    case nlohmann::json::value_t::boolean:
        return out.boolean(tree.get_ref<const bool&>());
    case nlohmann::json::value_t::number_integer:
        return out.integer(tree.get_ref<const std::int64_t&>());
    case nlohmann::json::value_t::number_unsigned:
        return out.integer(static_cast<std::int64_t>(tree.get_ref<const std::uint64_t&>()));
    case nlohmann::json::value_t::number_float:
        return out.number(tree.get_ref<const double&>());
    case nlohmann::json::value_t::string:
        return out.string(tree.get_ref<const std::string&>());
    default:
        FAIL() << "the writer has no " << tree.type_name();
    }
}

std::string textOf(const nlohmann::json& tree)
{
    return jsonText([&tree](JSONWriter& out) { replay(tree, out); });
}

/// What `write` ends in: its text, or the message of the JSONEncodingError it throws.
template <typename Write> std::string outcomeOf(Write write)
{
    try {
        return write();
    } catch (const JSONEncodingError& error) {
        return std::string("error: ") + error.what();
    }
}

} // namespace

TEST(JSONTest, ReadsEachKindStrictly)
{
    const Reader boolean = reading(decodeBool);
    const Reader integer = reading(decodeInteger);
    const Reader number = reading(decodeDouble);
    const std::string_view tooLarge = "dataCorrupted: The number does not fit in a 64-bit integer.";
    expectOutcomes({
        {boolean, "1", "typeMismatch: Expected a Bool but found an integer."},
        {boolean, "null", "valueNotFound: Expected a Bool but found null."},
        {integer, "-9223372036854775808", "-9223372036854775808"},
        {integer, "9223372036854775807", "9223372036854775807"},
        {integer, "9223372036854775808", tooLarge},
        {integer, "-9223372036854775809", tooLarge},
        {integer, "123456789012345678901234567890", tooLarge},
        {integer, "2.0", "typeMismatch: Expected an integer but found a floating-point number."},
        {integer, "true", "typeMismatch: Expected an integer but found a Bool."},
        {number, "-3", "-3.0"},
        {number, "false", "typeMismatch: Expected a number but found a Bool."},
    });
}

// The coding path of a decoding error is found only when the error is made, by looking for the
// failing value in its document: it must name that very value, not an equal one elsewhere.
TEST(JSONTest, ReadsObjectsArraysAndMapsAndNamesTheCodingPathOfAFault)
{
    const Reader sample = reading(decodeSample);
    const Reader alternatingMap = reading(alternatingMapOf(decodeInteger, decodeBool));
    const Reader set = reading(setOf(decodeString));
    const Reader strings = reading(arrayOf(decodeString));
    const Reader nestedStrings = reading(mapOf(mapOf(arrayOf(decodeString))));
    expectOutcomes({
        {sample,
            R"({"name": "A", "brightness": 0.5, "unknown": 1,)"
            R"( "ruleIDs": ["0f4a5b6c-1111-2222-3333-abcdefabcdef"]})",
            R"({"brightness":0.5,"name":"A","ruleIDs":["0F4A5B6C-1111-2222-3333-ABCDEFABCDEF"]})"},
        {sample, R"({"name": "A", "brightness": null, "ruleIDs": []})",
            R"({"name":"A","ruleIDs":[]})"},
        {sample, R"({"name": "A", "ruleIDs": []})", R"({"name":"A","ruleIDs":[]})"},
        {sample, R"({"name": "A", "brightness": "0.5", "ruleIDs": []})",
            "typeMismatch: brightness: Expected a number but found a string."},
        {sample, R"({"ruleIDs": []})", R"(keyNotFound: No value associated with the key "name".)"},
        {sample, R"({"name": null, "ruleIDs": []})",
            "valueNotFound: name: Found null where a value is required."},
        {reading(arrayOf(decodeSample)),
            R"([{"name": "A", "ruleIDs": []}, {"name": "B", "ruleIDs": ["x"]}])",
            "dataCorrupted: [1].ruleIDs[0]: Attempted to decode UUID from invalid UUID string."},
        {reading(mapOf(decodeSample)), R"({"37D8832A": {"name": "A"}})",
            R"(keyNotFound: 37D8832A: No value associated with the key "ruleIDs".)"},
        // Maps keyed by other than text alternate keys and values; a repeated key replaces.
        {alternatingMap, "[5, false, 1, true]", "[[1,true],[5,false]]"},
        {alternatingMap, "[1, true, 1, false]", "[[1,false]]"},
        {alternatingMap, "[1, true, 5]",
            "dataCorrupted: Expected an array of alternating keys and values, but it has an odd "
            "number of elements."},
        {alternatingMap, "[1, 1]", "typeMismatch: [1]: Expected a Bool but found an integer."},
        {set, R"(["B", "A", "B"])", R"(["A","B"])"}, // repeats collapse
        // The path names the failing value itself, not an equal one before it; empty keys add
        // nothing, not even a separator, while the path is still empty.
        {reading([](const JSONValue& value) { return decodeString(value.elements().at(1)); }),
            "[1, 1]", "typeMismatch: [1]: Expected a string but found an integer."},
        {strings, R"(["a", "b", null])", "valueNotFound: [2]: Expected a string but found null."},
        {reading(arrayOf(mapOf(decodeInteger))), R"([{"x": 1}, {"x": 1, "y": true}])",
            "typeMismatch: [1].y: Expected an integer but found a Bool."},
        {nestedStrings, R"({"": {"": [true]}})",
            "typeMismatch: [0]: Expected a string but found a Bool."},
        {nestedStrings, R"({"a": {"": [true]}})",
            "typeMismatch: a.[0]: Expected a string but found a Bool."},
    });
    // A value made the top of its own decoding counts from there.
    const nlohmann::json document = parseJSON(R"({"outer": {"inner": [0, "x"]}})");
    EXPECT_THAT([&] { (void)mapOf(arrayOf(decodeInteger))(JSONValue(document.at("outer"))); },
        ThrowsMessage<JSONDecodingError>("inner[1]: Expected an integer but found a string."));
}

TEST(JSONTest, TaggedVariantNeedsExactlyOneCaseKey)
{
    const Reader temperature = reading(decodeTemperature);
    const std::string_view notOne = "typeMismatch: Invalid number of keys found, expected one.";
    expectOutcomes({
        {temperature, R"({"neutral": {"unknown": 1}})", R"({"neutral":{}})"},
        {temperature, R"({"kelvin": {"_0": 5000}, "warmth": {}})", R"({"kelvin":{"_0":5000}})"},
        {temperature, R"({"neutral": {}, "kelvin": {"_0": 6500}})", notOne},
        {temperature, R"({"warmth": {}})", notOne},
        {temperature, R"({"kelvin": {"_0": 6500.5}})",
            "typeMismatch: kelvin._0: Expected an integer but found a floating-point number."},
    });
}

TEST(JSONTest, WritesDoublesThatReadBackBitForBit)
{
    const double max = std::numeric_limits<double>::max();
    for (const double value : {0.1, 1.0 / 3.0, 59.94, -0.0, 5e-324, 2.2250738585072014e-308, max,
             -max, 9007199254740993.0}) {
        const nlohmann::json document = parseJSON(serializeJSON(encodeDouble(value)));
        EXPECT_EQ(std::bit_cast<std::uint64_t>(decodeDouble(JSONValue(document))),
            std::bit_cast<std::uint64_t>(value))
            << document.dump();
    }
}

TEST(JSONTest, RefusesToWriteWhatJSONCannotHoldAndNamesWhere)
{
    const nlohmann::json nan = encodeDouble(std::numeric_limits<double>::quiet_NaN());
    const nlohmann::json infinity = encodeDouble(std::numeric_limits<double>::infinity());
    // Sorted keys at every level, indented by two spaces, text as it is.
    nlohmann::json badKey = parseJSON(R"({"é": [1.5, {"b": "ok", "Z": []}], "c": {"d": 2}})");
    EXPECT_EQ(serializeJSON(badKey),
        "{\n  \"c\": {\n    \"d\": 2\n  },\n  \"é\": [\n    1.5,\n    {\n      \"Z\": [],\n"
        "      \"b\": \"ok\"\n    }\n  ]\n}");
    badKey["c"]["\xC3"] = 1;
    const std::pair<nlohmann::json, std::string> cases[] = {
        {encodeObject({{"settings", encodeObject({{"brightness", nan}})}}),
            "settings.brightness: JSON cannot hold the number nan."},
        {nlohmann::json::array({0.5, infinity}), "[1]: JSON cannot hold the number inf."},
        {nlohmann::json::array({infinity, 0.5}), "[0]: JSON cannot hold the number inf."},
        {{{"a", {1.5, {{"b", infinity}}}}}, "a[1].b: JSON cannot hold the number inf."},
        {encodeObject({{"name", encodeString("\xC3")}}), "name: The text is not valid UTF-8."},
        {badKey, "c: A key is not valid UTF-8."},
    };
    for (const auto& [document, message] : cases) {
        SCOPED_TRACE(message);
        EXPECT_THAT([&document = document] { (void)serializeJSON(document); },
            ThrowsMessage<JSONEncodingError>(message));
    }
}

// The text writer must give the very bytes of the tree's text, or the file changes on every save
// after an update; and it must refuse what serializeJSON() refuses, naming the same place.
TEST(JSONTest, TextWriterWritesTheBytesOfTheTreeAndRefusesTheSame)
{
    const double max = std::numeric_limits<double>::max();
    const double infinity = std::numeric_limits<double>::infinity();
    nlohmann::json badKey = parseJSON(R"({"a": [{"b": {}}], "c": {"d": 2}})");
    badKey["a"][0]["b"]["\xC3"] = 1;
    const nlohmann::json documents[] = {
        parseJSON(R"({"é": [1.5, {"b": "ok", "Z": []}], "c": {"d": 2}, "e": {}, "f": [[], {}]})"),
        parseJSON(R"([{}, [], [[]], {"a": {}}, "", 0, -1, true, false])"),
        parseJSON(R"("\u0000\u0001\b\t\n\u000b\f\r\u001f \" \\ / \u007f é € 😀")"),
        parseJSON(R"({"\n\"k\"\u0001": "v", "ü": "\t"})"),
        nlohmann::json::array({0.1, 1.0 / 3.0, 59.94, -0.0, 0.0, 1.0, 1e-5, 1e-4, 1e15, 1e16, 1e17,
            123456789.125, 5e-324, 2.2250738585072014e-308, max, -max, 9007199254740993.0}),
        nlohmann::json::array({std::numeric_limits<std::int64_t>::min(),
            std::numeric_limits<std::int64_t>::max(), 0, 7}),
        nlohmann::json(true),
        nlohmann::json::object(),
        {{"settings", {{"brightness", std::numeric_limits<double>::quiet_NaN()}}}},
        nlohmann::json::array({0.5, infinity}),
        nlohmann::json::array({-infinity, 0.5}),
        {{"a", {1.5, {{"b", infinity}}}}},
        {{"list", {"ok", "\xC3"}}},
        {{"lone continuation byte", "\x80"}},
        badKey,
    };
    for (const nlohmann::json& document : documents) {
        const std::string expected = outcomeOf([&] { return serializeJSON(document); });
        SCOPED_TRACE(expected);
        EXPECT_EQ(outcomeOf([&] { return textOf(document); }), expected);
    }
}

TEST(JSONTest, ParsesOnlyUTF8JSONNestedAtMost512Levels)
{
    EXPECT_EQ(parseJSON("\xEF\xBB\xBF{}"), nlohmann::json::object())
        << "a byte order mark is skipped";
    const std::string_view mixed
        = R"({"a": [1, -2, 3.5, "x", null, true, {"b": {}}], "c": {"d": []}, "e": 1, "e": [2]})";
    EXPECT_EQ(parseJSON(mixed), nlohmann::json::parse(mixed)) << "a repeated key replaces";
    EXPECT_NO_THROW((void)parseJSON(std::string(512, '[') + std::string(512, ']')));
    EXPECT_NO_THROW((void)parseJSON(std::string(511, '[') + "{}" + std::string(511, ']')));
    const std::string notJSON = "The data is not valid JSON: ";
    const std::string tooDeep = "The data nests arrays and objects deeper than 512 levels.";
    // The error's text, or how it starts.
    const std::pair<std::string, std::string> cases[] = {
        {std::string(513, '[') + std::string(513, ']'), tooDeep},
        {std::string(512, '[') + "{}" + std::string(512, ']'), tooDeep},
        {std::string(100'000, '['), tooDeep},
        {"", notJSON},
        {"[1,]", notJSON},
        {"{} {}", notJSON},
        {std::string("{\0}", 3), notJSON},
        {std::string("{}\0garbage", 10), notJSON + "it holds a NUL character."},
        {"[-1e400]", notJSON + "number overflow parsing '-1e400'."},
        {"{\"a\": \"\xC3\"}", "The data is not valid UTF-8."},
    };
    for (const auto& [bytes, message] : cases) {
        SCOPED_TRACE(testing::PrintToString(bytes.substr(0, 16)));
        EXPECT_THAT([&bytes = bytes] { (void)parseJSON(bytes); },
            ThrowsMessage<JSONDecodingError>(StartsWith(message)));
    }
}

TEST(JSONTest, AParseAskedToStopGivesUpWithoutADocumentOrADecodingError)
{
    const std::string_view document = R"({"profiles": [{"rules": [{}]}]})";
    std::stop_source source;
    EXPECT_EQ(parseJSON(document, source.get_token()), nlohmann::json::parse(document));
    source.request_stop();
    for (const std::string_view bytes : {document, std::string_view("[1, 2]")}) {
        try {
            (void)parseJSON(bytes, source.get_token());
            ADD_FAILURE() << bytes << " was parsed";
        } catch (const std::system_error& error) {
            EXPECT_EQ(error.code(), std::errc::operation_canceled);
        }
    }
}

TEST(JSONTest, ErrorTextsQuoteAtMost40WholeCharactersOfTheInput)
{
    const std::string syntaxError = "The data is not valid JSON: parse error at line 1, column ";
    const std::string unclosed = ": syntax error while parsing value - invalid string: missing "
                                 "closing quote; last read: '\"";
    const std::string invalid
        = ": syntax error while parsing value - invalid literal; last read: '";
    const std::string a38(38, 'a');
    const std::pair<std::string, std::string> cases[] = {
        {std::string(100'000, '1') + "e999",
            "The data is not valid JSON: number overflow parsing '" + std::string(40, '1')
                + "\u2026'."},
        {"\"" + a38 + "a", syntaxError + "41" + unclosed + a38 + "a'."},
        {"\"" + a38 + "aa", syntaxError + "42" + unclosed + a38 + "a\u2026'."},
        {"\"" + a38 + "\u00E9\u00E9", syntaxError + "44" + unclosed + a38 + "\u00E9\u2026'."},
        // The parser stops after the first byte of a character, and the text shows all of it.
        {"\u00E9", syntaxError + "1" + invalid + "\u00E9'."},
        {"[1, \U0001F600]", syntaxError + "5" + invalid + "1, \U0001F600'."},
    };
    for (const auto& [bytes, message] : cases) {
        SCOPED_TRACE(message.substr(0, 80));
        EXPECT_THAT([&bytes = bytes] { (void)parseJSON(bytes); },
            ThrowsMessage<JSONDecodingError>(message));
    }
    // Only the bytes given are read, even where more follow in memory.
    EXPECT_THAT([] { (void)parseJSON(std::string_view("[x\xA9", 2)); },
        ThrowsMessage<JSONDecodingError>(syntaxError + "2" + invalid + "[x'."));
    // Keys in a coding path too; a document built in memory may hold bytes that are not UTF-8.
    const nlohmann::json document = {{"settings", {{std::string("\xC3(\xFF"), 1}}}};
    EXPECT_THAT([&] { (void)JSONValue(document).object().required("settings", mapOf(decodeBool)); },
        ThrowsMessage<JSONDecodingError>(
            "settings.\\xC3(\\xFF: Expected a Bool but found an integer."));
}
