// The main window's content: the profile sidebar, the page the model shows, and while a rule is
// edited on the profiles page the rule editor column; over them the rule-copy confirmation, and
// the new-profile, delete and error dialogs.
#pragma once

#include "Concurrency/DelayedCall.h"
#include "Foundation/UUID.h"
#include "Quorvane/RuleDraft.h"
#include "Quorvane/Views/Design/FocusKeeper.h"
#include "Quorvane/Views/Design/ViewRefresh.h"
#include "QuorvaneCore/Rules.h"

#include <QDialog>
#include <QMessageBox>
#include <QPointer>
#include <QString>
#include <QWidget>

#include <functional>
#include <optional>

class QHBoxLayout;
class QLabel;
class QScrollArea;
class QStackedWidget;

namespace quorvane {

class AppModel;
class DisplayTestPresentation;
class EditingTextField;
class Notice;
class ProfileSidebar;

/// Where an inline profile-name field is open: in place of the profile's sidebar row, or of the
/// profile page's title.
struct ProfileRenameTarget {
    enum class Site {
        sidebar,
        heading,
    };
    Site site;
    UUID profileID;
    bool operator==(const ProfileRenameTarget&) const = default;
};

/// Owns the window's transient editing state; everything lasting is the model's. Model changes
/// and changes of this state redraw once per executor turn.
class ContentView final : public QWidget {
public:
    /// Builds the editor column for a draft; `close` ends the edit and closes the column.
    using EditorFactory = std::function<QWidget*(
        AppModel& model, const RuleDraft& draft, std::function<void()> close, QWidget* parent)>;

    static constexpr int sidebarWidth = 205;
    static constexpr int detailWidth = 828;
    static constexpr int narrowWidth = 1034;
    static constexpr int editingWidth = 1370;
    static constexpr int minimumHeight = 680;

    /// `model` must outlive the view.
    explicit ContentView(AppModel& model, QWidget* parent = nullptr);
    ~ContentView() override;

    [[nodiscard]] AppModel& model() const { return m_model; }

    // The rule open in the editor.
    [[nodiscard]] const std::optional<RuleDraft>& draft() const { return m_draft; }
    void setDraft(std::optional<RuleDraft> draft);
    /// Opens the stored rule in the editor, ending any live edit first.
    void edit(const Rule& rule);
    /// Replaces the editor column's builder; the next editor is built with it.
    void setEditorFactory(EditorFactory factory);

    // The dialogs.
    void openNewProfileDialog();
    void confirmDeletion(const Profile& profile);

    // Inline renaming, in the sidebar or the profile page's heading.
    [[nodiscard]] const std::optional<ProfileRenameTarget>& renameTarget() const
    {
        return m_renameTarget;
    }
    /// Opens the name field for `target`, abandoning any other; refused for the Default profile,
    /// an unknown profile, and while the settings are not loaded or failed.
    void beginProfileRename(ProfileRenameTarget target);
    /// The field for `target`, focused, holding the typed name; Return commits, Escape and a
    /// real loss of focus discard.
    [[nodiscard]] EditingTextField* profileNameField(ProfileRenameTarget target, QWidget* parent);
    /// Closes the field and renames the profile to the trimmed text unless it is empty.
    void commitProfileRename();
    void cancelProfileRename();

    // The profile page's rules section and the sidebar's drag highlight.
    [[nodiscard]] bool showsRules() const { return m_showsRules; }
    void setShowsRules(bool showsRules);
    [[nodiscard]] const std::optional<UUID>& dropTargetProfileID() const
    {
        return m_dropTargetProfileID;
    }
    /// A drag hovering (true) or leaving (false) the profile's row.
    void setDropTarget(const UUID& profileID, bool isHovering);

    /// The stored profile with that identifier; null when there is none.
    [[nodiscard]] const Profile* profileWithID(const UUID& profileID) const;
    /// Whether the model takes user actions now: loaded and no settings error.
    [[nodiscard]] bool acceptsActions() const;

    /// Queues a redraw for the end of this executor turn.
    void scheduleRefresh() { m_refresh.schedule(); }
    /// Redraws now.
    void refresh();

    // Parts, for the window and for tests.
    [[nodiscard]] ProfileSidebar& sidebar() const { return *m_sidebar; }
    [[nodiscard]] QWidget* editor() const { return m_editor; }
    [[nodiscard]] QWidget* copyCard() const { return m_copyCard; }
    [[nodiscard]] QDialog* newProfileDialog() const { return m_newProfileDialog; }
    [[nodiscard]] QMessageBox* deleteDialog() const { return m_deleteDialog; }
    [[nodiscard]] QMessageBox* errorAlert() const { return m_errorAlert; }
    [[nodiscard]] QWidget* currentPage() const;

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void applyResets();
    void refreshPage();
    void showPage(QWidget& page);
    void refreshEditor();
    void refreshCopyCard();
    void refreshDialogs();
    void refreshNewProfileDialog();
    void refreshDeleteDialog();
    void refreshErrorAlert();
    void placeCopyCard();
    void openEditor();
    /// Closes the editor; the keyboard it had goes back as giveBackKeyboard() says.
    void closeEditor();
    /// Gives the keyboard back as the editor that had it closes: to the row of its rule, else to
    /// the control that opened it while that still shows the same thing.
    void giveBackKeyboard(const UUID& ruleID);
    QWidget* buildCopyCard();

    AppModel& m_model;
    EditorFactory m_editorFactory;

    // The window's editing state.
    std::optional<RuleDraft> m_draft;
    bool m_isNaming = false;
    QString m_name;
    std::optional<Profile> m_deleting;
    std::optional<ProfileRenameTarget> m_renameTarget;
    QString m_renameText;
    QPointer<EditingTextField> m_renameField;
    bool m_showsRules = true;
    std::optional<UUID> m_dropTargetProfileID;

    // What the model changed since the last redraw, seen as it happened.
    std::optional<UUID> m_shownSelection;
    bool m_hasLeftProfilesPage = false;

    ProfileSidebar* m_sidebar;
    Notice* m_settingsError;
    QWidget* m_settingsErrorArea;
    QStackedWidget* m_pages;
    QScrollArea* m_profilePageArea;
    QWidget* m_defaultProfilePage;
    QWidget* m_displaysPage;
    QWidget* m_settingsPage;
    QWidget* m_profilePage = nullptr;
    std::optional<UUID> m_profilePageID;
    QWidget* m_editorDivider;
    QHBoxLayout* m_columns;
    QPointer<QWidget> m_editor;
    std::optional<UUID> m_editorRuleID;
    /// The control that had the keyboard as the editor opened, and where it stood then.
    QPointer<QWidget> m_editorOpener;
    FocusKeeper::ControlPath m_editorOpenerPath;
    QWidget* m_copyCard;
    QLabel* m_copyText;
    std::optional<UUID> m_copyCardID;
    /// The card's dismissal; a newer confirmation replaces it.
    DelayedCall m_copyCardExpiry;
    QPointer<QDialog> m_newProfileDialog;
    QPointer<QMessageBox> m_deleteDialog;
    QPointer<QMessageBox> m_errorAlert;
    std::vector<Subscription> m_changeMarks;
    ViewRefresh m_refresh;
};

} // namespace quorvane
