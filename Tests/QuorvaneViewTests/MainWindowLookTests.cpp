// How the main window's pages look and sit: measured on the real widgets, and saved as
// screenshots to look at.
#include "Quorvane/Views/Design/EditingTextField.h"
#include "Quorvane/Views/MainWindow/ProfilePage.h"
#include "Quorvane/Views/MainWindow/SettingValueEditor.h"
#include "Quorvane/Views/MenuView.h"
#include "QuorvaneViewTests/MainWindowTestSupport.h"

#include <QComboBox>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QToolButton>
#include <QVBoxLayout>

#include <climits>
#include <string>
#include <vector>

namespace quorvane {
namespace {

class MainWindowLookTest : public MainWindowFixture {
protected:
    MainWindowLookTest()
    {
        model.selectProfile(workID);
        turn();
    }

    void openRule(std::size_t index)
    {
        content.edit(content.profileWithID(workID)->rules.at(index));
        turn();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
    }
    /// How far below the top of the window's content the first line of `part` is drawn.
    int topOfText(const QWidget& part) const
    {
        int top = INT_MAX;
        for (const QLabel* label : part.findChildren<QLabel*>()) {
            if (label->isVisible() && !label->text().isEmpty())
                top = std::min(top, label->mapTo(&content, QPoint(0, 0)).y());
        }
        return top;
    }
    QComboBox& choiceOf(QWidget& page, SettingKey key) const
    {
        auto* editor = page.findChild<SettingValueEditor*>(QString::fromUtf8(rawValue(key).data()));
        EXPECT_NE(editor, nullptr);
        return *editor->findChild<QComboBox*>(QStringLiteral("choice"));
    }
};

TEST_F(MainWindowLookTest, EveryPageStartsAsHighAsTheRuleEditor)
{
    openRule(0);
    const int editorTop = topOfText(*content.editor());
    EXPECT_EQ(editorTop, 26); // the pages' own padding, and no more
    struct Case {
        std::string_view page;
        AppPage shown;
        UUID profileID;
    };
    const Case cases[] = {
        {"profile", AppPage::profiles, workID},
        {"Default", AppPage::profiles, model.configuration->defaultProfileID},
        {"displays", AppPage::displays, workID},
        {"settings", AppPage::settings, workID},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.page));
        show(c.shown, c.profileID);
        EXPECT_EQ(topOfText(*content.currentPage()), editorTop);
    }
    model.settingsError.set("The settings file is damaged.");
    turn();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
    EXPECT_GT(topOfText(*content.currentPage()), editorTop + 32) << "the notice takes its room";
    saveScreenshot(window, "settings-page-with-notice");
}

TEST_F(MainWindowLookTest, TitlesAre29PixelsAndTheRenameFieldTakesTheNamesPlaceExactly)
{
    auto& page = *static_cast<ProfilePage*>(content.currentPage());
    auto& name = *page.findChild<QLabel*>(QStringLiteral("profileName"));
    EXPECT_EQ(QFontInfo(name.font()).pixelSize(), 29);
    auto& rulesHeader = *page.findChild<QWidget*>(QStringLiteral("rulesHeader"));
    const QRect nameArea(name.mapTo(&window, QPoint(0, 0)), name.size());
    const int rulesTop = rulesHeader.mapTo(&window, QPoint(0, 0)).y();

    content.beginProfileRename({ProfileRenameTarget::Site::heading, workID});
    turn();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
    auto* field = page.findChild<EditingTextField*>(QStringLiteral("profileNameField"));
    ASSERT_NE(field, nullptr);
    EXPECT_EQ(QFontInfo(field->font()).pixelSize(), 29);
    EXPECT_EQ(QRect(field->mapTo(&window, QPoint(0, 0)), field->size()).top(), nameArea.top());
    EXPECT_EQ(field->height(), nameArea.height());
    EXPECT_EQ(rulesHeader.mapTo(&window, QPoint(0, 0)).y(), rulesTop) << "the page moved";
    saveScreenshot(window, "profile-heading-renaming");

    openRule(1);
    show(AppPage::profiles, model.configuration->defaultProfileID);
    auto* defaultTitle = content.currentPage()->findChild<QLabel*>(QStringLiteral("title"));
    ASSERT_NE(defaultTitle, nullptr);
    EXPECT_EQ(QFontInfo(defaultTitle->font()).pixelSize(), 29);
}

