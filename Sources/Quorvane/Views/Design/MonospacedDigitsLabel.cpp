#include "Quorvane/Views/Design/MonospacedDigitsLabel.h"

#include <QPainter>

#include <algorithm>

namespace quorvane {

MonospacedDigitsLabel::MonospacedDigitsLabel(QWidget* parent)
    : QLabel(parent)
{
    setTextFormat(Qt::PlainText);
}

QSize MonospacedDigitsLabel::sizeHint() const
{
    const QMargins margins = contentsMargins();
    return {layOut([](const QString&, int, int) {}) + margins.left() + margins.right(),
        fontMetrics().height() + margins.top() + margins.bottom()};
}

QSize MonospacedDigitsLabel::minimumSizeHint() const { return sizeHint(); }

void MonospacedDigitsLabel::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setPen(
        palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, foregroundRole()));
    const QRect area = contentsRect();
    layOut([&](const QString& piece, int left, int width) {
        const bool isDigit = piece.size() == 1 && piece.front().isDigit();
        painter.drawText(QRect(area.left() + left, area.top(), width, area.height()),
            Qt::AlignVCenter | (isDigit ? Qt::AlignHCenter : Qt::AlignLeft), piece);
    });
}

int MonospacedDigitsLabel::layOut(
    const std::function<void(const QString& piece, int left, int width)>& place) const
{
    const QFontMetrics metrics = fontMetrics();
    int digitWidth = 0;
    for (char digit = '0'; digit <= '9'; ++digit)
        digitWidth = std::max(digitWidth, metrics.horizontalAdvance(QChar(digit)));
    const QString shown = text();
    int left = 0;
    qsizetype start = 0;
    while (start < shown.size()) {
        qsizetype end = start + 1;
        if (!shown[start].isDigit()) {
            while (end < shown.size() && !shown[end].isDigit())
                ++end;
        }
        const QString piece = shown.mid(start, end - start);
        const int width = shown[start].isDigit() ? digitWidth : metrics.horizontalAdvance(piece);
        place(piece, left, width);
        left += width;
        start = end;
    }
    return left;
}

} // namespace quorvane
