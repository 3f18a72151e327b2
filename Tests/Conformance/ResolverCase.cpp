// One resolver/NAME.json case: a profile, Default settings, a context, capabilities and holds,
// and the plan the rule resolver must make of them.
#include "Conformance/ConformanceCases.h"

#include "Foundation/AtomicFile.h"
#include "Foundation/Date.h"
#include "Foundation/Overloaded.h"
#include "QuorvaneCore/ResolvedPlan.h"
#include "QuorvaneCore/RuleResolver.h"
#include "QuorvaneCore/Rules.h"
#include "QuorvaneCore/SettingsCoding.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <chrono>
#include <map>
#include <string>
#include <string_view>
#include <type_traits>
#include <variant>

namespace quorvane {
namespace {

/// Each entry of the list under `list`, keyed by its member `keyName`.
template <typename DecodeKey, typename DecodeEntry>
auto keyedBy(const JSONObject& object, std::string_view list, std::string_view keyName,
    DecodeKey decodeKey, DecodeEntry decodeEntry)
{
    std::map<DecodedType<DecodeKey>, std::invoke_result_t<DecodeEntry&, const JSONObject&>> map;
    for (const JSONValue& element : listOf(object, list)) {
        const JSONObject entry = element.object();
        map.insert_or_assign(entry.required(keyName, decodeKey), decodeEntry(entry));
    }
    return map;
}

/// Seconds since the case's origin, which is the clock's epoch for every point in time of a case.
Date decodeDate(const JSONValue& value)
{
    const std::chrono::duration<double> seconds(decodeDouble(value));
    return Date() + std::chrono::round<Date::duration>(seconds);
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
        .displays = object.optional("displays", arrayOf(decodeDisplayContext))
                        .value_or(std::vector<DisplayContext>()),
        .suspended = object.optional("suspended", decodeBool).value_or(false),
    };
}

ControlCapability decodeCapability(const JSONObject& entry)
{
    const JSONObject object = entry.requiredMember("capability").object();
    return {
        .available = object.required("available", decodeBool),
        .reason = object.optional("reason", decodeString).value_or(""),
        .choices = object.optional("choices", arrayOf(decodeSettingValue))
                       .value_or(std::vector<SettingValue>()),
    };
}

ManualHold decodeHold(const JSONObject& entry)
{
    const JSONObject object = entry.requiredMember("hold").object();
    return {
        .value = object.required("value", decodeSettingValue),
        .expiresAt = object.optional("expiresAt", decodeDate),
        .isExternal = object.optional("isExternal", decodeBool).value_or(false),
    };
}

ResolutionSource decodeSource(const JSONValue& value)
{
    const JSONTaggedCase source
        = value.taggedCase({"rule", "manual", "profileDefault", "manualRecovery"});
    if (source.name == "rule")
        return ResolutionSource::rule(source.payload.required("id", decodeUUID),
            source.payload.required("name", decodeString));
    if (source.name == "manual")
        return ResolutionSource::manual(source.payload.required("isExternal", decodeBool));
    if (source.name == "manualRecovery")
        return ResolutionSource::manualRecovery();
    return ResolutionSource::profileDefault();
}

nlohmann::json encodeSource(const ResolutionSource& source)
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

ResolvedAssignment decodeAssignment(const JSONObject& entry)
{
    return {
        .value = entry.required("value", decodeSettingValue),
        .source = entry.required("source", decodeSource),
    };
}

nlohmann::json encodeAssignment(const ResolvedAssignment& assignment)
{
    return encodeObject({
        {"value", encodeSettingValue(assignment.value)},
        {"source", encodeSource(assignment.source)},
    });
}

nlohmann::json encodeEvaluation(const RuleEvaluation& evaluation, std::string_view label)
{
    return encodeObject({
        {"matches", encodeBool(evaluation.matches)},
        {"needsFocusedWindow", encodeBool(evaluation.needsFocusedWindow)},
        {"contributions", encodeArray(evaluation.contributions, encodeControlKey)},
        {"reasons", encodeArray(evaluation.reasons, encodeString)},
        {"label", encodeString(label)},
    });
}

/// An expected rule, written as encodeEvaluation() writes the plan's.
nlohmann::json decodeExpectedRule(const JSONObject& entry)
{
    const RuleEvaluation evaluation{
        .matches = entry.required("matches", decodeBool),
        .needsFocusedWindow = entry.required("needsFocusedWindow", decodeBool),
        .contributions = entry.optional("contributions", arrayOf(decodeControlKey))
                             .value_or(std::vector<ControlKey>()),
        .reasons
        = entry.optional("reasons", arrayOf(decodeString)).value_or(std::vector<std::string>()),
    };
    return encodeEvaluation(evaluation, entry.required("label", decodeString));
}

nlohmann::json encodeReason(const std::string& reason)
{
    return encodeObject({{"reason", encodeString(reason)}});
}

/// A list of the plan, or of the case's expectation, as JSON: each entry under its key's JSON
/// text, so that both sides compare and print alike.
using Entries = std::map<std::string, nlohmann::json>;

template <typename Map, typename EncodeKey, typename EncodeEntry>
Entries entries(const Map& map, EncodeKey encodeKey, EncodeEntry encodeEntry)
{
    Entries result;
    // The last entry of a key counts, as in the rules of a plan that repeat an id.
    for (const auto& [key, entry] : map)
        result.insert_or_assign(encodeKey(key).dump(), encodeEntry(entry));
    return result;
}

/// Exactly the expected entries, each agreeing in every field with the entry of the same key.
void checkEntries(std::string_view list, const Entries& expected, const Entries& actual)
{
    for (const auto& [key, entry] : expected) {
        const auto found = actual.find(key);
        if (found == actual.end()) {
            ADD_FAILURE() << list << ": expected an entry for " << key << ", " << entry.dump()
                          << ", but there is none";
            continue;
        }
        for (const auto& [field, value] : entry.items()) {
            const nlohmann::json actualValue = found->second.value(field, nlohmann::json());
            if (actualValue != value)
                ADD_FAILURE() << list << " entry for " << key << ": " << field << ": expected "
                              << value.dump() << " but found " << actualValue.dump();
        }
    }
    for (const auto& [key, entry] : actual) {
        if (!expected.contains(key))
            ADD_FAILURE() << list << ": found an entry for " << key << ", " << entry.dump()
                          << ", where none is expected";
    }
}

} // namespace

