#include "Quorvane/AppModel.h"

#include "ModeTestSupport.h"
#include "Quorvane/MapKeys.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace quorvane {
namespace {

using namespace std::chrono_literals;
using mode_support::DemoModes;
using mode_support::ModeWorld;

const std::string externalID = mode_support::externalID;
const std::string builtInID = mode_support::builtInID;
const RefreshPreference hz50 = mode_support::hz50;
const RefreshPreference hz60 = mode_support::hz60;
const ControlKey externalRate = mode_support::modeKeyOf(externalID, SettingKey::refreshRate);
const ControlKey externalHDR = mode_support::modeKeyOf(externalID, SettingKey::hdr);
const ModeConfiguration at50{
    .refreshRate = hz50, .hdr = false, .resolution = mode_support::external1440};
const ModeConfiguration at50WithHDR{
    .refreshRate = hz50, .hdr = true, .resolution = mode_support::external1440};

/// Automation on, polling stopped so that only the mode change uses the hardware.
struct SchedulingWorld : ModeWorld {
    SchedulingWorld()
        : ModeWorld(true)
    {
        model->pollingTask.get()->cancel();
        settle();
    }

    void verify(const ModeConfiguration& mode, const std::string& displayID = externalID)
    {
        const std::string environment = model->hardwareSnapshot->environments.at(displayID);
        model->configuration.modify([&](Configuration& document) {
            document.verifiedModes.push_back(
                {.displayID = displayID, .environment = environment, .mode = mode});
        });
    }
    /// The Default settings ask the external monitor for `mode`'s rate and HDR.
    void want(const ModeConfiguration& mode)
    {
        model->configuration.modify([&](Configuration& document) {
            DefaultSettings defaults = document.defaultSettings();
            defaults.setValue(SettingValue::refresh(*mode.refreshRate), externalRate);
            defaults.setValue(SettingValue::toggle(*mode.hdr), externalHDR);
            document.setDefaultSettings(defaults);
        });
        model->resolveAndApply(false);
    }
    [[nodiscard]] std::string status() const
    {
        return entryOf(model->controlStatus.get(), externalRate).value_or("");
    }
};

TEST(ModeSchedulingTest, AVerifiedModeWaitsASecondAndFiveAfterTheLastChange)
{
    const struct {
        std::int64_t debounce;
        std::optional<std::chrono::seconds> appliedAgo;
        std::chrono::milliseconds wait;
    } cases[] = {
        {0, std::nullopt, 1000ms},
        {300, std::nullopt, 1000ms},
        {5000, std::nullopt, 1000ms},
        {300, 2s, 3000ms},
        {300, 10s, 1000ms},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.debounce << " ms debounce");
        SchedulingWorld w;
        w.model->configuration.modify(
            [&](Configuration& document) { document.debounceMilliseconds = c.debounce; });
        if (c.appliedAgo)
            w.model->modeStability.set(
                {{externalID, ModeStability{.appliedAt = w.executor.wallNow() - *c.appliedAgo}}});
        w.verify(at50);
        w.want(at50);
        EXPECT_EQ(w.status(), "Waiting for a stable context…");
        const std::size_t switches = w.switching->calls.size();
        w.executor.advance(c.wait - 1ms);
        EXPECT_FALSE(w.model->modeBusy->contains(externalID));
        w.executor.advance(1ms);
        EXPECT_TRUE(w.model->modeBusy->contains(externalID));
        w.settle();
        EXPECT_EQ(w.switching->calls.size(), switches + 1);
        EXPECT_EQ(w.externalMode(), at50);
        EXPECT_EQ(w.status(), "Display mode confirmed");
        EXPECT_TRUE(w.model->modeTasks->empty() && w.model->modeRequests->empty());
    }
}

TEST(ModeSchedulingTest, ARepeatedPassKeepsItsWaitAndAChangedRequestStartsOver)
{
    for (const bool changes : {false, true}) {
        SCOPED_TRACE(changes ? "changed" : "repeated");
        SchedulingWorld w;
        w.verify(at50);
        w.verify(at50WithHDR);
        w.want(at50);
        const UUID first = w.model->modeIDs->at(externalID);
        w.executor.advance(500ms);
        w.want(changes ? at50WithHDR : at50);
        EXPECT_EQ(w.model->modeIDs->at(externalID) == first, !changes);
        w.executor.advance(changes ? 999ms : 499ms);
        EXPECT_FALSE(w.model->modeBusy->contains(externalID));
        w.executor.advance(1ms);
        EXPECT_TRUE(w.model->modeBusy->contains(externalID));
        w.settle();
        EXPECT_EQ(w.externalMode(), changes ? at50WithHDR : at50);
    }
}

