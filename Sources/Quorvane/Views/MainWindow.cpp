#include "Quorvane/Views/MainWindow.h"

#include "MacPlatform/ApplicationShell.h"
#include "Quorvane/AppModel.h"
#include "Quorvane/Views/MainWindow/ContentView.h"

#include <QAction>
#include <QCloseEvent>
#include <QEvent>
#include <QKeySequence>
#include <QMenuBar>

namespace quorvane {

MainWindow::MainWindow(AppModel& model, ApplicationShell& shell, QWidget* parent)
    : QMainWindow(parent)
    , m_model(model)
    , m_shell(shell)
{
    setWindowTitle(QStringLiteral("QuorVane"));
    m_content = new ContentView(model, this);
    setCentralWidget(m_content);
    resize(ContentView::narrowWidth, 820);

    // There is no New command; Quit is the model's orderly quit, not an immediate exit.
    auto* quit = new QAction(QStringLiteral("Quit QuorVane"), this);
    quit->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
    quit->setMenuRole(QAction::QuitRole);
    connect(quit, &QAction::triggered, this, [this] { m_model.quit(); });
    menuBar()->addMenu(QStringLiteral("QuorVane"))->addAction(quit);
}

void MainWindow::showEvent(QShowEvent* event)
{
    QMainWindow::showEvent(event);
    becomeRegular();
}

void MainWindow::changeEvent(QEvent* event)
{
    QMainWindow::changeEvent(event);
    if (event->type() == QEvent::ActivationChange && isActiveWindow())
        becomeRegular();
}

void MainWindow::closeEvent(QCloseEvent* event)
{
    m_shell.setActivationPolicy(ActivationPolicy::accessory);
    event->accept();
}

void MainWindow::becomeRegular()
{
    if (m_shell.activationPolicy() != ActivationPolicy::regular)
        m_shell.setActivationPolicy(ActivationPolicy::regular);
}

} // namespace quorvane
