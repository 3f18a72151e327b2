// One profile in the sidebar: click selects, double click renames in place, the context menu
// renames, duplicates or deletes, and a rule dropped on it is copied to the profile.
#pragma once

#include "Foundation/UUID.h"
#include "Quorvane/Views/Design/EditingTextField.h"

#include <QFrame>
#include <QPointer>

#include <optional>
#include <string>

class QLabel;
class QMenu;

namespace quorvane {

class ContentView;

class ProfileRow final : public QFrame {
public:
    ProfileRow(ContentView& content, UUID profileID, QWidget* parent = nullptr);

    [[nodiscard]] const UUID& profileID() const { return m_profileID; }
    /// The open name field; null while the row shows the name.
    [[nodiscard]] EditingTextField* nameField() const { return m_field; }

    void refresh();
    /// Whether a drop of `text` would be accepted now, before it is read.
    [[nodiscard]] bool acceptsDrop() const;
    /// Copies the rule whose identifier `text` holds to this profile; false when refused.
    bool drop(const QString& text);
    /// Rename, Duplicate and Delete; null for the Default profile, which offers none.
    [[nodiscard]] QMenu* contextMenu();

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragLeaveEvent(QDragLeaveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    [[nodiscard]] bool isDefault() const;
    void showField(bool isRenaming);

    ContentView& m_content;
    UUID m_profileID;
    QLabel* m_icon;
    QLabel* m_name;
    QWidget* m_activeDot;
    QPointer<EditingTextField> m_field;
};

} // namespace quorvane
