#include "Quorvane/AppModel.h"

#include "HoldsTestSupport.h"

#include <gtest/gtest.h>

#include <ctime>
#include <string>
#include <vector>

namespace quorvane {
namespace {

using namespace std::chrono_literals;
using namespace holdsfixture;

Task<void> idle() { co_await sleep(1h); }

Task<DiscoveredHardware> slowDiscovery()
{
    co_await sleep(1s);
    co_return holdsHardware();
}

TEST(HoldsTest, OnlyARealChangeFromOutsideBecomesAHold)
{
    struct Case {
        const char* what;
        ControlKey key = externalContrast;
        std::optional<SettingValue> previous = SettingValue::percent(0.1);
        SettingValue value = SettingValue::percent(0.126);
        std::optional<std::chrono::milliseconds> sinceOwnWrite{};
        bool detectExternal = true;
        bool confirmedExternal = false;
        bool automation = true;
        bool applying = false;
        bool modeBusy = false;
        bool becomesHold = true;
    };
    const Case cases[] = {
        {.what = "more than the tolerance up"},
        {.what = "more than the tolerance down", .value = SettingValue::percent(0.074)},
        {.what = "within the tolerance", .value = SettingValue::percent(0.125), .becomesHold = false},
        {.what = "first read", .previous = std::nullopt, .becomesHold = false},
        {.what = "just after our write", .sinceOwnWrite = 1500ms, .becomesHold = false},
        {.what = "well after our write", .sinceOwnWrite = 1501ms},
        {.what = "automation off", .automation = false, .becomesHold = false},
        {.what = "not looking for outside changes", .detectExternal = false, .becomesHold = false},
        {.what = "our write running", .applying = true, .becomesHold = false},
        {.what = "mode change running", .modeBusy = true, .becomesHold = false},
        {.what = "confirmed without a change", .previous = std::nullopt,
            .confirmedExternal = true},
        {.what = "other temperature", .key = externalTemperature, .previous = kelvin(6500),
            .value = kelvin(6490)},
        {.what = "same temperature", .key = externalTemperature, .previous = kelvin(6500),
            .value = kelvin(6500), .becomesHold = false},
        {.what = "built-in brightness", .key = builtinBrightness},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        HoldsWorld holdsWorld;
        const auto model = holdsWorld.loadedModel();
        model->configuration.modify([&](Configuration& document) {
            document.automationEnabled = c.automation;
            document.holdMinutes = 0;
        });
        if (c.previous)
            model->observed.set({{c.key, *c.previous}});
        if (c.sinceOwnWrite)
            model->lastWrite.set({{c.key, holdsWorld.world.executor.wallNow() - *c.sinceOwnWrite}});
        if (c.applying)
            model->applying.set({{c.key, c.value}});
        if (c.modeBusy)
            model->modeBusy.set({c.key.target.id()});
        model->manualRecoveries.set({{c.key, SettingValue::percent(0.9)}});

        model->observe(c.value, c.key, c.detectExternal, c.confirmedExternal);

        EXPECT_EQ(model->observed->at(c.key), c.value);
        EXPECT_EQ(model->holds->contains(c.key), c.becomesHold);
        if (!c.becomesHold)
            continue;
        EXPECT_EQ(model->holds->at(c.key), (ManualHold{.value = c.value, .isExternal = true}));
        EXPECT_EQ(model->controlStatus->at(c.key), "Changed outside QuorVane");
        EXPECT_EQ(model->manualOriginals->contains(c.key), c.previous.has_value());
        if (c.previous) {
            EXPECT_EQ(model->manualOriginals->at(c.key), *c.previous);
        }
        EXPECT_TRUE(model->manualRecoveries->empty()) << "a new hold makes the recovery stale";
    }
}

TEST(HoldsTest, SecondChangeKeepsTheOriginalAndAMismatchDropsTheConfirmation)
{
    HoldsWorld holdsWorld;
    const auto model = holdsWorld.loadedModel();
    const auto report = [](double observed) {
        return ControlApplyReport{.requested = SettingValue::percent(observed),
            .observed = SettingValue::percent(observed),
            .didWrite = true};
    };
    model->observed.set({{externalContrast, SettingValue::percent(0.2)}});
    model->confirmedApplications.set(
        {{externalContrast, report(0.2)}, {builtinContrast, report(0.6)}});

    model->observe(SettingValue::percent(0.6), externalContrast, true, false);
    model->observe(SettingValue::percent(0.8), externalContrast, true, false);
    model->observe(SettingValue::percent(0.6000001), builtinContrast, false, false);

    EXPECT_EQ(model->manualOriginals->at(externalContrast), SettingValue::percent(0.2));
    EXPECT_EQ(model->holds->at(externalContrast).value, SettingValue::percent(0.8));
    EXPECT_FALSE(model->confirmedApplications->contains(externalContrast));
    EXPECT_TRUE(model->confirmedApplications->contains(builtinContrast));
}

TEST(HoldsTest, ManualHoldIsShownAndExpiresAtTheTickThatReachesItsEnd)
{
    HoldsWorld holdsWorld;
    const auto model = holdsWorld.loadedModel(true);
    const auto started = holdsWorld.pollingStarted.value();
    ManualExecutor& executor = holdsWorld.world.executor;
    model->configuration.modify([](Configuration& document) { document.holdMinutes = 5; });
    executor.advance(started + 10s - executor.now());

    model->manual(SettingValue::percent(0.3), externalContrast, false);
    model->manualOriginals.set({{externalContrast, SettingValue::percent(0.5)}});

    ASSERT_TRUE(model->holds->contains(externalContrast));
    EXPECT_FALSE(model->holds->at(externalContrast).isExternal);
    EXPECT_EQ(model->source(externalContrast), "Manual hold");
    const std::time_t expiry = std::chrono::system_clock::to_time_t(executor.wallNow() + 5min);
    std::tm local{};
    localtime_r(&expiry, &local);
    char expected[32];
    std::strftime(expected, sizeof expected, "Held until %H:%M", &local);
    EXPECT_EQ(model->holdLabel(externalContrast), expected);
    executor.advance(299s);
    EXPECT_TRUE(model->holds->contains(externalContrast)) << "one tick before its expiry";
    executor.advance(1s);
    EXPECT_FALSE(model->holds->contains(externalContrast)) << "the tick at its expiry";
    EXPECT_FALSE(model->holdLabel(externalContrast));
    EXPECT_EQ(model->source(externalContrast), "Unmanaged") << "the plan follows at once";
    EXPECT_TRUE(model->manualOriginals->empty());
    EXPECT_TRUE(model->manualRecoveries->empty()) << "an expired hold leaves no recovery";
    EXPECT_EQ(model->now.get(), executor.wallNow());
}

TEST(HoldsTest, PollingReadsBackEveryThirdTickAndHoldsAnOutsideChange)
{
    HoldsWorld holdsWorld;
    const auto model = holdsWorld.loadedModel(true);
    const auto started = holdsWorld.pollingStarted.value();
    ManualExecutor& executor = holdsWorld.world.executor;
    const int readsAtStart = holdsWorld.controls.reads;

    executor.advance(started + 2s - executor.now());
    EXPECT_EQ(holdsWorld.controls.reads, readsAtStart);
    executor.advance(1s);
    EXPECT_EQ(holdsWorld.controls.reads, readsAtStart + 4) << "built-in controls, temperatures";
    model->configuration.modify([](Configuration& document) { document.automationEnabled = true; });
    holdsWorld.controls.values[externalTemperature] = kelvin(5000);
    executor.advance(3s);

    ASSERT_TRUE(model->holds->contains(externalTemperature));
    EXPECT_TRUE(model->holds->at(externalTemperature).isExternal);
    EXPECT_EQ(model->manualOriginals->at(externalTemperature), kelvin(6500));
    EXPECT_EQ(model->observed->at(externalTemperature), kelvin(5000));
}

TEST(HoldsTest, ReadBackDropsAValueThatAWriteOrSuspensionOverlapped)
{
    struct Case {
        const char* what;
        std::function<void(AppModel&)> duringRead;
        int reads = 4;
        bool builtinTemperatureRead = true;
        bool externalTemperatureRead = true;
        std::function<void(AppModel&)> before = [](AppModel&) {};
    };
    const Case cases[] = {
        {"nothing", [](AppModel&) {}},
        {"a write started", [](AppModel& m) { m.commandIDs.set({{builtinBrightness, UUID::random()}}); }},
        {"a write is applying", [](AppModel& m) { m.applying.set({{builtinBrightness, SettingValue::percent(0.2)}}); }},
        {"a restoration started", [](AppModel& m) { m.ruleEditRestorations.set({{builtinBrightness, spawn(idle())}}); }},
        {"a mode change started", [](AppModel& m) { m.modeBusy.set({builtinID}); }, 2, false},
        {"suspended", [](AppModel& m) { m.isSuspended.set(true); }, 1, false, false},
        {"applying before the pass", [](AppModel&) {}, 3, true, true,
            [](AppModel& m) { m.applying.set({{builtinBrightness, SettingValue::percent(0.2)}}); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        HoldsWorld holdsWorld;
        const auto model = holdsWorld.loadedModel();
        model->systemDisplayApplying.set(true); // reads start at once
        model->observed.set({});
        holdsWorld.controls.readFailures[builtinContrast] = "No reply";
        c.before(*model);
        const int readsBefore = holdsWorld.controls.reads;
        const TaskHandle pass = spawn(holdsWorld.world.executor, model->observeHardware());
        holdsWorld.world.executor.advance(5ms);
        c.duringRead(*model);
        holdsWorld.world.executor.advance(1s);

        EXPECT_TRUE(pass.isFinished());
        EXPECT_EQ(holdsWorld.controls.reads - readsBefore, c.reads);
        EXPECT_EQ(model->observed->contains(builtinBrightness), std::string(c.what) == "nothing");
        EXPECT_FALSE(model->observed->contains(builtinContrast)) << "a failed read is skipped";
        EXPECT_FALSE(model->controlStatus->contains(builtinContrast));
        EXPECT_FALSE(model->observed->contains(externalBrightness)) << "external DDC is not read";
        EXPECT_FALSE(model->observed->contains(externalContrast));
        EXPECT_EQ(model->observed->contains(builtinTemperature), c.builtinTemperatureRead);
        EXPECT_EQ(model->observed->contains(externalTemperature), c.externalTemperatureRead);
    }
}

TEST(HoldsTest, ResumeReleasesOneOrAllHoldsAndSwitchesAutomationOn)
{
    for (const bool all : {false, true}) {
        SCOPED_TRACE(all ? "all" : "one");
        HoldsWorld holdsWorld;
        const auto model = holdsWorld.loadedModel();
        model->configuration.modify([](Configuration& document) {
            document.automationEnabled = false;
        });
        model->holds.set({{externalContrast, ManualHold{.value = SettingValue::percent(0.3)}},
            {externalTemperature, ManualHold{.value = kelvin(5000), .isExternal = true}}});
        model->manualOriginals.set({{externalContrast, SettingValue::percent(0.5)}});
        model->failed.set({{builtinContrast, SettingValue::percent(0.1)}});
        holdsWorld.controls.values[externalContrast] = SettingValue::percent(0.3);
        model->keyQueue.modify([](BrightnessKeyAdjustmentQueue& queue) {
            (void)queue.enqueue(BrightnessKeyDirection::up, BrightnessKeyStep::five);
        });

        model->resume(all ? std::nullopt : std::optional(externalContrast));

        EXPECT_EQ(model->holds->contains(externalTemperature), !all);
        EXPECT_FALSE(model->holds->contains(externalContrast));
        EXPECT_EQ(model->manualRecoveries.get(),
            (std::map<ControlKey, SettingValue>{{externalContrast, SettingValue::percent(0.5)}}))
            << "a hold without an original leaves no recovery";
        EXPECT_TRUE(model->manualOriginals->empty());
        EXPECT_TRUE(model->failed->empty());
        EXPECT_EQ(model->keyQueue->pending().empty(), all) << "only Resume of all stops the keys";
        holdsWorld.world.executor.advance(1s);
        EXPECT_EQ(holdsWorld.controls.values.at(externalContrast), SettingValue::percent(0.5))
            << "the control goes back to where it was before the hold";
        EXPECT_TRUE(configurationIn(model->settingsURL).automationEnabled);
    }
}

TEST(HoldsTest, ResumeBeforeLoadingLeavesTheUsersFileAlone)
{
    HoldsWorld holdsWorld;
    Configuration written;
    written.holdMinutes = 5;
    {
        SettingsStore store(holdsWorld.world.defaultSettingsFile());
        (void)runToEnd(store.load());
        runToEnd(store.save(written));
    }
    AppModel::Options options = holdsWorld.options();
    options.startAutomatically = true;
    options.hardwareDiscovery = [] { return slowDiscovery(); };
    const auto model = AppModel::create(holdsWorld.world.environment(), std::move(options));
    model->holds.set({{externalContrast, ManualHold{.value = SettingValue::percent(0.3)}}});

    model->resume(std::nullopt);
    EXPECT_TRUE(model->holds->empty());
    holdsWorld.world.executor.advance(500ms);
    EXPECT_EQ(configurationIn(holdsWorld.world.defaultSettingsFile()), written)
        << "the file is read, and not yet written, while start-up waits for the hardware";
    holdsWorld.world.executor.advance(2s);

    ASSERT_TRUE(model->isLoaded.get());
    const Configuration inFile = configurationIn(holdsWorld.world.defaultSettingsFile());
    for (const Configuration& document : {model->configuration.get(), inFile}) {
        EXPECT_EQ(document.holdMinutes, 5);
        EXPECT_FALSE(document.automationEnabled);
    }
}

TEST(HoldsTest, AutomationOffKeepsHeldWritesRunningAndOnReleasesTheHolds)
{
    HoldsWorld holdsWorld;
    const auto model = holdsWorld.loadedModel();
    model->manual(SettingValue::percent(0.3), externalContrast, false);
    model->scheduleApply(kelvin(5000), externalTemperature, false);
    ASSERT_TRUE(model->tasks->contains(externalContrast));

    model->setAutomation(false);
    EXPECT_TRUE(model->tasks->contains(externalContrast)) << "the held write goes on";
    EXPECT_FALSE(model->tasks->contains(externalTemperature));
    holdsWorld.world.executor.advance(1s);
    EXPECT_EQ(holdsWorld.controls.values.at(externalContrast), SettingValue::percent(0.3));
    EXPECT_EQ(holdsWorld.controls.values.at(externalTemperature), kelvin(6500));
    EXPECT_TRUE(model->holds->contains(externalContrast));
    EXPECT_FALSE(configurationIn(model->settingsURL).automationEnabled);

    model->failed.set({{builtinContrast, SettingValue::percent(0.1)}});
    model->setAutomation(true);
    EXPECT_TRUE(model->holds->empty());
    EXPECT_EQ(model->manualRecoveries->at(externalContrast), SettingValue::percent(0.5));
    EXPECT_TRUE(model->failed->empty());
    holdsWorld.world.executor.advance(1s);
    EXPECT_TRUE(configurationIn(model->settingsURL).automationEnabled);
}

TEST(HoldsTest, ManualAndAutomationSwitchRefuseSilently)
{
    struct Case {
        const char* what;
        std::function<void(AppModel&)> arrange;
        ControlKey key = externalContrast;
        SettingValue value = SettingValue::percent(0.3);
        bool automationRefused = true;
    };
    const Case cases[] = {
        {"not loaded", [](AppModel& m) { m.isLoaded.set(false); }},
        {"settings error", [](AppModel& m) { m.settingsError.set("Broken"); }},
        {"display test", [](AppModel& m) { m.preview.set(DisplayPreview{.id = UUID::random()}); }},
        {"suspended", [](AppModel& m) { m.isSuspended.set(true); }, externalContrast,
            SettingValue::percent(0.3), false},
        {"mode key",
            [](AppModel& m) {
                m.hardwareSnapshot.modify([](HardwareSnapshot& snapshot) {
                    snapshot.capabilities.erase(keyOf(externalID, SettingKey::hdr));
                });
            },
            keyOf(externalID, SettingKey::hdr),
            SettingValue::toggle(true), false},
        {"mode change", [](AppModel& m) { m.modeBusy.set({externalID}); }, externalContrast,
            SettingValue::percent(0.3), false},
        {"rejected value", [](AppModel&) {}, externalContrast, SettingValue::percent(1.5), false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        HoldsWorld holdsWorld;
        const auto model = holdsWorld.loadedModel();
        c.arrange(*model);
        model->manual(c.value, c.key, false);
        model->setAutomation(false);
        EXPECT_TRUE(model->holds->empty());
        EXPECT_EQ(model->configuration->automationEnabled, c.automationRefused);
    }
}

TEST(HoldsTest, ReadBackRebuildsTheContextWhenWindowAccessChanged)
{
    HoldsWorld holdsWorld;
    const auto model = holdsWorld.loadedModel();
    ASSERT_TRUE(model->hasWindowAccess.get());
    holdsWorld.world.mac.accessibility.trusted = false;

    const TaskHandle pass = spawn(holdsWorld.world.executor, model->observeHardware());
    holdsWorld.world.executor.advance(1s);

    EXPECT_TRUE(pass.isFinished());
    EXPECT_FALSE(model->hasWindowAccess.get());
}

} // namespace
} // namespace quorvane
