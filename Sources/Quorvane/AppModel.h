// The application's one coordinator: the settings document, the last picture of the hardware,
// the context and plan, every per-control and per-display record, and the services it drives.
#pragma once

#include "Concurrency/Spawn.h"
#include "Concurrency/Task.h"
#include "Foundation/Date.h"
#include "Foundation/UUID.h"
#include "Quorvane/AppChoice.h"
#include "Quorvane/AppPreferences.h"
#include "Quorvane/ApplicationFeedback.h"
#include "Quorvane/CurrentProfileState.h"
#include "Quorvane/DefaultSettingsDraft.h"
#include "Quorvane/DisplayPreview.h"
#include "Quorvane/HardwareSnapshot.h"
#include "Quorvane/LiveRuleEditing.h"
#include "Quorvane/Observable.h"
#include "Quorvane/PendingRestore.h"
#include "Quorvane/RuleDraft.h"
#include "QuorvaneCore/BrightnessKeys.h"
#include "QuorvaneCore/Configuration.h"
#include "QuorvaneCore/ContextRefreshScheduler.h"
#include "QuorvaneCore/ControlDriver.h"
#include "QuorvaneCore/ModeStability.h"
#include "QuorvaneCore/ProfileDisplayPreferences.h"
#include "QuorvaneCore/ResolvedPlan.h"
#include "QuorvaneCore/RuleResolver.h"
#include "QuorvaneMac/BrightnessKeyMonitor.h"
#include "QuorvaneMac/DisplayInventory.h"
#include "QuorvaneMac/SpaceProvider.h"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace quorvane {

class ApplicationCatalog;
class ApplicationShell;
class DisplayTestPresenter;
class Error;
class Executor;
class FocusedWindowProvider;
class LaunchEnvironment;
class LoginItemService;
class MacControlBackend;
class OpenPanel;
class SettingsStore;
class SimulatedControls;
class SimulatedSystemDisplayPreferences;
class SystemDisplayBackend;
class Workspace;
class WorkspaceEvents;
struct Platform;

/// The services the model runs on; every one outlives the model.
struct AppEnvironment {
    /// The main executor: every field is read and written there, and every task runs there.
    Executor& executor;
    Platform& platform;
    LaunchEnvironment& launch;
    LoginItemService& loginItems;
    ApplicationShell& shell;
    /// The installed application bundles, and the panel in which the user picks more.
    ApplicationCatalog& applicationCatalog;
    OpenPanel& openPanel;
};

/// Owned by a std::shared_ptr and kept for the life of the process. Its tasks and the monitors'
/// callbacks hold it weakly and look it up again after every wait; only the start-up task keeps
/// it alive, until start() returns, and the operations a caller awaits (the capture and the
/// manual saves) keep it until they end.
///
/// A task may still outlive the model, and then it must end at its next resumption without
/// effect. Two rules make that so. What a task uses across a wait is shared with it, never
/// borrowed: the control and display-preference backends (sharedControlBackend(),
/// sharedSystemDisplayBackend()) and the control driver, so a backend or the driver resuming
/// inside the task still finds itself. And the destructor cancels every task the model tracks
/// in its fields (settings saves aside: they must still write), so a task's next sleep or
/// cancellation check throws, and its weak look-up of the model finds nothing.
///
/// Observable fields are public: views read them and subscribe to the ones they show, and call
/// the operations; they never write a field themselves. Fields marked plain are not tracked.
class AppModel final : public std::enable_shared_from_this<AppModel> {
    struct Passkey {
        explicit Passkey() = default;
    };

public:
    /// Reads the displays and their hardware in place of the platform layer.
    using HardwareDiscovery = std::function<Task<DiscoveredHardware>()>;

    /// What the caller may decide instead of the launch; all absent by default.
    struct Options {
        /// Demo mode as given; absent: decided from the arguments and the bundle identifier.
        std::optional<bool> simulation{};
        /// The settings file; wins over everything else.
        std::optional<std::filesystem::path> settingsURL{};
        /// Connects the monitors' callbacks and runs start(). Without it the model stays idle,
        /// unloaded and unconnected.
        bool startAutomatically = false;
        /// Used instead of the platform's display preferences; must outlive the model.
        SystemDisplayBackend* systemDisplayBackend = nullptr;
        /// Used for every control read and write; must outlive the model.
        ControlBackend* controlBackend = nullptr;
        /// Used instead of the platform's discovery when set.
        HardwareDiscovery hardwareDiscovery{};
    };

    /// Builds the model at once; loading happens later, in start().
    [[nodiscard]] static std::shared_ptr<AppModel> create(
        AppEnvironment environment, Options options);

    AppModel(Passkey, AppEnvironment environment, Options options, bool demo,
        std::filesystem::path settingsLocation);
    ~AppModel();

    // Tasks and callbacks refer to the one model.
    AppModel(const AppModel&) = delete;
    AppModel& operator=(const AppModel&) = delete;

