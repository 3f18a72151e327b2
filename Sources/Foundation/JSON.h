// The one way the system reads and writes JSON: strict kinds (a Bool is never a number), errors
// that name the coding path where decoding failed, and indented output with sorted keys.
#pragma once

#include "Foundation/Error.h"
#include "Foundation/UUID.h"

#include <nlohmann/json_fwd.hpp>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <map>
#include <optional>
#include <ranges>
#include <set>
#include <span>
#include <stop_token>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

namespace quorvane {

/// Arrays and objects nested deeper than this are refused when parsing.
inline constexpr int maximumJSONNesting = 512;

/// Why a document does not decode, and where. The coding path names the value at fault, as in
/// "profiles[0].rules[2].name"; it is empty for the top level.
class JSONDecodingError final : public Error {
public:
    enum class Kind {
        keyNotFound, // a required key is missing; the path names the object
        valueNotFound, // null where a value is required
        typeMismatch, // a value of the wrong kind, or a tagged variant without exactly one case
        dataCorrupted, // not JSON at all, or a value of the right kind that is not allowed
    };

    JSONDecodingError(Kind kind, std::string codingPath, std::string description);

    [[nodiscard]] Kind kind() const noexcept { return m_kind; }
    [[nodiscard]] const std::string& codingPath() const noexcept { return m_codingPath; }
    /// The sentence that says what is wrong, without the coding path.
    [[nodiscard]] const std::string& description() const noexcept { return m_description; }

private:
    Kind m_kind;
    std::string m_codingPath;
    std::string m_description;
};

/// Why a document cannot be written: a number that is not finite or text that is not UTF-8.
class JSONEncodingError final : public Error {
public:
    JSONEncodingError(std::string codingPath, std::string description);

    [[nodiscard]] const std::string& codingPath() const noexcept { return m_codingPath; }

private:
    std::string m_codingPath;
};

/// Parses one whole document from UTF-8 bytes (a leading byte order mark is skipped), in time
/// linear in their length. Throws JSONDecodingError (dataCorrupted) for bytes that are not
/// UTF-8, text that is not JSON, numbers beyond the range of a double and nesting deeper than
/// maximumJSONNesting. Once `stop` is requested it gives up before the end, throwing a
/// std::system_error of std::errc::operation_canceled: a long parse that nobody waits for any
/// more (the application ends) need not run to its end.
///
/// Error texts, here and in decoding, quote at most 40 whole characters of the input (then
/// "…"), and show bytes that are not UTF-8 as \xHH: a file's contents never make them long or
/// broken.
[[nodiscard]] nlohmann::json parseJSON(std::string_view bytes, const std::stop_token& stop = {});

/// The document as UTF-8 text indented by two spaces, with the keys of every object in byte
/// order, which for UTF-8 is code-point order. Doubles are written so that they read back equal.
/// Throws JSONEncodingError for a number that is not finite or a text that is not UTF-8.
[[nodiscard]] std::string serializeJSON(const nlohmann::json& document);

/// Receives a document one value at a time, depth first, so that an encoder written once can
/// make a tree (jsonTree()) or the text itself (jsonText()) without the tree in between. The
/// keys of one object must come in byte order, each once: that is the order the text is in.
class JSONWriter {
public:
    virtual ~JSONWriter() = default;

