#include "Quorvane/Views/MainWindow.h"

#include "Quorvane/Views/Design/EditingTextField.h"
#include "Quorvane/Views/Design/FocusKeeper.h"
#include "Quorvane/Views/Design/QuorStyle.h"
#include "Quorvane/Views/Design/SymbolIcon.h"
#include "Quorvane/Views/MainWindow/ContentView.h"
#include "Quorvane/Views/MainWindow/DefaultProfileView.h"
#include "Quorvane/Views/MainWindow/ProfilePage.h"
#include "Quorvane/Views/MainWindow/ProfileSidebar.h"
#include "Quorvane/Views/MainWindow/RuleRow.h"
#include "Quorvane/Views/MainWindow/RulesTable.h"
#include "Quorvane/Views/MainWindow/SettingsView.h"
#include "QuorvaneViewTests/MainWindowTestSupport.h"

#include <QApplication>
#include <QDialog>
#include <QDragEnterEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QSlider>
#include <QTest>
#include <QTextDocument>
#include <QToolButton>

#include <string>
#include <vector>

namespace quorvane {
namespace {

using namespace std::chrono_literals;

class MainWindowTest : public MainWindowFixture { };

QImage iconOf(const SidebarRow& row)
{
    return row.data(Qt::DecorationRole).value<QIcon>().pixmap(16, 16).toImage();
}

QImage symbolPicture(std::string_view symbol)
{
    return symbolIcon(symbol, QuorStyle::secondaryText()).pixmap(16, 16).toImage();
}

TEST_F(MainWindowTest, TheEditorColumnWidensTheWindowAndLeavingTheProfilesPageClosesIt)
{
    EXPECT_EQ(window.width(), 1034);
    EXPECT_GE(window.height(), 680);
    EXPECT_EQ(content.editor(), nullptr);
    saveScreenshot(window, "main-window-1034");

    const RuleDraft draft = draftOf(profileNamed("Work · sample"), 1);
    model.previewRuleSettings(draft);
    ASSERT_TRUE(model.liveRuleEdit.get());
    content.setDraft(draft);
    turn();
    ASSERT_NE(content.editor(), nullptr);
    EXPECT_EQ(window.width(), 1370);
    EXPECT_EQ(content.editor()->width(), 1370 - 1034 - 1);
    saveScreenshot(window, "main-window-1370");

    model.page.set(AppPage::displays);
    turn();
    EXPECT_EQ(content.editor(), nullptr);
    EXPECT_FALSE(content.draft());
    EXPECT_FALSE(model.liveRuleEdit.get());
    EXPECT_EQ(window.width(), 1034);
    model.page.set(AppPage::profiles); // coming back opens nothing again
    turn();
    EXPECT_EQ(content.editor(), nullptr);

    // Off the profiles page a sidebar rename stays open until the page changes again.
    model.page.set(AppPage::displays);
    turn();
    QMenu* menu = row("Evening · sample").contextMenu();
    menu->actions().front()->trigger();
    delete menu;
    turn();
    turn();
    EXPECT_NE(row("Evening · sample").nameField(), nullptr);
    model.page.set(AppPage::settings);
    turn();
    EXPECT_EQ(row("Evening · sample").nameField(), nullptr);
}

TEST_F(MainWindowTest, AnEditorGoingAwayEndsItsLiveEditBeforeTheNextEditorStarts)
{
    std::vector<bool> liveWhenBuilt;
    content.setEditorFactory(
        [&](AppModel& shown, const RuleDraft&, std::function<void()> close, QWidget* parent) {
            liveWhenBuilt.push_back(shown.liveRuleEdit.get().has_value());
            auto* closeButton = new QPushButton(QStringLiteral("Close"), parent);
            QObject::connect(closeButton, &QPushButton::clicked, closeButton, close);
            return closeButton;
        });
    const Profile work = profileNamed("Work · sample");
    content.setDraft(draftOf(work, 0));
    turn();
    model.previewRuleSettings(draftOf(work, 0));
    content.setDraft(draftOf(work, 1)); // another rule: a fresh editor
    turn();
    EXPECT_EQ(liveWhenBuilt, (std::vector<bool>{false, false}));

    model.previewRuleSettings(draftOf(work, 1));
    QTest::mouseClick(static_cast<QPushButton*>(content.editor()), Qt::LeftButton);
    EXPECT_FALSE(model.liveRuleEdit.get());
    EXPECT_FALSE(content.draft());
    turn();
    EXPECT_EQ(content.editor(), nullptr);
    EXPECT_EQ(window.width(), 1034);
}

TEST_F(MainWindowTest, SelectingAnotherProfileClosesTheEditorAndAbandonsOtherRenames)
{
    content.setDraft(draftOf(profileNamed("Work · sample"), 0));
    content.setShowsRules(false);
    content.beginProfileRename({ProfileRenameTarget::Site::sidebar, workID});
    turn();
    ASSERT_NE(row("Work · sample").nameField(), nullptr);

    model.selectProfile(eveningID);
    turn();
    EXPECT_EQ(content.editor(), nullptr);
    EXPECT_TRUE(content.showsRules());
    EXPECT_FALSE(content.renameTarget());
    EXPECT_EQ(row("Work · sample").nameField(), nullptr);

    // A rename of the profile being selected stays open.
    content.beginProfileRename({ProfileRenameTarget::Site::sidebar, workID});
    model.selectProfile(workID);
    turn();
    EXPECT_NE(row("Work · sample").nameField(), nullptr);
}

TEST_F(MainWindowTest, SidebarListsDefaultFirstAndSelectsWithAClick)
{
    const std::vector<Profile> ordered = model.configuration->orderedProfiles();
    ASSERT_EQ(ordered.front().id, model.configuration->defaultProfileID);
    for (const Profile& profile : ordered) {
        SCOPED_TRACE(profile.name);
        const SidebarRow shown = rowOf(profile.id);
        EXPECT_EQ(shown.name().toStdString(), profile.name);
        EXPECT_EQ(shown.showsActiveMark(), profile.id == model.configuration->activeProfileID);
        const bool isDefault = profile.id == model.configuration->defaultProfileID;
        EXPECT_EQ(
            iconOf(shown), symbolPicture(isDefault ? "lock.rectangle.stack" : "rectangle.stack"));
    }
    row("Evening · sample").click();
    EXPECT_EQ(*model.selectedProfileID, eveningID);
    turn();
    EXPECT_EQ(rowState("Evening · sample"), QStringLiteral("selected"));
    EXPECT_EQ(rowState("Work · sample"), QString());

    QTest::mouseClick(&content.sidebar().navButton(AppPage::displays), Qt::LeftButton);
    turn();
    EXPECT_EQ(*model.page, AppPage::displays);
    // The displays page's own Resume all (DisplaysPage has no meta-object to find it by).
    EXPECT_NE(content.currentPage()->findChild<QPushButton*>(QStringLiteral("resumeAll")), nullptr);
    QTest::mouseClick(&content.sidebar().navButton(AppPage::settings), Qt::LeftButton);
    turn();
    EXPECT_EQ(*model.page, AppPage::settings);
    EXPECT_NE(dynamic_cast<SettingsView*>(content.currentPage()), nullptr);
    EXPECT_EQ(rowState("Evening · sample"), QString()); // no selection shown off the page
    row("Default").click();
    turn();
    EXPECT_EQ(*model.page, AppPage::profiles);
    EXPECT_EQ(rowState("Default"), QStringLiteral("selected"));
}

TEST_F(MainWindowTest, InlineRenameCommitsOnReturnAndDiscardsOtherwise)
{
    struct Case {
        std::string_view name;
        QString typed;
        std::function<void(EditingTextField&)> end;
        std::string_view resultingName;
    };
    const Case cases[] = {
        {"Return", QStringLiteral("  Office  "),
            [](EditingTextField& field) { QTest::keyClick(&field, Qt::Key_Return); }, "Office"},
        {"Escape", QStringLiteral("Lab"),
            [](EditingTextField& field) { QTest::keyClick(&field, Qt::Key_Escape); }, "Office"},
        {"focus loss", QStringLiteral("Lab"), [](EditingTextField& field) { field.clearFocus(); },
            "Office"},
        {"blank", QStringLiteral("   "),
            [](EditingTextField& field) { QTest::keyClick(&field, Qt::Key_Return); }, "Office"},
        {"reserved", QStringLiteral("default"),
            [](EditingTextField& field) { QTest::keyClick(&field, Qt::Key_Return); }, "Office"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.name));
        rowOf(workID).doubleClick();
        turn();
        EditingTextField* field = rowOf(workID).nameField();
        ASSERT_NE(field, nullptr);
        EXPECT_TRUE(field->hasFocus());
        QTest::keyClicks(field, c.typed);
        c.end(*field);
        turn();
        EXPECT_EQ(rowOf(workID).nameField(), nullptr);
        EXPECT_FALSE(content.renameTarget());
        const auto work = std::ranges::find(model.configuration->profiles, workID, &Profile::id);
        EXPECT_EQ(work->name, c.resultingName);
    }
    // The refused name comes back from the model in the error alert.
    ASSERT_NE(content.errorAlert(), nullptr);
    EXPECT_EQ(content.errorAlert()->windowTitle(), QStringLiteral("QuorVane"));
    EXPECT_EQ(content.errorAlert()->informativeText().toStdString(), *model.actionError.get());
    QTest::mouseClick(content.errorAlert()->button(QMessageBox::Ok), Qt::LeftButton);
    EXPECT_FALSE(model.actionError.get());
    model.actionError.set("First"); // cleared elsewhere, the alert goes; a new message comes back
    turn();
    model.actionError.set(std::nullopt);
    turn();
    EXPECT_EQ(content.errorAlert(), nullptr);
    model.actionError.set("Second");
    turn();
    ASSERT_NE(content.errorAlert(), nullptr);
    EXPECT_EQ(content.errorAlert()->informativeText(), QStringLiteral("Second"));
    model.selectProfile(eveningID); // the window refreshes; the alert waits for its OK
    turn();
    ASSERT_NE(content.errorAlert(), nullptr);
    EXPECT_TRUE(content.errorAlert()->isVisible());
    EXPECT_EQ(model.actionError.get(), "Second");
    QTest::mouseClick(content.errorAlert()->button(QMessageBox::Ok), Qt::LeftButton);

