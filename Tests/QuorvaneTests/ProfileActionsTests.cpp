#include "Quorvane/AppModel.h"

#include "AppModelTestSupport.h"
#include "ProfileRuleTestSupport.h"

#include "Concurrency/Sleep.h"

#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace quorvane {
namespace {

using namespace std::chrono_literals;

constexpr std::string_view reservedName = "Default is reserved for the permanent fallback profile.";
constexpr std::string_view permanentDefault = "The permanent Default cannot be deleted.";

/// Default, Work (active, automation off, with one rule) and Evening, with a hold and the
/// bookkeeping an activation must clear.
struct Seeded {
    UUID defaultID;
    UUID work;
    UUID evening;
};

Seeded seed(AppModel& model)
{
    Seeded ids{.defaultID = model.configuration->defaultProfileID,
        .work = addProfile(model, "Work", {brightnessRule("Editor", 0.4)}),
        .evening = addProfile(model, "Evening", {brightnessRule("Film", 0.2)})};
    model.configuration.modify([&](Configuration& document) {
        document.activeProfileID = ids.work;
        document.automationEnabled = false;
    });
    const ControlKey key = keyOf("display-a", SettingKey::brightness);
    model.holds.set({{key, ManualHold{.value = SettingValue::percent(0.3)}}});
    model.manualOriginals.set({{key, SettingValue::percent(0.5)}});
    model.failed.set({{key, SettingValue::percent(0.6)}});
    model.failedModes.set({{"display-a", ModeConfiguration{.hdr = true}}});
    return ids;
}

std::string nameOf(const AppModel& model, const std::optional<UUID>& id)
{
    const Profile* profile = id ? findProfile(model, *id) : nullptr;
    return profile ? profile->name : "";
}

TEST(ProfileActionsTest, GuardsRefusalsAndEffects)
{
    using Action = std::function<void(AppModel&, const Seeded&)>;
    struct Case {
        std::string_view name;
        Guard guard = Guard::none;
        Action action;
        std::vector<std::string> profiles{"Default", "Work", "Evening"};
        std::string active = "Work";
        std::string selected = "Default";
        /// Activation: automation on and every hold and failure dropped.
        bool activates = false;
        std::optional<std::string_view> error{};
        bool saves = true;
    };
    const auto create = [](std::string name) {
        return [name](AppModel& model, const Seeded&) { model.createProfile(name); };
    };
    const auto renameWork = [](std::string name) {
        return [name](AppModel& model, const Seeded& ids) { model.renameProfile(ids.work, name); };
    };
    const auto renameDefault = [](std::string name) {
        return [name](AppModel& model, const Seeded& ids) {
            model.renameProfile(ids.defaultID, name);
        };
    };
    const Action deleteEvening
        = [](AppModel& model, const Seeded& ids) { model.deleteProfile(ids.evening); };
    const Action deleteDefault
        = [](AppModel& model, const Seeded& ids) { model.deleteProfile(ids.defaultID); };
    const Action activateEvening
        = [](AppModel& model, const Seeded& ids) { model.activateProfile(ids.evening); };
    const Action duplicateEvening = [](AppModel& model, const Seeded& ids) {
        model.duplicateProfile(*findProfile(model, ids.evening));
    };
    const std::vector<std::string> added{"Default", "Work", "Evening", "Night"};
    const Case cases[] = {
        {.name = "create trims",
            .action = create("  Night \n"),
            .profiles = added,
            .selected = "Night"},
        {.name = "create blank", .action = create(" \t "), .saves = false},
        {.name = "create reserved",
            .action = create(" dEfAuLt "),
            .error = reservedName,
            .saves = false},
        {.name = "create Default copy",
            .action = create("Default copy"),
            .profiles = {"Default", "Work", "Evening", "Default copy"},
            .selected = "Default copy"},
        {.name = "create Defaults",
            .action = create("Defaults"),
            .profiles = {"Default", "Work", "Evening", "Defaults"},
            .selected = "Defaults"},
        {.name = "create same name twice",
            .action = create("Work"),
            .profiles = {"Default", "Work", "Evening", "Work"},
            .selected = "Work"},
        {.name = "create", .guard = Guard::notLoaded, .action = create("Night"), .saves = false},
        {.name = "create",
            .guard = Guard::settingsError,
            .action = create("Night"),
            .saves = false},
        {.name = "create",
            .guard = Guard::displayTest,
            .action = create("Night"),
            .profiles = added,
            .selected = "Night"},
        {.name = "rename trims",
            .action = renameWork(" Office "),
            .profiles = {"Default", "Office", "Evening"},
            .active = "Office"},
        {.name = "rename reserved",
            .action = renameWork("DEFAULT"),
            .error = reservedName,
            .saves = false},
        {.name = "rename blank", .action = renameWork("  "), .saves = false},
        {.name = "rename Default", .action = renameDefault("Main"), .saves = false},
        {.name = "rename Default to reserved", .action = renameDefault("default"), .saves = false},
        {.name = "rename unknown",
            .action
            = [](AppModel& model, const Seeded&) { model.renameProfile(UUID::random(), "X"); },
            .saves = false},
        {.name = "rename",
            .guard = Guard::notLoaded,
            .action = renameWork("Office"),
            .saves = false},
        {.name = "rename",
            .guard = Guard::displayTest,
            .action = renameWork("Office"),
            .profiles = {"Default", "Office", "Evening"},
            .active = "Office"},
        {.name = "delete inactive",
            .action = deleteEvening,
            .profiles = {"Default", "Work"},
            .selected = "Work"},
        {.name = "delete active falls back to Default",
            .action = [](AppModel& model, const Seeded& ids) { model.deleteProfile(ids.work); },
            .profiles = {"Default", "Evening"},
            .active = "Default",
            .activates = true},
        {.name = "delete Default",
            .action = deleteDefault,
            .error = permanentDefault,
            .saves = false},
        {.name = "delete Default",
            .guard = Guard::notLoaded,
            .action = deleteDefault,
            .saves = false},
        {.name = "delete unknown",
            .action = [](AppModel& model, const Seeded&) { model.deleteProfile(UUID::random()); },
            .saves = false},
        {.name = "delete", .guard = Guard::displayTest, .action = deleteEvening, .saves = false},
        {.name = "delete", .guard = Guard::settingsError, .action = deleteEvening, .saves = false},
        {.name = "duplicate",
            .action = duplicateEvening,
            .profiles = {"Default", "Work", "Evening", "Evening copy"},
            .selected = "Evening copy"},
        {.name = "duplicate Default",
            .action =
                [](AppModel& model, const Seeded& ids) {
                    model.duplicateProfile(*findProfile(model, ids.defaultID));
                },
            .saves = false},
        {.name = "duplicate",
            .guard = Guard::displayTest,
            .action = duplicateEvening,
            .profiles = {"Default", "Work", "Evening", "Evening copy"},
            .selected = "Evening copy"},
        {.name = "duplicate",
            .guard = Guard::settingsError,
            .action = duplicateEvening,
            .saves = false},
        {.name = "activate", .action = activateEvening, .active = "Evening", .activates = true},
        {.name = "activate the active one again",
            .action = [](AppModel& model, const Seeded& ids) { model.activateProfile(ids.work); },
            .activates = true},
        {.name = "activate unknown",
            .action = [](AppModel& model, const Seeded&) { model.activateProfile(UUID::random()); },
            .saves = false},
        {.name = "activate",
            .guard = Guard::displayTest,
            .action = activateEvening,
            .saves = false},
        {.name = "activate", .guard = Guard::notLoaded, .action = activateEvening, .saves = false},
        {.name = "switch on",
            .action
            = [](AppModel& model, const Seeded& ids) { model.setProfileActive(ids.evening, true); },
            .active = "Evening",
            .activates = true},
        {.name = "switch off an inactive one",
            .action = [](AppModel& model,
                          const Seeded& ids) { model.setProfileActive(ids.evening, false); },
            .saves = false},
        {.name = "switch off the active one",
            .action
            = [](AppModel& model, const Seeded& ids) { model.setProfileActive(ids.work, false); },
            .active = "Default",
            .activates = true},
        {.name = "switch on",
            .guard = Guard::displayTest,
            .action
            = [](AppModel& model, const Seeded& ids) { model.setProfileActive(ids.evening, true); },
            .saves = false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.name) + ", " + std::string(guardName(c.guard)));
        ModelWorld world;
        const auto model = world.startedModel();
        const Seeded ids = seed(*model);
        model->persist();
        world.executor.runUntilIdle();
        const std::optional<TaskHandle> saveBefore = model->saveTask.get();
        const auto holdsBefore = model->holds.get();
        trip(*model, c.guard);

        c.action(*model, ids);
        world.executor.runUntilIdle();

        EXPECT_EQ(profileNames(model->configuration.get()), c.profiles);
        EXPECT_EQ(nameOf(*model, model->configuration->activeProfileID), c.active);
        EXPECT_EQ(nameOf(*model, model->selectedProfileID.get()), c.selected);
        EXPECT_EQ(model->configuration->automationEnabled, c.activates);
        EXPECT_EQ(model->holds->empty(), c.activates);
        EXPECT_EQ(model->manualOriginals->empty(), c.activates);
        EXPECT_EQ(model->failed->empty(), c.activates);
        EXPECT_EQ(model->failedModes->empty(), c.activates);
        if (!c.activates) {
            EXPECT_EQ(model->holds.get(), holdsBefore);
        }
        EXPECT_EQ(model->actionError.get(),
            c.error ? std::optional<std::string>(*c.error) : std::nullopt);
        EXPECT_EQ(model->saveTask.get() != saveBefore, c.saves);
        if (c.saves) {
            EXPECT_EQ(configurationIn(world.defaultSettingsFile()), model->configuration.get());
        }
    }
}

