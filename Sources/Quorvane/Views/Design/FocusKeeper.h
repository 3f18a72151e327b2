// FocusKeeper.h: the keyboard focus goes only where the person puts it, in every window.
#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <QWidget>

#include <list>
#include <optional>
#include <span>
#include <vector>

class QApplication;

namespace quorvane {

/// Qt hands the focus of a control that is disabled or hidden to the next control in the tab
/// chain, and drops it when the control is deleted; the person's next key then acts on a control
/// they never moved to, or Tab starts again at the top. Installed once on the application, the
/// keeper tells the person's moves from Qt's by what causes them: a Tab key, a click, a shortcut,
/// a window or popup giving back the focus it kept. Qt's moves go back to the person's control;
/// failing that, to the control for the same thing after a rebuild (the same object names up to
/// the window, where an unnamed widget is only ever itself), looked for once the rebuild is over;
/// failing both, the focus waits on the nearest enclosing widget where keys do nothing, and Tab
/// goes on from the control it left. A widget on the way up to the window that is named anew shows
/// another thing, and its controls are other controls. A control that takes the focus from the
/// keyboard, or that the keeper finds in place of another, is scrolled into view.
class FocusKeeper final : public QObject {
public:
    static void install(QApplication& application);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    /// One widget from the control up to its window, with the name it had then.
    struct Level {
        QPointer<QWidget> widget;
        QString name;
        /// Looks at the window again once the widget is named anew.
        QMetaObject::Connection renamed;
    };
    /// Where the person last put the focus in one window, and where it waits when that control
    /// cannot take it.
    struct Place {
        QPointer<QWidget> window;
        QPointer<QWidget> control;
        /// The control and its ancestors below the window, the control first.
        std::vector<Level> levels;
        /// Where the focus waits while its control cannot take it; null while on the control.
        QPointer<QWidget> holder;
        /// Looks at the window again once the control is deleted.
        QMetaObject::Connection watch;
    };

    explicit FocusKeeper(QObject* parent);

    /// Takes in a focus that `widget` gets: the person's move is remembered, Qt's is put right.
    /// True when the focus went elsewhere.
    bool isPutRight(QWidget& widget, Qt::FocusReason reason, QWidget* leaving);
    /// A show, hide, enabling, disabling or reparenting of `widget`.
    void changed(QWidget& widget);

    Place& placeIn(QWidget& window);
    void remember(Place& place, QWidget& control);
    /// The levels above the control.
    [[nodiscard]] static std::span<const Level> ancestors(const Place& place);
    /// Whether `widget` stands for the same thing as the place's control: the same names up to
    /// the window, and the same widget wherever a level has no name.
    [[nodiscard]] static bool isSame(const Place& place, const QWidget& widget);
    /// Puts the window's focus on its control, else where it waits.
    void check(Place& place);
    [[nodiscard]] QWidget* holderFor(const Place& place) const;
    /// Looks for the controls that replace the ones the focus waits for, once the work of this
    /// turn of the event loop is over.
    void queueSearch();
    void searchReplacements();
    [[nodiscard]] QWidget* replacement(const Place& place) const;
    void moveFocus(QWidget& to, Qt::FocusReason reason);
    /// Tells assistive technology where the focus is, after Qt told it of the control that Qt
    /// chose.
    void announceFocus();
    /// Tab or Backtab from a waiting focus: on from the control it left, as if still there.
    bool tabFromHolder(Place& place, bool next);

    /// A list: places are referred to while others are added.
    std::list<Place> m_places;
    /// The widget losing the focus, between the focus-out and the focus-in of one move.
    QPointer<QWidget> m_leaving;
    /// The control a Tab or Backtab key press leaves, while that press is delivered.
    std::optional<QPointer<QWidget>> m_tabFrom;
    /// Set while the keeper moves the focus itself.
    bool m_isMoving = false;
    bool m_isSearchQueued = false;
};

} // namespace quorvane