    content.beginProfileRename({ProfileRenameTarget::Site::sidebar, eveningID});
    turn();
    EXPECT_EQ(iconOf(row("Evening · sample")), symbolPicture("rectangle.stack"));
    content.cancelProfileRename();
    row("Default").doubleClick(); // the Default keeps its name
    turn();
    EXPECT_EQ(row("Default").nameField(), nullptr);
    EXPECT_EQ(row("Default").contextMenu(), nullptr);
}

TEST_F(MainWindowTest, TheKeyboardComesBackToTheRenamedRowAsTheFieldCloses)
{
    ProfileList& list = content.sidebar().profiles();
    for (const Qt::Key key : {Qt::Key_Return, Qt::Key_Escape}) {
        SCOPED_TRACE(key == Qt::Key_Return ? "Return" : "Escape");
        rowOf(workID).doubleClick();
        turn();
        EditingTextField* field = rowOf(workID).nameField();
        ASSERT_NE(field, nullptr);
        QTest::keyClicks(field, QStringLiteral("Office"));
        QTest::keyClick(field, key);
        turn();
        EXPECT_EQ(rowOf(workID).nameField(), nullptr);
        EXPECT_EQ(QApplication::focusWidget(), &list);
        EXPECT_EQ(list.currentIndex(), rowOf(workID).index());
    }
    // Focus taken elsewhere stays there.
    rowOf(workID).doubleClick();
    turn();
    QWidget& elsewhere = content.sidebar().navButton(AppPage::settings);
    elsewhere.setFocus(Qt::ShortcutFocusReason);
    turn();
    EXPECT_EQ(rowOf(workID).nameField(), nullptr);
    EXPECT_EQ(QApplication::focusWidget(), &elsewhere);
}

TEST_F(MainWindowTest, TheCopyCardLeavesThreeSecondsAfterEachNewCopy)
{
    const auto feedback = [](std::string rule) {
        return RuleCopyFeedback{.id = UUID::random(), .ruleName = rule, .profileName = "Evening"};
    };
    model.ruleCopyFeedback.set(feedback("Coding"));
    turn();
    ASSERT_TRUE(content.copyCard()->isVisible());
    EXPECT_EQ(content.copyCard()->findChild<QLabel*>(QStringLiteral("copyText"))->text(),
        QStringLiteral("Copied “Coding” to “Evening”"));
    demo.world.executor.advance(2s);
    model.ruleCopyFeedback.set(feedback("Browsing")); // restarts the wait
    turn();
    demo.world.executor.advance(2999ms);
    EXPECT_TRUE(content.copyCard()->isVisible());
    ASSERT_TRUE(model.ruleCopyFeedback.get());
    EXPECT_EQ(model.ruleCopyFeedback.get()->ruleName, "Browsing");
    demo.world.executor.advance(1ms);
    turn();
    EXPECT_FALSE(model.ruleCopyFeedback.get());
    EXPECT_FALSE(content.copyCard()->isVisible());

    model.ruleCopyFeedback.set(feedback("Coding"));
    turn();
    auto* dismiss = content.copyCard()->findChild<QToolButton*>(QStringLiteral("dismissCopy"));
    EXPECT_EQ(dismiss->accessibleName(), QStringLiteral("Dismiss copy confirmation"));
    QTest::mouseClick(dismiss, Qt::LeftButton);
    EXPECT_FALSE(model.ruleCopyFeedback.get());
}

TEST_F(MainWindowTest, ARuleDroppedOnAnotherProfileIsCopiedThere)
{
    const Rule coding = profileNamed("Work · sample").rules.at(1);
    const QString identifier = QString::fromStdString(coding.id.uuidString());
    ASSERT_EQ(identifier, identifier.toUpper());
    struct Case {
        std::string_view name;
        /// The row the drag enters the list over, or none for the gap below the rows.
        std::string_view entry;
        std::string_view row;
        QString text;
        bool accepted;
    };
    const Case cases[] = {
        {"other text", "Evening · sample", "Evening · sample", QStringLiteral("Coding"), false},
        {"on the Default", "Default", "Default", identifier, false},
        {"on the profile shown", "Work · sample", "Work · sample", identifier, false},
        {"in over the profile shown", "Work · sample", "Evening · sample", identifier, true},
        {"in over the Default", "Default", "Evening · sample", identifier, true},
        {"in below the rows", "", "Evening · sample", identifier, true},
        {"on, then off to the Default", "Evening · sample", "Default", identifier, false},
        {"a rule identifier", "Evening · sample", "Evening · sample", identifier, true},
    };
    model.selectProfile(workID);
    turn();
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.name));
        const SidebarRow target = row(c.row);
        const QPoint entry = c.entry.empty()
            ? QPoint(target.centre().x(), target.widget()->height() - 1)
            : row(c.entry).centre();
        const bool accepted
            = dragAndDrop(*target.widget(), entry, target.centre(), c.text, [&](bool isTaken) {
                  turn();
                  EXPECT_EQ(isTaken, c.accepted);
                  EXPECT_EQ(rowState(c.row) == QStringLiteral("dropTarget"), c.accepted);
              });
        EXPECT_EQ(accepted, c.accepted);
        turn();
        EXPECT_FALSE(content.dropTargetProfileID());
    }
    for (int step = 0; step < 50 && !model.ruleCopyFeedback.get(); ++step)
        demo.world.executor.advance(100ms); // the copies are saved first
    turn();
    const RuleList& copied = profileNamed("Evening · sample").rules;
    EXPECT_EQ(std::ranges::count(copied, coding.name, &Rule::name),
        std::ranges::count(cases, true, &Case::accepted));
    EXPECT_TRUE(content.copyCard()->isVisible());

    EXPECT_FALSE(row("Evening · sample").drop(QStringLiteral("Coding")));
    model.preview.set(DisplayPreview{.id = UUID::random()}); // no drops during a display test
    EXPECT_FALSE(row("Evening · sample").drop(identifier));
    model.preview.set(std::nullopt);
}

