// The Default profile's page: per screen the values that apply wherever no rule decides, with
// what each screen's controls take; "Save" stores the edits after any display test they need.
#pragma once

#include "Quorvane/DefaultSettingsDraft.h"
#include "Quorvane/Views/Design/ViewRefresh.h"

#include <QWidget>

#include <map>
#include <string>
#include <vector>

class QLabel;
class QPushButton;
class QVBoxLayout;

namespace quorvane {

class AppModel;
class SettingValueEditor;
struct DisplayReference;

/// Shows the stored Default settings with the user's unsaved edits over them: a model change
/// redraws every value the user has not edited and keeps every one they have.
class DefaultProfileView final : public QWidget {
public:
    /// `model` must outlive the view. The draft starts empty.
    explicit DefaultProfileView(AppModel& model, QWidget* parent = nullptr);

    [[nodiscard]] const DefaultSettingsDraft& draft() const { return m_draft; }

    /// Re-reads the screens, the stored values and the capabilities.
    void refresh();

private:
    /// One screen's card.
    struct ScreenCard {
        QWidget* card;
        QLabel* status;
        std::map<SettingKey, SettingValueEditor*> editors;
    };

    void rebuildCards(const std::vector<DisplayReference>& screens);
    [[nodiscard]] ScreenCard buildCard(const DisplayReference& screen);
    void refreshCard(const std::string& displayID, const ScreenCard& card);
    void refreshSave();
    void edit(const ControlKey& key, std::optional<SettingValue> value);
    void save();
    void startFreshDraft();

    AppModel& m_model;
    DefaultSettingsDraft m_draft;
    QVBoxLayout* m_cardsLayout;
    QLabel* m_emptyState;
    QPushButton* m_save;
    std::vector<DisplayReference> m_shownScreens;
    std::map<std::string, ScreenCard> m_cards;
    ViewRefresh m_refresh;
};

} // namespace quorvane
