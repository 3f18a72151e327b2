// The "Active" switch of one profile: on while that profile is the active one and automation
// is on; flipping it activates or deactivates the profile through the model.
#pragma once

#include "Foundation/UUID.h"
#include "Quorvane/Views/Design/ViewRefresh.h"

#include <QWidget>

namespace quorvane {

class AppModel;
class SwitchButton;

class ProfileActivationToggle final : public QWidget {
public:
    /// `model` must outlive the switch.
    ProfileActivationToggle(AppModel& model, UUID profileID, QWidget* parent = nullptr);

    /// Shows the model's state now.
    void refresh();

private:
    AppModel& m_model;
    UUID m_profileID;
    SwitchButton* m_switch;
    ViewRefresh m_refresh;
};

} // namespace quorvane
