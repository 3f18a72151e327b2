#include "CaptureTestSupport.h"
#include "Foundation/Text.h"

#include <gtest/gtest.h>

#include <functional>

namespace quorvane {
namespace {

/// Connected "a" and "b"; "old" remembered; "saved" known only from its Default settings; rules
/// on "a" in two profiles and one on "b".
struct NamesWorld : CaptureWorld {
    NamesWorld()
    {
        model->configuration.modify([](Configuration& c) {
            c.knownDisplays = {{"a", "Studio"}, {"b", "Side"}, {"old", "Old"}};
            DefaultSettings defaults = c.defaultSettings();
            defaults.setExplicit(
                SettingValue::percent(0.5), controlOf("saved", SettingKey::brightness));
            c.setDefaultSettings(defaults);
            c.profiles.push_back(
                {.id = UUID::random(), .name = "Home", .rules = {ruleOn({"a", "Studio"})}});
            c.profiles.push_back({.id = UUID::random(),
                .name = "Work",
                .rules = {ruleOn({"b", "Side"}), ruleOn({"a", "Studio"})}});
        });
        world.executor.runUntilIdle();
    }

    static Rule ruleOn(DisplayReference screen)
    {
        return {.id = UUID::random(),
            .name = "On " + screen.name,
            .conditions = {.screen = std::move(screen)},
            .settings = {.brightness = 0.5}};
    }

    /// The names of the screen in the device list, the known displays and the rules, in order.
    std::vector<std::string> namesOf(const std::string& id) const
    {
        std::vector<std::string> names;
        for (const DisplayDevice& device : model->displays.get())
            if (device.id == id)
                names.push_back("device " + device.name);
        for (const DisplayReference& known : model->configuration->knownDisplays)
            if (known.id == id)
                names.push_back("known " + known.name);
        for (const Profile& profile : model->configuration->profiles)
            for (const Rule& rule : profile.rules)
                if (rule.conditions.screen && rule.conditions.screen->id == id)
                    names.push_back("rule " + rule.conditions.screen->name);
        return names;
    }
};

TEST(DisplayNamesTest, RenameReachesEveryPlaceAndIsSaved)
{
    using Names = std::vector<std::string>;
    struct Case {
        std::string_view name;
        std::string id;
        std::string newName;
        Names names;
        Names otherNames;
    };
    const Case cases[] = {
        {"connected screen", "a", "  Desk \n",
            {"device Desk", "known Desk", "rule Desk", "rule Desk"},
            {"device Side", "known Side", "rule Side"}},
        {"remembered screen", "old", "Attic", {"known Attic"},
            {"device Side", "known Side", "rule Side"}},
        {"screen known from its Default settings", "saved", "Spare", {},
            {"device Side", "known Side", "rule Side"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        NamesWorld w;
        ASSERT_FALSE(w.model->configuration->displayNames);
        w.model->renameDisplay(c.id, c.newName);
        w.world.executor.advance(std::chrono::seconds(1));
        const std::string trimmedName(trimmed(c.newName));
        EXPECT_EQ(w.model->configuration->displayNames,
            (std::map<std::string, std::string>{{c.id, trimmedName}}));
        EXPECT_EQ(w.namesOf(c.id), c.names);
        EXPECT_EQ(w.namesOf("b"), c.otherNames);
        EXPECT_EQ(w.model->settingsError.get(), std::nullopt);
        EXPECT_EQ(configurationIn(w.model->settingsURL), w.model->configuration.get());
    }
}

TEST(DisplayNamesTest, RenameThatMayNotHappenChangesNothing)
{
    struct Case {
        std::string_view name;
        std::function<void(NamesWorld&)> setUp;
        std::string id;
        std::string newName;
    };
    const Case cases[] = {
        {"blank name", [](auto&) {}, "a", " \t\n"},
        {"unknown screen", [](auto&) {}, "elsewhere", "Desk"},
        {"not loaded", [](auto& w) { w.model->isLoaded.set(false); }, "a", "Desk"},
        {"settings error", [](auto& w) { w.model->settingsError.set("Broken."); }, "a", "Desk"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        NamesWorld w;
        c.setUp(w);
        const Configuration before = w.model->configuration.get();
        const auto devices = w.model->displays.get();
        const auto lastSave = w.model->saveTask.get();
        w.model->renameDisplay(c.id, c.newName);
        EXPECT_EQ(w.model->configuration.get(), before);
        EXPECT_EQ(w.model->displays.get(), devices);
        EXPECT_EQ(w.model->saveTask.get(), lastSave);
    }
}

TEST(DisplayNamesTest, RenameWorksDuringADisplayTestAndReplacesAnEarlierName)
{
    NamesWorld w;
    w.model->preview.set(DisplayPreview{.id = UUID::random(), .displayID = "a"});
    w.model->renameDisplay("a", "Desk");
    w.model->renameDisplay("a", "Bench");
    EXPECT_EQ(
        w.model->configuration->displayNames, (std::map<std::string, std::string>{{"a", "Bench"}}));
    EXPECT_EQ(w.namesOf("a"),
        (std::vector<std::string>{"device Bench", "known Bench", "rule Bench", "rule Bench"}));
    w.model->preview.set(std::nullopt);
}

TEST(LaunchAtLoginTest, FlagsFollowTheStatusReadAfterTheChange)
{
    struct Case {
        std::string_view name;
        bool enable;
        LoginItemStatus before;
        LoginItemStatus afterRegister;
        std::optional<std::string> failure;
        bool loginEnabled;
        bool needsApproval;
    };
    const Case cases[] = {
        {"register", true, LoginItemStatus::notRegistered, LoginItemStatus::enabled, std::nullopt,
            true, false},
        {"register needing approval", true, LoginItemStatus::notRegistered,
            LoginItemStatus::requiresApproval, std::nullopt, false, true},
        {"register refused", true, LoginItemStatus::notRegistered, LoginItemStatus::enabled,
            "Operation not permitted", false, false},
        {"unregister", false, LoginItemStatus::enabled, LoginItemStatus::enabled, std::nullopt,
            false, false},
        {"unregister refused", false, LoginItemStatus::enabled, LoginItemStatus::enabled,
            "Invalid argument", true, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ModelWorld world;
        world.loginItems.currentStatus = c.before;
        world.loginItems.statusAfterRegister = c.afterRegister;
        // Works before the settings are loaded.
        const auto model = world.idleModel();
        model->loginError.set("An earlier failure");
        world.loginItems.failure = c.failure;
        model->setLogin(c.enable);
        EXPECT_EQ(world.loginItems.registrations, c.enable ? 1 : 0);
        EXPECT_EQ(world.loginItems.unregistrations, c.enable ? 0 : 1);
        EXPECT_EQ(model->loginError.get(), c.failure);
        EXPECT_EQ(model->loginEnabled.get(), c.loginEnabled);
        EXPECT_EQ(model->loginNeedsApproval.get(), c.needsApproval);
        EXPECT_FALSE(std::filesystem::exists(model->settingsURL));
    }
}

} // namespace
} // namespace quorvane
