// One row of the rules table, shown for whichever rule the table gives it as it scrolls.
#pragma once

#include "Foundation/UUID.h"
#include "QuorvaneCore/Rules.h"

#include <QFrame>
#include <QPoint>

#include <array>
#include <map>
#include <optional>

class QLabel;
class QMenu;
class QToolButton;

namespace quorvane {

class ContentView;
class RulesTableModel;
class SwitchButton;

class RuleRow final : public QFrame {
public:
    RuleRow(ContentView& content, UUID profileID, QWidget* parent = nullptr);

    /// The rule last shown; meaningful once showRule() was called.
    [[nodiscard]] const UUID& ruleID() const { return m_rule.id; }
    /// The table row last shown.
    [[nodiscard]] int shownRow() const { return m_row; }
    /// Shows the rule at `row` of `rules`, then showState().
    void showRule(const RulesTableModel& rules, int row);
    /// Shows what the window decides: the highlight of the rule open in the editor, whether the
    /// switch takes clicks, and the switch at the rule's stored state.
    void showState();
    /// The controls that take the keyboard focus, in tab order.
    [[nodiscard]] std::array<QWidget*, 3> focusableControls() const;

    /// Moves the rule whose identifier `text` holds before this row's rule; false when the text
    /// names no rule identifier.
    bool drop(const QString& text);
    /// "Edit rule", "Duplicate rule" and "Delete rule".
    [[nodiscard]] QMenu* contextMenu();

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    QWidget* makeCell(QWidget* content, int width);
    /// Whether the document holds the row's rule switched on now; false once it holds no such
    /// rule.
    [[nodiscard]] bool isEnabledNow() const;
    void showOrderButtons(int row, int rowCount);
    void duplicate(Rule copy);
    void remove(const UUID& ruleID);

    ContentView& m_content;
    UUID m_profileID;
    Rule m_rule;
    int m_row = -1;
    SwitchButton* m_enabled;
    class FittedLabel;
    FittedLabel* m_name;
    FittedLabel* m_conditions;
    std::map<SettingKey, QLabel*> m_values;
    QToolButton* m_up;
    QToolButton* m_down;
    std::optional<QPoint> m_pressedAt;
};

} // namespace quorvane
