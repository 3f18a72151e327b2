#include "Quorvane/Views/QtOpenPanel.h"

#include "Quorvane/Views/Design/ElidedLabel.h"
#include "Quorvane/Views/Design/SymbolIcon.h"
#include "Quorvane/Views/QtExecutor.h"
#include "QuorvaneViewTests/ViewTestSupport.h"
#include "SimulatedMac/SimulatedApplicationCatalog.h"

#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QStackedWidget>
#include <QTest>
#include <QTimer>

#include <chrono>
#include <functional>
#include <set>
#include <string>
#include <vector>

namespace quorvane {
namespace {

using Paths = std::vector<std::filesystem::path>;

OpenPanelRequest applicationsRequest(bool allowsMultipleSelection = true)
{
    return {.title = "Choose applications",
        .directory = "/Applications",
        .canChooseDirectories = false,
        .allowedContentTypes = {ContentType::applicationBundle},
        .allowsMultipleSelection = allowsMultipleSelection};
}

/// A few applications, a folder of them, and what the panel must leave out or cannot list.
SimulatedApplicationCatalog testCatalog()
{
    SimulatedApplicationCatalog catalog;
    catalog.addApplication("/Applications/Writer.app", "com.example.Writer", "Writer");
    catalog.addApplication("/Applications/viewer.app", "com.example.Viewer");
    catalog.addApplication("/Applications/Graphics/Sketcher.app", "com.example.Sketcher");
    catalog.addApplication("/Applications/Graphics/Painter.app", "com.example.Painter");
    catalog.addFolder("/Applications/Graphics/Sketcher"); // the same name as an application
    catalog.addApplication("/Applications/.Updater.app", "com.example.Updater");
    catalog.addFolder("/Applications/.Trash");
    catalog.addBundle("/Applications/Helper.plugin", {.bundleIdentifier = "com.example.Helper"});
    catalog.addFolder("/Applications/Empty");
    catalog.addFolder("/Applications/Private");
    catalog.unreadableFolders.insert("/Applications/Private");
    return catalog;
}

QImage symbolPicture(std::string_view name)
{
    return symbolIcon(name, QuorStyle::secondaryText()).pixmap(16).toImage();
}

class OpenPanelWindowTest : public ::testing::Test {
protected:
    OpenPanelWindowTest() { testApplication(); }

    /// Opens a window for `request` and shows it as exec() would.
    OpenPanelWindow& open(const OpenPanelRequest& request = applicationsRequest())
    {
        m_window = std::make_unique<OpenPanelWindow>(catalog, request);
        m_window->show();
        m_window->activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(m_window.get()));
        return *m_window;
    }
    template <typename Widget> Widget& part(const char* name) const
    {
        auto* found = m_window->findChild<Widget*>(QString::fromLatin1(name));
        EXPECT_NE(found, nullptr) << name;
        return *found;
    }
    QListWidget& list() const { return part<QListWidget>("entries"); }
    std::vector<QString> names() const
    {
        std::vector<QString> shown;
        for (int row = 0; row < list().count(); ++row)
            shown.push_back(list().item(row)->text());
        return shown;
    }
    QImage iconOf(int row) const { return list().item(row)->icon().pixmap(16).toImage(); }
    QString location() const { return part<ElidedLabel>("location").text(); }
    /// The message in place of the list; empty while the list shows.
    QString message() const
    {
        auto& label = part<QLabel>("message");
        return label.isVisible() ? label.text() : QString();
    }
    QPoint centreOf(const QString& name) const
    {
        const QList<QListWidgetItem*> found = list().findItems(name, Qt::MatchExactly);
        EXPECT_EQ(found.size(), 1) << name.toStdString();
        return found.isEmpty() ? QPoint() : list().visualItemRect(found.front()).center();
    }
    void click(const QString& name, Qt::KeyboardModifiers modifiers = {})
    {
        QTest::mouseClick(list().viewport(), Qt::LeftButton, modifiers, centreOf(name));
    }
    void doubleClick(const QString& name) { doubleClickRow(list(), name); }
    void press(QWidget& widget) { QTest::mouseClick(&widget, Qt::LeftButton); }

