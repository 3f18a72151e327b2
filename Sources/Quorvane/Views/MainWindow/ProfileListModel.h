// The sidebar's profiles as a list model: the Default profile first, then the others in stored
// order, each row with its name and its marks (active, selected, drop target, being renamed).
#pragma once

#include "Foundation/UUID.h"
#include "Quorvane/Observable.h"

#include <QAbstractListModel>
#include <QIcon>

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace quorvane {

class ContentView;
struct Profile;

class ProfileListModel final : public QAbstractListModel {
public:
    enum Role {
        /// The row's state as the delegate draws it: "selected", "dropTarget" or "".
        stateRole = Qt::UserRole + 1,
        /// Whether the green mark of the active profile shows.
        isActiveRole,
        /// Whether the row's name field is open in place of its name.
        isRenamingRole,
    };

    /// `content` must outlive the model.
    explicit ProfileListModel(ContentView& content, QObject* parent = nullptr);

    [[nodiscard]] int rowCount(const QModelIndex& parent = {}) const override;
    /// The name (display, accessible text), the symbol (decoration) and the roles above.
    [[nodiscard]] QVariant data(const QModelIndex& index, int role) const override;
    /// Enabled only while the model takes user actions.
    [[nodiscard]] Qt::ItemFlags flags(const QModelIndex& index) const override;

    /// Brings the rows in line with the model's profiles and the window's state. Rows come and
    /// go one by one, and only rows whose looks changed are reported changed, so that the view
    /// keeps its place and redraws only those. The profiles are compared only after the document
    /// changed, each row in place; otherwise only the marks are.
    void refresh();

    [[nodiscard]] const UUID& profileID(int row) const;
    /// The row of the profile; absent when it has none.
    [[nodiscard]] std::optional<int> rowOf(const UUID& profileID) const;

private:
    using Profiles = std::vector<std::reference_wrapper<const Profile>>;
    enum class Highlight {
        none,
        selected,
        dropTarget,
    };
    /// How a row shows its profile, besides the name.
    struct Looks {
        bool isDefault = false;
        bool isActive = false;
        bool isEnabled = false;
        bool isRenaming = false;
        Highlight highlight = Highlight::none;
        bool operator==(const Looks&) const = default;
    };
    struct Row {
        UUID profileID;
        std::string name;
        Looks looks;
    };
    /// What the looks of every row depend on, read once per refresh.
    struct Marks {
        UUID defaultID;
        UUID activeID;
        std::optional<UUID> selectedID;
        std::optional<UUID> dropTargetID;
        std::optional<UUID> renamingID;
        bool isEnabled;
        bool operator==(const Marks&) const = default;
    };
    /// Rows [start, shownEnd) stand where profiles [start, wantedEnd) do; the rest match.
    struct Span {
        std::size_t start;
        std::size_t shownEnd;
        std::size_t wantedEnd;
    };

    [[nodiscard]] static QString highlightName(Highlight highlight);
    [[nodiscard]] Marks currentMarks() const;
    [[nodiscard]] static Looks looksOf(const UUID& profileID, const Marks& marks);
    [[nodiscard]] static Row rowFor(const Profile& profile, const Marks& marks);
    void resetRows(const Profiles& profiles, const Marks& marks);
    /// Removes and inserts rows until they are the profiles; false when a profile moved.
    bool syncProfiles(const Profiles& profiles, const Marks& marks);
    /// Most changes leave the profiles as they were, or add or remove one: what lies between the
    /// rows that match the profiles at the start and at the end is all that can have changed.
    [[nodiscard]] Span differingSpan(const Profiles& profiles) const;
    /// Removes the span's rows whose profiles are gone; returns how many.
    std::size_t dropGoneRows(const Profiles& profiles, const Span& span);
    /// Inserts rows for the span's new profiles; false when a shown profile moved.
    bool addNewRows(const Profiles& profiles, Span span, const Marks& marks);
    void dropShownRows(int first, int last);
    void addShownRows(
        int at, Profiles::const_iterator first, std::size_t count, const Marks& marks);
    void reportChangedRows(const Profiles& profiles, const Marks& marks);
    /// For rows whose profiles are as shown: only their looks can have changed.
    void reportChangedLooks(const Marks& marks);
    void reportChangedRow(std::size_t position);

    ContentView& m_content;
    QIcon m_stack;
    QIcon m_lockedStack;
    std::vector<Row> m_rows;
    std::optional<Marks> m_shownMarks;
    /// Whether the document changed since the rows were compared with it.
    bool m_isStale = true;
    Subscription m_documentChanges;
};

} // namespace quorvane
