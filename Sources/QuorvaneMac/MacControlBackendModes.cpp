// Display-mode changes of MacControlBackend: HDR, resolution and refresh rate, each waited for and
// read back; recovery records and their restore, and the restore at quit.
#include "QuorvaneMac/MacControlBackend.h"

#include "Concurrency/Cancellation.h"
#include "Concurrency/Yield.h"
#include "Foundation/Text.h"
#include "MacPlatform/Platform.h"
#include "QuorvaneMac/DisplayError.h"
#include "QuorvaneMac/DisplayInventory.h"

#include <algorithm>
#include <cmath>

namespace quorvane {
namespace {

using namespace std::chrono_literals;

/// How long a display takes to settle after an HDR switch, and after a mode switch.
constexpr auto hdrSettlePause = 2s;
constexpr auto modeSettlePause = 500ms;
/// How many more settle pauses a restore gives an earlier switch of ours that landed late to make
/// way for the recorded mode asked for after it.
constexpr int lateSwitchPauses = 6;

bool offersResolution(
    const std::vector<GraphicsDisplayMode>& modes, const DisplayResolution& target)
{
    return std::ranges::any_of(
        modes, [&](const GraphicsDisplayMode& mode) { return resolutionOf(mode) == target; });
}

/// An adaptive reading also satisfies a fixed request for its nominal rate: the display runs a
/// variable mode whose ceiling is what was asked for.
bool refreshMatches(const RefreshPreference& requested,
    const std::optional<RefreshPreference>& reading, double nominalRate)
{
    if (!reading)
        return false;
    const auto* fixed = std::get_if<RefreshPreference::Fixed>(&requested.value);
    if (!fixed)
        return std::holds_alternative<RefreshPreference::Adaptive>(reading->value);
    if (std::holds_alternative<RefreshPreference::Adaptive>(reading->value))
        return std::round(nominalRate * 1000) == static_cast<double>(fixed->millihertz);
    return *reading == requested;
}

/// The online display with that UUID (lower case), asleep or in another session's hands too:
/// it keeps the tables set on it until it shows again.
std::optional<DisplayNumber> onlineDisplayNamed(CoreGraphics& graphics, const std::string& id)
{
    for (const DisplayNumber number : onlineDisplayNumbers(graphics)) {
        const std::optional<std::string> uuid = graphics.uuidText(number);
        if (uuid && asciiLowercased(*uuid) == id)
            return number;
    }
    return std::nullopt;
}

} // namespace

std::optional<bool> MacControlBackend::readHDR(const DisplayDevice& display)
{
    if (display.isBuiltIn)
        return std::nullopt;
    return m_hdr.read(display.runtimeID);
}

Task<UUID> MacControlBackend::captureRecovery(std::string displayID)
{
    const GateLock lock(co_await m_gate.lock());
    const DisplayDevice display = checkedDevice(displayID);
    const std::optional<GraphicsDisplayMode> current
        = display.isMirrored ? std::nullopt : m_platform.graphics.currentMode(display.runtimeID);
    if (!current)
        throw DisplayError::unavailable("No recoverable display mode");
    Recovery recovery{.displayID = displayID,
        .mode = *current,
        .hdr = readHDR(display),
        .refreshRate = preference(*current, display),
        .environment = environment(display)};
    const UUID token = UUID::random();
    // The mode to go back to at quit is the one from before the first change of the run.
    m_originalModes.try_emplace(displayID, recovery);
    m_recoveries.insert_or_assign(token, std::move(recovery));
    co_return token;
}

Task<void> MacControlBackend::discardRecovery(UUID token)
{
    const GateLock lock(co_await m_gate.lock());
    m_recoveries.erase(token);
}

Task<ModeConfiguration> MacControlBackend::applyMode(ModeConfiguration mode, std::string displayID,
    std::optional<std::string> expectedEnvironment,
    std::optional<DisplayResolution> expectedResolution)
{
    GateLock lock(co_await m_gate.lock());
    DisplayDevice display = checkedDevice(displayID);
    if (display.isMirrored)
        throw DisplayError::unavailable("Mode changes are unavailable for mirrored displays");
    const std::optional<GraphicsDisplayMode> current
        = m_platform.graphics.currentMode(display.runtimeID);
    if (!current)
        throw DisplayError::unavailable("Current display mode unavailable");
    const std::string startEnvironment = environment(display);
    if (expectedEnvironment && *expectedEnvironment != startEnvironment)
        throw DisplayError::unavailable(
            "The display connection changed. Recheck and preview this combination again.");
    if (expectedResolution && *expectedResolution != resolutionOf(*current))
        throw DisplayError::unavailable(
            "The display resolution changed. Recheck and preview this combination again.");
    const DisplayResolution target = mode.resolution.value_or(resolutionOf(*current));
    if (!target.isValid() || !offersResolution(availableModes(display), target))
        throw DisplayError::unavailable("The saved resolution is unavailable on this screen. The "
                                        "current resolution was kept.");

    if (mode.hdr)
        co_await applyHDR(*mode.hdr, displayID, display, lock);
    if (environment(display) != startEnvironment)
        throw DisplayError::unavailable("The display connection changed during the mode change");
    if (mode.resolution || mode.refreshRate)
        co_await switchToFittingMode(mode, target, display, lock);
    checkCancellation();
    co_await takeFreshInventory(displayID, lock);

    ModeConfiguration result = readBackMode(mode, target, startEnvironment, displayID);
    m_ownedModes.insert_or_assign(displayID, result);
    co_return result;
}

Task<void> MacControlBackend::applyHDR(
    bool enabled, const std::string& displayID, DisplayDevice& display, GateLock& lock)
{
    const std::optional<bool> state = m_hdr.read(display.runtimeID);
    if (!state)
        throw DisplayError::unavailable("HDR unavailable");
    if (*state == enabled)
        co_return;
    // Software contrast and warmth would be wrong on top of HDR: the baseline goes back first.
    std::optional<SoftwareColorState> previous;
    if (enabled)
        previous = dropSoftwareColor(displayID, display);
    try {
        m_hdr.write(enabled, display.runtimeID);
    } catch (const DisplayError&) {
        if (previous)
            reinstateSoftwareColor(*previous, display);
        throw;
    }
    co_await pauseOutsideGate(lock, hdrSettlePause);
    checkCancellation();
    display = checkedDevice(displayID);
    const std::optional<bool> shown = m_hdr.read(display.runtimeID);
    // Tables written while HDR was still coming on would now sit on top of it.
    if (shown == true)
        (void)dropSoftwareColor(displayID, display);
    if (shown != enabled) {
        if (previous)
            reinstateSoftwareColor(*previous, display);
        throw DisplayError::unavailable("HDR change was not confirmed");
    }
}

std::optional<SoftwareColorState> MacControlBackend::dropSoftwareColor(
    const std::string& displayID, const DisplayDevice& display)
{
    const auto colour = m_gamma.find(displayID);
    if (colour == m_gamma.end() || !colour->second.applied)
        return std::nullopt;
    writeGamma(m_platform.graphics, colour->second.baseline, display.runtimeID);
    SoftwareColorState dropped = std::move(colour->second);
    m_gamma.erase(colour);
    return dropped;
}

void MacControlBackend::reinstateSoftwareColor(
    const SoftwareColorState& previous, const DisplayDevice& display)
{
    const auto stored = m_gamma.find(display.id);
    if (stored != m_gamma.end() && stored->second.applied)
        return;
    try {
        if (!SoftwareColorState::tablesEqual(
                readGamma(m_platform.graphics, display.runtimeID), previous.baseline))
            return;
        // From the baseline now on the display, so that a failed readback leaves it there.
        applyColorState(SoftwareColorState{.baseline = previous.baseline,
                            .applied = std::nullopt,
                            .temperature = previous.temperature,
                            .contrast = previous.contrast},
            display);
    } catch (const DisplayError&) {
        // The HDR failure being reported is the one that matters to the user.
    }
}

Task<void> MacControlBackend::switchToFittingMode(const ModeConfiguration& mode,
    const DisplayResolution& target, const DisplayDevice& display, GateLock& lock)
{
    std::vector<GraphicsDisplayMode> candidates = availableModes(display);
    std::erase_if(candidates, [&](const GraphicsDisplayMode& candidate) {
        return resolutionOf(candidate) != target
            || (mode.refreshRate && preference(candidate, display) != mode.refreshRate);
    });
    if (candidates.empty())
        throw DisplayError::unavailable(
            "This resolution, HDR, and refresh-rate combination is unavailable");

    const std::optional<GraphicsDisplayMode> current
        = m_platform.graphics.currentMode(display.runtimeID);
    const auto onScreen = current ? std::ranges::find(candidates, current->ioDisplayModeID,
                              &GraphicsDisplayMode::ioDisplayModeID)
                                  : candidates.end();
    // Of several fitting modes the one on screen is kept; otherwise CoreGraphics' first. A switch
    // of ours still in flight would land over the one on screen, so it is asked for again.
    if (onScreen != candidates.end() && !hasSwitchInFlight(display.id))
        co_return;
    requestMode(display, onScreen != candidates.end() ? *onScreen : candidates.front(), current,
        "display mode");
    co_await pauseOutsideGate(lock, modeSettlePause);
}

void MacControlBackend::requestMode(const DisplayDevice& display, const GraphicsDisplayMode& mode,
    const std::optional<GraphicsDisplayMode>& current, const std::string& operation)
{
    const GraphicsStatus status = m_platform.graphics.setDisplayMode(display.runtimeID, mode);
    if (status != 0)
        throw DisplayError::operation(operation, status);
    SwitchesInFlight& inFlight = m_switchesInFlight[display.id];
    inFlight.modeIDs.insert(mode.ioDisplayModeID);
    inFlight.last = mode.ioDisplayModeID;
    inFlight.leftAnotherMode = !current || current->ioDisplayModeID != mode.ioDisplayModeID;
}

void MacControlBackend::noteShownMode(
    const std::string& displayID, const std::optional<GraphicsDisplayMode>& shown)
{
    const auto inFlight = m_switchesInFlight.find(displayID);
    if (inFlight != m_switchesInFlight.end() && shown && inFlight->second.leftAnotherMode
        && shown->ioDisplayModeID == inFlight->second.last)
        m_switchesInFlight.erase(inFlight);
}

bool MacControlBackend::hasSwitchInFlight(const std::string& displayID) const
{
    return m_switchesInFlight.contains(displayID);
}

bool MacControlBackend::isInFlight(const std::string& displayID, std::int32_t modeID) const
{
    const auto inFlight = m_switchesInFlight.find(displayID);
    return inFlight != m_switchesInFlight.end() && inFlight->second.modeIDs.contains(modeID);
}

Task<void> MacControlBackend::takeFreshInventory(const std::string& displayID, GateLock& lock)
{
    // The screen list is read on the main executor; other backend work may run meanwhile.
    const std::uint64_t discoveries = m_discoveries;
    lock.reset();
    co_await yield();
    const std::vector<DisplayDevice> inventory = DisplayInventory::snapshot(m_platform);
    co_await retakeGate(lock);
    // A discovery that ran meanwhile set devices at least as new as this picture.
    if (m_discoveries != discoveries)
        co_return;
    // A variable-refresh mode just entered is known from now on by its new identifier.
    const auto fresh = std::ranges::find(inventory, displayID, &DisplayDevice::id);
    if (fresh != inventory.end())
        m_devices.insert_or_assign(displayID, *fresh);
}

ModeConfiguration MacControlBackend::readBackMode(const ModeConfiguration& mode,
    const DisplayResolution& target, const std::string& startEnvironment,
    const std::string& displayID)
{
    const DisplayDevice display = checkedDevice(displayID);
    const std::optional<GraphicsDisplayMode> current
        = m_platform.graphics.currentMode(display.runtimeID);
    noteShownMode(displayID, current);
    if (environment(display) != startEnvironment || !current || resolutionOf(*current) != target)
        throw DisplayError::unavailable("Resolution or scaling readback did not match; reverting");
    const std::optional<RefreshPreference> refresh = preference(*current, display);
    rememberAdaptiveMode(display, *current);
    if (mode.refreshRate && !refreshMatches(*mode.refreshRate, refresh, current->refreshRate))
        throw DisplayError::unavailable("Refresh-rate readback did not match");
    const std::optional<bool> hdr = readHDR(display);
    if (mode.hdr && hdr != mode.hdr)
        throw DisplayError::unavailable("HDR readback did not match; reverting");
    return ModeConfiguration{
        .refreshRate = refresh, .hdr = hdr, .resolution = resolutionOf(*current)};
}

Task<void> MacControlBackend::learnIfPluggedBackIn(const std::string& displayID, GateLock& lock)
{
    // Plugged back in since the last discovery (one a display test put off, say): its modes
    // are still ours to put back.
    if (!m_devices.contains(displayID))
        co_await takeFreshInventory(displayID, lock);
}

Task<void> MacControlBackend::restore(UUID token)
{
    GateLock lock(co_await m_gate.lock());
    co_await restoreToken(token, lock);
}

Task<void> MacControlBackend::restoreToken(UUID token, GateLock& lock)
{
    const auto found = m_recoveries.find(token);
    if (found == m_recoveries.end())
        co_return;
    // A copy: the map may change while the restore waits.
    const Recovery recovery = found->second;
    co_await restoreRecovery(recovery, lock);
    m_ownedModes.insert_or_assign(recovery.displayID,
        ModeConfiguration{.refreshRate = recovery.refreshRate,
            .hdr = recovery.hdr,
            .resolution = resolutionOf(recovery.mode)});
    m_recoveries.erase(token);
}

Task<void> MacControlBackend::restoreRecovery(Recovery recovery, GateLock& lock)
{
    co_await learnIfPluggedBackIn(recovery.displayID, lock);
    DisplayDevice display = checkedDevice(recovery.displayID);
    if (display.isMirrored || environment(display) != recovery.environment)
        throw DisplayError::unavailable(
            "The display connection changed; its previous mode cannot be restored safely");
    if (recovery.hdr && m_hdr.read(display.runtimeID) != recovery.hdr) {
        m_hdr.write(*recovery.hdr, display.runtimeID);
        co_await pauseOutsideGate(lock, hdrSettlePause);
        // The display may have been renumbered during the wait; its old number may now name
        // another display.
        display = checkedDevice(recovery.displayID);
    }
    if (environment(display) != recovery.environment)
        throw DisplayError::unavailable("The display connection changed during recovery");
    const std::optional<GraphicsDisplayMode> current
        = m_platform.graphics.currentMode(display.runtimeID);
    // A switch of ours that has not shown yet may still land over the recorded mode; asked for
    // again, the recorded mode lands after it.
    if (!current || current->ioDisplayModeID != recovery.mode.ioDisplayModeID
        || hasSwitchInFlight(recovery.displayID)) {
        requestMode(display, recovery.mode, current, "restore display mode");
        co_await pauseOutsideGate(lock, modeSettlePause);
        co_await waitForLateSwitches(recovery, lock);
    }

    display = checkedDevice(recovery.displayID);
    const std::optional<GraphicsDisplayMode> restored
        = m_platform.graphics.currentMode(display.runtimeID);
    noteShownMode(recovery.displayID, restored);
    const bool matches = environment(display) == recovery.environment && restored
        && restored->ioDisplayModeID == recovery.mode.ioDisplayModeID
        && resolutionOf(*restored) == resolutionOf(recovery.mode)
        && (!recovery.hdr || m_hdr.read(display.runtimeID) == recovery.hdr);
    if (!matches)
        throw DisplayError::unavailable("Display recovery readback did not match");
}

Task<void> MacControlBackend::waitForLateSwitches(const Recovery& recovery, GateLock& lock)
{
    for (int pause = 0; pause < lateSwitchPauses; ++pause) {
        const DisplayDevice display = checkedDevice(recovery.displayID);
        const std::optional<GraphicsDisplayMode> shown
            = m_platform.graphics.currentMode(display.runtimeID);
        if (!shown || shown->ioDisplayModeID == recovery.mode.ioDisplayModeID
            || !isInFlight(recovery.displayID, shown->ioDisplayModeID))
            co_return;
        co_await pauseOutsideGate(lock, modeSettlePause);
    }
}

Task<std::vector<std::string>> MacControlBackend::restoreSession()
{
    GateLock lock(co_await m_gate.lock());
    std::vector<std::string> failures;
    const auto collect = [&](const Error& error) { failures.emplace_back(error.what()); };

    std::vector<UUID> tokens;
    for (const auto& entry : m_recoveries)
        tokens.push_back(entry.first);
    for (const UUID& token : tokens) {
        try {
            co_await restoreToken(token, lock);
        } catch (const CancellationError&) {
            throw;
        } catch (const Error& error) {
            collect(error);
        }
    }

    std::vector<std::string> displays;
    for (const auto& entry : m_originalModes)
        displays.push_back(entry.first);
    for (const std::string& displayID : displays) {
        try {
            co_await restoreFirstModeIfStillOurs(displayID, lock);
        } catch (const CancellationError&) {
            throw;
        } catch (const Error& error) {
            collect(error);
        }
    }

    for (const auto& entry : m_gamma) {
        if (!entry.second.applied)
            continue;
        try {
            restoreBaselineGammaIfStillOurs(entry.first);
        } catch (const Error& error) {
            collect(error);
        }
    }
    co_return failures;
}

Task<void> MacControlBackend::restoreFirstModeIfStillOurs(
    const std::string& displayID, GateLock& lock)
{
    co_await learnIfPluggedBackIn(displayID, lock);
    const DisplayDevice display = checkedDevice(displayID);
    const std::optional<GraphicsDisplayMode> current
        = m_platform.graphics.currentMode(display.runtimeID);
    const ModeConfiguration shown{
        .refreshRate = current ? preference(*current, display) : std::nullopt,
        .hdr = readHDR(display),
        .resolution = current ? std::optional(resolutionOf(*current)) : std::nullopt};
    // Someone else changed the mode since, or this backend never did: leave it alone. A switch of
    // ours that landed after its read-back is ours too.
    const auto owned = m_ownedModes.find(displayID);
    const bool isOurs = (owned != m_ownedModes.end() && owned->second == shown)
        || (current && isInFlight(displayID, current->ioDisplayModeID));
    if (!isOurs)
        co_return;
    co_await restoreRecovery(m_originalModes.at(displayID), lock);
}

void MacControlBackend::restoreBaselineGammaIfStillOurs(const std::string& displayID)
{
    // Not checkedDevice(): a display that sleeps is not active, and its tables still count.
    const std::optional<DisplayNumber> number = onlineDisplayNamed(m_platform.graphics, displayID);
    if (!number)
        throw DisplayError::unavailable("Display identity changed or disconnected");
    const SoftwareColorState& state = m_gamma.at(displayID);
    if (SoftwareColorState::tablesEqual(readGamma(m_platform.graphics, *number), *state.applied))
        writeGamma(m_platform.graphics, state.baseline, *number);
}

} // namespace quorvane
