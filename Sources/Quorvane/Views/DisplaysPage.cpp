#include "Quorvane/Views/DisplaysPage.h"

#include "Quorvane/AppModel.h"
#include "QuorvaneCore/SettingValue.h"

#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSlider>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>
#include <string>

namespace quorvane {

namespace {

// The settings a slider adjusts: a percentage, written directly. Modes go through their own tests.
constexpr SettingKey slidingSettings[] = {SettingKey::brightness, SettingKey::contrast};

constexpr int sliderSteps = 100;

QString text(const std::string& utf8) { return QString::fromStdString(utf8); }

} // namespace

DisplaysPage::DisplaysPage(AppModel& model, QWidget* parent)
    : QWidget(parent)
    , m_model(model)
    , m_resumeAll(new QPushButton(QStringLiteral("Resume all"), this))
    , m_displaysLayout(new QVBoxLayout)
    , m_emptyNote(new QLabel(QStringLiteral("No display offers adjustable controls."), this))
{
    m_resumeAll->setObjectName(QStringLiteral("resumeAll"));
    m_emptyNote->setObjectName(QStringLiteral("emptyNote"));
    auto* layout = new QVBoxLayout(this);
    auto* header = new QHBoxLayout;
    header->addWidget(new QLabel(QStringLiteral("Displays"), this));
    header->addStretch();
    header->addWidget(m_resumeAll);
    layout->addLayout(header);
    layout->addWidget(m_emptyNote);
    layout->addLayout(m_displaysLayout);
    layout->addStretch();

    connect(m_resumeAll, &QPushButton::clicked, this, [this] { m_model.resume(std::nullopt); });

    const auto rebuildAndRefresh = [this] {
        rebuildIfNeeded();
        refresh();
    };
    const auto redraw = [this] { refresh(); };
    m_subscriptions.push_back(m_model.displays.observe(rebuildAndRefresh));
    m_subscriptions.push_back(m_model.hardwareSnapshot.observe(rebuildAndRefresh));
    m_subscriptions.push_back(m_model.holds.observe(redraw));
    m_subscriptions.push_back(m_model.observed.observe(redraw));
    m_subscriptions.push_back(m_model.applying.observe(redraw));
    m_subscriptions.push_back(m_model.resolution.observe(redraw));
    m_subscriptions.push_back(m_model.systemDisplaySnapshot.observe(redraw));
    m_subscriptions.push_back(m_model.configuration.observe(redraw));
    m_subscriptions.push_back(m_model.now.observe(redraw));
    rebuildAndRefresh();
}

// The subscriptions end before QWidget deletes the rows that refresh() touches.
DisplaysPage::~DisplaysPage() { m_subscriptions.clear(); }

QWidget* DisplaysPage::rowOf(const ControlKey& key) const
{
    const auto row = std::ranges::find(m_rows, key, &Row::key);
    return row == m_rows.end() ? nullptr : row->widget;
}

std::vector<DisplaysPage::Shown> DisplaysPage::shownControls() const
{
    std::vector<Shown> shown;
    const auto& capabilities = m_model.hardwareSnapshot->capabilities;
    for (const DisplayDevice& display : *m_model.displays) {
        for (const SettingKey setting : slidingSettings) {
            const ControlKey key{.target = ControlTarget::display(display.id), .setting = setting};
            const auto capability = capabilities.find(key);
            if (capability != capabilities.end() && capability->second.available)
                shown.push_back({.displayName = display.name, .key = key});
        }
    }
    return shown;
}

void DisplaysPage::rebuildIfNeeded()
{
    std::vector<Shown> shown = shownControls();
    if (shown == m_shown)
        return;
    m_shown = std::move(shown);
    m_rows.clear();
    // Later, not now: the slider whose adjustment led here may still be inside its signal.
    for (QGroupBox* group : m_groups) {
        group->hide();
        group->deleteLater();
    }
    m_groups.clear();

    const std::string* groupDisplay = nullptr;
    for (const Shown& control : m_shown) {
        if (!groupDisplay || *groupDisplay != control.key.target.id()) {
            groupDisplay = &control.key.target.id();
            auto* group = new QGroupBox(text(control.displayName), this);
            group->setLayout(new QVBoxLayout);
            m_displaysLayout->addWidget(group);
            m_groups.push_back(group);
        }
        m_rows.push_back(makeRow(control.key, m_groups.back()));
        m_groups.back()->layout()->addWidget(m_rows.back().widget);
    }
    m_emptyNote->setVisible(m_rows.empty());
}

DisplaysPage::Row DisplaysPage::makeRow(const ControlKey& key, QWidget* parent)
{
    auto* widget = new QWidget(parent);
    Row row{.key = key,
        .widget = widget,
        .slider = new QSlider(Qt::Horizontal, widget),
        .value = new QLabel(widget),
        .source = new QLabel(widget),
        .hold = new QLabel(widget),
        .resume = new QPushButton(QStringLiteral("Resume"), widget)};
    row.slider->setObjectName(QStringLiteral("slider"));
    row.value->setObjectName(QStringLiteral("value"));
    row.source->setObjectName(QStringLiteral("source"));
    row.hold->setObjectName(QStringLiteral("hold"));
    row.resume->setObjectName(QStringLiteral("resume"));
    row.slider->setRange(0, sliderSteps);
    row.slider->setAccessibleName(text(std::string(title(key.setting))));

    auto* layout = new QGridLayout(widget);
    layout->addWidget(new QLabel(text(std::string(title(key.setting))), widget), 0, 0);
    layout->addWidget(row.slider, 0, 1);
    layout->addWidget(row.value, 0, 2);
    layout->addWidget(row.resume, 0, 3);
    layout->addWidget(row.source, 1, 1);
    layout->addWidget(row.hold, 1, 2, 1, 2);
    layout->setColumnMinimumWidth(0, 80);
    layout->setColumnStretch(1, 1);

    // actionTriggered, not valueChanged: refresh() moves the slider too, and that must not
    // become a manual adjustment.
    QSlider* slider = row.slider;
    connect(slider, &QSlider::actionTriggered, this,
        [this, key, slider](int) { adjust(key, slider->sliderPosition()); });
    connect(row.resume, &QPushButton::clicked, this, [this, key] { m_model.resume(key); });
    return row;
}

void DisplaysPage::refresh()
{
    for (const Row& row : m_rows)
        refreshRow(row);
}

void DisplaysPage::refreshRow(const Row& row)
{
    const double value = m_model.value(row.key);
    if (!row.slider->isSliderDown())
        row.slider->setValue(static_cast<int>(std::lround(value * sliderSteps)));
    row.value->setText(text(SettingValue::percent(value).label()));
    row.source->setText(text(m_model.source(row.key)));
    const std::optional<std::string> hold = m_model.holdLabel(row.key);
    row.hold->setText(hold ? text(*hold) : QString());
    row.resume->setEnabled(hold.has_value());
}

void DisplaysPage::adjust(const ControlKey& key, int position)
{
    const int clamped = std::clamp(position, 0, sliderSteps);
    m_model.manual(SettingValue::percent(static_cast<double>(clamped) / sliderSteps), key, false);
    // A refused adjustment changes nothing in the model, so put the slider back by hand.
    refresh();
}

} // namespace quorvane
