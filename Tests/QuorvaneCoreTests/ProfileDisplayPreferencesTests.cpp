#include "ModelFixtures.h"
#include "QuorvaneCore/Configuration.h"
#include "QuorvaneCore/ProfileDisplayPreferences.h"
#include "QuorvaneCore/SystemDisplayBackend.h"

#include <gtest/gtest.h>

#include <functional>

using namespace quorvane;

namespace {

static_assert(std::is_abstract_v<SystemDisplayBackend>);

const SystemDisplayControl trueTone = SystemDisplayControl::trueTone();
const SystemDisplayControl darkMode = SystemDisplayControl::darkMode();
const SystemDisplayControl nightShift = SystemDisplayControl::nightShift();

SystemDisplayControl automaticBrightness(std::string displayID)
{
    return SystemDisplayControl::automaticBrightness(std::move(displayID));
}

/// A Default profile (id 1) asking for Dark Mode and Night Shift, having captured automatic
/// brightness on for display A and off for B; a profile "Work" (id 2) turning Night Shift off.
Configuration documentWithPreferences()
{
    const ScopedUUIDGenerator identifiers(sequentialUUIDGenerator());
    Configuration configuration;
    Profile& defaultProfile = configuration.profiles[0];
    defaultProfile.displayPreferences = {.darkMode = true, .nightShift = true};
    defaultProfile.capturedDisplayPreferences
        = {{{automaticBrightness("A"), true}, {automaticBrightness("B"), false}}};
    configuration.profiles.push_back({
        .id = UUID::random(),
        .name = "Work",
        .displayPreferences = ProfileDisplayPreferences{.nightShift = false},
        // A profile's own captured values are never consulted.
        .capturedDisplayPreferences = {{{trueTone, true}}},
    });
    return configuration;
}

const std::set<SystemDisplayControl> everyControl{trueTone, darkMode, nightShift,
    automaticBrightness("A"), automaticBrightness("B"), automaticBrightness("C")};

} // namespace

TEST(SystemDisplayControlTest, AutomaticBrightnessIsOneControlPerDisplay)
{
    const std::hash<SystemDisplayControl> hash;
    EXPECT_EQ(trueTone, SystemDisplayControl::trueTone());
    EXPECT_NE(automaticBrightness("A"), automaticBrightness("B"));
    EXPECT_NE(hash(automaticBrightness("A")), hash(automaticBrightness("B")));
    EXPECT_NE(hash(trueTone), hash(darkMode));
    EXPECT_EQ(automaticBrightness("A").title(), "Automatically adjust brightness");

    const ProfileDisplayPreferences preferences{.automaticBrightness = false};
    EXPECT_EQ(preferences.value(automaticBrightness("any")), false);
    EXPECT_EQ(preferences.value(trueTone), std::nullopt);
}

TEST(SystemDisplayRequestsTest, ProfileThenDefaultProfileThenCapturedState)
{
    const Configuration configuration = documentWithPreferences();
    const std::map<SystemDisplayControl, bool> expected{{darkMode, true}, {nightShift, false},
        {automaticBrightness("A"), true}, {automaticBrightness("B"), false}};
    EXPECT_EQ(
        configuration.systemDisplayRequests(configuration.profiles[1], everyControl), expected);
}

TEST(SystemDisplayRequestsTest, OneAutomaticBrightnessValueCoversEveryDisplay)
{
    Configuration configuration = documentWithPreferences();
    configuration.profiles[1].displayPreferences->automaticBrightness = true;
    const auto requests
        = configuration.systemDisplayRequests(configuration.profiles[1], everyControl);
    EXPECT_EQ(requests.at(automaticBrightness("B")), true);
    EXPECT_EQ(requests.at(automaticBrightness("C")), true);
}

TEST(SystemDisplayRequestsTest, UnknownDefaultIDFallsBackToTheFirstProfile)
{
    Configuration configuration = documentWithPreferences();
    configuration.defaultProfileID = uuidNumber(99);
    const Profile bare{.id = uuidNumber(50), .name = "Bare"};
    EXPECT_EQ(configuration.systemDisplayRequests(bare, {darkMode, trueTone}),
        (std::map<SystemDisplayControl, bool>{{darkMode, true}}));
}

TEST(CaptureSystemDisplayDefaultsTest, RecordsOnlyControlsReportedForTheFirstTime)
{
    Configuration configuration = documentWithPreferences();
    configuration.profiles[0].capturedDisplayPreferences.reset();
    const Configuration original = configuration;
    EXPECT_FALSE(configuration.captureSystemDisplayDefaults({}));
    EXPECT_EQ(configuration, original) << "an empty capture leaves the map absent";

    EXPECT_FALSE(
        configuration.captureSystemDisplayDefaults({.unavailable = {{darkMode, "Not supported"}}}));
    EXPECT_TRUE(configuration.captureSystemDisplayDefaults({.values = {{darkMode, true}}}));
    EXPECT_FALSE(configuration.captureSystemDisplayDefaults({.values = {{darkMode, false}}}));
    EXPECT_TRUE(configuration.captureSystemDisplayDefaults(
        {.values = {{darkMode, false}, {automaticBrightness("A"), false}}}));
    EXPECT_EQ(configuration.profiles[0].capturedDisplayPreferences,
        (std::map<SystemDisplayControl, bool>{
            {darkMode, true}, {automaticBrightness("A"), false}}));
}

TEST(CaptureSystemDisplayDefaultsTest, UnknownDefaultIDCapturesNothing)
{
    Configuration configuration = documentWithPreferences();
    configuration.defaultProfileID = uuidNumber(99);
    const Configuration original = configuration;
    EXPECT_FALSE(configuration.captureSystemDisplayDefaults({.values = {{trueTone, true}}}));
    EXPECT_EQ(configuration, original);
}
