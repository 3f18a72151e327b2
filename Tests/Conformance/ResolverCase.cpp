#include "Conformance/ResolverCase.h"

#include "Foundation/AtomicFile.h"
#include "Foundation/Date.h"
#include "Foundation/JSON.h"
#include "Foundation/Overloaded.h"
#include "QuorvaneCore/ControlKey.h"
#include "QuorvaneCore/ResolvedPlan.h"
#include "QuorvaneCore/RuleResolver.h"
#include "QuorvaneCore/Rules.h"
#include "QuorvaneCore/SettingsCoding.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <chrono>
#include <cmath>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <variant>
#include <vector>

namespace quorvane {
namespace {

struct ResolverInput {
    Profile profile;
    DefaultSettings defaultSettings;
    RuntimeContext context;
    std::map<ControlKey, ControlCapability> capabilities;
    std::map<ControlKey, ManualHold> holds;
    Date now;
};

struct ExpectedRule {
    RuleEvaluation evaluation;
    std::string label;
};

struct ExpectedPlan {
    std::map<ControlKey, ResolvedAssignment> assignments;
    std::map<UUID, ExpectedRule> rules;
    std::map<ControlKey, std::string> unavailable;
};

struct ResolverCase {
    ResolverInput input;
    ExpectedPlan expect;
};

// Date counts 64-bit nanoseconds: about 292 years either side of its epoch.
constexpr double maximumSeconds = 9e9;

/// Seconds since the case's origin, which is the clock's epoch for every point in time of a case.
Date decodeDate(const JSONValue& value)
{
    const double seconds = decodeDouble(value);
    if (std::abs(seconds) > maximumSeconds)
        throw value.dataCorrupted("The point in time is too far from the origin.");
    return Date() + std::chrono::round<Date::duration>(std::chrono::duration<double>(seconds));
}

/// A decoder of an array of objects into a map keyed by each object's member `keyName`, decoded
/// by `decodeKey`; `decodeEntry` reads the mapped value from the object. A key that appears twice
/// would make the case ambiguous, so it is refused.
template <typename DecodeKey, typename DecodeEntry>
auto keyedBy(std::string_view keyName, DecodeKey decodeKey, DecodeEntry decodeEntry)
{
    return [keyName, decodeKey, decodeEntry](const JSONValue& value) {
        using Entry = std::remove_cvref_t<std::invoke_result_t<DecodeEntry&, const JSONObject&>>;
        std::map<DecodedType<DecodeKey>, Entry> result;
        for (const JSONValue& element : value.elements()) {
            const JSONObject object = element.object();
            const JSONValue key = object.requiredMember(keyName);
            if (!result.emplace(std::invoke(decodeKey, key), std::invoke(decodeEntry, object))
                     .second)
                throw key.dataCorrupted("The same " + std::string(keyName) + " is listed twice.");
        }
        return result;
    };
}

DisplayContext decodeDisplayContext(const JSONValue& value)
{
    const JSONObject object = value.object();
    return {
        .id = object.required("id", decodeString),
        .activeSpaceID = object.optional("activeSpaceID", decodeString),
    };
}

RuntimeContext decodeRuntimeContext(const JSONValue& value)
{
    const JSONObject object = value.object();
    return {
        .appBundleID = object.optional("appBundleID", decodeString),
        .focusedDisplayID = object.optional("focusedDisplayID", decodeString),
        .displays = object.required("displays", arrayOf(decodeDisplayContext)),
        .suspended = object.required("suspended", decodeBool),
    };
}

ControlCapability decodeCapability(const JSONValue& value)
{
    const JSONObject object = value.object();
    return {
        .available = object.required("available", decodeBool),
        .reason = object.required("reason", decodeString),
        .choices = object.required("choices", arrayOf(decodeSettingValue)),
    };
}

ManualHold decodeHold(const JSONValue& value)
{
    const JSONObject object = value.object();
    return {
        .value = object.required("value", decodeSettingValue),
        .expiresAt = object.optional("expiresAt", decodeDate),
        .isExternal = object.required("isExternal", decodeBool),
    };
}

ResolutionSource decodeResolutionSource(const JSONValue& value)
{
    const JSONTaggedCase source = value.taggedCase({"rule", "manual", "profileDefault"});
    if (source.name == "rule")
        return ResolutionSource::rule(source.payload.required("id", decodeUUID),
            source.payload.required("name", decodeString));
    if (source.name == "manual")
        return ResolutionSource::manual(source.payload.required("isExternal", decodeBool));
    return ResolutionSource::profileDefault();
}

ResolvedAssignment decodeAssignment(const JSONObject& entry)
{
    return {
        .value = entry.required("value", decodeSettingValue),
        .source = entry.required("source", decodeResolutionSource),
    };
}

ExpectedRule decodeExpectedRule(const JSONObject& entry)
{
    return {
        .evaluation = {
            .matches = entry.required("matches", decodeBool),
            .needsFocusedWindow = entry.required("needsFocusedWindow", decodeBool),
            .contributions = entry.required("contributions", arrayOf(decodeControlKey)),
            .reasons = entry.required("reasons", arrayOf(decodeString)),
        },
        .label = entry.required("label", decodeString),
    };
}

ExpectedPlan decodeExpectedPlan(const JSONValue& value)
{
    const JSONObject object = value.object();
    return {
        .assignments
        = object.required("assignments", keyedBy("key", decodeControlKey, decodeAssignment)),
        .rules = object.required("rules", keyedBy("id", decodeUUID, decodeExpectedRule)),
        .unavailable = object.required("unavailable",
            keyedBy("key", decodeControlKey,
                [](const JSONObject& entry) { return entry.required("reason", decodeString); })),
    };
}

ResolverCase readCase(const std::filesystem::path& caseFile)
{
    const nlohmann::json document = parseJSON(readFile(caseFile));
    const JSONObject object = JSONValue(document).object();
    return {
        .input = {
            .profile = object.required("profile", decodeProfile),
            .defaultSettings = object.required("defaultSettings", decodeDefaultSettings),
            .context = object.required("context", decodeRuntimeContext),
            .capabilities = object.required("capabilities",
                keyedBy("key", decodeControlKey,
                    [](const JSONObject& entry) {
                        return entry.required("capability", decodeCapability);
                    })),
            .holds = object.required("holds",
                keyedBy("key", decodeControlKey,
                    [](const JSONObject& entry) { return entry.required("hold", decodeHold); })),
            .now = object.required("now", decodeDate),
        },
        .expect = object.required("expect", decodeExpectedPlan),
    };
}

nlohmann::json encodeResolutionSource(const ResolutionSource& source)
{
    const auto encode = Overloaded{
        [](const ResolutionSource::RuleCase& rule) {
            return encodeTaggedCase(
                "rule", {{"id", encodeUUID(rule.id)}, {"name", encodeString(rule.name)}});
        },
        [](const ResolutionSource::Manual& manual) {
            return encodeTaggedCase("manual", {{"isExternal", encodeBool(manual.isExternal)}});
        },
        [](const ResolutionSource::ProfileDefault&) { return encodeTaggedCase("profileDefault"); },
        [](const ResolutionSource::ManualRecovery&) { return encodeTaggedCase("manualRecovery"); },
    };
    return std::visit(encode, source.value);
}

// How values appear in failure messages: coded types in the case's own JSON.
std::string describe(bool value) { return value ? "true" : "false"; }
std::string describe(const std::string& text) { return encodeString(text).dump(); }
std::string describe(const std::vector<std::string>& texts)
{
    return encodeArray(texts, encodeString).dump();
}
std::string describe(const UUID& id) { return id.uuidString(); }
std::string describe(const ControlKey& key) { return encodeControlKey(key).dump(); }
std::string describe(const std::vector<ControlKey>& keys)
{
    return encodeArray(keys, encodeControlKey).dump();
}
std::string describe(const SettingValue& value) { return encodeSettingValue(value).dump(); }
std::string describe(const ResolutionSource& source)
{
    return encodeResolutionSource(source).dump();
}
std::string describe(const ResolvedAssignment& assignment)
{
    return describe(assignment.value) + " from " + describe(assignment.source);
}
std::string describe(const RuleEvaluation& evaluation)
{
    return "labelled " + describe(evaluation.label());
}
std::string describe(const ExpectedRule& rule) { return "labelled " + describe(rule.label); }

template <typename T>
void checkField(
    const std::string& entry, std::string_view field, const T& expected, const T& actual)
{
    if (expected != actual)
        ADD_FAILURE() << entry << ": " << field << ": expected " << describe(expected)
                      << " but found " << describe(actual);
}

/// Compares a list of the plan as a set keyed by control or rule: every expected entry must be
/// there and agree, and no other entry may be.
template <typename Key, typename Expected, typename Actual, typename CheckEntry>
void checkKeyedList(std::string_view list, const std::map<Key, Expected>& expected,
    const std::map<Key, Actual>& actual, CheckEntry checkEntry)
{
    for (const auto& [key, entry] : expected) {
        const auto found = actual.find(key);
        if (found == actual.end())
            ADD_FAILURE() << list << ": expected an entry for " << describe(key) << ", "
                          << describe(entry) << ", but there is none";
        else
            checkEntry(std::string(list) + " entry for " + describe(key), entry, found->second);
    }
    for (const auto& [key, entry] : actual) {
        if (!expected.contains(key))
            ADD_FAILURE() << list << ": found an entry for " << describe(key) << ", "
                          << describe(entry) << ", where none is expected";
    }
}

void checkAssignment(
    const std::string& entry, const ResolvedAssignment& expected, const ResolvedAssignment& actual)
{
    checkField(entry, "value", expected.value, actual.value);
    checkField(entry, "source", expected.source, actual.source);
}

void checkEvaluation(
    const std::string& entry, const ExpectedRule& expected, const RuleEvaluation& actual)
{
    checkField(entry, "matches", expected.evaluation.matches, actual.matches);
    checkField(entry, "needsFocusedWindow", expected.evaluation.needsFocusedWindow,
        actual.needsFocusedWindow);
    checkField(entry, "contributions", expected.evaluation.contributions, actual.contributions);
    checkField(entry, "reasons", expected.evaluation.reasons, actual.reasons);
    checkField(entry, "label", expected.label, actual.label());
}

void checkUnavailableReason(
    const std::string& entry, const std::string& expected, const std::string& actual)
{
    checkField(entry, "reason", expected, actual);
}

} // namespace

void runResolverCase(const std::filesystem::path& caseFile)
{
    std::optional<ResolverCase> resolverCase;
    try {
        resolverCase = readCase(caseFile);
    } catch (const Error& error) {
        FAIL() << caseFile.filename().string() << " cannot be used: " << error.what();
    }
    const ResolverInput& input = resolverCase->input;
    const ResolvedPlan plan = RuleResolver::resolve(input.profile, input.defaultSettings,
        input.context, input.capabilities, input.holds, input.now);
    const ExpectedPlan& expect = resolverCase->expect;
    checkKeyedList("assignments", expect.assignments, plan.assignments, checkAssignment);
    checkKeyedList("rules", expect.rules, plan.rules, checkEvaluation);
    checkKeyedList("unavailable", expect.unavailable, plan.unavailable, checkUnavailableReason);
}

} // namespace quorvane
