#include "Quorvane/Views/MainWindow/ContentView.h"

#include "Concurrency/Executor.h"
#include "Foundation/Text.h"
#include "Quorvane/AppModel.h"
#include "Quorvane/Views/Design/EditingTextField.h"
#include "Quorvane/Views/Design/FocusKeeper.h"
#include "Quorvane/Views/Design/Notice.h"
#include "Quorvane/Views/Design/QuorStyle.h"
#include "Quorvane/Views/Design/SymbolIcon.h"
#include "Quorvane/Views/DisplayTest/DisplayTestPresentation.h"
#include "Quorvane/Views/MainWindow/DefaultProfileView.h"
#include "Quorvane/Views/MainWindow/DisplaysView.h"
#include "Quorvane/Views/MainWindow/ProfilePage.h"
#include "Quorvane/Views/MainWindow/ProfileSidebar.h"
#include "Quorvane/Views/MainWindow/RuleEditor.h"
#include "Quorvane/Views/MainWindow/RulesTable.h"
#include "Quorvane/Views/MainWindow/SettingsView.h"

#include <QDialog>
#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QStackedWidget>
#include <QToolButton>
#include <QVBoxLayout>

#include <chrono>

namespace quorvane {

namespace {

using namespace std::chrono_literals;

constexpr auto copyCardLifetime = 3s;
constexpr int errorMessageWidth = 400;

QString text(const std::string& utf8) { return QString::fromStdString(utf8); }

/// A name cut to the room a message gives it, ending with "…" when cut.
QString elidedName(const QString& name, const QFont& font)
{
    constexpr int longestName = 300;
    return QFontMetrics(font).elidedText(name, Qt::ElideRight, longestName);
}

QWidget* divider(QWidget* parent)
{
    auto* line = new QWidget(parent);
    QuorStyle::setRole(*line, QuorRole::divider);
    line->setFixedWidth(1);
    return line;
}

QScrollArea* scrolling(QWidget* page, QWidget* parent)
{
    auto* area = new QScrollArea(parent);
    area->setFrameShape(QFrame::NoFrame);
    area->setWidgetResizable(true);
    area->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    // A page is as wide as the column; a vertical scroll bar covers part of its right margin,
    // and that is no reason to scroll sideways to a control the keyboard reaches there.
    QScrollBar* sideways = area->horizontalScrollBar();
    QObject::connect(
        sideways, &QScrollBar::rangeChanged, area, [sideways] { sideways->setRange(0, 0); });
    area->setWidget(page);
    return area;
}

/// Closes `dialog` when it is no longer wanted; true when a wanted one must first be made.
template <typename Dialog> bool mustOpen(bool isWanted, const QPointer<Dialog>& dialog)
{
    if (!isWanted && dialog)
        dialog->close();
    return isWanted && !dialog;
}

/// Whether `control` is there to take the keyboard.
bool canTakeKeyboard(const QWidget* control)
{
    return control && FocusKeeper::canTakeFocus(*control);
}

QWidget* ruleEditor(
    AppModel& model, const RuleDraft& draft, std::function<void()> close, QWidget* parent)
{
    return new RuleEditor(model, draft, std::move(close), parent);
}

} // namespace

ContentView::ContentView(AppModel& model, QWidget* parent)
    : QWidget(parent)
    , m_model(model)
    , m_editorFactory(ruleEditor)
    , m_shownSelection(*model.selectedProfileID)
    , m_sidebar(new ProfileSidebar(*this, this))
    , m_settingsError(new Notice(QString(), "exclamationmark.triangle", this))
    , m_pages(new QStackedWidget(this))
    , m_profilePageArea(scrolling(new QWidget, m_pages))
    , m_defaultProfilePage(scrolling(new DefaultProfileView(model), m_pages))
    , m_displaysPage(scrolling(new DisplaysView(model), m_pages))
    , m_settingsPage(new SettingsView(model, m_pages))
    , m_editorDivider(divider(this))
    , m_columns(new QHBoxLayout(this))
    , m_copyCard(buildCopyCard())
    , m_refresh(model.executor(), [this] { refresh(); })
{
    m_settingsError->setObjectName(QStringLiteral("settingsError"));
    m_pages->addWidget(m_profilePageArea);
    m_pages->addWidget(m_defaultProfilePage);
    m_pages->addWidget(m_displaysPage);
    m_pages->addWidget(m_settingsPage);

    auto* detail = new QWidget(this);
    detail->setFixedWidth(detailWidth);
    auto* detailLayout = new QVBoxLayout(detail);
    detailLayout->setContentsMargins(0, 0, 0, 0);
    detailLayout->setSpacing(0);
    // The margins go with the notice: a layout's margins would take room while it is hidden.
    m_settingsErrorArea = new QWidget(detail);
    auto* noticeMargin = new QVBoxLayout(m_settingsErrorArea);
    noticeMargin->setContentsMargins(16, 16, 16, 16);
    noticeMargin->addWidget(m_settingsError);
    detailLayout->addWidget(m_settingsErrorArea);
    detailLayout->addWidget(m_pages, 1);

    m_sidebar->setFixedWidth(sidebarWidth);
    m_columns->setContentsMargins(0, 0, 0, 0);
    m_columns->setSpacing(0);
    m_columns->addWidget(m_sidebar);
    m_columns->addWidget(divider(this));
    m_columns->addWidget(detail);
    m_columns->addWidget(m_editorDivider);
    m_editorDivider->hide();
    setAutoFillBackground(true);
    setMinimumHeight(minimumHeight);
    setFixedWidth(narrowWidth);
    new DisplayTestPresentation(model, *this, false);

    // Seen as they happen, acted on at the next redraw: a move from one other page to another
    // resets too; a page that is back on profiles by then resets nothing.
    m_changeMarks.push_back(model.page.observe([this] {
        if (*m_model.page != AppPage::profiles)
            m_hasLeftProfilesPage = true;
    }));
    m_refresh.watch(model.configuration, model.selectedProfileID, model.page, model.isLoaded,
        model.settingsError, model.preview, model.actionError, model.ruleCopyFeedback,
        model.hasWindowAccess);
    refresh();
}

ContentView::~ContentView()
{
    m_changeMarks.clear();
    delete m_newProfileDialog.data();
    delete m_deleteDialog.data();
    delete m_errorAlert.data();
}

void ContentView::setDraft(std::optional<RuleDraft> draft)
{
    m_draft = std::move(draft);
    scheduleRefresh();
}

void ContentView::edit(const Rule& rule)
{
    m_model.endRuleEditing(false);
    m_model.selectedRuleID.set(rule.id);
    setDraft(RuleDraft{.profileID = m_model.selectedProfile().id,
        .rule = rule,
        .isNew = false,
        .selectsApps = rule.conditions.hasAppCondition()});
}

void ContentView::setEditorFactory(EditorFactory factory) { m_editorFactory = std::move(factory); }

void ContentView::openNewProfileDialog()
{
    m_name.clear();
    m_isNaming = true;
    scheduleRefresh();
}

void ContentView::confirmDeletion(const Profile& profile)
{
    m_deleting = profile;
    scheduleRefresh();
}

const Profile* ContentView::profileWithID(const UUID& profileID) const
{
    const CopyOnWriteVector<Profile>& profiles = m_model.configuration->profiles;
    const auto profile = std::ranges::find(profiles, profileID, &Profile::id);
    return profile == profiles.end() ? nullptr : &*profile;
}

bool ContentView::acceptsActions() const { return *m_model.isLoaded && !*m_model.settingsError; }

void ContentView::beginProfileRename(ProfileRenameTarget target)
{
    if (!acceptsActions() || target.profileID == m_model.configuration->defaultProfileID)
        return;
    const Profile* profile = profileWithID(target.profileID);
    if (!profile)
        return;
    m_renameText = text(profile->name);
    m_renameTarget = target;
    // The same target keeps its field: what was typed there is abandoned all the same.
    if (m_renameField) {
        m_renameField->setText(m_renameText);
        m_renameField->selectAll();
    }
    scheduleRefresh();
}

EditingTextField* ContentView::profileNameField(ProfileRenameTarget target, QWidget* parent)
{
    auto* field = new EditingTextField(QStringLiteral("Profile name"),
        target.site == ProfileRenameTarget::Site::heading ? EditingTextField::Size::heading
                                                          : EditingTextField::Size::body,
        parent);
    field->setObjectName(QStringLiteral("profileNameField"));
    field->setText(m_renameText);
    field->selectAll();
    m_renameField = field;
    // The field belongs to its target: a later target's callbacks must not reach this one.
    const auto isCurrent = [this, target] { return m_renameTarget == target; };
    connect(field, &QLineEdit::textEdited, this, [this, isCurrent](const QString& typed) {
        if (isCurrent())
            m_renameText = typed;
    });
    connect(field, &EditingTextField::submitted, this, [this, isCurrent] {
        if (isCurrent())
            commitProfileRename();
    });
    const auto discard = [this, isCurrent] {
        if (isCurrent())
            cancelProfileRename();
    };
    connect(field, &EditingTextField::cancelled, this, discard);
    connect(field, &EditingTextField::blurred, this, discard);
    return field;
}

void ContentView::commitProfileRename()
{
    if (!m_renameTarget)
        return;
    const UUID profileID = m_renameTarget->profileID;
    const std::string name = std::string(trimmed(m_renameText.toStdString()));
    m_renameTarget.reset();
    scheduleRefresh();
    if (!name.empty())
        m_model.renameProfile(profileID, name);
}

void ContentView::cancelProfileRename()
{
    // The typed text goes with the field; the next rename starts from the profile's name.
    m_renameTarget.reset();
    m_renameText.clear();
    scheduleRefresh();
}

void ContentView::setShowsRules(bool showsRules)
{
    m_showsRules = showsRules;
    scheduleRefresh();
}

void ContentView::setDropTarget(const UUID& profileID, bool isHovering)
{
    const bool mayHighlight = profileID != m_model.configuration->defaultProfileID
        && profileID != m_model.selectedProfile().id;
    if (isHovering && mayHighlight)
        m_dropTargetProfileID = profileID;
    else if (m_dropTargetProfileID == profileID)
        m_dropTargetProfileID.reset();
    scheduleRefresh();
}

QWidget* ContentView::currentPage() const
{
    QWidget* shown = m_pages->currentWidget();
    if (shown == m_defaultProfilePage)
        return static_cast<QScrollArea*>(shown)->widget();
    return shown == m_profilePageArea ? m_profilePage : shown;
}

void ContentView::refresh()
{
    applyResets();
    const std::optional<std::string>& settingsError = *m_model.settingsError;
    m_settingsError->setMessage(text(settingsError.value_or("")));
    m_settingsErrorArea->setVisible(settingsError.has_value());
    m_sidebar->refresh();
    refreshPage();
    refreshEditor();
    refreshCopyCard();
    refreshDialogs();
}

void ContentView::applyResets()
{
    if (*m_model.selectedProfileID != m_shownSelection) {
        m_shownSelection = *m_model.selectedProfileID;
        m_draft.reset();
        m_showsRules = true;
        // A rename of the profile now selected stays open.
        if (m_renameTarget && m_renameTarget->profileID != m_shownSelection)
            cancelProfileRename();
    }
    if (std::exchange(m_hasLeftProfilesPage, false) && *m_model.page != AppPage::profiles) {
        m_renameTarget.reset();
        m_renameText.clear();
        m_model.endRuleEditing(false);
        m_draft.reset();
    }
}

void ContentView::refreshPage()
{
    switch (*m_model.page) {
    case AppPage::displays:
        showPage(*m_displaysPage);
        return;
    case AppPage::settings:
        showPage(*m_settingsPage);
        return;
    case AppPage::profiles:
        break;
    }
    const UUID profileID = m_model.selectedProfile().id;
    if (profileID == m_model.configuration->defaultProfileID) {
        // Each visit starts from the stored settings: edits left unsaved went with the last one.
        if (m_pages->currentWidget() != m_defaultProfilePage) {
            auto* area = static_cast<QScrollArea*>(m_defaultProfilePage);
            area->takeWidget()->deleteLater();
            area->setWidget(new DefaultProfileView(m_model));
        }
        showPage(*m_defaultProfilePage);
        return;
    }
    // Start-up may still replace the document and the selection (the demo does): a page is
    // built only for the profile it settles on.
    if (!m_profilePage && !*m_model.isLoaded)
        return;
    // One page per profile, so that another profile's page starts from the top.
    if (m_profilePageID != profileID) {
        m_profilePageID = profileID;
        m_profilePage = new ProfilePage(*this, profileID);
        delete m_profilePageArea->takeWidget();
        m_profilePageArea->setWidget(m_profilePage);
    }
    static_cast<ProfilePage*>(m_profilePage)->refresh();
    showPage(*m_profilePageArea);
}

void ContentView::showPage(QWidget& page)
{
    // A stack gives a page shown again the control it last had, wherever the person is: the page
    // left hides first, so that the focus waits where keys do nothing, as a click beside it asks.
    if (QWidget* shown = m_pages->currentWidget();
        shown && shown != &page && shown->isAncestorOf(window()->focusWidget()))
        shown->hide();
    m_pages->setCurrentWidget(&page);
}

void ContentView::refreshEditor()
{
    const bool isEditing = *m_model.page == AppPage::profiles && m_draft;
    if (m_editor && !(isEditing && m_editorRuleID == m_draft->rule.id))
        closeEditor();
    if (isEditing && !m_editor)
        openEditor();
    m_editorDivider->setVisible(isEditing);
    const int width = isEditing ? editingWidth : narrowWidth;
    setFixedWidth(width);
    if (QWidget* frame = window(); frame != this)
        frame->setFixedWidth(width);
}

void ContentView::openEditor()
{
    QWidget* const opener = window()->focusWidget();
    m_editorOpener = opener;
    m_editorOpenerPath = opener ? FocusKeeper::ControlPath(*opener) : FocusKeeper::ControlPath();
    m_editorRuleID = m_draft->rule.id;
    m_editor = m_editorFactory(
        m_model, *m_draft,
        [this] {
            m_model.endRuleEditing(false);
            setDraft(std::nullopt);
        },
        this);
    // Named for its rule: another rule's editor holds other controls of the same names.
    m_editor->setObjectName(
        QStringLiteral("ruleEditor:") + QString::fromStdString(m_editorRuleID->uuidString()));
    m_editor->setFixedWidth(editingWidth - narrowWidth - 1);
    m_columns->addWidget(m_editor);
    m_editor->show();
    // Opened as a panel is: the person goes on in its first field, unless typing elsewhere.
    QWidget* const field = FocusKeeper::firstTabStop(*m_editor);
    if (field && !qobject_cast<QLineEdit*>(opener))
        field->setFocus(Qt::OtherFocusReason);
}

void ContentView::closeEditor()
{
    // The old editor ends its live preview before a new editor may start one.
    m_model.endRuleEditing(false);
    // Before the editor goes, so that the keyboard never waits on the way.
    if (m_editor->isAncestorOf(window()->focusWidget()))
        giveBackKeyboard(*m_editorRuleID);
    m_editor->setVisible(false);
    m_editor->deleteLater();
    m_editor = nullptr;
    m_editorRuleID.reset();
}

void ContentView::giveBackKeyboard(const UUID& ruleID)
{
    QWidget* target = m_profilePage
        ? static_cast<ProfilePage*>(m_profilePage)->rulesTable().revealRule(ruleID)
        : nullptr;
    if (!canTakeKeyboard(target) && m_editorOpener && m_editorOpenerPath.isSame(*m_editorOpener))
        target = m_editorOpener;
    if (canTakeKeyboard(target))
        target->setFocus(Qt::OtherFocusReason);
}

QWidget* ContentView::buildCopyCard()
{
    auto* card = new QFrame(this);
    card->setObjectName(QStringLiteral("copyCard"));
    QuorStyle::setRole(*card, QuorRole::copyCard);
    auto* check = new QLabel(card);
    check->setPixmap(symbolIcon("checkmark.circle.fill", Qt::white).pixmap(16, 16));
    m_copyText = new QLabel(card);
    m_copyText->setObjectName(QStringLiteral("copyText"));
    m_copyText->setTextFormat(Qt::PlainText);
    auto* dismiss = new QToolButton(card);
    dismiss->setObjectName(QStringLiteral("dismissCopy"));
    dismiss->setIcon(symbolIcon("xmark", Qt::white));
    dismiss->setAccessibleName(QStringLiteral("Dismiss copy confirmation"));
    dismiss->setAutoRaise(true);
    auto* layout = new QHBoxLayout(card);
    layout->setContentsMargins(14, 14, 14, 14);
    layout->setSpacing(10);
    layout->addWidget(check);
    layout->addWidget(m_copyText);
    layout->addWidget(dismiss);
    connect(dismiss, &QToolButton::clicked, this, [this] {
        if (m_copyCardID)
            m_model.dismissRuleCopyFeedback(*m_copyCardID);
    });
    card->hide();
    return card;
}

void ContentView::refreshCopyCard()
{
    const std::optional<RuleCopyFeedback>& feedback = *m_model.ruleCopyFeedback;
    if (!feedback) {
        m_copyCardID.reset();
        m_copyCardExpiry.cancel();
        m_copyCard->hide();
        return;
    }
    m_copyText->ensurePolished(); // the style sheet gives the label its font
    const auto copyText = [](const QString& ruleName, const QString& profileName) {
        return QStringLiteral("Copied “") + ruleName + QStringLiteral("” to “") + profileName
            + QStringLiteral("”");
    };
    const QString ruleName = text(feedback->ruleName);
    const QString profileName = text(feedback->profileName);
    const QString shown = copyText(
        elidedName(ruleName, m_copyText->font()), elidedName(profileName, m_copyText->font()));
    m_copyText->setText(shown);
    const QString whole = copyText(ruleName, profileName);
    m_copyText->setToolTip(shown == whole ? QString() : whole);
    if (m_copyCardID != feedback->id) {
        // Each confirmation gets its own full wait; the one it replaced dismisses nothing.
        m_copyCardID = feedback->id;
        m_copyCardExpiry.start(m_model.executor(), copyCardLifetime,
            [this, id = feedback->id] { m_model.dismissRuleCopyFeedback(id); });
    }
    m_copyCard->adjustSize();
    placeCopyCard();
    m_copyCard->show();
    m_copyCard->raise();
}

void ContentView::placeCopyCard() { m_copyCard->move((width() - m_copyCard->width()) / 2, 16); }

void ContentView::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    placeCopyCard();
}