    // Settings document and selection.
    Observable<Configuration> configuration;
    Observable<std::optional<UUID>> selectedProfileID;
    Observable<std::optional<UUID>> selectedRuleID;
    Observable<AppPage> page{AppPage::profiles};
    Observable<std::vector<AppChoice>> apps;

    // Displays and hardware.
    Observable<std::vector<DisplayDevice>> displays;
    EveryWriteObservable<std::map<std::string, SpaceSnapshot>> spacesByDisplay;
    EveryWriteObservable<HardwareSnapshot> hardwareSnapshot;
    Observable<std::map<ControlKey, SettingValue>> observed;

    // Context and plan.
    Observable<RuntimeContext> context;
    Observable<ResolvedPlan> resolution;
    Observable<std::string> currentAppName{"No active app"};
    Observable<std::string> focusMessage{"Checking window access…"};
    Observable<bool> hasWindowAccess{false};

    // Manual holds.
    Observable<std::map<ControlKey, ManualHold>> holds;
    Observable<std::map<ControlKey, SettingValue>> manualOriginals;
    Observable<std::map<ControlKey, SettingValue>> manualRecoveries;
    /// The time of the last polling tick; the construction time before the first.
    Observable<Date> now;

    // Control commands, per control.
    Observable<std::map<ControlKey, std::string>> controlStatus;
    Observable<std::map<ControlKey, TaskHandle>> tasks;
    Observable<std::map<ControlKey, UUID>> commandIDs;
    Observable<std::map<ControlKey, SettingValue>> applying;
    Observable<std::map<ControlKey, SettingValue>> failed;
    Observable<std::map<ControlKey, Date>> lastWrite;
    Observable<std::map<ControlKey, ControlApplyReport>> confirmedApplications;

    // Display modes, resolutions and the mode preview, per display identifier.
    Observable<std::map<std::string, TaskHandle>> modeTasks;
    Observable<std::map<std::string, ModeConfiguration>> modeRequests;
    Observable<std::map<std::string, UUID>> modeIDs;
    EveryWriteObservable<std::map<std::string, ModeStability>> modeStability;
    Observable<std::set<std::string>> modeBusy;
    /// "<display identifier>|<environment>" for each first-seen mode already recorded.
    Observable<std::set<std::string>> initialModeEnvironments;
    Observable<std::map<std::string, ModeConfiguration>> failedModes;
    Observable<std::map<std::string, DisplayResolution>> pendingResolutions;
    Observable<std::map<std::string, std::string>> resolutionStatus;
    /// Displays whose restore failed, its text shown in their mode status. The next hardware
    /// refresh that finds such a display idle and reachable tries again, and so does quitting;
    /// meanwhile no automatic mode change starts on it.
    Observable<std::map<std::string, PendingRestore>> pendingRestores;
    /// The retries of pending restores in flight; each holds its display in modeBusy while it
    /// restores.
    Observable<std::map<std::string, TaskHandle>> restoreTasks;
    /// Every write goes to displayTestPresenter first, then to the observers.
    PreviewField preview;
    Observable<std::optional<TaskHandle>> previewTask;
    Observable<std::optional<TaskHandle>> previewTimer;

    // macOS display preferences.
    Observable<SystemDisplaySnapshot> systemDisplaySnapshot;
    Observable<std::optional<TaskHandle>> systemDisplayTask;
    Observable<UUID> systemDisplayCommandID{UUID::random()};
    Observable<bool> systemDisplayApplying{false};
    Observable<bool> pendingControlRecheck{false};
    Observable<std::optional<std::map<SystemDisplayControl, bool>>> lastSystemDisplayRequests;
    Observable<std::map<SystemDisplayControl, std::string>> systemDisplayErrors;

    // Brightness keys.
    Observable<BrightnessKeyStatus> brightnessKeyStatus{BrightnessKeyStatus::off};
    Observable<std::optional<TaskHandle>> keyReadTask;
    EveryWriteObservable<BrightnessKeyAdjustmentQueue> keyQueue;

    // Rule editing and feedback.
    EveryWriteObservable<std::optional<LiveRuleEdit>> liveRuleEdit;
    Observable<std::set<ControlKey>> liveRuleKeys;
    Observable<std::map<ControlKey, TaskHandle>> ruleEditRestorations;
    Observable<std::map<ControlKey, UUID>> ruleEditRestoreIDs;
    EveryWriteObservable<std::optional<RuleCopyFeedback>> ruleCopyFeedback;
    Observable<std::optional<TaskHandle>> ruleCopyConfirmationTask;
    Observable<bool> isSavingManualProfile{false};

    // Life cycle.
    Observable<bool> isLoaded{false};
    Observable<bool> isSuspended{false};
    Observable<bool> isRefreshing{false};
    Observable<bool> isQuitting{false};
    Observable<bool> terminationPrepared{false};
    Observable<bool> pendingHardwareRefresh{false};
    Observable<std::int64_t> refreshRevision{0};
    Observable<std::int64_t> pendingDefaultCaptureSaves{0};
    /// The latest settings save; each save waits for the one before.
    Observable<std::optional<TaskHandle>> saveTask;
    Observable<std::optional<TaskHandle>> pollingTask;

