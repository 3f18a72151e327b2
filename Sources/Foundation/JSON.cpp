#include "Foundation/JSON.h"

#include "Foundation/Format.h"
#include "Foundation/Text.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cassert>
#include <charconv>
#include <cmath>
#include <iterator>
#include <limits>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

namespace quorvane {
namespace {

using Kind = JSONDecodingError::Kind;

std::string withCodingPath(std::string_view codingPath, std::string_view description)
{
    if (codingPath.empty())
        return std::string(description);
    return std::string(codingPath) + ": " + std::string(description);
}

/// The length of the UTF-8 character that `text` starts with, or 0 when its first bytes are
/// not one.
std::size_t characterLength(std::string_view text)
{
    for (const std::size_t length : {1, 2, 3, 4}) {
        if (length <= text.size() && isValidUTF8(text.substr(0, length)))
            return length;
    }
    return 0;
}

/// `input` with its bytes that are not UTF-8 written as \xHH, cut after 40 characters.
std::string excerpt(std::string_view input)
{
    constexpr int maximumCharacters = 40;
    std::string result;
    for (int count = 0; !input.empty(); ++count) {
        if (count == maximumCharacters)
            return result + "…";
        const std::size_t length = characterLength(input);
        if (length == 0) {
            constexpr std::string_view digits = "0123456789ABCDEF";
            const auto byte = static_cast<unsigned char>(input.front());
            result += {'\\', 'x', digits[byte >> 4], digits[byte & 0xF]};
            input.remove_prefix(1);
            continue;
        }
        result += input.substr(0, length);
        input.remove_prefix(length);
    }
    return result;
}

/// A key comes from the file, so the path shows only the start of a long one.
std::string memberPath(std::string_view codingPath, std::string_view key)
{
    if (codingPath.empty())
        return excerpt(key);
    return std::string(codingPath) + "." + excerpt(key);
}

std::string elementPath(std::string_view codingPath, std::size_t index)
{
    return std::string(codingPath) + "[" + formatUnsigned(index) + "]";
}

std::string_view kindName(const nlohmann::json& json)
{
    switch (json.type()) {
    case nlohmann::json::value_t::null:
        return "null";
    case nlohmann::json::value_t::boolean:
        return "a Bool";
    case nlohmann::json::value_t::number_integer:
    case nlohmann::json::value_t::number_unsigned:
        return "an integer";
    case nlohmann::json::value_t::number_float:
        return "a floating-point number";
    case nlohmann::json::value_t::string:
        return "a string";
    case nlohmann::json::value_t::array:
        return "an array";
    case nlohmann::json::value_t::object:
        return "an object";
    case nlohmann::json::value_t::binary:
    case nlohmann::json::value_t::discarded:
        break;
    }
    return "a value that JSON text cannot hold";
}

JSONDecodingError notJSON(std::string_view reason)
{
    return JSONDecodingError(
        Kind::dataCorrupted, "", "The data is not valid JSON: " + std::string(reason) + ".");
}

JSONDecodingError nestedTooDeep()
{
    return JSONDecodingError(Kind::dataCorrupted, "",
        "The data nests arrays and objects deeper than " + formatInteger(maximumJSONNesting)
            + " levels.");
}

/// A tree built one value at a time, depth first: each value goes to its place, either the
/// document itself, the next element of the innermost open array, or the member of the innermost
/// open object under the last key.
class TreeBuilder final {
public:
    using JSON = nlohmann::json;

    [[nodiscard]] JSON take() { return std::move(m_document); }
    [[nodiscard]] std::size_t depth() const noexcept { return m_open.size(); }

    void add(JSON value) { place(std::move(value)); }
    void setKey(std::string_view key) { m_key.assign(key); }
    void open(JSON container)
    {
        // Only the innermost open container grows, so the addresses of the others hold.
        m_open.push_back(&place(std::move(container)));
    }
    void close() { m_open.pop_back(); }

private:
    JSON& place(JSON&& value)
    {
        if (m_open.empty())
            return m_document = std::move(value);
        JSON& container = *m_open.back();
        if (container.is_array()) {
            container.push_back(std::move(value));
            return container.back();
        }
        return container[m_key] = std::move(value); // A repeated key replaces, as in parse().
    }

