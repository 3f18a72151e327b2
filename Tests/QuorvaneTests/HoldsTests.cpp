#include "Quorvane/AppModel.h"

#include "HoldsTestSupport.h"

#include <gtest/gtest.h>

#include <ctime>
#include <functional>
#include <map>
#include <ranges>
#include <set>
#include <string_view>
#include <tuple>
#include <vector>

namespace quorvane {
namespace {

using namespace std::chrono_literals;
using namespace holdsfixture;

using Arrange = std::function<void(AppModel&)>;
using Values = std::map<ControlKey, SettingValue>;
constexpr auto up = BrightnessKeyDirection::up;

Task<void> idle() { co_await sleep(1h); }

template <typename Map> std::set<ControlKey> keysOf(const Map& map)
{
    std::set<ControlKey> keys;
    for (const auto& entry : map)
        keys.insert(entry.first);
    return keys;
}

TEST(HoldsTest, OnlyARealChangeFromOutsideBecomesAHold)
{
    struct Case {
        const char* what;
        ControlKey key = externalContrast;
        std::optional<SettingValue> previous = percent(0.1);
        SettingValue value = percent(0.126);
        std::optional<std::chrono::milliseconds> sinceOwnWrite{};
        std::optional<SettingValue> heldSince{};
        bool detectExternal = true, confirmedExternal = false, automation = true;
        bool applying = false, modeBusy = false, becomesHold = true;
    };
    const Case cases[] = {
        {.what = "more than the tolerance"},
        {.what = "within the tolerance", .value = percent(0.125), .becomesHold = false},
        {.what = "first read", .previous = std::nullopt, .becomesHold = false},
        {.what = "just after our write", .sinceOwnWrite = 1500ms, .becomesHold = false},
        {.what = "well after our write", .sinceOwnWrite = 1501ms},
        {.what = "automation off", .automation = false, .becomesHold = false},
        {.what = "not looking for outside changes", .detectExternal = false, .becomesHold = false},
        {.what = "our write running", .applying = true, .becomesHold = false},
        {.what = "mode change running", .modeBusy = true, .becomesHold = false},
        {.what = "confirmed without a change", .previous = std::nullopt, .confirmedExternal = true},
        {.what = "held already", .heldSince = percent(0.2)},
        {.what = "temperature",
            .key = externalTemperature,
            .previous = kelvin(6500),
            .value = kelvin(6490)},
        {.what = "built-in brightness", .key = builtinBrightness},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        HoldsWorld w;
        const auto model = w.loadedModel();
        model->configuration.modify([&](Configuration& document) {
            document.automationEnabled = c.automation;
            document.holdMinutes = 0;
        });
        if (c.previous)
            model->observed.set({{c.key, *c.previous}});
        if (c.sinceOwnWrite)
            model->lastWrite.set({{c.key, w.world.executor.wallNow() - *c.sinceOwnWrite}});
        if (c.applying)
            model->applying.set({{c.key, c.value}});
        if (c.modeBusy)
            model->modeBusy.set({c.key.target.id()});
        if (c.heldSince) {
            model->holds.set({{c.key, ManualHold{.value = *c.previous}}});
            model->manualOriginals.set({{c.key, *c.heldSince}});
        }
        model->manualRecoveries.set({{c.key, percent(0.9)}});
        // Confirmed as written: a read-back that does not match drops the confirmation.
        const SettingValue confirmed = c.previous.value_or(percent(0.1260001));
        model->confirmedApplications.set(
            {{c.key, {.requested = confirmed, .observed = confirmed}}});

        model->observe(c.value, c.key, c.detectExternal, c.confirmedExternal);

        EXPECT_EQ(model->observed->at(c.key), c.value);
        EXPECT_EQ(model->confirmedApplications->contains(c.key), !c.previous);
        EXPECT_EQ(model->holds->contains(c.key), c.becomesHold);
        if (!c.becomesHold)
            continue;
        EXPECT_EQ(model->holds->at(c.key), (ManualHold{.value = c.value, .isExternal = true}));
        EXPECT_EQ(model->controlStatus->at(c.key), "Changed outside QuorVane");
        const auto original = c.heldSince ? c.heldSince : c.previous;
        EXPECT_EQ(model->manualOriginals.get(), (original ? Values{{c.key, *original}} : Values{}));
        EXPECT_TRUE(model->manualRecoveries->empty()) << "a new hold makes the recovery stale";
    }
}

TEST(HoldsTest, PollingReadsBackEveryThirdTickAndEndsHoldsOnTime)
{
    HoldsWorld w;
    const auto model = w.loadedModel(true);
    ManualExecutor& executor = w.world.executor;
    const int readsAtStart = w.controls.reads;
    model->configuration.modify([](Configuration& document) { document.holdMinutes = 5; });
    w.world.mac.accessibility.trusted = false;

    executor.advance(w.pollingStarted.value() + 2s - executor.now());
    EXPECT_EQ(w.controls.reads, readsAtStart);
    EXPECT_TRUE(model->hasWindowAccess.get());
    executor.advance(1s);
    EXPECT_EQ(w.controls.reads, readsAtStart + 4) << "built-in controls, temperatures";
    EXPECT_FALSE(model->hasWindowAccess.get()) << "the read-back rebuilds the context";
    w.controls.values[externalTemperature] = kelvin(5000);
    executor.advance(3s);
    EXPECT_TRUE(model->holds->at(externalTemperature).isExternal);
    EXPECT_EQ(model->manualOriginals.get(), (Values{{externalTemperature, kelvin(6500)}}));

    executor.advance(4s);
    model->manual(percent(0.3), externalContrast, false);
    model->manualOriginals.modify(
        [](Values& originals) { originals[externalContrast] = percent(0.5); });
    EXPECT_FALSE(model->holds->at(externalContrast).isExternal);
    EXPECT_EQ(model->source(externalContrast), "Manual hold");
    const std::time_t expiry = std::chrono::system_clock::to_time_t(executor.wallNow() + 5min);
    std::tm local{};
    localtime_r(&expiry, &local);
    char expected[32];
    std::strftime(expected, sizeof expected, "Held until %H:%M", &local);
    EXPECT_EQ(model->holdLabel(externalContrast), expected);
    executor.advance(299s);
    EXPECT_EQ(keysOf(model->holds.get()), std::set{externalContrast}) << "a tick before its end";
    executor.advance(1s);
    EXPECT_FALSE(model->holdLabel(externalContrast)) << "the tick at its end";
    EXPECT_EQ(model->source(externalContrast), "Unmanaged") << "the plan follows at once";
    EXPECT_TRUE(model->manualOriginals->empty() && model->manualRecoveries->empty());
    EXPECT_EQ(model->now.get(), executor.wallNow());
}

TEST(HoldsTest, ReadBackDropsAValueThatAWriteOrSuspensionOverlapped)
{
    struct Case {
        const char* what;
        int reads;
        std::set<ControlKey> observed;
        Arrange arrange;
        bool beforePass = false;
    };
    const auto applying = [](AppModel& m) { m.applying.set({{builtinBrightness, percent(0.2)}}); };
    const std::set<ControlKey> both{builtinTemperature, externalTemperature};
    // External brightness and contrast are never read back; the built-in contrast read fails.
    const Case cases[] = {
        {"nothing", 4, {builtinBrightness, builtinTemperature, externalTemperature}, [](auto&) {}},
        {"write started", 4, both,
            [](AppModel& m) {
                m.commandIDs.set({{builtinBrightness, UUID::random()}});
            }},
        {"write applying", 4, both, applying},
        {"restoration", 4, both,
            [](AppModel& m) {
                m.ruleEditRestorations.set({{builtinBrightness, spawn(idle())}});
            }},
        {"mode change", 2, {externalTemperature}, [](AppModel& m) { m.modeBusy.set({builtinID}); }},
        {"suspended", 1, {}, [](AppModel& m) { m.isSuspended.set(true); }},
        {"applying before the pass", 3, both, applying, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        HoldsWorld w;
        const auto model = w.loadedModel();
        model->systemDisplayApplying.set(true); // reads start at once
        model->observed.set({});
        w.controls.readFailures[builtinContrast] = "No reply";
        if (c.beforePass)
            c.arrange(*model);
        const int readsBefore = w.controls.reads;
        const TaskHandle pass = spawn(w.world.executor, model->observeHardware());
        w.world.executor.advance(5ms);
        if (!c.beforePass)
            c.arrange(*model);
        w.world.executor.advance(1s);

        EXPECT_TRUE(pass.isFinished());
        EXPECT_EQ(w.controls.reads - readsBefore, c.reads);
        EXPECT_EQ(keysOf(model->observed.get()), c.observed);
    }
}

TEST(HoldsTest, ResumeAndAutomationOnReleaseHoldsIntoRecoveries)
{
    const std::tuple<const char*, std::function<void(AppModel&)>, bool> cases[] = {
        {"resume one", [](AppModel& m) { m.resume(externalContrast); }, false},
        {"resume all", [](AppModel& m) { m.resume(std::nullopt); }, true},
        {"automation on", [](AppModel& m) { m.setAutomation(true); }, true},
    };
    for (const auto& [what, release, all] : cases) {
        SCOPED_TRACE(what);
        HoldsWorld w;
        const auto model = w.loadedModel();
        model->configuration.modify(
            [](Configuration& document) { document.automationEnabled = false; });
        model->holds.set({{externalContrast, ManualHold{.value = percent(0.3)}},
            {externalTemperature, ManualHold{.value = kelvin(5000), .isExternal = true}}});
        model->manualOriginals.set({{externalContrast, percent(0.5)}});
        model->failed.set({{builtinContrast, percent(0.1)}});
        w.controls.values[externalContrast] = percent(0.3);
        model->keyQueue.modify(
            [](auto& queue) { (void)queue.enqueue(up, BrightnessKeyStep::five); });

        release(*model);

        EXPECT_EQ(keysOf(model->holds.get()),
            all ? std::set<ControlKey>{} : std::set{externalTemperature});
        EXPECT_EQ(model->manualRecoveries.get(), (Values{{externalContrast, percent(0.5)}}))
            << "a hold without an original leaves no recovery";
        EXPECT_TRUE(model->manualOriginals->empty() && model->failed->empty());
        EXPECT_EQ(model->keyQueue->pending().empty(), all) << "releasing one hold leaves the keys";
        w.world.executor.advance(1s);
        EXPECT_EQ(w.controls.values.at(externalContrast), percent(0.5))
            << "the control goes back to where it was before the hold";
        EXPECT_TRUE(configurationIn(model->settingsURL).automationEnabled);
    }
}

TEST(HoldsTest, AHoldEndsWithoutRecoveryWhenItsScreenNoLongerOffersItsValue)
{
    const ControlKey refresh = keyOf(externalID, SettingKey::refreshRate);
    const auto rates = [](std::vector<std::int64_t> hertz) {
        ControlCapability offered{.available = true};
        for (const std::int64_t rate : hertz)
            offered.choices.push_back(SettingValue::refresh(RefreshPreference::fixed(rate * 1000)));
        return offered;
    };
    const SettingValue held = rates({50}).choices.front();
    struct Case {
        const char* what;
        ControlKey key;
        SettingValue value;
        std::optional<ControlCapability> capability;
        bool ends, modeChanging = false;
    };
    const Case cases[] = {
        {"a rate the new resolution lacks", refresh, held, rates({60}), true},
        {"a rate still offered", refresh, held, rates({50, 60}), false},
        {"while the mode changes", refresh, held, rates({60}), false, true},
        {"HDR no longer offered", keyOf(externalID, SettingKey::hdr), SettingValue::toggle(true),
            ControlCapability{.available = true, .choices = {SettingValue::toggle(false)}}, true},
        // Like a screen that is away, a control that cannot be read for a while keeps its hold.
        {"HDR unreadable for a while", keyOf(externalID, SettingKey::hdr),
            SettingValue::toggle(true), ControlCapability{}, false},
        {"brightness unreadable for a while", externalBrightness, percent(0.3),
            ControlCapability{.reason = "The monitor did not answer."}, false},
        {"screen disconnected", refresh, held, std::nullopt, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        HoldsWorld w;
        const auto model = w.loadedModel();
        model->holds.set(
            {{c.key, {.value = c.value}}, {externalContrast, {.value = percent(0.3)}}});
        model->manualOriginals.set({{c.key, c.value}, {externalContrast, percent(0.5)}});
        model->hardwareSnapshot.modify([&](HardwareSnapshot& snapshot) {
            snapshot.capabilities.erase(c.key);
            if (c.capability)
                snapshot.capabilities.emplace(c.key, *c.capability);
        });
        model->modeBusy.set(c.modeChanging ? std::set{externalID} : std::set<std::string>{});

        model->resolveAndApply(false);

        const auto kept = c.ends ? std::set{externalContrast} : std::set{externalContrast, c.key};
        EXPECT_EQ(keysOf(model->holds.get()), kept);
        EXPECT_EQ(keysOf(model->manualOriginals.get()), kept);
        EXPECT_TRUE(model->manualRecoveries->empty()) << "nothing to put back";
    }
}

TEST(HoldsTest, ResumeBeforeLoadingLeavesTheUsersFileAlone)
{
    HoldsWorld w;
    const auto model = w.world.idleModel(w.options());
    model->holds.set({{externalContrast, ManualHold{.value = percent(0.3)}}});

    model->resume(std::nullopt);
    w.world.executor.advance(1s);

    EXPECT_TRUE(model->holds->empty());
    EXPECT_FALSE(model->configuration->automationEnabled) << "the default document is kept as is";
    EXPECT_FALSE(contentsOf(w.world.defaultSettingsFile())) << "and not written over the user's";
}

TEST(HoldsTest, AutomationOffKeepsHeldWritesRunning)
{
    HoldsWorld w;
    const auto model = w.loadedModel();
    model->manual(percent(0.3), externalContrast, false);
    model->scheduleApply(kelvin(5000), externalTemperature, false);
    ASSERT_TRUE(model->tasks->contains(externalContrast));

    model->setAutomation(false);
    EXPECT_EQ(keysOf(model->tasks.get()), std::set{externalContrast}) << "the held write goes on";
    w.world.executor.advance(1s);
    EXPECT_EQ(w.controls.values.at(externalContrast), percent(0.3));
    EXPECT_EQ(w.controls.values.at(externalTemperature), kelvin(6500));
    EXPECT_TRUE(model->holds->contains(externalContrast));
    EXPECT_FALSE(configurationIn(model->settingsURL).automationEnabled);
}

TEST(HoldsTest, SliderAutomationSwitchAndBrightnessKeysFollowTheModelsState)
{
    using enum BrightnessKeyStatus;
    const auto snapshot = [](std::function<void(HardwareSnapshot&)> change) {
        return [change](AppModel& m) { m.hardwareSnapshot.modify(change); };
    };
    const ControlKey hdr = keyOf(builtinID, SettingKey::hdr);
    static constexpr auto keysOff = [](Configuration& d) { d.brightnessKeysEnabled = false; };
    // What each row lets through: the Slider, the Automation switch, the brightness Key.
    const std::tuple<const char*, std::string_view, BrightnessKeyStatus, Arrange> cases[] = {
        {"not loaded", "", off, [](AppModel& m) { m.isLoaded.set(false); }},
        {"settings error", "", off, [](AppModel& m) { m.settingsError.set("Broken"); }},
        {"display test", "", active, [](AppModel& m) { m.preview.set(DisplayPreview{}); }},
        {"suspended", "A", unavailable, [](AppModel& m) { m.isSuspended.set(true); }},
        {"mode change", "A", active, [](AppModel& m) { m.modeBusy.set({builtinID}); }},
        {"mode key", "AK", active, snapshot([&](auto& s) { s.capabilities.erase(hdr); })},
        {"rejected value", "AK", active, [](AppModel&) {}},
        {"no permission", "SAK", needsPermission, [](AppModel&) {}},
        {"keys off", "SA", off, [](AppModel& m) { m.configuration.modify(keysOff); }},
        {"no built-in display", "SA", unavailable,
            [](AppModel& m) { m.displays.set({holdsHardware().displays[1]}); }},
        {"brightness unavailable", "SA", unavailable,
            snapshot([](auto& s) { s.capabilities[builtinBrightness].available = false; })},
        {"no brightness capability", "SA", unavailable,
            snapshot([](auto& s) { s.capabilities.erase(builtinBrightness); })},
        {"failed", "SA", active,
            [](AppModel& m) {
                m.failed.set({{builtinBrightness, percent(0.4)}});
            }},
    };
    for (const auto& [what, accepted, status, arrange] : cases) {
        SCOPED_TRACE(what);
        const std::string_view row = what, allowed = accepted;
        const auto lets = [allowed](char c) { return allowed.find(c) != std::string_view::npos; };
        const ControlKey key = row == "mode key" ? hdr : builtinContrast;
        HoldsWorld w;
        const auto model = w.loadedModel();
        w.world.mac.accessibility.trusted = row != "no permission";
        arrange(*model);
        model->keyQueue.modify(
            [](auto& queue) { (void)queue.enqueue(up, BrightnessKeyStep::five); });

        model->updateBrightnessKeys();
        EXPECT_EQ(model->brightnessKeyStatus.get(), status);
        EXPECT_EQ(model->brightnessKeys().status() == active, status == active);
        EXPECT_EQ(model->keyQueue->pending().empty(), status == off) << "keys off drop the presses";
        EXPECT_EQ(model->brightnessKeyPressed(up), lets('K'));
        model->manual(row == "mode key" ? SettingValue::toggle(true)
                                        : percent(row == "rejected value" ? 1.5 : 0.3),
            key, false);
        EXPECT_EQ(model->holds->contains(key), lets('S'));
        model->setAutomation(false);
        EXPECT_EQ(model->configuration->automationEnabled, !lets('A'));
    }
}

} // namespace
} // namespace quorvane
