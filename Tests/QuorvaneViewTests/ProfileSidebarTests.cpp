#include "Quorvane/Views/MainWindow/ProfileSidebar.h"

#include "Foundation/Format.h"
#include "Quorvane/Views/Design/EditingTextField.h"
#include "Quorvane/Views/MainWindow/ProfileList.h"
#include "Quorvane/Views/MainWindow/ProfileListModel.h"
#include "Quorvane/Views/MainWindow/ProfilePage.h"
#include "Quorvane/Views/MainWindow/ProfileRowDelegate.h"
#include "QuorvaneCore/SettingsCoding.h"
#include "QuorvaneViewTests/MainWindowTestSupport.h"

#include <QAccessible>
#include <QContextMenuEvent>
#include <QHelpEvent>
#include <QMenu>
#include <QPaintEvent>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>
#include <QTextDocument>
#include <QToolTip>

#include <algorithm>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace quorvane {
namespace {

constexpr int cellHeight = ProfileRowDelegate::rowHeight + ProfileRowDelegate::gap;

/// The regions a widget paints, in order.
class PaintRecorder final : public QObject {
public:
    explicit PaintRecorder(QWidget& widget) { widget.installEventFilter(this); }

    std::vector<QRect> painted;

protected:
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::Paint)
            painted.push_back(static_cast<QPaintEvent*>(event)->rect());
        return false;
    }
};

class ProfileSidebarTest : public MainWindowFixture {
protected:
    ProfileList& list() const { return content.sidebar().profiles(); }

    /// Adds profiles "Profile 1" to "Profile <count>" after the samples.
    void addProfiles(int count)
    {
        model.configuration.modify([&](Configuration& document) {
            for (int number = 1; number <= count; ++number)
                document.profiles.push_back(
                    {.id = UUID::random(), .name = "Profile " + formatInteger(number)});
        });
        turn();
    }
    /// Scrolls the list as the user would; std::nullopt for its end.
    void scrollTo(std::optional<int> position)
    {
        // The list lays out its rows when the event loop comes by.
        QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
        QCoreApplication::processEvents();
        QScrollBar& scrollBar = *list().verticalScrollBar();
        scrollBar.setValue(position.value_or(scrollBar.maximum()));
        turn();
    }
    /// Lets the views catch up and draw what they changed.
    void turnAndPaint()
    {
        turn();
        // A layout the list put off comes first, and its redraw after.
        QCoreApplication::processEvents();
        QCoreApplication::processEvents();
    }
    /// The rows' names, top to bottom.
    std::vector<std::string> shownNames() const
    {
        std::vector<std::string> names;
        const ProfileListModel& rows = list().rows();
        for (int row = 0; row < rows.rowCount(); ++row)
            names.push_back(rows.index(row).data().toString().toStdString());
        return names;
    }
    std::vector<std::string> storedNames() const
    {
        std::vector<std::string> names;
        for (const Profile& profile : model.configuration->orderedProfileReferences())
            names.push_back(profile.name);
        return names;
    }
    /// Whether the row stands wholly inside the list's visible part.
    bool isInSight(const SidebarRow& row) const
    {
        return list().viewport()->rect().contains(list().rowRect(row.profileID));
    }
};

TEST_F(ProfileSidebarTest, ManyProfilesScrollAndEveryOneCanBeReachedAndSelected)
{
    addProfiles(60);
    saveScreenshot(window, "sidebar-many-profiles-top");
    QScrollBar& scrollBar = *list().verticalScrollBar();
    ASSERT_GT(scrollBar.maximum(), 0);
    // The list ends above the navigation, which stays in the window.
    QWidget& displays = content.sidebar().navButton(AppPage::displays);
    EXPECT_LT(list().mapTo(&window, QPoint(0, list().height())).y(),
        displays.mapTo(&window, QPoint(0, 0)).y());
    EXPECT_LE(displays.mapTo(&window, QPoint(0, displays.height())).y(), window.height());

    const SidebarRow first = row("Default");
    const SidebarRow second = rowOf(model.configuration->profiles.at(1).id);
    EXPECT_EQ(list().rowRect(first.profileID).height(), ProfileRowDelegate::rowHeight);
    EXPECT_EQ(list().rowRect(second.profileID).top() - list().rowRect(first.profileID).bottom() - 1,
        8); // rows stand 8 apart

    const SidebarRow last = row("Profile 60");
    EXPECT_FALSE(isInSight(last));
    scrollTo(std::nullopt);
    ASSERT_TRUE(isInSight(last));
    last.click();
    EXPECT_EQ(*model.selectedProfileID, last.profileID);
    turn();
    EXPECT_EQ(last.state(), QStringLiteral("selected"));
    saveScreenshot(window, "sidebar-many-profiles-bottom");

    // A profile selected elsewhere comes into sight.
    model.selectProfile(eveningID);
    turn();
    EXPECT_TRUE(isInSight(row("Evening · sample")));
}

