#include "Quorvane/Views/InstanceLock.h"

#include "Foundation/AtomicFile.h"
#include "Foundation/FileTrust.h"
#include "Foundation/Format.h"
#include "Quorvane/Views/ClaimQueries.h"

#include <QByteArray>
#include <QCryptographicHash>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <cstddef>
#include <random>
#include <system_error>
#include <vector>

namespace quorvane {
namespace {

/// Socket names are this prefix and the start of a hash in hex.
constexpr std::string_view socketPrefix = "quorvane-";
constexpr std::size_t socketHashLength = 32;

std::string systemReason(int error) { return std::generic_category().message(error); }

/// Why a file with `status` is no lock file to use, since the holder writes into what it locks.
std::optional<std::string> unusableLockReason(const struct stat& status)
{
    if (S_ISLNK(status.st_mode))
        return "it is a symbolic link";
    if (!S_ISREG(status.st_mode))
        return "it is not a regular file";
    if (status.st_nlink > 1)
        return "it has more than one hard link";
    return std::nullopt;
}

bool isSocketName(std::string_view text)
{
    return text.size() == socketPrefix.size() + socketHashLength && text.starts_with(socketPrefix)
        && std::ranges::all_of(text.substr(socketPrefix.size()),
            [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); });
}

/// "<process id>\n<socket name>\n"; absent for anything else, such as what another program left.
std::optional<HolderRecord> parseRecord(std::string_view text)
{
    const std::size_t lineEnd = text.find('\n');
    if (lineEnd == std::string_view::npos || !text.ends_with('\n'))
        return std::nullopt;
    const std::string_view process = text.substr(0, lineEnd);
    const std::string_view socketName = text.substr(lineEnd + 1, text.size() - lineEnd - 2);
    HolderRecord record{.socketName = std::string(socketName)};
    const auto [last, error]
        = std::from_chars(process.data(), process.data() + process.size(), record.process);
    if (error != std::errc() || last != process.data() + process.size() || record.process <= 0
        || !isSocketName(socketName))
        return std::nullopt;
    return record;
}

/// The start of the lock file open at `descriptor`, as far as a record could reach.
std::string recordText(int descriptor)
{
    std::array<char, 128> bytes{};
    const ssize_t size = ::pread(descriptor, bytes.data(), bytes.size(), 0);
    return {bytes.data(), static_cast<std::size_t>(std::max<ssize_t>(size, 0))};
}

/// The folder of the lock file at `path`, reached by the one walk to it, which the settings
/// store's takes too. Not open, with `problem` saying why, when it cannot be reached or trusted.
FileDescriptor openLockFolder(
    const std::filesystem::path& path, FolderCreation creation, std::string& problem)
{
    std::error_code error;
    try {
        FileDescriptor folder = openFolderWithoutLinks(path.parent_path(), creation, error);
        if (error)
            problem = error.message();
        return folder;
    } catch (const UntrustedPathError& breach) {
        problem = describe(breach.breach());
        return {};
    }
}

/// The lock file at `path` open for reading, with its status, unless it is no regular file.
struct OpenLock {
    FileDescriptor descriptor;
    struct stat status { };
};

std::optional<OpenLock> openForReading(const std::filesystem::path& path)
{
    std::string problem;
    const FileDescriptor folder = openLockFolder(path, FolderCreation::none, problem);
    if (!folder.isOpen())
        return std::nullopt;
    OpenLock lock{FileDescriptor(::openat(folder.get(), path.filename().c_str(),
        O_RDONLY | O_NOFOLLOW | O_NOCTTY | O_NONBLOCK | O_CLOEXEC))};
    if (!lock.descriptor.isOpen() || ::fstat(lock.descriptor.get(), &lock.status) != 0
        || !S_ISREG(lock.status.st_mode))
        return std::nullopt;
    return lock;
}

bool isLockedByAnother(const OpenLock& lock)
{
    return ::flock(lock.descriptor.get(), LOCK_SH | LOCK_NB) != 0 && errno == EWOULDBLOCK;
}

/// How often a launch tries again when the lock file changes under it.
constexpr int lockAttempts = 3;

/// Whether a copy holds a lock on the file with `status`.
bool isHeldByCopy(const struct stat& status, const LockUsers& users)
{
    const std::optional<std::vector<pid_t>> holders = lockHolders(status);
    // Where the system does not say who holds it, as before there was a way to ask.
    if (!holders)
        return true;
    return std::ranges::any_of(*holders, [&users](pid_t holder) {
        const std::optional<uid_t> user = userOfProcess(holder);
        return user && users.countsAsCopy(*user);
    });
}

/// The lock file's place: its name in a folder held open, so that a link or another folder put
/// at the folder's path leads nowhere.
struct LockPlace {
    int folder;
    struct stat folderStatus;
    std::string name;
};

/// Whether others may have a way to lock the file with `status` at `place`: others may open it,
/// or it is another user's in a folder of this user's where no one else could have made it (an
/// earlier version's, say). Another user's file in a folder others may write is that user's to
/// keep.
bool isOpenToOthers(const struct stat& status, const LockPlace& place)
{
    const uid_t self = ::geteuid();
    if (status.st_uid == self)
        return (status.st_mode & 0077) != 0;
    return place.folderStatus.st_uid == self && (place.folderStatus.st_mode & S_IWOTH) == 0;
}

/// A new lock file `name` in `folder`; closed when one is there already or cannot be made.
FileDescriptor madeLockFile(int folder, const std::string& name)
{
    return FileDescriptor(::openat(folder, name.c_str(),
        O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_NOCTTY | O_NONBLOCK | O_CLOEXEC, 0600));
}

/// The lock on a new lock file, renamed over the one with `existing` status at `place`. Absent
/// when it cannot be made there.
std::optional<Lock> replacement(const LockPlace& place, const struct stat& existing)
{
    // In a folder with the sticky bit only the file's owner, the folder's or root may rename
    // over it: no file is made for a rename that would fail.
    const uid_t self = ::geteuid();
    if ((place.folderStatus.st_mode & S_ISVTX) != 0 && self != 0 && existing.st_uid != self
        && place.folderStatus.st_uid != self)
        return std::nullopt;
    // A name no one can guess, as mkostemp would make it, but in the folder held open.
    const std::string name = ".quorvane-lock-" + formatInteger(std::random_device{}());
    FileDescriptor descriptor = madeLockFile(place.folder, name);
    if (!descriptor.isOpen())
        return std::nullopt;
    if (::flock(descriptor.get(), LOCK_EX | LOCK_NB) != 0
        || ::renameat(place.folder, name.c_str(), place.folder, place.name.c_str()) != 0) {
        ::unlinkat(place.folder, name.c_str(), 0);
        return std::nullopt;
    }
    return Lock{Lock::State::locked, std::move(descriptor), true};
}

/// Why the lock file cannot be opened, and whose it is when it is not this user's.
std::string openProblem(int error, const struct stat& status)
{
    if (error == ELOOP)
        return "it is a symbolic link";
    if (status.st_uid == ::geteuid())
        return systemReason(error);
    return "it belongs to " + userName(status.st_uid)
        + " and cannot be opened: " + systemReason(error);
}

/// The existing lock file with `status` at `place`: another user's read only, as it is never
/// written.
FileDescriptor openedLockFile(const LockPlace& place, const struct stat& status)
{
    const int access = status.st_uid == ::geteuid() ? O_RDWR : O_RDONLY;
    return FileDescriptor(::openat(
        place.folder, place.name.c_str(), access | O_NOFOLLOW | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
}

/// One try at takeLock(); absent when the file was made meanwhile, to be looked at again.
std::optional<Lock> tryToLock(const LockPlace& place, const LockUsers& users)
{
    struct stat status { };
    // Looked at before it is opened: opening a device can do something of its own.
    const bool exists
        = ::fstatat(place.folder, place.name.c_str(), &status, AT_SYMLINK_NOFOLLOW) == 0;
    if (exists) {
        if (std::optional<std::string> reason = unusableLockReason(status))
            return Lock{.problem = std::move(reason)};
    }
    FileDescriptor descriptor
        = exists ? openedLockFile(place, status) : madeLockFile(place.folder, place.name);
    if (!descriptor.isOpen()) {
        const int error = errno;
        if (!exists)
            return error == EEXIST ? std::nullopt
                                   : std::optional(Lock{.problem = systemReason(error)});
        // An earlier version's lock of root's in this user's folder, say.
        if (isOpenToOthers(status, place) && !isHeldByCopy(status, users)) {
            if (std::optional<Lock> lock = replacement(place, status))
                return lock;
        }
        return Lock{.problem = openProblem(error, status)};
    }
    if (::fstat(descriptor.get(), &status) != 0)
        return Lock{.problem = systemReason(errno)};
    if (std::optional<std::string> reason = unusableLockReason(status))
        return Lock{.problem = std::move(reason)};
    const bool mayWriteRecord = status.st_uid == ::geteuid();
    if (::flock(descriptor.get(), LOCK_EX | LOCK_NB) == 0) {
        // Held by this launch now, so by no copy.
        if (isOpenToOthers(status, place)) {
            if (std::optional<Lock> lock = replacement(place, status))
                return lock;
        }
        return Lock{Lock::State::locked, std::move(descriptor), mayWriteRecord};
    }
    // A file system without locks leaves the names alone to claim the file.
    if (errno != EWOULDBLOCK)
        return Lock{Lock::State::notLocked, std::move(descriptor), mayWriteRecord};
    if (isHeldByCopy(status, users))
        return Lock{Lock::State::heldByCopy, std::move(descriptor), mayWriteRecord};
    // Only other users' programs hold it: they opened it while others could.
    if (std::optional<Lock> lock = replacement(place, status))
        return lock;
    return Lock{Lock::State::notLocked, std::move(descriptor), mayWriteRecord,
        "another user's program holds it"};
}

} // namespace

std::string socketNameOf(std::string_view text)
{
    // Long enough never to meet another file's.
    const QByteArray hash = QCryptographicHash::hash(
        QByteArray(text.data(), static_cast<qsizetype>(text.size())), QCryptographicHash::Sha256)
                                .toHex()
                                .left(static_cast<qsizetype>(socketHashLength));
    return std::string(socketPrefix) + hash.toStdString();
}

Lock takeLock(
    const std::filesystem::path& path, const LockUsers& users, FolderCreation folderCreation)
{
    std::string problem;
    const FileDescriptor folder = openLockFolder(path, folderCreation, problem);
    LockPlace place{.folder = folder.get(), .folderStatus = {}, .name = path.filename().string()};
    if (!folder.isOpen())
        return {.problem = std::move(problem)};
    if (::fstat(folder.get(), &place.folderStatus) != 0)
        return {.problem = systemReason(errno)};
    for (int attempt = 0; attempt < lockAttempts; ++attempt) {
        std::optional<Lock> lock = tryToLock(place, users);
        // Another launch may replace the file between its opening and its locking.
        if (lock
            && (lock->state != Lock::State::locked
                || namesOpenFile(place.folder, place.name, lock->descriptor.get())))
            return std::move(*lock);
    }
    return {.problem = "it is replaced as fast as it is locked"};
}

bool isInPlace(const std::filesystem::path& path, int descriptor)
{
    std::string problem;
    const FileDescriptor folder = openLockFolder(path, FolderCreation::none, problem);
    return folder.isOpen() && namesOpenFile(folder.get(), path.filename().string(), descriptor);
}

std::optional<HolderRecord> holderRecord(const std::filesystem::path& path)
{
    const std::optional<OpenLock> lock = openForReading(path);
    if (!lock || !isLockedByAnother(*lock))
        return std::nullopt;
    std::optional<HolderRecord> record = parseRecord(recordText(lock->descriptor.get()));
    const std::optional<std::vector<pid_t>> holders = lockHolders(lock->status);
    if (!record || !holders
        || std::ranges::find(*holders, static_cast<pid_t>(record->process)) == holders->end())
        return std::nullopt;
    return record;
}

void writeRecord(int descriptor, std::string_view socketName)
{
    const std::string text = formatInteger(::getpid()) + "\n" + std::string(socketName) + "\n";
    // Never written again as it is: a copy that keeps its lock in place watches it.
    if (recordText(descriptor) == text)
        return;
    // Written over the old record, then cut to length: a reader never finds the file empty. What
    // could not be written whole goes, as it would name an ended copy.
    const bool isWhole
        = ::pwrite(descriptor, text.data(), text.size(), 0) == static_cast<ssize_t>(text.size());
    [[maybe_unused]] const int cut
        = ::ftruncate(descriptor, isWhole ? static_cast<off_t>(text.size()) : 0);
}

} // namespace quorvane
