#include "QuorvaneCore/RuleResolver.h"

#include <algorithm>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace quorvane {

namespace {

bool isFrontmost(const std::vector<ApplicationReference>& apps, const RuntimeContext& context)
{
    return context.appBundleID && std::ranges::any_of(apps, [&](const ApplicationReference& app) {
        return app.id == *context.appBundleID;
    });
}

/// A Space owned by another display counts only when it is shared.
bool showsSpace(const DisplayContext& display, const Desktop& space)
{
    return display.activeSpaceID == space.id
        && (space.isShared || !space.displayID || *space.displayID == display.id);
}

/// One resolution in progress: the inputs it reads and the plan it fills.
class Resolution final {
public:
    Resolution(
        const RuntimeContext& context, const std::map<ControlKey, ControlCapability>& capabilities)
        : m_context(context)
        , m_capabilities(capabilities)
    {
        for (const DisplayContext& display : context.displays)
            m_connected.insert(display.id);
    }

    void takeHolds(const std::map<ControlKey, ManualHold>& holds, Date now)
    {
        // A hold that has ended or cannot be applied leaves no trace.
        for (const auto& [key, hold] : holds) {
            if (hold.isActive(now) && !rejection(key, hold.value))
                m_plan.assignments.insert_or_assign(
                    key, ResolvedAssignment{hold.value, ResolutionSource::manual(hold.isExternal)});
        }
    }

    void evaluateRules(const std::vector<Rule>& rules)
    {
        // A later rule with the same id replaces the earlier evaluation, not its claims.
        for (const Rule& rule : rules)
            m_plan.rules.insert_or_assign(rule.id, evaluation(rule));
    }

    void fillDefaults(const DefaultSettings& defaultSettings)
    {
        for (const auto& entry : m_capabilities) {
            const ControlKey& key = entry.first;
            if (m_plan.assignments.contains(key))
                continue;
            const std::optional<SettingValue> value = defaultSettings.value(key);
            if (!value)
                continue;
            if (std::optional<std::string> reason = rejection(key, *value))
                m_plan.unavailable.insert_or_assign(key, std::move(*reason));
            else
                assignIfUnclaimed(key, {*value, ResolutionSource::profileDefault()});
        }
    }

    [[nodiscard]] ResolvedPlan plan() && { return std::move(m_plan); }

private:
    /// Absent when `value` can be applied to the control.
    [[nodiscard]] std::optional<std::string> rejection(
        const ControlKey& key, const SettingValue& value) const
    {
        if (!m_connected.contains(key.target.id()))
            return "Device unavailable";
        const auto capability = m_capabilities.find(key);
        if (capability == m_capabilities.end())
            return "Control unavailable";
        return capability->second.rejection(value, key.setting);
    }

    /// Narrows the displays by the rule's conditions (application, then screen, then Space) and
    /// lets the rule claim on those left. A condition that rules every display out ends the
    /// evaluation without a claim.
    [[nodiscard]] RuleEvaluation evaluation(const Rule& rule)
    {
        if (!rule.isEnabled)
            return {.reasons = {"Disabled"}};

        const RuleConditions& conditions = rule.conditions;
        std::vector<DisplayContext> candidates = m_context.displays;
        if (conditions.hasAppCondition()) {
            if (!isFrontmost(conditions.apps, m_context))
                return {};
            std::erase_if(candidates, [&](const DisplayContext& display) {
                return display.id != m_context.focusedDisplayID;
            });
            if (candidates.empty() && (conditions.screen || conditions.space))
                return {.needsFocusedWindow = true,
                    .reasons = {"Focused window unavailable · check window access"}};
        }
        if (conditions.screen) {
            const std::string& screenID = conditions.screen->id;
            std::erase_if(
                candidates, [&](const DisplayContext& display) { return display.id != screenID; });
            // A connected screen that is not a candidate (not the focused one) is no fault.
            if (candidates.empty())
                return m_connected.contains(screenID)
                    ? RuleEvaluation{}
                    : RuleEvaluation{.reasons = {"Screen disconnected"}};
        }
        if (conditions.space) {
            std::erase_if(candidates, [&](const DisplayContext& display) {
                return !showsSpace(display, *conditions.space);
            });
            if (candidates.empty())
                return {.reasons = {"Space not active or unavailable"}};
        }

        // Without a candidate here, either no display is connected or the rule follows the focused
        // window, whose screen is unknown; only the latter waits for the focused window.
        const bool awaitsFocusedWindow = conditions.hasAppCondition() && candidates.empty();
        RuleEvaluation result = claim(rule, candidates,
            awaitsFocusedWindow ? "focused screen unavailable · allow window access"
                                : "no connected screens");
        result.needsFocusedWindow = awaitsFocusedWindow && !rule.settings.isEmpty();
        return result;
    }

    /// Assigns each value the rule sets, key by key and within a key display by display, to every
    /// candidate not claimed yet. A refused value becomes a reason even on a control already
    /// claimed; an accepted one on a claimed control is left unrecorded.
    [[nodiscard]] RuleEvaluation claim(const Rule& rule,
        const std::vector<DisplayContext>& candidates, std::string_view reasonWithoutCandidates)
    {
        RuleEvaluation result{.matches = true};
        const ResolutionSource source = ResolutionSource::rule(rule.id, rule.name);
        for (const SettingKey setting : allSettingKeys) {
            const std::optional<SettingValue> value = rule.settings.value(setting);
            if (!value)
                continue;
            const std::string prefix = std::string(title(setting)) + ": ";
            if (candidates.empty())
                result.reasons.push_back(prefix + std::string(reasonWithoutCandidates));
            for (const DisplayContext& display : candidates) {
                const ControlKey key{ControlTarget::display(display.id), setting};
                if (std::optional<std::string> reason = rejection(key, *value)) {
                    result.reasons.push_back(prefix + *reason);
                    m_plan.unavailable.insert_or_assign(key, std::move(*reason));
                } else if (assignIfUnclaimed(key, {*value, source})) {
                    result.contributions.push_back(key);
                }
            }
        }
        return result;
    }

    /// Clears the control's reason; false, changing nothing, when the control is claimed already.
    bool assignIfUnclaimed(const ControlKey& key, ResolvedAssignment assignment)
    {
        if (!m_plan.assignments.try_emplace(key, std::move(assignment)).second)
            return false;
        m_plan.unavailable.erase(key);
        return true;
    }

    const RuntimeContext& m_context;
    const std::map<ControlKey, ControlCapability>& m_capabilities;
    std::set<std::string> m_connected;
    ResolvedPlan m_plan;
};

} // namespace

ResolvedPlan RuleResolver::resolve(const Profile& profile, const DefaultSettings& defaultSettings,
    const RuntimeContext& context, const std::map<ControlKey, ControlCapability>& capabilities,
    const std::map<ControlKey, ManualHold>& holds, Date now)
{
    // Suspended automation decides nothing, not even the holds.
    if (context.suspended)
        return {};
    Resolution resolution(context, capabilities);
    resolution.takeHolds(holds, now);
    resolution.evaluateRules(profile.rules);
    resolution.fillDefaults(defaultSettings);
    return std::move(resolution).plan();
}

} // namespace quorvane
