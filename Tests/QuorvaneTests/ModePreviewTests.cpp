#include "Quorvane/AppModel.h"

#include "ModeTestSupport.h"
#include "Quorvane/MapKeys.h"
#include "Quorvane/SimulatedControls.h"

#include <gtest/gtest.h>

#include <functional>
#include <set>
#include <string>
#include <vector>

namespace quorvane {
namespace {

using namespace std::chrono_literals;
using mode_support::DemoModes;
using mode_support::ModeWorld;
using Phase = DisplayPreview::Phase;

const std::string externalID = mode_support::externalID;
const RefreshPreference hz50 = mode_support::hz50;
const RefreshPreference hz60 = mode_support::hz60;
using mode_support::demoBuiltInID;
using mode_support::demoExternalID;
using mode_support::hz140;
const ControlKey demoExternalHDR = mode_support::modeKeyOf(demoExternalID, SettingKey::hdr);
const ControlKey demoExternalRate
    = mode_support::modeKeyOf(demoExternalID, SettingKey::refreshRate);
const std::string screenChanged
    = "The screen changed during the preview. This combination was not approved.";

/// Starts a preview of 50 Hz on the external monitor; `ended` gets the completion's answer.
void preview50(ModeWorld& w, std::optional<bool>& ended)
{
    ASSERT_TRUE(w.model->previewMode({.refreshRate = hz50}, externalID, false, false, "Keep",
        [&ended](bool kept) { ended = kept; }));
}

/// Sets the calendar clock to `offset` before (negative) or after the preview's deadline without
/// moving the continuous clock, so the expiry has not fired.
void jumpToDeadline(
    ManualExecutor& executor, const AppModel& model, std::chrono::milliseconds offset)
{
    executor.shiftWallClock(*model.preview.get()->deadline - executor.wallNow() + offset);
}

bool isVerifiedAt50(const ModeWorld& w)
{
    const ModeConfiguration mode{
        .refreshRate = hz50, .hdr = false, .resolution = mode_support::external1440};
    return w.model->isVerified(mode, externalID);
}

TEST(ModePreviewTest, AKeepWhoseFreshReadOutlastsTheDeadlineExpires)
{
    for (const bool late : {false, true}) {
        SCOPED_TRACE(late ? "a millisecond before the deadline" : "early");
        ModeWorld w;
        std::optional<bool> ended;
        preview50(w, ended);
        w.executor.advance(600ms); // the switch and its half-second settle
        ASSERT_EQ(w.model->preview.get()->phase, Phase::confirming);
        if (late)
            jumpToDeadline(w.executor, *w.model, -1ms);
        w.model->keepPreview();
        EXPECT_EQ(w.model->preview.get()->phase, Phase::verifying);
        w.settle();
        EXPECT_EQ(ended, !late);
        EXPECT_EQ(isVerifiedAt50(w), !late);
        EXPECT_EQ(w.externalMode().refreshRate, late ? hz60 : hz50);
        EXPECT_EQ(w.model->actionError.get(),
            late ? std::optional<std::string>("The preview expired before confirmation completed.")
                 : std::nullopt);
        EXPECT_TRUE(w.model->modeBusy->empty() && !w.model->preview.get());
    }
}

TEST(ModePreviewTest, ExpiryFollowsTheContinuousClockWhateverTheCalendarDoes)
{
    for (const auto jump : {-1h, 1h}) {
        SCOPED_TRACE(jump.count());
        ModeWorld w;
        std::optional<bool> ended;
        preview50(w, ended);
        w.executor.advance(600ms);
        const auto confirmingSince = w.executor.now() - 100ms;
        w.executor.shiftWallClock(jump);
        w.executor.advance(confirmingSince + 15s - 1ms - w.executor.now());
        EXPECT_EQ(w.model->preview.get()->phase, Phase::confirming);
        w.executor.advance(1ms);
        EXPECT_EQ(w.model->preview.get()->phase, Phase::reverting);
        w.settle();
        EXPECT_EQ(ended, false);
        EXPECT_EQ(w.externalMode().refreshRate, hz60);
    }
}

TEST(ModePreviewTest, AKeepOnAChangedScreenIsNotApproved)
{
    const struct {
        const char* what;
        std::function<void(ModeWorld&)> change;
        std::string error = screenChanged;
    } cases[] = {
        {"the user picked another mode",
            [](ModeWorld& w) { changeModeByUser(w.mac.world, externalID, 22); }},
        {"another connection",
            [](ModeWorld& w) {
                w.model->hardwareSnapshot.modify(
                    [](HardwareSnapshot& s) { s.environments[externalID] = "elsewhere"; });
            }},
        // The platform will not restore on another connection either; its text wins.
        {"the system was updated, so the fresh read sees another connection",
            [](ModeWorld& w) {
                w.mac.world.operatingSystemVersionString = "Version 15.2 (Build 24C101)";
            },
            "Recovery could not be confirmed: The display connection changed; its previous mode "
            "cannot be restored safely. Reconnect this screen and recheck it."},
        {"the display went from the list",
            [](ModeWorld& w) { w.model->displays.set({w.model->displays->front()}); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ModeWorld w;
        std::optional<bool> ended;
        preview50(w, ended);
        w.executor.advance(1s);
        c.change(w);
        w.model->keepPreview();
        w.settle();
        EXPECT_EQ(w.model->actionError.get(), c.error);
        EXPECT_EQ(ended, false);
        EXPECT_EQ(
            w.model->configuration->verifiedModes.size(), w.model->initialModeEnvironments->size())
            << "only the modes first seen in each connection";
        EXPECT_FALSE(w.model->failedModes->contains(externalID))
            << "a failed Keep is no failed mode";
    }
}

TEST(ModePreviewTest, AFailedOrCancelledApplyRestoresAndMarksTheMode)
{
    const struct {
        const char* what;
        std::function<void(ModeWorld&)> fault;
        std::optional<std::string> error;
        bool staysFailed = true;
    } cases[] = {
        {"refused", [](ModeWorld& w) { w.switching->status = -1; },
            "Brightness display mode failed (-1). Try again after waking the display or changing "
            "its reference mode."},
        {"landing on another mode", [](ModeWorld& w) { w.switching->landsOn[21] = 20; },
            "Refresh-rate readback did not match"},
        {"the connection changed since the snapshot",
            [](ModeWorld& w) {
                w.model->hardwareSnapshot.modify(
                    [](HardwareSnapshot& s) { s.environments[externalID] = "elsewhere"; });
            },
            "The display connection changed. Recheck and preview this combination again.",
            false}, // the refresh after it finds another connection and clears the failure
        {"the resolution changed since the snapshot",
            [](ModeWorld& w) {
                w.model->hardwareSnapshot.modify([](HardwareSnapshot& s) {
                    s.currentModes[externalID].resolution = mode_support::external1080;
                });
            },
            "The display resolution changed. Recheck and preview this combination again."},
        {"reverted while switching",
            [](ModeWorld& w) {
                w.executor.advance(200ms);
                w.model->cancelPreview();
            },
            std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ModeWorld w;
        std::optional<bool> ended;
        preview50(w, ended);
        c.fault(w);
        w.settle();
        EXPECT_EQ(w.model->actionError.get(), c.error);
        EXPECT_EQ(ended, false);
        EXPECT_EQ(w.externalMode().refreshRate, hz60);
        EXPECT_EQ(w.mac.world.displayWithUUID(externalID)->currentModeID, 20);
        EXPECT_EQ(entryOf(w.model->failedModes.get(), externalID)
                      .value_or(ModeConfiguration{})
                      .refreshRate,
            c.staysFailed ? std::optional(hz50) : std::nullopt);
    }
}

TEST(ModePreviewTest, ATestWhoseSwitchLandsLateEndsInTheModeBeforeIt)
{
    enum class Then { settles, rechecks, quits };
    const struct {
        const char* what;
        ModeConfiguration mode;
        std::string error;
    } tests[] = {
        {"50 Hz", {.refreshRate = hz50}, "Refresh-rate readback did not match"},
        {"1080p", {.resolution = mode_support::external1080},
            "Resolution or scaling readback did not match; reverting"},
    };
    for (const auto& test : tests) {
        for (const auto delay : {600ms, 1000ms, 3000ms}) {
            for (const Then then : {Then::settles, Then::rechecks, Then::quits}) {
                SCOPED_TRACE(testing::Message()
                    << test.what << ", " << delay.count() << " ms, " << static_cast<int>(then));
                ModeWorld w;
                w.switching->delay = delay;
                std::optional<bool> ended;
                ASSERT_TRUE(w.model->previewMode(test.mode, externalID, false, false, "Keep",
                    [&ended](bool kept) { ended = kept; }));
                // Recheck or quit as soon as the test has failed, with its switch still to land.
                while (w.model->preview.get())
                    w.executor.advance(50ms);
                EXPECT_EQ(w.model->actionError.get(), test.error);
                EXPECT_EQ(ended, false);
                if (then == Then::rechecks)
                    w.model->recheckHardware();
                if (then == Then::quits)
                    w.model->quit();
                w.settle();
                EXPECT_EQ(w.mac.world.displayWithUUID(externalID)->currentModeID, 20);
                EXPECT_EQ(w.externalMode().refreshRate, hz60);
                EXPECT_EQ(w.externalMode().resolution, mode_support::external1440);
                EXPECT_FALSE(w.model->pendingRestores->contains(externalID));
            }
        }
    }
}

TEST(ModePreviewTest, KeepCountsOnlyBeforeTheDeadline)
{
    for (const auto offset : {-1ms, 0ms, 1ms}) {
        SCOPED_TRACE(offset.count());
        DemoModes w;
        ASSERT_TRUE(w.start({.hdr = true}));
        w.executor().runUntilIdle();
        jumpToDeadline(w.executor(), *w.model, offset);
        w.model->keepPreview();
        EXPECT_EQ(
            w.model->preview.get()->phase, offset < 0ms ? Phase::verifying : Phase::reverting);
        w.executor().runUntilIdle();
        EXPECT_EQ(w.ended, offset < 0ms);
        EXPECT_EQ(w.simulated(demoExternalID, SettingKey::hdr), SettingValue::toggle(offset < 0ms));
        EXPECT_EQ(w.model->actionError.get(), std::nullopt);
    }
}

TEST(ModePreviewTest, StartingChecksInOrder)
{
    const struct {
        const char* what;
        std::function<void(AppModel&)> spoil;
        ModeConfiguration mode;
        std::optional<std::string> error;
    } cases[] = {
        {"not loaded", [](AppModel& m) { m.isLoaded.set(false); }, {.hdr = true}, std::nullopt},
        {"a settings error", [](AppModel& m) { m.settingsError.set("Broken."); }, {.hdr = true},
            std::nullopt},
        {"suspended", [](AppModel& m) { m.isSuspended.set(true); }, {.hdr = true}, std::nullopt},
        {"another display busy", [](AppModel& m) { m.modeBusy.set({demoBuiltInID}); },
            {.hdr = true}, std::nullopt},
        {"no environment known",
            [](AppModel& m) {
                m.hardwareSnapshot.modify([](HardwareSnapshot& s) { s.environments.clear(); });
            },
            {.hdr = true}, std::nullopt},
        {"no current mode",
            [](AppModel& m) {
                m.hardwareSnapshot.modify([](HardwareSnapshot& s) { s.currentModes.clear(); });
            },
            {.hdr = true}, std::nullopt},
        {"a resolution not offered", [](AppModel&) {}, {.resolution = mode_support::external1080},
            "The saved resolution is unavailable on this connection. The current resolution is "
            "kept."},
        {"HDR refused before the rate",
            [](AppModel& m) {
                m.hardwareSnapshot.modify([](HardwareSnapshot& s) {
                    s.capabilities[demoExternalHDR] = {.available = false, .reason = "No HDR"};
                });
            },
            {.refreshRate = RefreshPreference::fixed(0), .hdr = true}, "No HDR"},
        {"a rate the resolution lacks", [](AppModel&) {},
            {.refreshRate = RefreshPreference::fixed(75'000)},
            "Value unavailable in this display mode"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        DemoModes w;
        c.spoil(*w.model);
        EXPECT_FALSE(w.start(c.mode));
        EXPECT_EQ(w.model->actionError.get(), c.error);
        EXPECT_FALSE(w.model->preview.get());
    }
}

TEST(ModePreviewTest, AKeptManualPreviewHoldsItsKeysFromTheirOriginals)
{
    DemoModes w;
    ASSERT_TRUE(w.start({.refreshRate = hz140, .hdr = true}, true));
    EXPECT_EQ(w.model->preview.get()->manualKeys,
        (std::vector<SettingKey>{SettingKey::hdr, SettingKey::refreshRate}));
    w.executor().runUntilIdle();
    const Date keptAt = w.executor().wallNow();
    w.model->keepPreview();
    w.executor().advance(1s);
    EXPECT_EQ(w.ended, true);
    EXPECT_EQ(w.model->manualOriginals.get(),
        (std::map<ControlKey, SettingValue>{{demoExternalHDR, SettingValue::toggle(false)},
            {demoExternalRate, SettingValue::refresh(hz60)}}));
    EXPECT_EQ(w.model->holds->at(demoExternalHDR).value, SettingValue::toggle(true));
    EXPECT_EQ(w.model->holds->at(demoExternalRate).value, SettingValue::refresh(hz140));
    EXPECT_EQ(w.model->modeStability->at(demoExternalID).appliedAt, keptAt);
    EXPECT_EQ(w.model->controlStatus->at(demoExternalHDR), "Kept and verified");
    EXPECT_FALSE(w.model->settingsError.get());
}

TEST(ModePreviewTest, AKeyTheOriginalLackedHasNoOriginalToReturnTo)
{
    DemoModes w;
    w.model->hardwareSnapshot.modify(
        [](HardwareSnapshot& s) { s.currentModes[demoBuiltInID].hdr.reset(); });
    ASSERT_TRUE(w.start({.hdr = true}, true, demoBuiltInID));
    w.executor().runUntilIdle();
    w.model->keepPreview();
    w.executor().runUntilIdle();
    const ControlKey builtInHDR = mode_support::modeKeyOf(demoBuiltInID, SettingKey::hdr);
    EXPECT_EQ(w.ended, true);
    EXPECT_FALSE(w.model->manualOriginals->contains(builtInHDR));
    EXPECT_EQ(w.model->holds->at(builtInHDR).value, SettingValue::toggle(true));
    EXPECT_FALSE(
        w.model->holds->contains(mode_support::modeKeyOf(demoBuiltInID, SettingKey::refreshRate)));
}

TEST(ModePreviewTest, AnApprovedResolutionCanGoBackAfterKeep)
{
    for (const bool revertMeanwhile : {false, true}) {
        SCOPED_TRACE(revertMeanwhile ? "reverted while restoring" : "kept");
        ModeWorld w;
        std::optional<bool> ended;
        ASSERT_TRUE(w.model->previewMode({.resolution = mode_support::external1080}, externalID,
            false, true, "Keep", [&ended](bool kept) { ended = kept; }));
        EXPECT_TRUE(w.model->preview.get()->restoreAfterKeep);
        w.executor.advance(1s);
        EXPECT_EQ(w.externalMode().resolution, mode_support::external1080);
        w.model->keepPreview();
        if (revertMeanwhile) {
            // Once the restore has switched back, a Revert only ends the test.
            const std::size_t switches = w.switching->calls.size();
            while (w.switching->calls.size() == switches)
                w.executor.advance(10ms);
            w.model->cancelPreview();
        }
        w.settle();
        EXPECT_EQ(ended, !revertMeanwhile);
        EXPECT_EQ(w.externalMode().resolution, mode_support::external1440);
        EXPECT_EQ(w.model->isVerified({.resolution = mode_support::external1080}, externalID),
            !revertMeanwhile);
        EXPECT_EQ(w.model->actionError.get(), std::nullopt);
        if (!revertMeanwhile) {
            EXPECT_EQ(entryOf(w.model->controlStatus.get(),
                          mode_support::modeKeyOf(externalID, SettingKey::hdr)),
                "Verified; previous resolution restored");
        }
    }
}

TEST(ModePreviewTest, AReadBackTheDocumentRefusesFailsTheKeep)
{
    DemoModes w;
    // A display that lists no modes: nothing tells the request is out of range.
    w.model->hardwareSnapshot.modify([](HardwareSnapshot& s) {
        s.modeChoices.erase(demoBuiltInID);
        s.capabilities.erase(mode_support::modeKeyOf(demoBuiltInID, SettingKey::refreshRate));
        s.currentModes[demoBuiltInID].resolution.reset();
    });
    const std::size_t verifiedBefore = w.model->configuration->verifiedModes.size();
    ASSERT_TRUE(w.start({.refreshRate = RefreshPreference::fixed(0)}, false, demoBuiltInID));
    w.executor().runUntilIdle();
    w.model->keepPreview();
    w.executor().advance(1s);
    EXPECT_EQ(w.ended, false);
    EXPECT_EQ(w.model->actionError.get(), "Invalid verified display configuration.");
    EXPECT_EQ(w.model->configuration->verifiedModes.size(), verifiedBefore);
    EXPECT_EQ(w.simulated(demoBuiltInID, SettingKey::refreshRate), SettingValue::refresh(hz60))
        << "restored";
    EXPECT_FALSE(w.model->settingsError.get());
}

TEST(ModePreviewTest, RevertInEachPhase)
{
    const auto confirming = [](DemoModes& w) { w.executor().runUntilIdle(); };
    const auto verifying = [](DemoModes& w) {
        w.executor().runUntilIdle();
        w.model->keepPreview();
    };
    const struct {
        const char* what;
        std::function<void(DemoModes&)> reach;
        bool byKeep;
        bool marksFailed;
    } cases[] = {
        {"applying", [](DemoModes&) {}, false, true},
        {"confirming", confirming, false, false},
        {"verifying", verifying, false, false},
        {"Keep while applying", [](DemoModes&) {}, true, true},
        {"a second Keep while verifying", verifying, true, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        DemoModes w;
        ASSERT_TRUE(w.start({.hdr = true}));
        c.reach(w);
        if (c.byKeep)
            w.model->keepPreview();
        else
            w.model->cancelPreview();
        EXPECT_EQ(w.model->preview.get()->phase, Phase::reverting);
        w.model->cancelPreview(); // a second Revert changes nothing
        w.executor().advance(1s);
        EXPECT_EQ(w.ended, false);
        EXPECT_EQ(w.model->failedModes->contains(demoExternalID), c.marksFailed);
        EXPECT_EQ(w.model->actionError.get(), std::nullopt);
        EXPECT_EQ(w.simulated(demoExternalID, SettingKey::hdr), SettingValue::toggle(false));
    }
}

// The monitor at 5000 K by its Default, automation on. HDR going on drops the software colour and
// going off leaves the gamma as it is: however a test ends, the colour comes back to the plan's
// and no change from outside is recorded. While HDR is on, the monitor offers no warmth.
TEST(ModePreviewTest, TheColourThePlanAsksForOutlastsEveryTest)
{
    const ControlKey warmth = mode_support::modeKeyOf(externalID, SettingKey::temperature);
    const SettingValue warm = SettingValue::temperature(Temperature::kelvin(5000));
    enum class End { revert, timeOut, keep, keepThenResume };
    const struct {
        const char* what;
        ModeConfiguration mode;
        End end;
        std::optional<SettingValue> colour;
    } cases[] = {
        {"HDR reverted", {.hdr = true}, End::revert, warm},
        {"HDR timed out", {.hdr = true}, End::timeOut, warm},
        {"HDR kept", {.hdr = true}, End::keep, std::nullopt},
        {"HDR kept, then Resume", {.hdr = true}, End::keepThenResume, warm},
        {"50 Hz reverted", {.refreshRate = hz50}, End::revert, warm},
        {"a resolution kept", {.resolution = mode_support::external1080}, End::keep, warm},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ModeWorld w(true);
        w.model->configuration.modify([&](Configuration& document) {
            DefaultSettings defaults = document.defaultSettings();
            defaults.setExplicit(warm, warmth);
            document.setDefaultSettings(defaults);
        });
        w.model->resolveAndApply(false);
        w.settle();
        ASSERT_EQ(entryOf(w.model->observed.get(), warmth), warm);
        ASSERT_TRUE(w.model->previewMode(c.mode, externalID, true, false, "Keep", {}));
        w.executor.advance(5s);
        ASSERT_EQ(w.model->preview.get()->phase, Phase::confirming);

        if (c.end == End::revert)
            w.model->cancelPreview();
        else if (c.end != End::timeOut)
            w.model->keepPreview();
        w.executor.advance(20s); // past the expiry, and several read-backs
        EXPECT_FALSE(w.model->preview.get());
        EXPECT_EQ(w.model->isVerified(c.mode, externalID), c.end >= End::keep);
        if (c.end == End::keepThenResume) {
            w.model->resume(std::nullopt); // the confirmed mode from before comes back by itself
            w.executor.advance(20s);
            EXPECT_FALSE(w.externalShowsHDR());
        }

        EXPECT_EQ(entryOf(w.model->observed.get(), warmth), c.colour);
        EXPECT_FALSE(w.model->holds->contains(warmth));
        EXPECT_NE(entryOf(w.model->controlStatus.get(), warmth), "Changed outside QuorVane");
    }
}

// Warmth lives in the gamma tables of every screen, contrast in those of the built-in one only:
// the end of a test forgets those readings and keeps the monitor's own.
TEST(ModePreviewTest, AnEndedTestForgetsOnlyTheReadingsOfTheSoftwareColour)
{
    const DisplayResolution larger{
        .width = 1800, .height = 1169, .pixelWidth = 3600, .pixelHeight = 2338};
    for (const bool builtIn : {true, false}) {
        SCOPED_TRACE(builtIn ? "built-in screen" : "external monitor");
        ModeWorld w;
        const std::string id = builtIn ? mode_support::builtInID : externalID;
        const auto readings = [&] {
            std::set<SettingKey> read;
            for (const auto& entry : w.model->observed.get()) {
                if (entry.first.target.id() == id)
                    read.insert(entry.first.setting);
            }
            return read;
        };
        ASSERT_TRUE(readings().contains(SettingKey::contrast));
        ASSERT_TRUE(readings().contains(SettingKey::temperature));
        std::set<SettingKey> readAtTheEnd;
        const Subscription ended = w.model->preview.observe([&] {
            if (!w.model->preview.get())
                readAtTheEnd = readings();
        });
        ASSERT_TRUE(w.model->previewMode(builtIn ? ModeConfiguration{.resolution = larger}
                                                 : ModeConfiguration{.refreshRate = hz50},
            id, false, false, "Keep", {}));
        w.settle();
        EXPECT_FALSE(readAtTheEnd.contains(SettingKey::temperature));
        EXPECT_EQ(readAtTheEnd.contains(SettingKey::contrast), !builtIn);
        EXPECT_TRUE(readAtTheEnd.contains(SettingKey::brightness));
    }
}

TEST(ModePreviewTest, AnInterruptedFreshReadAtKeepShowsNoText)
{
    const struct {
        const char* what;
        std::function<void(AppModel&)> interrupt;
    } cases[] = {
        {"Revert", [](AppModel& m) { m.cancelPreview(); }},
        {"a second Keep", [](AppModel& m) { m.keepPreview(); }},
        {"suspension", [](AppModel& m) { m.suspend(); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ModeWorld w;
        std::optional<bool> ended;
        preview50(w, ended);
        w.executor.advance(1s);
        w.model->keepPreview();
        w.executor.advance(1ms); // inside the fresh read, which a cancellation cuts short
        c.interrupt(*w.model);
        w.settle();
        EXPECT_EQ(ended, false);
        EXPECT_EQ(w.model->actionError.get(), std::nullopt);
        EXPECT_EQ(w.mac.world.displayWithUUID(externalID)->currentModeID, 20);
        EXPECT_FALSE(isVerifiedAt50(w));
    }
}

TEST(ModePreviewTest, KeepStopsTheExpiryOfItsTest)
{
    DemoModes w;
    std::optional<bool> nextStarted;
    ASSERT_TRUE(
        w.model->previewMode({.hdr = true}, demoExternalID, false, false, "Keep", [&](bool kept) {
            nextStarted = kept
                && w.model->previewMode(
                    {.refreshRate = hz140}, demoExternalID, false, false, "Keep", {});
        }));
    w.executor().runUntilIdle();
    const auto confirmingSince = w.executor().now();
    w.executor().advance(14s);
    w.model->keepPreview();
    w.executor().runUntilIdle();
    ASSERT_EQ(nextStarted, true);
    w.executor().advance(confirmingSince + 15s + 1ms - w.executor().now());
    ASSERT_TRUE(w.model->preview.get());
    EXPECT_EQ(w.model->preview.get()->phase, Phase::confirming) << "the next test still waits";
    EXPECT_EQ(w.simulated(demoExternalID, SettingKey::hdr), SettingValue::toggle(true));
}

TEST(ModePreviewTest, AKeptResolutionIsNoLongerPending)
{
    for (const bool reached : {true, false}) {
        SCOPED_TRACE(reached ? "the pending resolution" : "another one");
        DemoModes w;
        const DisplayResolution pending = reached ? DisplayResolution{.width = 1280,
                                              .height = 800,
                                              .pixelWidth = 2560,
                                              .pixelHeight = 1600}
                                                  : mode_support::external1440;
        w.model->pendingResolutions.set({{demoExternalID, pending}});
        ASSERT_TRUE(
            w.start({.resolution = DisplayResolution{
                         .width = 1280, .height = 800, .pixelWidth = 2560, .pixelHeight = 1600}}));
        w.executor().runUntilIdle();
        w.model->keepPreview();
        w.executor().runUntilIdle();
        EXPECT_EQ(w.ended, true);
        EXPECT_EQ(w.model->pendingResolutions->contains(demoExternalID), !reached);
    }
}

} // namespace
} // namespace quorvane