    // Errors and launch at login.
    /// While present nothing is saved, user actions are refused and nothing is applied
    /// automatically. Stays until the process ends.
    Observable<std::optional<std::string>> settingsError;
    Observable<std::optional<std::string>> actionError;
    Observable<bool> loginEnabled{false};
    Observable<bool> loginNeedsApproval{false};
    Observable<std::optional<std::string>> loginError;

    // Plain: fixed at construction.
    const bool isDemo;
    const std::filesystem::path settingsURL;
    ControlBackend* const injectedControlBackend;
    SystemDisplayBackend* const injectedSystemDisplayBackend;
    const HardwareDiscovery injectedHardwareDiscovery;
    /// Set by the view that hosts the display-test panel; must outlive the model or be reset.
    DisplayTestPresenter* displayTestPresenter = nullptr;

    /// Loaded, no settings error, automation on, not suspended, quitting or refreshing, and no
    /// capture of Default settings still saving.
    [[nodiscard]] bool canApplyAutomatically() const;
    /// The profile selectedProfileID names, else the active profile. The reference lasts until
    /// the configuration next changes.
    [[nodiscard]] const Profile& selectedProfile() const;
    /// The Spaces of every connected display in display order, each identifier once.
    [[nodiscard]] std::vector<Desktop> allSpaces() const;
    /// The screens offered to rule conditions and Default settings: the known displays, then
    /// displays with Default settings only ("Saved screen · <id>"), under the user's names.
    [[nodiscard]] std::vector<DisplayReference> knownScreens() const;
    /// The name `space` is shown by among `listed`: its own, followed by its screen's label
    /// in brackets where another of `listed` has the same name ("Space 1 (Studio)";
    /// "all screens" for a shared Space). Its own name alone when its screen is unknown.
    [[nodiscard]] std::string spaceLabel(
        const Desktop& space, const std::vector<Desktop>& listed) const;
    /// The name `screen` is shown by wherever screens are listed or named: its own, followed by
    /// its number where another screen has its name ("Studio 2"). The screens of a name are
    /// numbered together: the known ones first, then the forgotten ones the rules name.
    [[nodiscard]] std::string screenLabel(const DisplayReference& screen) const;
    /// The brightness control of the first built-in display; absent without one.
    [[nodiscard]] std::optional<ControlKey> builtinBrightnessKey() const;

    /// Where every field changes and every task runs; views read the time from it too.
    [[nodiscard]] Executor& executor() const { return m_executor; }
    /// The platform the services run on; views ask it for system names such as privacy panes.
    [[nodiscard]] Platform& platform() const { return m_platform; }
    [[nodiscard]] WorkspaceEvents& events() { return *m_events; }
    [[nodiscard]] FocusedWindowProvider& focus() { return *m_focus; }
    [[nodiscard]] BrightnessKeyMonitor& brightnessKeys() { return *m_brightnessKeys; }
    [[nodiscard]] ContextRefreshScheduler& scheduler() { return m_scheduler; }
    /// The demo's control and display-preference backends; present in every mode.
    [[nodiscard]] SimulatedControls& simulated() { return *m_simulated; }
    [[nodiscard]] SimulatedSystemDisplayPreferences& simulatedSystemDisplay()
    {
        return *m_simulatedSystemDisplay;
    }

    /// Loads the settings, takes the first picture of the hardware (or sets up the demo), saves,
    /// and starts automation and the polling task. Throws nothing; a settings file that cannot
    /// be loaded leaves its message in settingsError and start-up goes on with the default
    /// document. Called once, by the task create() starts.
    [[nodiscard]] Task<void> start();

    /// Saves a copy of the document as it is now, after every save requested before it. Saves
    /// requested while one waits behind a running save collapse into the waiting one, which
    /// then writes the newest document. Does nothing while settingsError stands.
    void persist();
    /// The settings file's owner, for its count of writes.
    [[nodiscard]] const SettingsStore& settingsStore() const { return *m_store; }
    /// Puts the model into its lasting error state after a failed save: shows the message and
    /// stops all automatic work. The first failure's message stays.
    void settingsSaveFailed(const Error& error);

    // Resolve and apply, control commands (AppModelApply.cpp, AppModelCommands.cpp).
    //
    // Operations that change a per-control map or the document take ids and values by value: a
    // caller may pass one that lives in the very map the operation replaces.
    void resolveAndApply(bool recheck);
    void cancelAutomaticCommands();
    void scheduleApply(SettingValue value, ControlKey key, bool manual);
    void cancelCommand(ControlKey key);
    void recordApplication(const ControlApplyReport& report, ControlKey key);
    /// The injected backend, else the simulated controls in demo mode, else the hardware.
    [[nodiscard]] ControlBackend& controlBackend();
    /// controlBackend() for a task to keep across its waits. An injected backend is not owned:
    /// it must outlive every task of the model.
    [[nodiscard]] std::shared_ptr<ControlBackend> sharedControlBackend();

