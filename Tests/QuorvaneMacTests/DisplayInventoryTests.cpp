#include "QuorvaneMac/DisplayInventory.h"

#include "Concurrency/ManualExecutor.h"
#include "QuorvaneCore/Rules.h"
#include "SimulatedMac/SimulatedMac.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <ostream>
#include <string>
#include <vector>

namespace quorvane {

void PrintTo(const DisplayDevice& device, std::ostream* out)
{
    *out << "{" << device.id << " #" << device.runtimeID << " \"" << device.name << "\""
         << (device.isBuiltIn ? " built-in" : "") << (device.isMirrored ? " mirrored" : "")
         << " bounds " << device.bounds.x << "," << device.bounds.y << " " << device.bounds.width
         << "x" << device.bounds.height << (device.hasExtendedRange ? " EDR" : "") << " "
         << device.maximumFramesPerSecond << " fps";
    if (device.adaptiveModeID)
        *out << " adaptive " << *device.adaptiveModeID;
    *out << "}";
}

namespace {

constexpr double infinity = std::numeric_limits<double>::infinity();

/// An awake external display with its own screen and one current mode.
SimulatedDisplay display(DisplayNumber number, std::string uuid, std::string name)
{
    return SimulatedDisplay{
        .number = number,
        .uuid = std::move(uuid),
        .bounds = {.x = 100.0 * number, .y = 0, .width = 1920, .height = 1080},
        .screen = ScreenObject{
            .deviceDescription = {{"NSScreenNumber", PlatformValue::integer(number)}},
            .localizedName = std::move(name),
        },
        .modes = {{.width = 1920, .height = 1080, .ioDisplayModeID = 40 + static_cast<std::int32_t>(number)}},
        .currentModeID = 40 + static_cast<std::int32_t>(number),
    };
}

struct InventoryWorld {
    ManualExecutor executor;
    SimulatedMac mac{executor};

    std::vector<DisplayDevice> snapshot() { return DisplayInventory::snapshot(mac.platform()); }

