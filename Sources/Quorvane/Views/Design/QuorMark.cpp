#include "Quorvane/Views/Design/QuorMark.h"

#include "Quorvane/Views/Design/QuorStyle.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

#include <cmath>
#include <numbers>

namespace quorvane {

QuorMark::QuorMark(int size, QWidget* parent)
    : QWidget(parent)
{
    setFixedSize(size, size);
    setAccessibleName(QStringLiteral("QuorVane"));
}

void QuorMark::paint(QPainter& painter, int size)
{
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    const double side = size;
    QLinearGradient tile(0, 0, 0, side);
    tile.setColorAt(0, QuorStyle::amber().lighter(115));
    tile.setColorAt(1, QuorStyle::amber().darker(115));
    painter.setPen(Qt::NoPen);
    painter.setBrush(tile);
    painter.drawRoundedRect(QRectF(0, 0, side, side), side * 0.24, side * 0.24);

    // A sun resting on the horizon: a half disc and its rays.
    const QPointF centre(side / 2, side * 0.64);
    const double radius = side * 0.2;
    painter.setBrush(Qt::white);
    QPainterPath sun;
    sun.moveTo(centre);
    sun.arcTo(QRectF(centre.x() - radius, centre.y() - radius, 2 * radius, 2 * radius), 0, 180);
    sun.closeSubpath();
    painter.drawPath(sun);
    painter.setPen(QPen(Qt::white, std::max(1.0, side * 0.06), Qt::SolidLine, Qt::RoundCap));
    constexpr int rays = 5;
    for (int ray = 0; ray < rays; ++ray) {
        const double angle = std::numbers::pi * (ray + 0.5) / rays;
        const QPointF direction(std::cos(angle), -std::sin(angle));
        painter.drawLine(centre + direction * radius * 1.45, centre + direction * radius * 1.95);
    }
    painter.drawLine(QPointF(side * 0.18, centre.y()), QPointF(side * 0.82, centre.y()));
    painter.restore();
}

void QuorMark::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    paint(painter, std::min(width(), height()));
}

} // namespace quorvane
