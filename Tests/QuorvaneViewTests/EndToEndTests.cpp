// The real windows driven as a user would, in demo mode and over the simulated Mac, on virtual
// time: the popover, the Displays, Settings and profile pages, and the display-test panel.
#include "Quorvane/Views/Design/EditingTextField.h"
#include "Quorvane/Views/Design/SwitchButton.h"
#include "Quorvane/Views/DisplayModeRow.h"
#include "Quorvane/Views/DisplayTest/DisplayTestPanel.h"
#include "Quorvane/Views/DisplayTest/DisplayTestPresentation.h"
#include "Quorvane/Views/DisplaysPage.h"
#include "Quorvane/Views/MainWindow/DefaultProfileView.h"
#include "Quorvane/Views/MainWindow/DisplaysView.h"
#include "Quorvane/Views/MainWindow/ProfilePage.h"
#include "Quorvane/Views/MainWindow/RuleRow.h"
#include "Quorvane/Views/MainWindow/RulesTable.h"
#include "Quorvane/Views/MainWindow/SettingsView.h"
#include "Quorvane/Views/MenuBarExtra.h"
#include "Quorvane/Views/MenuView.h"
#include "QuorvaneTests/ModeTestSupport.h"
#include "QuorvaneViewTests/ChoiceTestSupport.h"
#include "QuorvaneViewTests/MainWindowTestSupport.h"

#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QRegularExpression>
#include <QSlider>
#include <QTest>
#include <QToolButton>

#include <nlohmann/json.hpp>

#include <memory>
#include <string>

