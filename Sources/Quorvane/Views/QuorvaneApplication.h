// QuorvaneApplication.h: the application object: the one model on the simulated Mac, its
// windows, and the requests to end it.
#pragma once

#include "Foundation/Error.h"
#include "Quorvane/LaunchOptions.h"
#include "Quorvane/Observable.h"
#include "Quorvane/Views/SingleInstance.h"

#include <chrono>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace quorvane {

class AppModel;
class ApplicationShell;
class MainWindow;
class MenuBarExtra;
class QtApplicationShell;
class QtExecutor;
class QtOpenPanel;
class SimulatedApplicationCatalog;
class SimulatedLaunchEnvironment;
class SimulatedLoginItems;
class SimulatedMac;
class SettingsErrorLog;
class TerminationHandler;
class TerminationRequests;

/// Owns the model for the life of the process. Outside demo mode the platform layer runs on a
/// simulated Mac: the world file named by QUORVANE_SIMULATED_MAC, else a built-in display and one
/// external monitor. In either mode the installed applications are the simulated catalog's
/// defaults, and the open panel that picks among them is a window of the views. Every request to
/// end (Quit, the session, SIGTERM, SIGINT, SIGHUP) goes through the model's orderly quit; the
/// event loop ends once it is prepared.
///
/// One copy runs per settings file: a launch on a file that another running copy has asks that
/// copy to open its main window, and builds nothing itself (hasHandedOver()). A demo in a new
/// temporary folder has a file of its own.
///
/// Build it on the main thread inside a running QApplication that does not quit when its last
/// window closes.
class QuorvaneApplication final {
public:
    struct Launch {
        /// The command line, the program's own path first.
        std::vector<std::string> arguments;
        /// The folder that holds the "Quorvane" settings folder.
        std::filesystem::path configurationFolder;
        /// How long a launch on a settings file that another copy has waits for that copy to
        /// answer, or to let go of the file when it is quitting.
        std::chrono::milliseconds handOverWait = SingleInstance::defaultHandOverWait;
    };

    /// Starts the model and shows the main window and the menu-bar extra, or hands over to the
    /// copy that runs on the same settings file; when that copy is quitting, starts once it has
    /// ended. Throws SettingsPathRefusal before anything is made or written when someone else
    /// may change the settings path (trustedSettingsFile()), WorldFileError when the world file
    /// cannot be used, and Error when the copy that runs neither answers nor ends in time.
    explicit QuorvaneApplication(Launch launch);
    ~QuorvaneApplication();

    // The model and the windows refer to the members by address.
    QuorvaneApplication(const QuorvaneApplication&) = delete;
    QuorvaneApplication& operator=(const QuorvaneApplication&) = delete;

    /// Whether another copy runs on the settings file and was asked to show itself. Nothing else
    /// exists then: the process should end.
    [[nodiscard]] bool hasHandedOver() const { return m_hasHandedOver; }

    [[nodiscard]] AppModel& model() const { return *m_model; }
    [[nodiscard]] MainWindow& mainWindow() const { return *m_mainWindow; }
    [[nodiscard]] MenuBarExtra& menuBarExtra() const { return *m_menuBarExtra; }
    [[nodiscard]] ApplicationShell& shell() const;

private:
    /// Un-minimised, raised and active, under the panel it waits on if one is open.
    void openMainWindow();

    // First, so that the settings file stays this copy's until everything else is gone.
    std::unique_ptr<SingleInstance> m_instance;
    bool m_hasHandedOver = false;
    std::unique_ptr<QtExecutor> m_executor;
    std::unique_ptr<SimulatedMac> m_mac;
    std::unique_ptr<SimulatedLaunchEnvironment> m_launch;
    std::unique_ptr<SimulatedLoginItems> m_loginItems;
    std::unique_ptr<SimulatedApplicationCatalog> m_applicationCatalog;
    std::unique_ptr<QtOpenPanel> m_openPanel;
    std::unique_ptr<TerminationHandler> m_termination;
    std::unique_ptr<QtApplicationShell> m_shell;
    std::shared_ptr<AppModel> m_model;
    std::unique_ptr<SettingsErrorLog> m_settingsErrors;
    std::unique_ptr<TerminationRequests> m_requests;
    Subscription m_quitSubscription;
    Subscription m_saveSubscription;
    std::unique_ptr<MainWindow> m_mainWindow;
    std::unique_ptr<MenuBarExtra> m_menuBarExtra;
    std::optional<std::filesystem::path> m_demoFolder; // a demo's new folder, removed at the end
};

/// Why QuorVane does not start on a settings path: its text names the folder, symbolic link or file
/// on the way that someone else may change, whose it is, and what to do instead.
class SettingsPathRefusal final : public Error {
public:
    using Error::Error;
};

/// The settings file at `settingsPath`, resolved once (resolvedFile()) for every part to use:
/// relative to the working folder, with its links followed. Throws SettingsPathRefusal, before
/// anything is made, when a folder or link on the way, or the file, is not this user's or root's
/// (the file: not this user's), or, for root, others may write it (a folder with the sticky bit,
/// /tmp say, aside): another user could otherwise lead the saves and the lock wherever they like.
[[nodiscard]] std::filesystem::path trustedSettingsFile(const std::filesystem::path& settingsPath);

/// Names the running Qt application: "QuorVane" wherever the desktop shows its name to the user
/// (the tray's title, window titles), "Quorvane" where Qt derives paths and the window class.
void nameApplication();

/// Why no window can open, in one line that ends with the command line (its path first) run
/// under Xvfb, quoted for a POSIX shell: neither DISPLAY nor WAYLAND_DISPLAY names a display and
/// QT_QPA_PLATFORM chooses no platform. Absent otherwise.
[[nodiscard]] std::optional<std::string> missingDisplayMessage(
    const EnvironmentLookup& variable, const std::vector<std::string>& arguments);

/// The process's environment variables; an empty value counts as not set.
[[nodiscard]] std::optional<std::string> processVariable(std::string_view name);

} // namespace quorvane
