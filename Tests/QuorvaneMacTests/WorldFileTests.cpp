#include "SimulatedMac/WorldFile.h"

#include "Concurrency/ManualExecutor.h"
#include "QuorvaneCoreTests/SettingsTestSupport.h"
#include "QuorvaneMac/DisplayInventory.h"
#include "SimulatedMac/SimulatedMac.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <optional>
#include <string>
#include <string_view>

namespace quorvane {
namespace {

constexpr std::string_view goodWorld = R"json({
  "operatingSystemVersionString": "Version 27.0 (Build 27A1)",
  "operatingSystemMajorVersion": 27,
  "screensHaveSeparateSpaces": false,
  "graphicsFaults": {"displaysLostBetweenCalls": 1},
  "displays": [
    {"number": 5, "uuid": "ABCDEF01-0000-0000-0000-000000000005", "isBuiltIn": true,
     "bounds": {"x": 0, "y": 0, "width": 1512, "height": 982},
     "screen": {"localizedName": "Built-in", "minimumRefreshInterval": 0.008333333333333333,
                "maximumRefreshInterval": 0.041666666666666664,
                "maximumPotentialExtendedDynamicRangeColorComponentValue": 16,
                "maximumFramesPerSecond": 120},
     "modes": [{"width": 1512, "height": 982, "pixelWidth": 3024, "pixelHeight": 1964,
                "ioDisplayModeID": 7, "refreshRate": 120},
               {"width": 1800, "height": 1169, "ioDisplayModeID": 8, "isUsableForDesktopGUI": false}],
     "currentModeID": 7, "gammaCapacity": 256},
    {"number": 9, "uuid": "cafe", "isMirrored": true, "isAsleep": false,
     "bounds": {"x": -1920, "y": 0, "width": 1920, "height": 1080},
     "screen": {"localizedName": "Wrong kind", "screenNumber": "9"}},
    {"number": 11, "uuid": null, "bounds": {"x": 0, "y": 0, "width": 1, "height": 1}, "screen": null},
    {"number": 4294967295, "uuid": "lost", "bounds": {"x": 0, "y": 0, "width": 1, "height": 1}}
  ]
})json";

std::filesystem::path writeWorld(const TemporaryFolder& folder, std::string_view contents)
{
    const std::filesystem::path path = folder.path() / "world.json";
    std::ofstream(path, std::ios::binary) << contents;
    return path;
}

struct WorldFixture {
    ManualExecutor executor;
    SimulatedMac mac{executor};
    TemporaryFolder folder;
};

TEST(WorldFileTest, LoadsDisplaysScreensModesAndKnobs)
{
    WorldFixture fixture;
    loadWorld(fixture.mac, writeWorld(fixture.folder, goodWorld));

    const SimulatedWorld& world = fixture.mac.world;
    EXPECT_EQ(world.operatingSystemVersionString, "Version 27.0 (Build 27A1)");
    EXPECT_EQ(world.operatingSystemMajorVersion, 27);
    EXPECT_FALSE(world.screensHaveSeparateSpaces);
    EXPECT_EQ(world.graphicsFaults.displaysLostBetweenCalls, 1u);
    ASSERT_EQ(world.displays.size(), 4u);
    const SimulatedDisplay& builtIn = world.displays[0];
    EXPECT_EQ(builtIn.gammaCapacity, 256u);
    EXPECT_EQ(builtIn.modes[1],
        (GraphicsDisplayMode{.width = 1800,
            .height = 1169,
            .pixelWidth = 1800,
            .pixelHeight = 1169,
            .ioDisplayModeID = 8,
            .isUsableForDesktopGUI = false}));
    EXPECT_EQ(builtIn.screen->deviceDescription.at("NSScreenNumber"), PlatformValue::integer(5));
    EXPECT_EQ(
        world.displays[1].screen->deviceDescription.at("NSScreenNumber"), PlatformValue::text("9"));
    EXPECT_FALSE(world.displays[2].uuid);
    EXPECT_FALSE(world.displays[2].screen);
    EXPECT_EQ(world.displays[3].number, 4294967295u);
    EXPECT_TRUE(world.displays[3].isOnline);

    // The inventory sees the same world: the last display is lost between the list calls.
    const std::vector<DisplayDevice> expected{
        {.id = "abcdef01-0000-0000-0000-000000000005",
            .runtimeID = 5,
            .name = "Built-in",
            .isBuiltIn = true,
            .isMirrored = false,
            .bounds = {.x = 0, .y = 0, .width = 1512, .height = 982},
            .hasExtendedRange = true,
            .maximumFramesPerSecond = 120,
            .adaptiveModeID = 7},
        {.id = "cafe",
            .runtimeID = 9,
            .name = "Display 9",
            .isBuiltIn = false,
            .isMirrored = true,
            .bounds = {.x = -1920, .y = 0, .width = 1920, .height = 1080}},
    };
    EXPECT_EQ(DisplayInventory::snapshot(fixture.mac.platform()), expected);
}

