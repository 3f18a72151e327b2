#include "Quorvane/Views/MainWindow/RuleEditor.h"

#include "Foundation/Text.h"
#include "Quorvane/AppModel.h"
#include "Quorvane/Views/Design/ChoiceItems.h"
#include "Quorvane/Views/Design/PageHeading.h"
#include "Quorvane/Views/Design/QuorStyle.h"
#include "Quorvane/Views/MainWindow/RuleAppSelection.h"
#include "Quorvane/Views/MainWindow/SettingValueEditor.h"

#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QScrollArea>
#include <QVBoxLayout>

#include <algorithm>

namespace quorvane {

namespace {

QString text(const std::string& utf8) { return QString::fromStdString(utf8); }

/// The entries of a choice: the absent one first, the offered ones, and the draft's own value
/// when nothing offered matches it, so that a redraw never changes the draft.
template <typename Value, typename Identity>
std::vector<std::optional<Value>> entries(
    const std::vector<Value>& offered, const std::optional<Value>& own, Identity identity)
{
    std::vector<std::optional<Value>> listed{std::nullopt};
    listed.insert(listed.end(), offered.begin(), offered.end());
    if (own && std::ranges::none_of(offered, [&](const Value& value) {
            return identity(value) == identity(*own);
        }))
        listed.emplace_back(own);
    return listed;
}

/// Shows the labels of the entries, with the one of the draft's identity chosen.
template <typename Value, typename Identity, typename Label>
void showEntries(QComboBox& box, std::vector<std::optional<Value>>& shown,
    std::vector<std::optional<Value>> listed, const std::optional<Value>& own, Identity identity,
    Label label)
{
    QStringList labels;
    for (const std::optional<Value>& entry : listed)
        labels.push_back(label(entry));
    shown = std::move(listed);
    const auto current = std::ranges::find_if(shown, [&](const std::optional<Value>& entry) {
        return entry.has_value() == own.has_value() && (!own || identity(*entry) == identity(*own));
    });
    showItems(box, labels, static_cast<int>(current - shown.begin()));
}

/// What a rule lacking both a name and a setting is told: the longest reason.
QString nameAndSettingMissing()
{
    return QStringLiteral("Name the rule and choose at least one setting.");
}

/// What the draft lacks that every saved rule has; absent when it has it all. Whatever else the
/// model refuses, it says why itself.
std::optional<QString> missingForSave(const RuleDraft& draft)
{
    // Saved without one, a rule meant for some apps would act on every app: this comes first.
    if (draft.selectsApps && draft.rule.conditions.apps.empty())
        return QStringLiteral("Choose at least one app.");
    const Rule& rule = draft.rule;
    const bool lacksName = isBlank(rule.name);
    const bool lacksSetting = rule.settings.isEmpty();
    if (lacksName && lacksSetting)
        return nameAndSettingMissing();
    if (lacksName)
        return QStringLiteral("Name the rule.");
    if (lacksSetting)
        return QStringLiteral("Choose at least one setting.");
    return std::nullopt;
}

const std::string& screenID(const DisplayReference& screen) { return screen.id; }
const std::string& spaceID(const Desktop& space) { return space.id; }

} // namespace

RuleEditor::RuleEditor(
    AppModel& model, RuleDraft draft, std::function<void()> close, QWidget* parent)
    : QWidget(parent)
    , m_model(model)
    , m_draft(std::move(draft))
    , m_close(std::move(close))
    , m_refresh(model.executor(), [this] { refresh(); })
{
    auto* area = new QScrollArea(this);
    area->setFrameShape(QFrame::NoFrame);
    area->setWidgetResizable(true);
    area->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    area->setWidget(buildForm());
    auto* line = new QWidget(this);
    QuorStyle::setRole(*line, QuorRole::divider);
    line->setFixedHeight(1);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(area, 1);
    layout->addWidget(line);
    layout->addWidget(buildFooter());

    m_refresh.watch(model.configuration, model.apps, model.displays, model.hardwareSnapshot,
        model.spacesByDisplay, model.systemDisplaySnapshot, model.preview, model.isLoaded,
        model.settingsError);
    refresh();
}

RuleEditor::~RuleEditor()
{
    // Only this editor's own preview: a newer editor may already be previewing its rule.
    const std::optional<LiveRuleEdit>& live = *m_model.liveRuleEdit;
    if (live && live->ruleID == m_draft.rule.id && live->profileID == m_draft.profileID)
        m_model.endRuleEditing(false);
}

QWidget* RuleEditor::buildForm()
{
    auto* form = new QWidget;
    m_heading
        = new PageHeading(m_draft.isNew ? QStringLiteral("New rule") : QStringLiteral("Edit rule"),
            shownName(), std::nullopt, form);
    m_heading->setObjectName(QStringLiteral("heading"));
    // The column is narrow for a title's size: a name of a few words wraps rather than ends.
    m_heading->setTitleLineCount(2);

    m_name = new QLineEdit(text(m_draft.rule.name), form);
    m_name->setObjectName(QStringLiteral("name"));
    m_name->setPlaceholderText(QStringLiteral("Rule name"));
    m_name->setAccessibleName(QStringLiteral("Name"));
    connect(
        m_name, &QLineEdit::textEdited, this, [this](const QString& typed) { editName(typed); });

    m_apps = new RuleAppSelection(m_model, m_draft.rule.conditions.apps, m_draft.selectsApps, form);
    m_apps->setObjectName(QStringLiteral("apps"));
    m_apps->setOnChanged(
        [this](std::vector<ApplicationReference> apps) { editApps(std::move(apps)); });

    m_screen = new QComboBox(form);
    m_screen->setObjectName(QStringLiteral("screen"));
    m_screen->setAccessibleName(QStringLiteral("Screen"));
    connect(m_screen, &QComboBox::activated, this, [this](int index) { editScreen(index); });
    m_space = new QComboBox(form);
    m_space->setObjectName(QStringLiteral("space"));
    m_space->setAccessibleName(QStringLiteral("Space"));
    connect(m_space, &QComboBox::activated, this, [this](int index) { editSpace(index); });
    auto* spaceField = new QWidget(form);
    m_spaceElsewhere
        = new QLabel(QStringLiteral("The selected Space belongs to another screen."), spaceField);
    m_spaceElsewhere->setObjectName(QStringLiteral("spaceElsewhere"));
    QuorStyle::setRole(*m_spaceElsewhere, QuorRole::secondary);
    m_spaceElsewhere->setWordWrap(true);
    auto* spaceLayout = new QVBoxLayout(spaceField);
    spaceLayout->setContentsMargins(0, 0, 0, 0);
    spaceLayout->setSpacing(6);
    spaceLayout->addWidget(m_space);
    spaceLayout->addWidget(m_spaceElsewhere);

    auto* layout = new QVBoxLayout(form);
    layout->setContentsMargins(24, 26, 24, 20);
    layout->setSpacing(18);
    layout->addWidget(m_heading);
    for (const auto& [title, field] : std::initializer_list<std::pair<QString, QWidget*>>{
             {QStringLiteral("Name"), m_name},
             {QStringLiteral("Apps"), m_apps},
             {QStringLiteral("Screen"), m_screen},
             {QStringLiteral("Space"), spaceField},
         }) {
        QWidget* part = section(title, form);
        part->layout()->addWidget(field);
        layout->addWidget(part);
    }
    QWidget* settings = section(QStringLiteral("Settings"), form);
    settings->layout()->setSpacing(14);
    for (const SettingKey key : allSettingKeys) {
        auto* editor = new SettingValueEditor(key, QStringLiteral("Default"), settings);
        editor->setOnEdited(
            [this, key](std::optional<SettingValue> value) { editSetting(key, std::move(value)); });
        settings->layout()->addWidget(editor);
        m_settings.emplace(key, editor);
    }
    layout->addWidget(settings);
    layout->addStretch();
    return form;
}

QWidget* RuleEditor::section(const QString& title, QWidget* parent)
{
    auto* part = new QWidget(parent);
    auto* heading = new QLabel(title.toUpper(), part);
    QuorStyle::setRole(*heading, QuorRole::eyebrow);
    auto* layout = new QVBoxLayout(part);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(8);
    layout->addWidget(heading);
    return part;
}

QWidget* RuleEditor::buildFooter()
{
    auto* footer = new QWidget(this);
    auto* cancel = new QPushButton(QStringLiteral("Cancel"), footer);
    cancel->setObjectName(QStringLiteral("cancel"));
    m_save = new QPushButton(QStringLiteral("Save rule"), footer);
    m_save->setObjectName(QStringLiteral("saveRule"));
    QuorStyle::setRole(*m_save, QuorRole::prominent);
    m_save->setDefault(true);
    m_missing = new QLabel(footer);
    m_missing->setObjectName(QStringLiteral("missing"));
    // The line keeps the room of its longest text, shown or not, so that the buttons above it
    // stay where the user reaches for Save: an unshown label with that text holds the room.
    auto* room = new QLabel(nameAndSettingMissing(), footer);
    QSizePolicy keepsRoom = room->sizePolicy();
    keepsRoom.setRetainSizeWhenHidden(true);
    room->setSizePolicy(keepsRoom);
    room->hide();
    auto* reason = new QGridLayout;
    for (QLabel* line : {m_missing, room}) {
        QuorStyle::setRole(*line, QuorRole::secondary);
        line->setAlignment(Qt::AlignRight | Qt::AlignTop);
        line->setWordWrap(true);
        reason->addWidget(line, 0, 0);
    }
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(cancel);
    buttons->addStretch();
    buttons->addWidget(m_save);
    auto* layout = new QVBoxLayout(footer);
    layout->setContentsMargins(24, 14, 24, 18);
    layout->setSpacing(8);
    layout->addLayout(buttons);
    layout->addLayout(reason);
    connect(cancel, &QPushButton::clicked, this, [this] { m_close(); });
    connect(m_save, &QPushButton::clicked, this, [this] { save(); });
    return footer;
}

void RuleEditor::keyPressEvent(QKeyEvent* event)
{
    if (event->key() != Qt::Key_Escape) {
        QWidget::keyPressEvent(event);
        return;
    }
    m_close();
}

void RuleEditor::editName(const QString& name)
{
    m_draft.rule.name = name.toStdString();
    m_heading->setTitle(shownName());
    refresh();
}

void RuleEditor::editApps(std::vector<ApplicationReference> apps)
{
    m_draft.rule.conditions.apps = std::move(apps);
    m_draft.selectsApps = m_apps->selectsApps();
    refreshSave();
}

void RuleEditor::editScreen(int index)
{
    if (index < 0 || static_cast<std::size_t>(index) >= m_screens.size())
        return;
    m_draft.rule.conditions.screen = m_screens[static_cast<std::size_t>(index)];
    refresh(); // the screen decides which refresh rates and HDR the rule can ask for
}

void RuleEditor::editSpace(int index)
{
    if (index < 0 || static_cast<std::size_t>(index) >= m_spaces.size())
        return;
    m_draft.rule.conditions.space = m_spaces[static_cast<std::size_t>(index)];
    refresh();
}

void RuleEditor::editSetting(SettingKey key, std::optional<SettingValue> value)
{
    m_draft.rule.settings.setValue(value, key);
    refreshSave();
    m_model.previewRuleSettings(m_draft);
}

void RuleEditor::save()
{
    // The save may wait for a display test; by then this editor may be gone.
    const QPointer<RuleEditor> editor(this);
    m_model.requestRuleSave(m_draft.rule, m_draft.profileID, true, [editor] {
        if (editor)
            editor->m_close();
    });
}

void RuleEditor::refresh()
{
    m_apps->refresh();
    refreshScreens();
    refreshSpaces();
    refreshSettings();
    refreshSave();
}

void RuleEditor::refreshSave()
{
    const std::optional<QString> missing = missingForSave(m_draft);
    m_missing->setText(missing.value_or(QString()));
    m_missing->setVisible(missing.has_value());
    m_save->setEnabled(
        *m_model.isLoaded && !*m_model.settingsError && !m_model.preview.get() && !missing);
}

void RuleEditor::refreshScreens()
{
    const std::optional<DisplayReference>& own = m_draft.rule.conditions.screen;
    showEntries(*m_screen, m_screens, entries(m_model.knownScreens(), own, screenID), own, screenID,
        [&](const std::optional<DisplayReference>& screen) {
            return screen ? text(m_model.screenLabel(*screen)) : QStringLiteral("All screens");
        });
}

void RuleEditor::refreshSpaces()
{
    const std::optional<Desktop>& own = m_draft.rule.conditions.space;
    std::vector<std::optional<Desktop>> listed = entries(offeredSpaces(), own, spaceID);
    std::vector<Desktop> spaces;
    for (const std::optional<Desktop>& entry : listed) {
        if (entry)
            spaces.push_back(*entry);
    }
    showEntries(*m_space, m_spaces, std::move(listed), own, spaceID,
        [&](const std::optional<Desktop>& space) {
            return space ? text(m_model.spaceLabel(*space, spaces)) : QStringLiteral("All Spaces");
        });
    // The rule keeps its Space, but it could never match there: say so before the save does.
    const std::optional<DisplayReference>& screen = m_draft.rule.conditions.screen;
    m_spaceElsewhere->setVisible(own && screen && !own->isOn(screen->id));
}

std::vector<Desktop> RuleEditor::offeredSpaces() const
{
    std::vector<Desktop> spaces = m_model.allSpaces();
    if (const std::optional<DisplayReference>& screen = m_draft.rule.conditions.screen)
        std::erase_if(spaces, [&](const Desktop& space) { return !space.isOn(screen->id); });
    return spaces;
}

void RuleEditor::refreshSettings()
{
    for (const auto& [key, editor] : m_settings)
        editor->showValue(m_draft.rule.settings.value(key), offer(key));
    // The note speaks of one screen; of all screens together it would be true of some only.
    const std::optional<std::string> displayID = targetDisplayID();
    const bool isManaged
        = displayID && m_model.automaticBrightnessManagesSettings(m_draft.profileID, displayID);
    m_settings.at(SettingKey::brightness)
        ->setNote(isManaged ? std::optional(automaticBrightnessNote()) : std::nullopt);
}

SettingOffer RuleEditor::offer(SettingKey key) const
{
    const RuleConditions& conditions = m_draft.rule.conditions;
    if (key == SettingKey::hdr)
        return SettingOffer::of(m_model.hdrCapability(conditions));
    if (key != SettingKey::refreshRate)
        return {};
    const CopyOnWriteVector<Profile>& profiles = m_model.configuration->profiles;
    const auto profile = std::ranges::find(profiles, m_draft.profileID, &Profile::id);
    return SettingOffer::of(m_model.refreshRateCapability(
        conditions, profile == profiles.end() ? m_model.selectedProfile() : *profile));
}

std::optional<std::string> RuleEditor::targetDisplayID() const
{
    const RuleConditions& conditions = m_draft.rule.conditions;
    if (conditions.screen)
        return conditions.screen->id;
    if (conditions.space && !conditions.space->isShared)
        return conditions.space->displayID;
    return std::nullopt;
}

QString RuleEditor::shownName() const
{
    return isBlank(m_draft.rule.name) ? QStringLiteral("New rule")
                                      : text(std::string(trimmed(m_draft.rule.name)));
}

} // namespace quorvane