TEST_F(ProfileSidebarTest, OpensAtItsTopUnlessTheSelectedProfileLiesBelowTheRowsThatFit)
{
    addProfiles(25);
    ASSERT_EQ(list().rows().rowCount(), 28);
    const UUID defaultID = model.configuration->defaultProfileID;
    const auto profileAtRow = [&](int row) { return list().rows().profileID(row); };
    // A window opened as the application opens it, on the profile selected then.
    const auto open = [&](const UUID& selectedID, int height) {
        model.selectProfile(selectedID);
        turn();
        auto opened = std::make_unique<MainWindow>(model, demo.world.shell);
        opened->resize(opened->width(), height);
        opened->show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(opened.get()));
        turn();
        QCoreApplication::processEvents();
        return opened;
    };
    const auto sidebarOf
        = [](MainWindow& opened) -> ProfileList& { return opened.content().sidebar().profiles(); };
    const auto shows = [&](MainWindow& opened, const UUID& profileID) {
        ProfileList& shown = sidebarOf(opened);
        return shown.viewport()->rect().contains(shown.rowRect(profileID));
    };
    const int normalHeight = window.height();
    const int lastFitting = [&] {
        const auto opened = open(defaultID, normalHeight);
        return sidebarOf(*opened).viewport()->height() / cellHeight - 1;
    }();
    ASSERT_GT(lastFitting, 1);
    ASSERT_LT(lastFitting, 26);

    struct Case {
        std::string_view what;
        UUID selectedID;
        int height; // 0: as short as the window goes
        bool opensAtTop;
    };
    const Case cases[] = {
        {"Default", defaultID, normalHeight, true},
        {"the second row", profileAtRow(1), normalHeight, true},
        {"the last row that fits", profileAtRow(lastFitting), normalHeight, true},
        {"the first row that does not fit", profileAtRow(lastFitting + 1), normalHeight, false},
        {"the last row, short window", profileAtRow(27), 0, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.what));
        const auto opened = open(c.selectedID, c.height);
        EXPECT_EQ(opened->height(), std::max(c.height, opened->minimumHeight()));
        EXPECT_TRUE(shows(*opened, c.selectedID));
        EXPECT_EQ(sidebarOf(*opened).verticalScrollBar()->value() == 0, c.opensAtTop);
        if (c.opensAtTop) {
            EXPECT_TRUE(shows(*opened, defaultID));
        }
        if (c.selectedID == profileAtRow(1))
            saveScreenshot(*opened, "sidebar-28-profiles-at-open");
        if (c.height == 0)
            saveScreenshot(*opened, "sidebar-28-profiles-last-selected-at-open");
    }

    // Closed, then opened again on a profile selected meanwhile.
    const auto reopened = open(defaultID, normalHeight);
    reopened->close();
    model.selectProfile(profileAtRow(27));
    turn();
    reopened->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(reopened.get()));
    EXPECT_TRUE(shows(*reopened, profileAtRow(27)));
}

