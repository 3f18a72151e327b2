// DisplayModeRow.h: one display's mode: its refresh rate and HDR, changed through the Keep/Revert
// test, and its resolution menu.
#pragma once

#include "Quorvane/Views/ControlStatusLine.h"
#include "Quorvane/Views/Design/ViewRefresh.h"

#include <QWidget>

#include <string>
#include <vector>

class QComboBox;
class QLabel;

namespace quorvane {

class AppModel;
class SwitchButton;
enum class SettingKey;

/// A refresh rate or HDR picked here is never simply applied: it starts the display's
/// Keep/Revert test with "Keep this combination". Under the refresh rate and under the
/// resolution, what the model last said of them, and the hold of a kept refresh rate or HDR with
/// its Resume. Hidden while the display offers none of the three. Reads the model and calls its
/// operations.
class DisplayModeRow final : public QWidget {
public:
    static constexpr const char* keepTitle = "Keep this combination";

    /// `model` must outlive the row.
    DisplayModeRow(AppModel& model, std::string displayID, QWidget* parent = nullptr);
    ~DisplayModeRow() override;

    /// Whether the display offers a refresh rate, HDR or a resolution to pick.
    [[nodiscard]] static bool offersModes(const AppModel& model, const std::string& displayID);

private:
    /// A mode control's hold and its Resume, shown while it is held.
    [[nodiscard]] HoldLine makeHoldLine(SettingKey setting);
    void refresh();
    /// Names each control after the display shown as `displayLabel`.
    void refreshNames(const QString& displayLabel);
    void refreshRefreshRates();
    void refreshResolutions();
    void refreshStatuses();
    void pickRefreshRate(int index);
    void pickHDR(bool isOn);
    void pickResolution(int index);

    AppModel& m_model;
    std::string m_displayID;
    QLabel* m_refreshRateTitle;
    QComboBox* m_refreshRate;
    SwitchButton* m_hdr;
    /// The refresh rate's status and HDR's, once when the two are the same.
    QLabel* m_modeStatus;
    QLabel* m_resolutionTitle;
    QComboBox* m_resolution;
    QLabel* m_resolutionStatus;
    HoldLine m_refreshRateHold;
    HoldLine m_hdrHold;
    ViewRefresh m_refresh;
};

} // namespace quorvane
