#include "Quorvane/Views/MainWindow/RulesTableModel.h"

#include "Quorvane/AppModel.h"
#include "Quorvane/Views/MainWindow/RuleCellLabels.h"

#include <algorithm>
#include <cassert>
#include <numeric>
#include <string_view>

namespace quorvane {

namespace {

/// Whether the rule at `index` of `rules` names the same row as the one at `rowIndex` of `rows`;
/// a rule the two still share needs no identifier compare.
bool sameRow(const RuleList& rules, std::size_t index, const RuleList& rows, std::size_t rowIndex)
{
    return rules.sharesRule(index, rows, rowIndex) || rules[index].id == rows[rowIndex].id;
}

bool sameRows(const RuleList& rules, std::size_t ruleStart, std::size_t ruleEnd,
    const RuleList& rows, std::size_t rowStart)
{
    for (std::size_t index = ruleStart; index < ruleEnd; ++index) {
        if (!sameRow(rules, index, rows, rowStart + index - ruleStart))
            return false;
    }
    return true;
}

QString text(const std::string& utf8) { return QString::fromStdString(utf8); }

} // namespace

RulesTableModel::RulesTableModel(AppModel& model, UUID profileID, QObject* parent)
    : QAbstractTableModel(parent)
    , m_model(model)
    , m_profileID(std::move(profileID))
    , m_documentChanges(model.configuration.observe([this] { m_isStale = true; }))
    , m_hardwareRefresh(model.executor(),
          [this] { announceColumnChange(columnOf(SettingKey::hdr), {Qt::DisplayRole}); })
    , m_spaceRefresh(model.executor(), [this] {
        announceColumnChange(ruleColumn, {conditionsRole, Qt::ToolTipRole});
    })
{
    m_hardwareRefresh.watch(model.displays, model.hardwareSnapshot);
    m_spaceRefresh.watch(model.displays, model.spacesByDisplay);
    refresh();
}

int RulesTableModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(m_rows.size());
}

int RulesTableModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : columnTotal;
}

QVariant RulesTableModel::data(const QModelIndex& index, int role) const
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid) || index.column() == orderColumn)
        return {};
    const std::optional<std::size_t> stored = storedIndex(index.row());
    if (!stored)
        return {};
    const Rule& shown = storedRules()[*stored];
    if (index.column() == ruleColumn)
        return ruleCellData(shown, role);
    const SettingKey key = allSettingKeys.at(static_cast<std::size_t>(index.column() - 1));
    if (role == isSetRole)
        return shown.settings.value(key).has_value();
    if (role != Qt::DisplayRole)
        return {};
    return text(key == SettingKey::hdr ? m_model.hdrRuleLabel(shown) : settingCellText(shown, key));
}

QVariant RulesTableModel::ruleCellData(const Rule& shown, int role) const
{
    if (role == Qt::DisplayRole)
        return text(shown.name);
    if (role != conditionsRole && role != Qt::ToolTipRole)
        return {};
    const RuleConditions conditions = shownConditions(shown.conditions, m_model);
    return text(role == conditionsRole ? conditions.compactLabel() : conditions.label());
}

QVariant RulesTableModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0
        || section >= columnTotal)
        return {};
    if (section == ruleColumn)
        return QStringLiteral("RULE / ALL CONDITIONS");
    if (section == orderColumn)
        return QStringLiteral("ORDER");
    const std::string_view shown = title(allSettingKeys.at(static_cast<std::size_t>(section - 1)));
    return QString::fromUtf8(shown.data(), static_cast<qsizetype>(shown.size()));
}

const Rule& RulesTableModel::rule(int row) const
{
    const std::optional<std::size_t> stored = storedIndex(row);
    assert(stored && "a row is read while its rule is still in the document");
    return storedRules()[*stored];
}

std::optional<std::size_t> RulesTableModel::storedIndex(int row) const
{
    const RuleList& rules = storedRules();
    const auto index = static_cast<std::size_t>(row);
    if (index < rules.size() && index < m_rows.size() && sameRow(rules, index, m_rows, index))
        return index;
    // While a change is being announced, or before one is, the rows are the old ones.
    const auto found = std::ranges::find(rules, ruleID(row), &Rule::id);
    if (found == rules.end())
        return std::nullopt;
    return static_cast<std::size_t>(found - rules.begin());
}

const UUID& RulesTableModel::ruleID(int row) const
{
    return m_rows.at(static_cast<std::size_t>(row)).id;
}

std::optional<int> RulesTableModel::rowOf(const UUID& ruleID) const
{
    const auto row = std::ranges::find(m_rows, ruleID, &Rule::id);
    if (row == m_rows.end())
        return std::nullopt;
    return static_cast<int>(row - m_rows.begin());
}

int RulesTableModel::columnOf(SettingKey key)
{
    return firstSettingColumn
        + static_cast<int>(std::ranges::find(allSettingKeys, key) - allSettingKeys.begin());
}

