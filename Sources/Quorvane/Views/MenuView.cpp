#include "Quorvane/Views/MenuView.h"

#include "Concurrency/Cancellation.h"
#include "Concurrency/Spawn.h"
#include "Foundation/Error.h"
#include "Foundation/Text.h"
#include "Quorvane/AppModel.h"
#include "Quorvane/Views/Design/QuorStyle.h"
#include "Quorvane/Views/Design/TabOrder.h"
#include "Quorvane/Views/DisplaysPage.h"
#include "Quorvane/Views/SettingsErrorReport.h"
#include "QuorvaneMac/FocusedWindowProvider.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QVBoxLayout>
#include <QValidator>

#include <algorithm>
#include <iterator>
#include <memory>

namespace quorvane {

namespace {

QString text(const std::string& utf8) { return QString::fromStdString(utf8); }

QLabel* secondary(const QString& content, QWidget* parent)
{
    auto* label = new QLabel(content, parent);
    QuorStyle::setRole(*label, QuorRole::secondary);
    label->setWordWrap(true);
    return label;
}

/// Saves the held adjustments into the active profile, or into a new profile when a name is
/// given, and tells the view how it went if the view is still there. Holds the model: the save
/// must not lose it half-way.
Task<void> saveManualSettings(std::shared_ptr<AppModel> model,
    std::optional<std::string> newProfileName, QPointer<MenuView> view)
{
    std::optional<std::string> failure;
    try {
        if (newProfileName)
            (void)co_await model->saveCurrentStateAsProfile(*newProfileName);
        else
            co_await model->updateActiveProfileFromManualSettings();
    } catch (const CancellationError&) {
        throw;
    } catch (const Error& error) {
        failure = error.what();
    }
    if (view)
        view->saveEnded(failure);
}

/// A name never starts with blanks: a Space typed into the empty field does nothing, so that
/// Space pressed twice on "Save as new profile…" only opens the field.
class NoLeadingBlanks final : public QValidator {
public:
    using QValidator::QValidator;
    State validate(QString& input, int& position) const override
    {
        const auto blanks
            = std::ranges::find_if_not(input, [](QChar c) { return c.isSpace(); }) - input.begin();
        input.remove(0, blanks);
        position = std::max(0, position - static_cast<int>(blanks));
        return Acceptable;
    }
};

} // namespace

MenuView::MenuView(AppModel& model, QWidget* parent)
    : QWidget(parent)
    , m_model(model)
    , m_status(new QLabel(this))
    , m_automation(new QCheckBox(QStringLiteral("Automation"), this))
    , m_activeProfile(new QComboBox(this))
    , m_accessNotice(nullptr)
    , m_displays(new DisplaysPage(model, this))
    , m_openWindow(new QPushButton(QStringLiteral("Open QuorVane…"), this))
    , m_resume(new QPushButton(QStringLiteral("Resume"), this))
    , m_quit(new QPushButton(QStringLiteral("Quit"), this))
    , m_refresh(model.executor(), [this] { refresh(); })
{
    m_status->setObjectName(QStringLiteral("status"));
    m_automation->setObjectName(QStringLiteral("automation"));
    m_openWindow->setObjectName(QStringLiteral("openMainWindow"));
    m_resume->setObjectName(QStringLiteral("resumeAll"));
    m_resume->setToolTip(QStringLiteral("Release every manual adjustment"));
    m_quit->setObjectName(QStringLiteral("quit"));
    // A settings error is shown whole, as plain text (a message may hold "<"), and its file's
    // path can be copied.
    m_status->setWordWrap(true);
    m_status->setTextFormat(Qt::PlainText);
    m_status->setTextInteractionFlags(Qt::TextSelectableByMouse);
    QuorStyle::setRole(*m_status, QuorRole::secondary);
    auto* layout = new QVBoxLayout(this);
    layout->setSpacing(10);
    auto* header = new QHBoxLayout;
    auto* title = new QLabel(QStringLiteral("QuorVane"), this);
    QuorStyle::setRole(*title, QuorRole::subtitle);
    header->addWidget(title);
    header->addStretch();
    header->addWidget(m_automation);
    layout->addLayout(header);
    layout->addWidget(m_status);
    layout->addWidget(buildProfileRow());
    layout->addWidget(buildAccessNotice());
    layout->addWidget(m_displays);
    layout->addWidget(buildSaveSection());
    auto* footer = new QHBoxLayout;
    footer->addWidget(m_openWindow);
    footer->addStretch();
    footer->addWidget(m_resume);
    footer->addWidget(m_quit);
    layout->addLayout(footer);

    // clicked, not toggled: refresh() sets the state too, and that must not call the model.
    connect(m_automation, &QCheckBox::clicked, this, [this](bool checked) {
        m_model.setAutomation(checked);
        refresh(); // a refused switch leaves the model as it was
    });
    connect(
        m_activeProfile, &QComboBox::activated, this, [this](int index) { activatePicked(index); });
    connect(m_openWindow, &QPushButton::clicked, this, &MenuView::mainWindowRequested);
    connect(m_resume, &QPushButton::clicked, this, [this] { m_model.resume(std::nullopt); });
    connect(m_quit, &QPushButton::clicked, this, [this] { m_model.quit(); });

    m_refresh.watch(m_model.configuration, m_model.isLoaded, m_model.settingsError,
        m_model.isQuitting, m_model.hasWindowAccess, m_model.currentAppName,
        m_model.isSavingManualProfile, m_model.holds, m_model.tasks, m_model.modeBusy,
        m_model.preview, m_model.isRefreshing, m_model.systemDisplayApplying,
        m_model.refreshRevision);
    refresh();
    followLayout(*this);
}

MenuView::~MenuView() = default;

QWidget* MenuView::buildProfileRow()
{
    auto* row = new QWidget(this);
    m_activeProfile->setObjectName(QStringLiteral("activeProfile"));
    m_activeProfile->setAccessibleName(QStringLiteral("Active profile"));
    m_activeProfile->setParent(row);
    // The popover keeps its width: a long name ends with "…" and shows whole as the tooltip.
    m_activeProfile->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    m_activeProfile->setMinimumContentsLength(8);
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(new QLabel(QStringLiteral("Active profile"), row));
    layout->addWidget(m_activeProfile, 1);
    return row;
}

QWidget* MenuView::buildAccessNotice()
{
    m_accessNotice = new QFrame(this);
    m_accessNotice->setObjectName(QStringLiteral("windowAccess"));
    QuorStyle::setRole(*m_accessNotice, QuorRole::notice);
    auto* explanation = secondary(
        QStringLiteral("This profile has app screen settings; they apply once QuorVane may see "
                       "which window is in front."),
        m_accessNotice);
    auto* allow = new QPushButton(QStringLiteral("Allow window access…"), m_accessNotice);
    allow->setObjectName(QStringLiteral("allowWindowAccess"));
    connect(allow, &QPushButton::clicked, this, [this] {
        m_model.focus().requestPermission();
        // A permission granted at once shows without waiting for the next event.
        m_model.contextChanged();
    });
    auto* layout = new QVBoxLayout(m_accessNotice);
    layout->setContentsMargins(12, 10, 12, 10);
    layout->addWidget(explanation);
    layout->addWidget(allow, 0, Qt::AlignLeft);
    return m_accessNotice;
}

QWidget* MenuView::buildSaveSection()
{
    auto* section = new QFrame(this);
    QuorStyle::setRole(*section, QuorRole::card);
    auto* title = new QLabel(QStringLiteral("Save manual settings"), section);
    QuorStyle::setRole(*title, QuorRole::subtitle);
    m_saveReason = secondary(QString(), section);
    m_saveReason->setObjectName(QStringLiteral("saveUnavailable"));
    m_updateProfile = new QPushButton(QStringLiteral("Update active profile"), section);
    m_updateProfile->setObjectName(QStringLiteral("updateProfile"));
    m_saveNewProfile = new QPushButton(QStringLiteral("Save as new profile…"), section);
    m_saveNewProfile->setObjectName(QStringLiteral("saveNewProfile"));
    m_nameRow = new QWidget(section);
    m_newProfileName = new QLineEdit(m_nameRow);
    m_newProfileName->setObjectName(QStringLiteral("newProfileName"));
    m_newProfileName->setPlaceholderText(QStringLiteral("Profile name"));
    m_newProfileName->setAccessibleName(QStringLiteral("New profile name"));
    m_newProfileName->setValidator(new NoLeadingBlanks(m_newProfileName));
    m_saveName = new QPushButton(QStringLiteral("Save"), m_nameRow);
    m_saveName->setObjectName(QStringLiteral("saveName"));
    auto* cancel = new QPushButton(QStringLiteral("Cancel"), m_nameRow);
    cancel->setObjectName(QStringLiteral("cancelName"));
    auto* nameLayout = new QHBoxLayout(m_nameRow);
    nameLayout->setContentsMargins(0, 0, 0, 0);
    nameLayout->addWidget(m_newProfileName, 1);
    nameLayout->addWidget(cancel);
    nameLayout->addWidget(m_saveName);
    m_nameRow->hide();
    m_saveResult = secondary(QString(), section);
    m_saveResult->setObjectName(QStringLiteral("saveResult"));
    m_saveResult->setTextFormat(Qt::PlainText);
    m_saveResult->hide();

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(m_updateProfile);
    buttons->addWidget(m_saveNewProfile);
    buttons->addStretch();
    auto* layout = new QVBoxLayout(section);
    layout->setContentsMargins(12, 10, 12, 10);
    layout->addWidget(title);
    layout->addWidget(m_saveReason);
    layout->addLayout(buttons);
    layout->addWidget(m_nameRow);
    layout->addWidget(m_saveResult);

    connect(m_updateProfile, &QPushButton::clicked, this, [this] { startSave(std::nullopt); });
    connect(m_saveNewProfile, &QPushButton::clicked, this, [this] {
        m_newProfileName->clear();
        m_nameRow->show();
        m_newProfileName->setFocus();
        refresh();
    });
    connect(cancel, &QPushButton::clicked, this, [this] {
        closeNameRow();
        // A failure of the named save no longer stands once the person gave that save up.
        if (m_saveResultBasis && m_saveResultBasis->refreshRevision)
            hideSaveResult();
        refresh();
    });
    const auto submitName = [this] {
        if (!isBlank(m_newProfileName->text().toStdString()))
            startSave(m_newProfileName->text().toStdString());
    };
    connect(m_saveName, &QPushButton::clicked, this, submitName);
    connect(m_newProfileName, &QLineEdit::returnPressed, this, submitName);
    connect(m_newProfileName, &QLineEdit::textEdited, this, [this] { refresh(); });
    return section;
}

void MenuView::activatePicked(int index)
{
    const auto profiles = m_model.configuration->orderedProfileReferences();
    if (index >= 0 && static_cast<std::size_t>(index) < profiles.size())
        m_model.activateProfile(profiles[static_cast<std::size_t>(index)].get().id);
    refresh(); // a refused activation shows the active profile again
}

void MenuView::startSave(std::optional<std::string> newProfileName)
{
    hideSaveResult();
    spawn(m_model.executor(),
        saveManualSettings(m_model.shared_from_this(), std::move(newProfileName), this));
}

void MenuView::saveEnded(const std::optional<std::string>& failure)
{
    if (!failure && m_nameRow->isVisibleTo(this))
        closeNameRow();
    // A failure may say the hardware was not as expected: a fresh read of it ends it too.
    m_saveResultBasis = SaveResultBasis{.holds = *m_model.holds,
        .refreshRevision = failure ? std::optional(*m_model.refreshRevision) : std::nullopt};
    m_saveResult->setText(failure ? text(*failure) : QStringLiteral("Saved."));
    m_saveResult->show();
    refresh();
}

void MenuView::closeNameRow() { m_nameRow->setVisible(false); }

void MenuView::hideSaveResult()
{
    m_saveResultBasis.reset();
    m_saveResult->hide();
}

bool MenuView::saysInSaveCard(const std::string& message) const
{
    return !m_saveResult->isHidden() && m_saveResult->text() == text(message);
}

void MenuView::refresh()
{
    // A settings error stops all automatic work and refuses the switch.
    const bool hasSettingsError = m_model.settingsError->has_value();
    m_automation->setChecked(m_model.configuration->automationEnabled && !hasSettingsError);
    m_automation->setEnabled(*m_model.isLoaded && !*m_model.isQuitting && !hasSettingsError);
    m_quit->setEnabled(!*m_model.isQuitting);
    refreshProfiles();
    refreshSaveSection();
    refreshStatus(); // after the save card, which may say the settings error instead
}

void MenuView::refreshStatus()
{
    const bool isOn = m_model.configuration->automationEnabled;
    const QString previous = m_status->text();
    if (*m_model.isQuitting)
        m_status->setText(QStringLiteral("Quitting…"));
    else if (m_model.settingsError->has_value())
        m_status->setText(saysInSaveCard(**m_model.settingsError)
                ? QString()
                : QString::fromStdString(
                    settingsErrorText(**m_model.settingsError, m_model.settingsURL)));
    else if (!*m_model.isLoaded)
        m_status->setText(QStringLiteral("Starting…"));
    else if (!isOn)
        m_status->setText(QStringLiteral("Automation is off: the displays keep their settings."));
    else
        m_status->setText(QStringLiteral("Following the rules · ") + text(*m_model.currentAppName));
    m_status->setVisible(!m_status->text().isEmpty());
    if (m_status->text() != previous) {
        // Lay out now, not at the next event: a long message must get its height at once.
        for (QWidget* widget = this; widget; widget = widget->parentWidget()) {
            if (QLayout* layout = widget->layout())
                layout->activate();
        }
    }
}

void MenuView::refreshProfiles()
{
    const Configuration& configuration = *m_model.configuration;
    const auto profiles = configuration.orderedProfileReferences();
    showProfileNames(profiles);
    const auto active = std::ranges::find_if(profiles,
        [&](const Profile& profile) { return profile.id == configuration.activeProfileID; });
    const int current = active == profiles.end() ? -1 : static_cast<int>(active - profiles.begin());
    m_activeProfile->setCurrentIndex(current);
    m_activeProfile->setToolTip(m_activeProfile->currentText());
    m_activeProfile->setEnabled(
        *m_model.isLoaded && !m_model.settingsError->has_value() && !*m_model.isQuitting);
    const bool needsAccess = !profiles.empty() && *m_model.isLoaded
        && m_model.needsWindowAccess(configuration.activeProfile());
    m_accessNotice->setVisible(needsAccess);
}

void MenuView::showProfileNames(const std::vector<std::reference_wrapper<const Profile>>& profiles)
{
    // Only the names between those that already match at both ends are replaced: a rename or a
    // deletion changes one item of the picker, not all of them.
    const auto isShownAs
        = [](const std::string& shown, const Profile& profile) { return shown == profile.name; };
    const auto start = static_cast<std::size_t>(
        std::ranges::mismatch(m_shownNames, profiles, isShownAs).in1 - m_shownNames.begin());
    std::size_t shownEnd = m_shownNames.size();
    std::size_t wantedEnd = profiles.size();
    while (shownEnd > start && wantedEnd > start
        && isShownAs(m_shownNames[shownEnd - 1], profiles[wantedEnd - 1])) {
        --shownEnd;
        --wantedEnd;
    }
    std::vector<std::string> names;
    for (std::size_t wanted = start; wanted < wantedEnd; ++wanted)
        names.push_back(profiles[wanted].get().name);
    for (std::size_t item = start; item < std::min(shownEnd, wantedEnd); ++item)
        m_activeProfile->setItemText(static_cast<int>(item), text(names[item - start]));
    for (std::size_t item = wantedEnd; item < shownEnd; ++item)
        m_activeProfile->removeItem(static_cast<int>(wantedEnd));
    for (std::size_t item = shownEnd; item < wantedEnd; ++item)
        m_activeProfile->insertItem(static_cast<int>(item), text(names[item - start]));
    m_shownNames.erase(m_shownNames.begin() + static_cast<std::ptrdiff_t>(start),
        m_shownNames.begin() + static_cast<std::ptrdiff_t>(shownEnd));
    m_shownNames.insert(m_shownNames.begin() + static_cast<std::ptrdiff_t>(start),
        std::make_move_iterator(names.begin()), std::make_move_iterator(names.end()));
}

void MenuView::refreshSaveSection()
{
    if (m_saveResultBasis
        && (m_saveResultBasis->holds != *m_model.holds
            || (m_saveResultBasis->refreshRevision
                && *m_saveResultBasis->refreshRevision != *m_model.refreshRevision)))
        hideSaveResult();
    const bool isSaving = *m_model.isSavingManualProfile;
    const std::optional<std::string> reason = m_model.profileCaptureUnavailableReason();
    // The flag's own text stands in for the reason while a save runs; a settings error is the
    // status line's or the result's to say.
    const bool isSaidElsewhere = isSaving || m_model.settingsError->has_value();
    m_saveReason->setText(reason && !isSaidElsewhere ? text(*reason) : QString());
    m_saveReason->setVisible(!m_saveReason->text().isEmpty());
    const bool maySave = !reason && !isSaving;
    const bool isNaming = m_nameRow->isVisibleTo(this);
    m_updateProfile->setText(isSaving && !isNaming ? QStringLiteral("Saving profile…")
                                                   : QStringLiteral("Update active profile"));
    m_saveName->setText(
        isSaving && isNaming ? QStringLiteral("Saving profile…") : QStringLiteral("Save"));
    m_updateProfile->setEnabled(maySave && !isNaming);
    m_saveNewProfile->setEnabled(maySave && !isNaming);
    m_saveName->setEnabled(maySave && !isBlank(m_newProfileName->text().toStdString()));
}

} // namespace quorvane
