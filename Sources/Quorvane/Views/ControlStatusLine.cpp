#include "Quorvane/Views/ControlStatusLine.h"

#include "Foundation/Text.h"
#include "Quorvane/AppModel.h"
#include "Quorvane/Views/Design/QuorStyle.h"
#include "QuorvaneCore/SettingValue.h"

#include <QLabel>
#include <QPushButton>

#include <algorithm>
#include <optional>

namespace quorvane {

std::string statusLine(const std::vector<std::string>& parts)
{
    std::vector<std::string> shown;
    for (const std::string& part : parts) {
        if (!part.empty() && std::ranges::find(shown, part) == shown.end())
            shown.push_back(part);
    }
    return joined(shown, " · ");
}

std::string statusOf(const AppModel& model, const ControlKey& key)
{
    const auto status = model.controlStatus->find(key);
    return status == model.controlStatus->end() ? std::string() : status->second;
}

QLabel* newStatusLabel(QWidget* parent)
{
    auto* label = new QLabel(parent);
    QuorStyle::setRole(*label, QuorRole::secondary);
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(true);
    // Ignored: the width comes from the row, so that a rule's long name never widens the popover.
    QSizePolicy policy = label->sizePolicy(); // keeps the height that follows the width
    policy.setHorizontalPolicy(QSizePolicy::Ignored);
    label->setSizePolicy(policy);
    return label;
}

QString displayLabel(const AppModel& model, const std::string& displayID)
{
    const auto display = std::ranges::find(*model.displays, displayID, &DisplayDevice::id);
    if (display == model.displays->end())
        return {};
    return QString::fromStdString(model.screenLabel(display->reference()));
}

QString controlName(const QString& displayLabel, SettingKey setting)
{
    const QString title = QString::fromUtf8(quorvane::title(setting));
    // An acronym keeps its capitals.
    return displayLabel + QLatin1Char(' ') + (title == title.toUpper() ? title : title.toLower());
}

HoldLine::HoldLine(
    AppModel& model, ControlKey key, QWidget& parent, WhenFree whenFree, const QString& name)
    : m_model(model)
    , m_key(std::move(key))
    , m_whenFree(whenFree)
    , m_hold(new QLabel(&parent))
    , m_resume(new QPushButton(QStringLiteral("Resume"), &parent))
{
    m_hold->setObjectName(name.isEmpty() ? QStringLiteral("hold") : name + QStringLiteral("Hold"));
    m_resume->setObjectName(
        name.isEmpty() ? QStringLiteral("resume") : name + QStringLiteral("Resume"));
    QuorStyle::setRole(*m_hold, QuorRole::secondary);
    QObject::connect(
        m_resume, &QPushButton::clicked, m_resume, [&model, key = m_key] { model.resume(key); });
}

void HoldLine::refresh(const QString& displayLabel) const
{
    const std::optional<std::string> hold = m_model.holdLabel(m_key);
    m_hold->setText(hold ? QString::fromStdString(*hold) : QString());
    if (m_whenFree == WhenFree::nothing) {
        m_hold->setVisible(hold.has_value());
        m_resume->setVisible(hold.has_value());
    } else {
        m_resume->setEnabled(hold.has_value());
    }
    // Every card has its Resumes: the name says which control of which display it gives back.
    if (!displayLabel.isEmpty())
        m_resume->setAccessibleName(
            QStringLiteral("Resume ") + controlName(displayLabel, m_key.setting));
}

} // namespace quorvane
