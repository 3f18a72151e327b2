// The one display a rule's conditions act on, which the rule's HDR and refresh-rate choices are
// taken from.
#pragma once

#include "QuorvaneCore/Rules.h"

#include <optional>
#include <string>

namespace quorvane {

/// The screen condition's display; else a Space's display unless the Space is shared; absent
/// means every connected display.
[[nodiscard]] std::optional<std::string> targetDisplay(const RuleConditions& conditions);

} // namespace quorvane
