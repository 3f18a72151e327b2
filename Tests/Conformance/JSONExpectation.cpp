#include "Conformance/JSONExpectation.h"

#include <algorithm>
#include <string_view>

namespace quorvane {
namespace {

bool isPlaceholder(const nlohmann::json& value)
{
    if (!value.is_string())
        return false;
    const std::string& text = value.get_ref<const std::string&>();
    return text == "<uuid>" || (text.starts_with("<uuid:") && text.ends_with(">"));
}

bool holdsPlaceholder(const nlohmann::json& value)
{
    return isPlaceholder(value)
        || (value.is_structured() && std::any_of(value.begin(), value.end(), holdsPlaceholder));
}

std::string differenceText(const std::string& path, const nlohmann::json& expected,
    const nlohmann::json& actual, const std::string& note = "")
{
    return "at " + (path.empty() ? std::string("the top level") : path) + ": expected "
        + expected.dump() + " but found " + actual.dump() + note;
}

/// The entries of an array under `key` whose order means nothing: the elements of a set, or the
/// key/value pairs of an alternating-array map. Absent for an array compared in order.
std::optional<std::vector<nlohmann::json>> unorderedEntries(
    const std::string& key, const nlohmann::json& array)
{
    if (!array.is_array())
        return std::nullopt;
    if (key == "initializedDisplayIDs")
        return std::vector<nlohmann::json>(array.begin(), array.end());
    if (key != "capturedDisplayPreferences" || array.size() % 2 != 0)
        return std::nullopt;
    std::vector<nlohmann::json> pairs;
    for (std::size_t index = 0; index < array.size(); index += 2)
        pairs.push_back(nlohmann::json::array({array[index], array[index + 1]}));
    return pairs;
}

} // namespace

std::optional<std::string> JSONExpectation::difference(
    const nlohmann::json& expected, const nlohmann::json& actual, const std::string& path)
{
    if (isPlaceholder(expected))
        return placeholderDifference(expected.get_ref<const std::string&>(), actual, path);
    if (expected.is_object() && actual.is_object())
        return objectDifference(expected, actual, path);
    if (expected.is_array() && actual.is_array() && expected.size() == actual.size()) {
        for (std::size_t index = 0; index < expected.size(); ++index) {
            const std::string elementPath = path + "[" + std::to_string(index) + "]";
            if (auto found = difference(expected[index], actual[index], elementPath))
                return found;
        }
        return std::nullopt;
    }
    // nlohmann compares integers and floating-point numbers by value, and nothing else across
    // kinds: true is not 1.
    if (expected != actual)
        return differenceText(path, expected, actual);
    return std::nullopt;
}

std::optional<std::string> JSONExpectation::objectDifference(
    const nlohmann::json& expected, const nlohmann::json& actual, const std::string& path)
{
    const std::string prefix = path.empty() ? "" : path + ".";
    for (const auto& [key, value] : actual.items()) {
        if (!expected.contains(key))
            return "at " + prefix + key + ": found " + value.dump() + " where no key is expected";
    }
    for (const auto& [key, value] : expected.items()) {
        const auto found = actual.find(key);
        if (found == actual.end())
            return "at " + prefix + key + ": expected " + value.dump() + " but the key is missing";
        auto expectedEntries = unorderedEntries(key, value);
        auto actualEntries = unorderedEntries(key, *found);
        if (expectedEntries && actualEntries) {
            if (!matchesInAnyOrder(std::move(*expectedEntries), std::move(*actualEntries)))
                return differenceText(prefix + key, value, *found, " (in any order)");
        } else if (auto difference = this->difference(value, *found, prefix + key)) {
            return difference;
        }
    }
    return std::nullopt;
}

std::optional<std::string> JSONExpectation::placeholderDifference(
    const std::string& placeholder, const nlohmann::json& actual, const std::string& path)
{
    const std::optional<UUID> uuid
        = actual.is_string() ? UUID::parse(actual.get_ref<const std::string&>()) : std::nullopt;
    if (!uuid)
        return differenceText(path, placeholder, actual, " (not a UUID)");
    if (placeholder == "<uuid>")
        return std::nullopt;
    const auto [bound, isNew] = m_labelledUUIDs.emplace(placeholder, *uuid);
    if (isNew || bound->second == *uuid)
        return std::nullopt;
    return differenceText(path, placeholder, actual,
        " (" + placeholder + " stands for " + bound->second.uuidString() + " elsewhere)");
}

// Greedy: each expected entry takes the first entry left that matches it. Entries without
// placeholders go first; they match only equal entries, which are interchangeable, so the
// placeholders are left to choose among the rest.
bool JSONExpectation::matchesInAnyOrder(
    std::vector<nlohmann::json> expected, std::vector<nlohmann::json> actual)
{
    std::stable_partition(expected.begin(), expected.end(),
        [](const nlohmann::json& entry) { return !holdsPlaceholder(entry); });
    for (const nlohmann::json& entry : expected) {
        const auto match
            = std::find_if(actual.begin(), actual.end(), [&](const nlohmann::json& candidate) {
                  const auto labels = m_labelledUUIDs;
                  if (!difference(entry, candidate))
                      return true;
                  m_labelledUUIDs = labels; // A candidate that does not match binds no label.
                  return false;
              });
        if (match == actual.end())
            return false;
        actual.erase(match);
    }
    return actual.empty();
}

} // namespace quorvane
