// The main window's left column: the brand, the profiles with the active one marked, the way to
// the Displays and Settings pages, and a drop target on each profile for copying rules.
#pragma once

#include "Foundation/UUID.h"
#include "Quorvane/AppChoice.h"

#include <QWidget>

#include <vector>

class QPushButton;
class QToolButton;
class QVBoxLayout;

namespace quorvane {

class ContentView;
class ProfileRow;

class ProfileSidebar final : public QWidget {
public:
    /// `content` must outlive the sidebar.
    ProfileSidebar(ContentView& content, QWidget* parent = nullptr);

    /// Shows the model's profiles and the window's state now.
    void refresh();

    /// The row of one profile; null when none is shown.
    [[nodiscard]] ProfileRow* rowOf(const UUID& profileID) const;
    [[nodiscard]] QToolButton& createButton() const { return *m_create; }
    [[nodiscard]] QPushButton& navButton(AppPage page) const;

private:
    void syncRows();

    ContentView& m_content;
    QToolButton* m_create;
    QVBoxLayout* m_rowsLayout;
    std::vector<ProfileRow*> m_rows;
    QPushButton* m_displays;
    QPushButton* m_settings;
};

} // namespace quorvane
