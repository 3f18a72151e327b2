#include "QuorvaneCore/RuleResolver.h"

#include <algorithm>
#include <array>
#include <cassert>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace quorvane {

namespace {

constexpr std::size_t settingCount = allSettingKeys.size();

bool isFrontmost(const std::vector<ApplicationReference>& apps, const RuntimeContext& context)
{
    return context.appBundleID && std::ranges::any_of(apps, [&](const ApplicationReference& app) {
        return app.id == *context.appBundleID;
    });
}

/// Distinct identifiers, each numbered by its first appearance. They view texts that must
/// outlive them. Looking one up compares a few identifiers rather than every one, and each
/// comparison afterwards is of numbers.
class Identifiers final {
public:
    /// The number of `id`, numbering it now when it is new.
    std::size_t add(std::string_view id)
    {
        const Key key = keyOf(id);
        const auto place = std::ranges::lower_bound(m_sorted, key, {}, &Entry::key);
        if (place != m_sorted.end() && place->key == key)
            return place->number;
        const std::size_t number = m_ids.size();
        m_ids.push_back(id);
        m_sorted.insert(place, {key, number});
        return number;
    }

    [[nodiscard]] std::optional<std::size_t> find(std::string_view id) const
    {
        const Key key = keyOf(id);
        const auto found = std::ranges::lower_bound(m_sorted, key, {}, &Entry::key);
        if (found == m_sorted.end() || found->key != key)
            return std::nullopt;
        return found->number;
    }

    /// Absent as well without an identifier.
    [[nodiscard]] std::optional<std::size_t> findPresent(const std::optional<std::string>& id) const
    {
        return id ? find(*id) : std::nullopt;
    }

    [[nodiscard]] std::string_view operator[](std::size_t number) const { return m_ids[number]; }
    [[nodiscard]] std::size_t size() const { return m_ids.size(); }

private:
    /// Identifiers of one kind often share a long prefix, so they are ordered by their last
    /// characters first: most comparisons end on that number without reading the texts.
    using Key = std::pair<std::uint64_t, std::string_view>;
    struct Entry {
        Key key;
        std::size_t number;
    };

    static Key keyOf(std::string_view id)
    {
        std::uint64_t tail = 0;
        const std::size_t count = std::min(id.size(), sizeof tail);
        if (count > 0)
            std::memcpy(&tail, id.data() + id.size() - count, count);
        return {tail, id};
    }

    std::vector<std::string_view> m_ids;
    std::vector<Entry> m_sorted;
};

/// Why `capability` refuses any value; absent when the control is available.
std::optional<std::string_view> refusalOf(const ControlCapability& capability)
{
    if (capability.available)
        return std::nullopt;
    return capability.reason.empty() ? std::string_view("Control unavailable")
                                     : std::string_view(capability.reason);
}

/// Why `capability` refuses `value` for `setting`, as ControlCapability::rejection() says it,
/// viewing the capability's own text or a literal instead of copying it.
std::optional<std::string_view> rejectionOf(
    const ControlCapability& capability, const SettingValue& value, SettingKey setting)
{
    if (const std::optional<std::string_view> refusal = refusalOf(capability))
        return refusal;
    if (!value.isValid(setting))
        return "Invalid value";
    if (capability.choices.empty()
        || std::ranges::find(capability.choices, value) != capability.choices.end())
        return std::nullopt;
    return "Value unavailable in this display mode";
}

/// One control's state between two rules: all a rule's evaluation reads of the rules before it.
struct ControlState {
    bool isClaimed = false;
    std::optional<std::string_view> unavailableReason{};
    bool operator==(const ControlState&) const = default;
};

/// Every control's state between two rules, with the number of unsettled rows per setting.
struct ControlsState {
    std::vector<ControlState> controls{};
    std::array<std::size_t, settingCount> unsettledRows{};
    bool operator==(const ControlsState&) const = default;
};

/// A stretch of the profile's rules evaluated together: what a later resolution takes over whole
/// when it finds the same stretch with the controls in the same state.
struct Run {
    /// The stretch's identity; the findings keep a copy of the rules, so it stays the same rules.
    const void* stretch = nullptr;
    std::shared_ptr<const RuleEvaluations::Part> evaluations;
    /// The assignments the run's rules claimed, and the places in the run of the rules that did.
    std::vector<std::pair<ControlKey, ResolvedAssignment>> claims;
    std::vector<std::size_t> deciding;
    /// The controls before the first rule and after the last: one object when the run changed none.
    std::shared_ptr<const ControlsState> before;
    std::shared_ptr<const ControlsState> after;
};

} // namespace

