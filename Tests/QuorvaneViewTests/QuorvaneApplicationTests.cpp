#include "Quorvane/Views/QuorvaneApplication.h"

#include "Foundation/AtomicFile.h"
#include "MacPlatform/ApplicationShell.h"
#include "Quorvane/AppModel.h"
#include "Quorvane/Views/MainWindow.h"
#include "Quorvane/Views/MainWindow/ContentView.h"
#include "Quorvane/Views/MainWindow/RuleEditor.h"
#include "Quorvane/Views/MainWindow/SettingValueEditor.h"
#include "Quorvane/Views/MenuBarExtra.h"
#include "Quorvane/Views/QtOpenPanel.h"
#include "Quorvane/Views/TerminationHandler.h"
#include "QuorvaneViewTests/ViewTestSupport.h"

#include <QAbstractButton>
#include <QAction>
#include <QEvent>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QObject>
#include <QPushButton>
#include <QRadioButton>
#include <QSessionManager>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace quorvane {
namespace {

TEST(QuorvaneApplicationTest, MissingDisplayIsReportedOnlyWhenNothingCanShowAWindow)
{
    struct Case {
        const char* name;
        std::map<std::string, std::string> variables;
        bool isMissing;
    };
    const Case cases[] = {
        {"nothing set", {}, true},
        {"X11", {{"DISPLAY", ":0"}}, false},
        {"Wayland", {{"WAYLAND_DISPLAY", "wayland-0"}}, false},
        {"chosen platform", {{"QT_QPA_PLATFORM", "offscreen"}}, false},
        {"unrelated variable", {{"HOME", "/home/user"}}, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto lookup = [&](std::string_view name) -> std::optional<std::string> {
            const auto found = c.variables.find(std::string(name));
            if (found == c.variables.end())
                return std::nullopt;
            return found->second;
        };
        const std::optional<std::string> message = missingDisplayMessage(lookup, {"quorvane"});
        EXPECT_EQ(message.has_value(), c.isMissing);
        if (message) {
            EXPECT_EQ(message->find('\n'), std::string::npos);
            EXPECT_NE(message->find("xvfb-run -a"), std::string::npos);
            EXPECT_TRUE(message->starts_with("QuorVane needs a graphical display"));
        }
    }
}

TEST(QuorvaneApplicationTest, MissingDisplaySuggestsTheCommandAsRunReadyForAShell)
{
    struct Case {
        std::vector<std::string> arguments;
        std::string_view suggested;
    };
    const Case cases[] = {
        {{"build/dev/Sources/Quorvane/Views/quorvane"},
            "xvfb-run -a build/dev/Sources/Quorvane/Views/quorvane"},
        {{"/opt/My Apps/quorvane", "--ui-demo"}, "xvfb-run -a '/opt/My Apps/quorvane' --ui-demo"},
        {{"quorvane", "--settings-path", "Bob's.json", "-style", "Fusion"},
            R"(xvfb-run -a quorvane --settings-path 'Bob'\''s.json' -style Fusion)"},
        {{"./q", "--settings-path=a,b+c@d%e:f_g.json", "", "$HOME", "a*"},
            R"(xvfb-run -a ./q --settings-path=a,b+c@d%e:f_g.json '' '$HOME' 'a*')"},
        {{"q", "--settings-path=~/s.json", "été"},
            "xvfb-run -a q '--settings-path=~/s.json' 'été'"},
        {{}, "xvfb-run -a quorvane"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.suggested);
        EXPECT_EQ(missingDisplayMessage([](std::string_view) { return std::nullopt; }, c.arguments),
            "QuorVane needs a graphical display, and neither DISPLAY nor WAYLAND_DISPLAY is set; "
            "to run it without one, use Xvfb: "
                + std::string(c.suggested));
    }
}

class QuorvaneApplicationRunTest : public ::testing::Test {
protected:
    // First, so that Qt runs before the application object is made.
    QApplication& qt = testApplication();
    TemporaryFolder folder;
    QuorvaneApplication application{
        {.arguments = {"quorvane", "--ui-demo"}, .configurationFolder = folder.path()}};
    AppModel& model = application.model();
};

TEST_F(QuorvaneApplicationRunTest, QuitRequestBeforeAnyWindowWorkIsStillAnOrderlyQuit)
{
    // The system's request arrives before the event loop has run anything.
    QEvent quit(QEvent::Quit);
    QCoreApplication::sendEvent(qApp, &quit);
    EXPECT_TRUE(*model.isQuitting);
    EXPECT_TRUE(application.mainWindow().isVisible()) << "deferred, not carried out at once";
    EXPECT_TRUE(runEventLoopUntil([&] { return *model.terminationPrepared; }));
}

TEST_F(QuorvaneApplicationRunTest, SessionCheckpointsLeaveTheApplicationRunning)
{
    ASSERT_TRUE(runEventLoopUntil([&] { return *model.isLoaded; }));
    // The application's own session manager; Qt makes one whenever sessions are supported.
    auto* session = qApp->findChild<QSessionManager*>();
    ASSERT_NE(session, nullptr);
    emit qGuiApp->commitDataRequest(*session);
    emit qGuiApp->saveStateRequest(*session);
    QCoreApplication::processEvents();
    EXPECT_FALSE(*model.isQuitting);
    EXPECT_TRUE(application.mainWindow().isVisible());
}

/// Every text a user can read in `window`: titles, labels, buttons, tool tips, accessible names,
/// menus and their entries.
std::vector<QString> readableTexts(QWidget& window)
{
    QList<QWidget*> widgets = window.findChildren<QWidget*>();
    widgets.prepend(&window);
    std::vector<QString> texts;
    for (const QWidget* widget : widgets) {
        texts.insert(
            texts.end(), {widget->windowTitle(), widget->toolTip(), widget->accessibleName()});
        if (const auto* label = qobject_cast<const QLabel*>(widget))
            texts.push_back(label->text());
        if (const auto* button = qobject_cast<const QAbstractButton*>(widget))
            texts.push_back(button->text());
        for (const QAction* action : widget->actions())
            texts.push_back(action->text());
    }
    return texts;
}

TEST_F(QuorvaneApplicationRunTest, EveryTextAUserReadsNamesTheApplicationQuorVane)
{
    ASSERT_TRUE(runEventLoopUntil([&] { return *model.isLoaded; }));
    struct Case {
        const char* window;
        QWidget& root;
        std::vector<QString> expected;
    };
    const Case cases[] = {
        {"main window", application.mainWindow(),
            {QStringLiteral("QuorVane"), QStringLiteral("Quit QuorVane")}},
        {"popover", application.menuBarExtra().popover(),
            {QStringLiteral("QuorVane"), QStringLiteral("Open QuorVane…")}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.window);
        const std::vector<QString> texts = readableTexts(c.root);
        for (const QString& text : texts)
            EXPECT_FALSE(text.contains(QStringLiteral("Quorvane"))) << text.toStdString();
        for (const QString& text : c.expected)
            EXPECT_NE(std::ranges::find(texts, text), texts.end()) << text.toStdString();
    }
}

TEST(QuorvaneApplicationNameTest, TheDesktopShowsQuorVaneWhilePathsKeepQuorvane)
{
    testApplication();
    const QString testName = QCoreApplication::applicationName();
    nameApplication();
    EXPECT_EQ(QGuiApplication::applicationDisplayName(), QStringLiteral("QuorVane"));
    EXPECT_EQ(QCoreApplication::applicationName(), QStringLiteral("Quorvane"));
    QCoreApplication::setApplicationName(testName);
    QGuiApplication::setApplicationDisplayName(testName);
}

TEST(QuorvaneApplicationSignalTest, SignalDuringStartUpQuitsInOrderOnceTheModelExists)
{
    testApplication();
    for (const int signal : {SIGTERM, SIGINT, SIGHUP}) {
        SCOPED_TRACE(signal);
        // As main does first; without it the signal would end this test program.
        ASSERT_TRUE(catchTerminationSignals());
        ASSERT_EQ(std::raise(signal), 0);
        const TemporaryFolder folder;
        const QuorvaneApplication application{
            {.arguments = {"quorvane", "--ui-demo"}, .configurationFolder = folder.path()}};
        EXPECT_FALSE(*application.model().isQuitting) << "the event loop hands the signal over";
        EXPECT_TRUE(runEventLoopUntil([&] { return *application.model().terminationPrepared; }));
    }
}

TEST_F(QuorvaneApplicationRunTest, ClosingTheMainWindowKeepsTheApplicationAsAnAccessory)
{
    ASSERT_TRUE(runEventLoopUntil([&] { return *model.isLoaded; }));
    MainWindow& window = application.mainWindow();
    EXPECT_EQ(window.windowTitle(), QStringLiteral("QuorVane"));
    EXPECT_EQ(window.size(), QSize(1034, 820));
    saveScreenshot(window, "main-window");

    struct Step {
        const char* name;
        bool show;
        ActivationPolicy policy;
    };
    const Step steps[] = {{"close", false, ActivationPolicy::accessory},
        {"open again", true, ActivationPolicy::regular},
        {"close again", false, ActivationPolicy::accessory}};
    for (const Step& step : steps) {
        SCOPED_TRACE(step.name);
        if (step.show)
            window.show();
        else
            EXPECT_TRUE(window.close());
        EXPECT_EQ(model.isQuitting.get(), false);
        EXPECT_EQ(application.shell().activationPolicy(), step.policy);
    }
}

TEST(QuorvaneApplicationInstanceTest, LaunchOnTheSameFileOpensTheRunningCopysMainWindow)
{
    testApplication();
    const TemporaryFolder folder;
    const QByteArray previousRuntime = qgetenv("XDG_RUNTIME_DIR");
    qputenv("XDG_RUNTIME_DIR", QByteArray::fromStdString(folder.path().string()));
    const std::string file = (folder.path() / "settings.json").string();
    const auto launch = [&folder](std::vector<std::string> arguments) {
        return QuorvaneApplication::Launch{
            .arguments = std::move(arguments), .configurationFolder = folder.path()};
    };
    {
        QuorvaneApplication running(launch({"quorvane", "--settings-path", file}));
        ASSERT_FALSE(running.hasHandedOver());
        EXPECT_TRUE(running.mainWindow().close());

        const QuorvaneApplication later(launch({"quorvane", "--ui-demo", "--settings-path", file}));
        EXPECT_TRUE(later.hasHandedOver());
        EXPECT_TRUE(runEventLoopUntil([&] { return running.mainWindow().isVisible(); }));

        // The default file and a demo's new one are files of their own.
        EXPECT_FALSE(QuorvaneApplication(launch({"quorvane"})).hasHandedOver());
        EXPECT_FALSE(QuorvaneApplication(launch({"quorvane", "--ui-demo"})).hasHandedOver());
    }
    // A relative path names a file in the folder it is given in, wherever it is used later.
    const std::filesystem::path previousFolder = std::filesystem::current_path();
    std::vector<std::unique_ptr<QuorvaneApplication>> copies;
    for (const std::string relative : {"rel/settings.json", "plain.json"}) {
        for (const char* name : {"one", "two"}) {
            SCOPED_TRACE(relative + " in " + name);
            std::filesystem::create_directories(folder.path() / name);
            std::filesystem::current_path(folder.path() / name);
            copies.push_back(std::make_unique<QuorvaneApplication>(
                launch({"quorvane", "--settings-path", relative})));
            std::filesystem::current_path(previousFolder);
            EXPECT_FALSE(copies.back()->hasHandedOver());
            EXPECT_TRUE(runEventLoopUntil([&] { return exists(folder.path() / name / relative); }));
        }
    }
    copies.clear();
    qputenv("XDG_RUNTIME_DIR", previousRuntime);
}

TEST(QuorvaneApplicationInstanceTest, LaunchDuringAQuitRunsOnceTheQuittingCopyHasEnded)
{
    testApplication();
    const TemporaryFolder folder;
    const QuorvaneApplication::Launch launch{
        .arguments = {"quorvane", "--settings-path", (folder.path() / "settings.json").string()},
        .configurationFolder = folder.path()};
    auto quitting = std::make_unique<QuorvaneApplication>(launch);
    quitting->model().quit();
    // Ends while the later launch waits; never after this test, whatever happens.
    const QObject scope;
    QTimer::singleShot(std::chrono::milliseconds(300), &scope, [&quitting] { quitting.reset(); });
    const QuorvaneApplication later(launch);
    ASSERT_FALSE(later.hasHandedOver());
    EXPECT_FALSE(quitting);
    EXPECT_TRUE(later.mainWindow().isVisible());
}

// As a dotfile manager switches configurations: "ln -sfn B.json current.json".
TEST(QuorvaneApplicationInstanceTest, ALinkRetargetedWhileACopyRunsTakesEffectAtTheNextStart)
{
    testApplication();
    const TemporaryFolder folder;
    const std::filesystem::path loaded = folder.path() / "A.json";
    const std::filesystem::path other = folder.path() / "B.json";
    const std::filesystem::path link = folder.path() / "current.json";
    std::filesystem::create_symlink("A.json", link);
    const QuorvaneApplication::Launch launch{
        .arguments = {"quorvane", "--settings-path", link.string()},
        .configurationFolder = folder.path()};
    QuorvaneApplication running(launch);
    AppModel& model = running.model();
    ASSERT_TRUE(runEventLoopUntil([&] { return *model.isLoaded && exists(loaded); }));
    std::filesystem::copy_file(loaded, other);
    const std::string otherDocument = readFile(other);
    std::filesystem::create_symlink("B.json", folder.path() / "next.json");
    std::filesystem::rename(folder.path() / "next.json", link);

    model.setAutomation(!model.configuration->automationEnabled);
    ASSERT_TRUE(runEventLoopUntil([&] { return configurationIn(loaded) == *model.configuration; }))
        << "saves to the file it loaded";
    EXPECT_EQ(readFile(other), otherDocument);
    EXPECT_EQ(std::filesystem::read_symlink(link), "B.json");

    const QuorvaneApplication later(launch);
    EXPECT_FALSE(later.hasHandedOver()) << "the link now names another file";
}

TEST(QuorvaneApplicationRemovalTest, ADemoLeavesNoFolderBehindWhetherOrNotItQuit)
{
    testApplication();
    const TemporaryFolder configuration;
    for (const bool quits : {false, true}) {
        SCOPED_TRACE(quits ? "quit" : "no quit");
        std::filesystem::path demoFolder;
        {
            const QuorvaneApplication demo{{.arguments = {"quorvane", "--ui-demo"},
                .configurationFolder = configuration.path()}};
            demoFolder = demo.model().settingsURL.parent_path();
            ASSERT_TRUE(runEventLoopUntil([&] { return exists(demo.model().settingsURL); }));
            if (quits) {
                demo.model().quit();
                ASSERT_TRUE(runEventLoopUntil([&] { return *demo.model().terminationPrepared; }));
            }
        }
        EXPECT_TRUE(demoFolder.filename().string().starts_with("Quorvane-demo-"));
        EXPECT_FALSE(exists(demoFolder));
    }
}

template <typename Widget> Widget& partOf(const QWidget& parent, const char* name)
{
    auto* const found = parent.findChild<Widget*>(QString::fromLatin1(name));
    if (!found)
        throw std::runtime_error(std::string("no ") + name);
    return *found;
}

/// Clicks "Choose…" and runs `steps` in the panel it opens, from inside the panel's modal loop. A
/// panel still open three seconds later is closed, so that a failed step never leaves the test
/// waiting.
void whileChoosing(RuleEditor& editor, const std::function<void(OpenPanelWindow&)>& steps)
{
    const QObject scope; // neither timer outlives this call
    QTimer::singleShot(0, &scope, [&steps] {
        auto* panel = dynamic_cast<OpenPanelWindow*>(QApplication::activeModalWidget());
        ASSERT_NE(panel, nullptr);
        steps(*panel);
    });
    QTimer::singleShot(std::chrono::seconds(3), &scope, [] {
        if (QWidget* panel = QApplication::activeModalWidget())
            panel->close();
    });
    QTest::mouseClick(&partOf<QPushButton>(editor, "chooseApps"), Qt::LeftButton);
}

/// Clicks "Choose…" and, in the panel it opens, picks Sketcher from the Graphics folder in
/// "/Applications".
void chooseSketcher(RuleEditor& editor)
{
    whileChoosing(editor, [](OpenPanelWindow& panel) {
        EXPECT_EQ(panel.windowTitle(), QStringLiteral("Choose applications"));
        ASSERT_EQ(panel.folder(), "/Applications");
        auto& entries = partOf<QListWidget>(panel, "entries");
        doubleClickRow(entries, QStringLiteral("Graphics"));
        ASSERT_EQ(panel.folder(), "/Applications/Graphics");
        QTest::mouseClick(entries.viewport(), Qt::LeftButton, {},
            entries.visualItemRect(entries.item(0)).center());
        ASSERT_EQ(entries.item(0)->text(), QStringLiteral("Sketcher"));
        saveScreenshot(panel, "open-panel-in-the-application");
        QTest::mouseClick(&partOf<QPushButton>(panel, "open"), Qt::LeftButton);
    });
}

/// How many rows of the rule editor's list of applications are called `name`.
int rowsCalled(const RuleEditor& editor, const QString& name)
{
    return static_cast<int>(
        partOf<QListWidget>(editor, "appList").findItems(name, Qt::MatchExactly).size());
}

/// Opens the rule editor on a new rule named "Drawing" in a profile of its own, for selected
/// applications and setting the brightness; `editor` stays null if a step fails.
void editNewRule(QuorvaneApplication& application, RuleEditor*& editor)
{
    AppModel& model = application.model();
    ASSERT_TRUE(runEventLoopUntil([&] { return *model.isLoaded; }));
    const auto ownProfile = [&]() -> const Profile* {
        for (const Profile& profile : model.configuration->profiles) {
            if (profile.id != model.configuration->defaultProfileID)
                return &profile;
        }
        return nullptr;
    };
    if (!ownProfile())
        model.createProfile("Work");
    ASSERT_TRUE(runEventLoopUntil([&] { return ownProfile() != nullptr; }));
    model.selectProfile(ownProfile()->id);
    ContentView& content = application.mainWindow().content();
    QPushButton* addRule = nullptr;
    ASSERT_TRUE(runEventLoopUntil([&] {
        QWidget* page = content.currentPage();
        addRule = page ? page->findChild<QPushButton*>(QStringLiteral("addRule")) : nullptr;
        return addRule && addRule->isEnabled();
    }));
    // Active, as the click of a person makes it: the panel is the active window's.
    application.mainWindow().activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&application.mainWindow()));
    QTest::mouseClick(addRule, Qt::LeftButton);
    ASSERT_TRUE(runEventLoopUntil([&] { return content.editor() != nullptr; }));
    auto* opened = static_cast<RuleEditor*>(content.editor());
    QTest::keyClicks(&partOf<QLineEdit>(*opened, "name"), QStringLiteral("Drawing"));
    QTest::mouseClick(&partOf<QRadioButton>(*opened, "selectedApps"), Qt::LeftButton);
    QTest::mouseClick(
        &partOf<QWidget>(partOf<SettingValueEditor>(*opened, "brightness"), "set"), Qt::LeftButton);
    editor = opened;
}

