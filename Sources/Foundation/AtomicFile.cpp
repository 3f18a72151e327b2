#include "Foundation/AtomicFile.h"

#include "Foundation/FileDescriptor.h"
#include "Foundation/FileTrust.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <climits>
#include <cstdint>
#include <deque>
#include <random>
#include <string>
#include <utility>
#include <vector>

namespace quorvane {
namespace {

std::error_code lastSystemError() { return {errno, std::generic_category()}; }

/// Problems with a file that the system reports as success.
class FileProblemCategory final : public std::error_category {
public:
    [[nodiscard]] const char* name() const noexcept override { return "file"; }
    [[nodiscard]] std::string message(int) const override { return "not a regular file"; }
};

/// Writes all of `bytes`, across short writes and interruptions; false on failure, with errno.
bool writeAll(int descriptor, std::string_view bytes)
{
    while (!bytes.empty()) {
        const ssize_t written = ::write(descriptor, bytes.data(), bytes.size());
        if (written < 0 && errno == EINTR)
            continue;
        if (written < 0)
            return false;
        bytes.remove_prefix(static_cast<std::size_t>(written));
    }
    return true;
}

std::filesystem::path folderOf(const std::filesystem::path& file)
{
    return file.parent_path().empty() ? "." : file.parent_path();
}

/// NAME_MAX where the file system does not say.
std::size_t longestNameOr255(long limit)
{
    return limit > 0 ? static_cast<std::size_t>(limit) : 255;
}

/// The longest file name that `folder`'s file system takes.
std::size_t longestNameIn(const std::filesystem::path& folder)
{
    return longestNameOr255(::pathconf(folder.c_str(), _PC_NAME_MAX));
}

std::size_t longestNameIn(int folder)
{
    return longestNameOr255(::fpathconf(folder, _PC_NAME_MAX));
}

/// FNV-1a: the same in every process and every build, since another one's names must be known.
std::uint64_t stableHash(std::string_view text)
{
    std::uint64_t hash = 0xcbf29ce484222325;
    for (const char c : text)
        hash = (hash ^ static_cast<unsigned char>(c)) * 0x100000001b3;
    return hash;
}

/// "." and `name`, cut short where `reservedLength` more characters would pass `longest`, the
/// longest name the folder takes. What is cut is replaced by "~" and a hash of the whole name, so
/// that files whose names begin alike keep apart.
std::string hiddenName(const std::string& name, std::size_t longest, std::size_t reservedLength)
{
    if (1 + name.size() + reservedLength <= longest)
        return "." + name;
    std::array<char, 16> hash{};
    const auto hashEnd
        = std::to_chars(hash.data(), hash.data() + hash.size(), stableHash(name), 16).ptr;
    const std::size_t hashLength = static_cast<std::size_t>(hashEnd - hash.data());
    const std::size_t room = longest - std::min(longest, 2 + hashLength + reservedLength);
    std::size_t kept = std::min(room, name.size());
    // Never in the middle of a UTF-8 character: some file systems refuse broken ones.
    while (kept > 0 && (static_cast<unsigned char>(name[kept]) & 0xC0) == 0x80)
        --kept;
    return "." + name.substr(0, kept) + "~" + std::string(hash.data(), hashLength);
}

// Temporary files are named "<hidden name>.<1 to 16 lower-case hexadecimal digits>.tmp".
constexpr std::string_view temporarySuffix = ".tmp";
constexpr std::size_t longestTemporaryNumber = 16;

/// How the names of the temporary files for the file named `target` in `folder` begin.
std::string temporaryPrefix(const std::string& target, int folder)
{
    const std::size_t reserved = 1 + longestTemporaryNumber + temporarySuffix.size();
    return hiddenName(target, longestNameIn(folder), reserved) + ".";
}

bool isTemporaryName(std::string_view name, std::string_view prefix)
{
    if (!name.starts_with(prefix) || !name.ends_with(temporarySuffix))
        return false;
    const std::string_view number
        = name.substr(prefix.size(), name.size() - prefix.size() - temporarySuffix.size());
    const auto isDigit = [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); };
    return !number.empty() && number.size() <= longestTemporaryNumber
        && std::ranges::all_of(number, isDigit);
}

std::string temporaryName(std::string_view prefix)
{
    thread_local std::mt19937_64 generator{std::random_device{}()};
    std::array<char, longestTemporaryNumber> suffix{};
    const auto end
        = std::to_chars(suffix.data(), suffix.data() + suffix.size(), generator(), 16).ptr;
    std::string name(prefix);
    name.append(suffix.data(), end);
    name += temporarySuffix;
    return name;
}

/// A new file next to the target that is removed again unless it was renamed into place. From
/// its creation until it is in place or removed it is locked (flock), so that another process
/// cleaning up abandoned temporary files can tell it from those of writers that were killed: the
/// kernel releases the lock of a process that dies.
class TemporaryFile final {
public:
    /// In the folder open at `folder`, which stays open while this lives, for its file named
    /// `target`. Throws UntrustedPathError about `path` when the file to replace is one this
    /// process may not trust, and FileError about `path` when no file can be created there, or
    /// when it cannot be given the mode of the file it is to replace.
    TemporaryFile(int folder, std::string target, const std::filesystem::path& path)
        : m_folder(folder)
        , m_target(std::move(target))
        , m_path(path)
        , m_mode(modeOfTarget())
    {
        create();
    }

