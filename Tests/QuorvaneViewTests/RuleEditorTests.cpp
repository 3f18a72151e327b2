#include "Quorvane/Views/MainWindow/RuleEditor.h"

#include "Quorvane/Views/Design/ElidedLabel.h"
#include "Quorvane/Views/Design/Notice.h"
#include "Quorvane/Views/Design/SwitchButton.h"
#include "Quorvane/Views/DisplayTest/DisplayTestPresentation.h"
#include "Quorvane/Views/MainWindow/ProfilePage.h"
#include "Quorvane/Views/MainWindow/RuleAppSelection.h"
#include "Quorvane/Views/MainWindow/RuleRow.h"
#include "Quorvane/Views/MainWindow/RulesTable.h"
#include "Quorvane/Views/MainWindow/SettingValueEditor.h"
#include "QuorvaneViewTests/ChoiceTestSupport.h"
#include "QuorvaneViewTests/MainWindowTestSupport.h"

#include <QCheckBox>
#include <QComboBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QSignalSpy>
#include <QSlider>

#include <array>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quorvane {
namespace {

using namespace std::chrono_literals;

const ControlKey externalBrightness{
    .target = ControlTarget::display("demo-external"), .setting = SettingKey::brightness};

class RuleEditorTest : public MainWindowFixture {
protected:
    RuleEditorTest()
    {
        model.selectProfile(workID);
        turn();
    }

