#include "Quorvane/Views/SingleInstance.h"

#include "Foundation/AtomicFile.h"
#include "Foundation/Error.h"
#include "Foundation/FileDescriptor.h"
#include "Foundation/Format.h"
#include "Quorvane/AppModel.h"
#include "Quorvane/Views/ClaimQueries.h"
#include "Quorvane/Views/MainWindow.h"
#include "Quorvane/Views/QuorvaneApplication.h"
#include "QuorvaneViewTests/ApplicationProcess.h"
#include "QuorvaneViewTests/ViewTestSupport.h"

#include <QLocalServer>
#include <QLocalSocket>
#include <QObject>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <QSysInfo>
#include <QTimer>

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <csignal>
#include <cstddef>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace quorvane {
namespace {

using namespace std::chrono_literals;

constexpr uid_t nobody = 65534;

/// XDG_RUNTIME_DIR names `folder`, or is unset, until the end of the scope.
class ScopedRuntimeVariable final {
public:
    explicit ScopedRuntimeVariable(const std::optional<std::filesystem::path>& folder)
        : m_previous(qgetenv("XDG_RUNTIME_DIR"))
    {
        if (folder)
            qputenv("XDG_RUNTIME_DIR", QByteArray::fromStdString(folder->string()));
        else
            qunsetenv("XDG_RUNTIME_DIR");
    }
    ~ScopedRuntimeVariable()
    {
        if (m_previous.isEmpty())
            qunsetenv("XDG_RUNTIME_DIR");
        else
            qputenv("XDG_RUNTIME_DIR", m_previous);
    }
    ScopedRuntimeVariable(const ScopedRuntimeVariable&) = delete;
    ScopedRuntimeVariable& operator=(const ScopedRuntimeVariable&) = delete;

private:
    QByteArray m_previous;
};

/// XDG_RUNTIME_DIR names a new private folder until the end of the scope.
class ScopedRuntimeFolder final {
private:
    TemporaryFolder m_folder; // mkdtemp: private to the user, as a runtime folder must be
    ScopedRuntimeVariable m_variable{m_folder.path()};
};

/// A new folder that only its owner may enter, as a runtime folder must be.
std::filesystem::path privateFolder(const std::filesystem::path& path)
{
    std::filesystem::create_directory(path);
    std::filesystem::permissions(path, std::filesystem::perms::owner_all);
    return path;
}

/// Holds the claim on a settings file as a copy out of reach would (in another network
/// namespace, or hung), with `content` in its lock file, until the end of the scope.
class UnreachableCopy final {
public:
    UnreachableCopy(const std::filesystem::path& settingsFile, const std::string& content)
        : m_descriptor(::open(instanceClaim(settingsFile).lockFile->c_str(),
            O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644))
    {
        if (m_descriptor < 0 || ::flock(m_descriptor, LOCK_EX | LOCK_NB) != 0
            || ::write(m_descriptor, content.data(), content.size())
                != static_cast<ssize_t>(content.size()))
            throw std::runtime_error("Could not hold the lock.");
    }
    ~UnreachableCopy() { ::close(m_descriptor); }
    UnreachableCopy(const UnreachableCopy&) = delete;
    UnreachableCopy& operator=(const UnreachableCopy&) = delete;

private:
    int m_descriptor;
};

std::string notAnswering(const std::filesystem::path& file, const std::string& holder)
{
    return "QuorVane already runs on the settings file \"" + file.string() + "\"" + holder
        + " but does not answer.";
}

/// What a copy that holds the lock writes into it.
std::string lockRecord(std::int64_t process, const std::string& socketName)
{
    return formatInteger(process) + "\n" + socketName + "\n";
}

/// The text of the Error that handOver() throws; absent when it handed over or claimed the file.
std::optional<std::string> handOverError(SingleInstance& instance, std::chrono::milliseconds wait)
{
    try {
        const bool handedOver = instance.handOver(wait);
        ADD_FAILURE() << (handedOver ? "handed over" : "claimed the file");
        return std::nullopt;
    } catch (const Error& error) {
        return error.what();
    }
}

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
            SingleInstance later(resolvedFile(path)); // as at start
            ASSERT_TRUE(later.isTakenByAnotherCopy());
            EXPECT_TRUE(later.handOver());
        }
        EXPECT_FALSE(SingleInstance(folder.path() / "other.json").isTakenByAnotherCopy());
        EXPECT_TRUE(runEventLoopUntil([&handOvers] { return handOvers == 3; }));
    }
    EXPECT_FALSE(SingleInstance(file).isTakenByAnotherCopy()) << "free once its copy has ended";
}

