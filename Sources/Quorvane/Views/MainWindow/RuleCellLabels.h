// The texts of a rule's cells in the rules table.
#pragma once

#include "QuorvaneCore/Rules.h"
#include "QuorvaneCore/SettingValue.h"

#include <string>

namespace quorvane {

/// The label of the rule's value for `key`, or "Default" when the rule leaves it unset.
[[nodiscard]] std::string settingCellText(const Rule& rule, SettingKey key);

} // namespace quorvane
