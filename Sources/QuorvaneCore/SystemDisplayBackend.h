// Where the macOS display preferences are read and written: the platform layer implements it,
// and so does the demo mode over simulated state.
#pragma once

#include "Concurrency/Task.h"
#include "QuorvaneCore/ProfileDisplayPreferences.h"

namespace quorvane {

/// An isolated service: one of its operations runs at a time, and the caller awaits each.
class SystemDisplayBackend {
public:
    virtual ~SystemDisplayBackend() = default;

    /// The state of every display preference present on this Mac. Never fails.
    [[nodiscard]] virtual Task<SystemDisplaySnapshot> snapshot() = 0;

    /// Sets `control` to `value`. Throws an Error whose text the caller shows for that control.
    [[nodiscard]] virtual Task<void> write(bool value, SystemDisplayControl control) = 0;
};

} // namespace quorvane
