#include "Foundation/AtomicFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <cstdint>
#include <random>
#include <string>
#include <utility>

namespace quorvane {
namespace {

std::error_code lastSystemError() { return {errno, std::generic_category()}; }

/// An open file descriptor, closed on destruction.
class FileDescriptor final {
public:
    explicit FileDescriptor(int descriptor)
        : m_descriptor(descriptor)
    {
    }
    ~FileDescriptor()
    {
        if (m_descriptor >= 0)
            ::close(m_descriptor);
    }
    FileDescriptor(FileDescriptor&& other) noexcept
        : m_descriptor(std::exchange(other.m_descriptor, -1))
    {
    }
    FileDescriptor& operator=(FileDescriptor&& other) noexcept
    {
        std::swap(m_descriptor, other.m_descriptor);
        return *this;
    }

    [[nodiscard]] int get() const noexcept { return m_descriptor; }
    [[nodiscard]] bool isOpen() const noexcept { return m_descriptor >= 0; }

    /// Closes now, so that a failure to close can be reported (some file systems report a
    /// failed write only here).
    [[nodiscard]] bool close() noexcept { return ::close(std::exchange(m_descriptor, -1)) == 0; }

private:
    int m_descriptor;
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

// Temporary files are named ".<target's name>.<1 to 16 lower-case hexadecimal digits>.tmp".
constexpr std::string_view temporarySuffix = ".tmp";

std::string temporaryPrefix(const std::filesystem::path& target)
{
    return "." + target.filename().string() + ".";
}

bool isTemporarySiblingName(std::string_view name, const std::filesystem::path& target)
{
    const std::string prefix = temporaryPrefix(target);
    if (!name.starts_with(prefix) || !name.ends_with(temporarySuffix))
        return false;
    const std::string_view number
        = name.substr(prefix.size(), name.size() - prefix.size() - temporarySuffix.size());
    const auto isDigit = [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); };
    return !number.empty() && number.size() <= 16 && std::ranges::all_of(number, isDigit);
}

std::filesystem::path temporarySibling(const std::filesystem::path& target)
{
    thread_local std::mt19937_64 generator{std::random_device{}()};
    std::array<char, 16> suffix{};
    const auto end
        = std::to_chars(suffix.data(), suffix.data() + suffix.size(), generator(), 16).ptr;
    std::string name = temporaryPrefix(target);
    name.append(suffix.data(), end);
    name += temporarySuffix;
    return target.parent_path() / name;
}

/// A new file next to the target that is removed again unless it was renamed into place.
class TemporaryFile final {
public:
    /// Throws FileError about `target` when no file can be created in its folder.
    explicit TemporaryFile(const std::filesystem::path& target)
        : m_target(target)
        , m_descriptor(-1)
    {
        // O_EXCL rather than mkstemp: mkstemp's files are 0600, and the kernel applies the umask
        // to the 0666 given here, as for any new file.
        for (int attempt = 0; attempt < 100; ++attempt) {
            m_path = temporarySibling(target);
            const int descriptor
                = ::open(m_path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
            if (descriptor >= 0) {
                m_descriptor = FileDescriptor(descriptor);
                return;
            }
            if (errno != EEXIST)
                break;
        }
        throw FileError::writing(m_target, lastSystemError());
    }

    ~TemporaryFile()
    {
        if (!m_isInPlace)
            ::unlink(m_path.c_str());
    }
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;

    void writeAndSync(std::string_view bytes)
    {
        if (!writeAll(m_descriptor.get(), bytes) || ::fsync(m_descriptor.get()) != 0
            || !m_descriptor.close())
            throw FileError::writing(m_target, lastSystemError());
    }

    void renameOverTarget()
    {
        if (::rename(m_path.c_str(), m_target.c_str()) != 0)
            throw FileError::writing(m_target, lastSystemError());
        m_isInPlace = true;
    }

private:
    std::filesystem::path m_target;
    std::filesystem::path m_path;
    FileDescriptor m_descriptor;
    bool m_isInPlace = false;
};

std::filesystem::path folderOf(const std::filesystem::path& file)
{
    return file.parent_path().empty() ? "." : file.parent_path();
}

/// Makes the rename itself survive a crash. The new file is complete and in place by now, so a
/// failure here cannot undo the write and is not reported.
void syncFolder(const std::filesystem::path& folder)
{
    const FileDescriptor descriptor(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (descriptor.isOpen())
        ::fsync(descriptor.get());
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

std::string readFile(const std::filesystem::path& path)
{
    const FileDescriptor descriptor(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!descriptor.isOpen())
        throw FileError::reading(path, lastSystemError());
    std::string bytes;
    std::array<char, 65536> chunk;
    for (;;) {
        const ssize_t count = ::read(descriptor.get(), chunk.data(), chunk.size());
        if (count < 0 && errno == EINTR)
            continue;
        if (count < 0)
            throw FileError::reading(path, lastSystemError());
        if (count == 0)
            return bytes;
        bytes.append(chunk.data(), static_cast<std::size_t>(count));
    }
}

void writeFileAtomically(const std::filesystem::path& path, std::string_view bytes)
{
    TemporaryFile file(path);
    file.writeAndSync(bytes);
    file.renameOverTarget();
    syncFolder(folderOf(path));
}

void removeAbandonedTemporaryFiles(const std::filesystem::path& path)
{
    std::error_code error;
    std::filesystem::directory_iterator entry(folderOf(path), error);
    for (; !error && entry != std::filesystem::directory_iterator(); entry.increment(error)) {
        std::error_code ignored;
        if (isTemporarySiblingName(entry->path().filename().string(), path)
            && entry->symlink_status(ignored).type() == std::filesystem::file_type::regular)
            ::unlink(entry->path().c_str());
    }
}

} // namespace quorvane
