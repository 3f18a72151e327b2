// Confirmations the model shows after an action.
#pragma once

#include "Foundation/UUID.h"

#include <string>

namespace quorvane {

/// Shown after a rule was copied to another profile; identified by `id`, new for every copy.
struct RuleCopyFeedback {
    UUID id;
    std::string ruleName;
    std::string profileName;
};

} // namespace quorvane
