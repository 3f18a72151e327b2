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
        painter.drawText(
            QRect(area.left() + left, area.top(), width, area.height()), Qt::AlignCenter, piece);
    });
}

int MonospacedDigitsLabel::layOut(
    const std::function<void(const QString& piece, int left, int width)>& place) const
{
    const QFontMetrics metrics = fontMetrics();
    int digitWidth = 0;
    for (char digit = '0'; digit <= '9'; ++digit)
        digitWidth = std::max(digitWidth, metrics.horizontalAdvance(QChar(digit)));
    int left = 0;
    QString run;
    const auto placeRun = [&] {
        if (run.isEmpty())
            return;
        const int width = metrics.horizontalAdvance(run);
        place(run, left, width);
        left += width;
        run.clear();
    };
    for (const QChar character : text()) {
        if (!character.isDigit()) {
            run += character;
            continue;
        }
        placeRun();
        place(QString(character), left, digitWidth);
        left += digitWidth;
    }
    placeRun();
    return left;
}

} // namespace quorvane