void ContentView::refreshDialogs()
{
    refreshNewProfileDialog();
    refreshDeleteDialog();
    refreshErrorAlert();
}

void ContentView::refreshNewProfileDialog()
{
    if (!mustOpen(m_isNaming, m_newProfileDialog))
        return;
    auto* dialog = new QDialog(this);
    m_newProfileDialog = dialog;
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setWindowTitle(QStringLiteral("New profile"));
    auto* message = new QLabel(
        QStringLiteral("Profiles contain ordered rules and share the permanent Default settings."),
        dialog);
    message->setWordWrap(true);
    auto* field = new QLineEdit(m_name, dialog);
    field->setObjectName(QStringLiteral("name"));
    field->setPlaceholderText(QStringLiteral("Profile name"));
    field->setAccessibleName(QStringLiteral("Profile name"));
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Cancel, dialog);
    QPushButton* save = buttons->addButton(QStringLiteral("Save"), QDialogButtonBox::AcceptRole);
    save->setObjectName(QStringLiteral("save"));
    save->setDefault(true);
    auto* layout = new QVBoxLayout(dialog);
    auto* title = new QLabel(QStringLiteral("New profile"), dialog);
    QuorStyle::setRole(*title, QuorRole::dialogTitle);
    layout->addWidget(title);
    layout->addWidget(message);
    layout->addWidget(field);
    layout->addWidget(buttons);
    dialog->setFixedWidth(360);

    const auto allowSave = [this, save] { save->setEnabled(!isBlank(m_name.toStdString())); };
    allowSave();
    connect(field, &QLineEdit::textEdited, dialog, [this, allowSave](const QString& typed) {
        m_name = typed;
        allowSave();
    });
    connect(buttons, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
    connect(buttons, &QDialogButtonBox::accepted, dialog, [this, dialog] {
        if (isBlank(m_name.toStdString()))
            return;
        m_model.createProfile(m_name.toStdString()); // the model trims
        dialog->accept();
    });
    connect(dialog, &QDialog::finished, this, [this] {
        m_isNaming = false;
        scheduleRefresh();
    });
    dialog->open();
}

