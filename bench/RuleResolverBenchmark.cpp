// How one resolution grows with the number of rules: 10 to 10,000 rules over 1, 4 and 8
// displays with identifiers as long as real ones (36 characters), every kind of condition and
// some refused values, and once more writing each plan over the one before last, as the model
// does. Reports the heap allocations per rule beside the time.

#include "AllocationCounter.h"
#include "Foundation/Format.h"
#include "QuorvaneCore/RuleResolver.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstddef>
#include <string>
#include <utility>

using namespace quorvane;
using namespace std::chrono_literals;

namespace {

const Date now = Date{} + 1000h;

/// "6B1E54A2-0C4D-4F7A-9E3B-000000000003": a UUID's length, differing only at the end as
/// identifiers of one maker's displays often do.
std::string displayID(int index)
{
    std::string digits = formatInteger(index);
    return "6B1E54A2-0C4D-4F7A-9E3B-" + std::string(12 - digits.size(), '0') + digits;
}

std::string spaceID(int index) { return "space-" + formatInteger(index); }

ControlKey controlOf(int display, SettingKey setting)
{
    return {.target = ControlTarget::display(displayID(display)), .setting = setting};
}

RuntimeContext busyContext(int displayCount)
{
    RuntimeContext context{.appBundleID = "com.example.editor", .focusedDisplayID = displayID(0)};
    for (int display = 0; display < displayCount; ++display)
        context.displays.push_back({.id = displayID(display), .activeSpaceID = spaceID(display)});
    return context;
}

/// Every control known; HDR missing on the first display, and refresh rates limited to what the
/// current modes offer, so that some rule values are refused.
std::map<ControlKey, ControlCapability> capabilities(int displayCount)
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

/// The rules cycle through no condition, applications, a screen and a Space. Each sets two to
/// five settings; one in eight asks for a refresh rate the displays refuse, and one in ten is
/// disabled.
Profile largeProfile(int ruleCount, int displayCount)
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
        RuleSettings settings{.brightness = 0.2 + 0.00001 * index, .contrast = 0.5};
        if (index % 2 == 0)
            settings.temperature = Temperature::kelvin(3000 + index % 5000);
        if (index % 3 == 0)
            settings.hdr = index % 2 == 0;
        if (index % 4 == 0)
            settings.refreshRate = RefreshPreference::fixed(index % 8 == 0 ? 75'000 : 60'000);
        profile.rules.push_back({.id = UUID::random(),
            .name = "Rule " + formatInteger(index),
            .isEnabled = index % 10 != 9,
            .conditions = conditions,
            .settings = settings});
    }
    return profile;
}

DefaultSettings defaultSettings(int displayCount)
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

/// Each resolution follows a change of the middle rule and takes over what the one before found,
/// as the model's does after a rule action: only the changed rule's run is evaluated again.
enum class Memo { none, afterOneRuleChanged };

void resolve(benchmark::State& state, int displayCount, Memo memo)
{
    const auto ruleCount = static_cast<int>(state.range(0));
    Profile profile = largeProfile(ruleCount, displayCount);
    const DefaultSettings defaults = defaultSettings(displayCount);
    const RuntimeContext context = busyContext(displayCount);
    const std::map<ControlKey, ControlCapability> known = capabilities(displayCount);
    const std::map<ControlKey, ManualHold> holds{
        {controlOf(displayCount - 1, SettingKey::brightness),
            {.value = SettingValue::percent(0.4)}},
        {controlOf(0, SettingKey::contrast),
            {.value = SettingValue::percent(0.6), .expiresAt = now + 10min}},
    };
    ResolutionMemo findings;
    const std::size_t allocationsBefore = bench::allocationCount();
    for (auto _ : state) {
        if (memo == Memo::none) {
            benchmark::DoNotOptimize(
                RuleResolver::resolve(profile, defaults, context, known, holds, now));
            continue;
        }
        Rule& middle = profile.rules.edit(profile.rules.size() / 2);
        middle.isEnabled = !middle.isEnabled;
        benchmark::DoNotOptimize(
            RuleResolver::resolve(profile, defaults, context, known, holds, now, findings));
    }
    const auto allocations = static_cast<double>(bench::allocationCount() - allocationsBefore);
    state.counters["allocs/rule"]
        = allocations / (static_cast<double>(state.iterations()) * static_cast<double>(ruleCount));
    state.SetComplexityN(ruleCount);
    state.SetItemsProcessed(state.iterations() * ruleCount);
}

/// 10 to 10,000 rules, timed in microseconds, expected linear.
void ruleCounts(benchmark::internal::Benchmark* benchmark)
{
    benchmark->RangeMultiplier(10)
        ->Range(10, 10'000)
        ->Unit(benchmark::kMicrosecond)
        ->Complexity(benchmark::oN);
}

} // namespace

BENCHMARK_CAPTURE(resolve, 1display, 1, Memo::none)->Apply(ruleCounts);
BENCHMARK_CAPTURE(resolve, 4displays, 4, Memo::none)->Apply(ruleCounts);
BENCHMARK_CAPTURE(resolve, 8displays, 8, Memo::none)->Apply(ruleCounts);
BENCHMARK_CAPTURE(resolve, 4displaysAfterOneRuleChanged, 4, Memo::afterOneRuleChanged)
    ->Apply(ruleCounts);

BENCHMARK_MAIN();