TEST(ProfileActionsTest, ADuplicateIsBuiltFromTheValueGivenWithNewIdentifiers)
{
    ModelWorld world;
    const auto model = world.startedModel();
    const Seeded ids = seed(*model);
    Profile shown = *findProfile(*model, ids.evening);
    shown.rules.push_back(brightnessRule("Late", 0.1)); // not stored: the view's copy
    model->selectedRuleID.set(shown.rules.front().id);

    model->duplicateProfile(shown);
    model->duplicateProfile(model->selectedProfile());

    const std::vector<Profile>& profiles = model->configuration->profiles;
    ASSERT_EQ(profiles.size(), 5U);
    const Profile& copy = profiles[3];
    EXPECT_EQ(copy.name, "Evening copy");
    EXPECT_EQ(profiles[4].name, "Evening copy copy");
    EXPECT_EQ(model->selectedProfileID.get(), profiles[4].id);
    EXPECT_FALSE(model->selectedRuleID.get());
    ASSERT_EQ(copy.rules.size(), 2U);
    for (std::size_t index = 0; index < copy.rules.size(); ++index) {
        EXPECT_EQ(copy.rules[index].name, shown.rules[index].name);
        EXPECT_NE(copy.rules[index].id, shown.rules[index].id);
    }
}

TEST(ProfileActionsTest, DeletingThePreviewedProfileEndsThePreviewFirst)
{
    for (const bool previewsDeleted : {true, false}) {
        SCOPED_TRACE(previewsDeleted ? "previewed profile" : "another profile");
        ModelWorld world;
        const auto model = world.startedModel();
        const Seeded ids = seed(*model);
        const Profile& previewed = *findProfile(*model, previewsDeleted ? ids.evening : ids.work);
        model->liveRuleEdit.set(LiveRuleEdit{.id = UUID::random(),
            .profileID = previewed.id,
            .ruleID = previewed.rules.front().id,
            .settings = {}});

        model->deleteProfile(ids.evening);

        EXPECT_EQ(model->liveRuleEdit->has_value(), !previewsDeleted);
        EXPECT_FALSE(findProfile(*model, ids.evening));
    }
}

