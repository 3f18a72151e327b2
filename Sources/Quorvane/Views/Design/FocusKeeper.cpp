#include "Quorvane/Views/Design/FocusKeeper.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QAbstractSlider>
#include <QAbstractSpinBox>
#include <QAccessible>
#include <QApplication>
#include <QComboBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QScrollArea>
#include <QScrollBar>
#include <QTextEdit>

#include <algorithm>
#include <span>
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

/// Whether `widget` shows in `window` as things stand, for the focus to be there.
bool isShownIn(const QWidget& widget, const QWidget& window)
{
    return widget.window() == &window && widget.isEnabled() && widget.isVisibleTo(&window);
}

bool isTabStop(const QWidget& widget, const QWidget& window)
{
    return widget.window() == &window && widget.isEnabled() && widget.isVisible()
        && (widget.focusPolicy() & Qt::TabFocus) != 0;
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

/// Whether a control whose Tab was never pressed got the focus as if it had been: Qt passes the
/// focus on so from a control disabled or hidden, or from a list that closes with its drop-down.
/// Any other reason is a click, a shortcut, the application's own move, or a window or popup
/// giving back the focus it kept.
bool isQtsMove(
    Qt::FocusReason reason, const std::optional<QPointer<QWidget>>& tabFrom, const QWidget* leaving)
{
    const bool isTab = reason == Qt::TabFocusReason || reason == Qt::BacktabFocusReason;
    return isTab && (!tabFrom || *tabFrom != leaving);
}

/// What assistive technology heard before the keeper: the platform's bridge when null.
QAccessible::UpdateHandler heardBelow = nullptr;
/// A control that a popup gave the keys to or back to, told of once the work of this turn is
/// over: a drop-down's list closes before the drop-down takes the entry chosen there.
QPointer<QWidget> toldLater;

/// Whether `event` tells of a focus that assistive technology must not hear now: on a widget the
/// keys do not reach (Qt tells of the control it chose after the keeper took the focus back from
/// it, and a list tells of its current entry whether or not it has the focus), or on one it hears
/// of later.
bool isUntimely(const QAccessibleEvent& event)
{
    const auto* widget = qobject_cast<const QWidget*>(event.object());
    if (event.type() != QAccessible::Focus || !widget)
        return false;
    // An open menu or list tells of the entry the keys are on.
    return widget == toldLater
        || (widget->window() != QApplication::activePopupWidget()
            && widget != QApplication::focusWidget());
}

/// Passes every event on to assistive technology but a focus where the keys do not go.
void tellAssistiveTechnology(QAccessibleEvent* event)
{
    if (isUntimely(*event))
        return;
    if (heardBelow) {
        heardBelow(event);
        return;
    }
    // Qt hands an event to the platform only while no handler is installed.
    QAccessible::installUpdateHandler(nullptr);
    QAccessible::updateAccessibility(event);
    QAccessible::installUpdateHandler(tellAssistiveTechnology);
}

/// Up, down, left and right, which move the focus among buttons as Tab does.
bool isArrow(const QKeyEvent& key)
{
    return key.key() == Qt::Key_Up || key.key() == Qt::Key_Down || key.key() == Qt::Key_Left
        || key.key() == Qt::Key_Right;
}

/// Scrolls every scroll area around `control` until it shows, the innermost first. An area that
/// places its own rows in its viewport, as the rules table does, scrolls them by pixels until the
/// control's row shows whole.
void bringIntoView(QWidget& control)
{
    // As little as shows the row whole, or its start where it is the larger.
    const auto scroll = [](QScrollBar& bar, int start, int end, int shownStart, int shownEnd) {
        bar.setValue(bar.value() + std::min(std::max(0, end - shownEnd), start - shownStart));
    };
    for (QWidget* ancestor = control.parentWidget(); ancestor && !ancestor->isWindow();
         ancestor = ancestor->parentWidget()) {
        if (auto* area = qobject_cast<QScrollArea*>(ancestor)) {
            area->ensureWidgetVisible(&control);
        } else if (auto* rows = qobject_cast<QAbstractScrollArea*>(ancestor);
                   rows && rows->viewport()->isAncestorOf(&control)) {
            const QWidget* row = &control;
            while (row->parentWidget() != rows->viewport())
                row = row->parentWidget();
            const QRect place = row->geometry();
            const QRect shown = rows->viewport()->rect();
            scroll(*rows->verticalScrollBar(), place.top(), place.bottom(), shown.top(),
                shown.bottom());
            scroll(*rows->horizontalScrollBar(), place.left(), place.right(), shown.left(),
                shown.right());
        }
    }
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
    heardBelow = QAccessible::installUpdateHandler(tellAssistiveTechnology);
}

bool FocusKeeper::canTakeFocus(const QWidget& widget)
{
    return isShownIn(widget, *widget.window()) && widget.focusPolicy() != Qt::NoFocus;
}

QWidget* FocusKeeper::firstTabStop(QWidget& area)
{
    for (QWidget* at = area.nextInFocusChain(); at != &area; at = at->nextInFocusChain()) {
        if (area.isAncestorOf(at) && isTabStop(*at, *area.window()))
            return at;
    }
    return nullptr;
}

FocusKeeper::ControlPath::ControlPath(QWidget& control)
    : m_window(control.window())
{
    for (QWidget* level = &control; !level->isWindow(); level = level->parentWidget())
        m_levels.push_back({.widget = level, .name = level->objectName()});
}

bool FocusKeeper::ControlPath::isSame(const QWidget& widget) const
{
    const QWidget* at = &widget;
    for (const Level& level : m_levels) {
        if (at->isWindow() || at->objectName() != level.name
            || (level.name.isEmpty() && at != level.widget))
            return false;
        at = at->parentWidget();
    }
    return m_window && at == m_window;
}

bool FocusKeeper::eventFilter(QObject* watched, QEvent* event)
{
    auto* widget = qobject_cast<QWidget*>(watched);
    if (!widget)
        return false;
    switch (event->type()) {
    case QEvent::KeyPress: {
        const auto& key = static_cast<QKeyEvent&>(*event);
        if (const std::optional<bool> next = tabDirection(key)) {
            Place& place = placeIn(*widget->window());
            if (place.holder && place.holder == widget)
                return tabFromHolder(place, *next);
            m_tabFrom = QApplication::focusWidget();
        } else if (isArrow(key) && qobject_cast<QAbstractButton*>(QApplication::focusWidget())) {
            // A button hands the focus to its neighbour, in a group with the choice.
            m_tabFrom = QApplication::focusWidget();
        } else {
            m_tabFrom.reset();
        }
        break;
    }
    case QEvent::KeyRelease:
    case QEvent::MouseButtonPress:
        m_tabFrom.reset();
        break;
    case QEvent::FocusOut:
        // Qt names the next focus before it tells the last: a focus dropped goes nowhere.
        m_leaving = QApplication::focusWidget() ? widget : nullptr;
        break;
    case QEvent::FocusIn: {
        const QPointer<QWidget> leaving = std::exchange(m_leaving, nullptr);
        if (m_isMoving)
            break;
        const Qt::FocusReason reason = static_cast<QFocusEvent&>(*event).reason();
        if (reason == Qt::PopupFocusReason)
            announceLater(*widget);
        Place& place = placeIn(*widget->window());
        // The window giving back the focus where it waits, or a window with no control to focus.
        if (widget == place.holder || widget->isWindow())
            break;
        // The control Qt chose never learns it had the focus.
        if (isQtsMove(reason, std::exchange(m_tabFrom, std::nullopt), leaving) && place.control)
            return undoQtsMove(place, *widget);
        remember(place, *widget);
        if (reason != Qt::MouseFocusReason)
            bringIntoView(*widget);
        break;
    }
    case QEvent::Hide:
    case QEvent::ParentChange:
    case QEvent::EnabledChange:
    case QEvent::Show:
        if (!m_isMoving)
            changed(*widget);
        break;
    default:
        break;
    }
    return false;
}

bool FocusKeeper::undoQtsMove(Place& place, QWidget& chosen)
{
    // Kept right while the window is inactive too, for the focus it gives back as it activates.
    check(place);
    return place.window->focusWidget() != &chosen;
}

void FocusKeeper::changed(QWidget& widget)
{
    for (Place& place : m_places) {
        if (!place.window)
            continue;
        if (place.control && (place.control == &widget || widget.isAncestorOf(place.control))) {
            // A control losing the focus to a Tab or a click is left to the focus-in that follows.
            if (m_leaving != place.control)
                check(place);
        } else if (place.holder && widget.window() == place.window) {
            queueSearch(); // maybe the control's replacement, coming as the window is rebuilt
        }
    }
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

void FocusKeeper::remember(Place& place, QWidget& control)
{
    for (const QMetaObject::Connection& connection : place.renamed)
        disconnect(connection);
    place.renamed.clear();
    if (place.control != &control) {
        disconnect(place.watch);
        // Later, not now: the control may go as a part of a widget that is going.
        place.watch = connect(&control, &QObject::destroyed, this, [this, window = place.window] {
            QMetaObject::invokeMethod(
                this,
                [this, window] {
                    if (window)
                        check(placeIn(*window));
                    searchReplacements();
                },
                Qt::QueuedConnection);
        });
    }
    place.control = &control;
    place.path = ControlPath(control);
    for (const Level& level : place.path.levels()) {
        // A widget named anew shows another thing, as a row reused for another rule: its
        // controls are other controls, though nothing was hidden or disabled.
        place.renamed.push_back(
            connect(level.widget, &QObject::objectNameChanged, this, [this, window = place.window] {
                if (window)
                    check(placeIn(*window));
            }));
    }
    place.holder.clear();
}

std::span<const FocusKeeper::Level> FocusKeeper::ancestors(const Place& place)
{
    const std::span<const Level> levels = place.path.levels();
    return levels.empty() ? levels : levels.subspan(1);
}

void FocusKeeper::check(Place& place)
{
    // A closed window gives the focus back where it kept it when it shows again.
    if (!place.window || !place.window->isVisible())
        return;
    QWidget* const focused = place.window->focusWidget();
    if (QWidget* control = place.control;
        control && place.path.isSame(*control) && canTakeFocus(*control)) {
        if (focused != control)
            moveFocus(*control, Qt::OtherFocusReason);
        place.holder.clear();
        return;
    }
    // The same holder while it can hold the focus; a nearer one never, once the focus waits.
    if (!place.holder || !isShownIn(*place.holder, *place.window))
        place.holder = holderFor(place);
    if (place.holder && focused != place.holder)
        moveFocus(*place.holder, Qt::OtherFocusReason);
    queueSearch();
}

QWidget* FocusKeeper::holderFor(const Place& place) const
{
    // The nearest widget that shows, takes no tab and has no acting or renamed widget around it:
    // keys that reach it pass up to the window and act on nothing on the way.
    QWidget* holder = nullptr;
    for (const Level& level : ancestors(place)) {
        QWidget* const ancestor = level.widget;
        if (!ancestor || ancestor->window() != place.window)
            continue;
        if (acts(*ancestor) || ancestor->objectName() != level.name)
            holder = nullptr;
        else if (!holder && isShownIn(*ancestor, *place.window)
            && (ancestor->focusPolicy() & Qt::TabFocus) == 0)
            holder = ancestor;
    }
    return holder ? holder : place.window.data();
}

void FocusKeeper::queueSearch()
{
    if (std::exchange(m_isSearchQueued, true))
        return;
    QMetaObject::invokeMethod(this, &FocusKeeper::searchReplacements, Qt::QueuedConnection);
}

void FocusKeeper::searchReplacements()
{
    m_isSearchQueued = false;
    for (Place& place : m_places) {
        // Only where the focus still waits: the person may have moved it meanwhile.
        if (!place.window || !place.holder || place.window->focusWidget() != place.holder)
            continue;
        if (QWidget* found = replacement(place)) {
            moveFocus(*found, Qt::OtherFocusReason);
            remember(place, *found);
            bringIntoView(*found);
        }
    }
}

QWidget* FocusKeeper::replacement(const Place& place) const
{
    // An unnamed control is known only as itself, which check() looks at.
    const std::span<const Level> levels = place.path.levels();
    if (levels.empty() || levels.front().name.isEmpty())
        return nullptr;
    // Below the nearest ancestor that is still the same widget in the same window.
    QWidget* scope = place.window;
    for (const Level& level : ancestors(place)) {
        if (level.widget && level.widget->window() == place.window
            && level.widget->objectName() == level.name) {
            scope = level.widget;
            break;
        }
    }
    QWidget* found = nullptr;
    for (QWidget* candidate : scope->findChildren<QWidget*>(levels.front().name)) {
        if (candidate == place.control || !canTakeFocus(*candidate)
            || !place.path.isSame(*candidate))
            continue;
        if (found)
            return nullptr; // two alike: neither is surely the one the person left
        found = candidate;
    }
    return found;
}

void FocusKeeper::moveFocus(QWidget& to, Qt::FocusReason reason)
{
    m_isMoving = true;
    to.setFocus(reason);
    m_isMoving = false;
}

void FocusKeeper::announceLater(QWidget& control)
{
    toldLater = &control;
    QMetaObject::invokeMethod(
        this,
        [control = QPointer<QWidget>(&control)] {
            if (!control || toldLater != control)
                return;
            toldLater.clear();
            if (control == QApplication::focusWidget()) {
                QAccessibleEvent event(control, QAccessible::Focus);
                QAccessible::updateAccessibility(&event);
            }
        },
        Qt::QueuedConnection);
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
            remember(place, *widget);
            bringIntoView(*widget);
            return true;
        }
    }
    return false;
}

} // namespace quorvane
