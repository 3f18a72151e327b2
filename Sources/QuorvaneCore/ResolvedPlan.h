// What rules are resolved against (contexts, capabilities, manual holds) and what the resolver
// returns.
#pragma once

#include "Foundation/Date.h"
#include "Foundation/UUID.h"
#include "QuorvaneCore/ControlKey.h"
#include "QuorvaneCore/SettingValue.h"

#include <cstddef>
#include <initializer_list>
#include <iterator>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <variant>
#include <vector>

namespace quorvane {

/// One connected display in a context.
struct DisplayContext {
    std::string id;
    /// The Desktop id active on this display; absent when the platform layer reported none.
    std::optional<std::string> activeSpaceID{};
    bool operator==(const DisplayContext&) const = default;
};

/// The situation rules are resolved against; an equal context means nothing changed.
struct RuntimeContext {
    std::optional<std::string> appBundleID{};
    std::optional<std::string> focusedDisplayID{};
    /// One per connected display; the order counts in comparisons.
    std::vector<DisplayContext> displays{};
    bool suspended = false;
    bool operator==(const RuntimeContext&) const = default;
};

/// What one display control accepts right now.
struct ControlCapability {
    bool available = false;
    /// Why the control is unavailable; for an available control, how it works. May be empty.
    std::string reason{};
    /// The only values the control accepts in the display's current mode; empty means any valid
    /// value.
    std::vector<SettingValue> choices{};

    /// Absent when the control accepts `value` for `key`; otherwise why not, checked in this
    /// order: the reason of an unavailable control (or "Control unavailable"), "Invalid value",
    /// "Value unavailable in this display mode".
    [[nodiscard]] std::optional<std::string> rejection(
        const SettingValue& value, SettingKey key) const;

    bool operator==(const ControlCapability&) const = default;
};

/// A value set by hand (by the user, or by another program) that overrides the rules for one
/// control until it ends.
struct ManualHold {
    SettingValue value;
    /// Absent: until the user resumes automatic control.
    std::optional<Date> expiresAt{};
    /// The change was made outside the system and detected.
    bool isExternal = false;

    /// True while the expiry is absent or strictly later than `now`.
    [[nodiscard]] bool isActive(Date now) const;

    bool operator==(const ManualHold&) const = default;
};

/// Where a resolved value came from.
struct ResolutionSource {
    struct RuleCase {
        UUID id;
        std::string name;
        bool operator==(const RuleCase&) const = default;
    };
    struct Manual {
        bool isExternal;
        bool operator==(const Manual&) const = default;
    };
    struct ProfileDefault {
        bool operator==(const ProfileDefault&) const = default;
    };
    /// The value the control had before a manual adjustment.
    struct ManualRecovery {
        bool operator==(const ManualRecovery&) const = default;
    };
    static ResolutionSource rule(UUID id, std::string name)
    {
        return {RuleCase{id, std::move(name)}};
    }
    static ResolutionSource manual(bool isExternal) { return {Manual{isExternal}}; }
    static ResolutionSource profileDefault() { return {ProfileDefault{}}; }
    static ResolutionSource manualRecovery() { return {ManualRecovery{}}; }

    /// The rule's name, "Manual hold", "Changed outside QuorVane", "Default" or
    /// "Before manual adjustment".
    [[nodiscard]] std::string label() const;
    bool operator==(const ResolutionSource&) const = default;

    std::variant<RuleCase, Manual, ProfileDefault, ManualRecovery> value;
};

struct ResolvedAssignment {
    SettingValue value;
    ResolutionSource source;
    bool operator==(const ResolvedAssignment&) const = default;
};

/// How one rule fared in a resolution.
struct RuleEvaluation {
    bool matches = false;
    /// Deciding the rule needs the focused window's screen.
    bool needsFocusedWindow = false;
    /// The controls whose value this rule decided.
    std::vector<ControlKey> contributions{};
    /// Why some of its settings were not applied.
    std::vector<std::string> reasons{};

    /// "Active · 2 settings", "Partial · 1 setting", the reasons joined with "; ",
    /// "Overridden by higher priority" or "Not matching".
    [[nodiscard]] std::string label() const;
    bool operator==(const RuleEvaluation&) const = default;
};

/// How each rule of the resolved profile fared, one entry per rule in the profile's order.
///
/// A rule id that appears more than once (in a profile the settings checks would refuse) keeps an
/// entry per appearance, and looking it up gives the last one: each later rule replaces the
/// evaluation of an earlier one with its id, though not what that one claimed.
///
/// The entries lie in parts, runs of consecutive rules that plans share while those rules fare
/// alike, so that a plan differing from the last in one rule copies nothing of the others. A part
/// is never changed in place: changing an entry first gives this list its own copy of the part.
class RuleEvaluations final {
public:
    struct Entry {
        UUID id;
        RuleEvaluation evaluation;
        bool operator==(const Entry&) const = default;
    };
    using Part = std::vector<Entry>;

