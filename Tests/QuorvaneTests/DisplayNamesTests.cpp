#include "CaptureTestSupport.h"
#include "Foundation/Text.h"

#include <gtest/gtest.h>

#include <functional>

namespace quorvane {
namespace {

/// Connected "a" and "b"; "old" remembered; "saved" known only from its Default settings; rules
/// on "a" in two profiles, the first stored one among them, and one on "b".
struct NamesWorld : CaptureWorld {
    NamesWorld()
    {
        model->configuration.modify([](Configuration& c) {
            c.knownDisplays = {{"a", "Studio"}, {"b", "Side"}, {"old", "Old"}};
            DefaultSettings defaults = c.defaultSettings();
            defaults.setExplicit(
                SettingValue::percent(0.5), controlOf("saved", SettingKey::brightness));
            c.setDefaultSettings(defaults);
            // Stored before the Default profile, which need not come first.
            c.profiles.insert(c.profiles.begin(),
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
    const std::tuple<std::string, std::string, Names> cases[] = {
        {"a", "  Desk \n", {"device Desk", "known Desk", "rule Desk", "rule Desk"}},
        {"old", "Attic", {"known Attic"}},
        {"saved", "Spare", {}},
    };
    for (const auto& [id, newName, names] : cases) {
        SCOPED_TRACE(id);
        NamesWorld w;
        // Works during a display test; a later name replaces an earlier one.
        w.model->preview.set(DisplayPreview{.id = UUID::random(), .displayID = "a"});
        w.model->renameDisplay(id, "Interim");
        w.model->renameDisplay(id, newName);
        w.model->preview.set(std::nullopt);
        w.world.executor.advance(std::chrono::seconds(1));
        EXPECT_EQ(w.model->configuration->displayNames,
            (std::map<std::string, std::string>{{id, std::string(trimmed(newName))}}));
        EXPECT_EQ(w.namesOf(id), names);
        EXPECT_EQ(w.namesOf("b"), (Names{"device Side", "known Side", "rule Side"}));
        EXPECT_EQ(configurationIn(w.model->settingsURL), w.model->configuration.get());
    }
}

TEST(DisplayNamesTest, RenameThatMayNotHappenChangesNothing)
{
    const std::tuple<std::string_view, std::function<void(NamesWorld&)>, std::string, std::string>
        cases[] = {
            {"blank name", [](auto&) {}, "a", " \t\n"},
            {"unknown screen", [](auto&) {}, "elsewhere", "Desk"},
            {"not loaded", [](auto& w) { w.model->isLoaded.set(false); }, "a", "Desk"},
            {"settings error", [](auto& w) { w.model->settingsError.set("Broken."); }, "a", "Desk"},
        };
    for (const auto& [name, setUp, id, newName] : cases) {
        SCOPED_TRACE(name);
        NamesWorld w;
        setUp(w);
        const Configuration before = w.model->configuration.get();
        const auto devices = w.model->displays.get();
        const auto lastSave = w.model->saveTask.get();
        w.model->renameDisplay(id, newName);
        EXPECT_EQ(w.model->configuration.get(), before);
        EXPECT_EQ(w.model->displays.get(), devices);
        EXPECT_EQ(w.model->saveTask.get(), lastSave);
    }
}

TEST(DisplayNamesTest, ASpaceIsNamedWithItsScreenOnlyWhereAnotherSpaceHasItsName)
{
    const NamesWorld w;
    const Desktop onStudio{.id = "s1", .name = "Space 1", .displayID = "a"};
    const Desktop onSide{.id = "d1", .name = "Space 1", .displayID = "b"};
    const Desktop second{.id = "s2", .name = "Space 2", .displayID = "a"};
    const std::pair<Desktop, std::string> cases[] = {
        {onStudio, "Space 1 (Studio)"},
        {second, "Space 2"},
        {{.id = "x1", .name = "Space 1", .displayID = "old"}, "Space 1 (Old)"},
        {{.id = "x1", .name = "Space 1", .displayID = "gone"}, "Space 1"},
        {{.id = "x1", .name = "Space 1", .isShared = true}, "Space 1 (all screens)"},
    };
    for (const auto& [space, label] : cases)
        EXPECT_EQ(w.model->spaceLabel(space, {onStudio, onSide, second}), label);
}

TEST(DisplayNamesTest, ScreensOfOneNameAreNumberedInTheOrderFirstSeenUntilOneIsRenamed)
{
    using Labels = std::vector<std::string>;
    const auto labels = [](const NamesWorld& w) {
        Labels shown;
        for (const DisplayReference& screen : w.model->knownScreens())
            shown.push_back(w.model->screenLabel(screen));
        for (const DisplayReference& screen :
            {DisplayReference{"gone", "Studio"}, {"gone", "Gone"}})
            shown.push_back(w.model->screenLabel(screen));
        const Desktop onStudio{.id = "s1", .name = "Space 1", .displayID = "a"};
        const Desktop onSide{.id = "d1", .name = "Space 1", .displayID = "b"};
        shown.push_back(w.model->spaceLabel(onSide, {onStudio, onSide}));
        shown.push_back(w.model->spaceLabel(onStudio, {onStudio, onSide}));
        for (const Profile& profile : w.model->configuration->profiles)
            for (const Rule& rule : profile.rules)
                if (rule.conditions.screen && rule.conditions.screen->id.starts_with("forgotten"))
                    shown.push_back(w.model->screenLabel(*rule.conditions.screen));
        return shown;
    };
    const std::tuple<std::string_view, std::function<void(NamesWorld&)>, Labels> cases[] = {
        {"names apart", [](auto&) {},
            {"Studio", "Side", "Old", "Saved screen · saved", "Studio 2", "Gone",
                "Space 1 (Side)", "Space 1 (Studio)"}},
        {"two of one name",
            [](auto& w) {
                w.model->configuration.modify(
                    [](Configuration& c) { c.knownDisplays[1].name = "Studio"; });
            },
            {"Studio 1", "Studio 2", "Old", "Saved screen · saved", "Studio 3", "Gone",
                "Space 1 (Studio 2)", "Space 1 (Studio 1)"}},
        {"a user's name alike",
            [](auto& w) {
                w.model->renameDisplay("saved", "Studio");
                w.model->renameDisplay("old", "Studio");
            },
            {"Studio 1", "Side", "Studio 2", "Studio 3", "Studio 4", "Gone", "Space 1 (Side)",
                "Space 1 (Studio 1)"}},
        {"renamed apart",
            [](auto& w) {
                w.model->configuration.modify(
                    [](Configuration& c) { c.knownDisplays[1].name = "Studio"; });
                w.model->renameDisplay("b", "Studio left");
            },
            {"Studio", "Studio left", "Old", "Saved screen · saved", "Studio 2", "Gone",
                "Space 1 (Studio left)", "Space 1 (Studio)"}},
        {"forgotten screens of one name",
            [](auto& w) {
                w.model->configuration.modify([](Configuration& c) {
                    c.profiles.push_back({.id = UUID::random(),
                        .name = "Away",
                        .rules = {NamesWorld::ruleOn({"forgotten 1", "Studio"}),
                            NamesWorld::ruleOn({"forgotten 2", "Desk"}),
                            NamesWorld::ruleOn({"forgotten 3", "Studio"}),
                            NamesWorld::ruleOn({"forgotten 4", "Desk"})}});
                });
            },
            {"Studio 1", "Side", "Old", "Saved screen · saved", "Studio 4", "Gone",
                "Space 1 (Side)", "Space 1 (Studio 1)", "Studio 2", "Desk 1", "Studio 3",
                "Desk 2"}},
    };
    for (const auto& [name, setUp, expected] : cases) {
        SCOPED_TRACE(name);
        NamesWorld w;
        setUp(w);
        EXPECT_EQ(labels(w), expected);
    }
}

TEST(LaunchAtLoginTest, FlagsFollowTheStatusReadAfterTheChange)
{
    using enum LoginItemStatus;
    // Enable, the status after registering, the failure; then enabled and needing approval.
    const std::tuple<std::string_view, bool, LoginItemStatus, std::optional<std::string>,
        std::pair<bool, bool>>
        cases[] = {
            {"register", true, enabled, std::nullopt, {true, false}},
            {"register needing approval", true, requiresApproval, std::nullopt, {false, true}},
            {"register refused", true, enabled, "Operation not permitted", {false, false}},
            {"unregister", false, enabled, std::nullopt, {false, false}},
            {"unregister refused", false, enabled, "Invalid argument", {true, false}},
        };
    for (const auto& [name, enable, afterRegister, failure, flags] : cases) {
        SCOPED_TRACE(name);
        ModelWorld world;
        world.loginItems.currentStatus = enable ? notRegistered : enabled;
        world.loginItems.statusAfterRegister = afterRegister;
        // Works before the settings are loaded.
        const auto model = world.idleModel();
        model->loginError.set("An earlier failure");
        world.loginItems.failure = failure;
        model->setLogin(enable);
        EXPECT_EQ(std::pair(world.loginItems.registrations, world.loginItems.unregistrations),
            std::pair(enable ? 1 : 0, enable ? 0 : 1));
        EXPECT_EQ(model->loginError.get(), failure);
        EXPECT_EQ(std::pair(model->loginEnabled.get(), model->loginNeedsApproval.get()), flags);
        EXPECT_FALSE(std::filesystem::exists(model->settingsURL));
    }
}

} // namespace
} // namespace quorvane
