#include "Quorvane/Views/Design/EveryDesktop.h"
#include "Quorvane/Views/DisplayTest/DisplayTestPanel.h"

#include "Quorvane/Views/DisplayTest/DisplayTestActions.h"
#include "Quorvane/Views/DisplayTest/DisplayTestPresentation.h"
#include "Quorvane/Views/DisplayTest/ModePreviewView.h"
#include "Quorvane/Views/MenuBarExtra.h"
#include "Quorvane/Views/QtOpenPanel.h"
#include "QuorvaneViewTests/ViewTestSupport.h"
#include "SimulatedMac/SimulatedApplicationCatalog.h"

#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <QVBoxLayout>
#include <QWindow>

#include <string>
#include <vector>

namespace quorvane {
namespace {

using namespace std::chrono_literals;
using Phase = DisplayPreview::Phase;

/// Records what the panel asked for; a revert may end the test as the model would.
class RecordingActions final : public DisplayTestActions {
public:
    RecordingActions(std::vector<std::string>& log, AppModel* endsTestOnRevert = nullptr)
        : m_log(log)
        , m_model(endsTestOnRevert)
    {
    }
    void keep() override { m_log.emplace_back("keep"); }
    void revert() override
    {
        m_log.emplace_back("revert");
        if (m_model)
            m_model->preview.set(std::nullopt);
    }

private:
    std::vector<std::string>& m_log;
    AppModel* m_model;
};

class DisplayTestPanelTest : public ::testing::Test {
protected:
    DisplayTestPanelTest()
    {
        presenter->setActions(std::make_unique<RecordingActions>(log, &model));
    }
    ~DisplayTestPanelTest() override
    {
        model.preview.set(std::nullopt);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    DisplayPreview preview(Phase phase) const
    {
        return {.id = UUID::random(),
            .displayID = "external",
            .name = "Studio Display",
            .requested = {.refreshRate = RefreshPreference::fixed(120'000),
                .hdr = true,
                .resolution = DisplayResolution{2560, 1440, 5120, 2880}},
            .phase = phase,
            .deadline = model.executor().wallNow() + 15s,
            .confirmationTitle = "Keep these settings"};
    }
    void start(Phase phase) { model.preview.set(preview(phase)); }
    void enter(Phase phase)
    {
        model.preview.modify(
            [phase](std::optional<DisplayPreview>& running) { running->phase = phase; });
    }

    DisplayTestPanel& panel() const
    {
        DisplayTestPanel* panel = presenter->panel();
        EXPECT_NE(panel, nullptr);
        return *panel;
    }
    QLabel& label(const char* name) const
    {
        return *panel().findChild<QLabel*>(QString::fromLatin1(name));
    }
    QPushButton& button(const char* name) const
    {
        return *panel().findChild<QPushButton*>(QString::fromLatin1(name));
    }
    std::string countdown() const { return label("countdown").text().toStdString(); }
    void advance(std::chrono::nanoseconds duration) { demo.world.executor.advance(duration); }

    DemoWorld demo;
    AppModel& model = *demo.model;
    std::vector<std::string> log;
    std::shared_ptr<DisplayTestPanelPresenter> presenter = DisplayTestPanelPresenter::of(model);
};

TEST_F(DisplayTestPanelTest, CountsDownOnTheExecutorsClockAndStopsAtZero)
{
    start(Phase::applying);
    enter(Phase::confirming); // the deadline is already set: 15 s from now
    for (int shown = 15; shown > 0; --shown) {
        SCOPED_TRACE(shown);
        EXPECT_EQ(countdown(), "Reverting automatically in " + std::to_string(shown) + " seconds");
        advance(999ms);
        EXPECT_EQ(countdown(), "Reverting automatically in " + std::to_string(shown) + " seconds");
        advance(1ms);
    }
    EXPECT_EQ(countdown(), "Reverting automatically in 0 seconds");
    advance(10s);
    EXPECT_EQ(countdown(), "Reverting automatically in 0 seconds");
    EXPECT_TRUE(log.empty()); // expiry is the model's to act on
}

TEST_F(DisplayTestPanelTest, CountdownRoundsUpAndNeverGoesNegative)
{
    struct Case {
        std::optional<std::chrono::milliseconds> left;
        std::string_view shown;
    };
    const Case cases[] = {
        {2200ms, "3"},
        {1ms, "1"},
        {0ms, "0"},
        {-3s, "0"},
        {std::nullopt, "15"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.shown));
        DisplayPreview running = preview(Phase::confirming);
        running.deadline.reset();
        if (c.left)
            running.deadline = model.executor().wallNow() + *c.left;
        model.preview.set(running);
        EXPECT_EQ(countdown(), "Reverting automatically in " + std::string(c.shown) + " seconds");
    }
}

TEST_F(DisplayTestPanelTest, TheCountdownsWordsKeepTheirPlaceAsTheSecondsChange)
{
    start(Phase::confirming);
    QLabel& countdown = label("countdown");
    const int shownWidth = countdown.sizeHint().width();
    for (int second = 14; second >= 10; --second) {
        SCOPED_TRACE(second);
        advance(1s);
        ASSERT_EQ(countdown.text().toStdString(),
            "Reverting automatically in " + std::to_string(second) + " seconds");
        EXPECT_EQ(countdown.sizeHint().width(), shownWidth);
    }
    saveScreenshot(panel(), "display-test-countdown");
}

TEST_F(DisplayTestPanelTest, EachPhaseShowsItsTextAndButtons)
{
    struct Case {
        Phase phase;
        bool confirms;
        bool cancels;
        std::string_view text;
    };
    const Case cases[] = {
        {Phase::applying, false, true, "Applying preview…"},
        {Phase::confirming, true, false, ""},
        {Phase::verifying, false, true, "Checking the display before keeping…"},
        {Phase::reverting, false, false, "Restoring previous configuration…"},
    };
    start(Phase::applying);
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.text));
        enter(c.phase);
        EXPECT_EQ(label("countdown").isVisibleTo(&panel()), c.confirms);
        EXPECT_EQ(button("keep").isVisibleTo(&panel()), c.confirms);
        EXPECT_EQ(button("revert").isVisibleTo(&panel()), c.confirms);
        EXPECT_EQ(button("cancel").isVisibleTo(&panel()), c.cancels);
        EXPECT_EQ(label("phase").isVisibleTo(&panel()), !c.confirms);
        if (!c.confirms) {
            EXPECT_EQ(label("phase").text().toStdString(), c.text);
        }
        saveScreenshot(panel(), "display-test-" + std::to_string(static_cast<int>(c.phase)));
    }
    EXPECT_EQ(button("keep").text(), QStringLiteral("Keep these settings"));
}

