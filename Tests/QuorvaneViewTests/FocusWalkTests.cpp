// Every control of every window, pressed with Space twice: the keyboard stays where the person
// put it, so the second Space does nothing or does again what the first did. And when the model
// changes on its own, the focus stays on its control, goes to the control that replaces it, or
// waits where keys act on nothing; it never moves on to the next control.
#include "Foundation/JSON.h"
#include "Foundation/UUID.h"
#include "Quorvane/Views/DisplayTest/DisplayTestPresentation.h"
#include "Quorvane/Views/DisplaysPage.h"
#include "Quorvane/Views/MainWindow/DisplaysView.h"
#include "Quorvane/Views/MainWindow/ProfilePage.h"
#include "Quorvane/Views/MainWindow/RuleRow.h"
#include "Quorvane/Views/MainWindow/RulesTable.h"
#include "Quorvane/Views/MenuView.h"
#include "Quorvane/Views/QtOpenPanel.h"
#include "QuorvaneCore/SettingsCoding.h"
#include "QuorvaneViewTests/MainWindowTestSupport.h"
#include "SimulatedMac/SimulatedApplicationCatalog.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QAbstractScrollArea>
#include <QAbstractSlider>
#include <QComboBox>
#include <QDialog>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMessageBox>
#include <QPointer>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTimer>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

namespace quorvane {
namespace {

using namespace std::chrono_literals;
using nlohmann::json;

const std::string externalID = "demo-external";

ControlKey externalKey(SettingKey setting)
{
    return {.target = ControlTarget::display(externalID), .setting = setting};
}

std::string text(const QString& string) { return string.toStdString(); }

/// How a person tells a control: the names of the parts around it, from its window down, and its
/// own accessible name or text. A rebuilt part gives the control that replaces it the same name.
QString nameOf(const QWidget& widget)
{
    QStringList names;
    for (const QWidget* at = &widget; at && !at->isWindow(); at = at->parentWidget()) {
        if (!at->objectName().isEmpty())
            names.prepend(at->objectName());
    }
    if (widget.objectName().isEmpty())
        names.append(QString::fromLatin1(widget.metaObject()->className()));
    QString label = widget.accessibleName();
    if (const auto* button = qobject_cast<const QAbstractButton*>(&widget);
        label.isEmpty() && button)
        label = button->text();
    if (const auto* field = qobject_cast<const QLineEdit*>(&widget); label.isEmpty() && field)
        label = field->placeholderText();
    const QString path = names.join(QLatin1Char('/'));
    return label.isEmpty() ? path : path + QStringLiteral(" \"") + label + QLatin1Char('"');
}

/// The control and its window, for a failure message.
std::string describe(const QWidget* widget)
{
    if (!widget)
        return "no widget";
    const QWidget* window = widget->window();
    const QString title = window->windowTitle().isEmpty()
        ? QString::fromLatin1(window->metaObject()->className())
        : window->windowTitle();
    return text(nameOf(*widget)) + " (" + widget->metaObject()->className() + ") in " + text(title);
}

/// Where Tab stops: shown, enabled, and taking the focus by Tab itself rather than for another.
bool isTabStop(const QWidget& widget)
{
    return widget.isVisible() && widget.isEnabled() && (widget.focusPolicy() & Qt::TabFocus)
        && !widget.focusProxy();
}

/// A place where keys act on nothing: Tab never stops there.
bool isNoControl(const QWidget& widget) { return !(widget.focusPolicy() & Qt::TabFocus); }

/// The tab stops of the window that lie in `area`, in the order Tab visits them.
std::vector<QWidget*> tabStops(QWidget& window, const QWidget& area)
{
    std::vector<QWidget*> stops;
    for (QWidget* at = window.nextInFocusChain(); at != &window; at = at->nextInFocusChain()) {
        if (at->window() == &window && isTabStop(*at) && (&area == at || area.isAncestorOf(at)))
            stops.push_back(at);
    }
    return stops;
}

/// What a control shows that a key could change.
json stateOf(const QWidget& control)
{
    json state = {{"enabled", control.isEnabled()}};
    if (const auto* button = qobject_cast<const QAbstractButton*>(&control)) {
        state["text"] = text(button->text());
        if (button->isCheckable())
            state["checked"] = button->isChecked();
    } else if (const auto* slider = qobject_cast<const QAbstractSlider*>(&control)) {
        state["value"] = slider->value();
    } else if (const auto* choice = qobject_cast<const QComboBox*>(&control)) {
        state["current"] = text(choice->currentText());
    } else if (const auto* field = qobject_cast<const QLineEdit*>(&control)) {
        state["text"] = text(field->text());
    } else if (const auto* view = qobject_cast<const QAbstractItemView*>(&control)) {
        state["current"] = view->currentIndex().row();
        json rows = json::array();
        const QAbstractItemModel* items = view->model();
        for (int row = 0; items && row < items->rowCount(); ++row) {
            const QModelIndex index = items->index(row, 0);
            rows.push_back({{"selected", view->selectionModel()->isSelected(index)},
                {"check", index.data(Qt::CheckStateRole).toInt()}});
        }
        state["rows"] = rows;
    }
    return state;
}

/// Every control the window shows, by name.
json controlsOf(QWidget& window)
{
    json controls = json::object();
    for (const QWidget* widget : window.findChildren<QWidget*>()) {
        if (widget->window() != &window || !widget->isVisibleTo(&window) || isNoControl(*widget))
            continue;
        std::string name = text(nameOf(*widget));
        while (controls.contains(name))
            name += " (another)";
        controls[name] = stateOf(*widget);
    }
    return controls;
}

/// One line for each leaf where `after` differs from `before`.
void listDifferences(
    const json& before, const json& after, const std::string& path, std::vector<std::string>& lines)
{
    if (before == after)
        return;
    if (before.is_object() && after.is_object()) {
        json keys = before;
        keys.update(after);
        for (const auto& [key, value] : keys.items()) {
            const std::string inner = path.empty() ? key : path + " › " + key;
            listDifferences(before.value(key, json()), after.value(key, json()), inner, lines);
        }
        return;
    }
    if (before.is_array() && after.is_array() && before.size() == after.size()) {
        for (std::size_t index = 0; index < before.size(); ++index)
            listDifferences(
                before[index], after[index], path + " › " + std::to_string(index), lines);
        return;
    }
    const auto shortened = [](const json& value) {
        std::string dumped = value.dump();
        return dumped.size() > 160 ? dumped.substr(0, 160) + "…" : dumped;
    };
    lines.push_back(path + ": " + shortened(before) + " → " + shortened(after));
}

std::string differences(const json& before, const json& after)
{
    std::vector<std::string> lines;
    listDifferences(before, after, "", lines);
    if (lines.empty())
        return " nothing";
    std::string joined;
    for (const std::string& line : lines)
        joined += "\n    " + line;
    return joined;
}

/// A fresh demo model with the windows of one scene, on predictable identifiers so that the
/// outcomes of two stages compare equal field by field.
class Stage {
public:
    Stage() = default;
    Stage(const Stage&) = delete;
    Stage& operator=(const Stage&) = delete;
    // A display test may still run: its panel goes with the windows that host it.
    ~Stage() { QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete); }

