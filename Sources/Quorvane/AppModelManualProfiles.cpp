#include "Quorvane/AppModel.h"
#include "Quorvane/KeepingAlive.h"

#include "Concurrency/Executor.h"
#include "Foundation/Text.h"
#include "QuorvaneCore/RuleResolver.h"

#include <algorithm>
#include <utility>

namespace quorvane {
namespace {

constexpr std::string_view savingProfile = "Saving profile…";

[[noreturn]] void refuse(std::string_view message)
{
    throw ConfigurationError(ConfigurationError::Invalid{std::string(message)});
}

/// Keeps isSavingManualProfile set for as long as one save runs, whichever way it ends.
class SavingManualProfile final {
public:
    explicit SavingManualProfile(Observable<bool>& flag)
        : m_flag(flag)
    {
        m_flag.set(true);
    }
    ~SavingManualProfile() { m_flag.set(false); }
    SavingManualProfile(const SavingManualProfile&) = delete;
    SavingManualProfile& operator=(const SavingManualProfile&) = delete;

private:
    Observable<bool>& m_flag;
};

Profile& activeProfileOf(Configuration& document)
{
    const auto active = std::ranges::find_if(document.profiles,
        [&](const Profile& profile) { return profile.id == document.activeProfileID; });
    return document.profiles.edit(
        active != document.profiles.end() ? active : document.profiles.begin());
}

/// Where one captured value goes: the conditions of the rule that should hold it, the name of a
/// new such rule, and the rule it must stay above.
struct Placement {
    RuleConditions conditions;
    std::string name;
    std::optional<UUID> anchor;
};

Placement placementFor(const DisplayDevice& display,
    const std::optional<ResolvedAssignment>& decided, const Profile& activeProfile)
{
    Placement placement{
        .conditions = RuleConditions{.screen = display.reference()},
        .name = "Saved adjustments · " + display.name,
        .anchor = std::nullopt,
    };
    if (!decided)
        return placement;
    const auto* source = std::get_if<ResolutionSource::RuleCase>(&decided->source.value);
    if (!source)
        return placement;
    const auto rule = std::ranges::find_if(
        activeProfile.rules, [&](const Rule& candidate) { return candidate.id == source->id; });
    if (rule == activeProfile.rules.end())
        return placement;
    placement.conditions = rule->conditions;
    placement.conditions.screen = display.reference();
    placement.name = rule->name + " · " + display.name;
    placement.anchor = rule->id;
    return placement;
}

/// Sets the value in the first enabled rule with the same conditions at or above the anchor,
/// or in a new rule right above the anchor (at the top without one).
void place(
    RuleList& rules, const Placement& placement, const SettingValue& value, SettingKey setting)
{
    const auto anchor = std::ranges::find_if(
        rules, [&](const Rule& rule) { return placement.anchor && rule.id == *placement.anchor; });
    const auto insertion = anchor == rules.end() ? rules.begin() : anchor;
    const auto searchEnd = insertion == rules.end() ? rules.end() : std::next(insertion);
    const auto existing = std::find_if(rules.begin(), searchEnd, [&](const Rule& rule) {
        return rule.isEnabled && rule.conditions == placement.conditions;
    });
    if (existing != searchEnd) {
        rules.edit(existing).settings.setValue(value, setting);
        return;
    }
    Rule rule{.id = UUID::random(),
        .name = placement.name,
        .isEnabled = true,
        .conditions = placement.conditions};
    rule.settings.setValue(value, setting);
    rules.insert(insertion, std::move(rule));
}

std::set<ControlKey> keysOf(const std::map<ControlKey, SettingValue>& values)
{
    std::set<ControlKey> keys;
    for (const auto& entry : values)
        keys.insert(entry.first);
    return keys;
}

} // namespace

void AppModel::placeCapturedValues(
    Configuration& copy, const std::map<ControlKey, SettingValue>& values) const
{
    const Profile& activeProfile = configuration->activeProfile();
    // Which rule decides each control once no hold is in force.
    const ResolvedPlan plan = RuleResolver::resolve(activeProfile, configuration->defaultSettings(),
        context.get(), hardwareSnapshot->capabilities, {}, m_executor.wallNow());
    RuleList& rules = activeProfileOf(copy).rules;
    for (const DisplayDevice& display : displays.get()) {
        for (const SettingKey setting : allSettingKeys) {
            const ControlKey key{.target = ControlTarget::display(display.id), .setting = setting};
            const auto value = values.find(key);
            if (value == values.end())
                continue;
            std::optional<ResolvedAssignment> decided;
            if (const auto found = plan.assignments.find(key); found != plan.assignments.end())
                decided = found->second;
            place(rules, placementFor(display, decided, activeProfile), value->second, setting);
        }
    }
}

Task<void> AppModel::updateActiveProfileFromManualSettings()
{
    return keepingAlive(shared_from_this(), updateActiveProfile());
}

Task<void> AppModel::updateActiveProfile()
{
    if (isSavingManualProfile.get())
        refuse(savingProfile);
    if (const auto reason = profileCaptureUnavailableReason())
        refuse(*reason);
    const SavingManualProfile saving(isSavingManualProfile);

    const CurrentProfileState captured = co_await captureState(true);
    Configuration copy = configuration.get();
    if (copy.activeProfileID == copy.defaultProfileID) {
        DefaultSettings defaults = copy.defaultSettings();
        for (const auto& [key, value] : captured.values)
            defaults.setExplicit(value, key);
        copy.setDefaultSettings(std::move(defaults));
    } else {
        placeCapturedValues(copy, captured.values);
    }
    validateCapturedModes(copy, keysOf(captured.values));
    copy.validate();

    configuration.set(copy);
    persist();
    if (const std::optional<TaskHandle> save = saveTask.get())
        co_await *save;
    if (const auto error = settingsError.get())
        refuse(*error);
    if (configuration->activeProfileID != copy.activeProfileID)
        co_return;
    // A hold changed or made while the file was written stays.
    holds.modify([&](std::map<ControlKey, ManualHold>& current) {
        for (const auto& [key, hold] : captured.holds) {
            if (const auto found = current.find(key);
                found != current.end() && found->second == hold)
                current.erase(found);
        }
    });
    resolveAndApply(false);
}

Task<UUID> AppModel::saveCurrentStateAsProfile(std::string name)
{
    return keepingAlive(shared_from_this(), saveStateAsProfile(std::move(name)));
}

Task<UUID> AppModel::saveStateAsProfile(std::string name)
{
    const std::string trimmedName(trimmed(name));
    if (trimmedName.empty())
        refuse("Enter a profile name.");
    if (asciiLowercased(trimmedName) == "default")
        refuse("Default is reserved for the permanent fallback profile.");
    if (isSavingManualProfile.get())
        refuse(savingProfile);
    if (const auto reason = profileCaptureUnavailableReason())
        refuse(*reason);
    const SavingManualProfile saving(isSavingManualProfile);

    const CurrentProfileState captured = co_await captureState(false);
    Profile profile{.id = UUID::random(),
        .name = trimmedName,
        .displayPreferences = captured.displayPreferences};
    for (const DisplayDevice& display : displays.get()) {
        RuleSettings settings;
        for (const SettingKey setting : allSettingKeys) {
            const ControlKey key{.target = ControlTarget::display(display.id), .setting = setting};
            if (const auto value = captured.values.find(key); value != captured.values.end())
                settings.setValue(value->second, setting);
        }
        if (settings.isEmpty())
            continue;
        profile.rules.push_back({.id = UUID::random(),
            .name = display.name,
            .isEnabled = true,
            .conditions = RuleConditions{.screen = display.reference()},
            .settings = settings});
    }
    if (profile.rules.empty())
        refuse("No readable display settings are available to save.");

    Configuration copy = configuration.get();
    copy.profiles.push_back(profile);
    copy.validate();
    configuration.set(std::move(copy));
    persist();
    if (const std::optional<TaskHandle> save = saveTask.get())
        co_await *save;
    if (const auto error = settingsError.get())
        refuse(*error);
    co_return profile.id;
}

} // namespace quorvane
