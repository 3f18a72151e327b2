// MacControlBackend.h: the platform layer's single hardware service for all displays: discovery,
// reads and writes of every control, display-mode changes with their recovery, the guard through
// which every hardware access finds its display, and the mode questions these share.
#pragma once

#include "Concurrency/AsyncMutex.h"
#include "Concurrency/Task.h"
#include "Foundation/UUID.h"
#include "MacPlatform/CoreGraphics.h"
#include "QuorvaneCore/ControlDriver.h"
#include "QuorvaneCore/DisplayResolution.h"
#include "QuorvaneCore/SettingValue.h"
#include "QuorvaneMac/DisplayInventory.h"
#include "QuorvaneMac/ExternalControls.h"
#include "QuorvaneMac/NativeBrightness.h"
#include "QuorvaneMac/SoftwareColorState.h"

#include <chrono>
#include <cstdint>
#include <exception>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <type_traits>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace quorvane {

class DDCConnectionProvider;
class DDCTransport;
struct HardwareSnapshot; // QuorvaneMac/HardwareSnapshot.h; include it to use discover()
struct Platform;

/// A mode's resolution as CoreGraphics reports its sizes.
[[nodiscard]] DisplayResolution resolutionOf(const GraphicsDisplayMode& mode);

/// An isolated service: every operation holds the backend's gate and lets it go only while it
/// waits on native brightness, 2 s after an HDR write, 0.5 s after a mode switch and while the
/// display inventory is taken; DDC/CI pauses keep it. So operations interleave only at those
/// waits, and each step after one looks its display up again. Lives as long as the application
/// model; nothing of it is persisted.
class MacControlBackend final : public ControlBackend {
public:
    /// DDC/CI through the IOAVService functions. Never fails: missing private interfaces only
    /// make later operations report unavailability.
    explicit MacControlBackend(Platform& platform);
    /// DDC connections come from `provider` instead.
    MacControlBackend(Platform& platform, std::unique_ptr<DDCConnectionProvider> provider);
    ~MacControlBackend() override;

    // Tasks of the service refer to it.
    MacControlBackend(const MacControlBackend&) = delete;
    MacControlBackend& operator=(const MacControlBackend&) = delete;

    /// What each display can do, with a reason for everything it cannot do, and the values read
    /// on the way; the devices become those the next operations act on. Never fails: a cancelled
    /// task gets the displays finished before it noticed. Identifiers must be unique.
    [[nodiscard]] Task<HardwareSnapshot> discover(std::vector<DisplayDevice> devices);

    /// The device of the last discovery with its current display number, found again by UUID when
    /// the number changed (every cached DDC connection is then forgotten). Throws DisplayError
    /// "Display disconnected" for an identifier discovery did not list or when the display count
    /// cannot be read, and "Display identity changed or disconnected" when no online, active
    /// display has that UUID any more.
    [[nodiscard]] DisplayDevice checkedDevice(const std::string& id);

    /// Brightness natively when discovery found it readable, else over DDC/CI; contrast in
    /// software on a built-in display, over DDC/CI on others; warmth in software; HDR and the
    /// refresh rate as the display shows them. Throws the failing neighbour's error unchanged, or
    /// DisplayError.
    [[nodiscard]] Task<SettingValue> read(ControlKey key) override;
    /// Sets brightness, contrast or warmth by the same routes; gamma changes are read back and
    /// undone when they do not match. Throws ConfigurationError "Invalid setting value" before
    /// any hardware access, and DisplayError "Display mode changes require a verified preview"
    /// for HDR and the refresh rate.
    [[nodiscard]] Task<void> write(SettingValue value, ControlKey key) override;

    /// The display's modes usable for the desktop with a valid resolution, in CoreGraphics'
    /// order, low-resolution duplicates included; empty when none are reported.
    [[nodiscard]] std::vector<GraphicsDisplayMode> availableModes(const DisplayDevice& display);

    /// Adaptive for the display's variable-refresh mode and for one remembered as such under the
    /// same display number, environment and resolution; else the nominal rate, in millihertz
    /// rounded half away from zero. Absent when the rate cannot be told: zero, not finite, or
    /// outside 1 to 1,000,000 mHz once rounded.
    [[nodiscard]] std::optional<RefreshPreference> preference(
        const GraphicsDisplayMode& mode, const DisplayDevice& display);

    /// For a display with a variable-refresh mode, remembers that mode as adaptive under the
    /// display's environment, the resolution of `current` and its display number, replacing an
    /// earlier record. Does nothing for other displays.
    void rememberAdaptiveMode(const DisplayDevice& display, const GraphicsDisplayMode& current);

    /// "display-mode-v2|", the system version, "|" and the display's connection location; for a
    /// display without a DDC identity "unknown:", this backend's session identifier, ":" and its
    /// display number, valid only for this run. Never fails.
    [[nodiscard]] std::string environment(const DisplayDevice& display);

