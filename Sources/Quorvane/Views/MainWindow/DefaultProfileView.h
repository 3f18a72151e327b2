// The Default profile's page: the settings that apply where no rule decides.
#pragma once

#include <QWidget>

namespace quorvane {

class AppModel;

class DefaultProfileView final : public QWidget {
public:
    explicit DefaultProfileView(AppModel& model, QWidget* parent = nullptr);
};

} // namespace quorvane