TEST(ModeSchedulingTest, AFailedChangeIsRestoredWithItsReason)
{
    const struct {
        const char* what;
        std::function<void(SchedulingWorld&)> meanwhile;
        std::string status;
        bool failed;
    } cases[] = {
        {"the display lands on another mode",
            [](SchedulingWorld& w) { w.switching->landsOn[21] = 20; },
            "Refresh-rate readback did not match", true},
        {"the switch lands after its read-back",
            [](SchedulingWorld& w) { w.switching->delay = 1s; },
            "Refresh-rate readback did not match", true},
        {"the context changes during the switch",
            [](SchedulingWorld& w) {
                w.executor.advance(1200ms); // inside the settle pause after the switch
                // The new context asks for the mode the display had.
                w.model->configuration.modify([](Configuration& document) {
                    DefaultSettings defaults = document.defaultSettings();
                    defaults.setValue(SettingValue::refresh(hz60), externalRate);
                    document.setDefaultSettings(defaults);
                });
                w.model->cancelModeCommand(externalID);
                EXPECT_TRUE(w.model->modeTasks->contains(externalID)) << "busy: it cleans up";
            },
            "Context changed; previous display mode restored", false},
        {"automation is switched off before the recovery point",
            [](SchedulingWorld& w) {
                w.executor.advance(999ms);
                w.model->configuration.modify(
                    [](Configuration& d) { d.automationEnabled = false; });
            },
            "Waiting for a stable context…", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        SchedulingWorld w;
        w.verify(at50);
        w.want(at50);
        c.meanwhile(w);
        w.settle();
        EXPECT_EQ(w.status(), c.status);
        EXPECT_EQ(w.externalMode().refreshRate, hz60);
        EXPECT_EQ(w.mac.world.displayWithUUID(externalID)->currentModeID, 20);
        EXPECT_EQ(entryOf(w.model->failedModes.get(), externalID),
            c.failed ? std::optional(at50) : std::nullopt);
        EXPECT_TRUE(w.model->modeTasks->empty() && w.model->modeBusy->empty());
        if (c.failed) {
            w.model->resolveAndApply(false);
            EXPECT_TRUE(w.model->modeTasks->empty()) << "a failed mode is not tried again";
        }
    }
}

TEST(ModeSchedulingTest, AReadBackOtherThanTheApprovedCombinationIsRestored)
{
    SchedulingWorld w;
    // HDR was unknown when 50 Hz was approved; the switch's read-back reports it off.
    w.model->hardwareSnapshot.modify(
        [](HardwareSnapshot& s) { s.currentModes.at(externalID).hdr.reset(); });
    const ModeConfiguration approved{.refreshRate = hz50, .resolution = mode_support::external1440};
    w.verify(approved);
    std::vector<std::string> statuses;
    const Subscription heard
        = w.model->controlStatus.observe([&] { statuses.push_back(w.status()); });
    w.model->configuration.modify([](Configuration& document) {
        DefaultSettings defaults = document.defaultSettings();
        defaults.setValue(SettingValue::refresh(hz50), externalRate);
        defaults.setValue(std::nullopt, externalHDR);
        document.setDefaultSettings(defaults);
    });
    w.model->resolveAndApply(false);
    w.settle();
    EXPECT_EQ(statuses.at(0), "Waiting for a stable context…");
    EXPECT_EQ(statuses.at(1), "Display readback did not match the approved combination; reverting");
    EXPECT_EQ(w.mac.world.displayWithUUID(externalID)->currentModeID, 20);
    EXPECT_EQ(entryOf(w.model->failedModes.get(), externalID), approved);
}

TEST(ModeSchedulingTest, ADisplayAlreadyThereIsLeftAloneAndItsRecoveriesEnd)
{
    SchedulingWorld w;
    w.want({.refreshRate = hz60, .hdr = false});
    w.model->manualRecoveries.set(
        {{externalHDR, SettingValue::toggle(false)}, {externalRate, SettingValue::refresh(hz60)}});
    w.model->pendingResolutions.set({{externalID, mode_support::external1440}});
    const Date applied = w.executor.wallNow() - 1min;
    w.model->modeStability.set(
        {{externalID, ModeStability{.desired = at50, .changedAt = applied, .appliedAt = applied}}});
    const auto statuses = w.model->controlStatus.get();
    w.model->scheduleModes();
    EXPECT_TRUE(w.model->manualRecoveries->empty());
    EXPECT_TRUE(w.model->pendingResolutions->empty());
    EXPECT_EQ(w.model->modeStability->at(externalID), ModeStability{.appliedAt = applied});
    EXPECT_TRUE(w.model->modeTasks->empty());
    EXPECT_EQ(w.model->controlStatus.get(), statuses);
}

TEST(ModeSchedulingTest, OneDisplayNeverHoldsUpTheNextInAPass)
{
    const DisplayResolution larger{
        .width = 1800, .height = 1169, .pixelWidth = 3600, .pixelHeight = 2338};
    const struct {
        const char* what;
        DisplayResolution pending;
        bool verified;
        bool failedBefore;
        std::string status;
        bool awaitsRestore = false;
    } cases[] = {
        {"a resolution the built-in display cannot show",
            {.width = 800, .height = 600, .pixelWidth = 800, .pixelHeight = 600}, false, false,
            "The saved resolution is unavailable on this connection. The current resolution is "
            "kept."},
        {"a confirmed resolution", larger, true, false, "Display mode confirmed"},
        {"an unconfirmed resolution that failed before", larger, false, true,
            "Preview and keep this combination before automation can use it"},
        {"a display only its restore may change", larger, false, false,
            "Previous resolution restored. Activate the profile again to retry.", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        SchedulingWorld w;
        w.model->pendingResolutions.set({{builtInID, c.pending}});
        if (c.awaitsRestore)
            w.model->pendingRestores.set({{builtInID, PendingRestore{}}});
        const ModeConfiguration builtIn = w.model->desiredMode(builtInID);
        if (c.verified)
            w.verify(builtIn, builtInID);
        if (c.failedBefore)
            w.model->failedModes.set({{builtInID, builtIn}});
        // When the change is confirmed, the pending resolution is already gone.
        std::optional<bool> pendingAtConfirmation;
        const Subscription subscription = w.model->controlStatus.observe([&] {
            if (entryOf(w.model->controlStatus.get(),
                    mode_support::modeKeyOf(builtInID, SettingKey::refreshRate))
                    == "Display mode confirmed"
                && !pendingAtConfirmation)
                pendingAtConfirmation = w.model->pendingResolutions->contains(builtInID);
        });
        w.verify(at50);
        w.want(at50);
        EXPECT_TRUE(w.model->modeTasks->contains(externalID));
        w.settle();
        EXPECT_EQ(w.externalMode(), at50);
        const auto builtInStatus = c.verified ? entryOf(w.model->controlStatus.get(),
                                       mode_support::modeKeyOf(builtInID, SettingKey::refreshRate))
                                              : entryOf(w.model->resolutionStatus.get(), builtInID);
        EXPECT_EQ(builtInStatus, c.status);
        EXPECT_FALSE(w.model->preview.get());
        if (c.verified) {
            EXPECT_EQ(w.model->hardwareSnapshot->currentModes.at(builtInID).resolution, larger);
            EXPECT_EQ(pendingAtConfirmation, false);
        }
    }
}

TEST(ModeSchedulingTest, AnUnconfirmedModeIsOnlyReported)
{
    SchedulingWorld w;
    w.want(at50);
    EXPECT_EQ(w.status(), "Preview and keep this combination before automation can use it");
    EXPECT_TRUE(w.model->modeTasks->empty());
    EXPECT_FALSE(w.model->preview.get()) << "no pending resolution, no test";

    for (const bool verified : {false, true}) {
        SCOPED_TRACE(verified ? "waiting" : "unconfirmed");
        if (verified)
            w.verify(at50WithHDR);
        w.want(at50WithHDR);
        ASSERT_NE(w.status(), "");
        // As a request whose resolution was at stake shows it.
        w.model->resolutionStatus.set({{externalID, w.status()}});
        w.want({.refreshRate = hz60, .hdr = false});
        EXPECT_EQ(w.status(), "") << "the display shows the mode asked for now";
        EXPECT_FALSE(w.model->resolutionStatus->contains(externalID));
    }

    SchedulingWorld unread;
    unread.verify(at50);
    unread.model->hardwareSnapshot.modify(
        [](auto& snapshot) { snapshot.environments.erase(externalID); });
    unread.want(at50);
    EXPECT_TRUE(unread.model->modeTasks->empty()) << "a connection not read yet confirms nothing";
}

TEST(ModeSchedulingTest, AResolutionTestThatCannotStartDoesNotHoldUpTheNextDisplay)
{
    SchedulingWorld w;
    w.model->configuration.modify([](Configuration& document) {
        for (Profile& profile : document.profiles.editEach())
            profile.displayPreferences = ProfileDisplayPreferences{
                .resolutions = std::map<std::string, DisplayResolution>{
                    {builtInID,
                        {.width = 1800, .height = 1169, .pixelWidth = 3600, .pixelHeight = 2338}},
                    {externalID, mode_support::external1080}}};
    });
    w.model->queueProfileResolutions(std::nullopt);
    // Without a known connection the built-in display's test is refused.
    w.model->hardwareSnapshot.modify([](HardwareSnapshot& s) { s.environments.erase(builtInID); });
    w.model->scheduleModes();
    ASSERT_TRUE(w.model->preview.get());
    EXPECT_EQ(w.model->preview.get()->displayID, externalID);
    EXPECT_EQ(w.model->preview.get()->confirmationTitle, "Keep profile resolution");

    w.executor.advance(1s);
    w.model->cancelPreview();
    w.settle();
    EXPECT_EQ(entryOf(w.model->resolutionStatus.get(), externalID),
        "Previous resolution restored. Activate the profile again to retry.");
    EXPECT_FALSE(w.model->pendingResolutions->contains(externalID));
    EXPECT_EQ(w.externalMode().resolution, mode_support::external1440);
    EXPECT_TRUE(!w.model->preview.get() || w.model->preview.get()->displayID != externalID)
        << "no further test for it";
}

TEST(ModeSchedulingTest, ResumingOffersTheModesFromBeforeTheManualChanges)
{
    using mode_support::demoBuiltInID;
    using mode_support::demoExternalID;
    const ControlKey hdr = mode_support::modeKeyOf(demoExternalID, SettingKey::hdr);
    const ControlKey rate = mode_support::modeKeyOf(demoBuiltInID, SettingKey::refreshRate);
    for (const bool keep : {true, false}) {
        SCOPED_TRACE(keep ? "kept" : "reverted");
        DemoModes w;
        // Nothing else decides the two keys, so their recoveries stand.
        w.model->configuration.modify([](Configuration& document) {
            document.activeProfileID = document.defaultProfileID;
            document.setDefaultSettings({});
        });
        w.model->holds.set({{hdr, ManualHold{.value = SettingValue::toggle(true)}},
            {rate, ManualHold{.value = SettingValue::refresh(mode_support::hz140)}}});
        w.model->manualOriginals.set(
            {{hdr, SettingValue::toggle(false)}, {rate, SettingValue::refresh(hz60)}});
        w.model->hardwareSnapshot.modify([&](HardwareSnapshot& s) {
            s.currentModes[demoExternalID].hdr = true;
            s.currentModes[demoBuiltInID].refreshRate = mode_support::hz140;
        });
        w.model->resume(std::nullopt);
        ASSERT_TRUE(w.model->preview.get());
        EXPECT_EQ(w.model->preview.get()->displayID, demoBuiltInID) << "the first in order";
        EXPECT_EQ(w.model->preview.get()->confirmationTitle, "Restore previous settings");
        w.executor().runUntilIdle();
        if (keep)
            w.model->keepPreview();
        else
            w.model->cancelPreview();
        w.executor().runUntilIdle();
        ASSERT_EQ(w.model->preview.get().has_value(), keep);
        if (keep) {
            EXPECT_EQ(w.model->preview.get()->displayID, demoExternalID);
            EXPECT_EQ(w.model->preview.get()->requested.hdr, false);
        }
    }
}

} // namespace
} // namespace quorvane
