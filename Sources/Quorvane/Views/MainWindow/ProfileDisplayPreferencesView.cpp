#include "Quorvane/Views/MainWindow/ProfileDisplayPreferencesView.h"

#include "Quorvane/AppModel.h"
#include "Quorvane/Views/Design/QuorDisclosureHeader.h"
#include "Quorvane/Views/Design/QuorStyle.h"

#include <QComboBox>
#include <QFrame>
#include <QGridLayout>
#include <QLabel>
#include <QVBoxLayout>

#include <algorithm>

namespace quorvane {

namespace {

// The order of a preference's choices; the index is what the menu reports.
const QStringList preferenceChoices{
    QStringLiteral("Leave unchanged"), QStringLiteral("On"), QStringLiteral("Off")};

int indexOf(const std::optional<bool>& value)
{
    if (!value)
        return 0;
    return *value ? 1 : 2;
}

std::optional<bool> valueAt(int index)
{
    if (index == 1)
        return true;
    if (index == 2)
        return false;
    return std::nullopt;
}

QString onOff(bool isOn) { return isOn ? QStringLiteral("On") : QStringLiteral("Off"); }

QString text(const std::string& utf8) { return QString::fromStdString(utf8); }

QLabel* secondary(const QString& content, QWidget* parent)
{
    auto* label = new QLabel(content, parent);
    QuorStyle::setRole(*label, QuorRole::secondary);
    label->setWordWrap(true);
    return label;
}

} // namespace

ProfileDisplayPreferencesView::ProfileDisplayPreferencesView(
    AppModel& model, UUID profileID, QWidget* parent)
    : QWidget(parent)
    , m_model(model)
    , m_profileID(std::move(profileID))
    , m_header(new QuorDisclosureHeader(QStringLiteral("Display preferences"), true))
    , m_body(new QFrame(this))
    , m_resolutionsLayout(new QGridLayout)
    , m_noResolutions(secondary(QStringLiteral("No connected display offers a choice of "
                                               "resolutions."),
          m_body))
    , m_refresh(model.executor(), [this] { refresh(); })
{
    m_header->setObjectName(QStringLiteral("displayPreferences"));
    m_body->setObjectName(QStringLiteral("displayPreferencesBody"));
    QuorStyle::setRole(*m_body, QuorRole::card);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_header, 0, Qt::AlignLeft);
    layout->addWidget(m_body);

    auto* body = new QVBoxLayout(m_body);
    body->setContentsMargins(18, 16, 18, 16);
    auto* grid = new QGridLayout;
    grid->setHorizontalSpacing(16);
    grid->setColumnMinimumWidth(0, 220);
    grid->setColumnStretch(2, 1);
    m_preferences = {
        {"True Tone", &ProfileDisplayPreferences::trueTone, nullptr, nullptr},
        {"Dark Mode", &ProfileDisplayPreferences::darkMode, nullptr, nullptr},
        {"Night Shift", &ProfileDisplayPreferences::nightShift, nullptr, nullptr},
        {"Automatically adjust brightness", &ProfileDisplayPreferences::automaticBrightness,
            nullptr, nullptr},
    };
    for (std::size_t index = 0; index < m_preferences.size(); ++index) {
        Preference& preference = m_preferences[index];
        const int row = static_cast<int>(index);
        preference.choice = new QComboBox(m_body);
        preference.choice->addItems(preferenceChoices);
        preference.choice->setAccessibleName(QString::fromUtf8(preference.title));
        preference.choice->setObjectName(QString::fromUtf8(preference.title));
        preference.state = secondary(QString(), m_body);
        preference.state->setObjectName(QString::fromUtf8(preference.title) + "State");
        grid->addWidget(new QLabel(QString::fromUtf8(preference.title), m_body), row, 0);
        grid->addWidget(preference.choice, row, 1);
        grid->addWidget(preference.state, row, 2);
        connect(preference.choice, &QComboBox::activated, this,
            [this, index](int choice) { pick(m_preferences[index], choice); });
    }
    body->addLayout(grid);
    auto* resolutionsTitle = new QLabel(QStringLiteral("Screen resolutions"), m_body);
    QuorStyle::setRole(*resolutionsTitle, QuorRole::subtitle);
    body->addSpacing(10);
    body->addWidget(resolutionsTitle);
    m_resolutionsLayout->setHorizontalSpacing(16);
    m_resolutionsLayout->setColumnMinimumWidth(0, 220);
    m_resolutionsLayout->setColumnStretch(2, 1);
    body->addLayout(m_resolutionsLayout);
    body->addWidget(m_noResolutions);

