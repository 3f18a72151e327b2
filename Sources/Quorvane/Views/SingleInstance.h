// SingleInstance.h: one running copy of the application per settings file. A later launch on the
// same file hands over to the copy that runs: that one opens its main window.
#pragma once

#include <filesystem>
#include <functional>
#include <memory>

class QLocalServer;
class QLockFile;

namespace quorvane {

/// The claim of one process on one settings file, in the user's runtime folder: a lock file
/// decides which copy runs, and a local socket beside it takes the hand-overs. Both are named
/// after the file's resolved path, so a symbolic link and its target are one file. The lock
/// file holds the process's identity, so the lock of a copy that was killed is found stale and
/// taken over.
///
/// When there is no usable runtime folder the claim cannot be made, and the copy runs as if it
/// were the only one.
class SingleInstance final {
public:
    /// Claims `settingsFile` for this process unless another running copy has it.
    explicit SingleInstance(const std::filesystem::path& settingsFile);
    ~SingleInstance();

    SingleInstance(const SingleInstance&) = delete;
    SingleInstance& operator=(const SingleInstance&) = delete;

    /// Whether another running copy has the file; this one should then hand over and end.
    [[nodiscard]] bool isTakenByAnotherCopy() const { return m_isTakenByAnotherCopy; }

    /// Asks the copy that has the file to open its main window, waiting a few seconds for it to
    /// listen (it may be starting). Throws Error when it never answers.
    void handOver() const;

    /// From now on calls `openMainWindow` on the main thread for every hand-over to this copy,
    /// those that came meanwhile first. Does nothing when the file is another copy's.
    void onHandOver(std::function<void()> openMainWindow);

private:
    std::filesystem::path m_settingsFile;
    std::unique_ptr<QLockFile> m_lock;
    std::unique_ptr<QLocalServer> m_server;
    bool m_isTakenByAnotherCopy = false;
};

} // namespace quorvane
