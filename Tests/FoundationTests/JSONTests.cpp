#include "Foundation/JSON.h"

#include "Foundation/Format.h"
#include "Foundation/Overloaded.h"
#include "FoundationTests/CommaLocale.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <bit>
#include <cmath>
#include <functional>
#include <limits>
#include <string>
#include <string_view>
#include <variant>

using namespace quorvane;
using testing::Optional;
using testing::StartsWith;

namespace {

// A tagged variant coded as the settings file codes its temperatures.
struct Temperature {
    struct Neutral {
        auto operator<=>(const Neutral&) const = default;
    };
    struct Kelvin {
        std::int64_t value;
        auto operator<=>(const Kelvin&) const = default;
    };

    static Temperature decode(const JSONValue& value)
    {
        const JSONTaggedCase tagged = value.taggedCase({"neutral", "kelvin"});
        if (tagged.name == "kelvin")
            return {Kelvin{tagged.payload.required("_0", decodeInteger)}};
        return {Neutral{}};
    }

    [[nodiscard]] nlohmann::json encode() const
    {
        const auto encodeCase = Overloaded{
            [](const Neutral&) { return encodeTaggedCase("neutral"); },
            [](const Kelvin& kelvin) {
                return encodeTaggedCase("kelvin", {{"_0", encodeInteger(kelvin.value)}});
            },
        };
        return std::visit(encodeCase, value);
    }

    auto operator<=>(const Temperature&) const = default;

    std::variant<Neutral, Kelvin> value;
};

// A struct with a required, an optional, a list and a tagged member.
struct Sample {
    static Sample decode(const JSONValue& value)
    {
        const JSONObject object = value.object();
        return {
            .name = object.required("name", decodeString),
            .brightness = object.optional("brightness", decodeDouble),
            .ruleIDs = object.required("ruleIDs", arrayOf(decodeUUID)),
            .temperature = object.required("temperature", Temperature::decode),
        };
    }

    [[nodiscard]] nlohmann::json encode() const
    {
        return encodeObject({
            {"name", encodeString(name)},
            {"brightness", encodeOptional(brightness, encodeDouble)},
            {"ruleIDs", encodeArray(ruleIDs, encodeUUID)},
            {"temperature", temperature.encode()},
        });
    }

    bool operator==(const Sample&) const = default;

    std::string name;
    std::optional<double> brightness;
    std::vector<UUID> ruleIDs;
    Temperature temperature;
};

std::string_view nameOf(JSONDecodingError::Kind kind)
{
    switch (kind) {
    case JSONDecodingError::Kind::keyNotFound:
        return "keyNotFound";
    case JSONDecodingError::Kind::valueNotFound:
        return "valueNotFound";
    case JSONDecodingError::Kind::typeMismatch:
        return "typeMismatch";
    case JSONDecodingError::Kind::dataCorrupted:
        return "dataCorrupted";
    }
    return "?";
}

std::string describe(bool value) { return value ? "true" : "false"; }

std::string describe(std::int64_t value) { return formatInteger(value); }

std::string describe(double value) { return nlohmann::json(value).dump(); }

std::string describe(const std::string& value) { return value; }

std::string describe(const UUID& value) { return value.uuidString(); }

std::string describe(const std::optional<double>& value)
{
    return value ? describe(*value) : "absent";
}

std::string describe(const Temperature& temperature)
{
    const auto describeCase = Overloaded{
        [](const Temperature::Neutral&) { return std::string("neutral"); },
        [](const Temperature::Kelvin& kelvin) { return "kelvin " + formatInteger(kelvin.value); },
    };
    return std::visit(describeCase, temperature.value);
}

template <typename Element> std::string describe(const std::vector<Element>& elements)
{
    std::string text;
    for (const Element& element : elements)
        text += (text.empty() ? "" : ", ") + describe(element);
    return text;
}

template <typename Key, typename Value> std::string describe(const std::map<Key, Value>& map)
{
    std::string text;
    for (const auto& [key, value] : map)
        text += (text.empty() ? "" : ", ") + describe(key) + ": " + describe(value);
    return text;
}

std::string describe(const Sample& sample)
{
    return sample.name + ", " + describe(sample.brightness) + ", [" + describe(sample.ruleIDs)
        + "], " + describe(sample.temperature);
}

/// What decoding `document` with `decode` gives: the value as text, or the error's kind and text.
template <typename Decode> std::string outcome(std::string_view document, Decode decode)
{
    const nlohmann::json json = parseJSON(document);
    try {
        return describe(std::invoke(decode, JSONValue(json)));
    } catch (const JSONDecodingError& error) {
        return std::string(nameOf(error.kind())) + ": " + error.what();
    }
}

using Reader = std::function<std::string(std::string_view document)>;

template <typename Decode> Reader reading(Decode decode)
{
    return [decode](std::string_view document) { return outcome(document, decode); };
}

/// The message that parsing `bytes` fails with; absent when they parse.
std::optional<std::string> parseFailure(std::string_view bytes)
{
    try {
        (void)parseJSON(bytes);
        return std::nullopt;
    } catch (const JSONDecodingError& error) {
        EXPECT_EQ(error.kind(), JSONDecodingError::Kind::dataCorrupted);
        return error.what();
    }
}

std::uint64_t bitsOf(double value) { return std::bit_cast<std::uint64_t>(value); }

} // namespace

