// InstanceLock.h: the lock file beside a settings file, and the record that the copy holding it
// writes into it, naming where that copy listens.
#pragma once

#include "Foundation/AtomicFile.h"
#include "Foundation/FileDescriptor.h"

#include <sys/types.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quorvane {

/// A socket name in the abstract namespace made from `text`: a prefix and the start of a hash.
[[nodiscard]] std::string socketNameOf(std::string_view text);

/// Whose processes count as copies that have the settings file.
struct LockUsers {
    std::vector<uid_t> copies;

    [[nodiscard]] bool countsAsCopy(uid_t user) const
    {
        return std::ranges::find(copies, user) != copies.end();
    }
};

/// The lock that a launch took on the lock file, or why it has none.
struct Lock {
    enum class State {
        locked,
        /// by a process of a user whose copies count, or by anyone where the system does not
        /// say who holds it
        heldByCopy,
        /// cannot be used, cannot be locked here, or held by other users' programs alone
        notLocked,
    };
    State state = State::notLocked;
    /// Open, whether locked or not, whenever the file could be opened.
    FileDescriptor descriptor{};
    bool mayWriteRecord = false; // the file is this process's user's
    std::optional<std::string> problem{};
};

/// Locks the lock file at `path`, making it when missing, readable and writable by this user
/// only, in the folder at the path's folder, opened without following a symbolic link on the way
/// (made when missing with FolderCreation::missing): a folder put in its place meanwhile is left
/// alone, and so is one that this process may not trust (breachOfTrust()), which is the problem.
/// Only a regular file with no other name is used. While no copy holds it, one that others may have
/// a way to lock (one others may open, one another user's program holds, or one of another user's
/// in a folder of this user's that no one else may write) is replaced by a new one, made beside it
/// and renamed into place, so that no descriptor opened before reaches the lock. Another user's
/// file that stays is locked as it is, read only, and never written. Never waits.
[[nodiscard]] Lock takeLock(
    const std::filesystem::path& path, const LockUsers& users, FolderCreation folderCreation);

/// Whether the file at `path`, reached without following a symbolic link, is the one
/// `descriptor` has open.
[[nodiscard]] bool isInPlace(const std::filesystem::path& path, int descriptor);

/// What the copy that holds the lock writes into it, for launches that cannot reach it or that
/// reach the file by another path (a bind mount): its process id and its socket name.
struct HolderRecord {
    std::int64_t process = 0;
    std::string socketName;
};

/// The record in the lock at `path`, reached without following a symbolic link on the way,
/// written by the process that holds it. Absent when none holds it, when the holder wrote none (an
/// ended copy's record is stale), or when none can be read or its folder trusted.
[[nodiscard]] std::optional<HolderRecord> holderRecord(const std::filesystem::path& path);

/// Writes this process's record, naming `socketName`, into the lock it holds, unless it is there
/// already.
void writeRecord(int descriptor, std::string_view socketName);

} // namespace quorvane
