#include "Quorvane/Views/MainWindow/ProfileListModel.h"

#include "Quorvane/AppModel.h"
#include "Quorvane/Views/Design/QuorStyle.h"
#include "Quorvane/Views/Design/SymbolIcon.h"
#include "Quorvane/Views/MainWindow/ContentView.h"

#include <algorithm>
#include <cassert>
#include <iterator>
#include <unordered_set>
#include <utility>

namespace quorvane {

ProfileListModel::ProfileListModel(ContentView& content, QObject* parent)
    : QAbstractListModel(parent)
    , m_content(content)
    , m_stack(symbolIcon("rectangle.stack", QuorStyle::secondaryText()))
    , m_lockedStack(symbolIcon("lock.rectangle.stack", QuorStyle::secondaryText()))
    , m_documentChanges(content.model().configuration.observe([this] { m_isStale = true; }))
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
        return row.looks.isActive ? QStringLiteral("Active profile") : QString();
    case Qt::DecorationRole:
        return row.looks.isDefault && !row.looks.isRenaming ? m_lockedStack : m_stack;
    case stateRole:
        return highlightName(row.looks.highlight);
    case isActiveRole:
        return row.looks.isActive && !row.looks.isRenaming;
    case isRenamingRole:
        return row.looks.isRenaming;
    default:
        return {};
    }
}

Qt::ItemFlags ProfileListModel::flags(const QModelIndex& index) const
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid))
        return Qt::NoItemFlags;
    if (!m_rows[static_cast<std::size_t>(index.row())].looks.isEnabled)
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
    const Marks marks = currentMarks();
    const bool isStale = std::exchange(m_isStale, false);
    if (!isStale && marks == m_shownMarks)
        return;
    m_shownMarks = marks;
    if (!isStale) {
        reportChangedLooks(marks);
        return;
    }
    const Profiles profiles = m_content.model().configuration->orderedProfileReferences();
    if (m_rows.empty() || !syncProfiles(profiles, marks)) {
        resetRows(profiles, marks);
        return;
    }
    reportChangedRows(profiles, marks);
}

ProfileListModel::Marks ProfileListModel::currentMarks() const
{
    const AppModel& model = m_content.model();
    const Configuration& configuration = *model.configuration;
    const std::optional<ProfileRenameTarget>& renaming = m_content.renameTarget();
    const bool isRenamingHere = renaming && renaming->site == ProfileRenameTarget::Site::sidebar;
    return {.defaultID = configuration.defaultProfileID,
        .activeID = configuration.activeProfileID,
        .selectedID = *model.page == AppPage::profiles ? std::optional(model.selectedProfile().id)
                                                       : std::nullopt,
        .dropTargetID = m_content.dropTargetProfileID(),
        .renamingID = isRenamingHere ? std::optional(renaming->profileID) : std::nullopt,
        .isEnabled = m_content.acceptsActions()};
}

ProfileListModel::Looks ProfileListModel::looksOf(const UUID& profileID, const Marks& marks)
{
    return {.isDefault = profileID == marks.defaultID,
        .isActive = profileID == marks.activeID,
        .isEnabled = marks.isEnabled,
        .isRenaming = marks.renamingID == profileID,
        .highlight = marks.dropTargetID == profileID ? Highlight::dropTarget
            : marks.selectedID == profileID          ? Highlight::selected
                                                     : Highlight::none};
}

ProfileListModel::Row ProfileListModel::rowFor(const Profile& profile, const Marks& marks)
{
    return {.profileID = profile.id, .name = profile.name, .looks = looksOf(profile.id, marks)};
}

void ProfileListModel::resetRows(const Profiles& profiles, const Marks& marks)
{
    beginResetModel();
    m_rows.clear();
    m_rows.reserve(profiles.size());
    for (const Profile& profile : profiles)
        m_rows.push_back(rowFor(profile, marks));
    endResetModel();
}

bool ProfileListModel::syncProfiles(const Profiles& profiles, const Marks& marks)
{
    Span span = differingSpan(profiles);
    if (span.shownEnd == span.start && span.wantedEnd == span.start)
        return true;
    span.shownEnd -= dropGoneRows(profiles, span);
    return addNewRows(profiles, span, marks);
}

