#include "Quorvane/Views/MainWindow/SettingsPage.h"

#include "Quorvane/Views/Design/PageHeading.h"

#include <QVBoxLayout>

namespace quorvane {

// FIXME: the preferences themselves come with the settings page's own issue.
SettingsPage::SettingsPage(AppModel&, QWidget* parent)
    : QWidget(parent)
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(26, 26, 26, 26);
    layout->addWidget(new PageHeading(
        QStringLiteral("QuorVane"), QStringLiteral("Settings"), std::nullopt, this));
    layout->addStretch();
}

} // namespace quorvane
