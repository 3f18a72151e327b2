#include "Concurrency/ManualExecutor.h"
#include "Foundation/UUID.h"
#include "QuorvaneMac/SpaceChangeMonitor.h"
#include "QuorvaneMac/SpaceProvider.h"
#include "SimulatedMac/SimulatedMac.h"
#include "SimulatedMac/SimulatedSkyLight.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>

namespace quorvane {
namespace {

const std::string builtInID = "37d8832a-2d66-02ca-b9f7-8f30a301b230";
const std::string externalID = "9c4e2f61-5b3a-4d7e-8f10-2a6b7c8d9e0f";
const std::string spaceA = "5e1c7a0b-7c1d-4f52-9a3e-0b6d2c4f8a11";
const std::string spaceB = "a47b2d90-3e6f-4c18-b5d2-7f9e1a3c6b42";
const std::string spaceC = "c2f8e4a6-1b3d-4e5f-8a7c-9d0b2e4f6a83";

constexpr std::string_view identifiedMessage
    = "Experimental · desktop associations can change after logout or a macOS update.";
constexpr std::string_view sessionMessage
    = "Experimental · desktops marked ‘this session’ must be selected again after restarting "
      "Quorvane, restarting the Dock, or removing a desktop.";
constexpr std::string_view noIdentifiersMessage
    = "macOS did not provide desktop identifiers. App rules still work.";
constexpr std::string_view unknownSpaceMessage
    = "Full-screen or unknown Space. App rules still work.";
constexpr std::string_view unidentifiedScreenMessage
    = "macOS did not identify Spaces for this screen.";
constexpr std::string_view unavailableMessage
    = "Desktop detection is unavailable on this macOS version.";

/// The session identifier the provider holds after its n-th draw of a UUID.
std::string sessionText(int draw)
{
    return "00000000-0000-0000-0000-" + std::string(11, '0') + std::to_string(draw);
}

std::string sessionID(int draw, std::uint64_t runtimeID)
{
    return "session:" + sessionText(draw) + ":" + std::to_string(runtimeID);
}

struct World {
    ScopedUUIDGenerator uuids{sequentialUUIDGenerator()};
    ManualExecutor executor;
    SimulatedMac mac{executor};
    std::shared_ptr<SimulatedSkyLight> skyLight;

    World()
    {
        addDefaultDisplays(mac.world);
        skyLight = installSkyLightDefaults(mac);
    }

