// The applications a rule names: all applications, or the ones picked from the installed list
// or from an open panel.
#pragma once

#include "QuorvaneCore/Rules.h"

#include <QWidget>

#include <functional>
#include <vector>

class QLabel;
class QLineEdit;
class QListWidget;
class QListWidgetItem;
class QPushButton;
class QRadioButton;

namespace quorvane {

class AppModel;

/// Keeps the picked applications while "All apps" is chosen, so that choosing "Selected apps"
/// again brings them back; the rule names them only in the selected mode.
class RuleAppSelection final : public QWidget {
public:
    /// `model` must outlive the view.
    RuleAppSelection(AppModel& model, std::vector<ApplicationReference> selected, bool selectsApps,
        QWidget* parent = nullptr);

    /// Called after every change by the user with the applications the rule now names (none
    /// for "All apps"), in the order they were picked.
    void setOnChanged(std::function<void(std::vector<ApplicationReference>)> onChanged);

    /// The applications the rule names now.
    [[nodiscard]] std::vector<ApplicationReference> apps() const;
    [[nodiscard]] bool selectsApps() const { return m_selectsApps; }

    /// Lists the model's applications again; the picks and the search stay.
    void refresh();

protected:
    /// Space ticks or unticks the list's current app, as in any list of check boxes.
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void setSelectsApps(bool selectsApps);
    void toggle(QListWidgetItem* item);
    void chooseApplications();
    void changed();
    [[nodiscard]] bool isSelected(const std::string& id) const;

    AppModel& m_model;
    std::vector<ApplicationReference> m_selected;
    bool m_selectsApps;
    std::function<void(std::vector<ApplicationReference>)> m_onChanged;
    /// The applications listed, by row, before the search hides some.
    std::vector<ApplicationReference> m_listed;
    QRadioButton* m_all;
    QRadioButton* m_some;
    QWidget* m_picker;
    QLineEdit* m_search;
    QListWidget* m_list;
    QLabel* m_count;
    QPushButton* m_choose;
};

} // namespace quorvane
