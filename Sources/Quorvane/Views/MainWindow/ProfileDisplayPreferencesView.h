// The foot of a profile's page: the profile's macOS display preferences and screen resolutions,
// in a section that can be collapsed.
#pragma once

#include "Foundation/UUID.h"
#include "Quorvane/Views/Design/ViewRefresh.h"
#include "QuorvaneCore/ProfileDisplayPreferences.h"

#include <QWidget>

#include <optional>
#include <string>
#include <vector>

class QComboBox;
class QGridLayout;
class QLabel;

namespace quorvane {

class AppModel;
class QuorDisclosureHeader;
struct Profile;

/// Each preference can be left alone, turned on or turned off by the profile; beside it what
/// the system shows now, its error, or "Applying…". Each resolution is the profile's own or the
/// Default profile's. Reads the model and calls its operations.
class ProfileDisplayPreferencesView final : public QWidget {
public:
    /// Starts expanded. `model` must outlive the view.
    ProfileDisplayPreferencesView(AppModel& model, UUID profileID, QWidget* parent = nullptr);
    ~ProfileDisplayPreferencesView() override;

private:
    /// A preference the profile may set, and where in ProfileDisplayPreferences it goes.
    struct Preference {
        const char* title;
        std::optional<bool> ProfileDisplayPreferences::*field;
        QComboBox* choice;
        QLabel* state;
    };
    struct ResolutionRow {
        std::string displayID;
        QLabel* name;
        QComboBox* choice;
    };

    [[nodiscard]] const Profile* profile() const;
    [[nodiscard]] std::vector<SystemDisplayControl> controlsOf(const Preference& preference) const;
    [[nodiscard]] QString stateText(const Preference& preference) const;
    void pick(const Preference& preference, int index);
    void pickResolution(const std::string& displayID, int index);
    void rebuildResolutionsIfNeeded();
    void refresh();

    AppModel& m_model;
    UUID m_profileID;
    QuorDisclosureHeader* m_header;
    QWidget* m_body;
    std::vector<Preference> m_preferences;
    QGridLayout* m_resolutionsLayout;
    QLabel* m_noResolutions;
    std::vector<std::string> m_resolutionDisplays;
    std::vector<ResolutionRow> m_resolutionRows;
    ViewRefresh m_refresh;
};

} // namespace quorvane
