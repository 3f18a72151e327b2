// SingleInstance.h: one running copy of the application per settings file. A later launch on the
// same file hands over to the copy that runs: that one opens its main window.
#pragma once

#include "Foundation/FileDescriptor.h"
#include "Quorvane/Views/InstanceLock.h"

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class QLocalServer;
class QLocalSocket;

namespace quorvane {

/// Where the claim on one settings file is kept. All of it comes from the file that the settings
/// path stands for, never from the environment: every copy that can write the file sees the
/// claim, whatever its runtime folder.
struct InstanceClaim {
    /// The settings file as resolvedFile() gave it at start: absolute, links followed, "." and
    /// ".." gone. A copy keeps to this file, so a link retargeted while it runs takes effect at
    /// the next start.
    std::filesystem::path settingsFile;
    /// ".<file name>.lock" beside that file (cut short with a hash where that name would be too
    /// long). The copy that runs holds a kernel lock (flock) on it, which ends with its process
    /// however that ends, and writes its process id and socket name into it when the file is its
    /// user's. While it runs, it locks the file at this path again whenever that is deleted or
    /// replaced, or its folder moved or restored, on the event loop, and at each save: only in a
    /// folder reached without a symbolic link on the way. Absent when the settings file is
    /// something the settings store refuses (a device, a folder): nothing is made beside that.
    std::optional<std::filesystem::path> lockFile{};
    /// A short name in the abstract socket namespace, made from the settings file's path, where
    /// the copy that runs takes hand-overs: no file to leave behind, and no path that could pass
    /// the system's length limit. Taking it is the claim's second half, which holds when the lock
    /// file is deleted, replaced or unusable.
    std::string socketName{};
    /// A second such name, made from where the file lies in its file system (the device, and the
    /// path from the file system's own root): the same by every path to it, so a launch through a
    /// bind mount finds the copy also without its lock file. Absent where the system does not
    /// list its mounts.
    std::optional<std::string> fileSystemSocketName{};
};

/// The claim on `settingsFile`, a path that resolvedFile() gave: it is not resolved again.
[[nodiscard]] InstanceClaim instanceClaim(const std::filesystem::path& settingsFile);

/// `first`, then the names a copy listens on instead when other users' programs hold those before.
[[nodiscard]] std::vector<std::string> candidateSocketNames(const std::string& first);

/// The claim of one process on one settings file. A copy runs with the lock and a name to take
/// hand-overs on, or with either alone when the other cannot be had. Only a process of this user
/// or of the settings file's owner counts as a copy that has the file: another user's
/// program that holds the lock or a name is passed by, since abstract names have no permissions
/// and anyone may lock a file they can read. A lock that no running copy holds, whatever the lock
/// file says, never stops a launch.
class SingleInstance final {
public:
    /// How long a later launch waits, by default, for the copy that has the file.
    static constexpr std::chrono::milliseconds defaultHandOverWait{5000};

    /// Claims `settingsFile`, a path that resolvedFile() gave, for this process unless another
    /// running copy has it.
    explicit SingleInstance(const std::filesystem::path& settingsFile);
    ~SingleInstance();

    SingleInstance(const SingleInstance&) = delete;
    SingleInstance& operator=(const SingleInstance&) = delete;

    [[nodiscard]] const InstanceClaim& claim() const { return m_claim; }

    /// Whether this copy may not run now: another running copy has the file, or (rarely) other
    /// users' programs hold all of the claim. It should then hand over and end.
    [[nodiscard]] bool isTakenByAnotherCopy() const { return m_isTakenByAnotherCopy; }

    /// Why the lock file is not used, as a line for the user: a link, something else than a
    /// regular file, a file with another name as well, a file that cannot be opened (and whose
    /// it is), or one that another user's program holds and that cannot be replaced. Absent when
    /// it is used or when there is none to use.
    [[nodiscard]] std::optional<std::string> lockFileProblem() const;

    /// Asks the copy that has the file to open its main window. That copy may not listen yet (it
    /// is starting) or answer any more (it is quitting), so this blocks for up to `wait` until it
    /// answers or lets go of the file, processing this thread's events meanwhile. Returns true
    /// once it answered, false when the file came free and is now this copy's. Throws Error when
    /// neither happens: naming the process that has the file when that process wrote it into its
    /// lock, or saying what keeps this copy from running when no copy has the file.
    [[nodiscard]] bool handOver(std::chrono::milliseconds wait = defaultHandOverWait);

    /// From now on calls `openMainWindow` on the main thread for every hand-over to this copy.
    /// Until then hand-overs go unanswered, and the launch that asked asks again.
    void onHandOver(std::function<void()> openMainWindow);

    /// Locks a lock file at the lock file's path again when the one this copy holds is no longer
    /// there (a folder on the way moved, say), and puts its record back, so that launches find
    /// this copy through it. Never through a symbolic link on the way, nor making a folder: it
    /// waits for a real one. Runs by itself when the lock file or its folder changes, and should
    /// run at each save, for a change further up. Nothing for a copy that took no lock.
    void keepLockInPlace();

    /// Answers no more hand-overs, for a copy that has begun to quit: a launch it answered would
    /// end too, leaving no copy. The file, and its socket names, stay this copy's until it ends.
    void stopHandOvers();

private:
    enum class Outcome { claimed, takenByCopy, blocked };
    struct NameClaim;
    class LockWatch;

    [[nodiscard]] Outcome tryClaim();
    /// Takes the lock file as it is now, saying why not in m_lockProblem.
    [[nodiscard]] Lock::State lockTheFile();
    [[nodiscard]] NameClaim claimOneOf(const std::vector<std::string>& names);
    void findCopiesListening();
    void answerHandOvers(QLocalServer& server);
    void answer(QLocalSocket& connection);
    /// Whether a process whose copy counts listens on `socketName`.
    [[nodiscard]] bool isHeldByCopy(const std::string& socketName) const;
    [[nodiscard]] std::vector<std::string> holderSocketNames() const;
    [[nodiscard]] std::string notAnsweringMessage() const;
    [[nodiscard]] std::string blockedMessage() const;

    std::filesystem::path m_settingsPath; // as the launch named it, for messages
    InstanceClaim m_claim;
    LockUsers m_lockUsers;
    FileDescriptor m_lock; // locked while the file is this copy's
    bool m_mayWriteRecord = false; // the lock file is this user's
    std::optional<std::string> m_lockProblem;
    std::vector<std::string> m_namesOfCopies; // where the last claim found copies listening
    std::string m_recordedName; // where this copy listens, for its record
    std::vector<std::unique_ptr<QLocalServer>> m_servers;
    std::unique_ptr<LockWatch> m_lockWatch; // while this copy holds its lock
    std::function<void()> m_openMainWindow;
    bool m_isTakenByAnotherCopy = false;
};

} // namespace quorvane