/// What a resolution found, for the next one over the same context and capabilities.
struct ResolutionMemo::Findings {
    /// Copies of what the runs were evaluated against. The states view its texts, so the next
    /// resolution reads these very copies while they stay equal to its own inputs.
    struct Inputs {
        RuntimeContext context;
        std::map<ControlKey, ControlCapability> capabilities;
    };
    std::shared_ptr<const Inputs> inputs;
    /// Shares the runs' stretches: keeps them alive and unchanged.
    RuleList rules;
    std::vector<std::shared_ptr<const Run>> runs;
    /// Each run's stretch with the run's index, sorted.
    std::vector<std::pair<const void*, std::size_t>> runOfStretch;

    /// The run of `stretch`, null when there is none; the run at `hint` is tried first.
    [[nodiscard]] std::shared_ptr<const Run> runOf(const void* stretch, std::size_t hint) const
    {
        if (hint < runs.size() && runs[hint]->stretch == stretch)
            return runs[hint];
        const auto found = std::ranges::lower_bound(
            runOfStretch, stretch, {}, &std::pair<const void*, std::size_t>::first);
        if (found == runOfStretch.end() || found->first != stretch)
            return nullptr;
        return runs[found->second];
    }
};

namespace {

using Findings = ResolutionMemo::Findings;

/// One resolution in progress: the inputs it reads and the plan it fills.
///
/// Resolving touches the same few controls for every rule, so it first builds a table of each
/// connected display and setting with its capability, and keeps in it whether the control is
/// claimed and why it is unavailable; the plan's unavailable map is written once at the end.
/// Display identifiers are only ever viewed, never copied, until a control enters the plan.
class Resolution final {
public:
    Resolution(
        const RuntimeContext& context, const std::map<ControlKey, ControlCapability>& capabilities)
        : m_context(context)
        , m_capabilities(capabilities)
    {
        // A display listed twice shares one row: its controls are the same controls.
        for (const DisplayContext& display : context.displays) {
            m_rowOfDisplay.push_back(m_rows.add(display.id));
            m_spaceOfDisplay.push_back(display.activeSpaceID
                    ? std::optional(m_spaces.add(*display.activeSpaceID))
                    : std::nullopt);
        }
        m_focusedRow = m_rows.findPresent(context.focusedDisplayID);
        m_controls.resize(m_rows.size() * settingCount);
        for (const auto& [key, capability] : capabilities) {
            if (const std::optional<std::size_t> row = m_rows.find(key.target.id()))
                control(*row, key.setting)
                    = {.key = &key, .capability = &capability, .refusal = refusalOf(capability)};
        }
        m_candidates.reserve(context.displays.size());
    }

    void takeHolds(const std::map<ControlKey, ManualHold>& holds, Date now)
    {
        // A hold that has ended or cannot be applied leaves no trace.
        for (const auto& [key, hold] : holds) {
            if (hold.isActive(now) && !rejection(key, hold.value))
                m_plan.assignments.insert_or_assign(
                    key, ResolvedAssignment{hold.value, ResolutionSource::manual(hold.isExternal)});
        }
        for (std::size_t row = 0; row < m_rows.size(); ++row) {
            for (const SettingKey setting : allSettingKeys) {
                Control& entry = control(row, setting);
                entry.isClaimed = entry.key && m_plan.assignments.contains(*entry.key);
                if (!entry.isSettled())
                    ++m_unsettledRows[static_cast<std::size_t>(setting)];
            }
        }
    }

    /// Evaluates `rules` in order, `standIn` in place of the first one with its id when given,
    /// taking over each run of `previous` whose stretch of rules comes next with the controls in
    /// the same state. Leaves the runs in `next` when given. A stand-in is never left nor taken
    /// over.
    void evaluateRules(
        const RuleList& rules, const Rule* standIn, const Findings* previous, Findings* next)
    {
        assert(!(standIn && (previous || next)) && "a preview neither reuses nor leaves findings");
        std::vector<std::shared_ptr<const RuleEvaluations::Part>> parts;
        std::vector<std::size_t> deciding;
        auto known = std::make_shared<const ControlsState>(state());
        for (std::size_t index = 0; index < rules.stretchCount(); ++index) {
            const RuleList::Stretch stretch = rules.stretch(index);
            std::shared_ptr<const Run> run
                = previous ? reusableRun(*previous, stretch, index, known) : nullptr;
            if (run)
                takeOver(*run);
            else
                run = evaluateRun(rules, stretch, standIn, known);
            known = run->after;
            for (const std::size_t offset : run->deciding)
                deciding.push_back(stretch.start + offset);
            parts.push_back(run->evaluations);
            if (next) {
                next->runOfStretch.emplace_back(stretch.identity, next->runs.size());
                next->runs.push_back(std::move(run));
            }
        }
        if (next)
            std::ranges::sort(next->runOfStretch);
        m_plan.rules = RuleEvaluations(std::move(parts), std::move(deciding));
    }