    virtual void beginObject() = 0;
    /// The key of the next member; the member's value follows.
    virtual void key(std::string_view key) = 0;
    virtual void endObject() = 0;
    virtual void beginArray() = 0;
    virtual void endArray() = 0;
    virtual void boolean(bool value) = 0;
    virtual void integer(std::int64_t value) = 0;
    virtual void number(double value) = 0;
    virtual void string(std::string_view value) = 0;
};

/// The document that `write` writes, as a tree.
[[nodiscard]] nlohmann::json jsonTree(const std::function<void(JSONWriter&)>& write);

/// The document that `write` writes, as the bytes serializeJSON() makes of its tree, and with
/// the same JSONEncodingError for a number that is not finite or a text that is not UTF-8. It
/// never builds the tree, so it runs in about the time of writing the text out.
[[nodiscard]] std::string jsonText(const std::function<void(JSONWriter&)>& write);

class JSONValue;
class JSONObject;
struct JSONTaggedCase;

/// Decoders of single values. Each throws typeMismatch for a value of another kind and
/// valueNotFound for null. An integer must be written without a fraction or an exponent and
/// fit 64 bits (dataCorrupted otherwise); a double may be written either way. A UUID is a string
/// of 36 characters, 8-4-4-4-12 hexadecimal digits in either case (dataCorrupted otherwise).
[[nodiscard]] bool decodeBool(const JSONValue& value);
[[nodiscard]] std::int64_t decodeInteger(const JSONValue& value);
[[nodiscard]] double decodeDouble(const JSONValue& value);
[[nodiscard]] std::string decodeString(const JSONValue& value);
[[nodiscard]] UUID decodeUUID(const JSONValue& value);

/// A value of a parsed document being decoded, and the coding path that leads to it. It refers
/// to the document and does not own it: keep the document alive while the value is in use.
///
/// Decoders are functions from `const JSONValue&` to the decoded value (decodeBool, Rule::decode,
/// arrayOf(Rule::decode) ...), so that they nest: JSONObject::required("rules", arrayOf(...)).
class JSONValue final {
public:
    /// The top of a document, with an empty coding path.
    explicit JSONValue(const nlohmann::json& document);
    // A value refers to its document: a temporary one would be gone before it is read.
    explicit JSONValue(nlohmann::json&& document) = delete;

    /// This value as an object. Throws typeMismatch for another kind (valueNotFound for null).
    [[nodiscard]] JSONObject object() const;

    /// The elements of this array, in order. Throws typeMismatch for another kind.
    [[nodiscard]] std::vector<JSONValue> elements() const;

    /// The pairs of an array that alternates keys and values: [key 1, value 1, key 2, ...].
    /// Throws typeMismatch for another kind and dataCorrupted for an odd number of elements.
    [[nodiscard]] std::vector<std::pair<JSONValue, JSONValue>> alternatingPairs() const;

    /// The case of a tagged variant, written {"caseName": {payload}}. Exactly one of `caseNames`
    /// must be a key of this object (other keys are ignored), else typeMismatch with "Invalid
    /// number of keys found, expected one."; the payload must be an object, possibly empty.
    /// The name returned views the matching entry of `caseNames`: pass names that outlive it.
    [[nodiscard]] JSONTaggedCase taggedCase(
        std::initializer_list<std::string_view> caseNames) const;

    /// An error about this value, for a decoder that refuses a value of the right kind.
    [[nodiscard]] JSONDecodingError dataCorrupted(std::string description) const;

    /// The path from the top of the document to this value. It is worked out by searching the
    /// document, in time linear in its size, so that decoding builds none while nothing fails.
    [[nodiscard]] std::string codingPath() const;

private:
    friend class JSONObject;
    friend bool decodeBool(const JSONValue& value);
    friend std::int64_t decodeInteger(const JSONValue& value);
    friend double decodeDouble(const JSONValue& value);
    friend std::string decodeString(const JSONValue& value);

    /// `json` within the document whose top is `top`.
    JSONValue(const nlohmann::json& json, const nlohmann::json* top);

    [[nodiscard]] JSONDecodingError kindMismatch(std::string_view expected) const;

    const nlohmann::json* m_json;
    const nlohmann::json* m_top;
};

/// What a decoder returns.
template <typename Decode>
using DecodedType = std::remove_cvref_t<std::invoke_result_t<Decode&, const JSONValue&>>;

/// An object of a parsed document being decoded; see JSONValue::object(). Keys not asked for
/// are ignored.
class JSONObject final {
public:
    struct Member {
        std::string_view key;
        JSONValue value;
    };