/// Starts the application with `arguments`, adds a rule in the editor with "Choose…" picking
/// Sketcher, which only the panel offers, saves it and opens it again.
void chooseInTheRuleEditor(
    const std::vector<std::string>& arguments, const std::filesystem::path& configurationFolder)
{
    const ApplicationReference sketcher{.id = "com.example.Sketcher", .name = "Sketcher"};
    const QString sketcherName = QStringLiteral("Sketcher");
    QuorvaneApplication application{
        {.arguments = arguments, .configurationFolder = configurationFolder}};
    AppModel& model = application.model();
    RuleEditor* opened = nullptr;
    editNewRule(application, opened);
    ASSERT_NE(opened, nullptr);
    RuleEditor& editor = *opened;
    ContentView& content = application.mainWindow().content();
    EXPECT_EQ(std::ranges::count(*model.apps, sketcher.id, &AppChoice::id), 0);
    EXPECT_EQ(rowsCalled(editor, sketcherName), 0);

    chooseSketcher(editor);
    EXPECT_EQ(editor.draft().rule.conditions.apps, std::vector<ApplicationReference>{sketcher});
    EXPECT_EQ(std::ranges::count(*model.apps, sketcher.id, &AppChoice::id), 1);
    ASSERT_TRUE(runEventLoopUntil([&] { return rowsCalled(editor, sketcherName) == 1; }));
    chooseSketcher(editor); // picked again: still once
    EXPECT_EQ(editor.draft().rule.conditions.apps, std::vector<ApplicationReference>{sketcher});

    const UUID ruleID = editor.draft().rule.id;
    QTest::mouseClick(&partOf<QPushButton>(editor, "saveRule"), Qt::LeftButton);
    const auto savedRule = [&]() -> const Rule* {
        for (const Profile& profile : model.configuration->profiles) {
            const auto found = std::ranges::find(profile.rules, ruleID, &Rule::id);
            if (found != profile.rules.end())
                return &*found;
        }
        return nullptr;
    };
    ASSERT_TRUE(runEventLoopUntil([&] { return savedRule() != nullptr; }));
    EXPECT_EQ(savedRule()->conditions.apps, std::vector<ApplicationReference>{sketcher});
    EXPECT_TRUE(runEventLoopUntil([&] {
        return contentsOf(model.settingsURL).value_or("").find(sketcher.id) != std::string::npos;
    })) << "written to the settings file";

    // Opened again, the saved rule shows it picked, once.
    ASSERT_TRUE(runEventLoopUntil([&] { return content.editor() == nullptr; }));
    content.edit(*savedRule());
    ASSERT_TRUE(runEventLoopUntil([&] { return content.editor() != nullptr; }));
    const auto& reopened = *static_cast<RuleEditor*>(content.editor());
    EXPECT_TRUE(runEventLoopUntil([&] { return rowsCalled(reopened, sketcherName) == 1; }));
    EXPECT_EQ(rowsCalled(reopened, sketcherName), 1);
    saveScreenshot(application.mainWindow(), "rule-editor-chosen-application");
}

