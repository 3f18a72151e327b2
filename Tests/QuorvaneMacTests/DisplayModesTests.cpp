#include "MacControlBackendTestSupport.h"

#include "QuorvaneMac/DisplayError.h"
#include "SimulatedMac/SimulatedGamma.h"

#include <vector>

namespace quorvane::testing {
namespace {

const DisplayResolution external1440{
    .width = 2560, .height = 1440, .pixelWidth = 2560, .pixelHeight = 1440};
const DisplayResolution external1080{
    .width = 1920, .height = 1080, .pixelWidth = 1920, .pixelHeight = 1080};
const DisplayResolution builtInDefault{
    .width = 1512, .height = 982, .pixelWidth = 3024, .pixelHeight = 1964};
const DisplayResolution builtInLarger{
    .width = 1800, .height = 1169, .pixelWidth = 3600, .pixelHeight = 2338};

ModeConfiguration modeOf(std::optional<std::int64_t> hertz, std::optional<bool> hdr,
    std::optional<DisplayResolution> resolution)
{
    std::optional<RefreshPreference> rate;
    if (hertz)
        rate = RefreshPreference::fixed(*hertz * 1000);
    return {.refreshRate = rate, .hdr = hdr, .resolution = resolution};
}

struct DisplayModesTest : BackendFixture {
    DisplayModesTest()
    {
        makeBackend();
        snapshot = discover();
    }

    std::shared_ptr<TaskOutcome<ModeConfiguration>> startApply(
        ModeConfiguration mode, const std::string& id = externalID)
    {
        return start(backend->applyMode(
            mode, id, snapshot.environments.at(id), snapshot.currentModes.at(id).resolution));
    }
    TaskOutcome<ModeConfiguration> apply(ModeConfiguration mode, const std::string& id = externalID)
    {
        return finish(backend->applyMode(
            mode, id, snapshot.environments.at(id), snapshot.currentModes.at(id).resolution));
    }
    /// Without expectations of the display's environment and resolution.
    TaskOutcome<ModeConfiguration> applyAnyway(ModeConfiguration mode, const std::string& id)
    {
        return finish(backend->applyMode(mode, id, std::nullopt, std::nullopt));
    }
    /// Back to the default world, once every late event of the last case has passed.
    void resetWorld()
    {
        executor.advance(5s);
        mac.world.displays.clear();
        addDefaultDisplays(mac.world);
        *switching = SimulatedModeSwitching{};
        hdr->switchDelay = 0s;
        hdr->displays.at(1)->hasHDRModes = true;
        hdr->displays.at(1)->prefersHDR = false;
        snapshot = discover();
    }
    UUID capture(const std::string& id) { return *finish(backend->captureRecovery(id)).value; }
    std::int32_t currentModeOf(DisplayNumber number) { return *display(number).currentModeID; }
    bool externalPrefersHDR() { return hdr->displays.at(1)->prefersHDR; }