    Rule rule(std::string_view name) const
    {
        const RuleList& rules = profileNamed("Work · sample").rules;
        const auto found = std::ranges::find(rules, name, &Rule::name);
        EXPECT_NE(found, rules.end()) << name;
        return *found;
    }
    RuleEditor& open(std::string_view name)
    {
        content.edit(rule(name));
        turn();
        return editor();
    }
    RuleEditor& editor() const
    {
        EXPECT_NE(content.editor(), nullptr);
        return *static_cast<RuleEditor*>(content.editor());
    }
    template <typename Widget> Widget& part(const char* name) const
    {
        auto* found = editor().findChild<Widget*>(QString::fromLatin1(name));
        EXPECT_NE(found, nullptr) << name;
        return *found;
    }
    template <typename Widget> Widget& partOf(SettingKey key, const char* name) const
    {
        return *editor()
                    .findChild<SettingValueEditor*>(QString::fromUtf8(rawValue(key).data()))
                    ->findChild<Widget*>(QString::fromLatin1(name));
    }
    void clickApp(const QString& name)
    {
        auto& list = part<QListWidget>("appList");
        const QList<QListWidgetItem*> found = list.findItems(name, Qt::MatchExactly);
        ASSERT_EQ(found.size(), 1) << name.toStdString();
        QTest::mouseClick(
            list.viewport(), Qt::LeftButton, {}, list.visualItemRect(found.front()).center());
    }
    void click(QWidget& widget) { QTest::mouseClick(&widget, Qt::LeftButton); }
    /// Opens a new rule in the editor, as "Add rule" does.
    void addRule()
    {
        QTest::mouseClick(content.currentPage()->findChild<QPushButton*>(QStringLiteral("addRule")),
            Qt::LeftButton);
        turn();
    }
    /// A step the user takes, and what the line under Save then says the rule lacks.
    struct SaveStep {
        std::string_view what;
        std::function<void()> take;
        std::optional<QString> missing; // absent: Save is offered
    };
    /// Takes each step, then checks Save and the line under it.
    void expectSaveSteps(const std::vector<SaveStep>& steps)
    {
        auto& save = part<QPushButton>("saveRule");
        auto& missing = part<QLabel>("missing");
        for (const SaveStep& step : steps) {
            SCOPED_TRACE(std::string(step.what));
            step.take();
            turn();
            EXPECT_EQ(save.isEnabled(), !step.missing);
            EXPECT_EQ(missing.isVisible(), step.missing.has_value());
            EXPECT_EQ(missing.text(), step.missing.value_or(QString()));
        }
    }
    QPushButton& panelButton(const char* name) const
    {
        DisplayTestPanel* panel = DisplayTestPanelPresenter::of(model)->panel();
        EXPECT_NE(panel, nullptr);
        return *panel->findChild<QPushButton*>(QString::fromLatin1(name));
    }
};

TEST_F(RuleEditorTest, SavesEveryEditedFieldAndCloses)
{
    open("Coding");
    auto& name = part<QLineEdit>("name");
    name.selectAll();
    QTest::keyClicks(&name, QStringLiteral("Evening code"));
    clickApp(QStringLiteral("Safari"));
    pick(part<QComboBox>("screen"), QStringLiteral("External screen 1"));
    pick(part<QComboBox>("space"), QStringLiteral("Space 3"));
    QTest::keyClick(&partOf<QSlider>(SettingKey::brightness, "slider"), Qt::Key_PageDown);
    click(partOf<SwitchButton>(SettingKey::contrast, "set"));
    QTest::keyClick(&partOf<QSlider>(SettingKey::contrast, "slider"), Qt::Key_End);
    click(partOf<SwitchButton>(SettingKey::temperature, "set"));
    auto& temperature = partOf<QLabel>(SettingKey::temperature, "value");
    EXPECT_EQ(temperature.text(), QStringLiteral("6500 K"));
    QTest::keyClick(&partOf<QSlider>(SettingKey::temperature, "slider"), Qt::Key_PageUp);
    EXPECT_EQ(temperature.text(), QStringLiteral("7000 K"));
    QTest::keyClick(&partOf<QSlider>(SettingKey::temperature, "slider"), Qt::Key_Right);
    EXPECT_EQ(temperature.text(), QStringLiteral("7100 K"));
    click(partOf<QCheckBox>(SettingKey::temperature, "neutral"));
    EXPECT_FALSE(partOf<QWidget>(SettingKey::brightness, "note").isVisible());
    EXPECT_EQ(part<QLabel>("title").text(), QStringLiteral("Evening code"));
    EXPECT_EQ(partOf<QLabel>(SettingKey::contrast, "value").text(), QStringLiteral("100%"));
    saveScreenshot(window, "rule-editor");

    click(part<QPushButton>("saveRule"));
    turn();
    const Rule saved = profileNamed("Work · sample").rules.at(1);
    EXPECT_EQ(saved.name, "Evening code");
    EXPECT_EQ(saved.conditions.apps,
        (std::vector<ApplicationReference>{
            {"com.apple.dt.Xcode", "Xcode"}, {"com.apple.Safari", "Safari"}}));
    EXPECT_EQ(saved.conditions.screen, (DisplayReference{"demo-external", "External screen 1"}));
    ASSERT_TRUE(saved.conditions.space);
    EXPECT_EQ(saved.conditions.space->id, "demo-space-3");
    EXPECT_EQ(saved.settings,
        (RuleSettings{.brightness = 0.6, .temperature = Temperature::neutral(), .contrast = 1.0}));
    EXPECT_EQ(*model.selectedRuleID, saved.id);
    EXPECT_EQ(content.editor(), nullptr);
    EXPECT_FALSE(content.draft());
}

TEST_F(RuleEditorTest, TheKeyboardGoesToTheNameAndBackToTheRulesRowAsTheEditorCloses)
{
    const auto switchOf = [&](const UUID& ruleID) -> QWidget* {
        RuleRow* row = static_cast<ProfilePage*>(content.currentPage())->rulesTable().rowOf(ruleID);
        return row ? row->findChild<QWidget*>(QStringLiteral("enabled")) : nullptr;
    };
    const auto press = [&](QWidget& control, Qt::Key key) {
        control.setFocus(Qt::ShortcutFocusReason);
        QTest::keyClick(&control, key);
        turn();
    };
    const auto addRule = [&] {
        press(
            *content.currentPage()->findChild<QWidget*>(QStringLiteral("addRule")), Qt::Key_Space);
    };
    // The first, second… entry of the rule's menu, opened by Shift+F10 on its switch.
    const auto fromMenu = [&](int entry) {
        return [&, entry] {
            switchOf(rule("Coding").id)->setFocus(Qt::ShortcutFocusReason);
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_F10, Qt::ShiftModifier);
            auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
            ASSERT_NE(menu, nullptr);
            menu->setActiveAction(menu->actions().at(entry));
            QTest::keyClick(menu, Qt::Key_Return);
            turn();
        };
    };
    const auto cancel = [&] { press(part<QPushButton>("cancel"), Qt::Key_Space); };
    const auto escape = [&] { press(part<QLineEdit>("name"), Qt::Key_Escape); };
    const auto save = [&] {
        if (editor().draft().isNew) {
            QTest::keyClicks(&part<QLineEdit>("name"), QStringLiteral("Late"));
            click(partOf<SwitchButton>(SettingKey::brightness, "set"));
        }
        press(part<QPushButton>("saveRule"), Qt::Key_Space);
    };
    // The rules table long enough to scroll, and scrolled to its end once the editor is open:
    // the row that opened it shows another rule.
    const auto table = [&]() -> RulesTable& {
        return static_cast<ProfilePage*>(content.currentPage())->rulesTable();
    };
    const auto scrolledAway = [&](std::function<void()> open) {
        return [&, open] {
            model.configuration.modify([&](Configuration& document) {
                RuleList& rules
                    = document.profiles
                          .edit(std::ranges::find(document.profiles, workID, &Profile::id))
                          .rules;
                while (rules.size() < 30)
                    rules.push_back({.id = UUID::random(),
                        .name = "Rule " + std::to_string(rules.size()),
                        .settings = {.brightness = 0.5}});
            });
            turn();
            table().verticalScrollBar()->setValue(0);
            turn();
            open();
            table().verticalScrollBar()->setValue(table().verticalScrollBar()->maximum());
            turn();
            ASSERT_EQ(switchOf(rule("Coding").id), nullptr);
        };
    };
    struct Case {
        std::string_view what;
        std::function<void()> open;
        std::function<void()> close;
        /// Where the keyboard goes back to; none: to no control.
        std::function<QWidget*()> back;
    };
    const auto addRuleButton
        = [&] { return content.currentPage()->findChild<QWidget*>(QStringLiteral("addRule")); };
    const auto codingSwitch = [&] { return switchOf(rule("Coding").id); };
    const Case cases[] = {
        {"Add rule, Cancel", addRule, cancel, addRuleButton},
        {"Add rule, Escape", addRule, escape, addRuleButton},
        {"Add rule, Save rule", addRule, save,
            [&] { return switchOf(profileNamed("Work · sample").rules.back().id); }},
        {"Edit rule, Escape", fromMenu(0), escape, codingSwitch},
        {"Edit rule, Save rule", fromMenu(0), save, codingSwitch},
        {"Duplicate rule, Cancel", fromMenu(1), cancel, codingSwitch},
        {"Edit rule, its row scrolled away, Escape", scrolledAway(fromMenu(0)), escape,
            codingSwitch},
        // The row that opened the editor shows another rule: a Space there would act on it.
        {"Duplicate rule, its row scrolled away, Cancel", scrolledAway(fromMenu(1)), cancel, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.what));
        c.open();
        ASSERT_NE(content.editor(), nullptr);
        EXPECT_EQ(QApplication::focusWidget(), &part<QLineEdit>("name"));
        const HeardFocus screenReader;
        c.close();
        EXPECT_EQ(content.editor(), nullptr);
        QWidget* const focused = QApplication::focusWidget();
        ASSERT_NE(focused, nullptr);
        if (!c.back) {
            EXPECT_FALSE(focused->focusPolicy() & Qt::TabFocus)
                << focused->accessibleName().toStdString();
            continue;
        }
        QWidget* const back = c.back();
        ASSERT_NE(back, nullptr);
        EXPECT_EQ(focused, back) << focused->accessibleName().toStdString();
        // Straight there: a screen reader hears of no place where keys do nothing on the way.
        for (const HeardFocus::Heard& heard : screenReader.heard) {
            // The editor's buttons are gone with it.
            if (const auto* widget = qobject_cast<const QWidget*>(heard.object.data())) {
                EXPECT_TRUE(widget->focusPolicy() & Qt::TabFocus)
                    << widget->metaObject()->className();
            }
        }
        // A rule's row is in sight.
        QWidget* const rows = table().viewport();
        if (rows->isAncestorOf(back)) {
            EXPECT_TRUE(rows->rect().contains(back->mapTo(rows, back->rect().center())));
        }
    }
}

