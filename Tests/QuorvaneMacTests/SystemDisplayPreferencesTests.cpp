#include "QuorvaneMac/SystemDisplayPreferences.h"

#include "SimulatedMac/SimulatedAmbientLight.h"
#include "SimulatedMac/SimulatedCoreBrightness.h"
#include "SimulatedMac/SimulatedMac.h"
#include "SimulatedMac/SimulatedSkyLight.h"
#include "TestSupport/RunToEnd.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <string>

namespace quorvane {
namespace {

const std::string builtInID = "37d8832a-2d66-02ca-b9f7-8f30a301b230";
const std::string externalID = "9c4e2f61-5b3a-4d7e-8f10-2a6b7c8d9e0f";

constexpr std::string_view trueToneUnavailable
    = "True Tone is unavailable on this Mac or in the current display mode.";
constexpr std::string_view nightShiftUnavailable = "Night Shift is unavailable on this Mac.";
constexpr std::string_view nightShiftChanged
    = "Night Shift interface changed on this macOS version.";
constexpr std::string_view nightShiftUnavailableInMode
    = "Night Shift is unavailable in the current display mode.";
constexpr std::string_view ambientUnsupported
    = "Ambient-light brightness control is not supported on this screen.";
constexpr std::string_view darkModeUnavailable
    = "Dark Mode control is unavailable on this macOS version.";

SystemDisplayControl automaticBrightness(const std::string& id)
{
    return SystemDisplayControl::automaticBrightness(id);
}

/// The default world with every slice installed; tests change it before creating the service.
struct World {
    ManualExecutor executor;
    SimulatedMac mac{executor};
    std::shared_ptr<SimulatedCoreBrightness> coreBrightness;
    std::shared_ptr<SimulatedAmbientLight> ambient;
    std::shared_ptr<SimulatedSkyLight> skyLight;

    explicit World(bool withPrivateInterfaces = true)
    {
        addDefaultDisplays(mac.world);
        if (!withPrivateInterfaces)
            return;
        coreBrightness = installCoreBrightnessDefaults(mac);
        ambient = installAmbientLightDefaults(mac);
        skyLight = installSkyLightDefaults(mac);
    }

    SimulatedObjectRuntime::Method& method(
        const std::string& className, const std::string& selector)
    {
        return mac.objects.defineClass(className).methods.at(selector);
    }

