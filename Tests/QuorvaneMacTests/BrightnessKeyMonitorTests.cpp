#include "QuorvaneMac/BrightnessKeyMonitor.h"

#include "Concurrency/ManualExecutor.h"
#include "QuorvaneMac/AccessibilityPermission.h"
#include "SimulatedMac/SimulatedMac.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace quorvane {
namespace {

using Input = SimulatedEventTaps::InputEvent;

constexpr std::int64_t brightnessUpCode = 144;
constexpr std::int64_t brightnessDownCode = 145;

/// A system-defined auxiliary-key event's data word for a key type and state (0x0A down, 0x0B up).
constexpr std::int64_t auxiliaryData(std::int64_t keyType, std::int64_t state)
{
    return (keyType << 16) | (state << 8);
}

/// A trusted world, one monitor over it, and the presses its callback was asked about.
class BrightnessKeyMonitorTest : public testing::Test {
protected:
    BrightnessKeyMonitorTest()
    {
        monitor.pressed = [this](BrightnessKeyDirection direction) {
            asked.push_back(direction);
            return accepts;
        };
    }

    [[nodiscard]] const SimulatedEventTaps::Tap& onlyTap() const
    {
        EXPECT_EQ(mac.eventTaps.taps().size(), 1u);
        return mac.eventTaps.taps().begin()->second;
    }
    /// Whether the event reaches the applications.
    bool passes(const Input& event) { return mac.eventTaps.post(event); }