TEST_F(RuleEditorTest, TabEntersTheAppsChoiceAtTheChosenOneFromEitherSide)
{
    struct Case {
        std::string_view rule;
        const char* chosen;
    };
    for (const Case& c : {Case{"Coding", "selectedApps"}, Case{"External screen", "allApps"}}) {
        SCOPED_TRACE(std::string(c.rule));
        const char* const chosen = c.chosen;
        open(c.rule);
        // In: from the name, and back from what follows the choice.
        part<QLineEdit>("name").setFocus(Qt::ShortcutFocusReason);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        EXPECT_EQ(QApplication::focusWidget(), &part<QRadioButton>(chosen));
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        EXPECT_EQ(qobject_cast<QRadioButton*>(QApplication::focusWidget()), nullptr)
            << "on out of the group";
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab, Qt::ShiftModifier);
        EXPECT_EQ(QApplication::focusWidget(), &part<QRadioButton>(chosen));
        const bool selectsApps = editor().draft().selectsApps;
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Space);
        EXPECT_EQ(editor().draft().selectsApps, selectsApps) << "Space keeps the choice";
        content.setDraft(std::nullopt);
        turn();
    }
}

TEST_F(RuleEditorTest, UntickingNeutralStartsAt6500KAndThenGivesBackTheLastKelvinSet)
{
    Rule neutral = rule("Browsing");
    neutral.settings.temperature = Temperature::neutral();
    content.edit(neutral);
    turn();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
    auto& value = partOf<QLabel>(SettingKey::temperature, "value");
    auto& box = partOf<QCheckBox>(SettingKey::temperature, "neutral");
    ASSERT_EQ(value.text(), QStringLiteral("Neutral"));
    // On its box: with the slider hidden, the check box stretches across the row.
    const auto tick = [&] { QTest::mouseClick(&box, Qt::LeftButton, {}, {8, box.height() / 2}); };
    tick();
    EXPECT_EQ(value.text(), QStringLiteral("6500 K"));
    EXPECT_EQ(editor().draft().rule.settings.temperature, Temperature::kelvin(6500));
    QTest::keyClick(&partOf<QSlider>(SettingKey::temperature, "slider"), Qt::Key_Left);
    tick();
    EXPECT_EQ(value.text(), QStringLiteral("Neutral"));
    tick();
    EXPECT_EQ(editor().draft().rule.settings.temperature, Temperature::kelvin(6400));
}

TEST_F(RuleEditorTest, ANewRuleNeedsANameAndIsAddedLast)
{
    QTest::mouseClick(
        content.currentPage()->findChild<QPushButton*>(QStringLiteral("addRule")), Qt::LeftButton);
    turn();
    EXPECT_EQ(part<QLabel>("eyebrow").text(), QStringLiteral("NEW RULE"));
    EXPECT_EQ(part<QLabel>("title").text(), QStringLiteral("New rule"));
    for (const auto& [field, name] : {std::pair{"name", "Name"},
             std::pair{"searchApps", "Search apps"}, std::pair{"appList", "Apps"}})
        EXPECT_EQ(spokenName(part<QWidget>(field)), QString::fromUtf8(name));
    EXPECT_TRUE(part<QRadioButton>("allApps").isChecked());
    EXPECT_FALSE(part<QWidget>("appList").isVisible());
    auto& save = part<QPushButton>("saveRule");
    EXPECT_FALSE(save.isEnabled());
    QTest::keyClicks(&part<QLineEdit>("name"), QStringLiteral("   "));
    EXPECT_FALSE(save.isEnabled());
    QTest::keyClicks(&part<QLineEdit>("name"), QStringLiteral("Late"));
    EXPECT_FALSE(save.isEnabled()); // it sets nothing yet
    click(partOf<SwitchButton>(SettingKey::brightness, "set"));
    EXPECT_TRUE(save.isEnabled());
    EXPECT_FALSE(model.liveRuleEdit.get()); // a rule never saved is not previewed
    saveScreenshot(window, "rule-editor-new");
    click(save);
    turn();
    const Rule added = profileNamed("Work · sample").rules.back();
    EXPECT_EQ(added.name, "   Late");
    EXPECT_EQ(added.settings, (RuleSettings{.brightness = 0.5}));
    EXPECT_EQ(content.editor(), nullptr);
}

