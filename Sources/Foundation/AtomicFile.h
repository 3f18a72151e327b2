// Reading whole files, and replacing them so that a reader sees either the old or the new bytes.
#pragma once

#include "Foundation/Error.h"
#include "Foundation/FileDescriptor.h"
#include "Foundation/FileTrust.h"

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <system_error>

namespace quorvane {

/// A file that could not be read or written; the message names the file and the system's reason.
class FileError final : public Error {
public:
    [[nodiscard]] static FileError reading(std::filesystem::path path, std::error_code reason);
    [[nodiscard]] static FileError writing(std::filesystem::path path, std::error_code reason);

    [[nodiscard]] const std::filesystem::path& path() const noexcept { return m_path; }
    [[nodiscard]] std::error_code reason() const noexcept { return m_reason; }

private:
    FileError(std::string message, std::filesystem::path path, std::error_code reason);

    std::filesystem::path m_path;
    std::error_code m_reason;
};

/// The reason given when the path names something other than a regular file (a device, a FIFO,
/// a folder): its message is "not a regular file".
[[nodiscard]] std::error_code notARegularFile();

/// Every byte of the regular file at `path` (symbolic links followed), at most `maximumSize`
/// of them. Throws FileError: for instance no_such_file_or_directory, notARegularFile() for a
/// device or a FIFO (whose opening never blocks), or file_too_large once more than
/// `maximumSize` bytes arrive, whatever size the file claims.
[[nodiscard]] std::string readFile(
    const std::filesystem::path& path, std::uintmax_t maximumSize = UINTMAX_MAX);

/// Replaces the file at `path` with `bytes`: they go to a new file in the target's folder, which
/// is synced to disk and then renamed over the target. A symbolic link at `path` (dangling or
/// not), or in place of one of its folders, is followed, so that its target is replaced and the
/// link stays. The result is this process's, with the mode of the file it replaces; a new file
/// gets the mode of any new file (0666 without the umask's bits). A regular file there that this
/// process may not trust (breachOfTrust()) is refused with UntrustedPathError, before anything is
/// made. On failure throws FileError and leaves the old file as it was, with no temporary file
/// behind. The folder must exist: creating it is the caller's job.
void writeFileAtomically(const std::filesystem::path& path, std::string_view bytes);

/// Removes the temporary files that writes to `path` left in its target's folder when they were
/// killed before renaming: the regular files named as writeFileAtomically() names them whose
/// writer no longer runs, and nothing else. A write under way, in this process or another, keeps
/// its file locked until it is in place, so any number of writers may call this at any time.
/// What cannot be removed stays, unreported: it harms nothing but space.
void removeAbandonedTemporaryFiles(const std::filesystem::path& path);

/// Whether openFolderWithoutLinks() makes the folders that are missing.
enum class FolderCreation { none, missing };

/// `folder`, opened one name at a time so that no symbolic link on the way is followed, only to
/// work on what it holds (O_PATH). With FolderCreation::missing the folders that are not there
/// are made on the way (0777 without the umask's bits). Each folder is judged on the descriptor
/// opened, whether it was there, made here, or made by someone else meanwhile: throws
/// UntrustedPathError at the first one this process may not trust. Not open, with `error` set,
/// when it cannot be opened: too_many_symbolic_link_levels for a link in place of a folder,
/// not_a_directory for anything else that is no folder. For a path resolved once
/// (resolvedFile()), on which any link appeared since.
[[nodiscard]] FileDescriptor openFolderWithoutLinks(
    const std::filesystem::path& folder, FolderCreation creation, std::error_code& error);

/// Whether `name` in the folder open at `folder` names the file open at `descriptor`, and not
/// another file or nothing.
[[nodiscard]] bool namesOpenFile(int folder, const std::string& name, int descriptor);

/// As readFile(), for the file `name` in the folder open at `folder`: a link there is not
/// followed. Throws FileError about `path`, and UntrustedPathError about it for a regular file
/// that this process may not trust.
[[nodiscard]] std::string readFileIn(int folder, const std::string& name,
    const std::filesystem::path& path, std::uintmax_t maximumSize = UINTMAX_MAX);

/// As writeFileAtomically(), for the file `name` in the folder open at `folder`: a link at that
/// name is replaced, not followed. Throws FileError and UntrustedPathError about `path`.
void writeFileIn(
    int folder, const std::string& name, std::string_view bytes, const std::filesystem::path& path);

/// As removeAbandonedTemporaryFiles(), for the writes to `name` in the folder open at `folder`.
void removeAbandonedTemporaryFilesIn(int folder, const std::string& name);

/// ".<file's name><ending>" beside `file`, for a file that belongs to it (a lock, say). Where
/// that name is too long for the folder's file system, the file's name in it is cut short and
/// followed by "~" and a hash of the whole name, so that every name the system allows has one.
[[nodiscard]] std::filesystem::path hiddenSibling(
    const std::filesystem::path& file, std::string_view ending);

/// Where the chain of symbolic links at `path` ends: what a write to `path` replaces. `path`
/// itself when it is no link (or nothing at all). Throws FileError about `path` when the chain
/// loops or cannot be read.
[[nodiscard]] std::filesystem::path linkTarget(const std::filesystem::path& path);

/// The file `path` stands for now, for a program to use from then on: made absolute against the
/// working folder, walked one name at a time from "/" with every symbolic link followed, "." and
/// ".." resolved, as far as the folders exist; what is missing is named as given. Throws
/// UntrustedPathError when a folder or link on the way, or the regular file at its end, is one
/// this process may not trust (breachOfTrust()): a link counts as part of the way. Where links
/// loop or a folder cannot be entered, the rest is named as given, for whoever opens it to report.
[[nodiscard]] std::filesystem::path resolvedFile(const std::filesystem::path& path);

} // namespace quorvane
