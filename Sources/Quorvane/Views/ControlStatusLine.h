// ControlStatusLine.h: the lines under a display control: where its value comes from, what became
// of the model's last command to it, and its hold with the Resume that ends it.
#pragma once

#include "QuorvaneCore/ControlKey.h"

#include <QString>

#include <string>
#include <vector>

class QLabel;
class QPushButton;
class QWidget;

namespace quorvane {

class AppModel;

/// The parts joined with " · ", as every status line is. An empty part, or one that repeats an
/// earlier part, is left out: a change made outside is both a control's source and its status.
[[nodiscard]] std::string statusLine(const std::vector<std::string>& parts);

/// The model's status of the control; empty while the model holds none.
[[nodiscard]] std::string statusOf(const AppModel& model, const ControlKey& key);

/// A secondary label for a status line. A long line wraps inside the room it is given rather
/// than being cut or widening the popover, and shows as plain text: an error's description is
/// never markup.
[[nodiscard]] QLabel* newStatusLabel(QWidget* parent);

/// The name the display is shown by; empty once it is gone.
[[nodiscard]] QString displayLabel(const AppModel& model, const std::string& displayID);

/// What a screen reader calls a control of the display shown as `displayLabel`: the display, then
/// the control, as in "MacBook display brightness" or "Studio Monitor HDR".
[[nodiscard]] QString controlName(const QString& displayLabel, SettingKey setting);

/// A control's hold and the Resume that gives the control back to the rules: two children of the
/// caller's widget, which lays them out. Reads the model and calls its operations.
class HoldLine final {
public:
    /// What a control that is not held shows.
    enum class WhenFree {
        disabledResume, ///< an empty hold and a disabled Resume, keeping their places
        nothing, ///< neither
    };

    /// `model` must outlive the parent. The two are named "hold" and "resume", or after `name`
    /// ("refreshRateHold", "refreshRateResume") where the parent holds more than one hold.
    HoldLine(AppModel& model, ControlKey key, QWidget& parent, WhenFree whenFree,
        const QString& name = {});

    [[nodiscard]] QLabel& hold() const { return *m_hold; }
    [[nodiscard]] QPushButton& resume() const { return *m_resume; }

    /// Shows the model's hold of the control, and names the Resume for it on the display shown
    /// as `displayLabel`.
    void refresh(const QString& displayLabel) const;

private:
    AppModel& m_model;
    ControlKey m_key;
    WhenFree m_whenFree;
    QLabel* m_hold;
    QPushButton* m_resume;
};

} // namespace quorvane
