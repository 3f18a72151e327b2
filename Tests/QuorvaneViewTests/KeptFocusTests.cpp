// A button that its own work disables or hides keeps the keyboard: a second Space changes nothing
// but what the first asked for, and once the work is over the focus is where the person left it.
#include "Quorvane/Views/Design/FocusKeeper.h"

#include "Quorvane/Views/Design/SwitchButton.h"
#include "Quorvane/Views/DisplayTest/DisplayTestPresentation.h"
#include "Quorvane/Views/DisplaysPage.h"
#include "Quorvane/Views/MainWindow/DisplaysView.h"
#include "Quorvane/Views/MainWindow/ProfilePage.h"
#include "Quorvane/Views/MainWindow/RuleRow.h"
#include "Quorvane/Views/MainWindow/RulesTable.h"
#include "Quorvane/Views/MainWindow/SettingValueEditor.h"
#include "Quorvane/Views/MenuView.h"
#include "QuorvaneTests/ModeTestSupport.h"
#include "QuorvaneViewTests/ChoiceTestSupport.h"
#include "QuorvaneViewTests/MainWindowTestSupport.h"

#include <QAbstractScrollArea>
#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPointer>
#include <QPushButton>
#include <QSignalSpy>
#include <QSlider>
#include <QTextEdit>
#include <QVBoxLayout>

#include <algorithm>
#include <functional>
#include <memory>
#include <optional>
#include <ostream>
#include <string_view>
#include <vector>

namespace quorvane {
namespace {

using namespace std::chrono_literals;

/// What a stray key press could change.
struct Outcome {
    Configuration configuration;
    std::map<ControlKey, ManualHold> holds;
    std::optional<DisplayPreview::Phase> phase;
    AppPage page;
    bool isRefreshing;
    bool isSaving;
    int windowRequests;
    int openWindows;
    bool operator==(const Outcome&) const = default;
};

void PrintTo(const Outcome& outcome, std::ostream* out)
{
    *out << "automation " << outcome.configuration.automationEnabled << ", profiles "
         << outcome.configuration.profiles.size() << ", holds " << outcome.holds.size() << ", test "
         << (outcome.phase ? static_cast<int>(*outcome.phase) : -1) << ", page "
         << static_cast<int>(outcome.page) << ", refreshing " << outcome.isRefreshing << ", saving "
         << outcome.isSaving << ", window requests " << outcome.windowRequests << ", windows open "
         << outcome.openWindows;
}

class KeptFocusTest : public MainWindowFixture {
protected:
    Outcome outcome() const
    {
        const std::optional<DisplayPreview>& preview = *model.preview;
        return {.configuration = *model.configuration,
            .holds = *model.holds,
            .phase = preview ? std::optional(preview->phase) : std::nullopt,
            .page = *model.page,
            .isRefreshing = *model.isRefreshing,
            .isSaving = *model.isSavingManualProfile,
            .windowRequests = windowRequests ? static_cast<int>(windowRequests->count()) : 0,
            .openWindows = static_cast<int>(
                std::ranges::count_if(QApplication::topLevelWidgets(), [](const QWidget* widget) {
                    // A drop-down's list opening on its own control changes nothing.
                    return widget->isVisible() && widget->windowType() != Qt::Popup;
                }))};
    }

    /// Space where the keyboard is, as the person presses it; then the views redraw.
    void pressSpace()
    {
        // A closed panel hands the keyboard back to the main window, as the desktop does.
        if (!QApplication::activeWindow()) {
            window.activateWindow();
            ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
        }
        QWidget* target = QApplication::focusWidget();
        if (!target)
            target = QApplication::activeWindow();
        ASSERT_NE(target, nullptr);
        QTest::keyClick(target, Qt::Key_Space);
        turn();
    }

    /// Gives `control` the keyboard, as the person does with a shortcut.
    static void focus(QWidget& control)
    {
        control.window()->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(control.window()));
        control.setFocus(Qt::ShortcutFocusReason);
        ASSERT_TRUE(control.hasFocus());
    }