    HardwareSnapshot snapshot;
};

TEST_F(DisplayModesTest, SwitchesHDRAloneAndWaitsTwoSecondsForIt)
{
    hdr->switchDelay = 1500ms;
    const auto begin = executor.now();
    const auto outcome = startApply(modeOf(std::nullopt, true, std::nullopt));
    executor.advance(1999ms);
    EXPECT_FALSE(outcome->hasEnded());
    executor.advance(1ms);
    executor.runUntilIdle();
    ASSERT_EQ(outcome->summary(), "done");
    EXPECT_EQ(*outcome->endedAt, begin + 2s);
    // Complete as far as the display can tell, though only HDR was asked for.
    EXPECT_EQ(*outcome->value, modeOf(60, true, external1440));
    EXPECT_EQ(switching->calls, std::vector<SimulatedModeSwitching::Call>{});
    EXPECT_EQ(hdr->messages,
        (std::vector<std::string>{"tryLockAccess", "setPreferHDRModes: YES", "unlockAccess"}));
}

TEST_F(DisplayModesTest, HDRThatDidNotFollowOrADisplayThatWentAwayFailsAfterTheWait)
{
    struct Case {
        const char* name;
        void (*change)(DisplayModesTest&);
        std::string error;
    };
    const Case cases[] = {
        {"too slow", [](DisplayModesTest& t) { t.hdr->switchDelay = 2001ms; },
            "HDR change was not confirmed"},
        {"unplugged",
            [](DisplayModesTest& t) {
                t.mac.world.schedule(1s, [](SimulatedWorld& world) { world.unplug(2); });
            },
            "Display identity changed or disconnected"},
        {"another display took its number",
            [](DisplayModesTest& t) {
                t.mac.world.schedule(1s, [](SimulatedWorld& world) {
                    world.unplug(2);
                    world.renumber(1, 2);
                });
            },
            "Display identity changed or disconnected"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        DisplayModesTest& t = *this;
        c.change(t);
        const auto outcome = startApply(modeOf(50, true, std::nullopt));
        executor.advance(2s);
        executor.runUntilIdle();
        EXPECT_EQ(outcome->summary(), c.error);
        // Nothing else was tried on the display.
        EXPECT_EQ(switching->calls, std::vector<SimulatedModeSwitching::Call>{});
        resetWorld();
    }
}

TEST_F(DisplayModesTest, TurningHDROnPutsTheBaselineGammaBackFirst)
{
    ASSERT_EQ(writeOutcome(externalID, SettingKey::temperature,
                  SettingValue::temperature(Temperature::kelvin(3000))),
        "done");
    ASSERT_EQ(apply(modeOf(std::nullopt, true, std::nullopt)).summary(), "done");
    EXPECT_EQ(display(2).gamma, identityGammaTable(1024));
    // Nothing of ours is left to put back at quit.
    display(2).gamma = identityGammaTable(8);
    EXPECT_EQ(*finish(backend->restoreSession()).value, std::vector<std::string>{});
    EXPECT_EQ(display(2).gamma, identityGammaTable(8));

    // With nothing of ours applied, the tables are left alone.
    ASSERT_EQ(apply(modeOf(std::nullopt, false, std::nullopt)).summary(), "done");
    display(2).gamma = {};
    (void)discover();
    ASSERT_EQ(apply(modeOf(std::nullopt, true, std::nullopt)).summary(), "done");
    EXPECT_TRUE(display(2).gamma.red.empty());
}

/// The panel lets go of HDR a second after it was turned on.
void dropsBack(DisplayModesTest& t)
{
    t.mac.world.schedule(
        1s, [hdr = t.hdr](SimulatedWorld&) { hdr->displays.at(1)->prefersHDR = false; });
}

TEST_F(DisplayModesTest, OurWarmthFollowsWhetherHDRReallyCameOn)
{
    const auto warmth = [](std::int64_t kelvin) {
        return SettingValue::temperature(Temperature::kelvin(kelvin));
    };
    const std::string unverified
        = "Warmth is unverified on external HDR or extended-range displays";
    ASSERT_EQ(writeOutcome(externalID, SettingKey::temperature, warmth(5000)), "done");
    const GammaTable warm5000 = display(2).gamma;
    ASSERT_EQ(writeOutcome(externalID, SettingKey::temperature, warmth(3000)), "done");
    const GammaTable warm3000 = display(2).gamma;
    struct Case {
        const char* name;
        void (*change)(DisplayModesTest&);
        /// Written half a second into the HDR wait, while HDR still reads off.
        std::optional<Temperature> warmthDuringWait;
        std::string outcome;
        GammaTable tables;
        std::string temperature;
        bool readsDuringWait = false;
    };
    const Case cases[] = {
        {"warmth written while HDR was coming on",
            [](DisplayModesTest& t) { t.hdr->switchDelay = 1s; }, Temperature::kelvin(5000), "done",
            identityGammaTable(1024), unverified},
        {"HDR write refused", [](DisplayModesTest& t) { t.hdr->isLockedByAnotherClient = true; },
            std::nullopt, "HDR control is unavailable or busy.", warm3000, "3000 K"},
        {"HDR dropped back during the wait", dropsBack, std::nullopt,
            "HDR change was not confirmed", warm3000, "3000 K"},
        {"HDR dropped back and another program wrote its tables",
            [](DisplayModesTest& t) {
                dropsBack(t);
                t.mac.world.schedule(1s, [](SimulatedWorld& world) {
                    writeGammaFromAnotherProgram(world, externalID, identityGammaTable(16));
                });
            },
            std::nullopt, "HDR change was not confirmed", identityGammaTable(16), "Neutral"},
        // HDR comes on 1 ms after the wait; the warmth written meanwhile stays.
        {"too slow, with a newer warmth written meanwhile",
            [](DisplayModesTest& t) { t.hdr->switchDelay = 2001ms; }, Temperature::kelvin(5000),
            "HDR change was not confirmed", warm5000, unverified},
        {"too slow, with neutral warmth written meanwhile",
            [](DisplayModesTest& t) { t.hdr->switchDelay = 2001ms; }, Temperature::neutral(),
            "HDR change was not confirmed", identityGammaTable(1024), unverified},
        {"too slow, with the warmth only read meanwhile",
            [](DisplayModesTest& t) { t.hdr->switchDelay = 2001ms; }, std::nullopt,
            "HDR change was not confirmed", warm3000, unverified, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_EQ(writeOutcome(externalID, SettingKey::temperature, warmth(3000)), "done");
        c.change(*this);
        const auto outcome = startApply(modeOf(std::nullopt, true, std::nullopt));
        executor.advance(500ms);
        if (c.warmthDuringWait) {
            const auto writing
                = start(backend->write(SettingValue::temperature(*c.warmthDuringWait),
                    keyOf(externalID, SettingKey::temperature)));
            EXPECT_EQ(writing->summary(), "done");
        }
        if (c.readsDuringWait) {
            EXPECT_EQ(readOutcome(externalID, SettingKey::temperature), "Neutral");
        }
        executor.advance(1500ms);
        executor.runUntilIdle();
        EXPECT_EQ(outcome->summary(), c.outcome);
        EXPECT_EQ(display(2).gamma, c.tables);
        executor.advance(1ms);
        EXPECT_EQ(readOutcome(externalID, SettingKey::temperature), c.temperature);
        hdr->isLockedByAnotherClient = false;
        resetWorld();
    }
}

TEST_F(DisplayModesTest, SwitchesTheModeAndReadsItBackHalfASecondLater)
{
    const auto begin = executor.now();
    const auto outcome = startApply(modeOf(50, std::nullopt, std::nullopt));
    EXPECT_EQ(switching->calls,
        (std::vector<SimulatedModeSwitching::Call>{{.time = begin, .display = 2, .modeID = 21}}));
    executor.advance(499ms);
    EXPECT_FALSE(outcome->hasEnded());
    executor.advance(1ms);
    executor.runUntilIdle();
    ASSERT_EQ(outcome->summary(), "done");
    EXPECT_EQ(*outcome->value, modeOf(50, false, external1440));

    // The mode already on screen is kept, and nothing is switched.
    EXPECT_EQ(apply(modeOf(50, false, external1440)).summary(), "done");
    EXPECT_EQ(switching->calls.size(), 1u);
}

TEST_F(DisplayModesTest, AFixedRateIsMetByAVariableModeWithThatCeiling)
{
    display(2).modes.push_back({.width = 2560,
        .height = 1440,
        .pixelWidth = 2560,
        .pixelHeight = 1440,
        .ioDisplayModeID = 27,
        .refreshRate = 120});
    // Entering that mode makes the screen report variable refresh.
    mac.world.schedule(100ms, [](SimulatedWorld& world) {
        world.displayWithUUID(externalID)->screen->minimumRefreshInterval = 1.0 / 120;
    });
    const TaskOutcome<ModeConfiguration> outcome = apply(modeOf(120, std::nullopt, std::nullopt));
    ASSERT_EQ(outcome.summary(), "done");
    EXPECT_EQ(outcome.value->refreshRate, RefreshPreference::adaptive());
    EXPECT_EQ(readOutcome(externalID, SettingKey::refreshRate), "Adaptive / ProMotion");

    // A variable mode whose ceiling turns out another does not count.
    changeModeByUser(mac.world, externalID, 20);
    display(2).screen->minimumRefreshInterval = 1.0 / 60;
    display(2).modes.at(1).refreshRate = 100; // mode 21
    snapshot = discover();
    mac.world.schedule(100ms, [](SimulatedWorld& world) {
        SimulatedDisplay& display = *world.displayWithUUID(externalID);
        display.screen->minimumRefreshInterval = 1.0 / 120;
        display.modes.at(1).refreshRate = 99.9;
    });
    EXPECT_EQ(apply(modeOf(100, std::nullopt, std::nullopt)).summary(),
        "Refresh-rate readback did not match");
}

TEST_F(DisplayModesTest, OfSeveralFittingModesTheOneOnScreenIsKept)
{
    display(2).modes.push_back({.width = 2560,
        .height = 1440,
        .pixelWidth = 2560,
        .pixelHeight = 1440,
        .ioDisplayModeID = 23,
        .refreshRate = 60});
    changeModeByUser(mac.world, externalID, 23);
    EXPECT_EQ(apply(modeOf(60, std::nullopt, std::nullopt)).summary(), "done");
    EXPECT_EQ(switching->calls.size(), 0u);
    changeModeByUser(mac.world, externalID, 21);
    EXPECT_EQ(apply(modeOf(60, std::nullopt, std::nullopt)).summary(), "done");
    EXPECT_EQ(currentModeOf(2), 20);
}

TEST_F(DisplayModesTest, EachFailureHasItsText)
{
    const std::string refused = DisplayError::operation("display mode", 1000).what();
    struct Case {
        const char* name;
        void (*change)(DisplayModesTest&);
        ModeConfiguration mode;
        std::string error;
        /// Where the display ends once the caller's restore ran and every switch took effect.
        std::optional<std::int32_t> restoredTo = std::nullopt;
    };
    const Case cases[] = {
        {"mirrored",
            [](DisplayModesTest& t) {
                t.display(2).isMirrored = true;
                (void)t.discover();
            },
            modeOf(50, std::nullopt, std::nullopt),
            "Mode changes are unavailable for mirrored displays"},
        {"no current mode", [](DisplayModesTest& t) { t.display(2).currentModeID.reset(); },
            modeOf(50, std::nullopt, std::nullopt), "Current display mode unavailable"},
        {"connection changed",
            [](DisplayModesTest& t) { t.snapshot.environments[externalID] += "x"; },
            modeOf(50, std::nullopt, std::nullopt),
            "The display connection changed. Recheck and preview this combination again."},
        {"resolution changed",
            [](DisplayModesTest& t) { changeModeByUser(t.mac.world, externalID, 22); },
            modeOf(50, std::nullopt, std::nullopt),
            "The display resolution changed. Recheck and preview this combination again."},
        {"resolution not offered", [](DisplayModesTest&) {},
            modeOf(std::nullopt, std::nullopt, builtInDefault),
            "The saved resolution is unavailable on this screen. The current resolution was kept."},
        {"resolution invalid", [](DisplayModesTest&) {},
            modeOf(std::nullopt, std::nullopt,
                DisplayResolution{.width = 0, .height = 0, .pixelWidth = 0, .pixelHeight = 0}),
            "The saved resolution is unavailable on this screen. The current resolution was kept."},
        {"no HDR control", [](DisplayModesTest& t) { t.hdr->displays.at(1)->hasHDRModes = false; },
            modeOf(std::nullopt, false, std::nullopt), "HDR unavailable"},
        {"no such rate", [](DisplayModesTest&) {}, modeOf(50, std::nullopt, external1080),
            "This resolution, HDR, and refresh-rate combination is unavailable"},
        {"refused", [](DisplayModesTest& t) { t.switching->status = 1000; },
            modeOf(50, std::nullopt, std::nullopt), refused},
        {"landed on another resolution at that rate",
            [](DisplayModesTest& t) {
                t.display(2).modes.push_back({.width = 1920,
                    .height = 1080,
                    .pixelWidth = 1920,
                    .pixelHeight = 1080,
                    .ioDisplayModeID = 25,
                    .refreshRate = 50});
                t.switching->landsOn[21] = 25;
            },
            modeOf(50, std::nullopt, std::nullopt),
            "Resolution or scaling readback did not match; reverting"},
        {"landed on another rate", [](DisplayModesTest& t) { t.switching->landsOn[22] = 20; },
            modeOf(60, std::nullopt, external1080),
            "Resolution or scaling readback did not match; reverting"},
        {"landed on another rate", [](DisplayModesTest& t) { t.switching->landsOn[21] = 20; },
            modeOf(50, std::nullopt, std::nullopt), "Refresh-rate readback did not match"},
        {"landed on a mode without a rate",
            [](DisplayModesTest& t) {
                t.display(2).modes.push_back({.width = 2560,
                    .height = 1440,
                    .pixelWidth = 2560,
                    .pixelHeight = 1440,
                    .ioDisplayModeID = 26,
                    .refreshRate = 0});
                t.switching->landsOn[21] = 26;
            },
            modeOf(50, std::nullopt, std::nullopt), "Refresh-rate readback did not match"},
        {"took effect too late", [](DisplayModesTest& t) { t.switching->delay = 501ms; },
            modeOf(50, std::nullopt, std::nullopt), "Refresh-rate readback did not match", 20},
        {"HDR went back after the switch",
            [](DisplayModesTest& t) {
                t.hdr->displays.at(1)->prefersHDR = true;
                t.mac.world.schedule(100ms,
                    [hdr = t.hdr](SimulatedWorld&) { hdr->displays.at(1)->prefersHDR = false; });
            },
            modeOf(50, true, std::nullopt), "HDR readback did not match; reverting"},
        // Last: without a connection identity the environment names the display number.
        {"renumbered without a connection identity",
            [](DisplayModesTest& t) {
                t.monitors->displayInformation.erase(externalID);
                t.snapshot = t.discover();
                t.switching->renumbersTo = 6;
            },
            modeOf(50, std::nullopt, std::nullopt),
            "Resolution or scaling readback did not match; reverting"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        DisplayModesTest& t = *this;
        c.change(t);
        const std::optional<UUID> token
            = c.restoredTo ? std::optional(capture(externalID)) : std::nullopt;
        EXPECT_EQ(apply(c.mode).summary(), c.error);
        if (token) {
            EXPECT_EQ(finish(backend->restore(*token)).summary(), "done");
            executor.advance(5s);
            EXPECT_EQ(currentModeOf(2), c.restoredTo);
        }
        resetWorld();
    }
}

TEST_F(DisplayModesTest, ACancelThatComesWithTheBackendAfterAPauseStopsTheApply)
{
    // A DDC/CI read holds the backend when the pause ends; the cancel comes with the hand-off.
    struct Case {
        const char* name;
        ModeConfiguration mode;
        std::chrono::milliseconds readAt;
        std::size_t switches;
    };
    const Case cases[] = {
        {"after the HDR pause, before the mode switch", modeOf(50, true, std::nullopt), 1990ms, 0},
        {"after the mode pause", modeOf(50, std::nullopt, std::nullopt), 490ms, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto applying = startApply(c.mode);
        const TaskHandle apply = *handle;
        executor.advance(c.readAt);
        const auto reading = start(backend->read(keyOf(externalID, SettingKey::brightness)));
        mac.world.schedule(50ms, [apply](SimulatedWorld&) { apply.cancel(); });
        executor.advance(3s);
        EXPECT_EQ(reading->summary(), "done");
        EXPECT_EQ(applying->summary(), "cancelled");
        EXPECT_EQ(switching->calls.size(), c.switches);
        resetWorld();
    }
}

TEST_F(DisplayModesTest, AnApplyWhoseModeIsOnReadsBackWhateverComesDuringItsInventory)
{
    // A DDC/CI read holds the backend when the mode pause ends; the apply gets it after that
    // read and lets it go again for the inventory, to what queued behind it meanwhile.
    std::vector<DisplayDevice> seenExtended = DisplayInventory::snapshot(mac.platform());
    for (DisplayDevice& device : seenExtended)
        device.hasExtendedRange = device.id == externalID;
    struct Case {
        const char* name;
        bool cancelsTheApply;
        std::string temperature;
    };
    const Case cases[] = {
        {"the apply is cancelled while a write holds the backend", true, "Neutral"},
        // Its devices are newer than the picture the apply took before it ran.
        {"a discovery runs", false,
            "Warmth is unverified on external HDR or extended-range displays"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto applying = startApply(modeOf(50, std::nullopt, std::nullopt));
        const TaskHandle apply = *handle;
        executor.advance(480ms);
        const auto holding = start(backend->read(keyOf(externalID, SettingKey::brightness)));
        executor.advance(30ms);
        std::shared_ptr<TaskOutcome<void>> writing;
        std::shared_ptr<TaskOutcome<HardwareSnapshot>> discovering;
        if (c.cancelsTheApply)
            writing = start(backend->write(
                SettingValue::percent(0.6), keyOf(externalID, SettingKey::contrast)));
        else
            discovering = start(backend->discover(seenExtended));
        executor.advance(50ms);
        if (c.cancelsTheApply)
            apply.cancel();
        executor.advance(1s);
        EXPECT_EQ(applying->summary(), "done");
        EXPECT_EQ(applying->value, modeOf(50, false, external1440));
        EXPECT_EQ(readOutcome(externalID, SettingKey::temperature), c.temperature);
        resetWorld();
    }
}

TEST_F(DisplayModesTest, AModeThatTookEffectLateOrRenumberedTheDisplayStillReadsBack)
{
    switching->delay = 400ms;
    switching->renumbersTo = 6;
    EXPECT_EQ(apply(modeOf(50, std::nullopt, std::nullopt)).summary(), "done");
    EXPECT_EQ(readOutcome(externalID, SettingKey::refreshRate), "50 Hz");
    EXPECT_EQ(currentModeOf(6), 21);
}

TEST_F(DisplayModesTest, ADisplaysSwitchesLandInTheOrderTheyWereAskedFor)
{
    const auto ask = [&](DisplayNumber number, std::size_t modeIndex) {
        EXPECT_EQ(
            mac.platform().graphics.setDisplayMode(number, display(number).modes.at(modeIndex)), 0);
    };
    const std::string uuid = display(2).uuid.value();
    switching->delay = 1s;
    ask(2, 1); // 50 Hz
    switching->delay = 0s;
    ask(2, 2); // 1080p, with no delay of its own
    ask(1, 1); // another display has nothing queued
    EXPECT_EQ(currentModeOf(1), 11);
    EXPECT_EQ(currentModeOf(2), 20);
    EXPECT_TRUE(switching->isSwitching(uuid, executor.now()));
    executor.advance(500ms);
    switching->delay = 200ms;
    ask(2, 0); // back to 60 Hz, due before the first
    executor.advance(499ms);
    EXPECT_EQ(currentModeOf(2), 20);
    EXPECT_TRUE(switching->isSwitching(uuid, executor.now()));
    executor.advance(1ms);
    EXPECT_EQ(currentModeOf(2), 20) << "the last asked for lands last";
    EXPECT_FALSE(switching->isSwitching(uuid, executor.now()));

    // Asked for at the moment an earlier one is due, before that one has taken effect.
    mac.world.schedule(1s, [&](SimulatedWorld&) {
        switching->delay = 0s;
        ask(2, 2);
    });
    switching->delay = 1s;
    ask(2, 1);
    executor.advance(1s);
    EXPECT_EQ(currentModeOf(2), 22);
}

TEST_F(DisplayModesTest, ALateSwitchNeverOutlastsTheRestoreOrTheQuit)
{
    enum class Then { restore, quit, restoreThenUserPicks };
    struct Case {
        const char* name;
        std::chrono::milliseconds delay;
        Then then;
        std::int32_t endsIn;
    };
    const Case cases[] = {
        {"600 ms, restored", 600ms, Then::restore, 20},
        {"1 s, restored", 1s, Then::restore, 20},
        {"3 s, restored", 3s, Then::restore, 20},
        {"600 ms, quit with the test pending", 600ms, Then::quit, 20},
        {"1 s, quit with the test pending", 1s, Then::quit, 20},
        {"3 s, quit with the test pending", 3s, Then::quit, 20},
        // The user's own choice after ours is theirs to keep.
        {"1 s, restored, then the user picks 1080p", 1s, Then::restoreThenUserPicks, 22},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const UUID token = capture(externalID);
        switching->delay = c.delay;
        EXPECT_EQ(apply(modeOf(50, std::nullopt, std::nullopt)).summary(),
            "Refresh-rate readback did not match");
        if (c.then != Then::quit) {
            EXPECT_EQ(finish(backend->restore(token)).summary(), "done");
            executor.advance(2 * c.delay); // every switch asked for has landed
            EXPECT_EQ(currentModeOf(2), 20);
        }
        if (c.then == Then::restoreThenUserPicks)
            changeModeByUser(mac.world, externalID, 22);
        EXPECT_EQ(*finish(backend->restoreSession()).value, std::vector<std::string>{});
        executor.advance(2 * c.delay);
        EXPECT_EQ(currentModeOf(2), c.endsIn);
        resetWorld();
    }
}

TEST_F(DisplayModesTest, ARestoreGivesALateSwitchOfOursThreeSecondsToMakeWay)
{
    // The test's 50 Hz lands 600 ms late and shows from the restore's first read-back on.
    struct Case {
        std::chrono::milliseconds restoreDelay;
        std::string outcome;
    };
    const Case cases[] = {
        {3500ms, "done"}, // lands with the sixth pause's end
        {3501ms, "Display recovery readback did not match"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.restoreDelay.count());
        const UUID token = capture(externalID);
        switching->delay = 600ms;
        ASSERT_EQ(apply(modeOf(50, std::nullopt, std::nullopt)).summary(),
            "Refresh-rate readback did not match");
        switching->delay = c.restoreDelay;
        const auto begin = executor.now();
        const TaskOutcome<void> outcome = finish(backend->restore(token));
        EXPECT_EQ(outcome.summary(), c.outcome);
        EXPECT_EQ(*outcome.endedAt, begin + 3500ms);
        resetWorld();
    }
}

TEST_F(DisplayModesTest, AtQuitASwitchOfOursThatLandedLateGoesBackToTheFirstMode)
{
    const UUID kept = capture(externalID);
    ASSERT_EQ(apply(modeOf(std::nullopt, std::nullopt, external1080)).summary(), "done");
    finish(backend->discardRecovery(kept));
    snapshot = discover();
    // 50 Hz lands 3 s late, after its restore read 1080p back; 1080p again half a second later.
    const UUID token = capture(externalID);
    switching->delay = 3s;
    ASSERT_EQ(apply(modeOf(50, std::nullopt, external1440)).summary(),
        "Resolution or scaling readback did not match; reverting");
    ASSERT_EQ(finish(backend->restore(token)).summary(), "done");
    executor.advance(3200ms - 1s);
    ASSERT_EQ(currentModeOf(2), 21);
    (void)finish(backend->restoreSession());
    executor.advance(10s);
    EXPECT_EQ(currentModeOf(2), 20);
}

TEST_F(DisplayModesTest, AnApplyAsksAgainForTheModeOnScreenWhileASwitchOfOursMayLandOverIt)
{
    // The test's 50 Hz lands after its restore was seen, the restore's 60 Hz half a second later.
    const UUID token = capture(externalID);
    switching->delay = 3s;
    ASSERT_EQ(apply(modeOf(50, std::nullopt, std::nullopt)).summary(),
        "Refresh-rate readback did not match");
    ASSERT_EQ(finish(backend->restore(token)).summary(), "done");
    executor.advance(3200ms - 1s);
    ASSERT_EQ(currentModeOf(2), 21);
    switching->delay = 0s;
    snapshot = discover();
    const TaskOutcome<ModeConfiguration> outcome = apply(modeOf(50, std::nullopt, std::nullopt));
    executor.advance(5s);
    ASSERT_EQ(outcome.summary(), "done");
    EXPECT_EQ(currentModeOf(2), 21) << "the display keeps what the apply reported";
}

TEST_F(DisplayModesTest, RestoresACapturedModeAndForgetsTheToken)
{
    const UUID token = capture(externalID);
    ASSERT_EQ(apply(modeOf(60, true, external1080)).summary(), "done");
    ASSERT_TRUE(externalPrefersHDR());
    const auto outcome = start(backend->restore(token));
    executor.advance(1999ms);
    EXPECT_EQ(currentModeOf(2), 22);
    executor.advance(1ms);
    EXPECT_EQ(currentModeOf(2), 20);
    executor.advance(500ms);
    executor.runUntilIdle();
    EXPECT_EQ(outcome->summary(), "done");
    EXPECT_EQ(currentModeOf(2), 20);
    EXPECT_FALSE(externalPrefersHDR());

    // A token used or unknown changes nothing.
    const std::size_t switches = switching->calls.size();
    ASSERT_EQ(apply(modeOf(50, std::nullopt, std::nullopt)).summary(), "done");
    EXPECT_EQ(finish(backend->restore(token)).summary(), "done");
    EXPECT_EQ(finish(backend->restore(UUID::random())).summary(), "done");
    EXPECT_EQ(currentModeOf(2), 21);
    EXPECT_EQ(switching->calls.size(), switches + 1);

    display(1).isMirrored = true;
    (void)discover();
    EXPECT_EQ(finish(backend->captureRecovery(builtInID)).summary(), "No recoverable display mode");
}

TEST_F(DisplayModesTest, RestoreChangesOnlyWhatDiffers)
{
    // HDR already as recorded: no HDR switch and no 2 s wait.
    UUID token = capture(externalID);
    ASSERT_EQ(apply(modeOf(50, std::nullopt, std::nullopt)).summary(), "done");
    const auto begin = executor.now();
    const auto modeOnly = start(backend->restore(token));
    executor.advance(500ms);
    EXPECT_EQ(modeOnly->summary(), "done");
    EXPECT_EQ(*modeOnly->endedAt, begin + 500ms);
    EXPECT_EQ(hdr->messages, std::vector<std::string>{});

    // The mode already as recorded: no switch.
    token = capture(externalID);
    ASSERT_EQ(apply(modeOf(std::nullopt, true, std::nullopt)).summary(), "done");
    const std::size_t switches = switching->calls.size();
    EXPECT_EQ(finish(backend->restore(token)).summary(), "done");
    EXPECT_EQ(switching->calls.size(), switches);
    EXPECT_FALSE(externalPrefersHDR());
}

TEST_F(DisplayModesTest, RestoreFindsADisplayRenumberedDuringItsHDRWait)
{
    const UUID token = capture(externalID);
    ASSERT_EQ(apply(modeOf(50, true, std::nullopt)).summary(), "done");
    mac.world.schedule(1s, [](SimulatedWorld& world) { world.renumber(2, 7); });
    EXPECT_EQ(finish(backend->restore(token)).summary(), "done");
    EXPECT_EQ(switching->calls.back().display, 7u);
    EXPECT_EQ(currentModeOf(7), 20);
    EXPECT_FALSE(externalPrefersHDR());
}

TEST_F(DisplayModesTest, ARestoreWhoseModeIsOnReadsBackThoughCancelledWhileWaitingForTheBackend)
{
    const UUID token = capture(externalID);
    ASSERT_EQ(apply(modeOf(50, std::nullopt, std::nullopt)).summary(), "done");
    const auto restoring = start(backend->restore(token));
    const TaskHandle restore = *handle;
    executor.advance(480ms);
    const auto holding = start(backend->read(keyOf(externalID, SettingKey::brightness)));
    executor.advance(30ms);
    restore.cancel();
    executor.advance(1s);
    EXPECT_EQ(restoring->summary(), "done");
    EXPECT_EQ(currentModeOf(2), 20);
    // The token is used up: the mode another test leaves stays.
    ASSERT_EQ(apply(modeOf(50, std::nullopt, std::nullopt)).summary(), "done");
    EXPECT_EQ(finish(backend->restore(token)).summary(), "done");
    EXPECT_EQ(currentModeOf(2), 21);
}

TEST_F(DisplayModesTest, AConnectionThatChangesDuringTheHDRWaitStopsBeforeTheModeSwitch)
{
    struct Case {
        const char* name;
        bool restores;
        std::string error;
    };
    const Case cases[] = {
        {"mode change", false, "The display connection changed during the mode change"},
        {"recovery", true, "The display connection changed during recovery"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const UUID token = capture(externalID);
        if (c.restores) {
            ASSERT_EQ(apply(modeOf(50, true, std::nullopt)).summary(), "done");
        }
        const std::size_t switches = switching->calls.size();
        std::shared_ptr<TaskOutcome<void>> restoring;
        std::shared_ptr<TaskOutcome<ModeConfiguration>> applying;
        if (c.restores)
            restoring = start(backend->restore(token));
        else
            applying = startApply(modeOf(50, true, std::nullopt));
        // The display's connection information goes, so its environment names this run.
        auto information = monitors->displayInformation.extract(externalID);
        executor.advance(2s);
        executor.runUntilIdle();
        EXPECT_EQ(restoring ? restoring->summary() : applying->summary(), c.error);
        EXPECT_EQ(switching->calls.size(), switches);
        monitors->displayInformation.insert(std::move(information));
        resetWorld();
    }
}

TEST_F(DisplayModesTest, AFailedRestoreKeepsItsToken)
{
    const UUID token = capture(externalID);
    ASSERT_EQ(apply(modeOf(50, std::nullopt, std::nullopt)).summary(), "done");
    switching->status = 1000;
    EXPECT_EQ(finish(backend->restore(token)).summary(),
        DisplayError::operation("restore display mode", 1000).what());
    switching->status = 0;
    switching->landsOn[20] = 22;
    EXPECT_EQ(finish(backend->restore(token)).summary(), "Display recovery readback did not match");
    switching->landsOn[20] = 21; // the recorded resolution, at another rate
    EXPECT_EQ(finish(backend->restore(token)).summary(), "Display recovery readback did not match");
    switching->landsOn.clear();
    display(2).isMirrored = true;
    (void)discover();
    EXPECT_EQ(finish(backend->restore(token)).summary(),
        "The display connection changed; its previous mode cannot be restored safely");
    display(2).isMirrored = false;
    (void)discover();
    EXPECT_EQ(finish(backend->restore(token)).summary(), "done");
    EXPECT_EQ(currentModeOf(2), 20);
}

TEST_F(DisplayModesTest, AtQuitOnlyDisplaysStillInOurModeGoBack)
{
    // Two tests on the built-in display, both kept: it goes back to the mode before the first.
    const UUID first = capture(builtInID);
    ASSERT_EQ(applyAnyway(modeOf(std::nullopt, std::nullopt, builtInLarger), builtInID).summary(),
        "done");
    finish(backend->discardRecovery(first));
    const UUID second = capture(builtInID);
    ASSERT_EQ(applyAnyway(modeOf(std::nullopt, std::nullopt, builtInDefault), builtInID).summary(),
        "done");
    ASSERT_EQ(applyAnyway(modeOf(std::nullopt, std::nullopt, builtInLarger), builtInID).summary(),
        "done");
    finish(backend->discardRecovery(second));

    // The external display was kept too, and then the user picked another mode.
    const UUID external = capture(externalID);
    ASSERT_EQ(apply(modeOf(50, std::nullopt, std::nullopt)).summary(), "done");
    finish(backend->discardRecovery(external));
    mac.world.schedule(1s, [](SimulatedWorld& world) { changeModeByUser(world, externalID, 22); });
    executor.advance(1s);

    const TaskOutcome<std::vector<std::string>> outcome = finish(backend->restoreSession());
    EXPECT_EQ(*outcome.value, std::vector<std::string>{});
    EXPECT_EQ(currentModeOf(1), 10);
    EXPECT_EQ(currentModeOf(2), 22);
}

TEST_F(DisplayModesTest, AtQuitPendingTestsGoBackAndFailuresAreListed)
{
    (void)capture(externalID);
    ASSERT_EQ(apply(modeOf(50, std::nullopt, std::nullopt)).summary(), "done");
    (void)capture(builtInID);
    ASSERT_EQ(
        apply(modeOf(std::nullopt, std::nullopt, builtInLarger), builtInID).summary(), "done");
    ASSERT_EQ(writeOutcome(builtInID, SettingKey::temperature,
                  SettingValue::temperature(Temperature::kelvin(3000))),
        "done");
    mac.world.unplug(1);

    const TaskOutcome<std::vector<std::string>> outcome = finish(backend->restoreSession());
    // The built-in display's pending test, its first mode and its gamma each fail once.
    EXPECT_EQ(
        *outcome.value, std::vector<std::string>(3, "Display identity changed or disconnected"));
    EXPECT_EQ(currentModeOf(2), 20);
}

TEST_F(DisplayModesTest, AtQuitADisplayPluggedBackInSinceTheLastDiscoveryGoesBack)
{
    struct Case {
        const char* name;
        bool kept; // its test kept: only its first mode is left to put back
    };
    for (const Case c : {Case{"test pending", false}, Case{"test kept", true}}) {
        SCOPED_TRACE(c.name);
        const UUID token = capture(externalID);
        ASSERT_EQ(apply(modeOf(50, std::nullopt, std::nullopt)).summary(), "done");
        if (c.kept)
            finish(backend->discardRecovery(token));
        const SimulatedDisplay external = display(2);
        mac.world.unplug(2);
        (void)discover();
        // Back before the next discovery, as when a display test puts the refresh off.
        mac.world.displays.push_back(external);

        EXPECT_EQ(*finish(backend->restoreSession()).value, std::vector<std::string>{});
        EXPECT_EQ(currentModeOf(2), 20);
        resetWorld();
    }
}

TEST_F(DisplayModesTest, AtQuitBaselineGammaReturnsOnlyWhereOurTablesAreOn)
{
    const SettingValue warm = SettingValue::temperature(Temperature::kelvin(3000));
    ASSERT_EQ(writeOutcome(builtInID, SettingKey::temperature, warm), "done");
    ASSERT_EQ(writeOutcome(externalID, SettingKey::temperature, warm), "done");
    writeGammaFromAnotherProgram(mac.world, externalID, identityGammaTable(16));
    EXPECT_EQ(*finish(backend->restoreSession()).value, std::vector<std::string>{});
    EXPECT_EQ(display(1).gamma, identityGammaTable(1024));
    EXPECT_EQ(display(2).gamma, identityGammaTable(16));
}

TEST_F(DisplayModesTest, WaitsOfAModeChangeLetOtherOperationsIn)
{
    hdr->switchDelay = 1s;
    const auto applying = startApply(modeOf(50, true, std::nullopt));
    const auto reading = start(backend->read(keyOf(externalID, SettingKey::contrast)));
    executor.advance(1s);
    ASSERT_TRUE(reading->hasEnded());
    EXPECT_EQ(reading->value, SettingValue::percent(0.7));
    EXPECT_FALSE(applying->hasEnded());
    executor.advance(2s);
    EXPECT_EQ(applying->summary(), "done");

    // A DDC/CI read keeps the backend until its reply is in.
    const auto ddc = start(backend->read(keyOf(externalID, SettingKey::brightness)));
    const auto capturing = start(backend->captureRecovery(externalID));
    EXPECT_FALSE(capturing->hasEnded());
    executor.advance(200ms);
    EXPECT_TRUE(ddc->hasEnded());
    EXPECT_TRUE(capturing->hasEnded());
    EXPECT_LE(*ddc->endedAt, *capturing->endedAt);
}

} // namespace
} // namespace quorvane::testing
