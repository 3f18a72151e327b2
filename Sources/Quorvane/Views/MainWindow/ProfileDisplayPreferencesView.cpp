#include "Quorvane/Views/MainWindow/ProfileDisplayPreferencesView.h"

#include "Quorvane/Views/Design/QuorDisclosureHeader.h"

#include <QVBoxLayout>

namespace quorvane {

// FIXME: the preferences and resolutions themselves come with the display-preference views.
ProfileDisplayPreferencesView::ProfileDisplayPreferencesView(AppModel&, UUID, QWidget* parent)
    : QWidget(parent)
{
    auto* header = new QuorDisclosureHeader(QStringLiteral("Display preferences"), true);
    header->setObjectName(QStringLiteral("displayPreferences"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(header, 0, Qt::AlignLeft);
}

} // namespace quorvane
