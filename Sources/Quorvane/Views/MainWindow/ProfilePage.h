// The page of one profile other than Default: its heading with inline rename, the Active switch
// and profile menu, the window-access notice, the rules and their order note, and the
// profile's display preferences.
#pragma once

#include "Foundation/UUID.h"

#include <QPointer>
#include <QWidget>

class QAction;
class QPushButton;
class QToolButton;

namespace quorvane {

class ContentView;
class EditingTextField;
class ElidedLabel;
class QuorDisclosureHeader;
class RulesTable;
struct Profile;

class ProfilePage final : public QWidget {
public:
    ProfilePage(ContentView& content, UUID profileID, QWidget* parent = nullptr);

    /// Shows the profile as the model holds it now.
    void refresh();

    [[nodiscard]] RulesTable& rulesTable() const { return *m_table; }
    /// The height the rules' scroll area takes for `count` rules.
    [[nodiscard]] static int rulesAreaHeight(std::size_t count);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QWidget* buildHeading();
    QWidget* buildAccessNotice();
    QWidget* buildRulesHeader();
    QWidget* buildEmptyState();
    QWidget* buildOrderNote();
    void addRule();
    void refreshHeading(const Profile& profile);

    ContentView& m_content;
    UUID m_profileID;
    ElidedLabel* m_name = nullptr;
    QWidget* m_nameColumn = nullptr;
    QPointer<QWidget> m_nameField;
    QToolButton* m_menuButton = nullptr;
    QAction* m_deleteAction = nullptr;
    QWidget* m_accessNotice = nullptr;
    QuorDisclosureHeader* m_rulesHeader = nullptr;
    QPushButton* m_addRule = nullptr;
    QWidget* m_emptyState = nullptr;
    RulesTable* m_table = nullptr;
    QWidget* m_orderNote = nullptr;
};

} // namespace quorvane