TEST_F(ProfileSidebarTest, AWindowShownBeforeTheSettingsLoadStillOpensAtItsTop)
{
    struct Case {
        std::string_view what;
        int activeRow;
        int height; // 0: as short as the window goes
        bool opensAtTop;
    };
    const Case cases[] = {
        {"the second row active", 1, window.height(), true},
        {"the last row active, short window", 27, 0, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.what));
        ModelWorld world;
        Configuration written;
        // With a sample of its own, the file keeps its order: the demo adds none.
        written.profiles.push_back({.id = UUID::random(), .name = "Work · sample"});
        for (int number = 1; number <= 26; ++number)
            written.profiles.push_back(
                {.id = UUID::random(), .name = "Profile " + formatInteger(number)});
        // The Default profile comes first in the file as in the sidebar.
        written.activeProfileID = written.profiles.at(static_cast<std::size_t>(c.activeRow)).id;
        const auto path = world.home.path() / "many.json";
        writeFile(path, encodeConfigurationText(written));
        const auto started = AppModel::create(world.environment(),
            {.simulation = true, .settingsURL = path, .startAutomatically = true});
        MainWindow opened(*started, world.shell);
        opened.resize(opened.width(), c.height);
        opened.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&opened));
        world.executor.runUntilIdle();
        QCoreApplication::processEvents();
        ASSERT_TRUE(*started->isLoaded);
        ProfileList& shown = opened.content().sidebar().profiles();
        ASSERT_EQ(shown.rows().rowCount(), 28);
        const auto shows = [&](const UUID& profileID) {
            return shown.viewport()->rect().contains(shown.rowRect(profileID));
        };
        EXPECT_EQ(started->selectedProfile().id, written.activeProfileID);
        EXPECT_TRUE(shows(written.activeProfileID));
        EXPECT_EQ(shown.verticalScrollBar()->value() == 0, c.opensAtTop);
        if (c.opensAtTop) {
            EXPECT_TRUE(shows(started->configuration->defaultProfileID));
        }
        world.executor.advance(std::chrono::seconds(5));
    }
}

TEST_F(ProfileSidebarTest, ARowScrolledAwayAndBackKeepsItsHighlightAndItsRename)
{
    addProfiles(40);
    const SidebarRow evening = row("Evening · sample");
    evening.doubleClick();
    turn();
    ASSERT_NE(evening.nameField(), nullptr);
    QTest::keyClicks(evening.nameField(), QStringLiteral("Late"));

    scrollTo(std::nullopt);
    EXPECT_FALSE(isInSight(evening));
    ASSERT_NE(evening.nameField(), nullptr);
    EXPECT_TRUE(evening.nameField()->hasFocus());
    EXPECT_EQ(evening.state(), QStringLiteral("selected"));

    scrollTo(0);
    EditingTextField* field = evening.nameField();
    ASSERT_NE(field, nullptr);
    EXPECT_TRUE(list().rowRect(evening.profileID).contains(field->geometry().center()));
    EXPECT_EQ(field->text(), QStringLiteral("Late"));
    QTest::keyClick(field, Qt::Key_Return);
    turn();
    EXPECT_EQ(content.profileWithID(eveningID)->name, "Late");
    EXPECT_EQ(evening.nameField(), nullptr);
}

TEST_F(ProfileSidebarTest, ARowScrolledIntoViewRenamesInItsOwnPlace)
{
    addProfiles(40);
    scrollTo(std::nullopt);
    const SidebarRow last = row("Profile 40");
    ASSERT_TRUE(isInSight(last));
    last.doubleClick();
    turn();
    EditingTextField* field = last.nameField();
    ASSERT_NE(field, nullptr);
    EXPECT_TRUE(field->isVisible());
    EXPECT_TRUE(field->hasFocus());
    EXPECT_TRUE(list().rowRect(last.profileID).contains(field->geometry().center()));
    saveScreenshot(window, "sidebar-rename-scrolled");
    QTest::keyClick(field, Qt::Key_End);
    QTest::keyClicks(field, QStringLiteral(" B"));
    QTest::keyClick(field, Qt::Key_Return);
    turn();
    EXPECT_EQ(content.profileWithID(last.profileID)->name, "Profile 40 B");
}

TEST_F(ProfileSidebarTest, TheKeyboardMovesTheSelectionAndAClickLeavesTheKeyboardWhereItWas)
{
    model.selectProfile(workID);
    turn();
    // A click selects without taking the keyboard, so an open name field in the heading stays.
    content.beginProfileRename({ProfileRenameTarget::Site::heading, workID});
    turn();
    auto* heading = content.currentPage()->findChild<EditingTextField*>();
    ASSERT_NE(heading, nullptr);
    ASSERT_TRUE(heading->hasFocus());
    row("Work · sample").click();
    turn();
    EXPECT_TRUE(heading->hasFocus());
    EXPECT_TRUE(content.renameTarget());
    content.cancelProfileRename();
    turn();

    EXPECT_FALSE(list().focusPolicy() & Qt::ClickFocus);
    list().setFocus(Qt::ShortcutFocusReason);
    QTest::keyClick(&list(), Qt::Key_Down);
    EXPECT_EQ(*model.selectedProfileID, eveningID);
    turn();
    QTest::keyClick(&list(), Qt::Key_Up);
    EXPECT_EQ(*model.selectedProfileID, workID);
    turn();
    EXPECT_EQ(rowState("Work · sample"), QStringLiteral("selected"));

    model.settingsError.set("The settings file is damaged."); // rows take no action then
    turn();
    QTest::keyClick(&list(), Qt::Key_Down);
    EXPECT_EQ(*model.selectedProfileID, workID);
}

