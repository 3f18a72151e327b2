// The demo's control backend: whatever was last written, read back at once.
#pragma once

#include "QuorvaneCore/ControlDriver.h"

#include <map>

namespace quorvane {

/// Never suspends: a write is visible to the next read, so the engine's read-back always
/// confirms.
class SimulatedControls final : public ControlBackend {
public:
    /// Replaces every stored value.
    void seed(std::map<ControlKey, SettingValue> values);
    [[nodiscard]] const std::map<ControlKey, SettingValue>& values() const { return m_values; }

    /// The stored value; throws DisplayError "Simulated control unavailable" when there is none.
    [[nodiscard]] Task<SettingValue> read(ControlKey key) override;
    /// Stores the value as it is: no validation, no delay, no failure.
    [[nodiscard]] Task<void> write(SettingValue value, ControlKey key) override;

private:
    std::map<ControlKey, SettingValue> m_values;
};

} // namespace quorvane