    SimulatedDisplaySpaces& spacesOf(const std::string& id)
    {
        return skyLight->displaySpaces.at(id);
    }
    void setTopology(PropertyList topology)
    {
        skyLight->topologyOverride = std::optional(std::move(topology));
    }
};

PropertyList space(std::optional<std::int64_t> type, std::optional<std::int64_t> id64,
    std::optional<std::string> uuid = std::nullopt)
{
    std::map<std::string, PropertyList> entries;
    if (type)
        entries["type"] = PropertyList::integer(*type);
    if (id64)
        entries["id64"] = PropertyList::integer(*id64);
    if (uuid)
        entries["uuid"] = PropertyList::text(*uuid);
    return PropertyList::dictionary(std::move(entries));
}

PropertyList entry(std::string identifier, std::vector<PropertyList> spaces,
    std::optional<PropertyList> current = std::nullopt)
{
    std::map<std::string, PropertyList> entries{
        {"Display Identifier", PropertyList::text(std::move(identifier))},
        {"Spaces", PropertyList::array(std::move(spaces))},
    };
    if (current)
        entries["Current Space"] = *current;
    return PropertyList::dictionary(std::move(entries));
}

std::vector<std::string> idsOf(const SpaceSnapshot& snapshot)
{
    std::vector<std::string> ids;
    for (const Desktop& desktop : snapshot.desktops)
        ids.push_back(desktop.id);
    return ids;
}

TEST(SpaceProviderTest, SeparateSpacesBelongToTheirDisplayAndSharedOnesMatchEveryDisplay)
{
    for (const bool separate : {true, false}) {
        SCOPED_TRACE(separate ? "separate" : "shared");
        World world;
        world.mac.world.screensHaveSeparateSpaces = separate;
        SpaceProvider provider(world.mac.platform());
        const auto snapshots = provider.snapshots({builtInID, externalID});
        const auto desktop = [&](std::string id, std::string name, const std::string& display) {
            return Desktop{.id = std::move(id),
                .name = std::move(name),
                .displayID = separate ? std::optional(display) : std::nullopt,
                .isShared = !separate};
        };
        const Desktop first = desktop(spaceA, "Space 1", builtInID);
        const Desktop second = desktop(spaceB, "Space 2", builtInID);
        const std::string message(identifiedMessage);
        EXPECT_EQ(snapshots.at(builtInID),
            (SpaceSnapshot{.current = second, .desktops = {first, second}, .message = message}));
        const Desktop external = desktop(spaceC, "Space 1", externalID);
        const SpaceSnapshot own{.current = external, .desktops = {external}, .message = message};
        EXPECT_EQ(snapshots.at(externalID), separate ? own : snapshots.at(builtInID));
    }
}

TEST(SpaceProviderTest, DisplayEntriesMatchIgnoringCaseButMainOnlyWhenShared)
{
    struct Case {
        std::string_view name;
        std::string entryIdentifier;
        bool separate;
        bool matches;
    };
    const Case cases[] = {
        {"upper-case entry", "37D8832A-2D66-02CA-B9F7-8F30A301B230", true, true},
        {"lower-case entry", builtInID, true, true},
        {"Main while separate", "Main", true, false},
        {"Main while shared", "Main", false, true},
        {"main in lower case while shared", "main", false, false},
        {"another display while shared", externalID, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        World world;
        world.mac.world.screensHaveSeparateSpaces = c.separate;
        world.skyLight->reportsCurrentSpace = false;
        world.setTopology(
            PropertyList::array({entry(c.entryIdentifier, {space(0, 3, spaceA)}, space(0, 3))}));
        SpaceProvider provider(world.mac.platform());
        const SpaceSnapshot snapshot = provider.snapshots({builtInID}).at(builtInID);
        EXPECT_EQ(snapshot.desktops.size(), c.matches ? 1u : 0u);
        EXPECT_EQ(snapshot.message, c.matches ? identifiedMessage : unidentifiedScreenMessage);
    }
}

TEST(SpaceProviderTest, FullScreenSpacesAreNeitherListedNorCountedNorCurrent)
{
    World world;
    world.spacesOf(builtInID) = SimulatedDisplaySpaces{
        .spaces = {{.runtimeID = 3, .uuid = spaceA}, {.runtimeID = 4, .uuid = spaceC, .type = 4},
            {.runtimeID = 8, .uuid = spaceB}},
        .currentSpace = 4,
    };
    SpaceProvider provider(world.mac.platform());
    SpaceSnapshot snapshot = provider.snapshots({builtInID}).at(builtInID);
    EXPECT_EQ(idsOf(snapshot), (std::vector{spaceA, spaceB}));
    EXPECT_EQ(snapshot.desktops.back().name, "Space 2");
    EXPECT_FALSE(snapshot.current);
    EXPECT_EQ(snapshot.message, unknownSpaceMessage);

    world.spacesOf(builtInID).currentSpace = 8;
    snapshot = provider.snapshots({builtInID}).at(builtInID);
    ASSERT_TRUE(snapshot.current);
    EXPECT_EQ(snapshot.current->id, spaceB);
}

TEST(SpaceProviderTest, SpacesWithoutUUIDGetSessionIdentities)
{
    World world;
    world.spacesOf(builtInID) = SimulatedDisplaySpaces{
        .spaces = {{.runtimeID = 3, .uuid = "not a uuid"}, {.runtimeID = 8, .uuid = spaceB},
            {.runtimeID = 0}},
        .currentSpace = 3,
    };
    SpaceProvider provider(world.mac.platform());
    const SpaceSnapshot snapshot = provider.snapshots({builtInID}).at(builtInID);
    // Draw 1 at creation, draw 2 at the first read because a Dock now runs.
    const Desktop session{.id = sessionID(2, 3),
        .name = "Space 1 · this session",
        .displayID = builtInID,
        .isShared = false};
    EXPECT_EQ(snapshot.current, session);
    EXPECT_EQ(idsOf(snapshot), (std::vector{session.id, spaceB}));
    EXPECT_EQ(snapshot.message, sessionMessage);
}

TEST(SpaceProviderTest, TheCurrentSpaceComesFromTheQueryThenTheEntryThenItsUUID)
{
    struct Case {
        std::string_view name;
        bool reports;
        std::optional<PropertyList> current;
        std::optional<std::string> expected;
    };
    const Case cases[] = {
        {"query wins over the entry", true, space(0, 3, spaceA), spaceB},
        {"entry's runtime identifier", false, space(0, 3, spaceB), spaceA},
        {"entry's UUID in upper case", false,
            space(0, std::nullopt, "A47B2D90-3E6F-4C18-B5D2-7F9E1A3C6B42"), spaceB},
        {"a known identifier that matches nothing", false, space(0, 99, spaceB), std::nullopt},
        {"no current entry", false, std::nullopt, std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        World world;
        world.skyLight->reportsCurrentSpace = c.reports;
        world.mac.world.screensHaveSeparateSpaces = false;
        world.skyLight->sharedSpaces.currentSpace = 8;
        world.setTopology(PropertyList::array(
            {entry("Main", {space(0, 3, spaceA), space(0, 8, spaceB)}, c.current)}));
        SpaceProvider provider(world.mac.platform());
        const SpaceSnapshot snapshot = provider.snapshots({builtInID}).at(builtInID);
        EXPECT_EQ(
            snapshot.current ? std::optional(snapshot.current->id) : std::nullopt, c.expected);
    }
}

TEST(SpaceProviderTest, RuntimeIdentifiersFallBackToTheManagedSpaceID)
{
    World world;
    auto withManagedID = [](std::int64_t id) {
        return PropertyList::dictionary(
            {{"type", PropertyList::integer(0)}, {"ManagedSpaceID", PropertyList::integer(id)},
                {"id64", PropertyList::text("not a number")}});
    };
    world.skyLight->reportsCurrentSpace = false;
    world.setTopology(PropertyList::array({entry(builtInID,
        {withManagedID(6), withManagedID(7), space(std::nullopt, 9)}, withManagedID(7))}));
    SpaceProvider provider(world.mac.platform());
    const SpaceSnapshot snapshot = provider.snapshots({builtInID}).at(builtInID);
    EXPECT_EQ(idsOf(snapshot), (std::vector{sessionID(2, 6), sessionID(2, 7)}));
    ASSERT_TRUE(snapshot.current);
    EXPECT_EQ(snapshot.current->name, "Space 2 · this session");
}

TEST(SpaceProviderTest, WithoutTheCurrentSpaceQueryTheEntryDecides)
{
    World world;
    auto& symbols = world.mac.loader.image(SimulatedSkyLight::imagePath).symbols;
    symbols.erase("SLSManagedDisplayGetCurrentSpace");
    symbols.erase("CGSManagedDisplayGetCurrentSpace");
    world.setTopology(PropertyList::array(
        {entry(builtInID, {space(0, 3, spaceA), space(0, 8, spaceB)}, space(0, 3))}));
    SpaceProvider provider(world.mac.platform());
    EXPECT_EQ(provider.snapshots({builtInID}).at(builtInID).current->id, spaceA);
    EXPECT_TRUE(provider.diagnosticSummary().ends_with("; direct-current: 0"));
}

TEST(SpaceProviderTest, NumbersMayComeAsWholeReals)
{
    World world;
    world.skyLight->reportsCurrentSpace = false;
    const auto realSpace = [](double type, double id) {
        return PropertyList::dictionary(
            {{"type", PropertyList::real(type)}, {"id64", PropertyList::real(id)}});
    };
    world.setTopology(PropertyList::array({entry(builtInID,
        {realSpace(0, 4), realSpace(0.5, 5), realSpace(0, 6.5), realSpace(0, -7), realSpace(0, 9)},
        realSpace(0, 9))}));
    SpaceProvider provider(world.mac.platform());
    const SpaceSnapshot snapshot = provider.snapshots({builtInID}).at(builtInID);
    EXPECT_EQ(idsOf(snapshot), (std::vector{sessionID(2, 4), sessionID(2, 9)}));
    EXPECT_EQ(snapshot.current->name, "Space 4 · this session");
    EXPECT_TRUE(provider.diagnosticSummary().starts_with(
        "Separate Spaces: true; current: type=0.000000 id=9.000000 UUID-length=0"));
}

TEST(SpaceProviderTest, MessagesForUnreadableOrEmptyTopologies)
{
    struct Case {
        std::string_view name;
        std::function<void(World&)> change;
        std::string_view message;
    };
    const auto removeBoth = [](std::string role) {
        return [role](World& w) {
            auto& symbols = w.mac.loader.image(SimulatedSkyLight::imagePath).symbols;
            symbols.erase("SLS" + role);
            symbols.erase("CGS" + role);
        };
    };
    const Case cases[] = {
        {"no SkyLight", [](World& w) { w.mac.loader.removeImage(SimulatedSkyLight::imagePath); },
            unavailableMessage},
        {"no connection function", removeBoth("MainConnectionID"), unavailableMessage},
        {"no copy function", removeBoth("CopyManagedDisplaySpaces"), unavailableMessage},
        {"nothing copied",
            [](World& w) { w.skyLight->topologyOverride = std::optional<PropertyList>(); },
            unavailableMessage},
        {"not an array", [](World& w) { w.setTopology(PropertyList::dictionary({})); },
            unavailableMessage},
        {"an entry that is no dictionary",
            [](World& w) {
                w.setTopology(PropertyList::array(
                    {entry(builtInID, {space(0, 3, spaceA)}), PropertyList::integer(1)}));
            },
            unavailableMessage},
        {"no entry for the display", [](World& w) { w.setTopology(PropertyList::array({})); },
            unidentifiedScreenMessage},
        {"an entry without identifier text",
            [](World& w) {
                w.setTopology(PropertyList::array(
                    {PropertyList::dictionary({{"Display Identifier", PropertyList::integer(1)},
                        {"Spaces", PropertyList::array({})}})}));
            },
            unidentifiedScreenMessage},
        {"Spaces that are no array",
            [](World& w) {
                w.setTopology(PropertyList::array({PropertyList::dictionary(
                    {{"Display Identifier", PropertyList::text(builtInID)},
                        {"Spaces", PropertyList::integer(1)}})}));
            },
            unidentifiedScreenMessage},
        {"a Space that is no dictionary",
            [](World& w) {
                w.setTopology(PropertyList::array({entry(builtInID, {PropertyList::text("x")})}));
            },
            unidentifiedScreenMessage},
        {"no Spaces", [](World& w) { w.spacesOf(builtInID).spaces.clear(); }, noIdentifiersMessage},
        {"no usable identifiers",
            [](World& w) { w.spacesOf(builtInID).spaces = {{.runtimeID = 0, .uuid = "zz"}}; },
            noIdentifiersMessage},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        World world;
        c.change(world);
        SpaceProvider provider(world.mac.platform());
        EXPECT_EQ(provider.snapshots({builtInID}).at(builtInID),
            (SpaceSnapshot{
                .current = std::nullopt, .desktops = {}, .message = std::string(c.message)}));
    }
}

TEST(SpaceProviderTest, OneDisplaySnapshotNeedsAnIdentifierAndFallbackNamesStandIn)
{
    World world;
    auto& symbols = world.mac.loader.image(SimulatedSkyLight::imagePath).symbols;
    for (const char* name :
        {"SLSMainConnectionID", "SLSCopyManagedDisplaySpaces", "SLSManagedDisplayGetCurrentSpace"})
        symbols.erase(name);
    SpaceProvider provider(world.mac.platform());
    EXPECT_EQ(provider.snapshot(std::nullopt).message, "Connect a screen to use Space rules.");
    EXPECT_EQ(provider.snapshot(externalID).current->id, spaceC);
    EXPECT_EQ(provider.snapshots({builtInID}).at(builtInID).current->id, spaceB);
    for (const std::string& call : world.skyLight->calls)
        EXPECT_TRUE(call.starts_with("CGS")) << call;
    EXPECT_FALSE(world.skyLight->calls.empty());
}

TEST(SpaceProviderTest, SessionIdentityRenewsOnDockChangesAndNewRuntimeIdentifiers)
{
    struct Case {
        std::string_view name;
        std::function<void(World&)> change;
        bool renews;
    };
    const Case cases[] = {
        {"nothing changed", [](World&) {}, false},
        {"Dock restarted", [](World& w) { launchDock(w.mac, 977); }, true},
        {"Dock quit", [](World& w) { quitDock(w.mac); }, true},
        {"Space removed",
            [](World& w) {
                w.spacesOf(externalID).spaces.erase(w.spacesOf(externalID).spaces.begin());
            },
            false},
        {"display gone", [](World& w) { w.mac.world.unplug(2); }, false},
        {"Space added",
            [](World& w) { w.spacesOf(externalID).spaces.push_back({.runtimeID = 11}); }, true},
        {"Space with runtime identifier 0 added",
            [](World& w) { w.spacesOf(externalID).spaces.push_back({.runtimeID = 0}); }, true},
        {"full-screen Space added",
            [](World& w) { w.spacesOf(externalID).spaces.push_back({.runtimeID = 11, .type = 4}); },
            false},
        {"display seen for the first time",
            [](World& w) {
                w.skyLight->displaySpaces["0a0b0c0d-0000-4000-8000-000000000001"]
                    = {.spaces = {{.runtimeID = 12}}};
                SimulatedDisplay display = w.mac.world.displays.back();
                display.number = 3;
                display.uuid = "0A0B0C0D-0000-4000-8000-000000000001";
                w.mac.world.displays.push_back(display);
            },
            false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        World world;
        world.spacesOf(builtInID).spaces.push_back({.runtimeID = 10});
        SpaceProvider provider(world.mac.platform());
        EXPECT_EQ(idsOf(provider.snapshots({builtInID}).at(builtInID)).back(), sessionID(2, 10));
        c.change(world);
        EXPECT_EQ(idsOf(provider.snapshots({builtInID}).at(builtInID)).back(),
            sessionID(c.renews ? 3 : 2, 10));
    }
}

TEST(SpaceProviderTest, NoDockAtTheFirstReadKeepsTheFirstSessionAndAFailedReadKeepsTheState)
{
    World world;
    quitDock(world.mac);
    world.spacesOf(builtInID).spaces.push_back({.runtimeID = 10});
    SpaceProvider provider(world.mac.platform());
    EXPECT_EQ(idsOf(provider.snapshots({builtInID}).at(builtInID)).back(), sessionID(1, 10));

    // The Dock starts while the Spaces cannot be read: the next good read still sees it as new.
    launchDock(world.mac, 500);
    world.skyLight->topologyOverride = std::optional<PropertyList>();
    EXPECT_EQ(provider.snapshots({builtInID}).at(builtInID).message, unavailableMessage);
    world.skyLight->topologyOverride.reset();
    EXPECT_EQ(idsOf(provider.snapshots({builtInID}).at(builtInID)).back(), sessionID(2, 10));
}

TEST(SpaceProviderTest, DiagnosticSummaryDescribesTheLastMatchedDisplay)
{
    World world;
    SpaceProvider provider(world.mac.platform());
    EXPECT_EQ(provider.diagnosticSummary(), "No topology read yet.");
    world.spacesOf(externalID).spaces.push_back({.runtimeID = 6, .uuid = "short", .type = 4});
    (void)provider.snapshots({externalID, "ffffffff-0000-4000-8000-000000000000"});
    EXPECT_EQ(provider.diagnosticSummary(),
        "Separate Spaces: true; current: type=0 id=5 UUID-length=36 UUID-valid=true; entries: "
        "[\"type=0 id=5 UUID-length=36 UUID-valid=true\", \"type=4 id=6 UUID-length=5 "
        "UUID-valid=false\"]; "
        "direct-current: 5");

    world.skyLight->reportsCurrentSpace = false;
    world.setTopology(PropertyList::array({entry(externalID, {})}));
    (void)provider.snapshots({externalID});
    EXPECT_EQ(provider.diagnosticSummary(),
        "Separate Spaces: true; current: type=nil id=nil UUID-length=0 UUID-valid=false; entries: "
        "[]; "
        "direct-current: 0");
}

TEST(SpaceChangeMonitorTest, PostsOneNotificationPerEventOnTheMainExecutor)
{
    World world;
    {
        SpaceChangeMonitor monitor(world.mac.platform(), world.executor);
        EXPECT_TRUE(monitor.isAvailable());
        int received = 0;
        world.mac.notifications.addObserver(
            std::string(SpaceChangeMonitor::didChange), [&](const Notification&) { ++received; });
        world.skyLight->fireSpaceChange();
        world.skyLight->fireSpaceChange();
        EXPECT_EQ(received, 0);
        world.executor.runUntilIdle();
        EXPECT_EQ(received, 2);
        EXPECT_TRUE(world.mac.notifications.posted.back().userInfo.empty());
    }
    EXPECT_TRUE(world.skyLight->registrations.empty());
    world.skyLight->fireSpaceChange();
    world.executor.runUntilIdle();
    EXPECT_EQ(world.mac.notifications.posted.size(), 2u);
}

TEST(SpaceChangeMonitorTest, RegistrationNeedsBothFunctionsAndSuccess)
{
    struct Case {
        std::string_view name;
        std::function<void(World&)> change;
        bool isAvailable;
        std::vector<std::string> calls;
    };
    const auto erase = [](std::vector<std::string> names) {
        return [names](World& w) {
            for (const std::string& name : names)
                w.mac.loader.image(SimulatedSkyLight::imagePath).symbols.erase(name);
        };
    };
    const Case cases[] = {
        {"first names", [](World&) {}, true, {"SLSRegisterNotifyProc", "SLSRemoveNotifyProc"}},
        {"fallback names", erase({"SLSRegisterNotifyProc", "SLSRemoveNotifyProc"}), true,
            {"CGSRegisterNotifyProc", "CGSRemoveNotifyProc"}},
        {"registration refused", [](World& w) { w.skyLight->registerStatus = 1000; }, false,
            {"SLSRegisterNotifyProc"}},
        {"no unregistration", erase({"SLSRemoveNotifyProc", "CGSRemoveNotifyProc"}), false, {}},
        {"no registration", erase({"SLSRegisterNotifyProc", "CGSRegisterNotifyProc"}), false, {}},
        {"no SkyLight", [](World& w) { w.mac.loader.removeImage(SimulatedSkyLight::imagePath); },
            false, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        World world;
        c.change(world);
        {
            SpaceChangeMonitor monitor(world.mac.platform(), world.executor);
            EXPECT_EQ(monitor.isAvailable(), c.isAvailable);
            if (c.isAvailable) {
                ASSERT_EQ(world.skyLight->registrations.size(), 1u);
                EXPECT_EQ(world.skyLight->registrations.front().eventType, 1401u);
            }
        }
        EXPECT_EQ(world.skyLight->calls, c.calls);
        world.skyLight->fireSpaceChange();
        world.executor.runUntilIdle();
        EXPECT_TRUE(world.mac.notifications.posted.empty());
    }
}

} // namespace
} // namespace quorvane
