// ConnectedDisplayBackend.h: one natively dimmed display (normally the built-in panel) as a
// BrightnessBackend, so a BrightnessDriver can ramp it.
#pragma once

#include "QuorvaneCore/BrightnessDriver.h"
#include "QuorvaneMac/NativeBrightness.h"

namespace quorvane {

/// Both operations await the native service and pass its DisplayError on unchanged.
class ConnectedDisplayBackend final : public BrightnessBackend {
public:
    /// `native` is shared, not copied, and must outlive the backend.
    ConnectedDisplayBackend(NativeBrightness& native, BuiltInDisplay display)
        : m_native(native)
        , m_display(std::move(display))
    {
    }

    [[nodiscard]] Task<double> read() override;
    [[nodiscard]] Task<void> write(double value) override;

private:
    NativeBrightness& m_native;
    BuiltInDisplay m_display;
};

} // namespace quorvane