TEST_F(MainWindowLookTest, ModeDropDownsShareOneWidthAndLeftEdge)
{
    openRule(1);
    QWidget& editor = *content.editor();
    QComboBox& editorHDR = choiceOf(editor, SettingKey::hdr);
    QComboBox& editorRefresh = choiceOf(editor, SettingKey::refreshRate);
    EXPECT_EQ(editorHDR.width(), editorRefresh.width());
    EXPECT_EQ(
        editorHDR.mapTo(&window, QPoint(0, 0)).x(), editorRefresh.mapTo(&window, QPoint(0, 0)).x());
    auto& form = *editor.findChild<QScrollArea*>();
    EXPECT_LE(form.widget()->minimumSizeHint().width(), form.viewport()->width())
        << "the editor is cut at its right edge";
    saveScreenshot(window, "rule-editor-mode-choices");
    const int editorWidth = editorHDR.width(); // the editor closes as the page changes

    show(AppPage::profiles, model.configuration->defaultProfileID);
    QWidget& screen = *content.currentPage()->findChild<QWidget*>(QStringLiteral("demo-external"));
    QComboBox& defaultHDR = choiceOf(screen, SettingKey::hdr);
    QComboBox& defaultRefresh = choiceOf(screen, SettingKey::refreshRate);
    EXPECT_EQ(defaultHDR.width(), defaultRefresh.width());
    EXPECT_EQ(defaultHDR.width(), editorWidth);
    EXPECT_EQ(defaultHDR.mapTo(&window, QPoint(0, 0)).x(),
        defaultRefresh.mapTo(&window, QPoint(0, 0)).x());
    saveScreenshot(window, "default-page-mode-choices");
}

TEST_F(MainWindowLookTest, TheErrorAlertKeepsAShortSentenceOnOneLine)
{
    model.actionError.set("Default is reserved for the permanent fallback profile.");
    turn();
    QMessageBox* alert = content.errorAlert();
    ASSERT_NE(alert, nullptr);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(alert));
    auto& message = *alert->findChild<QLabel*>(QStringLiteral("qt_msgbox_informativelabel"));
    EXPECT_LE(
        message.fontMetrics().horizontalAdvance(message.text()), message.contentsRect().width())
        << "the sentence wraps";
    saveScreenshot(*alert, "error-alert");
}

TEST_F(MainWindowLookTest, TheDeleteConfirmationLooksDestructiveAndItsCancelCarriesNoCross)
{
    content.confirmDeletion(profileNamed("Work · sample"));
    turn();
    QMessageBox* dialog = content.deleteDialog();
    ASSERT_NE(dialog, nullptr);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(dialog));
    auto& remove = *dialog->findChild<QPushButton*>(QStringLiteral("deleteProfile"));
    EXPECT_TRUE(drawsRed(picture(remove)));
    EXPECT_FALSE(drawsRed(picture(*dialog->button(QMessageBox::Cancel))));
    saveScreenshot(*dialog, "delete-confirmation");
    dialog->reject();
}

TEST_F(MainWindowLookTest, DuringADisplayTestTheDisabledControlsLookDisabled)
{
    auto& page = *static_cast<ProfilePage*>(content.currentPage());
    auto& nightShift = *page.findChild<QComboBox*>(QStringLiteral("Night Shift"));
    EXPECT_TRUE(nightShift.isEnabled());
    const int enabledInk = qGray(ink(picture(nightShift)).rgb());
    model.preview.set(DisplayPreview{.id = UUID::random()});
    turn();
    ASSERT_FALSE(nightShift.isEnabled());
    EXPECT_GT(qGray(ink(picture(nightShift)).rgb()), enabledInk + 80);

    QMenu& menu = *page.findChild<QToolButton*>(QStringLiteral("profileMenu"))->menu();
    menu.popup(QPoint(0, 0));
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&menu));
    const QList<QAction*> entries = menu.actions();
    QAction* remove = *std::ranges::find(entries, QStringLiteral("Delete…"), &QAction::text);
    ASSERT_FALSE(remove->isEnabled());
    EXPECT_GT(qGray(ink(menu.grab(menu.actionGeometry(remove)).toImage()).rgb()), enabledInk + 80);
    saveScreenshot(menu, "profile-menu-during-test");
    menu.close();
    saveScreenshot(window, "profile-page-during-test");
    model.preview.set(std::nullopt);
}