    // Display-mode changes: applying and recovering, the Keep/Revert preview and automatic
    // scheduling (ModeActions.cpp, ModePreview.cpp, ModeScheduling.cpp).
    /// Switches the display (the simulation in demo mode) and returns the mode read back; changes
    /// no field. Throws the platform's error unchanged, or in demo mode ConfigurationError with
    /// the reason a resolution is unavailable.
    [[nodiscard]] Task<ModeConfiguration> applyDisplayMode(
        ModeConfiguration mode, std::string displayID);
    /// Takes `mode` as the display's current one, with its HDR and refresh values.
    void recordMode(const ModeConfiguration& mode, const std::string& displayID);
    /// Puts `original` back (through the token outside demo mode) and records it. Runs as a task
    /// of its own, so a cancelled caller still gets a finished restore. Absent on success, else
    /// the text to show; never throws. A failure leaves a pending restore of the display unless
    /// one stands already; the success of that very restore ends it.
    [[nodiscard]] Task<std::optional<std::string>> restoreDisplay(
        std::optional<UUID> token, ModeConfiguration original, std::string displayID);
    /// The status of the display's HDR and refresh-rate controls, and of its resolution while one
    /// is at stake.
    void modeStatus(const std::string& message, const std::string& displayID);
    void cancelModeCommand(std::string displayID);
    void cancelModeCommands(bool includeApplying);
    /// The cancelled tasks, for the caller to await.
    [[nodiscard]] std::vector<TaskHandle> stopDisplayWrites(std::string displayID);
    /// Runs as a task of its own that holds the model weakly; a cancelled caller does not stop it.
    [[nodiscard]] Task<void> refreshAfterModeChange();
    void recheckHardware();
    /// Starts the Keep/Revert test of `mode` on the display. False when it cannot start: then
    /// nothing changed but perhaps actionError, and `completion` is never called; otherwise it is
    /// called once at the end, with true when the mode was kept.
    bool previewMode(const ModeConfiguration& mode, const std::string& displayID, bool manual,
        bool restoreResolutionAfterKeep, std::string confirmationTitle,
        std::function<void(bool)> completion);
    enum class PreviewStart {
        started,
        refused,
        /// The reason is in actionError.
        refusedWithReason,
    };
    /// previewMode(), telling a refusal with a reason from a silent one, even when actionError
    /// already showed that reason.
    PreviewStart startPreview(const ModeConfiguration& mode, const std::string& displayID,
        bool manual, bool restoreResolutionAfterKeep, std::string confirmationTitle,
        std::function<void(bool)> completion);
    /// Keep; after the deadline it reverts instead.
    void keepPreview();
    /// Revert; does nothing while already reverting.
    void cancelPreview();
    /// Ends whatever preview is current: completion first, then the deferred hardware refresh.
    [[nodiscard]] Task<void> finishPreview(std::string displayID, bool kept);
    /// Starts, keeps or cancels the automatic mode change of every display; nothing while a
    /// preview runs.
    void scheduleModes();
    /// The plan's HDR and refresh rate with the pending resolution, completed from the display's
    /// current mode when it has one.
    [[nodiscard]] ModeConfiguration desiredMode(const std::string& displayID) const;
    /// Confirmed for the display on its current connection.
    [[nodiscard]] bool isVerified(
        const ModeConfiguration& mode, const std::string& displayID) const;
    /// Offers the HDR and refresh values from before the user's manual mode changes, one display
    /// at a time.
    void previewManualModeRecovery();
    /// Forgets the display's task and request while `requestID` is still its identifier.
    void finishModeRequest(const std::string& displayID, const UUID& requestID);

