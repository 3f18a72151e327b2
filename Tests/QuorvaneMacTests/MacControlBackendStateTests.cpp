#include "QuorvaneMac/MacControlBackend.h"

#include "Concurrency/ManualExecutor.h"
#include "QuorvaneMac/DDCServiceDiscovery.h"
#include "QuorvaneMac/DDCTransport.h"
#include "SimulatedMac/SimulatedDDCMonitors.h"
#include "SimulatedMac/SimulatedMac.h"
#include "TestSupport/RunToEnd.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace quorvane {

/// Stands in for discovery, which sets the devices, until it exists.
struct MacControlBackendTestAccess {
    static void adopt(MacControlBackend& backend, const std::vector<DisplayDevice>& devices)
    {
        for (const DisplayDevice& device : devices)
            backend.m_devices.insert_or_assign(device.id, device);
    }
    static DDCTransport& ddc(MacControlBackend& backend) { return *backend.m_ddc; }
};

namespace {

using namespace std::chrono_literals;

constexpr const char* builtInID = "37d8832a-2d66-02ca-b9f7-8f30a301b230";
constexpr const char* externalID = "9c4e2f61-5b3a-4d7e-8f10-2a6b7c8d9e0f";
constexpr const char* version = "Version 15.1 (Build 24B83)";

const DisplayDevice builtIn{
    .id = builtInID, .runtimeID = 1, .name = "Built-in Retina Display", .isBuiltIn = true};
const DisplayDevice external{.id = externalID, .runtimeID = 2, .name = "Studio Monitor"};

GraphicsDisplayMode modeOf(std::int32_t id, double refreshRate, std::int64_t width = 2560)
{
    return GraphicsDisplayMode{.width = width,
        .height = 1440,
        .pixelWidth = width,
        .pixelHeight = 1440,
        .ioDisplayModeID = id,
        .refreshRate = refreshRate};
}

/// What `call` returns, or the text of what it throws.
std::string errorOf(const auto& call)
{
    try {
        return call();
    } catch (const std::exception& error) {
        return error.what();
    }
}

/// A provider whose identity is what the test says, or a DDC failure.
class FixedIdentityProvider final : public DDCConnectionProvider {
public:
    explicit FixedIdentityProvider(std::optional<std::string> location)
        : m_location(std::move(location))
    {
    }
    DDCConnectionIdentity identity(const DisplayDevice& display) override
    {
        if (!m_location)
            throw DDCError::unavailable("No DDC connection information for this screen.");
        return {.runtimeID = display.runtimeID, .framebufferID = 1, .location = *m_location};
    }
    std::shared_ptr<DDCChannel> open(const DDCConnectionIdentity&) override
    {
        throw DDCError::unavailable("Apple Silicon DDC interfaces are unavailable.");
    }

private:
    std::optional<std::string> m_location;
};

struct MacControlBackendStateTest : ::testing::Test {
    static std::shared_ptr<SimulatedDDCMonitors> defaultWorld(SimulatedMac& mac)
    {
        addDefaultDisplays(mac.world);
        return installDDCMonitorDefaults(mac);
    }

    MacControlBackend& backendWithDefaults()
    {
        MacControlBackendTestAccess::adopt(backend, {builtIn, external});
        return backend;
    }

