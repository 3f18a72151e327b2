#include "Quorvane/Views/MainWindow/DefaultProfileView.h"

#include "Quorvane/AppModel.h"
#include "Quorvane/Views/Design/PageHeading.h"
#include "Quorvane/Views/Design/QuorStyle.h"
#include "Quorvane/Views/MainWindow/SettingValueEditor.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>

namespace quorvane {

namespace {

QString text(const std::string& utf8) { return QString::fromStdString(utf8); }

/// Fixed rates slowest first, then the adaptive rate.
std::vector<SettingValue> ascendingRates(std::vector<SettingValue> rates)
{
    const auto order = [](const SettingValue& rate) {
        const auto* refresh = std::get_if<SettingValue::Refresh>(&rate.value);
        const auto* fixed
            = refresh ? std::get_if<RefreshPreference::Fixed>(&refresh->value.value) : nullptr;
        return fixed ? fixed->millihertz : std::numeric_limits<std::int64_t>::max();
    };
    std::ranges::stable_sort(rates, {}, order);
    return rates;
}

/// Where each setting sits in a screen's card: the sliders left, the display modes right.
struct Placement {
    SettingKey key;
    int row;
    int column;
};
constexpr Placement placements[] = {
    {SettingKey::brightness, 0, 0},
    {SettingKey::contrast, 1, 0},
    {SettingKey::temperature, 2, 0},
    {SettingKey::hdr, 0, 1},
    {SettingKey::refreshRate, 1, 1},
};

} // namespace

DefaultProfileView::DefaultProfileView(AppModel& model, QWidget* parent)
    : QWidget(parent)
    , m_model(model)
    , m_cardsLayout(new QVBoxLayout)
    , m_emptyState(
          new QLabel(QStringLiteral("Screens appear here once QuorVane has seen them."), this))
    , m_save(new QPushButton(QStringLiteral("Save"), this))
    , m_refresh(model.executor(), [this] { refresh(); })
{
    auto* heading = new PageHeading(QStringLiteral("Profile"), QStringLiteral("Default"),
        QStringLiteral("What every screen shows where no rule decides. Settings left unset "
                       "leave the screen as it is."),
        this);
    m_save->setObjectName(QStringLiteral("save"));
    QuorStyle::setRole(*m_save, QuorRole::prominent);
    connect(m_save, &QPushButton::clicked, this, [this] { save(); });
    m_emptyState->setObjectName(QStringLiteral("noScreens"));
    QuorStyle::setRole(*m_emptyState, QuorRole::subtitle);

    auto* top = new QHBoxLayout;
    top->setSpacing(20);
    top->addWidget(heading, 1);
    top->addWidget(m_save, 0, Qt::AlignTop);
    m_cardsLayout->setSpacing(16);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(26, 26, 26, 26);
    layout->setSpacing(20);
    layout->addLayout(top);
    layout->addWidget(m_emptyState);
    layout->addLayout(m_cardsLayout);
    layout->addStretch();

    m_refresh.watch(model.configuration, model.displays, model.hardwareSnapshot,
        model.systemDisplaySnapshot, model.preview, model.isLoaded, model.settingsError);
    refresh();
}

void DefaultProfileView::refresh()
{
    const std::vector<DisplayReference> screens = m_model.knownScreens();
    if (screens != m_shownScreens)
        rebuildCards(screens);
    for (const auto& [displayID, card] : m_cards)
        refreshCard(displayID, card);
    m_emptyState->setVisible(screens.empty());
    refreshSave();
}

void DefaultProfileView::refreshSave()
{
    m_save->setEnabled(*m_model.isLoaded && !*m_model.settingsError && !m_model.preview.get()
        && m_draft.changes(m_model.configuration->defaultSettings()));
}

void DefaultProfileView::rebuildCards(const std::vector<DisplayReference>& screens)
{
    m_shownScreens = screens;
    for (const auto& [displayID, card] : m_cards) {
        // Out of the page at once, so that nothing finds it before it is deleted.
        card.card->hide();
        card.card->setParent(nullptr);
        card.card->deleteLater();
    }
    m_cards.clear();
    for (const DisplayReference& screen : screens) {
        const ScreenCard card = buildCard(screen);
        m_cardsLayout->addWidget(card.card);
        card.card->show(); // a widget added to a shown page stays hidden until shown
        m_cards.emplace(screen.id, card);
    }
}

DefaultProfileView::ScreenCard DefaultProfileView::buildCard(const DisplayReference& screen)
{
    auto* card = new QFrame(this);
    card->setObjectName(text(screen.id));
    QuorStyle::setRole(*card, QuorRole::card);
    const QString screenName = text(m_model.screenLabel(screen));
    auto* name = new QLabel(screenName, card);
    name->setObjectName(QStringLiteral("screenName"));
    QuorStyle::setRole(*name, QuorRole::dialogTitle);
    auto* status = new QLabel(card);
    status->setObjectName(QStringLiteral("status"));
    QuorStyle::setRole(*status, QuorRole::secondary);
    auto* header = new QHBoxLayout;
    header->addWidget(name);
    header->addStretch();
    header->addWidget(status);

    auto* grid = new QGridLayout;
    grid->setHorizontalSpacing(32);
    grid->setVerticalSpacing(16);
    grid->setColumnStretch(0, 1);
    grid->setColumnStretch(1, 1);
    ScreenCard shown{.card = card, .status = status, .editors = {}};
    for (const Placement& placement : placements) {
        auto* editor = new SettingValueEditor(placement.key, QStringLiteral("Not set"), card);
        // Each screen's card has a Brightness: the name says whose.
        editor->nameFor(screenName);
        const ControlKey key{.target = ControlTarget::display(screen.id), .setting = placement.key};
        editor->setOnEdited([this, key](std::optional<SettingValue> value) { edit(key, value); });
        grid->addWidget(editor, placement.row, placement.column, Qt::AlignTop);
        shown.editors.emplace(placement.key, editor);
    }
    auto* layout = new QVBoxLayout(card);
    layout->setContentsMargins(20, 18, 20, 20);
    layout->setSpacing(16);
    layout->addLayout(header);
    layout->addLayout(grid);
    return shown;
}

void DefaultProfileView::refreshCard(const std::string& displayID, const ScreenCard& card)
{
    const bool isConnected = std::ranges::find(*m_model.displays, displayID, &DisplayDevice::id)
        != m_model.displays->end();
    card.status->setText(
        isConnected ? QStringLiteral("Connected") : QStringLiteral("Not connected"));
    const Configuration& configuration = *m_model.configuration;
    const DefaultSettings stored = configuration.defaultSettings();
    const std::map<ControlKey, ControlCapability> capabilities
        = m_model.capabilities(configuration.defaultProfile());
    for (const auto& [setting, editor] : card.editors) {
        const ControlKey key{.target = ControlTarget::display(displayID), .setting = setting};
        const std::optional<SettingValue> value
            = m_draft.editedKeys.contains(key) ? m_draft.settings.value(key) : stored.value(key);
        const auto capability = capabilities.find(key);
        SettingOffer offer;
        if (setting == SettingKey::hdr) {
            offer = SettingOffer::of(m_model.hdrCapability(displayID));
        } else if (capability != capabilities.end()) {
            offer = SettingOffer::of(capability->second);
            offer.choices = ascendingRates(offer.choices);
        } else if (setting == SettingKey::refreshRate) {
            // Which rates a screen offers is known only while it is connected.
            offer = SettingOffer::of(std::nullopt);
        }
        editor->showValue(value, offer);
    }
    const bool isManaged
        = m_model.automaticBrightnessManagesSettings(configuration.defaultProfileID, displayID);
    card.editors.at(SettingKey::brightness)
        ->setNote(isManaged ? std::optional(automaticBrightnessNote()) : std::nullopt);
}

void DefaultProfileView::edit(const ControlKey& key, std::optional<SettingValue> value)
{
    m_draft.settings.setValue(value, key);
    // A value put back is no edit: the page follows the stored value again, and a later save
    // does not write it, which would mark its screen captured.
    if (value == m_model.configuration->defaultSettings().value(key))
        m_draft.editedKeys.erase(key);
    else
        m_draft.editedKeys.insert(key);
    refreshSave();
}

void DefaultProfileView::save()
{
    // The save may wait for a display test; by then this page may be gone.
    const QPointer<DefaultProfileView> view(this);
    m_model.requestDefaultSave(m_draft, [view] {
        if (view)
            view->startFreshDraft();
    });
}

void DefaultProfileView::startFreshDraft()
{
    m_draft = {.settings = m_model.configuration->defaultSettings(), .editedKeys = {}};
    refresh();
}

} // namespace quorvane