TEST(JSONTest, ReadsEachKindStrictly)
{
    struct Case {
        Reader read;
        std::string_view document;
        std::string_view outcome;
    };
    const Case cases[] = {
        {reading(decodeBool), "true", "true"},
        {reading(decodeBool), "1", "typeMismatch: Expected a Bool but found an integer."},
        {reading(decodeBool), "null", "valueNotFound: Expected a Bool but found null."},
        {reading(decodeInteger), "-9223372036854775808", "-9223372036854775808"},
        {reading(decodeInteger), "9223372036854775807", "9223372036854775807"},
        {reading(decodeInteger), "9223372036854775808",
            "dataCorrupted: The number does not fit in a 64-bit integer."},
        {reading(decodeInteger), "-9223372036854775809",
            "dataCorrupted: The number does not fit in a 64-bit integer."},
        {reading(decodeInteger), "123456789012345678901234567890",
            "dataCorrupted: The number does not fit in a 64-bit integer."},
        {reading(decodeInteger), "2.0",
            "typeMismatch: Expected an integer but found a floating-point number."},
        {reading(decodeInteger), "true", "typeMismatch: Expected an integer but found a Bool."},
        {reading(decodeInteger), "\"5\"", "typeMismatch: Expected an integer but found a string."},
        {reading(decodeDouble), "0.25", "0.25"},
        {reading(decodeDouble), "-3", "-3.0"},
        {reading(decodeDouble), "18446744073709551615", "1.8446744073709552e+19"},
        {reading(decodeDouble), "false", "typeMismatch: Expected a number but found a Bool."},
        {reading(decodeString), "\"Caf\\u00e9\\n\"", "Café\n"},
        {reading(decodeString), "[]", "typeMismatch: Expected a string but found an array."},
        {reading(decodeUUID), "\"0f4a5b6c-1111-2222-3333-abcdefabcdef\"",
            "0F4A5B6C-1111-2222-3333-ABCDEFABCDEF"},
        {reading(decodeUUID), "\"{0f4a5b6c-1111-2222-3333-abcdefabcdef}\"",
            "dataCorrupted: Attempted to decode UUID from invalid UUID string."},
        {reading(decodeUUID), "7", "typeMismatch: Expected a string but found an integer."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.document);
        EXPECT_EQ(c.read(c.document), c.outcome);
    }
}

