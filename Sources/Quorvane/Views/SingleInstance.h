// SingleInstance.h: one running copy of the application per settings file. A later launch on the
// same file hands over to the copy that runs: that one opens its main window.
#pragma once

#include "Foundation/FileDescriptor.h"

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class QDeadlineTimer;
class QLocalServer;

namespace quorvane {

/// Where the claim on one settings file is kept. Both come from the file that the settings path
/// stands for, never from the environment: every copy that can write the file sees the claim,
/// whatever its runtime folder.
struct InstanceClaim {
    /// The file the settings path stands for now: links followed, made absolute, "." and ".."
    /// gone. A copy keeps to this file, so a link retargeted while it runs takes effect at the
    /// next start.
    std::filesystem::path settingsFile;
    /// ".<file name>.lock" beside that file. The copy that runs holds a kernel lock (flock) on it,
    /// which ends with its process however that ends, and writes its process id and socket name
    /// into it. Absent when the settings file is something the settings store refuses (a device,
    /// a folder): nothing is made beside that.
    std::optional<std::filesystem::path> lockFile{};
    /// A short name in the abstract socket namespace, made from the settings file's path, where
    /// the copy that runs takes hand-overs: no file to leave behind, and no path that could pass
    /// the system's length limit. Taking it is the claim's second half, which holds when the lock
    /// file is deleted, replaced or unusable.
    std::string socketName{};
};

[[nodiscard]] InstanceClaim instanceClaim(const std::filesystem::path& settingsFile);

/// The claim of one process on one settings file. A copy runs only with both the lock and the
/// socket name, or with the socket name alone when the lock file cannot be used. A lock that no
/// running copy holds, whatever the lock file says, never stops a launch.
class SingleInstance final {
public:
    /// How long a later launch waits, by default, for the copy that has the file.
    static constexpr std::chrono::milliseconds defaultHandOverWait{5000};

    /// Claims `settingsFile` for this process unless another running copy has it.
    explicit SingleInstance(const std::filesystem::path& settingsFile);
    ~SingleInstance();

    SingleInstance(const SingleInstance&) = delete;
    SingleInstance& operator=(const SingleInstance&) = delete;

    [[nodiscard]] const InstanceClaim& claim() const { return m_claim; }

    /// Whether another running copy has the file; this one should then hand over and end.
    [[nodiscard]] bool isTakenByAnotherCopy() const { return m_isTakenByAnotherCopy; }

    /// Why the lock file is not used, as a line for the user: a link or something else than a
    /// regular file of this user's, which is left alone, or a file that cannot be opened. Absent
    /// when it is used or when there is none to use.
    [[nodiscard]] const std::optional<std::string>& lockFileProblem() const
    {
        return m_lockFileProblem;
    }

    /// Asks the copy that has the file to open its main window. That copy may not listen yet (it
    /// is starting) or answer any more (it is quitting), so this blocks for up to `wait` until it
    /// answers or lets go of the file, processing this thread's events meanwhile. Returns true
    /// once it answered, false when the file came free and is now this copy's. Throws Error,
    /// naming the process that has the file when that process wrote it into its lock, when
    /// neither happens.
    [[nodiscard]] bool handOver(std::chrono::milliseconds wait = defaultHandOverWait);

    /// From now on calls `openMainWindow` on the main thread for every hand-over to this copy.
    /// Until then hand-overs go unanswered, and the launch that asked asks again.
    void onHandOver(std::function<void()> openMainWindow);

    /// Answers no more hand-overs, for a copy that has begun to quit: a launch it answered would
    /// end too, leaving no copy. The file, and its socket name, stay this copy's until it ends.
    void stopHandOvers();

private:
    [[nodiscard]] bool tryClaim();
    [[nodiscard]] bool listen();
    void answerHandOvers();
    [[nodiscard]] std::vector<std::string> holderSocketNames() const;
    [[nodiscard]] std::string notAnsweringMessage() const;

    std::filesystem::path m_settingsPath; // as the launch named it, for messages
    InstanceClaim m_claim;
    FileDescriptor m_lock; // open for the object's life; locked while the file is this copy's
    std::optional<std::string> m_lockFileProblem;
    std::unique_ptr<QLocalServer> m_server;
    std::function<void()> m_openMainWindow;
    bool m_isTakenByAnotherCopy = false;
};

} // namespace quorvane
