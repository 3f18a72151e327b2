// MenuBarExtra.h: the application's place in the menu bar: a sun in the system tray that opens
// the popover with MenuView.
#pragma once

#include <QObject>

#include <memory>

class QIcon;
class QSystemTrayIcon;
class QWidget;

namespace quorvane {

class AppModel;
class MenuView;

/// Where the desktop has a system tray, the icon opens and closes a frameless popup next to it.
/// Where it has none, the popover opens at once as an ordinary window, so the application stays
/// usable.
class MenuBarExtra final : public QObject {
public:
    /// `model` must outlive this object.
    explicit MenuBarExtra(AppModel& model, QObject* parent = nullptr);
    ~MenuBarExtra() override;

    /// The popover's window: a popup in the tray, else an ordinary window.
    [[nodiscard]] QWidget& popover() const { return *m_popover; }
    [[nodiscard]] MenuView& menuView() const { return *m_menuView; }

private:
    void togglePopover();

    std::unique_ptr<QWidget> m_popover; // a top-level window: no Qt parent deletes it
    MenuView* m_menuView;
    QSystemTrayIcon* m_tray = nullptr;
};

/// The menu bar's sun, drawn rather than loaded so that no image file ships.
[[nodiscard]] QIcon sunIcon();

} // namespace quorvane
