// The discovery pass of MacControlBackend: what each display can do, with a reason for what it
// cannot, and the values read on the way.
#include "QuorvaneMac/MacControlBackend.h"

#include "Concurrency/Cancellation.h"
#include "MacPlatform/Platform.h"
#include "QuorvaneMac/DDCServiceDiscovery.h"
#include "QuorvaneMac/DDCTransport.h"
#include "QuorvaneMac/HardwareSnapshot.h"

#include <algorithm>

namespace quorvane {
namespace {

ControlCapability available(std::string reason, std::vector<SettingValue> choices = {})
{
    return ControlCapability{
        .available = true, .reason = std::move(reason), .choices = std::move(choices)};
}

ControlCapability unavailable(std::string reason)
{
    return ControlCapability{.available = false, .reason = std::move(reason), .choices = {}};
}

BuiltInDisplay nativeDisplay(const DisplayDevice& display)
{
    return BuiltInDisplay{.id = display.runtimeID, .uuid = display.id};
}

ControlKey keyOf(const DisplayDevice& display, SettingKey setting)
{
    return ControlKey{.target = ControlTarget::display(display.id), .setting = setting};
}

/// Distinct rates in label order, compared as plain text: "120 Hz" before "60 Hz", the adaptive
/// label after both.
std::vector<SettingValue> refreshChoices(std::vector<RefreshPreference> rates)
{
    std::vector<RefreshPreference> distinct;
    for (RefreshPreference& rate : rates)
        if (std::ranges::find(distinct, rate) == distinct.end())
            distinct.push_back(std::move(rate));
    std::ranges::stable_sort(distinct, {}, &RefreshPreference::label);
    std::vector<SettingValue> choices;
    for (const RefreshPreference& rate : distinct)
        choices.push_back(SettingValue::refresh(rate));
    return choices;
}

} // namespace

/// One display's part of the snapshot, merged once the display is finished, so that a
/// cancellation leaves no half-discovered display behind.
struct MacControlBackend::DisplayFindings {
    const DisplayDevice& display;
    HardwareSnapshot& snapshot;