    /// The popover's content in a window of its own, opened on first use.
    MenuView& popover()
    {
        if (!m_popover) {
            m_popover = std::make_unique<MenuView>(model);
            windowRequests
                = std::make_unique<QSignalSpy>(m_popover.get(), &MenuView::mainWindowRequested);
            m_popover->show();
        }
        return *m_popover;
    }
    template <typename Widget> Widget& inPopover(const char* name)
    {
        return *popover().findChild<Widget*>(QString::fromLatin1(name));
    }
    template <typename Widget> Widget& onPage(const char* name) const
    {
        return *content.currentPage()->findChild<Widget*>(QString::fromLatin1(name));
    }
    /// The Displays page's controls in the main window.
    DisplaysPage& displays() const
    {
        // The page's classes declare no signals: found by name, not by type.
        return static_cast<DisplaysView*>(
            window.findChild<QWidget*>(QStringLiteral("displaysView")))
            ->controls();
    }
    QPushButton& panelButton(const char* name) const
    {
        DisplayTestPanel* panel = DisplayTestPanelPresenter::of(model)->panel();
        EXPECT_NE(panel, nullptr);
        return *panel->findChild<QPushButton*>(QString::fromLatin1(name));
    }
    /// Picks 140 Hz for the external display on the Displays page with the keyboard; the panel
    /// comes up confirming.
    QComboBox& testRefreshRate()
    {
        show(AppPage::displays, workID);
        auto& rates = *content.currentPage()->findChild<QComboBox*>(QStringLiteral("refreshRate"));
        focus(rates);
        // Chosen from the open list: the arrows would test each rate on the way.
        emit rates.activated(rates.findText(QStringLiteral("140 Hz")));
        turn();
        demo.world.executor.advance(3s);
        turn();
        EXPECT_EQ(model.preview.get()->phase, DisplayPreview::Phase::confirming);
        return rates;
    }
    /// Opens the editor on the rule of "Work · sample" called `name`.
    void editRule(std::string_view name)
    {
        model.selectProfile(workID);
        turn();
        const RuleList& rules = profileNamed("Work · sample").rules;
        content.edit(*std::ranges::find(rules, name, &Rule::name));
        turn();
    }
    void holdBrightness()
    {
        model.manual(SettingValue::percent(0.8), externalBrightness, false);
        demo.settle();
        turn();
    }