    // Profile resolutions and the choices of rules (ProfileResolution.cpp, HDRPresentation.cpp).
    /// The snapshot's capabilities with the refresh rates offered at the given resolutions.
    [[nodiscard]] std::map<ControlKey, ControlCapability> capabilities(
        const std::map<std::string, DisplayResolution>& resolutions) const;
    /// capabilities() at the profile's effective resolutions.
    [[nodiscard]] std::map<ControlKey, ControlCapability> capabilities(
        const Profile& profile) const;
    /// Absent: every connected display, replacing all pending entries.
    void queueProfileResolutions(const std::optional<std::vector<std::string>>& displayIDs);
    /// Each resolution the display offers once, ascending.
    [[nodiscard]] std::vector<DisplayResolution> resolutionChoices(
        const std::string& displayID) const;
    /// The request with its missing parts taken from the display's current mode; absent when
    /// the display's current mode is unknown.
    [[nodiscard]] std::optional<ModeConfiguration> completeDisplayMode(
        const ModeConfiguration& mode, const std::string& displayID) const;
    /// Why the resolution cannot be set on the display; absent when it can.
    [[nodiscard]] std::optional<std::string> resolutionUnavailableReason(
        const DisplayResolution& resolution, const std::string& displayID) const;
    /// The rates every screen the conditions can act on offers at the profile's resolutions.
    [[nodiscard]] ControlCapability refreshRateCapability(
        const RuleConditions& conditions, const Profile& profile) const;
    /// The rates the display offers in its current mode, fixed ones from the slowest, then the
    /// adaptive one; empty when it offers no choice.
    [[nodiscard]] std::vector<RefreshPreference> refreshRateChoices(
        const std::string& displayID) const;
    /// Absent when the display has no HDR control; built-in displays leave HDR to macOS.
    [[nodiscard]] std::optional<ControlCapability> hdrCapability(
        const std::string& displayID) const;
    [[nodiscard]] std::optional<ControlCapability> hdrCapability(
        const RuleConditions& conditions) const;
    /// "macOS", "Unavailable", the rule's HDR label, or "Default".
    [[nodiscard]] std::string hdrRuleLabel(const Rule& rule) const;
    /// Stores the profile's resolution for the display, or removes its own entry when absent;
    /// behind a Keep/Revert test when the screen would change now. Returns at once; the save
    /// follows a kept test later.
    void requestResolutionSave(const std::optional<DisplayResolution>& resolution,
        const std::string& displayID, UUID profileID);

    // Display preferences (AppModelDisplayPreferences.cpp).
    void invalidateSystemDisplayRequest();
    [[nodiscard]] bool applySystemDisplayPreferencesIfNeeded();
    [[nodiscard]] Task<void> refreshSystemDisplayPreferences(bool capture);
    [[nodiscard]] std::map<SystemDisplayControl, bool> systemDisplayRequests() const;
    [[nodiscard]] bool automaticBrightnessOwns(const std::string& displayID) const;
    /// Whether macOS automatic brightness takes brightness away from the profile's settings, on
    /// the display given or on any display. For the active profile: what macOS does now or an
    /// apply is turning on; for another: what that profile would ask for. A display that
    /// reports automatic brightness unavailable never counts; an unknown profile gives false.
    [[nodiscard]] bool automaticBrightnessManagesSettings(
        const UUID& profileID, const std::optional<std::string>& displayID) const;
    /// Stores the four preference switches of `preferences` into the profile, keeping its own
    /// resolutions, saves, and applies again when the active or the Default profile changed.
    /// Silently refused while unloaded, after a settings error or while a display test runs.
    void saveDisplayPreferences(ProfileDisplayPreferences preferences, UUID profileID);
    /// Takes the brightness of every display whose automatic brightness owns it out of `plan`,
    /// unless a user's hold decided it.
    void respectAutomaticBrightness(ResolvedPlan& plan) const;
    /// The display-preference backend: injected, else simulated in demo mode, else the system's.
    [[nodiscard]] SystemDisplayBackend& systemDisplayBackend();
    /// systemDisplayBackend() for a task to keep across its waits; an injected backend is not
    /// owned.
    [[nodiscard]] std::shared_ptr<SystemDisplayBackend> sharedSystemDisplayBackend();

    // Workspace events and context changes, hardware refresh (AppModelContext.cpp,
    // AppModelHardwareRefresh.cpp).
    void contextChanged();
    void refreshContext();
    void suspend();
    [[nodiscard]] Task<void> refreshHardware();
    [[nodiscard]] Task<void> captureInitialDefaults(
        HardwareSnapshot snapshot, std::vector<std::string> displayIDs);

    // Manual holds and hardware observation (AppModelHolds.cpp).
    [[nodiscard]] Task<void> observeHardware();
    void observe(SettingValue value, ControlKey key, bool detectExternal, bool confirmedExternal);
    void rememberManualOriginal(std::optional<SettingValue> original, ControlKey key);
    [[nodiscard]] ManualHold makeHold(const SettingValue& value, bool external) const;
    void releaseManualHolds(std::optional<ControlKey> key);
    void manual(SettingValue value, ControlKey key, bool fromKey);
    void resume(std::optional<ControlKey> key);
    void setAutomation(bool enabled);
    [[nodiscard]] std::optional<std::string> holdLabel(const ControlKey& key) const;
    [[nodiscard]] double value(const ControlKey& key) const;
    [[nodiscard]] std::string source(const ControlKey& key) const;

    // Brightness keys (AppModelBrightnessKeys.cpp).
    /// True when the press is consumed; false lets it pass to the system.
    [[nodiscard]] bool brightnessKeyPressed(BrightnessKeyDirection direction);
    void updateBrightnessKeys();
    void cancelKeyRead();

    // Demo mode and quitting (AppModelDemo.cpp, AppModelQuit.cpp).
    [[nodiscard]] Task<void> setupDemo();
    [[nodiscard]] HardwareSnapshot hardwareSnapshotForDemo() const;
    void quit();

