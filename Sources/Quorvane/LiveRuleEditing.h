// A saved rule whose unsaved settings are shown on the displays while it is edited.
#pragma once

#include "Concurrency/Spawn.h"
#include "Foundation/UUID.h"
#include "QuorvaneCore/ControlKey.h"
#include "QuorvaneCore/Rules.h"
#include "QuorvaneCore/SettingValue.h"

#include <map>
#include <vector>

namespace quorvane {

/// The preview in progress. Holds task handles, so every write of it counts as a change.
struct LiveRuleEdit {
    /// New for every preview.
    UUID id;
    UUID profileID;
    UUID ruleID;
    /// The editor's unsaved settings of the rule.
    RuleSettings settings;
    /// Per control, the value it had before the preview's first write to it.
    std::map<ControlKey, SettingValue> originals{};
    /// Per control, every value the preview asked for, in order.
    std::map<ControlKey, std::vector<SettingValue>> requested{};
    /// Every write task started for the preview, in order.
    std::vector<TaskHandle> commands{};
};

} // namespace quorvane
