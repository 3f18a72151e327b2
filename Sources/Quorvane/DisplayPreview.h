// The one display-mode test in progress: the mode under test, the mode to return to, and how
// far the Keep/Revert test has come.
#pragma once

#include "Foundation/Date.h"
#include "Foundation/UUID.h"
#include "QuorvaneCore/DisplayResolution.h"
#include "QuorvaneCore/SettingValue.h"

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace quorvane {

/// Identified by `id`. Holds a callback, so it has no value equality.
struct DisplayPreview {
    enum class Phase {
        applying,
        confirming,
        verifying,
        reverting,
    };

    UUID id;
    std::string displayID{};
    /// The display's name when the test started.
    std::string name{};
    /// The mode under test; the mode read back once it was applied.
    ModeConfiguration requested{};
    /// What a revert returns to.
    ModeConfiguration original{};
    /// The display's connection environment when the test started.
    std::string environment{};
    /// Started by a manual control: a kept test becomes manual holds.
    bool manual = false;
    /// The mode keys the caller asked for: hdr, then refreshRate.
    std::vector<SettingKey> manualKeys{};
    /// After Keep, the previous mode comes back: the combination is approved, not kept on screen.
    bool restoreAfterKeep = false;
    Phase phase = Phase::applying;
    /// The platform's recovery token; absent in the demo and until it is taken.
    std::optional<UUID> recovery{};
    /// Keep is accepted until then; set once the test is confirming.
    std::optional<Date> deadline{};
    /// The keep button's title.
    std::string confirmationTitle{};
    /// Called once when the test ends: true when kept.
    std::function<void(bool)> completion{};
};

} // namespace quorvane
