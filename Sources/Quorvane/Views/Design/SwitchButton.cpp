#include "Quorvane/Views/Design/SwitchButton.h"

#include "Quorvane/Views/Design/QuorStyle.h"

#include <QPainter>

namespace quorvane {

namespace {

constexpr int trackWidth = 34;
constexpr int trackHeight = 20;
constexpr int titleGap = 8;

} // namespace

SwitchButton::SwitchButton(const QString& title, QWidget* parent)
    : QAbstractButton(parent)
{
    setText(title);
    setAccessibleName(title);
    setCheckable(true);
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::StrongFocus);
}

QSize SwitchButton::sizeHint() const
{
    const int titleWidth
        = text().isEmpty() ? 0 : titleGap + fontMetrics().horizontalAdvance(text());
    return {trackWidth + titleWidth + 2, std::max(trackHeight, fontMetrics().height()) + 2};
}

void SwitchButton::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF track(1, (height() - trackHeight) / 2.0, trackWidth, trackHeight);
    QColor fill = isChecked() ? QuorStyle::green() : QColor(0xC7, 0xC7, 0xCC);
    if (!isEnabled())
        fill.setAlpha(110);
    painter.setPen(hasFocus() ? QuorStyle::focusRingPen() : QPen(Qt::NoPen));
    painter.setBrush(fill);
    painter.drawRoundedRect(track, trackHeight / 2.0, trackHeight / 2.0);

    const double knob = trackHeight - 4;
    const double knobX = isChecked() ? track.right() - knob - 2 : track.left() + 2;
    painter.setPen(Qt::NoPen);
    painter.setBrush(Qt::white);
    painter.drawEllipse(QRectF(knobX, track.top() + 2, knob, knob));

    if (text().isEmpty())
        return;
    painter.setPen(
        palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::WindowText));
    const QRect title(trackWidth + titleGap + 1, 0, width() - trackWidth - titleGap - 1, height());
    painter.drawText(title, Qt::AlignVCenter | Qt::AlignLeft, text());
}

} // namespace quorvane
