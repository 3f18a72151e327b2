#include "Quorvane/Views/Design/WheelRule.h"

#include <QAbstractScrollArea>
#include <QAbstractSlider>
#include <QComboBox>
#include <QEvent>
#include <QScrollBar>
#include <QWheelEvent>
#include <QWidget>

#include <chrono>

namespace quorvane {

namespace {

// How long the wheel rests before a page it scrolled lets a slider under the pointer have it.
constexpr std::chrono::milliseconds wheelRest{500};

/// Controls whose value the wheel changes. A scroll bar only scrolls, and scroll areas pass their
/// own wheel on to theirs.
bool isSetByTheWheel(const QWidget& widget)
{
    return qobject_cast<const QComboBox*>(&widget)
        || (qobject_cast<const QAbstractSlider*>(&widget)
            && !qobject_cast<const QScrollBar*>(&widget));
}

/// The drop-downs here are menus, which scrolling never changes, focused or not. A slider takes
/// the wheel once the user has aimed at it: the wheel alone cannot focus it, a click or Tab can.
bool takesTheWheel(const QWidget& control)
{
    return !qobject_cast<const QComboBox*>(&control) && control.hasFocus();
}

bool isViewport(const QWidget& widget)
{
    const auto* area = qobject_cast<const QAbstractScrollArea*>(widget.parentWidget());
    return area && area->viewport() == &widget;
}

} // namespace

void WheelRule::watch(QWidget& widget)
{
    if (isViewport(widget))
        widget.installEventFilter(this);
    if (!isSetByTheWheel(widget))
        return;
    // Otherwise the wheel itself would focus the control on its way to changing it.
    widget.setFocusPolicy(Qt::StrongFocus);
    widget.installEventFilter(this);
}

void WheelRule::unwatch(QWidget& widget) { widget.removeEventFilter(this); }

/// A wheel turned over a control that does not take it is meant for the page under it: ignored
/// here, it goes on to the control's parents.
bool WheelRule::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() != QEvent::Wheel)
        return false;
    const auto& wheel = static_cast<const QWheelEvent&>(*event);
    const auto& widget = *static_cast<const QWidget*>(watched);
    if (!isSetByTheWheel(widget)) {
        m_pageScrolledAt = wheel.timestamp();
        return false;
    }
    if (takesTheWheel(widget) && !isScrollingAPage(wheel))
        return false;
    event->ignore();
    return true;
}

bool WheelRule::isScrollingAPage(const QWheelEvent& wheel) const
{
    return m_pageScrolledAt
        && wheel.timestamp() - *m_pageScrolledAt < static_cast<quint64>(wheelRest.count());
}

} // namespace quorvane
