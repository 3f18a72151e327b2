// The rules of one profile as a table, in the order they apply: per rule its switch, name and
// conditions, the five settings and the order buttons; rows are dragged to reorder, or onto
// another profile in the sidebar to copy. The table is its own scroll area on a card, its header
// staying whole on top as the rows scroll beneath, and only the rows on screen exist: a few row
// widgets show other rules as it scrolls, so a profile of ten thousand rules costs what one of
// ten does. A drag held near the top or bottom edge of its rows scrolls it, on the executor's
// clock.
#pragma once

#include "Concurrency/DelayedCall.h"
#include "Foundation/UUID.h"
#include "QuorvaneCore/Rules.h"

#include <QAbstractScrollArea>
#include <QPoint>
#include <QPointer>

#include <chrono>
#include <map>
#include <optional>
#include <vector>

class QDropEvent;
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
    /// How near the top or bottom edge of the table's visible part a held drag scrolls it, and
    /// how often.
    static constexpr int autoScrollMargin = 16;
    static constexpr std::chrono::milliseconds autoScrollInterval{50};

    RulesTable(ContentView& content, UUID profileID, QWidget* parent = nullptr);

    /// Shows the profile's rules as the model holds them now, and the window's state of each.
    void refresh();

    [[nodiscard]] RulesTableModel& rules() const { return *m_rules; }
    /// The row showing the rule; null when the rule is not on screen.
    [[nodiscard]] RuleRow* rowOf(const UUID& ruleID) const;
    /// Scrolls as little as needed to show the whole row.
    void scrollToRow(int row);
    /// Scrolls the rule's row into view and gives its first control, the switch; null when the
    /// table holds no such rule.
    [[nodiscard]] QWidget* revealRule(const UUID& ruleID);

protected:
    void resizeEvent(QResizeEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;
    bool focusNextPrevChild(bool next) override;
    /// Follows the drags over the rows, which take the drops themselves.
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    /// Which rows show their rule again when the rows are laid out.
    enum class Reshow {
        newlyPlaced,
        all,
    };

    void updateScrollRanges();
    void layoutRows(Reshow reshow);
    void layOutOnce(Reshow reshow);
    /// The row widget for each row to lay out, the others hidden.
    [[nodiscard]] std::map<int, RuleRow*> assignRows(Reshow reshow);
    /// Notes the row whose rule went away with the focus in it, and lets it go once the focus
    /// no longer waits on the viewport.
    void updateVacatedRow();
    void placeOverlays();
    RuleRow* addRow();
    /// The rows to lay out: those on screen and one more on each side, so that the tab key
    /// reaches the next row before it scrolls into view.
    [[nodiscard]] std::pair<int, int> placedRows() const;
    /// The table row the widget shows now; absent for a spare widget.
    [[nodiscard]] std::optional<int> tableRowOf(const RuleRow& row) const;
    /// The shown row widget that holds the focus; null when none does.
    [[nodiscard]] RuleRow* focusedRowWidget() const;
    [[nodiscard]] std::optional<int> focusedRow() const;
    void orderFocusChain(const std::map<int, RuleRow*>& placed);

    /// Remembers where a drag is, in the viewport, and scrolls while it stays near an edge.
    void followDrag(QPoint position);
    /// -1 to scroll up, 1 down, 0 where the drag is not near an edge the table can scroll past.
    [[nodiscard]] int autoScrollDirection() const;
    void scheduleAutoScroll();
    void autoScroll();
    /// Hands a drop to the row under the pointer when that is another row than `receiver`, the
    /// one the drag entered before the rows scrolled beneath it; false when `receiver` takes it.
    bool redirectDrop(const QWidget& receiver, QDropEvent& event);
    [[nodiscard]] RuleRow* rowAt(QPoint position) const;

    ContentView& m_content;
    UUID m_profileID;
    RulesTableModel* m_rules;
    QWidget* m_header;
    std::vector<RuleRow*> m_rows;
    /// The row whose rule went away with the focus in it: hidden, never shown for another rule
    /// while the focus waits for it, and kept at its rule's place in the tab order, so that the
    /// tab keys go on from there.
    QPointer<RuleRow> m_vacated;
    bool m_isLayingOut = false;
    /// The layout asked for while one was under way.
    std::optional<Reshow> m_pendingLayout;
    QScrollBar* m_verticalBar;
    QScrollBar* m_horizontalBar;
    QWidget* m_outline;
    /// Where the drag over the rows is; absent once it left them or ended.
    std::optional<QPoint> m_dragPosition;
    /// The auto-scroll's next step.
    DelayedCall m_autoScrollTick;
    int m_autoScrollSteps = 0;
};

} // namespace quorvane
