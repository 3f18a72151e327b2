#include "Quorvane/Views/Design/Notice.h"

#include "Quorvane/Views/Design/QuorStyle.h"
#include "Quorvane/Views/Design/SymbolIcon.h"

#include <QHBoxLayout>
#include <QLabel>

namespace quorvane {

Notice::Notice(const QString& message, std::string_view symbol, QWidget* parent)
    : QFrame(parent)
    , m_message(new QLabel(message, this))
{
    QuorStyle::setRole(*this, QuorRole::notice);
    m_message->setObjectName(QStringLiteral("message"));
    m_message->setWordWrap(true);
    m_message->setTextInteractionFlags(Qt::TextSelectableByMouse);

    const bool warns = symbol == "exclamationmark.triangle";
    auto* icon = new QLabel(this);
    icon->setPixmap(
        symbolIcon(symbol, warns ? QuorStyle::amber() : QuorStyle::secondaryText()).pixmap(18, 18));
    icon->setAlignment(Qt::AlignTop);

    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(14, 12, 14, 12);
    layout->setSpacing(12);
    layout->addWidget(icon);
    layout->addWidget(m_message, 1);
}

void Notice::setMessage(const QString& message) { m_message->setText(message); }

} // namespace quorvane