    void capability(SettingKey setting, ControlCapability capability)
    {
        snapshot.capabilities.insert_or_assign(keyOf(display, setting), std::move(capability));
    }
    void observed(SettingKey setting, SettingValue value)
    {
        snapshot.observed.insert_or_assign(keyOf(display, setting), std::move(value));
    }
};

Task<HardwareSnapshot> MacControlBackend::discover(std::vector<DisplayDevice> devices)
{
    GateLock lock(co_await m_gate.lock());
    pruneForDiscovery(devices);
    HardwareSnapshot snapshot;
    for (const DisplayDevice& display : devices) {
        HardwareSnapshot partial;
        DisplayFindings findings{.display = display, .snapshot = partial};
        try {
            checkCancellation();
            co_await discoverDisplay(display, findings, lock);
        } catch (const CancellationError&) {
            co_return snapshot;
        }
        snapshot.capabilities.merge(partial.capabilities);
        snapshot.observed.merge(partial.observed);
        snapshot.environments.merge(partial.environments);
        snapshot.currentModes.merge(partial.currentModes);
        snapshot.modeChoices.merge(partial.modeChoices);
        snapshot.resolutionUnavailable.merge(partial.resolutionUnavailable);
    }
    co_return snapshot;
}

void MacControlBackend::pruneForDiscovery(const std::vector<DisplayDevice>& devices)
{
    // Only records seen under a number the display still has can still describe it.
    for (auto entry = m_adaptiveModes.begin(); entry != m_adaptiveModes.end();) {
        const auto device = std::ranges::find(devices, entry->first, &DisplayDevice::id);
        if (device != devices.end())
            std::erase_if(entry->second,
                [&](const auto& mode) { return mode.second.runtimeID != device->runtimeID; });
        if (device == devices.end() || entry->second.empty())
            entry = m_adaptiveModes.erase(entry);
        else
            ++entry;
    }
    m_ddc->forgetConnections();
    ++m_discoveries;
    m_devices.clear();
    for (const DisplayDevice& device : devices)
        m_devices.insert_or_assign(device.id, device);
    std::erase_if(
        m_nativeBrightness, [&](const std::string& id) { return !m_devices.contains(id); });
    // The colour states stay until quit, whatever this list says: a display missing from it
    // for a moment (a failed call, a renumbering, sleep) still carries our tables, and only its
    // record knows the tables to put back.
}

Task<void> MacControlBackend::discoverDisplay(
    const DisplayDevice& display, DisplayFindings& findings, GateLock& lock)
{
    for (const SettingKey setting : allSettingKeys)
        findings.capability(setting, unavailable("Not supported on this screen"));

    bool isNative = false;
    try {
        const double brightness = co_await outsideGate(lock, m_native.read(nativeDisplay(display)));
        isNative = true;
        findings.observed(SettingKey::brightness, SettingValue::percent(brightness));
        findings.capability(SettingKey::brightness, available("Native display brightness"));
    } catch (const CancellationError&) {
        throw;
    } catch (const Error&) {
        // A built-in panel has no other way; an external one may still answer over DDC/CI.
    }
    if (isNative)
        m_nativeBrightness.insert(display.id);
    else
        m_nativeBrightness.erase(display.id);
    if (!isNative && !display.isBuiltIn) {
        try {
            const DDCFeatureValue brightness
                = co_await m_ddc->read(SettingKey::brightness, display);
            findings.observed(SettingKey::brightness, SettingValue::percent(brightness.fraction));
            findings.capability(
                SettingKey::brightness, available("DDC · read detected; verify with this monitor"));
        } catch (const CancellationError&) {
            throw;
        } catch (const Error& error) {
            findings.capability(SettingKey::brightness, unavailable(error.what()));
        }
    }

    if (display.isBuiltIn) {
        discoverContrast(display, findings);
    } else {
        try {
            const DDCFeatureValue contrast = co_await m_ddc->read(SettingKey::contrast, display);
            findings.observed(SettingKey::contrast, SettingValue::percent(contrast.fraction));
            findings.capability(SettingKey::contrast, available("Hardware contrast · DDC"));
        } catch (const CancellationError&) {
            throw;
        } catch (const Error& error) {
            findings.capability(SettingKey::contrast, unavailable(error.what()));
        }
    }

    const std::optional<bool> hdr = discoverHDR(display, findings);
    discoverModes(display, hdr, findings);
    discoverWarmth(display, findings);
}

void MacControlBackend::discoverContrast(const DisplayDevice& display, DisplayFindings& findings)
{
    if (display.isMirrored) {
        findings.capability(SettingKey::contrast,
            unavailable("Software contrast is unavailable on mirrored displays"));
        return;
    }
    try {
        const SoftwareColorState state = readColorState(display);
        findings.observed(SettingKey::contrast, SettingValue::percent(state.contrast));
        findings.capability(SettingKey::contrast, available("Software contrast · 50% is normal"));
    } catch (const Error& error) {
        findings.capability(SettingKey::contrast, unavailable(error.what()));
    }
}

std::optional<bool> MacControlBackend::discoverHDR(
    const DisplayDevice& display, DisplayFindings& findings)
{
    if (display.isBuiltIn) {
        findings.capability(SettingKey::hdr, unavailable(display.builtInHDRDescription()));
        return std::nullopt;
    }
    const std::optional<bool> hdr = m_hdr.read(display.runtimeID);
    if (hdr && !display.isMirrored) {
        findings.observed(SettingKey::hdr, SettingValue::toggle(*hdr));
        findings.capability(SettingKey::hdr,
            available("External HDR · preview required",
                {SettingValue::toggle(false), SettingValue::toggle(true)}));
    } else {
        findings.capability(
            SettingKey::hdr, unavailable("HDR control unavailable or display mirrored"));
    }
    return hdr;
}

void MacControlBackend::discoverModes(
    const DisplayDevice& display, std::optional<bool> hdr, DisplayFindings& findings)
{
    HardwareSnapshot& snapshot = findings.snapshot;
    const std::optional<GraphicsDisplayMode> current
        = m_platform.graphics.currentMode(display.runtimeID);
    if (!current) {
        snapshot.resolutionUnavailable[display.id] = "Current display resolution is unavailable.";
        return;
    }
    rememberAdaptiveMode(display, *current);
    const std::vector<GraphicsDisplayMode> modes = availableModes(display);
    if (display.isMirrored) {
        snapshot.resolutionUnavailable[display.id]
            = "Resolution changes are unavailable for mirrored displays.";
    } else {
        std::vector<DisplayModeChoice> choices;
        for (const GraphicsDisplayMode& mode : modes) {
            DisplayModeChoice choice{
                .resolution = resolutionOf(mode), .refreshRate = preference(mode, display)};
            if (std::ranges::find(choices, choice) == choices.end())
                choices.push_back(std::move(choice));
        }
        snapshot.modeChoices[display.id] = std::move(choices);
        if (modes.empty())
            snapshot.resolutionUnavailable[display.id]
                = "No supported display resolutions were reported.";
    }

    const DisplayResolution resolution = resolutionOf(*current);
    std::vector<RefreshPreference> rates;
    for (const GraphicsDisplayMode& mode : modes)
        if (resolutionOf(mode) == resolution)
            if (std::optional<RefreshPreference> rate = preference(mode, display))
                rates.push_back(std::move(*rate));
    std::vector<SettingValue> choices = refreshChoices(std::move(rates));
    if (!display.isMirrored && !choices.empty())
        findings.capability(SettingKey::refreshRate,
            available("Supported display modes · preview required", std::move(choices)));

    const std::optional<RefreshPreference> currentRate = preference(*current, display);
    if (currentRate)
        findings.observed(SettingKey::refreshRate, SettingValue::refresh(*currentRate));
    snapshot.currentModes[display.id]
        = ModeConfiguration{.refreshRate = currentRate, .hdr = hdr, .resolution = resolution};
    snapshot.environments[display.id] = environment(display);
}

void MacControlBackend::discoverWarmth(const DisplayDevice& display, DisplayFindings& findings)
{
    try {
        const SoftwareColorState state = readColorState(display);
        findings.observed(SettingKey::temperature, SettingValue::temperature(state.temperature));
        findings.capability(SettingKey::temperature,
            available("Approximate software warmth · gamma-table readback, not HDR color "
                      "calibration"));
    } catch (const Error& error) {
        findings.capability(SettingKey::temperature, unavailable(error.what()));
    }
}

} // namespace quorvane
