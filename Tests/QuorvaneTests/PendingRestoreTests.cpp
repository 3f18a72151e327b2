#include "Quorvane/AppModel.h"

#include "ContextTestSupport.h"
#include "ModeTestSupport.h"
#include "Quorvane/WorkspaceEvents.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <set>
#include <string>

namespace quorvane {
namespace {

using namespace std::chrono_literals;
using namespace workspaceNotification;
using mode_support::ModeWorld;

const std::string externalID = mode_support::externalID;
const ControlKey externalRate = mode_support::modeKeyOf(externalID, SettingKey::refreshRate);
const std::string refusedText
    = "Recovery could not be confirmed: Brightness restore display mode failed (-1). Try again "
      "after waking the display or changing its reference mode. Reconnect this screen and "
      "recheck it.";
const std::string disconnectedText = "Recovery could not be confirmed: Display identity changed "
                                     "or disconnected. Reconnect this screen and recheck it.";

/// The external monitor's IO mode: 20 is its starting 60 Hz, 21 the 50 Hz under test.
std::optional<std::int32_t> shownMode(ModeWorld& w)
{
    return w.mac.world.displayWithUUID(externalID)->currentModeID;
}

/// With automation on, a 50 Hz test on the external monitor whose restore fails: the switch back
/// is refused while the user presses Revert, or the monitor is unplugged while the test counts
/// down and the expiry reverts. Both leave 50 Hz on screen.
struct FailedRestoreWorld : ModeWorld {
    SimulatedDisplay monitor;
    std::optional<bool> ended;

    explicit FailedRestoreWorld(bool unplugged, bool automation = true)
        : ModeWorld(automation)
        , monitor(*mac.world.displayWithUUID(externalID))
    {
        // Automation would bring the starting 60 Hz back by itself.
        model->configuration.modify([](Configuration& document) {
            DefaultSettings defaults = document.defaultSettings();
            defaults.setValue(SettingValue::refresh(mode_support::hz60), externalRate);
            document.setDefaultSettings(defaults);
        });
        EXPECT_TRUE(model->previewMode({.refreshRate = mode_support::hz50}, externalID, false,
            false, "Keep", [this](bool kept) { ended = kept; }));
        executor.advance(1s);
        if (unplugged) {
            mac.world.unplug(monitor.number);
            executor.advance(15s);
        } else {
            switching->status = -1;
            model->cancelPreview();
        }
        settle();
    }

