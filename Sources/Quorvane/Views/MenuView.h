// MenuView.h: the menu-bar popover's content: the status line, the active profile and the
// automation switch, the display controls, saving manual settings, and the way to the window.
#pragma once

#include "Quorvane/Views/Design/ViewRefresh.h"
#include "QuorvaneCore/ControlKey.h"
#include "QuorvaneCore/ResolvedPlan.h"

#include <QWidget>

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

class QCheckBox;
class QComboBox;
class QFrame;
class QLabel;
class QLineEdit;
class QPushButton;

namespace quorvane {

class AppModel;
class DisplaysPage;
struct Profile;

/// Reads the model and calls its operations; never writes a field.
class MenuView final : public QWidget {
    Q_OBJECT

public:
    /// `model` must outlive the view.
    explicit MenuView(AppModel& model, QWidget* parent = nullptr);
    ~MenuView() override;

    [[nodiscard]] DisplaysPage& displaysPage() const { return *m_displays; }

    /// Shows how a save of manual settings ended: absent on success, else why it failed.
    void saveEnded(const std::optional<std::string>& failure);

signals:
    /// The user asked for the main window.
    void mainWindowRequested();

private:
    QWidget* buildProfileRow();
    QWidget* buildAccessNotice();
    QWidget* buildSaveSection();
    void activatePicked(int index);
    void startSave(std::optional<std::string> newProfileName);
    /// Closes the name row; the focus of its buttons stays on the card, where no key acts.
    void closeNameRow();
    void hideSaveResult();
    /// Whether the save card's result line says `message`: the popover says it only there.
    [[nodiscard]] bool saysInSaveCard(const std::string& message) const;
    void refresh();
    void refreshStatus();
    void refreshProfiles();
    /// Brings the picker's items in line with the profiles' names.
    void showProfileNames(const std::vector<std::reference_wrapper<const Profile>>& profiles);
    void refreshSaveSection();

    AppModel& m_model;
    QLabel* m_status;
    QCheckBox* m_automation;
    QComboBox* m_activeProfile;
    /// The picker's items, in order.
    std::vector<std::string> m_shownNames;
    QFrame* m_accessNotice;
    DisplaysPage* m_displays;
    QLabel* m_saveReason;
    QPushButton* m_updateProfile;
    QPushButton* m_saveNewProfile;
    QWidget* m_nameRow;
    QLineEdit* m_newProfileName;
    QPushButton* m_saveName;
    QLabel* m_saveResult;
    /// What the line under the save buttons stands on: the holds as the save's end found them,
    /// and for a failure also the hardware as last read. It goes once they have changed.
    struct SaveResultBasis {
        std::map<ControlKey, ManualHold> holds;
        std::optional<std::int64_t> refreshRevision;
    };
    std::optional<SaveResultBasis> m_saveResultBasis;
    QPushButton* m_openWindow;
    QPushButton* m_resume;
    QPushButton* m_quit;
    ViewRefresh m_refresh;
};

} // namespace quorvane
