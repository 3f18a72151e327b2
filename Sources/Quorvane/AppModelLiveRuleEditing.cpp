// Live preview of a saved rule while it is edited, and putting back what the preview wrote when
// the edit ends without being saved.
#include "Quorvane/AppModel.h"

#include "Concurrency/Cancellation.h"
#include "Concurrency/Executor.h"
#include "Foundation/Error.h"
#include "QuorvaneCore/RuleResolver.h"

#include <algorithm>
#include <utility>

namespace quorvane {
namespace {

constexpr double unchangedTolerance = 1e-6;
/// A read-back this close to a value the preview asked for still shows the preview.
constexpr double requestedTolerance = 0.015;

bool hasRule(const Profile& profile, const UUID& ruleID)
{
    return std::ranges::find(profile.rules, ruleID, &Rule::id) != profile.rules.end();
}

bool hasActiveHold(const AppModel& model, const ControlKey& key, Date now)
{
    const auto hold = model.holds->find(key);
    return hold != model.holds->end() && hold->second.isActive(now);
}

std::optional<SettingValue> assignedValue(const ResolvedPlan& plan, const ControlKey& key)
{
    const auto assignment = plan.assignments.find(key);
    if (assignment == plan.assignments.end())
        return std::nullopt;
    return assignment->second.value;
}

bool isCurrentRestoration(const AppModel& model, const ControlKey& key, const UUID& restoreID)
{
    const auto current = model.ruleEditRestoreIDs->find(key);
    return current != model.ruleEditRestoreIDs->end() && current->second == restoreID;
}

/// Sleep or a session change stop restorations; quitting restores even while suspended, unless
/// the context itself was suspended.
bool restorationMustWait(const AppModel& model, const ControlKey& key, Date now)
{
    const bool suspended
        = model.isSuspended.get() && !(model.isQuitting.get() && !model.context->suspended);
    return suspended || model.modeBusy->contains(key.target.id()) || hasActiveHold(model, key, now);
}

bool isConnected(const AppModel& model, const ControlKey& key)
{
    return std::ranges::any_of(model.context->displays,
        [&](const DisplayContext& display) { return display.id == key.target.id(); });
}

void setStatus(AppModel& model, const ControlKey& key, std::string text)
{
    model.controlStatus.modify(
        [&](std::map<ControlKey, std::string>& statuses) { statuses[key] = std::move(text); });
}

} // namespace

void AppModel::previewRuleSettings(const RuleDraft& draft)
{
    if (!isLoaded.get() || settingsError.get() || draft.isNew || !draft.rule.settings.isValid())
        return;
    const CopyOnWriteVector<Profile>& profiles = configuration->profiles;
    const auto profile = std::ranges::find(profiles, draft.profileID, &Profile::id);
    if (profile == profiles.end() || !hasRule(*profile, draft.rule.id))
        return;
    if (liveRuleEdit.get()
        && (liveRuleEdit.get()->profileID != draft.profileID
            || liveRuleEdit.get()->ruleID != draft.rule.id))
        endRuleEditing(false);
    if (liveRuleEdit.get()) {
        liveRuleEdit.modify(
            [&](std::optional<LiveRuleEdit>& edit) { edit->settings = draft.rule.settings; });
    } else {
        liveRuleEdit.set(LiveRuleEdit{.id = UUID::random(),
            .profileID = draft.profileID,
            .ruleID = draft.rule.id,
            .settings = draft.rule.settings});
    }
    // Values that failed before are tried again with the new settings.
    failed.set({});
    resolveAndApply(false);
}

ResolvedPlan AppModel::resolveRuleEditing(ResolvedPlan saved)
{
    liveRuleKeys.set({});
    if (!liveRuleEdit.get() || liveRuleEdit.get()->profileID != configuration->activeProfileID)
        return saved;
    const LiveRuleEdit& edit = *liveRuleEdit.get();
    const Profile& profile = configuration->activeProfile();
    const auto rule = std::ranges::find(profile.rules, edit.ruleID, &Rule::id);
    if (rule == profile.rules.end())
        return saved;
    // Display modes are never previewed: the saved HDR and refresh rate stay.
    Rule standIn = *rule;
    for (const SettingKey setting : allSettingKeys) {
        if (!isMode(setting))
            standIn.settings.setValue(edit.settings.value(setting), setting);
    }
    const Date time = m_executor.wallNow();
    ResolvedPlan live
        = RuleResolver::resolvePreview(profile, standIn, configuration->defaultSettings(),
            context.get(), capabilities(pendingResolutions.get()), holds.get(), time);

    std::set<ControlKey> keys;
    for (const auto& entry : saved.assignments)
        keys.insert(entry.first);
    for (const auto& entry : live.assignments)
        keys.insert(entry.first);
    for (const auto& entry : edit.originals)
        keys.insert(entry.first);

    // The live plan becomes the result in place: a key is added only where it had none, so each
    // key still reads as resolved when its turn comes.
    std::set<ControlKey> previewed;
    for (const ControlKey& key : keys) {
        if (isMode(key.setting) || hasActiveHold(*this, key, time))
            continue;
        const auto original = edit.originals.find(key);
        const bool hasOriginal = original != edit.originals.end();
        if (assignedValue(live, key) == assignedValue(saved, key) && !hasOriginal)
            continue;
        previewed.insert(key);
        if (live.assignments.contains(key) || !hasOriginal)
            continue;
        // A setting taken out of the rule with nothing else deciding the control: the value it
        // had before the preview stands in, where the control still accepts it.
        const auto capability = hardwareSnapshot->capabilities.find(key);
        if (capability != hardwareSnapshot->capabilities.end()
            && capability->second.rejection(original->second, key.setting))
            continue;
        if (!isConnected(*this, key))
            continue;
        live.assignments.insert_or_assign(key,
            ResolvedAssignment{
                .value = original->second, .source = ResolutionSource::profileDefault()});
    }
    liveRuleKeys.set(std::move(previewed));
    return live;
}

void AppModel::endRuleEditing(bool keepChanges)
{
    if (!liveRuleEdit.get())
        return;
    const LiveRuleEdit preview = *liveRuleEdit.get();
    liveRuleEdit.set(std::nullopt);
    liveRuleKeys.set({});
    for (const TaskHandle& command : preview.commands)
        command.cancel();
    for (const auto& entry : preview.requested) {
        cancelCommand(entry.first);
        failed.modify(
            [&](std::map<ControlKey, SettingValue>& values) { values.erase(entry.first); });
    }
    if (keepChanges) {
        resolveAndApply(false);
        return;
    }
    for (const auto& [restoredKey, original] : preview.originals) {
        const ControlKey& key = restoredKey; // lambdas cannot capture a structured binding
        const UUID restoreID = UUID::random();
        ruleEditRestoreIDs.modify([&](std::map<ControlKey, UUID>& ids) { ids[key] = restoreID; });
        const TaskHandle task = spawn(m_executor,
            restoreRuleEditControl(
                weak_from_this(), preview, key, restoreID, sharedControlBackend(), original));
        ruleEditRestorations.modify(
            [&](std::map<ControlKey, TaskHandle>& tasks) { tasks.insert_or_assign(key, task); });
    }
    resolveAndApply(false);
}

void AppModel::cancelRuleEditRestoration(ControlKey key)
{
    if (const auto task = ruleEditRestorations->find(key); task != ruleEditRestorations->end())
        task->second.cancel();
    ruleEditRestorations.modify([&](std::map<ControlKey, TaskHandle>& tasks) { tasks.erase(key); });
    ruleEditRestoreIDs.modify([&](std::map<ControlKey, UUID>& ids) { ids.erase(key); });
}

Task<void> AppModel::restoreRuleEditControl(std::weak_ptr<AppModel> weakModel, LiveRuleEdit preview,
    ControlKey key, UUID restoreID, std::shared_ptr<ControlBackend> backend, SettingValue original)
{
    for (const TaskHandle& command : preview.commands)
        co_await command;
    // Kept from here on: the backend and the driver may belong to the model.
    const std::shared_ptr<AppModel> model = weakModel.lock();
    if (!model || isCancelled() || !isCurrentRestoration(*model, key, restoreID))
        co_return;
    const auto isStale = [&] {
        return isCancelled() || !isCurrentRestoration(*model, key, restoreID)
            || restorationMustWait(*model, key, model->m_executor.wallNow());
    };

    try {
        if (!restorationMustWait(*model, key, model->m_executor.wallNow())) {
            const SettingValue current = co_await backend->read(key);
            if (!isStale()) {
                const std::vector<SettingValue> requested = preview.requested[key];
                const bool showsPreview
                    = std::ranges::any_of(requested, [&](const SettingValue& value) {
                          return current.approximatelyEquals(value, requestedTolerance);
                      });
                if (current.approximatelyEquals(original, unchangedTolerance)) {
                    model->observe(current, key, false, false);
                    setStatus(*model, key, "Previous setting unchanged");
                } else if (showsPreview) {
                    const ControlApplyReport report
                        = co_await model->m_driver->apply(original, key, false, *backend);
                    if (!isCancelled() && isCurrentRestoration(*model, key, restoreID)) {
                        model->recordApplication(report, key);
                        setStatus(*model, key,
                            report.verified() ? "Previous setting restored"
                                              : "Restoration readback did not match");
                    }
                } else {
                    // Someone else changed the control during the preview: theirs stays.
                    model->observe(current, key, true, true);
                }
            }
        }
    } catch (const CancellationError&) {
    } catch (const Error& error) {
        if (isCurrentRestoration(*model, key, restoreID))
            setStatus(*model, key, error.what());
    }

    if (!isCurrentRestoration(*model, key, restoreID))
        co_return;
    model->ruleEditRestorations.modify(
        [&](std::map<ControlKey, TaskHandle>& tasks) { tasks.erase(key); });
    model->ruleEditRestoreIDs.modify([&](std::map<ControlKey, UUID>& ids) { ids.erase(key); });
    model->resolveAndApply(false);
}

} // namespace quorvane
