#include "Quorvane/Views/MenuBarExtra.h"

#include "Quorvane/Views/DisplayTest/DisplayTestPresentation.h"
#include "Quorvane/Views/MenuView.h"

#include <QCursor>
#include <QGuiApplication>
#include <QIcon>
#include <QPainter>
#include <QPixmap>
#include <QScreen>
#include <QSystemTrayIcon>
#include <QVBoxLayout>
#include <QWidget>

#include <algorithm>
#include <cmath>
#include <memory>
#include <numbers>

namespace quorvane {

namespace {

constexpr int popoverWidth = 420;

/// Top left of a popup of `size` under (or, at the bottom of the screen, over) `anchor`, kept on
/// the screen.
QPoint popupPosition(const QRect& anchor, const QSize& size)
{
    const QScreen* screen = QGuiApplication::screenAt(anchor.center());
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    const QRect available = screen ? screen->availableGeometry() : QRect(anchor.topLeft(), size);
    int y = anchor.bottom() + 1;
    if (y + size.height() > available.bottom())
        y = anchor.top() - size.height();
    const int x = anchor.center().x() - size.width() / 2;
    return {std::clamp(
                x, available.left(), std::max(available.left(), available.right() - size.width())),
        std::clamp(
            y, available.top(), std::max(available.top(), available.bottom() - size.height()))};
}

} // namespace

QIcon sunIcon()
{
    QPixmap pixmap(64, 64);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    const QColor ink(0xF5, 0xA6, 0x23);
    painter.setPen(QPen(ink, 5, Qt::SolidLine, Qt::RoundCap));
    painter.setBrush(ink);
    painter.drawEllipse(QPointF(32, 32), 12, 12);
    for (int ray = 0; ray < 8; ++ray) {
        const double angle = ray * std::numbers::pi / 4;
        const QPointF direction(std::cos(angle), std::sin(angle));
        painter.drawLine(QPointF(32, 32) + direction * 20, QPointF(32, 32) + direction * 28);
    }
    return QIcon(pixmap);
}

MenuBarExtra::MenuBarExtra(AppModel& model, QObject* parent)
    : QObject(parent)
{
    const bool inTray = QSystemTrayIcon::isSystemTrayAvailable();
    m_popover = std::make_unique<QWidget>(
        nullptr, inTray ? Qt::Popup | Qt::FramelessWindowHint : Qt::Window);
    m_popover->setWindowTitle(QStringLiteral("Quorvane"));
    m_popover->setWindowIcon(sunIcon());
    auto* layout = new QVBoxLayout(m_popover.get());
    m_menuView = new MenuView(model, m_popover.get());
    layout->addWidget(m_menuView);
    m_popover->setFixedWidth(popoverWidth);
    new DisplayTestPresentation(model, *m_popover, true);

    if (!inTray) {
        m_popover->show();
        return;
    }
    m_tray = new QSystemTrayIcon(sunIcon(), this);
    m_tray->setToolTip(QStringLiteral("Quorvane"));
    connect(m_tray, &QSystemTrayIcon::activated, this,
        [this](QSystemTrayIcon::ActivationReason reason) {
            if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::DoubleClick)
                togglePopover();
        });
    m_tray->show();
}

MenuBarExtra::~MenuBarExtra() = default;

void MenuBarExtra::togglePopover()
{
    if (m_popover->isVisible()) {
        m_popover->hide();
        return;
    }
    m_popover->adjustSize();
    QRect anchor = m_tray->geometry();
    if (!anchor.isValid())
        anchor = QRect(QCursor::pos(), QSize(1, 1));
    m_popover->move(popupPosition(anchor, m_popover->size()));
    m_popover->show();
    m_popover->activateWindow();
}

} // namespace quorvane
