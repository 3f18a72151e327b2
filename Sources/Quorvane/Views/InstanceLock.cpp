#include "Quorvane/Views/InstanceLock.h"

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

/// The lock file at `path` open for reading, with its status, unless it is no regular file.
struct OpenLock {
    FileDescriptor descriptor;
    struct stat status { };
};

std::optional<OpenLock> openForReading(const std::filesystem::path& path)
{
    OpenLock lock{FileDescriptor(
        ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NOCTTY | O_NONBLOCK | O_CLOEXEC))};
    if (!lock.descriptor.isOpen() || ::fstat(lock.descriptor.get(), &lock.status) != 0
        || !S_ISREG(lock.status.st_mode))
        return std::nullopt;
    return lock;
}

bool isLockedByAnother(const OpenLock& lock)
{
    return ::flock(lock.descriptor.get(), LOCK_SH | LOCK_NB) != 0 && errno == EWOULDBLOCK;
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

LockFile openLockFile(const std::filesystem::path& path)
{
    std::error_code ignored; // the open below fails if the folder is still missing
    std::filesystem::create_directories(path.parent_path(), ignored);
    struct stat status { };
    // Looked at before it is opened: opening a device can do something of its own.
    const bool exists = ::lstat(path.c_str(), &status) == 0;
    if (exists) {
        if (std::optional<std::string> reason = unusableLockReason(status))
            return {{}, false, std::move(reason)};
    }
    const bool isOwn = !exists || status.st_uid == ::geteuid();
    FileDescriptor descriptor(::open(path.c_str(),
        (isOwn ? O_RDWR | O_CREAT : O_RDONLY) | O_NOFOLLOW | O_NOCTTY | O_NONBLOCK | O_CLOEXEC,
        0600));
    if (!descriptor.isOpen())
        return {{}, false, errno == ELOOP ? "it is a symbolic link" : systemReason(errno)};
    if (::fstat(descriptor.get(), &status) != 0)
        return {{}, false, systemReason(errno)};
    if (std::optional<std::string> reason = unusableLockReason(status))
        return {{}, false, std::move(reason)};
    if (status.st_uid != ::geteuid())
        return {std::move(descriptor), false, std::nullopt};
    // One made by an earlier version, or by hand, that others may open is narrowed first.
    if ((status.st_mode & 0077) != 0 && ::fchmod(descriptor.get(), 0600) != 0)
        return {{}, false, systemReason(errno)};
    return {std::move(descriptor), true, std::nullopt};
}

std::optional<HolderRecord> holderRecord(const std::filesystem::path& path)
{
    const std::optional<OpenLock> lock = openForReading(path);
    if (!lock || !isLockedByAnother(*lock))
        return std::nullopt;
    std::array<char, 128> bytes{};
    const ssize_t size = ::pread(lock->descriptor.get(), bytes.data(), bytes.size(), 0);
    if (size <= 0)
        return std::nullopt;
    std::optional<HolderRecord> record
        = parseRecord(std::string_view(bytes.data(), static_cast<std::size_t>(size)));
    const std::optional<std::vector<pid_t>> holders = lockHolders(lock->status);
    if (!record || !holders
        || std::ranges::find(*holders, static_cast<pid_t>(record->process)) == holders->end())
        return std::nullopt;
    return record;
}

void writeRecord(int descriptor, std::string_view socketName)
{
    const std::string text = formatInteger(::getpid()) + "\n" + std::string(socketName) + "\n";
    // Written over the old record, then cut to length: a reader never finds the file empty. What
    // could not be written whole goes, as it would name an ended copy.
    const bool isWhole
        = ::pwrite(descriptor, text.data(), text.size(), 0) == static_cast<ssize_t>(text.size());
    [[maybe_unused]] const int cut
        = ::ftruncate(descriptor, isWhole ? static_cast<off_t>(text.size()) : 0);
}

} // namespace quorvane