TEST_F(MainWindowTest, DeletingAProfileGoesThroughTheDialog)
{
    const auto deleteEntry = [&](std::string_view profile) {
        QMenu* menu = row(profile).contextMenu();
        const QList<QAction*> actions = menu->actions();
        QAction* entry = actions.back();
        EXPECT_EQ(entry->text(), QStringLiteral("Delete profile…"));
        return std::pair{menu, entry};
    };
    model.preview.set(DisplayPreview{.id = UUID::random()});
    auto [blockedMenu, blocked] = deleteEntry("Evening · sample");
    EXPECT_FALSE(blocked->isEnabled());
    delete blockedMenu;
    model.preview.set(std::nullopt);

    const bool confirms[] = {false, true};
    for (const bool confirm : confirms) {
        SCOPED_TRACE(confirm);
        auto [menu, entry] = deleteEntry("Evening · sample");
        entry->trigger();
        delete menu;
        turn();
        QMessageBox* dialog = content.deleteDialog();
        ASSERT_NE(dialog, nullptr);
        EXPECT_EQ(dialog->text(), QStringLiteral("Delete Evening · sample?"));
        QAbstractButton* answer = confirm
            ? dialog->findChild<QPushButton*>(QStringLiteral("deleteProfile"))
            : dialog->button(QMessageBox::Cancel);
        QTest::mouseClick(answer, Qt::LeftButton);
        turn();
        EXPECT_EQ(content.deleteDialog(), nullptr);
        EXPECT_EQ(std::ranges::count(model.configuration->profiles, eveningID, &Profile::id),
            confirm ? 0 : 1);
    }
    EXPECT_FALSE(hasRow(eveningID));
}