    ~TemporaryFile()
    {
        if (!m_isInPlace && !m_name.empty())
            ::unlinkat(m_folder, m_name.c_str(), 0);
    }
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;

    void writeAndSync(std::string_view bytes)
    {
        if (!writeAll(m_descriptor.get(), bytes) || ::fsync(m_descriptor.get()) != 0
            || !m_descriptor.close())
            throw FileError::writing(m_path, lastSystemError());
    }

    void renameOverTarget()
    {
        if (::renameat(m_folder, m_name.c_str(), m_folder, m_target.c_str()) != 0)
            throw FileError::writing(m_path, lastSystemError());
        m_isInPlace = true;
    }

private:
    void create()
    {
        const std::string prefix = temporaryPrefix(m_target, m_folder);
        // O_EXCL rather than mkstemp: mkstemp's files are 0600, and the kernel applies the umask
        // to the 0666 given here, as for any new file.
        for (int attempt = 0; attempt < 100; ++attempt) {
            const std::string candidate = temporaryName(prefix);
            FileDescriptor descriptor(::openat(
                m_folder, candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
            if (!descriptor.isOpen() && errno == EEXIST)
                continue;
            if (!descriptor.isOpen())
                break;
            // The lock lives on in a copy of the descriptor, so that closing the written one
            // (which reports late write errors) leaves the file locked until it is in place.
            FileDescriptor lock(::fcntl(descriptor.get(), F_DUPFD_CLOEXEC, 0));
            if (!lock.isOpen()) {
                const std::error_code reason = lastSystemError();
                ::unlinkat(m_folder, candidate.c_str(), 0);
                throw FileError::writing(m_path, reason);
            }
            // Between the creation and the lock another process may have taken the new file for
            // abandoned; it removes it, so this write takes another name. A file system without
            // locks still gets its write.
            const bool isTaken
                = ::flock(lock.get(), LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK;
            if (isTaken || !namesOpenFile(m_folder, candidate, lock.get()))
                continue;
            if (m_mode && ::fchmod(descriptor.get(), *m_mode) != 0) {
                const std::error_code reason = lastSystemError();
                ::unlinkat(m_folder, candidate.c_str(), 0);
                throw FileError::writing(m_path, reason);
            }
            m_name = candidate;
            m_descriptor = std::move(descriptor);
            m_lock = std::move(lock);
            return;
        }
        throw FileError::writing(m_path, lastSystemError());
    }

    /// The mode of the regular file to replace, so that a file kept private stays private; absent
    /// when there is none. The new file is always this process's: a file that someone else may
    /// change is refused here, before anything is made, and never given away.
    [[nodiscard]] std::optional<mode_t> modeOfTarget() const
    {
        struct stat status { };
        if (::fstatat(m_folder, m_target.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0
            || !S_ISREG(status.st_mode))
            return std::nullopt;
        requireTrust(m_path, status);
        return status.st_mode & 07777;
    }

    int m_folder;
    std::string m_target; // the name in the folder
    std::filesystem::path m_path; // as the caller named it, for messages
    std::optional<mode_t> m_mode; // the replaced file's, taken before anything is made
    std::string m_name;
    FileDescriptor m_descriptor;
    FileDescriptor m_lock; // the same open file, locked
    bool m_isInPlace = false;
};

/// Makes the rename itself survive a crash. The new file is complete and in place by now, so a
/// failure here cannot undo the write and is not reported.
void syncFolder(int folder)
{
    const FileDescriptor descriptor(::openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (descriptor.isOpen())
        ::fsync(descriptor.get());
}

/// Removes the regular file `name` in `folder` unless a living writer holds its lock. The lock is
/// held while the file is removed, so that its name cannot change hands meanwhile.
void removeIfAbandoned(int folder, const std::string& name)
{
    const FileDescriptor descriptor(
        ::openat(folder, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    struct stat status { };
    if (!descriptor.isOpen() || ::fstat(descriptor.get(), &status) != 0 || !S_ISREG(status.st_mode))
        return;
    // Renamed into place meanwhile, the file's lock is free but it is no longer temporary.
    if (::flock(descriptor.get(), LOCK_EX | LOCK_NB) == 0
        && namesOpenFile(folder, name, descriptor.get()))
        ::unlinkat(folder, name.c_str(), 0);
}

/// The names of what `folder` holds, "." and ".." aside; none when it cannot be read.
std::vector<std::string> namesIn(int folder)
{
    std::vector<std::string> names;
    const int listed = ::openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR* const entries = listed >= 0 ? ::fdopendir(listed) : nullptr;
    if (!entries) {
        if (listed >= 0)
            ::close(listed);
        return names;
    }
    while (const dirent* entry = ::readdir(entries)) {
        const std::string_view name = entry->d_name;
        if (name != "." && name != "..")
            names.emplace_back(name);
    }
    ::closedir(entries);
    return names;
}

} // namespace

FileError::FileError(std::string message, std::filesystem::path path, std::error_code reason)
    : Error(std::move(message))
    , m_path(std::move(path))
    , m_reason(reason)
{
}

FileError FileError::reading(std::filesystem::path path, std::error_code reason)
{
    std::string message
        = "Could not read the file \"" + path.string() + "\": " + reason.message() + ".";
    return FileError(std::move(message), std::move(path), reason);
}

FileError FileError::writing(std::filesystem::path path, std::error_code reason)
{
    std::string message
        = "Could not save the file \"" + path.string() + "\": " + reason.message() + ".";
    return FileError(std::move(message), std::move(path), reason);
}

std::filesystem::path linkTarget(const std::filesystem::path& path)
{
    std::filesystem::path target = path;
    // The kernel's own limit on links followed while resolving one path: 40 links, then the file.
    for (int hop = 0; hop <= 40; ++hop) {
        struct stat status { };
        if (::lstat(target.c_str(), &status) != 0 || !S_ISLNK(status.st_mode))
            return target;
        std::error_code error;
        const std::filesystem::path link = std::filesystem::read_symlink(target, error);
        if (error)
            throw FileError::writing(path, error);
        target = link.is_absolute() ? link : target.parent_path() / link;
    }
    throw FileError::writing(path, std::make_error_code(std::errc::too_many_symbolic_link_levels));
}

namespace {

/// `name` in the folder open at `folder`, itself opened (O_PATH: no right to read it is needed,
/// and a link is opened, not followed), with its status. Not open, with errno set, when it is
/// missing or out of reach.
struct Entry {
    FileDescriptor descriptor;
    struct stat status { };
};

Entry openEntry(int folder, const std::filesystem::path& name)
{
    Entry entry{FileDescriptor(::openat(folder, name.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC))};
    if (entry.descriptor.isOpen() && ::fstat(entry.descriptor.get(), &entry.status) != 0) {
        const int reason = errno;
        entry.descriptor = FileDescriptor();
        errno = reason;
    }
    return entry;
}

/// What the link open at `link` says; absent when it cannot be read.
std::optional<std::filesystem::path> linkText(const FileDescriptor& link)
{
    std::array<char, PATH_MAX> text{};
    const ssize_t size = ::readlinkat(link.get(), "", text.data(), text.size());
    if (size <= 0 || static_cast<std::size_t>(size) >= text.size())
        return std::nullopt;
    return std::string(text.data(), static_cast<std::size_t>(size));
}

/// `folder` followed by `names`, "." and ".." taken as written.
std::filesystem::path joined(
    std::filesystem::path folder, const std::deque<std::filesystem::path>& names)
{
    for (const std::filesystem::path& name : names)
        folder /= name;
    return folder.lexically_normal();
}

} // namespace

std::filesystem::path resolvedFile(const std::filesystem::path& path)
{
    std::error_code error;
    const std::filesystem::path given = std::filesystem::absolute(path, error).relative_path();
    if (error)
        return path;
    std::deque<std::filesystem::path> names(given.begin(), given.end());
    std::filesystem::path reached = "/";
    Entry current = openEntry(AT_FDCWD, reached);
    if (current.descriptor.isOpen())
        requireTrust(reached, current.status);
    int links = 0;
    while (current.descriptor.isOpen() && !names.empty()) {
        const std::filesystem::path name = names.front();
        if (name.empty() || name == ".") {
            names.pop_front();
            continue;
        }
        Entry next = openEntry(current.descriptor.get(), name);
        if (!next.descriptor.isOpen())
            break; // missing or out of reach: named as given, for whoever opens it to report
        const std::filesystem::path entry = name == ".." ? reached.parent_path() : reached / name;
        const bool isFolder = S_ISDIR(next.status.st_mode);
        if (!isFolder && !S_ISLNK(next.status.st_mode)) {
            if (names.size() == 1) // the file itself
                requireTrust(entry, next.status);
            break;
        }
        requireTrust(entry, next.status);
        names.pop_front();
        if (isFolder) {
            reached = entry;
            current = std::move(next);
            continue;
        }
        const std::optional<std::filesystem::path> target = linkText(next.descriptor);
        // The kernel's own limit on links followed while resolving one path: 40. A loop is left
        // for whoever opens the path to report.
        if (!target || ++links > 40) {
            names.push_front(name);
            break;
        }
        const std::filesystem::path linked = target->relative_path();
        names.insert(names.begin(), linked.begin(), linked.end());
        if (target->is_absolute()) {
            reached = "/";
            current = openEntry(AT_FDCWD, reached);
        }
    }
    return joined(reached, names);
}

std::error_code notARegularFile()
{
    static const FileProblemCategory category;
    return {1, category};
}

namespace {

/// Whether a file is read whoever may change it.
enum class Trust { anyOwner, required };

/// Every byte of the file open at `descriptor`, once it is found to be a regular one (and one this
/// process may trust, when that is required).
std::string readOpenFile(const FileDescriptor& descriptor, const std::filesystem::path& path,
    std::uintmax_t maximumSize, Trust trust)
{
    if (!descriptor.isOpen())
        throw FileError::reading(path, lastSystemError());
    struct stat status { };
    if (::fstat(descriptor.get(), &status) != 0)
        throw FileError::reading(path, lastSystemError());
    if (!S_ISREG(status.st_mode))
        throw FileError::reading(path, notARegularFile());
    if (trust == Trust::required)
        requireTrust(path, status);
    // The size stated by the file system is not trusted: the file may grow while it is read.
    std::string bytes;
    std::array<char, 65536> chunk;
    for (;;) {
        const std::uintmax_t room = maximumSize - bytes.size();
        const std::size_t wanted
            = room < chunk.size() ? static_cast<std::size_t>(room) + 1 : chunk.size();
        const ssize_t count = ::read(descriptor.get(), chunk.data(), wanted);
        if (count < 0 && errno == EINTR)
            continue;
        if (count < 0)
            throw FileError::reading(path, lastSystemError());
        if (count == 0)
            return bytes;
        if (static_cast<std::uintmax_t>(count) > room)
            throw FileError::reading(path, std::make_error_code(std::errc::file_too_large));
        bytes.append(chunk.data(), static_cast<std::size_t>(count));
    }
}

} // namespace

std::string readFile(const std::filesystem::path& path, std::uintmax_t maximumSize)
{
    // Non-blocking, because opening a FIFO waits for a writer that may never come.
    const FileDescriptor descriptor(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    return readOpenFile(descriptor, path, maximumSize, Trust::anyOwner);
}

std::string readFileIn(int folder, const std::string& name, const std::filesystem::path& path,
    std::uintmax_t maximumSize)
{
    const FileDescriptor descriptor(
        ::openat(folder, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    return readOpenFile(descriptor, path, maximumSize, Trust::required);
}

void writeFileAtomically(const std::filesystem::path& path, std::string_view bytes)
{
    const std::filesystem::path target = linkTarget(path);
    const FileDescriptor folder(::open(folderOf(target).c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (!folder.isOpen())
        throw FileError::writing(path, lastSystemError());
    writeFileIn(folder.get(), target.filename().string(), bytes, path);
}

void writeFileIn(
    int folder, const std::string& name, std::string_view bytes, const std::filesystem::path& path)
{
    TemporaryFile file(folder, name, path);
    file.writeAndSync(bytes);
    file.renameOverTarget();
    syncFolder(folder);
}

std::filesystem::path hiddenSibling(const std::filesystem::path& file, std::string_view ending)
{
    const std::string name
        = hiddenName(file.filename().string(), longestNameIn(folderOf(file)), ending.size());
    return file.parent_path() / (name + std::string(ending));
}

void removeAbandonedTemporaryFiles(const std::filesystem::path& path)
{
    std::filesystem::path target;
    try {
        target = linkTarget(path);
    } catch (const FileError&) {
        return; // nothing was written there
    }
    const FileDescriptor folder(::open(folderOf(target).c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (folder.isOpen())
        removeAbandonedTemporaryFilesIn(folder.get(), target.filename().string());
}

void removeAbandonedTemporaryFilesIn(int folder, const std::string& name)
{
    const std::string prefix = temporaryPrefix(name, folder);
    for (const std::string& entry : namesIn(folder)) {
        if (isTemporaryName(entry, prefix))
            removeIfAbandoned(folder, entry);
    }
}

bool namesOpenFile(int folder, const std::string& name, int descriptor)
{
    struct stat named { };
    struct stat opened { };
    return ::fstatat(folder, name.c_str(), &named, AT_SYMLINK_NOFOLLOW) == 0
        && ::fstat(descriptor, &opened) == 0 && named.st_dev == opened.st_dev
        && named.st_ino == opened.st_ino;
}

FileDescriptor openFolderWithoutLinks(
    const std::filesystem::path& folder, FolderCreation creation, std::error_code& error)
{
    std::filesystem::path reached = folder.is_absolute() ? "/" : ".";
    Entry current = openEntry(AT_FDCWD, reached);
    if (!current.descriptor.isOpen()) {
        error = lastSystemError();
        return {};
    }
    requireTrust(reached, current.status);
    for (const std::filesystem::path& name : folder.relative_path()) {
        Entry next = openEntry(current.descriptor.get(), name);
        // One that another user made meanwhile (EEXIST) is looked at as any other.
        if (!next.descriptor.isOpen() && errno == ENOENT && creation == FolderCreation::missing
            && (::mkdirat(current.descriptor.get(), name.c_str(), 0777) == 0 || errno == EEXIST))
            next = openEntry(current.descriptor.get(), name);
        if (!next.descriptor.isOpen()) {
            error = lastSystemError();
            return {};
        }
        if (!S_ISDIR(next.status.st_mode)) {
            error = std::make_error_code(S_ISLNK(next.status.st_mode)
                    ? std::errc::too_many_symbolic_link_levels
                    : std::errc::not_a_directory);
            return {};
        }
        reached /= name;
        requireTrust(reached, next.status);
        current = std::move(next);
    }
    return std::move(current.descriptor);
}

} // namespace quorvane