    void plugBackIn() { mac.world.displays.push_back(monitor); }
    [[nodiscard]] std::optional<std::string> status() const
    {
        return entryOf(model->controlStatus.get(), externalRate);
    }
};

TEST(PendingRestoreTest, AFailedRestoreStaysPendingUntilARefreshFindsTheDisplay)
{
    const struct {
        const char* what;
        bool unplugged;
        std::string text;
        /// Makes the restore possible again.
        std::function<void(FailedRestoreWorld&)> mend;
        std::function<void(FailedRestoreWorld&)> refresh;
    } cases[] = {
        {"switches refused during Revert, then Recheck", false, refusedText,
            [](FailedRestoreWorld& w) { w.switching->status = 0; },
            [](FailedRestoreWorld& w) { w.model->recheckHardware(); }},
        {"switches refused during Revert, then wake", false, refusedText,
            [](FailedRestoreWorld& w) { w.switching->status = 0; },
            [](FailedRestoreWorld& w) { post(w.mac.workspaceNotifications, didWake); }},
        {"unplugged during the countdown, then plugged back in", true, disconnectedText,
            [](FailedRestoreWorld& w) { w.plugBackIn(); },
            [](FailedRestoreWorld& w) { post(w.mac.notifications, didChangeScreenParameters); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        FailedRestoreWorld w(c.unplugged);
        EXPECT_EQ(w.ended, false);
        EXPECT_EQ(w.model->actionError.get(), c.text);
        ASSERT_TRUE(w.model->pendingRestores->contains(externalID));
        const PendingRestore pending = w.model->pendingRestores->at(externalID);
        EXPECT_TRUE(pending.token);
        EXPECT_EQ(pending.original.refreshRate, mode_support::hz60);

        // A refresh that cannot restore keeps the text; nothing else changes the mode meanwhile.
        std::set<std::optional<std::string>> shown{w.status()};
        const Subscription statuses
            = w.model->controlStatus.observe([&] { shown.insert(w.status()); });
        const std::int64_t revision = w.model->refreshRevision.get();
        c.refresh(w);
        w.settle();
        EXPECT_EQ(shown, std::set<std::optional<std::string>>{c.text})
            << "the scheduler leaves the display alone";
        EXPECT_EQ(w.model->pendingRestores->at(externalID), pending);
        EXPECT_EQ(w.model->refreshRevision.get(), revision + 1)
            << "a failed retry refreshes no more";
        if (!c.unplugged) {
            EXPECT_EQ(shownMode(w), 21);
        }

        c.mend(w);
        c.refresh(w);
        w.settle();
        EXPECT_EQ(shownMode(w), 20);
        EXPECT_EQ(w.model->hardwareSnapshot->currentModes.at(externalID), pending.original);
        EXPECT_FALSE(w.model->pendingRestores->contains(externalID));
        EXPECT_EQ(w.status(), std::nullopt) << "the failure no longer holds";
        EXPECT_FALSE(
            w.model->controlStatus->contains(mode_support::modeKeyOf(externalID, SettingKey::hdr)));
        EXPECT_EQ(w.model->refreshRevision.get(), revision + 3)
            << "a restore ends with a refresh of its own";
        EXPECT_TRUE(w.model->modeBusy->empty() && w.model->restoreTasks->empty());
    }
}

TEST(PendingRestoreTest, AKeepOnScreenEndsItAndAKeepPutBackDoesNot)
{
    for (const bool putBack : {false, true}) {
        SCOPED_TRACE(putBack ? "a resolution approved and put back" : "HDR kept");
        FailedRestoreWorld w(false, false);
        w.switching->status = 0;
        if (putBack) {
            std::set<std::optional<std::string>> shown{w.status()};
            const Subscription statuses
                = w.model->controlStatus.observe([&] { shown.insert(w.status()); });
            ASSERT_TRUE(w.model->previewMode(
                {.resolution = mode_support::external1080}, externalID, false, true, "Keep", {}));
            w.executor.advance(3s);
            w.model->keepPreview();
            w.settle();
            EXPECT_TRUE(
                w.model->isVerified({.resolution = mode_support::external1080}, externalID));
            EXPECT_EQ(shown, (std::set<std::optional<std::string>>{refusedText, std::nullopt}))
                << "the failure shows until the refresh after the test restores the display";
            EXPECT_EQ(shownMode(w), 20);
            continue;
        }
        ASSERT_TRUE(w.model->previewMode({.hdr = true}, externalID, false, false, "Keep", {}));
        w.executor.advance(3s);
        w.model->keepPreview();
        w.settle();
        EXPECT_FALSE(w.model->pendingRestores->contains(externalID));
        w.model->recheckHardware();
        w.settle();
        EXPECT_EQ(shownMode(w), 21) << "the kept combination stays";
        EXPECT_TRUE(w.externalShowsHDR());
    }
}

TEST(PendingRestoreTest, ARetryWaitsForATestOnItsDisplayAndRunsARefreshAskedForMeanwhile)
{
    FailedRestoreWorld w(false, false);
    std::optional<std::size_t> switchesAtStart;
    // The preview starts as the refresh takes its reading, before the retry's turn.
    const Subscription adopted = w.model->hardwareSnapshot.observe([&] {
        if (!switchesAtStart
            && w.model->previewMode({.hdr = true}, externalID, false, false, "Keep", {}))
            switchesAtStart = w.switching->calls.size();
    });
    w.model->recheckHardware();
    w.executor.advance(3s);
    ASSERT_TRUE(switchesAtStart);
    EXPECT_EQ(w.switching->calls.size(), *switchesAtStart) << "no retry during the test";
    EXPECT_TRUE(w.model->restoreTasks->empty());
    EXPECT_TRUE(w.externalShowsHDR());

    // Reverted, the test's end refreshes and retries; a wake during that retry is not lost.
    bool woken = false;
    const Subscription busy = w.model->modeBusy.observe([&] {
        if (!woken && !w.model->preview.get() && w.model->modeBusy->contains(externalID)) {
            woken = true;
            post(w.mac.workspaceNotifications, didWake);
        }
    });
    const std::int64_t revision = w.model->refreshRevision.get();
    w.model->cancelPreview();
    w.settle();
    EXPECT_EQ(w.model->refreshRevision.get(), revision + 2);
    EXPECT_TRUE(w.model->pendingRestores->contains(externalID));
}

TEST(PendingRestoreTest, QuitRestoresAPendingDisplay)
{
    FailedRestoreWorld w(false, false);
    w.switching->status = 0;
    w.model->quit();
    w.settle();
    EXPECT_EQ(w.shell.terminationRequests, 1);
    EXPECT_EQ(shownMode(w), 20);
    EXPECT_TRUE(w.model->pendingRestores->empty());
}

TEST(PendingRestoreTest, NoManualRecoveryIsOfferedOnAPendingDisplay)
{
    FailedRestoreWorld w(false, false);
    w.model->manualRecoveries.set({{externalRate, SettingValue::refresh(mode_support::hz60)}});
    w.model->previewManualModeRecovery();
    EXPECT_FALSE(w.model->preview.get());
}

TEST(PendingRestoreTest, AnUnplugDuringAnAutomaticResolutionTestKeepsItsTextAsTheStatus)
{
    ModeWorld w(true);
    w.model->configuration.modify([](Configuration& document) {
        for (Profile& profile : document.profiles.editEach())
            profile.displayPreferences
                = ProfileDisplayPreferences{.resolutions = std::map<std::string, DisplayResolution>{
                                                {externalID, mode_support::external1080}}};
    });
    w.model->queueProfileResolutions(std::vector<std::string>{externalID});
    w.model->scheduleModes();
    ASSERT_TRUE(w.model->preview.get());
    w.executor.advance(1s);
    w.mac.world.unplug(w.mac.world.displayWithUUID(externalID)->number);
    w.settle();
    EXPECT_EQ(entryOf(w.model->resolutionStatus.get(), externalID), disconnectedText)
        << "not \"Previous resolution restored\"";
    EXPECT_TRUE(w.model->pendingRestores->contains(externalID));
}

} // namespace
} // namespace quorvane