TEST_F(ProfileSidebarTest, OnlyALeftClickOrAMoveOfTheKeysSelectsAndOnlyWhileActionsAreTaken)
{
    const UUID defaultID = model.configuration->defaultProfileID;
    const std::string damaged = "The settings file is damaged.";
    struct Case {
        std::string_view what;
        std::function<void()> act;
        std::optional<std::string> settingsError;
        bool selectsEvening;
    };
    const Case cases[] = {
        {"a left click", [&] { row("Evening · sample").click(); }, std::nullopt, true},
        {"a right click",
            [&] {
                row("Evening · sample").click(Qt::RightButton);
                if (QWidget* menu = QApplication::activePopupWidget())
                    menu->close();
            },
            std::nullopt, false},
        {"a left click while the settings are damaged", [&] { row("Evening · sample").click(); },
            damaged, false},
        // Up from the first row moves nothing, so it selects nothing, not even the page.
        {"a key that moves nothing", [&] { QTest::keyClick(&list(), Qt::Key_Up); }, std::nullopt,
            false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.what));
        model.selectProfile(defaultID);
        model.page.set(AppPage::displays);
        model.settingsError.set(c.settingsError);
        turn();
        list().setFocus(Qt::ShortcutFocusReason);
        c.act();
        turn();
        EXPECT_EQ(*model.selectedProfileID, c.selectsEvening ? eveningID : defaultID);
        EXPECT_EQ(*model.page, c.selectsEvening ? AppPage::profiles : AppPage::displays);
    }
}

TEST_F(ProfileSidebarTest, AClickBetweenRowsSelectsNothing)
{
    const UUID defaultID = model.configuration->defaultProfileID;
    model.selectProfile(defaultID);
    turn();
    const QRect work = list().rowRect(workID);
    const QRect evening = list().rowRect(eveningID);
    ASSERT_LT(work.bottom() + 1, evening.top());
    const QPoint between(work.center().x(), (work.bottom() + evening.top()) / 2);
    QTest::mouseClick(list().viewport(), Qt::LeftButton, {}, between);
    turn();
    EXPECT_EQ(*model.selectedProfileID, defaultID);
}

TEST_F(ProfileSidebarTest, ARenameInTheHeadingLeavesTheSidebarRowShowingItsName)
{
    model.selectProfile(workID);
    // The list as the rename leaves it, without the keyboard; it has it as the window opens.
    content.currentPage()->setFocus(Qt::OtherFocusReason);
    turnAndPaint();
    const QRect shownRow = list().rowRect(workID);
    const QImage before = list().viewport()->grab(shownRow).toImage();
    content.beginProfileRename({ProfileRenameTarget::Site::heading, workID});
    turnAndPaint();
    ASSERT_NE(content.currentPage()->findChild<EditingTextField*>(), nullptr);
    EXPECT_EQ(row("Work · sample").nameField(), nullptr);
    EXPECT_EQ(list().viewport()->grab(shownRow).toImage(), before);
    content.cancelProfileRename();
}