    /// The views catch up with the model, and Qt's queued work runs.
    void turn()
    {
        demo.turn();
        QCoreApplication::processEvents();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    /// Long enough for holds, saves, checks and an unanswered display test to end.
    void run()
    {
        for (int step = 0; step < 8; ++step) {
            demo.world.executor.advance(5s);
            turn();
        }
    }

    void showMainWindow()
    {
        main = std::make_unique<MainWindow>(model, demo.world.shell);
        main->show();
        activate(*main);
        turn();
    }
    void showPage(AppPage page, const UUID& profileID)
    {
        model.selectProfile(profileID);
        model.page.set(page);
        turn();
        layOut();
    }
    [[nodiscard]] DisplaysView& displaysView() const
    {
        // The page's classes declare no signals: found by name, not by type.
        return *static_cast<DisplaysView*>(
            main->findChild<QWidget*>(QStringLiteral("displaysView")));
    }
    void showPopover()
    {
        popover = std::make_unique<MenuView>(model);
        windowRequests
            = std::make_unique<QSignalSpy>(popover.get(), &MenuView::mainWindowRequested);
        popover->show();
        activate(*popover);
        turn();
    }
    void holdBrightness()
    {
        model.manual(SettingValue::percent(0.8), externalKey(SettingKey::brightness), false);
        demo.settle();
        turn();
    }
    /// Ends the arrangement: the controls of `area` in `window` are walked, and `keyboardHome`
    /// takes the keyboard back when `window` closes.
    void setWalked(QWidget& window, QWidget* area = nullptr, QWidget* keyboardHome = nullptr)
    {
        walked = &window;
        m_area = area ? area : &window;
        home = keyboardHome ? keyboardHome : &window;
        for (QWidget* shown : QApplication::topLevelWidgets()) {
            if (shown->isVisible())
                m_known.emplace_back(shown);
        }
    }
    [[nodiscard]] std::vector<QWidget*> stops() const { return tabStops(*walked, *m_area); }

    static void activate(QWidget& window)
    {
        window.activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(&window));
        // The offscreen platform leaves a closed pop-up the active window while the window under
        // it keeps the platform's focus, so asking again changes nothing.
        if (QApplication::activeWindow() != &window) {
            QT_WARNING_PUSH
            QT_WARNING_DISABLE_DEPRECATED
            QApplication::setActiveWindow(&window);
            QT_WARNING_POP
        }
    }
    /// Gives `control` the keyboard, as the person does with a shortcut.
    static void focus(QWidget& control)
    {
        activate(*control.window());
        control.setFocus(Qt::ShortcutFocusReason);
    }

    /// Space on `target`, as the person presses it. A menu it opens runs its own event loop
    /// inside the press: it is closed from within, as Escape would close it.
    void pressSpace(QWidget& target)
    {
        QTimer::singleShot(0, &m_context, [this] { closePopups(); });
        QTest::keyClick(&target, Qt::Key_Space);
        QCoreApplication::processEvents();
        closePopups();
        turn();
    }
    /// Where the next key goes: the focused control of the active window, or the window itself.
    /// A closed window hands the keyboard back to the scene's main window, as the desktop does;
    /// null when no window is left to take it.
    QWidget* keyboard()
    {
        QWidget* active = QApplication::activeWindow();
        if (!active || !active->isVisible()) {
            if (!home || !home->isVisible())
                return nullptr;
            activate(*home);
            active = QApplication::activeWindow();
        }
        QWidget* focused = QApplication::focusWidget();
        return focused ? focused : active;
    }
    /// Closes what a press opened and is still open: a menu, a dialog, another window. What it
    /// was goes into the outcome.
    void closeWhatOpened()
    {
        closePopups();
        for (QWidget* shown : QApplication::topLevelWidgets()) {
            const bool known
                = std::ranges::find(m_known, shown, &QPointer<QWidget>::data) != m_known.end();
            if (known || !shown->isVisible() || shown->windowType() == Qt::Popup)
                continue;
            std::string what = "window " + std::string(shown->metaObject()->className()) + " \""
                + text(shown->windowTitle()) + '"';
            if (const auto* box = qobject_cast<QMessageBox*>(shown))
                what += ": " + text(box->text());
            opened.push_back(what);
            if (auto* dialog = qobject_cast<QDialog*>(shown))
                dialog->reject();
            else
                shown->close();
        }
        turn();
    }

    /// All that a stray key could have changed.
    [[nodiscard]] json outcome() const
    {
        const std::optional<DisplayPreview>& preview = *model.preview;
        json outcome = {{"configuration", encodeConfiguration(*model.configuration)},
            {"saved", savedDocument()}, {"holds", byControl(*model.holds)},
            {"observed", byControl(*model.observed)}, {"modes", modes()},
            {"display test", preview ? json(static_cast<int>(preview->phase)) : json()},
            {"page", static_cast<int>(*model.page)},
            {"selected profile", identifier(*model.selectedProfileID)},
            {"selected rule", identifier(*model.selectedRuleID)},
            {"refreshing", *model.isRefreshing}, {"saving", *model.isSavingManualProfile},
            {"quitting", *model.isQuitting},
            {"termination requests", demo.world.shell.terminationRequests},
            {"action error", model.actionError->value_or("")}, {"opened", opened}};
        if (main)
            outcome["main window"] = mainWindowOutcome();
        if (popover) {
            outcome["main window requests"] = windowRequests->count();
            outcome["popover"] = controlsOf(*popover);
        }
        if (openPanel) {
            json selection = json::array();
            for (const std::filesystem::path& chosen : openPanel->selection())
                selection.push_back(chosen.string());
            outcome["open panel"] = {{"folder", openPanel->folder().string()},
                {"selection", selection}, {"shown", openPanel->isVisible()},
                {"result", openPanel->result()}, {"controls", controlsOf(*openPanel)}};
        }
        return outcome;
    }

