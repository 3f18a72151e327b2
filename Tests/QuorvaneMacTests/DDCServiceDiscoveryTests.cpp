#include "QuorvaneMac/DDCServiceDiscovery.h"

#include "Concurrency/ManualExecutor.h"
#include "QuorvaneCore/DDCCodec.h"
#include "QuorvaneMac/DisplayInventory.h"
#include "SimulatedMac/SimulatedDDCMonitors.h"
#include "SimulatedMac/SimulatedMac.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace quorvane {
namespace {

using namespace std::chrono_literals;

const std::string ambiguous = "DDC transport is missing or ambiguous; no monitor was guessed.";
const std::string ioKit = "/System/Library/Frameworks/IOKit.framework/IOKit";
const std::string externalUUID = "9C4E2F61-5B3A-4D7E-8F10-2A6B7C8D9E0F";

std::string failureOf(const std::function<void()>& call)
{
    try {
        call();
    } catch (const DDCError& error) {
        return error.what();
    }
    return "no failure";
}

TEST(DDCServiceMatcherTest, PicksOnlyAServiceBelowTheFramebufferOrOnItsPort)
{
    const std::string framebuffer = "IOService:/ARM/io@1/SoC/dispext1@2C/Framebuffer";
    const std::string port = "IOService:/ARM/io@1/SoC/dcp@3/Endpoint/";
    struct Case {
        std::string name;
        std::string framebuffer;
        DDCServiceCandidate candidate;
        bool matches;
    };
    const auto service = [](std::string path, std::string location = "External") {
        return DDCServiceCandidate{
            .registryID = 7, .path = std::move(path), .location = std::move(location)};
    };
    const Case cases[] = {
        {"below the framebuffer", framebuffer, service(framebuffer + "/AV/Proxy"), true},
        {"below but embedded", framebuffer, service(framebuffer + "/AV/Proxy", "Embedded"), false},
        {"below but no location", framebuffer, service(framebuffer + "/AV/Proxy", ""), false},
        {"the framebuffer itself", framebuffer, service(framebuffer), false},
        {"on its port", framebuffer, service(port + "dispext1:dcpav-service-epic:0/Proxy"), true},
        {"port service is the last component", framebuffer,
            service(port + "x/dispext1:dcpav-service-epic:12"), true},
        {"port service embedded", framebuffer,
            service(port + "dispext1:dcpav-service-epic:0/Proxy", "Internal"), false},
        {"another port", framebuffer, service(port + "dispext2:dcpav-service-epic:0/Proxy"), false},
        {"no unit after the colon", framebuffer,
            service(port + "dispext1:dcpav-service-epic:/Proxy"), false},
        {"no unit", framebuffer, service(port + "dispext1:dcpav-service-epic/Proxy"), false},
        {"unit not digits", framebuffer, service(port + "dispext1:dcpav-service-epic:0a/Proxy"),
            false},
        {"a fourth piece", framebuffer, service(port + "dispext1:dcpav-service-epic:0:1/Proxy"),
            false},
        {"another kind of service", framebuffer,
            service(port + "dispext1:dcpav-service-other:0/Proxy"), false},
        {"beside the framebuffer's controller", framebuffer,
            service("IOService:/ARM/io@1/Other/dcp@3/Endpoint/dispext1:dcpav-service-epic:0/Proxy"),
            false},
        {"elsewhere in the tree", framebuffer,
            service("IOService:/ARM/io@2/SoC/dcp@3/Endpoint/dispext1:dcpav-service-epic:0/Proxy"),
            false},
        {"shorter than the framebuffer", framebuffer,
            service("IOService:/ARM/io@1/SoC/dispext1:dcpav-service-epic:0"), false},
        {"as long as the framebuffer", framebuffer,
            service("IOService:/ARM/io@1/SoC/x/dispext1:dcpav-service-epic:0"), true},
        {"port disp", "IOService:/ARM/io@1/SoC/disp0@2C/Framebuffer",
            service(port + "disp0:dcpav-service-epic:0/Proxy"), true},
        {"port dispext0 by number", "IOService:/ARM/io@1/SoC/dispext0/Framebuffer",
            service(port + "dispext0:dcpav-service-epic:0/Proxy"), true},
        {"port dispextA", "IOService:/ARM/io@1/SoC/dispextA@2C/Framebuffer",
            service(port + "dispextA:dcpav-service-epic:0/Proxy"), false},
        {"port display0", "IOService:/ARM/io@1/SoC/display0@2C/Framebuffer",
            service(port + "display0:dcpav-service-epic:0/Proxy"), false},
        {"port disp without number", "IOService:/ARM/io@1/SoC/disp@2C/Framebuffer",
            service(port + "disp:dcpav-service-epic:0/Proxy"), false},
        {"empty components dropped", "IOService://ARM/io@1//SoC/dispext1@2C/Framebuffer/",
            service(port + "/dispext1:dcpav-service-epic:0//Proxy"), true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string result = failureOf([&] {
            EXPECT_EQ(DDCServiceMatcher::select(c.framebuffer, {c.candidate}), c.candidate);
        });
        EXPECT_EQ(result, c.matches ? "no failure" : ambiguous);
    }
}

TEST(DDCServiceMatcherTest, RefusesUnusablePathsAndNeverGuesses)
{
    const std::string framebuffer = "IOService:/ARM/io@1/SoC/dispext1@2C/Framebuffer";
    const DDCServiceCandidate below{
        .registryID = 1, .path = framebuffer + "/AV/Proxy", .location = "External"};
    const DDCServiceCandidate onPort{.registryID = 2,
        .path = "IOService:/ARM/io@1/SoC/dcp/dispext1:dcpav-service-epic:0/P",
        .location = "External"};
    const DDCServiceCandidate embedded{
        .registryID = 3, .path = framebuffer + "/AV/Other", .location = "Embedded"};
    struct Case {
        std::string name;
        std::string framebuffer;
        std::vector<DDCServiceCandidate> candidates;
        std::string failure;
    };
    const std::string unusable = "Monitor framebuffer path is unavailable.";
    const Case cases[] = {
        {"two components", "IOService:/Framebuffer", {below}, unusable},
        {"another plane", "IODeviceTree:/ARM/io@1/SoC/dispext1@2C/Framebuffer", {below}, unusable},
        {"plane without its colon", "IOService/ARM/io@1/SoC/dispext1@2C/Framebuffer", {below},
            unusable},
        {"empty", "", {}, unusable},
        {"no candidates", framebuffer, {}, ambiguous},
        {"two fitting services", framebuffer, {below, onPort}, ambiguous},
        {"one fitting among others", framebuffer, {embedded, onPort}, "no failure"},
        {"three components suffice", "IOService:/dispext1@2C/Framebuffer", {}, ambiguous},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(failureOf([&] { (void)DDCServiceMatcher::select(c.framebuffer, c.candidates); }),
            c.failure);
    }
}

TEST(DDCServiceDiscoveryTest, PathTextStopsAtTheFirstZeroAndRepairsIllFormedUTF8)
{
    const std::string bad = "\xEF\xBF\xBD"; // U+FFFD
    struct Case {
        std::string written;
        std::string text;
    };
    const Case cases[] = {
        {"IOService:/a@1/b", "IOService:/a@1/b"},
        {std::string("a\0b", 3), "a"},
        {"\xC2\x80\xDF\xBF\xC3\xA9", "\xC2\x80\xDF\xBF\xC3\xA9"},
        {"\xE0\xA0\x80\xE2\x82\xAC\xED\x9F\xBF\xEF\xBF\xBF",
            "\xE0\xA0\x80\xE2\x82\xAC\xED\x9F\xBF\xEF\xBF\xBF"},
        {"\xF0\x90\x80\x80\xF0\x9F\x98\x80\xF4\x8F\xBF\xBF",
            "\xF0\x90\x80\x80\xF0\x9F\x98\x80\xF4\x8F\xBF\xBF"},
        {"x\xC3", "x" + bad},
        {"\xC3\xA9\x80", "\xC3\xA9" + bad},
        {"\xC3(", bad + "("},
        {"\xE2\x82(", bad + "("},
        {"\xF0\x9F\x98x", bad + "x"},
        {"\xE0\x80\x80", bad + bad + bad},
        {"\xED\xA0\x80", bad + bad + bad},
        {"\xF0\x8F\xBF\xBF", bad + bad + bad + bad},
        {"\xF4\x90\x80\x80", bad + bad + bad + bad},
        {"\xC0\xAF\xC1\xBF", bad + bad + bad + bad},
        {"\xF5\x80\xFF\x80", bad + bad + bad + bad},
        {"\x80z", bad + "z"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        IORegistry::PathBuffer buffer{};
        std::copy(c.written.begin(), c.written.end(), buffer.begin());
        EXPECT_EQ(registryPathText(buffer), c.text);
    }
    IORegistry::PathBuffer full;
    full.fill('x');
    EXPECT_EQ(registryPathText(full), std::string(4096, 'x'));
}

/// A default world with its DDC/CI monitor, one per case.
struct DDCWorld {
    explicit DDCWorld(Executor& executor)
        : mac(executor)
    {
        addDefaultDisplays(mac.world);
        monitors = installDDCMonitorDefaults(mac);
    }

    [[nodiscard]] SimulatedDDCMonitor& monitor() { return *monitors->monitor(externalUUID); }
    [[nodiscard]] SimulatedRegistryEntry* entryAt(std::string_view path)
    {
        return mac.registry.entryAt(path);
    }

    SimulatedMac mac;
    std::shared_ptr<SimulatedDDCMonitors> monitors;
};

DisplayDevice device(DisplayNumber number, std::string id)
{
    return DisplayDevice{.id = std::move(id), .runtimeID = number};
}

DisplayDevice external() { return device(2, "9c4e2f61-5b3a-4d7e-8f10-2a6b7c8d9e0f"); }

TEST(IOAVDDCTest, OpensTheMonitorsServiceAndReleasesEveryRegistryObject)
{
    ManualExecutor executor;
    DDCWorld world(executor);
    IOAVDDC provider(world.mac.platform());
    const DDCConnectionIdentity identity = provider.identity(external());
    EXPECT_EQ(identity.runtimeID, 2u);
    EXPECT_EQ(identity.framebufferID, world.entryAt(identity.location)->registryID);
    std::shared_ptr<DDCChannel> channel = provider.open(identity);
    EXPECT_EQ(world.mac.registry.liveObjects(), 0);
    EXPECT_EQ(world.mac.registry.liveAVServices(), 1);
    EXPECT_GT(world.mac.registry.objectsHandedOut(), 4); // iterator, services, parents, framebuffer

    channel->send(DDCCodec::readRequest(0x10));
    executor.advance(40ms);
    const std::vector<std::uint8_t> reply = channel->receive();
    EXPECT_EQ(DDCCodec::decode(reply, 0x10), (DDCReading{.current = 50, .maximum = 100}));
    const auto& wire = world.monitor().wire;
    ASSERT_EQ(wire.size(), 2u);
    EXPECT_EQ(wire[0].chipAddress, 0x37u);
    EXPECT_EQ(wire[0].subAddress, 0x51u);
    EXPECT_EQ(wire[1].subAddress, 0u);

    channel.reset();
    EXPECT_EQ(world.mac.registry.liveAVServices(), 0);
}

TEST(IOAVDDCTest, UsesTheOtherChipAddressOnlyBehindTheBridgeProvider)
{
    for (const std::string provider :
        {"AppleDCPMCDP29XX", "AppleDCPMCDP", "AppleDCPMCDP29XY", ""}) {
        SCOPED_TRACE(provider);
        ManualExecutor executor;
        SimulatedMac mac(executor);
        const std::string uuid = "00000000-0000-0000-0000-000000000003";
        mac.world.displays.push_back(SimulatedDisplay{.number = 3, .uuid = uuid});
        const auto monitors = installDDCMonitors(mac);
        SimulatedDDCMonitor& monitor = monitors->attach(
            {.displayUUID = uuid, .portName = "dispext5", .providerClass = provider});
        if (provider.empty()) // no parent at all
            mac.registry.remove(monitor.serviceID - 1);
        IOAVDDC ddc(mac.platform());
        const auto channel = ddc.open(ddc.identity(device(3, uuid)));
        channel->send(DDCCodec::readRequest(0x10));
        EXPECT_EQ(monitor.wire.at(0).chipAddress, provider == "AppleDCPMCDP29XX" ? 0xB7u : 0x37u);
        EXPECT_EQ(monitor.wire.at(0).status, 0);
    }
}

TEST(IOAVDDCTest, MissingI2CFunctionsFailBeforeTheRegistryIsTouched)
{
    for (const std::string name :
        {"IOAVServiceCreateWithService", "IOAVServiceReadI2C", "IOAVServiceWriteI2C", "image"}) {
        SCOPED_TRACE(name);
        ManualExecutor executor;
        DDCWorld world(executor);
        if (name == "image")
            world.mac.loader.removeImage(ioKit);
        else
            world.mac.loader.image(ioKit).symbols.erase(name);
        IOAVDDC provider(world.mac.platform());
        const DDCConnectionIdentity identity
            = provider.identity(external()); // CoreDisplay alone suffices
        EXPECT_EQ(failureOf([&] { (void)provider.open(identity); }),
            "Apple Silicon DDC interfaces are unavailable.");
        EXPECT_EQ(world.mac.registry.objectsHandedOut(), 1); // only the identity's framebuffer
        EXPECT_EQ(world.mac.registry.liveObjects(), 0);
    }
}

TEST(IOAVDDCTest, IdentityTellsAChangedDisplayFromOneWithoutInformation)
{
    const std::string noInformation = "No DDC connection information for this screen.";
    const std::string changed = "The monitor connection changed. Recheck displays and try again.";
    const std::string key = external().id;
    struct Case {
        std::string name;
        std::function<void(DDCWorld&)> change;
        std::string failure;
    };
    const auto framebuffer = [key](DDCWorld& world) {
        return world.entryAt(
            *world.monitors->displayInformation[key]->at("IODisplayLocation").textValue());
    };
    const Case cases[] = {
        {"healthy", [](DDCWorld&) {}, "no failure"},
        {"asleep", [](DDCWorld& world) { world.mac.world.sleep(2); }, changed},
        {"offline", [](DDCWorld& world) { world.mac.world.display(2)->isOnline = false; }, changed},
        {"unplugged", [](DDCWorld& world) { world.mac.world.unplug(2); }, changed},
        {"number now another display's",
            [](DDCWorld& world) {
                world.mac.world.display(2)->uuid = "11111111-2222-3333-4444-555555555555";
            },
            changed},
        {"no UUID", [](DDCWorld& world) { world.mac.world.display(2)->uuid.reset(); }, changed},
        {"no information",
            [key](DDCWorld& world) { world.monitors->displayInformation[key].reset(); },
            noInformation},
        {"empty information",
            [key](DDCWorld& world) {
                world.monitors->displayInformation[key] = PlatformDictionary{};
            },
            noInformation},
        {"no location",
            [key](DDCWorld& world) {
                world.monitors->displayInformation[key]->erase("IODisplayLocation");
            },
            noInformation},
        {"location not text",
            [key](DDCWorld& world) {
                world.monitors->displayInformation[key]->at("IODisplayLocation")
                    = PlatformValue::integer(4);
            },
            noInformation},
        {"no information function",
            [](DDCWorld& world) {
                world.mac.loader.removeImage(
                    "/System/Library/Frameworks/CoreDisplay.framework/CoreDisplay");
            },
            noInformation},
        {"framebuffer gone",
            [framebuffer](
                DDCWorld& world) { world.mac.registry.remove(framebuffer(world)->registryID); },
            changed},
        {"framebuffer without identifier",
            [framebuffer](DDCWorld& world) { framebuffer(world)->entryIDStatus = -1; }, changed},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ManualExecutor executor;
        DDCWorld world(executor);
        c.change(world);
        IOAVDDC provider(world.mac.platform());
        // The display's id in upper case: the comparison ignores case.
        EXPECT_EQ(failureOf([&] { (void)provider.identity(device(2, externalUUID)); }), c.failure);
        EXPECT_EQ(world.mac.registry.liveObjects(), 0);
    }
}

TEST(IOAVDDCTest, OpenSkipsUnreadableServicesAndReleasesOnEveryWayOut)
{
    struct Case {
        std::string name;
        std::function<void(DDCWorld&)> change;
        std::string failure;
    };
    // A second service on the same port: the lookup must refuse to choose between them.
    const auto addTwin = [](DDCWorld& world) {
        SimulatedRegistryEntry twin = *world.mac.registry.entry(world.monitor().serviceID);
        twin.registryID = 0;
        twin.path += "2";
        return &world.mac.registry.add(twin);
    };
    const Case cases[] = {
        {"healthy", [](DDCWorld&) {}, "no failure"},
        {"enumeration fails", [](DDCWorld& world) { world.mac.registry.matchingStatus = -5; },
            "Monitor transports could not be enumerated."},
        {"two services fit", [addTwin](DDCWorld& world) { addTwin(world); }, ambiguous},
        {"twin's path unreadable", [addTwin](DDCWorld& world) { addTwin(world)->pathStatus = -1; },
            "no failure"},
        {"twin's identifier unreadable",
            [addTwin](DDCWorld& world) { addTwin(world)->entryIDStatus = -1; }, "no failure"},
        {"twin without parent", [addTwin](DDCWorld& world) { addTwin(world)->parentStatus = -1; },
            ambiguous},
        {"twin not external", [addTwin](DDCWorld& world) { addTwin(world)->properties.clear(); },
            "no failure"},
        {"service gone",
            [](DDCWorld& world) { world.mac.registry.remove(world.monitor().serviceID); },
            ambiguous},
        {"service refuses",
            [](DDCWorld& world) { world.monitor().faults.canCreateService = false; },
            "The selected monitor's DDC service could not be opened."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ManualExecutor executor;
        DDCWorld world(executor);
        IOAVDDC provider(world.mac.platform());
        const DDCConnectionIdentity identity = provider.identity(external());
        c.change(world);
        EXPECT_EQ(failureOf([&] { (void)provider.open(identity); }), c.failure);
        EXPECT_EQ(world.mac.registry.liveObjects(), 0);
        EXPECT_EQ(world.mac.registry.liveAVServices(), 0);
    }
}

TEST(IOAVDDCTest, ReadsPathsOnlyUpToTheBufferAndRepairsBadText)
{
    ManualExecutor executor;
    DDCWorld world(executor);
    IOAVDDC provider(world.mac.platform());
    const DDCConnectionIdentity identity = provider.identity(external());
    // Below the framebuffer, with ill-formed UTF-8 and longer than the buffer: still found.
    SimulatedRegistryEntry& service = *world.mac.registry.entry(world.monitor().serviceID);
    service.path = identity.location + "/\xFF\xE0\x80z" + std::string(6000, 'x');
    EXPECT_EQ(failureOf([&] { (void)provider.open(identity); }), "no failure");
    // A zero byte ends the path: what follows it must not count.
    service.path
        = "IOService:/Elsewhere/x/y" + std::string(1, '\0') + identity.location.substr(10) + "/AV";
    EXPECT_EQ(failureOf([&] { (void)provider.open(identity); }), ambiguous);
    EXPECT_EQ(world.mac.registry.liveObjects(), 0);
}

TEST(IOAVDDCTest, ChannelReportsFailedTransfersAndAlwaysGivesTwelveBytes)
{
    ManualExecutor executor;
    DDCWorld world(executor);
    IOAVDDC provider(world.mac.platform());
    const auto channel = provider.open(provider.identity(external()));
    SimulatedDDCMonitor& monitor = world.monitor();
    monitor.faults.replyDefects = {DDCReplyDefect::shortReply};
    channel->send(DDCCodec::readRequest(0x10));
    executor.advance(50ms);
    EXPECT_EQ(channel->receive(),
        (std::vector<std::uint8_t>{0x6E, 0x88, 0x02, 0x00, 0x10, 0x00, 0x00, 0x64, 0, 0, 0, 0}));

    monitor.faults.nackedReads = 1;
    EXPECT_EQ(failureOf([&] { (void)channel->receive(); }),
        "DDC reply failed (-536870163). Check the monitor's DDC/CI setting and connection.");
    monitor.faults.nackedWrites = 1;
    monitor.faults.nackStatus = 7;
    EXPECT_EQ(failureOf([&] { channel->send(DDCCodec::readRequest(0x10)); }),
        "DDC request failed (7). Check the monitor's DDC/CI setting and connection.");
}

} // namespace
} // namespace quorvane