TEST(SingleInstanceTest, ALockThatNoRunningCopyHoldsNeverStopsALaunch)
{
    testApplication();
    const TemporaryFolder folder;
    const std::filesystem::path file = folder.path() / "settings.json";
    struct Case {
        const char* name;
        std::string lock;
    };
    const Case cases[] = {
        {"empty", ""},
        {"garbled", "\x01\xff not a process\n"},
        // This test program is alive and is not a copy of the application.
        {"another program's live process",
            formatInteger(::getpid()) + "\nQuorvaneViewTests\n"
                + QSysInfo::machineHostName().toStdString() + "\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::ofstream(*instanceClaim(file).lockFile, std::ios::binary | std::ios::trunc) << c.lock;
        const SingleInstance first(file);
        EXPECT_FALSE(first.isTakenByAnotherCopy());
        EXPECT_TRUE(SingleInstance(file).isTakenByAnotherCopy()) << "the claim holds";
    }
}

TEST(SingleInstanceTest, EveryCopySeesTheClaimWhateverItsRuntimeFolder)
{
    testApplication();
    const TemporaryFolder folder;
    const std::filesystem::path file = folder.path() / "settings.json";
    const std::filesystem::path runtime = privateFolder(folder.path() / "run");
    const std::filesystem::path other = privateFolder(folder.path() / "other");
    // A socket's path has room for 108 bytes.
    const std::filesystem::path deep = privateFolder(folder.path() / std::string(120, 'r'));
    struct Case {
        const char* name;
        std::optional<std::filesystem::path> running;
        std::optional<std::filesystem::path> later;
    };
    const Case cases[] = {
        {"another runtime folder", runtime, other},
        {"no runtime folder", runtime, std::nullopt},
        {"no runtime folder for the copy that runs", std::nullopt, runtime},
        {"a runtime folder too long for a socket's path", deep, deep},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        int handOvers = 0;
        std::optional<ScopedRuntimeVariable> environment(std::in_place, c.running);
        SingleInstance running(file);
        ASSERT_FALSE(running.isTakenByAnotherCopy());
        running.onHandOver([&handOvers] { ++handOvers; });
        environment.emplace(c.later);
        SingleInstance later(file);
        ASSERT_TRUE(later.isTakenByAnotherCopy());
        EXPECT_TRUE(later.handOver(1s));
        EXPECT_EQ(handOvers, 1);
    }
}

TEST(SingleInstanceTest, ALaunchThatGetsNoAnswerSaysWhichProcessHasTheFile)
{
    testApplication();
    const TemporaryFolder folder;
    const std::filesystem::path file = folder.path() / "settings.json";
    struct Case {
        const char* name;
        std::string lock;
        std::optional<std::string> answer; // absent: not listening
        std::string holder;
    };
    const std::string name = instanceClaim(file).socketName;
    // The test holds the lock, as the copy out of reach would.
    const std::int64_t self = ::getpid();
    const std::string named = " (process " + formatInteger(self) + ")";
    const Case cases[] = {
        {"out of reach", lockRecord(self, name), std::nullopt, named},
        {"out of reach, its lock naming another process, as in a container", lockRecord(1, name),
            std::nullopt, ""},
        // An ended copy's record, under a holder that wrote none (root's, say).
        {"out of reach, its lock as an ended copy left it", lockRecord(4242, name), std::nullopt,
            ""},
        {"out of reach, its lock unreadable", "42x\n" + name + "\n", std::nullopt, ""},
        {"out of reach, its lock naming no process", lockRecord(0, name), std::nullopt, ""},
        {"out of reach, its lock naming no socket", formatInteger(self) + "\n", std::nullopt, ""},
        {"out of reach, its lock naming a socket of no copy's",
            lockRecord(self, "quorvane-" + std::string(32, 'g')), std::nullopt, ""},
        // A holder that could not write its lock (root's, say) finds what another wrote.
        {"out of reach, its lock as root left it", "1\n", std::nullopt, ""},
        {"out of reach, its lock cut short", formatInteger(self) + "\nquorvane-12", std::nullopt,
            ""},
        {"listening, but never answering", lockRecord(self, name), "", named},
        {"listening, but answering something else", lockRecord(self, name), "?", named},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const UnreachableCopy holder(file, c.lock);
        QLocalServer listener;
        listener.setSocketOptions(QLocalServer::AbstractNamespaceOption);
        ASSERT_TRUE(
            !c.answer || listener.listen(QString::fromStdString(instanceClaim(file).socketName)));
        QObject::connect(&listener, &QLocalServer::newConnection, [&listener, &c] {
            while (QLocalSocket* connection = listener.nextPendingConnection())
                connection->write(c.answer->data(), static_cast<qint64>(c.answer->size()));
        });
        SingleInstance later(file);
        ASSERT_TRUE(later.isTakenByAnotherCopy());
        EXPECT_EQ(handOverError(later, 200ms), notAnswering(file, c.holder));
    }
}

TEST(SingleInstanceTest, ALaunchDuringAQuitRunsOnceTheQuittingCopyHasEnded)
{
    testApplication();
    const TemporaryFolder folder;
    const std::filesystem::path file = folder.path() / "settings.json";
    int handOvers = 0;
    auto quitting = std::make_unique<SingleInstance>(file);
    quitting->onHandOver([&handOvers] { ++handOvers; });
    quitting->stopHandOvers();

    SingleInstance later(file);
    ASSERT_TRUE(later.isTakenByAnotherCopy());
    EXPECT_EQ(handOverError(later, 200ms),
        notAnswering(file, " (process " + formatInteger(::getpid()) + ")"))
        << "the quitting copy still has the file";
    const QObject scope; // no timer outlives the test
    QTimer::singleShot(100ms, &scope, [&quitting] { quitting.reset(); });
    EXPECT_FALSE(later.handOver(5s)) << "claims the file once the quitting copy has ended";
    EXPECT_FALSE(quitting);
    EXPECT_FALSE(later.isTakenByAnotherCopy());
    EXPECT_EQ(handOvers, 0);

    later.onHandOver([&handOvers] { ++handOvers; });
    SingleInstance third(file);
    ASSERT_TRUE(third.isTakenByAnotherCopy());
    EXPECT_TRUE(third.handOver(1s)) << "the copy that took over takes hand-overs";
    EXPECT_EQ(handOvers, 1);
}

/// A copy that runs on `file` and counts the hand-overs it answers.
struct RunningCopy {
    explicit RunningCopy(const std::filesystem::path& file)
        : instance(std::make_unique<SingleInstance>(file))
    {
        if (instance->isTakenByAnotherCopy())
            throw std::runtime_error("The file is another copy's.");
        instance->onHandOver([this] { ++handOvers; });
    }
    std::unique_ptr<SingleInstance> instance;
    int handOvers = 0;
};

void copyFile(const std::filesystem::path& from, const std::filesystem::path& to)
{
    std::filesystem::copy_file(from, to, std::filesystem::copy_options::overwrite_existing);
}

/// Whether a process holds a lock on the file at `path`.
bool isLocked(const std::filesystem::path& path)
{
    const FileDescriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    return file.isOpen() && ::flock(file.get(), LOCK_SH | LOCK_NB) != 0;
}

/// Which file is at `path`, and when it was last written or changed, to the nanosecond.
std::array<std::int64_t, 5> fileVersion(const std::filesystem::path& path)
{
    struct stat status { };
    ::lstat(path.c_str(), &status);
    return {static_cast<std::int64_t>(status.st_ino), status.st_mtim.tv_sec, status.st_mtim.tv_nsec,
        status.st_ctim.tv_sec, status.st_ctim.tv_nsec};
}

// A copy must never run beside one that answers for its file, so a lost change cannot happen.
TEST(SingleInstanceTest, ALaunchAfterTheLockFileWasDeletedOrReplacedHandsOver)
{
    testApplication();
    const TemporaryFolder folder;
    const std::filesystem::path settings = folder.path() / "settings";
    const std::filesystem::path file = settings / "settings.json";
    const std::filesystem::path lock = *instanceClaim(file).lockFile;
    struct Case {
        const char* name;
        std::function<void()> change;
    };
    const Case cases[] = {
        {"left in place by a save beside it",
            [&] { writeFileAtomically(file, "{\"saved\": true}"); }},
        {"deleted", [&] { std::filesystem::remove(lock); }},
        {"replaced by a rename",
            [&] {
                copyFile(lock, settings / "x");
                std::filesystem::rename(settings / "x", lock);
            }},
        {"its folder restored from a copy",
            [&] {
                const std::filesystem::path backup = folder.path() / "settings.bak";
                std::filesystem::copy(settings, backup, std::filesystem::copy_options::recursive);
                std::filesystem::remove_all(settings);
                std::filesystem::rename(backup, settings);
            }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove_all(settings);
        // Makes the folder, as the settings store would.
        std::optional<RunningCopy> running(std::in_place, file);
        std::ofstream(file) << "{}";
        c.change();
        EXPECT_TRUE(runEventLoopUntil([&] { return isLocked(lock); }, 1000)) << "locked again";
        // The copy looks at its lock after every change, and writing it is one.
        const auto version = fileVersion(lock);
        EXPECT_FALSE(runEventLoopUntil([&] { return fileVersion(lock) != version; }, 500))
            << "written again at rest";
        {
            SingleInstance later(file);
            ASSERT_TRUE(later.isTakenByAnotherCopy());
            EXPECT_TRUE(later.handOver(1s));
        }
        EXPECT_EQ(running->handOvers, 1);
        EXPECT_TRUE(SingleInstance(file).isTakenByAnotherCopy()) << "the launch let go of all";
        running.reset();
        EXPECT_FALSE(SingleInstance(file).isTakenByAnotherCopy()) << "free once the copy ended";
    }
}

TEST(SingleInstanceTest, ALaunchDuringAQuitWaitsForTheQuittingCopyEvenWithoutItsLockFile)
{
    testApplication();
    const TemporaryFolder folder;
    const std::filesystem::path file = folder.path() / "settings.json";
    auto quitting = std::make_unique<RunningCopy>(file);
    quitting->instance->stopHandOvers();
    std::filesystem::remove(*instanceClaim(file).lockFile);

    SingleInstance later(file);
    ASSERT_TRUE(later.isTakenByAnotherCopy()) << "the quitting copy still has the socket name";
    EXPECT_EQ(handOverError(later, 200ms), notAnswering(file, ""));
    const QObject scope; // no timer outlives the test
    QTimer::singleShot(100ms, &scope, [&quitting] { quitting.reset(); });
    EXPECT_FALSE(later.handOver(5s)) << "claims the file once the quitting copy has ended";
    EXPECT_FALSE(quitting);
}

/// Makes the file a new settings file's lock would be: one of the ways it cannot be used.
struct UnusableLock {
    const char* name;
    std::function<void(const std::filesystem::path& lock)> make;
    std::string problem; // why the copy that runs does not use it
};

TEST(SingleInstanceTest, ALockFileThatCannotBeUsedIsLeftAloneAndTheSocketNameClaimsTheFile)
{
    testApplication();
    const TemporaryFolder folder;
    const std::filesystem::path precious = folder.path() / "precious.txt";
    const bool isRoot = ::geteuid() == 0;
    std::vector<UnusableLock> cases = {
        {"a link to another file",
            [&](const std::filesystem::path& lock) {
                std::filesystem::create_symlink(precious, lock);
            },
            "it is a symbolic link"},
        {"a link to nothing",
            [&](const std::filesystem::path& lock) {
                std::filesystem::create_symlink(folder.path() / "nothing", lock);
            },
            "it is a symbolic link"},
        {"a folder",
            [](const std::filesystem::path& lock) { std::filesystem::create_directory(lock); },
            "it is not a regular file"},
        {"a FIFO", [](const std::filesystem::path& lock) { ::mkfifo(lock.c_str(), 0644); },
            "it is not a regular file"},
        {"a second name of another file",
            [&](const std::filesystem::path& lock) {
                std::filesystem::create_hard_link(precious, lock);
            },
            "it has more than one hard link"},
    };
    // Root may open any file.
    if (!isRoot) {
        cases.push_back({"unreadable",
            [](const std::filesystem::path& lock) {
                std::ofstream(lock) << "1\n";
                std::filesystem::permissions(lock, std::filesystem::perms::none);
            },
            "Permission denied"});
    }
    for (const UnusableLock& c : cases) {
        SCOPED_TRACE(c.name);
        std::ofstream(precious) << "precious user data";
        const std::filesystem::path file = folder.path() / "settings.json";
        const std::filesystem::path lock = *instanceClaim(file).lockFile;
        c.make(lock);
        {
            RunningCopy running(file);
            EXPECT_EQ(running.instance->lockFileProblem(),
                "QuorVane does not use the lock file \"" + lock.string() + "\": " + c.problem
                    + ".");
            SingleInstance later(file);
            ASSERT_TRUE(later.isTakenByAnotherCopy());
            EXPECT_TRUE(later.handOver(1s));
            EXPECT_EQ(running.handOvers, 1);
        }
        EXPECT_EQ(readFile(precious), "precious user data");
        EXPECT_FALSE(std::filesystem::exists(folder.path() / "nothing"));
        std::filesystem::remove_all(lock);
    }
}

TEST(SingleInstanceTest, EverySettingsFileNameTheFileSystemTakesHasALockFile)
{
    testApplication();
    const TemporaryFolder folder;
    // Names the file system takes, to which ".<name>.lock" adds too much.
    for (const std::size_t length : {245, 255}) {
        SCOPED_TRACE(length);
        const std::filesystem::path file = folder.path() / std::string(length, 's');
        std::ofstream(file) << "{}";
        ASSERT_TRUE(std::filesystem::exists(file));
        RunningCopy running(file);
        EXPECT_EQ(running.instance->lockFileProblem(), std::nullopt);
        const std::filesystem::path lock = *instanceClaim(file).lockFile;
        EXPECT_EQ(readFile(lock), lockRecord(::getpid(), instanceClaim(file).socketName));
        SingleInstance later(file);
        ASSERT_TRUE(later.isTakenByAnotherCopy());
        EXPECT_TRUE(later.handOver(1s));
    }
}

TEST(SingleInstanceTest, NoLockFileIsMadeBesideASettingsFileTheStoreRefuses)
{
    testApplication();
    const TemporaryFolder folder;
    const std::filesystem::path fifo = folder.path() / "fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
    std::filesystem::create_symlink(fifo, folder.path() / "fifo.json");
    std::vector<std::string> names = {"fifo", "fifo.json"};
    // A device of the test's own rather than /dev/null, whose claim every process shares.
    const std::filesystem::path devices = folder.path() / "dev";
    std::filesystem::create_directory(devices);
    if (::mknod((devices / "null").c_str(), S_IFCHR | 0666, ::makedev(1, 3)) == 0) {
        std::filesystem::create_symlink(devices / "null", folder.path() / "null.json");
        names.emplace_back("null.json");
    }
    for (const std::string& name : names) {
        SCOPED_TRACE(name);
        const std::filesystem::path file = folder.path() / name;
        EXPECT_EQ(instanceClaim(file).lockFile, std::nullopt);
        RunningCopy running(file);
        EXPECT_EQ(running.instance->lockFileProblem(), std::nullopt);
        SingleInstance later(file);
        ASSERT_TRUE(later.isTakenByAnotherCopy());
        EXPECT_TRUE(later.handOver(1s));
    }
    EXPECT_FALSE(std::filesystem::exists(folder.path() / ".fifo.lock"));
    EXPECT_FALSE(std::filesystem::exists(devices / ".null.lock"));
}

/// `source` also reached at `target`, through a bind mount, until the end of the scope.
class BindMount final {
public:
    BindMount(const std::filesystem::path& source, std::filesystem::path target)
        : m_target(std::move(target))
    {
        if (std::filesystem::is_directory(source))
            std::filesystem::create_directory(m_target);
        else
            std::ofstream{m_target};
        m_isMounted = ::mount(source.c_str(), m_target.c_str(), nullptr, MS_BIND, nullptr) == 0;
    }
    ~BindMount()
    {
        if (m_isMounted)
            ::umount2(m_target.c_str(), MNT_DETACH);
    }
    BindMount(const BindMount&) = delete;
    BindMount& operator=(const BindMount&) = delete;

    [[nodiscard]] bool isMounted() const { return m_isMounted; }

private:
    std::filesystem::path m_target;
    bool m_isMounted = false;
};

TEST(SingleInstanceTest, ALaunchReachesTheCopyThatHoldsTheLockWhateverPathItCameBy)
{
    testApplication();
    const TemporaryFolder folder;
    const std::filesystem::path file = folder.path() / "settings.json";
    {
        SCOPED_TRACE("a holder listening under another path's name");
        const std::string elsewhere = instanceClaim(folder.path() / "elsewhere.json").socketName;
        const UnreachableCopy holder(file, lockRecord(::getpid(), elsewhere));
        QLocalServer listener;
        listener.setSocketOptions(QLocalServer::AbstractNamespaceOption);
        ASSERT_TRUE(listener.listen(QString::fromStdString(elsewhere)));
        QObject::connect(&listener, &QLocalServer::newConnection, [&listener] {
            while (QLocalSocket* connection = listener.nextPendingConnection())
                connection->putChar('!');
        });
        SingleInstance later(file);
        ASSERT_TRUE(later.isTakenByAnotherCopy());
        EXPECT_TRUE(later.handOver(1s));
    }
    if (::geteuid() != 0)
        GTEST_SKIP() << "the same with a bind mount needs root";
    const std::filesystem::path top = folder.path() / "top";
    const std::filesystem::path settings = top / "D";
    std::filesystem::create_directory(top);
    const BindMount mount(top, folder.path() / "alt mount"); // written escaped in the mount table
    if (!mount.isMounted())
        GTEST_SKIP() << "this system refuses bind mounts";
    const std::filesystem::path lock = *instanceClaim(settings / "settings.json").lockFile;
    struct Case {
        const char* name;
        std::function<void()> before; // the copy starts
        std::function<void()> after;
    };
    const auto nothing = [] {};
    const Case cases[] = {
        {"its lock in place", nothing, nothing},
        {"its lock deleted", nothing, [&] { std::filesystem::remove(lock); }},
        {"its lock replaced by a rename", nothing,
            [&] {
                copyFile(lock, settings / "x");
                std::filesystem::rename(settings / "x", lock);
            }},
        {"its folder restored from a copy", nothing,
            [&] {
                const std::filesystem::path backup = top / "D.bak";
                std::filesystem::copy(settings, backup, std::filesystem::copy_options::recursive);
                std::filesystem::remove_all(settings);
                std::filesystem::rename(backup, settings);
            }},
        {"its lock a link from the start",
            [&] { std::filesystem::create_symlink(folder.path() / "nothing", lock); }, nothing},
        {"its lock another user's from the start",
            [&] {
                std::ofstream(lock) << "";
                ASSERT_EQ(::chown(lock.c_str(), nobody, nobody), 0);
            },
            nothing},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::create_directory(settings);
        std::ofstream(settings / "settings.json") << "{}";
        c.before();
        {
            RunningCopy running(settings / "settings.json");
            c.after();
            SingleInstance later(folder.path() / "alt mount" / "D" / "settings.json");
            ASSERT_TRUE(later.isTakenByAnotherCopy());
            EXPECT_TRUE(later.handOver(1s));
            EXPECT_EQ(running.handOvers, 1);
        }
        std::filesystem::remove_all(settings);
    }
    for (const bool isAfterASave : {false, true}) {
        SCOPED_TRACE(isAfterASave ? "the settings file itself mounted elsewhere, after a save"
                                  : "the settings file itself mounted elsewhere");
        std::filesystem::create_directory(settings);
        const std::filesystem::path file = settings / "settings.json";
        std::ofstream(file) << "{}";
        const BindMount fileMount(file, folder.path() / "other.json");
        ASSERT_TRUE(fileMount.isMounted());
        RunningCopy running(file);
        if (isAfterASave) // the mount keeps the file that the save's rename deleted
            writeFileAtomically(file, "{\"saved\": true}");
        SingleInstance later(folder.path() / "other.json");
        ASSERT_TRUE(later.isTakenByAnotherCopy());
        EXPECT_TRUE(later.handOver(1s));
        EXPECT_EQ(running.handOvers, 1);
    }
}

/// Another user than "nobody", who has no name on this system.
constexpr uid_t stranger = 65533;

/// A child process that runs `work` as `user` until the end of the scope; `work` writes a byte to
/// the descriptor it gets once it is ready. Only system calls may run in it, as it is a copy of a
/// process with threads.
class ChildAsNobody final {
public:
    explicit ChildAsNobody(const std::function<void(int ready)>& work, uid_t user = nobody)
    {
        int ready[2];
        if (::pipe(ready) != 0)
            throw std::runtime_error("No pipe.");
        m_process = ::fork();
        if (m_process == 0) {
            if (::setgroups(0, nullptr) != 0 || ::setgid(user) != 0 || ::setuid(user) != 0)
                ::_exit(1);
            work(ready[1]);
            ::_exit(1);
        }
        char byte = 0;
        ::close(ready[1]);
        const bool isReady = ::read(ready[0], &byte, 1) == 1;
        ::close(ready[0]);
        if (!isReady)
            throw std::runtime_error("The other user's program did not start.");
    }
    ~ChildAsNobody()
    {
        if (!m_exitStatus) {
            ::kill(m_process, SIGKILL);
            ::waitpid(m_process, nullptr, 0);
        }
    }
    ChildAsNobody(const ChildAsNobody&) = delete;
    ChildAsNobody& operator=(const ChildAsNobody&) = delete;

    /// The status the child exited with; absent while it runs.
    std::optional<int> exitStatus()
    {
        int status = 0;
        if (!m_exitStatus && ::waitpid(m_process, &status, WNOHANG) == m_process)
            m_exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        return m_exitStatus;
    }

private:
    pid_t m_process = -1;
    std::optional<int> m_exitStatus;
};

/// The address of `socketName` in the abstract namespace, and its length.
std::pair<sockaddr_un, socklen_t> abstractAddress(const std::string& socketName)
{
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path + 1, socketName.data(), socketName.size());
    return {
        address, static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + socketName.size())};
}

