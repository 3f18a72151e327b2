// PlatformValue.h: the loosely typed values that platform dictionaries, registry properties and
// the window server's property lists hold (a number object, a Boolean, a string, an array, a
// dictionary, nested to any depth), so callers must check the kind they expect.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace quorvane {

struct PlatformValue {
    struct Integer {
        std::int64_t value;
        bool operator==(const Integer&) const = default;
    };
    struct Real {
        double value;
        bool operator==(const Real&) const = default;
    };
    struct Boolean {
        bool value;
        bool operator==(const Boolean&) const = default;
    };
    struct Text {
        std::string value;
        bool operator==(const Text&) const = default;
    };
    // Compared out of line, by hand: the containers need PlatformValue complete, and clang 14
    // recurses without end on defaulted comparisons of this recursive type.
    struct Array {
        std::vector<PlatformValue> items;
        bool operator==(const Array&) const;
    };
    struct Dictionary {
        std::map<std::string, PlatformValue> entries;
        bool operator==(const Dictionary&) const;
    };

    static PlatformValue integer(std::int64_t value) { return {Integer{value}}; }
    static PlatformValue real(double value) { return {Real{value}}; }
    static PlatformValue boolean(bool value) { return {Boolean{value}}; }
    static PlatformValue text(std::string value) { return {Text{std::move(value)}}; }
    static PlatformValue array(std::vector<PlatformValue> items) { return {Array{std::move(items)}}; }
    static PlatformValue dictionary(std::map<std::string, PlatformValue> entries)
    {
        return {Dictionary{std::move(entries)}};
    }

    /// The number a number object holds, as an integer; absent for any other kind. A real is
    /// truncated toward zero, as reading a number object as an integer does.
    [[nodiscard]] std::optional<std::int64_t> integerValue() const;
    /// The string; absent for any other kind.
    [[nodiscard]] const std::string* textValue() const;

    bool operator==(const PlatformValue&) const;

    std::variant<Integer, Real, Boolean, Text, Array, Dictionary> value;
};

using PlatformDictionary = std::map<std::string, PlatformValue>;

} // namespace quorvane