    SimulatedApplicationCatalog catalog = testCatalog();

private:
    std::unique_ptr<OpenPanelWindow> m_window;
};

TEST_F(OpenPanelWindowTest, OpensInTheStartingFolderAndListsOnlyFoldersAndApplicationsByName)
{
    for (const char* directory : {"/Applications", "/Applications/"}) {
        SCOPED_TRACE(directory);
        OpenPanelRequest request = applicationsRequest();
        request.directory = directory;
        OpenPanelWindow& window = open(request);
        EXPECT_EQ(window.windowTitle(), QStringLiteral("Choose applications"));
        EXPECT_EQ(window.folder(), "/Applications");
        EXPECT_EQ(location(), QStringLiteral("/Applications"));
        // Hidden names and bundles of other kinds are left out; case does not order names.
        EXPECT_EQ(names(),
            (std::vector<QString>{QStringLiteral("Empty"), QStringLiteral("Graphics"),
                QStringLiteral("Private"), QStringLiteral("viewer"), QStringLiteral("Writer")}));
        EXPECT_EQ(iconOf(1), symbolPicture("folder"));
        EXPECT_EQ(iconOf(4), symbolPicture("square.grid.2x2"));
        EXPECT_EQ(message(), QString());
        EXPECT_TRUE(list().hasFocus());
        EXPECT_FALSE(part<QPushButton>("open").isEnabled()) << "nothing is selected yet";
        EXPECT_TRUE(part<QPushButton>("open").isDefault());
    }
    saveScreenshot(*QApplication::activeWindow(), "open-panel-applications");
}

TEST_F(OpenPanelWindowTest, MovesIntoAFolderAndBackByMouseAndByKeyboard)
{
    OpenPanelWindow& window = open();
    auto& up = part<QPushButton>("enclosingFolder");
    const std::vector<QString> graphics{
        QStringLiteral("Painter"), QStringLiteral("Sketcher"), QStringLiteral("Sketcher")};
    struct Step {
        const char* what;
        std::function<void()> take;
        std::filesystem::path folder;
        /// The row with the ring afterwards: the first, or the folder just left, selected.
        QString current;
        bool isCurrentSelected;
    };
    const Step steps[] = {
        {"double-click a folder", [&] { doubleClick(QStringLiteral("Graphics")); },
            "/Applications/Graphics", QStringLiteral("Painter"), false},
        {"Enclosing folder", [&] { press(up); }, "/Applications", QStringLiteral("Graphics"), true},
        {"Return on the folder with the ring, with applications selected",
            [&] {
                click(QStringLiteral("Writer"));
                click(QStringLiteral("viewer"), Qt::ControlModifier);
                QTest::keyClick(&list(), Qt::Key_Up, Qt::ControlModifier);
                QTest::keyClick(&list(), Qt::Key_Up, Qt::ControlModifier);
                QTest::keyClick(&list(), Qt::Key_Return);
            },
            "/Applications/Graphics", QStringLiteral("Painter"), false},
        {"Alt+Up", [&] { QTest::keyClick(&list(), Qt::Key_Up, Qt::AltModifier); }, "/Applications",
            QStringLiteral("Graphics"), true},
        {"up to the top", [&] { press(up); }, "/", QStringLiteral("Applications"), true},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.what);
        step.take();
        EXPECT_EQ(window.folder(), step.folder);
        EXPECT_EQ(location(), QString::fromStdString(step.folder.string()));
        EXPECT_TRUE(window.isVisible()) << "moving closes nothing";
        const QListWidgetItem* current = list().currentItem();
        EXPECT_EQ(current ? current->text() : QString(), step.current);
        EXPECT_EQ(current && current->isSelected(), step.isCurrentSelected);
    }
    EXPECT_EQ(names(), std::vector<QString>{QStringLiteral("Applications")});
    EXPECT_FALSE(up.isEnabled()) << "nothing above the top";
    doubleClick(QStringLiteral("Applications"));
    doubleClick(QStringLiteral("Graphics"));
    EXPECT_EQ(names(), graphics);
    EXPECT_EQ(iconOf(1), symbolPicture("folder")) << "equal names keep the folder's order";
    EXPECT_EQ(iconOf(2), symbolPicture("square.grid.2x2"));
    EXPECT_GT(ringPixels(picture(*list().viewport())), 0) << "the ring shows where Down starts";
    QTest::keyClick(&list(), Qt::Key_Return); // on an application not selected: nothing to open
    EXPECT_EQ(window.folder(), "/Applications/Graphics");
    EXPECT_TRUE(window.isVisible());
    saveScreenshot(window, "open-panel-folder");
}

