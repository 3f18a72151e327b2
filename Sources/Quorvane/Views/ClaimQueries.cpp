#include "Quorvane/Views/ClaimQueries.h"

#include "Foundation/AtomicFile.h"
#include "Foundation/FileDescriptor.h"
#include "Foundation/Format.h"

#include <sys/socket.h>
#include <sys/sysmacros.h>
#include <sys/un.h>

#include <algorithm>
#include <charconv>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <system_error>

namespace quorvane {
namespace {

template <typename Number> std::optional<Number> parseNumber(std::string_view text, int base = 10)
{
    Number number{};
    const auto [last, error]
        = std::from_chars(text.data(), text.data() + text.size(), number, base);
    if (error != std::errc() || last != text.data() + text.size())
        return std::nullopt;
    return number;
}

/// The pieces of `text` between `separator`s, empty ones left out.
std::vector<std::string_view> piecesOf(std::string_view text, char separator)
{
    std::vector<std::string_view> pieces;
    for (std::size_t start = 0; start < text.size();) {
        const std::size_t end = std::min(text.find(separator, start), text.size());
        if (end > start)
            pieces.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return pieces;
}

std::vector<std::string_view> linesOf(std::string_view text) { return piecesOf(text, '\n'); }
std::vector<std::string_view> wordsOf(std::string_view text) { return piecesOf(text, ' '); }

/// A path field of /proc/self/mountinfo, where space, tab, newline and backslash are written as
/// a backslash and three octal digits.
std::string unescapedMountPath(std::string_view field)
{
    std::string path;
    for (std::size_t index = 0; index < field.size(); ++index) {
        const std::optional<unsigned> code = field[index] == '\\' && index + 3 < field.size()
            ? parseNumber<unsigned>(field.substr(index + 1, 3), 8)
            : std::nullopt;
        if (code) {
            path += static_cast<char>(*code);
            index += 3;
        } else {
            path += field[index];
        }
    }
    return path;
}

/// A mount's root field without the marker that follows a file since deleted: a mount of the
/// settings file itself keeps the old file once a save renames a new one into place, and the
/// copy that saves is found where the file was.
std::string_view withoutDeletedMarker(std::string_view root)
{
    constexpr std::string_view marker = "//deleted";
    if (root.ends_with(marker))
        root.remove_suffix(marker.size());
    return root;
}

bool isWithin(const std::filesystem::path& path, const std::filesystem::path& folder)
{
    return std::mismatch(folder.begin(), folder.end(), path.begin(), path.end()).first
        == folder.end();
}

/// Whether a line of /proc/locks ("1: FLOCK  ADVISORY  WRITE 812 fe:00:1093 0 EOF") is a lock
/// held on the file with `status`; its holder's process id when the system can name it.
std::optional<pid_t> holderInLine(std::string_view line, const struct stat& status)
{
    const std::vector<std::string_view> fields = wordsOf(line);
    // A "->" line is a process waiting for the lock, not holding it.
    if (fields.size() < 6 || fields[1] == "->")
        return std::nullopt;
    const std::string_view file = fields[5];
    const std::size_t firstColon = file.find(':');
    const std::size_t secondColon = file.find(':', firstColon + 1);
    if (secondColon == std::string_view::npos)
        return std::nullopt;
    const auto major = parseNumber<unsigned>(file.substr(0, firstColon), 16);
    const auto minor
        = parseNumber<unsigned>(file.substr(firstColon + 1, secondColon - firstColon - 1), 16);
    const auto inode = parseNumber<std::uint64_t>(file.substr(secondColon + 1));
    if (major != ::major(status.st_dev) || minor != ::minor(status.st_dev)
        || inode != status.st_ino)
        return std::nullopt;
    return parseNumber<pid_t>(fields[4]).value_or(0);
}

} // namespace

std::optional<std::string> placeInFileSystem(const std::filesystem::path& file)
{
    std::string table;
    try {
        table = readFile("/proc/self/mountinfo");
    } catch (const FileError&) {
        return std::nullopt;
    }
    std::optional<std::string> place;
    std::size_t longestMountPoint = 0;
    // "36 35 98:0 /root/in/fs /mount/point options ...": of the mounts that hold the file, the
    // deepest counts, and of those on one point, the last. The file itself may be a mount point.
    for (const std::string_view line : linesOf(table)) {
        const std::vector<std::string_view> fields = wordsOf(line);
        if (fields.size() < 5)
            continue;
        const std::filesystem::path mountPoint = unescapedMountPath(fields[4]);
        const std::size_t length = mountPoint.string().size();
        if (!isWithin(file, mountPoint) || length < longestMountPoint)
            continue;
        longestMountPoint = length;
        const std::filesystem::path root = unescapedMountPath(withoutDeletedMarker(fields[3]));
        const std::filesystem::path inside = file.lexically_relative(mountPoint);
        place = std::string(fields[2]) + " "
            + (inside == "." ? root : root / inside).lexically_normal().string();
    }
    return place;
}

std::optional<std::vector<pid_t>> lockHolders(const struct stat& status)
{
    std::string locks;
    try {
        locks = readFile("/proc/locks");
    } catch (const FileError&) {
        return std::nullopt;
    }
    std::vector<pid_t> holders;
    for (const std::string_view line : linesOf(locks)) {
        if (const std::optional<pid_t> holder = holderInLine(line, status))
            holders.push_back(*holder);
    }
    return holders;
}

std::optional<uid_t> userOfProcess(pid_t process)
{
    struct stat status { };
    if (process <= 0 || ::stat(("/proc/" + formatInteger(process)).c_str(), &status) != 0)
        return std::nullopt;
    return status.st_uid;
}

std::optional<uid_t> peerUser(int socket)
{
    ucred peer{};
    socklen_t size = sizeof peer;
    if (::getsockopt(socket, SOL_SOCKET, SO_PEERCRED, &peer, &size) != 0)
        return std::nullopt;
    return peer.uid;
}

std::optional<uid_t> listenerUser(const std::string& socketName)
{
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path + 1, socketName.data(), socketName.size());
    const auto size
        = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + socketName.size());
    const FileDescriptor connection(
        ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (!connection.isOpen()
        || ::connect(connection.get(), reinterpret_cast<const sockaddr*>(&address), size) != 0)
        return std::nullopt;
    return peerUser(connection.get());
}

} // namespace quorvane