    connect(m_header, &QuorDisclosureHeader::expandedChanged, m_body, &QWidget::setVisible);
    m_refresh.watch(m_model.configuration, m_model.displays, m_model.hardwareSnapshot,
        m_model.systemDisplaySnapshot, m_model.systemDisplayErrors, m_model.systemDisplayApplying,
        m_model.isLoaded, m_model.settingsError, m_model.preview);
    refresh();
}

ProfileDisplayPreferencesView::~ProfileDisplayPreferencesView() = default;

const Profile* ProfileDisplayPreferencesView::profile() const
{
    const CopyOnWriteVector<Profile>& profiles = m_model.configuration->profiles;
    const auto found = std::ranges::find(profiles, m_profileID, &Profile::id);
    return found == profiles.end() ? nullptr : &*found;
}

std::vector<SystemDisplayControl> ProfileDisplayPreferencesView::controlsOf(
    const Preference& preference) const
{
    if (preference.field == &ProfileDisplayPreferences::trueTone)
        return {SystemDisplayControl::trueTone()};
    if (preference.field == &ProfileDisplayPreferences::darkMode)
        return {SystemDisplayControl::darkMode()};
    if (preference.field == &ProfileDisplayPreferences::nightShift)
        return {SystemDisplayControl::nightShift()};
    std::vector<SystemDisplayControl> controls;
    for (const DisplayDevice& display : *m_model.displays)
        controls.push_back(SystemDisplayControl::automaticBrightness(display.id));
    return controls;
}

QString ProfileDisplayPreferencesView::stateText(const Preference& preference) const
{
    const bool isActive = m_model.configuration->activeProfileID == m_profileID;
    const std::vector<SystemDisplayControl> controls = controlsOf(preference);
    if (isActive && *m_model.systemDisplayApplying && profile() && profile()->displayPreferences
        && ((*profile()->displayPreferences).*preference.field).has_value())
        return QStringLiteral("Applying…");
    const SystemDisplaySnapshot& snapshot = *m_model.systemDisplaySnapshot;
    QStringList parts;
    for (const SystemDisplayControl& control : controls) {
        QString part;
        if (const auto error = m_model.systemDisplayErrors->find(control);
            error != m_model.systemDisplayErrors->end())
            part = text(error->second);
        else if (const auto value = snapshot.values.find(control); value != snapshot.values.end())
            part = QStringLiteral("Now ") + onOff(value->second).toLower();
        else if (const auto reason = snapshot.unavailable.find(control);
                 reason != snapshot.unavailable.end())
            part = text(reason->second);
        if (part.isEmpty())
            continue;
        // Automatic brightness is one control per display: say which.
        if (const auto* perDisplay
            = std::get_if<SystemDisplayControl::AutomaticBrightness>(&control.value)) {
            const auto display
                = std::ranges::find(*m_model.displays, perDisplay->displayID, &DisplayDevice::id);
            if (display != m_model.displays->end())
                part
                    = text(m_model.screenLabel(display->reference())) + QStringLiteral(": ") + part;
        }
        parts.push_back(part);
    }
    return parts.join(QStringLiteral("\n"));
}

void ProfileDisplayPreferencesView::pick(const Preference& preference, int index)
{
    const Profile* shown = profile();
    if (!shown)
        return;
    ProfileDisplayPreferences preferences
        = shown->displayPreferences.value_or(ProfileDisplayPreferences{});
    preferences.*preference.field = valueAt(index);
    m_model.saveDisplayPreferences(std::move(preferences), m_profileID);
    refresh(); // a refused save shows the stored choice again
}

