// MenuView.h: the menu-bar popover's content: the automation switch, the display controls,
// Resume and Quit.
#pragma once

#include "Quorvane/Observable.h"

#include <QWidget>

#include <vector>

class QCheckBox;
class QLabel;
class QPushButton;

namespace quorvane {

class AppModel;
class DisplaysPage;

/// Reads the model and calls its operations; never writes a field.
class MenuView final : public QWidget {
public:
    /// `model` must outlive the view.
    explicit MenuView(AppModel& model, QWidget* parent = nullptr);
    ~MenuView() override;

    [[nodiscard]] DisplaysPage& displaysPage() const { return *m_displays; }

private:
    void refresh();

    AppModel& m_model;
    QLabel* m_status;
    QCheckBox* m_automation;
    DisplaysPage* m_displays;
    QPushButton* m_resume;
    QPushButton* m_quit;
    std::vector<Subscription> m_subscriptions;
};

} // namespace quorvane
