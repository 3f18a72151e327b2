// FocusKeeper.h: the keyboard focus goes only where the person puts it, in every window.
#pragma once

#include <QObject>
#include <QPointer>
#include <QStringList>
#include <QWidget>

#include <list>

class QApplication;

namespace quorvane {

/// Qt hands the focus of a control that is disabled or hidden to the next control in the tab
/// chain, and drops it when the control is deleted; the person's next key then acts on a control
/// they never moved to, or Tab starts again at the top. Installed once on the application, the
/// keeper puts such a focus back on the same control, or on the control that replaces it after a
/// rebuild (the same path of object names). Failing both, the focus waits on the nearest enclosing
/// widget where keys do nothing, and Tab goes on from the control it left; it returns to that
/// control, or its replacement, once one can take it again and the person has not moved it.
class FocusKeeper final : public QObject {
public:
    static void install(QApplication& application);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    /// Where the person last put the focus in one window, and where it waits when that control is
    /// gone.
    struct Place {
        QPointer<QWidget> window;
        QPointer<QWidget> control;
        /// The control's object names up to its window, its own first; a class name stands in
        /// for an unnamed widget.
        QStringList path;
        /// Only a named control has a replacement that can be told apart from its neighbours.
        bool isNamed = false;
        /// The control's ancestors below the window, nearest first, then the window.
        std::vector<QPointer<QWidget>> ancestors;
        /// Where the focus waits while its control cannot take it; null while on the control.
        QPointer<QWidget> holder;
        /// Looks at the window again once the control is deleted.
        QMetaObject::Connection watch;
    };

    explicit FocusKeeper(QObject* parent);

    Place& placeIn(QWidget& window);
    void remember(QWidget& control);
    /// Puts the window's focus on the control it belongs to, else where it waits.
    void check(Place& place);
    /// The control that the focus belongs to now: the one the person left, or its replacement.
    [[nodiscard]] QWidget* owner(const Place& place) const;
    [[nodiscard]] QWidget* holderFor(const Place& place) const;
    void moveFocus(QWidget& to, Qt::FocusReason reason);
    /// Tab or Backtab from a waiting focus: on from the control it left, as if still there.
    bool tabFromHolder(Place& place, bool next);

    /// A list: places are referred to while others are added.
    std::list<Place> m_places;
    /// The widget losing the focus, between the focus-out and the focus-in of one move.
    QPointer<QWidget> m_leaving;
    /// Set while the keeper moves the focus itself.
    bool m_isMoving = false;
};

} // namespace quorvane