namespace quorvane {
namespace {

using namespace std::chrono_literals;
using mode_support::ModeWorld;

/// A started model with the windows' executor, in demo mode or over the simulated Mac.
struct World {
    std::string name;
    ManualExecutor& executor;
    AppModel& model;
    std::function<void()> settle;
};

/// Runs `body` once in the demo and once over the simulated Mac with automation on.
void inEveryWorld(const std::function<void(World&)>& body)
{
    testApplication();
    {
        DemoWorld demo;
        World world{"demo", demo.world.executor, *demo.model, [&] { demo.settle(); }};
        SCOPED_TRACE(world.name);
        body(world);
        demo.settle();
    }
    {
        ModeWorld mac(true);
        World world{"simulated Mac", mac.executor, *mac.model, [&] { mac.settle(); }};
        SCOPED_TRACE(world.name);
        body(world);
        mac.settle();
    }
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

template <typename Widget> Widget& partOf(QWidget& parent, const char* name)
{
    auto* const widget = parent.findChild<Widget*>(QString::fromLatin1(name));
    if (!widget)
        throw std::runtime_error(std::string("no ") + name);
    return *widget;
}

/// The brightness control of the first external display the page shows: the built-in one may be
/// left to macOS automatic brightness.
ControlKey firstBrightness(const AppModel& model, const DisplaysPage& page)
{
    for (const DisplayDevice& display : *model.displays) {
        if (display.isBuiltIn)
            continue;
        const ControlKey key{
            .target = ControlTarget::display(display.id), .setting = SettingKey::brightness};
        if (page.rowOf(key))
            return key;
    }
    throw std::runtime_error("no brightness row");
}

/// Whether the control was last read at `expected`, within what a monitor's steps allow.
bool reads(
    const AppModel& model, const ControlKey& key, const std::optional<SettingValue>& expected)
{
    const auto found = model.observed->find(key);
    if (found == model.observed->end() || !expected)
        return found == model.observed->end() && !expected;
    return found->second.approximatelyEquals(*expected, 0.01);
}

nlohmann::json settingsOnDisk(const AppModel& model)
{
    const std::optional<std::string> contents = contentsOf(model.settingsURL);
    EXPECT_TRUE(contents);
    return nlohmann::json::parse(contents.value_or("{}"));
}

TEST(EndToEndTest, AHoldMadeInThePopoverIsWrittenAndResumeGivesTheControlBackToItsRule)
{
    inEveryWorld([](World& world) {
        MenuView view(world.model);
        view.show();
        DisplaysPage& page = view.displaysPage();
        const ControlKey key = firstBrightness(world.model, page);
        QWidget& row = *page.rowOf(key);
        auto& slider = partOf<QSlider>(row, "slider");

        QTest::keyClick(&slider, Qt::Key_PageDown);
        QTest::keyClick(&slider, Qt::Key_PageDown);
        const SettingValue held = SettingValue::percent(slider.value() / 100.0);
        ASSERT_TRUE(world.model.holds->contains(key));
        EXPECT_FALSE(partOf<QLabel>(row, "hold").text().isEmpty());
        EXPECT_TRUE(partOf<QPushButton>(row, "resume").isEnabled());
        world.settle();
        EXPECT_TRUE(reads(world.model, key, held)) << "the hardware follows the hold";
        saveScreenshot(view, "popover-holding-" + std::to_string(world.name.size()));

        QTest::mouseClick(&partOf<QPushButton>(row, "resume"), Qt::LeftButton);
        EXPECT_FALSE(world.model.holds->contains(key));
        world.settle();
        EXPECT_TRUE(partOf<QLabel>(row, "hold").text().isEmpty());
        EXPECT_FALSE(partOf<QPushButton>(row, "resume").isEnabled());
        const auto assignment = world.model.resolution->assignments.find(key);
        ASSERT_NE(assignment, world.model.resolution->assignments.end());
        EXPECT_TRUE(reads(world.model, key, assignment->second.value));
        EXPECT_FALSE(reads(world.model, key, held));
    });
}

TEST(EndToEndTest, SettingsPageChangesReachTheFileOnDiskAndTheNextHold)
{
    inEveryWorld([](World& world) {
        SettingsView settings(world.model);
        settings.show();
        MenuView popover(world.model);
        popover.show();
        auto& holdLength = partOf<QComboBox>(settings, "holdLength");
        struct Case {
            int index;
            std::int64_t minutes;
        };
        for (const Case c : {Case{0, 0}, Case{4, 60}, Case{1, 5}}) {
            SCOPED_TRACE(c.minutes);
            emit holdLength.activated(c.index);
            EXPECT_EQ(world.model.configuration->holdMinutes, c.minutes);
            world.settle();
            EXPECT_EQ(settingsOnDisk(world.model).at("holdMinutes"), c.minutes);
        }

        // Five minutes: a hold made now ends at the first tick after five minutes.
        const ControlKey key = firstBrightness(world.model, popover.displaysPage());
        QTest::keyClick(
            &partOf<QSlider>(*popover.displaysPage().rowOf(key), "slider"), Qt::Key_PageDown);
        ASSERT_TRUE(world.model.holds->contains(key));
        world.executor.advance(4min);
        EXPECT_TRUE(world.model.holds->contains(key));
        world.executor.advance(2min);
        EXPECT_FALSE(world.model.holds->contains(key));

        auto& smooth = partOf<SwitchButton>(settings, "smoothTransitions");
        QTest::mouseClick(&smooth, Qt::LeftButton);
        world.settle();
        EXPECT_FALSE(world.model.configuration->smoothTransitions);
        EXPECT_FALSE(smooth.isChecked());
        EXPECT_EQ(settingsOnDisk(world.model).at("smoothTransitions"), false);
        saveScreenshot(settings, "settings-page-" + std::to_string(world.name.size()));
    });
}

TEST(EndToEndTest, AProfilePickedInThePopoverAppliesItsRulesToTheDisplays)
{
    DemoWorld demo;
    AppModel& model = *demo.model;
    MenuView view(model);
    view.show();
    auto& profiles = partOf<QComboBox>(view, "activeProfile");
    const int evening = profiles.findText(QStringLiteral("Evening · sample"));
    ASSERT_GE(evening, 0);
    emit profiles.activated(evening);
    demo.settle();
    EXPECT_EQ(model.configuration->activeProfile().name, "Evening · sample");
    EXPECT_EQ(profiles.currentText(), QStringLiteral("Evening · sample"));
    // The evening rule covers every display: the simulated displays now show its values.
    for (const DisplayDevice& display : *model.displays) {
        SCOPED_TRACE(display.id);
        const ControlKey brightness{
            .target = ControlTarget::display(display.id), .setting = SettingKey::brightness};
        EXPECT_EQ(model.simulated().values().at(brightness), SettingValue::percent(0.35));
        EXPECT_EQ(partOf<QLabel>(*view.displaysPage().rowOf(brightness), "value").text(),
            QStringLiteral("35%"));
    }
    EXPECT_EQ(settingsOnDisk(model).at("activeProfileID"),
        model.configuration->activeProfileID.uuidString());
}

TEST(EndToEndTest, AModeChangeFromThePopoverIsRevertedWhenTheCountdownEnds)
{
    testApplication();
    ModeWorld mac(true);
    AppModel& model = *mac.model;
    MenuBarExtra extra(model);
    DisplaysPage& page = extra.menuView().displaysPage();
    QWidget* card = page.cardOf(mode_support::externalID);
    ASSERT_TRUE(card);
    auto& rates = partOf<QComboBox>(*card, "refreshRate");
    const int fifty = rates.findText(QStringLiteral("50 Hz"));
    ASSERT_GE(fifty, 0);
    ASSERT_EQ(mac.externalMode().refreshRate, mode_support::hz60);

    emit rates.activated(fifty);
    mac.executor.advance(1s);
    ASSERT_TRUE(model.preview.get());
    EXPECT_EQ(mac.externalMode().refreshRate, mode_support::hz50);
    DisplayTestPanel* panel = DisplayTestPanelPresenter::of(model)->panel();
    ASSERT_TRUE(panel);
    EXPECT_EQ(partOf<QPushButton>(*panel, "keep").text(), QStringLiteral("Keep this combination"));
    EXPECT_FALSE(rates.isEnabled()) << "one test at a time";
    saveScreenshot(*panel, "popover-mode-test");

    mac.executor.advance(13s);
    EXPECT_TRUE(model.preview.get()) << "still counting down";
    mac.executor.advance(5s);
    mac.settle();
    EXPECT_FALSE(model.preview.get());
    EXPECT_EQ(mac.externalMode().refreshRate, mode_support::hz60);
    EXPECT_EQ(rates.currentText(), QStringLiteral("60 Hz"));
    EXPECT_TRUE(rates.isEnabled());
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

TEST(EndToEndTest, RecheckReadsTheSimulatedMacAgainAndForgetsFailedWrites)
{
    testApplication();
    ModeWorld mac(true);
    AppModel& model = *mac.model;
    DisplaysView view(model);
    view.show();
    auto& recheck = partOf<QPushButton>(view, "recheck");
    const ControlKey key{.target = ControlTarget::display(mode_support::externalID),
        .setting = SettingKey::contrast};
    model.failed.set({{key, SettingValue::percent(0.4)}});
    const std::int64_t revision = *model.refreshRevision;
    QTest::mouseClick(&recheck, Qt::LeftButton);
    EXPECT_TRUE(model.failed->empty());
    mac.executor.runUntilIdle();
    EXPECT_GT(*model.refreshRevision, revision);
    EXPECT_EQ(recheck.isEnabled(), !*model.isRefreshing);
    mac.settle();
    EXPECT_FALSE(*model.isRefreshing);
    EXPECT_TRUE(recheck.isEnabled());
    EXPECT_EQ(recheck.text(), QStringLiteral("Recheck"));
    EXPECT_NE(view.controls().cardOf(mode_support::externalID), nullptr);
}

class EndToEndWindowTest : public MainWindowFixture { };

TEST_F(EndToEndWindowTest, ARuleDraggedToAnotherProfileIsSavedThereAndAppliesWhenItIsActive)
{
    const Rule coding = profileNamed("Work · sample").rules.at(1);
    model.selectProfile(workID);
    turn();
    ASSERT_TRUE(dragAndDrop(
        row("Evening · sample"), QString::fromStdString(coding.id.uuidString()), [](bool) {}));
    for (int step = 0; step < 50 && !model.ruleCopyFeedback.get(); ++step)
        demo.world.executor.advance(100ms);
    const RuleList& copied = profileNamed("Evening · sample").rules;
    ASSERT_EQ(std::ranges::count(copied, coding.name, &Rule::name), 1);
    const nlohmann::json onDisk = settingsOnDisk(model);
    const auto evening = std::ranges::find_if(onDisk.at("profiles"),
        [](const nlohmann::json& profile) { return profile.at("name") == "Evening · sample"; });
    ASSERT_NE(evening, onDisk.at("profiles").end());
    EXPECT_EQ(evening->at("rules").size(), 2U);
    turn();
}

TEST_F(EndToEndWindowTest, DisplaysPageRenamesADisplayInPlace)
{
    model.page.set(AppPage::displays);
    turn();
    // By name: the page declares no meta-object of its own for findChild to tell it apart.
    auto* view = static_cast<DisplaysView*>(content.findChild<QWidget*>("displaysView"));
    ASSERT_TRUE(view);
    DisplaysPage& page = view->controls();
    const std::string id = model.displays->front().id;
    auto& rename = partOf<QToolButton>(*page.cardOf(id), "rename");
    model.settingsError.set("The settings file is damaged."); // no name can be saved
    turn();
    EXPECT_FALSE(rename.isEnabled());
    model.settingsError.set(std::nullopt);
    turn();
    EXPECT_TRUE(rename.isEnabled());
    page.beginRename(id);
    ASSERT_EQ(page.renamingDisplayID(), id);
    auto& field = partOf<EditingTextField>(*page.cardOf(id), "nameField");
    field.setText(QStringLiteral("  Desk  "));
    QTest::keyClick(&field, Qt::Key_Return);
    turn();
    EXPECT_FALSE(page.renamingDisplayID());
    EXPECT_EQ(model.displays->front().name, "Desk");
    EXPECT_EQ(partOf<QLabel>(*page.cardOf(id), "displayName").text(), QStringLiteral("Desk"));
    // The keyboard is back on the card's Rename, not at the next control of the window.
    EXPECT_EQ(QApplication::focusWidget(), &partOf<QToolButton>(*page.cardOf(id), "rename"));
    demo.settle();
    EXPECT_EQ(settingsOnDisk(model).at("displayNames").at(id), "Desk");

    // A rebuild that keeps the display keeps its name field open, with what was typed and the
    // keyboard; losing the display closes it.
    page.beginRename(id);
    QTest::keyClicks(&partOf<EditingTextField>(*page.cardOf(id), "nameField"), "Lab");
    const ControlKey contrast{.target = ControlTarget::display(model.displays->back().id),
        .setting = SettingKey::contrast};
    model.hardwareSnapshot.modify(
        [&](HardwareSnapshot& snapshot) { snapshot.capabilities[contrast].available = false; });
    turn();
    EXPECT_EQ(page.renamingDisplayID(), id);
    QCoreApplication::processEvents(); // shows the new card
    auto& kept = partOf<EditingTextField>(*page.cardOf(id), "nameField");
    EXPECT_EQ(kept.text(), QStringLiteral("Lab"));
    EXPECT_TRUE(kept.hasFocus());
    const std::vector<DisplayDevice> connected = *model.displays;
    model.displays.modify([&](std::vector<DisplayDevice>& displays) {
        std::erase_if(displays, [&](const DisplayDevice& d) { return d.id == id; });
    });
    turn();
    EXPECT_FALSE(page.renamingDisplayID());
    model.displays.set(connected);
    turn();
    ASSERT_NE(page.cardOf(id), nullptr);

    // Escape keeps the name.
    page.beginRename(id);
    auto& again = partOf<EditingTextField>(*page.cardOf(id), "nameField");
    again.setText(QStringLiteral("Other"));
    QTest::keyClick(&again, Qt::Key_Escape);
    turn();
    EXPECT_EQ(model.displays->front().name, "Desk");
    EXPECT_EQ(QApplication::focusWidget(), &partOf<QToolButton>(*page.cardOf(id), "rename"));

    QCoreApplication::processEvents(); // shows the cards built again
    saveScreenshot(window, "displays-view");
}

TEST_F(EndToEndWindowTest, ADisplayRenamedOnTheDisplaysPageIsCalledSoAtOnceOnTheProfilePage)
{
    show(AppPage::profiles, workID);
    QWidget& section = *content.findChild<QWidget*>("displayPreferencesBody");
    const auto resolutionsNamed = [&] {
        QStringList names;
        for (const QLabel* screen : section.findChildren<QLabel*>("resolutionScreen"))
            names.push_back(screen->text());
        for (const QComboBox* choice :
            section.findChildren<QComboBox*>(QRegularExpression(QStringLiteral("^resolution:"))))
            names.push_back(choice->accessibleName());
        return names;
    };
    ASSERT_EQ(resolutionsNamed(),
        (QStringList{"MacBook display", "External screen 1", "MacBook display resolution",
            "External screen 1 resolution"}));
    // Each name stands left of its choice, in the same grid.
    QCoreApplication::processEvents();
    const QList<QLabel*> screens = section.findChildren<QLabel*>("resolutionScreen");
    const QList<QComboBox*> choices
        = section.findChildren<QComboBox*>(QRegularExpression(QStringLiteral("^resolution:")));
    ASSERT_EQ(screens.size(), choices.size());
    for (qsizetype row = 0; row < screens.size(); ++row)
        EXPECT_LT(screens[row]->geometry().right(), choices[row]->geometry().left()) << row;

    model.page.set(AppPage::displays);
    turn();
    DisplaysPage& page
        = static_cast<DisplaysView*>(content.findChild<QWidget*>("displaysView"))->controls();
    page.beginRename("demo-builtin");
    auto& field = partOf<EditingTextField>(*page.cardOf("demo-builtin"), "nameField");
    field.setText(QStringLiteral("Desk"));
    QTest::keyClick(&field, Qt::Key_Return);
    model.page.set(AppPage::profiles);
    turn();
    EXPECT_EQ(&section, content.findChild<QWidget*>("displayPreferencesBody")) << "the same page";
    EXPECT_EQ(resolutionsNamed(),
        (QStringList{
            "Desk", "External screen 1", "Desk resolution", "External screen 1 resolution"}));
    saveScreenshot(window, "profile-after-display-rename");
}

TEST_F(EndToEndWindowTest, ScreensOfOneNameAreNumberedWhereverTheyAreListedUntilOneIsRenamed)
{
    const Rule onExternal = profileNamed("Work · sample").rules.at(2);
    ASSERT_EQ(onExternal.conditions.screen->id, "demo-external");
    // Every place that lists or names the two screens, built builtin first.
    const auto shownNames = [&](const char* screenshot) {
        QStringList names;
        model.page.set(AppPage::displays);
        turn();
        DisplaysPage& displays
            = static_cast<DisplaysView*>(content.findChild<QWidget*>("displaysView"))->controls();
        for (const char* id : {"demo-builtin", "demo-external"})
            names.push_back(partOf<QLabel>(*displays.cardOf(id), "displayName").text());
        show(AppPage::profiles, model.configuration->defaultProfileID);
        for (const char* id : {"demo-builtin", "demo-external"}) {
            names.push_back(
                partOf<QLabel>(*content.currentPage()->findChild<QWidget*>(id), "screenName")
                    .text());
        }
        show(AppPage::profiles, workID);
        for (const QLabel* screen : content.findChildren<QLabel*>("resolutionScreen"))
            names.push_back(screen->text());
        auto& page = *static_cast<ProfilePage*>(content.currentPage());
        names.push_back(page.rulesTable()
                            .rowOf(onExternal.id)
                            ->findChild<QLabel*>(QStringLiteral("conditions"))
                            ->text());
        content.edit(onExternal);
        turn();
        names += itemTexts(partOf<QComboBox>(*content.editor(), "screen"));
        QCoreApplication::processEvents(); // lays the editor out
        saveScreenshot(window, screenshot);
        content.setDraft(std::nullopt);
        turn();
        return names.join(", ").toStdString();
    };
    model.renameDisplay("demo-builtin", "Studio Monitor");
    model.renameDisplay("demo-external", "Studio Monitor");
    EXPECT_EQ(shownNames("screens-of-one-name"),
        "Studio Monitor 1, Studio Monitor 2, " // the Displays page
        "Studio Monitor 1, Studio Monitor 2, " // the Default page
        "Studio Monitor 1, Studio Monitor 2, " // resolutions on the profile page
        "Studio Monitor 2, " // the rule's conditions
        "All screens, Studio Monitor 1, Studio Monitor 2"); // the rule editor's screens

    // A rename starts from the display's own name, and keeps it when nothing was typed.
    model.page.set(AppPage::displays);
    turn();
    DisplaysPage& page
        = static_cast<DisplaysView*>(content.findChild<QWidget*>("displaysView"))->controls();
    page.beginRename("demo-external");
    auto& field = partOf<EditingTextField>(*page.cardOf("demo-external"), "nameField");
    EXPECT_EQ(field.text(), QStringLiteral("Studio Monitor"));
    QTest::keyClick(&field, Qt::Key_Return);
    turn();
    EXPECT_EQ(model.configuration->displayNames->at("demo-external"), "Studio Monitor");

    model.renameDisplay("demo-builtin", "Desk");
    EXPECT_EQ(shownNames("screens-of-one-name-renamed"),
        "Desk, Studio Monitor, Desk, Studio Monitor, Desk, Studio Monitor, Studio Monitor, "
        "All screens, Desk, Studio Monitor");
}

TEST_F(EndToEndWindowTest, AProfilesDisplayPreferenceIsSavedAndTheSystemFollows)
{
    model.selectProfile(workID);
    model.page.set(AppPage::profiles);
    turn();
    QWidget& section = *content.findChild<QWidget*>("displayPreferencesBody");
    auto& trueTone = partOf<QComboBox>(section, "True Tone");
    QLabel& state = partOf<QLabel>(section, "True ToneState");
    ASSERT_EQ(trueTone.currentText(), QStringLiteral("Leave unchanged"));
    ASSERT_EQ(state.text(), QStringLiteral("Now off"));

    emit trueTone.activated(1);
    EXPECT_EQ(profileNamed("Work · sample").displayPreferences->trueTone, true);
    model.systemDisplayApplying.set(true);
    turn();
    EXPECT_EQ(state.text(), QStringLiteral("Applying…"));
    model.systemDisplayApplying.set(false);
    demo.settle();
    EXPECT_EQ(trueTone.currentText(), QStringLiteral("On"));
    EXPECT_EQ(state.text(), QStringLiteral("Now on")) << "the active profile's choice is applied";
    const nlohmann::json onDisk = settingsOnDisk(model);
    const auto work = std::ranges::find_if(onDisk.at("profiles"),
        [](const nlohmann::json& profile) { return profile.at("name") == "Work · sample"; });
    ASSERT_NE(work, onDisk.at("profiles").end());
    EXPECT_EQ(work->at("displayPreferences").at("trueTone"), true);

    // Another profile's choice is stored, not applied.
    model.selectProfile(eveningID);
    turn();
    QWidget& evening = *content.findChild<QWidget*>("displayPreferencesBody");
    emit partOf<QComboBox>(evening, "Dark Mode").activated(1);
    demo.settle();
    EXPECT_EQ(profileNamed("Evening · sample").displayPreferences->darkMode, true);
    EXPECT_EQ(partOf<QLabel>(evening, "Dark ModeState").text(), QStringLiteral("Now off"));

    // A display the system says nothing of has no line under automatic brightness.
    const DisplayDevice& silent = model.displays->front();
    model.systemDisplaySnapshot.modify([&](SystemDisplaySnapshot& snapshot) {
        snapshot.values.erase(SystemDisplayControl::automaticBrightness(silent.id));
        snapshot.unavailable.erase(SystemDisplayControl::automaticBrightness(silent.id));
    });
    turn();
    const QString automatic
        = partOf<QLabel>(evening, "Automatically adjust brightnessState").text();
    EXPECT_FALSE(automatic.isEmpty());
    EXPECT_FALSE(automatic.contains(QString::fromStdString(silent.name)))
        << automatic.toStdString();

    // A profile's own resolution is the one its menu shows; otherwise the Default profile's.
    const std::string displayID = model.displays->back().id;
    auto& resolution = *evening.findChild<QComboBox*>(
        QStringLiteral("resolution:") + QString::fromStdString(displayID));
    EXPECT_TRUE(resolution.currentText().startsWith(QStringLiteral("Default (")));
    const DisplayResolution own = model.resolutionChoices(displayID).front();
    model.configuration.modify([&](Configuration& document) {
        for (Profile& profile : document.profiles.editEach()) {
            if (profile.id == eveningID)
                profile.displayPreferences->resolutions
                    = std::map<std::string, DisplayResolution>{{displayID, own}};
        }
    });
    turn();
    EXPECT_EQ(resolution.currentText(), QString::fromStdString(own.label()));

    // Picked for a profile that is not active, a resolution is saved without a test; "Default"
    // drops the profile's own one.
    const auto ownResolutions = [&] {
        const auto& preferences = profileNamed("Evening · sample").displayPreferences;
        return preferences && preferences->resolutions ? preferences->resolutions->size() : 0;
    };
    emit resolution.activated(0);
    demo.settle();
    EXPECT_FALSE(model.preview.get());
    EXPECT_EQ(ownResolutions(), 0u);
    emit resolution.activated(1);
    demo.settle();
    EXPECT_EQ(ownResolutions(), 1u);
    EXPECT_EQ(resolution.currentIndex(), 1);
    const int last = resolution.count() - 1; // after "Default", one per resolution
    emit resolution.activated(last);
    demo.settle();
    EXPECT_EQ(profileNamed("Evening · sample").displayPreferences->resolutions->at(displayID),
        model.resolutionChoices(displayID).back());
    EXPECT_EQ(resolution.currentIndex(), last);

    // Off is a choice of its own, not "Leave unchanged".
    auto& darkMode = partOf<QComboBox>(evening, "Dark Mode");
    emit darkMode.activated(2);
    demo.settle();
    EXPECT_EQ(profileNamed("Evening · sample").displayPreferences->darkMode, false);
    EXPECT_EQ(darkMode.currentText(), QStringLiteral("Off"));

    model.preview.set(DisplayPreview{.id = UUID::random()}); // nothing changes during a test
    turn();
    EXPECT_FALSE(partOf<QComboBox>(evening, "Dark Mode").isEnabled());
    model.preview.set(std::nullopt);
    saveScreenshot(evening, "profile-display-preferences");
}

TEST_F(EndToEndWindowTest, EveryPageOfTheWindowFitsItsContent)
{
    demo.settle();
    const std::pair<AppPage, const char*> pages[] = {
        {AppPage::displays, "window-displays"},
        {AppPage::settings, "window-settings"},
        {AppPage::profiles, "window-profile"},
    };
    model.selectProfile(workID);
    for (const auto& [page, name] : pages) {
        model.page.set(page);
        turn();
        saveScreenshot(window, name);
    }
}

} // namespace
} // namespace quorvane