    /// True when the object has `key`, even with the value null.
    [[nodiscard]] bool contains(std::string_view key) const;

    /// The value under `key`. Throws keyNotFound when the key is missing and valueNotFound when
    /// its value is null.
    [[nodiscard]] JSONValue requiredMember(std::string_view key) const;

    /// The value under `key`; absent when the key is missing or its value is null.
    [[nodiscard]] std::optional<JSONValue> optionalMember(std::string_view key) const;

    /// Every member, in key order.
    [[nodiscard]] std::vector<Member> members() const;

    /// The value under `key`, decoded by `decode`. Throws as requiredMember() and `decode` do.
    template <typename Decode>
    [[nodiscard]] DecodedType<Decode> required(std::string_view key, Decode decode) const
    {
        return std::invoke(decode, requiredMember(key));
    }

    /// The value under `key`, decoded by `decode`; absent when the key is missing or null.
    template <typename Decode>
    [[nodiscard]] std::optional<DecodedType<Decode>> optional(
        std::string_view key, Decode decode) const
    {
        const std::optional<JSONValue> member = optionalMember(key);
        if (!member)
            return std::nullopt;
        return std::invoke(decode, *member);
    }

    [[nodiscard]] std::string codingPath() const { return m_value.codingPath(); }

private:
    friend class JSONValue;

    explicit JSONObject(JSONValue value);

