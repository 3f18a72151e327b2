#include "Quorvane/AppModel.h"
#include "Quorvane/MapKeys.h"

#include "Concurrency/Executor.h"
#include "QuorvaneCore/RuleResolver.h"

#include <algorithm>
#include <utility>
#include <vector>

namespace quorvane {
namespace {

constexpr double alreadyThereTolerance = 1e-6;

template <typename Key, typename Value>
const Value* find(const std::map<Key, Value>& map, const Key& key)
{
    const auto found = map.find(key);
    return found == map.end() ? nullptr : &found->second;
}

/// Exact equality where two absent values are equal and one absent value differs.
bool sameValue(const SettingValue* first, const SettingValue* second)
{
    if (!first || !second)
        return first == second;
    return *first == *second;
}

/// Only the user's own hold writes as a manual command; a hold found outside is automatic.
bool isUserHold(const ResolutionSource& source)
{
    const auto* manual = std::get_if<ResolutionSource::Manual>(&source.value);
    return manual && !manual->isExternal;
}

} // namespace

void AppModel::resolveAndApply(bool recheck)
{
    endUnofferedHolds();
    updateResolution();

    if (!canApplyAutomatically()) {
        cancelAutomaticCommands();
        return;
    }
    if (m_scheduler.isWaiting())
        return;
    if (recheck) {
        pendingControlRecheck.set(true);
        invalidateSystemDisplayRequest();
    }
    if (applySystemDisplayPreferencesIfNeeded())
        return;
    const bool rewrite = recheck || pendingControlRecheck.get();
    pendingControlRecheck.set(false);

    for (const ControlKey& key : keysOf(tasks.get())) {
        const auto* assignment = find(resolution->assignments, key);
        if (!sameValue(assignment ? &assignment->value : nullptr, find(applying.get(), key)))
            cancelCommand(key);
    }
    // The plan as it stands now; the loop changes the per-key maps, never the plan.
    const std::map<ControlKey, ResolvedAssignment> assignments = resolution->assignments;
    for (const auto& [key, assignment] : assignments) {
        if (mayStartWrite(key, assignment.value, rewrite))
            scheduleApply(assignment.value, key, isUserHold(assignment.source));
    }
    scheduleModes();
}

std::optional<AppModel::ResolutionInputs> AppModel::resolutionInputs() const
{
    if (liveRuleEdit.get())
        return std::nullopt;
    ResolutionInputs inputs{.configurationRevision = m_configurationRevision,
        .context = context.get(),
        .capabilities = capabilities(pendingResolutions.get()),
        .holds = holds.get(),
        .activeHolds = {},
        .manualRecoveries = manualRecoveries.get(),
        .hardwareCapabilities = hardwareSnapshot->capabilities,
        .automaticBrightnessDisplays = {}};
    const Date now = m_executor.wallNow();
    for (const auto& entry : inputs.holds)
        inputs.activeHolds.push_back(entry.second.isActive(now));
    // Only these controls can be assigned: the capable ones and the recovering ones.
    const auto noteAutomaticBrightness = [&](const ControlKey& key) {
        if (key.setting == SettingKey::brightness && automaticBrightnessOwns(key.target.id()))
            inputs.automaticBrightnessDisplays.insert(key.target.id());
    };
    for (const auto& entry : inputs.capabilities)
        noteAutomaticBrightness(entry.first);
    for (const auto& entry : inputs.manualRecoveries)
        noteAutomaticBrightness(entry.first);
    return inputs;
}

void AppModel::updateResolution()
{
    // The steps below change nothing they read but the recoveries they use up, so inputs equal
    // to those after the last pass give that pass's plan again.
    std::optional<ResolutionInputs> inputs = resolutionInputs();
    if (inputs && inputs == m_resolvedFrom)
        return;
    // The plan is finished here and published once: with thousands of rules, each copy of it or
    // each extra notification would cost more than resolving. The memo lets a pass after a
    // change of one rule evaluate little more than that rule.
    const Configuration& document = configuration.get();
    ResolvedPlan plan = resolveRuleEditing(RuleResolver::resolve(document.activeProfile(),
        document.defaultSettings(), context.get(), capabilities(pendingResolutions.get()),
        holds.get(), m_executor.wallNow(), m_resolutionMemo));
    applyManualRecoveries(plan);
    respectAutomaticBrightness(plan);
    // Kept even when equal: its evaluations are the memo's, which the next plan shares.
    resolution.replace(std::move(plan));
    m_resolvedFrom = resolutionInputs();
}

void AppModel::applyManualRecoveries(ResolvedPlan& plan)
{
    const std::map<ControlKey, SettingValue> recoveries = manualRecoveries.get();
    for (const auto& recovery : recoveries) {
        // Named copies: clang 14 lambdas cannot capture structured bindings.
        const ControlKey& key = recovery.first;
        const SettingValue& value = recovery.second;
        if (plan.assignments.contains(key)) {
            manualRecoveries.modify([&](auto& map) { map.erase(key); });
            continue;
        }
        const bool connected = std::ranges::any_of(context->displays,
            [&](const DisplayContext& display) { return display.id == key.target.id(); });
        if (!connected)
            continue;
        if (const auto* capability = find(hardwareSnapshot->capabilities, key);
            capability && capability->rejection(value, key.setting))
            continue;
        plan.assignments.insert_or_assign(
            key, ResolvedAssignment{.value = value, .source = ResolutionSource::manualRecovery()});
    }
}

bool AppModel::mayStartWrite(const ControlKey& key, const SettingValue& value, bool rewrite)
{
    if (isMode(key.setting) || modeBusy->contains(key.target.id())
        || ruleEditRestorations->contains(key))
        return false;
    if (keyReadTask.get() && builtinBrightnessKey() == key)
        return false;
    if (const auto* current = find(applying.get(), key); current && *current == value)
        return false;
    if (const auto* failure = find(failed.get(), key); failure && *failure == value)
        return false;
    if (rewrite)
        return true;
    const auto* seen = find(observed.get(), key);
    if (seen && seen->approximatelyEquals(value, alreadyThereTolerance)) {
        manualRecoveries.modify([&](auto& map) { map.erase(key); });
        return false;
    }
    // A display that settles a little off the request is not rewritten while it still shows what
    // it showed after the last confirmed write of this value.
    const auto* confirmed = find(confirmedApplications.get(), key);
    return !(seen && confirmed && confirmed->requested == value
        && confirmed->observed.approximatelyEquals(*seen, alreadyThereTolerance));
}

void AppModel::cancelAutomaticCommands()
{
    const Date now = m_executor.wallNow();
    for (const ControlKey& key : keysOf(tasks.get())) {
        const auto* hold = find(holds.get(), key);
        if (!hold || !hold->isActive(now))
            cancelCommand(key);
    }
    cancelModeCommands(false);
}

} // namespace quorvane