/// What another user's program on a copy's socket name does with the connections it gets.
enum class Squatter { neverAccepts, acceptsSilently, answersAsACopy };

/// Listens on `socketNames` (16 at most) in the abstract namespace, as "nobody" does.
[[noreturn]] void squat(const std::vector<std::string>& socketNames, Squatter squatter, int ready)
{
    std::array<pollfd, 16> listeners{};
    const std::size_t count = std::min(socketNames.size(), listeners.size());
    for (std::size_t index = 0; index < count; ++index) {
        const auto [address, size] = abstractAddress(socketNames[index]);
        listeners[index].fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        listeners[index].events = POLLIN;
        if (::bind(listeners[index].fd, reinterpret_cast<const sockaddr*>(&address), size) != 0
            || ::listen(listeners[index].fd, 8) != 0)
            ::_exit(1);
    }
    if (::write(ready, "!", 1) != 1)
        ::_exit(1);
    while (squatter == Squatter::neverAccepts)
        ::pause();
    for (;;) {
        ::poll(listeners.data(), count, -1);
        for (std::size_t index = 0; index < count; ++index) {
            if ((listeners[index].revents & POLLIN) == 0)
                continue;
            const int connection = ::accept(listeners[index].fd, nullptr, nullptr);
            if (squatter == Squatter::acceptsSilently)
                continue; // kept open, never answered
            // A copy's answer; no SIGPIPE when the other end has gone already.
            [[maybe_unused]] const ssize_t sent = ::send(connection, "!", 1, MSG_NOSIGNAL);
            ::close(connection);
        }
    }
}