    const ControlKey externalBrightness{
        .target = ControlTarget::display("demo-external"), .setting = SettingKey::brightness};
    std::unique_ptr<QSignalSpy> windowRequests;

private:
    std::unique_ptr<MenuView> m_popover;
};

/// Nothing that takes the keyboard with Tab, so nothing a key could press.
bool isNoControl(const QWidget* widget)
{
    return widget && !(widget->focusPolicy() & Qt::TabFocus);
}

TEST_F(KeptFocusTest, ASecondSpaceOnABusyButtonChangesNothingAndTheFocusComesBackAfterTheWork)
{
    struct Case {
        std::string_view button;
        /// Arranges the scene; the button, focused.
        std::function<QWidget&()> arrange;
        /// Lets the work end.
        std::function<void()> finish;
        /// Where the focus is once the work is over; null: on no control, the button being gone
        /// or disabled.
        std::function<QWidget*()> focusAfter;
    };
    QPointer<QWidget> button;
    QComboBox* rates = nullptr;
    const auto settle = [&] {
        demo.settle();
        turn();
    };
    const auto theButton = [&] { return button.data(); };
    const auto noControl = []() -> QWidget* { return nullptr; };
    const Case cases[] = {
        {"Resume of one control",
            [&]() -> QWidget& {
                show(AppPage::displays, workID);
                holdBrightness();
                QWidget* row = displays().rowOf(externalBrightness);
                EXPECT_NE(row, nullptr);
                return *row->findChild<QPushButton*>(QStringLiteral("resume"));
            },
            settle, noControl},
        {"Update active profile",
            [&]() -> QWidget& {
                holdBrightness();
                return inPopover<QPushButton>("updateProfile");
            },
            settle, noControl},
        {"Save of a new profile",
            [&]() -> QWidget& {
                holdBrightness();
                QTest::mouseClick(&inPopover<QPushButton>("saveNewProfile"), Qt::LeftButton);
                QTest::keyClicks(&inPopover<QLineEdit>("newProfileName"), QStringLiteral("Desk"));
                return inPopover<QPushButton>("saveName");
            },
            settle, noControl},
        {"Cancel of a new profile",
            [&]() -> QWidget& {
                holdBrightness();
                QTest::mouseClick(&inPopover<QPushButton>("saveNewProfile"), Qt::LeftButton);
                return inPopover<QPushButton>("cancelName");
            },
            settle, noControl},
        {"Keep",
            [&]() -> QWidget& {
                rates = &testRefreshRate();
                return panelButton("keep");
            },
            settle, [&] { return rates; }},
        {"Revert now",
            [&]() -> QWidget& {
                rates = &testRefreshRate();
                return panelButton("revert");
            },
            settle, [&] { return rates; }},
        {"HDR",
            [&]() -> QWidget& {
                show(AppPage::displays, workID);
                return *displays()
                            .cardOf("demo-external")
                            ->findChild<SwitchButton*>(QStringLiteral("hdr"));
            },
            [&] {
                QTest::keyClick(&panelButton("revert"), Qt::Key_Escape);
                settle();
            },
            theButton},
        {"Save rule",
            [&]() -> QWidget& {
                editRule("External screen");
                pick(*content.editor()
                          ->findChild<SettingValueEditor*>(QStringLiteral("refreshRate"))
                          ->findChild<QComboBox*>(QStringLiteral("choice")),
                    QStringLiteral("60 Hz"));
                return *content.editor()->findChild<QPushButton*>(QStringLiteral("saveRule"));
            },
            [&] {
                QTest::keyClick(&panelButton("revert"), Qt::Key_Escape);
                settle();
            },
            theButton},
        {"Save of the Default profile",
            [&]() -> QWidget& {
                show(AppPage::profiles, model.configuration->defaultProfileID);
                auto& brightness = *content.currentPage()->findChild<SettingValueEditor*>(
                    QStringLiteral("brightness"));
                QTest::mouseClick(
                    brightness.findChild<SwitchButton*>(QStringLiteral("set")), Qt::LeftButton);
                turn();
                return onPage<QPushButton>("save");
            },
            settle, noControl},
        // The name field takes the keyboard, and a second Space types no blank into it.
        {"Save as new profile…",
            [&]() -> QWidget& {
                holdBrightness();
                return inPopover<QPushButton>("saveNewProfile");
            },
            [&] { EXPECT_EQ(inPopover<QLineEdit>("newProfileName").text(), QString()); },
            [&] { return &inPopover<QLineEdit>("newProfileName"); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.button));
        button = &c.arrange();
        ASSERT_TRUE(button->isEnabled());
        focus(*button);
        const HeardFocus screenReader;
        pressSpace();
        const Outcome asked = outcome();
        pressSpace();
        EXPECT_EQ(outcome(), asked) << "the second Space acted elsewhere";
        std::string name(c.button);
        std::ranges::replace(name, ' ', '-');
        std::erase(name, ',');
        saveScreenshot(*QApplication::activeWindow(), "kept-focus-" + name);

        c.finish();
        QWidget* const expected = c.focusAfter();
        // The panel's buttons are gone with it, and the editor's with the editor: the focus is
        // looked for where it went back to.
        QWidget* const scope = expected ? expected : button ? button.data() : &window;
        QWidget* const focused = scope->window()->focusWidget();
        if (expected)
            EXPECT_EQ(focused, expected) << (focused ? focused->objectName().toStdString() : "");
        else
            EXPECT_TRUE(isNoControl(focused))
                << (focused ? focused->objectName().toStdString() : "none");
        EXPECT_EQ(screenReader.elsewhere(), std::vector<std::string>{})
            << "a screen reader heard of controls the keys never reached";
        model.resume(std::nullopt);
        content.setDraft(std::nullopt);
        settle();
    }
}

TEST_F(KeptFocusTest, AKeptHdrTestLeavesTheKeyboardOnTheSwitchOfTheRebuiltCard)
{
    const auto hdrSwitch = [](const DisplaysPage& page) {
        return page.cardOf("demo-external")->findChild<SwitchButton*>(QStringLiteral("hdr"));
    };
    struct Case {
        std::string_view where;
        std::function<DisplaysPage&()> page;
    };
    const Case cases[] = {
        {"popover", [&]() -> DisplaysPage& { return popover().displaysPage(); }},
        {"Displays page",
            [&]() -> DisplaysPage& {
                show(AppPage::displays, workID);
                return displays();
            }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.where));
        DisplaysPage& page = c.page();
        QWidget* const window = page.window();
        const QPointer<QWidget> before = hdrSwitch(page);
        focus(*before);
        pressSpace();
        demo.world.executor.advance(3s);
        turn();
        QTest::keyClick(&panelButton("keep"), Qt::Key_Return);
        demo.settle();
        turn();
        ASSERT_TRUE(model.configuration->automationEnabled);
        EXPECT_EQ(window->focusWidget(), hdrSwitch(page)) << "on the rebuilt card's switch";
        const Outcome kept = outcome();
        window->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(window));
        QTest::keyClick(window->focusWidget(), Qt::Key_Space);
        turn();
        EXPECT_TRUE(model.configuration->automationEnabled);
        EXPECT_EQ(outcome().windowRequests, kept.windowRequests);
        EXPECT_NE(model.preview.get(), std::nullopt) << "Space tests HDR again, and nothing else";
        model.resume(std::nullopt);
        if (model.preview.get())
            QTest::keyClick(&panelButton("revert"), Qt::Key_Escape);
        demo.settle();
        turn();
    }
}

