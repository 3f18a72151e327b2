// The whole settings document: profiles, which one is active, remembered screens, confirmed
// display modes and the preferences, with the checks that decide whether it may be used.
#pragma once

#include "Foundation/CopyOnWriteVector.h"
#include "Foundation/UUID.h"
#include "QuorvaneCore/BrightnessKeys.h"
#include "QuorvaneCore/ConfigurationError.h"
#include "QuorvaneCore/ControlKey.h"
#include "QuorvaneCore/DisplayResolution.h"
#include "QuorvaneCore/ProfileDisplayPreferences.h"
#include "QuorvaneCore/Rules.h"

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace quorvane {

struct ManualHold;

/// A plain value: copied on assignment and compared field by field; copies share each profile
/// until it is edited. The fields are in the order the settings file codes them.
///
/// Every validated document has at least one profile. On an empty profile list the derived
/// views do not crash: activeProfile() and defaultProfile() throw the error validate() would
/// report, defaultSettings() and orderedProfiles() are empty, and the display requests find no
/// Default profile to fall back on.
struct Configuration {
    struct ClosedRange {
        std::int64_t lowerBound;
        std::int64_t upperBound;
        [[nodiscard]] constexpr bool contains(std::int64_t value) const
        {
            return value >= lowerBound && value <= upperBound;
        }
    };
    static constexpr std::int64_t currentSchemaVersion = 5;
    static constexpr std::int64_t defaultDebounceMilliseconds = 300;
    static constexpr ClosedRange debounceMillisecondsRange{0, 5000};

    /// The default document: one profile named "Default" with empty Default settings and a new
    /// random id, both active and default; automation and the brightness keys off.
    Configuration();

    std::int64_t schemaVersion = currentSchemaVersion;
    /// In the user's order.
    CopyOnWriteVector<Profile> profiles;
    UUID activeProfileID;
    /// The permanent "Default" profile.
    UUID defaultProfileID;
    /// Screens the application remembers.
    std::vector<DisplayReference> knownDisplays;
    /// User-given screen names by display identifier.
    std::optional<std::map<std::string, std::string>> displayNames;
    /// Display modes the user confirmed.
    std::vector<VerifiedModeConfiguration> verifiedModes;
    bool automationEnabled = false;
    /// How long a manual adjustment holds; 0 means until the user resumes.
    std::int64_t holdMinutes = 30;
    bool smoothTransitions = true;
    /// Any positive value acts as 300 ms; see effectiveDebounceMilliseconds().
    std::int64_t debounceMilliseconds = defaultDebounceMilliseconds;
    bool brightnessKeysEnabled = false;
    BrightnessKeyStep brightnessKeyStep = BrightnessKeyStep::five;

    /// The profile whose id is activeProfileID, else the first profile.
    /// Throws ConfigurationError when there are no profiles.
    [[nodiscard]] const Profile& activeProfile() const;
    /// The profile whose id is defaultProfileID, else the first profile.
    /// Throws ConfigurationError when there are no profiles.
    [[nodiscard]] const Profile& defaultProfile() const;
    /// The profiles as the user sees them: defaultProfile() first, then the others in order.
    [[nodiscard]] std::vector<Profile> orderedProfiles() const;
    /// The same order without copying the profiles; the references last until `profiles` changes.
    [[nodiscard]] std::vector<std::reference_wrapper<const Profile>>
    orderedProfileReferences() const;

    /// The Default profile's Default settings; empty ones when it has none.
    [[nodiscard]] DefaultSettings defaultSettings() const;
    /// Stores into the profile whose id is defaultProfileID; dropped when there is none.
    void setDefaultSettings(DefaultSettings settings);

    [[nodiscard]] bool debounceEnabled() const { return debounceMilliseconds > 0; }
    /// On stores 300 ms, off stores 0.
    void setDebounceEnabled(bool isEnabled);
    /// 300 when debounceMilliseconds is positive, else 0.
    [[nodiscard]] std::int64_t effectiveDebounceMilliseconds() const;

    /// Makes the profile with `profileID` active, switches automation on and ends every manual
    /// hold. Changes nothing, holds included, when no profile has that id.
    void activate(const UUID& profileID, std::map<ControlKey, ManualHold>& holds);

    /// Throws ConfigurationError for the first check the document fails, with one fixed sentence
    /// that names no profile or rule. Changes nothing.
    void validate() const;
    /// validate() for a document that passed it before `stored` was stored in one profile, in
    /// place of the rule with its id there (`isAdded` false) or added: only what storing it can
    /// break is checked, and the error is the one validate() would throw. A rule stored in place
    /// cannot repeat an id, so only it is checked; an added one is looked for among all rules.
    void validateStoredRule(const Rule& stored, bool isAdded) const;

    /// The resolution `profile` asks for on the display: its own entry, else the Default
    /// profile's; absent when neither has one.
    [[nodiscard]] std::optional<DisplayResolution> displayResolution(
        const Profile& profile, std::string_view displayID) const;
    /// Records the valid resolution of each display the Default profile has none for yet; an
    /// existing entry is never replaced. Returns whether the document changed (never without a
    /// profile whose id is defaultProfileID).
    [[nodiscard]] bool captureResolutionDefaults(
        const std::map<std::string, ModeConfiguration>& modes);

    /// The value requested for each of `controls` that has one: the profile's own, else the
    /// Default profile's, else the state the Default profile captured for that control.
    [[nodiscard]] std::map<SystemDisplayControl, bool> systemDisplayRequests(
        const Profile& profile, const std::set<SystemDisplayControl>& controls) const;
    /// Records into the Default profile the state of each control reported for the first time;
    /// a captured state is never replaced. Returns whether the document changed (never without a
    /// profile whose id is defaultProfileID).
    [[nodiscard]] bool captureSystemDisplayDefaults(const SystemDisplaySnapshot& snapshot);
    /// Whether captureSystemDisplayDefaults(snapshot) would change the document, found without
    /// changing (or copying) it.
    [[nodiscard]] bool capturesSystemDisplayDefaults(const SystemDisplaySnapshot& snapshot) const;

    bool operator==(const Configuration&) const = default;

private:
    /// The profile whose id is defaultProfileID, else the first; null without profiles.
    [[nodiscard]] const Profile* defaultProfileOrFirst() const;
    /// Where the profile whose id is defaultProfileID stands, without fall-back.
    [[nodiscard]] std::optional<std::size_t> defaultIDIndex() const;
};

} // namespace quorvane
