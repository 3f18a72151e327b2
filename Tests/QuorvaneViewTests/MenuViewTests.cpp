#include "Quorvane/Views/MenuView.h"

#include "Quorvane/Views/DisplaysPage.h"
#include "Quorvane/Views/MainWindow.h"
#include "Quorvane/Views/MainWindow/ContentView.h"
#include "Quorvane/Views/MainWindow/ProfileSidebar.h"
#include "Quorvane/Views/MenuBarExtra.h"
#include "Quorvane/Views/SettingsErrorReport.h"
#include "QuorvaneCore/ConfigurationError.h"
#include "QuorvaneViewTests/ControlStatusTestSupport.h"
#include "QuorvaneViewTests/ViewTestSupport.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QSignalSpy>
#include <QSlider>
#include <QSystemTrayIcon>
#include <QTest>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <initializer_list>
#include <optional>
#include <string>
#include <vector>

namespace quorvane {
namespace {

using namespace std::chrono_literals;
using status_support::ModeWorld;

class MenuViewTest : public ::testing::Test {
protected:
    MenuViewTest() { view.show(); }

    QCheckBox& automation() const
    {
        return *view.findChild<QCheckBox*>(QStringLiteral("automation"));
    }
    QPushButton& button(const char* name) const
    {
        return *view.findChild<QPushButton*>(QString::fromLatin1(name), Qt::FindDirectChildrenOnly);
    }