    JSON m_document;
    std::vector<JSON*> m_open;
    JSON::string_t m_key;
};

/// Builds the document as the parser reads it, refusing each container that opens too deep.
/// The parser itself does not recurse, so this keeps any input from exhausting the stack, here
/// or in whoever walks the tree later. (nlohmann's parse callback can check the depth too, but
/// it rescans the enclosing container whenever an object closes: quadratic in the length.)
class DocumentBuilder final {
public:
    using JSON = nlohmann::json;

    /// `bytes` are what is being parsed, valid UTF-8: the error quotes from them. Once `stop`
    /// is requested, the next object or array stops the parse.
    DocumentBuilder(std::string_view bytes, std::stop_token stop)
        : m_bytes(bytes)
        , m_stop(std::move(stop))
    {
    }

    /// The document; only after nlohmann::json::sax_parse() returned true.
    [[nodiscard]] JSON take() { return m_tree.take(); }
    /// Throws why nlohmann::json::sax_parse() returned false.
    [[noreturn]] void fail() const
    {
        if (m_stop.stop_requested())
            throw std::system_error(std::make_error_code(std::errc::operation_canceled));
        throw m_isTooDeep ? nestedTooDeep() : notJSON(m_reason);
    }

    // What nlohmann::json::sax_parse() calls.
    bool null() { return add(nullptr); }
    bool boolean(bool value) { return add(value); }
    bool number_integer(JSON::number_integer_t value) { return add(value); }
    bool number_unsigned(JSON::number_unsigned_t value) { return add(value); }
    bool number_float(JSON::number_float_t value, const JSON::string_t&) { return add(value); }
    bool string(JSON::string_t& value) { return add(std::move(value)); }
    bool binary(JSON::binary_t&) { return false; } // JSON text has none
    bool start_object(std::size_t) { return open(JSON::object()); }
    bool start_array(std::size_t) { return open(JSON::array()); }
    bool end_object() { return close(); }
    bool end_array() { return close(); }
    bool key(JSON::string_t& key)
    {
        m_tree.setKey(key);
        return true;
    }
    bool parse_error(std::size_t position, const std::string& token, const JSON::exception& error)
    {
        m_reason = describe(error, token, position);
        return false;
    }

private:
    bool add(JSON value)
    {
        m_tree.add(std::move(value));
        return true;
    }

    bool open(JSON container)
    {
        if (m_stop.stop_requested())
            return false;
        if (m_tree.depth() >= static_cast<std::size_t>(maximumJSONNesting)) {
            m_isTooDeep = true;
            return false;
        }
        m_tree.open(std::move(container));
        return true;
    }

    bool close()
    {
        m_tree.close();
        return true;
    }

    /// nlohmann's message without its "[json.exception.parse_error.101] " prefix, the token it
    /// quotes (which ends at `end` in the bytes) cut short.
    std::string describe(
        const JSON::exception& error, const std::string& token, std::size_t end) const
    {
        std::string message = error.what();
        if (const std::size_t prefixEnd = message.find("] "); prefixEnd != std::string::npos)
            message.erase(0, prefixEnd + 2);
        const std::size_t quoted = message.find("'" + token + "'");
        if (token.empty() || quoted == std::string::npos)
            return message;
        return message.substr(0, quoted + 1) + excerpt(withWholeLastCharacter(token, end))
            + message.substr(quoted + 1 + token.size());
    }

    /// The parser may stop inside a character: its remaining bytes follow in the input.
    std::string withWholeLastCharacter(std::string token, std::size_t end) const
    {
        const auto isContinuation
            = [](char byte) { return (static_cast<unsigned char>(byte) & 0xC0) == 0x80; };
        for (; end < m_bytes.size() && isContinuation(m_bytes[end]); ++end)
            token += m_bytes[end];
        return token;
    }

    std::string_view m_bytes;
    std::stop_token m_stop;
    TreeBuilder m_tree;
    bool m_isTooDeep = false;
    std::string m_reason;
};

class TreeWriter final : public JSONWriter {
public:
    [[nodiscard]] nlohmann::json take() { return m_tree.take(); }