    void fillDefaults(const DefaultSettings& defaultSettings)
    {
        for (const auto& [key, capability] : m_capabilities) {
            const std::optional<std::size_t> row = m_rows.find(key.target.id());
            if (row ? control(*row, key.setting).isClaimed : m_plan.assignments.contains(key))
                continue;
            const std::optional<SettingValue> value = defaultSettings.value(key);
            if (!value)
                continue;
            if (!row) {
                // Neither a hold nor a rule can have reached a display that is not connected.
                m_plan.unavailable.insert_or_assign(key, "Device unavailable");
                continue;
            }
            Control& entry = control(*row, key.setting);
            if (const std::optional<std::string_view> reason
                = rejectionOf(capability, *value, key.setting))
                entry.unavailableReason = reason;
            else
                claim(entry, *value, ResolutionSource::profileDefault());
        }
    }

    [[nodiscard]] ResolvedPlan plan() &&
    {
        for (std::size_t row = 0; row < m_rows.size(); ++row) {
            for (const SettingKey setting : allSettingKeys) {
                const Control& entry = control(row, setting);
                if (entry.unavailableReason)
                    m_plan.unavailable.insert_or_assign(
                        keyOf(row, setting), std::string(*entry.unavailableReason));
            }
        }
        return std::move(m_plan);
    }

private:
    [[nodiscard]] ControlsState state() const
    {
        ControlsState state{.unsettledRows = m_unsettledRows};
        state.controls.reserve(m_controls.size());
        for (const Control& entry : m_controls)
            state.controls.push_back({entry.isClaimed, entry.unavailableReason});
        return state;
    }

    void restore(const ControlsState& state)
    {
        for (std::size_t index = 0; index < m_controls.size(); ++index) {
            m_controls[index].isClaimed = state.controls[index].isClaimed;
            m_controls[index].unavailableReason = state.controls[index].unavailableReason;
        }
        m_unsettledRows = state.unsettledRows;
    }

    /// The run of `previous` over `stretch`, found with the controls in the state `known`; null
    /// when there is none. The stretch at the same place is tried first.
    [[nodiscard]] static std::shared_ptr<const Run> reusableRun(const Findings& previous,
        const RuleList::Stretch& stretch, std::size_t place,
        const std::shared_ptr<const ControlsState>& known)
    {
        std::shared_ptr<const Run> run = previous.runOf(stretch.identity, place);
        if (!run || (run->before != known && *run->before != *known))
            return nullptr;
        return run;
    }

    /// The run's claims and its effect on the controls, without evaluating its rules again.
    void takeOver(const Run& run)
    {
        for (const auto& [key, assignment] : run.claims)
            m_plan.assignments.try_emplace(key, assignment);
        if (run.after != run.before)
            restore(*run.after);
    }

    /// Evaluates the rules of `stretch`.
    [[nodiscard]] std::shared_ptr<const Run> evaluateRun(const RuleList& rules,
        const RuleList::Stretch& stretch, const Rule*& standIn,
        std::shared_ptr<const ControlsState> before)
    {
        auto run = std::make_shared<Run>();
        auto evaluations = std::make_shared<RuleEvaluations::Part>();
        evaluations->reserve(stretch.size);
        m_changedControls = false;
        auto position = rules.begin() + static_cast<std::ptrdiff_t>(stretch.start);
        for (std::size_t count = 0; count < stretch.size; ++count) {
            const Rule& rule = *position++;
            const bool isStoodIn = standIn && standIn->id == rule.id;
            evaluations->push_back({rule.id, evaluate(isStoodIn ? *standIn : rule)});
            if (isStoodIn)
                standIn = nullptr;
        }
        for (std::size_t index = 0; index < evaluations->size(); ++index) {
            const std::vector<ControlKey>& contributions
                = (*evaluations)[index].evaluation.contributions;
            for (const ControlKey& key : contributions)
                run->claims.emplace_back(key, m_plan.assignments.at(key));
            if (!contributions.empty())
                run->deciding.push_back(index);
        }
        run->stretch = stretch.identity;
        run->after = m_changedControls ? std::make_shared<const ControlsState>(state()) : before;
        run->before = std::move(before);
        run->evaluations = std::move(evaluations);
        return run;
    }

