// The mouse wheel over the pages' controls: it changes only what the user aimed at, and otherwise
// scrolls the page.
#include "Quorvane/Views/DisplaysPage.h"
#include "Quorvane/Views/MainWindow/DefaultProfileView.h"
#include "Quorvane/Views/MainWindow/SettingValueEditor.h"
#include "Quorvane/Views/MenuView.h"
#include "QuorvaneViewTests/ChoiceTestSupport.h"
#include "QuorvaneViewTests/MainWindowTestSupport.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QScrollBar>
#include <QSlider>
#include <QVBoxLayout>

#include <functional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace quorvane {
namespace {

using namespace std::chrono_literals;

const ControlKey externalBrightness{
    .target = ControlTarget::display("demo-external"), .setting = SettingKey::brightness};

/// Presses Tab in `target`'s window until `target` has the keyboard focus; whether it got it.
bool tabTo(QWidget& target)
{
    for (int press = 0; press < 500 && !target.hasFocus(); ++press) {
        QWidget* const focused = target.window()->focusWidget();
        QTest::keyClick(focused ? focused : target.window(), Qt::Key_Tab);
    }
    return target.hasFocus();
}

/// Where the scroll area around `widget` stands, or 0 where nothing scrolls.
int scrolledTo(QWidget& widget)
{
    QScrollArea* const area = enclosingScrollArea(widget);
    return area ? area->verticalScrollBar()->value() : 0;
}

/// Scrolls the area around `widget` back to the top; whether it can scroll down from there.
bool scrollToTop(QWidget& widget)
{
    QScrollArea* const area = enclosingScrollArea(widget);
    if (!area)
        return false;
    area->verticalScrollBar()->setValue(0);
    return area->verticalScrollBar()->maximum() > 0;
}

/// The Displays page inside `scope`. It declares no Qt meta-object, so findChild() cannot tell it
/// from any other widget.
DisplaysPage& displaysPageIn(QWidget& scope)
{
    for (QWidget* widget : scope.findChildren<QWidget*>()) {
        if (auto* page = dynamic_cast<DisplaysPage*>(widget))
            return *page;
    }
    throw std::runtime_error("no Displays page");
}

class WheelTest : public MainWindowFixture {
protected:
    WheelTest()
    {
        window.setFixedHeight(ContentView::minimumHeight); // short, so that the pages scroll
        (new QVBoxLayout(&popover))->addWidget(new MenuView(model, &popover));
    }

    QSlider& sliderOf(QWidget& scope) const
    {
        QWidget* const row = displaysPageIn(scope).rowOf(externalBrightness);
        EXPECT_NE(row, nullptr);
        return *row->findChild<QSlider*>(QStringLiteral("slider"));
    }
    QSlider& editorSlider(QWidget& scope) const
    {
        auto* editor = scope.findChild<SettingValueEditor*>(QStringLiteral("brightness"));
        EXPECT_NE(editor, nullptr);
        return *editor->findChild<QSlider*>(QStringLiteral("slider"));
    }
    /// Whether the model received anything a control sets or tests.
    bool modelChanged(const Configuration& before) const
    {
        return model.preview->has_value() || *model.configuration != before || !model.holds->empty()
            || model.liveRuleEdit.get().has_value();
    }

    // The tray's popover: a popup window, as when the desktop has a tray.
    QWidget popover{nullptr, Qt::Popup | Qt::FramelessWindowHint};
};

TEST_F(WheelTest, ADropDownTakesNoWheelEvenFocusedButItsArrowsStillChoose)
{
    struct Case {
        std::string_view name;
        std::function<QComboBox&()> show;
    };
    const Case cases[] = {
        {"Night Shift of a profile",
            [&]() -> QComboBox& {
                show(AppPage::profiles, workID);
                return *content.currentPage()->findChild<QComboBox*>(QStringLiteral("Night Shift"));
            }},
        {"refresh rate on the Displays page",
            [&]() -> QComboBox& {
                show(AppPage::displays, workID);
                return *content.currentPage()->findChild<QComboBox*>(QStringLiteral("refreshRate"));
            }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.name));
        QComboBox& box = c.show();
        ASSERT_GT(box.count(), 1);
        clickOpenAndEscape(box);
        ASSERT_TRUE(scrollToTop(box));
        const Configuration before = *model.configuration;
        const int chosen = box.currentIndex();

        turnWheelOver(box);
        EXPECT_GT(scrolledTo(box), 0) << "the page did not scroll";
        turnWheelOver(box);
        turn();
        EXPECT_EQ(box.currentIndex(), chosen);
        EXPECT_FALSE(modelChanged(before));
        EXPECT_TRUE(box.hasFocus());

        // The drop-down itself may show the old entry again while the display tests the new.
        QTest::keyClick(&box, chosen + 1 < box.count() ? Qt::Key_Down : Qt::Key_Up);
        turn();
        EXPECT_TRUE(modelChanged(before)) << "the arrow chose nothing";
        model.cancelPreview();
        demo.settle();
    }
}

