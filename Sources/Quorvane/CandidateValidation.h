// Checking a changed copy of the settings document before a save request goes on.
#pragma once

#include "Quorvane/AppModel.h"

#include "Foundation/Error.h"

#include <string>

namespace quorvane {

/// Whether `candidate` passes validation; a refusal leaves its description in actionError.
[[nodiscard]] inline bool isValidCandidate(AppModel& model, const Configuration& candidate)
{
    try {
        candidate.validate();
        return true;
    } catch (const Error& error) {
        model.actionError.set(std::string(error.what()));
        return false;
    }
}

} // namespace quorvane
