#include "Quorvane/Views/MainWindow/RulesTable.h"

#include "Quorvane/AppModel.h"
#include "Quorvane/Views/Design/QuorStyle.h"
#include "Quorvane/Views/MainWindow/ContentView.h"
#include "Quorvane/Views/MainWindow/RuleRow.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QMimeData>
#include <QVBoxLayout>

#include <algorithm>

namespace quorvane {

namespace {

QWidget* divider(QWidget* parent)
{
    auto* line = new QWidget(parent);
    QuorStyle::setRole(*line, QuorRole::divider);
    line->setFixedHeight(1);
    return line;
}

QLabel* headerLabel(const QString& text, int width, Qt::Alignment alignment, QWidget* parent)
{
    auto* label = new QLabel(text, parent);
    QuorStyle::setRole(*label, QuorRole::tableHeader);
    label->setFixedWidth(width);
    label->setAlignment(alignment | Qt::AlignVCenter);
    return label;
}

QWidget* headerRow(QWidget* parent)
{
    auto* header = new QWidget(parent);
    auto* layout = new QHBoxLayout(header);
    layout->setContentsMargins(22, 12, 22, 12);
    layout->setSpacing(0);
    layout->addWidget(
        headerLabel(QStringLiteral("RULE / ALL CONDITIONS"), 220, Qt::AlignLeft, header));
    for (const SettingKey key : allSettingKeys) {
        const std::string_view shown = title(key);
        QLabel* label
            = headerLabel(QString::fromUtf8(shown.data(), static_cast<qsizetype>(shown.size())), 88,
                Qt::AlignLeft, header);
        label->setObjectName(
            QString::fromLatin1(rawValue(key).data(), static_cast<qsizetype>(rawValue(key).size()))
            + QStringLiteral("Header"));
        layout->addWidget(label);
    }
    layout->addWidget(headerLabel(QStringLiteral("ORDER"), 72, Qt::AlignHCenter, header));
    header->setFixedHeight(RulesTable::headerHeight - 1);
    return header;
}

} // namespace

QMimeData* ruleDragData(const Rule& rule)
{
    auto* data = new QMimeData;
    data->setText(QString::fromStdString(rule.id.uuidString()));
    return data;
}

RulesTable::RulesTable(ContentView& content, UUID profileID, QWidget* parent)
    : QWidget(parent)
    , m_content(content)
    , m_profileID(std::move(profileID))
    , m_rowsLayout(new QVBoxLayout)
{
    setFixedWidth(tableWidth);
    m_rowsLayout->setSpacing(0);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(headerRow(this));
    layout->addWidget(divider(this));
    layout->addLayout(m_rowsLayout);
    layout->addStretch();
    refresh();
}

RuleRow* RulesTable::rowOf(const UUID& ruleID) const
{
    const auto row = std::ranges::find(m_rows, ruleID, &RuleRow::ruleID);
    return row == m_rows.end() ? nullptr : *row;
}

void RulesTable::refresh()
{
    const Profile* profile = m_content.profileWithID(m_profileID);
    const std::vector<Rule> rules = profile ? profile->rules : std::vector<Rule>{};

    if (!std::ranges::equal(rules, m_rows, {}, &Rule::id, &RuleRow::ruleID)) {
        std::vector<RuleRow*> rows;
        for (const Rule& rule : rules) {
            RuleRow* row = rowOf(rule.id);
            rows.push_back(row ? row : new RuleRow(m_content, m_profileID, rule, this));
        }
        for (RuleRow* row : m_rows) {
            if (std::ranges::find(rows, row) == rows.end()) {
                // Later: the row may be the one whose button or drop led here.
                row->hide();
                row->deleteLater();
            }
        }
        for (QWidget* line : m_dividers)
            delete line;
        m_dividers.clear();
        for (RuleRow* row : rows)
            m_rowsLayout->removeWidget(row);
        for (RuleRow* row : rows) {
            m_rowsLayout->addWidget(row);
            m_dividers.push_back(divider(this));
            m_rowsLayout->addWidget(m_dividers.back());
            row->show();
            m_dividers.back()->show();
        }
        m_rows = std::move(rows);
    }
    for (std::size_t index = 0; index < m_rows.size(); ++index)
        m_rows[index]->showRule(rules[index], index, rules.size());
}

} // namespace quorvane