TEST_F(KeptFocusTest, AControlARebuildLeftTwiceKeepsTheFocusWaitingForNeither)
{
    show(AppPage::settings, workID);
    auto& hold = onPage<QComboBox>("holdLength");
    focus(hold);
    // Rebuilt as two alike drop-downs: neither is surely the one the person left.
    QWidget* const card = hold.parentWidget();
    std::vector<QComboBox*> alike;
    for (int copy = 0; copy < 2; ++copy) {
        alike.push_back(new QComboBox(card));
        alike.back()->setObjectName(hold.objectName());
        card->layout()->addWidget(alike.back());
        alike.back()->show();
    }
    hold.hide();
    QCoreApplication::processEvents(); // the keeper looks for it once the rebuild is over
    QWidget* const focused = QApplication::focusWidget();
    EXPECT_TRUE(isNoControl(focused)) << (focused ? focused->objectName().toStdString() : "none");
}

TEST_F(KeptFocusTest, EachPressOfASwitchInOneTurnFlipsWhatTheModelHoldsThen)
{
    struct Case {
        std::string_view control;
        /// Shows the switch's page; the switch.
        std::function<QWidget&()> arrange;
        /// Whether the model holds the thing on.
        std::function<bool()> isOn;
    };
    const auto coding = [&] {
        return *std::ranges::find(profileNamed("Work · sample").rules, "Coding", &Rule::name);
    };
    const Case cases[] = {
        {"rule",
            [&]() -> QWidget& {
                show(AppPage::profiles, workID);
                return *static_cast<ProfilePage*>(content.currentPage())
                            ->rulesTable()
                            .rowOf(coding().id)
                            ->findChild<SwitchButton*>(QStringLiteral("enabled"));
            },
            [&] { return coding().isEnabled; }},
        {"Active",
            [&]() -> QWidget& {
                show(AppPage::profiles, workID);
                return onPage<SwitchButton>("active");
            },
            [&] {
                return model.configuration->automationEnabled
                    && model.configuration->activeProfileID == workID;
            }},
        {"Launch at login",
            [&]() -> QWidget& {
                show(AppPage::settings, workID);
                return onPage<SwitchButton>("launchAtLogin");
            },
            [&] { return *model.loginEnabled; }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.control));
        auto& control = static_cast<QAbstractButton&>(c.arrange());
        focus(control);
        const auto press = [&](int times) {
            for (int time = 0; time < times; ++time)
                QTest::keyClick(&control, Qt::Key_Space);
            demo.settle();
            turn();
        };
        const bool wasOn = c.isOn();
        const Outcome before = outcome();
        press(2);
        EXPECT_EQ(c.isOn(), wasOn);
        EXPECT_EQ(outcome(), before);
        press(3);
        EXPECT_EQ(c.isOn(), !wasOn);
        EXPECT_EQ(control.isChecked(), !wasOn);
    }
}

