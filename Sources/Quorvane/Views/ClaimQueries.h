// ClaimQueries.h: what the system says about a claim on a file: who holds a lock on it, who
// listens on a socket name, and where the file lies in its file system.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace quorvane {

/// Where `file` lies in its file system, as the device and the path from the file system's own
/// root: the same through every mount of it, also a mount of the file itself whose source a save
/// has since replaced. Absent when the system does not list its mounts.
[[nodiscard]] std::optional<std::string> placeInFileSystem(const std::filesystem::path& file);

/// The processes that hold a lock on the file with `status`, as the system lists them: 0 for a
/// holder it does not name (one whose process ended, or in another PID namespace). Absent when
/// the list cannot be read.
[[nodiscard]] std::optional<std::vector<pid_t>> lockHolders(const struct stat& status);

/// The user a process runs as; absent when it has ended or cannot be seen.
[[nodiscard]] std::optional<uid_t> userOfProcess(pid_t process);

/// The user of the process at the other end of a connected local socket; absent when the system
/// does not say.
[[nodiscard]] std::optional<uid_t> peerUser(int socket);

/// Who listens on `socketName` in the abstract namespace: absent when no one does, or when no one
/// can be asked. Never waits: a listener that lets connections pile up is not one of our copies.
[[nodiscard]] std::optional<uid_t> listenerUser(const std::string& socketName);

} // namespace quorvane