// The vertical scroll bar covers part of the page's right margin.
TEST_F(MainWindowTest, APageNeverScrollsSidewaysToAControlAtItsRightEdge)
{
    show(AppPage::profiles, workID);
    layOut();
    const QWidget& page = *content.currentPage();
    auto& area
        = *qobject_cast<QScrollArea*>(page.parentWidget()->parentWidget()); // by its viewport
    ASSERT_TRUE(area.verticalScrollBar()->isVisible());
    ASSERT_GT(page.width(), area.viewport()->width());
    // Tab walks through the page, the window's other column and back to the heading's switch.
    page.findChild<QWidget*>(QStringLiteral("addRule"))->setFocus(Qt::ShortcutFocusReason);
    for (int stop = 0; stop < 30; ++stop) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        EXPECT_EQ(page.x(), 0) << QApplication::focusWidget()->objectName().toStdString();
    }
}

// The key that opened the window from the popover may come twice.
TEST_F(MainWindowTest, TheWindowOpensWithTheKeyboardWhereASpaceDoesNothing)
{
    EXPECT_EQ(QApplication::focusWidget(), &content.sidebar().profiles());
    const std::size_t profiles = model.configuration->profiles.size();
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Space);
    turn();
    EXPECT_EQ(content.newProfileDialog(), nullptr);
    EXPECT_EQ(model.configuration->profiles.size(), profiles);
}

