// NativeBrightness.h: the built-in panel's brightness through the private DisplayServices
// framework, loaded at run time; without it native brightness is simply unavailable.
#pragma once

#include "Concurrency/Task.h"
#include "MacPlatform/CoreGraphics.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace quorvane {

struct Platform;

/// The display a native brightness call acts on.
struct BuiltInDisplay {
    DisplayNumber id = 0;
    /// Compared with the platform's UUID text without regard to letter case.
    std::string uuid;
    bool operator==(const BuiltInDisplay&) const = default;
};

/// An isolated service: its fields are set once at construction, and every operation body runs
/// without waiting once it has started.
class NativeBrightness final {
public:
    /// Opens DisplayServices and looks its two brightness functions up. Never fails: a missing
    /// framework or function only makes reads and writes fail later.
    explicit NativeBrightness(Platform& platform);

    // Backends hold it by reference: a copy would be a second service.
    NativeBrightness(const NativeBrightness&) = delete;
    NativeBrightness& operator=(const NativeBrightness&) = delete;

    /// The first online display that is built in and active, with its UUID in the platform's own
    /// letter case; absent when the display list cannot be read, or that display has no UUID.
    [[nodiscard]] std::optional<BuiltInDisplay> builtInDisplay() const;

    /// The brightness as a fraction from 0 to 1. Suspends once, as the hop onto the service
    /// does, so other work may run first; the display is checked after that. Throws DisplayError
    /// when the getter is missing, the display is gone, asleep or renumbered, the call fails or
    /// the value is not within 0...1.
    [[nodiscard]] Task<double> read(BuiltInDisplay display);

    /// Sets the brightness. A value that is not a finite fraction fails with
    /// DisplayError::invalidBrightness before anything else, then as read() does.
    [[nodiscard]] Task<void> write(double value, BuiltInDisplay display);

    /// Both functions were found.
    [[nodiscard]] bool symbolsAvailable() const;

private:
    using Getter = std::int32_t(std::uint32_t, float*);
    using Setter = std::int32_t(std::uint32_t, float);

    /// Throws when `display` no longer names an online, active display with that UUID.
    void checkPresent(const BuiltInDisplay& display) const;

    Platform& m_platform;
    std::optional<std::function<Getter>> m_getBrightness;
    std::optional<std::function<Setter>> m_setBrightness;
};

} // namespace quorvane