TEST_F(OpenPanelWindowTest, AFolderThatCannotBeListedOrIsMissingSaysSoAndAnEmptyOneToo)
{
    OpenPanelWindow& window = open();
    struct Case {
        QString folder;
        QString message;
        const char* screenshot;
    };
    const Case cases[] = {
        {QStringLiteral("Private"), QStringLiteral("The contents of this folder can’t be shown."),
            "open-panel-unlistable"},
        {QStringLiteral("Empty"), QStringLiteral("No applications or folders."),
            "open-panel-empty"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.folder.toStdString());
        click(c.folder);
        QTest::keyClick(&list(), Qt::Key_Return);
        EXPECT_EQ(location(), QStringLiteral("/Applications/") + c.folder);
        EXPECT_EQ(message(), c.message);
        EXPECT_FALSE(list().isVisible());
        EXPECT_TRUE(part<QPushButton>("enclosingFolder").hasFocus()) << "the way on";
        saveScreenshot(window, c.screenshot);
        QTest::keyClick(&window, Qt::Key_Up, Qt::AltModifier);
        EXPECT_EQ(message(), QString());
        EXPECT_EQ(names().size(), 5U);
    }

    OpenPanelRequest missing = applicationsRequest();
    missing.directory = "/Applications/Removed";
    open(missing);
    EXPECT_EQ(message(), QStringLiteral("The contents of this folder can’t be shown."));
    EXPECT_TRUE(part<QPushButton>("enclosingFolder").hasFocus());
    QTest::mouseClick(&part<QPushButton>("enclosingFolder"), Qt::LeftButton);
    EXPECT_EQ(names().size(), 5U) << "the way back from a folder that is not there";
}

TEST_F(OpenPanelWindowTest, NoFolderCanBeChosenUnlessTheRequestAllowsIt)
{
    OpenPanelWindow& window = open();
    auto& openButton = part<QPushButton>("open");
    click(QStringLiteral("Graphics"));
    EXPECT_TRUE(window.selection().empty());
    EXPECT_FALSE(openButton.isEnabled());
    click(QStringLiteral("Writer"));
    click(QStringLiteral("Empty"), Qt::ControlModifier);
    EXPECT_EQ(window.selection(), Paths{"/Applications/Writer.app"});
    QTest::keyClick(&list(), Qt::Key_A, Qt::ControlModifier);
    EXPECT_EQ(window.selection(), (Paths{"/Applications/viewer.app", "/Applications/Writer.app"}));
    press(openButton);
    EXPECT_EQ(window.answer().response, ModalResponse::ok);
    EXPECT_EQ(
        window.answer().selection, (Paths{"/Applications/viewer.app", "/Applications/Writer.app"}));

    OpenPanelRequest foldersToo = applicationsRequest();
    foldersToo.canChooseDirectories = true;
    OpenPanelWindow& choosingFolders = open(foldersToo);
    click(QStringLiteral("Writer"));
    click(QStringLiteral("Graphics"), Qt::ControlModifier);
    QTest::keyClick(&list(), Qt::Key_Return); // on a chosen folder: chooses, does not open it
    EXPECT_EQ(choosingFolders.answer().selection,
        (Paths{"/Applications/Graphics", "/Applications/Writer.app"}));
}

