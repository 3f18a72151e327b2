#include "Quorvane/Views/Design/QuorDisclosureHeader.h"

#include "Quorvane/Views/Design/QuorStyle.h"

#include <QPainter>

namespace quorvane {

QuorDisclosureHeader::QuorDisclosureHeader(
    const QString& title, bool isExpanded, const std::optional<QString>& subtitle, QWidget* parent)
    : QToolButton(parent)
    , m_isExpanded(isExpanded)
{
    QuorStyle::setRole(*this, QuorRole::disclosure);
    setText(subtitle ? title + QStringLiteral("  ·  ") + *subtitle : title);
    setAccessibleName(title);
    setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    setAutoRaise(true);
    setCursor(Qt::PointingHandCursor);
    setExpanded(isExpanded);
    connect(this, &QToolButton::clicked, this, [this] {
        setExpanded(!m_isExpanded);
        emit expandedChanged(m_isExpanded);
    });
}

void QuorDisclosureHeader::setExpanded(bool isExpanded)
{
    m_isExpanded = isExpanded;
    setArrowType(isExpanded ? Qt::DownArrow : Qt::RightArrow);
}

void QuorDisclosureHeader::paintEvent(QPaintEvent* event)
{
    QToolButton::paintEvent(event);
    // The style sheet draws the chevron and title whole, leaving the style no place for the ring.
    if (!hasFocus())
        return;
    QPainter painter(this);
    QuorStyle::drawFocusRing(painter, rect());
}

} // namespace quorvane
