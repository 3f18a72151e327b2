// The page of one profile other than Default.
#pragma once

#include "Foundation/UUID.h"

#include <QWidget>

namespace quorvane {

class ContentView;
class PageHeading;

class ProfilePage final : public QWidget {
public:
    ProfilePage(ContentView& content, UUID profileID, QWidget* parent = nullptr);

    /// Shows the profile as the model holds it now.
    void refresh();

private:
    ContentView& m_content;
    UUID m_profileID;
    PageHeading* m_heading;
};

} // namespace quorvane
