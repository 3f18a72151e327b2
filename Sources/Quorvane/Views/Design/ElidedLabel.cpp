#include "Quorvane/Views/Design/ElidedLabel.h"

#include <QEvent>
#include <QPainter>
#include <QStyle>
#include <QTextLayout>

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

void ElidedLabel::setMaximumLineCount(int count)
{
    m_maximumLineCount = count;
    // Its height follows its width now: a fixed one would hold it to one line.
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Preferred);
}

bool ElidedLabel::isElided() const
{
    return shownLines(contentsRect().width()).join(QString()) != text();
}

bool ElidedLabel::hasHeightForWidth() const { return m_maximumLineCount > 1; }

int ElidedLabel::heightForWidth(int width) const
{
    const QMargins margins = contentsMargins();
    const auto lines
        = static_cast<int>(shownLines(width - margins.left() - margins.right()).size());
    return lines * fontMetrics().lineSpacing() + margins.top() + margins.bottom();
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
    const QString shown = shownLines(area.width()).join(QChar::LineFeed);
    style()->drawItemText(
        &painter, area, alignment(), palette(), isEnabled(), shown, foregroundRole());
}

QStringList ElidedLabel::shownLines(int width) const
{
    return elidedLines(text(), font(), width, m_maximumLineCount);
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

QStringList elidedLines(const QString& text, const QFont& font, int width, int maximumLineCount)
{
    const QFontMetrics metrics(font);
    QTextLayout layout(text, font);
    QTextOption wrapping;
    wrapping.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    layout.setTextOption(wrapping);
    QStringList lines;
    layout.beginLayout();
    for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
        line.setLineWidth(width);
        if (lines.size() + 1 == maximumLineCount) {
            const QString rest = text.mid(line.textStart());
            const bool fits = metrics.horizontalAdvance(rest) <= width;
            lines.push_back(fits ? rest : metrics.elidedText(rest, Qt::ElideRight, width));
            break;
        }
        lines.push_back(text.mid(line.textStart(), line.textLength()));
    }
    layout.endLayout();
    return lines;
}

} // namespace quorvane