TEST(KeptFocusUnitTest, TheFocusWaitsForItsControlAndNeverForOneThePersonLeft)
{
    testApplication();
    // Qt looks at what a change did once the change is over.
    const auto settle = [] { QCoreApplication::processEvents(); };
    struct Case {
        std::string_view what;
        /// After `first` was disabled with the focus: what happens meanwhile, then the control
        /// expected to end with the focus.
        std::function<QWidget*(QWidget& first, QWidget& second)> meanwhile;
    };
    const Case cases[] = {
        {"given back",
            [](QWidget& first, QWidget&) {
                first.setEnabled(true);
                return &first;
            }},
        {"the person moved on",
            [&](QWidget& first, QWidget& second) {
                second.setFocus(Qt::MouseFocusReason);
                first.setEnabled(true);
                return &second;
            }},
        {"the person moved on, and that control went busy in turn",
            [&](QWidget& first, QWidget& second) {
                second.setFocus(Qt::MouseFocusReason);
                second.setEnabled(false);
                settle();
                first.setEnabled(true);
                settle();
                second.setEnabled(true);
                return &second;
            }},
        {"the control went away",
            [](QWidget& first, QWidget& second) {
                delete &first;
                second.setEnabled(true);
                return second.parentWidget();
            }},
        {"hidden, with another of its name shown in its place",
            [&](QWidget& first, QWidget&) {
                first.hide();
                auto* replacement = new QPushButton(QStringLiteral("First"), first.parentWidget());
                replacement->setObjectName(first.objectName());
                first.parentWidget()->layout()->addWidget(replacement);
                replacement->show();
                return replacement;
            }},
        {"gone with all around it",
            [](QWidget& first, QWidget&) {
                QWidget* const window = first.window();
                delete first.parentWidget();
                return window;
            }},
        {"hidden, then shown",
            [&](QWidget& first, QWidget&) {
                first.setEnabled(true);
                settle();
                first.hide();
                settle();
                EXPECT_EQ(QApplication::focusWidget(), first.parentWidget());
                first.show();
                return &first;
            }},
        {"rebuilt: its replacement of the same name, not another's in a card beside it",
            [&](QWidget& first, QWidget&) {
                auto* card = new QWidget(first.parentWidget());
                card->setObjectName(QStringLiteral("card"));
                (new QPushButton(QStringLiteral("First"), card))->setObjectName(first.objectName());
                first.parentWidget()->layout()->addWidget(card);
                auto* replacement = new QPushButton(QStringLiteral("First"), first.parentWidget());
                replacement->setObjectName(first.objectName());
                first.parentWidget()->layout()->addWidget(replacement);
                delete &first;
                return replacement;
            }},
        {"gone, with a control of its names in a window of its window",
            [&](QWidget& first, QWidget&) {
                QWidget* const box = first.parentWidget();
                auto* dialog = new QWidget(first.window(), Qt::Dialog);
                auto* alike = new QPushButton(QStringLiteral("First"), new QWidget(dialog));
                alike->setObjectName(first.objectName());
                delete &first;
                settle();
                EXPECT_NE(dialog->focusWidget(), alike);
                return box;
            }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.what));
        QWidget window;
        auto* box = new QWidget(&window);
        auto* first = new QPushButton(QStringLiteral("First"), box);
        first->setObjectName(QStringLiteral("first"));
        auto* second = new QPushButton(QStringLiteral("Second"), box);
        auto* layout = new QVBoxLayout(box);
        layout->addWidget(first);
        layout->addWidget(second);
        window.show();
        window.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
        first->setFocus(Qt::ShortcutFocusReason);
        first->setEnabled(false);
        settle();
        EXPECT_EQ(QApplication::focusWidget(), box) << "on what holds the button, no other";
        QWidget* const expected = c.meanwhile(*first, *second);
        settle();
        EXPECT_EQ(window.focusWidget(), expected);
    }
}

