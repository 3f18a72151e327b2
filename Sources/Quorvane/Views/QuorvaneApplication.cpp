#include "Quorvane/Views/QuorvaneApplication.h"

#include "Concurrency/Executor.h"
#include "Foundation/AtomicFile.h"
#include "Foundation/FileTrust.h"
#include "Quorvane/AppModel.h"
#include "Quorvane/Views/MainWindow.h"
#include "Quorvane/Views/MenuBarExtra.h"
#include "Quorvane/Views/MenuView.h"
#include "Quorvane/Views/QtApplicationShell.h"
#include "Quorvane/Views/QtExecutor.h"
#include "Quorvane/Views/QtOpenPanel.h"
#include "Quorvane/Views/SettingsErrorReport.h"
#include "Quorvane/Views/SingleInstance.h"
#include "Quorvane/Views/TerminationHandler.h"
#include "SimulatedMac/SimulatedApplication.h"
#include "SimulatedMac/SimulatedApplicationCatalog.h"
#include "SimulatedMac/SimulatedMac.h"
#include "SimulatedMac/WorldFile.h"

#include <QApplication>
#include <QCoreApplication>
#include <QEvent>
#include <QGuiApplication>
#include <QObject>
#include <QSocketNotifier>

#include <cstdio>
#include <cstdlib>
#include <string_view>
#include <unistd.h>

namespace quorvane {

/// Turns every way the system asks the application to end into a request to the handler: the
/// application's Quit event (which Qt sends for the session's end and for quit()) and the
/// termination signals. The session manager's requests to commit data or save state are
/// checkpoints as often as the session's end, so they end nothing: the settings are saved as
/// they change.
class TerminationRequests final : public QObject {
public:
    explicit TerminationRequests(TerminationHandler& handler)
        : m_handler(handler)
    {
        qApp->installEventFilter(this);
        // Usually caught since main began; a signal that came meanwhile waits in the pipe.
        const std::optional<int> signalPipe = catchTerminationSignals();
        if (!signalPipe)
            return; // without the pipe the signals keep their default: the process ends
        m_signals = new QSocketNotifier(*signalPipe, QSocketNotifier::Read, this);
        connect(m_signals, &QSocketNotifier::activated, this, [this] { drainSignals(); });
    }

    ~TerminationRequests() override
    {
        qApp->removeEventFilter(this);
        if (m_signals)
            releaseTerminationSignals();
    }

    // Qt's default answer to Quit would close every window and end the loop at once; the
    // handler ends it itself once the model's quit is prepared.
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (watched != qApp || event->type() != QEvent::Quit)
            return false;
        m_handler.requestTermination();
        return true;
    }

private:
    void drainSignals()
    {
        char bytes[16];
        while (::read(m_signals->socket(), bytes, sizeof bytes) > 0) { }
        m_handler.requestTermination();
    }

    TerminationHandler& m_handler;
    QSocketNotifier* m_signals = nullptr;
};

QuorvaneApplication::QuorvaneApplication(Launch launch)
    : m_executor(std::make_unique<QtExecutor>())
    , m_mac(std::make_unique<SimulatedMac>(*m_executor))
    , m_launch(std::make_unique<SimulatedLaunchEnvironment>())
    , m_loginItems(std::make_unique<SimulatedLoginItems>())
    , m_applicationCatalog(std::make_unique<SimulatedApplicationCatalog>())
    , m_openPanel(std::make_unique<QtOpenPanel>(*m_applicationCatalog))
    , m_termination(std::make_unique<TerminationHandler>([] { QCoreApplication::exit(0); }))
    , m_shell(std::make_unique<QtApplicationShell>(*m_termination))
{
    worldFromEnvironment(*m_mac);
    installApplicationDefaults(*m_applicationCatalog);
    m_launch->commandLine = std::move(launch.arguments);
    m_launch->applicationSupportFolder = std::move(launch.configurationFolder);
    // Resolved as the settings path is, since the store follows no link on the demo's way either.
    m_launch->temporaryFolder = resolvedFile(std::filesystem::temp_directory_path());

    const bool isDemo
        = launchesDemo(m_launch->commandLine, m_mac->platform().workspace.mainBundleIdentifier());
    std::optional<std::filesystem::path> claimedFile;
    if (const std::optional<std::filesystem::path> settingsPath
        = lastingSettingsLocation(std::nullopt, m_launch->commandLine, isDemo, *m_launch)) {
        // Resolved once: the file checked is the file locked and saved.
        const std::filesystem::path settingsFile = trustedSettingsFile(*settingsPath);
        m_instance = std::make_unique<SingleInstance>(settingsFile);
        if (m_instance->isTakenByAnotherCopy() && m_instance->handOver(launch.handOverWait)) {
            m_hasHandedOver = true;
            return;
        }
        if (const std::optional<std::string>& problem = m_instance->lockFileProblem())
            std::fputs((*problem + "\n").c_str(), stderr);
        // The file claimed, not the path: a link retargeted meanwhile must not get this
        // copy's document.
        claimedFile = m_instance->claim().settingsFile;
    }

    m_model = AppModel::create(AppEnvironment{.executor = *m_executor,
                                   .platform = m_mac->platform(),
                                   .launch = *m_launch,
                                   .loginItems = *m_loginItems,
                                   .shell = *m_shell,
                                   .applicationCatalog = *m_applicationCatalog,
                                   .openPanel = *m_openPanel},
        AppModel::Options{.settingsURL = claimedFile, .startAutomatically = true});
    if (!claimedFile)
        m_demoFolder = m_model->settingsURL.parent_path();
    // At once, not when a window appears: a quit or log-out before that must still restore the
    // displays and wait for the last save.
    m_termination->setModel(m_model);
    m_settingsErrors = std::make_unique<SettingsErrorLog>(
        *m_model, [](const std::string& text) { std::fputs((text + "\n").c_str(), stderr); });
    m_requests = std::make_unique<TerminationRequests>(*m_termination);

    m_mainWindow = std::make_unique<MainWindow>(*m_model, *m_shell);
    m_menuBarExtra = std::make_unique<MenuBarExtra>(*m_model);
    QObject::connect(&m_menuBarExtra->menuView(), &MenuView::mainWindowRequested,
        m_mainWindow.get(), [this] { openMainWindow(); });
    if (m_instance) {
        m_instance->onHandOver([this] { openMainWindow(); });
        m_quitSubscription = m_model->isQuitting.observe([this] {
            if (*m_model->isQuitting)
                m_instance->stopHandOvers();
        });
        // A folder above the settings folder may have been moved and put back, out of the
        // lock's watch.
        m_saveSubscription = m_model->saveTask.observe([this] { m_instance->keepLockInPlace(); });
    }
    m_mainWindow->show();
}