    /// One control of a connected display.
    struct Control {
        /// The key and capability in the capabilities map; null for a control without one.
        const ControlKey* key = nullptr;
        const ControlCapability* capability = nullptr;
        /// Why the control refuses every value; absent when it is available.
        std::optional<std::string_view> refusal = "Control unavailable";
        bool isClaimed = false;
        /// Why the control cannot be set, when that is the latest word on it.
        std::optional<std::string_view> unavailableReason{};

        /// Decided, and accepting every valid value: a valid value of a later rule changes nothing.
        [[nodiscard]] bool isSettled() const
        {
            return isClaimed && !refusal && capability->choices.empty();
        }
    };

    [[nodiscard]] Control& control(std::size_t row, SettingKey setting)
    {
        return m_controls[row * settingCount + static_cast<std::size_t>(setting)];
    }
    [[nodiscard]] const Control& control(std::size_t row, SettingKey setting) const
    {
        return m_controls[row * settingCount + static_cast<std::size_t>(setting)];
    }

    /// The key of a control, copied from the capabilities map when it is there.
    [[nodiscard]] ControlKey keyOf(std::size_t row, SettingKey setting) const
    {
        if (const ControlKey* key = control(row, setting).key)
            return *key;
        return {ControlTarget::display(std::string(m_rows[row])), setting};
    }

    /// Absent when `value` can be applied to the control.
    [[nodiscard]] std::optional<std::string_view> rejection(
        const ControlKey& key, const SettingValue& value) const
    {
        if (!m_rows.find(key.target.id()))
            return "Device unavailable";
        const auto capability = m_capabilities.find(key);
        if (capability == m_capabilities.end())
            return "Control unavailable";
        return rejectionOf(capability->second, value, key.setting);
    }

    /// What an evaluation says besides the rule's claims and reasons.
    struct Verdict {
        bool matches = false;
        bool needsFocusedWindow = false;
    };

    /// How the rule fares with the controls as the rules before it left them.
    [[nodiscard]] RuleEvaluation evaluate(const Rule& rule)
    {
        m_reasons.clear();
        RuleEvaluation result;
        const Verdict verdict = evaluation(rule, result.contributions);
        result.matches = verdict.matches;
        result.needsFocusedWindow = verdict.needsFocusedWindow;
        result.reasons.reserve(m_reasons.size());
        for (const auto& [setting, reason] : m_reasons) {
            result.reasons.push_back(setting
                    ? std::string(title(*setting)).append(": ").append(reason)
                    : std::string(reason));
        }
        return result;
    }