TEST_F(ProfileSidebarTest, TheContextMenuActsOnTheRowClickedOrTheCurrentOne)
{
    model.selectProfile(workID);
    turn();
    const auto renameFromMenu = [&](QContextMenuEvent::Reason reason, const SidebarRow& under) {
        QContextMenuEvent event(
            reason, under.centre(), list().viewport()->mapToGlobal(under.centre()));
        QApplication::sendEvent(list().viewport(), &event);
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        if (!menu)
            return false;
        menu->actions().front()->trigger(); // "Rename…"
        menu->close();
        turn();
        return true;
    };
    ASSERT_TRUE(renameFromMenu(QContextMenuEvent::Mouse, row("Evening · sample")));
    EXPECT_EQ(content.renameTarget(),
        (ProfileRenameTarget{ProfileRenameTarget::Site::sidebar, eveningID}));
    content.cancelProfileRename();
    // From the keyboard, the current row: the selected profile's.
    ASSERT_TRUE(renameFromMenu(QContextMenuEvent::Keyboard, row("Evening · sample")));
    EXPECT_EQ(
        content.renameTarget(), (ProfileRenameTarget{ProfileRenameTarget::Site::sidebar, workID}));
    content.cancelProfileRename();
    QTest::keyClick(&list(), Qt::Key_F10, Qt::ShiftModifier); // for keyboards without a Menu key
    ASSERT_NE(QApplication::activePopupWidget(), nullptr);
    QApplication::activePopupWidget()->close();

    model.settingsError.set("The settings file is damaged.");
    turn();
    EXPECT_FALSE(renameFromMenu(QContextMenuEvent::Mouse, row("Evening · sample")));
}

TEST_F(ProfileSidebarTest, DeleteInTheContextMenuLooksDestructive)
{
    const SidebarRow under = row("Evening · sample");
    QContextMenuEvent event(
        QContextMenuEvent::Mouse, under.centre(), list().viewport()->mapToGlobal(under.centre()));
    QApplication::sendEvent(list().viewport(), &event);
    auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
    ASSERT_NE(menu, nullptr);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(menu));
    const QList<QAction*> entries = menu->actions();
    const auto entry
        = [&](const QString& text) { return *std::ranges::find(entries, text, &QAction::text); };
    const auto isRed = [&](QAction* action) {
        return drawsRed(menu->grab(menu->actionGeometry(action)).toImage());
    };
    EXPECT_TRUE(isRed(entry(QStringLiteral("Delete profile…"))));
    EXPECT_FALSE(isRed(entry(QStringLiteral("Duplicate"))));
    menu->close();
}

TEST_F(ProfileSidebarTest, TheSelectedRowIsAmberAndTheDropTargetGreen)
{
    model.selectProfile(workID);
    content.setDropTarget(eveningID, true);
    turn();
    const QImage shown = list().viewport()->grab().toImage();
    const auto backgroundOf = [&](const UUID& profileID) {
        const QRect row = list().rowRect(profileID);
        return shown.pixelColor(row.left() + 4, row.center().y());
    };
    const QColor selected = backgroundOf(workID);
    const QColor dropTarget = backgroundOf(eveningID);
    EXPECT_GT(selected.red(), selected.green());
    EXPECT_GT(selected.green(), selected.blue());
    EXPECT_GT(dropTarget.green(), dropTarget.red());
    EXPECT_GT(dropTarget.green(), dropTarget.blue());
    content.setDropTarget(eveningID, false);
}

TEST_F(ProfileSidebarTest, EachRowIsNamedForAssistiveTechnology)
{
    QAccessibleInterface* profiles = QAccessible::queryAccessibleInterface(&list());
    ASSERT_NE(profiles, nullptr);
    EXPECT_EQ(profiles->text(QAccessible::Name), QStringLiteral("Profiles"));
    const std::vector<Profile> ordered = model.configuration->orderedProfiles();
    ASSERT_EQ(profiles->childCount(), static_cast<int>(ordered.size()));
    for (std::size_t index = 0; index < ordered.size(); ++index) {
        SCOPED_TRACE(ordered[index].name);
        QAccessibleInterface* shown = profiles->child(static_cast<int>(index));
        ASSERT_NE(shown, nullptr);
        EXPECT_EQ(shown->text(QAccessible::Name).toStdString(), ordered[index].name);
        EXPECT_EQ(shown->text(QAccessible::Description).isEmpty(),
            ordered[index].id != model.configuration->activeProfileID);
    }
}

