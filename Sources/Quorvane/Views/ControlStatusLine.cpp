#include "Quorvane/Views/ControlStatusLine.h"

#include "Foundation/Text.h"
#include "Quorvane/AppModel.h"
#include "Quorvane/Views/Design/QuorStyle.h"

#include <QLabel>

#include <algorithm>

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

} // namespace quorvane
