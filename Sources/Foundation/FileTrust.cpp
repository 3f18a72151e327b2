#include "Foundation/FileTrust.h"

#include "Foundation/Format.h"

#include <pwd.h>
#include <unistd.h>

#include <array>
#include <utility>

namespace quorvane {
namespace {

Breach::Writers writersOf(const struct stat& status)
{
    if ((status.st_mode & S_IWOTH) != 0)
        return Breach::Writers::others;
    if ((status.st_mode & S_IWGRP) != 0)
        return Breach::Writers::group;
    return Breach::Writers::owner;
}

std::string kindName(Breach::Kind kind)
{
    switch (kind) {
    case Breach::Kind::folder:
        return "folder";
    case Breach::Kind::link:
        return "symbolic link";
    case Breach::Kind::file:
        return "file";
    }
    return "file";
}

} // namespace

std::optional<Breach> breachOfTrust(const std::filesystem::path& path, const struct stat& status)
{
    const uid_t self = ::geteuid();
    Breach breach{.path = path,
        .kind = Breach::Kind::file,
        .owner = status.st_uid,
        .writers = writersOf(status)};
    bool mayOthersWrite = breach.writers != Breach::Writers::owner;
    if (S_ISDIR(status.st_mode)) {
        breach.kind = Breach::Kind::folder;
        mayOthersWrite = mayOthersWrite && (status.st_mode & S_ISVTX) == 0;
    } else if (S_ISLNK(status.st_mode)) {
        breach.kind = Breach::Kind::link;
        mayOthersWrite = false; // no one changes a link: it is replaced, in its folder
    } else if (!S_ISREG(status.st_mode)) {
        return std::nullopt;
    }
    // Root's folders and links are everyone's ground; a file is its user's own.
    const bool isOwnersOwn
        = status.st_uid == self || (status.st_uid == 0 && breach.kind != Breach::Kind::file);
    if (!isOwnersOwn) {
        breach.writers = Breach::Writers::owner;
        return breach;
    }
    if (self == 0 && mayOthersWrite)
        return breach;
    return std::nullopt;
}

std::string describe(const Breach& breach)
{
    std::string text = "the " + kindName(breach.kind) + " \"" + breach.path.string()
        + "\" belongs to " + userName(breach.owner);
    switch (breach.writers) {
    case Breach::Writers::owner:
        return text;
    case Breach::Writers::group:
        return text + ", but its group may change it";
    case Breach::Writers::others:
        return text + ", but others may change it";
    }
    return text;
}

std::string userName(uid_t user)
{
    passwd entry{};
    passwd* found = nullptr;
    std::array<char, 4096> buffer{};
    if (::getpwuid_r(user, &entry, buffer.data(), buffer.size(), &found) != 0 || !found)
        return "user " + formatInteger(user);
    return found->pw_name;
}

UntrustedPathError::UntrustedPathError(Breach breach)
    : Error("T" + describe(breach).substr(1) + ".")
    , m_breach(std::move(breach))
{
}

void requireTrust(const std::filesystem::path& path, const struct stat& status)
{
    if (std::optional<Breach> breach = breachOfTrust(path, status))
        throw UntrustedPathError(std::move(*breach));
}

} // namespace quorvane
