#include "Quorvane/AppModel.h"

#include "AppModelTestSupport.h"
#include "ProfileRuleTestSupport.h"

#include "Concurrency/Sleep.h"

#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace quorvane {
namespace {

using namespace std::chrono_literals;

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

/// Runs "verb profile [name]": profiles W(ork), E(vening), D(efault) or ? (missing); the name
/// is the rest of the command, "|" marking its ends.
void run(AppModel& model, const Seeded& s, std::string_view command)
{
    const std::string verb(command.substr(0, command.find(' ')));
    const std::map<char, UUID> profiles{{'W', s.work}, {'E', s.evening}, {'D', s.defaultID}};
    const char which = command.size() > verb.size() + 1 ? command[verb.size() + 1] : '?';
    const UUID profile = profiles.contains(which) ? profiles.at(which) : UUID::random();
    const auto bar = command.find('|');
    const std::string name(
        bar == std::string_view::npos ? "" : command.substr(bar + 1, command.rfind('|') - bar - 1));
    if (verb == "create")
        model.createProfile(name);
    else if (verb == "rename")
        model.renameProfile(profile, name);
    else if (verb == "delete")
        model.deleteProfile(profile);
    else if (verb == "duplicate")
        model.duplicateProfile(*findProfile(model, profile));
    else if (verb == "activate")
        model.activateProfile(profile);
    else
        model.setProfileActive(profile, verb == "on");
}

TEST(ProfileActionsTest, GuardsRefusalsAndEffects)
{
    struct Case {
        Guard guard;
        std::string_view command;
        /// "profiles|active|selected", then " auto" when automation is on, " cleared" when every
        /// hold and failure was dropped, " saved" and " error" when they happen.
        std::string_view expected;
    };
    const std::string_view same = "Default Work Evening|Work|Default";
    const std::string_view night = "Default Work Evening Night|Work|Night saved";
    const std::string_view evening = "Default Work Evening|Evening|Default auto cleared saved";
    const std::string_view fallback = "Default Work Evening|Default|Default auto cleared saved";
    const Case cases[] = {
        {Guard::none, "create - |  Night \n|", night},
        {Guard::none, "create - | \t |", same},
        {Guard::none, "create - | dEfAuLt |", "Default Work Evening|Work|Default error"},
        {Guard::none, "create - |Defaults|", "Default Work Evening Defaults|Work|Defaults saved"},
        {Guard::none, "create - |Work|", "Default Work Evening Work|Work|Work saved"},
        {Guard::notLoaded, "create - |Night|", same},
        {Guard::settingsError, "create - |Night|", same},
        {Guard::displayTest, "create - |Night|", night},
        {Guard::none, "rename W | Office |", "Default Office Evening|Office|Default saved"},
        {Guard::none, "rename W |DEFAULT|", "Default Work Evening|Work|Default error"},
        {Guard::none, "rename W |  |", same},
        {Guard::none, "rename D |Main|", same},
        {Guard::none, "rename D |default|", same}, // the Default is refused before its name
        {Guard::none, "rename ? |X|", same},
        {Guard::notLoaded, "rename W |Office|", same},
        {Guard::displayTest, "rename W |Office|", "Default Office Evening|Office|Default saved"},
        {Guard::none, "delete E", "Default Work|Work|Work saved"},
        {Guard::none, "delete W", "Default Evening|Default|Default auto cleared saved"},
        {Guard::none, "delete D", "Default Work Evening|Work|Default error"},
        {Guard::notLoaded, "delete D", same},
        {Guard::none, "delete ?", same},
        {Guard::displayTest, "delete E", same},
        {Guard::settingsError, "delete E", same},
        {Guard::none, "duplicate E", "Default Work Evening Evening copy|Work|Evening copy saved"},
        {Guard::none, "duplicate D", same},
        {Guard::displayTest, "duplicate E",
            "Default Work Evening Evening copy|Work|Evening copy saved"},
        {Guard::settingsError, "duplicate E", same},
        {Guard::none, "activate E", evening},
        {Guard::none, "activate W", "Default Work Evening|Work|Default auto cleared saved"},
        {Guard::none, "activate ?", same},
        {Guard::displayTest, "activate E", same},
        {Guard::notLoaded, "activate E", same},
        {Guard::none, "on E", evening},
        {Guard::none, "off E", same},
        {Guard::none, "off W", fallback},
        // The Default stays active when switched off; only automation stops.
        {Guard::none, "activate D; off D", "Default Work Evening|Default|Default cleared saved"},
        {Guard::displayTest, "on E", same},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.command) + " " + std::to_string(static_cast<int>(c.guard)));
        ModelWorld world;
        const auto model = world.startedModel();
        const Seeded ids = seed(*model);
        model->persist();
        world.executor.runUntilIdle();
        const std::optional<TaskHandle> saveBefore = model->saveTask.get();
        const auto holdsBefore = model->holds.get();
        trip(*model, c.guard);

