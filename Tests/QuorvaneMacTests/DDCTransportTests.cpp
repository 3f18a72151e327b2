#include "QuorvaneMac/DDCTransport.h"

#include "Concurrency/Spawn.h"
#include "SimulatedMac/SimulatedDDCMonitors.h"
#include "SimulatedMac/SimulatedMac.h"
#include "TestSupport/RunToEnd.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace quorvane {
namespace {

using namespace std::chrono_literals;

const std::string externalUUID = "9C4E2F61-5B3A-4D7E-8F10-2A6B7C8D9E0F";
const std::string secondUUID = "00000000-0000-0000-0000-0000000000B3";

/// "w" for a write, "r" for a read, then the milliseconds since the start; "!" marks a
/// refused transfer.
std::vector<std::string> timeline(const std::vector<DDCWirePacket>& wire)
{
    std::vector<std::string> steps;
    for (const DDCWirePacket& packet : wire) {
        const auto ms
            = std::chrono::duration_cast<std::chrono::milliseconds>(packet.time.time_since_epoch())
                  .count();
        steps.push_back((packet.direction == DDCWirePacket::Direction::write ? "w" : "r")
            + std::to_string(ms) + (packet.status == 0 ? "" : "!"));
    }
    return steps;
}
std::int64_t endedAt(const auto& outcome)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(
        outcome.endedAt->time_since_epoch())
        .count();
}

/// The default world with a second external monitor on display 3, and one transport over it.
struct TransportWorld {
    TransportWorld() = default;
    TransportWorld(const TransportWorld&) = delete; // the transport refers to the world
    TransportWorld& operator=(const TransportWorld&) = delete;

    static DisplayDevice external(DisplayNumber number = 2)
    {
        return DisplayDevice{.id = "9c4e2f61-5b3a-4d7e-8f10-2a6b7c8d9e0f", .runtimeID = number};
    }
    static DisplayDevice second()
    {
        return DisplayDevice{.id = "00000000-0000-0000-0000-0000000000b3", .runtimeID = 3};
    }

    static std::shared_ptr<SimulatedDDCMonitors> install(SimulatedMac& mac)
    {
        addDefaultDisplays(mac.world);
        mac.world.displays.push_back(SimulatedDisplay{.number = 3, .uuid = secondUUID});
        auto monitors = installDDCMonitorDefaults(mac);
        monitors->attach({.displayUUID = secondUUID, .portName = "dispext1"});
        return monitors;
    }

    SimulatedDDCMonitor& monitor() { return *monitors->monitor(externalUUID); }

    TaskHandle read(TaskOutcome<DDCFeatureValue>& outcome,
        SettingKey setting = SettingKey::brightness, DisplayDevice display = external())
    {
        return spawn(executor, recordOutcome(transport.read(setting, std::move(display)), outcome));
    }
    TaskHandle write(
        TaskOutcome<void>& outcome, double value, SettingKey setting = SettingKey::brightness)
    {
        return spawn(executor, recordOutcome(transport.write(value, setting, external()), outcome));
    }

    ManualExecutor executor;
    SimulatedMac mac{executor};
    std::shared_ptr<SimulatedDDCMonitors> monitors = install(mac);
    DDCTransport transport{std::make_unique<IOAVDDC>(mac.platform())};
};

TEST(DDCTransportTest, ReadsWithOneRequestAndTheReplyFiftyMillisecondsLater)
{
    TransportWorld world;
    TaskOutcome<DDCFeatureValue> outcome;
    world.read(outcome);
    world.executor.advance(49ms);
    EXPECT_FALSE(outcome.hasEnded());
    world.executor.advance(1ms);
    ASSERT_EQ(outcome.summary(), "done");
    EXPECT_EQ(*outcome.value, (DDCFeatureValue{.fraction = 0.5, .maximum = 100}));
    const std::vector<DDCWirePacket> wire{
        {.time = ContinuousClock::time_point(),
            .chipAddress = 0x37,
            .subAddress = 0x51,
            .bytes = {0x82, 0x01, 0x10, 0xAC}},
        {.time = ContinuousClock::time_point(50ms),
            .direction = DDCWirePacket::Direction::read,
            .chipAddress = 0x37,
            .subAddress = 0,
            .bytes = {0x6E, 0x88, 0x02, 0x00, 0x10, 0x00, 0x00, 0x64, 0x00, 0x32, 0xF2}},
    };
    EXPECT_EQ(world.monitor().wire, wire);
}

