#include "Quorvane/Views/SingleInstance.h"

#include "QuorvaneViewTests/ViewTestSupport.h"

#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

#include <csignal>
#include <filesystem>
#include <memory>

namespace quorvane {
namespace {

/// XDG_RUNTIME_DIR names a new private folder until the end of the scope.
class ScopedRuntimeFolder final {
public:
    ScopedRuntimeFolder()
        : m_previous(qgetenv("XDG_RUNTIME_DIR"))
    {
        qputenv("XDG_RUNTIME_DIR", QByteArray::fromStdString(m_folder.path().string()));
    }
    ~ScopedRuntimeFolder()
    {
        if (m_previous.isEmpty())
            qunsetenv("XDG_RUNTIME_DIR");
        else
            qputenv("XDG_RUNTIME_DIR", m_previous);
    }
    ScopedRuntimeFolder(const ScopedRuntimeFolder&) = delete;
    ScopedRuntimeFolder& operator=(const ScopedRuntimeFolder&) = delete;

private:
    TemporaryFolder m_folder; // mkdtemp: private to the user, as a runtime folder must be
    QByteArray m_previous;
};

TEST(SingleInstanceTest, OneCopyPerSettingsFileWhateverPathNamesIt)
{
    testApplication();
    const ScopedRuntimeFolder runtime;
    const TemporaryFolder folder;
    const std::filesystem::path file = folder.path() / "settings.json";
    std::filesystem::create_symlink("settings.json", folder.path() / "link.json");
    const std::filesystem::path sameFile[]
        = {file, folder.path() / "link.json", folder.path() / "missing" / ".." / "settings.json"};
    int handOvers = 0;
    {
        SingleInstance running(file);
        ASSERT_FALSE(running.isTakenByAnotherCopy());
        running.onHandOver([&handOvers] { ++handOvers; });
        for (const std::filesystem::path& path : sameFile) {
            SCOPED_TRACE(path);
            const SingleInstance later(path);
            ASSERT_TRUE(later.isTakenByAnotherCopy());
            later.handOver();
        }
        EXPECT_FALSE(SingleInstance(folder.path() / "other.json").isTakenByAnotherCopy());
        EXPECT_TRUE(runEventLoopUntil([&handOvers] { return handOvers == 3; }));
    }
    EXPECT_FALSE(SingleInstance(file).isTakenByAnotherCopy()) << "free once its copy has ended";
}

/// The application as a process of its own on `settingsFile`, on the platform the tests use, its
/// runtime folder in `runtimeFolder`.
std::unique_ptr<QProcess> startCopy(
    const std::filesystem::path& settingsFile, const std::filesystem::path& runtimeFolder)
{
    auto process = std::make_unique<QProcess>();
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), QString::fromStdString(runtimeFolder));
    process->setProcessEnvironment(environment);
    process->setProcessChannelMode(QProcess::ForwardedChannels);
    process->start(QStringLiteral(QUORVANE_EXECUTABLE),
        {QStringLiteral("--settings-path"), QString::fromStdString(settingsFile)});
    return process;
}

// Under the sanitizers a copy takes seconds to start; the waits end as soon as it is there.
constexpr int startLimit = 60'000;

/// Whether the copy runs on its settings file: it writes the file at the end of its start-up.
bool hasStarted(const QProcess& process, const std::filesystem::path& settingsFile)
{
    return runEventLoopUntil([&] { return std::filesystem::exists(settingsFile); }, startLimit)
        && process.state() == QProcess::Running;
}

/// Ends the copy as the session would, and says whether it quit in order with status 0.
bool quitsCleanly(QProcess& process)
{
    process.terminate(); // SIGTERM
    return process.waitForFinished(startLimit) && process.exitStatus() == QProcess::NormalExit
        && process.exitCode() == 0;
}

TEST(SingleInstanceTest, SecondLaunchHandsOverAndAKilledCopyBlocksNothing)
{
    testApplication();
    const TemporaryFolder folder;
    const std::filesystem::path runtime = folder.path() / "run";
    std::filesystem::create_directory(runtime);
    std::filesystem::permissions(runtime, std::filesystem::perms::owner_all);
    const std::filesystem::path file = folder.path() / "settings.json";
    const std::filesystem::path otherFile = folder.path() / "other.json";

    const auto first = startCopy(file, runtime);
    ASSERT_TRUE(hasStarted(*first, file));
    const auto second = startCopy(file, runtime);
    ASSERT_TRUE(second->waitForFinished(startLimit)) << "the second launch keeps running";
    EXPECT_EQ(second->exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(second->exitCode(), 0);
    EXPECT_EQ(first->state(), QProcess::Running);

    const auto beside = startCopy(otherFile, runtime);
    EXPECT_TRUE(hasStarted(*beside, otherFile));

    ::kill(static_cast<pid_t>(first->processId()), SIGKILL);
    ASSERT_TRUE(first->waitForFinished(startLimit));
    std::filesystem::remove(file);
    const auto afterKill = startCopy(file, runtime);
    EXPECT_TRUE(hasStarted(*afterKill, file));

    EXPECT_TRUE(quitsCleanly(*beside));
    EXPECT_TRUE(quitsCleanly(*afterKill));
}

} // namespace
} // namespace quorvane
