// The Settings page: how long manual adjustments hold, smooth transitions, debounce, the
// brightness keys and their step, and launch at login.
#pragma once

#include "Quorvane/AppPreferences.h"
#include "Quorvane/Views/Design/ViewRefresh.h"

#include <QWidget>

#include <functional>
#include <vector>

class QComboBox;
class QLabel;

namespace quorvane {

class AppModel;
class SwitchButton;

/// Every change goes to the model at once, which saves it; nothing waits for an Apply. Reads the
/// model and calls its operations.
class SettingsView final : public QWidget {
public:
    /// `model` must outlive the view.
    explicit SettingsView(AppModel& model, QWidget* parent = nullptr);
    ~SettingsView() override;

private:
    QWidget* buildAutomationCard();
    QWidget* buildKeysCard();
    QWidget* buildLoginCard();
    /// Saves the preferences with `edit` made to them.
    void save(const std::function<void(AppPreferences&)>& edit);
    void refresh();

    AppModel& m_model;
    QComboBox* m_holdLength = nullptr;
    SwitchButton* m_smooth = nullptr;
    SwitchButton* m_debounce = nullptr;
    SwitchButton* m_keys = nullptr;
    QComboBox* m_keyStep = nullptr;
    QLabel* m_keyStatus = nullptr;
    SwitchButton* m_login = nullptr;
    QLabel* m_loginState = nullptr;
    QLabel* m_loginError = nullptr;
    ViewRefresh m_refresh;
};

} // namespace quorvane