TEST(WorldFileTest, RefusesFilesThatDoNotDescribeAWorldAndLeavesTheWorldAlone)
{
    struct Case {
        std::string_view contents;
        std::string_view reason;
    };
    const Case cases[] = {
        {R"({"displays": [)", "The data is not valid JSON: "},
        {R"({})", "No value associated with the key \"displays\"."},
        {R"({"displays": [], "graphicsFaults": {"listCallStatuss": 1}})",
            "graphicsFaults.listCallStatuss: The key \"listCallStatuss\" is not part of a "
            "simulated Mac file."},
        {R"({"displays": [{"uuid": "A", "bounds": {"x": 0, "y": 0, "width": 1, "height": 1}}]})",
            "displays[0]: No value associated with the key \"number\"."},
        {R"({"displays": [{"number": 0, "bounds": {"x": 0, "y": 0, "width": 1, "height": 1}}]})",
            "displays[0].number: Expected a number from 1 to 4294967295, not 0."},
        {R"({"displays": [{"number": 4294967296, "bounds": {"x": 0, "y": 0, "width": 1, "height": 1}}]})",
            "displays[0].number: Expected a number from 1 to 4294967295, not 4294967296."},
        {R"({"displays": [{"number": 1, "bounds": {"x": 0, "y": 0, "width": 1, "height": 1}},
                          {"number": 1, "bounds": {"x": 0, "y": 0, "width": 1, "height": 1}}]})",
            "displays[1].number: Another display has the number 1."},
        {R"({"displays": [{"number": 1, "bounds": {"x": 0, "y": 0, "width": 1, "height": 1},
                           "modes": [{"width": 1, "height": 1, "ioDisplayModeID": 3}],
                           "currentModeID": 4}]})",
            "displays[0].currentModeID: No mode of this display has the IO display mode "
            "identifier 4."},
        {R"({"displays": [{"number": 1, "bounds": {"x": 0, "y": 0, "width": 1, "height": 1},
                           "modes": [{"width": 1, "height": 1, "ioDisplayModeID": 3},
                                     {"width": 2, "height": 2, "ioDisplayModeID": 3}]}]})",
            "displays[0].modes[1]: Another mode has the IO display mode identifier 3."},
        {R"({"displays": [{"number": 1, "bounds": {"x": 0, "y": 0, "width": 1, "height": 1},
                           "screen": {"localizedName": "A", "screenNumber": true}}]})",
            "displays[0].screen.screenNumber: Expected an integer but found a Bool."},
        {R"({"displays": [{"number": 1, "isBuiltIn": 1, "bounds": {"x": 0, "y": 0, "width": 1, "height": 1}}]})",
            "displays[0].isBuiltIn: Expected a Bool but found an integer."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.contents);
        WorldFixture fixture;
        addDefaultDisplays(fixture.mac.world);
        const std::filesystem::path path = writeWorld(fixture.folder, c.contents);
        try {
            loadWorld(fixture.mac, path);
            ADD_FAILURE() << "loaded";
        } catch (const WorldFileError& error) {
            EXPECT_EQ(error.path(), path);
            EXPECT_TRUE(error.reason().starts_with(c.reason)) << error.reason();
            EXPECT_TRUE(std::string_view(error.what())
                            .starts_with("The simulated Mac file \"" + path.string()
                                + "\" could not be read: "))
                << error.what();
        }
        EXPECT_EQ(fixture.mac.world.displays.size(), 2u);
        EXPECT_EQ(fixture.mac.world.graphicsFaults.listCallStatus, 0);
    }
}

TEST(WorldFileTest, AMissingFileIsNamedWithTheSystemsReason)
{
    WorldFixture fixture;
    const std::filesystem::path path = fixture.folder.path() / "absent.json";
    try {
        loadWorld(fixture.mac, path);
        ADD_FAILURE() << "loaded";
    } catch (const WorldFileError& error) {
        EXPECT_EQ(std::string(error.what()),
            "The simulated Mac file \"" + path.string()
                + "\" could not be read: No such file or directory.");
    }
}

/// Sets an environment variable for one test and puts back what was there.
class ScopedVariable final {
public:
    ScopedVariable(const char* name, const char* value)
        : m_name(name)
    {
        if (const char* old = std::getenv(name))
            m_old = old;
        set(value);
    }
    ~ScopedVariable() { set(m_old ? m_old->c_str() : nullptr); }
    ScopedVariable(const ScopedVariable&) = delete;
    ScopedVariable& operator=(const ScopedVariable&) = delete;

private:
    void set(const char* value)
    {
        if (value)
            ::setenv(m_name, value, 1);
        else
            ::unsetenv(m_name);
    }

    const char* m_name;
    std::optional<std::string> m_old;
};

TEST(WorldFileTest, TheEnvironmentNamesTheFileElseTheDefaultWorldIsInstalled)
{
    WorldFixture fromFile;
    {
        const ScopedVariable variable(
            simulatedMacVariable, writeWorld(fromFile.folder, goodWorld).c_str());
        worldFromEnvironment(fromFile.mac);
    }
    EXPECT_EQ(fromFile.mac.world.displays.size(), 4u);

    for (const char* value : {static_cast<const char*>(nullptr), ""}) {
        WorldFixture byDefault;
        const ScopedVariable variable(simulatedMacVariable, value);
        worldFromEnvironment(byDefault.mac);
        const std::vector<DisplayDevice> devices
            = DisplayInventory::snapshot(byDefault.mac.platform());
        ASSERT_EQ(devices.size(), 2u);
        EXPECT_TRUE(devices[0].isBuiltIn);
        EXPECT_FALSE(devices[1].isBuiltIn);
    }
}

} // namespace
} // namespace quorvane
