#include "QuorvaneCore/Rules.h"

#include "Foundation/Format.h"
#include "Foundation/Text.h"
#include "QuorvaneCore/ResolvedPlan.h"

#include <algorithm>

namespace quorvane {
namespace {

template <typename Case> const Case* payload(const std::optional<SettingValue>& value)
{
    return value ? std::get_if<Case>(&value->value) : nullptr;
}

/// Sets `field` from a value of the case `Case`; absent clears it, any other case is ignored.
template <typename Case, typename Field>
void assign(std::optional<Field>& field, const std::optional<SettingValue>& value)
{
    if (!value)
        field.reset();
    else if (const auto* matching = payload<Case>(value))
        field = matching->value;
}

template <typename Field, typename Make>
std::optional<SettingValue> valueOf(const std::optional<Field>& field, Make make)
{
    if (!field)
        return std::nullopt;
    return make(*field);
}

std::vector<std::string> appNames(const std::vector<ApplicationReference>& apps, std::size_t count)
{
    std::vector<std::string> names;
    for (std::size_t index = 0; index < count; ++index)
        names.push_back(apps[index].name);
    return names;
}

bool hasDuplicateIDs(const std::vector<ApplicationReference>& apps)
{
    std::set<std::string_view> ids;
    return !std::ranges::all_of(
        apps, [&ids](const ApplicationReference& app) { return ids.insert(app.id).second; });
}

/// The label from its application part on: the screen's and the Space's names follow.
std::string conditionsLabel(const RuleConditions& conditions, std::optional<std::string> appPart)
{
    if (conditions.isEmpty())
        return "All apps · all screens · all Spaces";
    std::vector<std::string> parts;
    if (appPart)
        parts.push_back(std::move(*appPart));
    if (conditions.screen)
        parts.push_back(conditions.screen->name);
    if (conditions.space)
        parts.push_back(conditions.space->name);
    return joined(parts, " + ");
}

/// The capture rule: a value is taken only when the control reported it and accepts it.
std::optional<SettingValue> acceptedObservation(const ControlKey& key,
    const std::map<ControlKey, SettingValue>& observed,
    const std::map<ControlKey, ControlCapability>& capabilities)
{
    const auto value = observed.find(key);
    const auto capability = capabilities.find(key);
    if (value == observed.end() || capability == capabilities.end())
        return std::nullopt;
    if (capability->second.rejection(value->second, key.setting))
        return std::nullopt;
    return value->second;
}

} // namespace

bool RuleSettings::isEmpty() const
{
    return std::ranges::none_of(
        allSettingKeys, [this](SettingKey key) { return value(key).has_value(); });
}

bool RuleSettings::isValid() const
{
    return std::ranges::all_of(allSettingKeys, [this](SettingKey key) {
        const auto present = value(key);
        return !present || present->isValid(key);
    });
}

std::optional<SettingValue> RuleSettings::value(SettingKey key) const
{
    switch (key) {
    case SettingKey::brightness:
        return valueOf(brightness, [](double fraction) { return SettingValue::percent(fraction); });
    case SettingKey::hdr:
        return valueOf(hdr, [](bool isOn) { return SettingValue::toggle(isOn); });
    case SettingKey::temperature:
        return valueOf(temperature, SettingValue::temperature);
    case SettingKey::refreshRate:
        return valueOf(refreshRate, SettingValue::refresh);
    case SettingKey::contrast:
        return valueOf(contrast, [](double fraction) { return SettingValue::percent(fraction); });
    }
    return std::nullopt;
}

void RuleSettings::setValue(const std::optional<SettingValue>& value, SettingKey key)
{
    switch (key) {
    case SettingKey::brightness:
        return assign<SettingValue::Percent>(brightness, value);
    case SettingKey::hdr:
        return assign<SettingValue::Toggle>(hdr, value);
    case SettingKey::temperature:
        return assign<SettingValue::TemperatureCase>(temperature, value);
    case SettingKey::refreshRate:
        return assign<SettingValue::Refresh>(refreshRate, value);
    case SettingKey::contrast:
        return assign<SettingValue::Percent>(contrast, value);
    }
}

RuleConditions RuleConditions::forApplication(std::optional<std::string> appBundleID,
    std::optional<std::string> appName, std::optional<DisplayReference> screen,
    std::optional<Desktop> space)
{
    RuleConditions conditions{.screen = std::move(screen), .space = std::move(space)};
    if (appBundleID) {
        std::string name = appName ? std::move(*appName) : *appBundleID;
        conditions.apps.push_back({.id = std::move(*appBundleID), .name = std::move(name)});
    }
    return conditions;
}

bool RuleConditions::hasAppCondition() const { return !apps.empty(); }

bool RuleConditions::hasValidApps() const
{
    if (hasDuplicateIDs(apps))
        return false;
    return std::ranges::none_of(
        apps, [](const ApplicationReference& app) { return isBlank(app.id) || isBlank(app.name); });
}

bool RuleConditions::isEmpty() const { return apps.empty() && !screen && !space; }

std::optional<std::string> RuleConditions::appLabel() const
{
    if (apps.empty())
        return std::nullopt;
    return joined(appNames(apps, apps.size()), " or ");
}

std::string RuleConditions::label() const { return conditionsLabel(*this, appLabel()); }

std::string RuleConditions::compactLabel() const
{
    constexpr std::size_t namedApps = 2;
    if (apps.size() <= namedApps)
        return label();
    const std::string appPart
        = joined(appNames(apps, namedApps), ", ") + " +" + formatUnsigned(apps.size() - namedApps);
    return conditionsLabel(*this, appPart);
}

bool DefaultSettings::isValid() const
{
    const bool hasValidDisplays = std::ranges::all_of(
        displays, [](const auto& entry) { return !entry.first.empty() && entry.second.isValid(); });
    return hasValidDisplays
        && std::ranges::none_of(
            initializedDisplayIDs, [](const std::string& id) { return id.empty(); });
}

std::optional<SettingValue> DefaultSettings::value(const ControlKey& key) const
{
    const auto entry = displays.find(key.target.id());
    if (entry == displays.end())
        return std::nullopt;
    return entry->second.value(key.setting);
}

void DefaultSettings::setValue(const std::optional<SettingValue>& value, const ControlKey& key)
{
    displays[key.target.id()].setValue(value, key.setting);
}

void DefaultSettings::setExplicit(const std::optional<SettingValue>& value, const ControlKey& key)
{
    setValue(value, key);
    initializedDisplayIDs.insert(key.target.id());
}

bool DefaultSettings::capture(const std::vector<std::string>& displayIDs,
    const std::map<ControlKey, SettingValue>& observed,
    const std::map<ControlKey, ControlCapability>& capabilities)
{
    bool didCapture = false;
    for (const std::string& displayID : displayIDs) {
        if (initializedDisplayIDs.contains(displayID))
            continue;
        RuleSettings& settings = displays[displayID];
        for (const SettingKey setting : allSettingKeys) {
            if (settings.value(setting))
                continue; // Fields already present are never overwritten.
            const ControlKey key{.target = ControlTarget::display(displayID), .setting = setting};
            if (const auto accepted = acceptedObservation(key, observed, capabilities))
                settings.setValue(accepted, setting);
        }
        initializedDisplayIDs.insert(displayID);
        didCapture = true;
    }
    return didCapture;
}

Profile Profile::duplicated() const
{
    Profile copy = *this;
    copy.id = UUID::random();
    copy.name += " copy";
    copy.defaultSettings.reset();
    copy.capturedDisplayPreferences.reset();
    for (std::size_t index = 0; index < copy.rules.size(); ++index)
        copy.rules.edit(index).id = UUID::random();
    return copy;
}

} // namespace quorvane