TEST(KeptFocusUnitTest, AControlShowsTheSameThingOnlyByItsNamesUpToItsOwnWindow)
{
    testApplication();
    const auto named = [](QWidget* widget, const char* name) {
        widget->setObjectName(QString::fromLatin1(name));
        return widget;
    };
    QWidget window;
    QWidget other;
    QWidget* const card = named(new QWidget(&window), "card");
    QWidget* const control = named(new QPushButton(card), "control");
    const FocusKeeper::ControlPath path(*control);
    struct Case {
        std::string_view what;
        QWidget* widget;
        bool isSame;
    };
    const Case cases[] = {
        {"itself", control, true},
        {"another of its names beside it", named(new QPushButton(card), "control"), true},
        {"its names in another window",
            named(new QPushButton(named(new QWidget(&other), "card")), "control"), false},
        {"its names a level deeper",
            named(new QPushButton(named(new QWidget(new QWidget(&window)), "card")), "control"),
            false},
        {"its card", card, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.what));
        EXPECT_EQ(path.isSame(*c.widget), c.isSame);
    }
    card->setObjectName(QStringLiteral("another card"));
    EXPECT_FALSE(path.isSame(*control)) << "a card named anew shows another thing";
    EXPECT_FALSE(FocusKeeper::ControlPath().isSame(window));
}

