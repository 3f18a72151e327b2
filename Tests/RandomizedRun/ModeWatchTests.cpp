// The randomized run's own instruments: what it reports must follow the model, or its checks
// would pass whatever the model does.
#include "ModeWatch.h"
#include "ShownModes.h"

#include "QuorvaneTests/AppModelTestSupport.h"
#include "SimulatedMac/SimulatedMonitorPanel.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <optional>
#include <string>

namespace quorvane {
namespace {

using namespace std::chrono_literals;
using Phase = DisplayPreview::Phase;

const std::string recoveryFailed = "Recovery could not be confirmed: Display disconnected. "
                                   "Reconnect this screen and recheck it.";

DisplayPreview previewOn(std::string displayID, Phase phase, std::optional<Date> deadline = {})
{
    return {.id = UUID::random(),
        .displayID = std::move(displayID),
        .phase = phase,
        .deadline = deadline};
}

TEST(ModeWatchTest, ReportsAPhaseThatOutlastsItsWaits)
{
    const struct {
        const char* what;
        Phase phase;
        std::chrono::milliseconds stay;
        std::optional<std::string> problem;
    } cases[] = {
        {"applying", Phase::applying, 8000ms, std::nullopt},
        {"applying too long", Phase::applying, 8001ms, "the display test was applying for 8001 ms"},
        {"verifying too long", Phase::verifying, 9000ms,
            "the display test was verifying for 9000 ms"},
        {"reverting too long", Phase::reverting, 8001ms,
            "the display test was reverting for 8001 ms"},
        {"confirming until the deadline", Phase::confirming, 15s, std::nullopt},
        {"confirming past the deadline", Phase::confirming, 15001ms,
            "the display test was confirming 1 ms past its deadline"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ModelWorld world;
        const auto model = world.idleModel();
        const ModeWatch watch(*model);
        model->preview.set(previewOn("a", c.phase, world.executor.wallNow() + 15s));
        world.executor.advance(c.stay);
        EXPECT_EQ(watch.overstayedPhase(), c.problem);
        // Ending the test late does not excuse it.
        model->preview.set(std::nullopt);
        EXPECT_EQ(watch.overstayedPhase(), c.problem);
    }
}

TEST(ModeWatchTest, OnlyANewPhaseOrTestStartsThePhaseClockAgain)
{
    const struct {
        const char* what;
        std::function<void(AppModel&)> change;
        std::optional<std::string> problem;
    } cases[] = {
        {"another field",
            [](AppModel& model) {
                model.preview.modify([](auto& preview) { preview->recovery = UUID::random(); });
            },
            "the display test was applying for 10000 ms"},
        {"the next phase",
            [](AppModel& model) {
                model.preview.modify([](auto& preview) { preview->phase = Phase::verifying; });
            },
            std::nullopt},
        {"the next test",
            [](AppModel& model) { model.preview.set(previewOn("a", Phase::applying)); },
            std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ModelWorld world;
        const auto model = world.idleModel();
        const ModeWatch watch(*model);
        model->preview.set(previewOn("a", Phase::applying));
        world.executor.advance(5s);
        c.change(*model);
        world.executor.advance(5s);
        EXPECT_EQ(watch.overstayedPhase(), c.problem);
    }
}

TEST(ModeWatchTest, NamesTheDisplaysWhoseRestoreFailed)
{
    ModelWorld world;
    const auto model = world.idleModel();
    const auto statusOf = [](const std::string& displayID) {
        return ControlKey{.target = ControlTarget::display(displayID), .setting = SettingKey::hdr};
    };
    // Shown before the watch began: not a failure it saw.
    model->controlStatus.set({{statusOf("old"), recoveryFailed},
        {statusOf("waiting"), "Waiting for a stable context…"}});
    const ModeWatch watch(*model);

    model->preview.set(previewOn("tested", Phase::reverting));
    model->actionError.set(recoveryFailed);
    model->preview.set(previewOn("other", Phase::reverting));
    model->actionError.set(
        "The screen changed during the preview. This combination was not approved.");
    model->preview.set(std::nullopt);
    model->actionError.set(recoveryFailed);
    model->controlStatus.modify([&](auto& statuses) {
        statuses.insert_or_assign(statusOf("automatic"), recoveryFailed);
        statuses.insert_or_assign(statusOf("waiting"), recoveryFailed);
        statuses.insert_or_assign(statusOf("confirmed"), "Display mode confirmed");
    });

    EXPECT_EQ(watch.failedRestore("tested"), recoveryFailed);
    EXPECT_EQ(watch.failedRestore("automatic"), recoveryFailed);
    EXPECT_EQ(watch.failedRestore("waiting"), recoveryFailed);
    for (const char* displayID : {"other", "confirmed", "old"}) {
        SCOPED_TRACE(displayID);
        EXPECT_EQ(watch.failedRestore(displayID), std::nullopt);
    }
}

TEST(ShownModesTest, ReadsTheModeAsTheHardwareLayerDoes)
{
    ManualExecutor executor;
    SimulatedMac mac(executor);
    addDefaultDisplays(mac.world);
    const auto panel = installMonitorPanelDefaults(mac);
    panel->displays.at(1)->prefersHDR = true;
    SimulatedDisplay& builtIn = mac.world.displays.at(0);
    const SimulatedDisplay& external = mac.world.displays.at(1);

    EXPECT_EQ(displayIDOf(external), "9c4e2f61-5b3a-4d7e-8f10-2a6b7c8d9e0f");
    EXPECT_EQ(shownMode(external, *panel),
        (ModeConfiguration{.refreshRate = RefreshPreference::fixed(60'000),
            .hdr = true,
            .resolution = DisplayResolution{
                .width = 2560, .height = 1440, .pixelWidth = 2560, .pixelHeight = 1440}}));
    // macOS keeps a built-in display's HDR: none is read.
    EXPECT_EQ(shownMode(builtIn, *panel),
        (ModeConfiguration{.refreshRate = RefreshPreference::fixed(60'000),
            .resolution = DisplayResolution{
                .width = 1512, .height = 982, .pixelWidth = 3024, .pixelHeight = 1964}}));
    builtIn.currentModeID.reset();
    EXPECT_EQ(shownMode(builtIn, *panel), std::nullopt);
}

} // namespace
} // namespace quorvane
