// The rule editor column of the main window: a rule's name, the applications, screen and Space
// it applies to, and its five settings, each a value or Default; "Save rule" saves it after any
// display test its modes need. While the rule lacks a name, a setting, or an app in the
// selected-apps mode, a line under the button says which.
#pragma once

#include "Quorvane/RuleDraft.h"
#include "Quorvane/Views/Design/ViewRefresh.h"

#include <QWidget>

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace quorvane {

class AppModel;
class PageHeading;
class RuleAppSelection;
class SettingValueEditor;
struct SettingOffer;

/// Keeps its own copy of the draft: a model change redraws the choices around it but never
/// changes what the user entered. Every change of the settings is previewed live; the editor
/// ends the preview when it goes away.
class RuleEditor final : public QWidget {
public:
    /// `model` must outlive the editor. `close` ends the edit and removes the column.
    RuleEditor(
        AppModel& model, RuleDraft draft, std::function<void()> close, QWidget* parent = nullptr);
    ~RuleEditor() override;

    RuleEditor(const RuleEditor&) = delete;
    RuleEditor& operator=(const RuleEditor&) = delete;

    [[nodiscard]] const RuleDraft& draft() const { return m_draft; }

    /// Re-reads the choices and capabilities from the model.
    void refresh();

protected:
    /// Escape cancels, as "Cancel" does.
    void keyPressEvent(QKeyEvent* event) override;

private:
    QWidget* buildForm();
    QWidget* buildFooter();
    QWidget* section(const QString& title, QWidget* parent);
    void editName(const QString& name);
    void editApps(std::vector<ApplicationReference> apps);
    void editScreen(int index);
    void editSpace(int index);
    void editSetting(SettingKey key, std::optional<SettingValue> value);
    void save();
    void refreshScreens();
    void refreshSpaces();
    /// The Spaces the chosen screen has; every Space with "All screens".
    [[nodiscard]] std::vector<Desktop> offeredSpaces() const;
    void refreshSettings();
    void refreshSave();
    [[nodiscard]] SettingOffer offer(SettingKey key) const;
    /// The one display the conditions act on; absent: every display.
    [[nodiscard]] std::optional<std::string> targetDisplayID() const;
    [[nodiscard]] QString shownName() const;

    AppModel& m_model;
    RuleDraft m_draft;
    std::function<void()> m_close;
    PageHeading* m_heading = nullptr;
    QLineEdit* m_name = nullptr;
    RuleAppSelection* m_apps = nullptr;
    QComboBox* m_screen = nullptr;
    std::vector<std::optional<DisplayReference>> m_screens;
    QComboBox* m_space = nullptr;
    std::vector<std::optional<Desktop>> m_spaces;
    /// Under the Space: the rule's Space is not one of the chosen screen's.
    QLabel* m_spaceElsewhere = nullptr;
    std::map<SettingKey, SettingValueEditor*> m_settings;
    QPushButton* m_save = nullptr;
    /// Under "Save rule": what the rule needs before it can be saved.
    QLabel* m_missing = nullptr;
    ViewRefresh m_refresh;
};

} // namespace quorvane