    ScopedUUIDGenerator identifiers{sequentialUUIDGenerator()};
    SimulatedApplicationCatalog catalog;
    DemoWorld demo;
    AppModel& model = *demo.model;
    std::unique_ptr<MainWindow> main;
    std::unique_ptr<MenuView> popover;
    std::unique_ptr<QSignalSpy> windowRequests;
    std::unique_ptr<OpenPanelWindow> openPanel;
    /// The window whose controls are walked, and the one that takes the keyboard when it closes,
    /// with the control the person left its focus on.
    QPointer<QWidget> walked;
    QPointer<QWidget> home;
    QPointer<QWidget> homeFocus;
    /// What the presses opened, in order; closed again before the next key.
    std::vector<std::string> opened;

private:
    void closePopups()
    {
        while (QWidget* popup = QApplication::activePopupWidget()) {
            if (auto* choice = qobject_cast<QComboBox*>(popup->parentWidget())) {
                // A drop-down's list opening on its own control changes nothing.
                choice->hidePopup();
                continue;
            }
            std::string what = "pop-up " + std::string(popup->metaObject()->className());
            if (const auto* menu = qobject_cast<QMenu*>(popup)) {
                what = "menu";
                for (const QAction* action : menu->actions())
                    what += " · " + text(action->text());
            }
            opened.push_back(what);
            // As the person closes it, so that the focus goes back as it would.
            QTest::keyClick(popup, Qt::Key_Escape);
            if (QApplication::activePopupWidget() == popup)
                popup->close();
        }
    }
    [[nodiscard]] json mainWindowOutcome() const
    {
        const ContentView& content = main->content();
        json draft;
        if (const std::optional<RuleDraft>& shown = content.draft())
            draft = {{"profile", shown->profileID.uuidString()}, {"rule", encodeRule(shown->rule)},
                {"new", shown->isNew}, {"selects apps", shown->selectsApps}};
        const std::optional<ProfileRenameTarget>& renaming = content.renameTarget();
        return {{"rule editor", draft},
            {"renaming", renaming ? json(renaming->profileID.uuidString()) : json()},
            {"shows rules", content.showsRules()}, {"controls", controlsOf(*main)}};
    }
    /// The settings file where it differs from the model's document: a difference in both would
    /// only be told twice.
    [[nodiscard]] json savedDocument() const
    {
        const std::optional<std::string> saved = contentsOf(model.settingsURL);
        if (!saved)
            return "none";
        json document = parseJSON(*saved);
        return document == encodeConfiguration(*model.configuration) ? json("as in the model")
                                                                     : document;
    }
    template <typename Value>
    [[nodiscard]] static json byControl(const std::map<ControlKey, Value>& values)
    {
        json shown = json::object();
        for (const auto& [key, value] : values) {
            const std::string name = key.target.id() + " " + std::string(rawValue(key.setting));
            if constexpr (std::is_same_v<Value, ManualHold>)
                shown[name] = value.value.label();
            else
                shown[name] = value.label();
        }
        return shown;
    }
    [[nodiscard]] json modes() const
    {
        json modes = json::object();
        for (const auto& [displayID, mode] : model.hardwareSnapshot->currentModes)
            modes[displayID] = encodeModeConfiguration(mode);
        return modes;
    }
    [[nodiscard]] static json identifier(const std::optional<UUID>& id)
    {
        return id ? json(id->uuidString()) : json();
    }