ProfileListModel::Span ProfileListModel::differingSpan(const Profiles& profiles) const
{
    const auto isShownAs
        = [](const Row& row, const Profile& profile) { return row.profileID == profile.id; };
    Span span{.start = static_cast<std::size_t>(
                  std::ranges::mismatch(m_rows, profiles, isShownAs).in1 - m_rows.begin()),
        .shownEnd = m_rows.size(),
        .wantedEnd = profiles.size()};
    while (span.shownEnd > span.start && span.wantedEnd > span.start
        && isShownAs(m_rows[span.shownEnd - 1], profiles[span.wantedEnd - 1])) {
        --span.shownEnd;
        --span.wantedEnd;
    }
    return span;
}

std::size_t ProfileListModel::dropGoneRows(const Profiles& profiles, const Span& span)
{
    std::unordered_set<UUID> wantedIDs;
    for (std::size_t wanted = span.start; wanted < span.wantedEnd; ++wanted)
        wantedIDs.insert(profiles[wanted].get().id);
    const auto start = static_cast<int>(span.start);
    std::size_t dropped = 0;
    // From the end, so that the row numbers before them hold.
    for (auto last = static_cast<int>(span.shownEnd) - 1; last >= start; --last) {
        if (wantedIDs.contains(profileID(last)))
            continue;
        int first = last;
        while (first > start && !wantedIDs.contains(profileID(first - 1)))
            --first;
        dropShownRows(first, last);
        dropped += static_cast<std::size_t>(last - first + 1);
        last = first;
    }
    return dropped;
}

bool ProfileListModel::addNewRows(const Profiles& profiles, Span span, const Marks& marks)
{
    std::unordered_set<UUID> shownIDs;
    for (std::size_t shown = span.start; shown < span.shownEnd; ++shown)
        shownIDs.insert(m_rows[shown].profileID);
    // What is left keeps its order unless a profile moved; new profiles go in where they stand.
    std::size_t shown = span.start;
    const auto end = profiles.begin() + static_cast<std::ptrdiff_t>(span.wantedEnd);
    for (auto next = profiles.begin() + static_cast<std::ptrdiff_t>(span.start); next != end;) {
        if (shown < span.shownEnd && m_rows[shown].profileID == next->get().id) {
            ++shown;
            ++next;
            continue;
        }
        if (shownIDs.contains(next->get().id))
            return false;
        const auto newEnd = std::find_if(
            next, end, [&](const Profile& profile) { return shownIDs.contains(profile.id); });
        const auto count = static_cast<std::size_t>(newEnd - next);
        addShownRows(static_cast<int>(shown), next, count, marks);
        shown += count;
        span.shownEnd += count;
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

void ProfileListModel::addShownRows(
    int at, Profiles::const_iterator first, std::size_t count, const Marks& marks)
{
    beginInsertRows({}, at, at + static_cast<int>(count) - 1);
    std::vector<Row> added;
    added.reserve(count);
    for (auto profile = first; profile != first + static_cast<std::ptrdiff_t>(count); ++profile)
        added.push_back(rowFor(*profile, marks));
    m_rows.insert(m_rows.begin() + at, std::make_move_iterator(added.begin()),
        std::make_move_iterator(added.end()));
    endInsertRows();
}

void ProfileListModel::reportChangedRows(const Profiles& profiles, const Marks& marks)
{
    assert(m_rows.size() == profiles.size() && "the rows were brought in line first");
    for (std::size_t position = 0; position < profiles.size(); ++position) {
        const Profile& profile = profiles[position];
        Row& row = m_rows[position];
        const Looks looks = looksOf(profile.id, marks);
        if (row.name == profile.name && row.looks == looks)
            continue;
        row.name = profile.name;
        row.looks = looks;
        reportChangedRow(position);
    }
}

void ProfileListModel::reportChangedLooks(const Marks& marks)
{
    for (std::size_t position = 0; position < m_rows.size(); ++position) {
        Row& row = m_rows[position];
        const Looks looks = looksOf(row.profileID, marks);
        if (row.looks == looks)
            continue;
        row.looks = looks;
        reportChangedRow(position);
    }
}

void ProfileListModel::reportChangedRow(std::size_t position)
{
    const QModelIndex changed = index(static_cast<int>(position));
    emit dataChanged(changed, changed);
}

} // namespace quorvane