    DemoWorld demo;
    AppModel& model = *demo.model;
    MenuView view{model};
};

TEST_F(MenuViewTest, AutomationSwitchFollowsAndDrivesTheModel)
{
    ASSERT_TRUE(model.configuration->automationEnabled);
    EXPECT_TRUE(automation().isChecked());
    EXPECT_TRUE(automation().isEnabled());
    const bool expected[] = {false, true, false};
    for (const bool isOn : expected) {
        QTest::mouseClick(&automation(), Qt::LeftButton);
        EXPECT_EQ(model.configuration->automationEnabled, isOn);
        EXPECT_EQ(automation().isChecked(), isOn);
        demo.settle();
    }
}

TEST_F(MenuViewTest, RefusedAutomationSwitchShowsTheModelsState)
{
    model.settingsError.set("The settings file is damaged.");
    QTest::mouseClick(&automation(), Qt::LeftButton);
    EXPECT_TRUE(model.configuration->automationEnabled);
    // Nothing runs while the error stands, whatever the document says.
    EXPECT_FALSE(automation().isChecked());
    EXPECT_FALSE(automation().isEnabled());
    EXPECT_EQ(view.findChild<QLabel*>(QStringLiteral("status"))->text().toStdString(),
        "The settings file is damaged.\nSettings file: " + model.settingsURL.string());
}

TEST_F(MenuViewTest, SaveFailureShowsTheWholeMessageWithItsFileAndAutomationOff)
{
    ASSERT_TRUE(automation().isChecked());
    const int width = view.width();
    const std::string message = "The settings file could not be read. The data is not valid "
                                "JSON: [json.exception.parse_error.101] parse error at line 1, "
                                "column 2: syntax error while parsing object key <p>";
    model.settingsSaveFailed(ConfigurationError(ConfigurationError::Invalid{message}));
    demo.turn();
    const QLabel& status = *view.findChild<QLabel*>(QStringLiteral("status"));
    EXPECT_EQ(
        status.text().toStdString(), message + "\nSettings file: " + model.settingsURL.string());
    EXPECT_TRUE(status.isVisible());
    EXPECT_TRUE(status.wordWrap());
    EXPECT_EQ(status.textFormat(), Qt::PlainText);
    // Wrapped inside the popover: neither widened nor cut off at its edge.
    EXPECT_EQ(view.width(), width);
    EXPECT_GE(status.height(), status.heightForWidth(status.width()));
    EXPECT_FALSE(automation().isChecked());
    EXPECT_TRUE(model.configuration->automationEnabled);
    demo.settle();
}

TEST_F(MenuViewTest, TabWalksEveryControlFromTopToBottomAfterTheDisplaysAreRebuilt)
{
    const ControlKey brightness{
        .target = ControlTarget::display("demo-external"), .setting = SettingKey::brightness};
    // The display cards are built once the hardware has been read, after the rest; the popover
    // moves its view into a window of its own.
    model.manual(SettingValue::percent(0.8), brightness, false);
    MenuBarExtra extra(model);
    demo.settle();
    for (MenuView* shown : {&view, &extra.menuView()}) {
        QWidget& window = *shown->window();
        window.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
        auto& first = *shown->findChild<QCheckBox*>(QStringLiteral("automation"));
        first.setFocus(Qt::ShortcutFocusReason);
        std::vector<QWidget*> walked{&first};
        while (walked.size() < 100) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            if (QApplication::focusWidget() == walked.front())
                break;
            walked.push_back(QApplication::focusWidget());
        }
        const auto area = [&](const QWidget* widget) {
            return QRect(widget->mapTo(&window, QPoint()), widget->size());
        };
        for (std::size_t stop = 1; stop < walked.size(); ++stop) {
            SCOPED_TRACE(walked[stop]->objectName().toStdString());
            EXPECT_GE(area(walked[stop]).bottom(), area(walked[stop - 1]).top())
                << "above " << walked[stop - 1]->objectName().toStdString();
        }
        const auto isStop = [](const QWidget* widget) {
            return widget->isVisible() && widget->isEnabled()
                && (widget->focusPolicy() & Qt::TabFocus);
        };
        EXPECT_EQ(walked.size(),
            static_cast<std::size_t>(
                std::ranges::count_if(shown->findChildren<QWidget*>(), isStop)));
        const QWidget* resume = shown->displaysPage()
                                    .rowOf(brightness)
                                    ->findChild<QWidget*>(QStringLiteral("resume"));
        EXPECT_NE(std::ranges::find(walked, resume), walked.end());
    }
}

TEST(SettingsErrorLogTest, EachMessageIsPrintedOnceWithItsFile)
{
    DemoWorld demo;
    AppModel& model = *demo.model;
    model.settingsError.set("first");
    std::vector<std::string> printed;
    const SettingsErrorLog log(model, [&](const std::string& text) { printed.push_back(text); });
    for (const char* message : {"first", "second", "first", "second", "third"})
        model.settingsError.set(message);
    model.settingsError.set(std::nullopt);
    const std::string file = "\nSettings file: " + model.settingsURL.string();
    EXPECT_EQ(printed, (std::vector<std::string>{"first" + file, "second" + file, "third" + file}));
}

TEST_F(MenuViewTest, ResumeReleasesEveryHold)
{
    for (QSlider* slider : view.displaysPage().findChildren<QSlider*>())
        QTest::keyClick(slider, Qt::Key_PageDown);
    ASSERT_FALSE(model.holds->empty());
    QTest::mouseClick(&automation(), Qt::LeftButton); // off: the holds stay
    ASSERT_FALSE(model.holds->empty());

    QTest::mouseClick(&button("resumeAll"), Qt::LeftButton);
    EXPECT_TRUE(model.holds->empty());
    EXPECT_TRUE(model.configuration->automationEnabled);
    demo.turn();
    EXPECT_TRUE(automation().isChecked());
    demo.settle();
}

TEST_F(MenuViewTest, APollingTickThatChangesNothingShownRedrawsNothing)
{
    demo.settle();
    // Texts a redraw would put back: the popover's status line and a display's value.
    auto& status = *view.findChild<QLabel*>(QStringLiteral("status"));
    auto& value = *view.displaysPage().findChild<QLabel*>(QStringLiteral("value"));
    status.setText(QStringLiteral("as left"));
    value.setText(QStringLiteral("as left"));
    const Date before = *model.now;
    demo.world.executor.advance(std::chrono::seconds(3)); // three ticks and a read-back
    demo.turn();
    ASSERT_GT(*model.now, before);
    EXPECT_EQ(status.text(), QStringLiteral("as left"));
    EXPECT_EQ(value.text(), QStringLiteral("as left"));

    model.setAutomation(false); // a field the popover shows still redraws it
    demo.turn();
    EXPECT_NE(status.text(), QStringLiteral("as left"));
    demo.settle();
}

TEST_F(MenuViewTest, QuitStartsTheModelsQuitOnce)
{
    QTest::mouseClick(&button("quit"), Qt::LeftButton);
    EXPECT_TRUE(*model.isQuitting);
    demo.turn();
    EXPECT_FALSE(button("quit").isEnabled());
    EXPECT_FALSE(automation().isEnabled());
    demo.settle();
    EXPECT_TRUE(*model.terminationPrepared);
    EXPECT_EQ(demo.world.shell.terminationRequests, 1);
}

TEST_F(MenuViewTest, SavesHeldSettingsIntoTheActiveProfileOrANewOneAndSaysSoWhileSaving)
{
    QLabel& reason = *view.findChild<QLabel*>(QStringLiteral("saveUnavailable"));
    QPushButton& update = *view.findChild<QPushButton*>(QStringLiteral("updateProfile"));
    QPushButton& saveNew = *view.findChild<QPushButton*>(QStringLiteral("saveNewProfile"));
    QLabel& result = *view.findChild<QLabel*>(QStringLiteral("saveResult"));
    demo.settle();
    EXPECT_EQ(reason.text(), QStringLiteral("There are no manual settings to save."));
    EXPECT_FALSE(update.isEnabled());
    EXPECT_FALSE(saveNew.isEnabled());

    QSlider* slider = view.displaysPage().findChild<QSlider*>(QStringLiteral("slider"));
    QTest::keyClick(slider, Qt::Key_PageDown);
    demo.settle();
    ASSERT_TRUE(update.isEnabled()) << reason.text().toStdString();
    EXPECT_FALSE(reason.isVisibleTo(&view));

    model.isSavingManualProfile.set(true); // as while another save runs
    demo.turn();
    EXPECT_EQ(update.text(), QStringLiteral("Saving profile…"));
    EXPECT_FALSE(update.isEnabled());
    EXPECT_FALSE(saveNew.isEnabled());
    model.isSavingManualProfile.set(false);
    demo.turn();
    EXPECT_EQ(update.text(), QStringLiteral("Update active profile"));

    QTest::mouseClick(&update, Qt::LeftButton);
    demo.settle();
    EXPECT_FALSE(*model.isSavingManualProfile);
    EXPECT_EQ(update.text(), QStringLiteral("Update active profile"));
    EXPECT_EQ(result.text(), QStringLiteral("Saved.")) << result.text().toStdString();

    QTest::keyClick(slider, Qt::Key_PageDown);
    demo.settle();
    QTest::mouseClick(&saveNew, Qt::LeftButton);
    QLineEdit& name = *view.findChild<QLineEdit*>(QStringLiteral("newProfileName"));
    QPushButton& save = *view.findChild<QPushButton*>(QStringLiteral("saveName"));
    EXPECT_TRUE(name.isVisibleTo(&view));
    EXPECT_EQ(spokenName(name), QStringLiteral("New profile name"));
    EXPECT_FALSE(save.isEnabled()) << "no name yet";
    QTest::keyClicks(&name, QStringLiteral("  Late desk "));
    EXPECT_TRUE(save.isEnabled());
    QTest::mouseClick(&save, Qt::LeftButton);
    demo.settle();
    const auto& profiles = model.configuration->profiles;
    EXPECT_EQ(std::ranges::count(profiles, "Late desk", &Profile::name), 1);
    EXPECT_FALSE(name.isVisibleTo(&view));
    EXPECT_EQ(result.text(), QStringLiteral("Saved."));
    EXPECT_NE(
        view.findChild<QComboBox*>(QStringLiteral("activeProfile"))->findText("Late desk"), -1);
}

TEST_F(MenuViewTest, SavedStandsOnlyWhileTheManualSettingsItConfirmedStay)
{
    QSlider& slider = *view.displaysPage().findChild<QSlider*>(QStringLiteral("slider"));
    QLabel& result = *view.findChild<QLabel*>(QStringLiteral("saveResult"));
    const auto saveAsNewProfile = [&](const QString& name) {
        QTest::mouseClick(
            view.findChild<QPushButton*>(QStringLiteral("saveNewProfile")), Qt::LeftButton);
        QTest::keyClicks(view.findChild<QLineEdit*>(QStringLiteral("newProfileName")), name);
        QTest::mouseClick(view.findChild<QPushButton*>(QStringLiteral("saveName")), Qt::LeftButton);
    };
    const auto updateActiveProfile = [&](const QString&) {
        QTest::mouseClick(
            view.findChild<QPushButton*>(QStringLiteral("updateProfile")), Qt::LeftButton);
    };
    const auto resume = [&] { QTest::mouseClick(&button("resumeAll"), Qt::LeftButton); };
    const auto adjustAgain = [&] { QTest::keyClick(&slider, Qt::Key_PageDown); };
    struct Case {
        std::string_view what;
        std::function<void(const QString&)> save;
        std::function<void()> then;
    };
    // An update releases the holds it saved: "Saved." stands beside "no manual settings" then.
    const Case cases[] = {
        {"new profile, then Resume", saveAsNewProfile, resume},
        {"new profile, then another change", saveAsNewProfile, adjustAgain},
        {"update, then another change", updateActiveProfile, adjustAgain},
    };
    int saves = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.what));
        QTest::keyClick(&slider, Qt::Key_PageDown);
        demo.settle();
        c.save(QStringLiteral("Desk ") + QString::number(++saves));
        demo.settle();
        ASSERT_EQ(result.text(), QStringLiteral("Saved."));
        demo.world.executor.advance(std::chrono::seconds(3)); // polling changes nothing held
        demo.turn();
        EXPECT_TRUE(result.isVisibleTo(&view));
        saveScreenshot(view, "popover-saved-" + std::to_string(saves));

        c.then();
        demo.settle();
        EXPECT_FALSE(result.isVisibleTo(&view));
        saveScreenshot(view, "popover-saved-then-" + std::to_string(saves));
        resume();
        demo.settle();
    }
}

