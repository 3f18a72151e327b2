// The save path of edited rules and Default settings: every display mode the save would bring
// onto a connected screen passes its Keep/Revert test first, one screen after another, and only
// the last Keep saves.
#include "Quorvane/AppModel.h"
#include "Quorvane/CandidateValidation.h"
#include "Quorvane/HDRPresentation.h"
#include "Quorvane/MapKeys.h"
#include "Quorvane/ModeKeys.h"
#include "Quorvane/PlannedMode.h"

#include "Concurrency/Executor.h"
#include "QuorvaneCore/RuleResolver.h"

#include <algorithm>
#include <cctype>
#include <utility>

namespace quorvane {
namespace {

constexpr std::string_view unavailableSettingsText
    = "Display settings are unavailable. Recheck the screen and try saving again.";
constexpr std::string_view changingSettingsText
    = "Display settings are changing or unavailable. Try saving again.";
constexpr std::string_view screenUnavailableText
    = "This screen is unavailable. Reconnect it and try saving again.";

/// One mode the user keeps before the save, as requested (not completed from the screen).
struct SaveDisplayTest {
    std::string displayID;
    ModeConfiguration mode;
};

bool acceptsSave(const AppModel& model)
{
    return model.isLoaded.get() && !model.settingsError.get() && !model.preview.get();
}

/// The HDR value as the display can take it: dropped where its HDR control exists but cannot be
/// used, as on a screen whose HDR macOS manages.
std::optional<bool> effectiveHDR(
    const AppModel& model, std::optional<bool> hdr, const std::string& displayID)
{
    const std::optional<ControlCapability> capability = model.hdrCapability(displayID);
    if (capability && !capability->available)
        return std::nullopt;
    return hdr;
}

std::string lowercased(std::string text)
{
    std::ranges::transform(text, text.begin(),
        [](unsigned char character) { return static_cast<char>(std::tolower(character)); });
    return text;
}

/// Runs the tests one after another; the chain moves on only from a kept test, and `onKept` runs
/// once the last one was kept. A refusal leaves its text in actionError and ends the chain.
void runSaveDisplayTests(AppModel& model, std::vector<SaveDisplayTest> tests, std::string saveTitle,
    std::function<void()> onKept)
{
    if (tests.empty()) {
        onKept();
        return;
    }
    if (model.isSuspended.get() || !model.modeBusy->empty()) {
        model.actionError.set(std::string(changingSettingsText));
        return;
    }
    const SaveDisplayTest test = tests.front();
    tests.erase(tests.begin());
    std::string title
        = tests.empty() ? "Keep and " + lowercased(saveTitle) : std::string("Keep and continue");
    auto next = [weakModel = model.weak_from_this(), rest = std::move(tests),
                    saveTitle = std::move(saveTitle), onKept](bool kept) mutable {
        const auto model = weakModel.lock();
        if (model && kept)
            runSaveDisplayTests(*model, std::move(rest), std::move(saveTitle), std::move(onKept));
    };
    // A message left by an earlier action must not hide a refusal without a reason.
    if (model.startPreview(
            test.mode, test.displayID, false, true, std::move(title), std::move(next))
        == AppModel::PreviewStart::refused)
        model.actionError.set(std::string(screenUnavailableText));
}

/// Why an available HDR or refresh-rate control of the display refuses the value the settings
/// set; HDR is asked first. Absent when nothing is refused.
std::optional<std::string> rejectedModeValue(const RuleSettings& settings,
    const std::map<ControlKey, ControlCapability>& capabilities, const std::string& displayID)
{
    for (const SettingKey setting : {SettingKey::hdr, SettingKey::refreshRate}) {
        const std::optional<SettingValue> value = settings.value(setting);
        const auto capability = capabilities.find(modeKey(displayID, setting));
        if (!value || capability == capabilities.end() || !capability->second.available)
            continue;
        if (auto reason = capability->second.rejection(*value, setting))
            return reason;
    }
    return std::nullopt;
}

/// How a rule being saved relates to the rule it replaces.
struct RuleChange {
    std::optional<Rule> stored;
    bool setsMode = false;
    bool modeChanged = false;
    bool sameConditions = false;
    /// Every affected screen is tested, confirmed combination or not.
    [[nodiscard]] bool forced() const { return modeChanged || !sameConditions; }
};

RuleChange ruleChange(const Rule& rule, const std::optional<Rule>& stored)
{
    const RuleSettings& settings = rule.settings;
    RuleChange change{.stored = stored, .setsMode = settings.hdr || settings.refreshRate};
    change.modeChanged = stored ? settings.hdr != stored->settings.hdr
            || settings.refreshRate != stored->settings.refreshRate
                                : change.setsMode;
    change.sameConditions = stored && stored->conditions == rule.conditions;
    return change;
}

/// The context in which the rule decides the display: its own application and Space where it
/// names them, the current ones otherwise.
RuntimeContext testContext(
    const Rule& rule, const RuntimeContext& current, const std::string& displayID)
{
    const RuleConditions& conditions = rule.conditions;
    DisplayContext display{.id = displayID};
    if (conditions.space) {
        display.activeSpaceID = conditions.space->id;
    } else if (const auto listed
               = std::ranges::find(current.displays, displayID, &DisplayContext::id);
               listed != current.displays.end()) {
        display.activeSpaceID = listed->activeSpaceID;
    }
    return {.appBundleID
        = conditions.apps.empty() ? current.appBundleID : std::optional(conditions.apps.front().id),
        .focusedDisplayID = displayID,
        .displays = {std::move(display)},
        .suspended = false};
}

} // namespace

void AppModel::requestRuleSave(
    const Rule& rule, UUID profileID, bool selectSavedRule, std::function<void()> onSaved)
{
    if (!acceptsSave(*this) || profileID == configuration->defaultProfileID)
        return;
    Configuration candidate = configuration.get();
    const auto held = std::ranges::find(candidate.profiles, profileID, &Profile::id);
    if (held == candidate.profiles.end())
        return;
    Profile* profile = &candidate.profiles.edit(held);
    const auto found = std::ranges::find(profile->rules, rule.id, &Rule::id);
    const auto place = static_cast<std::size_t>(found - profile->rules.begin());
    std::optional<Rule> stored;
    if (found == profile->rules.end()) {
        profile->rules.push_back(rule);
    } else {
        stored = *found;
        profile->rules.edit(place) = rule;
    }
    if (!isValidCandidate(*this, candidate))
        return;
    const RuleChange change = ruleChange(rule, stored);

    // The rules above the saved one are dropped and it is switched on, so it decides first.
    Profile testProfile = *profile;
    testProfile.rules.erase(0, place);
    testProfile.rules.edit(0).isEnabled = true;

    const std::optional<std::string> target = targetDisplay(rule.conditions);
    const std::map<ControlKey, ControlCapability> atTestResolutions = capabilities(testProfile);
    std::vector<SaveDisplayTest> tests;
    for (const DisplayDevice& display : displays.get()) {
        if (target && display.id != *target)
            continue;
        const std::optional<DisplayResolution> resolution
            = configuration->displayResolution(testProfile, display.id);
        if (!change.modeChanged) {
            if (!change.setsMode)
                continue;
            if (change.sameConditions && resolution
                && resolutionUnavailableReason(*resolution, display.id))
                continue;
        }
        if (!effectiveHDR(*this, rule.settings.hdr, display.id) && !rule.settings.refreshRate) {
            // Taking a mode setting away still tests what the screen falls back to.
            if (!change.stored
                || (!effectiveHDR(*this, change.stored->settings.hdr, display.id)
                    && !change.stored->settings.refreshRate))
                continue;
        }

        std::map<ControlKey, ControlCapability> offered = atTestResolutions;
        const ControlKey hdrKey = modeKey(display.id, SettingKey::hdr);
        if (std::optional<ControlCapability> hdr = hdrCapability(display.id))
            offered.insert_or_assign(hdrKey, std::move(*hdr));
        else
            offered.erase(hdrKey);
        if (auto reason = rejectedModeValue(rule.settings, offered, display.id)) {
            actionError.set(std::move(reason));
            return;
        }

        const ResolvedPlan plan
            = RuleResolver::resolve(testProfile, configuration->defaultSettings(),
                testContext(rule, context.get(), display.id), offered, {}, m_executor.wallNow());
        ModeConfiguration mode = plannedMode(plan, display.id);
        mode.hdr = effectiveHDR(*this, mode.hdr, display.id);
        if (!mode.hdr && !mode.refreshRate)
            continue;
        mode.resolution = resolution;
        const std::optional<ModeConfiguration> completed = completeDisplayMode(mode, display.id);
        if (!completed) {
            actionError.set(std::string(unavailableSettingsText));
            return;
        }
        if (!change.forced() && isVerified(*completed, display.id))
            continue;
        tests.push_back({.displayID = display.id, .mode = mode});
    }

    runSaveDisplayTests(*this, std::move(tests), "Save rule",
        [weakModel = weak_from_this(), rule, profileID, selectSavedRule, onSaved] {
            const auto model = weakModel.lock();
            if (model && model->saveRule(rule, profileID, selectSavedRule) && onSaved)
                onSaved();
        });
}

void AppModel::requestDefaultSave(const DefaultSettingsDraft& draft, std::function<void()> onSaved)
{
    if (!acceptsSave(*this))
        return;
    Configuration candidate = configuration.get();
    const DefaultSettings current = candidate.defaultSettings();
    const DefaultSettings next = draft.merged(current);
    candidate.setDefaultSettings(next);
    if (!isValidCandidate(*this, candidate))
        return;

    std::vector<SaveDisplayTest> tests;
    for (const DisplayDevice& display : displays.get()) {
        const RuleSettings before = entryOf(current.displays, display.id).value_or(RuleSettings{});
        const RuleSettings after = entryOf(next.displays, display.id).value_or(RuleSettings{});
        if (before.hdr == after.hdr && before.refreshRate == after.refreshRate)
            continue;
        const ModeConfiguration mode{.refreshRate = after.refreshRate,
            .hdr = effectiveHDR(*this, after.hdr, display.id),
            .resolution
            = configuration->displayResolution(configuration->defaultProfile(), display.id)};
        if (!mode.hdr && !mode.refreshRate)
            continue;
        if (!completeDisplayMode(mode, display.id)) {
            actionError.set(std::string(unavailableSettingsText));
            return;
        }
        // A changed default is tested even where its combination is confirmed already.
        tests.push_back({.displayID = display.id, .mode = mode});
    }

    runSaveDisplayTests(
        *this, std::move(tests), "Save", [weakModel = weak_from_this(), draft, onSaved] {
            const auto model = weakModel.lock();
            if (model && model->saveDefaultSettings(draft) && onSaved)
                onSaved();
        });
}

} // namespace quorvane
