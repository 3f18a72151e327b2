// The focus ring: a control that has the keyboard focus shows it, however it got it, on every
// page of the main window and in the popover.
#include "Quorvane/Views/MenuView.h"
#include "QuorvaneViewTests/ChoiceTestSupport.h"
#include "QuorvaneViewTests/MainWindowTestSupport.h"

#include <QAbstractItemView>
#include <QAccessible>
#include <QComboBox>
#include <QListWidget>
#include <QVBoxLayout>

#include <functional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace quorvane {
namespace {

/// Pixels that differ between two pictures of one widget.
int changedPixels(const QImage& before, const QImage& after)
{
    if (before.size() != after.size())
        return before.width() * before.height();
    int count = 0;
    for (int y = 0; y < before.height(); ++y) {
        for (int x = 0; x < before.width(); ++x)
            count += before.pixel(x, y) != after.pixel(x, y) ? 1 : 0;
    }
    return count;
}

/// Pixels nearly white.
int lightPixels(const QImage& shown)
{
    int count = 0;
    for (int y = 0; y < shown.height(); ++y) {
        for (int x = 0; x < shown.width(); ++x)
            count += qGray(shown.pixel(x, y)) > 230 ? 1 : 0;
    }
    return count;
}

/// What a widget is called in a failure: its class and object name.
std::string described(const QWidget& widget)
{
    return std::string(widget.metaObject()->className()) + " '" + widget.objectName().toStdString()
        + "' " + widget.accessibleName().toStdString();
}

class FocusRingTest : public MainWindowFixture {
protected:
    FocusRingTest()
    {
        // No Tab has been pressed in either window: Fusion would show no focus at all.
        window.setAttribute(Qt::WA_KeyboardFocusChange, false);
        (new QVBoxLayout(&popover))->addWidget(new MenuView(model, &popover));
    }

    void showPopover()
    {
        popover.show();
        QApplication::setActiveWindow(&popover);
        popover.setAttribute(Qt::WA_KeyboardFocusChange, false);
        turn();
    }
    /// Every control in `scope` that Tab reaches, as the user sees them. A page takes a click
    /// beside its controls, but is no control and shows no ring.
    static std::vector<QWidget*> focusableControls(QWidget& scope)
    {
        std::vector<QWidget*> controls;
        for (QWidget* widget : scope.findChildren<QWidget*>()) {
            if (widget->isVisibleTo(&scope) && widget->isEnabled()
                && (widget->focusPolicy() & Qt::TabFocus) && !widget->focusProxy())
                controls.push_back(widget);
        }
        return controls;
    }

    // The tray's popover: a popup window, as when the desktop has a tray.
    QWidget popover{nullptr, Qt::Popup | Qt::FramelessWindowHint};
};

TEST_F(FocusRingTest, ADropDownKeepingTheFocusAfterAClickAndEscapeShowsTheRing)
{
    struct Case {
        std::string_view name;
        std::string_view screenshot;
        std::function<QComboBox&()> show;
    };
    const Case cases[] = {
        {"refresh rate on the Displays page", "displays-refresh-rate",
            [&]() -> QComboBox& {
                show(AppPage::displays, workID);
                return *content.currentPage()->findChild<QComboBox*>(QStringLiteral("refreshRate"));
            }},
        {"Night Shift of a profile", "profile-night-shift",
            [&]() -> QComboBox& {
                show(AppPage::profiles, workID);
                return *content.currentPage()->findChild<QComboBox*>(QStringLiteral("Night Shift"));
            }},
        {"refresh rate in the popover", "popover-refresh-rate",
            [&]() -> QComboBox& {
                showPopover();
                return *popover.findChild<QComboBox*>(QStringLiteral("refreshRate"));
            }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.name));
        QComboBox& box = c.show();
        ASSERT_TRUE(box.isEnabled());
        EXPECT_EQ(ringPixels(picture(box)), 0);
        clickOpenAndEscape(box);
        EXPECT_GT(ringPixels(picture(box)), 2 * box.width());
        saveScreenshot(*box.window(), "focus-ring-" + std::string(c.screenshot));
        const Configuration before = *model.configuration;
        const int chosen = box.currentIndex();
        QTest::keyClick(&box, chosen + 1 < box.count() ? Qt::Key_Down : Qt::Key_Up);
        EXPECT_TRUE(model.preview->has_value() || *model.configuration != before)
            << "the arrows choose: the focus is where the ring is";
        model.cancelPreview();
        demo.settle();
    }
}

