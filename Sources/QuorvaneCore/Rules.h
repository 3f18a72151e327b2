// What the user edits: profiles, their ordered rules with conditions and settings, and the
// Default settings per display that supply every value no rule decides.
#pragma once

#include "Foundation/UUID.h"
#include "QuorvaneCore/ControlKey.h"
#include "QuorvaneCore/Desktop.h"
#include "QuorvaneCore/ProfileDisplayPreferences.h"
#include "QuorvaneCore/RuleList.h"
#include "QuorvaneCore/SettingValue.h"

#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace quorvane {

struct ControlCapability;

/// The optional value of each setting; an absent field is not set (in the Default settings:
/// neither captured nor set).
struct RuleSettings {
    std::optional<double> brightness{};
    std::optional<bool> hdr{};
    std::optional<Temperature> temperature{};
    std::optional<RefreshPreference> refreshRate{};
    std::optional<double> contrast{};

    /// All five fields are absent.
    [[nodiscard]] bool isEmpty() const;
    /// Every present field is in the range its setting accepts.
    [[nodiscard]] bool isValid() const;

    /// The field of `key` as a value of the case the key takes; absent when the field is.
    [[nodiscard]] std::optional<SettingValue> value(SettingKey key) const;
    /// Absent clears the field of `key`; a value of the case the key takes sets it; a value of any
    /// other case leaves it as it was.
    void setValue(const std::optional<SettingValue>& value, SettingKey key);

    bool operator==(const RuleSettings&) const = default;
};

/// A screen as settings name it: its display identifier and its name when recorded.
struct DisplayReference {
    std::string id;
    std::string name;
    bool operator==(const DisplayReference&) const = default;
};

/// An application as a rule names it: its bundle identifier and display name.
struct ApplicationReference {
    std::string id;
    std::string name;
    bool operator==(const ApplicationReference&) const = default;
};

/// When a rule applies; every condition left out applies everywhere.
struct RuleConditions {
    /// Any one of these frontmost; empty means any application. Stored as given.
    std::vector<ApplicationReference> apps{};
    std::optional<DisplayReference> screen{};
    std::optional<Desktop> space{};

    /// Conditions on at most one application: with a bundle identifier, one app named `appName`
    /// (or the bundle identifier when no name is given); without one, no apps.
    [[nodiscard]] static RuleConditions forApplication(std::optional<std::string> appBundleID,
        std::optional<std::string> appName, std::optional<DisplayReference> screen,
        std::optional<Desktop> space);

    [[nodiscard]] bool hasAppCondition() const;
    /// No two apps share an id, and every app has an id and a name that are not blank.
    [[nodiscard]] bool hasValidApps() const;
    /// No apps, no screen and no Space.
    [[nodiscard]] bool isEmpty() const;
    /// The apps' names joined with " or "; absent without apps.
    [[nodiscard]] std::optional<std::string> appLabel() const;
    /// "All apps · all screens · all Spaces", or the apps, screen and Space joined with " + ".
    [[nodiscard]] std::string label() const;
    /// The label, with three or more apps shortened to the first two and a count:
    /// "Editor, Browser +3".
    [[nodiscard]] std::string compactLabel() const;

    bool operator==(const RuleConditions&) const = default;
};

struct Rule {
    /// Stable across edits.
    UUID id;
    std::string name;
    /// A disabled rule stays in the list but never applies.
    bool isEnabled = true;
    RuleConditions conditions{};
    RuleSettings settings{};
    bool operator==(const Rule&) const = default;
};

/// The Default profile's values per display. A display in initializedDisplayIDs is captured: its
/// defaults are settled, and only explicit edits change them from then on.
struct DefaultSettings {
    std::map<std::string, RuleSettings> displays{};
    std::set<std::string> initializedDisplayIDs{};

    /// Every display identifier non-empty and every display's settings valid.
    [[nodiscard]] bool isValid() const;

    /// The value of the key's setting for the key's display; absent without an entry.
    [[nodiscard]] std::optional<SettingValue> value(const ControlKey& key) const;
    /// Writes through the display's RuleSettings, creating its entry even when nothing is set.
    /// Does not mark the display captured.
    void setValue(const std::optional<SettingValue>& value, const ControlKey& key);
    /// A user's edit: setValue, then the display counts as captured.
    void setExplicit(const std::optional<SettingValue>& value, const ControlKey& key);

    /// Captures every display of `displayIDs` seen for the first time: fills each setting still
    /// absent with its observed value when the control's capability accepts it, then marks the
    /// display captured whatever could be read. Returns whether any display became captured.
    [[nodiscard]] bool capture(const std::vector<std::string>& displayIDs,
        const std::map<ControlKey, SettingValue>& observed,
        const std::map<ControlKey, ControlCapability>& capabilities);

    bool operator==(const DefaultSettings&) const = default;
};

struct Profile {
    UUID id;
    /// "Default" for the permanent Default profile.
    std::string name;
    /// Held by the Default profile only.
    std::optional<DefaultSettings> defaultSettings{};
    /// In priority order, first rule first; copies share the rules until one is edited.
    RuleList rules{};
    std::optional<ProfileDisplayPreferences> displayPreferences{};
    /// The display preferences captured when first reported; only the Default profile's count.
    std::optional<std::map<SystemDisplayControl, bool>> capturedDisplayPreferences{};

    /// A copy named "<name> copy" with new identifiers for itself and each rule, and without
    /// Default settings or captured display preferences.
    [[nodiscard]] Profile duplicated() const;

    bool operator==(const Profile&) const = default;
};

} // namespace quorvane
