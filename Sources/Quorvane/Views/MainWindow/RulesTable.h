// The rules of one profile as a table, in the order they apply: per rule its switch, name and
// conditions, the five settings and the order buttons; rows are dragged to reorder, or onto
// another profile in the sidebar to copy.
#pragma once

#include "Foundation/UUID.h"
#include "QuorvaneCore/Rules.h"

#include <QWidget>

#include <vector>

class QMimeData;
class QVBoxLayout;

namespace quorvane {

class ContentView;
class RuleRow;

class RulesTable final : public QWidget {
public:
    static constexpr int tableWidth = 776;
    /// A row with its divider; the header with its divider is headerHeight.
    static constexpr int rowHeight = 84;
    static constexpr int headerHeight = 38;

    RulesTable(ContentView& content, UUID profileID, QWidget* parent = nullptr);

    /// Shows the profile's rules as the model holds them now.
    void refresh();

    /// The row of one rule; null when none is shown.
    [[nodiscard]] RuleRow* rowOf(const UUID& ruleID) const;

private:
    ContentView& m_content;
    UUID m_profileID;
    QVBoxLayout* m_rowsLayout;
    std::vector<RuleRow*> m_rows;
    std::vector<QWidget*> m_dividers;
};

/// What dragging a rule carries: its identifier as upper-case text.
[[nodiscard]] QMimeData* ruleDragData(const Rule& rule);

} // namespace quorvane
