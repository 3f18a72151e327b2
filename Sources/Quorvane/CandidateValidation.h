// Checking a changed copy of the settings document before a save request goes on.
#pragma once

#include "Quorvane/AppModel.h"

#include "Foundation/Error.h"

#include <string>

namespace quorvane {

/// Whether `check()` passes; a refusal leaves its description in actionError.
template <typename Check> [[nodiscard]] bool passes(AppModel& model, const Check& check)
{
    try {
        check();
        return true;
    } catch (const Error& error) {
        model.actionError.set(std::string(error.what()));
        return false;
    }
}

/// Whether `candidate` passes validation; a refusal leaves its description in actionError.
[[nodiscard]] inline bool isValidCandidate(AppModel& model, const Configuration& candidate)
{
    return passes(model, [&candidate] { candidate.validate(); });
}

} // namespace quorvane
