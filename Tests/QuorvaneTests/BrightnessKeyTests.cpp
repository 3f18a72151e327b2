#include "Quorvane/AppModel.h"

#include "HoldsTestSupport.h"

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace quorvane {
namespace {

using namespace std::chrono_literals;
using namespace holdsfixture;

constexpr auto up = BrightnessKeyDirection::up;

Task<void> waitedContextRun() { co_return; }

TEST(BrightnessKeyTest, BurstReadsOnceAndWritesTheFoldedTarget)
{
    HoldsWorld w;
    const auto model = w.loadedModel();
    const int readsBefore = w.controls.reads;
    ASSERT_TRUE(model->scheduler().schedule(RuntimeContext{.appBundleID = "com.example.other"}, 300,
        true, [] { return waitedContextRun(); }));

    EXPECT_TRUE(model->brightnessKeyPressed(up));
    EXPECT_FALSE(model->scheduler().isWaiting()) << "a burst holds automatic work back";
    w.world.executor.advance(5ms);
    EXPECT_TRUE(model->brightnessKeyPressed(up) && model->brightnessKeyPressed(up));
    EXPECT_TRUE(model->keyReadTask.get());
    EXPECT_EQ(w.controls.reads, readsBefore + 1);
    w.world.executor.advance(5ms);

    EXPECT_FALSE(model->keyReadTask.get());
    EXPECT_EQ(model->holds->at(builtinBrightness).value, percent(0.55));
    EXPECT_EQ(model->keyQueue->target(), 0.55);
    w.world.executor.advance(1s);
    EXPECT_EQ(w.controls.writes,
        (std::vector<std::pair<ControlKey, SettingValue>>{{builtinBrightness, percent(0.55)}}));
}

TEST(BrightnessKeyTest, KnownTargetMovesAtOnce)
{
    HoldsWorld w;
    const auto model = w.loadedModel();
    model->keyQueue.modify([](auto& queue) {
        (void)queue.enqueue(up, BrightnessKeyStep::one);
        (void)queue.resolve(0.49);
    });

    EXPECT_TRUE(model->brightnessKeyPressed(BrightnessKeyDirection::down));
    EXPECT_FALSE(model->keyReadTask.get());
    EXPECT_EQ(model->holds->at(builtinBrightness).value, percent(0.45));
}

TEST(BrightnessKeyTest, InterruptedOrFailedReadEndsTheBurst)
{
    const std::pair<const char*, std::function<void(AppModel&)>> cases[] = {
        {"suspended", [](AppModel& m) { m.isSuspended.set(true); }},
        {"display test", [](AppModel& m) { m.preview.set(DisplayPreview{}); }},
        {"built-in display gone",
            [](AppModel& m) { m.displays.set({holdsHardware().displays[1]}); }},
        {"mode change", [](AppModel& m) { m.modeBusy.set({builtinID}); }},
        {"slider moved", [](AppModel& m) { m.manual(percent(0.7), builtinContrast, false); }},
        {"read fails", [](AppModel&) {}},
    };
    for (const auto& [what, duringRead] : cases) {
        SCOPED_TRACE(what);
        const bool fails = std::string(what) == "read fails";
        HoldsWorld w;
        const auto model = w.loadedModel();
        model->observed.set({{builtinBrightness, percent(0.35)}});
        if (fails)
            w.controls.readFailures[builtinBrightness] = "No reply";
        ASSERT_TRUE(model->brightnessKeyPressed(up) && model->brightnessKeyPressed(up));
        w.world.executor.advance(5ms);
        duringRead(*model);
        w.world.executor.advance(10ms);

        EXPECT_FALSE(model->keyReadTask.get());
        EXPECT_TRUE(model->keyQueue->pending().empty() && !model->keyQueue->target());
        EXPECT_FALSE(model->holds->contains(builtinBrightness));
        using Values = std::map<ControlKey, SettingValue>;
        EXPECT_EQ(
            model->failed.get(), (fails ? Values{{builtinBrightness, percent(0.35)}} : Values{}));
        if (fails) {
            EXPECT_EQ(model->controlStatus->at(builtinBrightness), "No reply");
            EXPECT_FALSE(model->brightnessKeyPressed(up)) << "a failed key passes to the system";
        }
    }
}

TEST(BrightnessKeyTest, ReadTheBackendGaveUpIsAFailedRead)
{
    HoldsWorld w;
    const auto model = w.loadedModel();
    model->observed.set({{builtinBrightness, percent(0.35)}});
    w.controls.givenUpReads.insert(builtinBrightness);
    ASSERT_TRUE(model->brightnessKeyPressed(up));
    w.world.executor.advance(10ms);

    EXPECT_FALSE(model->keyReadTask.get()) << "a read left pending blocks automatic writes";
    EXPECT_EQ(model->failed->at(builtinBrightness), percent(0.35));
    EXPECT_EQ(model->controlStatus->at(builtinBrightness), "The operation was cancelled.");
    EXPECT_TRUE(model->keyQueue->pending().empty());
    EXPECT_FALSE(model->brightnessKeyPressed(up)) << "the press is not swallowed";
}

TEST(BrightnessKeyTest, DemoLeavesTheKeysToTheSystem)
{
    HoldsWorld w;
    AppModel::Options options = w.options();
    options.simulation = true;
    const auto model = w.world.idleModel(std::move(options));
    model->isLoaded.set(true);
    model->hardwareSnapshot.set(holdsHardware().snapshot);
    model->displays.set(holdsHardware().displays);
    model->configuration.modify([](Configuration& d) { d.brightnessKeysEnabled = true; });

    model->updateBrightnessKeys();

    EXPECT_EQ(model->brightnessKeyStatus.get(), BrightnessKeyStatus::off);
    EXPECT_NE(model->brightnessKeys().status(), BrightnessKeyStatus::active);
}

} // namespace
} // namespace quorvane
