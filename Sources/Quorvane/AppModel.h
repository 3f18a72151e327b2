// The application's one coordinator: the settings document, the last picture of the hardware,
// the context and plan, every per-control and per-display record, and the services it drives.
#pragma once

#include "Concurrency/Spawn.h"
#include "Concurrency/Task.h"
#include "Foundation/Date.h"
#include "Foundation/UUID.h"
#include "Quorvane/AppChoice.h"
#include "Quorvane/ApplicationFeedback.h"
#include "Quorvane/DisplayPreview.h"
#include "Quorvane/HardwareSnapshot.h"
#include "Quorvane/LiveRuleEditing.h"
#include "Quorvane/Observable.h"
#include "QuorvaneCore/BrightnessKeys.h"
#include "QuorvaneCore/Configuration.h"
#include "QuorvaneCore/ContextRefreshScheduler.h"
#include "QuorvaneCore/ControlDriver.h"
#include "QuorvaneCore/ModeStability.h"
#include "QuorvaneCore/ProfileDisplayPreferences.h"
#include "QuorvaneCore/ResolvedPlan.h"
#include "QuorvaneMac/BrightnessKeyMonitor.h"
#include "QuorvaneMac/DisplayInventory.h"
#include "QuorvaneMac/SpaceProvider.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace quorvane {

class DisplayTestPresenter;
class Error;
class Executor;
class FocusedWindowProvider;
class LaunchEnvironment;
class LoginItemService;
class MacControlBackend;
class SettingsStore;
class SystemDisplayBackend;
class WorkspaceEvents;
struct Platform;

/// The services the model runs on; every one outlives the model.
struct AppEnvironment {
    /// The main executor: every field is read and written there, and every task runs there.
    Executor& executor;
    Platform& platform;
    LaunchEnvironment& launch;
    LoginItemService& loginItems;
};

/// Owned by a std::shared_ptr and kept for the life of the process. Its tasks and the monitors'
/// callbacks hold it weakly and look it up again after every wait; only the start-up task keeps
/// it alive, until start() returns.
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
    /// Every change also goes to displayTestPresenter.
    EveryWriteObservable<std::optional<DisplayPreview>> preview;
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
    /// The profile selectedProfileID names, else the active profile.
    [[nodiscard]] Profile selectedProfile() const;
    /// The Spaces of every connected display in display order, each identifier once.
    [[nodiscard]] std::vector<Desktop> allSpaces() const;
    /// The screens offered to rule conditions and Default settings: the known displays, then
    /// displays with Default settings only ("Saved screen · <id>"), under the user's names.
    [[nodiscard]] std::vector<DisplayReference> knownScreens() const;
    /// The brightness control of the first built-in display; absent without one.
    [[nodiscard]] std::optional<ControlKey> builtinBrightnessKey() const;

    [[nodiscard]] WorkspaceEvents& events() { return *m_events; }
    [[nodiscard]] FocusedWindowProvider& focus() { return *m_focus; }
    [[nodiscard]] BrightnessKeyMonitor& brightnessKeys() { return *m_brightnessKeys; }
    [[nodiscard]] ContextRefreshScheduler& scheduler() { return m_scheduler; }

    /// Loads the settings, takes the first picture of the hardware (or sets up the demo), saves,
    /// and starts automation and the polling task. Throws nothing; a settings file that cannot
    /// be loaded leaves its message in settingsError and start-up goes on with the default
    /// document. Called once, by the task create() starts.
    [[nodiscard]] Task<void> start();

    /// Saves a copy of the document as it is now, after every save requested before it. Does
    /// nothing while settingsError stands.
    void persist();
    /// Puts the model into its lasting error state after a failed save: shows the message and
    /// stops all automatic work. The first failure's message stays.
    void settingsSaveFailed(const Error& error);

    // Operations that land with later work; each is empty until then.
    [[nodiscard]] Task<void> refreshHardware();
    [[nodiscard]] Task<void> setupDemo();
    void contextChanged();
    void suspend();
    void refreshApps();
    void queueProfileResolutions(const std::optional<std::vector<std::string>>& displayIDs);
    void updateBrightnessKeys();
    void resolveAndApply(bool recheck);
    /// True when the press is consumed; false lets it pass to the system.
    [[nodiscard]] bool brightnessKeyPressed(BrightnessKeyDirection direction);
    void invalidateSystemDisplayRequest();
    void cancelKeyRead();
    void cancelCommand(const ControlKey& key);
    void cancelModeCommand(const std::string& displayID);
    void cancelPreview();

private:
    void connectCallbacks();
    void presentPreview();

    static Task<void> runStart(std::shared_ptr<AppModel> model);
    static Task<void> refreshHardwareOf(std::weak_ptr<AppModel> weakModel);
    static Task<void> save(std::optional<TaskHandle> previous, std::shared_ptr<SettingsStore> store,
        Configuration copy, std::weak_ptr<AppModel> weakModel);
    static Task<void> poll(std::weak_ptr<AppModel> weakModel);

    Executor& m_executor;
    // Shared with the save tasks: a save still writes after the model is gone.
    std::shared_ptr<SettingsStore> m_store;
    std::unique_ptr<MacControlBackend> m_hardware;
    std::unique_ptr<SystemDisplayBackend> m_systemDisplay;
    ControlDriver m_driver;
    std::unique_ptr<FocusedWindowProvider> m_focus;
    std::unique_ptr<SpaceProvider> m_spaceProvider;
    std::unique_ptr<WorkspaceEvents> m_events;
    std::unique_ptr<BrightnessKeyMonitor> m_brightnessKeys;
    ContextRefreshScheduler m_scheduler;
    Subscription m_previewPresentation;
};

} // namespace quorvane
