#include "AppModelTestSupport.h"
#include "QuorvaneCore/SettingsStore.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <functional>
#include <string>

namespace quorvane {
namespace {

nlohmann::json fileOf(const AppModel& model)
{
    return nlohmann::json::parse(contentsOf(model.settingsURL).value_or("{}"));
}

TEST(PreferencesTest, EachChangeIsStoredAndWrittenToTheFile)
{
    struct Case {
        const char* name;
        std::function<void(AppPreferences&)> edit;
        const char* key;
        nlohmann::json written;
    };
    const Case cases[] = {
        {"hold until Resume", [](AppPreferences& p) { p.holdMinutes = 0; }, "holdMinutes", 0},
        {"hold an hour", [](AppPreferences& p) { p.holdMinutes = 60; }, "holdMinutes", 60},
        {"no smooth transitions", [](AppPreferences& p) { p.smoothTransitions = false; },
            "smoothTransitions", false},
        {"no debounce", [](AppPreferences& p) { p.debounceEnabled = false; },
            "debounceMilliseconds", 0},
        {"keys on", [](AppPreferences& p) { p.brightnessKeysEnabled = true; },
            "brightnessKeysEnabled", true},
        {"step ten", [](AppPreferences& p) { p.brightnessKeyStep = BrightnessKeyStep::ten; },
            "brightnessKeyStep", 10},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ModelWorld world;
        auto model = world.startedModel();
        AppPreferences preferences = AppPreferences::of(*model->configuration);
        c.edit(preferences);
        model->savePreferences(preferences);
        EXPECT_EQ(AppPreferences::of(*model->configuration), preferences);
        world.executor.runUntilIdle();
        EXPECT_EQ(fileOf(*model).at(c.key), c.written);
    }
}

TEST(PreferencesTest, DebounceOnGivesTheStandardWaitAndAnUnchangedSwitchKeepsTheFilesWait)
{
    ModelWorld world;
    auto model = world.startedModel();
    model->configuration.modify([](Configuration& c) { c.debounceMilliseconds = 1200; });
    AppPreferences preferences = AppPreferences::of(*model->configuration);
    preferences.smoothTransitions = false;
    model->savePreferences(preferences);
    EXPECT_EQ(model->configuration->debounceMilliseconds, 1200);

    preferences.debounceEnabled = false;
    model->savePreferences(preferences);
    EXPECT_EQ(model->configuration->debounceMilliseconds, 0);
    preferences.debounceEnabled = true;
    model->savePreferences(preferences);
    EXPECT_EQ(model->configuration->debounceMilliseconds, 300);
}

TEST(PreferencesTest, RefusedWhileUnloadedAfterASettingsErrorAndForALengthTheFileCannotHold)
{
    struct Case {
        const char* name;
        bool start;
        bool fail;
        std::int64_t holdMinutes;
    };
    const Case cases[] = {
        {"unloaded", false, false, 5},
        {"settings error", true, true, 5},
        {"ten minutes", true, false, 10},
        {"negative", true, false, -5},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ModelWorld world;
        auto model = c.start ? world.startedModel() : world.idleModel();
        if (c.fail)
            model->settingsError.set("The settings file is damaged.");
        const Configuration before = *model->configuration;
        const std::size_t writes = model->settingsStore().writeCount();
        AppPreferences preferences = AppPreferences::of(before);
        preferences.holdMinutes = c.holdMinutes;
        preferences.smoothTransitions = !before.smoothTransitions;
        model->savePreferences(preferences);
        world.executor.runUntilIdle();
        EXPECT_EQ(*model->configuration, before);
        EXPECT_EQ(model->settingsStore().writeCount(), writes);
    }
}

TEST(PreferencesTest, TheBrightnessKeysFollowTheSwitchAtOnce)
{
    ModelWorld world;
    auto model = world.startedModel();
    ASSERT_EQ(*model->brightnessKeyStatus, BrightnessKeyStatus::off);
    AppPreferences preferences = AppPreferences::of(*model->configuration);
    preferences.brightnessKeysEnabled = true;
    model->savePreferences(preferences);
    // Wanted, but this Mac has no built-in display to adjust.
    EXPECT_EQ(*model->brightnessKeyStatus, BrightnessKeyStatus::unavailable);
    preferences.brightnessKeysEnabled = false;
    model->savePreferences(preferences);
    EXPECT_EQ(*model->brightnessKeyStatus, BrightnessKeyStatus::off);
}

} // namespace
} // namespace quorvane
