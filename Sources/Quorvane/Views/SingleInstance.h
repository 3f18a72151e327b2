// SingleInstance.h: one running copy of the application per settings file. A later launch on the
// same file hands over to the copy that runs: that one opens its main window.
#pragma once

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>

class QDeadlineTimer;
class QLocalServer;

namespace quorvane {

/// Where the claim on one settings file is kept. Both come from the file that the settings path
/// stands for (links followed, so a link and its target are one file), never from the
/// environment: every copy that can write the file sees the claim, whatever its runtime folder.
struct InstanceClaim {
    /// ".<file name>.lock" beside that file. The copy that runs holds a kernel lock (flock) on it,
    /// which ends with its process however that ends, and writes its process id into it.
    std::filesystem::path lockFile;
    /// A short name in the abstract socket namespace, where the copy that runs takes hand-overs:
    /// no file to leave behind, and no path that could pass the system's length limit.
    std::string socketName;
};

[[nodiscard]] InstanceClaim instanceClaim(const std::filesystem::path& settingsFile);

/// The claim of one process on one settings file. A lock that no running copy holds, whatever
/// the lock file says, never stops a launch.
///
/// When the lock file cannot be opened (its folder cannot be written, so neither can the
/// settings), the claim cannot be made, and the copy runs as if it were the only one.
class SingleInstance final {
public:
    /// How long a later launch waits, by default, for the copy that has the file.
    static constexpr std::chrono::milliseconds defaultHandOverWait{5000};

    /// Claims `settingsFile` for this process unless another running copy has it.
    explicit SingleInstance(const std::filesystem::path& settingsFile);
    ~SingleInstance();

    SingleInstance(const SingleInstance&) = delete;
    SingleInstance& operator=(const SingleInstance&) = delete;

    /// Whether another running copy has the file; this one should then hand over and end.
    [[nodiscard]] bool isTakenByAnotherCopy() const { return m_isTakenByAnotherCopy; }

    /// Asks the copy that has the file to open its main window. That copy may not listen yet (it
    /// is starting) or any more (it is quitting), so this blocks for up to `wait` until it answers
    /// or lets go of the file, processing this thread's events meanwhile. Returns true once it
    /// answered, false when the file came free and is now this copy's. Throws Error, naming the
    /// process that has the file when its lock says, when neither happens.
    [[nodiscard]] bool handOver(std::chrono::milliseconds wait = defaultHandOverWait);

    /// From now on calls `openMainWindow` on the main thread for every hand-over to this copy,
    /// those that came meanwhile first. Does nothing when the file is another copy's.
    void onHandOver(std::function<void()> openMainWindow);

    /// Takes no more hand-overs, for a copy that has begun to quit: a launch it answered would
    /// end too, leaving no copy. The file stays this copy's until it ends.
    void stopHandOvers();

private:
    [[nodiscard]] bool tryClaim();
    void listen();
    [[nodiscard]] bool isAnsweredBefore(const QDeadlineTimer& deadline) const;
    [[nodiscard]] std::string notAnsweringMessage() const;

    std::filesystem::path m_settingsFile;
    InstanceClaim m_claim;
    int m_lockDescriptor; // open for the object's life; locked while the file is this copy's
    std::unique_ptr<QLocalServer> m_server;
    bool m_isTakenByAnotherCopy = false;
};

} // namespace quorvane
