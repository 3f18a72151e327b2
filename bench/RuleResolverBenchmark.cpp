// How long one resolution takes for a large profile: 50 rules over 4 displays and all five
// settings, with every kind of condition and some refused values.

#include "Foundation/Format.h"
#include "QuorvaneCore/RuleResolver.h"

#include <benchmark/benchmark.h>

#include <chrono>

using namespace quorvane;
using namespace std::chrono_literals;

namespace {

constexpr int displayCount = 4;
constexpr int ruleCount = 50;
const Date now = Date{} + 1000h;

std::string displayID(int index) { return "display-" + formatInteger(index); }
std::string spaceID(int index) { return "space-" + formatInteger(index); }

ControlKey controlOf(int display, SettingKey setting)
{
    return {.target = ControlTarget::display(displayID(display)), .setting = setting};
}

RuntimeContext busyContext()
{
    RuntimeContext context{.appBundleID = "com.example.editor", .focusedDisplayID = displayID(1)};
    for (int display = 0; display < displayCount; ++display)
        context.displays.push_back({.id = displayID(display), .activeSpaceID = spaceID(display)});
    return context;
}

/// Every control known; HDR missing on the first display, and refresh rates limited to what the
/// current modes offer, so that some rule values are refused.
std::map<ControlKey, ControlCapability> capabilities()
{
    const std::vector<SettingValue> refreshChoices{
        SettingValue::refresh(RefreshPreference::fixed(60'000)),
        SettingValue::refresh(RefreshPreference::fixed(120'000)),
        SettingValue::refresh(RefreshPreference::adaptive())};
    std::map<ControlKey, ControlCapability> result;
    for (int display = 0; display < displayCount; ++display) {
        for (const SettingKey setting : allSettingKeys)
            result[controlOf(display, setting)] = {.available = true};
        result[controlOf(display, SettingKey::refreshRate)].choices = refreshChoices;
    }
    result[controlOf(0, SettingKey::hdr)] = {.reason = "HDR not supported"};
    return result;
}

/// The rules cycle through no condition, applications, a screen and a Space, and all set every
/// setting; every third asks for a refresh rate the displays refuse.
Profile largeProfile()
{
    Profile profile{.id = UUID::random(), .name = "Large"};
    for (int index = 0; index < ruleCount; ++index) {
        const int display = index % displayCount;
        RuleConditions conditions;
        switch (index % 4) {
        case 1:
            conditions.apps = {{.id = "com.example.mail", .name = "Mail"},
                {.id = "com.example.editor", .name = "Editor"}};
            break;
        case 2:
            conditions.screen = DisplayReference{.id = displayID(display), .name = "Screen"};
            break;
        case 3:
            conditions.space
                = Desktop{.id = spaceID(display), .name = "Space", .displayID = displayID(display)};
            break;
        }
        profile.rules.push_back({.id = UUID::random(),
            .name = "Rule " + formatInteger(index),
            .conditions = conditions,
            .settings = {.brightness = 0.2 + 0.01 * index,
                .hdr = index % 2 == 0,
                .temperature = Temperature::kelvin(3000 + 50 * index),
                .refreshRate = RefreshPreference::fixed(index % 3 == 0 ? 75'000 : 60'000),
                .contrast = 0.5}});
    }
    return profile;
}

DefaultSettings defaultSettings()
{
    DefaultSettings defaults;
    for (int display = 0; display < displayCount; ++display) {
        defaults.displays[displayID(display)] = {.brightness = 0.7,
            .hdr = false,
            .temperature = Temperature::neutral(),
            .refreshRate = RefreshPreference::fixed(60'000),
            .contrast = 0.75};
    }
    return defaults;
}

void resolveLargeProfile(benchmark::State& state)
{
    const Profile profile = largeProfile();
    const DefaultSettings defaults = defaultSettings();
    const RuntimeContext context = busyContext();
    const std::map<ControlKey, ControlCapability> known = capabilities();
    const std::map<ControlKey, ManualHold> holds{
        {controlOf(2, SettingKey::brightness), {.value = SettingValue::percent(0.4)}},
        {controlOf(3, SettingKey::contrast),
            {.value = SettingValue::percent(0.6), .expiresAt = now + 10min}},
    };
    for (auto _ : state)
        benchmark::DoNotOptimize(
            RuleResolver::resolve(profile, defaults, context, known, holds, now));
}

} // namespace

BENCHMARK(resolveLargeProfile);

BENCHMARK_MAIN();
