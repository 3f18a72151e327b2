// Holds, saves, brightness keys and activation: behaviour the other tables pass over.
#include "Quorvane/AppModel.h"

#include "HoldsTestSupport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace quorvane {
namespace {

using namespace std::chrono_literals;
using namespace holdsfixture;

void ownBrightnessBySystem(AppModel& model, bool owned)
{
    model.systemDisplaySnapshot.set(
        {.values = {{SystemDisplayControl::automaticBrightness(builtinID), owned}}});
}

TEST(GuardedHoldsTest, AutomaticBrightnessTakesOverAMovedBuiltInBrightness)
{
    struct Case {
        const char* what;
        bool owned = true;
        SettingValue value = percent(0.6);
        bool applying = false;
        /// The hold left on the key: the user's 30 %, outside 60 % or none.
        std::optional<ManualHold> hold{};
    };
    const ManualHold users{.value = percent(0.3)};
    const Case cases[] = {
        {.what = "moved while owned"},
        {.what = "moved within the tolerance", .value = percent(0.425), .hold = users},
        {.what = "our own write running", .applying = true, .hold = users},
        {.what = "not owned: a change from outside",
            .owned = false,
            .hold = ManualHold{.value = percent(0.6), .isExternal = true}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        HoldsWorld w;
        const auto model = w.loadedModel();
        model->configuration.modify([](Configuration& document) { document.holdMinutes = 0; });
        ownBrightnessBySystem(*model, c.owned);
        model->observed.set({{builtinBrightness, percent(0.4)}});
        model->holds.set({{builtinBrightness, users}});
        model->manualOriginals.set({{builtinBrightness, percent(0.5)}});
        model->manualRecoveries.set({{builtinBrightness, percent(0.45)}});
        if (c.applying)
            model->applying.set({{builtinBrightness, percent(0.3)}});

        model->observe(c.value, builtinBrightness, true, false);

        const bool keeps = c.hold.has_value();
        EXPECT_EQ(model->holds->contains(builtinBrightness), keeps);
        if (keeps) {
            EXPECT_EQ(model->holds->at(builtinBrightness), *c.hold);
        }
        EXPECT_EQ(model->manualOriginals->contains(builtinBrightness), keeps);
        EXPECT_EQ(model->manualRecoveries->contains(builtinBrightness), keeps && c.owned)
            << "a hold from outside makes the recovery stale";
        EXPECT_EQ(model->observed->at(builtinBrightness), c.value);
        EXPECT_EQ(model->source(builtinBrightness) == "macOS automatic brightness", c.owned);
    }
}

TEST(GuardedHoldsTest, FailedSaveCancelsEveryRunningWriteHeldOnesIncluded)
{
    HoldsWorld w;
    const auto model = w.loadedModel();
    model->manual(percent(0.3), externalContrast, false);
    model->scheduleApply(kelvin(5000), externalTemperature, false);
    ASSERT_EQ(model->tasks->size(), 2U);

    // The store refuses 7 minutes.
    model->configuration.modify([](Configuration& document) { document.holdMinutes = 7; });
    model->persist();
    w.world.executor.advance(1s);

    EXPECT_TRUE(model->settingsError.get());
    EXPECT_TRUE(model->tasks->empty());
    EXPECT_EQ(w.controls.values.at(externalContrast), percent(0.5)) << "the held write stopped";
    EXPECT_EQ(w.controls.values.at(externalTemperature), kelvin(6500));
    EXPECT_TRUE(model->holds->contains(externalContrast)) << "the hold itself stays";
}

TEST(GuardedHoldsTest, ResumeAfterAChangeFromOutsideDrivesTheControlBackToTheValueBefore)
{
    HoldsWorld w;
    const auto model = w.loadedModel(true);
    ManualExecutor& executor = w.world.executor;
    // Nothing but the recovery decides the temperature.
    model->configuration.modify([](Configuration& document) {
        document.setDefaultSettings({});
        document.holdMinutes = 0;
    });
    executor.advance(*w.pollingStarted + 3s - executor.now());
    ASSERT_EQ(model->observed->at(externalTemperature), kelvin(6500));
    w.controls.values[externalTemperature] = kelvin(5000); // another program
    executor.advance(3s);
    ASSERT_EQ(model->holds->at(externalTemperature),
        (ManualHold{.value = kelvin(5000), .isExternal = true}));

    model->resume(externalTemperature);

    EXPECT_EQ(model->source(externalTemperature), "Before manual adjustment");
    executor.advance(1s);
    EXPECT_EQ(w.controls.values.at(externalTemperature), kelvin(6500));
    EXPECT_FALSE(model->holds->contains(externalTemperature));
}

TEST(GuardedHoldsTest, BurstReadWithoutAPercentageEmptiesTheQueueForAFreshBurst)
{
    HoldsWorld w;
    const auto model = w.loadedModel();
    w.controls.values[builtinBrightness] = kelvin(6500); // a backend answering the wrong kind
    ASSERT_TRUE(model->brightnessKeyPressed(BrightnessKeyDirection::up));
    ASSERT_TRUE(model->brightnessKeyPressed(BrightnessKeyDirection::up));
    w.world.executor.advance(10ms);

    EXPECT_FALSE(model->keyReadTask.get());
    EXPECT_TRUE(model->keyQueue->pending().empty() && !model->keyQueue->target());
    EXPECT_FALSE(model->holds->contains(builtinBrightness));
    EXPECT_TRUE(model->failed->empty()) << "a read that answered is no failure";

    w.controls.values[builtinBrightness] = percent(0.4);
    EXPECT_TRUE(model->brightnessKeyPressed(BrightnessKeyDirection::up));
    EXPECT_TRUE(model->keyReadTask.get()) << "the next press reads again";
    w.world.executor.advance(10ms);
    EXPECT_EQ(model->holds->at(builtinBrightness).value, percent(0.45));
}

TEST(GuardedHoldsTest, ActivationRewritesWhatSeemsInPlaceAndRebuildsTheContext)
{
    HoldsWorld w;
    const auto model = w.loadedModel();
    model->configuration.modify([](Configuration& document) {
        DefaultSettings defaults;
        defaults.setValue(percent(0.5), externalContrast);
        document.setDefaultSettings(defaults);
    });
    model->observed.set({{externalContrast, percent(0.5)}});
    model->resolveAndApply(false);
    w.world.executor.advance(1s);
    ASSERT_TRUE(w.controls.writes.empty()) << "the control seems to show the value already";
    w.controls.values[externalContrast] = percent(0.8); // unnoticed: contrast is not read back
    model->context.modify(
        [](RuntimeContext& context) { context.appBundleID = "com.example.stale"; });

    model->activateProfile(model->configuration->defaultProfileID);

    EXPECT_EQ(model->context->appBundleID, std::nullopt) << "the frontmost application is read";
    w.world.executor.advance(1s);
    EXPECT_EQ(w.controls.writes,
        (std::vector<std::pair<ControlKey, SettingValue>>{{externalContrast, percent(0.5)}}))
        << "rewritten, as a recheck does";
}

} // namespace
} // namespace quorvane
