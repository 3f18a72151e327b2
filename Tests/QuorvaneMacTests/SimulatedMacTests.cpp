#include "Concurrency/ManualExecutor.h"
#include "MacPlatform/SkyLight.h"
#include "SimulatedMac/SimulatedMac.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <optional>
#include <vector>

namespace quorvane {
namespace {

TEST(SimulatedMacTest, SymbolsAndMethodsRefuseTheWrongSignature)
{
    ManualExecutor executor;
    SimulatedMac mac(executor);
    mac.loader.image("/Frameworks/Panel").define<std::int32_t(std::uint32_t, float*)>(
        "GetLevel", [](std::uint32_t, float* level) {
            *level = 0.5f;
            return 0;
        });
    DynamicLoader& loader = mac.platform().loader;
    const auto image = loader.open("/Frameworks/Panel", DynamicLoader::lazyLocal);
    ASSERT_TRUE(image);
    EXPECT_FALSE(loader.open("/Frameworks/Missing", DynamicLoader::lazyLocal));
    EXPECT_FALSE(loader.symbol<std::int32_t(std::uint32_t, float*)>(*image, "Missing"));
    EXPECT_THROW((void)loader.symbol<std::int32_t(std::uint32_t, double*)>(*image, "GetLevel"), PlatformMisuse);

    mac.objects.defineClass("Client").define<bool(ObjectInstance)>(
        "enabled", MethodShape{.argumentCount = 2, .returnType = "B", .argumentTypes = {"@", ":"}}, [](ObjectInstance) { return true; });
    ObjectRuntime& objects = mac.platform().objects;
    const auto client = objects.createInstance(*objects.classNamed("Client"));
    ASSERT_TRUE(client);
    EXPECT_TRUE((*objects.implementation<bool(ObjectInstance)>(*client, "enabled"))(*client));
    EXPECT_THROW((void)objects.implementation<int(ObjectInstance)>(*client, "enabled"), PlatformMisuse);
    EXPECT_EQ(mac.objects.liveCreatedInstances(), 1);
    objects.release(*client);
    EXPECT_EQ(mac.objects.liveCreatedInstances(), 0);
    EXPECT_THROW(objects.release(*client), PlatformMisuse);
}

TEST(SimulatedMacTest, LowResolutionDuplicatesAreListedOnlyWhenAskedFor)
{
    ManualExecutor executor;
    SimulatedMac mac(executor);
    addDefaultDisplays(mac.world);
    const auto mode = [](std::int32_t id, std::int64_t width, std::int64_t pixelWidth) {
        return GraphicsDisplayMode{.width = width,
            .height = width / 2,
            .pixelWidth = pixelWidth,
            .pixelHeight = pixelWidth / 2,
            .ioDisplayModeID = id,
            .refreshRate = 60};
    };
    // 1600 points also at 3200 pixels; 1280 only at one pixel per point; 1024 also at fewer.
    mac.world.display(1)->modes = {mode(1, 1600, 3200), mode(2, 1600, 1600), mode(3, 1280, 1280),
        mode(4, 1024, 1024), mode(5, 1024, 800)};
    const auto listed = [&](bool includeLowResolutionDuplicates) {
        const std::optional<std::vector<GraphicsDisplayMode>> modes
            = mac.platform().graphics.allModes(1, includeLowResolutionDuplicates);
        std::vector<std::int32_t> ids;
        for (const GraphicsDisplayMode& listed : modes.value())
            ids.push_back(listed.ioDisplayModeID);
        return ids;
    };
    EXPECT_EQ(listed(false), (std::vector<std::int32_t>{1, 3, 4, 5}));
    EXPECT_EQ(listed(true), (std::vector<std::int32_t>{1, 2, 3, 4, 5}));
}

TEST(PlatformValueTest, ReadsNumberObjectsAsIntegersOnlyWithinRange)
{
    constexpr double twoToThe63 = 9223372036854775808.0;
    const struct {
        PlatformValue value;
        std::optional<std::int64_t> expected;
    } cases[] = {
        {PlatformValue::integer(-7), -7},
        {PlatformValue::real(2.9), 2},
        {PlatformValue::real(-2.9), -2},
        {PlatformValue::real(-twoToThe63), std::numeric_limits<std::int64_t>::min()},
        {PlatformValue::real(twoToThe63), std::nullopt},
        {PlatformValue::real(-twoToThe63 * 2), std::nullopt},
        {PlatformValue::real(std::numeric_limits<double>::quiet_NaN()), std::nullopt},
        {PlatformValue::real(std::numeric_limits<double>::infinity()), std::nullopt},
        {PlatformValue::text("2"), std::nullopt},
        {PlatformValue::boolean(true), std::nullopt},
    };
    for (const auto& [value, expected] : cases)
        EXPECT_EQ(value.integerValue(), expected);
}

TEST(PlatformValueTest, NestedPropertyListsCompareToTheirDepth)
{
    const auto topology = [](std::int64_t spaceNumber) {
        return PropertyList::array({PropertyList::dictionary(
            {{"Spaces", PropertyList::array({PropertyList::integer(spaceNumber)})}})});
    };
    EXPECT_EQ(topology(4), topology(4));
    EXPECT_NE(topology(4), topology(5));
    EXPECT_NE(topology(4), PropertyList::array({}));
}

} // namespace
} // namespace quorvane
