// PlatformValue.h: the loosely typed values that platform dictionaries and registry properties
// hold (a number object, a string, data, an array), so callers must check the kind they expect.
// A dictionary is a PlatformDictionary at the top level; nothing here nests one.
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
    struct Data {
        std::vector<std::uint8_t> bytes;
        bool operator==(const Data&) const = default;
    };
    struct List {
        std::vector<PlatformValue> items;
        bool operator==(const List&) const = default;
    };

    static PlatformValue integer(std::int64_t value) { return {Integer{value}}; }
    static PlatformValue real(double value) { return {Real{value}}; }
    static PlatformValue boolean(bool value) { return {Boolean{value}}; }
    static PlatformValue text(std::string value) { return {Text{std::move(value)}}; }

    /// The number a number object holds, as an integer; absent for any other kind. A real is
    /// truncated toward zero, as reading a number object as an integer does.
    [[nodiscard]] std::optional<std::int64_t> integerValue() const;
    /// The string; absent for any other kind.
    [[nodiscard]] const std::string* textValue() const;

    bool operator==(const PlatformValue&) const = default;

    std::variant<Integer, Real, Boolean, Text, Data, List> value;
};

using PlatformDictionary = std::map<std::string, PlatformValue>;

} // namespace quorvane