TEST(ProfileActionsTest, SwitchingOffTheActiveDefaultStopsAutomationAndKeepsItActive)
{
    ModelWorld world;
    const auto model = world.startedModel();
    const Seeded ids = seed(*model);
    model->activateProfile(ids.defaultID);
    ASSERT_TRUE(model->configuration->automationEnabled);

    model->setProfileActive(ids.defaultID, false);

    EXPECT_EQ(model->configuration->activeProfileID, ids.defaultID);
    EXPECT_FALSE(model->configuration->automationEnabled);
}

Task<void> sleepFor(ContinuousClock::duration duration) { co_await sleep(duration); }

TEST(ProfileActionsTest, ActivationStopsEverythingStartedForTheOldProfile)
{
    ModelWorld world;
    const auto model = world.startedModel();
    const Seeded ids = seed(*model);
    // Suspended: the re-resolution after the switch starts nothing that would hide the stops.
    model->isSuspended.set(true);
    const ControlKey key = keyOf("display-a", SettingKey::brightness);
    const TaskHandle write = spawn(world.executor, sleepFor(1h));
    const TaskHandle modeChange = spawn(world.executor, sleepFor(1h));
    const TaskHandle keyRead = spawn(world.executor, sleepFor(1h));
    model->tasks.set({{key, write}});
    model->modeTasks.set({{"display-a", modeChange}});
    model->keyReadTask.set(keyRead);
    ASSERT_TRUE(model->scheduler().schedule(
        RuntimeContext{.appBundleID = "com.example.old"}, 300, false, [] { return sleepFor(0s); }));
    const UUID displayRequest = model->systemDisplayCommandID.get();

    model->activateProfile(ids.evening);
    world.executor.runUntilIdle();

    EXPECT_TRUE(write.isFinished());
    EXPECT_TRUE(modeChange.isFinished());
    EXPECT_TRUE(keyRead.isFinished());
    EXPECT_FALSE(model->scheduler().isWaiting());
    EXPECT_NE(model->systemDisplayCommandID.get(), displayRequest);
    EXPECT_TRUE(model->tasks->empty());
    EXPECT_TRUE(model->modeTasks->empty());
}

} // namespace
} // namespace quorvane
