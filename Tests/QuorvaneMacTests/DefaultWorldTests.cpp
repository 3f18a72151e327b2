// The default simulated Mac is what the application runs on outside demo mode: every slice must
// be there and agree on the same two displays.
#include "Concurrency/ManualExecutor.h"
#include "Concurrency/Spawn.h"
#include "QuorvaneMac/DDCServiceDiscovery.h"
#include "QuorvaneMac/DDCTransport.h"
#include "QuorvaneMac/DisplayInventory.h"
#include "QuorvaneMac/FocusedWindowProvider.h"
#include "QuorvaneMac/SpaceProvider.h"
#include "SimulatedMac/SimulatedMac.h"
#include "SimulatedMac/WorldFile.h"
#include "TestSupport/RunToEnd.h"

#include <gtest/gtest.h>

namespace quorvane {
namespace {

TEST(DefaultWorldTest, EverySliceSeesTheBuiltInDisplayAndTheExternalMonitor)
{
    ManualExecutor executor;
    SimulatedMac mac(executor);
    installDefaultWorld(mac);

    const std::vector<DisplayDevice> displays = DisplayInventory::snapshot(mac.platform());
    ASSERT_EQ(displays.size(), 2u);
    EXPECT_TRUE(displays[0].isBuiltIn);
    EXPECT_EQ(displays[1].id, "9c4e2f61-5b3a-4d7e-8f10-2a6b7c8d9e0f");

    DDCTransport transport(std::make_unique<IOAVDDC>(mac.platform()));
    TaskOutcome<DDCFeatureValue> brightness;
    spawn(executor, recordOutcome(transport.read(SettingKey::brightness, displays[1]), brightness));
    executor.advance(std::chrono::seconds(1));
    ASSERT_EQ(brightness.summary(), "done");
    EXPECT_DOUBLE_EQ(brightness.value->fraction, 0.5);

    SpaceProvider spaces(mac.platform());
    const auto snapshots = spaces.snapshots({displays[0].id, displays[1].id});
    EXPECT_EQ(snapshots.at(displays[0].id).desktops.size(), 2u);
    EXPECT_TRUE(snapshots.at(displays[1].id).current);

    FocusedWindowProvider focus(mac.platform());
    EXPECT_EQ(focus.snapshot(displays), displays[0].id);
}

} // namespace
} // namespace quorvane