TEST_F(ProfileSidebarTest, LongNamesAreElidedWithTheWholeNameInATip)
{
    const std::string longName = "A profile for the long evenings <b>in</b> the studio";
    model.renameProfile(eveningID, longName);
    model.renameProfile(workID, "Work");
    turn();
    saveScreenshot(content.sidebar(), "sidebar-long-name");
    const auto tipOver = [&](const QPoint& where) {
        QToolTip::hideText();
        QHelpEvent help(QEvent::ToolTip, where, list().viewport()->mapToGlobal(where));
        QApplication::sendEvent(list().viewport(), &help);
        return QToolTip::isVisible() ? QToolTip::text() : QString();
    };
    struct Case {
        std::string_view name;
        SidebarRow row;
        bool isElided;
    };
    const Case cases[] = {
        {"short", row("Work"), false}, // first: a tip once shown lingers a moment
        {"long", row(longName), true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.name));
        QStyleOptionViewItem option;
        option.initFrom(list().viewport());
        option.font = list().font();
        option.rect = list().visualRect(c.row.index());
        const QString shown = ProfileRowDelegate::shownName(option, c.row.index());
        EXPECT_EQ(shown.endsWith(QStringLiteral("…")), c.isElided);
        EXPECT_EQ(shown == c.row.name(), !c.isElided);
        const QPoint overName = list().rowRect(c.row.profileID).topLeft() + QPoint(40, 18);
        const QString tip = tipOver(overName);
        QTextDocument tipShown;
        tipShown.setHtml(tip);
        EXPECT_EQ(tipShown.toPlainText(), c.isElided ? c.row.name() : QString());
    }
    // The active mark explains itself.
    const QRect active = list().rowRect(workID);
    EXPECT_EQ(tipOver(QPoint(active.right() - 12, active.center().y())),
        QStringLiteral("Active profile"));
    QToolTip::hideText();
}

TEST_F(ProfileSidebarTest, AChangeToOneProfileRedrawsItsRowOnly)
{
    addProfiles(40);
    ProfileListModel& rows = list().rows();
    scrollTo(200);
    const int scrolled = list().verticalScrollBar()->value();
    QSignalSpy changed(&rows, &QAbstractItemModel::dataChanged);
    QSignalSpy reset(&rows, &QAbstractItemModel::modelReset);
    QSignalSpy removed(&rows, &QAbstractItemModel::rowsRemoved);
    QSignalSpy inserted(&rows, &QAbstractItemModel::rowsInserted);

    const UUID renamed = row("Profile 20").profileID;
    model.renameProfile(renamed, "Studio");
    turn();
    ASSERT_EQ(changed.size(), 1);
    EXPECT_EQ(changed.front().front().value<QModelIndex>().row(), *rows.rowOf(renamed));

    model.deleteProfile(row("Profile 30").profileID);
    turn();
    EXPECT_EQ(removed.size(), 1);
    EXPECT_EQ(list().verticalScrollBar()->value(), scrolled); // the list keeps its place
    model.createProfile("Home");
    turn();
    EXPECT_EQ(inserted.size(), 1);
    EXPECT_EQ(reset.size(), 0);
    EXPECT_EQ(rows.rowCount(), static_cast<int>(model.configuration->profiles.size()));
    EXPECT_EQ(row("Home").name(), QStringLiteral("Home"));
}

TEST_F(ProfileSidebarTest, ANewSelectionChangesTheTwoRowsItMovesBetween)
{
    addProfiles(20);
    ProfileListModel& rows = list().rows();
    const UUID before = model.selectedProfile().id;
    QSignalSpy changed(&rows, &QAbstractItemModel::dataChanged);

    const SidebarRow picked = row("Profile 15");
    model.selectProfile(picked.profileID);
    turn();
    std::vector<int> changedRows;
    for (const QList<QVariant>& signal : changed)
        changedRows.push_back(signal.front().value<QModelIndex>().row());
    std::ranges::sort(changedRows);
    EXPECT_EQ(changedRows, (std::vector{*rows.rowOf(before), *rows.rowOf(picked.profileID)}));
    EXPECT_EQ(picked.state(), QStringLiteral("selected"));
    EXPECT_EQ(rowOf(before).state(), QString());

    // A redraw with nothing new changes nothing.
    content.refresh();
    EXPECT_EQ(changed.size(), 2);
}