    /// Records the display's mode, HDR state and environment to go back to, and keeps the first
    /// record of each display for the restore at quit. Throws checkedDevice()'s errors, or
    /// DisplayError "No recoverable display mode" for a mirrored display or one without a mode.
    [[nodiscard]] Task<UUID> captureRecovery(std::string displayID);
    /// Forgets a record; an unknown token is ignored. The first record of the display stays.
    [[nodiscard]] Task<void> discardRecovery(UUID token);

    /// Switches HDR first (then waits 2 s), then resolution and refresh rate (then waits 0.5 s),
    /// and returns the mode as read back, complete in every part the display can tell, which
    /// becomes the mode this backend owns on the display. Only our warmth and contrast come back
    /// when HDR did not come on; nothing else is undone on failure: that is the caller's
    /// restore(). Throws DisplayError (or checkedDevice()'s, HDRControl's and the gamma calls'
    /// errors) and CancellationError when the task is cancelled at a wait or by the check after
    /// it; from the inventory on, the read-back is reported whatever the cancellation.
    [[nodiscard]] Task<ModeConfiguration> applyMode(ModeConfiguration mode, std::string displayID,
        std::optional<std::string> expectedEnvironment,
        std::optional<DisplayResolution> expectedResolution);
    /// Puts the recorded mode back and forgets the token; an unknown token returns at once. While
    /// a switch of ours may still land on the display, the mode is asked for again even when it
    /// shows, and a late switch of ours on screen is given a few pauses to pass. On failure the
    /// error is passed on and the record stays.
    [[nodiscard]] Task<void> restore(UUID token);
    /// At quit: restores pending records, puts back the first mode of every display that still
    /// shows the mode this backend set last or one of ours that may have landed late, and the
    /// baseline gamma tables where ours are still on. Never fails: returns the failure texts. A
    /// cancelled task stops it with CancellationError.
    [[nodiscard]] Task<std::vector<std::string>> restoreSession();

private:
    /// Lets tests set the devices that discovery sets.
    friend struct MacControlBackendTestAccess;

    /// A mode once seen as the display's variable-refresh mode, and under what conditions.
    struct AdaptiveModeRecord {
        std::string environment;
        DisplayResolution resolution;
        DisplayNumber runtimeID;
    };

    /// The mode switches asked for on one display that may not have taken effect yet. The window
    /// server carries out a display's switches in order, however late, so the last one decides
    /// where the display ends.
    struct SwitchesInFlight {
        /// IO display mode identifiers.
        std::set<std::int32_t> modeIDs;
        std::int32_t last = 0;
        /// The display showed another mode when the last was asked for: seeing that one on screen
        /// shows that all of them took effect.
        bool leftAnotherMode = false;
    };

    /// One display's mode before a change, to go back to.
    struct Recovery {
        std::string displayID;
        GraphicsDisplayMode mode;
        std::optional<bool> hdr;
        std::optional<RefreshPreference> refreshRate;
        std::string environment;
    };

    using GateLock = std::optional<AsyncMutex::ScopedLock>;

    /// Lets the gate go while `task` runs, then takes it again.
    template <typename T> Task<T> outsideGate(GateLock& lock, Task<T> task);
    /// Lets the gate go for a cancellable pause, then takes it again.
    Task<void> pauseOutsideGate(GateLock& lock, std::chrono::nanoseconds duration);
    /// Takes the gate again even when the task was cancelled meanwhile: a platform call made
    /// before is reported with its outcome, not as cancelled.
    Task<void> retakeGate(GateLock& lock);

    Task<SettingValue> readBrightness(const DisplayDevice& display, GateLock& lock);
    Task<void> writeBrightness(double value, const DisplayDevice& display, GateLock& lock);
    SettingValue readRefreshRate(const DisplayDevice& display);

    /// The display's colour state, the tables on it becoming the new baseline when they are not
    /// what this backend last left there. Throws DisplayError.
    SoftwareColorState readColorState(const DisplayDevice& display);
    void setSoftwareContrast(double contrast, const DisplayDevice& display);
    /// Writes the state's tables and reads them back; on a mismatch the previous tables go back
    /// and DisplayError "Color transform readback failed" is thrown.
    void applyColorState(const SoftwareColorState& state, const DisplayDevice& display);

    struct DisplayFindings;
    Task<void> discoverDisplay(
        const DisplayDevice& display, DisplayFindings& findings, GateLock& lock);
    void discoverContrast(const DisplayDevice& display, DisplayFindings& findings);
    /// The HDR state the current mode is recorded with.
    std::optional<bool> discoverHDR(const DisplayDevice& display, DisplayFindings& findings);
    void discoverModes(
        const DisplayDevice& display, std::optional<bool> hdr, DisplayFindings& findings);
    void discoverWarmth(const DisplayDevice& display, DisplayFindings& findings);
    void pruneForDiscovery(const std::vector<DisplayDevice>& devices);