TEST_F(MenuViewTest, ARefusedSaveShowsWhyAndTheOpenButtonAsksForTheWindow)
{
    QSlider* slider = view.displaysPage().findChild<QSlider*>(QStringLiteral("slider"));
    QTest::keyClick(slider, Qt::Key_PageDown);
    demo.settle();
    QPushButton& update = *view.findChild<QPushButton*>(QStringLiteral("updateProfile"));
    ASSERT_TRUE(update.isEnabled());
    QTest::mouseClick(&update, Qt::LeftButton);
    // The file fails before the save's turn comes: the save refuses with the reason.
    model.settingsError.set("The settings file is damaged.");
    demo.settle();
    EXPECT_EQ(view.findChild<QLabel*>(QStringLiteral("saveResult"))->text(),
        QStringLiteral("The settings file is damaged."));
    EXPECT_FALSE(update.isEnabled());

    QSignalSpy requests(&view, &MenuView::mainWindowRequested);
    QTest::mouseClick(&button("openMainWindow"), Qt::LeftButton);
    EXPECT_EQ(requests.count(), 1);
}

TEST_F(MenuViewTest, AFailedSaveIsSaidOnceInTheCardAndTheStatusLineTakesItBackWhenTheCardLetsGo)
{
    QTest::keyClick(
        view.displaysPage().findChild<QSlider*>(QStringLiteral("slider")), Qt::Key_PageDown);
    demo.settle();
    // A folder where the file should be: the write fails as it would without the permission.
    std::filesystem::remove(model.settingsURL);
    std::filesystem::create_directories(model.settingsURL / "inside");
    QTest::mouseClick(
        view.findChild<QPushButton*>(QStringLiteral("updateProfile")), Qt::LeftButton);
    demo.settle();
    const QString failure = QString::fromStdString(model.settingsError->value_or(""));
    ASSERT_TRUE(failure.startsWith("Could not save the file")) << failure.toStdString();
    const auto linesSaying = [&] {
        QStringList names;
        for (const QLabel* line : view.findChildren<QLabel*>()) {
            if (line->isVisibleTo(&view) && line->text().contains(failure))
                names.push_back(line->objectName());
        }
        return names.join(", ").toStdString();
    };
    EXPECT_EQ(linesSaying(), "saveResult");
    layOut(); // as the popup fits itself to its content
    view.resize(view.width(), view.heightForWidth(view.width()));
    saveScreenshot(view, "popover-save-failed");

    QTest::mouseClick(&button("resumeAll"), Qt::LeftButton);
    demo.turn();
    EXPECT_EQ(linesSaying(), "status");
}

