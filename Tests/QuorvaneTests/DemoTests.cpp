#include "Quorvane/AppModel.h"

#include "AppModelTestSupport.h"
#include "Quorvane/SimulatedControls.h"
#include "Quorvane/SimulatedSystemDisplayPreferences.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace quorvane {
namespace {

const std::string builtIn = "demo-builtin";
const std::string external = "demo-external";
const SystemDisplayControl externalAuto = SystemDisplayControl::automaticBrightness(external);
const SystemDisplayControl builtInAuto = SystemDisplayControl::automaticBrightness(builtIn);

ControlKey keyOf(const std::string& displayID, SettingKey setting)
{
    return {.target = ControlTarget::display(displayID), .setting = setting};
}

std::string outcomeText(Task<void> task) { return outcomeOf(std::move(task)).summary(); }

TEST(SimulatedControlsTest, ReadsBackWhatWasWrittenOrSeeded)
{
    SimulatedControls controls;
    const ControlKey brightness = keyOf(external, SettingKey::brightness);
    const ControlKey contrast = keyOf(external, SettingKey::contrast);
    controls.seed({{brightness, SettingValue::percent(0.2)}});
    // No validation: the demo stores what the engine sends, even out of range.
    EXPECT_EQ(outcomeText(controls.write(SettingValue::percent(1.7), brightness)), "done");
    EXPECT_EQ(runToEnd(controls.read(brightness)), SettingValue::percent(1.7));

    controls.seed({{contrast, SettingValue::percent(0.4)}});
    EXPECT_EQ(outcomeOf(controls.read(brightness)).summary(), "Simulated control unavailable");
    EXPECT_EQ(runToEnd(controls.read(contrast)), SettingValue::percent(0.4));
}

TEST(SimulatedSystemDisplayPreferencesTest, WritesOnlyControlsOfTheLatestSeed)
{
    SimulatedSystemDisplayPreferences preferences;
    EXPECT_EQ(outcomeText(preferences.write(true, SystemDisplayControl::trueTone())),
        "Control unavailable");
    preferences.seed({.values = {{SystemDisplayControl::darkMode(), true}},
        .unavailable = {{builtInAuto, "Gone."}}});
    SystemDisplaySnapshot seeded{
        .values = {{SystemDisplayControl::trueTone(), false}, {builtInAuto, false}},
        .unavailable = {{externalAuto, "Not here."}}};
    preferences.seed(seeded);
    for (const SystemDisplayControl& absent : {SystemDisplayControl::darkMode(), externalAuto})
        EXPECT_EQ(outcomeText(preferences.write(false, absent)), "Control unavailable");
    EXPECT_EQ(runToEnd(preferences.snapshot()), seeded);
    EXPECT_EQ(outcomeText(preferences.write(true, SystemDisplayControl::trueTone())), "done");
    seeded.values[SystemDisplayControl::trueTone()] = true;
    EXPECT_EQ(runToEnd(preferences.snapshot()), seeded);
}

TEST(DemoTest, SetUpShowsTheSimulatedScreensSpacesAndHardware)
{
    ModelWorld world;
    const auto model = world.idleModel({.simulation = true});
    spawn(world.executor, model->setupDemo()); // without start-up's applying of the sample rules
    world.executor.runUntilIdle();

    EXPECT_EQ(model->displays.get(),
        (std::vector<DisplayDevice>{{.id = builtIn,
                                        .runtimeID = 0,
                                        .name = "MacBook display",
                                        .isBuiltIn = true,
                                        .bounds = {.x = 0, .y = 0, .width = 1512, .height = 982},
                                        .maximumFramesPerSecond = 120},
            {.id = external,
                .runtimeID = 0,
                .name = "External screen 1",
                .bounds = {.x = 1512, .y = 0, .width = 2560, .height = 1440},
                .maximumFramesPerSecond = 140}}));

    const RefreshPreference sixty = RefreshPreference::fixed(60'000);
    const std::vector<RefreshPreference> rates{
        sixty, RefreshPreference::fixed(140'000), RefreshPreference::adaptive()};
    std::vector<SettingValue> rateValues;
    for (const RefreshPreference& rate : rates)
        rateValues.push_back(SettingValue::refresh(rate));
    const DisplayResolution small{
        .width = 1280, .height = 800, .pixelWidth = 2560, .pixelHeight = 1600};
    const std::map<SettingKey, SettingValue> settings{
        {SettingKey::brightness, SettingValue::percent(0.55)},
        {SettingKey::hdr, SettingValue::toggle(false)},
        {SettingKey::temperature, SettingValue::temperature(Temperature::neutral())},
        {SettingKey::refreshRate, SettingValue::refresh(sixty)},
        {SettingKey::contrast, SettingValue::percent(0.5)},
    };
    struct Screen {
        std::string id;
        DisplayResolution resolution;
        Desktop space;
    };
    const Screen screens[] = {
        {builtIn, {.width = 1512, .height = 982, .pixelWidth = 3024, .pixelHeight = 1964},
            {.id = "demo-space-1", .name = "Space 1", .displayID = builtIn}},
        {external, {.width = 2560, .height = 1440, .pixelWidth = 5120, .pixelHeight = 2880},
            {.id = "demo-space-3", .name = "Space 3", .displayID = external}},
    };
    HardwareSnapshot hardware;
    std::map<ControlKey, SettingValue> observed;
    std::map<std::string, SpaceSnapshot> spaces;
    std::vector<VerifiedModeConfiguration> verified; // the demo's own modes, and no other
    for (const Screen& s : screens) {
        const ModeConfiguration current{
            .refreshRate = sixty, .hdr = false, .resolution = s.resolution};
        hardware.currentModes[s.id] = current;
        hardware.environments[s.id] = "simulation";
        for (const DisplayResolution& resolution : {s.resolution, small}) {
            for (const RefreshPreference& rate : rates)
                hardware.modeChoices[s.id].push_back(
                    {.resolution = resolution, .refreshRate = rate});
        }
        for (const auto& [setting, value] : settings) {
            observed[keyOf(s.id, setting)] = value;
            hardware.capabilities[keyOf(s.id, setting)] = {.available = true,
                .reason = "Simulated device",
                .choices
                = setting == SettingKey::refreshRate ? rateValues : std::vector<SettingValue>{}};
        }
        spaces[s.id] = {.current = s.space, .desktops = {s.space}, .message = "Simulated Space"};
        verified.push_back({.displayID = s.id, .environment = "simulation", .mode = current});
    }
    EXPECT_EQ(model->hardwareSnapshot.get(), hardware);
    EXPECT_EQ(model->observed.get(), observed);
    EXPECT_EQ(model->simulated().values(), observed);
    EXPECT_EQ(model->spacesByDisplay.get(), spaces);
    EXPECT_EQ(model->configuration->verifiedModes, verified);
}

// Leaves out what each set-up makes new: the identifiers.
struct SampleRule {
    std::string profile;
    std::string rule;
    bool enabled;
    RuleConditions conditions;
    RuleSettings settings;
    bool operator==(const SampleRule&) const = default;
};

TEST(DemoTest, StartAddsSamplesForTheScreenNamesInUseWithXcodeInFront)
{
    const ApplicationReference xcode{.id = "com.apple.dt.Xcode", .name = "Xcode"};
    const SystemDisplaySnapshot preferences{.values
        = {{SystemDisplayControl::trueTone(), false}, {SystemDisplayControl::darkMode(), false},
            {SystemDisplayControl::nightShift(), false}, {builtInAuto, false}},
        .unavailable
        = {{externalAuto, "Ambient-light brightness control is not supported on this screen."}}};
    for (const std::string externalName : {"External screen 1", "Desk"}) {
        SCOPED_TRACE(externalName);
        ModelWorld world;
        const auto path = world.home.path() / "demo.json";
        Configuration written;
        if (externalName == "Desk")
            written.displayNames = std::map<std::string, std::string>{{external, "Desk"}};
        {
            SettingsStore store(path);
            (void)runToEnd(store.load());
            runToEnd(store.save(written));
        }
        const auto model = world.startedModel({.simulation = true, .settingsURL = path});
        const Configuration& configuration = model->configuration.get();

        const DisplayReference screen{.id = external, .name = externalName};
        EXPECT_EQ(model->displays->at(1).reference(), screen);
        EXPECT_EQ(configuration.knownDisplays,
            (std::vector<DisplayReference>{{.id = builtIn, .name = "MacBook display"}, screen}));
        const Desktop space3{.id = "demo-space-3", .name = "Space 3", .displayID = external};
        const std::string work = "Work · sample";
        std::vector<SampleRule> rules;
        for (const Profile& profile : configuration.profiles) {
            for (const Rule& rule : profile.rules)
                rules.push_back(
                    {profile.name, rule.name, rule.isEnabled, rule.conditions, rule.settings});
        }
        EXPECT_EQ(rules,
            (std::vector<SampleRule>{
                {work, "Deep focus", true, {.apps = {xcode}, .screen = screen, .space = space3},
                    {.brightness = 0.6}},
                {work, "Coding", true, {.apps = {xcode}}, {.brightness = 0.7}},
                {work, "External screen", true, {.screen = screen},
                    {.brightness = 0.85,
                        .hdr = true,
                        .temperature = Temperature::kelvin(5600),
                        .refreshRate = RefreshPreference::fixed(140'000),
                        .contrast = 0.7}},
                {work, "Browsing", true, {.apps = {{.id = "com.apple.Safari", .name = "Safari"}}},
                    {.brightness = 0.55, .temperature = Temperature::kelvin(5000)}},
                {"Evening · sample", "Evening settings", true, {},
                    {.brightness = 0.35, .temperature = Temperature::kelvin(4300)}},
            }));
        ASSERT_EQ(configuration.profiles.size(), 3u);
        EXPECT_EQ(configuration.activeProfileID, configuration.profiles[1].id);
        EXPECT_EQ(model->selectedProfileID.get(), configuration.profiles[1].id);
        EXPECT_TRUE(configuration.automationEnabled);
        EXPECT_EQ(configurationIn(path), configuration) << "start saves the demo document";

        EXPECT_EQ(model->context.get(),
            (RuntimeContext{.appBundleID = xcode.id,
                .focusedDisplayID = external,
                .displays = {{.id = builtIn, .activeSpaceID = "demo-space-1"},
                    {.id = external, .activeSpaceID = space3.id}}}));
        EXPECT_EQ(model->currentAppName.get(), "Xcode");
        EXPECT_EQ(model->focusMessage.get(), "Simulated focused window");
        EXPECT_TRUE(model->hasWindowAccess.get());
        EXPECT_EQ(model->systemDisplaySnapshot.get(), preferences);
        EXPECT_EQ(runToEnd(model->simulatedSystemDisplay().snapshot()), preferences);
        // Captured as the Default's, so nothing is left to request.
        EXPECT_EQ(configuration.defaultProfile().capturedDisplayPreferences, preferences.values);
        EXPECT_EQ(model->lastSystemDisplayRequests.get(), preferences.values);
        const DefaultSettings defaults = configuration.defaultSettings();
        EXPECT_EQ(defaults.initializedDisplayIDs, (std::set<std::string>{builtIn, external}));
        EXPECT_EQ(
            defaults.value(keyOf(external, SettingKey::brightness)), SettingValue::percent(0.55));
    }
}

// A demo started again on its settings file finds its samples there and leaves the file's choices.
TEST(DemoTest, SamplesAndConfirmedModesAreAddedOnceToTheSameFile)
{
    ModelWorld world;
    const auto path = world.home.path() / "demo.json";
    Configuration first;
    for (int launch = 1; launch <= 3; ++launch) {
        SCOPED_TRACE(launch);
        const auto model = world.startedModel({.simulation = true, .settingsURL = path});
        const Configuration& configuration = model->configuration.get();
        if (launch == 1) {
            first = configuration;
            // The user moves to the evening profile and turns automation off.
            Configuration changed = configuration;
            changed.activeProfileID = changed.profiles.at(2).id;
            changed.automationEnabled = false;
            SettingsStore store(path);
            (void)runToEnd(store.load());
            runToEnd(store.save(changed));
            continue;
        }
        EXPECT_EQ(configuration.profiles, first.profiles);
        EXPECT_EQ(configuration.verifiedModes, first.verifiedModes);
        EXPECT_EQ(configuration.verifiedModes.size(), 2u);
        EXPECT_EQ(configuration.activeProfileID, first.profiles.at(2).id);
        EXPECT_EQ(model->selectedProfileID.get(), first.profiles.at(2).id);
        EXPECT_FALSE(configuration.automationEnabled);
    }
}

} // namespace
} // namespace quorvane
