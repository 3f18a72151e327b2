// A profile's resolutions as work for the mode scheduler and as choices for the views: the
// refresh rates offered at a resolution, the resolutions a display offers, completing a mode
// request, why a resolution cannot be used, and saving one behind a Keep/Revert test.
#include "Quorvane/AppModel.h"
#include "Quorvane/CandidateValidation.h"

#include "Quorvane/HDRPresentation.h"
#include "Quorvane/MapKeys.h"
#include "Quorvane/PlannedMode.h"

#include "Concurrency/Executor.h"
#include "QuorvaneCore/RuleResolver.h"

#include <algorithm>
#include <set>
#include <tuple>
#include <utility>

namespace quorvane {
namespace {

constexpr std::string_view ratesAtResolutionReason
    = "Refresh rates at the profile's resolution · preview required";
constexpr std::string_view noRatesAtResolutionReason
    = "Refresh rate unavailable at the selected resolution";
constexpr std::string_view ruleRatesReason
    = "Available refresh rates at the profile's resolution · preview required";
constexpr std::string_view noRuleRatesReason
    = "No refresh rates available. Connect an adjustable screen or choose another resolution.";
constexpr std::string_view noCommonRatesReason
    = "No common refresh rates. Choose a screen for this rule.";

ControlKey refreshRateOf(const std::string& displayID)
{
    return {.target = ControlTarget::display(displayID), .setting = SettingKey::refreshRate};
}

/// The rates of the choices at `resolution` in list order, choices without a rate skipped.
std::vector<RefreshPreference> listedRatesAt(
    const std::vector<DisplayModeChoice>& choices, const DisplayResolution& resolution)
{
    std::vector<RefreshPreference> rates;
    for (const DisplayModeChoice& choice : choices) {
        if (choice.resolution == resolution && choice.refreshRate)
            rates.push_back(*choice.refreshRate);
    }
    return rates;
}

/// Each rate once, in the order their labels sort as text (so 120 Hz before 60 Hz, and the
/// adaptive rate last).
std::vector<RefreshPreference> ratesByLabel(std::vector<RefreshPreference> rates)
{
    std::vector<RefreshPreference> distinct;
    for (RefreshPreference& rate : rates) {
        if (std::ranges::find(distinct, rate) == distinct.end())
            distinct.push_back(std::move(rate));
    }
    std::ranges::stable_sort(
        distinct, {}, [](const RefreshPreference& rate) { return rate.label(); });
    return distinct;
}

ControlCapability refreshCapability(const std::vector<RefreshPreference>& rates,
    std::string_view reason, std::string_view noneReason)
{
    if (rates.empty())
        return {.available = false, .reason = std::string(noneReason)};
    ControlCapability capability{.available = true, .reason = std::string(reason)};
    for (const RefreshPreference& rate : rates)
        capability.choices.push_back(SettingValue::refresh(rate));
    return capability;
}

/// Fixed rates ascending by millihertz, then the adaptive rate.
struct RateOrder {
    static std::pair<bool, std::int64_t> rank(const RefreshPreference& rate)
    {
        const auto* fixed = std::get_if<RefreshPreference::Fixed>(&rate.value);
        return fixed ? std::pair{false, fixed->millihertz} : std::pair{true, std::int64_t{0}};
    }
    bool operator()(const RefreshPreference& first, const RefreshPreference& second) const
    {
        return rank(first) < rank(second);
    }
};

using RateSet = std::set<RefreshPreference, RateOrder>;

/// The valid rates the capability offers; absent when it offers none because it is missing or
/// unavailable.
std::optional<RateSet> offeredRates(
    const std::map<ControlKey, ControlCapability>& capabilities, const std::string& displayID)
{
    const auto capability = capabilities.find(refreshRateOf(displayID));
    if (capability == capabilities.end() || !capability->second.available)
        return std::nullopt;
    RateSet rates;
    for (const SettingValue& choice : capability->second.choices) {
        const auto* refresh = std::get_if<SettingValue::Refresh>(&choice.value);
        if (refresh && choice.isValid(SettingKey::refreshRate))
            rates.insert(refresh->value);
    }
    return rates;
}

constexpr std::string_view previewUnavailableText
    = "The display is unavailable. Recheck it and try choosing a resolution again.";

/// Sets or removes the profile's own resolution for the display; an emptied map is dropped.
void writeResolution(Profile& profile, const std::string& displayID,
    const std::optional<DisplayResolution>& resolution)
{
    if (!profile.displayPreferences)
        profile.displayPreferences.emplace();
    std::optional<std::map<std::string, DisplayResolution>>& resolutions
        = profile.displayPreferences->resolutions;
    if (!resolutions)
        resolutions.emplace();
    if (resolution)
        resolutions->insert_or_assign(displayID, *resolution);
    else
        resolutions->erase(displayID);
    if (resolutions->empty())
        resolutions.reset();
}

/// The save a request ends in, now or after a kept test; it checks the model again.
struct ResolutionSave {
    std::weak_ptr<AppModel> weakModel;
    UUID profileID;
    std::string displayID;
    std::optional<DisplayResolution> resolution;
    /// The active profile's effective resolution changes with it.
    bool changesEffective = false;

