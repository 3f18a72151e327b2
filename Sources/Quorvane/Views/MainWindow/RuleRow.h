// One rule in the rules table.
#pragma once

#include "Foundation/UUID.h"
#include "QuorvaneCore/Rules.h"

#include <QFrame>
#include <QPoint>

#include <map>

class QLabel;
class QMenu;
class QToolButton;

namespace quorvane {

class ContentView;
class SwitchButton;

class RuleRow final : public QFrame {
public:
    RuleRow(ContentView& content, UUID profileID, Rule rule, QWidget* parent = nullptr);

    [[nodiscard]] const UUID& ruleID() const { return m_rule.id; }
    /// Shows `rule`, which has this row's identifier, at `index` of `count` rules.
    void showRule(const Rule& rule, std::size_t index, std::size_t count);

    /// Moves the rule whose identifier `text` holds before this row's rule; false when the text
    /// names no rule identifier.
    bool drop(const QString& text);
    /// "Edit rule", "Duplicate rule" and "Delete rule".
    [[nodiscard]] QMenu* contextMenu();

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    QWidget* makeCell(QWidget* content, int width);
    void duplicate();
    void remove();

    ContentView& m_content;
    UUID m_profileID;
    Rule m_rule;
    SwitchButton* m_enabled;
    QLabel* m_name;
    QLabel* m_conditions;
    std::map<SettingKey, QLabel*> m_values;
    QToolButton* m_up;
    QToolButton* m_down;
    std::optional<QPoint> m_pressedAt;
};

} // namespace quorvane