// A click on a profile leaves the keyboard beside the page: one shown again never takes back the
// control it had, where a Space would act on a rule the person did not reach.
TEST_F(MainWindowTest, APageShownAgainByAClickTakesBackNoControl)
{
    row("Work · sample").click();
    turn();
    auto& addRule = *content.currentPage()->findChild<QWidget*>(QStringLiteral("addRule"));
    addRule.setFocus(Qt::ShortcutFocusReason);
    row("Default").click();
    turn();
    FocusKeeper::firstTabStop(*content.currentPage())->setFocus(Qt::ShortcutFocusReason);
    row("Work · sample").click();
    turn();
    EXPECT_FALSE(QApplication::focusWidget()->focusPolicy() & Qt::TabFocus)
        << QApplication::focusWidget()->objectName().toStdString();
}

TEST_F(MainWindowTest, AnAltPressAloneLeavesTheKeyboardOutOfTheMenuBar)
{
    QWidget* focused = QApplication::focusWidget();
    QTest::keyPress(focused, Qt::Key_Alt, Qt::AltModifier);
    QTest::keyRelease(focused, Qt::Key_Alt);
    EXPECT_EQ(window.menuBar()->activeAction(), nullptr);
    EXPECT_EQ(QApplication::focusWidget(), focused);
}