    void operator()() const
    {
        const auto model = weakModel.lock();
        if (!model || !model->isLoaded.get() || model->settingsError.get())
            return;
        const auto& profiles = model->configuration->profiles;
        if (std::ranges::find(profiles, profileID, &Profile::id) == profiles.end())
            return;
        model->configuration.modify([&](Configuration& document) {
            writeResolution(document.profiles.edit(
                                std::ranges::find(document.profiles, profileID, &Profile::id)),
                displayID, resolution);
        });
        if (changesEffective)
            model->queueProfileResolutions(std::vector{displayID});
        model->persist();
        model->resolveAndApply(false);
    }
};

} // namespace

std::map<ControlKey, ControlCapability> AppModel::capabilities(
    const std::map<std::string, DisplayResolution>& resolutions) const
{
    std::map<ControlKey, ControlCapability> result = hardwareSnapshot->capabilities;
    for (const auto& [displayID, resolution] : resolutions) {
        const auto choices = hardwareSnapshot->modeChoices.find(displayID);
        if (choices == hardwareSnapshot->modeChoices.end())
            continue;
        result.insert_or_assign(refreshRateOf(displayID),
            refreshCapability(ratesByLabel(listedRatesAt(choices->second, resolution)),
                ratesAtResolutionReason, noRatesAtResolutionReason));
    }
    return result;
}

std::map<ControlKey, ControlCapability> AppModel::capabilities(const Profile& profile) const
{
    std::map<std::string, DisplayResolution> resolutions;
    for (const DisplayDevice& display : displays.get()) {
        if (auto resolution = configuration->displayResolution(profile, display.id))
            resolutions.insert_or_assign(display.id, *resolution);
    }
    return capabilities(resolutions);
}

void AppModel::queueProfileResolutions(const std::optional<std::vector<std::string>>& displayIDs)
{
    std::vector<std::string> queued;
    if (displayIDs) {
        queued = *displayIDs;
    } else {
        for (const DisplayDevice& display : displays.get())
            queued.push_back(display.id);
        pendingResolutions.set({});
    }
    for (const std::string& displayID : queued) {
        const std::optional<DisplayResolution> resolution
            = configuration->displayResolution(configuration->activeProfile(), displayID);
        pendingResolutions.modify([&](auto& pending) {
            if (resolution)
                pending.insert_or_assign(displayID, *resolution);
            else
                pending.erase(displayID);
        });
        // A resolution that failed before is tried again.
        resolutionStatus.modify([&](auto& statuses) { statuses.erase(displayID); });
        failedModes.modify([&](auto& modes) { modes.erase(displayID); });
    }
}

std::vector<DisplayResolution> AppModel::resolutionChoices(const std::string& displayID) const
{
    const auto choices = hardwareSnapshot->modeChoices.find(displayID);
    if (choices == hardwareSnapshot->modeChoices.end())
        return {};
    std::vector<DisplayResolution> resolutions;
    for (const DisplayModeChoice& choice : choices->second)
        resolutions.push_back(choice.resolution);
    const auto order = [](const DisplayResolution& resolution) {
        return std::tuple{
            resolution.width, resolution.height, resolution.pixelWidth, resolution.pixelHeight};
    };
    std::sort(resolutions.begin(), resolutions.end(),
        [&](const DisplayResolution& first, const DisplayResolution& second) {
            return order(first) < order(second);
        });
    // Not std::ranges::unique: clang 14 cannot build its result with this standard library.
    resolutions.erase(std::unique(resolutions.begin(), resolutions.end()), resolutions.end());
    return resolutions;
}

std::optional<ModeConfiguration> AppModel::completeDisplayMode(
    const ModeConfiguration& mode, const std::string& displayID) const
{
    const auto current = hardwareSnapshot->currentModes.find(displayID);
    if (current == hardwareSnapshot->currentModes.end())
        return std::nullopt;
    const ModeConfiguration& now = current->second;
    ModeConfiguration completed{.refreshRate = mode.refreshRate,
        .hdr = mode.hdr ? mode.hdr : now.hdr,
        .resolution = mode.resolution ? mode.resolution : now.resolution};
    if (completed.refreshRate)
        return completed;
    const auto choices = hardwareSnapshot->modeChoices.find(displayID);
    if (!completed.resolution || (now.resolution && now.resolution == completed.resolution)
        || choices == hardwareSnapshot->modeChoices.end()) {
        completed.refreshRate = now.refreshRate;
        return completed;
    }
    // The new resolution keeps the current rate when it offers it, else takes its first rate.
    const std::vector<RefreshPreference> offered
        = listedRatesAt(choices->second, *completed.resolution);
    if (offered.empty())
        return completed;
    const bool keepsCurrent
        = now.refreshRate && std::ranges::find(offered, *now.refreshRate) != offered.end();
    completed.refreshRate = keepsCurrent ? *now.refreshRate : offered.front();
    return completed;
}

std::optional<std::string> AppModel::resolutionUnavailableReason(
    const DisplayResolution& resolution, const std::string& displayID) const
{
    if (std::ranges::find(displays.get(), displayID, &DisplayDevice::id) == displays->end())
        return "Display disconnected. The saved resolution will be available when it reconnects.";
    if (const auto reason = hardwareSnapshot->resolutionUnavailable.find(displayID);
        reason != hardwareSnapshot->resolutionUnavailable.end())
        return reason->second;
    const std::vector<DisplayResolution> offered = resolutionChoices(displayID);
    if (std::ranges::find(offered, resolution) != offered.end())
        return std::nullopt;
    return "The saved resolution is unavailable on this connection. The current resolution is "
           "kept.";
}

std::vector<RefreshPreference> AppModel::refreshRateChoices(const std::string& displayID) const
{
    // In one order whatever the display shows, so that the list never moves under the pointer.
    const std::optional<RateSet> rates = offeredRates(hardwareSnapshot->capabilities, displayID);
    if (!rates)
        return {};
    return {rates->begin(), rates->end()};
}

ControlCapability AppModel::refreshRateCapability(
    const RuleConditions& conditions, const Profile& profile) const
{
    const std::optional<std::string> target = targetDisplay(conditions);
    const std::map<ControlKey, ControlCapability> atResolutions = capabilities(profile);
    std::optional<RateSet> common;
    for (const DisplayDevice& display : displays.get()) {
        if (target && display.id != *target)
            continue;
        const std::optional<RateSet> rates = offeredRates(atResolutions, display.id);
        if (!rates)
            continue;
        if (!common) {
            common = *rates;
            continue;
        }
        std::erase_if(
            *common, [&](const RefreshPreference& rate) { return !rates->contains(rate); });
    }
    if (!common)
        return {.available = false, .reason = std::string(noRuleRatesReason)};
    return refreshCapability(std::vector<RefreshPreference>(common->begin(), common->end()),
        ruleRatesReason, noCommonRatesReason);
}

void AppModel::requestResolutionSave(const std::optional<DisplayResolution>& resolution,
    const std::string& displayID, UUID profileID)
{
    if (!isLoaded.get() || settingsError.get() || preview.get() || !modeBusy->empty())
        return;
    const auto profile = std::ranges::find(configuration->profiles, profileID, &Profile::id);
    if (profile == configuration->profiles.end() || (resolution && !resolution->isValid()))
        return;
    // The Default profile's resolutions are the fallback of every other profile: replaced, never
    // removed.
    if (!resolution && profileID == configuration->defaultProfileID)
        return;
    const std::optional<DisplayResolution> own
        = profile->displayPreferences && profile->displayPreferences->resolutions
        ? entryOf(*profile->displayPreferences->resolutions, displayID)
        : std::nullopt;
    if (own == resolution)
        return;

    Configuration candidate = configuration.get();
    writeResolution(
        candidate.profiles.edit(std::ranges::find(candidate.profiles, profileID, &Profile::id)),
        displayID, resolution);
    if (!isValidCandidate(*this, candidate))
        return;
    const std::optional<DisplayResolution> target
        = candidate.displayResolution(candidate.activeProfile(), displayID);
    const bool changesEffective
        = configuration->displayResolution(configuration->activeProfile(), displayID) != target;
    const ResolutionSave save{.weakModel = weak_from_this(),
        .profileID = profileID,
        .displayID = displayID,
        .resolution = resolution,
        .changesEffective = changesEffective};

    const auto current = entryOf(hardwareSnapshot->currentModes, displayID);
    if (!changesEffective || !configuration->automationEnabled || isSuspended.get() || !target
        || !current) {
        save();
        return;
    }
    if (auto reason = resolutionUnavailableReason(*target, displayID)) {
        if (resolution) {
            actionError.set(std::move(reason));
            return;
        }
        save();
        resolutionStatus.modify(
            [&](auto& statuses) { statuses.insert_or_assign(displayID, std::move(*reason)); });
        return;
    }

    // The HDR and refresh rate the profile would ask for at the new resolution.
    const ResolvedPlan plan
        = RuleResolver::resolve(candidate.activeProfile(), candidate.defaultSettings(),
            context.get(), capabilities({{displayID, *target}}), holds.get(), m_executor.wallNow());
    ModeConfiguration mode = plannedMode(plan, displayID);
    mode.resolution = target;
    const std::optional<ModeConfiguration> completed = completeDisplayMode(mode, displayID);
    if (!completed)
        return;
    if (*completed == *current) {
        save();
        return;
    }
    // A message left by an earlier action must not hide this refusal.
    const std::optional<std::string> earlierError = actionError.get();
    if (!previewMode(*completed, displayID, false, false, "Keep and save resolution",
            [save](bool kept) {
                if (kept)
                    save();
            })
        && actionError.get() == earlierError)
        actionError.set(std::string(previewUnavailableText));
}

} // namespace quorvane
