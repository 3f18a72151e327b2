// A display that a failed restore left in a mode nobody approved, and what a later restore needs.
#pragma once

#include "Foundation/UUID.h"
#include "QuorvaneCore/DisplayResolution.h"

#include <optional>

namespace quorvane {

struct PendingRestore {
    /// The platform's recovery token; absent in the demo, which applies `original` again.
    std::optional<UUID> token;
    /// The mode the display had before the change that could not be undone.
    ModeConfiguration original;
    bool operator==(const PendingRestore&) const = default;
};

} // namespace quorvane