/// Another user's program on `socketNames`, until the end of the scope.
class ForeignListener final {
public:
    explicit ForeignListener(const std::vector<std::string>& socketNames,
        Squatter squatter = Squatter::answersAsACopy, uid_t user = nobody)
        : m_child(
            [&socketNames, squatter](int ready) { squat(socketNames, squatter, ready); }, user)
    {
    }

private:
    ChildAsNobody m_child;
};

/// Another user's program holding a shared lock on the file at `path`, opened for reading as
/// anyone may open a file others may read, until the end of the scope.
class ForeignLockHolder final {
public:
    explicit ForeignLockHolder(const std::filesystem::path& path)
        : m_child([&path](int ready) {
            const int descriptor = ::open(path.c_str(), O_RDONLY);
            if (descriptor < 0 || ::flock(descriptor, LOCK_SH) != 0 || ::write(ready, "!", 1) != 1)
                return;
            for (;;)
                ::pause();
        })
    {
    }

private:
    ChildAsNobody m_child;
};

/// Every socket name a copy on `file` may listen on.
std::vector<std::string> everySocketName(const std::filesystem::path& file)
{
    const InstanceClaim claim = instanceClaim(file);
    std::vector<std::string> names = candidateSocketNames(claim.socketName);
    if (claim.fileSystemSocketName) {
        for (std::string& name : candidateSocketNames(*claim.fileSystemSocketName))
            names.push_back(std::move(name));
    }
    return names;
}

// Abstract socket names have no permissions: anyone may take a copy's name before it listens.
TEST(SingleInstanceTest, AnAnswerFromAnotherUsersProgramIsNoHandOver)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "listens as another user: needs root";
    testApplication();
    const TemporaryFolder folder;
    const std::filesystem::path file = folder.path() / "settings.json";
    const UnreachableCopy holder(file, lockRecord(::getpid(), instanceClaim(file).socketName));
    const ForeignListener listener({instanceClaim(file).socketName});
    QLocalSocket probe; // the listener is where a copy's would be, and it answers
    probe.setSocketOptions(QLocalSocket::AbstractNamespaceOption);
    probe.connectToServer(QString::fromStdString(instanceClaim(file).socketName));
    ASSERT_TRUE(probe.waitForConnected(1000) && probe.waitForReadyRead(1000));

    SingleInstance later(file);
    ASSERT_TRUE(later.isTakenByAnotherCopy());
    EXPECT_EQ(handOverError(later, 200ms),
        notAnswering(file, " (process " + formatInteger(::getpid()) + ")"));
}

TEST(SingleInstanceTest, ARequestFromAnotherUsersProgramNeverOpensTheMainWindow)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "connects as another user: needs root";
    testApplication();
    const TemporaryFolder folder;
    const std::filesystem::path file = folder.path() / "settings.json";
    RunningCopy running(file);
    const std::string name = instanceClaim(file).socketName;
    // Ends with status 0 once the copy has closed the connection without answering, 2 on an answer.
    ChildAsNobody asker([&name](int ready) {
        const auto [address, size] = abstractAddress(name);
        const int connection = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        char answer = 0;
        if (::connect(connection, reinterpret_cast<const sockaddr*>(&address), size) != 0
            || ::write(connection, "?", 1) != 1 || ::write(ready, "!", 1) != 1)
            ::_exit(1);
        ::_exit(::read(connection, &answer, 1) == 1 ? 2 : 0);
    });
    ASSERT_TRUE(runEventLoopUntil([&asker] { return asker.exitStatus().has_value(); }));
    EXPECT_EQ(asker.exitStatus(), 0);
    EXPECT_EQ(running.handOvers, 0);
}