TEST(QuorvaneApplicationPanelTest, ChooseInTheRuleEditorAddsAnApplicationTheListDoesNotOffer)
{
    testApplication();
    const TemporaryFolder folder;
    const std::vector<std::vector<std::string>> launches{{"quorvane", "--ui-demo"},
        {"quorvane", "--settings-path", (folder.path() / "settings.json").string()}};
    for (const std::vector<std::string>& arguments : launches) {
        SCOPED_TRACE(arguments.back());
        insideApplicationLoop([&] { chooseInTheRuleEditor(arguments, folder.path()); });
    }
}

TEST(QuorvaneApplicationPanelTest, ThePanelBlocksOnlyTheMainWindowComesBackWithItAndEndsInAQuit)
{
    testApplication();
    const TemporaryFolder folder;
    const QByteArray previousRuntime = qgetenv("XDG_RUNTIME_DIR");
    qputenv("XDG_RUNTIME_DIR", QByteArray::fromStdString(folder.path().string()));
    const QuorvaneApplication::Launch launch{
        .arguments = {"quorvane", "--settings-path", (folder.path() / "settings.json").string()},
        .configurationFolder = folder.path()};
    insideApplicationLoop([&] {
        QuorvaneApplication application(launch);
        RuleEditor* editor = nullptr;
        editNewRule(application, editor);
        ASSERT_NE(editor, nullptr);
        MainWindow& window = application.mainWindow();
        QWidget& popover = application.menuBarExtra().popover();
        whileChoosing(*editor, [&](OpenPanelWindow& panel) {
            EXPECT_EQ(panel.parentWidget(), &window);
            // Not qWaitForWindowActive(): a window counts as active there while its parent is.
            const auto panelIsActive = [&panel] { return QApplication::activeWindow() == &panel; };
            ASSERT_TRUE(runEventLoopUntil(panelIsActive));
            struct WayBack {
                const char* name;
                std::function<void()> take;
            };
            const WayBack waysBack[] = {
                {"Open QuorVane…",
                    [&] { clickAsTheUserDoes(partOf<QPushButton>(popover, "openMainWindow")); }},
                {"a second launch",
                    [&] { EXPECT_TRUE(QuorvaneApplication(launch).hasHandedOver()); }},
            };
            for (const WayBack& way : waysBack) {
                SCOPED_TRACE(way.name);
                window.showMinimized();
                popover.activateWindow();
                ASSERT_TRUE(QTest::qWaitForWindowActive(&popover));
                way.take();
                EXPECT_TRUE(runEventLoopUntil([&] { return !window.isMinimized(); }));
                EXPECT_TRUE(panel.isVisible());
                EXPECT_TRUE(runEventLoopUntil(panelIsActive)) << "on top, with the keyboard";
            }
            clickAsTheUserDoes(partOf<QPushButton>(popover, "quit"));
        });
        EXPECT_TRUE(*application.model().terminationPrepared) << "the quit ended the panel";
        EXPECT_EQ(window.findChild<OpenPanelWindow*>(), nullptr);
    });
    qputenv("XDG_RUNTIME_DIR", previousRuntime);
}

} // namespace
} // namespace quorvane
