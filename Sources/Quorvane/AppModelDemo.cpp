#include "Quorvane/AppModel.h"

#include "Quorvane/SimulatedControls.h"
#include "Quorvane/SimulatedSystemDisplayPreferences.h"

#include <algorithm>
#include <array>
#include <string_view>
#include <utility>

namespace quorvane {
namespace {

constexpr std::string_view builtInID = "demo-builtin";
constexpr std::string_view externalID = "demo-external";
constexpr std::string_view demoEnvironment = "simulation";
constexpr std::string_view xcodeBundleID = "com.apple.dt.Xcode";
constexpr std::string_view workSampleName = "Work · sample";
constexpr std::string_view eveningSampleName = "Evening · sample";

constexpr std::int64_t sixtyHertz = 60'000;
constexpr std::int64_t fastHertz = 140'000;

std::vector<DisplayDevice> demoDisplays(const Configuration& configuration)
{
    std::vector<DisplayDevice> displays{
        {.id = std::string(builtInID),
            .runtimeID = 0,
            .name = "MacBook display",
            .isBuiltIn = true,
            .bounds = {.x = 0, .y = 0, .width = 1512, .height = 982},
            .maximumFramesPerSecond = 120},
        {.id = std::string(externalID),
            .runtimeID = 0,
            .name = "External screen 1",
            .isBuiltIn = false,
            .bounds = {.x = 1512, .y = 0, .width = 2560, .height = 1440},
            .maximumFramesPerSecond = 140},
    };
    if (const auto& names = configuration.displayNames) {
        for (DisplayDevice& display : displays) {
            if (const auto name = names->find(display.id); name != names->end())
                display.name = name->second;
        }
    }
    return displays;
}

Desktop demoSpace(std::string_view displayID)
{
    if (displayID == builtInID)
        return {.id = "demo-space-1", .name = "Space 1", .displayID = std::string(builtInID)};
    return {.id = "demo-space-3", .name = "Space 3", .displayID = std::string(externalID)};
}

std::map<std::string, SpaceSnapshot> demoSpaces()
{
    std::map<std::string, SpaceSnapshot> spaces;
    for (const std::string_view id : {builtInID, externalID}) {
        const Desktop space = demoSpace(id);
        spaces.emplace(std::string(id),
            SpaceSnapshot{.current = space, .desktops = {space}, .message = "Simulated Space"});
    }
    return spaces;
}

DisplayResolution pointsAndDoublePixels(std::int64_t width, std::int64_t height)
{
    return {.width = width, .height = height, .pixelWidth = width * 2, .pixelHeight = height * 2};
}

ModeConfiguration demoMode(const DisplayDevice& display)
{
    return {.refreshRate = RefreshPreference::fixed(sixtyHertz),
        .hdr = false,
        .resolution = pointsAndDoublePixels(static_cast<std::int64_t>(display.bounds.width),
            static_cast<std::int64_t>(display.bounds.height))};
}

std::array<RefreshPreference, 3> demoRefreshRates()
{
    return {RefreshPreference::fixed(sixtyHertz), RefreshPreference::fixed(fastHertz),
        RefreshPreference::adaptive()};
}

std::vector<DisplayModeChoice> demoModeChoices(const DisplayResolution& current)
{
    std::vector<DisplayModeChoice> choices;
    for (const DisplayResolution& resolution : {current, pointsAndDoublePixels(1280, 800)}) {
        for (const RefreshPreference& rate : demoRefreshRates())
            choices.push_back({.resolution = resolution, .refreshRate = rate});
    }
    return choices;
}

SettingValue demoObservedValue(SettingKey key)
{
    switch (key) {
    case SettingKey::brightness:
        return SettingValue::percent(0.55);
    case SettingKey::hdr:
        return SettingValue::toggle(false);
    case SettingKey::temperature:
        return SettingValue::temperature(Temperature::neutral());
    case SettingKey::refreshRate:
        return SettingValue::refresh(RefreshPreference::fixed(sixtyHertz));
    case SettingKey::contrast:
        return SettingValue::percent(0.5);
    }
    return SettingValue::percent(0.5);
}

ControlCapability demoCapability(SettingKey key)
{
    ControlCapability capability{.available = true, .reason = "Simulated device"};
    if (key == SettingKey::refreshRate) {
        for (const RefreshPreference& rate : demoRefreshRates())
            capability.choices.push_back(SettingValue::refresh(rate));
    }
    return capability;
}

SystemDisplaySnapshot demoSystemDisplaySnapshot()
{
    return {
        .values = {{SystemDisplayControl::trueTone(), false},
            {SystemDisplayControl::darkMode(), false}, {SystemDisplayControl::nightShift(), false},
            {SystemDisplayControl::automaticBrightness(std::string(builtInID)), false}},
        .unavailable = {{SystemDisplayControl::automaticBrightness(std::string(externalID)),
            "Ambient-light brightness control is not supported on this screen."}}};
}

RuntimeContext demoContext()
{
    return {.appBundleID = std::string(xcodeBundleID),
        .focusedDisplayID = std::string(externalID),
        .displays = {{.id = std::string(builtInID), .activeSpaceID = demoSpace(builtInID).id},
            {.id = std::string(externalID), .activeSpaceID = demoSpace(externalID).id}},
        .suspended = false};
}

Rule sampleRule(std::string name, RuleConditions conditions, RuleSettings settings)
{
    return {.id = UUID::random(),
        .name = std::move(name),
        .isEnabled = true,
        .conditions = std::move(conditions),
        .settings = settings};
}

Profile workSample(const DisplayReference& external)
{
    const ApplicationReference xcode{.id = std::string(xcodeBundleID), .name = "Xcode"};
    const ApplicationReference safari{.id = "com.apple.Safari", .name = "Safari"};
    return {.id = UUID::random(),
        .name = std::string(workSampleName),
        .rules = {
            sampleRule("Deep focus",
                {.apps = {xcode}, .screen = external, .space = demoSpace(externalID)},
                {.brightness = 0.6}),
            sampleRule("Coding", {.apps = {xcode}}, {.brightness = 0.7}),
            sampleRule("External screen", {.screen = external},
                {.brightness = 0.85,
                    .hdr = true,
                    .temperature = Temperature::kelvin(5600),
                    .refreshRate = RefreshPreference::fixed(fastHertz),
                    .contrast = 0.7}),
            sampleRule("Browsing", {.apps = {safari}},
                {.brightness = 0.55, .temperature = Temperature::kelvin(5000)}),
        }};
}

Profile eveningSample()
{
    return {.id = UUID::random(),
        .name = std::string(eveningSampleName),
        .rules = {sampleRule("Evening settings", {},
            {.brightness = 0.35, .temperature = Temperature::kelvin(4300)})}};
}

// A demo started again on a settings file it wrote before finds its samples there, and the
// profile and automation the user left on.
bool hasSamples(const Configuration& document)
{
    return std::ranges::any_of(document.profiles, [](const Profile& profile) {
        return profile.name == workSampleName || profile.name == eveningSampleName;
    });
}

void addSamples(Configuration& document, Profile work)
{
    if (hasSamples(document))
        return;
    document.activeProfileID = work.id;
    document.automationEnabled = true;
    document.profiles.push_back(std::move(work));
    document.profiles.push_back(eveningSample());
}

// The demo's own modes count as confirmed, so nothing asks to keep them.
void verifyCurrentModes(Configuration& document, const std::vector<DisplayDevice>& displays,
    const HardwareSnapshot& snapshot)
{
    for (const DisplayDevice& display : displays) {
        const auto mode = snapshot.currentModes.find(display.id);
        if (mode == snapshot.currentModes.end())
            continue;
        const VerifiedModeConfiguration verified{.displayID = display.id,
            .environment = std::string(demoEnvironment),
            .mode = mode->second};
        if (std::ranges::find(document.verifiedModes, verified) == document.verifiedModes.end())
            document.verifiedModes.push_back(verified);
    }
}

} // namespace

Task<void> AppModel::setupDemo()
{
    displays.set(demoDisplays(configuration.get()));
    spacesByDisplay.set(demoSpaces());

    HardwareSnapshot snapshot = hardwareSnapshot.get();
    std::map<ControlKey, SettingValue> values = observed.get();
    for (const DisplayDevice& display : displays.get()) {
        const ModeConfiguration mode = demoMode(display);
        snapshot.modeChoices.insert_or_assign(display.id, demoModeChoices(*mode.resolution));
        snapshot.currentModes.insert_or_assign(display.id, mode);
        for (const SettingKey setting : allSettingKeys) {
            const ControlKey key{.target = ControlTarget::display(display.id), .setting = setting};
            values.insert_or_assign(key, demoObservedValue(setting));
            snapshot.capabilities.insert_or_assign(key, demoCapability(setting));
        }
        snapshot.environments.insert_or_assign(display.id, std::string(demoEnvironment));
    }
    hardwareSnapshot.set(std::move(snapshot));
    observed.set(values);

    m_simulated->seed(std::move(values));

    const SystemDisplaySnapshot preferences = demoSystemDisplaySnapshot();
    m_simulatedSystemDisplay->seed(preferences);
    systemDisplaySnapshot.set(preferences);
    configuration.modify(
        [&](Configuration& document) { (void)document.captureSystemDisplayDefaults(preferences); });
    // The preferences are already as the active profile asks: nothing to apply for them.
    lastSystemDisplayRequests.set(systemDisplayRequests());

    context.set(demoContext());
    currentAppName.set("Xcode");
    focusMessage.set("Simulated focused window");
    hasWindowAccess.set(true);

    std::vector<DisplayReference> references;
    std::vector<std::string> displayIDs;
    for (const DisplayDevice& display : displays.get()) {
        references.push_back(display.reference());
        displayIDs.push_back(display.id);
    }
    configuration.modify([&](Configuration& document) { document.knownDisplays = references; });

    co_await captureInitialDefaults(hardwareSnapshotForDemo(), displayIDs);

    configuration.modify([&](Configuration& document) {
        addSamples(document, workSample(references.back()));
        verifyCurrentModes(document, displays.get(), hardwareSnapshot.get());
    });
    selectedProfileID.set(configuration->activeProfileID);
    refreshApps();
}

HardwareSnapshot AppModel::hardwareSnapshotForDemo() const
{
    HardwareSnapshot snapshot = hardwareSnapshot.get();
    snapshot.observed = observed.get();
    return snapshot;
}

} // namespace quorvane
