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

Desktop space(std::string id) { return Desktop{.id = std::move(id), .name = "Space"}; }

SpaceSnapshot spaces(std::vector<Desktop> desktops)
{
    return SpaceSnapshot{.current = std::nullopt, .desktops = std::move(desktops), .message = ""};
}

Profile profileNamed(std::string name)
{
    return Profile{.id = UUID::random(), .name = std::move(name)};
}

/// A loaded model with automation on: ready to apply.
std::shared_ptr<AppModel> readyModel(ModelWorld& world)
{
    auto model = world.idleModel();
    model->isLoaded.set(true);
    model->configuration.modify([](Configuration& document) { document.automationEnabled = true; });
    return model;
}

TEST(AppModelTest, FreshModelShowsItsStartingState)
{
    ModelWorld world;
    const auto model = world.idleModel();

    EXPECT_FALSE(model->canApplyAutomatically());
    EXPECT_FALSE(model->isLoaded.get());
    EXPECT_EQ(model->page.get(), AppPage::profiles);
    EXPECT_EQ(model->currentAppName.get(), "No active app");
    EXPECT_EQ(model->focusMessage.get(), "Checking window access…");
    EXPECT_EQ(model->brightnessKeyStatus.get(), BrightnessKeyStatus::off);
    EXPECT_EQ(model->now.get(), world.executor.wallNow());
    EXPECT_EQ(model->configuration->profiles.size(), 1U);
    EXPECT_EQ(model->selectedProfile().name, "Default");
    EXPECT_NE(model->systemDisplayCommandID.get(), world.idleModel()->systemDisplayCommandID.get());
}

TEST(AppModelTest, LoginFlagsFollowTheLoginItemStatus)
{
    struct Case {
        LoginItemStatus status;
        bool enabled;
        bool needsApproval;
    };
    const Case cases[] = {
        {LoginItemStatus::notRegistered, false, false},
        {LoginItemStatus::enabled, true, false},
        {LoginItemStatus::requiresApproval, false, true},
        {LoginItemStatus::notFound, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.status));
        ModelWorld world;
        world.loginItems.currentStatus = c.status;
        const auto model = world.idleModel();
        EXPECT_EQ(model->loginEnabled.get(), c.enabled);
        EXPECT_EQ(model->loginNeedsApproval.get(), c.needsApproval);
    }
}

TEST(AppModelTest, RewritingTheShownPageNotifiesNobody)
{
    ModelWorld world;
    const auto model = world.idleModel();
    int notifications = 0;
    const Subscription subscription = model->page.observe([&] { ++notifications; });
    model->page.set(AppPage::profiles);
    EXPECT_EQ(notifications, 0);
    model->page.set(AppPage::settings);
    EXPECT_EQ(notifications, 1);
}