TEST(JSONTest, ReadsMembersAndNamesTheCodingPathOfAFault)
{
    struct Case {
        Reader read;
        std::string_view document;
        std::string_view outcome;
    };
    const Case cases[] = {
        {reading(Sample::decode),
            R"({"name": "A", "brightness": 0.5, "ruleIDs": ["0f4a5b6c-1111-2222-3333-abcdefabcdef"],)"
            R"( "temperature": {"neutral": {}}, "unknown": 1})",
            "A, 0.5, [0F4A5B6C-1111-2222-3333-ABCDEFABCDEF], neutral"},
        {reading(Sample::decode),
            R"({"name": "A", "brightness": null, "ruleIDs": [], "temperature": {"neutral": {}}})",
            "A, absent, [], neutral"},
        {reading(Sample::decode), R"({"name": "A", "ruleIDs": [], "temperature": {"neutral": {}}})",
            "A, absent, [], neutral"},
        {reading(Sample::decode),
            R"({"name": "A", "brightness": "0.5", "ruleIDs": [], "temperature": {"neutral": {}}})",
            "typeMismatch: brightness: Expected a number but found a string."},
        {reading(Sample::decode), R"({"ruleIDs": [], "temperature": {"neutral": {}}})",
            "keyNotFound: No value associated with the key \"name\"."},
        {reading(Sample::decode),
            R"({"name": null, "ruleIDs": [], "temperature": {"neutral": {}}})",
            "valueNotFound: name: Found null where a value is required."},
        {reading(arrayOf(Sample::decode)),
            R"([{"name": "A", "ruleIDs": [], "temperature": {"neutral": {}}},)"
            R"( {"name": "B", "ruleIDs": ["0f4a5b6c-1111-2222-3333-abcdefabcdef", "x"]}])",
            "dataCorrupted: [1].ruleIDs[1]: Attempted to decode UUID from invalid UUID string."},
        {reading(mapOf(Sample::decode)),
            R"({"37D8832A": {"name": "A", "ruleIDs": [], "temperature": {"kelvin": {}}}})",
            "keyNotFound: 37D8832A.temperature.kelvin: No value associated with the key \"_0\"."},
        {reading(Sample::decode), "[]", "typeMismatch: Expected an object but found an array."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.document);
        EXPECT_EQ(c.read(c.document), c.outcome);
    }
}

TEST(JSONTest, TaggedVariantNeedsExactlyOneCaseKeyAndItsPayloadKeys)
{
    struct Case {
        std::string_view document;
        std::string_view outcome;
    };
    const Case cases[] = {
        {R"({"neutral": {}})", "neutral"},
        {R"({"kelvin": {"_0": 5000}, "warmth": {}})", "kelvin 5000"},
        {R"({"neutral": {"unknown": 1}})", "neutral"},
        {R"({"neutral": {}, "kelvin": {"_0": 6500}})",
            "typeMismatch: Invalid number of keys found, expected one."},
        {R"({})", "typeMismatch: Invalid number of keys found, expected one."},
        {R"({"warmth": {}})", "typeMismatch: Invalid number of keys found, expected one."},
        {R"({"kelvin": {}})", "keyNotFound: kelvin: No value associated with the key \"_0\"."},
        {R"({"kelvin": {"_0": 6500.5}})",
            "typeMismatch: kelvin._0: Expected an integer but found a floating-point number."},
        {R"({"neutral": null})", "valueNotFound: neutral: Found null where a value is required."},
        {R"({"neutral": []})", "typeMismatch: neutral: Expected an object but found an array."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.document);
        EXPECT_EQ(outcome(c.document, Temperature::decode), c.outcome);
    }
}

TEST(JSONTest, AlternatingMapsReadPairsAndTheLaterOfRepeatedKeysWins)
{
    const auto decode = alternatingMapOf(Temperature::decode, decodeBool);
    struct Case {
        std::string_view document;
        std::string_view outcome;
    };
    const Case cases[] = {
        {R"([])", ""},
        {R"([{"kelvin": {"_0": 5000}}, false, {"neutral": {}}, true])",
            "neutral: true, kelvin 5000: false"},
        {R"([{"neutral": {}}, true, {"neutral": {}}, false])", "neutral: false"},
        {R"([{"neutral": {}}, true, {"kelvin": {"_0": 5000}}])",
            "dataCorrupted: Expected an array of alternating keys and values, but it has an odd "
            "number of elements."},
        {R"([{"neutral": {}}, 1])", "typeMismatch: [1]: Expected a Bool but found an integer."},
        {R"({})", "typeMismatch: Expected an array but found an object."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.document);
        EXPECT_EQ(outcome(c.document, decode), c.outcome);
    }

    const std::map<Temperature, bool> map{{Temperature{Temperature::Neutral{}}, true},
        {Temperature{Temperature::Kelvin{5000}}, false}};
    const nlohmann::json encoded = encodeAlternatingMap(map, &Temperature::encode, encodeBool);
    EXPECT_EQ(encoded, parseJSON(R"([{"neutral": {}}, true, {"kelvin": {"_0": 5000}}, false])"));
}