void ContentView::refreshDeleteDialog()
{
    if (!mustOpen(m_deleting.has_value(), m_deleteDialog))
        return;
    auto* dialog = new QMessageBox(this);
    m_deleteDialog = dialog;
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setWindowTitle(QStringLiteral("QuorVane"));
    dialog->setTextFormat(Qt::PlainText);
    const QString name = text(m_deleting->name);
    const QString shownName = elidedName(name, dialog->font());
    dialog->setText(QStringLiteral("Delete ") + shownName + QStringLiteral("?"));
    if (shownName != name)
        dialog->setToolTip(name);
    QPushButton* remove
        = dialog->addButton(QStringLiteral("Delete profile"), QMessageBox::DestructiveRole);
    remove->setObjectName(QStringLiteral("deleteProfile"));
    QuorStyle::setRole(*remove, QuorRole::destructive);
    dialog->addButton(QMessageBox::Cancel);
    dialog->setDefaultButton(QMessageBox::Cancel);
    connect(dialog, &QMessageBox::buttonClicked, this, [this, remove](QAbstractButton* clicked) {
        if (clicked == remove && m_deleting)
            m_model.deleteProfile(m_deleting->id);
    });
    connect(dialog, &QDialog::finished, this, [this] {
        m_deleting.reset();
        scheduleRefresh();
    });
    dialog->open();
}

