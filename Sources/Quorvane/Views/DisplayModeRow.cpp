#include "Quorvane/Views/DisplayModeRow.h"

#include "Quorvane/AppModel.h"
#include "Quorvane/Views/ControlStatusLine.h"
#include "Quorvane/Views/Design/ChoiceItems.h"
#include "Quorvane/Views/Design/SwitchButton.h"

#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>

#include <optional>

namespace quorvane {

namespace {

QString text(const std::string& utf8) { return QString::fromStdString(utf8); }

std::optional<ModeConfiguration> currentMode(const AppModel& model, const std::string& displayID)
{
    const auto& modes = model.hardwareSnapshot->currentModes;
    const auto mode = modes.find(displayID);
    return mode == modes.end() ? std::nullopt : std::optional(mode->second);
}

} // namespace

DisplayModeRow::DisplayModeRow(AppModel& model, std::string displayID, QWidget* parent)
    : QWidget(parent)
    , m_model(model)
    , m_displayID(std::move(displayID))
    , m_refreshRateTitle(new QLabel(QStringLiteral("Refresh rate"), this))
    , m_refreshRate(new QComboBox(this))
    , m_hdr(new SwitchButton(QStringLiteral("HDR"), this))
    , m_modeStatus(newStatusLabel(this))
    , m_resolutionTitle(new QLabel(QStringLiteral("Resolution"), this))
    , m_resolution(new QComboBox(this))
    , m_resolutionStatus(newStatusLabel(this))
    , m_refreshRateHold(makeHoldLine(SettingKey::refreshRate))
    , m_hdrHold(makeHoldLine(SettingKey::hdr))
    , m_refresh(model.executor(), [this] { refresh(); })
{
    setObjectName(QStringLiteral("mode"));
    m_refreshRate->setObjectName(QStringLiteral("refreshRate"));
    m_hdr->setObjectName(QStringLiteral("hdr"));
    m_resolution->setObjectName(QStringLiteral("resolution"));
    m_modeStatus->setObjectName(QStringLiteral("refreshRateStatus"));
    m_resolutionStatus->setObjectName(QStringLiteral("modeStatus"));
    // Each title labels its drop-down, for a click on it and for assistive technology.
    m_refreshRateTitle->setBuddy(m_refreshRate);
    m_resolutionTitle->setBuddy(m_resolution);

    auto* layout = new QGridLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_refreshRateTitle, 0, 0);
    layout->addWidget(m_refreshRate, 0, 1);
    layout->addWidget(m_hdr, 0, 2);
    layout->addWidget(m_modeStatus, 1, 1, 1, 2);
    // Each hold under its control: the refresh rate's under the menu, HDR's under the switch.
    auto* holds = new QHBoxLayout;
    holds->addWidget(&m_refreshRateHold.hold());
    holds->addWidget(&m_refreshRateHold.resume());
    holds->addStretch();
    holds->addWidget(&m_hdrHold.hold());
    holds->addWidget(&m_hdrHold.resume());
    layout->addLayout(holds, 2, 1, 1, 2);
    layout->addWidget(m_resolutionTitle, 3, 0);
    layout->addWidget(m_resolution, 3, 1, 1, 2);
    layout->addWidget(m_resolutionStatus, 4, 1, 1, 2);
    layout->setColumnMinimumWidth(0, 96); // as wide as the sliders' titles
    layout->setColumnStretch(1, 1);

    // activated and clicked, not the change signals: refresh() sets the same state.
    connect(
        m_refreshRate, &QComboBox::activated, this, [this](int index) { pickRefreshRate(index); });
    connect(m_hdr, &SwitchButton::clicked, this, [this](bool isOn) { pickHDR(isOn); });
    connect(
        m_resolution, &QComboBox::activated, this, [this](int index) { pickResolution(index); });

    // The display's name too: the controls are named after it.
    m_refresh.watch(m_model.hardwareSnapshot, m_model.resolutionStatus, m_model.controlStatus,
        m_model.modeBusy, m_model.preview, m_model.isLoaded, m_model.settingsError, m_model.holds,
        m_model.displays, m_model.configuration);
    refresh();
}

DisplayModeRow::~DisplayModeRow() = default;

HoldLine DisplayModeRow::makeHoldLine(SettingKey setting)
{
    return HoldLine(m_model, {.target = ControlTarget::display(m_displayID), .setting = setting},
        *this, HoldLine::WhenFree::nothing, text(std::string(rawValue(setting))));
}

bool DisplayModeRow::offersModes(const AppModel& model, const std::string& displayID)
{
    return !model.refreshRateChoices(displayID).empty() || model.hdrCapability(displayID)
        || !model.resolutionChoices(displayID).empty();
}

