// Drives one display control to a requested value: smooth, cancellable writes confirmed by a
// read-back, through whichever backend the platform or the demo provides.
#pragma once

#include "Concurrency/Task.h"
#include "QuorvaneCore/ControlKey.h"
#include "QuorvaneCore/SettingValue.h"

#include <chrono>
#include <cstdint>
#include <optional>
#include <unordered_map>

namespace quorvane {

/// Reads and writes the controls of the displays. The driver passes every error of either
/// operation on unchanged.
class ControlBackend {
public:
    virtual ~ControlBackend() = default;

    /// The control's current value as the hardware reports it.
    [[nodiscard]] virtual Task<SettingValue> read(ControlKey key) = 0;
    /// Sets the control; ends once the write has been issued.
    [[nodiscard]] virtual Task<void> write(SettingValue value, ControlKey key) = 0;

protected:
    ControlBackend() = default;
    ControlBackend(const ControlBackend&) = default;
    ControlBackend& operator=(const ControlBackend&) = default;
};

/// The outcome of one apply. An apply never fails for a mismatch: the caller judges it with
/// verified().
struct ControlApplyReport {
    SettingValue requested;
    /// The read-back after a write, or the value read first when no write was needed.
    SettingValue observed;
    bool didWrite = false;

    /// Percentages within 0.015 of each other (false when either is not a number); any other
    /// values exactly equal, of the same case.
    [[nodiscard]] bool verified() const;

    bool operator==(const ControlApplyReport&) const = default;
};

/// How both drivers pace a control: an eased move is twelve writes 45 ms apart, and the last
/// write is read back after a settle pause.
struct ControlPacing {
    static constexpr int easedStepCount = 12;
    static constexpr std::chrono::milliseconds easedStepPause{45};
    static constexpr std::chrono::milliseconds settlePause{100};
    /// A control read this close to the request already holds it: nothing is written.
    static constexpr double alreadyThereTolerance = 0.000001;
    /// How far a read-back may lie from the request and still count as verified (inclusive).
    static constexpr double verifiedTolerance = 0.015;
};

/// The value written at `step` (1...`stepCount`) of a smoothstep move from `from` to `to`. The
/// last step is `to` itself: `from + (to - from) * 1` can miss it by a rounding error.
[[nodiscard]] double easedValue(double from, double to, int step, int stepCount);

/// Runs the applies of display controls, which interleave only where they wait on the backend or
/// on a pause. Every apply and every cancel raises its control's revision, so an older apply of
/// the same control stops at its next check even while its task is still running.
///
/// Applies refer to the driver and to their backend by reference: both must outlive every apply
/// task. Display modes (HDR and refresh rate) never go through here.
class ControlDriver final {
public:
    /// With a key, supersedes that control's running apply; without one, the running applies of
    /// every control applied or cancelled before. Keys never seen stay unknown.
    void cancel(const std::optional<ControlKey>& key);

    /// Reads the control, writes `value` unless the control already holds it (within 1e-6 for
    /// percentages), waits 100 ms and reads it back. With `smooth`, brightness moving from one
    /// percentage to another eases there in twelve writes 45 ms apart.
    ///
    /// Throws ConfigurationError::Invalid, before touching the backend, when `value` is not
    /// valid for the key's setting or the setting is a display mode; CancellationError when the
    /// task is cancelled or a newer apply or cancel of the same control arrives (writes already
    /// issued stay issued); and the backend's errors unchanged.
    [[nodiscard]] Task<ControlApplyReport> apply(
        SettingValue value, ControlKey key, bool smooth, ControlBackend& backend);

private:
    /// Unsigned: wraps around instead of overflowing.
    using Revision = std::uint64_t;

    Revision nextRevision(const ControlKey& key);
    /// Throws CancellationError when the task is cancelled or `revision` is no longer the key's.
    void checkStillCurrent(const ControlKey& key, Revision revision) const;
    Task<void> ease(
        double from, double to, ControlKey key, Revision revision, ControlBackend& backend);

    /// Entries are never removed; a missing one counts as 0.
    std::unordered_map<ControlKey, Revision> m_revisions;
};

} // namespace quorvane
