#include "Quorvane/Views/MainWindow/DefaultProfileView.h"

#include "Quorvane/Views/Design/PageHeading.h"

#include <QVBoxLayout>

namespace quorvane {

// FIXME: the Default settings per display come with the Default profile's own editor.
DefaultProfileView::DefaultProfileView(AppModel&, QWidget* parent)
    : QWidget(parent)
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(26, 26, 26, 26);
    layout->addWidget(
        new PageHeading(QStringLiteral("Profile"), QStringLiteral("Default"), std::nullopt, this));
    layout->addStretch();
}

} // namespace quorvane
