#include "Quorvane/AppModel.h"
#include "Quorvane/PendingCaptureSave.h"

#include "Concurrency/Cancellation.h"
#include "QuorvaneMac/MacControlBackend.h"

#include <algorithm>
#include <utility>

namespace quorvane {
namespace {

/// The closing step of a refresh, on every way out once it has taken its revision: a refresh
/// that is still the newest lets go of isRefreshing, and one that a mode change overtook asks
/// to run again after it.
class RefreshClosing final {
public:
    RefreshClosing(AppModel& model, std::int64_t revision)
        : m_model(model)
        , m_revision(revision)
    {
    }
    ~RefreshClosing()
    {
        if (m_revision != m_model.refreshRevision.get())
            return;
        m_model.isRefreshing.set(false);
        if (!m_model.modeBusy->empty() && !m_model.isQuitting.get())
            m_model.pendingHardwareRefresh.set(true);
    }
    RefreshClosing(const RefreshClosing&) = delete;
    RefreshClosing& operator=(const RefreshClosing&) = delete;

private:
    AppModel& m_model;
    std::int64_t m_revision;
};

/// Work that became stale during a wait must not be applied.
bool isOvertaken(const AppModel& model, std::int64_t revision)
{
    return model.refreshRevision.get() != revision || isCancelled() || !model.modeBusy->empty();
}

std::vector<DisplayDevice> withUserNames(
    std::vector<DisplayDevice> devices, const Configuration& configuration)
{
    if (!configuration.displayNames)
        return devices;
    for (DisplayDevice& device : devices) {
        if (const auto name = configuration.displayNames->find(device.id);
            name != configuration.displayNames->end())
            device.name = name->second;
    }
    return devices;
}

std::vector<std::string> identifiersOf(const std::vector<DisplayDevice>& devices)
{
    std::vector<std::string> identifiers;
    identifiers.reserve(devices.size());
    for (const DisplayDevice& device : devices)
        identifiers.push_back(device.id);
    return identifiers;
}

std::optional<std::string> entryOf(
    const std::map<std::string, std::string>& map, const std::string& key)
{
    if (const auto found = map.find(key); found != map.end())
        return found->second;
    return std::nullopt;
}

/// The displays whose connection environment changed; all of them after a suspension, when
/// anything may have changed unseen.
std::vector<std::string> changedDisplays(const std::vector<DisplayDevice>& devices,
    const HardwareSnapshot& before, const HardwareSnapshot& after, bool wasSuspended)
{
    std::vector<std::string> changed;
    for (const DisplayDevice& device : devices) {
        if (wasSuspended
            || entryOf(before.environments, device.id) != entryOf(after.environments, device.id))
            changed.push_back(device.id);
    }
    return changed;
}

void rememberKnownDisplays(Configuration& configuration, const std::vector<DisplayDevice>& devices)
{
    for (const DisplayDevice& device : devices) {
        const DisplayReference reference{.id = device.id, .name = device.name};
        auto& known = configuration.knownDisplays;
        const auto entry = std::ranges::find_if(
            known, [&](const DisplayReference& display) { return display.id == device.id; });
        if (entry != known.end())
            *entry = reference;
        else
            known.push_back(reference);
    }
}

/// Keeps only the values of controls the new snapshot still offers, and the reports of those.
void dropUnavailableObservations(AppModel& model, const HardwareSnapshot& snapshot)
{
    model.observed.modify([&](std::map<ControlKey, SettingValue>& observed) {
        std::erase_if(observed, [&](const auto& entry) {
            const auto capability = snapshot.capabilities.find(entry.first);
            return capability == snapshot.capabilities.end() || !capability->second.available;
        });
    });
    model.confirmedApplications.modify([&](std::map<ControlKey, ControlApplyReport>& reports) {
        std::erase_if(
            reports, [&](const auto& entry) { return !model.observed->contains(entry.first); });
    });
}

/// The mode a display shows when first seen in an environment during this run counts as
/// confirmed; later sightings in that environment add nothing, even with another mode.
void recordFirstSeenModes(AppModel& model, const HardwareSnapshot& snapshot)
{
    for (const auto& [displayID, mode] : snapshot.currentModes) {
        const auto environment = entryOf(snapshot.environments, displayID);
        if (!environment)
            continue;
        const std::string token = displayID + "|" + *environment;
        if (model.initialModeEnvironments->contains(token))
            continue;
        model.initialModeEnvironments.modify(
            [&](std::set<std::string>& tokens) { tokens.insert(token); });
        const VerifiedModeConfiguration verified{
            .displayID = displayID, .environment = *environment, .mode = mode};
        model.configuration.modify([&](Configuration& configuration) {
            if (std::ranges::find(configuration.verifiedModes, verified)
                == configuration.verifiedModes.end())
                configuration.verifiedModes.push_back(verified);
        });
    }
}

void keepConnectedResolutions(AppModel& model, const std::vector<std::string>& connected)
{
    model.pendingResolutions.modify([&](std::map<std::string, DisplayResolution>& pending) {
        std::erase_if(pending, [&](const auto& entry) {
            return std::ranges::find(connected, entry.first) == connected.end();
        });
    });
}

} // namespace

Task<void> AppModel::refreshHardware()
{
    // The demo set-up supplies its own hardware.
    if (isDemo || isQuitting.get() || isCancelled())
        co_return;
    // Reading the hardware while a mode switches would see it half-way; the mode change's end
    // runs the refresh.
    if (!modeBusy->empty()) {
        pendingHardwareRefresh.set(true);
        co_return;
    }
    pendingHardwareRefresh.set(false);
    invalidateSystemDisplayRequest();
    refreshRevision.set(refreshRevision.get() + 1);
    const std::int64_t revision = refreshRevision.get();
    isRefreshing.set(true);
    const RefreshClosing closing(*this, revision);
    cancelAutomaticCommands();

    try {
        DiscoveredHardware discovered = co_await discoverHardware();
        std::vector<DisplayDevice> devices
            = withUserNames(std::move(discovered.displays), configuration.get());
        if (isOvertaken(*this, revision) || isQuitting.get())
            co_return;
        const std::vector<std::string> changed = changedDisplays(
            devices, hardwareSnapshot.get(), discovered.snapshot, isSuspended.get());
        // Stays in the document even when this refresh stops later; the next save keeps it.
        configuration.modify(
            [&](Configuration& document) { rememberKnownDisplays(document, devices); });

        co_await refreshSystemDisplayPreferences(true);
        if (isOvertaken(*this, revision))
            co_return;
        co_await captureInitialDefaults(discovered.snapshot, identifiersOf(devices));
        if (isOvertaken(*this, revision))
            co_return;

        // A rename made during the waits wins.
        adoptHardware(withUserNames(std::move(devices), configuration.get()),
            std::move(discovered.snapshot), changed);
    } catch (const CancellationError&) {
        // A cancelled refresh stops silently, as a stale one does.
    }
}

void AppModel::adoptHardware(
    std::vector<DisplayDevice> devices, HardwareSnapshot snapshot, std::vector<std::string> changed)
{
    const std::vector<std::string> connected = identifiersOf(devices);
    displays.set(std::move(devices));
    hardwareSnapshot.set(snapshot);
    isSuspended.set(false);
    dropUnavailableObservations(*this, snapshot);
    // During start-up the values are recorded without telling changes made outside.
    for (const auto& [key, value] : snapshot.observed)
        observe(value, key, isLoaded.get(), false);
    recordFirstSeenModes(*this, snapshot);
    keepConnectedResolutions(*this, connected);
    queueProfileResolutions(std::move(changed));
    refreshContext();
    m_scheduler.acknowledge(context.get());
    failed.set({});
    updateBrightnessKeys();
    isRefreshing.set(false);
    // Start-up saves and resolves itself once it is loaded.
    if (!isLoaded.get())
        return;
    persist();
    resolveAndApply(false);
    retryPendingRestores();
}

Task<DiscoveredHardware> AppModel::discoverHardware()
{
    if (injectedHardwareDiscovery)
        co_return co_await injectedHardwareDiscovery();
    std::vector<DisplayDevice> devices = DisplayInventory::snapshot(m_platform);
    HardwareSnapshot snapshot = co_await m_hardware->discover(devices);
    co_return DiscoveredHardware{.displays = std::move(devices), .snapshot = std::move(snapshot)};
}

Task<void> AppModel::captureInitialDefaults(
    HardwareSnapshot snapshot, std::vector<std::string> displayIDs)
{
    if (settingsError.get())
        co_return;
    DefaultSettings defaults = configuration->defaultSettings();
    const bool settingsCaptured
        = defaults.capture(displayIDs, snapshot.observed, snapshot.capabilities);
    bool resolutionsCaptured = false;
    configuration.modify([&](Configuration& document) {
        resolutionsCaptured = document.captureResolutionDefaults(snapshot.currentModes);
    });
    if (!settingsCaptured && !resolutionsCaptured)
        co_return;
    configuration.modify(
        [&](Configuration& document) { document.setDefaultSettings(std::move(defaults)); });
    // Start-up saves once it has settled the whole document.
    if (!isLoaded.get())
        co_return;
    const PendingCaptureSave pending(*this);
    persist();
    if (const std::optional<TaskHandle> save = saveTask.get())
        co_await *save;
}

} // namespace quorvane
