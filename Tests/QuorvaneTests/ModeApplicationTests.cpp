#include "Quorvane/AppModel.h"

#include "ApplyTestSupport.h"
#include "ModeTestSupport.h"
#include "Quorvane/DisplayTestPresenter.h"
#include "Quorvane/SimulatedControls.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace quorvane {
namespace {

using namespace std::chrono_literals;
using mode_support::ModeWorld;
using Phase = DisplayPreview::Phase;

const std::string externalID = mode_support::externalID;
const RefreshPreference hz50 = mode_support::hz50;
const RefreshPreference hz60 = mode_support::hz60;
const RefreshPreference hz120 = RefreshPreference::fixed(120'000);
const RefreshPreference adaptive = RefreshPreference::adaptive();
const ControlKey externalHDR = mode_support::modeKeyOf(externalID, SettingKey::hdr);
const ControlKey externalRate = mode_support::modeKeyOf(externalID, SettingKey::refreshRate);

/// A preview of `mode` on the external monitor, applied and waiting for Keep.
DisplayPreview confirmingPreview(ModeWorld& w, const ModeConfiguration& mode)
{
    EXPECT_TRUE(w.model->previewMode(mode, externalID, false, false, "Keep", {}));
    w.executor.advance(3s);
    EXPECT_EQ(w.model->preview.get()->phase, Phase::confirming);
    return *w.model->preview.get();
}

TEST(ModeApplicationTest, ARestoreThatBeganEndsThoughItsCallerWasCancelled)
{
    ModeWorld w;
    const DisplayPreview shown = confirmingPreview(w, {.hdr = true});
    ASSERT_TRUE(w.externalShowsHDR() && shown.recovery);
    TaskOutcome<std::optional<std::string>> outcome;
    const TaskHandle caller = spawn(w.executor,
        recordOutcome(
            w.model->restoreDisplay(shown.recovery, shown.original, externalID), outcome));
    w.executor.advance(1s); // inside the restore's two-second HDR pause
    caller.cancel();
    w.executor.advance(1s);
    EXPECT_FALSE(w.externalShowsHDR());
    ASSERT_EQ(outcome.summary(), "done");
    EXPECT_EQ(*outcome.value, std::nullopt);
    EXPECT_EQ(w.externalMode(), shown.original);
}

TEST(ModeApplicationTest, RestoringRecordsOnlyWhatReallyCameBack)
{
    const std::string prefix = "Recovery could not be confirmed: ";
    const std::string suffix = ". Reconnect this screen and recheck it.";
    const struct {
        const char* what;
        bool useToken;
        std::function<void(ModeWorld&)> fault;
        std::optional<std::string> failure;
    } cases[] = {
        {"no token: only the model goes back", false, {}, std::nullopt},
        {"restored", true, {}, std::nullopt},
        {"the display was unplugged", true, [](ModeWorld& w) { w.mac.world.unplug(2); },
            prefix + "Display identity changed or disconnected" + suffix},
        {"the display lands elsewhere", true, [](ModeWorld& w) { w.switching->landsOn[20] = 22; },
            prefix + "Display recovery readback did not match" + suffix},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ModeWorld w;
        const DisplayPreview shown = confirmingPreview(w, {.refreshRate = hz50});
        const std::size_t switches = w.switching->calls.size();
        const auto observedBefore = w.model->observed.get();
        if (c.fault)
            c.fault(w);
        const auto restored = runToEndOn(w.executor,
            w.model->restoreDisplay(
                c.useToken ? shown.recovery : std::nullopt, shown.original, externalID));
        EXPECT_EQ(restored, c.failure);
        EXPECT_EQ(w.externalMode(), c.failure ? shown.requested : shown.original);
        EXPECT_EQ(entryOf(w.model->observed.get(), externalRate),
            c.failure ? entryOf(observedBefore, externalRate)
                      : std::optional(SettingValue::refresh(hz60)));
        if (!c.useToken) {
            EXPECT_EQ(w.switching->calls.size(), switches) << "the display is not touched";
        }
    }
}

TEST(ModeApplicationTest, TheDemoAppliesToItsSimulationOnly)
{
    using apply_support::hdr;
    const std::string& id = apply_support::externalID;
    const ControlKey rate = mode_support::modeKeyOf(id, SettingKey::refreshRate);
    apply_support::ApplyWorld w(true);
    w.model->hardwareSnapshot.modify([&](HardwareSnapshot& s) {
        s.modeChoices[id] = {{mode_support::external1440, hz60}};
    });
    const auto failure = runToEndOn(w.executor(),
        w.model->restoreDisplay(UUID::random(), {.refreshRate = hz50, .hdr = true}, id));
    EXPECT_EQ(failure, std::nullopt) << "the token is not looked at";
    EXPECT_EQ(entryOf(w.model->simulated().values(), hdr), SettingValue::toggle(true));
    EXPECT_EQ(entryOf(w.model->simulated().values(), rate), SettingValue::refresh(hz50));

    const ModeConfiguration unavailable{.hdr = false, .resolution = mode_support::external1080};
    const auto refused = outcomeOn(w.executor(), w.model->applyDisplayMode(unavailable, id));
    EXPECT_EQ(refused.error,
        "The saved resolution is unavailable on this connection. The current "
        "resolution is kept.");
    EXPECT_EQ(entryOf(w.model->simulated().values(), hdr), SettingValue::toggle(true))
        << "nothing is written before the check";
    const ModeConfiguration resolutionOnly{.resolution = mode_support::external1440};
    EXPECT_EQ(
        runToEndOn(w.executor(), w.model->applyDisplayMode(resolutionOnly, id)), resolutionOnly);
    EXPECT_EQ(entryOf(w.model->simulated().values(), rate), SettingValue::refresh(hz50));
}

TEST(ModeApplicationTest, RecordingAModeStampsBothKeysAndEndsTheRecoveriesItReaches)
{
    const struct {
        const char* what;
        ModeConfiguration mode;
        std::map<ControlKey, SettingValue> recoveries;
        std::map<ControlKey, SettingValue> left;
    } cases[] = {
        {"reached", {.hdr = true}, {{externalHDR, SettingValue::toggle(true)}}, {}},
        {"not reached", {.hdr = false}, {{externalHDR, SettingValue::toggle(true)}},
            {{externalHDR, SettingValue::toggle(true)}}},
        {"a key without an observed value", {.hdr = true},
            {{externalRate, SettingValue::refresh(hz60)}},
            {{externalRate, SettingValue::refresh(hz60)}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        apply_support::ApplyWorld w;
        w.model->manualRecoveries.set(c.recoveries);
        w.executor().advance(3s);
        w.model->recordMode(c.mode, externalID);
        EXPECT_EQ(w.model->manualRecoveries.get(), c.left);
        EXPECT_EQ(w.model->hardwareSnapshot->currentModes.at(externalID), c.mode);
        EXPECT_FALSE(w.model->observed->contains(externalRate));
        for (const ControlKey& key : {externalHDR, externalRate})
            EXPECT_EQ(entryOf(w.model->lastWrite.get(), key), w.executor().wallNow());
    }
}

TEST(ModeApplicationTest, CancellingABusyDisplayOnlyStopsItsTask)
{
    for (const bool busy : {true, false}) {
        SCOPED_TRACE(busy ? "busy" : "idle");
        apply_support::ApplyWorld w;
        const Date applied = w.executor().wallNow();
        const ModeStability stability{
            .desired = ModeConfiguration{.hdr = true}, .changedAt = applied, .appliedAt = applied};
        const TaskHandle task = spawn(w.executor(), apply_support::waitForever());
        w.model->modeTasks.set({{externalID, task}});
        w.model->modeIDs.set({{externalID, UUID::random()}});
        w.model->modeRequests.set({{externalID, ModeConfiguration{.hdr = true}}});
        w.model->modeStability.set({{externalID, stability}});
        if (busy)
            w.model->modeBusy.set({externalID});
        w.model->cancelModeCommand(externalID);
        w.executor().runUntilIdle();
        EXPECT_TRUE(task.isFinished());
        EXPECT_EQ(
            w.model->modeTasks->size() + w.model->modeIDs->size() + w.model->modeRequests->size(),
            busy ? 3U : 0U);
        EXPECT_EQ(w.model->modeStability->at(externalID),
            busy ? stability : ModeStability{.appliedAt = applied});
        EXPECT_EQ(w.model->modeBusy->size(), busy ? 1U : 0U);
    }
}

TEST(ModeApplicationTest, StatusReachesTheResolutionOnlyWhileOneIsAtStake)
{
    const struct {
        const char* what;
        std::function<void(AppModel&)> setUp;
        bool reachesResolution;
    } cases[] = {
        {"nothing at stake", [](AppModel&) {}, false},
        {"a pending resolution",
            [](AppModel& m) {
                m.pendingResolutions.set({{externalID, mode_support::external1440}});
            },
            true},
        {"an earlier status",
            [](AppModel& m) {
                m.resolutionStatus.set({{externalID, "Earlier"}});
            },
            true},
        {"a preview changing the resolution",
            [](AppModel& m) {
                m.preview.set(DisplayPreview{.id = UUID::random(),
                    .displayID = externalID,
                    .requested = {.resolution = mode_support::external1440}});
            },
            true},
        {"a preview keeping it",
            [](AppModel& m) {
                m.preview.set(DisplayPreview{.id = UUID::random(), .displayID = externalID});
            },
            false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        apply_support::ApplyWorld w;
        c.setUp(*w.model);
        w.model->modeStatus("Kept", externalID);
        EXPECT_EQ(entryOf(w.model->controlStatus.get(), externalHDR), "Kept");
        EXPECT_EQ(entryOf(w.model->controlStatus.get(), externalRate), "Kept");
        EXPECT_EQ(
            entryOf(w.model->resolutionStatus.get(), externalID) == "Kept", c.reachesResolution);
    }
}

TEST(ModeApplicationTest, OnlyTheDemoTakesItsRefreshChoicesFromARecordedResolution)
{
    const DisplayResolution smaller{
        .width = 1280, .height = 800, .pixelWidth = 2560, .pixelHeight = 1600};
    mode_support::DemoModes demo;
    const ControlKey demoRate
        = mode_support::modeKeyOf(mode_support::demoExternalID, SettingKey::refreshRate);
    const std::vector<RefreshPreference> listed{
        hz60, mode_support::hz140, RefreshPreference::adaptive()};
    EXPECT_EQ(demo.model->refreshRateChoices(mode_support::demoExternalID), listed);
    demo.model->recordMode(
        {.refreshRate = hz60, .hdr = false, .resolution = smaller}, mode_support::demoExternalID);
    EXPECT_EQ(demo.model->hardwareSnapshot->capabilities.at(demoRate).reason,
        "Refresh rates at the profile's resolution · preview required");
    EXPECT_EQ(demo.model->refreshRateChoices(mode_support::demoExternalID), listed)
        << "one order, whatever the mode";

    ModeWorld w;
    const ControlCapability before = w.model->hardwareSnapshot->capabilities.at(externalRate);
    w.model->recordMode(
        {.refreshRate = hz50, .hdr = false, .resolution = mode_support::external1080}, externalID);
    EXPECT_EQ(w.model->hardwareSnapshot->capabilities.at(externalRate), before);
}

Task<DiscoveredHardware> discoveredAfter(int* count, std::chrono::milliseconds wait)
{
    ++*count;
    co_await sleep(wait);
    co_return DiscoveredHardware{};
}

TEST(ModeApplicationTest, TheRefreshAfterAChangeReResolvesOnlyWhenAwake)
{
    const ResolvedPlan stale{.unavailable = {{externalRate, "Stale"}}};
    const struct {
        const char* what;
        bool quitting;
        bool suspended;
        bool pending;
        bool suspendedDuringTheRead;
        int discoveries;
        bool resolved;
    } cases[] = {
        {"awake", false, false, false, false, 1, true},
        {"quitting", true, false, true, false, 0, false},
        {"suspended, nothing deferred", false, true, false, false, 0, false},
        {"suspended with a deferred refresh", false, true, true, false, 1, true},
        {"suspended again during the read", false, false, false, true, 1, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ModelWorld world;
        int discoveries = 0;
        const auto model = world.idleModel(
            {.hardwareDiscovery = [&discoveries] { return discoveredAfter(&discoveries, 100ms); }});
        model->isQuitting.set(c.quitting);
        model->isSuspended.set(c.suspended);
        model->pendingHardwareRefresh.set(c.pending);
        model->resolution.set(stale);
        const TaskHandle refresh = spawn(world.executor, model->refreshAfterModeChange());
        world.executor.advance(50ms);
        if (c.suspendedDuringTheRead)
            model->suspend();
        world.executor.advance(1s);
        EXPECT_TRUE(refresh.isFinished());
        EXPECT_EQ(discoveries, c.discoveries);
        EXPECT_EQ(model->resolution.get() != stale, c.resolved);
    }
}

class PhasePanel final : public DisplayTestPresenter {
public:
    explicit PhasePanel(std::vector<std::string>& heard)
        : m_heard(heard)
    {
    }
    void update(AppModel& model) override
    {
        const auto& preview = model.preview.get();
        m_heard.push_back(!preview                  ? "closed"
                : preview->phase == Phase::applying ? "applying"
                                                    : "other");
    }

private:
    std::vector<std::string>& m_heard;
};

TEST(ModeApplicationTest, ThePanelHearsOfEveryPreviewChangeBeforeAnyView)
{
    ModelWorld world;
    const auto model = world.idleModel();
    std::vector<std::string> heard;
    PhasePanel panel(heard);
    model->displayTestPresenter = &panel;
    const Subscription view = model->preview.observe([&] { heard.push_back("view"); });
    model->preview.set(DisplayPreview{.id = UUID::random()});
    model->preview.modify([](auto& preview) { preview->phase = Phase::reverting; });
    model->preview.set(std::nullopt);
    EXPECT_EQ(
        heard, (std::vector<std::string>{"applying", "view", "other", "view", "closed", "view"}));
}

} // namespace
} // namespace quorvane
