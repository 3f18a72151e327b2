// One ddc/NAME.json case: DDC/CI requests and their bytes, replies and what they decode to.
#include "Conformance/ConformanceCases.h"

#include "Foundation/AtomicFile.h"
#include "QuorvaneCore/DDCCodec.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cstdint>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

namespace quorvane {
namespace {

using Bytes = std::vector<std::uint8_t>;

/// "6E 88 02": hexadecimal pairs in either case, separated by blanks.
Bytes decodeBytes(const JSONValue& value)
{
    std::istringstream text(decodeString(value));
    Bytes bytes;
    unsigned byte = 0;
    while (text >> std::hex >> byte)
        bytes.push_back(static_cast<std::uint8_t>(byte));
    return bytes;
}

std::string hexadecimal(const Bytes& bytes)
{
    constexpr std::string_view digits = "0123456789ABCDEF";
    std::string text;
    for (const std::uint8_t byte : bytes)
        text += {' ', digits[byte >> 4], digits[byte & 0xF]};
    return text.empty() ? text : text.substr(1);
}

std::uint8_t decodeCode(const JSONObject& example)
{
    return static_cast<std::uint8_t>(example.required("code", decodeInteger));
}

DDCReading decodeReading(const JSONValue& value)
{
    const JSONObject object = value.object();
    return {
        .current = static_cast<std::uint16_t>(object.required("current", decodeInteger)),
        .maximum = static_cast<std::uint16_t>(object.required("maximum", decodeInteger)),
    };
}

std::string describe(const std::optional<DDCReading>& reading)
{
    if (!reading)
        return "null (refused)";
    return encodeObject({{"current", encodeInteger(reading->current)},
                            {"maximum", encodeInteger(reading->maximum)}})
        .dump();
}

void expectBytes(const JSONObject& example, const Bytes& actual)
{
    if (example.required("bytes", decodeBytes) != actual)
        ADD_FAILURE() << example.codingPath() << ": expected "
                      << example.required("bytes", decodeString) << " but found "
                      << hexadecimal(actual);
}

} // namespace

void runDDCCase(const std::filesystem::path& caseFile)
{
    const nlohmann::json document = parseJSON(readFile(caseFile));
    const JSONObject examples = JSONValue(document).object();
    for (const JSONValue& value : listOf(examples, "readRequest")) {
        const JSONObject example = value.object();
        expectBytes(example, DDCCodec::readRequest(decodeCode(example)));
    }
    for (const JSONValue& value : listOf(examples, "writeRequest")) {
        const JSONObject example = value.object();
        const auto setting = static_cast<std::uint16_t>(example.required("value", decodeInteger));
        expectBytes(example, DDCCodec::writeRequest(decodeCode(example), setting));
    }
    for (const JSONValue& value : listOf(examples, "decode")) {
        const JSONObject example = value.object();
        const std::optional<DDCReading> expected = example.optional("result", decodeReading);
        const std::optional<DDCReading> actual
            = DDCCodec::decode(example.required("reply", decodeBytes), decodeCode(example));
        if (actual != expected)
            ADD_FAILURE() << example.codingPath() << ": expected " << describe(expected)
                          << " but found " << describe(actual);
    }
}

} // namespace quorvane