TEST_F(MainWindowTest, ACancelledNewProfileDialogStaysClosedAndTheNextStartsEmpty)
{
    QTest::mouseClick(&content.sidebar().createButton(), Qt::LeftButton);
    turn();
    ASSERT_NE(content.newProfileDialog(), nullptr);
    QTest::keyClicks(
        content.newProfileDialog()->findChild<QLineEdit*>(QStringLiteral("name")), "Home");
    content.newProfileDialog()->reject();
    turn();
    model.selectProfile(eveningID); // and the window redraws
    turn();
    EXPECT_EQ(content.newProfileDialog(), nullptr);

    QTest::mouseClick(&content.sidebar().createButton(), Qt::LeftButton);
    turn();
    ASSERT_NE(content.newProfileDialog(), nullptr);
    EXPECT_EQ(
        content.newProfileDialog()->findChild<QLineEdit*>(QStringLiteral("name"))->text(), "");
    content.newProfileDialog()->reject();
}

TEST_F(MainWindowTest, TheNewProfileDialogSavesOnlyANameWithText)
{
    content.sidebar().createButton().setFocus(Qt::ShortcutFocusReason);
    QTest::mouseClick(&content.sidebar().createButton(), Qt::LeftButton);
    turn();
    QDialog* dialog = content.newProfileDialog();
    ASSERT_NE(dialog, nullptr);
    auto* name = dialog->findChild<QLineEdit*>(QStringLiteral("name"));
    auto* save = dialog->findChild<QPushButton*>(QStringLiteral("save"));
    EXPECT_EQ(spokenName(*name), QStringLiteral("Profile name"));
    EXPECT_FALSE(save->isEnabled());
    QTest::keyClicks(name, QStringLiteral("   "));
    EXPECT_FALSE(save->isEnabled());
    QTest::keyClicks(name, QStringLiteral("Home "));
    ASSERT_TRUE(save->isEnabled());
    const HeardFocus screenReader;
    QTest::mouseClick(save, Qt::LeftButton);
    turn();
    EXPECT_EQ(content.newProfileDialog(), nullptr);
    EXPECT_EQ(model.configuration->orderedProfiles().back().name, "Home");
    EXPECT_TRUE(hasRow(profileNamed("Home").id));
    // The list makes the new profile's row current, while the keys are back on "+".
    EXPECT_EQ(screenReader.elsewhere(), std::vector<std::string>{});
}

TEST_F(MainWindowTest, ASettingsErrorShowsANoticeAndStopsEditingProfiles)
{
    const Rule coding = profileNamed("Work · sample").rules.at(1);
    model.settingsError.set("The settings file is damaged.");
    turn();
    auto* notice = content.findChild<QWidget*>(QStringLiteral("settingsError"));
    EXPECT_TRUE(notice->isVisible());
    EXPECT_EQ(notice->findChild<QLabel*>(QStringLiteral("message"))->text(),
        QStringLiteral("The settings file is damaged."));
    EXPECT_FALSE(content.sidebar().createButton().isEnabled());
    EXPECT_FALSE(row("Evening · sample").isEnabled());
    content.beginProfileRename({ProfileRenameTarget::Site::sidebar, eveningID});
    EXPECT_FALSE(content.renameTarget());
    EXPECT_FALSE(row("Evening · sample").drop(QString::fromStdString(coding.id.uuidString())));
    EXPECT_NE(content.currentPage(), nullptr); // the pages stay
}

// Shown as typed: a label that would take the text for markup shows something else.
bool showsAsTyped(const QLabel& label, const QString& typed)
{
    return label.text() == typed
        && (label.textFormat() == Qt::PlainText
            || (label.textFormat() == Qt::AutoText && !Qt::mightBeRichText(typed)));
}