    void beginObject() override { m_tree.open(nlohmann::json::object()); }
    void key(std::string_view key) override { m_tree.setKey(key); }
    void endObject() override { m_tree.close(); }
    void beginArray() override { m_tree.open(nlohmann::json::array()); }
    void endArray() override { m_tree.close(); }
    void boolean(bool value) override { m_tree.add(value); }
    void integer(std::int64_t value) override { m_tree.add(value); }
    void number(double value) override { m_tree.add(value); }
    void string(std::string_view value) override { m_tree.add(value); }

private:
    TreeBuilder m_tree;
};

/// Writes the text as nlohmann's dump(2) writes the tree: two spaces per level, "key": value,
/// "{}" and "[]" when empty, doubles by its shortest form, and only the characters JSON must
/// escape escaped.
class TextWriter final : public JSONWriter {
public:
    [[nodiscard]] std::string take()
    {
        assert(m_depth == 0 && "every container was closed");
        return std::move(m_text);
    }

    void beginObject() override { open(Container::object); }
    void endObject() override { close('}'); }
    void beginArray() override { open(Container::array); }
    void endArray() override { close(']'); }

    void key(std::string_view key) override
    {
        Frame& frame = m_frames[m_depth - 1];
        assert(frame.container == Container::object && "keys belong to objects");
        assert((frame.count == 0 || frame.key < key) && "keys come in byte order, each once");
        frame.key.assign(key);
        startEntry(frame);
        m_text += '"';
        if (!appendEscaped(key))
            throw JSONEncodingError(pathOf(m_depth - 1), "A key is not valid UTF-8.");
        m_text += "\": ";
    }

    void boolean(bool value) override
    {
        startValue();
        m_text += value ? "true" : "false";
    }

    void integer(std::int64_t value) override
    {
        startValue();
        char digits[24];
        char* end = std::to_chars(std::begin(digits), std::end(digits), value).ptr;
        m_text.append(std::begin(digits), end);
    }

    void number(double value) override
    {
        startValue();
        if (!std::isfinite(value))
            throw JSONEncodingError(
                pathOf(m_depth), "JSON cannot hold the number " + formatFixed(value, 0) + ".");
        char digits[64];
        // nlohmann's own shortest form, so that the text is the one its dump() writes.
        char* end = nlohmann::detail::to_chars(std::begin(digits), std::end(digits), value);
        m_text.append(std::begin(digits), end);
    }

    void string(std::string_view value) override
    {
        startValue();
        m_text += '"';
        if (!appendEscaped(value))
            throw JSONEncodingError(pathOf(m_depth), "The text is not valid UTF-8.");
        m_text += '"';
    }

private:
    enum class Container { object, array };

    /// An open container. The key and count say where the writing is, for error paths.
    struct Frame {
        Container container = Container::object;
        std::size_t count = 0;
        std::string key;
    };

    void open(Container container)
    {
        startValue();
        m_text += container == Container::object ? '{' : '[';
        if (m_depth == m_frames.size())
            m_frames.emplace_back();
        // The frame keeps its key's storage from earlier use, so short of a longer key nothing
        // is allocated.
        m_frames[m_depth].container = container;
        m_frames[m_depth].count = 0;
        ++m_depth;
    }

    void close(char bracket)
    {
        assert(m_depth > 0 && "a container is open");
        --m_depth;
        if (m_frames[m_depth].count > 0) {
            m_text += '\n';
            m_text.append(2 * m_depth, ' ');
        }
        m_text += bracket;
    }

    /// Starts a member of an object or an element of an array.
    void startEntry(Frame& frame)
    {
        m_text += frame.count == 0 ? "\n" : ",\n";
        ++frame.count;
        m_text.append(2 * m_depth, ' ');
    }

    /// An element of an array starts a line; a member's value follows its key.
    void startValue()
    {
        if (m_depth > 0 && m_frames[m_depth - 1].container == Container::array)
            startEntry(m_frames[m_depth - 1]);
    }

    /// Appends `text` escaped; false when it is not UTF-8.
    bool appendEscaped(std::string_view text)
    {
        bool isASCII = true;
        std::size_t runStart = 0;
        for (std::size_t index = 0; index < text.size(); ++index) {
            const auto byte = static_cast<unsigned char>(text[index]);
            isASCII = isASCII && byte < 0x80;
            if (byte >= 0x20 && byte != '"' && byte != '\\')
                continue;
            m_text.append(text.substr(runStart, index - runStart));
            appendEscape(byte);
            runStart = index + 1;
        }
        m_text.append(text.substr(runStart));
        return isASCII || isValidUTF8(text);
    }

