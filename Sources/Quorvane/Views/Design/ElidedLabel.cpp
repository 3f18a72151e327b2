#include "Quorvane/Views/Design/ElidedLabel.h"

#include <QEvent>
#include <QPainter>
#include <QStyle>

namespace quorvane {

namespace {

/// What the label keeps of a long text at the least: a few letters and the ellipsis.
constexpr const char* shortestShown = "Mmm…";

} // namespace

ElidedLabel::ElidedLabel(QWidget* parent)
    : QLabel(parent)
{
    setTextFormat(Qt::PlainText); // a name is shown as typed, never as markup
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
}

void ElidedLabel::setText(const QString& text)
{
    QLabel::setText(text);
    refreshToolTip();
}

bool ElidedLabel::isElided() const
{
    return fontMetrics().horizontalAdvance(text()) > contentsRect().width();
}

QSize ElidedLabel::minimumSizeHint() const
{
    const QMargins margins = contentsMargins();
    return {fontMetrics().horizontalAdvance(QString::fromUtf8(shortestShown)) + margins.left()
            + margins.right(),
        QLabel::minimumSizeHint().height()};
}

void ElidedLabel::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    const QRect area = contentsRect();
    const QString shown = fontMetrics().elidedText(text(), Qt::ElideRight, area.width());
    style()->drawItemText(
        &painter, area, alignment(), palette(), isEnabled(), shown, foregroundRole());
}

void ElidedLabel::resizeEvent(QResizeEvent* event)
{
    QLabel::resizeEvent(event);
    refreshToolTip();
}

void ElidedLabel::changeEvent(QEvent* event)
{
    QLabel::changeEvent(event);
    // The style sheet sets the font when the label is polished, after its text.
    if (event->type() == QEvent::FontChange)
        refreshToolTip();
}

void ElidedLabel::refreshToolTip() { setToolTip(isElided() ? text() : QString()); }

} // namespace quorvane