        for (std::string_view rest = c.command; !rest.empty();) {
            run(*model, ids, rest.substr(0, rest.find("; ")));
            rest
                = rest.find("; ") == std::string_view::npos ? "" : rest.substr(rest.find("; ") + 2);
        }
        world.executor.runUntilIdle();

        std::string shown;
        for (const Profile& profile : model->configuration->profiles)
            shown += (shown.empty() ? "" : " ") + profile.name;
        shown += "|" + nameOf(*model, model->configuration->activeProfileID) + "|"
            + nameOf(*model, model->selectedProfileID.get());
        const bool cleared = model->holds->empty() && model->manualOriginals->empty()
            && model->failed->empty() && model->failedModes->empty();
        const bool kept = model->holds.get() == holdsBefore && !model->manualOriginals->empty()
            && !model->failed->empty() && !model->failedModes->empty();
        const bool saved = model->saveTask.get() != saveBefore;
        const std::string_view holdsState = cleared ? " cleared" : kept ? "" : " partly";
        shown += std::string(model->configuration->automationEnabled ? " auto" : "")
            + std::string(holdsState) + (saved ? " saved" : "")
            + (model->actionError->has_value() ? " error" : "");
        EXPECT_EQ(shown, c.expected);
        if (saved) {
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

    const auto& profiles = model->configuration->profiles;
    ASSERT_EQ(profiles.size(), 5U);
    EXPECT_EQ(profiles[3].name + "|" + profiles[4].name, "Evening copy|Evening copy copy");
    EXPECT_EQ(model->selectedProfileID.get(), profiles[4].id);
    EXPECT_FALSE(model->selectedRuleID.get());
    Profile copy = profiles[3];
    for (std::size_t index = 0; index < copy.rules.size() && index < shown.rules.size(); ++index)
        EXPECT_NE(
            std::exchange(copy.rules.edit(index).id, shown.rules[index].id), shown.rules[index].id);
    EXPECT_EQ(copy.rules, shown.rules);
}

TEST(ProfileActionsTest, RenamesAndDeletionsAreToldOnceAndLeaveEarlierCopiesAlone)
{
    ModelWorld world;
    const auto model = world.startedModel();
    const Seeded ids = seed(*model);
    const Configuration before = model->configuration.get();
    int changes = 0;
    const Subscription counting = model->configuration.observe([&] { ++changes; });

    model->renameProfile(ids.work, "Office");
    EXPECT_EQ(changes, 1);
    model->renameProfile(ids.work, " Office "); // the same name once trimmed
    EXPECT_EQ(changes, 1);
    model->deleteProfile(ids.evening);
    EXPECT_EQ(changes, 2);

    EXPECT_EQ(nameOf(*model, ids.work), "Office");
    EXPECT_FALSE(findProfile(*model, ids.evening));
    ASSERT_EQ(before.profiles.size(), 3U);
    EXPECT_EQ(before.profiles[1].name + " " + before.profiles[2].name, "Work Evening");
}

TEST(ProfileActionsTest, TheSelectedProfileIsFoundWhereverItMoves)
{
    ModelWorld world;
    const auto model = world.startedModel();
    const Seeded ids = seed(*model);
    const auto selectedName = [&] { return model->selectedProfile().name; };
    model->selectProfile(ids.evening);
    EXPECT_EQ(selectedName(), "Evening");

    model->deleteProfile(ids.work); // Evening moves up one place
    model->selectProfile(ids.evening);
    EXPECT_EQ(selectedName(), "Evening");
    model->configuration.modify([](Configuration& document) {
        document.profiles.insert(document.profiles.begin(), {.id = UUID::random(), .name = "Den"});
    });
    EXPECT_EQ(selectedName(), "Evening");
    const UUID den = model->configuration->profiles.front().id;
    model->selectProfile(den);
    EXPECT_EQ(selectedName(), "Den");
    // Without the selected profile, the active one stands in.
    model->selectedProfileID.set(UUID::random());
    EXPECT_EQ(selectedName(), nameOf(*model, model->configuration->activeProfileID));
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

    EXPECT_EQ(
        std::vector({write.isFinished(), modeChange.isFinished(), keyRead.isFinished(),
            !model->scheduler().isWaiting(), model->tasks->empty(), model->modeTasks->empty()}),
        std::vector<bool>(6, true));
    EXPECT_NE(model->systemDisplayCommandID.get(), displayRequest);
}

} // namespace
} // namespace quorvane