TEST(PopoverSaveTest, AFailedSaveIsSaidOnlyWhileTheHoldsAndTheHardwareAreAsItFoundThem)
{
    using namespace status_support;
    testApplication();
    const MonitorFault ddcOff{"DDC/CI switched off",
        [](SimulatedDDCMonitor& monitor) { monitor.faults.isDDCEnabled = false; }, ""};
    const QString unavailable = QStringLiteral("A manually adjusted display setting is "
                                               "unavailable. Reconnect or recheck the screen "
                                               "before saving.");
    const auto click = [](QWidget& view, const char* name) {
        QTest::mouseClick(view.findChild<QPushButton*>(QString::fromLatin1(name)), Qt::LeftButton);
    };
    struct Case {
        std::string_view then;
        std::function<void(ModeWorld&, MenuView&)> act;
        bool stays;
    };
    const Case cases[] = {
        {"polling alone", [](ModeWorld& mac, MenuView&) { mac.executor.advance(3s); }, true},
        {"Cancel", [&](ModeWorld&, MenuView& view) { click(view, "cancelName"); }, false},
        {"Recheck", [](ModeWorld& mac, MenuView&) { mac.model->recheckHardware(); }, false},
        {"Resume all", [&](ModeWorld&, MenuView& view) { click(view, "resumeAll"); }, false},
        {"a new manual change",
            [](ModeWorld& mac, MenuView&) {
                mac.model->manual(SettingValue::percent(0.3),
                    mode_support::modeKeyOf(mode_support::externalID, SettingKey::contrast), false);
            },
            false},
        {"the hold's end", [](ModeWorld& mac, MenuView&) { mac.executor.advance(31min); }, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.then));
        ModeWorld mac(true);
        MenuView view(*mac.model);
        view.show();
        holdBrightnessAt40(mac, view.displaysPage(), ddcOff);
        click(view, "saveNewProfile");
        QTest::keyClicks(
            view.findChild<QLineEdit*>(QStringLiteral("newProfileName")), QStringLiteral("Desk"));
        click(view, "saveName");
        mac.settle();
        const QLabel& result = *view.findChild<QLabel*>(QStringLiteral("saveResult"));
        ASSERT_EQ(result.text(), unavailable);
        ASSERT_TRUE(result.isVisibleTo(&view));

        c.act(mac, view);
        mac.executor.advance(5s);
        EXPECT_EQ(result.isVisibleTo(&view), c.stays);
        if (c.then == "Resume all") {
            // As the popup fits itself to its content: a bare window keeps its first height.
            layOut();
            view.resize(view.width(), view.heightForWidth(view.width()));
            saveScreenshot(view, "popover-failure-then-resume");
        }
    }
}

TEST_F(MenuViewTest, WindowAccessNoticeFollowsTheActiveProfilesRulesAndAsksForAccess)
{
    const QWidget& notice = *view.findChild<QWidget*>(QStringLiteral("windowAccess"));
    auto& profiles = *view.findChild<QComboBox*>(QStringLiteral("activeProfile"));
    model.hasWindowAccess.set(false);
    struct Case {
        const char* profile;
        bool needsAccess;
    };
    // Work's rules pick a screen by the window in front; Evening's apply everywhere.
    for (const Case c : {Case{"Work · sample", true}, Case{"Evening · sample", false}}) {
        SCOPED_TRACE(c.profile);
        emit profiles.activated(profiles.findText(QString::fromUtf8(c.profile)));
        EXPECT_EQ(model.configuration->activeProfile().name, c.profile);
        EXPECT_EQ(notice.isVisibleTo(&view), c.needsAccess);
        demo.settle();
    }
    emit profiles.activated(profiles.count()); // past the end: nothing
    EXPECT_EQ(model.configuration->activeProfile().name, "Evening · sample");
    model.hasWindowAccess.set(true);
    emit profiles.activated(profiles.findText(QStringLiteral("Work · sample")));
    EXPECT_FALSE(notice.isVisibleTo(&view));
    demo.settle();
}

