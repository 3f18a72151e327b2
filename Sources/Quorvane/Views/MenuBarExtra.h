// MenuBarExtra.h: the application's place in the menu bar: a sun in the system tray that opens
// the popover with MenuView.
#pragma once

#include <QObject>
#include <QPoint>
#include <QRect>

#include <memory>

class QIcon;
class QScrollArea;
class QSize;
class QSystemTrayIcon;
class QWidget;

namespace quorvane {

class AppModel;
class MenuView;

/// Where the desktop has a system tray, the icon opens and closes a frameless popup next to it,
/// which follows its content's size while it is open and starts at its top each time; while a
/// modal panel waits with its window minimised, the icon asks for the main window instead
/// (MenuView::mainWindowRequested), which brings both back. Where the desktop has no tray, the
/// popover opens at once as an ordinary window, so the application stays usable. Either way the
/// content scrolls when the screen is too short for it.
class MenuBarExtra final : public QObject {
public:
    /// Where the popover lives.
    enum class Place {
        tray, ///< a popup beside the tray icon
        window, ///< an ordinary window, open from the start
    };

    /// The tray where the desktop has one.
    [[nodiscard]] static Place desktopPlace();

    /// `model` must outlive this object.
    explicit MenuBarExtra(AppModel& model, Place place = desktopPlace(), QObject* parent = nullptr);
    ~MenuBarExtra() override;

    /// The popover's window: a popup in the tray, else an ordinary window.
    [[nodiscard]] QWidget& popover() const { return *m_popover; }
    [[nodiscard]] MenuView& menuView() const { return *m_menuView; }

    /// Opens the popup beside the tray icon at `icon` (empty when the tray doesn't tell, and
    /// `pointer` stands in for it) on a screen whose free area is `available`.
    void openPopover(const QRect& icon, const QPoint& pointer, const QRect& available);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    /// Where the popup was opened: it keeps to the same rule as its content grows or shrinks.
    struct Anchor {
        QRect icon;
        QPoint pointer;
        QRect available;
    };

    void togglePopover();
    /// Places the open popup for the size its content wants now.
    void fitPopover();
    /// Places the popup beside its anchor for content of `wanted` size, with a scroll bar only
    /// where the room is shorter.
    void place(const QSize& wanted);
    /// The popover's size with all of its content in view at its full width, as it is now. Asked
    /// of the content: the scroll area's hint is capped.
    [[nodiscard]] QSize wantedSize() const;
    /// The same, from the sizes the layouts hold now.
    [[nodiscard]] QSize contentSize() const;

    std::unique_ptr<QWidget> m_popover; // a top-level window: no Qt parent deletes it
    QScrollArea* m_scroll;
    MenuView* m_menuView;
    QSystemTrayIcon* m_tray = nullptr;
    Anchor m_anchor;
};

/// Where a popover that would like `wanted` goes, and its size: beside `icon` on the side with
/// room (below or above a tray at the top or bottom, right or left of one at a side), never over
/// the icon, always inside `available`. Taller than the room there, it gets the room and its
/// content scrolls. Without the icon's place, `pointer` stands in for it: the click that opened
/// the popover was on the icon.
[[nodiscard]] QRect popoverGeometry(
    const QRect& icon, const QPoint& pointer, const QRect& available, const QSize& wanted);

/// The menu bar's sun, drawn rather than loaded so that no image file ships.
[[nodiscard]] QIcon sunIcon();

} // namespace quorvane