TEST(SingleInstanceTest, AnotherUsersProgramOnACopysNamesNeverKeepsItFromRunning)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "listens as another user: needs root";
    testApplication();
    const TemporaryFolder folder;
    struct Case {
        const char* name;
        Squatter squatter;
        bool isLockALink = false; // then the names alone claim the file
        bool takesEveryName = false;
        bool comesAfterAQuit = false;
    };
    const Case cases[] = {
        {"never accepting", Squatter::neverAccepts},
        {"accepting and saying nothing", Squatter::acceptsSilently},
        {"answering as a copy does", Squatter::answersAsACopy},
        {"taking the name the moment a copy quit", Squatter::answersAsACopy, false, false, true},
        {"on every name while the lock is ours", Squatter::answersAsACopy, false, true},
        {"beside a lock file that cannot be used", Squatter::neverAccepts, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::filesystem::path file = folder.path() / c.name / "settings.json";
        std::filesystem::create_directory(file.parent_path());
        if (c.isLockALink)
            std::filesystem::create_symlink(
                folder.path() / "nothing", *instanceClaim(file).lockFile);
        if (c.comesAfterAQuit)
            RunningCopy{file};
        const std::vector<std::string> names = everySocketName(file);
        const ForeignListener squatter(
            c.takesEveryName ? names : std::vector{names.front()}, c.squatter);
        RunningCopy running(file);
        if (!c.isLockALink) {
            const std::string record = readFile(*instanceClaim(file).lockFile);
            EXPECT_TRUE(record.starts_with(formatInteger(::getpid()) + "\n")) << record;
            EXPECT_EQ(record.find(names.front()), std::string::npos) << "the squatter's name";
        }
        SingleInstance later(file);
        ASSERT_TRUE(later.isTakenByAnotherCopy());
        EXPECT_TRUE(later.handOver(1s));
        EXPECT_EQ(running.handOvers, 1);
    }
}

TEST(SingleInstanceTest, ALaunchRefusesOnlyWhenOtherUsersHoldTheLockFileAndEveryName)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "listens as another user: needs root";
    testApplication();
    const TemporaryFolder folder;
    struct Case {
        const char* reason;
        std::function<void(const std::filesystem::path& lock)> makeLock;
    };
    const Case cases[] = {
        {"it is a symbolic link",
            [&](const std::filesystem::path& lock) {
                std::filesystem::create_symlink(folder.path() / "nothing", lock);
            }},
        // As in a folder everyone may write: the copy could lock it, but never say where it is.
        {"it belongs to another user",
            [](const std::filesystem::path& lock) {
                std::ofstream(lock) << "";
                ASSERT_EQ(::chown(lock.c_str(), nobody, nobody), 0);
                ASSERT_EQ(::chmod(lock.c_str(), 0644), 0);
            }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.reason);
        const std::filesystem::path file = folder.path() / c.reason / "settings.json";
        std::filesystem::create_directory(file.parent_path());
        ASSERT_EQ(::chmod(file.parent_path().c_str(), 01777), 0);
        const std::filesystem::path lock = *instanceClaim(file).lockFile;
        c.makeLock(lock);
        const ForeignListener squatter(everySocketName(file), Squatter::answersAsACopy);
        SingleInstance launch(file);
        ASSERT_TRUE(launch.isTakenByAnotherCopy());
        EXPECT_EQ(handOverError(launch, 200ms),
            "QuorVane cannot run on the settings file \"" + file.string()
                + "\": other users' programs hold every name it could be reached by, and it "
                  "cannot use its lock file \""
                + lock.string() + "\" (" + c.reason + ").");
        EXPECT_FALSE(std::filesystem::exists(file));
        EXPECT_FALSE(std::filesystem::exists(folder.path() / "nothing"));
        if (!std::filesystem::is_symlink(lock)) { // let go of: a copy of its owner may run
            const FileDescriptor opened(::open(lock.c_str(), O_RDONLY));
            EXPECT_EQ(::flock(opened.get(), LOCK_EX | LOCK_NB), 0);
        }
    }
}

// The sticky bit lets no one but the file's owner rename over another user's file: a launch that
// cannot replace the lock makes no file to try.
TEST(SingleInstanceTest, ALockThatCannotBeReplacedInAStickyFolderGetsNoFileBesideIt)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "locks as two other users: needs root";
    const TemporaryFolder folder;
    ASSERT_EQ(::chmod(folder.path().c_str(), 0711), 0);
    const std::filesystem::path shared = folder.path() / "shared";
    std::filesystem::create_directory(shared);
    ASSERT_EQ(::chmod(shared.c_str(), 01777), 0);
    const std::filesystem::path lock = shared / ".settings.json.lock";
    std::ofstream(lock) << "";
    ASSERT_EQ(::chown(lock.c_str(), stranger, stranger), 0);
    ASSERT_EQ(::chmod(lock.c_str(), 0644), 0);
    const ChildAsNobody holder(
        [&lock](int ready) {
            const int descriptor = ::open(lock.c_str(), O_RDONLY);
            if (descriptor < 0 || ::flock(descriptor, LOCK_SH) != 0 || ::write(ready, "!", 1) != 1)
                return;
            for (;;)
                ::pause();
        },
        stranger);
    const auto version = fileVersion(shared);
    ASSERT_EQ(::seteuid(nobody), 0);
    const Lock taken = takeLock(lock, {.copies = {nobody}}, FolderCreation::missing);
    ASSERT_EQ(::seteuid(0), 0);
    EXPECT_EQ(taken.state, Lock::State::notLocked);
    EXPECT_EQ(taken.problem, "another user's program holds it");
    EXPECT_EQ(fileVersion(shared), version) << "a file was made in the folder";
}

// A descriptor opened while others could open the file outlives any narrowing of it.
TEST(SingleInstanceTest, AnotherUsersProgramHoldingTheLockNeverKeepsACopyFromRunning)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "locks as another user: needs root";
    testApplication();
    const TemporaryFolder folder;
    std::filesystem::permissions(
        folder.path(), std::filesystem::perms::others_exec, std::filesystem::perm_options::add);
    const std::filesystem::path file = folder.path() / "settings.json";
    const std::filesystem::path lock = *instanceClaim(file).lockFile;
    // As an earlier version made it: others may read it, and so hold its lock.
    ASSERT_EQ(::close(::open(lock.c_str(), O_CREAT | O_WRONLY, 0644)), 0);
    ASSERT_EQ(::chmod(lock.c_str(), 0644), 0);
    const ForeignLockHolder lockHolder(lock);
    const ForeignListener squatter(everySocketName(file));
    // A lock of this user's on another file of the same file system holds nothing of this one.
    const UnreachableCopy elsewhere(folder.path() / "other.json", "");

    for (const char* launch : {"the first launch", "a launch after it quit"}) {
        SCOPED_TRACE(launch);
        RunningCopy running(file);
        EXPECT_EQ(running.instance->lockFileProblem(), std::nullopt);
        EXPECT_EQ(std::filesystem::status(lock).permissions(),
            std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
        SingleInstance later(file);
        ASSERT_TRUE(later.isTakenByAnotherCopy());
        EXPECT_TRUE(later.handOver(1s));
        EXPECT_EQ(running.handOvers, 1);
    }
}

