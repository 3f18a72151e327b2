// The main window's left column: the brand, the profiles with the active one marked, the way to
// the Displays and Settings pages, and a drop target on each profile for copying rules.
#pragma once

#include "Quorvane/AppChoice.h"

#include <QWidget>

class QPushButton;
class QToolButton;

namespace quorvane {

class ContentView;
class ProfileList;

class ProfileSidebar final : public QWidget {
public:
    /// `content` must outlive the sidebar.
    ProfileSidebar(ContentView& content, QWidget* parent = nullptr);

    /// Shows the model's profiles and the window's state now.
    void refresh();

    [[nodiscard]] ProfileList& profiles() const { return *m_profiles; }
    [[nodiscard]] QToolButton& createButton() const { return *m_create; }
    [[nodiscard]] QPushButton& navButton(AppPage page) const;

private:
    ContentView& m_content;
    QToolButton* m_create;
    ProfileList* m_profiles;
    QPushButton* m_displays;
    QPushButton* m_settings;
};

} // namespace quorvane
