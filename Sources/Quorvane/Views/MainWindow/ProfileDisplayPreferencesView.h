// The foot of a profile's page: the profile's macOS display preferences and screen resolutions,
// in a section that can be collapsed.
#pragma once

#include "Foundation/UUID.h"

#include <QWidget>

namespace quorvane {

class AppModel;

class ProfileDisplayPreferencesView final : public QWidget {
public:
    /// Starts expanded.
    ProfileDisplayPreferencesView(AppModel& model, UUID profileID, QWidget* parent = nullptr);
};

} // namespace quorvane