TEST_F(DisplayTestPanelTest, ShowsOnlyTheRequestedPartsAndTheRightSubtitle)
{
    DisplayPreview running = preview(Phase::confirming);
    model.preview.set(running);
    EXPECT_EQ(label("title").text(), QStringLiteral("Studio Display"));
    EXPECT_EQ(label("resolution").text(), QStringLiteral("2560 × 1440 · HiDPI"));
    EXPECT_EQ(label("refreshRate").text(), QStringLiteral("Refresh rate: 120 Hz"));
    EXPECT_EQ(label("hdr").text(), QStringLiteral("HDR: On"));
    EXPECT_TRUE(
        label("subtitle").text().endsWith(QStringLiteral("before keeping these settings.")));
    EXPECT_FALSE(label("restoreNote").isVisibleTo(&panel()));

    running.requested = {.refreshRate = RefreshPreference::fixed(60'000)};
    running.completion = [](bool) {};
    running.restoreAfterKeep = true;
    model.preview.set(running);
    EXPECT_FALSE(label("resolution").isVisibleTo(&panel()));
    EXPECT_TRUE(label("refreshRate").isVisibleTo(&panel()));
    EXPECT_FALSE(label("hdr").isVisibleTo(&panel()));
    EXPECT_TRUE(label("subtitle").text().endsWith(QStringLiteral("Revert cancels saving.")));
    EXPECT_TRUE(label("restoreNote").isVisibleTo(&panel()));
    saveScreenshot(panel(), "display-test-saving");

    // The tests the model starts on its own wait for their answer but save nothing.
    for (const char* title : {"Keep profile resolution", "Restore previous settings"}) {
        running.confirmationTitle = title;
        model.preview.set(running);
        EXPECT_TRUE(
            label("subtitle").text().endsWith(QStringLiteral("before keeping these settings.")))
            << title;
    }
}

TEST_F(DisplayTestPanelTest, ButtonsKeepAndRevert)
{
    start(Phase::confirming);
    QTest::mouseClick(&button("keep"), Qt::LeftButton);
    EXPECT_EQ(log, (std::vector<std::string>{"keep"}));
    enter(Phase::applying);
    QTest::mouseClick(&button("cancel"), Qt::LeftButton); // ends the test: the panel goes
    EXPECT_EQ(log, (std::vector<std::string>{"keep", "revert"}));
    EXPECT_EQ(presenter->panel(), nullptr);
    start(Phase::confirming);
    QTest::mouseClick(&button("revert"), Qt::LeftButton);
    EXPECT_EQ(log, (std::vector<std::string>{"keep", "revert", "revert"}));
}

TEST_F(DisplayTestPanelTest, OpensCentredPerTestRefitsWithinOneAndClosesWithIt)
{
    start(Phase::applying);
    QPointer<DisplayTestPanel> first = presenter->panel();
    ASSERT_TRUE(first);
    EXPECT_TRUE(first->isVisible());
    EXPECT_EQ(first->windowTitle(), QStringLiteral("Display test"));
    EXPECT_TRUE(first->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    EXPECT_EQ(first->windowFlags() & Qt::WindowType_Mask, Qt::Tool);
    EXPECT_FALSE(first->windowFlags().testFlag(Qt::WindowCloseButtonHint));
    // Only a real window system has desktops to follow the user to.
    EXPECT_EQ(isAskedOntoEveryDesktop(*first), QGuiApplication::platformName() == "xcb");
    QWidget ordinary;
    ordinary.show();
    EXPECT_FALSE(isAskedOntoEveryDesktop(ordinary)) << "only the panel asks for every desktop";

    first->move(7, 9); // the user moves it; a phase change keeps it there and re-fits its size
    const int applyingHeight = first->height();
    enter(Phase::confirming);
    EXPECT_EQ(presenter->panel(), first.data());
    EXPECT_EQ(first->pos(), QPoint(7, 9));
    EXPECT_NE(first->height(), applyingHeight);
    EXPECT_EQ(first->width(), 510);

    start(Phase::confirming); // a new test is centred again
    EXPECT_EQ(presenter->panel(), first.data());
    EXPECT_NE(first->pos(), QPoint(7, 9));

    model.preview.set(std::nullopt);
    EXPECT_EQ(presenter->panel(), nullptr);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_FALSE(first);
    start(Phase::applying);
    ASSERT_NE(presenter->panel(), nullptr);
    EXPECT_TRUE(presenter->panel()->isVisible());
}

TEST_F(DisplayTestPanelTest, ADisplayThatDisappearsKeepsItsNameUntilTheTestEnds)
{
    start(Phase::confirming);
    model.displays.set({});
    enter(Phase::reverting);
    EXPECT_EQ(label("title").text(), QStringLiteral("Studio Display"));
    model.preview.set(std::nullopt);
    EXPECT_EQ(presenter->panel(), nullptr);
}

TEST_F(DisplayTestPanelTest, TheTitleNumbersTheDisplayWhereAnotherHasItsName)
{
    model.renameDisplay("demo-builtin", "Studio Monitor");
    model.renameDisplay("demo-external", "Studio Monitor");
    DisplayPreview tested = preview(Phase::confirming);
    tested.displayID = "demo-external";
    tested.name = "Studio Monitor";
    model.preview.set(tested);
    EXPECT_EQ(label("title").text(), QStringLiteral("Studio Monitor 2"));
}

TEST_F(DisplayTestPanelTest, KeysAnswerByPhaseAndIgnoreRepeatsAndChords)
{
    struct Case {
        Phase phase;
        Qt::Key key;
        Qt::KeyboardModifiers modifiers;
        bool isRepeat;
        bool consumed;
        std::vector<std::string> calls;
    };
    const Case cases[] = {
        {Phase::confirming, Qt::Key_Return, Qt::NoModifier, false, true, {"keep"}},
        {Phase::confirming, Qt::Key_Enter, Qt::KeypadModifier, false, true, {"keep"}},
        {Phase::confirming, Qt::Key_Return, Qt::NoModifier, true, true, {}},
        {Phase::applying, Qt::Key_Return, Qt::NoModifier, false, true, {}},
        {Phase::verifying, Qt::Key_Enter, Qt::KeypadModifier, false, true, {}},
        {Phase::confirming, Qt::Key_Escape, Qt::NoModifier, false, true, {"revert"}},
        {Phase::verifying, Qt::Key_Escape, Qt::NoModifier, false, true, {"revert"}},
        {Phase::confirming, Qt::Key_Escape, Qt::NoModifier, true, true, {}},
        {Phase::reverting, Qt::Key_Escape, Qt::NoModifier, false, true, {}},
        {Phase::confirming, Qt::Key_Return, Qt::ControlModifier, false, false, {}},
        {Phase::confirming, Qt::Key_Return, Qt::MetaModifier, false, false, {}},
        {Phase::confirming, Qt::Key_Escape, Qt::ShiftModifier, false, false, {}},
        {Phase::confirming, Qt::Key_Escape, Qt::AltModifier, false, false, {}},
        {Phase::confirming, Qt::Key_Space, Qt::NoModifier, false, false, {}},
    };
    std::vector<std::string> calls;
    RecordingActions actions(calls);
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "phase " << static_cast<int>(c.phase) << " key " << c.key
                                        << " repeat " << c.isRepeat);
        calls.clear();
        const QKeyEvent event(QEvent::KeyPress, c.key, c.modifiers, QString(), c.isRepeat);
        EXPECT_EQ(answerTestKey(event, preview(c.phase), actions), c.consumed);
        EXPECT_EQ(calls, c.calls);
    }
}

TEST_F(DisplayTestPanelTest, ThePanelAnswersKeysWhileItHasTheKeyboard)
{
    start(Phase::confirming);
    QTest::keyClick(&panel(), Qt::Key_Return);
    QKeyEvent repeat(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier, QString(), true);
    QApplication::sendEvent(&panel(), &repeat);
    EXPECT_EQ(log, (std::vector<std::string>{"keep"}));
    QTest::keyClick(&panel(), Qt::Key_Escape); // ends the test from inside the panel's own key
    EXPECT_EQ(log, (std::vector<std::string>{"keep", "revert"}));
    EXPECT_EQ(presenter->panel(), nullptr);
}

void sendKey(QWidget& receiver, Qt::Key key)
{
    QKeyEvent event(QEvent::KeyPress, key, Qt::NoModifier);
    QApplication::sendEvent(&receiver, &event);
}

/// The popover with a text field that has the keyboard.
struct Popover {
    Popover()
    {
        window.setWindowTitle(QStringLiteral("Quorvane"));
        (new QVBoxLayout(&window))->addWidget(field);
        window.show();
        window.activateWindow();
        field->setFocus();
    }
    QWidget window;
    QLineEdit* field = new QLineEdit(&window);
};

TEST_F(DisplayTestPanelTest, OverTheOpenPopoverThePanelLeavesItTheKeyboardAndAnswersItsKeys)
{
    Popover popover;
    presenter->setMenuWindow(&popover.window);
    ASSERT_TRUE(QTest::qWaitForWindowActive(&popover.window));
    start(Phase::confirming);
    EXPECT_TRUE(panel().isVisible());
    EXPECT_FALSE(panel().canBecomeKey());
    EXPECT_TRUE(panel().testAttribute(Qt::WA_ShowWithoutActivating));
    EXPECT_TRUE(popover.window.isActiveWindow());

    // Return held down in the popover's field: one keep, the repeats swallowed.
    QTest::keyClick(popover.field, Qt::Key_Return);
    QKeyEvent repeat(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier, QString(), true);
    QApplication::sendEvent(popover.field, &repeat);
    EXPECT_EQ(log, (std::vector<std::string>{"keep"}));
    // Other keys and chords still reach the field.
    QTest::keyClicks(popover.field, QStringLiteral("ab"));
    QTest::keyClick(popover.field, Qt::Key_Return, Qt::ControlModifier);
    EXPECT_EQ(popover.field->text(), QStringLiteral("ab"));
    EXPECT_EQ(log, (std::vector<std::string>{"keep"}));

    // Keys typed into another window, or while the panel is hidden, pass untouched.
    QLineEdit elsewhere;
    elsewhere.show();
    sendKey(elsewhere, Qt::Key_Escape);
    panel().hide();
    sendKey(*popover.field, Qt::Key_Escape);
    QTest::keyClick(popover.field, Qt::Key_C);
    EXPECT_EQ(popover.field->text(), QStringLiteral("abc"));
    panel().show();
    EXPECT_EQ(log, (std::vector<std::string>{"keep"}));

    popover.window.hide();
    EXPECT_TRUE(panel().canBecomeKey());
    sendKey(*popover.field, Qt::Key_Escape); // the hidden popover no longer answers
    EXPECT_EQ(log, (std::vector<std::string>{"keep"}));
}

TEST_F(DisplayTestPanelTest, AClickOnThePanelCountsWhileThePopoverIsOpenInTheTray)
{
    QWidget popover(nullptr, Qt::Popup);
    popover.resize(240, 120);
    popover.move(0, 0);
    new DisplayTestPresentation(model, popover, true);
    popover.show();
    ASSERT_EQ(QApplication::activePopupWidget(), &popover);
    struct Case {
        const char* button;
        Phase phase;
        std::string answer;
    };
    const Case cases[] = {
        {"keep", Phase::confirming, "keep"},
        {"revert", Phase::confirming, "revert"},
        {"cancel", Phase::applying, "revert"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.button);
        log.clear();
        start(c.phase);
        clickAsTheUserDoes(button(c.button));
        EXPECT_EQ(log, (std::vector<std::string>{c.answer}));
        EXPECT_EQ(QApplication::activePopupWidget(), &popover) << "the popover stays open";
    }

    // A press in the popover that ends over the panel stays the popover's, and so do its clicks.
    log.clear();
    start(Phase::confirming);
    auto* resume = new QPushButton(QStringLiteral("Resume"), &popover);
    resume->setGeometry(10, 10, 100, 30);
    resume->show();
    QSignalSpy resumed(resume, &QPushButton::clicked);
    QWindow* panelWindow = panel().windowHandle();
    QTest::mousePress(popover.windowHandle(), Qt::LeftButton, {}, resume->geometry().center());
    QTest::mouseRelease(panelWindow, Qt::LeftButton, {},
        button("keep").mapTo(&panel(), button("keep").rect().center()));
    EXPECT_FALSE(resume->isDown()) << "the release went elsewhere";
    clickAsTheUserDoes(*resume);
    EXPECT_EQ(resumed.count(), 1);
    EXPECT_TRUE(log.empty());
    popover.hide();
    start(Phase::confirming);
    clickAsTheUserDoes(button("keep"));
    EXPECT_EQ(log.back(), "keep");
}

TEST_F(DisplayTestPanelTest, KeepCountsWhileAnotherWindowWaitsOnItsOpenPanel)
{
    QWidget asking;
    asking.show();
    asking.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&asking));
    SimulatedApplicationCatalog catalog;
    QtOpenPanel openPanel(catalog);
    insideApplicationLoop([&] {
        QTimer::singleShot(0, [&] {
            start(Phase::confirming);
            clickAsTheUserDoes(button("keep"));
            QApplication::activeModalWidget()->close();
        });
        (void)openPanel.runModal({.title = "Choose applications", .directory = "/Applications"});
    });
    EXPECT_EQ(log, (std::vector<std::string>{"keep"}));
}

