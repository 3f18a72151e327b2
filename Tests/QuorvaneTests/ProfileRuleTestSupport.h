// Profiles and rules for the tests of the profile, rule and live-editing actions.
#pragma once

#include "AppModelTestSupport.h"
#include "Quorvane/AppModel.h"

#include <string>
#include <utility>
#include <vector>

namespace quorvane {

/// Which action guard a case trips.
enum class Guard {
    none,
    notLoaded,
    settingsError,
    displayTest,
};

/// Trips `guard` on a loaded model.
inline void trip(AppModel& model, Guard guard)
{
    switch (guard) {
    case Guard::none:
        return;
    case Guard::notLoaded:
        model.isLoaded.set(false);
        return;
    case Guard::settingsError:
        model.settingsError.set("The settings file is damaged.");
        return;
    case Guard::displayTest:
        model.preview.set(DisplayPreview{.id = UUID::random(), .displayID = "display-a"});
        return;
    }
}

[[nodiscard]] inline ControlKey keyOf(std::string displayID, SettingKey setting)
{
    return {.target = ControlTarget::display(std::move(displayID)), .setting = setting};
}

[[nodiscard]] inline Rule brightnessRule(std::string name, double brightness)
{
    return {.id = UUID::random(),
        .name = std::move(name),
        .settings = RuleSettings{.brightness = brightness}};
}

/// Appends a profile to the document and returns its id.
inline UUID addProfile(AppModel& model, std::string name, std::vector<Rule> rules = {})
{
    Profile profile{.id = UUID::random(), .name = std::move(name), .rules = std::move(rules)};
    const UUID id = profile.id;
    model.configuration.modify(
        [&](Configuration& document) { document.profiles.push_back(std::move(profile)); });
    return id;
}

[[nodiscard]] inline const Profile* findProfile(const AppModel& model, const UUID& id)
{
    for (const Profile& profile : model.configuration->profiles) {
        if (profile.id == id)
            return &profile;
    }
    return nullptr;
}

} // namespace quorvane
