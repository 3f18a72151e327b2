// The texts of a rule's cells in the rules table.
#pragma once

#include "QuorvaneCore/Rules.h"
#include "QuorvaneCore/SettingValue.h"

#include <string>

namespace quorvane {

class AppModel;

/// The label of the rule's value for `key`, or "Default" when the rule leaves it unset.
[[nodiscard]] std::string settingCellText(const Rule& rule, SettingKey key);

/// The conditions as the table names them: the screen under its AppModel::screenLabel, and the
/// Space under the name AppModel::spaceLabel gives it among the connected screens' Spaces,
/// unless the rule's screen is the Space's own.
[[nodiscard]] RuleConditions shownConditions(
    const RuleConditions& conditions, const AppModel& model);

} // namespace quorvane
