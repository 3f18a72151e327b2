#include "Quorvane/Views/MenuBarExtra.h"

#include "Quorvane/Views/DisplayTest/DisplayTestPresentation.h"
#include "Quorvane/Views/MenuView.h"

#include <QApplication>
#include <QCursor>
#include <QFrame>
#include <QGuiApplication>
#include <QIcon>
#include <QPainter>
#include <QPixmap>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QSystemTrayIcon>
#include <QVBoxLayout>
#include <QWidget>

#include <algorithm>
#include <cassert>
#include <cmath>
#include <memory>
#include <numbers>

namespace quorvane {

namespace {

constexpr int popoverWidth = 420;

/// `rect` mirrored across the diagonal: rows become columns, so that one rule places the popover
/// both beside a tray at the top or bottom and beside one at a side.
QRect transposed(const QRect& rect) { return {rect.y(), rect.x(), rect.height(), rect.width()}; }

/// Below `anchor` when the popover fits there or there is no more room above, else above it;
/// centred on it across, kept inside `available`.
QRect belowOrAbove(const QRect& anchor, const QRect& available, const QSize& wanted)
{
    const int belowTop = std::max(anchor.bottom() + 1, available.top());
    const int roomBelow = std::max(0, available.bottom() + 1 - belowTop);
    const int aboveBottom = std::min(anchor.top(), available.bottom() + 1);
    const int roomAbove = std::max(0, aboveBottom - available.top());
    const bool isBelow = roomBelow >= wanted.height() || roomBelow >= roomAbove;
    const int height = std::min(wanted.height(), isBelow ? roomBelow : roomAbove);
    const int width = std::min(wanted.width(), available.width());
    const int x = std::clamp(anchor.center().x() - width / 2, available.left(),
        available.left() + available.width() - width);
    return {x, isBelow ? belowTop : aboveBottom - height, width, height};
}

/// Whether a modal panel is open while it, or the window it belongs to, is minimised: without a
/// task bar nothing else would bring either back.
bool isPanelOutOfReach()
{
    const QWidget* panel = QApplication::activeModalWidget();
    if (!panel)
        return false;
    const QWidget* owner = panel->parentWidget();
    return panel->isMinimized() || (owner && owner->window()->isMinimized());
}

} // namespace

QRect popoverGeometry(
    const QRect& icon, const QPoint& pointer, const QRect& available, const QSize& wanted)
{
    const QRect anchor = icon.isEmpty() ? QRect(pointer, QSize(1, 1)) : icon;
    // A tray left or right of the free area stands in a panel at the side.
    if (anchor.right() < available.left() || anchor.left() > available.right())
        return transposed(
            belowOrAbove(transposed(anchor), transposed(available), wanted.transposed()));
    return belowOrAbove(anchor, available, wanted);
}

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

MenuBarExtra::Place MenuBarExtra::desktopPlace()
{
    return QSystemTrayIcon::isSystemTrayAvailable() ? Place::tray : Place::window;
}

MenuBarExtra::MenuBarExtra(AppModel& model, Place place, QObject* parent)
    : QObject(parent)
{
    const bool inTray = place == Place::tray;
    m_popover = std::make_unique<QWidget>(
        nullptr, inTray ? Qt::Popup | Qt::FramelessWindowHint : Qt::Window);
    m_popover->setWindowTitle(QStringLiteral("QuorVane"));
    m_popover->setWindowIcon(sunIcon());
    m_scroll = new QScrollArea(m_popover.get());
    m_scroll->setFrameShape(QFrame::NoFrame);
    m_scroll->setWidgetResizable(true);
    m_scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    // The padding around the view scrolls with it; the scroll bar sits at the popover's edge.
    auto* content = new QWidget;
    m_menuView = new MenuView(model, content);
    (new QVBoxLayout(content))->addWidget(m_menuView);
    m_scroll->setWidget(content);
    content->installEventFilter(this);
    auto* layout = new QVBoxLayout(m_popover.get());
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_scroll);
    m_popover->setFixedWidth(popoverWidth);
    new DisplayTestPresentation(model, *m_popover, true);