    /// Yields the entries in order, part after part; stays valid until the list changes.
    class const_iterator {
    public:
        using iterator_category = std::forward_iterator_tag;
        using value_type = Entry;
        using difference_type = std::ptrdiff_t;
        using reference = const Entry&;
        using pointer = const Entry*;

        const_iterator() = default;

        reference operator*() const { return (*m_parts[m_part])[m_offset]; }
        pointer operator->() const { return &**this; }
        const_iterator& operator++()
        {
            if (++m_offset == m_parts[m_part]->size()) {
                ++m_part;
                m_offset = 0;
            }
            return *this;
        }
        const_iterator operator++(int)
        {
            const_iterator before = *this;
            ++*this;
            return before;
        }
        bool operator==(const const_iterator&) const = default;

    private:
        friend class RuleEvaluations;
        const_iterator(const std::shared_ptr<const Part>* parts, std::size_t part)
            : m_parts(parts)
            , m_part(part)
        {
        }

        const std::shared_ptr<const Part>* m_parts = nullptr;
        std::size_t m_part = 0;
        std::size_t m_offset = 0;
    };

    RuleEvaluations() = default;
    /// Takes the entries in the profile's order.
    explicit RuleEvaluations(std::vector<Entry> entries);
    RuleEvaluations(std::initializer_list<Entry> entries);
    /// The parts in the profile's order, shared with whoever else holds them.
    explicit RuleEvaluations(std::vector<std::shared_ptr<const Part>> parts);
    /// As above, given the indices deciding() lists, which spares looking at every entry.
    RuleEvaluations(
        std::vector<std::shared_ptr<const Part>> parts, std::vector<std::size_t> deciding);

    /// The evaluation of the rule's last entry; null when no entry has the id. Linear in the
    /// number of entries.
    [[nodiscard]] const RuleEvaluation* find(const UUID& id) const;
    /// As find(id); throws std::out_of_range when no entry has the id.
    [[nodiscard]] const RuleEvaluation& at(const UUID& id) const;
    [[nodiscard]] bool contains(const UUID& id) const { return find(id) != nullptr; }

    [[nodiscard]] const_iterator begin() const noexcept { return {m_parts.data(), 0}; }
    [[nodiscard]] const_iterator end() const noexcept { return {m_parts.data(), m_parts.size()}; }
    [[nodiscard]] std::size_t size() const noexcept { return m_ends.empty() ? 0 : m_ends.back(); }
    [[nodiscard]] bool empty() const noexcept { return m_parts.empty(); }
    /// The entry at `index`, below size(); logarithmic in the number of parts.
    [[nodiscard]] const Entry& operator[](std::size_t index) const;
    /// The evaluation at `index`, below size(), to change; the ids stay as they are. Copies the
    /// entry's part first when another list shares it.
    [[nodiscard]] RuleEvaluation& evaluationAt(std::size_t index);

    /// The indices, in order, of the entries whose rule decided a control when the list was made:
    /// the few an owner of a control may need to change. evaluationAt() leaves it as it is.
    [[nodiscard]] const std::vector<std::size_t>& deciding() const noexcept { return m_deciding; }

    /// Equal entries in the same order, however they are split into parts.
    bool operator==(const RuleEvaluations& other) const;

private:
    /// The part holding `index` and the index within it.
    [[nodiscard]] std::pair<std::size_t, std::size_t> locate(std::size_t index) const;

    /// Never an empty part.
    std::vector<std::shared_ptr<const Part>> m_parts;
    /// Per part, the number of entries up to its end.
    std::vector<std::size_t> m_ends;
    std::vector<std::size_t> m_deciding;
};

/// The resolver's result; a default-built plan has all three maps and the rules empty.
struct ResolvedPlan {
    std::map<ControlKey, ResolvedAssignment> assignments{};
    RuleEvaluations rules{};
    /// The reason per control that cannot be set.
    std::map<ControlKey, std::string> unavailable{};
    bool operator==(const ResolvedPlan&) const = default;
};

} // namespace quorvane