TEST_F(FocusRingTest, ADropDownIsHeardByItsLabelAndOnceChosenWithItsNewValue)
{
    struct Case {
        std::string_view label;
        std::function<QComboBox&()> show;
    };
    const auto onPage = [&](AppPage page, const UUID& profileID, const char* name) {
        return [&, page, profileID, name]() -> QComboBox& {
            show(page, profileID);
            return *content.currentPage()->findChild<QComboBox*>(QString::fromLatin1(name));
        };
    };
    const auto inEditor = [&](const char* name) {
        return [&, name]() -> QComboBox& {
            content.edit(content.profileWithID(workID)->rules.at(0));
            turn();
            return *content.editor()->findChild<QComboBox*>(QString::fromLatin1(name));
        };
    };
    const UUID defaultID = model.configuration->defaultProfileID;
    const Case cases[] = {
        {"Screen", inEditor("screen")},
        {"Space", inEditor("space")},
        {"Hold manual adjustments", onPage(AppPage::settings, workID, "holdLength")},
        {"Night Shift", onPage(AppPage::profiles, workID, "Night Shift")},
        {"External screen 1 refresh rate",
            [&]() -> QComboBox& {
                show(AppPage::profiles, defaultID);
                return *content.currentPage()
                            ->findChild<QWidget*>(QStringLiteral("demo-external"))
                            ->findChild<QWidget*>(QStringLiteral("refreshRate"))
                            ->findChild<QComboBox*>();
            }},
        {"Active profile",
            [&]() -> QComboBox& {
                showPopover();
                return *popover.findChild<QComboBox*>(QStringLiteral("activeProfile"));
            }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.label));
        QComboBox& box = c.show();
        ASSERT_GT(box.count(), 1);
        QAccessibleInterface* told = QAccessible::queryAccessibleInterface(&box);
        EXPECT_EQ(told->text(QAccessible::Name).toStdString(), c.label);
        // Its list is its one child, and a screen reader opens it as a click does.
        ASSERT_EQ(told->childCount(), 1);
        ASSERT_NE(told->child(0), nullptr);
        EXPECT_EQ(told->child(0)->object(), box.view());
        EXPECT_EQ(told->indexOfChild(told->child(0)), 0);
        EXPECT_EQ(told->indexOfChild(told->parent()), -1);
        QAccessibleActionInterface& actions = *told->actionInterface();
        actions.doAction(QAccessibleActionInterface::setFocusAction());
        EXPECT_EQ(box.window()->focusWidget(), &box);
        EXPECT_FALSE(box.view()->isVisible());
        actions.doAction(QAccessibleActionInterface::showMenuAction());
        ASSERT_TRUE(box.view()->isVisible());
        const HeardFocus screenReader;
        const Qt::Key next = box.currentIndex() + 1 < box.count() ? Qt::Key_Down : Qt::Key_Up;
        QTest::keyClick(box.view(), next);
        const QString chosen = box.view()->currentIndex().data().toString();
        QTest::keyClick(box.view(), Qt::Key_Return);
        QCoreApplication::processEvents();
        EXPECT_EQ(told->text(QAccessible::Value), chosen);
        // Back on the drop-down, with what was chosen, never with what it showed before.
        if (HeardFocus::canHear()) {
            ASSERT_FALSE(screenReader.heard.empty());
            EXPECT_EQ(screenReader.heard.back().object, &box);
            for (const HeardFocus::Heard& heard : screenReader.heard) {
                if (heard.object == &box) {
                    EXPECT_EQ(heard.value, chosen);
                }
            }
        }
        model.cancelPreview();
        content.setDraft(std::nullopt);
        demo.settle();
        turn();
    }
}

TEST_F(FocusRingTest, AListRingsItsCurrentRowOrItselfWhileItHasNone)
{
    content.edit(content.profileWithID(workID)->rules.at(1)); // names an app: the list shows
    turn();
    auto& list = *content.editor()->findChild<QListWidget*>(QStringLiteral("appList"));
    ASSERT_TRUE(list.isVisible());
    ASSERT_GT(list.height(), list.sizeHintForRow(0) * (list.count() + 1)) << "room below the rows";
    // The list's bottom edge, below its last row.
    const auto ringsItself = [&] {
        const QImage shown = picture(list);
        return ringPixels(shown.copy(0, shown.height() - 2, shown.width(), 2)) > shown.width() / 2;
    };
    list.setFocus(Qt::MouseFocusReason);
    ASSERT_FALSE(list.currentIndex().isValid());
    EXPECT_TRUE(ringsItself());
    QTest::keyClick(&list, Qt::Key_Down);
    ASSERT_TRUE(list.currentIndex().isValid());
    EXPECT_FALSE(ringsItself());
    EXPECT_GT(ringPixels(picture(list)), list.width());
}

TEST_F(FocusRingTest, EveryControlThatTakesTheFocusShowsIt)
{
    struct Case {
        std::string_view name;
        std::function<QWidget&()> show;
    };
    const Case cases[] = {
        {"profile page",
            [&]() -> QWidget& {
                show(AppPage::profiles, workID);
                return window;
            }},
        {"rule editor",
            [&]() -> QWidget& {
                content.edit(content.profileWithID(workID)->rules.at(0));
                turn();
                return window;
            }},
        {"Default page",
            [&]() -> QWidget& {
                show(AppPage::profiles, model.configuration->defaultProfileID);
                return window;
            }},
        {"Displays page",
            [&]() -> QWidget& {
                show(AppPage::displays, workID);
                return window;
            }},
        {"Settings page",
            [&]() -> QWidget& {
                show(AppPage::settings, workID);
                return window;
            }},
        {"popover",
            [&]() -> QWidget& {
                showPopover();
                return popover;
            }},
    };
    std::set<QWidget*> surveyed;
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.name));
        QWidget& scope = c.show();
        for (QWidget* control : focusableControls(scope)) {
            if (!surveyed.insert(control).second)
                continue;
            SCOPED_TRACE(described(*control));
            scope.setFocus(Qt::OtherFocusReason);
            ASSERT_FALSE(control->hasFocus());
            const QImage unfocused = picture(*control);
            control->setFocus(Qt::MouseFocusReason);
            ASSERT_TRUE(control->hasFocus());
            const QImage focused = picture(*control);
            EXPECT_GT(changedPixels(unfocused, focused), 30);
            // On the amber button the ring shows by the light line inside it.
            if (control->property("quorRole") == QStringLiteral("prominent"))
                EXPECT_GT(lightPixels(focused), lightPixels(unfocused) + 20);
            else
                EXPECT_GT(ringPixels(focused), ringPixels(unfocused) + 20);
        }
    }
    EXPECT_GT(surveyed.size(), 40U);
}

} // namespace
} // namespace quorvane
