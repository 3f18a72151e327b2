// When one display's mode may change: after the wanted mode has stayed the same for a while, and
// never soon after the previous change.
#pragma once

#include "Foundation/Date.h"
#include "QuorvaneCore/DisplayResolution.h"

#include <cstdint>
#include <optional>

namespace quorvane {

/// The mode-change timing of one display. The mode scheduler keeps one per display identifier,
/// asks it how long to wait before applying what the plan wants, and reports each applied mode.
struct ModeStability {
    /// The mode most recently asked for.
    std::optional<ModeConfiguration> desired{};
    /// When `desired` last took a new value.
    std::optional<Date> changedAt{};
    /// When a mode was last applied to this display.
    std::optional<Date> appliedAt{};

    /// Seconds to wait from `now` before applying `mode`, never negative: until the request has
    /// been unchanged for the debounce (at least one second), and at least five seconds after the
    /// last applied mode. Records `mode` when it differs from the stored request, restarting
    /// the wait; asking again for the same mode does not restart it.
    [[nodiscard]] double delay(
        const ModeConfiguration& mode, Date now, std::int64_t debounceMilliseconds);
    /// Starts the five-second spacing from `date`; the pending request stays.
    void didApply(Date date);
    /// Forgets the pending request; the spacing from the last applied mode still holds.
    void cancel();

    bool operator==(const ModeStability&) const = default;
};

} // namespace quorvane
