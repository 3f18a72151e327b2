#include "Quorvane/AppModel.h"
#include "Quorvane/MapKeys.h"

#include "Concurrency/Cancellation.h"
#include "Concurrency/Executor.h"
#include "Foundation/Error.h"
#include "MacPlatform/LaunchEnvironment.h"
#include "MacPlatform/LoginItems.h"
#include "MacPlatform/Platform.h"
#include "MacPlatform/Workspace.h"
#include "Quorvane/DisplayTestPresenter.h"
#include "Quorvane/LaunchOptions.h"
#include "Quorvane/SimulatedControls.h"
#include "Quorvane/SimulatedSystemDisplayPreferences.h"
#include "Quorvane/WorkspaceEvents.h"
#include "QuorvaneCore/SettingsStore.h"
#include "QuorvaneMac/FocusedWindowProvider.h"
#include "QuorvaneMac/MacControlBackend.h"
#include "QuorvaneMac/SystemDisplayPreferences.h"

#include <algorithm>
#include <iterator>
#include <utility>

namespace quorvane {
namespace {

constexpr std::string_view savedScreenPrefix = "Saved screen · ";

} // namespace

std::shared_ptr<AppModel> AppModel::create(AppEnvironment environment, Options options)
{
    const std::vector<std::string> arguments = environment.launch.arguments();
    const bool demo = options.simulation.value_or(
        launchesDemo(arguments, environment.platform.workspace.mainBundleIdentifier()));
    const bool isTemporary
        = !lastingSettingsLocation(options.settingsURL, arguments, demo, environment.launch);
    std::filesystem::path location
        = settingsLocation(options.settingsURL, arguments, demo, environment.launch);
    const bool startAutomatically = options.startAutomatically;

    auto model = std::make_shared<AppModel>(
        Passkey(), environment, std::move(options), demo, std::move(location));
    if (isTemporary)
        model->m_temporarySettingsFolder = model->settingsURL.parent_path();
    if (!startAutomatically)
        return model;
    model->connectCallbacks();
    spawn(environment.executor, runStart(model));
    return model;
}

AppModel::AppModel(Passkey, AppEnvironment environment, Options options, bool demo,
    std::filesystem::path settingsLocation)
    : now(environment.executor.wallNow())
    , preview([this] { presentPreview(); })
    , loginEnabled(environment.loginItems.status() == LoginItemStatus::enabled)
    , loginNeedsApproval(environment.loginItems.status() == LoginItemStatus::requiresApproval)
    , isDemo(demo)
    , settingsURL(std::move(settingsLocation))
    , injectedControlBackend(options.controlBackend)
    , injectedSystemDisplayBackend(options.systemDisplayBackend)
    , injectedHardwareDiscovery(std::move(options.hardwareDiscovery))
    , m_executor(environment.executor)
    , m_shell(environment.shell)
    , m_platform(environment.platform)
    , m_workspace(environment.platform.workspace)
    , m_loginItems(environment.loginItems)
    , m_applicationCatalog(environment.applicationCatalog)
    , m_openPanel(environment.openPanel)
    , m_store(std::make_shared<SettingsStore>(settingsURL))
    , m_hardware(std::make_shared<MacControlBackend>(environment.platform))
    , m_systemDisplay(std::make_shared<SystemDisplayPreferences>(environment.platform))
    , m_simulatedSystemDisplay(std::make_shared<SimulatedSystemDisplayPreferences>())
    , m_simulated(std::make_shared<SimulatedControls>())
    , m_driver(std::make_shared<ControlDriver>())
    , m_focus(std::make_unique<FocusedWindowProvider>(environment.platform))
    , m_spaceProvider(std::make_unique<SpaceProvider>(environment.platform))
    , m_events(std::make_unique<WorkspaceEvents>(environment.platform, environment.executor))
    , m_brightnessKeys(std::make_unique<BrightnessKeyMonitor>(environment.platform))
    , m_configurationRevisions(configuration.observe([this] { ++m_configurationRevision; }))
{
}

AppModel::~AppModel() { cancelTrackedTasks(); }

void AppModel::cancelTrackedTasks() noexcept
{
    std::vector<TaskHandle> running;
    const auto collect = [&](const auto& handles) {
        for (const auto& entry : handles)
            running.push_back(entry.second);
    };
    collect(tasks.get());
    collect(modeTasks.get());
    collect(restoreTasks.get());
    collect(ruleEditRestorations.get());
    if (const auto& edit = liveRuleEdit.get())
        running.insert(running.end(), edit->commands.begin(), edit->commands.end());
    for (const auto* handle : {&keyReadTask.get(), &previewTask.get(), &previewTimer.get(),
             &systemDisplayTask.get(), &ruleCopyConfirmationTask.get(), &pollingTask.get()}) {
        if (*handle)
            running.push_back(**handle);
    }
    for (const TaskHandle& task : running)
        task.cancel();
}

std::shared_ptr<SystemDisplayBackend> AppModel::sharedSystemDisplayBackend()
{
    if (injectedSystemDisplayBackend)
        return {std::shared_ptr<SystemDisplayBackend>(), injectedSystemDisplayBackend};
    if (isDemo)
        return m_simulatedSystemDisplay;
    return m_systemDisplay;
}

void AppModel::connectCallbacks()
{
    const std::weak_ptr<AppModel> weakModel = weak_from_this();
    m_events->changed = [weakModel](bool hardware) {
        const auto model = weakModel.lock();
        if (!model || model->isDemo)
            return;
        if (hardware) {
            spawn(model->m_executor, refreshHardwareOf(weakModel));
            return;
        }
        model->contextChanged();
    };
    m_events->suspended = [weakModel] {
        if (const auto model = weakModel.lock())
            model->suspend();
    };
    m_focus->changed = [weakModel] {
        if (const auto model = weakModel.lock())
            model->contextChanged();
    };
    m_brightnessKeys->pressed = [weakModel](BrightnessKeyDirection direction) {
        const auto model = weakModel.lock();
        return model && model->brightnessKeyPressed(direction);
    };
}

void AppModel::presentPreview()
{
    if (displayTestPresenter)
        displayTestPresenter->update(*this);
}

Task<void> AppModel::runStart(std::shared_ptr<AppModel> model) { co_await model->start(); }

Task<void> AppModel::refreshHardwareOf(std::weak_ptr<AppModel> weakModel)
{
    if (const auto model = weakModel.lock())
        co_await model->refreshHardware();
}

Task<void> AppModel::start()
{
    try {
        configuration.set(co_await m_store->load());
    } catch (const CancellationError&) {
        throw;
    } catch (const Error& error) {
        // The default document stays, and the locked store never overwrites the file.
        settingsError.set(error.what());
    }
    // A quit during start-up owns the rest: nothing may start after its clean-up.
    if (isQuitting.get())
        co_return;
    selectedProfileID.set(configuration->activeProfileID);
    refreshApps();
    if (isDemo)
        co_await setupDemo();
    else
        co_await refreshHardware();
    if (isQuitting.get())
        co_return;
    queueProfileResolutions(std::nullopt);
    // One write, once start-up has settled what the file holds (the first run creates it): what
    // it captured is on disk before anything is applied.
    if (!settingsError.get()) {
        const Configuration written = configuration.get();
        persist();
        co_await *saveTask.get();
        if (isQuitting.get())
            co_return;
        // What start-up learned while that write ran (a screen seen meanwhile) follows it.
        if (configuration.get() != written)
            persist();
    }
    isLoaded.set(true);
    updateBrightnessKeys();
    resolveAndApply(false);
    pollingTask.set(spawn(m_executor, poll(weak_from_this())));
}

void AppModel::persist()
{
    if (settingsError.get())
        return;
    if (m_waitingSave && m_waitingSave->document) {
        m_waitingSave->document = configuration.get();
        return;
    }
    auto pending = std::make_shared<PendingSave>(PendingSave{.document = configuration.get()});
    const std::optional<TaskHandle> previous = saveTask.get();
    // Only a save that waits behind another takes the documents requested after it; the first
    // one writes its own, so that its failure is reported as its own.
    m_waitingSave = previous && !previous->isFinished() ? pending : nullptr;
    saveTask.set(spawn(m_executor, save(previous, m_store, std::move(pending), weak_from_this())));
}

Task<void> AppModel::save(std::optional<TaskHandle> previous, std::shared_ptr<SettingsStore> store,
    std::shared_ptr<PendingSave> pending, std::weak_ptr<AppModel> weakModel)
{
    if (previous)
        co_await *previous;
    // Taken now, so that the saves requested while this one waited are written as one.
    Configuration copy = std::move(*pending->document);
    pending->document.reset();
    try {
        co_await store->save(std::move(copy));
    } catch (const CancellationError&) {
        throw;
    } catch (const Error& error) {
        if (const auto model = weakModel.lock())
            model->settingsSaveFailed(error);
    }
}

void AppModel::settingsSaveFailed(const Error& error)
{
    // Saves queued behind a failed one fail too, with the locked store's refusal; that text
    // would hide the real reason.
    if (!settingsError.get())
        settingsError.set(error.what());
    invalidateSystemDisplayRequest();
    m_scheduler.cancel();
    cancelKeyRead();
    for (const ControlKey& key : keysOf(tasks.get()))
        cancelCommand(key);
    for (const std::string& displayID : keysOf(modeTasks.get()))
        cancelModeCommand(displayID);
    cancelPreview();
    updateBrightnessKeys();
}

bool AppModel::canApplyAutomatically() const
{
    return isLoaded.get() && !settingsError.get() && configuration->automationEnabled
        && !isSuspended.get() && !isQuitting.get() && !isRefreshing.get()
        && pendingDefaultCaptureSaves.get() == 0;
}

const Profile& AppModel::selectedProfile() const
{
    const CopyOnWriteVector<Profile>& profiles = configuration->profiles;
    const auto isSelected
        = [&](const Profile& profile) { return selectedProfileID.get() == profile.id; };
    if (m_selectedPosition < profiles.size() && isSelected(profiles[m_selectedPosition]))
        return profiles[m_selectedPosition];
    const auto selected = std::ranges::find_if(profiles, isSelected);
    if (selected == profiles.end())
        return configuration->activeProfile();
    m_selectedPosition = static_cast<std::size_t>(selected - profiles.begin());
    return *selected;
}

std::vector<Desktop> AppModel::allSpaces() const
{
    std::vector<Desktop> spaces;
    std::set<std::string> seen;
    for (const DisplayDevice& display : displays.get()) {
        const auto snapshot = spacesByDisplay->find(display.id);
        if (snapshot == spacesByDisplay->end())
            continue;
        for (const Desktop& desktop : snapshot->second.desktops) {
            if (seen.insert(desktop.id).second)
                spaces.push_back(desktop);
        }
    }
    return spaces;
}

std::vector<DisplayReference> AppModel::knownScreens() const
{
    std::vector<DisplayReference> screens = configuration->knownDisplays;
    const auto isListed = [&](const std::string& id) {
        return std::ranges::any_of(
            screens, [&](const DisplayReference& screen) { return screen.id == id; });
    };
    // The map keeps its keys in ascending order.
    for (const std::string& id : keysOf(configuration->defaultSettings().displays)) {
        if (!isListed(id))
            screens.push_back({.id = id, .name = std::string(savedScreenPrefix) + id});
    }
    if (const auto& names = configuration->displayNames) {
        for (DisplayReference& screen : screens) {
            if (const auto name = names->find(screen.id); name != names->end())
                screen.name = name->second;
        }
    }
    return screens;
}

std::optional<ControlKey> AppModel::builtinBrightnessKey() const
{
    const auto builtIn = std::ranges::find_if(
        displays.get(), [](const DisplayDevice& display) { return display.isBuiltIn; });
    if (builtIn == displays->end())
        return std::nullopt;
    return ControlKey{
        .target = ControlTarget::display(builtIn->id), .setting = SettingKey::brightness};
}

} // namespace quorvane
