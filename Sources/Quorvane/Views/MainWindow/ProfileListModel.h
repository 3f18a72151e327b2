// The sidebar's profiles as a list model: the Default profile first, then the others in stored
// order, each row with its name and its marks (active, selected, drop target, being renamed).
#pragma once

#include "Foundation/UUID.h"

#include <QAbstractListModel>
#include <QIcon>

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace quorvane {

class ContentView;

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
    /// keeps its place and redraws only those.
    void refresh();

    [[nodiscard]] const UUID& profileID(int row) const;
    /// The row of the profile; absent when it has none.
    [[nodiscard]] std::optional<int> rowOf(const UUID& profileID) const;

private:
    enum class Highlight {
        none,
        selected,
        dropTarget,
    };
    struct Row {
        UUID profileID;
        std::string name;
        bool isDefault = false;
        bool isActive = false;
        bool isEnabled = false;
        bool isRenaming = false;
        Highlight highlight = Highlight::none;
        bool operator==(const Row&) const = default;
    };

    [[nodiscard]] static QString highlightName(Highlight highlight);
    [[nodiscard]] std::vector<Row> shownRows() const;
    /// Removes and inserts rows until they are the wanted profiles; false when a profile moved.
    bool syncProfiles(const std::vector<Row>& wanted);
    void dropShownRows(int first, int last);
    void addShownRows(int at, std::vector<Row>::const_iterator first, std::size_t count);
    void reportChangedRows(const std::vector<Row>& wanted);

    ContentView& m_content;
    QIcon m_stack;
    QIcon m_lockedStack;
    std::vector<Row> m_rows;
};

} // namespace quorvane