    /// Narrows the displays by the rule's conditions (application, then screen, then Space) and
    /// lets the rule claim on those left, adding what it decided to `contributions`. A condition
    /// that rules every display out ends the evaluation without a claim.
    [[nodiscard]] Verdict evaluation(const Rule& rule, std::vector<ControlKey>& contributions)
    {
        const auto refuse = [this](std::string_view reason) {
            m_reasons.push_back({std::nullopt, reason});
        };
        if (!rule.isEnabled) {
            refuse("Disabled");
            return {};
        }

        const RuleConditions& conditions = rule.conditions;
        // Indexes into the context's displays, in their order.
        std::vector<std::size_t>& candidates = m_candidates;
        candidates.clear();
        for (std::size_t index = 0; index < m_rowOfDisplay.size(); ++index)
            candidates.push_back(index);
        const auto keepOnly = [&](const auto& isKept) {
            std::erase_if(candidates, [&](std::size_t index) { return !isKept(index); });
        };
        if (conditions.hasAppCondition()) {
            if (!isFrontmost(conditions.apps, m_context))
                return {};
            keepOnly([&](std::size_t index) { return m_rowOfDisplay[index] == m_focusedRow; });
            if (candidates.empty() && (conditions.screen || conditions.space)) {
                refuse("Focused window unavailable · check window access");
                return {.needsFocusedWindow = true};
            }
        }
        if (conditions.screen) {
            const std::optional<std::size_t> screenRow = m_rows.find(conditions.screen->id);
            keepOnly([&](std::size_t index) { return m_rowOfDisplay[index] == screenRow; });
            // A connected screen that is not a candidate (not the focused one) is no fault.
            if (candidates.empty()) {
                if (!screenRow)
                    refuse("Screen disconnected");
                return {};
            }
        }
        if (conditions.space) {
            const Desktop& space = *conditions.space;
            const std::optional<std::size_t> spaceNumber = m_spaces.find(space.id);
            // A Space owned by another display counts only when it is shared.
            const bool isOwnerless = space.isShared || !space.displayID;
            const std::optional<std::size_t> ownerRow = m_rows.findPresent(space.displayID);
            keepOnly([&](std::size_t index) {
                return spaceNumber && m_spaceOfDisplay[index] == spaceNumber
                    && (isOwnerless || m_rowOfDisplay[index] == ownerRow);
            });
            if (candidates.empty()) {
                refuse("Space not active or unavailable");
                return {};
            }
        }

        // Without a candidate here, either no display is connected or the rule follows the focused
        // window, whose screen is unknown; only the latter waits for the focused window.
        const bool awaitsFocusedWindow = conditions.hasAppCondition() && candidates.empty();
        claim(rule,
            awaitsFocusedWindow ? "focused screen unavailable · allow window access"
                                : "no connected screens",
            contributions);
        return {
            .matches = true, .needsFocusedWindow = awaitsFocusedWindow && !rule.settings.isEmpty()};
    }

    /// Assigns each value the rule sets, key by key and within a key display by display, to every
    /// candidate not claimed yet. A refused value becomes a reason even on a control already
    /// claimed; an accepted one on a claimed control is left unrecorded.
    void claim(const Rule& rule, std::string_view reasonWithoutCandidates,
        std::vector<ControlKey>& contributions)
    {
        for (const SettingKey setting : allSettingKeys) {
            const std::optional<SettingValue> value = rule.settings.value(setting);
            if (!value)
                continue;
            if (m_candidates.empty())
                m_reasons.push_back({setting, reasonWithoutCandidates});
            const bool isValid = value->isValid(setting);
            if (isValid && m_unsettledRows[static_cast<std::size_t>(setting)] == 0)
                continue;
            for (const std::size_t display : m_candidates) {
                Control& entry = control(m_rowOfDisplay[display], setting);
                if (const std::optional<std::string_view> reason
                    = rejection(entry, *value, isValid)) {
                    m_reasons.push_back({setting, *reason});
                    if (entry.unavailableReason != reason) {
                        entry.unavailableReason = reason;
                        m_changedControls = true;
                    }
                } else if (!entry.isClaimed) {
                    claim(entry, *value, ResolutionSource::rule(rule.id, rule.name));
                    contributions.push_back(*entry.key);
                    if (entry.isSettled())
                        --m_unsettledRows[static_cast<std::size_t>(setting)];
                }
            }
        }
    }

    /// As rejectionOf() for the control, given whether the value is valid for its setting.
    [[nodiscard]] static std::optional<std::string_view> rejection(
        const Control& entry, const SettingValue& value, bool isValid)
    {
        if (entry.refusal)
            return entry.refusal;
        if (!isValid)
            return "Invalid value";
        const std::vector<SettingValue>& choices = entry.capability->choices;
        if (choices.empty() || std::ranges::find(choices, value) != choices.end())
            return std::nullopt;
        return "Value unavailable in this display mode";
    }

    /// Gives the unclaimed control `value` and clears its reason.
    void claim(Control& entry, const SettingValue& value, ResolutionSource source)
    {
        m_plan.assignments.try_emplace(*entry.key, ResolvedAssignment{value, std::move(source)});
        entry.isClaimed = true;
        entry.unavailableReason.reset();
        m_changedControls = true;
    }