    std::vector<std::string> names()
    {
        std::vector<std::string> result;
        for (const DisplayDevice& device : snapshot())
            result.push_back(device.name);
        return result;
    }
};

TEST(DisplayInventoryTest, ListsAwakeDisplaysWithTheirOwnUUIDBuiltInFirstThenByNameThenID)
{
    struct Case {
        std::string_view name;
        std::function<void(SimulatedWorld&)> setUp;
        std::vector<std::string> names;
    };
    const Case cases[] = {
        {"a shared UUID leaves out every display that has it, whatever its case",
            [](SimulatedWorld& world) {
                world.displays = {display(1, "AAAAAAAA-0000-0000-0000-000000000001", "Left"),
                    display(2, "aaaaaaaa-0000-0000-0000-000000000001", "Right"),
                    display(3, "BBBBBBBB-0000-0000-0000-000000000002", "Third")};
            },
            {"Third"}},
        {"three displays sharing a UUID are all left out",
            [](SimulatedWorld& world) {
                world.displays = {display(1, "A", "One"), display(2, "A", "Two"),
                    display(3, "A", "Three"), display(4, "B", "Four")};
            },
            {"Four"}},
        {"built-in comes before an external whose name sorts first",
            [](SimulatedWorld& world) {
                world.displays
                    = {display(1, "A", "Alpha"), display(2, "B", "Zeta"), display(3, "C", "Beta")};
                world.displays[1].isBuiltIn = true;
            },
            {"Zeta", "Alpha", "Beta"}},
        {"names compare byte by byte, capitals first",
            [](SimulatedWorld& world) {
                world.displays
                    = {display(1, "A", "beta"), display(2, "B", "Gamma"), display(3, "C", "Alpha")};
            },
            {"Alpha", "Gamma", "beta"}},
        {"asleep, offline and UUID-less displays are left out",
            [](SimulatedWorld& world) {
                world.displays = {display(1, "A", "Asleep"), display(2, "B", "Offline"),
                    display(3, "C", "Awake"), display(4, "D", "No UUID")};
                world.sleep(1);
                world.displays[1].isOnline = false;
                world.displays[3].uuid.reset();
            },
            {"Awake"}},
        {"a failed count call lists nothing",
            [](SimulatedWorld& world) {
                world.displays = {display(1, "A", "One")};
                world.graphicsFaults.countCallStatus = 1000;
            },
            {}},
        {"a failed list call lists nothing",
            [](SimulatedWorld& world) {
                world.displays = {display(1, "A", "One")};
                world.graphicsFaults.listCallStatus = 1001;
            },
            {}},
        {"a list that shrank after the count gives only the entries it filled",
            [](SimulatedWorld& world) {
                world.displays
                    = {display(1, "A", "One"), display(2, "B", "Two"), display(3, "C", "Three")};
                world.graphicsFaults.displaysLostBetweenCalls = 2;
            },
            {"One"}},
        {"a display unplugged after listing is left out",
            [](SimulatedWorld& world) {
                world.displays = {display(1, "A", "One"), display(2, "B", "Two")};
                world.graphicsFaults.afterListCall
                    = [](SimulatedWorld& changed) { changed.unplug(1); };
            },
            {"Two"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        InventoryWorld world;
        c.setUp(world.mac.world);
        EXPECT_EQ(world.names(), c.names);
    }
}

TEST(DisplayInventoryTest, DisplaysOfTheSameNameAreOrderedByLowerCaseID)
{
    InventoryWorld world;
    world.mac.world.displays = {display(1, "C0", "Monitor"), display(2, "b0", "Monitor"),
        display(3, "A0", "Monitor"), display(4, "a1", "Monitor")};
    std::vector<std::string> ids;
    for (const DisplayDevice& device : world.snapshot())
        ids.push_back(device.id);
    EXPECT_EQ(ids, (std::vector<std::string>{"a0", "a1", "b0", "c0"}));
}

TEST(DisplayInventoryTest, ReadsEachFieldFromTheDisplayAndItsScreen)
{
    struct Case {
        std::string_view name;
        std::function<void(SimulatedDisplay&)> setUp;
        std::function<void(DisplayDevice&)> expect; // changes to the plain display's device
    };
    // What is left when no screen answers for the display.
    const auto withoutScreen = [](DisplayDevice& device) {
        device.name = "Display 2";
        device.hasExtendedRange = false;
        device.maximumFramesPerSecond = 60;
    };
    const Case cases[] = {
        {"plain screen", [](SimulatedDisplay&) {}, [](DisplayDevice&) {}},
        {"upper-case UUID",
            [](SimulatedDisplay& display) {
                display.uuid = "9C4E2F61-5B3A-4D7E-8F10-2A6B7C8D9EAF";
            },
            [](DisplayDevice& device) { device.id = "9c4e2f61-5b3a-4d7e-8f10-2a6b7c8d9eaf"; }},
        {"built-in and mirrored",
            [](SimulatedDisplay& display) {
                display.isBuiltIn = true;
                display.isMirrored = true;
            },
            [](DisplayDevice& device) {
                device.isBuiltIn = true;
                device.isMirrored = true;
            }},
        {"variable refresh from 120 down to 48 Hz",
            [](SimulatedDisplay& display) {
                display.screen->minimumRefreshInterval = 1.0 / 120;
                display.screen->maximumRefreshInterval = 1.0 / 48;
                display.screen->maximumFramesPerSecond = 120;
            },
            [](DisplayDevice& device) {
                device.adaptiveModeID = 42;
                device.maximumFramesPerSecond = 120;
            }},
        {"variable refresh without a current mode",
            [](SimulatedDisplay& display) {
                display.screen->minimumRefreshInterval = 1.0 / 120;
                display.screen->maximumRefreshInterval = 1.0 / 48;
                display.currentModeID.reset();
            },
            [](DisplayDevice&) {}},
        {"extended range of exactly 1.0",
            [](SimulatedDisplay& display) {
                display.screen->maximumPotentialExtendedDynamicRangeColorComponentValue = 1.0;
            },
            [](DisplayDevice& device) { device.hasExtendedRange = false; }},
        {"extended range just over 1.0",
            [](SimulatedDisplay& display) {
                display.screen->maximumPotentialExtendedDynamicRangeColorComponentValue
                    = std::nextafter(1.0, 2.0);
            },
            [](DisplayDevice&) {}},
        {"no screen object, even for a variable-refresh built-in display",
            [](SimulatedDisplay& display) {
                display.screen.reset();
                display.isBuiltIn = true;
            },
            [&](DisplayDevice& device) {
                withoutScreen(device);
                device.isBuiltIn = true;
            }},
        {"screen number of another kind",
            [](SimulatedDisplay& display) {
                display.screen->deviceDescription["NSScreenNumber"] = PlatformValue::text("2");
            },
            withoutScreen},
        {"screen without a number",
            [](SimulatedDisplay& display) { display.screen->deviceDescription.clear(); },
            withoutScreen},
        {"screen number as a real number object",
            [](SimulatedDisplay& display) {
                display.screen->deviceDescription["NSScreenNumber"] = PlatformValue::real(2.0);
            },
            [](DisplayDevice&) {}},
        {"screen number read as 32 bits",
            [](SimulatedDisplay& display) {
                display.screen->deviceDescription["NSScreenNumber"]
                    = PlatformValue::integer((std::int64_t{1} << 32) + 2);
            },
            [](DisplayDevice&) {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        InventoryWorld world;
        SimulatedDisplay plain = display(2, "d1", "Wide");
        plain.screen->maximumPotentialExtendedDynamicRangeColorComponentValue = 2.0;
        plain.screen->maximumFramesPerSecond = 75;
        c.setUp(plain);
        world.mac.world.displays = {plain};
        DisplayDevice expected{
            .id = "d1",
            .runtimeID = 2,
            .name = "Wide",
            .isBuiltIn = false,
            .isMirrored = false,
            .bounds = {.x = 200, .y = 0, .width = 1920, .height = 1080},
            .hasExtendedRange = true,
            .maximumFramesPerSecond = 75,
        };
        c.expect(expected);
        EXPECT_EQ(world.snapshot(), std::vector<DisplayDevice>{expected});
    }
}

TEST(DisplayInventoryTest, RefreshIsVariableOnlyForPositiveFiniteIntervalsOverAMicrosecondApart)
{
    const double boundary = 0.5 + 0.000001;
    const double intervals[][3] = {// minimum, maximum, whether variable
        {0.5, boundary, 0}, {0.5, std::nextafter(boundary, 1.0), 1}, {0, 1.0 / 48, 0},
        {-1.0 / 120, 1.0 / 48, 0}, {1.0 / 120, infinity, 0}, {infinity, infinity, 0},
        {std::nan(""), 1.0 / 48, 0}};
    for (const auto& [minimum, maximum, isVariable] : intervals) {
        SCOPED_TRACE(std::to_string(minimum) + " to " + std::to_string(maximum));
        InventoryWorld world;
        world.mac.world.displays = {display(2, "d1", "Wide")};
        world.mac.world.displays[0].screen->minimumRefreshInterval = minimum;
        world.mac.world.displays[0].screen->maximumRefreshInterval = maximum;
        EXPECT_EQ(world.snapshot().at(0).adaptiveModeID,
            isVariable ? std::optional<std::int32_t>(42) : std::nullopt);
    }
}

TEST(DisplayInventoryTest, TheFirstScreenClaimingTheNumberNamesTheDisplay)
{
    InventoryWorld world;
    world.mac.world.displays = {display(1, "A", "Claims two"), display(2, "B", "Own screen")};
    world.mac.world.displays[0].screen->deviceDescription["NSScreenNumber"]
        = PlatformValue::integer(2);
    const std::vector<DisplayDevice> devices = world.snapshot();
    ASSERT_EQ(devices.size(), 2u);
    EXPECT_EQ(devices[0].name, "Claims two");
    EXPECT_EQ(devices[0].runtimeID, 2u);
    EXPECT_EQ(devices[1].name, "Display 1");
    EXPECT_EQ(devices[1].reference(), (DisplayReference{.id = "a", .name = "Display 1"}));
}

TEST(DisplayInventoryTest, BuiltInHDRDescriptionFollowsExtendedRange)
{
    DisplayDevice device{.id = "a", .name = "Built-in", .isBuiltIn = true};
    EXPECT_EQ(device.builtInHDRDescription(), "HDR managed by macOS");
    device.hasExtendedRange = true;
    EXPECT_EQ(device.builtInHDRDescription(), "HDR supported · managed by macOS");
}

} // namespace
} // namespace quorvane
