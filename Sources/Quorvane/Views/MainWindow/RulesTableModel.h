// The rules of one profile as a Qt table model: a row per rule in the order they apply, a column
// per cell of the rules table, with the texts the cells show.
#pragma once

#include "Foundation/UUID.h"
#include "Quorvane/Observable.h"
#include "Quorvane/Views/Design/ViewRefresh.h"
#include "QuorvaneCore/Rules.h"

#include <QAbstractTableModel>

#include <cstddef>
#include <optional>
#include <vector>

namespace quorvane {

class AppModel;

/// Holds no copy of the rules, only a pointer per row to the rule the document shared with it when
/// the row was last read, so that a profile of any size costs a few bytes a rule and a rule the
/// document still shares is known unchanged without comparing it. refresh() announces what
/// changed in the document since the last one: inserted, removed or moved rows, and dataChanged
/// for exactly the watched rows whose rule changed. The HDR column also follows the displays and
/// their capabilities, and the conditions the screens' names and Spaces.
class RulesTableModel final : public QAbstractTableModel {
public:
    enum Column : int {
        ruleColumn = 0,
        firstSettingColumn = 1,
        orderColumn = firstSettingColumn + static_cast<int>(allSettingKeys.size()),
        columnTotal,
    };
    /// Whether the rule sets the cell's setting (a bool); an unset cell is shown dimmed.
    static constexpr int isSetRole = Qt::UserRole;
    /// The rule cell's conditions in the short form its row shows; the tooltip role holds the
    /// long form.
    static constexpr int conditionsRole = Qt::UserRole + 1;

    /// `model` must outlive this object.
    RulesTableModel(AppModel& model, UUID profileID, QObject* parent = nullptr);

    [[nodiscard]] int rowCount(const QModelIndex& parent = {}) const override;
    [[nodiscard]] int columnCount(const QModelIndex& parent = {}) const override;
    /// Display: the rule's name, or a setting cell's text. isSetRole: for setting cells.
    /// conditionsRole and tooltip: for the rule cell.
    [[nodiscard]] QVariant data(const QModelIndex& index, int role) const override;
    [[nodiscard]] QVariant headerData(
        int section, Qt::Orientation orientation, int role) const override;

    /// The rule at `row`, which must be a row of this model whose rule is in the document.
    [[nodiscard]] const Rule& rule(int row) const;
    /// The identifier of the rule at `row` as last announced.
    [[nodiscard]] const UUID& ruleID(int row) const;
    /// The row of the rule as last announced; absent when no row holds it.
    [[nodiscard]] std::optional<int> rowOf(const UUID& ruleID) const;
    [[nodiscard]] static int columnOf(SettingKey key);

    /// Catches up with the document; does nothing when it has not changed since the last call.
    void refresh();
    /// Announces changes to the content of `rows` only, the rows a view shows: a change to one
    /// rule then costs the same among ten rules or ten thousand. A newly watched row counts as
    /// read now; the watched rows follow insertions, removals and moves. Until the first call
    /// every row is watched.
    void watchRows(const std::vector<int>& rows);

private:
    /// Where the document's rules and the rows differ: [start, ruleEnd) of the rules stands in
    /// place of [start, rowEnd) of the rows.
    struct Span {
        std::size_t start;
        std::size_t ruleEnd;
        std::size_t rowEnd;
    };

    [[nodiscard]] QVariant ruleCellData(const Rule& shown, int role) const;
    [[nodiscard]] const RuleList& storedRules() const;
    /// Where the stored rules hold the rule of `row`, found by its identifier; absent once the
    /// document no longer holds it.
    [[nodiscard]] std::optional<std::size_t> storedIndex(int row) const;
    /// Announces the inserted, removed or moved rows, or a reset for any other change; afterwards
    /// m_rows holds the stored rules' identifiers in order, a kept row with the rule last read.
    void restructure(const RuleList& rules);
    [[nodiscard]] Span differingSpan(const RuleList& rules) const;
    /// Announces the span as one row moved from its one end to the other; false when it is not.
    bool moveOneRow(const RuleList& rules, const Span& span);
    void announceChangedRows(const RuleList& rules);
    /// In ascending order; only those still in the table.
    [[nodiscard]] std::vector<int> watchedRows() const;
    /// Reads the row again from the stored rule at `index`; whether what it shows changed.
    bool reread(std::size_t row, const RuleList& rules, std::size_t index);
    /// Announces the `roles` of every row's cell in `column`, after catching up with the
    /// document.
    void announceColumnChange(int column, const QList<int>& roles);

    AppModel& m_model;
    UUID m_profileID;
    /// A row's rule as last read: its identifier names the row, and only a watched row is read
    /// again when its rule changes.
    RuleList m_rows;
    /// Absent: every row. Qt moves these along as rows come, go and move.
    std::optional<std::vector<QPersistentModelIndex>> m_watched;
    bool m_isStale = true;
    Subscription m_documentChanges;
    ViewRefresh m_hardwareRefresh; // the HDR cells
    ViewRefresh m_spaceRefresh; // the conditions, which may name a Space's screen
};

} // namespace quorvane