TEST_F(RuleEditorTest, SaveWaitsForWhatEveryRuleNeedsAndSaysWhatIsMissing)
{
    addRule();
    auto& save = part<QPushButton>("saveRule");
    auto& name = part<QLineEdit>("name");
    auto& brightness = partOf<SwitchButton>(SettingKey::brightness, "set");
    expectSaveSteps({
        {"a new rule", [] {}, QStringLiteral("Name the rule and choose at least one setting.")},
        {"named", [&] { QTest::keyClicks(&name, QStringLiteral("Late")); },
            QStringLiteral("Choose at least one setting.")},
        {"a setting chosen", [&] { click(brightness); }, std::nullopt},
        {"the name erased",
            [&] {
                name.selectAll();
                QTest::keyClick(&name, Qt::Key_Backspace);
            },
            QStringLiteral("Name the rule.")},
        {"named again", [&] { QTest::keyClicks(&name, QStringLiteral("Late")); }, std::nullopt},
        {"the setting taken away", [&] { click(brightness); },
            QStringLiteral("Choose at least one setting.")},
    });
    saveScreenshot(window, "rule-editor-missing-setting");
    click(save); // disabled: nothing is saved and no message comes
    turn();
    EXPECT_FALSE(model.actionError->has_value());
    EXPECT_NE(content.editor(), nullptr);
}

TEST_F(RuleEditorTest, ARuleForSelectedAppsWaitsForAnAppWhateverElseItLacks)
{
    addRule();
    auto& name = part<QLineEdit>("name");
    const QString noApp = QStringLiteral("Choose at least one app.");
    expectSaveSteps({
        {"selected apps, unnamed and unset", [&] { click(part<QRadioButton>("selectedApps")); },
            noApp},
        {"an app picked", [&] { clickApp(QStringLiteral("Safari")); },
            QStringLiteral("Name the rule and choose at least one setting.")},
        {"the app unpicked", [&] { clickApp(QStringLiteral("Safari")); }, noApp},
        {"named", [&] { QTest::keyClicks(&name, QStringLiteral("Browsing")); }, noApp},
        {"a setting chosen", [&] { click(partOf<SwitchButton>(SettingKey::brightness, "set")); },
            noApp},
        {"all apps", [&] { click(part<QRadioButton>("allApps")); }, std::nullopt},
        {"selected apps again, still none", [&] { click(part<QRadioButton>("selectedApps")); },
            noApp},
    });
    EXPECT_EQ(part<QLabel>("appCount").text(), QStringLiteral("No apps selected"));
    saveScreenshot(window, "rule-editor-selected-apps-without-app");
    auto& save = part<QPushButton>("saveRule");
    const std::size_t ruleCount = profileNamed("Work · sample").rules.size();
    click(save); // disabled: no rule for every app is saved
    turn();
    EXPECT_EQ(profileNamed("Work · sample").rules.size(), ruleCount);
    EXPECT_NE(content.editor(), nullptr);

    click(part<QRadioButton>("allApps"));
    click(save);
    turn();
    const Rule added = profileNamed("Work · sample").rules.back();
    EXPECT_EQ(added.name, "Browsing");
    EXPECT_TRUE(added.conditions.apps.empty());
    EXPECT_EQ(content.editor(), nullptr);
}

TEST_F(RuleEditorTest, CancelAndSaveStayInPlaceWhileTheReasonLineComesAndGoes)
{
    QTest::mouseClick(
        content.currentPage()->findChild<QPushButton*>(QStringLiteral("addRule")), Qt::LeftButton);
    turn();
    auto& name = part<QLineEdit>("name");
    auto& brightness = partOf<SwitchButton>(SettingKey::brightness, "set");
    auto& missing = part<QLabel>("missing");
    // Where the buttons stand in the editor, once the layouts have caught up: left, top, width
    // and height of each.
    const auto places = [&] {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
        std::vector<std::array<int, 4>> shown;
        for (const char* button : {"cancel", "saveRule"}) {
            const auto& widget = part<QPushButton>(button);
            const QPoint at = widget.mapTo(&editor(), QPoint(0, 0));
            shown.push_back({at.x(), at.y(), widget.width(), widget.height()});
        }
        return shown;
    };
    const auto start = places();
    // Whether anything is drawn under the buttons, where the line stands.
    const auto showsTextBelow = [&] {
        const int top = start.back()[1] + start.back()[3];
        const QImage below
            = picture(editor()).copy(0, top, editor().width(), editor().height() - top);
        return ink(below) != below.pixelColor(0, 0);
    };
    ASSERT_TRUE(missing.isVisible());
    saveScreenshot(window, "rule-editor-with-reason-line");
    struct Step {
        std::string_view what;
        std::function<void()> take;
        bool showsReason;
    };
    const Step steps[] = {
        {"named", [&] { QTest::keyClicks(&name, QStringLiteral("Late")); }, true},
        {"a setting chosen", [&] { click(brightness); }, false},
        {"the name erased",
            [&] {
                name.selectAll();
                QTest::keyClick(&name, Qt::Key_Backspace);
            },
            true},
        {"named again", [&] { QTest::keyClicks(&name, QStringLiteral("Late")); }, false},
        {"the setting taken away", [&] { click(brightness); }, true},
        {"the setting chosen again", [&] { click(brightness); }, false},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(std::string(step.what));
        step.take();
        turn();
        ASSERT_EQ(missing.isVisible(), step.showsReason);
        EXPECT_EQ(places(), start);
        EXPECT_EQ(showsTextBelow(), step.showsReason);
    }
    saveScreenshot(window, "rule-editor-without-reason-line");
}