TEST(KeptFocusUnitTest, TabGoesOnFromWhereTheFocusWaitsAndNothingAroundItTakesKeys)
{
    testApplication();
    const auto settle = [] { QCoreApplication::processEvents(); };
    /// Counts the focus-ins a control gets.
    struct FocusIns final : QObject {
        int count = 0;
        bool eventFilter(QObject*, QEvent* event) override
        {
            count += event->type() == QEvent::FocusIn ? 1 : 0;
            return false;
        }
    };
    struct Scene {
        QWidget window;
        QWidget* box = new QWidget(&window);
        QPushButton* first = new QPushButton(QStringLiteral("First"), box);
        QPushButton* second = new QPushButton(QStringLiteral("Second"), box);
        QPushButton* third = new QPushButton(QStringLiteral("Third"), box);
        Scene()
        {
            auto* layout = new QVBoxLayout(box);
            for (QWidget* control : {first, second, third})
                layout->addWidget(control);
            window.show();
            window.activateWindow();
            EXPECT_TRUE(QTest::qWaitForWindowActive(&window));
            second->setFocus(Qt::ShortcutFocusReason);
        }
    };
    struct Case {
        std::string_view what;
        /// Takes the focus from `second`; then the key pressed, and the control expected after it.
        std::function<void(Scene&)> takeAway;
        Qt::Key key;
        Qt::KeyboardModifiers modifiers;
        std::function<QWidget*(Scene&)> expected;
    };
    const auto disable = [](Scene& scene) { scene.second->setEnabled(false); };
    const Case cases[] = {
        {"Tab", disable, Qt::Key_Tab, Qt::NoModifier, [](Scene& s) { return s.third; }},
        {"Shift+Tab", disable, Qt::Key_Tab, Qt::ShiftModifier, [](Scene& s) { return s.first; }},
        {"Backtab", disable, Qt::Key_Backtab, Qt::ShiftModifier, [](Scene& s) { return s.first; }},
        {"the control gone", [](Scene& scene) { delete scene.second; }, Qt::Key_Tab, Qt::NoModifier,
            [](Scene& s) { return s.first; }},
        {"the next one hidden too",
            [](Scene& scene) {
                scene.third->hide();
                scene.second->setEnabled(false);
            },
            Qt::Key_Tab, Qt::NoModifier, [](Scene& s) { return s.first; }},
        {"nothing else to go to",
            [](Scene& scene) {
                scene.first->hide();
                scene.third->hide();
                scene.second->setEnabled(false);
            },
            Qt::Key_Tab, Qt::NoModifier, [](Scene& s) { return s.box; }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.what));
        Scene scene;
        FocusIns third;
        scene.third->installEventFilter(&third);
        c.takeAway(scene);
        settle();
        EXPECT_EQ(QApplication::focusWidget(), scene.box);
        EXPECT_EQ(third.count, 0) << "the next control never had the focus, not even for a moment";
        QTest::keyClick(QApplication::focusWidget(), c.key, c.modifiers);
        settle();
        EXPECT_EQ(QApplication::focusWidget(), c.expected(scene));
    }

    // Hidden while another window is active: the focus its window gives back waits too.
    {
        Scene scene;
        QWidget other;
        other.show();
        other.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&other));
        scene.second->hide();
        EXPECT_EQ(scene.window.focusWidget(), scene.box);
    }

    // Never inside a control that takes keys: they would reach it from there.
    const std::function<QWidget*(QWidget&)> takingKeys[] = {
        [](QWidget& parent) -> QWidget* { return new QListWidget(&parent); },
        [](QWidget& parent) -> QWidget* { return new QTextEdit(&parent); },
    };
    for (const auto& make : takingKeys) {
        QWidget window;
        auto* box = new QWidget(&window);
        auto* around = qobject_cast<QAbstractScrollArea*>(make(*box));
        auto* inner = new QWidget(around->viewport());
        auto* field = new QLineEdit(inner);
        (new QVBoxLayout(box))->addWidget(around);
        window.show();
        window.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
        field->setFocus(Qt::MouseFocusReason);
        field->setEnabled(false);
        settle();
        EXPECT_EQ(QApplication::focusWidget(), box) << around->metaObject()->className();
    }
}

TEST(KeptFocusRecheckTest, ASecondSpaceWhileCheckingResumesNoHoldAndTheFocusComesBack)
{
    testApplication();
    mode_support::ModeWorld mac(true);
    AppModel& model = *mac.model;
    DisplaysView view(model);
    view.show();
    view.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&view));
    const ControlKey key
        = mode_support::modeKeyOf(mode_support::externalID, SettingKey::brightness);
    model.manual(SettingValue::percent(0.8), key, false);
    mac.settle();
    auto& recheck = *view.findChild<QPushButton*>(QStringLiteral("recheck"));
    recheck.setFocus(Qt::ShortcutFocusReason);
    const auto pressSpace = [&] {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Space);
        mac.executor.runUntilIdle();
    };
    pressSpace();
    ASSERT_TRUE(*model.isRefreshing);
    ASSERT_EQ(recheck.text(), QStringLiteral("Checking…"));
    pressSpace();
    EXPECT_TRUE(model.holds->contains(key)) << "the second Space resumed the holds";
    mac.settle();
    EXPECT_EQ(recheck.text(), QStringLiteral("Recheck"));
    EXPECT_TRUE(recheck.hasFocus());
    EXPECT_TRUE(model.holds->contains(key));
}

} // namespace
} // namespace quorvane
