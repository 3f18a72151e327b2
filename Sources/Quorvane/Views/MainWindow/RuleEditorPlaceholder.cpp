#include "Quorvane/Views/MainWindow/RuleEditorPlaceholder.h"

#include "Quorvane/Views/Design/PageHeading.h"

#include <QPushButton>
#include <QVBoxLayout>

namespace quorvane {

RuleEditorPlaceholder::RuleEditorPlaceholder(
    AppModel&, const RuleDraft& draft, std::function<void()> close, QWidget* parent)
    : QWidget(parent)
{
    const QString name = draft.rule.name.empty() ? QStringLiteral("New rule")
                                                 : QString::fromStdString(draft.rule.name);
    auto* done = new QPushButton(QStringLiteral("Close"), this);
    done->setObjectName(QStringLiteral("close"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(24, 26, 24, 26);
    layout->setSpacing(20);
    layout->addWidget(new PageHeading(QStringLiteral("Rule"), name, std::nullopt, this));
    layout->addStretch();
    layout->addWidget(done, 0, Qt::AlignRight);
    connect(done, &QPushButton::clicked, this, [close = std::move(close)] { close(); });
}

} // namespace quorvane