TEST(JSONTest, SetsCollapseRepeatsAndMapsKeyByText)
{
    const std::set<std::string> set{"A", "B"};
    const nlohmann::json array = parseJSON(R"(["B", "A", "B"])");
    EXPECT_EQ(setOf(decodeString)(JSONValue(array)), set);
    EXPECT_EQ(encodeArray(set, encodeString), parseJSON(R"(["A", "B"])"));

    const std::map<std::string, double> map{{"B", 0.5}, {"A", 1.0}};
    const nlohmann::json object = parseJSON(R"({"B": 0.5, "A": 1})");
    EXPECT_EQ(mapOf(decodeDouble)(JSONValue(object)), map);
    EXPECT_EQ(encodeMap(map, encodeDouble), parseJSON(R"({"A": 1.0, "B": 0.5})"));
}

TEST(JSONTest, ReadsBackWhatItWrites)
{
    const Sample full{
        .name = "Deep Work \u00E9\u3000\"quoted\"\\\n\t\x01",
        .brightness = 0.1,
        .ruleIDs = {UUID::random(), UUID::random()},
        .temperature = {Temperature::Kelvin{6500}},
    };
    const Sample sparse{.name = "", .brightness = std::nullopt, .ruleIDs = {}, .temperature = {}};
    for (const Sample& sample : {full, sparse}) {
        const std::string text = serializeJSON(sample.encode());
        SCOPED_TRACE(text);
        const nlohmann::json document = parseJSON(text);
        EXPECT_EQ(Sample::decode(JSONValue(document)), sample);
    }
    EXPECT_FALSE(sparse.encode().contains("brightness")) << "absent, not null";
}

TEST(JSONTest, WritesSortedKeysAtEveryLevelIndentedByTwoSpaces)
{
    const nlohmann::json document = encodeObject({
        {"b", encodeInteger(1)},
        {"\u00E9", encodeBool(true)},
        {"a",
            encodeArray(std::vector<int>{0},
                [](int) {
                    return encodeObject({{"z", encodeString("")}, {"Z", encodeString("")}});
                })},
        {"_0", encodeObject({{"aa", encodeDouble(0.5)}, {"a", encodeObject({})}})},
        {"Z", encodeArray(std::vector<int>{}, encodeInteger)},
    });
    EXPECT_EQ(serializeJSON(document), R"({
  "Z": [],
  "_0": {
    "a": {},
    "aa": 0.5
  },
  "a": [
    {
      "Z": "",
      "z": ""
    }
  ],
  "b": 1,
  "é": true
})");
    EXPECT_EQ(
        serializeJSON(Temperature{Temperature::Neutral{}}.encode()), "{\n  \"neutral\": {}\n}");
}

TEST(JSONTest, WritesNumbersThatReadBackEqual)
{
    const double doubles[] = {0.1, 1.0 / 3.0, 0.015, 59.94, 1.0, -0.0, 5e-324,
        2.2250738585072014e-308, std::numeric_limits<double>::max(),
        -std::numeric_limits<double>::max(), 9007199254740993.0};
    for (const double value : doubles) {
        const std::string text = serializeJSON(encodeDouble(value));
        SCOPED_TRACE(text);
        const nlohmann::json document = parseJSON(text);
        EXPECT_EQ(bitsOf(decodeDouble(JSONValue(document))), bitsOf(value));
    }
    for (const std::int64_t value : {std::numeric_limits<std::int64_t>::min(), std::int64_t{0},
             std::numeric_limits<std::int64_t>::max()}) {
        const nlohmann::json document = parseJSON(serializeJSON(encodeInteger(value)));
        EXPECT_EQ(decodeInteger(JSONValue(document)), value);
    }
}