    // Profile and rule actions, live rule editing (AppModelProfileActions.cpp,
    // AppModelRuleActions.cpp, AppModelRuleCopy.cpp, AppModelLiveRuleEditing.cpp,
    // SaveDisplayTests.cpp). Refusals the user must see go to actionError; the rest are silent.
    void createProfile(std::string_view name);
    void renameProfile(UUID profileID, std::string_view name);
    void deleteProfile(UUID profileID);
    void selectProfile(UUID profileID);
    /// Copies the value given, not the stored profile.
    void duplicateProfile(Profile profile);
    void activateProfile(UUID profileID);
    void setProfileActive(UUID profileID, bool active);
    /// True when the copy went to the save path; it is stored only once that path completes.
    bool copyRule(UUID ruleID, UUID targetProfileID);
    void toggleRule(UUID ruleID, UUID profileID);
    /// Swaps the rule with the one `offset` places away; a place past either end does nothing.
    void moveRule(UUID ruleID, UUID profileID, std::int64_t offset);
    /// Puts the rule directly before `beforeID`, or last when no rule has that id.
    void moveRule(UUID ruleID, UUID beforeID, UUID profileID);
    void deleteRule(UUID ruleID, UUID profileID);
    /// Replaces the stored rule (keeping its enabled flag) or appends a new one. False when
    /// refused or invalid.
    bool saveRule(Rule rule, UUID profileID, bool selectSavedRule);
    bool saveDefaultSettings(const DefaultSettingsDraft& draft);
    /// Checks the rule and saves it once the user kept a Keep/Revert test of every display mode
    /// it brings onto a connected screen; returns at once. `onSaved` runs at most once, only after
    /// a successful save; a test not kept saves nothing.
    void requestRuleSave(
        const Rule& rule, UUID profileID, bool selectSavedRule, std::function<void()> onSaved);
    /// As requestRuleSave(), testing every changed HDR or refresh default of a connected screen.
    void requestDefaultSave(const DefaultSettingsDraft& draft, std::function<void()> onSaved);
    /// Shows the confirmation once the pending save has ended, if the copy still exists.
    void confirmRuleCopy(const Rule& rule, UUID profileID);
    /// Only the confirmation with this id goes away.
    void dismissRuleCopyFeedback(UUID id);
    [[nodiscard]] bool needsWindowAccess(const Profile& profile) const;
    void previewRuleSettings(const RuleDraft& draft);
    [[nodiscard]] ResolvedPlan resolveRuleEditing(ResolvedPlan saved);
    void endRuleEditing(bool keepChanges);
    void cancelRuleEditRestoration(ControlKey key);

    // Installed applications, display names, launch at login and the application's preferences
    // (AppModelInstalledApps.cpp, AppModelDisplayNames.cpp, AppModelPreferences.cpp).
    void refreshApps();
    /// The application bundle at `location` as a choice; absent without a bundle identifier.
    [[nodiscard]] std::optional<AppChoice> appChoice(const std::filesystem::path& location) const;
    /// Runs the modal panel; the picked applications, in the panel's order.
    std::vector<AppChoice> chooseApplications();
    void renameDisplay(std::string displayID, std::string name);
    void setLogin(bool enabled);
    /// Stores the preferences and saves; the brightness keys follow at once. Silently refused
    /// while unloaded, after a settings error, and for a value the document cannot hold.
    void savePreferences(const AppPreferences& preferences);

    // Capturing the display state and saving manual settings into profiles (AppModelCapture.cpp,
    // AppModelManualProfiles.cpp). Each keeps the model alive until it ends, from the call on;
    // refusals are ConfigurationError (Invalid) with the sentence to show.
    /// Why saving manual settings is not possible now; absent when it is.
    [[nodiscard]] std::optional<std::string> profileCaptureUnavailableReason() const;
    [[nodiscard]] Task<CurrentProfileState> captureCurrentProfileState(bool onlyManual);
    void validateCapturedModes(
        const Configuration& candidate, const std::set<ControlKey>& keys) const;
    [[nodiscard]] Task<void> updateActiveProfileFromManualSettings();
    /// The new profile's identifier; the profile is not activated.
    [[nodiscard]] Task<UUID> saveCurrentStateAsProfile(std::string name);

private:
    void connectCallbacks();
    /// The destructor's part: see the class comment.
    void cancelTrackedTasks() noexcept;
    // The bodies of the capture and the manual saves, run while their callers hold the model.
    [[nodiscard]] Task<CurrentProfileState> captureState(bool onlyManual);
    [[nodiscard]] Task<void> updateActiveProfile();
    [[nodiscard]] Task<UUID> saveStateAsProfile(std::string name);
    // AppModelManualProfiles.cpp: puts each captured value into the active profile's rules of
    // `copy`.
    void placeCapturedValues(
        Configuration& copy, const std::map<ControlKey, SettingValue>& values) const;
    void presentPreview();

