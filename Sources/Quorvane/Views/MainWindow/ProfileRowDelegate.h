// How one profile of the sidebar looks: its symbol, its name on one line (elided, the whole name
// in a tip), the green mark of the active profile, and the background of its highlight.
#pragma once

#include <QStyledItemDelegate>

namespace quorvane {

class ProfileRowDelegate final : public QStyledItemDelegate {
public:
    /// The height of a row's background; rows stand `gap` apart.
    static constexpr int rowHeight = 36;
    static constexpr int gap = 8;

    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
        const QModelIndex& index) const override;
    [[nodiscard]] QSize sizeHint(
        const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    /// The whole name over an elided one, "Active profile" over the green mark.
    bool helpEvent(QHelpEvent* event, QAbstractItemView* view, const QStyleOptionViewItem& option,
        const QModelIndex& index) override;

    /// The row's background within its cell: what a click must hit.
    [[nodiscard]] static QRect backgroundRect(const QRect& cell);
    /// Where the name stands, or the name field while the row is renamed.
    [[nodiscard]] static QRect nameRect(const QRect& cell, bool hasActiveMark);
    /// The name as it fits its place, elided with "…" when it does not.
    [[nodiscard]] static QString shownName(
        const QStyleOptionViewItem& option, const QModelIndex& index);

private:
    [[nodiscard]] static QRect contentRect(const QRect& cell);
    [[nodiscard]] static QRect activeMarkRect(const QRect& cell);
};

} // namespace quorvane