TEST(DDCTransportTest, WritesTheSetRequestAfterTheGapAndScalesToTheMaximum)
{
    TransportWorld world;
    world.monitor().features[0x12] = VCPFeature{.current = 7, .maximum = 10};
    TaskOutcome<void> outcome;
    world.write(outcome, 0.25, SettingKey::contrast);
    world.executor.advance(1s);
    ASSERT_EQ(outcome.summary(), "done");
    EXPECT_EQ(endedAt(outcome), 100);
    ASSERT_EQ(world.monitor().wire.size(), 3u);
    EXPECT_EQ(world.monitor().wire[0].bytes, (std::vector<std::uint8_t>{0x82, 0x01, 0x12, 0xAE}));
    EXPECT_EQ(world.monitor().wire[2],
        (DDCWirePacket{.time = ContinuousClock::time_point(100ms),
            .chipAddress = 0x37,
            .subAddress = 0x51,
            .bytes = {0x84, 0x03, 0x12, 0x00, 0x03, 0xA9}}));
    EXPECT_EQ(world.monitor().features[0x12].current, 3);
}

TEST(DDCTransportTest, RoundsHalvesAwayFromZeroAndSkipsTheSetWhenEqual)
{
    TransportWorld world;
    struct Case {
        double value;
        VCPFeature before;
        std::uint16_t after;
        std::size_t transfers;
    };
    const Case cases[] = {
        {0.5, {.current = 50, .maximum = 100}, 50, 2},
        {0.5, {.current = 0, .maximum = 7}, 4, 3},
        {0.25, {.current = 0, .maximum = 10}, 3, 3},
        {1.0, {.current = 1, .maximum = 300}, 300, 3},
        {0.0, {.current = 1, .maximum = 300}, 0, 3},
        {0.0, {.current = 0, .maximum = 300}, 0, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.value) + " of " + std::to_string(c.before.maximum));
        world.monitor().wire.clear();
        world.monitor().features[0x10] = c.before;
        TaskOutcome<void> outcome;
        world.write(outcome, c.value);
        world.executor.advance(1s);
        EXPECT_EQ(outcome.summary(), "done");
        EXPECT_EQ(world.monitor().features[0x10].current, c.after);
        EXPECT_EQ(world.monitor().wire.size(), c.transfers);
    }
}

TEST(DDCTransportTest, RetriesBadRepliesWithLongerWaitsAndFreshServices)
{
    TransportWorld world;
    world.monitor().faults.replyDefects = {DDCReplyDefect::badChecksum, DDCReplyDefect::wrongCode};
    const int createdBefore = world.monitors->servicesCreated();
    TaskOutcome<DDCFeatureValue> outcome;
    world.read(outcome);
    world.executor.advance(449ms);
    EXPECT_FALSE(outcome.hasEnded());
    world.executor.advance(1ms);
    ASSERT_EQ(outcome.summary(), "done");
    EXPECT_EQ(outcome.value->fraction, 0.5);
    // Reply waits of 50, 100 and 150 ms; pauses of 50 and 100 ms between the attempts.
    EXPECT_EQ(timeline(world.monitor().wire),
        (std::vector<std::string>{"w0", "r50", "w100", "r200", "w300", "r450"}));
    EXPECT_EQ(world.monitors->servicesCreated() - createdBefore, 3);
    EXPECT_EQ(world.mac.registry.liveAVServices(), 1);
}

