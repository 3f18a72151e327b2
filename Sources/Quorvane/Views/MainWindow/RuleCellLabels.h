// The texts of a rule's cells in the rules table.
#pragma once

#include "QuorvaneCore/Rules.h"
#include "QuorvaneCore/SettingValue.h"

#include <string>

namespace quorvane {

class AppModel;

/// The label of the rule's value for `key`, or "Default" when the rule leaves it unset.
[[nodiscard]] std::string settingCellText(const Rule& rule, SettingKey key);

/// The HDR cell: what macOS or the screens allow for the rule's conditions, else the value.
[[nodiscard]] std::string hdrRuleLabel(const AppModel& model, const Rule& rule);

} // namespace quorvane
