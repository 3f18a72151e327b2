#include "Quorvane/Views/MainWindow/ProfilePage.h"

#include "Quorvane/AppModel.h"
#include "Quorvane/Views/Design/PageHeading.h"
#include "Quorvane/Views/MainWindow/ContentView.h"

#include <QVBoxLayout>

#include <algorithm>

namespace quorvane {

ProfilePage::ProfilePage(ContentView& content, UUID profileID, QWidget* parent)
    : QWidget(parent)
    , m_content(content)
    , m_profileID(std::move(profileID))
    , m_heading(new PageHeading(QStringLiteral("Profile"), QString(), std::nullopt, this))
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(26, 26, 26, 26);
    layout->addWidget(m_heading);
    layout->addStretch();
    refresh();
}

void ProfilePage::refresh()
{
    const std::vector<Profile>& profiles = m_content.model().configuration->profiles;
    const auto profile = std::ranges::find(profiles, m_profileID, &Profile::id);
    if (profile != profiles.end())
        m_heading->setTitle(QString::fromStdString(profile->name));
}

} // namespace quorvane
