#include "QuorvaneCore/ResolvedPlan.h"

#include "Foundation/Format.h"
#include "Foundation/Overloaded.h"
#include "Foundation/Text.h"

#include <algorithm>

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

} // namespace quorvane
