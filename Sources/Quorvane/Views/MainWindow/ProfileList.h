// The sidebar's list of profiles: it scrolls, and paints only the rows on screen. A click
// selects, a double click renames in place, the context menu renames, duplicates or deletes, and
// a rule dropped on a profile is copied there.
#pragma once

#include "Foundation/UUID.h"

#include <QListView>
#include <QPointer>

#include <optional>

class QMenu;

namespace quorvane {

class ContentView;
class EditingTextField;
class ProfileListModel;

class ProfileList final : public QListView {
public:
    /// `content` must outlive the list.
    explicit ProfileList(ContentView& content, QWidget* parent = nullptr);

    /// Shows the model's profiles and the window's state now.
    void refresh();

    [[nodiscard]] ProfileListModel& rows() const { return *m_rows; }
    /// The profile's row on the viewport: what a click must hit. Empty when it has no row.
    [[nodiscard]] QRect rowRect(const UUID& profileID) const;
    /// The name field open in the profile's row; null while the row shows the name.
    [[nodiscard]] EditingTextField* nameField(const UUID& profileID) const;
    /// Whether a rule dropped on the profile would be taken now, before the drop is read.
    [[nodiscard]] bool acceptsDrop(const UUID& profileID) const;
    /// Copies the rule whose identifier `text` holds to the profile; false when refused.
    bool drop(const UUID& profileID, const QString& text);
    /// Rename, Duplicate and Delete; null for the Default profile, which offers none.
    [[nodiscard]] QMenu* contextMenu(const UUID& profileID);

    /// As tall as every row, so that the sidebar gives the list no more room than it fills;
    /// the list has no frame.
    [[nodiscard]] QSize sizeHint() const override;
    [[nodiscard]] QSize minimumSizeHint() const override;

protected:
    /// Redraws the changed rows only: every row is one size, so a change never moves another,
    /// and the list's own handling would lay out every row again.
    void dataChanged(const QModelIndex& topLeft, const QModelIndex& bottomRight,
        const QList<int>& roles = QList<int>()) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dragLeaveEvent(QDragLeaveEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;
    void updateGeometries() override;

private:
    /// The profile whose row's background holds `position`; absent between rows and below them.
    [[nodiscard]] std::optional<UUID> profileAt(const QPoint& position) const;
    /// The profile a left click on a row may act on now; absent for any other click.
    [[nodiscard]] std::optional<UUID> clickedProfile(const QMouseEvent& event) const;
    [[nodiscard]] bool isDefault(const UUID& profileID) const;
    void hover(std::optional<UUID> profileID);
    void showNameField();
    void placeNameField();
    void followSelection();
    /// Scrolls the selected row into sight if a new selection asked for it. Only once the list
    /// is shown at the height its rows give it: the sidebar opens at its top when the selected
    /// row fits there.
    void bringSelectionIntoSight();
    /// Holds the scroll to the selection until the layout that a change of rows asked for.
    void awaitLayout();
    void closeNameField();

    ContentView& m_content;
    ProfileListModel* m_rows;
    QPointer<EditingTextField> m_field;
    std::optional<UUID> m_fieldProfileID;
    std::optional<UUID> m_hovered;
    std::optional<UUID> m_shownSelection;
    /// The selected row is to come into sight at the next chance.
    bool m_needsSelectionInSight = false;
    /// The rows changed and the list's layout at its new height has not come yet.
    bool m_awaitsLayout = false;
};

} // namespace quorvane
