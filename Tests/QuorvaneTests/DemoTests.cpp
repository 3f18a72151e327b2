#include "Quorvane/AppModel.h"

#include "AppModelTestSupport.h"
#include "Quorvane/SimulatedControls.h"
#include "Quorvane/SimulatedSystemDisplayPreferences.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace quorvane {
namespace {

const std::string builtIn = "demo-builtin";
const std::string external = "demo-external";

ControlKey keyOf(const std::string& displayID, SettingKey setting)
{
    return {.target = ControlTarget::display(displayID), .setting = setting};
}

const SystemDisplayControl externalAutomaticBrightness
    = SystemDisplayControl::automaticBrightness(external);
const SystemDisplayControl builtInAutomaticBrightness
    = SystemDisplayControl::automaticBrightness(builtIn);

std::string outcomeText(Task<SettingValue> task)
{
    const TaskOutcome<SettingValue> outcome = outcomeOf(std::move(task));
    return outcome.value ? outcome.value->label() : outcome.summary();
}

std::string outcomeText(Task<void> task) { return outcomeOf(std::move(task)).summary(); }

TEST(SimulatedControlsTest, ReadsBackWhatWasWrittenOrSeeded)
{
    SimulatedControls controls;
    const ControlKey brightness = keyOf(external, SettingKey::brightness);
    const ControlKey contrast = keyOf(external, SettingKey::contrast);
    EXPECT_EQ(outcomeText(controls.read(brightness)), "Simulated control unavailable");

    // No validation: the demo stores what the engine sends, even out of range.
    EXPECT_EQ(outcomeText(controls.write(SettingValue::percent(1.7), brightness)), "done");
    EXPECT_EQ(runToEnd(controls.read(brightness)), SettingValue::percent(1.7));
    EXPECT_EQ(outcomeText(controls.write(SettingValue::percent(0.123456789), brightness)), "done");
    EXPECT_EQ(runToEnd(controls.read(brightness)), SettingValue::percent(0.123456789));

    controls.seed({{contrast, SettingValue::percent(0.4)}});
    EXPECT_EQ(outcomeText(controls.read(brightness)), "Simulated control unavailable");
    EXPECT_EQ(runToEnd(controls.read(contrast)), SettingValue::percent(0.4));
}

TEST(SimulatedSystemDisplayPreferencesTest, WritesOnlyPresentControls)
{
    const SystemDisplaySnapshot seeded{
        .values = {{SystemDisplayControl::trueTone(), false},
            {SystemDisplayControl::nightShift(), true}, {builtInAutomaticBrightness, false}},
        .unavailable = {{externalAutomaticBrightness, "Not here."}}};
    struct Case {
        const char* what;
        bool seed;
        SystemDisplayControl control;
        bool value;
        const char* outcome;
        SystemDisplaySnapshot after;
    };
    SystemDisplaySnapshot trueToneOn = seeded;
    trueToneOn.values[SystemDisplayControl::trueTone()] = true;
    const Case cases[] = {
        {"new instance", false, SystemDisplayControl::trueTone(), true, "Control unavailable", {}},
        {"present control", true, SystemDisplayControl::trueTone(), true, "done", trueToneOn},
        {"same value", true, SystemDisplayControl::nightShift(), true, "done", seeded},
        {"listed unavailable", true, externalAutomaticBrightness, true, "Control unavailable",
            seeded},
        {"never seeded", true, SystemDisplayControl::darkMode(), false, "Control unavailable",
            seeded},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        SimulatedSystemDisplayPreferences preferences;
        if (c.seed)
            preferences.seed(seeded);
        EXPECT_EQ(outcomeText(preferences.write(c.value, c.control)), c.outcome);
        EXPECT_EQ(runToEnd(preferences.snapshot()), c.after);
    }
}

TEST(SimulatedSystemDisplayPreferencesTest, SeedingAgainReplacesBothMaps)
{
    SimulatedSystemDisplayPreferences preferences;
    preferences.seed({.values = {{SystemDisplayControl::trueTone(), true}},
        .unavailable = {{externalAutomaticBrightness, "Not here."}}});
    const SystemDisplaySnapshot replacement{.values = {{SystemDisplayControl::darkMode(), true}}};
    preferences.seed(replacement);
    EXPECT_EQ(runToEnd(preferences.snapshot()), replacement);
    EXPECT_EQ(outcomeText(preferences.write(false, SystemDisplayControl::trueTone())),
        "Control unavailable");
}

// Before start-up applies the sample rules to them.
std::shared_ptr<AppModel> modelAfterSetUp(ModelWorld& world)
{
    auto model = world.idleModel({.simulation = true});
    spawn(world.executor, model->setupDemo());
    world.executor.runUntilIdle();
    return model;
}

TEST(DemoTest, DisplaysSpacesAndHardwareAreTheSimulatedOnes)
{
    ModelWorld world;
    const auto model = modelAfterSetUp(world);

    const std::vector<DisplayDevice> displays{
        {.id = builtIn,
            .runtimeID = 0,
            .name = "MacBook display",
            .isBuiltIn = true,
            .bounds = {.x = 0, .y = 0, .width = 1512, .height = 982},
            .maximumFramesPerSecond = 120},
        {.id = external,
            .runtimeID = 0,
            .name = "External screen 1",
            .bounds = {.x = 1512, .y = 0, .width = 2560, .height = 1440},
            .maximumFramesPerSecond = 140},
    };
    EXPECT_EQ(model->displays.get(), displays);

    const auto rate = [](std::int64_t millihertz) { return RefreshPreference::fixed(millihertz); };
    const std::vector<SettingValue> rates{SettingValue::refresh(rate(60'000)),
        SettingValue::refresh(rate(140'000)), SettingValue::refresh(RefreshPreference::adaptive())};
    const DisplayResolution small{
        .width = 1280, .height = 800, .pixelWidth = 2560, .pixelHeight = 1600};
    struct Case {
        std::string id;
        DisplayResolution resolution;
        std::string spaceID;
        std::string spaceName;
    };
    const Case cases[] = {
        {builtIn, {.width = 1512, .height = 982, .pixelWidth = 3024, .pixelHeight = 1964},
            "demo-space-1", "Space 1"},
        {external, {.width = 2560, .height = 1440, .pixelWidth = 5120, .pixelHeight = 2880},
            "demo-space-3", "Space 3"},
    };
    const HardwareSnapshot& snapshot = model->hardwareSnapshot.get();
    // The demo's own modes are confirmed, and no other.
    std::vector<VerifiedModeConfiguration> verified;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.id);
        const ModeConfiguration current{
            .refreshRate = rate(60'000), .hdr = false, .resolution = c.resolution};
        EXPECT_EQ(snapshot.currentModes.at(c.id), current);
        verified.push_back({.displayID = c.id, .environment = "simulation", .mode = current});
        std::vector<DisplayModeChoice> choices;
        for (const DisplayResolution& resolution : {c.resolution, small}) {
            for (const SettingValue& refresh : rates)
                choices.push_back({.resolution = resolution,
                    .refreshRate = std::get<SettingValue::Refresh>(refresh.value).value});
        }
        EXPECT_EQ(snapshot.modeChoices.at(c.id), choices);
        EXPECT_EQ(snapshot.environments.at(c.id), "simulation");

        const std::map<SettingKey, SettingValue> values{
            {SettingKey::brightness, SettingValue::percent(0.55)},
            {SettingKey::hdr, SettingValue::toggle(false)},
            {SettingKey::temperature, SettingValue::temperature(Temperature::neutral())},
            {SettingKey::refreshRate, SettingValue::refresh(rate(60'000))},
            {SettingKey::contrast, SettingValue::percent(0.5)},
        };
        for (const auto& [setting, value] : values) {
            const ControlKey key = keyOf(c.id, setting);
            EXPECT_EQ(model->observed->at(key), value) << rawValue(setting);
            EXPECT_EQ(runToEnd(model->simulated().read(key)), value) << rawValue(setting);
            const ControlCapability capability{.available = true,
                .reason = "Simulated device",
                .choices
                = setting == SettingKey::refreshRate ? rates : std::vector<SettingValue>{}};
            EXPECT_EQ(snapshot.capabilities.at(key), capability) << rawValue(setting);
        }

        const Desktop space{.id = c.spaceID, .name = c.spaceName, .displayID = c.id};
        const SpaceSnapshot spaces{
            .current = space, .desktops = {space}, .message = "Simulated Space"};
        EXPECT_EQ(model->spacesByDisplay->at(c.id), spaces);
    }
    EXPECT_EQ(model->observed->size(), 10u);
    EXPECT_EQ(snapshot.capabilities.size(), 10u);
    EXPECT_EQ(model->simulated().values(), model->observed.get());
    EXPECT_EQ(model->configuration->verifiedModes, verified);
}

TEST(DemoTest, StartsWithXcodeInFrontOnTheExternalScreen)
{
    ModelWorld world;
    const auto model = world.startedModel({.simulation = true});

    const RuntimeContext context{.appBundleID = "com.apple.dt.Xcode",
        .focusedDisplayID = external,
        .displays = {{.id = builtIn, .activeSpaceID = "demo-space-1"},
            {.id = external, .activeSpaceID = "demo-space-3"}}};
    EXPECT_EQ(model->context.get(), context);
    EXPECT_EQ(model->currentAppName.get(), "Xcode");
    EXPECT_EQ(model->focusMessage.get(), "Simulated focused window");
    EXPECT_TRUE(model->hasWindowAccess.get());

    const SystemDisplaySnapshot preferences{.values
        = {{SystemDisplayControl::trueTone(), false}, {SystemDisplayControl::darkMode(), false},
            {SystemDisplayControl::nightShift(), false}, {builtInAutomaticBrightness, false}},
        .unavailable = {{externalAutomaticBrightness,
            "Ambient-light brightness control is not supported on this screen."}}};
    EXPECT_EQ(model->systemDisplaySnapshot.get(), preferences);
    EXPECT_EQ(runToEnd(model->simulatedSystemDisplay().snapshot()), preferences);
    EXPECT_EQ(
        model->configuration->defaultProfile().capturedDisplayPreferences, preferences.values);
}

// Leaves out what each set-up makes new: the identifiers.
struct SampleRule {
    std::string profile;
    std::string rule;
    RuleConditions conditions;
    RuleSettings settings;
    bool operator==(const SampleRule&) const = default;
};

std::vector<SampleRule> sampleRules(const Configuration& configuration)
{
    std::vector<SampleRule> rules;
    for (const Profile& profile : configuration.profiles) {
        if (profile.id == configuration.defaultProfileID)
            continue;
        EXPECT_FALSE(profile.displayPreferences) << profile.name;
        EXPECT_FALSE(profile.capturedDisplayPreferences) << profile.name;
        EXPECT_FALSE(profile.defaultSettings) << profile.name;
        for (const Rule& rule : profile.rules) {
            EXPECT_TRUE(rule.isEnabled) << rule.name;
            rules.push_back({profile.name, rule.name, rule.conditions, rule.settings});
        }
    }
    return rules;
}

std::vector<SampleRule> expectedSamples(const std::string& externalName)
{
    const ApplicationReference xcode{.id = "com.apple.dt.Xcode", .name = "Xcode"};
    const DisplayReference screen{.id = external, .name = externalName};
    const Desktop space3{.id = "demo-space-3", .name = "Space 3", .displayID = external};
    const std::string work = "Work · sample";
    return {
        {work, "Deep focus", {.apps = {xcode}, .screen = screen, .space = space3},
            {.brightness = 0.6}},
        {work, "Coding", {.apps = {xcode}}, {.brightness = 0.7}},
        {work, "External screen", {.screen = screen},
            {.brightness = 0.85,
                .hdr = true,
                .temperature = Temperature::kelvin(5600),
                .refreshRate = RefreshPreference::fixed(140'000),
                .contrast = 0.7}},
        {work, "Browsing", {.apps = {{.id = "com.apple.Safari", .name = "Safari"}}},
            {.brightness = 0.55, .temperature = Temperature::kelvin(5000)}},
        {"Evening · sample", "Evening settings", {},
            {.brightness = 0.35, .temperature = Temperature::kelvin(4300)}},
    };
}

TEST(DemoTest, SampleProfilesCarryTheScreenNamesInUse)
{
    struct Case {
        const char* what;
        std::optional<std::map<std::string, std::string>> names;
        std::string builtInName;
        std::string externalName;
    };
    const Case cases[] = {
        {"default names", std::nullopt, "MacBook display", "External screen 1"},
        {"user's name for the external screen",
            std::map<std::string, std::string>{{external, "Desk"}}, "MacBook display", "Desk"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ModelWorld world;
        const auto path = world.home.path() / "demo.json";
        Configuration written;
        written.displayNames = c.names;
        {
            SettingsStore store(path);
            (void)runToEnd(store.load());
            runToEnd(store.save(written));
        }
        const auto model = world.startedModel({.simulation = true, .settingsURL = path});
        const Configuration& configuration = model->configuration.get();

        EXPECT_EQ(model->displays->at(0).name, c.builtInName);
        EXPECT_EQ(model->displays->at(1).name, c.externalName);
        EXPECT_EQ(configuration.knownDisplays,
            (std::vector<DisplayReference>{
                {.id = builtIn, .name = c.builtInName}, {.id = external, .name = c.externalName}}));
        std::vector<SampleRule> expected = expectedSamples(c.externalName);
        EXPECT_EQ(sampleRules(configuration), expected);

        ASSERT_EQ(configuration.profiles.size(), 3u);
        const Profile& work = configuration.profiles[1];
        EXPECT_EQ(configuration.activeProfileID, work.id);
        EXPECT_EQ(model->selectedProfileID.get(), work.id);
        EXPECT_TRUE(configuration.automationEnabled);
        EXPECT_EQ(configurationIn(path), configuration) << "start saves the demo document";
    }
}

// These rest on operations built beside the demo: the Default capture and the display-preference
// requests.
TEST(DemoTest, DefaultsAreCapturedFromTheSimulatedValues)
{
    ModelWorld world;
    const auto model = world.startedModel({.simulation = true});
    const DefaultSettings defaults = model->configuration->defaultSettings();

    EXPECT_EQ(defaults.initializedDisplayIDs, (std::set<std::string>{builtIn, external}));
    EXPECT_EQ(defaults.value(keyOf(external, SettingKey::brightness)), SettingValue::percent(0.55));
    const std::map<SystemDisplayControl, bool> requests{{SystemDisplayControl::trueTone(), false},
        {SystemDisplayControl::darkMode(), false}, {SystemDisplayControl::nightShift(), false},
        {builtInAutomaticBrightness, false}};
    EXPECT_EQ(model->lastSystemDisplayRequests.get(), requests);
}

} // namespace
} // namespace quorvane
