#include "Quorvane/AppModel.h"

#include "ApplyTestSupport.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace quorvane {
namespace {

using namespace apply_support;

DisplayResolution sized(int width, int height, int scale = 1)
{
    return {.width = width,
        .height = height,
        .pixelWidth = width * scale,
        .pixelHeight = height * scale};
}

const DisplayResolution full = sized(1920, 1080);
const DisplayResolution wide = sized(1920, 1200);
const DisplayResolution small = sized(1280, 720);
const RefreshPreference hz50 = RefreshPreference::fixed(50'000);
const RefreshPreference hz60 = RefreshPreference::fixed(60'000);
const RefreshPreference hz120 = RefreshPreference::fixed(120'000);
const RefreshPreference adaptive = RefreshPreference::adaptive();

std::vector<SettingValue> rates(std::initializer_list<RefreshPreference> preferences)
{
    std::vector<SettingValue> values;
    for (const RefreshPreference& preference : preferences)
        values.push_back(SettingValue::refresh(preference));
    return values;
}

TEST(ProfileResolutionTest, CompletingARequestPicksItsRefreshRate)
{
    const struct {
        const char* what;
        ModeConfiguration request;
        std::optional<RefreshPreference> current;
        bool listsChoices;
        std::optional<RefreshPreference> completed;
    } cases[] = {
        {"asked for", {.refreshRate = hz50, .resolution = wide}, hz120, true, hz50},
        {"no new resolution keeps the current rate", {.hdr = true}, hz120, true, hz120},
        {"the current resolution keeps its rate", {.resolution = full}, hz50, true, hz50},
        {"the new resolution offers the current rate", {.resolution = wide}, hz120, true, hz120},
        {"the new resolution offers adaptive", {.resolution = wide}, adaptive, true, adaptive},
        {"otherwise its first listed rate", {.resolution = wide}, hz50, true, hz60},
        {"no rate listed there", {.resolution = small}, hz120, true, std::nullopt},
        {"no choices known", {.resolution = wide}, hz50, false, hz50},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ApplyWorld w;
        w.model->hardwareSnapshot.modify([&](HardwareSnapshot& s) {
            if (c.listsChoices)
                s.modeChoices[externalID] = {{full, hz120}, {small, std::nullopt}, {wide, hz60},
                    {wide, hz120}, {wide, adaptive}};
            s.currentModes[externalID]
                = {.refreshRate = c.current, .hdr = false, .resolution = full};
        });
        const auto completed = w.model->completeDisplayMode(c.request, externalID);
        ASSERT_TRUE(completed);
        EXPECT_EQ(completed->refreshRate, c.completed);
        EXPECT_EQ(completed->resolution, c.request.resolution.value_or(full));
        EXPECT_EQ(completed->hdr, c.request.hdr.value_or(false));
    }
}

TEST(ProfileResolutionTest, ResolutionChoicesAndWhyOneIsUnavailable)
{
    ApplyWorld w;
    w.model->hardwareSnapshot.modify([](HardwareSnapshot& s) {
        s.modeChoices[externalID] = {{wide, hz60}, {sized(1920, 1080, 2), hz60}, {full, hz60},
            {full, hz120}, {small, std::nullopt}};
    });
    EXPECT_EQ(w.model->resolutionChoices(externalID),
        (std::vector<DisplayResolution>{small, full, sized(1920, 1080, 2), wide}));
    EXPECT_TRUE(w.model->resolutionChoices(builtinID).empty());

    EXPECT_EQ(w.model->resolutionUnavailableReason(full, externalID), std::nullopt);
    EXPECT_EQ(w.model->resolutionUnavailableReason(sized(800, 600), externalID),
        "The saved resolution is unavailable on this connection. The current resolution is kept.");
    w.model->hardwareSnapshot.modify(
        [](HardwareSnapshot& s) { s.resolutionUnavailable[externalID] = "Mirrored."; });
    EXPECT_EQ(w.model->resolutionUnavailableReason(full, externalID), "Mirrored.")
        << "the hardware's reason comes before the choices";
    EXPECT_EQ(w.model->resolutionUnavailableReason(full, "gone"),
        "Display disconnected. The saved resolution will be available when it reconnects.");
}

TEST(ProfileResolutionTest, RuleRefreshRatesAreThoseEveryScreenOffers)
{
    const ControlCapability none{.available = false,
        .reason = "No refresh rates available. Connect an adjustable screen or choose another "
                  "resolution."};
    const ControlCapability noCommon{
        .available = false, .reason = "No common refresh rates. Choose a screen for this rule."};
    const auto offered = [](std::initializer_list<RefreshPreference> preferences) {
        return ControlCapability{.available = true,
            .reason = "Available refresh rates at the profile's resolution · preview required",
            .choices = rates(preferences)};
    };
    const struct {
        const char* what;
        RuleConditions conditions;
        std::vector<SettingValue> builtinRates;
        bool builtinAvailable;
        ControlCapability expected;
    } cases[] = {
        {"every screen, sorted, adaptive last", {}, rates({adaptive, hz120, hz60}), true,
            offered({hz60, hz120, adaptive})},
        {"only what both offer", {}, rates({hz120, hz50}), true, offered({hz120})},
        {"nothing in common", {}, rates({hz50}), true, noCommon},
        {"an unavailable screen is left out", {}, rates({hz50}), false,
            offered({hz60, hz120, adaptive})},
        {"the rule's own screen", {.screen = DisplayReference{.id = builtinID, .name = "S"}},
            rates({hz50}), true, offered({hz50})},
        {"a Space owned by a screen",
            {.space = Desktop{.id = "s", .name = "Space", .displayID = builtinID}}, rates({hz50}),
            true, offered({hz50})},
        {"a shared Space means every screen",
            {.space
                = Desktop{.id = "s", .name = "Space", .displayID = builtinID, .isShared = true}},
            rates({hz50}), true, noCommon},
        {"a screen not connected", {.screen = DisplayReference{.id = "gone", .name = "S"}},
            rates({hz50}), true, none},
        {"invalid rates are dropped", {.screen = DisplayReference{.id = builtinID, .name = "S"}},
            rates({RefreshPreference::fixed(0)}), true, noCommon},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ApplyWorld w;
        w.model->hardwareSnapshot.modify([&](HardwareSnapshot& s) {
            s.modeChoices[externalID]
                = {{full, hz60}, {full, adaptive}, {wide, hz50}, {full, hz120}};
            s.capabilities[keyOf(builtinID, SettingKey::refreshRate)] = {
                .available = c.builtinAvailable, .reason = "Built-in", .choices = c.builtinRates};
        });
        Profile profile = w.model->configuration->activeProfile();
        profile.displayPreferences = ProfileDisplayPreferences{
            .resolutions = std::map<std::string, DisplayResolution>{{externalID, full}}};
        EXPECT_EQ(w.model->refreshRateCapability(c.conditions, profile), c.expected);
    }
}

TEST(ProfileResolutionTest, HDRForARuleAndItsCell)
{
    const ControlCapability managed{
        .available = false, .reason = "HDR supported · managed by macOS"};
    const ControlCapability externalOffers{.available = true, .reason = "DDC/CI"};
    const ControlCapability externalLacks{.available = false, .reason = "No HDR"};
    const ControlCapability noneOnScreens{
        .available = false, .reason = "HDR control unavailable on the connected screens"};
    const struct {
        const char* what;
        RuleConditions conditions;
        std::vector<DisplayDevice> displays;
        std::optional<ControlCapability> externalHDR;
        std::optional<ControlCapability> expected;
        std::string cell;
    } cases[] = {
        {"the built-in screen alone", {},
            {{.id = builtinID, .isBuiltIn = true, .hasExtendedRange = true}}, externalOffers,
            managed, "macOS"},
        {"an external screen that offers it", {},
            {{.id = builtinID, .isBuiltIn = true}, {.id = externalID}}, externalOffers,
            externalOffers, "On"},
        {"no screen offers it", {}, {{.id = externalID}, {.id = builtinID, .isBuiltIn = true}},
            externalLacks, noneOnScreens, "Unavailable"},
        {"a screen without an HDR control", {}, {{.id = externalID}}, std::nullopt, std::nullopt,
            "On"},
        {"no screens", {}, {}, externalOffers, std::nullopt, "On"},
        {"the rule's screen lacks it", {.screen = DisplayReference{.id = externalID, .name = "S"}},
            {{.id = externalID}}, externalLacks, externalLacks, "Unavailable"},
        {"the rule's screen is the built-in one",
            {.screen = DisplayReference{.id = builtinID, .name = "S"}},
            {{.id = builtinID, .isBuiltIn = true}, {.id = externalID}}, externalOffers,
            ControlCapability{.available = false, .reason = "HDR managed by macOS"}, "macOS"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ApplyWorld w;
        w.model->displays.set(c.displays);
        w.model->hardwareSnapshot.modify([&](HardwareSnapshot& s) {
            s.capabilities.erase(hdr);
            if (c.externalHDR)
                s.capabilities[hdr] = *c.externalHDR;
        });
        EXPECT_EQ(w.model->hdrCapability(c.conditions), c.expected);
        Rule rule{.id = UUID::random(), .name = "R", .conditions = c.conditions};
        rule.settings.hdr = true;
        EXPECT_EQ(w.model->hdrRuleLabel(rule), c.cell);
        rule.settings.hdr.reset();
        EXPECT_EQ(w.model->hdrRuleLabel(rule), c.cell == "On" ? "Default" : c.cell);
    }
}

} // namespace
} // namespace quorvane
