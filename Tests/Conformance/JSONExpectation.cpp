#include "Conformance/JSONExpectation.h"

#include <algorithm>
#include <set>
#include <string_view>
#include <vector>

namespace quorvane {
namespace {

using LabelledUUIDs = std::map<std::string, UUID>;
using Difference = std::optional<std::string>;

/// Arrays under these keys are sets: their order means nothing.
const std::set<std::string_view> setKeys{"initializedDisplayIDs"};
/// Arrays under these keys alternate keys and values of a map: the order of pairs means nothing.
const std::set<std::string_view> alternatingMapKeys{"capturedDisplayPreferences"};

constexpr std::string_view anyUUID = "<uuid>";
constexpr std::string_view labelledUUIDPrefix = "<uuid:";

std::string memberPath(const std::string& path, const std::string& key)
{
    return path.empty() ? key : path + "." + key;
}

std::string elementPath(const std::string& path, std::size_t index)
{
    return path + "[" + std::to_string(index) + "]";
}

std::string mismatch(const std::string& path, const nlohmann::json& expected,
    const nlohmann::json& actual, std::string_view note = {})
{
    std::string text = "at " + (path.empty() ? std::string("the top level") : path) + ": expected "
        + expected.dump() + " but found " + actual.dump();
    if (!note.empty())
        text += " (" + std::string(note) + ")";
    return text;
}

Difference compare(const nlohmann::json& expected, const nlohmann::json& actual,
    const std::string& path, LabelledUUIDs& labels);

Difference compareUUIDPlaceholder(std::string_view placeholder, const nlohmann::json& actual,
    const std::string& path, LabelledUUIDs& labels)
{
    const std::optional<UUID> uuid
        = actual.is_string() ? UUID::parse(actual.get_ref<const std::string&>()) : std::nullopt;
    if (!uuid)
        return mismatch(path, placeholder, actual, "not a UUID");
    if (placeholder == anyUUID)
        return std::nullopt;
    const std::string label(placeholder.substr(
        labelledUUIDPrefix.size(), placeholder.size() - labelledUUIDPrefix.size() - 1));
    const auto [bound, isNew] = labels.emplace(label, *uuid);
    if (isNew || bound->second == *uuid)
        return std::nullopt;
    return mismatch(
        path, placeholder, actual, "that label stands for " + bound->second.uuidString());
}

bool isUUIDPlaceholder(std::string_view text)
{
    return text == anyUUID || (text.starts_with(labelledUUIDPrefix) && text.ends_with(">"));
}

Difference compareInOrder(const nlohmann::json& expected, const nlohmann::json& actual,
    const std::string& path, LabelledUUIDs& labels)
{
    if (expected.size() != actual.size())
        return mismatch(path, expected, actual,
            std::to_string(expected.size()) + " elements expected, " + std::to_string(actual.size())
                + " found");
    for (std::size_t index = 0; index < expected.size(); ++index) {
        if (Difference difference
            = compare(expected[index], actual[index], elementPath(path, index), labels))
            return difference;
    }
    return std::nullopt;
}

bool holdsUUIDPlaceholder(const nlohmann::json& value)
{
    if (value.is_string())
        return isUUIDPlaceholder(value.get_ref<const std::string&>());
    if (value.is_structured())
        return std::any_of(value.begin(), value.end(), holdsUUIDPlaceholder);
    return false;
}

/// Pairs the entries of a set, from `next` on, with entries of `actual` not taken yet. An entry
/// with placeholders may match several actual ones, so the search backs up when a later entry
/// finds nothing left; labels are bound only along the pairing that succeeds. Gives up after
/// `budget` comparisons, so that a case cannot make the search run for ever.
bool pairEntries(const std::vector<nlohmann::json>& expected, std::size_t next,
    const std::vector<nlohmann::json>& actual, std::vector<bool>& isTaken, LabelledUUIDs& labels,
    std::size_t& budget)
{
    if (next == expected.size())
        return true;
    for (std::size_t index = 0; index < actual.size() && budget > 0; ++index) {
        if (isTaken[index])
            continue;
        --budget;
        LabelledUUIDs trial = labels;
        if (compare(expected[next], actual[index], "", trial))
            continue;
        isTaken[index] = true;
        if (pairEntries(expected, next + 1, actual, isTaken, trial, budget)) {
            labels = std::move(trial);
            return true;
        }
        isTaken[index] = false;
    }
    return false;
}

/// Each expected entry must match a different actual entry, in any order.
Difference compareAsSet(const std::vector<nlohmann::json>& expected,
    const std::vector<nlohmann::json>& actual, const std::string& path, LabelledUUIDs& labels)
{
    if (expected.size() != actual.size())
        return mismatch(path, expected, actual,
            std::to_string(expected.size()) + " entries expected, " + std::to_string(actual.size())
                + " found, in any order");
    // Entries without placeholders match only entries equal to them, which are interchangeable:
    // pairing them first leaves the search little to back up over.
    std::vector<nlohmann::json> ordered = expected;
    std::stable_partition(ordered.begin(), ordered.end(),
        [](const nlohmann::json& entry) { return !holdsUUIDPlaceholder(entry); });
    std::vector<bool> isTaken(actual.size(), false);
    std::size_t budget = 100'000;
    if (pairEntries(ordered, 0, actual, isTaken, labels, budget))
        return std::nullopt;
    return mismatch(path, expected, actual, "no pairing of the entries matches, in any order");
}

std::optional<std::vector<nlohmann::json>> pairs(const nlohmann::json& alternating)
{
    if (alternating.size() % 2 != 0)
        return std::nullopt;
    std::vector<nlohmann::json> result;
    for (std::size_t index = 0; index < alternating.size(); index += 2)
        result.push_back(nlohmann::json::array({alternating[index], alternating[index + 1]}));
    return result;
}

Difference compareArrays(const nlohmann::json& expected, const nlohmann::json& actual,
    const std::string& path, std::string_view key, LabelledUUIDs& labels)
{
    if (setKeys.contains(key)) {
        return compareAsSet(std::vector<nlohmann::json>(expected.begin(), expected.end()),
            std::vector<nlohmann::json>(actual.begin(), actual.end()), path, labels);
    }
    if (alternatingMapKeys.contains(key)) {
        const auto expectedPairs = pairs(expected);
        const auto actualPairs = pairs(actual);
        if (!expectedPairs || !actualPairs)
            return mismatch(path, expected, actual, "an odd number of elements");
        return compareAsSet(*expectedPairs, *actualPairs, path, labels);
    }
    return compareInOrder(expected, actual, path, labels);
}

Difference compareObjects(const nlohmann::json& expected, const nlohmann::json& actual,
    const std::string& path, LabelledUUIDs& labels)
{
    for (const auto& [key, value] : actual.items()) {
        if (!expected.contains(key))
            return "at " + memberPath(path, key) + ": found " + value.dump()
                + " where no key is expected";
    }
    for (const auto& [key, value] : expected.items()) {
        const std::string valuePath = memberPath(path, key);
        const auto found = actual.find(key);
        if (found == actual.end())
            return "at " + valuePath + ": expected " + value.dump() + " but the key is missing";
        const Difference difference = value.is_array() && found->is_array()
            ? compareArrays(value, *found, valuePath, key, labels)
            : compare(value, *found, valuePath, labels);
        if (difference)
            return difference;
    }
    return std::nullopt;
}

Difference compare(const nlohmann::json& expected, const nlohmann::json& actual,
    const std::string& path, LabelledUUIDs& labels)
{
    if (expected.is_string() && isUUIDPlaceholder(expected.get_ref<const std::string&>()))
        return compareUUIDPlaceholder(expected.get_ref<const std::string&>(), actual, path, labels);
    if (expected.is_object() && actual.is_object())
        return compareObjects(expected, actual, path, labels);
    if (expected.is_array() && actual.is_array())
        return compareInOrder(expected, actual, path, labels);
    // nlohmann compares integers and floating-point numbers by value, and nothing else across
    // kinds: true is not 1.
    if (expected != actual)
        return mismatch(path, expected, actual);
    return std::nullopt;
}

} // namespace

std::optional<std::string> JSONExpectation::difference(
    const nlohmann::json& expected, const nlohmann::json& actual)
{
    return compare(expected, actual, "", m_labelledUUIDs);
}

} // namespace quorvane