TEST_F(MainWindowTest, NamesThatLookLikeMarkupAreShownAsTyped)
{
    const std::string profileName = "<b>Lab</b>";
    const std::string ruleName = "<i>Late</i> & <u>dark</u>";
    model.renameProfile(workID, profileName);
    model.configuration.modify(
        [&](Configuration& document) { document.profiles.edit(1).rules.edit(0).name = ruleName; });
    ASSERT_EQ(model.configuration->profiles.at(1).id, workID);
    model.selectProfile(workID);
    model.ruleCopyFeedback.set(
        RuleCopyFeedback{.id = UUID::random(), .ruleName = ruleName, .profileName = profileName});
    model.actionError.set("Rule “" + ruleName + "” is invalid.");
    turn();
    const QString shownProfile = QString::fromStdString(profileName);
    const QString shownRule = QString::fromStdString(ruleName);
    auto& page = *static_cast<ProfilePage*>(content.currentPage());
    const RuleRow& ruleRow = *page.rulesTable().rowOf(profileNamed(profileName).rules.front().id);
    struct Case {
        std::string_view where;
        const QLabel* label;
        QString typed;
    };
    const Case cases[] = {
        {"heading", page.findChild<QLabel*>(QStringLiteral("profileName")), shownProfile},
        {"rule name", ruleRow.findChild<QLabel*>(QStringLiteral("name")), shownRule},
        {"copy card", content.copyCard()->findChild<QLabel*>(QStringLiteral("copyText")),
            QStringLiteral("Copied “") + shownRule + QStringLiteral("” to “") + shownProfile
                + QStringLiteral("”")},
        {"error alert",
            content.errorAlert()->findChild<QLabel*>(QStringLiteral("qt_msgbox_informativelabel")),
            content.errorAlert()->informativeText()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.where));
        ASSERT_NE(c.label, nullptr);
        EXPECT_TRUE(showsAsTyped(*c.label, c.typed)) << c.label->text().toStdString();
    }
    // The sidebar paints its names as plain text.
    EXPECT_EQ(row(profileName).name(), shownProfile);
    QTest::mouseClick(content.errorAlert()->button(QMessageBox::Ok), Qt::LeftButton);

    // The conditions' tip, shown as the tip would show it.
    const std::string screenName = "<b>Desk</b> & co";
    model.configuration.modify([&](Configuration& document) {
        document.profiles.edit(1).rules.edit(0).conditions.screen
            = DisplayReference{.id = "demo-external", .name = screenName};
    });
    turn();
    const QString tip = ruleRow.findChild<QLabel*>(QStringLiteral("conditions"))->toolTip();
    QTextDocument tipShown;
    if (Qt::mightBeRichText(tip))
        tipShown.setHtml(tip);
    else
        tipShown.setPlainText(tip);
    EXPECT_EQ(tipShown.toPlainText().toStdString(),
        profileNamed(profileName).rules.front().conditions.label());
    EXPECT_NE(tipShown.toPlainText().indexOf(QString::fromStdString(screenName)), -1);

    content.confirmDeletion(profileNamed(profileName));
    turn();
    ASSERT_NE(content.deleteDialog(), nullptr);
    EXPECT_EQ(content.deleteDialog()->text(), QStringLiteral("Delete ") + shownProfile + "?");
    EXPECT_EQ(content.deleteDialog()->textFormat(), Qt::PlainText);
}

TEST_F(MainWindowTest, TheDefaultPageDropsUnsavedEditsWhenLeft)
{
    const auto defaultPage
        = [&] { return dynamic_cast<DefaultProfileView*>(content.currentPage()); };
    const auto edit = [&] {
        auto* slider = defaultPage()->findChild<QSlider*>(QStringLiteral("slider"));
        ASSERT_NE(slider, nullptr);
        QTest::keyClick(slider, Qt::Key_PageUp);
        turn();
        EXPECT_FALSE(defaultPage()->draft().editedKeys.empty());
    };
    const std::function<void()> leaveAndReturn[] = {
        [&] {
            model.selectProfile(workID);
            turn();
            model.selectProfile(model.configuration->defaultProfileID);
        },
        [&] {
            model.page.set(AppPage::displays);
            turn();
            model.page.set(AppPage::profiles);
        },
    };
    for (const std::function<void()>& visit : leaveAndReturn) {
        model.selectProfile(model.configuration->defaultProfileID);
        turn();
        ASSERT_NE(defaultPage(), nullptr);
        edit();
        turn(); // a redraw on the same page keeps the edit
        EXPECT_FALSE(defaultPage()->draft().editedKeys.empty());
        visit();
        turn();
        ASSERT_NE(defaultPage(), nullptr);
        EXPECT_TRUE(defaultPage()->draft().editedKeys.empty());
    }
}

} // namespace
} // namespace quorvane
