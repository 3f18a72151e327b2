#include "QuorvaneCore/SettingsStore.h"

#include "Concurrency/Elsewhere.h"
#include "Concurrency/WorkerThread.h"
#include "Foundation/AtomicFile.h"
#include "Foundation/Error.h"
#include "Foundation/FileDescriptor.h"
#include "Foundation/FileTrust.h"
#include "Foundation/JSON.h"
#include "QuorvaneCore/SettingsCoding.h"
#include "QuorvaneCore/SettingsMigration.h"

#include <nlohmann/json.hpp>

#include <string>
#include <string_view>
#include <system_error>
#include <utility>

namespace quorvane {
namespace {

/// The kit's error, said about the settings file, with the place in it where decoding failed.
JSONDecodingError aboutSettingsFile(const JSONDecodingError& error)
{
    std::string message = "The settings file could not be read. ";
    if (!error.codingPath().empty())
        message += "At " + error.codingPath() + ": ";
    return JSONDecodingError(error.kind(), "", message + error.description());
}

SettingsStore::Version decodeVersion(const JSONValue& value)
{
    return {.schemaVersion = value.object().required("schemaVersion", decodeInteger)};
}

/// Whether the regular file `file`, in the folder open at `folder`, holds exactly `bytes` on disk,
/// so that writing them would change nothing. Anything else there (a link, a FIFO, a device) is
/// neither followed nor waited on: it is written over, and that write reports what is wrong. A
/// file this process may not trust is refused with UntrustedPathError.
bool diskHoldsExactly(int folder, const std::filesystem::path& file, std::string_view bytes)
{
    try {
        return readFileIn(folder, file.filename().string(), file, bytes.size()) == bytes;
    } catch (const FileError&) {
        return false;
    }
}

/// Why a save fails when a link stands where a folder of the settings file was: the store keeps to
/// the folder it started with, and saves nowhere else.
Error linkForFolder(const std::filesystem::path& folder)
{
    return Error("A symbolic link now stands for the settings folder \"" + folder.string()
        + "\" or a folder above it. The last change is not saved, and QuorVane saves nothing "
          "more until it starts again.");
}

/// Why the settings file is not read or saved when someone else may now change it, or a folder
/// on its way: another user's folder made or put in place of one, another user's file at its
/// name.
Error untrusted(const Breach& breach)
{
    return Error("The settings are not read or saved: " + describe(breach)
        + ". QuorVane saves nothing more until it starts again.");
}

/// The settings file's folder, reached by the one walk to it, which the lock file's takes too.
/// Not open, with `error` set, when it cannot be reached. Throws Error when a link or an entry
/// that this process may not trust stands on the way.
FileDescriptor openSettingsFolder(
    const std::filesystem::path& file, FolderCreation creation, std::error_code& error)
{
    try {
        FileDescriptor folder = openFolderWithoutLinks(file.parent_path(), creation, error);
        if (error == std::errc::too_many_symbolic_link_levels)
            throw linkForFolder(file.parent_path());
        return folder;
    } catch (const UntrustedPathError& breach) {
        throw untrusted(breach.breach());
    }
}

} // namespace

SettingsStore::SettingsStore(std::filesystem::path url)
    : m_url(std::move(url))
{
}

Task<Configuration> SettingsStore::load()
{
    const AsyncMutex::ScopedLock operation = co_await m_operation.lock();
    m_isWritable = false; // Only a load that returns a document unlocks the store.
    // Named: g++ 12 destroys a lambda's captures twice when it is a temporary of a co_await.
    auto read = [file = m_url] { return readConfiguration(file); };
    Read done = co_await runElsewhere(std::move(read));
    m_writeCount += done.writes;
    m_isWritable = true;
    co_return std::move(done.configuration);
}

Task<void> SettingsStore::save(Configuration configuration)
{
    const AsyncMutex::ScopedLock operation = co_await m_operation.lock();
    if (!m_isWritable)
        throw ConfigurationError(ConfigurationError::ReadOnly{});
    m_isWritable = false; // A failed write locks the store.
    // Named: g++ 12 destroys a lambda's captures twice when it is a temporary of a co_await.
    auto writeFile
        = [file = m_url, document = std::move(configuration)] { return write(file, document); };
    m_writeCount += co_await runElsewhere(std::move(writeFile));
    m_isWritable = true;
}

SettingsStore::Read SettingsStore::readConfiguration(const std::filesystem::path& file)
{
    std::error_code error;
    const FileDescriptor folder = openSettingsFolder(file, FolderCreation::none, error);
    if (error == std::errc::no_such_file_or_directory)
        return {.configuration = Configuration()};
    if (error)
        throw FileError::reading(file, error);
    std::string bytes;
    try {
        bytes = readFileIn(folder.get(), file.filename().string(), file, maximumFileSize);
    } catch (const FileError& failure) {
        if (failure.reason() != std::errc::no_such_file_or_directory)
            throw;
        return {.configuration = Configuration()};
    } catch (const UntrustedPathError& breach) {
        throw untrusted(breach.breach());
    }
    try {
        return configurationFrom(file, bytes);
    } catch (const JSONDecodingError& error) {
        throw aboutSettingsFile(error);
    }
}

SettingsStore::Read SettingsStore::configurationFrom(
    const std::filesystem::path& file, std::string_view bytes)
{
    // The application may end while a large file is read: then the read is given up, between
    // steps and inside the parse, and the store is left locked.
    const std::stop_token stop = WorkerThread::stopToken();
    const auto stopIfAsked = [&stop] {
        if (stop.stop_requested())
            throw std::system_error(std::make_error_code(std::errc::operation_canceled));
    };
    nlohmann::json document = parseJSON(bytes, stop);
    stopIfAsked();
    const JSONValue root(document);
    const std::int64_t version = decodeVersion(root).schemaVersion;
    switch (version) {
    case 2:
        return rewritten(file, SettingsMigration::version2(std::move(document)));
    case 3:
    case 4:
        return rewritten(file, SettingsMigration::sharedDefaults(std::move(document), version));
    case Configuration::currentSchemaVersion: {
        Configuration configuration = decodeConfiguration(root);
        stopIfAsked();
        configuration.validate();
        return {.configuration = std::move(configuration)};
    }
    default:
        throw ConfigurationError(ConfigurationError::UnsupportedVersion{version});
    }
}

SettingsStore::Read SettingsStore::rewritten(
    const std::filesystem::path& file, Configuration configuration)
{
    const std::size_t writes = write(file, configuration);
    return {.configuration = std::move(configuration), .writes = writes};
}

std::size_t SettingsStore::write(
    const std::filesystem::path& file, const Configuration& configuration)
{
    configuration.validate();
    const std::string bytes = encodeConfigurationText(configuration);
    // One walk to the folder, which every step then works in: nothing on the way is followed.
    std::error_code error;
    const FileDescriptor folder = openSettingsFolder(file, FolderCreation::missing, error);
    if (error)
        throw FileError::writing(file, error);
    const std::string name = file.filename().string();
    std::size_t writes = 0;
    try {
        if (!diskHoldsExactly(folder.get(), file, bytes)) {
            writeFileIn(folder.get(), name, bytes, file);
            writes = 1;
        }
    } catch (const UntrustedPathError& breach) {
        throw untrusted(breach.breach());
    }
    // Saves killed before their rename leave their temporary files behind.
    removeAbandonedTemporaryFilesIn(folder.get(), name);
    return writes;
}

} // namespace quorvane
