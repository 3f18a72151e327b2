// Drives one brightness, as a plain fraction, to a requested value: the single-value sister of
// ControlDriver, for a backend that knows nothing of control keys.
#pragma once

#include "Concurrency/Task.h"

#include <cstdint>

namespace quorvane {

/// Reads and writes one brightness as a fraction from 0 to 1. The driver passes every error of
/// either operation on unchanged.
class BrightnessBackend {
public:
    virtual ~BrightnessBackend() = default;

    [[nodiscard]] virtual Task<double> read() = 0;
    [[nodiscard]] virtual Task<void> write(double value) = 0;

protected:
    BrightnessBackend() = default;
    BrightnessBackend(const BrightnessBackend&) = default;
    BrightnessBackend& operator=(const BrightnessBackend&) = default;
};

/// The outcome of one apply; equality compares the fractions exactly. An apply never fails for a
/// mismatch: the caller judges it with verified().
struct ApplyReport {
    double requested = 0.0;
    /// The read-back after a write, or the value read first when no write was needed.
    double observed = 0.0;
    bool didWrite = false;

    /// Within 0.015 of each other; false when either is not a number.
    [[nodiscard]] bool verified() const;

    bool operator==(const ApplyReport&) const = default;
};

/// Runs brightness applies. One revision serves the whole driver: any newer apply, whatever its
/// backend, and any cancel() stop every older running apply at its next check.
///
/// Applies refer to the driver and to their backend by reference: both must outlive every apply
/// task.
class BrightnessDriver final {
public:
    /// Supersedes every running apply.
    void cancel() { ++m_revision; }

    /// Reads the brightness, writes `value` unless it is already there (within 1e-6), waits
    /// 100 ms and reads it back. With `smooth` it eases there in twelve writes 45 ms apart.
    ///
    /// Throws ConfigurationError::Invalid, before touching the backend, when `value` is not a
    /// number from 0 to 1; CancellationError when the task is cancelled or a newer apply or a
    /// cancel() arrives (writes already issued stay issued); and the backend's errors unchanged.
    [[nodiscard]] Task<ApplyReport> apply(double value, bool smooth, BrightnessBackend& backend);

private:
    using Revision = std::uint64_t;

    /// Throws CancellationError when the task is cancelled or `revision` is no longer current.
    void checkStillCurrent(Revision revision) const;
    Task<void> writeSteps(
        double from, double to, int stepCount, Revision revision, BrightnessBackend& backend);

    /// Unsigned: wraps around instead of overflowing.
    Revision m_revision = 0;
};

} // namespace quorvane