const RuleList& RulesTableModel::storedRules() const
{
    static const RuleList none;
    const CopyOnWriteVector<Profile>& profiles = m_model.configuration->profiles;
    const auto profile = std::ranges::find(profiles, m_profileID, &Profile::id);
    return profile == profiles.end() ? none : profile->rules;
}

void RulesTableModel::refresh()
{
    if (!std::exchange(m_isStale, false))
        return;
    const RuleList& rules = storedRules();
    restructure(rules);
    announceChangedRows(rules);
}

void RulesTableModel::restructure(const RuleList& rules)
{
    // Every change the table itself asks for is one insertion, removal or move.
    const Span span = differingSpan(rules);
    if (span.ruleEnd == span.start && span.rowEnd == span.start)
        return;
    if (span.rowEnd == span.start) {
        beginInsertRows({}, static_cast<int>(span.start), static_cast<int>(span.ruleEnd) - 1);
        m_rows.insert(span.start, rules.slice(span.start, span.ruleEnd));
        endInsertRows();
    } else if (span.ruleEnd == span.start) {
        beginRemoveRows({}, static_cast<int>(span.start), static_cast<int>(span.rowEnd) - 1);
        m_rows.erase(span.start, span.rowEnd);
        endRemoveRows();
    } else if (!moveOneRow(rules, span)) {
        beginResetModel();
        m_rows = rules;
        endResetModel();
    }
}

RulesTableModel::Span RulesTableModel::differingSpan(const RuleList& rules) const
{
    const std::size_t shorter = std::min(rules.size(), m_rows.size());
    std::size_t start = 0;
    while (start < shorter && sameRow(rules, start, m_rows, start))
        ++start;
    std::size_t tail = 0;
    while (tail < shorter - start
        && sameRow(rules, rules.size() - 1 - tail, m_rows, m_rows.size() - 1 - tail))
        ++tail;
    return {.start = start, .ruleEnd = rules.size() - tail, .rowEnd = m_rows.size() - tail};
}

bool RulesTableModel::moveOneRow(const RuleList& rules, const Span& span)
{
    const auto [start, ruleEnd, rowEnd] = span;
    if (ruleEnd != rowEnd)
        return false;
    const auto first = static_cast<int>(start);
    const auto last = static_cast<int>(rowEnd) - 1;
    if (sameRow(rules, start, m_rows, rowEnd - 1)
        && sameRows(rules, start + 1, ruleEnd, m_rows, start)) {
        beginMoveRows({}, last, last, {}, first); // the span's last row moved up to its start
        m_rows.move(rowEnd - 1, start);
        endMoveRows();
        return true;
    }
    if (sameRow(rules, ruleEnd - 1, m_rows, start)
        && sameRows(rules, start, ruleEnd - 1, m_rows, start + 1)) {
        beginMoveRows({}, first, first, {}, last + 1); // the first moved down to the span's end
        m_rows.move(start, rowEnd - 1);
        endMoveRows();
        return true;
    }
    return false;
}

void RulesTableModel::watchRows(const std::vector<int>& rows)
{
    const std::vector<int> wasWatched = watchedRows();
    std::vector<QPersistentModelIndex> watched;
    for (const int row : rows) {
        // A row watched before keeps what was last announced: a change still pending is due.
        const std::optional<std::size_t> stored = storedIndex(row);
        if (stored && !std::ranges::binary_search(wasWatched, row))
            reread(static_cast<std::size_t>(row), storedRules(), *stored);
        watched.emplace_back(index(row, 0));
    }
    m_watched = std::move(watched);
}

void RulesTableModel::announceChangedRows(const RuleList& rules)
{
    // One signal per run of adjacent changed rows, so that rows in between are left alone.
    std::optional<std::pair<int, int>> run;
    const auto announceRun = [&] {
        if (run)
            emit dataChanged(index(run->first, 0), index(run->second, columnTotal - 1));
    };
    for (const int row : watchedRows()) {
        const auto index = static_cast<std::size_t>(row);
        if (!reread(index, rules, index))
            continue;
        if (run && run->second + 1 == row) {
            run->second = row;
        } else {
            announceRun();
            run = {row, row};
        }
    }
    announceRun();
}

std::vector<int> RulesTableModel::watchedRows() const
{
    std::vector<int> rows;
    if (!m_watched) {
        rows.resize(m_rows.size());
        std::iota(rows.begin(), rows.end(), 0);
        return rows;
    }
    for (const QPersistentModelIndex& watched : *m_watched) {
        if (watched.isValid())
            rows.push_back(watched.row());
    }
    std::ranges::sort(rows);
    return rows;
}

bool RulesTableModel::reread(std::size_t row, const RuleList& rules, std::size_t index)
{
    if (rules.sharesRule(index, m_rows, row))
        return false;
    const bool isChanged = rules[index] != m_rows[row];
    m_rows.share(row, rules, index);
    return isChanged;
}

void RulesTableModel::announceColumnChange(int column, const QList<int>& roles)
{
    refresh();
    if (m_rows.empty())
        return;
    emit dataChanged(index(0, column), index(rowCount() - 1, column), roles);
}

} // namespace quorvane