namespace {

/// Why the settings file at `settingsFile` is refused at start for `breach` on its way, and
/// what to do instead.
std::string refusalMessage(const std::filesystem::path& settingsFile, const Breach& breach)
{
    const bool isRoot = ::geteuid() == 0;
    const std::string refused = std::string(isRoot ? "QuorVane run by root" : "QuorVane")
        + " refuses the settings file \"" + settingsFile.string() + "\": " + describe(breach)
        + ". ";
    if (!isRoot)
        return refused + "Choose a settings path of your own.";
    if (breach.owner != 0)
        return refused + "Run QuorVane as " + userName(breach.owner) + ".";
    return refused + "Let root alone change it, or run QuorVane as another user.";
}

/// `text` as one word of a POSIX shell: as it is when the shell reads it so, else in single
/// quotes. "~" needs them too, as a shell may expand it after "=".
std::string shellWord(std::string_view text)
{
    constexpr std::string_view plain
        = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789_@%+=:,./-";
    if (!text.empty() && text.find_first_not_of(plain) == std::string_view::npos)
        return std::string(text);
    std::string word = "'";
    for (const char character : text)
        word += character == '\'' ? std::string("'\\''") : std::string(1, character);
    return word + "'";
}

/// Back in front of the other windows: un-minimised, raised and active.
void bringToFront(QWidget& window)
{
    window.setWindowState(window.windowState() & ~Qt::WindowMinimized);
    window.show();
    window.raise();
    window.activateWindow();
}

} // namespace

void QuorvaneApplication::openMainWindow()
{
    bringToFront(*m_mainWindow);
    // A panel the window waits on comes up over it and takes the keyboard, which the window
    // cannot have until the panel is answered.
    QWidget* panel = QApplication::activeModalWidget();
    if (panel && panel->parentWidget() && panel->parentWidget()->window() == m_mainWindow.get())
        bringToFront(*panel);
}

// The views let go of the model before it goes, and the model's tasks die with the executor
// while the simulated Mac and the shell they use are still there.
QuorvaneApplication::~QuorvaneApplication()
{
    m_menuBarExtra.reset();
    m_mainWindow.reset();
    m_requests.reset();
    m_settingsErrors.reset();
    m_model.reset();
    m_executor.reset();
    // A quit removes it too; an object that ends without one (a test's) must not leave it.
    if (m_demoFolder) {
        std::error_code ignored; // what stays is the temporary folder's to clean up
        std::filesystem::remove_all(*m_demoFolder, ignored);
    }
}

ApplicationShell& QuorvaneApplication::shell() const { return *m_shell; }

std::filesystem::path trustedSettingsFile(const std::filesystem::path& settingsPath)
{
    try {
        return resolvedFile(settingsPath);
    } catch (const UntrustedPathError& error) {
        std::error_code ignored;
        const std::filesystem::path absolute
            = std::filesystem::absolute(settingsPath, ignored).lexically_normal();
        throw SettingsPathRefusal(
            refusalMessage(absolute.empty() ? settingsPath : absolute, error.breach()));
    }
}

void nameApplication()
{
    QCoreApplication::setApplicationName(QStringLiteral("Quorvane"));
    QGuiApplication::setApplicationDisplayName(QStringLiteral("QuorVane"));
}

std::optional<std::string> missingDisplayMessage(
    const EnvironmentLookup& variable, const std::vector<std::string>& arguments)
{
    if (variable("DISPLAY") || variable("WAYLAND_DISPLAY") || variable("QT_QPA_PLATFORM"))
        return std::nullopt;
    std::string command = "xvfb-run -a";
    for (const std::string& argument : arguments)
        command += " " + shellWord(argument);
    if (arguments.empty())
        command += " quorvane";
    return "QuorVane needs a graphical display, and neither DISPLAY nor WAYLAND_DISPLAY is set; "
           "to run it without one, use Xvfb: "
        + command;
}

std::optional<std::string> processVariable(std::string_view name)
{
    const char* value = std::getenv(std::string(name).c_str());
    if (!value || *value == '\0')
        return std::nullopt;
    return std::string(value);
}

} // namespace quorvane