TEST_F(DisplayTestPanelTest, ThePopoverHostsThePanelWithoutGivingItTheKeyboard)
{
    MenuBarExtra extra(model);
    QWidget& popover = extra.popover();
    popover.show();
    popover.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&popover));
    start(Phase::confirming);
    EXPECT_FALSE(panel().canBecomeKey());
    EXPECT_TRUE(popover.isActiveWindow());
    QWidget* typedInto = popover.focusWidget() ? popover.focusWidget() : &popover;
    QTest::keyClick(typedInto, Qt::Key_Return);
    EXPECT_EQ(log, (std::vector<std::string>{"keep"}));
    QTest::keyClick(typedInto, Qt::Key_Escape);
    EXPECT_EQ(log, (std::vector<std::string>{"keep", "revert"}));
    EXPECT_EQ(presenter->panel(), nullptr);
}

TEST_F(DisplayTestPanelTest, WithoutThePopoverThePanelTakesTheKeyboard)
{
    start(Phase::confirming);
    EXPECT_TRUE(panel().canBecomeKey());
    EXPECT_FALSE(panel().testAttribute(Qt::WA_ShowWithoutActivating));
    EXPECT_TRUE(QTest::qWaitForWindowActive(&panel()));
}

TEST(DisplayTestPresentationTest, HostsShareOnePresenterThatLeavesWithTheLastHost)
{
    DemoWorld demo;
    AppModel& model = *demo.model;
    {
        QWidget mainWindow;
        auto popover = std::make_unique<QWidget>();
        auto* fromMain = new DisplayTestPresentation(model, mainWindow, false);
        auto* fromPopover = new DisplayTestPresentation(model, *popover, true);
        EXPECT_EQ(&fromMain->presenter(), &fromPopover->presenter());
        EXPECT_EQ(model.displayTestPresenter, &fromMain->presenter());
        popover.reset();
        EXPECT_EQ(model.displayTestPresenter, &fromMain->presenter());
    }
    EXPECT_EQ(model.displayTestPresenter, nullptr);
}

TEST(ViewTestPlatformTest, RunsOnThePlatformTheEnvironmentNames)
{
    testApplication();
    const QByteArray chosen = qgetenv("QT_QPA_PLATFORM");
    EXPECT_EQ(QGuiApplication::platformName().toUtf8(), chosen.isEmpty() ? "offscreen" : chosen);
}

} // namespace
} // namespace quorvane
