// The display-test panel on screen: one presenter per model opens, re-centres, re-fits and
// closes the panel as the model's preview changes; every window that hosts the panel (the main
// window and the popover) shares it.
#pragma once

#include "Foundation/UUID.h"
#include "Quorvane/DisplayTestPresenter.h"
#include "Quorvane/Views/DisplayTest/DisplayTestPanel.h"

#include <QObject>
#include <QPointer>

#include <functional>
#include <memory>
#include <optional>

class QKeyEvent;
class QMouseEvent;

namespace quorvane {

class DisplayTestActions;

/// Installed in the model while some host keeps it; removes itself from the model when the
/// last host lets go. While a panel is open it also answers Return, Enter and Escape typed into
/// the popover, which keeps the keyboard while it is open, and hands the panel the clicks that
/// an open pop-up (the popover in the tray) receives for it.
class DisplayTestPanelPresenter final
    : public QObject
    , public DisplayTestPresenter
    , public std::enable_shared_from_this<DisplayTestPanelPresenter> {
public:
    /// How a panel is brought on screen.
    using Present = std::function<void(DisplayTestPanel&)>;

    /// The model's presenter, made and installed first when it has none. `model` must outlive
    /// every owner of the result.
    [[nodiscard]] static std::shared_ptr<DisplayTestPanelPresenter> of(AppModel& model);

    DisplayTestPanelPresenter(AppModel& model, std::unique_ptr<DisplayTestActions> actions);
    ~DisplayTestPanelPresenter() override;

    DisplayTestPanelPresenter(const DisplayTestPanelPresenter&) = delete;
    DisplayTestPanelPresenter& operator=(const DisplayTestPanelPresenter&) = delete;

    void update(AppModel& model) override;

    /// The window of the popover's content; the main window never sets it.
    void setMenuWindow(QWidget* menuWindow);
    /// Replaces the model's keep and revert, for the panel opened after this call.
    void setActions(std::unique_ptr<DisplayTestActions> actions);
    /// The open panel; null while no preview runs.
    [[nodiscard]] DisplayTestPanel* panel() const { return m_panel; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void openPanel();
    void closePanel();
    void centreAndPresent();
    /// Return, Enter and Escape typed into the visible, active popover answer the test.
    bool answerPopoverKey(const QWidget& receiver, const QKeyEvent& event);
    /// Hands the panel a click that an open pop-up received for it.
    bool passClickToPanel(const QWidget& receiver, const QMouseEvent& event);
    static void sendMouseEvent(QWidget& target, const QMouseEvent& event);
    /// Over the visible popover the panel comes to the front without the keyboard; otherwise
    /// it becomes the active window.
    static void presentPanel(DisplayTestPanel& panel);

    AppModel& m_model;
    std::unique_ptr<DisplayTestActions> m_actions;
    QPointer<DisplayTestPanel> m_panel;
    QPointer<QWidget> m_menuWindow;
    std::optional<UUID> m_previewID;
    /// Where a press handed to the panel went; its release follows it there.
    QPointer<QWidget> m_pressedInPanel;
};

/// Attaches the shared panel to one window's content: the main window's (`isMenuPopover`
/// false) or the popover's (true, which tells the presenter the popover's window).
class DisplayTestPresentation final : public QObject {
public:
    /// `model` must outlive `host`, which becomes this object's parent.
    DisplayTestPresentation(AppModel& model, QWidget& host, bool isMenuPopover);

    [[nodiscard]] DisplayTestPanelPresenter& presenter() const { return *m_presenter; }

private:
    std::shared_ptr<DisplayTestPanelPresenter> m_presenter;
};

} // namespace quorvane
