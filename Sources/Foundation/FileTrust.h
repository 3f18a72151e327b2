// FileTrust.h: whom the folders, the links and the file on the way to a file must belong to, so
// that no one else can lead what this process reads and writes there.
#pragma once

#include "Foundation/Error.h"

#include <sys/stat.h>
#include <sys/types.h>

#include <filesystem>
#include <optional>
#include <string>

namespace quorvane {

/// An entry on the way to a file that someone other than this process's user and root may
/// change.
struct Breach {
    enum class Kind { folder, link, file };
    /// Who besides its owner may change it.
    enum class Writers { owner, group, others };

    std::filesystem::path path;
    Kind kind;
    uid_t owner;
    Writers writers;
    bool operator==(const Breach&) const = default;
};

/// Why this process may not trust the entry with `status` at `path`; absent when it may. A folder
/// or a link must be this user's or root's, a regular file this user's; for root, no one else may
/// write a folder (one with the sticky bit aside: what root makes in it stays root's) or the file.
/// Anything else (a device, a FIFO) is left to whoever opens it.
[[nodiscard]] std::optional<Breach> breachOfTrust(
    const std::filesystem::path& path, const struct stat& status);

/// "the folder "P" belongs to bob", or "… belongs to root, but its group may change it".
[[nodiscard]] std::string describe(const Breach& breach);

/// The user's login name, or "user <number>" where the system knows none.
[[nodiscard]] std::string userName(uid_t user);

/// Thrown where a walk to a file meets an entry this process may not trust; nothing was read or
/// written beyond it. The message is describe()'s, as a sentence.
class UntrustedPathError final : public Error {
public:
    explicit UntrustedPathError(Breach breach);

    [[nodiscard]] const Breach& breach() const noexcept { return m_breach; }

private:
    Breach m_breach;
};

/// Throws UntrustedPathError when breachOfTrust() finds one.
void requireTrust(const std::filesystem::path& path, const struct stat& status);

} // namespace quorvane