    ManualExecutor executor;
    SimulatedMac mac{executor};
    std::shared_ptr<SimulatedDDCMonitors> monitors = defaultWorld(mac);
    MacControlBackend backend{mac.platform()};
};

TEST_F(MacControlBackendStateTest, FindsARenumberedDisplayAgainByItsUUID)
{
    MacControlBackend& backend = backendWithDefaults();
    EXPECT_EQ(backend.checkedDevice(externalID), external);
    mac.world.renumber(2, 7);
    DisplayDevice moved = external;
    moved.runtimeID = 7;
    EXPECT_EQ(backend.checkedDevice(externalID), moved);
    // Once found, the new number is the stored one even when the list can no longer be read.
    mac.world.graphicsFaults.countCallStatus = 1000;
    EXPECT_EQ(backend.checkedDevice(externalID), moved);
}

TEST_F(MacControlBackendStateTest, ADisplayIsFoundUnderItsNewNumberOrFailsWithItsText)
{
    struct Case {
        const char* name;
        const char* id;
        void (*change)(SimulatedWorld&);
        const char* error;
    };
    const Case cases[] = {
        {"the only display left", externalID,
            [](SimulatedWorld& world) {
                world.unplug(1);
                world.renumber(2, 4);
            },
            "#4"},
        {"the first active one with the UUID", externalID,
            [](SimulatedWorld& world) {
                SimulatedDisplay copy = *world.display(2);
                copy.number = 9;
                world.displays.push_back(copy);
                world.sleep(2);
            },
            "#9"},
        {"not discovered", "00000000-0000-0000-0000-000000000000", [](SimulatedWorld&) {},
            "Display disconnected"},
        {"unplugged", externalID, [](SimulatedWorld& world) { world.unplug(2); },
            "Display identity changed or disconnected"},
        {"asleep", externalID, [](SimulatedWorld& world) { world.sleep(2); },
            "Display identity changed or disconnected"},
        {"another display took its number", externalID,
            [](SimulatedWorld& world) {
                world.unplug(2);
                world.renumber(1, 2);
            },
            "Display identity changed or disconnected"},
        {"renumbered, count unreadable", externalID,
            [](SimulatedWorld& world) {
                world.renumber(2, 7);
                world.graphicsFaults.countCallStatus = 1000;
            },
            "Display disconnected"},
        {"renumbered, list unreadable", externalID,
            [](SimulatedWorld& world) {
                world.renumber(2, 7);
                world.graphicsFaults.listCallStatus = 1000;
            },
            "Display identity changed or disconnected"},
        {"renumbered, lost before listing", externalID,
            [](SimulatedWorld& world) {
                world.renumber(2, 7);
                world.graphicsFaults.displaysLostBetweenCalls = 1;
            },
            "Display identity changed or disconnected"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ManualExecutor executor;
        SimulatedMac mac(executor);
        addDefaultDisplays(mac.world);
        MacControlBackend backend(mac.platform());
        MacControlBackendTestAccess::adopt(backend, {builtIn, external});
        c.change(mac.world);
        EXPECT_EQ(
            errorOf([&] { return "#" + std::to_string(backend.checkedDevice(c.id).runtimeID); }),
            c.error);
    }
}

TEST_F(MacControlBackendStateTest, ANewNumberDropsTheCachedDDCConnections)
{
    MacControlBackend& backend = backendWithDefaults();
    DDCTransport& ddc = MacControlBackendTestAccess::ddc(backend);
    const auto readBrightness = [&] {
        TaskOutcome<DDCFeatureValue> outcome;
        spawn(executor,
            recordOutcome(
                ddc.read(SettingKey::brightness, backend.checkedDevice(externalID)), outcome));
        executor.advance(1s);
        return outcome;
    };
    EXPECT_EQ(readBrightness().value, (DDCFeatureValue{.fraction = 0.5, .maximum = 100}));
    EXPECT_EQ(readBrightness().summary(), "done");
    EXPECT_EQ(monitors->servicesCreated(), 1);

    // Away and back under its first number: only the guard can tell that the channel is stale.
    mac.world.renumber(2, 7);
    (void)backend.checkedDevice(externalID);
    mac.world.renumber(7, 2);
    EXPECT_EQ(readBrightness().summary(), "done");
    EXPECT_EQ(monitors->servicesCreated(), 2);
}

TEST_F(MacControlBackendStateTest, ListsUsableModesWithValidResolutionsInTheirOrder)
{
    GraphicsDisplayMode unusable = modeOf(23, 60, 1280);
    unusable.isUsableForDesktopGUI = false;
    GraphicsDisplayMode fewerPixels = modeOf(24, 60);
    fewerPixels.pixelWidth = 1280;
    const GraphicsDisplayMode tooWide = modeOf(25, 60, 65537);
    const GraphicsDisplayMode widest = modeOf(26, 60, 65536);
    const GraphicsDisplayMode empty = modeOf(27, 60, 0);
    SimulatedDisplay& display = *mac.world.display(2);
    display.modes = {modeOf(21, 50), unusable, fewerPixels, tooWide, widest, empty, modeOf(20, 60)};
    EXPECT_EQ(backend.availableModes(external),
        (std::vector<GraphicsDisplayMode>{modeOf(21, 50), widest, modeOf(20, 60)}));

    mac.world.graphicsFaults.allModesUnanswered = true;
    EXPECT_TRUE(backend.availableModes(external).empty());
    mac.world.graphicsFaults.allModesUnanswered = false;

    // The built-in panel's size at one pixel per point is offered too.
    GraphicsDisplayMode lowResolution = mac.world.display(1)->modes.front();
    lowResolution.pixelWidth = lowResolution.width;
    lowResolution.pixelHeight = lowResolution.height;
    lowResolution.ioDisplayModeID = 12;
    mac.world.display(1)->modes.push_back(lowResolution);
    EXPECT_EQ(backend.availableModes(builtIn).back(), lowResolution);
}

TEST_F(MacControlBackendStateTest, RefreshPreferenceOfAMode)
{
    DisplayDevice adaptive = external;
    adaptive.adaptiveModeID = 30;
    const double infinity = std::numeric_limits<double>::infinity();
    struct Case {
        GraphicsDisplayMode mode;
        std::optional<RefreshPreference> preference;
    };
    const Case cases[] = {
        {modeOf(30, 0), RefreshPreference::adaptive()},
        {modeOf(30, 120), RefreshPreference::adaptive()},
        {modeOf(20, 60), RefreshPreference::fixed(60'000)},
        {modeOf(20, 59.94), RefreshPreference::fixed(59'940)},
        {modeOf(20, 59.9995), RefreshPreference::fixed(60'000)},
        {modeOf(20, 0.0005), RefreshPreference::fixed(1)},
        {modeOf(20, 1000), RefreshPreference::fixed(1'000'000)},
        {modeOf(20, 0.0004), std::nullopt},
        {modeOf(20, 1000.0006), std::nullopt},
        {modeOf(20, 0), std::nullopt},
        {modeOf(20, -60), std::nullopt},
        {modeOf(20, std::nan("")), std::nullopt},
        {modeOf(20, infinity), std::nullopt},
        {modeOf(20, 1e300), std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.mode.refreshRate);
        EXPECT_EQ(backend.preference(c.mode, adaptive), c.preference);
    }
    EXPECT_EQ(backend.preference(modeOf(30, 0), external), std::nullopt);
}

TEST_F(MacControlBackendStateTest, AnAdaptiveModeIsRememberedWhileItsConditionsHold)
{
    DisplayDevice inAdaptiveMode = external;
    inAdaptiveMode.adaptiveModeID = 30;
    backend.rememberAdaptiveMode(inAdaptiveMode, modeOf(30, 120));
    const GraphicsDisplayMode adaptiveMode = modeOf(30, 120);
    // The display left its variable-refresh mode: the inventory no longer names it.
    const DisplayDevice left = external;
    EXPECT_EQ(backend.preference(adaptiveMode, left), RefreshPreference::adaptive());
    EXPECT_EQ(backend.preference(modeOf(20, 60), left), RefreshPreference::fixed(60'000));

    struct Case {
        const char* name;
        DisplayNumber runtimeID;
        GraphicsDisplayMode mode;
        const char* systemVersion;
    };
    const Case cases[] = {
        {"another display number", 7, adaptiveMode, version},
        {"another resolution", 2, modeOf(30, 120, 1920), version},
        {"another system version", 2, adaptiveMode, "Version 15.2 (Build 24C101)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        mac.world.operatingSystemVersionString = c.systemVersion;
        DisplayDevice display = left;
        display.runtimeID = c.runtimeID;
        EXPECT_EQ(backend.preference(c.mode, display), RefreshPreference::fixed(120'000));
    }
    mac.world.operatingSystemVersionString = version;

    // A later sighting replaces the record; a display without a variable mode records nothing.
    backend.rememberAdaptiveMode(inAdaptiveMode, modeOf(30, 120, 1920));
    EXPECT_EQ(backend.preference(adaptiveMode, left), RefreshPreference::fixed(120'000));
    EXPECT_EQ(backend.preference(modeOf(30, 120, 1920), left), RefreshPreference::adaptive());
    backend.rememberAdaptiveMode(left, modeOf(21, 50));
    EXPECT_EQ(backend.preference(modeOf(21, 50), left), RefreshPreference::fixed(50'000));
}

TEST_F(MacControlBackendStateTest, TheEnvironmentNamesTheSystemAndTheConnection)
{
    const PlatformValue& location
        = monitors->displayInformation.at(externalID)->at("IODisplayLocation");
    EXPECT_EQ(backend.environment(external),
        std::string("display-mode-v2|") + version + "|" + *location.textValue());

    monitors->displayInformation.erase(externalID);
    const std::string fallback = backend.environment(external);
    const std::string prefix = std::string("display-mode-v2|") + version + "|unknown:";
    EXPECT_EQ(fallback.substr(0, prefix.size()), prefix);
    EXPECT_EQ(fallback.size(), prefix.size() + 36 + 2);
    EXPECT_EQ(fallback.substr(fallback.size() - 2), ":2");
    EXPECT_EQ(backend.environment(external), fallback);
    // After a restart a display without a DDC identity needs its modes confirmed again.
    EXPECT_NE(MacControlBackend(mac.platform()).environment(external), fallback);
}

TEST(MacControlBackendEnvironmentTest, AnUnknownTransportCountsAsNoIdentity)
{
    ScopedUUIDGenerator uuids(sequentialUUIDGenerator());
    ManualExecutor executor;
    SimulatedMac mac(executor);
    const std::string prefix = std::string("display-mode-v2|") + version + "|";
    struct Case {
        std::optional<std::string> location;
        std::string environment;
    };
    const Case cases[] = {
        {"IOService:/AppleARMPE/dispext0@2C000000/DisplayFramebuffer",
            prefix + "IOService:/AppleARMPE/dispext0@2C000000/DisplayFramebuffer"},
        {"unknown-transport", prefix + "unknown:00000000-0000-0000-0000-000000000002:2"},
        {std::nullopt, prefix + "unknown:00000000-0000-0000-0000-000000000003:2"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.environment);
        MacControlBackend backend(
            mac.platform(), std::make_unique<FixedIdentityProvider>(c.location));
        EXPECT_EQ(backend.environment(external), c.environment);
    }
}

} // namespace
} // namespace quorvane