TEST_F(RuleEditorTest, SaveRuleIsOfferedOnlyWhileTheModelTakesASave)
{
    open("Coding");
    auto& save = part<QPushButton>("saveRule");
    struct Case {
        std::string_view state;
        std::function<void()> enter;
        std::function<void()> leave;
    };
    const Case cases[] = {
        {"a display test runs", [&] { model.preview.set(DisplayPreview{.id = UUID::random()}); },
            [&] { model.preview.set(std::nullopt); }},
        {"a settings error stands", [&] { model.settingsError.set("The file is damaged."); },
            [&] { model.settingsError.set(std::nullopt); }},
        {"the settings are not loaded", [&] { model.isLoaded.set(false); },
            [&] { model.isLoaded.set(true); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.state));
        EXPECT_TRUE(save.isEnabled());
        c.enter();
        turn();
        EXPECT_FALSE(save.isEnabled());
        c.leave();
        turn();
    }
    EXPECT_TRUE(save.isEnabled());
}

TEST_F(RuleEditorTest, AppsComeFromTheListAndThePanelAndAllAppsKeepsThePicks)
{
    demo.world.applicationCatalog.addApplication(
        "/Users/user/Tools/Notes.app", "com.example.notes", "Notes");
    // A rule that names applications opens with them picked, whatever the draft says.
    content.setDraft(draftOf(profileNamed("Work · sample"), 1));
    turn();
    ASSERT_FALSE(content.draft()->selectsApps);
    EXPECT_TRUE(part<QRadioButton>("selectedApps").isChecked());
    auto& panel = demo.world.openPanel;
    panel.answer
        = {.response = ModalResponse::cancel, .selection = {"/Users/user/Tools/Notes.app"}};
    click(part<QPushButton>("chooseApps"));
    EXPECT_EQ(editor().draft().rule.conditions.apps.size(), 1U);
    panel.answer.response = ModalResponse::ok;
    click(part<QPushButton>("chooseApps"));
    EXPECT_EQ(editor().draft().rule.conditions.apps.back(),
        (ApplicationReference{"com.example.notes", "Notes"}));
    ASSERT_EQ(panel.requests.size(), 2U);
    EXPECT_EQ(panel.requests.back().title, "Choose applications");
    turn();
    EXPECT_EQ(part<QLabel>("appCount").text(), QStringLiteral("2 selected"));
    auto& list = part<QListWidget>("appList");
    EXPECT_EQ(list.findItems(QStringLiteral("Notes"), Qt::MatchExactly).front()->checkState(),
        Qt::Checked);

    QTest::keyClicks(&part<QLineEdit>("searchApps"), QStringLiteral("APPLE"));
    EXPECT_FALSE(list.findItems(QStringLiteral("Xcode"), Qt::MatchExactly).front()->isHidden());
    EXPECT_TRUE(list.findItems(QStringLiteral("Notes"), Qt::MatchExactly).front()->isHidden());
    EXPECT_FALSE(list.findItems(QStringLiteral("Safari"), Qt::MatchExactly).front()->isHidden());
    clickApp(QStringLiteral("Xcode")); // both found by their bundle identifiers
    EXPECT_EQ(editor().draft().rule.conditions.apps,
        (std::vector<ApplicationReference>{{"com.example.notes", "Notes"}}));

    click(part<QRadioButton>("allApps"));
    EXPECT_TRUE(editor().draft().rule.conditions.apps.empty());
    EXPECT_FALSE(list.isVisible());
    click(part<QRadioButton>("selectedApps"));
    EXPECT_EQ(editor().draft().rule.conditions.apps.size(), 1U);
}

TEST_F(RuleEditorTest, SpaceTicksTheCurrentAppOnceHoweverLongItIsHeld)
{
    addRule();
    click(part<QRadioButton>("selectedApps"));
    turn();
    auto& list = part<QListWidget>("appList");
    list.setFocus(Qt::ShortcutFocusReason);
    QTest::keyClick(&list, Qt::Key_Home);
    ASSERT_NE(list.currentItem(), nullptr);
    const auto picked = [&] {
        std::vector<std::string> names;
        for (const ApplicationReference& app : editor().draft().rule.conditions.apps)
            names.push_back(app.name);
        return names;
    };
    const auto press = [&](Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
        QTest::keyClick(&list, key, modifiers);
        turn();
    };
    const std::string first = list.item(0)->text().toStdString();
    const std::string second = list.item(1)->text().toStdString();
    press(Qt::Key_Space);
    EXPECT_EQ(picked(), std::vector<std::string>{first});
    EXPECT_EQ(list.item(0)->checkState(), Qt::Checked);
    QKeyEvent repeat(QEvent::KeyPress, Qt::Key_Space, Qt::NoModifier, QStringLiteral(" "), true);
    QApplication::sendEvent(&list, &repeat);
    EXPECT_EQ(picked(), std::vector<std::string>{first}) << "held down: once";
    press(Qt::Key_Down);
    press(Qt::Key_Space);
    EXPECT_EQ(picked(), (std::vector<std::string>{first, second}));
    press(Qt::Key_Space, Qt::ControlModifier); // a chord is not a tick
    EXPECT_EQ(picked(), (std::vector<std::string>{first, second}));
    press(Qt::Key_Space);
    press(Qt::Key_Up);
    press(Qt::Key_Space);
    EXPECT_TRUE(picked().empty());
    EXPECT_EQ(part<QLabel>("missing").text(), QStringLiteral("Choose at least one app."));

    // A search that hides the current app moves it to the first app shown, where the ring is;
    // with none shown, no key ticks an app unseen.
    press(Qt::Key_Down);
    const QString top = list.item(0)->text();
    ASSERT_EQ(list.findItems(top, Qt::MatchContains).size(), 1);
    auto& search = part<QLineEdit>("searchApps");
    QTest::keyClicks(&search, top);
    ASSERT_EQ(list.currentItem(), list.item(0));
    press(Qt::Key_Return);
    EXPECT_EQ(picked(), std::vector<std::string>{top.toStdString()});
    search.clear();
    QTest::keyClicks(&search, QStringLiteral("no such app"));
    EXPECT_EQ(list.currentItem(), nullptr);
    for (const Qt::Key key : {Qt::Key_Space, Qt::Key_Return, Qt::Key_Enter})
        press(key);
    EXPECT_EQ(picked(), std::vector<std::string>{top.toStdString()});
}

