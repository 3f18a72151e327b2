#include "Conformance/DDCCase.h"

#include "Foundation/AtomicFile.h"
#include "Foundation/Format.h"
#include "Foundation/JSON.h"
#include "QuorvaneCore/DDCCodec.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <charconv>
#include <concepts>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

namespace quorvane {
namespace {

using Bytes = std::vector<std::uint8_t>;

struct ReadRequestExample {
    std::uint8_t code;
    Bytes bytes;
};

struct WriteRequestExample {
    std::uint8_t code;
    std::uint16_t value;
    Bytes bytes;
};

struct DecodeExample {
    std::uint8_t code;
    Bytes reply;
    /// Absent: the codec must refuse the reply.
    std::optional<DDCReading> result;
};

struct DDCExamples {
    std::vector<ReadRequestExample> readRequests;
    std::vector<WriteRequestExample> writeRequests;
    std::vector<DecodeExample> decodes;
};

template <std::unsigned_integral T> T decodeUnsigned(const JSONValue& value)
{
    const std::int64_t number = decodeInteger(value);
    if (number < 0 || static_cast<std::uint64_t>(number) > std::numeric_limits<T>::max())
        throw value.dataCorrupted(formatInteger(number) + " is not between 0 and "
            + formatUnsigned(std::numeric_limits<T>::max()) + ".");
    return static_cast<T>(number);
}

/// "6E 88 02": pairs of hexadecimal digits in either case, separated by single spaces; "" is no
/// byte at all.
Bytes decodeBytes(const JSONValue& value)
{
    const std::string text = decodeString(value);
    Bytes bytes;
    for (std::size_t index = 0; index < text.size(); index += 3) {
        const char* const first = text.data() + index;
        std::uint8_t byte = 0;
        const bool isPair = index + 2 <= text.size() && [&] {
            const auto [end, error] = std::from_chars(first, first + 2, byte, 16);
            return error == std::errc() && end == first + 2;
        }();
        const bool endsWell
            = index + 2 == text.size() || (index + 3 < text.size() && text[index + 2] == ' ');
        if (!isPair || !endsWell)
            throw value.dataCorrupted(
                "\"" + text + "\" is not hexadecimal byte pairs separated by single spaces.");
        bytes.push_back(byte);
    }
    return bytes;
}

ReadRequestExample decodeReadRequestExample(const JSONValue& value)
{
    const JSONObject object = value.object();
    return {
        .code = object.required("code", decodeUnsigned<std::uint8_t>),
        .bytes = object.required("bytes", decodeBytes),
    };
}

WriteRequestExample decodeWriteRequestExample(const JSONValue& value)
{
    const JSONObject object = value.object();
    return {
        .code = object.required("code", decodeUnsigned<std::uint8_t>),
        .value = object.required("value", decodeUnsigned<std::uint16_t>),
        .bytes = object.required("bytes", decodeBytes),
    };
}

DDCReading decodeReading(const JSONValue& value)
{
    const JSONObject object = value.object();
    return {
        .current = object.required("current", decodeUnsigned<std::uint16_t>),
        .maximum = object.required("maximum", decodeUnsigned<std::uint16_t>),
    };
}

DecodeExample decodeDecodeExample(const JSONValue& value)
{
    const JSONObject object = value.object();
    // Null means refused, so only a missing "result" leaves the example without an expectation.
    if (!object.contains("result"))
        throw JSONDecodingError(JSONDecodingError::Kind::keyNotFound, object.codingPath(),
            "No value associated with the key \"result\".");
    return {
        .code = object.required("code", decodeUnsigned<std::uint8_t>),
        .reply = object.required("reply", decodeBytes),
        .result = object.optional("result", decodeReading),
    };
}

DDCExamples readExamples(const std::filesystem::path& caseFile)
{
    const nlohmann::json document = parseJSON(readFile(caseFile));
    const JSONObject object = JSONValue(document).object();
    if (!object.contains("readRequest") && !object.contains("writeRequest")
        && !object.contains("decode"))
        throw JSONDecodingError(JSONDecodingError::Kind::keyNotFound, "",
            "None of \"readRequest\", \"writeRequest\" and \"decode\" is there.");
    return {
        .readRequests = object.optional("readRequest", arrayOf(decodeReadRequestExample))
                            .value_or(std::vector<ReadRequestExample>()),
        .writeRequests = object.optional("writeRequest", arrayOf(decodeWriteRequestExample))
                             .value_or(std::vector<WriteRequestExample>()),
        .decodes = object.optional("decode", arrayOf(decodeDecodeExample))
                       .value_or(std::vector<DecodeExample>()),
    };
}

/// As the cases write bytes: upper-case pairs separated by single spaces.
std::string hexadecimal(const Bytes& bytes)
{
    constexpr char digits[] = "0123456789ABCDEF";
    std::string text;
    for (const std::uint8_t byte : bytes) {
        if (!text.empty())
            text += ' ';
        text += digits[byte >> 4];
        text += digits[byte & 0xF];
    }
    return text;
}

std::string describe(const std::optional<DDCReading>& reading)
{
    if (!reading)
        return "null (refused)";
    return "{\"current\": " + formatUnsigned(reading->current)
        + ", \"maximum\": " + formatUnsigned(reading->maximum) + "}";
}

void checkReadRequest(std::size_t index, const ReadRequestExample& example)
{
    const Bytes actual = DDCCodec::readRequest(example.code);
    if (actual != example.bytes)
        ADD_FAILURE() << "readRequest[" << index << "] (code " << formatUnsigned(example.code)
                      << "): expected " << hexadecimal(example.bytes) << " but found "
                      << hexadecimal(actual);
}

void checkWriteRequest(std::size_t index, const WriteRequestExample& example)
{
    const Bytes actual = DDCCodec::writeRequest(example.code, example.value);
    if (actual != example.bytes)
        ADD_FAILURE() << "writeRequest[" << index << "] (code " << formatUnsigned(example.code)
                      << ", value " << formatUnsigned(example.value) << "): expected "
                      << hexadecimal(example.bytes) << " but found " << hexadecimal(actual);
}

void checkDecode(std::size_t index, const DecodeExample& example)
{
    const std::optional<DDCReading> actual = DDCCodec::decode(example.reply, example.code);
    if (actual != example.result)
        ADD_FAILURE() << "decode[" << index << "] (code " << formatUnsigned(example.code)
                      << ", reply " << hexadecimal(example.reply) << "): expected "
                      << describe(example.result) << " but found " << describe(actual);
}

} // namespace

void runDDCCase(const std::filesystem::path& caseFile)
{
    std::optional<DDCExamples> examples;
    try {
        examples = readExamples(caseFile);
    } catch (const Error& error) {
        FAIL() << caseFile.filename().string() << " cannot be used: " << error.what();
    }
    for (std::size_t index = 0; index < examples->readRequests.size(); ++index)
        checkReadRequest(index, examples->readRequests[index]);
    for (std::size_t index = 0; index < examples->writeRequests.size(); ++index)
        checkWriteRequest(index, examples->writeRequests[index]);
    for (std::size_t index = 0; index < examples->decodes.size(); ++index)
        checkDecode(index, examples->decodes[index]);
}

} // namespace quorvane
