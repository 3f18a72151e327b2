// The rule open in the rule editor, as the main window keeps it while the user edits.
#pragma once

#include "Foundation/UUID.h"
#include "QuorvaneCore/Rules.h"

namespace quorvane {

struct RuleDraft {
    /// The profile that holds (or will hold) the rule.
    UUID profileID;
    /// Its id identifies the editor instance.
    Rule rule;
    /// Saving adds the rule instead of replacing one; such a draft is never previewed.
    bool isNew = false;
    /// The editor starts in its selected-applications mode.
    bool selectsApps = false;
    bool operator==(const RuleDraft&) const = default;
};

} // namespace quorvane
