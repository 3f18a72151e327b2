#include "Quorvane/Views/Design/SymbolIcon.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

#include <functional>
#include <map>
#include <string>

namespace quorvane {

namespace {

// Every symbol is drawn on a 16-unit square.
constexpr int side = 16;

using Drawing = std::function<void(QPainter&)>;

void stack(QPainter& painter)
{
    painter.drawRoundedRect(QRectF(2.5, 5.5, 11, 8), 1.5, 1.5);
    painter.drawLine(QPointF(4, 3.5), QPointF(12, 3.5));
    painter.drawLine(QPointF(5.5, 1.5), QPointF(10.5, 1.5));
}

void chevron(QPainter& painter, bool pointsUp)
{
    const double tip = pointsUp ? 5 : 11;
    const double base = pointsUp ? 10.5 : 5.5;
    painter.drawPolyline(QPolygonF{QPointF(3.5, base), QPointF(8, tip), QPointF(12.5, base)});
}

const std::map<std::string, Drawing, std::less<>>& drawings()
{
    static const std::map<std::string, Drawing, std::less<>> all{
        {"rectangle.stack", stack},
        {"lock.rectangle.stack",
            [](QPainter& painter) {
                stack(painter);
                painter.drawRect(QRectF(6, 9, 4, 3));
                painter.drawArc(QRectF(6.5, 7, 3, 4), 0, 180 * 16);
            }},
        {"plus",
            [](QPainter& painter) {
                painter.drawLine(QPointF(8, 3), QPointF(8, 13));
                painter.drawLine(QPointF(3, 8), QPointF(13, 8));
            }},
        {"display.2",
            [](QPainter& painter) {
                painter.drawRoundedRect(QRectF(1.5, 2.5, 9, 7), 1, 1);
                painter.drawRoundedRect(QRectF(6.5, 6.5, 8, 6), 1, 1);
                painter.drawLine(QPointF(8.5, 14.5), QPointF(12.5, 14.5));
            }},
        {"slider.horizontal.3",
            [](QPainter& painter) {
                for (const double y : {3.5, 8.0, 12.5})
                    painter.drawLine(QPointF(2, y), QPointF(14, y));
                painter.setBrush(painter.pen().color());
                painter.drawEllipse(QPointF(5, 3.5), 1.6, 1.6);
                painter.drawEllipse(QPointF(10.5, 8), 1.6, 1.6);
                painter.drawEllipse(QPointF(7, 12.5), 1.6, 1.6);
            }},
        {"checkmark.circle.fill",
            [](QPainter& painter) {
                painter.drawEllipse(QRectF(1.5, 1.5, 13, 13));
                painter.drawPolyline(
                    QPolygonF{QPointF(5, 8.5), QPointF(7.2, 10.7), QPointF(11.2, 5.8)});
            }},
        {"xmark",
            [](QPainter& painter) {
                painter.drawLine(QPointF(4, 4), QPointF(12, 12));
                painter.drawLine(QPointF(12, 4), QPointF(4, 12));
            }},
        {"ellipsis",
            [](QPainter& painter) {
                painter.setBrush(painter.pen().color());
                for (const double x : {3.5, 8.0, 12.5})
                    painter.drawEllipse(QPointF(x, 8), 1.1, 1.1);
            }},
        {"line.3.horizontal",
            [](QPainter& painter) {
                for (const double y : {4.5, 8.0, 11.5})
                    painter.drawLine(QPointF(3, y), QPointF(13, y));
            }},
        {"chevron.up", [](QPainter& painter) { chevron(painter, true); }},
        {"chevron.down", [](QPainter& painter) { chevron(painter, false); }},
        {"exclamationmark.triangle",
            [](QPainter& painter) {
                painter.drawPolygon(
                    QPolygonF{QPointF(8, 1.8), QPointF(14.8, 14), QPointF(1.2, 14)});
                painter.drawLine(QPointF(8, 6), QPointF(8, 9.8));
                painter.drawPoint(QPointF(8, 12));
            }},
        {"exclamationmark.circle",
            [](QPainter& painter) {
                painter.drawEllipse(QRectF(1.5, 1.5, 13, 13));
                painter.drawLine(QPointF(8, 4.5), QPointF(8, 8.8));
                painter.drawPoint(QPointF(8, 11.2));
            }},
        {"folder",
            [](QPainter& painter) {
                painter.drawPolygon(QPolygonF{QPointF(1.5, 3.5), QPointF(6, 3.5), QPointF(7.5, 5),
                    QPointF(14.5, 5), QPointF(14.5, 13), QPointF(1.5, 13)});
                painter.drawLine(QPointF(1.5, 7), QPointF(14.5, 7));
            }},
        {"square.grid.2x2",
            [](QPainter& painter) {
                for (const double x : {2.0, 9.0}) {
                    for (const double y : {2.0, 9.0})
                        painter.drawRoundedRect(QRectF(x, y, 5, 5), 1.2, 1.2);
                }
            }},
    };
    return all;
}

QPixmap draw(const Drawing& drawing, const QColor& colour, int pixels)
{
    QPixmap pixmap(pixels, pixels);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.scale(static_cast<double>(pixels) / side, static_cast<double>(pixels) / side);
    painter.setPen(QPen(colour, 1.4, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    drawing(painter);
    return pixmap;
}

} // namespace

QIcon symbolIcon(std::string_view symbol, const QColor& colour)
{
    const auto found = drawings().find(symbol);
    if (found == drawings().end())
        return {};
    QIcon icon;
    for (const int pixels : {16, 32, 64})
        icon.addPixmap(draw(found->second, colour, pixels));
    return icon;
}

} // namespace quorvane