TEST_F(WheelTest, ASliderTakesTheWheelOnlyWhileFocusedByAClickOrTab)
{
    Configuration before;
    const auto modelTookIt = [&] { return modelChanged(before); };
    struct Case {
        std::string_view name;
        std::function<QSlider&()> show;
        std::function<bool()> tookIt;
    };
    const Case cases[] = {
        {"Displays page",
            [&]() -> QSlider& {
                show(AppPage::displays, workID);
                return sliderOf(*content.currentPage());
            },
            modelTookIt},
        {"rule editor",
            [&]() -> QSlider& {
                show(AppPage::profiles, workID);
                const RuleList& rules = content.profileWithID(workID)->rules;
                content.edit(*std::ranges::find(rules, "Deep focus", &Rule::name));
                turn();
                return editorSlider(*content.editor());
            },
            modelTookIt},
        {"Default page",
            [&]() -> QSlider& {
                show(AppPage::profiles, model.configuration->defaultProfileID);
                return editorSlider(
                    *content.currentPage()->findChild<QWidget*>(QStringLiteral("demo-external")));
            },
            [&] {
                const auto* page = dynamic_cast<DefaultProfileView*>(content.currentPage());
                return !page->draft().editedKeys.empty() || modelChanged(before);
            }},
        {"popover",
            [&]() -> QSlider& {
                popover.show();
                return sliderOf(popover);
            },
            modelTookIt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.name));
        QSlider& slider = c.show();
        ASSERT_TRUE(slider.isEnabled());
        ASSERT_GT(slider.value(), slider.minimum() + slider.pageStep());
        const bool scrolls = scrollToTop(slider);
        before = *model.configuration;
        const int start = slider.value();

        turnWheelOver(slider);
        turn();
        EXPECT_EQ(slider.value(), start);
        EXPECT_FALSE(slider.hasFocus()) << "the wheel focused the slider";
        EXPECT_FALSE(c.tookIt());
        if (scrolls) {
            EXPECT_GT(scrolledTo(slider), 0) << "the page did not scroll";
        }

        ASSERT_TRUE(tabTo(slider));
        turnWheelOver(slider);
        turn();
        EXPECT_LT(slider.value(), start);
        EXPECT_TRUE(c.tookIt());

        // Focus gone, the wheel is the page's again.
        QTest::keyClick(&slider, Qt::Key_Tab);
        ASSERT_FALSE(slider.hasFocus());
        const int tabbedAway = slider.value();
        turnWheelOver(slider);
        turn();
        EXPECT_EQ(slider.value(), tabbedAway);

        QTest::mouseClick(&slider, Qt::LeftButton);
        ASSERT_TRUE(slider.hasFocus());
        const int clicked = slider.value();
        turnWheelOver(slider);
        turn();
        EXPECT_LT(slider.value(), clicked);
        popover.hide();
        model.resume(std::nullopt);
        demo.settle();
    }
}

TEST_F(WheelTest, AWheelScrollingThePageKeepsScrollingItOverAFocusedSliderUntilItRests)
{
    show(AppPage::profiles, workID);
    const RuleList& rules = content.profileWithID(workID)->rules;
    content.edit(*std::ranges::find(rules, "Deep focus", &Rule::name));
    turn();
    QSlider& slider = editorSlider(*content.editor());
    QScrollBar& page = *enclosingScrollArea(slider)->verticalScrollBar();
    QTest::mouseClick(&slider, Qt::LeftButton);
    ASSERT_TRUE(slider.hasFocus());
    const int notch = QApplication::wheelScrollLines() * page.singleStep();
    struct Case {
        std::string_view pause;
        std::chrono::milliseconds after;
        bool sliderTakesIt;
    };
    const Case cases[] = {
        {"none", 50ms, false},
        {"short", 450ms, false},
        {"half a second", 500ms, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.pause));
        page.setValue(0);
        // The pointer stays where the page brings the slider after two notches.
        const QPoint pointer = slider.mapTo(&window, slider.rect().center()) - QPoint(0, 2 * notch);
        const auto at = [&](QWidget& under) { return QPointF(under.mapFrom(&window, pointer)); };
        const int value = slider.value();
        for (int turned = 0; window.childAt(pointer) != &slider; ++turned) {
            ASSERT_LT(turned, 2) << "the slider never came under the pointer";
            QWidget& under = *window.childAt(pointer);
            turnWheelOver(under, turned == 0 ? 1s : 50ms, at(under));
        }
        const int scrolled = page.value();
        turnWheelOver(slider, c.after, at(slider));
        turn();
        EXPECT_EQ(slider.value() != value, c.sliderTakesIt);
        EXPECT_EQ(page.value() == scrolled, c.sliderTakesIt);
    }
}

} // namespace
} // namespace quorvane
