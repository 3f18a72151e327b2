// InstanceLock.h: the lock file beside a settings file, and the record that the copy holding it
// writes into it, naming where that copy listens.
#pragma once

#include "Foundation/FileDescriptor.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace quorvane {

/// A socket name in the abstract namespace made from `text`: a prefix and the start of a hash.
[[nodiscard]] std::string socketNameOf(std::string_view text);

/// A lock file that can be locked, or why it cannot.
struct LockFile {
    FileDescriptor descriptor;
    bool mayWriteRecord = false; // the file is this user's
    std::optional<std::string> problem;
};

/// The lock file, made with its folder when missing (the settings store would make the folder
/// anyway), readable and writable by this user only, so that no other user can hold its lock.
/// Only a regular file with no other name is used. Another user's file is locked as it is, read
/// only, and never written.
[[nodiscard]] LockFile openLockFile(const std::filesystem::path& path);

/// What the copy that holds the lock writes into it, for launches that cannot reach it or that
/// reach the file by another path (a bind mount): its process id and its socket name.
struct HolderRecord {
    std::int64_t process = 0;
    std::string socketName;
};

/// The record in the lock at `path`, written by the process that holds it. Absent when none
/// holds it, when the holder wrote none (an ended copy's record is stale), or when none can be
/// read.
[[nodiscard]] std::optional<HolderRecord> holderRecord(const std::filesystem::path& path);

/// Writes this process's record, naming `socketName`, into the lock it holds.
void writeRecord(int descriptor, std::string_view socketName);

} // namespace quorvane
