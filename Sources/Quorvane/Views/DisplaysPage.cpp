#include "Quorvane/Views/DisplaysPage.h"

#include "Quorvane/AppModel.h"
#include "Quorvane/Views/ControlStatusLine.h"
#include "Quorvane/Views/Design/EditingTextField.h"
#include "Quorvane/Views/Design/QuorStyle.h"
#include "Quorvane/Views/Design/TabOrder.h"
#include "Quorvane/Views/DisplayModeRow.h"
#include "QuorvaneCore/SettingValue.h"

#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSlider>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>
#include <string>

namespace quorvane {

namespace {

// The settings a slider adjusts, written directly. Modes go through their own tests.
constexpr SettingKey slidingSettings[]
    = {SettingKey::brightness, SettingKey::contrast, SettingKey::temperature};

constexpr int percentSteps = 100;
// Wide enough for the longest control title, so that every slider starts at the same place.
constexpr int labelWidth = 96;
// Between a status line and the hold beside it: wider than any gap between words.
constexpr int holdGap = 20;
// The temperature slider moves in steps of 100 K over the range a white point may take.
constexpr std::int64_t kelvinPerStep = 100;
constexpr int lowestKelvinStep = 25;
constexpr int highestKelvinStep = 100;
// Where a neutral (unchanged) white point sits on the slider: daylight.
constexpr int neutralKelvinStep = 65;

QString text(const std::string& utf8) { return QString::fromStdString(utf8); }

/// What the control is being set to, else what was read from it.
std::optional<SettingValue> shownValue(const AppModel& model, const ControlKey& key)
{
    if (const auto writing = model.applying->find(key); writing != model.applying->end())
        return writing->second;
    if (const auto read = model.observed->find(key); read != model.observed->end())
        return read->second;
    return std::nullopt;
}

int temperatureStep(const std::optional<SettingValue>& value)
{
    const auto* temperature
        = value ? std::get_if<SettingValue::TemperatureCase>(&value->value) : nullptr;
    const auto* kelvin
        = temperature ? std::get_if<Temperature::Kelvin>(&temperature->value.value) : nullptr;
    if (!kelvin)
        return neutralKelvinStep;
    return static_cast<int>(std::lround(static_cast<double>(kelvin->value) / kelvinPerStep));
}

} // namespace

DisplaysPage::DisplaysPage(AppModel& model, QWidget* parent, DisplayNaming naming)
    : QWidget(parent)
    , m_model(model)
    , m_naming(naming)
    , m_resumeAll(new QPushButton(QStringLiteral("Resume all"), this))
    , m_displaysLayout(new QVBoxLayout)
    , m_emptyNote(new QLabel(QStringLiteral("No display offers adjustable controls."), this))
    , m_refresh(model.executor(), [this] {
        rebuildIfNeeded();
        refresh();
    })
{
    m_resumeAll->setObjectName(QStringLiteral("resumeAll"));
    m_emptyNote->setObjectName(QStringLiteral("emptyNote"));
    QuorStyle::setRole(*m_emptyNote, QuorRole::secondary);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    auto* header = new QHBoxLayout;
    // The Displays page has its own heading.
    if (naming == DisplayNaming::fixed)
        header->addWidget(new QLabel(QStringLiteral("Displays"), this));
    header->addStretch();
    header->addWidget(m_resumeAll);
    layout->addLayout(header);
    layout->addWidget(m_emptyNote);
    m_displaysLayout->setSpacing(10);
    layout->addLayout(m_displaysLayout);
    layout->addStretch();

    connect(m_resumeAll, &QPushButton::clicked, this, [this] { m_model.resume(std::nullopt); });

    m_refresh.watch(m_model.displays, m_model.hardwareSnapshot, m_model.holds, m_model.observed,
        m_model.applying, m_model.resolution, m_model.systemDisplaySnapshot, m_model.configuration,
        m_model.controlStatus, m_model.isLoaded, m_model.settingsError);
    rebuildIfNeeded();
    refresh();
}

DisplaysPage::~DisplaysPage() = default;

QWidget* DisplaysPage::rowOf(const ControlKey& key) const
{
    const auto row = std::ranges::find(m_rows, key, &Row::key);
    return row == m_rows.end() ? nullptr : row->widget;
}

QWidget* DisplaysPage::cardOf(const std::string& displayID) const
{
    const auto card = std::ranges::find(m_cards, displayID, &Card::displayID);
    return card == m_cards.end() ? nullptr : card->frame;
}

std::vector<DisplaysPage::Shown> DisplaysPage::shownDisplays() const
{
    std::vector<Shown> shown;
    const auto& capabilities = m_model.hardwareSnapshot->capabilities;
    for (const DisplayDevice& display : *m_model.displays) {
        Shown entry{.displayID = display.id,
            .settings = {},
            .hasModes = DisplayModeRow::offersModes(m_model, display.id)};
        for (const SettingKey setting : slidingSettings) {
            const ControlKey key{.target = ControlTarget::display(display.id), .setting = setting};
            const auto capability = capabilities.find(key);
            if (capability != capabilities.end() && capability->second.available)
                entry.settings.push_back(setting);
        }
        if (!entry.settings.empty() || entry.hasModes)
            shown.push_back(std::move(entry));
    }
    return shown;
}

void DisplaysPage::rebuildIfNeeded()
{
    std::vector<Shown> shown = shownDisplays();
    if (shown == m_shown)
        return;
    m_shown = std::move(shown);
    m_rows.clear();
    // A rename goes on in the new card with what was typed, unless its display has gone: the old
    // field losing the keyboard as its card goes is no blur.
    const std::optional<std::string> renaming = std::exchange(m_renamingDisplayID, std::nullopt);
    const auto renamed
        = renaming ? std::ranges::find(m_cards, *renaming, &Card::displayID) : m_cards.end();
    const QString typed = renamed == m_cards.end() ? QString() : renamed->nameField->text();
    const bool isTyping = renamed != m_cards.end() && renamed->nameField->hasFocus();
    // Later, not now: the slider whose adjustment led here may still be inside its signal.
    for (const Card& card : m_cards) {
        card.frame->hide();
        card.frame->deleteLater();
    }
    m_cards.clear();

    for (const Shown& display : m_shown) {
        m_cards.push_back(makeCard(display));
        QFrame* frame = m_cards.back().frame;
        for (const SettingKey setting : display.settings) {
            m_rows.push_back(makeRow(
                {.target = ControlTarget::display(display.displayID), .setting = setting}, frame));
            frame->layout()->addWidget(m_rows.back().widget);
        }
        if (display.hasModes)
            frame->layout()->addWidget(new DisplayModeRow(m_model, display.displayID, frame));
        m_displaysLayout->addWidget(frame);
        if (display.displayID == renaming) {
            m_renamingDisplayID = renaming;
            m_cards.back().nameField->setText(typed);
            if (isTyping)
                m_cards.back().nameField->setFocus(Qt::OtherFocusReason);
        }
    }
    m_emptyNote->setVisible(m_cards.empty());
    followLayout(*this);
}

DisplaysPage::Card DisplaysPage::makeCard(const Shown& display)
{
    auto* frame = new QFrame(this);
    // Named for its display, so that a control of a rebuilt card is known as the same control.
    frame->setObjectName(QStringLiteral("display:") + text(display.displayID));
    QuorStyle::setRole(*frame, QuorRole::card);
    Card card{.displayID = display.displayID,
        .frame = frame,
        .name = new QLabel(frame),
        .rename = new QToolButton(frame),
        .nameField = new EditingTextField(
            QStringLiteral("Display name"), EditingTextField::Size::body, frame)};
    card.name->setObjectName(QStringLiteral("displayName"));
    QuorStyle::setRole(*card.name, QuorRole::subtitle);
    card.rename->setObjectName(QStringLiteral("rename"));
    card.rename->setText(QStringLiteral("Rename…"));
    card.rename->setAutoRaise(true);
    card.rename->setVisible(m_naming == DisplayNaming::editable);
    card.nameField->setObjectName(QStringLiteral("nameField"));
    card.nameField->hide();

    auto* layout = new QVBoxLayout(frame);
    layout->setContentsMargins(14, 12, 14, 12);
    auto* header = new QHBoxLayout;
    header->addWidget(card.name);
    header->addWidget(card.nameField, 1);
    header->addWidget(card.rename);
    header->addStretch();
    layout->addLayout(header);

    const std::string displayID = display.displayID;
    connect(
        card.rename, &QToolButton::clicked, this, [this, displayID] { beginRename(displayID); });
    connect(card.nameField, &EditingTextField::submitted, this, [this] { endRename(true); });
    connect(card.nameField, &EditingTextField::cancelled, this, [this] { endRename(false); });
    connect(card.nameField, &EditingTextField::blurred, this, [this] { endRename(false); });
    return card;
}

DisplaysPage::Row DisplaysPage::makeRow(const ControlKey& key, QWidget* parent)
{
    auto* widget = new QWidget(parent);
    widget->setObjectName(QString::fromLatin1(
        rawValue(key.setting).data(), static_cast<qsizetype>(rawValue(key.setting).size())));
    Row row{.key = key,
        .widget = widget,
        .slider = new QSlider(Qt::Horizontal, widget),
        .value = new QLabel(widget),
        .source = newStatusLabel(widget),
        .hold = HoldLine(m_model, key, *widget, HoldLine::WhenFree::disabledResume)};
    row.slider->setObjectName(QStringLiteral("slider"));
    row.value->setObjectName(QStringLiteral("value"));
    row.source->setObjectName(QStringLiteral("source"));
    if (key.setting == SettingKey::temperature)
        row.slider->setRange(lowestKelvinStep, highestKelvinStep);
    else
        row.slider->setRange(0, percentSteps);
    row.value->setMinimumWidth(52);
    row.value->setAlignment(Qt::AlignRight | Qt::AlignVCenter);

    auto* layout = new QGridLayout(widget);
    layout->setContentsMargins(0, 4, 0, 4);
    layout->addWidget(new QLabel(text(std::string(title(key.setting))), widget), 0, 0);
    layout->addWidget(row.slider, 0, 1);
    layout->addWidget(row.value, 0, 2);
    layout->addWidget(&row.hold.resume(), 0, 3);
    // Where the value comes from, with the control's status, and its hold share the line under
    // the slider: the popover is too narrow for the hold under the value. A long line wraps
    // beside the hold, which keeps a clear gap from it so as never to read as its last words.
    auto* origin = new QHBoxLayout;
    origin->setSpacing(holdGap);
    origin->addWidget(row.source, 1);
    origin->addWidget(&row.hold.hold(), 0, Qt::AlignTop);
    layout->addLayout(origin, 1, 1, 1, 3);
    layout->setColumnMinimumWidth(0, labelWidth);
    layout->setColumnStretch(1, 1);

    // actionTriggered, not valueChanged: refresh() moves the slider too, and that must not
    // become a manual adjustment.
    QSlider* slider = row.slider;
    connect(slider, &QSlider::actionTriggered, this,
        [this, key, slider](int) { adjust(key, slider->sliderPosition()); });
    return row;
}

void DisplaysPage::refresh()
{
    for (const Row& row : m_rows)
        refreshRow(row);
    for (const Card& card : m_cards)
        refreshCard(card);
}

void DisplaysPage::refreshRow(const Row& row)
{
    if (row.key.setting == SettingKey::temperature) {
        const std::optional<SettingValue> value = shownValue(m_model, row.key);
        if (!row.slider->isSliderDown())
            row.slider->setValue(temperatureStep(value));
        row.value->setText(value ? text(value->label()) : QStringLiteral("–"));
    } else {
        const double value = m_model.value(row.key);
        if (!row.slider->isSliderDown())
            row.slider->setValue(static_cast<int>(std::lround(value * percentSteps)));
        row.value->setText(text(SettingValue::percent(value).label()));
    }
    // Both cards have a Brightness: the name says whose.
    const QString display = displayLabel(m_model, row.key.target.id());
    row.slider->setAccessibleName(controlName(display, row.key.setting));
    row.source->setText(text(statusLine({m_model.source(row.key), statusOf(m_model, row.key)})));
    row.hold.refresh(display);
}

void DisplaysPage::refreshCard(const Card& card)
{
    const QString label = displayLabel(m_model, card.displayID);
    if (!label.isEmpty()) {
        card.name->setText(label);
        card.rename->setAccessibleName(QStringLiteral("Rename ") + label);
    }
    const bool isRenaming = m_renamingDisplayID == card.displayID;
    card.name->setVisible(!isRenaming);
    card.nameField->setVisible(isRenaming);
    // The open field stands in for its button: Tab from it goes on past the button.
    card.rename->setFocusPolicy(isRenaming ? Qt::ClickFocus : Qt::TabFocus);
    card.rename->setEnabled(*m_model.isLoaded && !m_model.settingsError->has_value());
}

void DisplaysPage::adjust(const ControlKey& key, int position)
{
    if (key.setting == SettingKey::temperature) {
        const int step = std::clamp(position, lowestKelvinStep, highestKelvinStep);
        m_model.manual(
            SettingValue::temperature(Temperature::kelvin(step * kelvinPerStep)), key, false);
    } else {
        const int clamped = std::clamp(position, 0, percentSteps);
        m_model.manual(
            SettingValue::percent(static_cast<double>(clamped) / percentSteps), key, false);
    }
    // A refused adjustment changes nothing in the model, so put the slider back by hand.
    refresh();
}

void DisplaysPage::beginRename(const std::string& displayID)
{
    const auto card = std::ranges::find(m_cards, displayID, &Card::displayID);
    if (m_naming != DisplayNaming::editable || card == m_cards.end())
        return;
    m_renamingDisplayID = displayID;
    // The display's own name: the card may show it numbered among others of that name.
    const auto display = std::ranges::find(*m_model.displays, displayID, &DisplayDevice::id);
    card->nameField->setText(
        display != m_model.displays->end() ? text(display->name) : card->name->text());
    refresh();
    card->nameField->setFocus();
    card->nameField->selectAll();
}

void DisplaysPage::endRename(bool commit)
{
    if (!m_renamingDisplayID)
        return;
    const std::string displayID = *std::exchange(m_renamingDisplayID, std::nullopt);
    const auto card = std::ranges::find(m_cards, displayID, &Card::displayID);
    const std::string name
        = card == m_cards.end() ? std::string() : card->nameField->text().toStdString();
    if (card != m_cards.end()) {
        // The keyboard goes back to the card, not to the next control in the window, as the
        // field closes; a blur has already taken it elsewhere.
        if (card->nameField->hasFocus())
            card->rename->setFocus(Qt::OtherFocusReason);
        card->nameField->clear();
    }
    refresh();
    // The model trims, and refuses an empty name.
    if (commit)
        m_model.renameDisplay(displayID, name);
}

} // namespace quorvane
