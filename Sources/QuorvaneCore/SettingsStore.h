// The settings file: reading it at start-up, migrating older versions, and saving every change
// without ever overwriting a file that could not be read.
#pragma once

#include "Concurrency/AsyncMutex.h"
#include "Concurrency/Task.h"
#include "QuorvaneCore/Configuration.h"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string_view>

namespace quorvane {

/// The one owner of the settings file. It is born locked: only a load() that returns a document
/// unlocks it, and a failed load or save locks it again, after which every save fails with
/// ConfigurationError (readOnly) and the file is never written. So a file that could not be read
/// survives untouched, whatever the application does next.
///
/// Its operations run one at a time, in the order they were asked for, and do their file work
/// (reading, decoding, validating, encoding, writing) away from the executor's thread
/// (runElsewhere), so that a large file keeps nobody waiting; the store must outlive the tasks it
/// returns. Saves are not merged: the caller chains them, and the last one asked for wins.
class SettingsStore final {
public:
    /// The one member read before the rest of the file, so that the version is known before the
    /// rest is understood.
    struct Version {
        std::int64_t schemaVersion;
        bool operator==(const Version&) const = default;
    };

    /// A settings file holds a few kilobytes; anything beyond this is refused unread.
    static constexpr std::uintmax_t maximumFileSize = 16 * 1024 * 1024;

    /// Records the path of the file that loads read and saves replace, as resolvedFile() gave it
    /// at start: no symbolic link is followed on its way. Touches no file.
    explicit SettingsStore(std::filesystem::path url);

    // The store's tasks refer to it.
    SettingsStore(const SettingsStore&) = delete;
    SettingsStore& operator=(const SettingsStore&) = delete;

    [[nodiscard]] const std::filesystem::path& url() const noexcept { return m_url; }

    /// The document to use: the default one when there is no file (nothing is written until the
    /// first save); a file of version 2, 3 or 4 migrated and rewritten; a version-5 file decoded
    /// and validated, and not rewritten. Throws FileError when the file cannot be read, is no
    /// regular file (a device, a FIFO) or is larger than maximumFileSize, JSONDecodingError when it
    /// is not a settings document, and ConfigurationError for another version or an invalid
    /// document, and Error when a link stands for a folder on the way, or someone else may
    /// change that folder or the file; the store is then locked and the file is left as it was.
    [[nodiscard]] Task<Configuration> load();

    /// Validates the document and replaces the file with it atomically, pretty-printed with
    /// sorted keys, creating missing folders; when the regular file at its name already holds
    /// exactly those bytes, it is left alone. The file keeps its mode and is always this user's.
    /// A link put at the file's name is replaced, never read, and one in place of one of its
    /// folders fails the save with an Error that says so: another user's link leads no save
    /// elsewhere. So does a folder on the way, or a file at the name, that someone else may
    /// change (breachOfTrust()): such a save writes nothing. Throws ConfigurationError (readOnly)
    /// while locked, without writing; any other failure (validation, encoding, folders, the
    /// write) locks the store and leaves the file as it was.
    [[nodiscard]] Task<void> save(Configuration configuration);

    /// How many times this store has replaced the file, migrations included.
    [[nodiscard]] std::size_t writeCount() const noexcept { return m_writeCount; }

private:
    /// A document read, and how many times reading it replaced the file (a migration's rewrite).
    struct Read {
        Configuration configuration;
        std::size_t writes = 0;
    };

    // The file work, which runs on another thread: it touches nothing of the store.
    /// The document in `file`, which a migration's rewrite replaces.
    [[nodiscard]] static Read readConfiguration(const std::filesystem::path& file);
    [[nodiscard]] static Read configurationFrom(
        const std::filesystem::path& file, std::string_view bytes);
    /// `configuration` after writing it over the file it was migrated from.
    [[nodiscard]] static Read rewritten(
        const std::filesystem::path& file, Configuration configuration);
    /// How many times it replaced the file: 0 when the file already held the document.
    [[nodiscard]] static std::size_t write(
        const std::filesystem::path& file, const Configuration& configuration);

    std::filesystem::path m_url;
    AsyncMutex m_operation;
    bool m_isWritable = false;
    std::size_t m_writeCount = 0;
};

} // namespace quorvane
