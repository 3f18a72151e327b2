#include "Quorvane/Views/MainWindow/RulesTableModel.h"

#include "Foundation/Hash.h"
#include "Quorvane/AppModel.h"
#include "Quorvane/Views/MainWindow/RuleCellLabels.h"

#include <algorithm>
#include <cassert>
#include <functional>
#include <numeric>
#include <string_view>

namespace quorvane {

namespace {

std::size_t hashOf(std::string_view text) { return std::hash<std::string_view>{}(text); }

template <typename Number> std::size_t hashOf(const std::optional<Number>& number)
{
    return number ? hashCombine(1, std::hash<Number>{}(*number)) : 0;
}

/// For a value of two cases, one of them carrying a number: 0 when absent, else its case and
/// its number.
template <typename Tagged, typename Numbered>
std::size_t hashOf(const std::optional<Tagged>& tagged, std::int64_t Numbered::*number)
{
    if (!tagged)
        return 0;
    const Numbered* numbered = std::get_if<Numbered>(&tagged->value);
    return hashCombine(
        tagged->value.index() + 1, numbered ? std::hash<std::int64_t>{}(numbered->*number) : 0);
}

std::size_t hashOf(const RuleConditions& conditions)
{
    std::size_t seed = conditions.apps.size();
    for (const ApplicationReference& app : conditions.apps)
        seed = hashCombine(seed, hashOf(app.id), hashOf(app.name));
    if (const std::optional<DisplayReference>& screen = conditions.screen)
        seed = hashCombine(seed, 1, hashOf(screen->id), hashOf(screen->name));
    if (const std::optional<Desktop>& space = conditions.space)
        seed = hashCombine(seed, 2, hashOf(space->id), hashOf(space->name),
            hashOf(space->displayID.value_or("")), space->displayID.has_value(), space->isShared);
    return seed;
}

/// Differs, but for a vanishing chance, whenever anything the row shows may differ.
std::size_t fingerprint(const Rule& rule)
{
    const RuleSettings& settings = rule.settings;
    return hashCombine(hashOf(rule.name), rule.isEnabled, hashOf(rule.conditions),
        hashOf(settings.brightness), hashOf(settings.hdr),
        hashOf(settings.temperature, &Temperature::Kelvin::value),
        hashOf(settings.refreshRate, &RefreshPreference::Fixed::millihertz),
        hashOf(settings.contrast));
}

bool sameIDs(const std::vector<Rule>& rules, std::size_t ruleStart, std::size_t ruleEnd,
    const auto& rows, std::size_t rowStart)
{
    return std::equal(rules.begin() + static_cast<std::ptrdiff_t>(ruleStart),
        rules.begin() + static_cast<std::ptrdiff_t>(ruleEnd),
        rows.begin() + static_cast<std::ptrdiff_t>(rowStart),
        [](const Rule& rule, const auto& row) { return rule.id == row.ruleID; });
}

QString text(const std::string& utf8) { return QString::fromStdString(utf8); }

} // namespace

RulesTableModel::RulesTableModel(AppModel& model, UUID profileID, QObject* parent)
    : QAbstractTableModel(parent)
    , m_model(model)
    , m_profileID(std::move(profileID))
    , m_documentChanges(model.configuration.observe([this] { m_isStale = true; }))
    , m_hardwareRefresh(model.executor(), [this] { announceHDRChanges(); })
{
    m_hardwareRefresh.watch(model.displays, model.hardwareSnapshot);
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
    const Rule* shown = findRule(index.row());
    if (!shown)
        return {};
    if (index.column() == ruleColumn)
        return role == Qt::DisplayRole ? QVariant(text(shown->name)) : QVariant();
    const SettingKey key = allSettingKeys.at(static_cast<std::size_t>(index.column() - 1));
    if (role == isSetRole)
        return shown->settings.value(key).has_value();
    if (role != Qt::DisplayRole)
        return {};
    return text(
        key == SettingKey::hdr ? m_model.hdrRuleLabel(*shown) : settingCellText(*shown, key));
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
    const Rule* shown = findRule(row);
    assert(shown && "a row is read while its rule is still in the document");
    return *shown;
}

const Rule* RulesTableModel::findRule(int row) const
{
    const std::vector<Rule>& rules = storedRules();
    const UUID& shownID = ruleID(row);
    const auto index = static_cast<std::size_t>(row);
    if (index < rules.size() && rules[index].id == shownID)
        return &rules[index];
    // While a change is being announced, or before one is, the rows are the old ones.
    const auto found = std::ranges::find(rules, shownID, &Rule::id);
    return found == rules.end() ? nullptr : &*found;
}

const UUID& RulesTableModel::ruleID(int row) const
{
    return m_rows.at(static_cast<std::size_t>(row)).ruleID;
}

std::optional<int> RulesTableModel::rowOf(const UUID& ruleID) const
{
    const auto row = std::ranges::find(m_rows, ruleID, &Row::ruleID);
    if (row == m_rows.end())
        return std::nullopt;
    return static_cast<int>(row - m_rows.begin());
}

int RulesTableModel::columnOf(SettingKey key)
{
    return firstSettingColumn
        + static_cast<int>(std::ranges::find(allSettingKeys, key) - allSettingKeys.begin());
}

const std::vector<Rule>& RulesTableModel::storedRules() const
{
    static const std::vector<Rule> none;
    const std::vector<Profile>& profiles = m_model.configuration->profiles;
    const auto profile = std::ranges::find(profiles, m_profileID, &Profile::id);
    return profile == profiles.end() ? none : profile->rules;
}

void RulesTableModel::refresh()
{
    if (!std::exchange(m_isStale, false))
        return;
    const std::vector<Rule>& rules = storedRules();
    restructure(rules);
    announceChangedRows(rules);
}

void RulesTableModel::restructure(const std::vector<Rule>& rules)
{
    // Every change the table itself asks for is one insertion, removal or move.
    const Span span = differingSpan(rules);
    if (span.ruleEnd == span.start && span.rowEnd == span.start)
        return;
    if (span.rowEnd == span.start) {
        beginInsertRows({}, static_cast<int>(span.start), static_cast<int>(span.ruleEnd) - 1);
        const std::vector<Row> inserted = rowsOf(rules, span.start, span.ruleEnd);
        m_rows.insert(rowAt(span.start), inserted.begin(), inserted.end());
        endInsertRows();
    } else if (span.ruleEnd == span.start) {
        beginRemoveRows({}, static_cast<int>(span.start), static_cast<int>(span.rowEnd) - 1);
        m_rows.erase(rowAt(span.start), rowAt(span.rowEnd));
        endRemoveRows();
    } else if (!moveOneRow(rules, span)) {
        beginResetModel();
        m_rows = rowsOf(rules, 0, rules.size());
        endResetModel();
    }
}

RulesTableModel::Span RulesTableModel::differingSpan(const std::vector<Rule>& rules) const
{
    const std::size_t shorter = std::min(rules.size(), m_rows.size());
    std::size_t start = 0;
    while (start < shorter && rules[start].id == m_rows[start].ruleID)
        ++start;
    std::size_t tail = 0;
    while (tail < shorter - start
        && rules[rules.size() - 1 - tail].id == m_rows[m_rows.size() - 1 - tail].ruleID)
        ++tail;
    return {.start = start, .ruleEnd = rules.size() - tail, .rowEnd = m_rows.size() - tail};
}

bool RulesTableModel::moveOneRow(const std::vector<Rule>& rules, const Span& span)
{
    const auto [start, ruleEnd, rowEnd] = span;
    if (ruleEnd != rowEnd)
        return false;
    const auto first = static_cast<int>(start);
    const auto last = static_cast<int>(rowEnd) - 1;
    if (rules[start].id == m_rows[rowEnd - 1].ruleID
        && sameIDs(rules, start + 1, ruleEnd, m_rows, start)) {
        beginMoveRows({}, last, last, {}, first); // the span's last row moved up to its start
        std::rotate(rowAt(start), rowAt(rowEnd - 1), rowAt(rowEnd));
        endMoveRows();
        return true;
    }
    if (rules[ruleEnd - 1].id == m_rows[start].ruleID
        && sameIDs(rules, start, ruleEnd - 1, m_rows, start + 1)) {
        beginMoveRows({}, first, first, {}, last + 1); // the first moved down to the span's end
        std::rotate(rowAt(start), rowAt(start + 1), rowAt(rowEnd));
        endMoveRows();
        return true;
    }
    return false;
}

std::vector<RulesTableModel::Row> RulesTableModel::rowsOf(
    const std::vector<Rule>& rules, std::size_t from, std::size_t to)
{
    std::vector<Row> made;
    for (std::size_t index = from; index < to; ++index)
        made.push_back({.ruleID = rules[index].id, .fingerprint = fingerprint(rules[index])});
    return made;
}

std::vector<RulesTableModel::Row>::iterator RulesTableModel::rowAt(std::size_t index)
{
    return m_rows.begin() + static_cast<std::ptrdiff_t>(index);
}

void RulesTableModel::watchRows(const std::vector<int>& rows)
{
    const std::vector<int> wasWatched = watchedRows();
    std::vector<QPersistentModelIndex> watched;
    for (const int row : rows) {
        // A row watched before keeps what was last announced: a change still pending is due.
        const Rule* shown = findRule(row);
        if (shown && !std::ranges::binary_search(wasWatched, row))
            updateFingerprint(static_cast<std::size_t>(row), *shown);
        watched.emplace_back(index(row, 0));
    }
    m_watched = std::move(watched);
}

void RulesTableModel::announceChangedRows(const std::vector<Rule>& rules)
{
    // One signal per run of adjacent changed rows, so that rows in between are left alone.
    std::optional<std::pair<int, int>> run;
    const auto announceRun = [&] {
        if (run)
            emit dataChanged(index(run->first, 0), index(run->second, columnTotal - 1));
    };
    for (const int row : watchedRows()) {
        if (!updateFingerprint(static_cast<std::size_t>(row), rules[static_cast<std::size_t>(row)]))
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

bool RulesTableModel::updateFingerprint(std::size_t row, const Rule& rule)
{
    const std::size_t now = fingerprint(rule);
    return std::exchange(m_rows[row].fingerprint, now) != now;
}

void RulesTableModel::announceHDRChanges()
{
    refresh();
    if (m_rows.empty())
        return;
    const int column = columnOf(SettingKey::hdr);
    emit dataChanged(index(0, column), index(rowCount() - 1, column), {Qt::DisplayRole});
}

} // namespace quorvane
