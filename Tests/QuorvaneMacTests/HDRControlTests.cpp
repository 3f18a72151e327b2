#include "QuorvaneMac/ExternalControls.h"

#include "Concurrency/ManualExecutor.h"
#include "SimulatedMac/SimulatedMac.h"
#include "SimulatedMac/SimulatedMonitorPanel.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace quorvane {
namespace {

constexpr const char* busy = "HDR control is unavailable or busy.";
constexpr const char* externalUUID = "9C4E2F61-5B3A-4D7E-8F10-2A6B7C8D9E0F";

struct HDRControlTest : ::testing::Test {
    HDRControlTest()
    {
        addDefaultDisplays(mac.world);
        panel = installMonitorPanelDefaults(mac);
    }

    SimulatedMonitorPanelDisplay& external() { return *panel->displays.at(1); }
    /// The error text of write(), or "done".
    std::string writeOutcome(HDRControl& control, bool enabled, DisplayNumber display)
    {
        try {
            control.write(enabled, display);
        } catch (const std::exception& error) {
            return error.what();
        }
        return "done";
    }

    ManualExecutor executor;
    SimulatedMac mac{executor};
    std::shared_ptr<SimulatedMonitorPanel> panel;
};

TEST_F(HDRControlTest, SwitchesTheExternalDisplayUnderTheAccessLock)
{
    HDRControl control(mac.platform());
    EXPECT_EQ(control.read(2), false);
    EXPECT_EQ(writeOutcome(control, true, 2), "done");
    EXPECT_TRUE(external().prefersHDR);
    EXPECT_FALSE(panel->isLocked);
    EXPECT_EQ(panel->messages,
        (std::vector<std::string>{"tryLockAccess", "setPreferHDRModes: YES", "unlockAccess"}));
    EXPECT_EQ(control.read(2), true);
}

TEST_F(HDRControlTest, AMissingFrameworkClassOrManagerLeavesHDRUnavailable)
{
    struct Case {
        const char* name;
        void (*change)(SimulatedMac&);
    };
    const Case cases[] = {
        {"no framework", [](SimulatedMac& mac) { mac.loader.removeImage(monitorPanelImagePath); }},
        {"no class", [](SimulatedMac& mac) { mac.objects.removeClass("MPDisplayMgr"); }},
        {"not an object class",
            [](SimulatedMac& mac) {
                mac.objects.defineClass("MPDisplayMgr").descendsFromRootObject = false;
            }},
        {"init fails",
            [](SimulatedMac& mac) {
                mac.objects.defineClass("MPDisplayMgr").initSucceeds = false;
            }},
        {"no display list",
            [](SimulatedMac& mac) {
                mac.objects.defineClass("MPDisplayMgr").performable.erase("displays");
            }},
        {"the list is not of objects",
            [](SimulatedMac& mac) {
                mac.objects.defineClass("MPDisplayMgr").performable["displays"]
                    = [](ObjectInstance) { return MessageResult{MessageResult::Nothing{}}; };
            }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ManualExecutor executor;
        SimulatedMac mac(executor);
        addDefaultDisplays(mac.world);
        const auto panel = installMonitorPanelDefaults(mac);
        c.change(mac);
        HDRControl control(mac.platform());
        EXPECT_EQ(control.read(2), std::nullopt);
        EXPECT_EQ(writeOutcome(control, true, 2), busy);
        EXPECT_TRUE(panel->messages.empty());
    }
}

TEST_F(HDRControlTest, ADisplayThatCannotSwitchReadsAbsentAndIsNeverLocked)
{
    struct Case {
        const char* name;
        void (*change)(SimulatedMac&, SimulatedMonitorPanel&);
    };
    const Case cases[] = {
        {"built in, even with HDR modes",
            [](SimulatedMac& mac, SimulatedMonitorPanel& panel) {
                panel.displays.at(1)->uuid = *mac.world.display(1)->uuid;
                mac.world.display(1)->isBuiltIn = true;
                panel.displays.at(1)->hasHDRModes = true;
                mac.world.unplug(2);
                mac.world.renumber(1, 2);
            }},
        {"no HDR modes",
            [](SimulatedMac&, SimulatedMonitorPanel& panel) {
                panel.displays.at(1)->hasHDRModes = false;
            }},
        {"no object for the display",
            [](SimulatedMac&, SimulatedMonitorPanel& panel) { panel.displays.pop_back(); }},
        {"a stale object",
            [](SimulatedMac&, SimulatedMonitorPanel& panel) {
                panel.displays.at(1)->reportedDisplayID = 7;
            }},
        {"no setter",
            [](SimulatedMac& mac, SimulatedMonitorPanel&) {
                mac.objects.defineClass("MPDisplay").methods.erase("setPreferHDRModes:");
            }},
        {"no getter",
            [](SimulatedMac& mac, SimulatedMonitorPanel&) {
                mac.objects.defineClass("MPDisplay").methods.at("preferHDRModes").responds = false;
            }},
        {"no display number",
            [](SimulatedMac& mac, SimulatedMonitorPanel&) {
                mac.objects.defineClass("MPDisplay").methods.erase("displayID");
            }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ManualExecutor executor;
        SimulatedMac mac(executor);
        addDefaultDisplays(mac.world);
        const auto panel = installMonitorPanelDefaults(mac);
        c.change(mac, *panel);
        HDRControl control(mac.platform());
        EXPECT_EQ(control.read(2), std::nullopt);
        EXPECT_EQ(writeOutcome(control, true, 2), busy);
        EXPECT_TRUE(panel->messages.empty());
    }
}

TEST_F(HDRControlTest, ALockHeldElsewhereChangesNothing)
{
    HDRControl control(mac.platform());
    panel->isLockedByAnotherClient = true;
    EXPECT_EQ(writeOutcome(control, true, 2), busy);
    EXPECT_FALSE(external().prefersHDR);
    EXPECT_EQ(panel->messages, std::vector<std::string>{"tryLockAccess"});

    panel->isLockedByAnotherClient = false;
    mac.objects.defineClass("MPDisplayMgr").methods.erase("unlockAccess");
    EXPECT_EQ(writeOutcome(control, true, 2), busy);
    EXPECT_FALSE(panel->isLocked);
    EXPECT_EQ(panel->messages.size(), 1u);
}

TEST_F(HDRControlTest, TheFirstObjectWithTheDisplayNumberIsUsed)
{
    panel->addDisplay({.uuid = externalUUID, .hasHDRModes = true, .prefersHDR = true});
    HDRControl control(mac.platform());
    EXPECT_EQ(control.read(2), false);
    EXPECT_EQ(writeOutcome(control, true, 2), "done");
    EXPECT_TRUE(external().prefersHDR);

    panel->displays.erase(panel->displays.begin() + 1);
    EXPECT_EQ(control.read(2), true);
    EXPECT_EQ(writeOutcome(control, false, 2), "done");
    EXPECT_FALSE(panel->displays.back()->prefersHDR);
}

TEST_F(HDRControlTest, FollowsARenumberedDisplayAndReleasesItsManager)
{
    {
        HDRControl control(mac.platform());
        EXPECT_EQ(mac.objects.liveCreatedInstances(), 1);
        external().prefersHDR = true;
        mac.world.renumber(2, 8);
        EXPECT_EQ(control.read(2), std::nullopt);
        EXPECT_EQ(control.read(8), true);
    }
    EXPECT_EQ(mac.objects.liveCreatedInstances(), 0);
}

} // namespace
} // namespace quorvane