TEST_F(MenuViewTest, TheProfilePickerChangesOnlyTheItemsOfTheProfilesThatChanged)
{
    auto& picker = *view.findChild<QComboBox*>(QStringLiteral("activeProfile"));
    const auto shownNames = [&] {
        std::vector<std::string> names;
        for (int item = 0; item < picker.count(); ++item)
            names.push_back(picker.itemText(item).toStdString());
        return names;
    };
    const auto storedNames = [&] {
        std::vector<std::string> names;
        for (const Profile& profile : model.configuration->orderedProfileReferences())
            names.push_back(profile.name);
        return names;
    };
    const auto idOf = [&](const char* name) {
        return std::ranges::find(model.configuration->profiles, name, &Profile::name)->id;
    };
    for (const char* name : {"Hall", "Porch", "Attic", "Cellar"})
        model.createProfile(name);
    demo.turn();
    ASSERT_EQ(shownNames(), storedNames());
    QSignalSpy changed(picker.model(), &QAbstractItemModel::dataChanged);
    QSignalSpy removed(picker.model(), &QAbstractItemModel::rowsRemoved);
    QSignalSpy reset(picker.model(), &QAbstractItemModel::modelReset);

    // Renamed to its neighbour's name: equal names side by side must not confuse it.
    model.renameProfile(idOf("Porch"), "Hall");
    demo.turn();
    EXPECT_EQ(shownNames(), storedNames());
    EXPECT_EQ(changed.size(), 1);
    EXPECT_EQ(removed.size(), 0);
    // The last item, renamed to the name before it.
    model.renameProfile(idOf("Cellar"), "Attic");
    demo.turn();
    EXPECT_EQ(shownNames(), storedNames());

    model.deleteProfile(idOf("Hall"));
    demo.turn();
    EXPECT_EQ(shownNames(), storedNames());
    EXPECT_EQ(removed.size(), 1);
    EXPECT_EQ(
        picker.currentText(), QString::fromStdString(model.configuration->activeProfile().name));

    // Two side by side at once, then two come in near the top.
    model.configuration.modify([](Configuration& document) {
        document.profiles.eraseIf([](const Profile& profile) {
            return profile.name == "Hall" || profile.name == "Attic";
        });
    });
    demo.turn();
    EXPECT_EQ(shownNames(), storedNames());
    model.configuration.modify([](Configuration& document) {
        document.profiles.insert(document.profiles.begin() + 1,
            {{.id = UUID::random(), .name = "Loft"}, {.id = UUID::random(), .name = "Den"}});
    });
    demo.turn();
    EXPECT_EQ(shownNames(), storedNames());
    EXPECT_EQ(reset.size(), 0);

    // Each item still activates its own profile.
    const UUID evening = idOf("Evening · sample");
    emit picker.activated(picker.findText(QStringLiteral("Evening · sample")));
    EXPECT_EQ(model.configuration->activeProfileID, evening);
    EXPECT_EQ(picker.currentText(), QStringLiteral("Evening · sample"));
    demo.settle();
    const std::string first = storedNames().front();
    ASSERT_NE(first, "Evening · sample");
    emit picker.activated(0);
    EXPECT_EQ(model.configuration->activeProfile().name, first);
    demo.settle();
}

TEST(MenuBarExtraTest, WithoutASystemTrayThePopoverIsAnOrdinaryWindow)
{
    DemoWorld demo;
    MenuBarExtra extra(*demo.model);
    QWidget& popover = extra.popover();
    // The offscreen platform has no tray.
    EXPECT_TRUE(popover.isVisible());
    EXPECT_TRUE(popover.isWindow());
    EXPECT_FALSE(popover.windowFlags().testFlag(Qt::Popup));
    EXPECT_EQ(popover.windowTitle(), QStringLiteral("QuorVane"));
    EXPECT_FALSE(sunIcon().isNull());
    // All of the content, or as much as the screen holds, not the short hint of what scrolls.
    const int full = extra.menuView().parentWidget()->heightForWidth(popover.width());
    EXPECT_EQ(popover.height(), std::min(full, popover.screen()->availableGeometry().height()));
    saveScreenshot(popover, "popover");
}

TEST(MenuBarExtraTest, OpeningTheMainWindowClosesThePopoverSoTheNextClickLandsInTheWindow)
{
    DemoWorld demo;
    MainWindow window(*demo.model, demo.world.shell);
    MenuBarExtra extra(*demo.model, MenuBarExtra::Place::tray);
    // As the application answers the request.
    QObject::connect(&extra.menuView(), &MenuView::mainWindowRequested, &window, [&window] {
        window.show();
        window.raise();
        window.activateWindow();
    });
    // Open since the launch, behind others: showing it again closes no popup by itself.
    window.show();
    auto* tray = extra.findChild<QSystemTrayIcon*>();
    ASSERT_NE(tray, nullptr);
    EXPECT_EQ(tray->toolTip(), QStringLiteral("QuorVane"));
    QWidget& popover = extra.popover();
    // The right button opens and closes it as the left one does: the icon has no menu.
    for (const bool isOpen : {true, false}) {
        emit tray->activated(QSystemTrayIcon::Context);
        EXPECT_EQ(popover.isVisible(), isOpen);
    }
    emit tray->activated(QSystemTrayIcon::Trigger);
    ASSERT_TRUE(popover.isVisible());
    ASSERT_EQ(QApplication::activePopupWidget(), &popover);

    QTest::mouseClick(
        extra.menuView().findChild<QPushButton*>(QStringLiteral("openMainWindow")), Qt::LeftButton);
    EXPECT_FALSE(popover.isVisible());
    EXPECT_EQ(QApplication::activePopupWidget(), nullptr);
    EXPECT_TRUE(window.isVisible());
    QTest::mouseClick(&window.content().sidebar().navButton(AppPage::displays), Qt::LeftButton);
    EXPECT_EQ(*demo.model->page, AppPage::displays);

    // The icon opens it again, and closes it.
    for (const bool isOpen : {true, false}) {
        emit tray->activated(QSystemTrayIcon::Trigger);
        EXPECT_EQ(popover.isVisible(), isOpen);
    }
    demo.settle();
}

