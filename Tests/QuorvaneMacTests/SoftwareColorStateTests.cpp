#include "QuorvaneMac/SoftwareColorState.h"

#include "Concurrency/ManualExecutor.h"
#include "SimulatedMac/SimulatedGamma.h"
#include "SimulatedMac/SimulatedMac.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

namespace quorvane {
namespace {

const GammaChannel identity5{0, 0.25, 0.5, 0.75, 1};

SoftwareColorState stateOf(GammaTableSet baseline, Temperature temperature, double contrast)
{
    return SoftwareColorState{.baseline = std::move(baseline),
        .applied = std::nullopt,
        .temperature = temperature,
        .contrast = contrast};
}

void expectNear(const GammaChannel& actual, const GammaChannel& expected, double tolerance)
{
    ASSERT_EQ(actual.size(), expected.size());
    for (std::size_t index = 0; index < actual.size(); ++index) {
        SCOPED_TRACE(index);
        EXPECT_NEAR(actual[index], expected[index], tolerance);
    }
}

std::string errorOf(const auto& call)
{
    try {
        call();
    } catch (const std::exception& error) {
        return error.what();
    }
    return "done";
}

TEST(SoftwareColorStateTest, KelvinGivesTheseChannelGains)
{
    struct Case {
        Temperature temperature;
        float red, green, blue;
    };
    const Case cases[] = {
        {Temperature::neutral(), 1, 1, 1},
        {Temperature::kelvin(6500), 1, 1, 1},
        {Temperature::kelvin(2500), 1, 0.682355f, 0.216792f},
        {Temperature::kelvin(3000), 1, 0.733978f, 0.290224f},
        {Temperature::kelvin(5000), 1, 0.900373f, 0.657190f},
        {Temperature::kelvin(6499), 1, 0.999938f, 0.999754f},
        {Temperature::kelvin(8000), 0.829547f, 0.959323f, 1},
        {Temperature::kelvin(10000), 0.678613f, 0.917451f, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.temperature.label());
        // One entry per channel is only scaled, whatever the contrast.
        const GammaTableSet tables = stateOf({{1}, {1}, {1}}, c.temperature, 0.9).transformed();
        ASSERT_EQ(tables.size(), 3u);
        expectNear(tables[0], {c.red}, 5e-7);
        expectNear(tables[1], {c.green}, 5e-7);
        expectNear(tables[2], {c.blue}, 5e-7);
    }
}

TEST(SoftwareColorStateTest, ContrastRemapsAlongAnSCurve)
{
    struct Case {
        double contrast;
        GammaChannel expected;
    };
    const Case cases[] = {
        {1, {0, 0.125, 0.5, 0.875, 1}},
        {0, {0, 0.353553f, 0.5, 0.646447f, 1}},
        {0.75, {0, 0.1876071f, 0.5, 0.8123929f, 1}},
        {0.5, identity5},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.contrast);
        const GammaTableSet tables
            = stateOf({identity5, identity5, identity5}, Temperature::neutral(), c.contrast)
                  .transformed();
        for (const GammaChannel& channel : tables)
            expectNear(channel, c.expected, 5e-7);
    }
}

TEST(SoftwareColorStateTest, WarmthAndContrastCombinePerChannel)
{
    // A non-linear baseline catches a remap that interpolates the wrong neighbours.
    const GammaChannel baseline{0.1f, 0.2f, 0.6f, 0.7f, 0.9f};
    const GammaTableSet tables
        = stateOf({baseline, baseline, baseline}, Temperature::kelvin(3000), 1).transformed();
    const GammaChannel remapped{0.1f, 0.15f, 0.6f, 0.8f, 0.9f};
    const float gains[] = {1, 0.733978f, 0.290224f};
    for (std::size_t channel = 0; channel < 3; ++channel) {
        SCOPED_TRACE(channel);
        GammaChannel expected;
        for (const float entry : remapped)
            expected.push_back(gains[channel] * entry);
        expectNear(tables[channel], expected, 1e-6);
    }
}

TEST(SoftwareColorStateTest, TheNeutralStateIsTheBaselineExactly)
{
    const GammaTableSet baseline{{0.3f, 0.1f, 0.9f}, {0.2f, 0.2f}, {}};
    EXPECT_EQ(stateOf(baseline, Temperature::neutral(), 0.5).transformed(), baseline);
    EXPECT_EQ(stateOf(baseline, Temperature::kelvin(6500), 0.5).transformed(), baseline);
    // Not a number would make every sample position undefined: it keeps the shape.
    EXPECT_EQ(stateOf(baseline, Temperature::neutral(), std::nan("")).transformed(), baseline);
}

TEST(SoftwareColorStateTest, OnlyRedGreenAndBlueChannelsAreKept)
{
    const GammaTableSet four{identity5, identity5, identity5, identity5};
    EXPECT_EQ(stateOf(four, Temperature::neutral(), 0.5).transformed().size(), 3u);
    const GammaTableSet two{identity5, {0.5f}};
    const GammaTableSet transformed = stateOf(two, Temperature::kelvin(2500), 0.5).transformed();
    ASSERT_EQ(transformed.size(), 2u);
    expectNear(transformed[1], {0.5f * 0.682355f}, 5e-7);
}

TEST(SoftwareColorStateTest, TablesMatchWithinThreeThousandths)
{
    struct Case {
        const char* name;
        GammaTableSet a;
        GammaTableSet b;
        bool isEqual;
    };
    const Case cases[] = {
        {"0.002 apart", {{0.5f, 0.1f}, {0.2f}}, {{0.502f, 0.1f}, {0.2f}}, true},
        {"0.002 below", {{0.5f}}, {{0.498f}}, true},
        {"0.004 apart", {{0.5f, 0.1f}, {0.2f}}, {{0.5f, 0.104f}, {0.2f}}, false},
        {"0.004 below", {{0.5f}}, {{0.496f}}, false},
        {"different lengths", {{0.5f, 0.1f}}, {{0.5f}}, false},
        {"different channel counts", {{0.5f}, {0.5f}}, {{0.5f}}, false},
        {"not a number", {{std::nanf("")}}, {{std::nanf("")}}, false},
        {"both empty", {}, {}, true},
        {"empty channels", {{}, {}}, {{}, {}}, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(SoftwareColorState::tablesEqual(c.a, c.b), c.isEqual);
        EXPECT_EQ(SoftwareColorState::tablesEqual(c.b, c.a), c.isEqual);
    }
}

struct GammaIOTest : ::testing::Test {
    GammaIOTest() { addDefaultDisplays(mac.world); }

    ManualExecutor executor;
    SimulatedMac mac{executor};
};

TEST_F(GammaIOTest, ReadsAsManySamplesAsTheDisplayReports)
{
    mac.world.display(1)->gammaCapacity = 4;
    const GammaTable foreign{
        .red = {0, 0.2f, 0.4f}, .green = {0, 0.3f, 0.5f}, .blue = {0, 0.1f, 0.2f}};
    writeGammaFromAnotherProgram(mac.world, "37d8832a-2d66-02ca-b9f7-8f30a301b230", foreign);
    EXPECT_EQ(
        readGamma(mac.graphics, 1), (GammaTableSet{foreign.red, foreign.green, foreign.blue}));

    mac.world.display(2)->gammaCapacity = 16384;
    EXPECT_EQ(readGamma(mac.graphics, 2)[2].size(), 16384u);
}

TEST_F(GammaIOTest, RefusesTablesItCannotReadSafely)
{
    struct Case {
        const char* name;
        void (*change)(SimulatedDisplay&);
        const char* error;
    };
    const Case cases[] = {
        {"no capacity", [](SimulatedDisplay& display) { display.gammaCapacity = 0; },
            "Color transfer tables unavailable"},
        {"capacity too large", [](SimulatedDisplay& display) { display.gammaCapacity = 16385; },
            "Color transfer tables unavailable"},
        {"call fails", [](SimulatedDisplay& display) { display.isOnline = false; },
            "Color transfer table read failed"},
        {"no samples", [](SimulatedDisplay& display) { display.reportedGammaSampleCount = 0; },
            "Color transfer table read failed"},
        {"more samples than capacity",
            [](SimulatedDisplay& display) { display.reportedGammaSampleCount = 1025; },
            "Color transfer table read failed"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SimulatedDisplay& display = mac.world.displays.at(0);
        const SimulatedDisplay before = display;
        c.change(display);
        EXPECT_EQ(errorOf([&] { (void)readGamma(mac.graphics, 1); }), c.error);
        display = before;
    }
    mac.world.display(1)->reportedGammaSampleCount = 1024;
    EXPECT_EQ(readGamma(mac.graphics, 1)[0].size(), 1024u);
}

TEST_F(GammaIOTest, WritesOnlyThreeChannelsOfOneLength)
{
    const GammaTableSet written{{0, 0.4f, 0.8f}, {0, 0.5f, 1}, {0, 0.3f, 0.6f}};
    writeGamma(mac.graphics, written, 1);
    EXPECT_EQ(readGamma(mac.graphics, 1), written);

    const GammaTableSet malformed[] = {
        {{0, 0.5f, 1}, {0, 0.5f}, {0, 0.5f, 1}},
        {{0, 0.5f, 1}, {0, 0.5f, 1}, {0, 0.5f}},
        {{0, 0.5f, 1}, {0, 0.5f, 1}},
        {{0, 0.5f}, {0, 0.5f}, {0, 0.5f}, {0, 0.5f}},
        {},
    };
    for (const GammaTableSet& tables : malformed) {
        SCOPED_TRACE(tables.size());
        EXPECT_EQ(errorOf([&] { writeGamma(mac.graphics, tables, 1); }),
            "Color transfer tables unavailable");
        EXPECT_EQ(readGamma(mac.graphics, 1), written);
    }
}

TEST_F(GammaIOTest, AFailedWriteIsAColorTransformOperationError)
{
    mac.world.display(1)->gammaCapacity = 2;
    EXPECT_EQ(errorOf([&] {
        writeGamma(mac.graphics, {{0, 0.5f, 1}, {0, 0.5f, 1}, {0, 0.5f, 1}}, 1);
    }),
        "Brightness color transform failed (1001). Try again after waking the display or changing "
        "its reference mode.");
}

} // namespace
} // namespace quorvane
