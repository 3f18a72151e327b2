// ExternalControls.h: the HDR switch of external displays, through the private MonitorPanel
// display manager loaded at run time; without it HDR is simply not controllable.
#pragma once

#include "MacPlatform/CoreGraphics.h"
#include "MacPlatform/ObjectRuntime.h"

#include <optional>

namespace quorvane {

struct Platform;

/// Reached only from inside MacControlBackend, so calls never overlap. Keeps no state but the
/// display manager it created.
class HDRControl final {
public:
    /// Opens MonitorPanel and creates its display manager. Never fails: anything missing makes
    /// every read absent and every write fail.
    explicit HDRControl(Platform& platform);
    ~HDRControl();

    // Owns the manager instance it releases.
    HDRControl(const HDRControl&) = delete;
    HDRControl& operator=(const HDRControl&) = delete;

    /// The display's HDR preference; absent for the built-in display, a display without HDR
    /// modes, and whenever the manager cannot answer.
    [[nodiscard]] std::optional<bool> read(DisplayNumber displayID);

    /// Sets the HDR preference while holding the manager's access lock, taken without waiting.
    /// Not read back here. Throws DisplayError "HDR control is unavailable or busy." when the
    /// display cannot be controlled or another client holds the lock; nothing is changed then.
    void write(bool enabled, DisplayNumber displayID);

private:
    /// The manager's first display object that answers `displayID`; absent when none does.
    [[nodiscard]] std::optional<ObjectInstance> display(DisplayNumber displayID);

    Platform& m_platform;
    std::optional<ObjectInstance> m_manager;
};

} // namespace quorvane