void ContentView::refreshErrorAlert()
{
    const std::optional<std::string>& error = *m_model.actionError;
    if (mustOpen(error.has_value(), m_errorAlert)) {
        auto* alert = new QMessageBox(this);
        m_errorAlert = alert;
        alert->setAttribute(Qt::WA_DeleteOnClose);
        alert->setWindowTitle(QStringLiteral("QuorVane"));
        alert->setIcon(QMessageBox::Warning);
        alert->addButton(QMessageBox::Ok);
        // However the alert goes, the message it showed is done with.
        connect(alert, &QDialog::finished, this, [this] { m_model.actionError.set(std::nullopt); });
        alert->open();
    }
    if (!error || !m_errorAlert)
        return;
    m_errorAlert->setText(QStringLiteral("QuorVane"));
    m_errorAlert->setInformativeText(text(*error));
    // Messages quote names as typed; the box would take markup in them for formatting.
    for (auto* label : m_errorAlert->findChildren<QLabel*>())
        label->setTextFormat(Qt::PlainText);
    // The box sizes itself to its short title and would wrap the message after a few words.
    if (auto* message
        = m_errorAlert->findChild<QLabel*>(QStringLiteral("qt_msgbox_informativelabel")))
        message->setMinimumWidth(errorMessageWidth);
}

} // namespace quorvane
