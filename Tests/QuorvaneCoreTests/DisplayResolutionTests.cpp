#include "ModelFixtures.h"
#include "QuorvaneCore/Configuration.h"
#include "QuorvaneCore/DisplayResolution.h"

#include <gtest/gtest.h>

using namespace quorvane;

namespace {

DisplayResolution resolution(
    std::int64_t width, std::int64_t height, std::int64_t pixelWidth, std::int64_t pixelHeight)
{
    return {.width = width, .height = height, .pixelWidth = pixelWidth, .pixelHeight = pixelHeight};
}

const DisplayResolution fullHD = resolution(1920, 1080, 1920, 1080);
const DisplayResolution retina = resolution(1512, 982, 3024, 1964);

ProfileDisplayPreferences resolutions(std::map<std::string, DisplayResolution> byDisplay)
{
    return {.resolutions = std::move(byDisplay)};
}

/// The default document with its Default profile (id 1) first and a profile "Work" (id 2).
Configuration documentWithWorkProfile()
{
    const ScopedUUIDGenerator identifiers(sequentialUUIDGenerator());
    Configuration configuration;
    configuration.profiles.push_back({.id = UUID::random(), .name = "Work"});
    return configuration;
}

} // namespace

TEST(DisplayResolutionTest, IsValidWithinBoundsAndWithNoFewerPixelsThanPoints)
{
    struct Case {
        const char* name;
        DisplayResolution resolution;
        bool isValid;
    };
    const Case cases[] = {
        {"equal pixels", fullHD, true},
        {"largest size", resolution(65536, 1, 65536, 1), true},
        {"zero width", resolution(0, 1080, 1920, 1080), false},
        {"too large pixel height", resolution(1920, 1080, 1920, 65537), false},
        {"fewer pixels than points", resolution(1920, 1080, 1280, 720), false},
        {"fewer pixels on one axis", resolution(1920, 1080, 3840, 720), false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(c.resolution.isValid(), c.isValid);
    }
}

TEST(DisplayResolutionTest, LabelsMarkHiDPIOnEitherAxis)
{
    EXPECT_EQ(fullHD.label(), "1920 × 1080");
    EXPECT_EQ(retina.label(), "1512 × 982 · HiDPI");
    EXPECT_EQ(retina.pixelLabel(), "3024 × 1964 pixels");
    EXPECT_TRUE(resolution(1920, 1080, 1920, 1200).isHiDPI());
}

TEST(DisplayResolutionTest, ProfileResolutionFallsBackToTheDefaultProfile)
{
    Configuration configuration = documentWithWorkProfile();
    configuration.profiles[0].displayPreferences = resolutions({{"A", fullHD}, {"B", fullHD}});
    configuration.profiles[1].displayPreferences = resolutions({{"A", retina}});
    const Profile work = configuration.profiles[1];
    EXPECT_EQ(configuration.displayResolution(work, "A"), retina);
    EXPECT_EQ(configuration.displayResolution(work, "B"), fullHD);
    EXPECT_EQ(configuration.displayResolution(work, "C"), std::nullopt);
    EXPECT_EQ(configuration.displayResolution(configuration.profiles[0], "A"), fullHD);
}

TEST(DisplayResolutionTest, CaptureFillsOnlyMissingValidResolutions)
{
    Configuration configuration = documentWithWorkProfile();
    const Configuration original = configuration;
    EXPECT_FALSE(configuration.captureResolutionDefaults(
        {{"A", {.hdr = true}}, {"B", {.resolution = resolution(1920, 1080, 0, 0)}}}));
    EXPECT_EQ(configuration, original) << "no preferences are created when nothing is captured";

    EXPECT_TRUE(configuration.captureResolutionDefaults({{"A", {.resolution = retina}}}));
    EXPECT_EQ(configuration.profiles[0].displayPreferences, resolutions({{"A", retina}}));

    EXPECT_FALSE(configuration.captureResolutionDefaults({{"A", {.resolution = fullHD}}}));
    EXPECT_EQ(configuration.displayResolution(configuration.profiles[0], "A"), retina);

    configuration.defaultProfileID = uuidNumber(99);
    const Configuration withoutDefault = configuration;
    EXPECT_FALSE(configuration.captureResolutionDefaults({{"B", {.resolution = fullHD}}}));
    EXPECT_EQ(configuration, withoutDefault);
}

TEST(DisplayResolutionTest, CaptureKeepsTheDefaultProfilesPreferenceFlags)
{
    Configuration configuration = documentWithWorkProfile();
    configuration.profiles[0].displayPreferences = ProfileDisplayPreferences{.darkMode = true};
    EXPECT_TRUE(configuration.captureResolutionDefaults({{"A", {.resolution = fullHD}}}));
    EXPECT_EQ(configuration.profiles[0].displayPreferences,
        (ProfileDisplayPreferences{.darkMode = true, .resolutions = {{{"A", fullHD}}}}));
}
