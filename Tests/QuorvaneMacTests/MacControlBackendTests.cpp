#include "MacControlBackendTestSupport.h"

#include "QuorvaneMac/SoftwareColorState.h"
#include "SimulatedMac/SimulatedGamma.h"

#include <vector>

namespace quorvane::testing {
namespace {

using Call = SimulatedDisplayServices::Call;

struct MacControlBackendTest : BackendFixture {
    MacControlBackendTest()
    {
        makeBackend();
        (void)discover();
    }

    GammaTableSet tablesOn(DisplayNumber number)
    {
        const GammaTable& table = display(number).gamma;
        if (table.red.empty())
            return tablesOf(identityGammaTable(display(number).gammaCapacity));
        return tablesOf(table);
    }
    static GammaTableSet tablesOf(const GammaTable& table)
    {
        return {table.red, table.green, table.blue};
    }
    static GammaTableSet warmed(const GammaTableSet& baseline, std::int64_t kelvin)
    {
        return SoftwareColorState{.baseline = baseline,
            .applied = std::nullopt,
            .temperature = Temperature::kelvin(kelvin),
            .contrast = 0.5}
            .transformed();
    }
    VCPFeature& ddcFeature(std::uint8_t code)
    {
        return monitors->monitor(externalID)->features.at(code);
    }
};

TEST_F(MacControlBackendTest, ReadsEachSettingThroughItsDisplaysMechanism)
{
    struct Case {
        const char* id;
        SettingKey setting;
        std::string outcome;
    };
    const Case cases[] = {
        {builtInID, SettingKey::brightness, "75%"},
        {externalID, SettingKey::brightness, "50%"},
        {builtInID, SettingKey::contrast, "50%"},
        {externalID, SettingKey::contrast, "70%"},
        {builtInID, SettingKey::temperature, "Neutral"},
        {externalID, SettingKey::temperature, "Neutral"},
        {builtInID, SettingKey::hdr, "HDR unavailable"},
        {externalID, SettingKey::hdr, "Off"},
        {builtInID, SettingKey::refreshRate, "60 Hz"},
        {externalID, SettingKey::refreshRate, "60 Hz"},
        {"00000000-0000-0000-0000-000000000000", SettingKey::brightness, "Display disconnected"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.id) + " " + std::string(rawValue(c.setting)));
        EXPECT_EQ(readOutcome(c.id, c.setting), c.outcome);
    }
    // Only the built-in panel was asked natively, once at discovery and once now.
    EXPECT_EQ(panels->calls.size(), 3u);
}

TEST_F(MacControlBackendTest, WritesBrightnessAndContrastByTheirRoutes)
{
    EXPECT_EQ(writeOutcome(builtInID, SettingKey::brightness, SettingValue::percent(0.4)), "done");
    EXPECT_FLOAT_EQ(panels->brightness.at(builtInID), 0.4f);
    EXPECT_EQ(writeOutcome(externalID, SettingKey::brightness, SettingValue::percent(0.3)), "done");
    EXPECT_EQ(ddcFeature(0x10).current, 30);
    EXPECT_EQ(writeOutcome(externalID, SettingKey::contrast, SettingValue::percent(0.25)), "done");
    EXPECT_EQ(ddcFeature(0x12).current, 25);
    EXPECT_EQ(ddcFeature(0x10).current, 30);

    EXPECT_EQ(writeOutcome(builtInID, SettingKey::contrast, SettingValue::percent(1)), "done");
    const GammaTableSet identity = tablesOf(identityGammaTable(1024));
    const GammaTableSet steeper
        = SoftwareColorState{.baseline = identity, .applied = std::nullopt, .contrast = 1}
              .transformed();
    EXPECT_TRUE(SoftwareColorState::tablesEqual(tablesOn(1), steeper));
    EXPECT_FALSE(SoftwareColorState::tablesEqual(tablesOn(1), identity));
    EXPECT_EQ(readOutcome(builtInID, SettingKey::contrast), "100%");
}

TEST_F(MacControlBackendTest, RefusesInvalidValuesAndModeSettings)
{
    const std::string preview = "Display mode changes require a verified preview";
    struct Case {
        const char* id;
        SettingKey setting;
        SettingValue value;
        std::string error;
    };
    const Case cases[] = {
        {externalID, SettingKey::brightness, SettingValue::percent(1.2), "Invalid setting value"},
        {externalID, SettingKey::brightness, SettingValue::toggle(true), "Invalid setting value"},
        {externalID, SettingKey::contrast, SettingValue::percent(-0.1), "Invalid setting value"},
        // The value is judged before the display is looked up.
        {"unknown", SettingKey::brightness, SettingValue::percent(2), "Invalid setting value"},
        {"unknown", SettingKey::brightness, SettingValue::percent(0.5), "Display disconnected"},
        {externalID, SettingKey::hdr, SettingValue::toggle(true), preview},
        {externalID, SettingKey::refreshRate,
            SettingValue::refresh(RefreshPreference::fixed(60'000)), preview},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.error + " " + c.value.label());
        EXPECT_EQ(writeOutcome(c.id, c.setting, c.value), c.error);
    }
    EXPECT_EQ(hdr->messages, std::vector<std::string>{});
}

TEST_F(MacControlBackendTest, BuiltInBrightnessUnreadableAtDiscoveryGoesTheDDCWay)
{
    panels->readStatus = 5;
    (void)discover();
    panels->readStatus = 0;
    const std::string refusal = "DDC requires an external monitor.";
    EXPECT_EQ(readOutcome(builtInID, SettingKey::brightness), refusal);
    EXPECT_EQ(writeOutcome(builtInID, SettingKey::brightness, SettingValue::percent(0.2)), refusal);
    EXPECT_FLOAT_EQ(panels->brightness.at(builtInID), 0.75f);

    // An external display whose panel answered natively is dimmed natively, not over DDC/CI.
    panels->brightness[externalID] = 0.6f;
    (void)discover();
    EXPECT_EQ(writeOutcome(externalID, SettingKey::brightness, SettingValue::percent(0.2)), "done");
    EXPECT_FLOAT_EQ(panels->brightness.at(externalID), 0.2f);
    EXPECT_EQ(ddcFeature(0x10).current, 50);
}

TEST_F(MacControlBackendTest, WarmthIsAppliedOnTopOfTheBaselineAndReadBack)
{
    EXPECT_EQ(writeOutcome(externalID, SettingKey::temperature,
                  SettingValue::temperature(Temperature::kelvin(3000))),
        "done");
    EXPECT_TRUE(SoftwareColorState::tablesEqual(tablesOn(2), warmed(tablesOn(1), 3000)));
    EXPECT_EQ(readOutcome(externalID, SettingKey::temperature), "3000 K");
    // Contrast 0.5 on an untouched built-in display applies the baseline itself.
    EXPECT_EQ(writeOutcome(builtInID, SettingKey::contrast, SettingValue::percent(0.5)), "done");
    EXPECT_EQ(tablesOn(1), tablesOf(identityGammaTable(1024)));
    EXPECT_EQ(readOutcome(builtInID, SettingKey::temperature), "Neutral");
}

TEST_F(MacControlBackendTest, TablesAnotherProgramWroteBecomeTheBaseline)
{
    EXPECT_EQ(writeOutcome(builtInID, SettingKey::temperature,
                  SettingValue::temperature(Temperature::kelvin(3000))),
        "done");
    EXPECT_EQ(writeOutcome(builtInID, SettingKey::contrast, SettingValue::percent(0.8)), "done");
    GammaTable foreign = identityGammaTable(1024);
    for (float& entry : foreign.red)
        entry *= 0.9f;
    writeGammaFromAnotherProgram(mac.world, builtInID, foreign);

    EXPECT_EQ(readOutcome(builtInID, SettingKey::temperature), "Neutral");
    EXPECT_EQ(readOutcome(builtInID, SettingKey::contrast), "50%");
    EXPECT_EQ(tablesOn(1), tablesOf(foreign));
    EXPECT_EQ(writeOutcome(builtInID, SettingKey::temperature,
                  SettingValue::temperature(Temperature::kelvin(5000))),
        "done");
    EXPECT_TRUE(SoftwareColorState::tablesEqual(tablesOn(1), warmed(tablesOf(foreign), 5000)));
}

TEST_F(MacControlBackendTest, AGammaWriteThatDoesNotReadBackIsUndone)
{
    const SettingValue warm = SettingValue::temperature(Temperature::kelvin(3000));
    ASSERT_EQ(writeOutcome(builtInID, SettingKey::temperature, warm), "done");
    const GammaTableSet before = tablesOn(1);
    // Only the next write is kept wrongly; the undo after it lands as written.
    display(1).gammaAsStored = [&](GammaTable table) {
        for (float& entry : table.blue)
            entry += 0.004f;
        display(1).gammaAsStored = nullptr;
        return table;
    };
    EXPECT_EQ(writeOutcome(builtInID, SettingKey::contrast, SettingValue::percent(0.9)),
        "Color transform readback failed");
    EXPECT_EQ(tablesOn(1), before);
    EXPECT_EQ(readOutcome(builtInID, SettingKey::temperature), "3000 K");
    EXPECT_EQ(readOutcome(builtInID, SettingKey::contrast), "50%");

    // The readback itself fails: the previous tables go back all the same.
    display(1).gammaAsStored = [&](GammaTable table) {
        display(1).reportedGammaSampleCount = 0;
        display(1).gammaAsStored = nullptr;
        return table;
    };
    EXPECT_EQ(writeOutcome(builtInID, SettingKey::contrast, SettingValue::percent(0.9)),
        "Color transfer table read failed");
    display(1).reportedGammaSampleCount.reset();
    EXPECT_EQ(tablesOn(1), before);
    EXPECT_EQ(readOutcome(builtInID, SettingKey::temperature), "3000 K");
}

TEST_F(MacControlBackendTest, WarmthIsRefusedWhereGammaCannotBeTrusted)
{
    const SettingValue warm = SettingValue::temperature(Temperature::kelvin(3000));
    const std::string unverified
        = "Warmth is unverified on external HDR or extended-range displays";
    struct Case {
        const char* name;
        DisplayNumber number;
        void (*change)(MacControlBackendTest&);
        std::string error;
    };
    const Case cases[] = {
        {"external HDR on", 2,
            [](MacControlBackendTest& t) { t.hdr->displays.at(1)->prefersHDR = true; }, unverified},
        {"external extended range", 2,
            [](MacControlBackendTest& t) {
                t.display(2).screen->maximumPotentialExtendedDynamicRangeColorComponentValue = 2;
            },
            unverified},
        {"external mirrored", 2, [](MacControlBackendTest& t) { t.display(2).isMirrored = true; },
            "Warmth is unavailable on mirrored displays"},
        {"built-in mirrored", 1, [](MacControlBackendTest& t) { t.display(1).isMirrored = true; },
            "Warmth is unavailable on mirrored displays"},
        {"no tables", 1, [](MacControlBackendTest& t) { t.display(1).gammaCapacity = 0; },
            "Color transfer tables unavailable"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        MacControlBackendTest& t = *this;
        c.change(t);
        (void)discover();
        const std::string id = c.number == 1 ? builtInID : externalID;
        EXPECT_EQ(writeOutcome(id, SettingKey::temperature, warm), c.error);
        EXPECT_EQ(readOutcome(id, SettingKey::temperature), c.error);
        EXPECT_TRUE(display(c.number).gamma.red.empty());
        mac.world.displays.clear();
        addDefaultDisplays(mac.world);
        t.hdr->displays.at(1)->prefersHDR = false;
    }
    display(1).isMirrored = true;
    (void)discover();
    EXPECT_EQ(writeOutcome(builtInID, SettingKey::contrast, SettingValue::percent(0.7)),
        "Software contrast is unavailable on mirrored displays");
    EXPECT_EQ(readOutcome(builtInID, SettingKey::contrast),
        "Software contrast is unavailable on mirrored displays");
}

TEST_F(MacControlBackendTest, ARefreshRateThatCannotBeToldFailsToRead)
{
    display(2).modes.at(0).refreshRate = 0;
    EXPECT_EQ(readOutcome(externalID, SettingKey::refreshRate), "Refresh mode is not identifiable");
    display(2).currentModeID.reset();
    EXPECT_EQ(readOutcome(externalID, SettingKey::refreshRate), "Refresh mode is not identifiable");
}

/// Records in `order` when the operation ends.
template <typename T>
Task<void> noteEnd(Task<T> task, std::string name, std::vector<std::string>& order)
{
    try {
        (void)co_await std::move(task);
    } catch (const Error&) {
    }
    order.push_back(std::move(name));
}

TEST_F(MacControlBackendTest, OnlyNativeBrightnessLetsOtherOperationsIn)
{
    std::vector<std::string> order;
    spawn(executor,
        noteEnd(backend->read(keyOf(builtInID, SettingKey::brightness)), "native", order));
    spawn(executor, noteEnd(backend->read(keyOf(builtInID, SettingKey::contrast)), "gamma", order));
    executor.runUntilIdle();
    EXPECT_EQ(order, (std::vector<std::string>{"gamma", "native"}));

    // A DDC/CI read holds the backend through its reply wait.
    order.clear();
    const auto start = executor.now();
    spawn(executor, noteEnd(backend->read(keyOf(externalID, SettingKey::contrast)), "ddc", order));
    spawn(executor, noteEnd(backend->read(keyOf(builtInID, SettingKey::contrast)), "gamma", order));
    executor.runUntilIdle();
    EXPECT_EQ(order, std::vector<std::string>{});
    executor.advance(1s);
    EXPECT_EQ(order, (std::vector<std::string>{"ddc", "gamma"}));
    EXPECT_GE(monitors->bus().back().time, start + 50ms);
}

TEST_F(MacControlBackendTest, ANativeCallThatHappenedIsReportedThoughTheTaskWasCancelled)
{
    // DDC/CI reads hold the backend before and while the native call runs; the cancel comes
    // after the call, while the task would wait for the backend again.
    struct Case {
        const char* name;
        std::optional<SettingValue> written;
        std::string outcome;
    };
    const Case cases[] = {
        {"read", std::nullopt, "75%"},
        {"write", SettingValue::percent(0.25), "done"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        executor.advance(1s); // the DDC/CI gap since earlier transfers is over
        const auto before = start(backend->read(keyOf(externalID, SettingKey::brightness)));
        const ControlKey key = keyOf(builtInID, SettingKey::brightness);
        std::shared_ptr<TaskOutcome<void>> writing;
        std::shared_ptr<TaskOutcome<SettingValue>> reading;
        if (c.written)
            writing = start(backend->write(*c.written, key));
        else
            reading = start(backend->read(key));
        const TaskHandle native = *handle;
        const auto after = start(backend->read(keyOf(externalID, SettingKey::contrast)));
        executor.advance(60ms);
        native.cancel();
        executor.advance(1s);
        const std::string outcome = writing ? writing->summary()
            : reading->value                ? reading->value->label()
                                            : reading->summary();
        EXPECT_EQ(outcome, c.outcome);
        EXPECT_EQ(
            panels->calls.back().value, c.written ? std::optional<float>(0.25f) : std::nullopt);
    }
}

} // namespace
} // namespace quorvane::testing
