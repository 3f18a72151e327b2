#include "Quorvane/Views/Design/PageHeading.h"

#include "Quorvane/Views/Design/ElidedLabel.h"
#include "Quorvane/Views/Design/QuorStyle.h"

#include <QLabel>
#include <QVBoxLayout>

namespace quorvane {

PageHeading::PageHeading(const QString& eyebrow, const QString& title,
    const std::optional<QString>& subtitle, QWidget* parent)
    : QWidget(parent)
    , m_eyebrow(new QLabel(eyebrow.toUpper(), this))
    , m_title(new ElidedLabel(this))
    , m_subtitle(new QLabel(this))
{
    m_eyebrow->setObjectName(QStringLiteral("eyebrow"));
    m_title->setObjectName(QStringLiteral("title"));
    m_subtitle->setObjectName(QStringLiteral("subtitle"));
    QuorStyle::setRole(*m_eyebrow, QuorRole::eyebrow);
    QuorStyle::setRole(*m_title, QuorRole::pageTitle);
    QuorStyle::setRole(*m_subtitle, QuorRole::subtitle);
    m_title->setText(title);
    m_subtitle->setWordWrap(true);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(6);
    layout->addWidget(m_eyebrow);
    layout->addWidget(m_title);
    layout->addWidget(m_subtitle);
    setSubtitle(subtitle);
}

void PageHeading::setTitle(const QString& title) { m_title->setText(title); }

void PageHeading::setTitleLineCount(int count) { m_title->setMaximumLineCount(count); }

void PageHeading::setSubtitle(const std::optional<QString>& subtitle)
{
    m_subtitle->setText(subtitle.value_or(QString()));
    m_subtitle->setVisible(subtitle.has_value());
}

} // namespace quorvane
