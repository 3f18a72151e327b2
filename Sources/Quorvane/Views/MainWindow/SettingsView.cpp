#include "Quorvane/Views/MainWindow/SettingsView.h"

#include "Quorvane/AppModel.h"
#include "Quorvane/Views/Design/PageHeading.h"
#include "Quorvane/Views/Design/QuorStyle.h"
#include "Quorvane/Views/Design/SwitchButton.h"

#include <QComboBox>
#include <QFrame>
#include <QGridLayout>
#include <QLabel>
#include <QVBoxLayout>

#include <algorithm>
#include <array>
#include <string>

namespace quorvane {

namespace {

struct HoldLength {
    std::int64_t minutes;
    const char* title;
};

constexpr std::array<HoldLength, 5> holdLengths{{
    {0, "Until Resume"},
    {5, "5 minutes"},
    {15, "15 minutes"},
    {30, "30 minutes"},
    {60, "1 hour"},
}};

QLabel* note(const QString& text, QWidget* parent)
{
    auto* label = new QLabel(text, parent);
    QuorStyle::setRole(*label, QuorRole::secondary);
    label->setWordWrap(true);
    return label;
}

QFrame* card(const QString& title, QWidget* parent)
{
    auto* frame = new QFrame(parent);
    QuorStyle::setRole(*frame, QuorRole::card);
    auto* layout = new QGridLayout(frame);
    layout->setContentsMargins(18, 16, 18, 16);
    layout->setHorizontalSpacing(16);
    layout->setVerticalSpacing(6);
    layout->setColumnStretch(1, 1);
    auto* heading = new QLabel(title, frame);
    QuorStyle::setRole(*heading, QuorRole::subtitle);
    layout->addWidget(heading, 0, 0, 1, 2);
    return frame;
}

/// Adds a control with the sentence that explains it under it.
void addSetting(QFrame& frame, QWidget* control, const QString& explanation)
{
    auto* layout = static_cast<QGridLayout*>(frame.layout());
    const int row = layout->rowCount();
    layout->addWidget(control, row, 0, 1, 2, Qt::AlignLeft);
    layout->addWidget(note(explanation, &frame), row + 1, 0, 1, 2);
}

QString keyStatusText(BrightnessKeyStatus status, Platform& platform)
{
    switch (status) {
    case BrightnessKeyStatus::off:
        return {};
    case BrightnessKeyStatus::needsPermission:
        return QStringLiteral("Waiting for access: enable QuorVane in System Settings → Privacy & "
                              "Security → ")
            + QString::fromStdString(BrightnessKeyMonitor::permissionPaneName(platform))
            + QStringLiteral(".");
    case BrightnessKeyStatus::active:
        return QStringLiteral("The brightness keys adjust the built-in display.");
    case BrightnessKeyStatus::unavailable:
        return QStringLiteral("The brightness keys cannot be taken over on this Mac now.");
    }
    return {};
}

} // namespace

SettingsView::SettingsView(AppModel& model, QWidget* parent)
    : QWidget(parent)
    , m_model(model)
    , m_refresh(model.executor(), [this] { refresh(); })
{
    setObjectName(QStringLiteral("settingsView"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(26, 26, 26, 26);
    layout->setSpacing(16);
    layout->addWidget(new PageHeading(QStringLiteral("QuorVane"), QStringLiteral("Settings"),
        QStringLiteral("Changes are saved as you make them."), this));
    layout->addWidget(buildAutomationCard());
    layout->addWidget(buildKeysCard());
    layout->addWidget(buildLoginCard());
    layout->addStretch();

    m_refresh.watch(m_model.isLoaded, m_model.loginEnabled, m_model.loginNeedsApproval,
        m_model.configuration, m_model.settingsError, m_model.brightnessKeyStatus,
        m_model.loginError);
    refresh();
}

SettingsView::~SettingsView() = default;

QWidget* SettingsView::buildAutomationCard()
{
    QFrame* frame = card(QStringLiteral("Automation"), this);
    auto* layout = static_cast<QGridLayout*>(frame->layout());
    m_holdLength = new QComboBox(frame);
    m_holdLength->setObjectName(QStringLiteral("holdLength"));
    m_holdLength->setAccessibleName(QStringLiteral("Hold manual adjustments"));
    for (const HoldLength& length : holdLengths)
        m_holdLength->addItem(QString::fromUtf8(length.title));
    layout->addWidget(new QLabel(QStringLiteral("Hold manual adjustments"), frame), 1, 0);
    layout->addWidget(m_holdLength, 1, 1, Qt::AlignLeft);
    layout->addWidget(note(QStringLiteral("A display you adjust by hand keeps its value for this "
                                          "long before its rules take over again."),
                          frame),
        2, 0, 1, 2);
    m_smooth = new SwitchButton(QStringLiteral("Smooth transitions"), frame);
    m_smooth->setObjectName(QStringLiteral("smoothTransitions"));
    addSetting(*frame, m_smooth,
        QStringLiteral("Brightness changes made by rules fade in instead of jumping."));
    m_debounce = new SwitchButton(QStringLiteral("Wait for changes to settle"), frame);
    m_debounce->setObjectName(QStringLiteral("debounce"));
    addSetting(*frame, m_debounce,
        QStringLiteral("Switching apps quickly applies only the app you stay in."));

    connect(m_holdLength, &QComboBox::activated, this, [this](int index) {
        save([index](AppPreferences& preferences) {
            preferences.holdMinutes = holdLengths.at(static_cast<std::size_t>(index)).minutes;
        });
    });
    connect(m_smooth, &SwitchButton::clicked, this, [this](bool isOn) {
        save([isOn](AppPreferences& preferences) { preferences.smoothTransitions = isOn; });
    });
    connect(m_debounce, &SwitchButton::clicked, this, [this](bool isOn) {
        save([isOn](AppPreferences& preferences) { preferences.debounceEnabled = isOn; });
    });
    return frame;
}

QWidget* SettingsView::buildKeysCard()
{
    QFrame* frame = card(QStringLiteral("Brightness keys"), this);
    auto* layout = static_cast<QGridLayout*>(frame->layout());
    m_keys = new SwitchButton(QStringLiteral("Adjust with the brightness keys"), frame);
    m_keys->setObjectName(QStringLiteral("brightnessKeys"));
    addSetting(*frame, m_keys,
        QStringLiteral("The keys change the built-in display and hold the value like any manual "
                       "adjustment."));
    m_keyStep = new QComboBox(frame);
    m_keyStep->setObjectName(QStringLiteral("brightnessKeyStep"));
    m_keyStep->setAccessibleName(QStringLiteral("Step per key press"));
    for (const BrightnessKeyStep step : allBrightnessKeySteps)
        m_keyStep->addItem(QString::number(rawValue(step)) + QStringLiteral(" %"));
    const int row = layout->rowCount();
    layout->addWidget(new QLabel(QStringLiteral("Step per key press"), frame), row, 0);
    layout->addWidget(m_keyStep, row, 1, Qt::AlignLeft);
    m_keyStatus = note(QString(), frame);
    m_keyStatus->setObjectName(QStringLiteral("brightnessKeyStatus"));
    layout->addWidget(m_keyStatus, row + 1, 0, 1, 2);

    connect(m_keys, &SwitchButton::clicked, this, [this](bool isOn) {
        save([isOn](AppPreferences& preferences) { preferences.brightnessKeysEnabled = isOn; });
    });
    connect(m_keyStep, &QComboBox::activated, this, [this](int index) {
        save([index](AppPreferences& preferences) {
            preferences.brightnessKeyStep
                = allBrightnessKeySteps.at(static_cast<std::size_t>(index));
        });
    });
    return frame;
}

QWidget* SettingsView::buildLoginCard()
{
    QFrame* frame = card(QStringLiteral("Start-up"), this);
    auto* layout = static_cast<QGridLayout*>(frame->layout());
    m_login = new SwitchButton(QStringLiteral("Launch at login"), frame);
    m_login->setObjectName(QStringLiteral("launchAtLogin"));
    m_loginState = note(QString(), frame);
    m_loginState->setObjectName(QStringLiteral("loginState"));
    m_loginError = new QLabel(frame);
    m_loginError->setObjectName(QStringLiteral("loginError"));
    m_loginError->setWordWrap(true);
    m_loginError->setTextFormat(Qt::PlainText);
    QuorStyle::setRole(*m_loginError, QuorRole::notice);
    const int row = layout->rowCount();
    layout->addWidget(m_login, row, 0, 1, 2, Qt::AlignLeft);
    layout->addWidget(m_loginState, row + 1, 0, 1, 2);
    layout->addWidget(m_loginError, row + 2, 0, 1, 2);
    // Not part of the settings file: the system keeps the login item.
    connect(m_login, &SwitchButton::clicked, this, [this](bool isOn) {
        m_model.setLogin(isOn);
        refresh();
    });
    return frame;
}

void SettingsView::save(const std::function<void(AppPreferences&)>& edit)
{
    AppPreferences preferences = AppPreferences::of(*m_model.configuration);
    edit(preferences);
    m_model.savePreferences(preferences);
    refresh(); // a refused change shows the stored value again
}

void SettingsView::refresh()
{
    const Configuration& configuration = *m_model.configuration;
    const bool mayChange = *m_model.isLoaded && !m_model.settingsError->has_value();
    const auto length
        = std::ranges::find(holdLengths, configuration.holdMinutes, &HoldLength::minutes);
    m_holdLength->setCurrentIndex(
        length == holdLengths.end() ? -1 : static_cast<int>(length - holdLengths.begin()));
    m_smooth->setChecked(configuration.smoothTransitions);
    m_debounce->setChecked(configuration.debounceEnabled());
    m_keys->setChecked(configuration.brightnessKeysEnabled);
    const auto step = std::ranges::find(allBrightnessKeySteps, configuration.brightnessKeyStep);
    m_keyStep->setCurrentIndex(static_cast<int>(step - allBrightnessKeySteps.begin()));
    for (QWidget* control : {static_cast<QWidget*>(m_holdLength), static_cast<QWidget*>(m_smooth),
             static_cast<QWidget*>(m_debounce), static_cast<QWidget*>(m_keys)})
        control->setEnabled(mayChange);
    m_keyStep->setEnabled(mayChange && configuration.brightnessKeysEnabled);
    m_keyStatus->setText(keyStatusText(*m_model.brightnessKeyStatus, m_model.platform()));
    m_keyStatus->setVisible(!m_keyStatus->text().isEmpty());

    m_login->setChecked(*m_model.loginEnabled || *m_model.loginNeedsApproval);
    if (*m_model.loginNeedsApproval)
        m_loginState->setText(QStringLiteral("Waiting for your approval in System Settings → "
                                             "General → Login Items."));
    else if (*m_model.loginEnabled)
        m_loginState->setText(QStringLiteral("QuorVane opens when you log in."));
    else
        m_loginState->setText(QStringLiteral("QuorVane does not open when you log in."));
    const std::optional<std::string>& error = *m_model.loginError;
    m_loginError->setText(error ? QString::fromStdString(*error) : QString());
    m_loginError->setVisible(error.has_value());
}

} // namespace quorvane