    static Task<void> runStart(std::shared_ptr<AppModel> model);
    static Task<void> refreshHardwareOf(std::weak_ptr<AppModel> weakModel);
    /// The document a save task will write, taken when its turn comes; until then a newer one may
    /// replace it.
    struct PendingSave {
        std::optional<Configuration> document;
    };
    static Task<void> save(std::optional<TaskHandle> previous, std::shared_ptr<SettingsStore> store,
        std::shared_ptr<PendingSave> pending, std::weak_ptr<AppModel> weakModel);
    static Task<void> poll(std::weak_ptr<AppModel> weakModel);
    // AppModelQuit.cpp: waits for the work in flight, then terminates.
    static Task<void> finishQuit(std::shared_ptr<AppModel> model, std::vector<TaskHandle> modeWork);

    // AppModelHardwareRefresh.cpp.
    /// The injected discovery, else the inventory's displays and what the backend reads of them.
    [[nodiscard]] Task<DiscoveredHardware> discoverHardware();
    /// What a refresh applies once no wait is left: the displays, the snapshot and what follows.
    void adoptHardware(std::vector<DisplayDevice> devices, HardwareSnapshot snapshot,
        std::vector<std::string> changed);

    // Manual holds and brightness keys (AppModelHolds.cpp, AppModelBrightnessKeys.cpp).
    void dropExpiredHolds();
    /// Ends, with nothing to recover, each hold whose screen still offers its control but no
    /// longer its value (a refresh rate the new resolution lacks). A control that cannot be read
    /// for a while keeps its hold, as a screen that is away does; a display whose mode is
    /// changing is judged once the change is over.
    void endUnofferedHolds();
    /// Ends the hold with its original and any recovery: the control is no longer the user's.
    void forgetHold(const ControlKey& key);
    [[nodiscard]] bool hasHoldInForce(const ControlKey& key) const;
    [[nodiscard]] std::vector<ControlKey> readBackKeys() const;
    [[nodiscard]] bool isReadBackBlocked(const ControlKey& key) const;
    static Task<void> readKeyBrightness(
        std::weak_ptr<AppModel> weakModel, std::shared_ptr<ControlBackend> backend, ControlKey key);
    void keyBrightnessRead(const ControlKey& key, const SettingValue& value);
    void keyBrightnessReadFailed(const ControlKey& key, const std::string& message);

