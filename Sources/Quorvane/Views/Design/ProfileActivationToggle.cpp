#include "Quorvane/Views/Design/ProfileActivationToggle.h"

#include "Quorvane/AppModel.h"
#include "Quorvane/Views/Design/SwitchButton.h"

#include <QHBoxLayout>

namespace quorvane {

ProfileActivationToggle::ProfileActivationToggle(AppModel& model, UUID profileID, QWidget* parent)
    : QWidget(parent)
    , m_model(model)
    , m_profileID(std::move(profileID))
    , m_switch(new SwitchButton(QStringLiteral("Active"), this))
    , m_refresh(model.executor(), [this] { refresh(); })
{
    m_switch->setObjectName(QStringLiteral("active"));
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_switch);

    // clicked, not toggled: refresh() sets the state too, and that must not call the model.
    connect(m_switch, &SwitchButton::clicked, this, [this](bool checked) {
        m_model.setProfileActive(m_profileID, checked);
        refresh(); // a refused flip leaves the model as it was: the switch snaps back
    });
    m_refresh.watch(m_model.configuration);
    refresh();
}

void ProfileActivationToggle::refresh()
{
    const Configuration& configuration = *m_model.configuration;
    m_switch->setChecked(
        configuration.automationEnabled && configuration.activeProfileID == m_profileID);
}

} // namespace quorvane