    template <typename T> TaskOutcome<T> run(Task<T> task)
    {
        TaskOutcome<T> outcome;
        spawn(executor, recordOutcome(std::move(task), outcome));
        executor.runUntilIdle();
        return outcome;
    }
    SystemDisplaySnapshot snapshot(SystemDisplayPreferences& preferences)
    {
        return *run(preferences.snapshot()).value;
    }
    /// "done", "cancelled" or the error's text.
    std::string write(
        SystemDisplayPreferences& preferences, bool value, SystemDisplayControl control)
    {
        return run(preferences.write(value, std::move(control))).summary();
    }
};

TEST(SystemDisplayPreferencesTest, DefaultMacListsEveryControlInExactlyOneMap)
{
    World world;
    SystemDisplayPreferences preferences(world.mac.platform());
    const SystemDisplaySnapshot expected{
        .values
        = {{SystemDisplayControl::trueTone(), true}, {SystemDisplayControl::darkMode(), false},
            {SystemDisplayControl::nightShift(), false}, {automaticBrightness(builtInID), true}},
        .unavailable = {{automaticBrightness(externalID), std::string(ambientUnsupported)}},
    };
    EXPECT_EQ(world.snapshot(preferences), expected);
}

TEST(SystemDisplayPreferencesTest, WithoutAnyPrivateInterfaceEveryControlIsUnavailable)
{
    World world(false);
    {
        SystemDisplayPreferences preferences(world.mac.platform());
        const SystemDisplaySnapshot expected{
            .values = {},
            .unavailable = {{SystemDisplayControl::trueTone(), std::string(trueToneUnavailable)},
                {SystemDisplayControl::darkMode(), std::string(darkModeUnavailable)},
                {SystemDisplayControl::nightShift(), std::string(nightShiftUnavailable)},
                {automaticBrightness(builtInID), std::string(ambientUnsupported)},
                {automaticBrightness(externalID), std::string(ambientUnsupported)}},
        };
        EXPECT_EQ(world.snapshot(preferences), expected);
    }
    const std::vector<int> modes = world.mac.loader.openModes();
    EXPECT_EQ(modes, std::vector<int>(modes.size(), DynamicLoader::lazyLocal));
}

TEST(SystemDisplayPreferencesTest, TrueToneIsReadOnlyThroughGettersOfTheExpectedShape)
{
    struct Case {
        std::string_view name;
        std::function<void(World&)> change;
    };
    const Case cases[] = {
        {"unsupported", [](World& w) { w.coreBrightness->trueTone.supported = false; }},
        {"not available", [](World& w) { w.coreBrightness->trueTone.available = false; }},
        {"no setter answer",
            [](World& w) { w.method("CBTrueToneClient", "setEnabled:").responds = false; }},
        {"getter not answering",
            [](World& w) { w.method("CBTrueToneClient", "enabled").responds = false; }},
        {"getter returns char",
            [](World& w) { w.method("CBTrueToneClient", "enabled").shape.returnType = "c"; }},
        {"getter takes a parameter",
            [](World& w) { w.method("CBTrueToneClient", "enabled").shape.argumentCount = 3; }},
        {"supported returns char",
            [](World& w) { w.method("CBTrueToneClient", "supported").shape.returnType = "c"; }},
        {"available takes a parameter",
            [](World& w) { w.method("CBTrueToneClient", "available").shape.argumentCount = 3; }},
        {"getter declared but not callable",
            [](World& w) { w.method("CBTrueToneClient", "enabled").implementation.reset(); }},
        {"not a root object",
            [](World& w) {
                w.mac.objects.defineClass("CBTrueToneClient").descendsFromRootObject = false;
            }},
        {"init fails",
            [](World& w) { w.mac.objects.defineClass("CBTrueToneClient").initSucceeds = false; }},
        {"no class", [](World& w) { w.mac.objects.removeClass("CBTrueToneClient"); }},
        {"no library",
            [](World& w) { w.mac.loader.removeImage(SimulatedCoreBrightness::imagePath); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        World world;
        c.change(world);
        SystemDisplayPreferences preferences(world.mac.platform());
        const SystemDisplaySnapshot snapshot = world.snapshot(preferences);
        EXPECT_FALSE(snapshot.values.contains(SystemDisplayControl::trueTone()));
        EXPECT_EQ(snapshot.unavailable.at(SystemDisplayControl::trueTone()), trueToneUnavailable);
        EXPECT_EQ(
            world.write(preferences, false, SystemDisplayControl::trueTone()), trueToneUnavailable);
        EXPECT_TRUE(world.coreBrightness->trueTone.enabled);
    }
}

TEST(SystemDisplayPreferencesTest, NightShiftStatusIsReadOnlyInAKnownLayout)
{
    using Layout = SimulatedCoreBrightness::StatusLayout;
    struct Case {
        std::string_view name;
        Layout layout;
        std::function<void(World&)> change;
        std::optional<bool> value;
        std::string_view reason;
    };
    const auto statusMethod = [](World& w) -> SimulatedObjectRuntime::Method& {
        return w.method("CBBlueLightClient", "getBlueLightStatus:");
    };
    const Case cases[] = {
        {"long layout", Layout::longLayout, [](World&) {}, true, ""},
        {"long layout, off", Layout::longLayout,
            [](World& w) { w.coreBrightness->nightShift.enabled = false; }, false, ""},
        {"short layout, off", Layout::shortLayout,
            [](World& w) { w.coreBrightness->nightShift.enabled = false; }, false, ""},
        {"the class without its library", Layout::longLayout,
            [](World& w) { w.mac.loader.removeImage(SimulatedCoreBrightness::imagePath); }, true,
            ""},
        {"short layout ignores availability", Layout::shortLayout,
            [](World& w) { w.coreBrightness->nightShift.availableInMode = false; }, true, ""},
        {"long layout unavailable in this mode", Layout::longLayout,
            [](World& w) { w.coreBrightness->nightShift.availableInMode = false; }, std::nullopt,
            nightShiftUnavailableInMode},
        {"status refused", Layout::shortLayout,
            [](World& w) { w.coreBrightness->nightShift.answersStatus = false; }, std::nullopt,
            nightShiftUnavailableInMode},
        {"other structure names", Layout::longLayout,
            [&](World& w) {
                statusMethod(w).shape.argumentTypes[2] = "^{X=BBBi{Y={Z=ii}{W=ii}}QB}";
            },
            true, ""},
        {"unknown layout", Layout::longLayout,
            [&](World& w) {
                statusMethod(w).shape.argumentTypes[2] = "^{X=BBBi{Y={Z=ii}{W=ii}}QBB}";
            },
            std::nullopt, nightShiftChanged},
        {"status returns void", Layout::longLayout,
            [&](World& w) { statusMethod(w).shape.returnType = "v"; }, std::nullopt,
            nightShiftChanged},
        {"status without parameter", Layout::longLayout,
            [&](World& w) { statusMethod(w).shape.argumentCount = 2; }, std::nullopt,
            nightShiftUnavailable},
        {"parameter type unreadable", Layout::longLayout,
            [&](World& w) { statusMethod(w).shape.argumentTypes[2] = std::nullopt; }, std::nullopt,
            nightShiftUnavailable},
        {"parameter types missing", Layout::longLayout,
            [&](World& w) { statusMethod(w).shape.argumentTypes.resize(2); }, std::nullopt,
            nightShiftUnavailable},
        {"no status method", Layout::longLayout,
            [](World& w) {
                w.mac.objects.defineClass("CBBlueLightClient").methods.erase("getBlueLightStatus:");
            },
            std::nullopt, nightShiftUnavailable},
        {"status not callable", Layout::longLayout,
            [&](World& w) { statusMethod(w).implementation.reset(); }, std::nullopt,
            nightShiftUnavailable},
        {"unsupported", Layout::longLayout,
            [](World& w) { w.coreBrightness->nightShift.supported = false; }, std::nullopt,
            nightShiftUnavailable},
        {"no setter", Layout::longLayout,
            [](World& w) { w.method("CBBlueLightClient", "setEnabled:").responds = false; },
            std::nullopt, nightShiftUnavailable},
        {"no class", Layout::longLayout,
            [](World& w) { w.mac.objects.removeClass("CBBlueLightClient"); }, std::nullopt,
            nightShiftUnavailable},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        World world;
        SimulatedCoreBrightness initial;
        initial.nightShift.layout = c.layout;
        initial.nightShift.enabled = true;
        world.coreBrightness = installCoreBrightness(world.mac, initial);
        c.change(world);
        SystemDisplayPreferences preferences(world.mac.platform());
        const SystemDisplaySnapshot snapshot = world.snapshot(preferences);
        const auto value = snapshot.values.find(SystemDisplayControl::nightShift());
        const auto reason = snapshot.unavailable.find(SystemDisplayControl::nightShift());
        if (c.value) {
            ASSERT_NE(value, snapshot.values.end());
            EXPECT_EQ(value->second, *c.value);
            EXPECT_EQ(reason, snapshot.unavailable.end());
            continue;
        }
        EXPECT_EQ(value, snapshot.values.end());
        ASSERT_NE(reason, snapshot.unavailable.end());
        EXPECT_EQ(reason->second, c.reason);
        EXPECT_EQ(world.write(preferences, false, SystemDisplayControl::nightShift()), c.reason);
        EXPECT_TRUE(world.coreBrightness->nightShift.enabled);
    }
}

TEST(SystemDisplayPreferencesTest, SettersAreCheckedBeforeTheyAreCalled)
{
    struct Case {
        std::string className;
        SystemDisplayControl control;
        std::string title;
    };
    const Case clients[] = {
        {"CBTrueToneClient", SystemDisplayControl::trueTone(), "True Tone"},
        {"CBBlueLightClient", SystemDisplayControl::nightShift(), "Night Shift"},
    };
    struct Change {
        std::string_view name;
        std::function<void(SimulatedObjectRuntime::Method&, SimulatedCoreBrightness&)> change;
        std::string suffix;
    };
    const Change changes[] = {
        {"no parameter", [](auto& m, auto&) { m.shape.argumentCount = 2; }, " control unavailable"},
        {"parameter type unreadable",
            [](auto& m, auto&) { m.shape.argumentTypes[2] = std::nullopt; },
            " control unavailable"},
        {"not callable", [](auto& m, auto&) { m.implementation.reset(); }, " control unavailable"},
        {"returns void", [](auto& m, auto&) { m.shape.returnType = "v"; },
            " interface changed on this macOS version"},
        {"takes a char", [](auto& m, auto&) { m.shape.argumentTypes[2] = "c"; },
            " interface changed on this macOS version"},
        {"refuses",
            [](auto&, auto& state) {
                state.trueTone.acceptsChanges = state.nightShift.acceptsChanges = false;
            },
            "refused"},
    };
    for (const Case& client : clients) {
        for (const Change& change : changes) {
            SCOPED_TRACE(client.title + " " + std::string(change.name));
            World world;
            change.change(world.method(client.className, "setEnabled:"), *world.coreBrightness);
            SystemDisplayPreferences preferences(world.mac.platform());
            world.coreBrightness->calls.clear();
            const std::string expected = change.suffix == "refused"
                ? "macOS did not accept the " + client.title + " change"
                : client.title + change.suffix;
            EXPECT_EQ(world.write(preferences, false, client.control), expected);
            const bool calledSetter = std::ranges::count(
                world.coreBrightness->calls, client.className + " setEnabled: off");
            EXPECT_EQ(calledSetter, change.suffix == "refused");
        }
    }
}

TEST(SystemDisplayPreferencesTest, WritesSetTheControlWithoutReadingItBack)
{
    World world;
    SystemDisplayPreferences preferences(world.mac.platform());
    world.coreBrightness->calls.clear();
    EXPECT_EQ(world.write(preferences, false, SystemDisplayControl::trueTone()), "done");
    EXPECT_EQ(world.coreBrightness->calls.back(), "CBTrueToneClient setEnabled: off");
    EXPECT_EQ(world.write(preferences, true, SystemDisplayControl::nightShift()), "done");
    EXPECT_EQ(world.coreBrightness->calls.back(), "CBBlueLightClient setEnabled: on");
    world.skyLight->calls.clear();
    EXPECT_EQ(world.write(preferences, true, SystemDisplayControl::darkMode()), "done");
    EXPECT_EQ(world.skyLight->calls, std::vector<std::string>{"SLSSetAppearanceThemeLegacy"});
    world.ambient->calls.clear();
    world.mac.world.renumber(1, 9); // automatic brightness follows the display by its UUID
    EXPECT_EQ(world.write(preferences, false, automaticBrightness(builtInID)), "done");
    EXPECT_EQ(world.ambient->calls.back(), "DisplayServicesEnableAmbientLightCompensation 9 off");

    const SystemDisplaySnapshot expected{
        .values
        = {{SystemDisplayControl::trueTone(), false}, {SystemDisplayControl::darkMode(), true},
            {SystemDisplayControl::nightShift(), true}, {automaticBrightness(builtInID), false}},
        .unavailable = {{automaticBrightness(externalID), std::string(ambientUnsupported)}},
    };
    EXPECT_EQ(world.snapshot(preferences), expected);
}

TEST(SystemDisplayPreferencesTest, DarkModeNeedsBothAppearanceFunctions)
{
    for (const char* missing : {"SLSGetAppearanceThemeLegacy", "SLSSetAppearanceThemeLegacy"}) {
        SCOPED_TRACE(missing);
        World world;
        world.mac.loader.image(SimulatedSkyLight::imagePath).symbols.erase(missing);
        SystemDisplayPreferences preferences(world.mac.platform());
        world.skyLight->calls.clear();
        EXPECT_EQ(world.snapshot(preferences).unavailable.at(SystemDisplayControl::darkMode()),
            darkModeUnavailable);
        EXPECT_EQ(
            world.write(preferences, true, SystemDisplayControl::darkMode()), darkModeUnavailable);
        EXPECT_TRUE(world.skyLight->calls.empty());
        EXPECT_FALSE(world.skyLight->darkMode);
    }
}

TEST(SystemDisplayPreferencesTest, AutomaticBrightnessFailuresCarryTheirTexts)
{
    struct Case {
        std::string_view name;
        std::function<void(World&)> change;
        std::string control;
        std::string_view reason;
        std::string_view writeError;
    };
    const auto panel
        = [](World& w) -> SimulatedAmbientLight::Panel& { return w.ambient->panels.at(builtInID); };
    const auto removeSymbol = [](std::string name) {
        return [name](World& w) {
            w.mac.loader.image(SimulatedAmbientLight::imagePath).symbols.erase(name);
        };
    };
    const Case cases[] = {
        {"external monitor", [](World&) {}, externalID, ambientUnsupported, ambientUnsupported},
        {"read status", [&](World& w) { panel(w).readStatus = -3; }, builtInID,
            "Could not read automatic brightness (-3).",
            "Could not read automatic brightness (-3)."},
        {"enable status", [&](World& w) { panel(w).writeStatus = -1; }, builtInID, "",
            "Automatic brightness change failed (-1)"},
        {"positive enable status", [&](World& w) { panel(w).writeStatus = 7; }, builtInID, "",
            "Automatic brightness change failed (7)"},
        {"no has-compensation query", removeSymbol("DisplayServicesHasAmbientLightCompensation"),
            builtInID, ambientUnsupported, ambientUnsupported},
        {"no enabled query", removeSymbol("DisplayServicesAmbientLightCompensationEnabled"),
            builtInID, ambientUnsupported, ambientUnsupported},
        {"no enable call", removeSymbol("DisplayServicesEnableAmbientLightCompensation"), builtInID,
            ambientUnsupported, ambientUnsupported},
        {"no library", [](World& w) { w.mac.loader.removeImage(SimulatedAmbientLight::imagePath); },
            builtInID, ambientUnsupported, ambientUnsupported},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        World world;
        c.change(world);
        SystemDisplayPreferences preferences(world.mac.platform());
        const SystemDisplaySnapshot snapshot = world.snapshot(preferences);
        const SystemDisplayControl control = automaticBrightness(c.control);
        if (c.reason.empty()) {
            EXPECT_TRUE(snapshot.values.at(control));
        } else {
            EXPECT_EQ(snapshot.unavailable.at(control), c.reason);
            EXPECT_FALSE(snapshot.values.contains(control));
        }
        EXPECT_EQ(world.write(preferences, false, control), c.writeError);
    }
}

TEST(SystemDisplayPreferencesTest, OneDisplayOrTwinsOfTheOtherLeaveTheBuiltInListed)
{
    const std::function<void(World&)> changes[] = {
        [](World& w) { w.mac.world.displays.pop_back(); },
        [](World& w) {
            SimulatedDisplay twin = w.mac.world.displays.back();
            twin.number = 6;
            twin.uuid = "9C4E2F61-5B3A-4D7E-8F10-2A6B7C8D9E0F";
            w.mac.world.displays.push_back(twin);
        },
    };
    for (const auto& change : changes) {
        World world;
        change(world);
        SystemDisplayPreferences preferences(world.mac.platform());
        const SystemDisplaySnapshot snapshot = world.snapshot(preferences);
        EXPECT_TRUE(snapshot.values.at(automaticBrightness(builtInID)));
        EXPECT_FALSE(snapshot.unavailable.contains(automaticBrightness(externalID)));
    }
}

TEST(SystemDisplayPreferencesTest, DisplaysThatAreGoneOrShareAUUIDAreNotListedOrWritten)
{
    struct Case {
        std::string_view name;
        std::function<void(World&)> change;
    };
    const Case cases[] = {
        {"asleep", [](World& w) { w.mac.world.sleep(1); }},
        {"unplugged", [](World& w) { w.mac.world.unplug(1); }},
        {"UUID shared with a mirror in other case",
            [](World& w) {
                SimulatedDisplay copy = w.mac.world.displays.front();
                copy.number = 5;
                copy.isBuiltIn = false;
                copy.uuid = builtInID;
                w.mac.world.displays.push_back(copy);
            }},
        {"online list count fails",
            [](World& w) { w.mac.world.graphicsFaults.countCallStatus = 1001; }},
        {"online list fails", [](World& w) { w.mac.world.graphicsFaults.listCallStatus = 1001; }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        World world;
        SystemDisplayPreferences preferences(world.mac.platform());
        c.change(world);
        const SystemDisplaySnapshot snapshot = world.snapshot(preferences);
        EXPECT_FALSE(snapshot.values.contains(automaticBrightness(builtInID)));
        EXPECT_FALSE(snapshot.unavailable.contains(automaticBrightness(builtInID)));
        world.ambient->calls.clear();
        EXPECT_EQ(world.write(preferences, false, automaticBrightness(builtInID)),
            "Display disconnected or asleep");
        EXPECT_TRUE(world.ambient->calls.empty());
        EXPECT_TRUE(world.ambient->panels.at(builtInID).isEnabled);
    }
}

TEST(SystemDisplayPreferencesTest, CancelledWriteTouchesNothing)
{
    const SystemDisplayControl controls[]
        = {SystemDisplayControl::trueTone(), SystemDisplayControl::darkMode(),
            SystemDisplayControl::nightShift(), automaticBrightness(builtInID)};
    for (const SystemDisplayControl& control : controls) {
        SCOPED_TRACE(control.title());
        World world;
        SystemDisplayPreferences preferences(world.mac.platform());
        world.coreBrightness->calls.clear();
        world.skyLight->calls.clear();
        world.ambient->calls.clear();
        TaskOutcome<void> outcome;
        spawn(world.executor, recordOutcome(preferences.write(false, control), outcome)).cancel();
        world.executor.runUntilIdle();
        EXPECT_TRUE(outcome.isCancelled);
        EXPECT_TRUE(world.coreBrightness->calls.empty());
        EXPECT_TRUE(world.skyLight->calls.empty());
        EXPECT_TRUE(world.ambient->calls.empty());
    }
}

TEST(SystemDisplayPreferencesTest, ReleasesTheClientsItCreated)
{
    World world;
    {
        SystemDisplayPreferences preferences(world.mac.platform());
        EXPECT_EQ(world.mac.objects.liveCreatedInstances(), 2);
    }
    EXPECT_EQ(world.mac.objects.liveCreatedInstances(), 0);
}

} // namespace
} // namespace quorvane
