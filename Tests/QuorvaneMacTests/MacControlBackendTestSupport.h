// The default simulated Mac (a built-in display with native brightness, an external DDC/CI
// monitor with HDR modes) with a MacControlBackend over it, and helpers that run the backend's
// operations on virtual time.
#pragma once

#include "Concurrency/ManualExecutor.h"
#include "QuorvaneMac/DisplayInventory.h"
#include "QuorvaneMac/HardwareSnapshot.h"
#include "QuorvaneMac/MacControlBackend.h"
#include "SimulatedMac/SimulatedDDCMonitors.h"
#include "SimulatedMac/SimulatedDisplayServices.h"
#include "SimulatedMac/SimulatedMac.h"
#include "SimulatedMac/SimulatedModes.h"
#include "SimulatedMac/SimulatedMonitorPanel.h"
#include "TestSupport/RunToEnd.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <optional>
#include <string>

namespace quorvane::testing {

using namespace std::chrono_literals;

inline constexpr const char* builtInID = "37d8832a-2d66-02ca-b9f7-8f30a301b230";
inline constexpr const char* externalID = "9c4e2f61-5b3a-4d7e-8f10-2a6b7c8d9e0f";

inline ControlKey keyOf(const std::string& id, SettingKey setting)
{
    return ControlKey{.target = ControlTarget::display(id), .setting = setting};
}

/// Built before the backend, so that the backend finds every private framework.
struct SimulatedHardware {
    SimulatedHardware() { addDefaultDisplays(mac.world); }

    ManualExecutor executor;
    SimulatedMac mac{executor};
};

struct BackendFixture
    : ::testing::Test
    , SimulatedHardware {
    /// Installs the frameworks over the world as it is now; tests add displays first.
    MacControlBackend& makeBackend()
    {
        monitors = installDDCMonitorDefaults(mac);
        panels = installDisplayServicesDefaults(mac);
        hdr = installMonitorPanelDefaults(mac);
        switching = installModeSwitching(mac);
        backend = std::make_unique<MacControlBackend>(mac.platform());
        return *backend;
    }

    /// Starts `task` now; its outcome fills in as virtual time moves.
    template <typename T> std::shared_ptr<TaskOutcome<T>> start(Task<T> task)
    {
        auto outcome = std::make_shared<TaskOutcome<T>>();
        handle = spawn(executor, recordOutcome(std::move(task), *outcome));
        executor.runUntilIdle();
        return outcome;
    }
    /// Runs `task` until it ends, moving time on as far as it waits.
    template <typename T> TaskOutcome<T> finish(Task<T> task)
    {
        const auto outcome = start(std::move(task));
        for (int step = 0; step < 600 && !outcome->hasEnded(); ++step)
            executor.advance(50ms);
        EXPECT_TRUE(outcome->hasEnded());
        return *outcome;
    }
    HardwareSnapshot discover()
    {
        return *finish(backend->discover(DisplayInventory::snapshot(mac.platform()))).value;
    }
    std::string readOutcome(const std::string& id, SettingKey setting)
    {
        const TaskOutcome<SettingValue> outcome = finish(backend->read(keyOf(id, setting)));
        return outcome.value ? outcome.value->label() : outcome.summary();
    }
    std::string writeOutcome(const std::string& id, SettingKey setting, SettingValue value)
    {
        return finish(backend->write(value, keyOf(id, setting))).summary();
    }
    SimulatedDisplay& display(DisplayNumber number) { return *mac.world.display(number); }

    std::shared_ptr<SimulatedDDCMonitors> monitors;
    std::shared_ptr<SimulatedDisplayServices> panels;
    std::shared_ptr<SimulatedMonitorPanel> hdr;
    std::shared_ptr<SimulatedModeSwitching> switching;
    std::unique_ptr<MacControlBackend> backend;
    std::optional<TaskHandle> handle;
};

} // namespace quorvane::testing
