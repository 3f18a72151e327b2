#include "Quorvane/Views/MainWindow/ProfileRowDelegate.h"

#include "Quorvane/Views/Design/QuorStyle.h"
#include "Quorvane/Views/MainWindow/ProfileListModel.h"

#include <QAbstractItemView>
#include <QHelpEvent>
#include <QPainter>
#include <QTextDocument>
#include <QToolTip>

namespace quorvane {

namespace {

constexpr int padding = 10;
constexpr int spacing = 6;
constexpr int iconSide = 16;
constexpr int markSide = 7;
constexpr double cornerRadius = 9;

QFont rowFont(const QStyleOptionViewItem& option)
{
    QFont font = option.font;
    font.setWeight(QFont::Medium);
    return font;
}

QColor highlightColour(const QString& state)
{
    QColor colour;
    if (state == QLatin1String("dropTarget")) {
        colour = QuorStyle::green();
        colour.setAlphaF(0.16F);
    } else if (state == QLatin1String("selected")) {
        colour = QuorStyle::amber();
        colour.setAlphaF(0.14F);
    }
    return colour;
}

bool hasActiveMark(const QModelIndex& index)
{
    return index.data(ProfileListModel::isActiveRole).toBool();
}

} // namespace

QRect ProfileRowDelegate::backgroundRect(const QRect& cell)
{
    return cell.adjusted(0, gap / 2, 0, -gap / 2);
}

QRect ProfileRowDelegate::contentRect(const QRect& cell)
{
    return backgroundRect(cell).adjusted(padding, padding, -padding, -padding);
}

QRect ProfileRowDelegate::activeMarkRect(const QRect& cell)
{
    const QRect content = contentRect(cell);
    return {content.right() + 1 - markSide, content.center().y() - markSide / 2 + 1, markSide,
        markSide};
}

QRect ProfileRowDelegate::nameRect(const QRect& cell, bool hasActiveMark)
{
    const QRect content = contentRect(cell);
    const int right = hasActiveMark ? activeMarkRect(cell).left() - spacing : content.right() + 1;
    const int left = content.left() + iconSide + spacing;
    return {left, content.top(), std::max(0, right - left), content.height()};
}

QString ProfileRowDelegate::shownName(const QStyleOptionViewItem& option, const QModelIndex& index)
{
    const QFontMetrics metrics(rowFont(option));
    return metrics.elidedText(index.data(Qt::DisplayRole).toString(), Qt::ElideRight,
        nameRect(option.rect, hasActiveMark(index)).width());
}

void ProfileRowDelegate::paint(
    QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const
{
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);
    const QRectF background = QRectF(backgroundRect(option.rect)).adjusted(0.5, 0.5, -0.5, -0.5);
    if (const QColor fill = highlightColour(index.data(ProfileListModel::stateRole).toString());
        fill.isValid()) {
        painter->setPen(Qt::NoPen);
        painter->setBrush(fill);
        painter->drawRoundedRect(background, cornerRadius, cornerRadius);
    }
    if (option.state & QStyle::State_HasFocus) {
        painter->setPen(QuorStyle::focusRingPen());
        painter->setBrush(Qt::NoBrush);
        painter->drawRoundedRect(background, cornerRadius, cornerRadius);
    }

    const QRect content = contentRect(option.rect);
    const QRect icon(content.left(), content.center().y() - iconSide / 2 + 1, iconSide, iconSide);
    const bool isEnabled = option.state & QStyle::State_Enabled;
    index.data(Qt::DecorationRole)
        .value<QIcon>()
        .paint(painter, icon, Qt::AlignCenter, isEnabled ? QIcon::Normal : QIcon::Disabled);
    if (hasActiveMark(index)) {
        painter->setPen(Qt::NoPen);
        painter->setBrush(QuorStyle::green());
        painter->drawEllipse(activeMarkRect(option.rect));
    }
    if (!index.data(ProfileListModel::isRenamingRole).toBool()) {
        painter->setFont(rowFont(option));
        painter->setPen(option.palette.color(
            isEnabled ? QPalette::Normal : QPalette::Disabled, QPalette::WindowText));
        painter->drawText(nameRect(option.rect, hasActiveMark(index)),
            Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, shownName(option, index));
    }
    painter->restore();
}

QSize ProfileRowDelegate::sizeHint(const QStyleOptionViewItem&, const QModelIndex&) const
{
    // No width of its own: a row is as wide as the list shows, scroll bar or not.
    return {0, rowHeight + gap};
}

bool ProfileRowDelegate::helpEvent(QHelpEvent* event, QAbstractItemView* view,
    const QStyleOptionViewItem& option, const QModelIndex& index)
{
    if (event->type() != QEvent::ToolTip)
        return QStyledItemDelegate::helpEvent(event, view, option, index);
    QString tip;
    if (hasActiveMark(index) && activeMarkRect(option.rect).contains(event->pos()))
        tip = QStringLiteral("Active profile");
    else if (const QString name = index.data(Qt::DisplayRole).toString();
             nameRect(option.rect, hasActiveMark(index)).contains(event->pos())
             && shownName(option, index) != name)
        tip = Qt::convertFromPlainText(name, Qt::WhiteSpaceNoWrap); // a name is never markup
    if (tip.isEmpty())
        QToolTip::hideText();
    else
        QToolTip::showText(event->globalPos(), tip, view->viewport(), option.rect);
    return true;
}

} // namespace quorvane
