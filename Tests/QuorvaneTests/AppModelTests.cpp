#include "Quorvane/AppModel.h"

#include "AppModelTestSupport.h"
#include "Quorvane/DisplayTestPresenter.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace quorvane {
namespace {

DisplayDevice display(std::string id, bool isBuiltIn = false)
{
    return DisplayDevice{.id = std::move(id), .name = "Screen", .isBuiltIn = isBuiltIn};
}

SpaceSnapshot spaces(std::vector<std::string> ids)
{
    SpaceSnapshot snapshot;
    for (std::string& id : ids)
        snapshot.desktops.push_back({.id = std::move(id), .name = "Space"});
    return snapshot;
}

class AppModelTest : public ::testing::Test {
protected:
    ModelWorld world;
    std::shared_ptr<AppModel> model = world.idleModel();
};

TEST_F(AppModelTest, FreshModelStartsIdleWithItsOwnCommandID)
{
    EXPECT_EQ(model->now.get(), world.executor.wallNow());
    EXPECT_EQ(model->configuration->profiles.size(), 1U);
    EXPECT_EQ(model->selectedProfile().name, "Default");
    EXPECT_NE(model->systemDisplayCommandID.get(), world.idleModel()->systemDisplayCommandID.get());
}

TEST(LoginFlagsTest, LoginFlagsFollowTheLoginItemStatus)
{
    for (const auto& [status, enabled, needsApproval] :
        {std::tuple{LoginItemStatus::enabled, true, false},
            std::tuple{LoginItemStatus::requiresApproval, false, true}}) {
        SCOPED_TRACE(static_cast<int>(status));
        ModelWorld world;
        world.loginItems.currentStatus = status;
        const auto model = world.idleModel();
        EXPECT_EQ(model->loginEnabled.get(), enabled);
        EXPECT_EQ(model->loginNeedsApproval.get(), needsApproval);
    }
}

TEST_F(AppModelTest, OnlyUncomparableFieldsNotifyWhenRewrittenUnchanged)
{
    int notifications = 0;
    const auto count = [&] { ++notifications; };
    const Subscription subscriptions[]
        = {model->page.observe(count), model->hardwareSnapshot.observe(count),
            model->spacesByDisplay.observe(count), model->modeStability.observe(count),
            model->keyQueue.observe(count), model->liveRuleEdit.observe(count),
            model->preview.observe(count), model->ruleCopyFeedback.observe(count)};

    model->page.set(AppPage::profiles);
    model->hardwareSnapshot.set({});
    model->spacesByDisplay.set({});
    model->modeStability.set({});
    model->keyQueue.set({});
    model->liveRuleEdit.set(std::nullopt);
    model->preview.set(std::nullopt);
    model->ruleCopyFeedback.set(std::nullopt);
    EXPECT_EQ(notifications, 7);
}

class RecordingPresenter final : public DisplayTestPresenter {
public:
    void update(AppModel& model) override
    {
        const auto& preview = model.preview.get();
        phases.push_back(preview ? std::optional(preview->phase) : std::nullopt);
    }
    std::vector<std::optional<DisplayPreview::Phase>> phases;
};

TEST_F(AppModelTest, EveryPreviewChangeReachesThePresenterWithTheNewValue)
{
    model->preview.set(DisplayPreview{.id = UUID::random()}); // no presenter yet
    RecordingPresenter presenter;
    model->displayTestPresenter = &presenter;

    using Phase = DisplayPreview::Phase;
    model->preview.modify([](auto& preview) { preview->phase = Phase::confirming; });
    model->preview.modify([](auto&) {});
    model->preview.set(std::nullopt);
    EXPECT_EQ(presenter.phases,
        (std::vector<std::optional<Phase>>{Phase::confirming, Phase::confirming, std::nullopt}));
}

TEST(AutomationTest, AutomationWaitsForEveryConditionInTurn)
{
    const std::pair<const char*, std::function<void(AppModel&)>> spoilers[] = {
        {"not loaded", [](AppModel& m) { m.isLoaded.set(false); }},
        {"settings error", [](AppModel& m) { m.settingsError.set("Broken."); }},
        {"automation off",
            [](AppModel& m) {
                m.configuration.modify([](auto& c) { c.automationEnabled = false; });
            }},
        {"suspended", [](AppModel& m) { m.isSuspended.set(true); }},
        {"quitting", [](AppModel& m) { m.isQuitting.set(true); }},
        {"refreshing", [](AppModel& m) { m.isRefreshing.set(true); }},
        {"capture still saving", [](AppModel& m) { m.pendingDefaultCaptureSaves.set(1); }},
    };
    for (const auto& [what, spoil] : spoilers) {
        SCOPED_TRACE(what);
        ModelWorld world;
        const auto model = world.idleModel();
        model->isLoaded.set(true);
        model->configuration.modify([](Configuration& c) { c.automationEnabled = true; });
        ASSERT_TRUE(model->canApplyAutomatically());
        spoil(*model);
        EXPECT_FALSE(model->canApplyAutomatically());
    }
}

TEST_F(AppModelTest, SelectedProfileFallsBackToTheActiveOne)
{
    const Profile work{.id = UUID::random(), .name = "Work"};
    const Profile play{.id = UUID::random(), .name = "Play"};
    model->configuration.modify([&](Configuration& document) {
        document.profiles.insert(document.profiles.end(), {work, play});
        document.activeProfileID = play.id;
    });
    for (const auto& [selected, expected] :
        {std::pair{std::optional<UUID>(), "Play"}, std::pair{std::optional(work.id), "Work"},
            std::pair{std::optional(UUID::random()), "Play"}}) {
        model->selectedProfileID.set(selected);
        EXPECT_EQ(model->selectedProfile().name, expected);
    }
}

TEST_F(AppModelTest, AllSpacesListsEachSpaceOnceInDisplayOrder)
{
    model->displays.set({display("b"), display("a"), display("c")});
    model->spacesByDisplay.set({{"a", spaces({"shared", "a1"})}, {"b", spaces({"b1", "shared"})},
        {"gone", spaces({"g"})}});
    std::vector<std::string> ids;
    for (const Desktop& desktop : model->allSpaces())
        ids.push_back(desktop.id);
    EXPECT_EQ(ids, (std::vector<std::string>{"b1", "shared", "a1"}));
}

TEST_F(AppModelTest, KnownScreensAddSavedScreensAndUserNames)
{
    model->configuration.modify([](Configuration& document) {
        document.knownDisplays = {{.id = "m", .name = "Monitor"}, {.id = "k", .name = "Known"}};
        DefaultSettings defaults;
        for (const char* id : {"z", "k", "b"})
            defaults.displays[id] = RuleSettings{};
        document.setDefaultSettings(defaults);
        document.displayNames = std::map<std::string, std::string>{{"z", "Desk"}, {"m", "Left"}};
    });
    EXPECT_EQ(model->knownScreens(),
        (std::vector<DisplayReference>{{.id = "m", .name = "Left"}, {.id = "k", .name = "Known"},
            {.id = "b", .name = "Saved screen · b"}, {.id = "z", .name = "Desk"}}));
}

TEST_F(AppModelTest, BuiltinBrightnessKeyNeedsABuiltInDisplay)
{
    model->displays.set({display("x1"), display("x2")});
    EXPECT_FALSE(model->builtinBrightnessKey());
    model->displays.set({display("x1"), display("in1", true), display("in2", true)});
    EXPECT_EQ(model->builtinBrightnessKey(),
        (ControlKey{.target = ControlTarget::display("in1"), .setting = SettingKey::brightness}));
}

TEST(AppChoiceTest, PagesRoundTripTheirRawValuesAndHashTellsAnAbsentLocationFromAnEmptyOne)
{
    for (const AppPage page : {AppPage::profiles, AppPage::displays, AppPage::settings})
        EXPECT_EQ(appPage(rawValue(page)), page);
    EXPECT_FALSE(appPage("Profiles"));
    const AppChoice bare{.id = "com.a", .name = "A"};
    AppChoice located = bare;
    located.url = std::filesystem::path();
    EXPECT_NE(std::hash<AppChoice>{}(bare), std::hash<AppChoice>{}(located));
}

} // namespace
} // namespace quorvane