void DisplayModeRow::refresh()
{
    // One test at a time, and none on a display that is already changing.
    const bool mayChange = *m_model.isLoaded && !m_model.settingsError->has_value()
        && !m_model.preview->has_value() && m_model.modeBusy->empty();
    refreshRefreshRates();
    refreshResolutions();
    const std::optional<ControlCapability> hdr = m_model.hdrCapability(m_displayID);
    const std::optional<ModeConfiguration> mode = currentMode(m_model, m_displayID);
    m_hdr->setVisible(hdr.has_value());
    m_hdr->setChecked(mode && mode->hdr.value_or(false));
    m_hdr->setEnabled(mayChange && hdr && hdr->available);
    m_hdr->setToolTip(hdr && !hdr->available ? text(hdr->reason) : QString());
    m_refreshRate->setEnabled(mayChange && m_refreshRate->count() > 1);
    m_resolution->setEnabled(mayChange && m_resolution->count() > 0);

    refreshStatuses();
    const QString display = displayLabel(m_model, m_displayID);
    refreshNames(display);
    m_refreshRateHold.refresh(display);
    m_hdrHold.refresh(display);
}

void DisplayModeRow::refreshNames(const QString& displayLabel)
{
    // Every card has these controls: each name says whose.
    if (displayLabel.isEmpty())
        return;
    const QString refreshRate = controlName(displayLabel, SettingKey::refreshRate);
    m_refreshRate->setAccessibleName(refreshRate);
    const QString resolution = displayLabel + QStringLiteral(" resolution");
    m_resolution->setAccessibleName(resolution);
    m_hdr->setAccessibleName(controlName(displayLabel, SettingKey::hdr));
}

void DisplayModeRow::refreshStatuses()
{
    const ControlTarget target = ControlTarget::display(m_displayID);
    m_modeStatus->setText(
        text(statusLine({statusOf(m_model, {.target = target, .setting = SettingKey::refreshRate}),
            statusOf(m_model, {.target = target, .setting = SettingKey::hdr})})));
    m_modeStatus->setVisible(!m_modeStatus->text().isEmpty());
    const auto status = m_model.resolutionStatus->find(m_displayID);
    m_resolutionStatus->setText(
        status == m_model.resolutionStatus->end() ? QString() : text(status->second));
    m_resolutionStatus->setVisible(!m_resolutionStatus->text().isEmpty());
}

void DisplayModeRow::refreshRefreshRates()
{
    const std::vector<RefreshPreference> rates = m_model.refreshRateChoices(m_displayID);
    const std::optional<ModeConfiguration> mode = currentMode(m_model, m_displayID);
    QStringList items;
    int current = -1;
    for (const RefreshPreference& rate : rates) {
        if (mode && mode->refreshRate == rate)
            current = static_cast<int>(items.size());
        items.push_back(text(rate.label()));
    }
    showItems(*m_refreshRate, items, current);
}

void DisplayModeRow::refreshResolutions()
{
    const std::vector<DisplayResolution> resolutions = m_model.resolutionChoices(m_displayID);
    const std::optional<ModeConfiguration> mode = currentMode(m_model, m_displayID);
    QStringList items;
    int current = -1;
    for (const DisplayResolution& resolution : resolutions) {
        if (mode && mode->resolution == resolution)
            current = static_cast<int>(items.size());
        items.push_back(text(resolution.label()));
    }
    showItems(*m_resolution, items, current);
}

void DisplayModeRow::pickRefreshRate(int index)
{
    const std::vector<RefreshPreference> rates = m_model.refreshRateChoices(m_displayID);
    if (index < 0 || static_cast<std::size_t>(index) >= rates.size())
        return;
    m_model.previewMode(ModeConfiguration{.refreshRate = rates[static_cast<std::size_t>(index)]},
        m_displayID, true, false, keepTitle, {});
    refresh(); // a refused test leaves the display's rate shown
}

void DisplayModeRow::pickHDR(bool isOn)
{
    m_model.previewMode(ModeConfiguration{.hdr = isOn}, m_displayID, true, false, keepTitle, {});
    refresh();
}

void DisplayModeRow::pickResolution(int index)
{
    // The pick becomes the active profile's resolution, tested first when the screen would change.
    const std::vector<DisplayResolution> resolutions = m_model.resolutionChoices(m_displayID);
    if (index >= 0 && static_cast<std::size_t>(index) < resolutions.size())
        m_model.requestResolutionSave(resolutions[static_cast<std::size_t>(index)], m_displayID,
            m_model.configuration->activeProfileID);
    refresh(); // until a test keeps it, the menu shows the display's resolution
}

} // namespace quorvane