TEST_F(OpenPanelWindowTest, ChoosesSeveralInThePanelsOrderByOpenReturnOrDoubleClick)
{
    struct Case {
        const char* how;
        bool allowsMultipleSelection;
        std::function<void(OpenPanelWindow&)> choose;
        Paths chosen;
    };
    const Case cases[] = {
        {"Open", true,
            [&](OpenPanelWindow&) {
                click(QStringLiteral("Writer"));
                click(QStringLiteral("viewer"), Qt::ControlModifier);
                press(part<QPushButton>("open"));
            },
            {"/Applications/viewer.app", "/Applications/Writer.app"}},
        {"Return", true,
            [&](OpenPanelWindow&) {
                click(QStringLiteral("Writer"));
                QTest::keyClick(&list(), Qt::Key_Up, Qt::ShiftModifier);
                QTest::keyClick(&list(), Qt::Key_Up, Qt::ShiftModifier);
                QTest::keyClick(&list(), Qt::Key_Down, Qt::ShiftModifier); // the ring on viewer
                QTest::keyClick(&list(), Qt::Key_Return);
            },
            {"/Applications/viewer.app", "/Applications/Writer.app"}},
        {"double-click", true, [&](OpenPanelWindow&) { doubleClick(QStringLiteral("viewer")); },
            {"/Applications/viewer.app"}},
        {"one at a time", false,
            [&](OpenPanelWindow&) {
                click(QStringLiteral("Writer"));
                click(QStringLiteral("viewer"), Qt::ControlModifier);
                QTest::keyClick(&list(), Qt::Key_A, Qt::ControlModifier);
                press(part<QPushButton>("open"));
            },
            {"/Applications/viewer.app"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.how);
        OpenPanelWindow& window = open(applicationsRequest(c.allowsMultipleSelection));
        c.choose(window);
        EXPECT_FALSE(window.isVisible());
        EXPECT_EQ(window.result(), QDialog::Accepted);
        EXPECT_EQ(window.answer().response, ModalResponse::ok);
        EXPECT_EQ(window.answer().selection, c.chosen);
    }
}

TEST_F(OpenPanelWindowTest, CancelEscapeOrClosingGivesNothing)
{
    struct Case {
        const char* how;
        std::function<void(OpenPanelWindow&)> end;
    };
    const Case cases[] = {
        {"Cancel", [&](OpenPanelWindow&) { press(part<QPushButton>("cancel")); }},
        {"Escape", [&](OpenPanelWindow&) { QTest::keyClick(&list(), Qt::Key_Escape); }},
        {"closing the window", [](OpenPanelWindow& window) { window.close(); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.how);
        OpenPanelWindow& window = open();
        click(QStringLiteral("Writer"));
        ASSERT_EQ(window.selection(), Paths{"/Applications/Writer.app"});
        c.end(window);
        EXPECT_FALSE(window.isVisible());
        EXPECT_EQ(window.answer().response, ModalResponse::cancel);
        EXPECT_TRUE(window.answer().selection.empty());
    }
}

TEST_F(OpenPanelWindowTest, FocusInTheListShowsOverASelectedRow)
{
    OpenPanelWindow& window = open();
    click(QStringLiteral("Writer"));
    const QImage focused = picture(*list().viewport());
    saveScreenshot(window, "open-panel-selected");
    part<QPushButton>("cancel").setFocus();
    EXPECT_NE(picture(*list().viewport()), focused);
}

TEST_F(OpenPanelWindowTest, TabReachesEveryControlAndTheFocusedOneShowsTheRing)
{
    OpenPanelWindow& window = open();
    window.setAttribute(Qt::WA_KeyboardFocusChange, false);
    click(QStringLiteral("Writer")); // Open takes part once there is something to open
    const std::set<QWidget*> controls{&part<QPushButton>("enclosingFolder"), &list(),
        &part<QPushButton>("cancel"), &part<QPushButton>("open")};
    std::set<QWidget*> reached;
    for (std::size_t press = 0; press < 2 * controls.size(); ++press) {
        QWidget* focused = QApplication::focusWidget();
        ASSERT_NE(focused, nullptr);
        reached.insert(focused);
        SCOPED_TRACE(focused->objectName().toStdString());
        EXPECT_GT(ringPixels(picture(*focused)), focused->height()) << "the ring shows";
        QTest::keyClick(focused, Qt::Key_Tab);
    }
    EXPECT_EQ(reached, controls);
}

/// Runs `steps` on the panel once it shows, from inside its modal loop, and then ends it with
/// Cancel if the steps left it open, so that a failed step never leaves the test waiting.
void whileThePanelShows(const std::function<void(OpenPanelWindow&)>& steps)
{
    QTimer::singleShot(0, [steps] {
        auto* window = dynamic_cast<OpenPanelWindow*>(QApplication::activeModalWidget());
        ASSERT_NE(window, nullptr);
        steps(*window);
        if (window->isVisible())
            window->reject();
    });
}

TEST(QtOpenPanelTest, RunsAsASheetOfTheActiveWindowWhileTheExecutorGoesOn)
{
    testApplication();
    insideApplicationLoop([] {
        QtExecutor executor;
        SimulatedApplicationCatalog catalog = testCatalog();
        QtOpenPanel panel(catalog);
        QWidget asking;
        asking.show();
        asking.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&asking));

        // The executor's own work picks in the panel: it runs only if the modal loop wakes it.
        QWidget* parent = nullptr;
        executor.post([&parent] {
            auto* window = dynamic_cast<OpenPanelWindow*>(QApplication::activeModalWidget());
            ASSERT_NE(window, nullptr);
            parent = window->parentWidget();
            EXPECT_EQ(window->windowModality(), Qt::WindowModal)
                << "a sheet: it blocks only its window";
            doubleClickRow(*window->findChild<QListWidget*>(QStringLiteral("entries")),
                QStringLiteral("Writer"));
        });
        const QObject scope; // a failed step must not leave the test waiting
        QTimer::singleShot(std::chrono::seconds(3), &scope, [] {
            if (QWidget* window = QApplication::activeModalWidget())
                window->close();
        });
        const OpenPanelAnswer answer = panel.runModal(applicationsRequest());
        EXPECT_EQ(answer.response, ModalResponse::ok);
        EXPECT_EQ(answer.selection, Paths{"/Applications/Writer.app"});
        EXPECT_EQ(parent, &asking);

        whileThePanelShows(
            [](OpenPanelWindow& window) { QTest::keyClick(&window, Qt::Key_Escape); });
        EXPECT_EQ(panel.runModal(applicationsRequest()).response, ModalResponse::cancel);
        EXPECT_EQ(asking.findChild<OpenPanelWindow*>(), nullptr) << "each panel goes once closed";
    });
}

} // namespace
} // namespace quorvane
