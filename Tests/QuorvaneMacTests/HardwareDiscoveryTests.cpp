#include "MacControlBackendTestSupport.h"

#include "SimulatedMac/SimulatedGamma.h"

#include <vector>

namespace quorvane::testing {
namespace {

constexpr const char* mirrorSourceID = "a1000000-0000-0000-0000-000000000003";
constexpr const char* mirrorCopyID = "a1000000-0000-0000-0000-000000000004";

const std::string nativeReason = "Native display brightness";
const std::string notSupported = "Not supported on this screen";
const std::string warmthReason
    = "Approximate software warmth · gamma-table readback, not HDR color calibration";
const std::string refreshReason = "Supported display modes · preview required";

ControlCapability available(std::string reason, std::vector<SettingValue> choices = {})
{
    return {.available = true, .reason = std::move(reason), .choices = std::move(choices)};
}
ControlCapability unavailable(std::string reason)
{
    return {.available = false, .reason = std::move(reason), .choices = {}};
}
SettingValue hertz(std::int64_t rate)
{
    return SettingValue::refresh(RefreshPreference::fixed(rate * 1000));
}
DisplayResolution resolution(std::int64_t width, std::int64_t height, int scale = 1)
{
    return {.width = width,
        .height = height,
        .pixelWidth = width * scale,
        .pixelHeight = height * scale};
}

struct HardwareDiscoveryTest : BackendFixture {
    void addMirroredPair()
    {
        for (const auto& [number, uuid] :
            {std::pair<DisplayNumber, const char*>{3, mirrorSourceID}, {4, mirrorCopyID}}) {
            SimulatedDisplay copy = display(2);
            copy.number = number;
            copy.uuid = uuid;
            copy.isMirrored = true;
            copy.screen->localizedName = "Projector " + std::to_string(number);
            copy.screen->deviceDescription["NSScreenNumber"] = PlatformValue::integer(number);
            mac.world.displays.push_back(copy);
        }
    }
    std::string location(const char* id)
    {
        return *monitors->displayInformation.at(id)->at("IODisplayLocation").textValue();
    }
    std::map<SettingKey, ControlCapability> capabilitiesOf(
        const HardwareSnapshot& snapshot, const std::string& id)
    {
        std::map<SettingKey, ControlCapability> result;
        for (const auto& [key, capability] : snapshot.capabilities)
            if (key.target.id() == id)
                result.emplace(key.setting, capability);
        return result;
    }
    std::map<SettingKey, SettingValue> observedOf(
        const HardwareSnapshot& snapshot, const std::string& id)
    {
        std::map<SettingKey, SettingValue> result;
        for (const auto& [key, value] : snapshot.observed)
            if (key.target.id() == id)
                result.emplace(key.setting, value);
        return result;
    }
};

TEST_F(HardwareDiscoveryTest, DescribesBuiltInExternalAndMirroredDisplays)
{
    addMirroredPair();
    makeBackend();
    const std::string version = "display-mode-v2|Version 15.1 (Build 24B83)|";
    const HardwareSnapshot snapshot = discover();

    EXPECT_EQ(capabilitiesOf(snapshot, builtInID),
        (std::map<SettingKey, ControlCapability>{
            {SettingKey::brightness, available(nativeReason)},
            {SettingKey::hdr, unavailable("HDR managed by macOS")},
            {SettingKey::temperature, available(warmthReason)},
            {SettingKey::refreshRate, available(refreshReason, {hertz(60)})},
            {SettingKey::contrast, available("Software contrast · 50% is normal")},
        }));
    EXPECT_EQ(observedOf(snapshot, builtInID),
        (std::map<SettingKey, SettingValue>{
            {SettingKey::brightness, SettingValue::percent(0.75f)},
            {SettingKey::temperature, SettingValue::temperature(Temperature::neutral())},
            {SettingKey::refreshRate, hertz(60)},
            {SettingKey::contrast, SettingValue::percent(0.5)},
        }));

    EXPECT_EQ(capabilitiesOf(snapshot, externalID),
        (std::map<SettingKey, ControlCapability>{
            {SettingKey::brightness, available("DDC · read detected; verify with this monitor")},
            {SettingKey::hdr,
                available("External HDR · preview required",
                    {SettingValue::toggle(false), SettingValue::toggle(true)})},
            {SettingKey::temperature, available(warmthReason)},
            // Label order: "50 Hz" before "60 Hz", whatever the modes' order.
            {SettingKey::refreshRate, available(refreshReason, {hertz(50), hertz(60)})},
            {SettingKey::contrast, available("Hardware contrast · DDC")},
        }));
    EXPECT_EQ(observedOf(snapshot, externalID),
        (std::map<SettingKey, SettingValue>{
            {SettingKey::brightness, SettingValue::percent(0.5)},
            {SettingKey::hdr, SettingValue::toggle(false)},
            {SettingKey::temperature, SettingValue::temperature(Temperature::neutral())},
            {SettingKey::refreshRate, hertz(60)},
            {SettingKey::contrast, SettingValue::percent(0.7)},
        }));

    const std::string noDDC = "No DDC connection information for this screen.";
    for (const char* id : {mirrorSourceID, mirrorCopyID}) {
        SCOPED_TRACE(id);
        EXPECT_EQ(capabilitiesOf(snapshot, id),
            (std::map<SettingKey, ControlCapability>{
                {SettingKey::brightness, unavailable(noDDC)},
                {SettingKey::hdr, unavailable("HDR control unavailable or display mirrored")},
                {SettingKey::temperature,
                    unavailable("Warmth is unavailable on mirrored displays")},
                {SettingKey::refreshRate, unavailable(notSupported)},
                {SettingKey::contrast, unavailable(noDDC)},
            }));
        EXPECT_EQ(observedOf(snapshot, id),
            (std::map<SettingKey, SettingValue>{{SettingKey::refreshRate, hertz(60)}}));
    }

    const ModeConfiguration externalMode{.refreshRate = RefreshPreference::fixed(60'000),
        .hdr = false,
        .resolution = resolution(2560, 1440)};
    const ModeConfiguration mirroredMode = externalMode;
    EXPECT_EQ(snapshot.currentModes,
        (std::map<std::string, ModeConfiguration>{
            {builtInID,
                {.refreshRate = RefreshPreference::fixed(60'000),
                    .hdr = std::nullopt,
                    .resolution = resolution(1512, 982, 2)}},
            {externalID, externalMode},
            {mirrorSourceID, mirroredMode},
            {mirrorCopyID, mirroredMode},
        }));
    EXPECT_EQ(snapshot.modeChoices,
        (std::map<std::string, std::vector<DisplayModeChoice>>{
            {builtInID,
                {{resolution(1512, 982, 2), RefreshPreference::fixed(60'000)},
                    {resolution(1800, 1169, 2), RefreshPreference::fixed(60'000)}}},
            {externalID,
                {{resolution(2560, 1440), RefreshPreference::fixed(60'000)},
                    {resolution(2560, 1440), RefreshPreference::fixed(50'000)},
                    {resolution(1920, 1080), RefreshPreference::fixed(60'000)}}},
        }));
    const std::string mirrored = "Resolution changes are unavailable for mirrored displays.";
    EXPECT_EQ(snapshot.resolutionUnavailable,
        (std::map<std::string, std::string>{{mirrorSourceID, mirrored}, {mirrorCopyID, mirrored}}));
    ASSERT_EQ(snapshot.environments.size(), 4u);
    EXPECT_EQ(snapshot.environments.at(builtInID), version + location(builtInID));
    EXPECT_EQ(snapshot.environments.at(externalID), version + location(externalID));
    EXPECT_EQ(
        snapshot.environments.at(mirrorCopyID).substr(0, version.size() + 8), version + "unknown:");
}

TEST_F(HardwareDiscoveryTest, SetsUpTheBackendForLaterReadsAndWrites)
{
    makeBackend();
    (void)discover();
    ASSERT_EQ(writeOutcome(builtInID, SettingKey::temperature,
                  SettingValue::temperature(Temperature::kelvin(4000))),
        "done");
    EXPECT_EQ(monitors->servicesCreated(), 1);

    // An empty list forgets every display and the DDC/CI channels, but not the colour states:
    // the tables left on the display are still ours, over the baseline first found.
    EXPECT_EQ(*finish(backend->discover({})).value, HardwareSnapshot{});
    EXPECT_EQ(readOutcome(externalID, SettingKey::contrast), "Display disconnected");
    const HardwareSnapshot again = discover();
    EXPECT_EQ(monitors->servicesCreated(), 2);
    EXPECT_EQ(again.observed.at(keyOf(builtInID, SettingKey::temperature)),
        SettingValue::temperature(Temperature::kelvin(4000)));
    ASSERT_EQ(finish(backend->restoreSession()).value, std::vector<std::string>{});
    EXPECT_EQ(readOutcome(builtInID, SettingKey::temperature), "Neutral");

    // Tables another program wrote are adopted at discovery too.
    ASSERT_EQ(writeOutcome(builtInID, SettingKey::contrast, SettingValue::percent(0.9)), "done");
    writeGammaFromAnotherProgram(mac.world, builtInID, identityGammaTable(512));
    EXPECT_EQ(
        discover().observed.at(keyOf(builtInID, SettingKey::contrast)), SettingValue::percent(0.5));
}

TEST_F(HardwareDiscoveryTest, EachUnreadableControlGetsItsReason)
{
    struct Case {
        const char* name;
        void (*change)(HardwareDiscoveryTest&);
        const char* id;
        SettingKey setting;
        ControlCapability capability;
        std::optional<SettingValue> observed;
    };
    const Case cases[] = {
        {"built-in without native brightness",
            [](HardwareDiscoveryTest& t) { t.panels->readStatus = 5; }, builtInID,
            SettingKey::brightness, unavailable(notSupported), std::nullopt},
        {"external answering natively",
            [](HardwareDiscoveryTest& t) {
                t.panels->readStatus = 0;
                t.panels->brightness.erase(builtInID);
                t.panels->brightness[externalID] = 0.25f;
            },
            externalID, SettingKey::brightness, available(nativeReason),
            SettingValue::percent(0.25)},
        {"monitor without contrast",
            [](HardwareDiscoveryTest& t) { t.monitors->monitor(externalID)->features.erase(0x12); },
            externalID, SettingKey::contrast,
            unavailable("The monitor did not return a valid DDC contrast value."), std::nullopt},
        {"built-in mirrored", [](HardwareDiscoveryTest& t) { t.display(1).isMirrored = true; },
            builtInID, SettingKey::contrast,
            unavailable("Software contrast is unavailable on mirrored displays"), std::nullopt},
        {"built-in without tables",
            [](HardwareDiscoveryTest& t) {
                t.display(1).isMirrored = false;
                t.display(1).gammaCapacity = 0;
            },
            builtInID, SettingKey::contrast, unavailable("Color transfer tables unavailable"),
            std::nullopt},
        {"external in HDR",
            [](HardwareDiscoveryTest& t) { t.hdr->displays.at(1)->prefersHDR = true; }, externalID,
            SettingKey::temperature,
            unavailable("Warmth is unverified on external HDR or extended-range displays"),
            std::nullopt},
        {"external in HDR", [](HardwareDiscoveryTest&) {}, externalID, SettingKey::hdr,
            available("External HDR · preview required",
                {SettingValue::toggle(false), SettingValue::toggle(true)}),
            SettingValue::toggle(true)},
        {"external without HDR modes",
            [](HardwareDiscoveryTest& t) { t.hdr->displays.at(1)->hasHDRModes = false; },
            externalID, SettingKey::hdr, unavailable("HDR control unavailable or display mirrored"),
            std::nullopt},
        {"one rate only",
            [](HardwareDiscoveryTest& t) { t.display(2).modes.at(1).refreshRate = 60; }, externalID,
            SettingKey::refreshRate, available(refreshReason, {hertz(60)}), hertz(60)},
        {"no identifiable rate",
            [](HardwareDiscoveryTest& t) {
                for (GraphicsDisplayMode& mode : t.display(2).modes)
                    mode.refreshRate = 0;
            },
            externalID, SettingKey::refreshRate, unavailable(notSupported), std::nullopt},
    };
    makeBackend();
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.name) + " " + std::string(rawValue(c.setting)));
        c.change(*this);
        const HardwareSnapshot snapshot = discover();
        const ControlKey key = keyOf(c.id, c.setting);
        EXPECT_EQ(snapshot.capabilities.at(key), c.capability);
        const auto observed = snapshot.observed.find(key);
        EXPECT_EQ(
            observed == snapshot.observed.end() ? std::nullopt : std::optional(observed->second),
            c.observed);
    }
}

TEST_F(HardwareDiscoveryTest, ModesThatCannotBeReadLeaveTheResolutionUnavailable)
{
    makeBackend();
    display(2).modes.push_back(display(2).modes.at(0)); // a repeated mode is listed once
    EXPECT_EQ(discover().modeChoices.at(externalID).size(), 3u);

    mac.world.graphicsFaults.allModesUnanswered = true;
    HardwareSnapshot snapshot = discover();
    EXPECT_EQ(snapshot.modeChoices.at(externalID), std::vector<DisplayModeChoice>{});
    EXPECT_EQ(snapshot.resolutionUnavailable.at(externalID),
        "No supported display resolutions were reported.");
    EXPECT_EQ(snapshot.capabilities.at(keyOf(externalID, SettingKey::refreshRate)),
        unavailable(notSupported));
    EXPECT_TRUE(snapshot.currentModes.contains(externalID));

    mac.world.graphicsFaults.allModesUnanswered = false;
    display(2).currentModeID.reset();
    snapshot = discover();
    EXPECT_EQ(snapshot.resolutionUnavailable.at(externalID),
        "Current display resolution is unavailable.");
    EXPECT_FALSE(snapshot.modeChoices.contains(externalID));
    EXPECT_FALSE(snapshot.currentModes.contains(externalID));
    EXPECT_FALSE(snapshot.environments.contains(externalID));
    EXPECT_FALSE(snapshot.observed.contains(keyOf(externalID, SettingKey::refreshRate)));
}

TEST_F(HardwareDiscoveryTest, AdaptiveModesAreOfferedAfterFixedRatesAndRememberedPerNumber)
{
    SimulatedDisplay& external = display(2);
    external.modes = {
        {.width = 2560,
            .height = 1440,
            .pixelWidth = 2560,
            .pixelHeight = 1440,
            .ioDisplayModeID = 30,
            .refreshRate = 120},
        {.width = 2560,
            .height = 1440,
            .pixelWidth = 2560,
            .pixelHeight = 1440,
            .ioDisplayModeID = 31,
            .refreshRate = 120},
        {.width = 2560,
            .height = 1440,
            .pixelWidth = 2560,
            .pixelHeight = 1440,
            .ioDisplayModeID = 32,
            .refreshRate = 60},
    };
    external.currentModeID = 30;
    external.screen->minimumRefreshInterval = 1.0 / 120;
    makeBackend();
    const SettingValue adaptive = SettingValue::refresh(RefreshPreference::adaptive());
    const ControlKey refresh = keyOf(externalID, SettingKey::refreshRate);
    HardwareSnapshot snapshot = discover();
    EXPECT_EQ(snapshot.capabilities.at(refresh).choices,
        (std::vector<SettingValue>{hertz(120), hertz(60), adaptive}));
    EXPECT_EQ(snapshot.observed.at(refresh), adaptive);

    // Left for a fixed mode: the variable one is still known as such under the same number.
    changeModeByUser(mac.world, externalID, 32);
    display(2).screen->minimumRefreshInterval = 1.0 / 60;
    snapshot = discover();
    EXPECT_EQ(snapshot.capabilities.at(refresh).choices,
        (std::vector<SettingValue>{hertz(120), hertz(60), adaptive}));
    EXPECT_EQ(snapshot.observed.at(refresh), hertz(60));

    mac.world.renumber(2, 8);
    snapshot = discover();
    EXPECT_EQ(snapshot.capabilities.at(refresh).choices,
        (std::vector<SettingValue>{hertz(120), hertz(60)}));
    // Back under its old number, the record discovery dropped does not come back.
    mac.world.renumber(8, 2);
    EXPECT_EQ(discover().capabilities.at(refresh).choices,
        (std::vector<SettingValue>{hertz(120), hertz(60)}));

    // Seen again, then left out of one discovery: forgotten too.
    changeModeByUser(mac.world, externalID, 30);
    display(2).screen->minimumRefreshInterval = 1.0 / 120;
    (void)discover();
    changeModeByUser(mac.world, externalID, 32);
    display(2).screen->minimumRefreshInterval = 1.0 / 60;
    EXPECT_EQ(discover().capabilities.at(refresh).choices.size(), 3u);
    (void)finish(backend->discover({}));
    EXPECT_EQ(discover().capabilities.at(refresh).choices,
        (std::vector<SettingValue>{hertz(120), hertz(60)}));
}

TEST_F(HardwareDiscoveryTest, CancellingReturnsTheDisplaysFinishedSoFar)
{
    makeBackend();
    const auto outcome = start(backend->discover(DisplayInventory::snapshot(mac.platform())));
    // The built-in display is done; the external one waits for its DDC/CI reply.
    ASSERT_FALSE(outcome->hasEnded());
    handle->cancel();
    executor.runUntilIdle();
    ASSERT_TRUE(outcome->value);
    EXPECT_EQ(outcome->value->capabilities.size(), 5u);
    EXPECT_EQ(
        outcome->value->capabilities.begin()->first, keyOf(builtInID, SettingKey::brightness));
    EXPECT_FALSE(outcome->value->currentModes.contains(externalID));
    EXPECT_TRUE(outcome->value->currentModes.contains(builtInID));
    EXPECT_FALSE(outcome->value->observed.contains(keyOf(externalID, SettingKey::brightness)));
}

} // namespace
} // namespace quorvane::testing