    if (!inTray) {
        const QScreen* screen = QGuiApplication::primaryScreen();
        const QSize wanted = wantedSize();
        m_popover->resize(screen ? wanted.boundedTo(screen->availableGeometry().size()) : wanted);
        m_popover->show();
        return;
    }
    // An open popup would spend the user's next click anywhere else on closing itself: the
    // window they asked for must get that click.
    connect(m_menuView, &MenuView::mainWindowRequested, m_popover.get(), &QWidget::hide);
    m_tray = new QSystemTrayIcon(sunIcon(), this);
    m_tray->setToolTip(QStringLiteral("QuorVane"));
    // The right button too: the icon has no menu of its own, and desktops with trays expect
    // that button to do something.
    connect(m_tray, &QSystemTrayIcon::activated, this,
        [this](QSystemTrayIcon::ActivationReason reason) {
            if (reason != QSystemTrayIcon::Trigger && reason != QSystemTrayIcon::DoubleClick
                && reason != QSystemTrayIcon::Context)
                return;
            if (isPanelOutOfReach())
                emit m_menuView->mainWindowRequested();
            else
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
    const QRect icon = m_tray->geometry();
    const QPoint pointer = QCursor::pos();
    const QScreen* screen = QGuiApplication::screenAt(icon.isEmpty() ? pointer : icon.center());
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    openPopover(icon, pointer, screen ? screen->availableGeometry() : QRect(pointer, wantedSize()));
}

void MenuBarExtra::openPopover(const QRect& icon, const QPoint& pointer, const QRect& available)
{
    m_anchor = {.icon = icon, .pointer = pointer, .available = available};
    place(wantedSize());
    // Each opening starts at the top, wherever the last one was scrolled to.
    m_scroll->verticalScrollBar()->setValue(0);
    m_popover->show();
    m_popover->activateWindow();
}

bool MenuBarExtra::eventFilter(QObject* watched, QEvent* event)
{
    // The content asks for a new layout whenever what it wants changes: a status line or a
    // notice comes or goes.
    if (event->type() == QEvent::LayoutRequest && m_tray && m_popover->isVisible())
        fitPopover();
    return QObject::eventFilter(watched, event);
}

void MenuBarExtra::fitPopover()
{
    // Open, the layouts keep their sizes up to date: no need to drop them as wantedSize() does.
    place(contentSize());
}

void MenuBarExtra::place(const QSize& wanted)
{
    const QRect geometry
        = popoverGeometry(m_anchor.icon, m_anchor.pointer, m_anchor.available, wanted);
    // The bar shows only while the content is taller than the room: left to itself, the scroll
    // area judges by the width it had, and a line that wraps once more beside a bar keeps the bar.
    const Qt::ScrollBarPolicy bar
        = geometry.height() < wanted.height() ? Qt::ScrollBarAlwaysOn : Qt::ScrollBarAlwaysOff;
    if (m_scroll->verticalScrollBarPolicy() != bar)
        m_scroll->setVerticalScrollBarPolicy(bar);
    if (geometry == m_popover->geometry())
        return;
    m_popover->setFixedSize(geometry.size());
    m_popover->move(geometry.topLeft());
}

QSize MenuBarExtra::wantedSize() const
{
    const QWidget& content = *m_menuView->parentWidget();
    // Until the popover is first shown, what changes inside it (the displays once the model has
    // loaded) never reaches the sizes its layouts keep of their widgets: drop them, or the first
    // opening is short. Its hidden widgets don't tell their layouts, so drop those sizes too.
    for (QWidget* widget : content.findChildren<QWidget*>())
        widget->updateGeometry();
    for (QLayout* layout : content.findChildren<QLayout*>())
        layout->invalidate();
    return contentSize();
}

QSize MenuBarExtra::contentSize() const
{
    const QWidget& content = *m_menuView->parentWidget();
    assert(content.hasHeightForWidth() && "the popover's wrapped lines set its height");
    return {popoverWidth, content.heightForWidth(popoverWidth)};
}

} // namespace quorvane