TEST(SingleInstanceTest, TheLockFileIsItsUsersAlone)
{
    testApplication();
    const TemporaryFolder folder;
    using std::filesystem::perms;
    const perms readableByOthers = perms::owner_all | perms::group_read | perms::others_read;
    const std::filesystem::path earlier = folder.path() / "earlier";
    std::ofstream(earlier) << "4242\n";
    std::filesystem::permissions(earlier, readableByOthers);
    enum class Left { nothing, earlierLock, mountedEarlierLock };
    const std::pair<const char*, Left> cases[]
        = {{"new", Left::nothing}, {"made readable by others", Left::earlierLock},
            {"made readable by others and mounted there", Left::mountedEarlierLock}};
    for (const auto& [name, left] : cases) {
        SCOPED_TRACE(name);
        const std::filesystem::path settings = folder.path() / name;
        std::filesystem::create_directory(settings);
        const std::filesystem::path lock = *instanceClaim(settings / "settings.json").lockFile;
        if (left == Left::earlierLock)
            copyFile(earlier, lock);
        std::optional<BindMount> mount;
        if (left == Left::mountedEarlierLock) {
            mount.emplace(earlier, lock);
            if (!mount->isMounted())
                continue; // needs root
        }
        {
            RunningCopy running(settings / "settings.json");
            // A mount point cannot be renamed over: that lock file is used as it is.
            EXPECT_EQ(std::filesystem::status(lock).permissions(),
                mount ? readableByOthers : perms::owner_read | perms::owner_write);
        }
        for (const std::filesystem::directory_entry& entry :
            std::filesystem::directory_iterator(settings))
            EXPECT_EQ(entry.path(), lock) << "left beside it";
    }
}

TEST(SingleInstanceTest, AnEndedCopysRecordNeverNamesACopyThatDoesNotAnswer)
{
    testApplication();
    const TemporaryFolder folder;
    const std::filesystem::path file = folder.path() / "settings.json";
    const std::string name = instanceClaim(file).socketName;
    std::ofstream(*instanceClaim(file).lockFile) << lockRecord(4242, name);
    QLocalServer hung; // a copy whose lock file was replaced, and which hangs
    hung.setSocketOptions(QLocalServer::AbstractNamespaceOption);
    ASSERT_TRUE(hung.listen(QString::fromStdString(name)));

    SingleInstance later(file);
    ASSERT_TRUE(later.isTakenByAnotherCopy());
    EXPECT_EQ(handOverError(later, 200ms), notAnswering(file, ""));
}

