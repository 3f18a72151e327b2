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
/// keyboard, or that the keeper finds in place of another, is scrolled into view. Assistive
/// technology hears of the focus only where the keys go: never of a control the keeper takes the
/// focus back from, nor of a list's current entry while the list has no focus; and once a popup,
/// such as a drop-down's list, gives the keys back, of the control they reach.
class FocusKeeper final : public QObject {
public:
    /// One widget from a control up to its window, with the name it had then.
    struct Level {
        QPointer<QWidget> widget;
        QString name;
    };
    /// The thing a control shows, as the keeper tells one control from another: the names of the
    /// widgets from it up to its window, taken at one moment; a level without a name stands only
    /// for the widget that had it.
    class ControlPath {
    public:
        ControlPath() = default;
        explicit ControlPath(QWidget& control);

        /// Whether `widget` shows the same thing: the same names up to the same window, and the
        /// same widget wherever a level has no name. Never true of an empty path.
        [[nodiscard]] bool isSame(const QWidget& widget) const;
        /// The control first, its window's child last; empty for an empty path.
        [[nodiscard]] std::span<const Level> levels() const { return m_levels; }

    private:
        QPointer<QWidget> m_window;
        std::vector<Level> m_levels;
    };

    static void install(QApplication& application);

    /// Whether `widget` shows in its window, enabled, for the focus to be on it.
    [[nodiscard]] static bool canTakeFocus(const QWidget& widget);
    /// The first control inside `area` that Tab stops at; null when there is none.
    [[nodiscard]] static QWidget* firstTabStop(QWidget& area);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    /// Where the person last put the focus in one window, and where it waits when that control
    /// cannot take it.
    struct Place {
        QPointer<QWidget> window;
        QPointer<QWidget> control;
        /// What the control showed as the person put the focus there.
        ControlPath path;
        /// Look at the window again once a widget of the path is named anew.
        std::vector<QMetaObject::Connection> renamed;
        /// Where the focus waits while its control cannot take it; null while on the control.
        QPointer<QWidget> holder;
        /// Looks at the window again once the control is deleted.
        QMetaObject::Connection watch;
    };

    explicit FocusKeeper(QObject* parent);

    /// A focus that Qt moved on as a Tab would, put back where the person left it. True when the
    /// control Qt chose lost the focus again.
    bool undoQtsMove(Place& place, QWidget& chosen);
    /// A show, hide, enabling, disabling or reparenting of `widget`.
    void changed(QWidget& widget);

    Place& placeIn(QWidget& window);
    void remember(Place& place, QWidget& control);
    /// The levels above the control.
    [[nodiscard]] static std::span<const Level> ancestors(const Place& place);
    /// Puts the window's focus on its control, else where it waits.
    void check(Place& place);
    [[nodiscard]] QWidget* holderFor(const Place& place) const;
    /// Looks for the controls that replace the ones the focus waits for, once the work of this
    /// turn of the event loop is over.
    void queueSearch();
    void searchReplacements();
    [[nodiscard]] QWidget* replacement(const Place& place) const;
    void moveFocus(QWidget& to, Qt::FocusReason reason);
    /// Tells assistive technology once, when this turn is over and if they still do, that the
    /// keys reach `control`: as a popup opens, or closes and gives them back.
    void announceLater(QWidget& control);
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