    ManualExecutor executor;
    SimulatedMac mac{executor};
    BrightnessKeyMonitor monitor{mac.platform()};
    std::vector<BrightnessKeyDirection> asked;
    bool accepts = true;
};

TEST_F(BrightnessKeyMonitorTest, InstallsOneActiveTapForKeyAndSystemDefinedEvents)
{
    EXPECT_EQ(monitor.status(), BrightnessKeyStatus::off);
    EXPECT_TRUE(mac.eventTaps.taps().empty());
    monitor.update(true);
    monitor.update(true);
    EXPECT_EQ(monitor.status(), BrightnessKeyStatus::active);
    const SimulatedEventTaps::Tap& tap = onlyTap();
    EXPECT_EQ(tap.location, EventTapLocation::session);
    EXPECT_EQ(tap.placement, EventTapPlacement::headInsert);
    EXPECT_EQ(tap.options, EventTapOptions::defaultTap);
    EXPECT_EQ(tap.mask, 0x4C00u);
    EXPECT_TRUE(tap.isEnabled);
    EXPECT_TRUE(tap.isSourceOnMainRunLoop);
    EXPECT_EQ(tap.sourceOrder, 0);

    monitor.update(false);
    EXPECT_EQ(monitor.status(), BrightnessKeyStatus::off);
    EXPECT_FALSE(onlyTap().isPortValid);
    EXPECT_FALSE(onlyTap().isSourceValid);
    EXPECT_FALSE(onlyTap().isSourceOnMainRunLoop);
}

TEST_F(BrightnessKeyMonitorTest, WithoutTrustNeedsPermissionAndWaitsForTheNextUpdate)
{
    monitor.update(true);
    mac.accessibility.trusted = false;
    monitor.update(true);
    EXPECT_EQ(monitor.status(), BrightnessKeyStatus::needsPermission);
    EXPECT_EQ(mac.eventTaps.liveTaps(), 0u);
    EXPECT_EQ(mac.accessibility.promptsShown, 0u);

    mac.accessibility.trusted = true;
    EXPECT_EQ(monitor.status(), BrightnessKeyStatus::needsPermission);
    EXPECT_TRUE(passes(Input::key(EventTypes::keyDown, brightnessUpCode)));
    monitor.update(true);
    EXPECT_EQ(monitor.status(), BrightnessKeyStatus::active);
    EXPECT_EQ(mac.eventTaps.liveTaps(), 1u);
}

TEST_F(BrightnessKeyMonitorTest, ATapThatCannotBeMadeIsUnavailable)
{
    mac.eventTaps.tapCreationFails = true;
    monitor.update(true);
    EXPECT_EQ(monitor.status(), BrightnessKeyStatus::unavailable);
    EXPECT_TRUE(mac.eventTaps.taps().empty());

    mac.eventTaps.tapCreationFails = false;
    mac.eventTaps.sourceCreationFails = true;
    monitor.update(true);
    EXPECT_EQ(monitor.status(), BrightnessKeyStatus::unavailable);
    EXPECT_FALSE(onlyTap().isPortValid);
    EXPECT_TRUE(passes(Input::key(EventTypes::keyDown, brightnessUpCode)));
    EXPECT_TRUE(asked.empty());
}

TEST_F(BrightnessKeyMonitorTest, RoutesEachPressAndItsReleaseTogether)
{
    monitor.update(true);
    struct Case {
        const char* name;
        Input down;
        Input up;
        bool accepts;
        bool isSwallowed;
        std::vector<BrightnessKeyDirection> asked;
    };
    using enum BrightnessKeyDirection;
    const Case cases[] = {
        {"keyboard up taken", Input::key(EventTypes::keyDown, brightnessUpCode),
            Input::key(EventTypes::keyUp, brightnessUpCode), true, true, {up}},
        {"keyboard down taken", Input::key(EventTypes::keyDown, brightnessDownCode),
            Input::key(EventTypes::keyUp, brightnessDownCode), true, true, {down}},
        {"keyboard refused", Input::key(EventTypes::keyDown, brightnessUpCode),
            Input::key(EventTypes::keyUp, brightnessUpCode), false, false, {up}},
        {"auxiliary up taken", Input::systemDefined(8, auxiliaryData(2, 0x0A)),
            Input::systemDefined(8, auxiliaryData(2, 0x0B)), true, true, {up}},
        {"auxiliary down taken", Input::systemDefined(8, auxiliaryData(3, 0x0A)),
            Input::systemDefined(8, auxiliaryData(3, 0x0B)), true, true, {down}},
        {"caps lock, fn and keypad do not count",
            Input::key(EventTypes::keyDown, brightnessUpCode,
                EventFlagMasks::alphaShift | EventFlagMasks::secondaryFn
                    | EventFlagMasks::numericPad),
            Input::key(EventTypes::keyUp, brightnessUpCode), true, true, {up}},
        {"shift", Input::key(EventTypes::keyDown, brightnessUpCode, EventFlagMasks::shift),
            Input::key(EventTypes::keyUp, brightnessUpCode), true, false, {}},
        {"control", Input::key(EventTypes::keyDown, brightnessUpCode, EventFlagMasks::control),
            Input::key(EventTypes::keyUp, brightnessUpCode), true, false, {}},
        {"option", Input::systemDefined(8, auxiliaryData(2, 0x0A), EventFlagMasks::alternate),
            Input::systemDefined(8, auxiliaryData(2, 0x0B)), true, false, {}},
        {"command", Input::key(EventTypes::keyDown, brightnessDownCode, EventFlagMasks::command),
            Input::key(EventTypes::keyUp, brightnessDownCode), true, false, {}},
        {"another key code", Input::key(EventTypes::keyDown, 107),
            Input::key(EventTypes::keyUp, 107), true, false, {}},
        {"another media key", Input::systemDefined(8, auxiliaryData(1, 0x0A)),
            Input::systemDefined(8, auxiliaryData(1, 0x0B)), true, false, {}},
        {"another subtype", Input::systemDefined(7, auxiliaryData(2, 0x0A)),
            Input::systemDefined(7, auxiliaryData(2, 0x0B)), true, false, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        accepts = c.accepts;
        asked.clear();
        EXPECT_EQ(passes(c.down), !c.isSwallowed);
        EXPECT_EQ(passes(c.up), !c.isSwallowed);
        EXPECT_EQ(asked, c.asked);
        // A second release has no press of its own left to follow.
        EXPECT_TRUE(passes(c.up));
    }
}

TEST_F(BrightnessKeyMonitorTest, ASwallowedPressKeepsItsReleaseEvenWithAModifierHeldByThen)
{
    monitor.update(true);
    ASSERT_FALSE(passes(Input::key(EventTypes::keyDown, brightnessUpCode)));
    // The other encoding of the same key is tracked on its own.
    EXPECT_TRUE(passes(Input::systemDefined(8, auxiliaryData(2, 0x0B))));
    EXPECT_FALSE(passes(Input::key(EventTypes::keyUp, brightnessUpCode, EventFlagMasks::command)));
}

TEST_F(BrightnessKeyMonitorTest, WithoutACallbackOrAnApplicationKitEventEveryKeyPasses)
{
    monitor.update(true);
    Input unconvertible = Input::systemDefined(8, auxiliaryData(2, 0x0A));
    unconvertible.applicationKitEvent.reset();
    EXPECT_TRUE(passes(unconvertible));
    EXPECT_TRUE(asked.empty());

    monitor.pressed = nullptr;
    EXPECT_TRUE(passes(Input::key(EventTypes::keyDown, brightnessUpCode)));
    EXPECT_TRUE(passes(Input::systemDefined(8, auxiliaryData(3, 0x0A))));
}

TEST_F(BrightnessKeyMonitorTest, ATimeOutReenablesTheTapAndForgetsCapturedKeys)
{
    monitor.update(true);
    ASSERT_FALSE(passes(Input::key(EventTypes::keyDown, brightnessUpCode)));
    EXPECT_TRUE(mac.eventTaps.disableTaps(EventTypes::tapDisabledByTimeout));
    EXPECT_EQ(monitor.status(), BrightnessKeyStatus::active);
    EXPECT_TRUE(onlyTap().isEnabled);
    EXPECT_TRUE(passes(Input::key(EventTypes::keyUp, brightnessUpCode)));
    EXPECT_FALSE(passes(Input::key(EventTypes::keyDown, brightnessUpCode)));
}

TEST_F(BrightnessKeyMonitorTest, AUserInputDisableIsUnavailableUntilTheNextUpdateMakesANewTap)
{
    monitor.update(true);
    ASSERT_FALSE(passes(Input::key(EventTypes::keyDown, brightnessUpCode)));
    EXPECT_TRUE(mac.eventTaps.disableTaps(EventTypes::tapDisabledByUserInput));
    EXPECT_EQ(monitor.status(), BrightnessKeyStatus::unavailable);
    EXPECT_FALSE(onlyTap().isEnabled);
    EXPECT_TRUE(onlyTap().isPortValid);
    EXPECT_TRUE(passes(Input::key(EventTypes::keyDown, brightnessUpCode)));

    monitor.update(true);
    EXPECT_EQ(monitor.status(), BrightnessKeyStatus::active);
    EXPECT_EQ(mac.eventTaps.taps().size(), 2u);
    EXPECT_EQ(mac.eventTaps.liveTaps(), 1u);
    // The release of the press seen before the disable is passed on.
    EXPECT_TRUE(passes(Input::key(EventTypes::keyUp, brightnessUpCode)));
}

TEST_F(BrightnessKeyMonitorTest, StoppingOrDestroyingRemovesTheTap)
{
    monitor.update(true);
    monitor.stop();
    EXPECT_EQ(monitor.status(), BrightnessKeyStatus::off);
    EXPECT_EQ(mac.eventTaps.liveTaps(), 0u);
    {
        BrightnessKeyMonitor other(mac.platform());
        other.update(true);
        EXPECT_EQ(mac.eventTaps.liveTaps(), 1u);
    }
    EXPECT_EQ(mac.eventTaps.liveTaps(), 0u);
    EXPECT_TRUE(passes(Input::key(EventTypes::keyDown, brightnessUpCode)));
}

TEST_F(BrightnessKeyMonitorTest, RequestingPermissionPromptsAndOpensSettingsWhileUntrusted)
{
    mac.accessibility.trusted = false;
    monitor.requestPermission();
    EXPECT_EQ(mac.accessibility.promptsShown, 1u);
    EXPECT_EQ(mac.workspace.openedURLs,
        std::vector<std::string>{std::string(accessibilityPrivacySettingsLink)});
    EXPECT_EQ(monitor.status(), BrightnessKeyStatus::off);
}

TEST_F(BrightnessKeyMonitorTest, ThePermissionPaneIsNamedBySystemVersion)
{
    struct Case {
        std::int64_t majorVersion;
        std::string_view name;
    };
    const Case cases[] = {
        {15, "Accessibility"},
        {26, "Accessibility"},
        {27, "Device Control and Data Access"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.majorVersion);
        mac.world.operatingSystemMajorVersion = c.majorVersion;
        EXPECT_EQ(BrightnessKeyMonitor::permissionPaneName(mac.platform()), c.name);
    }
}

} // namespace
} // namespace quorvane