    QPointer<QWidget> m_area;
    std::vector<QPointer<QWidget>> m_known;
    /// Ends the stage's timers with it.
    QObject m_context;
};

/// One window in one state, built afresh for every press.
struct Scene {
    std::string name;
    std::function<void(Stage&)> arrange;
};

void PrintTo(const Scene& scene, std::ostream* out) { *out << scene.name; }

std::string sceneName(const ::testing::TestParamInfo<Scene>& info) { return info.param.name; }

const Profile& workSample(const AppModel& model)
{
    return *std::ranges::find(model.configuration->profiles, "Work · sample", &Profile::name);
}

/// The main window on `page` of `profileID`, with a brightness held so that Resume is offered.
void showMainWindowOn(Stage& stage, AppPage page, const std::optional<UUID>& profileID)
{
    stage.showMainWindow();
    stage.holdBrightness();
    stage.showPage(page, profileID.value_or(workSample(stage.model).id));
}

/// Picks the item after the current one from the open list, as the person does.
QWidget& pickAnother(QWidget& card, const char* name)
{
    auto& choice = *card.findChild<QComboBox*>(QString::fromLatin1(name));
    Stage::focus(choice);
    emit choice.activated((choice.currentIndex() + 1) % choice.count());
    return choice;
}

/// A display test of the external display, confirming; `start` asks for it on the Displays page
/// and gives the control it used. Its panel is the window walked, over the main window.
void showDisplayTest(Stage& stage, const std::function<QWidget&(QWidget& card)>& start)
{
    showMainWindowOn(stage, AppPage::displays, std::nullopt);
    QWidget& asked = start(*stage.displaysView().controls().cardOf(externalID));
    stage.turn();
    stage.demo.world.executor.advance(3s);
    stage.turn();
    ASSERT_TRUE(stage.model.preview->has_value());
    ASSERT_EQ((*stage.model.preview)->phase, DisplayPreview::Phase::confirming);
    DisplayTestPanel* panel = DisplayTestPanelPresenter::of(stage.model)->panel();
    ASSERT_NE(panel, nullptr);
    stage.setWalked(*panel, nullptr, stage.main.get());
    stage.homeFocus = &asked;
}

void showPopover(Stage& stage)
{
    stage.holdBrightness();
    stage.showPopover();
    stage.setWalked(*stage.popover);
}

/// The open panel one folder down with an application picked, so that every button takes a key.
void showOpenPanel(Stage& stage)
{
    SimulatedApplicationCatalog& catalog = stage.catalog;
    catalog.addApplication("/Applications/Writer.app", "com.example.Writer", "Writer");
    catalog.addApplication("/Applications/Graphics/Sketcher.app", "com.example.Sketcher");
    catalog.addApplication("/Applications/Graphics/Painter.app", "com.example.Painter");
    catalog.addFolder("/Applications/Graphics/Brushes");
    stage.openPanel = std::make_unique<OpenPanelWindow>(catalog,
        OpenPanelRequest{.title = "Choose applications",
            .directory = "/Applications",
            .canChooseDirectories = false,
            .allowedContentTypes = {ContentType::applicationBundle},
            .allowsMultipleSelection = true});
    stage.openPanel->show();
    Stage::activate(*stage.openPanel);
    stage.openPanel->openFolder("/Applications/Graphics");
    auto& list = *stage.openPanel->findChild<QListWidget*>(QStringLiteral("entries"));
    const QList<QListWidgetItem*> painter
        = list.findItems(QStringLiteral("Painter"), Qt::MatchExactly);
    ASSERT_EQ(painter.size(), 1);
    QTest::mouseClick(
        list.viewport(), Qt::LeftButton, {}, list.visualItemRect(painter.front()).center());
    stage.setWalked(*stage.openPanel);
}

/// The profile page of "Work · sample" with `count` rules, its first ones and then plain ones: the
/// rows are reused as rules move, and each table length puts other rows at its ends.
void showRules(Stage& stage, std::size_t count)
{
    showMainWindowOn(stage, AppPage::profiles, std::nullopt);
    const UUID profileID = workSample(stage.model).id;
    while (workSample(stage.model).rules.size() > count) {
        stage.model.deleteRule(workSample(stage.model).rules.back().id, profileID);
        stage.demo.settle();
        stage.turn();
    }
    while (workSample(stage.model).rules.size() < count) {
        const std::string name = "Rule " + std::to_string(workSample(stage.model).rules.size());
        ASSERT_TRUE(stage.model.saveRule(
            {.id = UUID::random(), .name = name, .settings = {.brightness = 0.5}}, profileID,
            false));
        stage.demo.settle();
        stage.turn();
    }
    layOut();
    stage.setWalked(*stage.main, stage.main->content().currentPage());
}

// The main window's sidebar is walked once, with the Displays page; the other pages walk their
// own controls.
const Scene walkedScenes[] = {
    {"Popover", showPopover},
    {"DisplaysPage",
        [](Stage& stage) {
            showMainWindowOn(stage, AppPage::displays, std::nullopt);
            stage.setWalked(*stage.main);
        }},
    {"ProfilePage",
        [](Stage& stage) {
            showMainWindowOn(stage, AppPage::profiles, std::nullopt);
            ASSERT_GE(workSample(stage.model).rules.size(), 3U);
            stage.setWalked(*stage.main, stage.main->content().currentPage());
        }},
    {"ProfilePageOfThreeRules", [](Stage& stage) { showRules(stage, 3); }},
    {"ProfilePageOfTwoRules", [](Stage& stage) { showRules(stage, 2); }},
    {"ProfilePageRenamed",
        [](Stage& stage) {
            showMainWindowOn(stage, AppPage::profiles, std::nullopt);
            // Renamed from the heading's menu, with the keyboard: the menu opens again later.
            ContentView& content = stage.main->content();
            auto& menuButton
                = *content.currentPage()->findChild<QWidget*>(QStringLiteral("profileMenu"));
            Stage::focus(menuButton);
            QTimer::singleShot(0, [] {
                QWidget* menu = QApplication::activePopupWidget();
                QTest::keyClick(menu, Qt::Key_Down);
                QTest::keyClick(menu, Qt::Key_Return);
            });
            QTest::keyClick(&menuButton, Qt::Key_Space);
            stage.turn();
            auto* field = content.findChild<QLineEdit*>(QStringLiteral("profileNameField"));
            ASSERT_NE(field, nullptr);
            QTest::keyClicks(field, QStringLiteral(" 2"));
            QTest::keyClick(field, Qt::Key_Return);
            stage.run();
            layOut();
            stage.setWalked(*stage.main, content.currentPage());
        }},
    {"SettingsPage",
        [](Stage& stage) {
            showMainWindowOn(stage, AppPage::settings, std::nullopt);
            stage.setWalked(*stage.main, stage.main->content().currentPage());
        }},
    {"DefaultPage",
        [](Stage& stage) {
            showMainWindowOn(stage, AppPage::profiles, stage.model.configuration->defaultProfileID);
            stage.setWalked(*stage.main, stage.main->content().currentPage());
        }},
    {"RuleEditor",
        [](Stage& stage) {
            showMainWindowOn(stage, AppPage::profiles, std::nullopt);
            // A rule that names an application, so that the editor shows the list of
            // applications, opened with the keyboard: Shift+F10 on its switch, then "Edit rule".
            ContentView& content = stage.main->content();
            const UUID coding
                = std::ranges::find(workSample(stage.model).rules, "Coding", &Rule::name)->id;
            QWidget& opener = *static_cast<ProfilePage*>(content.currentPage())
                                   ->rulesTable()
                                   .rowOf(coding)
                                   ->focusableControls()
                                   .front();
            Stage::focus(opener);
            QTest::keyClick(&opener, Qt::Key_F10, Qt::ShiftModifier);
            auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
            ASSERT_NE(menu, nullptr);
            menu->setActiveAction(menu->actions().front());
            QTest::keyClick(menu, Qt::Key_Return);
            stage.turn();
            layOut();
            stage.setWalked(*stage.main, content.editor());
            stage.homeFocus = &opener;
        }},
    {"RefreshRateTest",
        [](Stage& stage) {
            showDisplayTest(
                stage, [](QWidget& card) -> QWidget& { return pickAnother(card, "refreshRate"); });
        }},
    {"ResolutionTest",
        [](Stage& stage) {
            showDisplayTest(
                stage, [](QWidget& card) -> QWidget& { return pickAnother(card, "resolution"); });
        }},
    {"HDRTest",
        [](Stage& stage) {
            showDisplayTest(stage, [](QWidget& card) -> QWidget& {
                auto& hdr = *card.findChild<QAbstractButton*>(QStringLiteral("hdr"));
                QTest::mouseClick(&hdr, Qt::LeftButton);
                return hdr;
            });
        }},
    {"ChooseApplications", showOpenPanel},
};

const Scene& walked(std::string_view name)
{
    return *std::ranges::find(walkedScenes, name, &Scene::name);
}

/// The names of the scene's tab stops, from a stage of their own.
std::vector<QString> stopNames(const Scene& scene)
{
    Stage stage;
    scene.arrange(stage);
    std::vector<QString> names;
    if (stage.walked) {
        for (const QWidget* stop : stage.stops())
            names.push_back(nameOf(*stop));
    }
    return names;
}

/// The scene afresh, with its stop `index` focused; null when the stage came out otherwise.
QWidget* focusStop(Stage& stage, const Scene& scene, std::size_t index, const QString& name)
{
    scene.arrange(stage);
    if (!stage.walked)
        return nullptr;
    const std::vector<QWidget*> stops = stage.stops();
    if (index >= stops.size() || nameOf(*stops[index]) != name) {
        ADD_FAILURE() << "a fresh " << scene.name << " has other controls than the first";
        return nullptr;
    }
    Stage::focus(*stops[index]);
    EXPECT_TRUE(stops[index]->hasFocus()) << describe(stops[index]);
    return stops[index];
}

/// Space, then the work it started runs to its end, then what it opened is closed.
void pressAndRun(Stage& stage, QWidget& target)
{
    stage.pressSpace(target);
    stage.run();
    stage.closeWhatOpened();
}

/// The control itself, or the one that replaced it, if it can take the keyboard now.
QWidget* againOrReplacement(Stage& stage, QWidget* control, const QString& name)
{
    if (control && isTabStop(*control))
        return control;
    if (!stage.walked || !stage.walked->isVisible())
        return nullptr;
    const std::vector<QWidget*> stops = stage.stops();
    const auto found
        = std::ranges::find_if(stops, [&](const QWidget* stop) { return nameOf(*stop) == name; });
    return found == stops.end() ? nullptr : *found;
}

/// Whether the keyboard may rest on `focused` after the person's Space on the control named
/// `name`: on that control or its replacement, where keys act on nothing, on a part the press
/// opened, where the person left it in the window under a closed one, or nowhere.
bool isWhereThePersonLeftIt(const Stage& stage, const QWidget* focused, const QString& name,
    const std::vector<QPointer<QWidget>>& shownBefore)
{
    if (!focused)
        return true;
    const bool opened
        = std::ranges::find(shownBefore, focused, &QPointer<QWidget>::data) == shownBefore.end();
    return nameOf(*focused) == name || isNoControl(*focused) || opened
        || focused == stage.homeFocus;
}

/// Runs `body` on each tab stop of the scene, by its index and name, under a trace naming it.
void forEachStop(const Scene& scene, const std::function<void(std::size_t, const QString&)>& body)
{
    const std::vector<QString> names = stopNames(scene);
    ASSERT_FALSE(names.empty());
    for (std::size_t index = 0; index < names.size(); ++index) {
        SCOPED_TRACE(scene.name + ": " + text(names[index]));
        body(index, names[index]);
    }
}

class FocusWalkTest : public ::testing::TestWithParam<Scene> { };

TEST_P(FocusWalkTest, ASecondSpaceDoesNothingOrWhatTheFirstDid)
{
    const Scene& scene = GetParam();
    forEachStop(scene, [&](std::size_t index, const QString& name) {
        const std::string control = text(name);
        json once;
        json second;
        std::string secondWent;
        bool repeated = false;
        {
            Stage stage;
            QPointer<QWidget> stop = focusStop(stage, scene, index, name);
            if (!stop)
                return;
            std::vector<QPointer<QWidget>> shownBefore;
            for (QWidget* widget : QApplication::allWidgets()) {
                if (widget->isVisible())
                    shownBefore.emplace_back(widget);
            }
            const json before = stage.outcome();
            pressAndRun(stage, *stop);
            once = stage.outcome();
            QWidget* target = stage.keyboard();
            secondWent = describe(target);
            // A press that changed nothing, such as a menu closed again, leaves the keyboard on
            // its control.
            const auto changes = [](json outcome) {
                outcome.erase("opened");
                return outcome;
            };
            if (changes(once) == changes(before) && stop && isTabStop(*stop)) {
                EXPECT_EQ(target, stop.data())
                    << "In " << scene.name << ", after Space on " << control
                    << " changed nothing the keyboard is on " << secondWent;
            }
            EXPECT_TRUE(isWhereThePersonLeftIt(stage, target, name, shownBefore))
                << "In " << scene.name << ", after Space on " << control
                << " the focus moved on to " << secondWent
                << ", a control the person did not move to";
            // A name field the first Space opened and focused takes the second as typing: the
            // person asked for it.
            const bool typesIntoOpenedField = qobject_cast<QLineEdit*>(target) && target != stop
                && std::ranges::find(shownBefore, target, &QPointer<QWidget>::data)
                    == shownBefore.end();
            // Given back to the control the person opened the editor or panel from, the
            // keyboard is theirs again.
            repeated = target
                && (target == stop || nameOf(*target) == name || target == stage.homeFocus);
            if (typesIntoOpenedField)
                return;
            if (target)
                pressAndRun(stage, *target);
            second = stage.outcome();
        }
        // Where the keyboard stayed on the control, the second Space was the control's own.
        if (second == once || repeated)
            return;
        json twice = once;
        {
            Stage stage;
            QPointer<QWidget> stop = focusStop(stage, scene, index, name);
            if (!stop)
                return;
            pressAndRun(stage, *stop);
            if (QWidget* again = againOrReplacement(stage, stop, name)) {
                Stage::focus(*again);
                pressAndRun(stage, *again);
            }
            twice = stage.outcome();
        }
        EXPECT_TRUE(second == twice)
            << "In " << scene.name << ", after Space on " << control << " the second Space went to "
            << secondWent << "\n  and changed, from one press:" << differences(once, second)
            << "\n  where Space on the control itself again changes:" << differences(once, twice);
    });
}

INSTANTIATE_TEST_SUITE_P(EveryWindow, FocusWalkTest, ::testing::ValuesIn(walkedScenes), sceneName);

/// A change that no key or click made.
struct ModelChange {
    std::string_view what;
    std::function<void(Stage&)> make;
};

void setExternalHDR(Stage& stage, bool isOn)
{
    stage.model.hardwareSnapshot.modify([&](HardwareSnapshot& snapshot) {
        snapshot.currentModes[externalID].hdr = isOn;
        // In HDR the display gives up its contrast control: its card is built anew.
        snapshot.capabilities[externalKey(SettingKey::contrast)].available = !isOn;
    });
    stage.model.observed.modify([&](std::map<ControlKey, SettingValue>& values) {
        values.insert_or_assign(externalKey(SettingKey::hdr), SettingValue::toggle(isOn));
    });
    stage.turn();
}

void setHDRAvailable(Stage& stage, bool isAvailable)
{
    stage.model.hardwareSnapshot.modify([&](HardwareSnapshot& snapshot) {
        snapshot.capabilities[externalKey(SettingKey::hdr)].available = isAvailable;
    });
    stage.turn();
}

/// A test of 140 Hz that the model starts, as a rule would, up to its confirmation.
void startDisplayTest(Stage& stage)
{
    ModeConfiguration mode = stage.model.hardwareSnapshot->currentModes.at(externalID);
    mode.refreshRate = RefreshPreference::fixed(140'000);
    ASSERT_TRUE(stage.model.previewMode(mode, externalID, false, false, "Keep these settings", {}));
    stage.turn();
    stage.demo.world.executor.advance(3s);
    stage.turn();
}

const ModelChange modelChanges[] = {
    {"HDR turning on", [](Stage& stage) { setExternalHDR(stage, true); }},
    {"HDR turning off", [](Stage& stage) { setExternalHDR(stage, false); }},
    {"HDR becoming unavailable", [](Stage& stage) { setHDRAvailable(stage, false); }},
    {"HDR becoming available again", [](Stage& stage) { setHDRAvailable(stage, true); }},
    {"a display test starting", startDisplayTest},
    {"the display test ending", [](Stage& stage) { stage.run(); }},
    {"the external display going away",
        [](Stage& stage) {
            stage.model.displays.modify([](std::vector<DisplayDevice>& displays) {
                std::erase_if(displays,
                    [](const DisplayDevice& display) { return display.id == externalID; });
            });
            stage.turn();
        }},
    {"the external display coming back",
        [](Stage& stage) {
            stage.model.displays.modify([](std::vector<DisplayDevice>& displays) {
                displays.push_back({.id = externalID,
                    .runtimeID = 0,
                    .name = "External screen 1",
                    .isBuiltIn = false,
                    .bounds = {.x = 1512, .y = 0, .width = 2560, .height = 1440},
                    .maximumFramesPerSecond = 140});
            });
            stage.turn();
        }},
};

/// The part of `widget` that the scroll areas around it show, in its own coordinates.
QRect shownPart(const QWidget& widget)
{
    QRect shown = widget.rect();
    for (const QWidget* around = widget.parentWidget(); around && !around->isWindow();
         around = around->parentWidget()) {
        if (qobject_cast<const QAbstractScrollArea*>(around->parentWidget())) // a viewport
            shown &= QRect(widget.mapFrom(around, QPoint()), around->size());
    }
    return shown;
}

class FocusWalkModelChangeTest : public ::testing::TestWithParam<Scene> { };

TEST_P(FocusWalkModelChangeTest, TheFocusStaysOnItsControlOrWhereKeysDoNothing)
{
    const Scene& scene = GetParam();
    forEachStop(scene, [&](std::size_t index, const QString& name) {
        const std::string control = text(name);
        Stage stage;
        QPointer<QWidget> stop = focusStop(stage, scene, index, name);
        if (!stop)
            return;
        for (const ModelChange& change : modelChanges) {
            change.make(stage);
            // While another window has the keyboard, the window's own focus is where it returns.
            const QWidget* const holder = stage.walked->focusWidget();
            const bool isControl = holder && (holder == stop || nameOf(*holder) == name);
            const bool kept = holder && holder->window() == stage.walked
                && ((isControl && holder->isVisible()) || isNoControl(*holder));
            EXPECT_TRUE(kept) << "In " << scene.name << ", with the focus on " << control << ", "
                              << change.what << " moved it to " << describe(holder);
            // The replacement of a rebuilt control shows, as a control reached by Tab does.
            if (kept && isControl && holder->isVisible()) {
                EXPECT_EQ(shownPart(*holder), holder->rect())
                    << "In " << scene.name << ", " << change.what << " hid " << control;
            }
            // The person tabs back, so that each change is judged on its own.
            if (QWidget* again = againOrReplacement(stage, stop, name); !kept && again)
                Stage::focus(*again);
        }
    });
}

const Scene changedScenes[] = {
    {"Popover", showPopover},
    {"DisplaysPage",
        [](Stage& stage) {
            showMainWindowOn(stage, AppPage::displays, std::nullopt);
            stage.setWalked(*stage.main, &stage.displaysView());
        }},
    // The page scrolls to each control the person reaches.
    {"DisplaysPageInAShortWindow",
        [](Stage& stage) {
            showMainWindowOn(stage, AppPage::displays, std::nullopt);
            stage.main->resize(stage.main->width(), 0);
            layOut();
            stage.setWalked(*stage.main, &stage.displaysView());
        }},
};

INSTANTIATE_TEST_SUITE_P(
    DisplayControls, FocusWalkModelChangeTest, ::testing::ValuesIn(changedScenes), sceneName);

/// The scene's tab stops that `is` picks, by index and name, from a stage of their own.
std::vector<std::pair<std::size_t, QString>> stopsWhere(
    const Scene& scene, const std::function<bool(QWidget*)>& is)
{
    Stage stage;
    scene.arrange(stage);
    std::vector<std::pair<std::size_t, QString>> picked;
    const std::vector<QWidget*> stops = stage.stops();
    for (std::size_t index = 0; index < stops.size(); ++index) {
        if (is(stops[index]))
            picked.emplace_back(index, nameOf(*stops[index]));
    }
    return picked;
}

class FocusWalkDropDownTest : public ::testing::TestWithParam<Scene> { };

TEST_P(FocusWalkDropDownTest, ADropDownDisabledWithItsListOpenKeepsTheKeyboard)
{
    const Scene& scene = GetParam();
    const auto isDropDown = [](QWidget* stop) { return qobject_cast<QComboBox*>(stop) != nullptr; };
    for (const auto& [index, name] : stopsWhere(scene, isDropDown)) {
        SCOPED_TRACE(scene.name + ": " + text(name));
        Stage stage;
        const QPointer<QWidget> stop = focusStop(stage, scene, index, name);
        if (!stop)
            continue;
        static_cast<QComboBox&>(*stop).showPopup();
        QCoreApplication::processEvents();
        HeardFocus screenReader;
        stage.model.settingsError.set("The settings file is damaged.");
        stage.turn();
        const QWidget* const holder = stage.walked->focusWidget();
        EXPECT_TRUE(holder && (holder == stop || isNoControl(*holder)))
            << "In " << scene.name << ", the settings error moved the keyboard from " << text(name)
            << " to " << describe(holder);
        // A screen reader, where one listens, says what the keyboard is on.
        if (!screenReader.heard.empty()) {
            EXPECT_EQ(screenReader.heard.back().object, holder)
                << describe(qobject_cast<QWidget*>(screenReader.heard.back().object.data()));
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    EveryWindow, FocusWalkDropDownTest, ::testing::ValuesIn(walkedScenes), sceneName);

/// A button of a group that holds one choice.
QAbstractButton* choiceButton(QWidget* widget)
{
    auto* button = qobject_cast<QAbstractButton*>(widget);
    return button && button->isCheckable() && button->autoExclusive() ? button : nullptr;
}

/// The button chosen in the group of `button`.
const QAbstractButton* chosenBeside(const QAbstractButton& button)
{
    for (const QAbstractButton* other :
        button.parentWidget()->findChildren<QAbstractButton*>(Qt::FindDirectChildrenOnly)) {
        if (other->autoExclusive() && other->isChecked())
            return other;
    }
    return nullptr;
}

class FocusWalkChoiceTest : public ::testing::TestWithParam<Scene> { };

TEST_P(FocusWalkChoiceTest, AnArrowKeyInAGroupOfChoicesTakesTheFocusWithTheChoice)
{
    const Scene& scene = GetParam();
    const auto isChoice = [](QWidget* stop) { return choiceButton(stop) != nullptr; };
    for (const auto& [index, name] : stopsWhere(scene, isChoice)) {
        for (const Qt::Key key : {Qt::Key_Up, Qt::Key_Down, Qt::Key_Left, Qt::Key_Right}) {
            SCOPED_TRACE(scene.name + ": " + text(name) + ", arrow " + std::to_string(key));
            Stage stage;
            QWidget* const stop = focusStop(stage, scene, index, name);
            if (!stop)
                continue;
            const QAbstractButton* const chosen = chosenBeside(*choiceButton(stop));
            QTest::keyClick(stop, key);
            stage.turn();
            const QAbstractButton* const focused = choiceButton(QApplication::focusWidget());
            ASSERT_NE(focused, nullptr) << describe(QApplication::focusWidget());
            const QAbstractButton* const chosenNow = chosenBeside(*focused);
            if (chosenNow == chosen)
                continue;
            EXPECT_EQ(focused, chosenNow) << "the focus stayed behind the choice";
            // The next Space keeps what the person chose.
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Space);
            stage.turn();
            EXPECT_EQ(chosenBeside(*focused), chosenNow);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    EveryWindow, FocusWalkChoiceTest, ::testing::ValuesIn(walkedScenes), sceneName);

TEST(FocusWalkFieldTest, TabOutOfAFieldThatClosesOnTheBlurReachesTheNextControl)
{
    struct Field {
        std::string_view what;
        /// Opens the field with the keyboard in it.
        std::function<void(Stage&)> open;
    };
    const auto renameProfile = [](ProfileRenameTarget::Site site) {
        return [site](Stage& stage) {
            showMainWindowOn(stage, AppPage::profiles, std::nullopt);
            stage.main->content().beginProfileRename({site, workSample(stage.model).id});
            stage.turn();
        };
    };
    const Field fields[] = {
        {"display name",
            [](Stage& stage) {
                showMainWindowOn(stage, AppPage::displays, std::nullopt);
                auto& rename = *stage.displaysView()
                                    .controls()
                                    .cardOf(externalID)
                                    ->findChild<QWidget*>(QStringLiteral("rename"));
                Stage::focus(rename);
                stage.pressSpace(rename);
            }},
        {"profile name in the heading", renameProfile(ProfileRenameTarget::Site::heading)},
        {"profile name in the sidebar", renameProfile(ProfileRenameTarget::Site::sidebar)},
    };
    for (const Field& field : fields) {
        for (const bool forward : {true, false}) {
            SCOPED_TRACE(std::string(field.what) + (forward ? ", Tab" : ", Shift+Tab"));
            Stage stage;
            field.open(stage);
            QWidget* const typing = QApplication::focusWidget();
            ASSERT_NE(qobject_cast<QLineEdit*>(typing), nullptr) << describe(typing);
            QTest::keyClicks(typing, QStringLiteral("Desk"));
            const std::vector<QWidget*> stops = tabStops(*stage.main, *stage.main);
            const auto at = std::ranges::find(stops, typing);
            ASSERT_NE(at, stops.end());
            const std::size_t index = static_cast<std::size_t>(at - stops.begin());
            QWidget* const neighbour
                = stops[(index + (forward ? 1 : stops.size() - 1)) % stops.size()];
            const QString expected = nameOf(*neighbour);
            QTest::keyClick(typing, Qt::Key_Tab, forward ? Qt::NoModifier : Qt::ShiftModifier);
            stage.run();
            const QWidget* focused = QApplication::focusWidget();
            EXPECT_TRUE(focused && nameOf(*focused) == expected)
                << "on " << describe(focused) << ", not on " << text(expected);
        }
    }
}

class FocusWalkScrollTest : public ::testing::TestWithParam<Scene> { };

TEST_P(FocusWalkScrollTest, EveryControlTabReachesShows)
{
    Stage stage;
    GetParam().arrange(stage);
    ASSERT_TRUE(stage.walked);
    QWidget& window = *stage.walked;
    const std::size_t count = tabStops(window, window).size();
    Stage::focus(*stage.stops().front());
    // Twice round the window both ways, through every part of every scroll area.
    for (const Qt::KeyboardModifiers modifiers : {Qt::NoModifier, Qt::ShiftModifier}) {
        for (std::size_t step = 0; step < 2 * count; ++step) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab, modifiers);
            QCoreApplication::processEvents();
            const QWidget* focused = QApplication::focusWidget();
            ASSERT_NE(focused, nullptr);
            EXPECT_EQ(shownPart(*focused), focused->rect())
                << describe(focused) << " has the keyboard out of sight";
        }
    }
}

const Scene scrolledScenes[]
    = {walked("ProfilePage"), walked("SettingsPage"), walked("DefaultPage"), walked("RuleEditor")};

INSTANTIATE_TEST_SUITE_P(
    MainWindow, FocusWalkScrollTest, ::testing::ValuesIn(scrolledScenes), sceneName);

/// Every rule whose place lies in the table's visible rows has its row there, and no other row
/// shows in them.
void expectEveryRuleInViewHasItsRow(const RulesTable& table, const Profile& profile)
{
    const QRect shown = table.viewport()->rect();
    const int top = -table.verticalScrollBar()->value();
    for (std::size_t index = 0; index < profile.rules.size(); ++index) {
        const Rule& rule = profile.rules[index];
        const QRect place(0, top + static_cast<int>(index) * RulesTable::rowHeight,
            RulesTable::tableWidth, RulesTable::rowHeight);
        if (!place.intersects(shown))
            continue;
        const RuleRow* row = table.rowOf(rule.id);
        EXPECT_TRUE(row && row->isVisible() && row->geometry() == place)
            << rule.name << " has no row at its place in view";
    }
}

TEST(FocusWalkRuleMoveTest, ARuleMovedToEitherEndLeavesEveryRuleInViewInReach)
{
    struct Case {
        std::string_view what;
        std::size_t from;
        const char* button;
    };
    const Case cases[] = {{"the first rule down", 0, "down"}, {"the last rule up", 7, "up"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.what));
        Stage stage;
        showRules(stage, 8);
        RulesTable& table
            = static_cast<ProfilePage*>(stage.main->content().currentPage())->rulesTable();
        const UUID moved = workSample(stage.model).rules.at(c.from).id;
        table.scrollToRow(static_cast<int>(c.from));
        Stage::focus(*table.rowOf(moved)->findChild<QWidget*>(QString::fromLatin1(c.button)));
        for (int press = 1; press <= 7; ++press) {
            SCOPED_TRACE("press " + std::to_string(press));
            const HeardFocus screenReader;
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Space);
            stage.turn();
            expectEveryRuleInViewHasItsRow(table, workSample(stage.model));
            const QWidget* focused = QApplication::focusWidget();
            ASSERT_NE(focused, nullptr);
            // A screen reader, where one listens, hears of no control but the one the keys reach.
            EXPECT_EQ(screenReader.elsewhere(), std::vector<std::string>{});
            EXPECT_TRUE(table.rowOf(moved) && table.rowOf(moved)->isAncestorOf(focused))
                << describe(focused);
            EXPECT_EQ(shownPart(*focused), focused->rect())
                << describe(focused) << " is out of sight";
        }
        EXPECT_EQ(workSample(stage.model).rules.at(7 - c.from).id, moved);
        EXPECT_TRUE(isNoControl(*QApplication::focusWidget())) << "the button disabled itself";
    }
}

class TabOrderTest : public ::testing::TestWithParam<Scene> { };

TEST_P(TabOrderTest, TabFollowsTheLayoutFromTopToBottom)
{
    Stage stage;
    GetParam().arrange(stage);
    ASSERT_TRUE(stage.walked);
    const std::vector<QWidget*> stops = stage.stops();
    const auto area = [&](const QWidget* stop) {
        return QRect(stop->mapTo(stage.walked, QPoint()), stop->size());
    };
    // Up again only into the next column.
    for (std::size_t stop = 1; stop < stops.size(); ++stop) {
        const QRect next = area(stops[stop]);
        const QRect previous = area(stops[stop - 1]);
        EXPECT_TRUE(next.bottom() >= previous.top() || next.left() > previous.right()) << describe(
            stops[stop]) << " comes after " << describe(stops[stop - 1]) << ", which is below it";
    }
}

/// A new profile's page, shown without rules, then given its first: the rows come after the page.
void showFirstRule(Stage& stage)
{
    stage.showMainWindow();
    stage.model.createProfile("Reading");
    stage.demo.settle();
    const UUID profileID
        = std::ranges::find(stage.model.configuration->profiles, "Reading", &Profile::name)->id;
    stage.showPage(AppPage::profiles, profileID);
    ASSERT_TRUE(stage.model.saveRule(
        {.id = UUID::random(), .name = "Docs", .settings = {.brightness = 0.5}}, profileID, false));
    stage.demo.settle();
    stage.turn();
    layOut();
    stage.setWalked(*stage.main, stage.main->content().currentPage());
}

// Each window's own area: the main window's sidebar is a column of its own beside the pages.
const Scene orderedScenes[] = {walked("Popover"), changedScenes[1], walked("ProfilePage"),
    {"ProfilePageGivenItsFirstRule", showFirstRule}, walked("SettingsPage"), walked("DefaultPage"),
    walked("RuleEditor"), walked("RefreshRateTest"), walked("ChooseApplications")};

INSTANTIATE_TEST_SUITE_P(EveryWindow, TabOrderTest, ::testing::ValuesIn(orderedScenes), sceneName);

} // namespace
} // namespace quorvane