    void appendEscape(unsigned char byte)
    {
        switch (byte) {
        case '"':
            m_text += "\\\"";
            return;
        case '\\':
            m_text += "\\\\";
            return;
        case '\b':
            m_text += "\\b";
            return;
        case '\f':
            m_text += "\\f";
            return;
        case '\n':
            m_text += "\\n";
            return;
        case '\r':
            m_text += "\\r";
            return;
        case '\t':
            m_text += "\\t";
            return;
        default:
            constexpr std::string_view digits = "0123456789abcdef";
            m_text += "\\u00";
            m_text += digits[byte >> 4];
            m_text += digits[byte & 0xF];
        }
    }

    /// The coding path of what is being written within the first `depth` open containers.
    [[nodiscard]] std::string pathOf(std::size_t depth) const
    {
        std::string path;
        for (std::size_t index = 0; index < depth; ++index) {
            const Frame& frame = m_frames[index];
            if (frame.container == Container::array)
                path = elementPath(path, frame.count - 1);
            else
                path = memberPath(path, frame.key);
        }
        return path;
    }

    std::string m_text;
    std::vector<Frame> m_frames;
    std::size_t m_depth = 0;
};

/// Appends to `path` the way from `node` down to `target`; false, leaving `path` as it was, when
/// `target` is not within `node`.
bool appendPath(const nlohmann::json& node, const nlohmann::json* target, std::string& path)
{
    if (&node == target)
        return true;
    const std::size_t length = path.size();
    if (node.is_array()) {
        for (std::size_t index = 0; index < node.size(); ++index) {
            path = elementPath(path, index);
            if (appendPath(node[index], target, path))
                return true;
            path.resize(length);
        }
    } else if (node.is_object()) {
        for (const auto& [key, value] : node.items()) {
            path = memberPath(path, key);
            if (appendPath(value, target, path))
                return true;
            path.resize(length);
        }
    }
    return false;
}

bool isIntegralBeyondInt64(double value)
{
    // The parser makes integers beyond 64 bits doubles, and -2^63 - 1 rounds to -2^63 on the way.
    constexpr double twoToThe63 = 9223372036854775808.0;
    return std::trunc(value) == value && std::fabs(value) >= twoToThe63;
}

/// Whether serializeJSON() can write `json`; checkEncodable() then says why not, and where.
bool isEncodable(const nlohmann::json& json)
{
    switch (json.type()) {
    case nlohmann::json::value_t::number_float:
        return std::isfinite(json.get_ref<const double&>());
    case nlohmann::json::value_t::string:
        return isValidUTF8(json.get_ref<const std::string&>());
    case nlohmann::json::value_t::array:
        return std::ranges::all_of(
            json, [](const nlohmann::json& element) { return isEncodable(element); });
    case nlohmann::json::value_t::object:
        for (const auto& [key, value] : json.items()) {
            if (!isValidUTF8(key) || !isEncodable(value))
                return false;
        }
        return true;
    default:
        return true;
    }
}

void checkEncodable(const nlohmann::json& json, const std::string& codingPath)
{
    switch (json.type()) {
    case nlohmann::json::value_t::number_float: {
        const double number = json.get_ref<const double&>();
        if (!std::isfinite(number))
            throw JSONEncodingError(
                codingPath, "JSON cannot hold the number " + formatFixed(number, 0) + ".");
        return;
    }
    case nlohmann::json::value_t::string:
        if (!isValidUTF8(json.get_ref<const std::string&>()))
            throw JSONEncodingError(codingPath, "The text is not valid UTF-8.");
        return;
    case nlohmann::json::value_t::array:
        for (std::size_t index = 0; index < json.size(); ++index)
            checkEncodable(json[index], elementPath(codingPath, index));
        return;
    case nlohmann::json::value_t::object:
        for (const auto& [key, value] : json.items()) {
            if (!isValidUTF8(key))
                throw JSONEncodingError(codingPath, "A key is not valid UTF-8.");
            checkEncodable(value, memberPath(codingPath, key));
        }
        return;
    default:
        return;
    }
}

} // namespace

JSONDecodingError::JSONDecodingError(Kind kind, std::string codingPath, std::string description)
    : Error(withCodingPath(codingPath, description))
    , m_kind(kind)
    , m_codingPath(std::move(codingPath))
    , m_description(std::move(description))
{
}

JSONEncodingError::JSONEncodingError(std::string codingPath, std::string description)
    : Error(withCodingPath(codingPath, description))
    , m_codingPath(std::move(codingPath))
{
}

nlohmann::json parseJSON(std::string_view bytes, const std::stop_token& stop)
{
    if (!isValidUTF8(bytes))
        throw JSONDecodingError(Kind::dataCorrupted, "", "The data is not valid UTF-8.");
    // The parser stops at a NUL byte and would accept whatever came before it.
    if (bytes.find('\0') != std::string_view::npos)
        throw notJSON("it holds a NUL character");
    DocumentBuilder builder(bytes, stop);
    if (!nlohmann::json::sax_parse(bytes.begin(), bytes.end(), &builder))
        builder.fail();
    return builder.take();
}

nlohmann::json jsonTree(const std::function<void(JSONWriter&)>& write)
{
    TreeWriter writer;
    write(writer);
    return writer.take();
}

std::string jsonText(const std::function<void(JSONWriter&)>& write)
{
    TextWriter writer;
    write(writer);
    return writer.take();
}

std::string serializeJSON(const nlohmann::json& document)
{
    // Coding paths are built only to say where a document fails.
    if (!isEncodable(document))
        checkEncodable(document, "");
    return document.dump(2);
}

JSONValue::JSONValue(const nlohmann::json& document)
    : JSONValue(document, &document)
{
}

JSONValue::JSONValue(const nlohmann::json& json, const nlohmann::json* top)
    : m_json(&json)
    , m_top(top)
{
}

std::string JSONValue::codingPath() const
{
    std::string path;
    [[maybe_unused]] const bool isFound = appendPath(*m_top, m_json, path);
    assert(isFound && "a value lies within its document");
    return path;
}

JSONObject JSONValue::object() const
{
    if (!m_json->is_object())
        throw kindMismatch("an object");
    return JSONObject(*this);
}

std::vector<JSONValue> JSONValue::elements() const
{
    if (!m_json->is_array())
        throw kindMismatch("an array");
    std::vector<JSONValue> elements;
    elements.reserve(m_json->size());
    for (std::size_t index = 0; index < m_json->size(); ++index)
        elements.push_back(JSONValue((*m_json)[index], m_top));
    return elements;
}

std::vector<std::pair<JSONValue, JSONValue>> JSONValue::alternatingPairs() const
{
    const std::vector<JSONValue> all = elements();
    if (all.size() % 2 != 0)
        throw dataCorrupted("Expected an array of alternating keys and values, but it has an odd "
                            "number of elements.");
    std::vector<std::pair<JSONValue, JSONValue>> pairs;
    for (std::size_t index = 0; index < all.size(); index += 2)
        pairs.emplace_back(all[index], all[index + 1]);
    return pairs;
}

JSONTaggedCase JSONValue::taggedCase(std::initializer_list<std::string_view> caseNames) const
{
    const JSONObject cases = object();
    const auto isPresent = [&cases](std::string_view name) { return cases.contains(name); };
    if (std::ranges::count_if(caseNames, isPresent) != 1)
        throw JSONDecodingError(
            Kind::typeMismatch, codingPath(), "Invalid number of keys found, expected one.");
    const std::string_view name = *std::ranges::find_if(caseNames, isPresent);
    return {.name = name, .payload = cases.requiredMember(name).object()};
}

JSONDecodingError JSONValue::dataCorrupted(std::string description) const
{
    return JSONDecodingError(Kind::dataCorrupted, codingPath(), std::move(description));
}

JSONDecodingError JSONValue::kindMismatch(std::string_view expected) const
{
    const Kind kind = m_json->is_null() ? Kind::valueNotFound : Kind::typeMismatch;
    return JSONDecodingError(kind, codingPath(),
        "Expected " + std::string(expected) + " but found " + std::string(kindName(*m_json)) + ".");
}

JSONObject::JSONObject(JSONValue value)
    : m_value(std::move(value))
{
}

bool JSONObject::contains(std::string_view key) const { return m_value.m_json->contains(key); }

JSONValue JSONObject::requiredMember(std::string_view key) const
{
    const auto found = m_value.m_json->find(key);
    if (found == m_value.m_json->end())
        throw JSONDecodingError(Kind::keyNotFound, codingPath(),
            "No value associated with the key \"" + std::string(key) + "\".");
    JSONValue member(*found, m_value.m_top);
    if (found->is_null())
        throw JSONDecodingError(
            Kind::valueNotFound, member.codingPath(), "Found null where a value is required.");
    return member;
}

std::optional<JSONValue> JSONObject::optionalMember(std::string_view key) const
{
    const auto found = m_value.m_json->find(key);
    if (found == m_value.m_json->end() || found->is_null())
        return std::nullopt;
    return JSONValue(*found, m_value.m_top);
}

std::vector<JSONObject::Member> JSONObject::members() const
{
    std::vector<Member> members;
    for (const auto& [key, value] : m_value.m_json->items())
        members.push_back({.key = key, .value = JSONValue(value, m_value.m_top)});
    return members;
}

bool decodeBool(const JSONValue& value)
{
    if (!value.m_json->is_boolean())
        throw value.kindMismatch("a Bool");
    return value.m_json->get_ref<const bool&>();
}

std::int64_t decodeInteger(const JSONValue& value)
{
    const nlohmann::json& json = *value.m_json;
    if (json.is_number_unsigned()) {
        const auto unsignedValue = json.get_ref<const std::uint64_t&>();
        if (unsignedValue > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()))
            throw value.dataCorrupted("The number does not fit in a 64-bit integer.");
        return static_cast<std::int64_t>(unsignedValue);
    }
    if (json.is_number_float() && isIntegralBeyondInt64(json.get_ref<const double&>()))
        throw value.dataCorrupted("The number does not fit in a 64-bit integer.");
    if (!json.is_number_integer())
        throw value.kindMismatch("an integer");
    return json.get_ref<const std::int64_t&>();
}