TEST(JSONTest, RefusesToWriteWhatJSONCannotHold)
{
    const double infinity = std::numeric_limits<double>::infinity();
    struct Case {
        nlohmann::json document;
        std::string_view message;
    };
    const Case cases[] = {
        {encodeObject({{"settings", encodeObject({{"brightness", encodeDouble(std::nan(""))}})}}),
            "settings.brightness: JSON cannot hold the number nan."},
        {encodeArray(std::vector<double>{0.5, infinity}, encodeDouble),
            "[1]: JSON cannot hold the number inf."},
        {encodeDouble(-infinity), "JSON cannot hold the number -inf."},
        {encodeObject({{"name", encodeString("\xC3")}}), "name: The text is not valid UTF-8."},
        {encodeObject({{"\xFF", encodeString("")}}), "A key is not valid UTF-8."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message);
        try {
            (void)serializeJSON(c.document);
            ADD_FAILURE() << "written without an error";
        } catch (const JSONEncodingError& error) {
            EXPECT_EQ(error.what(), c.message);
        }
    }
}

TEST(JSONTest, RefusesInputThatIsNotJSONWithoutCrashing)
{
    struct Case {
        std::string_view bytes;
        std::string_view message;
    };
    const Case cases[] = {
        {"", "The data is not valid JSON: "},
        {"[1,]", "The data is not valid JSON: "},
        {"{'a': 1}", "The data is not valid JSON: "},
        {"{} {}", "The data is not valid JSON: "},
        {"/* note */ {}", "The data is not valid JSON: "},
        {"NaN", "The data is not valid JSON: "},
        {"\"\\ud800\"", "The data is not valid JSON: "},
        {"\"tab\there\"", "The data is not valid JSON: "},
        {"1e400", "The data is not valid JSON: number overflow parsing '1e400'."},
        {"[-1e400]", "The data is not valid JSON: number overflow parsing '-1e400'."},
        {"{\"a\": \"\xC3\"}", "The data is not valid UTF-8."},
        {"\xFF\xFE{}", "The data is not valid UTF-8."},
        {std::string_view("{\0}", 3), "The data is not valid JSON: "},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(std::string(c.bytes)));
        EXPECT_THAT(parseFailure(c.bytes), Optional(StartsWith(std::string(c.message))));
    }
    EXPECT_EQ(parseJSON("\xEF\xBB\xBF{}"), nlohmann::json::object())
        << "a byte order mark is skipped";
}

TEST(JSONTest, RefusesNestingDeeperThan512Levels)
{
    const auto nested = [](std::size_t depth, std::string_view open, std::string_view close) {
        std::string text;
        for (std::size_t level = 0; level < depth; ++level)
            text += open;
        for (std::size_t level = 0; level < depth; ++level)
            text += close;
        return text;
    };
    const std::string tooDeep = "The data nests arrays and objects deeper than 512 levels.";
    struct Case {
        std::string bytes;
        std::optional<std::string> error;
    };
    const Case cases[] = {
        {nested(512, "[", "]"), std::nullopt},
        {nested(256, "{\"a\": [", "]}"), std::nullopt},
        {nested(513, "[", "]"), tooDeep},
        {nested(257, "[{\"a\": ", "}]"), tooDeep},
        {std::string(100'000, '['), tooDeep},
        {nested(100'000, "{\"a\":", "}"), tooDeep},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.bytes.size());
        EXPECT_EQ(parseFailure(c.bytes), c.error);
    }
}

TEST(JSONTest, NumbersIgnoreADecimalCommaLocale)
{
    const std::optional<std::string> commaLocale = ScopedCommaLocale::availableName();
    if (!commaLocale)
        GTEST_SKIP() << ScopedCommaLocale::missingMessage;
    const ScopedCommaLocale scope(*commaLocale);

    EXPECT_EQ(serializeJSON(encodeDouble(59.94)), "59.94");
    const nlohmann::json document = parseJSON("[59.94]");
    EXPECT_EQ(decodeDouble(JSONValue(document).elements().front()), 59.94);
}
