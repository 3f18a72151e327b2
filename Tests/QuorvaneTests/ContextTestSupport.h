// A discovery that takes time on the virtual clock, and a model world with the default simulated
// Mac, for the tests of context changes and the hardware refresh.
#pragma once

#include "AppModelTestSupport.h"
#include "Concurrency/Sleep.h"
#include "QuorvaneMac/DisplayInventory.h"
#include "SimulatedMac/WorldFile.h"

#include <chrono>
#include <string>
#include <utility>

namespace quorvane {

/// Each call takes `latency` and returns what `hardware` held when it was called, so a test can
/// change the hardware for the next call while one waits. Must outlive the model.
class FakeDiscovery final {
public:
    std::chrono::milliseconds latency{0};
    DiscoveredHardware hardware;
    int calls = 0;

    [[nodiscard]] AppModel::HardwareDiscovery function()
    {
        return [this] {
            ++calls;
            return discover(hardware, latency);
        };
    }

private:
    static Task<DiscoveredHardware> discover(
        DiscoveredHardware result, std::chrono::milliseconds wait)
    {
        if (wait.count() > 0)
            co_await sleep(wait);
        co_return result;
    }
};

inline const std::string defaultBuiltInID = "37d8832a-2d66-02ca-b9f7-8f30a301b230";
inline const std::string defaultExternalID = "9c4e2f61-5b3a-4d7e-8f10-2a6b7c8d9e0f";

/// The default simulated Mac (the built-in display, the external monitor, "Writer" frontmost on
/// the built-in one, "Viewer" on the external one), with its displays discovered instantly.
struct ContextWorld : ModelWorld {
    FakeDiscovery discovery;

    ContextWorld()
    {
        installDefaultWorld(mac);
        discovery.hardware.displays = DisplayInventory::snapshot(mac.platform());
        for (const DisplayDevice& display : discovery.hardware.displays)
            discovery.hardware.snapshot.environments[display.id] = "wired";
    }

    /// A loaded model on the fake discovery.
    [[nodiscard]] std::shared_ptr<AppModel> start(AppModel::Options options = {})
    {
        options.hardwareDiscovery = discovery.function();
        return startedModel(std::move(options));
    }
};

} // namespace quorvane
