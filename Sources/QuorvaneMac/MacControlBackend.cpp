#include "QuorvaneMac/MacControlBackend.h"

#include "Concurrency/Sleep.h"
#include "Concurrency/Spawn.h"
#include "Foundation/Format.h"
#include "Foundation/Text.h"
#include "MacPlatform/Platform.h"
#include "MacPlatform/ProcessInfo.h"
#include "QuorvaneCore/ConfigurationError.h"
#include "QuorvaneMac/DDCServiceDiscovery.h"
#include "QuorvaneMac/DDCTransport.h"
#include "QuorvaneMac/DisplayError.h"

#include <algorithm>
#include <cmath>

namespace quorvane {
namespace {

constexpr double minimumMillihertz = 1;
constexpr double maximumMillihertz = 1'000'000;

/// The connection location a provider reports when it cannot tell one.
constexpr std::string_view unknownLocation = "unknown-transport";

const char* const mirroredContrast = "Software contrast is unavailable on mirrored displays";
const char* const mirroredWarmth = "Warmth is unavailable on mirrored displays";

BuiltInDisplay nativeDisplay(const DisplayDevice& display)
{
    return BuiltInDisplay{.id = display.runtimeID, .uuid = display.id};
}

Task<void> takeGate(AsyncMutex& gate, std::shared_ptr<std::optional<AsyncMutex::ScopedLock>> slot)
{
    slot->emplace(co_await gate.lock());
}

double percentOf(const SettingValue& value)
{
    return std::get<SettingValue::Percent>(value.value).value;
}

SoftwareColorState neutralState(GammaTableSet tables)
{
    return SoftwareColorState{.baseline = std::move(tables),
        .applied = std::nullopt,
        .temperature = Temperature::neutral(),
        .contrast = 0.5};
}

} // namespace

DisplayResolution resolutionOf(const GraphicsDisplayMode& mode)
{
    return DisplayResolution{.width = mode.width,
        .height = mode.height,
        .pixelWidth = mode.pixelWidth,
        .pixelHeight = mode.pixelHeight};
}

MacControlBackend::MacControlBackend(Platform& platform)
    : MacControlBackend(platform, std::make_unique<IOAVDDC>(platform))
{
}

MacControlBackend::MacControlBackend(
    Platform& platform, std::unique_ptr<DDCConnectionProvider> provider)
    : m_platform(platform)
    , m_native(platform)
    , m_connectionProvider(*provider)
    , m_ddc(std::make_unique<DDCTransport>(std::move(provider)))
    , m_hdr(platform)
{
}

MacControlBackend::~MacControlBackend() = default;

Task<SettingValue> MacControlBackend::read(ControlKey key)
{
    GateLock lock(co_await m_gate.lock());
    const DisplayDevice display = checkedDevice(key.target.id());
    switch (key.setting) {
    case SettingKey::brightness:
        co_return co_await readBrightness(display, lock);
    case SettingKey::hdr:
        if (const std::optional<bool> isOn = m_hdr.read(display.runtimeID))
            co_return SettingValue::toggle(*isOn);
        throw DisplayError::unavailable("HDR unavailable");
    case SettingKey::temperature:
        co_return SettingValue::temperature(readColorState(display).temperature);
    case SettingKey::refreshRate:
        co_return readRefreshRate(display);
    case SettingKey::contrast:
        if (!display.isBuiltIn)
            co_return SettingValue::percent(
                (co_await m_ddc->read(SettingKey::contrast, display)).fraction);
        if (display.isMirrored)
            throw DisplayError::unavailable(mirroredContrast);
        co_return SettingValue::percent(readColorState(display).contrast);
    }
    throw DisplayError::unavailable("Control unavailable");
}

Task<void> MacControlBackend::write(SettingValue value, ControlKey key)
{
    if (!value.isValid(key.setting))
        throw ConfigurationError(ConfigurationError::Invalid{"Invalid setting value"});
    GateLock lock(co_await m_gate.lock());
    const DisplayDevice display = checkedDevice(key.target.id());
    switch (key.setting) {
    case SettingKey::brightness:
        co_await writeBrightness(percentOf(value), display, lock);
        co_return;
    case SettingKey::contrast:
        if (display.isBuiltIn) {
            setSoftwareContrast(percentOf(value), display);
            co_return;
        }
        co_await m_ddc->write(percentOf(value), SettingKey::contrast, display);
        co_return;
    case SettingKey::temperature: {
        SoftwareColorState state = readColorState(display);
        state.temperature = std::get<SettingValue::TemperatureCase>(value.value).value;
        applyColorState(state, display);
        co_return;
    }
    case SettingKey::hdr:
    case SettingKey::refreshRate:
        break;
    }
    throw DisplayError::unavailable("Display mode changes require a verified preview");
}

// A native call is the operation's last step: the gate is not taken again after it, so that a
// cancellation arriving meanwhile cannot hide the outcome of a call that happened.
Task<SettingValue> MacControlBackend::readBrightness(const DisplayDevice& display, GateLock& lock)
{
    if (m_nativeBrightness.contains(display.id)) {
        lock.reset();
        co_return SettingValue::percent(co_await m_native.read(nativeDisplay(display)));
    }
    co_return SettingValue::percent(
        (co_await m_ddc->read(SettingKey::brightness, display)).fraction);
}

Task<void> MacControlBackend::writeBrightness(
    double value, const DisplayDevice& display, GateLock& lock)
{
    if (m_nativeBrightness.contains(display.id)) {
        lock.reset();
        co_await m_native.write(value, nativeDisplay(display));
        co_return;
    }
    co_await m_ddc->write(value, SettingKey::brightness, display);
}

SettingValue MacControlBackend::readRefreshRate(const DisplayDevice& display)
{
    if (const std::optional<GraphicsDisplayMode> mode
        = m_platform.graphics.currentMode(display.runtimeID)) {
        if (const std::optional<RefreshPreference> refresh = preference(*mode, display))
            return SettingValue::refresh(*refresh);
    }
    throw DisplayError::unavailable("Refresh mode is not identifiable");
}

SoftwareColorState MacControlBackend::readColorState(const DisplayDevice& display)
{
    if (display.isBuiltIn && display.isMirrored)
        throw DisplayError::unavailable(mirroredWarmth);
    if (!display.isBuiltIn) {
        const std::optional<bool> hdr = m_hdr.read(display.runtimeID);
        if (display.isMirrored)
            throw DisplayError::unavailable(mirroredWarmth);
        // Gamma tables do not describe what an HDR or extended-range panel shows.
        if (display.hasExtendedRange || hdr == true)
            throw DisplayError::unavailable(
                "Warmth is unverified on external HDR or extended-range displays");
    }
    GammaTableSet tables = readGamma(m_platform.graphics, display.runtimeID);
    const auto stored = m_gamma.find(display.id);
    if (stored == m_gamma.end()
        || !SoftwareColorState::tablesEqual(
            tables, stored->second.applied.value_or(stored->second.baseline))) {
        // Never seen, or another program changed the tables: what is on the display now is the
        // baseline.
        return m_gamma.insert_or_assign(display.id, neutralState(std::move(tables))).first->second;
    }
    return stored->second;
}

void MacControlBackend::setSoftwareContrast(double contrast, const DisplayDevice& display)
{
    if (display.isMirrored)
        throw DisplayError::unavailable(mirroredContrast);
    SoftwareColorState state = readColorState(display);
    state.contrast = contrast;
    applyColorState(state, display);
}

void MacControlBackend::applyColorState(
    const SoftwareColorState& state, const DisplayDevice& display)
{
    const GammaTableSet tables = state.transformed();
    writeGamma(m_platform.graphics, tables, display.runtimeID);
    const auto putPreviousBack = [&] {
        try {
            writeGamma(
                m_platform.graphics, state.applied.value_or(state.baseline), display.runtimeID);
        } catch (const DisplayError&) {
            // The failure being reported is the one that matters to the user.
        }
    };
    GammaTableSet readback;
    try {
        readback = readGamma(m_platform.graphics, display.runtimeID);
    } catch (const DisplayError&) {
        putPreviousBack();
        throw;
    }
    if (!SoftwareColorState::tablesEqual(readback, tables)) {
        putPreviousBack();
        throw DisplayError::unavailable("Color transform readback failed");
    }
    m_gamma.insert_or_assign(display.id,
        SoftwareColorState{.baseline = state.baseline,
            .applied = tables,
            .temperature = state.temperature,
            .contrast = state.contrast});
}

Task<void> MacControlBackend::pauseOutsideGate(GateLock& lock, std::chrono::nanoseconds duration)
{
    lock.reset();
    co_await sleep(duration);
    co_await retakeGate(lock);
}

Task<void> MacControlBackend::retakeGate(GateLock& lock)
{
    // A task of its own waits for the gate: the caller's cancellation does not reach it.
    auto slot = std::make_shared<GateLock>();
    co_await spawn(takeGate(m_gate, slot));
    lock = std::move(*slot);
}

DisplayDevice MacControlBackend::checkedDevice(const std::string& id)
{
    const auto found = m_devices.find(id);
    if (found == m_devices.end())
        throw DisplayError::unavailable("Display disconnected");
    DisplayDevice& device = found->second;
    if (namesDisplay(device.runtimeID, id))
        return device;
    device.runtimeID = findDisplayNumber(id);
    // A cached channel belongs to the old number's connection.
    m_ddc->forgetConnections();
    return device;
}

std::vector<GraphicsDisplayMode> MacControlBackend::availableModes(const DisplayDevice& display)
{
    std::optional<std::vector<GraphicsDisplayMode>> modes
        = m_platform.graphics.allModes(display.runtimeID, true);
    if (!modes)
        return {};
    std::erase_if(*modes, [](const GraphicsDisplayMode& mode) {
        return !mode.isUsableForDesktopGUI || !resolutionOf(mode).isValid();
    });
    return std::move(*modes);
}

std::optional<RefreshPreference> MacControlBackend::preference(
    const GraphicsDisplayMode& mode, const DisplayDevice& display)
{
    if (display.adaptiveModeID == mode.ioDisplayModeID || isRememberedAsAdaptive(mode, display))
        return RefreshPreference::adaptive();
    // Anything else would not convert to a whole number of millihertz safely.
    if (!std::isfinite(mode.refreshRate) || mode.refreshRate <= 0)
        return std::nullopt;
    const double millihertz = std::round(mode.refreshRate * 1000);
    if (millihertz < minimumMillihertz || millihertz > maximumMillihertz)
        return std::nullopt;
    return RefreshPreference::fixed(static_cast<std::int64_t>(millihertz));
}

void MacControlBackend::rememberAdaptiveMode(
    const DisplayDevice& display, const GraphicsDisplayMode& current)
{
    if (!display.adaptiveModeID)
        return;
    m_adaptiveModes[display.id].insert_or_assign(*display.adaptiveModeID,
        AdaptiveModeRecord{.environment = environment(display),
            .resolution = resolutionOf(current),
            .runtimeID = display.runtimeID});
}

std::string MacControlBackend::environment(const DisplayDevice& display)
{
    return "display-mode-v2|" + m_platform.process.operatingSystemVersionString() + "|"
        + connectionPart(display);
}

bool MacControlBackend::namesDisplay(DisplayNumber number, const std::string& id) const
{
    CoreGraphics& graphics = m_platform.graphics;
    if (!graphics.isOnline(number) || !graphics.isActive(number))
        return false;
    const std::optional<std::string> uuid = graphics.uuidText(number);
    return uuid && asciiLowercased(*uuid) == id;
}

DisplayNumber MacControlBackend::findDisplayNumber(const std::string& id) const
{
    CoreGraphics& graphics = m_platform.graphics;
    std::uint32_t count = 0;
    if (graphics.onlineDisplayList(0, nullptr, &count) != 0)
        throw DisplayError::unavailable("Display disconnected");
    std::vector<DisplayNumber> displays(count, 0);
    std::uint32_t filled = 0;
    if (count > 0 && graphics.onlineDisplayList(count, displays.data(), &filled) != 0)
        throw DisplayError::unavailable("Display identity changed or disconnected");
    displays.resize(std::min(filled, count));
    const auto found = std::ranges::find_if(
        displays, [&](DisplayNumber number) { return namesDisplay(number, id); });
    if (found == displays.end())
        throw DisplayError::unavailable("Display identity changed or disconnected");
    return *found;
}

bool MacControlBackend::isRememberedAsAdaptive(
    const GraphicsDisplayMode& mode, const DisplayDevice& display)
{
    const auto remembered = m_adaptiveModes.find(display.id);
    if (remembered == m_adaptiveModes.end())
        return false;
    const auto record = remembered->second.find(mode.ioDisplayModeID);
    if (record == remembered->second.end())
        return false;
    return record->second.runtimeID == display.runtimeID
        && record->second.resolution == resolutionOf(mode)
        && record->second.environment == environment(display);
}

std::string MacControlBackend::connectionPart(const DisplayDevice& display)
{
    try {
        std::string location = m_connectionProvider.identity(display).location;
        if (location != unknownLocation)
            return location;
    } catch (const DDCError&) {
        // A display without a DDC identity falls back to this run's key below.
    }
    return "unknown:" + m_sessionID + ":" + formatUnsigned(display.runtimeID);
}

} // namespace quorvane
