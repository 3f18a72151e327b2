#include "Quorvane/Views/Design/FocusKeeper.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QAbstractSlider>
#include <QAbstractSpinBox>
#include <QApplication>
#include <QComboBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTextEdit>
#include <QTimer>

#include <algorithm>
#include <optional>
#include <utility>

namespace quorvane {

namespace {

/// Whether keys that reach `widget` act: a focus waiting inside it would not be harmless.
bool acts(const QWidget& widget)
{
    return qobject_cast<const QAbstractButton*>(&widget) || qobject_cast<const QComboBox*>(&widget)
        || qobject_cast<const QAbstractSpinBox*>(&widget) || qobject_cast<const QLineEdit*>(&widget)
        || qobject_cast<const QAbstractSlider*>(&widget)
        || qobject_cast<const QAbstractItemView*>(&widget)
        || qobject_cast<const QTextEdit*>(&widget) || qobject_cast<const QPlainTextEdit*>(&widget);
}

bool canTakeFocus(const QWidget& widget)
{
    return widget.isEnabled() && widget.isVisibleTo(widget.window())
        && widget.focusPolicy() != Qt::NoFocus;
}

bool isTabStop(const QWidget& widget, const QWidget& window)
{
    return widget.window() == &window && widget.isEnabled() && widget.isVisible()
        && (widget.focusPolicy() & Qt::TabFocus) != 0;
}

QStringList pathOf(const QWidget& control)
{
    QStringList path;
    for (const QWidget* widget = &control; widget && !widget->isWindow();
         widget = widget->parentWidget())
        path << (widget->objectName().isEmpty()
                ? QString::fromLatin1(widget->metaObject()->className())
                : widget->objectName());
    return path;
}

/// Tab and Shift+Tab, which move the focus; Ctrl+Tab and Alt+Tab belong to other things.
std::optional<bool> tabDirection(const QKeyEvent& key)
{
    if (key.modifiers() & (Qt::ControlModifier | Qt::AltModifier))
        return std::nullopt;
    if (key.key() == Qt::Key_Backtab
        || (key.key() == Qt::Key_Tab && (key.modifiers() & Qt::ShiftModifier)))
        return false;
    if (key.key() == Qt::Key_Tab)
        return true;
    return std::nullopt;
}

} // namespace

FocusKeeper::FocusKeeper(QObject* parent)
    : QObject(parent)
{
}

void FocusKeeper::install(QApplication& application)
{
    static QPointer<FocusKeeper> installed;
    if (installed)
        return;
    installed = new FocusKeeper(&application);
    application.installEventFilter(installed);
}

bool FocusKeeper::eventFilter(QObject* watched, QEvent* event)
{
    auto* widget = qobject_cast<QWidget*>(watched);
    if (!widget)
        return false;
    switch (event->type()) {
    case QEvent::KeyPress:
        if (const std::optional<bool> next = tabDirection(static_cast<QKeyEvent&>(*event))) {
            Place& place = placeIn(*widget->window());
            if (place.holder == widget && tabFromHolder(place, *next))
                return true;
        }
        break;
    case QEvent::FocusOut:
        m_leaving = widget;
        break;
    case QEvent::FocusIn: {
        const QPointer<QWidget> leaving = std::exchange(m_leaving, nullptr);
        if (m_isMoving)
            break;
        const Qt::FocusReason reason = static_cast<QFocusEvent&>(*event).reason();
        Place& place = placeIn(*widget->window());
        // Qt passing on the focus of a control as it is disabled or hidden: no Tab key leaves a
        // control that cannot hold the focus.
        const bool isPassedOn = (reason == Qt::TabFocusReason || reason == Qt::BacktabFocusReason)
            && leaving && !(leaving->isEnabled() && leaving->isVisible());
        if (isPassedOn) {
            check(place);
            return true;
        }
        if (widget != place.holder)
            remember(*widget);
        break;
    }
    case QEvent::Hide:
    case QEvent::ParentChange:
    case QEvent::EnabledChange:
    case QEvent::Show:
        if (m_isMoving)
            break;
        for (Place& place : m_places) {
            // Losing its focus, or maybe the control the focus waits for coming back.
            if (place.control == widget || (place.holder && place.window == widget->window())) {
                check(place);
                break;
            }
        }
        break;
    default:
        break;
    }
    return false;
}

FocusKeeper::Place& FocusKeeper::placeIn(QWidget& window)
{
    m_places.remove_if([](const Place& place) { return !place.window; });
    const auto found = std::ranges::find(
        m_places, &window, [](const Place& place) { return place.window.data(); });
    if (found != m_places.end())
        return *found;
    Place& place = m_places.emplace_back();
    place.window = &window;
    return place;
}

void FocusKeeper::remember(QWidget& control)
{
    Place& place = placeIn(*control.window());
    if (place.control != &control) {
        disconnect(place.watch);
        // Later, not now: the control may go as a part of a widget that is going.
        place.watch = connect(&control, &QObject::destroyed, this, [this, window = place.window] {
            QTimer::singleShot(0, this, [this, window] {
                if (window)
                    check(placeIn(*window));
            });
        });
    }
    place.control = &control;
    place.path = pathOf(control);
    place.isNamed = !control.objectName().isEmpty();
    place.ancestors.clear();
    for (QWidget* ancestor = control.parentWidget(); ancestor;
         ancestor = ancestor->parentWidget()) {
        place.ancestors.emplace_back(ancestor);
        if (ancestor->isWindow())
            break;
    }
    place.holder.clear();
}

void FocusKeeper::check(Place& place)
{
    if (!place.window)
        return;
    QWidget* const focused = place.window->focusWidget();
    if (QWidget* target = owner(place)) {
        if (focused != target) {
            moveFocus(*target, Qt::OtherFocusReason);
            remember(*target);
        }
        place.holder.clear();
        return;
    }
    // The same holder while it can hold the focus; a nearer one never, once the focus waits.
    place.holder = holderFor(place);
    if (place.holder && focused != place.holder)
        moveFocus(*place.holder, Qt::OtherFocusReason);
}

QWidget* FocusKeeper::owner(const Place& place) const
{
    if (place.control && place.control->window() == place.window && canTakeFocus(*place.control))
        return place.control;
    // An unnamed control has no replacement that could be told apart from its neighbours.
    if (!place.isNamed)
        return nullptr;
    QWidget* found = nullptr;
    for (QWidget* candidate : place.window->findChildren<QWidget*>(place.path.front())) {
        if (candidate == place.control || !canTakeFocus(*candidate)
            || pathOf(*candidate) != place.path)
            continue;
        if (found)
            return nullptr; // two alike: neither is surely the one the person left
        found = candidate;
    }
    return found;
}

QWidget* FocusKeeper::holderFor(const Place& place) const
{
    // The nearest widget that shows, takes no tab and has no acting widget around it: keys that
    // reach it pass up to the window and act on nothing on the way.
    QWidget* holder = nullptr;
    for (const QPointer<QWidget>& ancestor : place.ancestors) {
        if (!ancestor)
            continue;
        if (acts(*ancestor))
            holder = nullptr;
        else if (!holder && ancestor->isEnabled() && ancestor->isVisibleTo(place.window)
            && (ancestor->focusPolicy() & Qt::TabFocus) == 0)
            holder = ancestor;
    }
    return holder;
}

void FocusKeeper::moveFocus(QWidget& to, Qt::FocusReason reason)
{
    m_isMoving = true;
    to.setFocus(reason);
    m_isMoving = false;
}

bool FocusKeeper::tabFromHolder(Place& place, bool next)
{
    QWidget* from = place.control;
    if (!from || from->window() != place.window)
        return false;
    for (QWidget* widget = next ? from->nextInFocusChain() : from->previousInFocusChain();
         widget && widget != from;
         widget = next ? widget->nextInFocusChain() : widget->previousInFocusChain()) {
        if (isTabStop(*widget, *place.window)) {
            moveFocus(*widget, next ? Qt::TabFocusReason : Qt::BacktabFocusReason);
            remember(*widget);
            return true;
        }
    }
    return false;
}

} // namespace quorvane
