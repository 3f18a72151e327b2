#include "QuorvaneCore/ResolvedPlan.h"

#include "Foundation/Format.h"
#include "Foundation/Overloaded.h"
#include "Foundation/Text.h"

#include <algorithm>
#include <atomic>
#include <cassert>
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
    : RuleEvaluations(
        std::vector<std::shared_ptr<const Part>>{std::make_shared<const Part>(std::move(entries))})
{
}

RuleEvaluations::RuleEvaluations(std::initializer_list<Entry> entries)
    : RuleEvaluations(std::vector<Entry>(entries))
{
}

RuleEvaluations::RuleEvaluations(std::vector<std::shared_ptr<const Part>> parts)
    : RuleEvaluations(std::move(parts), {})
{
    std::size_t index = 0;
    for (const Entry& entry : *this) {
        if (!entry.evaluation.contributions.empty())
            m_deciding.push_back(index);
        ++index;
    }
}

RuleEvaluations::RuleEvaluations(
    std::vector<std::shared_ptr<const Part>> parts, std::vector<std::size_t> deciding)
    : m_parts(std::move(parts))
    , m_deciding(std::move(deciding))
{
    std::erase_if(m_parts, [](const auto& part) { return part->empty(); });
    m_ends.reserve(m_parts.size());
    std::size_t end = 0;
    for (const auto& part : m_parts)
        m_ends.push_back(end += part->size());
}

std::pair<std::size_t, std::size_t> RuleEvaluations::locate(std::size_t index) const
{
    assert(index < size() && "an entry within the list");
    const auto part
        = static_cast<std::size_t>(std::ranges::upper_bound(m_ends, index) - m_ends.begin());
    return {part, index - (part == 0 ? 0 : m_ends[part - 1])};
}

const RuleEvaluations::Entry& RuleEvaluations::operator[](std::size_t index) const
{
    const auto [part, offset] = locate(index);
    return (*m_parts[part])[offset];
}

RuleEvaluation& RuleEvaluations::evaluationAt(std::size_t index)
{
    const auto [part, offset] = locate(index);
    std::shared_ptr<const Part>& shared = m_parts[part];
    if (shared.use_count() == 1)
        std::atomic_thread_fence(std::memory_order_acquire);
    else
        shared = std::make_shared<const Part>(*shared);
    // Every part is made as a non-const Part; const only keeps shared ones from being changed.
    return const_cast<Part&>(*shared)[offset].evaluation;
}

const RuleEvaluation* RuleEvaluations::find(const UUID& id) const
{
    // From the back: the last entry with the id is the one that counts.
    for (auto part = m_parts.rbegin(); part != m_parts.rend(); ++part) {
        for (auto entry = (*part)->rbegin(); entry != (*part)->rend(); ++entry) {
            if (entry->id == id)
                return &entry->evaluation;
        }
    }
    return nullptr;
}

bool RuleEvaluations::operator==(const RuleEvaluations& other) const
{
    if (size() != other.size())
        return false;
    const_iterator mine = begin();
    const_iterator theirs = other.begin();
    while (mine != end()) {
        // A part both lists share at the same place is equal without a look at its entries.
        if (mine.m_offset == 0 && theirs.m_offset == 0
            && m_parts[mine.m_part] == other.m_parts[theirs.m_part]) {
            ++mine.m_part;
            ++theirs.m_part;
            continue;
        }
        if (!(*mine == *theirs))
            return false;
        ++mine;
        ++theirs;
    }
    return true;
}

const RuleEvaluation& RuleEvaluations::at(const UUID& id) const
{
    if (const RuleEvaluation* evaluation = find(id))
        return *evaluation;
    throw std::out_of_range("No evaluation for rule " + id.uuidString());
}

} // namespace quorvane