TEST(DDCTransportTest, RetriesOnlyTransferReplyAndServiceFailures)
{
    const std::string changed = "The monitor connection changed. Recheck displays and try again.";
    const std::string invalid = "The monitor did not return a valid DDC brightness value.";
    const std::string nacked = "(-536870163). Check the monitor's DDC/CI setting and connection.";
    const std::vector<std::string> threeReads{"w0", "r50", "w100", "r200", "w300", "r450"};
    struct Case {
        std::string name;
        std::function<void(TransportWorld&)> setUp;
        std::string failure;
        std::vector<std::string> wire;
        std::int64_t endedAt;
        SettingKey setting = SettingKey::brightness;
        DisplayDevice display = TransportWorld::external();
    };
    // Display 99 does not exist: asking the provider would fail differently.
    const DisplayDevice builtIn{
        .id = "37d8832a-2d66-02ca-b9f7-8f30a301b230", .runtimeID = 99, .isBuiltIn = true};
    const Case cases[] = {
        {"bad replies",
            [](TransportWorld& t) {
                t.monitor().faults.replyDefects = {DDCReplyDefect::errorResult,
                    DDCReplyDefect::shortReply, DDCReplyDefect::badChecksum};
            },
            invalid, threeReads, 450},
        {"DDC/CI switched off", [](TransportWorld& t) { t.monitor().faults.isDDCEnabled = false; },
            invalid, threeReads, 450},
        {"reply later than every wait",
            [](TransportWorld& t) { t.monitor().faults.replyDelay = 151ms; }, invalid, threeReads,
            450},
        {"refused reads", [](TransportWorld& t) { t.monitor().faults.nackedReads = 3; },
            "DDC reply failed " + nacked, {"w0", "r50!", "w100", "r200!", "w300", "r450!"}, 450},
        {"refused requests", [](TransportWorld& t) { t.monitor().faults.nackedWrites = 3; },
            "DDC request failed " + nacked, {"w0!", "w50!", "w150!"}, 150},
        {"service cannot be created",
            [](TransportWorld& t) { t.monitor().faults.canCreateService = false; },
            "The selected monitor's DDC service could not be opened.", {}, 150},
        {"service missing", [](TransportWorld& t) { t.mac.registry.remove(t.monitor().serviceID); },
            "DDC transport is missing or ambiguous; no monitor was guessed.", {}, 0},
        {"no connection information",
            [](TransportWorld& t) { t.monitors->displayInformation.clear(); },
            "No DDC connection information for this screen.", {}, 0},
        {"display gone", [](TransportWorld& t) { t.mac.world.unplug(2); }, changed, {}, 0},
        {"unplugged while waiting for the reply",
            [](TransportWorld& t) {
                t.mac.world.schedule(20ms, [](SimulatedWorld& world) { world.unplug(2); });
            },
            changed, {"w0"}, 50},
        {"renumbered while waiting for the reply",
            [](TransportWorld& t) {
                t.mac.world.schedule(49ms, [](SimulatedWorld& world) { world.renumber(2, 9); });
            },
            changed, {"w0"}, 50},
        {"renumbered during the read",
            [](TransportWorld& t) {
                t.monitor().faults.duringNextRead
                    = [](SimulatedWorld& world) { world.renumber(2, 9); };
            },
            changed, {"w0", "r50"}, 50},
        {"one late reply", [](TransportWorld& t) { t.monitor().faults.replyDelay = 80ms; }, "done",
            {"w0", "r50", "w100", "r200"}, 200},
        {"one refused request", [](TransportWorld& t) { t.monitor().faults.nackedWrites = 1; },
            "done", {"w0!", "w50", "r150"}, 150},
        {"a built-in display, before asking the provider", [](TransportWorld&) {},
            "DDC requires an external monitor.", {}, 0, SettingKey::contrast, builtIn},
        {"no valid contrast", [](TransportWorld& t) { t.monitor().features.erase(0x12); },
            "The monitor did not return a valid DDC contrast value.", threeReads, 450,
            SettingKey::contrast},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TransportWorld world; // a fresh world per case, on its own clock
        c.setUp(world);
        TaskOutcome<DDCFeatureValue> outcome;
        world.read(outcome, c.setting, c.display);
        world.executor.advance(2s);
        EXPECT_EQ(outcome.summary(), c.failure);
        EXPECT_EQ(timeline(world.monitor().wire), c.wire);
        ASSERT_TRUE(outcome.hasEnded());
        EXPECT_EQ(endedAt(outcome), c.endedAt);
        EXPECT_EQ(world.mac.registry.liveObjects(), 0);
        // A failed operation keeps no channel open.
        EXPECT_EQ(world.mac.registry.liveAVServices(), c.failure == "done" ? 1 : 0);
    }
}

