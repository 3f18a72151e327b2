// The Settings page: the application's preferences.
#pragma once

#include <QWidget>

namespace quorvane {

class AppModel;

class SettingsPage final : public QWidget {
public:
    explicit SettingsPage(AppModel& model, QWidget* parent = nullptr);
};

} // namespace quorvane
