#include "SimulatedMac/CallLog.h"

#include "Concurrency/ManualExecutor.h"
#include "MacPlatform/ObjectRuntime.h"
#include "SimulatedMac/SimulatedMac.h"
#include "SimulatedMac/SimulatedMonitorPanel.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <vector>

namespace quorvane {
namespace {

// An application runs on the simulated Mac for hours: its logs keep the latest calls, and each
// call costs about the same however long the log has run.
TEST(CallLogTest, KeepsTheLatestCallsInOrder)
{
    struct Case {
        std::size_t calls;
        std::size_t kept;
    };
    const Case cases[] = {
        {1, 1},
        {callLogLimit, callLogLimit},
        {callLogLimit + 1, callLogLimit / 2 + 1},
        {callLogLimit + callLogLimit / 2, callLogLimit},
        {callLogLimit + callLogLimit / 2 + 1, callLogLimit / 2 + 1},
        {100 * callLogLimit, callLogLimit},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.calls);
        std::vector<std::size_t> log;
        for (std::size_t call = 1; call <= c.calls; ++call)
            logCall(log, call);
        ASSERT_EQ(log.size(), c.kept);
        for (std::size_t index = 0; index < log.size(); ++index)
            EXPECT_EQ(log[index], c.calls - c.kept + 1 + index);
    }
}

// The monitor panel's manager hands out the same object for a display on every call, as the
// framework's does; new ones every time would pile up unreleased.
TEST(CallLogTest, TheMonitorPanelListsTheSameDisplayObjectsEveryTime)
{
    ManualExecutor executor;
    SimulatedMac mac{executor};
    addDefaultDisplays(mac.world);
    const auto panel = installMonitorPanelDefaults(mac);
    ObjectRuntime& objects = mac.platform().objects;
    const auto manager = objects.createInstance(*objects.classNamed("MPDisplayMgr"));
    ASSERT_TRUE(manager);
    const auto displays = [&] {
        return std::get<MessageResult::Objects>(objects.perform(*manager, "displays").value)
            .objects;
    };
    const std::vector<ObjectInstance> first = displays();
    EXPECT_EQ(first.size(), panel->displays.size());
    EXPECT_EQ(displays(), first);
    objects.release(*manager);
}

} // namespace
} // namespace quorvane