    /// Absent for the built-in display.
    std::optional<bool> readHDR(const DisplayDevice& display);
    /// Puts the baseline tables back where ours are applied and forgets our state, which is
    /// returned; absent when none of ours was applied.
    std::optional<SoftwareColorState> dropSoftwareColor(
        const std::string& displayID, const DisplayDevice& display);
    /// Applies `previous` again after an HDR change that did not happen, unless a newer colour
    /// write or another program changed the tables since it was dropped. Never fails.
    void reinstateSoftwareColor(const SoftwareColorState& previous, const DisplayDevice& display);
    Task<void> applyHDR(
        bool enabled, const std::string& displayID, DisplayDevice& display, GateLock& lock);
    /// Switches to the fitting mode unless the display already shows it.
    Task<void> switchToFittingMode(const ModeConfiguration& mode, const DisplayResolution& target,
        const DisplayDevice& display, GateLock& lock);
    Task<void> takeFreshInventory(const std::string& displayID, GateLock& lock);
    Task<void> learnIfPluggedBackIn(const std::string& displayID, GateLock& lock);
    ModeConfiguration readBackMode(const ModeConfiguration& mode, const DisplayResolution& target,
        const std::string& environment, const std::string& displayID);
    /// Asks for `mode` while `current` shows; it counts as in flight until seen. Throws
    /// DisplayError naming `operation` when the system refuses.
    void requestMode(const DisplayDevice& display, const GraphicsDisplayMode& mode,
        const std::optional<GraphicsDisplayMode>& current, const std::string& operation);
    /// Forgets the display's switches in flight once `shown` proves the last one took effect.
    void noteShownMode(
        const std::string& displayID, const std::optional<GraphicsDisplayMode>& shown);
    [[nodiscard]] bool hasSwitchInFlight(const std::string& displayID) const;
    [[nodiscard]] bool isInFlight(const std::string& displayID, std::int32_t modeID) const;
    /// Pauses, a bounded number of times, while the display shows a switch of ours that landed
    /// late and the recorded mode asked for after it has yet to follow.
    Task<void> waitForLateSwitches(const Recovery& recovery, GateLock& lock);
    Task<void> restoreToken(UUID token, GateLock& lock);
    Task<void> restoreRecovery(Recovery recovery, GateLock& lock);
    Task<void> restoreFirstModeIfStillOurs(const std::string& displayID, GateLock& lock);
    void restoreBaselineGammaIfStillOurs(const std::string& displayID);

    /// Whether `number` is online and active and has the UUID `id` (lower case).
    [[nodiscard]] bool namesDisplay(DisplayNumber number, const std::string& id) const;
    /// The first online display number with that UUID; throws as checkedDevice() does.
    [[nodiscard]] DisplayNumber findDisplayNumber(const std::string& id) const;
    [[nodiscard]] bool isRememberedAsAdaptive(
        const GraphicsDisplayMode& mode, const DisplayDevice& display);
    /// The display's connection location, or the fallback for this run.
    [[nodiscard]] std::string connectionPart(const DisplayDevice& display);

    Platform& m_platform;
    AsyncMutex m_gate;
    NativeBrightness m_native;
    /// The transport's provider; the transport owns it.
    DDCConnectionProvider& m_connectionProvider;
    std::unique_ptr<DDCTransport> m_ddc;
    HDRControl m_hdr;
    std::unordered_map<std::string, DisplayDevice> m_devices;
    /// Displays whose brightness answered natively at the last discovery.
    std::unordered_set<std::string> m_nativeBrightness;
    const std::string m_sessionID = UUID::random().uuidString();
    std::map<std::string, SoftwareColorState> m_gamma;
    /// Counts discoveries, so that a mode change can tell one ran while it was away.
    std::uint64_t m_discoveries = 0;
    std::map<UUID, Recovery> m_recoveries;
    std::map<std::string, Recovery> m_originalModes;
    std::map<std::string, ModeConfiguration> m_ownedModes;
    /// By display identifier.
    std::map<std::string, SwitchesInFlight> m_switchesInFlight;
    /// By display identifier, then IO display mode identifier.
    std::unordered_map<std::string, std::unordered_map<std::int32_t, AdaptiveModeRecord>>
        m_adaptiveModes;
};

template <typename T> Task<T> MacControlBackend::outsideGate(GateLock& lock, Task<T> task)
{
    lock.reset();
    std::optional<std::conditional_t<std::is_void_v<T>, bool, T>> result;
    std::exception_ptr failure;
    try {
        if constexpr (std::is_void_v<T>) {
            co_await std::move(task);
            result = true;
        } else {
            result = co_await std::move(task);
        }
    } catch (...) {
        // Taken again below, so that the caller's next steps hold the gate in either case.
        failure = std::current_exception();
    }
    lock.emplace(co_await m_gate.lock());
    if (failure)
        std::rethrow_exception(failure);
    if constexpr (!std::is_void_v<T>)
        co_return std::move(*result);
}

} // namespace quorvane
