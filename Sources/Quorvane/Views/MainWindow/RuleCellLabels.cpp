#include "Quorvane/Views/MainWindow/RuleCellLabels.h"

namespace quorvane {

std::string settingCellText(const Rule& rule, SettingKey key)
{
    const std::optional<SettingValue> value = rule.settings.value(key);
    return value ? value->label() : "Default";
}

} // namespace quorvane
