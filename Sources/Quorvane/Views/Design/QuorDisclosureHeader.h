// A section header that expands and collapses its section: a chevron pointing right while
// collapsed and down while expanded, then the title and an optional subtitle.
#pragma once

#include <QToolButton>

#include <optional>

namespace quorvane {

class QuorDisclosureHeader final : public QToolButton {
    Q_OBJECT

public:
    QuorDisclosureHeader(const QString& title, bool isExpanded,
        const std::optional<QString>& subtitle = std::nullopt, QWidget* parent = nullptr);

    [[nodiscard]] bool isExpanded() const { return m_isExpanded; }
    /// Shows the state without emitting expandedChanged.
    void setExpanded(bool isExpanded);

signals:
    /// The user clicked the header; the new state is already shown.
    void expandedChanged(bool isExpanded);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    bool m_isExpanded;
};

} // namespace quorvane
