// The Displays page: every display's controls with their holds and Resume, the display's own
// name, and a recheck of the hardware.
#pragma once

#include "Quorvane/Views/Design/ViewRefresh.h"

#include <QWidget>

#include <vector>

class QPushButton;

namespace quorvane {

class AppModel;
class DisplaysPage;

/// Starts with no display name being edited. Reads the model and calls its operations.
class DisplaysView final : public QWidget {
public:
    /// `model` must outlive the view.
    explicit DisplaysView(AppModel& model, QWidget* parent = nullptr);
    ~DisplaysView() override;

    [[nodiscard]] DisplaysPage& controls() const { return *m_controls; }

private:
    void refresh();

    AppModel& m_model;
    QPushButton* m_recheck;
    DisplaysPage* m_controls;
    ViewRefresh m_refresh;
};

} // namespace quorvane
