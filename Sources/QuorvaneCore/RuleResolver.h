// Which value every control of every connected display should have, and where it comes from.
#pragma once

#include "Foundation/Date.h"
#include "QuorvaneCore/ControlKey.h"
#include "QuorvaneCore/ResolvedPlan.h"
#include "QuorvaneCore/Rules.h"

#include <map>
#include <memory>

namespace quorvane {

/// What a resolution leaves for the next one over the same profile: its rules, the evaluation of
/// each run of them, and the state of the controls around each run. Only RuleResolver reads it.
class ResolutionMemo final {
public:
    ResolutionMemo();
    ~ResolutionMemo();
    ResolutionMemo(const ResolutionMemo&);
    ResolutionMemo(ResolutionMemo&&) noexcept;
    ResolutionMemo& operator=(const ResolutionMemo&);
    ResolutionMemo& operator=(ResolutionMemo&&) noexcept;

    /// Defined beside the resolver, the only one to read it.
    struct Findings;

private:
    friend struct RuleResolver;
    std::shared_ptr<const Findings> m_findings;
};

/// A pure computation over values: it reads no clock, touches no hardware, keeps no state but
/// the memo a caller hands it, and never fails. Every value that cannot be used ends up as a reason
/// text in the plan.
struct RuleResolver final {
    RuleResolver() = delete; // Only a home for resolve().

    /// The plan for `context`. An active manual hold wins a control first, then the enabled rules
    /// of `profile` from first to last (the first rule that claims a control keeps it), then
    /// `defaultSettings`. A control without an entry in `capabilities` is never assigned. A
    /// suspended context gives the empty plan: no assignment, no evaluation, no reason.
    /// Only the profile's rules and the Default settings' displays are read.
    [[nodiscard]] static ResolvedPlan resolve(const Profile& profile,
        const DefaultSettings& defaultSettings, const RuntimeContext& context,
        const std::map<ControlKey, ControlCapability>& capabilities,
        const std::map<ControlKey, ManualHold>& holds, Date now);
    /// As above, reusing what the resolution that left `memo` found for every run of rules it
    /// shares with `profile`, when the context and capabilities are the same; leaves its own
    /// findings in `memo` for the next. The plan is the same whatever `memo` held, and a profile
    /// differing from the last by a rule costs about the evaluation of that rule's run.
    [[nodiscard]] static ResolvedPlan resolve(const Profile& profile,
        const DefaultSettings& defaultSettings, const RuntimeContext& context,
        const std::map<ControlKey, ControlCapability>& capabilities,
        const std::map<ControlKey, ManualHold>& holds, Date now, ResolutionMemo& memo);
    /// The plan as if `standIn` took the place of the first rule of `profile` with its id, as
    /// when previewing an edit of that rule; `profile` alone when no rule has the id. Spares
    /// copying a profile of many rules to change one.
    [[nodiscard]] static ResolvedPlan resolvePreview(const Profile& profile, const Rule& standIn,
        const DefaultSettings& defaultSettings, const RuntimeContext& context,
        const std::map<ControlKey, ControlCapability>& capabilities,
        const std::map<ControlKey, ManualHold>& holds, Date now);
};

} // namespace quorvane
