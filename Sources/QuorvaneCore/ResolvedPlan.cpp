#include "QuorvaneCore/ResolvedPlan.h"

#include "Foundation/Format.h"
#include "Foundation/Overloaded.h"
#include "Foundation/Text.h"

#include <algorithm>
#include <stdexcept>
#include <utility>

namespace quorvane {

std::optional<std::string> ControlCapability::rejection(
    const SettingValue& value, SettingKey key) const
{
    if (!available)
        return reason.empty() ? std::string("Control unavailable") : reason;
    if (!value.isValid(key))
        return "Invalid value";
    if (choices.empty() || std::ranges::find(choices, value) != choices.end())
        return std::nullopt;
    return "Value unavailable in this display mode";
}

bool ManualHold::isActive(Date now) const { return !expiresAt || *expiresAt > now; }

std::string ResolutionSource::label() const
{
    const auto describe = Overloaded{
        [](const RuleCase& rule) { return rule.name; },
        [](const Manual& manual) {
            return std::string(manual.isExternal ? "Changed outside QuorVane" : "Manual hold");
        },
        [](const ProfileDefault&) { return std::string("Default"); },
        [](const ManualRecovery&) { return std::string("Before manual adjustment"); },
    };
    return std::visit(describe, value);
}

std::string RuleEvaluation::label() const
{
    if (!contributions.empty()) {
        const std::size_t count = contributions.size();
        return std::string(reasons.empty() ? "Active · " : "Partial · ") + formatUnsigned(count)
            + (count == 1 ? " setting" : " settings");
    }
    if (!reasons.empty())
        return joined(reasons, "; ");
    return matches ? "Overridden by higher priority" : "Not matching";
}

RuleEvaluations::RuleEvaluations(std::vector<Entry> entries)
    : m_entries(std::move(entries))
{
}

RuleEvaluations::RuleEvaluations(std::initializer_list<Entry> entries)
    : RuleEvaluations(std::vector<Entry>(entries))
{
}

const RuleEvaluation* RuleEvaluations::find(const UUID& id) const
{
    // From the back: the last entry with the id is the one that counts.
    for (auto entry = m_entries.rbegin(); entry != m_entries.rend(); ++entry) {
        if (entry->id == id)
            return &entry->evaluation;
    }
    return nullptr;
}

const RuleEvaluation& RuleEvaluations::at(const UUID& id) const
{
    if (const RuleEvaluation* evaluation = find(id))
        return *evaluation;
    throw std::out_of_range("No evaluation for rule " + id.uuidString());
}

} // namespace quorvane
