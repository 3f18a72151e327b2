#include "QuorvaneMac/NativeBrightness.h"

#include "Concurrency/ManualExecutor.h"
#include "QuorvaneCore/BrightnessDriver.h"
#include "QuorvaneMac/ConnectedDisplayBackend.h"
#include "SimulatedMac/SimulatedDisplayServices.h"
#include "SimulatedMac/SimulatedMac.h"
#include "TestSupport/RunToEnd.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>

namespace quorvane {
namespace {

using namespace std::chrono_literals;

constexpr const char* builtInUUID = "37D8832A-2D66-02CA-B9F7-8F30A301B230";
constexpr const char* adapterMissing = "This macOS version does not expose the brightness adapter.";
constexpr const char* controlMissing = "Brightness control is unavailable on this macOS version.";
constexpr const char* invalidBrightness = "Brightness must be a finite value between 0 and 100%.";
constexpr const char* gone = "The display is disconnected or asleep.";

const BuiltInDisplay builtIn{.id = 1, .uuid = "37d8832a-2d66-02ca-b9f7-8f30a301b230"};

struct NativeBrightnessTest : ::testing::Test {
    NativeBrightnessTest()
    {
        addDefaultDisplays(mac.world);
        services = installDisplayServicesDefaults(mac);
    }

    float& panel() { return services->brightness.at("37d8832a-2d66-02ca-b9f7-8f30a301b230"); }

