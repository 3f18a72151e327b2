#include "QuorvaneCore/ResolvedPlan.h"

#include "Foundation/Format.h"
#include "Foundation/Overloaded.h"
#include "Foundation/Text.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <utility>

namespace quorvane {
namespace {

/// The slot of `id` in a table of `mask + 1` slots. Random ids are uniform already; the mixing
/// spreads ids that differ in a byte or two, as sequential ones do.
std::size_t slotOf(const UUID& id, std::size_t mask)
{
    std::uint64_t high = 0;
    std::uint64_t low = 0;
    std::memcpy(&high, id.bytes().data(), sizeof high);
    std::memcpy(&low, id.bytes().data() + sizeof high, sizeof low);
    std::uint64_t mixed = high ^ (low * 0x9E3779B97F4A7C15u);
    mixed = (mixed ^ (mixed >> 30)) * 0xBF58476D1CE4E5B9u;
    mixed = (mixed ^ (mixed >> 27)) * 0x94D049BB133111EBu;
    return static_cast<std::size_t>(mixed ^ (mixed >> 31)) & mask;
}

/// Whether two entries share an id. A table addressed by the ids' hashes, at most half full,
/// finds out in one pass; sorting the ids would cost more than resolving the rules did.
bool hasRepeatedIDs(const std::vector<RuleEvaluations::Entry>& entries)
{
    if (entries.size() < 2)
        return false;
    std::size_t capacity = 4;
    while (capacity < 2 * entries.size())
        capacity *= 2;
    // An entry's number plus one; zero marks a free slot.
    std::vector<std::uint32_t> slots(capacity, 0);
    const std::size_t mask = capacity - 1;
    for (std::size_t index = 0; index < entries.size(); ++index) {
        const UUID& id = entries[index].id;
        std::size_t slot = slotOf(id, mask);
        for (; slots[slot] != 0; slot = (slot + 1) & mask) {
            if (entries[slots[slot] - 1].id == id)
                return true;
        }
        slots[slot] = static_cast<std::uint32_t>(index + 1);
    }
    return false;
}

} // namespace

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
    , m_hasRepeatedIDs(hasRepeatedIDs(m_entries))
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

const RuleEvaluation* RuleEvaluations::find(const UUID& id, std::size_t row) const
{
    if (!m_hasRepeatedIDs && row < m_entries.size() && m_entries[row].id == id)
        return &m_entries[row].evaluation;
    return find(id);
}

const RuleEvaluation& RuleEvaluations::at(const UUID& id) const
{
    if (const RuleEvaluation* evaluation = find(id))
        return *evaluation;
    throw std::out_of_range("No evaluation for rule " + id.uuidString());
}

} // namespace quorvane
