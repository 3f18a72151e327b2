#include "Quorvane/Views/MainWindow/RuleCellLabels.h"

#include "Quorvane/AppModel.h"

namespace quorvane {

std::string settingCellText(const Rule& rule, SettingKey key)
{
    const std::optional<SettingValue> value = rule.settings.value(key);
    return value ? value->label() : "Default";
}

// FIXME: "macOS" and "Unavailable" come from the HDR capability of the rule's conditions once
// the model offers it; until then the cell shows the rule's own value.
std::string hdrRuleLabel(const AppModel&, const Rule& rule)
{
    return settingCellText(rule, SettingKey::hdr);
}

} // namespace quorvane
