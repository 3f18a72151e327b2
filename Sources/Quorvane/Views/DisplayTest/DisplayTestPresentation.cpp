#include "Quorvane/Views/DisplayTest/DisplayTestPresentation.h"

#include "Quorvane/AppModel.h"
#include "Quorvane/Views/DisplayTest/DisplayTestActions.h"
#include "Quorvane/Views/DisplayTest/DisplayTestPanel.h"
#include "Quorvane/Views/DisplayTest/ModePreviewView.h"

#include <QApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QScreen>

#include <utility>

namespace quorvane {

std::shared_ptr<DisplayTestPanelPresenter> DisplayTestPanelPresenter::of(AppModel& model)
{
    if (auto* installed = dynamic_cast<DisplayTestPanelPresenter*>(model.displayTestPresenter))
        return installed->shared_from_this();
    auto presenter
        = std::make_shared<DisplayTestPanelPresenter>(model, modelDisplayTestActions(model));
    model.displayTestPresenter = presenter.get();
    return presenter;
}

DisplayTestPanelPresenter::DisplayTestPanelPresenter(
    AppModel& model, std::unique_ptr<DisplayTestActions> actions)
    : m_model(model)
    , m_actions(std::move(actions))
{
}

DisplayTestPanelPresenter::~DisplayTestPanelPresenter()
{
    if (m_model.displayTestPresenter == this)
        m_model.displayTestPresenter = nullptr;
    // The panel's last events must not reach a filter that asks about the panel going.
    qApp->removeEventFilter(this);
    delete m_panel.data();
}

void DisplayTestPanelPresenter::setMenuWindow(QWidget* menuWindow)
{
    m_menuWindow = menuWindow;
    if (m_panel)
        m_panel->setMenuWindow(menuWindow);
}

void DisplayTestPanelPresenter::setActions(std::unique_ptr<DisplayTestActions> actions)
{
    closePanel();
    m_previewID.reset();
    m_actions = std::move(actions);
    update(m_model);
}

void DisplayTestPanelPresenter::update(AppModel& model)
{
    const std::optional<DisplayPreview>& preview = *model.preview;
    if (!preview) {
        m_previewID.reset();
        closePanel();
        return;
    }
    if (!m_panel)
        openPanel();
    m_panel->content().refresh();
    m_panel->refit();
    // The same test in another phase keeps its place: refit() only followed the content's size.
    if (m_previewID != preview->id) {
        m_previewID = preview->id;
        centreAndPresent();
    }
}

void DisplayTestPanelPresenter::openPanel()
{
    m_panel = new DisplayTestPanel(m_model, *m_actions);
    m_panel->setMenuWindow(m_menuWindow);
    qApp->installEventFilter(this);
}

void DisplayTestPanelPresenter::closePanel()
{
    if (!m_panel)
        return;
    qApp->removeEventFilter(this);
    m_panel->hide();
    // Later: the panel's own button or key may be what ended the test.
    m_panel->deleteLater();
    m_panel = nullptr;
}

void DisplayTestPanelPresenter::centreAndPresent()
{
    QScreen* screen = m_menuWindow && m_menuWindow->isVisible() ? m_menuWindow->screen()
                                                                : QGuiApplication::primaryScreen();
    if (screen) {
        QRect frame = m_panel->frameGeometry();
        frame.moveCenter(screen->availableGeometry().center());
        m_panel->move(frame.topLeft());
    }
    presentPanel(*m_panel);
}

void DisplayTestPanelPresenter::presentPanel(DisplayTestPanel& panel)
{
    const bool keepsKeyboard = !panel.canBecomeKey();
    panel.setAttribute(Qt::WA_ShowWithoutActivating, keepsKeyboard);
    panel.show();
    panel.raise();
    if (!keepsKeyboard)
        panel.activateWindow();
}

bool DisplayTestPanelPresenter::eventFilter(QObject* watched, QEvent* event)
{
    if (!watched->isWidgetType() || !m_panel || !m_panel->isVisible())
        return false;
    const QWidget& receiver = *static_cast<QWidget*>(watched);
    switch (event->type()) {
    case QEvent::KeyPress:
        return answerPopoverKey(receiver, static_cast<const QKeyEvent&>(*event));
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick:
    case QEvent::MouseButtonRelease:
        return passClickToPanel(receiver, static_cast<const QMouseEvent&>(*event));
    default:
        return false;
    }
}

bool DisplayTestPanelPresenter::answerPopoverKey(const QWidget& receiver, const QKeyEvent& event)
{
    if (!m_menuWindow || !m_menuWindow->isVisible() || !m_menuWindow->isActiveWindow()
        || receiver.window() != m_menuWindow)
        return false;
    const std::optional<DisplayPreview>& preview = *m_model.preview;
    if (!preview)
        return false;
    return answerTestKey(event, *preview, *m_actions);
}

bool DisplayTestPanelPresenter::passClickToPanel(const QWidget& receiver, const QMouseEvent& event)
{
    const bool isRelease = event.type() == QEvent::MouseButtonRelease;
    if (isRelease && m_pressedInPanel) {
        // The release goes where the press went, wherever the pointer is by now.
        QPointer<QWidget> target = std::exchange(m_pressedInPanel, nullptr);
        sendMouseEvent(*target, event);
        return true;
    }
    // An open pop-up gets every click, and one outside it only closes it: a click on the panel
    // would be lost, so the panel gets it instead and the pop-up stays open.
    const QWidget* popup = QApplication::activePopupWidget();
    const QPoint global = event.globalPosition().toPoint();
    if (isRelease || !popup || receiver.window() != popup
        || !m_panel->frameGeometry().contains(global))
        return false;
    QWidget* target = m_panel->childAt(m_panel->mapFromGlobal(global));
    m_pressedInPanel = target ? target : m_panel.data();
    sendMouseEvent(*m_pressedInPanel, event);
    return true;
}

void DisplayTestPanelPresenter::sendMouseEvent(QWidget& target, const QMouseEvent& event)
{
    const QPointF global = event.globalPosition();
    QMouseEvent passed(event.type(), target.mapFromGlobal(global), global, event.button(),
        event.buttons(), event.modifiers(), event.pointingDevice());
    QApplication::sendEvent(&target, &passed);
}

DisplayTestPresentation::DisplayTestPresentation(AppModel& model, QWidget& host, bool isMenuPopover)
    : QObject(&host)
    , m_presenter(DisplayTestPanelPresenter::of(model))
{
    if (isMenuPopover)
        m_presenter->setMenuWindow(host.window());
    m_presenter->update(model);
}

} // namespace quorvane
