#include "Quorvane/Views/MainWindow.h"

#include "MacPlatform/ApplicationShell.h"
#include "Quorvane/AppModel.h"
#include "Quorvane/Views/DisplayTest/DisplayTestPresentation.h"

#include <QAction>
#include <QCloseEvent>
#include <QEvent>
#include <QKeySequence>
#include <QLabel>
#include <QMenuBar>

namespace quorvane {

MainWindow::MainWindow(AppModel& model, ApplicationShell& shell, QWidget* parent)
    : QMainWindow(parent)
    , m_model(model)
    , m_shell(shell)
{
    setWindowTitle(QStringLiteral("Quorvane"));
    resize(1034, 820);

    // The window's own content comes later; until then a plain placeholder.
    auto* placeholder = new QLabel(QStringLiteral("Quorvane"), this);
    placeholder->setAlignment(Qt::AlignCenter);
    setCentralWidget(placeholder);
    new DisplayTestPresentation(model, *this, false);

    // There is no New command; Quit is the model's orderly quit, not an immediate exit.
    auto* quit = new QAction(QStringLiteral("Quit Quorvane"), this);
    quit->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
    quit->setMenuRole(QAction::QuitRole);
    connect(quit, &QAction::triggered, this, [this] { m_model.quit(); });
    menuBar()->addMenu(QStringLiteral("Quorvane"))->addAction(quit);
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
