// The rules of one profile as a table, in the order they apply: per rule its switch, name and
// conditions, the five settings and the order buttons; rows are dragged to reorder, or onto
// another profile in the sidebar to copy. The table is its own scroll area on a card, and only
// the rows on screen exist: a few row widgets show other rules as it scrolls, so a profile of
// ten thousand rules costs what one of ten does.
#pragma once

#include "Foundation/UUID.h"
#include "QuorvaneCore/Rules.h"

#include <QAbstractScrollArea>

#include <map>
#include <optional>
#include <vector>

class QMimeData;
class QScrollBar;

namespace quorvane {

class ContentView;
class RuleRow;
class RulesTableModel;

class RulesTable final : public QAbstractScrollArea {
public:
    static constexpr int tableWidth = 776;
    /// A row with its divider; the header with its divider is headerHeight.
    static constexpr int rowHeight = 84;
    static constexpr int headerHeight = 38;

    RulesTable(ContentView& content, UUID profileID, QWidget* parent = nullptr);

    /// Shows the profile's rules as the model holds them now, and the window's state of each.
    void refresh();

    [[nodiscard]] RulesTableModel& rules() const { return *m_rules; }
    /// The row showing the rule; null when the rule is not on screen.
    [[nodiscard]] RuleRow* rowOf(const UUID& ruleID) const;
    /// Scrolls as little as needed to show the whole row.
    void scrollToRow(int row);

protected:
    void resizeEvent(QResizeEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;
    bool focusNextPrevChild(bool next) override;

private:
    /// Which rows show their rule again when the rows are laid out.
    enum class Reshow {
        newlyPlaced,
        all,
    };

    void updateScrollRanges();
    void layoutRows(Reshow reshow);
    /// The row widget for each row to lay out, the others hidden.
    [[nodiscard]] std::map<int, RuleRow*> assignRows(Reshow reshow);
    void placeOverlays();
    RuleRow* addRow();
    /// The rows to lay out: those on screen and one more on each side, so that the tab key
    /// reaches the next row before it scrolls into view.
    [[nodiscard]] std::pair<int, int> placedRows() const;
    /// The table row the widget shows now; absent for a spare widget.
    [[nodiscard]] std::optional<int> tableRowOf(const RuleRow& row) const;
    [[nodiscard]] std::optional<int> focusedRow() const;
    void orderFocusChain(const std::map<int, RuleRow*>& placed);

    ContentView& m_content;
    UUID m_profileID;
    RulesTableModel* m_rules;
    QWidget* m_header;
    std::vector<RuleRow*> m_rows;
    QScrollBar* m_verticalBar;
    QScrollBar* m_horizontalBar;
    QWidget* m_outline;
};

/// What dragging a rule carries: its identifier as upper-case text.
[[nodiscard]] QMimeData* ruleDragData(const Rule& rule);

} // namespace quorvane
