// The default simulated Mac with its displays found by a discovery that can take virtual time,
// for the tests of context changes and the hardware refresh.
#pragma once

#include "AppModelTestSupport.h"
#include "Concurrency/Sleep.h"
#include "QuorvaneMac/DisplayInventory.h"
#include "SimulatedMac/WorldFile.h"

#include <chrono>
#include <list>
#include <string>

namespace quorvane {

inline const std::string defaultBuiltInID = "37d8832a-2d66-02ca-b9f7-8f30a301b230";
inline const std::string defaultExternalID = "9c4e2f61-5b3a-4d7e-8f10-2a6b7c8d9e0f";

inline void post(SimulatedNotificationCenter& centre, std::string_view name)
{
    centre.post({.name = std::string(name), .userInfo = {}});
}

/// "Writer" is frontmost on the built-in display, "Viewer" on the external one.
struct ContextWorld : ModelWorld {
    // Each discovery takes `latency` and returns what `hardware` held when it was called, so a
    // test can change the hardware for the next call while one waits.
    std::chrono::milliseconds latency{0};
    DiscoveredHardware hardware;
    int discoveries = 0;
    std::list<TaskOutcome<void>> outcomes;

    ContextWorld()
    {
        installDefaultWorld(mac);
        hardware.displays = DisplayInventory::snapshot(mac.platform());
        for (const DisplayDevice& display : hardware.displays)
            hardware.snapshot.environments[display.id] = "wired";
    }

    static Task<DiscoveredHardware> discover(
        DiscoveredHardware found, std::chrono::milliseconds wait)
    {
        if (wait.count() > 0)
            co_await sleep(wait);
        co_return found;
    }

    [[nodiscard]] AppModel::HardwareDiscovery discovery()
    {
        return [this] {
            ++discoveries;
            return discover(hardware, latency);
        };
    }

    [[nodiscard]] std::shared_ptr<AppModel> start()
    {
        return startedModel({.hardwareDiscovery = discovery()});
    }

    /// Starts a refresh of `model`; the outcome lives as long as the world.
    TaskOutcome<void>& refresh(AppModel& model)
    {
        spawn(executor, recordOutcome(model.refreshHardware(), outcomes.emplace_back()));
        return outcomes.back();
    }
};

} // namespace quorvane