double decodeDouble(const JSONValue& value)
{
    const nlohmann::json& json = *value.m_json;
    if (json.is_number_float())
        return json.get_ref<const double&>();
    if (json.is_number_unsigned())
        return static_cast<double>(json.get_ref<const std::uint64_t&>());
    if (json.is_number_integer())
        return static_cast<double>(json.get_ref<const std::int64_t&>());
    throw value.kindMismatch("a number");
}

std::string decodeString(const JSONValue& value)
{
    if (!value.m_json->is_string())
        throw value.kindMismatch("a string");
    return value.m_json->get_ref<const std::string&>();
}

UUID decodeUUID(const JSONValue& value)
{
    const std::optional<UUID> uuid = UUID::parse(decodeString(value));
    if (!uuid)
        throw value.dataCorrupted("Attempted to decode UUID from invalid UUID string.");
    return *uuid;
}

nlohmann::json encodeMembers(std::span<JSONMember> members)
{
    nlohmann::json object = nlohmann::json::object();
    auto& fields = object.get_ref<nlohmann::json::object_t&>();
    for (auto& [key, value] : members) {
        assert(!fields.contains(key) && "each key is written once");
        if (!value.is_null())
            fields.emplace(key, std::move(value));
    }
    return object;
}

nlohmann::json encodeTaggedCase(std::string_view caseName)
{
    return encodeTaggedCaseOf(caseName, {});
}

nlohmann::json encodeTaggedCaseOf(std::string_view caseName, std::span<JSONMember> payload)
{
    nlohmann::json object = nlohmann::json::object();
    object.get_ref<nlohmann::json::object_t&>().emplace(caseName, encodeMembers(payload));
    return object;
}

nlohmann::json encodeBool(bool value) { return nlohmann::json(value); }

nlohmann::json encodeInteger(std::int64_t value) { return nlohmann::json(value); }

nlohmann::json encodeDouble(double value) { return nlohmann::json(value); }

nlohmann::json encodeString(std::string_view value) { return nlohmann::json(value); }

nlohmann::json encodeUUID(const UUID& value) { return nlohmann::json(value.uuidString()); }

} // namespace quorvane