TEST(DDCTransportTest, ARefusedSetRequestRepeatsTheWholeWriteAfterItsPause)
{
    const std::string refused
        = "DDC request failed (-536870163). Check the monitor's DDC/CI setting and connection.";
    struct Case {
        int refusedSets;
        std::string outcome;
        std::vector<std::string> wire;
        std::int64_t endedAt;
        std::uint16_t contrast;
    };
    // Each attempt: the request, the reply after its wait, the Set after the gap.
    const Case cases[] = {
        {1, "done", {"w0", "r50", "w100!", "w150", "r250", "w300"}, 300, 25},
        {3, refused, {"w0", "r50", "w100!", "w150", "r250", "w300!", "w400", "r550", "w600!"}, 600,
            70},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.refusedSets);
        TransportWorld world;
        world.monitor().faults.nackedSetRequests = c.refusedSets;
        TaskOutcome<void> outcome;
        world.write(outcome, 0.25, SettingKey::contrast);
        world.executor.advance(2s);
        EXPECT_EQ(outcome.summary(), c.outcome);
        EXPECT_EQ(timeline(world.monitor().wire), c.wire);
        ASSERT_TRUE(outcome.hasEnded());
        EXPECT_EQ(endedAt(outcome), c.endedAt);
        EXPECT_EQ(world.monitor().features[0x12].current, c.contrast);
        EXPECT_EQ(world.mac.registry.liveAVServices(), c.outcome == "done" ? 1 : 0);
    }
}

TEST(DDCTransportTest, KeepsTheChannelWhileTheIdentityHolds)
{
    TransportWorld world;
    const int createdBefore = world.monitors->servicesCreated();
    TaskOutcome<DDCFeatureValue> first;
    TaskOutcome<DDCFeatureValue> second;
    world.read(first);
    world.read(second);
    world.executor.advance(1s);
    EXPECT_EQ(second.summary(), "done");
    EXPECT_EQ(
        timeline(world.monitor().wire), (std::vector<std::string>{"w0", "r50", "w100", "r150"}));
    EXPECT_EQ(world.monitors->servicesCreated() - createdBefore, 1);

    // Back under a new number: a new identity, so a new channel replaces the old one.
    world.mac.world.renumber(2, 7);
    TaskOutcome<DDCFeatureValue> renumbered;
    world.read(renumbered, SettingKey::brightness, world.external(7));
    world.executor.advance(1s);
    EXPECT_EQ(renumbered.summary(), "done");
    EXPECT_EQ(world.monitors->servicesCreated() - createdBefore, 2);
    EXPECT_EQ(world.mac.registry.liveAVServices(), 1);

    world.transport.forgetConnections();
    EXPECT_EQ(world.mac.registry.liveAVServices(), 0);

    // A display that can no longer be identified loses its channel at once.
    TaskOutcome<DDCFeatureValue> again;
    world.read(again, SettingKey::brightness, world.external(7));
    world.executor.advance(1s);
    EXPECT_EQ(world.mac.registry.liveAVServices(), 1);
    world.monitors->displayInformation.clear();
    TaskOutcome<DDCFeatureValue> unidentified;
    world.read(unidentified, SettingKey::brightness, world.external(7));
    world.executor.advance(1s);
    EXPECT_EQ(unidentified.summary(), "No DDC connection information for this screen.");
    EXPECT_EQ(world.mac.registry.liveAVServices(), 0);
}

