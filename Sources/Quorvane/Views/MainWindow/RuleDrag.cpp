#include "Quorvane/Views/MainWindow/RuleDrag.h"

#include <QMimeData>
#include <QString>

namespace quorvane {

QMimeData* ruleDragData(const Rule& rule)
{
    auto* data = new QMimeData;
    data->setText(QString::fromStdString(rule.id.uuidString()));
    return data;
}

std::optional<UUID> draggedRuleID(const QString& text)
{
    return UUID::parse(text.trimmed().toStdString());
}

} // namespace quorvane
