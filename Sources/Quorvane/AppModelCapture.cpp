#include "Quorvane/AppModel.h"
#include "Quorvane/KeepingAlive.h"

#include "Concurrency/Cancellation.h"
#include "Concurrency/Executor.h"
#include "QuorvaneCore/RuleResolver.h"
#include "QuorvaneCore/SystemDisplayBackend.h"

#include <algorithm>
#include <utility>

namespace quorvane {
namespace {

constexpr std::string_view displaysNotReady = "Wait for the displays to be ready before saving.";
constexpr std::string_view settingsChanging = "Wait for the display settings to finish changing.";
constexpr std::string_view modeChanged
    = "The display mode changed. Recheck the screen before saving.";
constexpr std::string_view stateChanged
    = "The profile or display settings changed while reading them. Try saving again.";
// Read-backs within this distance of a held percentage count as reached.
constexpr double heldValueTolerance = 0.015;

[[noreturn]] void refuse(std::string_view message)
{
    throw ConfigurationError(ConfigurationError::Invalid{std::string(message)});
}

std::map<ControlKey, ManualHold> activeHolds(
    const std::map<ControlKey, ManualHold>& holds, Date now)
{
    std::map<ControlKey, ManualHold> active;
    for (const auto& [key, hold] : holds) {
        if (hold.isActive(now))
            active.emplace(key, hold);
    }
    return active;
}

/// What the model looked like when a capture began; the capture trusts nothing else across its
/// reads.
struct CaptureStart {
    Configuration configuration;
    std::map<ControlKey, ManualHold> holds;
    std::map<ControlKey, ManualHold> activeHolds;
    RuntimeContext context;
    std::vector<DisplayReference> displays;
    std::map<std::string, ModeConfiguration> currentModes;
    std::map<std::string, std::string> environments;
    std::map<ControlKey, ControlCapability> capabilities;
    std::int64_t refreshRevision;
    std::map<ControlKey, UUID> commandIDs;
    UUID systemDisplayCommandID;
};

/// True when the read-back of a mode key is what the display's recorded mode says.
bool matchesRecordedMode(const SettingValue& value, SettingKey setting,
    const std::map<std::string, ModeConfiguration>& modes, const std::string& displayID)
{
    const auto mode = modes.find(displayID);
    if (mode == modes.end())
        return false;
    if (setting == SettingKey::hdr)
        return mode->second.hdr && SettingValue::toggle(*mode->second.hdr) == value;
    return mode->second.refreshRate && SettingValue::refresh(*mode->second.refreshRate) == value;
}

/// The one value every screen reports for automatic brightness; absent when none reports one.
std::optional<bool> sharedAutomaticBrightness(
    const SystemDisplaySnapshot& snapshot, const std::vector<DisplayReference>& displays)
{
    std::optional<bool> shared;
    for (const DisplayReference& display : displays) {
        const auto value
            = snapshot.values.find(SystemDisplayControl::automaticBrightness(display.id));
        if (value == snapshot.values.end())
            continue;
        if (shared && *shared != value->second)
            refuse("Automatic brightness differs between screens. Choose the same setting before "
                   "saving a new profile.");
        shared = value->second;
    }
    return shared;
}

std::optional<bool> snapshotValue(
    const SystemDisplaySnapshot& snapshot, const SystemDisplayControl& control)
{
    const auto value = snapshot.values.find(control);
    if (value == snapshot.values.end())
        return std::nullopt;
    return value->second;
}

ProfileDisplayPreferences displayPreferencesOf(
    const SystemDisplaySnapshot& snapshot, const CaptureStart& start)
{
    ProfileDisplayPreferences preferences{
        .trueTone = snapshotValue(snapshot, SystemDisplayControl::trueTone()),
        .darkMode = snapshotValue(snapshot, SystemDisplayControl::darkMode()),
        .nightShift = snapshotValue(snapshot, SystemDisplayControl::nightShift()),
        .automaticBrightness = sharedAutomaticBrightness(snapshot, start.displays),
        .resolutions = std::map<std::string, DisplayResolution>{},
    };
    for (const DisplayReference& display : start.displays) {
        const auto mode = start.currentModes.find(display.id);
        if (mode != start.currentModes.end() && mode->second.resolution)
            preferences.resolutions->insert_or_assign(display.id, *mode->second.resolution);
    }
    return preferences;
}

std::vector<DisplayReference> referencesOf(const std::vector<DisplayDevice>& displays)
{
    std::vector<DisplayReference> references;
    references.reserve(displays.size());
    for (const DisplayDevice& display : displays)
        references.push_back(display.reference());
    return references;
}

CaptureStart captureStart(const AppModel& model, Date now)
{
    return {
        .configuration = model.configuration.get(),
        .holds = model.holds.get(),
        .activeHolds = activeHolds(model.holds.get(), now),
        .context = model.context.get(),
        .displays = referencesOf(model.displays.get()),
        .currentModes = model.hardwareSnapshot->currentModes,
        .environments = model.hardwareSnapshot->environments,
        .capabilities = model.hardwareSnapshot->capabilities,
        .refreshRevision = model.refreshRevision.get(),
        .commandIDs = model.commandIDs.get(),
        .systemDisplayCommandID = model.systemDisplayCommandID.get(),
    };
}

/// Saving is still possible and nothing the values were read under has changed since `start`.
bool isUnchangedSince(const CaptureStart& start, const AppModel& model, Date now)
{
    const HardwareSnapshot& hardware = model.hardwareSnapshot.get();
    return !model.profileCaptureUnavailableReason()
        && model.configuration.get() == start.configuration && model.holds.get() == start.holds
        && std::ranges::all_of(
            start.activeHolds, [&](const auto& entry) { return entry.second.isActive(now); })
        && model.context.get() == start.context
        && referencesOf(model.displays.get()) == start.displays
        && hardware.currentModes == start.currentModes
        && hardware.environments == start.environments
        && hardware.capabilities == start.capabilities
        && model.refreshRevision.get() == start.refreshRevision
        && model.commandIDs.get() == start.commandIDs
        && model.systemDisplayCommandID.get() == start.systemDisplayCommandID;
}

/// HDR as the model offers it now; every other control as the hardware reported it.
std::optional<ControlCapability> capabilityOf(
    const ControlKey& key, const CaptureStart& start, const AppModel& model)
{
    if (key.setting == SettingKey::hdr)
        return model.hdrCapability(key.target.id());
    const auto found = start.capabilities.find(key);
    if (found == start.capabilities.end())
        return std::nullopt;
    return found->second;
}

} // namespace

std::optional<std::string> AppModel::profileCaptureUnavailableReason() const
{
    if (!isLoaded.get() || settingsError.get())
        return settingsError.get().value_or("Settings are not ready.");
    if (isSuspended.get() || isQuitting.get() || isRefreshing.get()
        || pendingDefaultCaptureSaves.get() > 0)
        return std::string(displaysNotReady);
    if (preview.get() || !modeBusy->empty() || !modeTasks->empty() || !tasks->empty()
        || keyReadTask.get() || systemDisplayApplying.get() || !ruleEditRestorations->empty()
        || m_scheduler.isWaiting())
        return std::string(settingsChanging);
    if (liveRuleEdit.get())
        return "Finish editing the rule before saving manual settings.";
    if (activeHolds(holds.get(), m_executor.wallNow()).empty())
        return "There are no manual settings to save.";
    return std::nullopt;
}

Task<CurrentProfileState> AppModel::captureCurrentProfileState(bool onlyManual)
{
    return keepingAlive(shared_from_this(), captureState(onlyManual));
}

Task<CurrentProfileState> AppModel::captureState(bool onlyManual)
{
    const CaptureStart start = captureStart(*this, m_executor.wallNow());

    CurrentProfileState captured;
    for (const DisplayReference& display : start.displays) {
        for (const SettingKey setting : allSettingKeys) {
            const ControlKey key{.target = ControlTarget::display(display.id), .setting = setting};
            const auto hold = start.activeHolds.find(key);
            const bool isHeld = hold != start.activeHolds.end();
            if (onlyManual && !isHeld)
                continue;
            const std::optional<ControlCapability> capability = capabilityOf(key, start, *this);
            if (!capability || !capability->available)
                continue;

            std::optional<SettingValue> value;
            try {
                value = co_await controlBackend().read(key);
            } catch (const CancellationError&) {
                throw;
            } catch (const Error&) {
                // An unreadable control is left out; a held one is refused below.
                continue;
            }
            if (capability->rejection(*value, setting))
                continue;
            if (isMode(setting)
                && !matchesRecordedMode(*value, setting, start.currentModes, display.id))
                refuse(modeChanged);
            if (isHeld
                && (failed->contains(key)
                    || !value->approximatelyEquals(hold->second.value, heldValueTolerance)))
                refuse(std::string(title(setting))
                    + " has not reached its manual value. Adjust it again before saving.");
            captured.values.insert_or_assign(key, onlyManual ? hold->second.value : *value);
        }
    }
    const bool everyHoldCaptured = std::ranges::all_of(start.activeHolds,
        [&](const auto& entry) { return captured.values.contains(entry.first); });
    if (!everyHoldCaptured)
        refuse(
            "A manually adjusted display setting is unavailable. Reconnect or recheck the screen "
            "before saving.");

    if (!onlyManual) {
        const SystemDisplaySnapshot preferences = co_await systemDisplayBackend().snapshot();
        captured.displayPreferences = displayPreferencesOf(preferences, start);
    }
    checkCancellation();
    if (!isUnchangedSince(start, *this, m_executor.wallNow()))
        refuse(stateChanged);

    captured.holds = start.activeHolds;
    co_return captured;
}

void AppModel::validateCapturedModes(
    const Configuration& candidate, const std::set<ControlKey>& keys) const
{
    std::set<std::string> displayIDs;
    for (const ControlKey& key : keys) {
        if (isMode(key.setting))
            displayIDs.insert(key.target.id());
    }
    if (displayIDs.empty())
        return;

    const Profile& profile = candidate.activeProfile();
    const ResolvedPlan plan = RuleResolver::resolve(profile, candidate.defaultSettings(),
        context.get(), capabilities(profile), {}, m_executor.wallNow());
    const auto planned = [&](const std::string& displayID, SettingKey setting) {
        const auto found = plan.assignments.find(
            {.target = ControlTarget::display(displayID), .setting = setting});
        return found == plan.assignments.end() ? std::nullopt
                                               : std::optional<SettingValue>(found->second.value);
    };

    for (const std::string& displayID : displayIDs) {
        const auto currentEntry = hardwareSnapshot->currentModes.find(displayID);
        if (currentEntry == hardwareSnapshot->currentModes.end())
            refuse("Recheck the screen before saving its display mode.");
        const ModeConfiguration& current = currentEntry->second;

        ModeConfiguration requested = current;
        if (const auto refresh = planned(displayID, SettingKey::refreshRate)) {
            if (const auto* rate = std::get_if<SettingValue::Refresh>(&refresh->value))
                requested.refreshRate = rate->value;
        }
        const std::optional<ControlCapability> hdr = hdrCapability(displayID);
        if (const auto toggle = planned(displayID, SettingKey::hdr);
            toggle && hdr && hdr->available) {
            if (const auto* isOn = std::get_if<SettingValue::Toggle>(&toggle->value))
                requested.hdr = isOn->value;
        }
        if (const auto resolution = candidate.displayResolution(profile, displayID))
            requested.resolution = *resolution;
        if (requested != current || !isVerified(current, displayID))
            refuse("Test the profile’s resolution, HDR and refresh settings before saving this "
                   "manual change.");
    }
}

} // namespace quorvane
