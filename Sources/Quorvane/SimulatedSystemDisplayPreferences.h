// The demo's macOS display preferences: a snapshot held in memory.
#pragma once

#include "QuorvaneCore/SystemDisplayBackend.h"

#include <utility>

namespace quorvane {

class SimulatedSystemDisplayPreferences final : public SystemDisplayBackend {
public:
    /// Empty until the demo seeds it. A control is present exactly when `values` holds it;
    /// `unavailable` is only reported.
    SystemDisplaySnapshot state;

    void seed(SystemDisplaySnapshot snapshot) { state = std::move(snapshot); }

    [[nodiscard]] Task<SystemDisplaySnapshot> snapshot() override;
    /// Sets a present control; throws "Control unavailable" for any other.
    [[nodiscard]] Task<void> write(bool value, SystemDisplayControl control) override;
};

} // namespace quorvane
