#include "Quorvane/Views/MainWindow/ProfileListModel.h"

#include "Quorvane/AppModel.h"
#include "Quorvane/Views/Design/QuorStyle.h"
#include "Quorvane/Views/Design/SymbolIcon.h"
#include "Quorvane/Views/MainWindow/ContentView.h"

#include <algorithm>
#include <unordered_set>

namespace quorvane {

ProfileListModel::ProfileListModel(ContentView& content, QObject* parent)
    : QAbstractListModel(parent)
    , m_content(content)
    , m_stack(symbolIcon("rectangle.stack", QuorStyle::secondaryText()))
    , m_lockedStack(symbolIcon("lock.rectangle.stack", QuorStyle::secondaryText()))
{
}

int ProfileListModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(m_rows.size());
}

QVariant ProfileListModel::data(const QModelIndex& index, int role) const
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid))
        return {};
    const Row& row = m_rows[static_cast<std::size_t>(index.row())];
    switch (role) {
    case Qt::DisplayRole:
    case Qt::AccessibleTextRole:
        return QString::fromStdString(row.name);
    case Qt::AccessibleDescriptionRole:
        return row.isActive ? QStringLiteral("Active profile") : QString();
    case Qt::DecorationRole:
        return row.isDefault && !row.isRenaming ? m_lockedStack : m_stack;
    case stateRole:
        return highlightName(row.highlight);
    case isActiveRole:
        return row.isActive && !row.isRenaming;
    case isRenamingRole:
        return row.isRenaming;
    default:
        return {};
    }
}

Qt::ItemFlags ProfileListModel::flags(const QModelIndex& index) const
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid))
        return Qt::NoItemFlags;
    if (!m_rows[static_cast<std::size_t>(index.row())].isEnabled)
        return Qt::ItemNeverHasChildren;
    return Qt::ItemIsEnabled | Qt::ItemNeverHasChildren;
}

QString ProfileListModel::highlightName(Highlight highlight)
{
    switch (highlight) {
    case Highlight::selected:
        return QStringLiteral("selected");
    case Highlight::dropTarget:
        return QStringLiteral("dropTarget");
    case Highlight::none:
        break;
    }
    return {};
}

const UUID& ProfileListModel::profileID(int row) const
{
    return m_rows.at(static_cast<std::size_t>(row)).profileID;
}

std::optional<int> ProfileListModel::rowOf(const UUID& profileID) const
{
    const auto found = std::ranges::find(m_rows, profileID, &Row::profileID);
    if (found == m_rows.end())
        return std::nullopt;
    return static_cast<int>(found - m_rows.begin());
}

void ProfileListModel::refresh()
{
    const std::vector<Row> wanted = shownRows();
    // Most changes leave the profiles as they were: only the rows' looks are compared then.
    const bool hasSameProfiles
        = std::ranges::equal(m_rows, wanted, {}, &Row::profileID, &Row::profileID);
    if (m_rows.empty() || (!hasSameProfiles && !syncProfiles(wanted))) {
        beginResetModel();
        m_rows = wanted;
        endResetModel();
        return;
    }
    reportChangedRows(wanted);
}

std::vector<ProfileListModel::Row> ProfileListModel::shownRows() const
{
    const AppModel& model = m_content.model();
    const Configuration& configuration = *model.configuration;
    const std::optional<ProfileRenameTarget>& renaming = m_content.renameTarget();
    const bool showsSelection = *model.page == AppPage::profiles;
    const UUID& selectedID = model.selectedProfile().id;
    const bool isEnabled = m_content.acceptsActions();
    std::vector<Row> rows;
    rows.reserve(configuration.profiles.size());
    for (const Profile& profile : configuration.orderedProfileReferences()) {
        const bool isDropTarget = m_content.dropTargetProfileID() == profile.id;
        const bool isSelected = showsSelection && selectedID == profile.id;
        rows.push_back({.profileID = profile.id,
            .name = profile.name,
            .isDefault = profile.id == configuration.defaultProfileID,
            .isActive = profile.id == configuration.activeProfileID,
            .isEnabled = isEnabled,
            .isRenaming
            = renaming == ProfileRenameTarget{ProfileRenameTarget::Site::sidebar, profile.id},
            .highlight = isDropTarget ? Highlight::dropTarget
                : isSelected          ? Highlight::selected
                                      : Highlight::none});
    }
    return rows;
}

bool ProfileListModel::syncProfiles(const std::vector<Row>& wanted)
{
    std::unordered_set<UUID> wantedIDs;
    for (const Row& row : wanted)
        wantedIDs.insert(row.profileID);
    // Gone profiles first, from the end, so that the row numbers before them hold.
    for (int last = rowCount() - 1; last >= 0; --last) {
        if (wantedIDs.contains(profileID(last)))
            continue;
        int first = last;
        while (first > 0 && !wantedIDs.contains(profileID(first - 1)))
            --first;
        dropShownRows(first, last);
        last = first;
    }
    std::unordered_set<UUID> shownIDs;
    for (const Row& row : m_rows)
        shownIDs.insert(row.profileID);
    // What is left keeps its order unless a profile moved; new profiles go in where they stand.
    std::size_t shown = 0;
    for (auto next = wanted.begin(); next != wanted.end();) {
        if (shown < m_rows.size() && m_rows[shown].profileID == next->profileID) {
            ++shown;
            ++next;
            continue;
        }
        if (shownIDs.contains(next->profileID))
            return false;
        const auto newEnd = std::find_if(
            next, wanted.end(), [&](const Row& row) { return shownIDs.contains(row.profileID); });
        const auto count = static_cast<std::size_t>(newEnd - next);
        addShownRows(static_cast<int>(shown), next, count);
        shown += count;
        next = newEnd;
    }
    return true;
}

void ProfileListModel::dropShownRows(int first, int last)
{
    beginRemoveRows({}, first, last);
    m_rows.erase(m_rows.begin() + first, m_rows.begin() + last + 1);
    endRemoveRows();
}

void ProfileListModel::addShownRows(int at, std::vector<Row>::const_iterator first, std::size_t count)
{
    beginInsertRows({}, at, at + static_cast<int>(count) - 1);
    m_rows.insert(m_rows.begin() + at, first, first + static_cast<std::ptrdiff_t>(count));
    endInsertRows();
}

void ProfileListModel::reportChangedRows(const std::vector<Row>& wanted)
{
    for (std::size_t row = 0; row < wanted.size(); ++row) {
        if (m_rows[row] == wanted[row])
            continue;
        m_rows[row] = wanted[row];
        const QModelIndex changed = index(static_cast<int>(row));
        emit dataChanged(changed, changed);
    }
}

} // namespace quorvane