    const RuntimeContext& m_context;
    const std::map<ControlKey, ControlCapability>& m_capabilities;
    /// The connected display identifiers: a display's number is its row in the table.
    Identifiers m_rows;
    /// The Spaces active on the connected displays.
    Identifiers m_spaces;
    /// The row and the active Space of each of the context's displays, in their order.
    std::vector<std::size_t> m_rowOfDisplay;
    std::vector<std::optional<std::size_t>> m_spaceOfDisplay;
    /// The row of the display with the focused window, when it is connected.
    std::optional<std::size_t> m_focusedRow;
    /// settingCount entries per row, in allSettingKeys order.
    std::vector<Control> m_controls;
    /// Per setting, the rows whose control is not settled: at none, a valid value of a rule
    /// needs no look at any display.
    std::array<std::size_t, settingCount> m_unsettledRows{};
    /// The displays still eligible for the rule being evaluated; kept to reuse its memory.
    std::vector<std::size_t> m_candidates;
    /// The reasons of the rule being evaluated, each with the setting it names when it names
    /// one; kept to reuse its memory.
    std::vector<std::pair<std::optional<SettingKey>, std::string_view>> m_reasons;
    /// Whether the run being evaluated has changed a control's state.
    bool m_changedControls = false;
    ResolvedPlan m_plan;
};

/// Whether the capabilities lead to the same plan: an available control's reason, which only
/// says how it works, is never read.
bool resolveAlike(const std::map<ControlKey, ControlCapability>& first,
    const std::map<ControlKey, ControlCapability>& second)
{
    return std::ranges::equal(first, second, [](const auto& one, const auto& other) {
        const ControlCapability& capability = one.second;
        return one.first == other.first && capability.available == other.second.available
            && capability.choices == other.second.choices
            && (capability.available || capability.reason == other.second.reason);
    });
}

/// The plan of `profile`, with `standIn` in place of its first rule with that id when given,
/// taking over what `previous` found and leaving its findings in `next` when given.
ResolvedPlan resolveWith(const Profile& profile, const Rule* standIn,
    const DefaultSettings& defaultSettings, const RuntimeContext& context,
    const std::map<ControlKey, ControlCapability>& capabilities,
    const std::map<ControlKey, ManualHold>& holds, Date now, const Findings* previous = nullptr,
    Findings* next = nullptr)
{
    // Suspended automation decides nothing, not even the holds.
    if (context.suspended)
        return {};
    Resolution resolution(context, capabilities);
    resolution.takeHolds(holds, now);
    resolution.evaluateRules(profile.rules, standIn, previous, next);
    resolution.fillDefaults(defaultSettings);
    return std::move(resolution).plan();
}

} // namespace

ResolutionMemo::ResolutionMemo() = default;
ResolutionMemo::~ResolutionMemo() = default;
ResolutionMemo::ResolutionMemo(const ResolutionMemo&) = default;
ResolutionMemo::ResolutionMemo(ResolutionMemo&&) noexcept = default;
ResolutionMemo& ResolutionMemo::operator=(const ResolutionMemo&) = default;
ResolutionMemo& ResolutionMemo::operator=(ResolutionMemo&&) noexcept = default;

ResolvedPlan RuleResolver::resolve(const Profile& profile, const DefaultSettings& defaultSettings,
    const RuntimeContext& context, const std::map<ControlKey, ControlCapability>& capabilities,
    const std::map<ControlKey, ManualHold>& holds, Date now)
{
    return resolveWith(profile, nullptr, defaultSettings, context, capabilities, holds, now);
}

ResolvedPlan RuleResolver::resolve(const Profile& profile, const DefaultSettings& defaultSettings,
    const RuntimeContext& context, const std::map<ControlKey, ControlCapability>& capabilities,
    const std::map<ControlKey, ManualHold>& holds, Date now, ResolutionMemo& memo)
{
    const Findings* previous = memo.m_findings.get();
    auto next = std::make_shared<Findings>();
    if (previous && previous->inputs->context == context
        && resolveAlike(previous->inputs->capabilities, capabilities)) {
        next->inputs = previous->inputs;
    } else {
        next->inputs
            = std::make_shared<const Findings::Inputs>(Findings::Inputs{context, capabilities});
        previous = nullptr;
    }
    next->rules = profile.rules;
    ResolvedPlan plan = resolveWith(profile, nullptr, defaultSettings, next->inputs->context,
        next->inputs->capabilities, holds, now, previous, next.get());
    memo.m_findings = std::move(next);
    return plan;
}

ResolvedPlan RuleResolver::resolvePreview(const Profile& profile, const Rule& standIn,
    const DefaultSettings& defaultSettings, const RuntimeContext& context,
    const std::map<ControlKey, ControlCapability>& capabilities,
    const std::map<ControlKey, ManualHold>& holds, Date now)
{
    return resolveWith(profile, &standIn, defaultSettings, context, capabilities, holds, now);
}

} // namespace quorvane
