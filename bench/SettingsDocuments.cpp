#include "SettingsDocuments.h"

#include "Foundation/Format.h"
#include "QuorvaneCore/Desktop.h"
#include "QuorvaneCore/Rules.h"

#include <string>
#include <utility>

namespace quorvane::bench {
namespace {

constexpr int displayCount = 8;

std::string displayID(int index)
{
    std::string digits = formatInteger(index);
    return "6B1E54A2-0C4D-4F7A-9E3B-" + std::string(12 - digits.size(), '0') + digits;
}

std::string spaceID(int index)
{
    std::string digits = formatInteger(index);
    return "c0ffee00-1234-4abc-8def-" + std::string(12 - digits.size(), '0') + digits;
}

RuleSettings fullSettings(int index)
{
    return {.brightness = 0.25 + 0.0001 * (index % 5000),
        .hdr = index % 2 == 0,
        .temperature
        = index % 3 == 0 ? Temperature::neutral() : Temperature::kelvin(4000 + index % 3000),
        .refreshRate = index % 5 == 0 ? RefreshPreference::adaptive()
                                      : RefreshPreference::fixed(60'000 + index % 60'000),
        .contrast = 0.5};
}

Rule ruleNumber(int index)
{
    const int display = index % displayCount;
    RuleConditions conditions;
    if (index % 2 == 0)
        conditions.apps = {{.id = "com.example.editor", .name = "Editor"},
            {.id = "com.example.browser" + formatInteger(index % 7), .name = "Browser"}};
    if (index % 3 != 0)
        conditions.screen = DisplayReference{.id = displayID(display), .name = "Studio Display"};
    if (index % 4 == 1)
        conditions.space = Desktop{.id = spaceID(display),
            .name = "Space " + formatInteger(display + 1),
            .displayID = displayID(display)};
    return {.id = UUID::random(),
        .name = "Rule number " + formatInteger(index),
        .isEnabled = index % 10 != 0,
        .conditions = std::move(conditions),
        .settings = fullSettings(index)};
}

} // namespace

Configuration configurationWith(int ruleCount, int rulesPerProfile)
{
    Configuration configuration;
    Profile& defaultProfile = configuration.profiles.edit(0);
    for (int display = 0; display < displayCount; ++display) {
        defaultProfile.defaultSettings->displays[displayID(display)] = fullSettings(display);
        defaultProfile.defaultSettings->initializedDisplayIDs.insert(displayID(display));
        configuration.knownDisplays.push_back({.id = displayID(display), .name = "Display"});
    }
    for (int index = 0; index < ruleCount; ++index) {
        if (index % rulesPerProfile == 0)
            configuration.profiles.push_back({.id = UUID::random(),
                .name = "Profile " + formatInteger(index / rulesPerProfile)});
        configuration.profiles.edit(configuration.profiles.size() - 1)
            .rules.push_back(ruleNumber(index));
    }
    configuration.validate();
    return configuration;
}

Configuration activeProfileWith(int ruleCount)
{
    Configuration configuration = configurationWith(ruleCount, ruleCount);
    if (configuration.profiles.size() > 1)
        configuration.activeProfileID = configuration.profiles.back().id;
    configuration.automationEnabled = true;
    configuration.validate();
    return configuration;
}

} // namespace quorvane::bench