void runResolverCase(const std::filesystem::path& caseFile)
{
    const nlohmann::json document = parseJSON(readFile(caseFile));
    const JSONObject object = JSONValue(document).object();
    const ResolvedPlan plan = RuleResolver::resolve(object.required("profile", decodeProfile),
        object.optional("defaultSettings", decodeDefaultSettings).value_or(DefaultSettings()),
        object.optional("context", decodeRuntimeContext).value_or(RuntimeContext()),
        keyedBy(object, "capabilities", "key", decodeControlKey, decodeCapability),
        keyedBy(object, "holds", "key", decodeControlKey, decodeHold),
        object.optional("now", decodeDate).value_or(Date()));

    const JSONObject expect = object.requiredMember("expect").object();
    checkEntries("assignments",
        entries(keyedBy(expect, "assignments", "key", decodeControlKey, decodeAssignment),
            encodeControlKey, encodeAssignment),
        entries(plan.assignments, encodeControlKey, encodeAssignment));
    checkEntries("rules",
        entries(keyedBy(expect, "rules", "id", decodeUUID, decodeExpectedRule), encodeUUID,
            [](const nlohmann::json& rule) { return rule; }),
        entries(plan.rules, encodeUUID,
            [](const RuleEvaluation& rule) { return encodeEvaluation(rule, rule.label()); }));
    const auto decodeReason
        = [](const JSONObject& entry) { return entry.required("reason", decodeString); };
    checkEntries("unavailable",
        entries(keyedBy(expect, "unavailable", "key", decodeControlKey, decodeReason),
            encodeControlKey, encodeReason),
        entries(plan.unavailable, encodeControlKey, encodeReason));
}

} // namespace quorvane