    ManualExecutor executor;
    SimulatedMac mac{executor};
    std::shared_ptr<SimulatedDisplayServices> services;
};

TEST_F(NativeBrightnessTest, ReadsAndWritesTheBuiltInPanel)
{
    NativeBrightness native(mac.platform());
    EXPECT_TRUE(native.symbolsAvailable());
    EXPECT_EQ(runToEnd(native.read(builtIn)), 0.75);
    runToEnd(native.write(0.3, builtIn));
    EXPECT_EQ(panel(), 0.3f);
    EXPECT_EQ(runToEnd(native.read(builtIn)), static_cast<double>(0.3f));
    EXPECT_EQ(mac.loader.openModes(), std::vector<int>{DynamicLoader::lazyLocal});
}

TEST_F(NativeBrightnessTest, AMissingFrameworkOrFunctionMakesBrightnessUnavailable)
{
    struct Case {
        const char* name;
        const char* removedSymbol; ///< null: the whole image goes
        const char* readError;
        const char* writeError;
    };
    const Case cases[] = {
        {"no framework", nullptr, adapterMissing, controlMissing},
        {"no getter", "DisplayServicesGetBrightness", adapterMissing, "done"},
        {"no setter", "DisplayServicesSetBrightness", "done", controlMissing},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ManualExecutor executor;
        SimulatedMac mac(executor);
        addDefaultDisplays(mac.world);
        installDisplayServicesDefaults(mac);
        if (c.removedSymbol)
            mac.loader.image(displayServicesImagePath).symbols.erase(c.removedSymbol);
        else
            mac.loader.removeImage(displayServicesImagePath);
        NativeBrightness native(mac.platform());
        EXPECT_FALSE(native.symbolsAvailable());
        EXPECT_EQ(outcomeOf(native.read(builtIn)).summary(), c.readError);
        EXPECT_EQ(outcomeOf(native.write(0.5, builtIn)).summary(), c.writeError);
    }
}

TEST_F(NativeBrightnessTest, RefusesAValueOutsideZeroToOneBeforeAnythingElse)
{
    mac.loader.removeImage(displayServicesImagePath);
    NativeBrightness missing(mac.platform());
    const double values[] = {1.5, -0.01, std::nan(""), std::numeric_limits<double>::infinity()};
    for (const double value : values) {
        SCOPED_TRACE(value);
        EXPECT_EQ(outcomeOf(missing.write(value, builtIn)).summary(), invalidBrightness);
    }
    EXPECT_EQ(outcomeOf(missing.write(1.0, builtIn)).summary(), controlMissing);
}

TEST_F(NativeBrightnessTest, ADisplayThatIsNotThereAnyMoreFailsWithoutACall)
{
    struct Case {
        const char* name;
        void (*change)(SimulatedWorld&);
    };
    const Case cases[] = {
        {"asleep", [](SimulatedWorld& world) { world.sleep(1); }},
        {"offline", [](SimulatedWorld& world) { world.display(1)->isOnline = false; }},
        {"unplugged", [](SimulatedWorld& world) { world.unplug(1); }},
        {"renumbered, another display took its number",
            [](SimulatedWorld& world) {
                world.renumber(1, 5);
                world.renumber(2, 1);
            }},
        {"no UUID", [](SimulatedWorld& world) { world.display(1)->uuid.reset(); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ManualExecutor executor;
        SimulatedMac mac(executor);
        addDefaultDisplays(mac.world);
        const auto services = installDisplayServicesDefaults(mac);
        NativeBrightness native(mac.platform());
        c.change(mac.world);
        EXPECT_EQ(outcomeOf(native.read(builtIn)).summary(), gone);
        EXPECT_EQ(outcomeOf(native.write(0.2, builtIn)).summary(), gone);
        EXPECT_TRUE(services->calls.empty());
    }
}

TEST_F(NativeBrightnessTest, FailureStatusesAndReadingsOutOfRangeAreErrors)
{
    NativeBrightness native(mac.platform());
    services->readStatus = 5;
    services->writeStatus = -3;
    EXPECT_EQ(outcomeOf(native.read(builtIn)).summary(),
        "Brightness read failed (5). Try again after waking the display or changing its reference "
        "mode.");
    EXPECT_EQ(outcomeOf(native.write(0.4, builtIn)).summary(),
        "Brightness write failed (-3). Try again after waking the display or changing its "
        "reference mode.");
    services->readStatus = 0;

    struct Case {
        float reported;
        const char* outcome;
    };
    const Case cases[] = {
        {1.0f, "done"},
        {0.0f, "done"},
        {1.0001f, invalidBrightness},
        {-0.0001f, invalidBrightness},
        {std::nanf(""), invalidBrightness},
        {std::numeric_limits<float>::infinity(), invalidBrightness},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.reported);
        services->reportedBrightness = c.reported;
        EXPECT_EQ(outcomeOf(native.read(builtIn)).summary(), c.outcome);
    }
}

TEST_F(NativeBrightnessTest, AGetterThatStoresNothingReadsZero)
{
    mac.loader.image(displayServicesImagePath)
        .define<std::int32_t(std::uint32_t, float*)>(
            "DisplayServicesGetBrightness", [](std::uint32_t, float*) { return 0; });
    NativeBrightness native(mac.platform());
    EXPECT_EQ(runToEnd(native.read(builtIn)), 0.0);
}

TEST_F(NativeBrightnessTest, TheBuiltInDisplayIsTheFirstActiveOneWithItsOwnLetterCase)
{
    NativeBrightness native(mac.platform());
    EXPECT_EQ(native.builtInDisplay(), (BuiltInDisplay{.id = 1, .uuid = builtInUUID}));

    mac.world.renumber(1, 9);
    EXPECT_EQ(native.builtInDisplay(), (BuiltInDisplay{.id = 9, .uuid = builtInUUID}));

    SimulatedDisplay second = *mac.world.display(9);
    second.number = 3;
    second.uuid = "0000AAAA-0000-0000-0000-000000000003";
    mac.world.displays.push_back(second);
    mac.world.sleep(9);
    EXPECT_EQ(native.builtInDisplay(),
        (BuiltInDisplay{.id = 3, .uuid = "0000AAAA-0000-0000-0000-000000000003"}));

    mac.world.display(3)->uuid.reset();
    EXPECT_EQ(native.builtInDisplay(), std::nullopt);
    mac.world.wake(9);
    mac.world.graphicsFaults.listCallStatus = 1000;
    EXPECT_EQ(native.builtInDisplay(), std::nullopt);
}

TEST_F(NativeBrightnessTest, ConnectedDisplayBackendRampsThePanelThroughTheDriver)
{
    NativeBrightness native(mac.platform());
    ConnectedDisplayBackend backend(native, builtIn);
    BrightnessDriver driver;
    TaskOutcome<ApplyReport> outcome;
    spawn(executor, recordOutcome(driver.apply(0.25, true, backend), outcome));
    executor.advance(1s);
    ASSERT_TRUE(outcome.value);
    EXPECT_TRUE(outcome.value->verified());
    EXPECT_EQ(panel(), 0.25f);
    const auto writes = std::ranges::count_if(services->calls,
        [](const SimulatedDisplayServices::Call& call) { return call.value.has_value(); });
    EXPECT_EQ(writes, 12);
    EXPECT_EQ(services->calls.size(), 14u);
}

TEST_F(NativeBrightnessTest, ConnectedDisplayBackendNeverReachesADisplayThatTookItsNumber)
{
    NativeBrightness native(mac.platform());
    ConnectedDisplayBackend backend(native, builtIn);
    mac.world.unplug(1);
    mac.world.renumber(2, 1);
    services->brightness["9c4e2f61-5b3a-4d7e-8f10-2a6b7c8d9e0f"] = 0.5f;
    EXPECT_EQ(outcomeOf(backend.read()).summary(), gone);
    EXPECT_EQ(outcomeOf(backend.write(0.9)).summary(), gone);
    EXPECT_TRUE(services->calls.empty());
}

} // namespace
} // namespace quorvane
