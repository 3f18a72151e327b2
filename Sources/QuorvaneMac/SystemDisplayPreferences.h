// SystemDisplayPreferences.h: True Tone, Night Shift, Dark Mode and automatic brightness read and
// set through the private frameworks that alone offer them.
#pragma once

#include "MacPlatform/CoreGraphics.h"
#include "MacPlatform/ObjectRuntime.h"
#include "QuorvaneCore/SystemDisplayBackend.h"

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace quorvane {

struct Platform;

/// An isolated service whose interfaces are looked up once, at construction; any of them may be
/// missing, which makes its controls unavailable with a reason, never fails. Private methods are
/// called only after their type encodings were checked. No operation waits, so each runs from
/// start to end before the next. Every error it throws, cancellation aside, is a DisplayError.
class SystemDisplayPreferences final : public SystemDisplayBackend {
public:
    explicit SystemDisplayPreferences(Platform& platform);
    /// Releases the two CoreBrightness clients.
    ~SystemDisplayPreferences() override;

    // Owns runtime instances that it releases once.
    SystemDisplayPreferences(const SystemDisplayPreferences&) = delete;
    SystemDisplayPreferences& operator=(const SystemDisplayPreferences&) = delete;

    /// Lists each control present in exactly one of the snapshot's maps; automatic brightness
    /// once per online, active display whose UUID no other display shares.
    [[nodiscard]] Task<SystemDisplaySnapshot> snapshot() override;
    /// Sets one control without reading it back. Throws CancellationError from a cancelled task
    /// before touching anything.
    [[nodiscard]] Task<void> write(bool value, SystemDisplayControl control) override;

private:
    enum class StatusLayout { shortLayout, longLayout };

    [[nodiscard]] bool readTrueTone();
    [[nodiscard]] bool readNightShift();
    [[nodiscard]] bool readAutomaticBrightness(DisplayNumber display);
    [[nodiscard]] bool hasAppearance() const { return m_getAppearance && m_setAppearance; }
    /// Display identifier (lower-case UUID text) to display number.
    [[nodiscard]] std::map<std::string, DisplayNumber> displays();
    [[nodiscard]] std::optional<bool> boolMethod(std::string_view selector, ObjectInstance object);
    void setEnabled(bool value, ObjectInstance object, std::string_view title);
    void writeAutomaticBrightness(bool value, const std::string& displayID);

    Platform& m_platform;
    std::optional<std::function<bool(DisplayNumber)>> m_hasAmbient;
    std::optional<std::function<std::int32_t(DisplayNumber, bool*)>> m_readAmbient;
    std::optional<std::function<std::int32_t(DisplayNumber, bool)>> m_writeAmbient;
    std::optional<ObjectInstance> m_trueTone;
    std::optional<ObjectInstance> m_nightShift;
    std::optional<std::function<bool()>> m_getAppearance;
    std::optional<std::function<void(bool)>> m_setAppearance;
};

} // namespace quorvane
