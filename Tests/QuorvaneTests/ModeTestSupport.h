// A started model on the default simulated Mac with the real hardware backend, whose mode
// switches and HDR changes take time and can be made to fail, for the display-mode tests.
#pragma once

#include "AppModelTestSupport.h"
#include "Quorvane/MapKeys.h"
#include "Quorvane/SimulatedControls.h"
#include "SimulatedMac/SimulatedAmbientLight.h"
#include "SimulatedMac/SimulatedCoreBrightness.h"
#include "SimulatedMac/SimulatedDDCMonitors.h"
#include "SimulatedMac/SimulatedDisplayServices.h"
#include "SimulatedMac/SimulatedModes.h"
#include "SimulatedMac/SimulatedMonitorPanel.h"
#include "SimulatedMac/SimulatedSkyLight.h"

#include <cassert>
#include <chrono>
#include <memory>
#include <string>

namespace quorvane::mode_support {

using namespace std::chrono_literals;

inline const std::string builtInID = "37d8832a-2d66-02ca-b9f7-8f30a301b230";
inline const std::string externalID = "9c4e2f61-5b3a-4d7e-8f10-2a6b7c8d9e0f";
inline const DisplayResolution external1440{
    .width = 2560, .height = 1440, .pixelWidth = 2560, .pixelHeight = 1440};
inline const DisplayResolution external1080{
    .width = 1920, .height = 1080, .pixelWidth = 1920, .pixelHeight = 1080};
inline const RefreshPreference hz50 = RefreshPreference::fixed(50'000);
inline const RefreshPreference hz60 = RefreshPreference::fixed(60'000);

inline ControlKey modeKeyOf(const std::string& displayID, SettingKey setting)
{
    return {.target = ControlTarget::display(displayID), .setting = setting};
}

/// The external monitor shows 2560 × 1440 at 60 Hz with HDR off; it also offers 50 Hz and
/// 1920 × 1080. An HDR switch takes 2 s and a mode switch 0.5 s in the backend.
struct ModeWorld : ModelWorld {
    std::shared_ptr<SimulatedDDCMonitors> monitors;
    std::shared_ptr<SimulatedMonitorPanel> panel;
    std::shared_ptr<SimulatedModeSwitching> switching;
    std::shared_ptr<AppModel> model;

    explicit ModeWorld(bool automation = false)
    {
        addDefaultDisplays(mac.world);
        monitors = installDDCMonitorDefaults(mac);
        (void)installDisplayServicesDefaults(mac);
        panel = installMonitorPanelDefaults(mac);
        (void)installAmbientLightDefaults(mac);
        (void)installCoreBrightnessDefaults(mac);
        (void)installSkyLightDefaults(mac);
        installWorkspaceDefaults(mac);
        switching = installModeSwitching(mac);
        model = AppModel::create(environment(), {.startAutomatically = true});
        settle();
        if (automation)
            model->setAutomation(true);
        settle();
    }

    /// Lets everything started so far run to its end.
    void settle() { executor.advance(1min); }

    [[nodiscard]] ModeConfiguration externalMode() const
    {
        return model->hardwareSnapshot->currentModes.at(externalID);
    }
    [[nodiscard]] bool externalShowsHDR() const { return panel->displays.at(1)->prefersHDR; }
};

inline const std::string demoExternalID = "demo-external";
inline const std::string demoBuiltInID = "demo-builtin";
inline const RefreshPreference hz140 = RefreshPreference::fixed(140'000);

/// The demo, started: both displays at 60 Hz with HDR off, the external one at 2560 × 1440
/// points, each also offering 140 Hz, the adaptive rate and 1280 × 800.
struct DemoModes {
    ModelWorld world;
    std::shared_ptr<AppModel> model = world.startedModel({.simulation = true});

    [[nodiscard]] ManualExecutor& executor() { return world.executor; }
    bool start(
        const ModeConfiguration& mode, bool manual = false, const std::string& id = demoExternalID)
    {
        return model->previewMode(
            mode, id, manual, false, "Keep", [this](bool kept) { ended = kept; });
    }
    [[nodiscard]] std::optional<SettingValue> simulated(const std::string& id, SettingKey key)
    {
        return entryOf(model->simulated().values(), modeKeyOf(id, key));
    }

    std::optional<bool> ended;
};

} // namespace quorvane::mode_support

namespace quorvane {

/// Runs `task` on the test's executor, moving time on until it has ended; how it ended.
template <typename T> TaskOutcome<T> outcomeOn(ManualExecutor& executor, Task<T> task)
{
    TaskOutcome<T> outcome;
    spawn(executor, recordOutcome(std::move(task), outcome));
    executor.advance(std::chrono::seconds(10));
    assert(outcome.hasEnded() && "the task outlives its outcome");
    return outcome;
}

/// What `task` returns once outcomeOn() has run it; a failing test when it threw.
template <typename T> T runToEndOn(ManualExecutor& executor, Task<T> task)
{
    TaskOutcome<T> outcome = outcomeOn(executor, std::move(task));
    EXPECT_EQ(outcome.summary(), "done");
    return outcome.value ? std::move(*outcome.value) : T{};
}

} // namespace quorvane