TEST(DDCTransportTest, ChecksTheConnectionBeforeEveryTransfer)
{
    const std::string changed = "The monitor connection changed. Recheck displays and try again.";
    enum class Before { nothing, aRead, aBadReply };
    struct Case {
        std::string name;
        Before before;
        std::vector<std::string> wire;
    };
    // Renumbered at 75 ms, the monitor would still answer: only the checks stop the transfers.
    const Case cases[] = {
        {"during the gap before the Get", Before::aRead, {"w0", "r50"}},
        {"during the pause after a bad reply", Before::aBadReply, {"w0", "r50"}},
        {"during the gap before the Set", Before::nothing, {"w0", "r50"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TransportWorld world;
        if (c.before == Before::aBadReply)
            world.monitor().faults.replyDefects = {DDCReplyDefect::shortReply};
        const int createdBefore = world.monitors->servicesCreated();
        TaskOutcome<DDCFeatureValue> first;
        if (c.before == Before::aRead)
            world.read(first);
        TaskOutcome<void> outcome;
        world.write(outcome, 0.9);
        world.mac.world.schedule(75ms, [](SimulatedWorld& mac) { mac.renumber(2, 9); });
        world.executor.advance(1s);
        EXPECT_EQ(outcome.summary(), changed);
        EXPECT_EQ(timeline(world.monitor().wire), c.wire);
        EXPECT_EQ(world.monitor().features[0x10].current, 50);
        EXPECT_EQ(world.monitors->servicesCreated() - createdBefore, 1);
    }
}

TEST(DDCTransportTest, NoticesCancellationWhenTheGateIsHandedOver)
{
    TransportWorld world;
    const DisplayDevice builtIn{
        .id = "37d8832a-2d66-02ca-b9f7-8f30a301b230", .runtimeID = 1, .isBuiltIn = true};
    TaskOutcome<DDCFeatureValue> first;
    TaskOutcome<DDCFeatureValue> second;
    world.read(first);
    const TaskHandle waiting = world.read(second, SettingKey::brightness, builtIn);
    world.executor.runUntilIdle();
    // Runs after the first read has ended and handed over the gate, before the second resumes.
    world.mac.world.schedule(50ms, [waiting](SimulatedWorld&) { waiting.cancel(); });
    world.executor.advance(1s);
    EXPECT_EQ(first.summary(), "done");
    EXPECT_TRUE(second.isCancelled);
}

TEST(DDCTransportTest, KeepsTheGapAcrossMonitors)
{
    TransportWorld world;
    SimulatedDDCMonitor& other = *world.monitors->monitor(secondUUID);
    world.monitor().faults.requiresGap = true;
    other.faults.requiresGap = true;
    TaskOutcome<DDCFeatureValue> first;
    world.read(first);
    world.executor.advance(60ms);
    ASSERT_EQ(first.summary(), "done");
    TaskOutcome<DDCFeatureValue> second;
    TaskOutcome<void> third;
    world.read(second, SettingKey::contrast, world.second());
    world.write(third, 0.8);
    world.executor.advance(1s);
    EXPECT_EQ(second.summary(), "done");
    EXPECT_EQ(third.summary(), "done");
    EXPECT_EQ(second.value->fraction, 0.7);
    // One bus: the second monitor waits for the first one's gap, then each transfer for the last.
    EXPECT_EQ(timeline(world.monitors->bus()),
        (std::vector<std::string>{"w0", "r50", "w100", "r150", "w200", "r250", "w300"}));
    EXPECT_EQ(timeline(other.wire), (std::vector<std::string>{"w100", "r150"}));
    EXPECT_EQ(world.monitor().features[0x10].current, 80);
}

TEST(DDCTransportTest, CancellationEndsEveryWaitAtOnce)
{
    struct Case {
        std::string name;
        std::chrono::milliseconds cancelAt;
        std::vector<std::string> wire;
    };
    const Case cases[] = {
        {"waiting for the reply", 20ms, {"w0"}},
        {"pausing after a retryable failure", 70ms, {"w0", "r50"}},
        {"waiting for the gap before the Set", 75ms, {"w0", "r50"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TransportWorld world;
        if (c.name.starts_with("pausing"))
            world.monitor().faults.replyDefects = {DDCReplyDefect::badChecksum};
        TaskOutcome<void> outcome;
        const TaskHandle task = world.write(outcome, 0.9);
        world.executor.advance(c.cancelAt);
        task.cancel();
        world.executor.runUntilIdle();
        EXPECT_TRUE(outcome.isCancelled);
        EXPECT_EQ(endedAt(outcome), c.cancelAt.count());
        world.executor.advance(1s);
        EXPECT_EQ(timeline(world.monitor().wire), c.wire);
        EXPECT_EQ(world.mac.registry.liveAVServices(), 0);
    }
}

TEST(DDCTransportTest, AWaitingOperationCancelledBeforeItsTurnSendsNothing)
{
    TransportWorld world;
    TaskOutcome<DDCFeatureValue> first;
    TaskOutcome<DDCFeatureValue> second;
    world.read(first);
    const TaskHandle waiting = world.read(second);
    world.executor.advance(10ms);
    waiting.cancel();
    world.executor.advance(1s);
    EXPECT_EQ(first.summary(), "done");
    EXPECT_TRUE(second.isCancelled);
    EXPECT_EQ(timeline(world.monitor().wire), (std::vector<std::string>{"w0", "r50"}));
}

} // namespace
} // namespace quorvane
