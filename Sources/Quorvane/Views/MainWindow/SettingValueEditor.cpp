#include "Quorvane/Views/MainWindow/SettingValueEditor.h"

#include "Quorvane/AppModel.h"
#include "Quorvane/Views/Design/Notice.h"
#include "Quorvane/Views/Design/QuorStyle.h"
#include "Quorvane/Views/Design/SwitchButton.h"
#include "QuorvaneCore/ResolvedPlan.h"

#include <QCheckBox>
#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QSlider>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

namespace quorvane {

namespace {

constexpr int lowestKelvin = 2500;
constexpr int highestKelvin = 10000;
constexpr int firstKelvin = 6500;
/// Room for the longest entry ("Adaptive / ProMotion") beside its title in the rule editor.
constexpr int choiceWidth = 168;

QString text(const std::string& utf8) { return QString::fromStdString(utf8); }

QString name(SettingKey key)
{
    const std::string_view shown = title(key);
    return QString::fromUtf8(shown.data(), static_cast<qsizetype>(shown.size()));
}

SettingValue firstValue(SettingKey key)
{
    if (key == SettingKey::temperature)
        return SettingValue::temperature(Temperature::kelvin(firstKelvin));
    return SettingValue::percent(0.5);
}

} // namespace

SettingOffer SettingOffer::of(const std::optional<ControlCapability>& capability)
{
    if (!capability)
        return {.isAvailable = false, .reason = "Control unavailable"};
    return {.isAvailable = capability->available,
        .reason = capability->reason,
        .choices = capability->choices};
}

SettingValueEditor::SettingValueEditor(SettingKey key, QString unsetText, QWidget* parent)
    : QWidget(parent)
    , m_key(key)
    , m_unsetText(std::move(unsetText))
    , m_lastSet(firstValue(key))
    , m_title(new QLabel(name(key), this))
    , m_reason(new QLabel(this))
    , m_note(new Notice(QString(), "exclamationmark.circle", this))
{
    setObjectName(QString::fromUtf8(rawValue(key).data()));
    QuorStyle::setRole(*m_title, QuorRole::noticeTitle);
    m_reason->setObjectName(QStringLiteral("reason"));
    QuorStyle::setRole(*m_reason, QuorRole::secondary);
    m_reason->setWordWrap(true);
    m_note->setObjectName(QStringLiteral("note"));
    m_note->hide();

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(6);
    if (isChoice())
        buildChoice();
    else
        buildSlider();
    layout->addWidget(m_reason);
    layout->addWidget(m_note);
    nameFor(QString());
}

bool SettingValueEditor::isChoice() const
{
    return m_key == SettingKey::hdr || m_key == SettingKey::refreshRate;
}

void SettingValueEditor::buildSlider()
{
    m_valueText = new QLabel(this);
    m_valueText->setObjectName(QStringLiteral("value"));
    m_switch = new SwitchButton(QString(), this);
    m_switch->setObjectName(QStringLiteral("set"));
    m_slider = new QSlider(Qt::Horizontal, this);
    m_slider->setObjectName(QStringLiteral("slider"));
    if (m_key == SettingKey::temperature) {
        m_slider->setRange(lowestKelvin, highestKelvin);
        m_slider->setSingleStep(100);
        m_slider->setPageStep(500);
        // A neutral value leaves the slider where it stands, and unticking Neutral takes the
        // kelvin from there: until the user slides, that is where a new temperature starts.
        m_slider->setValue(firstKelvin);
    } else {
        m_slider->setRange(0, 100);
        m_slider->setPageStep(10);
    }

    auto* header = new QHBoxLayout;
    header->setSpacing(10);
    header->addWidget(m_title);
    header->addStretch();
    header->addWidget(m_valueText);
    header->addWidget(m_switch);
    auto* sliderRow = new QHBoxLayout;
    sliderRow->setSpacing(10);
    sliderRow->addWidget(m_slider, 1);
    if (m_key == SettingKey::temperature) {
        m_neutral = new QCheckBox(QStringLiteral("Neutral"), this);
        m_neutral->setObjectName(QStringLiteral("neutral"));
        sliderRow->addWidget(m_neutral);
        connect(m_neutral, &QCheckBox::clicked, this, [this] { edit(sliderValue()); });
    }
    auto* layout = static_cast<QVBoxLayout*>(this->layout());
    layout->addLayout(header);
    layout->addLayout(sliderRow);

    // clicked and actionTriggered, not toggled or valueChanged: showValue() moves them too.
    connect(m_switch, &SwitchButton::clicked, this,
        [this](bool isOn) { edit(isOn ? std::optional<SettingValue>(m_lastSet) : std::nullopt); });
    connect(m_slider, &QSlider::actionTriggered, this, [this] {
        // The position is already the new one; the value follows after this signal.
        edit(sliderValue());
    });
}

void SettingValueEditor::buildChoice()
{
    m_choice = new QComboBox(this);
    m_choice->setObjectName(QStringLiteral("choice"));
    // One width for every choice, so that the drop-downs of a page line up under each other.
    m_choice->setFixedWidth(choiceWidth);
    auto* header = new QHBoxLayout;
    header->setSpacing(10);
    header->addWidget(m_title);
    header->addStretch();
    header->addWidget(m_choice);
    static_cast<QVBoxLayout*>(layout())->addLayout(header);
    connect(m_choice, &QComboBox::activated, this, [this](int index) {
        if (index >= 0 && static_cast<std::size_t>(index) < m_choiceValues.size())
            edit(m_choiceValues[static_cast<std::size_t>(index)]);
    });
}

void SettingValueEditor::setOnEdited(std::function<void(std::optional<SettingValue>)> onEdited)
{
    m_onEdited = std::move(onEdited);
}

void SettingValueEditor::showValue(
    const std::optional<SettingValue>& value, const SettingOffer& offer)
{
    m_value = value;
    m_offer = offer;
    if (isChoice())
        showChoice(offer);
    else
        showSlider(offer);
    // How a working slider works is no news; why a control cannot work, and which modes a
    // choice offers, are.
    m_reason->setText(text(offer.reason));
    m_reason->setVisible(!offer.reason.empty() && (isChoice() || !offer.isAvailable));
}

void SettingValueEditor::setNote(const std::optional<QString>& note)
{
    m_note->setMessage(note.value_or(QString()));
    m_note->setVisible(note.has_value());
}

void SettingValueEditor::nameFor(const QString& screen)
{
    // Inside a sentence, as in "Set brightness"; "HDR" stays as it is.
    const QString title = name(m_key);
    const QString inSentence = title == title.toUpper() ? title : title.toLower();
    const QString named = screen.isEmpty() ? title : screen + QLatin1Char(' ') + inSentence;
    if (m_choice) {
        m_choice->setAccessibleName(named);
        return;
    }
    m_slider->setAccessibleName(named);
    m_switch->setAccessibleName(QStringLiteral("Set ") + (screen.isEmpty() ? inSentence : named));
}

void SettingValueEditor::showSlider(const SettingOffer& offer)
{
    if (m_value)
        m_lastSet = *m_value;
    placeSlider(m_lastSet);
    m_valueText->setText(m_value ? text(m_value->label()) : m_unsetText);
    m_switch->setChecked(m_value.has_value());
    // An unavailable control keeps the value it has, but the only edit left is clearing it.
    m_switch->setEnabled(offer.isAvailable || m_value);
    const bool isAdjustable = offer.isAvailable && m_value;
    // A neutral temperature has no kelvin to slide.
    m_slider->setVisible(m_value && !(m_neutral && m_neutral->isChecked()));
    m_slider->setEnabled(isAdjustable);
    if (m_neutral) {
        m_neutral->setVisible(m_value.has_value());
        m_neutral->setEnabled(isAdjustable);
    }
}

void SettingValueEditor::placeSlider(const SettingValue& value)
{
    if (const auto* percent = std::get_if<SettingValue::Percent>(&value.value)) {
        m_slider->setValue(static_cast<int>(std::lround(percent->value * 100)));
        return;
    }
    const auto* temperature = std::get_if<SettingValue::TemperatureCase>(&value.value);
    if (!temperature)
        return;
    const auto* kelvin = std::get_if<Temperature::Kelvin>(&temperature->value.value);
    m_neutral->setChecked(kelvin == nullptr);
    if (kelvin)
        m_slider->setValue(static_cast<int>(kelvin->value));
}

SettingValue SettingValueEditor::sliderValue() const
{
    const int position = m_slider->sliderPosition();
    if (m_key != SettingKey::temperature)
        return SettingValue::percent(position / 100.0);
    if (m_neutral->isChecked())
        return SettingValue::temperature(Temperature::neutral());
    return SettingValue::temperature(Temperature::kelvin(position));
}

void SettingValueEditor::showChoice(const SettingOffer& offer)
{
    std::vector<std::optional<SettingValue>> values{std::nullopt};
    if (offer.isAvailable) {
        std::vector<SettingValue> choices = offer.choices;
        if (m_key == SettingKey::hdr)
            choices = {SettingValue::toggle(true), SettingValue::toggle(false)};
        for (const SettingValue& choice : choices) {
            if (choice.isValid(m_key))
                values.emplace_back(choice);
        }
    }
    // A value the control no longer offers stays listed, so that showing it never changes it.
    if (m_value && std::ranges::find(values, m_value) == values.end())
        values.emplace_back(m_value);
    if (values != m_choiceValues) {
        m_choiceValues = values;
        m_choice->clear();
        for (const std::optional<SettingValue>& value : m_choiceValues)
            m_choice->addItem(value ? text(value->label()) : m_unsetText);
    }
    const auto shown = std::ranges::find(m_choiceValues, m_value);
    m_choice->setCurrentIndex(static_cast<int>(shown - m_choiceValues.begin()));
    m_choice->setEnabled(m_choiceValues.size() > 1);
}

void SettingValueEditor::edit(std::optional<SettingValue> value)
{
    if (value == m_value)
        return;
    m_value = value;
    if (!isChoice())
        showSlider(m_offer);
    if (m_onEdited)
        m_onEdited(std::move(value));
}

QString automaticBrightnessNote()
{
    return QStringLiteral("macOS automatic brightness manages brightness on this screen.");
}

} // namespace quorvane