/// The application as a process of its own on `settingsFile`, on the platform the tests use, its
/// runtime folder in `runtimeFolder`, as the user `user` when given (which needs root).
std::unique_ptr<QProcess> startCopy(const std::filesystem::path& settingsFile,
    const std::filesystem::path& runtimeFolder, std::optional<uid_t> user = std::nullopt,
    QProcess::ProcessChannelMode channels = QProcess::ForwardedChannels,
    const std::filesystem::path& workingFolder = {})
{
    auto process = std::make_unique<QProcess>();
    process->setWorkingDirectory(QString::fromStdString(workingFolder));
    if (user) {
        process->setChildProcessModifier([user = *user] {
            if (::setgroups(0, nullptr) != 0 || ::setgid(user) != 0 || ::setuid(user) != 0)
                ::_exit(126);
        });
    }
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), QString::fromStdString(runtimeFolder));
    if (user) // another user may not reach this user's X server
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    process->setProcessEnvironment(environment);
    process->setProcessChannelMode(channels);
    process->start(QStringLiteral(QUORVANE_EXECUTABLE),
        {QStringLiteral("--settings-path"), QString::fromStdString(settingsFile)});
    return process;
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
    // An autostart entry and a launch from a shell that has another runtime folder, or none.
    for (const std::filesystem::path& launchRuntime :
        {runtime, privateFolder(folder.path() / "ssh")}) {
        SCOPED_TRACE(launchRuntime);
        const auto second = startCopy(file, launchRuntime);
        ASSERT_TRUE(second->waitForFinished(startLimit)) << "the second launch keeps running";
        EXPECT_EQ(second->exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(second->exitCode(), 0);
        EXPECT_EQ(first->state(), QProcess::Running);
    }

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

TEST(SingleInstanceTest, ACopyWhoseLockFileIsALinkLeavesItsTargetAloneAndSaysSoOnce)
{
    testApplication();
    const TemporaryFolder folder;
    const std::filesystem::path runtime = privateFolder(folder.path() / "run");
    const std::filesystem::path file = folder.path() / "settings.json";
    const std::filesystem::path precious = folder.path() / "precious.txt";
    std::ofstream(precious) << "precious user data";
    const std::filesystem::path lock = *instanceClaim(file).lockFile;
    std::filesystem::create_symlink(precious, lock);

    const auto first = startCopy(file, runtime, std::nullopt, QProcess::ForwardedOutputChannel);
    ASSERT_TRUE(hasStarted(*first, file));
    const auto second = startCopy(file, runtime, std::nullopt, QProcess::ForwardedOutputChannel);
    ASSERT_TRUE(second->waitForFinished(startLimit));
    EXPECT_EQ(second->exitCode(), 0) << "handed over";
    EXPECT_TRUE(quitsCleanly(*first));

    const QString said
        = QString::fromUtf8(first->readAllStandardError() + second->readAllStandardError());
    EXPECT_EQ(said.count(QString::fromStdString("QuorVane does not use the lock file \""
                  + lock.string() + "\": it is a symbolic link.\n")),
        1)
        << said.toStdString();
    EXPECT_EQ(readFile(precious), "precious user data");
}

/// Whether a user without any of our rights may run `file`: every folder on its way can be
/// entered, and the file itself run, by others.
bool othersMayRun(const std::filesystem::path& file)
{
    using std::filesystem::perms;
    if ((std::filesystem::status(file).permissions() & perms::others_exec) == perms::none)
        return false;
    for (std::filesystem::path folder = file.parent_path(); folder != folder.root_path();
         folder = folder.parent_path()) {
        if ((std::filesystem::status(folder).permissions() & perms::others_exec) == perms::none)
            return false;
    }
    return true;
}

/// A runtime folder of nobody's in `folder`, which others may then enter, for a copy that runs as
/// nobody.
std::filesystem::path nobodysRuntimeFolder(const std::filesystem::path& folder)
{
    std::filesystem::permissions(
        folder, std::filesystem::perms::others_exec, std::filesystem::perm_options::add);
    const std::filesystem::path runtime = privateFolder(folder / "run");
    if (::chown(runtime.c_str(), nobody, nobody) != 0)
        throw std::runtime_error("The runtime folder cannot be given to nobody.");
    return runtime;
}

// As after "su": a shared settings file, whose copy runs as another user.
TEST(SingleInstanceTest, ALaunchBesideAnotherUsersCopySaysWhichProcessHasTheFile)
{
    if (::geteuid() != 0 || !othersMayRun(QUORVANE_EXECUTABLE))
        GTEST_SKIP() << "runs a copy as another user: needs root, and the application where others "
                        "may run it";
    testApplication();
    const TemporaryFolder folder;
    const std::filesystem::path runtime = nobodysRuntimeFolder(folder.path());
    // The file's owner counts, whoever owns its folder.
    const std::filesystem::path ownersFolder = privateFolder(folder.path() / "shared");
    ASSERT_EQ(::chown(ownersFolder.c_str(), nobody, nobody), 0);
    const std::filesystem::path everyonesFolder = folder.path() / "open";
    std::filesystem::create_directory(everyonesFolder);
    ASSERT_EQ(::chmod(everyonesFolder.c_str(), 01777), 0);
    for (const std::filesystem::path& shared : {ownersFolder, everyonesFolder}) {
        SCOPED_TRACE(shared);
        const std::filesystem::path file = shared / "settings.json";
        const auto other = startCopy(file, runtime, nobody);
        ASSERT_TRUE(hasStarted(*other, file));
        SingleInstance later(file);
        ASSERT_TRUE(later.isTakenByAnotherCopy());
        // Nothing is read in a folder that another user may change.
        const std::string holder
            = shared == ownersFolder ? "" : " (process " + formatInteger(other->processId()) + ")";
        EXPECT_EQ(handOverError(later, 500ms), notAnswering(file, holder));
        EXPECT_TRUE(quitsCleanly(*other));
    }
}

// As after "sudo" with the user's HOME, or a launch on a path in a shared folder: whoever may
// change a folder, a link or the file on the way could lead the saves and the lock anywhere.
TEST(SingleInstanceTest, ACopyRefusesASettingsPathAnotherUserMayChangeAndMakesNothing)
{
    if (::geteuid() != 0 || !othersMayRun(QUORVANE_EXECUTABLE))
        GTEST_SKIP() << "runs copies as root and as another user: needs root, and the application "
                        "where others may run it";
    testApplication();
    const TemporaryFolder folder;
    const std::filesystem::path usersRuntime = nobodysRuntimeFolder(folder.path());
    const std::filesystem::path rootsRuntime = privateFolder(folder.path() / "root's run");
    const auto make = [](const std::filesystem::path& path, mode_t mode, uid_t owner) {
        if (path.has_extension())
            std::ofstream(path) << "{}";
        else
            std::filesystem::create_directory(path);
        ASSERT_EQ(::chmod(path.c_str(), mode), 0);
        ASSERT_EQ(::chown(path.c_str(), owner, owner), 0);
    };
    for (const uid_t user : {uid_t{0}, nobody}) {
        SCOPED_TRACE(userName(user));
        const uid_t other = user == 0 ? nobody : stranger;
        const std::filesystem::path base = folder.path() / userName(user);
        const std::filesystem::path shared = base / "shared";
        const std::filesystem::path sticky = base / "sticky";
        const std::filesystem::path home = base / "home";
        for (const std::filesystem::path& made : {base, shared, sticky, home})
            std::filesystem::create_directory(made);
        ASSERT_EQ(::chmod(sticky.c_str(), 01777), 0);
        const std::filesystem::path hidden = privateFolder(base / "hidden");
        const std::string theirs = userName(other)
            + (user == 0 ? ". Run QuorVane as " + userName(other) + "."
                         : ". Choose a settings path of your own.");
        const std::string roots = "root, but its group may change it. Let root alone change it, or "
                                  "run QuorVane as another user.";
        const std::string others = "root, but others may change it. Let root alone change it, or "
                                   "run QuorVane as another user.";
        struct Case {
            const char* name;
            std::filesystem::path file; // as given
            std::filesystem::path named; // made, and named as the reason
            mode_t mode;
            uid_t owner;
            std::string whose;
            std::filesystem::path linkTo{}; // `named` is a link to it
            std::filesystem::path workingFolder{};
        };
        const Case cases[] = {
            {"a folder of the user's above", home / ".config" / "Quorvane" / "settings.json", home,
                0755, other, theirs},
            {"the user's file in a folder of root's", shared / "theirs.json",
                shared / "theirs.json", 0600, other, theirs},
            {"a relative path in the user's folder", "rel/settings.json", home, 0755, other, theirs,
                {}, home},
            {"a relative path to a file in the user's folder", "./plain.json", home, 0755, other,
                theirs, {}, home},
            {"the user's link to a file", sticky / "link.json", sticky / "link.json", 0, other,
                theirs, hidden / "victim.json"},
            {"the user's link to a folder", sticky / "link" / "settings.json", sticky / "link", 0,
                other, theirs, hidden},
            {"a folder the user made first", sticky / "made" / "settings.json", sticky / "made",
                0755, other, theirs},
            // Only root's copy refuses what others may write.
            {"a folder of root's that others may write", shared / "open" / "settings.json",
                shared / "open", 0777, 0, others},
            {"a folder of root's that its group may write", shared / "group" / "settings.json",
                shared / "group", 0775, 0, roots},
            // The sticky bit keeps others from replacing what a folder holds, not from writing a
            // file.
            {"a file of root's that others may write", shared / "sticky.json",
                shared / "sticky.json", 01666, 0, others},
        };
        for (const Case& c : cases) {
            SCOPED_TRACE(c.name);
            if (c.owner == 0 && user != 0)
                continue;
            if (c.linkTo.empty()) {
                make(c.named, c.mode, c.owner);
            } else {
                std::filesystem::create_symlink(c.linkTo, c.named);
                ASSERT_EQ(::lchown(c.named.c_str(), c.owner, c.owner), 0);
            }
            const auto entries = [&] {
                return std::distance(
                    std::filesystem::recursive_directory_iterator(folder.path()), {});
            };
            const auto before = entries();
            const auto launch = startCopy(c.file, user == 0 ? rootsRuntime : usersRuntime,
                user == 0 ? std::nullopt : std::optional(user), QProcess::ForwardedOutputChannel,
                c.workingFolder);
            ASSERT_TRUE(launch->waitForFinished(startLimit));
            EXPECT_EQ(launch->exitCode(), 2);
            const std::string said = launch->readAllStandardError().toStdString();
            const std::string kind = !c.linkTo.empty()   ? "symbolic link"
                : std::filesystem::is_directory(c.named) ? "folder"
                                                         : "file";
            EXPECT_NE(said.find(std::string(user == 0 ? "QuorVane run by root" : "QuorVane")
                          + " refuses the settings file \""
                          + (c.workingFolder / c.file).lexically_normal().string() + "\": the "
                          + kind + " \"" + c.named.string() + "\" belongs to " + c.whose + "\n"),
                std::string::npos)
                << said;
            EXPECT_EQ(entries(), before) << "made a file or folder";
        }
    }
}

// As after "sudo" once: what root's copy leaves in a user's folder never keeps that user out.
TEST(SingleInstanceTest, RootsLockFileNeverKeepsAUsersLaunchFromRunning)
{
    if (::geteuid() != 0 || !othersMayRun(QUORVANE_EXECUTABLE))
        GTEST_SKIP() << "runs a launch as another user: needs root, and the application where "
                        "others may run it";
    testApplication();
    const TemporaryFolder folder;
    const std::filesystem::path runtime = nobodysRuntimeFolder(folder.path());
    struct Case {
        const char* name;
        bool isLeftByACopy; // else by an earlier version
        bool isFolderEveryones; // else the user's
        std::string said; // on stderr, after the lock file's name
    };
    const Case cases[] = {
        {"root's copy ran and quit", true, false, ""},
        {"an earlier version's lock of root's", false, false, ""},
        {"root's lock in a folder every user may write", false, true,
            "\": it belongs to root and cannot be opened: Permission denied.\n"},
    };
    const auto ownerOf = [](const std::filesystem::path& file) {
        struct stat status { };
        return ::stat(file.c_str(), &status) == 0 ? std::optional(status.st_uid) : std::nullopt;
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::filesystem::path home = folder.path() / c.name;
        std::filesystem::create_directory(home);
        const std::filesystem::path file = home / "settings.json";
        const std::filesystem::path lock = *instanceClaim(file).lockFile;
        // Root's copy ran while the folder was root's, which was given to the user since.
        if (c.isLeftByACopy)
            RunningCopy{file};
        else
            ASSERT_EQ(::close(::open(lock.c_str(), O_CREAT | O_WRONLY, 0600)), 0);
        ASSERT_EQ(c.isFolderEveryones ? ::chmod(home.c_str(), 0777)
                                      : ::chown(home.c_str(), nobody, nobody),
            0);
        EXPECT_EQ(ownerOf(lock), 0) << "root's own, whoever owns the folder";
        std::optional<ForeignListener> squatter;
        if (!c.isFolderEveryones) // then the launch could run on none of them
            squatter.emplace(everySocketName(file), Squatter::answersAsACopy, stranger);
        const auto launch = startCopy(file, runtime, nobody, QProcess::ForwardedOutputChannel);
        EXPECT_TRUE(hasStarted(*launch, file));
        EXPECT_TRUE(quitsCleanly(*launch));
        const std::string said = launch->readAllStandardError().toStdString();
        EXPECT_EQ(said.find("QuorVane does not use the lock file \"" + lock.string() + c.said)
                != std::string::npos,
            !c.said.empty())
            << said;
        EXPECT_EQ(ownerOf(lock), c.isFolderEveryones ? 0 : nobody);
    }
}

// The copy is then found through its lock alone: its record names where it listens.
TEST(SingleInstanceTest, TheRunningCopyKeepsItsLockFileInPlaceWhileOtherUsersHoldEveryName)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "listens as another user: needs root";
    testApplication();
    const TemporaryFolder folder;
    // Two folders above the settings folder: the watch reaches its parent alone.
    const std::filesystem::path above = folder.path() / "up";
    const std::filesystem::path settings = above / "top" / "D";
    const std::filesystem::path backup = folder.path() / "D.bak";
    const std::filesystem::path file = settings / "settings.json";
    const std::filesystem::path lock = *instanceClaim(file).lockFile;
    struct Case {
        const char* name;
        std::function<void()> change;
    };
    const Case cases[] = {
        {"its lock deleted", [&] { std::filesystem::remove(lock); }},
        {"its folder restored from a copy", // mv D D.old; cp -a D.bak D
            [&] {
                std::filesystem::rename(settings, folder.path() / "D.old");
                std::filesystem::copy(backup, settings, std::filesystem::copy_options::recursive);
            }},
        {"a folder above restored from a copy", // mv up up.old; cp -a up.old up
            [&] {
                std::filesystem::rename(above, folder.path() / "up.old");
                std::filesystem::copy(
                    folder.path() / "up.old", above, std::filesystem::copy_options::recursive);
            }},
    };
    const ForeignListener squatter(everySocketName(file));
    const QuorvaneApplication::Launch launch{
        .arguments = {"quorvane", "--settings-path", file.string()},
        .configurationFolder = folder.path()};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::create_directories(settings);
        {
            QuorvaneApplication running(launch);
            AppModel& model = running.model();
            ASSERT_TRUE(runEventLoopUntil([&] { return *model.isLoaded && exists(file); }));
            // The look at the lock that start-up's own write brings passes first: it would find
            // any change made before it.
            EXPECT_FALSE(runEventLoopUntil([] { return false; }, 500));
            std::filesystem::copy(settings, backup, std::filesystem::copy_options::recursive);
            c.change();
            model.setAutomation(!model.configuration->automationEnabled);
            ASSERT_TRUE(
                runEventLoopUntil([&] { return configurationIn(file) == *model.configuration; }));
            // At the latest once it has saved.
            EXPECT_TRUE(runEventLoopUntil([&] { return isLocked(lock); })) << "locked again";
            const std::string changed = readFile(file);
            EXPECT_TRUE(running.mainWindow().close());

            const QuorvaneApplication later(launch);
            EXPECT_TRUE(later.hasHandedOver()) << "a second copy runs";
            EXPECT_TRUE(runEventLoopUntil([&] { return running.mainWindow().isVisible(); }));
            EXPECT_EQ(readFile(file), changed);
        }
        for (const char* name : {"up", "up.old", "D.bak", "D.old"})
            std::filesystem::remove_all(folder.path() / name);
    }
}