void ProfileDisplayPreferencesView::pickResolution(const std::string& displayID, int index)
{
    // Entry 0 drops the profile's own resolution, so the Default profile's applies.
    const std::vector<DisplayResolution> resolutions = m_model.resolutionChoices(displayID);
    if (index < 0 || static_cast<std::size_t>(index) > resolutions.size())
        return;
    const std::optional<DisplayResolution> picked = index == 0
        ? std::nullopt
        : std::optional(resolutions[static_cast<std::size_t>(index) - 1]);
    m_model.requestResolutionSave(picked, displayID, m_profileID);
    refresh(); // a refused or pending save shows the stored choice until it lands
}

void ProfileDisplayPreferencesView::rebuildResolutionsIfNeeded()
{
    std::vector<std::string> displays;
    for (const DisplayDevice& display : *m_model.displays) {
        if (!m_model.resolutionChoices(display.id).empty())
            displays.push_back(display.id);
    }
    if (displays == m_resolutionDisplays)
        return;
    m_resolutionDisplays = std::move(displays);
    while (QLayoutItem* item = m_resolutionsLayout->takeAt(0)) {
        if (QWidget* widget = item->widget())
            widget->deleteLater();
        delete item;
    }
    m_resolutionRows.clear();
    for (const std::string& displayID : m_resolutionDisplays) {
        const int row = static_cast<int>(m_resolutionRows.size());
        auto* name = new QLabel(m_body);
        name->setObjectName(QStringLiteral("resolutionScreen"));
        auto* choice = new QComboBox(m_body);
        // Named for its display, so that a rebuilt row is never taken for another display's.
        choice->setObjectName(QStringLiteral("resolution:") + QString::fromStdString(displayID));
        m_resolutionsLayout->addWidget(name, row, 0);
        m_resolutionsLayout->addWidget(choice, row, 1);
        connect(choice, &QComboBox::activated, this,
            [this, displayID](int index) { pickResolution(displayID, index); });
        m_resolutionRows.push_back({.displayID = displayID, .name = name, .choice = choice});
    }
}

void ProfileDisplayPreferencesView::refresh()
{
    const Profile* shown = profile();
    if (!shown)
        return;
    const ProfileDisplayPreferences preferences
        = shown->displayPreferences.value_or(ProfileDisplayPreferences{});
    const bool mayChange
        = *m_model.isLoaded && !m_model.settingsError->has_value() && !m_model.preview->has_value();
    for (const Preference& preference : m_preferences) {
        preference.choice->setCurrentIndex(indexOf(preferences.*preference.field));
        preference.choice->setEnabled(mayChange);
        preference.state->setText(stateText(preference));
    }

    rebuildResolutionsIfNeeded();
    const Configuration& configuration = *m_model.configuration;
    const Profile defaultProfile = configuration.defaultProfile();
    for (const ResolutionRow& row : m_resolutionRows) {
        // Named on every redraw, not as the row is made: a display renamed keeps its row.
        const auto display
            = std::ranges::find(*m_model.displays, row.displayID, &DisplayDevice::id);
        const QString name = text(m_model.screenLabel(display->reference()));
        row.name->setText(name);
        row.choice->setAccessibleName(name + QStringLiteral(" resolution"));
        const std::optional<DisplayResolution> fallback
            = configuration.displayResolution(defaultProfile, row.displayID);
        QStringList items{fallback ? QStringLiteral("Default (") + text(fallback->label()) + ")"
                                   : QStringLiteral("Default")};
        int current = 0;
        const auto own = preferences.resolutions
            ? preferences.resolutions->find(row.displayID)
            : std::map<std::string, DisplayResolution>::const_iterator{};
        for (const DisplayResolution& resolution : m_model.resolutionChoices(row.displayID)) {
            if (preferences.resolutions && own != preferences.resolutions->end()
                && own->second == resolution)
                current = static_cast<int>(items.size());
            items.push_back(text(resolution.label()));
        }
        row.choice->clear();
        row.choice->addItems(items);
        row.choice->setCurrentIndex(current);
        row.choice->setEnabled(mayChange);
    }
    m_noResolutions->setVisible(m_resolutionRows.empty());
}

} // namespace quorvane