TEST(AppModelTest, UncomparableFieldsNotifyOnEveryWrite)
{
    ModelWorld world;
    const auto model = world.idleModel();
    int notifications = 0;
    std::vector<Subscription> subscriptions;
    const auto count = [&] { ++notifications; };
    subscriptions.push_back(model->hardwareSnapshot.observe(count));
    subscriptions.push_back(model->spacesByDisplay.observe(count));
    subscriptions.push_back(model->modeStability.observe(count));
    subscriptions.push_back(model->keyQueue.observe(count));
    subscriptions.push_back(model->liveRuleEdit.observe(count));
    subscriptions.push_back(model->preview.observe(count));
    subscriptions.push_back(model->ruleCopyFeedback.observe(count));

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

TEST(AppModelTest, EveryPreviewChangeReachesThePresenterWithTheNewValue)
{
    ModelWorld world;
    const auto model = world.idleModel();
    model->preview.set(DisplayPreview{.id = UUID::random()}); // no presenter yet
    RecordingPresenter presenter;
    model->displayTestPresenter = &presenter;

    model->preview.modify(
        [](auto& preview) { preview->phase = DisplayPreview::Phase::confirming; });
    model->preview.modify([](auto&) {});
    model->preview.set(std::nullopt);

    using Phase = DisplayPreview::Phase;
    EXPECT_EQ(presenter.phases,
        (std::vector<std::optional<Phase>>{Phase::confirming, Phase::confirming, std::nullopt}));
}

TEST(AppModelTest, AutomationWaitsForEveryConditionInTurn)
{
    struct Case {
        const char* what;
        std::function<void(AppModel&)> spoil;
    };
    const Case cases[] = {
        {"not loaded", [](AppModel& m) { m.isLoaded.set(false); }},
        {"settings error", [](AppModel& m) { m.settingsError.set("Broken."); }},
        {"automation off",
            [](AppModel& m) {
                m.configuration.modify(
                    [](Configuration& document) { document.automationEnabled = false; });
            }},
        {"suspended", [](AppModel& m) { m.isSuspended.set(true); }},
        {"quitting", [](AppModel& m) { m.isQuitting.set(true); }},
        {"refreshing", [](AppModel& m) { m.isRefreshing.set(true); }},
        {"capture still saving", [](AppModel& m) { m.pendingDefaultCaptureSaves.set(1); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ModelWorld world;
        const auto model = readyModel(world);
        ASSERT_TRUE(model->canApplyAutomatically());
        c.spoil(*model);
        EXPECT_FALSE(model->canApplyAutomatically());
    }
}

TEST(AppModelTest, SelectedProfileFallsBackToTheActiveOne)
{
    ModelWorld world;
    const auto model = world.idleModel();
    const Profile work = profileNamed("Work");
    const Profile play = profileNamed("Play");
    model->configuration.modify([&](Configuration& document) {
        document.profiles.push_back(work);
        document.profiles.push_back(play);
        document.activeProfileID = play.id;
    });
    struct Case {
        const char* what;
        std::optional<UUID> selected;
        std::string expected;
    };
    const Case cases[] = {
        {"nothing selected", std::nullopt, "Play"},
        {"selected", work.id, "Work"},
        {"selected profile deleted", UUID::random(), "Play"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        model->selectedProfileID.set(c.selected);
        EXPECT_EQ(model->selectedProfile().name, c.expected);
    }
}

TEST(AppModelTest, AllSpacesListsEachSpaceOnceInDisplayOrder)
{
    ModelWorld world;
    const auto model = world.idleModel();
    model->displays.set({display("b"), display("a"), display("c")});
    model->spacesByDisplay.set({
        {"a", spaces({space("shared"), space("a1")})},
        {"b", spaces({space("b1"), space("shared")})},
        {"gone", spaces({space("gone1")})},
    });

    std::vector<std::string> ids;
    for (const Desktop& desktop : model->allSpaces())
        ids.push_back(desktop.id);
    EXPECT_EQ(ids, (std::vector<std::string>{"b1", "shared", "a1"}));
}

TEST(AppModelTest, KnownScreensAddSavedScreensAndUserNames)
{
    ModelWorld world;
    const auto model = world.idleModel();
    model->configuration.modify([](Configuration& document) {
        document.knownDisplays = {{.id = "m", .name = "Monitor"}, {.id = "k", .name = "Known"}};
        DefaultSettings defaults;
        defaults.displays["z"] = RuleSettings{};
        defaults.displays["k"] = RuleSettings{};
        defaults.displays["b"] = RuleSettings{};
        document.setDefaultSettings(defaults);
        document.displayNames = std::map<std::string, std::string>{{"z", "Desk"}, {"m", "Left"}};
    });

    const std::vector<DisplayReference> expected{
        {.id = "m", .name = "Left"},
        {.id = "k", .name = "Known"},
        {.id = "b", .name = "Saved screen · b"},
        {.id = "z", .name = "Desk"},
    };
    EXPECT_EQ(model->knownScreens(), expected);
}

TEST(AppModelTest, BuiltinBrightnessKeyNeedsABuiltInDisplay)
{
    ModelWorld world;
    const auto model = world.idleModel();
    model->displays.set({display("x1"), display("x2")});
    EXPECT_FALSE(model->builtinBrightnessKey());

    model->displays.set({display("x1"), display("in1", true), display("in2", true)});
    EXPECT_EQ(model->builtinBrightnessKey(),
        (ControlKey{.target = ControlTarget::display("in1"), .setting = SettingKey::brightness}));
}

TEST(AppModelTest, PagesRoundTripTheirRawValuesOnly)
{
    for (const AppPage page : {AppPage::profiles, AppPage::displays, AppPage::settings})
        EXPECT_EQ(appPage(rawValue(page)), page);
    EXPECT_FALSE(appPage("Profiles"));
}

TEST(AppModelTest, AppChoiceHashTellsAnAbsentLocationFromAnEmptyOne)
{
    const AppChoice bare{.id = "com.a", .name = "A"};
    AppChoice located = bare;
    located.url = std::filesystem::path();
    EXPECT_NE(std::hash<AppChoice>{}(bare), std::hash<AppChoice>{}(located));
}

} // namespace
} // namespace quorvane