// A link put for the settings folder or a folder above it leads the lock nowhere, as it leads no
// save: the copy waits for a real folder there.
TEST(SingleInstanceTest, TheRunningCopyLocksAgainOnlyInAFolderReachedWithoutALink)
{
    testApplication();
    const TemporaryFolder folder;
    const std::filesystem::path above = folder.path() / "up";
    const std::filesystem::path file = above / "D" / "s.json";
    const std::filesystem::path lock = *instanceClaim(file).lockFile;
    const std::filesystem::path elsewhere = folder.path() / "elsewhere";
    struct Case {
        const char* name;
        std::filesystem::path replaced;
        bool isOthersFolder = false; // else a link
    };
    const Case cases[] = {
        {"a link for its folder", file.parent_path()},
        {"a link for a folder above", above},
        {"another user's folder for its folder", file.parent_path(), true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.isOthersFolder && ::geteuid() != 0)
            continue; // only root may give a folder away
        const std::filesystem::path& replaced = c.replaced;
        std::filesystem::create_directories(file.parent_path());
        RunningCopy running(file);
        const FileDescriptor lockFile(::open(lock.c_str(), O_RDONLY | O_CLOEXEC));
        // The folder moved elsewhere, and at first nothing in its place: a restore would copy
        // into a folder made there.
        std::filesystem::rename(replaced, elsewhere);
        running.instance->keepLockInPlace();
        EXPECT_FALSE(std::filesystem::exists(replaced)) << "the folder made again";
        if (c.isOthersFolder) {
            std::filesystem::create_directory(replaced);
            ASSERT_EQ(::chown(replaced.c_str(), nobody, nobody), 0);
        } else {
            std::filesystem::create_symlink(elsewhere, replaced);
            EXPECT_FALSE(isInPlace(lock, lockFile.get())) << "in place through a link";
            std::filesystem::remove(elsewhere / lock.lexically_relative(replaced));
        }
        running.instance->keepLockInPlace();
        EXPECT_FALSE(std::filesystem::exists(lock)) << "a lock file where the link leads";
        std::filesystem::remove_all(replaced);
        std::filesystem::rename(elsewhere, replaced);
        running.instance->keepLockInPlace();
        EXPECT_TRUE(isLocked(lock)) << "locked again in the real folder";
        std::filesystem::remove_all(above);
    }
}

// Another user who may write the settings folder's parent can change it as often as they like:
// the copy must lock again all the same, or with every name held the next launch runs beside it.
TEST(SingleInstanceTest, TheRunningCopyLocksAgainWithinASecondHoweverOftenItsFolderChanges)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "changes a folder and listens as another user: needs root";
    testApplication();
    const TemporaryFolder folder;
    std::filesystem::permissions(
        folder.path(), std::filesystem::perms::others_exec, std::filesystem::perm_options::add);
    const std::filesystem::path parent = folder.path() / "shared";
    std::filesystem::create_directory(parent);
    ASSERT_EQ(::chmod(parent.c_str(), 01777), 0); // as /tmp, where root's copy may run
    const std::filesystem::path file = parent / "D" / "settings.json";
    std::filesystem::create_directory(file.parent_path());
    const std::filesystem::path lock = *instanceClaim(file).lockFile;
    const ForeignListener squatter(everySocketName(file));
    RunningCopy running(file);

    // Makes and removes a file every 0.15 s, a change every 75 ms, and says so once per file.
    std::array<int, 2> made{};
    ASSERT_EQ(::pipe2(made.data(), O_CLOEXEC | O_NONBLOCK), 0);
    const FileDescriptor madeRead(made[0]);
    FileDescriptor madeWrite(made[1]);
    const std::string churned = (parent / "churn").string();
    const ChildAsNobody churn([&churned, &made](int ready) {
        const timespec half{.tv_sec = 0, .tv_nsec = 75'000'000};
        if (::write(ready, "!", 1) != 1)
            return;
        for (;;) {
            ::close(::open(churned.c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0644));
            ::nanosleep(&half, nullptr);
            ::unlink(churned.c_str());
            if (::write(made[1], "+", 1) != 1)
                return;
            ::nanosleep(&half, nullptr);
        }
    });
    ASSERT_TRUE(madeWrite.close());
    int filesMade = 0;
    const auto countFilesMade = [&] {
        std::array<char, 64> bytes{};
        for (ssize_t size = 0; (size = ::read(madeRead.get(), bytes.data(), bytes.size())) > 0;)
            filesMade += static_cast<int>(size);
        return filesMade;
    };
    ASSERT_TRUE(runEventLoopUntil([&] { return countFilesMade() >= 2; }, 1000));

    const int madeBefore = filesMade;
    std::filesystem::remove(lock);
    EXPECT_TRUE(runEventLoopUntil([&] { return isLocked(lock); }, 1000))
        << "not within a second, while another " << countFilesMade() - madeBefore
        << " files were made and removed beside the settings folder";
    SingleInstance later(file);
    ASSERT_TRUE(later.isTakenByAnotherCopy()) << "a second copy runs";
    EXPECT_TRUE(later.handOver(1s));
    EXPECT_EQ(running.handOvers, 1);
}

} // namespace
} // namespace quorvane