TEST(MenuBarExtraTest, TheIconAsksForTheWindowThatWaitsMinimisedOnItsPanel)
{
    DemoWorld demo;
    MenuBarExtra extra(*demo.model, MenuBarExtra::Place::tray);
    auto* tray = extra.findChild<QSystemTrayIcon*>();
    ASSERT_NE(tray, nullptr);
    QSignalSpy requests(&extra.menuView(), &MenuView::mainWindowRequested);
    QWidget window;
    window.show();
    QDialog panel(&window);
    panel.setWindowModality(Qt::WindowModal);
    struct Case {
        const char* name;
        bool isPanelOpen;
        QWidget* minimised;
        bool asksForTheWindow;
    };
    const Case cases[] = {
        {"panel open", true, nullptr, false},
        {"panel open, window minimised", true, &window, true},
        {"panel minimised", true, &panel, true},
        {"window minimised", false, &window, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        requests.clear();
        panel.setVisible(c.isPanelOpen);
        for (QWidget* shown : std::initializer_list<QWidget*>{&window, &panel})
            shown->setWindowState(shown == c.minimised ? Qt::WindowMinimized : Qt::WindowNoState);
        emit tray->activated(QSystemTrayIcon::Trigger);
        EXPECT_EQ(requests.count(), c.asksForTheWindow ? 1 : 0);
        EXPECT_EQ(extra.popover().isVisible(), !c.asksForTheWindow);
        extra.popover().hide();
    }
}

TEST(PopoverGeometryTest, OpensBesideTheIconOnTheSideWithRoomInsideTheFreeArea)
{
    // A 1440 by 900 screen with a panel of 28 (or 40 at a side) that holds the tray.
    const QRect underTopPanel(0, 28, 1440, 872);
    const QRect topIcon(1396, 2, 24, 24);
    const QRect overBottomPanel(0, 0, 1440, 872);
    const QRect bottomIcon(1396, 874, 24, 24);
    const QRect besideLeftPanel(40, 0, 1400, 900);
    const QRect leftIcon(8, 438, 24, 24);
    const QRect besideRightPanel(0, 0, 1400, 900);
    const QRect rightIcon(1408, 438, 24, 24);
    const QSize fits(420, 600);
    const QSize tall(420, 1200);
    struct Case {
        const char* name;
        QRect icon;
        QPoint pointer;
        QRect available;
        QSize wanted;
        QRect expected;
    };
    const Case cases[] = {
        {"top tray", topIcon, {}, underTopPanel, fits, {1020, 28, 420, 600}},
        {"top tray, 4 too tall", topIcon, {}, underTopPanel, {420, 876}, {1020, 28, 420, 872}},
        {"top tray, mid panel", {700, 2, 24, 24}, {}, underTopPanel, fits, {501, 28, 420, 600}},
        {"bottom tray", bottomIcon, {}, overBottomPanel, fits, {1020, 272, 420, 600}},
        {"bottom tray, too tall", bottomIcon, {}, overBottomPanel, tall, {1020, 0, 420, 872}},
        {"left tray", leftIcon, {}, besideLeftPanel, fits, {40, 149, 420, 600}},
        {"right tray", rightIcon, {}, besideRightPanel, fits, {980, 149, 420, 600}},
        {"left tray, too tall", leftIcon, {}, besideLeftPanel, tall, {40, 0, 420, 900}},
        {"narrow screen", {370, 2, 24, 24}, {}, {0, 28, 400, 572}, fits, {0, 28, 400, 572}},
        // Trays that don't tell where the icon is: the click was on it.
        {"unknown icon, top", {}, {1407, 14}, underTopPanel, fits, {1020, 28, 420, 600}},
        {"unknown icon, bottom", {}, {1407, 886}, overBottomPanel, fits, {1020, 272, 420, 600}},
        {"unknown icon, low", {}, {720, 600}, underTopPanel, fits, {510, 28, 420, 572}},
        {"unknown icon, left end", {}, {0, 14}, underTopPanel, fits, {0, 28, 420, 600}},
        {"unknown icon, right end", {}, {1439, 14}, underTopPanel, fits, {1020, 28, 420, 600}},
        {"fits below, more above", {}, {720, 1399}, {0, 0, 1440, 2000}, fits,
            {510, 1400, 420, 600}},
        {"as much room above", {}, {720, 450}, {0, 0, 1440, 901}, fits, {510, 451, 420, 450}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const QRect placed = popoverGeometry(c.icon, c.pointer, c.available, c.wanted);
        EXPECT_EQ(placed, c.expected);
        EXPECT_TRUE(c.available.contains(placed));
        EXPECT_FALSE(placed.intersects(c.icon.isEmpty() ? QRect(c.pointer, QSize(1, 1)) : c.icon));
    }
}

/// A screen with a panel of 28 at its top or bottom whose tray icon sits at its right end.
struct Desk {
    const char* name;
    QSize screen;
    bool isPanelAtTop;

    [[nodiscard]] QRect panel() const
    {
        return {0, isPanelAtTop ? 0 : screen.height() - 28, screen.width(), 28};
    }
    [[nodiscard]] QRect icon() const { return {screen.width() - 34, panel().top() + 2, 24, 24}; }
    [[nodiscard]] QRect available() const
    {
        return {0, isPanelAtTop ? 28 : 0, screen.width(), screen.height() - 28};
    }
};

/// The whole screen of `desk` with the open popover on it, as a person sees it.
void saveDeskScreenshot(const Desk& desk, QWidget& popover, const std::string& name)
{
    QPixmap screen(desk.screen);
    screen.fill(QColor(0x5B, 0x6E, 0x84));
    QPainter painter(&screen);
    painter.fillRect(desk.panel(), QColor(0x22, 0x22, 0x22));
    sunIcon().paint(&painter, desk.icon());
    painter.drawImage(popover.pos(), picture(popover));
    painter.end();
    QLabel shown;
    shown.setPixmap(screen);
    shown.resize(desk.screen);
    saveScreenshot(shown, name);
}

TEST(MenuBarExtraTest, ThePopoverFitsBesideItsIconEveryTimeAndScrollsWhatTheScreenCannotHold)
{
    testApplication();
    const Desk desks[] = {
        {"popover-top-tray", {1440, 1000}, true},
        {"popover-bottom-tray", {1440, 1000}, false},
        {"popover-too-tall", {1024, 600}, true},
    };
    for (const Desk& desk : desks) {
        SCOPED_TRACE(desk.name);
        // Built while the model starts, as the application does: the displays come later.
        ModelWorld world;
        const auto model = AppModel::create(
            world.environment(), {.simulation = true, .startAutomatically = true});
        MenuBarExtra extra(*model, MenuBarExtra::Place::tray);
        world.executor.advance(std::chrono::seconds(5));
        QWidget& popover = extra.popover();
        QScrollArea& scroll = *popover.findChild<QScrollArea*>();
        QScrollBar& scrollBar = *scroll.verticalScrollBar();
        const QWidget& quit = *extra.menuView().findChild<QPushButton*>(QStringLiteral("quit"));
        std::optional<QRect> first;
        for (int time = 1; time <= 2; ++time) {
            SCOPED_TRACE(time);
            extra.openPopover(desk.icon(), {}, desk.available());
            QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
            EXPECT_EQ(scrollBar.value(), 0) << "each opening starts at the top";
            const QRect shown = popover.geometry();
            EXPECT_TRUE(desk.available().contains(shown));
            EXPECT_FALSE(shown.intersects(desk.icon()));
            EXPECT_EQ(shown.width(), 420);
            EXPECT_EQ(scroll.geometry(), popover.rect()) << "its bar at the popover's edge";
            EXPECT_EQ(shown, first.value_or(shown)) << "as the first time";
            first = shown;
            const bool isTooTall = shown.height() == desk.available().height();
            EXPECT_EQ(scrollBar.maximum() > 0, isTooTall);
            EXPECT_EQ(isTooTall, desk.screen.height() < 900);
            if (time == 1)
                saveDeskScreenshot(desk, popover, desk.name);
            scrollBar.setValue(scrollBar.maximum()); // the last controls come into view
            const QRect quitShown(quit.mapTo(scroll.viewport(), QPoint(0, 0)), quit.size());
            EXPECT_TRUE(scroll.viewport()->rect().contains(quitShown));
            popover.hide();
        }
    }
}

/// Lays out what changed, level by level up to the popover, as the event loop would.
void layOut()
{
    for (int level = 0; level < 12; ++level)
        QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
}

TEST(MenuBarExtraTest, WhileOpenThePopoverFollowsItsContentAsAnOpeningWouldPlaceIt)
{
    const Desk desks[] = {
        {"popover-grown-top-tray", {1440, 1000}, true},
        {"popover-grown-bottom-tray", {1440, 1000}, false},
        {"popover-grown-too-tall", {1024, 600}, true},
    };
    const std::string message = "The settings file could not be read. The data is not valid "
                                "JSON.";
    for (const Desk& desk : desks) {
        SCOPED_TRACE(desk.name);
        DemoWorld demo;
        demo.settle();
        MenuBarExtra extra(*demo.model, MenuBarExtra::Place::tray);
        QWidget& popover = extra.popover();
        const QScrollBar& scrollBar = *popover.findChild<QScrollArea*>()->verticalScrollBar();
        const QSlider& slider = *extra.menuView().displaysPage().findChild<QSlider*>();
        const auto open = [&] {
            popover.hide();
            extra.openPopover(desk.icon(), {}, desk.available());
            layOut();
        };
        open();
        const QRect first = popover.geometry();
        const int sliderWidth = slider.width();
        const bool isTooTall = first.height() == desk.available().height();
        ASSERT_EQ(isTooTall, desk.screen.height() < 900);

        demo.model->settingsError.set(message); // the status line grows by two lines
        demo.turn();
        layOut();
        const QRect grown = popover.geometry();
        EXPECT_TRUE(desk.available().contains(grown));
        EXPECT_FALSE(grown.intersects(desk.icon()));
        EXPECT_EQ(grown.height() > first.height(), !isTooTall);
        EXPECT_EQ(scrollBar.maximum() > 0, isTooTall) << "a bar where the screen has room";
        EXPECT_EQ(slider.width(), sliderWidth) << "the sliders keep their width";
        saveDeskScreenshot(desk, popover, desk.name);
        open();
        EXPECT_EQ(popover.geometry(), grown) << "where an opening places it";

        demo.model->settingsError.set(std::nullopt);
        demo.turn();
        layOut();
        EXPECT_EQ(popover.geometry(), first) << "and back when the line goes";

        // A line that fills the popover's width would wrap beside a scroll bar: it takes one.
        const QLabel& status = *extra.menuView().findChild<QLabel*>(QStringLiteral("status"));
        std::string app = "App";
        while (status.fontMetrics().horizontalAdvance(
                   QString::fromStdString("Following the rules · " + app + "x"))
            <= status.width())
            app += 'x';
        demo.model->currentAppName.set(app);
        demo.turn();
        layOut();
        const QWidget& content = *extra.menuView().parentWidget();
        EXPECT_EQ(content.height(), content.heightForWidth(content.width())) << "a blank band";
        EXPECT_EQ(popover.geometry(), first);
    }
}

/// The popover opened beside a tray at the top of a 1440 by 1000 screen.
void openAtTopRight(MenuBarExtra& extra)
{
    const Desk desk{"top right", {1440, 1000}, true};
    extra.openPopover(desk.icon(), {}, desk.available());
    QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
}

/// Whether `line` shows whole inside the popover: wrapped onto as many lines as it needs, never
/// cut at the popover's edge nor widening it, nor pushing the last controls out of view.
void expectWholeInside(QWidget& popover, const QLabel& line)
{
    EXPECT_EQ(popover.findChild<QScrollArea*>()->verticalScrollBar()->maximum(), 0);
    EXPECT_TRUE(line.isVisibleTo(&popover));
    EXPECT_TRUE(line.wordWrap());
    EXPECT_GE(line.height(), line.heightForWidth(line.width())) << "a line is cut off";
    EXPECT_EQ(popover.width(), 420);
    EXPECT_LE(line.mapTo(&popover, QPoint(line.width(), 0)).x(), popover.width());
}

TEST(PopoverStatusTest, AFailedOrUnconfirmedWriteIsSaidUnderItsControlOnAsManyLinesAsItNeeds)
{
    using namespace status_support;
    testApplication();
    struct Case {
        const MonitorFault& fault;
        const char* screenshot;
    };
    const Case cases[] = {
        {refusedWrite, "popover-failed-write"},
        {coarseSteps, "popover-readback-differs"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fault.name);
        ModeWorld mac(true);
        MenuBarExtra extra(*mac.model, MenuBarExtra::Place::tray);
        const DisplaysPage& page = extra.menuView().displaysPage();
        holdBrightnessAt40(mac, page, c.fault);
        const QLabel& line
            = *page.rowOf(externalBrightness)->findChild<QLabel*>(QStringLiteral("source"));
        openAtTopRight(extra);
        EXPECT_EQ(line.text().toStdString(), c.fault.line);
        expectWholeInside(extra.popover(), line);
        // Beside the hold, neither fits on one line of the popover.
        EXPECT_GT(line.height(), line.fontMetrics().lineSpacing() * 3 / 2);
        expectHoldApartFromTheStatus(*page.rowOf(externalBrightness));
        saveScreenshot(extra.popover(), c.screenshot);
    }
}

TEST(PopoverStatusTest, TheAutomationNoteIsSaidUnderTheRefreshRateAndNoRuleNameWidensThePopover)
{
    DemoWorld demo;
    AppModel& model = *demo.model;
    demo.settle();
    MenuBarExtra extra(model, MenuBarExtra::Place::tray);
    openAtTopRight(extra);
    const DisplaysPage& page = extra.menuView().displaysPage();
    const auto* const noteLine
        = page.cardOf("demo-external")->findChild<QLabel*>(QStringLiteral("refreshRateStatus"));
    ASSERT_NE(noteLine, nullptr);
    const QLabel& note = *noteLine;
    EXPECT_EQ(note.text(),
        QStringLiteral("Preview and keep this combination before automation can use it"));
    expectWholeInside(extra.popover(), note);
    saveScreenshot(extra.popover(), "popover-automation-note");

    // No line can hold this name: it runs to the row's end rather than widening the popover.
    const std::string longName(80, 'W');
    model.configuration.modify([&](Configuration& document) {
        for (std::size_t profile = 0; profile < document.profiles.size(); ++profile) {
            const auto& rules = document.profiles[profile].rules;
            for (std::size_t rule = 0; rule < rules.size(); ++rule)
                if (rules[rule].name == "External screen")
                    document.profiles.edit(profile).rules.edit(rule).name = longName;
        }
    });
    model.resolveAndApply(false);
    demo.settle();
    const ControlKey contrast{
        .target = ControlTarget::display("demo-external"), .setting = SettingKey::contrast};
    const QLabel& line = *page.rowOf(contrast)->findChild<QLabel*>(QStringLiteral("source"));
    EXPECT_EQ(line.text().toStdString(), longName + " · Readback confirmed");
    EXPECT_LE(extra.menuView().minimumSizeHint().width(), 420) << "the name widened the popover";
    EXPECT_EQ(extra.popover().width(), 420);
}

} // namespace
} // namespace quorvane