    JSONValue m_value;
};

/// One case of a tagged variant: its name (one of the names asked for) and its payload.
struct JSONTaggedCase {
    std::string_view name;
    JSONObject payload;
};

/// A decoder of an array into a std::vector in array order, each element by `decodeElement`.
template <typename Decode> [[nodiscard]] auto arrayOf(Decode decodeElement)
{
    return [decodeElement](const JSONValue& value) {
        const std::vector<JSONValue> elements = value.elements();
        std::vector<DecodedType<Decode>> result;
        result.reserve(elements.size()); // no spare capacity outlives the load
        for (const JSONValue& element : elements)
            result.push_back(std::invoke(decodeElement, element));
        return result;
    };
}

/// A decoder of an array into a std::set: the order means nothing and repeated elements collapse.
template <typename Decode> [[nodiscard]] auto setOf(Decode decodeElement)
{
    return [decodeElement](const JSONValue& value) {
        std::set<DecodedType<Decode>> result;
        for (const JSONValue& element : value.elements())
            result.insert(std::invoke(decodeElement, element));
        return result;
    };
}

/// A decoder of an object into a std::map keyed by its keys, each value by `decodeValue`.
template <typename Decode> [[nodiscard]] auto mapOf(Decode decodeValue)
{
    return [decodeValue](const JSONValue& value) {
        std::map<std::string, DecodedType<Decode>> result;
        for (const JSONObject::Member& member : value.object().members())
            result.emplace(member.key, std::invoke(decodeValue, member.value));
        return result;
    };
}

/// A decoder of an alternating array [key 1, value 1, key 2, value 2, ...] into a std::map, for
/// maps whose keys are not text. A key repeated later in the array replaces the earlier pair.
template <typename DecodeKey, typename DecodeValue>
[[nodiscard]] auto alternatingMapOf(DecodeKey decodeKey, DecodeValue decodeValue)
{
    return [decodeKey, decodeValue](const JSONValue& value) {
        std::map<DecodedType<DecodeKey>, DecodedType<DecodeValue>> result;
        for (const auto& [key, element] : value.alternatingPairs())
            result.insert_or_assign(std::invoke(decodeKey, key), std::invoke(decodeValue, element));
        return result;
    };
}

/// A member of an object being written; see encodeObject().
using JSONMember = std::pair<std::string_view, nlohmann::json>;

/// The object of encodeObject(), its values moved out of `members`.
[[nodiscard]] nlohmann::json encodeMembers(std::span<JSONMember> members);

/// An object holding `members`, except those whose value is null: an absent optional member is
/// left out, never written as null (see encodeOptional()). Written as a braced list,
/// encodeObject({{"id", ...}, {"name", ...}}); the values are moved into the object, not copied,
/// which an std::initializer_list would not allow.
// (Member is only ever JSONMember; as a template parameter it puts off the use of the JSON type
// until the call, where it is complete.)
template <std::size_t count, typename Member = JSONMember>
[[nodiscard]] auto encodeObject(Member (&&members)[count])
{
    return encodeMembers(std::span<Member>(members));
}

/// A tagged variant's case without payload: {"caseName": {}}.
[[nodiscard]] nlohmann::json encodeTaggedCase(std::string_view caseName);

/// The tagged case with its payload object built from `members`: {"caseName": {payload}}.
[[nodiscard]] nlohmann::json encodeTaggedCaseOf(
    std::string_view caseName, std::span<JSONMember> payload);

/// A tagged variant's case: {"caseName": {payload}}, where an unlabelled payload value goes under
/// "_0".
template <std::size_t count, typename Member = JSONMember>
[[nodiscard]] auto encodeTaggedCase(std::string_view caseName, Member (&&payload)[count])
{
    return encodeTaggedCaseOf(caseName, std::span<Member>(payload));
}

[[nodiscard]] nlohmann::json encodeBool(bool value);
[[nodiscard]] nlohmann::json encodeInteger(std::int64_t value);
/// Any double; serializeJSON() refuses those that are not finite.
[[nodiscard]] nlohmann::json encodeDouble(double value);
[[nodiscard]] nlohmann::json encodeString(std::string_view value);
/// The upper-case 8-4-4-4-12 form.
[[nodiscard]] nlohmann::json encodeUUID(const UUID& value);

// The templates below take the JSON type from what the encoder returns, so that this header
// needs only the declaration of nlohmann::json.

/// `value` encoded by `encode`, or null when absent, which encodeObject() leaves out.
template <typename T, typename Encode>
[[nodiscard]] auto encodeOptional(const std::optional<T>& value, Encode encode)
{
    using JSON = std::invoke_result_t<Encode&, const T&>;
    if (!value)
        return JSON();
    return JSON(std::invoke(encode, *value));
}

/// An array of `elements` in their order (for a std::set, sorted), each by `encodeElement`.
template <std::ranges::input_range Range, typename Encode>
[[nodiscard]] auto encodeArray(const Range& elements, Encode encodeElement)
{
    using JSON = std::invoke_result_t<Encode&, std::ranges::range_reference_t<const Range>>;
    JSON array = JSON::array();
    for (const auto& element : elements)
        array.push_back(std::invoke(encodeElement, element));
    return array;
}

/// An object keyed by the map's text keys, each value by `encodeValue`.
template <typename Map, typename Encode>
[[nodiscard]] auto encodeMap(const Map& map, Encode encodeValue)
{
    using JSON = std::invoke_result_t<Encode&, const typename Map::mapped_type&>;
    JSON object = JSON::object();
    for (const auto& [key, value] : map)
        object[std::string(key)] = std::invoke(encodeValue, value);
    return object;
}

/// The alternating array [key 1, value 1, key 2, value 2, ...] of a map whose keys are not text.
template <typename Map, typename EncodeKey, typename EncodeValue>
[[nodiscard]] auto encodeAlternatingMap(
    const Map& map, EncodeKey encodeKey, EncodeValue encodeValue)
{
    using JSON = std::invoke_result_t<EncodeKey&, const typename Map::key_type&>;
    JSON array = JSON::array();
    for (const auto& [key, value] : map) {
        array.push_back(std::invoke(encodeKey, key));
        array.push_back(std::invoke(encodeValue, value));
    }
    return array;
}

} // namespace quorvane
