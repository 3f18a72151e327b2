// Comparing a document with a case's expectation: key order and whitespace do not matter,
// numbers compare as numbers, sets and alternating-array maps compare without order, and
// "<uuid>" / "<uuid:LABEL>" stand for identifiers the case cannot know.
#pragma once

#include "Foundation/UUID.h"

#include <nlohmann/json.hpp>

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace quorvane {

/// One case's expectations. Every "<uuid:LABEL>" must match the same UUID (in either letter case)
/// wherever it occurs in the case, so use one instance for all the comparisons of a case.
class JSONExpectation final {
public:
    /// Where `actual` first differs from `expected`, with both values: "at profiles[2].id:
    /// expected ... but found ...". Absent when it matches.
    [[nodiscard]] std::optional<std::string> difference(
        const nlohmann::json& expected, const nlohmann::json& actual, const std::string& path = "");

private:
    [[nodiscard]] std::optional<std::string> objectDifference(
        const nlohmann::json& expected, const nlohmann::json& actual, const std::string& path);
    [[nodiscard]] std::optional<std::string> placeholderDifference(
        const std::string& placeholder, const nlohmann::json& actual, const std::string& path);
    [[nodiscard]] bool matchesInAnyOrder(
        std::vector<nlohmann::json> expected, std::vector<nlohmann::json> actual);

    std::map<std::string, UUID> m_labelledUUIDs;
};

} // namespace quorvane
