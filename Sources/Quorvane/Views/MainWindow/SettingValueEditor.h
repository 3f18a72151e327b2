// One setting of a rule or of the Default settings: its value, or none, as a switch and slider
// (brightness, contrast, temperature) or a choice (HDR, refresh rate), with the reason the
// display gives under it.
#pragma once

#include "Foundation/UUID.h"
#include "QuorvaneCore/SettingValue.h"

#include <QWidget>

#include <functional>
#include <optional>
#include <string>
#include <vector>

class QCheckBox;
class QComboBox;
class QLabel;
class QSlider;

namespace quorvane {

class AppModel;
class Notice;
class SwitchButton;
struct ControlCapability;

/// What the control of a setting takes now.
struct SettingOffer {
    /// An unavailable control takes no new value; a value it already has can still be cleared.
    bool isAvailable = true;
    /// Shown under the control; empty shows nothing.
    std::string reason{};
    /// The values a choice offers, in order; empty for a slider. HDR always offers On and Off.
    std::vector<SettingValue> choices{};

    /// The capability as an offer; absent: "Control unavailable".
    [[nodiscard]] static SettingOffer of(const std::optional<ControlCapability>& capability);
};

class SettingValueEditor final : public QWidget {
public:
    /// `unsetText` names the absence of a value ("Default").
    SettingValueEditor(SettingKey key, QString unsetText, QWidget* parent = nullptr);

    /// Called after every edit by the user, with the new value; absent: the value was cleared.
    void setOnEdited(std::function<void(std::optional<SettingValue>)> onEdited);

    /// Shows `value` and what the control offers; calls nothing back.
    void showValue(const std::optional<SettingValue>& value, const SettingOffer& offer);
    /// A note under the control (macOS managing it); absent hides it.
    void setNote(const std::optional<QString>& note);
    /// Names the controls for the screen whose setting they show ("Studio Monitor brightness"),
    /// on a page that shows the setting of several screens.
    void nameFor(const QString& screen);

    [[nodiscard]] SettingKey key() const { return m_key; }

private:
    [[nodiscard]] bool isChoice() const;
    void buildSlider();
    void buildChoice();
    void showSlider(const SettingOffer& offer);
    void showChoice(const SettingOffer& offer);
    /// The slider's (and the Neutral box's) value.
    [[nodiscard]] SettingValue sliderValue() const;
    void placeSlider(const SettingValue& value);
    void edit(std::optional<SettingValue> value);

    SettingKey m_key;
    QString m_unsetText;
    std::function<void(std::optional<SettingValue>)> m_onEdited;
    std::optional<SettingValue> m_value;
    SettingOffer m_offer;
    /// What the switch brings back: the last value set with the slider.
    SettingValue m_lastSet;
    QLabel* m_title;
    QLabel* m_valueText = nullptr;
    SwitchButton* m_switch = nullptr;
    QSlider* m_slider = nullptr;
    QCheckBox* m_neutral = nullptr;
    QComboBox* m_choice = nullptr;
    std::vector<std::optional<SettingValue>> m_choiceValues;
    QLabel* m_reason;
    Notice* m_note;
};

/// The note a brightness control shows while automatic brightness manages it.
[[nodiscard]] QString automaticBrightnessNote();

} // namespace quorvane