TEST_F(MainWindowLookTest, LongNamesEndWithAnEllipsisAndShowWholeAsATooltip)
{
    const std::string longName = "Studio evening colour grading with the big external display "
                                 "and every light dimmed";
    const QString shownName = QString::fromStdString(longName);
    model.renameProfile(workID, longName);
    model.configuration.modify(
        [&](Configuration& document) { document.profiles.edit(1).rules.edit(0).name = longName; });
    model.activateProfile(workID);
    openRule(0);

    auto& page = *static_cast<ProfilePage*>(content.currentPage());
    EXPECT_LE(page.width(), ContentView::detailWidth) << "the name widened the page";
    auto& heading = *page.findChild<QLabel*>(QStringLiteral("profileName"));
    EXPECT_EQ(heading.toolTip(), shownName);
    auto& editorTitle = *content.editor()->findChild<QLabel*>(QStringLiteral("title"));
    EXPECT_EQ(editorTitle.toolTip(), shownName);
    EXPECT_LE(editorTitle.mapTo(&window, QPoint(editorTitle.width(), 0)).x(), window.width());
    saveScreenshot(window, "long-names");

    model.ruleCopyFeedback.set(
        RuleCopyFeedback{.id = UUID::random(), .ruleName = longName, .profileName = longName});
    turn();
    EXPECT_LE(content.copyCard()->width(), window.width());
    EXPECT_NE(content.copyCard()->findChild<QLabel*>(QStringLiteral("copyText"))->toolTip(), "");
    saveScreenshot(window, "long-names-copy-card");
    model.ruleCopyFeedback.set(std::nullopt);

    QWidget popover;
    popover.setFixedWidth(420);
    auto* menu = new MenuView(model, &popover);
    (new QVBoxLayout(&popover))->addWidget(menu);
    popover.show();
    turn();
    EXPECT_LE(popover.minimumSizeHint().width(), 420) << "the name widened the popover";
    auto& active = *menu->findChild<QComboBox*>(QStringLiteral("activeProfile"));
    EXPECT_EQ(active.currentText(), shownName);
    EXPECT_EQ(active.toolTip(), shownName);
    saveScreenshot(popover, "long-names-popover");
}

QScrollArea& scrollAreaAround(QWidget& page)
{
    QScrollArea* around = enclosingScrollArea(page);
    EXPECT_NE(around, nullptr);
    return *around;
}

TEST_F(MainWindowLookTest, TheWheelOverAClosedUnfocusedDropDownScrollsThePageInstead)
{
    window.setFixedHeight(ContentView::minimumHeight); // short, so that the pages scroll
    QWidget popover;
    (new QVBoxLayout(&popover))->addWidget(new MenuView(model, &popover));
    popover.show();
    struct Case {
        std::string_view page;
        std::function<void()> show;
        QWidget* shown;
    };
    const Case cases[] = {
        {"profile", [&] { show(AppPage::profiles, workID); }, &content},
        {"rule editor", [&] { openRule(1); }, &content},
        {"Default", [&] { show(AppPage::profiles, model.configuration->defaultProfileID); },
            &content},
        {"displays", [&] { show(AppPage::displays, workID); }, &content},
        {"settings", [&] { show(AppPage::settings, workID); }, &content},
        {"popover", [] {}, &popover},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.page));
        c.show();
        int boxes = 0;
        for (QComboBox* box : c.shown->findChildren<QComboBox*>()) {
            if (!box->isVisible() || !box->isEnabled() || box->count() < 2)
                continue;
            SCOPED_TRACE(box->objectName().toStdString());
            ++boxes;
            const int chosen = box->currentIndex();
            turnWheelOver(*box);
            turn();
            EXPECT_EQ(box->currentIndex(), chosen);
            EXPECT_FALSE(box->hasFocus());
            EXPECT_FALSE(model.preview->has_value()) << "the wheel started a display test";
        }
        EXPECT_GT(boxes, 0);
    }

    // The page under the drop-down scrolls, focused drop-down or not.
    show(AppPage::profiles, workID);
    auto& nightShift = *content.currentPage()->findChild<QComboBox*>(QStringLiteral("Night Shift"));
    QScrollBar& scrolling = *scrollAreaAround(*content.currentPage()).verticalScrollBar();
    scrolling.setValue(0);
    ASSERT_GT(scrolling.maximum(), 0);
    turnWheelOver(nightShift);
    EXPECT_GT(scrolling.value(), 0);
    nightShift.setFocus();
    const int chosen = nightShift.currentIndex();
    scrolling.setValue(0);
    turnWheelOver(nightShift);
    EXPECT_EQ(nightShift.currentIndex(), chosen);
    EXPECT_GT(scrolling.value(), 0);
}

} // namespace
} // namespace quorvane