TEST_F(RuleEditorTest, ModeChoicesAndTheBrightnessNoteFollowTheScreensTheRuleActsOn)
{
    model.saveDisplayPreferences(
        {.automaticBrightness = true}, model.configuration->defaultProfileID);
    demo.world.executor.advance(1s); // macOS now manages the built-in display's brightness
    open("Coding");
    auto& refresh = partOf<QComboBox>(SettingKey::refreshRate, "choice");
    auto& hdr = partOf<QComboBox>(SettingKey::hdr, "choice");
    struct Case {
        QString screen;
        QStringList refreshRates;
        QStringList hdrChoices;
        QString hdrReason;
        bool showsBrightnessNote;
    };
    const Case cases[] = {
        {QStringLiteral("All screens"), {"Default", "60 Hz", "140 Hz", "Adaptive / ProMotion"},
            {"Default", "On", "Off"}, QStringLiteral("Simulated device"), false},
        {QStringLiteral("MacBook display"), {"Default", "60 Hz", "140 Hz", "Adaptive / ProMotion"},
            {"Default"}, QStringLiteral("HDR managed by macOS"), true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.screen.toStdString());
        pick(part<QComboBox>("screen"), c.screen);
        EXPECT_EQ(itemTexts(refresh), c.refreshRates);
        EXPECT_EQ(itemTexts(hdr), c.hdrChoices);
        EXPECT_EQ(hdr.isEnabled(), c.hdrChoices.size() > 1);
        EXPECT_EQ(partOf<QLabel>(SettingKey::hdr, "reason").text(), c.hdrReason);
        EXPECT_TRUE(partOf<QLabel>(SettingKey::hdr, "reason").isVisible());
        EXPECT_EQ(
            !partOf<Notice>(SettingKey::brightness, "note").isHidden(), c.showsBrightnessNote);
    }
    // A value the screens no longer offer stays, so that opening the rule changes nothing.
    Rule odd = rule("External screen");
    odd.settings.refreshRate = RefreshPreference::fixed(75'000);
    model.configuration.modify(
        [&](Configuration& document) { document.profiles.edit(1).rules.edit(2) = odd; });
    open("External screen");
    EXPECT_EQ(itemTexts(partOf<QComboBox>(SettingKey::refreshRate, "choice")),
        (QStringList{"Default", "60 Hz", "140 Hz", "Adaptive / ProMotion", "75 Hz"}));
    EXPECT_EQ(partOf<QComboBox>(SettingKey::refreshRate, "choice").currentText(),
        QStringLiteral("75 Hz"));
    EXPECT_EQ(editor().draft().rule, odd);
}

TEST_F(RuleEditorTest, AllScreensAndAllSpacesCanBeChosenAgainAndEachEntryIsListedOnce)
{
    open("Coding");
    auto& screen = part<QComboBox>("screen");
    auto& space = part<QComboBox>("space");
    pick(screen, QStringLiteral("External screen 1"));
    pick(space, QStringLiteral("Space 3"));
    pick(screen, QStringLiteral("All screens"));
    pick(space, QStringLiteral("All Spaces"));
    EXPECT_FALSE(editor().draft().rule.conditions.screen);
    EXPECT_FALSE(editor().draft().rule.conditions.space);

    model.displays.set({model.displays->front()}); // the screens are listed anew
    turn();
    for (QComboBox* box : {&screen, &space}) {
        QStringList texts = itemTexts(*box);
        EXPECT_EQ(texts.removeDuplicates(), 0) << itemTexts(*box).join(", ").toStdString();
    }
}

TEST_F(RuleEditorTest, TheSpaceListOffersTheSpacesOfTheChosenScreen)
{
    // A shared Space, and one that no display owns, can be active on every screen.
    model.spacesByDisplay.modify([](std::map<std::string, SpaceSnapshot>& spaces) {
        std::vector<Desktop>& desktops = spaces.at("demo-external").desktops;
        desktops.push_back(
            {.id = "shared", .name = "Space 5", .displayID = "demo-external", .isShared = true});
        desktops.push_back({.id = "ownerless", .name = "Space 6"});
        // Each screen has a Space 1 of its own: where both are listed, each names its screen.
        desktops.push_back({.id = "external-1", .name = "Space 1", .displayID = "demo-external"});
    });
    open("Coding");
    auto& space = part<QComboBox>("space");
    struct Case {
        QString screen;
        QStringList spaces;
    };
    const Case cases[] = {
        {"MacBook display", {"All Spaces", "Space 1", "Space 5", "Space 6"}},
        {"External screen 1", {"All Spaces", "Space 3", "Space 5", "Space 6", "Space 1"}},
        {"All screens",
            {"All Spaces", "Space 1 (MacBook display)", "Space 3", "Space 5", "Space 6",
                "Space 1 (External screen 1)"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.screen.toStdString());
        pick(part<QComboBox>("screen"), c.screen);
        EXPECT_EQ(itemTexts(space), c.spaces);
    }
    QSignalSpy refills(space.model(), &QAbstractItemModel::rowsRemoved);
    model.spacesByDisplay.modify([](std::map<std::string, SpaceSnapshot>&) {});
    turn();
    EXPECT_EQ(refills.count(), 0) << "nothing new to list";
    model.renameDisplay("demo-external", "Desk");
    turn();
    EXPECT_EQ(itemTexts(space).back(), QStringLiteral("Space 1 (Desk)"));
}

TEST_F(RuleEditorTest, ASpaceOfAnotherScreenStaysAsItIsWithALineThatSaysSo)
{
    open("Deep focus");
    auto& screen = part<QComboBox>("screen");
    auto& space = part<QComboBox>("space");
    auto* const line = editor().findChild<QLabel*>(QStringLiteral("spaceElsewhere"));
    ASSERT_NE(line, nullptr) << "a line under the Space";
    QLabel& elsewhere = *line;
    struct Step {
        std::string_view what;
        std::function<void()> take;
        QStringList spaces;
        QString shown;
        bool isElsewhere;
    };
    const Step steps[] = {
        {"opened on its own screen", [] {}, {"All Spaces", "Space 3"}, "Space 3", false},
        {"another screen chosen", [&] { pick(screen, QStringLiteral("MacBook display")); },
            {"All Spaces", "Space 1", "Space 3"}, "Space 3", true},
        {"all screens", [&] { pick(screen, QStringLiteral("All screens")); },
            {"All Spaces", "Space 1", "Space 3"}, "Space 3", false},
        {"that screen's own Space",
            [&] {
                pick(screen, QStringLiteral("MacBook display"));
                pick(space, QStringLiteral("Space 1"));
            },
            {"All Spaces", "Space 1"}, "Space 1", false},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(std::string(step.what));
        step.take();
        turn();
        EXPECT_EQ(itemTexts(space), step.spaces);
        EXPECT_EQ(space.currentText(), step.shown);
        EXPECT_EQ(elsewhere.isVisible(), step.isElsewhere);
        if (step.isElsewhere)
            saveScreenshot(window, "rule-editor-space-of-another-screen");
    }
    EXPECT_EQ(elsewhere.text(), QStringLiteral("The selected Space belongs to another screen."));

    // A draft that names such a Space says so as it opens, and keeps it.
    Rule foreign = rule("Deep focus");
    foreign.conditions.screen = DisplayReference{"demo-builtin", "MacBook display"};
    click(part<QPushButton>("cancel"));
    turn();
    content.edit(foreign);
    turn();
    EXPECT_EQ(part<QComboBox>("space").currentText(), QStringLiteral("Space 3"));
    EXPECT_TRUE(part<QLabel>("spaceElsewhere").isVisible());
    EXPECT_EQ(editor().draft().rule.conditions, foreign.conditions);
}

TEST_F(RuleEditorTest, RefreshRatesAreThoseAtTheResolutionOfTheRulesOwnProfile)
{
    const DisplayResolution unoffered{
        .width = 800, .height = 600, .pixelWidth = 800, .pixelHeight = 600};
    model.configuration.modify([&](Configuration& document) {
        document.profiles.edit(2).displayPreferences = ProfileDisplayPreferences{
            .resolutions = std::map<std::string, DisplayResolution>{
                {"demo-builtin", unoffered}, {"demo-external", unoffered}}};
    });
    ASSERT_EQ(*model.selectedProfileID, workID);
    const Profile evening = profileNamed("Evening · sample");
    RuleEditor shown(model, draftOf(evening, 0), [] {});
    auto& refresh = *shown.findChild<SettingValueEditor*>(QStringLiteral("refreshRate"));
    EXPECT_EQ(itemTexts(*refresh.findChild<QComboBox*>(QStringLiteral("choice"))),
        QStringList{"Default"});
    EXPECT_EQ(refresh.findChild<QLabel*>(QStringLiteral("reason"))->text(),
        QStringLiteral("No refresh rates available. Connect an adjustable screen or choose "
                       "another resolution."));
}

TEST_F(RuleEditorTest, AnEditorGoingAwayEndsOnlyItsOwnPreview)
{
    const Profile work = profileNamed("Work · sample");
    struct Case {
        std::string_view previewed;
        bool endsPreview;
    };
    const Case cases[] = {{"Coding", true}, {"Browsing", false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.previewed));
        auto shown = std::make_unique<RuleEditor>(model, draftOf(work, 1), [] {});
        model.previewRuleSettings({.profileID = work.id, .rule = rule(c.previewed)});
        ASSERT_TRUE(model.liveRuleEdit.get());
        shown.reset();
        EXPECT_EQ(model.liveRuleEdit.get().has_value(), !c.endsPreview);
        model.endRuleEditing(false);
    }
}

TEST_F(RuleEditorTest, ARefusedSaveShowsTheModelsMessageAndKeepsTheDraft)
{
    open("Coding");
    // Chosen first: with the screen chosen, the list offers only that screen's Spaces.
    pick(part<QComboBox>("space"), QStringLiteral("Space 3"));
    pick(part<QComboBox>("screen"), QStringLiteral("MacBook display"));
    QTest::keyClick(&partOf<QSlider>(SettingKey::brightness, "slider"), Qt::Key_Home);
    const RuleDraft entered = editor().draft();
    click(part<QPushButton>("saveRule"));
    turn();
    EXPECT_EQ(*model.actionError, "The selected Space belongs to another screen.");
    ASSERT_NE(content.errorAlert(), nullptr);
    EXPECT_EQ(content.errorAlert()->informativeText(),
        QStringLiteral("The selected Space belongs to another screen."));
    EXPECT_EQ(rule("Coding").conditions.screen, std::nullopt);
    EXPECT_EQ(editor().draft(), entered);
    EXPECT_EQ(partOf<QLabel>(SettingKey::brightness, "value").text(), QStringLiteral("0%"));
}

TEST_F(RuleEditorTest, AModelRefreshKeepsWhatTheUserEntered)
{
    open("Coding");
    auto& name = part<QLineEdit>("name");
    name.selectAll();
    QTest::keyClicks(&name, QStringLiteral("Typed"));
    demo.world.applicationCatalog.addApplication(
        "/Users/user/Tools/Notes.app", "com.example.notes", "Notes");
    demo.world.openPanel.answer
        = {.response = ModalResponse::ok, .selection = {"/Users/user/Tools/Notes.app"}};
    click(part<QPushButton>("chooseApps"));
    QTest::keyClick(&partOf<QSlider>(SettingKey::brightness, "slider"), Qt::Key_PageUp);
    const RuleDraft entered = editor().draft();

    model.refreshApps(); // Notes lies outside the scanned folders: the model forgets it
    model.configuration.modify([](Configuration& document) {
        Rule& changed = document.profiles.edit(1).rules.edit(1);
        changed.name = "Renamed elsewhere";
        changed.settings.brightness = 0.2;
    });
    model.displays.set({model.displays->front()});
    turn();
    EXPECT_EQ(editor().draft(), entered);
    EXPECT_EQ(name.text(), QStringLiteral("Typed"));
    EXPECT_EQ(partOf<QLabel>(SettingKey::brightness, "value").text(), QStringLiteral("80%"));
    EXPECT_EQ(partOf<QSlider>(SettingKey::brightness, "slider").value(), 80);
    auto& list = part<QListWidget>("appList");
    ASSERT_EQ(list.findItems(QStringLiteral("Notes"), Qt::MatchExactly).size(), 1);
    EXPECT_EQ(list.findItems(QStringLiteral("Notes"), Qt::MatchExactly).front()->checkState(),
        Qt::Checked);
}

TEST_F(RuleEditorTest, TheLivePreviewStartsWithAChangeAndEndsWithTheEditor)
{
    struct Case {
        std::string_view ending;
        std::function<void()> end;
    };
    const Case cases[] = {
        {"cancel", [&] { click(part<QPushButton>("cancel")); }},
        {"another rule", [&] { open("Browsing"); }},
        {"another page", [&] { model.page.set(AppPage::displays); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.ending));
        model.page.set(AppPage::profiles);
        demo.settle();
        ASSERT_EQ(model.observed->at(externalBrightness), SettingValue::percent(0.6));
        open("Deep focus");
        EXPECT_FALSE(model.liveRuleEdit.get());
        QTest::keyClick(&partOf<QSlider>(SettingKey::brightness, "slider"), Qt::Key_PageDown);
        ASSERT_TRUE(model.liveRuleEdit.get());
        EXPECT_EQ(model.liveRuleEdit.get()->settings.brightness, 0.5);
        demo.settle();
        EXPECT_EQ(model.observed->at(externalBrightness), SettingValue::percent(0.5));

        c.end();
        turn();
        EXPECT_FALSE(model.liveRuleEdit.get());
        demo.settle();
        EXPECT_EQ(model.observed->at(externalBrightness), SettingValue::percent(0.6));
        EXPECT_EQ(model.controlStatus->at(externalBrightness), "Previous setting restored");
        EXPECT_EQ(rule("Deep focus").settings.brightness, 0.6);
    }
}

// FIXME: enable once the save path runs the display tests of changed modes; until then it saves
// at once.
TEST_F(RuleEditorTest, ANewRefreshRateIsSavedOnlyOnceItsTestIsKept)
{
    struct Case {
        std::string_view ending;
        std::function<void()> end;
        bool isSaved;
    };
    const Case cases[] = {
        {"revert", [&] { click(panelButton("revert")); }, false},
        {"no answer within 15 seconds", [&] { demo.world.executor.advance(15s); }, false},
        {"keep", [&] { click(panelButton("keep")); }, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.ending));
        if (!content.editor())
            open("External screen");
        pick(partOf<QComboBox>(SettingKey::refreshRate, "choice"), QStringLiteral("60 Hz"));
        click(part<QPushButton>("saveRule"));
        turn();
        ASSERT_TRUE(model.preview.get());
        EXPECT_FALSE(part<QPushButton>("saveRule").isEnabled());
        demo.world.executor.advance(14s);
        EXPECT_EQ(rule("External screen").settings.refreshRate, RefreshPreference::fixed(140'000));

        c.end();
        demo.settle();
        turn();
        EXPECT_FALSE(model.preview.get());
        EXPECT_EQ(rule("External screen").settings.refreshRate,
            RefreshPreference::fixed(c.isSaved ? 60'000 : 140'000));
        EXPECT_EQ(content.editor() == nullptr, c.isSaved);
        if (!c.isSaved) {
            EXPECT_EQ(editor().draft().rule.settings.refreshRate, RefreshPreference::fixed(60'000));
            EXPECT_TRUE(part<QPushButton>("saveRule").isEnabled());
        }
    }
}

TEST_F(RuleEditorTest, TheTitleWrapsANameOfAFewWordsAndEndsOnlyOneTooLongForTwoLines)
{
    struct Case {
        std::string name;
        bool isElided;
    };
    const Case cases[] = {
        {"Writer on built-in", false},
        {"Writer on the built-in display while the external one sleeps through the night", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        model.configuration.modify([&](Configuration& document) {
            document.profiles.edit(1).rules.edit(1).name = c.name;
        });
        turn();
        open(c.name);
        layOut();
        auto& title = *dynamic_cast<ElidedLabel*>(&part<QLabel>("title"));
        EXPECT_EQ(title.isElided(), c.isElided);
        EXPECT_EQ(title.toolTip(), c.isElided ? QString::fromStdString(c.name) : QString());
        const int lines
            = title.fontMetrics().horizontalAdvance(title.text()) > title.width() ? 2 : 1;
        // Each line whole, and no more than two.
        EXPECT_EQ(title.height(), lines * title.fontMetrics().lineSpacing());
        saveScreenshot(window, "rule-editor-title-" + std::string(c.isElided ? "elided" : "whole"));
        content.setDraft(std::nullopt);
    }
}

} // namespace
} // namespace quorvane