    // Resolve and apply (AppModelApply.cpp): the steps of one pass.
    /// Everything the plan in `resolution` is worked out from: equal inputs give the equal plan,
    /// so a pass over unchanged inputs skips the work.
    struct ResolutionInputs {
        std::uint64_t configurationRevision = 0;
        RuntimeContext context;
        std::map<ControlKey, ControlCapability> capabilities;
        std::map<ControlKey, ManualHold> holds;
        std::vector<bool> activeHolds;
        std::map<ControlKey, SettingValue> manualRecoveries;
        std::map<ControlKey, ControlCapability> hardwareCapabilities;
        std::set<std::string> automaticBrightnessDisplays;
        bool operator==(const ResolutionInputs&) const = default;
    };
    /// Absent while a live rule edit previews, whose plan is always worked out anew.
    [[nodiscard]] std::optional<ResolutionInputs> resolutionInputs() const;
    void updateResolution();
    /// Adds the recoveries that still apply to `plan` and forgets those a plan decides now.
    void applyManualRecoveries(ResolvedPlan& plan);
    [[nodiscard]] bool mayStartWrite(
        const ControlKey& key, const SettingValue& value, bool rewrite);
    // Control commands (AppModelCommands.cpp): what a command task carries, and the task.
    struct Command;
    static Task<void> runCommand(std::weak_ptr<AppModel> weakModel, Command command);
    [[nodiscard]] bool isCurrentCommand(const ControlKey& key, const UUID& commandID) const;
    void commandSucceeded(const ControlApplyReport& report, const Command& command);
    void commandInterrupted(const ControlKey& key);
    void commandFailed(const Error& error, const Command& command);
    // Display-mode changes (ModeActions.cpp, ModePreview.cpp, ModeScheduling.cpp).
    static Task<void> refreshAfterModeChangeOf(std::weak_ptr<AppModel> weakModel);
    static Task<void> recheckHardwareOf(std::shared_ptr<AppModel> model);
    static Task<void> restoreDisplayOf(std::shared_ptr<AppModel> model, std::optional<UUID> token,
        ModeConfiguration original, std::string displayID,
        std::shared_ptr<std::optional<std::string>> failure);
    /// Takes the display out of modeBusy. What was read of its software colour before the change
    /// is forgotten, as the change may have reset it (HDR going on drops it): the next read-back
    /// is a first one, never a change from outside, and the plan's colours are written again.
    void endModeChange(const std::string& displayID);
    /// Forgets a recovery token in a task of its own, so a cancelled caller still forgets it.
    [[nodiscard]] Task<void> discardRecovery(UUID token);
    /// Starts the retry of every pending restore whose display is listed.
    void retryPendingRestores();
    static Task<void> retryPendingRestore(
        std::weak_ptr<AppModel> weakModel, std::string displayID, PendingRestore pending);
    /// Forgets the display's pending restore and its recovery token: the display shows a mode
    /// the user kept.
    [[nodiscard]] Task<void> dropPendingRestore(std::string displayID);
    [[nodiscard]] bool isCurrentPreview(const UUID& previewID) const;
    static Task<void> applyPreview(std::weak_ptr<AppModel> weakModel, DisplayPreview started,
        std::vector<TaskHandle> stoppedWrites);
    /// Until the preview is confirming; throws where the apply fails or is cancelled. `token`
    /// gets the recovery token as soon as there is one.
    [[nodiscard]] Task<void> applyPreviewMode(DisplayPreview started, std::optional<UUID>& token);
    static Task<void> expirePreview(std::weak_ptr<AppModel> weakModel);
    static Task<void> verifyPreview(std::shared_ptr<AppModel> model, DisplayPreview kept);
    /// The checks of a Keep, and the restore it asks for; throws where the Keep fails.
    [[nodiscard]] Task<void> confirmKeptPreview(DisplayPreview kept);
    void approvePreview(const DisplayPreview& kept);
    static Task<void> revertPreview(std::shared_ptr<AppModel> model, DisplayPreview reverted);
    /// Whether the pass goes on to the next display.
    bool scheduleMode(const std::string& displayID);
    void startModeTask(const std::string& displayID, const ModeConfiguration& desired);
    static Task<void> runModeTask(std::weak_ptr<AppModel> weakModel, std::string displayID,
        UUID requestID, double delaySeconds, ModeConfiguration desired);
    [[nodiscard]] bool isModeRequestCurrent(const std::string& displayID, const UUID& requestID,
        const ModeConfiguration& desired) const;
    [[nodiscard]] Task<void> applyScheduledMode(
        std::string displayID, UUID requestID, ModeConfiguration desired);
    // Display preferences (AppModelDisplayPreferences.cpp).
    struct SystemDisplayApply;
    static Task<void> applySystemDisplayPreferences(SystemDisplayApply apply);
    void finishSystemDisplayApply(const UUID& commandID);
    void releaseOwnedBrightnessHolds();
    // Live rule editing (AppModelLiveRuleEditing.cpp): puts back one control the preview wrote.
    static Task<void> restoreRuleEditControl(std::weak_ptr<AppModel> weakModel,
        LiveRuleEdit preview, ControlKey key, UUID restoreID,
        std::shared_ptr<ControlBackend> backend, SettingValue original);

    Executor& m_executor;
    ApplicationShell& m_shell;
    // For the hardware refresh's display inventory (AppModelHardwareRefresh.cpp).
    Platform& m_platform;
    // AppModelInstalledApps.cpp, AppModelDisplayNames.cpp.
    Workspace& m_workspace;
    LoginItemService& m_loginItems;
    ApplicationCatalog& m_applicationCatalog;
    OpenPanel& m_openPanel;
    // Shared with the save tasks: a save still writes after the model is gone.
    std::shared_ptr<SettingsStore> m_store;
    // The demo's own new folder of the settings file, removed when the application quits.
    std::optional<std::filesystem::path> m_temporarySettingsFolder;
    // The save waiting behind a running one, while it has not taken its document yet.
    std::shared_ptr<PendingSave> m_waitingSave;
    // Shared with the tasks that use them across a wait (see the class comment).
    std::shared_ptr<MacControlBackend> m_hardware;
    std::shared_ptr<SystemDisplayBackend> m_systemDisplay;
    std::shared_ptr<SimulatedSystemDisplayPreferences> m_simulatedSystemDisplay;
    std::shared_ptr<SimulatedControls> m_simulated;
    std::shared_ptr<ControlDriver> m_driver;
    std::unique_ptr<FocusedWindowProvider> m_focus;
    std::unique_ptr<SpaceProvider> m_spaceProvider;
    std::unique_ptr<WorkspaceEvents> m_events;
    std::unique_ptr<BrightnessKeyMonitor> m_brightnessKeys;
    ContextRefreshScheduler m_scheduler;
    // Counts the document's changes, so that a pass can tell an unchanged one without comparing.
    std::uint64_t m_configurationRevision = 0;
    Subscription m_configurationRevisions;
    // Where selectedProfile() last found the profile: the views ask for it many times between
    // changes, and a search from the start passes every profile before it.
    mutable std::size_t m_selectedPosition = 0;
    // What the plan in `resolution` was last worked out from (AppModelApply.cpp).
    std::optional<ResolutionInputs> m_resolvedFrom;
    // What the last pass's resolution found, for the next pass to take over where it can.
    ResolutionMemo m_resolutionMemo;
};

} // namespace quorvane