TEST_F(ProfileSidebarTest, ARenamedRowIsRedrawnAloneAndOneOutOfSightNotAtAll)
{
    addProfiles(40);
    scrollTo(std::nullopt);
    QCoreApplication::processEvents();
    const int scrolled = list().verticalScrollBar()->value();
    const PaintRecorder recorder(*list().viewport());

    const SidebarRow hidden = row("Profile 1");
    ASSERT_FALSE(isInSight(hidden));
    model.renameProfile(hidden.profileID, "Studio");
    turnAndPaint();
    EXPECT_EQ(hidden.name(), QStringLiteral("Studio"));
    EXPECT_EQ(recorder.painted.size(), 0U);

    const SidebarRow shown = row("Profile 40");
    ASSERT_TRUE(isInSight(shown));
    model.renameProfile(shown.profileID, "Attic");
    turnAndPaint();
    EXPECT_EQ(shown.name(), QStringLiteral("Attic"));
    ASSERT_EQ(recorder.painted.size(), 1U);
    EXPECT_EQ(recorder.painted.front(), list().visualRect(shown.index()));
    EXPECT_EQ(list().verticalScrollBar()->value(), scrolled);
}

TEST_F(ProfileSidebarTest, ProfilesComingAndGoingTogetherMoveOnlyTheirOwnRows)
{
    addProfiles(20);
    const UUID selected = row("Profile 12").profileID;
    model.selectProfile(selected);
    turn();
    ProfileListModel& rows = list().rows();
    QSignalSpy reset(&rows, &QAbstractItemModel::modelReset);
    QSignalSpy removed(&rows, &QAbstractItemModel::rowsRemoved);
    QSignalSpy inserted(&rows, &QAbstractItemModel::rowsInserted);

    // Two rows apart go, and two come between others.
    model.configuration.modify([&](Configuration& document) {
        document.profiles.eraseIf([](const Profile& profile) {
            return profile.name == "Profile 5" || profile.name == "Profile 7";
        });
        const auto hall = std::ranges::find(document.profiles, "Profile 10", &Profile::name);
        document.profiles.insert(hall, {.id = UUID::random(), .name = "Hall"});
        const auto porch = std::ranges::find(document.profiles, "Profile 19", &Profile::name);
        document.profiles.insert(porch, {.id = UUID::random(), .name = "Porch"});
    });
    turn();
    EXPECT_EQ(removed.size(), 2);
    EXPECT_EQ(inserted.size(), 2);
    EXPECT_EQ(reset.size(), 0);
    EXPECT_EQ(shownNames(), storedNames());
    EXPECT_EQ(list().currentIndex(), rowOf(selected).index());
    EXPECT_EQ(rowOf(selected).state(), QStringLiteral("selected"));

    // A profile that moves brings every row in line at once.
    model.configuration.modify([](Configuration& document) {
        std::swap(document.profiles.edit(3), document.profiles.edit(4));
    });
    turn();
    EXPECT_EQ(reset.size(), 1);
    EXPECT_EQ(shownNames(), storedNames());
    EXPECT_EQ(rowOf(selected).state(), QStringLiteral("selected"));
}

TEST_F(ProfileSidebarTest, ADemoStartBuildsOnlyThePageOfTheProfileItSelects)
{
    ModelWorld world;
    const auto path = world.home.path() / "demo.json";
    Configuration written;
    written.profiles.push_back({.id = UUID::random(),
        .name = "Office",
        .rules = {{.id = UUID::random(), .name = "Bright", .settings = {.brightness = 0.8}}}});
    written.activeProfileID = written.profiles.back().id;
    writeFile(path, encodeConfigurationText(written));
    const auto started = AppModel::create(
        world.environment(), {.simulation = true, .settingsURL = path, .startAutomatically = true});
    MainWindow shown(*started, world.shell);
    std::vector<bool> hadPageWhenSelected;
    const Subscription selection = started->selectedProfileID.observe([&] {
        hadPageWhenSelected.push_back(
            dynamic_cast<ProfilePage*>(shown.content().currentPage()) != nullptr);
    });
    world.executor.runUntilIdle();
    ASSERT_TRUE(*started->isLoaded);
    // The file's active profile, then the demo's own.
    EXPECT_EQ(hadPageWhenSelected, (std::vector<bool>{false, false}));
    auto* page = dynamic_cast<ProfilePage*>(shown.content().currentPage());
    ASSERT_NE(page, nullptr);
    EXPECT_EQ(started->selectedProfile().name, "Work · sample");
    world.executor.advance(std::chrono::seconds(5));
}

} // namespace
} // namespace quorvane
